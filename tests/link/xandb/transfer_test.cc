// The Xandb connector moving values through the client library on both real drivers (SQLite;
// PostgreSQL when TW_PG_PORT is set): round trips of every type, one record at a time and in
// parameter arrays, positioned and keyed writes, the database list, the end of a result, and
// the faults of value transfer that were mended.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "xandb_test_util.h"

namespace xandb_test {
namespace {

// A field of a round-trip table: its name, type and format, and three values (null: nullopt).
struct Typed {
  const char* name;
  uint32_t type;
  uint32_t flags;  // stream, number or datetime format flags
  uint32_t size;   // stream length or number precision
  int32_t scale;
  std::optional<std::string> values[3];
};

const Typed kTyped[] = {
    {"N_INT", TWTYPE_INT, 0, 0, 0, {"42", "-7", std::nullopt}},
    {"N_FLOAT", TWTYPE_FLOAT, 0, 0, 0, {"2.5", std::nullopt, "-1e+100"}},
    {"N_NUM", TWTYPE_NUMERIC, TWNUMBERF_NUMERIC, 12, 3, {"123456789.125", "-0.5", std::nullopt}},
    {"D_DAY",
     TWTYPE_DATETIME,
     TWDATETIMEF_NO_TIME,
     0,
     0,
     {"1815-12-10", std::nullopt, "2026-02-28"}},
    {"D_TIME", TWTYPE_DATETIME, TWDATETIMEF_NO_DATE, 0, 0, {"23:59:58", "00:00:01", std::nullopt}},
    {"D_STAMP",
     TWTYPE_DATETIME,
     0,
     0,
     0,
     {"1999-12-31 23:59:59.25", std::nullopt, "1970-01-01 00:00:00"}},
    {"T_FIXED", TWTYPE_TEXT, TWSTREAMF_FIXED, 8, 0, {"ab", "abcdefgh", std::nullopt}},
    {"T_VAR", TWTYPE_TEXT, 0, 40, 0, {"caf\xC3\xA9 ends in blank ", "", std::nullopt}},
    {"B_VAR", TWTYPE_BINARY, 0, 16, 0, {std::string("\x00\x01\xFF z", 5), std::nullopt, "\x7F"}},
};

// A source list of kTyped with records records (the values repeat); without binary fields
// for parameter arrays, which binary columns never take.
void FillTyped(List& list, uint32_t records, bool arrays) {
  for (const Typed& t : kTyped) {
    if (arrays && t.type == TWTYPE_BINARY) continue;
    TWFIELD f = list.Add(t.name, t.type);
    // SQLite's driver describes a NUMERIC column as DOUBLE: the values above fit one exactly.
    if (t.type == TWTYPE_NUMERIC) {
      ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_TRUNC_PREC), TWSUCCESS);
    }
    if (t.type == TWTYPE_TEXT || t.type == TWTYPE_BINARY)
      ASSERT_EQ(TWFieldSetFormatStream(f, t.flags, t.size,
                                       t.type == TWTYPE_BINARY ? TWSTREAMFMT_BLOB : 0),
                TWSUCCESS);
    else if (t.type == TWTYPE_DATETIME)
      ASSERT_EQ(TWFieldSetFormatDatetime(f, t.flags, 0), TWSUCCESS);
    else
      ASSERT_EQ(TWFieldSetFormatNumber(f, t.flags, t.type == TWTYPE_INT ? 4 : 0, t.size, t.scale),
                TWSUCCESS);
    for (uint32_t r = 1; r <= records; ++r) {
      const std::optional<std::string>& v = t.values[(r - 1) % 3];
      if (!v) continue;
      if (t.type == TWTYPE_BINARY) {
        TWStream s{};
        TWStreamCreate(&s, 0, 0, TWSTREAMFMT_BLOB);
        s.data = const_cast<char*>(v->data());
        s.length = static_cast<uint32_t>(v->size());
        ASSERT_EQ(TWFieldSetStream(f, r, &s), TWSUCCESS) << t.name;
      } else {
        SetValue(f, r, *v);
      }
    }
  }
}

struct RoundTrip {
  Engine engine;
  bool arrays;
  bool rowByRow = false;  // the client gives the driver the arrays' rows one by one
};

class XandbRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(XandbRoundTrip, EveryTypeComesBackAsItWent) {
  Env env;
  Source source(GetParam().engine);
  XANDB_REQUIRE(source);
  ScopedEnv arrays("XANDBCLI_PARAMETER_ARRAYS", GetParam().rowByRow ? "0" : nullptr);
  Link link;
  ASSERT_EQ(link.Connect(source.source()), TWSUCCESS) << LogLast().externalText;
  ASSERT_EQ(link.Table("ROUND"), TWSUCCESS);
  constexpr uint32_t kRecords = 6;
  List in(kRecords);
  ASSERT_NO_FATAL_FAILURE(FillTyped(in, kRecords, GetParam().arrays));
  ASSERT_EQ(link.c.Create(TWOBJECT_METADATA, in.get()), TWSUCCESS) << LogLast().text;
  uint32_t count = 0;
  if (GetParam().arrays) {
    ASSERT_EQ(link.c.Insert(in.get(), 1, kRecords, &count), TWSUCCESS) << LogLast().text;
  } else {
    for (uint32_t r = 1; r <= kRecords; ++r)
      ASSERT_EQ(link.c.Insert(in.get(), r, 1, &count), TWSUCCESS)
          << LogLast().text << " / " << LogLast().externalText;
  }
  EXPECT_EQ(count, kRecords);
  ASSERT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);

  link.Str(TWTOKEN_ORDER_LIST, "N_INT");
  List out(kRecords);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, out.get(), &count), TWSUCCESS) << LogLast().text;
  const uint32_t fields = in.count();
  ASSERT_EQ(out.count(), fields);
  ASSERT_EQ(link.c.Fetch(out.get(), 1, kRecords, &count), TWSUCCESS) << LogLast().text;
  EXPECT_EQ(count, kRecords);
  // Ordered by N_INT (nulls first on SQLite, last on PostgreSQL): each fetched record is found
  // among the records sent, field by field.
  for (uint32_t got = 1; got <= kRecords; ++got) {
    bool found = false;
    for (uint32_t sent = 1; sent <= kRecords && !found; ++sent) {
      bool same = true;
      for (uint32_t i = 1; i <= fields && same; ++i) {
        int32_t result = 1;
        same = TWFieldCompare(out.Field(i), got, in.Field(i), sent, 1, 0, &result) == TWSUCCESS &&
               result == 0;
      }
      found = same;
    }
    std::string shown;
    for (uint32_t i = 1; i <= fields; ++i) shown += out.Value(i, got).value_or("<null>") + "|";
    EXPECT_TRUE(found) << "record " << got << ": " << shown;
  }
  // An empty text is stored as an empty text on both paths, never as null.
  Direct direct(source.source());
  EXPECT_EQ(direct.Scalar("SELECT count(*) FROM round WHERE t_var = ''"), "2");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, XandbRoundTrip,
    ::testing::Values(RoundTrip{Engine::kSqlite, false}, RoundTrip{Engine::kSqlite, true},
                      RoundTrip{Engine::kSqlite, true, true}, RoundTrip{Engine::kPostgres, false},
                      RoundTrip{Engine::kPostgres, true}, RoundTrip{Engine::kPostgres, true, true}),
    [](const auto& p) {
      return std::string(Name(p.param.engine)) + (p.param.arrays ? "_arrays" : "_single") +
             (p.param.rowByRow ? "_row_by_row" : "");
    });

}  // namespace
}  // namespace xandb_test

namespace xandb_test {
namespace {

// A connected link on a fresh source with table W (ID INTEGER, NAME VARCHAR(20)) of three
// rows.
class Rows3 : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    source_ = std::make_unique<Source>(GetParam());
    if (!source_->available()) GTEST_SKIP() << "TW_PG_PORT is not set (scripts/pg.sh)";
    direct_ = std::make_unique<Direct>(source_->source());
    direct_->ExecAll({"CREATE TABLE w (id INTEGER, name VARCHAR(20))",
                      "INSERT INTO w VALUES (1, 'one')", "INSERT INTO w VALUES (2, 'two')",
                      "INSERT INTO w VALUES (3, 'three')"});
    ASSERT_EQ(link_.Connect(source_->source()), TWSUCCESS);
    link_.Table("W");
  }
  Rows Table() { return direct_->Query("SELECT id, name FROM w ORDER BY id"); }

  Env env_;
  std::unique_ptr<Source> source_;
  std::unique_ptr<Direct> direct_;
  Link link_;
};

// A list of one record: ID (flags), NAME.
void Row(List& list, int32_t id, const char* name, uint32_t idFlags) {
  TWFIELD f = list.Add("ID", TWTYPE_INT);
  ASSERT_EQ(TWFieldSetFlags(f, idFlags), TWSUCCESS);
  ASSERT_EQ(TWFieldSetInt(f, 1, &id), TWSUCCESS);
  SetValue(list.Add("NAME", TWTYPE_TEXT), 1, name);
}

TEST_P(Rows3, PositionedUpdateAndDeleteOnTheFetchedRow) {
  Connection& c = link_.c;
  link_.Num(TWTOKEN_WRITEBACK, 1);
  uint32_t n = 0;
  List in(1);
  Row(in, 20, "twenty", 0);
  // Without a fetched row, and with more than one record, nothing is written.
  EXPECT_EQ(c.Update(in.get(), 1, 1, &n), TWFAIL_NO_WRITEBACK);
  List cursor(1);
  ASSERT_EQ(c.Select(TWNULLHANDLE, 1, cursor.get(), &n), TWSUCCESS) << LogLast().text;
  ASSERT_EQ(c.Fetch(cursor.get(), 1, 1, &n), TWSUCCESS);
  const std::string first = cursor.Value(1, 1).value_or("");
  EXPECT_EQ(c.Update(in.get(), 1, 2, &n), TWFAIL_WRITEBACK_COUNT);
  n = 0;
  ASSERT_EQ(c.Update(in.get(), 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(c.Fetch(cursor.get(), 1, 1, &n), TWSUCCESS);
  const std::string second = cursor.Value(1, 1).value_or("");
  n = 0;
  ASSERT_EQ(c.Remove(TWNULLHANDLE, 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  // Exactly the rows under the cursor changed: the first updated, the second gone.
  Rows want = {{"1", "one"}, {"2", "two"}, {"3", "three"}};
  std::erase_if(want, [&](const auto& r) { return r[0] == second; });
  for (auto& r : want)
    if (r[0] == first) r = {"20", "twenty"};
  std::sort(want.begin(), want.end(),
            [](const auto& a, const auto& b) { return std::stoi(a[0]) < std::stoi(b[0]); });
  EXPECT_EQ(Table(), want);
}

TEST_P(Rows3, KeyedWritesAndTheirCounts) {
  Connection& c = link_.c;
  uint32_t n = 0;
  List in(1);
  Row(in, 2, "deux", TWFIELDF_KEY | TWFIELDF_NO_UPDATE);
  ASSERT_EQ(c.Update(in.get(), 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(n, 1u);
  link_.Str(TWTOKEN_CONDITION, "id > 1");
  List keys(1);
  Row(keys, 1, "", TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE);
  n = 0;
  ASSERT_EQ(c.Remove(keys.get(), 1, 1, &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(n, 2u);
  ASSERT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(Table(), (Rows{{"1", "one"}}));
}

// Without a key field, a CONDITION or a cursor an update or delete would hit every row for
// each record: it is refused and nothing is written.
TEST_P(Rows3, AWriteWithoutKeyOrConditionIsRefused) {
  Connection& c = link_.c;
  uint32_t n = 0;
  List in(1);
  Row(in, 9, "nine", 0);
  EXPECT_EQ(c.Update(in.get(), 1, 1, &n), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(c.Remove(in.get(), 1, 1, &n), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(c.Remove(TWNULLHANDLE, 1, 1, &n), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(LogLast().status, TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(Table().size(), 3u);
}

TEST_P(Rows3, TheEndOfAResult) {
  Connection& c = link_.c;
  link_.Str(TWTOKEN_CONDITION, "id > 1");
  uint32_t n = 0;
  List out(3);
  ASSERT_EQ(c.Select(TWNULLHANDLE, 1, out.get(), &n), TWSUCCESS);
  EXPECT_EQ(n, TWCOUNT_UNKNOWN);
  ASSERT_EQ(c.Fetch(out.get(), 1, 3, &n), TWSUCCESS);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(c.Fetch(out.get(), 1, 3, &n), TWFAIL_END_OF_DATA);
  EXPECT_EQ(n, 0u);
  // A statement without result columns leaves the count alone and no result open.
  n = 7;
  Text update("UPDATE w SET name = 'x' WHERE id = 3");
  ASSERT_EQ(c.Execute(update.get(), TWNULLHANDLE, &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(c.Fetch(out.get(), 1, 1, &n), TWFAIL_NO_RESULTSET);
}

TEST_P(Rows3, MissingAndDuplicateTablesAreNamed) {
  Connection& c = link_.c;
  uint32_t n = 0;
  link_.Table("NOSUCH");
  EXPECT_EQ(c.Select(TWNULLHANDLE, 1, TWNULLHANDLE, &n), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(LogLast().text, "Metadata object 'NOSUCH' does not exist");
  List in(1);
  Row(in, 1, "x", 0);
  EXPECT_EQ(c.Insert(in.get(), 1, 1, &n), TWFAIL_INVALID_METADATA);
  link_.Table("W");
  EXPECT_EQ(c.Create(TWOBJECT_METADATA, in.get()), TWFAIL_DUPLICATE);
  EXPECT_EQ(LogLast().text, "Duplicate object 'W'");
}

TEST_P(Rows3, TheColumnsAndTablesCatalogues) {
  Connection& c = link_.c;
  link_.Table("w");
  uint32_t n = 0;
  List out(4);
  ASSERT_EQ(c.Catalog(TWOBJECT_FIELD, out.get(), &n), TWSUCCESS) << LogLast().externalText;
  EXPECT_EQ(link_test::GetText(c, TWTOKEN_METADATA), "W");
  ASSERT_EQ(c.Fetch(out.get(), 1, 4, &n), TWSUCCESS);
  ASSERT_EQ(n, 2u);
  std::string names = *out.Value(1, 1) + "," + *out.Value(1, 2);
  for (char& ch : names) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(names, "ID,NAME");
  EXPECT_EQ(out.Value(2, 1), std::nullopt);
  // The tables catalogue lists the table.
  List tables(1);
  ASSERT_EQ(c.Catalog(TWOBJECT_METADATA, tables.get(), &n), TWSUCCESS) << LogLast().externalText;
  bool seen = false;
  while (c.Fetch(tables.get(), 1, 1, &n) == TWSUCCESS) {
    std::string name = tables.Value(1, 1).value_or("");
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    seen = seen || name == "W";
  }
  EXPECT_TRUE(seen);
}

INSTANTIATE_TEST_SUITE_P(Engines, Rows3, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& p) { return std::string(Name(p.param)); });

TEST(XandbCatalogue, TheDatabaseListNamesTheDataSources) {
  Env env;
  SqliteSource lite;
  Link link;
  uint32_t n = 0;
  List out(1);
  ASSERT_EQ(link.c.Catalog(TWOBJECT_DATABASE, out.get(), &n), TWSUCCESS);
  bool seen = false;
  for (int guard = 0; guard < 1000; ++guard) {
    const uint32_t st = link.c.Fetch(out.get(), 1, 1, &n);
    if (st == TWFAIL_END_OF_DATA) break;
    ASSERT_EQ(st, TWSUCCESS);
    seen = seen || out.Value(1, 1) == lite.dsn();
    EXPECT_EQ(out.Value(2, 1), std::nullopt);
  }
  EXPECT_TRUE(seen);
}

// A client that cannot tell a value's length before reading it: values are read in pieces.
TEST(XandbFetch, LongValuesOfUnknownLengthComeWhole) {
  Env env;
  SqliteSource lite;
  const std::string text(10000, 'x');
  Direct(lite.source())
      .ExecAll({"CREATE TABLE V (T TEXT, B LONGVARBINARY)",
                "INSERT INTO V VALUES (printf('%.*c', 10000, 'x'), zeroblob(9000))"});
  ScopedEnv noTotal("XANDBCLI_NO_TOTAL", "1");
  Link link;
  ASSERT_EQ(link.Connect(lite.source()), TWSUCCESS);
  link.Table("V");
  uint32_t n = 0;
  List out(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, out.get(), &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(out.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
  EXPECT_EQ(out.Value(1, 1), text);
  void* value = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(out.Field(2), 1, &value, nullptr), TWSUCCESS);
  EXPECT_EQ(static_cast<TWStream*>(value)->length, 9000u);
}

TEST(XandbNumeric, ExactOnPostgresAndNeverCut) {
  Env env;
  Source source(Engine::kPostgres);
  XANDB_REQUIRE(source);
  const std::string exact = "1234567890123456789012345678.0123456789";
  Direct(source.source())
      .ExecAll({"CREATE TABLE n (v NUMERIC(38,10), f NUMERIC(300))",
                "INSERT INTO n VALUES (NULL, 1e200)"});
  Link link;
  ASSERT_EQ(link.Connect(source.source()), TWSUCCESS);
  link.Table("N");
  List in(1);
  TWFIELD v = in.Add("V", TWTYPE_NUMERIC);
  SetValue(v, 1, exact);
  uint32_t n = 0;
  ASSERT_EQ(link.c.Insert(in.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
  // A double onto a NUMERIC column loses precision unless the field allows it.
  List lossy(1);
  double d = 1.5;
  ASSERT_EQ(TWFieldSetFloat(lossy.Add("V", TWTYPE_FLOAT), 1, &d), TWSUCCESS);
  EXPECT_EQ(link.c.Insert(lossy.get(), 1, 1, &n), TWFAIL_PRECISION_LOSS);
  ASSERT_EQ(TWFieldSetFlags(lossy.Field(1), TWFIELDF_TRUNC_PREC), TWSUCCESS);
  EXPECT_EQ(link.c.Insert(lossy.get(), 1, 1, &n), TWSUCCESS);

  link.Str(TWTOKEN_FIELD_LIST, "V").Str(TWTOKEN_CONDITION, "v IS NOT NULL AND v > 2");
  List out(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, out.get(), &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(out.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(out.Value(1, 1), exact);
  // A number whose text is longer than the room for it is refused, never cut.
  link.Str(TWTOKEN_FIELD_LIST, "F").Str(TWTOKEN_CONDITION, "f IS NOT NULL");
  List big(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, big.get(), &n), TWSUCCESS);
  EXPECT_EQ(link.c.Fetch(big.get(), 1, 1, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(LogLast().text, "Data overflow in field 'f'");
}

}  // namespace
}  // namespace xandb_test

namespace xandb_test {
namespace {

class Refused : public ::testing::TestWithParam<RoundTrip> {};

// A record the table refuses ends the insert; the records before it stay written and counted,
// and the field or the driver's text says why.
TEST_P(Refused, EarlierRecordsStayWrittenAndCounted) {
  Env env;
  Source source(GetParam().engine);
  XANDB_REQUIRE(source);
  Direct direct(source.source());
  direct.ExecAll({"CREATE TABLE r (id INTEGER NOT NULL, name VARCHAR(4))"});
  Link link;
  ASSERT_EQ(link.Connect(source.source()), TWSUCCESS);
  link.Table("R");
  List in(4);
  TWFIELD id = in.Add("ID", TWTYPE_INT);
  TWFIELD name = in.Add("NAME", TWTYPE_TEXT);
  for (int32_t r = 1; r <= 4; ++r) {
    if (r != 3) {
      ASSERT_EQ(TWFieldSetInt(id, static_cast<uint32_t>(r), &r), TWSUCCESS);
    }
    SetValue(name, static_cast<uint32_t>(r), "n");
  }
  uint32_t n = 0;
  if (GetParam().arrays) {
    EXPECT_EQ(link.c.Insert(in.get(), 1, 4, &n), TWFAIL_EXTERNAL);
  } else {
    uint32_t st = TWSUCCESS;
    for (uint32_t r = 1; r <= 4 && st == TWSUCCESS; ++r) st = link.c.Insert(in.get(), r, 1, &n);
    EXPECT_EQ(st, TWFAIL_EXTERNAL);
  }
  EXPECT_FALSE(LogLast().externalText.empty());
  EXPECT_EQ(n, 2u);
  ASSERT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(direct.Query("SELECT id FROM r ORDER BY id"), (Rows{{"1"}, {"2"}}));
  // A value longer than its column names the field.
  SetValue(name, 1, "longer");
  EXPECT_EQ(link.c.Insert(in.get(), 1, 1, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(LogLast().text, "Data overflow in field 'name'");
}

class Blocks : public ::testing::TestWithParam<Engine> {};

// Inserts of blocks of changing sizes on one statement: a block larger than any before it puts
// the arrays elsewhere, and the values bound must follow them; single records go between.
TEST_P(Blocks, EveryRowOfBlocksOfChangingSizes) {
  Env env;
  Source source(GetParam());
  XANDB_REQUIRE(source);
  Direct direct(source.source());
  direct.ExecAll({"CREATE TABLE b (id INTEGER, name VARCHAR(12))"});
  Link link;
  ASSERT_EQ(link.Connect(source.source()), TWSUCCESS);
  link.Table("B");
  constexpr uint32_t kRecords = 40;
  List in(kRecords);
  TWFIELD id = in.Add("ID", TWTYPE_INT);
  TWFIELD name = in.Add("NAME", TWTYPE_TEXT);
  Rows expected;
  for (uint32_t r = 1; r <= kRecords; ++r) {
    const int32_t value = static_cast<int32_t>(r);
    ASSERT_EQ(TWFieldSetInt(id, r, &value), TWSUCCESS);
    const std::string text = std::string(r % 12, 'a' + static_cast<char>(r % 26)) + "!";
    SetValue(name, r, text);
    expected.push_back({std::to_string(r), text});
  }
  uint32_t n = 0, first = 1;
  for (uint32_t size : {2u, 10u, 3u, 1u, 24u}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(link.c.Insert(in.get(), first, size, &n), TWSUCCESS) << LogLast().externalText;
    first += size;
  }
  EXPECT_EQ(n, kRecords);
  ASSERT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(direct.Query("SELECT id, name FROM b ORDER BY id"), expected);
}

// A block with a value longer than any array element takes (sent in pieces at execution)
// and one a column refuses: the records before the refused one go in whole and are counted.
TEST_P(Blocks, ALongValueGoesInPiecesAndARefusedOneCostsNoEarlierRecord) {
  Env env;
  Source source(GetParam());
  XANDB_REQUIRE(source);
  Direct direct(source.source());
  direct.ExecAll({"CREATE TABLE l (id INTEGER, body TEXT, tag VARCHAR(2))"});
  Link link;
  ASSERT_EQ(link.Connect(source.source()), TWSUCCESS);
  link.Table("L");
  std::string longText;
  for (int i = 0; i < 17500; ++i) longText += "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";
  List in(4);
  TWFIELD id = in.Add("ID", TWTYPE_INT);
  TWFIELD body = in.Add("BODY", TWTYPE_TEXT);
  TWFIELD tag = in.Add("TAG", TWTYPE_TEXT);
  for (int32_t r = 1; r <= 4; ++r) {
    ASSERT_EQ(TWFieldSetInt(id, static_cast<uint32_t>(r), &r), TWSUCCESS);
    SetValue(body, static_cast<uint32_t>(r), r == 3 ? longText : "short");
    SetValue(tag, static_cast<uint32_t>(r), r == 4 ? "\xC3\xA9\xC3\xA9!" : "\xC3\xA9\xC3\xA9");
  }
  uint32_t n = 0;
  // Two records as arrays, their texts as long in bytes as their column is in characters;
  // then the long value and the refused one.
  ASSERT_EQ(link.c.Insert(in.get(), 1, 2, &n), TWSUCCESS) << LogLast().text;
  EXPECT_EQ(link.c.Insert(in.get(), 3, 2, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(LogLast().text, "Data overflow in field 'tag'");
  EXPECT_EQ(n, 3u);
  ASSERT_EQ(link.c.Action(TWACTION_COMMIT), TWSUCCESS);
  const Rows rows = direct.Query("SELECT id, body, tag FROM l ORDER BY id");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<std::string>{"2", "short", "\xC3\xA9\xC3\xA9"}));
  EXPECT_TRUE(rows[2][1] == longText) << rows[2][1].size();
  // And back, whole.
  link.Str(TWTOKEN_CONDITION, "id = 3");
  List out(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, out.get(), &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(out.get(), 1, 1, &n), TWSUCCESS) << LogLast().text;
  EXPECT_TRUE(out.Value(2, 1) == longText) << out.Value(2, 1).value_or("NULL").size();
}

INSTANTIATE_TEST_SUITE_P(Engines, Blocks, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& p) { return std::string(Name(p.param)); });

INSTANTIATE_TEST_SUITE_P(
    Paths, Refused,
    ::testing::Values(RoundTrip{Engine::kSqlite, false}, RoundTrip{Engine::kSqlite, true},
                      RoundTrip{Engine::kPostgres, false}, RoundTrip{Engine::kPostgres, true}),
    [](const auto& p) {
      return std::string(Name(p.param.engine)) + (p.param.arrays ? "_arrays" : "_single");
    });

}  // namespace
}  // namespace xandb_test
