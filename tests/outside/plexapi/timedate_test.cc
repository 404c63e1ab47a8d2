// Date-times: the eight bytes against the engine's own datetimes (parts, values built from
// parts, comparison, differences, constants, text), adjustment across daylight-saving
// changes, the clock and the API's argument checks.
#include "timedate.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "flowcore.h"
#include "plat_test_util.h"
#include "plexapi.h"
#include "value.h"
#include "zone_test_util.h"

namespace {

using plexatest::kNewYork;
using plexatest::ScopedZone;

GVTIMEDATE Make(int y, int mo, int d, int h, int mi, int s, int hh, int zone, int dst) {
  GVTIMEPARTS p{y, mo, d, 0, h, mi, s, hh, dst, zone};
  GVTIMEDATE v{};
  EXPECT_EQ(GVDatetimeCreate(&p, &v), 0u) << y << "-" << mo << "-" << d;
  return v;
}

TWDatetime AsEngine(const GVTIMEDATE& v) {
  TWDatetime t;
  std::memcpy(&t, &v, sizeof t);
  return t;
}

std::string Show(const GVTIMEPARTS& p) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d-%d-%d w%d %d:%d:%d.%d d%d z%d", p.year, p.month, p.day,
                p.weekday, p.hour, p.minute, p.second, p.hundredth, p.daylight, p.zone);
  return buf;
}
std::string Show(const TWDatetimeParts& p) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%d-%d-%d w%d %d:%d:%d.%d d%d z%d", p.year, p.month, p.day,
                p.weekday, p.hour, p.minute, p.second, p.hundredth, p.daylight, p.zone);
  return buf;
}

// Values across the calendar, the zones and the null halves.
std::vector<GVTIMEDATE> Samples() {
  std::vector<GVTIMEDATE> v = {
      Make(1, 1, 1, 0, 0, 0, 0, 0, 0),        Make(32767, 12, 31, 23, 59, 59, 99, 0, 0),
      Make(1996, 11, 5, 14, 7, 9, 0, -5, 0),  Make(2000, 2, 29, 12, 0, 0, 50, 1, 1),
      Make(1970, 1, 1, 0, 0, 0, 0, 14, 0),    Make(1969, 12, 31, 23, 59, 59, 99, -12, 0),
      Make(1752, 9, 14, 6, 30, 0, 0, 0, 0),   Make(2024, 3, 10, 3, 0, 0, 0, -5, 1),
      Make(2100, 1, 1, -1, -1, -1, -1, 3, 0), Make(-1, -1, -1, 13, 14, 15, 16, -7, 0),
      Make(-1, -1, -1, -1, -1, -1, -1, 0, 0),
  };
  v.push_back(GVTIMEDATE{0, 0});  // all zero: null date and null time
  return v;
}

TEST(TimedateCrossCheck, PartsAgreeWithTheEngine) {
  for (const GVTIMEDATE& v : Samples()) {
    GVTIMEPARTS ours{};
    TWDatetimeParts theirs{};
    TWDatetime e = AsEngine(v);
    ASSERT_EQ(GVDatetimeFetch(&v, &ours), 0u);
    ASSERT_EQ(TWDatetimeGetParts(&e, 0, &theirs), 0u);
    EXPECT_EQ(Show(ours), Show(theirs));

    // Built back from the parts, both give the same eight bytes.
    GVTIMEDATE back{};
    TWDatetime engineBack{};
    ASSERT_EQ(GVDatetimeCreate(&ours, &back), 0u);
    ASSERT_EQ(TWDatetimeSetParts(&engineBack, &theirs, 0), 0u);
    EXPECT_EQ(std::memcmp(&back, &engineBack, 8), 0) << Show(ours);
  }
}

TEST(TimedateCrossCheck, CompareAndDifferenceAgreeWithTheEngine) {
  const std::vector<GVTIMEDATE> s = Samples();
  for (const GVTIMEDATE& a : s) {
    for (const GVTIMEDATE& b : s) {
      TWDatetime ea = AsEngine(a);
      TWDatetime eb = AsEngine(b);
      int32_t ours = 9;
      int32_t theirs = 9;
      ASSERT_EQ(GVDatetimeCompare(&a, &b, &ours), 0u);
      ASSERT_EQ(TWDatetimeCompare(&ea, &eb, &theirs), 0u);
      EXPECT_EQ(ours, theirs);

      int32_t seconds = 0;
      int32_t engineSeconds = 0;
      const uint32_t st = GVDatetimeDiff(&a, &b, &seconds);
      const uint32_t est = TWDatetimeGetDiff(&ea, &eb, TWDTUNIT_SECOND, &engineSeconds);
      if (est == TWFAIL_OVERFLOW) {
        EXPECT_EQ(st, GVERR_TOO_BIG);
      } else if (est == TWFAIL_INVALID_DATETIME) {
        EXPECT_EQ(st, GVERR_DATETIME);
      } else {
        ASSERT_EQ(st, 0u);
        EXPECT_EQ(seconds, engineSeconds);
      }
    }
  }
}

TEST(TimedateCrossCheck, ConstantsAndTextAgreeWithTheEngine) {
  for (uint32_t which : {GVDT_MINIMUM, GVDT_MAXIMUM, GVDT_WILDCARD}) {
    GVTIMEDATE ours{};
    TWDatetime theirs{};
    ASSERT_EQ(GVDatetimeConstant(which, &ours), 0u);
    ASSERT_EQ(TWDatetimeSetConstant(&theirs, which), 0u);
    EXPECT_EQ(std::memcmp(&ours, &theirs, 8), 0) << which;
  }
  // Default settings on both sides write the same text.
  plexa::OverrideInternational(std::make_shared<plexa::International>());
  for (const GVTIMEDATE& v : Samples()) {
    std::string ours;
    ASSERT_EQ(plexa::TimeToText(v, *plexa::CurrentInternational(), ours), 0u);
    TWStream s{};
    TWDatetime e = AsEngine(v);
    ASSERT_EQ(TWStreamFromDatetime(&s, &e, TWSTREAMFMT_NATIVE), 0u);
    EXPECT_EQ(ours, std::string(static_cast<const char*>(s.data), s.length));
    TWStreamDataFree(&s);
  }
  plexa::OverrideInternational(nullptr);
}

TEST(TimedateCrossCheck, TheEightBytesOfAKnownValue) {
  // 5 November 1996 14:07:09.00 in zone -5 without daylight saving.
  const GVTIMEDATE v = Make(1996, 11, 5, 14, 7, 9, 0, -5, 0);
  uint8_t bytes[8];
  std::memcpy(bytes, &v, 8);
  const uint8_t want[8] = {0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B};
  EXPECT_EQ(std::memcmp(bytes, want, 8), 0);
}

TEST(TimedateAdjust, AmountsNormaliseAndCarry) {
  struct Case {
    GVTIMEADJUST amounts;
    GVTIMEPARTS want;  // y m d (weekday ignored) h mi s hh
  } cases[] = {
      {{0, 0, 0, 0, 0, 90, 0, 0}, {2023, 6, 15, 0, 11, 30, 0, 0, 0, 1}},
      {{0, 0, 0, 0, 0, 0, 86400, 0}, {2023, 6, 16, 0, 10, 0, 0, 0, 0, 1}},
      {{0, 0, 0, 0, 0, 0, -1, 0}, {2023, 6, 15, 0, 9, 59, 59, 0, 0, 1}},
      {{0, 0, 0, 0, 14, 0, 0, 0}, {2023, 6, 16, 0, 0, 0, 0, 0, 0, 1}},
      {{0, 0, 0, 0, 0, 0, 0, 250}, {2023, 6, 15, 0, 10, 0, 2, 50, 0, 1}},
      {{0, 8, 0, 0, 0, 0, 0, 0}, {2024, 2, 15, 0, 10, 0, 0, 0, 0, 1}},
      {{1, -18, 0, 0, 0, 0, 0, 0}, {2022, 12, 15, 0, 10, 0, 0, 0, 0, 1}},
      {{0, 0, -365, 7, 0, 0, 0, 0}, {2022, 6, 15, 0, 10, 0, 0, 0, 0, 1}},  // fourth word unused
  };
  // Zone +1 is not the machine's: the daylight bit stays as it was.
  ScopedZone utc("UTC0");
  for (const Case& c : cases) {
    GVTIMEDATE v = Make(2023, 6, 15, 10, 0, 0, 0, 1, 0);
    ASSERT_EQ(GVDatetimeAdjust(&v, &c.amounts), 0u);
    GVTIMEPARTS p{};
    ASSERT_EQ(GVDatetimeFetch(&v, &p), 0u);
    GVTIMEPARTS want = c.want;
    want.weekday = p.weekday;
    EXPECT_EQ(Show(p), Show(want));
  }
}

TEST(TimedateAdjust, MonthStepsCutTheDayToTheMonthsEnd) {
  GVTIMEDATE v = Make(2024, 1, 31, 8, 0, 0, 0, 0, 0);
  const GVTIMEADJUST month{0, 1, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(GVDatetimeAdjust(&v, &month), 0u);
  GVTIMEPARTS p{};
  ASSERT_EQ(GVDatetimeFetch(&v, &p), 0u);
  EXPECT_EQ(p.month, 2);
  EXPECT_EQ(p.day, 29);
}

TEST(TimedateAdjust, DaylightFollowsTheMachinesRulesInItsZone) {
  ScopedZone ny(kNewYork);
  struct Case {
    GVTIMEDATE from;
    GVTIMEADJUST amounts;
    int wantDay, wantHour, wantDst;
  } cases[] = {
      // Spring: a day later at the same time of day, now in daylight saving.
      {Make(2024, 3, 9, 10, 0, 0, 0, -5, 0), {0, 0, 1, 0, 0, 0, 0, 0}, 10, 10, 1},
      // Autumn: back to standard time.
      {Make(2024, 11, 2, 10, 0, 0, 0, -5, 1), {0, 0, 1, 0, 0, 0, 0, 0}, 3, 10, 0},
      // Across the change by hours: the wall clock moves by the amount.
      {Make(2024, 3, 10, 1, 0, 0, 0, -5, 0), {0, 0, 0, 0, 2, 0, 0, 0}, 10, 3, 1},
      // A date alone takes the rule at its noon.
      {Make(2024, 7, 1, -1, -1, -1, -1, -5, 0), {0, 0, 1, 0, 0, 0, 0, 0}, 2, -1, 1},
      // Another zone than the machine's keeps its bit.
      {Make(2024, 3, 9, 10, 0, 0, 0, 1, 0), {0, 0, 1, 0, 0, 0, 0, 0}, 10, 10, 0},
  };
  for (const Case& c : cases) {
    GVTIMEDATE v = c.from;
    ASSERT_EQ(GVDatetimeAdjust(&v, &c.amounts), 0u);
    GVTIMEPARTS p{};
    ASSERT_EQ(GVDatetimeFetch(&v, &p), 0u);
    EXPECT_EQ(p.day, c.wantDay) << Show(p);
    EXPECT_EQ(p.hour, c.wantHour) << Show(p);
    EXPECT_EQ(p.daylight, c.wantDst) << Show(p);
  }
}

TEST(TimedateAdjust, RefusedAmountsLeaveTheValueAlone) {
  struct Case {
    GVTIMEDATE from;
    GVTIMEADJUST amounts;
  } cases[] = {
      {Make(-1, -1, -1, 10, 0, 0, 0, 0, 0), {0, 0, 1, 0, 0, 0, 0, 0}},     // date amount, no date
      {Make(2024, 1, 1, -1, -1, -1, -1, 0, 0), {0, 0, 0, 0, 1, 0, 0, 0}},  // time amount, no time
      {Make(32767, 12, 31, 23, 0, 0, 0, 0, 0), {0, 0, 0, 0, 1, 0, 0, 0}},  // beyond the calendar
      {Make(1, 1, 1, 0, 0, 0, 0, 0, 0), {0, -1, 0, 0, 0, 0, 0, 0}},
      {Make(2024, 1, 1, 0, 0, 0, 0, 0, 0), {INT32_MAX, INT32_MAX, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    GVTIMEDATE v = c.from;
    EXPECT_EQ(GVDatetimeAdjust(&v, &c.amounts), GVERR_DATETIME);
    EXPECT_EQ(std::memcmp(&v, &c.from, 8), 0);
  }
  // Date amounts on a value with a date and no time are fine.
  GVTIMEDATE d = Make(2024, 1, 1, -1, -1, -1, -1, 0, 0);
  const GVTIMEADJUST days{0, 0, 40, 0, 0, 0, 0, 0};
  EXPECT_EQ(GVDatetimeAdjust(&d, &days), 0u);
}

TEST(TimedateCompare, InstantsAcrossZonesAndNullHalvesFirst) {
  const GVTIMEDATE newYork = Make(2024, 7, 1, 10, 0, 0, 0, -5, 1);
  const GVTIMEDATE paris = Make(2024, 7, 1, 16, 0, 0, 0, 1, 1);
  const GVTIMEDATE dateOnly = Make(2024, 7, 1, -1, -1, -1, -1, 0, 0);
  int32_t r = 9;
  ASSERT_EQ(GVDatetimeCompare(&newYork, &paris, &r), 0u);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(GVDatetimeCompare(&dateOnly, &newYork, &r), 0u);
  EXPECT_EQ(r, -1);
  int32_t seconds = 7;
  EXPECT_EQ(GVDatetimeDiff(&dateOnly, &newYork, &seconds), GVERR_DATETIME);
  EXPECT_EQ(seconds, 7);
  GVTIMEDATE later = paris;
  const GVTIMEADJUST hour{0, 0, 0, 0, 1, 0, 0, 0};
  ASSERT_EQ(GVDatetimeAdjust(&later, &hour), 0u);
  ASSERT_EQ(GVDatetimeDiff(&later, &newYork, &seconds), 0u);
  EXPECT_EQ(seconds, 3600);
  GVTIMEDATE lo{};
  GVTIMEDATE hi{};
  ASSERT_EQ(GVDatetimeConstant(GVDT_MINIMUM, &lo), 0u);
  ASSERT_EQ(GVDatetimeConstant(GVDT_MAXIMUM, &hi), 0u);
  EXPECT_EQ(GVDatetimeDiff(&hi, &lo, &seconds), GVERR_TOO_BIG);
}

TEST(TimedateClock, CurrentIsTheMachinesWallClock) {
  ScopedZone ny(kNewYork);
  const time_t before = ::time(nullptr);
  GVTIMEDATE now{};
  ASSERT_EQ(GVDatetimeCurrent(&now), 0u);
  const time_t after = ::time(nullptr);
  GVTIMEPARTS p{};
  ASSERT_EQ(GVDatetimeFetch(&now, &p), 0u);
  EXPECT_EQ(p.zone, -5);
  struct tm tm {};
  ::localtime_r(&before, &tm);
  EXPECT_EQ(p.daylight, tm.tm_isdst > 0 ? 1 : 0);
  // The instant lies between the two readings of the system clock.
  const GVTIMEDATE epoch = Make(1970, 1, 1, 0, 0, 0, 0, 0, 0);
  int32_t seconds = 0;
  ASSERT_EQ(GVDatetimeDiff(&now, &epoch, &seconds), 0u);
  // time() reads a coarse clock that may lag the precise one by a tick across a second.
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after + 1);
}

TEST(TimedateApi, ArgumentsAndInvalidValues) {
  GVTIMEPARTS p{};
  GVTIMEDATE v{};
  int32_t r = 0;
  const GVTIMEADJUST a{};
  EXPECT_EQ(GVDatetimeCurrent(nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeFetch(nullptr, &p), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeFetch(&v, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeCreate(nullptr, &v), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeAdjust(nullptr, &a), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeCompare(&v, nullptr, &r), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeDiff(&v, &v, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatetimeConstant(4, &v), GVERR_INVALID_ARGUMENT);

  // Foreign bytes: a day word outside the calendar, ticks beyond a day, a zone beyond 14.
  const GVTIMEDATE bad[] = {{0, 5}, {8640000, 2450393}, {0, 2450393u | (20u << 24)}};
  for (const GVTIMEDATE& b : bad) {
    p = GVTIMEPARTS{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(GVDatetimeFetch(&b, &p), GVERR_DATETIME);
    EXPECT_EQ(p.year, 1);
    EXPECT_EQ(GVDatetimeCompare(&b, &b, &r), GVERR_DATETIME);
  }
  // Parts out of range.
  const GVTIMEPARTS badParts[] = {
      {2023, 2, 29, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 0, 0, 0, 0, 0},
      {2023, 1, 1, 0, 24, 0, 0, 0, 0, 0}, {2023, 1, 1, 0, 0, 0, 0, 100, 0, 0},
      {2023, 1, 1, 0, 0, 0, 0, 0, 2, 0},  {2023, 1, 1, 0, 0, 0, 0, 0, 0, 15}};
  for (const GVTIMEPARTS& bp : badParts) {
    v = GVTIMEDATE{1, 2};
    EXPECT_EQ(GVDatetimeCreate(&bp, &v), GVERR_DATETIME);
    EXPECT_EQ(v.ticks, 1u);
  }
}

}  // namespace
