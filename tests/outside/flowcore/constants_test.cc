// Tests of the constant table: its size, its names, and values of a sample of constants
// including aliases and the doubles.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "flowcore.h"

namespace {

struct IntRow {
  const char* name;
  uint32_t value;
};
struct DoubleRow {
  const char* name;
  double value;
};

#define TW_CONST(N) {#N, static_cast<uint32_t>(N)},
#define TW_CONST_F(N)
const IntRow kInts[] = {
#include "twconst_table.inc"
};
#undef TW_CONST
#undef TW_CONST_F

#define TW_CONST(N)
#define TW_CONST_F(N) {#N, (N)},
const DoubleRow kDoubles[] = {
#include "twconst_table.inc"
};
#undef TW_CONST
#undef TW_CONST_F

TEST(Constants, TableHasEveryRowOnce) {
  EXPECT_EQ(std::size(kInts), 426u);
  EXPECT_EQ(std::size(kDoubles), 6u);
  std::set<std::string> names;
  for (const IntRow& r : kInts) EXPECT_TRUE(names.insert(r.name).second) << r.name;
  for (const DoubleRow& r : kDoubles) EXPECT_TRUE(names.insert(r.name).second) << r.name;
}

uint32_t IntValue(const std::string& name) {
  for (const IntRow& r : kInts)
    if (name == r.name) return r.value;
  ADD_FAILURE() << name << " is not in the table";
  return 0xDEADBEEF;
}

TEST(Constants, SampleValues) {
  struct Case {
    const char* name;
    uint32_t value;
  } cases[] = {
      {"TWNULLHANDLE", 0},
      {"TWTYPE_BINARY", 7},
      {"TWMAX_INT_VALUE", 0x7FFFFFFF},
      {"TWMIN_INT_VALUE", 0x80000001},
      {"TWMIN_NUMERIC_SCALE", 0xFFFFFF81},
      {"TWMAXLEN_NUMERIC_TEXT", 190},
      {"TWSTREAMF_NO_CASE", 0x10},
      {"TWSTREAMFMT_NATIVE", 0xFFFF},
      {"TWSTREAMFMT_CP1252", 0x52},
      {"TWSTREAMFMT_ANSI", 0x52},
      {"TWSTREAMFMT_UNICODE", 0xA0},
      {"TWSTREAMFMT_ISO10646", 0xA0},
      {"TWSTREAMFMT_QMBCS", 0x100},
      {"TWSTREAMFMT_TEXT_LIST", 0x40000003},
      {"TWSTREAMFMT_CP1381", 0x1B},
      {"TWSTREAMFMT_THAI", 0x90},
      {"TWSTREAM_PREFIX_LENGTH", 4},
      {"TWSCALE_ZERO", 0x7FFFFFFF},
      {"TWMASK_LINK_CODE", 0xFFFF0000},
      {"TWFAIL_END_OF_DATA", 12290},
      {"TWFAIL_TEXT_TRANSLATE", 12305},
      {"TWFAIL_OVERFLOW", 12801},
      {"TWEVENT_CHARACTER_SET", 0x1000310D},
  };
  for (const Case& c : cases) EXPECT_EQ(IntValue(c.name), c.value) << c.name;
}

TEST(Constants, DoublesInRegistrationOrder) {
  const DoubleRow expected[] = {
      {"TWMAX_FLOAT_PVALUE", 1.7976931348623157e+308},
      {"TWMIN_FLOAT_PVALUE", 2.2250738585072014e-308},
      {"TWMIN_CURRENCY_VALUE", -922337203685477.6},
      {"TWMAX_CURRENCY_VALUE", 922337203685477.6},
      {"TWMIN_NUMERIC_PVALUE", 1e-127},
      {"TWMAX_NUMERIC_PVALUE", 1e+127},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_STREQ(kDoubles[i].name, expected[i].name);
    EXPECT_EQ(kDoubles[i].value, expected[i].value) << expected[i].name;
  }
}

}  // namespace
