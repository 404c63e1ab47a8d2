// Where the benchmarks put what they make: a fresh directory under TMPDIR (or the system's
// temporary directory), so that a busy or small /tmp can be moved aside like the tests do.
#ifndef TW_BENCH_TEMP_DIR_H_
#define TW_BENCH_TEMP_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace bench_temp {

// A new directory whose name starts with prefix, without a trailing separator; empty when
// none could be made.
inline std::string MakeDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace bench_temp

#endif  // TW_BENCH_TEMP_DIR_H_
