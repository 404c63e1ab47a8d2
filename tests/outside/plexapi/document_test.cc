// Documents and items: every value kind in its exact byte layout, several items of one name,
// stores that write only what changed, properties, attachments, the core bridge, the hooks
// of the design unit, and two processes storing one document.
#include "document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core_bridge.h"
#include "database.h"
#include "formula.h"
#include "nordex.h"
#include "paths.h"
#include "plexa_test_util.h"
#include "richtext.h"
#include "store.h"
#include "store_fixture.h"
#include "timedate.h"
#include "value.h"

namespace {

using plexatest::Hex;
using plexatest::RawDb;
using plexatest::SessionTest;
using storetest::Engine;
using storetest::TestServer;

std::string Bytes(std::initializer_list<int> b) {
  std::string out;
  for (int x : b) out += static_cast<char>(x);
  return out;
}

std::string DoubleBytes(double d) {
  std::string out(8, '\0');
  std::memcpy(out.data(), &d, 8);
  return out;
}

// A database "doc.odb" on a store: DocumentTest runs on both, the tests that reach under
// the API into SQLite's own means (triggers, locks) on files only.
class DocumentStore : public SessionTest {
 protected:
  virtual Engine engine() const { return Engine::kSqlite; }
  void SetUp() override {
    // Outside files (attachments) go beside the local server's databases.
    ASSERT_TRUE(plexa::MakeDirectories(Local("")));
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(engine(), root()));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    SessionTest::SetUp();
    ASSERT_EQ(GVDatabaseCreate(TestServer(), "doc.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
    ASSERT_EQ(GVDatabaseOpen(TestServer(), "doc.odb", 0, &db_), 0u);
  }
  void TearDown() override {
    SessionTest::TearDown();
    store_.TearDown();
  }
  bool OnFiles() const { return engine() == Engine::kSqlite; }
  GVDOC NewDoc() {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentCreate(db_, 0, &doc), 0u);
    return doc;
  }
  GVDOC Open(GVNOTEID id, uint32_t flags = 0) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(db_, id, flags, &doc), 0u);
    return doc;
  }
  GVNOTEID IdOf(GVDOC doc) {
    GVNOTEID id = 0;
    EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
    return id;
  }
  // Stores and closes; answers the note id.
  GVNOTEID Keep(GVDOC doc) {
    EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
    GVNOTEID id = IdOf(doc);
    EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
    return id;
  }
  std::string Text(GVDOC doc, const char* name, uint32_t capacity = 512) {
    std::string buf(capacity, '\0');
    uint32_t kind = GVTYPE_TEXT;
    uint32_t st = GVItemFetch(doc, name, &kind, 0, capacity, buf.data());
    if (st != 0) return "<" + std::to_string(st) + ">";
    return buf.c_str();
  }
  double Number(GVDOC doc, const char* name) {
    double v = -12345;
    uint32_t kind = GVTYPE_NUMBER;
    EXPECT_EQ(GVItemFetch(doc, name, &kind, 0, 0, &v), 0u) << name;
    return v;
  }
  std::vector<std::string> StoredValues(GVNOTEID id, const std::string& key) {
    std::vector<std::string> values;
    for (const plexa::StoredItem& it : plexatest::PackedItems(store_.Column(
             root(), "doc.odb", "SELECT items FROM note WHERE id=" + std::to_string(id))))
      if (plexa::FoldAscii(it.name) == key) values.emplace_back(it.value.begin(), it.value.end());
    return values;
  }
  GVDB db_ = 0;
  storetest::Store store_;
};

class DocumentTest : public DocumentStore, public ::testing::WithParamInterface<Engine> {
 protected:
  Engine engine() const override { return GetParam(); }
};

// ---------------------------------------------------------------- item kinds ---------------

TEST_P(DocumentTest, ItemKindsRoundTripInTheirExactLayouts) {
  struct Case {
    const char* name;
    uint32_t kind;
    std::string input;
    uint32_t length;  // as passed to GVItemPut
    std::string stored;
    uint32_t infoLength;
  } cases[] = {
      {"Num", GVTYPE_NUMBER, DoubleBytes(2.0), 0, Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40}),
       8},
      {"Txt", GVTYPE_TEXT, "ab", 0, Bytes({1, 0, 2, 0, 'a', 'b'}), 2},
      {"Cut", GVTYPE_TEXT, "abcdef", 3, Bytes({1, 0, 3, 0, 'a', 'b', 'c'}), 3},
      {"Empty", GVTYPE_TEXT, "", 0, Bytes({1, 0, 0, 0}), 0},
      {"TList", GVTYPE_TEXT_LIST, Bytes({2, 0, 1, 0, 2, 0, 'a', 'b', 'c'}), 0,
       Bytes({2, 0, 1, 0, 2, 0, 'a', 'b', 'c'}), 9},
      {"NoTexts", GVTYPE_TEXT_LIST, Bytes({0, 0}), 0, Bytes({0, 0}), 2},
      {"Time", GVTYPE_TIME, Bytes({0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B}), 0,
       Bytes({1, 0, 0, 0, 0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B}), 8},
      {"NList", GVTYPE_NUMBER_LIST,
       Bytes({2, 0, 1, 0}) + DoubleBytes(1.5) + DoubleBytes(-2) + DoubleBytes(0) + DoubleBytes(10),
       0,
       Bytes({2, 0, 1, 0}) + DoubleBytes(1.5) + DoubleBytes(-2) + DoubleBytes(0) + DoubleBytes(10),
       36},
      {"NoNumbers", GVTYPE_NUMBER_LIST, Bytes({0, 0, 0, 0}), 0, Bytes({0, 0, 0, 0}), 4},
      {"TimeList", GVTYPE_TIME_LIST,
       Bytes({1, 0, 0, 0, 0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B, 0xAA}), 12,
       Bytes({1, 0, 0, 0, 0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B}), 12},
      {"Raw", GVTYPE_OTHER, Bytes({0xDE, 0xAD, 0, 0xBE, 0xEF}), 5,
       Bytes({0xDE, 0xAD, 0, 0xBE, 0xEF}), 5},
  };
  GVDOC doc = NewDoc();
  for (const Case& c : cases)
    ASSERT_EQ(GVItemPut(doc, c.name, 0, c.length, c.kind, c.input.data(), 0), 0u) << c.name;
  GVNOTEID id = Keep(doc);
  doc = Open(id);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Hex(StoredValues(id, plexa::FoldAscii(c.name)).at(0)), Hex(c.stored));
    uint32_t type = 0, count = 0, length = 0;
    ASSERT_EQ(GVItemGetInfo(doc, c.name, &type, &count, &length), 0u);
    EXPECT_EQ(type, c.kind);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(length, c.infoLength);
    // Fetched as stored: the kind's own layout, and *kind set to the stored type.
    std::string back(256, '\x55');
    uint32_t kind = 0;
    ASSERT_EQ(GVItemFetch(doc, c.name, &kind, 0, static_cast<uint32_t>(back.size()), back.data()),
              0u);
    EXPECT_EQ(kind, c.kind);
    std::string expected = c.kind == GVTYPE_TEXT ? c.stored.substr(4) + '\0'
                           : c.kind == GVTYPE_NUMBER || c.kind == GVTYPE_TIME ? c.stored.substr(4)
                                                                              : c.stored;
    EXPECT_EQ(Hex(back.substr(0, expected.size())), Hex(expected));
    uint32_t n = 0;
    ASSERT_EQ(GVItemGetLength(doc, c.name, c.kind, 0, &n), 0u);
    EXPECT_EQ(n, c.infoLength);
  }
}

TEST_P(DocumentTest, SinglesReadAsOneEntryListsAndListsAsTheirFirstEntry) {
  GVDOC doc = NewDoc();
  double two = 2.0;
  ASSERT_EQ(GVItemPut(doc, "Num", 0, 0, GVTYPE_NUMBER, &two, 0), 0u);
  std::string list = Bytes({2, 0, 0, 0}) + DoubleBytes(3) + DoubleBytes(4);
  ASSERT_EQ(GVItemPut(doc, "List", 0, 0, GVTYPE_NUMBER_LIST, list.data(), 0), 0u);
  std::string none = Bytes({0, 0, 0, 0});
  ASSERT_EQ(GVItemPut(doc, "None", 0, 0, GVTYPE_NUMBER_LIST, none.data(), 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "Txt", 0, 0, GVTYPE_TEXT, "12.5", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "Word", 0, 0, GVTYPE_TEXT, "abc", 0), 0u);
  std::string texts = Bytes({2, 0, 1, 0, 2, 0, 'a', 'b', 'c'});
  ASSERT_EQ(GVItemPut(doc, "Texts", 0, 0, GVTYPE_TEXT_LIST, texts.data(), 0), 0u);
  struct Case {
    const char* name;
    uint32_t kind;
    uint32_t status;
    std::string bytes;
  } pointers[] = {
      {"Num", GVTYPE_NUMBER_LIST, 0, Bytes({1, 0, 0, 0}) + DoubleBytes(2)},
      {"Num", GVTYPE_NUMBER, 0, DoubleBytes(2)},
      {"Num", 0, 0, DoubleBytes(2)},
      {"List", GVTYPE_NUMBER, 0, DoubleBytes(3)},
      {"List", 0, 0, list},
      {"None", GVTYPE_NUMBER, GVERR_NO_VALUE, ""},
      {"Num", GVTYPE_TEXT, GVERR_ITEM_KIND, ""},
      {"Txt", GVTYPE_TEXT_LIST, GVERR_ITEM_KIND, ""},
      {"Txt", 0, 0, "12.5"},
      {"Absent", 0, GVERR_NO_ITEM, ""},
  };
  for (const Case& c : pointers) {
    SCOPED_TRACE(std::string(c.name) + " as " + std::to_string(c.kind));
    uint32_t kind = c.kind, length = 99;
    const void* p = nullptr;
    ASSERT_EQ(GVItemGetPointer(doc, c.name, &kind, &p, &length), c.status);
    if (c.status != 0) {
      EXPECT_EQ(p, nullptr) << "no output on failure";
      continue;
    }
    EXPECT_EQ(Hex(std::string(static_cast<const char*>(p), length)), Hex(c.bytes));
  }
  // Conversions of fetch: numbers and lists as text, text as number.
  EXPECT_EQ(Text(doc, "Num"), "2");
  EXPECT_EQ(Text(doc, "List"), "3, 4");
  EXPECT_EQ(Text(doc, "Texts"), "a, bc");
  EXPECT_EQ(Number(doc, "List"), 3.0);
  EXPECT_EQ(Number(doc, "Txt"), 12.5);
  double v = 7;
  uint32_t kind = GVTYPE_NUMBER;
  EXPECT_EQ(GVItemFetch(doc, "Word", &kind, 0, 0, &v), GVERR_ITEM_KIND);
  EXPECT_EQ(GVItemFetch(doc, "None", &kind, 0, 0, &v), GVERR_NO_VALUE);
  EXPECT_EQ(GVItemFetch(doc, "Absent", &kind, 0, 0, &v), GVERR_NO_ITEM);
  EXPECT_EQ(v, 7.0);
  EXPECT_EQ(kind, GVTYPE_NUMBER) << "kind unchanged on failure";
  uint32_t n = 0;
  ASSERT_EQ(GVItemGetLength(doc, "Texts", GVTYPE_TEXT_LIST, GVTYPE_TEXT, &n), 0u);
  EXPECT_EQ(n, 5u);
  ASSERT_EQ(GVItemGetLength(doc, "Num", GVTYPE_NUMBER, GVTYPE_NUMBER_LIST, &n), 0u);
  EXPECT_EQ(n, 12u);
}

// What callers rely on: a list put with length 0 is measured from its own header (an empty
// list goes as its empty layout), and a text's room counts its NUL, so the length that
// GVItemGetLength answers plus one holds the whole text.
TEST_P(DocumentTest, EmptyListsAndTextRoomKeepTheirConventions) {
  GVDOC doc = NewDoc();
  const struct {
    const char* name;
    uint32_t kind;
    std::string empty;
  } lists[] = {{"Texts", GVTYPE_TEXT_LIST, Bytes({0, 0})},
               {"Numbers", GVTYPE_NUMBER_LIST, Bytes({0, 0, 0, 0})},
               {"Times", GVTYPE_TIME_LIST, Bytes({0, 0, 0, 0})}};
  for (const auto& l : lists) {
    // Bytes after the header are not the list's: a measured length ignores them.
    std::string passed = l.empty + "\x7F\x7F\x7F\x7F";
    ASSERT_EQ(GVItemPut(doc, l.name, 0, 0, l.kind, passed.data(), 0), 0u) << l.name;
    uint32_t type = 0, length = 99;
    ASSERT_EQ(GVItemGetInfo(doc, l.name, &type, nullptr, &length), 0u);
    EXPECT_EQ(type, l.kind) << l.name;
    EXPECT_EQ(length, l.empty.size()) << l.name;
  }
  const std::string text = "caf\xC3\xA9 au lait";  // 15 bytes, one character of two
  ASSERT_EQ(GVItemPut(doc, "T", 0, 0, GVTYPE_TEXT, text.c_str(), 0), 0u);
  uint32_t n = 0;
  ASSERT_EQ(GVItemGetLength(doc, "T", GVTYPE_TEXT, GVTYPE_TEXT, &n), 0u);
  ASSERT_EQ(n, text.size());
  EXPECT_EQ(Text(doc, "T", n + 1), text);
  EXPECT_EQ(Text(doc, "T", n), text.substr(0, n - 1));
  EXPECT_EQ(Text(doc, "T", 5), "caf");  // never half a character
}

TEST_P(DocumentTest, MalformedPutsLeaveTheItemAlone) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "V", 0, 0, GVTYPE_TEXT, "kept", 0), 0u);
  std::string shortList = Bytes({3, 0, 1, 0, 1, 0});  // three entries announced, two lengths
  std::string badTime = Bytes({0x00, 0x5A, 0x62, 0x02, 0xD9, 0x63, 0x25, 0x00});  // > 24 h
  std::string longName(GV_ITEM_NAME_SIZE, 'n');
  struct Case {
    const char* what;
    const char* name;
    uint32_t kind;
    const void* value;
    uint32_t length;
    uint32_t status;
  } cases[] = {
      {"list shorter than its counts", "V", GVTYPE_TEXT_LIST, shortList.data(), 6,
       GVERR_INVALID_ARGUMENT},
      {"time of day beyond a day", "V", GVTYPE_TIME, badTime.data(), 0, GVERR_DATETIME},
      {"no such kind", "V", 0, "x", 1, GVERR_INVALID_ARGUMENT},
      {"no such kind either", "V", 9, "x", 1, GVERR_INVALID_ARGUMENT},
      {"empty name", "", GVTYPE_TEXT, "x", 0, GVERR_INVALID_ARGUMENT},
      {"name above 255 bytes", longName.c_str(), GVTYPE_TEXT, "x", 0, GVERR_INVALID_ARGUMENT},
      {"null list", "V", GVTYPE_NUMBER_LIST, nullptr, 0, GVERR_INVALID_ARGUMENT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GVItemPut(doc, c.name, 0, c.length, c.kind, c.value, 0), c.status) << c.what;
    EXPECT_EQ(Text(doc, "V"), "kept") << c.what;
  }
  EXPECT_EQ(GVItemPut(doc, "V", 0, 0, GVTYPE_TEXT, nullptr, 0), 0u) << "a null text is empty";
  EXPECT_EQ(Text(doc, "V"), "");
}

TEST_P(DocumentTest, FetchNeverWritesPastTheRoomGiven) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "T", 0, 0, GVTYPE_TEXT, "h\xC3\xA9llo", 0), 0u);
  std::string texts = Bytes({2, 0, 1, 0, 2, 0, 'a', 'b', 'c'});
  ASSERT_EQ(GVItemPut(doc, "L", 0, 0, GVTYPE_TEXT_LIST, texts.data(), 0), 0u);
  struct Case {
    uint32_t capacity;
    const char* text;
  } cuts[] = {{1, ""}, {2, "h"}, {3, "h"}, {4, "h\xC3\xA9"}, {64, "h\xC3\xA9llo"}};
  for (const Case& c : cuts) {
    char buf[80];
    std::memset(buf, '#', sizeof buf);
    uint32_t kind = GVTYPE_TEXT;
    ASSERT_EQ(GVItemFetch(doc, "T", &kind, 0, c.capacity, buf), 0u);
    EXPECT_STREQ(buf, c.text) << c.capacity;
    EXPECT_EQ(buf[c.capacity], '#') << "nothing beyond the capacity";
  }
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  uint32_t kind = GVTYPE_TEXT;
  EXPECT_EQ(GVItemFetch(doc, "T", &kind, 0, 0, buf), GVERR_BUFFER_TOO_SMALL);
  kind = 0;
  EXPECT_EQ(GVItemFetch(doc, "L", &kind, 0, 8, buf), GVERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(std::string(buf, 8), "########");
  EXPECT_EQ(kind, 0u);
}

TEST_P(DocumentTest, ValueLimitsAndLongRichText) {
  GVDOC doc = NewDoc();
  std::string text(GV_MAX_VALUE, 'x');
  EXPECT_EQ(
      GVItemPut(doc, "Max", 0, static_cast<uint32_t>(text.size()), GVTYPE_TEXT, text.data(), 0),
      0u);
  text += 'x';
  EXPECT_EQ(
      GVItemPut(doc, "Over", 0, static_cast<uint32_t>(text.size()), GVTYPE_TEXT, text.data(), 0),
      GVERR_TOO_BIG);
  std::string raw(GV_MAX_VALUE + 1, '\0');
  EXPECT_EQ(
      GVItemPut(doc, "Raw", 0, static_cast<uint32_t>(raw.size()), GVTYPE_OTHER, raw.data(), 0),
      GVERR_TOO_BIG);
  uint32_t type = 0;
  EXPECT_EQ(GVItemGetInfo(doc, "Over", &type, nullptr, nullptr), GVERR_NO_ITEM);
  // A long text stored as rich text is cut into pieces at record boundaries.
  std::string body;
  for (int i = 0; i < 1500; ++i) body += std::string(98, static_cast<char>('a' + i % 26)) + "\n";
  body.pop_back();
  ASSERT_EQ(GVItemPut(doc, "Body", GVTYPE_COMPOSITE, static_cast<uint32_t>(body.size()),
                      GVTYPE_TEXT, body.data(), 0),
            0u);
  uint32_t count = 0, length = 0;
  ASSERT_EQ(GVItemGetInfo(doc, "Body", &type, &count, &length), 0u);
  EXPECT_EQ(type, GVTYPE_COMPOSITE);
  EXPECT_EQ(count, 3u);
  EXPECT_GT(length, body.size());
  GVNOTEID id = Keep(doc);
  for (const std::string& piece : StoredValues(id, "body")) {
    EXPECT_LE(piece.size(), GV_RICHTEXT_PIECE);
    EXPECT_EQ(plexa::rt::Validate(piece, false), 0u) << "pieces hold whole records";
  }
  doc = Open(id);
  EXPECT_EQ(Text(doc, "Body", static_cast<uint32_t>(body.size() + 1)), body);
}

// ---------------------------------------------------------------- several rows -------------

TEST_P(DocumentTest, SeveralItemsOfOneNameKeepTheirOrder) {
  GVDOC doc = NewDoc();
  uint32_t core = 0;
  ASSERT_EQ(GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core), 0u);
  EXPECT_EQ(GVDocumentGetOrdexHandle(doc, 0, &core), GVERR_INVALID_ARGUMENT);
  for (const char* part : {"first ", "second ", "third"}) {
    std::string records;
    plexa::rt::AppendText(records, part);
    ASSERT_EQ(_GVCoreItemAppend(core, "Body", 4, NXTYPE_COMPOSITE, records.data(),
                                static_cast<uint32_t>(records.size())),
              0u);
  }
  std::string one = Bytes({1, 0, 1, 0, 'x'}), two = Bytes({1, 0, 1, 0, 'y'});
  ASSERT_EQ(_GVCoreItemAppend(core, "Tag", 3, NXTYPE_TEXT, one.data(), 5), 0u);
  ASSERT_EQ(_GVCoreItemAppend(core, "TAG", 3, NXTYPE_TEXT, two.data(), 5), 0u);
  EXPECT_EQ(_GVCoreItemAppend(core, "Bad", 3, NXTYPE_COMPOSITE, "\x85", 1), GVERR_COMPOSITE);
  EXPECT_EQ(_GVCoreItemAppend(core, "Bad", 3, 0x0777, one.data(), 5), GVERR_INVALID_ARGUMENT);
  GVNOTEID id = Keep(doc);
  doc = Open(id);
  ASSERT_EQ(GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core), 0u);
  uint32_t count = 0;
  ASSERT_EQ(GVItemGetInfo(doc, "body", nullptr, &count, nullptr), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Text(doc, "Body"), "first second third");
  EXPECT_EQ(Text(doc, "Tag"), "x") << "a plain item reads its first row";
  // The bridge walks the rows in order; value blocks are the type word and the value.
  std::string joined;
  uint32_t item = 0;
  for (uint32_t after = 0;; after = item) {
    uint16_t word = 0;
    uint32_t value = 0, length = 0;
    uint32_t st = _GVCoreItemFind(core, "BODY", 4, after, &item, &word, &value, &length);
    if (st == GVERR_NO_ITEM) break;
    ASSERT_EQ(st, 0u);
    EXPECT_EQ(word, NXTYPE_COMPOSITE);
    const auto* bytes = static_cast<const char*>(_GVCoreBlockLock(value));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(plexa::CoreTypeOf(static_cast<uint16_t>(bytes[0] | bytes[1] << 8)), GVTYPE_COMPOSITE);
    std::string text;
    ASSERT_EQ(plexa::rt::ToText(std::string_view(bytes + 2, length - 2), text), 0u);
    joined += text;
    const auto* head = static_cast<const uint8_t*>(_GVCoreBlockLock(item));
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head[2] | head[3] << 8, 4) << "name length";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head) + sizeof(NXItemHead), 4), "Body");
    EXPECT_EQ(_GVCoreBlockUnlock(item), 0u);
    EXPECT_EQ(_GVCoreBlockUnlock(value), 0u);
  }
  EXPECT_EQ(joined, "first second third");
  // A put replaces every row of the name; the old blocks then name nothing.
  ASSERT_EQ(GVItemPut(doc, "Body", 0, 0, GVTYPE_TEXT, "one", 0), 0u);
  EXPECT_EQ(_GVCoreBlockLock(item), nullptr);
  ASSERT_EQ(GVItemGetInfo(doc, "Body", nullptr, &count, nullptr), 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(GVItemDelete(doc, "Body"), 0u);
  EXPECT_EQ(GVItemDelete(doc, "Body"), 0u) << "deleting an absent item is no failure";
  EXPECT_EQ(GVItemGetInfo(doc, "Body", nullptr, &count, nullptr), GVERR_NO_ITEM);
}

// ---------------------------------------------------------------- stores -------------------

TEST_P(DocumentTest, CloseWithDiscardForgetsTheChanges) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "S", 0, 0, GVTYPE_TEXT, "kept", 0), 0u);
  GVNOTEID id = Keep(doc);
  doc = Open(id);
  ASSERT_EQ(GVItemPut(doc, "S", 0, 0, GVTYPE_TEXT, "changed", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "New", 0, 0, GVTYPE_TEXT, "added", 0), 0u);
  ASSERT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_INVALID_HANDLE);
  doc = Open(id);
  EXPECT_EQ(Text(doc, "S"), "kept");
  EXPECT_EQ(GVItemGetInfo(doc, "New", nullptr, nullptr, nullptr), GVERR_NO_ITEM);
  GVDOC fresh = NewDoc();
  ASSERT_EQ(GVDocumentClose(fresh, GVCLOSE_DISCARD), 0u);
  EXPECT_EQ(store_.Query(root(), "doc.odb", "SELECT COUNT(*) FROM note"), "1")
      << "a discarded new document never lands";
}

TEST_P(DocumentTest, AnUnchangedDocumentIsNotRewritten) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "S", 0, 0, GVTYPE_TEXT, "v", 0), 0u);
  GVNOTEID id = Keep(doc);
  if (!OnFiles()) GTEST_SKIP() << "holds SQLite's write lock";
  RawDb raw(Local("doc.odb"));
  int64_t commits = raw.Int("SELECT value FROM meta WHERE key='commit_seq'");
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 1), 0u);
  GVDB quick = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "doc.odb", 0, &quick), 0u);
  ASSERT_EQ(raw.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  // Opened and closed unchanged: no write is attempted, so a held lock does not matter.
  GVDOC same = 0;
  ASSERT_EQ(GVDocumentOpen(quick, id, 0, &same), 0u);
  EXPECT_EQ(GVDocumentSave(same, 0), 0u);
  EXPECT_EQ(GVDocumentClose(same, 0), 0u);
  // A changed one must write: busy, and the handle is closed all the same.
  ASSERT_EQ(GVDocumentOpen(quick, id, 0, &same), 0u);
  ASSERT_EQ(GVItemPut(same, "S", 0, 0, GVTYPE_TEXT, "w", 0), 0u);
  EXPECT_EQ(GVDocumentClose(same, 0), GVERR_BUSY);
  EXPECT_EQ(GVDocumentSave(same, 0), GVERR_INVALID_HANDLE);
  ASSERT_EQ(raw.Exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(raw.Int("SELECT value FROM meta WHERE key='commit_seq'"), commits);
  EXPECT_EQ(raw.Int("SELECT seq FROM note WHERE id=" + std::to_string(id)), 1);
}

TEST_P(DocumentTest, PropertiesOfANewAndAStoredDocument) {
  GVTIMEDATE before = plexa::CurrentTime();
  GVDOC doc = NewDoc();
  EXPECT_EQ(IdOf(doc), 0u) << "no note id before the first store";
  uint8_t unid[GV_UNID_SIZE], again[GV_UNID_SIZE];
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid), 0u);
  GVTIMEDATE created{}, modified{};
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_CREATED, &created), 0u);
  int32_t seconds = 99;
  ASSERT_EQ(plexa::DiffSeconds(created, before, seconds), 0u);
  EXPECT_GE(seconds, 0);
  EXPECT_LE(seconds, 5) << "created now, on this machine's clock";
  uint32_t value = 9;
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_CLASS, &value), 0u);
  EXPECT_EQ(value, GVCLASS_DOCUMENT);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_FORM, &value), 0u);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_FORM_CHECK, &value), 0u);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, nullptr), 0u) << "null reads as 0";
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_FORM_CHECK, &value), 0u);
  EXPECT_EQ(value, 0u);
  // Parent references: none, set, stored, removed with zeros.
  uint8_t parent[GV_UNID_SIZE];
  std::memset(parent, 0x5A, sizeof parent);
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_PARENT, again), GVERR_NO_ENTRY);
  ASSERT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_PARENT, parent), 0u);
  EXPECT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_UNID, parent), GVERR_NOT_SUPPORTED);
  EXPECT_EQ(GVDocumentSetProperty(doc, 1234, parent), GVERR_INVALID_ARGUMENT);
  GVNOTEID id = Keep(doc);
  EXPECT_EQ(id % 2, 0u);
  EXPECT_NE(id, 0u);
  doc = Open(id);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, again), 0u);
  EXPECT_EQ(std::memcmp(unid, again, sizeof unid), 0);
  GVTIMEDATE createdAgain{};
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_CREATED, &createdAgain), 0u);
  EXPECT_EQ(std::memcmp(&created, &createdAgain, sizeof created), 0);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_MODIFIED, &modified), 0u);
  int32_t order = 0;
  ASSERT_EQ(plexa::CompareTimes(modified, created, order), 0u);
  EXPECT_GE(order, 0);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_PARENT, again), 0u);
  EXPECT_EQ(std::memcmp(parent, again, sizeof parent), 0);
  uint8_t zeros[GV_UNID_SIZE] = {};
  ASSERT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_PARENT, zeros), 0u);
  id = Keep(doc);
  doc = Open(id);
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_PARENT, again), GVERR_NO_ENTRY);
}

TEST_P(DocumentTest, ReadOnlyDocumentsAreNeverStored) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "S", 0, 0, GVTYPE_TEXT, "v", 0), 0u);
  GVNOTEID id = Keep(doc);
  doc = Open(id, GVOPEN_READONLY);
  ASSERT_EQ(GVItemPut(doc, "S", 0, 0, GVTYPE_TEXT, "w", 0), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_READ_ONLY);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u) << "closing a looked-at document stores nothing";
  doc = Open(id);
  EXPECT_EQ(Text(doc, "S"), "v");
}

TEST_P(DocumentTest, DeletedDocumentsAreGone) {
  GVNOTEID id = Keep(NewDoc());
  GVDOC held = Open(id);
  ASSERT_EQ(GVDocumentDelete(db_, id, 0), 0u);
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentOpen(db_, id, 0, &doc), GVERR_NO_ENTRY);
  EXPECT_EQ(doc, 0u);
  ASSERT_EQ(GVItemPut(held, "S", 0, 0, GVTYPE_TEXT, "late", 0), 0u);
  EXPECT_EQ(GVDocumentSave(held, 0), GVERR_NO_ENTRY);
  for (GVNOTEID bad : {0u, 3u, id, 0xFFFFFFFEu})
    EXPECT_EQ(GVDocumentDelete(db_, bad, 0), GVERR_NO_ENTRY) << bad;
  // Design notes are not documents.
  store_.Query(root(), "doc.odb",
               OnFiles() ? "INSERT INTO note(id, unid, class, design_key, created, modified, seq) "
                           "VALUES(500, randomblob(16), 256, 'f', zeroblob(8), zeroblob(8), 1)"
                         : "INSERT INTO note(id, unid, class, design_key, created, modified, seq) "
                           "VALUES(500, decode(md5('f'), 'hex'), 256, 'f', '\\x0000000000000000', "
                           "'\\x0000000000000000', 1)");
  EXPECT_EQ(GVDocumentOpen(db_, 500, 0, &doc), GVERR_NO_ENTRY);
  EXPECT_EQ(GVDocumentDelete(db_, 500, 0), GVERR_NO_ENTRY);
}

TEST_P(DocumentTest, StoresMergeItemByItem) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "A", 0, 0, GVTYPE_TEXT, "a0", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "B", 0, 0, GVTYPE_TEXT, "b0", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "C", 0, 0, GVTYPE_TEXT, "c0", 0), 0u);
  GVNOTEID id = Keep(doc);
  GVDB other = 0;
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "doc.odb", 0, &other), 0u);
  GVDOC one = Open(id), two = 0;
  ASSERT_EQ(GVDocumentOpen(other, id, 0, &two), 0u);
  ASSERT_EQ(GVItemPut(one, "A", 0, 0, GVTYPE_TEXT, "a1", 0), 0u);
  ASSERT_EQ(GVItemPut(one, "C", 0, 0, GVTYPE_TEXT, "c1", 0), 0u);
  ASSERT_EQ(GVItemPut(two, "B", 0, 0, GVTYPE_TEXT, "b2", 0), 0u);
  ASSERT_EQ(GVItemPut(two, "C", 0, 0, GVTYPE_TEXT, "c2", 0), 0u);
  ASSERT_EQ(GVItemDelete(two, "Missing"), 0u);
  ASSERT_EQ(GVDocumentClose(one, 0), 0u);
  ASSERT_EQ(GVDocumentClose(two, 0), 0u);
  doc = Open(id);
  EXPECT_EQ(Text(doc, "A"), "a1");
  EXPECT_EQ(Text(doc, "B"), "b2");
  EXPECT_EQ(Text(doc, "C"), "c2") << "the same item: the last store wins";
}

// Two processes on one database: each sees the other's stores, and a document both store
// keeps both processes' items.
TEST_P(DocumentTest, TwoProcessesStoreAndReadEachOthersDocuments) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "A", 0, 0, GVTYPE_TEXT, "parent", 0), 0u);
  ASSERT_EQ(GVItemPut(doc, "B", 0, 0, GVTYPE_TEXT, "parent", 0), 0u);
  GVNOTEID shared = Keep(doc);
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  plexatest::Child child([&](plexatest::Child& self) {
    GVDB db = 0;
    uint32_t go = 0;
    if (GVDatabaseOpen(TestServer(), "doc.odb", 0, &db) != 0 || !self.Receive(go)) return 2;
    GVDOC d = 0;
    if (GVDocumentOpen(db, shared, 0, &d) != 0) return 3;
    if (GVItemPut(d, "A", 0, 0, GVTYPE_TEXT, "child", 0) != 0) return 4;
    if (GVDocumentClose(d, 0) != 0) return 5;
    if (GVDocumentCreate(db, 0, &d) != 0) return 6;
    if (GVItemPut(d, "From", 0, 0, GVTYPE_TEXT, "child", 0) != 0) return 7;
    if (GVDocumentSave(d, 0) != 0) return 8;
    GVNOTEID made = 0;
    GVDocumentGetProperty(d, GVDOCPROP_NOTE_ID, &made);
    self.Send(made);
    // Then it reads what the parent stored meanwhile.
    uint32_t stored = 0;
    if (!self.Receive(stored)) return 9;
    if (GVDocumentOpen(db, shared, GVOPEN_READONLY, &d) != 0) return 10;
    char b[32];
    uint32_t kind = GVTYPE_TEXT;
    if (GVItemFetch(d, "B", &kind, 0, sizeof b, b) != 0 || std::string(b) != "parent2") return 11;
    return 0;
  });
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "doc.odb", 0, &db_), 0u);
  GVDOC mine = Open(shared);
  ASSERT_EQ(GVItemPut(mine, "B", 0, 0, GVTYPE_TEXT, "parent2", 0), 0u);
  ASSERT_TRUE(child.Send(1));
  uint32_t made = 0;
  ASSERT_TRUE(child.Receive(made));
  ASSERT_NE(made, 0u);
  GVDOC theirs = Open(made);
  EXPECT_EQ(Text(theirs, "From"), "child");
  ASSERT_EQ(GVDocumentClose(mine, 0), 0u);
  ASSERT_TRUE(child.Send(1));
  EXPECT_EQ(child.Wait(), 0);
  doc = Open(shared);
  EXPECT_EQ(Text(doc, "A"), "child");
  EXPECT_EQ(Text(doc, "B"), "parent2");
}

// ---------------------------------------------------------------- copies -------------------

TEST_P(DocumentTest, ItemAndDocumentCopies) {
  GVDOC source = NewDoc();
  ASSERT_EQ(GVItemPut(source, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "one\ntwo", 0), 0u);
  ASSERT_EQ(GVItemPut(source, "Name", 0, 0, GVTYPE_TEXT, "n", 0), 0u);
  GVDOC target = NewDoc();
  ASSERT_EQ(GVItemPut(target, "Copy", 0, 0, GVTYPE_TEXT, "old", 0), 0u);
  ASSERT_EQ(GVItemCopy(source, "Body", target, "Copy"), 0u);
  ASSERT_EQ(GVItemCopy(source, "Name", target, nullptr), 0u);
  EXPECT_EQ(GVItemCopy(source, "Absent", target, nullptr), GVERR_NO_ITEM);
  uint32_t type = 0;
  ASSERT_EQ(GVItemGetInfo(target, "Copy", &type, nullptr, nullptr), 0u);
  EXPECT_EQ(type, GVTYPE_COMPOSITE);
  EXPECT_EQ(Text(target, "Copy"), "one\ntwo");
  EXPECT_EQ(Text(target, "Name"), "n");
  // A document copy keeps the identity: copied again, it replaces its earlier copy.
  GVNOTEID id = Keep(source);
  GVDB other = 0;
  ASSERT_EQ(GVDatabaseCreate(TestServer(), "other.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  ASSERT_EQ(GVDatabaseOpen(TestServer(), "other.odb", 0, &other), 0u);
  GVNOTEID first = 0, second = 0;
  ASSERT_EQ(GVDocumentCopy(db_, id, other, &first), 0u);
  GVDOC changed = Open(id);
  ASSERT_EQ(GVItemPut(changed, "Name", 0, 0, GVTYPE_TEXT, "n2", 0), 0u);
  Keep(changed);
  ASSERT_EQ(GVDocumentCopy(db_, id, other, &second), 0u);
  EXPECT_EQ(first, second);
  GVDOC copy = 0;
  ASSERT_EQ(GVDocumentOpen(other, first, 0, &copy), 0u);
  EXPECT_EQ(Text(copy, "Name"), "n2");
  uint8_t a[GV_UNID_SIZE], b[GV_UNID_SIZE];
  ASSERT_EQ(GVDocumentGetProperty(copy, GVDOCPROP_UNID, a), 0u);
  changed = Open(id);
  ASSERT_EQ(GVDocumentGetProperty(changed, GVDOCPROP_UNID, b), 0u);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(GVDocumentCopy(db_, 9998, other, nullptr), GVERR_NO_ENTRY);
}

// ---------------------------------------------------------------- attachments --------------

TEST_P(DocumentTest, AttachmentsArePendingUntilStoredAndExtractable) {
  std::string file = Local("report.txt");
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string("line\0with zero", 14);
  }
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVAttachmentAttach(doc, file.c_str(), nullptr, 0, 0), 0u);
  ASSERT_EQ(GVAttachmentAttach(doc, file.c_str(), "b.bin", 0, 0), 0u);
  EXPECT_EQ(GVAttachmentAttach(doc, Local("none").c_str(), nullptr, 0, 0), GVERR_FILE);
  EXPECT_EQ(GVAttachmentAttach(doc, file.c_str(), "../up", 0, 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVAttachmentAttach(doc, file.c_str(), "", 0, 0), GVERR_INVALID_ARGUMENT);
  auto names = [](GVDOC d) {
    std::vector<std::string> out;
    GVAttachmentInfo info;
    for (uint32_t pos = GV_LIST_FIRST; GVAttachmentList(d, pos, &info) == 0; pos = GV_LIST_NEXT) {
      out.push_back(info.name);
      EXPECT_EQ(info.size, 14u);
    }
    return out;
  };
  EXPECT_EQ(names(doc), (std::vector<std::string>{"b.bin", "report.txt"}));
  ASSERT_EQ(GVAttachmentExtract(doc, "b.bin", Local("pending.out").c_str()), 0u);
  GVNOTEID id = Keep(doc);
  doc = Open(id);
  EXPECT_EQ(names(doc), (std::vector<std::string>{"b.bin", "report.txt"}));
  ASSERT_EQ(GVAttachmentExtract(doc, "report.txt", Local("stored.out").c_str()), 0u);
  auto read = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_EQ(read(Local("pending.out")), read(file));
  EXPECT_EQ(read(Local("stored.out")), read(file));
  EXPECT_EQ(GVAttachmentExtract(doc, "nope", Local("x.out").c_str()), GVERR_NO_ATTACHMENT);
  EXPECT_EQ(GVAttachmentExtract(doc, "b.bin", Local("no/such/dir/x").c_str()), GVERR_FILE);
  GVDOC target = NewDoc();
  ASSERT_EQ(GVAttachmentCopy(doc, "b.bin", target), 0u);
  EXPECT_EQ(GVAttachmentCopy(doc, "nope", target), GVERR_NO_ATTACHMENT);
  EXPECT_EQ(names(target), (std::vector<std::string>{"b.bin"}));
  // NEXT without a walk starts one.
  GVAttachmentInfo info;
  ASSERT_EQ(GVAttachmentList(target, GV_LIST_NEXT, &info), 0u);
  EXPECT_EQ(GVAttachmentList(target, GV_LIST_NEXT, &info), GVERR_NO_MORE);
}

// ---------------------------------------------------------------- core header --------------

TEST_P(DocumentTest, TheIdentityHeaderCanBeReadAndRewritten) {
  GVNOTEID id = Keep(NewDoc());
  GVDOC doc = Open(id);
  uint32_t core = 0;
  ASSERT_EQ(GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core), 0u);
  NXIdentity header{};
  ASSERT_EQ(_GVCoreHeader(core, NXHEADER_IDENTITY, &header, 0), 0u);
  uint8_t unid[GV_UNID_SIZE];
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid), 0u);
  EXPECT_EQ(std::memcmp(header.unid, unid, GV_UNID_SIZE), 0);
  EXPECT_EQ(header.sequence, 1u);
  std::memset(header.unid, 0x42, GV_UNID_SIZE);
  ASSERT_EQ(_GVCoreHeader(core, NXHEADER_IDENTITY, &header, 1), 0u);
  Keep(doc);
  doc = Open(id);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid), 0u);
  EXPECT_EQ(unid[0], 0x42);
  // Another note taking that identity fails at its store.
  GVDOC twin = NewDoc();
  ASSERT_EQ(GVDocumentGetOrdexHandle(twin, GVHANDLE_CORE, &core), 0u);
  ASSERT_EQ(_GVCoreHeader(core, NXHEADER_IDENTITY, &header, 1), 0u);
  EXPECT_EQ(GVDocumentSave(twin, 0), GVERR_EXISTS);
  EXPECT_EQ(_GVCoreHeader(core, 3, &header, 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(_GVCoreHeader(db_, NXHEADER_IDENTITY, &header, 0), GVERR_INVALID_HANDLE);
}

// ---------------------------------------------------------------- composites ---------------

TEST_P(DocumentTest, CompositesPutIntoItemsAndWrittenBackOnStore) {
  GVDOC doc = NewDoc();
  auto comp = std::make_unique<plexa::Composite>();
  comp->doc = doc;
  comp->records = plexa::rt::FromText("alpha\nbeta");
  GVCOMP handle = 0;
  ASSERT_EQ(plexa::AddHandle(std::move(comp), doc, handle), 0u);
  struct Case {
    const char* name;
    uint32_t storeAs;
    uint32_t type;
    const char* text;
  } cases[] = {
      {"AsText", GVTYPE_TEXT, GVTYPE_TEXT, "alpha\nbeta"},
      {"AsList", GVTYPE_TEXT_LIST, GVTYPE_TEXT_LIST, "alpha, beta"},
      {"AsRich", GVTYPE_COMPOSITE, GVTYPE_COMPOSITE, "alpha\nbeta"},
      {"AsIs", 0, GVTYPE_COMPOSITE, "alpha\nbeta"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(GVItemPut(doc, c.name, c.storeAs, 0, GVTYPE_COMPOSITE, &handle, 0), 0u) << c.name;
    uint32_t type = 0;
    ASSERT_EQ(GVItemGetInfo(doc, c.name, &type, nullptr, nullptr), 0u);
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(Text(doc, c.name), c.text) << c.name;
  }
  GVCOMP bogus = 0xFFFFFF;
  EXPECT_EQ(GVItemPut(doc, "X", 0, 0, GVTYPE_COMPOSITE, &bogus, 0), GVERR_INVALID_HANDLE);
  // A bound, changed composite still open at the store is written back then.
  auto bound = std::make_unique<plexa::Composite>();
  bound->doc = doc;
  bound->item = "Body";
  bound->records = plexa::rt::FromText("bound");
  bound->dirty = true;
  GVCOMP b = 0;
  ASSERT_EQ(plexa::AddHandle(std::move(bound), doc, b), 0u);
  GVNOTEID id = Keep(doc);
  EXPECT_EQ(plexa::FindHandle(b, plexa::HandleKind::kComposite), nullptr)
      << "composites close with their document";
  doc = Open(id);
  EXPECT_EQ(Text(doc, "Body"), "bound");
}

// ---------------------------------------------------------------- design hooks -------------

// Stand-ins for the design unit: one form with the field "Subject" (default "none"), and an
// indexer that records what it was told.
class FakeDesign : public plexa::DesignHooks,
                   public plexa::IndexMaintainer,
                   public plexa::FormCatalog {
 public:
  plexa::IndexMaintainer* Indexer(plexa::Database&) override { return this; }
  plexa::FormCatalog* Forms(plexa::Database&) override { return this; }
  uint32_t OnStore(plexa::Txn&, GVNOTEID note, const plexa::ItemSource& merged) override {
    plexa::Value v;
    stored.push_back(note);
    seenA.push_back(merged.Find("a", v) && !v.texts.empty() ? v.texts.front() : "");
    return failStore;
  }
  uint32_t OnDelete(plexa::Txn&, GVNOTEID note) override {
    deleted.push_back(note);
    return 0;
  }
  uint32_t Defaults(plexa::Txn&, GVNOTEID form, plexa::ItemSink& doc) override {
    return doc.Set("Subject", plexa::Value::Text("none"));
  }
  bool IsField(GVNOTEID form, std::string_view item) override {
    return plexa::FoldAscii(item) == "subject";
  }
  std::vector<GVNOTEID> stored, deleted;
  std::vector<std::string> seenA;
  uint32_t failStore = 0;
};

// ---------------------------------------------------------------- bulk stores ------------

// Stores a new document {Name: name} closed as flags say; the close's status.
uint32_t CloseNew(GVDB db, const std::string& name, uint32_t flags) {
  GVDOC doc = 0;
  if (uint32_t st = GVDocumentCreate(db, 0, &doc)) return st;
  if (uint32_t st = GVItemPut(doc, "Name", 0, 0, GVTYPE_TEXT, name.c_str(), 0)) return st;
  return GVDocumentClose(doc, flags);
}

class BulkTest : public DocumentStore {
 protected:
  void SetUp() override {
    DocumentStore::SetUp();
    raw_ = std::make_unique<RawDb>(Local("doc.odb"));
  }
  void TearDown() override {
    raw_.reset();
    DocumentStore::TearDown();
  }
  // What another connection sees: committed documents, and commits so far.
  int64_t Visible() { return raw_->Int("SELECT COUNT(*) FROM note WHERE class = 1"); }
  int64_t Commits() { return raw_->Int("SELECT value FROM meta WHERE key = 'commit_seq'"); }
  void SetPeriod(std::chrono::milliseconds period) {
    plexa::FindDatabase(db_)->set_bulk_period(period);
  }
  GVDB Reopen() {
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(TestServer(), "doc.odb", 0, &db), 0u);
    return db;
  }
  std::unique_ptr<RawDb> raw_;
};

TEST_F(BulkTest, BulkClosesShareATransactionCommittedByCountAgeAndTheNextCall) {
  // The age limit out of the way, batches end at each thousandth document.
  SetPeriod(std::chrono::hours(1));
  int64_t before = Commits();
  for (int i = 0; i < 2500; ++i)
    ASSERT_EQ(CloseNew(db_, "n" + std::to_string(i), GVCLOSE_BULK), 0u);
  EXPECT_EQ(Visible(), 2000);
  EXPECT_EQ(Commits() - before, 2);
  // Any other call on the database commits the rest before it runs, reads included.
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  ASSERT_EQ(GVIndexSearch(ix, "SELECT Name = 'n2499'", 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 1u);
  EXPECT_EQ(Visible(), 2500);
  EXPECT_EQ(Commits() - before, 3);
  // Deletes in bulk take part too, and closing the database commits them.
  GVNOTEID first = 0;
  ASSERT_EQ(GVIndexNavigate(ix, GVNAV_NEXT, 0, &first, nullptr), 0u);
  ASSERT_EQ(GVIndexClose(ix), 0u);
  ASSERT_EQ(GVDocumentDelete(db_, first, GVCLOSE_BULK), 0u);
  ASSERT_EQ(CloseNew(db_, "last", GVCLOSE_BULK), 0u);
  EXPECT_EQ(Visible(), 2500);
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  db_ = 0;
  EXPECT_EQ(Visible(), 2500);
  EXPECT_EQ(raw_->Int("SELECT COUNT(*) FROM note WHERE id = " + std::to_string(first)), 0);
  EXPECT_EQ(Commits() - before, 4);
  // Once a batch is older than its period, the next bulk close commits it.
  db_ = Reopen();
  SetPeriod(std::chrono::milliseconds(0));
  before = Commits();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CloseNew(db_, "aged", GVCLOSE_BULK), 0u);
  EXPECT_EQ(Commits() - before, 3);
}

TEST_F(BulkTest, AFailedCommitLosesTheWholeBatchAndIsAnswered) {
  SetPeriod(std::chrono::hours(1));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CloseNew(db_, "kept", 0), 0u);
  // A commit that the engine refuses: the whole batch goes and the close answers it.
  raw_->Exec(
      "CREATE TRIGGER refuse BEFORE UPDATE ON meta WHEN NEW.key = 'commit_seq' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CloseNew(db_, "lost", GVCLOSE_BULK), 0u);
  EXPECT_EQ(GVDatabaseClose(db_, 0), GVERR_ENGINE);
  EXPECT_EQ(
      plexatest::CountNamed(plexatest::PackedItems(raw_->Column("SELECT items FROM note")), "Name"),
      3u);
  EXPECT_EQ(raw_->Int("SELECT COUNT(*) FROM fulltext WHERE fulltext MATCH 'lost'"), 0);
  // The same failure answered by the next call that reaches the database.
  db_ = Reopen();
  SetPeriod(std::chrono::hours(1));
  ASSERT_EQ(CloseNew(db_, "lost", GVCLOSE_BULK), 0u);
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(db_, &ix), 0u);
  EXPECT_EQ(GVIndexSearch(ix, nullptr, 0, 0), GVERR_ENGINE);
  raw_->Exec("DROP TRIGGER refuse");
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 3u);
}

TEST_F(BulkTest, AnotherHandleOfTheThreadOnTheFileCommitsTheBatchFirst) {
  SetPeriod(std::chrono::hours(1));
  // Without that, the other handle would wait for the write lock that this one holds.
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 1), 0u);
  GVDB other = Reopen();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(CloseNew(db_, "bulk", GVCLOSE_BULK), 0u);
  ASSERT_EQ(CloseNew(other, "plain", GVCLOSE_STORE), 0u);
  EXPECT_EQ(Visible(), 4);
  // A failure of that forced commit is answered by the bulk handle's next call.
  raw_->Exec(
      "CREATE TRIGGER refuse BEFORE UPDATE ON meta WHEN NEW.key = 'commit_seq' "
      "AND (SELECT COUNT(*) FROM note WHERE class = 1) > 4 BEGIN SELECT RAISE(ABORT, 'x'); END");
  ASSERT_EQ(CloseNew(db_, "bulk", GVCLOSE_BULK), 0u);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(other, 0, &doc), 0u);
  ASSERT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
  GVINDEX ix = 0;
  ASSERT_EQ(GVIndexOpen(other, &ix), 0u);
  ASSERT_EQ(GVIndexSearch(ix, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVIndexGetCount(ix), 4u);
  EXPECT_EQ(GVDatabaseClose(db_, 0), GVERR_ENGINE);
  db_ = 0;
  raw_->Exec("DROP TRIGGER refuse");
  EXPECT_EQ(Visible(), 4);
}

class HookedTest : public DocumentStore {
 protected:
  void SetUp() override {
    previous_ = plexa::InstalledDesignHooks();
    plexa::InstallDesignHooks(&design_);
    DocumentStore::SetUp();
    RawDb raw(Local("doc.odb"));
    GVFormDesign form{};
    std::strcpy(form.name, "Memo");
    std::string blob(reinterpret_cast<const char*>(&form), sizeof form);
    raw.Exec(
        "INSERT INTO note(id, unid, class, design_key, created, modified, seq) VALUES"
        "(600, randomblob(16), 256, 'memo', zeroblob(8), zeroblob(8), 1);"
        "INSERT INTO form_def(form, design, body) VALUES(600, x'" +
        HexBlob(blob) + "', x'')");
  }
  void TearDown() override {
    DocumentStore::TearDown();
    plexa::InstallDesignHooks(previous_);
  }
  static std::string HexBlob(const std::string& b) {
    std::string h = Hex(b);
    h.erase(std::remove(h.begin(), h.end(), ' '), h.end());
    return h;
  }
  FakeDesign design_;
  plexa::DesignHooks* previous_ = nullptr;
};

TEST_F(HookedTest, FormsGiveDefaultsAndTheFormCheckKeepsToTheirFields) {
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 600, &doc), 0u);
  EXPECT_EQ(Text(doc, "Form"), "Memo");
  EXPECT_EQ(Text(doc, "Subject"), "none");
  EXPECT_EQ(GVDocumentCreate(db_, 602, &doc), GVERR_NO_FORM);
  // Off until the database's check is on; then only fields, "Form" and "$" names pass.
  ASSERT_EQ(GVItemPut(doc, "Other", 0, 0, GVTYPE_TEXT, "x", 0), 0u);
  ASSERT_EQ(GVDatabaseSetProperty(db_, GVDBPROP_FORM_CHECK, 1), 0u);
  EXPECT_EQ(GVItemPut(doc, "Other", 0, 0, GVTYPE_TEXT, "y", 0), GVERR_NO_FIELD);
  EXPECT_EQ(Text(doc, "Other"), "x");
  EXPECT_EQ(GVItemPut(doc, "SUBJECT", 0, 0, GVTYPE_TEXT, "s", 0), 0u);
  EXPECT_EQ(GVItemPut(doc, "$Ref", 0, 0, GVTYPE_TEXT, "r", 0), 0u);
  uint32_t core = 0;
  ASSERT_EQ(GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core), 0u);
  std::string one = Bytes({1, 0, 1, 0, 'x'});
  EXPECT_EQ(_GVCoreItemAppend(core, "Other", 5, NXTYPE_TEXT, one.data(), 5), GVERR_NO_FIELD);
  uint32_t off = 0;
  ASSERT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &off), 0u);
  EXPECT_EQ(GVItemPut(doc, "Other", 0, 0, GVTYPE_TEXT, "z", 0), 0u);
  // A scratch document without a form is made and read under the check (the connector's
  // stamp window reads its creation time); what is put on it keeps to the check: nothing
  // but "Form" and "$" names until it names a form.
  GVDOC bare = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 0, &bare), 0u);
  GVTIMEDATE created{};
  EXPECT_EQ(GVDocumentGetProperty(bare, GVDOCPROP_CREATED, &created), 0u);
  EXPECT_NE(created.date, 0u);
  EXPECT_EQ(GVItemPut(bare, "Subject", 0, 0, GVTYPE_TEXT, "s", 0), GVERR_NO_FORM);
  EXPECT_EQ(GVItemPut(bare, "$Ref", 0, 0, GVTYPE_TEXT, "r", 0), 0u);
  ASSERT_EQ(GVDocumentGetOrdexHandle(bare, GVHANDLE_CORE, &core), 0u);
  EXPECT_EQ(_GVCoreItemAppend(core, "Other", 5, NXTYPE_TEXT, one.data(), 5), GVERR_NO_FORM);
  ASSERT_EQ(GVItemPut(bare, "Form", 0, 0, GVTYPE_TEXT, "Memo", 0), 0u);
  EXPECT_EQ(GVItemPut(bare, "Subject", 0, 0, GVTYPE_TEXT, "s", 0), 0u);
  EXPECT_EQ(GVItemPut(bare, "Other", 0, 0, GVTYPE_TEXT, "o", 0), GVERR_NO_FIELD);
  EXPECT_EQ(GVDocumentClose(bare, GVCLOSE_DISCARD), 0u);
  GVNOTEID form = 0;
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_FORM, &form), 0u);
  EXPECT_EQ(form, 600u);
}

TEST_F(HookedTest, TheIndexerSeesEveryStoreWithTheMergedItems) {
  GVDOC doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "A", 0, 0, GVTYPE_TEXT, "first", 0), 0u);
  GVNOTEID id = Keep(doc);
  // Another handle changes a different item: the indexer sees A as stored before.
  doc = Open(id);
  ASSERT_EQ(GVItemPut(doc, "B", 0, 0, GVTYPE_TEXT, "b", 0), 0u);
  Keep(doc);
  Keep(Open(id));  // unchanged: no store, no indexing
  EXPECT_EQ(design_.stored, (std::vector<GVNOTEID>{id, id}));
  EXPECT_EQ(design_.seenA, (std::vector<std::string>{"first", "first"}));
  ASSERT_EQ(GVDocumentDelete(db_, id, 0), 0u);
  EXPECT_EQ(design_.deleted, (std::vector<GVNOTEID>{id}));
  // A failing indexer fails the store and nothing lands.
  design_.failStore = GVERR_ENGINE;
  doc = NewDoc();
  ASSERT_EQ(GVItemPut(doc, "A", 0, 0, GVTYPE_TEXT, "x", 0), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_ENGINE);
  EXPECT_EQ(IdOf(doc), 0u);
  RawDb raw(Local("doc.odb"));
  EXPECT_EQ(raw.Int("SELECT COUNT(*) FROM note WHERE class = 1"), 0);
  EXPECT_EQ(raw.Int("SELECT COUNT(*) FROM fulltext"), 0);
}

TEST_F(HookedTest, ABulkStoreThatFailsLeavesOnlyItselfOut) {
  plexa::FindDatabase(db_)->set_bulk_period(std::chrono::hours(1));
  ASSERT_EQ(CloseNew(db_, "one", GVCLOSE_BULK), 0u);
  design_.failStore = GVERR_ENGINE;
  EXPECT_EQ(CloseNew(db_, "two", GVCLOSE_BULK), GVERR_ENGINE);
  design_.failStore = 0;
  ASSERT_EQ(CloseNew(db_, "three", GVCLOSE_BULK), 0u);
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  db_ = 0;
  RawDb raw(Local("doc.odb"));
  EXPECT_EQ(raw.Int("SELECT COUNT(*) FROM note WHERE class = 1"), 2);
  EXPECT_EQ(
      plexatest::CountNamed(plexatest::PackedItems(raw.Column("SELECT items FROM note")), "Name"),
      2u);
  const struct {
    const char* word;
    int64_t rows;
  } words[] = {{"one", 1}, {"two", 0}, {"three", 1}};
  for (const auto& w : words)
    EXPECT_EQ(
        raw.Int(std::string("SELECT COUNT(*) FROM fulltext WHERE fulltext MATCH '") + w.word + "'"),
        w.rows)
        << w.word;
}

INSTANTIATE_TEST_SUITE_P(Stores, DocumentTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
