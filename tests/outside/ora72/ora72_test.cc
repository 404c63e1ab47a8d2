// ORA72 through its calls, on a database of its own in a temporary directory.
#include "ora72.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plat_test_util.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

class Ora72Test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path().substr(0, tmp_.path().size() - 1);
    trace_ = dir_ + "/statements.log";
    setenv("ORA72_DATA", dir_.c_str(), 1);
    setenv("ORA72_TRACE", trace_.c_str(), 1);
    unsetenv("ORA72_SID");
    char m[256] = {};
    ASSERT_EQ(OraAdmCreate(dir_.c_str(), "ORCL", "scott", "tiger", "WE8ISO8859P1",
                           "2024-05-06 19:08:09", m, sizeof m),
              0)
        << m;
    ASSERT_EQ(OraLogon(&lda_, &hda_, "scott/tiger@ORCL", -1, nullptr, -1, 0), 0);
    ASSERT_EQ(OraOpen(&cur_, &lda_, nullptr, -1, -1, nullptr, -1), 0);
  }
  void TearDown() override {
    OraClose(&cur_);
    OraLogoff(&lda_);
  }

  int Run(const char* sql) { return Run(cur_, sql); }
  int Run(OraCursor& c, const char* sql) {
    if (int rc = OraParse(&c, sql, -1, 0, 1)) return rc;
    return OraExecute(&c);
  }

  // All rows of a query as texts ("NULL" for a null), fetched two at a time.
  Rows Query(const char* sql, OraCursor* c = nullptr) {
    OraCursor& cur = c ? *c : cur_;
    Rows rows;
    EXPECT_EQ(OraParse(&cur, sql, -1, 0, 1), 0) << sql;
    int columns = 0;
    for (;; ++columns) {
      int32_t size, nameLength = 30;
      int16_t type, precision, scale, nullable;
      char name[30];
      if (OraDescribe(&cur, columns + 1, &size, &type, name, &nameLength, nullptr, &precision,
                      &scale, &nullable))
        break;
    }
    EXPECT_EQ(cur.rc, ORA_RC_NO_COLUMN);
    std::vector<std::vector<char>> buffers(static_cast<size_t>(columns), std::vector<char>(2 * 4001));
    std::vector<std::vector<int16_t>> ind(static_cast<size_t>(columns), std::vector<int16_t>(2));
    for (int i = 0; i < columns; ++i)
      EXPECT_EQ(OraDefine(&cur, i + 1, buffers[static_cast<size_t>(i)].data(), 4001, ORA_STRING, -1,
                          ind[static_cast<size_t>(i)].data(), nullptr, -1, -1, nullptr, nullptr),
                0);
    EXPECT_EQ(OraExecute(&cur), 0) << sql;
    for (uint32_t seen = 0;;) {
      int rc = OraFetchArray(&cur, 2);
      for (uint32_t r = 0; r < cur.rpc - seen; ++r) {
        std::vector<std::string> row;
        for (size_t i = 0; i < buffers.size(); ++i)
          row.push_back(ind[i][r] == -1 ? "NULL" : std::string(buffers[i].data() + r * 4001));
        rows.push_back(row);
      }
      seen = cur.rpc;
      if (rc) {
        EXPECT_EQ(rc, ORA_RC_NO_DATA) << sql;
        break;
      }
    }
    return rows;
  }

  twtest::TempDir tmp_;
  std::string dir_, trace_;  // dir_: tmp_ without its final "/"
  OraLda lda_{};
  OraHda hda_{};
  OraCursor cur_{};
};

TEST_F(Ora72Test, LogOnChecksUserPasswordAndServer) {
  struct Case {
    const char* connect;
    const char* sid;
    int rc;
  };
  const Case cases[] = {
      {"scott/tiger@ORCL", nullptr, 0},   {"SCOTT/TIGER@ORCL", nullptr, 0},
      {"scott/tiger", "ORCL", 0},          {"scott/wrong@ORCL", nullptr, ORA_RC_LOGON_DENIED},
      {"scott@ORCL", nullptr, ORA_RC_LOGON_DENIED}, {"adams/tiger@ORCL", nullptr, ORA_RC_LOGON_DENIED},
      {"scott/tiger@NOPE", nullptr, ORA_RC_NO_SERVICE}, {"scott/tiger", nullptr, ORA_RC_NO_SERVICE},
      {"scott/tiger@../ORCL", nullptr, ORA_RC_NO_SERVICE},
  };
  for (const Case& c : cases) {
    if (c.sid) setenv("ORA72_SID", c.sid, 1);
    else unsetenv("ORA72_SID");
    OraLda lda{};
    OraHda hda{};
    EXPECT_EQ(OraLogon(&lda, &hda, c.connect, -1, nullptr, -1, 0), c.rc) << c.connect;
    EXPECT_EQ(lda.rc, c.rc) << c.connect;
    if (c.rc == 0) {
      EXPECT_EQ(OraLogoff(&lda), 0);
    } else {
      EXPECT_EQ(lda.session, nullptr);
    }
  }
  char text[1000];
  EXPECT_EQ(OraErrorText(&lda_, ORA_RC_LOGON_DENIED, text, sizeof text), 0);
  EXPECT_STREQ(text, "ORA-01017: invalid username/password; logon denied\n");
}

TEST_F(Ora72Test, ErrorCodesAndOffsets) {
  ASSERT_EQ(Run("CREATE TABLE T (ID NUMBER(00005) NOT NULL, NAME VARCHAR2(00010))"), 0);
  ASSERT_EQ(Run("CREATE UNIQUE INDEX TI ON T (ID)"), 0);
  ASSERT_EQ(Run("INSERT INTO T (ID, NAME) VALUES (1, 'a')"), 0);
  struct Case {
    const char* sql;
    int rc;
    int offset;  // -1: not checked (an execute error)
  };
  const Case cases[] = {
      {"SELECT * FROM NOPE", ORA_RC_NO_TABLE, 14},
      {"SELECT ID, NOPE FROM T", ORA_RC_INVALID_IDENTIFIER, 11},
      {"BEGIN NULL; END;", ORA_RC_BLOCK, 0},
      {"SELECT 1 FROM DUAL;", ORA_RC_INVALID_CHARACTER, 18},
      {"CREATE TABLE U (ID NUMBER, LEVEL NUMBER)", ORA_RC_INVALID_IDENTIFIER, 27},
      {"INSERT INTO T (ID) VALUES (1)", ORA_RC_UNIQUE, -1},
      {"INSERT INTO T (NAME) VALUES ('b')", ORA_RC_NOT_NULL, -1},
      {"INSERT INTO T (ID, NAME) VALUES (2, 'abcdefghijk')", ORA_RC_TOO_LARGE, -1},
      {"UPDATE T SET NAME = 'abcdefgh\xc3\xa9j'", ORA_RC_TOO_LARGE, -1},  // 11 bytes
      {"SELEC 1 FROM DUAL", ORA_RC_INVALID_SQL, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.sql), c.rc) << c.sql;
    EXPECT_EQ(cur_.rc, c.rc) << c.sql;
    if (c.offset >= 0) {
      EXPECT_EQ(cur_.peo, c.offset) << c.sql;
    }
  }
  char text[1000];
  ASSERT_EQ(OraErrorText(&lda_, ORA_RC_NO_TABLE, text, sizeof text), 0);
  EXPECT_STREQ(text, "ORA-00942: table or view does not exist\n");
  // Binding a name the statement does not hold.
  ASSERT_EQ(OraParse(&cur_, "UPDATE T SET NAME = :00001 WHERE ID = :00002", -1, 0, 1), 0);
  char v[4] = "x";
  EXPECT_EQ(OraBindByName(&cur_, ":00003", -1, v, 2, ORA_STRING, -1, nullptr, nullptr, -1, -1),
            ORA_RC_UNKNOWN_BIND);
  EXPECT_EQ(Query("SELECT ID, NAME FROM T"), (Rows{{"1", "a"}}));
}

TEST_F(Ora72Test, ValuesRoundTripThroughArrayBindsAndDefines) {
  ASSERT_EQ(Run("CREATE TABLE V (N5 NUMBER(00005), N102 NUMBER(00010,00002), C CHAR(00004), "
                "S VARCHAR2(00020), D DATE, R RAW(00008))"),
            0);
  const int kRows = 3;
  int32_t n5[kRows] = {-7, 12345, 0};
  unsigned char n102[kRows][22] = {{3, 193, 13, 51}, {4, 62, 89, 51, 102}, {1, 0x80}};  // 12.5 -12.5 0
  char c[kRows][5] = {"ab", "abcd", "x"};
  char s[kRows][21] = {"h\xc3\xa9llo", "", "it's"};
  unsigned char d[kRows][7] = {{120, 124, 2, 29, 14, 6, 60}, {119, 199, 12, 31, 24, 60, 60},
                               {100, 101, 1, 1, 1, 1, 1}};
  unsigned char r[kRows][8] = {{0, 1, 2, 255, 0, 0, 0, 0}, {9}, {}};
  int16_t rInd[kRows] = {0, 0, -1};
  ASSERT_EQ(OraParse(&cur_, "INSERT INTO V VALUES (:00001, :00002, :00003, :00004, :00005, :00006)",
                     -1, 0, 1),
            0);
  struct B {
    const char* name;
    void* value;
    int32_t length;
    int type;
    int16_t* ind;
  };
  const B binds[] = {{":00001", n5, 4, ORA_INTEGER, nullptr},
                     {":00002", n102, 22, ORA_VARNUM, nullptr},
                     {":00003", c, 5, ORA_STRING, nullptr},
                     {":00004", s, 21, ORA_STRING, nullptr},
                     {":00005", d, 7, ORA_DATE, nullptr},
                     {":00006", r, 8, ORA_RAW, rInd}};
  for (const B& b : binds)
    ASSERT_EQ(OraBindByName(&cur_, b.name, -1, b.value, b.length, b.type, -1, b.ind, nullptr, -1, -1),
              0)
        << b.name;
  ASSERT_EQ(OraExecuteArray(&cur_, kRows, 0), 0);
  EXPECT_EQ(cur_.rpc, 3u);

  // Describe: names upper-cased, declared types kept, ROWID typed, 1007 past the end.
  ASSERT_EQ(OraParse(&cur_, "SELECT n5, N102, C, S, D, R, ROWID FROM V ORDER BY N5", -1, 0, 1), 0);
  struct Col {
    const char* name;
    int16_t type;
    int32_t size;
    int16_t precision, scale;
  };
  const Col cols[] = {{"N5", 2, 22, 5, 0},  {"N102", 2, 22, 10, 2}, {"C", 96, 4, 0, 0},
                      {"S", 1, 20, 0, 0},   {"D", 12, 7, 0, 0},     {"R", 23, 8, 0, 0},
                      {"ROWID", 11, 18, 0, 0}};
  for (int i = 0; i < 7; ++i) {
    int32_t size, nameLength = 30;
    int16_t type, precision, scale, nullable;
    char name[30];
    ASSERT_EQ(OraDescribe(&cur_, i + 1, &size, &type, name, &nameLength, nullptr, &precision, &scale,
                          &nullable),
              0);
    EXPECT_EQ(std::string(name, static_cast<size_t>(nameLength)), cols[i].name);
    EXPECT_EQ(type, cols[i].type) << cols[i].name;
    EXPECT_EQ(size, cols[i].size) << cols[i].name;
    EXPECT_EQ(precision, cols[i].precision) << cols[i].name;
    EXPECT_EQ(scale, cols[i].scale) << cols[i].name;
  }
  int32_t size, nameLength = 30;
  int16_t type;
  char name[30];
  EXPECT_EQ(OraDescribe(&cur_, 8, &size, &type, name, &nameLength, nullptr, nullptr, nullptr,
                        nullptr),
            ORA_RC_NO_COLUMN);

  int32_t on5[4];
  unsigned char on102[4][22];
  char oc[4][6], os[4][21], orow[4][20];
  unsigned char od[4][7], orr[4][8];
  int16_t ind[7][4];
  uint16_t len[7][4];
  ASSERT_EQ(OraDefine(&cur_, 1, on5, 4, ORA_INTEGER, -1, ind[0], nullptr, -1, -1, nullptr, nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 2, on102, 22, ORA_VARNUM, -1, ind[1], nullptr, -1, -1, nullptr, nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 3, oc, 6, ORA_STRING, -1, ind[2], nullptr, -1, -1, len[2], nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 4, os, 21, ORA_STRING, -1, ind[3], nullptr, -1, -1, len[3], nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 5, od, 7, ORA_DATE, -1, ind[4], nullptr, -1, -1, nullptr, nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 6, orr, 8, ORA_RAW, -1, ind[5], nullptr, -1, -1, len[5], nullptr), 0);
  ASSERT_EQ(OraDefine(&cur_, 7, orow, 20, ORA_VARCHAR2, -1, ind[6], nullptr, -1, -1, len[6], nullptr), 0);
  ASSERT_EQ(OraExecute(&cur_), 0);
  // Four asked, three there: 1403 with the rows that came.
  EXPECT_EQ(OraFetchArray(&cur_, 4), ORA_RC_NO_DATA);
  EXPECT_EQ(cur_.rpc, 3u);
  EXPECT_EQ(OraFetch(&cur_), ORA_RC_NO_DATA);
  // Ordered by N5: -7, 0, 12345 = input rows 0, 2, 1.
  const int order[3] = {0, 2, 1};
  for (int out = 0; out < 3; ++out) {
    int in = order[out];
    EXPECT_EQ(on5[out], n5[in]);
    EXPECT_EQ(std::memcmp(on102[out], n102[in], n102[in][0] + 1u), 0) << out;
    // CHAR values come blank-padded to the column's size.
    EXPECT_EQ(std::string(oc[out]), (std::string(c[in]) + "    ").substr(0, 4));
    EXPECT_EQ(len[2][out], 4);
    if (s[in][0] == '\0') {
      EXPECT_EQ(ind[3][out], -1) << "'' is stored as NULL";
    } else {
      EXPECT_STREQ(os[out], s[in]);
    }
    EXPECT_EQ(std::memcmp(od[out], d[in], 7), 0) << out;
    if (rInd[in] == -1) {
      EXPECT_EQ(ind[5][out], -1);
    } else {
      EXPECT_EQ(ind[5][out], 0);
      EXPECT_EQ(len[5][out], 8);
      EXPECT_EQ(std::memcmp(orr[out], r[in], 8), 0);
    }
    EXPECT_EQ(ind[6][out], 0);
  }
  // The ROWID read back finds its row.
  std::string rowid(orow[2], len[6][2]);
  ASSERT_EQ(OraParse(&cur_, "UPDATE V SET S = 'w' WHERE ROWID = :ROW_ID", -1, 0, 1), 0);
  ASSERT_EQ(OraBindByName(&cur_, ":ROW_ID", -1, rowid.data(), static_cast<int32_t>(rowid.size()),
                          ORA_VARCHAR2, -1, nullptr, nullptr, -1, -1),
            0);
  ASSERT_EQ(OraExecute(&cur_), 0);
  EXPECT_EQ(cur_.rpc, 1u);
  EXPECT_EQ(Query("SELECT N5 FROM V WHERE S = 'w'"), (Rows{{"12345"}}));
}

TEST_F(Ora72Test, NumbersKeepDigitsBeyondADouble) {
  ASSERT_EQ(Run("CREATE TABLE N (K NUMBER(00005), V NUMBER(00030,00010))"), 0);
  const char* values[] = {"12345678901234567890123", "-1234567890123456.123456789", "12.5",
                          "9007199254740993", "0.1"};
  ASSERT_EQ(OraParse(&cur_, "INSERT INTO N VALUES (:00001, :00002)", -1, 0, 1), 0);
  for (int32_t k = 0; k < 5; ++k) {
    ASSERT_EQ(OraBindByName(&cur_, ":00001", -1, &k, 4, ORA_INTEGER, -1, nullptr, nullptr, -1, -1), 0);
    ASSERT_EQ(OraBindByName(&cur_, ":00002", -1, const_cast<char*>(values[k]),
                            static_cast<int32_t>(std::strlen(values[k])), ORA_CHAR, -1, nullptr,
                            nullptr, -1, -1),
              0);
    ASSERT_EQ(OraExecute(&cur_), 0) << values[k];
  }
  Rows want;
  for (const char* v : values) want.push_back({v});
  EXPECT_EQ(Query("SELECT V FROM N ORDER BY K"), want);
}

TEST_F(Ora72Test, LongValuesComeInPieces) {
  ASSERT_EQ(Run("CREATE TABLE L (K NUMBER(00005), B LONG RAW, T LONG)"), 0);
  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  std::string text(66000, 'x');
  text[0] = '1';  // keeps numeric-looking text from being changed
  text.replace(1, 4, "2345");
  ASSERT_EQ(OraParse(&cur_, "INSERT INTO L VALUES (1, :00001, :00002)", -1, 0, 1), 0);
  ASSERT_EQ(OraBindByName(&cur_, ":00001", -1, big.data(), static_cast<int32_t>(big.size()),
                          ORA_LONGRAW, -1, nullptr, nullptr, -1, -1),
            0);
  ASSERT_EQ(OraBindByName(&cur_, ":00002", -1, text.data(), static_cast<int32_t>(text.size()),
                          ORA_LONG, -1, nullptr, nullptr, -1, -1),
            0);
  ASSERT_EQ(OraExecute(&cur_), 0);
  ASSERT_EQ(OraParse(&cur_, "SELECT B, T FROM L", -1, 0, 1), 0);
  ASSERT_EQ(OraExecute(&cur_), 0);
  ASSERT_EQ(OraFetch(&cur_), 0);
  struct Case {
    int position, type;
    const std::string* want;
  };
  for (const Case& c : {Case{1, ORA_LONGRAW, &big}, Case{2, ORA_LONG, &text}}) {
    std::string got;
    std::vector<char> piece(32768);
    for (uint32_t offset = 0;;) {
      uint32_t n = 0;
      ASSERT_EQ(OraLongPiece(&cur_, c.position, piece.data(), 32768, c.type, &n, offset), 0);
      if (n == 0) break;
      got.append(piece.data(), n);
      offset += n;
    }
    EXPECT_EQ(got, *c.want) << c.position;
  }
}

TEST_F(Ora72Test, TransactionsAndForUpdate) {
  ASSERT_EQ(Run("CREATE TABLE T (ID NUMBER(00005))"), 0);
  ASSERT_EQ(Run("INSERT INTO T VALUES (1)"), 0);
  ASSERT_EQ(OraRollback(&lda_), 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"0"}}));
  ASSERT_EQ(Run("INSERT INTO T VALUES (2)"), 0);
  // Data definition commits what came before.
  ASSERT_EQ(Run("CREATE TABLE U (ID NUMBER(00005))"), 0);
  ASSERT_EQ(OraRollback(&lda_), 0);
  EXPECT_EQ(Query("SELECT ID FROM T"), (Rows{{"2"}}));
  ASSERT_EQ(OraAutocommitOn(&lda_), 0);
  ASSERT_EQ(Run("INSERT INTO T VALUES (3)"), 0);
  ASSERT_EQ(OraRollback(&lda_), 0);
  ASSERT_EQ(OraAutocommitOff(&lda_), 0);
  // A second session sees what was committed.
  OraLda other{};
  OraHda otherHda{};
  OraCursor oc{};
  ASSERT_EQ(OraLogon(&other, &otherHda, "scott/tiger@ORCL", -1, nullptr, -1, 0), 0);
  ASSERT_EQ(OraOpen(&oc, &other, nullptr, -1, -1, nullptr, -1), 0);
  EXPECT_EQ(Query("SELECT ID FROM T ORDER BY ID", &oc), (Rows{{"2"}, {"3"}}));
  OraClose(&oc);
  OraLogoff(&other);

  // FOR UPDATE OF holds its rows until the transaction ends; the next fetch is out of sequence.
  ASSERT_EQ(OraParse(&cur_, "SELECT ID FROM T FOR UPDATE OF ID", -1, 0, 1), 0);
  int32_t id = 0;
  ASSERT_EQ(OraDefine(&cur_, 1, &id, 4, ORA_INTEGER, -1, nullptr, nullptr, -1, -1, nullptr, nullptr), 0);
  ASSERT_EQ(OraExecute(&cur_), 0);
  ASSERT_EQ(OraFetch(&cur_), 0);
  EXPECT_EQ(id, 2);
  ASSERT_EQ(OraCommit(&lda_), 0);
  EXPECT_EQ(OraFetch(&cur_), ORA_RC_FETCH_OUT_OF_SEQUENCE);
  // Log off commits.
  ASSERT_EQ(Run("INSERT INTO T VALUES (4)"), 0);
  OraClose(&cur_);
  ASSERT_EQ(OraLogoff(&lda_), 0);
  ASSERT_EQ(OraLogon(&lda_, &hda_, "scott/tiger@ORCL", -1, nullptr, -1, 0), 0);
  ASSERT_EQ(OraOpen(&cur_, &lda_, nullptr, -1, -1, nullptr, -1), 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM T"), (Rows{{"3"}}));
}

TEST_F(Ora72Test, DictionaryViewsClockAndTruncate) {
  ASSERT_EQ(Run("CREATE TABLE Items (Id NUMBER(00005), Name VARCHAR2(00010))"), 0);
  ASSERT_EQ(Run("CREATE INDEX ItemsByName ON Items (Name)"), 0);
  ASSERT_EQ(Run("INSERT INTO Items VALUES (1, 'a')"), 0);
  struct Case {
    const char* sql;
    Rows rows;
  };
  const Case cases[] = {
      {"SELECT VALUE FROM V$NLS_PARAMETERS WHERE PARAMETER = 'NLS_CHARACTERSET'",
       {{"WE8ISO8859P1"}}},
      {"SELECT TABLE_NAME, OWNER, COMMENTS FROM ALL_TAB_COMMENTS WHERE OWNER != 'SYS'",
       {{"ITEMS", "SCOTT", "NULL"}}},
      {"SELECT INDEX_NAME, OWNER, '' FROM ALL_INDEXES WHERE TABLE_NAME = UPPER ('items') ",
       {{"ITEMSBYNAME", "SCOTT", "NULL"}}},
      {"SELECT COLUMN_NAME, OWNER, '' FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = UPPER ('Items') ",
       {{"ID", "SCOTT", "NULL"}, {"NAME", "SCOTT", "NULL"}}},
      {"SELECT SYSDATE FROM DUAL", {{"2024-05-06 19:08:09"}}},
      {"SELECT ID FROM ITEMS WHERE SYSDATE > TO_DATE ('2024 5 6 7 8 8 PM', 'YYYY MM DD HH MI SS AM')",
       {{"1"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(Query(c.sql), c.rows) << c.sql;
  ASSERT_EQ(Run("TRUNCATE TABLE Items"), 0);
  ASSERT_EQ(OraRollback(&lda_), 0);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM Items"), (Rows{{"0"}})) << "truncate commits";
  // The statement log holds each parsed text as given.
  std::ifstream in(trace_);
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_NE(all.str().find("TRUNCATE TABLE Items\n"), std::string::npos);
  EXPECT_NE(all.str().find("SELECT SYSDATE FROM DUAL\n"), std::string::npos);
}

TEST_F(Ora72Test, AdministrationRefusesBadRequests) {
  char m[256];
  EXPECT_EQ(OraAdmCreate(dir_.c_str(), "ORCL", "scott", "tiger", "US7ASCII", nullptr, m, sizeof m),
            955);
  EXPECT_EQ(OraAdmCreate(dir_.c_str(), "B", "scott", "tiger", "US7ASCII", "noon", m, sizeof m),
            1861);
  EXPECT_EQ(OraAdmCreate(dir_.c_str(), "../B", "scott", "tiger", "US7ASCII", nullptr, m, sizeof m),
            ORA_RC_NO_SERVICE);
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/B.ora"));
  ASSERT_EQ(OraAdmCreate(dir_.c_str(), "B", "u", "", "WE8DG", nullptr, m, sizeof m), 0) << m;
  OraLda lda{};
  OraHda hda{};
  ASSERT_EQ(OraLogon(&lda, &hda, "u@B", -1, nullptr, -1, 0), 0);
  EXPECT_EQ(OraLogoff(&lda), 0);
  EXPECT_EQ(std::string(OraOrdinalName(282)), "OraParse");
  EXPECT_EQ(OraOrdinalName(1), nullptr);
}

}  // namespace
