// The statements of the ODBC connector against both real drivers (the SQLite ODBC driver on a
// temporary file; PostgreSQL when TW_PG_PORT names a cluster): writes and selections by key,
// refused keyless writes, emptying, create-when-missing and drop, the catalogue lists, commit
// counting (also across a runner killed mid-transaction) and driver errors in the log.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <memory>

#include "sqlcli_test_util.h"

namespace sqlcli_test {
namespace {

enum class Db { kSqlite, kPostgres };

std::string DbName(const testing::TestParamInfo<Db>& info) {
  return info.param == Db::kSqlite ? "Sqlite" : "Postgres";
}

// A field of a test list: size is the length of a stream or the precision of a number.
struct FieldDef {
  std::string name;
  uint32_t type = TWTYPE_TEXT;
  uint32_t flags = 0;
  uint32_t size = 0;
  int32_t scale = 0;
};

// A list of the fields holding rows of texts (kNull for a null value); one empty record when
// rows is empty.
std::unique_ptr<List> Records(const std::vector<FieldDef>& fields, const Rows& rows = {}) {
  auto list = std::make_unique<List>(static_cast<uint32_t>(std::max<size_t>(rows.size(), 1)));
  for (const FieldDef& s : fields) {
    TWFIELD f = list->Add(s.name, s.type);
    const bool stream = s.type == TWTYPE_TEXT || s.type == TWTYPE_BINARY;
    uint32_t st = TWSUCCESS;
    if (s.size != 0)
      st = stream ? TWFieldSetFormatStream(f, 0, s.size, TWSTREAMFMT_NATIVE)
                  : TWFieldSetFormatNumber(f, 0, 0, s.size, s.scale);
    if (st == TWSUCCESS && s.flags != 0) st = TWFieldSetFlags(f, s.flags);
    EXPECT_EQ(st, TWSUCCESS) << s.name;
  }
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t i = 0; i < rows[r].size(); ++i)
      if (rows[r][i] != kNull)
        SetValue(list->Field(static_cast<uint32_t>(i + 1)), static_cast<uint32_t>(r + 1),
                 rows[r][i]);
  return list;
}

// Every record of the open result, fetched one by one into dest (one record).
Rows FetchAll(Connection& c, const List& dest) {
  Rows rows;
  for (int guard = 0; guard < 1000; ++guard) {
    uint32_t moved = 0;
    const uint32_t st = c.Fetch(dest.get(), 1, 1, &moved);
    if (st == TWFAIL_END_OF_DATA) break;
    EXPECT_EQ(st, TWSUCCESS);
    if (st != TWSUCCESS) break;
    std::vector<std::string> row;
    for (uint32_t i = 1; i <= dest.count(); ++i) row.push_back(dest.Value(i, 1).value_or(kNull));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string Lower(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

// Whether an entry of status whose text contains part (any case) was logged.
bool Logged(const std::vector<LogEntry>& entries, uint32_t status, std::string_view part) {
  return std::any_of(entries.begin(), entries.end(), [&](const LogEntry& e) {
    return e.status == status && Lower(e.text).find(Lower(std::string(part))) != std::string::npos;
  });
}

std::string Dump(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const LogEntry& e : entries) out += "[" + std::to_string(e.status) + "] " + e.text + "\n";
  return out;
}

class StatementsTest : public testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    if (GetParam() == Db::kPostgres) {
      SQLCLI_REQUIRE_PG();
      pg_.emplace();
      ASSERT_TRUE(pg_->available());
    } else {
      // Foreign keys are enforced only when asked for.
      lite_.emplace(std::vector<std::pair<std::string, std::string>>{{"FKSupport", "1"}});
    }
  }
  const DataSource& source() const { return pg_ ? pg_->source() : lite_->source(); }
  Direct& direct() {
    if (!direct_) direct_.emplace(source());
    return *direct_;
  }
  // A connection of the connector on table, fields matched by name, committing as
  // commitFrequency says (1: the driver's autocommit).
  std::unique_ptr<Link> Open(std::string_view table, int32_t commitFrequency = 1) {
    auto link = std::make_unique<Link>();
    link->Str(TWTOKEN_METADATA, table)
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, commitFrequency);
    EXPECT_EQ(link->Connect(source()), TWSUCCESS) << Dump(env_.Log());
    return link;
  }
  std::string Count(const std::string& table) {
    return direct().Scalar("SELECT COUNT(*) FROM " + table);
  }

  Env env_;
  std::optional<SqliteSource> lite_;
  std::optional<PgSource> pg_;
  std::optional<Direct> direct_;
};

TEST_P(StatementsTest, InsertSelectUpdateRemoveByKey) {
  direct().ExecAll({"CREATE TABLE items (a integer PRIMARY KEY, b varchar(20))"});
  auto link = Open("items");
  Connection& c = link->c;
  auto rows = Records({{"a", TWTYPE_INT}, {"b"}}, {{"1", "one"}, {"2", "two"}, {"3", "three"}});
  uint32_t affected = 0;
  ASSERT_EQ(c.Insert(rows->get(), 1, 3, &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 3u);

  // a >= 2, in order of a.
  link->Str(TWTOKEN_ORDER_LIST, "a");
  auto keys = Records({{"a", TWTYPE_INT, TWFIELDF_KEY | TWFIELDF_KEY_GT}}, {{"2"}});
  List dest(1);
  ASSERT_EQ(c.Select(keys->get(), 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(FetchAll(c, dest), (Rows{{"2", "two"}, {"3", "three"}}));

  // The second record matches no row: it counts nothing and is no failure.
  auto changes = Records({{"a", TWTYPE_INT, TWFIELDF_KEY}, {"b"}}, {{"2", "TWO"}, {"9", "nine"}});
  ASSERT_EQ(c.Update(changes->get(), 1, 2, &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 1u);
  auto gone = Records({{"a", TWTYPE_INT, TWFIELDF_KEY}}, {{"3"}});
  ASSERT_EQ(c.Remove(gone->get(), 1, 1, &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 1u);
  EXPECT_EQ(direct().Query("SELECT a, b FROM items ORDER BY a"),
            (Rows{{"1", "one"}, {"2", "TWO"}}));
}

TEST_P(StatementsTest, KeylessUpdateOrRemoveIsRefusedAndChangesNothing) {
  direct().ExecAll({"CREATE TABLE items (a integer, b varchar(20))",
                    "INSERT INTO items VALUES (1, 'one')", "INSERT INTO items VALUES (2, 'two')"});
  auto link = Open("items");
  auto rows = Records({{"a", TWTYPE_INT}, {"b"}}, {{"1", "gone"}});
  const size_t mark = env_.LogSize();
  uint32_t affected = 7;
  EXPECT_EQ(link->c.Update(rows->get(), 1, 1, &affected), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(affected, 0u);
  EXPECT_EQ(link->c.Remove(rows->get(), 1, 1, &affected), TWFAIL_KEY_COUNT_MISMATCH);
  const std::vector<LogEntry> log = env_.Log(mark);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const LogEntry& e) { return e.status == TWFAIL_KEY_COUNT_MISMATCH; }),
            2)
      << Dump(log);
  EXPECT_EQ(direct().Query("SELECT a, b FROM items ORDER BY a"),
            (Rows{{"1", "one"}, {"2", "two"}}));
}

// SQLite has no TRUNCATE TABLE: the table is emptied by DELETE FROM instead.
TEST_P(StatementsTest, EmptyTableTruncatesOrDeletes) {
  direct().ExecAll({"CREATE TABLE items (a integer)", "INSERT INTO items VALUES (1)",
                    "INSERT INTO items VALUES (2)"});
  auto link = Open("items");
  ASSERT_EQ(link->c.Action(TWACTION_TRUNCATE), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(Count("items"), "0");

  link->Str(TWTOKEN_METADATA, "missing");
  const size_t mark = env_.LogSize();
  EXPECT_EQ(link->c.Action(TWACTION_TRUNCATE), TWFAIL_INVALID_METADATA);
  EXPECT_TRUE(Logged(env_.Log(mark), TWFAIL_INVALID_METADATA, "'missing'")) << Dump(env_.Log(mark));
}

// As the direct transfer does it: an insert reports the table missing, Create makes it, the
// insert is repeated. Without autocommit, PostgreSQL has aborted the transaction at the
// failed insert: CREATE TABLE succeeds only on its retry with autocommit.
TEST_P(StatementsTest, CreateWhenMissingThenDrop) {
  auto link = Open("made", 0);
  Connection& c = link->c;
  const std::vector<FieldDef> fields = {
      {"id", TWTYPE_INT, TWFIELDF_NO_NULL, 9},
      {"name", TWTYPE_TEXT, 0, 20},
      {"amount", TWTYPE_NUMERIC, 0, 10, 2},
      {"scratch", TWTYPE_TEXT, TWFIELDF_NO_CREATE | TWFIELDF_NO_INSERT},
  };
  auto rows = Records(fields, {{"1", "one", "12.25", "x"}, {"2", kNull, kNull, "y"}});
  size_t mark = env_.LogSize();
  EXPECT_EQ(c.Insert(rows->get(), 1, 2, nullptr), TWFAIL_INVALID_METADATA);
  EXPECT_TRUE(Logged(env_.Log(mark), TWFAIL_INVALID_METADATA, "'made'")) << Dump(env_.Log(mark));
  ASSERT_EQ(c.Create(TWOBJECT_METADATA, rows->get()), TWSUCCESS) << Dump(env_.Log(mark));
  uint32_t affected = 0;
  ASSERT_EQ(c.Insert(rows->get(), 1, 2, &affected), TWSUCCESS) << Dump(env_.Log(mark));
  EXPECT_EQ(affected, 2u);
  ASSERT_EQ(c.Disconnect(), TWSUCCESS);
  EXPECT_EQ(direct().Query("SELECT id, name, amount FROM made ORDER BY id"),
            (Rows{{"1", "one", "12.25"}, {"2", kNull, kNull}}));
  // The NO_CREATE field made no column; NO_NULL made one NOT NULL.
  std::string error;
  EXPECT_FALSE(direct().Exec("SELECT scratch FROM made", &error));
  EXPECT_FALSE(direct().Exec("INSERT INTO made (id) VALUES (NULL)", &error));

  direct_.reset();  // SQLite: no reader may hold the file while the table is dropped
  link = Open("made", 0);
  EXPECT_EQ(link->c.Drop(TWOBJECT_METADATA), TWSUCCESS) << Dump(env_.Log());
  mark = env_.LogSize();
  EXPECT_EQ(link->c.Drop(TWOBJECT_METADATA), TWFAIL_INVALID_METADATA);
  EXPECT_TRUE(Logged(env_.Log(mark), TWFAIL_INVALID_METADATA, "'made'")) << Dump(env_.Log(mark));
  ASSERT_EQ(link->c.Disconnect(), TWSUCCESS);
  EXPECT_FALSE(direct().Exec("SELECT id FROM made", &error));

  // Only tables are created and dropped, and never without a column.
  link = Open("other");
  EXPECT_EQ(link->c.Create(TWOBJECT_INDEX, rows->get()), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link->c.Drop(TWOBJECT_DATABASE), TWFAIL_UNAVAILABLE);
  auto skipped = Records({{"scratch", TWTYPE_TEXT, TWFIELDF_NO_CREATE}});
  EXPECT_EQ(link->c.Create(TWOBJECT_METADATA, skipped->get()), TWFAIL_EMPTY_FIELDLIST);
}

// Quoted column names reach the data source in every statement the connector writes; the
// table name never is quoted.
TEST_P(StatementsTest, QuoteColumnQuotesEveryColumn) {
  auto link = Open("quoted");
  Connection& c = link->c;
  link->Str(sqlcli::kQuoteColumn, "\"");
  auto rows = Records({{"Id", TWTYPE_INT, TWFIELDF_KEY, 9}, {"Full Name", TWTYPE_TEXT, 0, 20}},
                      {{"1", "Ada"}, {"2", "Bob"}});
  ASSERT_EQ(c.Create(TWOBJECT_METADATA, rows->get()), TWSUCCESS) << Dump(env_.Log());
  ASSERT_EQ(c.Insert(rows->get(), 1, 2, nullptr), TWSUCCESS) << Dump(env_.Log());
  auto change = Records({{"Id", TWTYPE_INT, TWFIELDF_KEY}, {"Full Name"}}, {{"2", "Bea"}});
  ASSERT_EQ(c.Update(change->get(), 1, 1, nullptr), TWSUCCESS) << Dump(env_.Log());
  link->Str(TWTOKEN_FIELD_LIST, "Full Name, Id").Str(TWTOKEN_ORDER_LIST, "Id");
  List dest(1);
  ASSERT_EQ(c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(FetchAll(c, dest), (Rows{{"Ada", "1"}, {"Bea", "2"}}));
}

TEST_P(StatementsTest, CatalogueListsSourcesTablesAndColumns) {
  direct().ExecAll({"CREATE TABLE items (a integer, b varchar(20))"});
  auto link = Open("items");
  Connection& c = link->c;
  uint32_t affected = 0;

  List sources(1);
  ASSERT_EQ(c.Catalog(TWOBJECT_SERVER, sources.get(), &affected), TWSUCCESS);
  EXPECT_EQ(affected, TWCOUNT_UNKNOWN);
  ASSERT_EQ(sources.count(), 3u);
  Text name;
  EXPECT_EQ(TWFieldlistGetName(sources.get(), 1, TWSTREAMFMT_NATIVE, name.get()), TWSUCCESS);
  EXPECT_EQ(name.str(), "DSN");
  const Rows dsns = FetchAll(c, sources);
  EXPECT_TRUE(std::any_of(dsns.begin(), dsns.end(), [&](const auto& row) {
    return row[0] == source().dsn && row[1] == kNull;
  }));

  List tables(1);
  ASSERT_EQ(c.Catalog(TWOBJECT_METADATA, tables.get(), &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, TWCOUNT_UNKNOWN);
  const Rows listed = FetchAll(c, tables);
  EXPECT_TRUE(
      std::any_of(listed.begin(), listed.end(), [](const auto& row) { return row[0] == "items"; }));

  List columns(1);
  ASSERT_EQ(c.Catalog(TWOBJECT_FIELD, columns.get(), &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 2u);
  EXPECT_EQ(FetchAll(c, columns), (Rows{{"a", kNull, kNull}, {"b", kNull, kNull}}));

  for (uint32_t kind : std::initializer_list<uint32_t>{TWOBJECT_DATABASE, TWOBJECT_INDEX, 6})
    EXPECT_EQ(c.Catalog(kind, TWNULLHANDLE, &affected), TWFAIL_UNAVAILABLE) << kind;

  link->Str(TWTOKEN_METADATA, "missing");
  const size_t mark = env_.LogSize();
  EXPECT_EQ(c.Catalog(TWOBJECT_FIELD, TWNULLHANDLE, &affected), TWFAIL_INVALID_METADATA);
  EXPECT_TRUE(Logged(env_.Log(mark), TWFAIL_INVALID_METADATA, "'missing'")) << Dump(env_.Log(mark));
}

// With positioned statements (forced here: neither driver offers them) a write-back selection
// is opened FOR UPDATE and updates go through its cursor; DisableCursor turns both back to key
// terms, the update then taking its columns from the open result. The cursor is named only
// for positioned writes: the SQLite driver cannot name one, and write back by key works
// there all the same.
TEST_P(StatementsTest, WriteBackUsesTheCursorUnlessDisabled) {
  direct().ExecAll({"CREATE TABLE items (a integer, b varchar(20))",
                    "INSERT INTO items VALUES (1, 'one')", "INSERT INTO items VALUES (2, 'two')"});
  auto link = Open("items");
  Connection& c = link->c;
  c.positioned = true;
  link->Num(TWTOKEN_WRITEBACK, 1).Str(TWTOKEN_FIELD_LIST, "a, b").Str(TWTOKEN_ORDER_LIST, "a");
  auto change = Records({{"a", TWTYPE_INT, TWFIELDF_KEY}, {"b"}}, {{"1", "uno"}});
  // What the drivers make of these texts (neither takes them) is theirs to say.
  (void)c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, nullptr);
  EXPECT_EQ(c.mainOp.text, "SELECT a, b FROM items ORDER BY a FOR UPDATE OF a, b");
  (void)c.Update(change->get(), 1, 1, nullptr);
  EXPECT_EQ(c.updateOp.text, "UPDATE items SET b = ? WHERE CURRENT OF QTCURSOR");

  link->Num(sqlcli::kDisableCursor, 1);
  List dest(1);
  ASSERT_EQ(c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(c.mainOp.text, "SELECT a, b FROM items ORDER BY a");
  ASSERT_EQ(c.Update(change->get(), 1, 1, nullptr), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(c.updateOp.text, "UPDATE items SET b = ? WHERE a = ?");
  EXPECT_EQ(FetchAll(c, dest).size(), 2u);
  EXPECT_EQ(direct().Query("SELECT b FROM items ORDER BY a"), (Rows{{"uno"}, {"two"}}));
}

// CommitFrequency 3: a commit after every third write; the rest waits for the disconnect.
TEST_P(StatementsTest, CommitFrequencyCommitsEveryNthStatement) {
  direct().ExecAll({"CREATE TABLE items (a integer, b varchar(20))"});
  auto link = Open("items", 3);
  auto rows = Records({{"a", TWTYPE_INT}, {"b"}},
                      {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}});
  uint32_t affected = 0;
  ASSERT_EQ(link->c.Insert(rows->get(), 1, 5, &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 5u);
  EXPECT_EQ(Count("items"), "3");
  ASSERT_EQ(link->c.Disconnect(), TWSUCCESS);
  EXPECT_EQ(Count("items"), "5");
}

// A runner killed after five inserts with CommitFrequency 3 leaves exactly the three it
// committed: the other two die with its transaction.
TEST_P(StatementsTest, KilledRunnerKeepsOnlyCommittedRows) {
  direct().ExecAll({"CREATE TABLE items (a integer, b varchar(20))"});
  direct_.reset();  // nothing of the test's own stays open across the fork
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    char result = 'x';
    {
      Link link;
      link.Str(TWTOKEN_METADATA, "items").Num(TWTOKEN_MAP_NAME, 1).Num(sqlcli::kCommitFrequency, 3);
      auto rows = Records({{"a", TWTYPE_INT}, {"b"}},
                          {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}});
      if (link.Connect(source()) == TWSUCCESS &&
          link.c.Insert(rows->get(), 1, 5, nullptr) == TWSUCCESS)
        result = 'y';
      if (::write(ready[1], &result, 1) != 1) ::_exit(2);
      // Waits here, transaction open, until killed.
      for (;;) ::pause();
    }
  }
  ::close(ready[1]);
  char result = 0;
  ASSERT_EQ(::read(ready[0], &result, 1), 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(result, 'y');
  EXPECT_EQ(Count("items"), "3");
}

// A commit of the counter that fails (a deferred constraint checked only then) is logged
// with the driver's text and returned; nothing of the transaction remains.
TEST_P(StatementsTest, FailedCounterCommitIsReported) {
  direct().ExecAll({"CREATE TABLE parent (id integer PRIMARY KEY)",
                    "CREATE TABLE items (a integer REFERENCES parent (id) DEFERRABLE INITIALLY "
                    "DEFERRED, b varchar(20))"});
  auto link = Open("items", 2);
  auto rows = Records({{"a", TWTYPE_INT}, {"b"}}, {{"1", "orphan"}, {"2", "orphan"}});
  const size_t mark = env_.LogSize();
  uint32_t affected = 0;
  EXPECT_EQ(link->c.Insert(rows->get(), 1, 2, &affected), TWFAIL_EXTERNAL);
  EXPECT_TRUE(Logged(env_.Log(mark), TWFAIL_EXTERNAL, "foreign key")) << Dump(env_.Log(mark));
  link.reset();
  EXPECT_EQ(Count("items"), "0");
}

// A syntax error in CONDITION: the driver's own words in the log (without a trailing line
// end) and TWFAIL_EXTERNAL.
TEST_P(StatementsTest, BadConditionLogsTheDriversText) {
  direct().ExecAll({"CREATE TABLE items (a integer)"});
  auto link = Open("items");
  link->Str(TWTOKEN_CONDITION, "a >>> 1 +");
  const size_t mark = env_.LogSize();
  EXPECT_EQ(link->c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, nullptr), TWFAIL_EXTERNAL);
  const std::vector<LogEntry> log = env_.Log(mark);
  EXPECT_TRUE(Logged(log, TWFAIL_EXTERNAL, "syntax")) << Dump(log);
  // The log adds "  (<native code>)" after the driver's text.
  for (const LogEntry& e : log) {
    const std::string text = e.text.substr(0, e.text.rfind("  ("));
    EXPECT_TRUE(!text.empty() && text.back() != '\n' && text.back() != '\r') << e.text;
  }
}

// The time-stamp window: rows up to now, then (with BASESTAMP) only those after it; its
// markers come before the key's.
TEST_P(StatementsTest, StampWindowSelectsRowsUpToNow) {
  direct().ExecAll({"CREATE TABLE stamped (a integer, s timestamp)",
                    "INSERT INTO stamped VALUES (1, '2001-01-01 10:00:00')",
                    "INSERT INTO stamped VALUES (2, '2020-06-01 10:00:00')",
                    "INSERT INTO stamped VALUES (3, '2020-07-01 10:00:00')",
                    "INSERT INTO stamped VALUES (4, '2999-01-01 00:00:00')"});
  auto link = Open("stamped");
  Connection& c = link->c;
  link->Str(TWTOKEN_STAMPFIELD, "s").Str(TWTOKEN_FIELD_LIST, "a").Str(TWTOKEN_ORDER_LIST, "a");
  EXPECT_EQ(GetText(c, TWTOKEN_MAXSTAMP).value_or("?"), "");
  {
    List dest(1);
    ASSERT_EQ(c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
    EXPECT_EQ(FetchAll(c, dest), (Rows{{"1"}, {"2"}, {"3"}}));
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_NE(GetText(c, TWTOKEN_MAXSTAMP).value_or("").find(std::to_string(local.tm_year + 1900)),
            std::string::npos);

  link->Str(TWTOKEN_BASESTAMP, "2010-01-01 00:00:00");
  {
    List dest(1);
    ASSERT_EQ(c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
    EXPECT_EQ(FetchAll(c, dest), (Rows{{"2"}, {"3"}}));
  }
  auto keys = Records(
      {{"a", TWTYPE_INT, TWFIELDF_KEY | TWFIELDF_KEY_NE | TWFIELDF_KEY_GT | TWFIELDF_KEY_LT}},
      {{"3"}});
  {
    List dest(1);
    ASSERT_EQ(c.Select(keys->get(), 1, dest.get(), nullptr), TWSUCCESS) << Dump(env_.Log());
    EXPECT_EQ(FetchAll(c, dest), (Rows{{"2"}}));
  }
}

// A caller's statement: a result is described into the list; a statement without one opens
// nothing; a table the data source does not know is reported.
TEST_P(StatementsTest, ExecuteRunsTheCallersText) {
  direct().ExecAll(
      {"CREATE TABLE items (a integer, b varchar(20))", "INSERT INTO items VALUES (1, 'one')"});
  auto link = Open("items");
  Connection& c = link->c;
  Text select("SELECT b, a FROM items");
  List dest(1);
  // A caller moves nothing when told 0 rows: a result's count is its rows or unknown, never 0.
  uint32_t opened = 0;
  ASSERT_EQ(c.Execute(select.get(), dest.get(), &opened), TWSUCCESS) << Dump(env_.Log());
  EXPECT_TRUE(opened == 1u || opened == TWCOUNT_UNKNOWN) << opened;
  EXPECT_EQ(FetchAll(c, dest), (Rows{{"one", "1"}}));

  Text update("UPDATE items SET b = 'uno'");
  uint32_t affected = 0;
  ASSERT_EQ(c.Execute(update.get(), TWNULLHANDLE, &affected), TWSUCCESS) << Dump(env_.Log());
  EXPECT_EQ(affected, 1u);
  List none(1);
  EXPECT_EQ(c.Fetch(none.get(), 1, 1, nullptr), TWFAIL_NO_RESULTSET);

  Text missing("SELECT * FROM missing");
  EXPECT_EQ(c.Execute(missing.get(), TWNULLHANDLE, nullptr), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(LogLast().status, TWFAIL_INVALID_METADATA);
  // An empty text is answered to the caller, who names what it lacks: nothing more is logged.
  Text empty("");
  EXPECT_EQ(c.Execute(empty.get(), TWNULLHANDLE, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(LogLast().status, TWFAIL_INVALID_METADATA);
  EXPECT_EQ(c.Execute(nullptr, TWNULLHANDLE, nullptr), TWFAIL_NULL_BUFFER);
}

// A selection read into bound buffers (SQLite's a row a fetch, PostgreSQL's a block) gives
// what the same rows read a value at a time by an executed text give: nulls, accented text,
// text longer than a piece of the driver's, and integers at the ends of their range and
// beyond it.
TEST_P(StatementsTest, SelectionReadIntoBoundBuffersGivesWhatAnExecuteGives) {
  const bool lite = GetParam() == Db::kSqlite;
  const std::string rows = "300";
  const std::string longText =
      lite ? "replace(hex(zeroblob(40000 + i)), '00', 'u')" : "repeat('u', 40000 + i)";
  direct().ExecAll(
      {"CREATE TABLE bound (k integer, v text, n bigint)",
       "INSERT INTO bound SELECT i, CASE WHEN i % 7 = 0 THEN NULL WHEN i % 50 = 0 THEN 'Çà-é' || " +
           longText +
           " ELSE 'é' || i END, CASE WHEN i = 1 THEN -2147483648 WHEN i = 2 THEN 2147483647 WHEN "
           "i % 11 = 0 THEN NULL ELSE i - 150 END FROM (" +
           (lite ? "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
                       rows + ") SELECT i FROM c"
                 : "SELECT generate_series(1, " + rows + ") AS i") +
           ") s",
       "INSERT INTO bound VALUES (301, 'x', 2147483648)"});
  // Every row until the one that fails or the end, and the status that ended them.
  auto read = [&](Connection& c, List& fields, uint32_t* ended) {
    Rows got;
    while ((*ended = c.Fetch(fields.get(), 1, 1, nullptr)) == TWSUCCESS) {
      std::vector<std::string> row;
      for (uint32_t i = 1; i <= fields.count(); ++i)
        row.push_back(fields.Value(i, 1).value_or(kNull));
      got.push_back(std::move(row));
    }
    return got;
  };
  Link selected;
  selected.Str(TWTOKEN_METADATA, "bound").Str(TWTOKEN_ORDER_LIST, "k");
  ASSERT_EQ(selected.Connect(source()), TWSUCCESS) << Dump(env_.Log());
  List boundFields(1);
  ASSERT_EQ(selected.c.Select(TWNULLHANDLE, 1, boundFields.get(), nullptr), TWSUCCESS)
      << Dump(env_.Log());
  uint32_t boundEnd = 0, aloneEnd = 0;
  const Rows bound = read(selected.c, boundFields, &boundEnd);
  EXPECT_TRUE(selected.c.rowBlock.active);
  auto executed = Open("bound");
  Text text("SELECT k, v, n FROM bound ORDER BY k");
  List described(1);
  ASSERT_EQ(executed->c.Execute(text.get(), described.get(), nullptr), TWSUCCESS)
      << Dump(env_.Log());
  const Rows alone = read(executed->c, described, &aloneEnd);
  // The last row's n is beyond an integer field, whichever way it is read.
  EXPECT_EQ(boundEnd, TWFAIL_OVERFLOW);
  EXPECT_EQ(aloneEnd, TWFAIL_OVERFLOW);
  ASSERT_EQ(bound.size(), 300u);
  EXPECT_EQ(bound, alone);
  EXPECT_EQ(bound[0][2], "-2147483648");
  EXPECT_EQ(bound[1][2], "2147483647");
  EXPECT_EQ(bound[6][1], kNull);
  EXPECT_EQ(bound[10][2], kNull);
  EXPECT_EQ(bound[47][1], "é48");
  EXPECT_EQ(bound[49][1], "Çà-é" + std::string(40050, 'u'));
  EXPECT_EQ(bound[49][1], "Çà-é" + std::string(40050, 'u'));
}

// PostgreSQL refuses every statement of a transaction after a failed one (here the driver is
// told to leave failed transactions alone): CREATE TABLE fails there and succeeds on its retry
// with autocommit; autocommit is off again afterwards.
TEST(StatementsPgTest, CreateRetriesWithAutocommitInAnAbortedTransaction) {
  SQLCLI_REQUIRE_PG();
  Env env;
  PgSource pg(std::vector<std::pair<std::string, std::string>>{{"Protocol", "7.4-0"}});
  ASSERT_TRUE(pg.available());
  Link link;
  link.Str(TWTOKEN_METADATA, "made").Num(TWTOKEN_MAP_NAME, 1).Num(sqlcli::kCommitFrequency, 0);
  ASSERT_EQ(link.Connect(pg.source()), TWSUCCESS);
  Text bad("SELECT * FROM nowhere");
  EXPECT_EQ(link.c.Execute(bad.get(), TWNULLHANDLE, nullptr), TWFAIL_INVALID_METADATA);
  Text probe("SELECT 1");
  size_t mark = env.LogSize();
  EXPECT_EQ(link.c.Execute(probe.get(), TWNULLHANDLE, nullptr), TWFAIL_EXTERNAL);
  ASSERT_TRUE(Logged(env.Log(mark), TWFAIL_EXTERNAL, "aborted")) << Dump(env.Log(mark));

  auto rows = Records({{"id", TWTYPE_INT, 0, 9}}, {{"1"}});
  mark = env.LogSize();
  ASSERT_EQ(link.c.Create(TWOBJECT_METADATA, rows->get()), TWSUCCESS) << Dump(env.Log(mark));
  ASSERT_EQ(link.c.Insert(rows->get(), 1, 1, nullptr), TWSUCCESS) << Dump(env.Log(mark));
  Direct direct(pg.source());
  EXPECT_EQ(direct.Scalar("SELECT COUNT(*) FROM made"), "0");  // the insert waits for a commit
  ASSERT_EQ(link.c.Disconnect(), TWSUCCESS);
  EXPECT_EQ(direct.Scalar("SELECT COUNT(*) FROM made"), "1");
}

// A selection on PostgreSQL is read through a cursor, a thousand rows a round trip, instead of
// whole into the driver's memory; a data source that says how to fetch keeps its own way. Seen
// in what the connector's server process ran last once a block and one row were fetched.
TEST(StatementsPgTest, SelectionsAreReadInBlocksUnlessTheDataSourceSaysOtherwise) {
  SQLCLI_REQUIRE_PG();
  const struct {
    std::vector<std::pair<std::string, std::string>> settings;
    std::string_view ran;  // in the last statement of the connector's server process; "": none
  } cases[] = {
      {{}, "fetch 1000 in"},
      {{{"UseDeclareFetch", "0"}}, ""},
      {{{"Fetch", "50"}}, "fetch 50 in"},
      {{{"UseDeclareFetch", "1"}, {"Fetch", "7"}}, "fetch 7 in"},
  };
  constexpr int kRows = 1500, kFirst = 1001;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings.empty() ? "no settings" : k.settings.back().first);
    Env env;
    PgSource pg(k.settings);
    ASSERT_TRUE(pg.available());
    Direct direct(pg.source());
    direct.ExecAll({"CREATE TABLE rows (k integer, v varchar(10))",
                    "INSERT INTO rows SELECT i, 'v' || i FROM generate_series(1, " +
                        std::to_string(kRows) + ") i"});
    Link link;
    link.Str(TWTOKEN_METADATA, "rows")
        .Str(TWTOKEN_ORDER_LIST, "k")
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, 0);
    ASSERT_EQ(link.Connect(pg.source()), TWSUCCESS) << Dump(env.Log());
    List dest(1);
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env.Log());
    for (int i = 0; i < kFirst; ++i)
      ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, nullptr), TWSUCCESS) << Dump(env.Log());
    const std::string ran = Lower(direct.Scalar(
        "SELECT query FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
        "pg_backend_pid()"));
    if (!k.ran.empty())
      EXPECT_NE(ran.find(k.ran), std::string::npos) << ran;
    else
      EXPECT_EQ(ran.find("fetch"), std::string::npos) << ran;
    // However it is read, the selection gives every row, in order.
    const Rows rest = FetchAll(link.c, dest);
    ASSERT_EQ(rest.size(), size_t{kRows - kFirst});
    EXPECT_EQ(rest.front(), (std::vector<std::string>{std::to_string(kFirst + 1),
                                                      "v" + std::to_string(kFirst + 1)}));
    EXPECT_EQ(rest.back().front(), std::to_string(kRows));
    EXPECT_EQ(link.c.Disconnect(), TWSUCCESS);
  }
}

// The SQLite driver keeps its transactions only while reading a result whole; the connector
// steps through a result and opens and ends the transactions by statements. A commit that
// another connection's read lock refuses, at a counter commit or at the disconnect, is logged
// and returned, and nothing of the transaction remains.
TEST(StatementsSqliteTest, ACommitThatAReadLockRefusesFailsAndLeavesNothing) {
  Env env;
  // A short wait for the lock: the commit fails soon.
  SqliteSource lite(std::vector<std::pair<std::string, std::string>>{{"Timeout", "200"}});
  Direct direct(lite.source());
  direct.ExecAll(
      {"CREATE TABLE items (a integer, b varchar(20))", "INSERT INTO items VALUES (0, 'é')"});
  const struct {
    int32_t frequency;
    uint32_t inserted;  // the status of the insert of three records
  } cases[] = {{0, TWSUCCESS}, {2, TWFAIL_EXTERNAL}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.frequency);
    Link link;
    link.Str(TWTOKEN_METADATA, "items")
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, k.frequency);
    ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS) << Dump(env.Log());
    Direct reader(lite.source());
    reader.ExecAll({"BEGIN"});
    ASSERT_EQ(reader.Scalar("SELECT COUNT(*) FROM items"), "1");
    auto rows = Records({{"a", TWTYPE_INT}, {"b"}}, {{"1", "ä"}, {"2", "日本"}, {"3", kNull}});
    const size_t mark = env.LogSize();
    EXPECT_EQ(link.c.Insert(rows->get(), 1, 3, nullptr), k.inserted) << Dump(env.Log(mark));
    EXPECT_EQ(link.c.Disconnect(k.inserted == TWSUCCESS ? 0 : 1), TWFAIL_EXTERNAL);
    EXPECT_TRUE(Logged(env.Log(mark), TWFAIL_EXTERNAL, "locked")) << Dump(env.Log(mark));
    reader.ExecAll({"COMMIT"});
    EXPECT_EQ(direct.Query("SELECT a, b FROM items"), (Rows{{"0", "é"}}));
  }
}

// The SQLite driver steps through a selection (which holds the file's read lock until it is
// read to its end) unless the data source says to read it whole at its execution.
TEST(StatementsSqliteTest, SelectionsAreSteppedThroughUnlessTheDataSourceSaysOtherwise) {
  const struct {
    std::vector<std::pair<std::string, std::string>> settings;
    bool stepped;
  } cases[] = {
      {{}, true},
      {{{"StepAPI", "0"}}, false},
      {{{"StepAPI", "1"}}, true},
  };
  constexpr int kRows = 50;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings.empty() ? "no settings" : k.settings.back().second);
    Env env;
    std::vector<std::pair<std::string, std::string>> settings = {{"Timeout", "200"}};
    settings.insert(settings.end(), k.settings.begin(), k.settings.end());
    SqliteSource lite(settings);
    Direct direct(lite.source());
    direct.ExecAll({"CREATE TABLE rows (k integer PRIMARY KEY, v varchar(10))"});
    for (int i = 1; i <= kRows; ++i)
      direct.ExecAll(
          {"INSERT INTO rows VALUES (" + std::to_string(i) + ", 'v" + std::to_string(i) + "')"});
    Link link;
    // Autocommit: no transaction of the connector's holds the lock.
    link.Str(TWTOKEN_METADATA, "rows")
        .Str(TWTOKEN_ORDER_LIST, "k")
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, 1);
    ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS) << Dump(env.Log());
    List dest(1);
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), nullptr), TWSUCCESS) << Dump(env.Log());
    ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, nullptr), TWSUCCESS) << Dump(env.Log());
    std::string error;
    EXPECT_EQ(direct.Exec("DELETE FROM rows WHERE k = 1", &error), !k.stepped) << error;
    // However it is read, the selection gives every row it found, in order.
    const Rows rest = FetchAll(link.c, dest);
    ASSERT_EQ(rest.size(), size_t{kRows - 1});
    EXPECT_EQ(rest.back().front(), std::to_string(kRows));
    EXPECT_EQ(link.c.Disconnect(), TWSUCCESS);
  }
}

// Rows read a block at a time give what rows read one at a time give (a cursor whose reads
// no block divides is read so): nulls, accented text, text longer than one piece of the
// driver's, the ends of the double's range, and a caller whose list changes the way a column
// is fetched between two fetches of one result.
TEST(StatementsPgTest, RowsReadInBlocksAreTheRowsReadOneAtATime) {
  SQLCLI_REQUIRE_PG();
  constexpr int kRows = 600, kSwitch = 333;
  Env env;
  PgSource inBlocksSource, aloneSource({{"UseDeclareFetch", "1"}, {"Fetch", "257"}});
  ASSERT_TRUE(inBlocksSource.available() && aloneSource.available());
  for (const PgSource* pg : {&inBlocksSource, &aloneSource})
    Direct(pg->source())
        .ExecAll({"CREATE TABLE mixed (k integer, v varchar(12), t text, d timestamp, x double "
                  "precision)",
                  "INSERT INTO mixed SELECT i, CASE WHEN i % 7 = 0 THEN NULL ELSE 'Çà-é ' || i "
                  "END, CASE WHEN i % 50 = 0 THEN repeat('ü', 20000 + i) WHEN i % 11 = 0 THEN "
                  "NULL ELSE 't' || i END, CASE WHEN i % 13 = 0 THEN NULL ELSE timestamp "
                  "'2024-02-29 23:59:59' + i * interval '1 hour' END, CASE WHEN i = 1 THEN "
                  "-1.7976931348623157e308 WHEN i = 2 THEN 1.7976931348623157e308 WHEN i % 17 = "
                  "0 THEN NULL ELSE i / 8.0 END FROM generate_series(1, " +
                      std::to_string(kRows) + ") i"});
  auto read = [&](const PgSource& pg, bool* blocks) {
    Rows rows;
    Link link;
    link.Str(TWTOKEN_METADATA, "mixed")
        .Str(TWTOKEN_ORDER_LIST, "k")
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, 0);
    EXPECT_EQ(link.Connect(pg.source()), TWSUCCESS) << Dump(env.Log());
    List described(1);
    EXPECT_EQ(link.c.Select(TWNULLHANDLE, 1, described.get(), nullptr), TWSUCCESS)
        << Dump(env.Log());
    // The datetime column as a datetime first, then as text.
    const auto asText =
        Records({{"k", TWTYPE_INT}, {"v"}, {"t"}, {"d", TWTYPE_TEXT}, {"x", TWTYPE_FLOAT}});
    for (int i = 0; i < kRows + 1; ++i) {
      const List& dest = i < kSwitch ? described : *asText;
      const uint32_t st = link.c.Fetch(dest.get(), 1, 1, nullptr);
      if (i == 0) *blocks = link.c.rowBlock.active;
      if (st == TWFAIL_END_OF_DATA) break;
      EXPECT_EQ(st, TWSUCCESS) << Dump(env.Log());
      if (st != TWSUCCESS) break;
      std::vector<std::string> row;
      for (uint32_t f = 1; f <= dest.count(); ++f) row.push_back(dest.Value(f, 1).value_or(kNull));
      rows.push_back(std::move(row));
    }
    EXPECT_EQ(link.c.Disconnect(), TWSUCCESS);
    return rows;
  };
  bool blocks = false, oneByOne = true;
  const Rows inBlocks = read(inBlocksSource, &blocks);
  const Rows alone = read(aloneSource, &oneByOne);
  EXPECT_TRUE(blocks);
  EXPECT_FALSE(oneByOne);
  ASSERT_EQ(inBlocks.size(), size_t{kRows});
  EXPECT_EQ(inBlocks, alone);
  // Row 50's text, longer than a piece, read alone; a null and an accented text bound.
  std::string longText;
  for (int i = 0; i < 20050; ++i) longText += "ü";
  EXPECT_EQ(inBlocks[49][2], longText);
  EXPECT_EQ(inBlocks[6][1], kNull);
  EXPECT_EQ(inBlocks[0][1], "Çà-é 1");
}

INSTANTIATE_TEST_SUITE_P(Drivers, StatementsTest, testing::Values(Db::kSqlite, Db::kPostgres),
                         DbName);

// A record that fails inside an open transaction costs that record only: the records before
// it in the same call and in earlier calls stay, the transaction goes on, and the call answers
// the failure with the records written before it. So on SQLite, and on PostgreSQL whether its
// driver guards each statement with a savepoint or leaves the failed transaction alone. A
// driver told to roll the whole transaction back at a failure does so: the records before are
// gone, and the next call starts afresh.
struct FailingRecordCase {
  const char* name;
  Db db;
  std::vector<std::pair<std::string, std::string>> attributes;
  int32_t commitFrequency;
  bool wholeTransaction = false;
};

class FailingRecordTest : public testing::TestWithParam<FailingRecordCase> {
 protected:
  // The case's data source; false when its PostgreSQL database cannot be had.
  bool Open() {
    if (GetParam().db != Db::kPostgres) {
      lite.emplace(GetParam().attributes);
      return true;
    }
    pg.emplace(GetParam().attributes);
    return pg->available();
  }
  // link on the table items of source, with the case's commit frequency, connected.
  uint32_t Connect(Link& link, const DataSource& source) {
    link.Str(TWTOKEN_METADATA, "items")
        .Num(TWTOKEN_MAP_NAME, 1)
        .Num(sqlcli::kCommitFrequency, GetParam().commitFrequency);
    return link.Connect(source);
  }

  Env env;
  std::optional<SqliteSource> lite;
  std::optional<PgSource> pg;
};

TEST_P(FailingRecordTest, CostsOnlyThatRecord) {
  const FailingRecordCase& param = GetParam();
  if (param.db == Db::kPostgres) SQLCLI_REQUIRE_PG();
  ASSERT_TRUE(Open());
  const DataSource& source = pg ? pg->source() : lite->source();
  Direct direct(source);
  direct.ExecAll({"CREATE TABLE items (a integer PRIMARY KEY, b varchar(20))"});
  Link link;
  ASSERT_EQ(Connect(link, source), TWSUCCESS) << Dump(env.Log());
  Connection& c = link.c;
  const std::vector<FieldDef> fields = {{"a", TWTYPE_INT}, {"b"}};
  uint32_t affected = 0;
  auto first = Records(fields, {{"1", "one"}, {"2", "two"}});
  ASSERT_EQ(c.Insert(first->get(), 1, 2, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 2u);

  auto failing = Records(fields, {{"3", "three"}, {"4", "four"}, {"1", "again"}, {"5", "five"}});
  const size_t mark = env.LogSize();
  EXPECT_EQ(c.Insert(failing->get(), 1, 4, &affected), TWFAIL_EXTERNAL);
  EXPECT_EQ(affected, param.wholeTransaction ? 0u : 2u);
  const std::vector<LogEntry> log = env.Log(mark);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const LogEntry& e) { return e.status == TWFAIL_EXTERNAL; }),
            1)
      << Dump(log);
  EXPECT_EQ(c.insertOp.text, "INSERT INTO items (a, b) VALUES (?, ?)");

  auto after = Records(fields, {{"6", "six"}});
  ASSERT_EQ(c.Insert(after->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log(mark));
  EXPECT_EQ(affected, 1u);
  ASSERT_EQ(c.Disconnect(), TWSUCCESS) << Dump(env.Log(mark));
  const Rows kept =
      param.wholeTransaction
          ? Rows{{"6", "six"}}
          : Rows{{"1", "one"}, {"2", "two"}, {"3", "three"}, {"4", "four"}, {"6", "six"}};
  EXPECT_EQ(direct.Query("SELECT a, b FROM items ORDER BY a"), kept);
}

// Writes of every kind one record a call, as the replication and the change propagation make
// them: a record that fails costs only itself, whatever kinds went before it in the calls
// since the last commit, and the writes after it go on. A text the caller runs between them
// that commits leaves the writes after it as guarded as those before.
TEST_P(FailingRecordTest, MixedWritesOneRecordACallCostOnlyTheFailingOne) {
  const FailingRecordCase& param = GetParam();
  if (param.db == Db::kPostgres) SQLCLI_REQUIRE_PG();
  ASSERT_TRUE(Open());
  const DataSource& source = pg ? pg->source() : lite->source();
  Direct direct(source);
  direct.ExecAll({"CREATE TABLE items (a integer PRIMARY KEY, b varchar(20), c varchar(20))",
                  "INSERT INTO items (a, b) VALUES (1, 'one')"});
  Link link;
  ASSERT_EQ(Connect(link, source), TWSUCCESS) << Dump(env.Log());
  Connection& c = link.c;
  const std::vector<FieldDef> fields = {{"a", TWTYPE_INT, TWFIELDF_KEY}, {"b"}};
  auto one = [&](const char* a, const char* b) { return Records(fields, {{a, b}}); };
  uint32_t affected = 0;
  if (param.db == Db::kPostgres) {
    Text commit("COMMIT");
    ASSERT_EQ(c.Insert(one("2", "two")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
    ASSERT_EQ(c.Execute(commit.get(), TWNULLHANDLE, nullptr), TWSUCCESS) << Dump(env.Log());
  } else {
    ASSERT_EQ(c.Insert(one("2", "two")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  }
  ASSERT_EQ(c.Insert(one("3", "three")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  ASSERT_EQ(c.Update(one("1", "ONE")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 1u);
  ASSERT_EQ(c.Remove(one("2", "")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 1u);
  ASSERT_EQ(c.Insert(one("4", "four")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  // Another layout: the update's handle holds another text from here.
  auto other = Records({{"a", TWTYPE_INT, TWFIELDF_KEY}, {"c"}}, {{"4", "c4"}});
  ASSERT_EQ(c.Update(other->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 1u);

  const size_t mark = env.LogSize();
  EXPECT_EQ(c.Insert(one("3", "again")->get(), 1, 1, &affected), TWFAIL_EXTERNAL);
  EXPECT_EQ(affected, 0u);
  const std::vector<LogEntry> log = env.Log(mark);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const LogEntry& e) { return e.status == TWFAIL_EXTERNAL; }),
            1)
      << Dump(log);

  ASSERT_EQ(c.Update(one("4", "FOUR")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log(mark));
  ASSERT_EQ(c.Insert(one("5", "five")->get(), 1, 1, &affected), TWSUCCESS) << Dump(env.Log(mark));
  ASSERT_EQ(c.Disconnect(), TWSUCCESS) << Dump(env.Log(mark));
  // The driver that rolls the whole transaction back keeps what the commit held and the
  // writes after the failure (the update finds no row 4 then).
  const Rows kept = param.wholeTransaction
                        ? Rows{{"1", "one", kNull}, {"2", "two", kNull}, {"5", "five", kNull}}
                        : Rows{{"1", "ONE", kNull},
                               {"3", "three", kNull},
                               {"4", "FOUR", "c4"},
                               {"5", "five", kNull}};
  EXPECT_EQ(direct.Query("SELECT a, b, c FROM items ORDER BY a"), kept);
}

// Updates of many records in one call (as the change propagation writes a stretch of insert
// images): the call counts the rows each record found, present or not; a record that fails
// costs only itself, the records before it stay updated and those after it are not written.
TEST_P(FailingRecordTest, UpdatesOfManyRecordsCountWhatEachFound) {
  const FailingRecordCase& param = GetParam();
  if (param.db == Db::kPostgres) SQLCLI_REQUIRE_PG();
  ASSERT_TRUE(Open());
  const DataSource& source = pg ? pg->source() : lite->source();
  Direct direct(source);
  direct.ExecAll({"CREATE TABLE items (a integer PRIMARY KEY, b varchar(20) NOT NULL)",
                  "INSERT INTO items VALUES (1, 'one')", "INSERT INTO items VALUES (2, 'two')",
                  "INSERT INTO items VALUES (4, 'four')"});
  Link link;
  ASSERT_EQ(Connect(link, source), TWSUCCESS) << Dump(env.Log());
  Connection& c = link.c;
  const std::vector<FieldDef> fields = {{"a", TWTYPE_INT, TWFIELDF_KEY}, {"b"}};
  uint32_t affected = 0;
  auto some = Records(fields, {{"1", "ONE"}, {"3", "three"}, {"4", "FOUR"}, {"5", "five"}});
  ASSERT_EQ(c.Update(some->get(), 1, 4, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 2u);
  auto none = Records(fields, {{"6", "six"}, {"7", "seven"}});
  ASSERT_EQ(c.Update(none->get(), 1, 2, &affected), TWSUCCESS) << Dump(env.Log());
  EXPECT_EQ(affected, 0u);

  auto failing = Records(fields, {{"2", "TWO"}, {"3", "x"}, {"1", kNull}, {"4", "again"}});
  const size_t mark = env.LogSize();
  EXPECT_EQ(c.Update(failing->get(), 1, 4, &affected), TWFAIL_EXTERNAL);
  EXPECT_EQ(affected, param.wholeTransaction ? 0u : 1u);
  const std::vector<LogEntry> log = env.Log(mark);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const LogEntry& e) { return e.status == TWFAIL_EXTERNAL; }),
            1)
      << Dump(log);
  ASSERT_EQ(c.Disconnect(), TWSUCCESS) << Dump(env.Log(mark));
  const Rows kept = param.wholeTransaction ? Rows{{"1", "one"}, {"2", "two"}, {"4", "four"}}
                                           : Rows{{"1", "ONE"}, {"2", "TWO"}, {"4", "FOUR"}};
  EXPECT_EQ(direct.Query("SELECT a, b FROM items ORDER BY a"), kept);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, FailingRecordTest,
    testing::Values(
        FailingRecordCase{"Sqlite", Db::kSqlite, {}, 0},
        FailingRecordCase{"SqliteCommitEvery3", Db::kSqlite, {}, 3},
        FailingRecordCase{"PgDriverSavepoint", Db::kPostgres, {}, 0},
        FailingRecordCase{"PgNoSavepoint", Db::kPostgres, {{"Protocol", "7.4-0"}}, 0},
        FailingRecordCase{"PgNoSavepointCommitEvery3", Db::kPostgres, {{"Protocol", "7.4-0"}}, 3},
        FailingRecordCase{"PgRollbackAll", Db::kPostgres, {{"Protocol", "7.4-1"}}, 0, true},
        FailingRecordCase{"PgNoSavepointOneByOne",
                          Db::kPostgres,
                          {{"Protocol", "7.4-0"}, {"BatchSize", "1"}},
                          0}),
    [](const testing::TestParamInfo<FailingRecordCase>& param) { return param.param.name; });

}  // namespace
}  // namespace sqlcli_test
