// The POSIX implementation of Env: the one place the system's file and clock calls live.
#include "env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>
#include <thread>

namespace tw {
namespace {

Env g_posix;
std::atomic<Env*> g_current{&g_posix};

std::string dir_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Env* Env::Default() {
  return g_current.load(std::memory_order_acquire);
}
void Env::Set(Env* env) {
  g_current.store(env ? env : &g_posix, std::memory_order_release);
}

Env::Read Env::ReadFile(const std::string& path, std::string* contents) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Read::missing : Read::failed;
  contents->clear();
  char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return Read::failed;
    }
    if (n == 0) break;
    contents->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return Read::ok;
}

int Env::CreateExclusive(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

bool Env::Write(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool Env::Sync(int fd) {
  return ::fsync(fd) == 0;
}
bool Env::Close(int fd) {
  return ::close(fd) == 0;
}
bool Env::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}
bool Env::Remove(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool Env::SyncDir(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

int Env::Lock(const std::string& path) {
  for (;;) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd);
        return -1;
      }
    }
    // The holder before us may have removed (or replaced) the lock file: a lock on a file
    // that is no longer at path excludes nobody, so take the one that is there now.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) != 0 || (::stat(path.c_str(), &named) != 0 && errno != ENOENT)) {
      int saved = errno;
      ::close(fd);
      errno = saved;
      return -1;
    }
    if (named.st_nlink > 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) return fd;
    ::close(fd);
  }
}

void Env::Unlock(int fd) {
  if (fd < 0) return;
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

int64_t Env::NowMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void Env::SleepMicros(int64_t micros) {
  if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

bool Env::ReplaceFile(const std::string& path, std::string_view data) {
  return ReplaceFileDetailed(path, data) == Replace::ok;
}

Env::Replace Env::ReplaceFileDetailed(const std::string& path, std::string_view data) {
  // The temporary name is unique and created exclusively, so two writers never share one
  // and a stale file of a crashed writer is never reused.
  static std::atomic<uint64_t> counter{0};
  std::random_device rd;
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    tmp = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++) + "." +
          std::to_string(rd() & 0xFFFF);
    fd = CreateExclusive(tmp);
    if (fd < 0 && errno != EEXIST) return Replace::create_failed;
  }
  if (fd < 0) return Replace::create_failed;
  bool ok = Write(fd, data) && Sync(fd);
  ok = Close(fd) && ok;
  if (ok) ok = Rename(tmp, path);
  if (!ok) {
    // A temporary that cannot be removed is left behind; the write failure is the answer.
    (void)Remove(tmp);
    return Replace::write_failed;
  }
  // The rename has replaced the file: a failed directory sync cannot undo that, so it is not
  // answered as a failed replace (whose promise is an untouched old file).
  (void)SyncDir(dir_of(path));
  return Replace::ok;
}

}  // namespace tw
