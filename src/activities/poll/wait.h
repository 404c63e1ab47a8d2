// The poll activity's own property tokens, and its wait between two polls: slept in slices,
// so that a close request or the stop time is seen soon after it comes, even when polls are
// far apart.
#ifndef TW_ACTIVITIES_POLL_WAIT_H_
#define TW_ACTIVITIES_POLL_WAIT_H_

#include <cstdint>
#include <optional>

namespace tw::poll {

enum Token : uint32_t {
  kFrequency = 1,
  kStopTime = 2,
  kEventCount = 3,
  kExecuteList = 4,
  kSynchronous = 5,
  kPostLast = 6,
  kStatement = 7,
  kPostStatement = 8,
  kIgnoreError = 9,
};

// The longest single sleep of a wait.
constexpr uint32_t kSliceSeconds = 15;

// Waits seconds in slices of at most kSliceSeconds: sleep(slice) for each, then check(). A
// status from check ends the wait and the polling with that status; nullopt goes on. Answers
// nullopt after a whole wait (the next poll is due).
template <class Sleep, class Check>
std::optional<uint32_t> WaitInSlices(uint32_t seconds, Sleep&& sleep, Check&& check) {
  while (seconds > 0) {
    const uint32_t slice = seconds < kSliceSeconds ? seconds : kSliceSeconds;
    sleep(slice);
    seconds -= slice;
    if (std::optional<uint32_t> end = check()) return end;
  }
  return std::nullopt;
}

}  // namespace tw::poll

#endif  // TW_ACTIVITIES_POLL_WAIT_H_
