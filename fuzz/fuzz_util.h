// Helpers shared by the fuzz targets: a check that stops the run with a message (libFuzzer
// keeps the input that tripped it), and a temporary directory removed at exit.
#ifndef TW_FUZZ_FUZZ_UTIL_H_
#define TW_FUZZ_FUZZ_UTIL_H_

#include <limits.h>
#include <sanitizer/common_interface_defs.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace twfuzz {

// Through the sanitizers' report stream, which stays open when libFuzzer closes the
// target's standard error (-close_fd_mask).
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::string text = std::string(file) + ":" + std::to_string(line) + ": check failed: " + what;
  __sanitizer_report_error_summary(text.c_str());
  std::abort();
}

// A fresh directory under TMPDIR (else /tmp), ending in "/", removed with its contents when
// the process exits normally.
inline const std::string& ProcessTempDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/twfuzz.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp", __FILE__, __LINE__);
    char real[PATH_MAX];
    std::string made = std::string(::realpath(pattern.c_str(), real) ? real : pattern.c_str());
    return made + "/";
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
             std::error_code ec;
             std::filesystem::remove_all(dir, ec);
           }) == 0;
  }();
  (void)cleanup;
  return dir;
}

// Text for a C string parameter: the bytes up to the first NUL.
inline std::string CString(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find('\0')));
}

}  // namespace twfuzz

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::twfuzz::Fail(#cond, __FILE__, __LINE__))

#endif  // TW_FUZZ_FUZZ_UTIL_H_
