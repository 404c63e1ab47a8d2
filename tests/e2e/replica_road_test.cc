// The replication run the way a server runs it: taskrun running a Replication document by
// name in a local installation, with sqlcli links on SQLite files and PostgreSQL, a Xandb
// link on PostgreSQL (the
// cluster TW_PG_PORT names; those cases skip without it) and an Ordex link. Each side's
// database returns its rows in its own order; the records must be paired by key all the
// same, and the run after a levelling run must write nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bulk_load.h"
#include "odbc_bench.h"
#include "taskrun_install.h"

namespace {

using bulk_load::Output;
using taskrun_install::Installation;
using taskrun_install::Slurp;

constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kOdbcDrivers[] = "/usr/lib/x86_64-linux-gnu/odbc/";

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The lines of text, sorted: the rows of a table whatever order its database lists them in.
std::string Sorted(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

class ReplicaRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    // The ODBC driver manager that a connector unloads keeps the configuration it parsed, and
    // the leak checker can no longer name it: in a sanitizer build a leak report would be
    // taskrun's exit code, which these runs check.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
      ::setenv("ASAN_OPTIONS", (std::string(asan) + ":detect_leaks=0").c_str(), 1);
    ASSERT_EQ(inst_.Make({"replica.twx", "sqlcli.twx", "ordex.twx", "xandb.twx"}), "");
    dir_ = inst_.dir();
    const char* port = std::getenv("TW_PG_PORT");
    std::string odbc = "[a]\nDriver=SQLITE3\nDatabase=" + dir_ + "a.db\nTimeout=5000\n\n";
    if (port != nullptr && *port != '\0') {
      port_ = port;
      pg_ = std::make_unique<odbc_bench::PgDatabase>(port_, "REPLICA_ROAD_KEEP");
      ASSERT_EQ(pg_->Create(), "");
      odbc += "[pg]\nDriver=PG\nServername=127.0.0.1\nPort=" + port_ + "\nDatabase=" + pg_->name() +
              "\nUsername=tw\n\n";
    }
    odbc += "[b]\nDriver=SQLITE3\nDatabase=" + dir_ + "b.db\nTimeout=5000\n";
    std::ofstream(dir_ + "odbcinst.ini")
        << "[SQLITE3]\nDriver=" << kOdbcDrivers
        << "libsqlite3odbc.so\n\n[PG]\nDriver=" << kOdbcDrivers << "psqlodbcw.so\n";
    std::ofstream(dir_ + "odbc.ini") << odbc;
    ::setenv("ODBCSYSINI", dir_.c_str(), 1);
    ::setenv("ODBCINI", (dir_ + "odbc.ini").c_str(), 1);
    for (const char* server : {"a", "b", "pg"})
      ASSERT_EQ(inst_.New("Link\\Sqlcli", {"Name=" + std::string(server),
                                           "Server=" + std::string(server), "Userid=tw"}),
                "");
    ASSERT_EQ(inst_.New("Link\\Xandb", {"Name=xpg", "Database=pg", "Userid=tw",
                                        "PropNameList:textlist=Database,Userid",
                                        "PropTokenList:numberlist=65538,65539"}),
              "");
    ASSERT_EQ(inst_.New("Link\\Ordex", {"Name=docs", "Database=docs.odb", "CreateDatabase:number=1",
                                        "PropNameList:textlist=Database,CreateDatabase",
                                        "PropTokenList:numberlist=65538,7"}),
              "");
    ASSERT_EQ(inst_.Serve(), "");
  }
  void TearDown() override { EXPECT_TRUE(inst_.Stop()); }

  void Sqlite(const std::string& file, const std::string& sql) {
    int code = -1;
    const std::string out = Output({kSqlite3, "-bail", dir_ + file, sql}, dir_, &code);
    ASSERT_EQ(code, 0) << out;
  }
  std::string SqliteRows(const std::string& file) {
    int code = -1;
    return Sorted(Output({kSqlite3, dir_ + file, "SELECT * FROM t"}, dir_, &code));
  }
  std::string Pg(const std::vector<std::string>& commands) {
    int code = -1;
    const std::string out = odbc_bench::Psql(port_, pg_->name(), commands, &code);
    EXPECT_EQ(code, 0) << out;
    return out;
  }

  // A Replication of table t between links a and b, keyed by k, A winning, conflicts
  // logged as events; named name.
  void Replication(const std::string& name, const std::string& linkB,
                   std::vector<std::string> items = {}) {
    std::vector<std::string> all = {"Name=" + name,
                                    "SrcLink=a",
                                    "DestLink=" + linkB,
                                    "LinkAMetadata=t",
                                    "LinkBMetadata=t",
                                    "LinkAOrderList:textlist=k",
                                    "LinkBOrderList:textlist=k",
                                    "WinConflict:number=1",
                                    "LogConflict:number=1"};
    all.insert(all.end(), items.begin(), items.end());
    ASSERT_EQ(inst_.New("Activity\\Replication", all), "");
  }
  // Runs the activity, which must succeed or fail as asked; the conflicts it logged.
  size_t Run(const std::string& name, bool succeeds = true) {
    const size_t before = Count(inst_.ActivityLog(), "*Replication Conflict*");
    const int exitCode = inst_.RunActivity(name).exitCode;
    const std::string log = inst_.ActivityLog();
    EXPECT_EQ(exitCode == 0, succeeds) << log;
    return Count(log, "*Replication Conflict*") - before;
  }

  Installation inst_{"replica_road", "REPLICAROAD", "REPLICA_ROAD_KEEP"};
  std::string dir_, port_;
  std::unique_ptr<odbc_bench::PgDatabase> pg_;
};

// An Ordex form, whose view sorts without regard to case (a A B c D), against SQLite, which
// sorts by bytes (A B D a c): made and filled by the first run, then left alone; a and A stay
// two documents, each written by its own key.
TEST_F(ReplicaRoad, OrdexAgainstSqliteWithMixedCaseKeys) {
  Sqlite("a.db",
         "CREATE TABLE t (k VARCHAR(10) PRIMARY KEY, v VARCHAR(20));"
         "INSERT INTO t VALUES ('a', 'one'), ('B', 'two'), ('c', 'three'), ('D', 'four'),"
         " ('A', 'big')");
  Replication("ToDocs", "docs", {"MapName:number=1", "Create:number=1"});
  EXPECT_EQ(Run("ToDocs"), 5u);
  EXPECT_EQ(Run("ToDocs"), 0u);
  Sqlite("a.db",
         "UPDATE t SET v = 'zwei' WHERE k = 'B'; UPDATE t SET v = 'uno' WHERE k = 'a';"
         "DELETE FROM t WHERE k = 'c'");
  EXPECT_EQ(Run("ToDocs"), 3u);
  EXPECT_EQ(Run("ToDocs"), 0u);
  int code = -1;
  const std::string docs =
      Output({dir_ + "plexadm", "export", "docs.odb", "--form", "t"}, dir_, &code);
  for (const char* value : {"\"uno\"", "\"zwei\"", "\"four\"", "\"big\""})
    EXPECT_EQ(Count(docs, value), 1u) << docs;
  for (const char* value : {"\"one\"", "\"two\"", "\"three\""})
    EXPECT_EQ(Count(docs, value), 0u) << docs;
}

// SQLite against PostgreSQL through sqlcli and through Xandb: NULL keys (first in SQLite,
// last in PostgreSQL) and a column whose collation ignores case for the order (a B c D);
// the run levels B, the next writes nothing.
TEST_F(ReplicaRoad, SqliteAgainstPostgresqlWithNullKeysAndACollation) {
  if (port_.empty()) GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
  Sqlite("a.db",
         "CREATE TABLE t (k VARCHAR(10), v VARCHAR(20));"
         "INSERT INTO t VALUES (NULL, 'none'), ('a', 'one'), ('B', 'two'), ('c', 'three'),"
         " ('D', 'four')");
  const std::string want = SqliteRows("a.db");
  for (const char* link : {"pg", "xpg"}) {
    SCOPED_TRACE(link);
    Pg({"DROP TABLE IF EXISTS t",
        "CREATE TABLE t (k VARCHAR(10) COLLATE \"en-x-icu\", v VARCHAR(20))",
        "INSERT INTO t VALUES (NULL, 'none'), ('a', 'one'), ('c', 'old'), ('E', 'five')"});
    Replication(std::string("To") + link, link);
    EXPECT_EQ(Run(std::string("To") + link), 4u);  // B and D inserted, c updated, E removed
    EXPECT_EQ(Sorted(Pg({"SELECT k, v FROM t"})), want);
    EXPECT_EQ(Run(std::string("To") + link), 0u);
    EXPECT_EQ(Sorted(Pg({"SELECT k, v FROM t"})), want);
  }
}

// Two records of one side whose keys compare equal (LowPrecision compares numbers to ten
// digits): nothing is written, not even B's record 0, first in order, that A wins away.
TEST_F(ReplicaRoad, KeysThatCompareEqualEndTheRunBeforeAnyWrite) {
  Sqlite("a.db",
         "CREATE TABLE t (k REAL PRIMARY KEY, v VARCHAR(20));"
         "INSERT INTO t VALUES (1.00000000001, 'x'), (1.00000000002, 'y')");
  Sqlite("b.db",
         "CREATE TABLE t (k REAL PRIMARY KEY, v VARCHAR(20)); INSERT INTO t VALUES (0, 'gone')");
  Replication("Equal", "b", {"LowPrecision:number=1"});
  EXPECT_EQ(Run("Equal", false), 0u);
  const std::string log = inst_.ActivityLog();
  EXPECT_NE(log.find("Records cannot be paired, nothing was written: two records have keys that "
                     "compare equal"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("in Link A;\\n  Record key values:  k = 1.0000000000"), std::string::npos)
      << log;
  EXPECT_EQ(SqliteRows("b.db"), "0.0|gone\n");
}

// 100,000 records, B differing in 1% and both returned case-insensitively (out of the
// merge's order, so sorted through temporary files): levelled, then quiet.
TEST_F(ReplicaRoad, AHundredThousandRecordsOutOfOrderLevelledThenQuiet) {
  const std::string fill =
      "CREATE TABLE t (k VARCHAR(10) COLLATE NOCASE PRIMARY KEY, v VARCHAR(500));"
      "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 100000)"
      " INSERT INTO t SELECT printf('%s%06d', CASE i % 2 WHEN 0 THEN 'k' ELSE 'K' END, i),"
      " substr(hex(zeroblob(200)), 1, 400) || i FROM c;";
  Sqlite("a.db", fill);
  Sqlite("b.db", fill +
                     "UPDATE t SET v = 'changed' WHERE substr(k, 2) % 300 = 0;"
                     "DELETE FROM t WHERE substr(k, 2) % 300 = 100;"
                     "INSERT INTO t SELECT 'x' || substr(k, 2), v FROM t WHERE substr(k, 2) % 300 "
                     "= 200;");
  Replication("Large", "b");
  // 333 updated, 334 inserted, 333 removed.
  EXPECT_EQ(Run("Large"), 1000u);
  EXPECT_EQ(SqliteRows("b.db"), SqliteRows("a.db"));
  EXPECT_EQ(Run("Large"), 0u);
}

}  // namespace
