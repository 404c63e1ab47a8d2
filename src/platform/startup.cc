// Start-up of the platform layer: settles the installation directory from twmain.ini or the
// program's own directory, and searches directory lists held in environment variables.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform.h"
#include "rundir.h"
#include "tw/coding.h"
#include "tw/guard.h"
#include "tw/platstate.h"

namespace {

constexpr size_t kMaxDir = PATH_MAX;
constexpr char kIniName[] = "twmain.ini";

// "" until TWPlatInit succeeds. A fixed array, so the pointer TWFileExeDir hands out stays
// valid for the life of the process, also after TWPlatTerm.
char g_installDir[kMaxDir + 1];

std::string with_slash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool exists_not_dir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool can_open(const std::string& path, int flags) {
  // O_NONBLOCK: a FIFO must not stall the search.
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// A read-only hit must open for reading and refuse to open for writing: that is how a
// running program (ETXTBSY) or a write-protected file is told apart. Opening for writing
// without O_TRUNC changes nothing in the file.
bool acceptable(const std::string& path, bool readOnly) {
  if (!readOnly) return exists_not_dir(path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return can_open(path, O_RDONLY) && !can_open(path, O_WRONLY);
}

// Walks the ";"- or ":"-separated list in environment variable envName; the first directory
// (with "/" added) of at most maxLen characters that holds fileName is the answer.
bool search_list(const char* envName, const char* fileName, bool readOnly, size_t maxLen,
                 std::string* dir) {
  const char* value = std::getenv(envName);
  if (value == nullptr) return false;
  std::string_view rest(value);
  while (!rest.empty()) {
    size_t end = rest.find_first_of(";:");
    std::string_view element = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (element.empty()) continue;
    std::string candidate = with_slash(std::string(element));
    if (candidate.size() > maxLen) continue;
    if (acceptable(candidate + fileName, readOnly)) {
      *dir = std::move(candidate);
      return true;
    }
  }
  return false;
}

// The absolute form of an existing directory, ending in "/"; "" when it cannot be resolved.
std::string absolute_dir(const std::string& dir) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(dir.c_str(), nullptr), &std::free);
  if (!real) return {};
  return with_slash(real.get());
}

std::string current_dir() {
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  return cwd ? with_slash(cwd.get()) : std::string();
}

// The absolute directory of the program (a path holding "/" must exist; a bare name is
// looked up on PATH), or the current directory without a program. With a file name the
// directory must also hold that file.
bool find_exe_dir(const char* file, const char* program, std::string* out) {
  if (file != nullptr && *file == '\0') file = nullptr;
  bool haveProgram = program != nullptr && *program != '\0';
  if (!haveProgram && file == nullptr) return false;
  std::string dir;
  if (!haveProgram) {
    dir = current_dir();
  } else if (std::strchr(program, '/') != nullptr) {
    std::string path(program);
    if (!exists_not_dir(path)) return false;
    dir = absolute_dir(path.substr(0, path.rfind('/') + 1));
  } else {
    std::string found;
    if (!search_list("PATH", program, false, kMaxDir, &found)) return false;
    dir = absolute_dir(found);
  }
  if (dir.empty() || dir.size() > kMaxDir) return false;
  if (file != nullptr && !exists_not_dir(dir + file)) return false;
  *out = std::move(dir);
  return true;
}

uint32_t set_install_dir(const std::string& dir) {
  if (dir.size() > kMaxDir) return TWFAIL_INI_ACCESS;
  std::memcpy(g_installDir, dir.c_str(), dir.size() + 1);
  return TWSUCCESS;
}

}  // namespace

extern "C" {

TW_API uint32_t TWPlatInit(const char* programPath) {
  return tw::guard([&]() -> uint32_t {
    if (g_installDir[0] != '\0') return TWSUCCESS;
    if (uint32_t st = TWPlatSetIntlFormat(nullptr)) return st;

    bool havePath = programPath != nullptr && *programPath != '\0';
    std::string iniDir;
    bool found = havePath && (find_exe_dir(kIniName, programPath, &iniDir) ||
                              search_list("PATH", kIniName, false, kMaxDir, &iniDir));
    if (found || !havePath) {
      // Without a program the file is the one in the current directory; "./" keeps the INI
      // reader from resolving it against the (still empty) installation directory.
      std::string ini = (found ? iniDir : std::string("./")) + kIniName;
      auto value = std::make_unique<char[]>(kMaxDir + 1);
      uint32_t st =
          TWINIGetString("Configuration", "Directory", value.get(), kMaxDir + 1, ini.c_str());
      if (st != TWSUCCESS) return st;
      return set_install_dir(with_slash(value.get()));
    }
    std::string dir;
    if (!find_exe_dir(nullptr, programPath, &dir)) return TWFAIL_INI_ACCESS;
    return set_install_dir(dir);
  });
}

TW_API uint32_t TWPlatTerm(void) {
  // The installation's run directory goes with the last of its processes to end in order.
  if (g_installDir[0] != '\0') tw::remove_run_dir();
  g_installDir[0] = '\0';
  tw::ReleaseIntlFormat();
  return TWSUCCESS;
}

TW_API const char* TWFileExeDir(void) {
  return g_installDir;
}

TW_API int TWFindPath(const char* envName, char* outDir, size_t outSize, const char* fileName,
                      int readOnly) {
  return tw::guard_value(0, [&] {
    if (envName == nullptr || outDir == nullptr || outSize == 0 || fileName == nullptr ||
        *fileName == '\0')
      return 0;
    std::string dir;
    if (!search_list(envName, fileName, readOnly != 0, outSize - 1, &dir)) return 0;
    tw::copy_bounded(outDir, outSize, dir);
    return 1;
  });
}

}  // extern "C"
