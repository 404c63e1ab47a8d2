// The Xandb connector's connection: the client code page, the type scan, the server kind, the
// name limits, properties, failed log-ons, and ending the connection (the final commit, and
// RollbackOnError).
#include <optional>
#include <string>
#include <vector>

#include "xandb_test_util.h"

namespace xandb_test {
namespace {

bool Logged(Env& env, size_t mark, std::string_view part) {
  for (const LogEntry& e : env.Log(mark))
    if (e.text.find(part) != std::string::npos) return true;
  return false;
}

struct CodePageCase {
  const char* value;  // null: unset
  uint32_t format;
  bool warned;
};

TEST(XandbCodePage, TheLinkTextFormatOfXandbCodePage) {
  Env env;
  const CodePageCase cases[] = {
      {"1252", TWSTREAMFMT_CP1252, false}, {" 850", TWSTREAMFMT_CP850, false},
      {"943", TWSTREAMFMT_CP932, false},   {"1363", TWSTREAMFMT_NATIVE, true},
      {"4711", TWSTREAMFMT_NATIVE, true},  {"abc", TWSTREAMFMT_NATIVE, false},
      {"0", TWSTREAMFMT_NATIVE, false},    {nullptr, TWSTREAMFMT_NATIVE, false},
  };
  for (const CodePageCase& k : cases) {
    ScopedEnv page("XandbCODEPAGE", k.value);
    const size_t mark = env.LogSize();
    Link link;
    EXPECT_EQ(link_test::GetInt(link.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(k.format))
        << (k.value ? k.value : "unset");
    EXPECT_EQ(Logged(env, mark, "Unsupported Link character set"), k.warned)
        << (k.value ? k.value : "unset");
  }
}

TEST(XandbCodePage, TextsTravelInTheClientsPage) {
  Env env;
  ScopedEnv page("XandbCODEPAGE", "1252");
  SqliteSource lite;
  Direct(lite.source()).ExecAll({"CREATE TABLE W (NAME VARCHAR(20))"});
  Link link;
  ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS);
  link.Table("W");
  List in(1);
  SetValue(in.Add("NAME", TWTYPE_TEXT), 1, "caf\xC3\xA9 \xE2\x82\xAC");
  uint32_t n = 0;
  ASSERT_EQ(link.c.Insert(in.get(), 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  ASSERT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);
  // The engine holds UTF-8; the connector reads back what it wrote.
  EXPECT_EQ(Direct(lite.source()).Scalar("SELECT NAME FROM W"), "caf\xC3\xA9 \xE2\x82\xAC");
  List out(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, out.get(), &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(out.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(out.Value(1, 1), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(XandbTypeScan, NineRecognisedRowsAreReadToTheEighth) {
  Env env;
  SqliteSource lite;
  // An unrecognised row first, then nine recognised: the ninth (a larger CHAR) is not read.
  ScopedEnv types("XANDBCLI_TYPE_INFO",
                  "4:10:2,1:10:3,12:20:3,-1:30:1,-99:40:2,-2:11:3,-3:21:2,-4:31:1,-98:41:0,1:99:3");
  Link link;
  ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS) << LogLast().text;
  const xandb::TypeLimits& l = link.c.limits;
  EXPECT_EQ(l.charSize, 10);
  EXPECT_EQ(l.varcharSize, 20);
  EXPECT_EQ(l.longVarcharSize, 30);
  EXPECT_EQ(l.clobSize, 40);
  EXPECT_EQ(l.binarySize, 11);
  EXPECT_EQ(l.varbinarySize, 21);
  EXPECT_EQ(l.longVarbinarySize, 31);
  EXPECT_EQ(l.blobSize, 41);
  EXPECT_EQ(l.charType, xandb::kSqlClob);
  EXPECT_EQ(l.binaryType, xandb::kSqlBlob);
  // Searchable: SEARCHABLE 3 or 2 only.
  EXPECT_EQ(l.searchCharType, xandb::kSqlClob);
  EXPECT_EQ(l.searchCharSize, 40);
  EXPECT_EQ(l.searchBinaryType, SQL_VARBINARY);
  EXPECT_EQ(l.searchBinarySize, 21);
}

TEST(XandbServerKind, ByTheDbmsName) {
  Env env;
  SqliteSource lite;
  const std::pair<const char*, int32_t> cases[] = {{"as", 1},    {"AS", 1},     {"xandb/400", 1},
                                                   {"XANDB", 2}, {"Xandb2", 0}, {"SQLite", 0}};
  for (auto [name, kind] : cases) {
    ScopedEnv dbms("XANDBCLI_DBMS_NAME", name);
    Link link;
    ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS) << name;
    EXPECT_EQ(link.c.serverKind, kind) << name;
  }
}

// The data source's column-name limit; 0 says there is none, not that names are empty.
TEST(XandbNames, TheColumnNameLimit) {
  Env env;
  SqliteSource lite;
  Direct(lite.source()).ExecAll({"CREATE TABLE L (LONGNAME INTEGER)"});
  const std::pair<const char*, const char*> cases[] = {
      {"0", "SELECT LONGNAME FROM L"}, {"4", "SELECT LONG FROM L"}, {"", "SELECT LONGNAME FROM L"}};
  for (auto [limit, text] : cases) {
    ScopedEnv setting("XANDBCLI_MAX_COLUMN_NAME_LEN", limit);
    Recording recording;
    Link link;
    ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS);
    link.Table("L");
    link.Str(TWTOKEN_FIELD_LIST, "LONGNAME");
    uint32_t n = 0;
    (void)link.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &n);
    EXPECT_EQ(recording.Take(), std::vector<std::string>{text}) << limit;
  }
}

TEST(XandbProperties, RefusedTokens) {
  Env env;
  Link link;
  uint32_t status = 0;
  EXPECT_FALSE(link_test::GetText(link.c, TWTOKEN_PASSWORD, &status));
  EXPECT_EQ(status, TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(link_test::SetInt(link.c, TWTOKEN_TEXT_FORMAT, 0x52), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(link_test::SetText(link.c, TWTOKEN_SERVER, "x"), TWFAIL_INVALID_PROPERTY);
  EXPECT_FALSE(link_test::GetText(link.c, TWTOKEN_SERVER, &status));
  EXPECT_EQ(status, TWFAIL_INVALID_PROPERTY);
  for (uint32_t token : {1u, 2u, 3u, 4u}) {
    EXPECT_EQ(link_test::SetInt(link.c, token, 5), TWSUCCESS) << token;
    EXPECT_EQ(link_test::GetInt(link.c, token), token == 2 || token == 4 ? 1 : 5) << token;
  }
}

TEST(XandbConnect, AFailedLogOnLogsTheDriversTextAndLeavesNothingOpen) {
  Env env;
  DataSource unknown{"no_such_source_" + std::to_string(::getpid())};
  std::vector<DataSource> sources = {unknown};
  std::unique_ptr<PgSource> pg;
  if (odbc_test::PgAvailable()) {
    pg = std::make_unique<PgSource>();
    DataSource wrong = pg->source();
    wrong.user = odbc_test::kPgPasswordUser;
    wrong.password = "wrong";
    sources.push_back(wrong);
  }
  for (const DataSource& s : sources) {
    Link link;
    EXPECT_EQ(link.Connect(s), TWFAIL_EXTERNAL) << s.dsn;
    EXPECT_FALSE(LogLast().externalText.empty()) << s.dsn;
    EXPECT_EQ(link.c.dbc, nullptr) << s.dsn;
  }
}

// The final commit of a disconnect is reported when it fails: PostgreSQL checks a deferred
// constraint only then.
TEST(XandbDisconnect, TheFinalCommitsStatus) {
  Env env;
  Source source(Engine::kPostgres);
  XANDB_REQUIRE(source);
  Direct direct(source.source());
  direct.ExecAll(
      {"CREATE TABLE d (id INTEGER, CONSTRAINT d_once UNIQUE (id) DEFERRABLE "
       "INITIALLY DEFERRED)"});
  struct Case {
    const char* what;
    std::vector<int32_t> ids;
    bool fails;
  };
  for (const Case& k :
       {Case{"committed", {1, 2}, false}, Case{"refused at commit", {3, 3}, true}}) {
    Link link;
    ASSERT_EQ(link.Connect(source.source()), TWSUCCESS);
    link.Table("d");
    List in(static_cast<uint32_t>(k.ids.size()));
    TWFIELD id = in.Add("ID", TWTYPE_INT);
    for (uint32_t r = 1; r <= k.ids.size(); ++r) ASSERT_EQ(TWFieldSetInt(id, r, &k.ids[r - 1]), 0u);
    uint32_t n = 0;
    ASSERT_EQ(link.c.Insert(in.get(), 1, static_cast<uint32_t>(k.ids.size()), &n), TWSUCCESS)
        << k.what;
    const uint32_t status = link.c.Disconnect(0);
    if (k.fails) {
      EXPECT_EQ(status, TWFAIL_EXTERNAL) << k.what;
      EXPECT_NE(LogLast().externalText.find("d_once"), std::string::npos) << LogLast().externalText;
    } else {
      EXPECT_EQ(status, TWSUCCESS) << k.what;
    }
    EXPECT_EQ(link.c.dbc, nullptr);
  }
  EXPECT_EQ(direct.Query("SELECT id FROM d ORDER BY id"), (Rows{{"1"}, {"2"}}));
}

TEST(XandbDisconnect, RollbackOnErrorUndoesTheWorkOfARunThatFailed) {
  Env env;
  SqliteSource lite;
  Direct(lite.source()).ExecAll({"CREATE TABLE R (ID INTEGER)"});
  struct Case {
    int32_t rollbackOnError;
    uint32_t errorFlag;
    const char* rows;
  };
  for (const Case& k : {Case{1, 1, "0"}, Case{1, 0, "1"}, Case{0, 1, "2"}}) {
    Link link;
    ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS);
    link.Str(TWTOKEN_METADATA, "R").Num(xandb::kRollbackOnError, k.rollbackOnError);
    List in(1);
    int32_t one = 1;
    ASSERT_EQ(TWFieldSetInt(in.Add("ID", TWTYPE_INT), 1, &one), TWSUCCESS);
    uint32_t n = 0;
    ASSERT_EQ(link.c.Insert(in.get(), 1, 1, &n), TWSUCCESS);
    EXPECT_EQ(link.c.Disconnect(k.errorFlag), TWSUCCESS);
    EXPECT_EQ(Direct(lite.source()).Scalar("SELECT count(*) FROM R"), k.rows);
  }
}

// NoJournal is the client's own switch: the driver is never told to refuse writes.
TEST(XandbConnect, NoJournalLeavesTheConnectionWritable) {
  Env env;
  SqliteSource lite;
  Direct(lite.source()).ExecAll({"CREATE TABLE J (ID INTEGER)"});
  Link link;
  link.Num(xandb::kNoJournal, 1);
  ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS) << LogLast().externalText;
  link.Str(TWTOKEN_METADATA, "J").Num(xandb::kCommitFrequency, 1);
  List in(1);
  int32_t one = 1;
  ASSERT_EQ(TWFieldSetInt(in.Add("ID", TWTYPE_INT), 1, &one), TWSUCCESS);
  uint32_t n = 0;
  ASSERT_EQ(link.c.Insert(in.get(), 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  // Autocommit is on: the row is there before any commit.
  EXPECT_EQ(Direct(lite.source()).Scalar("SELECT count(*) FROM J"), "1");
}

}  // namespace
}  // namespace xandb_test
