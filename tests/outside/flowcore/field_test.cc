// Fields: typed values and null words in contiguous slots, conversions between the types,
// list values, stream formats, comparison, convert and copy, and the allocation-free per-value
// path.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "field_test_util.h"
#include "flowcore.h"
#include "plat_test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#define TW_TEST_SANITIZED 1
#else
#define TW_TEST_SANITIZED 0
// Counts the allocations of the whole process (the engine library binds to these) while a
// test asks for it.
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace
extern "C" void* malloc(size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t n) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return __libc_realloc(p, n);
}
#endif

namespace {

using twtest::Field;
using twtest::Stream;
using twtest::TextList;
using twtest::TextOf;

TWNumeric Num(const char* text) {
  Stream s(text);
  TWNumeric n{};
  EXPECT_EQ(TWNumericFromStream(&n, s.get()), 0u) << text;
  return n;
}
std::string NumText(const TWNumeric& n) {
  Stream s;
  EXPECT_EQ(TWStreamFromNumeric(s.get(), &n, TWSTREAMFMT_NATIVE), 0u);
  return s.bytes();
}
TWDatetime Date(uint32_t julian, uint32_t ticks) {
  TWDatetime d{};
  EXPECT_EQ(TWDatetimeSetJulian(&d, julian), 0u);
  EXPECT_EQ(TWDatetimeSetTicks(&d, ticks), 0u);
  return d;
}
void PutU16(std::string* s, uint16_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}
void PutBytes(std::string* s, const void* p, size_t n) {
  s->append(static_cast<const char*>(p), n);
}
std::string NumberList(std::initializer_list<double> values) {
  std::string s;
  PutU16(&s, static_cast<uint16_t>(values.size()));
  PutU16(&s, 0);
  for (double v : values) PutBytes(&s, &v, 8);
  return s;
}
std::string DatetimeList(std::initializer_list<TWDatetime> values) {
  std::string s;
  PutU16(&s, static_cast<uint16_t>(values.size()));
  PutU16(&s, 0);
  for (const TWDatetime& d : values) {
    PutBytes(&s, &d.ticks, 4);
    PutBytes(&s, &d.date, 4);
  }
  return s;
}
std::string StreamBytes(TWFIELD f, uint32_t index = 1) {
  void* p = nullptr;
  EXPECT_EQ(TWFieldGetBuffer(f, index, &p, nullptr), 0u);
  auto* s = static_cast<TWStream*>(p);
  return s->data ? std::string(static_cast<const char*>(s->data), s->length) : std::string();
}

// 1 January 2000, 12:00:00.00 in zone 0.
const TWDatetime kNoon2000{12 * 360000, 2451545};

TEST(FieldAlloc, RejectsBadArgumentsAndLeavesNoHandle) {
  struct {
    uint32_t type, count, status;
  } cases[] = {{TWTYPE_INVALID, 1, TWFAIL_INVALID_TYPE},
               {TWTYPE_MAX + 1, 1, TWFAIL_INVALID_TYPE},
               {0xFFFFFFFFu, 1, TWFAIL_INVALID_TYPE},
               {TWTYPE_TEXT, 0, TWFAIL_ZERO_COUNT},
               {TWTYPE_NUMERIC, 0xFFFFFFFFu, TWFAIL_MEMORY}};
  for (const auto& c : cases) {
    TWFIELD f = reinterpret_cast<TWFIELD>(&cases);
    EXPECT_EQ(TWFieldAlloc(&f, c.type, c.count), c.status) << c.type << " " << c.count;
    EXPECT_EQ(f, nullptr);
  }
  EXPECT_EQ(TWFieldAlloc(nullptr, TWTYPE_INT, 1), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWFieldFree(TWNULLHANDLE), 0u);
}

TEST(FieldValues, RoundTripEachTypeAtItsOwnIndex) {
  struct {
    uint32_t type, size;
  } sizes[] = {{TWTYPE_INT, 4},
               {TWTYPE_FLOAT, 8},
               {TWTYPE_CURRENCY, 8},
               {TWTYPE_NUMERIC, 48},
               {TWTYPE_DATETIME, 8},
               {TWTYPE_TEXT, sizeof(TWStream)},
               {TWTYPE_BINARY, sizeof(TWStream)}};
  for (const auto& s : sizes) {
    Field f(s.type, 3);
    EXPECT_EQ(TWFieldGetType(f), s.type);
    EXPECT_EQ(TWFieldGetTypeSize(f), s.size);
    EXPECT_EQ(TWFieldGetValueCount(f), 3u);
  }

  Field i(TWTYPE_INT, 3);
  int32_t iv = std::numeric_limits<int32_t>::min(), iout = 0, isNull = -1;
  ASSERT_EQ(TWFieldSetInt(i, 2, &iv), 0u);
  ASSERT_EQ(TWFieldGetInt(i, 2, &iout, &isNull), 0u);
  EXPECT_EQ(iout, iv);
  EXPECT_EQ(isNull, 0);
  EXPECT_EQ(TWFieldIsNull(i, 1), 1);
  EXPECT_EQ(TWFieldIsNull(i, 3), 1);

  Field fl(TWTYPE_FLOAT, 3);
  double fv = 5e-324, fout = 0;
  ASSERT_EQ(TWFieldSetFloat(fl, 3, &fv), 0u);
  ASSERT_EQ(TWFieldGetFloat(fl, 3, &fout, nullptr), 0u);
  EXPECT_EQ(fout, fv);

  Field c(TWTYPE_CURRENCY, 3);
  TWCurrency cv{std::numeric_limits<int64_t>::max()}, cout{};
  ASSERT_EQ(TWFieldSetCurrency(c, 1, &cv), 0u);
  ASSERT_EQ(TWFieldGetCurrency(c, 1, &cout, nullptr), 0u);
  EXPECT_EQ(cout.value, cv.value);

  Field n(TWTYPE_NUMERIC, 3);
  TWNumeric nv = Num("-12345678901234567890.123456789"), nout{};
  ASSERT_EQ(TWFieldSetNumeric(n, 2, &nv), 0u);
  ASSERT_EQ(TWFieldGetNumeric(n, 2, &nout, nullptr), 0u);
  EXPECT_EQ(NumText(nout), "-12345678901234567890.123456789");

  Field d(TWTYPE_DATETIME, 3);
  TWDatetime dv = Date(1721426, 8639999), dout{};
  ASSERT_EQ(TWFieldSetDatetime(d, 3, &dv), 0u);
  ASSERT_EQ(TWFieldGetDatetime(d, 3, &dout, nullptr), 0u);
  EXPECT_EQ(dout.ticks, dv.ticks);
  EXPECT_EQ(dout.date, dv.date);

  Field t(TWTYPE_TEXT, 3);
  Stream text("h\xC3\xA9llo");
  ASSERT_EQ(TWFieldSetStream(t, 2, text.get()), 0u);
  Stream tout;
  ASSERT_EQ(TWFieldGetStream(t, 2, 0, tout.get(), nullptr), 0u);
  EXPECT_EQ(tout.bytes(), "h\xC3\xA9llo");
  EXPECT_EQ(tout.format(), uint32_t{TWSTREAMFMT_NATIVE});

  Field b(TWTYPE_BINARY, 3);
  Stream blob(std::string("\0\x01\xFF", 3), TWSTREAMFMT_BLOB);
  ASSERT_EQ(TWFieldSetStream(b, 1, blob.get()), 0u);
  Stream bout;
  ASSERT_EQ(TWFieldGetStream(b, 1, 0, bout.get(), nullptr), 0u);
  EXPECT_EQ(bout.bytes(), std::string("\0\x01\xFF", 3));
  EXPECT_EQ(bout.format(), uint32_t{TWSTREAMFMT_BLOB});
}

TEST(FieldValues, NullReadsClearedAndSetNullReleasesStreams) {
  Field i(TWTYPE_INT);
  int32_t v = 99, isNull = -1;
  EXPECT_EQ(TWFieldGetInt(i, 1, &v, &isNull), 0u);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(isNull, 1);

  v = 5;
  ASSERT_EQ(TWFieldSetInt(i, 1, &v), 0u);
  EXPECT_EQ(TWFieldSetNull(i, 1, 0), 0u);  // marks non-null, value stays
  EXPECT_EQ(TWFieldGetInt(i, 1, &v, &isNull), 0u);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(isNull, 0);
  EXPECT_EQ(TWFieldSetNull(i, 1, 7), 0u);  // any non-zero is null; the value is zeroed
  EXPECT_EQ(TWFieldIsNull(i, 1), 1);
  EXPECT_EQ(TWFieldSetNull(i, 1, 0), 0u);
  EXPECT_EQ(TWFieldGetInt(i, 1, &v, &isNull), 0u);
  EXPECT_EQ(v, 0);

  Field t(TWTYPE_TEXT);
  Stream text("abc");
  ASSERT_EQ(TWFieldSetStream(t, 1, text.get()), 0u);
  ASSERT_EQ(TWFieldSetNull(t, 1, 1), 0u);
  void* p = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(t, 1, &p, nullptr), 0u);
  EXPECT_EQ(static_cast<TWStream*>(p)->data, nullptr);
  Stream out("left over");
  EXPECT_EQ(TWFieldGetStream(t, 1, TWSTREAMFMT_NATIVE, out.get(), &isNull), 0u);
  EXPECT_EQ(isNull, 1);
  EXPECT_EQ(out.bytes(), "");

  EXPECT_EQ(TWFieldIsNull(TWNULLHANDLE, 1), 1);
  EXPECT_EQ(TWFieldIsNull(i, 0), 1);
  EXPECT_EQ(TWFieldIsNull(i, 2), 1);
}

TEST(FieldBuffer, WritesThroughTheBufferShowInTheGetters) {
  Field i(TWTYPE_INT, 3);
  void *v1 = nullptr, *v2 = nullptr;
  int32_t *n1 = nullptr, *n2 = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(i, 1, &v1, &n1), 0u);
  ASSERT_EQ(TWFieldGetBuffer(i, 2, &v2, &n2), 0u);
  EXPECT_EQ(static_cast<char*>(v2) - static_cast<char*>(v1), 4);
  EXPECT_EQ(n2 - n1, 1);
  *static_cast<int32_t*>(v2) = 77;
  *n2 = 0;
  int32_t out = 0, isNull = -1;
  ASSERT_EQ(TWFieldGetInt(i, 2, &out, &isNull), 0u);
  EXPECT_EQ(out, 77);
  EXPECT_EQ(isNull, 0);
  *n2 = 1;
  ASSERT_EQ(TWFieldGetInt(i, 2, &out, &isNull), 0u);
  EXPECT_EQ(isNull, 1);

  Field d(TWTYPE_DATETIME, 2);
  ASSERT_EQ(TWFieldGetBuffer(d, 2, &v2, &n2), 0u);
  std::memcpy(v2, &kNoon2000, sizeof kNoon2000);
  *n2 = 0;
  TWDatetime dout{};
  ASSERT_EQ(TWFieldGetDatetime(d, 2, &dout, nullptr), 0u);
  EXPECT_EQ(dout.date, kNoon2000.date);

  Field t(TWTYPE_TEXT, 2);
  ASSERT_EQ(TWFieldGetBuffer(t, 1, &v1, &n1), 0u);
  ASSERT_EQ(TWFieldGetBuffer(t, 2, &v2, &n2), 0u);
  EXPECT_EQ(static_cast<char*>(v2) - static_cast<char*>(v1),
            static_cast<long>(TWFieldGetTypeSize(t)));
  ASSERT_EQ(TWStreamDataSet(static_cast<TWStream*>(v2), TWSTREAMFMT_NATIVE, "filled", 6), 0u);
  *n2 = 0;
  EXPECT_EQ(TextOf(t, 2), "filled");
  EXPECT_EQ(TextOf(t, 1), "<null>");

  EXPECT_EQ(TWFieldGetBuffer(i, 0, &v1, nullptr), TWFAIL_ZERO_INDEX);
  EXPECT_EQ(TWFieldGetBuffer(i, 4, &v1, nullptr), TWFAIL_RECORD_INDEX);
  EXPECT_EQ(TWFieldGetBuffer(TWNULLHANDLE, 1, &v1, nullptr), TWFAIL_INVALID_FIELD);
}

// A source value of any type, written with the typed set of its type.
struct Source {
  Source(uint32_t t, double n = 0, const char* x = nullptr) : type(t), number(n), text(x) {}
  uint32_t type;
  double number;     // INT, FLOAT; CURRENCY in ten-thousandths
  const char* text;  // NUMERIC, TEXT
};

uint32_t SetSource(TWFIELD f, const Source& s) {
  switch (s.type) {
    case TWTYPE_INT: {
      int32_t v = static_cast<int32_t>(s.number);
      return TWFieldSetInt(f, 1, &v);
    }
    case TWTYPE_FLOAT:
      return TWFieldSetFloat(f, 1, &s.number);
    case TWTYPE_CURRENCY: {
      TWCurrency c{static_cast<int64_t>(s.number)};
      return TWFieldSetCurrency(f, 1, &c);
    }
    case TWTYPE_NUMERIC: {
      TWNumeric n = Num(s.text);
      return TWFieldSetNumeric(f, 1, &n);
    }
    case TWTYPE_DATETIME:
      return TWFieldSetDatetime(f, 1, &kNoon2000);
    default: {
      Stream t(s.text);
      return TWFieldSetStream(f, 1, t.get());
    }
  }
}

// The value of f in a form a table can hold: integers and currency as their integer, floats
// with 17 digits, numeric and text as text.
std::string Read(TWFIELD f) {
  char buf[64];
  switch (TWFieldGetType(f)) {
    case TWTYPE_INT: {
      int32_t v = 0;
      EXPECT_EQ(TWFieldGetInt(f, 1, &v, nullptr), 0u);
      return std::to_string(v);
    }
    case TWTYPE_FLOAT: {
      double v = 0;
      EXPECT_EQ(TWFieldGetFloat(f, 1, &v, nullptr), 0u);
      std::snprintf(buf, sizeof buf, "%.17g", v);
      return buf;
    }
    case TWTYPE_CURRENCY: {
      TWCurrency v{};
      EXPECT_EQ(TWFieldGetCurrency(f, 1, &v, nullptr), 0u);
      return std::to_string(v.value);
    }
    case TWTYPE_NUMERIC: {
      TWNumeric v{};
      EXPECT_EQ(TWFieldGetNumeric(f, 1, &v, nullptr), 0u);
      return NumText(v);
    }
    default:
      return TextOf(f);
  }
}

TEST(FieldConversion, SetIntoAnotherTypeFollowsTheTargetsFlags) {
  const double nan = std::nan("");
  struct Case {
    Source from;
    uint32_t to, flags, status;
    const char* expect;
  } cases[] = {
      {{TWTYPE_FLOAT, 3.7}, TWTYPE_INT, 0, TWFAIL_PRECISION_LOSS, nullptr},
      {{TWTYPE_FLOAT, 3.7}, TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, "3"},
      {{TWTYPE_FLOAT, -3.7}, TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, "-3"},
      {{TWTYPE_FLOAT, 3e9}, TWTYPE_INT, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_FLOAT, 3e9}, TWTYPE_INT, TWFIELDF_TRUNC_DATA, 0, "2147483647"},
      {{TWTYPE_FLOAT, -3e9}, TWTYPE_INT, TWFIELDF_TRUNC_DATA, 0, "-2147483648"},
      {{TWTYPE_FLOAT, -2147483648.0}, TWTYPE_INT, 0, 0, "-2147483648"},
      {{TWTYPE_FLOAT, -2147483649.0}, TWTYPE_INT, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_FLOAT, nan}, TWTYPE_INT, TWFIELDF_TRUNC_DATA, TWFAIL_INVALID_FLOAT, nullptr},
      {{TWTYPE_INT, 7}, TWTYPE_FLOAT, 0, 0, "7"},
      {{TWTYPE_INT, -7}, TWTYPE_CURRENCY, 0, 0, "-70000"},
      {{TWTYPE_CURRENCY, 125000}, TWTYPE_INT, 0, TWFAIL_PRECISION_LOSS, nullptr},
      {{TWTYPE_CURRENCY, 125000}, TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, "12"},
      {{TWTYPE_CURRENCY, -120000}, TWTYPE_INT, 0, 0, "-12"},
      {{TWTYPE_CURRENCY, -15000}, TWTYPE_NUMERIC, 0, 0, "-1.5000"},
      {{TWTYPE_CURRENCY, 25000}, TWTYPE_FLOAT, 0, 0, "2.5"},
      {{TWTYPE_FLOAT, 0.1 + 0.2}, TWTYPE_CURRENCY, 0, 0, "3000"},
      {{TWTYPE_FLOAT, 1.0 / 3}, TWTYPE_CURRENCY, 0, TWFAIL_PRECISION_LOSS, nullptr},
      {{TWTYPE_FLOAT, 1.0 / 3}, TWTYPE_CURRENCY, TWFIELDF_TRUNC_PREC, 0, "3333"},
      {{TWTYPE_FLOAT, 1e20}, TWTYPE_CURRENCY, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_FLOAT, 2.5}, TWTYPE_NUMERIC, 0, 0, "2.5"},
      {{TWTYPE_NUMERIC, 0, "123.456"}, TWTYPE_INT, 0, TWFAIL_PRECISION_LOSS, nullptr},
      {{TWTYPE_NUMERIC, 0, "123.456"}, TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, "123"},
      {{TWTYPE_NUMERIC, 0, "-123.000"}, TWTYPE_INT, 0, 0, "-123"},
      {{TWTYPE_NUMERIC, 0, "12345678901234567890"}, TWTYPE_INT, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_NUMERIC, 0, "-12345678901234567890"},
       TWTYPE_INT,
       TWFIELDF_TRUNC_DATA,
       0,
       "-2147483648"},
      {{TWTYPE_NUMERIC, 0, "-922337203685477.5808"}, TWTYPE_CURRENCY, 0, 0, "-9223372036854775808"},
      {{TWTYPE_NUMERIC, 0, "-922337203685477.5809"}, TWTYPE_CURRENCY, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_NUMERIC, 0, "-123.45675"}, TWTYPE_CURRENCY, TWFIELDF_TRUNC_PREC, 0, "-1234568"},
      {{TWTYPE_NUMERIC, 0, "0.0001"}, TWTYPE_CURRENCY, 0, 0, "1"},
      {{TWTYPE_NUMERIC, 0, "2.5"}, TWTYPE_FLOAT, 0, 0, "2.5"},
      {{TWTYPE_NUMERIC, 0, "0.12345678901234567"}, TWTYPE_FLOAT, 0, TWFAIL_PRECISION_LOSS, nullptr},
      {{TWTYPE_INT, 42}, TWTYPE_TEXT, 0, 0, "42"},
      {{TWTYPE_FLOAT, 2.5}, TWTYPE_TEXT, 0, 0, "2.5"},
      {{TWTYPE_TEXT, 0, " 17 "}, TWTYPE_INT, 0, 0, "17"},
      {{TWTYPE_TEXT, 0, "abc"}, TWTYPE_INT, 0, TWFAIL_INVALID_INT, nullptr},
      {{TWTYPE_TEXT, 0, "99999999999"}, TWTYPE_INT, 0, TWFAIL_OVERFLOW, nullptr},
      {{TWTYPE_TEXT, 0, "12.5"}, TWTYPE_FLOAT, 0, 0, "12.5"},
      {{TWTYPE_TEXT, 0, "-7.25"}, TWTYPE_CURRENCY, 0, 0, "-72500"},
      {{TWTYPE_TEXT, 0, "-7.25"}, TWTYPE_NUMERIC, 0, 0, "-7.25"},
      {{TWTYPE_DATETIME}, TWTYPE_INT, 0, TWFAIL_INVALID_CONVERT, nullptr},
      {{TWTYPE_DATETIME}, TWTYPE_NUMERIC, 0, TWFAIL_INVALID_CONVERT, nullptr},
      {{TWTYPE_INT, 1}, TWTYPE_DATETIME, 0, TWFAIL_INVALID_CONVERT, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "from type " << c.from.type << " " << c.from.number << " "
                 << (c.from.text ? c.from.text : "") << " to " << c.to << " flags " << c.flags);
    Field target(c.to);
    ASSERT_EQ(TWFieldSetFlags(target, c.flags), 0u);
    EXPECT_EQ(SetSource(target, c.from), c.status);
    if (c.status == 0) {
      EXPECT_EQ(TWFieldIsNull(target, 1), 0);
      EXPECT_EQ(Read(target), c.expect);
    } else {
      EXPECT_EQ(TWFieldIsNull(target, 1), 1) << "a failed set leaves the value";
    }
  }
}

TEST(FieldConversion, GetFollowsTheFieldsFlagsAndClampsOnOverflow) {
  Field f(TWTYPE_FLOAT);
  double big = 3e9, frac = 3.7;
  int32_t out = 5, isNull = -1;
  ASSERT_EQ(TWFieldSetFloat(f, 1, &frac), 0u);
  EXPECT_EQ(TWFieldGetInt(f, 1, &out, &isNull), TWFAIL_PRECISION_LOSS);
  EXPECT_EQ(out, 5);
  EXPECT_EQ(isNull, -1);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_TRUNC_PREC), 0u);
  EXPECT_EQ(TWFieldGetInt(f, 1, &out, &isNull), 0u);
  EXPECT_EQ(out, 3);

  ASSERT_EQ(TWFieldSetFloat(f, 1, &big), 0u);
  EXPECT_EQ(TWFieldGetInt(f, 1, &out, &isNull), TWFAIL_OVERFLOW);
  EXPECT_EQ(out, 2147483647);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_TRUNC_DATA), 0u);
  EXPECT_EQ(TWFieldGetInt(f, 1, &out, &isNull), 0u);

  Field t(TWTYPE_TEXT);
  Stream bad("1x");
  ASSERT_EQ(TWFieldSetStream(t, 1, bad.get()), 0u);
  double d = 42;
  EXPECT_EQ(TWFieldGetFloat(t, 1, &d, nullptr), TWFAIL_INVALID_FLOAT);
  EXPECT_EQ(d, 42);
}

TEST(FieldLists, ListValuesReadAsTheirFirstEntry) {
  Field b(TWTYPE_BINARY);
  int32_t out = -1, isNull = -1;
  Stream empty(NumberList({}), TWSTREAMFMT_NUMBER_LIST);
  ASSERT_EQ(TWFieldSetStream(b, 1, empty.get()), 0u);
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), 0u);
  EXPECT_EQ(isNull, 1);
  EXPECT_EQ(out, 0);

  Stream one(NumberList({4}), TWSTREAMFMT_NUMBER_LIST);
  ASSERT_EQ(TWFieldSetStream(b, 1, one.get()), 0u);
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), 0u);
  EXPECT_EQ(out, 4);
  EXPECT_EQ(isNull, 0);

  Stream two(NumberList({4, 5}), TWSTREAMFMT_NUMBER_LIST);
  ASSERT_EQ(TWFieldSetStream(b, 1, two.get()), 0u);
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), TWFAIL_OVERFLOW);
  ASSERT_EQ(TWFieldSetFlags(b, TWFIELDF_TRUNC_DATA), 0u);
  out = 0;
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), 0u);
  EXPECT_EQ(out, 4);

  Stream texts(TextList({"12", "x"}), TWSTREAMFMT_TEXT_LIST);
  ASSERT_EQ(TWFieldSetStream(b, 1, texts.get()), 0u);
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), 0u);
  EXPECT_EQ(out, 12);

  Stream dates(DatetimeList({kNoon2000}), TWSTREAMFMT_DATETIME_LIST);
  ASSERT_EQ(TWFieldSetStream(b, 1, dates.get()), 0u);
  TWDatetime d{};
  EXPECT_EQ(TWFieldGetDatetime(b, 1, &d, &isNull), 0u);
  EXPECT_EQ(d.date, kNoon2000.date);
  EXPECT_EQ(d.ticks, kNoon2000.ticks);
  EXPECT_EQ(TWFieldGetInt(b, 1, &out, &isNull), TWFAIL_INVALID_CONVERT);

  // A list value into a scalar field: the same rules on the target's flags.
  Field i(TWTYPE_INT);
  EXPECT_EQ(TWFieldSetStream(i, 1, two.get()), TWFAIL_OVERFLOW);
  EXPECT_EQ(TWFieldSetStream(i, 1, empty.get()), 0u);
  EXPECT_EQ(TWFieldIsNull(i, 1), 1);

  Stream blob("12", TWSTREAMFMT_BLOB);
  EXPECT_EQ(TWFieldSetStream(i, 1, blob.get()), TWFAIL_INVALID_CONVERT);
}

TEST(FieldLists, ScalarsBecomeOneEntryLists) {
  Field b(TWTYPE_BINARY);
  int32_t seven = 7;
  ASSERT_EQ(TWFieldSetInt(b, 1, &seven), 0u);
  EXPECT_EQ(StreamBytes(b), NumberList({7}));

  ASSERT_EQ(TWFieldSetDatetime(b, 1, &kNoon2000), 0u);
  EXPECT_EQ(StreamBytes(b), DatetimeList({kNoon2000}));

  ASSERT_EQ(TWFieldSetFormatStream(b, 0, 0, TWSTREAMFMT_TEXT_LIST), 0u);
  double half = 2.5;
  ASSERT_EQ(TWFieldSetFloat(b, 1, &half), 0u);
  EXPECT_EQ(StreamBytes(b), TextList({"2.5"}));

  ASSERT_EQ(TWFieldSetFormatStream(b, 0, 0, TWSTREAMFMT_BLOB), 0u);
  EXPECT_EQ(TWFieldSetInt(b, 1, &seven), TWFAIL_INVALID_CONVERT);

  Field t(TWTYPE_TEXT);
  Stream out;
  ASSERT_EQ(TWFieldSetInt(t, 1, &seven), 0u);
  ASSERT_EQ(TWFieldGetStream(t, 1, TWSTREAMFMT_TEXT_LIST, out.get(), nullptr), 0u);
  EXPECT_EQ(out.bytes(), TextList({"7"}));
  Field i(TWTYPE_INT);
  ASSERT_EQ(TWFieldSetInt(i, 1, &seven), 0u);
  ASSERT_EQ(TWFieldGetStream(i, 1, TWSTREAMFMT_NUMBER_LIST, out.get(), nullptr), 0u);
  EXPECT_EQ(out.bytes(), NumberList({7}));
  EXPECT_EQ(TWFieldGetStream(i, 1, TWSTREAMFMT_DATETIME_LIST, out.get(), nullptr),
            TWFAIL_INVALID_CONVERT);
}

TEST(FieldStreams, CapacityCutsOnlyWithPermission) {
  Field t(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(t, 0, 5, TWSTREAMFMT_NATIVE), 0u);
  void* p = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(t, 1, &p, nullptr), 0u);
  EXPECT_EQ(static_cast<TWStream*>(p)->maxLength, 5u);
  EXPECT_EQ(static_cast<TWStream*>(p)->format, uint32_t{TWSTREAMFMT_NATIVE});

  Stream fits("abc"), longer("abcdefgh");
  ASSERT_EQ(TWFieldSetStream(t, 1, fits.get()), 0u);
  EXPECT_EQ(TWFieldSetStream(t, 1, longer.get()), TWFAIL_OVERFLOW);
  EXPECT_EQ(TextOf(t), "abc");
  int32_t big = 123456;
  EXPECT_EQ(TWFieldSetInt(t, 1, &big), TWFAIL_OVERFLOW);
  EXPECT_EQ(TextOf(t), "abc");

  ASSERT_EQ(TWFieldSetFlags(t, TWFIELDF_TRUNC_DATA), 0u);
  EXPECT_EQ(TWFieldSetStream(t, 1, longer.get()), 0u);
  EXPECT_EQ(TextOf(t), "abcde");
  EXPECT_EQ(static_cast<TWStream*>(p)->flags & TWSTREAMF_TRUNCATE, 0u);

  Field u(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(u, TWSTREAMF_TRUNCATE, 3, TWSTREAMFMT_NATIVE), 0u);
  EXPECT_EQ(TWFieldSetStream(u, 1, longer.get()), 0u);
  EXPECT_EQ(TextOf(u), "abc");

  EXPECT_EQ(TWFieldSetFormatStream(u, TWSTREAMF_FIXED, 0, TWSTREAMFMT_NATIVE), TWFAIL_FIXED_LENGTH);
  EXPECT_EQ(TWFieldSetFormatStream(u, 0x8, 3, TWSTREAMFMT_NATIVE), TWFAIL_INVALID_FLAGS);
  uint32_t flags = 0, maxLength = 0, format = 0;
  ASSERT_EQ(TWFieldGetFormatStream(u, &flags, &maxLength, &format), 0u);
  EXPECT_EQ(flags, uint32_t{TWSTREAMF_TRUNCATE});
  EXPECT_EQ(maxLength, 3u);
  EXPECT_EQ(format, uint32_t{TWSTREAMFMT_NATIVE});
}

TEST(FieldStreams, DeclaredFormatConvertsWhatIsSet) {
  const std::string wide("a\0b\0", 4);
  Field t(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(t, 0, 0, TWSTREAMFMT_UNICODE), 0u);
  Stream text("ab");
  ASSERT_EQ(TWFieldSetStream(t, 1, text.get()), 0u);
  EXPECT_EQ(StreamBytes(t), wide);
  EXPECT_EQ(TextOf(t, 1, TWSTREAMFMT_NATIVE), "ab");
  Stream own;
  ASSERT_EQ(TWFieldGetStream(t, 1, 0, own.get(), nullptr), 0u);
  EXPECT_EQ(own.format(), uint32_t{TWSTREAMFMT_UNICODE});
  EXPECT_EQ(own.bytes(), wide);

  // Without a declared format the value keeps its own.
  Field plain(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetStream(plain, 1, own.get()), 0u);
  EXPECT_EQ(StreamBytes(plain), wide);
  int32_t n = 12;
  ASSERT_EQ(TWFieldSetInt(t, 1, &n), 0u);
  EXPECT_EQ(StreamBytes(t), std::string("1\0002\0", 4));
}

TEST(FieldStreams, NewFormatKeepsHeldValuesReadable) {
  Field t(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(t, 0, 0, TWSTREAMFMT_QMBCS), 0u);
  Stream first("first");
  ASSERT_EQ(TWFieldSetStream(t, 1, first.get()), 0u);
  // The held text is not relabelled: it still reads as the text it is.
  ASSERT_EQ(TWFieldSetFormatStream(t, 0, 0, TWSTREAMFMT_TEXT_LIST), 0u);
  EXPECT_EQ(TextOf(t), "first");
  Stream list(TextList({"first", "second"}), TWSTREAMFMT_TEXT_LIST);
  ASSERT_EQ(TWFieldSetStream(t, 1, list.get()), 0u);
  EXPECT_EQ(StreamBytes(t), list.bytes());

  // A new capacity applies to the held value's stream from then on.
  Field c(TWTYPE_TEXT);
  Stream abc("abc");
  ASSERT_EQ(TWFieldSetStream(c, 1, abc.get()), 0u);
  ASSERT_EQ(TWFieldSetFormatStream(c, TWSTREAMF_FIXED, 10, TWSTREAMFMT_NATIVE), 0u);
  EXPECT_EQ(TextOf(c), "abc");
  Stream eleven("0123456789A");
  EXPECT_EQ(TWFieldSetStream(c, 1, eleven.get()), TWFAIL_OVERFLOW);
  Stream ten("0123456789");
  EXPECT_EQ(TWFieldSetStream(c, 1, ten.get()), 0u);
  EXPECT_EQ(TextOf(c), "0123456789");
}

TEST(FieldFormats, DatetimeTextLeavesOutTheHalfTheFormatDrops) {
  Field d(TWTYPE_DATETIME);
  ASSERT_EQ(TWFieldSetDatetime(d, 1, &kNoon2000), 0u);
  auto textOf = [](TWDatetime v) {
    Stream s;
    EXPECT_EQ(TWStreamFromDatetime(s.get(), &v, TWSTREAMFMT_NATIVE), 0u);
    return s.bytes();
  };
  TWDatetime dateOnly = kNoon2000, timeOnly = kNoon2000;
  ASSERT_EQ(TWDatetimeSetTicks(&dateOnly, TWDTNULL_TIME), 0u);
  ASSERT_EQ(TWDatetimeSetJulian(&timeOnly, TWDTNULL_DATE), 0u);

  EXPECT_EQ(TextOf(d), textOf(kNoon2000));
  ASSERT_EQ(TWFieldSetFormatDatetime(d, TWDATETIMEF_NO_TIME, 0), 0u);
  EXPECT_EQ(TextOf(d), textOf(dateOnly));
  ASSERT_EQ(TWFieldSetFormatDatetime(d, TWDATETIMEF_NO_DATE, 7), 0u);
  EXPECT_EQ(TextOf(d), textOf(timeOnly));
  // The value itself keeps both halves.
  TWDatetime out{};
  ASSERT_EQ(TWFieldGetDatetime(d, 1, &out, nullptr), 0u);
  EXPECT_EQ(out.ticks, kNoon2000.ticks);

  uint32_t flags = 0, size = 0;
  ASSERT_EQ(TWFieldGetFormatDatetime(d, &flags, &size), 0u);
  EXPECT_EQ(flags, uint32_t{TWDATETIMEF_NO_DATE});
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(TWFieldSetFormatDatetime(d, TWDATETIMEF_NO_DATE | TWDATETIMEF_NO_TIME, 0),
            TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldSetFormatDatetime(d, TWDATETIMEF_SECOND | TWDATETIMEF_TENTH, 0),
            TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldSetFormatDatetime(d, 0x10, 0), TWFAIL_INVALID_FLAGS);
}

TEST(FieldFormats, FlagsCodesAndNumberFormatsAreKept) {
  Field f(TWTYPE_NUMERIC);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE), 0u);
  EXPECT_EQ(TWFieldSetFlags(f, 0x8), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldSetFlags(f, 0x10000), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldGetFlags(f), uint32_t{TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE});

  ASSERT_EQ(TWFieldSetVirtualCode(f, 0x12345678), 0u);
  EXPECT_EQ(TWFieldGetVirtualCode(f), 0x12340000u);
  ASSERT_EQ(TWFieldSetVirtualCode(f, 0), 0u);
  EXPECT_EQ(TWFieldGetVirtualCode(f), 0u);

  ASSERT_EQ(TWFieldSetFormatNumber(f, TWNUMBERF_DECIMAL, 8, 12, TWSCALE_ZERO), 0u);
  uint32_t flags = 0, size = 0, precision = 0;
  int32_t scale = 0;
  ASSERT_EQ(TWFieldGetFormatNumber(f, &flags, &size, &precision, &scale), 0u);
  EXPECT_EQ(flags, uint32_t{TWNUMBERF_DECIMAL});
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(precision, 12u);
  EXPECT_EQ(scale, TWSCALE_ZERO);
  EXPECT_EQ(TWFieldGetFormatNumber(f, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(TWFieldSetFormatNumber(f, 0x20, 0, 0, 0), TWFAIL_INVALID_FLAGS);
}

TEST(FieldHandles, NullHandlesBadIndexesAndMissingRecords) {
  Field f(TWTYPE_INT, 2);
  int32_t v = 1, isNull = 0;
  double d = 0;
  TWStream s{};
  struct {
    const char* what;
    uint32_t got, want;
  } cases[] = {
      {"get null", TWFieldGetInt(TWNULLHANDLE, 1, &v, &isNull), TWFAIL_INVALID_FIELD},
      {"set null", TWFieldSetInt(TWNULLHANDLE, 1, &v), TWFAIL_INVALID_FIELD},
      {"stream null", TWFieldGetStream(TWNULLHANDLE, 1, 0, &s, nullptr), TWFAIL_INVALID_FIELD},
      {"flags null", TWFieldSetFlags(TWNULLHANDLE, 0), TWFAIL_INVALID_FIELD},
      {"format null", TWFieldSetFormatStream(TWNULLHANDLE, 0, 0, 0), TWFAIL_INVALID_FIELD},
      {"index 0", TWFieldGetInt(f, 0, &v, &isNull), TWFAIL_ZERO_INDEX},
      {"index 3", TWFieldSetInt(f, 3, &v), TWFAIL_RECORD_INDEX},
      {"index max", TWFieldSetFloat(f, 0xFFFFFFFFu, &d), TWFAIL_RECORD_INDEX},
      {"no value", TWFieldSetInt(f, 1, nullptr), TWFAIL_NULL_BUFFER},
      {"no stream", TWFieldSetStream(f, 1, nullptr), TWFAIL_NULL_BUFFER},
      {"no result", TWFieldGetInt(f, 1, nullptr, &isNull), TWFAIL_NULL_RESULT},
      {"no dest", TWFieldGetStream(f, 1, 0, nullptr, nullptr), TWFAIL_NULL_RESULT},
      {"null set null", TWFieldSetNull(TWNULLHANDLE, 1, 1), TWFAIL_INVALID_FIELD},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_EQ(TWFieldGetType(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldGetTypeSize(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldGetValueCount(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldGetFlags(TWNULLHANDLE), 0u);
  EXPECT_EQ(TWFieldGetVirtualCode(TWNULLHANDLE), 0u);

  // A list field of no type holds no value; a list's field is never freed alone.
  twtest::List list(2);
  TWFIELD none = list.Add("none", TWTYPE_INVALID);
  EXPECT_EQ(TWFieldGetTypeSize(none), 0u);
  EXPECT_EQ(TWFieldSetInt(none, 1, &v), TWFAIL_INVALID_TYPE);
  EXPECT_EQ(TWFieldGetStream(none, 1, 0, &s, nullptr), TWFAIL_INVALID_TYPE);
  EXPECT_EQ(TWFieldGetBuffer(none, 1, nullptr, nullptr), TWFAIL_INVALID_TYPE);
  TWFIELD owned = list.Add("owned", TWTYPE_INT);
  EXPECT_EQ(TWFieldFree(owned), TWFAIL_INVALID_FIELD);
  EXPECT_EQ(TWFieldSetInt(owned, 2, &v), 0u);

  // A name-only list's fields have no values to index.
  twtest::List names(0);
  TWFIELD nameOnly = names.Add("n", TWTYPE_INT);
  EXPECT_EQ(TWFieldGetValueCount(nameOnly), 0u);
  EXPECT_EQ(TWFieldSetInt(nameOnly, 1, &v), TWFAIL_RECORD_INDEX);
}

// A field holding one value of the given kind, or null.
std::unique_ptr<Field> IntF(int32_t v) {
  auto f = std::make_unique<Field>(TWTYPE_INT);
  EXPECT_EQ(TWFieldSetInt(*f, 1, &v), 0u);
  return f;
}
std::unique_ptr<Field> FloatF(double v) {
  auto f = std::make_unique<Field>(TWTYPE_FLOAT);
  EXPECT_EQ(TWFieldSetFloat(*f, 1, &v), 0u);
  return f;
}
std::unique_ptr<Field> CurF(int64_t tenThousandths) {
  auto f = std::make_unique<Field>(TWTYPE_CURRENCY);
  TWCurrency c{tenThousandths};
  EXPECT_EQ(TWFieldSetCurrency(*f, 1, &c), 0u);
  return f;
}
std::unique_ptr<Field> NumF(const char* text) {
  auto f = std::make_unique<Field>(TWTYPE_NUMERIC);
  TWNumeric n = Num(text);
  EXPECT_EQ(TWFieldSetNumeric(*f, 1, &n), 0u);
  return f;
}
std::unique_ptr<Field> DateF(TWDatetime d) {
  auto f = std::make_unique<Field>(TWTYPE_DATETIME);
  EXPECT_EQ(TWFieldSetDatetime(*f, 1, &d), 0u);
  return f;
}
std::unique_ptr<Field> StreamF(uint32_t type, const std::string& bytes, uint32_t format) {
  auto f = std::make_unique<Field>(type);
  Stream s(bytes, format);
  EXPECT_EQ(TWFieldSetStream(*f, 1, s.get()), 0u);
  return f;
}
std::unique_ptr<Field> NullF(uint32_t type) {
  return std::make_unique<Field>(type);
}

TEST(FieldCompare, PairsOfTypesAndPrecisions) {
  TWDatetime plusOne = kNoon2000;
  plusOne.date |= 1u << 24;  // the same wall clock one hour east
  TWDatetime hundredth = kNoon2000;
  hundredth.ticks += 1;
  struct Case {
    const char* what;
    std::unique_ptr<Field> a, b;
    uint32_t flags, status;
    int32_t result;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, std::unique_ptr<Field> a, std::unique_ptr<Field> b,
                 uint32_t flags, uint32_t status, int32_t result) {
    cases.push_back(Case{what, std::move(a), std::move(b), flags, status, result});
  };
  add("int below", IntF(5), IntF(7), 0, 0, -1);
  add("int above", IntF(7), IntF(-5), 0, 0, 1);
  add("int float", IntF(5), FloatF(5.0), 0, 0, 0);
  add("currency numeric", CurF(15000), NumF("1.5"), 0, 0, 0);
  add("numeric scales", NumF("1.50"), NumF("1.5"), 0, 0, 0);
  add("int numeric", IntF(2), NumF("1.99999999999999999999"), 0, 0, 1);
  add("float exact", FloatF(1.0000000000000002), FloatF(1.0), 0, 0, 1);
  add("float 15", FloatF(1.0000000000000002), FloatF(1.0), TWCOMPAREF_FLOAT_PREC, 0, 0);
  add("float 15 differs", FloatF(1.00000000001), FloatF(1.0), TWCOMPAREF_FLOAT_PREC, 0, 1);
  add("float low", FloatF(1.00000000001), FloatF(1.0), TWCOMPAREF_LOW_PREC, 0, 0);
  add("float any low bit", FloatF(1.00000000001), FloatF(1.0), 0x08, 0, 0);
  add("null first", NullF(TWTYPE_INT), IntF(-5), 0, 0, -1);
  add("null last", IntF(-5), NullF(TWTYPE_FLOAT), 0, 0, 1);
  add("two nulls", NullF(TWTYPE_INT), NullF(TWTYPE_INT), 0, 0, 0);
  add("text int", StreamF(TWTYPE_TEXT, "1", TWSTREAMFMT_NATIVE), IntF(1), 0, TWFAIL_TYPE_MISMATCH,
      0);
  add("datetime int", DateF(kNoon2000), IntF(1), 0, TWFAIL_TYPE_MISMATCH, 0);
  add("text binary", StreamF(TWTYPE_TEXT, "abc", TWSTREAMFMT_NATIVE),
      StreamF(TWTYPE_BINARY, "abd", TWSTREAMFMT_BLOB), 0, 0, -1);
  add("text text", StreamF(TWTYPE_TEXT, "abc", TWSTREAMFMT_NATIVE),
      StreamF(TWTYPE_TEXT, "abc", TWSTREAMFMT_NATIVE), 0, 0, 0);
  add("hundredths", DateF(kNoon2000), DateF(hundredth), 0, 0, -1);
  add("seconds", DateF(kNoon2000), DateF(hundredth), TWCOMPAREF_SECOND, 0, 0);
  add("zones", DateF(plusOne), DateF(kNoon2000), 0, 0, -1);
  add("wall clock", DateF(plusOne), DateF(kNoon2000), TWCOMPAREF_NO_ZONE, 0, 0);
  add("datetime list", DateF(kNoon2000),
      StreamF(TWTYPE_BINARY, DatetimeList({kNoon2000}), TWSTREAMFMT_DATETIME_LIST), 0, 0, 0);
  add("datetime number list", DateF(kNoon2000),
      StreamF(TWTYPE_BINARY, NumberList({1}), TWSTREAMFMT_NUMBER_LIST), 0, TWFAIL_TYPE_MISMATCH, 0);
  add("number list", IntF(3), StreamF(TWTYPE_BINARY, NumberList({3}), TWSTREAMFMT_NUMBER_LIST), 0,
      0, 0);
  add("blob list", StreamF(TWTYPE_BINARY, "a", TWSTREAMFMT_BLOB),
      StreamF(TWTYPE_BINARY, TextList({"a"}), TWSTREAMFMT_TEXT_LIST), 0, 0, 1);
  add("two lists", StreamF(TWTYPE_BINARY, NumberList({1}), TWSTREAMFMT_NUMBER_LIST),
      StreamF(TWTYPE_BINARY, DatetimeList({kNoon2000}), TWSTREAMFMT_DATETIME_LIST), 0,
      TWFAIL_TYPE_MISMATCH, 0);
  for (const Case& c : cases) {
    int32_t r = 42;
    EXPECT_EQ(TWFieldCompare(*c.a, 1, *c.b, 1, 1, c.flags, &r), c.status) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(r, c.result) << c.what;
    }
  }

  // A declared format decides the pair even while every value is null.
  Field numbers(TWTYPE_BINARY);
  ASSERT_EQ(TWFieldSetFormatStream(numbers, 0, 0, TWSTREAMFMT_NUMBER_LIST), 0u);
  Field date(TWTYPE_DATETIME);
  int32_t r = 0;
  EXPECT_EQ(TWFieldCompare(date, 1, numbers, 1, 1, 0, &r), TWFAIL_TYPE_MISMATCH);
}

// A field with the format of the column it mirrors.
std::unique_ptr<Field> Decimal(std::unique_ptr<Field> f, int32_t scale, uint32_t precision = 12) {
  EXPECT_EQ(TWFieldSetFormatNumber(*f, TWNUMBERF_NUMERIC, 8, precision,
                                   scale == 0 ? static_cast<int32_t>(TWSCALE_ZERO) : scale),
            0u);
  return f;
}
std::unique_ptr<Field> Real(double v) {
  auto f = FloatF(static_cast<float>(v));
  EXPECT_EQ(TWFieldSetFormatNumber(*f, 0, 4, 7, 0), 0u);
  return f;
}
std::unique_ptr<Field> Stamp(uint32_t ticks, uint32_t flags, uint32_t julian = 2451545) {
  auto f = DateF(TWDatetime{ticks, julian});
  EXPECT_EQ(TWFieldSetFormatDatetime(*f, flags, 0), 0u);
  return f;
}
std::unique_ptr<Field> Char(const std::string& text, uint32_t length) {
  auto f = StreamF(TWTYPE_TEXT, text, TWSTREAMFMT_NATIVE);
  EXPECT_EQ(
      TWFieldSetFormatStream(*f, length != 0 ? TWSTREAMF_FIXED : 0, length, TWSTREAMFMT_NATIVE),
      0u);
  return f;
}

// With TWCOMPAREF_FORMAT a value counts as what the coarser field keeps of it, rounded or
// cut, as the data sources behind such fields do; a whole unit of difference remains one.
TEST(FieldCompare, FormatsCompareAsTheCoarserFieldHolds) {
  constexpr uint32_t kNoon = 12 * 360000, kDay = 8640000;
  struct Case {
    const char* what;
    std::unique_ptr<Field> a, b;
    int32_t plain, held;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, std::unique_ptr<Field> a, std::unique_ptr<Field> b,
                 int32_t plain, int32_t held) {
    cases.push_back(Case{what, std::move(a), std::move(b), plain, held});
  };
  add("double, decimal rounds it", FloatF(1.005), Decimal(FloatF(1.01), 2), -1, 0);
  add("double, decimal cuts it", FloatF(1.009), Decimal(FloatF(1.0), 2), 1, 0);
  add("double, decimal a unit apart", FloatF(1.02), Decimal(FloatF(1.0), 2), 1, 1);
  add("negative, rounded", FloatF(-2.675), Decimal(FloatF(-2.68), 2), 1, 0);
  add("numeric scale 4 and 2", Decimal(NumF("12.3450"), 4), Decimal(NumF("12.35"), 2), -1, 0);
  add("numeric a unit apart", Decimal(NumF("12.3450"), 4), Decimal(NumF("12.33"), 2), 1, 1);
  add("currency and int", CurF(25000), IntF(3), -1, 0);
  add("currency and int apart", CurF(25000), IntF(4), -1, -1);
  add("double noise", FloatF(0.1 + 0.2), FloatF(0.3), 1, 0);
  add("double apart at 15 digits", FloatF(0.30000000000001), FloatF(0.3), 1, 1);
  add("real and double", Real(0.1), FloatF(0.1), 1, 0);
  add("real and double apart", Real(0.1), FloatF(0.1000002), -1, -1);
  add("unscaled numerics stay exact", NumF("1.005"), NumF("1.01"), -1, -1);
  add("char padding", Char("ab   ", 5), Char("ab", 20), 1, 0);
  add("varchar keeps its blanks", Char("ab ", 0), Char("ab", 0), 1, 1);
  add("char and other text", Char("ab   ", 5), Char("ac", 0), -1, -1);
  add("seconds round", Stamp(kNoon + 50, 0), Stamp(kNoon + 100, TWDATETIMEF_SECOND), -1, 0);
  add("seconds cut", Stamp(kNoon + 99, 0), Stamp(kNoon, TWDATETIMEF_SECOND), 1, 0);
  add("a second apart", Stamp(kNoon + 100, 0), Stamp(kNoon, TWDATETIMEF_SECOND), 1, 1);
  add("tenths", Stamp(kNoon + 14, 0), Stamp(kNoon + 10, TWDATETIMEF_TENTH), 1, 0);
  add("tenths apart", Stamp(kNoon + 20, 0), Stamp(kNoon + 10, TWDATETIMEF_TENTH), 1, 1);
  add("rounded into the next day", Stamp(kDay - 40, 0), Stamp(0, TWDATETIMEF_SECOND, 2451546), -1,
      0);
  add("a date column", Stamp(kNoon + 1234, 0), Stamp(0, TWDATETIMEF_NO_TIME), 1, 0);
  add("a date column, another day", Stamp(kNoon, 0, 2451546), Stamp(0, TWDATETIMEF_NO_TIME), 1, 1);
  add("a time column", Stamp(kNoon, 0, 2451546),
      Stamp(kNoon, TWDATETIMEF_NO_DATE | TWDATETIMEF_SECOND), 1, 0);
  for (const Case& c : cases) {
    int32_t r = 42;
    ASSERT_EQ(TWFieldCompare(*c.a, 1, *c.b, 1, 1, 0, &r), 0u) << c.what;
    EXPECT_EQ(r, c.plain) << c.what;
    ASSERT_EQ(TWFieldCompare(*c.a, 1, *c.b, 1, 1, TWCOMPAREF_FORMAT, &r), 0u) << c.what;
    EXPECT_EQ(r, c.held) << c.what;
    ASSERT_EQ(TWFieldCompare(*c.b, 1, *c.a, 1, 1, TWCOMPAREF_FORMAT, &r), 0u) << c.what;
    EXPECT_EQ(r, -c.held) << c.what << ", turned round";
  }
}

TEST(FieldCompare, RunsStopAtTheFirstDifference) {
  Field a(TWTYPE_INT, 3), b(TWTYPE_INT, 3);
  for (uint32_t i = 1; i <= 3; ++i) {
    int32_t va = static_cast<int32_t>(i), vb = i == 3 ? 0 : va;
    ASSERT_EQ(TWFieldSetInt(a, i, &va), 0u);
    ASSERT_EQ(TWFieldSetInt(b, i, &vb), 0u);
  }
  int32_t r = 42;
  EXPECT_EQ(TWFieldCompare(a, 1, b, 1, 2, 0, &r), 0u);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(TWFieldCompare(a, 1, b, 1, 3, 0, &r), 0u);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(TWFieldCompare(a, 2, b, 1, 1, 0, &r), 0u);
  EXPECT_EQ(r, 1);

  EXPECT_EQ(TWFieldCompare(a, 0, b, 1, 1, 0, &r), TWFAIL_ZERO_INDEX);
  EXPECT_EQ(TWFieldCompare(a, 2, b, 1, 3, 0, &r), TWFAIL_RECORD_COUNT);
  EXPECT_EQ(TWFieldCompare(a, 1, b, 4, 1, 0, &r), TWFAIL_RECORD_INDEX);
  EXPECT_EQ(TWFieldCompare(a, 1, b, 1, 0, 0, &r), TWFAIL_ZERO_COUNT);
  EXPECT_EQ(TWFieldCompare(a, 1, b, 1, 1, 0x200, &r), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWFieldCompare(a, 1, b, 1, 1, 0, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWFieldCompare(a, 1, TWNULLHANDLE, 1, 1, 0, &r), TWFAIL_INVALID_FIELD);
}

TEST(FieldConvert, RunsKeepNullsAndStopAtTheFirstFailure) {
  Field src(TWTYPE_INT, 4), dst(TWTYPE_FLOAT, 4);
  for (uint32_t i : {1u, 3u, 4u}) {
    int32_t v = static_cast<int32_t>(i * 10);
    ASSERT_EQ(TWFieldSetInt(src, i, &v), 0u);
  }
  double nine = 9;
  ASSERT_EQ(TWFieldSetFloat(dst, 2, &nine), 0u);
  ASSERT_EQ(TWFieldConvert(dst, 1, src, 1, 4), 0u);
  EXPECT_EQ(TextOf(dst, 1), TextOf(src, 1));
  EXPECT_EQ(TWFieldIsNull(dst, 2), 1);
  EXPECT_EQ(TextOf(dst, 4), "40");

  // Moving a run up within one field reads every value before it is overwritten.
  Field f(TWTYPE_TEXT, 5);
  for (uint32_t i = 1; i <= 5; ++i) {
    Stream s(std::string(1, static_cast<char>('0' + i)));
    ASSERT_EQ(TWFieldSetStream(f, i, s.get()), 0u);
  }
  ASSERT_EQ(TWFieldConvert(f, 2, f, 1, 4), 0u);
  std::string all;
  for (uint32_t i = 1; i <= 5; ++i) all += TextOf(f, i);
  EXPECT_EQ(all, "11234");
  ASSERT_EQ(TWFieldConvert(f, 1, f, 2, 4), 0u);
  all.clear();
  for (uint32_t i = 1; i <= 5; ++i) all += TextOf(f, i);
  EXPECT_EQ(all, "12344");

  Field texts(TWTYPE_TEXT, 3), ints(TWTYPE_INT, 3);
  const char* values[] = {"1", "x", "3"};
  for (uint32_t i = 1; i <= 3; ++i) {
    Stream s(values[i - 1]);
    ASSERT_EQ(TWFieldSetStream(texts, i, s.get()), 0u);
  }
  EXPECT_EQ(TWFieldConvert(ints, 1, texts, 1, 3), TWFAIL_INVALID_INT);
  EXPECT_EQ(TextOf(ints, 1), "1");
  EXPECT_EQ(TWFieldIsNull(ints, 3), 1);

  EXPECT_EQ(TWFieldConvert(ints, 0, texts, 1, 1), TWFAIL_ZERO_INDEX);
  EXPECT_EQ(TWFieldConvert(ints, 1, texts, 1, 0), TWFAIL_ZERO_COUNT);
  EXPECT_EQ(TWFieldConvert(ints, 2, texts, 1, 3), TWFAIL_RECORD_COUNT);
  EXPECT_EQ(TWFieldConvert(ints, 1, texts, 4, 1), TWFAIL_RECORD_INDEX);
}

TEST(FieldCopy, StandaloneFieldTakesTheWholeDefinition) {
  Field src(TWTYPE_TEXT, 2);
  ASSERT_EQ(TWFieldSetFormatStream(src, 0, 10, TWSTREAMFMT_NATIVE), 0u);
  ASSERT_EQ(TWFieldSetFlags(src, TWFIELDF_KEY), 0u);
  ASSERT_EQ(TWFieldSetVirtualCode(src, 0x00120000), 0u);
  Stream a("a");
  ASSERT_EQ(TWFieldSetStream(src, 1, a.get()), 0u);

  Field dst(TWTYPE_INT, 1);
  ASSERT_EQ(TWFieldCopy(dst, src), 0u);
  EXPECT_EQ(TWFieldGetType(dst), uint32_t{TWTYPE_TEXT});
  EXPECT_EQ(TWFieldGetValueCount(dst), 2u);
  EXPECT_EQ(TWFieldGetFlags(dst), uint32_t{TWFIELDF_KEY});
  EXPECT_EQ(TWFieldGetVirtualCode(dst), 0x00120000u);
  uint32_t maxLength = 0;
  ASSERT_EQ(TWFieldGetFormatStream(dst, nullptr, &maxLength, nullptr), 0u);
  EXPECT_EQ(maxLength, 10u);
  EXPECT_EQ(TextOf(dst, 1), "a");
  EXPECT_EQ(TWFieldIsNull(dst, 2), 1);

  // The copy owns its own data.
  Stream b("b");
  ASSERT_EQ(TWFieldSetStream(src, 1, b.get()), 0u);
  EXPECT_EQ(TextOf(dst, 1), "a");
  EXPECT_EQ(TWFieldCopy(dst, dst), 0u);
  EXPECT_EQ(TWFieldCopy(dst, TWNULLHANDLE), TWFAIL_INVALID_FIELD);
}

TEST(FieldCopy, ListFieldKeepsItsShape) {
  twtest::List list(1);
  TWFIELD owned = list.Add("n", TWTYPE_INT);
  Field text(TWTYPE_TEXT), two(TWTYPE_INT, 2), one(TWTYPE_INT, 1);
  int32_t v = 9;
  ASSERT_EQ(TWFieldSetInt(one, 1, &v), 0u);
  EXPECT_EQ(TWFieldCopy(owned, text), TWFAIL_INVALID_CONVERT);
  EXPECT_EQ(TWFieldCopy(owned, two), TWFAIL_RECORD_COUNT);
  EXPECT_EQ(TWFieldCopy(owned, one), 0u);
  EXPECT_EQ(TextOf(owned), "9");
}

TEST(FieldPerValue, SlotsWithCapacityAllocateNothing) {
  if (TW_TEST_SANITIZED) GTEST_SKIP() << "the sanitizer owns malloc";
#if !TW_TEST_SANITIZED
  Field i(TWTYPE_INT), fl(TWTYPE_FLOAT), t(TWTYPE_TEXT), t2(TWTYPE_TEXT), n(TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(t, 0, 64, TWSTREAMFMT_NATIVE), 0u);
  twtest::List list(1);
  list.Add("first", TWTYPE_INT);
  list.Add("second", TWTYPE_TEXT);
  Stream shortText("short text"), out("room for the text"), name("room for a name");
  auto round = [&](int k) {
    int32_t v = k, vo = 0;
    double d = k * 0.5, dout = 0;
    EXPECT_EQ(TWFieldSetInt(i, 1, &v), 0u);
    EXPECT_EQ(TWFieldGetInt(i, 1, &vo, nullptr), 0u);
    EXPECT_EQ(TWFieldSetFloat(fl, 1, &d), 0u);
    EXPECT_EQ(TWFieldGetFloat(fl, 1, &dout, nullptr), 0u);
    EXPECT_EQ(TWFieldSetStream(t, 1, shortText.get()), 0u);
    EXPECT_EQ(TWFieldGetStream(t, 1, 0, out.get(), nullptr), 0u);
    EXPECT_EQ(TWFieldConvert(t2, 1, t, 1, 1), 0u);
    EXPECT_EQ(TWFieldSetInt(n, 1, &v), 0u);
    EXPECT_EQ(TWFieldlistListSetup(list, TWSTREAMFMT_NATIVE), 0u);
    while (TWFieldlistList(list, nullptr, nullptr, nullptr, nullptr, name.get()) == 0) {
    }
  };
  round(1);  // grows the blocks
  g_allocations = 0;
  g_counting = true;
  for (int k = 0; k < 100; ++k) round(k);
  g_counting = false;
  EXPECT_EQ(g_allocations.load(), 0);
#endif
}

}  // namespace
