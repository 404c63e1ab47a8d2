// Date-time values: Julian day and hundredths, each half separately null, with a whole-hour
// zone and a daylight bit; parts, adjustment, comparison, difference and the clock.
#include "timedate.h"

#include <time.h>

#include <cstdint>

namespace plexa {
namespace {

constexpr int kMinZone = -12;
constexpr int kMaxZone = 14;

static_assert(tw::julian_from_civil(1, 1, 1) == kJulianMin &&
              tw::julian_from_civil(32767, 12, 31) == kJulianMax);

bool InRange(int64_t julian) {
  return julian >= kJulianMin && julian <= kJulianMax;
}

ZoneDst ZoneOf(const struct tm& tm) {
  ZoneDst z;
  z.dst = tm.tm_isdst > 0 ? 1 : 0;
  // Whole hours only: a standard offset such as +5:30 is rounded to the nearest hour.
  const long standard = tm.tm_gmtoff - z.dst * 3600L;
  long hours = standard >= 0 ? (standard + 1800) / 3600 : -((-standard + 1800) / 3600);
  if (hours < kMinZone) hours = kMinZone;
  if (hours > kMaxZone) hours = kMaxZone;
  z.zone = static_cast<int>(hours);
  return z;
}

int64_t NowHundredths() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 100 + ts.tv_nsec / 10000000;
}

// The machine's zone for a value's wall clock: its date at noon when it has no time, now
// when it has no date.
ZoneDst MachineZoneFor(const TimeFields& f) {
  if (f.dateNull) return MachineZoneAtInstant(tw::floor_div(NowHundredths(), 100));
  const int64_t seconds =
      (f.julian - kJulianUnixEpoch) * 86400 + (f.timeNull ? 12 * 3600 : f.ticks / 100);
  return MachineZoneAtWall(seconds);
}

}  // namespace

int64_t JulianFromCivil(int64_t year, int month, int day) {
  return tw::julian_from_civil(year, month, day);
}

CivilDate CivilFromJulian(int64_t julian) {
  return tw::civil_from_julian(julian);
}

int DaysInMonth(int64_t year, int month) {
  return month < 1 || month > 12 ? 0 : tw::days_in_month(year, month);
}

int WeekdayOf(int64_t julian) {
  return tw::weekday_of(julian);
}

uint32_t DecodeTime(const GVTIMEDATE& value, TimeFields& out) {
  TimeFields f;
  if (value.ticks == 0 && value.date == 0) {
    out = f;
    return 0;
  }
  const uint32_t day = value.date & kNullDate;
  f.dateNull = day == kNullDate;
  if (!f.dateNull) {
    if (!InRange(day)) return GVERR_DATETIME;
    f.julian = day;
  }
  f.timeNull = value.ticks == kNullTicks;
  if (!f.timeNull) {
    if (value.ticks >= kTicksPerDay) return GVERR_DATETIME;
    f.ticks = value.ticks;
  }
  const int bits = static_cast<int>((value.date >> 24) & 0x7F);
  f.zone = bits >= 64 ? bits - 128 : bits;
  if (f.zone < kMinZone || f.zone > kMaxZone) return GVERR_DATETIME;
  f.dst = static_cast<int>(value.date >> 31);
  out = f;
  return 0;
}

GVTIMEDATE EncodeTime(const TimeFields& f) {
  GVTIMEDATE v;
  v.ticks = f.timeNull ? kNullTicks : static_cast<uint32_t>(f.ticks);
  v.date = (f.dateNull ? kNullDate : static_cast<uint32_t>(f.julian)) |
           ((static_cast<uint32_t>(f.zone) & 0x7F) << 24) | (f.dst ? 0x80000000u : 0u);
  return v;
}

int64_t InstantOf(const TimeFields& f) {
  return (f.julian - kJulianUnixEpoch) * kTicksPerDay + f.ticks -
         int64_t{f.zone + f.dst} * kTicksPerHour;
}

uint32_t TimeToUtc(const GVTIMEDATE& value, GVTIMEDATE& out) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  if (!f.Complete()) {
    out = value;
    return 0;
  }
  const int64_t instant = InstantOf(f);
  int64_t julian = tw::floor_div(instant, kTicksPerDay) + kJulianUnixEpoch;
  int64_t ticks = tw::floor_mod(instant, kTicksPerDay);
  // A value near the ends of the calendar can leave it when moved: keep the nearest end.
  if (julian < kJulianMin) julian = kJulianMin, ticks = 0;
  if (julian > kJulianMax) julian = kJulianMax, ticks = kTicksPerDay - 1;
  f.julian = julian;
  f.ticks = ticks;
  f.zone = 0;
  f.dst = 0;
  out = EncodeTime(f);
  return 0;
}

ZoneDst MachineZoneAtInstant(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm {};
  if (::localtime_r(&t, &tm) == nullptr) return ZoneDst{};
  return ZoneOf(tm);
}

ZoneDst MachineZoneAtWall(int64_t wall) {
  // The offsets a day either side bracket any change near this wall clock; an offset fits
  // when the instant it gives reads back with the same offset.
  const ZoneDst before = MachineZoneAtInstant(wall - 86400);
  const ZoneDst after = MachineZoneAtInstant(wall + 86400);
  auto fits = [&](const ZoneDst& z, ZoneDst& at) {
    at = MachineZoneAtInstant(wall - int64_t{z.zone + z.dst} * 3600);
    return at.zone + at.dst == z.zone + z.dst;
  };
  ZoneDst atBefore;
  ZoneDst atAfter;
  const bool fitsBefore = fits(before, atBefore);
  const bool fitsAfter = fits(after, atAfter);
  if (fitsBefore && fitsAfter)
    return atBefore.zone + atBefore.dst >= atAfter.zone + atAfter.dst ? atBefore : atAfter;
  if (fitsBefore) return atBefore;
  if (fitsAfter) return atAfter;
  return before;
}

GVTIMEDATE MachineTime(TimeFields f) {
  const ZoneDst z = MachineZoneFor(f);
  f.zone = z.zone;
  f.dst = z.dst;
  return EncodeTime(f);
}

uint32_t TimeToParts(const GVTIMEDATE& value, GVTIMEPARTS& parts) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  GVTIMEPARTS p;
  if (f.dateNull) {
    p.year = p.month = p.day = p.weekday = -1;
  } else {
    const CivilDate c = CivilFromJulian(f.julian);
    p.year = static_cast<int32_t>(c.year);
    p.month = c.month;
    p.day = c.day;
    p.weekday = WeekdayOf(f.julian);
  }
  if (f.timeNull) {
    p.hour = p.minute = p.second = p.hundredth = -1;
  } else {
    p.hour = static_cast<int32_t>(f.ticks / kTicksPerHour);
    p.minute = static_cast<int32_t>(f.ticks / 6000 % 60);
    p.second = static_cast<int32_t>(f.ticks / 100 % 60);
    p.hundredth = static_cast<int32_t>(f.ticks % 100);
  }
  p.daylight = f.dst;
  p.zone = f.zone;
  parts = p;
  return 0;
}

uint32_t TimeFromParts(const GVTIMEPARTS& p, GVTIMEDATE& value) {
  TimeFields f;
  f.dateNull = p.year == -1 || p.month == -1 || p.day == -1;
  if (!f.dateNull) {
    if (p.year < 1 || p.year > 32767 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > DaysInMonth(p.year, p.month))
      return GVERR_DATETIME;
    f.julian = tw::julian_from_civil(p.year, p.month, p.day);
  }
  f.timeNull = p.hour == -1 || p.minute == -1 || p.second == -1 || p.hundredth == -1;
  if (!f.timeNull) {
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
        p.second > 59 || p.hundredth < 0 || p.hundredth > 99)
      return GVERR_DATETIME;
    f.ticks = int64_t{p.hour} * kTicksPerHour + p.minute * 6000 + p.second * 100 + p.hundredth;
  }
  if (p.zone < kMinZone || p.zone > kMaxZone || p.daylight < 0 || p.daylight > 1)
    return GVERR_DATETIME;
  f.zone = p.zone;
  f.dst = p.daylight;
  value = EncodeTime(f);
  return 0;
}

uint32_t AdjustTime(GVTIMEDATE& value, const GVTIMEADJUST& a) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  const bool dateAmounts = a.years != 0 || a.months != 0 || a.days != 0;
  const bool timeAmounts = a.hours != 0 || a.minutes != 0 || a.seconds != 0 || a.hundredths != 0;
  if ((dateAmounts && f.dateNull) || (timeAmounts && f.timeNull)) return GVERR_DATETIME;
  if (!f.dateNull && (a.years != 0 || a.months != 0)) {
    const CivilDate c =
        tw::add_months(tw::civil_from_julian(f.julian), int64_t{a.years} * 12 + a.months);
    if (c.year < 1 || c.year > 32767) return GVERR_DATETIME;
    f.julian = tw::julian_from_civil(c.year, c.month, c.day);
  }
  if (!f.dateNull) f.julian += a.days;
  if (timeAmounts) {
    const int64_t t = f.ticks + int64_t{a.hours} * kTicksPerHour + int64_t{a.minutes} * 6000 +
                      int64_t{a.seconds} * 100 + a.hundredths;
    // Without a date the clock wraps within the day.
    if (!f.dateNull) f.julian += tw::floor_div(t, kTicksPerDay);
    f.ticks = tw::floor_mod(t, kTicksPerDay);
  }
  if (!f.dateNull && !InRange(f.julian)) return GVERR_DATETIME;
  // The wall clock moved; a value kept in the machine's zone takes the daylight saving its
  // rules give for the new wall clock, so that repeats keep their local time of day.
  if (!f.dateNull) {
    const ZoneDst z = MachineZoneFor(f);
    if (z.zone == f.zone) f.dst = z.dst;
  }
  value = EncodeTime(f);
  return 0;
}

uint32_t AddHundredths(GVTIMEDATE& value, int64_t hundredths) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  if (f.timeNull) return GVERR_DATETIME;
  // Bounded so that the sums below cannot overflow.
  constexpr int64_t kLimit = (kJulianMax - kJulianMin + 1) * kTicksPerDay;
  if (hundredths > kLimit || hundredths < -kLimit) return GVERR_DATETIME;
  const int64_t t = f.ticks + hundredths;
  if (!f.dateNull) f.julian += tw::floor_div(t, kTicksPerDay);
  f.ticks = tw::floor_mod(t, kTicksPerDay);
  if (!f.dateNull && !InRange(f.julian)) return GVERR_DATETIME;
  value = EncodeTime(f);
  return 0;
}

uint32_t CompareTimes(const GVTIMEDATE& value, const GVTIMEDATE& base, int32_t& result) {
  TimeFields a;
  TimeFields b;
  if (uint32_t st = DecodeTime(value, a)) return st;
  if (uint32_t st = DecodeTime(base, b)) return st;
  auto order = [](int64_t x, int64_t y) { return x < y ? -1 : x > y ? 1 : 0; };
  int r = 0;
  if (a.Complete() && b.Complete()) {
    r = order(InstantOf(a), InstantOf(b));
  } else {
    if (a.dateNull != b.dateNull)
      r = a.dateNull ? -1 : 1;
    else if (!a.dateNull)
      r = order(a.julian, b.julian);
    if (r == 0) {
      if (a.timeNull != b.timeNull)
        r = a.timeNull ? -1 : 1;
      else if (!a.timeNull)
        r = order(a.ticks, b.ticks);
    }
  }
  result = r;
  return 0;
}

uint32_t DiffHundredths(const GVTIMEDATE& value, const GVTIMEDATE& base, int64_t& result) {
  TimeFields a;
  TimeFields b;
  if (uint32_t st = DecodeTime(value, a)) return st;
  if (uint32_t st = DecodeTime(base, b)) return st;
  if (a.Complete() && b.Complete()) {
    result = InstantOf(a) - InstantOf(b);
    return 0;
  }
  if (a.dateNull && b.dateNull && !a.timeNull && !b.timeNull) {
    result = a.ticks - b.ticks;
    return 0;
  }
  return GVERR_DATETIME;
}

uint32_t DiffSeconds(const GVTIMEDATE& value, const GVTIMEDATE& base, int32_t& seconds) {
  int64_t h = 0;
  if (uint32_t st = DiffHundredths(value, base, h)) return st;
  const int64_t s = h / 100;
  if (s < INT32_MIN || s > INT32_MAX) return GVERR_TOO_BIG;
  seconds = static_cast<int32_t>(s);
  return 0;
}

uint32_t ConstantTime(uint32_t which, GVTIMEDATE& value) {
  TimeFields f;
  switch (which) {
    case GVDT_MINIMUM:
      f.dateNull = f.timeNull = false;
      f.julian = kJulianMin;
      f.ticks = 0;
      break;
    case GVDT_MAXIMUM:
      f.dateNull = f.timeNull = false;
      f.julian = kJulianMax;
      f.ticks = kTicksPerDay - 1;
      break;
    case GVDT_WILDCARD:
      break;
    default:
      return GVERR_INVALID_ARGUMENT;
  }
  value = EncodeTime(f);
  return 0;
}

GVTIMEDATE CurrentTime() {
  const int64_t now = NowHundredths();
  const ZoneDst z = MachineZoneAtInstant(tw::floor_div(now, 100));
  const int64_t wall = now + int64_t{z.zone + z.dst} * kTicksPerHour;
  TimeFields f;
  f.dateNull = f.timeNull = false;
  f.julian = tw::floor_div(wall, kTicksPerDay) + kJulianUnixEpoch;
  f.ticks = tw::floor_mod(wall, kTicksPerDay);
  f.zone = z.zone;
  f.dst = z.dst;
  return EncodeTime(f);
}

}  // namespace plexa
