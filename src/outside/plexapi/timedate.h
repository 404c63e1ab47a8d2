// The date-time value GVTIMEDATE: the calendar (Julian day numbers, proleptic Gregorian,
// from tw/calendar.h), parts, adjustment with the machine's daylight-saving rules, comparison,
// difference, the constants and the clock. The eight bytes are the engine's datetime exactly.
#ifndef TW_OUTSIDE_PLEXAPI_TIMEDATE_H_
#define TW_OUTSIDE_PLEXAPI_TIMEDATE_H_

#include <cstdint>

#include "plexapi.h"
#include "tw/calendar.h"

namespace plexa {

constexpr int64_t kTicksPerDay = 8640000;
constexpr int64_t kTicksPerHour = 360000;
constexpr uint32_t kNullDate = 0xFFFFFF;
constexpr uint32_t kNullTicks = 0xFFFFFFFF;
constexpr int64_t kJulianMin = 1721426;   // 1 January 1
constexpr int64_t kJulianMax = 13689325;  // 31 December 32767
constexpr int64_t kJulianUnixEpoch = tw::kJulianUnixEpoch;

// A GVTIMEDATE taken apart.
struct TimeFields {
  bool dateNull = true;
  bool timeNull = true;
  int64_t julian = 0;
  int64_t ticks = 0;
  int zone = 0;  // hours east of UTC
  int dst = 0;

  bool Complete() const { return !dateNull && !timeNull; }
};
// GVERR_DATETIME for a date outside the years 1 to 32767, ticks above a day or a zone outside
// -12 to 14. All eight bytes zero read as null date and null time.
[[nodiscard]] uint32_t DecodeTime(const GVTIMEDATE& value, TimeFields& out);
GVTIMEDATE EncodeTime(const TimeFields& fields);

using CivilDate = tw::CivilDate;
int64_t JulianFromCivil(int64_t year, int month, int day);
CivilDate CivilFromJulian(int64_t julian);
int DaysInMonth(int64_t year, int month);  // 0 for a month outside 1 to 12
int WeekdayOf(int64_t julian);             // 1 Monday to 7 Sunday

// Hundredths of a second since 1970-01-01 00:00 UTC of a complete value.
int64_t InstantOf(const TimeFields& fields);
// A complete value moved to UTC (zone 0, no daylight saving) at the same instant; an
// incomplete one unchanged. Invalid: GVERR_DATETIME.
[[nodiscard]] uint32_t TimeToUtc(const GVTIMEDATE& value, GVTIMEDATE& out);

// The machine's standard zone (whole hours east) and daylight flag at a wall clock given as
// seconds since 1970 read as if UTC; a wall clock that occurs twice takes the daylight
// reading, one skipped by a change keeps the offset before it.
struct ZoneDst {
  int zone = 0;
  int dst = 0;
};
ZoneDst MachineZoneAtWall(int64_t wallSeconds);
ZoneDst MachineZoneAtInstant(int64_t unixSeconds);

// GVDatetimeFetch / GVDatetimeCreate (weekday ignored; -1 in a half makes it null).
[[nodiscard]] uint32_t TimeToParts(const GVTIMEDATE& value, GVTIMEPARTS& parts);
[[nodiscard]] uint32_t TimeFromParts(const GVTIMEPARTS& parts, GVTIMEDATE& value);
// A value of the machine's zone and daylight saving for a wall clock; either half may be
// null (fields' zone and dst are ignored and replaced).
GVTIMEDATE MachineTime(TimeFields fields);
// GVDatetimeAdjust: value unchanged on failure.
[[nodiscard]] uint32_t AdjustTime(GVTIMEDATE& value, const GVTIMEADJUST& amounts);
// Seconds or hundredths added to a complete value or a time of day (time arithmetic in
// formulas); the zone and daylight bits stay. Out of range: GVERR_DATETIME.
[[nodiscard]] uint32_t AddHundredths(GVTIMEDATE& value, int64_t hundredths);
// -1, 0, 1: complete values as instants, otherwise date then time, a null half first.
[[nodiscard]] uint32_t CompareTimes(const GVTIMEDATE& value, const GVTIMEDATE& base,
                                    int32_t& result);
// value - base in hundredths between instants (between times of day when both dates are
// null); a half needed being null: GVERR_DATETIME.
[[nodiscard]] uint32_t DiffHundredths(const GVTIMEDATE& value, const GVTIMEDATE& base,
                                      int64_t& result);
// GVDatetimeDiff: whole seconds toward zero; beyond int32: GVERR_TOO_BIG.
[[nodiscard]] uint32_t DiffSeconds(const GVTIMEDATE& value, const GVTIMEDATE& base,
                                   int32_t& seconds);
// GVDT_*; another constant: GVERR_INVALID_ARGUMENT.
[[nodiscard]] uint32_t ConstantTime(uint32_t which, GVTIMEDATE& value);
// Now on the machine's wall clock with its zone and daylight saving.
GVTIMEDATE CurrentTime();

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_TIMEDATE_H_
