// Processes: command-line splitting and the installation directory, exit codes, kills that
// never reach a reused pid, the child's signal state and descriptors, and shell commands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "plat_test_util.h"
#include "platform.h"
#include "process_io.h"

namespace {

using namespace std::chrono_literals;
using twtest::ReadFile;
using twtest::WriteFile;

// A program in the installation directory that writes its argv[0] and its arguments, one
// bracketed per line, to args.out beside itself.
constexpr char kArgsScript[] =
    "#!/bin/sh\n"
    "out=\"$(dirname \"$0\")/args.out\"\n"
    "printf '%s\\n' \"$0\" > \"$out\"\n"
    "for a in \"$@\"; do printf '[%s]\\n' \"$a\" >> \"$out\"; done\n";

void install_args_script(const std::string& dir) {
  WriteFile(dir + "args", kArgsScript);
  ASSERT_EQ(::chmod((dir + "args").c_str(), 0755), 0);
}

// Runs a command line to its end; the exit code, or a status below -1 on failure.
int32_t run(const std::string& line) {
  TWProcProcess* p = nullptr;
  if (uint32_t st = TWProcShellExec(line.c_str(), &p, 0, 0)) return -static_cast<int32_t>(st);
  uint32_t st = TWProcProcessWait(p);
  int32_t code = st == TWSUCCESS ? TWProcProcessExitCode(p) : -static_cast<int32_t>(st);
  TWProcProcessFree(p);
  return code;
}

class Process : public testing::Test {
 protected:
  void SetUp() override { twtest::InitAt(dir_.path()); }
  void TearDown() override { TWPlatTerm(); }
  twtest::TempDir dir_;
};

TEST_F(Process, ExitCodesComeBack) {
  struct Case {
    const char* line;
    int32_t code;
  } cases[] = {{"/bin/true", 0},
               {"/bin/false", 1},
               {"/bin/sh -c \"exit 3\"", 3},
               {"/bin/sh -c \"exit 255\"", 255},
               {"/bin/sh -c \"kill -KILL $$\"", -1}};
  for (const Case& c : cases) EXPECT_EQ(run(c.line), c.code) << c.line;
}

TEST_F(Process, CommandLineIsSplitAtBlanksWithQuotesGrouping) {
  install_args_script(dir_.path());
  std::string argv0 = dir_.path() + "args\n";
  struct Case {
    const char* line;
    const char* args;
  } cases[] = {
      {"args", ""},
      {"args a b", "[a]\n[b]\n"},
      {"  args   \"two words\"  x  ", "[two words]\n[x]\n"},
      {"args \"\" b", "[]\n[b]\n"},
      {"args a\"b c\"d", "[ab cd]\n"},
      {"args\ta\tb", "[a]\n[b]\n"},
      {"args \"unclosed tail", "[unclosed tail]\n"},
      {"args =42", "[=42]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_EQ(run(c.line), 0);
    // argv[0] is the full path: a runner finds its installation from it.
    EXPECT_EQ(ReadFile(dir_.path() + "args.out"), argv0 + c.args);
  }
}

// The SNMP agent starts "<installation directory>twmain" without quotes; a blank in the
// directory must not split the program's path.
TEST_F(Process, InstallationDirectoryWithBlanksStaysOneWord) {
  TWPlatTerm();
  std::string spaced = dir_.path() + "my inst/";
  twtest::InitAt(spaced);
  install_args_script(spaced);
  ASSERT_EQ(run(spaced + "args x"), 0);
  EXPECT_EQ(ReadFile(spaced + "args.out"), spaced + "args\n[x]\n");
  ASSERT_EQ(run("args \"y z\""), 0);
  EXPECT_EQ(ReadFile(spaced + "args.out"), spaced + "args\n[y z]\n");
}

TEST_F(Process, RefusesWhatCannotStart) {
  TWProcProcess* p = nullptr;
  for (const char* line : {"", "   ", "\"\"", "no_such_program", "/no/such/program"}) {
    EXPECT_EQ(TWProcShellExec(line, &p, 0, 0), TWFAIL_PROCESS_EXEC) << "[" << line << "]";
  }
  EXPECT_EQ(TWProcShellExec(nullptr, &p, 0, 0), TWFAIL_PROCESS_EXEC);
  EXPECT_EQ(TWProcShellExec("/bin/true", nullptr, 0, 0), TWFAIL_PROCESS_EXEC);
  EXPECT_EQ(p, nullptr) << "a failed start set its output";
  EXPECT_EQ(TWProcProcessWait(nullptr), TWFAIL_PROCESS_WAIT);
  EXPECT_EQ(TWProcProcessKill(nullptr), TWFAIL_PROCESS_KILL);
  EXPECT_EQ(TWProcProcessExitCode(nullptr), -1);
  TWProcProcessFree(nullptr);
}

TEST_F(Process, KillEndsARunningProcess) {
  TWProcProcess* p = nullptr;
  ASSERT_EQ(TWProcShellExec("/bin/sleep 30", &p, 5, 0), TWSUCCESS);
  EXPECT_EQ(TWProcProcessExitCode(p), -1) << "still running";
  EXPECT_EQ(TWProcProcessKill(p), TWSUCCESS);
  EXPECT_EQ(TWProcProcessWait(p), TWSUCCESS);
  EXPECT_EQ(TWProcProcessExitCode(p), -1) << "ended by a signal";
  EXPECT_EQ(TWProcProcessWait(p), TWSUCCESS) << "a second wait";
  EXPECT_EQ(TWProcProcessKill(p), TWSUCCESS) << "a kill after the end sends nothing";
  TWProcProcessFree(p);
}

// The scheduler kills a run while its runner thread waits for the same process.
TEST_F(Process, KillWhileAnotherThreadWaits) {
  for (int round = 0; round < 5; ++round) {
    TWProcProcess* p = nullptr;
    ASSERT_EQ(TWProcShellExec("/bin/sleep 30", &p, 0, 0), TWSUCCESS);
    std::atomic<uint32_t> waited{12345};
    std::thread runner([&] { waited = TWProcProcessWait(p); });
    if (round % 2) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(TWProcProcessKill(p), TWSUCCESS);
    runner.join();
    EXPECT_EQ(waited.load(), TWSUCCESS);
    EXPECT_EQ(TWProcProcessExitCode(p), -1);
    TWProcProcessFree(p);
  }
}

// Once a process has been waited for its pid may belong to anybody. Steer the next pid onto
// the old one (needs the right to write ns_last_pid) and check that a late kill spares the
// newcomer.
TEST_F(Process, KillAfterWaitNeverReachesAReusedPid) {
  std::string pidfile = dir_.path() + "pid";
  for (int attempt = 0; attempt < 20; ++attempt) {
    TWProcProcess* p = nullptr;
    std::string line = "/bin/sh -c \"echo $$ > " + pidfile + "\"";
    ASSERT_EQ(TWProcShellExec(line.c_str(), &p, 0, 0), TWSUCCESS);
    ASSERT_EQ(TWProcProcessWait(p), TWSUCCESS);
    pid_t old_pid = std::stoi(ReadFile(pidfile));

    std::ofstream last("/proc/sys/kernel/ns_last_pid");
    last << old_pid - 1 << std::flush;
    if (!last.good()) {
      TWProcProcessFree(p);
      GTEST_SKIP() << "cannot steer pids here";
    }
    pid_t newcomer = ::fork();
    if (newcomer == 0) {
      ::pause();
      ::_exit(0);
    }
    ASSERT_GT(newcomer, 0);
    if (newcomer == old_pid) {
      EXPECT_EQ(TWProcProcessKill(p), TWSUCCESS);
      // A SIGKILL sent before this SIGTERM would be the one the newcomer dies of.
      ::kill(newcomer, SIGTERM);
      int status = 0;
      ASSERT_EQ(::waitpid(newcomer, &status, 0), newcomer);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
          << "the kill reached the newcomer";
      TWProcProcessFree(p);
      return;
    }
    // Another process took the pid first; try again.
    ::kill(newcomer, SIGTERM);
    ::waitpid(newcomer, nullptr, 0);
    TWProcProcessFree(p);
  }
  GTEST_SKIP() << "the pid was always taken by someone else";
}

// The parent ignores and blocks SIGTERM (TWProcSigHndlrSet blocks it); the child must still
// die of it, and must not see the parent's descriptors.
TEST_F(Process, ChildStartsWithDefaultSignalsAndOnlyTheStandardDescriptors) {
  sigset_t term, old_mask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &old_mask), 0);
  struct sigaction ignore {
  }, old_action;
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGTERM, &ignore, &old_action), 0);
  int32_t code = run("/bin/sh -c \"kill -TERM $$; exit 3\"");
  ::sigaction(SIGTERM, &old_action, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  EXPECT_EQ(code, -1) << "the child kept the parent's mask or disposition";

  int stray = ::open("/dev/null", O_RDONLY);  // deliberately inheritable
  ASSERT_GE(stray, 0);
  ASSERT_EQ(::dup2(stray, 57), 57);
  EXPECT_EQ(run("/bin/sh -c \"test -e /proc/self/fd/57\""), 1) << "descriptor 57 leaked";
  EXPECT_EQ(run("/bin/sh -c \"test -e /proc/self/fd/2\""), 0);
  ::close(57);
  ::close(stray);
}

// A detached program reads no input, leads a session of its own, appends its output to its
// files, and gets no other descriptor of the starter.
TEST_F(Process, ExecDetachedLeadsItsOwnSessionWithoutInputAndAppendsOutput) {
  std::string out = dir_ / "prog.out", err = dir_ / "prog.err";
  WriteFile(out, "before\n");
  int stray = ::open("/dev/null", O_RDONLY);  // deliberately inheritable
  ASSERT_EQ(::dup2(stray, 57), 57);
  TWProcProcess* p = nullptr;
  // Field 6 of /proc/self/stat is the session; a session leader's is its own pid.
  ASSERT_EQ(tw::ShellExecDetached("/bin/sh -c \"cat; test -e /proc/self/fd/57 && echo leaked; "
                                  "read -r pid c s pp pg sid rest </proc/self/stat; "
                                  "test $sid = $$ && echo leader; echo done >&2\"",
                                  out, err, &p),
            TWSUCCESS);
  ::close(57);
  ::close(stray);
  ASSERT_EQ(TWProcProcessWait(p), TWSUCCESS);
  EXPECT_EQ(TWProcProcessExitCode(p), 0);
  TWProcProcessFree(p);
  EXPECT_EQ(ReadFile(out), "before\nleader\n");  // cat read nothing, descriptor 57 stayed here
  EXPECT_EQ(ReadFile(err), "done\n");

  EXPECT_EQ(tw::ShellExecDetached((dir_ / "missing").c_str(), out, err, &p), TWFAIL_PROCESS_EXEC);
}

// A handle freed without a wait still gets its process reaped.
TEST_F(Process, FreeWithoutWaitLeavesNoZombie) {
  TWProcProcess* p = nullptr;
  ASSERT_EQ(TWProcShellExec("/bin/sh -c \"exit 0\"", &p, 0, 0), TWSUCCESS);
  TWProcProcessFree(p);
  bool gone = false;
  for (int i = 0; i < 400 && !gone; ++i) {
    siginfo_t info{};
    gone = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 && errno == ECHILD;
    if (!gone) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(gone) << "a child of this process is left unreaped";
}

// While the parent (the test runner) lives, a wait ends only on its time-out or a cancel,
// and a cancelled watch answers every later wait at once. (The parent's end is seen by the
// runner's tests, which give taskrun a parent that ends.)
TEST_F(Process, AParentWatchWaitsWhileTheParentLivesUntilCancelled) {
  TWProcParentWatch* watch = nullptr;
  ASSERT_EQ(TWProcParentWatchOpen(&watch), TWSUCCESS);
  EXPECT_EQ(TWProcParentWatchWait(watch, 0), 0);
  EXPECT_EQ(TWProcParentWatchWait(watch, 20), 0);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = TWProcParentWatchWait(watch, -1); });
  TWProcParentWatchCancel(watch);
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(TWProcParentWatchWait(watch, -1), 0);
  TWProcParentWatchClose(watch);
  EXPECT_EQ(TWProcParentWatchOpen(nullptr), TWFAIL_PROCESS_WAIT);
}

TEST_F(Process, CommandExecRunsThroughTheShell) {
  std::string out = dir_.path() + "cmd.out";
  struct Case {
    std::string text;
    uint32_t status;
  } cases[] = {
      {"exit 0", TWSUCCESS},
      {"exit 4", TWFAIL_PROCESS_EXEC},
      {"no_such_command_at_all", TWFAIL_PROCESS_EXEC},
      {"kill -KILL $$", TWFAIL_PROCESS_EXEC},
      {"echo 'a  b' | tr a x > '" + out + "'", TWSUCCESS},
  };
  for (const Case& c : cases) EXPECT_EQ(TWProcCommandExec(c.text.c_str()), c.status) << c.text;
  EXPECT_EQ(ReadFile(out), "x  b\n");
  EXPECT_EQ(TWProcCommandExec(nullptr), TWFAIL_PROCESS_EXEC);
}

// A shell command that starts a child, then lists the child's pid and its own in pids (whole,
// by a rename) and waits.
std::string listing_command(const std::string& pids) {
  return "sleep 600 & echo $! > '" + pids + ".tmp'; echo $$ >> '" + pids + ".tmp'; mv '" + pids +
         ".tmp' '" + pids + "'; wait";
}

std::vector<pid_t> listed(const std::string& pids) {
  std::vector<pid_t> out;
  std::string text = ReadFile(pids);
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) out.push_back(std::stoi(text.substr(at, end - at)));
    at = end + 1;
  }
  return out;
}

// Whether pid still runs (a zombie waiting to be reaped has ended).
bool running(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
         stat[close + 2] != 'X';
}

bool eventually(const std::function<bool()>& pred) {
  auto until = std::chrono::steady_clock::now() + 60s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Both processes of the command end; any left are killed so that none outlives the test.
void expect_ended(const std::vector<pid_t>& pids) {
  ASSERT_EQ(pids.size(), 2u);
  for (pid_t pid : pids) {
    EXPECT_TRUE(eventually([&] { return !running(pid); })) << pid;
    if (running(pid)) ::kill(pid, SIGKILL);
  }
}

TEST_F(Process, CommandRunEndsTheCommandsGroupWhenTheCheckSaysSo) {
  const std::string pids = dir_.path() + "pids";
  struct State {
    std::string pids;
    int checks = 0;
  } state{pids, 0};
  auto check = [](void* user) -> uint32_t {
    auto* s = static_cast<State*>(user);
    ++s->checks;
    return listed(s->pids).size() == 2 ? TWFAIL_CLOSE_TIMEOUT : TWSUCCESS;
  };
  EXPECT_EQ(TWProcCommandRun(listing_command(pids).c_str(), check, &state), TWFAIL_CLOSE_TIMEOUT);
  EXPECT_GE(state.checks, 1);
  expect_ended(listed(pids));
  // A command that ends by itself is not asked about for longer than it runs.
  state.checks = 0;
  EXPECT_EQ(TWProcCommandRun("exit 0", check, &state), TWSUCCESS);
  EXPECT_LE(state.checks, 1);
}

TEST_F(Process, ACommandDiesWithItsRunner) {
  const std::string pids = dir_.path() + "pids";
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  std::string runner(self, static_cast<size_t>(n));
  runner = runner.substr(0, runner.rfind('/')) + "/command_runner";
  const std::string command = listing_command(pids);
  const char* argv[] = {runner.c_str(), command.c_str(), nullptr};
  TWProcProcess* p = nullptr;
  ASSERT_EQ(TWProcSpawn(runner.c_str(), argv, &p), TWSUCCESS);
  const bool started = eventually([&] { return listed(pids).size() == 2; });
  EXPECT_EQ(TWProcProcessKill(p), TWSUCCESS);
  EXPECT_EQ(TWProcProcessWait(p), TWSUCCESS);
  TWProcProcessFree(p);
  ASSERT_TRUE(started);
  expect_ended(listed(pids));
}

}  // namespace
