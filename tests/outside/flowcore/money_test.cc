// Currency and numeric values: text both ways, doubles, arithmetic, comparison, the limits
// of each type and the records that break them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "flowcore.h"
#include "value_test_util.h"

namespace {

using twtest::Text;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kUnset = 777;

// ---------------------------------------------------------------- currency

std::string CurrencyText(int64_t v) {
  TWCurrency c{v};
  Text t;
  EXPECT_EQ(TWStreamFromCurrency(t.get(), &c, TWSTREAMFMT_NATIVE), TWSUCCESS);
  return t.str();
}

TEST(CurrencyText, ReadsTable) {
  struct Case {
    const char* text;
    uint32_t status;
    int64_t value;
  } cases[] = {
      {"12.5", TWSUCCESS, 125000},
      {" -12.5 ", TWSUCCESS, -125000},
      {"$1,234.56", TWSUCCESS, 12345600},
      {"-$5", TWSUCCESS, -50000},
      {"$-5", TWSUCCESS, -50000},
      {"$ 5", TWSUCCESS, 50000},
      {"0.00005", TWSUCCESS, 1},
      {"-0.00005", TWSUCCESS, -1},
      {"0.0000499999", TWSUCCESS, 0},
      {"1.23456", TWSUCCESS, 12346},
      {"922337203685477.5807", TWSUCCESS, kMax},
      {"-922337203685477.5807", TWSUCCESS, -kMax},
      {"922337203685477.5808", TWFAIL_OVERFLOW, kMax},
      {"-922337203685477.5808", TWSUCCESS, kMin},
      {"-922337203685477.58075", TWSUCCESS, kMin},
      {"-922337203685477.5809", TWFAIL_OVERFLOW, kMin},
      {"922337203685477.58069", TWSUCCESS, kMax},
      {"922337203685477.58075", TWFAIL_OVERFLOW, kMax},
      {"99999999999999999999999", TWFAIL_OVERFLOW, kMax},
      {"1e3", TWFAIL_INVALID_CURRENCY, kUnset},
      {"", TWFAIL_INVALID_CURRENCY, kUnset},
      {"$", TWFAIL_INVALID_CURRENCY, kUnset},
      {"5$5", TWFAIL_INVALID_CURRENCY, kUnset},
      {"12.5.0", TWFAIL_INVALID_CURRENCY, kUnset},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    TWCurrency v{kUnset};
    EXPECT_EQ(TWCurrencyFromStream(&v, t.get()), c.status) << c.text;
    EXPECT_EQ(v.value, c.value) << c.text;
  }
}

TEST(CurrencyText, WritesFourPlaces) {
  struct Case {
    int64_t value;
    const char* text;
  } cases[] = {
      {0, "0.0000"},
      {1, "0.0001"},
      {-1, "-0.0001"},
      {-125000, "-12.5000"},
      {kMax, "922337203685477.5807"},
      {-kMax, "-922337203685477.5807"},
      {kMin, "-922337203685477.5808"},
  };
  for (const Case& c : cases) EXPECT_EQ(CurrencyText(c.value), c.text);
}

TEST(CurrencyText, ReadsTheRecordsSymbolAndSeparators) {
  twtest::ScopedIntl intl([](TWIntlFormat& f) {
    twtest::ScopedIntl::SetText(&f.currency, "EUR");
    twtest::ScopedIntl::SetText(&f.decimal, ",");
    twtest::ScopedIntl::SetText(&f.thousands, " ");
  });
  Text t("-EUR 1 234,5");
  TWCurrency v{0};
  ASSERT_EQ(TWCurrencyFromStream(&v, t.get()), TWSUCCESS);
  EXPECT_EQ(v.value, -12345000);
  EXPECT_EQ(CurrencyText(v.value), "-1234.5000");
}

TEST(CurrencyFloat, ConvertsBothWays) {
  struct Case {
    double value;
    uint32_t status;
    int64_t currency;
  } cases[] = {
      // The text a double prints as decides the rounding: 1.00005 is a hair below itself.
      {1.00005, TWSUCCESS, 10001},
      {0.145, TWSUCCESS, 1450},
      {-2.5, TWSUCCESS, -25000},
      {-0.00005, TWSUCCESS, -1},
      {922337203685477.5, TWSUCCESS, 9223372036854775000},
      {TWMAX_CURRENCY_VALUE, TWFAIL_OVERFLOW, kMax},
      {-1e300, TWFAIL_OVERFLOW, kMin},
      {std::nan(""), TWFAIL_INVALID_FLOAT, kUnset},
      {HUGE_VAL, TWFAIL_INVALID_FLOAT, kUnset},
  };
  for (const Case& c : cases) {
    TWCurrency v{kUnset};
    EXPECT_EQ(TWCurrencyFromFloat(&v, &c.value), c.status) << c.value;
    EXPECT_EQ(v.value, c.currency) << c.value;
  }
  struct Back {
    int64_t currency;
    double value;
  } backs[] = {
      {12345, 1.2345},
      {-1, -0.0001},
      {kMax, std::strtod("922337203685477.5807", nullptr)},
      {-kMax + 3, std::strtod("-922337203685477.5804", nullptr)},
  };
  for (const Back& b : backs) {
    TWCurrency c{b.currency};
    double d = 0;
    ASSERT_EQ(TWFloatFromCurrency(&d, &c), TWSUCCESS);
    EXPECT_EQ(d, b.value) << b.currency;
  }
}

TEST(CurrencyArithmetic, AddsSubtractsAndRefusesOverflow) {
  struct Case {
    int64_t a, b;
    bool subtract;
    uint32_t status;
    int64_t result;  // kUnset: result left as it was
  } cases[] = {
      {125000, 25000, false, TWSUCCESS, 150000},
      {125000, 25000, true, TWSUCCESS, 100000},
      {kMax, 1, false, TWFAIL_OVERFLOW, kUnset},
      {kMax, -1, true, TWFAIL_OVERFLOW, kUnset},
      // The most negative 64-bit word is the lowest currency; one below it is not.
      {-kMax, 1, true, TWSUCCESS, kMin},
      {-kMax, -1, false, TWSUCCESS, kMin},
      {kMin, 1, true, TWFAIL_OVERFLOW, kUnset},
      {kMin, kMax, false, TWSUCCESS, -1},
      {-kMax, -kMax, true, TWSUCCESS, 0},
      {kMax, -kMax, false, TWSUCCESS, 0},
  };
  for (const Case& c : cases) {
    TWCurrency a{c.a}, b{c.b}, r{kUnset};
    uint32_t st = c.subtract ? TWCurrencySubtract(&r, &a, &b) : TWCurrencyAdd(&r, &a, &b);
    EXPECT_EQ(st, c.status) << c.a << (c.subtract ? " - " : " + ") << c.b;
    EXPECT_EQ(r.value, c.result) << c.a << (c.subtract ? " - " : " + ") << c.b;
  }
  TWCurrency a{10}, b{3};
  ASSERT_EQ(TWCurrencySubtract(&a, &a, &b), TWSUCCESS);
  EXPECT_EQ(a.value, 7);
}

TEST(CurrencyValues, CompareCopyClearAndNullArguments) {
  TWCurrency lo{-5}, hi{5}, d{1};
  int32_t r = 9;
  ASSERT_EQ(TWCurrencyCompare(&lo, &hi, &r), TWSUCCESS);
  EXPECT_EQ(r, -1);
  ASSERT_EQ(TWCurrencyCompare(&hi, &lo, &r), TWSUCCESS);
  EXPECT_EQ(r, 1);
  ASSERT_EQ(TWCurrencyCompare(&hi, &hi, &r), TWSUCCESS);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(TWCurrencyCopy(&d, &hi), TWSUCCESS);
  EXPECT_EQ(d.value, 5);
  ASSERT_EQ(TWCurrencyClear(&d), TWSUCCESS);
  EXPECT_EQ(d.value, 0);

  Text t("1");
  double f = 0;
  EXPECT_EQ(TWCurrencyCompare(nullptr, &hi, &r), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWCurrencyCompare(&lo, &hi, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWCurrencyAdd(nullptr, &lo, &hi), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWCurrencyAdd(&d, nullptr, &hi), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWCurrencyCopy(&d, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWCurrencyClear(nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWCurrencyFromStream(nullptr, t.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWCurrencyFromStream(&d, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamFromCurrency(t.get(), nullptr, TWSTREAMFMT_NATIVE), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWFloatFromCurrency(&f, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWCurrencyFromFloat(&d, nullptr), TWFAIL_NULL_BUFFER);
}

// ---------------------------------------------------------------- numeric

TWNumeric Declared(uint32_t precision, int32_t scale) {
  TWNumeric n;
  EXPECT_EQ(TWNumericCreate(&n, precision, scale), TWSUCCESS);
  return n;
}

// Reads text into n (keeping its declaration); answers the status.
uint32_t Read(TWNumeric* n, const std::string& text) {
  Text t(text);
  return TWNumericFromStream(n, t.get());
}

std::string Show(const TWNumeric& n) {
  Text t;
  uint32_t st = TWStreamFromNumeric(t.get(), &n, TWSTREAMFMT_NATIVE);
  return st == TWSUCCESS ? t.str() : "status " + std::to_string(st);
}

TWNumeric Num(const std::string& text) {
  TWNumeric n;
  TWNumericClear(&n);
  EXPECT_EQ(Read(&n, text), TWSUCCESS) << text;
  return n;
}

const std::string k88(88, '9');
const std::string kOne127 = "1" + std::string(127, '0');

TEST(NumericText, ReadsWithoutDeclarationTable) {
  struct Case {
    std::string text;
    uint32_t status;
    std::string shown;
    int32_t scale;
    int32_t precision;
  } cases[] = {
      {"123.4500", TWSUCCESS, "123.4500", 4, 7},
      {"-0.0", TWSUCCESS, "0.0", 1, 1},
      {"$1,234.5", TWFAIL_INVALID_NUMERIC, "", 0, 0},
      {"1,234.5", TWSUCCESS, "1234.5", 1, 5},
      {"1e3", TWSUCCESS, "1000", 0, 4},
      {"-1.5e-3", TWSUCCESS, "-0.0015", 4, 2},
      {"1e100", TWSUCCESS, "1" + std::string(100, '0'), -100, 1},
      {"1e127", TWSUCCESS, kOne127, -127, 1},
      // Integer digits cannot go without an overflow; the nearest 88-digit value is kept.
      {kOne127, TWFAIL_OVERFLOW, kOne127, -40, 88},
      {"1e128", TWFAIL_OVERFLOW, kOne127, -127, 1},
      {"-1.00000001e127", TWFAIL_OVERFLOW, "-" + kOne127, -127, 1},
      {k88, TWSUCCESS, k88, 0, 88},
      // 89 nines: the nearest value of 88 digits is 10^89.
      {k88 + "9", TWFAIL_OVERFLOW, "1" + std::string(89, '0'), -2, 88},
      {"0." + k88, TWSUCCESS, "0." + k88, 88, 88},
      // Fraction digits beyond 88 are rounded off without complaint.
      {"1." + k88, TWSUCCESS, "2." + std::string(87, '0'), 87, 88},
      {"0." + std::string(126, '0') + "5", TWSUCCESS, "0." + std::string(126, '0') + "5", 127, 1},
      {"0." + std::string(127, '0') + "5", TWSUCCESS, "0." + std::string(126, '0') + "1", 127, 1},
      {"0." + std::string(127, '0') + "4", TWSUCCESS, "0." + std::string(127, '0'), 127, 1},
      {"", TWFAIL_INVALID_NUMERIC, "", 0, 0},
      {"1.2.3", TWFAIL_INVALID_NUMERIC, "", 0, 0},
      {"nan", TWFAIL_INVALID_NUMERIC, "", 0, 0},
  };
  for (const Case& c : cases) {
    TWNumeric n;
    TWNumericClear(&n);
    EXPECT_EQ(Read(&n, c.text), c.status) << c.text;
    if (c.status != TWSUCCESS && c.status != TWFAIL_OVERFLOW) {
      EXPECT_EQ(n.head, 0u) << c.text;
      continue;
    }
    EXPECT_EQ(Show(n), c.shown) << c.text;
    EXPECT_EQ(TWNumericGetScale(&n), c.scale) << c.text;
    EXPECT_EQ(TWNumericGetPrecision(&n), c.precision) << c.text;
  }
}

TEST(NumericText, DeclaredPrecisionAndScaleHold) {
  struct Case {
    uint32_t precision;
    int32_t scale;
    std::string text;
    uint32_t status;
    std::string shown;
  } cases[] = {
      {5, 2, "123.456", TWSUCCESS, "123.46"},
      {5, 2, "-0.005", TWSUCCESS, "-0.01"},
      {5, 2, "0.004", TWSUCCESS, "0.00"},
      {5, 2, "7", TWSUCCESS, "7.00"},
      {5, 2, "999.995", TWFAIL_OVERFLOW, "999.99"},
      {5, 2, "-1234", TWFAIL_OVERFLOW, "-999.99"},
      {5, 2, "1e-999999", TWSUCCESS, "0.00"},
      {5, 2, "1e999999", TWFAIL_OVERFLOW, "999.99"},
      {3, -2, "12345", TWSUCCESS, "12300"},
      {3, -2, "12351", TWSUCCESS, "12400"},
      {1, TWSCALE_ZERO, "9.4", TWSUCCESS, "9"},
      {1, TWSCALE_ZERO, "9.5", TWFAIL_OVERFLOW, "9"},
      {88, -127, "1e127", TWSUCCESS, kOne127},
      // Beyond 10^127 the declared type can hold more, but the engine's limit clamps.
      {88, -127, "2e127", TWFAIL_OVERFLOW, kOne127},
      {88, 127, "0." + std::string(126, '0') + "1", TWSUCCESS, "0." + std::string(126, '0') + "1"},
      {88, 127, "0.1", TWFAIL_OVERFLOW, "0." + std::string(39, '0') + k88},
  };
  for (const Case& c : cases) {
    TWNumeric n = Declared(c.precision, c.scale);
    EXPECT_EQ(Read(&n, c.text), c.status) << c.precision << "," << c.scale << " " << c.text;
    EXPECT_EQ(Show(n), c.shown) << c.precision << "," << c.scale << " " << c.text;
    EXPECT_EQ(TWNumericGetPrecision(&n), static_cast<int32_t>(c.precision));
    EXPECT_EQ(TWNumericGetScale(&n), c.scale == TWSCALE_ZERO ? 0 : c.scale);
  }
}

TEST(NumericValues, CreateChecksItsDeclaration) {
  struct Case {
    uint32_t precision;
    int32_t scale;
    uint32_t status;
  } cases[] = {
      {0, 0, TWSUCCESS},
      {88, 127, TWSUCCESS},
      {88, -127, TWSUCCESS},
      {1, TWSCALE_ZERO, TWSUCCESS},
      {89, 0, TWFAIL_INVALID_NUMERIC},
      {10, 128, TWFAIL_INVALID_NUMERIC},
      {10, -128, TWFAIL_INVALID_NUMERIC},
      {0xFFFFFFFF, 0, TWFAIL_INVALID_NUMERIC},
  };
  for (const Case& c : cases) {
    TWNumeric n;
    std::memset(&n, 0xAB, sizeof n);
    EXPECT_EQ(TWNumericCreate(&n, c.precision, c.scale), c.status) << c.precision << "," << c.scale;
    if (c.status != TWSUCCESS) continue;
    const bool fraction = c.scale > 0 && c.scale != TWSCALE_ZERO;
    EXPECT_EQ(Show(n), fraction ? "0." + std::string(c.scale, '0') : "0");
  }
  EXPECT_EQ(TWNumericCreate(nullptr, 1, 0), TWFAIL_NULL_RESULT);
}

TEST(NumericFloat, ConvertsBothWays) {
  struct Case {
    double value;
    uint32_t status;
    std::string shown;
  } cases[] = {
      {0.1, TWSUCCESS, "0.1"},
      {100.0, TWSUCCESS, "100"},
      {-1.0 / 3, TWSUCCESS, "-0.333333333333333"},
      {1e20, TWSUCCESS, "100000000000000000000"},
      {1e100, TWSUCCESS, "1" + std::string(100, '0')},
      {1e127, TWSUCCESS, kOne127},
      {-2e127, TWFAIL_OVERFLOW, "-" + kOne127},
      {1e-130, TWSUCCESS, "0"},
      {0.0, TWSUCCESS, "0"},
  };
  for (const Case& c : cases) {
    TWNumeric n;
    TWNumericClear(&n);
    EXPECT_EQ(TWNumericFromFloat(&n, &c.value), c.status) << c.value;
    EXPECT_EQ(Show(n), c.shown) << c.value;
  }
  TWNumeric d = Declared(5, 2);
  double v = 123.456;
  ASSERT_EQ(TWNumericFromFloat(&d, &v), TWSUCCESS);
  EXPECT_EQ(Show(d), "123.46");
  v = std::nan("");
  EXPECT_EQ(TWNumericFromFloat(&d, &v), TWFAIL_INVALID_FLOAT);
  EXPECT_EQ(Show(d), "123.46");

  struct Back {
    std::string text;
    double value;
  } backs[] = {
      {"0.1", 0.1},
      {"-123.456", -123.456},
      {"1e127", 1e127},
      {"0." + std::string(126, '0') + "1", 1e-127},
      {k88, std::strtod(k88.c_str(), nullptr)},
  };
  for (const Back& b : backs) {
    TWNumeric n = Num(b.text);
    double f = 0;
    ASSERT_EQ(TWFloatFromNumeric(&f, &n), TWSUCCESS);
    EXPECT_EQ(f, b.value) << b.text;
  }
}

TEST(NumericArithmetic, AddsAndSubtractsTable) {
  struct Case {
    std::string a, b;
    bool subtract;
    uint32_t status;
    std::string shown;
  } cases[] = {
      {"1.5", "2.25", false, TWSUCCESS, "3.75"},
      {"0.5", "0.75", true, TWSUCCESS, "-0.25"},
      {"-7.25", "-7.25", true, TWSUCCESS, "0.00"},
      {"-1", "0.001", false, TWSUCCESS, "-0.999"},
      {"1e10", "1e-10", false, TWSUCCESS, "10000000000.0000000001"},
      // Scales 80 apart: the fraction is rounded off to fit 88 digits.
      {"1e80", "1e-80", false, TWSUCCESS, "1" + std::string(80, '0') + "." + std::string(7, '0')},
      {k88, "1", false, TWFAIL_OVERFLOW, "unchanged"},
      {"1e127", "1e127", false, TWFAIL_OVERFLOW, "unchanged"},
      {"-1e127", "1e127", true, TWFAIL_OVERFLOW, "unchanged"},
      {"1e127", "-1e127", false, TWSUCCESS, "0"},
  };
  for (const Case& c : cases) {
    TWNumeric a = Num(c.a), b = Num(c.b);
    TWNumeric r;
    ASSERT_EQ(TWNumericCreate(&r, 0, 3), TWSUCCESS);
    uint32_t st = c.subtract ? TWNumericSubtract(&r, &a, &b) : TWNumericAdd(&r, &a, &b);
    EXPECT_EQ(st, c.status) << c.a << (c.subtract ? " - " : " + ") << c.b;
    EXPECT_EQ(st == TWSUCCESS      ? Show(r)
              : Show(r) == "0.000" ? "unchanged"
                                   : Show(r),
              c.shown)
        << c.a << (c.subtract ? " - " : " + ") << c.b;
  }
}

TEST(NumericArithmetic, DeclaredResultKeepsItsDeclaration) {
  TWNumeric a = Num("1.25"), b = Num("1.25");
  TWNumeric r = Declared(4, 1);
  ASSERT_EQ(TWNumericAdd(&r, &a, &b), TWSUCCESS);
  EXPECT_EQ(Show(r), "2.5");
  TWNumeric x = Num("99.9"), y = Num("0.1");
  TWNumeric small = Declared(3, 1);
  ASSERT_EQ(Read(&small, "12.3"), TWSUCCESS);
  EXPECT_EQ(TWNumericAdd(&small, &x, &y), TWFAIL_OVERFLOW);
  EXPECT_EQ(Show(small), "12.3");
  // The result may be an operand.
  ASSERT_EQ(TWNumericSubtract(&x, &x, &y), TWSUCCESS);
  EXPECT_EQ(Show(x), "99.8");
}

TEST(NumericValues, CompareAcrossScales) {
  struct Case {
    std::string a, b;
    int32_t result;
  } cases[] = {
      {"1.50", "1.5", 0},
      {"-1", "0.5", -1},
      {"0.5", "-1", 1},
      {"-2", "-1.999", -1},
      {"1e127", "0." + std::string(126, '0') + "1", 1},
      {"0", "-0.000", 0},
  };
  for (const Case& c : cases) {
    TWNumeric a = Num(c.a), b = Num(c.b);
    int32_t r = 9;
    ASSERT_EQ(TWNumericCompare(&a, &b, &r), TWSUCCESS);
    EXPECT_EQ(r, c.result) << c.a << " ? " << c.b;
  }
}

TEST(NumericValues, BrokenRecordsAreRefused) {
  TWNumeric good = Num("1.5");
  TWNumeric bad_head = good;
  bad_head.head |= 0x00010000;
  TWNumeric bad_scale = good;
  bad_scale.head = (bad_scale.head & ~0xFFu) | 0x80;
  TWNumeric bad_precision = good;
  bad_precision.head |= 89u << 8;
  TWNumeric too_wide;
  TWNumericClear(&too_wide);
  std::memset(too_wide.magnitude, 0xFF, sizeof too_wide.magnitude);
  TWNumeric over_declared = Declared(2, 0);
  over_declared.magnitude[0] = 100;
  TWNumeric over_limit;  // 10 * 10^127
  TWNumericClear(&over_limit);
  over_limit.head = 0x81;  // scale -127
  over_limit.magnitude[0] = 10;
  for (const TWNumeric* n :
       {&bad_head, &bad_scale, &bad_precision, &too_wide, &over_declared, &over_limit}) {
    Text t;
    int32_t r = 0;
    double f = 0;
    TWNumeric sum;
    TWNumericClear(&sum);
    EXPECT_EQ(TWStreamFromNumeric(t.get(), n, TWSTREAMFMT_NATIVE), TWFAIL_INVALID_NUMERIC);
    EXPECT_EQ(TWNumericCompare(n, &good, &r), TWFAIL_INVALID_NUMERIC);
    EXPECT_EQ(TWNumericAdd(&sum, &good, n), TWFAIL_INVALID_NUMERIC);
    EXPECT_EQ(TWFloatFromNumeric(&f, n), TWFAIL_INVALID_NUMERIC);
    EXPECT_EQ(TWNumericGetPrecision(n), 0);
  }
  // A negative zero is only zero.
  TWNumeric minus_zero;
  TWNumericClear(&minus_zero);
  minus_zero.head = 0x80000000u;
  EXPECT_EQ(Show(minus_zero), "0");
}

TEST(NumericValues, StreamsAndNullArguments) {
  TWNumeric n = Num("-2.5");
  const double d = -2.5;
  Text list;
  ASSERT_EQ(TWStreamFromNumeric(list.get(), &n, TWSTREAMFMT_NUMBER_LIST), TWSUCCESS);
  EXPECT_EQ(list.str(), twtest::OneEntry(&d, sizeof d));
  TWNumeric back = Declared(4, 2);
  ASSERT_EQ(TWNumericFromStream(&back, list.get()), TWSUCCESS);
  EXPECT_EQ(Show(back), "-2.50");
  Text wide(twtest::Wide("12.75"), TWSTREAMFMT_UNICODE);
  ASSERT_EQ(TWNumericFromStream(&back, wide.get()), TWSUCCESS);
  EXPECT_EQ(Show(back), "12.75");

  int32_t r = 0;
  EXPECT_EQ(TWNumericFromStream(nullptr, list.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWNumericFromStream(&n, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamFromNumeric(nullptr, &n, TWSTREAMFMT_NATIVE), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamFromNumeric(list.get(), &n, 0), TWFAIL_ZERO_FORMAT);
  EXPECT_EQ(TWNumericAdd(&n, nullptr, &n), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWNumericSubtract(nullptr, &n, &n), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWNumericCompare(&n, &n, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWNumericCopy(&n, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWNumericGetPrecision(nullptr), 0);
  EXPECT_EQ(TWNumericGetScale(nullptr), 0);
  TWNumeric copy;
  ASSERT_EQ(TWNumericCopy(&copy, &n), TWSUCCESS);
  ASSERT_EQ(TWNumericCompare(&copy, &n, &r), TWSUCCESS);
  EXPECT_EQ(r, 0);
}

}  // namespace
