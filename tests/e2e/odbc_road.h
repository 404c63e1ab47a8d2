// The set-up of the roads through ODBC drivers (sqlcli_road_test.cc, xandb_road_test.cc): a
// PostgreSQL database of the test's own on the cluster TW_PG_PORT names, and a private ODBC
// configuration with the data sources lite (SQLite) and pg; skipped without a cluster.
#ifndef TW_TESTS_E2E_ODBC_ROAD_H_
#define TW_TESTS_E2E_ODBC_ROAD_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "road_fixture.h"

namespace odbc_road {

namespace fs = std::filesystem;

// The first file of dir whose name starts with stem, or empty.
inline std::string FindDriver(const char* stem) {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                          "/usr/lib/odbc", "/usr/local/lib/odbc"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
      if (entry.path().filename().string().rfind(stem, 0) == 0) return entry.path();
  }
  return {};
}

class OdbcRoad : public road::RoadFixture {
 protected:
  // module: the connector's file, built beside the test.
  explicit OdbcRoad(const char* module) : module_(module) {}

  void SetUp() override {
    const char* port = std::getenv("TW_PG_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
    port_ = port;
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    if (!fs::exists(PluginPath(module_))) GTEST_SKIP() << module_ << " is not built";
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

  // The three legs text -> lite -> pg -> text (links TextIn, Lite, Pg, TextOut), the tables
  // created because they are missing; what the server wrote on its console.
  std::string RunPeople() {
    return RunLegs(
        {
            {"TextToLite", "TextIn", "Lite", "DestMetadata=people", "Create:number=1"},
            {"LiteToPg", "Lite", "Pg", "Statement=SELECT * FROM people", "DestMetadata=people",
             "Create:number=1"},
            {"PgToText", "Pg", "TextOut", "Statement=SELECT * FROM people ORDER BY 1",
             "Overwrite:number=1"},
        },
        env_);
  }

  // What came out of RunPeople (out): the only errors logged are the missing tables that the
  // legs then created, every leg completed, the PostgreSQL table holds every record, and the
  // text is what went in.
  void ExpectPeopleBack(const std::string& out) {
    const std::string log = ActivityLogWithout("Error: Metadata object 'people' does not exist");
    EXPECT_FALSE(road::Has(log, "Error")) << log;
    EXPECT_TRUE(road::Has(log, "Created Metadata 'people'")) << log;
    for (const char* name : {"TextToLite", "LiteToPg", "PgToText"})
      EXPECT_TRUE(road::Has(out, "Activity '" + std::string(name) + "' completed successfully."))
          << out;
    EXPECT_EQ(Psql(database_, "SELECT count(*) FROM people").out, "4\n");
    EXPECT_EQ(twtest::ReadFile(path("out.txt")), road::kPeople);
  }

  const char* module_;
  std::string port_, database_;
  bool created_ = false;
  std::vector<std::string> env_;
};

}  // namespace odbc_road

#endif  // TW_TESTS_E2E_ODBC_ROAD_H_
