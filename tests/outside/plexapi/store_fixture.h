// The two stores a document-database test runs on: files of a directory server (SQLite) and
// a server that the data root's server map holds in PostgreSQL, a database of its own in the
// test command's private cluster (scripts/pg.sh; TW_PG_PORT). The server's name reaches
// child processes through PLEXA_TEST_SERVER.
#ifndef TW_TESTS_OUTSIDE_PLEXAPI_STORE_FIXTURE_H_
#define TW_TESTS_OUTSIDE_PLEXAPI_STORE_FIXTURE_H_

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

namespace storetest {

enum class Engine { kSqlite, kPostgres };

inline std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::kSqlite ? "Sqlite" : "Postgres";
}

// The server the test's databases live on: null (the local server) for files.
inline const char* TestServer() {
  const char* s = std::getenv("PLEXA_TEST_SERVER");
  return s != nullptr && *s != '\0' ? s : nullptr;
}

// The conninfo of a database of the private cluster (empty without one).
inline std::string ClusterConnInfo(const std::string& dbname) {
  const char* port = std::getenv("TW_PG_PORT");
  if (port == nullptr || *port == '\0') return {};
  return "host=127.0.0.1 port=" + std::string(port) + " user=tw dbname=" + dbname;
}

// A session at conninfo, for one statement or for tests that hold a lock in it while the
// store works.
class Session {
 public:
  explicit Session(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {}
  ~Session() { PQfinish(conn_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // Runs one statement; its error text ("" when fine), and into value (when given) the first
  // column of its first row ("" without one).
  std::string Exec(const std::string& sql, std::string* value = nullptr) {
    if (PQstatus(conn_) != CONNECTION_OK) return PQerrorMessage(conn_);
    PGresult* r = PQexec(conn_, sql.c_str());
    ExecStatusType st = PQresultStatus(r);
    std::string error;
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
      error = PQresultErrorMessage(r);
    else if (value != nullptr)
      *value = st == PGRES_TUPLES_OK && PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
    PQclear(r);
    return error;
  }
  // The schema that holds the database file (empty: none).
  std::string Schema(const std::string& file) {
    std::string schema;
    Exec("SELECT schema_name FROM plexa.catalog WHERE file = '" + file + "'", &schema);
    return schema;
  }

 private:
  PGconn* conn_;
};

// Runs one statement at conninfo; its error text ("" when fine), and into value (when given)
// the first column of its first row ("" without one).
inline std::string ExecAt(const std::string& conninfo, const std::string& sql,
                          std::string* value = nullptr) {
  return Session(conninfo).Exec(sql, value);
}

// Runs one statement on the cluster's maintenance database; its error text ("" when fine).
inline std::string ClusterExec(const std::string& sql) {
  return ExecAt(ClusterConnInfo("postgres"), sql);
}

// Sets a test's store up under root and removes it again.
class Store {
 public:
  static constexpr const char* kServer = "cluster";

  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  // A test that stopped early still drops its database.
  ~Store() { TearDown(); }

  void SetUp(Engine engine, const std::string& root) {
    unsetenv("PLEXA_TEST_SERVER");
    if (engine == Engine::kSqlite) return;
    if (ClusterConnInfo("postgres").empty()) {
      skipped_ = "no PostgreSQL cluster (TW_PG_PORT)";
      return;
    }
    static std::atomic<int> counter{0};
    dbname_ = "plexa_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    // Copying the template by files is cheaper than writing it through the WAL, and the test
    // cluster syncs nothing anyway.
    ASSERT_EQ(ClusterExec("CREATE DATABASE " + dbname_ + " STRATEGY FILE_COPY"), "");
    std::string dir = root.back() == '/' ? root : root + "/";
    std::ofstream(dir + "servers.map") << "# the test's server\n"
                                       << kServer << " " << ClusterConnInfo(dbname_) << "\n";
    setenv("PLEXA_TEST_SERVER", kServer, 1);
  }
  void TearDown() {
    unsetenv("PLEXA_TEST_SERVER");
    if (!dbname_.empty()) {
      EXPECT_EQ(ClusterExec("DROP DATABASE " + dbname_ + " WITH (FORCE)"), "");
    }
    dbname_.clear();
  }
  // Runs sql on the database file of the test's server, under the API; the first column of
  // its first row ("" without one). A failure is the test's.
  std::string Query(const std::string& root, const std::string& file, const std::string& sql) {
    std::vector<std::string> column = Column(root, file, sql, false);
    return column.empty() ? std::string() : column.front();
  }
  // The first column of every row, as bytes (as text with text).
  std::vector<std::string> Column(const std::string& root, const std::string& file,
                                  const std::string& sql, bool bytes = true) {
    std::vector<std::string> out;
    if (dbname_.empty()) {
      std::string path = (root.back() == '/' ? root : root + "/") + "local/" + file;
      sqlite3* db = nullptr;
      EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
      sqlite3_busy_timeout(db, 5000);
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
      } else {
        int rc = 0;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
          const void* p = bytes ? sqlite3_column_blob(st, 0) : sqlite3_column_text(st, 0);
          int n = sqlite3_column_bytes(st, 0);
          out.emplace_back(p != nullptr ? static_cast<const char*>(p) : "", static_cast<size_t>(n));
        }
        if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
      }
      sqlite3_finalize(st);
      sqlite3_close_v2(db);
      return out;
    }
    PGconn* c = PQconnectdb(ClusterConnInfo(dbname_).c_str());
    const char* params[] = {file.c_str()};
    PGresult* r = PQexecParams(c, "SELECT schema_name FROM plexa.catalog WHERE file = $1", 1,
                               nullptr, params, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK || PQntuples(r) != 1) {
      ADD_FAILURE() << file << ": " << PQerrorMessage(c);
    } else {
      std::string schema = PQgetvalue(r, 0, 0);
      PQclear(r);
      r = PQexec(c, ("SET search_path = " + schema).c_str());
      PQclear(r);
      r = PQexecParams(c, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, bytes ? 1 : 0);
      ExecStatusType st = PQresultStatus(r);
      if (st == PGRES_TUPLES_OK) {
        for (int i = 0; i < PQntuples(r); ++i)
          out.emplace_back(PQgetvalue(r, i, 0), static_cast<size_t>(PQgetlength(r, i, 0)));
      } else if (st != PGRES_COMMAND_OK) {
        ADD_FAILURE() << sql << ": " << PQresultErrorMessage(r);
      }
    }
    PQclear(r);
    PQfinish(c);
    return out;
  }
  const char* skipped() const { return skipped_; }
  const std::string& dbname() const { return dbname_; }

 private:
  const char* skipped_ = nullptr;
  std::string dbname_;
};

}  // namespace storetest

#endif  // TW_TESTS_OUTSIDE_PLEXAPI_STORE_FIXTURE_H_
