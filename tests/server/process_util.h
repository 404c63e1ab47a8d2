// Helpers of the tests that run programs: child processes with a chosen environment,
// directory and standard input, their output on pipes or in files (always reaped, killed when
// they overrun), the machine's running processes, the built programs' locations, and free
// loopback ports.
#ifndef TW_TESTS_SERVER_PROCESS_UTIL_H_
#define TW_TESTS_SERVER_PROCESS_UTIL_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace twtest {

// The installation directory of the build (where taskrun, webrun and the libraries are):
// TW_INST_DIR, else the "inst" directory of TW_BUILD_DIR, else the one beside the directory
// of the test programs.
inline std::string BuildInstDir() {
  if (const char* dir = std::getenv("TW_INST_DIR")) return std::string(dir) + "/";
  if (const char* build = std::getenv("TW_BUILD_DIR")) return std::string(build) + "/inst/";
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string exe(self, n > 0 ? static_cast<size_t>(n) : 0);
  std::string tests = exe.substr(0, exe.rfind('/'));
  return tests.substr(0, tests.rfind('/')) + "/inst/";
}

// SQLite's journal files, which a program reading a template of the kit leaves beside it for
// a moment: no part of the kit.
inline bool IsEngineSideFile(const std::string& name) {
  for (const std::string end : {"-wal", "-shm", "-journal"})
    if (name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0)
      return true;
  return false;
}

// The variables a child needs besides its own: the run directory's base and the sanitizers'
// settings.
inline std::vector<std::string> InheritedEnv() {
  std::vector<std::string> env;
  for (const char* name :
       {"TMPDIR", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "FREETDSCONF"})
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  return env;
}

// This process's whole environment, with each NAME=value of overrides in place of NAME.
inline std::vector<std::string> EnvWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> env = overrides;
  for (char** p = environ; *p != nullptr; ++p) {
    const std::string kv = *p;
    const std::string name = kv.substr(0, kv.find('=') + 1);
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || o.rfind(name, 0) == 0;
    if (!replaced) env.push_back(kv);
  }
  return env;
}

struct ProcessResult {
  int exitCode = -1;  // -1: ended by a signal (or killed for overrunning)
  bool overran = false;
  std::string out;
  std::string err;
};

// A started child process; killed and reaped when the object goes, whatever happened.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with exactly env, in dir (empty: this process's), standard input, output
  // and error on pipes when capture is set (else input from /dev/null and output to ours).
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& dir, bool capture) {
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (capture && (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
                    ::pipe2(err, O_CLOEXEC) != 0))
      return false;
    FileActions fa;
    if (capture) {
      posix_spawn_file_actions_adddup2(&fa.actions, in[0], 0);
      posix_spawn_file_actions_adddup2(&fa.actions, out[1], 1);
      posix_spawn_file_actions_adddup2(&fa.actions, err[1], 2);
    } else {
      posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
    }
    return Spawn(argv, env, dir, fa, in, out, err);
  }

  // Starts argv[0] as Start does, with standard output and error in the files outFile and
  // errFile (made or emptied) and standard input on a pipe that stays open until CloseInput
  // when input is set (else from /dev/null).
  bool StartWithFiles(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& dir, bool input, const std::string& outFile,
                      const std::string& errFile) {
    int in[2] = {-1, -1}, none[2] = {-1, -1};
    if (input && ::pipe2(in, O_CLOEXEC) != 0) return false;
    FileActions fa;
    if (input)
      posix_spawn_file_actions_adddup2(&fa.actions, in[0], 0);
    else
      posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa.actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&fa.actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    return Spawn(argv, env, dir, fa, in, none, none);
  }

  // Ends the child's standard input (when it has one on a pipe).
  void CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }

  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // The exit code once the child ended (-1 for a signal), -2 when it still runs after
  // timeoutMs (it is left running).
  int WaitExit(int timeoutMs) {
    if (pid_ < 0) return -1;
    return Wait(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
  }

  // Writes input, closes standard input, collects the output until the child ends or
  // timeoutMs pass (then it is killed).
  ProcessResult Finish(const std::string& input, int timeoutMs) {
    ProcessResult r;
    // A child that ends without reading its input must not end this process.
    ::signal(SIGPIPE, SIG_IGN);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t sent = 0;
    if (in_ >= 0) ::fcntl(in_, F_SETFL, O_NONBLOCK);
    while (out_ >= 0 || err_ >= 0 || in_ >= 0) {
      if (in_ >= 0 && sent == input.size()) {
        ::close(in_);
        in_ = -1;
        continue;
      }
      pollfd fds[3];
      int n = 0;
      for (int fd : {out_, err_}) fds[n++] = pollfd{fd, POLLIN, 0};
      fds[n++] = pollfd{in_, POLLOUT, 0};
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        r.overran = true;
        break;
      }
      if (::poll(fds, n, static_cast<int>(left.count())) < 0) break;
      for (int i = 0; i < 2; ++i) {
        int& fd = i == 0 ? out_ : err_;
        if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) {
          (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(got));
        } else {
          ::close(fd);
          fd = -1;
        }
      }
      if (in_ >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t w = ::write(in_, input.data() + sent, input.size() - sent);
        if (w > 0)
          sent += static_cast<size_t>(w);
        else if (w < 0 && errno != EAGAIN && errno != EINTR)
          sent = input.size();  // the child closed its input: stop feeding it
      }
    }
    if (r.overran) Kill();
    r.exitCode = Wait(until);
    if (r.exitCode == -2) {
      r.overran = true;
      Kill();
      r.exitCode = -1;
    }
    CloseAll();
    return r;
  }

  pid_t pid() const { return pid_; }

  // Whether the child still runs (it is reaped when it has ended).
  bool Alive() {
    if (pid_ < 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }

  // Asks the child to end (SIGTERM), waits at most timeoutMs, then kills it.
  void Stop(int timeoutMs) {
    if (pid_ < 0) return;
    ::kill(pid_, SIGTERM);
    if (Wait(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) == -2) Kill();
  }

  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
    CloseAll();
  }

 private:
  struct FileActions {
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    posix_spawn_file_actions_t actions;
  };

  // Spawns with fa (and dir) and keeps the parent's ends of the pipes in, out and err (-1
  // where there is none), closing the child's ends.
  bool Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& dir, FileActions& fa, const int (&in)[2], const int (&out)[2],
             const int (&err)[2]) {
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&fa.actions, dir.c_str());
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int rc = ::posix_spawn(&pid_, argv[0].c_str(), &fa.actions, nullptr, args.data(), envp.data());
    for (int fd : {in[0], out[1], err[1]})
      if (fd >= 0) ::close(fd);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      CloseAll();
      return false;
    }
    return true;
  }

  // The exit code, -1 for a signal, -2 when the child still runs at until.
  int Wait(std::chrono::steady_clock::time_point until) {
    for (;;) {
      int status = 0;
      pid_t rc = ::waitpid(pid_, &status, WNOHANG);
      if (rc == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (rc < 0 && errno != EINTR) return -1;
      if (std::chrono::steady_clock::now() > until) return -2;
      ::usleep(1000);
    }
  }
  void CloseAll() {
    for (int* fd : {&in_, &out_, &err_})
      if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
      }
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
};

// Runs a program to its end (at most timeoutMs) with input on its standard input.
inline ProcessResult RunProgram(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env, const std::string& dir,
                                const std::string& input = "", int timeoutMs = 30000) {
  ChildProcess child;
  if (!child.Start(argv, env, dir, true)) return ProcessResult{};
  return child.Finish(input, timeoutMs);
}

// A running process of this machine (zombies left out).
struct RunningProcess {
  pid_t pid = -1;
  pid_t parent = -1;
  std::string name;     // the command name
  std::string program;  // its first argument
};

// A file of /proc, "" once its process has gone: a read then fails (ESRCH), which the
// standard streams throw from inside their iterators.
inline std::string ProcFile(const std::string& path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) out.clear();
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  // Nothing was written through fd: its close cannot lose anything.
  ::close(fd);
  return out;
}

// Every running process of this machine.
inline std::vector<RunningProcess> RunningProcesses() {
  std::vector<RunningProcess> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ProcFile(entry.path() / "stat");
    // The command name may hold blanks and parentheses: the fields count from the last ')'.
    size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2 || state == 'Z' ||
        state == 'X')
      continue;
    RunningProcess p;
    p.pid = std::stoi(pid);
    p.parent = static_cast<pid_t>(parent);
    p.name = stat.substr(open + 1, close - open - 1);
    const std::string cmdline = ProcFile(entry.path() / "cmdline");
    p.program = cmdline.substr(0, cmdline.find('\0'));
    found.push_back(std::move(p));
  }
  return found;
}

#ifdef TW_CMAKE_COMMAND
// The build's kit as users get it: `cmake --install` of the build (TW_BUILD_DIR) into
// prefix. False, with cmake's output in log, when it fails.
inline bool InstallKit(const std::string& prefix, std::string* log) {
  const char* build = std::getenv("TW_BUILD_DIR");
  if (build == nullptr) {
    *log = "TW_BUILD_DIR is not set";
    return false;
  }
  ProcessResult r = RunProgram({TW_CMAKE_COMMAND, "--install", build, "--prefix", prefix},
                               {"PATH=/usr/bin:/bin"}, "/", "", 120000);
  *log = r.out + r.err;
  return r.exitCode == 0;
}
#endif

// Polls pred every millisecond for at most timeoutMs.
template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs = 5000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    ::usleep(1000);
  }
  return true;
}

// A loopback port that was free a moment ago, for TCP or (type SOCK_DGRAM) UDP.
inline int FreeLoopbackPort(int type = SOCK_STREAM) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace twtest

#endif  // TW_TESTS_SERVER_PROCESS_UTIL_H_
