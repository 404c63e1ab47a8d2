// Data sources and helpers shared by the tests of the ODBC-based connectors, all against real
// data sources (see odbc_test_config.h for the process's ODBC configuration):
//   - SqliteSource: a data source of the SQLite ODBC driver on a fresh temporary file.
//   - PgSource: a data source on a fresh PostgreSQL database of its own in the cluster that
//     TW_PG_PORT names (created through ODBC on "postgres", dropped at the end).
//   - Direct: a plain ODBC connection of the test's own for preparing and checking tables.
//   - ActivityEnv: the test's installation with the engine started, the fake control store
//     and a named activity, so that every log entry can be read back.
#ifndef TW_TESTS_LINK_ODBC_SOURCES_H_
#define TW_TESTS_LINK_ODBC_SOURCES_H_

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "odbc_test_config.h"
#include "plat_test_util.h"

namespace odbc_test {

using Rows = std::vector<std::vector<std::string>>;
// The text of a null value in Rows.
inline const std::string kNull = "<null>";

// What a Connection needs to reach a data source.
struct DataSource {
  std::string dsn;
  std::string user;
  std::string password;
  bool postgres = false;
};

// A data source of the SQLite driver on a fresh file (created by the first connect).
class SqliteSource {
 public:
  // extra: further driver attributes (e.g. {"NoTXN", "1"}), or other values of the defaults.
  explicit SqliteSource(const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    OdbcConfig& config = OdbcConfig::Get();
    source_.dsn = config.UniqueName("lite");
    std::vector<std::pair<std::string, std::string>> attributes = {{"Database", file()},
                                                                   {"Timeout", "5000"}};
    for (const auto& attribute : extra) {
      auto same = std::find_if(attributes.begin(), attributes.end(),
                               [&](const auto& a) { return a.first == attribute.first; });
      if (same != attributes.end())
        same->second = attribute.second;
      else
        attributes.push_back(attribute);
    }
    config.AddSource(source_.dsn, "SQLITE3", attributes);
  }
  const DataSource& source() const { return source_; }
  const std::string& dsn() const { return source_.dsn; }
  std::string file() const { return dir_ / "test.db"; }

 private:
  twtest::TempDir dir_;
  DataSource source_;
};

// The role scripts/pg.sh makes that must give its password (every other role is trusted).
inline constexpr const char* kPgPasswordUser = "tw_pw";
inline constexpr const char* kPgPassword = "tw-secret";

// ---------------------------------------------------------------- direct SQL -----------

// The diagnostics of a handle as "STATE text" lines.
inline std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  SQLCHAR state[6];
  SQLINTEGER native = 0;
  SQLCHAR message[1024];
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message,
                                        &length) == SQL_SUCCESS;
       ++i)
    out += std::string(reinterpret_cast<char*>(state)) + " " +
           std::string(reinterpret_cast<char*>(message)) + "\n";
  return out;
}

// A plain ODBC connection of the test's own, autocommit on, beside the connector's: prepares
// tables and checks what the connector wrote. target is a data source name or a full
// connection string (containing '=').
class Direct {
 public:
  explicit Direct(const std::string& target) {
    OdbcConfig::Get();
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = target.find('=') == std::string::npos ? "DSN=" + target + ";" : target;
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS,
                                    out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
    connected_ = SQL_SUCCEEDED(rc);
    EXPECT_TRUE(connected_) << target << ": " << Diagnostics(SQL_HANDLE_DBC, dbc_);
  }
  explicit Direct(const DataSource& source)
      : Direct("DSN=" + source.dsn + ";UID=" + source.user + ";PWD=" + source.password + ";") {}
  ~Direct() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Direct(const Direct&) = delete;
  Direct& operator=(const Direct&) = delete;
  bool connected() const { return connected_; }

  // Runs sql; false with *error (the driver's diagnostics) on failure.
  bool Exec(std::string_view sql, std::string* error = nullptr) { return Run(sql, nullptr, error); }
  // Runs each statement and expects every one to succeed.
  void ExecAll(std::initializer_list<std::string_view> statements) {
    for (std::string_view sql : statements) {
      std::string error;
      EXPECT_TRUE(Exec(sql, &error)) << sql << ": " << error;
    }
  }
  // Every row of sql's result as texts (kNull for a null value).
  Rows Query(std::string_view sql) {
    Rows rows;
    std::string error;
    EXPECT_TRUE(Run(sql, &rows, &error)) << sql << ": " << error;
    return rows;
  }
  // The first value of the first row ("" when none).
  std::string Scalar(std::string_view sql) {
    Rows rows = Query(sql);
    return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
  }

 private:
  bool Run(std::string_view sql, Rows* rows, std::string* error) {
    if (!connected_) {
      if (error != nullptr) *error = "not connected";
      return false;
    }
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::string text(sql);
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    bool ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    if (!ok && error != nullptr) *error = Diagnostics(SQL_HANDLE_STMT, stmt);
    SQLSMALLINT columns = 0;
    if (ok && rows != nullptr && SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)))
      while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        std::vector<std::string> row;
        for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(columns); ++i) {
          std::string value;
          char buffer[4096];
          SQLLEN indicator = 0;
          bool null = false;
          for (;;) {
            SQLRETURN got = SQLGetData(stmt, i, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
            if (got == SQL_NO_DATA || !SQL_SUCCEEDED(got)) break;
            if (indicator == SQL_NULL_DATA) {
              null = true;
              break;
            }
            value += buffer;
            if (got == SQL_SUCCESS) break;
          }
          row.push_back(null ? kNull : value);
        }
        rows->push_back(std::move(row));
      }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// A data source on a fresh database of the cluster at 127.0.0.1:$TW_PG_PORT (user tw, trust),
// dropped at the end. Check available() (or SQLCLI_REQUIRE_PG() first) before using it.
class PgSource {
 public:
  // extra: further driver attributes (e.g. {"UseDeclareFetch", "1"}).
  explicit PgSource(const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    std::optional<std::string> port = PgPort();
    if (!port) return;
    port_ = *port;
    OdbcConfig& config = OdbcConfig::Get();
    source_.dsn = config.UniqueName("pg");
    source_.user = "tw";
    source_.postgres = true;
    database_ = "tw_" + source_.dsn;
    Direct admin(AdminString());
    std::string error;
    created_ = admin.Exec("CREATE DATABASE " + database_ + " STRATEGY FILE_COPY", &error);
    EXPECT_TRUE(created_) << error;
    std::vector<std::pair<std::string, std::string>> attributes = {
        {"Servername", "127.0.0.1"}, {"Port", port_}, {"Database", database_}, {"Username", "tw"}};
    attributes.insert(attributes.end(), extra.begin(), extra.end());
    config.AddSource(source_.dsn, "PG", attributes);
  }
  ~PgSource() {
    if (!created_) return;
    Direct admin(AdminString());
    std::string error;
    // FORCE: a connection a failed test left open must not keep the database.
    EXPECT_TRUE(admin.Exec("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)", &error))
        << error;
  }
  PgSource(const PgSource&) = delete;
  PgSource& operator=(const PgSource&) = delete;
  bool available() const { return created_; }
  const DataSource& source() const { return source_; }
  const std::string& dsn() const { return source_.dsn; }
  const std::string& database() const { return database_; }

 private:
  std::string AdminString() const {
    return "Driver=PG;Servername=127.0.0.1;Port=" + port_ + ";Database=postgres;Username=tw;";
  }
  std::string port_;
  std::string database_;
  DataSource source_;
  bool created_ = false;
};

// ---------------------------------------------------------------- the engine -----------

// One entry of the activity log: its status and text (without "Error: " and without the
// link and function a connector's entry point adds).
struct LogEntry {
  uint32_t status = 0;
  std::string text;
};

// The installation of one test, the fake control store serving it, the engine started and a
// named activity current, whose log entries the store keeps.
class ActivityEnv {
 public:
  explicit ActivityEnv(const char* activity) {
    EXPECT_TRUE(store_.serving());
    OdbcConfig::Get();
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, activity, 0), TWSUCCESS);
  }
  ~ActivityEnv() {
    TWActivityFree();
    TWSystemTerm();
  }
  ActivityEnv(const ActivityEnv&) = delete;
  ActivityEnv& operator=(const ActivityEnv&) = delete;
  std::string operator/(const std::string& name) const { return inst_ / name; }
  twtest::FakeCtlstore& store() { return store_; }

  // Copies the connector module from the build's installation into this installation, for
  // tests that go through the engine.
  void InstallConnector(const char* module) { twtest::InstallBuiltPlugin(inst_, module); }

  // The entries logged since mark (a value of LogSize()).
  std::vector<LogEntry> Log(size_t mark = 0) {
    std::vector<LogEntry> entries;
    std::vector<twtest::FakeLogLine> lines = store_.Log();
    for (size_t i = mark; i < lines.size(); ++i) {
      std::string text = lines[i].text;
      if (text.rfind("Error: ", 0) == 0) text.erase(0, 7);
      size_t where = text.rfind("|  -- ");
      if (where != std::string::npos) text.erase(where);
      entries.push_back({lines[i].messageId, std::move(text)});
    }
    return entries;
  }
  size_t LogSize() { return store_.Log().size(); }

 protected:
  twtest::Installation inst_;
  twtest::FakeCtlstore store_;
};

}  // namespace odbc_test

#endif  // TW_TESTS_LINK_ODBC_SOURCES_H_
