// The scheduler of twmain: construction, the command loop, polling and launching, the ends
// of runs, closes, kills, and the answers to the console and the SNMP link.
#include "scheduler.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "catalogue.h"
#include "twconst.h"

namespace tw::server {
namespace {

constexpr int32_t kSecondsPerMinute = 60;

int32_t MinutesToSeconds(int32_t minutes) {
  if (minutes <= 0) return 0;
  return minutes > INT32_MAX / kSecondsPerMinute ? INT32_MAX : minutes * kSecondsPerMinute;
}

std::string_view StreamText(const TWStream& s) {
  if (s.data == nullptr) return {};
  return std::string_view(static_cast<const char*>(s.data), s.length);
}

// The native text of a stream of any character set; empty when it does not convert.
std::string NativeText(const TWStream& source) {
  TWStream native{};
  std::string text;
  if (TWStreamDataConvert(&native, &source, TWCONVERTF_FORCE_TEXT, TWSTREAMFMT_NATIVE, nullptr,
                          nullptr) == TWSUCCESS)
    text.assign(StreamText(native));
  TWStreamDataFree(&native);
  return text;
}

void NewTextStream(TWStream* s) {
  TWStreamCreate(s, 0, 0, TWSTREAMFMT_NATIVE);
}

ConsoleEvent Event(int32_t code, int32_t number = 0, std::string_view text = {}) {
  ConsoleEvent e;
  e.code = code;
  e.number = number;
  e.SetText(text);
  return e;
}

}  // namespace

CompletionOutcome CompletionOf(int32_t reason, uint32_t result) {
  static constexpr CompletionOutcome kByReason[] = {
      {0, TWMSG_TRACE_COMPLETED},                                  // 0: decided by the result below
      {TWMSG_COMPLETION_KILLED_BY_USER, TWMSG_TRACE_KILLED_USER},  // 1
      {TWMSG_COMPLETION_CLOSED_BY_USER, TWMSG_TRACE_CLOSED_USER},  // 2
      {TWMSG_COMPLETION_KILLED_DURING_STOP, TWMSG_TRACE_KILLED_STOP},       // 3
      {TWMSG_COMPLETION_CLOSED_DURING_STOP, TWMSG_TRACE_CLOSED_STOP},       // 4
      {TWMSG_COMPLETION_KILLED_AFTER_TIMEOUT, TWMSG_TRACE_KILLED_TIMEOUT},  // 5
      {TWMSG_COMPLETION_CLOSED_AFTER_TIMEOUT, TWMSG_TRACE_CLOSED_TIMEOUT},  // 6
  };
  if (reason > 0 && reason <= kClosedTimeout) return kByReason[reason];
  if (reason == kEndedByItself && result == 0) return kByReason[0];
  if (reason == kEndedByItself && result != TWMSGTBL_NO_RESULT)
    return {TWMSG_COMPLETION_ENDED_WITH_ERROR, TWMSG_TRACE_COMPLETED_ERROR};
  return {TWMSG_COMPLETION_ABNORMAL, TWMSG_TRACE_COMPLETED_ERROR};
}

// ---------------------------------------------------------------- construction -----------

Scheduler::Scheduler(const SchedulerPipes& pipes, const SchedulerServices& services)
    : pipes_(pipes),
      store_(services.store != nullptr ? services.store : EngineControlStore()),
      launcher_(services.launcher != nullptr ? services.launcher : PlatformLauncher()),
      env_(services.env != nullptr ? services.env : tw::Env::Default()) {
  NewTextStream(&settings_.serverName);
  NewTextStream(&next_.activityName);

  if (uint32_t st = TWProcPipeCreate(kTimerPipeSize, &timerPipe_)) {
    timerPipe_ = nullptr;
    Fail(st, EventStartFailed, "%s\n");
    return;
  }
  if (services.runTimerThread) {
    timerArgs_ = TimerThreadArgs{pipes_.commands, timerPipe_, env_};
    if (uint32_t st = TWProcThreadCreate(TWMainTimerThread, &timerArgs_, &timerThread_)) {
      timerThread_ = nullptr;
      Fail(st, EventStartFailed, "%s\n");
      return;
    }
  }

  // The run table comes first: a second server on this installation must stop before it
  // registers with the control store or touches anything of the first one.
  if (uint32_t st = sharedTable_.Create()) {
    if (st == TWFAIL_SHMEM_EXISTS)
      Fail(TWFAIL_SERVER_RUNNING, EventTableHeld, "\n%s");
    else if (st == TWFAIL_RUNTABLE_MAP)
      Fail(TWFAIL_RUNTABLE_MAP, EventStartFailed, "\n%s");
    else
      Fail(TWFAIL_RUNTABLE_CREATE, EventTableHeld, "\n%s");
    return;
  }

  if (uint32_t st = TWSystemInit()) {
    TWSystemTerm();
    sharedTable_.Destroy();
    Fail(st, EventStartFailed, "%s\n");
    return;
  }
  systemStarted_ = true;

  // Registration comes before the session: a manager that served an earlier run of this
  // server ends what that run left locked.
  uint32_t st = store_->ServerState(CSMGR_STATE_STARTING);
  if (st == TWSUCCESS) st = store_->Init(&settings_);
  if (st != TWSUCCESS) {
    // The start has failed with st; ending the half-made session can add nothing to that.
    (void)store_->Term();
    sharedTable_.Destroy();
    Fail(st, EventStartFailed, "%s\n");
    return;
  }
  sessionOpen_ = true;

  if (settings_.maxActivities <= 0 || settings_.maxActivities > kMaxRuns)
    settings_.maxActivities = kMaxRuns;
  table_ = std::make_unique<RunTable>(sharedTable_.address(), settings_.maxActivities);
  table_->Reset();

  ArmStatus();

  ConsoleEvent started = Event(EventStarted, 0, StreamText(settings_.serverName));
  started.time = settings_.startTime;
  PostBoth(started);

  state_ = kStateRunning;
  pollDue_ = settings_.pollInterval != 0;
  started_ = true;
}

void Scheduler::Fail(uint32_t status, int32_t event, const char* format) {
  std::fprintf(stderr, format, tw::message_text(status).c_str());
  std::fflush(stderr);
  PostBoth(Event(event));
}

Scheduler::~Scheduler() {
  // Runs are left only when the loop did not end normally: end their processes and take
  // their ends off the command pipe, so no runner thread waits for room there.
  for (auto& run : runs_) KillRun(run.get(), false);
  while (!runs_.empty()) {
    SchedulerCommand c;
    if (ReadSchedulerCommand(pipes_.commands, &c) != TWSUCCESS) break;
    if (c.code != SchedRunEnded) continue;
    ActivityRun* run = RunByHandle(c.argument);
    if (run == nullptr || run->generation != c.run) continue;
    // Going down: the control store logs what it cannot record, and nobody is left to tell.
    if (!run->lost)
      (void)store_->DoneActivity(run->handle, CompletionOf(run->endReason, 0).completion);
    DropRun(run);
  }
  if (started_) {
    CancelPendingLaunch();
    (void)store_->ServerState(CSMGR_STATE_DOWN);
  }
  if (sessionOpen_) (void)store_->Term();
  table_.reset();
  sharedTable_.Destroy();
  if (systemStarted_) TWSystemTerm();
  TWStreamDataFree(&settings_.serverName);
  TWStreamDataFree(&next_.activityName);
  if (timerPipe_ != nullptr) {
    PostTimer(TimerCommand{TimerRemoveStatus, {}, 0, 0});
    PostTimer(TimerCommand{TimerQuit, {}, 0, 0});
    if (timerThread_ != nullptr) TWProcThreadWait(timerThread_, nullptr);
    TWProcPipeDestroy(timerPipe_);
  }
}

// ---------------------------------------------------------------- the loop ---------------

int Scheduler::Run() {
  if (!started_) return 1;
  ArmPoll();
  while (!ended_)
    if (!Step()) TWKeyboardSleep();
  PostBoth(Event(EventEnded));
  return 0;
}

bool Scheduler::Step() {
  if (ended_) return false;
  if (TWProcPipePeek(pipes_.commands)) {
    SchedulerCommand c;
    if (ReadSchedulerCommand(pipes_.commands, &c) == TWSUCCESS) Handle(c);
    return true;
  }
  if (launchPending_) {
    bool room = Launch();
    launchPending_ = false;
    if (room) pollDue_ = true;
    EndWhenIdle();
    return true;
  }
  if (pollDue_) {
    bool found = Poll();
    pollDue_ = found;
    launchPending_ = found;
    EndWhenIdle();
    return true;
  }
  return false;
}

void Scheduler::Handle(const SchedulerCommand& c) {
  switch (c.code) {
    case SchedPoll:
      if (state_ == kStateRunning) pollDue_ = true;
      break;
    case SchedStatus:
      PostStatus();
      break;
    case SchedRunEnded:
      RunEnded(c.argument, c.run);
      break;
    case SchedTimeout:
      Timeout(c.argument, c.run);
      break;
    case SchedKill: {
      ActivityRun* run = RunByNumber(c.argument);
      if (run != nullptr && run->generation == c.run) KillRun(run, false);
      break;
    }
    case SchedRunStarted:
      RunStarted(c.argument, c.run);
      break;
    case SchedDown:
      state_ = kStateShuttingDown;
      PostConsole(
          Event(runs_.empty() && !launchPending_ && !pollDue_ ? EventShutdown : EventWaiting));
      BeginEnd();
      break;
    case SchedList:
      List(c.source);
      break;
    case SchedShowStatus:
      ShowStatus(c.source);
      break;
    case SchedTraceOn:
      traceMask_.fetch_or(static_cast<uint32_t>(c.argument));
      break;
    case SchedTraceOff:
      traceMask_.fetch_and(~static_cast<uint32_t>(c.argument));
      break;
    case SchedClose:
      CloseRun(RunByNumber(c.argument), c.argument, false, false, true);
      break;
    case SchedKillConfirmed:
      if (ActivityRun* run = RunByNumber(c.argument)) KillRun(run, true);
      break;
    case SchedKillPrompt:
      KillPrompt(c.argument);
      break;
    case SchedRefresh:
      Refresh();
      break;
    default:  // SchedStop and every code without a meaning
      state_ = kStateStopping;
      PostConsole(Event(EventStopping));
      for (auto& run : runs_) CloseRun(run.get(), run->runNumber, false, true, false);
      BeginEnd();
      break;
  }
}

void Scheduler::BeginEnd() {
  Trace(kTraceKill, TWMSG_TRACE_KILLING_POLL);
  PostTimer(TimerCommand{TimerRemovePoll, {}, 0, 0});
  // No tick starts polling any more, but polls and launches under way go on until the
  // control store has nothing due (an activity it handed out is run, not left locked), and
  // the runs they start are waited for like the others.
  if (runs_.empty() && !launchPending_ && !pollDue_)
    ended_ = true;
  else
    waitingForLast_ = true;
}

void Scheduler::EndWhenIdle() {
  if (!waitingForLast_ || !runs_.empty() || launchPending_ || pollDue_) return;
  PostBoth(Event(EventShutdown));
  ended_ = true;
}

void Scheduler::CancelPendingLaunch() {
  if (!launchPending_) return;
  launchPending_ = false;
  if (store_->DoneActivity(next_.activityHandle, TWMSG_COMPLETION_CLOSED_DURING_STOP))
    Trace(kTraceStoreErrors | kTraceInternal, TWMSG_TRACE_CLEANUP_ERROR);
}

void Scheduler::PostStatus() {
  Trace(kTraceNotify, TWMSG_TRACE_STILL_ACTIVE);
  if (uint32_t st = store_->ServerState(CSMGR_STATE_ALIVE)) {
    Trace(kTraceStoreErrors, TWMSG_TRACE_STATUS_FAILED);
    RecoverStore(st);
  }
}

// ---------------------------------------------------------------- polling and launching --

bool Scheduler::Poll() {
  Trace(kTracePolling, TWMSG_TRACE_POLLING);
  if (static_cast<int32_t>(runs_.size()) >= settings_.maxActivities) return false;
  // A run of a lost control store may still use its handle, which the manager serving now
  // could hand to a new run: nothing is taken until such runs have ended.
  if (std::any_of(runs_.begin(), runs_.end(), [](const auto& r) { return r->lost; })) return false;
  TWStreamDataFree(&next_.activityName);
  next_.activityHandle = 0;
  if (uint32_t st = store_->NextActivity(&next_)) {
    // An outage of the Administrator database fails every poll until it ends: the console
    // hears of it once, and again only when the polls fail for another reason.
    if (st != pollFailure_) Trace(kTraceActivityErrors | kTraceInternal, TWMSG_TRACE_POLL_ERROR);
    pollFailure_ = st;
    RecoverStore(st);
    return false;
  }
  if (pollFailure_ != 0) {
    pollFailure_ = 0;
    // Said to whoever heard the failure; with polling messages on it has just been said.
    if ((traceMask_.load() & kTracePolling) == 0)
      Trace(kTraceActivityErrors | kTraceInternal, TWMSG_TRACE_POLLING);
  }
  return next_.activityHandle != 0;
}

void Scheduler::RecoverStore(uint32_t status) {
  if (status != TWFAIL_CSMGR_UNREACHABLE && status != TWFAIL_CSMGR_COMMUNICATION) return;
  // A passing failure while the manager still serves changes nothing.
  if (store_->Serving()) return;
  // The manager is gone, and with it the slots behind the handles of the runs: another is
  // started as at start-up (its own start-up ends this server's runs as terminated
  // abnormally) and the server registers with it again. A failure is tried again at the
  // next poll.
  if (store_->Startup() != TWSUCCESS) return;
  CSMgrServerSettings fresh{};
  NewTextStream(&fresh.serverName);
  uint32_t st = store_->ServerState(CSMGR_STATE_STARTING);
  if (st == TWSUCCESS) st = store_->Init(&fresh);
  TWStreamDataFree(&fresh.serverName);
  if (st != TWSUCCESS) {
    Trace(kTraceStoreErrors, TWMSG_TRACE_STATUS_FAILED);
    return;
  }
  // The runs the lost manager handed out are over as far as the control store knows: they
  // are closed as a stop closes runs, killed when they do not close, and never reported.
  for (auto& run : runs_) {
    if (run->lost) continue;
    run->lost = true;
    CloseRun(run.get(), run->runNumber, false, true, false);
  }
}

bool Scheduler::Launch() {
  auto run = std::make_unique<ActivityRun>();
  run->handle = next_.activityHandle;
  run->maxDuration = next_.maxDuration == -1 ? settings_.maxDuration : next_.maxDuration;
  run->priority = next_.priority;
  run->startTime = next_.startTime;
  run->name = NativeText(next_.activityName);
  run->commandPipe = pipes_.commands;
  run->consolePipe = pipes_.consoleEvents;
  run->launcher = launcher_;
  run->traceMask = &traceMask_;
  run->generation = nextGeneration_;
  nextGeneration_ = nextGeneration_ == INT32_MAX ? 1 : nextGeneration_ + 1;

  auto room = [&] { return static_cast<int32_t>(runs_.size()) < settings_.maxActivities; };

  bool retaken = false;
  run->entry = table_->Claim(run->handle, &retaken);
  if (run->entry < 0) {
    // No free entry: the runner could not find its handle, so the run is refused and the
    // activity released at once.
    Trace(kTraceInternal, TWMSG_TRACE_TABLE_NOT_CLEAN);
    if (store_->DoneActivity(run->handle, TWMSG_COMPLETION_ABNORMAL))
      Trace(kTraceStoreErrors | kTraceInternal, TWMSG_TRACE_CLEANUP_ERROR);
    return room();
  }
  if (retaken) Trace(kTraceInternal, TWMSG_TRACE_TABLE_NOT_CLEAN);
  run->timeoutPayload =
      SchedulerCommand{SchedTimeout, kSourceInternal, run->handle, run->generation};

  int32_t number = 1;
  auto at = runs_.begin();
  for (; at != runs_.end(); ++at, ++number)
    if ((*at)->runNumber > number) break;
  run->runNumber = number;
  ActivityRun* r = runs_.insert(at, std::move(run))->get();

  if (TWProcThreadCreate(TWMainRunnerThread, r, &r->thread) != TWSUCCESS) {
    Trace(kTraceActivityErrors | kTraceInternal, TWMSG_TRACE_LAUNCH_THREAD);
    r->thread = nullptr;
    int32_t handle = r->handle;
    DropRun(r);
    if (store_->DoneActivity(handle, TWMSG_COMPLETION_ABNORMAL))
      Trace(kTraceStoreErrors | kTraceInternal, TWMSG_TRACE_CLEANUP_ERROR);
    return room();
  }
  if (int32_t seconds = MinutesToSeconds(r->maxDuration))
    PostTimer(TimerCommand{TimerAddOnce, r->timeoutPayload, r->generation, seconds});
  // A run started while the server stops is closed at once, as the stop closed the others.
  if (state_ == kStateStopping) CloseRun(r, r->runNumber, false, true, false);
  return room();
}

// ---------------------------------------------------------------- ends of runs -----------

void Scheduler::RunStarted(int32_t handle, int32_t generation) {
  ActivityRun* run = RunByHandle(handle);
  if (run == nullptr || run->generation != generation)
    Trace(kTraceInternal, TWMSG_TRACE_NO_ACTIVITY_DATA);
}

void Scheduler::RunEnded(int32_t handle, int32_t generation) {
  ActivityRun* run = RunByHandle(handle);
  if (run == nullptr || run->generation != generation) {
    Trace(kTraceInternal, TWMSG_TRACE_NO_ACTIVITY_DATA);
    return;
  }
  PostTimer(TimerCommand{TimerRemove, {}, run->generation, 0});
  uint32_t result =
      table_->Handle(run->entry) == handle ? table_->Result(run->entry) : TWMSGTBL_NO_RESULT;
  CompletionOutcome outcome = CompletionOf(run->endReason, result);
  if (!run->lost && store_->DoneActivity(handle, outcome.completion))
    Trace(kTraceStoreErrors | kTraceInternal, TWMSG_TRACE_CLEANUP_ERROR);
  Trace(kTraceDone, outcome.message, run->name.c_str());
  DropRun(run);
  EndWhenIdle();
}

void Scheduler::DropRun(ActivityRun* run) {
  if (run->thread != nullptr) TWProcThreadWait(run->thread, nullptr);
  run->thread = nullptr;
  if (ProcessLauncher::Process p = run->process.exchange(nullptr)) launcher_->Free(p);
  if (run->entry >= 0 && table_->Handle(run->entry) == run->handle) table_->Free(run->entry);
  auto it = std::find_if(runs_.begin(), runs_.end(), [&](const auto& r) { return r.get() == run; });
  if (it != runs_.end()) runs_.erase(it);
}

void Scheduler::Timeout(int32_t handle, int32_t generation) {
  ActivityRun* run = RunByHandle(handle);
  if (run == nullptr || run->generation != generation) return;
  Trace(kTraceTimeout, TWMSG_TRACE_TIMED_OUT);
  CloseRun(run, run->runNumber, true, true, false);
}

void Scheduler::CloseRun(ActivityRun* run, int32_t number, bool timedOut, bool armKill,
                         bool byUser) {
  if (number == 0 || run == nullptr || run->entry < 0 ||
      table_->Handle(run->entry) != run->handle) {
    PostConsole(Event(EventNoRunToClose, number));
    return;
  }
  table_->SetCloseRequest(run->entry, timedOut ? TWCLOSE_TIMEOUT : TWCLOSE_REQUESTED);
  run->closeRequested = 1;
  // A run already killed ends for that reason, whatever close follows; a user's close does
  // not replace the reason of a time-out's or a stop's close, whose kill timer still runs.
  if (!run->killRequested.load() && (!byUser || run->endReason == kEndedByItself))
    run->endReason = timedOut ? kClosedTimeout : byUser ? kClosedUser : kClosedStop;
  int32_t reason = timedOut ? kReasonTimedOut : byUser ? kReasonUser : kReasonStopping;
  PostConsole(Event(EventClosing, reason, run->name));
  if (armKill && settings_.closeTimeout > 0) {
    PostTimer(TimerCommand{TimerRemove, {}, run->generation, 0});
    PostTimer(TimerCommand{
        TimerAddOnce, SchedulerCommand{SchedKill, kSourceInternal, run->runNumber, run->generation},
        run->generation, settings_.closeTimeout});
  }
}

void Scheduler::KillRun(ActivityRun* run, bool byUser) {
  int32_t reason;
  if (byUser) {
    run->endReason = kKilledUser;
    reason = kReasonUser;
  } else if (run->endReason == kClosedTimeout || run->endReason == kKilledTimeout) {
    run->endReason = kKilledTimeout;
    reason = kReasonTimedOut;
  } else {
    run->endReason = kKilledStop;
    reason = kReasonStopping;
  }
  PostConsole(Event(EventKilled, reason, run->name));
  // The runner thread stores the process and then looks at the request; this thread sets the
  // request and then looks at the process: whichever comes second kills.
  run->killRequested.store(true);
  if (ProcessLauncher::Process p = run->process.load())
    if (launcher_->Kill(p)) Trace(kTraceInternal, TWMSG_TRACE_KILL_FAILED);
}

// ---------------------------------------------------------------- answers ----------------

void Scheduler::KillPrompt(int32_t number) {
  if (ActivityRun* run = RunByNumber(number))
    PostConsole(Event(EventConfirmKill, number, run->name));
  else
    PostConsole(Event(EventNoRunToKill, number));
}

void Scheduler::List(int32_t source) {
  if (runs_.empty()) return PostTo(source, Event(EventListEmpty));
  PostTo(source, Event(EventListBegin));
  for (const auto& run : runs_) {
    ConsoleEvent e = Event(EventListLine, run->runNumber, run->name);
    e.closeRequested = run->closeRequested;
    e.time = run->startTime;
    PostTo(source, e);
  }
  PostTo(source, Event(EventListEnd));
}

void Scheduler::ShowStatus(int32_t source) {
  ConsoleEvent e = Event(EventStatus);
  e.status = StatusValues{settings_.serverId,
                          settings_.statusInterval,
                          settings_.pollInterval,
                          settings_.maxDuration,
                          settings_.closeTimeout,
                          settings_.maxActivities,
                          state_};
  TWDatetime now{};
  if (store_->Time(&now) == TWSUCCESS) e.time = now;
  PostTo(source, e);
}

void Scheduler::Refresh() {
  CSMgrServerSettings fresh{};
  NewTextStream(&fresh.serverName);
  if (store_->ServerInfo(&fresh)) {
    TWStreamDataFree(&fresh.serverName);
    Trace(kTraceStoreErrors, TWMSG_TRACE_STATUS_FAILED);
    return;
  }
  // The run table keeps its size.
  fresh.maxActivities = settings_.maxActivities;
  TWStreamDataFree(&settings_.serverName);
  settings_ = fresh;
  // Re-armed at once, so that an interval that was 0 before takes effect too.
  PostTimer(TimerCommand{TimerRemoveStatus, {}, 0, 0});
  ArmStatus();
  if (state_ == kStateRunning) {
    PostTimer(TimerCommand{TimerRemovePoll, {}, 0, 0});
    ArmPoll();
  }
}

// ---------------------------------------------------------------- helpers ----------------

ActivityRun* Scheduler::RunByNumber(int32_t number) {
  for (auto& run : runs_)
    if (run->runNumber == number) return run.get();
  return nullptr;
}

ActivityRun* Scheduler::RunByHandle(int32_t handle) {
  for (auto& run : runs_)
    if (run->handle == handle) return run.get();
  return nullptr;
}

void Scheduler::Trace(uint32_t classes, uint32_t message, const char* text) {
  if ((traceMask_.load() & classes) == 0) return;
  PostConsole(Event(EventTrace, static_cast<int32_t>(message), text));
}

void Scheduler::PostConsole(const ConsoleEvent& e) {
  // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
  if (pipes_.consoleEvents != nullptr) (void)PostConsoleEvent(pipes_.consoleEvents, e);
}

void Scheduler::PostBoth(const ConsoleEvent& e) {
  PostConsole(e);
  if (pipes_.snmpEvents != nullptr) (void)PostConsoleEvent(pipes_.snmpEvents, e);
}

void Scheduler::PostTo(int32_t source, const ConsoleEvent& e) {
  if (source == kSourceInternal) return PostBoth(e);
  if (source == kSourceConsole) return PostConsole(e);
  if (source == kSourceSnmp && pipes_.snmpEvents != nullptr)
    (void)PostConsoleEvent(pipes_.snmpEvents, e);
}

void Scheduler::PostTimer(const TimerCommand& c) {
  // The pipe waits for room and fails only once it is gone, when nobody is left to hear.
  if (timerPipe_ != nullptr) (void)PostTimerCommand(timerPipe_, c);
}

void Scheduler::ArmPoll() {
  if (settings_.pollInterval > 0)
    PostTimer(TimerCommand{TimerAddPoll, SchedulerCommand{SchedPoll, kSourceInternal, 0, 0}, 0,
                           settings_.pollInterval});
}

void Scheduler::ArmStatus() {
  if (int32_t seconds = MinutesToSeconds(settings_.statusInterval))
    PostTimer(TimerCommand{TimerAddStatus, SchedulerCommand{SchedStatus, kSourceInternal, 0, 0}, 0,
                           seconds});
}

}  // namespace tw::server
