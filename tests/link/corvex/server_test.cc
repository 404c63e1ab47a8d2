// The Corvex connector against the TDS 5.0 test server tds5d through FreeTDS: connections and
// character sets, the texts the server receives, values both ways (literal, prepared, bulk),
// long values, the write-back cursor, and a case for each fault mended.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "corvex_test_util.h"

namespace corvex_test {
namespace {

using link_test::GetInt;
using twtest::List;
using twtest::SetValue;
using twtest::Text;

// A link to the test server of charset section server, connected.
struct Open : Link {
  explicit Open(Tds& tds, const char* server = kUtf8, const char* database = "test") {
    Str(TWTOKEN_SERVER, server)
        .Str(TWTOKEN_USERID, tds.user())
        .Str(TWTOKEN_PASSWORD, tds.password());
    if (*database != '\0') Str(TWTOKEN_DATABASE, database);
    EXPECT_EQ(c.Connect(), TWSUCCESS) << twtest::LogLast().externalText;
  }
};

TEST(CorvexServer, ConnectsAndKeepsEachLinksCharacterSet) {
  Engine engine;
  Tds tds;
  {
    Link bad;
    bad.Str(TWTOKEN_SERVER, kUtf8).Str(TWTOKEN_USERID, tds.user()).Str(TWTOKEN_PASSWORD, "wrong");
    EXPECT_EQ(bad.c.Connect(), TWFAIL_EXTERNAL);
    EXPECT_FALSE(bad.c.connected());
    EXPECT_EQ(twtest::LogLast().externalCode, 4002u);
  }
  // Two links of one process on servers of different sets: each keeps its own format (the
  // second connect must not change the first link's), and each reads back what it wrote.
  Open latin(tds, kLatin1);
  Open utf(tds, kUtf8);
  EXPECT_EQ(GetInt(latin.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_ISO88591));
  EXPECT_EQ(GetInt(utf.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_NATIVE));
  EXPECT_EQ(twtest::LogLast().status, TWEVENT_CHARACTER_SET);
  // A set the engine does not read (koi8) keeps the native format, whatever an earlier link
  // found, and says so.
  tds.server().AddSection("corvex_koi8", "KOI8-R");
  Open koi(tds, "corvex_koi8");
  EXPECT_EQ(GetInt(koi.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_NATIVE));
  EXPECT_EQ(twtest::LogLast().text,
            "Unsupported Link character set 'koi8'; using native character set");
  EXPECT_EQ(GetInt(latin.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_ISO88591));
  ASSERT_EQ(Exec(utf.c, "create table cs (k int not null, t varchar(20) null)"), TWSUCCESS);
  ASSERT_EQ(Exec(latin.c, "insert into cs values (1, \"caf\xC3\xA9\")"), TWSUCCESS);
  ASSERT_EQ(Exec(utf.c, "insert into cs values (2, \"na\xC3\xAFve\")"), TWSUCCESS);
  // The server keeps the bytes each client sent: Latin-1 for one, UTF-8 for the other.
  EXPECT_EQ(Rows(utf.c, "select t from cs where k = 1"), std::vector<std::string>{"caf\xE9"});
  EXPECT_EQ(Rows(latin.c, "select t from cs where k = 1"), std::vector<std::string>{"caf\xC3\xA9"});
  EXPECT_EQ(Rows(utf.c, "select t from cs where k = 2"), std::vector<std::string>{"na\xC3\xAFve"});
}

TEST(CorvexServer, TextsTheServerReceives) {
  Engine engine;
  Tds tds;
  Open link(tds);
  link.Str(TWTOKEN_METADATA, "tt").Str(TWTOKEN_INDEX, "tt_k");
  List fields(1);
  struct Column {
    const char* name;
    uint32_t type;
    uint32_t length;  // streams
    uint32_t flags;
  };
  const Column columns[] = {{"k", TWTYPE_INT, 0, TWFIELDF_KEY | TWFIELDF_NO_NULL},
                            {"s", TWTYPE_TEXT, 20, 0},
                            {"l", TWTYPE_TEXT, 300, 0},
                            {"u", TWTYPE_TEXT, 0, 0},
                            {"b", TWTYPE_BINARY, 0, 0}};
  for (const Column& col : columns) {
    TWFIELD f = fields.Add(col.name, col.type);
    EXPECT_EQ(TWFieldSetFlags(f, col.flags), TWSUCCESS);
    if (col.type == TWTYPE_TEXT || col.type == TWTYPE_BINARY) {
      const uint32_t format = col.type == TWTYPE_BINARY ? TWSTREAMFMT_BLOB : 0;
      EXPECT_EQ(TWFieldSetFormatStream(f, 0, col.length, format), TWSUCCESS);
    }
  }
  struct Case {
    std::function<uint32_t()> op;
    std::string text;
  };
  const Case cases[] = {
      {[&] { return link.c.Create(TWOBJECT_METADATA, fields.get()); },
       "create table tt (k int not null,s varchar(20) null,l varchar(300) null,u text null,b "
       "image null) "},
      {[&] { return link.c.Create(TWOBJECT_INDEX, fields.get()); },
       "create unique index tt_k on tt (k) "},
      {[&] {
         link.Num(corvex::kCreateShortBound, 1).Num(corvex::kCreateShortUnbound, 1);
         link.Str(TWTOKEN_METADATA, "tt2");
         uint32_t st = link.c.Create(TWOBJECT_METADATA, fields.get());
         link.Num(corvex::kCreateShortBound, 0).Num(corvex::kCreateShortUnbound, 0);
         link.Str(TWTOKEN_METADATA, "tt");
         return st;
       },
       "create table tt2 (k int not null,s varchar(20) null,l varchar(255) null,u varchar(255) "
       "null,b varbinary(255) null) "},
      {[&] {
         List keys(1);
         TWFIELD k = keys.Add("k", TWTYPE_INT);
         EXPECT_EQ(TWFieldSetFlags(k, TWFIELDF_KEY | TWFIELDF_KEY_GT), TWSUCCESS);
         SetValue(k, 1, "3");
         twtest::List dest(1);
         uint32_t n = 0;
         return link.c.Select(keys.get(), 1, dest.get(), &n);
       },
       "select * from tt where k>=3"},
      {[&] {
         link.Str(TWTOKEN_CONDITION, "s <> 'x'");
         twtest::List dest(1);
         uint32_t n = 0;
         uint32_t st = link.c.Select(TWNULLHANDLE, 1, dest.get(), &n);
         EXPECT_EQ(link_test::SetNull(link.c, TWTOKEN_CONDITION, TWTYPE_TEXT), TWSUCCESS);
         return st;
       },
       "select * from tt where  (s <> 'x') "},
      {[&] {
         List dest(1);
         uint32_t n = 0;
         return link.c.Catalog(TWOBJECT_FIELD, dest.get(), &n);
       },
       ""},
      {[&] { return link.c.Action(TWACTION_TRUNCATE); }, "truncate table tt"},
      {[&] { return link.c.Drop(TWOBJECT_INDEX); }, "drop index tt.tt_k"},
      {[&] { return link.c.Drop(TWOBJECT_METADATA); }, "drop table tt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.op(), TWSUCCESS) << c.text << "\n" << twtest::LogLast().text;
    if (!c.text.empty()) {
      EXPECT_TRUE(tds.Logged(c.text)) << c.text << "\n" << tds.Log();
    }
  }
  uint32_t n = 0;
  List dest(1);
  for (uint32_t kind = 2; kind <= 5; ++kind) {
    link.Str(TWTOKEN_METADATA, "cs'x");
    EXPECT_EQ(link.c.Catalog(kind, dest.get(), &n), TWSUCCESS) << kind;
    EXPECT_TRUE(tds.Logged(corvex::CatalogText(kind, "cs'x"))) << kind << "\n" << tds.Log();
  }
  EXPECT_EQ(link.c.Catalog(1, dest.get(), &n), TWFAIL_UNAVAILABLE);
}

// A datetime in the machine's zone.
TWDatetime Date(int32_t y, int32_t mo, int32_t d, int32_t h = 0, int32_t mi = 0, int32_t sec = 0,
                int32_t hs = 0) {
  TWDatetimeParts p{};
  p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = sec, p.hundredth = hs;
  TWDatetime v{};
  EXPECT_EQ(TWDatetimeSetParts(&v, &p, TWPARTSF_LOCAL), TWSUCCESS);
  return v;
}

// The fields of the values table, in its column order, with the flags each write needs.
struct ValueFields {
  List list{1};
  TWFIELD k, s, b, m, d, f, n1, n2, n3, t;
  ValueFields() {
    k = list.Add("k", TWTYPE_INT);
    s = list.Add("s", TWTYPE_TEXT);
    b = list.Add("b", TWTYPE_BINARY);
    EXPECT_EQ(TWFieldSetFormatStream(b, 0, 0, TWSTREAMFMT_BLOB), TWSUCCESS);
    m = list.Add("m", TWTYPE_CURRENCY);
    d = list.Add("d", TWTYPE_DATETIME);
    f = list.Add("f", TWTYPE_FLOAT);
    n1 = list.Add("n1", TWTYPE_INT);
    n2 = list.Add("n2", TWTYPE_FLOAT);
    EXPECT_EQ(TWFieldSetFlags(n2, TWFIELDF_TRUNC_PREC), TWSUCCESS);  // a float into numeric
    n3 = list.Add("n3", TWTYPE_NUMERIC);
    t = list.Add("t", TWTYPE_TEXT);
  }
  void Row(int32_t key, std::string_view text, std::string_view bytes, int64_t money,
           const TWDatetime& when, double number, int32_t i9, double d12, std::string_view n20,
           std::string_view longText) {
    EXPECT_EQ(TWFieldSetInt(k, 1, &key), TWSUCCESS);
    SetValue(s, 1, text);
    flowcore::StreamData blob;
    EXPECT_EQ(blob.Set(TWSTREAMFMT_BLOB, bytes), TWSUCCESS);
    EXPECT_EQ(TWFieldSetStream(b, 1, blob.get()), TWSUCCESS);
    TWCurrency c{money};
    EXPECT_EQ(TWFieldSetCurrency(m, 1, &c), TWSUCCESS);
    EXPECT_EQ(TWFieldSetDatetime(d, 1, &when), TWSUCCESS);
    EXPECT_EQ(TWFieldSetFloat(f, 1, &number), TWSUCCESS);
    EXPECT_EQ(TWFieldSetInt(n1, 1, &i9), TWSUCCESS);
    EXPECT_EQ(TWFieldSetFloat(n2, 1, &d12), TWSUCCESS);
    SetValue(n3, 1, n20);
    SetValue(t, 1, longText);
  }
};

constexpr char kValuesTable[] =
    "create table vals (k int not null, s varchar(10) null, b varbinary(4) null, m money null, "
    "d datetime null, f float null, n1 numeric(9,0) null, n2 numeric(12,2) null, n3 numeric(20,4) "
    "null, t text null)";

// A table with a text column takes literal inserts: every value written as the server reads
// it, and read back the same.
TEST(CorvexServer, LiteralValuesGoAndComeBack) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c, kValuesTable), TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "vals");
  ValueFields v;
  uint32_t n = 0;
  v.Row(1, "say \"hi\"", std::string("\x00\xff", 2), 123400, Date(1999, 1, 2, 3, 4, 5, 6), 1e-7,
        123456789, 1234567890.25, "1234567890123456.7891", "first");
  ASSERT_EQ(link.c.Insert(v.list.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  EXPECT_TRUE(tds.Logged(
      "insert into vals (k,s,b,m,d,f,n1,n2,n3,t) values (1,\"say \"\"hi\"\"\",0x00FF,$12.3400,"
      "'1/2/1999 3:04:05.06',0.000000099999999999999995,123456789,1234567890.25,"
      "1234567890123456.7891,\"first\") "))
      << tds.Log();
  // Overflow and years before the server's first: refused, or cut and moved with TRUNC_DATA.
  struct Case {
    std::string text;
    TWDatetime when;
    uint32_t flags;
    uint32_t status;
  };
  const Case cases[] = {
      {"0123456789x", Date(2000, 1, 1), 0, TWFAIL_OVERFLOW},
      {"abc", Date(1850, 6, 1), 0, TWFAIL_OVERFLOW},
      {"0123456789x", Date(1850, 6, 1, 12), TWFIELDF_TRUNC_DATA, TWSUCCESS},
  };
  int32_t key = 2;
  for (const Case& c : cases) {
    EXPECT_EQ(TWFieldSetFlags(v.s, c.flags), TWSUCCESS);
    EXPECT_EQ(TWFieldSetFlags(v.d, c.flags), TWSUCCESS);
    v.Row(key, c.text, "", 0, c.when, 0, 0, 0, "0", "x");
    n = 0;
    EXPECT_EQ(link.c.Insert(v.list.get(), 1, 1, &n), c.status) << c.text;
    EXPECT_EQ(n, c.status == TWSUCCESS ? 1u : 0u);
    if (c.status == TWSUCCESS) ++key;
  }
  // Read back: numeric(9,0) is an integer field, numeric(12,2) a float, numeric(20,4) a
  // numeric; the money, float and numeric digits all kept.
  twtest::List dest(1);
  EXPECT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), &n), TWSUCCESS);
  const uint32_t types[] = {TWTYPE_INT,      TWTYPE_TEXT,  TWTYPE_BINARY, TWTYPE_CURRENCY,
                            TWTYPE_DATETIME, TWTYPE_FLOAT, TWTYPE_INT,    TWTYPE_FLOAT,
                            TWTYPE_NUMERIC,  TWTYPE_TEXT};
  ASSERT_EQ(dest.count(), 10u);
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(TWFieldGetType(dest.Field(i + 1)), types[i]) << i;
  }
  n = 0;
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(dest.Value(1, 1), "1");
  EXPECT_EQ(dest.Value(2, 1), "say \"hi\"");
  EXPECT_EQ(dest.Value(3, 1), "00FF");
  EXPECT_EQ(dest.Value(4, 1), "12.3400");
  double f = 0;
  EXPECT_EQ(TWFieldGetFloat(dest.Field(6), 1, &f, nullptr), TWSUCCESS);
  EXPECT_EQ(f, 1e-7);
  EXPECT_EQ(dest.Value(7, 1), "123456789");
  EXPECT_EQ(TWFieldGetFloat(dest.Field(8), 1, &f, nullptr), TWSUCCESS);
  EXPECT_EQ(f, 1234567890.25);
  EXPECT_EQ(dest.Value(9, 1), "1234567890123456.7891");
  TWDatetime when{};
  EXPECT_EQ(TWFieldGetDatetime(dest.Field(5), 1, &when, nullptr), TWSUCCESS);
  TWDatetimeParts p{};
  EXPECT_EQ(TWDatetimeGetParts(&when, TWPARTSF_LOCAL, &p), TWSUCCESS);
  EXPECT_EQ(std::vector<int32_t>({p.year, p.month, p.day, p.hour, p.minute, p.second, p.hundredth}),
            std::vector<int32_t>({1999, 1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(dest.Value(2, 1), "0123456789");
  EXPECT_EQ(TWFieldGetDatetime(dest.Field(5), 1, &when, nullptr), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetParts(&when, TWPARTSF_LOCAL, &p), TWSUCCESS);
  EXPECT_EQ(p.year, 1900);
  EXPECT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWFAIL_END_OF_DATA);
  EXPECT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWFAIL_END_OF_DATA);
}

// Text and image values over 64 KiB are read in pieces, and the columns after them still
// arrive.
TEST(CorvexServer, LongValuesWithColumnsAfterThem) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c,
                 "create table big (k int not null, t text null, i image null, "
                 "after varchar(10) null)"),
            TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "big");
  std::string text(70000, 'x'), image(70001, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  List src(1);
  TWFIELD k = src.Add("k", TWTYPE_INT);
  TWFIELD t = src.Add("t", TWTYPE_TEXT);
  TWFIELD img = src.Add("i", TWTYPE_BINARY);
  TWFIELD after = src.Add("after", TWTYPE_TEXT);
  int32_t one = 1;
  EXPECT_EQ(TWFieldSetInt(k, 1, &one), TWSUCCESS);
  SetValue(t, 1, text);
  flowcore::StreamData blob;
  EXPECT_EQ(blob.Set(TWSTREAMFMT_BLOB, image), TWSUCCESS);
  EXPECT_EQ(TWFieldSetStream(img, 1, blob.get()), TWSUCCESS);
  SetValue(after, 1, "tail");
  uint32_t n = 0;
  ASSERT_EQ(link.c.Insert(src.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  List dest(1);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), &n), TWSUCCESS);
  n = 0;
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(dest.Value(2, 1), text);
  Text got;
  ASSERT_EQ(TWFieldGetStream(dest.Field(3), 1, TWSTREAMFMT_BLOB, got.get(), nullptr), TWSUCCESS);
  EXPECT_EQ(got.str() == image, true) << got.str().size();
  EXPECT_EQ(dest.Value(4, 1), "tail");
}

// Fields go to their own columns when the merge drops names (by position) and when they are
// paired by name in another order.
TEST(CorvexServer, FetchPutsEachColumnInItsOwnField) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c, "create table abc (a int null, b varchar(5) null, c int null)"),
            TWSUCCESS);
  ASSERT_EQ(Exec(link.c, "insert into abc values (1, \"two\", 3)"), TWSUCCESS);
  struct Case {
    bool byName;
    std::vector<std::pair<const char*, uint32_t>> names;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {false, {{"x", TWTYPE_INT}, {"y", TWTYPE_TEXT}}, {"1", "two"}},
      {true, {{"c", TWTYPE_INT}, {"a", TWTYPE_INT}}, {"3", "1"}},
      {true, {{"b", TWTYPE_TEXT}}, {"two"}},
  };
  for (const Case& c : cases) {
    link.Num(TWTOKEN_MAP_NAME, c.byName ? 1 : 0);
    List dest(1);
    for (const auto& [name, type] : c.names) dest.Add(name, type);
    uint32_t n = 0;
    Text select("select a, b, c from abc");
    List described(1);
    ASSERT_EQ(link.c.Execute(select.get(), described.get(), &n), TWSUCCESS);
    ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
    for (size_t i = 0; i < c.values.size(); ++i)
      EXPECT_EQ(dest.Value(static_cast<uint32_t>(i + 1), 1), c.values[i]) << c.names[i].first;
  }
}

// Text of 2-, 3- and 4-byte characters at its column's size (which counts bytes, as the
// server's do) goes and comes back byte for byte; one character more is refused, or cut on
// the last whole character that fits under TRUNC_DATA, never inside one.
TEST(CorvexServer, MultiByteTextIsCutOnAWholeCharacter) {
  Engine engine;
  Tds tds;
  Open link(tds);
  struct Case {
    const char* type;  // one byte or more beyond fits
    std::string fits;
    std::string more;  // one character more
  };
  const Case cases[] = {
      {"varchar(11)", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9"},
      {"varchar(13)", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"varchar(15)", "\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E", "\xF0\x9D\x84\x9E"},
      {"char(24)", "Zo\xC3\xAB Bront\xC3\xAB-M\xC3\xBCllerxyz", "\xC3\xAB"},
  };
  int table = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    // A table of its own: the link keeps the description of a table it wrote to.
    const std::string name = "mb" + std::to_string(++table);
    ASSERT_EQ(Exec(link.c, "create table " + name + " (k int not null, v " + c.type + " null)"),
              TWSUCCESS);
    link.Str(TWTOKEN_METADATA, name.c_str());
    List in(1);
    TWFIELD k = in.Add("k", TWTYPE_INT);
    TWFIELD v = in.Add("v", TWTYPE_TEXT);
    uint32_t n = 0;
    for (int32_t key : {1, 2, 3}) {
      ASSERT_EQ(TWFieldSetInt(k, 1, &key), TWSUCCESS);
      SetValue(v, 1, key == 1 ? c.fits : c.fits + c.more);
      ASSERT_EQ(TWFieldSetFlags(v, key == 3 ? TWFIELDF_TRUNC_DATA : 0), TWSUCCESS);
      EXPECT_EQ(link.c.Insert(in.get(), 1, 1, &n), key == 2 ? TWFAIL_OVERFLOW : TWSUCCESS)
          << twtest::LogLast().text;
    }
    EXPECT_EQ(Rows(link.c, "select v from " + name + " order by k"),
              (std::vector<std::string>{c.fits, c.fits}));
  }
}

// A stamped select takes the rows after BASESTAMP up to the server's time less a second: the
// window's ends go as the engine writes dates (12-hour, AM or PM) and the server compares them
// as dates, an afternoon base included.
TEST(CorvexServer, StampWindowSelectsTheRowsBetweenItsEnds) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c, "create table stamped (k int not null, ts datetime null)"), TWSUCCESS);
  for (const char* row :
       {"(1, '1999-12-31 23:59:59')", "(2, '2020-01-01 13:00:00')", "(3, '2020-01-01 13:00:01')",
        "(4, '2024-06-01 09:15:00')", "(5, '2999-01-01 00:00:00')", "(6, null)"})
    ASSERT_EQ(Exec(link.c, std::string("insert into stamped values ") + row), TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "stamped").Str(TWTOKEN_STAMPFIELD, "ts").Num(TWTOKEN_MAP_NAME, 1);
  struct Case {
    const char* base;  // empty: no lower end
    std::vector<std::string> keys;
  } cases[] = {
      {"", {"1", "2", "3", "4"}},
      {"2020-01-01 13:00:00", {"3", "4"}},
      {"2020-01-01 01:00:00", {"2", "3", "4"}},
      {"2030-01-01 00:00:00", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base);
    if (*c.base) {
      ASSERT_EQ(link_test::SetField(link.c, TWTOKEN_BASESTAMP, TWTYPE_DATETIME,
                                    [&](TWFIELD f) { SetValue(f, 1, c.base); }),
                TWSUCCESS);
    }
    List dest(1);
    uint32_t n = 0;
    ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), &n), TWSUCCESS) << twtest::LogLast().text;
    std::vector<std::string> keys;
    while (link.c.Fetch(dest.get(), 1, 1, &n) == TWSUCCESS) keys.push_back(*dest.Value(1, 1));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, c.keys) << tds.Log();
  }
}

// An update or remove by key with neither a key nor a condition would reach every row: it
// is refused before anything is sent.
TEST(CorvexServer, WriteWithoutKeyOrConditionIsRefused) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c, "create table nk (a int null, t text null)"), TWSUCCESS);
  ASSERT_EQ(Exec(link.c, "insert into nk values (1, \"x\")"), TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "nk");
  List src(1);
  TWFIELD a = src.Add("a", TWTYPE_INT);
  src.Add("t", TWTYPE_TEXT);
  int32_t nine = 9;
  EXPECT_EQ(TWFieldSetInt(a, 1, &nine), TWSUCCESS);
  const size_t before = tds.server().Log().size();
  uint32_t n = 0;
  EXPECT_EQ(link.c.Update(src.get(), 1, 1, &n), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(link.c.Remove(src.get(), 1, 1, &n), TWFAIL_KEY_COUNT_MISMATCH);
  EXPECT_EQ(twtest::LogLast().status, TWFAIL_KEY_COUNT_MISMATCH);
  for (size_t i = before; i < tds.server().Log().size(); ++i)
    EXPECT_EQ(tds.server().Log()[i].text.rfind("update", 0), std::string::npos);
  EXPECT_EQ(Rows(link.c, "select a from nk"), std::vector<std::string>{"1"});
  // With a key the literal update (the table has a text column) reaches its row.
  EXPECT_EQ(TWFieldSetFlags(a, TWFIELDF_KEY), TWSUCCESS);
  SetValue(a, 1, "1");
  List keyed(1);
  TWFIELD ka = keyed.Add("a", TWTYPE_INT);
  EXPECT_EQ(TWFieldSetFlags(ka, TWFIELDF_KEY), TWSUCCESS);
  SetValue(ka, 1, "1");
  TWFIELD kt = keyed.Add("t", TWTYPE_TEXT);
  SetValue(kt, 1, "y");
  n = 0;
  EXPECT_EQ(link.c.Update(keyed.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  EXPECT_TRUE(tds.Logged("update nk set a=1,t=\"y\" where a=1")) << tds.Log();
}

// Without a long column the writes are prepared once and executed with parameters of each
// type; a char or binary value holds 255 bytes.
TEST(CorvexServer, PreparedWrites) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c,
                 "create table pv (k int not null, s varchar(255) null, b varbinary(255) "
                 "null, m money null, d datetime null, f float null, n numeric(20,4) "
                 "null)"),
            TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "pv");
  List src(3);
  TWFIELD k = src.Add("k", TWTYPE_INT);
  TWFIELD s = src.Add("s", TWTYPE_TEXT);
  TWFIELD b = src.Add("b", TWTYPE_BINARY);
  EXPECT_EQ(TWFieldSetFormatStream(b, 0, 0, TWSTREAMFMT_BLOB), TWSUCCESS);
  TWFIELD m = src.Add("m", TWTYPE_CURRENCY);
  TWFIELD d = src.Add("d", TWTYPE_DATETIME);
  TWFIELD f = src.Add("f", TWTYPE_FLOAT);
  TWFIELD nu = src.Add("n", TWTYPE_NUMERIC);
  const std::string texts[] = {std::string(255, 'a'), "", "c\"'"};
  const std::string bytes[] = {std::string(255, '\x01'), std::string(1, '\x02'), ""};
  for (uint32_t r = 1; r <= 3; ++r) {
    int32_t key = static_cast<int32_t>(r);
    EXPECT_EQ(TWFieldSetInt(k, r, &key), TWSUCCESS);
    SetValue(s, r, texts[r - 1]);
    flowcore::StreamData blob;
    EXPECT_EQ(blob.Set(TWSTREAMFMT_BLOB, bytes[r - 1]), TWSUCCESS);
    if (r < 3) {
      EXPECT_EQ(TWFieldSetStream(b, r, blob.get()), TWSUCCESS);
    }
    TWCurrency money{-123456789012345 * r};
    EXPECT_EQ(TWFieldSetCurrency(m, r, &money), TWSUCCESS);
    const TWDatetime when = Date(1900 + static_cast<int32_t>(r), 12, 31, 23, 59, 59, 99);
    EXPECT_EQ(TWFieldSetDatetime(d, r, &when), TWSUCCESS);
    const double number = 1e-7 * r;
    EXPECT_EQ(TWFieldSetFloat(f, r, &number), TWSUCCESS);
    SetValue(nu, r, "1234567890123456.789" + std::to_string(r));
  }
  uint32_t n = 0;
  ASSERT_EQ(link.c.Insert(src.get(), 1, 3, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 3u);
  EXPECT_NE(tds.Log().find("insert into pv (k,s,b,m,d,f,n) values (?,?,?,?,?,?,?) "),
            std::string::npos)
      << tds.Log();
  List dest(1);
  link.Str(TWTOKEN_ORDER_LIST, "");
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), &n), TWSUCCESS);
  for (uint32_t r = 1; r <= 3; ++r) {
    ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
    EXPECT_EQ(dest.Value(1, 1), std::to_string(r));
    if (r != 2) {
      EXPECT_EQ(dest.Value(2, 1), texts[r - 1]);
    }
    Text got;
    EXPECT_EQ(TWFieldGetStream(dest.Field(3), 1, TWSTREAMFMT_BLOB, got.get(), nullptr), TWSUCCESS);
    if (r < 3) {
      EXPECT_EQ(got.str(), bytes[r - 1]);
    }
    if (r == 3) {
      EXPECT_FALSE(dest.Value(3, 1));
    }
    TWCurrency money{};
    EXPECT_EQ(TWFieldGetCurrency(dest.Field(4), 1, &money, nullptr), TWSUCCESS);
    EXPECT_EQ(money.value, -123456789012345 * static_cast<int64_t>(r));
    double number = 0;
    EXPECT_EQ(TWFieldGetFloat(dest.Field(6), 1, &number, nullptr), TWSUCCESS);
    EXPECT_EQ(number, 1e-7 * r);
    EXPECT_EQ(dest.Value(7, 1), "1234567890123456.789" + std::to_string(r));
    TWDatetime when{};
    TWDatetimeParts p{};
    EXPECT_EQ(TWFieldGetDatetime(dest.Field(5), 1, &when, nullptr), TWSUCCESS);
    EXPECT_EQ(TWDatetimeGetParts(&when, TWPARTSF_LOCAL, &p), TWSUCCESS);
    EXPECT_EQ(
        std::vector<int32_t>({p.year, p.month, p.day, p.hour, p.minute, p.second, p.hundredth}),
        std::vector<int32_t>({1900 + static_cast<int32_t>(r), 12, 31, 23, 59, 59, 99}));
  }
  // Update and remove by key, prepared: the parameters are the set list, then the keys.
  List upd(1);
  TWFIELD uk = upd.Add("k", TWTYPE_INT);
  EXPECT_EQ(TWFieldSetFlags(uk, TWFIELDF_KEY | TWFIELDF_NO_UPDATE), TWSUCCESS);
  SetValue(uk, 1, "2");
  SetValue(upd.Add("s", TWTYPE_TEXT), 1, "changed");
  n = 0;
  EXPECT_EQ(link.c.Update(upd.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  List del(1);
  TWFIELD dk = del.Add("k", TWTYPE_INT);
  EXPECT_EQ(TWFieldSetFlags(dk, TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE), TWSUCCESS);
  SetValue(dk, 1, "2");
  n = 0;
  EXPECT_EQ(link.c.Remove(del.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(Rows(link.c, "select k, s from pv order by k"),
            (std::vector<std::string>{"1|" + texts[0], "2|changed"}));
  const std::string log = tds.Log();
  EXPECT_NE(log.find("update pv set s=? where k=?"), std::string::npos) << log;
  EXPECT_NE(log.find("delete from pv where k>?"), std::string::npos) << log;
}

// A write-back selection updates and removes the rows it fetched, one at a time.
TEST(CorvexServer, WritebackAtTheCursor) {
  Engine engine;
  Tds tds;
  Open link(tds);
  ASSERT_EQ(Exec(link.c, "create table wb (k int not null, s varchar(10) null)"), TWSUCCESS);
  for (const char* row : {"(1, \"a\")", "(2, \"b\")", "(3, \"c\")"})
    ASSERT_EQ(Exec(link.c, std::string("insert into wb values ") + row), TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "wb").Num(TWTOKEN_WRITEBACK, 1).Num(TWTOKEN_MAP_NAME, 1);
  List dest(1);
  uint32_t n = 0;
  List upd(2);
  SetValue(upd.Add("s", TWTYPE_TEXT), 1, "B");
  EXPECT_EQ(link.c.Update(upd.get(), 1, 1, &n), TWFAIL_NO_WRITEBACK);
  ASSERT_EQ(link.c.Select(TWNULLHANDLE, 1, dest.get(), &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(link.c.Update(upd.get(), 1, 2, &n), TWFAIL_WRITEBACK_COUNT);
  // No row is current before the first fetch, after a removal or after the last row: such a
  // write is refused and counts nothing.
  auto refused = [&](const char* when) {
    n = 0;
    EXPECT_EQ(link.c.Update(upd.get(), 1, 1, &n), TWFAIL_NO_WRITEBACK) << when;
    EXPECT_EQ(link.c.Remove(upd.get(), 1, 1, &n), TWFAIL_NO_WRITEBACK) << when;
    EXPECT_EQ(n, 0u) << when;
  };
  refused("before the first fetch");
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS);
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(dest.Value(1, 1), "2");
  // A write on another connection (as the work connection's inserts) does not lock the
  // cursor's connection out of the table.
  Open other(tds);
  ASSERT_EQ(Exec(other.c, "insert into wb values (9, \"z\")"), TWSUCCESS);
  n = 0;
  EXPECT_EQ(link.c.Update(upd.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(dest.Value(1, 1), "3");
  ASSERT_EQ(Exec(other.c, "update wb set s = \"y\" where k = 9"), TWSUCCESS);
  n = 0;
  EXPECT_EQ(link.c.Remove(upd.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 1u);
  refused("after the removal");
  EXPECT_EQ(link.c.Fetch(dest.get(), 1, 1, &n), TWFAIL_END_OF_DATA);
  refused("after the last row");
  link.Num(TWTOKEN_WRITEBACK, 0);
  EXPECT_EQ(Rows(link.c, "select k, s from wb order by k"),
            (std::vector<std::string>{"1|a", "2|B", "9|y"}));
  EXPECT_TRUE(tds.Logged("update wb set s=\"B\" where current of cursor_execute")) << tds.Log();
  EXPECT_TRUE(tds.Logged("delete from wb where current of cursor_execute")) << tds.Log();
}

// Bulk copy: refused while the database's option is off, switched on by BulkEnable (the work
// connection back in the link's database after it), each insert's rows kept when it returns,
// and a batch the server refuses failing its insert.
TEST(CorvexServer, BulkCopy) {
  Engine engine;
  Tds tds;
  Open link(tds);
  Open other(tds);
  ASSERT_EQ(Exec(link.c,
                 "create table bk (k int not null, s varchar(10) null, m money null, "
                 "d datetime null, n numeric(20,4) null)"),
            TWSUCCESS);
  ASSERT_EQ(Exec(link.c, "create table later (k int not null)"), TWSUCCESS);
  link.Str(TWTOKEN_METADATA, "missing").Num(corvex::kBulk, 1);
  List src(2);
  TWFIELD k = src.Add("k", TWTYPE_INT);
  TWFIELD s = src.Add("s", TWTYPE_TEXT);
  TWFIELD m = src.Add("m", TWTYPE_CURRENCY);
  TWFIELD d = src.Add("d", TWTYPE_DATETIME);
  TWFIELD nu = src.Add("n", TWTYPE_NUMERIC);
  auto row = [&](uint32_t r, int32_t key) {
    EXPECT_EQ(TWFieldSetInt(k, r, &key), TWSUCCESS);
    SetValue(s, r, "row" + std::to_string(key));
    TWCurrency money{12345678901234 + key};
    EXPECT_EQ(TWFieldSetCurrency(m, r, &money), TWSUCCESS);
    const TWDatetime when = Date(2001, 2, 3, 4, 5, 6, 7);
    EXPECT_EQ(TWFieldSetDatetime(d, r, &when), TWSUCCESS);
    SetValue(nu, r, "9876543210987654.321" + std::to_string(key % 10));
  };
  row(1, 1);
  row(2, 2);
  uint32_t n = 0;
  EXPECT_EQ(link.c.Insert(src.get(), 1, 2, &n), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(twtest::LogLast().text, "Metadata object 'missing' does not exist");
  link.Str(TWTOKEN_METADATA, "bk");
  EXPECT_EQ(link.c.Insert(src.get(), 1, 2, &n), TWFAIL_EXTERNAL);
  EXPECT_NE(tds.Log().find("insert bulk bk"), std::string::npos) << tds.Log();
  EXPECT_EQ(twtest::LogLast().text, "Cannot initialize Corvex bulk copy program");
  EXPECT_EQ(Rows(other.c, "select count(*) from bk"), std::vector<std::string>{"0"});

  link.Num(corvex::kBulkEnable, 1);
  n = 0;
  ASSERT_EQ(link.c.Insert(src.get(), 1, 2, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(tds.Logged("exec sp_dboption test, \"select into/bulkcopy\", true")) << tds.Log();
  // Kept when the insert returns, before any release or disconnect.
  EXPECT_EQ(Rows(other.c, "select k, s, m, n from bk order by k"),
            (std::vector<std::string>{"1|row1|1234567890.1235|9876543210987654.3211",
                                      "2|row2|1234567890.1236|9876543210987654.3212"}));
  row(1, 3);
  n = 0;
  ASSERT_EQ(link.c.Insert(src.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(Rows(other.c, "select count(*) from bk"), std::vector<std::string>{"3"});
  // A batch the server refuses (a key already there) is lost whole: the insert says so and
  // counts none of it.
  ASSERT_EQ(Exec(other.c, "create unique index bk_k on bk (k)"), TWSUCCESS);
  row(1, 4);
  row(2, 1);
  n = 0;
  EXPECT_NE(link.c.Insert(src.get(), 1, 2, &n), TWSUCCESS);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Rows(other.c, "select count(*) from bk"), std::vector<std::string>{"3"});
  // The work connection went back to the link's database: a later write lands there.
  link.Num(corvex::kBulk, 0).Str(TWTOKEN_METADATA, "later");
  List one(1);
  SetValue(one.Add("k", TWTYPE_INT), 1, "7");
  n = 0;
  EXPECT_EQ(link.c.Insert(one.get(), 1, 1, &n), TWSUCCESS) << twtest::LogLast().text;
  EXPECT_EQ(Rows(other.c, "select k from later"), std::vector<std::string>{"7"});
  EXPECT_EQ(link.c.Disconnect(0), TWSUCCESS);
}

}  // namespace
}  // namespace corvex_test
