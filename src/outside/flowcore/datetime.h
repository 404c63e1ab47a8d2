// Inside the engine: the calendar (Julian day numbers, proleptic Gregorian), the decoded form
// of a TWDatetime, the machine's zone rules, and the datetime comparison that field
// comparisons share (TWCOMPAREF_* flags).
#ifndef TW_FLOWCORE_DATETIME_H_
#define TW_FLOWCORE_DATETIME_H_

#include <cstdint>

#include "flowcore.h"

namespace twcore {

constexpr int64_t kTicksPerDay = 8640000;
constexpr int64_t kTicksPerHour = 360000;
constexpr uint32_t kNullDateBits = 0xFFFFFF;
constexpr int64_t kUnixEpochJulian = 2440588;  // 1 January 1970
constexpr int kMinZone = -12;
constexpr int kMaxZone = 14;

constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
constexpr int64_t FloorMod(int64_t a, int64_t b) {
  return a - FloorDiv(a, b) * b;
}

constexpr bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
constexpr int DaysInMonth(int64_t y, int m) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The Julian day number of a proleptic Gregorian date, for any year.
constexpr int64_t JulianFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = FloorDiv(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kUnixEpochJulian;
}

struct Civil {
  int64_t year;
  int month;
  int day;
};
constexpr Civil CivilFromJulian(int64_t julian) {
  const int64_t z = julian - kUnixEpochJulian + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return Civil{yoe + era * 400 + (m <= 2), m, d};
}

constexpr int64_t kMinJulian = JulianFromCivil(TWMIN_DATETIME_YEAR, 1, 1);
constexpr int64_t kMaxJulian = JulianFromCivil(TWMAX_DATETIME_YEAR, 12, 31);
static_assert(kMinJulian == 1721426 && JulianFromCivil(2000, 1, 1) == 2451545);
static_assert(kMaxJulian < kNullDateBits);

// 1 Monday to 7 Sunday.
constexpr int WeekdayOf(int64_t julian) {
  return static_cast<int>(FloorMod(julian, 7)) + 1;
}

// A TWDatetime taken apart.
struct DT {
  bool date_null = true;
  bool time_null = true;
  int64_t julian = 0;
  int64_t ticks = 0;
  int zone = 0;
  int dst = 0;

  bool complete() const { return !date_null && !time_null; }
  int offset_hours() const { return zone + dst; }
};
// TWFAIL_INVALID_DATETIME for a date outside years 1 to 32767, ticks above a day, or a zone
// outside -12 to 14.
uint32_t Decode(const TWDatetime& value, DT* out);
TWDatetime Encode(const DT& dt);

// Hundredths since 1970-01-01 00:00 UTC of a complete value.
inline int64_t InstantOf(const DT& dt) {
  return (dt.julian - kUnixEpochJulian) * kTicksPerDay + dt.ticks -
         dt.offset_hours() * kTicksPerHour;
}

struct ZoneDst {
  int zone = 0;
  int dst = 0;
};
// The machine's zone and daylight saving (the C library's rules under TZ) in whole hours at
// an instant, and for a local wall clock given as seconds since 1970 read as if UTC. A wall
// clock that occurs twice takes the earlier (daylight) reading; one skipped by a change
// keeps the offset in force before it.
ZoneDst LocalAtInstant(int64_t unixSeconds);
ZoneDst LocalAtWall(int64_t wallSeconds);
// The machine's zone for a value's wall clock: its date at noon when it has no time, now
// when it has no date.
ZoneDst LocalFor(const DT& dt);

// TWDatetimeCompare with TWCOMPAREF_* flags: NO_ZONE compares wall clocks, SECOND ignores
// hundredths, and any bit of 0xF8 (TWCOMPAREF_LOW_PREC) means both.
uint32_t CompareDatetimes(const TWDatetime& value, const TWDatetime& base, uint32_t flags,
                          int32_t* result);

}  // namespace twcore

#endif  // TW_FLOWCORE_DATETIME_H_
