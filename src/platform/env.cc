// The POSIX implementation of Env: the one place the system's file and clock calls live.
#include "env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

int Env::OpenRead(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

long Env::ReadSome(int fd, char* buf, size_t n) {
  for (;;) {
    ssize_t got = ::read(fd, buf, n);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

long Env::CopySome(int in, int out, size_t n) {
  for (;;) {
    ssize_t got = ::copy_file_range(in, nullptr, out, nullptr, n, 0);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    if (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP) return -1;
    break;
  }
  // A file system that cannot copy inside the kernel: through a buffer.
  std::string buf(std::min<size_t>(n, size_t{1} << 20), '\0');
  long got = ReadSome(in, buf.data(), buf.size());
  if (got <= 0) return got;
  if (!Write(out, std::string_view(buf.data(), static_cast<size_t>(got)))) {
    if (errno != ENOSPC && errno != EDQUOT && errno != EFBIG) errno = ENOSPC;
    return -1;
  }
  return got;
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
  // The file keeps who may read it: a private configuration stays private when rewritten.
  struct stat old {};
  bool ok = ::stat(path.c_str(), &old) != 0 || ::fchmod(fd, old.st_mode & 07777) == 0;
  ok = ok && Write(fd, data) && Sync(fd);
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

namespace tw {

Env::Copy Env::CopyFile(const std::string& from, const std::string& to) {
  int in = OpenRead(from);
  if (in < 0) return Copy::open_failed;
  struct stat src {};
  bool regular = ::fstat(in, &src) == 0 && S_ISREG(src.st_mode);
  if (!regular) {
    int saved = S_ISDIR(src.st_mode) ? EISDIR : errno != 0 ? errno : EINVAL;
    Close(in);
    errno = saved;
    return Copy::open_failed;
  }
  // Writing over the source by another spelling of its path would truncate what is read.
  struct stat dst {};
  if (::stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    Close(in);
    errno = EINVAL;
    return Copy::same_file;
  }
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  int out = -1;
  for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
    tmp = to + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    out = CreateExclusive(tmp);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    int saved = errno;
    Close(in);
    errno = saved;
    return Copy::create_failed;
  }
  auto fail = [&](Copy why) {
    int saved = errno;
    Close(in);
    Close(out);
    Remove(tmp);
    errno = saved;
    return why;
  };
  for (;;) {
    long n = CopySome(in, out, size_t{1} << 30);
    if (n < 0)
      return fail(errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? Copy::write_failed
                                                                       : Copy::read_failed);
    if (n == 0) break;
  }
  const struct timespec times[2] = {src.st_atim, src.st_mtim};
  if (::fchmod(out, (src.st_mode & 07777) | S_IWUSR) != 0 || ::futimens(out, times) != 0)
    return fail(Copy::write_failed);
  Close(in);
  if (!Close(out)) {
    int saved = errno;
    Remove(tmp);
    errno = saved;
    return Copy::write_failed;
  }
  if (!Rename(tmp, to)) {
    int saved = errno;
    Remove(tmp);
    errno = saved;
    return Copy::write_failed;
  }
  return Copy::ok;
}

}  // namespace tw
