// Own statements and catalogues through the Oracle connector: the texts the server parses,
// the fields a select list is described as, and the refusals.
#include <gtest/gtest.h>

#include <vector>

#include "oracle_test_util.h"

namespace oracle_test {
namespace {

using twtest::Text;

class OracleExecute : public Connected {
 protected:
  uint32_t Exec(std::string_view text, TWFIELDLIST dest = TWNULLHANDLE,
                uint32_t* affected = nullptr) {
    Text t(text);
    uint32_t own = 0;
    return link_.c.Execute(t.get(), dest, affected ? affected : &own);
  }
};

TEST_F(OracleExecute, OwnStatementTexts) {
  struct Case {
    const char* given;
    uint32_t status;
    const char* parsed;
  };
  const Case cases[] = {
      {"CREATE TABLE T (K NUMBER(5), V VARCHAR2(10));  ", TWSUCCESS,
       "CREATE TABLE T (K NUMBER(5), V VARCHAR2(10))"},
      {"  INSERT INTO T VALUES (1, 'a');", TWSUCCESS, "INSERT INTO T VALUES (1, 'a')"},
      // Blocks keep their ";" (the server refuses blocks here: 6550, logged).
      {"begin null; end;  ", TWFAIL_EXTERNAL, "begin null; end;"},
      {"DECLARE X NUMBER; BEGIN NULL; END; ", TWFAIL_EXTERNAL,
       "DECLARE X NUMBER; BEGIN NULL; END;"},
      // A missing table is 12545, not logged.
      {"DELETE FROM NOPE", TWFAIL_INVALID_METADATA, "DELETE FROM NOPE"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Exec(c.given), c.status) << c.given;
    EXPECT_EQ(LastStatement(), c.parsed);
    EXPECT_EQ(link_.c.queryState(), 0);
  }
  EXPECT_EQ(twtest::LogLast().externalCode, static_cast<uint32_t>(ORA_RC_BLOCK));
}

TEST_F(OracleExecute, SelectListsAreDescribedIntoFields) {
  ASSERT_EQ(Exec("CREATE TABLE V (I NUMBER(5) NOT NULL, N NUMBER(10,2), B NUMBER(20), "
                 "F FLOAT(63), X NUMBER, C CHAR(4), S VARCHAR2(30), D DATE, R RAW(8), L LONG)"),
            TWSUCCESS);
  TWFIELDLIST dest = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistAlloc(&dest, 1, 0), TWSUCCESS);
  uint32_t affected = 0;
  ASSERT_EQ(Exec("SELECT * FROM V", dest, &affected), TWSUCCESS);
  EXPECT_EQ(affected, TWCOUNT_UNKNOWN);
  EXPECT_EQ(link_.c.queryState(), 1);
  struct Want {
    const char* name;
    uint32_t type;
    bool noNull;
  };
  const Want want[] = {{"I", TWTYPE_INT, true},    {"N", TWTYPE_FLOAT, false},
                       {"B", TWTYPE_NUMERIC, false}, {"F", TWTYPE_FLOAT, false},
                       {"X", TWTYPE_FLOAT, false},   {"C", TWTYPE_TEXT, false},
                       {"S", TWTYPE_TEXT, false},    {"D", TWTYPE_DATETIME, false},
                       {"R", TWTYPE_BINARY, false},  {"L", TWTYPE_TEXT, false}};
  ASSERT_EQ(TWFieldlistGetCount(dest), 10u);
  for (uint32_t i = 0; i < 10; ++i) {
    TWFIELD f = TWNULLHANDLE;
    Text name;
    ASSERT_EQ(TWFieldlistGetField(dest, i + 1, TWSTREAMFMT_NATIVE, &f, name.get()), TWSUCCESS);
    EXPECT_EQ(name.str(), want[i].name);
    EXPECT_EQ(TWFieldGetType(f), want[i].type) << want[i].name;
    EXPECT_EQ((TWFieldGetFlags(f) & TWFIELDF_NO_NULL) != 0, want[i].noNull) << want[i].name;
  }
  // Stream sizes: CHAR fixed 4, VARCHAR2 30, LONG unbounded; numbers keep their digits.
  struct StreamWant {
    uint32_t index, flags, size;
  };
  for (StreamWant s : {StreamWant{6, TWSTREAMF_FIXED, 4}, StreamWant{7, 0, 30},
                       StreamWant{9, TWSTREAMF_FIXED, 8}, StreamWant{10, 0, 0}}) {
    TWFIELD f = TWNULLHANDLE;
    ASSERT_EQ(TWFieldlistGetField(dest, s.index, 0, &f, nullptr), TWSUCCESS);
    uint32_t flags = 0, size = 0, format = 0;
    ASSERT_EQ(TWFieldGetFormatStream(f, &flags, &size, &format), TWSUCCESS);
    EXPECT_EQ(flags & TWSTREAMF_FIXED, s.flags) << s.index;
    EXPECT_EQ(size, s.size) << s.index;
  }
  struct NumberWant {
    uint32_t index, precision;
  };
  for (NumberWant n : {NumberWant{1, 5}, NumberWant{2, 10}, NumberWant{3, 20}, NumberWant{4, 19},
                       NumberWant{5, 38}}) {
    TWFIELD f = TWNULLHANDLE;
    ASSERT_EQ(TWFieldlistGetField(dest, n.index, 0, &f, nullptr), TWSUCCESS);
    uint32_t flags = 0, size = 0, precision = 0;
    int32_t scale = 0;
    ASSERT_EQ(TWFieldGetFormatNumber(f, &flags, &size, &precision, &scale), TWSUCCESS);
    EXPECT_EQ(precision, n.precision) << n.index;
  }
  TWFieldlistFree(dest);
  // An own selection cannot be a writeback one.
  link_.Num(TWTOKEN_WRITEBACK, 1);
  EXPECT_EQ(Exec("SELECT * FROM V"), TWFAIL_PROPERTY_VALUE);
  EXPECT_EQ(link_.c.queryState(), 0);
}

TEST_F(OracleExecute, Catalogues) {
  ASSERT_EQ(Exec("CREATE TABLE T (K NUMBER(5))"), TWSUCCESS);
  uint32_t affected = 0;
  EXPECT_EQ(link_.c.Catalog(TWOBJECT_SERVER, TWNULLHANDLE, &affected), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Catalog(TWOBJECT_DATABASE, TWNULLHANDLE, &affected), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Catalog(TWOBJECT_INDEX, TWNULLHANDLE, &affected), TWFAIL_INVALID_METADATA);
  ASSERT_EQ(link_.c.Catalog(TWOBJECT_METADATA, TWNULLHANDLE, &affected), TWSUCCESS);
  EXPECT_EQ(LastStatement(),
            "SELECT TABLE_NAME, OWNER, COMMENTS FROM ALL_TAB_COMMENTS WHERE OWNER != 'SYS'");
  EXPECT_EQ(TWFieldlistGetCount(link_.c.described()), 3u);
  // A quote in METADATA stays inside the literal.
  link_.Str(TWTOKEN_METADATA, "T') OR ('1'='1");
  ASSERT_EQ(link_.c.Catalog(TWOBJECT_FIELD, TWNULLHANDLE, &affected), TWSUCCESS);
  EXPECT_EQ(LastStatement(),
            "SELECT COLUMN_NAME, OWNER, '' FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = UPPER ('T'') "
            "OR (''1''=''1') ");
  link_.Str(TWTOKEN_METADATA, "t");
  ASSERT_EQ(link_.c.Catalog(TWOBJECT_INDEX, TWNULLHANDLE, &affected), TWSUCCESS);
  EXPECT_EQ(affected, TWCOUNT_UNKNOWN);
  EXPECT_EQ(link_.c.queryState(), 1);
  EXPECT_EQ(link_.c.Action(TWACTION_RESET), TWSUCCESS);
  EXPECT_EQ(link_.c.queryState(), 0);
}

}  // namespace
}  // namespace oracle_test
