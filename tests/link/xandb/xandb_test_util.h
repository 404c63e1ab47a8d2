// Helpers of the Xandb connector tests, all against real drivers through the Xandb client
// library (data sources, Direct and the activity environment are odbc_sources.h's):
//   - Env: the shared activity environment, named "XandbTest".
//   - Link: a Connection initialised as the engine would, with property and connect helpers.
//   - Recording: the texts the connector passes to the client, as the client records them.
//   - Source: a fresh data source of either engine (PostgreSQL only when TW_PG_PORT is set).
#ifndef TW_TESTS_LINK_XANDB_XANDB_TEST_UTIL_H_
#define TW_TESTS_LINK_XANDB_XANDB_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"
#include "link_test_util.h"
#include "odbc_sources.h"
#include "plat_test_util.h"

namespace xandb_test {

using odbc_test::DataSource;
using odbc_test::Direct;
using odbc_test::kNull;
using odbc_test::LogEntry;
using odbc_test::PgSource;
using odbc_test::Rows;
using odbc_test::SqliteSource;
using twtest::List;
using twtest::LogLast;
using twtest::ScopedEnv;
using twtest::SetValue;
using twtest::Text;
using xandb::Connection;

class Env : public odbc_test::ActivityEnv {
 public:
  Env() : ActivityEnv("XandbTest") {}
};

enum class Engine { kSqlite, kPostgres };
inline const char* Name(Engine e) {
  return e == Engine::kSqlite ? "sqlite" : "postgres";
}

// A fresh data source of engine; available() is false for PostgreSQL without a cluster.
class Source {
 public:
  explicit Source(Engine engine) : engine_(engine) {
    if (engine == Engine::kSqlite)
      lite_ = std::make_unique<SqliteSource>();
    else if (odbc_test::PgAvailable())
      pg_ = std::make_unique<PgSource>();
  }
  bool available() const { return lite_ != nullptr || (pg_ != nullptr && pg_->available()); }
  const DataSource& source() const { return lite_ ? lite_->source() : pg_->source(); }
  Engine engine() const { return engine_; }

 private:
  Engine engine_;
  std::unique_ptr<SqliteSource> lite_;
  std::unique_ptr<PgSource> pg_;
};

#define XANDB_REQUIRE(source) \
  if (!(source).available()) GTEST_SKIP() << "TW_PG_PORT is not set (scripts/pg.sh)"

// A connection initialised as the engine initialises one.
class Link : public link_test::PropertyChain<Link> {
 public:
  Link() {
    odbc_test::OdbcConfig::Get();
    EXPECT_EQ(c.Initialize(0x01000001, 1), TWSUCCESS);
  }
  ~Link() {
    (void)c.Disconnect(0);
    (void)c.Terminate(1);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // DATABASE (the data source name), USERID and PASSWORD of source, then Connect.
  uint32_t Connect(const DataSource& source) {
    Str(TWTOKEN_DATABASE, source.dsn);
    if (!source.user.empty()) Str(TWTOKEN_USERID, source.user);
    if (!source.password.empty()) Str(TWTOKEN_PASSWORD, source.password);
    return c.Connect();
  }
  uint32_t Table(std::string_view name) { return link_test::SetText(c, TWTOKEN_METADATA, name); }

  Connection c;
};

// The texts passed to the client while it lives (XANDBCLI_RECORD).
class Recording {
 public:
  Recording() : env_("XANDBCLI_RECORD", (dir_ / "texts").c_str()) {}
  // The texts recorded since the last call.
  std::vector<std::string> Take() {
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "texts");
    std::string line;
    size_t n = 0;
    while (std::getline(in, line))
      if (n++ >= seen_) lines.push_back(line);
    seen_ = n;
    return lines;
  }

 private:
  twtest::TempDir dir_;
  ScopedEnv env_;
  size_t seen_ = 0;
};

}  // namespace xandb_test

#endif  // TW_TESTS_LINK_XANDB_XANDB_TEST_UTIL_H_
