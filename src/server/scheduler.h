// The scheduler of twmain: owns the runs and the run table, polls the control store for due
// activities, starts one runner thread (and through it one taskrun process) per activity,
// enforces MaxDuration and close requests, and reports each run's end to the control store.
// Everything else talks to it by SchedulerCommands on its command pipe; it answers with
// ConsoleEvents.
//
// Thread rules: constructed, run and destroyed on the scheduler thread. A run record is read
// by its runner thread; the scheduler changes none of the fields that thread reads while it
// runs, and the process handle and kill request cross between them as atomics.
#ifndef TW_SERVER_SCHEDULER_H_
#define TW_SERVER_SCHEDULER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flowcore.h"
#include "platform.h"
#include "records.h"
#include "runtable.h"
#include "scheduler_services.h"
#include "timer.h"
#include "twengine.h"

namespace tw::server {

// Why a run ended (0: by itself).
enum EndReason : int32_t {
  kEndedByItself = 0,
  kKilledUser = 1,
  kClosedUser = 2,
  kKilledStop = 3,
  kClosedStop = 4,
  kKilledTimeout = 5,
  kClosedTimeout = 6,
};

// The completion code handed to CSMgrDoneActivity (a TWMSG_COMPLETION_ id, or 0 when a run
// ended by itself with result 0) and the console message (a TWMSG_TRACE_ id) of a run that
// ended for reason with the run table's result word.
struct CompletionOutcome {
  uint32_t completion;
  uint32_t message;
};
CompletionOutcome CompletionOf(int32_t reason, uint32_t result);

// One running activity. Owned by the scheduler's run list; its runner thread gets a pointer.
struct ActivityRun {
  int32_t runNumber = 0;
  int32_t generation = 0;  // unique per run, never 0: names the run in internal commands
  int32_t handle = 0;
  int32_t maxDuration = 0;  // minutes
  int32_t priority = 0;
  TWDatetime startTime{};
  std::string name;  // native text
  int32_t closeRequested = 0;
  int32_t endReason = kEndedByItself;
  // Taken from a control store that was lost since: its handle means nothing to the
  // manager serving now, so its end is not reported.
  bool lost = false;
  int entry = -1;  // run-table index
  SchedulerCommand timeoutPayload;
  TWProcPipe* commandPipe = nullptr;
  TWProcPipe* consolePipe = nullptr;
  ProcessLauncher* launcher = nullptr;
  const std::atomic<uint32_t>* traceMask = nullptr;
  TWProcThread* thread = nullptr;
  std::atomic<ProcessLauncher::Process> process{nullptr};
  std::atomic<bool> killRequested{false};
};

// The three pipes of the program. snmpEvents is null when SNMP support is off: events for
// "both" then go to the console only.
struct SchedulerPipes {
  TWProcPipe* commands = nullptr;
  TWProcPipe* consoleEvents = nullptr;
  TWProcPipe* snmpEvents = nullptr;
};

// What the scheduler reaches outside itself. Null members take the production services.
// With runTimerThread false no timer thread is started: a test drives a Timer over
// timer_pipe() itself.
struct SchedulerServices {
  ControlStore* store = nullptr;
  ProcessLauncher* launcher = nullptr;
  tw::Env* env = nullptr;
  bool runTimerThread = true;
};

class Scheduler {
 public:
  // The construction steps: timer pipe and thread, the run table (another live server
  // holding it: 4177 and event 3, and nothing else is touched), TWSystemInit, the server's
  // registration (ServerState STARTING), CSMgrInit, the status timer, event 1. Failures are
  // printed on standard error and posted as event 2 or 3.
  Scheduler(const SchedulerPipes& pipes, const SchedulerServices& services = {});
  // Reports the server down, ends the control-store session, destroys the run table and ends
  // the timer thread; runs still held are killed and waited for.
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // The command loop: until the scheduler has ended (event 13 then goes to both). Answers 1
  // at once when construction did not complete, else 0.
  int Run();

  // One turn of the loop: one command from the pipe, else a pending launch, else a due poll.
  // Answers false when there was nothing to do (Run then idles).
  bool Step();

  bool started() const { return started_; }
  bool ended() const { return ended_; }
  int32_t state() const { return state_; }
  uint32_t trace_mask() const { return traceMask_.load(); }
  const CSMgrServerSettings& settings() const { return settings_; }
  TWProcPipe* timer_pipe() const { return timerPipe_; }
  const std::vector<std::unique_ptr<ActivityRun>>& runs() const { return runs_; }
  RunTable* run_table() { return table_.get(); }

 private:
  void Handle(const SchedulerCommand& c);
  void PostStatus();
  void BeginEnd();
  void EndWhenIdle();
  void RecoverStore(uint32_t status);
  void RunEnded(int32_t handle, int32_t generation);
  void RunStarted(int32_t handle, int32_t generation);
  void Timeout(int32_t handle, int32_t generation);
  void CloseRun(ActivityRun* run, int32_t number, bool timedOut, bool armKill, bool byUser);
  void KillRun(ActivityRun* run, bool byUser);
  void KillPrompt(int32_t number);
  void List(int32_t source);
  void ShowStatus(int32_t source);
  void Refresh();
  bool Poll();
  bool Launch();
  void CancelPendingLaunch();
  void DropRun(ActivityRun* run);

  ActivityRun* RunByNumber(int32_t number);
  ActivityRun* RunByHandle(int32_t handle);

  void Trace(uint32_t classes, uint32_t message, const char* text = "");
  void PostConsole(const ConsoleEvent& e);
  void PostBoth(const ConsoleEvent& e);
  void PostTo(int32_t source, const ConsoleEvent& e);
  void PostTimer(const TimerCommand& c);
  void ArmPoll();
  void ArmStatus();
  void Fail(uint32_t status, int32_t event, const char* format);

  SchedulerPipes pipes_;
  ControlStore* store_;
  ProcessLauncher* launcher_;
  tw::Env* env_;

  TWProcPipe* timerPipe_ = nullptr;
  TWProcThread* timerThread_ = nullptr;
  TimerThreadArgs timerArgs_;

  bool systemStarted_ = false;
  bool sessionOpen_ = false;
  SharedRunTable sharedTable_;
  std::unique_ptr<RunTable> table_;

  CSMgrServerSettings settings_{};
  CSMgrNextActivityRecord next_{};
  std::vector<std::unique_ptr<ActivityRun>> runs_;  // ascending run number
  int32_t nextGeneration_ = 1;

  std::atomic<uint32_t> traceMask_{kTraceDefaultMask};
  int32_t state_ = kStateRunning;
  bool started_ = false;
  bool ended_ = false;
  bool pollDue_ = false;
  bool launchPending_ = false;
  bool waitingForLast_ = false;
  uint32_t pollFailure_ = 0;  // the status of the failing polls going on; 0 while they answer
};

}  // namespace tw::server

// The runner thread of one run (argument: its ActivityRun): starts "taskrun =N", reports the
// start, waits for the process and reports its end. Answers 0 (1 for a null argument).
extern "C" uint32_t TWMainRunnerThread(void* argument);

#endif  // TW_SERVER_SCHEDULER_H_
