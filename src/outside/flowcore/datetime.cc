// Datetime values: Julian day and hundredths of a second, each half separately null, with a
// whole-hour zone and a daylight-saving bit; parts, arithmetic, comparison and the clock.
#include "datetime.h"

#include <time.h>

#include <cstdint>

#include "env.h"
#include "flowcore.h"
#include "tw/guard.h"

namespace twcore {

uint32_t Decode(const TWDatetime& value, DT* out) {
  DT dt;
  if (value.ticks == 0 && value.date == 0) {
    *out = dt;
    return TWSUCCESS;
  }
  const uint32_t day = value.date & kNullDateBits;
  dt.date_null = day == kNullDateBits;
  if (!dt.date_null) {
    if (day < kMinJulian || day > kMaxJulian) return TWFAIL_INVALID_DATETIME;
    dt.julian = day;
  }
  dt.time_null = value.ticks == TWDTNULL_TIME;
  if (!dt.time_null) {
    if (value.ticks >= kTicksPerDay) return TWFAIL_INVALID_DATETIME;
    dt.ticks = value.ticks;
  }
  const int bits = static_cast<int>((value.date >> 24) & 0x7F);
  dt.zone = bits >= 64 ? bits - 128 : bits;
  if (dt.zone < kMinZone || dt.zone > kMaxZone) return TWFAIL_INVALID_DATETIME;
  dt.dst = static_cast<int>(value.date >> 31);
  *out = dt;
  return TWSUCCESS;
}

TWDatetime Encode(const DT& dt) {
  TWDatetime v;
  v.ticks = dt.time_null ? TWDTNULL_TIME : static_cast<uint32_t>(dt.ticks);
  v.date = (dt.date_null ? kNullDateBits : static_cast<uint32_t>(dt.julian)) |
           ((static_cast<uint32_t>(dt.zone) & 0x7F) << 24) | (dt.dst ? 0x80000000u : 0u);
  return v;
}

ZoneDst LocalAtInstant(int64_t unixSeconds) {
  ZoneDst z;
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm {};
  if (::localtime_r(&t, &tm) == nullptr) return z;
  z.dst = tm.tm_isdst > 0 ? 1 : 0;
  // The engine keeps whole hours: a standard offset such as +5:30 is rounded to the nearest.
  long standard = tm.tm_gmtoff - z.dst * 3600L;
  long hours = standard >= 0 ? (standard + 1800) / 3600 : -((-standard + 1800) / 3600);
  if (hours < kMinZone) hours = kMinZone;
  if (hours > kMaxZone) hours = kMaxZone;
  z.zone = static_cast<int>(hours);
  return z;
}

ZoneDst LocalAtWall(int64_t wall) {
  // Offsets a day either side bracket any change near this wall clock; an offset fits when
  // the instant it gives reads back with the same offset.
  const ZoneDst before = LocalAtInstant(wall - 86400);
  const ZoneDst after = LocalAtInstant(wall + 86400);
  auto fits = [&](const ZoneDst& z, ZoneDst* at) {
    *at = LocalAtInstant(wall - (z.zone + z.dst) * 3600L);
    return at->zone + at->dst == z.zone + z.dst;
  };
  ZoneDst at_before;
  ZoneDst at_after;
  const bool fits_before = fits(before, &at_before);
  const bool fits_after = fits(after, &at_after);
  if (fits_before && fits_after) {
    // Twice on the clock: the earlier instant has the larger offset.
    return at_before.zone + at_before.dst >= at_after.zone + at_after.dst ? at_before : at_after;
  }
  if (fits_before) return at_before;
  if (fits_after) return at_after;
  return before;
}

ZoneDst LocalFor(const DT& dt) {
  if (!dt.date_null) {
    int64_t seconds =
        (dt.julian - tw::kJulianUnixEpoch) * 86400 + (dt.time_null ? 12 * 3600 : dt.ticks / 100);
    return LocalAtWall(seconds);
  }
  return LocalAtInstant(tw::floor_div(tw::Env::Default()->NowMicros(), 1000000));
}

uint32_t CompareDatetimes(const TWDatetime& value, const TWDatetime& base, uint32_t flags,
                          int32_t* result) {
  DT a;
  DT b;
  if (uint32_t st = Decode(value, &a)) return st;
  if (uint32_t st = Decode(base, &b)) return st;
  const bool low = (flags & 0xF8u) != 0;
  const bool wall = low || (flags & TWCOMPAREF_NO_ZONE);
  const bool seconds = low || (flags & TWCOMPAREF_SECOND);
  auto order = [](int64_t x, int64_t y) { return x < y ? -1 : x > y ? 1 : 0; };
  int r = 0;
  if (a.complete() && b.complete() && !wall) {
    int64_t x = InstantOf(a);
    int64_t y = InstantOf(b);
    if (seconds) {
      x = tw::floor_div(x, 100);
      y = tw::floor_div(y, 100);
    }
    r = order(x, y);
  } else {
    if (a.date_null != b.date_null)
      r = a.date_null ? -1 : 1;
    else if (!a.date_null)
      r = order(a.julian, b.julian);
    if (r == 0) {
      if (a.time_null != b.time_null)
        r = a.time_null ? -1 : 1;
      else if (!a.time_null)
        r = seconds ? order(a.ticks / 100, b.ticks / 100) : order(a.ticks, b.ticks);
    }
  }
  *result = r;
  return TWSUCCESS;
}

namespace {

constexpr uint32_t kPartsFlags =
    TWPARTSF_NULL_ZERO | TWPARTSF_LOCAL | TWPARTSF_GMT | TWPARTSF_NULL_MIN;

bool BadPartsFlags(uint32_t flags) {
  return (flags & ~kPartsFlags) != 0 || ((flags & TWPARTSF_LOCAL) && (flags & TWPARTSF_GMT)) ||
         ((flags & TWPARTSF_NULL_ZERO) && (flags & TWPARTSF_NULL_MIN));
}

bool InRange(int64_t julian) {
  return julian >= kMinJulian && julian <= kMaxJulian;
}

// Moves a complete value to another zone at the same instant. A wall clock that leaves the
// years 1 to 32767 is clamped to the nearest limit and answers false.
bool MoveToZone(DT* dt, ZoneDst to) {
  int64_t wall = InstantOf(*dt) + (to.zone + to.dst) * kTicksPerHour;
  int64_t julian = tw::floor_div(wall, kTicksPerDay) + tw::kJulianUnixEpoch;
  dt->zone = to.zone;
  dt->dst = to.dst;
  if (!InRange(julian)) {
    dt->julian = julian < kMinJulian ? kMinJulian : kMaxJulian;
    dt->ticks = julian < kMinJulian ? 0 : kTicksPerDay - 1;
    return false;
  }
  dt->julian = julian;
  dt->ticks = tw::floor_mod(wall, kTicksPerDay);
  return true;
}

// The wall clock of base moved by months (the day cut to the month's end), compared with
// value's wall clock; times count only when both values have one.
int CompareMovedByMonths(const DT& base, int64_t months, const DT& value) {
  const tw::CivilDate c = tw::add_months(tw::civil_from_julian(base.julian), months);
  int64_t julian = tw::julian_from_civil(c.year, c.month, c.day);
  if (julian != value.julian) return julian < value.julian ? -1 : 1;
  if (base.time_null || value.time_null || base.ticks == value.ticks) return 0;
  return base.ticks < value.ticks ? -1 : 1;
}

[[nodiscard]] uint32_t Difference(const DT& v, const DT& b, uint32_t unit, int64_t* out) {
  switch (unit) {
    case TWDTUNIT_YEAR:
    case TWDTUNIT_MONTH: {
      if (v.date_null || b.date_null) return TWFAIL_INVALID_DATETIME;
      const tw::CivilDate cv = tw::civil_from_julian(v.julian);
      const tw::CivilDate cb = tw::civil_from_julian(b.julian);
      int64_t months = (cv.year - cb.year) * 12 + (cv.month - cb.month);
      // Whole months: base moved that far must not pass value.
      if (months > 0 && CompareMovedByMonths(b, months, v) > 0) --months;
      if (months < 0 && CompareMovedByMonths(b, months, v) < 0) ++months;
      *out = unit == TWDTUNIT_YEAR ? months / 12 : months;
      return TWSUCCESS;
    }
    case TWDTUNIT_DAY:
    case TWDTUNIT_WEEKDAY:
      if (v.date_null || b.date_null) return TWFAIL_INVALID_DATETIME;
      *out = unit == TWDTUNIT_DAY ? v.julian - b.julian : (v.julian - b.julian) / 7;
      return TWSUCCESS;
    case TWDTUNIT_HOUR:
    case TWDTUNIT_MINUTE:
    case TWDTUNIT_SECOND:
    case TWDTUNIT_HUNDREDTH: {
      int64_t hundredths = 0;
      if (v.complete() && b.complete())
        hundredths = InstantOf(v) - InstantOf(b);
      else if (v.date_null && b.date_null && !v.time_null && !b.time_null)
        hundredths = v.ticks - b.ticks;
      else
        return TWFAIL_INVALID_DATETIME;
      constexpr int64_t kPer[] = {kTicksPerHour, 6000, 100, 1};
      *out = hundredths / kPer[unit - TWDTUNIT_HOUR];
      return TWSUCCESS;
    }
    case TWDTUNIT_ZONE:
      *out = v.zone - b.zone;
      return TWSUCCESS;
    default:
      return TWFAIL_INVALID_FLAGS;
  }
}

}  // namespace
}  // namespace twcore

using twcore::DT;

extern "C" {

TW_API uint32_t TWDatetimeClear(TWDatetime* value) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  value->ticks = 0;
  value->date = 0;
  return TWSUCCESS;
}

TW_API uint32_t TWDatetimeCopy(TWDatetime* dest, const TWDatetime* source) {
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  if (source == nullptr) return TWFAIL_NULL_BUFFER;
  *dest = *source;
  return TWSUCCESS;
}

TW_API uint32_t TWDatetimeSetCurrent(TWDatetime* value) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    int64_t micros = tw::Env::Default()->NowMicros();
    int64_t hundredths = tw::floor_div(micros, 10000);
    twcore::ZoneDst z = twcore::LocalAtInstant(tw::floor_div(hundredths, 100));
    int64_t wall = hundredths + (z.zone + z.dst) * twcore::kTicksPerHour;
    DT dt;
    dt.date_null = false;
    dt.time_null = false;
    dt.julian = tw::floor_div(wall, twcore::kTicksPerDay) + tw::kJulianUnixEpoch;
    dt.ticks = tw::floor_mod(wall, twcore::kTicksPerDay);
    dt.zone = z.zone;
    dt.dst = z.dst;
    if (!twcore::InRange(dt.julian)) return TWFAIL_INVALID_DATETIME;
    *value = twcore::Encode(dt);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWDatetimeSetConstant(TWDatetime* value, uint32_t constant) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  DT dt;
  switch (constant) {
    case TWDTCONST_MINIMUM:
      dt.date_null = dt.time_null = false;
      dt.julian = twcore::kMinJulian;
      dt.ticks = 0;
      break;
    case TWDTCONST_MAXIMUM:
      dt.date_null = dt.time_null = false;
      dt.julian = twcore::kMaxJulian;
      dt.ticks = twcore::kTicksPerDay - 1;
      break;
    case TWDTCONST_WILDCARD:
      break;
    default:
      return TWFAIL_INVALID_DATETIME;
  }
  *value = twcore::Encode(dt);
  return TWSUCCESS;
}

TW_API uint32_t TWDatetimeGetParts(const TWDatetime* value, uint32_t flags,
                                   TWDatetimeParts* parts) {
  return tw::guard([&]() -> uint32_t {
    if (parts == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    if (twcore::BadPartsFlags(flags)) return TWFAIL_INVALID_FLAGS;
    DT dt;
    if (uint32_t st = twcore::Decode(*value, &dt)) return st;
    uint32_t st = TWSUCCESS;
    if (dt.complete() && (flags & (TWPARTSF_LOCAL | TWPARTSF_GMT))) {
      twcore::ZoneDst to;
      if (flags & TWPARTSF_LOCAL)
        to = twcore::LocalAtInstant(tw::floor_div(twcore::InstantOf(dt), 100));
      if (!twcore::MoveToZone(&dt, to)) st = TWFAIL_OVERFLOW;
    }
    const int32_t null_part = (flags & TWPARTSF_NULL_ZERO) ? 0 : -1;
    const bool min = (flags & TWPARTSF_NULL_MIN) != 0;
    TWDatetimeParts p;
    if (dt.date_null) {
      p.year = p.month = p.day = p.weekday = min ? 1 : null_part;
    } else {
      const tw::CivilDate c = tw::civil_from_julian(dt.julian);
      p.year = static_cast<int32_t>(c.year);
      p.month = c.month;
      p.day = c.day;
      p.weekday = tw::weekday_of(dt.julian);
    }
    if (dt.time_null) {
      p.hour = p.minute = p.second = p.hundredth = min ? 0 : null_part;
    } else {
      int64_t t = dt.ticks;
      p.hour = static_cast<int32_t>(t / twcore::kTicksPerHour);
      p.minute = static_cast<int32_t>(t / 6000 % 60);
      p.second = static_cast<int32_t>(t / 100 % 60);
      p.hundredth = static_cast<int32_t>(t % 100);
    }
    p.daylight = dt.dst;
    p.zone = dt.zone;
    *parts = p;
    return st;
  });
}

TW_API uint32_t TWDatetimeSetParts(TWDatetime* value, const TWDatetimeParts* parts,
                                   uint32_t flags) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (parts == nullptr) return TWFAIL_NULL_BUFFER;
    if (twcore::BadPartsFlags(flags)) return TWFAIL_INVALID_FLAGS;
    const TWDatetimeParts& p = *parts;
    DT dt;
    dt.date_null = p.year == -1 || p.month == -1 || p.day == -1 ||
                   ((flags & TWPARTSF_NULL_ZERO) && p.year == 0 && p.month == 0 && p.day == 0) ||
                   ((flags & TWPARTSF_NULL_MIN) && p.year == 1 && p.month == 1 && p.day == 1);
    if (!dt.date_null) {
      if (p.year < TWMIN_DATETIME_YEAR || p.year > TWMAX_DATETIME_YEAR || p.month < 1 ||
          p.month > 12 || p.day < 1 || p.day > tw::days_in_month(p.year, p.month))
        return TWFAIL_INVALID_DATETIME;
      dt.julian = tw::julian_from_civil(p.year, p.month, p.day);
    }
    dt.time_null = p.hour == -1 || p.minute == -1 || p.second == -1 || p.hundredth == -1;
    if (!dt.time_null) {
      if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
          p.second > 59 || p.hundredth < 0 || p.hundredth > 99)
        return TWFAIL_INVALID_DATETIME;
      dt.ticks =
          int64_t{p.hour} * twcore::kTicksPerHour + p.minute * 6000 + p.second * 100 + p.hundredth;
    }
    if (flags & TWPARTSF_LOCAL) {
      twcore::ZoneDst z = twcore::LocalFor(dt);
      dt.zone = z.zone;
      dt.dst = z.dst;
    } else if (!(flags & TWPARTSF_GMT)) {
      if (p.zone < twcore::kMinZone || p.zone > twcore::kMaxZone || p.daylight < 0 ||
          p.daylight > 1)
        return TWFAIL_INVALID_DATETIME;
      dt.zone = p.zone;
      dt.dst = p.daylight;
    }
    *value = twcore::Encode(dt);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWDatetimeAdjust(TWDatetime* value, const TWDatetimeParts* adjustment) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (adjustment == nullptr) return TWFAIL_NULL_BUFFER;
    DT dt;
    if (uint32_t st = twcore::Decode(*value, &dt)) return st;
    const TWDatetimeParts& a = *adjustment;
    const bool date_parts = a.year != 0 || a.month != 0 || a.weekday != 0 || a.day != 0;
    const bool time_parts = a.hour != 0 || a.minute != 0 || a.second != 0 || a.hundredth != 0;
    if ((date_parts && dt.date_null) || (time_parts && dt.time_null))
      return TWFAIL_INVALID_DATETIME;
    if (!dt.date_null && (a.year != 0 || a.month != 0)) {
      const tw::CivilDate c =
          tw::add_months(tw::civil_from_julian(dt.julian), int64_t{a.year} * 12 + a.month);
      dt.julian = tw::julian_from_civil(c.year, c.month, c.day);
    }
    if (!dt.date_null) dt.julian += int64_t{a.weekday} * 7 + a.day;
    // Time and zone moves carry into the date; without a date they wrap within the day.
    auto move_clock = [&](int64_t hundredths) {
      int64_t t = dt.ticks + hundredths;
      if (!dt.date_null) dt.julian += tw::floor_div(t, twcore::kTicksPerDay);
      dt.ticks = tw::floor_mod(t, twcore::kTicksPerDay);
    };
    if (time_parts)
      move_clock(int64_t{a.hour} * twcore::kTicksPerHour + int64_t{a.minute} * 6000 +
                 int64_t{a.second} * 100 + a.hundredth);
    if (a.zone != 0) {
      int64_t zone = int64_t{dt.zone} + a.zone;
      if (zone < twcore::kMinZone || zone > twcore::kMaxZone) return TWFAIL_OVERFLOW;
      if (!dt.time_null) move_clock(int64_t{a.zone} * twcore::kTicksPerHour);
      dt.zone = static_cast<int>(zone);
    }
    if (!dt.date_null && !twcore::InRange(dt.julian)) return TWFAIL_OVERFLOW;
    *value = twcore::Encode(dt);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWDatetimeCompare(const TWDatetime* value, const TWDatetime* base,
                                  int32_t* result) {
  if (result == nullptr) return TWFAIL_NULL_RESULT;
  if (value == nullptr || base == nullptr) return TWFAIL_NULL_BUFFER;
  return twcore::CompareDatetimes(*value, *base, 0, result);
}

TW_API uint32_t TWDatetimeGetDiff(const TWDatetime* value, const TWDatetime* base, uint32_t unit,
                                  int32_t* difference) {
  if (difference == nullptr) return TWFAIL_NULL_RESULT;
  if (value == nullptr || base == nullptr) return TWFAIL_NULL_BUFFER;
  DT v;
  DT b;
  if (uint32_t st = twcore::Decode(*value, &v)) return st;
  if (uint32_t st = twcore::Decode(*base, &b)) return st;
  int64_t d = 0;
  if (uint32_t st = twcore::Difference(v, b, unit, &d)) return st;
  if (d < INT32_MIN || d > INT32_MAX) return TWFAIL_OVERFLOW;
  *difference = static_cast<int32_t>(d);
  return TWSUCCESS;
}

TW_API uint32_t TWDatetimeGetJulian(const TWDatetime* value) {
  if (value == nullptr || (value->ticks == 0 && value->date == 0)) return TWDTNULL_DATE;
  uint32_t day = value->date & twcore::kNullDateBits;
  return day == twcore::kNullDateBits ? TWDTNULL_DATE : day;
}

TW_API uint32_t TWDatetimeSetJulian(TWDatetime* value, uint32_t julian) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  if (julian != TWDTNULL_DATE && (julian < twcore::kMinJulian || julian > twcore::kMaxJulian))
    return TWFAIL_INVALID_DATETIME;
  if (value->ticks == 0 && value->date == 0) {
    value->ticks = TWDTNULL_TIME;
    value->date = twcore::kNullDateBits;
  }
  uint32_t day = julian == TWDTNULL_DATE ? twcore::kNullDateBits : julian;
  value->date = (value->date & ~twcore::kNullDateBits) | day;
  return TWSUCCESS;
}

TW_API uint32_t TWDatetimeGetTicks(const TWDatetime* value) {
  if (value == nullptr || (value->ticks == 0 && value->date == 0)) return TWDTNULL_TIME;
  return value->ticks;
}

TW_API uint32_t TWDatetimeSetTicks(TWDatetime* value, uint32_t ticks) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  if (ticks != TWDTNULL_TIME && ticks >= twcore::kTicksPerDay) return TWFAIL_INVALID_DATETIME;
  if (value->ticks == 0 && value->date == 0) {
    value->ticks = TWDTNULL_TIME;
    value->date = twcore::kNullDateBits;
  }
  value->ticks = ticks;
  return TWSUCCESS;
}

}  // extern "C"
