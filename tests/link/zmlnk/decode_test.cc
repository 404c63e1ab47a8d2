// Value decodings and encodings of the text-file connector as tables of bytes: binary input
// types, EBCDIC, implied decimals, number text for output, and dates by FORMAT both ways.
#include <gtest/gtest.h>

#include <cmath>
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
      {"123.45", 123.45}, {"  -7", -7}, {"+3.5e2xyz", 350}, {"abc", 0}, {"", 0},
      {"-.5", -0.5},      {"+-5", 0},   {"12 34", 12},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << c.text;
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

TEST(FlatrecDates, MissingNamesWriteNothing) {
  DateNames names;
  DateNames::Split("Mon", &names.days);
  std::string out;
  ASSERT_EQ(FormatDate(Date(1996, 11, 5, 0, 0, 0), "[W*][N*]", names, &out), TWSUCCESS);
  EXPECT_EQ(out, "[][]");
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
