// Processes: programs started with posix_spawn and an argument vector (never a shell, but
// for the commands of TWProcCommandRun, which run under a keeper of their own), waited for
// and killed; and the watch a program keeps on the process that started it.
//
// A process is reaped only under its handle's lock, and only after waitid(WNOWAIT) saw it
// end; until then its pid stays a zombie that no other process can take. TWProcProcessKill
// checks under the same lock, so it never signals a pid that has been reaped and maybe
// reused: for a process that has ended it answers 0 and sends nothing. The signal goes
// through a pidfd where the kernel has them.
//
// The child starts with an empty signal mask and default dispositions: TWProcSigHndlrSet
// blocks signals in the parent's threads, and a runner must still die of a plain kill. No
// descriptor but 0, 1 and 2 reaches it. The priority is not applied: it has no defined
// scale, and lowering a runner's nice value without one could starve it (raising needs
// privileges the server does not have); the child runs at the server's priority.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "ipc.h"
#include "platform.h"
#include "process_io.h"
#include "rundir.h"
#include "tw/guard.h"

extern char** environ;

// The parent's pidfd turns readable when it ends; where the kernel has no pidfds the
// parent's end shows as a change of getppid, looked at in short steps.
struct TWProcParentWatch {
  pid_t parent = -1;  // 0 or less: none to watch
  int pidfd = -1;
  int wake = -1;  // eventfd, readable once cancelled
};

struct TWProcProcess {
  pid_t pid = -1;
  int pidfd = -1;  // -1 where the kernel has no pidfds
  std::mutex mu;
  bool reaped = false;
  int32_t exit_code = -1;
};

namespace {

class SpawnAttr {
 public:
  SpawnAttr() {
    ok_ = ::posix_spawnattr_init(&attr_) == 0;
    if (!ok_) return;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
          ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
          ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~SpawnAttr() { ::posix_spawnattr_destroy(&attr_); }
  // A session of its own for the child.
  bool detach() {
    short flags = 0;
    return ::posix_spawnattr_getflags(&attr_, &flags) == 0 &&
           ::posix_spawnattr_setflags(&attr_, flags | POSIX_SPAWN_SETSID) == 0;
  }
  SpawnAttr(const SpawnAttr&) = delete;
  SpawnAttr& operator=(const SpawnAttr&) = delete;
  bool ok() const { return ok_; }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_;
};

class FileActions {
 public:
  FileActions() { ok_ = ::posix_spawn_file_actions_init(&fa_) == 0; }
  // Descriptors that some library opened without close-on-exec stay with us; added after
  // the standard descriptors were set up from theirs.
  bool close_rest() { return ok_ && ::posix_spawn_file_actions_addclosefrom_np(&fa_, 3) == 0; }
  posix_spawn_file_actions_t* get_mutable() { return &fa_; }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&fa_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  bool ok() const { return ok_; }
  const posix_spawn_file_actions_t* get() const { return &fa_; }

 private:
  posix_spawn_file_actions_t fa_;
  bool ok_;
};

// The child's standard descriptors when they are not ours: output and errors appended to
// files. A detached child reads no input (/dev/null) and leads a session
// of its own, so that neither the end of its starter nor a signal to the starter's terminal
// or process group reaches it.
struct StdFiles {
  const std::string* out = nullptr;
  const std::string* err = nullptr;
  bool detached = false;
};

// Starts path with args (args[0] included); the child's pid, or -1.
pid_t spawn(const std::string& path, const std::vector<std::string>& args,
            const StdFiles& files = {}) {
  SpawnAttr attr;
  FileActions actions;
  if (!attr.ok() || !actions.ok()) return -1;
  if (files.detached && !attr.detach()) return -1;
  posix_spawn_file_actions_t* fa = actions.get_mutable();
  if (files.detached && ::posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0) != 0)
    return -1;
  if (files.out != nullptr &&
      ::posix_spawn_file_actions_addopen(fa, 1, files.out->c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600) != 0)
    return -1;
  if (files.err != nullptr &&
      ::posix_spawn_file_actions_addopen(fa, 2, files.err->c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600) != 0)
    return -1;
  if (!actions.close_rest()) return -1;
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (::posix_spawn(&pid, path.c_str(), actions.get(), attr.get(), argv.data(), environ) != 0)
    return -1;
  return pid;
}

// Called directly: glibc's own pidfd header does not declare them for C++.
int pidfd_open(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}
int pidfd_kill(int pidfd) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
}

bool parent_ended(const TWProcParentWatch& w) {
  if (w.parent < 1 || ::getppid() != w.parent) return true;
  if (w.pidfd < 0) return false;
  pollfd p{w.pidfd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Splits a command line at blanks; double quotes group blanks into a word and are dropped
// ("" is an empty word; an unclosed quote runs to the end). When the line begins with the
// installation directory, that directory is taken literally, blanks and all: the callers
// build "<installation directory>program" without quotes.
std::vector<std::string> split_command(std::string_view line, std::string_view keep) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (!keep.empty() && line.substr(i).substr(0, keep.size()) == keep) {
    word.assign(keep);
    in_word = true;
    i += keep.size();
  }
  for (; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && is_blank(c)) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

// Reaps the process if it has ended (or, with block, once it ends); false on a wait error.
// Called with p.mu held.
bool reap(TWProcProcess& p, bool block) {
  if (p.reaped) return true;
  siginfo_t info{};
  int rc;
  do {
    if (p.pidfd >= 0)
      rc = ::waitid(P_PIDFD, static_cast<id_t>(p.pidfd), &info, WEXITED | (block ? 0 : WNOHANG));
    else
      rc = ::waitid(P_PID, static_cast<id_t>(p.pid), &info, WEXITED | (block ? 0 : WNOHANG));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return false;
  if (info.si_pid == 0) return true;  // still running
  p.reaped = true;
  p.exit_code = info.si_code == CLD_EXITED ? info.si_status : -1;
  return true;
}

// Waits until the process has ended, without reaping it.
bool await_end(const TWProcProcess& p) {
  siginfo_t info{};
  int rc;
  do {
    if (p.pidfd >= 0)
      rc = ::waitid(P_PIDFD, static_cast<id_t>(p.pidfd), &info, WEXITED | WNOWAIT);
    else
      rc = ::waitid(P_PID, static_cast<id_t>(p.pid), &info, WEXITED | WNOWAIT);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

uint32_t shell_exec(const char* commandLine, const StdFiles& files, TWProcProcess** process) {
  if (commandLine == nullptr || process == nullptr) return TWFAIL_PROCESS_EXEC;
  std::string dir = tw::installation_dir();
  std::vector<std::string> args = split_command(commandLine, dir);
  if (args.empty() || args[0].empty()) return TWFAIL_PROCESS_EXEC;
  // The program gets its full path as argv[0]: a runner finds its installation from it.
  if (args[0].find('/') == std::string::npos) args[0] = dir + args[0];
  auto handle = std::make_unique<TWProcProcess>();
  handle->pid = spawn(args[0], args, files);
  if (handle->pid < 0) return TWFAIL_PROCESS_EXEC;
  // Safe against reuse: the child cannot be reaped before this handle waits for it.
  handle->pidfd = pidfd_open(handle->pid);
  *process = handle.release();
  return TWSUCCESS;
}

// ---- commands
//
// A command runs under a keeper: a process forked from the caller that starts the shell as
// the leader of a process group of its own and waits for it. The keeper dies with the caller
// (PR_SET_PDEATHSIG) and, as when the caller asks it to stop (SIGTERM), kills the whole group
// first, so that neither a close nor a killed caller leaves the command or its children
// running. Between fork and _exit the keeper and the shell make only system calls: the caller
// may have other threads.

// The keeper's exit codes of its own (the shell's code is passed on otherwise).
constexpr int kShellNotStarted = 127;
constexpr int kKeeperStopped = 126;

void close_inherited_descriptors() {
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) == 0) return;
  for (int fd = 3; fd < 4096; ++fd) ::close(fd);
}

[[noreturn]] void keep_command(pid_t caller, char* const* argv) {
  sigset_t awaited;
  sigemptyset(&awaited);
  sigaddset(&awaited, SIGCHLD);
  sigaddset(&awaited, SIGTERM);
  ::sigprocmask(SIG_SETMASK, &awaited, nullptr);
  ::signal(SIGCHLD, SIG_DFL);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The caller may have died before the request took hold.
  if (::getppid() != caller) ::_exit(kKeeperStopped);
  close_inherited_descriptors();
  const pid_t shell = ::fork();
  if (shell < 0) ::_exit(kShellNotStarted);
  if (shell == 0) {
    ::setpgid(0, 0);
    // Should the keeper itself be killed outright, the shell goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve("/bin/sh", argv, environ);
    ::_exit(kShellNotStarted);
  }
  // Set on both sides: a stop that comes before the shell's own call must still find the group.
  ::setpgid(shell, shell);
  for (;;) {
    siginfo_t info{};
    const int sig = ::sigwaitinfo(&awaited, &info);
    if (sig == SIGTERM) {
      ::kill(-shell, SIGKILL);
      ::waitid(P_PID, static_cast<id_t>(shell), &info, WEXITED);
      ::_exit(kKeeperStopped);
    }
    if (sig != SIGCHLD) continue;
    siginfo_t ended{};
    if (::waitid(P_PID, static_cast<id_t>(shell), &ended, WEXITED | WNOHANG) == 0 &&
        ended.si_pid == shell)
      // A signal's end is told as a shell tells it of its own commands.
      ::_exit(ended.si_code == CLD_EXITED ? ended.si_status : 128 + (ended.si_status & 0x7F));
  }
}

// Waits at most about a second for the keeper's end; reaps it then, its exit code in *code.
bool keeper_ended(pid_t keeper, int pidfd, int* code) {
  auto reaped = [&] {
    siginfo_t info{};
    int rc;
    do {
      rc = ::waitid(P_PID, static_cast<id_t>(keeper), &info, WEXITED | WNOHANG);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      *code = -1;  // lost: nothing left to wait for
      return true;
    }
    if (info.si_pid != keeper) return false;
    *code = info.si_code == CLD_EXITED ? info.si_status : -1;
    return true;
  };
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    if (::poll(&p, 1, 1000) < 0 && errno != EINTR) return reaped();
    return reaped();
  }
  for (int step = 0; step < 10; ++step) {
    if (reaped()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return reaped();
}

uint32_t run_command(const char* text, TWProcCommandCheck check, void* user, int32_t* exitCode) {
  std::string body(text);
  char sh[] = "sh";
  char dashC[] = "-c";
  char* argv[] = {sh, dashC, body.data(), nullptr};
  const pid_t caller = ::getpid();
  const pid_t keeper = ::fork();
  if (keeper < 0) return TWFAIL_PROCESS_EXEC;
  if (keeper == 0) keep_command(caller, argv);
  const int pidfd = pidfd_open(keeper);
  uint32_t stopped = TWSUCCESS;
  int code = -1;
  while (!keeper_ended(keeper, pidfd, &code)) {
    if (check == nullptr || stopped != TWSUCCESS) continue;
    stopped = check(user);
    if (stopped != TWSUCCESS) ::kill(keeper, SIGTERM);
  }
  if (pidfd >= 0) ::close(pidfd);
  if (stopped != TWSUCCESS) return stopped;
  if (exitCode != nullptr) *exitCode = code;
  return code == 0 ? TWSUCCESS : TWFAIL_PROCESS_EXEC;
}

}  // namespace

namespace tw {

uint32_t ShellExecDetached(const char* commandLine, const std::string& outPath,
                           const std::string& errPath, TWProcProcess** process) {
  return tw::guard([&]() -> uint32_t {
    StdFiles files{&outPath, &errPath, true};
    return shell_exec(commandLine, files, process);
  });
}

}  // namespace tw

extern "C" {

TW_API uint32_t TWProcShellExec(const char* commandLine, TWProcProcess** process, int32_t priority,
                                uint32_t flags) {
  return tw::guard([&]() -> uint32_t { return shell_exec(commandLine, {}, process); });
}

TW_API uint32_t TWProcSpawn(const char* path, const char* const* argv, TWProcProcess** process) {
  return tw::guard([&]() -> uint32_t {
    if (path == nullptr || *path == '\0' || argv == nullptr || argv[0] == nullptr ||
        process == nullptr)
      return TWFAIL_PROCESS_EXEC;
    std::vector<std::string> args;
    for (const char* const* a = argv; *a != nullptr; ++a) args.emplace_back(*a);
    auto handle = std::make_unique<TWProcProcess>();
    handle->pid = spawn(path, args);
    if (handle->pid < 0) return TWFAIL_PROCESS_EXEC;
    handle->pidfd = pidfd_open(handle->pid);
    *process = handle.release();
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcProcessWait(TWProcProcess* process) {
  return tw::guard([&]() -> uint32_t {
    if (process == nullptr) return TWFAIL_PROCESS_WAIT;
    {
      std::lock_guard<std::mutex> lock(process->mu);
      if (process->reaped) return TWSUCCESS;
    }
    // Fails with ECHILD when another call reaped it meanwhile; the lock tells.
    bool ended = await_end(*process);
    std::lock_guard<std::mutex> lock(process->mu);
    if (!process->reaped && (!ended || !reap(*process, false) || !process->reaped))
      return TWFAIL_PROCESS_WAIT;
    return TWSUCCESS;
  });
}

TW_API int32_t TWProcProcessExitCode(TWProcProcess* process) {
  return tw::guard_value<int32_t>(-1, [&] {
    if (process == nullptr) return -1;
    std::lock_guard<std::mutex> lock(process->mu);
    reap(*process, false);
    return process->reaped ? process->exit_code : -1;
  });
}

TW_API uint32_t TWProcProcessKill(TWProcProcess* process) {
  return tw::guard([&]() -> uint32_t {
    if (process == nullptr) return TWFAIL_PROCESS_KILL;
    std::lock_guard<std::mutex> lock(process->mu);
    if (process->reaped) return TWSUCCESS;
    int rc = process->pidfd >= 0 ? pidfd_kill(process->pidfd) : ::kill(process->pid, SIGKILL);
    // An ended process that is not reaped yet (a zombie) takes the signal without effect.
    if (rc != 0 && errno != ESRCH) return TWFAIL_PROCESS_KILL;
    return TWSUCCESS;
  });
}

// A process that was not waited for is reaped by a detached thread when it ends, so it
// never lingers as a zombie.
TW_API void TWProcProcessFree(TWProcProcess* process) {
  // A free has no one to tell of a failure; the guard only keeps exceptions in.
  (void)tw::guard([&] {
    if (process == nullptr) return TWSUCCESS;
    std::unique_ptr<TWProcProcess> handle(process);
    bool reaped;
    {
      std::lock_guard<std::mutex> lock(handle->mu);
      reaped = handle->reaped || (reap(*handle, false) && handle->reaped);
    }
    if (reaped) {
      if (handle->pidfd >= 0) ::close(handle->pidfd);
      return TWSUCCESS;
    }
    std::shared_ptr<TWProcProcess> owned(std::move(handle));
    try {
      std::thread([owned] {
        std::lock_guard<std::mutex> lock(owned->mu);
        reap(*owned, true);
        if (owned->pidfd >= 0) ::close(owned->pidfd);
      }).detach();
    } catch (const std::system_error&) {
      // No thread: the zombie stays until this process ends.
      if (owned->pidfd >= 0) ::close(owned->pidfd);
    }
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcParentWatchOpen(TWProcParentWatch** watch) {
  return tw::guard([&]() -> uint32_t {
    if (watch == nullptr) return TWFAIL_PROCESS_WAIT;
    auto w = std::make_unique<TWProcParentWatch>();
    w->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->wake < 0) return TWFAIL_PROCESS_WAIT;
    // A parent of pid 1 is watched as any other: a server that is the first process of its
    // own process namespace (a container's) is its runners' parent 1, and taking that for an
    // orphan's init would close each of their runs at once. A process orphaned before its
    // watch opened is then watched on init, its run left to the server side's checks.
    w->parent = ::getppid();
    w->pidfd = pidfd_open(w->parent);
    // The parent may have ended before the pidfd was made, and its pid been taken since:
    // the pidfd names our parent only while getppid still answers the same.
    if (w->pidfd >= 0 && ::getppid() != w->parent) {
      ::close(w->pidfd);
      w->pidfd = -1;
      w->parent = 0;
    }
    *watch = w.release();
    return TWSUCCESS;
  });
}

TW_API int TWProcParentWatchWait(TWProcParentWatch* watch, int32_t timeoutMs) {
  return tw::guard_value(0, [&] {
    if (watch == nullptr) return 0;
    using Clock = std::chrono::steady_clock;
    const bool bounded = timeoutMs >= 0;
    const Clock::time_point until =
        Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
    // Without a pidfd getppid is looked at again in steps of this length.
    constexpr int kStepMs = 100;
    for (;;) {
      if (parent_ended(*watch)) return 1;
      pollfd p[2] = {{watch->wake, POLLIN, 0}, {watch->pidfd, POLLIN, 0}};
      int wait = watch->pidfd >= 0 ? -1 : kStepMs;
      if (bounded) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return 0;
        wait = wait < 0 ? static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX))
                        : static_cast<int>(std::min<int64_t>(left.count(), wait));
      }
      int n = ::poll(p, watch->pidfd >= 0 ? 2 : 1, wait);
      if (n < 0 && errno != EINTR) return 0;
      if (n > 0 && (p[1].revents & POLLIN) != 0) return 1;
      if (n > 0 && (p[0].revents & POLLIN) != 0) return parent_ended(*watch) ? 1 : 0;
    }
  });
}

TW_API void TWProcParentWatchCancel(TWProcParentWatch* watch) {
  if (watch == nullptr) return;
  uint64_t one = 1;
  // Never read: the descriptor stays readable, so later waits end at once too.
  [[maybe_unused]] ssize_t n = ::write(watch->wake, &one, sizeof one);
}

TW_API void TWProcParentWatchClose(TWProcParentWatch* watch) {
  if (watch == nullptr) return;
  if (watch->pidfd >= 0) ::close(watch->pidfd);
  if (watch->wake >= 0) ::close(watch->wake);
  delete watch;
}

TW_API uint32_t TWProcCommandExec(const char* text) {
  return TWProcCommandRun(text, nullptr, nullptr, nullptr);
}

TW_API uint32_t TWProcCommandRun(const char* text, TWProcCommandCheck check, void* user,
                                 int32_t* exitCode) {
  return tw::guard([&]() -> uint32_t {
    if (exitCode != nullptr) *exitCode = -1;
    if (text == nullptr) return TWFAIL_PROCESS_EXEC;
    return run_command(text, check, user, exitCode);
  });
}

}  // extern "C"

namespace {

// The whole of a small file of /proc; false when it cannot be read.
bool ReadProcFile(const std::string& path, std::string* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buffer[1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    out->append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

namespace tw {

std::string ProcessMark(int pid) {
  return tw::guard_value(std::string(), [&]() -> std::string {
    if (pid == 0) pid = static_cast<int>(::getpid());
    if (pid < 0) return {};
    std::string boot, stat;
    if (!ReadProcFile("/proc/sys/kernel/random/boot_id", &boot) ||
        !ReadProcFile("/proc/" + std::to_string(pid) + "/stat", &stat))
      return {};
    while (!boot.empty() && (boot.back() == '\n' || boot.back() == ' ')) boot.pop_back();
    // The command name in parentheses may hold blanks and parentheses itself: the fields
    // are counted from the last ')'. The start time is field 22, the 20th after it.
    size_t at = stat.rfind(')');
    if (boot.empty() || at == std::string::npos) return {};
    std::string_view rest(stat);
    rest.remove_prefix(at + 1);
    std::string_view start;
    for (int field = 3; field <= 22; ++field) {
      while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
      size_t end = std::min(rest.find(' '), rest.size());
      if (field == 22) start = rest.substr(0, end);
      rest.remove_prefix(end);
    }
    if (start.empty() || start.find_first_not_of("0123456789") != std::string_view::npos) return {};
    // A zombie has ended: it holds its id only until its parent reaps it.
    size_t state = stat.find_first_not_of(' ', at + 1);
    if (state == std::string::npos || stat[state] == 'Z' || stat[state] == 'X') return {};
    return boot + " " + std::to_string(pid) + " " + std::string(start);
  });
}

bool ProcessMarkAlive(std::string_view mark) {
  return tw::guard_value(false, [&] {
    size_t first = mark.find(' ');
    if (first == std::string_view::npos) return false;
    size_t second = mark.find(' ', first + 1);
    if (second == std::string_view::npos) return false;
    std::string_view pidText = mark.substr(first + 1, second - first - 1);
    if (pidText.empty() || pidText.size() > 9 ||
        pidText.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    int pid = std::stoi(std::string(pidText));
    std::string now = ProcessMark(pid);
    return !now.empty() && now == mark;
  });
}

}  // namespace tw
