// connprobe: its property lines as functions, its usage, and links tested through a real
// twmain of a test installation laid out as the main job lays it out (links PeopleIn and
// PeopleOut of the text-file connector), and with no server running.
#include "connprobe.h"

#include <gtest/gtest.h>

#include "probe_test_util.h"
#include "road_fixture.h"

namespace {

using road::Twmain;
using road::Within;
namespace fs = std::filesystem;
namespace wire = tw::csmgr;

TEST(ConnProbePrinters, PropertyLines) {
  struct Case {
    std::string name;
    uint32_t token, type;
    std::string line;
  } cases[] = {
      {"Database", 65538, 6, "Database            \t65538\tTEXT\n"},
      {"ExactlyTwentyChars20", 7, 1, "ExactlyTwentyChars20\t7\tINT\n"},
      {"AMuchLongerPropertyName", 15, 7, "AMuchLongerPropertyN\t15\tBINARY\n"},
      {"", 0, 0, "                    \t0\tInvalidType\n"},
      {"Amount", 3, 3, "Amount              \t3\tCURRENCY\n"},
      {"Wide", 0x80000001u, 2, "Wide                \t-2147483647\tFLOAT\n"},
      // A connector that reports a type beyond the known ones.
      {"Odd", 1, 8, "Odd                 \t1\tInvalidType\n"},
      {"Odder", 1, 0xFFFFFFFFu, "Odder               \t1\tInvalidType\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(tw::connprobe::PropertyLine(c.name, c.token, c.type), c.line) << c.name;
  const char* names[] = {"InvalidType", "INT",      "FLOAT", "CURRENCY",
                         "NUMERIC",     "DATETIME", "TEXT",  "BINARY"};
  for (uint32_t type = 0; type < 8; ++type)
    EXPECT_STREQ(tw::connprobe::TypeName(type), names[type]);
}

constexpr char kUsage[] =
    "Usage error:\n\n"
    "connprobe <link1> <link2>..<linkn>\n"
    "connprobe [Options] <link1> <link2>..<linkn>\n\n"
    "Options\n"
    "   -p Display link properties\n";

TEST(ConnProbeUsage, NoLinksPrintTheUsage) {
  const std::vector<std::string> cases[] = {{}, {"-p"}, {"-x", "-p"}, {"-"}};
  for (const std::vector<std::string>& args : cases) {
    twtest::ProcessResult r = probetest::RunProbe("connprobe", args, "");
    EXPECT_EQ(r.out, kUsage) << args.size();
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 1);
  }
}

// The text-file connector's property table as the list shows it.
constexpr char kFlatrecProperties[] =
    "Name                    Token\tDatatype\n"
    "Database            \t65538\tTEXT\n"
    "Metadata            \t65541\tTEXT\n"
    "MapName             \t65543\tINT\n"
    "Log                 \t1\tTEXT\n"
    "MaxRecSize          \t2\tINT\n"
    "MaxRecCount         \t3\tINT\n"
    "Trace               \t4\tINT\n"
    "FixedRecSize        \t5\tINT\n"
    "ProcessDuplicates   \t6\tINT\n"
    "CheckForQuotes      \t7\tINT\n"
    "RecordDelim         \t8\tTEXT\n"
    "Filetype            \t9\tTEXT\n"
    "MinRecSize          \t10\tINT\n"
    "SkipRecords         \t11\tINT\n"
    "SkipBytes           \t12\tTEXT\n"
    "FillCharacter       \t14\tTEXT\n"
    "ZID                 \t15\tTEXT\n"
    "Linktype            \t16\tTEXT\n"
    "EchoZid             \t17\tINT\n"
    "DayNames            \t18\tTEXT\n"
    "MonthNames          \t19\tTEXT\n"
    "RepStrings          \t20\tTEXT\n"
    "AMString            \t21\tTEXT\n"
    "PMString            \t22\tTEXT\n"
    "MaxText             \t23\tINT\n"
    "HeaderRec           \t24\tTEXT\n"
    "TrailerRec          \t25\tTEXT\n";

class ConnProbe : public road::RoadFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    std::error_code ec;
    fs::create_symlink(build_ + "connprobe", inst_ / "connprobe", ec);
    ASSERT_FALSE(ec) << ec.message();
    MakeDatabases();
    ASSERT_NO_FATAL_FAILURE(InstallPlugin("flatrec.twx"));
    twtest::WriteFile(inst_ / "people.txt", road::kPeople);
    twtest::WriteFile(inst_ / "people.zid", road::kPeopleZid);
    for (const auto& [suffix, file, kind] :
         {std::tuple<std::string, std::string, std::string>{"In", "people.txt", "SOURCE"},
          {"Out", "people.out", "DESTINATION"}})
      AddLink(
          "Link\\Flatrec", "People" + suffix,
          {"Database=" + path(file), "ZID=@" + path("people.zid"), "Linktype=" + kind,
           "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
  }
  // connprobe run from the installation as an operator runs it there.
  twtest::ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {path("connprobe")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PATH=" + inst_.path());
    env.push_back("PLEXA_ROOT=" + path("ordex"));
    return twtest::RunProgram(argv, env, inst_.path(), "", road::kWaitMs);
  }
};

TEST_F(ConnProbe, NoServerRunning) {
  // A name far longer than any link's goes into the activity's title whole.
  const std::string longName(600, 'L');
  twtest::ProcessResult r = Run({"-p", "PeopleIn", longName});
  EXPECT_EQ(r.out,
            "\nTesting PeopleIn\nPeopleIn Connect Failed\n"
            "\nTesting " +
                longName + "\n" + longName + " Connect Failed\n");
  EXPECT_EQ(r.err,
            "A running Tarnway server could not be found.\n"
            "A running Tarnway server could not be found.\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST_F(ConnProbe, LinksOfARunningServer) {
  Twmain server(inst_.path());
  ASSERT_TRUE(Within(road::kWaitMs, [] { return TWIPCExists(wire::kPipeName, 0) != 0; }))
      << server.Out() << server.Err();
  const std::string in = "\nTesting PeopleIn\nPeopleIn Connect Successfull\n";
  const std::string out = "\nTesting PeopleOut\nPeopleOut Connect Successfull\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int code;
  } cases[] = {
      {{"PeopleIn", "PeopleOut"}, in + out, 0},
      {{"-q", "PeopleOut"}, out, 0},
      {{"Nobody"}, "\nTesting Nobody\nNobody Connect Failed\n", 1},
      {{"PeopleIn", "Nobody"}, in + "\nTesting Nobody\nNobody Connect Failed\n", 1},
      // A link that cannot be allocated has no properties to list.
      {{"-p", "Nobody"}, "\nTesting Nobody\nNobody Connect Failed\n", 1},
  };
  for (const Case& c : cases) {
    twtest::ProcessResult r = Run(c.args);
    EXPECT_EQ(r.out, c.out) << c.args.front();
    EXPECT_EQ(r.exitCode, c.code) << c.args.front() << r.err;
  }
  twtest::ProcessResult r = Run({"-p", "PeopleIn", "PeopleOut"});
  EXPECT_EQ(r.out, "\nTesting PeopleIn\n" + std::string(kFlatrecProperties) +
                       "PeopleIn Connect Successfull\n\nTesting PeopleOut\n" + kFlatrecProperties +
                       "PeopleOut Connect Successfull\n")
      << r.err;
  EXPECT_EQ(r.exitCode, 0) << r.err;
  server.Type("D\n");
  EXPECT_EQ(server.Wait(road::kWaitMs), 0) << server.Err();
}

}  // namespace
