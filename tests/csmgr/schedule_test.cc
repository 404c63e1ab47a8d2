// The control store's schedule rules with a fixed "now" and time zone: repeats across
// daylight-saving changes, times of day over midnight, the month grid, stop times, failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "event.h"

namespace tw::csmgr {
namespace {

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

LocalTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int dst = -1) {
  LocalTime t;
  t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s, t.dst = dst;
  return t;
}
int32_t Tk(int h, int mi, int s = 0) {
  return ((h * 60 + mi) * 60 + s) * 100;
}

const Zone& Z();

std::string Show(std::optional<LocalTime> t) {
  if (!t) return "none";
  if (t->dst < 0) t->dst = Zone::System().IsDst(*t) ? 1 : 0;
  char b[64];
  snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d%s", t->year, t->month, t->day, t->hour,
           t->minute, t->second, t->dst == 1 ? " dst" : "");
  return b;
}

const Zone& Z() {
  return Zone::System();
}

struct RepeatCase {
  const char* name;
  const char* tz;
  LocalTime from;
  int32_t interval, scope;
  const char* want;
};

TEST(ScheduleRepeat, Table) {
  const RepeatCase cases[] = {
      {"daily", "UTC", At(2024, 5, 10, 8, 0), 1, kRepeatDays, "2024-05-11 00:00:00"},
      {"weekly", "UTC", At(2024, 5, 10, 8, 0), 2, kRepeatWeeks, "2024-05-24 00:00:00"},
      {"monthly 31st into short month", "UTC", At(2024, 1, 31, 9, 0), 1, kRepeatMonths,
       "2024-02-29 00:00:00"},
      {"monthly over year end", "UTC", At(2024, 11, 30), 3, kRepeatMonths, "2025-02-28 00:00:00"},
      {"no repeat scope", "UTC", At(2024, 5, 10, 8, 0), 5, 7, "2024-05-10 08:00:00"},
      // Hourly (60 minutes) is elapsed time across both changes.
      {"hourly London spring", "Europe/London", At(2024, 3, 31, 0, 30), 60, kRepeatMinutes,
       "2024-03-31 02:30:00 dst"},
      {"hourly London autumn", "Europe/London", At(2024, 10, 27, 0, 30, 0, 1), 60, kRepeatMinutes,
       "2024-10-27 01:30:00 dst"},
      {"hourly London autumn repeated hour", "Europe/London", At(2024, 10, 27, 1, 30, 0, 1), 60,
       kRepeatMinutes, "2024-10-27 01:30:00"},
      {"hourly New York spring", "America/New_York", At(2024, 3, 10, 1, 30), 60, kRepeatMinutes,
       "2024-03-10 03:30:00 dst"},
      {"hourly New York autumn", "America/New_York", At(2024, 11, 3, 1, 30, 0, 0), 60,
       kRepeatMinutes, "2024-11-03 02:30:00"},
      {"15 minutes across London autumn", "Europe/London", At(2024, 10, 27, 1, 50, 0, 1), 15,
       kRepeatMinutes, "2024-10-27 01:05:00"},
      // Days keep the calendar across a change: no extra hour, no lost day.
      {"daily late evening across autumn", "Europe/London", At(2024, 10, 26, 23, 30), 1,
       kRepeatDays, "2024-10-27 00:00:00 dst"},
      {"daily across New York spring", "America/New_York", At(2024, 3, 9, 23, 0), 1, kRepeatDays,
       "2024-03-10 00:00:00"},
  };
  for (const auto& c : cases) {
    ScopedTz tz(c.tz);
    EXPECT_EQ(Show(AddRepeat(c.from, c.interval, c.scope, Z())), c.want) << c.name;
  }
}

struct WindowCase {
  const char* name;
  Windows w;
  LocalTime t;
  const char* want;
};

TEST(ScheduleWindows, Table) {
  ScopedTz tz("UTC");
  const WindowCase cases[] = {
      {"no windows", {}, At(2024, 5, 10, 8, 0, 5), "2024-05-10 08:00:05"},
      {"single time later today", {{Tk(8, 0)}}, At(2024, 5, 10, 7, 0), "2024-05-10 08:00:00"},
      {"single time passed", {{Tk(8, 0)}}, At(2024, 5, 10, 8, 0, 5), "2024-05-11 08:00:00"},
      {"single time exact", {{Tk(8, 0)}}, At(2024, 5, 10, 8, 0), "2024-05-10 08:00:00"},
      {"nearest of two", {{Tk(18, 0), Tk(9, 0)}}, At(2024, 5, 10, 8, 0), "2024-05-10 09:00:00"},
      {"inside range",
       {{}, {{Tk(9, 0), Tk(17, 0)}}},
       At(2024, 5, 10, 12, 0),
       "2024-05-10 12:00:00"},
      {"range end included",
       {{}, {{Tk(9, 0), Tk(17, 0)}}},
       At(2024, 5, 10, 17, 0),
       "2024-05-10 17:00:00"},
      {"after range",
       {{}, {{Tk(9, 0), Tk(17, 0)}}},
       At(2024, 5, 10, 17, 0, 1),
       "2024-05-11 09:00:00"},
      {"over midnight, late",
       {{}, {{Tk(22, 0), Tk(2, 0)}}},
       At(2024, 5, 10, 23, 0),
       "2024-05-10 23:00:00"},
      {"over midnight, early",
       {{}, {{Tk(22, 0), Tk(2, 0)}}},
       At(2024, 5, 10, 1, 0),
       "2024-05-10 01:00:00"},
      {"over midnight, outside",
       {{}, {{Tk(22, 0), Tk(2, 0)}}},
       At(2024, 5, 10, 12, 0),
       "2024-05-10 22:00:00"},
      {"all weekdays is no filter",
       {{}, {}, {1, 2, 3, 4, 5, 6, 7}},
       At(2024, 5, 10, 8, 0),
       "2024-05-10 08:00:00"},
      // 2024-05-10 is a Friday; Monday = 2.
      {"monday only, time reset",
       {{Tk(6, 0)}, {}, {2}},
       At(2024, 5, 10, 8, 0),
       "2024-05-13 06:00:00"},
      {"day -1 leap February", {{}, {}, {}, {-1}}, At(2024, 2, 3, 10, 0), "2024-02-29 00:00:00"},
      {"31 in April", {{}, {}, {}, {31}}, At(2023, 4, 3), "2023-04-30 00:00:00"},
      {"day 15 passed: next month", {{}, {}, {}, {15}}, At(2024, 5, 20), "2024-06-15 00:00:00"},
      {"week 5 is 29th-31st", {{}, {}, {}, {}, {5}}, At(2024, 5, 3), "2024-05-29 00:00:00"},
      {"week -1 ends on last day", {{}, {}, {}, {}, {-1}}, At(2024, 4, 3), "2024-04-24 00:00:00"},
      {"week -1 and Saturday", {{}, {}, {7}, {}, {-1}}, At(2024, 4, 1), "2024-04-27 00:00:00"},
      {"first Monday", {{Tk(7, 0)}, {}, {2}, {}, {1}}, At(2024, 5, 10), "2024-06-03 07:00:00"},
      {"impossible grid", {{}, {}, {}, {31}, {1}}, At(2024, 5, 10), "none"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(ApplyWindows(c.w, c.t, Z())), c.want) << c.name;
}

TEST(ScheduleCalendar, MonthGridEdges) {
  EXPECT_EQ(MonthDays(2024, 2), 29);
  EXPECT_EQ(MonthDays(1900, 2), 28);
  EXPECT_EQ(MonthDays(1700, 2), 29);  // Julian rule before the change
  EXPECT_EQ(MonthDays(1752, 9), 19);
  EXPECT_EQ(FirstWeekday(2024, 5), 3);  // Wednesday
  EXPECT_EQ(FirstWeekday(1752, 9), 2);  // Tuesday, Julian
  EXPECT_EQ(FirstWeekday(1752, 10), 0);
  // Day 3 of September 1752 never existed: the 14th follows the 2nd.
  ScopedTz tz("UTC");
  EXPECT_EQ(Show(ApplyWindows({{}, {}, {5}}, At(1752, 9, 1), Z())), "1752-09-14 00:00:00");
}

struct ComputeCase {
  const char* name;
  ScheduleItems items;
  ScheduleMode mode;
  LocalTime now;
  const char* want_sched;
  bool disable, clear_asap;
  uint32_t status;
};

ScheduleItems Items(std::optional<LocalTime> sched, int32_t interval, int32_t scope,
                    Windows w = {}) {
  ScheduleItems it;
  it.sched_time = sched;
  it.repeat_interval = interval;
  it.repeat_scope = scope;
  it.windows = std::move(w);
  return it;
}

TEST(ScheduleCompute, Table) {
  ScopedTz tz("Europe/London");
  ScheduleItems asap = Items(At(2024, 5, 10, 8, 0), 1, kRepeatDays);
  asap.run_asap = true;
  ScheduleItems once = Items(At(2024, 5, 10, 8, 0), 1, kRepeatDays);
  once.one_time = true;
  ScheduleItems start = Items(std::nullopt, 1, kRepeatDays, {{Tk(8, 0)}});
  start.start_date = At(2024, 6, 1);
  ScheduleItems stop = Items(At(2024, 5, 10, 8, 0), 1, kRepeatDays, {{Tk(8, 0)}});
  stop.stop_date = At(2024, 5, 10, 23, 0);
  ScheduleItems no_repeat = Items(At(2024, 5, 10, 8, 0), 1, kRepeatDays);
  no_repeat.repeat_scope.reset();
  const ComputeCase cases[] = {
      {"daily 08:00 taken at 08:00:05", Items(At(2024, 5, 10, 8, 0), 1, kRepeatDays, {{Tk(8, 0)}}),
       ScheduleMode::kAdvance, At(2024, 5, 10, 8, 0, 5), "2024-05-11 08:00:00 dst", false, false,
       0},
      {"daily across autumn change", Items(At(2024, 10, 26, 8, 0), 1, kRepeatDays, {{Tk(8, 0)}}),
       ScheduleMode::kAdvance, At(2024, 10, 26, 8, 0, 5), "2024-10-27 08:00:00", false, false, 0},
      {"run asap keeps schedule", asap, ScheduleMode::kAdvance, At(2024, 5, 10, 8, 0), "none",
       false, true, 0},
      {"one time disables", once, ScheduleMode::kAdvance, At(2024, 5, 10, 8, 0), "none", true,
       false, 0},
      {"from now before start date", start, ScheduleMode::kFromNow, At(2024, 5, 10, 9, 0),
       "2024-06-01 08:00:00 dst", false, false, 0},
      {"past stop date", stop, ScheduleMode::kAdvance, At(2024, 5, 10, 8, 0),
       "2024-05-11 08:00:00 dst", true, false, 0},
      {"missing repeat scope", no_repeat, ScheduleMode::kAdvance, At(2024, 5, 10, 8, 0), "none",
       false, false, 798},
      {"missing SchedTime", Items(std::nullopt, 1, kRepeatDays), ScheduleMode::kAdvance,
       At(2024, 5, 10), "none", false, false, 798},
      {"unsatisfiable days disable",
       Items(At(2024, 5, 10), 1, kRepeatDays, {{}, {}, {}, {31}, {1}}), ScheduleMode::kAdvance,
       At(2024, 5, 10), "none", true, false, 0},
  };
  for (const auto& c : cases) {
    const ScheduleResult r = ComputeSchedule(c.items, c.mode, c.now, Z());
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(Show(r.sched_time), c.want_sched) << c.name;
    EXPECT_EQ(r.disable, c.disable) << c.name;
    EXPECT_EQ(r.clear_run_asap, c.clear_asap) << c.name;
  }
}

TEST(ScheduleStopTime, RangeEndsAndDays) {
  ScopedTz tz("UTC");
  const Windows night{{}, {{Tk(22, 0), Tk(2, 0)}}};
  EXPECT_EQ(Show(ComputeStopTime(night, At(2024, 5, 10, 23, 0), Z())), "2024-05-11 02:00:00");
  EXPECT_EQ(Show(ComputeStopTime(night, At(2024, 5, 10, 1, 0), Z())), "2024-05-10 02:00:00");
  // Weekdays only (Mon-Fri): a Friday run stops at Saturday's start.
  const Windows weekdays{{}, {}, {2, 3, 4, 5, 6}};
  EXPECT_EQ(Show(ComputeStopTime(weekdays, At(2024, 5, 10, 9, 0), Z())), "2024-05-11 00:00:00");
  EXPECT_EQ(Show(ComputeStopTime({}, At(2024, 5, 10, 9, 0), Z())), "none");
  // Single times alone never stop the run at its own start.
  EXPECT_EQ(Show(ComputeStopTime({{Tk(9, 0)}}, At(2024, 5, 10, 9, 0), Z())), "none");
}

TEST(ScheduleWindowPermits, PollWindow) {
  ScopedTz tz("UTC");
  const Windows at8{{Tk(8, 0)}};
  // Poll 60 s: 08:00 lies in the four polls before 08:03, not before 08:05.
  EXPECT_TRUE(WindowPermits(at8, At(2024, 5, 10, 8, 3), 60, Z()));
  EXPECT_FALSE(WindowPermits(at8, At(2024, 5, 10, 8, 5), 60, Z()));
  EXPECT_TRUE(WindowPermits({}, At(2024, 5, 10, 8, 5), 60, Z()));
  EXPECT_FALSE(WindowPermits({{}, {}, {}, {31}, {1}}, At(2024, 5, 10), 60, Z()));
}

TEST(ScheduleFailures, MaxFailures) {
  struct {
    int32_t failures;
    bool ok;
    int32_t max, want;
  } cases[] = {{0, true, 3, 0},  {2, true, 3, 0},    {0, false, 3, 1}, {2, false, 3, -1},
               {5, false, 0, 6}, {-1, false, 3, -1}, {-1, true, 3, 0}, {0, false, -2, 1}};
  for (const auto& c : cases)
    EXPECT_EQ(NextFailures(c.failures, c.ok, c.max), c.want)
        << c.failures << " " << c.ok << " " << c.max;
}

TEST(ScheduleTimedate, RoundTripKeepsZoneAndDaylight) {
  ScopedTz tz("Europe/London");
  for (const LocalTime& t : {At(2024, 7, 1, 12, 30, 15), At(2024, 1, 1, 0, 0, 1),
                             At(2024, 10, 27, 1, 30, 0, 0), At(2024, 10, 27, 1, 30, 0, 1)}) {
    const GVTIMEDATE v = ToTimedate(t, Z());
    const LocalTime back = FromTimedate(v, Z());
    EXPECT_EQ(Show(back), Show(Z().FromInstant(Z().ToInstant(t))));
  }
  const GVTIMEDATE summer = ToTimedate(At(2024, 7, 1, 12, 0), Z());
  EXPECT_EQ(summer.date >> 31, 1u);
  EXPECT_EQ(summer.ticks, 4320000u);
}

}  // namespace
}  // namespace tw::csmgr
