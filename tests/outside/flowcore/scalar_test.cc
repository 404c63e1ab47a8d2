// Integers and doubles to and from text: syntax, limits, rounding, the international
// separators, and the stream formats a value can be read from or written into.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "flowcore.h"
#include "value_test_util.h"

namespace {

using twtest::Text;

constexpr int32_t kUnset = 12345;

TEST(IntText, ReadsTable) {
  struct Case {
    const char* text;
    uint32_t status;
    int32_t value;  // kUnset: left as it was
  } cases[] = {
      {"0", TWSUCCESS, 0},
      {"  -42\t", TWSUCCESS, -42},
      {"+7", TWSUCCESS, 7},
      {"1,234,567", TWSUCCESS, 1234567},
      {"12.9", TWSUCCESS, 12},
      {"-12.9", TWSUCCESS, -12},
      {"-0.9", TWSUCCESS, 0},
      {".5", TWSUCCESS, 0},
      {"2147483647", TWSUCCESS, 2147483647},
      {"-2147483647", TWSUCCESS, -2147483647},
      {"2147483648", TWFAIL_OVERFLOW, 2147483647},
      // Every value of the 32 bits is an integer; one past either end is not.
      {"-2147483648", TWSUCCESS, INT32_MIN},
      {"-2147483648.9", TWSUCCESS, INT32_MIN},
      {"-2147483649", TWFAIL_OVERFLOW, INT32_MIN},
      {"-99999999999999999999999", TWFAIL_OVERFLOW, INT32_MIN},
      {"0000000000000000000012", TWSUCCESS, 12},
      {"", TWFAIL_INVALID_INT, kUnset},
      {"-", TWFAIL_INVALID_INT, kUnset},
      {"abc", TWFAIL_INVALID_INT, kUnset},
      {"1e3", TWFAIL_INVALID_INT, kUnset},
      {"12 34", TWFAIL_INVALID_INT, kUnset},
      {"1,,234", TWFAIL_INVALID_INT, kUnset},
      {",123", TWFAIL_INVALID_INT, kUnset},
      {"123,", TWFAIL_INVALID_INT, kUnset},
      {"1.2.3", TWFAIL_INVALID_INT, kUnset},
      {"0x10", TWFAIL_INVALID_INT, kUnset},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    int32_t v = kUnset;
    EXPECT_EQ(TWIntFromStream(&v, t.get()), c.status) << '"' << c.text << '"';
    EXPECT_EQ(v, c.value) << '"' << c.text << '"';
  }
}

TEST(IntText, WritesAndReadsBack) {
  for (int32_t v : {0, 1, -1, 2147483647, INT32_MIN, 1000000}) {
    Text t;
    ASSERT_EQ(TWStreamFromInt(t.get(), &v, TWSTREAMFMT_NATIVE), TWSUCCESS);
    EXPECT_EQ(t.str(), std::to_string(v));
    int32_t back = 0;
    EXPECT_EQ(TWIntFromStream(&back, t.get()), TWSUCCESS);
    EXPECT_EQ(back, v);
  }
}

TEST(FloatText, ReadsTable) {
  const double kMax = std::numeric_limits<double>::max();
  struct Case {
    const char* text;
    uint32_t status;
    double value;
  } cases[] = {
      {"1.5", TWSUCCESS, 1.5},
      {" -2.5e-3 ", TWSUCCESS, -0.0025},
      {"1,000.25", TWSUCCESS, 1000.25},
      {"1.", TWSUCCESS, 1.0},
      {".5", TWSUCCESS, 0.5},
      {"1E+2", TWSUCCESS, 100.0},
      {"0.1000000000000000055511151231257827021181583404541015625", TWSUCCESS, 0.1},
      {"1e308", TWSUCCESS, 1e308},
      {"1.7976931348623157e308", TWSUCCESS, kMax},
      {"1e309", TWFAIL_OVERFLOW, kMax},
      {"-1e99999999", TWFAIL_OVERFLOW, -kMax},
      {"1e-400", TWSUCCESS, 0.0},
      {"inf", TWFAIL_INVALID_FLOAT, 7.0},
      {"nan", TWFAIL_INVALID_FLOAT, 7.0},
      {"0x1p3", TWFAIL_INVALID_FLOAT, 7.0},
      {"1e", TWFAIL_INVALID_FLOAT, 7.0},
      {"1e+", TWFAIL_INVALID_FLOAT, 7.0},
      {"e5", TWFAIL_INVALID_FLOAT, 7.0},
      {"", TWFAIL_INVALID_FLOAT, 7.0},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    double v = 7.0;
    EXPECT_EQ(TWFloatFromStream(&v, t.get()), c.status) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

// 2^53 + 1 lies exactly between two doubles: digits far beyond what is kept must still
// decide the rounding.
TEST(FloatText, DigitsBeyondTheKeptOnesStillRound) {
  const std::string zeros(300, '0');
  Text halfway("9007199254740993." + zeros);
  Text above("9007199254740993." + zeros + "1");
  double v = 0;
  ASSERT_EQ(TWFloatFromStream(&v, halfway.get()), TWSUCCESS);
  EXPECT_EQ(v, 9007199254740992.0);
  ASSERT_EQ(TWFloatFromStream(&v, above.get()), TWSUCCESS);
  EXPECT_EQ(v, 9007199254740994.0);
}

TEST(FloatText, WritesTable) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {-2.0, "-2"},
      {100000.0, "100000"},
      {1.0 / 3, "0.333333333333333"},
      {0.0001, "0.0001"},
      {0.00001, "1e-05"},
      {1e15, "1e+15"},
      {123456789012345678.0, "123456789012346000"},
      {-2.5e-300, "-2.5e-300"},
      {DBL_MAX, "1.79769313486232e+308"},
      {5e-324, "4.94065645841247e-324"},
  };
  for (const Case& c : cases) {
    Text t;
    ASSERT_EQ(TWStreamFromFloat(t.get(), &c.value, TWSTREAMFMT_NATIVE), TWSUCCESS);
    EXPECT_EQ(t.str(), c.text);
    EXPECT_LT(t.str().size(), size_t{TWMAXLEN_FLOAT_TEXT});
  }
}

TEST(FloatText, FifteenDigitValuesReadBackExactly) {
  for (double v : {0.1, 123.456, -9.87654321012345e-100, 1.5e300, 299792458.0, 1e-5}) {
    Text t;
    ASSERT_EQ(TWStreamFromFloat(t.get(), &v, TWSTREAMFMT_NATIVE), TWSUCCESS);
    double back = 0;
    ASSERT_EQ(TWFloatFromStream(&back, t.get()), TWSUCCESS) << t.str();
    EXPECT_EQ(back, v) << t.str();
  }
}

TEST(FloatText, NonFiniteValuesAreNotWritten) {
  for (double v : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    Text t("keep");
    EXPECT_EQ(TWStreamFromFloat(t.get(), &v, TWSTREAMFMT_NATIVE), TWFAIL_INVALID_FLOAT);
    EXPECT_EQ(t.str(), "keep");
  }
}

// Readers take the record's separators as well as "."; writers never use them.
TEST(ScalarText, HonoursTheInternationalSeparators) {
  twtest::ScopedIntl intl([](TWIntlFormat& f) {
    twtest::ScopedIntl::SetText(&f.decimal, ",");
    twtest::ScopedIntl::SetText(&f.thousands, " ");
  });
  struct Case {
    const char* text;
    uint32_t status;
    double value;
  } cases[] = {
      {"1,5", TWSUCCESS, 1.5},
      {"1.5", TWSUCCESS, 1.5},
      {"1 234,25", TWSUCCESS, 1234.25},
      {"1 234.25", TWSUCCESS, 1234.25},
      {"1,234,5", TWFAIL_INVALID_FLOAT, 0},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    double v = 0;
    EXPECT_EQ(TWFloatFromStream(&v, t.get()), c.status) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
  double d = 1234.5;
  Text out;
  ASSERT_EQ(TWStreamFromFloat(out.get(), &d, TWSTREAMFMT_NATIVE), TWSUCCESS);
  EXPECT_EQ(out.str(), "1234.5");
}

// With "." as the thousands separator "1.5" would be ambiguous; "." stays the point.
TEST(ScalarText, PointIsNeverAThousandsSeparator) {
  twtest::ScopedIntl intl([](TWIntlFormat& f) {
    twtest::ScopedIntl::SetText(&f.decimal, ",");
    twtest::ScopedIntl::SetText(&f.thousands, ".");
  });
  Text t("1.500");
  double v = 0;
  ASSERT_EQ(TWFloatFromStream(&v, t.get()), TWSUCCESS);
  EXPECT_EQ(v, 1.5);
}

TEST(ScalarStreams, ReadsOtherFormatsAndLists) {
  struct Case {
    const char* name;
    uint32_t format;
    std::string bytes;
    uint32_t status;
    int32_t value;
  };
  const double nums[] = {7.9, 3.0};
  std::string number_list("\x02\x00\x00\x00", 4);
  number_list.append(reinterpret_cast<const char*>(nums), sizeof nums);
  const double huge = 1e10;
  const TWDatetime dt{0, 2451545};
  Case cases[] = {
      {"two-byte text", TWSTREAMFMT_UNICODE, twtest::Wide(" -31 "), TWSUCCESS, -31},
      {"two-byte text beyond ASCII", TWSTREAMFMT_UNICODE,
       std::string("\xE9\x00"
                   "5\x00",
                   4),
       TWFAIL_INVALID_INT, kUnset},
      {"Latin-1 text", TWSTREAMFMT_ISO88591, "-5", TWSUCCESS, -5},
      {"text list", TWSTREAMFMT_TEXT_LIST,
       std::string("\x02\x00\x02\x00\x01\x00"
                   "429",
                   9),
       TWSUCCESS, 42},
      {"empty text list", TWSTREAMFMT_TEXT_LIST, std::string("\x00\x00", 2), TWFAIL_INVALID_INT,
       kUnset},
      {"short text list", TWSTREAMFMT_TEXT_LIST,
       std::string("\x01\x00\x05\x00"
                   "12",
                   6),
       TWFAIL_INVALID_TEXT_LIST, kUnset},
      {"number list", TWSTREAMFMT_NUMBER_LIST, number_list, TWSUCCESS, 7},
      {"number list beyond int", TWSTREAMFMT_NUMBER_LIST, twtest::OneEntry(&huge, sizeof huge),
       TWFAIL_OVERFLOW, 2147483647},
      {"short number list", TWSTREAMFMT_NUMBER_LIST, std::string("\x01\x00\x00\x00\x01", 5),
       TWFAIL_INVALID_NUMBER_LIST, kUnset},
      {"datetime list", TWSTREAMFMT_DATETIME_LIST, twtest::OneEntry(&dt, sizeof dt),
       TWFAIL_INVALID_CONVERT, kUnset},
      {"binary", TWSTREAMFMT_BLOB, "12", TWFAIL_INVALID_CONVERT, kUnset},
  };
  for (const Case& c : cases) {
    Text t(c.bytes, c.format);
    int32_t v = kUnset;
    EXPECT_EQ(TWIntFromStream(&v, t.get()), c.status) << c.name;
    EXPECT_EQ(v, c.value) << c.name;
  }
}

TEST(ScalarStreams, WritesOtherFormatsAndLists) {
  const int32_t v = 42;
  const double d = 42.0;
  struct Case {
    uint32_t format;
    uint32_t status;
    std::string bytes;
  } cases[] = {
      {TWSTREAMFMT_QMBCS, TWSUCCESS, "42"},
      {TWSTREAMFMT_UNICODE, TWSUCCESS, twtest::Wide("42")},
      {TWSTREAMFMT_ISO88591, TWSUCCESS, "42"},
      {TWSTREAMFMT_TEXT_LIST, TWSUCCESS,
       std::string("\x01\x00\x02\x00"
                   "42",
                   6)},
      {TWSTREAMFMT_NUMBER_LIST, TWSUCCESS, twtest::OneEntry(&d, sizeof d)},
      {TWSTREAMFMT_DATETIME_LIST, TWFAIL_INVALID_CONVERT, "old"},
      {TWSTREAMFMT_BLOB, TWFAIL_INVALID_CONVERT, "old"},
      {0, TWFAIL_ZERO_FORMAT, "old"},
  };
  for (const Case& c : cases) {
    Text t("old");
    EXPECT_EQ(TWStreamFromInt(t.get(), &v, c.format), c.status) << std::hex << c.format;
    EXPECT_EQ(t.str(), c.bytes) << std::hex << c.format;
  }
}

// A stream's capacity holds for the text written into it.
TEST(ScalarStreams, CapacityOfTheTargetHolds) {
  TWStream s;
  ASSERT_EQ(TWStreamCreate(&s, 3, 0, TWSTREAMFMT_NATIVE), TWSUCCESS);
  const int32_t big = 123456;
  EXPECT_EQ(TWStreamFromInt(&s, &big, TWSTREAMFMT_NATIVE), TWFAIL_OVERFLOW);
  const int32_t small = -12;
  ASSERT_EQ(TWStreamFromInt(&s, &small, TWSTREAMFMT_NATIVE), TWSUCCESS);
  EXPECT_EQ(std::string(static_cast<const char*>(s.data), s.length), "-12");
  EXPECT_EQ(s.maxLength, 3u);
  TWStreamDataFree(&s);
}

TEST(ScalarStreams, NullArguments) {
  Text t("1");
  int32_t i = 0;
  double d = 0;
  TWStream broken{0, 0, TWSTREAMFMT_NATIVE, 4, nullptr};
  EXPECT_EQ(TWIntFromStream(nullptr, t.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWIntFromStream(&i, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWIntFromStream(&i, &broken), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWFloatFromStream(nullptr, t.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWFloatFromStream(&d, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamFromInt(nullptr, &i, TWSTREAMFMT_NATIVE), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamFromInt(t.get(), nullptr, TWSTREAMFMT_NATIVE), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamFromFloat(nullptr, &d, TWSTREAMFMT_NATIVE), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamFromFloat(t.get(), nullptr, TWSTREAMFMT_NATIVE), TWFAIL_NULL_BUFFER);
  // A cleared stream is empty text.
  Text empty;
  EXPECT_EQ(TWIntFromStream(&i, empty.get()), TWFAIL_INVALID_INT);
}

}  // namespace
