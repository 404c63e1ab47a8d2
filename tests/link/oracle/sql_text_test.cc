// Every statement text of the Oracle connector, exactly, from its parts.
#include "sql_text.h"

#include <gtest/gtest.h>

namespace oracle {
namespace {

const std::string k40(40, 'N');  // a name over the server's limit
const std::string k30(30, 'N');

TEST(OracleSqlText, Selections) {
  SelectParts plain;
  plain.table = "T";
  SelectParts fields = plain;
  fields.fieldList = {"A", "B"};
  SelectParts writeback = fields;
  writeback.writeback = true;
  SelectParts described = plain;
  described.writeback = true;
  described.describedColumns = {"X", "Y", "Z"};
  SelectParts window = plain;
  window.stampField = "TS";
  window.maxStamp = {2024, 5, 6, 0, 30, 0};
  SelectParts windowBase = window;
  windowBase.hasBaseStamp = true;
  windowBase.baseStamp = {2024, 5, 6, 12, 30, 0};
  windowBase.maxStamp = {2024, 5, 6, 18, 5, 9};
  SelectParts all = plain;
  all.condition = "A > 1";
  all.stampField = "TS";
  all.maxStamp = {1999, 12, 31, 23, 59, 59};
  all.keys = {{"K", ">", 1}, {"L", "<>", 2}};
  all.orderList = {"A", k40};
  SelectParts keys = plain;
  keys.keys = {{k40, "=", 3}};
  struct Case {
    const SelectParts* parts;
    const char* text;
  };
  const std::string longOrder = "SELECT * FROM T WHERE  (A > 1)  AND  (TS <=  TO_DATE ('1999 12 "
                                "31 11 59 59 PM', 'YYYY MM DD HH MI SS AM') )  AND K>:00001 AND "
                                "L<>:00002 ORDER BY A," + k40;
  const std::string keyText = "SELECT * FROM T WHERE " + k30 + "=:00003";
  const Case cases[] = {
      {&plain, "SELECT * FROM T"},
      {&fields, "SELECT A,B FROM T"},
      {&writeback, "SELECT A,B,ROWID FROM T FOR UPDATE OF A,B"},
      {&described, "SELECT X,Y,Z,ROWID FROM T FOR UPDATE OF X,Y,Z"},
      {&window,
       "SELECT * FROM T WHERE  (TS <=  TO_DATE ('2024 5 6 12 30 0 AM', 'YYYY MM DD HH MI SS AM') ) "},
      {&windowBase,
       "SELECT * FROM T WHERE  (TS >  TO_DATE ('2024 5 6 12 30 0 PM', 'YYYY MM DD HH MI SS AM')  AND "
       "TS <=  TO_DATE ('2024 5 6 6 5 9 PM', 'YYYY MM DD HH MI SS AM') ) "},
      {&all, longOrder.c_str()},
      {&keys, keyText.c_str()},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectText(*c.parts), c.text);
}

TEST(OracleSqlText, WritesAndDefinitions) {
  std::vector<std::string> many;
  for (int i = 0; i < 12; ++i) many.push_back(k40 + std::to_string(i));
  std::string manyInsert = InsertText("T", many);
  // Names go whole into INSERT, however long, and the text holds all of them.
  EXPECT_NE(manyInsert.find(k40 + "11"), std::string::npos);
  EXPECT_NE(manyInsert.find(":00012) "), std::string::npos);
  struct Case {
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {InsertText("T", {"A", "B"}), "INSERT INTO T (A,B) VALUES (:00001,:00002) "},
      {WriteText(true, "T", {{"A", 1}, {"C", 3}}, {{"K", "=", 5}}, "", false),
       "UPDATE T SET A=:00001,C=:00003 WHERE K=:00005"},
      {WriteText(true, "T", {{"A", 1}}, {}, "B = 'x'", false),
       "UPDATE T SET A=:00001 WHERE  (B = 'x') "},
      {WriteText(false, "T", {}, {{"K", ">=", 1}, {"L", "<", 2}}, "B IS NULL", false),
       "DELETE FROM T WHERE K>=:00001 AND L<:00002 AND  (B IS NULL) "},
      {WriteText(true, "T", {{"A", 1}}, {{"K", "=", 2}}, "B = 1", true),
       "UPDATE T SET A=:00001 WHERE  ROWID = :ROW_ID"},
      {WriteText(false, "T", {}, {}, "", true), "DELETE FROM T WHERE  ROWID = :ROW_ID"},
      {CreateTableText("T", {{"A", "NUMBER", SizeSuffix(5), true},
                             {"B", "NUMBER", SizeSuffix(10, true, 2), false},
                             {"C", "NUMBER", SizeSuffix(20, true, 0x7FFFFFFF), false},
                             {k40, "LONG", "", false}}),
       "CREATE TABLE T (A NUMBER(00005) NOT NULL,B NUMBER(00010,00002),C NUMBER(00020,00000)," + k30 +
           " LONG) "},
      {CreateIndexText("TI", "T", {"A", k40}), "CREATE INDEX TI ON T (A," + k30 + ") "},
      {DropText(true, "T" + std::string(300, 'X')), "DROP TABLE T" + std::string(300, 'X')},
      {DropText(false, "TI"), "DROP INDEX TI"},
      {TruncateText("T"), "TRUNCATE TABLE T"},
      {CatalogText(3, ""),
       "SELECT TABLE_NAME, OWNER, COMMENTS FROM ALL_TAB_COMMENTS WHERE OWNER != 'SYS'"},
      {CatalogText(4, "T"), "SELECT INDEX_NAME, OWNER, '' FROM ALL_INDEXES WHERE TABLE_NAME = UPPER ('T') "},
      // A quote in METADATA is doubled, so it cannot end the literal.
      {CatalogText(5, "x') OR ('1'='1"),
       "SELECT COLUMN_NAME, OWNER, '' FROM ALL_TAB_COLUMNS WHERE TABLE_NAME = UPPER ('x'') OR "
       "(''1''=''1') "},
      {CatalogText(2, "T"), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(OracleSqlText, OwnStatementsLoseTheirFinalSemicolonUnlessBlocks) {
  struct Case {
    const char* given;
    const char* parsed;
  };
  const Case cases[] = {
      {"  SELECT 1 FROM DUAL;", "SELECT 1 FROM DUAL"},
      {"SELECT 1 FROM DUAL;  \n", "SELECT 1 FROM DUAL"},
      {"DELETE FROM T", "DELETE FROM T"},
      {"BEGIN NULL; END;", "BEGIN NULL; END;"},
      {"begin null; end;  ", "begin null; end;"},
      {"DECLARE X NUMBER; BEGIN NULL; END;", "DECLARE X NUMBER; BEGIN NULL; END;"},
      {"  declare x number; begin null; end; ", "declare x number; begin null; end;"},
      {"   ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(OwnStatementText(c.given), c.parsed) << c.given;
}

}  // namespace
}  // namespace oracle
