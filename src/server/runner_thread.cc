// The runner thread of one run: starts "taskrun =N" for the run's activity handle and tells
// the scheduler when the process started and when it ended.
#include <cstdio>

#include "records.h"
#include "scheduler.h"
#include "tw/guard.h"

extern "C" uint32_t TWMainRunnerThread(void* argument) {
  using namespace tw::server;
  if (argument == nullptr) return 1;
  auto* run = static_cast<ActivityRun*>(argument);
  uint32_t st = tw::guard([&]() -> uint32_t {
    if ((run->traceMask->load() & kTraceLaunch) != 0) {
      ConsoleEvent e;
      e.code = EventTrace;
      e.number = TWMSG_TRACE_ACTIVITY_STARTED;
      e.SetText(run->name);
      // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
      (void)PostConsoleEvent(run->consolePipe, e);
    }
    char line[32];
    std::snprintf(line, sizeof line, "%s %c%d", kRunnerProgram, kRunnerHandleMark, run->handle);
    ProcessLauncher::Process process = nullptr;
    // A process that cannot be started leaves the entry's result unwritten: the run ends at
    // once as terminated abnormally.
    if (run->launcher->Start(line, run->priority, &process) == TWSUCCESS) {
      run->process.store(process);
      // A process that cannot be killed is gone already or ends by itself; the wait below sees it.
      if (run->killRequested.load()) (void)run->launcher->Kill(process);
      // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
      (void)PostSchedulerCommand(
          run->commandPipe,
          SchedulerCommand{SchedRunStarted, kSourceInternal, run->handle, run->generation});
      run->launcher->Wait(process);
    }
    return TWSUCCESS;
  });
  // Whatever happened above, the scheduler must hear of the end or the run stays for ever.
  (void)PostSchedulerCommand(run->commandPipe, SchedulerCommand{SchedRunEnded, kSourceInternal,
                                                                run->handle, run->generation});
  return st == TWSUCCESS ? 0 : 1;
}
