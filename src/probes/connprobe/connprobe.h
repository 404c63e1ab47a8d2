// connprobe: connects to links of the Administrator database through the engine, as a
// running Tarnway server's control store describes them, and optionally lists their
// connectors' properties.
#ifndef TW_PROBES_CONNPROBE_CONNPROBE_H_
#define TW_PROBES_CONNPROBE_CONNPROBE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console.h"

namespace tw::connprobe {

// The name of a field type (TWTYPE_*); "InvalidType" for 0 and for any value a connector
// reports outside the known types.
const char* TypeName(uint32_t type);
// One line of the property list: the name cut or padded to 20 characters, the token, the type.
std::string PropertyLine(std::string_view name, uint32_t token, uint32_t type);

// Runs the probe over argv (argv[0] the program path). Answers the exit code: 0 when every
// link named connected, else 1 (also for a usage error).
[[nodiscard]] int Run(probe::Console& console, const std::vector<std::string>& argv);

}  // namespace tw::connprobe

#endif  // TW_PROBES_CONNPROBE_CONNPROBE_H_
