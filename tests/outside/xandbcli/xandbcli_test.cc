// XandbCLI against real drivers: calls found by number, Xandb texts run on SQLite and (when
// TW_PG_PORT names a cluster) PostgreSQL, texts recorded as passed, the settings and the
// no-journal switch.
#include "xandbcli.h"

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "odbc_test_config.h"
#include "plat_test_util.h"

namespace {

using odbc_test::OdbcConfig;
using twtest::ScopedEnv;
using twtest::TempDir;

// The call of number as the function type F.
template <typename F>
F* Fn(uint16_t number) {
  XandbCLIFunction f = XandbCLIGetFunction(number);
  EXPECT_NE(f, nullptr) << number;
  return reinterpret_cast<F*>(f);
}

bool Ok(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

enum class Db { kSqlite, kPostgres };

// A data source of the engine, reached through XandbCLI only.
class Client {
 public:
  explicit Client(Db db) {
    OdbcConfig& config = OdbcConfig::Get();
    dsn_ = config.UniqueName(db == Db::kSqlite ? "xlite" : "xpg");
    table_ = "XT" + std::to_string(::getpid());
    if (db == Db::kSqlite)
      config.AddSource(dsn_, "SQLITE3", {{"Database", dir_ / "x.db"}, {"Timeout", "5000"}});
    else
      config.AddSource(dsn_, "PG",
                       {{"Servername", "127.0.0.1"},
                        {"Port", *odbc_test::PgPort()},
                        {"Database", "postgres"},
                        {"Username", "tw"}});
    EXPECT_TRUE(Ok(Fn<SQLRETURN(SQLHENV*)>(SQL_API_SQLALLOCENV)(&env_)));
    EXPECT_TRUE(Ok(Fn<SQLRETURN(SQLHENV, SQLHDBC*)>(SQL_API_SQLALLOCCONNECT)(env_, &conn_)));
    auto connect =
        Fn<SQLRETURN(SQLHDBC, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT)>(
            SQL_API_SQLCONNECT);
    std::string user = db == Db::kSqlite ? "" : "tw";
    connected_ = Ok(connect(conn_, Chars(dsn_), static_cast<SQLSMALLINT>(dsn_.size()), Chars(user),
                            static_cast<SQLSMALLINT>(user.size()), Chars(empty_), 0));
    EXPECT_TRUE(connected_) << Error(nullptr);
    Exec("DROP TABLE IF EXISTS " + table_);
  }
  ~Client() {
    if (connected_) {
      Exec("DROP TABLE IF EXISTS " + table_);
      Fn<SQLRETURN(SQLHENV, SQLHDBC, SQLUSMALLINT)>(SQL_API_SQLTRANSACT)(env_, conn_, SQL_COMMIT);
      Fn<SQLRETURN(SQLHDBC)>(SQL_API_SQLDISCONNECT)(conn_);
    }
    Fn<SQLRETURN(SQLHDBC)>(SQL_API_SQLFREECONNECT)(conn_);
    Fn<SQLRETURN(SQLHENV)>(SQL_API_SQLFREEENV)(env_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  static SQLCHAR* Chars(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }
  const std::string& table() const { return table_; }
  const std::string& dsn() const { return dsn_; }
  SQLHENV env() const { return env_; }
  SQLHDBC conn() const { return conn_; }

  SQLHSTMT Statement() {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    EXPECT_TRUE(Ok(Fn<SQLRETURN(SQLHDBC, SQLHSTMT*)>(SQL_API_SQLALLOCSTMT)(conn_, &stmt)));
    return stmt;
  }
  void Drop(SQLHSTMT stmt) {
    EXPECT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT)>(SQL_API_SQLFREESTMT)(stmt, SQL_DROP)));
  }
  // The driver's first diagnostic of stmt (or the connection).
  std::string Error(SQLHSTMT stmt) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1025] = {};
    SQLSMALLINT length = 0;
    Fn<SQLRETURN(SQLHENV, SQLHDBC, SQLHSTMT, SQLCHAR*, SQLINTEGER*, SQLCHAR*, SQLSMALLINT,
                 SQLSMALLINT*)>(SQL_API_SQLERROR)(env_, conn_, stmt, state, &native, message,
                                                  sizeof message, &length);
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
  }
  // A statement with text prepared (null after a failure, which is reported).
  SQLHSTMT Prepared(std::string text) {
    SQLHSTMT stmt = Statement();
    if (!Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLPREPARE)(stmt, Chars(text),
                                                                              SQL_NTS))) {
      ADD_FAILURE() << text << ": " << Error(stmt);
      Drop(stmt);
      return SQL_NULL_HSTMT;
    }
    return stmt;
  }
  // Binds input parameter number of stmt.
  static bool Bind(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT c_type, SQLSMALLINT sql_type,
                   SQLULEN size, SQLPOINTER value, SQLLEN buffer_length, SQLLEN* indicator) {
    return Ok(Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN,
                           SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(SQL_API_SQLBINDPARAMETER)(
        stmt, number, SQL_PARAM_INPUT, c_type, sql_type, size, 0, value, buffer_length, indicator));
  }
  // Sets the rows of stmt's parameter arrays.
  static bool ParameterRows(SQLHSTMT stmt, SQLULEN rows, SQLULEN* done) {
    return Ok(
        Fn<SQLRETURN(SQLHSTMT, SQLULEN, SQLULEN*)>(SQL_API_SQLPARAMOPTIONS)(stmt, rows, done));
  }

  // Runs text directly; true when it succeeded.
  bool Exec(std::string text, std::string* error = nullptr) {
    SQLHSTMT stmt = Statement();
    const SQLRETURN rc = Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLEXECDIRECT)(
        stmt, Chars(text), SQL_NTS);
    if (!Ok(rc) && rc != SQL_NO_DATA && error != nullptr) *error = Error(stmt);
    Drop(stmt);
    return Ok(rc) || rc == SQL_NO_DATA;
  }
  // The rows of a query, each column read as text ("<null>" for null).
  std::vector<std::vector<std::string>> Query(std::string text) {
    std::vector<std::vector<std::string>> rows;
    SQLHSTMT stmt = Statement();
    auto prepare = Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLPREPARE);
    auto execute = Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLEXECUTE);
    if (!Ok(prepare(stmt, Chars(text), static_cast<SQLINTEGER>(text.size()))) ||
        !Ok(execute(stmt))) {
      ADD_FAILURE() << text << ": " << Error(stmt);
      Drop(stmt);
      return rows;
    }
    SQLSMALLINT columns = 0;
    Fn<SQLRETURN(SQLHSTMT, SQLSMALLINT*)>(SQL_API_SQLNUMRESULTCOLS)(stmt, &columns);
    auto fetch = Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH);
    auto get = Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
        SQL_API_SQLGETDATA);
    while (Ok(fetch(stmt))) {
      std::vector<std::string> row;
      for (SQLUSMALLINT c = 1; c <= columns; ++c) {
        char value[256] = {};
        SQLLEN indicator = 0;
        EXPECT_TRUE(Ok(get(stmt, c, SQL_C_CHAR, value, sizeof value, &indicator)));
        row.push_back(indicator == SQL_NULL_DATA ? "<null>" : value);
      }
      rows.push_back(row);
    }
    Drop(stmt);
    return rows;
  }

 private:
  TempDir dir_;
  std::string dsn_;
  std::string table_;
  std::string empty_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC conn_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

using Rows = std::vector<std::vector<std::string>>;

class XandbCliEngines : public ::testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    if (GetParam() == Db::kPostgres && !odbc_test::PgAvailable())
      GTEST_SKIP() << "TW_PG_PORT is not set (scripts/pg.sh)";
  }
};

// Xandb column types are created as the engine's, and a stamp window written as Xandb
// TIMESTAMP literals selects exactly the rows whose bound timestamps it covers.
TEST_P(XandbCliEngines, XandbTypesAndStampWindowsRunOnTheEngine) {
  Client db(GetParam());
  const std::string& t = db.table();
  std::string error;
  ASSERT_TRUE(db.Exec("CREATE TABLE " + t +
                          " (K INTEGER, C CLOB (2147483647) NOT LOGGED COMPACT, L LONG VARCHAR,"
                          " B BLOB (100), F CHAR (4) FOR BIT DATA, D DOUBLE, S TIMESTAMP)",
                      &error))
      << error;
  SQLHSTMT stmt =
      db.Prepared("INSERT INTO " + t + " (K, C, B, D, S) VALUES (?, 'clob', ?, 2.5, ?)");
  ASSERT_NE(stmt, nullptr);
  SQLINTEGER key = 0;
  unsigned char bytes[3] = {0x00, 0xFF, 0x41};
  SQL_TIMESTAMP_STRUCT stamp{};
  SQLLEN key_length = 0, bytes_length = sizeof bytes, stamp_length = sizeof stamp;
  ASSERT_TRUE(Client::Bind(stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, &key, 0, &key_length));
  ASSERT_TRUE(Client::Bind(stmt, 2, SQL_C_BINARY, SQL_LONGVARBINARY, sizeof bytes, bytes,
                           sizeof bytes, &bytes_length));
  ASSERT_TRUE(Client::Bind(stmt, 3, SQL_C_TIMESTAMP, SQL_TIMESTAMP, 22, &stamp, sizeof stamp,
                           &stamp_length));
  // Two rows a hundredth of a second apart, at the edges of the window below.
  const SQLUINTEGER fractions[] = {60000000, 70000000};
  for (SQLUINTEGER fraction : fractions) {
    key = static_cast<SQLINTEGER>(fraction / 10000000);
    stamp = SQL_TIMESTAMP_STRUCT{2024, 2, 29, 23, 59, 58, fraction};
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLEXECUTE)(stmt))) << db.Error(stmt);
  }
  db.Drop(stmt);
  EXPECT_EQ(db.Query("SELECT K FROM " + t +
                     " WHERE  ( S >  TIMESTAMP ('2024-02-29-23.59.58.06') "
                     " AND S <=  TIMESTAMP ('2024-02-29-23.59.58.07') ) "),
            (Rows{{"7"}}));
  EXPECT_EQ(db.Query("SELECT K, C, D FROM " + t +
                     " WHERE S <= TIMESTAMP ('2024-02-29-23.59.58.06') "
                     " FOR UPDATE  OF K, C"),
            (Rows{{"6", "clob", "2.5"}}));
}

// The server's time, asked both ways the connector asks, even of an empty table.
TEST_P(XandbCliEngines, ServerTimeQueriesGiveOneRow) {
  Client db(GetParam());
  ASSERT_TRUE(db.Exec("CREATE TABLE " + db.table() + " (K INTEGER)"));
  for (std::string text : {std::string("VALUES CURRENT TIMESTAMP"),
                           "SELECT DISTINCT CURRENT TIMESTAMP FROM " + db.table()}) {
    SQLHSTMT stmt = db.Statement();
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLEXECDIRECT)(
        stmt, Client::Chars(text), SQL_NTS)))
        << text << ": " << db.Error(stmt);
    ASSERT_EQ(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt), SQL_SUCCESS) << text;
    SQL_TIMESTAMP_STRUCT now{};
    SQLLEN indicator = 0;
    EXPECT_EQ((Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
                  SQL_API_SQLGETDATA)(stmt, 1, SQL_C_TIMESTAMP, &now, sizeof now, &indicator)),
              SQL_SUCCESS)
        << text << ": " << db.Error(stmt);
    EXPECT_GE(now.year, 2020) << text;
    EXPECT_EQ(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt), SQL_NO_DATA) << text;
    db.Drop(stmt);
  }
}

// Option 101 is kept and read back, and writes still succeed: it never reaches the driver as
// a read-only access mode.
TEST_P(XandbCliEngines, NoJournalSwitchIsKeptNotForwarded) {
  Client db(GetParam());
  auto set = Fn<SQLRETURN(SQLHDBC, SQLUSMALLINT, SQLULEN)>(SQL_API_SQLSETCONNECTOPTION);
  auto get = Fn<SQLRETURN(SQLHDBC, SQLUSMALLINT, SQLPOINTER)>(SQL_API_SQLGETCONNECTOPTION);
  ASSERT_EQ(set(db.conn(), XANDBCLI_NO_JOURNAL, 1), SQL_SUCCESS);
  SQLUINTEGER value = 7;
  ASSERT_EQ(get(db.conn(), XANDBCLI_NO_JOURNAL, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 1u);
  std::string error;
  EXPECT_TRUE(db.Exec("CREATE TABLE " + db.table() + " (K INTEGER)", &error)) << error;
  EXPECT_TRUE(db.Exec("INSERT INTO " + db.table() + " VALUES (1)", &error)) << error;
  EXPECT_EQ(db.Query("SELECT K FROM " + db.table()), (Rows{{"1"}}));
  ASSERT_EQ(set(db.conn(), XANDBCLI_NO_JOURNAL, 0), SQL_SUCCESS);
  ASSERT_EQ(get(db.conn(), XANDBCLI_NO_JOURNAL, &value), SQL_SUCCESS);
  EXPECT_EQ(value, 0u);
}

// Each text is recorded once, exactly as passed (before rewriting), in the order passed.
TEST_P(XandbCliEngines, RecordsTextsAsPassed) {
  TempDir dir;
  const std::string file = dir / "texts.txt";
  ScopedEnv record("XANDBCLI_RECORD", file.c_str());
  {
    Client db(GetParam());
    ASSERT_TRUE(db.Exec("CREATE TABLE " + db.table() + " (C CLOB (10)  NOT LOGGED COMPACT)"));
    db.Query("SELECT C FROM " + db.table() + "  FOR UPDATE  OF C");
    std::string error;
    EXPECT_FALSE(db.Exec("SELECT NOSUCH FROM NOWHERE", &error));
    EXPECT_FALSE(error.empty());
  }
  std::ifstream in(file);
  std::stringstream all;
  all << in.rdbuf();
  const std::string& t = "XT" + std::to_string(::getpid());
  EXPECT_EQ(all.str(), "DROP TABLE IF EXISTS " + t + "\nCREATE TABLE " + t +
                           " (C CLOB (10)  NOT LOGGED COMPACT)\nSELECT C FROM " + t +
                           "  FOR UPDATE  OF C\nSELECT NOSUCH FROM NOWHERE\nDROP TABLE IF EXISTS " +
                           t + "\n");
}

// The DBMS name and column-name limit settings are served instead of the driver's, with
// ODBC's cutting of a long name; without them the driver answers.
TEST_P(XandbCliEngines, SettingsServeDbmsNameAndColumnNameLimit) {
  Client db(GetParam());
  auto info = Fn<SQLRETURN(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*)>(
      SQL_API_SQLGETINFO);
  char name[17] = {};
  SQLSMALLINT length = 0;
  {
    ScopedEnv dbms("XANDBCLI_DBMS_NAME", "Xandb/400");
    EXPECT_EQ(info(db.conn(), SQL_DBMS_NAME, name, sizeof name, &length), SQL_SUCCESS);
    EXPECT_STREQ(name, "Xandb/400");
  }
  {
    ScopedEnv dbms("XANDBCLI_DBMS_NAME", "A NAME OF TWENTY CHARS");
    EXPECT_EQ(info(db.conn(), SQL_DBMS_NAME, name, sizeof name, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(name, "A NAME OF TWENTY");
    EXPECT_EQ(length, 22);
  }
  ScopedEnv unset("XANDBCLI_DBMS_NAME", nullptr);
  EXPECT_TRUE(Ok(info(db.conn(), SQL_DBMS_NAME, name, sizeof name, &length)));
  EXPECT_STREQ(name, GetParam() == Db::kSqlite ? "SQLite" : "PostgreSQL");

  SQLUSMALLINT limit = 99;
  {
    ScopedEnv zero("XANDBCLI_MAX_COLUMN_NAME_LEN", "0");
    EXPECT_EQ(info(db.conn(), SQL_MAX_COLUMN_NAME_LEN, &limit, sizeof limit, nullptr), SQL_SUCCESS);
    EXPECT_EQ(limit, 0);
  }
  ScopedEnv driver("XANDBCLI_MAX_COLUMN_NAME_LEN", nullptr);
  EXPECT_TRUE(Ok(info(db.conn(), SQL_MAX_COLUMN_NAME_LEN, &limit, sizeof limit, nullptr)));
}

INSTANTIATE_TEST_SUITE_P(Engines, XandbCliEngines, ::testing::Values(Db::kSqlite, Db::kPostgres),
                         [](const auto& param) {
                           return param.param == Db::kSqlite ? "Sqlite" : "Postgres";
                         });

// Number 200 lists the data sources of the configuration, ours among them.
TEST(XandbCli, DataSourcesListTheConfiguredNames) {
  Client db(Db::kSqlite);
  auto list = Fn<SQLRETURN(SQLHENV, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLCHAR*,
                           SQLSMALLINT, SQLSMALLINT*)>(XANDBCLI_DATA_SOURCES);
  std::vector<std::string> names;
  SQLCHAR name[SQL_MAX_DSN_LENGTH + 1];
  SQLCHAR description[256];
  SQLSMALLINT name_length = 0, description_length = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
       Ok(list(db.env(), direction, name, sizeof name, &name_length, description,
               sizeof description, &description_length));
       direction = SQL_FETCH_NEXT)
    names.emplace_back(reinterpret_cast<char*>(name));
  EXPECT_NE(std::find(names.begin(), names.end(), db.dsn()), names.end());
}

TEST(XandbCli, UnservedNumbersGiveNoFunction) {
  for (uint16_t number : {0, 57, 199, 201, 65535})
    EXPECT_EQ(XandbCLIGetFunction(number), nullptr) << number;
}

}  // namespace

namespace {

// A positioned update and delete through a FOR UPDATE select: the select shows only its own
// columns, and each write reaches the row the cursor stands on, by our short name or by the
// default one.
TEST_P(XandbCliEngines, PositionedWritesReachTheCursorsRow) {
  Client db(GetParam());
  const std::string& t = db.table();
  ASSERT_TRUE(db.Exec("CREATE TABLE " + t + " (K INTEGER, V VARCHAR (10))"));
  ASSERT_TRUE(db.Exec("INSERT INTO " + t + " VALUES (1, 'a')"));
  ASSERT_TRUE(db.Exec("INSERT INTO " + t + " VALUES (2, 'b')"));
  ASSERT_TRUE(db.Exec("INSERT INTO " + t + " VALUES (3, 'c')"));
  for (bool own_name : {true, false}) {
    SCOPED_TRACE(own_name ? "own name" : "default name");
    SQLHSTMT select = db.Statement();
    auto set_option = Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLULEN)>(SQL_API_SQLSETSTMTOPTION);
    ASSERT_EQ(set_option(select, SQL_CONCURRENCY, SQL_CONCUR_LOCK), SQL_SUCCESS);
    SQLULEN concurrency = 0;
    ASSERT_EQ((Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLPOINTER)>(SQL_API_SQLGETSTMTOPTION)(
                  select, SQL_CONCURRENCY, &concurrency)),
              SQL_SUCCESS);
    EXPECT_EQ(concurrency, static_cast<SQLULEN>(SQL_CONCUR_LOCK));
    std::string name = "XC1";
    if (own_name) {
      ASSERT_EQ((Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLSMALLINT)>(SQL_API_SQLSETCURSORNAME)(
                    select, Client::Chars(name), SQL_NTS)),
                SQL_SUCCESS);
    }
    SQLCHAR got[64] = {};
    SQLSMALLINT length = 0;
    ASSERT_EQ((Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*)>(
                  SQL_API_SQLGETCURSORNAME)(select, got, sizeof got, &length)),
              SQL_SUCCESS);
    name = reinterpret_cast<char*>(got);
    if (own_name) {
      EXPECT_EQ(name, "XC1");
    } else {
      EXPECT_GT(name.size(), 18u) << name;  // longer than 19 bytes hold with their NUL
    }

    std::string text = "SELECT K, V FROM " + t + " WHERE K > 0 ORDER BY K  FOR UPDATE  OF V";
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLEXECDIRECT)(
        select, Client::Chars(text), SQL_NTS)))
        << db.Error(select);
    SQLSMALLINT columns = 0;
    ASSERT_TRUE(
        Ok(Fn<SQLRETURN(SQLHSTMT, SQLSMALLINT*)>(SQL_API_SQLNUMRESULTCOLS)(select, &columns)));
    EXPECT_EQ(columns, 2);
    SQLINTEGER key = 0;
    SQLLEN key_length = 0;
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
        SQL_API_SQLBINDCOL)(select, 1, SQL_C_LONG, &key, 0, &key_length)));

    SQLHSTMT update = db.Prepared("UPDATE " + t + " SET V = ?  WHERE CURRENT OF " + name);
    ASSERT_NE(update, nullptr);
    char value[8] = {};
    SQLLEN value_length = SQL_NTS;
    ASSERT_TRUE(
        Client::Bind(update, 1, SQL_C_CHAR, SQL_VARCHAR, 7, value, sizeof value, &value_length));
    SQLHSTMT remove = db.Prepared("DELETE FROM " + t + "  WHERE CURRENT OF " + name);
    ASSERT_NE(remove, nullptr);
    auto fetch = Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH);
    auto execute = Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLEXECUTE);
    // Row 1 updated, row 2 deleted, row 3 left.
    ASSERT_TRUE(Ok(fetch(select))) << db.Error(select);
    EXPECT_EQ(key, 1);
    std::snprintf(value, sizeof value, "%s", own_name ? "own" : "dflt");
    ASSERT_TRUE(Ok(execute(update))) << db.Error(update);
    ASSERT_TRUE(Ok(fetch(select))) << db.Error(select);
    EXPECT_EQ(key, 2);
    ASSERT_TRUE(Ok(execute(remove))) << db.Error(remove);
    db.Drop(update);
    db.Drop(remove);
    db.Drop(select);
    EXPECT_EQ(db.Query("SELECT K, V FROM " + t + " ORDER BY K"),
              (Rows{{"1", own_name ? "own" : "dflt"}, {"3", "c"}}));
    ASSERT_TRUE(db.Exec("INSERT INTO " + t + " VALUES (2, 'b')"));
  }
}

// A positioned write naming no open cursor reaches the driver as written, and fails there.
TEST_P(XandbCliEngines, PositionedWriteOnAnUnknownCursorFails) {
  Client db(GetParam());
  ASSERT_TRUE(db.Exec("CREATE TABLE " + db.table() + " (K INTEGER)"));
  std::string error;
  EXPECT_FALSE(db.Exec("DELETE FROM " + db.table() + " WHERE CURRENT OF NOSUCH", &error));
  EXPECT_FALSE(error.empty());
}

// XANDBCLI_TYPE_INFO replaces the driver's type-info rows, in the columns a caller reads.
TEST_P(XandbCliEngines, TypeInfoSettingServesItsRows) {
  Client db(GetParam());
  ScopedEnv rows("XANDBCLI_TYPE_INFO", "1:254:3, -99:2147483647:1,-98:1073741824:0");
  SQLHSTMT stmt = db.Statement();
  ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLSMALLINT)>(SQL_API_SQLGETTYPEINFO)(stmt, SQL_ALL_TYPES)))
      << db.Error(stmt);
  std::vector<std::vector<SQLINTEGER>> got;
  auto get = Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
      SQL_API_SQLGETDATA);
  while (Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt))) {
    std::vector<SQLINTEGER> row;
    for (SQLUSMALLINT column : {2, 3, 9}) {
      SQLINTEGER value = 0;
      SQLLEN indicator = 0;
      EXPECT_TRUE(Ok(get(stmt, column, SQL_C_LONG, &value, 4, &indicator))) << db.Error(stmt);
      row.push_back(value);
    }
    got.push_back(row);
  }
  db.Drop(stmt);
  EXPECT_EQ(got, (std::vector<std::vector<SQLINTEGER>>{
                     {1, 254, 3}, {-99, 2147483647, 1}, {-98, 1073741824, 0}}));
  ScopedEnv bad("XANDBCLI_TYPE_INFO", "1:254");
  stmt = db.Statement();
  EXPECT_EQ((Fn<SQLRETURN(SQLHSTMT, SQLSMALLINT)>(SQL_API_SQLGETTYPEINFO)(stmt, SQL_ALL_TYPES)),
            SQL_ERROR);
  db.Drop(stmt);
}

}  // namespace

namespace {

// XandbCODEPAGE as the client reads it: texts, SQL_C_CHAR parameters (single and array) and
// SQL_C_CHAR results (read in pieces, probed for length, or bound) are in the client's page,
// while the engine holds UTF-8. Pages the client does not convert pass bytes unchanged.
TEST_P(XandbCliEngines, ClientCodePageConvertsTextsParametersAndResults) {
  struct Case {
    const char* setting;  // null: unset
    std::string e_acute;  // é in the client's page
  };
  const Case cases[] = {
      {"1252", "\xE9"},    {" 850", "\x82"},      {"1363", "\xC3\xA9"},
      {"abc", "\xC3\xA9"}, {nullptr, "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting != nullptr ? c.setting : "unset");
    ScopedEnv page("XandbCODEPAGE", c.setting);
    Client db(GetParam());
    const std::string& t = db.table();
    const std::string e = c.e_acute;
    ASSERT_TRUE(db.Exec("CREATE TABLE " + t + " (K INTEGER, V VARCHAR (20))"));
    ASSERT_TRUE(db.Exec("INSERT INTO " + t + " VALUES (1, 'caf" + e + "')"));

    // Two rows in one execution, the second with an explicit length.
    SQLHSTMT stmt = db.Prepared("INSERT INTO " + t + " VALUES (?, ?)");
    ASSERT_NE(stmt, nullptr);
    SQLINTEGER keys[2] = {2, 3};
    char values[2][8] = {};
    std::snprintf(values[0], 8, "%s", e.c_str());
    std::snprintf(values[1], 8, "%sx%s", e.c_str(), e.c_str());
    SQLLEN lengths[2] = {SQL_NTS, static_cast<SQLLEN>(e.size() + 1)};  // the last é cut off
    SQLULEN done = 0;
    ASSERT_TRUE(Client::ParameterRows(stmt, 2, &done));
    ASSERT_TRUE(Client::Bind(stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, keys, 0, nullptr));
    ASSERT_TRUE(Client::Bind(stmt, 2, SQL_C_CHAR, SQL_VARCHAR, 7, values, 8, lengths));
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLEXECUTE)(stmt))) << db.Error(stmt);
    EXPECT_EQ(done, 2u);
    db.Drop(stmt);

    EXPECT_EQ(db.Query("SELECT K, V FROM " + t + " ORDER BY K"),
              (Rows{{"1", "caf" + e}, {"2", e}, {"3", e + "x"}}));
    // The engine holds UTF-8 whatever the client's page.
    const std::string octets =
        GetParam() == Db::kSqlite ? "length(CAST(V AS BLOB))" : "octet_length(V)";
    EXPECT_EQ(db.Query("SELECT " + octets + " FROM " + t + " WHERE K = 2"), (Rows{{"2"}}));

    // A length probe gives the client's length; a small buffer takes the value in pieces.
    stmt = db.Statement();
    std::string select = "SELECT V FROM " + t + " WHERE K = 1";
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLEXECDIRECT)(
        stmt, Client::Chars(select), SQL_NTS)));
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt)));
    auto get = Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
        SQL_API_SQLGETDATA);
    SQLLEN indicator = 0;
    char probe[1];
    // (Unconverted, the answer is the driver's: SQLite's says SQL_SUCCESS.)
    EXPECT_TRUE(Ok(get(stmt, 1, SQL_C_CHAR, probe, 0, &indicator)));
    EXPECT_EQ(indicator, static_cast<SQLLEN>(3 + e.size()));
    std::string whole;
    char piece[3];
    SQLRETURN rc;
    while ((rc = get(stmt, 1, SQL_C_CHAR, piece, sizeof piece, &indicator)) != SQL_NO_DATA) {
      ASSERT_TRUE(Ok(rc)) << db.Error(stmt);
      whole += piece;
    }
    EXPECT_EQ(whole, "caf" + e);
    db.Drop(stmt);

    // A bound column gets the client's bytes at each fetch.
    stmt = db.Statement();
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLINTEGER)>(SQL_API_SQLEXECDIRECT)(
        stmt, Client::Chars(select), SQL_NTS)));
    char bound[16] = {};
    SQLLEN bound_length = 0;
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*)>(
        SQL_API_SQLBINDCOL)(stmt, 1, SQL_C_CHAR, bound, sizeof bound, &bound_length)));
    ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt)));
    EXPECT_EQ(std::string(bound), "caf" + e);
    EXPECT_EQ(bound_length, static_cast<SQLLEN>(3 + e.size()));
    db.Drop(stmt);
  }
}

// Bytes that are no text of the client's page fail the call rather than reach the engine.
TEST_P(XandbCliEngines, TextNotOfTheClientsPageIsRefused) {
  ScopedEnv page("XandbCODEPAGE", "932");
  Client db(GetParam());
  EXPECT_FALSE(db.Exec("SELECT '\x81'"));  // a lead byte with no trail
  EXPECT_TRUE(db.Exec("SELECT '\x81\x40'"));
}

}  // namespace

namespace {

// Parameter arrays, taken by the driver or given to it row by row when it takes none: the
// same rows stored, rows done counted, and at a failing row the rows before stay.
TEST_P(XandbCliEngines, ParameterArraysWithAndWithoutTheDriversSupport) {
  for (const char* arrays : {"1", "0"}) {
    SCOPED_TRACE(std::string("XANDBCLI_PARAMETER_ARRAYS=") + arrays);
    ScopedEnv setting("XANDBCLI_PARAMETER_ARRAYS", arrays);
    Client db(GetParam());
    const std::string& t = db.table();
    ASSERT_TRUE(
        db.Exec("CREATE TABLE " + t + " (K INTEGER PRIMARY KEY, V VARCHAR (10), S TIMESTAMP)"));
    SQLHSTMT stmt = db.Prepared("INSERT INTO " + t + " VALUES (?, ?, ?)");
    ASSERT_NE(stmt, nullptr);
    SQLINTEGER keys[3] = {1, 2, 3};
    char values[3][4] = {"a", "bb", "ccc"};
    SQLLEN lengths[3] = {SQL_NTS, 2, SQL_NULL_DATA};
    SQL_TIMESTAMP_STRUCT stamps[3] = {
        {2001, 1, 2, 3, 4, 5, 0}, {2002, 2, 3, 4, 5, 6, 0}, {2003, 3, 4, 5, 6, 7, 0}};
    SQLULEN done = 99;
    ASSERT_TRUE(Client::ParameterRows(stmt, 3, &done));
    ASSERT_TRUE(Client::Bind(stmt, 1, SQL_C_LONG, SQL_INTEGER, 0, keys, 0, nullptr));
    ASSERT_TRUE(Client::Bind(stmt, 2, SQL_C_CHAR, SQL_VARCHAR, 3, values, 4, lengths));
    ASSERT_TRUE(Client::Bind(stmt, 3, SQL_C_TIMESTAMP, SQL_TIMESTAMP, 19, stamps, 0, nullptr));
    auto execute = Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLEXECUTE);
    ASSERT_TRUE(Ok(execute(stmt))) << db.Error(stmt);
    EXPECT_EQ(done, 3u);
    Rows stored = db.Query("SELECT K, V, S FROM " + t + " ORDER BY K");
    for (auto& row : stored) row.back().resize(19);  // SQLite shows the fraction, PostgreSQL not
    EXPECT_EQ(stored, (Rows{{"1", "a", "2001-01-02 03:04:05"},
                            {"2", "bb", "2002-02-03 04:05:06"},
                            {"3", "<null>", "2003-03-04 05:06:07"}}));
    if (std::string(arrays) == "0") {
      // Keys 4 and 5 are new, 1 is taken: two rows done, then the driver's error.
      keys[0] = 4;
      keys[1] = 5;
      keys[2] = 1;
      EXPECT_FALSE(Ok(execute(stmt)));
      EXPECT_EQ(done, 2u);
      EXPECT_EQ(db.Query("SELECT K FROM " + t + " WHERE K > 3 ORDER BY K"), (Rows{{"4"}, {"5"}}));
    }
    db.Drop(stmt);
  }
}

}  // namespace

namespace {

// Catalogue calls find a table by the client's upper-case names on either engine.
TEST_P(XandbCliEngines, CatalogueNamesAreFoldedToTheEnginesCase) {
  Client db(GetParam());
  ASSERT_TRUE(db.Exec("CREATE TABLE " + db.table() + " (KEYCOL INTEGER, VAL INTEGER)"));
  std::string table = db.table();
  auto count = [&](SQLHSTMT stmt) {
    int rows = 0;
    while (Ok(Fn<SQLRETURN(SQLHSTMT)>(SQL_API_SQLFETCH)(stmt))) ++rows;
    db.Drop(stmt);
    return rows;
  };
  using Catalogue = SQLRETURN(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                              SQLSMALLINT, SQLCHAR*, SQLSMALLINT);
  SQLHSTMT stmt = db.Statement();
  ASSERT_TRUE(Ok(Fn<Catalogue>(SQL_API_SQLTABLES)(stmt, nullptr, 0, nullptr, 0,
                                                  Client::Chars(table), SQL_NTS, nullptr, 0)))
      << db.Error(stmt);
  EXPECT_EQ(count(stmt), 1);
  std::string column = "KEYCOL";
  stmt = db.Statement();
  ASSERT_TRUE(Ok(Fn<Catalogue>(SQL_API_SQLCOLUMNS)(
      stmt, nullptr, 0, nullptr, 0, Client::Chars(table), SQL_NTS, Client::Chars(column), 6)))
      << db.Error(stmt);
  EXPECT_EQ(count(stmt), 1);
  ASSERT_TRUE(db.Exec("CREATE INDEX XI" + table + " ON " + table + " (VAL)"));
  stmt = db.Statement();
  ASSERT_TRUE(Ok(Fn<SQLRETURN(SQLHSTMT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*,
                              SQLSMALLINT, SQLUSMALLINT, SQLUSMALLINT)>(SQL_API_SQLSTATISTICS)(
      stmt, nullptr, 0, nullptr, 0, Client::Chars(table), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK)))
      << db.Error(stmt);
  EXPECT_GE(count(stmt), 1);  // the index's column (PostgreSQL adds no table row; SQLite may)
}

}  // namespace
