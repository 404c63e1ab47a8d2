// The control store's field records: encoding fields, decoding descriptions (round trips,
// exact bytes, every truncation, malformed records, unaligned data) and the text-list layout
// of RunActivity.
#include "csmgr_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "csmgr_wire.h"
#include "field_test_util.h"
#include "flowcore.h"
#include "plat_test_util.h"

namespace {

using tw::engine::AppendEndRecord;
using tw::engine::DecodeDescription;
using tw::engine::Description;
using tw::engine::EncodeProperty;
using tw::engine::EncodeTextList;
using tw::engine::MeasureRecords;
using twtest::Field;
using twtest::Stream;
using twtest::TextList;
using twtest::TextOf;

constexpr uint32_t kUnreadable = 1545;

std::string U16(uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string U32(uint32_t v) {
  return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}
std::string Head(uint32_t kind, uint32_t format, uint32_t token, uint32_t length) {
  return U32(kind) + U32(format) + U32(token) + U32(length);
}
std::string End() {
  return std::string(tw::csmgr::record::kEndSize, '\0');
}

// A field of type holding one value given as text (TWFieldSetStream parses it).
void SetText(TWFIELD f, const std::string& text, uint32_t format = TWSTREAMFMT_NATIVE) {
  Stream s(text, format);
  ASSERT_EQ(TWFieldSetStream(f, 1, s.get()), TWSUCCESS) << text;
}

std::string Encode(uint32_t token, TWFIELD f) {
  std::string records;
  EXPECT_EQ(EncodeProperty(token, f, &records), TWSUCCESS);
  return records;
}

TEST(CsmgrRecordsTest, EncodesEachFieldTypeAsItsRecord) {
  struct Case {
    const char* what;
    uint32_t type;
    std::string value;     // set as text
    uint32_t valueFormat;  // of that text
    std::string record;    // expected bytes
  };
  const std::string list = TextList({"Alpha", "Be"});
  const std::string rich = std::string("\x01\x00\x05\x00rich!", 9);
  const Case cases[] = {
      {"int", TWTYPE_INT, "-7", TWSTREAMFMT_NATIVE, Head(1, 0, 0x10005, 4) + U32(0xFFFFFFF9)},
      {"text", TWTYPE_TEXT, "Orders", TWSTREAMFMT_NATIVE,
       Head(6, 256, 0x10005, 7) + std::string("Orders\0", 7)},
      {"float as text", TWTYPE_FLOAT, "2.5", TWSTREAMFMT_NATIVE,
       Head(6, 256, 0x10005, 4) + std::string("2.5\0", 4)},
      {"currency as text", TWTYPE_CURRENCY, "12.34", TWSTREAMFMT_NATIVE,
       Head(6, 256, 0x10005, 8) + std::string("12.3400\0", 8)},
      {"numeric as text", TWTYPE_NUMERIC, "-0.125", TWSTREAMFMT_NATIVE,
       Head(6, 256, 0x10005, 7) + std::string("-0.125\0", 7)},
      {"text list", TWTYPE_BINARY, list, TWSTREAMFMT_TEXT_LIST,
       Head(7, 0x40000003, 0x10005, static_cast<uint32_t>(list.size() + 1)) + list +
           std::string(1, '\0')},
      {"rich text", TWTYPE_BINARY, rich, TWSTREAMFMT_COMPOSITE,
       Head(7, 0x40000002, 0x10005, static_cast<uint32_t>(rich.size() + 1)) + rich +
           std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Field f(c.type);
    SetText(f, c.value, c.valueFormat);
    EXPECT_EQ(Encode(0x10005, f), c.record);
  }
  Field when(TWTYPE_DATETIME);
  TWDatetime d{3600000, 2461101};
  ASSERT_EQ(TWFieldSetDatetime(when, 1, &d), TWSUCCESS);
  EXPECT_EQ(Encode(0x0103000F, when), Head(5, 0, 0x0103000F, 8) + U32(d.ticks) + U32(d.date));
}

TEST(CsmgrRecordsTest, EncodeRefusesWhatCannotBeARecordAndAppendsNothing) {
  Field empty(TWTYPE_TEXT);  // its value is null
  Field blob(TWTYPE_BINARY);
  SetText(blob, "\x01\x02", TWSTREAMFMT_BLOB);
  Field number(TWTYPE_INT);
  int32_t one = 1;
  ASSERT_EQ(TWFieldSetInt(number, 1, &one), TWSUCCESS);
  struct Case {
    const char* what;
    uint32_t token;
    TWFIELD field;
    uint32_t status;
  } cases[] = {
      {"null field", 5, TWNULLHANDLE, TWFAIL_INVALID_FIELD},
      {"null value", 5, empty, TWFAIL_MISSING_PROPERTY},
      {"token 0 would end the list", 0, number, TWFAIL_INVALID_PROPERTY},
      {"binary that is neither list nor rich text", 5, blob, TWFAIL_INVALID_TYPE},
  };
  for (const Case& c : cases) {
    std::string records = "kept";
    EXPECT_EQ(EncodeProperty(c.token, c.field, &records), c.status) << c.what;
    EXPECT_EQ(records, "kept") << c.what;
  }
  EXPECT_EQ(EncodeProperty(5, number, nullptr), TWFAIL_NULL_RESULT);
}

TEST(CsmgrRecordsTest, RoundTripGivesOneValueFieldsInRecordOrder) {
  Field n(TWTYPE_INT), t(TWTYPE_TEXT), c(TWTYPE_CURRENCY), l(TWTYPE_BINARY), r(TWTYPE_BINARY),
      d(TWTYPE_DATETIME);
  SetText(n, "2147483647");
  SetText(t, "Grüße");
  SetText(c, "-3.5");
  SetText(l, TextList({"x", "", "yz"}), TWSTREAMFMT_TEXT_LIST);
  SetText(r, std::string("\0\0\0", 3), TWSTREAMFMT_COMPOSITE);
  TWDatetime when{1234, 2460000};
  ASSERT_EQ(TWFieldSetDatetime(d, 1, &when), TWSUCCESS);
  std::string records = Encode(0x30001, t) + Encode(0x01030002, n) + Encode(0x800001, c) +
                        Encode(0xFF000007, l) + Encode(9, r) + Encode(10, d);
  AppendEndRecord(&records);

  Description out;
  ASSERT_EQ(DecodeDescription(records, &out), TWSUCCESS);
  ASSERT_EQ(out.size(), 6u);
  struct Expect {
    uint32_t token, type, format;  // format: of a binary value
    std::string text;              // the value read back as native text, when checked
  } expect[] = {
      {0x30001, TWTYPE_TEXT, 0, "Grüße"},
      {0x01030002, TWTYPE_INT, 0, "2147483647"},
      {0x800001, TWTYPE_TEXT, 0, "-3.5000"},
      {0xFF000007, TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST, ""},
      {9, TWTYPE_BINARY, TWSTREAMFMT_COMPOSITE, ""},
      {10, TWTYPE_DATETIME, 0, ""},
  };
  for (size_t i = 0; i < out.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(out[i].token, expect[i].token);
    TWFIELD f = out[i].value.get();
    EXPECT_EQ(TWFieldGetType(f), expect[i].type);
    EXPECT_EQ(TWFieldGetValueCount(f), 1u);
    if (!expect[i].text.empty()) {
      EXPECT_EQ(TextOf(f), expect[i].text);
    }
    if (expect[i].type == TWTYPE_BINARY) {
      void* buffer = nullptr;
      ASSERT_EQ(TWFieldGetBuffer(f, 1, &buffer, nullptr), TWSUCCESS);
      EXPECT_EQ(static_cast<const TWStream*>(buffer)->format, expect[i].format);
    }
  }
  void* buffer = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(out[3].value.get(), 1, &buffer, nullptr), TWSUCCESS);
  EXPECT_EQ(TWTextListGetCount(static_cast<const TWStream*>(buffer)), 3u);
  ASSERT_EQ(TWFieldGetBuffer(out[4].value.get(), 1, &buffer, nullptr), TWSUCCESS);
  EXPECT_EQ(static_cast<const TWStream*>(buffer)->length, 3u);
  TWDatetime back{};
  ASSERT_EQ(TWFieldGetDatetime(out[5].value.get(), 1, &back, nullptr), TWSUCCESS);
  EXPECT_EQ(back.ticks, when.ticks);
  EXPECT_EQ(back.date, when.date);
  // Re-encoding the decoded fields gives the same bytes.
  std::string again;
  for (const auto& p : out) ASSERT_EQ(EncodeProperty(p.token, p.value.get(), &again), TWSUCCESS);
  AppendEndRecord(&again);
  EXPECT_EQ(again, records);
}

TEST(CsmgrRecordsTest, DecodesAtAnUnalignedOffsetAndStopsAtTheEndRecord) {
  // The reply carries its records from byte 25; nothing may read them as aligned words.
  const std::string records = Head(1, 0, 0x10002, 4) + U32(42) + Head(6, 256, 0x30004, 3) +
                              std::string("ab\0", 3) + End() + "garbage after the end";
  std::string block(tw::csmgr::get_description::kList, 'x');
  block += records;
  Description out;
  ASSERT_EQ(
      DecodeDescription(std::string_view(block).substr(tw::csmgr::get_description::kList), &out),
      TWSUCCESS);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(TextOf(out[0].value.get()), "42");
  EXPECT_EQ(TextOf(out[1].value.get()), "ab");
  size_t length = 0;
  ASSERT_TRUE(MeasureRecords(records, &length));
  EXPECT_EQ(length, records.size() - std::strlen("garbage after the end"));
}

TEST(CsmgrRecordsTest, EveryTruncationIsRejected) {
  const std::string records = Head(1, 0, 0x10002, 4) + U32(42) + Head(6, 256, 0x30004, 6) +
                              std::string("hello\0", 6) + Head(7, 0x40000003, 3, 8) +
                              TextList({"abc"}) + std::string(1, '\0') + End();
  Description keep;
  keep.push_back({77, {}});
  for (size_t n = 0; n < records.size(); ++n) {
    SCOPED_TRACE(n);
    std::string cut = records.substr(0, n);
    EXPECT_EQ(DecodeDescription(cut, &keep), kUnreadable);
    size_t length = 0;
    EXPECT_FALSE(MeasureRecords(cut, &length));
  }
  ASSERT_EQ(keep.size(), 1u);
  EXPECT_EQ(keep[0].token, 77u);
  Description out;
  EXPECT_EQ(DecodeDescription(records, &out), TWSUCCESS);
  EXPECT_EQ(out.size(), 3u);
}

TEST(CsmgrRecordsTest, MalformedRecordsAreRejectedAndLeaveTheOutputAlone) {
  struct Case {
    const char* what;
    std::string record;
  } cases[] = {
      {"number of 3 bytes", Head(1, 0, 5, 3) + "abc"},
      {"number of 8 bytes", Head(1, 0, 5, 8) + U32(1) + U32(2)},
      {"datetime of 4 bytes", Head(5, 0, 5, 4) + U32(1)},
      {"text without its NUL", Head(6, 256, 5, 3) + "abc"},
      {"text of no bytes", Head(6, 256, 5, 0)},
      {"list without its extra byte", Head(7, 0x40000003, 5, 0)},
      {"text list whose entries run past", Head(7, 0x40000003, 5, 5) + U16(1) + U16(9) + "\0"},
      {"list of another format", Head(7, 0x40000001, 5, 2) + "a" + std::string(1, '\0')},
      {"unknown kind", Head(2, 0, 5, 4) + U32(1)},
      {"data length beyond everything", Head(1, 0, 5, 0xFFFFFFFF) + U32(1)},
  };
  for (const Case& c : cases) {
    Description out;
    out.push_back({77, {}});
    EXPECT_EQ(DecodeDescription(c.record + End(), &out), kUnreadable) << c.what;
    ASSERT_EQ(out.size(), 1u) << c.what;
    EXPECT_EQ(out[0].token, 77u) << c.what;
  }
  EXPECT_EQ(DecodeDescription(End(), nullptr), TWFAIL_NULL_RESULT);
  Description none;
  EXPECT_EQ(DecodeDescription(End(), &none), TWSUCCESS);
  EXPECT_TRUE(none.empty());
}

TEST(CsmgrRecordsTest, TextListLayoutForRunActivity) {
  const std::string two = TextList({"Nightly", "Hourly"});
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t format;
    uint32_t status;
    std::string wire;
  } cases[] = {
      {"a text list is copied without what follows it", two + "tail", TWSTREAMFMT_TEXT_LIST,
       TWSUCCESS, two},
      {"one native name", "Nightly", TWSTREAMFMT_NATIVE, TWSUCCESS, TextList({"Nightly"})},
      {"one two-byte name is converted", std::string("N\0\xE9\0", 4), TWSTREAMFMT_UNICODE,
       TWSUCCESS, TextList({"N\xC3\xA9"})},
      {"an empty name is an empty list", "", TWSTREAMFMT_NATIVE, TWSUCCESS, U16(0)},
      {"a list whose entries run past", U16(2) + U16(1) + U16(5) + "abc", TWSTREAMFMT_TEXT_LIST,
       TWFAIL_INVALID_TEXT_LIST, ""},
      {"a list without its count", "", TWSTREAMFMT_TEXT_LIST, TWFAIL_INVALID_TEXT_LIST, ""},
      {"a name too long for a list entry", std::string(70000, 'n'), TWSTREAMFMT_NATIVE,
       TWFAIL_OVERFLOW, ""},
  };
  for (const Case& c : cases) {
    Stream s(c.bytes, c.format);
    std::string wire = "kept";
    EXPECT_EQ(EncodeTextList(s.get(), &wire), c.status) << c.what;
    EXPECT_EQ(wire, c.status == TWSUCCESS ? c.wire : "kept") << c.what;
  }
  std::string wire;
  EXPECT_EQ(EncodeTextList(nullptr, &wire), TWFAIL_NULL_BUFFER);
}

}  // namespace
