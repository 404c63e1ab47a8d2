// ordexprobe: checks from a console that an Ordex server answers through the Plexa API.
#ifndef TW_PROBES_ORDEXPROBE_ORDEXPROBE_H_
#define TW_PROBES_ORDEXPROBE_ORDEXPROBE_H_

#include <cstdint>

#include "console.h"

namespace tw::ordexprobe {

// The Plexa API calls the probe makes; tests replace them to reach the API's failures.
struct PlexaCalls {
  uint32_t (*init)(uint32_t version, uint32_t reserved1, uint32_t reserved2, uint32_t reserved3);
  uint32_t (*term)(uint32_t flags);
  uint32_t (*errorFetch)(uint32_t* status, uint32_t* info, char* text);
  uint32_t (*serverGetProperty)(const char* server, uint32_t property, uint32_t* answer);
};
// The library's own calls.
const PlexaCalls& LibraryCalls();

// Runs the probe. Answers the exit code: 0 when the last server asked for answered, else 1
// (also when the API could not start).
[[nodiscard]] int Run(probe::Console& console, const PlexaCalls& plexa = LibraryCalls());

}  // namespace tw::ordexprobe

#endif  // TW_PROBES_ORDEXPROBE_ORDEXPROBE_H_
