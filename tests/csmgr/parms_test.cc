// GetDescription and PutDescription of the control store against real databases: fields
// gathered whole into field records, link names turned into ids, records stored back, and
// every truncated or lying record list refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "access_fixture.h"
#include "csmgr_wire.h"
#include "getparm.h"
#include "putparm.h"
#include "tw/coding.h"
#include "twconst.h"

namespace {

using csmgrtest::AccessTest;
using twtest::TextList;
using namespace tw::csmgr;

struct Record {
  uint32_t kind, format, token;
  std::string data;
};

// Decodes a record list from its first byte; fails the test on a malformed list.
std::vector<Record> Decode(std::string_view bytes, bool* ended) {
  std::vector<Record> out;
  *ended = false;
  size_t off = 0;
  while (bytes.size() - off >= record::kHeadSize) {
    Record r{tw::get_u32(bytes.data() + off),
             tw::get_u32(bytes.data() + off + 4),
             tw::get_u32(bytes.data() + off + 8),
             {}};
    const uint32_t len = tw::get_u32(bytes.data() + off + 12);
    if (r.token == 0) {
      *ended = bytes.size() - off >= record::kEndSize;
      return out;
    }
    if (len > bytes.size() - off - record::kHeadSize) {
      ADD_FAILURE() << "record runs past the block";
      return out;
    }
    r.data.assign(bytes.data() + off + record::kHeadSize, len);
    out.push_back(std::move(r));
    off += record::kHeadSize + len;
  }
  return out;
}

std::string Encode(const std::vector<Record>& records, bool withEnd = true) {
  std::string out;
  for (const Record& r : records) {
    char head[16];
    tw::put_u32(head, r.kind);
    tw::put_u32(head + 4, r.format);
    tw::put_u32(head + 8, r.token);
    tw::put_u32(head + 12, static_cast<uint32_t>(r.data.size()));
    out.append(head, 16);
    out += r.data;
  }
  if (withEnd) out.append(record::kEndSize, '\0');
  return out;
}

std::string NumberList(const std::vector<double>& values) {
  std::string out(4 + 8 * values.size(), '\0');
  tw::put_u16(out.data(), static_cast<uint16_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) std::memcpy(out.data() + 4 + 8 * i, &values[i], 8);
  return out;
}

std::string TextRecord(const std::string& text) {
  std::string r(8, '\0');
  r[0] = static_cast<char>(0x85);
  r[1] = static_cast<char>(0xFF);
  tw::put_u16(r.data() + 2, static_cast<uint16_t>(8 + text.size()));
  r += text;
  if (r.size() % 2) r += '\0';
  return r;
}

std::string I32(int32_t v) {
  std::string s(4, '\0');
  tw::put_i32(s.data(), v);
  return s;
}

constexpr uint32_t kSrcLink = 0x01030002, kDestLink = 0x02030002, kSrcOption = 0x01030003;

class Parms : public AccessTest {
 protected:
  void SetUp() override {
    AccessTest::SetUp();
    GVDOC link = NewDocument(S().adminDb, "Link\\Ordex", "Warehouse");
    linkId_ = IdOf(link);
    OrdexCloseDocument(&link, false);
    doc_ = NewDocument(S().adminDb, "Activity\\Command", "Nightly");
    SetLists({"Count", "Statement", "Blank", "When", "Names", "Notes", "SrcLink", "SrcOption",
              "DestLink", "Absent"},
             {1, 2, 3, 4, 5, 6, kSrcLink, kSrcOption, kDestLink, 9});
    ASSERT_TRUE(OrdexWriteNumber(doc_, "Count", 42));
    ASSERT_TRUE(OrdexWriteText(doc_, "Statement", " \t\r\n" + longText_));
    ASSERT_TRUE(OrdexWriteText(doc_, "Blank", "  \r\n\t "));
    GVTIMEPARTS parts{2026, 5, 1, 0, 6, 30, 0, 0, 0, 0};
    ASSERT_EQ(GVDatetimeCreate(&parts, &when_), 0u);
    ASSERT_TRUE(OrdexWriteDatetime(doc_, "When", when_));
    ASSERT_TRUE(OrdexWriteRaw(doc_, "Names", GVTYPE_TEXT_LIST, TextList({"a", "bc"})));
    ASSERT_TRUE(OrdexWriteRichPieces(doc_, "Notes", TextRecord("hello") + TextRecord("world")));
    ASSERT_TRUE(OrdexWriteText(doc_, "SrcLink", "Warehouse"));
    ASSERT_TRUE(OrdexWriteText(doc_, "SrcOption", "NoSuchOptions"));
    ASSERT_TRUE(OrdexWriteText(doc_, "DestLink", ""));
  }
  void TearDown() override {
    OrdexCloseDocument(&doc_, false);
    AccessTest::TearDown();
  }
  void SetLists(const std::vector<std::string>& names, const std::vector<double>& tokens) {
    ASSERT_TRUE(OrdexWriteRaw(doc_, "PropNameList", GVTYPE_TEXT_LIST, TextList(names)));
    ASSERT_TRUE(OrdexWriteRaw(doc_, "PropTokenList", GVTYPE_NUMBER_LIST, NumberList(tokens)));
  }
  // A GetDescription reply block as the client sends it: one step long.
  std::vector<uint8_t> Block() {
    std::vector<uint8_t> block(get_description::kClientLength, 0);
    tw::put_u32(block.data() + header::kCode, code::kGetDescription);
    tw::put_u32(block.data() + header::kLength, get_description::kClientLength);
    return block;
  }
  std::vector<Record> Gather(uint32_t* status, bool* ended, uint32_t* length = nullptr) {
    std::vector<uint8_t> block = Block();
    *status = CSMgrGetParms(doc_, block);
    const uint32_t len = tw::get_u32(block.data() + header::kLength);
    EXPECT_EQ(len % get_description::kStep, 0u);
    EXPECT_LE(len, block.size());
    if (length) *length = len;
    return Decode(std::string_view(reinterpret_cast<const char*>(block.data()), len)
                      .substr(get_description::kList),
                  ended);
  }

  GVDOC doc_ = 0;
  GVNOTEID linkId_ = 0;
  GVTIMEDATE when_{};
  const std::string longText_ = std::string(5000, 'q') + "end";
};

TEST_F(Parms, GatherTurnsItemsIntoRecordsWhole) {
  uint32_t status = 1, length = 0;
  bool ended = false;
  std::vector<Record> records = Gather(&status, &ended, &length);
  ASSERT_EQ(status, 0u);
  EXPECT_TRUE(ended);
  EXPECT_EQ(length, 2 * get_description::kStep);  // the long text needed a second step

  std::string when(8, '\0');
  tw::put_u32(when.data(), when_.ticks);
  tw::put_u32(when.data() + 4, when_.date);
  const std::vector<Record> expected = {
      {record::kNumber, 0, 1, I32(42)},
      {record::kText, record::kTextFormat, 2, longText_ + std::string(1, '\0')},
      {record::kDatetime, 0, 4, when},
      {record::kList, record::kTextListFormat, 5, TextList({"a", "bc"}) + std::string(1, '\0')},
      {record::kList, record::kRichTextFormat, 6,
       TextRecord("hello") + TextRecord("world") + std::string(1, '\0')},
      {record::kNumber, 0, kSrcLink, I32(static_cast<int32_t>(linkId_))},
      {record::kNumber, 0, kSrcOption, I32(0)},
      {record::kNumber, 0, kDestLink, I32(0)},
      {record::kText, record::kTextFormat, TWTOKEN_LIBRARY, std::string("command") + '\0'},
  };
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(records[i].kind, expected[i].kind) << i;
    EXPECT_EQ(records[i].format, expected[i].format) << i;
    EXPECT_EQ(records[i].token, expected[i].token) << i;
    EXPECT_EQ(records[i].data, expected[i].data) << i;
  }
}

TEST_F(Parms, GatherFailuresStillEndTheList) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    std::vector<double> tokens;
    uint32_t status;
  } cases[] = {
      {"five names, four tokens",
       {"Count", "Statement", "Blank", "When", "Names"},
       {1, 2, 3, 4},
       TWFAIL_ACTIVITY_ITEM},
      {"unknown link", {"Count", "SrcLink"}, {1, kSrcLink}, TWFAIL_NO_LINK_DOC},
  };
  ASSERT_TRUE(OrdexWriteText(doc_, "SrcLink", "Nowhere"));
  for (const Case& c : cases) {
    SetLists(c.names, c.tokens);
    uint32_t status = 0;
    bool ended = false;
    Gather(&status, &ended);
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_TRUE(ended) << c.what;
  }
  ASSERT_TRUE(OrdexDeleteItem(doc_, "PropTokenList"));
  uint32_t status = 0;
  bool ended = false;
  Gather(&status, &ended);
  EXPECT_EQ(status, TWFAIL_ACTIVITY_ITEM);
  EXPECT_TRUE(ended);
}

TEST_F(Parms, PutStoresWhatGetGathered) {
  uint32_t status = 1;
  bool ended = false;
  std::vector<Record> records = Gather(&status, &ended);
  ASSERT_EQ(status, 0u);
  GVDOC copy = NewDocument(S().adminDb, "Activity\\Command", "Copy");
  ASSERT_TRUE(OrdexWriteRaw(copy, "PropNameList", GVTYPE_TEXT_LIST,
                            TextList({"Count", "Statement", "When", "Notes", "Library", "Names"})));
  ASSERT_TRUE(OrdexWriteRaw(copy, "PropTokenList", GVTYPE_NUMBER_LIST,
                            NumberList({1, 2, 4, 6, TWTOKEN_LIBRARY, 5})));
  std::vector<Record> known;
  for (const Record& r : records)
    if (r.token < 0x10000 || r.token == TWTOKEN_LIBRARY) known.push_back(r);
  ASSERT_EQ(CSMgrPutParms(copy, Encode(known)), 0u);

  int32_t count = 0;
  ASSERT_TRUE(OrdexReadNumber(copy, "Count", &count));
  EXPECT_EQ(count, 42);
  std::string text;
  ASSERT_TRUE(OrdexReadText(copy, "Statement", &text));
  EXPECT_EQ(text, longText_);
  GVTIMEDATE when{};
  ASSERT_TRUE(OrdexReadDatetime(copy, "When", &when));
  EXPECT_EQ(when.ticks, when_.ticks);
  EXPECT_EQ(when.date, when_.date);
  std::vector<std::string> pieces;
  ASSERT_TRUE(OrdexReadRichPieces(copy, "Notes", &pieces));
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0], TextRecord("hello") + TextRecord("world"));
  uint32_t type = 0;
  ASSERT_TRUE(OrdexItemType(copy, "Names", &type));
  EXPECT_EQ(type, 0u);  // text lists are not stored
  OrdexCloseDocument(&copy, false);
}

TEST_F(Parms, PutRefusesTruncatedAndLyingRecords) {
  const std::string good =
      Encode({{record::kNumber, 0, 1, I32(7)}, {record::kText, 256, 2, std::string("abc") + '\0'}});
  // Every cut of the list before its end record is refused, whatever was stored before it.
  for (size_t cut = 0; cut + 1 < good.size(); ++cut) {
    EXPECT_EQ(CSMgrPutParms(doc_, std::string_view(good).substr(0, cut)), TWFAIL_ACTIVITY_ITEM)
        << cut;
  }
  struct Case {
    const char* what;
    std::string records;
  } cases[] = {
      {"length beyond the block",
       [] {
         std::string r = Encode({{record::kNumber, 0, 1, I32(9)}});
         tw::put_u32(r.data() + 12, 0x7FFFFFF0);
         return r;
       }()},
      {"number too short", Encode({{record::kNumber, 0, 1, "ab"}})},
      {"date-time too short", Encode({{record::kDatetime, 0, 4, "abcd"}})},
      {"text without its NUL", Encode({{record::kText, 256, 2, "abc"}})},
      {"malformed rich text",
       Encode({{record::kList, record::kRichTextFormat, 6, std::string("\x85\xFF\x00\x00", 4)}})},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CSMgrPutParms(doc_, c.records), TWFAIL_ACTIVITY_ITEM) << c.what;
  int32_t count = 0;
  ASSERT_TRUE(OrdexReadNumber(doc_, "Count", &count));
  EXPECT_EQ(count, 7);  // stored by the cuts that held a whole first record

  // An unknown token stops the walk: nothing after it is stored.
  EXPECT_EQ(CSMgrPutParms(doc_, Encode({{record::kNumber, 0, 0x777, I32(1)},
                                        {record::kNumber, 0, 1, I32(99)}})),
            TWFAIL_ACTIVITY_ITEM);
  ASSERT_TRUE(OrdexReadNumber(doc_, "Count", &count));
  EXPECT_EQ(count, 7);
}

TEST_F(Parms, LongRichTextIsStoredInThreePieces) {
  std::string records;
  while (records.size() < 150000) records += TextRecord(std::string(992, 'r'));
  ASSERT_EQ(CSMgrPutParms(doc_, Encode({{record::kList, record::kRichTextFormat, 6,
                                         records + std::string(1, '\0')}})),
            0u);
  uint32_t count = 0;
  ASSERT_EQ(GVItemGetInfo(doc_, "Notes", nullptr, &count, nullptr), 0u);
  EXPECT_EQ(count, 3u);
  std::vector<std::string> pieces;
  ASSERT_TRUE(OrdexReadRichPieces(doc_, "Notes", &pieces));
  std::string all;
  for (const auto& p : pieces) all += p;
  EXPECT_EQ(all, records);
}

}  // namespace
