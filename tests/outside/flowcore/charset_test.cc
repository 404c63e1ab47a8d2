// Tests of text conversion between character sets: which sets exist, characters that a set
// holds or lacks, invalid source text, stateful sets, cutting converted text to a capacity,
// and conversions on several threads at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "flowcore.h"
#include "stream_test_util.h"

namespace {

using twtest::Bytes;
using twtest::ConvertText;
using twtest::Stream;

constexpr uint32_t N = TWSTREAMFMT_NATIVE;

TEST(Charset, CharactersThatASetHoldsOrLacks) {
  struct Case {
    uint32_t from;
    Bytes text;
    uint32_t to;
    uint32_t status;
    Bytes result;
  } cases[] = {
      {N, "\xC3\xA9", TWSTREAMFMT_CP1252, 0, "\xE9"},
      {N, "\xC3\xA9", TWSTREAMFMT_ASCII, TWFAIL_TEXT_TRANSLATE, ""},
      {N, "plain", TWSTREAMFMT_ASCII, 0, "plain"},
      {N, "\xE2\x82\xAC", TWSTREAMFMT_ISO88591, TWFAIL_TEXT_TRANSLATE, ""},
      {N, "\xE2\x82\xAC", TWSTREAMFMT_CP1252, 0, "\x80"},
      {N, "\xE2\x82\xAC", TWSTREAMFMT_ANSI, 0, "\x80"},
      {TWSTREAMFMT_CP1252, "\x80", N, 0, "\xE2\x82\xAC"},
      {N, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", TWSTREAMFMT_CP866, 0,
       "\x8F\xE0\xA8\xA2\xA5\xE2"},
      {TWSTREAMFMT_CP866, "\x8F\xE0\xA8\xA2\xA5\xE2", N, 0,
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {N, "\xD0\x9F", TWSTREAMFMT_CP1252, TWFAIL_TEXT_TRANSLATE, ""},
      {N, "\xC3\xA9", TWSTREAMFMT_UNICODE, 0, Bytes("\xE9\x00", 2)},
      {N, "\xF0\x9F\x98\x80", TWSTREAMFMT_UNICODE, 0, Bytes("\x3D\xD8\x00\xDE", 4)},
      {TWSTREAMFMT_UNICODE, Bytes("\x3D\xD8\x00\xDE", 4), TWSTREAMFMT_UTF8, 0, "\xF0\x9F\x98\x80"},
      {N, "A", TWSTREAMFMT_CP37, 0, "\xC1"},
      {TWSTREAMFMT_ISO88591, "\xE9", TWSTREAMFMT_CP1252, 0, "\xE9"},
      {TWSTREAMFMT_ISO88591, "\x80", TWSTREAMFMT_CP1252, TWFAIL_TEXT_TRANSLATE, ""},
      {N, "\xE6\x97\xA5\xE6\x9C\xAC", TWSTREAMFMT_CP932, 0, "\x93\xFA\x96\x7B"},
      {N, "\xE6\x97\xA5\xE6\x9C\xAC", TWSTREAMFMT_EUCJ, 0, "\xC6\xFC\xCB\xDC"},
      {N, "\xC3\xA9", TWSTREAMFMT_UTF7, 0, "+AOk-"},
      // A stateful set closes its shift sequence.
      {N, "\xE6\x97\xA5", TWSTREAMFMT_JIS, 0, "\x1B$BF|\x1B(B"},
  };
  for (const Case& c : cases) {
    Bytes out = "untouched";
    EXPECT_EQ(ConvertText(c.from, c.text, c.to, &out), c.status) << c.from << "->" << c.to;
    EXPECT_EQ(out, c.status ? "untouched" : c.result) << c.from << "->" << c.to;
  }
}

TEST(Charset, InvalidSourceTextIsRefused) {
  struct Case {
    uint32_t from;
    Bytes text;
    uint32_t to;
  } cases[] = {
      {N, "\xC3\x28", TWSTREAMFMT_CP1252},  {N, "a\xC3", TWSTREAMFMT_UNICODE},
      {N, "\xC0\xAF", TWSTREAMFMT_UNICODE}, {N, "\xED\xA0\x80", TWSTREAMFMT_UNICODE},
      {TWSTREAMFMT_UNICODE, "\x3D\xD8", N}, {TWSTREAMFMT_UNICODE, Bytes("a\0b", 3), N},
      {TWSTREAMFMT_CP1252, "\x81", N},      {TWSTREAMFMT_ASCII, "\xE9", N},
      {TWSTREAMFMT_EUCJ, "\xC6", N},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_EQ(ConvertText(c.from, c.text, c.to, &out), TWFAIL_TEXT_TRANSLATE) << c.text;
  }
  // Between the UTF-8 formats the bytes pass as they are.
  Bytes out;
  EXPECT_EQ(ConvertText(N, "\xC3\x28", TWSTREAMFMT_QMBCS, &out), TWSUCCESS);
  EXPECT_EQ(out, "\xC3\x28");
}

TEST(Charset, EverySupportedSetRoundTrips) {
  const uint32_t formats[] = {
      TWSTREAMFMT_NATIVE,
      TWSTREAMFMT_QMBCS,
      TWSTREAMFMT_UTF8,
      TWSTREAMFMT_UNICODE,
      TWSTREAMFMT_UTF7,
      TWSTREAMFMT_CP851,
      TWSTREAMFMT_CP852,
      TWSTREAMFMT_CP857,
      TWSTREAMFMT_CP862,
      TWSTREAMFMT_CP864,
      TWSTREAMFMT_CP866,
      TWSTREAMFMT_CP437,
      TWSTREAMFMT_CP850,
      TWSTREAMFMT_CP855,
      TWSTREAMFMT_CP860,
      TWSTREAMFMT_CP861,
      TWSTREAMFMT_CP863,
      TWSTREAMFMT_CP865,
      TWSTREAMFMT_CP869,
      TWSTREAMFMT_CP874,
      TWSTREAMFMT_CP932,
      TWSTREAMFMT_CP891,
      TWSTREAMFMT_DECMCS,
      TWSTREAMFMT_EUC,
      TWSTREAMFMT_CP949,
      TWSTREAMFMT_CP950,
      TWSTREAMFMT_CP936,
      TWSTREAMFMT_NECESJIS,
      TWSTREAMFMT_ASCII,
      TWSTREAMFMT_ISO88591,
      TWSTREAMFMT_ISO88592,
      TWSTREAMFMT_ISO88593,
      TWSTREAMFMT_ISO88594,
      TWSTREAMFMT_ISO88595,
      TWSTREAMFMT_ISO88596,
      TWSTREAMFMT_ISO88597,
      TWSTREAMFMT_ISO88598,
      TWSTREAMFMT_ISO88599,
      TWSTREAMFMT_HPROMAN,
      TWSTREAMFMT_HPGREEK,
      TWSTREAMFMT_HPTURKISH,
      TWSTREAMFMT_HPTHAI,
      TWSTREAMFMT_CP37,
      TWSTREAMFMT_CP273,
      TWSTREAMFMT_CP278,
      TWSTREAMFMT_CP280,
      TWSTREAMFMT_CP284,
      TWSTREAMFMT_CP285,
      TWSTREAMFMT_CP290,
      TWSTREAMFMT_CP297,
      TWSTREAMFMT_CP500,
      TWSTREAMFMT_CP930,
      TWSTREAMFMT_CP939,
      TWSTREAMFMT_CP277,
      TWSTREAMFMT_CP1250,
      TWSTREAMFMT_CP1251,
      TWSTREAMFMT_CP1252,
      TWSTREAMFMT_CP1253,
      TWSTREAMFMT_CP1254,
      TWSTREAMFMT_CP1255,
      TWSTREAMFMT_CP1256,
      TWSTREAMFMT_CP1257,
      TWSTREAMFMT_MACSCRIPT0,
      TWSTREAMFMT_MACSCRIPT29,
      TWSTREAMFMT_MACSCRIPT0ICELANDIC,
      TWSTREAMFMT_DECNRCUK,
      TWSTREAMFMT_DECNRCFINNISH,
      TWSTREAMFMT_DECNRCFRENCH,
      TWSTREAMFMT_DECNRCFRENCHCANADIAN,
      TWSTREAMFMT_DECNRCGERMAN,
      TWSTREAMFMT_DECNRCITALIAN,
      TWSTREAMFMT_DECNRCNORWEGIANDANISH,
      TWSTREAMFMT_DECNRCPORTUGUESE,
      TWSTREAMFMT_DECNRCSPANISH,
      TWSTREAMFMT_DECNRCSWEDISH,
      TWSTREAMFMT_T61,
      TWSTREAMFMT_T50,
      TWSTREAMFMT_CP856,
      TWSTREAMFMT_CP1004,
      TWSTREAMFMT_CP1025,
      TWSTREAMFMT_CP1026,
      TWSTREAMFMT_CP256,
      TWSTREAMFMT_CP274,
      TWSTREAMFMT_CP275,
      TWSTREAMFMT_CP281,
      TWSTREAMFMT_CP423,
      TWSTREAMFMT_CP424,
      TWSTREAMFMT_CP803,
      TWSTREAMFMT_CP870,
      TWSTREAMFMT_CP871,
      TWSTREAMFMT_CP875,
      TWSTREAMFMT_CP880,
      TWSTREAMFMT_CP905,
      TWSTREAMFMT_CP937,
      TWSTREAMFMT_CP935,
      TWSTREAMFMT_JIS,
      TWSTREAMFMT_CP737,
      TWSTREAMFMT_CP775,
      TWSTREAMFMT_ISO6937,
      TWSTREAMFMT_EUCJ,
      TWSTREAMFMT_EUCT,
      TWSTREAMFMT_EUCK,
      TWSTREAMFMT_EUCC,
  };
  const Bytes text = "AZ09 ";
  for (uint32_t format : formats) {
    Bytes there, back;
    ASSERT_EQ(ConvertText(N, text, format, &there), TWSUCCESS) << format;
    ASSERT_EQ(ConvertText(format, there, TWSTREAMFMT_UNICODE, &back), TWSUCCESS) << format;
    EXPECT_EQ(back, twtest::Wide(text)) << format;
  }
}

TEST(Charset, SetsWithoutAConverter) {
  const uint32_t formats[] = {
      TWSTREAMFMT_CP853,      TWSTREAMFMT_CP899,
      TWSTREAMFMT_TCA,        TWSTREAMFMT_HPHEBREW,
      TWSTREAMFMT_HPJAPAN,    TWSTREAMFMT_CP931,
      TWSTREAMFMT_MACSCRIPT8, TWSTREAMFMT_DECNRCSWISS,
      TWSTREAMFMT_ASN1,       TWSTREAMFMT_CP1002,
      TWSTREAMFMT_CP382,      TWSTREAMFMT_EACC,
      TWSTREAMFMT_JIS2,       0x1234,
  };
  for (uint32_t format : formats) {
    Bytes out;
    EXPECT_EQ(ConvertText(N, "A", format, &out), TWFAIL_INVALID_CONVERT) << format;
    EXPECT_EQ(ConvertText(format, "A", TWSTREAMFMT_UNICODE, &out), TWFAIL_INVALID_CONVERT)
        << format;
    // Its own bytes can still be kept, copied and compared.
    ASSERT_EQ(ConvertText(format, "A", format, &out), TWSUCCESS) << format;
    EXPECT_EQ(out, "A");
    Stream a(format, "A"), b(format, "B");
    int32_t result = 0;
    ASSERT_EQ(TWStreamDataCompare(a.get(), b.get(), &result), TWSUCCESS);
    EXPECT_LT(result, 0);
  }
}

TEST(Charset, UnicodeRoundTrip) {
  const Bytes text =
      "plain \xC3\xA9\xC3\xA8 \xE2\x82\xAC \xD0\x9F\xD1\x80 \xE6\x97\xA5\xE6\x9C\xAC "
      "\xF0\x9F\x98\x80 end";
  Bytes wide, back;
  ASSERT_EQ(ConvertText(N, text, TWSTREAMFMT_UNICODE, &wide), TWSUCCESS);
  EXPECT_EQ(wide.size(), 2u * 23u);
  ASSERT_EQ(ConvertText(TWSTREAMFMT_UNICODE, wide, TWSTREAMFMT_QMBCS, &back), TWSUCCESS);
  EXPECT_EQ(back, text);
}

TEST(Charset, ConvertedTextIsCutOnACharacterBoundary) {
  struct Case {
    Bytes text;
    uint32_t to;
    uint32_t maxLength;
    Bytes kept;
  } cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC", TWSTREAMFMT_UNICODE, 5, Bytes("a\0\xE9\0", 4)},
      {"a\xF0\x9F\x98\x80", TWSTREAMFMT_UNICODE, 5, Bytes("a\0", 2)},
      {"a\xE6\x97\xA5\xE6\x9C\xAC", TWSTREAMFMT_CP932, 4, "a\x93\xFA"},
      {"\xC3\xA9\xC3\xA9", TWSTREAMFMT_CP1252, 1, "\xE9"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", TWSTREAMFMT_UTF8, 5, "\xE6\x97\xA5"},
  };
  for (const Case& c : cases) {
    Stream src(N, c.text), cut, strict;
    ASSERT_EQ(TWStreamCreate(cut.get(), c.maxLength, TWSTREAMF_TRUNCATE, N), 0u);
    ASSERT_EQ(TWStreamCreate(strict.get(), c.maxLength, 0, N), 0u);
    EXPECT_EQ(
        TWStreamDataConvert(cut.get(), src.get(), TWCONVERTF_PRESERVE, c.to, nullptr, nullptr),
        TWSUCCESS);
    EXPECT_EQ(cut.bytes(), c.kept) << c.to;
    EXPECT_EQ(
        TWStreamDataConvert(strict.get(), src.get(), TWCONVERTF_PRESERVE, c.to, nullptr, nullptr),
        TWFAIL_OVERFLOW);
    EXPECT_EQ(strict->data, nullptr);
  }
}

TEST(Charset, StatefulSetStartsEachValueAfresh) {
  Bytes first, second;
  ASSERT_EQ(ConvertText(N, "\xE6\x97\xA5", TWSTREAMFMT_JIS, &first), TWSUCCESS);
  ASSERT_EQ(ConvertText(N, "A", TWSTREAMFMT_JIS, &second), TWSUCCESS);
  EXPECT_EQ(second, "A");
  // A failed conversion must not leave the shared descriptor in the middle of a sequence.
  Bytes out;
  ASSERT_EQ(ConvertText(TWSTREAMFMT_EUCJ, "\xC6", N, &out), TWFAIL_TEXT_TRANSLATE);
  ASSERT_EQ(ConvertText(TWSTREAMFMT_EUCJ, "\xCB\xDC", N, &out), TWSUCCESS);
  EXPECT_EQ(out, "\xE6\x9C\xAC");
}

TEST(Charset, ThreadsConvertAtTheSameTime) {
  struct Job {
    uint32_t format;
    Bytes expected;
  };
  const Job jobs[] = {
      {TWSTREAMFMT_CP1252, "caf\xE9 \x80"},
      {TWSTREAMFMT_UNICODE, Bytes("c\0a\0f\0\xE9\0 \0\xAC\x20", 12)},
      {TWSTREAMFMT_ISO88591, ""},
      {TWSTREAMFMT_CP37, ""},
  };
  const Bytes text = "caf\xC3\xA9 \xE2\x82\xAC";
  std::vector<int> failures(std::size(jobs), 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < std::size(jobs); ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 500; ++round) {
        Bytes out;
        uint32_t st = ConvertText(N, text, jobs[i].format, &out);
        // Neither Latin-1 nor code page 37 holds the euro sign.
        bool ok = jobs[i].expected.empty() ? st == TWFAIL_TEXT_TRANSLATE
                                           : st == TWSUCCESS && out == jobs[i].expected;
        if (!ok) ++failures[i];
      }
    });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < std::size(jobs); ++i) EXPECT_EQ(failures[i], 0) << jobs[i].format;
}

}  // namespace
