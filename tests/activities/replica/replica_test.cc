// The replication on real data sources: link A a SQLite file, link B another SQLite file or a
// PostgreSQL database, levelled by replica.twx through sqlcli.twx. Each case sets both tables,
// runs the activity once and reads both back with the databases' own clients.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "activity_runner.h"
#include "csmgr_wire.h"
#include "sql_fixture.h"

namespace {

using sqltest::Database;
using sqltest::Engine;
using sqltest::List;
using sqltest::Number;
using sqltest::Property;
using sqltest::Text;

// replica's own tokens and the link tokens it names.
enum : uint32_t {
  kCreate = 1,
  kNoDelete = 3,
  kLowPrecision = 4,
  kWinConflict = 5,
  kLogConflict = 6,
  kSaveConflict = 7,
  kSaveMetadata = 8,
};
constexpr uint32_t kA = TWTOKENF_SRC, kB = TWTOKENF_DEST;
constexpr uint32_t kMapName = TWTOKEN_MAP_NAME;

// The conflicts a run logged (LogConflict 1), each from its action on.
std::vector<std::string> ConflictsIn(const std::vector<std::string>& logged) {
  std::vector<std::string> conflicts;
  for (const std::string& line : logged)
    if (line.rfind("*Replication Conflict*   Action:  ", 0) == 0)
      conflicts.push_back(line.substr(34));
  return conflicts;
}

class ReplicaTest : public sqltest::ActivityFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  ReplicaTest() : ActivityFixture("replica") {}
  void SetUp() override {
    if (GetParam() == Engine::kPostgres && !odbc_test::PgAvailable())
      GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
    ASSERT_NO_FATAL_FAILURE(ActivityFixture::SetUp());
    a_ = sqltest::MakeDatabase(Engine::kSqlite);
    b_ = sqltest::MakeDatabase(GetParam());
  }

  // Both tables t(k, v) with the rows given ("k|v" a line), keys unique.
  void Tables(const std::vector<std::string>& rowsA, const std::vector<std::string>& rowsB,
              const std::string& keyType = "INTEGER") {
    for (auto [db, rows] : {std::pair{a_.get(), &rowsA}, std::pair{b_.get(), &rowsB}}) {
      db->Exec("CREATE TABLE t (k " + keyType + " PRIMARY KEY, v VARCHAR(20))");
      Fill(*db, "t", *rows);
    }
  }
  static void Fill(Database& db, const std::string& table, const std::vector<std::string>& rows) {
    for (const std::string& row : rows) {
      const size_t bar = row.find('|');
      db.Exec("INSERT INTO " + table + " VALUES ('" + row.substr(0, bar) + "', '" +
              row.substr(bar + 1) + "')");
    }
  }
  static std::string Rows(const std::vector<std::string>& rows) {
    std::string out;
    for (const std::string& row : rows) out += row + "\n";
    return out;
  }
  std::string TableA() { return a_->Query("SELECT k, v FROM t ORDER BY k"); }
  std::vector<std::string> Conflicts() { return ConflictsIn(Logged()); }
  std::string TableB() { return b_->Query("SELECT k, v FROM t ORDER BY k"); }

  // The activity over t on both sides, keyed by k, with the properties given.
  int32_t Replica(std::vector<Property> properties) {
    properties.push_back(List("LinkAOrderList", kA | TWTOKEN_ORDER_LIST, {"k"}));
    properties.push_back(List("LinkBOrderList", kB | TWTOKEN_ORDER_LIST, {"k"}));
    return AddActivity(properties, {a_.get(), "t"}, {b_.get(), "t"});
  }

  std::unique_ptr<Database> a_, b_;
};

TEST(ReplicaIdentityTest, IdentifiesAsAnActivityWithItsPropertyTable) {
  acttest::ExpectIdentity("replica.twx", TWSTREAMFMT_NATIVE,
                          {
                              {0x01010001, TWTYPE_TEXT, "LinkAServer"},
                              {0x01010002, TWTYPE_TEXT, "LinkADatabase"},
                              {0x01010003, TWTYPE_TEXT, "LinkAUserid"},
                              {0x01010004, TWTYPE_TEXT, "LinkAPassword"},
                              {0x01010005, TWTYPE_TEXT, "LinkAMetadata"},
                              {0x02010001, TWTYPE_TEXT, "LinkBServer"},
                              {0x02010002, TWTYPE_TEXT, "LinkBDatabase"},
                              {0x02010003, TWTYPE_TEXT, "LinkBUserid"},
                              {0x02010004, TWTYPE_TEXT, "LinkBPassword"},
                              {0x02010005, TWTYPE_TEXT, "LinkBMetadata"},
                              {0x00010007, TWTYPE_INT, "MapName"},
                              {0x01010009, TWTYPE_BINARY, "LinkAFieldList"},
                              {0x02010009, TWTYPE_BINARY, "LinkBFieldList"},
                              {0x0101000A, TWTYPE_BINARY, "LinkAOrderList"},
                              {0x0201000A, TWTYPE_BINARY, "LinkBOrderList"},
                              {0x0101000B, TWTYPE_TEXT, "LinkACondition"},
                              {0x0201000B, TWTYPE_TEXT, "LinkBCondition"},
                              {0x0101000C, TWTYPE_TEXT, "LinkAStampField"},
                              {0x0201000C, TWTYPE_TEXT, "LinkBStampField"},
                              {0x0101000D, TWTYPE_DATETIME, "LinkABaseStamp"},
                              {0x0201000D, TWTYPE_DATETIME, "LinkBBaseStamp"},
                              {1, TWTYPE_INT, "Create"},
                              {3, TWTYPE_INT, "NoDelete"},
                              {4, TWTYPE_INT, "LowPrecision"},
                              {5, TWTYPE_INT, "WinConflict"},
                              {6, TWTYPE_INT, "LogConflict"},
                              {7, TWTYPE_INT, "SaveConflict"},
                              {8, TWTYPE_TEXT, "SaveMetadata"},
                          });
}

// ---------------------------------------------------------------- merge decisions ------

struct MergeCase {
  const char* name;
  int32_t winConflict;
  int32_t noDelete;
  std::vector<std::string> a, b;
  std::vector<std::string> wantA, wantB;
  // The conflicts logged (LogConflict 1), each as its action part and key values.
  std::vector<std::string> conflicts;
};

TEST_P(ReplicaTest, LevelsTheTablesByTheirKeysAsTheRuleDecides) {
  const std::vector<std::string> a = {"1|one", "2|two"}, b = {"2|two", "3|three"};
  const MergeCase cases[] = {
      {"equal rows", 1, 0, {"1|x", "2|y"}, {"1|x", "2|y"}, {"1|x", "2|y"}, {"1|x", "2|y"}, {}},
      {"no winner",
       0,
       0,
       a,
       b,
       a,
       b,
       {"Skip;|  Record key values:  k = 1", "Skip;|  Record key values:  k = 3"}},
      {"A wins",
       1,
       0,
       a,
       b,
       a,
       a,
       {"Insert into Link B;|  Record key values:  k = 1",
        "Remove from Link B;|  Record key values:  k = 3"}},
      {"A wins, never remove from B",
       1,
       2,
       a,
       b,
       a,
       {"1|one", "2|two", "3|three"},
       {"Insert into Link B;|  Record key values:  k = 1",
        "Skip Remove from Link B;|  Record key values:  k = 3"}},
      {"B wins",
       2,
       0,
       a,
       b,
       b,
       b,
       {"Remove from Link A;|  Record key values:  k = 1",
        "Insert into Link A;|  Record key values:  k = 3"}},
      {"B wins, never remove from A",
       2,
       1,
       a,
       b,
       {"1|one", "2|two", "3|three"},
       b,
       {"Skip Remove from Link A;|  Record key values:  k = 1",
        "Insert into Link A;|  Record key values:  k = 3"}},
      {"changed data, A wins",
       1,
       0,
       {"1|old", "2|same"},
       {"1|new", "2|same"},
       {"1|old", "2|same"},
       {"1|old", "2|same"},
       {"Update at Link B;|  Record key values:  k = 1"}},
      {"changed data, B wins",
       2,
       0,
       {"1|old"},
       {"1|new"},
       {"1|new"},
       {"1|new"},
       {"Update at Link A;|  Record key values:  k = 1"}},
      {"changed data, no winner",
       0,
       0,
       {"1|old"},
       {"1|new"},
       {"1|old"},
       {"1|new"},
       {"Skip;|  Record key values:  k = 1"}},
      {"empty A",
       2,
       0,
       {},
       {"5|five"},
       {"5|five"},
       {"5|five"},
       {"Insert into Link A;|  Record key values:  k = 5"}},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.name);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    Tables(c.a, c.b);
    const int32_t id = Replica({Number("WinConflict", kWinConflict, c.winConflict),
                                Number("NoDelete", kNoDelete, c.noDelete),
                                Number("LogConflict", kLogConflict, 1)});
    EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
    EXPECT_EQ(TableA(), Rows(c.wantA));
    EXPECT_EQ(TableB(), Rows(c.wantB));
    const std::vector<std::string> conflicts = Conflicts();
    ASSERT_EQ(conflicts.size(), c.conflicts.size()) << LogText();
    for (size_t i = 0; i < conflicts.size(); ++i)
      EXPECT_EQ(conflicts[i].substr(0, c.conflicts[i].size()), c.conflicts[i]);
  }
}

// ---------------------------------------------------------------- key order -----------

// Records are paired in the comparison's one order, whatever order each database returns
// them in: A sorts its text keys without regard to case (a B c D), B by bytes (B D a c) or
// by PostgreSQL's collation. Each side is levelled once; the run after writes nothing and
// finds no conflict.
TEST_P(ReplicaTest, PairsRecordsWhateverOrderEachSideReturns) {
  a_->Exec("CREATE TABLE t (k VARCHAR(10) COLLATE NOCASE PRIMARY KEY, v VARCHAR(20))");
  b_->Exec("CREATE TABLE t (k VARCHAR(10) PRIMARY KEY, v VARCHAR(20))");
  Fill(*a_, "t", {"a|1", "B|2", "c|3", "D|4"});
  Fill(*b_, "t", {"B|2", "c|old", "E|5", "a|1"});
  const int32_t id =
      Replica({Number("WinConflict", kWinConflict, 1), Number("LogConflict", kLogConflict, 1)});
  const std::string levelled = "B|2\nD|4\na|1\nc|3\n";
  const std::string binary = "SELECT k, v FROM t ORDER BY k COLLATE \"C\"";
  ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(ConflictsIn(Logged()).size(), 3u) << LogText();  // D inserted, c updated, E removed
  EXPECT_EQ(b_->Query(GetParam() == Engine::kPostgres ? binary : "SELECT k, v FROM t ORDER BY k"),
            levelled);
  ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(ConflictsIn(Logged()).size(), 0u) << LogText();
  EXPECT_EQ(a_->Query("SELECT k, v FROM t ORDER BY k COLLATE BINARY"), levelled);
}

// Two records of one side whose keys compare equal cannot each be paired: the run ends
// before anything is written (B's record 0, first in order, would be removed), naming the
// side and the key.
TEST_P(ReplicaTest, KeysThatCompareEqualEndTheRunBeforeAnyWrite) {
  struct Case {
    const char* name;
    std::string tableA, keyType;
    std::vector<std::string> a;
    int32_t lowPrecision;
    std::string logged;
  };
  const Case cases[] = {
      {"a key twice",
       "CREATE TABLE t (k INTEGER, v VARCHAR(20))",
       "INTEGER",
       {"1|x", "1|y"},
       0,
       "k = 1"},
      {"a key twice, out of order",
       "CREATE TABLE t (k VARCHAR(10) COLLATE NOCASE, v VARCHAR(20))",
       "VARCHAR(10)",
       {"b|1", "a|2", "B|3", "b|4"},
       0,
       "k = \"b\""},
      {"keys the comparison cannot tell apart",
       "CREATE TABLE t (k REAL PRIMARY KEY, v VARCHAR(20))",
       "REAL",
       {"1.00000000001|x", "1.00000000002|y"},
       1,
       "k = 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    a_->Exec(c.tableA);
    b_->Exec("CREATE TABLE t (k " + c.keyType + ", v VARCHAR(20))");
    Fill(*a_, "t", c.a);
    Fill(*b_, "t", {"0|gone"});
    const int32_t id = Replica({Number("WinConflict", kWinConflict, 1),
                                Number("LowPrecision", kLowPrecision, c.lowPrecision)});
    EXPECT_EQ(Run(id), TWFAIL_EXTERNAL);
    const std::string log = LogText();
    EXPECT_NE(log.find("Records cannot be paired, nothing was written: two records have keys "
                       "that compare equal"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("in Link A;|  Record key values:  " + c.logged), std::string::npos) << log;
    EXPECT_EQ(b_->Query("SELECT v FROM t"), "gone\n");
  }
}

// Each side is selected and read ahead while the other's select still runs, yet a run ends as
// if one had followed the other: the first failure in that order is the run's status, a side
// read ahead of a failing check is not reported, and nothing is written. A long table on one
// side keeps its select running while the other side is read.
TEST_P(ReplicaTest, SidesReadAheadFailAsOneAfterTheOther) {
  struct Case {
    const char* name;
    std::string tableA, tableB;  // empty: none
    size_t longSide;             // 0 none, 1 A, 2 B: 20,000 more rows there
    std::vector<std::string> a, b;
    std::vector<Property> properties;
    uint32_t status;
    std::string logged, notLogged;
  };
  const std::string plain = "CREATE TABLE t (k INTEGER, v VARCHAR(20))";
  // B's table gains a column after its rows are in.
  const std::string wider = plain + "; ALTER TABLE t ADD COLUMN w INTEGER";
  const Case cases[] = {
      {"A missing, B long", "", plain, 2, {}, {"1|b"}, {}, TWFAIL_INVALID_METADATA, "", ""},
      {"B's select fails, A long",
       plain,
       plain,
       1,
       {"1|a"},
       {"1|b"},
       {Text("LinkBCondition", kB | TWTOKEN_CONDITION, "nope = 1")},
       TWFAIL_EXTERNAL,
       "nope",
       ""},
      {"twins in B read ahead, fields that differ",
       plain,
       wider,
       1,
       {"1|a"},
       {"2|b", "2|c"},
       {},
       TWFAIL_FIELD_COUNT_MISMATCH,
       "Field count mismatch",
       "Records cannot be paired"},
      {"twins in A read ahead, fields that differ",
       plain,
       wider,
       2,
       {"0|a", "0|b"},
       {"2|b"},
       {},
       TWFAIL_FIELD_COUNT_MISMATCH,
       "Field count mismatch",
       "Records cannot be paired"},
      {"twins in B read ahead",
       plain,
       plain,
       1,
       {"1|a"},
       {"2|b", "2|c"},
       {},
       TWFAIL_EXTERNAL,
       "in Link B;|  Record key values:  k = 2",
       ""},
      {"twins in A read ahead",
       plain,
       plain,
       2,
       {"0|a", "0|b"},
       {"2|b"},
       {},
       TWFAIL_EXTERNAL,
       "in Link A;|  Record key values:  k = 0",
       ""},
  };
  auto contents = [](Database& db) {
    return db.Query("SELECT count(*) FROM t") + db.Query("SELECT k, v FROM t ORDER BY k, v");
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string before[2];
    Database* dbs[] = {a_.get(), b_.get()};
    const std::string* tables[] = {&c.tableA, &c.tableB};
    const std::vector<std::string>* rows[] = {&c.a, &c.b};
    for (size_t i = 0; i < 2; ++i) {
      dbs[i]->Exec("DROP TABLE IF EXISTS t");
      if (tables[i]->empty()) continue;
      const size_t wide = tables[i]->find("; ");
      dbs[i]->Exec(tables[i]->substr(0, wide));
      Fill(*dbs[i], "t", *rows[i]);
      if (wide != std::string::npos) dbs[i]->Exec(tables[i]->substr(wide + 2));
      if (c.longSide == i + 1)
        dbs[i]->Exec(
            "INSERT INTO t (k, v) WITH RECURSIVE n(x) AS (SELECT 10 UNION ALL SELECT x + 1 FROM n "
            "WHERE x < 20009) SELECT x, 'long' FROM n");
      before[i] = contents(*dbs[i]);
    }
    std::vector<Property> properties = c.properties;
    properties.push_back(Number("WinConflict", kWinConflict, 1));
    const int32_t id = Replica(properties);
    EXPECT_EQ(Run(id), c.status) << LogText();
    const std::string log = LogText();
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    if (!c.notLogged.empty()) {
      EXPECT_EQ(log.find(c.notLogged), std::string::npos) << log;
    }
    for (size_t i = 0; i < 2; ++i)
      if (!tables[i]->empty()) {
        EXPECT_EQ(contents(*dbs[i]), before[i]);
      }
  }
}

// ---------------------------------------------------------------- levelled pairs -------

// Columns of compatible types keep a value each in their own way: a decimal column rounds a
// double, a fixed-width column pads, a whole-second stamp drops hundredths. A pair levelled by
// one run is left alone by the next: it writes nothing and logs no conflict. A difference the
// coarser column can hold is still a difference and is updated.
TEST_P(ReplicaTest, ALevelledPairIsQuietOnTheNextRun) {
  // SQLite keeps what it is given whatever the declared type: its columns hold a double whole
  // and a stamp in milliseconds, and its CHAR pads nothing.
  struct Case {
    const char* name;
    std::string typeA, typeB;
    std::string a, b;                      // SQL literals
    std::string wantSqlite, wantPostgres;  // v of B after the first run, as its client shows it
  };
  const Case cases[] = {
      {"a double a decimal holds as it is", "DOUBLE PRECISION", "NUMERIC(12,2)", "1.005", "1.01",
       "1.005", "1.01"},
      {"a double a decimal rounds", "DOUBLE PRECISION", "NUMERIC(12,2)", "1.2345", "9.99", "1.2345",
       "1.23"},
      {"a double a decimal cuts", "DOUBLE PRECISION", "NUMERIC(12,2)", "7.009", "7.00", "7.009",
       "7.00"},
      {"a decimal a cent apart", "DOUBLE PRECISION", "NUMERIC(12,2)", "7.02", "7.01", "7.02",
       "7.02"},
      {"a padded text", "VARCHAR(10)", "CHAR(5)", "'ab'", "'ab'", "ab", "ab   "},
      {"a padded text that differs", "VARCHAR(10)", "CHAR(5)", "'abc'", "'ab'", "abc", "abc  "},
      {"hundredths a whole-second stamp holds", "TIMESTAMP", "TIMESTAMP(0)",
       "'2024-05-06 07:08:09.25'", "'2024-05-06 07:08:09'", "2024-05-06 07:08:09",
       "2024-05-06 07:08:09"},
      {"hundredths a whole-second stamp rounds", "TIMESTAMP", "TIMESTAMP(0)",
       "'2024-05-06 07:08:09.75'", "'2024-05-06 07:08:01'", "2024-05-06 07:08:09.750",
       "2024-05-06 07:08:10"},
      {"a day a date holds", "TIMESTAMP", "DATE", "'2024-05-06 07:08:09'", "'2024-05-06'",
       "2024-05-06", "2024-05-06"},
      {"a day a date holds, another day", "TIMESTAMP", "DATE", "'2024-05-07 07:08:09'",
       "'2024-05-06'", "2024-05-07", "2024-05-07"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    a_->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v " + c.typeA + ")");
    b_->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v " + c.typeB + ")");
    a_->Exec("INSERT INTO t VALUES (1, " + c.a + ")");
    b_->Exec("INSERT INTO t VALUES (1, " + c.b + ")");
    const int32_t id =
        Replica({Number("WinConflict", kWinConflict, 1), Number("LogConflict", kLogConflict, 1)});
    const std::string before = TableB();
    ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
    const std::string a = TableA(), b = TableB();
    EXPECT_EQ(b, "1|" + (GetParam() == Engine::kSqlite ? c.wantSqlite : c.wantPostgres) + "\n");
    // Only a record that changed was written.
    EXPECT_EQ(Conflicts().size(), b != before ? 1u : 0u) << LogText();
    ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
    EXPECT_EQ(Conflicts(), std::vector<std::string>{}) << "the second run wrote again";
    EXPECT_EQ(TableA(), a);
    EXPECT_EQ(TableB(), b);
  }
}

// ---------------------------------------------------------------- missing objects ------

TEST_P(ReplicaTest, CreatesTheMissingSideOnlyWhenTheRuleLetsItWin) {
  struct Case {
    const char* name;
    bool aMissing;
    int32_t winConflict;
    uint32_t status;
  };
  const Case cases[] = {
      {"B missing, A wins", false, 1, TWSUCCESS},
      {"A missing, B wins", true, 2, TWSUCCESS},
      {"A missing, A wins", true, 1, TWFAIL_INVALID_METADATA},
      {"B missing, B wins", false, 2, TWFAIL_INVALID_METADATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    Database& present = c.aMissing ? *b_ : *a_;
    present.Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20))");
    Fill(present, "t", {"1|one", "2|two"});
    const int32_t id =
        Replica({Number("WinConflict", kWinConflict, c.winConflict), Number("Create", kCreate, 1)});
    EXPECT_EQ(Run(id), c.status) << LogText();
    if (c.status == TWSUCCESS) {
      EXPECT_EQ(TableA(), "1|one\n2|two\n");
      EXPECT_EQ(TableB(), "1|one\n2|two\n");
    }
  }
}

// ---------------------------------------------------------------- stamps ---------------

TWDatetime Day(int32_t year, int32_t month, int32_t day) {
  TWDatetimeParts parts{};
  parts.year = year;
  parts.month = month;
  parts.day = day;
  TWDatetime when{};
  EXPECT_EQ(TWDatetimeSetParts(&when, &parts, TWPARTSF_LOCAL), TWSUCCESS);
  return when;
}
int32_t YearOf(const std::optional<twtest::FakeValue>& value) {
  if (!value || value->kind != twtest::FakeValue::Kind::kDatetime) return 0;
  TWDatetimeParts parts{};
  if (TWDatetimeGetParts(&value->datetime, TWPARTSF_LOCAL, &parts) != TWSUCCESS) return 0;
  return parts.year;
}

// With stamp fields a record on one side only is copied to the other, updated by key where
// that side was selected by its window; the run keeps each link's upper end of the window
// for the next run, which then sees only what changed inside its own.
TEST_P(ReplicaTest, StampsCopyChangesAndTheNextRunSeesItsWindowOnly) {
  for (Database* db : {a_.get(), b_.get()})
    db->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20), ts TIMESTAMP)");
  a_->Exec("INSERT INTO t VALUES (1, 'a', '2020-01-01 10:00:00')");
  b_->Exec("INSERT INTO t VALUES (2, 'b', '2020-01-02 10:00:00')");
  TWDatetime none{};
  TWDatetimeClear(&none);
  const int32_t id =
      Replica({Number("WinConflict", kWinConflict, 0),
               Text("LinkAStampField", kA | TWTOKEN_STAMPFIELD, "ts"),
               Text("LinkBStampField", kB | TWTOKEN_STAMPFIELD, "ts"),
               {"LinkABaseStamp", kA | TWTOKEN_BASESTAMP, twtest::FakeValue::Datetime(none)},
               {"LinkBBaseStamp", kB | TWTOKEN_BASESTAMP, twtest::FakeValue::Datetime(none)}});
  ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
  const std::string both = "1|a\n2|b\n";
  EXPECT_EQ(TableA(), both);
  EXPECT_EQ(TableB(), both);
  // The window's upper end is the time of the selection: this year, not the rows' stamps.
  EXPECT_GE(YearOf(Item(id, "LinkABaseStamp")), 2024);
  EXPECT_GE(YearOf(Item(id, "LinkBBaseStamp")), 2024);

  // Inside the next window: A's change of record 1. Outside it: B's change of record 2.
  store_.SetItem(id, "LinkABaseStamp", twtest::FakeValue::Datetime(Day(2021, 1, 1)));
  store_.SetItem(id, "LinkBBaseStamp", twtest::FakeValue::Datetime(Day(2021, 1, 1)));
  a_->Exec("UPDATE t SET v = 'a2', ts = '2022-05-05 10:00:00' WHERE k = 1");
  b_->Exec("UPDATE t SET v = 'b2' WHERE k = 2");
  ASSERT_EQ(Run(id), TWSUCCESS) << LogText();
  EXPECT_EQ(TableA(), "1|a2\n2|b\n");
  EXPECT_EQ(TableB(), "1|a2\n2|b2\n");
}

// The base stamps not kept would make the next run select from the old ones: the failure to
// store them is the run's.
TEST_P(ReplicaTest, AFailureToStoreTheBaseStampsIsTheRunsStatus) {
  for (Database* db : {a_.get(), b_.get()})
    db->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20), ts TIMESTAMP)");
  const int32_t id = Replica({Text("LinkAStampField", kA | TWTOKEN_STAMPFIELD, "ts"),
                              Text("LinkBStampField", kB | TWTOKEN_STAMPFIELD, "ts")});
  store_.FailCode(tw::csmgr::code::kPutDescription, TWFAIL_ACTIVITY_ITEM);
  EXPECT_EQ(Run(id), TWFAIL_ACTIVITY_ITEM) << LogText();
}

// ---------------------------------------------------------------- conflicts ------------

// The losing record of a decision goes into SaveMetadata through the link named, created
// there when missing; through the link that is being written too (a second connection to a
// SQLite file that the first one holds a write transaction on).
TEST_P(ReplicaTest, SavesTheLosingRecordThroughTheLinkNamed) {
  struct Case {
    const char* name;
    int32_t winConflict, saveConflict;
    std::string wantA, wantB, saved;
    uint32_t status;
  };
  const Case cases[] = {
      {"A wins, saved through A", 1, 1, "1|old\n", "1|old\n", "1|new\n", TWSUCCESS},
      {"B wins, saved through A", 2, 1, "1|new\n", "1|new\n", "1|old\n", TWSUCCESS},
      {"B wins, saved through B", 2, 2, "1|new\n", "1|new\n", "1|old\n", TWSUCCESS},
      {"no such link", 1, 3, "1|old\n", "1|new\n", "", TWFAIL_PROPERTY_VALUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (Database* db : {a_.get(), b_.get()}) {
      db->Exec("DROP TABLE IF EXISTS t");
      db->Exec("DROP TABLE IF EXISTS lost");
    }
    Tables({"1|old", "2|same"}, {"1|new", "2|same"});
    const int32_t id =
        Replica({Number("WinConflict", kWinConflict, c.winConflict),
                 Number("SaveConflict", kSaveConflict, c.saveConflict),
                 Text("SaveMetadata", kSaveMetadata, "lost"), Number("Create", kCreate, 1)});
    EXPECT_EQ(Run(id), c.status) << LogText();
    EXPECT_EQ(TableA(), c.wantA + "2|same\n");
    EXPECT_EQ(TableB(), c.wantB + "2|same\n");
    if (c.status != TWSUCCESS) {
      EXPECT_NE(LogText().find("for property 'SaveConflict'"), std::string::npos) << LogText();
      continue;
    }
    Database& saving = c.saveConflict == 1 ? *a_ : *b_;
    EXPECT_EQ(saving.Query("SELECT k, v FROM lost"), c.saved);
  }
}

// LogConflict 1 logs events and goes on; bit 2 logs failures without stopping; bit 4 makes
// the log's status the result, so the first conflict logged as a failure ends the run.
TEST_P(ReplicaTest, LogConflictBitsChooseEventOrFailure) {
  struct Case {
    int32_t logConflict;
    uint32_t entry;
    uint32_t status;
    std::string wantB;
  };
  const Case cases[] = {
      {1, TWEVENT_EXTERNAL, TWSUCCESS, "1|x\n2|x\n"},
      {2, TWFAIL_EXTERNAL, TWSUCCESS, "1|x\n2|x\n"},
      {5, TWEVENT_EXTERNAL, TWSUCCESS, "1|x\n2|x\n"},
      {6, TWFAIL_EXTERNAL, TWFAIL_EXTERNAL, "1|x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logConflict);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    Tables({"1|x", "2|x"}, {});
    const int32_t id = Replica({Number("WinConflict", kWinConflict, 1),
                                Number("LogConflict", kLogConflict, c.logConflict)});
    EXPECT_EQ(Run(id), c.status) << LogText();
    EXPECT_EQ(Logged(c.entry).size(), c.status == TWSUCCESS ? 2u : 1u) << LogText();
    EXPECT_EQ(TableB(), c.wantB);
  }
}

// ---------------------------------------------------------------- bad input ------------

// Keys, stamps and fields that do not fit are refused with their text before anything is
// written: both tables stay as they were. A key or stamp column the table lacks is the data
// source's to refuse, when the selection orders or windows by it.
TEST_P(ReplicaTest, RefusesKeysStampsAndFieldsThatDoNotFit) {
  struct Case {
    const char* name;
    std::vector<Property> properties;
    std::string extraColumnB;  // a column only B has
    std::string extraColumn;   // a column both have
    uint32_t status;
    std::string logged;
  };
  auto order = [](uint32_t link, std::vector<std::string> keys) {
    return List(link == kA ? "LinkAOrderList" : "LinkBOrderList", link | TWTOKEN_ORDER_LIST,
                std::move(keys));
  };
  auto stamp = [](uint32_t link, const std::string& field) {
    return Text(link == kA ? "LinkAStampField" : "LinkBStampField", link | TWTOKEN_STAMPFIELD,
                field);
  };
  const Case cases[] = {
      {"no keys", {order(kB, {"k"})}, "", "", TWFAIL_INVALID_KEY, "Invalid key field"},
      {"a rule naming no link",
       {order(kA, {"k"}), order(kB, {"k"}), Number("WinConflict", kWinConflict, 3)},
       "",
       "",
       TWFAIL_PROPERTY_VALUE,
       "Invalid property value for property 'WinConflict'"},
      {"an unknown key",
       {order(kA, {"nope"}), order(kB, {"k"})},
       "",
       "",
       TWFAIL_EXTERNAL,
       "no such column: nope"},
      {"a key twice",
       {order(kA, {"k", "k"}), order(kB, {"k"})},
       "",
       "",
       TWFAIL_DUPLICATE_KEY,
       "Duplicate key field 'k'"},
      {"key counts differ",
       {order(kA, {"k", "v"}), order(kB, {"k"})},
       "",
       "",
       TWFAIL_KEY_COUNT_MISMATCH,
       "Key count mismatch; Tarnway: 2, Link: 1"},
      {"field counts differ",
       {order(kA, {"k"}), order(kB, {"k"})},
       "w INTEGER",
       "",
       TWFAIL_FIELD_COUNT_MISMATCH,
       "Field count mismatch; Tarnway: 2, Link: 3"},
      {"a stamp on one side",
       {order(kA, {"k"}), order(kB, {"k"}), stamp(kA, "ts")},
       "",
       "ts TIMESTAMP",
       TWFAIL_PROPERTY_CONFLICT,
       "Conflicting values for properties 'LinkAStampField' and 'LinkBStampField'"},
      {"an unknown stamp",
       {order(kA, {"k"}), order(kB, {"k"}), stamp(kA, "nope"), stamp(kB, "ts")},
       "",
       "ts TIMESTAMP",
       TWFAIL_EXTERNAL,
       "no such column: nope"},
      {"a stamp not a datetime",
       {order(kA, {"k"}), order(kB, {"k"}), stamp(kA, "v"), stamp(kB, "ts")},
       "",
       "ts TIMESTAMP",
       TWFAIL_STAMPFIELD_TYPE,
       "Timestamp field 'v' must be type Datetime"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    a_->Exec("DROP TABLE IF EXISTS t");
    b_->Exec("DROP TABLE IF EXISTS t");
    Tables({"1|a"}, {"2|b"});
    if (!c.extraColumnB.empty()) b_->Exec("ALTER TABLE t ADD COLUMN " + c.extraColumnB);
    if (!c.extraColumn.empty())
      for (Database* db : {a_.get(), b_.get()})
        db->Exec("ALTER TABLE t ADD COLUMN " + c.extraColumn);
    const int32_t id = AddActivity(c.properties, {a_.get(), "t"}, {b_.get(), "t"});
    EXPECT_EQ(Run(id), c.status) << LogText();
    EXPECT_NE(LogText().find(c.logged), std::string::npos) << LogText();
    EXPECT_EQ(a_->Query("SELECT k, v FROM t"), "1|a\n");
    EXPECT_EQ(b_->Query("SELECT k, v FROM t"), "2|b\n");
  }
}

// ---------------------------------------------------------------- ordex ----------------

// Link B a document database through ordex: its form made from A's table, then its documents
// inserted, updated and removed as A changes, each found by its key.
class ReplicaOrdexTest : public sqltest::ActivityFixture {
 protected:
  ReplicaOrdexTest() : ActivityFixture("replica") {}
};

TEST_F(ReplicaOrdexTest, LevelsADocumentDatabaseWithATable) {
  std::unique_ptr<Database> a = sqltest::MakeDatabase(Engine::kSqlite);
  a->Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20))");
  a->Exec("INSERT INTO t VALUES (1, 'one'), (2, 'two'), (3, 'three')");
  const int32_t id =
      AddActivity({Number("WinConflict", kWinConflict, 1), Number("Create", kCreate, 1),
                   List("LinkAOrderList", kA | TWTOKEN_ORDER_LIST, {"k"}),
                   List("LinkBOrderList", kB | TWTOKEN_ORDER_LIST, {"k"})},
                  {a.get(), "t"}, sqltest::Link::Ordex("replica.odb", "t"));
  struct Step {
    const char* name;
    std::string change;
    std::vector<std::string> present, absent;
  };
  const Step steps[] = {
      {"made and filled", "", {"one", "two", "three"}, {}},
      {"a record changed", "UPDATE t SET v = 'uno' WHERE k = 1", {"uno", "two", "three"}, {"one"}},
      {"a record removed", "DELETE FROM t WHERE k = 2", {"uno", "three"}, {"two"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (!step.change.empty()) a->Exec(step.change);
    EXPECT_EQ(Run(id), TWSUCCESS) << LogText();
    const std::string documents = OrdexExport("replica.odb", "t");
    for (const std::string& v : step.present)
      EXPECT_EQ(sqltest::Occurrences(documents, "\"" + v + "\""), 1u) << documents;
    for (const std::string& v : step.absent)
      EXPECT_EQ(sqltest::Occurrences(documents, "\"" + v + "\""), 0u) << documents;
  }
}

// A document database keeps doubles, hundredths and text as given: against a decimal, a
// whole-second stamp and a fixed-width text its documents level once and then stay quiet.
TEST_F(ReplicaOrdexTest, ADocumentDatabaseLevelledWithCoarserColumnsIsQuiet) {
  const Engine engine = sqltest::Engines().back();
  std::unique_ptr<Database> source = sqltest::MakeDatabase(Engine::kSqlite);
  source->Exec(
      "CREATE TABLE t (k INTEGER PRIMARY KEY, n DOUBLE PRECISION, ts TIMESTAMP, c "
      "VARCHAR(10))");
  source->Exec(
      "INSERT INTO t VALUES (1, 1.2345, '2024-05-06 07:08:09.75', 'ab'), (2, 0.3, "
      "'2024-05-06 07:08:09.25', 'cd')");
  // A wins, keyed by k on both sides.
  auto replica = [&](const Property& extra, const sqltest::Link& a, const sqltest::Link& b) {
    return AddActivity({Number("WinConflict", kWinConflict, 1), extra,
                        List("LinkAOrderList", kA | TWTOKEN_ORDER_LIST, {"k"}),
                        List("LinkBOrderList", kB | TWTOKEN_ORDER_LIST, {"k"})},
                       a, b);
  };
  const int32_t fill = replica(Number("Create", kCreate, 1), {source.get(), "t"},
                               sqltest::Link::Ordex("pairs.odb", "t"));
  ASSERT_EQ(Run(fill), TWSUCCESS) << LogText();

  std::unique_ptr<Database> coarse = sqltest::MakeDatabase(engine);
  coarse->Exec(
      "CREATE TABLE t (k INTEGER PRIMARY KEY, n NUMERIC(12,2), ts TIMESTAMP(0), c "
      "CHAR(5))");
  coarse->Exec(
      "INSERT INTO t VALUES (1, 9.99, '2024-05-06 07:08:01', 'ab'), (2, 0.3, '2024-05-06 "
      "07:08:09', 'cd')");
  const int32_t level = replica(Number("LogConflict", kLogConflict, 1),
                                sqltest::Link::Ordex("pairs.odb", "t"), {coarse.get(), "t"});
  auto conflicts = [&] { return ConflictsIn(Logged()).size(); };
  const std::string query = "SELECT k, n, ts, c FROM t ORDER BY k";
  ASSERT_EQ(Run(level), TWSUCCESS) << LogText();
  // Only record 1 differed beyond what the columns hold.
  EXPECT_EQ(conflicts(), 1u) << LogText();
  const std::string levelled = coarse->Query(query);
  EXPECT_EQ(levelled, engine == Engine::kSqlite
                          ? "1|1.2345|2024-05-06 07:08:09.750|ab\n2|0.3|2024-05-06 07:08:09|cd\n"
                          : "1|1.23|2024-05-06 07:08:10|ab   \n2|0.30|2024-05-06 07:08:09|cd   \n");
  const std::string documents = OrdexExport("pairs.odb", "t");
  ASSERT_EQ(Run(level), TWSUCCESS) << LogText();
  EXPECT_EQ(conflicts(), 0u) << LogText();
  EXPECT_EQ(coarse->Query(query), levelled);
  EXPECT_EQ(OrdexExport("pairs.odb", "t"), documents);
}

INSTANTIATE_TEST_SUITE_P(Engines, ReplicaTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         sqltest::EngineParam);

}  // namespace
