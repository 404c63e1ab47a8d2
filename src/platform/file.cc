// Files, directories and the listing of plug-in files (*.twx) in the installation directory.
//
// Text and binary mode open the same byte stream: the streams are the C library's, and on
// this system they neither drop a CR before LF on reading nor add one on writing. Callers
// reading text that may hold CRLF line ends strip the CR themselves.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform.h"
#include "tw/coding.h"
#include "tw/guard.h"

struct TWFileListContext {
  std::string dir;
  DIR* listing = nullptr;
  TWFileListContext() = default;
  TWFileListContext(const TWFileListContext&) = delete;
  TWFileListContext& operator=(const TWFileListContext&) = delete;
  ~TWFileListContext() {
    if (listing != nullptr) ::closedir(listing);
  }
};

namespace {

// Access by the low four bits; a mode with bits beyond the binary bit is refused. "e" opens the
// descriptor close-on-exec so that programs started later do not inherit it.
const char* access_of(int mode) {
  if ((mode & ~(0xF | TWFILE_BINARY)) != 0) return nullptr;
  switch (mode & 0xF) {
    case 1:
      return "re";
    case 3:
    case 10:
    case 11:
      return "r+e";
    case 6:
      return "we";
    case 7:
      return "w+e";
    case 14:
      return "ae";
    case 15:
      return "a+e";
    default:
      return nullptr;
  }
}

bool is_dir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

constexpr std::string_view kPluginSuffix = ".twx";

// A plug-in file: a name ending in ".twx" (exactly, in lower case) that is not a directory.
bool is_plugin(const std::string& dir, const char* name) {
  std::string_view n(name);
  if (n.size() < kPluginSuffix.size() || n.substr(n.size() - kPluginSuffix.size()) != kPluginSuffix)
    return false;
  struct stat st;
  return ::stat((dir + name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Copies the next plug-in name of the listing; 12290 at its end.
uint32_t next_plugin(TWFileListContext* context, char* name, size_t nameSize) {
  for (;;) {
    struct dirent* entry = ::readdir(context->listing);
    if (entry == nullptr) return TWFAIL_END_OF_DATA;
    if (is_plugin(context->dir, entry->d_name)) {
      tw::copy_bounded(name, nameSize, entry->d_name);
      return TWSUCCESS;
    }
  }
}

}  // namespace

extern "C" {

TW_API FILE* TWFileOpen(const char* path, int mode) {
  return tw::guard_value<FILE*>(nullptr, [&]() -> FILE* {
    const char* access = access_of(mode);
    if (path == nullptr || access == nullptr) return nullptr;
    FILE* file = std::fopen(path, access);
    // A directory opens for reading here, only to fail at the first read: it is no file, and
    // the caller is told so when it opens it, before it has acted on its success.
    struct stat st;
    if (file != nullptr && ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::fclose(file);
      errno = EISDIR;
      return nullptr;
    }
    return file;
  });
}

TW_API int TWFileClose(FILE* file) {
  if (file == nullptr) return EOF;
  return std::fclose(file);
}

TW_API uint32_t TWFileRead(FILE* file, uint32_t count, void* buffer) {
  if (file == nullptr || buffer == nullptr) return 0;
  return static_cast<uint32_t>(std::fread(buffer, 1, count, file));
}

TW_API uint32_t TWFileWrite(FILE* file, uint32_t count, const void* buffer) {
  if (file == nullptr || buffer == nullptr) return 0;
  return static_cast<uint32_t>(std::fwrite(buffer, 1, count, file));
}

// A seek the library refuses (a null file, a position before the start) answers -1.
TW_API long TWFileSeek(FILE* file, int origin, long offset) {
  int whence;
  switch (origin) {
    case TWSEEK_START:
      whence = SEEK_SET;
      break;
    case TWSEEK_CURRENT:
      whence = SEEK_CUR;
      break;
    case TWSEEK_END:
      whence = SEEK_END;
      break;
    default:
      return 0;
  }
  if (file == nullptr || std::fseek(file, offset, whence) != 0) return -1;
  return std::ftell(file);
}

TW_API int TWFileTruncate(FILE* file, long length) {
  if (file == nullptr || length < 0) {
    errno = EINVAL;
    return -1;
  }
  if (std::fflush(file) != 0) return -1;
  int rc;
  do {
    rc = ::ftruncate(::fileno(file), length);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : -1;
}

TW_API int TWFileExist(const char* path) {
  struct stat st;
  return path != nullptr && ::stat(path, &st) == 0 ? 1 : 0;
}

TW_API int TWFileDelete(const char* path) {
  return path != nullptr && ::unlink(path) == 0 ? 1 : 0;
}

TW_API int TWFileGetDir(char* buffer, uint32_t length) {
  return tw::guard_value(0, [&] {
    if (buffer == nullptr || length == 0) return 0;
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) return 0;
    size_t n = std::strlen(cwd.get());
    if (n + 1 > length) return 0;
    std::memcpy(buffer, cwd.get(), n + 1);
    return 1;
  });
}

TW_API int TWFileSetDir(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  return ::chdir(path) == 0 ? 1 : 0;
}

TW_API int TWMkDir(const char* path) {
  return tw::guard_value(0, [&] {
    if (path == nullptr || *path == '\0') return 0;
    std::string p(path);
    // Each prefix that ends before a "/" is one level; the leading "/" of an absolute path
    // is not a level of its own.
    for (size_t slash = p.find('/', 1);; slash = p.find('/', slash + 1)) {
      std::string level = p.substr(0, slash);
      if (!level.empty() && level.back() != '/' && ::mkdir(level.c_str(), 0777) != 0 &&
          !(errno == EEXIST && is_dir(level)))
        return 0;
      if (slash == std::string::npos) break;
    }
    return is_dir(p) ? 1 : 0;
  });
}

TW_API uint32_t TWFileListFirst(const char* pattern, char* name, size_t nameSize,
                                TWFileListContext** context) {
  return tw::guard([&]() -> uint32_t {
    if (pattern == nullptr || std::strcmp(pattern, "*.twx") != 0) return TWFAIL_UNAVAILABLE;
    if (context == nullptr) return TWFAIL_NULL_RESULT;
    if (name == nullptr || nameSize == 0) return TWFAIL_NULL_BUFFER;
    // Without an installation directory there are no plug-ins to list.
    const char* dir = TWFileExeDir();
    if (dir == nullptr || *dir == '\0') return TWFAIL_END_OF_DATA;
    auto listing = std::make_unique<TWFileListContext>();
    listing->dir = dir;
    listing->listing = ::opendir(dir);
    if (listing->listing == nullptr) return errno == ENOMEM ? TWFAIL_MEMORY : TWFAIL_END_OF_DATA;
    if (uint32_t st = next_plugin(listing.get(), name, nameSize)) return st;
    *context = listing.release();
    return TWSUCCESS;
  });
}

TW_API uint32_t TWFileListNext(char* name, size_t nameSize, TWFileListContext* context) {
  return tw::guard([&]() -> uint32_t {
    if (context == nullptr) return TWFAIL_FILELIST_CONTEXT;
    if (name == nullptr || nameSize == 0) return TWFAIL_NULL_BUFFER;
    return next_plugin(context, name, nameSize);
  });
}

TW_API uint32_t TWFileListClose(TWFileListContext* context) {
  if (context == nullptr) return TWFAIL_FILELIST_CONTEXT;
  delete context;
  return TWSUCCESS;
}

}  // extern "C"
