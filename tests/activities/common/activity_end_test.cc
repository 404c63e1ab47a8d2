// How the activities end their links, through the engine against the fake control store: a
// connection that fails to disconnect (where a connector makes its final commit) is the run's
// failure unless the run failed already, and every activity ends its connections itself.
// The links are testlink.twx (and keeplink.twx, testlink whose table can be missing), told to
// refuse the disconnect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "activity_runner.h"
#include "flowcore.h"

namespace {

using acttest::List;
using acttest::Number;
using acttest::Property;
using acttest::Text;
using acttest::Time;

// testlink's own tokens.
enum : uint32_t { kRows = 1, kFail = 4 };
constexpr uint32_t kSrcLink = TWTOKENF_SRC | TWTOKEN_LINK;
constexpr uint32_t kDestLink = TWTOKENF_DEST | TWTOKEN_LINK;

constexpr char kRefused[] = "12325 Error: testlink refused Disconnect  (42)";

class ActivityEndTest : public acttest::ActivityRunner {
 protected:
  ActivityEndTest() : ActivityRunner({"direct.twx", "poll.twx", "command.twx"}) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ActivityRunner::SetUp());
    twtest::InstallPlugin(inst_, "testlink");
    twtest::InstallPlugin(inst_, "keeplink");
  }
};

// A time that has passed: a poll given it as StopTime stops after its first wait.
TWDatetime Yesterday() {
  TWDatetime when{};
  TWDatetimeParts back{};
  back.day = -1;
  EXPECT_EQ(TWDatetimeSetCurrent(&when), TWSUCCESS);
  EXPECT_EQ(TWDatetimeAdjust(&when, &back), TWSUCCESS);
  return when;
}

TEST_F(ActivityEndTest, AFailedDisconnectIsTheRunsFailureUnlessItFailedBefore) {
  struct Case {
    const char* name;
    const char* library;
    std::vector<Property> activity;
    std::string srcFail, destFail;  // the test connectors' Fail words
    const char* destLibrary;        // null: no destination link
    uint32_t status;
    std::vector<std::string> log;
  };
  const std::string rows = "1,alpha;2,beta";
  const Case cases[] = {
      {"DirectDestination",
       "direct",
       {},
       "",
       "Disconnect",
       "testlink",
       TWFAIL_EXTERNAL,
       {kRefused}},
      {"DirectSource", "direct", {}, "Disconnect", "", "testlink", TWFAIL_EXTERNAL, {kRefused}},
      // The run's own failure stays its status; the refusal is logged all the same.
      {"DirectFailedBefore",
       "direct",
       {},
       "",
       "Missing,Disconnect",
       "keeplink",
       TWFAIL_INVALID_METADATA,
       {"12545 Error: Metadata object 'DEST' does not exist", kRefused}},
      {"Poll",
       "poll",
       {Number("Frequency", 1, 1), Time("StopTime", 2, Yesterday()),
        List("ExecuteList", 4, {"Elsewhere"}), Text("Statement", 7, "SELECT")},
       "Disconnect",
       "",
       nullptr,
       TWFAIL_EXTERNAL,
       {kRefused}},
      {"CommandOnLink",
       "command",
       {Text("Statement", 1, "UPDATE")},
       "Disconnect",
       "",
       nullptr,
       TWFAIL_EXTERNAL,
       {kRefused}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    // The poll's source has no rows, so that it sees no event.
    AddLink(name + "Source", "testlink",
            {Text("Metadata", TWTOKEN_METADATA, "SRC"),
             Text("Rows", kRows, c.library == std::string("poll") ? "" : rows),
             Text("Fail", kFail, c.srcFail)});
    std::vector<Property> activity = c.activity;
    activity.push_back(Text("SrcLink", kSrcLink, name + "Source"));
    if (c.destLibrary != nullptr) {
      AddLink(name + "Target", c.destLibrary,
              {Text("Metadata", TWTOKEN_METADATA, "DEST"), Text("Fail", kFail, c.destFail)});
      activity.push_back(Text("DestLink", kDestLink, name + "Target"));
    }
    AddActivity(name, c.library, activity);
    // The plug-in ended its connections itself: nothing is left for the engine to end.
    EXPECT_EQ(Run(name, false, [&] { EXPECT_EQ(ConnectionsLeft(), 0); }), c.status);
    EXPECT_EQ(Log(name), c.log);
  }
}

}  // namespace
