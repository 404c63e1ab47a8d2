// Helpers of the platform tests: temporary directories, files, scoped environment variables
// and an installation directory settled without a twmain.ini.
#ifndef TW_TESTS_PLATFORM_PLAT_TEST_UTIL_H_
#define TW_TESTS_PLATFORM_PLAT_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "tw/coding.h"

namespace twtest {

// A fresh directory, removed with everything in it. path() is absolute, without symbolic
// links, and ends in "/".
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/twplat.XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    char real[PATH_MAX];
    path_ = std::string(::realpath(pattern.c_str(), real) ? real : pattern.c_str()) + "/";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// Sets (or with null, unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Keeps the current directory across a test that changes it.
class ScopedCwd {
 public:
  ScopedCwd() : old_(std::filesystem::current_path()) {}
  ~ScopedCwd() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }

 private:
  std::filesystem::path old_;
};

// The local time secondsAgo seconds before now as "YYYY-MM-DD hh:mm:ss".
inline std::string LocalTimeAgo(int64_t secondsAgo) {
  time_t when = ::time(nullptr) - static_cast<time_t>(secondsAgo);
  struct tm parts {};
  ::localtime_r(&when, &parts);
  char text[32];
  ::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

inline void WriteFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  ASSERT_TRUE(out.good()) << path;
}

// A text list as stored (count, the lengths, then the bytes of every entry; 16-bit little-endian
// words): what the engine and the control store read from a list stream or item.
inline std::string TextList(const std::vector<std::string>& entries) {
  std::string out(2 + 2 * entries.size(), '\0');
  tw::put_u16(out.data(), static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    tw::put_u16(out.data() + 2 + 2 * i, static_cast<uint16_t>(entries[i].size()));
    out += entries[i];
  }
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Settles the installation directory on dir (ending in "/"): the program "prog" lies there
// and no twmain.ini is on PATH, so the program's directory is taken.
inline void InitAt(const std::string& dir) {
  WriteFile(dir + "prog", "");
  ScopedEnv path("PATH", dir.c_str());
  ASSERT_EQ(TWPlatInit((dir + "prog").c_str()), TWSUCCESS);
  ASSERT_EQ(std::string(TWFileExeDir()), dir);
}

}  // namespace twtest

#endif  // TW_TESTS_PLATFORM_PLAT_TEST_UTIL_H_
