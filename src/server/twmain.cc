// The server program twmain: starts the control-store manager when none serves, creates the
// pipes its threads talk over, runs the scheduler and (when configured) the SNMP link on
// threads of their own and the operator console on the main thread, and ends them in order.
// It runs with or without a console: SIGTERM asks for the orderly stop that the console's stop
// gives, so that a service manager can run and stop it.
// Exit code 0 after a normal termination, 1 after an abnormal one, 6 after another signal.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "catalogue.h"
#include "console.h"
#include "platform.h"
#include "records.h"
#include "runtable.h"
#include "scheduler.h"
#include "snmp_link.h"
#include "tw/guard.h"
#include "twengine.h"

namespace {

using namespace tw::server;

// The two long-lived threads, where the signal handler can reach them. Whoever takes a handle
// out (the handler to abandon the thread, main to wait for it) owns it.
std::atomic<TWProcThread*> gScheduler{nullptr};
std::atomic<TWProcThread*> gSnmpLink{nullptr};

// Where SIGTERM's stop goes: the scheduler command pipe while the console serves. Before
// that the signal is handled as every other; after it the server is ending anyway.
enum class Serving { kStarting, kServing, kEnding };
Serving gServing = Serving::kStarting;
TWProcPipe* gStopPipe = nullptr;

std::mutex& StopMutex() {
  static auto* m = new std::mutex;  // never destroyed: a signal may come while the process ends
  return *m;
}

void SetServing(Serving state, TWProcPipe* commands) {
  std::lock_guard<std::mutex> lock(StopMutex());
  gServing = state;
  gStopPipe = commands;
}

struct ProgramPipes {
  TWProcPipe* commands = nullptr;
  TWProcPipe* console = nullptr;
  TWProcPipe* snmp = nullptr;
  bool snmpOn = false;
};

// SNMP support from twmain.ini, read once: "1" (queries) or "2" (queries and sets) is on;
// "0", a value that is not a number, or no value is off; another number is reported.
bool SnmpSupport() {
  static const bool on = [] {
    char value[64] = {};
    if (TWINIGetString(kIniConfiguration, kIniSnmp, value, sizeof value, kIniFile) != TWSUCCESS)
      return false;
    const char* p = value;
    while (*p == ' ' || *p == '\t') ++p;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(p, &end, 10);
    if (end == p) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    if (errno == 0 && (n == 1 || n == 2)) return true;
    if (errno != 0 || n != 0) {
      std::fprintf(stderr, "\n%s", tw::message_text(TWFAIL_SNMP_SETTING).c_str());
      std::fflush(stderr);
    }
    return false;
  }();
  return on;
}

// Posts "the scheduler has ended" where the scheduler would have, so no reader waits for it.
void PostEnded(const ProgramPipes& p) {
  ConsoleEvent e;
  e.code = EventStartFailed;
  // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
  (void)PostConsoleEvent(p.console, e);
  if (p.snmpOn) (void)PostConsoleEvent(p.snmp, e);
  e.code = EventEnded;
  (void)PostConsoleEvent(p.console, e);
  if (p.snmpOn) (void)PostConsoleEvent(p.snmp, e);
}

uint32_t SchedulerThread(void* argument) {
  const auto& p = *static_cast<const ProgramPipes*>(argument);
  uint32_t result = 1;
  bool ended = false;
  uint32_t st = tw::guard([&]() -> uint32_t {
    Scheduler scheduler(SchedulerPipes{p.commands, p.console, p.snmpOn ? p.snmp : nullptr});
    result = static_cast<uint32_t>(scheduler.Run());
    ended = result == 0;
    return TWSUCCESS;
  });
  if (st != TWSUCCESS) {
    PostEnded(p);
  } else if (!ended) {
    // A scheduler that never started posts no end; the main thread waits for one when it
    // takes the remaining events off the console pipe.
    ConsoleEvent e;
    e.code = EventEnded;
    // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
    (void)PostConsoleEvent(p.console, e);
    if (p.snmpOn) (void)PostConsoleEvent(p.snmp, e);
  }
  return st != TWSUCCESS ? 1 : result;
}

uint32_t SnmpLinkThread(void* argument) {
  const auto& p = *static_cast<const ProgramPipes*>(argument);
  uint32_t result = 1;
  // A throw leaves result at 1, the failure the thread answers.
  (void)tw::guard([&]() -> uint32_t {
    SnmpLink link(p.commands, p.snmp);
    result = static_cast<uint32_t>(link.Run());
    return TWSUCCESS;
  });
  return result;
}

// Creates the three pipes; when one fails, those already made are destroyed.
[[nodiscard]] uint32_t CreatePipes(ProgramPipes* p) {
  uint32_t st = TWProcPipeCreate(kSchedulerPipeSize, &p->commands);
  if (st == TWSUCCESS) {
    st = TWProcPipeCreate(kConsoleEventPipeSize, &p->console);
    if (st == TWSUCCESS) {
      st = TWProcPipeCreate(kSnmpEventPipeSize, &p->snmp);
      if (st != TWSUCCESS) TWProcPipeDestroy(p->console);
    }
    if (st != TWSUCCESS) TWProcPipeDestroy(p->commands);
  }
  if (st != TWSUCCESS) *p = ProgramPipes{};
  return st;
}

// Destroys the pipes; true when every destroy succeeded.
bool DestroyPipes(ProgramPipes* p) {
  bool ok = TWProcPipeDestroy(p->commands) == TWSUCCESS;
  ok = TWProcPipeDestroy(p->snmp) == TWSUCCESS && ok;
  ok = TWProcPipeDestroy(p->console) == TWSUCCESS && ok;
  *p = ProgramPipes{};
  return ok;
}

// Waits for a thread whose handle is still held here (not taken by the signal handler).
void Join(std::atomic<TWProcThread*>& handle) {
  if (TWProcThread* thread = handle.exchange(nullptr)) TWProcThreadWait(thread, nullptr);
}

}  // namespace

extern "C" void TWMainSignalHandler(int signalNumber) {
  if (signalNumber == SIGTERM) {
    std::lock_guard<std::mutex> lock(StopMutex());
    if (gServing == Serving::kServing) {
      // The console's stop: runs are closed, those still running after CloseTimeout killed,
      // and the server ends normally once the last one has ended. One stop is posted, so a
      // burst of signals cannot fill the pipe of a scheduler that has stopped reading; the
      // pipe outlives the serving state.
      if (PostSchedulerCommand(gStopPipe, SchedulerCommand{SchedStop, kSourceConsole, 0, 0}) ==
          TWSUCCESS) {
        gServing = Serving::kEnding;
        return;
      }
    } else if (gServing == Serving::kEnding) {
      return;  // already on its way down in order
    }
  }
  std::fprintf(stderr, "TWMAIN terminating because of signal %d, cleaning up.\n", signalNumber);
  std::fflush(stderr);
  if (TWProcThread* t = gScheduler.exchange(nullptr)) TWProcThreadKill(t);
  if (TWProcThread* t = gSnmpLink.exchange(nullptr)) TWProcThreadKill(t);
  CSMgrTerm();
  TWSystemTerm();
  // Only a table this process owns is removed: a second server's signal leaves the first
  // server's table alone.
  // Exiting: a table that cannot be removed is reclaimed by the next server as stale.
  (void)DestroyRunTableByName();
  std::fprintf(stderr, "TWMAIN termination cleanup successfull.\n");
  std::fflush(stderr);
  std::fflush(stdout);
  // The abandoned threads still run: no static destructor may run under them.
  _exit(6);
}

int main(int argc, char** argv) {
  gScheduler.store(nullptr);
  gSnmpLink.store(nullptr);
  uint32_t status = TWProcSigHndlrSet(TWMainSignalHandler);
  if (status == TWSUCCESS) status = TWPlatInit(argc > 0 && argv[0] != nullptr ? argv[0] : "twmain");

  uint32_t finalLine = TWMSG_ABNORMAL_TERMINATION;
  bool shutdownStore = false;
  if (status == TWSUCCESS) {
    std::printf("%s\n", tw::message_text(TWMSG_CONSOLE_INITIALIZING).c_str());
    std::fflush(stdout);
    status = CSMgrStartup();
  }

  ProgramPipes pipes;
  if (status == TWSUCCESS) status = CreatePipes(&pipes);

  if (status == TWSUCCESS) {
    pipes.snmpOn = SnmpSupport();
    TWProcThread* thread = nullptr;
    status = TWProcThreadCreate(SchedulerThread, &pipes, &thread);
    if (status != TWSUCCESS) {
      DestroyPipes(&pipes);
    } else {
      gScheduler.store(thread);
      if (pipes.snmpOn) {
        TWProcThread* link = nullptr;
        if (uint32_t st = TWProcThreadCreate(SnmpLinkThread, &pipes, &link)) {
          // The server runs on without the link; the few events meant for it stay unread.
          std::fprintf(stderr, "%s\n", tw::message_text(st).c_str());
          std::fflush(stderr);
        } else {
          gSnmpLink.store(link);
        }
      }

      auto console = std::make_unique<Console>(pipes.commands, pipes.console);
      if (console->state() == Console::kReady) SetServing(Serving::kServing, pipes.commands);
      int consoleResult = console->Run();
      SetServing(Serving::kEnding, nullptr);
      shutdownStore = console->shutdownControlStore();
      if (consoleResult != 0) {
        // The scheduler is asked down and its events are taken off the console pipe, so it
        // never waits for room there and its clean-up runs before the process ends.
        // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
        (void)PostSchedulerCommand(pipes.commands,
                                   SchedulerCommand{SchedDown, kSourceConsole, 0, 0});
        for (;;) {
          ConsoleEvent e;
          if (ReadConsoleEvent(pipes.console, &e) != TWSUCCESS || e.code == EventEnded) break;
        }
      }
      Join(gSnmpLink);
      Join(gScheduler);
      if (DestroyPipes(&pipes) && consoleResult == 0) finalLine = TWMSG_NORMAL_TERMINATION;
      console.reset();
    }
  }

  if (status != TWSUCCESS) {
    std::fprintf(stderr, "%s\n", tw::message_text(status).c_str());
    std::fflush(stderr);
    finalLine = TWMSG_ABNORMAL_TERMINATION;
  }
  if (shutdownStore) CSMgrShutdown();
  std::string line = tw::message_text(finalLine);
  TWPlatTerm();
  std::printf("\n%s\n", line.c_str());
  std::fflush(stdout);
  return finalLine == TWMSG_NORMAL_TERMINATION ? 0 : 1;
}
