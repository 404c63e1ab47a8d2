// The signal handler: each of the four signals reaches the installed handler on a normal
// thread, which may exit the process; a second call replaces the handler, a null one
// restores the default; threads started before still leave the handler in charge; and
// programs started afterwards do not inherit the blocked signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "plat_test_util.h"
#include "platform.h"

namespace {

using namespace std::chrono_literals;

int g_report = -1;  // the child's end of the report pipe
pid_t g_main_tid = 0;

void report(const std::string& text) {
  (void)!::write(g_report, text.data(), text.size());
}

// What the server's handler does: say which signal came and whether it runs on the main
// thread, then end the process with code 6.
void exiting_handler(int sig) {
  report("sig " + std::to_string(sig) + (::syscall(SYS_gettid) == g_main_tid ? " main" : " other"));
  std::exit(6);
}
void first_handler(int) {
  report("first");
  std::exit(7);
}

struct Outcome {
  int status = 0;
  std::string said;
};

// Forks a child that runs body, reports "ready" and waits for a signal; the test then sends
// sig. The child gives up after ten seconds (exit 9).
Outcome signal_child(const std::function<void()>& body, int sig) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    g_report = fds[1];
    g_main_tid = static_cast<pid_t>(::syscall(SYS_gettid));
    body();
    report("ready;");
    for (int i = 0; i < 1000; ++i) std::this_thread::sleep_for(10ms);
    ::_exit(9);
  }
  ::close(fds[1]);
  Outcome out;
  std::string text;
  char buf[256];
  // Read up to "ready;" then signal; the rest comes when the child ends.
  while (text.find("ready;") == std::string::npos) {
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::kill(child, sig);
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  ::waitpid(child, &out.status, 0);
  size_t ready = text.find("ready;");
  out.said = ready == std::string::npos ? text : text.substr(0, ready) + text.substr(ready + 6);
  return out;
}

int exit_code(const Outcome& o) {
  return WIFEXITED(o.status) ? WEXITSTATUS(o.status) : -1;
}

TEST(Signal, EachSignalReachesTheHandlerOnANormalThread) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    Outcome o = signal_child([] { ASSERT_EQ(TWProcSigHndlrSet(exiting_handler), TWSUCCESS); }, sig);
    EXPECT_EQ(exit_code(o), 6);
    EXPECT_EQ(o.said, "sig " + std::to_string(sig) + " other");
  }
}

TEST(Signal, ASecondCallReplacesTheHandler) {
  Outcome o = signal_child(
      [] {
        TWProcSigHndlrSet(first_handler);
        TWProcSigHndlrSet(exiting_handler);
      },
      SIGTERM);
  EXPECT_EQ(exit_code(o), 6);
  EXPECT_EQ(o.said, "sig 15 other");
}

TEST(Signal, ANullHandlerRestoresTheDefaultAction) {
  Outcome o = signal_child(
      [] {
        TWProcSigHndlrSet(exiting_handler);
        TWProcSigHndlrSet(nullptr);
      },
      SIGTERM);
  EXPECT_TRUE(WIFSIGNALED(o.status) && WTERMSIG(o.status) == SIGTERM);
  EXPECT_EQ(o.said, "");
}

// A thread that existed before the handler was set still accepts the signals; whichever
// thread the kernel picks, the handler runs on its own thread.
TEST(Signal, ThreadsStartedEarlierDoNotTakeTheSignalAway) {
  for (int round = 0; round < 3; ++round) {
    Outcome o = signal_child(
        [] {
          for (int i = 0; i < 3; ++i)
            std::thread([] {
              for (;;) std::this_thread::sleep_for(1s);
            }).detach();
          TWProcSigHndlrSet(exiting_handler);
        },
        SIGTERM);
    EXPECT_EQ(exit_code(o), 6);
    EXPECT_EQ(o.said, "sig 15 other");
  }
}

// Programs started after the handler was set must not inherit the blocked signals.
TEST(Signal, ProgramsStartedAfterwardsDieOfSignalsAsUsual) {
  twtest::TempDir dir;
  Outcome o = signal_child(
      [&] {
        twtest::InitAt(dir.path());
        TWProcSigHndlrSet(exiting_handler);
        TWProcProcess* p = nullptr;
        if (TWProcShellExec("/bin/sh -c \"kill -TERM $$; exit 3\"", &p, 0, 0) != TWSUCCESS ||
            TWProcProcessWait(p) != TWSUCCESS) {
          report("no start;");
        } else {
          report("child " + std::to_string(TWProcProcessExitCode(p)) + ";");
        }
        TWProcProcessFree(p);
      },
      SIGHUP);
  EXPECT_EQ(exit_code(o), 6);
  EXPECT_EQ(o.said, "child -1;sig 1 other");
}

}  // namespace
