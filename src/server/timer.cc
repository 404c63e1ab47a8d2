// The timer list and the timer thread of twmain.
#include "timer.h"

#include <algorithm>

#include "tw/guard.h"

namespace tw::server {
namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;
// How often a sleeping timer thread looks for new commands.
constexpr int64_t kCommandCheckMicros = 50'000;

int64_t Seconds(int32_t seconds) {
  return static_cast<int64_t>(seconds < 0 ? 0 : seconds) * kMicrosPerSecond;
}

}  // namespace

void Timer::Insert(Entry entry) {
  auto at = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.due > entry.due; });
  entries_.insert(at, entry);
}

void Timer::RemoveFirst(Kind kind, int32_t id) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
    return e.kind == kind && (kind != Kind::kOnce || e.id == id);
  });
  if (it != entries_.end()) entries_.erase(it);
}

void Timer::Execute(const TimerCommand& c, int64_t now) {
  switch (c.command) {
    case TimerAddOnce:
      Insert(Entry{c.payload, c.id, 0, now + Seconds(c.seconds), Kind::kOnce});
      break;
    case TimerRemove:
      RemoveFirst(Kind::kOnce, c.id);
      break;
    case TimerQuit:
      entries_.clear();
      break;
    case TimerAddStatus:
    case TimerAddPoll: {
      // A period of 0 would fall due at every round for ever.
      int64_t period = std::max(Seconds(c.seconds), kMicrosPerSecond);
      Insert(Entry{c.payload, 0, period, now + period,
                   c.command == TimerAddStatus ? Kind::kStatus : Kind::kPoll});
      break;
    }
    case TimerRemoveStatus:
      RemoveFirst(Kind::kStatus, 0);
      break;
    case TimerRemovePoll:
      RemoveFirst(Kind::kPoll, 0);
      break;
    default:
      break;
  }
}

bool Timer::PostDue(int64_t now) {
  while (!entries_.empty() && entries_.front().due <= now) {
    if (TWProcPipePeek(schedulerPipe_)) return false;
    Entry e = entries_.front();
    entries_.pop_front();
    // Checked empty above, so it does not wait; it fails only once the scheduler's pipe is gone.
    (void)PostSchedulerCommand(schedulerPipe_, e.payload);
    if (e.kind != Kind::kOnce) {
      e.due = now + e.period;
      Insert(e);
    }
  }
  return true;
}

bool Timer::Round(int64_t now) {
  while (TWProcPipePeek(timerPipe_)) {
    TimerCommand c;
    if (ReadTimerCommand(timerPipe_, &c) != TWSUCCESS) break;
    Execute(c, now);
    if (c.command == TimerQuit) return false;
  }
  PostDue(now);
  return true;
}

int64_t Timer::NextWait(int64_t now) const {
  if (entries_.empty()) return kTimerMaxWaitMicros;
  return std::clamp<int64_t>(entries_.front().due - now, 0, kTimerMaxWaitMicros);
}

}  // namespace tw::server

extern "C" uint32_t TWMainTimerThread(void* argument) {
  using namespace tw::server;
  if (argument == nullptr) return 1;
  return tw::guard([&]() -> uint32_t {
    const auto& args = *static_cast<const TimerThreadArgs*>(argument);
    if (args.schedulerPipe == nullptr || args.timerPipe == nullptr) return 1;
    tw::Env* env = args.env != nullptr ? args.env : tw::Env::Default();
    Timer timer(args.schedulerPipe, args.timerPipe);
    for (;;) {
      int64_t now = env->NowMicros();
      if (!timer.Round(now)) return 0;
      // A due entry held back by a busy scheduler pipe is tried again after a short wait.
      int64_t wait = std::max(timer.NextWait(now), int64_t{1000});
      int64_t until = now + wait;
      while (!TWProcPipePeek(args.timerPipe)) {
        int64_t left = until - env->NowMicros();
        if (left <= 0) break;
        env->SleepMicros(std::min(left, kCommandCheckMicros));
      }
    }
  });
}
