// The fixture of the activity tests on real data sources: an activity plug-in launched through
// the engine against the fake control store, with links through sqlcli.twx to SQLite files
// (the SQLite ODBC driver) and to PostgreSQL databases (its ODBC driver; only when TW_PG_PORT
// names a running cluster). Each database is set up and read back by the test with its own
// client (the SQLite library, psql), apart from the connector under test.
#ifndef TW_TESTS_ACTIVITIES_COMMON_SQL_FIXTURE_H_
#define TW_TESTS_ACTIVITIES_COMMON_SQL_FIXTURE_H_

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "activity_runner.h"
#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "odbc_test_config.h"
#include "plat_test_util.h"
#include "platform.h"
#include "process_util.h"
#include "twx.h"

namespace sqltest {

using twtest::FakeValue;

enum class Engine { kSqlite, kPostgres };

inline const char* EngineName(Engine e) {
  return e == Engine::kSqlite ? "sqlite" : "postgres";
}

// One database: statements run and rows read ("a|b" a line, in the order the query gives)
// by the test's own client, and the ODBC data source that links name.
class Database {
 public:
  virtual ~Database() = default;
  virtual void Exec(const std::string& sql) = 0;
  virtual std::string Query(const std::string& sql) = 0;
  virtual Engine engine() const = 0;
  const std::string& dsn() const { return dsn_; }
  // A binary literal of the engine for the bytes given as hexadecimal digits.
  std::string Bytes(const std::string& hex) const {
    return engine() == Engine::kSqlite ? "X'" + hex + "'" : "'\\x" + hex + "'::bytea";
  }
  // The engine's types for the tests' tables.
  std::string BlobType() const { return engine() == Engine::kSqlite ? "BLOB" : "bytea"; }
  std::string StampType() const { return "TIMESTAMP"; }

 protected:
  std::string dsn_;
};

// A SQLite file in its default (rollback-journal) mode: a second connection to it waits for
// the first one's open transaction.
class SqliteDatabase : public Database {
 public:
  SqliteDatabase() {
    path_ = dir_ / "data.db";
    EXPECT_EQ(sqlite3_open(path_.c_str(), &db_), SQLITE_OK);
    sqlite3_busy_timeout(db_, 30000);
    dsn_ = odbc_test::OdbcConfig::Get().UniqueName("lite");
    odbc_test::OdbcConfig::Get().AddSource(dsn_, "SQLITE3", {{"Database", path_}});
  }
  ~SqliteDatabase() override { sqlite3_close(db_); }
  void Exec(const std::string& sql) override {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }
  std::string Query(const std::string& sql) override {
    std::string out;
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        if (i > 0) out += '|';
        const unsigned char* text = sqlite3_column_text(stmt, i);
        if (text != nullptr) out += reinterpret_cast<const char*>(text);
      }
      out += '\n';
    }
    sqlite3_finalize(stmt);
    return out;
  }
  Engine engine() const override { return Engine::kSqlite; }
  const std::string& path() const { return path_; }

 private:
  twtest::TempDir dir_;
  std::string path_;
  sqlite3* db_ = nullptr;
};

// A database of its own in the test's PostgreSQL cluster, dropped at the end.
class PostgresDatabase : public Database {
 public:
  PostgresDatabase() {
    port_ = odbc_test::PgPort().value_or("");
    static int made = 0;
    name_ = "act_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    Psql("postgres", "DROP DATABASE IF EXISTS " + name_);
    Psql("postgres", "CREATE DATABASE " + name_ +
                         " LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0 STRATEGY FILE_COPY");
    dsn_ = odbc_test::OdbcConfig::Get().UniqueName("pg");
    odbc_test::OdbcConfig::Get().AddSource(
        dsn_, "PG",
        {{"Servername", "127.0.0.1"}, {"Port", port_}, {"Database", name_}, {"Username", "tw"}});
  }
  ~PostgresDatabase() override {
    Psql("postgres", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  }
  void Exec(const std::string& sql) override { Psql(name_, sql); }
  std::string Query(const std::string& sql) override { return Psql(name_, sql); }
  Engine engine() const override { return Engine::kPostgres; }

 private:
  std::string Psql(const std::string& db, const std::string& sql) {
    twtest::ProcessResult r =
        twtest::RunProgram({"/usr/bin/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                            "127.0.0.1", "-p", port_, "-U", "tw", "-d", db, "-c", sql},
                           twtest::InheritedEnv(), "/");
    EXPECT_EQ(r.exitCode, 0) << sql << ": " << r.err;
    return r.out;
  }
  std::string port_, name_;
};

// How often part stands in text.
inline size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline std::unique_ptr<Database> MakeDatabase(Engine engine) {
  if (engine == Engine::kSqlite) return std::make_unique<SqliteDatabase>();
  return std::make_unique<PostgresDatabase>();
}

using acttest::List;
using acttest::Number;
using acttest::Property;
using acttest::Text;

// A link through sqlcli to db's data source with the METADATA given; with db null, a link
// through ordex to the document database named ordex (made when missing), METADATA its form.
struct Link {
  Link(const Database* database, std::string table) : db(database), metadata(std::move(table)) {}
  static Link Ordex(std::string file, std::string form) {
    Link link(nullptr, std::move(form));
    link.ordex = std::move(file);
    return link;
  }
  const Database* db;
  std::string metadata;
  std::string ordex;
};

// ordex's own token that makes a missing document database.
constexpr uint32_t kOrdexCreateDatabase = 7;

// The directory of the plug-ins the build made: the installation the build lays out.
inline std::filesystem::path BuiltInstallation() {
  if (const char* dir = std::getenv("TW_INST_DIR")) return dir;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "inst";
}

// A runner of one activity plug-in with the fake control store and the server's run table.
class ActivityFixture : public ::testing::Test {
 protected:
  explicit ActivityFixture(std::string library) : library_(std::move(library)) {}

  void SetUp() override {
    ASSERT_TRUE(store_.serving());
    for (const std::string& plugin :
         {library_ + ".twx", std::string("sqlcli.twx"), std::string("ordex.twx")}) {
      std::error_code ec;
      std::filesystem::copy_file(BuiltInstallation() / plugin, inst_ / plugin, ec);
      ASSERT_FALSE(ec) << plugin << ": " << ec.message();
    }
    // The document databases of ordex links live under the installation.
    std::filesystem::create_directories(inst_ / "ordex");
    plexaRoot_.emplace("PLEXA_ROOT", (inst_ / "ordex").c_str());
    ASSERT_EQ(TWProcShmemCreate(TWMSGTBL_SIZE, TWMSGTBL_NAME, &table_), TWSUCCESS);
    entry_ = static_cast<MsgTblEntry*>(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &table_));
    ASSERT_NE(entry_, nullptr);
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  }
  void TearDown() override {
    EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
    TWProcShmemDestroy(&table_);
  }

  // Adds an activity of the plug-in with its two links and the properties given; answers
  // its document id. The links' own properties come before the activity's, which override
  // them.
  int32_t AddActivity(const std::vector<Property>& properties, const Link& first,
                      const Link& second) {
    const std::string name = library_ + std::to_string(++activities_);
    AddLink(name + "A", first);
    AddLink(name + "B", second);
    const int32_t id = store_.AddDocument(CSMGR_ID_ACTIVITY, name);
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text(library_));
    store_.AddProperty(id, "SrcLink", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text(name + "A"));
    store_.AddProperty(id, "DestLink", TWTOKENF_DEST | TWTOKEN_LINK, FakeValue::Text(name + "B"));
    for (const Property& p : properties) store_.AddProperty(id, p.item, p.token, p.value);
    names_[id] = name;
    return id;
  }
  // Runs the activity once; answers the launch's status.
  uint32_t Run(int32_t id) {
    *entry_ = MsgTblEntry{twtest::OpenSlot(names_[id]), TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
    logFrom_ = store_.Log().size();
    EXPECT_EQ(TWActivityInit(entry_), TWSUCCESS);
    const uint32_t status = TWActivityLaunch();
    EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
    entry_->handle = 0;
    return status;
  }
  // The texts the last run logged under messageId (all ids: 0).
  std::vector<std::string> Logged(uint32_t messageId = 0) {
    std::vector<std::string> lines;
    std::vector<twtest::FakeLogLine> log = store_.Log();
    for (size_t i = logFrom_; i < log.size(); ++i)
      if (messageId == 0 || log[i].messageId == messageId) lines.push_back(log[i].text);
    return lines;
  }
  std::string LogText() {
    std::string all;
    for (const std::string& line : Logged()) all += line + "\n";
    return all;
  }
  std::optional<FakeValue> Item(int32_t id, const std::string& item) {
    return store_.Item(id, item);
  }
  // The documents of form in the ordex database file, as plexadm exports them.
  std::string OrdexExport(const std::string& file, const std::string& form) {
    twtest::ProcessResult r =
        twtest::RunProgram({(BuiltInstallation() / "plexadm").string(), "--root", inst_ / "ordex",
                            "export", file, "--form", form},
                           twtest::InheritedEnv(), inst_.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }

  twtest::Installation inst_;
  twtest::FakeCtlstore store_;

 private:
  void AddLink(const std::string& name, const Link& link) {
    const int32_t id = store_.AddDocument(CSMGR_ID_LINK, name);
    if (link.db == nullptr) {
      store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text("ordex"));
      store_.AddProperty(id, "Database", TWTOKEN_DATABASE, FakeValue::Text(link.ordex));
      store_.AddProperty(id, "CreateDatabase", kOrdexCreateDatabase, FakeValue::Number(1));
      store_.AddProperty(id, "Metadata", TWTOKEN_METADATA, FakeValue::Text(link.metadata));
      return;
    }
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text("sqlcli"));
    store_.AddProperty(id, "Server", TWTOKEN_SERVER, FakeValue::Text(link.db->dsn()));
    if (link.db->engine() == Engine::kPostgres)
      store_.AddProperty(id, "Userid", TWTOKEN_USERID, FakeValue::Text("tw"));
    store_.AddProperty(id, "Metadata", TWTOKEN_METADATA, FakeValue::Text(link.metadata));
  }

  std::string library_;
  TWProcShmem table_{};
  MsgTblEntry* entry_ = nullptr;
  int activities_ = 0;
  size_t logFrom_ = 0;
  std::map<int32_t, std::string> names_;
  std::optional<twtest::ScopedEnv> plexaRoot_;
};

// The name of a test for the engine of its parameter.
inline std::string EngineParam(const ::testing::TestParamInfo<Engine>& param) {
  return EngineName(param.param);
}

// The engines a test runs on: SQLite always, PostgreSQL when a cluster runs.
inline std::vector<Engine> Engines() {
  std::vector<Engine> engines = {Engine::kSqlite};
  if (odbc_test::PgAvailable()) engines.push_back(Engine::kPostgres);
  return engines;
}

}  // namespace sqltest

#endif  // TW_TESTS_ACTIVITIES_COMMON_SQL_FIXTURE_H_
