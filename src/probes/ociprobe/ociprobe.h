// ociprobe: checks from a console that an Oracle database accepts a log-on through the ORA72
// client library, which it loads and calls by ordinal.
#ifndef TW_PROBES_OCIPROBE_OCIPROBE_H_
#define TW_PROBES_OCIPROBE_OCIPROBE_H_

#include <string>

#include "console.h"
#include "ora72.h"

namespace tw::ociprobe {

// The client calls the probe makes, by their ordinals 97, 275 and 279.
struct OraCalls {
  int (*logon)(OraLda*, OraHda*, const char*, int, const char*, int, int);
  int (*errorText)(OraLda*, int, char*, int);
  int (*logoff)(OraLda*);
};

// Loads the client library and resolves the three calls through its ordinal table; false
// with the reason in error when the library or a call is missing. The library stays loaded.
[[nodiscard]] bool LoadClient(const char* library, OraCalls& calls, std::string& error);

// Runs the probe. Answers the exit code: 0 when the last attempt logged on and off, else 1.
[[nodiscard]] int Run(probe::Console& console, const OraCalls& ora);

}  // namespace tw::ociprobe

#endif  // TW_PROBES_OCIPROBE_OCIPROBE_H_
