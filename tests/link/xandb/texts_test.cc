// The statement texts of the Xandb connector: every text the client receives, as the client
// records it (before its dialect shim rewrites it), for selections, writes, definitions and
// emptying a table; and the column type of CREATE TABLE for each kind of field.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sql_text.h"
#include "xandb_test_util.h"

namespace xandb_test {
namespace {

using xandb::FieldShape;
using xandb::TypeLimits;

// A fresh table T (ID, NAME, STAMP) of two rows on a SQLite data source.
class Texts : public ::testing::Test {
 protected:
  void SetUp() override {
    Direct direct(lite_.source());
    direct.ExecAll({"DROP TABLE IF EXISTS T",
                    "CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), STAMP TIMESTAMP)",
                    "INSERT INTO T VALUES (1, 'one', '2026-01-01 10:00:00')",
                    "INSERT INTO T VALUES (2, 'two', '2026-01-02 10:00:00')"});
  }
  Env env_;
  SqliteSource lite_;
};

// A list of one record: ID (an INT key unless keyFlags is 0), NAME.
struct Fields {
  explicit Fields(uint32_t keyFlags = TWFIELDF_KEY) : list(1) {
    TWFIELD id = list.Add("ID", TWTYPE_INT);
    EXPECT_EQ(TWFieldSetFlags(id, keyFlags), TWSUCCESS);
    int32_t one = 1;
    EXPECT_EQ(TWFieldSetInt(id, 1, &one), TWSUCCESS);
    SetValue(list.Add("NAME", TWTYPE_TEXT), 1, "uno");
  }
  List list;
};

struct TextCase {
  const char* what;
  std::function<void(Link&)> run;  // sets properties and calls the connector
  std::vector<std::string> texts;  // what the client receives, in order
};

TEST_F(Texts, EachStatementAsTheClientReceivesIt) {
  uint32_t n = 0;
  auto select = [&](Link& l) {
    EXPECT_EQ(l.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &n), TWSUCCESS);
  };
  auto keyed = [&](Link& l) {
    Fields keys;
    EXPECT_EQ(l.c.Select(keys.list.get(), 1, TWNULLHANDLE, &n), TWSUCCESS) << LogLast().text;
  };
  const TextCase cases[] = {
      {"all columns", select, {"SELECT * FROM T"}},
      {"FIELD_LIST",
       [&](Link& l) {
         l.Str(TWTOKEN_FIELD_LIST, "ID,NAME");
         select(l);
       },
       {"SELECT ID,NAME FROM T"}},
      {"CONDITION, two blanks after WHERE",
       [&](Link& l) {
         l.Str(TWTOKEN_CONDITION, "ID > 0");
         select(l);
       },
       {"SELECT * FROM T WHERE  (ID > 0) "}},
      {"a key", keyed, {"SELECT * FROM T WHERE ID=?"}},
      {"a key after the CONDITION, two blanks before AND",
       [&](Link& l) {
         l.Str(TWTOKEN_CONDITION, "NAME <> 'x'");
         keyed(l);
       },
       {"SELECT * FROM T WHERE  (NAME <> 'x')  AND ID=?"}},
      {"a greater-than key",
       [&](Link& l) {
         Fields keys(TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE);
         EXPECT_EQ(l.c.Select(keys.list.get(), 1, TWNULLHANDLE, &n), TWSUCCESS);
       },
       {"SELECT * FROM T WHERE ID>?"}},
      {"ORDER_LIST",
       [&](Link& l) {
         l.Str(TWTOKEN_ORDER_LIST, "NAME,ID");
         select(l);
       },
       {"SELECT * FROM T ORDER BY NAME,ID"}},
      {"FOR UPDATE without OF",
       [&](Link& l) {
         l.Num(TWTOKEN_WRITEBACK, 1);
         select(l);
       },
       {"SELECT * FROM T FOR UPDATE "}},
      {"FOR UPDATE OF the fields, two blanks before OF",
       [&](Link& l) {
         l.Num(TWTOKEN_WRITEBACK, 1).Str(TWTOKEN_FIELD_LIST, "ID,NAME");
         select(l);
       },
       {"SELECT ID,NAME FROM T FOR UPDATE  OF ID,NAME"}},
      {"no FOR UPDATE under an order",
       [&](Link& l) {
         l.Num(TWTOKEN_WRITEBACK, 1).Str(TWTOKEN_ORDER_LIST, "ID");
         select(l);
       },
       {"SELECT * FROM T ORDER BY ID"}},
      {"insert, after the table's description",
       [&](Link& l) {
         Fields f(0);
         EXPECT_EQ(l.c.Insert(f.list.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
       },
       {"SELECT * FROM T WHERE 0 = 1", "INSERT INTO T (ID,NAME) VALUES (?,?) "}},
      {"keyed update under a CONDITION",
       [&](Link& l) {
         l.Str(TWTOKEN_CONDITION, "ID < 9");
         Fields f;
         EXPECT_EQ(l.c.Update(f.list.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
       },
       {"SELECT * FROM T WHERE 0 = 1", "UPDATE T SET ID=?,NAME=? WHERE  (ID < 9)  AND ID=?"}},
      {"keyed delete",
       [&](Link& l) {
         Fields f;
         EXPECT_EQ(l.c.Remove(f.list.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
       },
       {"SELECT * FROM T WHERE 0 = 1", "DELETE FROM T WHERE ID=?"}},
      {"delete by CONDITION alone",
       [&](Link& l) {
         l.Str(TWTOKEN_CONDITION, "ID = 2");
         EXPECT_EQ(l.c.Remove(TWNULLHANDLE, 1, 1, &n), TWSUCCESS) << LogLast().text;
       },
       {"SELECT * FROM T WHERE 0 = 1", "DELETE FROM T WHERE  (ID = 2) "}},
      {"index",
       [&](Link& l) {
         l.Str(TWTOKEN_INDEX, "TI");
         Fields f;
         EXPECT_EQ(l.c.Create(TWOBJECT_INDEX, f.list.get()), TWSUCCESS) << LogLast().text;
         EXPECT_EQ(l.c.Drop(TWOBJECT_INDEX), TWSUCCESS) << LogLast().text;
       },
       {"CREATE INDEX TI ON T (ID) ", "DROP INDEX TI"}},
      {"table",
       [&](Link& l) {
         l.Table("N");
         Fields f;
         EXPECT_EQ(TWFieldSetFlags(f.list.Field(1), TWFIELDF_NO_NULL), TWSUCCESS);
         EXPECT_EQ(TWFieldSetFormatStream(f.list.Field(2), 0, 12, 0), TWSUCCESS);
         EXPECT_EQ(l.c.Create(TWOBJECT_METADATA, f.list.get()), TWSUCCESS) << LogLast().text;
         EXPECT_EQ(l.c.Drop(TWOBJECT_METADATA), TWSUCCESS) << LogLast().text;
       },
       {"CREATE TABLE N (ID INTEGER NOT NULL,NAME VARCHAR (12) ) ", "DROP TABLE N"}},
      {"truncate",
       [&](Link& l) { EXPECT_EQ(l.c.Action(TWACTION_TRUNCATE), TWSUCCESS); },
       {"DELETE FROM T"}},
  };
  for (const TextCase& k : cases) {
    SetUp();
    Recording recording;
    Link link;
    ASSERT_EQ(link.Connect(lite_.source()), TWSUCCESS) << k.what;
    link.Table("T");
    k.run(link);
    EXPECT_EQ(recording.Take(), k.texts) << k.what;
    link.Str(TWTOKEN_METADATA, "T");
    ASSERT_EQ(link.c.Drop(TWOBJECT_METADATA), TWSUCCESS) << k.what;
  }
}

TEST_F(Texts, PositionedWritesNameTheSelectionsOwnShortCursor) {
  Recording recording;
  Link link;
  ASSERT_EQ(link.Connect(lite_.source()), TWSUCCESS);
  link.Table("T");
  link.Num(TWTOKEN_WRITEBACK, 1);
  uint32_t n = 0;
  List row(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, row.get(), &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(row.get(), 1, 1, &n), TWSUCCESS);
  Fields f(0);
  ASSERT_EQ(link.c.Update(f.list.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
  ASSERT_EQ(link.c.Remove(TWNULLHANDLE, 1, 1, &n), TWSUCCESS) << LogLast().text;
  const std::vector<std::string> texts = recording.Take();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], "SELECT * FROM T FOR UPDATE ");
  const std::string cursor = link.c.select.cursor;
  EXPECT_LE(cursor.size(), 18u);
  EXPECT_EQ(texts[1], "UPDATE T SET ID=?,NAME=? WHERE CURRENT OF " + cursor);
  EXPECT_EQ(texts[2], "DELETE FROM T WHERE CURRENT OF " + cursor);
}

TEST_F(Texts, TheStampWindowAsksTheServerForItsTime) {
  Recording recording;
  Link link;
  ASSERT_EQ(link.Connect(lite_.source()), TWSUCCESS);
  link.Table("T");
  link.Str(TWTOKEN_STAMPFIELD, "STAMP");
  uint32_t n = 0;
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &n), TWSUCCESS) << LogLast().text;
  // MAXSTAMP becomes the server's time less one second, and bounds the window.
  TWDatetime max{};
  TWFIELD f = TWNULLHANDLE;
  ASSERT_EQ(TWFieldAlloc(&f, TWTYPE_DATETIME, 1), TWSUCCESS);
  ASSERT_EQ(link.c.GetProperty(TWTOKEN_MAXSTAMP, f), TWSUCCESS);
  ASSERT_EQ(TWFieldGetDatetime(f, 1, &max, nullptr), TWSUCCESS);
  TWFieldFree(f);
  TWDatetimeParts p{};
  ASSERT_EQ(TWDatetimeGetParts(&max, TWPARTSF_LOCAL, &p), TWSUCCESS);
  const std::string upper = xandb::TimestampLiteral(p);
  // Without BASESTAMP the window has no lower end.
  const std::vector<std::string> first = recording.Take();
  EXPECT_EQ(first, (std::vector<std::string>{"VALUES CURRENT TIMESTAMP",
                                             "SELECT * FROM T WHERE  (STAMP <= " + upper + ") "}));
  TWDatetime base{};
  TWDatetimeParts b{2025, 6, 1, 0, 12, 30, 15, 7, 0, 0};
  ASSERT_EQ(TWDatetimeSetParts(&base, &b, TWPARTSF_LOCAL), TWSUCCESS);
  ASSERT_EQ(TWFieldAlloc(&f, TWTYPE_DATETIME, 1), TWSUCCESS);
  ASSERT_EQ(TWFieldSetDatetime(f, 1, &base), TWSUCCESS);
  ASSERT_EQ(link.c.SetProperty(TWTOKEN_BASESTAMP, f), TWSUCCESS);
  TWFieldFree(f);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &n), TWSUCCESS);
  const std::vector<std::string> second = recording.Take();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].rfind("SELECT * FROM T WHERE  (STAMP >  TIMESTAMP ('2025-06-01-12.30.15.07')"
                            "  AND STAMP <=  TIMESTAMP ('",
                            0),
            0u)
      << second[1];
}

// ---------------------------------------------------------------- column types ---------

struct TypeCase {
  const char* what;
  FieldShape shape;
  std::optional<std::string> type;
  int32_t serverKind = 0;
  uint32_t createMaxLogged = 0;
};

TEST(XandbColumnType, EachKindOfField) {
  TypeLimits limits;
  for (auto [type, size, searchable] : {std::tuple{SQL_CHAR, 254, 3},
                                        {SQL_VARCHAR, 32672, 3},
                                        {SQL_LONGVARCHAR, 32700, 1},
                                        {xandb::kSqlClob, 2147483647, 1},
                                        {SQL_BINARY, 254, 3},
                                        {SQL_VARBINARY, 32672, 3},
                                        {SQL_LONGVARBINARY, 32700, 1},
                                        {xandb::kSqlBlob, 2147483647, 1}})
    ASSERT_TRUE(xandb::TakeTypeRow(limits, type, size, searchable));
  constexpr uint32_t kZero = TWSCALE_ZERO, kBlob = TWSTREAMFMT_BLOB;
  const TypeCase cases[] = {
      {"int", {TWTYPE_INT, 0, 4}, "INTEGER"},
      {"int of no stated size", {TWTYPE_INT}, "INTEGER"},
      {"short int", {TWTYPE_INT, 0, 2}, "SMALLINT"},
      {"bit", {TWTYPE_INT, TWNUMBERF_BIT, 4}, "SMALLINT"},
      {"decimal int", {TWTYPE_INT, TWNUMBERF_DECIMAL, 4}, "DECIMAL"},
      {"int of a precision", {TWTYPE_INT, 0, 4, 9}, "NUMERIC (9) "},
      {"double", {TWTYPE_FLOAT, 0, 8}, "DOUBLE"},
      {"double on server kind 1", {TWTYPE_FLOAT, 0, 8}, "FLOAT", 1},
      {"double on server kind 2", {TWTYPE_FLOAT, 0, 8}, "FLOAT", 2},
      {"decimal float",
       {TWTYPE_FLOAT, TWNUMBERF_DECIMAL, 8, 10, static_cast<int32_t>(kZero)},
       "DECIMAL (10) "},
      {"float of a scale", {TWTYPE_FLOAT, 0, 8, 10, 2}, "NUMERIC (10,2) "},
      {"numeric float",
       {TWTYPE_FLOAT, TWNUMBERF_NUMERIC, 8, 8, static_cast<int32_t>(kZero)},
       "NUMERIC (8) "},
      {"currency", {TWTYPE_CURRENCY}, "NUMERIC (19,4)"},
      {"numeric cut to 31", {TWTYPE_NUMERIC, 0, 0, 40, 50}, "NUMERIC (31,31) "},
      {"decimal without scale",
       {TWTYPE_NUMERIC, TWNUMBERF_DECIMAL, 0, 12, static_cast<int32_t>(kZero)},
       "DECIMAL (12) "},
      {"date", {TWTYPE_DATETIME, TWDATETIMEF_NO_TIME}, "DATE"},
      {"time", {TWTYPE_DATETIME, TWDATETIMEF_NO_DATE}, "TIME"},
      {"timestamp", {TWTYPE_DATETIME}, "TIMESTAMP"},
      {"fixed text", {TWTYPE_TEXT, TWSTREAMF_FIXED, 0, 0, 0, 10}, "CHAR (10) "},
      {"text", {TWTYPE_TEXT, 0, 0, 0, 0, 100}, "VARCHAR (100) "},
      {"long text", {TWTYPE_TEXT, 0, 0, 0, 0, 32700}, "LONG VARCHAR"},
      {"clob", {TWTYPE_TEXT, 0, 0, 0, 0, 40000}, "CLOB (40000) "},
      {"clob above CreateMaxLogged",
       {TWTYPE_TEXT, 0, 0, 0, 0, 40000},
       "CLOB (40000)  NOT LOGGED COMPACT",
       0,
       1000},
      {"unbounded text", {TWTYPE_TEXT}, "CLOB (2147483647) "},
      {"text list", {TWTYPE_BINARY, 0, 0, 0, 0, 30, TWSTREAMFMT_TEXT_LIST}, "VARCHAR (30) "},
      {"fixed binary",
       {TWTYPE_BINARY, TWSTREAMF_FIXED, 0, 0, 0, 8, kBlob},
       "CHAR (8)  FOR BIT DATA"},
      {"binary", {TWTYPE_BINARY, 0, 0, 0, 0, 100, kBlob}, "VARCHAR (100)  FOR BIT DATA"},
      {"long binary", {TWTYPE_BINARY, 0, 0, 0, 0, 32700, kBlob}, "LONG VARCHAR FOR BIT DATA"},
      {"blob above CreateMaxLogged",
       {TWTYPE_BINARY, 0, 0, 0, 0, 50000, kBlob},
       "BLOB (50000)  NOT LOGGED COMPACT",
       0,
       100},
      {"number list", {TWTYPE_BINARY, 0, 0, 0, 0, 0, TWSTREAMFMT_NUMBER_LIST}, "DOUBLE"},
      {"datetime list", {TWTYPE_BINARY, 0, 0, 0, 0, 0, TWSTREAMFMT_DATETIME_LIST}, "TIMESTAMP"},
      {"no type", {TWTYPE_INVALID}, std::nullopt},
  };
  for (const TypeCase& k : cases)
    EXPECT_EQ(xandb::ColumnType(k.shape, limits, k.serverKind, k.createMaxLogged), k.type)
        << k.what;
  // A data source without character types gives a text field no column.
  EXPECT_EQ(xandb::ColumnType({TWTYPE_TEXT, 0, 0, 0, 0, 10}, TypeLimits{}, 0, 0), std::nullopt);
  // NOT NULL follows the size part's blank, or the type directly.
  EXPECT_EQ(xandb::ColumnDefinition("A", "CHAR (10) ", true), "A CHAR (10)  NOT NULL");
  EXPECT_EQ(xandb::ColumnDefinition("B", "INTEGER", true), "B INTEGER NOT NULL");
}

}  // namespace
}  // namespace xandb_test
