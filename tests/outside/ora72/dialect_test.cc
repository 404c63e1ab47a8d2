// The ORA72 dialect rewrite and its value forms (VARNUM, DATE, TO_DATE).
#include "dialect.h"

#include <gtest/gtest.h>

#include <vector>

namespace ora72 {
namespace {

TEST(Ora72Dialect, RewritesTheConnectorsTexts) {
  struct Case {
    const char* given;
    const char* sql;  // expected rewrite when rc is 0
    int rc;
    int offset;
    bool forUpdate;
  };
  const Case cases[] = {
      {"SELECT SYSDATE FROM DUAL", "SELECT SYSDATE() FROM DUAL", 0, 0, false},
      {"SELECT A,B,ROWID FROM T FOR UPDATE OF A,B", "SELECT A,B,ROWID FROM T", 0, 0, true},
      {"SELECT INDEX_NAME, OWNER, '' FROM ALL_INDEXES WHERE TABLE_NAME = UPPER ('it''s') ",
       "SELECT INDEX_NAME, OWNER, NULL FROM ALL_INDEXES WHERE TABLE_NAME = UPPER ('it''s') ", 0, 0,
       false},
      {"TRUNCATE TABLE T", "DELETE FROM T", 0, 0, false},
      {"INSERT INTO T (A) VALUES (:00001)", "INSERT INTO T (A) VALUES (:00001)", 0, 0, false},
      {"UPDATE T SET A = 'for update' WHERE  ROWID = :ROW_ID",
       "UPDATE T SET A = 'for update' WHERE  ROWID = :ROW_ID", 0, 0, false},
      {"CREATE TABLE T (L LONG, R RAW(00016), LR LONG RAW, N NUMBER(00010,00002))",
       "CREATE TABLE T (L LONG TEXT, R RAW BLOB(00016) CONSTRAINT ora72_size CHECK "
       "(length(CAST(R AS BLOB)) <= 16), LR LONG RAW BLOB, N NUMBER(00010,00002))",
       0, 0, false},
      // Lengths the server enforces become checks; numbers and dates keep theirs.
      {"CREATE TABLE T (S VARCHAR2(00030) NOT NULL,C CHAR(00004),D DATE)",
       "CREATE TABLE T (S VARCHAR2(00030) CONSTRAINT ora72_size CHECK (length(CAST(S AS BLOB)) "
       "<= 30) NOT NULL,C CHAR(00004) CONSTRAINT ora72_size CHECK (length(CAST(C AS BLOB)) <= "
       "4),D DATE)",
       0, 0, false},
      {"BEGIN NULL; END;", nullptr, 6550, 0, false},
      {"  DECLARE X NUMBER; BEGIN NULL; END;", nullptr, 6550, 2, false},
      {"SELECT 1 FROM DUAL;", nullptr, 911, 18, false},
      {"CREATE TABLE T (A NUMBER, SELECT CHAR(1))", nullptr, 904, 26, false},
      {"CREATE TABLE T (ABCDEFGHIJKLMNOPQRSTUVWXYZABCDE NUMBER)", nullptr, 904, 16, false},
      {"CREATE TABLE T (ABCDEFGHIJKLMNOPQRSTUVWXYZABCD NUMBER)",
       "CREATE TABLE T (ABCDEFGHIJKLMNOPQRSTUVWXYZABCD NUMBER)", 0, 0, false},
      {"   ", nullptr, 900, 0, false},
  };
  for (const Case& c : cases) {
    Rewritten r = Rewrite(c.given);
    EXPECT_EQ(r.rc, c.rc) << c.given;
    if (c.rc == 0) {
      EXPECT_EQ(r.sql, c.sql) << c.given;
      EXPECT_EQ(r.forUpdate, c.forUpdate) << c.given;
    } else {
      EXPECT_EQ(r.offset, c.offset) << c.given;
    }
  }
}

TEST(Ora72Dialect, DeclaredTypes) {
  struct Case {
    const char* declared;
    int type, size, precision, scale;
  };
  const Case cases[] = {
      {"VARCHAR2(00030)", 1, 30, 0, 0}, {"CHAR(5)", 96, 5, 0, 0},
      {"NUMBER(10,2)", 2, 22, 10, 2},   {"NUMBER", 2, 22, 0, 0},
      {"FLOAT(63)", 2, 22, 63, -127},   {"DATE", 12, 7, 0, 0},
      {"LONG TEXT", 8, 0, 0, 0},         {"LONG RAW BLOB", 24, 0, 0, 0},
      {"RAW BLOB(16)", 23, 16, 0, 0},   {"number(5)", 2, 22, 5, 0},
  };
  for (const Case& c : cases) {
    ColumnType t = TypeOfDeclared(c.declared);
    EXPECT_EQ(t.type, c.type) << c.declared;
    EXPECT_EQ(t.size, c.size) << c.declared;
    EXPECT_EQ(t.precision, c.precision) << c.declared;
    EXPECT_EQ(t.scale, c.scale) << c.declared;
  }
}

TEST(Ora72Dialect, VarnumBytesAndRoundTrips) {
  struct Case {
    const char* text;
    std::vector<unsigned char> bytes;
  };
  const Case known[] = {
      {"0", {1, 0x80}},
      {"1", {2, 193, 2}},
      {"5", {2, 193, 6}},
      {"-5", {3, 62, 96, 102}},
      {"100", {2, 194, 2}},
      {"12.5", {3, 193, 13, 51}},
      {"-12.5", {4, 62, 89, 51, 102}},
      {"0.01", {2, 192, 2}},
  };
  for (const Case& c : known) {
    unsigned char v[22] = {};
    ASSERT_TRUE(VarnumFromText(c.text, v)) << c.text;
    EXPECT_EQ(std::vector<unsigned char>(v, v + v[0] + 1), c.bytes) << c.text;
    EXPECT_EQ(VarnumToText(v, 22), c.text);
  }
  const char* trips[] = {"123456789012345678901234567890", "-99999999999999999999", "0.000123",
                         "1000000", "-0.5", "3.14159265358979323846"};
  for (const char* t : trips) {
    unsigned char v[22] = {};
    ASSERT_TRUE(VarnumFromText(t, v)) << t;
    EXPECT_EQ(VarnumToText(v, 22), t);
  }
  unsigned char v[22];
  EXPECT_TRUE(VarnumFromText("1.5e3", v));
  EXPECT_EQ(VarnumToText(v, 22), "1500");
  for (const char* bad : {"", "abc", "1x", "-", "."}) EXPECT_FALSE(VarnumFromText(bad, v)) << bad;
}

TEST(Ora72Dialect, DatesAndToDate) {
  unsigned char d[7];
  ASSERT_TRUE(DateFromText("2024-02-29 13:05:59", d));
  EXPECT_EQ(std::vector<unsigned char>(d, d + 7),
            (std::vector<unsigned char>{120, 124, 2, 29, 14, 6, 60}));
  EXPECT_EQ(DateToText(d), "2024-02-29 13:05:59");
  EXPECT_FALSE(DateFromText("2024-13-01 00:00:00", d));
  EXPECT_FALSE(DateFromText("yesterday", d));
  struct Case {
    const char* text;
    const char* format;
    const char* out;  // null: refused
  };
  const Case cases[] = {
      {"2024 1 2 12 30 0 AM", "YYYY MM DD HH MI SS AM", "2024-01-02 00:30:00"},
      {"2024 1 2 12 30 0 PM", "YYYY MM DD HH MI SS AM", "2024-01-02 12:30:00"},
      {"2024 1 2 6 5 0 PM", "YYYY MM DD HH MI SS AM", "2024-01-02 18:05:00"},
      {"2024 1 2 11 59 59 AM", "YYYY MM DD HH MI SS AM", "2024-01-02 11:59:59"},
      {"2024 1 2 13 0 0 PM", "YYYY MM DD HH MI SS AM", nullptr},
      {"2024 1 2 1 0 0 XM", "YYYY MM DD HH MI SS AM", nullptr},
      {"2024-01-02 23:00:00", "YYYY-MM-DD HH24:MI:SS", "2024-01-02 23:00:00"},
      {"2024-01-02", "DD.MM.YYYY", nullptr},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(ToDate(c.text, c.format, out), c.out != nullptr) << c.text;
    if (c.out) {
      EXPECT_EQ(out, c.out) << c.text;
    }
  }
}

}  // namespace
}  // namespace ora72
