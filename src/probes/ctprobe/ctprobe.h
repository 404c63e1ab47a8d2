// ctprobe: checks from a console that a Corvex server accepts a login through the Open Client
// client library (FreeTDS ct-library).
#ifndef TW_PROBES_CTPROBE_CTPROBE_H_
#define TW_PROBES_CTPROBE_CTPROBE_H_

#include <ctpublic.h>

#include <cstddef>
#include <string>

#include "console.h"

namespace tw::ctprobe {

// The longest message text the callbacks keep.
inline constexpr size_t kMessageMax = 256;

// What the message callbacks keep of one attempt: the latest text that counts. The context's
// user data points at it while the probe runs.
struct KeptMessage {
  std::string text;
};

// The callbacks the probe installs. They keep the latest message of their context's
// KeptMessage (a client message of severity 0 and a server message of severity 10 are only
// information and ignored), cut to kMessageMax bytes, and always answer CS_SUCCEED.
CS_RETCODE ClientMessage(CS_CONTEXT* context, CS_CONNECTION* connection, CS_CLIENTMSG* message);
CS_RETCODE ServerMessage(CS_CONTEXT* context, CS_CONNECTION* connection, CS_SERVERMSG* message);

// Runs the probe. Answers the exit code: 0 when the last attempt connected and disconnected,
// else 1.
[[nodiscard]] int Run(probe::Console& console);

}  // namespace tw::ctprobe

#endif  // TW_PROBES_CTPROBE_CTPROBE_H_
