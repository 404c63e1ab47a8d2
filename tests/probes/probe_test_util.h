// Helpers of the probe tests: a console over in-memory streams (scripted answers in, texts
// out), and a probe program of the build run with scripted standard input.
#ifndef TW_TESTS_PROBES_PROBE_TEST_UTIL_H_
#define TW_TESTS_PROBES_PROBE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "process_util.h"

namespace probetest {

// A console whose input is the script and whose output and errors are kept in memory.
class MemConsole {
 public:
  explicit MemConsole(const std::string& script) : script_(script) {
    // fmemopen refuses a buffer of size 0: an empty script is an input at its end already.
    in_ = script_.empty() ? std::fopen("/dev/null", "r")
                          : ::fmemopen(script_.data(), script_.size(), "r");
    out_ = ::open_memstream(&outBuf_, &outLen_);
    err_ = ::open_memstream(&errBuf_, &errLen_);
    EXPECT_TRUE(in_ != nullptr && out_ != nullptr && err_ != nullptr);
    console_.emplace(in_, out_, err_);
  }
  ~MemConsole() {
    for (FILE* f : {in_, out_, err_})
      if (f != nullptr) std::fclose(f);
    std::free(outBuf_);
    std::free(errBuf_);
  }
  MemConsole(const MemConsole&) = delete;
  MemConsole& operator=(const MemConsole&) = delete;

  tw::probe::Console& console() { return *console_; }
  std::string Out() {
    std::fflush(out_);
    return std::string(outBuf_, outLen_);
  }
  std::string Err() {
    std::fflush(err_);
    return std::string(errBuf_, errLen_);
  }

 private:
  std::string script_;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
  FILE* err_ = nullptr;
  char* outBuf_ = nullptr;
  size_t outLen_ = 0;
  char* errBuf_ = nullptr;
  size_t errLen_ = 0;
  std::optional<tw::probe::Console> console_;
};

// Runs the probe program name of the build with args, the environment extra (besides what
// every child inherits; a variable of extra replaces the inherited one), in dir, with input
// as its standard input.
inline twtest::ProcessResult RunProbe(const std::string& name, const std::vector<std::string>& args,
                                      const std::string& input,
                                      const std::vector<std::string>& extra = {},
                                      const std::string& dir = "") {
  std::vector<std::string> argv = {twtest::BuildInstDir() + name};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (const std::string& inherited : twtest::InheritedEnv()) {
    const std::string variable = inherited.substr(0, inherited.find('=') + 1);
    bool replaced = false;
    for (const std::string& e : extra) replaced = replaced || e.rfind(variable, 0) == 0;
    if (!replaced) env.push_back(inherited);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return twtest::RunProgram(argv, env, dir, input, 120000);
}

inline std::string Dashes() {
  return std::string(44, '-');
}

// Whether text matches pattern line by line, where a pattern line "*" stands for any one line.
inline ::testing::AssertionResult LinesMatch(const std::string& pattern, const std::string& text) {
  auto split = [](const std::string& s) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1)
      lines.push_back(s.substr(start, nl - start));
    lines.push_back(s.substr(start));
    return lines;
  };
  const std::vector<std::string> want = split(pattern), got = split(text);
  for (size_t i = 0; i < want.size() || i < got.size(); ++i) {
    if (i >= want.size() || i >= got.size())
      return ::testing::AssertionFailure() << "line " << i + 1 << ": lengths differ\n" << text;
    if (want[i] != "*" && want[i] != got[i])
      return ::testing::AssertionFailure()
             << "line " << i + 1 << ": want \"" << want[i] << "\", got \"" << got[i] << "\"\n"
             << text;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace probetest

#endif  // TW_TESTS_PROBES_PROBE_TEST_UTIL_H_
