// The control store's access layer against real databases made from the templates: item
// reads and writes, rich text in pieces, key lookups, document links and failure records.
#include "ordexio.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access_fixture.h"
#include "tw/coding.h"

namespace {

using csmgrtest::AccessTest;
using namespace tw::csmgr;

// A text record of n bytes in all (the 4-byte head form).
std::string TextRecord(size_t n, char fill) {
  std::string r(n, fill);
  r[0] = static_cast<char>(0x85);
  r[1] = static_cast<char>(0xFF);
  tw::put_u16(r.data() + 2, static_cast<uint16_t>(n));
  tw::put_u32(r.data() + 4, 0);
  return r;
}

class OrdexItems : public AccessTest {
 protected:
  void SetUp() override {
    AccessTest::SetUp();
    doc_ = NewDocument(S().adminDb, "Activity\\Command", "Nightly");
  }
  void TearDown() override {
    OrdexCloseDocument(&doc_, false);
    AccessTest::TearDown();
  }
  GVDOC doc_ = 0;
};

TEST_F(OrdexItems, NumbersAndTextsRoundTripWhole) {
  struct Case {
    double stored;
    int32_t read;
  } cases[] = {{7, 7}, {3.9, 3}, {-3.9, -3}, {1e12, INT32_MAX}, {-1e12, INT32_MIN}};
  for (const Case& c : cases) {
    ASSERT_EQ(GVItemPut(doc_, "Priority", GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &c.stored, 0), 0u);
    int32_t value = 0;
    ASSERT_TRUE(OrdexReadNumber(doc_, "Priority", &value));
    EXPECT_EQ(value, c.read) << c.stored;
  }
  // Long values are never cut to a fixed room.
  const std::string longText(5000, 'x');
  ASSERT_TRUE(OrdexWriteText(doc_, "Statement", longText));
  std::string text;
  ASSERT_TRUE(OrdexReadText(doc_, "Statement", &text));
  EXPECT_EQ(text, longText);
  ASSERT_TRUE(OrdexWriteText(doc_, "Statement", ""));
  ASSERT_TRUE(OrdexReadText(doc_, "Statement", &text));
  EXPECT_EQ(text, "");

  int32_t missing = 5;
  EXPECT_FALSE(OrdexReadNumber(doc_, "NoSuchItem", &missing));
  EXPECT_EQ(missing, 5);
  EXPECT_TRUE(OrdexWriteNumber(doc_, "Flag", 1));
  EXPECT_TRUE(OrdexIsTrue(doc_, "Flag"));
}

TEST_F(OrdexItems, ASaveIfUnchangedLosesToAnyEarlierStore) {
  ASSERT_TRUE(OrdexSaveDocument(doc_));
  const GVNOTEID id = IdOf(doc_);
  auto open = [&] {
    GVDOC d = 0;
    EXPECT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &d));
    return d;
  };
  auto lock = [&] {
    GVDOC d = open();
    int32_t v = -1;
    OrdexReadNumber(d, "Lock", &v);
    OrdexCloseDocument(&d, false);
    return v;
  };
  // Two copies read the same state; the first to store wins, the other stores nothing, and
  // a plain store counts as much as a conditional one.
  for (bool plainFirst : {false, true}) {
    GVDOC a = open(), b = open();
    ASSERT_TRUE(OrdexWriteNumber(a, "Lock", 10));
    ASSERT_TRUE(OrdexWriteNumber(b, "Lock", 20));
    bool conflict = true;
    ASSERT_TRUE(plainFirst ? OrdexSaveDocument(a) : OrdexSaveIfUnchanged(a, &conflict));
    EXPECT_FALSE(OrdexSaveIfUnchanged(b, &conflict));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(lock(), 10);
    // A copy's own store does not count against it.
    ASSERT_TRUE(OrdexWriteNumber(a, "Lock", 11));
    EXPECT_TRUE(OrdexSaveIfUnchanged(a, &conflict));
    EXPECT_FALSE(conflict);
    EXPECT_EQ(lock(), 11);
    OrdexCloseDocument(&a, false);
    OrdexCloseDocument(&b, false);
  }
  // A new document has nobody to lose to.
  GVDOC fresh = 0;
  ASSERT_TRUE(OrdexCreateDocument(S().adminDb, 0, &fresh));
  bool conflict = true;
  EXPECT_TRUE(OrdexSaveIfUnchanged(fresh, &conflict));
  EXPECT_FALSE(conflict);
  OrdexCloseDocument(&fresh, false);
}

TEST_F(OrdexItems, ListsPresenceAndTypes) {
  ASSERT_TRUE(OrdexWriteNumberList(doc_, "DaysOfMonth", {1, -1, 15}));
  std::vector<int32_t> values;
  ASSERT_TRUE(OrdexReadNumberList(doc_, "DaysOfMonth", 2, &values));
  EXPECT_EQ(values, (std::vector<int32_t>{1, -1}));
  ASSERT_TRUE(OrdexWriteNumberList(doc_, "WeeksOfMonth", {}));
  EXPECT_FALSE(OrdexReadNumberList(doc_, "WeeksOfMonth", 7, &values));  // empty = absent

  std::string list;  // a text list "a", "bb"
  list.resize(2 + 4 + 3);
  tw::put_u16(list.data(), 2);
  tw::put_u16(list.data() + 2, 1);
  tw::put_u16(list.data() + 4, 2);
  list.replace(6, 3, "abb");
  ASSERT_TRUE(OrdexWriteRaw(doc_, "Dependents", GVTYPE_TEXT_LIST, list));
  std::string entry;
  ASSERT_TRUE(OrdexReadListEntry(doc_, "Dependents", 2, &entry));
  EXPECT_EQ(entry, "bb");
  EXPECT_FALSE(OrdexReadListEntry(doc_, "Dependents", 3, &entry));

  struct Presence {
    const char* item;
    bool present;
  } presence[] = {{"Name", true},        {"SendTo", false} /* empty text */,
                  {"Dependents", true},  {"WeeksOfMonth", false} /* empty list */,
                  {"NoSuchItem", false}, {"DaysOfMonth", true}};
  for (const Presence& p : presence) EXPECT_EQ(OrdexItemPresent(doc_, p.item), p.present) << p.item;

  uint32_t type = 99;
  ASSERT_TRUE(OrdexItemType(doc_, "NoSuchItem", &type));
  EXPECT_EQ(type, 0u);
  ASSERT_TRUE(OrdexItemType(doc_, "Dependents", &type));
  EXPECT_EQ(type, GVTYPE_TEXT_LIST);
}

TEST_F(OrdexItems, DatetimeWildcardsAreCompleted) {
  GVTIMEPARTS parts{2026, 3, 14, 0, 9, 30, 0, 0, 0, 0};
  GVTIMEDATE full{};
  ASSERT_EQ(GVDatetimeCreate(&parts, &full), 0u);
  ASSERT_TRUE(OrdexWriteDatetime(doc_, "SchedTime", full));
  GVTIMEDATE read{};
  ASSERT_TRUE(OrdexReadDatetime(doc_, "SchedTime", &read));
  EXPECT_EQ(read.ticks, full.ticks);
  EXPECT_EQ(read.date, full.date);

  // A time of day alone takes today's date; a date alone midnight.
  GVTIMEPARTS timeOnly{-1, -1, -1, -1, 8, 0, 0, 0, 0, 0};
  GVTIMEDATE t{};
  ASSERT_EQ(GVDatetimeCreate(&timeOnly, &t), 0u);
  ASSERT_TRUE(OrdexWriteDatetime(doc_, "RunTime", t));
  ASSERT_TRUE(OrdexReadDatetime(doc_, "RunTime", &read));
  GVTIMEPARTS got{}, today{};
  GVTIMEDATE now = CSMgrNow();
  ASSERT_EQ(GVDatetimeFetch(&read, &got), 0u);
  ASSERT_EQ(GVDatetimeFetch(&now, &today), 0u);
  EXPECT_EQ(got.hour, 8);
  EXPECT_EQ(got.day, today.day);
  EXPECT_EQ(got.year, today.year);

  GVTIMEPARTS dateOnly{2025, 12, 31, -1, -1, -1, -1, -1, 0, 0};
  ASSERT_EQ(GVDatetimeCreate(&dateOnly, &t), 0u);
  ASSERT_TRUE(OrdexWriteDatetime(doc_, "RanTime", t));
  ASSERT_TRUE(OrdexReadDatetime(doc_, "RanTime", &read));
  ASSERT_EQ(GVDatetimeFetch(&read, &got), 0u);
  EXPECT_EQ(got.day, 31);
  EXPECT_EQ(got.hour, 0);
  EXPECT_EQ(got.minute, 0);
}

TEST_F(OrdexItems, RichTextIsStoredInPiecesAndReadWhole) {
  std::string records;
  for (int i = 0; i < 150; ++i) records += TextRecord(1000, static_cast<char>('a' + i % 26));
  ASSERT_EQ(records.size(), 150000u);
  ASSERT_TRUE(OrdexWriteRichPieces(doc_, "DocLink", records));
  uint32_t type = 0, count = 0, length = 0;
  ASSERT_EQ(GVItemGetInfo(doc_, "DocLink", &type, &count, &length), 0u);
  EXPECT_EQ(type, GVTYPE_COMPOSITE);
  EXPECT_EQ(count, 3u);
  std::vector<std::string> pieces;
  ASSERT_TRUE(OrdexReadRichPieces(doc_, "DocLink", &pieces));
  ASSERT_EQ(pieces.size(), 3u);
  std::string all;
  for (const auto& p : pieces) {
    EXPECT_LE(p.size(), GV_RICHTEXT_PIECE);
    all += p;
  }
  EXPECT_EQ(all, records);
  // Stored and read again after the document was closed.
  ASSERT_EQ(GVDocumentSave(doc_, 0), 0u);
  GVNOTEID id = IdOf(doc_);
  OrdexCloseDocument(&doc_, true);
  ASSERT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &doc_));
  ASSERT_TRUE(OrdexReadRichPieces(doc_, "DocLink", &pieces));
  all.clear();
  for (const auto& p : pieces) all += p;
  EXPECT_EQ(all, records);
}

TEST(OrdexSplit, RecordsAreWalkedWithCheckedLengths) {
  std::string sixByte(10, 'z');  // the 6-byte head form, 10 bytes
  sixByte[0] = static_cast<char>(0x85);
  sixByte[1] = 0;
  tw::put_u32(sixByte.data() + 2, 10);
  std::string shortForm = "\x81\x02";  // a paragraph: the 2-byte head form
  std::string odd = TextRecord(7, 'o') + std::string(1, '\0');

  struct Case {
    const char* what;
    std::string records;
    size_t limit;
    bool ok;
    std::vector<size_t> sizes;
  } cases[] = {
      {"empty", "", 100, true, {}},
      {"whole", TextRecord(40, 'a') + shortForm + sixByte, 100, true, {52}},
      {"cut at boundaries",
       TextRecord(40, 'a') + TextRecord(40, 'b') + TextRecord(40, 'c'),
       90,
       true,
       {80, 40}},
      {"oversized record alone",
       TextRecord(40, 'a') + TextRecord(200, 'b') + shortForm,
       100,
       true,
       {40, 200, 2}},
      {"odd length padded", odd + shortForm, 100, true, {10}},
      {"zero length", std::string("\x85\xFF\x00\x00", 4), 100, false, {}},
      {"length below head", std::string("\x85\x01", 2), 100, false, {}},
      {"past the end", TextRecord(40, 'a').substr(0, 39), 100, false, {}},
      {"stray byte", TextRecord(8, 'a') + std::string(1, 'x'), 100, false, {}},
      {"six-byte head cut", std::string("\x85\x00\x10\x00", 4), 100, false, {}},
      {"huge six-byte length", std::string("\x85\x00\xFF\xFF\xFF\xFF", 6), 100, false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string_view> pieces;
    EXPECT_EQ(OrdexSplitRecords(c.records, c.limit, &pieces), c.ok) << c.what;
    if (!c.ok) continue;
    std::vector<size_t> sizes;
    for (auto p : pieces) sizes.push_back(p.size());
    EXPECT_EQ(sizes, c.sizes) << c.what;
  }
}

TEST_F(OrdexItems, MalformedRichTextLeavesNoItem) {
  ASSERT_TRUE(OrdexWriteRichPieces(doc_, "DocLink", TextRecord(40, 'a')));
  EXPECT_FALSE(OrdexWriteRichPieces(doc_, "DocLink", std::string("\x85\xFF\x00\x00", 4)));
  uint32_t type = 1;
  ASSERT_TRUE(OrdexItemType(doc_, "DocLink", &type));
  EXPECT_EQ(type, 0u);
}

TEST_F(OrdexItems, KeysAndDocumentLinks) {
  const GVNOTEID id = IdOf(doc_);
  EXPECT_EQ(OrdexFirstIdOfKey(S().adminDb, S().admin.activities, "(CS_Activities)", "nightly"), id);
  EXPECT_EQ(OrdexFirstIdOfKey(S().adminDb, S().admin.activities, "(CS_Activities)", "Weekly"), 0u);

  GVDOC log = 0;
  GVNOTEID logId = 0;
  ASSERT_EQ(CSMgrLogCreate(LogKind::kActivity, "Nightly", 0, &log, &logId), 0u);
  ASSERT_TRUE(OrdexPutDocLink(doc_, "DocLink", S().logDb, S().log.activities, "(CS_Activities)",
                              "Nightly"));
  int32_t exists = 0;
  ASSERT_TRUE(OrdexReadNumber(doc_, "LinkExists", &exists));
  EXPECT_EQ(exists, 1);
  std::vector<std::string> pieces;
  ASSERT_TRUE(OrdexReadRichPieces(doc_, "DocLink", &pieces));
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(static_cast<uint8_t>(pieces[0][0]), GVCDSIG_DOCLINK);
  EXPECT_FALSE(OrdexPutDocLink(doc_, "DocLink", S().logDb, S().log.activities, "(CS_Activities)",
                               "Unknown"));
  EXPECT_FALSE(OrdexPutDocLinkId(doc_, "DocLink", S().logDb, S().log.activities, 0));
  OrdexCloseDocument(&log, true);
}

TEST_F(AccessTest, FailedCallsAreRecordedWhenDiagnosticsAreOn) {
  GVDOC doc = 0;
  EXPECT_FALSE(OrdexOpenDocument(S().adminDb, 418, 0, &doc));  // diagnostics off: no entry
  EXPECT_EQ(S().diagnosticsDoc, 0u);

  S().diagnostics = 1;
  EXPECT_FALSE(OrdexOpenDocument(S().adminDb, 418, 0, &doc));
  EXPECT_EQ(doc, 0u);
  ASSERT_NE(S().diagnosticsDoc, 0u);
  std::vector<std::string> lines = Lines(S().diagnosticsDoc);
  ASSERT_GE(lines.size(), 4u);
  const std::string title = S().adminTitle;
  // The Plexa text, then the structured text, each entry behind a tab.
  EXPECT_EQ(lines[0][0], '\t');
  EXPECT_EQ(lines[1], "\tDocument error");
  EXPECT_EQ(lines[2], "database " + title);
  EXPECT_EQ(lines[3], "document #418 (#1A2)");

  // Before the service is initialised entries go to twmain.bug.
  S().initialised = false;
  EXPECT_EQ(OrdexLocateView(S().adminDb, "(No Such View)"), 0u);
  const std::string bug = ReadInstFile("twmain.bug");
  EXPECT_NE(bug.find("Index error\ndatabase " + title + "\nview (No Such View)\ncolumn 0\n"),
            std::string::npos)
      << bug;
  // Optional reads leave no trace.
  S().initialised = true;
  const size_t before = Lines(S().diagnosticsDoc).size();
  {
    QuietReports quiet;
    int32_t v = 0;
    GVDOC activity = NewDocument(S().adminDb, "Activity\\Command", "Quiet");
    EXPECT_FALSE(OrdexReadNumber(activity, "MaxDuration", &v));
    OrdexCloseDocument(&activity, false);
  }
  EXPECT_EQ(Lines(S().diagnosticsDoc).size(), before);
}

}  // namespace
