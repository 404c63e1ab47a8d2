// The Oracle road with real processes: records go from a text file into an Oracle table that
// the transfer creates, and from there back out to a text file, each leg a direct transfer
// that twmain schedules and taskrun runs through oracle.twx over the ORA72 client (a SQLite
// file per server). What comes out must be what went in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ora72.h"
#include "road_fixture.h"

namespace {

namespace fs = std::filesystem;
using road::Has;
using road::kPeople;

class OracleRoad : public road::RoadFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    if (!fs::exists(PluginPath("oracle.twx"))) GTEST_SKIP() << "oracle.twx is not built";
    data_ = inst_.path() + "oradata";
    fs::create_directories(data_);
    char message[256] = {};
    ASSERT_EQ(OraAdmCreate(data_.c_str(), "ROADORA", "scott", "tiger", "WE8ISO8859P1", nullptr,
                           message, sizeof message),
              0)
        << message;
    env_ = {"ORA72_DATA=" + data_, "ORA72_TRACE=" + path("statements.log")};
  }

  std::string data_;
  std::vector<std::string> env_;

  // The road, on an installation with flatrec.twx and oracle.twx made ready.
  void Road() {
    PeopleLinks();
    // The connector serves no DATABASE: the link names only what it takes.
    AddLink("Link\\Oracle", "Ora",
            {"Server=ROADORA", "Userid=scott", "Password=tiger",
             "PropNameList:textlist=Server,Userid,Password",
             "PropTokenList:numberlist=65537,65539,65540"});

    const std::vector<std::vector<std::string>> legs = {
        {"TextToOra", "TextIn", "Ora", "DestMetadata=people", "Create:number=1"},
        {"OraToText", "Ora", "TextOut", "Statement=SELECT * FROM people ORDER BY ID",
         "Overwrite:number=1"},
    };
    const std::string out = RunLegs(legs, env_);

    // The only error logged is the missing table that the first leg then created.
    const std::string log = ActivityLogWithout("Error: Metadata object 'people' does not exist");
    EXPECT_FALSE(Has(log, "Error")) << log;
    EXPECT_TRUE(Has(log, "Created Metadata 'people'")) << log;
    for (const char* name : {"TextToOra", "OraToText"})
      EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
    EXPECT_EQ(twtest::ReadFile(path("out.txt")), kPeople);
    // The server was given the table it was asked for.
    EXPECT_TRUE(Has(twtest::ReadFile(path("statements.log")), "CREATE TABLE people ("));
  }
};

TEST_F(OracleRoad, TextGoesThroughOracleAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("oracle.twx"));
  Road();
}

// The same from a cluster installed from the kit: the connector finds its client library
// in the installation, and the run leaves no run directory behind.
TEST_F(OracleRoad, FromAnInstalledCluster) {
  ASSERT_NO_FATAL_FAILURE(InstallFromKit());
  Road();
  EXPECT_TRUE(RunDirectoriesGone());
}

}  // namespace
