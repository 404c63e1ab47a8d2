// sqlprobe: checks from a console that an ODBC data source can be reached and, on request,
// reports the driver's capabilities to the screen or a file.
#ifndef TW_PROBES_SQLPROBE_SQLPROBE_H_
#define TW_PROBES_SQLPROBE_SQLPROBE_H_

#include <string>
#include <vector>

#include "console.h"

namespace tw::sqlprobe {

inline constexpr char kDefaultReportFile[] = "SQLPROBE.TXT";

// Runs the probe; args (at most three are read) preset the data source, the user id and the
// password. Answers the exit code: 0 when the last attempt connected and, when asked, wrote
// the whole report; else 1.
[[nodiscard]] int Run(probe::Console& console, const std::vector<std::string>& args);

}  // namespace tw::sqlprobe

#endif  // TW_PROBES_SQLPROBE_SQLPROBE_H_
