// Tests of the ODBC connector's value transfer: the field formats of described columns, the
// C type chosen for each pair of field and column, and values through both real drivers
// (the SQLite ODBC driver, and PostgreSQL's when TW_PG_PORT is set): every field type, nulls,
// long values in pieces, datetimes, numeric precision, lists, overflow, and the end of a
// result.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sqlcli_test_util.h"

namespace sqlcli_test {
namespace {

using sqlcli::ColumnRecord;
using sqlcli::ColumnRecords;
using sqlcli::Direction;
using sqlcli::FieldFormat;
using sqlcli::FormatOfColumn;
using sqlcli::TypeTable;

ColumnRecord Column(int32_t cls, SQLULEN size, SQLSMALLINT scale = 0,
                    SQLSMALLINT nullable = SQL_NULLABLE) {
  ColumnRecord c;
  c.cls = cls;
  c.size = size;
  c.scale = scale;
  c.nullable = nullable;
  c.name = "C";
  return c;
}

// ---------------------------------------------------------------- formats ---------------

struct FormatCase {
  const char* what;
  int32_t cls;
  SQLULEN size;
  SQLSMALLINT scale;
  FieldFormat want;
  SQLSMALLINT nullable = SQL_NULLABLE;
};

TEST(SqlcliFormat, EachClass) {
  using enum sqlcli::SqlClass;
  constexpr uint32_t kZero = TWSCALE_ZERO, kNative = TWSTREAMFMT_NATIVE, kBlob = TWSTREAMFMT_BLOB,
                     kFixed = TWSTREAMF_FIXED, kNoNull = TWFIELDF_NO_NULL;
  constexpr SQLSMALLINT kNotNull = SQL_NO_NULLS;
  const FormatCase cases[] = {
      {"char", kChar, 5, 0, {TWTYPE_TEXT, TWSTREAMF_FIXED, 0, 0, 5, kNative}},
      {"char of no size is not fixed", kChar, 0, 0, {TWTYPE_TEXT, 0, 0, 0, 0, kNative}},
      {"varchar", kVarchar, 10, 0, {TWTYPE_TEXT, 0, 0, 0, 10, kNative}},
      {"long varchar", kLongVarchar, 8190, 0, {TWTYPE_TEXT, 0, 0, 0, 0, kNative}},
      {"decimal(12,2)", kDecimal, 12, 2, {TWTYPE_FLOAT, TWNUMBERF_DECIMAL, 8, 12, 2}},
      {"decimal(9,0)", kDecimal, 9, 0, {TWTYPE_INT, TWNUMBERF_DECIMAL, 4, 9, kZero}},
      {"decimal(10,0)", kDecimal, 10, 0, {TWTYPE_FLOAT, TWNUMBERF_DECIMAL, 8, 10, kZero}},
      {"decimal(20,4)", kDecimal, 20, 4, {TWTYPE_NUMERIC, TWNUMBERF_DECIMAL, 0, 20, 4}},
      {"numeric(12,2)", kNumeric, 12, 2, {TWTYPE_FLOAT, TWNUMBERF_NUMERIC, 8, 12, 2}},
      {"numeric(9,0)", kNumeric, 9, 0, {TWTYPE_INT, TWNUMBERF_NUMERIC, 4, 9, kZero}},
      {"numeric(20,4)", kNumeric, 20, 4, {TWTYPE_NUMERIC, 0, 0, 20, 4}},
      {"numeric of unknown size", kNumeric, 0, 0, {TWTYPE_NUMERIC, 0, 0, 0, kZero}},
      {"smallint", kSmallint, 5, 0, {TWTYPE_INT, 0, 2, 5, 0}},
      {"integer", kInteger, 10, 0, {TWTYPE_INT, 0, 4, 9, 0}},
      {"real", kReal, 7, 0, {TWTYPE_FLOAT, 0, 4, 7, 0}},
      {"float", kFloat, 17, 0, {TWTYPE_FLOAT, 0, 8, 15, 0}},
      {"double", kDouble, 15, 0, {TWTYPE_FLOAT, 0, 8, 15, 0}},
      {"bit", kBit, 1, 0, {TWTYPE_INT, TWNUMBERF_BIT, 0, 1, 0}},
      {"tinyint", kTinyint, 3, 0, {TWTYPE_INT, 0, 1, 3, 0}},
      {"bigint", kBigint, 19, 0, {TWTYPE_INT, 0, 8, 9, 0}},
      {"binary", kBinary, 16, 0, {TWTYPE_BINARY, TWSTREAMF_FIXED, 0, 0, 16, kBlob}},
      {"varbinary", kVarbinary, 16, 0, {TWTYPE_BINARY, 0, 0, 0, 16, kBlob}},
      {"long varbinary", kLongVarbinary, 65536, 0, {TWTYPE_BINARY, 0, 0, 0, 0, kBlob}},
      {"date", kDate, 10, 0, {TWTYPE_DATETIME, TWDATETIMEF_NO_TIME}},
      {"time", kTime, 8, 0, {TWTYPE_DATETIME, TWDATETIMEF_NO_DATE | TWDATETIMEF_SECOND}},
      {"timestamp", kTimestamp, 26, 6, {TWTYPE_DATETIME, 0}},
      {"timestamp(0)", kTimestamp, 19, 0, {TWTYPE_DATETIME, TWDATETIMEF_SECOND}},
      {"timestamp(1)", kTimestamp, 21, 1, {TWTYPE_DATETIME, TWDATETIMEF_TENTH}},
      {"timestamp(2)", kTimestamp, 22, 2, {TWTYPE_DATETIME, 0}},
      {"unknown", kUnknown, 16, 0, {TWTYPE_INVALID}},
      // Not nullable is a field flag, apart from the format flags (FIXED is 0x1 as well).
      {"char not null", kChar, 5, 0, {TWTYPE_TEXT, kFixed, 0, 0, 5, kNative, kNoNull}, kNotNull},
      {"nullable unknown", kInteger, 10, 0, {TWTYPE_INT, 0, 4, 9}, SQL_NULLABLE_UNKNOWN},
  };
  const TypeTable types{};
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.what);
    const FieldFormat got = FormatOfColumn(Column(c.cls, c.size, c.scale, c.nullable), types);
    EXPECT_EQ(got.type, c.want.type);
    EXPECT_EQ(got.flags, c.want.flags);
    EXPECT_EQ(got.byteSize, c.want.byteSize);
    EXPECT_EQ(got.precision, c.want.precision);
    EXPECT_EQ(got.scaleOrLength, c.want.scaleOrLength);
    EXPECT_EQ(got.streamFormat, c.want.streamFormat);
    EXPECT_EQ(got.fieldFlags, c.want.fieldFlags);
  }
}

TEST(SqlcliFormat, MoneyRowGivesCurrency) {
  TypeTable types{};
  types[sqlcli::kDecimal].money = true;
  const FieldFormat money = FormatOfColumn(Column(sqlcli::kDecimal, 19, 4), types);
  EXPECT_EQ(money.type, uint32_t{TWTYPE_CURRENCY});
  EXPECT_EQ(money.precision, 19u);
  EXPECT_EQ(money.scaleOrLength, 4u);
  EXPECT_EQ(FormatOfColumn(Column(sqlcli::kDecimal, 19, 0), types).scaleOrLength,
            uint32_t{TWSCALE_ZERO});
  EXPECT_EQ(FormatOfColumn(Column(sqlcli::kNumeric, 19, 4), types).type, uint32_t{TWTYPE_NUMERIC});
}

// ---------------------------------------------------------------- C-type choice ---------

// The set-up of one engine field.
struct FieldSpec {
  uint32_t type = TWTYPE_INT;
  uint32_t flags = 0;      // TWFIELDF_*
  uint32_t dtFlags = 0;    // TWDATETIMEF_*
  uint32_t length = 0;     // streams
  uint32_t format = 0;     // streams
  uint32_t precision = 0;  // numbers
};

void Shape(TWFIELD f, const FieldSpec& spec) {
  ASSERT_EQ(TWFieldSetFlags(f, spec.flags), TWSUCCESS);
  if (spec.type == TWTYPE_DATETIME) {
    ASSERT_EQ(TWFieldSetFormatDatetime(f, spec.dtFlags, 0), TWSUCCESS);
  }
  if (spec.type == TWTYPE_TEXT || spec.type == TWTYPE_BINARY) {
    ASSERT_EQ(TWFieldSetFormatStream(f, 0, spec.length, spec.format), TWSUCCESS);
  }
  if (spec.precision != 0) {
    ASSERT_EQ(TWFieldSetFormatNumber(f, 0, 0, spec.precision, 0), TWSUCCESS);
  }
}

struct ChoiceCase {
  const char* what;
  FieldSpec field;
  int32_t cls;
  SQLULEN size;
  Direction direction;
  uint32_t status;
  SQLSMALLINT cType = 0;
  bool own = false;  // an own buffer, not the field's storage
  bool check = false;
  bool convert = false;
  bool list = false;
};

TEST(SqlcliConversions, ChoosesCTypeByFieldAndColumn) {
  using sqlcli::kBigint, sqlcli::kDate, sqlcli::kDecimal, sqlcli::kDouble, sqlcli::kInteger,
      sqlcli::kLongVarbinary, sqlcli::kLongVarchar, sqlcli::kNumeric, sqlcli::kTime,
      sqlcli::kTimestamp, sqlcli::kUnknown, sqlcli::kVarbinary, sqlcli::kVarchar;
  constexpr Direction kTo = Direction::kToSource, kFrom = Direction::kFetch;
  constexpr FieldSpec kInt{TWTYPE_INT}, kFloat{TWTYPE_FLOAT}, kCurrency{TWTYPE_CURRENCY},
      kNumber{TWTYPE_NUMERIC}, kStamp{TWTYPE_DATETIME}, kText{TWTYPE_TEXT};
  constexpr FieldSpec kInt12{TWTYPE_INT, 0, 0, 0, 0, 12},
      kInt12TruncPrec{TWTYPE_INT, TWFIELDF_TRUNC_PREC, 0, 0, 0, 12},
      kDateOnly{TWTYPE_DATETIME, 0, TWDATETIMEF_NO_TIME},
      kTimeOnly{TWTYPE_DATETIME, 0, TWDATETIMEF_NO_DATE},
      kStampTruncPrec{TWTYPE_DATETIME, TWFIELDF_TRUNC_PREC}, kText10{TWTYPE_TEXT, 0, 0, 10},
      kText20{TWTYPE_TEXT, 0, 0, 20}, kBinary{TWTYPE_BINARY},
      kNumberList{TWTYPE_BINARY, 0, 0, 0, TWSTREAMFMT_NUMBER_LIST},
      kDatetimeList{TWTYPE_BINARY, 0, 0, 0, TWSTREAMFMT_DATETIME_LIST},
      kTextList{TWTYPE_BINARY, 0, 0, 0, TWSTREAMFMT_TEXT_LIST},
      kBlob{TWTYPE_BINARY, 0, 0, 0, TWSTREAMFMT_BLOB};
  const ChoiceCase cases[] = {
      // Toward the data source.
      {"int to integer", kInt, kInteger, 10, kTo, TWSUCCESS, SQL_C_SLONG},
      {"int of precision 12 to integer", kInt12, kInteger, 10, kTo, TWFAIL_PRECISION_LOSS},
      {"same with TRUNC_PREC", kInt12TruncPrec, kInteger, 10, kTo, TWSUCCESS, SQL_C_SLONG},
      {"float to numeric", kFloat, kNumeric, 20, kTo, TWSUCCESS, SQL_C_DOUBLE},
      {"numeric to double", kNumber, kDouble, 15, kTo, TWSUCCESS, SQL_C_DOUBLE, true},
      {"numeric to numeric(20)", kNumber, kNumeric, 20, kTo, TWSUCCESS, SQL_C_CHAR, true, true},
      {"currency to numeric(20)", kCurrency, kNumeric, 20, kTo, TWSUCCESS, SQL_C_CHAR, true, true},
      {"datetime to timestamp", kStamp, kTimestamp, 26, kTo, TWSUCCESS, SQL_C_TIMESTAMP, true},
      {"date-only to date", kDateOnly, kDate, 10, kTo, TWSUCCESS, SQL_C_DATE, true},
      {"date and time to date", kStamp, kDate, 10, kTo, TWFAIL_PRECISION_LOSS},
      {"date and time to date, TRUNC_PREC", kStampTruncPrec, kDate, 10, kTo, TWSUCCESS, SQL_C_DATE,
       true},
      {"time-only to date", kTimeOnly, kDate, 10, kTo, TWFAIL_TYPE_MISMATCH},
      {"date-only to time", kDateOnly, kTime, 8, kTo, TWFAIL_TYPE_MISMATCH},
      {"date and time to time: checked", kStamp, kTime, 8, kTo, TWSUCCESS, SQL_C_TIME, true, true},
      {"time-only to time", kTimeOnly, kTime, 8, kTo, TWSUCCESS, SQL_C_TIME, true},
      {"datetime to varchar", kStamp, kVarchar, 30, kTo, TWSUCCESS, SQL_C_CHAR, true, true},
      {"unbounded text to varchar(10): checked", kText, kVarchar, 10, kTo, TWSUCCESS, SQL_C_CHAR,
       true, true},
      {"text(10) to varchar(10)", kText10, kVarchar, 10, kTo, TWSUCCESS, SQL_C_CHAR, true},
      {"text(20) to varchar(10): checked", kText20, kVarchar, 10, kTo, TWSUCCESS, SQL_C_CHAR, true,
       true},
      {"unbounded text to long varchar", kText, kLongVarchar, 8190, kTo, TWSUCCESS, SQL_C_CHAR,
       true},
      {"text to timestamp", kText, kTimestamp, 26, kTo, TWSUCCESS, SQL_C_CHAR, true},
      {"text to varbinary(4): checked", kText, kVarbinary, 4, kTo, TWSUCCESS, SQL_C_BINARY, false,
       true},
      {"binary to long varbinary", kBinary, kLongVarbinary, 0, kTo, TWSUCCESS, SQL_C_BINARY},
      {"number list to numeric", kNumberList, kNumeric, 10, kTo, TWSUCCESS, SQL_C_DOUBLE, true,
       true, false, true},
      {"datetime list to date", kDatetimeList, kDate, 10, kTo, TWSUCCESS, SQL_C_DATE, true, true,
       false, true},
      {"datetime list to varchar", kDatetimeList, kVarchar, 40, kTo, TWSUCCESS, SQL_C_CHAR, true,
       true, false, true},
      {"text list to varchar", kTextList, kVarchar, 40, kTo, TWSUCCESS, SQL_C_CHAR, true, true},
      {"blob to varchar", kBlob, kVarchar, 40, kTo, TWFAIL_TYPE_MISMATCH},
      {"int to varchar", kInt, kVarchar, 10, kTo, TWFAIL_TYPE_MISMATCH},
      {"text to integer", kText, kInteger, 10, kTo, TWFAIL_TYPE_MISMATCH},
      {"int to an unknown column", kInt, kUnknown, 10, kTo, TWFAIL_TYPE_MISMATCH},
      // Fetching.
      {"integer into int: through a double", kInt, kInteger, 10, kFrom, TWSUCCESS, SQL_C_DOUBLE,
       true, false, true},
      {"bigint into int: through a double", kInt, kBigint, 19, kFrom, TWSUCCESS, SQL_C_DOUBLE, true,
       false, true},
      {"double into float", kFloat, kDouble, 15, kFrom, TWSUCCESS, SQL_C_DOUBLE},
      {"double into numeric", kNumber, kDouble, 15, kFrom, TWSUCCESS, SQL_C_DOUBLE, true, false,
       true},
      {"numeric(20) into numeric", kNumber, kNumeric, 20, kFrom, TWSUCCESS, SQL_C_CHAR, true, false,
       true},
      {"numeric(20) into float", kFloat, kNumeric, 20, kFrom, TWSUCCESS, SQL_C_DOUBLE},
      {"date into datetime", kStamp, kDate, 10, kFrom, TWSUCCESS, SQL_C_DATE, true, false, true},
      {"time into datetime", kStamp, kTime, 8, kFrom, TWSUCCESS, SQL_C_TIME, true, false, true},
      {"timestamp into datetime", kStamp, kTimestamp, 26, kFrom, TWSUCCESS, SQL_C_TIMESTAMP, true,
       false, true},
      {"timestamp into text", kText, kTimestamp, 26, kFrom, TWSUCCESS, SQL_C_CHAR, false, true,
       true},
      {"varchar into text", kText, kVarchar, 10, kFrom, TWSUCCESS, SQL_C_CHAR, false, true, true},
      {"varchar into datetime", kStamp, kVarchar, 30, kFrom, TWSUCCESS, SQL_C_CHAR, true, true,
       true},
      {"varbinary into binary", kBinary, kVarbinary, 4, kFrom, TWSUCCESS, SQL_C_BINARY, false, true,
       true},
      {"varchar into int", kInt, kVarchar, 10, kFrom, TWFAIL_TYPE_MISMATCH},
      {"integer into text", kText, kInteger, 10, kFrom, TWFAIL_TYPE_MISMATCH},
      {"varbinary into text", kText, kVarbinary, 4, kFrom, TWFAIL_TYPE_MISMATCH},
      // The data source's money type (DECIMAL here) is a number column like any other.
      {"int to money", kInt, kDecimal, 19, kTo, TWSUCCESS, SQL_C_SLONG},
      {"number list to money", kNumberList, kDecimal, 19, kTo, TWSUCCESS, SQL_C_DOUBLE, true, true,
       false, true},
      {"currency to money", kCurrency, kDecimal, 19, kTo, TWSUCCESS, SQL_C_CHAR, true, true},
      {"money into float", kFloat, kDecimal, 19, kFrom, TWSUCCESS, SQL_C_DOUBLE},
      {"money into currency", kCurrency, kDecimal, 19, kFrom, TWSUCCESS, SQL_C_CHAR, true, false,
       true},
  };
  Env env;
  Connection c;
  c.types[sqlcli::kDecimal].money = true;
  for (const ChoiceCase& k : cases) {
    SCOPED_TRACE(k.what);
    List list(1);
    Shape(list.Add("F", k.field.type), k.field);
    ColumnRecords records;
    records.push_back(Column(k.cls, k.size));
    const size_t mark = env.LogSize();
    ASSERT_EQ(c.SetupConversions(list.get(), records, k.direction), k.status);
    const ColumnRecord& r = records[0];
    if (k.status != TWSUCCESS) {
      const std::vector<LogEntry> log = env.Log(mark);
      ASSERT_EQ(log.size(), 1u);
      EXPECT_EQ(log[0].status, k.status);
      EXPECT_NE(log[0].text.find("field 'F'"), std::string::npos) << log[0].text;
      EXPECT_EQ(r.cType, 0);
      continue;
    }
    EXPECT_EQ(r.cType, k.cType);
    EXPECT_EQ(r.ownSize != 0, k.own);
    EXPECT_EQ(r.check, k.check);
    EXPECT_EQ(r.convertAfterFetch, k.convert);
    EXPECT_EQ(r.list, k.list);
  }
}

TEST(SqlcliConversions, FieldBeyondTheColumnsIsAMismatch) {
  Env env;
  Connection c;
  List list(1);
  list.Add("A", TWTYPE_INT);
  list.Add("B", TWTYPE_INT);
  ColumnRecords records;
  records.push_back(Column(sqlcli::kInteger, 10));
  EXPECT_EQ(c.SetupConversions(list.get(), records, Direction::kFetch),
            TWFAIL_FIELD_COUNT_MISMATCH);
}

// ---------------------------------------------------------------- through the drivers ---

// Values of fields for the test lists.
void SetDatetime(TWFIELD f, uint32_t slot, int y, int mo, int d, int h, int mi, int s,
                 int hundredth = 0) {
  TWDatetimeParts p{y, mo, d, 0, h, mi, s, hundredth, 0, 0};
  TWDatetime v{};
  ASSERT_EQ(TWDatetimeSetParts(&v, &p, TWPARTSF_LOCAL), TWSUCCESS);
  ASSERT_EQ(TWFieldSetDatetime(f, slot, &v), TWSUCCESS);
}
TWDatetimeParts PartsOf(TWFIELD f, uint32_t slot) {
  TWDatetime v{};
  EXPECT_EQ(TWFieldGetDatetime(f, slot, &v, nullptr), TWSUCCESS);
  TWDatetimeParts p{};
  EXPECT_EQ(TWDatetimeGetParts(&v, 0, &p), TWSUCCESS);
  return p;
}
void SetBytes(TWFIELD f, uint32_t slot, const std::string& bytes, uint32_t format) {
  TWStream s{};
  ASSERT_EQ(TWStreamDataSet(&s, format, bytes.data(), static_cast<uint32_t>(bytes.size())),
            TWSUCCESS);
  EXPECT_EQ(TWFieldSetStream(f, slot, &s), TWSUCCESS);
  TWStreamDataFree(&s);
}
std::string BytesOf(TWFIELD f, uint32_t slot) {
  void* value = nullptr;
  EXPECT_EQ(TWFieldGetBuffer(f, slot, &value, nullptr), TWSUCCESS);
  const auto* s = static_cast<const TWStream*>(value);
  return s->data ? std::string(static_cast<const char*>(s->data), s->length) : std::string();
}
std::string NumberList(const std::vector<double>& values) {
  std::string bytes(4 + 8 * values.size(), '\0');
  bytes[0] = static_cast<char>(values.size());
  for (size_t i = 0; i < values.size(); ++i) std::memcpy(&bytes[4 + 8 * i], &values[i], 8);
  return bytes;
}
// Text of n bytes with two-byte characters throughout: piece boundaries fall inside some.
std::string LongText(size_t n) {
  std::string s;
  s.reserve(n);
  for (size_t i = 0; s.size() < n; ++i) {
    if (i % 7 == 3 && s.size() + 2 <= n)
      s += "\xC3\xA9";  // é
    else
      s += static_cast<char>('a' + i % 26);
  }
  return s;
}
std::string LongBinary(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// One data source of each driver: the same tests run on SQLite and on PostgreSQL.
class SqlcliTransfer : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    pg_ = GetParam() == "pg";
    if (pg_) {
      SQLCLI_REQUIRE_PG();
      pgSource_.emplace();
      ASSERT_TRUE(pgSource_->available());
      source_ = pgSource_->source();
    } else {
      liteSource_.emplace();
      source_ = liteSource_->source();
    }
    direct_.emplace(source_);
    ASSERT_TRUE(direct_->connected());
    link_.emplace();
    ASSERT_EQ(link_->Connect(source_), TWSUCCESS);
    link_->Num(TWTOKEN_MAP_NAME, 1);
  }
  void TearDown() override { link_.reset(); }

  // The type text of each driver.
  std::string T(const char* pg, const char* lite) const { return pg_ ? pg : lite; }
  Connection& c() { return link_->c; }

  uint32_t Insert(const std::string& table, const List& list, uint32_t count) {
    link_->Str(TWTOKEN_METADATA, table);
    uint32_t affected = 0;
    const uint32_t st = c().Insert(list.get(), 1, count, &affected);
    EXPECT_EQ(c().Action(TWACTION_COMMIT), TWSUCCESS);
    return st;
  }
  // Opens sql's result; dest (optional) receives the described columns.
  uint32_t Execute(const std::string& sql, TWFIELDLIST dest = TWNULLHANDLE) {
    Text text(sql);
    uint32_t affected = 0;
    return c().Execute(text.get(), dest, &affected);
  }
  uint32_t Fetch(const List& list, uint32_t index = 1, uint32_t count = 1,
                 uint32_t* moved = nullptr) {
    uint32_t n = 0;
    uint32_t st = c().Fetch(list.get(), index, count, &n);
    if (moved != nullptr) *moved = n;
    return st;
  }
  // The entries logged since mark with status.
  std::vector<LogEntry> Logged(size_t mark, uint32_t status) {
    std::vector<LogEntry> out;
    for (LogEntry& e : env_.Log(mark))
      if (e.status == status) out.push_back(e);
    return out;
  }

  Env env_;
  bool pg_ = false;
  std::optional<SqliteSource> liteSource_;
  std::optional<PgSource> pgSource_;
  DataSource source_;
  std::optional<Direct> direct_;
  std::optional<Link> link_;
};

// Every field type through insert and fetch: the values fetched are those inserted, nulls
// stay null, and a fetch of several records at once fills each slot.
TEST_P(SqlcliTransfer, EveryFieldTypeRoundTrips) {
  direct_->ExecAll({"CREATE TABLE rt (id integer, i integer, f " + T("float8", "double") +
                    ", n numeric(20,4), d date, tm time, ts timestamp, tx varchar(40), lt text, "
                    "b " +
                    T("bytea", "blob") + ", m numeric(19,4))"});
  // SQLite keeps numeric values as doubles: 15 digits.
  const std::string number = pg_ ? "1234567890123456.1234" : "12345678901.1234";
  const std::string longText = LongText(70000), longBinary = LongBinary(70000);

  auto make = [&](List& l) {
    l.Add("id", TWTYPE_INT);
    l.Add("i", TWTYPE_INT);
    l.Add("f", TWTYPE_FLOAT);
    l.Add("n", TWTYPE_NUMERIC);
    Shape(l.Add("d", TWTYPE_DATETIME), {TWTYPE_DATETIME, 0, TWDATETIMEF_NO_TIME});
    Shape(l.Add("tm", TWTYPE_DATETIME), {TWTYPE_DATETIME, 0, TWDATETIMEF_NO_DATE});
    l.Add("ts", TWTYPE_DATETIME);
    l.Add("tx", TWTYPE_TEXT);
    l.Add("lt", TWTYPE_TEXT);
    l.Add("b", TWTYPE_BINARY);
    l.Add("m", TWTYPE_CURRENCY);
  };
  List src(3);
  make(src);
  for (uint32_t r = 1; r <= 3; ++r) SetValue(src.Field(1), r, std::to_string(r));
  SetValue(src.Field(2), 1, "-2147483647");
  SetValue(src.Field(3), 1, "0.1");
  SetValue(src.Field(4), 1, number);
  SetDatetime(src.Field(5), 1, 2024, 2, 29, -1, -1, -1);
  SetDatetime(src.Field(6), 1, -1, -1, -1, 23, 59, 58);
  SetDatetime(src.Field(7), 1, 1999, 12, 31, 23, 59, 59, 50);
  SetValue(src.Field(8), 1, "h\xC3\xA9llo w\xC3\xB6rld");
  SetValue(src.Field(9), 1, longText);
  SetBytes(src.Field(10), 1, longBinary, TWSTREAMFMT_BLOB);
  SetValue(src.Field(11), 1, "-12345678.9876");
  // Record 2: every value null. Record 3: empty text and binary, zero numbers.
  SetValue(src.Field(2), 3, "0");
  SetValue(src.Field(3), 3, "-1e300");
  SetValue(src.Field(4), 3, "-0.0001");
  SetValue(src.Field(11), 3, "0");
  SetValue(src.Field(8), 3, "");
  SetValue(src.Field(9), 3, "");
  SetBytes(src.Field(10), 3, "", TWSTREAMFMT_BLOB);
  ASSERT_EQ(Insert("rt", src, 3), TWSUCCESS);

  ASSERT_EQ(Execute("SELECT * FROM rt ORDER BY id"), TWSUCCESS);
  List dest(3);
  make(dest);
  uint32_t moved = 0;
  ASSERT_EQ(Fetch(dest, 1, 3, &moved), TWSUCCESS);
  EXPECT_EQ(moved, 3u);
  for (uint32_t r = 1; r <= 3; ++r) {
    for (uint32_t i = 1; i <= dest.count(); ++i) {
      SCOPED_TRACE("record " + std::to_string(r) + " field " + std::to_string(i));
      TWFIELD got = dest.Field(i), want = src.Field(i);
      ASSERT_EQ(TWFieldIsNull(got, r), TWFieldIsNull(want, r));
      if (TWFieldIsNull(want, r)) continue;
      if (TWFieldGetType(got) == TWTYPE_DATETIME) {
        // Text of the halves the field's format shows.
        EXPECT_EQ(dest.Value(i, r), src.Value(i, r));
        continue;
      }
      int32_t order = 9;
      EXPECT_EQ(TWFieldCompare(got, r, want, r, 1, 0, &order), TWSUCCESS);
      EXPECT_EQ(order, 0) << dest.Value(i, r).value_or("").substr(0, 60);
    }
  }
  EXPECT_EQ(PartsOf(dest.Field(7), 1).hundredth, 50);
  EXPECT_EQ(BytesOf(dest.Field(9), 1).size(), 70000u);
  EXPECT_EQ(BytesOf(dest.Field(10), 1), longBinary);
}

// Long values around every piece boundary: the sizes delivered are added up, each piece
// gives up its terminator, and characters split between pieces join whole.
TEST_P(SqlcliTransfer, LongValuesJoinExactlyAtPieceBoundaries) {
  direct_->ExecAll({"CREATE TABLE lv (id integer, t text, b " + T("bytea", "blob") + ")"});
  const size_t sizes[] = {1, 32766, 32767, 32768, 32769, 65534, 65535, 65536, 98303, 100000};
  List src(std::size(sizes));
  src.Add("id", TWTYPE_INT);
  src.Add("t", TWTYPE_TEXT);
  src.Add("b", TWTYPE_BINARY);
  for (uint32_t r = 1; r <= std::size(sizes); ++r) {
    SetValue(src.Field(1), r, std::to_string(r));
    SetValue(src.Field(2), r, LongText(sizes[r - 1]));
    SetBytes(src.Field(3), r, LongBinary(sizes[r - 1]), TWSTREAMFMT_BLOB);
  }
  ASSERT_EQ(Insert("lv", src, std::size(sizes)), TWSUCCESS);
  ASSERT_EQ(direct_->Scalar("SELECT count(*) FROM lv"), std::to_string(std::size(sizes)));

  // Unbounded fields (SQLite describes a blob as BINARY(255), which a described field would
  // then hold to).
  List dest(1);
  dest.Add("t", TWTYPE_TEXT);
  dest.Add("b", TWTYPE_BINARY);
  ASSERT_EQ(Execute("SELECT t, b FROM lv ORDER BY id"), TWSUCCESS);
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    ASSERT_EQ(Fetch(dest), TWSUCCESS);
    const std::string text = BytesOf(dest.Field(1), 1), bytes = BytesOf(dest.Field(2), 1);
    EXPECT_EQ(text.size(), LongText(size).size());
    EXPECT_TRUE(text == LongText(size));
    EXPECT_EQ(bytes.size(), size);
    EXPECT_TRUE(bytes == LongBinary(size));
  }
  EXPECT_EQ(Fetch(dest), TWFAIL_END_OF_DATA);
}

// A column whose size the driver states is no bound on what it holds (PostgreSQL's varchar
// without a length says 255; SQLite keeps whatever is written): an unbounded field receives
// the whole value; a bounded one overflows, or is cut on a whole character with TRUNC_DATA.
TEST_P(SqlcliTransfer, TextLongerThanTheColumnSize) {
  direct_->ExecAll({"CREATE TABLE w (v " + T("varchar", "varchar(10)") + ")"});
  const std::string value = LongText(300);
  ASSERT_TRUE(direct_->Exec("INSERT INTO w VALUES ('" + value + "')"));

  struct Case {
    uint32_t length, flags, status;
    std::string want;
  };
  // LongText puts a two-byte character at bytes 3-4: a cut after 4 bytes would split it.
  const Case cases[] = {{0, 0, TWSUCCESS, value},
                        {20, 0, TWFAIL_OVERFLOW, ""},
                        {4, TWFIELDF_TRUNC_DATA, TWSUCCESS, value.substr(0, 3)},
                        {299, TWFIELDF_TRUNC_DATA, TWSUCCESS, value.substr(0, 299)}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.length);
    ASSERT_EQ(Execute("SELECT v FROM w"), TWSUCCESS);
    List dest(1);
    Shape(dest.Add("v", TWTYPE_TEXT), {TWTYPE_TEXT, k.flags, 0, k.length});
    const size_t mark = env_.LogSize();
    ASSERT_EQ(Fetch(dest), k.status);
    if (k.status != TWSUCCESS) {
      const std::vector<LogEntry> log = Logged(mark, k.status);
      ASSERT_EQ(log.size(), 1u);
      EXPECT_NE(log[0].text.find("'v'"), std::string::npos) << log[0].text;
      continue;
    }
    EXPECT_EQ(BytesOf(dest.Field(1), 1), k.want);
  }
}

// A fixed-length column's padding is dropped; a varying one's trailing blanks are data.
TEST_P(SqlcliTransfer, PaddingOfCharDroppedBlanksOfVarcharKept) {
  direct_->ExecAll(
      {"CREATE TABLE p (c char(5), v varchar(10))", "INSERT INTO p VALUES ('ab', 'ab  ')"});
  List dest(1);
  ASSERT_EQ(Execute("SELECT c, v FROM p", dest.get()), TWSUCCESS);
  ASSERT_EQ(Fetch(dest), TWSUCCESS);
  EXPECT_EQ(dest.Value(1, 1), "ab");
  EXPECT_EQ(dest.Value(2, 1), "ab  ");
}

// Integers beyond 32 bits and fractions never wrap silently into an INT field.
TEST_P(SqlcliTransfer, IntegersThatDoNotFitOverflow) {
  direct_->ExecAll({"CREATE TABLE big (id integer, v bigint, x numeric(10,2))",
                    "INSERT INTO big VALUES (1, 2147483647, 12.00)",
                    "INSERT INTO big VALUES (2, 2147483648, 12.50)",
                    "INSERT INTO big VALUES (3, -4294967297, 0)"});
  struct Case {
    const char* column;
    uint32_t flags;
    std::vector<uint32_t> statuses;
    std::vector<std::string> values;  // of the records that pass
  };
  const Case cases[] = {
      {"v", 0, {TWSUCCESS, TWFAIL_OVERFLOW, TWFAIL_OVERFLOW}, {"2147483647"}},
      {"v", TWFIELDF_TRUNC_DATA, {0, 0, 0}, {"2147483647", "2147483647", "-2147483648"}},
      {"x", 0, {TWSUCCESS, TWFAIL_PRECISION_LOSS, TWSUCCESS}, {"12", "0"}},
      {"x", TWFIELDF_TRUNC_PREC, {0, 0, 0}, {"12", "12", "0"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.column) + " flags " + std::to_string(k.flags));
    ASSERT_EQ(Execute(std::string("SELECT ") + k.column + " FROM big ORDER BY id"), TWSUCCESS);
    List dest(1);
    Shape(dest.Add(k.column, TWTYPE_INT), {TWTYPE_INT, k.flags});
    std::vector<std::string> values;
    for (uint32_t want : k.statuses) {
      const size_t mark = env_.LogSize();
      ASSERT_EQ(Fetch(dest), want);
      if (want == TWSUCCESS) {
        values.push_back(dest.Value(1, 1).value_or("<null>"));
      } else {
        const std::vector<LogEntry> log = Logged(mark, want);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_NE(log[0].text.find(std::string("'") + k.column + "'"), std::string::npos)
            << log[0].text;
      }
    }
    EXPECT_EQ(values, k.values);
  }
}

// A number list binds its only entry; none (also a value of no bytes at all) binds NULL; two
// overflow unless TRUNC_DATA lets the first pass.
TEST_P(SqlcliTransfer, NumberListBoundToNumericColumn) {
  direct_->ExecAll({"CREATE TABLE nl (id integer, v numeric(10,2))"});
  struct Case {
    std::optional<std::vector<double>> entries;  // nullopt: no bytes
    uint32_t flags, status;
    std::string stored;  // "" none
  };
  const Case cases[] = {{std::vector<double>{}, 0, TWSUCCESS, kNull},
                        {std::nullopt, 0, TWSUCCESS, kNull},
                        {std::vector<double>{4.5}, 0, TWSUCCESS, "4.5"},
                        {std::vector<double>{4.5, 7}, 0, TWFAIL_OVERFLOW, ""},
                        {std::vector<double>{4.5, 7}, TWFIELDF_TRUNC_DATA, TWSUCCESS, "4.5"}};
  int id = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(++id);
    List src(1);
    SetValue(src.Add("id", TWTYPE_INT), 1, std::to_string(id));
    TWFIELD v = src.Add("v", TWTYPE_BINARY);
    Shape(v, {TWTYPE_BINARY, k.flags, 0, 0, TWSTREAMFMT_NUMBER_LIST});
    SetBytes(v, 1, k.entries ? NumberList(*k.entries) : "", TWSTREAMFMT_NUMBER_LIST);
    const size_t mark = env_.LogSize();
    ASSERT_EQ(Insert("nl", src, 1), k.status);
    const Rows rows = direct_->Query("SELECT " + T("v::float8", "v") +
                                     " FROM nl WHERE id = " + std::to_string(id));
    if (k.status != TWSUCCESS) {
      EXPECT_TRUE(rows.empty());
      const std::vector<LogEntry> log = Logged(mark, k.status);
      ASSERT_EQ(log.size(), 1u);
      EXPECT_NE(log[0].text.find("'v'"), std::string::npos) << log[0].text;
      continue;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], k.stored);
  }
}

// Datetimes into each kind of column: a date and time into a TIME column passes only when
// the value has no date; a timestamp keeps its hundredths.
TEST_P(SqlcliTransfer, DatetimesIntoDateTimeAndTimestampColumns) {
  direct_->ExecAll({"CREATE TABLE dt (id integer, d date, t time, s timestamp)"});
  struct Case {
    const char* column;
    FieldSpec field;
    int parts[7];  // year, month, day, hour, minute, second, hundredth (-1: null half)
    uint32_t status;
    int fetched[7];
  };
  const Case cases[] = {
      {"d",
       {TWTYPE_DATETIME, 0, TWDATETIMEF_NO_TIME},
       {2000, 1, 2, -1, -1, -1, -1},
       0,
       {2000, 1, 2, 0, 0, 0, 0}},
      {"t",
       {TWTYPE_DATETIME, 0, TWDATETIMEF_NO_DATE},
       {-1, -1, -1, 7, 8, 9, 0},
       0,
       {-1, -1, -1, 7, 8, 9, 0}},
      {"t", {TWTYPE_DATETIME}, {-1, -1, -1, 7, 8, 9, 0}, 0, {-1, -1, -1, 7, 8, 9, 0}},
      {"t", {TWTYPE_DATETIME}, {2000, 1, 2, 7, 8, 9, 0}, TWFAIL_OVERFLOW},
      {"t",
       {TWTYPE_DATETIME, TWFIELDF_TRUNC_DATA},
       {2000, 1, 2, 7, 8, 9, 0},
       0,
       {-1, -1, -1, 7, 8, 9, 0}},
      {"s", {TWTYPE_DATETIME}, {1970, 1, 1, 0, 0, 0, 1}, 0, {1970, 1, 1, 0, 0, 0, 1}},
      {"s", {TWTYPE_DATETIME}, {2038, 12, 31, 23, 59, 59, 99}, 0, {2038, 12, 31, 23, 59, 59, 99}},
      {"s",
       {TWTYPE_DATETIME, 0, TWDATETIMEF_NO_TIME},
       {2038, 12, 31, -1, -1, -1, -1},
       0,
       {2038, 12, 31, 0, 0, 0, 0}},
  };
  int id = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(++id);
    List src(1);
    SetValue(src.Add("id", TWTYPE_INT), 1, std::to_string(id));
    TWFIELD f = src.Add(k.column, TWTYPE_DATETIME);
    Shape(f, k.field);
    const int* p = k.parts;
    SetDatetime(f, 1, p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
    ASSERT_EQ(Insert("dt", src, 1), k.status);
    if (k.status != TWSUCCESS) continue;
    ASSERT_EQ(
        Execute(std::string("SELECT ") + k.column + " FROM dt WHERE id = " + std::to_string(id)),
        TWSUCCESS);
    List dest(1);
    TWFIELD got = dest.Add(k.column, TWTYPE_DATETIME);
    ASSERT_EQ(Fetch(dest), TWSUCCESS);
    const TWDatetimeParts q = PartsOf(got, 1);
    const int have[7] = {q.year, q.month, q.day, q.hour, q.minute, q.second, q.hundredth};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(have[i], k.fetched[i]) << i;
  }
}

// Numbers keep their precision: NUMERIC passes as text, and a NUMERIC field bound to a
// double column passes through a double.
TEST_P(SqlcliTransfer, NumericPrecision) {
  direct_->ExecAll(
      {"CREATE TABLE np (id integer, n numeric(20,4), f " + T("float8", "double") + ")"});
  const std::string wide = pg_ ? "9876543210987654.3210" : "98765432109.321";
  List src(1);
  SetValue(src.Add("id", TWTYPE_INT), 1, "1");
  SetValue(src.Add("n", TWTYPE_NUMERIC), 1, wide);
  SetValue(src.Add("f", TWTYPE_NUMERIC), 1, "0.25");
  ASSERT_EQ(Insert("np", src, 1), TWSUCCESS);
  EXPECT_EQ(direct_->Scalar("SELECT " + T("f::text", "f") + " FROM np"), "0.25");
  if (pg_) {
    EXPECT_EQ(direct_->Scalar("SELECT n FROM np"), wide);
  }

  List dest(1);
  TWFIELD n = dest.Add("n", TWTYPE_NUMERIC);
  ASSERT_EQ(Execute("SELECT n FROM np"), TWSUCCESS);
  ASSERT_EQ(Fetch(dest), TWSUCCESS);
  int32_t order = 9;
  EXPECT_EQ(TWFieldCompare(n, 1, src.Field(2), 1, 1, 0, &order), TWSUCCESS);
  EXPECT_EQ(order, 0) << dest.Value(1, 1).value_or("<null>");
}

// PostgreSQL reports DECIMAL as NUMERIC: the described fields follow the class table.
TEST_P(SqlcliTransfer, DescribedNumberFormats) {
  if (!pg_) GTEST_SKIP() << "SQLite describes decimal columns as text";
  direct_->ExecAll(
      {"CREATE TABLE df (a numeric(20,4), b decimal(12,2), c numeric(9,0), "
       "d bigint NOT NULL)",
       "INSERT INTO df VALUES (1234567890123456.1234, 1234567890.12, 123456789, 5)"});
  List dest(1);
  ASSERT_EQ(Execute("SELECT * FROM df", dest.get()), TWSUCCESS);
  struct Want {
    uint32_t type, flags, size, precision;
    int32_t scale;
    uint32_t fieldFlags;
  };
  const Want want[] = {{TWTYPE_NUMERIC, 0, 0, 20, 4, 0},
                       {TWTYPE_FLOAT, TWNUMBERF_NUMERIC, 8, 12, 2, 0},
                       {TWTYPE_INT, TWNUMBERF_NUMERIC, 4, 9, TWSCALE_ZERO, 0},
                       {TWTYPE_INT, 0, 8, 9, 0, TWFIELDF_NO_NULL}};
  ASSERT_EQ(dest.count(), std::size(want));
  for (uint32_t i = 1; i <= dest.count(); ++i) {
    SCOPED_TRACE(i);
    TWFIELD f = dest.Field(i);
    uint32_t flags = 0, size = 0, precision = 0;
    int32_t scale = 0;
    ASSERT_EQ(TWFieldGetFormatNumber(f, &flags, &size, &precision, &scale), TWSUCCESS);
    EXPECT_EQ(TWFieldGetType(f), want[i - 1].type);
    EXPECT_EQ(flags, want[i - 1].flags);
    EXPECT_EQ(size, want[i - 1].size);
    EXPECT_EQ(precision, want[i - 1].precision);
    EXPECT_EQ(scale, want[i - 1].scale);
    EXPECT_EQ(TWFieldGetFlags(f), want[i - 1].fieldFlags);
  }
  ASSERT_EQ(Fetch(dest), TWSUCCESS);
  EXPECT_EQ(dest.Value(1, 1), "1234567890123456.1234");
  EXPECT_EQ(dest.Value(2, 1), "1234567890.12");
  EXPECT_EQ(dest.Value(3, 1), "123456789");
}

// A timestamp whose year is 0 (SQLite passes the text on) has a null date and keeps its time.
TEST_P(SqlcliTransfer, YearZeroTimestampHasNoDate) {
  if (pg_) GTEST_SKIP() << "PostgreSQL has no year 0";
  direct_->ExecAll(
      {"CREATE TABLE z (ts timestamp)", "INSERT INTO z VALUES ('0000-01-01 12:34:56')"});
  List dest(1);
  TWFIELD ts = dest.Add("ts", TWTYPE_DATETIME);
  ASSERT_EQ(Execute("SELECT ts FROM z"), TWSUCCESS);
  ASSERT_EQ(Fetch(dest), TWSUCCESS);
  const TWDatetimeParts p = PartsOf(ts, 1);
  EXPECT_EQ(p.year, -1);
  EXPECT_EQ(p.month, -1);
  EXPECT_EQ(p.day, -1);
  EXPECT_EQ(p.hour, 12);
  EXPECT_EQ(p.minute, 34);
  EXPECT_EQ(p.second, 56);
}

// The end of a result is reported once; after it there is no result. A bad slot is refused
// before a row is read, so no row is lost.
TEST_P(SqlcliTransfer, FetchAfterTheEnd) {
  direct_->ExecAll(
      {"CREATE TABLE e (v integer)", "INSERT INTO e VALUES (1)", "INSERT INTO e VALUES (2)"});
  List dest(2);
  ASSERT_EQ(Execute("SELECT v FROM e ORDER BY v", dest.get()), TWSUCCESS);
  EXPECT_EQ(Fetch(dest, 3, 1), TWFAIL_RECORD_INDEX);
  EXPECT_EQ(Fetch(dest, 2, 2), TWFAIL_RECORD_COUNT);
  uint32_t moved = 9;
  ASSERT_EQ(Fetch(dest, 1, 2, &moved), TWSUCCESS);
  EXPECT_EQ(moved, 2u);
  EXPECT_EQ(dest.Value(1, 1), "1");
  EXPECT_EQ(dest.Value(1, 2), "2");
  EXPECT_EQ(Fetch(dest, 1, 2, &moved), TWFAIL_END_OF_DATA);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(Fetch(dest), TWFAIL_NO_RESULTSET);
  EXPECT_EQ(Fetch(dest), TWFAIL_NO_RESULTSET);

  // Records moved before the end keep the result open for the one report of the end.
  ASSERT_EQ(Execute("SELECT v FROM e ORDER BY v"), TWSUCCESS);
  List three(3);
  three.Add("v", TWTYPE_INT);
  ASSERT_EQ(Fetch(three, 1, 3, &moved), TWSUCCESS);
  EXPECT_EQ(moved, 2u);
  EXPECT_EQ(Fetch(three, 1, 3, &moved), TWFAIL_END_OF_DATA);
  EXPECT_EQ(Fetch(three, 1, 3, &moved), TWFAIL_NO_RESULTSET);
}

// The catalogue lists end the same way; the data-source list does not start over (the driver
// manager would give the first name again after the last).
TEST_P(SqlcliTransfer, CatalogueListsEndOnce) {
  direct_->ExecAll({"CREATE TABLE cat (alpha integer, beta varchar(5))"});
  uint32_t affected = 0;
  List sources(64);
  ASSERT_EQ(c().Catalog(TWOBJECT_SERVER, sources.get(), &affected), TWSUCCESS);
  uint32_t moved = 0;
  ASSERT_EQ(Fetch(sources, 1, 64, &moved), TWSUCCESS);
  ASSERT_GT(moved, 0u);
  ASSERT_LT(moved, 64u);
  bool found = false;
  for (uint32_t r = 1; r <= moved; ++r) {
    found = found || sources.Value(1, r) == source_.dsn;
    EXPECT_FALSE(sources.Value(2, r).has_value());
    EXPECT_TRUE(sources.Value(3, r).has_value());
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(Fetch(sources, 1, 64, &moved), TWFAIL_END_OF_DATA);
  EXPECT_EQ(Fetch(sources, 1, 64, &moved), TWFAIL_NO_RESULTSET);

  // The table list's name, owner and remarks are its columns 3, 2 and 5.
  List tables(1);
  ASSERT_EQ(c().Catalog(TWOBJECT_METADATA, tables.get(), &affected), TWSUCCESS);
  std::vector<std::string> tableNames;
  while (Fetch(tables) == TWSUCCESS) tableNames.push_back(tables.Value(1, 1).value_or("<null>"));
  EXPECT_EQ(tableNames, (std::vector<std::string>{"cat"}));
  EXPECT_EQ(Fetch(tables), TWFAIL_NO_RESULTSET);

  link_->Str(TWTOKEN_METADATA, "cat");
  List columns(1);
  ASSERT_EQ(c().Catalog(TWOBJECT_FIELD, columns.get(), &affected), TWSUCCESS);
  std::vector<std::string> names;
  while (Fetch(columns) == TWSUCCESS) {
    names.push_back(columns.Value(1, 1).value_or("<null>"));
    EXPECT_FALSE(columns.Value(2, 1).has_value());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
  EXPECT_EQ(Fetch(columns), TWFAIL_NO_RESULTSET);
}

// A column without a name is called by its number; a result column of a type the engine has
// no field for refuses the whole description, leaving the caller's list as it was.
TEST_P(SqlcliTransfer, DescriptionNamesAndUnknownTypes) {
  if (!pg_) {
    List dest(1);
    ASSERT_EQ(Execute("SELECT 1 AS a, 2 AS \"\", 3 AS \"\"", dest.get()), TWSUCCESS);
    std::vector<std::string> names;
    for (uint32_t i = 1; i <= dest.count(); ++i) {
      Text name;
      ASSERT_EQ(TWFieldlistGetName(dest.get(), i, TWSTREAMFMT_NATIVE, name.get()), TWSUCCESS);
      names.push_back(name.str());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "Col2", "Col3"}));
    return;
  }
  List dest(1);
  dest.Add("kept", TWTYPE_INT);
  const size_t mark = env_.LogSize();
  EXPECT_EQ(Execute("SELECT 1 AS a, gen_random_uuid() AS u", dest.get()), TWFAIL_INVALID_TYPE);
  EXPECT_EQ(dest.count(), 1u);
  const std::vector<LogEntry> log = Logged(mark, TWFAIL_INVALID_TYPE);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].text.find("'u'"), std::string::npos) << log[0].text;
}

// Text bound to a shorter column: TRUNC_DATA cuts it to the column's length in characters
// (two-byte characters count once); without it the data source judges (PostgreSQL refuses
// with its own message, SQLite keeps the whole value).
TEST_P(SqlcliTransfer, TextIntoShorterColumn) {
  direct_->ExecAll({"CREATE TABLE sh (id integer, v varchar(5))"});
  const std::string e = "\xC3\xA9";
  struct Case {
    std::string value;
    uint32_t flags, status;
    std::string stored;
  };
  const Case cases[] = {
      {e + e + e + e + e, TWFIELDF_TRUNC_DATA, TWSUCCESS, e + e + e + e + e},
      {"abc" + e + e + e, TWFIELDF_TRUNC_DATA, TWSUCCESS, "abc" + e + e},
      {"abcdef", 0, pg_ ? uint32_t{TWFAIL_EXTERNAL} : uint32_t{TWSUCCESS}, pg_ ? "" : "abcdef"},
  };
  int id = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(++id);
    List src(1);
    SetValue(src.Add("id", TWTYPE_INT), 1, std::to_string(id));
    TWFIELD v = src.Add("v", TWTYPE_TEXT);
    Shape(v, {TWTYPE_TEXT, k.flags});
    SetValue(v, 1, k.value);
    const size_t mark = env_.LogSize();
    ASSERT_EQ(Insert("sh", src, 1), k.status);
    if (k.status != TWSUCCESS) {
      const std::vector<LogEntry> log = Logged(mark, k.status);
      ASSERT_FALSE(log.empty());
      EXPECT_NE(log[0].text.find("too long"), std::string::npos) << log[0].text;
      continue;
    }
    EXPECT_EQ(direct_->Scalar("SELECT v FROM sh WHERE id = " + std::to_string(id)), k.stored);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqlcliTransfer, ::testing::Values("sqlite", "pg"),
                         [](const auto& test) { return test.param; });

}  // namespace
}  // namespace sqlcli_test
