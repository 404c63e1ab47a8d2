// The Xandb road with real processes: records go from a text file into a SQLite table, from
// there into a PostgreSQL table and back out to a text file, each leg a direct transfer that
// twmain schedules and taskrun runs through xandb.twx over the Xandb client library, with the
// destination tables created because they are missing. What comes out must be what went in,
// and the client receives the texts the connector is meant to send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odbc_road.h"

namespace {

using road::Has;

class XandbRoad : public odbc_road::OdbcRoad {
 protected:
  XandbRoad() : OdbcRoad("xandb.twx") {}
  // A Xandb link on the data source dsn: DATABASE names it, the connector has no SERVER.
  void Link(const std::string& name, const std::string& dsn, const std::string& user) {
    AddLink("Link\\Xandb", name,
            {"Database=" + dsn, "Userid=" + user, "PropNameList:textlist=Database,Userid",
             "PropTokenList:numberlist=65538,65539"});
  }
};

TEST_F(XandbRoad, TextGoesThroughSqliteAndPostgresqlAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("xandb.twx"));
  env_.push_back("XANDBCLI_RECORD=" + path("texts"));
  PeopleLinks();
  Link("Lite", "lite", "");
  Link("Pg", "pg", "tw");
  ExpectPeopleBack(RunPeople());

  // What the client was given, as the connector built it.
  const std::string texts = twtest::ReadFile(path("texts"));
  for (const char* text : {"SELECT * FROM people\n",
                           "INSERT INTO people (ID,NAME,PRICE,DAY,NOTE) VALUES (?,?,?,?,?) \n",
                           "SELECT * FROM people ORDER BY 1\n"})
    EXPECT_TRUE(Has(texts, text)) << text << "\n" << texts;
  // Both tables from the text file's fields: numbers as doubles, dates as timestamps.
  EXPECT_EQ(road::Count(texts,
                        "CREATE TABLE people (ID DOUBLE,NAME LONG VARCHAR,PRICE DOUBLE,"
                        "DAY TIMESTAMP,NOTE LONG VARCHAR) \n"),
            2u)
      << texts;
}

// Multi-byte text at the ends of its columns and long values, each way between SQLite and
// PostgreSQL: what fits comes back byte for byte, what does not is cut on a character under
// TruncData and refused without it, and a long value or a bad row costs no good rows.
TEST_F(XandbRoad, TextAtItsColumnsSizesAndLongValuesGoWhole) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("xandb.twx"));
  ASSERT_NO_FATAL_FAILURE(MakeTextTables());
  Link("Lite", "lite", "");
  Link("Pg", "pg", "tw");
  ExpectText(RunText(), "Data overflow in field 'v2'");
}

}  // namespace
