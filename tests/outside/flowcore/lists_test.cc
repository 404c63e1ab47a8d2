// Tests of the text, number and datetime lists: byte layouts built by hand and read back,
// every truncation rejected, and conversions between lists and text.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "flowcore.h"
#include "plat_test_util.h"
#include "stream_test_util.h"

namespace {

using twtest::Bytes;
using twtest::ConvertText;
using twtest::F64;
using twtest::Stream;
using twtest::U16;
using twtest::U32;

constexpr uint32_t N = TWSTREAMFMT_NATIVE;

// Two entries "abc" and "de", then two bytes that are not part of the list.
const Bytes kTextList = U16(2) + U16(3) + U16(2) + "abcde";

TEST(TextList, ReadsTheLayout) {
  for (uint32_t format : {uint32_t{TWSTREAMFMT_TEXT_LIST}, uint32_t{TWSTREAMFMT_BLOB}}) {
    Stream list(format, kTextList + "xx");
    EXPECT_EQ(TWTextListGetCount(list.get()), 2u);
    EXPECT_EQ(TWTextListGetLength(list.get(), 1), 3u);
    EXPECT_EQ(TWTextListGetLength(list.get(), 2), 2u);
    EXPECT_EQ(TWTextListGetLength(list.get(), 3), 0u);
    EXPECT_EQ(TWTextListGetLength(list.get(), 0), 0u);

    Stream dest;
    void* data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(TWTextListFetch(list.get(), 1, N, dest.get(), &data, &length), TWSUCCESS);
    EXPECT_EQ(dest.bytes(), "abc");
    EXPECT_EQ(data, dest->data);
    EXPECT_EQ(length, 3u);
    EXPECT_TRUE(dest.terminated());
    ASSERT_EQ(TWTextListFetch(list.get(), 2, 0, dest.get(), nullptr, nullptr), TWSUCCESS);
    EXPECT_EQ(dest.bytes(), "de");
    EXPECT_EQ(dest->format, TWSTREAMFMT_QMBCS);
    ASSERT_EQ(TWTextListFetch(list.get(), 2, TWSTREAMFMT_UNICODE, dest.get(), nullptr, nullptr),
              TWSUCCESS);
    EXPECT_EQ(dest.bytes(), twtest::Wide("de"));
    ASSERT_EQ(TWTextListFetch(list.get(), 1, TWSTREAMFMT_TEXT_LIST, dest.get(), nullptr, nullptr),
              TWSUCCESS);
    EXPECT_EQ(dest.bytes(), U16(1) + U16(3) + "abc");
  }
  // The list itself may receive its entry.
  Stream self(TWSTREAMFMT_TEXT_LIST, kTextList);
  ASSERT_EQ(TWTextListFetch(self.get(), 2, N, self.get(), nullptr, nullptr), TWSUCCESS);
  EXPECT_EQ(self.bytes(), "de");

  Stream empty(TWSTREAMFMT_TEXT_LIST, U16(0));
  EXPECT_EQ(TWTextListGetCount(empty.get()), 0u);
  Stream dest;
  EXPECT_EQ(TWTextListFetch(empty.get(), 1, N, dest.get(), nullptr, nullptr), TWFAIL_INVALID_INDEX);
}

TEST(TextList, FetchKeepsTheDestinationRules) {
  Stream list(TWSTREAMFMT_TEXT_LIST, kTextList);
  Stream cut, strict;
  ASSERT_EQ(TWStreamCreate(cut.get(), 2, TWSTREAMF_TRUNCATE | TWSTREAMF_NO_CASE, N), 0u);
  ASSERT_EQ(TWTextListFetch(list.get(), 1, N, cut.get(), nullptr, nullptr), TWSUCCESS);
  EXPECT_EQ(cut.bytes(), "ab");
  EXPECT_EQ(cut->maxLength, 2u);
  EXPECT_EQ(TWStreamDataGetFlags(cut.get()), uint32_t{TWSTREAMF_TRUNCATE | TWSTREAMF_NO_CASE});
  ASSERT_EQ(TWStreamCreate(strict.get(), 2, 0, N), 0u);
  strict.Set(N, "ok");
  EXPECT_EQ(TWTextListFetch(list.get(), 1, N, strict.get(), nullptr, nullptr), TWFAIL_OVERFLOW);
  EXPECT_EQ(strict.bytes(), "ok");
  EXPECT_EQ(TWTextListFetch(list.get(), 1, TWSTREAMFMT_ASCII, strict.get(), nullptr, nullptr),
            TWFAIL_OVERFLOW);
}

TEST(TextList, RefusesBadArgumentsAndOtherStreams) {
  Stream list(TWSTREAMFMT_TEXT_LIST, kTextList), dest(N, "kept");
  Stream text(N, kTextList);
  struct Case {
    const TWStream* list;
    uint32_t index;
    TWStream* dest;
    uint32_t status;
  } cases[] = {
      {nullptr, 1, dest.get(), TWFAIL_NULL_BUFFER},
      {list.get(), 1, nullptr, TWFAIL_NULL_RESULT},
      {list.get(), 0, dest.get(), TWFAIL_ZERO_INDEX},
      {list.get(), 3, dest.get(), TWFAIL_INVALID_INDEX},
      {text.get(), 1, dest.get(), TWFAIL_INVALID_TEXT_LIST},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TWTextListFetch(c.list, c.index, N, c.dest, nullptr, nullptr), c.status) << c.index;
  EXPECT_EQ(dest.bytes(), "kept");
  EXPECT_EQ(TWTextListGetCount(nullptr), 0u);
  EXPECT_EQ(TWTextListGetLength(nullptr, 1), 0u);
  EXPECT_EQ(TWTextListGetCount(text.get()), 0u);
}

TEST(TextList, EveryTruncationIsRejected) {
  for (size_t cut = 0; cut < kTextList.size(); ++cut) {
    Stream list(TWSTREAMFMT_TEXT_LIST, kTextList.substr(0, cut)), dest;
    EXPECT_EQ(TWTextListGetCount(list.get()), 0u) << cut;
    EXPECT_EQ(TWTextListGetLength(list.get(), 1), 0u) << cut;
    EXPECT_EQ(TWTextListFetch(list.get(), 1, N, dest.get(), nullptr, nullptr),
              TWFAIL_INVALID_TEXT_LIST)
        << cut;
    Bytes out;
    EXPECT_EQ(ConvertText(TWSTREAMFMT_TEXT_LIST, kTextList.substr(0, cut), N, &out),
              TWFAIL_INVALID_TEXT_LIST)
        << cut;
    EXPECT_EQ(ConvertText(TWSTREAMFMT_BLOB, kTextList.substr(0, cut), TWSTREAMFMT_TEXT_LIST, &out),
              TWFAIL_INVALID_TEXT_LIST)
        << cut;
  }
}

TEST(TextList, ConvertsToAndFromText) {
  struct Case {
    uint32_t from;
    Bytes bytes;
    uint32_t to;
    uint32_t status;
    Bytes result;
  } cases[] = {
      {N, "XDBSNAP_COMMITSEQ, XDBSNAP_INTENTSEQ", TWSTREAMFMT_TEXT_LIST, 0,
       U16(2) + U16(17) + U16(17) + "XDBSNAP_COMMITSEQXDBSNAP_INTENTSEQ"},
      {N, " a ,\tb, ,c ", TWSTREAMFMT_TEXT_LIST, 0,
       U16(4) + U16(1) + U16(1) + U16(0) + U16(1) + "abc"},
      {N, "", TWSTREAMFMT_TEXT_LIST, 0, U16(0)},
      {N, " \t ", TWSTREAMFMT_TEXT_LIST, 0, U16(0)},
      {TWSTREAMFMT_CP1252, "caf\xE9", TWSTREAMFMT_TEXT_LIST, 0, U16(1) + U16(5) + "caf\xC3\xA9"},
      {TWSTREAMFMT_UNICODE, twtest::Wide("x,y"), TWSTREAMFMT_TEXT_LIST, 0,
       U16(2) + U16(1) + U16(1) + "xy"},
      {TWSTREAMFMT_TEXT_LIST, kTextList, N, 0, "abc, de"},
      {TWSTREAMFMT_TEXT_LIST, kTextList, TWSTREAMFMT_UNICODE, 0, twtest::Wide("abc, de")},
      {TWSTREAMFMT_TEXT_LIST, U16(1) + U16(2) + "\xC3\xA9", TWSTREAMFMT_ASCII,
       TWFAIL_TEXT_TRANSLATE, ""},
      {TWSTREAMFMT_TEXT_LIST, kTextList + "xx", TWSTREAMFMT_BLOB, 0, kTextList + "xx"},
      {TWSTREAMFMT_BLOB, kTextList + "xx", TWSTREAMFMT_TEXT_LIST, 0, kTextList},
      {N, Bytes(70000, 'a'), TWSTREAMFMT_TEXT_LIST, TWFAIL_OVERFLOW, ""},
      {N, Bytes(70000, ','), TWSTREAMFMT_TEXT_LIST, TWFAIL_OVERFLOW, ""},
  };
  for (const Case& c : cases) {
    Bytes out = "untouched";
    EXPECT_EQ(ConvertText(c.from, c.bytes, c.to, &out), c.status) << c.bytes.substr(0, 40);
    EXPECT_EQ(out, c.status ? "untouched" : c.result) << c.bytes.substr(0, 40);
  }
  // The largest list the layout can hold.
  Bytes most;
  for (int i = 0; i < 0xFFFF; ++i) most += i ? ",x" : "x";
  Bytes out;
  ASSERT_EQ(ConvertText(N, most, TWSTREAMFMT_TEXT_LIST, &out), TWSUCCESS);
  EXPECT_EQ(out.size(), 2u + 3u * 0xFFFF);
}

// Values 1.5 and -2.25, one range 10 to 20, then bytes that are not part of the list.
const Bytes kNumberList = U16(2) + U16(1) + F64(1.5) + F64(-2.25) + F64(10) + F64(20);

TEST(NumberList, ReadsTheLayout) {
  for (uint32_t format : {uint32_t{TWSTREAMFMT_NUMBER_LIST}, uint32_t{TWSTREAMFMT_BLOB}}) {
    Stream list(format, kNumberList + "tail");
    uint32_t values = 0, ranges = 0;
    ASSERT_EQ(TWNumberListGetCount(list.get(), &values, &ranges), TWSUCCESS);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(ranges, 1u);
    EXPECT_EQ(TWNumberListGetLength(list.get()), 4u + 16u + 16u);
    double v = 0, low = 0, high = 0;
    ASSERT_EQ(TWNumberListGetFirst(list.get(), &v), TWSUCCESS);
    EXPECT_EQ(v, 1.5);
    ASSERT_EQ(TWNumberListGetValue(list.get(), 2, &v), TWSUCCESS);
    EXPECT_EQ(v, -2.25);
    ASSERT_EQ(TWNumberListGetRange(list.get(), 1, &low, &high), TWSUCCESS);
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 20);
  }
}

TEST(NumberList, RefusesBadArguments) {
  Stream list(TWSTREAMFMT_NUMBER_LIST, kNumberList);
  Stream empty(TWSTREAMFMT_NUMBER_LIST, U16(0) + U16(0));
  Stream text(N, kNumberList);
  double v = 7, low = 7, high = 7;
  struct Case {
    uint32_t status, expected;
  } cases[] = {
      {TWNumberListGetValue(list.get(), 0, &v), TWFAIL_ZERO_INDEX},
      {TWNumberListGetValue(list.get(), 3, &v), TWFAIL_INVALID_INDEX},
      {TWNumberListGetValue(list.get(), 1, nullptr), TWFAIL_NULL_RESULT},
      {TWNumberListGetValue(nullptr, 1, &v), TWFAIL_NULL_BUFFER},
      {TWNumberListGetRange(list.get(), 2, &low, &high), TWFAIL_INVALID_INDEX},
      {TWNumberListGetRange(list.get(), 1, &low, nullptr), TWFAIL_NULL_RESULT},
      {TWNumberListGetFirst(empty.get(), &v), TWFAIL_INVALID_INDEX},
      {TWNumberListGetFirst(text.get(), &v), TWFAIL_INVALID_NUMBER_LIST},
      {TWNumberListGetCount(text.get(), nullptr, nullptr), TWFAIL_INVALID_NUMBER_LIST},
      {TWNumberListGetCount(nullptr, nullptr, nullptr), TWFAIL_NULL_BUFFER},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(cases[i].status, cases[i].expected) << "case " << i;
  EXPECT_EQ(v, 7);
  EXPECT_EQ(low, 7);
  EXPECT_EQ(TWNumberListGetLength(text.get()), 0u);
  EXPECT_EQ(TWNumberListGetLength(nullptr), 0u);
  EXPECT_EQ(TWNumberListGetLength(empty.get()), 4u);
}

TEST(NumberList, EveryTruncationIsRejected) {
  for (size_t cut = 0; cut < kNumberList.size(); ++cut) {
    Stream list(TWSTREAMFMT_NUMBER_LIST, kNumberList.substr(0, cut));
    uint32_t values = 9;
    double v = 0;
    EXPECT_EQ(TWNumberListGetCount(list.get(), &values, nullptr), TWFAIL_INVALID_NUMBER_LIST)
        << cut;
    EXPECT_EQ(values, 9u);
    EXPECT_EQ(TWNumberListGetFirst(list.get(), &v), TWFAIL_INVALID_NUMBER_LIST) << cut;
    EXPECT_EQ(TWNumberListGetLength(list.get()), 0u) << cut;
    Bytes out;
    EXPECT_EQ(
        ConvertText(TWSTREAMFMT_BLOB, kNumberList.substr(0, cut), TWSTREAMFMT_NUMBER_LIST, &out),
        TWFAIL_INVALID_NUMBER_LIST)
        << cut;
  }
}

TEST(NumberList, ConvertsToAndFromText) {
  Bytes text;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_NUMBER_LIST, kNumberList, N, &text), TWSUCCESS);
  EXPECT_EQ(text, "1.5, -2.25, 10 - 20");
  Bytes list;
  ASSERT_EQ(ConvertText(N, text, TWSTREAMFMT_NUMBER_LIST, &list), TWSUCCESS);
  EXPECT_EQ(list, kNumberList);
  ASSERT_EQ(ConvertText(N, " 3 ,-4 - -1, 5", TWSTREAMFMT_NUMBER_LIST, &list), TWSUCCESS);
  EXPECT_EQ(list, U16(2) + U16(1) + F64(3) + F64(5) + F64(-4) + F64(-1));
  ASSERT_EQ(ConvertText(N, "", TWSTREAMFMT_NUMBER_LIST, &list), TWSUCCESS);
  EXPECT_EQ(list, U16(0) + U16(0));
  EXPECT_EQ(ConvertText(N, "1, x", TWSTREAMFMT_NUMBER_LIST, &list), TWFAIL_INVALID_FLOAT);
}

// Sets the time zone for a scope; the zone in force before is restored after.
class ScopedTz {
 public:
  explicit ScopedTz(const char* zone) {
    env_.emplace("TZ", zone);
    tzset();
  }
  ~ScopedTz() {
    env_.reset();
    tzset();
  }

 private:
  std::optional<twtest::ScopedEnv> env_;
};

// Two datetimes and one range, as raw words.
const Bytes kDatetimeList = U16(2) + U16(1) + U32(5000000) + U32(2450393) + U32(0xFFFFFFFF) +
                            U32(2451545) + U32(0) + U32(2451545) + U32(8639999) + U32(2451546);

TEST(DatetimeList, ReadsTheLayout) {
  for (uint32_t format : {uint32_t{TWSTREAMFMT_DATETIME_LIST}, uint32_t{TWSTREAMFMT_BLOB}}) {
    Stream list(format, kDatetimeList + "tail");
    uint32_t values = 0, ranges = 0;
    ASSERT_EQ(TWDatetimeListGetCount(list.get(), &values, &ranges), TWSUCCESS);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(ranges, 1u);
    EXPECT_EQ(TWDatetimeListGetLength(list.get()), 36u);
    TWDatetime v{}, low{}, high{};
    ASSERT_EQ(TWDatetimeListGetFirst(list.get(), &v), TWSUCCESS);
    EXPECT_EQ(v.ticks, 5000000u);
    EXPECT_EQ(v.date, 2450393u);
    ASSERT_EQ(TWDatetimeListGetValue(list.get(), 2, &v), TWSUCCESS);
    EXPECT_EQ(v.ticks, 0xFFFFFFFFu);
    ASSERT_EQ(TWDatetimeListGetRange(list.get(), 1, &low, &high), TWSUCCESS);
    EXPECT_EQ(low.ticks, 0u);
    EXPECT_EQ(high.date, 2451546u);
    EXPECT_EQ(TWDatetimeListGetRange(list.get(), 0, &low, &high), TWFAIL_ZERO_INDEX);
    EXPECT_EQ(TWDatetimeListGetValue(list.get(), 3, &v), TWFAIL_INVALID_INDEX);
  }
  Stream empty(TWSTREAMFMT_DATETIME_LIST, U16(0) + U16(0));
  TWDatetime v{};
  EXPECT_EQ(TWDatetimeListGetFirst(empty.get(), &v), TWFAIL_INVALID_INDEX);
  Stream numbers(TWSTREAMFMT_NUMBER_LIST, kDatetimeList);
  EXPECT_EQ(TWDatetimeListGetFirst(numbers.get(), &v), TWFAIL_INVALID_DATETIME_LIST);
  EXPECT_EQ(TWDatetimeListGetFirst(nullptr, &v), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWDatetimeListGetFirst(empty.get(), nullptr), TWFAIL_NULL_RESULT);
}

TEST(DatetimeList, EveryTruncationIsRejected) {
  for (size_t cut = 0; cut < kDatetimeList.size(); ++cut) {
    Stream list(TWSTREAMFMT_DATETIME_LIST, kDatetimeList.substr(0, cut));
    TWDatetime v{};
    EXPECT_EQ(TWDatetimeListGetCount(list.get(), nullptr, nullptr), TWFAIL_INVALID_DATETIME_LIST)
        << cut;
    EXPECT_EQ(TWDatetimeListGetFirst(list.get(), &v), TWFAIL_INVALID_DATETIME_LIST) << cut;
    EXPECT_EQ(TWDatetimeListGetLength(list.get()), 0u) << cut;
  }
}

TEST(DatetimeList, ConvertsToAndFromText) {
  ScopedTz utc("UTC");
  // Each entry reads as the datetime's own text.
  Stream first, second;
  TWDatetime a{5000000, 2450393}, b{0xFFFFFFFF, 2451545};
  ASSERT_EQ(TWStreamFromDatetime(first.get(), &a, N), TWSUCCESS);
  ASSERT_EQ(TWStreamFromDatetime(second.get(), &b, N), TWSUCCESS);
  Bytes values = U16(2) + U16(0) + U32(a.ticks) + U32(a.date) + U32(b.ticks) + U32(b.date);
  Bytes text;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_DATETIME_LIST, values, N, &text), TWSUCCESS);
  EXPECT_EQ(text, first.bytes() + ", " + second.bytes());

  Bytes list, again;
  ASSERT_EQ(ConvertText(N, text, TWSTREAMFMT_DATETIME_LIST, &list), TWSUCCESS);
  ASSERT_EQ(ConvertText(TWSTREAMFMT_DATETIME_LIST, list, N, &again), TWSUCCESS);
  EXPECT_EQ(again, text);
  ASSERT_EQ(ConvertText(TWSTREAMFMT_DATETIME_LIST, kDatetimeList, N, &text), TWSUCCESS);
  ASSERT_EQ(ConvertText(N, text, TWSTREAMFMT_DATETIME_LIST, &list), TWSUCCESS);
  EXPECT_EQ(list.substr(0, 4), U16(2) + U16(1));
  EXPECT_EQ(ConvertText(N, "not a date", TWSTREAMFMT_DATETIME_LIST, &list),
            TWFAIL_INVALID_DATETIME);
}

}  // namespace
