// The timer of twmain: one ordered list of one-shot alarms (a run's MaxDuration, a close's
// CloseTimeout) and periodic ticks (poll, status), armed and cancelled by TimerCommands on
// the timer pipe; an entry that falls due has its prepared SchedulerCommand posted on the
// scheduler command pipe.
//
// Thread rules: a Timer belongs to one thread (the timer thread, or a test driving it).
#ifndef TW_SERVER_TIMER_H_
#define TW_SERVER_TIMER_H_

#include <cstdint>
#include <list>

#include "env.h"
#include "platform.h"
#include "records.h"

namespace tw::server {

// The longest single wait of the timer thread.
inline constexpr int64_t kTimerMaxWaitMicros = 5'000'000;

class Timer {
 public:
  Timer(TWProcPipe* schedulerPipe, TWProcPipe* timerPipe)
      : schedulerPipe_(schedulerPipe), timerPipe_(timerPipe) {}

  // One round at time now (microseconds of the clock): first every command waiting on the
  // timer pipe is carried out, so that a removal posted before an entry fell due always wins;
  // then the entries due by now are posted in order, periodic ones re-armed a period after
  // now. A due entry is posted only while the scheduler command pipe is empty (it is left
  // due for the next round otherwise): the scheduler may itself be waiting for room on the
  // timer pipe, and both waiting on each other would hang the server. Answers false once
  // TimerQuit was read (the entries are then dropped).
  bool Round(int64_t now);
  // Carries out one command at time now (TimerQuit only drops the entries).
  void Execute(const TimerCommand& command, int64_t now);
  // Microseconds from now until the first entry falls due, at most kTimerMaxWaitMicros.
  int64_t NextWait(int64_t now) const;

  size_t size() const { return entries_.size(); }

 private:
  enum class Kind { kOnce, kStatus, kPoll };
  struct Entry {
    SchedulerCommand payload;
    int32_t id;
    int64_t period;  // microseconds; periodic kinds only
    int64_t due;
    Kind kind;
  };

  void Insert(Entry entry);
  void RemoveFirst(Kind kind, int32_t id);
  bool PostDue(int64_t now);

  TWProcPipe* schedulerPipe_;
  TWProcPipe* timerPipe_;
  std::list<Entry> entries_;  // by due time; equal due times in the order they came
};

// The argument of TWMainTimerThread; env's clock and sleep drive the thread (null: the
// process's Env).
struct TimerThreadArgs {
  TWProcPipe* schedulerPipe = nullptr;
  TWProcPipe* timerPipe = nullptr;
  tw::Env* env = nullptr;
};

}  // namespace tw::server

// The timer thread: runs Timer rounds until TimerQuit, sleeping until the next entry is due
// (at most 5 seconds) or a command arrives. Answers 1 at once for a null argument (or null
// pipes), else 0.
extern "C" uint32_t TWMainTimerThread(void* argument);

#endif  // TW_SERVER_TIMER_H_
