// The poll activity: the wait between polls in slices, and the plug-in through the engine on
// a SQLite queue that another process fills, the activities it starts going to the fake
// control store.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "activity_runner.h"
#include "odbc_test_config.h"
#include "wait.h"

namespace {

using acttest::List;
using acttest::Number;
using acttest::Property;
using acttest::Text;

using namespace tw::poll;  // NOLINT: the plug-in's tokens

TEST(PollIdentityTest, IdentifiesWithItsPropertyTable) {
  acttest::ExpectIdentity("poll.twx", TWSTREAMFMT_NATIVE,
                          {{0x30002, TWTYPE_INT, nullptr},
                           {0x10001, TWTYPE_TEXT, nullptr},
                           {0x10002, TWTYPE_TEXT, nullptr},
                           {0x10003, TWTYPE_TEXT, nullptr},
                           {0x10004, TWTYPE_TEXT, nullptr},
                           {0x10005, TWTYPE_TEXT, nullptr},
                           {1, TWTYPE_INT, "Frequency"},
                           {2, TWTYPE_DATETIME, "StopTime"},
                           {3, TWTYPE_INT, "EventCount"},
                           {4, TWTYPE_BINARY, "ExecuteList"},
                           {5, TWTYPE_INT, "Synchronous"},
                           {6, TWTYPE_INT, "PostLast"},
                           {7, TWTYPE_TEXT, "Statement"},
                           {8, TWTYPE_TEXT, "PostStatement"},
                           {9, TWTYPE_INT, "IgnoreError"}});
}

TEST(PollWaitTest, WaitsInSlicesAndStopsAfterTheSliceThatSawAStop) {
  struct Case {
    uint32_t seconds;
    int stopAtCheck;  // 0: never
    uint32_t stopStatus;
    std::vector<uint32_t> slices;
    std::optional<uint32_t> end;
  };
  const Case cases[] = {
      {40, 0, 0, {15, 15, 10}, std::nullopt},
      {15, 0, 0, {15}, std::nullopt},
      {31, 0, 0, {15, 15, 1}, std::nullopt},
      {1, 0, 0, {1}, std::nullopt},
      {0, 0, 0, {}, std::nullopt},
      {40, 2, TWFAIL_CLOSE_REQUESTED, {15, 15}, TWFAIL_CLOSE_REQUESTED},
      {40, 1, TWSUCCESS, {15}, TWSUCCESS},  // the stop time has passed
      {40, 3, TWFAIL_CLOSE_TIMEOUT, {15, 15, 10}, TWFAIL_CLOSE_TIMEOUT},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> slices;
    int checks = 0;
    std::optional<uint32_t> end = tw::poll::WaitInSlices(
        c.seconds, [&](uint32_t s) { slices.push_back(s); },
        [&]() -> std::optional<uint32_t> {
          if (++checks == c.stopAtCheck) return c.stopStatus;
          return std::nullopt;
        });
    EXPECT_EQ(slices, c.slices) << c.seconds << " " << c.stopAtCheck;
    EXPECT_EQ(end, c.end) << c.seconds << " " << c.stopAtCheck;
    EXPECT_EQ(checks, static_cast<int>(c.slices.size()));
  }
}

// A poll of a SQLite queue table through sqlcli; the activities it starts are Load and
// Report.
class PollTest : public acttest::ActivityRunner {
 protected:
  PollTest() : ActivityRunner({"poll.twx", "sqlcli.twx"}) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ActivityRunner::SetUp());
    auto& odbc = odbc_test::OdbcConfig::Get();
    queue_ = inst_ / "queue.db";
    ASSERT_EQ(Sql("CREATE TABLE queue (id INTEGER); INSERT INTO queue VALUES (1)"), "");
    const std::string source = odbc.UniqueName("poll");
    odbc.AddSource(source, "SQLITE3", {{"Database", queue_}});
    AddLink("Queue", "sqlcli", {Text("Server", TWTOKEN_SERVER, source)});
    load_ = AddActivity("Load", "direct", {});
    AddActivity("Report", "direct", {});
  }

  // Runs sql on the queue in a process of its own (the sqlite3 shell); its output, or
  // "failed: <errors>".
  std::string Sql(const std::string& sql) {
    twtest::ProcessResult r =
        twtest::RunProgram({"/usr/bin/sqlite3", queue_, sql}, twtest::InheritedEnv(), inst_.path());
    return r.exitCode == 0 ? r.out : "failed: " + r.err;
  }

  // Runs a poll of the queue with Frequency 1, ExecuteList Load and Report and the
  // properties given; answers its status.
  uint32_t RunPoll(std::vector<Property> properties, bool withList = true) {
    name_ = "Poll" + std::to_string(++runs_);
    properties.push_back(Text("SrcLink", TWTOKEN_LINK, "Queue"));
    if (withList) properties.push_back(List("ExecuteList", kExecuteList, {"Load", "Report"}));
    id_ = AddActivity(name_, "poll", properties);
    return Run(name_);
  }
  // A poll that ends after n events.
  std::vector<Property> Polling(int32_t events,
                                const std::string& statement = "SELECT id FROM queue") {
    return {Number("Frequency", kFrequency, 1), Number("EventCount", kEventCount, events),
            Text("Statement", kStatement, statement)};
  }
  // A stop time already passed: the poll ends after its first wait.
  static Property StopNow() {
    TWDatetime now{};
    EXPECT_EQ(TWDatetimeSetCurrent(&now), TWSUCCESS);
    return acttest::Time("StopTime", kStopTime, now);
  }

  std::string queue_, name_;
  int32_t load_ = 0;
  std::atomic<int32_t> id_{0};
  int runs_ = 0;
};

TEST_F(PollTest, BadPropertiesEndTheRunBeforeAnyPoll) {
  struct Case {
    std::vector<Property> properties;
    bool withList;
    std::string log;
  };
  const std::string noValue = "12553 Error: No value supplied for required property ";
  const Case cases[] = {
      {{Text("Statement", kStatement, "SELECT 1")}, true, noValue + "'Frequency'"},
      {{Number("Frequency", kFrequency, 0), Text("Statement", kStatement, "SELECT 1")},
       true,
       noValue + "'Frequency'"},
      {{Number("Frequency", kFrequency, -5), Text("Statement", kStatement, "SELECT 1")},
       true,
       "12556 Error: Invalid property value for property 'Frequency'"},
      {{Number("Frequency", kFrequency, 1), Text("Statement", kStatement, "SELECT 1")},
       false,
       noValue + "'ExecuteList'"},
      {{Number("Frequency", kFrequency, 1)}, true, noValue + "'Statement'"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(RunPoll(c.properties, c.withList), TWSUCCESS) << name_;
    EXPECT_EQ(Log(name_), std::vector<std::string>{c.log}) << name_;
  }
  EXPECT_TRUE(store_.Started().empty());
}

TEST_F(PollTest, AnotherProcesssRowStartsTheListedActivities) {
  // The first row is taken at once; once its activities were started, another process queues
  // a second one, which must get in (the poll holds no transaction while it waits) and be seen.
  std::string inserted = "not run";
  std::thread writer([&] {
    if (twtest::WaitUntil([&] { return store_.Started().size() >= 2; }, 60000))
      inserted = Sql("INSERT INTO queue VALUES (2)");
    // A poll that never sees the row is closed rather than left polling.
    if (!twtest::WaitUntil([&] { return store_.Started().size() >= 4; }, 60000)) RequestClose();
  });
  std::vector<Property> p = Polling(2);
  p.push_back(Text("PostStatement", kPostStatement, "DELETE FROM queue"));
  const uint32_t status = RunPoll(p);
  writer.join();
  EXPECT_EQ(status, TWSUCCESS);
  EXPECT_EQ(inserted, "");
  EXPECT_EQ(store_.Started(), (std::vector<std::string>{"Load", "Report", "Load", "Report"}));
  EXPECT_EQ(Sql("SELECT count(*) FROM queue"), "0\n");
  EXPECT_TRUE(Log(name_).empty());
}

TEST_F(PollTest, ASynchronousPollWaitsForWhatItStarted) {
  std::thread finisher([&] {
    if (twtest::WaitUntil([&] { return store_.Waiting(id_); }, 60000))
      store_.ReleaseWaits(load_);
    else
      RequestClose();
  });
  std::vector<Property> p = Polling(1);
  p.push_back(Number("Synchronous", kSynchronous, 1));
  p.push_back(List("ExecuteList", kExecuteList, {"Load"}));
  const uint32_t status = RunPoll(p, false);
  finisher.join();
  EXPECT_EQ(status, TWSUCCESS);
  EXPECT_EQ(store_.Started(), std::vector<std::string>{"Load"});
}

TEST_F(PollTest, TheFollowUpStatementRunsBeforeOrAfterTheStart) {
  // A follow-up that fails shows where it ran: before, nothing was started.
  struct Case {
    int32_t postLast;
    size_t started;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 2}}) {
    std::vector<Property> p = Polling(1);
    p.push_back(Text("PostStatement", kPostStatement, "DELETE FROM no_such_table"));
    p.push_back(Number("PostLast", kPostLast, c.postLast));
    const size_t before = store_.Started().size();
    EXPECT_NE(RunPoll(p), TWSUCCESS) << c.postLast;
    EXPECT_EQ(store_.Started().size() - before, c.started) << c.postLast;
    EXPECT_FALSE(Log(name_).empty());
  }
}

TEST_F(PollTest, AFailingStatementEndsThePollUnlessIgnored) {
  struct Case {
    int32_t ignore;
    bool fails;
  };
  for (const Case& c : {Case{0, true}, Case{1, false}}) {
    std::vector<Property> p = Polling(0, "SELECT id FROM no_such_table");
    p.push_back(Number("IgnoreError", kIgnoreError, c.ignore));
    p.push_back(StopNow());
    EXPECT_EQ(RunPoll(p) != TWSUCCESS, c.fails) << c.ignore;
  }
  EXPECT_TRUE(store_.Started().empty());
}

TEST_F(PollTest, TheStopTimeAndACloseEndThePollAfterAWait) {
  // Without EventCount the poll goes on until it is stopped.
  std::vector<Property> p = Polling(0);
  p.push_back(StopNow());
  EXPECT_EQ(RunPoll(p), TWSUCCESS);
  EXPECT_EQ(store_.Started(), (std::vector<std::string>{"Load", "Report"}));

  std::thread closer([&] {
    EXPECT_TRUE(twtest::WaitUntil([&] { return store_.Started().size() >= 4; }, 60000));
    RequestClose();
  });
  const uint32_t status = RunPoll(Polling(0));
  closer.join();
  EXPECT_EQ(status, TWFAIL_CLOSE_REQUESTED);
  EXPECT_EQ(Log(name_), std::vector<std::string>{"1542 Error: Activity terminated by request"});
}

}  // namespace
