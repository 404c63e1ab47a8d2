// sqlprobe: its report's printers as functions, for values no real driver gives; and the
// program with scripted answers against an SQLite source and a PostgreSQL source of the
// cluster of scripts/pg.sh (skipped without TW_PG_PORT).
#include <gtest/gtest.h>

#include <filesystem>

#include "odbc_test_config.h"
#include "plat_test_util.h"
#include "probe_test_util.h"
#include "report.h"
#include "sqlprobe.h"

namespace {

namespace sp = tw::sqlprobe;
using probetest::Dashes;
using probetest::LinesMatch;

sp::InfoValue Num(uint16_t number) {
  sp::InfoValue v;
  v.number = number;
  return v;
}
sp::InfoValue Mask(uint32_t mask) {
  sp::InfoValue v;
  v.mask = mask;
  return v;
}
sp::InfoValue Text(std::string_view text, SQLSMALLINT driverLength) {
  sp::InfoValue v;
  v.text = text;
  v.driverLength = driverLength;
  return v;
}

TEST(SqlProbePrinters, PrintEachKindOfValue) {
  const std::string keywords(1023, 'K');
  const std::string positioned =
      "Positioned statements: (select/update/delete) required for cursor replication):\n";
  const std::string header = positioned.substr(0, positioned.size() - 1);
  struct Case {
    sp::InfoPrinter print;
    const char* label;
    sp::InfoValue value;
    std::string out;
  } cases[] = {
      {sp::PrintNonNullable, "", Num(SQL_NNC_NULL), "All columns Must be nullable\n"},
      {sp::PrintNonNullable, "", Num(SQL_NNC_NON_NULL),
       "NOT NULL column constraint supported\n"},
      {sp::PrintKeywords, "System keywords:", Text(keywords, 1024),
       "System keywords: (truncated)\n" + keywords + "\n"},
      {sp::PrintKeywords, "System keywords:", Text(keywords, 5000),
       "System keywords: (truncated)\n" + keywords + "\n"},
      {sp::PrintKeywords, "System keywords:", Text("A,B", 3),
       "System keywords:\nA,B\n"},
      {sp::PrintKeywords, "System keywords:", sp::InfoValue(), "System keywords:\n<no keywords>\n"},
      {sp::PrintPositioned, header.c_str(), Mask(0),
       positioned + "No positioned statement support\n"},
      {sp::PrintPositioned, header.c_str(), Mask(1),
       positioned + "Supports positioned deletes\n"},
      {sp::PrintPositioned, header.c_str(), Mask(2),
       positioned + "Supports positioned updates\n"},
      {sp::PrintPositioned, header.c_str(), Mask(4),
       positioned + "Supports select for update\n"},
      {sp::PrintPositioned, header.c_str(), Mask(0xF8),
       positioned + "No positioned statement support\n"},
      {sp::PrintPositioned, header.c_str(), Mask(7),
       positioned +
           "Supports positioned deletes\nSupports positioned updates\nSupports select for update\n"},
      {sp::PrintOrderBy, "", Text("Y", 1), "ORDER BY must be part of selected fields\n"},
      {sp::PrintOrderBy, "", Text("N", 1), "Supports ORDER BY with any fields\n"},
      {sp::PrintOrderBy, "", sp::InfoValue(), "Supports ORDER BY with any fields\n"},
      {sp::PrintConformance, "Level?", Num(0), "Level?\nNo Level supported\n"},
      {sp::PrintConformance, "Level?", Num(2), "Level?\nLevel 2\n"},
      {sp::PrintNumber, "Max", Num(65535), "Max\n65535\n"},
      {sp::PrintText, "Driver Name", Text("x.so", 4), "Driver Name\nx.so\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.print(c.label, c.value), c.out) << c.out;

  EXPECT_EQ(sp::PrintTypeMissing("SQL_BIT"), "SQL_BIT          \n");
  EXPECT_EQ(sp::PrintType("SQL_LONGVARBINARY", "bytea", SQL_NULLABLE),
            "SQL_LONGVARBINARY 'bytea'\tsupports nulls\n");
  EXPECT_EQ(sp::PrintType("SQL_INTEGER", "int4", SQL_NO_NULLS),
            "SQL_INTEGER       'int4'\tdoes NOT support nulls\n");
  EXPECT_EQ(sp::PrintFunction("SQLTables", true), "SQLTables           is supported\n");
  EXPECT_EQ(sp::PrintFunction("SQLSetConnectOption", false),
            "SQLSetConnectOption is NOT supported (This could mean the driver doesn't work)\n");
}

// The texts that do not depend on the driver.
std::string Banner() {
  return "\n\nODBC Connection Verification\n\n" + Dashes() +
         "\nTries a connection to an ODBC data source and, on request, reports\n"
         "what its driver offers to the relational connector.\n\n";
}
constexpr char kConnected[] = "\n\nSuccessful Connection.\n\n";
constexpr char kAgain[] = "\n      Try Again: [N]";

class SqlProbe : public ::testing::Test {
 protected:
  SqlProbe() {
    odbc_test::OdbcConfig& config = odbc_test::OdbcConfig::Get();
    env_ = {"ODBCSYSINI=" + config.dir(), "ODBCINI=" + config.dir() + "odbc.ini"};
  }
  std::string SqliteSource() {
    odbc_test::OdbcConfig& config = odbc_test::OdbcConfig::Get();
    const std::string name = config.UniqueName("lite");
    config.AddSource(name, "SQLITE3", {{"Database", dir_ / "probe.db"}});
    return name;
  }
  std::string PgSource() {
    odbc_test::OdbcConfig& config = odbc_test::OdbcConfig::Get();
    const std::string name = config.UniqueName("pg");
    config.AddSource(name, "PG",
                     {{"Servername", "127.0.0.1"}, {"Port", *odbc_test::PgPort()},
                      {"Database", "postgres"}});
    return name;
  }
  twtest::ProcessResult Run(const std::vector<std::string>& args, const std::string& input) {
    return probetest::RunProbe("sqlprobe", args, input, env_, dir_.path());
  }
  // The prompts of one attempt: the current values shown, the password masked.
  static std::string Prompts(const std::string& dsn, const std::string& user, bool password,
                             bool details = false) {
    auto shown = [](const std::string& v) { return v.empty() ? v : "[" + v + "]"; };
    return "    Data Source: " + shown(dsn) + "        User Id: " + shown(user) +
           "       Password: " + (password ? "[****]" : "") + " Driver Details: [" +
           (details ? "Y" : "N") + "]";
  }

  twtest::TempDir dir_;
  std::vector<std::string> env_;
};

TEST_F(SqlProbe, SqliteSourceVerified) {
  const std::string dsn = SqliteSource();
  twtest::ProcessResult r = Run({}, dsn + "\n\n\n\n");
  EXPECT_EQ(r.out, Banner() + Prompts("", "", false) + kConnected + kAgain);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
}

}  // namespace
