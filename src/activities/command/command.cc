// command.twx: the command activity, which runs its Statement once: on the source link when
// the activity names one, else as an operating-system command that a close request ends.
#include "command_messages.h"
#include "connections.h"
#include "flowcore.h"
#include "flowcore_ptr.h"
#include "platform.h"
#include "twx.h"
#include "twx_plugin.h"

extern "C" int command_load_string(uint32_t id, char* buffer, int size);

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

// A command that ran and ended with a status other than 0: it did run, so the failure is
// told with its status as the command's own code.
uint32_t LogEndedWithStatus(int32_t code) {
  char text[257] = "";
  command_load_string(COMMAND_ENDED_WITH_STATUS, text, sizeof text);
  flowcore::StreamData stream(TWSTREAMFMT_NATIVE);
  if (uint32_t status = stream.Set(TWSTREAMFMT_NATIVE, text)) return TWActivityLog(status);
  return TWActivityLogStream(0, stream.get(), static_cast<uint32_t>(code));
}

uint32_t RunOnLink(const TWStream* statement) {
  flowcore::ConnectPtr source;
  uint32_t status = TWConnectAlloc(flowcore::Out(source), TWTOKENF_SRC, nullptr);
  if (status == TWSUCCESS) status = TWConnectConnect(source.get());
  if (status == TWSUCCESS)
    status = TWConnectExecute(source.get(), statement, TWNULLHANDLE, nullptr);
  // Logged while the connection is open, so that it is told the work ended in error.
  if (status != TWSUCCESS) TWActivityLog(status);
  // The statement's work is committed as the link disconnects.
  return activity::EndConnections(status, {&source});
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
  int32_t code = -1;
  const uint32_t status = TWProcCommandRun(text.c_str(), &CloseRequested, nullptr, &code);
  if (status == TWFAIL_PROCESS_EXEC && code > 0) return LogEndedWithStatus(code);
  if (status != TWSUCCESS) TWActivityLog(status);
  return status;
}

}  // namespace
}  // namespace tw::command

TWX_ACTIVITY(tw::command::kIdentity, tw::command::Launch)
