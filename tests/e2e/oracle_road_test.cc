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
using road::kPeopleZid;
using road::kWaitMs;
using road::Twmain;
using road::Within;

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
};

TEST_F(OracleRoad, TextGoesThroughOracleAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("oracle.twx"));
  twtest::WriteFile(inst_ / "in.txt", kPeople);
  twtest::WriteFile(inst_ / "people.zid", kPeopleZid);
  for (auto [name, file, kind] :
       {std::tuple{"TextIn", "in.txt", "SOURCE"}, std::tuple{"TextOut", "out.txt", "DESTINATION"}})
    AddLink(
        "Link\\Flatrec", name,
        {"Database=" + path(file), "ZID=@" + path("people.zid"), std::string("Linktype=") + kind,
         "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
  // The connector serves no DATABASE: the link names only what it takes.
  AddLink("Link\\Oracle", "Ora",
          {"Server=ROADORA", "Userid=scott", "Password=tiger",
           "PropNameList:textlist=Server,Userid,Password",
           "PropTokenList:numberlist=65537,65539,65540"});

  // The second leg is defined once the first has run, so that they run in this order.
  const std::vector<std::vector<std::string>> legs = {
      {"TextToOra", "TextIn", "Ora", "DestMetadata=people", "Create:number=1"},
      {"OraToText", "Ora", "TextOut", "Statement=SELECT * FROM people ORDER BY ID",
       "Overwrite:number=1"},
  };
  Twmain server(inst_.path(), env_);
  int done = 0;
  for (const auto& leg : legs) {
    AddTransfer(leg[0], leg[1], leg[2], {leg.begin() + 3, leg.end()});
    ++done;
    ASSERT_TRUE(Within(kWaitMs, [&] { return Finished() >= done; }))
        << leg[0] << "\n"
        << server.Out() << server.Err() << ActivityLog();
  }
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  // The only error logged is the missing table that the first leg then created.
  std::string log = ActivityLog();
  const std::string note = "Error: Metadata object 'people' does not exist";
  for (size_t at = log.find(note); at != std::string::npos; at = log.find(note))
    log.erase(at, note.size());
  EXPECT_FALSE(Has(log, "Error")) << log;
  EXPECT_TRUE(Has(log, "Created Metadata 'people'")) << log;
  std::string out = server.Out();
  for (const char* name : {"TextToOra", "OraToText"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
  EXPECT_EQ(twtest::ReadFile(path("out.txt")), kPeople);
  // The server was given the table it was asked for.
  EXPECT_TRUE(Has(twtest::ReadFile(path("statements.log")), "CREATE TABLE people ("));
}

}  // namespace
