// sqlprobe: its report's printers as functions, for values no real driver gives; and the
// program with scripted answers against an SQLite source and a PostgreSQL source of the
// cluster of scripts/pg.sh (skipped without TW_PG_PORT).
#include "sqlprobe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "odbc_test_config.h"
#include "plat_test_util.h"
#include "probe_test_util.h"
#include "report.h"

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
      {sp::PrintNonNullable, "", Num(SQL_NNC_NON_NULL), "NOT NULL column constraint supported\n"},
      {sp::PrintKeywords, "System keywords:", Text(keywords, 1024),
       "System keywords: (truncated)\n" + keywords + "\n"},
      {sp::PrintKeywords, "System keywords:", Text(keywords, 5000),
       "System keywords: (truncated)\n" + keywords + "\n"},
      {sp::PrintKeywords, "System keywords:", Text("A,B", 3), "System keywords:\nA,B\n"},
      {sp::PrintKeywords, "System keywords:", sp::InfoValue(), "System keywords:\n<no keywords>\n"},
      {sp::PrintPositioned, header.c_str(), Mask(0),
       positioned + "No positioned statement support\n"},
      {sp::PrintPositioned, header.c_str(), Mask(1), positioned + "Supports positioned deletes\n"},
      {sp::PrintPositioned, header.c_str(), Mask(2), positioned + "Supports positioned updates\n"},
      {sp::PrintPositioned, header.c_str(), Mask(4), positioned + "Supports select for update\n"},
      {sp::PrintPositioned, header.c_str(), Mask(0xF8),
       positioned + "No positioned statement support\n"},
      {sp::PrintPositioned, header.c_str(), Mask(7),
       positioned + "Supports positioned deletes\nSupports positioned updates\nSupports select for "
                    "update\n"},
      {sp::PrintOrderBy, "", Text("Y", 1), "ORDER BY must be part of selected fields\n"},
      {sp::PrintOrderBy, "", Text("N", 1), "Supports ORDER BY with any fields\n"},
      {sp::PrintOrderBy, "", sp::InfoValue(), "Supports ORDER BY with any fields\n"},
      {sp::PrintConformance, "Level?", Num(0), "Level?\nNo Level supported\n"},
      {sp::PrintConformance, "Level?", Num(2), "Level?\nLevel 2\n"},
      {sp::PrintNumber, "Max", Num(65535), "Max\n65535\n"},
      {sp::PrintText, "Driver Name", Text("x.so", 4), "Driver Name\nx.so\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.print(c.label, c.value), c.out) << c.out;

  EXPECT_EQ(sp::PrintTypeMissing("SQL_BIT"), "SQL_BIT\n");
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
    // Under the leak checker: the SQLite driver leaves what it allocates while connecting
    // (through a library it loads and unloads again); only a full unwind reaches the driver's
    // frames that the suppression names. A build without the checker ignores both.
    twtest::WriteFile(dir_ / "lsan.supp", "leak:libsqlite3odbc.so\n");
    const char* asan = std::getenv("ASAN_OPTIONS");
    const char* lsan = std::getenv("LSAN_OPTIONS");
    env_.push_back("ASAN_OPTIONS=" + (asan != nullptr ? asan + std::string(":") : "") +
                   "fast_unwind_on_malloc=0");
    env_.push_back("LSAN_OPTIONS=" + (lsan != nullptr ? lsan + std::string(":") : "") +
                   "print_suppressions=0:suppressions=" + (dir_ / "lsan.supp"));
  }
  std::string SqliteSource() {
    odbc_test::OdbcConfig& config = odbc_test::OdbcConfig::Get();
    const std::string name = config.UniqueName("lite");
    config.AddSource(name, "SQLITE3", {{"Database", dir_ / "probe.db"}});
    return name;
  }
  // application: the name the source's connections show the server, when not empty.
  std::string PgSource(const std::string& application = "") {
    odbc_test::OdbcConfig& config = odbc_test::OdbcConfig::Get();
    const std::string name = config.UniqueName("pg");
    std::vector<std::pair<std::string, std::string>> attributes = {
        {"Servername", "127.0.0.1"}, {"Port", *odbc_test::PgPort()}, {"Database", "postgres"}};
    if (!application.empty())
      attributes.push_back({"ConnSettings", "SET application_name = '" + application + "'"});
    config.AddSource(name, "PG", attributes);
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

// What a driver's report says of it; the rest of the report is the same for every driver
// that offers the six functions.
struct DriverTexts {
  const char* driver;    // its library's name
  const char* dbms;      // the database's name
  const char* keywords;  // the keyword list's line ("*" for any)
  const char* orderBy;   // the ORDER BY line
  const char* types;     // the lines of the nineteen types
};

// The report of a driver; "*" stands for a line of a version.
std::string Report(const std::string& dsn, const DriverTexts& d) {
  return "\n\nDetailed Driver Information\n\nData Source Name\n" + dsn +
         "\n\nODBC Version\n*\n\nDriver ODBC Version (Should be 2.0 or up)\n*\n\nDriver Name\n" +
         d.driver +
         "\n\nDriver Version\n*\n\n"
         "ODBC Conformance Level (Must be Level 1 or >)\nLevel 1\n\n"
         "Max number of Connections (zero = no limit)\n0\n\n"
         "Max Number of Statements (Must be >2 (0=no limit))\n0\n\nThe Database name\n" +
         d.dbms + "\n\nThe Database Version\n*\n\nSystem keywords:\n" + d.keywords +
         "\n\n"
         "Positioned statements: (select/update/delete) required for cursor replication):\n"
         "No positioned statement support\n\n" +
         d.orderBy +
         "\n\n"
         "Max Number of Columns that can be Selected (0=no limit)\n0\n\n"
         "Max Number of Columns that can be in a table (0=no limit)\n0\n\n"
         "NOT NULL column constraint supported\n\n"
         "SQLDataSources      is supported\n"
         "SQLGetTypeInfo      is supported\n"
         "SQLSetConnectOption is supported\n"
         "SQLBindParameter    is supported\n"
         "SQLGetData          is supported\n"
         "SQLTables           is supported\n"
         "\n\nNative Data Types\n" +
         d.types;
}

constexpr DriverTexts kSqlite = {"sqlite3odbc.so", "SQLite", "*",
                                 "Supports ORDER BY with any fields",
                                 "SQL_CHAR          'char'\tsupports nulls\n"
                                 "SQL_VARCHAR       'varchar'\tsupports nulls\n"
                                 "SQL_LONGVARCHAR   'longvarchar'\tsupports nulls\n"
                                 "SQL_DECIMAL\n"
                                 "SQL_NUMERIC\n"
                                 "SQL_SMALLINT      'smallint'\tsupports nulls\n"
                                 "SQL_INTEGER       'integer'\tsupports nulls\n"
                                 "SQL_REAL\n"
                                 "SQL_FLOAT         'float'\tsupports nulls\n"
                                 "SQL_DOUBLE        'double'\tsupports nulls\n"
                                 "SQL_BIT           'bit'\tsupports nulls\n"
                                 "SQL_TINYINT       'tinyint'\tsupports nulls\n"
                                 "SQL_BIGINT        'bigint'\tsupports nulls\n"
                                 "SQL_BINARY\n"
                                 "SQL_VARBINARY     'varbinary'\tsupports nulls\n"
                                 "SQL_LONGVARBINARY 'longvarbinary'\tsupports nulls\n"
                                 "SQL_DATE          'date'\tsupports nulls\n"
                                 "SQL_TIME          'time'\tsupports nulls\n"
                                 "SQL_TIMESTAMP     'timestamp'\tsupports nulls\n"};

constexpr DriverTexts kPostgres = {"psqlodbcw.so", "PostgreSQL", "<no keywords>",
                                   "ORDER BY must be part of selected fields",
                                   "SQL_CHAR          'char'\tsupports nulls\n"
                                   "SQL_VARCHAR       'varchar'\tsupports nulls\n"
                                   "SQL_LONGVARCHAR   'text'\tsupports nulls\n"
                                   "SQL_DECIMAL       'numeric'\tsupports nulls\n"
                                   "SQL_NUMERIC       'numeric'\tsupports nulls\n"
                                   "SQL_SMALLINT      'int2'\tsupports nulls\n"
                                   "SQL_INTEGER       'int4'\tsupports nulls\n"
                                   "SQL_REAL          'float4'\tsupports nulls\n"
                                   "SQL_FLOAT         'float8'\tsupports nulls\n"
                                   "SQL_DOUBLE        'float8'\tsupports nulls\n"
                                   "SQL_BIT           'bool'\tsupports nulls\n"
                                   "SQL_TINYINT       'int2'\tsupports nulls\n"
                                   "SQL_BIGINT        'int8'\tsupports nulls\n"
                                   "SQL_BINARY\n"
                                   "SQL_VARBINARY     'bytea'\tsupports nulls\n"
                                   "SQL_LONGVARBINARY 'bytea'\tsupports nulls\n"
                                   "SQL_DATE          'date'\tsupports nulls\n"
                                   "SQL_TIME          'time'\tsupports nulls\n"
                                   "SQL_TIMESTAMP     'timestamptz'\tsupports nulls\n"};

constexpr char kToFile[] = "Details to file: [N]";
std::string FileName(const std::string& name) {
  return "     Filename: [" + name + "]";
}

TEST_F(SqlProbe, SqliteSourceVerifiedWithTheReport) {
  const std::string dsn = SqliteSource();
  const std::string prompts = Banner() + Prompts("", "", false);
  const std::string report = Report(dsn, kSqlite);
  struct Case {
    const char* name;
    std::string input;
    std::string out;  // "*" lines: versions
    std::string err;
    std::string file;  // the report file written ("" none)
    std::string fileText;
  } cases[] = {
      {"no report", dsn + "\n\n\n\n", prompts + kConnected + kAgain, "", "", ""},
      {"to the screen", dsn + "\n\n\ny\nn\n", prompts + kToFile + kConnected + report + kAgain, "",
       "", ""},
      {"to the default file", dsn + "\n\n\nY\ny\n\n",
       prompts + kToFile + FileName("SQLPROBE.TXT") + kConnected + kAgain, "", "SQLPROBE.TXT",
       report},
      {"to a named file", dsn + "\n\n\ny\ny\nlite.txt\n",
       prompts + kToFile + FileName("SQLPROBE.TXT") + kConnected + kAgain, "", "lite.txt", report},
      {"a file that cannot be opened", dsn + "\n\n\ny\ny\nno/such/dir.txt\n",
       prompts + kToFile + FileName("SQLPROBE.TXT") + kConnected + report + kAgain,
       "no/such/dir.txt: No such file or directory\n", "", ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "SQLPROBE.TXT");
    twtest::ProcessResult r = Run({}, c.input);
    EXPECT_TRUE(LinesMatch(c.out, r.out)) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.exitCode, 0) << c.name;
    if (!c.file.empty()) {
      EXPECT_TRUE(LinesMatch(c.fileText, twtest::ReadFile(dir_ / c.file))) << c.name;
    }
  }
}

TEST_F(SqlProbe, UnknownSourceAndTheEndOfInput) {
  const std::string notFound =
      "[unixODBC][Driver Manager]Data source name not found and no default driver specified "
      "(SQLSTATE IM002, native error 0)\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input, out, err;
  } cases[] = {
      {"unknown source",
       {},
       "nosuchsource\nme\nsecret\n\nn\n",
       Banner() + Prompts("", "", false) + kAgain,
       notFound},
      // Every prompt takes its current value, and Try Again reads as no.
      {"end of input", {}, "", Banner() + Prompts("", "", false) + kAgain, notFound},
      {"end of input with presets",
       {"nosuchsource", "me", "secret"},
       "",
       Banner() + Prompts("nosuchsource", "me", true) + kAgain,
       notFound},
      {"a retry with the answers kept",
       {"nosuchsource", "me", "secret"},
       "\n\n\n\ny\n",
       Banner() + Prompts("nosuchsource", "me", true) + kAgain + "\n\n" +
           Prompts("nosuchsource", "me", true) + kAgain,
       notFound + notFound},
      {"a preset too long",
       {std::string(100, 'd')},
       "",
       Banner() + Prompts("", "", false) + kAgain,
       "The data source name is longer than 99 characters and is not used.\n" + notFound},
  };
  for (const Case& c : cases) {
    twtest::ProcessResult r = Run(c.args, c.input);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.exitCode, 1) << c.name;
    EXPECT_EQ(r.out.find("secret"), std::string::npos) << c.name;
  }
}

class SqlProbePg : public SqlProbe {
 protected:
  void SetUp() override {
    if (!odbc_test::PgAvailable()) GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
  }
  // The connections named application that the server still has open once those the
  // client closed are gone: a backend leaves a moment after its client's goodbye, a leaked
  // connection never does. Other tests use the same role at the same time, hence the name.
  static int OpenConnections(const std::string& application) {
    int open = -1;
    for (int turn = 0; turn < 200 && open != 0; ++turn) {
      if (turn > 0) ::usleep(20000);
      twtest::ProcessResult r = twtest::RunProgram(
          {"/usr/lib/postgresql/15/bin/psql", "-X", "-A", "-t", "-h", "127.0.0.1", "-p",
           *odbc_test::PgPort(), "-U", "tw", "-d", "postgres", "-c",
           "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + application +
               "'"},
          twtest::InheritedEnv(), "");
      EXPECT_EQ(r.exitCode, 0) << r.err;
      if (r.exitCode != 0) return -1;
      open = std::stoi(r.out);
    }
    return open;
  }
};

TEST_F(SqlProbePg, VerifiedWithTheReport) {
  const std::string dsn = PgSource();
  twtest::ProcessResult r = Run({dsn, "tw"}, "\n\n\ny\ny\n\n");
  EXPECT_EQ(r.out, Banner() + Prompts(dsn, "tw", false) + kToFile + FileName("SQLPROBE.TXT") +
                       kConnected + kAgain);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(LinesMatch(Report(dsn, kPostgres), twtest::ReadFile(dir_ / "SQLPROBE.TXT")));
}

TEST_F(SqlProbePg, WrongPasswordThenTheRightOne) {
  const std::string dsn = PgSource();
  const std::string refused =
      "[unixODBC]connection to server at \"127.0.0.1\", port " + *odbc_test::PgPort() +
      " failed: FATAL:  password authentication failed for user \"tw_pw\" (SQLSTATE 08001, "
      "native error 101)\n";
  struct Case {
    const char* name;
    std::string input, out, err;
    int code;
  } cases[] = {
      {"wrong password", "\n\nlion\n\n", Banner() + Prompts(dsn, "tw_pw", false) + kAgain, refused,
       1},
      {"then the right one", "\n\nlion\n\ny\n\n\ntw-secret\n\n",
       Banner() + Prompts(dsn, "tw_pw", false) + kAgain + "\n\n" + Prompts(dsn, "tw_pw", true) +
           kConnected + kAgain,
       refused, 0},
      {"right, then wrong", "\n\ntw-secret\n\ny\n\n\nlion\n\n",
       Banner() + Prompts(dsn, "tw_pw", false) + kConnected + kAgain + "\n\n" +
           Prompts(dsn, "tw_pw", true) + kAgain,
       refused, 1},
  };
  for (const Case& c : cases) {
    twtest::ProcessResult r = Run({dsn, "tw_pw"}, c.input);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.exitCode, c.code) << c.name;
    EXPECT_EQ(r.out.find("tw-secret"), std::string::npos) << c.name;
  }
}

// Each attempt gives its connection back before Try Again is asked: the server sees none of
// the probe's connections left open between attempts, whatever the attempt's outcome.
TEST_F(SqlProbePg, NoConnectionLeftOpenBetweenAttempts) {
  const std::string application = "sqlprobe_" + std::to_string(::getpid());
  const std::string dsn = PgSource(application);
  // Verified with the report on the screen, refused, verified.
  probetest::MemConsole mem("\n\ntw-secret\ny\nn\ny\n\n\nlion\nn\ny\n\n\ntw-secret\n\n");
  std::vector<int> open;
  mem.console().beforeRead = [&] {
    const std::string out = mem.Out();
    if (out.size() >= std::strlen(kAgain) &&
        out.compare(out.size() - std::strlen(kAgain), std::string::npos, kAgain) == 0)
      open.push_back(OpenConnections(application));
  };
  {
    tw::probe::Console& console = mem.console();
    EXPECT_EQ(sp::Run(console, {dsn, "tw_pw"}), 0);
  }
  EXPECT_EQ(open, std::vector<int>({0, 0, 0})) << mem.Out() << mem.Err();
  // Only the refusal is reported: the driver manager freed the environment with no
  // connection handle left in it.
  const std::string err = mem.Err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("password authentication failed"), std::string::npos) << err;
  EXPECT_EQ(OpenConnections(application), 0);
}

}  // namespace
