// The Corvex road with real processes: records go from a text file into a table of tds5d (our
// TDS 5.0 server), created because it is missing, and back out to a text file, each leg a
// direct transfer that twmain schedules and taskrun runs through corvex.twx over FreeTDS:
// once with prepared inserts, once with bulk copy. What comes out must be what went in.
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "process_util.h"
#include "road_fixture.h"
#include "tds5d_fixture.h"

namespace {

namespace fs = std::filesystem;
using road::Has;
using road::kWaitMs;
using road::Twmain;
using road::Within;

// Dates from 1900 on: the server's datetime starts there.
constexpr char kRecords[] =
    "1,Ada Quill,12.50,1915-12-10,first\n"
    "2,Bram O'Ster,0.99,1999-01-31,\n"
    "3,Cora \"Vance\",1000.00,2026-12-09,caf\xC3\xA9 na\xC3\xAFve\n"
    "4,Dov Lenz,-7.25,1970-01-01,last one";
constexpr char kZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nNOTE TYPE TEXT\n";

class CorvexRoad : public road::RoadFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    if (!fs::exists(PluginPath("corvex.twx"))) GTEST_SKIP() << "corvex.twx is not built";
    tds_.emplace();
    ASSERT_TRUE(tds_->started());
  }
  void TearDown() override {
    if (tds_) tds_->Stop();
    RoadFixture::TearDown();
  }

  // What the server was sent, for failure messages.
  std::string ServerTexts() const {
    std::string out = "\nserver:\n";
    for (const auto& l : tds_->Log()) out += l.kind + "\t" + l.text + "\n";
    return out;
  }

  // The road with corvex.twx and flatrec.twx made ready, rows sent in bulk or prepared.
  void Road(bool bulk) {
    twtest::WriteFile(inst_ / "in.txt", kRecords);
    twtest::WriteFile(inst_ / "people.zid", kZid);
    for (auto [name, file, kind] : {std::tuple{"TextIn", "in.txt", "SOURCE"},
                                    std::tuple{"TextOut", "out.txt", "DESTINATION"}})
      AddLink(
          "Link\\Flatrec", name,
          {"Database=" + path(file), "ZID=@" + path("people.zid"), std::string("Linktype=") + kind,
           "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
    // Bulk copy needs the database's option: BulkEnable switches it on at the first insert. The
    // text file's fields are long; the server's char columns hold 255 bytes.
    AddLink("Link\\Corvex", "Cvx",
            {"Server=corvex_utf8", std::string("Userid=") + twtest::kTds5dUser,
             std::string("Password=") + twtest::kTds5dPassword,
             "Bulk:number=" + std::to_string(bulk ? 1 : 0), "BulkEnable:number=1",
             "CreateShortBound:number=1",
             "PropNameList:textlist=Server,Userid,Password,Bulk,BulkEnable,CreateShortBound",
             "PropTokenList:numberlist=65537,65539,65540,1,2,3"});

    const std::vector<std::vector<std::string>> legs = {
        {"TextToCorvex", "TextIn", "Cvx", "DestMetadata=people", "Create:number=1"},
        {"CorvexToText", "Cvx", "TextOut", "Statement=select * from people order by ID",
         "Overwrite:number=1"},
    };
    Twmain server(inst_.path(), {tds_->confEnv()});
    int done = 0;
    for (const auto& leg : legs) {
      AddTransfer(leg[0], leg[1], leg[2], {leg.begin() + 3, leg.end()});
      ++done;
      ASSERT_TRUE(
          Within(kWaitMs, [&] { return Finished() >= done || Has(server.Out(), "error"); }) &&
          !Has(server.Out(), "error"))
          << leg[0] << "\n"
          << server.Out() << server.Err() << ActivityLog() << ServerTexts();
    }
    server.Type("D\n");
    EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

    // The only errors logged are the missing table that the first leg then created and, with
    // bulk copy, its refused first start before BulkEnable switched the option on.
    std::string log = ActivityLog();
    std::vector<std::string> notes = {"Error: Metadata object 'people' does not exist"};
    if (bulk) {
      notes.insert(notes.end(),
                   {"Error: You cannot run the non-logged version of bulk copy",
                    "Error: blk_rowxfer:", "Error: Cannot initialize Corvex bulk copy program"});
      EXPECT_TRUE(Has(log, "Successfully enabled bulk copy for this database")) << log;
    }
    for (const std::string& note : notes) {
      for (size_t at = log.find(note); at != std::string::npos; at = log.find(note))
        log.erase(at, note.size());
    }
    EXPECT_FALSE(Has(log, "Error")) << log;
    EXPECT_TRUE(Has(log, "Created Metadata 'people'")) << log;
    std::string out = server.Out();
    for (const char* name : {"TextToCorvex", "CorvexToText"})
      EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully.")) << out;
    EXPECT_EQ(twtest::ReadFile(path("out.txt")), kRecords);
    // The rows went the way asked for.
    bool bulkSent = false;
    for (const auto& l : tds_->Log()) bulkSent = bulkSent || l.kind == "bulk";
    EXPECT_EQ(bulkSent, bulk);
  }

  std::optional<twtest::Tds5dServer> tds_;
};

TEST_P(CorvexRoad, TextGoesThroughTheServerAndComesBackTheSame) {
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("corvex.twx"));
  Road(GetParam());
}

// The same from a cluster installed from the kit.
TEST_F(CorvexRoad, FromAnInstalledCluster) {
  ASSERT_NO_FATAL_FAILURE(InstallFromKit());
  Road(false);
}

INSTANTIATE_TEST_SUITE_P(InsertWays, CorvexRoad, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Bulk" : "Prepared"; });

// A replication between two tables of tds5d, each side a Corvex link: the losing side is
// written by inserts on the work connection and by updates and removals at the cursor of the
// reading one, the two mixed in one run. The rows carry accented text, nulls, numerics at their
// smallest scale and afternoon times. Afterwards both tables hold the winner's rows, and a
// second run finds nothing to write.
class CorvexReplica : public CorvexRoad {
 protected:
  // Runs statements through tsql, a client of the server's own, one batch each; what it
  // printed.
  std::string Tsql(const std::vector<std::string>& statements) {
    std::string input;
    for (const std::string& statement : statements) input += statement + "\ngo\n";
    twtest::ChildProcess tsql;
    EXPECT_TRUE(tsql.Start({"/usr/bin/tsql", "-S", "corvex_utf8", "-U", twtest::kTds5dUser, "-P",
                            twtest::kTds5dPassword},
                           twtest::InheritedEnv(), "", true));
    twtest::ProcessResult r = tsql.Finish(input + "quit\n", kWaitMs);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_FALSE(Has(r.out + r.err, "Msg ")) << r.out << r.err;
    return r.out;
  }
  // A table's rows as a client shows them.
  std::string Table(const std::string& table) {
    return Tsql({"select k, name, amount, day from " + table + " order by k"});
  }
};

TEST_P(CorvexReplica, TheWinnersRowsReachTheOtherSideAndASecondRunWritesNothing) {
  const bool aWins = GetParam();
  MakeDatabases();
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("corvex.twx"));
  ASSERT_NO_FATAL_FAILURE(InstallPlugin("replica.twx"));
  // Key order: one side alone (an insert on the other, or a removal), then keys on both that
  // differ (writes at the cursor after that insert), one on the other side alone, equal rows,
  // and a difference at the tenth decimal.
  const std::string columns =
      " (k int not null, name varchar(30) null, amount numeric(38,10) null, day datetime null)";
  Tsql({
      "create table ra" + columns,
      "create table rb" + columns,
      "insert into ra values (1, 'Ada Quill', -0.0000000001, '12/10/2026 02:37:48.08 PM')",
      "insert into ra values (2, 'Bram O''Ster', 0.0000000001, null)",
      "insert into ra values (4, 'Cora Vance', 12.5, '1/1/1900 12:00 AM')",
      "insert into ra values (5, 'Dov Lenz', -0.0000000001, '12/31/9999 11:59:59.99 PM')",
      "insert into rb values (2, 'bram o''ster', 0.0000000001, '1/2/1950 12:00 PM')",
      "insert into rb values (3, '\xC3\x89mile Zo\xC3\xAB', 12345.6789012345, null)",
      "insert into rb values (4, 'Cora Vance', 12.5, '1900-01-01 00:00:00')",
      "insert into rb values (5, 'Dov Lenz', -0.0000000002, '12/31/9999 11:59:59.99 PM')",
  });
  if (HasFailure()) return;
  const std::string a = Table("ra"), b = Table("rb");
  for (const char* shown : {"-0.0000000001", "0.0000000001", "Bram O'Ster", "(4 rows affected)"})
    ASSERT_TRUE(Has(a, shown)) << a;
  for (const char* shown : {"-0.0000000002", "12345.6789012345", "\xC3\x89mile Zo\xC3\xAB"})
    ASSERT_TRUE(Has(b, shown)) << b;
  for (const char* name : {"CvxA", "CvxB"})
    AddLink("Link\\Corvex", name,
            {"Server=corvex_utf8", std::string("Userid=") + twtest::kTds5dUser,
             std::string("Password=") + twtest::kTds5dPassword,
             "PropNameList:textlist=Server,Userid,Password",
             "PropTokenList:numberlist=65537,65539,65540"});
  Twmain server(inst_.path(), {tds_->confEnv()});
  size_t mark = 0;
  for (int run = 1; run <= 2; ++run) {
    mark = tds_->Log().size();
    Adm({"new", "qtwadm.odx", "Activity\\Replication", "Name=Level" + std::to_string(run),
         "SrcLink=CvxA", "DestLink=CvxB", "OneTime:number=1", "LinkAMetadata=ra",
         "LinkBMetadata=rb", "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k",
         std::string("WinConflict:number=") + (aWins ? "1" : "2")});
    ASSERT_TRUE(Within(kWaitMs, [&] { return Finished() >= run; }))
        << server.Out() << server.Err() << ActivityLog() << ServerTexts();
  }
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();
  const std::string out = server.Out();
  for (const char* name : {"Level1", "Level2"})
    EXPECT_TRUE(Has(out, "Activity '" + std::string(name) + "' completed successfully."))
        << out << ActivityLog() << ServerTexts();
  const std::string& winner = aWins ? a : b;
  EXPECT_EQ(Table("ra"), winner) << ServerTexts();
  EXPECT_EQ(Table("rb"), winner) << ServerTexts();
  // The second run only read.
  const std::vector<twtest::Tds5dServer::Logged> log = tds_->Log();
  for (size_t i = mark; i < log.size(); ++i) {
    std::string verb = log[i].text.substr(0, 6);
    for (char& c : verb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(verb != "insert" && verb != "update" && verb != "delete") << log[i].text;
  }
}

INSTANTIATE_TEST_SUITE_P(Winners, CorvexReplica, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "AWins" : "BWins"; });

}  // namespace
