// nordex over libplexapi: the connector's rich-text read (first and next items, value blocks
// locked and read after their type word), appends stored with the document, type words and
// head blocks, the identity header, and the ordinal table. Links the two shared libraries,
// as the programs that use them do.
#include "nordex.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "plat_test_util.h"
#include "plexapi.h"

namespace {

// Records as the API writes a text run: 4-byte header, style word, text, padding.
std::string TextRecord(const std::string& text) {
  size_t length = 8 + text.size();
  std::string r = {static_cast<char>(GVCDSIG_TEXT),
                   static_cast<char>(0xFF),
                   static_cast<char>(length & 0xFF),
                   static_cast<char>(length >> 8),
                   0,
                   0,
                   0,
                   0};
  r += text;
  if (length % 2) r += '\0';
  return r;
}

uint16_t Word(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

class NordexTest : public ::testing::Test {
 protected:
  NordexTest() : env_("PLEXA_ROOT", root_.path().c_str()) {}
  void SetUp() override {
    ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
    ASSERT_EQ(GVDatabaseCreate(nullptr, "core.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
    ASSERT_EQ(GVDatabaseOpen(nullptr, "core.odb", 0, &db_), 0u);
    ASSERT_EQ(GVDocumentCreate(db_, 0, &doc_), 0u);
    ASSERT_EQ(GVDocumentGetOrdexHandle(doc_, GVHANDLE_CORE, &core_), 0u);
  }
  void TearDown() override {
    GVDatabaseClose(db_, 0);
    GVTerm(0);
  }
  // The records of every piece of name the way the connector reads rich text: the value
  // lengths less the type word of the composite items summed, then each value copied after
  // its word.
  std::string ReadRichText(NXDOC core, const char* name, size_t* pieces = nullptr) {
    const auto n = static_cast<uint16_t>(std::strlen(name));
    std::vector<std::pair<NXBLOCK, uint32_t>> values;
    size_t total = 0;
    NXBLOCK item = 0, value = 0;
    uint16_t type = 0;
    uint32_t length = 0;
    uint16_t st = NXItemFirst(core, name, n, &item, &type, &value, &length);
    for (; st == 0; st = NXItemNext(core, item, name, n, &item, &type, &value, &length)) {
      if (type != NXTYPE_COMPOSITE) continue;
      total += length - 2;
      values.emplace_back(value, length);
    }
    EXPECT_EQ(st, NXERR_NO_ITEM);
    std::string out;
    for (auto [block, size] : values) {
      const void* p = NXBlockLock(block);
      EXPECT_NE(p, nullptr);
      if (p == nullptr) continue;
      EXPECT_EQ(Word(p), NXTYPE_COMPOSITE);
      out.append(static_cast<const char*>(p) + 2, size - 2);
      EXPECT_EQ(NXBlockUnlock(block), 0);
    }
    EXPECT_EQ(out.size(), total);
    if (pieces != nullptr) *pieces = values.size();
    return out;
  }
  std::string Records(GVDOC doc, const char* name) {
    uint32_t length = 0;
    if (GVItemGetInfo(doc, name, nullptr, nullptr, &length) != 0) return "<none>";
    std::string out(length, '\0');
    uint32_t kind = 0;
    EXPECT_EQ(GVItemFetch(doc, name, &kind, 0, length, out.data()), 0u);
    return out;
  }
  uint32_t LastStatus() {
    uint32_t st = 0;
    GVErrorFetch(&st, nullptr, nullptr);
    return st;
  }
  // Stores and closes doc_, opens the note again (flags), with its new core handle.
  void StoreAndReopen(uint32_t flags = 0) {
    GVNOTEID id = 0;
    ASSERT_EQ(GVDocumentSave(doc_, 0), 0u);
    ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_NOTE_ID, &id), 0u);
    ASSERT_EQ(GVDocumentClose(doc_, 0), 0u);
    ASSERT_EQ(GVDocumentOpen(db_, id, flags, &doc_), 0u);
    ASSERT_EQ(GVDocumentGetOrdexHandle(doc_, GVHANDLE_CORE, &core_), 0u);
  }

  twtest::TempDir root_;
  twtest::ScopedEnv env_;
  GVDB db_ = 0;
  GVDOC doc_ = 0;
  uint32_t core_ = 0;
};

TEST_F(NordexTest, TheConnectorsRichTextReadJoinsEveryPiece) {
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  std::string chunk(4990, 'r');
  for (int i = 0; i < 30; ++i) ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, chunk.c_str()), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  ASSERT_EQ(GVItemPut(doc_, "Other", 0, 0, GVTYPE_TEXT, "between", 0), 0u);
  StoreAndReopen(GVOPEN_READONLY);
  size_t pieces = 0;
  const std::string read = ReadRichText(core_, "body", &pieces);
  EXPECT_EQ(pieces, 3u);
  EXPECT_EQ(read.size(), 30u * 4998);
  EXPECT_EQ(read, Records(doc_, "Body"));
}

TEST_F(NordexTest, AppendedPiecesAreStoredWithTheDocumentAndReadBack) {
  // The control store's store of a rich-text field: the item deleted, then pieces appended.
  std::string first = TextRecord("first") + TextRecord(std::string(3001, 'x'));
  std::string second = TextRecord("second");
  ASSERT_EQ(GVItemPut(doc_, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "old", 0), 0u);
  ASSERT_EQ(GVItemDelete(doc_, "Body"), 0u);
  ASSERT_EQ(NXItemAppend(core_, 0, "Body", 4, NXTYPE_COMPOSITE, first.data(),
                         static_cast<uint32_t>(first.size())),
            0);
  ASSERT_EQ(NXItemAppend(core_, 0, "Body", 4, NXTYPE_COMPOSITE, second.data(),
                         static_cast<uint32_t>(second.size())),
            0);
  EXPECT_EQ(Records(doc_, "Body"), first + second) << "seen by the API at once";
  StoreAndReopen();
  uint32_t count = 0;
  ASSERT_EQ(GVItemGetInfo(doc_, "Body", nullptr, &count, nullptr), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ReadRichText(core_, "Body"), first + second);
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeOpen(doc_, "Body", &comp), 0u);
  ASSERT_EQ(GVItemPut(doc_, "Joined", GVTYPE_TEXT, 0, GVTYPE_COMPOSITE, &comp, 0), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_DISCARD), 0u);
  char text[64] = "";
  uint32_t kind = GVTYPE_TEXT;
  ASSERT_EQ(GVItemFetch(doc_, "Joined", &kind, 0, 16, text), 0u);
  EXPECT_STREQ(text, "firstxxxxxxxxxx");
}

TEST_F(NordexTest, AStoreAddsTheAppendedPiecesBesideThoseStored) {
  // A log that grows a line at a time: each store adds the new piece and leaves the stored
  // ones, including those another handle of the note stored meanwhile.
  auto append = [](NXDOC core, const std::string& records) {
    return NXItemAppend(core, 0, "Body", 4, NXTYPE_COMPOSITE, records.data(),
                        static_cast<uint32_t>(records.size()));
  };
  const std::string a = TextRecord("a"), b = TextRecord("b"), c = TextRecord("c");
  ASSERT_EQ(append(core_, a), 0);
  StoreAndReopen();
  GVNOTEID id = 0;
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_NOTE_ID, &id), 0u);
  GVDOC other = 0;
  uint32_t otherCore = 0;
  ASSERT_EQ(GVDocumentOpen(db_, id, 0, &other), 0u);
  ASSERT_EQ(GVDocumentGetOrdexHandle(other, GVHANDLE_CORE, &otherCore), 0u);
  ASSERT_EQ(append(core_, b), 0);
  ASSERT_EQ(append(otherCore, c), 0);
  ASSERT_EQ(GVDocumentSave(other, 0), 0u);
  ASSERT_EQ(GVDocumentSave(doc_, 0), 0u);
  ASSERT_EQ(GVDocumentSave(doc_, 0), 0u);  // nothing new: nothing stored twice
  ASSERT_EQ(GVDocumentClose(other, 0), 0u);
  StoreAndReopen();
  size_t pieces = 0;
  EXPECT_EQ(ReadRichText(core_, "Body", &pieces), a + c + b);
  EXPECT_EQ(pieces, 3u);

  // An append followed by a change of the whole item stores the item as changed.
  ASSERT_EQ(append(core_, TextRecord("dropped")), 0);
  ASSERT_EQ(GVItemDelete(doc_, "Body"), 0u);
  ASSERT_EQ(append(core_, c), 0);
  StoreAndReopen();
  EXPECT_EQ(ReadRichText(core_, "Body", &pieces), c);
  EXPECT_EQ(pieces, 1u);
}

TEST_F(NordexTest, TypeWordsHeadBlocksAndValueBlocksOfEachItemType) {
  double number = 2.0;
  GVTIMEDATE time{5082900, 2450393u | (0x7Bu << 24)};
  ASSERT_EQ(GVItemPut(doc_, "N", 0, 0, GVTYPE_NUMBER, &number, 0), 0u);
  ASSERT_EQ(GVItemPut(doc_, "T", 0, 0, GVTYPE_TEXT, "ab", 0), 0u);
  ASSERT_EQ(GVItemPut(doc_, "D", 0, 0, GVTYPE_TIME, &time, 0), 0u);
  const uint8_t list[] = {2, 0, 1, 0, 2, 0, 'a', 'b', 'c'};
  ASSERT_EQ(GVItemPut(doc_, "L", 0, sizeof list, GVTYPE_TEXT_LIST, list, 0), 0u);
  struct Case {
    const char* name;
    uint16_t word;
    std::string value;  // after the type word
  } cases[] = {
      {"N", NXTYPE_NUMBER, std::string("\1\0\0\0\0\0\0\0\0\0\0\x40", 12)},
      {"T", NXTYPE_TEXT, std::string("\1\0\2\0ab", 6)},
      {"D", NXTYPE_TIME, std::string("\1\0\0\0\x14\x8F\x4D\0\xD9\x63\x25\x7B", 12)},
      {"L", NXTYPE_TEXT_LIST, std::string(reinterpret_cast<const char*>(list), sizeof list)},
  };
  for (const Case& c : cases) {
    NXBLOCK item = 0, value = 0;
    uint16_t type = 0;
    uint32_t length = 0;
    ASSERT_EQ(NXItemFirst(core_, c.name, 1, &item, &type, &value, &length), 0) << c.name;
    EXPECT_EQ(type, c.word) << c.name;
    EXPECT_EQ(length, c.value.size() + 2) << c.name;
    const void* v = NXBlockLock(value);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Word(v), c.word);
    EXPECT_EQ(std::string(static_cast<const char*>(v) + 2, c.value.size()), c.value) << c.name;
    EXPECT_EQ(NXBlockUnlock(value), 0);
    const void* h = NXBlockLock(item);
    ASSERT_NE(h, nullptr);
    NXItemHead head;
    std::memcpy(&head, h, sizeof head);
    EXPECT_EQ(head.nameLength, 1u);
    EXPECT_EQ(head.valueType, c.word);
    EXPECT_EQ(head.valueLength, length);
    EXPECT_EQ(static_cast<const char*>(h)[sizeof head], c.name[0]);
    EXPECT_EQ(NXBlockUnlock(item), 0);
    // Only the outputs asked for are written.
    EXPECT_EQ(NXItemFirst(core_, c.name, 1, nullptr, nullptr, nullptr, nullptr), 0);
  }
}

TEST_F(NordexTest, FailuresAnswerTheLowHalfOfThePlexaStatus) {
  NXBLOCK item = 77, value = 77;
  uint16_t type = 77;
  uint32_t length = 77;
  EXPECT_EQ(NXItemFirst(core_, "None", 4, &item, &type, &value, &length), NXERR_NO_ITEM);
  EXPECT_EQ(LastStatus(), GVERR_NO_ITEM);
  EXPECT_EQ(item + value + type + length, 4u * 77) << "outputs untouched";
  EXPECT_EQ(NXItemFirst(12345, "Body", 4, &item, &type, &value, &length), NXERR_INVALID_HANDLE);
  EXPECT_EQ(NXItemFirst(core_, nullptr, 4, &item, &type, &value, &length), NXERR_INVALID_ARGUMENT);
  EXPECT_EQ(NXItemFirst(core_, "Body", 0, &item, &type, &value, &length), NXERR_INVALID_ARGUMENT);
  EXPECT_EQ(NXItemNext(core_, 0, "Body", 4, &item, &type, &value, &length), NXERR_INVALID_HANDLE);
  EXPECT_EQ(NXBlockLock(0), nullptr);
  EXPECT_EQ(NXBlockLock(0xFFFFFFF0u), nullptr);
  EXPECT_EQ(NXBlockUnlock(0xFFFFFFF0u), NXERR_INVALID_HANDLE);

  const std::string broken = "\x85\xFF\x40\x00";  // a record longer than the bytes
  const std::string records = TextRecord("ok");
  struct Case {
    const char* what;
    uint16_t type;
    std::string value;
    uint16_t status;
  } cases[] = {
      {"not whole records", NXTYPE_COMPOSITE, broken, NXERR_COMPOSITE},
      {"an unknown type word", 0x0109, records, NXERR_INVALID_ARGUMENT},
      {"a text above the value limit", NXTYPE_TEXT,
       std::string("\1\0\xE5\xFD", 4) + std::string(64997, 't'), NXERR_TOO_BIG},
      {"a malformed list", NXTYPE_TEXT_LIST, std::string("\5\0", 2), NXERR_INVALID_ARGUMENT},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NXItemAppend(core_, 0, "Body", 4, c.type, c.value.data(),
                           static_cast<uint32_t>(c.value.size())),
              c.status)
        << c.what;
    EXPECT_EQ(LastStatus(), 0x80000000u | c.status) << c.what;
  }
  std::string huge((16u << 20) + 1, '\0');
  EXPECT_EQ(NXItemAppend(core_, 0, "Body", 4, NXTYPE_COMPOSITE, huge.data(),
                         static_cast<uint32_t>(huge.size())),
            NXERR_TOO_BIG);
  EXPECT_EQ(NXItemAppend(core_, 0, "Body", 4, NXTYPE_COMPOSITE, nullptr, 8),
            NXERR_INVALID_ARGUMENT);
  EXPECT_EQ(Records(doc_, "Body"), "<none>") << "no failed append left anything";

  // A read-only document refuses appends and identity writes.
  ASSERT_EQ(GVItemPut(doc_, "Keep", 0, 0, GVTYPE_TEXT, "x", 0), 0u);
  StoreAndReopen(GVOPEN_READONLY);
  EXPECT_EQ(NXItemAppend(core_, 0, "Body", 4, NXTYPE_COMPOSITE, records.data(),
                         static_cast<uint32_t>(records.size())),
            NXERR_READ_ONLY);
  NXIdentity id{};
  ASSERT_EQ(NXHeaderRead(core_, NXHEADER_IDENTITY, &id), 0);
  EXPECT_EQ(NXHeaderWrite(core_, NXHEADER_IDENTITY, &id), NXERR_READ_ONLY);
}

TEST_F(NordexTest, BlocksEndWithTheirItemAndTheirDocument) {
  ASSERT_EQ(GVItemPut(doc_, "Body", 0, 0, GVTYPE_TEXT, "one", 0), 0u);
  NXBLOCK item = 0, value = 0;
  ASSERT_EQ(NXItemFirst(core_, "Body", 4, &item, nullptr, &value, nullptr), 0);
  ASSERT_NE(NXBlockLock(value), nullptr);
  EXPECT_EQ(NXBlockUnlock(value), 0);
  EXPECT_EQ(NXBlockUnlock(value), NXERR_INVALID_HANDLE) << "one unlock per lock";
  // A changed item: its old blocks name nothing, and the walk cannot continue from them.
  ASSERT_EQ(GVItemPut(doc_, "Body", 0, 0, GVTYPE_TEXT, "two", 0), 0u);
  EXPECT_EQ(NXBlockLock(value), nullptr);
  EXPECT_EQ(NXItemNext(core_, item, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            NXERR_INVALID_HANDLE);
  ASSERT_EQ(NXItemFirst(core_, "Body", 4, &item, nullptr, &value, nullptr), 0);
  ASSERT_EQ(GVDocumentClose(doc_, GVCLOSE_DISCARD), 0u);
  EXPECT_EQ(NXBlockLock(value), nullptr);
  EXPECT_EQ(NXItemFirst(core_, "Body", 4, &item, nullptr, &value, nullptr), NXERR_INVALID_HANDLE);
  ASSERT_EQ(GVDocumentCreate(db_, 0, &doc_), 0u);
}

TEST_F(NordexTest, IdentityHeaderReadsAndWritesTheNotesUnid) {
  ASSERT_EQ(GVItemPut(doc_, "Subject", 0, 0, GVTYPE_TEXT, "first", 0), 0u);
  StoreAndReopen();
  NXIdentity id{};
  ASSERT_EQ(NXHeaderRead(core_, NXHEADER_IDENTITY, &id), 0);
  uint8_t unid[GV_UNID_SIZE];
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_UNID, unid), 0u);
  EXPECT_EQ(std::memcmp(id.unid, unid, GV_UNID_SIZE), 0);
  EXPECT_EQ(id.sequence, 1u);
  GVTIMEDATE created{};
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_CREATED, &created), 0u);
  EXPECT_EQ(std::memcmp(&id.created, &created, sizeof created), 0);
  EXPECT_EQ(NXHeaderRead(core_, 3, &id), NXERR_INVALID_ARGUMENT);
  EXPECT_EQ(NXHeaderRead(core_, NXHEADER_IDENTITY, nullptr), NXERR_INVALID_ARGUMENT);

  // The connector's UNID write on insert: the note takes the identity given.
  NXIdentity wanted = id;
  for (uint8_t& b : wanted.unid) b = 0x5A;
  wanted.sequence = 99;  // only the identity is written
  ASSERT_EQ(NXHeaderWrite(core_, NXHEADER_IDENTITY, &wanted), 0);
  StoreAndReopen();
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_UNID, unid), 0u);
  EXPECT_EQ(std::memcmp(unid, wanted.unid, GV_UNID_SIZE), 0);
  ASSERT_EQ(NXHeaderRead(core_, NXHEADER_IDENTITY, &id), 0);
  EXPECT_EQ(id.sequence, 2u);

  // Another note taking that identity fails at its store.
  GVDOC other = 0;
  uint32_t otherCore = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 0, &other), 0u);
  ASSERT_EQ(GVDocumentGetOrdexHandle(other, GVHANDLE_CORE, &otherCore), 0u);
  ASSERT_EQ(NXHeaderWrite(otherCore, NXHEADER_IDENTITY, &wanted), 0);
  EXPECT_EQ(GVDocumentSave(other, 0), GVERR_EXISTS);
  NXIdentity zeros{};
  EXPECT_EQ(NXHeaderWrite(otherCore, NXHEADER_IDENTITY, &zeros), NXERR_INVALID_ARGUMENT);
  GVDocumentClose(other, GVCLOSE_DISCARD);
}

TEST(NordexOrdinals, TheTableNamesTheExportedEntryPointsInOrder) {
  void* lib = dlopen("libnordex.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr) << dlerror();
  size_t rows = 0;
  uint32_t previous = 0;
  for (const NXOrdinal* row = NXOrdinalTable; row->name != nullptr; ++row, ++rows) {
    EXPECT_GT(row->ordinal, previous) << row->name;
    previous = row->ordinal;
    EXPECT_STREQ(NXOrdinalName(row->ordinal), row->name);
    EXPECT_NE(dlsym(lib, row->name), nullptr) << row->name;
  }
  EXPECT_EQ(rows, 7u);
  struct Case {
    uint32_t ordinal;
    const char* name;
  } cases[] = {{182, "NXBlockLock"},
               {183, "NXBlockUnlock"},
               {2006, "NXItemAppend"},
               {2050, "NXHeaderRead"},
               {2051, "NXHeaderWrite"},
               {2062, "NXItemFirst"},
               {2164, "NXItemNext"},
               {0, nullptr},
               {1, nullptr},
               {2063, nullptr},
               {0xFFFFFFFFu, nullptr}};
  for (const Case& c : cases) {
    const char* got = NXOrdinalName(c.ordinal);
    if (c.name == nullptr)
      EXPECT_EQ(got, nullptr) << c.ordinal;
    else
      EXPECT_STREQ(got, c.name) << c.ordinal;
  }
  EXPECT_EQ(dlsym(lib, (std::string("NXItem") + "Find").c_str()), nullptr);
  dlclose(lib);
}

}  // namespace
