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
    ASSERT_EQ(Psql("postgres", "CREATE DATABASE " + database_ + " STRATEGY FILE_COPY").exitCode, 0);
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

  // Text of 2-, 3- and 4-byte characters exactly at, and one beyond, the sizes of its
  // columns (sizes count characters), and long values in blocks, between SQLite and
  // PostgreSQL. Column, size and the value that fits it; the value one character too long
  // is the same with its last character once more.
  struct TextCase {
    const char* column;
    const char* type;
    const char* fits;
  };
  static constexpr TextCase kTextCases[] = {
      {"v2", "VARCHAR(5)", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},          // ééééé
      {"v3", "VARCHAR(4)", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},  // €€€€
      {"v4", "VARCHAR(3)", "\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E"},  // three G clefs
      {"c2", "CHAR(5)",
       "\xC3\xB1"
       "and\xC3\xBA"},                                                       // ñandú
      {"name", "VARCHAR(20)", "Zo\xC3\xAB Bront\xC3\xAB-M\xC3\xBCllerxyz"},  // 20 characters
  };
  // The 70,000 characters of the long value: Latin, 2-, 3- and 4-byte characters in turn.
  static constexpr const char* kLongPart = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  static constexpr int kLongRepeats = 17500;
  static std::string LongText() {
    std::string text;
    for (int i = 0; i < kLongRepeats; ++i) text += kLongPart;
    return text;
  }
  // The last character of text once more.
  static std::string OneMore(const std::string& text) {
    size_t last = text.size() - 1;
    while ((static_cast<unsigned char>(text[last]) & 0xC0) == 0x80) --last;
    return text + text.substr(last);
  }
  static std::string Literal(const std::string& text) { return "'" + text + "'"; }

  twtest::ProcessResult Sqlite(const std::string& sql) {
    return twtest::RunProgram({"/usr/bin/sqlite3", path("road.db"), sql}, twtest::InheritedEnv(),
                              inst_.path());
  }

  // The tables of RunText: in PostgreSQL fit (every case at its size), big (100 rows, the
  // 50th of them LongText()), and the empty back, cut, refused, bigback and good; in SQLite
  // the empty fit and big, over (every case one character too long) and bad (100 rows whose
  // last is one character too long for good's column).
  void MakeTextTables() {
    std::string columns = "id INTEGER", fits = "1", over = "1";
    for (const TextCase& c : kTextCases) {
      columns += std::string(", ") + c.column + " " + c.type;
      fits += ", " + Literal(c.fits);
      over += ", " + Literal(OneMore(c.fits));
    }
    std::string pg = "CREATE TABLE fit (" + columns + "); INSERT INTO fit VALUES (" + fits + ");";
    for (const char* t : {"back", "cut", "refused"})
      pg += "CREATE TABLE " + std::string(t) + " (" + columns + ");";
    pg +=
        "CREATE TABLE big (id INTEGER, body TEXT); CREATE TABLE bigback (id INTEGER, body TEXT);"
        "INSERT INTO big SELECT n, CASE WHEN n = 50 THEN repeat(" +
        Literal(kLongPart) + ", " + std::to_string(kLongRepeats) +
        ") ELSE 'row ' || n END FROM generate_series(1, 100) n;"
        "CREATE TABLE good (id INTEGER, v VARCHAR(5));";
    twtest::ProcessResult made = Psql(database_, pg);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    std::string lite =
        "CREATE TABLE fit (" + columns + "); CREATE TABLE over (" + columns +
        "); INSERT INTO over VALUES (" + over +
        ");"
        "CREATE TABLE big (id INTEGER, body TEXT); CREATE TABLE bad (id INTEGER, v VARCHAR(5));";
    for (int n = 1; n <= 100; ++n)
      lite += "INSERT INTO bad VALUES (" + std::to_string(n) + ", " +
              Literal(n == 100 ? OneMore(kTextCases[0].fits) : kTextCases[0].fits) + ");";
    made = Sqlite(lite);
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }

  // The legs over MakeTextTables' tables (links Lite and Pg): every case there and back, the
  // values one character too long cut under TruncData and refused without it, the long value
  // there and back in blocks of 100, and a block of 100 with one bad row.
  std::string RunText() {
    const std::string some = "SELECT id, v2, v3, name FROM over";
    return RunLegs(
        {
            {"PgToLite", "Pg", "Lite", "Statement=SELECT * FROM fit", "DestMetadata=fit"},
            {"LiteToPg", "Lite", "Pg", "Statement=SELECT * FROM fit", "DestMetadata=back"},
            {"Cut", "Lite", "Pg", "Statement=SELECT * FROM over", "DestMetadata=cut",
             "TruncData:number=1"},
            {"Refused", "Lite", "Pg", "Statement=" + some, "DestMetadata=refused"},
            {"LongToLite", "Pg", "Lite", "Statement=SELECT * FROM big ORDER BY id",
             "DestMetadata=big", "RecordCount:number=100"},
            {"LongToPg", "Lite", "Pg", "Statement=SELECT * FROM big ORDER BY id",
             "DestMetadata=bigback", "RecordCount:number=100"},
            {"BadRow", "Lite", "Pg", "Statement=SELECT * FROM bad ORDER BY id", "DestMetadata=good",
             "RecordCount:number=100"},
        },
        env_);
  }

  // What RunText (out) must leave: refused is the error text the refused rows are logged with.
  void ExpectText(const std::string& out, const std::string& refused) {
    for (const char* name : {"PgToLite", "LiteToPg", "Cut", "LongToLite", "LongToPg"})
      EXPECT_TRUE(road::Has(out, "Activity '" + std::string(name) + "' completed successfully."))
          << out << ActivityLog();
    for (const char* name : {"Refused", "BadRow"})
      EXPECT_FALSE(road::Has(out, "Activity '" + std::string(name) + "' completed successfully."))
          << out;
    const std::string log = ActivityLog();
    EXPECT_TRUE(road::Has(log, refused)) << log;
    EXPECT_FALSE(road::Has(log, "overflow in field 'v4'")) << log;

    // Byte for byte where they went and back.
    std::string fits = "1";
    for (const TextCase& c : kTextCases) fits += std::string("|") + c.fits;
    const std::string all = "SELECT * FROM ";
    EXPECT_EQ(Psql(database_, all + "fit").out, fits + "\n");
    EXPECT_EQ(Sqlite(all + "fit").out, fits + "\n");
    EXPECT_EQ(Psql(database_, all + "back").out, fits + "\n");
    EXPECT_EQ(Psql(database_, all + "cut").out, fits + "\n");
    EXPECT_EQ(Psql(database_, "SELECT count(*) FROM refused").out, "0\n");

    const std::string long50 = "SELECT body FROM big WHERE id = 50";
    // (Compared whole, reported by size: the texts are long.)
    const std::string sqliteLong = Sqlite(long50).out;
    EXPECT_TRUE(sqliteLong == LongText() + "\n") << sqliteLong.size();
    EXPECT_EQ(Psql(database_, "SELECT count(*), sum(length(body)) FROM bigback").out,
              Psql(database_, "SELECT count(*), sum(length(body)) FROM big").out);
    const std::string pgLong = Psql(database_, "SELECT body FROM bigback WHERE id = 50").out;
    EXPECT_TRUE(pgLong == LongText() + "\n") << pgLong.size();
    EXPECT_EQ(Sqlite("SELECT count(*) FROM big").out, "100\n");
    // The good rows of the block with a bad one are stored.
    EXPECT_EQ(Psql(database_, "SELECT count(*), min(id), max(id) FROM good").out, "99|1|99\n");
  }

  const char* module_;
  std::string port_, database_;
  bool created_ = false;
  std::vector<std::string> env_;
};

}  // namespace odbc_road

#endif  // TW_TESTS_E2E_ODBC_ROAD_H_
