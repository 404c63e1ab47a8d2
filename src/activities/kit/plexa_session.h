// What the activities over the Plexa API share: the session of one launch, the text of a
// Plexa failure logged in the activity's log, and required text properties.
#ifndef TW_ACTIVITIES_KIT_PLEXA_SESSION_H_
#define TW_ACTIVITIES_KIT_PLEXA_SESSION_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace tw::activity {

// One Plexa session (_GVInit ... GVTerm) for the life of the object.
class PlexaSession {
 public:
  PlexaSession();
  ~PlexaSession();
  PlexaSession(const PlexaSession&) = delete;
  PlexaSession& operator=(const PlexaSession&) = delete;
  // The status of _GVInit: 0 when the session stands.
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

// The text of Plexa status plexa: the calling thread's last failure text when it is that
// status's (it names what failed), else the status's fixed text.
std::string PlexaErrorText(uint32_t plexa);

// Logs text (Plexa character set) as an external failure of code plexa; answers
// TWFAIL_EXTERNAL.
uint32_t LogPlexaText(std::string_view text, uint32_t plexa);

// The text property token in the Plexa character set into *value. A missing, unreadable or
// empty value logs TWFAIL_MISSING_PROPERTY for token and answers it.
[[nodiscard]] uint32_t RequiredText(uint32_t token, std::string* value);
// The same for an optional property: missing or unreadable gives "".
std::string OptionalText(uint32_t token);

}  // namespace tw::activity

#endif  // TW_ACTIVITIES_KIT_PLEXA_SESSION_H_
