// Helpers of the ODBC connector tests, all against real data sources (the data sources,
// Direct and the activity environment are odbc_sources.h's, shared with the other ODBC-based
// connectors):
//   - Tests that need PostgreSQL start with SQLCLI_REQUIRE_PG(), which skips them when
//     TW_PG_PORT is unset.
//   - Env: the shared activity environment, named "SqlcliTest".
//   - Link: a Connection initialised as the engine would, with property (link_test_util.h)
//     and connect helpers.
#ifndef TW_TESTS_LINK_SQLCLI_SQLCLI_TEST_UTIL_H_
#define TW_TESTS_LINK_SQLCLI_SQLCLI_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "activity_test_util.h"
#include "connection.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "link_test_util.h"
#include "odbc_sources.h"
#include "odbc_test_config.h"
#include "plat_test_util.h"

namespace sqlcli_test {

using sqlcli::Connection;
using twtest::Text;

using odbc_test::kNull;
using odbc_test::Rows;

// ---------------------------------------------------------------- ODBC configuration ----

using odbc_test::FindDriver;
using odbc_test::OdbcConfig;
using odbc_test::PgAvailable;
using odbc_test::PgPort;

using odbc_test::DataSource;
using odbc_test::Direct;
using odbc_test::kPgPassword;
using odbc_test::kPgPasswordUser;
using odbc_test::LogEntry;
using odbc_test::PgSource;
using odbc_test::SqliteSource;

#define SQLCLI_REQUIRE_PG() \
  if (!::sqlcli_test::PgAvailable()) GTEST_SKIP() << "TW_PG_PORT is not set (scripts/pg.sh)"

// ---------------------------------------------------------------- the engine -----------

// The installation of one test with its activity "SqlcliTest".
class Env : public odbc_test::ActivityEnv {
 public:
  Env() : ActivityEnv("SqlcliTest") {}
  // Copies sqlcli.twx from the build's installation into this installation.
  void InstallConnector() { ActivityEnv::InstallConnector("sqlcli.twx"); }
};

// The activity's last log entry: status, text, and for a text from outside the catalogue the
// text exactly as given (externalText) and its code.
using twtest::LogLast;

// ---------------------------------------------------------------- properties -----------

using link_test::GetInt;
using link_test::GetText;
using link_test::SetInt;
using link_test::SetNull;
using link_test::SetText;

// ---------------------------------------------------------------- connections ----------

// A connection initialised as the engine initialises one (environment flag set; the shared
// environment is counted, so several Links may live at once). Disconnected (if still
// connected) and terminated at the end.
class Link : public link_test::PropertyChain<Link> {
 public:
  Link() {
    OdbcConfig::Get();
    EXPECT_EQ(c.Initialize(1), TWSUCCESS);
  }
  ~Link() {
    // Tear-down only: a test that cares about these statuses checks them itself.
    if (c.dbc != SQL_NULL_HDBC) (void)c.Disconnect();
    (void)c.Terminate(1);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // SERVER, USERID and PASSWORD of source, then Connect; answers its status.
  uint32_t Connect(const DataSource& source) {
    Str(TWTOKEN_SERVER, source.dsn);
    if (!source.user.empty()) Str(TWTOKEN_USERID, source.user);
    if (!source.password.empty()) Str(TWTOKEN_PASSWORD, source.password);
    return c.Connect();
  }

  Connection c;
};

// ---------------------------------------------------------------- field lists ----------

using twtest::List;
using twtest::SetValue;

}  // namespace sqlcli_test

#endif  // TW_TESTS_LINK_SQLCLI_SQLCLI_TEST_UTIL_H_
