// A served cluster whose Administrator and Log databases are on an Ordex server held in
// PostgreSQL, installed from the kit as a user installs it, with twmain serving: its
// connections to PostgreSQL are lost in the middle of a run, by an administrator's
// pg_terminate_backend or by PostgreSQL stopping and starting again. The server says what
// failed, the run is logged whole or not at all and once, and the next due activity runs at
// the next poll once PostgreSQL answers again. Each case has a PostgreSQL cluster of its own
// (scripts/pg.sh), so that a restart troubles no other test; it runs where the test command
// runs PostgreSQL (TW_PG_PORT) and skips elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <regex>
#include <string>

#include "road_fixture.h"
#include "store_fixture.h"

namespace {

namespace fs = std::filesystem;
using road::Count;
using road::Has;
using road::kWaitMs;
using road::Twmain;
using road::Within;

// A private cluster made by scripts/pg.sh, stopped and removed on every path.
class PrivateCluster {
 public:
  PrivateCluster() {
    // Under /tmp itself, not the test's private TMPDIR: the user postgres runs the server
    // and must reach its directory.
    char pattern[] = "/tmp/tw-pg-served.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      ADD_FAILURE() << "mkdtemp";
      return;
    }
    dir_ = pattern;
    twtest::ProcessResult r = Run("start");
    std::smatch m;
    if (r.exitCode != 0 || !std::regex_search(r.out, m, std::regex("TW_PG_PORT=([0-9]+)"))) {
      ADD_FAILURE() << "pg.sh start: " << r.out << r.err;
      return;
    }
    port_ = m[1];
  }
  ~PrivateCluster() {
    if (!dir_.empty()) {
      // What PostgreSQL logged explains a failed test.
      if (::testing::Test::HasFailure())
        std::cerr << "PostgreSQL's log:\n" << twtest::ReadFile(dir_ + "/log");
      twtest::ProcessResult r = Run("stop");
      EXPECT_EQ(r.exitCode, 0) << r.err;
    }
  }
  PrivateCluster(const PrivateCluster&) = delete;
  PrivateCluster& operator=(const PrivateCluster&) = delete;

  const std::string& port() const { return port_; }
  std::string ConnInfo(const std::string& dbname) const {
    return "host=127.0.0.1 port=" + port_ + " user=tw dbname=" + dbname;
  }
  // Runs sql on the maintenance database; the first column of its first row, or the error.
  std::string Exec(const std::string& sql) const {
    std::string value;
    const std::string error = storetest::ExecAt(ConnInfo("postgres"), sql, &value);
    return error.empty() ? value : error;
  }
  // scripts/pg.sh's verb on the cluster ("halt", "resume", "restart"); false when it failed.
  bool Script(const std::string& verb) {
    twtest::ProcessResult r = Run(verb);
    EXPECT_EQ(r.exitCode, 0) << verb << ": " << r.err;
    return r.exitCode == 0;
  }

 private:
  twtest::ProcessResult Run(const std::string& verb) {
    return twtest::RunProgram({"/bin/bash", TW_SOURCE_DIR "/scripts/pg.sh", verb, dir_},
                              twtest::InheritedEnv(), TW_SOURCE_DIR, "", 120000);
  }
  std::string dir_, port_;
};

// How the connections are lost, and how many runs the server takes at a time: with one, the
// first call of the control store after the loss is the one that records the run's end.
enum class Loss { kTerminated, kRestarted, kStoppedAWhile, kStoppedAtTheEnd };
struct LossCase {
  const char* name;
  Loss loss;
  int maxActivities;
};

constexpr char kServerLost[] =
    "The control store manager may be unable to communicate with the Ordex server containing "
    "the control store database: Server does not exist: PostgreSQL: ";

// What a failed call leaves behind when the server is gone; saying it would hide the cause.
constexpr const char* kMisleading[] = {"required object", "The activity does not exist",
                                       "The log does not exist", "Field = CountList"};
constexpr char kPollFailed[] = "Error returned while polling for the next activity.";

// The lines of text holding what, each counted once: the control store writes each fallback
// line both to twmain.err and to its standard error, which is the same file here.
size_t DistinctLines(const std::string& text, const std::string& what) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(what) != std::string::npos) lines.insert(line);
  return lines.size();
}

class ServedOnPostgres : public road::RoadFixture, public ::testing::WithParamInterface<LossCase> {
 protected:
  void SetUp() override {
    const char* port = std::getenv("TW_PG_PORT");
    if (port == nullptr || *port == '\0') GTEST_SKIP() << "no PostgreSQL cluster (TW_PG_PORT)";
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    cluster_.emplace();
    ASSERT_FALSE(cluster_->port().empty());
    ASSERT_EQ(cluster_->Exec("CREATE DATABASE tarnway STRATEGY FILE_COPY"), "");
    twtest::WriteFile(inst_ / "ordex/servers.map", "hub " + cluster_->ConnInfo("tarnway") + "\n");
  }
  void TearDown() override {
    if (cluster_) RoadFixture::TearDown();
  }
  // Ends every session of the servers with the database; false when none was ended.
  bool TerminateSessions() {
    const std::string ended = cluster_->Exec(
        "SELECT count(pg_terminate_backend(pid, 10000)) FROM pg_stat_activity "
        "WHERE datname = 'tarnway' AND pid <> pg_backend_pid()");
    EXPECT_NE(ended, "0") << "no session to end";
    return ended != "0";
  }

  std::optional<PrivateCluster> cluster_;
};

// A run goes on while the sessions are lost. Sessions that PostgreSQL ended are made anew
// before the next call, which fails for nothing: the run's end is recorded whole, and nothing
// is reported. A PostgreSQL that does not answer for a while is reported once, with its
// reason, in the server's log (twmain.err while the Log database is out of reach too), and
// once on the console however many polls fail, and nothing a failed call left behind is
// reported as missing; once it answers again the run's end is recorded (by the server's clean-up
// when the run ended while PostgreSQL was away) and the next due activity runs at a poll.
TEST_P(ServedOnPostgres, ALostConnectionIsNamedNothingIsHalfWrittenAndTheNextPollRuns) {
  const LossCase& c = GetParam();
  const fs::path slowlink = PluginPath("slowlink.twx");
  ASSERT_NO_FATAL_FAILURE(InstallFromKit(5, "hub"));
  ASSERT_NO_FATAL_FAILURE(ServerSetting("MaxActivities", c.maxActivities));
  std::error_code ec;
  fs::copy_file(slowlink, inst_ / "slowlink.twx", ec);
  ASSERT_FALSE(ec) << slowlink << ": " << ec.message();
  // Nothing of the cluster is a file of the installation.
  ASSERT_FALSE(fs::exists(inst_ / "ordex/local/qtwadm.odx"));
  for (const char* name : {"SlowSource", "SlowTarget"})
    AddLink("Link\\Ordex", name,
            {"Library=slowlink", "Rows=1,alpha;2,beta", "PropNameList:textlist=Rows",
             "PropTokenList:numberlist=1"});
  PeopleLinks();

  Twmain server(inst_.path());
  // Everything the server said: console, twmain.err, the runs' logs and its own log.
  auto said = [&] {
    return server.Out() + server.Err() + ActivityLog() +
           Adm({"export", logDb_, "--form", "Server"});
  };
  AddTransfer("Long", "SlowSource", "SlowTarget", {});
  ASSERT_TRUE(Within(kWaitMs, [&] { return !Fetching().empty(); }))
      << server.Out() << server.Err() << ActivityLog();
  switch (c.loss) {
    case Loss::kTerminated:
      ASSERT_TRUE(TerminateSessions());
      break;
    case Loss::kRestarted:
      ASSERT_TRUE(cluster_->Script("restart"));
      break;
    case Loss::kStoppedAWhile:
      ASSERT_TRUE(cluster_->Script("halt"));
      // The polls find PostgreSQL gone and the server says so, on its own.
      ASSERT_TRUE(Within(kWaitMs, [&] { return Has(server.Err(), kServerLost); }))
          << server.Out() << server.Err();
      // Polls go on failing at every tick, and the console is not told of each.
      server.Type("V + 2\n");
      ASSERT_TRUE(Within(kWaitMs, [&] {
        return Count(server.Out(), "Polling for Activities.") >= 3;
      })) << server.Out();
      ASSERT_TRUE(cluster_->Script("resume"));
      break;
    case Loss::kStoppedAtTheEnd:
      break;
  }
  if (c.loss == Loss::kStoppedAtTheEnd) {
    ASSERT_TRUE(cluster_->Script("halt"));
    server.Type("C 1\n");
    ASSERT_TRUE(Within(kWaitMs, [&] { return Has(server.Out(), "Activity 'Long' closed"); }))
        << server.Out() << server.Err();
    ASSERT_TRUE(cluster_->Script("resume"));
  } else {
    server.Type("C 1\n");
  }
  ASSERT_TRUE(Within(kWaitMs, [&] { return Ended() >= 1; }))
      << server.Out() << server.Err() << ActivityLog();
  AddTransfer("Next", "TextIn", "TextOut", {"Overwrite:number=1"});
  ASSERT_TRUE(Within(kWaitMs, [&] { return Finished() >= 1; }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  const std::string all = said();
  const std::string out = server.Out();
  if (c.loss == Loss::kStoppedAWhile || c.loss == Loss::kStoppedAtTheEnd) {
    // Once for the outage, naming what PostgreSQL's client said.
    EXPECT_EQ(DistinctLines(all, kServerLost), 1u) << all;
    EXPECT_TRUE(Has(all, std::string(kServerLost) + "connection to server at")) << all;
    // At the run's end PostgreSQL may answer again before a poll falls due.
    if (c.loss == Loss::kStoppedAWhile)
      EXPECT_EQ(Count(out, kPollFailed), 1u) << out;
    else
      EXPECT_LE(Count(out, kPollFailed), 1u) << out;
  } else {
    EXPECT_FALSE(Has(all, "Ordex server")) << all;
    EXPECT_FALSE(Has(out, kPollFailed)) << out;
  }
  // Neither the documents, items and views a call could not reach are said to be missing,
  // nor the lost server a second time in other words.
  for (const char* misleading : kMisleading) EXPECT_FALSE(Has(all, misleading)) << all;
  EXPECT_EQ(Count(all, "control store database"), Count(all, kServerLost)) << all;
  EXPECT_EQ(twtest::ReadFile(path("out.txt")), road::kPeople);
  EXPECT_EQ(Count(out, "Activity started 'Long'."), 1u) << out;
  EXPECT_TRUE(Has(out, "Activity 'Long' closed successfully (user request).")) << out;
  EXPECT_EQ(Count(out, "Activity started 'Next'."), 1u) << out;
  EXPECT_TRUE(Has(out, "Activity 'Next' completed successfully.")) << out;
  // Each run is logged once, its start and its end in one document.
  const std::string log = ActivityLog();
  EXPECT_EQ(Count(log, "\"FinishTime\""), 2u) << log;
  // A run whose end could not be recorded is ended by the server's clean-up of its own runs
  // once PostgreSQL answers again.
  const char* ending = c.loss == Loss::kStoppedAtTheEnd ? "Activity terminated abnormally"
                                                        : "Activity Closed By User";
  EXPECT_EQ(Count(log, ending), 1u) << log;
  EXPECT_EQ(Count(log, "Activity finished"), 1u) << log;
  // Neither activity is left locked.
  const std::string docs = Adm({"export", adminDb_, "--form", "Activity\\Direct Transfer"});
  EXPECT_EQ(Count(docs, "{\"name\":\"Lock\",\"type\":\"number\",\"value\":0.0}"), 2u) << docs;
}

INSTANTIATE_TEST_SUITE_P(
    Losses, ServedOnPostgres,
    ::testing::Values(LossCase{"SessionsTerminated", Loss::kTerminated, 1},
                      LossCase{"PostgresqlRestarted", Loss::kRestarted, 1},
                      LossCase{"PostgresqlStoppedAWhile", Loss::kStoppedAWhile, 2},
                      LossCase{"PostgresqlStoppedAtTheEnd", Loss::kStoppedAtTheEnd, 1}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
