// The ODBC road with real processes: records go from a text file into a SQLite table, from
// there into a PostgreSQL table and back out to a text file, each leg a direct transfer that
// twmain schedules and taskrun runs through sqlcli.twx, with the destination tables created
// because they are missing. What comes out must be what went in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "road_fixture.h"

namespace {

namespace fs = std::filesystem;
using road::Has;

using road::kPeople;

// The first file of dir whose name starts with stem, or empty.
std::string FindDriver(const char* stem) {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                          "/usr/lib/odbc", "/usr/local/lib/odbc"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.path().filename().string().rfind(stem, 0) == 0) return entry.path();
  }
  return {};
}

class SqlcliRoad : public road::RoadFixture {
 protected:
  void SetUp() override {
    const char* port = std::getenv("TW_PG_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
    port_ = port;
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    if (!fs::exists(PluginPath("sqlcli.twx"))) GTEST_SKIP() << "sqlcli.twx is not built";
    const std::string lite = FindDriver("libsqlite3odbc"), pg = FindDriver("psqlodbcw");
    ASSERT_FALSE(lite.empty() || pg.empty()) << "ODBC drivers for SQLite and PostgreSQL";
    database_ = "road_" + std::to_string(::getpid());
    Psql("postgres", "DROP DATABASE IF EXISTS " + database_);
    ASSERT_EQ(Psql("postgres", "CREATE DATABASE " + database_).exitCode, 0);
    created_ = true;
    twtest::WriteFile(inst_ / "odbcinst.ini",
                      "[SQLITE3]\nDriver=" + lite + "\n\n[PG]\nDriver=" + pg + "\n");
    twtest::WriteFile(inst_ / "odbc.ini",
                      "[lite]\nDriver=SQLITE3\nDatabase=" + path("road.db") +
                          "\n\n[pg]\nDriver=PG\nServername=127.0.0.1\nPort=" + port_ +
                          "\nDatabase=" + database_ + "\nUsername=tw\n");
    env_ = {"ODBCSYSINI=" + inst_.path(), "ODBCINI=" + path("odbc.ini")};
  }
  void TearDown() override {
    if (created_) Psql("postgres", "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    if (!port_.empty()) RoadFixture::TearDown();
  }

  twtest::ProcessResult Psql(const std::string& db, const std::string& sql) {
    return twtest::RunProgram({"/usr/bin/psql", "-X", "-q", "-A", "-t", "-h", "127.0.0.1", "-p",
                               port_, "-U", "tw", "-d", db, "-c", sql},
                              twtest::InheritedEnv(), inst_.path());
  }

  void Link(const std::string& name, const std::string& library, std::vector<std::string> items) {
    AddLink(library == "sqlcli" ? "Link\\Sqlcli" : "Link\\Flatrec", name, std::move(items));
  }

  std::string port_, database_;
  bool created_ = false;
  std::vector<std::string> env_;
};

TEST_F(SqlcliRoad, TextGoesThroughSqliteAndPostgresqlAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  PeopleLinks();
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});

  // Each leg is defined once the one before has run, so that they run in this order.
  const std::vector<std::vector<std::string>> legs = {
      {"TextToLite", "TextIn", "Lite", "DestMetadata=people", "Create:number=1"},
      {"LiteToPg", "Lite", "Pg", "Statement=SELECT * FROM people", "DestMetadata=people",
       "Create:number=1"},
      {"PgToText", "Pg", "TextOut", "Statement=SELECT * FROM people ORDER BY 1",
       "Overwrite:number=1"},
  };
  const std::string out = RunLegs(legs, env_);

  // The only errors logged are the missing tables that the legs then created.
  const std::string log = ActivityLogWithout("Error: Metadata object 'people' does not exist");
  EXPECT_FALSE(Has(log, "Error")) << log;
  EXPECT_TRUE(Has(log, "Created Metadata 'people'")) << log;
  for (const char* name : {"TextToLite", "LiteToPg", "PgToText"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
  // The PostgreSQL table was created by the road and holds every record.
  EXPECT_EQ(Psql(database_, "SELECT count(*) FROM people").out, "4\n");
  EXPECT_EQ(twtest::ReadFile(path("out.txt")), kPeople);
}

}  // namespace

// Change propagation and replication under the server: a relay applies a SQLite change table
// to PostgreSQL (the table created there) and keeps the last commit in its document; then a
// replica levels a SQLite table with the PostgreSQL one, PostgreSQL winning.
TEST_F(SqlcliRoad, RelayAndReplicaLevelSqliteAndPostgresql) {
  MakeDatabases();
  for (const char* plugin : {"sqlcli.twx", "relay.twx", "replica.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  const std::string seq = "0A0B0C0D0E0F000000";
  // One change row: its commit (and intent) number, operation and after-image.
  auto row = [&](const char* n, const char* op, const char* image) {
    return "(X'" + seq + n + "', X'" + seq + n + "', '" + op + "', NULL, " + image + ")";
  };
  const std::string sql =
      "CREATE TABLE chg (XDBSNAP_COMMITSEQ BLOB, XDBSNAP_INTENTSEQ BLOB, XDBSNAP_OPERATION "
      "CHAR(1), XDBSNAP_LOGMARKER TIMESTAMP, k INTEGER, v VARCHAR(20));"
      "INSERT INTO chg VALUES " +
      row("01", "I", "1, 'Ada'") + ", " + row("02", "I", "2, 'Bram'") + ", " +
      row("03", "U", "1, 'Ada Quill'") +
      ";CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(20));"
      "INSERT INTO t VALUES (1, 'stale'), (3, 'gone');";
  twtest::ProcessResult made = twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), sql},
                                                  twtest::InheritedEnv(), inst_.path());
  ASSERT_EQ(made.exitCode, 0) << made.err;
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});

  road::Twmain server(inst_.path(), env_);
  std::string relay =
      Adm({"new", "qtwadm.odx", "Activity\\Change Propagation", "Name=Changes", "SrcLink=Lite",
           "DestLink=Pg", "OneTime:number=1", "SrcMetadata=chg", "DestMetadata=t",
           "LastDiffSeq=00000000000000000000", "KeyFieldList:textlist=k", "Create:number=1"});
  relay = relay.substr(0, relay.find('\n'));
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 1; }))
      << server.Out() << server.Err() << ActivityLog();
  Adm({"new", "qtwadm.odx", "Activity\\Replication", "Name=Level", "SrcLink=Lite", "DestLink=Pg",
       "OneTime:number=1", "LinkAMetadata=t", "LinkBMetadata=t", "LinkAOrderList:textlist=k",
       "LinkBOrderList:textlist=k", "WinConflict:number=2"});
  ASSERT_TRUE(road::Within(road::kWaitMs, [&] { return Finished() >= 2; }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(road::kWaitMs), 0) << server.Err();

  const std::string out = server.Out();
  for (const char* name : {"Changes", "Level"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
  EXPECT_EQ(Psql(database_, "SELECT k, v FROM t ORDER BY k").out, "1|Ada Quill\n2|Bram\n");
  twtest::ProcessResult lite =
      twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), "SELECT k, v FROM t ORDER BY k"},
                         twtest::InheritedEnv(), inst_.path());
  EXPECT_EQ(lite.out, "1|Ada Quill\n2|Bram\n");
  // The relay kept the third row's commit, in upper-case digits, for its next run.
  EXPECT_TRUE(Has(Adm({"show", "qtwadm.odx", relay}), seq + "03"))
      << Adm({"show", "qtwadm.odx", relay});
}
