// The ODBC connection against the real drivers (SQLite on a temporary file; PostgreSQL when
// TW_PG_PORT names a cluster): connect and its failures, the type scan, the property rules,
// transactions at disconnect and by action, failed commits, driver errors and the missing
// table, the shared environment, and the plug-in driven through the engine.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "connect_test_util.h"
#include "sqlcli_test_util.h"

namespace sqlcli_test {
namespace {

using sqlcli::SqlClass;

// ---------------------------------------------------------------- both drivers ---------

enum class Driver { kSqlite, kPostgres };

std::string DriverName(const ::testing::TestParamInfo<Driver>& info) {
  return info.param == Driver::kSqlite ? "Sqlite" : "Postgres";
}

// A fresh data source of the driver under test, the engine, and a plain connection to it.
class SqlcliDriver : public ::testing::TestWithParam<Driver> {
 protected:
  void SetUp() override {
    if (GetParam() == Driver::kPostgres) {
      SQLCLI_REQUIRE_PG();
      pg_ = std::make_unique<PgSource>();
      ASSERT_TRUE(pg_->available());
    } else {
      // Foreign keys on: a deferred one is how a commit is made to fail.
      lite_ = std::make_unique<SqliteSource>(
          std::vector<std::pair<std::string, std::string>>{{"FKSupport", "1"}});
    }
    direct_ = std::make_unique<Direct>(source());
    ASSERT_TRUE(direct_->connected());
  }
  const DataSource& source() const { return pg_ ? pg_->source() : lite_->source(); }
  bool postgres() const { return GetParam() == Driver::kPostgres; }
  Direct& direct() { return *direct_; }

  // Runs sql on the connection's write statement, freshly allocated.
  uint32_t Run(Connection& c, const std::string& sql) {
    EXPECT_TRUE(SQL_SUCCEEDED(c.OdbcAllocStatement(c.writeSlot)));
    return c.OdbcExecDirect(c.writeSlot.stmt, sql, nullptr);
  }
  std::string Count(const std::string& table) {
    return direct().Scalar("SELECT COUNT(*) FROM " + table);
  }

  Env env_;
  std::unique_ptr<SqliteSource> lite_;
  std::unique_ptr<PgSource> pg_;
  std::unique_ptr<Direct> direct_;
};

INSTANTIATE_TEST_SUITE_P(Drivers, SqlcliDriver,
                         ::testing::Values(Driver::kSqlite, Driver::kPostgres), DriverName);

TEST_P(SqlcliDriver, ConnectsAndDisconnectsAgain) {
  Link link;
  Connection& c = link.c;
  EXPECT_EQ(c.Disconnect(), TWSUCCESS);  // not connected: nothing to do
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(link.Connect(source()), TWSUCCESS) << round;
    EXPECT_NE(c.dbc, nullptr);
    EXPECT_NE(c.mainSlot.stmt, nullptr);
    EXPECT_NE(c.writeSlot.stmt, nullptr);
    // Both drivers take NOT NULL and neither offers positioned statements.
    EXPECT_TRUE(c.nonNullable);
    EXPECT_FALSE(c.positioned);
    EXPECT_EQ(c.Disconnect(), TWSUCCESS);
    EXPECT_EQ(c.dbc, nullptr);
    EXPECT_EQ(c.mainSlot.stmt, nullptr);
    EXPECT_EQ(c.writeSlot.stmt, nullptr);
    EXPECT_TRUE(c.types[sqlcli::kInteger].name.empty());
  }
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

// What each driver's type catalogue gives per class: the type's name and the class it was
// found for (its own, or the alternative it was borrowed from; kUnknown: none at all).
TEST_P(SqlcliDriver, TheTypeScanFindsOrBorrowsATypeForEachClass) {
  struct Expected {
    SqlClass cls;
    const char* liteName;
    SqlClass liteFrom;
    const char* pgName;
    SqlClass pgFrom;
  };
  using namespace sqlcli;
  const Expected table[] = {
      {kChar, "char", kChar, "char", kChar},
      {kVarchar, "varchar", kVarchar, "varchar", kVarchar},
      {kLongVarchar, "longvarchar", kLongVarchar, "text", kLongVarchar},
      // The SQLite driver has no exact numbers, nor anything to borrow for them.
      {kDecimal, "", kUnknown, "numeric", kDecimal},
      {kNumeric, "", kUnknown, "numeric", kNumeric},
      {kSmallint, "smallint", kSmallint, "int2", kSmallint},
      {kInteger, "integer", kInteger, "int4", kInteger},
      {kReal, "float", kFloat, "float4", kReal},
      {kFloat, "float", kFloat, "float8", kFloat},
      {kDouble, "double", kDouble, "float8", kDouble},
      {kBit, "bit", kBit, "bool", kBit},
      {kTinyint, "tinyint", kTinyint, "int2", kTinyint},
      {kBigint, "bigint", kBigint, "int8", kBigint},
      {kBinary, "varbinary", kVarbinary, "bytea", kVarbinary},
      {kVarbinary, "varbinary", kVarbinary, "bytea", kVarbinary},
      {kLongVarbinary, "longvarbinary", kLongVarbinary, "bytea", kLongVarbinary},
      {kDate, "date", kDate, "date", kDate},
      {kTime, "time", kTime, "time", kTime},
      {kTimestamp, "timestamp", kTimestamp, "timestamptz", kTimestamp},
  };
  Link link;
  ASSERT_EQ(link.Connect(source()), TWSUCCESS);
  const TypeTable& types = link.c.types;
  for (const Expected& e : table) {
    const TypeRow& row = types[e.cls];
    const std::string name = postgres() ? e.pgName : e.liteName;
    const SqlClass from = postgres() ? e.pgFrom : e.liteFrom;
    SCOPED_TRACE(e.cls);
    EXPECT_EQ(row.name, name);
    EXPECT_EQ(row.cls, from);
    EXPECT_EQ(row.found, from == e.cls);
    if (from != e.cls && from != kUnknown) {
      // A borrowed row is the alternative's row, except that it was not found itself.
      const TypeRow& source = types[from];
      EXPECT_EQ(row.precision, source.precision);
      EXPECT_EQ(row.minScale, source.minScale);
      EXPECT_EQ(row.nullable, source.nullable);
      EXPECT_EQ(row.createParams, source.createParams);
    }
  }
  EXPECT_TRUE(types[kVarchar].createParams);
  EXPECT_TRUE(types[kInteger].nullable);
  EXPECT_FALSE(link.c.moneyFound);
}

// Seen in what another connection finds of a row inserted after each switch. The SQLite
// driver stays in autocommit whatever the frequency: the connector's own transaction stands in
// for its autocommit off.
TEST_P(SqlcliDriver, CommitFrequencyWhileConnectedSwitchesAutocommit) {
  direct().ExecAll({"CREATE TABLE switched (id INTEGER)"});
  Link link;
  link.Num(sqlcli::kCommitFrequency, 0);
  ASSERT_EQ(link.Connect(source()), TWSUCCESS);
  auto autocommit = [&] {
    SQLULEN value = 99;
    EXPECT_TRUE(SQL_SUCCEEDED(SQLGetConnectOption(link.c.dbc, SQL_AUTOCOMMIT, &value)));
    return value;
  };
  auto driverAutocommit = [&](SQLULEN connector) {
    return GetParam() == Driver::kSqlite ? SQL_AUTOCOMMIT_ON : connector;
  };
  EXPECT_EQ(autocommit(), driverAutocommit(SQL_AUTOCOMMIT_OFF));
  const struct {
    std::optional<int32_t> value;  // nullopt: a null value
    SQLULEN autocommit;
    int32_t frequency;
  } steps[] = {
      {1, SQL_AUTOCOMMIT_ON, 1},    {std::nullopt, SQL_AUTOCOMMIT_ON, 1},  // a null changes nothing
      {3, SQL_AUTOCOMMIT_OFF, 3},   {1, SQL_AUTOCOMMIT_ON, 1},
      {-2, SQL_AUTOCOMMIT_OFF, -2},
  };
  int committed = 0, open = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.value.value_or(-99));
    const uint32_t status = step.value ? SetInt(link.c, sqlcli::kCommitFrequency, *step.value)
                                       : SetNull(link.c, sqlcli::kCommitFrequency, TWTYPE_INT);
    EXPECT_EQ(status, TWSUCCESS);
    EXPECT_EQ(autocommit(), driverAutocommit(step.autocommit));
    EXPECT_EQ(link.c.props.commitFrequency, step.frequency);
    // Turning autocommit on commits what was open.
    if (step.autocommit == SQL_AUTOCOMMIT_ON) committed += std::exchange(open, 0);
    ASSERT_EQ(Run(link.c, "INSERT INTO switched VALUES (1)"), TWSUCCESS);
    ++(step.autocommit == SQL_AUTOCOMMIT_ON ? committed : open);
    EXPECT_EQ(Count("switched"), std::to_string(committed));
  }
  EXPECT_EQ(link.c.Disconnect(), TWSUCCESS);
  EXPECT_EQ(Count("switched"), std::to_string(committed + open));
}

// The last transaction at disconnect: committed, rolled back when the work failed and
// RollbackOnError is set, and left to the driver with autocommit (CommitFrequency 1).
TEST_P(SqlcliDriver, DisconnectCommitsOrRollsBack) {
  const struct {
    int32_t frequency;
    int32_t rollback;
    uint32_t errorFlag;
    const char* rows;
  } cases[] = {
      {0, 0, 0, "1"}, {3, 0, 0, "1"}, {0, 0, 1, "1"},  // no RollbackOnError: kept
      {0, 1, 0, "1"}, {5, 1, 0, "1"},                  // the work succeeded: kept
      {0, 1, 1, "0"}, {5, 1, 1, "0"},                  // the work failed: undone
      {1, 1, 1, "1"},                                  // autocommit: nothing left to undo
  };
  int n = 0;
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "frequency " << k.frequency << " rollback " << k.rollback
                                    << " error " << k.errorFlag);
    const std::string table = "kept" + std::to_string(++n);
    direct().ExecAll({"CREATE TABLE " + table + " (id INTEGER)"});
    Link link;
    link.Num(sqlcli::kCommitFrequency, k.frequency).Num(sqlcli::kRollbackOnError, k.rollback);
    ASSERT_EQ(link.Connect(source()), TWSUCCESS);
    ASSERT_EQ(Run(link.c, "INSERT INTO " + table + " VALUES (1)"), TWSUCCESS);
    EXPECT_EQ(link.c.Disconnect(k.errorFlag), TWSUCCESS);
    EXPECT_EQ(Count(table), k.rows);
  }
}

// A commit the data source refuses (a deferred foreign key, checked only at commit) is
// logged and answered, whether at disconnect, by the commit action or by the commit counter;
// nothing of the refused work stays.
TEST_P(SqlcliDriver, AFailedCommitIsLoggedAndAnswered) {
  direct().ExecAll({"CREATE TABLE parent (id INTEGER PRIMARY KEY)",
                    "CREATE TABLE child (pid INTEGER REFERENCES parent (id) "
                    "DEFERRABLE INITIALLY DEFERRED)"});
  const std::string refused = postgres() ? "violates foreign key constraint" : "FOREIGN KEY";
  enum class How { kDisconnect, kAction, kCounter };
  for (How how : {How::kDisconnect, How::kAction, How::kCounter}) {
    SCOPED_TRACE(static_cast<int>(how));
    TWActivityClearStatus();
    Link link;
    link.Num(sqlcli::kCommitFrequency, how == How::kCounter ? 2 : 0);
    ASSERT_EQ(link.Connect(source()), TWSUCCESS);
    Connection& c = link.c;
    ASSERT_EQ(Run(c, "INSERT INTO child VALUES (5)"), TWSUCCESS);
    const size_t mark = env_.LogSize();
    uint32_t status = TWSUCCESS;
    switch (how) {
      case How::kDisconnect:
        status = c.Disconnect();
        EXPECT_EQ(c.dbc, nullptr);
        break;
      case How::kAction:
        status = c.Action(TWACTION_COMMIT);
        EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWSUCCESS);
        break;
      case How::kCounter:
        EXPECT_EQ(c.CountStatement(), TWSUCCESS);  // one of two: no commit yet
        status = c.CountStatement();
        EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWSUCCESS);
        break;
    }
    EXPECT_EQ(status, TWFAIL_EXTERNAL);
    EXPECT_EQ(TWActivityGetStatus(), TWFAIL_EXTERNAL);
    const std::vector<LogEntry> log = env_.Log(mark);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].status, TWFAIL_EXTERNAL);
    EXPECT_NE(log[0].text.find(refused), std::string::npos) << log[0].text;
    EXPECT_EQ(link.c.Disconnect(), TWSUCCESS);
    EXPECT_EQ(Count("child"), "0");
  }
}

TEST_P(SqlcliDriver, Actions) {
  direct().ExecAll({"CREATE TABLE reset_kept (id INTEGER)"});
  Link link;
  Connection& c = link.c;
  // Without a connection there is nothing to end.
  EXPECT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWSUCCESS);
  EXPECT_EQ(c.Action(TWACTION_RESET), TWSUCCESS);
  for (uint32_t code : {0u, 5u, 0xFFFFFFFFu}) EXPECT_EQ(c.Action(code), TWFAIL_UNAVAILABLE);

  link.Num(sqlcli::kCommitFrequency, 0);
  ASSERT_EQ(link.Connect(source()), TWSUCCESS);
  ASSERT_EQ(Run(c, "INSERT INTO reset_kept VALUES (1)"), TWSUCCESS);
  EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWSUCCESS);
  ASSERT_EQ(Run(c, "INSERT INTO reset_kept VALUES (2)"), TWSUCCESS);
  // A reset commits, and forgets every result and what the write statements were built for.
  c.state = sqlcli::ResultState::kSelect;
  c.firstFetch = false;
  c.cataloguePosition = 4;
  for (sqlcli::Operation* op : {&c.mainOp, &c.insertOp, &c.updateOp, &c.removeOp}) {
    op->sequence = 7;
    op->generation = 3;
    op->metadata = "reset_kept";
  }
  EXPECT_EQ(c.Action(TWACTION_RESET), TWSUCCESS);
  EXPECT_EQ(direct().Query("SELECT id FROM reset_kept"), Rows{{"2"}});
  EXPECT_EQ(c.state, sqlcli::ResultState::kNone);
  EXPECT_TRUE(c.firstFetch);
  EXPECT_EQ(c.cataloguePosition, 0u);
  for (sqlcli::Operation* op : {&c.mainOp, &c.insertOp, &c.updateOp, &c.removeOp})
    EXPECT_EQ(op->sequence, 0u);
  for (sqlcli::Operation* op : {&c.insertOp, &c.updateOp, &c.removeOp}) {
    EXPECT_EQ(op->generation, 0u);
    EXPECT_TRUE(op->metadata.empty());
  }
  EXPECT_NE(c.mainSlot.stmt, nullptr);
  EXPECT_NE(c.writeSlot.stmt, nullptr);
  ASSERT_EQ(Run(c, "INSERT INTO reset_kept VALUES (3)"), TWSUCCESS);
  EXPECT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(Count("reset_kept"), "2");
}

// A table that does not exist is told apart (so that it can be created), without a log
// entry; any other statement failure logs the driver's text.
TEST_P(SqlcliDriver, DriverErrorsAndTheMissingTable) {
  Link link;
  ASSERT_EQ(link.Connect(source()), TWSUCCESS);
  Connection& c = link.c;
  const struct {
    const char* sql;
    uint32_t status;
    const char* text;  // part of the logged text; null: nothing logged
  } cases[] = {
      {"INSERT INTO no_such_table VALUES (1)", TWFAIL_INVALID_METADATA, nullptr},
      {"SELECT * FROM no_such_table", TWFAIL_INVALID_METADATA, nullptr},
      {"INSERTT INTO x VALUES (1)", TWFAIL_EXTERNAL, "INSERTT"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.sql);
    const size_t mark = env_.LogSize();
    ASSERT_EQ(Run(c, k.sql), TWFAIL_UNAVAILABLE);
    EXPECT_EQ(c.OdbcLogError(c.dbc, c.writeSlot.stmt), k.status);
    const std::vector<LogEntry> log = env_.Log(mark);
    if (k.text == nullptr) {
      EXPECT_TRUE(log.empty());
      continue;
    }
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, TWFAIL_EXTERNAL);
    EXPECT_NE(log[0].text.find(k.text), std::string::npos) << log[0].text;
    const std::string external = LogLast().externalText;
    ASSERT_FALSE(external.empty());
    EXPECT_NE(external.back(), '\n');
    // PostgreSQL rolls its transaction back after an error; later statements go on.
    if (postgres()) {
      EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWSUCCESS);
    }
  }
  // A failure that left no diagnostics is still logged.
  const size_t mark = env_.LogSize();
  EXPECT_EQ(c.OdbcLogError(c.dbc, nullptr), TWFAIL_EXTERNAL);
  const std::vector<LogEntry> log = env_.Log(mark);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text, "The ODBC driver has not supplied an error message.");
}

// ---------------------------------------------------------------- failed connects ------

// A data source, user or password the driver refuses: its text in the log without the line
// end it came with, 12325, nothing left of the attempt; the same connection then connects.
TEST(SqlcliConnectFailure, TheDriverTextIsLoggedAndNothingIsLeft) {
  Env env;
  SqliteSource lite;
  std::unique_ptr<PgSource> pg;
  if (PgAvailable()) pg = std::make_unique<PgSource>();
  std::string missingDatabase;
  if (pg) {
    missingDatabase = OdbcConfig::Get().UniqueName("pgmissing");
    OdbcConfig::Get().AddSource(missingDatabase, "PG",
                                {{"Servername", "127.0.0.1"},
                                 {"Port", *PgPort()},
                                 {"Database", "no_such_database"},
                                 {"Username", "tw"}});
  }
  const struct {
    bool postgres;
    DataSource wrong;
    const char* text;
    DataSource right;
  } cases[] = {
      {false, {"no_such_source"}, "Data source name not found", lite.source()},
      {true,
       {pg ? pg->dsn() : "", "nobody"},
       "role \"nobody\" does not exist",
       pg ? pg->source() : DataSource{}},
      {true,
       {missingDatabase, "tw"},
       "database \"no_such_database\" does not exist",
       pg ? pg->source() : DataSource{}},
      {true,
       {pg ? pg->dsn() : "", kPgPasswordUser, "wrong"},
       "password authentication failed",
       {pg ? pg->dsn() : "", kPgPasswordUser, kPgPassword}},
  };
  for (const auto& k : cases) {
    if (k.postgres && !pg) continue;
    SCOPED_TRACE(k.text);
    TWActivityClearStatus();
    Link link;
    Connection& c = link.c;
    const size_t mark = env.LogSize();
    EXPECT_EQ(link.Connect(k.wrong), TWFAIL_EXTERNAL);
    EXPECT_EQ(TWActivityGetStatus(), TWFAIL_EXTERNAL);
    const std::vector<LogEntry> log = env.Log(mark);
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log[0].text.find(k.text), std::string::npos) << log[0].text;
    // PostgreSQL's texts end in a line feed, which the log does not take.
    const std::string external = LogLast().externalText;
    ASSERT_FALSE(external.empty());
    EXPECT_NE(external.back(), '\n');
    EXPECT_NE(external.back(), '\r');
    EXPECT_EQ(c.dbc, nullptr);
    EXPECT_EQ(c.mainSlot.stmt, nullptr);
    EXPECT_EQ(c.writeSlot.stmt, nullptr);
    EXPECT_TRUE(c.types[sqlcli::kVarchar].name.empty());
    // The retry works on what the failure left; with ASan, a freed handle used again shows.
    if (!k.right.password.empty()) link.Str(TWTOKEN_PASSWORD, k.right.password);
    ASSERT_EQ(link.Connect(k.right), TWSUCCESS);
    EXPECT_FALSE(c.types[sqlcli::kVarchar].name.empty());
  }
}

// ---------------------------------------------------------------- properties -----------

// A text-list field holding entries.
struct TextListField {
  explicit TextListField(const std::vector<std::string>& entries) {
    EXPECT_EQ(TWFieldAlloc(flowcore::Out(field), TWTYPE_BINARY, 1), TWSUCCESS);
    EXPECT_EQ(TWFieldSetFormatStream(field.get(), 0, 0, TWSTREAMFMT_TEXT_LIST), TWSUCCESS);
    std::string bytes;
    auto u16 = [&](size_t v) {
      bytes.push_back(static_cast<char>(v & 0xFF));
      bytes.push_back(static_cast<char>(v >> 8));
    };
    u16(entries.size());
    for (const std::string& e : entries) u16(e.size());
    for (const std::string& e : entries) bytes += e;
    flowcore::StreamData list;
    EXPECT_EQ(list.Set(TWSTREAMFMT_TEXT_LIST, bytes), TWSUCCESS);
    EXPECT_EQ(TWFieldSetStream(field.get(), 1, list.get()), TWSUCCESS);
  }
  std::vector<std::string> Entries() const {
    flowcore::StreamData list;
    EXPECT_EQ(TWFieldGetStream(field.get(), 1, TWSTREAMFMT_TEXT_LIST, list.get(), nullptr),
              TWSUCCESS);
    std::vector<std::string> out;
    for (uint32_t i = 1; i <= TWTextListGetCount(list.get()); ++i) {
      Text entry;
      EXPECT_EQ(TWTextListFetch(list.get(), i, TWSTREAMFMT_NATIVE, entry.get(), nullptr, nullptr),
                TWSUCCESS);
      out.push_back(entry.str());
    }
    return out;
  }
  flowcore::FieldPtr field;
};

TEST(SqlcliProperties, TheDefinitionRows) {
  const struct {
    uint32_t token;
    uint32_t type;
    const char* name;
  } expected[] = {
      {TWTOKEN_SERVER, TWTYPE_TEXT, nullptr},
      {TWTOKEN_USERID, TWTYPE_TEXT, nullptr},
      {TWTOKEN_PASSWORD, TWTYPE_TEXT, nullptr},
      {TWTOKEN_METADATA, TWTYPE_TEXT, nullptr},
      {TWTOKEN_MAP_NAME, TWTYPE_INT, nullptr},
      {TWTOKEN_WRITEBACK, TWTYPE_INT, nullptr},
      {TWTOKEN_FIELD_LIST, TWTYPE_BINARY, nullptr},
      {TWTOKEN_ORDER_LIST, TWTYPE_BINARY, nullptr},
      {TWTOKEN_CONDITION, TWTYPE_TEXT, nullptr},
      {TWTOKEN_STAMPFIELD, TWTYPE_TEXT, nullptr},
      {TWTOKEN_BASESTAMP, TWTYPE_DATETIME, nullptr},
      {TWTOKEN_MAXSTAMP, TWTYPE_DATETIME, nullptr},
      {TWTOKEN_TEXT_FORMAT, TWTYPE_INT, nullptr},
      {1, TWTYPE_INT, "CommitFrequency"},
      {2, TWTYPE_INT, "RollbackOnError"},
      {3, TWTYPE_INT, "DisableCursor"},
      {4, TWTYPE_TEXT, "QuoteColumn"},
  };
  const TWXPropertyDef* rows = sqlcli::PropertyDefinitions();
  size_t i = 0;
  for (const auto& e : expected) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].token, e.token);
    EXPECT_EQ(rows[i].type, e.type);
    EXPECT_EQ(rows[i].reserved, 0u);
    if (e.name == nullptr) {
      EXPECT_EQ(rows[i].name, nullptr);
      EXPECT_EQ(rows[i].nameLength, 0u);
    } else {
      ASSERT_NE(rows[i].name, nullptr);
      EXPECT_STREQ(rows[i].name, e.name);
      EXPECT_EQ(rows[i].nameLength, std::string(e.name).size());
    }
    ++i;
  }
  EXPECT_EQ(rows[i].token, 0u);
  EXPECT_EQ(rows[i].type, 0u);
}

TEST(SqlcliProperties, TextsAndListsRoundTrip) {
  Env env;
  Link link;
  Connection& c = link.c;
  EXPECT_EQ(c.props.metadataGeneration, 1u);
  const std::vector<uint32_t> texts = {TWTOKEN_SERVER,      TWTOKEN_DATABASE,  TWTOKEN_USERID,
                                       TWTOKEN_METADATA,    TWTOKEN_CONDITION, TWTOKEN_STAMPFIELD,
                                       sqlcli::kQuoteColumn};
  for (uint32_t token : texts) {
    SCOPED_TRACE(token);
    const std::string value = "value of " + std::to_string(token);
    EXPECT_EQ(SetText(c, token, value), TWSUCCESS);
    EXPECT_EQ(GetText(c, token), value);
    // A null value empties a text, but QuoteColumn keeps its text.
    EXPECT_EQ(SetNull(c, token, TWTYPE_TEXT), TWSUCCESS);
    EXPECT_EQ(GetText(c, token), token == sqlcli::kQuoteColumn ? value : "");
  }
  EXPECT_EQ(SetText(c, sqlcli::kQuoteColumn, "\""), TWSUCCESS);
  EXPECT_EQ(c.props.quoteColumn, "\"");
  // A list keeps every entry, not only its first.
  for (uint32_t token : {TWTOKEN_FIELD_LIST, TWTOKEN_ORDER_LIST}) {
    TextListField in({"NAME", "CITY", "ZIP"});
    EXPECT_EQ(c.SetProperty(token, in.field.get()), TWSUCCESS);
    TextListField out({});
    EXPECT_EQ(c.GetProperty(token, out.field.get()), TWSUCCESS);
    EXPECT_EQ(out.Entries(), (std::vector<std::string>{"NAME", "CITY", "ZIP"})) << token;
  }
  // Every set of METADATA makes what was built for the old table stale.
  const uint32_t generation = c.props.metadataGeneration;
  EXPECT_EQ(SetText(c, TWTOKEN_METADATA, "A"), TWSUCCESS);
  EXPECT_EQ(SetNull(c, TWTOKEN_METADATA, TWTYPE_TEXT), TWSUCCESS);
  EXPECT_EQ(c.props.metadataGeneration, generation + 2);
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

// Integers and flags: (value set or null) in turn, then the value read back.
TEST(SqlcliProperties, IntegersAndFlags) {
  Env env;
  const struct {
    uint32_t token;
    std::vector<std::optional<int32_t>> sets;
    int32_t expected;
  } cases[] = {
      {sqlcli::kCommitFrequency, {5}, 5},
      {sqlcli::kCommitFrequency, {5, std::nullopt}, 5},  // a null leaves it unchanged
      {sqlcli::kCommitFrequency, {5, -3}, -3},
      {sqlcli::kRollbackOnError, {7}, 1},
      {sqlcli::kRollbackOnError, {7, std::nullopt}, 1},
      {sqlcli::kRollbackOnError, {7, 0}, 0},
      {sqlcli::kDisableCursor, {-1}, 1},
      {TWTOKEN_MAP_NAME, {2}, 1},
      {TWTOKEN_WRITEBACK, {1, std::nullopt}, 1},
      {TWTOKEN_WRITEBACK, {1, 0}, 0},
  };
  for (const auto& k : cases) {
    Link link;
    for (const std::optional<int32_t>& v : k.sets)
      EXPECT_EQ(v ? SetInt(link.c, k.token, *v) : SetNull(link.c, k.token, TWTYPE_INT), TWSUCCESS);
    EXPECT_EQ(GetInt(link.c, k.token), k.expected) << k.token;
  }
}

TEST(SqlcliProperties, UnknownTokensAndReadFailures) {
  Env env;
  Link link;
  Connection& c = link.c;
  // Unknown for the access asked: logged and answered with 12555.
  const struct {
    uint32_t token;
    bool get;
  } unknown[] = {
      {TWTOKEN_PASSWORD, true},
      {TWTOKEN_INDEX, true},
      {TWTOKEN_INDEX, false},
      {TWTOKEN_TEXT_FORMAT, false},
      {5, true},
      {5, false},
      {0x10010, true},
  };
  for (const auto& k : unknown) {
    SCOPED_TRACE(testing::Message() << k.token << (k.get ? " get" : " set"));
    const size_t mark = env.LogSize();
    uint32_t status = 0;
    if (k.get)
      GetText(c, k.token, &status);
    else
      status = SetText(c, k.token, "x");
    EXPECT_EQ(status, TWFAIL_INVALID_PROPERTY);
    const std::vector<LogEntry> log = env.Log(mark);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, TWFAIL_INVALID_PROPERTY);
  }
  EXPECT_EQ(SetText(c, TWTOKEN_PASSWORD, "secret"), TWSUCCESS);
  EXPECT_EQ(sqlcli::NativeText(c.props.password), "secret");
  EXPECT_EQ(GetInt(c, TWTOKEN_TEXT_FORMAT), 0xFFFF);

  // The status of a failing field read is answered; an integer keeps its value.
  EXPECT_EQ(SetInt(c, sqlcli::kCommitFrequency, 4), TWSUCCESS);
  TWFIELD text = TWNULLHANDLE;
  ASSERT_EQ(TWFieldAlloc(&text, TWTYPE_TEXT, 1), TWSUCCESS);
  SetValue(text, 1, "many");
  int32_t ignored = 0;
  const uint32_t readStatus = TWFieldGetInt(text, 1, &ignored, nullptr);
  ASSERT_NE(readStatus, TWSUCCESS);
  EXPECT_EQ(c.SetProperty(sqlcli::kCommitFrequency, text), readStatus);
  EXPECT_EQ(c.SetProperty(sqlcli::kRollbackOnError, text), readStatus);
  EXPECT_EQ(c.props.commitFrequency, 4);
  TWFieldFree(text);

  // On get, the engine's conversion failure is answered as a type mismatch.
  TWFIELD number = TWNULLHANDLE;
  ASSERT_EQ(TWFieldAlloc(&number, TWTYPE_INT, 1), TWSUCCESS);
  TWDatetime stamp{};
  TWDatetimeClear(&stamp);
  ASSERT_EQ(TWFieldSetDatetime(number, 1, &stamp), TWFAIL_INVALID_CONVERT);
  EXPECT_EQ(c.GetProperty(TWTOKEN_BASESTAMP, number), TWFAIL_TYPE_MISMATCH);
  TWFieldFree(number);
}

// ---------------------------------------------------------------- diagnostics ----------

TEST(SqlcliDiagnostics, TheMissingTableByStateAndText) {
  const struct {
    const char* state;
    const char* text;
    bool missing;
  } cases[] = {
      {"S0002", "", true},
      {"42S02", "Base table or view not found", true},
      {"42P01", "ERROR: relation \"t\" does not exist", true},
      {"S1000", "[SQLite]no such table: t (1)", true},
      {"HY000", "No Such Table: t", true},
      {"S1000", "[SQLite]near \"x\": syntax error (1)", false},
      {"HY000", "", false},
      {"42601", "no such table", false},  // the text counts only for a general error
      {"08001", "connection refused", false},
  };
  for (const auto& k : cases)
    EXPECT_EQ(sqlcli::IsMissingTable(k.state, k.text), k.missing) << k.state << " " << k.text;
}

TEST(SqlcliDiagnostics, TheLoggedTextOfADriverMessage) {
  const struct {
    std::string message;
    std::string logged;
  } cases[] = {
      {"failed\r\n", "failed"},
      {"failed\n\n", "failed"},
      {"failed\n\r", "failed"},
      {"two\nlines", "two\nlines"},
      {"\n", "\n"},  // the first character always stays
      {"\r\n", "\r"},
      {"", "The ODBC driver has not supplied an error message."},
  };
  for (const auto& k : cases) EXPECT_EQ(sqlcli::DriverMessageText(k.message), k.logged);
}

// ---------------------------------------------------------------- environment ----------

// The environment is counted: the first flag and the last flag of the engine do not free it
// under a connection still using it, and the last terminate frees it.
TEST(SqlcliEnvironment, SharedAndCountedWhateverTheFlagsSay) {
  Env env;
  SqliteSource lite;
  ASSERT_EQ(sqlcli::Environment(), nullptr);
  {
    Connection first, second;
    EXPECT_EQ(first.Initialize(0), TWSUCCESS);  // not flagged first, yet it is
    const SQLHENV shared = sqlcli::Environment();
    EXPECT_NE(shared, nullptr);
    EXPECT_EQ(second.Initialize(1), TWSUCCESS);  // flagged first, yet it is not
    EXPECT_EQ(sqlcli::Environment(), shared);
    EXPECT_EQ(first.Terminate(1), TWSUCCESS);  // flagged last, yet it is not
    EXPECT_EQ(sqlcli::Environment(), shared);
    EXPECT_EQ(SetText(second, TWTOKEN_SERVER, lite.dsn()), TWSUCCESS);
    EXPECT_EQ(second.Connect(), TWSUCCESS);
    EXPECT_EQ(second.Disconnect(), TWSUCCESS);
    EXPECT_EQ(second.Terminate(0), TWSUCCESS);  // not flagged last, yet it is
    EXPECT_EQ(sqlcli::Environment(), nullptr);
  }
  {
    // A connection given up while connected: its destructor rolls back and frees all.
    auto c = std::make_unique<Connection>();
    EXPECT_EQ(c->Initialize(1), TWSUCCESS);
    EXPECT_EQ(SetText(*c, TWTOKEN_SERVER, lite.dsn()), TWSUCCESS);
    EXPECT_EQ(c->Connect(), TWSUCCESS);
    c.reset();
    EXPECT_EQ(sqlcli::Environment(), nullptr);
  }
}

// ---------------------------------------------------------------- the plug-in ----------

TEST(SqlcliPlugin, IdentityAndAConnectionThroughTheEngine) {
  Env env;
  env.InstallConnector();
  SqliteSource lite;
  void* module = TWLibraryLoad("sqlcli", TWLIB_PLUGIN);
  ASSERT_NE(module, nullptr);
  auto identify = reinterpret_cast<uint32_t (*)(TWXIdentity*)>(
      TWLibraryLoadProc(module, nullptr, TWXORD_IDENTIFY));
  ASSERT_NE(identify, nullptr);
  EXPECT_EQ(identify(nullptr), TWFAIL_MEMORY);
  TWXIdentity id{};
  ASSERT_EQ(identify(&id), TWSUCCESS);
  EXPECT_EQ(id.version, 0x00020000u);
  EXPECT_EQ(id.kind, TWX_KIND_CONNECTOR);
  EXPECT_EQ(id.flags, 0x02000000u);
  EXPECT_EQ(id.reserved, 0u);
  EXPECT_EQ(id.contextSize, sizeof(TWXContext));
  EXPECT_EQ(id.textFormat, static_cast<uint32_t>(TWSTREAMFMT_NATIVE));
  ASSERT_NE(id.properties, nullptr);
  EXPECT_EQ(id.properties[0].token, static_cast<uint32_t>(TWTOKEN_SERVER));
  TWLibraryFree(module);

  twtest::Connection wrong, right;
  ASSERT_EQ(twtest::AllocByLibrary(wrong, "sqlcli"), TWSUCCESS);
  EXPECT_EQ(twtest::SetText(wrong.get(), TWTOKENF_EXTERN | TWTOKEN_SERVER, "no_such_source"),
            TWSUCCESS);
  EXPECT_EQ(TWConnectConnect(wrong.get()), TWFAIL_EXTERNAL);
  EXPECT_NE(LogLast().text.find("Data source name not found"), std::string::npos);

  ASSERT_EQ(twtest::AllocByLibrary(right, "sqlcli"), TWSUCCESS);
  EXPECT_EQ(twtest::SetText(right.get(), TWTOKENF_EXTERN | TWTOKEN_SERVER, lite.dsn()), TWSUCCESS);
  int32_t frequency = 3;
  EXPECT_EQ(
      TWConnectSetPropertyInt(right.get(), TWTOKENF_EXTERN | sqlcli::kCommitFrequency, &frequency),
      TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(right.get()), TWSUCCESS);
  int32_t format = 0;
  EXPECT_EQ(TWConnectGetPropertyInt(right.get(), TWTOKEN_TEXT_FORMAT, &format), TWSUCCESS);
  EXPECT_EQ(format, 0xFFFF);
  EXPECT_EQ(twtest::PropertyText(right.get(), TWTOKENF_EXTERN | TWTOKEN_SERVER), lite.dsn());
  EXPECT_EQ(TWConnectAction(right.get(), TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(TWConnectAction(right.get(), 99), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWConnectDisconnect(right.get()), TWSUCCESS);
}

// The engine tells the connector at disconnect whether the activity failed: with
// RollbackOnError a failed activity's open work is rolled back, a successful one's committed.
TEST(SqlcliPlugin, RollbackOnErrorUndoesOnlyTheWorkOfAFailedActivity) {
  Env env;
  env.InstallConnector();
  SqliteSource lite;
  Direct direct(lite.source());
  ASSERT_TRUE(direct.connected());
  direct.ExecAll({"CREATE TABLE runs (id INTEGER)"});
  for (const bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "failed" : "succeeded");
    TWActivityClearStatus();
    twtest::Connection link;
    ASSERT_EQ(twtest::AllocByLibrary(link, "sqlcli"), TWSUCCESS);
    ASSERT_EQ(twtest::SetText(link.get(), TWTOKENF_EXTERN | TWTOKEN_SERVER, lite.dsn()), TWSUCCESS);
    for (const uint32_t token : {sqlcli::kCommitFrequency, sqlcli::kRollbackOnError}) {
      const int32_t value = token == sqlcli::kRollbackOnError ? 1 : 0;
      ASSERT_EQ(TWConnectSetPropertyInt(link.get(), TWTOKENF_EXTERN | token, &value), TWSUCCESS);
    }
    ASSERT_EQ(TWConnectConnect(link.get()), TWSUCCESS);
    twtest::Text insert("INSERT INTO runs VALUES (1)");
    twtest::FieldList result(1);
    uint32_t count = 0;
    ASSERT_EQ(TWConnectExecute(link.get(), insert.get(), result.get(), &count), TWSUCCESS);
    if (failed) TWActivityLog(TWFAIL_EXTERNAL);
    EXPECT_EQ(TWConnectDisconnect(link.get()), TWSUCCESS);
    EXPECT_EQ(direct.Scalar("SELECT COUNT(*) FROM runs"), "1");
  }
  TWActivityClearStatus();
}

}  // namespace
}  // namespace sqlcli_test
