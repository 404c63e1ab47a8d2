// The ODBC road with real processes: records go from a text file into a SQLite table, from
// there into a PostgreSQL table and back out to a text file, each leg a direct transfer that
// twmain schedules and taskrun runs through sqlcli.twx, with the destination tables created
// because they are missing. What comes out must be what went in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odbc_road.h"

namespace {

using road::Has;

using road::kPeople;

class SqlcliRoad : public odbc_road::OdbcRoad {
 protected:
  SqlcliRoad() : OdbcRoad("sqlcli.twx") {}

  void Link(const std::string& name, const std::string& library, std::vector<std::string> items) {
    AddLink(library == "sqlcli" ? "Link\\Sqlcli" : "Link\\Flatrec", name, std::move(items));
  }
};

TEST_F(SqlcliRoad, TextGoesThroughSqliteAndPostgresqlAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("sqlcli.twx"));
  PeopleLinks();
  Link("Lite", "sqlcli", {"Server=lite"});
  Link("Pg", "sqlcli", {"Server=pg", "Userid=tw"});

  // Each leg is defined once the one before has run, so that they run in this order.
  const std::vector<std::vector<std::string>> legs = {
      {"TextToLite", "TextIn", "Lite", "DestMetadata=people", "Create:number=1"},
      {"LiteToPg", "Lite", "Pg", "Statement=SELECT * FROM people", "DestMetadata=people",
       "Create:number=1"},
      {"PgToText", "Pg", "TextOut", "Statement=SELECT * FROM people ORDER BY 1",
       "Overwrite:number=1"},
  };
  const std::string out = RunLegs(legs, env_);

  // The only errors logged are the missing tables that the legs then created.
  const std::string log = ActivityLogWithout("Error: Metadata object 'people' does not exist");
  EXPECT_FALSE(Has(log, "Error")) << log;
  EXPECT_TRUE(Has(log, "Created Metadata 'people'")) << log;
  for (const char* name : {"TextToLite", "LiteToPg", "PgToText"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
  // The PostgreSQL table was created by the road and holds every record.
  EXPECT_EQ(Psql(database_, "SELECT count(*) FROM people").out, "4\n");
  EXPECT_EQ(twtest::ReadFile(path("out.txt")), kPeople);
}

}  // namespace
