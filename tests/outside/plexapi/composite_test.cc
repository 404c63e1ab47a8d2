// Composites: rich text built record by record, written back into items of at most 60000
// bytes, merged, opened from text, written back by a document store; form building from
// field records; document links.
#include <cstring>
#include <string>
#include <vector>

#include "plexa_test_util.h"

namespace {

using plexatest::RawDb;

class CompositeTest : public plexatest::SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    db_ = CreateOpen("rich.odb");
    ASSERT_NE(db_, 0u);
    ASSERT_EQ(GVDocumentCreate(db_, 0, &doc_), 0u);
  }
  void TearDown() override {
    if (db_ != 0) GVDatabaseClose(db_, 0);
    SessionTest::TearDown();
  }
  // The stored bytes of the item as GVItemFetch gives them (rich text: all pieces' records).
  std::string Records(GVDOC doc, const char* name) {
    uint32_t length = 0;
    if (GVItemGetInfo(doc, name, nullptr, nullptr, &length) != 0) return "<none>";
    std::string out(length, '\0');
    uint32_t kind = 0;
    EXPECT_EQ(GVItemFetch(doc, name, &kind, 0, length, out.data()), 0u);
    return out;
  }
  std::string Text(GVDOC doc, const char* name) {
    char buffer[512] = "";
    uint32_t kind = GVTYPE_TEXT;
    uint32_t st = GVItemFetch(doc, name, &kind, 0, sizeof buffer, buffer);
    return st == 0 ? std::string(buffer) : "<" + std::to_string(st) + ">";
  }
  // Stores doc, reopens it by note id.
  GVDOC Reopen(GVDOC doc) {
    GVNOTEID id = 0;
    EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
    EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
    EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
    GVDOC again = 0;
    EXPECT_EQ(GVDocumentOpen(db_, id, 0, &again), 0u);
    return again;
  }
  GVDB db_ = 0;
  GVDOC doc_ = 0;
};

// Records as the API writes them: a text run (a 4-byte header, or 6 bytes beyond 65535, the
// style word, the text) and the two-byte paragraph.
std::string TextRecord(const std::string& text) {
  size_t length = 8 + text.size();
  std::string r;
  if (length <= 0xFFFF) {
    r = {static_cast<char>(GVCDSIG_TEXT), static_cast<char>(0xFF), static_cast<char>(length & 0xFF),
         static_cast<char>(length >> 8)};
  } else {
    length += 2;
    r = {static_cast<char>(GVCDSIG_TEXT), 0};
    for (int i = 0; i < 4; ++i) r += static_cast<char>(length >> (8 * i));
  }
  r += std::string(4, '\0') + text;
  if (length % 2) r += '\0';
  return r;
}
const std::string kParagraph = {static_cast<char>(GVCDSIG_PARAGRAPH), 2};

TEST_F(CompositeTest, LargeRichTextIsWrittenBackInPiecesAtRecordBoundaries) {
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  // 150000 bytes of text records: three pieces, none above 60000 bytes.
  std::string expected;
  std::string chunk(4990, 'x');
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, chunk.c_str()), 0u);
    expected += TextRecord(chunk);
  }
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  uint32_t type = 0, count = 0, length = 0;
  ASSERT_EQ(GVItemGetInfo(doc_, "Body", &type, &count, &length), 0u);
  EXPECT_EQ(type, GVTYPE_COMPOSITE);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(length, expected.size());
  GVDOC again = Reopen(doc_);
  doc_ = again;
  EXPECT_EQ(Records(again, "Body"), expected);
  RawDb raw(Local("rich.odb"));
  std::vector<size_t> sizes;
  for (const plexa::StoredItem& it : plexatest::PackedItems(raw.Column("SELECT items FROM note")))
    if (it.name == "Body") sizes.push_back(it.value.size());
  ASSERT_EQ(sizes.size(), 3u);
  size_t total = 0;
  for (size_t n : sizes) {
    EXPECT_LE(n, GV_RICHTEXT_PIECE);
    EXPECT_EQ(n % 4998, 0u) << "a piece ends inside a record";
    total += n;
  }
  EXPECT_EQ(total, expected.size());
}

TEST_F(CompositeTest, ARecordAboveThePieceSizeMakesAPieceOfItsOwn) {
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  std::string big(70000, 'b');
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "before"), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, big.c_str()), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_PARAGRAPH, nullptr), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  uint32_t count = 0;
  ASSERT_EQ(GVItemGetInfo(doc_, "Body", nullptr, &count, nullptr), 0u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Records(doc_, "Body"), TextRecord("before") + TextRecord(big) + kParagraph);
}

TEST_F(CompositeTest, OpenReadsEveryPieceAndDiscardLeavesTheItems) {
  ASSERT_EQ(GVItemPut(doc_, "Body", GVTYPE_COMPOSITE, 0, GVTYPE_TEXT, "one\ntwo", 0), 0u);
  const std::string stored = Records(doc_, "Body");
  EXPECT_EQ(stored, TextRecord("one") + kParagraph + TextRecord("two"));

  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeOpen(doc_, "Body", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "three"), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_DISCARD), 0u);
  EXPECT_EQ(Records(doc_, "Body"), stored);

  // A text item opens as paragraphs; an absent one as an empty composite bound to its name.
  ASSERT_EQ(GVItemPut(doc_, "Plain", 0, 0, GVTYPE_TEXT, "a\nb", 0), 0u);
  ASSERT_EQ(GVCompositeOpen(doc_, "Plain", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_PARAGRAPH, nullptr), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Records(doc_, "Plain"), TextRecord("a") + kParagraph + TextRecord("b") + kParagraph);
  ASSERT_EQ(GVCompositeOpen(doc_, "Missing", &comp), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Records(doc_, "Missing"), "<none>") << "an unchanged composite writes nothing";
}

TEST_F(CompositeTest, MergeAndInsertPlaceRecordsBeforeAPosition) {
  GVCOMP target = 0, source = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &target), 0u);
  ASSERT_EQ(GVCompositeCreate(doc_, nullptr, &source), 0u);
  ASSERT_EQ(GVCDRecordInsert(target, 0, GVCD_TEXT, "a"), 0u);
  ASSERT_EQ(GVCDRecordInsert(target, 0, GVCD_TEXT, "c"), 0u);
  ASSERT_EQ(GVCDRecordInsert(source, 0, GVCD_TEXT, "b"), 0u);
  ASSERT_EQ(GVCompositeMerge(target, 2, source), 0u);   // before record 2
  ASSERT_EQ(GVCompositeMerge(target, 0, source), 0u);   // at the end
  ASSERT_EQ(GVCompositeMerge(target, 99, source), 0u);  // beyond the last: at the end
  ASSERT_EQ(GVCDRecordInsert(target, 1, GVCD_PARAGRAPH, nullptr), 0u);
  ASSERT_EQ(GVCompositeMerge(source, 0, source), 0u);  // into itself: doubled
  ASSERT_EQ(GVCompositeClose(target, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Records(doc_, "Body"), kParagraph + TextRecord("a") + TextRecord("b") +
                                       TextRecord("c") + TextRecord("b") + TextRecord("b"));
  // The free-standing composite stores nothing when closed, but can be put as an item.
  ASSERT_EQ(GVItemPut(doc_, "Copy", GVTYPE_COMPOSITE, 0, GVTYPE_COMPOSITE, &source, 0), 0u);
  ASSERT_EQ(GVItemPut(doc_, "AsText", GVTYPE_TEXT, 0, GVTYPE_COMPOSITE, &source, 0), 0u);
  ASSERT_EQ(GVCompositeClose(source, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Records(doc_, "Copy"), TextRecord("b") + TextRecord("b"));
  EXPECT_EQ(Text(doc_, "AsText"), "bb");
}

TEST_F(CompositeTest, TheDocumentStoreWritesBackOpenCompositesAndClosesThem) {
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "left open"), 0u);
  GVDOC again = Reopen(doc_);
  doc_ = again;
  EXPECT_EQ(Text(again, "Body"), "left open");
  EXPECT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "late"), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVCompositeClose(comp, 0), GVERR_INVALID_HANDLE);
}

TEST_F(CompositeTest, BadArgumentsAreRefusedAndChangeNothing) {
  GVCOMP comp = 0;
  const std::string longName(GV_ITEM_NAME_SIZE, 'n');
  EXPECT_EQ(GVCompositeCreate(0, "Body", &comp), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVCompositeCreate(doc_, "Body", nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCompositeCreate(doc_, "", &comp), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCompositeCreate(doc_, longName.c_str(), &comp), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCompositeOpen(doc_, nullptr, &comp), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCompositeOpen(db_, "Body", &comp), GVERR_INVALID_HANDLE) << "a database handle";
  EXPECT_EQ(comp, 0u);
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  struct Case {
    uint32_t kind;
    const void* record;
  } cases[] = {{0, "x"},
               {1, "x"},
               {99, "x"},
               {GVCD_TEXT, nullptr},
               {GVCD_PARDEF, nullptr},
               {GVCD_DOCLINK, nullptr},
               {GVCD_FIELD, nullptr}};
  for (const Case& c : cases)
    EXPECT_EQ(GVCDRecordInsert(comp, 0, c.kind, c.record), GVERR_INVALID_ARGUMENT) << c.kind;
  GVFieldRecord nameless{};
  EXPECT_EQ(GVCDRecordInsert(comp, 0, GVCD_FIELD, &nameless), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCompositeMerge(comp, 0, 0), GVERR_INVALID_HANDLE);
  EXPECT_EQ(GVCompositeMerge(comp, 0, doc_), GVERR_INVALID_HANDLE) << "a document handle";
  EXPECT_EQ(GVCompositeClose(comp, 7), GVERR_INVALID_ARGUMENT);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Records(doc_, "Body"), "") << "a bound new composite replaces its items when closed";
}

TEST_F(CompositeTest, FieldRecordsBuildAFormAndTheFormCheckGuardsWriteBack) {
  // The connector's sequence: a scratch document, a free composite, a paragraph definition
  // and paragraph selection, then per field a paragraph, its name, ":\t" and the record.
  GVParagraphDef def{};
  def.leftMargin = 1440;
  GVCOMP body = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, nullptr, &body), 0u);
  ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_PARDEF, &def), 0u);
  ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_PARSELECT, &def), 0u);
  const char* names[] = {"Title", "Count"};
  const uint32_t types[] = {GVTYPE_TEXT, GVTYPE_NUMBER_LIST};
  for (int i = 0; i < 2; ++i) {
    GVFieldRecord r{};
    r.itemType = types[i];
    r.flags = GVFIELDF_STORED;
    r.listFlags = i == 1 ? GVFIELD_MULTIVALUE : 0;
    r.name = names[i];
    r.defaultFormula = i == 0 ? "'untitled'" : nullptr;
    ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_PARAGRAPH, nullptr), 0u);
    ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_TEXT, names[i]), 0u);
    ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_TEXT, ":\t"), 0u);
    ASSERT_EQ(GVCDRecordInsert(body, 0, GVCD_FIELD, &r), 0u);
  }
  GVFormDesign design{};
  design.formType = GVFORM_DOCUMENT;
  std::strcpy(design.name, "Note");
  GVNOTEID form = 0;
  ASSERT_EQ(GVFormCreate(db_, &design, body, &form), 0u);
  ASSERT_EQ(GVCompositeClose(body, GVCOMPCLOSE_DISCARD), 0u);
  GVFieldInfo info{};
  ASSERT_EQ(GVFieldFetch(db_, form, "Count", &info), 0u);
  EXPECT_EQ(info.itemType, GVTYPE_NUMBER_LIST);
  EXPECT_EQ(info.listFlags, GVFIELD_MULTIVALUE);

  ASSERT_EQ(GVDatabaseSetProperty(db_, GVDBPROP_FORM_CHECK, 1), 0u);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db_, form, &doc), 0u);
  EXPECT_EQ(Text(doc, "Title"), "untitled");
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc, "Stray", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "x"), 0u);
  EXPECT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), GVERR_NO_FIELD);
  EXPECT_EQ(Records(doc, "Stray"), "<none>");
  EXPECT_EQ(GVCompositeClose(comp, 0), GVERR_INVALID_HANDLE) << "closed even when writing failed";
  // With the document's check lifted (the connector's temporary item) it is written.
  uint32_t off = 0;
  ASSERT_EQ(GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &off), 0u);
  ASSERT_EQ(GVCompositeCreate(doc, "Stray", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "x"), 0u);
  EXPECT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  EXPECT_EQ(Text(doc, "Stray"), "x");
  EXPECT_EQ(GVDocumentClose(doc, GVCLOSE_DISCARD), 0u);
}

TEST_F(CompositeTest, DocLinksNameTheDatabaseTheViewAndTheNote) {
  ASSERT_EQ(GVItemPut(doc_, "Subject", 0, 0, GVTYPE_TEXT, "target", 0), 0u);
  GVDocLink unsaved{};
  std::memset(&unsaved, 0xAB, sizeof unsaved);
  const GVDocLink before = unsaved;
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, 0, 0, &unsaved), GVERR_NO_ENTRY);
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, 0, 4000, &unsaved), GVERR_NO_ENTRY);
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, 0, 3, &unsaved), GVERR_NO_ENTRY);
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, 0, 2, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVCDRecordMakeDoclink(doc_, 0, 2, &unsaved), GVERR_INVALID_HANDLE);
  EXPECT_EQ(std::memcmp(&unsaved, &before, sizeof before), 0) << "untouched on failure";

  ASSERT_EQ(GVDocumentSave(doc_, 0), 0u);
  GVNOTEID note = 0;
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_NOTE_ID, &note), 0u);
  GVViewDesign design{};
  design.style = GVVIEW_STANDARD;
  design.selectionKind = GVVIEWSEL_FORMULA;
  std::strcpy(design.name, "All");
  GVViewColumn column{};
  column.kind = GVCOL_SORTED;
  column.formula = "Subject";
  GVNOTEID view = 0;
  ASSERT_EQ(GVViewCreate(db_, &design, 1, &column, &view), 0u);
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, note, note, &unsaved), GVERR_NO_VIEW) << "not a view";
  EXPECT_EQ(GVCDRecordMakeDoclink(db_, view, view, &unsaved), GVERR_NO_ENTRY) << "not a document";

  uint8_t dbId[GV_UNID_SIZE], noteId[GV_UNID_SIZE], zeros[GV_UNID_SIZE] = {};
  ASSERT_EQ(GVDatabaseGetProperty(db_, GVDBPROP_IDENTITY, dbId), 0u);
  ASSERT_EQ(GVDocumentGetProperty(doc_, GVDOCPROP_UNID, noteId), 0u);
  GVDocLink plain{}, viewed{};
  ASSERT_EQ(GVCDRecordMakeDoclink(db_, 0, note, &plain), 0u);
  ASSERT_EQ(GVCDRecordMakeDoclink(db_, view, note, &viewed), 0u);
  EXPECT_EQ(std::memcmp(plain.database, dbId, GV_UNID_SIZE), 0);
  EXPECT_EQ(std::memcmp(plain.note, noteId, GV_UNID_SIZE), 0);
  EXPECT_EQ(std::memcmp(plain.view, zeros, GV_UNID_SIZE), 0);
  EXPECT_NE(std::memcmp(viewed.view, zeros, GV_UNID_SIZE), 0);
  EXPECT_EQ(std::memcmp(viewed.note, noteId, GV_UNID_SIZE), 0);

  // The control store's link: paragraph definition, text, link, paragraph end.
  GVDOC log = 0;
  ASSERT_EQ(GVDocumentCreate(db_, 0, &log), 0u);
  GVCOMP comp = 0;
  GVParagraphDef def{};
  ASSERT_EQ(GVCompositeCreate(log, "DocLink", &comp), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_PARDEF, &def), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "see -->"), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_DOCLINK, &viewed), 0u);
  ASSERT_EQ(GVCDRecordInsert(comp, 0, GVCD_PARAGRAPH, nullptr), 0u);
  ASSERT_EQ(GVCompositeClose(comp, GVCOMPCLOSE_WRITE), 0u);
  std::string records = Records(log, "DocLink");
  const std::string link(reinterpret_cast<const char*>(&viewed), sizeof viewed);
  std::string linkRecord = {static_cast<char>(GVCDSIG_DOCLINK), static_cast<char>(0xFF), 52, 0};
  linkRecord += link;
  EXPECT_NE(records.find(linkRecord + kParagraph), std::string::npos) << plexatest::Hex(records);
  EXPECT_EQ(Text(log, "DocLink"), "see -->\n");
  EXPECT_EQ(GVDocumentClose(log, GVCLOSE_DISCARD), 0u);
}

TEST_F(CompositeTest, CompositesNeedASessionAndCloseWithTheirDatabase) {
  GVCOMP comp = 0;
  ASSERT_EQ(GVCompositeCreate(doc_, "Body", &comp), 0u);
  ASSERT_EQ(GVDatabaseClose(db_, 0), 0u);
  db_ = 0;
  EXPECT_EQ(GVCDRecordInsert(comp, 0, GVCD_TEXT, "x"), GVERR_INVALID_HANDLE);
  while (plexa::SessionActive()) GVTerm(0);
  EXPECT_EQ(GVCompositeCreate(1, "Body", &comp), GVERR_NOT_INITIALIZED);
  EXPECT_EQ(GVCDRecordMakeDoclink(1, 0, 2, nullptr), GVERR_NOT_INITIALIZED);
}

}  // namespace
