// The Plexa helpers of the activities (see plexa_session.h).
#include "plexa_session.h"

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "plexapi.h"

namespace tw::activity {

PlexaSession::PlexaSession() : status_(_GVInit(GV_VERSION, 0, 0, 0)) {}

PlexaSession::~PlexaSession() {
  if (status_ == 0) GVTerm(0);
}

std::string PlexaErrorText(uint32_t plexa) {
  char text[GV_ERROR_TEXT_SIZE] = "";
  uint32_t last = 0;
  GVErrorFetch(&last, nullptr, text);
  if (last != plexa || text[0] == '\0') GVErrorGetInfo(plexa, 0, text);
  return text;
}

uint32_t LogPlexaText(std::string_view text, uint32_t plexa) {
  flowcore::StreamData s(TWSTREAMFMT_QMBCS);
  if (s.Set(TWSTREAMFMT_QMBCS, text) != TWSUCCESS) return TWFAIL_EXTERNAL;
  return TWActivityLogStream(0, s.get(), plexa);
}

std::string OptionalText(uint32_t token) {
  flowcore::StreamData s(TWSTREAMFMT_QMBCS);
  if (TWActivityGetPropertyStream(token, TWSTREAMFMT_QMBCS, s.get()) != TWSUCCESS) return {};
  std::string_view text = s.view();
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return std::string(text);
}

uint32_t RequiredText(uint32_t token, std::string* value) {
  *value = OptionalText(token);
  if (!value->empty()) return TWSUCCESS;
  return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, token, 0, 0, nullptr, nullptr, nullptr);
}

}  // namespace tw::activity
