// CREATE TABLE and INDEX, DROP and TRUNCATE through the Oracle connector: the texts the server
// receives (its statement log), what they make, and their failures.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "oracle_test_util.h"

namespace oracle_test {
namespace {

using twtest::Text;

// A field of a list to create from: name, type, flags and format.
struct FieldSpec {
  const char* name;
  uint32_t type;
  uint32_t flags = 0;
  uint32_t size = 0;  // stream size or number precision
  int32_t scale = 0;
  uint32_t streamFlags = 0;
  uint32_t streamFormat = 0;
  uint32_t numberFlags = 0;
};

TWFIELDLIST MakeList(const std::vector<FieldSpec>& specs) {
  TWFIELDLIST list = TWNULLHANDLE;
  EXPECT_EQ(TWFieldlistAlloc(&list, 1, 0), TWSUCCESS);
  for (const FieldSpec& s : specs) {
    TWFIELD f = TWNULLHANDLE;
    Text name(s.name);
    EXPECT_EQ(TWFieldlistAppend(list, name.get(), s.type, &f), TWSUCCESS);
    if (s.flags) {
      EXPECT_EQ(TWFieldSetFlags(f, s.flags), TWSUCCESS);
    }
    if (s.type == TWTYPE_TEXT || s.type == TWTYPE_BINARY) {
      if (s.size || s.streamFormat || s.streamFlags) {
        EXPECT_EQ(TWFieldSetFormatStream(f, s.streamFlags, s.size, s.streamFormat), TWSUCCESS);
      }
    } else if (s.type != TWTYPE_DATETIME && (s.size || s.scale || s.numberFlags)) {
      EXPECT_EQ(TWFieldSetFormatNumber(f, s.numberFlags, 0, s.size, s.scale), TWSUCCESS);
    }
  }
  return list;
}

class OracleDefinition : public Connected {
 protected:
  uint32_t CreateTable(const std::vector<FieldSpec>& specs) {
    TWFIELDLIST list = MakeList(specs);
    uint32_t st = link_.c.Create(TWOBJECT_METADATA, list);
    TWFieldlistFree(list);
    return st;
  }
};

TEST_F(OracleDefinition, CreateTableTypeRows) {
  struct Case {
    std::vector<FieldSpec> fields;
    int32_t longByUser;
    const char* longColumn;
    const char* text;
  };
  const uint32_t kBlob = TWSTREAMFMT_BLOB;
  const Case cases[] = {
      {{{"I", TWTYPE_INT, TWFIELDF_NO_NULL, 5}, {"J", TWTYPE_INT}}, 0, "",
       "CREATE TABLE T (I NUMBER(00005) NOT NULL,J NUMBER (9,0)) "},
      {{{"F", TWTYPE_FLOAT, 0, 10, 2}, {"G", TWTYPE_FLOAT, 0, 15}, {"H", TWTYPE_FLOAT}}, 0, "",
       "CREATE TABLE T (F NUMBER(00010,00002),G FLOAT(00050),H FLOAT(00053)) "},
      {{{"C", TWTYPE_CURRENCY}, {"N", TWTYPE_NUMERIC, 0, 20, 0x7FFFFFFF}, {"D", TWTYPE_DATETIME}},
       0, "", "CREATE TABLE T (C NUMBER (19,4),N NUMBER(00020,00000),D DATE) "},
      {{{"S", TWTYPE_TEXT, 0, 30}, {"X", TWTYPE_TEXT, 0, 4, 0, TWSTREAMF_FIXED},
        {"R", TWTYPE_BINARY, 0, 16, 0, 0, kBlob}},
       0, "", "CREATE TABLE T (S VARCHAR2(00030),X CHAR(00004),R RAW(00016)) "},
      // Two unbounded texts: the first becomes LONG, the second VARCHAR2(02000).
      {{{"A", TWTYPE_TEXT}, {"B", TWTYPE_TEXT}}, 0, "",
       "CREATE TABLE T (A LONG,B VARCHAR2(02000)) "},
      // CreateLongByUser other than 0 to 2 chooses automatically, as 0 does.
      {{{"A", TWTYPE_TEXT}, {"B", TWTYPE_TEXT}}, 3, "B",
       "CREATE TABLE T (A LONG,B VARCHAR2(02000)) "},
      {{{"A", TWTYPE_TEXT, 0, 10}, {"B", TWTYPE_BINARY, 0, 0, 0, 0, kBlob}}, -1, "",
       "CREATE TABLE T (A VARCHAR2(00010),B LONG RAW) "},
      {{{"A", TWTYPE_TEXT}, {"B", TWTYPE_BINARY, 0, 0, 0, 0, kBlob}}, 1, "B",
       "CREATE TABLE T (A VARCHAR2(02000),B LONG RAW) "},
      {{{"A", TWTYPE_TEXT}, {"B", TWTYPE_BINARY, 0, 0, 0, 0, kBlob}}, 2, "",
       "CREATE TABLE T (A VARCHAR2(02000),B RAW(00255)) "},
      {{{"A", TWTYPE_TEXT, TWFIELDF_NO_CREATE}, {"B", TWTYPE_TEXT, 0, 10}}, 0, "",
       "CREATE TABLE T (B VARCHAR2(00010)) "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    link_.Str(TWTOKEN_METADATA, "T").Num(oracle::kCreateLongByUser, c.longByUser);
    link_.Str(oracle::kCreateLongColumn, c.longColumn);
    ASSERT_EQ(CreateTable(c.fields), TWSUCCESS);
    EXPECT_EQ(LastStatement(), c.text);
    ASSERT_EQ(link_.c.Drop(TWOBJECT_METADATA), TWSUCCESS);
    EXPECT_EQ(LastStatement(), "DROP TABLE T");
  }
}

TEST_F(OracleDefinition, CreateFailures) {
  link_.Str(TWTOKEN_METADATA, "T").Num(oracle::kCreateLongByUser, 1);
  link_.Str(oracle::kCreateLongColumn, "NOPE");
  EXPECT_EQ(CreateTable({{"A", TWTYPE_TEXT}}), TWFAIL_PROPERTY_VALUE);
  link_.Str(oracle::kCreateLongColumn, "A");
  EXPECT_EQ(CreateTable({{"A", TWTYPE_INT}}), TWFAIL_FIELD_TYPE);
  link_.Num(oracle::kCreateLongByUser, 0);
  // A reserved word as a column name: the server's offset names it.
  EXPECT_EQ(CreateTable({{"ID", TWTYPE_INT}, {"LEVEL", TWTYPE_INT}}), TWFAIL_INVALID_FIELDNAME);
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, TWFAIL_INVALID_FIELDNAME);
  EXPECT_NE(last.text.find("'LEVEL'"), std::string::npos) << last.text;
  link_.Str(TWTOKEN_METADATA, "");
  EXPECT_EQ(CreateTable({{"A", TWTYPE_INT}}), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(link_.c.Create(2, TWNULLHANDLE), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Drop(5), TWFAIL_UNAVAILABLE);
}

TEST_F(OracleDefinition, IndexDropAndTruncate) {
  link_.Str(TWTOKEN_METADATA, "T").Num(oracle::kCommitFrequency, 5);
  ASSERT_EQ(CreateTable({{"K", TWTYPE_INT, 0, 5}, {"V", TWTYPE_TEXT, 0, 10}}), TWSUCCESS);
  EXPECT_EQ(link_.c.sinceCommit(), 1u) << "a create counts one unit";
  EXPECT_EQ(link_.c.Drop(TWOBJECT_INDEX), TWFAIL_MISSING_PROPERTY);
  link_.Str(TWTOKEN_INDEX, "TK");
  TWFIELDLIST list = MakeList({{"K", TWTYPE_INT, TWFIELDF_KEY}, {"V", TWTYPE_TEXT}});
  ASSERT_EQ(link_.c.Create(TWOBJECT_INDEX, list), TWSUCCESS);
  TWFieldlistFree(list);
  EXPECT_EQ(LastStatement(), "CREATE INDEX TK ON T (K) ");
  ASSERT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWSUCCESS);
  EXPECT_EQ(LastStatement(), "TRUNCATE TABLE T");
  EXPECT_EQ(link_.c.sinceCommit(), 3u);
  ASSERT_EQ(link_.c.Drop(TWOBJECT_INDEX), TWSUCCESS);
  EXPECT_EQ(LastStatement(), "DROP INDEX TK");
  EXPECT_EQ(link_.c.sinceCommit(), 3u) << "a drop counts nothing";
  // A missing table: 12545, logged naming it for TRUNCATE, unlogged for DROP.
  link_.Str(TWTOKEN_METADATA, "GONE");
  EXPECT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWFAIL_INVALID_METADATA);
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, TWFAIL_INVALID_METADATA);
  EXPECT_NE(last.text.find("GONE"), std::string::npos) << last.text;
  EXPECT_EQ(link_.c.Drop(TWOBJECT_METADATA), TWFAIL_INVALID_METADATA);
  // A name longer than any fixed buffer reaches the server whole.
  std::string longName(300, 'X');
  link_.Str(TWTOKEN_METADATA, longName);
  EXPECT_EQ(link_.c.Drop(TWOBJECT_METADATA), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(LastStatement(), "DROP TABLE " + longName);
}

}  // namespace
}  // namespace oracle_test
