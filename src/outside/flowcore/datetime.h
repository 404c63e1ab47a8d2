// Inside the engine: the calendar's limits (its arithmetic is tw/calendar.h), the decoded form
// of a TWDatetime, the machine's zone rules, and the datetime comparison that field
// comparisons share (TWCOMPAREF_* flags).
#ifndef TW_FLOWCORE_DATETIME_H_
#define TW_FLOWCORE_DATETIME_H_

#include <cstdint>

#include "flowcore.h"
#include "tw/calendar.h"

namespace twcore {

constexpr int64_t kTicksPerDay = 8640000;
constexpr int64_t kTicksPerHour = 360000;
constexpr uint32_t kNullDateBits = 0xFFFFFF;
constexpr int kMinZone = -12;
constexpr int kMaxZone = 14;

constexpr int64_t kMinJulian = tw::julian_from_civil(TWMIN_DATETIME_YEAR, 1, 1);
constexpr int64_t kMaxJulian = tw::julian_from_civil(TWMAX_DATETIME_YEAR, 12, 31);
static_assert(kMinJulian == 1721426);
static_assert(kMaxJulian < kNullDateBits);

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
[[nodiscard]] uint32_t Decode(const TWDatetime& value, DT* out);
TWDatetime Encode(const DT& dt);

// Hundredths since 1970-01-01 00:00 UTC of a complete value.
inline int64_t InstantOf(const DT& dt) {
  return (dt.julian - tw::kJulianUnixEpoch) * kTicksPerDay + dt.ticks -
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
[[nodiscard]] uint32_t CompareDatetimes(const TWDatetime& value, const TWDatetime& base,
                                        uint32_t flags, int32_t* result);

}  // namespace twcore

#endif  // TW_FLOWCORE_DATETIME_H_
