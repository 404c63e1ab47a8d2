// The private run directory of an installation and the owner locks kept in it.
//
// Owner locks are open-file-description locks (F_OFD_SETLK): like flock they belong to the
// open file, are released when its last descriptor closes (so a crashed owner frees them),
// and conflict between two opens in the same process; unlike flock they can be tested
// (F_OFD_GETLK) without being taken, so asking "is there an owner?" never makes a
// concurrent owner's attempt fail.
//
// The owner lock is byte 0 of the lock file, the ready lock byte 1.
#include "rundir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform.h"

namespace tw {
namespace {

// The longest object name, chosen so that a socket path under /tmp always fits sun_path.
constexpr size_t kMaxName = 32;
constexpr size_t kKeyDigits = 16;
constexpr off_t kOwnerByte = 0;
constexpr off_t kReadyByte = 1;

struct flock WriteLockOn(off_t byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return fl;
}

std::string with_slash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

uint64_t fnv1a(std::string_view text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// The base for run directories: TMPDIR when it is absolute and short enough that every
// socket path below it fits a socket address, else /tmp. Every process of an installation
// must come to the same answer, so nothing but TMPDIR decides.
std::string temp_base() {
  const char* env = std::getenv("TMPDIR");
  std::string base = env != nullptr ? env : "";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  size_t longest = base.size() + std::strlen("/tarnway-") + std::to_string(::geteuid()).size() + 1 +
                   kKeyDigits + 1 + kMaxName + sizeof(".sock");
  if (base.empty() || base[0] != '/' || longest > sizeof(sockaddr_un::sun_path)) return "/tmp";
  return base;
}

// Makes dir (mode 0700) unless it exists, then insists that it is a real directory of this
// user that nobody else may enter.
bool private_dir(const std::string& dir, bool create) {
  if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    return false;
  if ((st.st_mode & 077) != 0) {
    if (!create || ::chmod(dir.c_str(), 0700) != 0) return false;
  }
  return true;
}

}  // namespace

std::string installation_dir() {
  const char* dir = TWFileExeDir();
  if (dir != nullptr && *dir != '\0') return with_slash(dir);
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  return cwd ? with_slash(cwd.get()) : std::string("/");
}

std::string installation_key() {
  std::string dir = installation_dir();
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(dir.c_str(), nullptr), &std::free);
  if (real) dir = with_slash(real.get());
  char key[kKeyDigits + 1];
  std::snprintf(key, sizeof key, "%016llx",
                static_cast<unsigned long long>(fnv1a(std::to_string(::geteuid()) + ":" + dir)));
  return key;
}

std::string run_dir(bool create) {
  std::string top = temp_base() + "/tarnway-" + std::to_string(::geteuid());
  std::string dir = top + "/" + installation_key();
  for (int attempt = 1;; ++attempt) {
    if (private_dir(top, create) && private_dir(dir, create)) return dir + "/";
    // The empty top directory was removed between its making and the installation's.
    if (!create || errno != ENOENT || attempt == kRunDirAttempts) return {};
  }
}

void remove_run_dir() {
  std::string top = temp_base() + "/tarnway-" + std::to_string(::geteuid());
  // rmdir removes only an empty directory, atomically: a file made a moment before keeps
  // it, and one made a moment after finds it gone and makes it again.
  if (::rmdir((top + "/" + installation_key()).c_str()) != 0 && errno != ENOENT) return;
  ::rmdir(top.c_str());
}

bool valid_object_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxName || name[0] == '.') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

int lock_owner(const std::string& path) {
  // The previous owner removes the file while it holds the lock; whoever opened that file
  // just before may then lock a file that no longer has a name. Only a lock on the file
  // that still carries the name counts, so try again on the new one.
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    struct flock fl = WriteLockOn(kOwnerByte);
    if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
      int err = errno;
      ::close(fd);
      errno = (err == EAGAIN || err == EACCES) ? EWOULDBLOCK : err;
      return -1;
    }
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
      return fd;
    ::close(fd);
  }
  errno = EWOULDBLOCK;
  return -1;
}

bool mark_ready(int fd) {
  struct flock fl = WriteLockOn(kReadyByte);
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool ready_lock_held(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct flock fl = WriteLockOn(kReadyByte);
  bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

}  // namespace tw
