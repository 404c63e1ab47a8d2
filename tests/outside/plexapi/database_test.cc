// Servers, database names, and whole databases: create (from a template), open, copy while
// another process writes, delete, list, properties, note ids, busy and damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "paths.h"
#include "plexa_test_util.h"

namespace {

using plexatest::RawDb;
using plexatest::SessionTest;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

GVNOTEID StoreDocument(GVDB db, const char* item, double value) {
  GVDOC doc = 0;
  EXPECT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  EXPECT_EQ(GVItemPut(doc, item, 0, 0, GVTYPE_NUMBER, &value, 0), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
  GVNOTEID id = 0;
  EXPECT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(GVDocumentClose(doc, 0), 0u);
  return id;
}

double FetchNumber(GVDB db, GVNOTEID id, const char* item) {
  GVDOC doc = 0;
  double value = -1;
  EXPECT_EQ(GVDocumentOpen(db, id, GVOPEN_READONLY, &doc), 0u);
  uint32_t kind = GVTYPE_NUMBER;
  EXPECT_EQ(GVItemFetch(doc, item, &kind, 0, 0, &value), 0u) << item;
  GVDocumentClose(doc, GVCLOSE_DISCARD);
  return value;
}

// ---------------------------------------------------------------- names --------------------

TEST(ServerNameTest, EncodesNamesIntoSafeDirectoryNames) {
  struct Case {
    const char* name;
    const char* encoded;
  } cases[] = {
      {"Srv1", "srv1"},       {"CN=A/O=B", "cn%3Da%2Fo%3Db"},
      {".", "%2E"},           {"..", "%2E%2E"},
      {"a.b-c_d", "a.b-c_d"}, {"srv@1352", "srv"},
      {"sp ace", "sp%20ace"}, {"\xC3\xA9t\xC3\xA9", "%C3%A9t%C3%A9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plexa::EncodeServerName(c.name), c.encoded) << c.name;
    std::string lower = plexa::DecodeServerName(c.encoded);
    EXPECT_EQ(plexa::EncodeServerName(lower), c.encoded) << "round trip of " << c.name;
  }
}

TEST(ServerNameTest, ResolvesDatabaseNames) {
  twtest::TempDir root;
  ASSERT_TRUE(plexa::MakeDirectories(root.path() + "servers/beta"));
  struct Case {
    const char* server;
    const char* file;
    uint32_t status;
    std::string path;
    std::string name;
  } cases[] = {
      {nullptr, "a.odb", 0, "local/a.odb", "a.odb"},
      {"", "sub\\b.odb", 0, "local/sub/b.odb", "sub/b.odb"},
      {"@1352", "a.odb", 0, "local/a.odb", "a.odb"},
      {"Beta", "a.odb", 0, "servers/beta/a.odb", "Beta!!a.odb"},
      {"ignored", "beta!!x/y.odb", 0, "servers/beta/x/y.odb", "beta!!x/y.odb"},
      {nullptr, "/abs/x.odb", 0, "/abs/x.odb", "/abs/x.odb"},
      {"Beta", "/abs/x.odb", GVERR_INVALID_ARGUMENT, "", ""},
      {nullptr, "../x.odb", GVERR_INVALID_ARGUMENT, "", ""},
      {nullptr, "a/../../x.odb", GVERR_INVALID_ARGUMENT, "", ""},
      {nullptr, "", GVERR_INVALID_ARGUMENT, "", ""},
      {nullptr, "dir/", GVERR_INVALID_ARGUMENT, "", ""},
      {nullptr, nullptr, GVERR_INVALID_ARGUMENT, "", ""},
      {"nosuch", "a.odb", GVERR_NO_SERVER, "", ""},
      {nullptr, "nosuch!!a.odb", GVERR_NO_SERVER, "", ""},
  };
  for (const Case& c : cases) {
    plexa::DbPath p;
    SCOPED_TRACE(std::string(c.server ? c.server : "(null)") + " / " +
                 (c.file ? c.file : "(null)"));
    ASSERT_EQ(plexa::ResolveDatabase(root.path(), c.server, c.file, p), c.status);
    if (c.status != 0) continue;
    EXPECT_EQ(p.path, c.path[0] == '/' ? c.path : root.path() + c.path);
    EXPECT_EQ(p.Name(), c.name);
  }
  plexa::DbPath host;
  std::string name = plexa::HostName();
  if (!name.empty()) {
    ASSERT_EQ(plexa::ResolveDatabase(root.path(), name.c_str(), "h.odb", host), 0u);
    EXPECT_EQ(host.path, root.path() + "local/h.odb") << "the host name is the local server";
  }
}

TEST_F(SessionTest, ServersRespondWhenTheirDirectoryExists) {
  uint32_t answer = 7;
  for (const char* local : {static_cast<const char*>(nullptr), "", "@1352"}) {
    ASSERT_EQ(GVServerGetProperty(local, GVSRVPROP_RESPONDS, &answer), 0u);
    EXPECT_EQ(answer, 1u);
  }
  ASSERT_EQ(GVServerGetProperty("Other", GVSRVPROP_RESPONDS, &answer), 0u);
  EXPECT_EQ(answer, 0u);
  ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/other"));
  ASSERT_EQ(GVServerGetProperty("OTHER@1352", GVSRVPROP_RESPONDS, &answer), 0u);
  EXPECT_EQ(answer, 1u);
  EXPECT_EQ(GVServerGetProperty("Other", 2, &answer), GVERR_INVALID_ARGUMENT);
}

TEST_F(SessionTest, ServerNamesTakePorts) {
  char result[GV_SERVER_NAME_SIZE];
  ASSERT_EQ(GVServerSetPort("srv", "1352", result), 0u);
  EXPECT_STREQ(result, "srv@1352");
  ASSERT_EQ(GVServerSetPort("srv@1", "2", result), 0u);
  EXPECT_STREQ(result, "srv@2");
  ASSERT_EQ(GVServerSetPort("srv", "", result), 0u);
  EXPECT_STREQ(result, "srv");
  std::string longName(126, 's');
  std::memset(result, 'x', sizeof result);
  EXPECT_EQ(GVServerSetPort(longName.c_str(), "99", result), GVERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(result[0], 'x') << "no output on failure";
  longName.pop_back();
  ASSERT_EQ(GVServerSetPort(longName.c_str(), "9", result), 0u) << "127 bytes fit";
  EXPECT_EQ(std::strlen(result), 127u);
}

TEST_F(SessionTest, ServerListWalksTheNamedServersSorted) {
  for (const char* s : {"Beta", "alpha", "CN=X/O=Y"})
    ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/" + plexa::EncodeServerName(s)));
  std::vector<std::string> names;
  char name[GV_SERVER_NAME_SIZE];
  for (uint32_t pos = GV_LIST_NEXT; GVServerList(pos, name) == 0; pos = GV_LIST_NEXT)
    names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta", "cn=x/o=y"}));
  EXPECT_EQ(LastStatus(), GVERR_NO_MORE);
  ASSERT_EQ(GVServerList(GV_LIST_FIRST, name), 0u);
  EXPECT_STREQ(name, "alpha");
}

// ---------------------------------------------------------------- databases ----------------

TEST_F(SessionTest, CreateOpenAndProperties) {
  ASSERT_EQ(GVDatabaseCreate(nullptr, "p.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  EXPECT_EQ(GVDatabaseCreate(nullptr, "p.odb", "again", 0, nullptr, nullptr, 0, 0), GVERR_EXISTS);
  ASSERT_EQ(GVDatabaseCreate(nullptr, "sub/dir/t.odb", "Titled", 0, nullptr, nullptr, 0, 0), 0u);
  GVDB p = 0, t = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "p.odb", 0, &p), 0u);
  ASSERT_EQ(GVDatabaseOpen("", "sub\\dir\\t.odb", 0, &t), 0u);
  char title[GV_TITLE_SIZE];
  ASSERT_EQ(GVDatabaseGetProperty(p, GVDBPROP_TITLE, title), 0u);
  EXPECT_STREQ(title, "p.odb") << "no title: the file's name";
  ASSERT_EQ(GVDatabaseGetProperty(t, GVDBPROP_TITLE, title), 0u);
  EXPECT_STREQ(title, "Titled");
  uint8_t id1[GV_UNID_SIZE], id2[GV_UNID_SIZE];
  ASSERT_EQ(GVDatabaseGetProperty(p, GVDBPROP_IDENTITY, id1), 0u);
  ASSERT_EQ(GVDatabaseGetProperty(t, GVDBPROP_IDENTITY, id2), 0u);
  EXPECT_NE(std::memcmp(id1, id2, GV_UNID_SIZE), 0);
  char path[GV_PATH_SIZE];
  ASSERT_EQ(GVDatabaseGetProperty(t, GVDBPROP_PATH, path), 0u);
  EXPECT_STREQ(path, "sub/dir/t.odb");
  // The form check is a property of this open handle only, off at first.
  uint32_t on = 9;
  ASSERT_EQ(GVDatabaseGetProperty(p, GVDBPROP_FORM_CHECK, &on), 0u);
  EXPECT_EQ(on, 0u);
  ASSERT_EQ(GVDatabaseSetProperty(p, GVDBPROP_FORM_CHECK, 1), 0u);
  GVDB p2 = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "p.odb", 0, &p2), 0u);
  ASSERT_EQ(GVDatabaseGetProperty(p2, GVDBPROP_FORM_CHECK, &on), 0u);
  EXPECT_EQ(on, 0u);
  ASSERT_EQ(GVDatabaseGetProperty(p, GVDBPROP_FORM_CHECK, &on), 0u);
  EXPECT_EQ(on, 1u);
  EXPECT_EQ(GVDatabaseSetProperty(p, GVDBPROP_TITLE, 0), GVERR_NOT_SUPPORTED);
  EXPECT_EQ(GVDatabaseSetProperty(p, 77, 0), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVDatabaseGetProperty(p, 77, &on), GVERR_INVALID_ARGUMENT);
  // Opening a missing file creates nothing.
  GVDB none = 0;
  EXPECT_EQ(GVDatabaseOpen(nullptr, "none.odb", 0, &none), GVERR_NO_DATABASE);
  EXPECT_FALSE(Exists(Local("none.odb")));
}

// Directories are made for a new database only inside its server's directory; an absolute
// name elsewhere needs its directory to be there already.
TEST_F(SessionTest, NewDatabasesMakeDirectoriesOnlyInsideTheirServer) {
  twtest::TempDir outside;
  ASSERT_EQ(GVDatabaseCreate(nullptr, "src.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  const std::string missing = outside.path() + "none/dir/x.odb";
  const std::string present = outside.path() + "x.odb";
  const std::string inRoot = Local("made/here/x.odb");
  struct Case {
    std::string file;
    uint32_t status;
  } cases[] = {{missing, GVERR_FILE}, {present, 0}, {inRoot, 0}, {"deep/er/y.odb", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(GVDatabaseCreate(nullptr, c.file.c_str(), nullptr, 0, nullptr, nullptr, 0, 0),
              c.status);
    const std::string copy = c.file + ".copy";
    EXPECT_EQ(GVDatabaseCopy(nullptr, "src.odb", nullptr, copy.c_str(), nullptr, 257, 0x7FFF, 0),
              c.status);
  }
  EXPECT_FALSE(Exists(outside.path() + "none"));
  EXPECT_TRUE(Exists(inRoot));
  EXPECT_TRUE(Exists(Local("deep/er/y.odb.copy")));
}

TEST_F(SessionTest, DatabasesOnNamedServers) {
  EXPECT_EQ(GVDatabaseCreate("Beta", "b.odb", nullptr, 0, nullptr, nullptr, 0, 0), GVERR_NO_SERVER);
  ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/beta"));
  ASSERT_EQ(GVDatabaseCreate("Beta", "b.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  EXPECT_TRUE(Exists(root() + "servers/beta/b.odb"));
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "beta!!b.odb", 0, &db), 0u);
  char path[GV_PATH_SIZE];
  ASSERT_EQ(GVDatabaseGetProperty(db, GVDBPROP_PATH, path), 0u);
  EXPECT_STREQ(path, "beta!!b.odb");
}

TEST_F(SessionTest, ForeignAndDamagedFilesAnswerAStatus) {
  // A database of ours with a document, to damage in several ways.
  GVDB good = CreateOpen("good.odb");
  for (int i = 0; i < 50; ++i) StoreDocument(good, "N", i);
  ASSERT_EQ(GVDatabaseClose(good, 0), 0u);
  std::string goodBytes = ReadFile(Local("good.odb"));
  ASSERT_GT(goodBytes.size(), 8192u);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(Local("foreign.odb").c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  ASSERT_EQ(GVDatabaseCreate(nullptr, "schema3.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  {
    RawDb s3(Local("schema3.odb"));
    s3.Exec("UPDATE meta SET value = 3 WHERE key = 'schema'");
  }
  std::string garbage(4096, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  WriteFile(Local("garbage.odb"), garbage);
  WriteFile(Local("empty.odb"), "");
  WriteFile(Local("truncated.odb"), goodBytes.substr(0, 100));
  ASSERT_TRUE(plexa::MakeDirectories(Local("adir.odb")));
  std::string foreignBefore = ReadFile(Local("foreign.odb"));
  for (const char* file :
       {"foreign.odb", "schema3.odb", "garbage.odb", "empty.odb", "truncated.odb", "adir.odb"}) {
    GVDB db = 0;
    EXPECT_EQ(GVDatabaseOpen(nullptr, file, 0, &db), GVERR_NOT_A_DATABASE) << file;
    EXPECT_EQ(db, 0u);
  }
  EXPECT_EQ(ReadFile(Local("foreign.odb")), foreignBefore) << "a foreign file is left alone";
  // Pages damaged behind the first: the open may pass, the reads answer a status.
  std::string damaged = goodBytes;
  for (size_t i = 4096; i < damaged.size(); ++i) damaged[i] = static_cast<char>(0xA5 ^ i);
  WriteFile(Local("damaged.odb"), damaged);
  GVDB db = 0;
  uint32_t st = GVDatabaseOpen(nullptr, "damaged.odb", 0, &db);
  if (st == 0) {
    GVDOC doc = 0;
    uint32_t open = GVDocumentOpen(db, 2, 0, &doc);
    EXPECT_TRUE(open == GVERR_NOT_A_DATABASE || open == GVERR_NO_ENTRY) << std::hex << open;
  } else {
    EXPECT_EQ(st, GVERR_NOT_A_DATABASE);
  }
}

TEST_F(SessionTest, ABusyDatabaseAnswersBusyAfterTheTimeout) {
  ASSERT_EQ(GVDatabaseCreate(nullptr, "l.odb", nullptr, 0, nullptr, nullptr, 0, 0), 0u);
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 1), 0u);  // a tenth of a second
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "l.odb", 0, &db), 0u);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  ASSERT_EQ(GVItemPut(doc, "Subject", 0, 0, GVTYPE_TEXT, "waits", 0), 0u);
  RawDb other(Local("l.odb"));
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_BUSY);
  EXPECT_NE(LastText().find("locked"), std::string::npos) << LastText();
  GVNOTEID id = 1;
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(id, 0u) << "a failed store leaves the document new";
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(GVDocumentSave(doc, 0), 0u);
  ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id), 0u);
  EXPECT_EQ(id, 2u);
}

TEST_F(SessionTest, NoteIdsAreEvenIncreasingNeverReusedAndBelowTwoToThe31) {
  GVDB db = CreateOpen("ids.odb");
  GVNOTEID a = StoreDocument(db, "N", 1), b = StoreDocument(db, "N", 2);
  GVNOTEID c = StoreDocument(db, "N", 3);
  EXPECT_EQ(a, 2u);
  EXPECT_EQ(b, 4u);
  EXPECT_EQ(c, 6u);
  ASSERT_EQ(GVDocumentDelete(db, c, 0), 0u);
  EXPECT_EQ(GVDocumentDelete(db, c, 0), GVERR_NO_ENTRY);
  EXPECT_EQ(StoreDocument(db, "N", 4), 8u) << "a deleted id stays retired";
  {
    RawDb raw(Local("ids.odb"));
    raw.Exec("UPDATE meta SET value = 1073741822 WHERE key = 'next_note'");
  }
  EXPECT_EQ(StoreDocument(db, "N", 5), 0x7FFFFFFEu);
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
  EXPECT_EQ(GVDocumentSave(doc, 0), GVERR_TOO_BIG);
}

TEST_F(SessionTest, TheAccessListIsRecorded) {
  GVDB db = CreateOpen("acl.odb");
  GVACLEntry entry{};
  entry.access = GVACCESS_MANAGER;
  EXPECT_EQ(GVACLUpdate(db, nullptr, &entry, GVACL_UPDATE), 0u);
  EXPECT_EQ(GVACLUpdate(db, nullptr, &entry, GVACL_UPDATE), 0u) << "update adds or replaces";
  EXPECT_EQ(GVACLUpdate(db, "Admin", &entry, GVACL_ADD), 0u);
  EXPECT_EQ(GVACLUpdate(db, "ADMIN", &entry, GVACL_ADD), GVERR_EXISTS);
  EXPECT_EQ(GVACLUpdate(db, "admin", nullptr, GVACL_DELETE), 0u);
  EXPECT_EQ(GVACLUpdate(db, "admin", nullptr, GVACL_DELETE), GVERR_NO_ENTRY);
  EXPECT_EQ(GVACLUpdate(db, "x", nullptr, GVACL_ADD), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVACLUpdate(db, "x", &entry, 9), GVERR_INVALID_ARGUMENT);
  RawDb raw(Local("acl.odb"));
  EXPECT_EQ(raw.Column("SELECT name FROM acl"), (std::vector<std::string>{""}));
  EXPECT_EQ(raw.Int("SELECT access FROM acl"), GVACCESS_MANAGER);
}

// A template with a form, a standard and a temporary view, an information note, an access
// entry and a document indexed by the standard view.
class TemplateTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    ASSERT_EQ(GVDatabaseCreate(nullptr, "tmpl.otm", "Template Title", 0, nullptr, nullptr, 0, 0),
              0u);
    GVDB db = 0;
    ASSERT_EQ(GVDatabaseOpen(nullptr, "tmpl.otm", 0, &db), 0u);
    GVACLEntry entry{};
    entry.access = GVACCESS_MANAGER;
    ASSERT_EQ(GVACLUpdate(db, nullptr, &entry, GVACL_UPDATE), 0u);
    doc_ = StoreDocument(db, "Value", 42);
    ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
    RawDb raw(Local("tmpl.otm"));
    GVFormDesign design{};
    design.formType = GVFORM_DOCUMENT;
    std::strcpy(design.name, "Memo");
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(raw.get(),
                                 "INSERT INTO form_def(form, design, body) VALUES(1000, ?, x'')",
                                 -1, &st, nullptr),
              SQLITE_OK);
    const char* notes =
        "INSERT INTO note(id, unid, class, design_key, created, modified, seq) VALUES"
        "(1000, randomblob(16), 256, 'memo', zeroblob(8), zeroblob(8), 1),"
        "(1002, randomblob(16), 512, '(temp)', zeroblob(8), zeroblob(8), 1),"
        "(1004, randomblob(16), 512, 'all', zeroblob(8), zeroblob(8), 1),"
        "(1006, randomblob(16), 2, NULL, zeroblob(8), zeroblob(8), 1);"
        "INSERT INTO view_def(view, style) VALUES(1002, 2), (1004, 8);"
        "UPDATE meta SET value = 503 WHERE key = 'next_note';"
        "UPDATE meta SET value = 1 WHERE key = 'is_template';";
    ASSERT_EQ(raw.Exec(notes), SQLITE_OK);
    raw.Exec(
        "INSERT INTO view_entry(view, sortkey, note, dup, cells) VALUES"
        "(1004, x'01', " +
        std::to_string(doc_) +
        ", 0, x''),"
        "(1002, x'01', " +
        std::to_string(doc_) + ", 0, x'')");
    sqlite3_bind_blob(st, 1, &design, sizeof design, SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(st), SQLITE_DONE);
    sqlite3_finalize(st);
  }
  GVNOTEID doc_ = 0;
};

TEST_F(TemplateTest, CreateTakesTheDesignWithANewIdentity) {
  ASSERT_EQ(
      GVDatabaseCreate(nullptr, "new.odb", nullptr, 0, nullptr, Local("tmpl.otm").c_str(), 0, 1),
      0u);
  RawDb made(Local("new.odb"));
  EXPECT_EQ(made.Column("SELECT id FROM note ORDER BY id").size(), 3u);
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM note WHERE id IN (1000, 1004, 1006)"), 3)
      << "form, standard view and information note keep their ids";
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM note WHERE class = 1"), 0) << "no documents";
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM view_entry"), 0);
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM acl"), 1);
  EXPECT_EQ(made.Column("SELECT value FROM meta WHERE key = 'title'"),
            (std::vector<std::string>{"Template Title"}));
  EXPECT_EQ(made.Column("SELECT value FROM meta WHERE key = 'template'"),
            (std::vector<std::string>{Local("tmpl.otm")}));
  EXPECT_EQ(made.Int("SELECT value FROM meta WHERE key = 'inherit'"), 1);
  EXPECT_EQ(made.Int("SELECT value FROM meta WHERE key = 'is_template'"), 0);
  RawDb tmpl(Local("tmpl.otm"));
  EXPECT_NE(made.Column("SELECT value FROM meta WHERE key = 'identity'"),
            tmpl.Column("SELECT value FROM meta WHERE key = 'identity'"));
  // New notes continue above the template's ids, and a document can use its form.
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "new.odb", 0, &db), 0u);
  EXPECT_GT(StoreDocument(db, "X", 1), 1006u);
  GVDOC memo = 0;
  ASSERT_EQ(GVDocumentCreate(db, 1000, &memo), 0u);
  char form[32];
  uint32_t kind = GVTYPE_TEXT;
  ASSERT_EQ(GVItemFetch(memo, "Form", &kind, 0, sizeof form, form), 0u);
  EXPECT_STREQ(form, "Memo");
  GVNOTEID formId = 0;
  ASSERT_EQ(GVDocumentGetProperty(memo, GVDOCPROP_FORM, &formId), 0u);
  EXPECT_EQ(formId, 1000u);
}

TEST_F(TemplateTest, CreateOptionsTitleDocumentsAndInheritance) {
  ASSERT_EQ(GVDatabaseCreate(nullptr, "docs.odb", "Own Title", 0, "", Local("tmpl.otm").c_str(),
                             GVCREATE_DOCUMENTS, 0),
            0u);
  RawDb made(Local("docs.odb"));
  EXPECT_EQ(made.Column("SELECT value FROM meta WHERE key = 'title'"),
            (std::vector<std::string>{"Own Title"}));
  EXPECT_EQ(made.Int("SELECT value FROM meta WHERE key = 'inherit'"), 0);
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM note WHERE class = 1"), 1);
  EXPECT_EQ(made.Int("SELECT COUNT(*) FROM view_entry"), 1) << "only the temporary view goes";
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "docs.odb", 0, &db), 0u);
  EXPECT_EQ(FetchNumber(db, doc_, "Value"), 42.0);
  // Relative template names resolve like database names; a missing template creates nothing.
  ASSERT_EQ(GVDatabaseCreate(nullptr, "rel.odb", nullptr, 0, nullptr, "tmpl.otm", 2, 1), 0u);
  EXPECT_EQ(GVDatabaseCreate(nullptr, "x.odb", nullptr, 0, nullptr, "none.otm", 2, 1),
            GVERR_NO_DATABASE);
  EXPECT_FALSE(Exists(Local("x.odb")));
  EXPECT_EQ(GVDatabaseCreate(nullptr, "rel.odb", nullptr, 0, nullptr, "tmpl.otm", 2, 1),
            GVERR_EXISTS);
}

TEST_F(SessionTest, CopyIsConsistentWhileAnotherProcessWrites) {
  GVDB db = CreateOpen("live.odb", "Live");
  GVNOTEID pair = 0;
  {
    GVDOC doc = 0;
    double zero = 0;
    ASSERT_EQ(GVDocumentCreate(db, 0, &doc), 0u);
    ASSERT_EQ(GVItemPut(doc, "A", 0, 0, GVTYPE_NUMBER, &zero, 0), 0u);
    ASSERT_EQ(GVItemPut(doc, "B", 0, 0, GVTYPE_NUMBER, &zero, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
    pair = 2;
  }
  uint8_t unid[GV_UNID_SIZE];
  {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(db, pair, 0, &doc), 0u);
    ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, unid), 0u);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
  }
  ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
  constexpr int kStores = 400;
  plexatest::Child writer([&](plexatest::Child& self) {
    GVDB own = 0;
    if (GVDatabaseOpen(nullptr, "live.odb", 0, &own) != 0) return 2;
    for (int k = 1; k <= kStores; ++k) {
      GVDOC doc = 0;
      double v = k;
      if (GVDocumentOpen(own, pair, 0, &doc) != 0) return 3;
      // Both items change in one store: a consistent copy never shows them apart.
      if (GVItemPut(doc, "A", 0, 0, GVTYPE_NUMBER, &v, 0) != 0) return 4;
      if (GVItemPut(doc, "B", 0, 0, GVTYPE_NUMBER, &v, 0) != 0) return 4;
      if (GVDocumentClose(doc, 0) != 0) return 5;
      StoreDocument(own, "K", k);
      if (k == 1) self.Send(1);
    }
    return 0;
  });
  uint32_t started = 0;
  ASSERT_TRUE(writer.Receive(started));
  for (int i = 0; i < 5; ++i) {
    std::string name = "copy" + std::to_string(i) + ".odb";
    ASSERT_EQ(GVDatabaseCopy(nullptr, "live.odb", nullptr, name.c_str(), "Backup",
                             GVCOPY_WHOLE | GVCOPY_TITLE | GVCOPY_NEW_IDENTITY, 0x7FFF, 0),
              0u);
    GVDB copy = 0;
    ASSERT_EQ(GVDatabaseOpen(nullptr, name.c_str(), 0, &copy), 0u);
    double a = FetchNumber(copy, pair, "A"), b = FetchNumber(copy, pair, "B");
    EXPECT_EQ(a, b) << name;
    GVDOC doc = 0;
    uint8_t copied[GV_UNID_SIZE];
    ASSERT_EQ(GVDocumentOpen(copy, pair, 0, &doc), 0u) << "note ids are kept";
    ASSERT_EQ(GVDocumentGetProperty(doc, GVDOCPROP_UNID, copied), 0u);
    EXPECT_EQ(std::memcmp(unid, copied, sizeof unid), 0) << "identities of notes are kept";
    char title[GV_TITLE_SIZE];
    ASSERT_EQ(GVDatabaseGetProperty(copy, GVDBPROP_TITLE, title), 0u);
    EXPECT_STREQ(title, "Backup");
    ASSERT_EQ(GVDatabaseClose(copy, 0), 0u);
    RawDb check(Local(name));
    EXPECT_EQ(check.Column("PRAGMA integrity_check"), (std::vector<std::string>{"ok"}));
  }
  EXPECT_EQ(writer.Wait(), 0);
  // Without GVCOPY_TITLE the source's title stays; an existing destination is refused; a
  // source above the size limit is refused.
  ASSERT_EQ(
      GVDatabaseCopy(nullptr, "live.odb", nullptr, "plain.odb", "ignored", GVCOPY_WHOLE, 0x7FFF, 0),
      0u);
  RawDb plain(Local("plain.odb"));
  EXPECT_EQ(plain.Column("SELECT value FROM meta WHERE key = 'title'"),
            (std::vector<std::string>{"Live"}));
  EXPECT_EQ(plain.Int("SELECT COUNT(*) FROM note"), kStores + 1);
  EXPECT_EQ(GVDatabaseCopy(nullptr, "live.odb", nullptr, "plain.odb", nullptr, 257, 0x7FFF, 0),
            GVERR_EXISTS);
  {
    RawDb big(Local("live.odb"));
    big.Exec("CREATE TABLE pad(x); INSERT INTO pad VALUES(zeroblob(1200000));");
  }
  EXPECT_EQ(GVDatabaseCopy(nullptr, "live.odb", nullptr, "big.odb", nullptr, 257, 1, 0),
            GVERR_TOO_BIG);
  EXPECT_FALSE(Exists(Local("big.odb")));
}

// A new database is its creator's alone; a copy (a back-up) keeps the original's modes; the
// copy's reading of the original leaves no log files beside it.
TEST_F(SessionTest, NewDatabasesArePrivateAndCopiesKeepTheirModes) {
  auto mode = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  };
  GVDB db = CreateOpen("own.odb");
  StoreDocument(db, "N", 1);
  ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
  EXPECT_EQ(mode(Local("own.odb")), 0600u);
  for (mode_t kept : {0600, 0640}) {
    SCOPED_TRACE(kept);
    ASSERT_EQ(::chmod(Local("own.odb").c_str(), kept), 0);
    const std::string copy = "backup" + std::to_string(kept) + ".odb";
    ASSERT_EQ(
        GVDatabaseCopy(nullptr, "own.odb", nullptr, copy.c_str(), nullptr, GVCOPY_WHOLE, 0x7FFF, 0),
        0u);
    EXPECT_EQ(mode(Local(copy)), kept);
    for (const char* tail : {"-wal", "-shm"}) EXPECT_FALSE(Exists(Local("own.odb") + tail)) << tail;
  }
}

TEST_F(SessionTest, DeleteRemovesOnlyClosedDatabasesOfOurs) {
  GVDB db = CreateOpen("del.odb");
  StoreDocument(db, "N", 1);
  EXPECT_EQ(GVDatabaseDelete(nullptr, "del.odb"), GVERR_DATABASE_IN_USE);
  EXPECT_TRUE(Exists(Local("del.odb")));
  ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
  EXPECT_EQ(GVDatabaseDelete(nullptr, "del.odb"), 0u);
  for (const char* tail : {"", "-wal", "-shm"}) EXPECT_FALSE(Exists(Local("del.odb") + tail));
  EXPECT_EQ(GVDatabaseDelete(nullptr, "del.odb"), GVERR_NO_DATABASE);
  WriteFile(Local("notes.txt"), "not a database");
  EXPECT_EQ(GVDatabaseDelete(nullptr, "notes.txt"), GVERR_NOT_A_DATABASE);
  EXPECT_TRUE(Exists(Local("notes.txt")));
}

TEST_F(SessionTest, RenameMovesAClosedDatabaseOfOursWithinItsServer) {
  uint8_t moved[GV_UNID_SIZE] = {};
  for (const char* file : {"old.odb", "new.odb", "open.odb"}) {
    GVDB db = CreateOpen(file);
    StoreDocument(db, "N", 1);
    if (std::string(file) == "new.odb") {
      ASSERT_EQ(GVDatabaseGetProperty(db, GVDBPROP_IDENTITY, moved), 0u);
    }
    if (std::string(file) != "open.odb") {
      ASSERT_EQ(GVDatabaseClose(db, 0), 0u);
    }
  }
  WriteFile(Local("notes.txt"), "not a database");
  ASSERT_TRUE(plexa::MakeDirectories(root() + "servers/beta"));
  struct Case {
    const char* from;
    const char* to;
    uint32_t flags;
    uint32_t status;
  };
  const Case cases[] = {
      {"old.odb", "new.odb", 0, GVERR_EXISTS},
      {"open.odb", "moved.odb", 0, GVERR_DATABASE_IN_USE},
      {"old.odb", "open.odb", GVRENAME_REPLACE, GVERR_DATABASE_IN_USE},
      {"none.odb", "moved.odb", 0, GVERR_NO_DATABASE},
      {"notes.txt", "moved.odb", 0, GVERR_NOT_A_DATABASE},
      {"old.odb", "notes.txt", GVRENAME_REPLACE, GVERR_NOT_A_DATABASE},
      {"old.odb", "beta!!moved.odb", 0, GVERR_INVALID_ARGUMENT},
      {"old.odb", "moved.odb", 2, GVERR_INVALID_ARGUMENT},
      {"new.odb", "sub/moved.odb", 0, 0},
      // The replaced database is gone whole, log files and all.
      {"sub/moved.odb", "old.odb", GVRENAME_REPLACE, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GVDatabaseRename(nullptr, c.from, c.to, c.flags), c.status) << c.from << " " << c.to;
  EXPECT_EQ(ReadFile(Local("notes.txt")), "not a database");
  for (const char* gone : {"new.odb", "sub/moved.odb", "moved.odb"})
    for (const char* tail : {"", "-wal", "-shm"})
      EXPECT_FALSE(Exists(Local(gone) + tail)) << gone << tail;
  GVDB db = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "old.odb", 0, &db), 0u);
  uint8_t identity[GV_UNID_SIZE] = {};
  ASSERT_EQ(GVDatabaseGetProperty(db, GVDBPROP_IDENTITY, identity), 0u);
  EXPECT_EQ(std::memcmp(identity, moved, GV_UNID_SIZE), 0) << "old.odb is the one moved twice";
}

TEST_F(SessionTest, ListWalksDatabasesAndTemplates) {
  for (const char* f : {"b.odb", "a.odb", "sub/c.odb", "sub/deep/d.odb", "t.otm"})
    ASSERT_EQ(GVDatabaseCreate(nullptr, f, nullptr, 0, nullptr, nullptr, 0, 0), 0u) << f;
  {
    RawDb t(Local("t.otm"));
    t.Exec("UPDATE meta SET value = 1 WHERE key = 'is_template'");
  }
  WriteFile(Local("junk.txt"), "junk");
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(Local("foreign.db").c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  auto walk = [](uint32_t kinds, const char* dir, std::vector<std::string>* titles = nullptr) {
    std::vector<std::string> names;
    char name[GV_PATH_SIZE], title[GV_TITLE_SIZE];
    for (uint32_t pos = GV_LIST_FIRST;
         GVDatabaseList(nullptr, dir, 0, kinds, pos, 0, title, name) == 0; pos = GV_LIST_NEXT) {
      names.push_back(name);
      if (titles) titles->push_back(title);
    }
    return names;
  };
  std::vector<std::string> titles;
  EXPECT_EQ(walk(GVDBLIST_DATABASES, nullptr, &titles),
            (std::vector<std::string>{"a.odb", "b.odb", "sub/c.odb", "sub/deep/d.odb"}));
  EXPECT_EQ(titles, (std::vector<std::string>{"a.odb", "b.odb", "c.odb", "d.odb"}));
  EXPECT_EQ(walk(GVDBLIST_TEMPLATES, nullptr), (std::vector<std::string>{"t.otm"}));
  EXPECT_EQ(walk(GVDBLIST_DATABASES | GVDBLIST_TEMPLATES, nullptr).size(), 5u);
  EXPECT_EQ(walk(GVDBLIST_DATABASES, "sub"),
            (std::vector<std::string>{"sub/c.odb", "sub/deep/d.odb"}));
  char name[GV_PATH_SIZE];
  EXPECT_EQ(GVDatabaseList(nullptr, "../x", 0, GVDBLIST_DATABASES, GV_LIST_FIRST, 0, nullptr, name),
            GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(
      GVDatabaseList("nosuch", nullptr, 0, GVDBLIST_DATABASES, GV_LIST_FIRST, 0, nullptr, name),
      GVERR_NO_SERVER);
  // NEXT without a walk starts one, and a finished walk answers NO_MORE once.
  ASSERT_EQ(GVDatabaseList(nullptr, nullptr, 0, GVDBLIST_TEMPLATES, GV_LIST_NEXT, 0, nullptr, name),
            0u);
  EXPECT_STREQ(name, "t.otm");
  EXPECT_EQ(GVDatabaseList(nullptr, nullptr, 0, GVDBLIST_TEMPLATES, GV_LIST_NEXT, 0, nullptr, name),
            GVERR_NO_MORE);
}

}  // namespace
