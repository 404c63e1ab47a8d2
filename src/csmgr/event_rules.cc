// The schedule rules of the control store as pure functions: repeats, times of day, the
// month grid, stop times and failure counting, over wall-clock times and a time zone.
#include <algorithm>
#include <array>
#include <ctime>

#include "event.h"

namespace tw::csmgr {

namespace {

constexpr int32_t kTicksPerDay = 8640000;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int32_t* y, int32_t* m, int32_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int32_t>(yoe + era * 400 + (*m <= 2));
}

constexpr int64_t kJdnOf1970 = 2440588;

int64_t WallSeconds(const LocalTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 86400 + (t.hour * 60 + t.minute) * 60 + t.second;
}

bool GregorianLeap(int32_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// A position relative to t's date: whole days and the time of day.
struct DayTicks {
  int32_t days = 0;
  int32_t ticks = 0;
  int64_t Linear() const { return int64_t{days} * kTicksPerDay + ticks; }
};

LocalTime WithDayTicks(const LocalTime& t, const DayTicks& p) {
  LocalTime r = AddDays(t, p.days);
  r.SetTicksOfDay(p.ticks);
  return r;
}

int32_t ClampTicks(int32_t ticks) {
  return std::clamp(ticks, 0, kTicksPerDay - 1);
}

// The restrictions the month grid applies; lists cut to the counts the store reads.
struct DayLists {
  std::vector<int32_t> weekdays, days, weeks;
  bool weekday_filter = false;
};

DayLists ReadDayLists(const Windows& w) {
  DayLists l;
  l.weekdays.assign(w.active_days.begin(),
                    w.active_days.begin() + std::min<size_t>(w.active_days.size(), 7));
  l.days.assign(w.days_of_month.begin(),
                w.days_of_month.begin() + std::min<size_t>(w.days_of_month.size(), 32));
  l.weeks.assign(w.weeks_of_month.begin(),
                 w.weeks_of_month.begin() + std::min<size_t>(w.weeks_of_month.size(), 7));
  if (!l.weekdays.empty()) {
    for (int32_t wd = 1; wd <= 7; ++wd)
      if (std::find(l.weekdays.begin(), l.weekdays.end(), wd) == l.weekdays.end())
        l.weekday_filter = true;
  }
  return l;
}

// Cell i (0-based) of a month grid to the day of the month: September 1752 lost the 3rd to
// the 13th.
int32_t CellToDay(int32_t year, int32_t month, int32_t cell) {
  if (year == 1752 && month == 9 && cell >= 2) return cell + 12;
  return cell + 1;
}
int32_t DayToCell(int32_t year, int32_t month, int32_t day) {
  if (year == 1752 && month == 9 && day >= 14) return day - 12;
  if (year == 1752 && month == 9 && day > 2) return 2;  // a missing day: the next that exists
  return day - 1;
}

// The permitted days of one month, by cell.
std::array<bool, 42> MonthGrid(const DayLists& l, int32_t year, int32_t month) {
  std::array<bool, 42> grid{};
  const int32_t days = MonthDays(year, month);
  const int32_t first = FirstWeekday(year, month);
  for (int32_t c = 0; c < days; ++c) {
    const int32_t weekday = (first + c) % 7 + 1;  // 1 Sunday
    grid[c] = !l.weekday_filter ||
              std::find(l.weekdays.begin(), l.weekdays.end(), weekday) != l.weekdays.end();
  }
  if (l.days.empty() && l.weeks.empty()) return grid;
  // Both lists given: a day must be named by each (31 with week 1 is never permitted).
  std::array<bool, 42> by_day{}, by_week{};
  for (int32_t d : l.days) {
    if (d == 0) continue;
    int32_t day = d < 0 ? days + 1 + d : d;
    day = std::clamp(day, 1, days);
    by_day[day - 1] = true;
  }
  for (int32_t w : l.weeks) {
    if (w == 0) continue;
    int32_t from, to;  // 1-based cells
    if (w > 0) {
      w = std::min(w, 5);
      from = 7 * (w - 1) + 1;
      to = 7 * w;
    } else {
      // Block -k is the k-th run of seven days counted back from the last day, so -1 ends
      // on the last day.
      w = std::max(w, -5);
      to = days + 7 * (w + 1);
      from = to - 6;
    }
    for (int32_t c = std::max(from, 1); c <= std::min(to, days); ++c) by_week[c - 1] = true;
  }
  for (int32_t c = 0; c < days; ++c)
    grid[c] = grid[c] && (l.days.empty() || by_day[c]) && (l.weeks.empty() || by_week[c]);
  return grid;
}

// The first day number (1 Sunday) that the days of the week filter leaves: no filter
// and no day lists means no restriction at all.
bool DaysRestricted(const DayLists& l) {
  return l.weekday_filter || !l.days.empty() || !l.weeks.empty();
}

}  // namespace

void LocalTime::SetTicksOfDay(int32_t ticks) {
  ticks = ClampTicks(ticks);
  hundredth = ticks % 100;
  second = ticks / 100 % 60;
  minute = ticks / 6000 % 60;
  hour = ticks / 360000;
  dst = -1;
}

int64_t Zone::ToInstant(const LocalTime& t) const {
  auto wall = [&](int isdst) {
    struct tm tm {};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = isdst;
    return tm;
  };
  auto make = [&](int isdst, int64_t* out) {
    struct tm tm = wall(isdst);
    const time_t v = mktime(&tm);
    *out = static_cast<int64_t>(v);
    // Accepted only when the wall clock came back as asked (the hour exists with that flag).
    return v != static_cast<time_t>(-1) && tm.tm_hour == t.hour && tm.tm_min == t.minute &&
           tm.tm_mday == t.day && (isdst < 0 || tm.tm_isdst == isdst);
  };
  int64_t v = 0;
  if ((t.dst == 0 || t.dst == 1) && make(t.dst, &v)) return v;
  if (make(-1, &v)) return v;
  // A wall time in the spring gap: count it on the standard clock, as mktime normalises it.
  struct tm tm = wall(0);
  return static_cast<int64_t>(mktime(&tm));
}

LocalTime Zone::FromInstant(int64_t seconds) const {
  const time_t v = static_cast<time_t>(seconds);
  struct tm tm {};
  localtime_r(&v, &tm);
  LocalTime r;
  r.year = tm.tm_year + 1900;
  r.month = tm.tm_mon + 1;
  r.day = tm.tm_mday;
  r.hour = tm.tm_hour;
  r.minute = tm.tm_min;
  r.second = tm.tm_sec;
  r.dst = tm.tm_isdst > 0 ? 1 : 0;
  return r;
}

const Zone& Zone::System() {
  static const Zone zone;
  return zone;
}

int CompareTimes(const Zone& zone, const LocalTime& a, const LocalTime& b) {
  const int64_t ia = zone.ToInstant(a), ib = zone.ToInstant(b);
  if (ia != ib) return ia < ib ? -1 : 1;
  if (a.hundredth != b.hundredth) return a.hundredth < b.hundredth ? -1 : 1;
  return 0;
}

int32_t MonthDays(int32_t year, int32_t month) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (year == 1752 && month == 9) return 19;
  if (month != 2) return kDays[month - 1];
  const bool leap = year <= 1752 ? year % 4 == 0 : GregorianLeap(year);
  return leap ? 29 : 28;
}

int32_t FirstWeekday(int32_t year, int32_t month) {
  int64_t jdn;
  if (year < 1752 || (year == 1752 && month <= 9)) {
    // Julian calendar day number of the 1st.
    const int64_t a = (14 - month) / 12;
    const int64_t y = int64_t{year} + 4800 - a;
    const int64_t m = month + 12 * a - 3;
    jdn = 1 + (153 * m + 2) / 5 + 365 * y + y / 4 - 32083;
  } else {
    jdn = DaysFromCivil(year, month, 1) + kJdnOf1970;
  }
  return static_cast<int32_t>(((jdn + 1) % 7 + 7) % 7);
}

LocalTime AddDays(const LocalTime& t, int32_t days) {
  LocalTime r = t;
  CivilFromDays(DaysFromCivil(t.year, t.month, t.day) + days, &r.year, &r.month, &r.day);
  r.dst = -1;
  return r;
}

LocalTime ApplyTimesOfDay(const Windows& w, const LocalTime& t, bool for_stop, const Zone& zone) {
  (void)zone;
  if (w.single_times.empty() && w.ranges.empty()) return t;
  const DayTicks now{0, t.TicksOfDay()};
  std::vector<DayTicks> singles;
  std::vector<std::pair<DayTicks, DayTicks>> ranges;
  for (int32_t s : w.single_times) {
    DayTicks p{0, ClampTicks(s)};
    if (p.Linear() < now.Linear()) p.days = 1;
    singles.push_back(p);
  }
  for (const auto& [a, b] : w.ranges) {
    DayTicks start{0, ClampTicks(a)}, end{0, ClampTicks(b)};
    if (end.ticks < start.ticks) {
      if (end.Linear() < now.Linear())
        end.days = 1;
      else
        start.days = -1;
    }
    if (end.Linear() < now.Linear()) {
      ++start.days;
      ++end.days;
    }
    ranges.emplace_back(start, end);
  }
  const DayTicks* best = nullptr;
  auto consider = [&](const DayTicks& p) {
    const int64_t diff = p.Linear() - now.Linear();
    if (diff > 0 && (!best || diff < best->Linear() - now.Linear())) best = &p;
  };
  if (for_stop) {
    for (const auto& r : ranges) consider(r.second);
  } else {
    for (const auto& s : singles)
      if (s.Linear() == now.Linear()) return t;
    for (const auto& r : ranges)
      if (r.first.Linear() <= now.Linear() && now.Linear() <= r.second.Linear()) return t;
    for (const auto& s : singles) consider(s);
    for (const auto& r : ranges) consider(r.first);
  }
  return best ? WithDayTicks(t, *best) : t;
}

std::optional<LocalTime> ApplyDays(const Windows& w, const LocalTime& t, bool for_stop) {
  const DayLists lists = ReadDayLists(w);
  if (!DaysRestricted(lists)) {
    if (for_stop) return std::nullopt;  // every day is permitted: no stop day
    return t;
  }
  LocalTime cur = t;
  int32_t from_cell = DayToCell(cur.year, cur.month, cur.day);
  for (int32_t month = 0; month < kDaySearchYears * 12 + 1; ++month) {
    const auto grid = MonthGrid(lists, cur.year, cur.month);
    const int32_t days = MonthDays(cur.year, cur.month);
    for (int32_t c = std::max(from_cell, 0); c < days; ++c) {
      if (grid[c] != for_stop) {
        LocalTime r = cur;
        r.day = CellToDay(cur.year, cur.month, c);
        r.dst = -1;
        return r;
      }
    }
    cur.day = 1;
    if (++cur.month > 12) {
      cur.month = 1;
      ++cur.year;
    }
    cur.dst = -1;
    from_cell = 0;
  }
  return std::nullopt;
}

std::optional<LocalTime> ApplyWindows(const Windows& w, const LocalTime& t, const Zone& zone) {
  LocalTime r = ApplyTimesOfDay(w, t, false, zone);
  const LocalTime before = r;
  const auto days = ApplyDays(w, r, false);
  if (!days) return std::nullopt;
  r = *days;
  if (r.year != before.year || r.month != before.month || r.day != before.day) {
    r.SetTicksOfDay(0);
    r = ApplyTimesOfDay(w, r, false, zone);
  }
  return r;
}

LocalTime AddRepeat(const LocalTime& t, int32_t interval, int32_t scope, const Zone& zone) {
  switch (scope) {
    case kRepeatMinutes: {
      // Minutes are elapsed time: across a change the wall clock moves by the hour the
      // change adds or takes, and no correction applies.
      LocalTime r = zone.FromInstant(zone.ToInstant(t) + int64_t{interval} * 60);
      r.hundredth = t.hundredth;
      return r;
    }
    case kRepeatDays:
    case kRepeatWeeks: {
      // Days, weeks and months step on the calendar, which keeps the wall clock's hour across
      // a daylight-saving change (what an elapsed-time step needed the hour correction for).
      LocalTime r = AddDays(t, scope == kRepeatDays ? interval : 7 * interval);
      r.SetTicksOfDay(0);
      return r;
    }
    case kRepeatMonths: {
      LocalTime r = t;
      int64_t months = int64_t{t.year} * 12 + (t.month - 1) + interval;
      r.year = static_cast<int32_t>(months / 12);
      r.month = static_cast<int32_t>(months % 12) + 1;
      r.day = std::min(t.day, MonthDays(r.year, r.month));
      r.SetTicksOfDay(0);
      return r;
    }
    default:
      return t;
  }
}

std::optional<LocalTime> ComputeStopTime(const Windows& w, const LocalTime& base,
                                         const Zone& zone) {
  // Only ranges have ends; single times alone restrict nothing a run could overrun, so the
  // stop then comes from the days (a stop at the run's own start would end it at once).
  if (!w.ranges.empty()) return ApplyTimesOfDay(w, base, true, zone);
  auto day = ApplyDays(w, base, true);
  if (!day) return std::nullopt;
  day->SetTicksOfDay(0);
  return day;
}

ScheduleResult ComputeSchedule(const ScheduleItems& items, ScheduleMode mode, const LocalTime& now,
                               const Zone& zone) {
  ScheduleResult res;
  LocalTime base = now;
  if (mode == ScheduleMode::kAdvance) {
    if (!items.sched_time) {
      res.status = TWFAIL_ACTIVITY_ITEM;
      res.missing_item = "SchedTime";
      return res;
    }
    base = *items.sched_time;
  }
  const LocalTime run_start = base;
  bool store = true;
  if (mode == ScheduleMode::kAdvance) {
    if (items.run_asap) {
      res.clear_run_asap = true;
      store = false;
    } else if (items.one_time) {
      res.disable = true;
      store = false;
    } else {
      if (!items.repeat_interval || !items.repeat_scope) {
        res.status = TWFAIL_ACTIVITY_ITEM;
        res.missing_item = !items.repeat_interval ? "RepeatInterval" : "RepeatScope";
        return res;
      }
      base = AddRepeat(base, *items.repeat_interval, *items.repeat_scope, zone);
    }
  } else if (items.start_date && CompareTimes(zone, base, *items.start_date) < 0) {
    base = *items.start_date;
  }
  if (store) {
    auto windowed = ApplyWindows(items.windows, base, zone);
    if (!windowed) {
      res.no_permitted_day = true;
      res.disable = true;
    } else {
      base = *windowed;
      if (items.stop_date && CompareTimes(zone, base, *items.stop_date) > 0) res.disable = true;
      res.sched_time = base;
    }
  }
  if (items.wants_stop_time) {
    res.store_stop_time = true;
    res.stop_time = ComputeStopTime(items.windows, run_start, zone);
  }
  return res;
}

bool WindowPermits(const Windows& w, const LocalTime& now, int32_t poll_interval_seconds,
                   const Zone& zone) {
  LocalTime from = zone.FromInstant(zone.ToInstant(now) - int64_t{poll_interval_seconds} * 4);
  from.hundredth = now.hundredth;
  const auto t = ApplyWindows(w, from, zone);
  return t && CompareTimes(zone, *t, now) < 0;
}

int32_t NextFailures(int32_t failures, bool succeeded, int32_t max_failures) {
  if (succeeded) return 0;
  if (failures < 0) return failures;
  if (failures < INT32_MAX) ++failures;
  if (max_failures > 0 && failures >= max_failures) return -1;
  return failures;
}

LocalTime FromTimedate(const GVTIMEDATE& v, const Zone& zone) {
  const uint32_t jdn = v.date & 0xFFFFFFu;
  int32_t z = static_cast<int32_t>((v.date >> 24) & 0x7Fu);
  if (z >= 64) z -= 128;
  const int32_t dst = static_cast<int32_t>(v.date >> 31);
  LocalTime wall;
  CivilFromDays(int64_t{jdn} - kJdnOf1970, &wall.year, &wall.month, &wall.day);
  const uint32_t ticks = v.ticks < static_cast<uint32_t>(kTicksPerDay) ? v.ticks : 0;
  wall.SetTicksOfDay(static_cast<int32_t>(ticks));
  const int64_t instant = WallSeconds(wall) - int64_t{z + dst} * 3600;
  LocalTime r = zone.FromInstant(instant);
  r.hundredth = wall.hundredth;
  return r;
}

GVTIMEDATE ToTimedate(const LocalTime& t, const Zone& zone) {
  const int64_t instant = zone.ToInstant(t);
  const LocalTime wall = zone.FromInstant(instant);
  const int64_t offset = WallSeconds(wall) - instant;
  const int32_t zone_hours = static_cast<int32_t>((offset - wall.dst * 3600) / 3600);
  GVTIMEDATE v{};
  const int64_t jdn = DaysFromCivil(wall.year, wall.month, wall.day) + kJdnOf1970;
  v.date = (static_cast<uint32_t>(jdn) & 0xFFFFFFu) |
           ((static_cast<uint32_t>(zone_hours) & 0x7Fu) << 24) | (wall.dst == 1 ? 0x80000000u : 0u);
  v.ticks = static_cast<uint32_t>(((wall.hour * 60 + wall.minute) * 60 + wall.second) * 100 +
                                  t.hundredth);
  return v;
}

}  // namespace tw::csmgr
