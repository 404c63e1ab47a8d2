// The writing side of the Ordex connector on real databases: inserts of every kind of value,
// rich text and long text, updates and removals by key and in place, mail, the extra fields
// between two links, and the creation and removal of forms and views.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "ordex_jsonl.h"
#include "ordex_test_util.h"

namespace {

using namespace ordex_test;

// A composite of text records of size bytes each (4-byte header, style word, text).
std::string TextRecords(size_t count, size_t textBytes) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t length = static_cast<uint16_t>(4 + 4 + textBytes);
    const uint16_t word = 0xFF85;
    out.append(reinterpret_cast<const char*>(&word), 2);
    out.append(reinterpret_cast<const char*>(&length), 2);
    out.append(4, '\0');
    out.append(textBytes, static_cast<char>('a' + i % 26));
    if (length & 1) out += '\0';
  }
  return out;
}

std::string TextList(const std::vector<std::string>& entries) {
  std::string list(2 + 2 * entries.size(), '\0');
  const uint16_t n = static_cast<uint16_t>(entries.size());
  memcpy(list.data(), &n, 2);
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint16_t l = static_cast<uint16_t>(entries[i].size());
    memcpy(list.data() + 2 + 2 * i, &l, 2);
  }
  for (const std::string& e : entries) list += e;
  return list;
}

void SetBytes(TWFIELD f, uint32_t record, uint32_t format, const std::string& bytes) {
  flowcore::StreamData s(format);
  ASSERT_EQ(s.Set(format, bytes), TWSUCCESS);
  ASSERT_EQ(TWFieldSetStream(f, record, s.get()), TWSUCCESS);
}

class OrdexWrite : public ::testing::TestWithParam<storetest::Engine> {
 protected:
  void SetUp() override {
    if (std::string why = env_.Use(GetParam()); !why.empty()) GTEST_SKIP() << why;
    env_.MakeDatabase("people.odb", Person("Ann", 30) + Person("Bob", 40));
  }
  Env env_;
};

TEST_P(OrdexWrite, ValuesOfEveryKindBecomeItems) {
  const std::string bigRich = TextRecords(60, 2100);  // over 120,000 bytes of records
  ASSERT_GT(bigRich.size(), 120000u);
  const std::string longText(100000, 'x');
  const std::string tooLong = std::string(69998, 'y') + "\xC3\xA9";  // 70,000 bytes
  std::vector<std::string> many;
  for (int i = 0; i < 20000; ++i) many.push_back("e" + std::to_string(i));
  struct Case {
    const char* what;
    const char* item;
    uint32_t type, format, flags;
    std::string value;
    uint32_t want;
    uint32_t storedType;  // GVTYPE_* expected; 0: no document stored
    size_t storedLength;  // bytes of the stored item (0: not checked)
  } cases[] = {
      {"rich text of over 120,000 bytes", "Body", TWTYPE_BINARY, TWSTREAMFMT_COMPOSITE, 0, bigRich,
       TWSUCCESS, GVTYPE_COMPOSITE, bigRich.size()},
      {"100,000 bytes of text into rich text", "Body", TWTYPE_TEXT, TWSTREAMFMT_NATIVE, 0, longText,
       TWSUCCESS, GVTYPE_COMPOSITE, 0},
      {"70,000 bytes into text", "Note", TWTYPE_TEXT, TWSTREAMFMT_NATIVE, 0, tooLong,
       TWFAIL_OVERFLOW, 0, 0},
      {"70,000 bytes into text, cut", "Note", TWTYPE_TEXT, TWSTREAMFMT_NATIVE, TWFIELDF_TRUNC_PREC,
       tooLong, TWSUCCESS, GVTYPE_TEXT, 64996},
      {"70,000 bytes into text, data cut only", "Note", TWTYPE_TEXT, TWSTREAMFMT_NATIVE,
       TWFIELDF_TRUNC_DATA, tooLong, TWFAIL_OVERFLOW, 0, 0},
      {"cut before a character it would split", "Note", TWTYPE_TEXT, TWSTREAMFMT_NATIVE,
       TWFIELDF_TRUNC_PREC, std::string(64995, 'y') + "\xC3\xA9zz", TWSUCCESS, GVTYPE_TEXT, 64995},
      {"valid record stream as blob", "Body", TWTYPE_BINARY, TWSTREAMFMT_BLOB, 0,
       TextRecords(2, 10), TWSUCCESS, GVTYPE_COMPOSITE, TextRecords(2, 10).size()},
      {"invalid record stream as blob", "Body", TWTYPE_BINARY, TWSTREAMFMT_BLOB, 0,
       std::string("\x85\xFF\x40\x00zz", 6), TWSUCCESS, GVTYPE_COMPOSITE, 0},
      {"empty text list", "Tags", TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST, 0, "", TWSUCCESS,
       GVTYPE_TEXT_LIST, 2},
      {"empty number list", "Scores", TWTYPE_BINARY, TWSTREAMFMT_NUMBER_LIST, 0, "", TWSUCCESS,
       GVTYPE_NUMBER_LIST, 4},
      {"long text list, cut to whole entries", "Tags", TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST,
       TWFIELDF_TRUNC_DATA, TextList(many), TWSUCCESS, GVTYPE_TEXT_LIST, 0},
      {"long text list", "Tags", TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST, 0, TextList(many),
       TWFAIL_OVERFLOW, 0, 0},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string name = "W" + std::to_string(++n);
    Link link;
    link.On("people.odb").Num(TWTOKEN_MAP_NAME, 1);
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    twtest::SetValue(list.Add("Name", TWTYPE_TEXT), 1, name);
    TWFIELD f = list.Add(k.item, k.type);
    TWFieldSetFlags(f, k.flags);
    SetBytes(f, 1, k.format, k.value);
    uint32_t count = 0;
    EXPECT_EQ(link.c.Insert(list.get(), 1, 1, &count), k.want);
    link.c.Disconnect(0);
    Raw raw("people.odb");
    const auto notes = raw.Search("Name = '" + name + "'");
    if (k.storedType == 0) {
      EXPECT_TRUE(notes.empty());  // nothing of a failed record is stored
      continue;
    }
    ASSERT_EQ(notes.size(), 1u);
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(raw.get(), notes[0], GVOPEN_READONLY, &doc), 0u);
    uint32_t type = 0, items = 0, length = 0;
    ASSERT_EQ(GVItemGetInfo(doc, k.item, &type, &items, &length), 0u);
    EXPECT_EQ(type, k.storedType);
    if (k.storedLength != 0) {
      EXPECT_EQ(length, k.storedLength);
    }
    if (k.value == longText) {
      uint32_t textLength = 0;
      EXPECT_EQ(GVItemGetLength(doc, k.item, 0, GVTYPE_TEXT, &textLength), 0u);
      EXPECT_EQ(textLength, 100000u);
    }
    if (k.value == bigRich) {
      EXPECT_GE(items, 3u);
    }
    if (k.flags == TWFIELDF_TRUNC_DATA && k.format == TWSTREAMFMT_TEXT_LIST) {
      EXPECT_LE(length, 64996u);
      const void* bytes = nullptr;
      uint32_t kind = 0, got = 0;
      ASSERT_EQ(GVItemGetPointer(doc, k.item, &kind, &bytes, &got), 0u);
      flowcore::StreamData s(TWSTREAMFMT_TEXT_LIST);
      ASSERT_EQ(
          s.Set(TWSTREAMFMT_TEXT_LIST, std::string_view(static_cast<const char*>(bytes), got)),
          TWSUCCESS);
      const uint32_t entries = TWTextListGetCount(s.get());
      EXPECT_GT(entries, 1000u);
      flowcore::StreamData last(TWSTREAMFMT_QMBCS);
      ASSERT_EQ(TWTextListFetch(s.get(), entries, 0, last.get(), nullptr, nullptr), TWSUCCESS);
      EXPECT_EQ(last.view(), many[entries - 1]);  // whole entries only
    }
    GVDocumentClose(doc, GVCLOSE_DISCARD);
  }
}

TEST_P(OrdexWrite, RichTextReadsBackAsItsRecords) {
  const std::string records = TextRecords(40, 3001);
  {
    Link link;
    link.On("people.odb").Num(TWTOKEN_MAP_NAME, 1);
    ASSERT_EQ(link.Connect(), TWSUCCESS);
    List list(1);
    twtest::SetValue(list.Add("Name", TWTYPE_TEXT), 1, "Rich");
    SetBytes(list.Add("Body", TWTYPE_BINARY), 1, TWSTREAMFMT_COMPOSITE, records);
    uint32_t count = 0;
    ASSERT_EQ(link.c.Insert(list.get(), 1, 1, &count), TWSUCCESS);
  }
  Link link;
  link.On("people.odb").Str(TWTOKEN_CONDITION, "Name = 'Rich'").Names(TWTOKEN_FIELD_LIST, {"Body"});
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0, n = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  flowcore::StreamData body;
  ASSERT_EQ(TWFieldGetStream(list.Field(1), 1, 0, body.get(), nullptr), TWSUCCESS);
  EXPECT_EQ(body.view(), records);
}

TEST_P(OrdexWrite, EnforcedFormTakesRichTextIntoATextItem) {
  Link link;
  link.On("people.odb").Num(TWTOKEN_MAP_NAME, 1).Num(ordex::kEnforceForm, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  twtest::SetValue(list.Add("Name", TWTYPE_TEXT), 1, "Enforced");
  SetBytes(list.Add("Note", TWTYPE_BINARY), 1, TWSTREAMFMT_COMPOSITE, TextRecords(1, 6));
  uint32_t count = 0;
  ASSERT_EQ(link.c.Insert(list.get(), 1, 1, &count), TWSUCCESS) << twtest::LogLast().text;
  link.c.Disconnect(0);
  Raw raw("people.odb");
  const auto notes = raw.Search("Name = 'Enforced'");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(raw.Item(notes[0], "Note"), "aaaaaa");
  EXPECT_EQ(raw.Item(notes[0], ordex::kTempItem), "<none>");
}

TEST_P(OrdexWrite, UpdateAndRemoveByKey) {
  Link link;
  link.On("people.odb").Num(TWTOKEN_MAP_NAME, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  TWFIELD key = list.Add("Name", TWTYPE_TEXT);
  TWFIELD age = list.Add("Age", TWTYPE_FLOAT);
  twtest::SetValue(key, 1, "Bob");
  twtest::SetValue(age, 1, "41");
  // No key and no condition would hit every document: refused.
  uint32_t count = 0;
  EXPECT_EQ(link.c.Update(list.get(), 1, 1, &count), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(link.c.Remove(list.get(), 1, 1, &count), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(count, 0u);
  TWFieldSetFlags(key, TWFIELDF_KEY);
  ASSERT_EQ(link.c.Update(list.get(), 1, 1, &count), TWSUCCESS);
  EXPECT_EQ(count, 1u);
  {
    Raw raw("people.odb");
    EXPECT_EQ(raw.Search("Age = 41").size(), 1u);
    EXPECT_EQ(raw.Search("Form = 'Person'").size(), 2u);
  }
  count = 0;
  ASSERT_EQ(link.c.Remove(list.get(), 1, 1, &count), TWSUCCESS);
  EXPECT_EQ(count, 1u);
  // By view.
  Link byView;
  byView.On("people.odb").Num(TWTOKEN_MAP_NAME, 1).Str(ordex::kView, "ByName");
  ASSERT_EQ(byView.Connect(), TWSUCCESS);
  twtest::SetValue(key, 1, "ann");
  twtest::SetValue(age, 1, "31");
  count = 0;
  ASSERT_EQ(byView.c.Update(list.get(), 1, 1, &count), TWSUCCESS);
  EXPECT_EQ(count, 1u);
  link.c.Disconnect(0);
  byView.c.Disconnect(0);
  Raw raw("people.odb");
  EXPECT_EQ(raw.Search("Form = 'Person'").size(), 1u);
  EXPECT_EQ(raw.Search("Age = 31").size(), 1u);
}

TEST_P(OrdexWrite, WriteBackDiscardsADocumentWhoseWritingFailed) {
  Link link;
  link.On("people.odb")
      .Num(TWTOKEN_WRITEBACK, 1)
      .Num(TWTOKEN_MAP_NAME, 1)
      .Names(TWTOKEN_FIELD_LIST, {"Name", "Note"})
      .Names(TWTOKEN_ORDER_LIST, {"Name"});
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(2);
  uint32_t count = 0, n = 0;
  EXPECT_EQ(link.c.Update(list.get(), 1, 1, &count), TWFAIL_NO_WRITEBACK);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);  // Ann
  EXPECT_EQ(link.c.Update(list.get(), 1, 2, &count), TWFAIL_WRITEBACK_COUNT);
  List changes(1);
  twtest::SetValue(changes.Add("Name", TWTYPE_TEXT), 1, "Changed");
  twtest::SetValue(changes.Add("Note", TWTYPE_TEXT), 1, std::string(70000, 'n'));
  EXPECT_EQ(link.c.Update(changes.get(), 1, 1, &count), TWFAIL_OVERFLOW);
  ASSERT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);  // Bob: Ann is closed
  List good(1);
  twtest::SetValue(good.Add("Name", TWTYPE_TEXT), 1, "Robert");
  twtest::SetValue(good.Add("Note", TWTYPE_TEXT), 1, "ok");
  count = 0;
  ASSERT_EQ(link.c.Update(good.get(), 1, 1, &count), TWSUCCESS);
  EXPECT_EQ(count, 1u);
  link.c.Disconnect(0);
  Raw raw("people.odb");
  EXPECT_EQ(raw.Search("Name = 'Changed'").size(), 0u);
  EXPECT_EQ(raw.Search("Name = 'Ann'").size(), 1u);
  EXPECT_EQ(raw.Search("Name = 'Robert' & Note = 'ok'").size(), 1u);
}

TEST_P(OrdexWrite, MailWithItsFormIsSentNotStored) {
  Link link;
  link.On("people.odb", "Memo")
      .Num(TWTOKEN_MAP_NAME, 1)
      .Num(ordex::kInsertMail, 1)
      .Num(ordex::kMailEmbedForm, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  SetBytes(list.Add("SendTo", TWTYPE_BINARY), 1, TWSTREAMFMT_TEXT_LIST, TextList({"someone"}));
  twtest::SetValue(list.Add("Subject", TWTYPE_TEXT), 1, "hello");
  uint32_t count = 0;
  ASSERT_EQ(link.c.Insert(list.get(), 1, 1, &count), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(count, 1u);
  link.c.Disconnect(0);
  {
    Raw raw("people.odb");
    EXPECT_TRUE(raw.Search("Form = 'Memo'").empty());
  }
  Raw spool("mailspool.odb", Raw::kLocal);  // the spool is always the local server's
  const auto mails = spool.Search("Subject = 'hello'");
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(spool.Item(mails[0], "Form"), "Memo");
  EXPECT_EQ(spool.Item(mails[0], "$EmbeddedForm"), "Memo");
}

TEST_P(OrdexWrite, FormsAndViewsAreCreatedAndDropped) {
  Link link;
  link.On("people.odb", "Order").Str(TWTOKEN_INDEX, "ByNumber").Num(TWTOKEN_MAP_NAME, 1);
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List fields(1);
  TWFIELD number = fields.Add("Number", TWTYPE_INT);
  TWFieldSetFlags(number, TWFIELDF_KEY);
  TWFieldSetFormatStream(fields.Add("Text", TWTYPE_TEXT), 0, 100, TWSTREAMFMT_NATIVE);
  fields.Add("Long", TWTYPE_TEXT);
  TWFieldSetFormatStream(fields.Add("List", TWTYPE_BINARY), 0, 0, TWSTREAMFMT_TEXT_LIST);
  fields.Add("When", TWTYPE_DATETIME);
  uint32_t count = 0;
  EXPECT_EQ(link.c.Insert(fields.get(), 1, 1, &count), TWFAIL_INVALID_METADATA);
  ASSERT_EQ(link.c.Create(TWOBJECT_METADATA, fields.get()), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(link.c.Create(TWOBJECT_METADATA, fields.get()), TWFAIL_DUPLICATE);
  ASSERT_EQ(link.c.Create(TWOBJECT_INDEX, fields.get()), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(link.c.Create(TWOBJECT_INDEX, fields.get()), TWFAIL_DUPLICATE);
  twtest::SetValue(number, 1, "7");
  TWFieldSetFlags(number, TWFIELDF_KEY | TWFIELDF_TRUNC_PREC);
  ASSERT_EQ(link.c.Insert(fields.get(), 1, 1, &count), TWSUCCESS) << twtest::LogLast().text;
  {
    Raw raw("people.odb");
    GVFieldInfo info{};
    const GVNOTEID form = GVFormLocateByName(raw.get(), "Order");
    ASSERT_NE(form, 0u);
    struct Want {
      const char* name;
      uint32_t type;
    } want[] = {{"Number", GVTYPE_NUMBER},
                {"Text", GVTYPE_TEXT},
                {"Long", GVTYPE_COMPOSITE},
                {"List", GVTYPE_TEXT_LIST},
                {"When", GVTYPE_TIME}};
    for (const Want& w : want) {
      ASSERT_EQ(GVFieldFetch(raw.get(), form, w.name, &info), 0u) << w.name;
      EXPECT_EQ(info.itemType, w.type) << w.name;
    }
    EXPECT_NE(GVViewLocateByName(raw.get(), "ByNumber"), 0u);
    EXPECT_EQ(raw.Search("Form = 'Order' & Number = 7").size(), 1u);
  }
  ASSERT_EQ(link.c.Drop(TWOBJECT_INDEX), TWSUCCESS);
  EXPECT_EQ(link.c.Drop(TWOBJECT_INDEX), TWFAIL_EXTERNAL);
  ASSERT_EQ(link.c.Drop(TWOBJECT_METADATA), TWSUCCESS);
  EXPECT_EQ(link.c.Drop(TWOBJECT_METADATA), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(link.c.Drop(TWOBJECT_DATABASE), TWFAIL_CONNECTED);
  // A field name the design cannot hold stops the creation.
  List bad(1);
  bad.Add("1st", TWTYPE_TEXT);
  EXPECT_EQ(link.c.Create(TWOBJECT_METADATA, bad.get()), TWFAIL_INVALID_FIELDNAME);
  link.c.Disconnect(0);
  // Databases.
  Link fresh;
  fresh.On("fresh.odb", "");
  ASSERT_EQ(fresh.c.Create(TWOBJECT_DATABASE, TWNULLHANDLE), TWSUCCESS);
  ASSERT_EQ(fresh.Connect(), TWSUCCESS);
  fresh.c.Disconnect(0);
  ASSERT_EQ(fresh.c.Drop(TWOBJECT_DATABASE), TWSUCCESS);
  EXPECT_EQ(fresh.Connect(), TWFAIL_EXTERNAL);
  fresh.Num(ordex::kCreateDatabase, 1);
  EXPECT_EQ(fresh.Connect(), TWSUCCESS);
}

// ---------------------------------------------------------------- extra fields ----------

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class OrdexExtras : public ::testing::TestWithParam<storetest::Engine> {
 protected:
  void SetUp() override {
    if (std::string why = env_.Use(GetParam()); !why.empty()) GTEST_SKIP() << why;
    // A, with A1 beneath it and A1a beneath that; B; A and B attach files of one name.
    env_.MakeDatabase("threads.odb", Topic(1, "A", 0, "QUFB") + Topic(2, "A1", 1) +
                                         Topic(3, "A1a", 2) + Topic(4, "B", 0, "QkJC"));
    env_.MakeDatabase("copy.odb");
  }
  Env env_;
};

TEST_P(OrdexExtras, HierarchyFilesAndIdentitiesPassBetweenTwoLinks) {
  Link source;
  source.On("threads.odb", "Topic")
      .Str(ordex::kView, "Threads")
      .Num(ordex::kCopyHierarchy, 1)
      .Num(ordex::kCopyFile, 1)
      .Num(ordex::kLoadUnid, 1);
  Link dest(0x00020001);
  dest.On("copy.odb", "Topic");
  ASSERT_EQ(source.Connect(), TWSUCCESS);
  ASSERT_EQ(dest.Connect(), TWSUCCESS);
  List list(4);
  uint32_t count = 0;
  ASSERT_EQ(source.c.Execute(nullptr, list.get(), &count), TWSUCCESS) << twtest::LogLast().text;
  ASSERT_EQ(list.count(), 4u);  // Subject, UNID, TWXHIER, TWXFILE
  uint32_t moved = 0;
  for (;;) {
    uint32_t n = 0;
    const uint32_t st = source.c.Fetch(list.get(), 1, 4, &n);
    if (st == TWFAIL_END_OF_DATA) break;
    ASSERT_EQ(st, TWSUCCESS) << twtest::LogLast().text;
    EXPECT_EQ(n, 1u);  // one record per fetch while the handles are in the record
    uint32_t stored = 0;
    ASSERT_EQ(dest.c.Insert(list.get(), 1, n, &stored), TWSUCCESS) << twtest::LogLast().text;
    moved += n;
  }
  EXPECT_EQ(moved, 2u);  // A and B; the responses came with A
  dest.c.Disconnect(0);
  source.c.Disconnect(0);

  Raw raw("copy.odb");
  std::map<std::string, GVNOTEID> bySubject;
  for (GVNOTEID note : raw.Search("Form = 'Topic'")) bySubject[raw.Item(note, "Subject")] = note;
  ASSERT_EQ(bySubject.size(), 4u);
  auto unidOf = [&](GVNOTEID note, uint32_t property) {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(raw.get(), note, GVOPEN_READONLY, &doc), 0u);
    std::string bytes(16, '\0');
    if (GVDocumentGetProperty(doc, property, bytes.data()) != 0) bytes.clear();
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return bytes;
  };
  EXPECT_EQ(Hex(unidOf(bySubject["A"], GVDOCPROP_UNID)), Unid(1));  // identity kept
  EXPECT_EQ(unidOf(bySubject["A1"], GVDOCPROP_PARENT), unidOf(bySubject["A"], GVDOCPROP_UNID));
  EXPECT_EQ(unidOf(bySubject["A1a"], GVDOCPROP_PARENT), unidOf(bySubject["A1"], GVDOCPROP_UNID));
  EXPECT_EQ(unidOf(bySubject["B"], GVDOCPROP_PARENT), "");
  // Each document kept its own file of the shared name.
  for (auto [subject, data] : {std::pair{"A", "AAA"}, std::pair{"B", "BBB"}}) {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(raw.get(), bySubject[subject], GVOPEN_READONLY, &doc), 0u);
    const std::string out = env_ / (std::string(subject) + ".out");
    ASSERT_EQ(GVAttachmentExtract(doc, "same.txt", out.c_str()), 0u) << subject;
    EXPECT_EQ(twtest::ReadFile(out), data);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
  }
}

TEST_P(OrdexExtras, FilesOfOneNameGoIntoFoldersOfTheirDocuments) {
  Link link;
  const std::string files = env_ / "files";
  std::filesystem::create_directories(files);
  link.On("threads.odb", "Topic")
      .Num(ordex::kLoadFile, 1)
      .Num(ordex::kLoadRef, 1)
      .Str(ordex::kFilePath, files)
      .Str(TWTOKEN_CONDITION, "Subject = 'A' | Subject = 'B'");
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS);
  std::vector<std::string> contents;
  for (;;) {
    uint32_t n = 0;
    if (link.c.Fetch(list.get(), 1, 1, &n) != TWSUCCESS) break;
    flowcore::StreamData paths;
    ASSERT_EQ(TWFieldGetStream(list.Field(3), 1, 0, paths.get(), nullptr), TWSUCCESS);
    ASSERT_EQ(TWTextListGetCount(paths.get()), 1u);
    flowcore::StreamData path(TWSTREAMFMT_NATIVE);
    ASSERT_EQ(TWTextListFetch(paths.get(), 1, TWSTREAMFMT_NATIVE, path.get(), nullptr, nullptr),
              TWSUCCESS);
    EXPECT_EQ(std::string(path.view()).rfind(files + "/", 0), 0u);
    contents.push_back(twtest::ReadFile(std::string(path.view())));
    EXPECT_TRUE(TWFieldIsNull(list.Field(2), 1));  // top documents have no parent
  }
  std::sort(contents.begin(), contents.end());
  EXPECT_EQ(contents, (std::vector<std::string>{"AAA", "BBB"}));
}

TEST_P(OrdexExtras, ReferenceAndIdentityMakeAResponse) {
  Link dest(0x00020001);
  dest.On("threads.odb", "Topic").Num(TWTOKEN_MAP_NAME, 1);
  ASSERT_EQ(dest.Connect(), TWSUCCESS);
  List list(1);
  twtest::SetValue(list.Add("Subject", TWTYPE_TEXT), 1, "reply");
  auto bytes = [](const std::string& hex) {
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2)
      out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  };
  SetBytes(list.Add("REF", TWTYPE_BINARY), 1, TWSTREAMFMT_BLOB, bytes(Unid(4)));
  SetBytes(list.Add("UNID", TWTYPE_BINARY), 1, TWSTREAMFMT_BLOB, bytes(Unid(9)));
  uint32_t count = 0;
  ASSERT_EQ(dest.c.Insert(list.get(), 1, 1, &count), TWSUCCESS) << twtest::LogLast().text;
  dest.c.Disconnect(0);
  Raw raw("threads.odb");
  const auto notes = raw.Search("Subject = 'reply'");
  ASSERT_EQ(notes.size(), 1u);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(raw.get(), notes[0], GVOPEN_READONLY, &doc), 0u);
  std::string parent(16, '\0'), unid(16, '\0');
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_PARENT, parent.data()), 0u);
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid.data()), 0u);
  GVDocumentClose(doc, GVCLOSE_DISCARD);
  EXPECT_EQ(Hex(parent), Unid(4));
  EXPECT_EQ(Hex(unid), Unid(9));
}

TEST_P(OrdexExtras, AHandleNoLongerOpenIsRefused) {
  Link dest(0x00020001);
  dest.On("copy.odb", "Topic").Num(TWTOKEN_MAP_NAME, 1);
  ASSERT_EQ(dest.Connect(), TWSUCCESS);
  struct Case {
    const char* name;
    std::string value;
  } cases[] = {{"TWXFILE", std::string("\xEF\xBE\x00\x00", 4)},
               {"TWXHIER", std::string("\xEF\xBE\x00\x00\x02\x00\x00\x00", 8)}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    List list(1);
    twtest::SetValue(list.Add("Subject", TWTYPE_TEXT), 1, k.name);
    TWFIELD f = list.Add(k.name, TWTYPE_BINARY);
    TWFieldSetVirtualCode(f, 0x00010000);
    SetBytes(f, 1, TWSTREAMFMT_BLOB, k.value);
    uint32_t count = 0;
    EXPECT_EQ(dest.c.Insert(list.get(), 1, 1, &count), TWFAIL_VIRTUAL_VALUE);
    EXPECT_EQ(count, 0u);
  }
  dest.c.Disconnect(0);
  Raw raw("copy.odb");
  EXPECT_TRUE(raw.Search("Form = 'Topic'").empty());
}

TEST_P(OrdexExtras, AttachmentNamesLeavingTheFolderAreRefused) {
  {
    Raw raw("threads.odb");
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentCreate(raw.get(), 0, &doc), 0u);
    ASSERT_EQ(GVItemPut(doc, "Form", 0, 0, GVTYPE_TEXT, "Topic", 0), 0u);
    ASSERT_EQ(GVItemPut(doc, "Subject", 0, 0, GVTYPE_TEXT, "evil", 0), 0u);
    const std::string file = env_ / "x.txt";
    twtest::WriteFile(file, "x");
    ASSERT_EQ(GVAttachmentAttach(doc, file.c_str(), "escape.txt", 0, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }
  // Written by another program: the API itself never takes such a name.
  env_.Query("threads.odb", "UPDATE attachment SET name = '../escape.txt'");
  const std::string files = env_ / "files";
  std::filesystem::create_directories(files);
  Link link;
  link.On("threads.odb", "Topic")
      .Num(ordex::kLoadFile, 1)
      .Str(ordex::kFilePath, files)
      .Str(TWTOKEN_CONDITION, "Subject = 'evil'");
  ASSERT_EQ(link.Connect(), TWSUCCESS);
  List list(1);
  uint32_t count = 0, n = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, list.get(), &count), TWSUCCESS);
  EXPECT_EQ(link.c.Fetch(list.get(), 1, 1, &n), TWFAIL_VIRTUAL_VALUE);
  EXPECT_FALSE(std::filesystem::exists(env_ / "escape.txt"));
  EXPECT_FALSE(std::filesystem::exists(files + "/escape.txt"));
}

INSTANTIATE_TEST_SUITE_P(Stores, OrdexWrite,
                         ::testing::Values(storetest::Engine::kSqlite,
                                           storetest::Engine::kPostgres),
                         storetest::EngineName);
INSTANTIATE_TEST_SUITE_P(Stores, OrdexExtras,
                         ::testing::Values(storetest::Engine::kSqlite,
                                           storetest::Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
