// The SQL texts of the ODBC connector and its CREATE TABLE type choice, as tables of cases
// without a data source.
#include "sql_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sqlcli {
namespace {

// ---------------------------------------------------------------- statement texts ------

TEST(SqlTextTest, KeyComparisonPrefersLessWhenNotEqual) {
  constexpr uint32_t K = TWFIELDF_KEY, NE = TWFIELDF_KEY_NE, LT = TWFIELDF_KEY_LT,
                     GT = TWFIELDF_KEY_GT;
  struct Case {
    uint32_t flags;
    std::string_view op;
  } cases[] = {
      {K, "="},           {K | GT, ">="},     {K | LT, "<="},     {K | LT | GT, ">="},
      {K | NE, "<>"},     {K | NE | GT, ">"}, {K | NE | LT, "<"}, {K | NE | LT | GT, "<"},
      {NE | LT | GT, ""},  // not a key field: no term
  };
  for (const Case& c : cases) EXPECT_EQ(KeyComparison(c.flags), c.op) << std::hex << c.flags;
}

TEST(SqlTextTest, Selections) {
  struct Case {
    Selection s;
    std::string text;
  } cases[] = {
      {{.table = "T"}, "SELECT * FROM T"},
      {{.table = "T", .condition = "A>1"}, "SELECT * FROM T WHERE (A>1)"},
      // Columns stand between the quote, the table never does.
      {{.table = "T", .quote = "\"", .fields = {"A", "B"}, .order = {"A"}},
       "SELECT \"A\", \"B\" FROM T ORDER BY \"A\""},
      {{.table = "T", .stampField = "S"}, "SELECT * FROM T WHERE S <= ?"},
      {{.table = "T", .condition = "A>1", .stampField = "S", .baseStamp = true},
       "SELECT * FROM T WHERE (A>1) AND S > ? AND S <= ?"},
      // The window's markers come before the key terms'.
      {{.table = "T", .stampField = "S", .baseStamp = true, .keys = {{"K", "="}}},
       "SELECT * FROM T WHERE S > ? AND S <= ? AND K = ?"},
      {{.table = "T", .quote = "`", .keys = {{"K", ">="}, {"L", "<"}}, .order = {"K", "L"}},
       "SELECT * FROM T WHERE `K` >= ? AND `L` < ? ORDER BY `K`, `L`"},
      {{.table = "T", .fields = {"A"}, .forUpdate = true}, "SELECT A FROM T FOR UPDATE OF A"},
      {{.table = "T", .forUpdate = true}, "SELECT * FROM T FOR UPDATE"},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectText(c.s), c.text);
}

TEST(SqlTextTest, WriteAndTableStatements) {
  const std::vector<KeyTerm> keyA = {{"A", "="}};
  struct Case {
    std::string text, expected;
  } cases[] = {
      {InsertText("T", "", {"A", "B", "C"}), "INSERT INTO T (A, B, C) VALUES (?, ?, ?)"},
      {InsertText("S.T", "\"", {"A"}), "INSERT INTO S.T (\"A\") VALUES (?)"},
      {UpdateText("T", "", {"B"}, keyA, false), "UPDATE T SET B = ? WHERE A = ?"},
      {UpdateText("T", "", {"B", "C"}, {{"A", "="}, {"D", "<>"}}, false),
       "UPDATE T SET B = ?, C = ? WHERE A = ? AND D <> ?"},
      {UpdateText("T", "", {"B"}, keyA, true), "UPDATE T SET B = ? WHERE CURRENT OF QTCURSOR"},
      {RemoveText("T", "'", keyA, false), "DELETE FROM T WHERE 'A' = ?"},
      {RemoveText("T", "", keyA, true), "DELETE FROM T WHERE CURRENT OF QTCURSOR"},
      {DescribeTableText("T"), "SELECT * FROM T WHERE 0=1"},
      {DescribeColumnText("T", "\"", "S"), "SELECT \"S\" FROM T WHERE 0=1"},
      {TruncateText("T"), "TRUNCATE TABLE T"},
      {DeleteAllText("T"), "DELETE FROM T"},
      {DropText("T"), "DROP TABLE T"},
      {CreateText("T", "\"", {{"A", "integer", true}, {"B", "varchar(20)", false}}),
       "CREATE TABLE T (\"A\" integer NOT NULL, \"B\" varchar(20))"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

// ---------------------------------------------------------------- CREATE TABLE types ---

TypeRow Row(int32_t cls, std::string name, bool createParams = false, int32_t precision = 0,
            bool nullable = true) {
  TypeRow row;
  row.cls = cls;
  row.name = std::move(name);
  row.found = true;
  row.createParams = createParams;
  row.precision = precision;
  row.nullable = nullable;
  return row;
}

// A data source with a type for every class, each row named after its class.
TypeTable FullTypes() {
  TypeTable t{};
  const char* names[kClassCount] = {"char",     "varchar", "text",   "decimal",  "numeric",
                                    "smallint", "integer", "real",   "float",    "double",
                                    "bit",      "tinyint", "bigint", "binary",   "varbinary",
                                    "blob",     "date",    "time",   "timestamp"};
  for (int32_t cls = 0; cls < kClassCount; ++cls) t[cls] = Row(cls, names[cls]);
  for (int32_t cls : {kChar, kVarchar, kDecimal, kNumeric, kBinary, kVarbinary})
    t[cls].createParams = true;
  t[kChar].precision = 100;
  t[kVarchar].precision = 0;  // not given: counts as 254
  t[kBinary].precision = 50;
  t[kVarbinary].precision = 300;
  return t;
}

TEST(SqlTextTest, ColumnTypeOfEveryFieldKind) {
  const TypeTable types = FullTypes();
  constexpr uint32_t ZERO = TWSCALE_ZERO;
  struct Case {
    FieldShape f;
    ColumnType want;
    const char* text;
  } cases[] = {
      // INT: flags first, then precision (0: not given), then byte size.
      {{.type = TWTYPE_INT, .formatFlags = TWNUMBERF_BIT, .precision = 8}, {kBit, 8, 0}, "bit"},
      {{.type = TWTYPE_INT, .formatFlags = TWNUMBERF_NUMERIC, .precision = 7, .scale = 2},
       {kNumeric, 7, 2},
       "numeric(7,2)"},
      {{.type = TWTYPE_INT,
        .formatFlags = TWNUMBERF_DECIMAL,
        .precision = 9,
        .scale = (int32_t)ZERO},
       {kDecimal, 9, 0},
       "decimal(9,0)"},
      {{.type = TWTYPE_INT}, {kInteger, 9, 0}, "integer"},
      {{.type = TWTYPE_INT, .byteSize = 4, .scale = 2}, {kInteger, 9, 2}, "integer"},
      {{.type = TWTYPE_INT, .byteSize = 4, .precision = 1}, {kBit, 1, 0}, "bit"},
      {{.type = TWTYPE_INT, .byteSize = 1, .precision = 3}, {kTinyint, 3, 0}, "tinyint"},
      {{.type = TWTYPE_INT, .byteSize = 8, .precision = 3}, {kTinyint, 3, 0}, "tinyint"},
      {{.type = TWTYPE_INT, .precision = 5}, {kSmallint, 5, 0}, "smallint"},
      {{.type = TWTYPE_INT, .precision = 6}, {kInteger, 6, 0}, "integer"},
      {{.type = TWTYPE_INT, .precision = 9}, {kInteger, 9, 0}, "integer"},
      {{.type = TWTYPE_INT, .precision = 10}, {kBigint, 10, 0}, "bigint"},
      {{.type = TWTYPE_INT, .byteSize = 2, .precision = 9}, {kSmallint, 9, 0}, "smallint"},
      {{.type = TWTYPE_INT, .byteSize = 4, .precision = 10}, {kInteger, 10, 0}, "integer"},
      {{.type = TWTYPE_INT, .byteSize = 8, .precision = 9}, {kInteger, 9, 0}, "integer"},
      {{.type = TWTYPE_INT, .byteSize = 8, .precision = 19}, {kBigint, 19, 0}, "bigint"},
      // FLOAT: a precision of 0 is not given and never makes a REAL.
      {{.type = TWTYPE_FLOAT, .formatFlags = TWNUMBERF_DECIMAL, .precision = 12, .scale = 2},
       {kDecimal, 12, 2},
       "decimal(12,2)"},
      {{.type = TWTYPE_FLOAT, .byteSize = 4, .precision = 15}, {kReal, 15, 0}, "real"},
      {{.type = TWTYPE_FLOAT, .precision = 6}, {kReal, 6, 0}, "real"},
      {{.type = TWTYPE_FLOAT, .byteSize = 8, .precision = 15}, {kFloat, 15, 0}, "float"},
      {{.type = TWTYPE_FLOAT}, {kFloat, 0, 0}, "float"},
      {{.type = TWTYPE_CURRENCY, .precision = 19, .scale = 4}, {kNumeric, 19, 4}, "numeric(19,4)"},
      {{.type = TWTYPE_NUMERIC, .precision = 20, .scale = 4}, {kNumeric, 20, 4}, "numeric(20,4)"},
      // A numeric of unknown precision keeps every digit the data source allows.
      {{.type = TWTYPE_NUMERIC}, {kNumeric, 0, 0}, "numeric"},
      {{.type = TWTYPE_DATETIME, .formatFlags = TWDATETIMEF_NO_TIME}, {kDate, 0, 0}, "date"},
      {{.type = TWTYPE_DATETIME, .formatFlags = TWDATETIMEF_NO_DATE}, {kTime, 0, 0}, "time"},
      {{.type = TWTYPE_DATETIME}, {kTimestamp, 0, 0}, "timestamp"},
      // TEXT against CHAR's precision 100 and VARCHAR's 254 (none given).
      {{.type = TWTYPE_TEXT, .formatFlags = TWSTREAMF_FIXED, .length = 100},
       {kChar, 100, 0},
       "char(100)"},
      {{.type = TWTYPE_TEXT, .formatFlags = TWSTREAMF_FIXED, .length = 101},
       {kLongVarchar, 101, 0},
       "text"},
      {{.type = TWTYPE_TEXT, .length = 20}, {kVarchar, 20, 0}, "varchar(20)"},
      {{.type = TWTYPE_TEXT, .length = 254}, {kVarchar, 254, 0}, "varchar(254)"},
      {{.type = TWTYPE_TEXT, .length = 255}, {kLongVarchar, 255, 0}, "text"},
      {{.type = TWTYPE_TEXT}, {kLongVarchar, 0, 0}, "text"},
      // BINARY by stream format, against BINARY's 50 and VARBINARY's 300.
      {{.type = TWTYPE_BINARY, .length = 300, .streamFormat = TWSTREAMFMT_TEXT_LIST},
       {kVarchar, 300, 0},
       "varchar(300)"},
      {{.type = TWTYPE_BINARY,
        .formatFlags = TWSTREAMF_FIXED,
        .length = 51,
        .streamFormat = TWSTREAMFMT_COMPOSITE},
       {kLongVarchar, 51, 0},
       "text"},
      {{.type = TWTYPE_BINARY, .streamFormat = TWSTREAMFMT_NUMBER_LIST}, {kFloat, 0, 0}, "float"},
      {{.type = TWTYPE_BINARY, .streamFormat = TWSTREAMFMT_DATETIME_LIST},
       {kTimestamp, 0, 0},
       "timestamp"},
      {{.type = TWTYPE_BINARY,
        .formatFlags = TWSTREAMF_FIXED,
        .length = 50,
        .streamFormat = TWSTREAMFMT_BLOB},
       {kBinary, 50, 0},
       "binary(50)"},
      {{.type = TWTYPE_BINARY, .formatFlags = TWSTREAMF_FIXED, .length = 51},
       {kLongVarbinary, 51, 0},
       "blob"},
      {{.type = TWTYPE_BINARY, .length = 300}, {kVarbinary, 300, 0}, "varbinary(300)"},
      {{.type = TWTYPE_BINARY, .length = 301}, {kLongVarbinary, 301, 0}, "blob"},
      {{.type = TWTYPE_INVALID}, {kLongVarbinary, 0, 0}, "blob"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ColumnType got = ColumnTypeOfField(c.f, types, false, kUnknown);
    EXPECT_EQ(got.cls, c.want.cls);
    EXPECT_EQ(got.size, c.want.size);
    EXPECT_EQ(got.scale, c.want.scale);
    const TypeRow* row = CreateTypeRow(types, got);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(TypeText(*row, got), c.text);
  }
}

TEST(SqlTextTest, CurrencyTakesTheMoneyType) {
  TypeTable types = FullTypes();
  types[kDecimal] = Row(kDecimal, "money", true, 19);
  types[kDecimal].minScale = 4;
  types[kDecimal].money = true;
  const ColumnType got = ColumnTypeOfField({.type = TWTYPE_CURRENCY}, types, true, kDecimal);
  EXPECT_EQ(got.cls, kDecimal);
  EXPECT_EQ(TypeText(*CreateTypeRow(types, got), got), "money(19,4)");
}

TEST(SqlTextTest, TypeNameTakesTheSizeInItsParentheses) {
  struct Case {
    TypeRow row;
    ColumnType column;
    const char* text;
  } cases[] = {
      {Row(kVarchar, "varchar", true), {kVarchar, 20, 0}, "varchar(20)"},
      {Row(kBinary, "char() for bit data", true), {kBinary, 10, 0}, "char(10) for bit data"},
      {Row(kBinary, "char(n) for bit data", false), {kBinary, 10, 0}, "char for bit data"},
      {Row(kVarchar, "varchar(", true), {kVarchar, 5, 0}, "varchar(5)"},
      {Row(kVarchar, "varchar", false), {kVarchar, 20, 0}, "varchar"},
      // An alternative's class decides the size text: TIMESTAMP borrowed from VARCHAR.
      {Row(kVarchar, "varchar", true), {kTimestamp, 26, 0}, "varchar(26)"},
      {Row(kNumeric, "number", true), {kBigint, 19, 0}, "number(19,0)"},
      {Row(kInteger, "int4", true), {kInteger, 9, 0}, "int4"},
      // No size known: a bare varchar rather than varchar(0).
      {Row(kVarchar, "varchar", true), {kLongVarchar, 0, 0}, "varchar"},
  };
  for (const Case& c : cases) EXPECT_EQ(TypeText(c.row, c.column), c.text);
}

TEST(SqlTextTest, DecimalWithoutTypeClimbsTheLadder) {
  TypeTable types = FullTypes();
  types[kDecimal] = TypeRow{};
  types[kNumeric] = TypeRow{};
  struct Case {
    int32_t size, scale;
    const char* name;
  } cases[] = {
      {7, 2, "real"},    {8, 2, "double"},   {1, 0, "bit"},
      {3, 0, "tinyint"}, {5, 0, "smallint"}, {9, 0, "integer"},
      {18, 0, "bigint"}, {19, 0, "double"},  {0, 0, "double"},  // precision not given
  };
  for (const Case& c : cases) {
    const TypeRow* row = CreateTypeRow(types, {kNumeric, c.size, c.scale});
    ASSERT_NE(row, nullptr) << c.size;
    EXPECT_EQ(row->name, c.name) << c.size << "," << c.scale;
  }
  types[kBigint] = TypeRow{};
  EXPECT_EQ(CreateTypeRow(types, {kDecimal, 12, 0}), nullptr);
}

TEST(SqlTextTest, CreateColumnsSkipAndRefuse) {
  TypeTable types = FullTypes();
  types[kVarchar].nullable = true;
  types[kTimestamp].nullable = false;
  const std::vector<CreateField> fields = {
      {"A", TWFIELDF_NO_NULL, {.type = TWTYPE_INT, .byteSize = 4, .precision = 9}},
      {"SKIP", TWFIELDF_NO_CREATE, {.type = TWTYPE_INVALID}},
      {"B", 0, {.type = TWTYPE_TEXT, .length = 20}},
      {"C", 0, {.type = TWTYPE_DATETIME}},
  };
  std::vector<CreateColumn> columns;
  std::string unsupported;
  ASSERT_TRUE(CreateColumns(fields, types, false, kUnknown, true, columns, &unsupported));
  EXPECT_EQ(CreateText("T", "", columns),
            "CREATE TABLE T (A integer NOT NULL, B varchar(20), C timestamp NOT NULL)");
  // Without non-nullable columns at the data source nothing says NOT NULL.
  ASSERT_TRUE(CreateColumns(fields, types, false, kUnknown, false, columns, &unsupported));
  EXPECT_EQ(CreateText("T", "", columns), "CREATE TABLE T (A integer, B varchar(20), C timestamp)");

  types[kTimestamp] = TypeRow{};
  EXPECT_FALSE(CreateColumns(fields, types, false, kUnknown, true, columns, &unsupported));
  EXPECT_EQ(unsupported, "C");
  EXPECT_EQ(UnsupportedTypeText("C"),
            "Column C's datatype is not supported by the underlying database.  Exclude this "
            "column from transfers, or change its datatype to one that is supported by the "
            "target database.");
}

}  // namespace
}  // namespace sqlcli
