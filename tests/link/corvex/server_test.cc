// The Corvex connector against the TDS 5.0 test server tds5d through FreeTDS: connections and
// character sets, the texts the server receives, values both ways (literal, prepared, bulk),
// long values, the write-back cursor, and a case for each fault mended.
#include <gtest/gtest.h>

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
    Str(TWTOKEN_SERVER, server).Str(TWTOKEN_USERID, tds.user()).Str(TWTOKEN_PASSWORD, tds.password());
    if (*database != '\0') Str(TWTOKEN_DATABASE, database);
    EXPECT_EQ(c.Connect(), TWSUCCESS) << twtest::LogLast().externalText;
  }
};

// A one-record list of text fields named names, holding values (nullopt: null).
void Fill(List& list, uint32_t record, const std::vector<std::optional<std::string>>& values) {
  for (uint32_t i = 0; i < values.size(); ++i)
    if (values[i]) SetValue(list.Field(i + 1), record, *values[i]);
}

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
    if (col.type == TWTYPE_TEXT) EXPECT_EQ(TWFieldSetFormatStream(f, 0, col.length, 0), TWSUCCESS);
    if (col.type == TWTYPE_BINARY)
      EXPECT_EQ(TWFieldSetFormatStream(f, 0, col.length, TWSTREAMFMT_BLOB), TWSUCCESS);
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
    if (!c.text.empty()) EXPECT_TRUE(tds.Logged(c.text)) << c.text << "\n" << tds.Log();
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

}  // namespace
}  // namespace corvex_test
