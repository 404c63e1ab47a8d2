// The one interface through which the system reaches the operating system for files,
// locks and the clock. Tests replace it to fail the Nth operation or to fix "now".
#ifndef TW_PLATFORM_ENV_H_
#define TW_PLATFORM_ENV_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace tw {

// Exported from flowsys so that tests (and other libraries of the tree) can install and
// wrap the one process-wide Env.
class __attribute__((visibility("default"))) Env {
 public:
  virtual ~Env() = default;

  // The process's environment: the POSIX one unless a test installed another.
  static Env* Default();
  // Installs env for the whole process (null restores the POSIX one); tests only.
  static void Set(Env* env);

  // Files. Descriptors are opened close-on-exec. Functions answer false on failure with
  // errno set.
  enum class Read { ok, missing, failed };
  [[nodiscard]] virtual Read ReadFile(const std::string& path, std::string* contents);
  // Creates path exclusively (it must not exist) for writing; -1 on failure.
  virtual int CreateExclusive(const std::string& path);
  // Opens path for reading; -1 on failure.
  virtual int OpenRead(const std::string& path);
  // Reads at most n bytes into buf: the count, 0 at the end of the file, -1 on failure.
  virtual long ReadSome(int fd, char* buf, size_t n);
  // Copies at most n bytes from in to out at their current offsets, inside the kernel where
  // it can: the count, 0 at the end of in, -1 on failure (errno ENOSPC, EDQUOT or EFBIG when
  // writing failed).
  virtual long CopySome(int in, int out, size_t n);
  [[nodiscard]] virtual bool Write(int fd, std::string_view data);
  [[nodiscard]] virtual bool Sync(int fd);
  [[nodiscard]] virtual bool Close(int fd);
  [[nodiscard]] virtual bool Rename(const std::string& from, const std::string& to);
  [[nodiscard]] virtual bool Remove(const std::string& path);
  [[nodiscard]] virtual bool SyncDir(const std::string& dir);
  // Takes an exclusive advisory lock on path (created when missing), waiting for it; -1
  // on failure. Unlock releases and closes it. The lock is always on the file that is at
  // path when Lock returns, so a holder may remove the lock file before unlocking.
  virtual int Lock(const std::string& path);
  virtual void Unlock(int fd);

  // Clock: microseconds since 1970-01-01 UTC.
  virtual int64_t NowMicros();
  virtual void SleepMicros(int64_t micros);

  // Writes data to a new file beside path (created exclusively), syncs it, renames it over
  // path and syncs the directory: a reader sees the old file or the new one, never a
  // mixture. On failure the old file is untouched and the temporary is removed.
  [[nodiscard]] bool ReplaceFile(const std::string& path, std::string_view data);
  // The same, telling which step failed: the temporary could not be created, or writing,
  // syncing, closing or renaming it failed.
  enum class Replace { ok, create_failed, write_failed };
  [[nodiscard]] Replace ReplaceFileDetailed(const std::string& path, std::string_view data);

  // Copies the file from into a new file beside to, renamed over to when whole: a reader (or
  // a running program) keeps the old file or sees the new one. The copy gets from's
  // permission bits plus owner write, and its access and modification times. A to that is
  // from itself (the same inode, by any spelling) is refused before anything is written. On
  // failure to is untouched, no temporary is left, and errno tells the cause.
  enum class Copy { ok, same_file, open_failed, create_failed, read_failed, write_failed };
  [[nodiscard]] Copy CopyFile(const std::string& from, const std::string& to);
};

// Forwards every call to another Env so that a test overrides only a few.
class __attribute__((visibility("default"))) EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Read ReadFile(const std::string& p, std::string* c) override { return target_->ReadFile(p, c); }
  int CreateExclusive(const std::string& p) override { return target_->CreateExclusive(p); }
  int OpenRead(const std::string& p) override { return target_->OpenRead(p); }
  long ReadSome(int fd, char* b, size_t n) override { return target_->ReadSome(fd, b, n); }
  long CopySome(int in, int out, size_t n) override { return target_->CopySome(in, out, n); }
  bool Write(int fd, std::string_view d) override { return target_->Write(fd, d); }
  bool Sync(int fd) override { return target_->Sync(fd); }
  bool Close(int fd) override { return target_->Close(fd); }
  bool Rename(const std::string& f, const std::string& t) override { return target_->Rename(f, t); }
  bool Remove(const std::string& p) override { return target_->Remove(p); }
  bool SyncDir(const std::string& d) override { return target_->SyncDir(d); }
  int Lock(const std::string& p) override { return target_->Lock(p); }
  void Unlock(int fd) override { target_->Unlock(fd); }
  int64_t NowMicros() override { return target_->NowMicros(); }
  void SleepMicros(int64_t m) override { target_->SleepMicros(m); }

 protected:
  Env* target_;
};

}  // namespace tw

#endif  // TW_PLATFORM_ENV_H_
