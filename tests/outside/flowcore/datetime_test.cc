// Datetimes: the calendar and its edges, null halves, parts in their zones, arithmetic and
// differences, comparison, the clock, daylight-saving changes, and text both ways.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "flowcore.h"
#include "value_test_util.h"

namespace {

using twtest::Text;

constexpr uint32_t kMinJulian = 1721426;   // 1 January 1
constexpr uint32_t kMaxJulian = 13689325;  // 31 December 32767

struct P {
  int32_t year, month, day, hour, minute, second, hundredth;
  int32_t zone = 0, daylight = 0;
};

TWDatetimeParts ToParts(const P& p) {
  return TWDatetimeParts{p.year,   p.month,  p.day,       0,          p.hour,
                         p.minute, p.second, p.hundredth, p.daylight, p.zone};
}

// A value built from parts in their own zone (SetParts without a zone flag), or with flags.
TWDatetime Make(const P& p, uint32_t flags = 0) {
  TWDatetimeParts parts = ToParts(p);
  TWDatetime v;
  TWDatetimeClear(&v);
  EXPECT_EQ(TWDatetimeSetParts(&v, &parts, flags), TWSUCCESS)
      << p.year << "-" << p.month << "-" << p.day;
  return v;
}

TWDatetimeParts Parts(const TWDatetime& v, uint32_t flags = 0) {
  TWDatetimeParts p{};
  EXPECT_EQ(TWDatetimeGetParts(&v, flags, &p), TWSUCCESS);
  return p;
}

// "YYYY-MM-DD hh:mm:ss.hh zZ dD" of parts, for readable comparisons.
std::string Show(const TWDatetimeParts& p) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%02d z%d d%d", p.year, p.month,
                p.day, p.hour, p.minute, p.second, p.hundredth, p.zone, p.daylight);
  return buf;
}
std::string Show(const TWDatetime& v, uint32_t flags = 0) {
  return Show(Parts(v, flags));
}

int32_t Compare(const TWDatetime& a, const TWDatetime& b) {
  int32_t r = 9;
  EXPECT_EQ(TWDatetimeCompare(&a, &b, &r), TWSUCCESS);
  return r;
}

// ---------------------------------------------------------------- calendar

TEST(DatetimeCalendar, JulianDaysAndWeekdays) {
  struct Case {
    int32_t year, month, day;
    uint32_t julian;
    int32_t weekday;
  } cases[] = {
      {1, 1, 1, kMinJulian, 1},
      {1970, 1, 1, 2440588, 4},
      {2000, 1, 1, 2451545, 6},
      {2000, 2, 29, 2451604, 2},
      {2024, 2, 29, 2460370, 4},
      // The proleptic calendar has no gap in September 1752, nor in October 1582.
      {1752, 9, 2, 2361210, 6},
      {1752, 9, 3, 2361211, 7},
      {1752, 9, 14, 2361222, 4},
      {1582, 10, 10, 2299156, 7},
      {9999, 12, 31, 5373484, 5},
      {32767, 12, 31, kMaxJulian, 7},
  };
  for (const Case& c : cases) {
    TWDatetime v = Make({c.year, c.month, c.day, 0, 0, 0, 0});
    EXPECT_EQ(TWDatetimeGetJulian(&v), c.julian) << c.year << "-" << c.month << "-" << c.day;
    TWDatetimeParts p = Parts(v);
    EXPECT_EQ(p.weekday, c.weekday) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(p.year, c.year);
    EXPECT_EQ(p.month, c.month);
    EXPECT_EQ(p.day, c.day);
  }
}

TEST(DatetimeCalendar, PartsOutOfRangeAreRefused) {
  struct Case {
    P p;
  } cases[] = {
      {{0, 1, 1, 0, 0, 0, 0}},         {{32768, 1, 1, 0, 0, 0, 0}},
      {{1900, 2, 29, 0, 0, 0, 0}},     {{2100, 2, 29, 0, 0, 0, 0}},
      {{2023, 4, 31, 0, 0, 0, 0}},     {{2023, 13, 1, 0, 0, 0, 0}},
      {{2023, 0, 1, 0, 0, 0, 0}},      {{2023, 1, 0, 0, 0, 0, 0}},
      {{2023, 1, 1, 24, 0, 0, 0}},     {{2023, 1, 1, 0, 60, 0, 0}},
      {{2023, 1, 1, 0, 0, 60, 0}},     {{2023, 1, 1, 0, 0, 0, 100}},
      {{2023, 1, 1, 0, 0, 0, -2}},     {{2023, 1, 1, 0, 0, 0, 0, 15}},
      {{2023, 1, 1, 0, 0, 0, 0, -13}}, {{2023, 1, 1, 0, 0, 0, 0, 0, 2}},
  };
  for (const Case& c : cases) {
    TWDatetimeParts parts = ToParts(c.p);
    TWDatetime v{123, 456};
    EXPECT_EQ(TWDatetimeSetParts(&v, &parts, 0), TWFAIL_INVALID_DATETIME) << Show(parts);
    EXPECT_EQ(v.ticks, 123u);
    EXPECT_EQ(v.date, 456u);
  }
}

TEST(DatetimeCalendar, BrokenRecordsAreRefused) {
  const TWDatetime broken[] = {
      {8640000, 2451545},            // ticks past the day
      {0, 1721425},                  // the day before year 1
      {0, kMaxJulian + 1},           // the day after year 32767
      {5, 0},                        // date word 0 in a record that is not cleared
      {0, 2451545 | (15u << 24)},    // zone +15
      {0, 2451545 | (0x73u << 24)},  // zone -13
  };
  for (const TWDatetime& v : broken) {
    TWDatetimeParts p;
    TWDatetime copy = v;
    int32_t r = 0;
    const TWDatetime ok = Make({2000, 1, 1, 0, 0, 0, 0});
    TWDatetimeParts step{0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    Text t;
    EXPECT_EQ(TWDatetimeGetParts(&v, 0, &p), TWFAIL_INVALID_DATETIME) << v.ticks << "/" << v.date;
    EXPECT_EQ(TWDatetimeCompare(&v, &ok, &r), TWFAIL_INVALID_DATETIME);
    EXPECT_EQ(TWDatetimeGetDiff(&ok, &v, TWDTUNIT_ZONE, &r), TWFAIL_INVALID_DATETIME);
    EXPECT_EQ(TWDatetimeAdjust(&copy, &step), TWFAIL_INVALID_DATETIME);
    EXPECT_EQ(TWStreamFromDatetime(t.get(), &v, TWSTREAMFMT_NATIVE), TWFAIL_INVALID_DATETIME);
  }
  // Zone -12 and +14 are the limits that hold.
  EXPECT_EQ(Parts(TWDatetime{0, 2451545 | (0x74u << 24)}).zone, -12);
  EXPECT_EQ(Parts(TWDatetime{0, 2451545 | (14u << 24) | 0x80000000u}).zone, 14);
}

TEST(DatetimeCalendar, JulianAndTicksEdges) {
  TWDatetime v;
  TWDatetimeClear(&v);
  EXPECT_EQ(TWDatetimeSetJulian(&v, kMinJulian - 1), TWFAIL_INVALID_DATETIME);
  EXPECT_EQ(TWDatetimeSetJulian(&v, kMaxJulian + 1), TWFAIL_INVALID_DATETIME);
  EXPECT_EQ(TWDatetimeSetJulian(&v, 0), TWFAIL_INVALID_DATETIME);
  EXPECT_EQ(TWDatetimeSetTicks(&v, 8640000), TWFAIL_INVALID_DATETIME);
  EXPECT_EQ(v.ticks, 0u);
  EXPECT_EQ(v.date, 0u);
  ASSERT_EQ(TWDatetimeSetJulian(&v, kMaxJulian), TWSUCCESS);
  ASSERT_EQ(TWDatetimeSetTicks(&v, 8639999), TWSUCCESS);
  TWDatetime max;
  ASSERT_EQ(TWDatetimeSetConstant(&max, TWDTCONST_MAXIMUM), TWSUCCESS);
  EXPECT_EQ(Compare(v, max), 0);
  EXPECT_EQ(Show(max), "32767-12-31 23:59:59.99 z0 d0");
  TWDatetime min;
  ASSERT_EQ(TWDatetimeSetConstant(&min, TWDTCONST_MINIMUM), TWSUCCESS);
  EXPECT_EQ(Show(min), "0001-01-01 00:00:00.00 z0 d0");
  EXPECT_EQ(TWDatetimeSetConstant(&min, 4), TWFAIL_INVALID_DATETIME);
  TWDatetime wild;
  ASSERT_EQ(TWDatetimeSetConstant(&wild, TWDTCONST_WILDCARD), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&wild), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(&wild), TWDTNULL_TIME);
}

// ---------------------------------------------------------------- null halves

TEST(DatetimeNulls, ClearedRecordReadsAsNullInEveryMode) {
  TWDatetime v;
  TWDatetimeClear(&v);
  EXPECT_EQ(v.ticks, 0u);
  EXPECT_EQ(v.date, 0u);
  EXPECT_EQ(TWDatetimeGetJulian(&v), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(&v), TWDTNULL_TIME);
  EXPECT_EQ(TWDatetimeGetJulian(nullptr), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(nullptr), TWDTNULL_TIME);
  struct Case {
    uint32_t flags;
    const char* shown;
    int32_t weekday;
  } cases[] = {
      {0, "-001--1--1 -1:-1:-1.-1 z0 d0", -1},
      {TWPARTSF_NULL_ZERO, "0000-00-00 00:00:00.00 z0 d0", 0},
      {TWPARTSF_NULL_MIN, "0001-01-01 00:00:00.00 z0 d0", 1},
      {TWPARTSF_LOCAL | TWPARTSF_NULL_MIN, "0001-01-01 00:00:00.00 z0 d0", 1},
  };
  for (const Case& c : cases) {
    TWDatetimeParts p = Parts(v, c.flags);
    EXPECT_EQ(Show(p), c.shown) << c.flags;
    EXPECT_EQ(p.weekday, c.weekday) << c.flags;
  }
}

TEST(DatetimeNulls, SettingOneHalfOfAClearedRecordLeavesTheOtherNull) {
  TWDatetime v;
  TWDatetimeClear(&v);
  ASSERT_EQ(TWDatetimeSetTicks(&v, 0), TWSUCCESS);  // midnight, not "cleared" again
  EXPECT_EQ(TWDatetimeGetTicks(&v), 0u);
  EXPECT_EQ(TWDatetimeGetJulian(&v), TWDTNULL_DATE);
  TWDatetimeClear(&v);
  ASSERT_EQ(TWDatetimeSetJulian(&v, 2451545), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetTicks(&v), TWDTNULL_TIME);
  ASSERT_EQ(TWDatetimeSetTicks(&v, 100), TWSUCCESS);
  ASSERT_EQ(TWDatetimeSetJulian(&v, TWDTNULL_DATE), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetTicks(&v), 100u);
  ASSERT_EQ(TWDatetimeSetTicks(&v, TWDTNULL_TIME), TWSUCCESS);
  EXPECT_EQ(Show(v), "-001--1--1 -1:-1:-1.-1 z0 d0");
}

TEST(DatetimeNulls, SetJulianKeepsTimeZoneAndDaylight) {
  TWDatetime v = Make({2024, 7, 1, 9, 30, 0, 0, -5, 1});
  ASSERT_EQ(TWDatetimeSetJulian(&v, 2451545), TWSUCCESS);
  EXPECT_EQ(Show(v), "2000-01-01 09:30:00.00 z-5 d1");
}

TEST(DatetimeNulls, SetPartsNullRules) {
  struct Case {
    P p;
    uint32_t flags;
    bool date_null, time_null;
  } cases[] = {
      {{-1, 5, 5, 10, 0, 0, 0}, 0, true, false},
      {{2024, 5, 5, 10, -1, 0, 0}, 0, false, true},
      {{-1, -1, -1, -1, -1, -1, -1}, 0, true, true},
      // A TIME column's parts: date parts 0 with NULL_ZERO; zero time parts stay midnight.
      {{0, 0, 0, 0, 0, 0, 0}, TWPARTSF_NULL_ZERO, true, false},
      {{0, 0, 0, 0, 0, 0, 0}, 0, false, false},  // refused below: year 0
      {{1, 1, 1, 12, 0, 0, 0}, TWPARTSF_NULL_MIN, true, false},
      {{1, 1, 1, 12, 0, 0, 0}, 0, false, false},
  };
  for (const Case& c : cases) {
    TWDatetimeParts parts = ToParts(c.p);
    TWDatetime v;
    TWDatetimeClear(&v);
    uint32_t st = TWDatetimeSetParts(&v, &parts, c.flags);
    if (c.p.year == 0 && c.flags == 0) {
      EXPECT_EQ(st, TWFAIL_INVALID_DATETIME);
      continue;
    }
    ASSERT_EQ(st, TWSUCCESS) << Show(parts);
    EXPECT_EQ(TWDatetimeGetJulian(&v) == TWDTNULL_DATE, c.date_null) << Show(parts);
    EXPECT_EQ(TWDatetimeGetTicks(&v) == TWDTNULL_TIME, c.time_null) << Show(parts);
  }
}

TEST(DatetimeNulls, ConflictingFlagsAreRefused) {
  TWDatetime v = Make({2024, 1, 1, 0, 0, 0, 0});
  TWDatetimeParts p{};
  const uint32_t bad[] = {TWPARTSF_LOCAL | TWPARTSF_GMT, TWPARTSF_NULL_ZERO | TWPARTSF_NULL_MIN,
                          0x10u, 0x80000000u};
  for (uint32_t flags : bad) {
    EXPECT_EQ(TWDatetimeGetParts(&v, flags, &p), TWFAIL_INVALID_FLAGS) << flags;
    EXPECT_EQ(TWDatetimeSetParts(&v, &p, flags), TWFAIL_INVALID_FLAGS) << flags;
  }
}

// ---------------------------------------------------------------- arithmetic

TEST(DatetimeAdjust, CalendarTable) {
  struct Case {
    P start;
    TWDatetimeParts by;
    const char* result;
  } cases[] = {
      {{2024, 1, 31, 8, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, "2024-02-29 08:00:00.00 z0 d0"},
      {{2023, 1, 31, 8, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, "2023-02-28 08:00:00.00 z0 d0"},
      {{2024, 3, 31, 8, 0, 0, 0}, {0, -1, 0, 0, 0, 0, 0, 0, 0, 0}, "2024-02-29 08:00:00.00 z0 d0"},
      {{2024, 2, 29, 8, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "2025-02-28 08:00:00.00 z0 d0"},
      {{2024, 2, 29, 8, 0, 0, 0}, {4, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "2028-02-29 08:00:00.00 z0 d0"},
      {{2024, 1, 15, 0, 0, 0, 0}, {0, -1, 0, 0, 0, 0, 0, 0, 0, 0}, "2023-12-15 00:00:00.00 z0 d0"},
      {{2024, 1, 15, 0, 0, 0, 0}, {0, 13, 0, 0, 0, 0, 0, 0, 0, 0}, "2025-02-15 00:00:00.00 z0 d0"},
      {{2024, 1, 15, 0, 0, 0, 0}, {0, -25, 0, 0, 0, 0, 0, 0, 0, 0}, "2021-12-15 00:00:00.00 z0 d0"},
      {{2024, 3, 1, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0, 0, 0}, "2024-02-29 00:00:00.00 z0 d0"},
      {{2023, 3, 1, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0, 0, 0}, "2023-02-28 00:00:00.00 z0 d0"},
      {{1900, 3, 1, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0, 0, 0}, "1900-02-28 00:00:00.00 z0 d0"},
      {{2000, 3, 1, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0, 0, 0}, "2000-02-29 00:00:00.00 z0 d0"},
      {{1752, 9, 2, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, "1752-09-03 00:00:00.00 z0 d0"},
      {{2024, 1, 1, 0, 0, 0, 0}, {0, 0, 1, 2, 0, 0, 0, 0, 0, 0}, "2024-01-16 00:00:00.00 z0 d0"},
      {{2023, 12, 31, 23, 59, 59, 99},
       {0, 0, 0, 0, 0, 0, 0, 1, 0, 0},
       "2024-01-01 00:00:00.00 z0 d0"},
      {{2024, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, -1, 0, 0, 0}, "2023-12-31 23:59:59.00 z0 d0"},
      {{2024, 2, 28, 23, 0, 0, 0}, {0, 0, 0, 0, 25, 0, 0, 0, 0, 0}, "2024-03-01 00:00:00.00 z0 d0"},
      {{2024, 1, 1, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 86400 * 366, 0, 0, 0},
       "2025-01-01 00:00:00.00 z0 d0"},
      // The daylight part is ignored.
      {{2024, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, "2024-01-01 00:00:00.00 z0 d0"},
      // A zone part keeps the instant.
      {{2024, 1, 1, 2, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0, -5}, "2023-12-31 21:00:00.00 z-5 d0"},
  };
  for (const Case& c : cases) {
    TWDatetime v = Make(c.start);
    const TWDatetime before = v;
    ASSERT_EQ(TWDatetimeAdjust(&v, &c.by), TWSUCCESS) << Show(before);
    EXPECT_EQ(Show(v), c.result) << Show(before);
    if (c.by.zone != 0) {
      EXPECT_EQ(Compare(v, before), 0);
    }
  }
}

TEST(DatetimeAdjust, LeavingTheYearsOverflowsAndChangesNothing) {
  TWDatetime min, max;
  TWDatetimeSetConstant(&min, TWDTCONST_MINIMUM);
  TWDatetimeSetConstant(&max, TWDTCONST_MAXIMUM);
  struct Case {
    TWDatetime start;
    TWDatetimeParts by;
  } cases[] = {
      {min, {0, 0, 0, 0, 0, 0, 0, -1, 0, 0}},
      {min, {0, 0, -1, 0, 0, 0, 0, 0, 0, 0}},
      {min, {0, -1, 0, 0, 0, 0, 0, 0, 0, 0}},
      {min, {0, 0, 0, 0, 0, 0, 0, 0, 0, -1}},
      {max, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}},
      {max, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {max, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {max, {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 0, 0, 0, 0, 0, 0}},
      {min,
       {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, 0,
        0}},
      // Zones beyond -12 or 14.
      {Make({2024, 1, 1, 12, 0, 0, 0, 10}), {0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
  };
  for (const Case& c : cases) {
    TWDatetime v = c.start;
    EXPECT_EQ(TWDatetimeAdjust(&v, &c.by), TWFAIL_OVERFLOW) << Show(c.start);
    EXPECT_EQ(v.ticks, c.start.ticks);
    EXPECT_EQ(v.date, c.start.date);
  }
  // Within the range the same amounts come back.
  TWDatetime v = min;
  TWDatetimeParts up{32766, 11, 30, 0, 23, 59, 59, 99, 0, 0};
  ASSERT_EQ(TWDatetimeAdjust(&v, &up), TWSUCCESS);
  EXPECT_EQ(Compare(v, max), 0);
}

TEST(DatetimeAdjust, NullHalves) {
  TWDatetime time_only = Make({-1, -1, -1, 22, 0, 0, 0});
  TWDatetimeParts hours{0, 0, 0, 0, 5, 0, 0, 0, 0, 0};
  ASSERT_EQ(TWDatetimeAdjust(&time_only, &hours), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetTicks(&time_only), 3u * 360000);  // wrapped within the day
  EXPECT_EQ(TWDatetimeGetJulian(&time_only), TWDTNULL_DATE);
  TWDatetimeParts days{0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(TWDatetimeAdjust(&time_only, &days), TWFAIL_INVALID_DATETIME);
  TWDatetime date_only = Make({2024, 1, 1, -1, -1, -1, -1});
  EXPECT_EQ(TWDatetimeAdjust(&date_only, &hours), TWFAIL_INVALID_DATETIME);
  ASSERT_EQ(TWDatetimeAdjust(&date_only, &days), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&date_only), 2460312u);
  TWDatetimeParts zone{0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
  ASSERT_EQ(TWDatetimeAdjust(&date_only, &zone), TWSUCCESS);
  EXPECT_EQ(Show(date_only), "2024-01-02 -1:-1:-1.-1 z3 d0");
}

TEST(DatetimeCompare, InstantsWhenCompleteElseWallClock) {
  struct Case {
    TWDatetime a, b;
    int32_t result;
  } cases[] = {
      {Make({2024, 1, 1, 12, 0, 0, 0}), Make({2024, 1, 1, 7, 0, 0, 0, -5}), 0},
      {Make({2024, 6, 1, 12, 0, 0, 0, 1, 1}), Make({2024, 6, 1, 11, 0, 0, 0}), -1},
      {Make({2024, 1, 1, 0, 30, 0, 0, 2}), Make({2023, 12, 31, 23, 0, 0, 0}), -1},
      {Make({2024, 1, 1, 0, 0, 0, 1}), Make({2024, 1, 1, 0, 0, 0, 0}), 1},
      // Partial values: date first, then time; a null half sorts first.
      {Make({2024, 1, 1, -1, -1, -1, -1}), Make({2024, 1, 1, 0, 0, 0, 0}), -1},
      {Make({-1, -1, -1, 23, 0, 0, 0}), Make({1, 1, 1, 0, 0, 0, 0}), -1},
      {Make({-1, -1, -1, 10, 0, 0, 0, 5}), Make({-1, -1, -1, 9, 0, 0, 0}), 1},
      {Make({-1, -1, -1, -1, -1, -1, -1}), Make({-1, -1, -1, -1, -1, -1, -1, 3}), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Compare(c.a, c.b), c.result) << Show(c.a) << " ? " << Show(c.b);
    EXPECT_EQ(Compare(c.b, c.a), -c.result) << Show(c.b) << " ? " << Show(c.a);
  }
}

TEST(DatetimeDiff, UnitsTable) {
  TWDatetime min, max;
  TWDatetimeSetConstant(&min, TWDTCONST_MINIMUM);
  TWDatetimeSetConstant(&max, TWDTCONST_MAXIMUM);
  struct Case {
    TWDatetime v, b;
    uint32_t unit;
    uint32_t status;
    int32_t diff;
  } cases[] = {
      {Make({2024, 3, 1, 0, 0, 0, 0}), Make({2024, 2, 1, 23, 0, 0, 0}), TWDTUNIT_DAY, 0, 29},
      {Make({2023, 3, 1, 0, 0, 0, 0}), Make({2023, 2, 1, 0, 0, 0, 0, 5}), TWDTUNIT_DAY, 0, 28},
      {Make({2024, 1, 16, 0, 0, 0, 0}), Make({2024, 1, 1, 0, 0, 0, 0}), TWDTUNIT_WEEKDAY, 0, 2},
      {Make({2024, 1, 1, 0, 0, 0, 0}), Make({2024, 1, 16, 0, 0, 0, 0}), TWDTUNIT_WEEKDAY, 0, -2},
      // Whole months: base moved that far (its day cut to the month's end) must not pass.
      {Make({2024, 2, 29, 0, 0, 0, 0}), Make({2024, 1, 31, 0, 0, 0, 0}), TWDTUNIT_MONTH, 0, 1},
      {Make({2024, 2, 28, 0, 0, 0, 0}), Make({2024, 1, 31, 0, 0, 0, 0}), TWDTUNIT_MONTH, 0, 0},
      {Make({2024, 2, 15, 10, 0, 0, 0}), Make({2024, 1, 15, 11, 0, 0, 0}), TWDTUNIT_MONTH, 0, 0},
      {Make({2024, 2, 15, 11, 0, 0, 0}), Make({2024, 1, 15, 11, 0, 0, 0}), TWDTUNIT_MONTH, 0, 1},
      {Make({2023, 11, 16, 0, 0, 0, 0}), Make({2024, 1, 15, 0, 0, 0, 0}), TWDTUNIT_MONTH, 0, -1},
      {Make({2023, 11, 15, 0, 0, 0, 0}), Make({2024, 1, 15, 0, 0, 0, 0}), TWDTUNIT_MONTH, 0, -2},
      {Make({2025, 2, 28, 0, 0, 0, 0}), Make({2024, 2, 29, 0, 0, 0, 0}), TWDTUNIT_YEAR, 0, 1},
      {Make({2025, 2, 27, 0, 0, 0, 0}), Make({2024, 2, 29, 0, 0, 0, 0}), TWDTUNIT_YEAR, 0, 0},
      {Make({2000, 1, 1, 0, 0, 0, 0}), Make({2024, 6, 1, 0, 0, 0, 0}), TWDTUNIT_YEAR, 0, -24},
      {max, min, TWDTUNIT_YEAR, 0, 32766},
      {max, min, TWDTUNIT_DAY, 0, static_cast<int32_t>(kMaxJulian - kMinJulian)},
      // Hours and below run between instants.
      {Make({2024, 1, 1, 12, 0, 0, 0}), Make({2024, 1, 1, 7, 0, 0, 0, -5}), TWDTUNIT_HOUR, 0, 0},
      {Make({2024, 1, 2, 1, 0, 0, 0}), Make({2024, 1, 1, 23, 30, 0, 0}), TWDTUNIT_MINUTE, 0, 90},
      {Make({2024, 1, 1, 0, 0, 1, 50}), Make({2024, 1, 1, 0, 0, 0, 0}), TWDTUNIT_SECOND, 0, 1},
      {Make({2024, 1, 1, 0, 0, 0, 0}), Make({2024, 1, 1, 0, 0, 1, 50}), TWDTUNIT_SECOND, 0, -1},
      {max, min, TWDTUNIT_SECOND, TWFAIL_OVERFLOW, 0},
      {max, min, TWDTUNIT_HOUR, 0, 287229599},
      {Make({-1, -1, -1, 10, 0, 0, 0}), Make({-1, -1, -1, 9, 15, 0, 0}), TWDTUNIT_MINUTE, 0, 45},
      {Make({2024, 1, 1, 0, 0, 0, 0, 3}), Make({2024, 1, 1, 0, 0, 0, 0, -4, 1}), TWDTUNIT_ZONE, 0,
       7},
      // A half the unit needs is null.
      {Make({-1, -1, -1, 10, 0, 0, 0}), Make({2024, 1, 1, 9, 0, 0, 0}), TWDTUNIT_HOUR,
       TWFAIL_INVALID_DATETIME, 0},
      {Make({2024, 1, 1, -1, -1, -1, -1}), Make({2024, 1, 1, 9, 0, 0, 0}), TWDTUNIT_HOUR,
       TWFAIL_INVALID_DATETIME, 0},
      {Make({-1, -1, -1, 10, 0, 0, 0}), Make({2024, 1, 1, 9, 0, 0, 0}), TWDTUNIT_DAY,
       TWFAIL_INVALID_DATETIME, 0},
      {min, max, 0, TWFAIL_INVALID_FLAGS, 0},
      {min, max, 10, TWFAIL_INVALID_FLAGS, 0},
  };
  for (const Case& c : cases) {
    int32_t d = 0;
    EXPECT_EQ(TWDatetimeGetDiff(&c.v, &c.b, c.unit, &d), c.status)
        << Show(c.v) << " - " << Show(c.b) << " unit " << c.unit;
    EXPECT_EQ(d, c.diff) << Show(c.v) << " - " << Show(c.b) << " unit " << c.unit;
  }
}

// ---------------------------------------------------------------- zones and the clock

constexpr int64_t kSecond = 1000000;

// Microseconds since 1970 of a UTC wall clock.
int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  TWDatetime v = Make({y, mo, d, h, mi, s, 0});
  return (int64_t{TWDatetimeGetJulian(&v)} - 2440588) * 86400 * kSecond +
         int64_t{TWDatetimeGetTicks(&v)} * 10000;
}

TEST(DatetimeClock, SetCurrentReadsTheClockInTheLocalZone) {
  struct Case {
    const char* tz;
    int64_t now;
    const char* shown;
  } cases[] = {
      {"UTC", Utc(2024, 6, 1, 12, 34, 56) + 789000, "2024-06-01 12:34:56.78 z0 d0"},
      {"Europe/London", Utc(2024, 6, 1, 12, 34, 56), "2024-06-01 13:34:56.00 z0 d1"},
      {"Europe/London", Utc(2024, 1, 15, 12, 0, 0), "2024-01-15 12:00:00.00 z0 d0"},
      {"America/New_York", Utc(2024, 6, 1, 2, 0, 0), "2024-05-31 22:00:00.00 z-5 d1"},
      {"America/New_York", Utc(2024, 1, 15, 12, 0, 0), "2024-01-15 07:00:00.00 z-5 d0"},
      {"Asia/Tokyo", Utc(2024, 12, 31, 20, 0, 0), "2025-01-01 05:00:00.00 z9 d0"},
      {"UTC", -1, "1969-12-31 23:59:59.99 z0 d0"},
  };
  for (const Case& c : cases) {
    twtest::ScopedTZ tz(c.tz);
    twtest::FixedClock clock(c.now);
    TWDatetime v;
    ASSERT_EQ(TWDatetimeSetCurrent(&v), TWSUCCESS);
    EXPECT_EQ(Show(v), c.shown) << c.tz;
  }
  EXPECT_EQ(TWDatetimeSetCurrent(nullptr), TWFAIL_NULL_RESULT);
}

// UTC instants around each change, seen on the local clock.
TEST(DatetimeZones, DaylightChangesOnTheLocalClock) {
  struct Case {
    const char* tz;
    P utc;
    const char* local;
  } cases[] = {
      // London springs forward at 01:00 UTC on 31 March 2024 and falls back on 27 October.
      {"Europe/London", {2024, 3, 31, 0, 59, 59, 99}, "2024-03-31 00:59:59.99 z0 d0"},
      {"Europe/London", {2024, 3, 31, 1, 0, 0, 0}, "2024-03-31 02:00:00.00 z0 d1"},
      {"Europe/London", {2024, 10, 27, 0, 30, 0, 0}, "2024-10-27 01:30:00.00 z0 d1"},
      {"Europe/London", {2024, 10, 27, 1, 30, 0, 0}, "2024-10-27 01:30:00.00 z0 d0"},
      // New York: 10 March 2024 at 07:00 UTC, 3 November 2024 at 06:00 UTC.
      {"America/New_York", {2024, 3, 10, 6, 59, 0, 0}, "2024-03-10 01:59:00.00 z-5 d0"},
      {"America/New_York", {2024, 3, 10, 7, 0, 0, 0}, "2024-03-10 03:00:00.00 z-5 d1"},
      {"America/New_York", {2024, 11, 3, 5, 30, 0, 0}, "2024-11-03 01:30:00.00 z-5 d1"},
      {"America/New_York", {2024, 11, 3, 6, 30, 0, 0}, "2024-11-03 01:30:00.00 z-5 d0"},
  };
  for (const Case& c : cases) {
    twtest::ScopedTZ tz(c.tz);
    TWDatetime v = Make(c.utc, TWPARTSF_GMT);
    EXPECT_EQ(Show(v, TWPARTSF_LOCAL), c.local) << c.tz << " " << Show(v);
    // Back to UTC from the local reading.
    TWDatetimeParts local = Parts(v, TWPARTSF_LOCAL);
    TWDatetime again;
    ASSERT_EQ(TWDatetimeSetParts(&again, &local, 0), TWSUCCESS);
    EXPECT_EQ(Show(again, TWPARTSF_GMT), Show(v)) << c.tz;
  }
}

// A local wall clock given as parts: the zone and daylight come from the rules at that
// clock; twice on the clock takes the daylight reading, skipped keeps the offset before.
TEST(DatetimeZones, LocalPartsTakeTheRulesOfTheirClock) {
  struct Case {
    const char* tz;
    P local;
    const char* utc;
  } cases[] = {
      {"Europe/London", {2024, 7, 1, 12, 0, 0, 0}, "2024-07-01 11:00:00.00 z0 d0"},
      {"Europe/London", {2024, 10, 27, 1, 30, 0, 0}, "2024-10-27 00:30:00.00 z0 d0"},
      {"Europe/London", {2024, 3, 31, 1, 30, 0, 0}, "2024-03-31 01:30:00.00 z0 d0"},
      {"America/New_York", {2024, 11, 3, 1, 30, 0, 0}, "2024-11-03 05:30:00.00 z0 d0"},
      {"America/New_York", {2024, 3, 10, 2, 30, 0, 0}, "2024-03-10 07:30:00.00 z0 d0"},
      {"America/New_York", {2024, 12, 25, 23, 0, 0, 0}, "2024-12-26 04:00:00.00 z0 d0"},
  };
  for (const Case& c : cases) {
    twtest::ScopedTZ tz(c.tz);
    TWDatetime v = Make(c.local, TWPARTSF_LOCAL);
    TWDatetimeParts own = Parts(v);
    EXPECT_EQ(own.hour, c.local.hour) << c.tz;  // the wall clock is kept as given
    EXPECT_EQ(Show(v, TWPARTSF_GMT), c.utc) << c.tz << " " << Show(v);
  }
}

TEST(DatetimeZones, HoursAcrossTheSpringForwardDay) {
  twtest::ScopedTZ tz("Europe/London");
  TWDatetime a = Make({2024, 3, 31, 0, 0, 0, 0}, TWPARTSF_LOCAL);
  TWDatetime b = Make({2024, 4, 1, 0, 0, 0, 0}, TWPARTSF_LOCAL);
  int32_t d = 0;
  ASSERT_EQ(TWDatetimeGetDiff(&b, &a, TWDTUNIT_HOUR, &d), TWSUCCESS);
  EXPECT_EQ(d, 23);
  ASSERT_EQ(TWDatetimeGetDiff(&b, &a, TWDTUNIT_DAY, &d), TWSUCCESS);
  EXPECT_EQ(d, 1);
}

TEST(DatetimeZones, ConversionBeyondTheYearsIsClamped) {
  twtest::ScopedTZ tz("America/New_York");
  TWDatetime min, max;
  TWDatetimeSetConstant(&min, TWDTCONST_MINIMUM);
  TWDatetimeSetConstant(&max, TWDTCONST_MAXIMUM);
  TWDatetimeParts p{};
  EXPECT_EQ(TWDatetimeGetParts(&min, TWPARTSF_LOCAL, &p), TWFAIL_OVERFLOW);
  EXPECT_EQ(Show(p), "0001-01-01 00:00:00.00 z-5 d0");
  TWDatetime east = Make({32767, 12, 31, 23, 0, 0, 0, -3});
  EXPECT_EQ(TWDatetimeGetParts(&east, TWPARTSF_GMT, &p), TWFAIL_OVERFLOW);
  EXPECT_EQ(Show(p), "32767-12-31 23:59:59.99 z0 d0");
  EXPECT_EQ(Show(max, TWPARTSF_GMT), "32767-12-31 23:59:59.99 z0 d0");
}

TEST(DatetimeZones, HalvesAloneAreNotConverted) {
  twtest::ScopedTZ tz("Asia/Tokyo");
  TWDatetime time_only = Make({-1, -1, -1, 10, 0, 0, 0, -5});
  EXPECT_EQ(Show(time_only, TWPARTSF_GMT), "-001--1--1 10:00:00.00 z-5 d0");
  TWDatetime date_only = Make({2024, 1, 1, -1, -1, -1, -1}, TWPARTSF_LOCAL);
  EXPECT_EQ(Show(date_only), "2024-01-01 -1:-1:-1.-1 z9 d0");
}

// ---------------------------------------------------------------- text

std::string TextOf(const TWDatetime& v, uint32_t format = TWSTREAMFMT_NATIVE) {
  Text t;
  uint32_t st = TWStreamFromDatetime(t.get(), &v, format);
  return st == TWSUCCESS ? t.str() : "status " + std::to_string(st);
}

TEST(DatetimeText, WritesTheDefaultFormat) {
  struct Case {
    P p;
    const char* text;
  } cases[] = {
      {{1996, 11, 5, 14, 7, 9, 0}, "11/05/1996 02:07:09 PM"},
      {{1996, 11, 5, 14, 7, 9, 50}, "11/05/1996 02:07:09.50 PM"},
      {{2024, 1, 2, 0, 0, 0, 0}, "01/02/2024 12:00:00 AM"},
      {{2024, 1, 2, 12, 0, 0, 5}, "01/02/2024 12:00:00.05 PM"},
      {{1, 1, 1, 23, 59, 59, 99}, "01/01/0001 11:59:59.99 PM"},
      {{32767, 12, 31, 1, 0, 0, 0}, "12/31/32767 01:00:00 AM"},
      {{2024, 7, 4, -1, -1, -1, -1}, "07/04/2024"},
      {{-1, -1, -1, 9, 5, 0, 0}, "09:05:00 AM"},
      {{-1, -1, -1, -1, -1, -1, -1}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TextOf(Make(c.p)), c.text);
  TWDatetime cleared;
  TWDatetimeClear(&cleared);
  EXPECT_EQ(TextOf(cleared), "");
}

TEST(DatetimeText, WritesAChangedRecord) {
  const TWDatetime v = Make({1996, 11, 5, 14, 7, 9, 0});
  {
    twtest::ScopedIntl intl([](TWIntlFormat& f) {
      f.format1 = 2;
      f.format2 = 1;
      twtest::ScopedIntl::SetText(&f.date, ".");
      twtest::ScopedIntl::SetText(&f.time, ".");
    });
    EXPECT_EQ(TextOf(v), "05.11.1996 14.07.09");
  }
  {
    twtest::ScopedIntl intl([](TWIntlFormat& f) {
      f.format1 = 3;
      twtest::ScopedIntl::SetText(&f.date, "-");
      twtest::ScopedIntl::SetText(&f.am, "vm");
      twtest::ScopedIntl::SetText(&f.pm, "nm");
    });
    EXPECT_EQ(TextOf(v), "1996-11-05 02:07:09 nm");
  }
  {
    // Words outside the known values fall back to the defaults; empty separators too.
    twtest::ScopedIntl intl([](TWIntlFormat& f) {
      f.format1 = 9;
      f.format2 = -1;
      twtest::ScopedIntl::SetText(&f.date, "");
      twtest::ScopedIntl::SetText(&f.pm, "");
    });
    EXPECT_EQ(TextOf(v), "11/05/1996 02:07:09 PM");
  }
}

TEST(DatetimeText, WritesOtherFormats) {
  const TWDatetime v = Make({2024, 7, 4, 9, 5, 0, 0});
  EXPECT_EQ(TextOf(v, TWSTREAMFMT_UNICODE), twtest::Wide("07/04/2024 09:05:00 AM"));
  EXPECT_EQ(TextOf(v, TWSTREAMFMT_DATETIME_LIST), twtest::OneEntry(&v, sizeof v));
  EXPECT_EQ(TextOf(v, TWSTREAMFMT_TEXT_LIST),
            std::string("\x01\x00\x16\x00", 4) + "07/04/2024 09:05:00 AM");
  EXPECT_EQ(TextOf(v, TWSTREAMFMT_NUMBER_LIST), "status " + std::to_string(TWFAIL_INVALID_CONVERT));
  EXPECT_EQ(TextOf(v, 0), "status " + std::to_string(TWFAIL_ZERO_FORMAT));
}

TEST(DatetimeText, ReadsTable) {
  twtest::ScopedTZ tz("UTC");
  struct Case {
    const char* text;
    const char* shown;  // nullptr: TWFAIL_INVALID_DATETIME
  } cases[] = {
      {"11/05/1996 02:07:09 PM", "1996-11-05 14:07:09.00 z0 d0"},
      {"  11/05/1996 14:07:09  ", "1996-11-05 14:07:09.00 z0 d0"},
      {"11-05-1996", "1996-11-05 -1:-1:-1.-1 z0 d0"},
      {"11.5.96", "1996-11-05 -1:-1:-1.-1 z0 d0"},
      {"1/2/49", "2049-01-02 -1:-1:-1.-1 z0 d0"},
      {"1/2/50", "1950-01-02 -1:-1:-1.-1 z0 d0"},
      {"1/2/0050", "0050-01-02 -1:-1:-1.-1 z0 d0"},
      {"1996-11-05T14:07:09.5", "1996-11-05 14:07:09.50 z0 d0"},
      {"1996-11-05 14:07:09.123", "1996-11-05 14:07:09.12 z0 d0"},
      {"1996-11-05 14:07", "1996-11-05 14:07:00.00 z0 d0"},
      {"32767/12/31 11:59:59.99 pm", "32767-12-31 23:59:59.99 z0 d0"},
      {"0001-01-01 00:00", "0001-01-01 00:00:00.00 z0 d0"},
      {"2:07 pm", "-001--1--1 14:07:00.00 z0 d0"},
      {"12:00 AM", "-001--1--1 00:00:00.00 z0 d0"},
      {"12:30:00PM", "-001--1--1 12:30:00.00 z0 d0"},
      {"\t23:59:59\t", "-001--1--1 23:59:59.00 z0 d0"},
      {"", "-001--1--1 -1:-1:-1.-1 z0 d0"},
      {"   ", "-001--1--1 -1:-1:-1.-1 z0 d0"},
      {"13/01/2000", nullptr},
      {"02/30/2000", nullptr},
      {"02/29/1900", nullptr},
      {"0000-01-01", nullptr},
      {"32768-01-01", nullptr},
      {"1996-11/05", nullptr},
      {"11/05", nullptr},
      {"11/05/", nullptr},
      {"1996-11-05X14:00", nullptr},
      {"1996-11-05 14:07:09 +01:00", nullptr},
      {"25:00", nullptr},
      {"12:60", nullptr},
      {"13:00 PM", nullptr},
      {"14", nullptr},
      {"hello", nullptr},
      {"11/05/1996 02:07:09 XM", nullptr},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    TWDatetime v{1, 2451545};
    uint32_t st = TWDatetimeFromStream(&v, t.get());
    if (c.shown == nullptr) {
      EXPECT_EQ(st, TWFAIL_INVALID_DATETIME) << '"' << c.text << '"';
      EXPECT_EQ(v.ticks, 1u);
      EXPECT_EQ(v.date, 2451545u);
      continue;
    }
    ASSERT_EQ(st, TWSUCCESS) << '"' << c.text << '"';
    EXPECT_EQ(Show(v), c.shown) << '"' << c.text << '"';
  }
}

TEST(DatetimeText, ReadsAChangedRecord) {
  twtest::ScopedTZ tz("UTC");
  twtest::ScopedIntl intl([](TWIntlFormat& f) {
    f.format1 = 2;
    twtest::ScopedIntl::SetText(&f.date, "|");
    twtest::ScopedIntl::SetText(&f.time, "h");
    twtest::ScopedIntl::SetText(&f.pm, "nm");
  });
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"05|11|1996 02h07 nm", "1996-11-05 14:07:00.00 z0 d0"},
      {"05/11/1996 02:07 PM", "1996-11-05 14:07:00.00 z0 d0"},
      {"1996-11-05", "1996-11-05 -1:-1:-1.-1 z0 d0"},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    TWDatetime v;
    ASSERT_EQ(TWDatetimeFromStream(&v, t.get()), TWSUCCESS) << c.text;
    EXPECT_EQ(Show(v), c.shown) << c.text;
  }
}

TEST(DatetimeText, ReadTakesTheMachinesZoneAtThatClock) {
  twtest::ScopedTZ tz("America/New_York");
  Text summer("07/04/2024 12:00:00 PM");
  Text winter("01/04/2024 12:00:00 PM");
  TWDatetime v;
  ASSERT_EQ(TWDatetimeFromStream(&v, summer.get()), TWSUCCESS);
  EXPECT_EQ(Show(v), "2024-07-04 12:00:00.00 z-5 d1");
  ASSERT_EQ(TWDatetimeFromStream(&v, winter.get()), TWSUCCESS);
  EXPECT_EQ(Show(v), "2024-01-04 12:00:00.00 z-5 d0");
}

TEST(DatetimeText, RoundTripsThroughEachRecord) {
  twtest::ScopedTZ tz("UTC");
  const TWDatetime values[] = {
      Make({1996, 11, 5, 14, 7, 9, 50}),     Make({1, 1, 1, 0, 0, 0, 0}),
      Make({32767, 12, 31, 23, 59, 59, 99}), Make({2000, 2, 29, 12, 0, 0, 1}),
      Make({2024, 7, 4, -1, -1, -1, -1}),    Make({-1, -1, -1, 0, 0, 0, 0}),
  };
  for (int record = 0; record < 3; ++record) {
    twtest::ScopedIntl intl([&](TWIntlFormat& f) {
      f.format1 = record + 1;
      f.format2 = record == 1 ? 1 : 2;
    });
    for (const TWDatetime& v : values) {
      Text t;
      ASSERT_EQ(TWStreamFromDatetime(t.get(), &v, TWSTREAMFMT_NATIVE), TWSUCCESS);
      TWDatetime back;
      ASSERT_EQ(TWDatetimeFromStream(&back, t.get()), TWSUCCESS) << t.str();
      EXPECT_EQ(Show(back), Show(v)) << t.str();
    }
  }
}

TEST(DatetimeText, ReadsOtherFormats) {
  twtest::ScopedTZ tz("UTC");
  const TWDatetime v = Make({2024, 7, 4, 9, 5, 0, 0, 2});
  const double kOne = 1.0;
  struct Case {
    const char* name;
    uint32_t format;
    std::string bytes;
    uint32_t status;
    const char* shown;
  } cases[] = {
      {"two-byte", TWSTREAMFMT_UNICODE, twtest::Wide("07/04/2024 09:05"), TWSUCCESS,
       "2024-07-04 09:05:00.00 z0 d0"},
      {"datetime list", TWSTREAMFMT_DATETIME_LIST, twtest::OneEntry(&v, sizeof v), TWSUCCESS,
       "2024-07-04 09:05:00.00 z2 d0"},
      {"empty datetime list", TWSTREAMFMT_DATETIME_LIST, std::string(4, '\0'), TWSUCCESS,
       "-001--1--1 -1:-1:-1.-1 z0 d0"},
      {"text list", TWSTREAMFMT_TEXT_LIST, std::string("\x01\x00\x0A\x00", 4) + "07/04/2024",
       TWSUCCESS, "2024-07-04 -1:-1:-1.-1 z0 d0"},
      {"number list", TWSTREAMFMT_NUMBER_LIST, twtest::OneEntry(&kOne, sizeof kOne),
       TWFAIL_INVALID_CONVERT, nullptr},
      {"broken datetime list", TWSTREAMFMT_DATETIME_LIST,
       twtest::OneEntry("\x00\x00\x00\x00\x05\x00\x00\x00", 8), TWFAIL_INVALID_DATETIME, nullptr},
  };
  for (const Case& c : cases) {
    Text t(c.bytes, c.format);
    TWDatetime out;
    TWDatetimeClear(&out);
    EXPECT_EQ(TWDatetimeFromStream(&out, t.get()), c.status) << c.name;
    if (c.shown != nullptr) {
      EXPECT_EQ(Show(out), c.shown) << c.name;
    }
  }
}

TEST(DatetimeValues, NullArguments) {
  TWDatetime v = Make({2024, 1, 1, 0, 0, 0, 0});
  TWDatetimeParts p{};
  int32_t r = 0;
  Text t("01/01/2024");
  EXPECT_EQ(TWDatetimeClear(nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeCopy(nullptr, &v), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeCopy(&v, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeSetConstant(nullptr, TWDTCONST_MINIMUM), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeGetParts(nullptr, 0, &p), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeGetParts(&v, 0, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeSetParts(nullptr, &p, 0), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeSetParts(&v, nullptr, 0), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeAdjust(nullptr, &p), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeAdjust(&v, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeCompare(&v, nullptr, &r), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeCompare(&v, &v, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeGetDiff(nullptr, &v, TWDTUNIT_DAY, &r), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeGetDiff(&v, &v, TWDTUNIT_DAY, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeSetJulian(nullptr, 2451545), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeSetTicks(nullptr, 0), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeFromStream(nullptr, t.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWDatetimeFromStream(&v, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamFromDatetime(nullptr, &v, TWSTREAMFMT_NATIVE), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamFromDatetime(t.get(), nullptr, TWSTREAMFMT_NATIVE), TWFAIL_NULL_BUFFER);
}

}  // namespace
