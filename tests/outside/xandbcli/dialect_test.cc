// The Xandb dialect shim's rewriting, as text: each case is a text the connector emits and
// what each engine is given.
#include "dialect.h"

#include <gtest/gtest.h>

namespace xandbcli {
namespace {

struct Case {
  const char* text;
  const char* sqlite;
  const char* postgres;
};

const Case kCases[] = {
    // Stamp windows: the literal in the stored form of a bound timestamp.
    {"SELECT A FROM T WHERE  ( S >  TIMESTAMP ('2024-02-29-23.59.58.07')  AND S <=  TIMESTAMP "
     "('1999-01-02-03.04.05.99') ) ",
     "SELECT A FROM T WHERE  ( S >  '2024-02-29 23:59:58.070'  AND S <=  '1999-01-02 03:04:05.990' "
     ") ",
     "SELECT A FROM T WHERE  ( S >  TIMESTAMP '2024-02-29 23:59:58.07'  AND S <=  TIMESTAMP "
     "'1999-01-02 03:04:05.99' ) "},
    // Not a Xandb timestamp literal: left for the engine to judge.
    {"SELECT TIMESTAMP ('bad') FROM T", "SELECT TIMESTAMP ('bad') FROM T",
     "SELECT TIMESTAMP ('bad') FROM T"},
    {"VALUES CURRENT TIMESTAMP", "SELECT strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')",
     "SELECT LOCALTIMESTAMP"},
    {"SELECT DISTINCT CURRENT TIMESTAMP FROM T1",
     "SELECT strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')", "SELECT LOCALTIMESTAMP"},
    // Column types of CREATE TABLE.
    {"CREATE TABLE T (A CLOB (2147483647) NOT LOGGED COMPACT, B LONG VARCHAR, C BLOB (100), D "
     "DOUBLE)",
     "CREATE TABLE T (A TEXT, B TEXT, C BLOB, D DOUBLE)",
     "CREATE TABLE T (A TEXT, B TEXT, C BYTEA, D DOUBLE PRECISION)"},
    {"CREATE TABLE T (A CHAR (8) FOR BIT DATA, B VARCHAR (20) FOR BIT DATA, C LONG VARCHAR FOR BIT "
     "DATA, D CHAR (3))",
     "CREATE TABLE T (A BLOB, B BLOB, C BLOB, D CHAR (3))",
     "CREATE TABLE T (A BYTEA, B BYTEA, C BYTEA, D CHAR (3))"},
    {"CREATE TABLE T (A CLOB (10), B BLOB (20) NOT LOGGED COMPACT)",
     "CREATE TABLE T (A TEXT, B BLOB)", "CREATE TABLE T (A TEXT, B BYTEA)"},
    {"CREATE TABLE T (D DOUBLE PRECISION)", "CREATE TABLE T (D DOUBLE PRECISION)",
     "CREATE TABLE T (D DOUBLE PRECISION)"},
    // Row locks.
    {"SELECT A, B FROM T  FOR UPDATE  OF A, B", "SELECT A, B, rowid FROM T",
     "SELECT A, B, ctid FROM T  FOR UPDATE"},
    {"SELECT A, (SELECT 1 FROM U) FROM T  FOR UPDATE ",
     "SELECT A, (SELECT 1 FROM U), rowid FROM T ",
     "SELECT A, (SELECT 1 FROM U), ctid FROM T  FOR UPDATE "},
    // Indexes pass unchanged.
    {"CREATE UNIQUE INDEX I1 ON T (A, B)", "CREATE UNIQUE INDEX I1 ON T (A, B)",
     "CREATE UNIQUE INDEX I1 ON T (A, B)"},
    {"DROP INDEX I1", "DROP INDEX I1", "DROP INDEX I1"},
    // Words inside literals and quoted names are data, not dialect.
    {"INSERT INTO \"LONG VARCHAR\" VALUES ('CLOB (5) FOR UPDATE', 'it''s DOUBLE')",
     "INSERT INTO \"LONG VARCHAR\" VALUES ('CLOB (5) FOR UPDATE', 'it''s DOUBLE')",
     "INSERT INTO \"LONG VARCHAR\" VALUES ('CLOB (5) FOR UPDATE', 'it''s DOUBLE')"},
    {"SELECT 'unclosed FOR UPDATE", "SELECT 'unclosed FOR UPDATE", "SELECT 'unclosed FOR UPDATE"},
    {"", "", ""},
};

TEST(XandbDialect, RewritesEachTextForItsEngine) {
  for (const Case& c : kCases) {
    EXPECT_EQ(RewriteStatement(c.text, Engine::kSqlite).text, c.sqlite) << c.text;
    EXPECT_EQ(RewriteStatement(c.text, Engine::kPostgres).text, c.postgres) << c.text;
    EXPECT_EQ(RewriteStatement(c.text, Engine::kOther).text, c.text) << c.text;
  }
}

// Positioned writes: which texts carry a row identity or name a cursor, and which parameter
// takes the identity.
TEST(XandbDialect, PositionedWritesCompareTheRowIdentity) {
  struct Positioned {
    const char* text;
    const char* sqlite;
    const char* postgres;
    bool identity;
    const char* cursor;
    unsigned parameter;
  };
  const Positioned cases[] = {
      {"SELECT A FROM T  FOR UPDATE ", "SELECT A, rowid FROM T ",
       "SELECT A, ctid FROM T  FOR UPDATE ", true, "", 0},
      {"SELECT A FROM T", "SELECT A FROM T", "SELECT A FROM T", false, "", 0},
      {"UPDATE T SET A = ?, B = ?  WHERE CURRENT OF XC1",
       "UPDATE T SET A = ?, B = ?  WHERE rowid = ?",
       "UPDATE T SET A = ?, B = ?  WHERE ctid = CAST(? AS tid)", false, "XC1", 3},
      {"DELETE FROM T  WHERE CURRENT OF XC1", "DELETE FROM T  WHERE rowid = ?",
       "DELETE FROM T  WHERE ctid = CAST(? AS tid)", false, "XC1", 1},
      {"UPDATE T SET A = '?'  WHERE CURRENT OF C", "UPDATE T SET A = '?'  WHERE rowid = ?",
       "UPDATE T SET A = '?'  WHERE ctid = CAST(? AS tid)", false, "C", 1},
  };
  for (const Positioned& c : cases) {
    for (Engine engine : {Engine::kSqlite, Engine::kPostgres}) {
      const Rewritten out = RewriteStatement(c.text, engine);
      EXPECT_EQ(out.text, engine == Engine::kSqlite ? c.sqlite : c.postgres) << c.text;
      EXPECT_EQ(out.row_identity, c.identity) << c.text;
      EXPECT_EQ(out.cursor, c.cursor) << c.text;
      EXPECT_EQ(out.identity_parameter, c.parameter) << c.text;
    }
  }
}

TEST(XandbDialect, EngineComesFromTheDriversDbmsName) {
  EXPECT_EQ(EngineOfDbmsName("SQLite"), Engine::kSqlite);
  EXPECT_EQ(EngineOfDbmsName("PostgreSQL"), Engine::kPostgres);
  EXPECT_EQ(EngineOfDbmsName("Xandb"), Engine::kOther);
  EXPECT_EQ(EngineOfDbmsName(""), Engine::kOther);
}

}  // namespace
}  // namespace xandbcli
