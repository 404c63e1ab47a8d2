// Value decodings and encodings of the text-file connector as tables of bytes: binary input
// types, EBCDIC, implied decimals, number text for output, and dates by FORMAT both ways.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "dates.h"
#include "ebcdic.h"
#include "flowcore.h"
#include "numbers.h"

namespace flatrec {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

TEST(FlatrecDecode, BinaryTypes) {
  const struct {
    ColumnType type;
    bool isUnsigned;
    std::string bytes;
    std::string text;
  } cases[] = {
      {ColumnType::kPacked, false, Bytes({0x12, 0x34, 0x5D}), "-12345"},
      {ColumnType::kPacked, false, Bytes({0x98, 0x7C}), "+987"},
      {ColumnType::kPacked, false, Bytes({0x01, 0x2B}), "-012"},
      {ColumnType::kPacked, true, Bytes({0x98, 0x7F}), " 987"},
      {ColumnType::kShort, true, Bytes({0xFF, 0xFF}), "65535"},
      {ColumnType::kShort, false, Bytes({0xFF, 0xFF}), "-1"},
      {ColumnType::kShort, false, Bytes({0x34, 0x12}), "4660"},
      {ColumnType::kLong, false, Bytes({0xFE, 0xFF, 0xFF, 0xFF}), "-2"},
      {ColumnType::kLong, true, Bytes({0xFE, 0xFF, 0xFF, 0xFF}), "4294967294"},
      {ColumnType::kFloat, false, Bytes({0x00, 0x00, 0xC0, 0x3F}), "1.500000"},
      {ColumnType::kFloat, false, Bytes({0x00, 0x00, 0x20, 0xC1}), "-10.000000"},
      {ColumnType::kBinary, false, Bytes({0xFF, 0xFE}), "-2"},
      {ColumnType::kBinary, true, Bytes({0xFF, 0xFE}), "65534"},
      // Four bytes with the top bit set are negative only without UNSIGNED.
      {ColumnType::kBinary, true, Bytes({0x80, 0x00, 0x00, 0x01}), "2147483649"},
      {ColumnType::kBinary, false, Bytes({0x80, 0x00, 0x00, 0x01}), "-2147483647"},
      // The whole width counts, up to eight bytes.
      {ColumnType::kBinary, false, Bytes({0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), "4294967296"},
      {ColumnType::kBinary, true, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
       "18446744073709551615"},
      {ColumnType::kBinary, false, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      // Up to four bytes without UNSIGNED: the big-endian value with the first byte's sign.
      {ColumnType::kBinary, false, Bytes({0x7F}), "127"},
      {ColumnType::kBinary, false, Bytes({0x80}), "-128"},
      {ColumnType::kBinary, false, Bytes({0x80, 0x00, 0x00}), "-8388608"},
      {ColumnType::kBinary, false, Bytes({0x7F, 0xFF, 0xFF, 0xFF}), "2147483647"},
      {ColumnType::kBinary, false, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "-1"},
      {ColumnType::kBinary, false, "", "0"},
      // A record that ends early leaves fewer bytes: the missing high bytes count as zero.
      {ColumnType::kLong, false, Bytes({0x05}), "5"},
  };
  for (const auto& c : cases) {
    std::string out;
    DecodeBinary(c.type, c.isUnsigned, c.bytes, &out);
    EXPECT_EQ(out, c.text) << static_cast<int>(c.type) << " " << c.isUnsigned;
  }
}

TEST(FlatrecDecode, Ebcdic) {
  const struct {
    std::string bytes;
    bool zoned;
    bool isUnsigned;
    std::string text;
  } cases[] = {
      {Bytes({0xC1, 0xC2, 0xF1}), false, false, "AB1"},
      {Bytes({0xF1, 0xF2, 0xD3}), true, false, "-123"},
      {Bytes({0xF1, 0xF2, 0xC3}), true, false, "+123"},
      {Bytes({0xF1, 0xF2, 0xF3}), true, false, "+123"},
      {Bytes({0xF1, 0xF2, 0xB3}), true, false, "-123"},
      {Bytes({0xF1, 0xF2, 0xD3}), true, true, "123"},
      {Bytes({0x40, 0x4B, 0x81}), false, false, " .a"},
  };
  for (const auto& c : cases) {
    std::string out;
    DecodeEbcdic(c.bytes, c.zoned, c.isUnsigned, &out);
    EXPECT_EQ(out, c.text);
  }
}

TEST(FlatrecDecode, TheTableIsAPermutation) {
  EXPECT_TRUE(IsPermutation(kEbcdicToAscii));
  EXPECT_EQ(kEbcdicToAscii[0xC1], 'A');
  EXPECT_EQ(kEbcdicToAscii[0xF0], '0');
  EXPECT_EQ(kEbcdicToAscii[0x40], ' ');
}

TEST(FlatrecDecode, ImpliedDecimals) {
  const struct {
    std::string text;
    unsigned n;
    std::string out;
  } cases[] = {
      {"12345", 2, "123.45"},
      {"5", 2, "0.05"},
      {"-5", 3, "-0.005"},
      {"+12", 2, "+0.12"},
      {"  12345 ", 2, "123.45"},
      {"123.45", 2, "123.45"},
      {"", 2, ""},
      {"-12345", 2, "-123.45"},
      {"7", 1, "0.7"},
  };
  for (const auto& c : cases) {
    std::string out;
    ImpliedDecimal(c.text, c.n, &out);
    EXPECT_EQ(out, c.out) << c.text;
  }
}

TEST(FlatrecDecode, NumbersReadTheLeadingPart) {
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"123.45", 123.45},
      {"  -7", -7},
      {"+3.5e2xyz", 350},
      {"abc", 0},
      {"", 0},
      {"-.5", -0.5},
      {"+-5", 0},
      {"12 34", 12},
      // Beyond the range of a double: too large is infinite (refused when moved into a
      // field), too small is zero.
      {"1e400", HUGE_VAL},
      {"-1e400", -HUGE_VAL},
      {"0.001e312", HUGE_VAL},
      {"1e-400", 0},
      {"-1e-400", 0},
      {"1000e-330", 0},
      {"inf", HUGE_VAL},
      {"-Infinity", -HUGE_VAL},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
  EXPECT_TRUE(std::isnan(ParseNumber("nan")));
}

// Plain digits are read without their decimal text: the value must be what reading that
// text gives, bit for bit, on every count of digits and decimals the quick reader takes; it
// must decline everything else.
TEST(FlatrecDecode, PlainDigitsReadAsTheirDecimalText) {
  auto viaText = [](std::string_view text, unsigned decimals) {
    std::string point;
    if (decimals > 0) ImpliedDecimal(text, decimals, &point);
    return ParseNumber(decimals > 0 ? std::string_view(point) : text);
  };
  auto same = [&](const std::string& text, unsigned decimals) {
    double quick = 0;
    if (!PlainNumber(text, decimals, &quick)) {
      ADD_FAILURE() << text << " declined with " << decimals;
      return false;
    }
    const double slow = viaText(text, decimals);
    const bool equal = std::signbit(quick) == std::signbit(slow) && quick == slow;
    EXPECT_TRUE(equal) << text << " with " << decimals << ": " << quick << " against " << slow;
    return equal;
  };
  std::mt19937_64 random(1919);
  std::uniform_int_distribution<int> length(1, 15), digit(0, 9), sign(0, 2), places(0, 22);
  for (int i = 0; i < 100000; ++i) {
    std::string text = sign(random) == 0 ? "-" : sign(random) == 0 ? "+" : "";
    for (int n = length(random); n > 0; --n) text.push_back(static_cast<char>('0' + digit(random)));
    if (!same(text, static_cast<unsigned>(places(random)))) break;
  }
  for (const char* text : {"0", "-0", "+0", "000", "999999999999999", "-100000000000000", "5"})
    for (unsigned decimals : {0u, 1u, 2u, 15u, 22u}) same(text, decimals);

  const struct {
    const char* text;
    unsigned decimals;
  } declined[] = {{"", 0},    {"-", 2},   {"+", 0},   {"1234567890123456", 0},
                  {"12a", 0}, {"1.5", 0}, {"1 2", 0}, {" 12", 0},
                  {"12", 23}, {"--1", 0}, {"1e5", 0}, {"+-1", 2}};
  for (const auto& d : declined) {
    double v = 0;
    EXPECT_FALSE(PlainNumber(d.text, d.decimals, &v)) << d.text << " with " << d.decimals;
  }
}

std::string Number(double v, const char* zid) {
  Column col;
  col.precision = kNoPrecision;
  // zid: "p w z" precision (or -), width, zerofill flag
  int precision = -1, width = 0, zero = 0;
  std::sscanf(zid, "%d %d %d", &precision, &width, &zero);
  if (precision >= 0) col.precision = static_cast<uint8_t>(precision);
  col.width = static_cast<uint32_t>(width);
  col.widthGiven = width > 0;
  col.zerofill = zero != 0;
  NumberText t;
  FormatNumber(v, col, &t);
  std::string out;
  for (size_t i = 0; i < t.length(); ++i) out.push_back(t.at(i));
  return out;
}

TEST(FlatrecEncode, NumbersAsPrintfWouldWriteThem) {
  const struct {
    double value;
    const char* column;  // precision width zerofill
    std::string text;
  } cases[] = {
      {3.7, "-1 0 0", "4"},        {3.7, "2 8 1", "00003.70"},
      {-12.5, "1 0 0", "-12.5"},   {2.5, "-1 0 0", "2"},
      {-3.7, "2 8 1", "-0003.70"}, {123456.0, "-1 4 1", "123456"},
      {0.0, "2 6 1", "000.00"},    {1e20, "0 0 0", "100000000000000000000"},
      {-0.2, "-1 0 0", "-0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Number(c.value, c.column), c.text) << c.value;
}

// The quick fixed-point writer against the general one, on values spread over every
// magnitude it takes and beyond, and on exact ties that only the general one may decide.
TEST(FlatrecEncode, FixedPointWritesWhatToCharsWrites) {
  std::mt19937_64 random(19);
  std::uniform_real_distribution<double> exponent(-12.0, 16.0);
  std::uniform_int_distribution<int> precisionOf(0, 17);
  auto general = [](double v, int precision) {
    char buffer[400];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, precision);
    return std::string(buffer, ec == std::errc() ? end : buffer);
  };
  auto check = [&](double v, int precision) {
    Column col;
    col.precision = static_cast<uint8_t>(precision);
    NumberText t;
    FormatNumber(v, col, &t);
    std::string ours;
    for (size_t i = 0; i < t.length(); ++i) ours.push_back(t.at(i));
    std::string expected = std::signbit(v) ? "-" : "";
    expected += general(std::fabs(v), precision);
    EXPECT_EQ(ours, expected) << v << " with " << precision;
    return ours == expected;
  };
  for (int i = 0; i < 200000; ++i) {
    const double magnitude = std::pow(10.0, exponent(random));
    // Whole cents and halves are where the rounding goes wrong first.
    const double v = i % 3 == 0 ? std::round(magnitude * 100) / 100
                     : i % 3 == 1 ? std::round(magnitude * 2) / 2 + 0.005
                                  : magnitude;
    if (!check(i % 2 == 0 ? v : -v, precisionOf(random))) break;
  }
  const struct {
    double value;
    int precision;
  } ties[] = {{0.125, 2}, {2.5, 0}, {0.5, 0}, {1.5, 0}, {1e12 + 0.5, 0}, {0.375, 2},
              {1.005, 2}, {0.0, 3}, {-0.0, 2}, {1099511627775.5, 0}};
  for (const auto& t : ties) check(t.value, t.precision);
  char body[32];
  EXPECT_EQ(std::string(body, FixedPoint(1234.5678, 2, body)), "1234.57");
  EXPECT_EQ(FixedPoint(0.125, 2, body), 0u);  // a tie: left to the general writer
}

std::string Decimal(std::string_view text, const Column& col) {
  NumberText t;
  if (!FormatDecimal(text, col, &t)) return "<refused>";
  std::string out;
  for (size_t i = 0; i < t.length(); ++i) out.push_back(t.at(i));
  return out;
}

// Where a double holds the value exactly, its exact digits give the text the double gives:
// sixteenths have four exact decimals, as a currency has.
TEST(FlatrecEncode, ExactDecimalsWriteWhatAnExactDoubleWrites) {
  std::mt19937_64 random(32);
  std::uniform_int_distribution<int64_t> sixteenths(-(int64_t{1} << 40), int64_t{1} << 40);
  std::uniform_int_distribution<int> precisionOf(0, 6);
  for (int i = 0; i < 20000; ++i) {
    const int64_t k = i < 64 ? i - 32 : sixteenths(random);
    const uint64_t m = k < 0 ? 0 - static_cast<uint64_t>(k) : static_cast<uint64_t>(k);
    char frac[5];
    std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>((m % 16) * 625));
    const std::string text = (k < 0 ? "-" : "") + std::to_string(m / 16) + "." + frac;
    Column col;
    col.precision = static_cast<uint8_t>(precisionOf(random));
    if (i % 3 == 0) {
      col.width = 14;
      col.widthGiven = true;
      col.zerofill = true;
    }
    col.isUnsigned = i % 5 == 0;
    const double v = static_cast<double>(k) / 16;
    NumberText t;
    FormatNumber(col.isUnsigned ? std::fabs(v) : v, col, &t);
    std::string expected;
    for (size_t j = 0; j < t.length(); ++j) expected.push_back(t.at(j));
    ASSERT_EQ(Decimal(text, col), expected) << text << " with " << int{col.precision};
  }
}

TEST(FlatrecEncode, ExactDecimalsKeepEveryDigit) {
  const struct {
    const char* text;
    int precision;  // -1: none
    const char* out;
  } cases[] = {
      {"922337203685477.5807", 4, "922337203685477.5807"},
      {"-922337203685477.5808", 4, "-922337203685477.5808"},
      {"-922337203685477.5808", -1, "-922337203685478"},
      {"99999999999999999999999999999999999999", -1, "99999999999999999999999999999999999999"},
      {"9.99995", 4, "10.0000"},
      {"0.00005", 4, "0.0000"},
      {"0.000051", 4, "0.0001"},
      {"007", 2, "7.00"},
      {"1e5", 0, "<refused>"},
      {"12a", 0, "<refused>"},
  };
  for (const auto& c : cases) {
    Column col;
    if (c.precision >= 0) col.precision = static_cast<uint8_t>(c.precision);
    EXPECT_EQ(Decimal(c.text, col), c.out) << c.text;
  }
}

TEST(FlatrecEncode, AWideZeroFillIsNotMaterialised) {
  Column col;
  col.width = 60000;
  col.widthGiven = true;
  col.zerofill = true;
  NumberText t;
  FormatNumber(-1.0, col, &t);
  EXPECT_EQ(t.length(), 60000u);
  EXPECT_EQ(t.at(0), '-');
  EXPECT_EQ(t.at(1), '0');
  EXPECT_EQ(t.at(59999), '1');
}

TWDatetime Date(int y, int mo, int d, int h = -1, int mi = -1, int s = -1) {
  TWDatetimeParts p{y, mo, d, 0, h, mi, s, h < 0 ? -1 : 0, 0, 0};
  TWDatetime out{};
  EXPECT_EQ(TWDatetimeSetParts(&out, &p, TWPARTSF_LOCAL), TWSUCCESS);
  return out;
}

TWDatetimeParts Parts(const TWDatetime& d) {
  TWDatetimeParts p{};
  EXPECT_EQ(TWDatetimeGetParts(&d, TWPARTSF_LOCAL, &p), TWSUCCESS);
  return p;
}

DateNames Names() {
  DateNames n;
  DateNames::Split("Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday", &n.days);
  DateNames::Split(
      "January,February,March,April,May,June,July,August,September,October,November,December",
      &n.months);
  return n;
}

TEST(FlatrecDates, ReadByFormat) {
  const DateNames names = Names();
  const struct {
    std::string value;
    std::string format;
    int year, month, day, hour, minute;
  } cases[] = {
      {"05.11.96", "DD.MM.YY", 96, 11, 5, -1, -1},
      {"05.11.96", "DD.MM.yy", 1996, 11, 5, -1, -1},
      {"05-nov-96", "DD-NNN-yy", 1996, 11, 5, -1, -1},
      {"1996/036", "YYYY/JJJ", 1996, 2, 5, -1, -1},
      {"  5.11.1996", "DD.MM.YYYY", 1996, 11, 5, -1, -1},
      {"5.11.1996", "DD.MM.YYYY", 1996, 11, 5, -1, -1},  // a short run ends at the point
      {"199611", "YYYYMM", 1996, 11, 1, -1, -1},         // no day digits: the first
      {"1996-11-05 02:07 PM", "YYYY-MM-DD hh:mm AA", 1996, 11, 5, 14, 7},
      {"1996-11-05 12:30 AM", "YYYY-MM-DD hh:mm AA", 1996, 11, 5, 0, 30},
      {"1996-11-05 12:30 PM", "YYYY-MM-DD hh:mm AA", 1996, 11, 5, 12, 30},
      {"19961105  1  5", "YYYYMMDD hh mm", 1996, 11, 5, 1, 5},
  };
  for (const auto& c : cases) {
    TWDatetime d{};
    ASSERT_EQ(ParseDate(c.value, c.format, names, &d), TWSUCCESS) << c.value;
    TWDatetimeParts p = Parts(d);
    EXPECT_EQ(p.year, c.year) << c.value;
    EXPECT_EQ(p.month, c.month) << c.value;
    EXPECT_EQ(p.day, c.day) << c.value;
    EXPECT_EQ(p.hour, c.hour) << c.value;
    EXPECT_EQ(p.minute, c.minute) << c.value;
  }
}

TEST(FlatrecDates, ATimeAloneHasNoDate) {
  TWDatetime d{};
  ASSERT_EQ(ParseDate("12:30 AM", "hh:mm AA", Names(), &d), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&d), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(&d), 30u * 60u * 100u);
}

TEST(FlatrecDates, AnImpossibleDateFails) {
  TWDatetime d{};
  EXPECT_EQ(ParseDate("31.02.1996", "DD.MM.YYYY", Names(), &d), TWFAIL_INVALID_DATETIME);
}

TEST(FlatrecDates, MissingMonthNamesMatchNothing) {
  DateNames names;
  DateNames::Split("Jan,Feb", &names.months);
  TWDatetime d{};
  ASSERT_EQ(ParseDate("05-nov-96", "DD-NNN-yy", names, &d), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&d), TWDTNULL_DATE);
}

TEST(FlatrecDates, WriteByFormat) {
  const DateNames names = Names();
  const TWDatetime d = Date(1996, 11, 5, 14, 7, 9);
  const struct {
    std::string format;
    std::string text;
  } cases[] = {
      {"DD N* YYYY hh:mm:ss AA", "05 November 1996 14:07:09 PM"},
      {"W*, D. NNN yy", "Tuesday, 5. Nov 96"},
      {"YYYYJJJ", "1996310"},
      {"MM/DD/YYYY", "11/05/1996"},
      {"WW", "Tu"},
      {"ap", "PM"},
  };
  for (const auto& c : cases) {
    std::string out;
    ASSERT_EQ(FormatDate(d, c.format, names, &out), TWSUCCESS);
    EXPECT_EQ(out, c.text) << c.format;
  }
  std::string out;
  ASSERT_EQ(FormatDate(Date(2000, 1, 1, 9, 0, 0), "hh AA", names, &out), TWSUCCESS);
  EXPECT_EQ(out, "09 AM");
}

// Values without a date or without a time are taken apart without the engine: parts and
// status must be the engine's for each, including the ends of the calendar, a cleared
// record, zones at and past their limits, daylight saving, and values the engine refuses.
TEST(FlatrecDates, LocalPartsAreTheEngines) {
  constexpr uint32_t kNoDate = 0xFFFFFF;
  constexpr uint32_t kFirst = 1721426, kLast = 13689325;  // 1 January 1, 31 December 32767
  auto zoned = [](uint32_t day, int zone, bool daylight) {
    return day | ((static_cast<uint32_t>(zone) & 0x7F) << 24) | (daylight ? 0x80000000u : 0u);
  };
  const TWDatetime values[] = {
      {0, 0},
      {TWDTNULL_TIME, zoned(kNoDate, 0, false)},
      {TWDTNULL_TIME, zoned(kFirst, 0, false)},
      {TWDTNULL_TIME, zoned(kLast, 0, false)},
      {TWDTNULL_TIME, zoned(kFirst - 1, 0, false)},
      {TWDTNULL_TIME, zoned(kLast + 1, 0, false)},
      {TWDTNULL_TIME, zoned(2451545, 14, true)},  // 1 January 2000
      {TWDTNULL_TIME, zoned(2451545, -12, false)},
      {TWDTNULL_TIME, zoned(2451545, 15, false)},  // zones the engine refuses
      {TWDTNULL_TIME, zoned(2451545, -13, false)},
      {TWDTNULL_TIME, zoned(2460000, 1, true)},
      {4530000, zoned(kNoDate, 2, false)},  // times alone: 12:35
      {0, zoned(kNoDate, 0, true)},
      {8639999, zoned(kNoDate, -5, false)},
      {8640000, zoned(kNoDate, 0, false)},  // past the day
      {8640000, zoned(2451545, 0, false)},
      {4530000, zoned(2451545, 1, false)},  // complete values move to the local zone
      {0, zoned(kFirst, 0, false)},
      {8639999, zoned(kLast, 14, true)},
  };
  for (const TWDatetime& v : values) {
    TWDatetimeParts ours{}, engine{};
    const uint32_t a = LocalParts(v, &ours);
    const uint32_t b = TWDatetimeGetParts(&v, TWPARTSF_LOCAL, &engine);
    EXPECT_EQ(a, b) << std::hex << v.ticks << " " << v.date;
    if (a != TWSUCCESS || b != TWSUCCESS) continue;
    EXPECT_EQ(std::memcmp(&ours, &engine, sizeof ours), 0) << std::hex << v.ticks << " " << v.date;
  }
  // Every day of four years on both sides of a leap day, and their weekdays.
  for (uint32_t day = 2451545 - 800; day < 2451545 + 800; ++day) {
    const TWDatetime v{TWDTNULL_TIME, day};
    TWDatetimeParts ours{}, engine{};
    ASSERT_EQ(LocalParts(v, &ours), TWSUCCESS);
    ASSERT_EQ(TWDatetimeGetParts(&v, TWPARTSF_LOCAL, &engine), TWSUCCESS);
    ASSERT_EQ(std::memcmp(&ours, &engine, sizeof ours), 0) << day;
  }
}

TEST(FlatrecDates, MissingNamesWriteNothing) {
  DateNames names;
  DateNames::Split("Mon", &names.days);
  std::string out;
  ASSERT_EQ(FormatDate(Date(1996, 11, 5, 0, 0, 0), "[W*][N*]", names, &out), TWSUCCESS);
  EXPECT_EQ(out, "[][]");
}

// Days around the changes of daylight saving, zones with half hours, a zone that skipped a
// day, zones at the ends of the range.
constexpr const char* kZones[] = {"Europe/Berlin",
                                  "America/New_York",
                                  "Australia/Lord_Howe",
                                  "Pacific/Apia",
                                  "America/Sao_Paulo",
                                  "Asia/Kolkata",
                                  "Pacific/Kiritimati",
                                  "Etc/GMT+12",
                                  "Europe/Dublin",
                                  "America/St_Johns",
                                  "UTC"};

// Calls each(zone, year, month, day) for every day 1 to 31 of months in years, with TZ set
// to each of kZones in turn and the cache told of every change as a fetch or an insert tells
// it; TZ is as it was afterwards.
template <size_t Y, size_t M, class Each>
void InEachZone(LocalZoneCache& cache, const int (&years)[Y], const int (&months)[M], Each each) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved != nullptr ? saved : "";
  for (const char* zone : kZones) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    cache.CheckRule();
    for (int year : years)
      for (int month : months)
        for (int day = 1; day <= 31; ++day) each(zone, year, month, day);
  }
  if (saved != nullptr)
    ::setenv("TZ", restore.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

// The zone cache reads every wall clock as the engine does, in every zone of kZones and in
// years before 1901 and after 2038; one cache across every zone.
TEST(FlatrecDates, CachedZonesReadAsTheEngine) {
  const int years[] = {1, 1800, 1893, 1901, 1916, 1970, 1996, 2011, 2024, 2037, 2038, 2039, 2100,
                       2400, 32767};
  const int months[] = {1, 3, 4, 10, 11, 12};
  const char* times[] = {"", " 00:00", " 00:30", " 01:59", " 02:00", " 02:30", " 03:00",
                         " 12:00", " 23:59"};
  const DateFormat withTime = CompileDateFormat("DD.MM.YYYY hh:mm");
  const DateFormat dateOnly = CompileDateFormat("DD.MM.YYYY");
  const DateNames names = Names();
  LocalZoneCache cache;
  int mismatches = 0;
  InEachZone(cache, years, months, [&](const char* zone, int year, int month, int day) {
    for (const char* time : times) {
      char text[40];
      std::snprintf(text, sizeof text, "%02d.%02d.%04d%s", day, month, year, time);
      const DateFormat& format = *time == '\0' ? dateOnly : withTime;
      TWDatetime cached{}, engine{};
      const uint32_t a = ParseDate(text, format, names, &cached, &cache);
      const uint32_t b = ParseDate(text, format, names, &engine);
      const bool same = a == b && cached.date == engine.date && cached.ticks == engine.ticks;
      if (!same && mismatches++ < 10) ADD_FAILURE() << zone << " " << text;
    }
  });
}

// Complete values written by FORMAT take their local offset from the cache of UTC days: in
// every zone of kZones, values given in zones from -12 to +14, with and without daylight
// saving, through the days and hours around the changes of daylight saving and at the ends
// of the calendar, read as the engine reads them.
TEST(FlatrecDates, CachedZonesWriteAsTheEngine) {
  const int years[] = {1, 1916, 1996, 2011, 2024, 2038, 2039, 32767};
  const int months[] = {1, 3, 4, 10, 11, 12};
  const int hours[] = {0, 1, 2, 3, 5, 7, 12, 22, 23};
  const struct { int zone, daylight; } given[] = {{0, 0}, {1, 1}, {-12, 0}, {14, 0}, {-5, 1}};
  LocalZoneCache cache;
  int mismatches = 0;
  InEachZone(cache, years, months, [&](const char* zone, int year, int month, int day) {
    for (int hour : hours)
      for (const auto& g : given) {
        const TWDatetimeParts p{year, month, day, 0, hour, 30, 15, 50, g.daylight, g.zone};
        TWDatetime v{};
        if (TWDatetimeSetParts(&v, &p, 0) != TWSUCCESS) continue;
        TWDatetimeParts ours{}, engine{};
        const uint32_t a = cache.GetLocal(v, &ours);
        const uint32_t b = TWDatetimeGetParts(&v, TWPARTSF_LOCAL, &engine);
        const bool same =
            a == b && (a != TWSUCCESS || std::memcmp(&ours, &engine, sizeof ours) == 0);
        if (!same && mismatches++ < 10)
          ADD_FAILURE() << zone << " " << year << "-" << month << "-" << day << " " << hour
                        << ":30 in " << g.zone << "+" << g.daylight;
      }
  });
}

TEST(FlatrecDates, NamesAreSplitAndSqueezed) {
  DateNames n;
  DateNames::Split("  Mon ,  Tue  day,Wed,Thu,Fri,Sat,Sun,Extra", &n.days);
  EXPECT_EQ(n.days[0], "Mon");
  EXPECT_EQ(n.days[1], "Tue day");
  EXPECT_EQ(n.days[6], "Sun");
  EXPECT_EQ(DayOfYear(1996, 2, 5), 36);
  EXPECT_EQ(DayOfYear(1996, 12, 31), 366);
  EXPECT_EQ(DayOfYear(1997, 12, 31), 365);
}

}  // namespace
}  // namespace flatrec
