// The proleptic Gregorian calendar as Julian day numbers: the one arithmetic the engine's and
// the document database's date-time values share. It holds for any year; the year range,
// null dates and error codes stay with each caller.
// Header-only: flowsys hides its symbols, and the callers fold these into constants.
#ifndef TW_PLATFORM_TW_CALENDAR_H_
#define TW_PLATFORM_TW_CALENDAR_H_

#include <cstdint>

namespace tw {

constexpr int64_t kJulianUnixEpoch = 2440588;  // 1 January 1970

// Division rounding toward minus infinity, so that days and clocks before an epoch fall in
// the right day.
constexpr int64_t floor_div(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
constexpr int64_t floor_mod(int64_t a, int64_t b) {
  return a - floor_div(a, b) * b;
}

constexpr bool is_leap_year(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// The month must be 1 to 12.
constexpr int days_in_month(int64_t y, int m) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap_year(y) ? 29 : kDays[m - 1];
}

struct CivilDate {
  int64_t year;
  int month;
  int day;
};

// Counted in 400-year eras from 1 March 0, so that the leap day ends each era's year.
constexpr int64_t julian_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = floor_div(y, 400);
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kJulianUnixEpoch;
}

constexpr CivilDate civil_from_julian(int64_t julian) {
  const int64_t z = julian - kJulianUnixEpoch + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return CivilDate{yoe + era * 400 + (m <= 2), m, d};
}

// 1 Monday to 7 Sunday.
constexpr int weekday_of(int64_t julian) {
  return static_cast<int>(floor_mod(julian, 7)) + 1;
}

// The date moved by whole months, either way, its day cut to the last of the month it lands
// in (31 January and one month: 28 or 29 February). The year is not checked.
constexpr CivilDate add_months(const CivilDate& c, int64_t months) {
  const int64_t total = c.year * 12 + (c.month - 1) + months;
  const int64_t y = floor_div(total, 12);
  const int m = static_cast<int>(floor_mod(total, 12)) + 1;
  const int last = days_in_month(y, m);
  return CivilDate{y, m, c.day < last ? c.day : last};
}

static_assert(julian_from_civil(1, 1, 1) == 1721426 && julian_from_civil(2000, 1, 1) == 2451545);
static_assert(julian_from_civil(1970, 1, 1) == kJulianUnixEpoch && weekday_of(2451545) == 6);

}  // namespace tw

#endif  // TW_PLATFORM_TW_CALENDAR_H_
