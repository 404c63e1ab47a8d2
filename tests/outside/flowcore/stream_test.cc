// Tests of stream records: creation, storage and reuse of data blocks, capacity rules,
// conversion flags, comparison, the byte operations, and the composite text form.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flowcore.h"
#include "stream_test_util.h"

namespace {

using twtest::Bytes;
using twtest::ConvertText;
using twtest::Stream;
using twtest::Wide;

constexpr uint32_t kOtherBinary = 0x40000099;

TEST(StreamRecord, CreateChecksItsArguments) {
  struct Case {
    uint32_t maxLength, flags, format, status;
  } cases[] = {
      {0, 0, TWSTREAMFMT_NATIVE, TWSUCCESS},
      {60, TWSTREAMF_FIXED | TWSTREAMF_TRUNCATE | TWSTREAMF_NO_CASE, TWSTREAMFMT_NATIVE, TWSUCCESS},
      {0, TWSTREAMF_FIXED, TWSTREAMFMT_NATIVE, TWFAIL_FIXED_LENGTH},
      {10, 0x2, TWSTREAMFMT_NATIVE, TWFAIL_INVALID_FLAGS},
      {10, 0x80000000, TWSTREAMFMT_NATIVE, TWFAIL_INVALID_FLAGS},
      {10, 0, 0, TWFAIL_ZERO_FORMAT},
  };
  for (const Case& c : cases) {
    TWStream s{7, 7, 7, 7, nullptr};
    EXPECT_EQ(TWStreamCreate(&s, c.maxLength, c.flags, c.format), c.status) << c.flags;
    if (c.status == TWSUCCESS) {
      uint32_t maxLength, flags, format, length;
      void* data = &s;
      ASSERT_EQ(TWStreamDataGetInfo(&s, &maxLength, &flags, &format, &data, &length), 0u);
      EXPECT_EQ(maxLength, c.maxLength);
      EXPECT_EQ(flags, c.flags);
      EXPECT_EQ(format, c.format);
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(data, nullptr);
    } else {
      EXPECT_EQ(s.maxLength, 7u);
      EXPECT_EQ(s.format, 7u);
    }
  }
  EXPECT_EQ(TWStreamCreate(nullptr, 0, 0, TWSTREAMFMT_NATIVE), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamClear(nullptr), TWFAIL_NULL_RESULT);
}

TEST(StreamRecord, NullRecordsAnswerWithoutCrashing) {
  void* data = &data;
  uint32_t format = 0, length = 0;
  EXPECT_EQ(TWStreamDataGetBuffer(nullptr, &format, &data), 0u);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(TWStreamDataGetFlags(nullptr), 0u);
  EXPECT_EQ(TWStreamDataGetLength(nullptr), 0u);
  EXPECT_EQ(TWStreamDataFree(nullptr), TWSUCCESS);
  EXPECT_EQ(TWStreamDataGetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataSet(nullptr, TWSTREAMFMT_NATIVE, "a", 1), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataAlloc(nullptr, TWSTREAMFMT_NATIVE, 1, nullptr, nullptr),
            TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataRealloc(nullptr, 1, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataTrim(nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataSetFlags(nullptr, 0), TWFAIL_NULL_RESULT);

  Stream s(TWSTREAMFMT_NATIVE, "abc");
  int32_t result;
  EXPECT_EQ(TWStreamDataCopy(nullptr, s.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataCopy(s.get(), nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataConvert(nullptr, s.get(), 0, 0, nullptr, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataConvert(s.get(), nullptr, 0, 0, nullptr, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataCompare(nullptr, s.get(), &result), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataCompare(s.get(), s.get(), nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataExtract(nullptr, s.get(), 1, 1), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataExtract(s.get(), nullptr, 1, 1), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataFetch(nullptr, 1, 1, &data, &length), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataFetch(s.get(), 1, 1, nullptr, &length), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataMerge(nullptr, s.get(), 1, s.get()), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWStreamDataMerge(s.get(), nullptr, 1, s.get()), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataMerge(s.get(), s.get(), 1, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(s.bytes(), "abc");

  // A record that claims bytes without data is refused, not read.
  TWStream broken{0, 0, TWSTREAMFMT_NATIVE, 5, nullptr};
  Stream out;
  EXPECT_EQ(TWStreamDataCopy(out.get(), &broken), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataConvert(out.get(), &broken, 0, TWSTREAMFMT_UNICODE, nullptr, nullptr),
            TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataFetch(&broken, 1, 1, &data, &length), TWFAIL_NULL_BUFFER);
}

TEST(StreamSet, CopiesAndTerminates) {
  Stream s;
  ASSERT_EQ(TWStreamDataSet(s.get(), TWSTREAMFMT_UNICODE, "a\0b\0", 4), TWSUCCESS);
  EXPECT_EQ(s.bytes(), Bytes("a\0b\0", 4));
  EXPECT_TRUE(s.terminated());
  uint32_t format = 0;
  void* data = nullptr;
  EXPECT_EQ(TWStreamDataGetBuffer(s.get(), &format, &data), 4u);
  EXPECT_EQ(format, TWSTREAMFMT_UNICODE);
  EXPECT_EQ(data, s->data);

  EXPECT_EQ(TWStreamDataSet(s.get(), TWSTREAMFMT_NATIVE, nullptr, 0), TWSUCCESS);
  EXPECT_EQ(s->length, 0u);
  EXPECT_TRUE(s.terminated());
  EXPECT_EQ(TWStreamDataSet(s.get(), TWSTREAMFMT_NATIVE, nullptr, 3), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWStreamDataSet(s.get(), 0, "x", 1), TWFAIL_ZERO_FORMAT);
}

TEST(StreamSet, ReusesABlockThatIsBigEnough) {
  Stream s(TWSTREAMFMT_NATIVE, std::string(100, 'x'));
  void* block = s->data;
  s.Set(TWSTREAMFMT_NATIVE, "short");
  EXPECT_EQ(s->data, block);
  EXPECT_EQ(s.bytes(), "short");
  EXPECT_TRUE(s.terminated());

  // A value taken from the stream's own bytes.
  ASSERT_EQ(TWStreamDataSet(s.get(), TWSTREAMFMT_NATIVE, static_cast<char*>(s->data) + 2, 3), 0u);
  EXPECT_EQ(s.bytes(), "ort");
  Stream small(TWSTREAMFMT_NATIVE, "ab");
  ASSERT_EQ(TWStreamDataMerge(small.get(), small.get(), 3, small.get()), TWSUCCESS);
  EXPECT_EQ(small.bytes(), "abab");

  Stream copy, longer(TWSTREAMFMT_NATIVE, std::string(50, 'y'));
  ASSERT_EQ(TWStreamDataCopy(copy.get(), longer.get()), TWSUCCESS);
  void* copyBlock = copy->data;
  ASSERT_EQ(TWStreamDataCopy(copy.get(), small.get()), TWSUCCESS);
  EXPECT_EQ(copy->data, copyBlock);
  EXPECT_EQ(copy.bytes(), "abab");

  // A fixed stream takes its whole capacity at the first write.
  Stream fixed;
  ASSERT_EQ(TWStreamCreate(fixed.get(), 64, TWSTREAMF_FIXED, TWSTREAMFMT_NATIVE), 0u);
  fixed.Set(TWSTREAMFMT_NATIVE, "a");
  void* fixedBlock = fixed->data;
  fixed.Set(TWSTREAMFMT_NATIVE, std::string(64, 'z'));
  EXPECT_EQ(fixed->data, fixedBlock);
  EXPECT_EQ(fixed->length, 64u);
}

TEST(StreamSet, CapacityCutsOnCharacterBoundariesOrFails) {
  struct Case {
    uint32_t format;
    Bytes value;
    uint32_t maxLength;
    Bytes kept;
  } cases[] = {
      {TWSTREAMFMT_NATIVE, "abc", 2, "ab"},
      {TWSTREAMFMT_NATIVE, "a\xC3\xA9", 2, "a"},
      {TWSTREAMFMT_NATIVE, "\xE2\x82\xAC", 2, ""},
      {TWSTREAMFMT_QMBCS, "a\xE2\x82\xAC", 3, "a"},
      {TWSTREAMFMT_NATIVE, "a\xE2\x82\xAC!", 4, "a\xE2\x82\xAC"},
      {TWSTREAMFMT_UNICODE, Bytes("a\0b\0", 4), 3, Bytes("a\0", 2)},
      {TWSTREAMFMT_UNICODE, Bytes("a\0\x3D\xD8\x00\xDE", 6), 5, Bytes("a\0", 2)},
      {TWSTREAMFMT_CP932, "a\x82\xA0", 2, "a"},
      {TWSTREAMFMT_EUCJ, "\xC6\xFC\xCB\xDC", 3, "\xC6\xFC"},
      {TWSTREAMFMT_CP1252, "\xE9t\xE9", 2, "\xE9t"},
      {TWSTREAMFMT_BLOB, "\x01\x02\x03", 2, "\x01\x02"},
      {TWSTREAMFMT_BASE64, "QUJDRA==", 6, "QUJD"},
  };
  for (const Case& c : cases) {
    Stream cut, strict;
    ASSERT_EQ(TWStreamCreate(cut.get(), c.maxLength, TWSTREAMF_TRUNCATE, c.format), 0u);
    ASSERT_EQ(TWStreamCreate(strict.get(), c.maxLength, 0, c.format), 0u);
    strict.Set(c.format, Bytes(c.maxLength, 'k'));
    EXPECT_EQ(TWStreamDataSet(cut.get(), c.format, c.value.data(), c.value.size()), 0u);
    EXPECT_EQ(cut.bytes(), c.kept) << c.format << " " << c.value;
    EXPECT_TRUE(cut.terminated());
    EXPECT_EQ(TWStreamDataSet(strict.get(), c.format, c.value.data(), c.value.size()),
              TWFAIL_OVERFLOW);
    EXPECT_EQ(strict.bytes(), Bytes(c.maxLength, 'k')) << "a failed set keeps the old value";
  }
  // A list cut anywhere would no longer be a list.
  Stream list;
  ASSERT_EQ(TWStreamCreate(list.get(), 4, TWSTREAMF_TRUNCATE, TWSTREAMFMT_TEXT_LIST), 0u);
  Bytes entries("\x01\x00\x03\x00xyz", 7);
  EXPECT_EQ(TWStreamDataSet(list.get(), TWSTREAMFMT_TEXT_LIST, entries.data(), 7), TWFAIL_OVERFLOW);
}

TEST(StreamAlloc, GrantsZeroedBlocksCutToCapacity) {
  Stream s;
  ASSERT_EQ(TWStreamCreate(s.get(), 8, 0, TWSTREAMFMT_NATIVE), 0u);
  s.Set(TWSTREAMFMT_NATIVE, "dirty");
  void* data = nullptr;
  uint32_t granted = 0;
  ASSERT_EQ(TWStreamDataAlloc(s.get(), TWSTREAMFMT_BLOB, 5, &data, &granted), TWSUCCESS);
  EXPECT_EQ(granted, 5u);
  EXPECT_EQ(data, s->data);
  EXPECT_EQ(s.bytes(), Bytes(5, '\0'));
  EXPECT_EQ(s->format, TWSTREAMFMT_BLOB);
  EXPECT_TRUE(s.terminated());

  // A request beyond the capacity is a shorter grant, not a failure.
  ASSERT_EQ(TWStreamDataAlloc(s.get(), TWSTREAMFMT_NATIVE, 190, &data, nullptr), TWSUCCESS);
  EXPECT_EQ(TWStreamDataGetLength(s.get()), 8u);
  EXPECT_EQ(TWStreamDataAlloc(s.get(), 0, 1, &data, &granted), TWFAIL_ZERO_FORMAT);
  EXPECT_EQ(TWStreamDataAlloc(s.get(), TWSTREAMFMT_BLOB, 0xFFFFFFFFu, nullptr, nullptr), TWSUCCESS);
  EXPECT_EQ(s->length, 8u);

  Stream unbounded;
  EXPECT_EQ(TWStreamDataAlloc(unbounded.get(), TWSTREAMFMT_BLOB, 0xFFFFFFFFu, nullptr, nullptr),
            TWFAIL_MEMORY);
  EXPECT_EQ(unbounded->data, nullptr);
}

TEST(StreamRealloc, KeepsLeadingBytesAndZeroFillsGrowth) {
  Stream s;
  ASSERT_EQ(TWStreamCreate(s.get(), 6, 0, TWSTREAMFMT_NATIVE), 0u);
  s.Set(TWSTREAMFMT_NATIVE, "abcdef");
  void* data = nullptr;
  ASSERT_EQ(TWStreamDataRealloc(s.get(), 2, &data), TWSUCCESS);
  EXPECT_EQ(s.bytes(), "ab");
  EXPECT_TRUE(s.terminated());
  ASSERT_EQ(TWStreamDataRealloc(s.get(), 100, &data), TWSUCCESS);
  EXPECT_EQ(s.bytes(), Bytes("ab\0\0\0\0", 6)) << "growth is zeroed and cut to capacity";
  EXPECT_EQ(data, s->data);

  Stream grow(TWSTREAMFMT_BLOB, "xy");
  ASSERT_EQ(TWStreamDataRealloc(grow.get(), 5000, nullptr), TWSUCCESS);
  EXPECT_EQ(grow.bytes(), "xy" + Bytes(4998, '\0'));
  EXPECT_TRUE(grow.terminated());

  // Data the record only refers to is copied before it is changed.
  Stream source(TWSTREAMFMT_NATIVE, "shared");
  Stream ref;
  ASSERT_EQ(TWStreamDataConvert(ref.get(), source.get(), TWCONVERTF_REFERENCE, 0, nullptr, nullptr),
            0u);
  ASSERT_EQ(ref->data, source->data);
  ASSERT_EQ(TWStreamDataRealloc(ref.get(), 3, nullptr), TWSUCCESS);
  EXPECT_NE(ref->data, source->data);
  EXPECT_EQ(ref.bytes(), "sha");
  EXPECT_EQ(source.bytes(), "shared");
}

TEST(StreamCopy, CopiesFormatAndKeepsTargetRules) {
  Stream source(TWSTREAMFMT_CP1252, "caf\xE9");
  Stream target;
  ASSERT_EQ(TWStreamCreate(target.get(), 3, TWSTREAMF_NO_CASE, TWSTREAMFMT_NATIVE), 0u);
  EXPECT_EQ(TWStreamDataCopy(target.get(), source.get()), TWFAIL_OVERFLOW);
  ASSERT_EQ(TWStreamDataSetFlags(target.get(), TWSTREAMF_TRUNCATE), 0u);
  ASSERT_EQ(TWStreamDataCopy(target.get(), source.get()), TWSUCCESS);
  EXPECT_EQ(target.bytes(), "caf");
  EXPECT_EQ(target->format, TWSTREAMFMT_CP1252);
  EXPECT_EQ(target->maxLength, 3u);
  EXPECT_EQ(TWStreamDataGetFlags(target.get()), uint32_t{TWSTREAMF_TRUNCATE});
  EXPECT_NE(target->data, source->data);

  Stream empty;
  ASSERT_EQ(TWStreamDataCopy(target.get(), empty.get()), TWSUCCESS);
  EXPECT_EQ(target->length, 0u);
  EXPECT_EQ(TWStreamDataCopy(source.get(), source.get()), TWSUCCESS);
  EXPECT_EQ(source.bytes(), "caf\xE9");
}

TEST(StreamConvert, ReferenceOnlyWhenNoByteChanges) {
  Stream source(TWSTREAMFMT_NATIVE, "text");
  struct Case {
    uint32_t format;
    bool shared;
  } cases[] = {
      {0, true},
      {TWSTREAMFMT_NATIVE, true},
      {TWSTREAMFMT_QMBCS, true},
      {TWSTREAMFMT_BLOB, true},
      {TWSTREAMFMT_UNICODE, false},
      {TWSTREAMFMT_CP1252, false},
  };
  for (const Case& c : cases) {
    Stream target(TWSTREAMFMT_NATIVE, "old value");
    void* data = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(TWStreamDataConvert(target.get(), source.get(), TWCONVERTF_REFERENCE, c.format, &data,
                                  &length),
              TWSUCCESS);
    EXPECT_EQ(target->data == source->data, c.shared) << c.format;
    EXPECT_EQ(data, target->data);
    EXPECT_EQ(length, target->length);
    EXPECT_EQ(target->format, c.format ? c.format : TWSTREAMFMT_NATIVE);
    // The private "not owned" mark is never shown, and survives a change of flags.
    EXPECT_EQ(TWStreamDataGetFlags(target.get()), 0u);
    ASSERT_EQ(TWStreamDataSetFlags(target.get(), TWSTREAMF_NO_CASE), 0u);
  }
  // Freeing the references above left the source's data alone.
  EXPECT_EQ(source.bytes(), "text");

  // Converting a record into itself by reference changes nothing it owns.
  ASSERT_EQ(TWStreamDataConvert(source.get(), source.get(), TWCONVERTF_REFERENCE, TWSTREAMFMT_QMBCS,
                                nullptr, nullptr),
            0u);
  EXPECT_EQ(source.bytes(), "text");
  EXPECT_EQ(source->format, TWSTREAMFMT_QMBCS);
}

TEST(StreamConvert, PreserveKeepsCapacityAndFlags) {
  Stream source(TWSTREAMFMT_NATIVE, "abcdef");
  Stream target;
  ASSERT_EQ(
      TWStreamCreate(target.get(), 4, TWSTREAMF_FIXED | TWSTREAMF_TRUNCATE, TWSTREAMFMT_NATIVE),
      0u);
  ASSERT_EQ(TWStreamDataConvert(target.get(), source.get(), TWCONVERTF_PRESERVE,
                                TWSTREAMFMT_UNICODE, nullptr, nullptr),
            TWSUCCESS);
  EXPECT_EQ(target.bytes(), Wide("ab"));
  EXPECT_EQ(target->maxLength, 4u);
  EXPECT_EQ(TWStreamDataGetFlags(target.get()), uint32_t{TWSTREAMF_FIXED | TWSTREAMF_TRUNCATE});
  ASSERT_EQ(TWStreamDataConvert(target.get(), source.get(),
                                TWCONVERTF_PRESERVE | TWCONVERTF_REFERENCE, 0, nullptr, nullptr),
            TWSUCCESS);
  EXPECT_EQ(target->data, source->data) << "a shorter reference still shares the bytes";
  EXPECT_EQ(target.bytes(), "abcd");
  EXPECT_EQ(source.bytes(), "abcdef");
  ASSERT_EQ(
      TWStreamDataConvert(target.get(), source.get(), 0, TWSTREAMFMT_UNICODE, nullptr, nullptr),
      TWSUCCESS);
  EXPECT_EQ(target.bytes(), Wide("abcdef")) << "without PRESERVE the capacity goes";
  EXPECT_EQ(target->maxLength, 0u);
  EXPECT_EQ(TWStreamDataGetFlags(target.get()), 0u);

  Stream strict;
  ASSERT_EQ(TWStreamCreate(strict.get(), 4, 0, TWSTREAMFMT_NATIVE), 0u);
  strict.Set(TWSTREAMFMT_NATIVE, "keep");
  EXPECT_EQ(
      TWStreamDataConvert(strict.get(), source.get(), TWCONVERTF_PRESERVE, 0, nullptr, nullptr),
      TWFAIL_OVERFLOW);
  EXPECT_EQ(strict.bytes(), "keep");
}

TEST(StreamConvert, ReusesThePreservedBlock) {
  Stream target;
  ASSERT_EQ(TWStreamCreate(target.get(), 200, 0, TWSTREAMFMT_UNICODE), 0u);
  Stream first(TWSTREAMFMT_NATIVE, std::string(90, 'a'));
  ASSERT_EQ(TWStreamDataConvert(target.get(), first.get(), TWCONVERTF_PRESERVE, TWSTREAMFMT_UNICODE,
                                nullptr, nullptr),
            0u);
  void* block = target->data;
  Stream second(TWSTREAMFMT_NATIVE, "b");
  ASSERT_EQ(TWStreamDataConvert(target.get(), second.get(), TWCONVERTF_PRESERVE,
                                TWSTREAMFMT_UNICODE, nullptr, nullptr),
            0u);
  EXPECT_EQ(target->data, block);
  EXPECT_EQ(target.bytes(), Wide("b"));
  EXPECT_TRUE(target.terminated());
}

TEST(StreamConvert, IntoItself) {
  Stream s(TWSTREAMFMT_NATIVE, "caf\xC3\xA9");
  ASSERT_EQ(TWStreamDataConvert(s.get(), s.get(), 0, TWSTREAMFMT_UNICODE, nullptr, nullptr), 0u);
  EXPECT_EQ(s.bytes(), Bytes("c\0a\0f\0\xE9\0", 8));
  EXPECT_EQ(s->format, TWSTREAMFMT_UNICODE);
  ASSERT_EQ(TWStreamDataConvert(s.get(), s.get(), 0, TWSTREAMFMT_CP1252, nullptr, nullptr), 0u);
  EXPECT_EQ(s.bytes(), "caf\xE9");
}

TEST(StreamConvert, BinaryAndTextForms) {
  struct Case {
    uint32_t from;
    Bytes bytes;
    uint32_t to;
    uint32_t flags;
    uint32_t status;
    Bytes result;
  } cases[] = {
      {TWSTREAMFMT_BLOB, Bytes("\x00\x1F\xAB", 3), TWSTREAMFMT_NATIVE, 0, 0, "001FAB"},
      {TWSTREAMFMT_BLOB, "\x01\xFF", TWSTREAMFMT_UNICODE, 0, 0, Wide("01FF")},
      {TWSTREAMFMT_BLOB, "hi", TWSTREAMFMT_NATIVE, TWCONVERTF_FORCE_TEXT, 0, "hi"},
      {TWSTREAMFMT_BLOB, "hi", TWSTREAMFMT_UNICODE, TWCONVERTF_FORCE_TEXT, 0, Wide("hi")},
      {TWSTREAMFMT_NATIVE, "\xC3\xA9", TWSTREAMFMT_BLOB, 0, 0, "\xC3\xA9"},
      {TWSTREAMFMT_CP1252, "\xE9", TWSTREAMFMT_BLOB, 0, 0, "\xE9"},
      {TWSTREAMFMT_BLOB, "ABCD", TWSTREAMFMT_BASE64, 0, 0, "QUJDRA=="},
      {TWSTREAMFMT_BLOB, "ABCDE", TWSTREAMFMT_BASE64, 0, 0, "QUJDREU="},
      {TWSTREAMFMT_BLOB, "", TWSTREAMFMT_BASE64, 0, 0, ""},
      {TWSTREAMFMT_BASE64, "QUJD REU=\r\n", TWSTREAMFMT_BLOB, 0, 0, "ABCDE"},
      {TWSTREAMFMT_BASE64, "QUJDRA", TWSTREAMFMT_BLOB, 0, 0, "ABCD"},
      {TWSTREAMFMT_BASE64, "QUJDRA==", TWSTREAMFMT_UNICODE, 0, 0, Wide("QUJDRA==")},
      {TWSTREAMFMT_BASE64, "QU*D", TWSTREAMFMT_BLOB, 0, TWFAIL_TEXT_TRANSLATE, ""},
      {TWSTREAMFMT_BASE64, "QUJDR", TWSTREAMFMT_BLOB, 0, TWFAIL_TEXT_TRANSLATE, ""},
      {TWSTREAMFMT_BASE64, "QQ==QQ==", TWSTREAMFMT_BLOB, 0, TWFAIL_TEXT_TRANSLATE, ""},
      {TWSTREAMFMT_NATIVE, "abc", TWSTREAMFMT_BASE64, 0, TWFAIL_INVALID_CONVERT, ""},
      {kOtherBinary, "abc", TWSTREAMFMT_NATIVE, 0, TWFAIL_INVALID_CONVERT, ""},
      {kOtherBinary, "abc", kOtherBinary, 0, 0, "abc"},
      {kOtherBinary, "abc", TWSTREAMFMT_BLOB, 0, 0, "abc"},
      {TWSTREAMFMT_NATIVE, "abc", kOtherBinary, 0, TWFAIL_INVALID_CONVERT, ""},
      {TWSTREAMFMT_BLOB, "abc", TWSTREAMFMT_COMPOSITE, 0, TWFAIL_INVALID_CONVERT, ""},
      {TWSTREAMFMT_NUMBER_LIST, Bytes(4, '\0'), TWSTREAMFMT_TEXT_LIST, 0, TWFAIL_INVALID_CONVERT,
       ""},
      {TWSTREAMFMT_NATIVE, "abc", TWSTREAMFMT_NATIVE, 0x8, TWFAIL_INVALID_FLAGS, ""},
  };
  for (const Case& c : cases) {
    Bytes out = "untouched";
    EXPECT_EQ(ConvertText(c.from, c.bytes, c.to, &out, c.flags), c.status)
        << c.from << " -> " << c.to << " " << c.bytes;
    EXPECT_EQ(out, c.status ? "untouched" : c.result) << c.from << " -> " << c.to;
  }
}

TEST(StreamConvert, ClearedSourceIsEmptyText) {
  Stream cleared;
  Bytes out;
  EXPECT_EQ(ConvertText(TWSTREAMFMT_NATIVE, "", TWSTREAMFMT_TEXT_LIST, &out), 0u);
  EXPECT_EQ(out, Bytes(2, '\0'));
  Stream target;
  ASSERT_EQ(
      TWStreamDataConvert(target.get(), cleared.get(), 0, TWSTREAMFMT_TEXT_LIST, nullptr, nullptr),
      0u);
  EXPECT_EQ(target.bytes(), Bytes(2, '\0'));
  ASSERT_EQ(TWStreamDataConvert(target.get(), cleared.get(), 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(target->length, 0u);
  EXPECT_EQ(target->format, 0u);
}

TEST(StreamCompare, OrdersByCharacterAcrossSets) {
  constexpr uint32_t N = TWSTREAMFMT_NATIVE;
  constexpr uint32_t W = TWSTREAMFMT_UNICODE;
  constexpr uint32_t B = TWSTREAMFMT_BLOB;
  struct Case {
    uint32_t fa;
    Bytes a;
    uint32_t fb;
    Bytes b;
    uint32_t flags;
    int expected;
  } cases[] = {
      {N, "abc", N, "abd", 0, -1},
      {N, "abc", N, "ab", 0, 1},
      {N, "abc", N, "abc", 0, 0},
      {N, "", N, "", 0, 0},
      {N, "caf\xC3\xA9", TWSTREAMFMT_CP1252, "caf\xE9", 0, 0},
      // U+0100 sorts after 'A' although its first little-endian byte is smaller.
      {W, Bytes("\x00\x01", 2), W, Bytes("A\0", 2), 0, 1},
      {W, Wide("abc"), N, "abc", 0, 0},
      {N, "ABC", N, "abc", 0, -1},
      {N, "ABC", N, "abc", TWSTREAMF_NO_CASE, 0},
      {N,
       "\xC3\x89"
       "COLE",
       N,
       "\xC3\xA9"
       "cole",
       TWSTREAMF_NO_CASE, 0},
      {N, "\xD0\x9C\xD0\x98\xD0\xA0", N, "\xD0\xBC\xD0\xB8\xD1\x80", TWSTREAMF_NO_CASE, 0},
      {N, "ABC", N, "abd", TWSTREAMF_NO_CASE, -1},
      {B, "\x01\x02", B, "\x01\x03", 0, -1},
      {B, "\x01\x02", B, "\x01", 0, 1},
      {B, "AB", B, "ab", TWSTREAMF_NO_CASE, -1},
  };
  for (const Case& c : cases) {
    Stream a(c.fa, c.a), b(c.fb, c.b);
    ASSERT_EQ(TWStreamDataSetFlags(a.get(), c.flags), 0u);
    int32_t result = 99;
    ASSERT_EQ(TWStreamDataCompare(a.get(), b.get(), &result), TWSUCCESS) << c.a << " " << c.b;
    EXPECT_EQ(result < 0 ? -1 : result > 0 ? 1 : 0, c.expected) << c.a << " vs " << c.b;
    ASSERT_EQ(TWStreamDataCompare(b.get(), a.get(), &result), TWSUCCESS);
    EXPECT_EQ(result < 0 ? -1 : result > 0 ? 1 : 0, -c.expected) << c.b << " vs " << c.a;
  }
  Stream bad(TWSTREAMFMT_CP1252, "\x81"), good(N, "a");
  int32_t result = 99;
  EXPECT_EQ(TWStreamDataCompare(bad.get(), good.get(), &result), TWFAIL_TEXT_TRANSLATE);
  EXPECT_EQ(result, 99);
}

TEST(StreamBytes, ExtractAndFetch) {
  Stream source(TWSTREAMFMT_CP1252, "abcdef");
  struct Case {
    uint32_t offset, length, status;
    Bytes result;
  } cases[] = {
      {1, 3, 0, "abc"},
      {4, 100, 0, "def"},
      {6, 1, 0, "f"},
      {7, 5, 0, ""},
      {0, 1, TWFAIL_ZERO_OFFSET, ""},
      {8, 1, TWFAIL_INVALID_INDEX, ""},
  };
  for (const Case& c : cases) {
    Stream target(TWSTREAMFMT_NATIVE, "old");
    EXPECT_EQ(TWStreamDataExtract(target.get(), source.get(), c.offset, c.length), c.status)
        << c.offset;
    EXPECT_EQ(target.bytes(), c.status ? "old" : c.result) << c.offset;
    if (c.status == TWSUCCESS) {
      EXPECT_EQ(target->format, TWSTREAMFMT_CP1252);
    }
  }
  ASSERT_EQ(TWStreamDataExtract(source.get(), source.get(), 3, 2), 0u);
  EXPECT_EQ(source.bytes(), "cd");

  // Reading in pieces until the end.
  Stream text(TWSTREAMFMT_NATIVE, "0123456");
  std::string read;
  void* data;
  uint32_t length;
  uint32_t offset = 1, st;
  while ((st = TWStreamDataFetch(text.get(), offset, 3, &data, &length)) == TWSUCCESS) {
    read.append(static_cast<char*>(data), length);
    offset += length;
  }
  EXPECT_EQ(st, TWFAIL_END_OF_DATA);
  EXPECT_EQ(read, "0123456");
  EXPECT_EQ(TWStreamDataFetch(text.get(), 0, 3, &data, &length), TWFAIL_ZERO_OFFSET);
}

TEST(StreamBytes, Merge) {
  struct Case {
    uint32_t f1;
    Bytes s1;
    uint32_t offset;
    uint32_t f2;
    Bytes s2;
    uint32_t status;
    Bytes result;
  } cases[] = {
      {TWSTREAMFMT_NATIVE, "abc", 1, TWSTREAMFMT_NATIVE, "XY", 0, "XYabc"},
      {TWSTREAMFMT_NATIVE, "abc", 2, TWSTREAMFMT_NATIVE, "XY", 0, "aXYbc"},
      {TWSTREAMFMT_NATIVE, "abc", 4, TWSTREAMFMT_NATIVE, "XY", 0, "abcXY"},
      {TWSTREAMFMT_NATIVE, "ab", 2, TWSTREAMFMT_CP1252, "\xE9", 0,
       "a\xC3\xA9"
       "b"},
      {TWSTREAMFMT_UNICODE, Wide("ab"), 3, TWSTREAMFMT_NATIVE, "c", 0, Wide("acb")},
      {TWSTREAMFMT_BLOB, "ab", 2, TWSTREAMFMT_NATIVE, "c", 0, "acb"},
      {TWSTREAMFMT_NATIVE, "abc", 0, TWSTREAMFMT_NATIVE, "X", TWFAIL_ZERO_OFFSET, ""},
      {TWSTREAMFMT_NATIVE, "abc", 5, TWSTREAMFMT_NATIVE, "X", TWFAIL_INVALID_INDEX, ""},
      {TWSTREAMFMT_BLOB, "ab", 1, TWSTREAMFMT_TEXT_LIST, Bytes(2, '\0'), TWFAIL_INVALID_CONVERT,
       ""},
      {TWSTREAMFMT_ASCII, "ab", 1, TWSTREAMFMT_NATIVE, "\xC3\xA9", TWFAIL_TEXT_TRANSLATE, ""},
  };
  for (const Case& c : cases) {
    Stream s1(c.f1, c.s1), s2(c.f2, c.s2), target(TWSTREAMFMT_NATIVE, "old");
    EXPECT_EQ(TWStreamDataMerge(target.get(), s1.get(), c.offset, s2.get()), c.status)
        << c.s1 << " " << c.offset;
    EXPECT_EQ(target.bytes(), c.status ? "old" : c.result) << c.s1 << " " << c.offset;
    if (c.status == TWSUCCESS) {
      EXPECT_EQ(target->format, c.f1);
    }
  }
  Stream s(TWSTREAMFMT_NATIVE, "ad"), mid(TWSTREAMFMT_NATIVE, "bc");
  ASSERT_EQ(TWStreamDataMerge(s.get(), s.get(), 2, mid.get()), 0u);
  EXPECT_EQ(s.bytes(), "abcd");
}

TEST(StreamBytes, TrimDropsTrailingBlanksOfText) {
  struct Case {
    uint32_t format;
    Bytes value, trimmed;
  } cases[] = {
      {TWSTREAMFMT_NATIVE, Bytes("ab  \0\0 ", 7), "ab"},
      {TWSTREAMFMT_NATIVE, " a b ", " a b"},
      {TWSTREAMFMT_NATIVE, "   ", ""},
      {TWSTREAMFMT_UNICODE, Bytes("a\0 \0\0\0", 6), Bytes("a\0", 2)},
      {TWSTREAMFMT_UNICODE, Bytes("a\0\0 ", 4), Bytes("a\0\0 ", 4)},
      {TWSTREAMFMT_CP37, "\xC1\x40\x40", "\xC1"},
      {TWSTREAMFMT_BLOB, "a  ", "a  "},
      {TWSTREAMFMT_TEXT_LIST, Bytes("\x01\x00\x01\x00 ", 5), Bytes("\x01\x00\x01\x00 ", 5)},
  };
  for (const Case& c : cases) {
    Stream s(c.format, c.value);
    ASSERT_EQ(TWStreamDataTrim(s.get()), TWSUCCESS);
    EXPECT_EQ(s.bytes(), c.trimmed) << c.format;
    EXPECT_TRUE(s.terminated());
  }
}

TEST(StreamFlags, SetFlagsChecksBits) {
  Stream s;
  EXPECT_EQ(TWStreamDataSetFlags(s.get(), TWSTREAMF_FIXED), TWFAIL_FIXED_LENGTH);
  EXPECT_EQ(TWStreamDataSetFlags(s.get(), 0x100), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWStreamDataSetFlags(s.get(), TWSTREAMF_NO_CASE | TWSTREAMF_TRUNCATE), TWSUCCESS);
  EXPECT_EQ(TWStreamDataGetFlags(s.get()), uint32_t{TWSTREAMF_NO_CASE | TWSTREAMF_TRUNCATE});
}

// ---------------------------------------------------------------- composite

Bytes TextRun(const Bytes& text) {
  size_t length = 8 + text.size();
  Bytes r =
      Bytes("\x85\xFF", 2) + twtest::U16(static_cast<uint16_t>(length)) + Bytes(4, '\0') + text;
  if (length & 1) r.push_back('\0');
  return r;
}

const Bytes kParagraph("\x81\x02", 2);

TEST(Composite, TextBecomesRunsAndParagraphs) {
  struct Case {
    Bytes text, composite;
  } cases[] = {
      {"", TextRun("")},
      {"ab", TextRun("ab")},
      {"abc", TextRun("abc")},
      {"ab\ncd", TextRun("ab") + kParagraph + TextRun("cd")},
      {"ab\r\n\ncd", TextRun("ab") + kParagraph + TextRun("") + kParagraph + TextRun("cd")},
  };
  for (const Case& c : cases) {
    Bytes out;
    ASSERT_EQ(ConvertText(TWSTREAMFMT_NATIVE, c.text, TWSTREAMFMT_COMPOSITE, &out), 0u);
    EXPECT_EQ(out, c.composite) << c.text;
  }
  Bytes out;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_UNICODE, Wide("x\ny"), TWSTREAMFMT_COMPOSITE, &out), 0u);
  EXPECT_EQ(out, TextRun("x") + kParagraph + TextRun("y"));
}

TEST(Composite, ReadsTextSkippingOtherRecords) {
  Bytes other = Bytes("\x90\x05", 2) + Bytes("abc", 3) + Bytes(1, '\0');  // odd: padded
  Bytes wide = Bytes("\x85\x00", 2) + twtest::U32(13) + Bytes(4, '\0') + "six" + Bytes(1, '\0');
  Bytes composite = TextRun("one") + other + kParagraph + wide + kParagraph + TextRun("\xC3\xA9");
  Bytes out;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_COMPOSITE, composite, TWSTREAMFMT_NATIVE, &out), 0u);
  EXPECT_EQ(out, "one\nsix\n\xC3\xA9");
  ASSERT_EQ(ConvertText(TWSTREAMFMT_COMPOSITE, composite, TWSTREAMFMT_CP1252, &out), 0u);
  EXPECT_EQ(out, "one\nsix\n\xE9");

  // Every cut inside a record breaks the walk; a cut between records is a shorter value.
  std::vector<size_t> boundaries = {0};
  for (const Bytes& r : {TextRun("one"), other, kParagraph, wide, kParagraph, TextRun("\xC3\xA9")})
    boundaries.push_back(boundaries.back() + r.size());
  for (size_t cut = 0; cut < composite.size(); ++cut) {
    bool atBoundary = std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
    EXPECT_EQ(
        ConvertText(TWSTREAMFMT_COMPOSITE, composite.substr(0, cut), TWSTREAMFMT_NATIVE, &out),
        atBoundary ? TWSUCCESS : TWFAIL_INVALID_STREAM)
        << cut;
  }
  // Lengths that would stall or overrun the walk.
  for (const Bytes& bad : {Bytes("\x85\xFF\x00\x00", 4), Bytes("\x85\x00\x00\x00\x00\x00", 6),
                           Bytes("\x85\x03\x00\x00", 4), Bytes("\x85\xFF\x06\x00\x00\x00", 6)})
    EXPECT_EQ(ConvertText(TWSTREAMFMT_COMPOSITE, bad, TWSTREAMFMT_NATIVE, &out),
              TWFAIL_INVALID_STREAM);
}

TEST(Composite, LongRunUsesTheWideHeader) {
  const std::string text(70000, 'w');
  Bytes composite;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_NATIVE, text, TWSTREAMFMT_COMPOSITE, &composite), 0u);
  ASSERT_EQ(composite.size(), 6 + 4 + text.size());
  EXPECT_EQ(composite.substr(0, 6), Bytes("\x85\x00", 2) + twtest::U32(70010));
  Bytes back;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_COMPOSITE, composite, TWSTREAMFMT_NATIVE, &back), 0u);
  EXPECT_EQ(back, text);
}

TEST(System, InitAndTermMayRepeat) {
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
  EXPECT_EQ(TWSystemInit(), TWSUCCESS);
  EXPECT_EQ(TWSystemInit(), TWSUCCESS);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

}  // namespace
