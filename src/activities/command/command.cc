// command.twx: the command activity, which runs its Statement once: on the source link when
// the activity names one, else as an operating-system command that a close request ends.
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"
#include "twx.h"
#include "twx_plugin.h"

namespace tw::command {
namespace {

constexpr uint32_t kSrc = TWTOKENF_SRC;
constexpr uint32_t kStatement = 1;

constexpr TWXPropertyDef kProperties[] = {
    TWX_PROPERTY_PREDEF(kSrc | TWTOKEN_SERVER, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(kSrc | TWTOKEN_DATABASE, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(kSrc | TWTOKEN_USERID, TWTYPE_TEXT),
    TWX_PROPERTY_PREDEF(kSrc | TWTOKEN_PASSWORD, TWTYPE_TEXT),
    TWX_PROPERTY(kStatement, TWTYPE_TEXT, "Statement"),
    TWX_PROPERTY_END,
};

constexpr TWXIdentity kIdentity = tw::twx::ActivityIdentity(kProperties);

bool Blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// Asked once a second while an operating-system command runs.
uint32_t CloseRequested(void*) {
  return TWActivityGetCommand();
}

uint32_t RunOnLink(const TWStream* statement) {
  flowcore::ConnectPtr source;
  uint32_t status = TWConnectAlloc(flowcore::Out(source), TWTOKENF_SRC, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(source.get());
  if (status == TWSUCCESS)
    status = TWConnectExecute(source.get(), statement, TWNULLHANDLE, nullptr);
  // Logged while the connection is open, so that it is told the work ended in error.
  if (status != TWSUCCESS) TWActivityLog(status);
  return status;
}

uint32_t Launch() {
  flowcore::StreamData statement(TWSTREAMFMT_NATIVE);
  // Without a statement there is nothing to run: an empty shell command would pass as done.
  if (TWActivityGetPropertyStream(kStatement, TWSTREAMFMT_NATIVE, statement.get()) != TWSUCCESS ||
      Blank(statement.view()))
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, kStatement, 0, 0, nullptr, nullptr, nullptr);
  int32_t link = 0;
  if (TWActivityGetPropertyInt(kSrc | TWTOKEN_LINK, &link) == TWSUCCESS && link != 0)
    return RunOnLink(statement.get());
  const std::string text(statement.view());
  const uint32_t status = TWProcCommandRun(text.c_str(), &CloseRequested, nullptr);
  if (status != TWSUCCESS) TWActivityLog(status);
  return status;
}

}  // namespace
}  // namespace tw::command

TWX_ACTIVITY(tw::command::kIdentity, tw::command::Launch)
