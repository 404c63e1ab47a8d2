// The ODBC road with real processes: records go from a text file into a SQLite table, from
// there into a PostgreSQL table and back out to a text file, each leg a direct transfer that
// twmain schedules and taskrun runs through sqlcli.twx, with the destination tables created
// because they are missing. What comes out must be what went in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "odbc_road.h"

namespace {

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

  ExpectPeopleBack(RunPeople());
}

}  // namespace
