// The scheduler fed with commands against a fake control store and a fake launcher, its
// timer driven by hand: polling and launching, completion codes of every end reason, time-outs
// and kills, stop and down, stale commands of ended runs, and the answers to the console.
#include "scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue.h"
#include "server_test_util.h"
#include "timer.h"

namespace tw::server {
namespace {

using twtest::FakeStore;
using Done = FakeStore::Done;

constexpr int64_t kSecond = 1'000'000;

// Helpers are public so that the case tables below can act through them.
class SchedulerTest : public ::testing::Test {
 public:
  ~SchedulerTest() override {
    launcher_.EndAll();
    sched_.reset();
    EXPECT_EQ(launcher_.Unfreed(), 0);
  }

  void Start(bool snmp = false) {
    timer_.reset();
    sched_.reset();
    sched_ = std::make_unique<Scheduler>(
        SchedulerPipes{cmd_.get(), console_.get(), snmp ? snmp_.get() : nullptr},
        SchedulerServices{&store_, &launcher_, nullptr, false});
    if (sched_->timer_pipe() != nullptr)
      timer_ = std::make_unique<Timer>(cmd_.get(), sched_->timer_pipe());
    Settle();
  }

  // Runs scheduler turns and timer rounds (at the current time) until neither has work.
  void Settle() {
    for (int i = 0; i < 10000; ++i) {
      if (timer_) timer_->Round(now_);
      if (!sched_->Step()) return;
    }
    ADD_FAILURE() << "the scheduler never settled";
  }
  // Settles until pred holds, waiting for the runner threads (at most five seconds).
  void SettleUntil(const std::function<bool()>& pred) {
    EXPECT_TRUE(twtest::Eventually([&] {
      Settle();
      return pred();
    }));
  }
  // Moves the clock and lets whatever falls due reach the scheduler.
  void Advance(int64_t seconds) {
    now_ += seconds * kSecond;
    Settle();
  }
  void Send(int32_t code, int32_t argument = 0, int32_t source = kSourceConsole, int32_t run = 0) {
    ASSERT_EQ(PostSchedulerCommand(cmd_.get(), SchedulerCommand{code, source, argument, run}), 0u);
    Settle();
  }

  // Queues activities and lets the scheduler poll and launch them.
  void Due(std::initializer_list<twtest::DueActivity> activities) {
    for (const auto& a : activities) store_.due.push_back(a);
  }
  void LaunchAll(std::initializer_list<twtest::DueActivity> activities) {
    Due(activities);
    size_t want = launcher_.started() + activities.size();
    Send(SchedPoll, 0, kSourceInternal);
    SettleUntil([&] { return launcher_.started() == want; });
  }
  // The run's process writes result (unless kNoWrite) and ends; its completion arrives.
  static constexpr uint32_t kNoWrite = 0xFFFFFFFF;
  void End(int32_t handle, uint32_t result = 0) {
    if (result != kNoWrite) {
      int entry = sched_->run_table()->Find(handle);
      ASSERT_GE(entry, 0);
      sched_->run_table()->SetResult(entry, result);
    }
    size_t before = store_.done.size();
    launcher_.End(handle);
    SettleUntil([&] { return store_.done.size() > before; });
  }
  void AwaitDone(size_t n) {
    SettleUntil([&] { return store_.done.size() >= n; });
  }

  ActivityRun* Run(int32_t number) {
    for (const auto& r : sched_->runs())
      if (r->runNumber == number) return r.get();
    return nullptr;
  }
  std::vector<int32_t> RunNumbers() {
    std::vector<int32_t> out;
    for (const auto& r : sched_->runs()) out.push_back(r->runNumber);
    return out;
  }
  uint32_t CloseRequestOf(int32_t handle) {
    int entry = sched_->run_table()->Find(handle);
    return entry < 0 ? 0xDEAD : sched_->run_table()->CloseRequest(entry);
  }
  // An ended run's entry keeps its close request until the next claim.
  uint32_t CloseRequestAt(int entry) { return sched_->run_table()->CloseRequest(entry); }

  std::vector<ConsoleEvent> Events(TWProcPipe* pipe = nullptr) {
    auto got = twtest::DrainEvents(pipe != nullptr ? pipe : console_.get());
    return got;
  }
  static std::vector<int32_t> Codes(const std::vector<ConsoleEvent>& events) {
    std::vector<int32_t> out;
    for (const auto& e : events) out.push_back(e.code);
    return out;
  }
  // The trace messages among events.
  static std::vector<int32_t> Traces(const std::vector<ConsoleEvent>& events) {
    std::vector<int32_t> out;
    for (const auto& e : events)
      if (e.code == EventTrace) out.push_back(e.number);
    return out;
  }
  static std::vector<int32_t> Without(std::vector<int32_t> codes, int32_t code) {
    codes.erase(std::remove(codes.begin(), codes.end(), code), codes.end());
    return codes;
  }

  twtest::ServerInstallation inst_;
  twtest::Pipe cmd_{kSchedulerPipeSize};
  twtest::Pipe console_{kConsoleEventSize * 1024};
  twtest::Pipe snmp_{kConsoleEventSize * 64};
  FakeStore store_;
  twtest::FakeLauncher launcher_;
  std::unique_ptr<Scheduler> sched_;
  std::unique_ptr<Timer> timer_;
  int64_t now_ = 1000 * kSecond;
};

// ---------------------------------------------------------------- start-up ---------------

TEST_F(SchedulerTest, StartUpPostsTheServerToBothPipesAndResetsTheUsedEntries) {
  Start(true);
  ASSERT_TRUE(sched_->started());
  for (TWProcPipe* pipe : {console_.get(), snmp_.get()}) {
    auto events = Events(pipe);
    ASSERT_EQ(Codes(events), std::vector<int32_t>{EventStarted});
    EXPECT_STREQ(events[0].text, "Tarnway/Test");
    EXPECT_EQ(events[0].time.ticks, 360000u);
    EXPECT_EQ(events[0].time.date, 2450000u);
  }
  EXPECT_EQ(store_.inits, 1);
  // The server registers before its session: a manager that served an earlier run of it
  // ends what that run left.
  EXPECT_EQ(store_.states, std::vector<int32_t>{CSMGR_STATE_STARTING});
  EXPECT_EQ(sched_->run_table()->used(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sched_->run_table()->Result(i), 0x10000327u);
  EXPECT_EQ(timer_->size(), 1u);  // the status tick; the poll tick is armed by Run
  EXPECT_EQ(sched_->trace_mask(), 300u);
  EXPECT_EQ(sched_->state(), kStateRunning);
}

TEST_F(SchedulerTest, MaxActivitiesOutsideOneToHundredBecomesHundred) {
  for (int32_t max : {0, -3, 101}) {
    store_.settings.maxActivities = max;
    Start();
    EXPECT_EQ(sched_->settings().maxActivities, 100) << max;
    sched_.reset();
  }
}

TEST_F(SchedulerTest, AFailedSessionEndsStartUpAndReleasesTheRunTable) {
  store_.initStatus = 782;
  ::testing::internal::CaptureStderr();
  Start(true);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(sched_->started());
  EXPECT_NE(err.find(tw::message_text(782)), std::string::npos) << err;
  EXPECT_EQ(Codes(Events()), std::vector<int32_t>{EventStartFailed});
  EXPECT_EQ(Codes(Events(snmp_.get())), std::vector<int32_t>{EventStartFailed});
  EXPECT_EQ(sched_->Run(), 1);
  EXPECT_EQ(store_.terms, 1);
  SharedRunTable next;
  EXPECT_EQ(next.Create(), TWSUCCESS);
}

TEST_F(SchedulerTest, ASecondServerStopsAtTheRunTableAndTouchesNothingOfTheFirst) {
  Start();
  LaunchAll({{7, "Nightly"}});
  Events();

  twtest::Pipe cmd2(kSchedulerPipeSize), console2(kConsoleEventSize * 64);
  FakeStore store2;
  twtest::FakeLauncher launcher2;
  ::testing::internal::CaptureStderr();
  {
    Scheduler second(SchedulerPipes{cmd2.get(), console2.get(), nullptr},
                     SchedulerServices{&store2, &launcher2, nullptr, false});
    EXPECT_FALSE(second.started());
    EXPECT_EQ(second.Run(), 1);
  }
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "\n" + tw::message_text(4177));
  EXPECT_EQ(Codes(twtest::DrainEvents(console2.get())), std::vector<int32_t>{EventTableHeld});
  EXPECT_EQ(store2.inits, 0);
  EXPECT_TRUE(store2.states.empty());
  EXPECT_EQ(store2.terms, 0);

  int entry = sched_->run_table()->Find(7);
  ASSERT_EQ(entry, 0);
  EXPECT_EQ(sched_->run_table()->Result(entry), 0x10000327u);
  End(7);
  EXPECT_EQ(store_.done, (std::vector<Done>{{7, 0}}));
}

// ---------------------------------------------------------------- one run ----------------

TEST_F(SchedulerTest, APolledActivityRunsAsTaskrunAndItsEndIsReported) {
  Start();
  Events();
  LaunchAll({{9, "Copy orders", 5, 3, TWDatetime{1, 2}}});
  ASSERT_EQ(RunNumbers(), std::vector<int32_t>{1});
  auto proc = launcher_.Snapshot(0);
  EXPECT_EQ(proc.commandLine, "taskrun =9");
  EXPECT_EQ(proc.priority, 3);
  EXPECT_EQ(Run(1)->maxDuration, 5);
  EXPECT_EQ(sched_->run_table()->Handle(0), 9);

  End(9, 0);
  EXPECT_EQ(store_.done, (std::vector<Done>{{9, 0}}));
  auto events = Events();
  EXPECT_EQ(Traces(events), (std::vector<int32_t>{4112, 4113}));
  EXPECT_STREQ(events.back().text, "Copy orders");
  EXPECT_TRUE(sched_->runs().empty());
  EXPECT_EQ(sched_->run_table()->Handle(0), 0);
  EXPECT_EQ(sched_->run_table()->Result(0), 0x10000327u);
}

TEST_F(SchedulerTest, AnActivityWithoutMaxDurationTakesTheServersAndZeroArmsNoTimeOut) {
  Start();
  LaunchAll({{3, "A", -1}, {5, "B", 0}});
  EXPECT_EQ(Run(1)->maxDuration, 60);
  EXPECT_EQ(Run(2)->maxDuration, 0);
  EXPECT_EQ(timer_->size(), 2u);  // status and the time-out of run 1
}

TEST_F(SchedulerTest, ARunnerThatCannotStartItsProcessEndsAsTerminatedAbnormally) {
  Start();
  launcher_.startStatus = TWFAIL_PROCESS_EXEC;
  Due({{11, "Broken"}});
  Send(SchedPoll, 0, kSourceInternal);
  AwaitDone(1);
  EXPECT_EQ(store_.done, (std::vector<Done>{{11, 4149}}));
  EXPECT_TRUE(sched_->runs().empty());
}

struct EndCase {
  const char* name;
  std::function<void(SchedulerTest&)> act;  // what happens to run 1 (handle 5) meanwhile
  uint32_t result;                          // written by the process, or kNoWrite
  bool endsItself;                          // else it was killed
  uint32_t completion;
  int32_t message;
  uint32_t closeRequest;
};

// Names the case in test listings instead of dumping its bytes (which hold addresses).
void PrintTo(const EndCase& c, std::ostream* os) {
  *os << c.name;
}

class EndReasonTest : public SchedulerTest, public ::testing::WithParamInterface<EndCase> {};

// What happens to run 1 (handle 5, MaxDuration 1), as the timer, the console or the SNMP link
// would make it happen.
void KillByUser(SchedulerTest& t) {
  t.Send(SchedKillConfirmed, 1, kSourceSnmp);
}
void CloseByUser(SchedulerTest& t) {
  t.Send(SchedClose, 1);
}
void Stop(SchedulerTest& t) {
  t.Send(SchedStop);
}
void StopAndWait(SchedulerTest& t) {
  Stop(t);
  t.Advance(20);
}
void TimeOut(SchedulerTest& t) {
  t.Advance(60);
}
void TimeOutAndWait(SchedulerTest& t) {
  TimeOut(t);
  t.Advance(19);
  t.Advance(1);
}

TEST_P(EndReasonTest, GivesTheCompletionCodeOfItsReason) {
  const EndCase& k = GetParam();
  Start();
  LaunchAll({{5, "Reason", 1}});
  Events();
  if (k.act) k.act(*this);
  EXPECT_EQ(CloseRequestAt(0), k.closeRequest);
  if (k.endsItself)
    End(5, k.result);
  else
    AwaitDone(1);
  EXPECT_EQ(launcher_.Killed(5), !k.endsItself);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, k.completion}}));
  auto traces = Traces(Events());
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.back(), k.message);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, EndReasonTest,
    ::testing::Values(EndCase{"EndsWithSuccess", nullptr, 0, true, 0, 4113, 0},
                      EndCase{"EndsWithAnError", nullptr, 12545, true, 4148, 4120, 0},
                      EndCase{"EndsWithoutAResult", nullptr, SchedulerTest::kNoWrite, true, 4149,
                              4120, 0},
                      EndCase{"KilledByUser", KillByUser, 0, false, 4147, 4117, 0},
                      EndCase{"ClosedByUser", CloseByUser, 0, true, 4146, 4114, 1},
                      EndCase{"KilledDuringStop", StopAndWait, 0, false, 4151, 4118, 1},
                      EndCase{"ClosedDuringStop", Stop, 0, true, 4150, 4115, 1},
                      EndCase{"KilledAfterTimeout", TimeOutAndWait, 0, false, 4153, 4119, 2},
                      EndCase{"ClosedAfterTimeout", TimeOut, 1542, true, 4152, 4116, 2}),
    [](const ::testing::TestParamInfo<EndCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- many runs --------------

TEST_F(SchedulerTest, MaxActivitiesLimitsRunsAndAFreedSlotWaitsForThePollTick) {
  store_.settings.maxActivities = 2;
  Start();
  int polls = store_.polls;
  LaunchAll({{3, "A"}, {5, "B"}});
  Due({{7, "C"}});
  Settle();
  EXPECT_EQ(launcher_.started(), 2u);
  EXPECT_EQ(store_.polls, polls + 2);  // no third question while both slots are taken
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.polls, polls + 2);

  End(3);
  Settle();
  EXPECT_EQ(launcher_.started(), 2u);
  Send(SchedPoll, 0, kSourceInternal);
  SettleUntil([&] { return launcher_.started() == 3; });
  EXPECT_EQ(launcher_.Snapshot(2).commandLine, "taskrun =7");
  EXPECT_EQ(RunNumbers(), (std::vector<int32_t>{1, 2}));
}

TEST_F(SchedulerTest, ANewRunTakesTheSmallestFreeNumber) {
  Start();
  LaunchAll({{3, "A"}, {5, "B"}, {7, "C"}});
  EXPECT_EQ(RunNumbers(), (std::vector<int32_t>{1, 2, 3}));
  End(5);
  LaunchAll({{9, "D"}});
  EXPECT_EQ(RunNumbers(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Run(2)->handle, 9);
  LaunchAll({{11, "E"}});
  EXPECT_EQ(Run(4)->handle, 11);
}

TEST_F(SchedulerTest, ALaunchWithoutAFreeRunTableEntryIsRefusedAndReleased) {
  store_.settings.maxActivities = 2;
  Start();
  bool again;
  // Entries held by handles no run of this server has: the table is not clean.
  ASSERT_EQ(sched_->run_table()->Claim(901, &again), 0);
  ASSERT_EQ(sched_->run_table()->Claim(903, &again), 1);
  Events();
  Due({{13, "Refused"}});
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(launcher_.started(), 0u);
  EXPECT_TRUE(sched_->runs().empty());
  EXPECT_EQ(store_.done, (std::vector<Done>{{13, 4149}}));
  EXPECT_EQ(Traces(Events()), std::vector<int32_t>{4108});
  EXPECT_EQ(sched_->run_table()->Handle(0), 901);
}

// ---------------------------------------------------------------- closes and kills -------

TEST_F(SchedulerTest, ATimeOutCloseThatIsNotObeyedIsKilledAfterCloseTimeout) {
  Start();
  LaunchAll({{5, "Slow", 2}});
  Send(SchedTraceOn, kTraceTimeout);
  Events();
  Advance(119);
  EXPECT_EQ(CloseRequestOf(5), 0u);
  Advance(1);
  EXPECT_EQ(CloseRequestOf(5), 2u);
  auto events = Events();
  EXPECT_EQ(Traces(events), std::vector<int32_t>{4107});
  ASSERT_EQ(Without(Codes(events), EventTrace), std::vector<int32_t>{EventClosing});
  EXPECT_EQ(events.back().number, kReasonTimedOut);
  EXPECT_STREQ(events.back().text, "Slow");
  Advance(19);
  EXPECT_FALSE(launcher_.Killed(5));
  Advance(1);
  AwaitDone(1);
  EXPECT_TRUE(launcher_.Killed(5));
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4153}}));
  events = Events();
  ASSERT_GE(events.size(), 1u);
  EXPECT_EQ(events.front().code, EventKilled);
  EXPECT_EQ(events.front().number, kReasonTimedOut);
}

TEST_F(SchedulerTest, WithCloseTimeoutZeroATimeOutOnlyCloses) {
  store_.settings.closeTimeout = 0;
  Start();
  LaunchAll({{5, "Slow", 1}});
  Advance(60);
  EXPECT_EQ(CloseRequestOf(5), 2u);
  Advance(3600);
  EXPECT_FALSE(launcher_.Killed(5));
  EXPECT_EQ(timer_->size(), 1u);  // the status tick only
  End(5);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4152}}));
}

TEST_F(SchedulerTest, AUserCloseNeverLeadsToAKill) {
  Start();
  LaunchAll({{5, "Closed", 0}});
  Send(SchedClose, 1);
  EXPECT_EQ(CloseRequestOf(5), 1u);
  Advance(3600);
  EXPECT_FALSE(launcher_.Killed(5));
  EXPECT_EQ(timer_->size(), 1u);  // the status tick only
  End(5);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4146}}));
}

TEST_F(SchedulerTest, AUserCloseAfterATimeOutKeepsTheTimeOutsReasonAndKill) {
  Start();
  LaunchAll({{5, "Late", 1}});
  Advance(60);
  Send(SchedClose, 1);
  EXPECT_EQ(CloseRequestOf(5), 1u);
  Advance(20);
  AwaitDone(1);
  EXPECT_TRUE(launcher_.Killed(5));
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4153}}));
}

TEST_F(SchedulerTest, AKillRequestedBeforeTheProcessIsKnownStillKillsIt) {
  Start();
  Due({{5, "Early"}});
  Send(SchedPoll, 0, kSourceInternal);
  // The kill may be handled before or after the runner thread stored its process.
  Send(SchedKillConfirmed, 1);
  AwaitDone(1);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4147}}));
}

TEST_F(SchedulerTest, StaleCommandsOfAnEndedRunNeverReachTheRunThatReusesItsNumber) {
  Start();
  LaunchAll({{5, "Old", 1}});
  int32_t old = Run(1)->generation;
  Advance(60);  // timed out: close requested, kill timer armed
  End(5);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 4152}}));
  EXPECT_EQ(timer_->size(), 1u);  // its kill timer went with it
  LaunchAll({{5, "New", 1}});
  ASSERT_NE(Run(1), nullptr);
  ASSERT_NE(Run(1)->generation, old);
  Events();

  // What a timer or runner thread may still have posted for the old run.
  Send(SchedKill, 1, kSourceInternal, old);
  Send(SchedTimeout, 5, kSourceInternal, old);
  Send(SchedRunStarted, 5, kSourceInternal, old);
  Send(SchedRunEnded, 5, kSourceInternal, old);
  EXPECT_FALSE(launcher_.Killed(5));
  EXPECT_EQ(CloseRequestOf(5), 0u);
  EXPECT_EQ(RunNumbers(), std::vector<int32_t>{1});
  EXPECT_EQ(store_.done.size(), 1u);
  EXPECT_EQ(Without(Codes(Events()), EventTrace), std::vector<int32_t>{});

  // The old run's kill timer is gone: the new run runs its full time.
  Advance(59);
  EXPECT_EQ(CloseRequestOf(5), 0u);
  End(5);
  EXPECT_EQ(store_.done.back(), (Done{5, 0}));
}

// ---------------------------------------------------------------- stop and down ----------

TEST_F(SchedulerTest, StopClosesEveryRunAndEndsWhenTheLastHasEnded) {
  Start(true);
  LaunchAll({{3, "A"}, {5, "B"}, {7, "C"}});
  End(5);
  Events();
  Events(snmp_.get());
  Send(SchedStop);
  EXPECT_EQ(sched_->state(), kStateStopping);
  auto events = Events();
  EXPECT_EQ(Without(Codes(events), EventTrace),
            (std::vector<int32_t>{EventStopping, EventClosing, EventClosing}));
  EXPECT_EQ(CloseRequestOf(3), 1u);
  EXPECT_EQ(CloseRequestOf(7), 1u);
  EXPECT_FALSE(sched_->ended());

  End(3);
  Advance(20);  // run 3 (handle 7) does not close in time
  AwaitDone(3);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 0}, {3, 4150}, {7, 4151}}));
  EXPECT_TRUE(sched_->ended());
  EXPECT_EQ(Codes(Events(snmp_.get())), std::vector<int32_t>{EventShutdown});
}

TEST_F(SchedulerTest, DownStartsNothingMoreAndWaitsForTheRuns) {
  Start();
  LaunchAll({{3, "A"}});
  Events();
  Send(SchedDown);
  EXPECT_EQ(Without(Codes(Events()), EventTrace), std::vector<int32_t>{EventWaiting});
  Due({{5, "Late"}});
  int polls = store_.polls;
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.polls, polls);
  EXPECT_FALSE(sched_->ended());
  End(3);
  EXPECT_TRUE(sched_->ended());
  EXPECT_EQ(launcher_.started(), 1u);
  EXPECT_EQ(Codes(Events()).back(), EventShutdown);
}

TEST_F(SchedulerTest, DownWithoutRunsEndsAtOnce) {
  Start();
  Events();
  Send(SchedDown, 0, kSourceSnmp);
  EXPECT_TRUE(sched_->ended());
  EXPECT_EQ(Without(Codes(Events()), EventTrace), std::vector<int32_t>{EventShutdown});
  EXPECT_EQ(sched_->Run(), 0);
  EXPECT_EQ(Codes(Events()), std::vector<int32_t>{EventEnded});
}

// Down and stop arm no more polls, but a launch pending and the polls that follow it go on
// until the control store has nothing due; their runs are waited for (and, on a stop, closed
// at once like the others).
TEST_F(SchedulerTest, PollsAndLaunchesUnderWayAtDownOrStopGoOnAndTheirRunsAreWaitedFor) {
  struct Case {
    int32_t code;
    int32_t event;  // the first event after the command
    uint32_t closeRequest;
    uint32_t completion;
  };
  for (Case c : {Case{SchedDown, EventWaiting, TWCLOSE_NONE, 0},
                 Case{SchedStop, EventStopping, TWCLOSE_REQUESTED, 4150}}) {
    SCOPED_TRACE(c.code);
    store_.done.clear();
    Start();
    Events();
    Due({{15, "Taken"}, {17, "Next"}});
    ASSERT_EQ(PostSchedulerCommand(cmd_.get(), SchedulerCommand{SchedPoll, 0, 0, 0}), 0u);
    ASSERT_TRUE(sched_->Step());  // the tick
    ASSERT_TRUE(sched_->Step());  // the poll takes "Taken"; its launch is pending
    const size_t before = launcher_.started();
    Send(c.code);
    SettleUntil([&] { return launcher_.started() == before + 2; });
    EXPECT_EQ(Without(Codes(Events()), EventTrace).front(), c.event);
    EXPECT_TRUE(store_.due.empty());
    EXPECT_EQ(CloseRequestOf(15), c.closeRequest);
    EXPECT_EQ(CloseRequestOf(17), c.closeRequest);
    End(15);
    EXPECT_FALSE(sched_->ended());
    End(17);
    EXPECT_TRUE(sched_->ended());
    EXPECT_EQ(store_.done, (std::vector<Done>{{15, c.completion}, {17, c.completion}}));
    EXPECT_EQ(Codes(Events()).back(), EventShutdown);
    sched_.reset();
  }
}

TEST_F(SchedulerTest, AnUnknownCommandStopsTheServer) {
  for (int32_t code : {0, 3, 11, 19, 30, -1}) {
    Start();
    LaunchAll({{3, "A"}});
    Send(code);
    EXPECT_EQ(sched_->state(), kStateStopping) << code;
    EXPECT_EQ(CloseRequestOf(3), 1u);
    End(3);
    EXPECT_TRUE(sched_->ended());
    launcher_.EndAll();
    sched_.reset();
  }
}

// ---------------------------------------------------------------- a lost control store ---

TEST_F(SchedulerTest, ALostControlStoreIsStartedAgainAndTheRunsItHandedOutAreClosed) {
  Start();
  LaunchAll({{3, "A"}});
  Events();

  // A failure while the manager still serves is only traced.
  store_.nextStatus = TWFAIL_CSMGR_COMMUNICATION;
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.startups, 0);
  EXPECT_EQ(Traces(Events()), std::vector<int32_t>{4103});
  store_.nextStatus = 0;

  // The manager is gone and another cannot be started yet: tried again at the next poll.
  store_.serving = false;
  store_.startupStatus = TWFAIL_CSMGR_UNREACHABLE;
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.startups, 1);
  EXPECT_EQ(CloseRequestOf(3), 0u);
  EXPECT_EQ(Traces(Events()), std::vector<int32_t>{4103});

  store_.startupStatus = 0;
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.startups, 2);
  EXPECT_EQ(store_.states, (std::vector<int32_t>{CSMGR_STATE_STARTING, CSMGR_STATE_STARTING}));
  EXPECT_EQ(store_.inits, 2);
  // The run's handle means nothing to the new manager: it is closed as a stop closes runs,
  // and nothing is taken while it goes on.
  EXPECT_EQ(CloseRequestOf(3), 1u);
  Due({{5, "B"}});
  const int polls = store_.polls;
  Send(SchedPoll, 0, kSourceInternal);
  EXPECT_EQ(store_.polls, polls);
  Advance(20);  // CloseTimeout: it did not close, so it is killed
  SettleUntil([&] { return sched_->runs().empty(); });
  EXPECT_TRUE(launcher_.Killed(3));
  EXPECT_TRUE(store_.done.empty());

  // The server goes on with the new manager.
  Send(SchedPoll, 0, kSourceInternal);
  SettleUntil([&] { return launcher_.started() == 2; });
  EXPECT_EQ(launcher_.Snapshot(1).commandLine, "taskrun =5");
  End(5);
  EXPECT_EQ(store_.done, (std::vector<Done>{{5, 0}}));
}

// An outage of the Administrator database fails every poll until it ends: the console hears
// of it when it starts, when the polls fail for another reason and when they answer again,
// not at every tick, and the polls themselves go on at every tick.
TEST_F(SchedulerTest, FailingPollsAreSaidWhenTheyStartAndWhenPollingAnswersAgain) {
  struct Turn {
    uint32_t status;
    std::vector<int32_t> traces;
  };
  const std::vector<Turn> byDefault = {
      {0, {}},
      {TWFAIL_CSMGR_ORDEX_SERVER, {4103}},
      {TWFAIL_CSMGR_ORDEX_SERVER, {}},
      {TWFAIL_CSMGR_ORDEX_SERVER, {}},
      {TWFAIL_ADMIN_ACCESS, {4103}},
      {0, {4100}},
      {0, {}},
      {TWFAIL_CSMGR_ORDEX_SERVER, {4103}},
      {0, {4100}},
  };
  // With polling messages on every poll says 4100 itself, and polling again adds nothing.
  const std::vector<Turn> pollingShown = {
      {TWFAIL_CSMGR_ORDEX_SERVER, {4100, 4103}},
      {TWFAIL_CSMGR_ORDEX_SERVER, {4100}},
      {0, {4100}},
  };
  Start();
  Events();
  for (const auto* turns : {&byDefault, &pollingShown}) {
    if (turns == &pollingShown) Send(SchedTraceOn, kTracePolling);
    for (size_t i = 0; i < turns->size(); ++i) {
      const Turn& t = (*turns)[i];
      store_.nextStatus = t.status;
      const int polls = store_.polls;
      Send(SchedPoll, 0, kSourceInternal);
      EXPECT_EQ(store_.polls, polls + 1) << "turn " << i;
      EXPECT_EQ(Traces(Events()), t.traces) << "turn " << i;
    }
  }
}

TEST_F(SchedulerTest, DestructionReportsTheServerDownAndEndsTheSession) {
  Start();
  sched_.reset();
  EXPECT_EQ(store_.states, (std::vector<int32_t>{CSMGR_STATE_STARTING, CSMGR_STATE_DOWN}));
  EXPECT_EQ(store_.terms, 1);
  SharedRunTable next;
  EXPECT_EQ(next.Create(), TWSUCCESS);
}

// ---------------------------------------------------------------- answers ----------------

TEST_F(SchedulerTest, QueriesWithoutRunsAnswerTheirSource) {
  Start(true);
  Events();
  Events(snmp_.get());
  Send(SchedList, 0, kSourceConsole);
  Send(SchedList, 0, kSourceSnmp);
  Send(SchedList, 0, kSourceInternal);
  Send(SchedKillPrompt, 3);
  Send(SchedClose, 3);
  Send(SchedClose, 0);
  Send(SchedKillConfirmed, 3);
  auto events = Events();
  EXPECT_EQ(Codes(events), (std::vector<int32_t>{EventListEmpty, EventListEmpty, EventNoRunToKill,
                                                 EventNoRunToClose, EventNoRunToClose}));
  EXPECT_EQ(events[2].number, 3);
  EXPECT_EQ(events[3].number, 3);
  EXPECT_EQ(Codes(Events(snmp_.get())), (std::vector<int32_t>{EventListEmpty, EventListEmpty}));
}

TEST_F(SchedulerTest, ListAndKillPromptDescribeTheRuns) {
  Start(true);
  LaunchAll({{3, "A", -1, 0, TWDatetime{10, 20}}, {5, "B"}});
  Send(SchedClose, 2, kSourceSnmp);
  Events();
  Events(snmp_.get());
  Send(SchedList, 0, kSourceSnmp);
  auto list = Events(snmp_.get());
  ASSERT_EQ(Codes(list),
            (std::vector<int32_t>{EventListBegin, EventListLine, EventListLine, EventListEnd}));
  EXPECT_EQ(list[1].number, 1);
  EXPECT_STREQ(list[1].text, "A");
  EXPECT_EQ(list[1].closeRequested, 0);
  EXPECT_EQ(list[1].time.date, 20u);
  EXPECT_EQ(list[2].number, 2);
  EXPECT_EQ(list[2].closeRequested, 1);
  Send(SchedKillPrompt, 2);
  auto prompt = Events();
  ASSERT_EQ(Codes(prompt), std::vector<int32_t>{EventConfirmKill});
  EXPECT_EQ(prompt[0].number, 2);
  EXPECT_STREQ(prompt[0].text, "B");
}

TEST_F(SchedulerTest, StatusShowsTheSettingsStateAndControlStoreTime) {
  Start();
  LaunchAll({{3, "A"}});
  Send(SchedDown);
  Events();
  Send(SchedShowStatus);
  auto events = Events();
  ASSERT_EQ(Codes(events), std::vector<int32_t>{EventStatus});
  const StatusValues& s = events[0].status;
  EXPECT_EQ(s.serverId, 0x1F2);
  EXPECT_EQ(s.statusInterval, 15);
  EXPECT_EQ(s.pollInterval, 30);
  EXPECT_EQ(s.maxDuration, 60);
  EXPECT_EQ(s.closeTimeout, 20);
  EXPECT_EQ(s.maxActivities, 4);
  EXPECT_EQ(s.state, kStateShuttingDown);
  EXPECT_EQ(events[0].time.ticks, 123u);
}

TEST_F(SchedulerTest, TheStatusTickReportsTheServerAliveAndTracesItsClass) {
  Start();
  Send(SchedTraceOn, 1 | 64);
  EXPECT_EQ(sched_->trace_mask(), 300u | 65u);
  Events();
  Advance(15 * 60);
  EXPECT_EQ(store_.states, (std::vector<int32_t>{CSMGR_STATE_STARTING, CSMGR_STATE_ALIVE}));
  EXPECT_EQ(Traces(Events()), std::vector<int32_t>{4104});
  Send(SchedTraceOff, 1 | 256);
  EXPECT_EQ(sched_->trace_mask(), (300u | 65u) & ~257u);
  Advance(15 * 60);
  EXPECT_EQ(Traces(Events()), std::vector<int32_t>{});
}

TEST_F(SchedulerTest, RefreshTakesNewSettingsButKeepsTheRunTableSize) {
  store_.settings.pollInterval = 0;
  Start();
  Events();
  store_.settings.pollInterval = 10;
  store_.settings.maxActivities = 9;
  store_.settings.closeTimeout = 5;
  store_.serverName = "Renamed";
  Send(SchedRefresh);
  EXPECT_EQ(sched_->settings().pollInterval, 10);
  EXPECT_EQ(sched_->settings().closeTimeout, 5);
  EXPECT_EQ(sched_->settings().maxActivities, 4);
  // A poll interval that was 0 takes effect at once.
  Due({{3, "A"}});
  Advance(10);
  SettleUntil([&] { return launcher_.started() == 1; });

  store_.infoStatus = 783;
  Send(SchedRefresh);
  EXPECT_EQ(sched_->settings().pollInterval, 10);
}

}  // namespace
}  // namespace tw::server
