// The timer: order of due entries, removals read before posting, periodic entries, the
// scheduler pipe never waited on, and the timer thread on a clock that moves when told.
#include "timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "server_test_util.h"

namespace tw::server {
namespace {

constexpr int64_t kSecond = 1'000'000;
constexpr int64_t kStart = 100 * kSecond;

class TimerTest : public ::testing::Test {
 protected:
  void Send(int32_t command, int32_t code, int32_t argument, int32_t id, int32_t seconds) {
    ASSERT_EQ(PostTimerCommand(
                  timerPipe_.get(),
                  TimerCommand{command, SchedulerCommand{code, 0, argument, id}, id, seconds}),
              TWSUCCESS);
  }
  // Rounds at time t until nothing more is posted; the codes and arguments posted.
  std::vector<std::pair<int32_t, int32_t>> At(int64_t t) {
    std::vector<std::pair<int32_t, int32_t>> posted;
    for (int i = 0; i < 100; ++i) {
      timer_.Round(t);
      if (!TWProcPipePeek(schedPipe_.get())) break;
      SchedulerCommand c;
      EXPECT_EQ(ReadSchedulerCommand(schedPipe_.get(), &c), TWSUCCESS);
      posted.emplace_back(c.code, c.argument);
    }
    return posted;
  }
  using Posted = std::vector<std::pair<int32_t, int32_t>>;

  twtest::Pipe schedPipe_{kSchedulerPipeSize};
  twtest::Pipe timerPipe_{kTimerPipeSize};
  Timer timer_{schedPipe_.get(), timerPipe_.get()};
};

TEST_F(TimerTest, DueEntriesArePostedByTimeAndEqualTimesInTheOrderAdded) {
  Send(TimerAddOnce, SchedTimeout, 1, 1, 10);
  Send(TimerAddOnce, SchedTimeout, 2, 2, 5);
  Send(TimerAddOnce, SchedTimeout, 3, 3, 10);
  Send(TimerAddOnce, SchedKill, 4, 4, 5);
  EXPECT_EQ(At(kStart), Posted{});
  EXPECT_EQ(timer_.NextWait(kStart), 5 * kSecond);
  EXPECT_EQ(At(kStart + 4 * kSecond), Posted{});
  EXPECT_EQ(At(kStart + 5 * kSecond), (Posted{{SchedTimeout, 2}, {SchedKill, 4}}));
  EXPECT_EQ(At(kStart + 60 * kSecond), (Posted{{SchedTimeout, 1}, {SchedTimeout, 3}}));
  EXPECT_EQ(timer_.size(), 0u);
}

TEST_F(TimerTest, ARemovalWaitingOnThePipeWinsOverAnEntryThatFellDue) {
  Send(TimerAddOnce, SchedTimeout, 7, 41, 5);
  Send(TimerAddOnce, SchedTimeout, 9, 42, 5);
  EXPECT_EQ(At(kStart), Posted{});
  // The run ended just as its time-out fell due: the scheduler's removal is already queued.
  Send(TimerRemove, 0, 0, 41, 0);
  EXPECT_EQ(At(kStart + 5 * kSecond), (Posted{{SchedTimeout, 9}}));
}

TEST_F(TimerTest, RemovingAnUnknownIdOrAMissingKindChangesNothing) {
  Send(TimerAddOnce, SchedTimeout, 7, 41, 5);
  Send(TimerAddPoll, SchedPoll, 0, 0, 30);
  Send(TimerRemove, 0, 0, 99, 0);
  Send(TimerRemove, 0, 0, 0, 0);  // id 0 is no run: the periodic entries are not hit
  Send(TimerRemoveStatus, 0, 0, 0, 0);
  At(kStart);
  EXPECT_EQ(timer_.size(), 2u);
}

TEST_F(TimerTest, PeriodicEntriesComeBackUntilRemovedByKind) {
  Send(TimerAddPoll, SchedPoll, 0, 0, 30);
  Send(TimerAddStatus, SchedStatus, 0, 0, 900);
  At(kStart);
  EXPECT_EQ(At(kStart + 30 * kSecond), (Posted{{SchedPoll, 0}}));
  EXPECT_EQ(At(kStart + 59 * kSecond), Posted{});
  EXPECT_EQ(At(kStart + 60 * kSecond), (Posted{{SchedPoll, 0}}));
  Send(TimerRemovePoll, 0, 0, 0, 0);
  EXPECT_EQ(At(kStart + 900 * kSecond), (Posted{{SchedStatus, 0}}));
  EXPECT_EQ(timer_.size(), 1u);
}

TEST_F(TimerTest, APeriodOfZeroCannotMakeTheTimerSpin) {
  Send(TimerAddPoll, SchedPoll, 0, 0, 0);
  At(kStart);
  EXPECT_EQ(At(kStart + kSecond), (Posted{{SchedPoll, 0}}));
  EXPECT_EQ(timer_.NextWait(kStart + kSecond), kSecond);
}

TEST_F(TimerTest, ABusySchedulerPipeHoldsDueEntriesBack) {
  Send(TimerAddOnce, SchedTimeout, 1, 1, 1);
  Send(TimerAddOnce, SchedTimeout, 2, 2, 1);
  At(kStart);
  ASSERT_EQ(PostSchedulerCommand(schedPipe_.get(), SchedulerCommand{SchedList, 1, 0, 0}), 0u);
  timer_.Round(kStart + kSecond);
  SchedulerCommand c;
  ASSERT_EQ(ReadSchedulerCommand(schedPipe_.get(), &c), TWSUCCESS);
  EXPECT_EQ(c.code, SchedList);
  EXPECT_FALSE(TWProcPipePeek(schedPipe_.get()));
  EXPECT_EQ(timer_.NextWait(kStart + kSecond), 0);
  EXPECT_EQ(At(kStart + kSecond), (Posted{{SchedTimeout, 1}, {SchedTimeout, 2}}));
}

TEST_F(TimerTest, QuitDropsTheEntriesAndEndsTheRounds) {
  Send(TimerAddOnce, SchedTimeout, 1, 1, 1);
  Send(TimerQuit, 0, 0, 0, 0);
  EXPECT_FALSE(timer_.Round(kStart));
  EXPECT_EQ(timer_.size(), 0u);
  EXPECT_EQ(timer_.NextWait(kStart), kTimerMaxWaitMicros);
}

TEST(TimerThread, RefusesANullArgument) {
  EXPECT_EQ(TWMainTimerThread(nullptr), 1u);
  TimerThreadArgs none;
  EXPECT_EQ(TWMainTimerThread(&none), 1u);
}

TEST(TimerThread, PostsWhenTheClockReachesAnEntryAndEndsOnQuit) {
  twtest::Pipe sched(kSchedulerPipeSize);
  twtest::Pipe timerPipe(kTimerPipeSize);
  twtest::FakeClockEnv clock;
  TimerThreadArgs args{sched.get(), timerPipe.get(), &clock};
  TWProcThread* thread = nullptr;
  ASSERT_EQ(TWProcThreadCreate(TWMainTimerThread, &args, &thread), TWSUCCESS);
  struct Quit {
    TWProcPipe* pipe;
    TWProcThread* thread;
    uint32_t result = 99;
    ~Quit() {
      // Nothing to do in a destructor if the pipe is gone: the wait below still ends.
      (void)PostTimerCommand(pipe, TimerCommand{TimerQuit, {}, 0, 0});
      TWProcThreadWait(thread, &result);
    }
  } quit{timerPipe.get(), thread};

  ASSERT_EQ(
      PostTimerCommand(timerPipe.get(),
                       TimerCommand{TimerAddOnce, SchedulerCommand{SchedKill, 0, 3, 8}, 8, 600}),
      TWSUCCESS);
  // Once the thread has taken the command, its time is fixed: moving the clock makes it due.
  ASSERT_TRUE(twtest::Eventually([&] { return !TWProcPipePeek(timerPipe.get()); }));
  clock.Advance(599);
  clock.Advance(1);
  ASSERT_TRUE(twtest::Eventually([&] { return TWProcPipePeek(sched.get()) != 0; }));
  SchedulerCommand c;
  ASSERT_EQ(ReadSchedulerCommand(sched.get(), &c), TWSUCCESS);
  EXPECT_EQ(c.code, SchedKill);
  EXPECT_EQ(c.argument, 3);
  EXPECT_EQ(c.run, 8);
}

}  // namespace
}  // namespace tw::server
