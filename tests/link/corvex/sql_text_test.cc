// Every statement text of the Corvex connector, exactly, from its parts, and the literal values
// and create-table types they are made of.
#include "sql_text.h"

#include <gtest/gtest.h>

#include <limits>

#include "flowcore.h"

namespace corvex {
namespace {

const std::string k140(140, 'N');  // a name over the server's limit
const std::string k132(132, 'N');

TEST(CorvexSqlText, Selections) {
  SelectParts plain;
  plain.table = "T";
  SelectParts fields = plain;
  fields.fieldList = {"A", k140};
  SelectParts window = plain;
  window.stampField = "TS";
  window.maxStamp = "05/06/2024 00:30:00";
  SelectParts windowBase = window;
  windowBase.hasBaseStamp = true;
  windowBase.baseStamp = "05/06/2024 00:00:00";
  SelectParts all = plain;
  all.condition = "A > 1";
  all.stampField = "TS";
  all.maxStamp = "M";
  all.keys = {{"K", ">=", "1"}, {"L", "<>", "\"x\""}};
  all.orderList = {"A", "B"};
  SelectParts keys = plain;
  keys.keys = {{k140, "=", "0x0A"}};
  struct Case {
    const SelectParts* parts;
    std::string text;
  };
  const Case cases[] = {
      {&plain, "select * from T"},
      {&fields, "select A," + k132 + " from T"},
      {&window, "select * from T where  (TS <= '05/06/2024 00:30:00')"},
      {&windowBase,
       "select * from T where  (TS > '05/06/2024 00:00:00' and TS <= '05/06/2024 00:30:00')"},
      {&all, "select * from T where  (A > 1)  and  (TS <= 'M') and K>=1 and L<>\"x\" order by A,B"},
      {&keys, "select * from T where " + k132 + "=0x0A"},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectText(*c.parts), c.text);
}

TEST(CorvexSqlText, Writes) {
  const std::vector<SetTerm> sets = {{"A", "?"}, {"B", "?"}};
  const std::vector<KeyTerm> keys = {{"K", "=", "?"}, {"L", ">", "?"}};
  const std::vector<SetTerm> literalSets = {{"A", "1"}};
  const std::vector<KeyTerm> literalKeys = {{"K", "=", "\"a\"\"b\""}};
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {InsertText("T", {"A", k140}, {"?", "?"}), "insert into T (A," + k140 + ") values (?,?) "},
      {InsertText("T", {"A"}, {"null"}), "insert into T (A) values (null) "},
      {WriteText(true, false, "T", sets, keys, ""), "update T set A=?,B=? where K=? and L>?"},
      {WriteText(true, false, "T", sets, keys, "X = 1"),
       "update T set A=?,B=? where K=? and L>? and  (X = 1) "},
      {WriteText(true, false, "T", sets, {}, "X = 1"), "update T set A=?,B=? where  (X = 1) "},
      {WriteText(false, false, "T", {}, keys, ""), "delete from T where K=? and L>?"},
      {WriteText(true, true, "T", literalSets, literalKeys, ""),
       "update T set A=1 where K=\"a\"\"b\""},
      {WriteText(true, true, "T", literalSets, literalKeys, "X = 1"),
       "update T set A=1 where  (X = 1)  and K=\"a\"\"b\""},
      {WriteText(false, true, "T", {}, literalKeys, ""), "delete from T where K=\"a\"\"b\""},
      {CursorUpdateText("T", literalSets), "update T set A=1 where current of cursor_execute"},
      {CursorDeleteText("T"), "delete from T where current of cursor_execute"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(CorvexSqlText, DefinitionsAndCatalogue) {
  const std::string longName(400, 'd');  // no fixed buffer cuts a name
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {UseText("sales"), "use sales"},
      {UseText(longName), "use " + longName},
      {TruncateText("T"), "truncate table T"},
      {DropTableText(longName), "drop table " + longName},
      {DropIndexText("T", longName), "drop index T." + longName},
      {CreateIndexText("I", "T", {"A", k140}), "create unique index I on T (A," + k132 + ") "},
      {CreateTableText("T", {{"A", "int", true}, {k140, "varchar(10)", false}}),
       "create table T (A int not null," + k132 + " varchar(10) null) "},
      {BulkOptionText("db"), "exec sp_dboption db, \"select into/bulkcopy\", true"},
      {CatalogText(2, ""),
       "select d.name 'database', u.name 'owner', '' 'comment' from master..sysdatabases d, "
       "master..sysusers u where d.suid = u.suid"},
      {CatalogText(3, ""),
       "select o.name 'table', u.name 'owner', '' 'comment' from sysobjects o, sysusers u where "
       "o.type = 'U' and o.uid = u.uid"},
      {CatalogText(4, "o'k"),
       "select i.name, '' 'owner', '' 'comment' from sysindexes i, sysobjects o where i.indid != "
       "0 and i.id = o.id and o.type = 'U' and o.name = 'o''k'"},
      {CatalogText(5, "x' or '1'='1"),
       "select c.name, '' 'owner', '' 'comment' from syscolumns c, sysobjects o where c.id = o.id "
       "and o.type = 'U' and o.name = 'x'' or ''1''=''1'"},
      {CatalogText(1, "T"), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(CorvexSqlText, Literals) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {FloatLiteral(1e-7, false), "0.000000099999999999999995"},
      {FloatLiteral(-1.5e20, false), "-150000000000000000000"},
      {FloatLiteral(1.25e17, false), "125000000000000000"},
      {FloatLiteral(123456789012345678.0, false), "123456789012345680"},
      {FloatLiteral(0.1, false), "0.10000000000000001"},
      {FloatLiteral(1234.5, false), "1234.5"},
      {FloatLiteral(-2.9, true), "-2"},
      {FloatLiteral(3e9, true), "3000000000"},
      {QuotedLiteral("say \"hi\""), "\"say \"\"hi\"\"\""},
      {QuotedLiteral(""), "\"\""},
      {HexLiteral(std::string("\x00\xff\x1a", 3)), "0x00FF1A"},
      {HexLiteral(""), "0x"},
      {DatetimeLiteral({1900, 1, 2, 3, 4, 5, 6}), "'1/2/1900 3:04:05.06'"},
      {DatetimeLiteral({2024, 12, 31, 23, 59, 59, 99}), "'12/31/2024 23:59:59.99'"},
      {StringLiteral("it's"), "'it''s'"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
  // Every float written comes back exactly.
  for (double v : {1e-7, 0.1, 1.0 / 3, -123456.789e-200, std::numeric_limits<double>::max(), 2.5e16,
                   -0.0, 5e-324})
    EXPECT_EQ(std::strtod(FloatLiteral(v, false).c_str(), nullptr), v) << v;
}

TEST(CorvexSqlText, CreateTypes) {
  auto shape = [](uint32_t type, uint32_t flags, uint32_t size, uint32_t precision, int32_t scale,
                  uint32_t length, uint32_t format) {
    return FieldShape{type, flags, size, precision, scale, length, format};
  };
  struct Case {
    FieldShape f;
    bool shortBound, shortUnbound;
    const char* type;
  };
  const Case cases[] = {
      {shape(TWTYPE_INT, TWNUMBERF_BIT, 1, 0, 0, 0, 0), false, false, "bit"},
      {shape(TWTYPE_INT, 0, 0, 0, 0, 0, 0), false, false, "int"},
      {shape(TWTYPE_INT, TWNUMBERF_NUMERIC, 0, 9, TWSCALE_ZERO, 0, 0), false, false, "numeric(9)"},
      {shape(TWTYPE_FLOAT, 0, 0, 0, 0, 0, 0), false, false, "float"},
      {shape(TWTYPE_FLOAT, 0, 4, 0, 0, 0, 0), false, false, "real"},
      {shape(TWTYPE_FLOAT, TWNUMBERF_NUMERIC, 0, 12, 2, 0, 0), false, false, "numeric(12, 2)"},
      {shape(TWTYPE_CURRENCY, 0, 0, 0, 0, 0, 0), false, false, "money"},
      {shape(TWTYPE_CURRENCY, 0, 4, 0, 0, 0, 0), false, false, "smallmoney"},
      {shape(TWTYPE_NUMERIC, 0, 0, 20, 4, 0, 0), false, false, "numeric(20, 4)"},
      {shape(TWTYPE_NUMERIC, 0, 0, 20, TWSCALE_ZERO, 0, 0), false, false, "numeric(20)"},
      {shape(TWTYPE_NUMERIC, 0, 0, 0, 0, 0, 0), false, false, "numeric"},
      {shape(TWTYPE_DATETIME, 0, 0, 0, 0, 0, 0), false, false, "datetime"},
      {shape(TWTYPE_DATETIME, 0, 4, 0, 0, 0, 0), false, false, "smalldatetime"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 30, 0), false, false, "varchar(30)"},
      {shape(TWTYPE_TEXT, TWSTREAMF_FIXED, 0, 0, 0, 30, 0), false, false, "char(30)"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 300, 0), false, false, "varchar(300)"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 300, 0), true, false, "varchar(255)"},
      // A char column holds 255 bytes: 256 is over, as 300 is.
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 256, 0), true, false, "varchar(255)"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 255, 0), true, false, "varchar(255)"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 0, 0), true, false, "text"},
      {shape(TWTYPE_TEXT, 0, 0, 0, 0, 0, 0), false, true, "varchar(255)"},
      {shape(TWTYPE_BINARY, 0, 0, 0, 0, 0, TWSTREAMFMT_BLOB), false, false, "image"},
      {shape(TWTYPE_BINARY, 0, 0, 0, 0, 16, TWSTREAMFMT_BLOB), false, false, "varbinary(16)"},
      {shape(TWTYPE_BINARY, TWSTREAMF_FIXED, 0, 0, 0, 16, TWSTREAMFMT_BLOB), false, false,
       "binary(16)"},
      {shape(TWTYPE_BINARY, 0, 0, 0, 0, 0, TWSTREAMFMT_NUMBER_LIST), false, false, "float"},
      {shape(TWTYPE_BINARY, 0, 0, 0, 0, 0, TWSTREAMFMT_DATETIME_LIST), false, false, "datetime"},
      {shape(TWTYPE_BINARY, 0, 0, 0, 0, 40, TWSTREAMFMT_TEXT_LIST), false, false, "varchar(40)"},
      {shape(TWTYPE_INVALID, 0, 0, 0, 0, 0, 0), false, false, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CreateType(c.f, c.shortBound, c.shortUnbound), c.type) << c.type;
}

TEST(CorvexSqlText, CharacterSets) {
  struct Case {
    const char* name;
    uint32_t format;
    bool found;
  };
  const Case cases[] = {
      {"iso_1", TWSTREAMFMT_ISO88591, true}, {"cp1252", TWSTREAMFMT_CP1252, true},
      {"mac", TWSTREAMFMT_MACSCRIPT0, true}, {"macturk", TWSTREAMFMT_MACSCRIPT0TURKISH, true},
      {"koi8", TWSTREAMFMT_NATIVE, false},   {"utf8", TWSTREAMFMT_NATIVE, false},
      {"ISO_1", TWSTREAMFMT_NATIVE, false},  {"", TWSTREAMFMT_NATIVE, false},
  };
  for (const Case& c : cases) {
    bool found = !c.found;
    EXPECT_EQ(FormatOfCharacterSet(c.name, &found), c.format) << c.name;
    EXPECT_EQ(found, c.found) << c.name;
  }
}

}  // namespace
}  // namespace corvex
