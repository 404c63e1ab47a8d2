// The process's handler for SIGINT, SIGTERM, SIGHUP and SIGQUIT, run on a normal thread.
//
// The calling thread blocks the four signals, so the threads it starts afterwards inherit
// the mask, and a dedicated thread takes them with sigwait and calls the installed handler,
// which may therefore lock, print and exit. A thread started before the first call still
// accepts the signals; for those the signal handler proper only passes the signal on to the
// dedicated thread (tgkill is async-signal-safe), so the handler runs there in every case.
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform.h"
#include "tw/guard.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<TWProcSignalHandler> g_handler{nullptr};
std::atomic<pid_t> g_dispatcher{0};  // thread id of the dedicated thread
// The process whose dedicated thread runs: a child made by fork has no such thread.
std::atomic<pid_t> g_started_in{0};

std::mutex& setup_mutex() {
  static auto* m = new std::mutex;  // never destroyed: the handler may call exit
  return *m;
}

sigset_t handled_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kSignals) sigaddset(&set, sig);
  return set;
}

extern "C" void pass_on(int sig) {
  int saved = errno;
  pid_t tid = g_dispatcher.load(std::memory_order_relaxed);
  if (tid != 0) ::syscall(SYS_tgkill, ::getpid(), tid, sig);
  errno = saved;
}

// Runs with the four signals blocked (inherited from the thread that started it).
void dispatch(std::promise<pid_t> started) {
  started.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
  sigset_t set = handled_set();
  for (;;) {
    int sig = 0;
    if (::sigwait(&set, &sig) != 0) continue;
    TWProcSignalHandler handler = g_handler.load();
    if (handler != nullptr) {
      handler(sig);
      continue;
    }
    // No handler any more: the signal's default action, here and now.
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    ::pthread_sigmask(SIG_BLOCK, &one, nullptr);
  }
}

uint32_t start_dispatch() {
  if (g_started_in.load() == ::getpid()) return TWSUCCESS;
  std::promise<pid_t> started;
  std::future<pid_t> tid = started.get_future();
  try {
    std::thread(dispatch, std::move(started)).detach();
  } catch (const std::system_error&) {
    return TWFAIL_THREAD_CREATE;
  }
  // Known before any handler can pass a signal on.
  g_dispatcher.store(tid.get());
  g_started_in.store(::getpid());
  return TWSUCCESS;
}

}  // namespace

extern "C" {

// A null handler gives the four signals back their default action and blocks nothing.
TW_API uint32_t TWProcSigHndlrSet(TWProcSignalHandler handler) {
  return tw::guard([&]() -> uint32_t {
    std::lock_guard<std::mutex> lock(setup_mutex());
    sigset_t set = handled_set();
    if (handler != nullptr) {
      // Blocked before the dedicated thread starts, so that it inherits the mask sigwait
      // needs.
      if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return TWFAIL_PROGRAM;
      if (uint32_t st = start_dispatch()) return st;
    }
    g_handler.store(handler);
    struct sigaction sa {};
    sa.sa_handler = handler != nullptr ? pass_on : SIG_DFL;
    sa.sa_mask = set;
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
      if (::sigaction(sig, &sa, nullptr) != 0) return TWFAIL_PROGRAM;
    }
    return TWSUCCESS;
  });
}

}  // extern "C"
