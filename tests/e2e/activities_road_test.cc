// The small activities on the road with real processes: twmain schedules a poll of a SQLite
// queue through sqlcli.twx that sees the queued row and starts the command it lists, an
// agent run by the script activity, a back-up of the Administrator database and a purge of
// the log, each run by taskrun; what they leave must be what they were asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "road_fixture.h"

namespace {

using road::Has;
using road::kWaitMs;
using road::Twmain;
using road::Within;

constexpr char kTasksDesign[] = R"json({"title": "Tasks",
 "forms": [{"name": "Task", "fields": [{"name": "Name", "type": "text"},
                                       {"name": "Done", "type": "number"}]}],
 "agents": [{"name": "(Close)", "kind": "acts", "selection": "SELECT Form = 'Task'",
             "action": "FIELD Done := 1"}]})json";

// The first file of the usual driver directories whose name starts with stem, or empty.
std::string FindDriver(const char* stem) {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                          "/usr/lib/odbc", "/usr/local/lib/odbc"}) {
    std::error_code ec;
    for (const auto& entry : road::fs::directory_iterator(dir, ec))
      if (entry.path().filename().string().rfind(stem, 0) == 0) return entry.path();
  }
  return {};
}

class ActivitiesRoad : public road::RoadFixture {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(RoadFixture::SetUp());
    const std::string lite = FindDriver("libsqlite3odbc");
    ASSERT_FALSE(lite.empty()) << "the SQLite ODBC driver";
    twtest::WriteFile(inst_ / "odbcinst.ini", "[SQLITE3]\nDriver=" + lite + "\n");
    twtest::WriteFile(inst_ / "odbc.ini",
                      "[queue]\nDriver=SQLITE3\nDatabase=" + path("queue.db") + "\n");
    env_ = {"ODBCSYSINI=" + inst_.path(), "ODBCINI=" + path("odbc.ini")};
  }
  std::string Sql(const std::string& sql) {
    twtest::ProcessResult r = twtest::RunProgram({"/usr/bin/sqlite3", path("queue.db"), sql},
                                                 twtest::InheritedEnv(), inst_.path());
    EXPECT_EQ(r.exitCode, 0) << sql << ": " << r.err;
    return r.out;
  }
  void AddActivity(const std::string& form, std::vector<std::string> items) {
    std::vector<std::string> args = {"new", "qtwadm.odx", form};
    args.insert(args.end(), items.begin(), items.end());
    Adm(args);
  }
  // The line of an export that holds part ("" when none).
  static std::string LineWith(const std::string& text, const std::string& part) {
    size_t at = text.find(part);
    if (at == std::string::npos) return "";
    size_t begin = text.rfind('\n', at);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return text.substr(begin, text.find('\n', at) - begin);
  }
  std::vector<std::string> env_;
};

TEST_F(ActivitiesRoad, APollStartsACommandAndTheHousekeepingRuns) {
  MakeDatabases();
  for (const char* plugin :
       {"poll.twx", "command.twx", "script.twx", "admin.twx", "sqlcli.twx", "ordex.twx"})
    ASSERT_NO_FATAL_FAILURE(InstallPlugin(plugin));
  Sql("CREATE TABLE queue (id INTEGER); INSERT INTO queue VALUES (1)");
  AddLink("Link\\Sqlcli", "Queue", {"Server=queue"});
  twtest::WriteFile(inst_ / "tasks.json", kTasksDesign);
  Adm({"build-template", path("tasks.json"), path("tasks.otm")});
  Adm({"create", "tasks.odx", "--template", path("tasks.otm")});
  Adm({"new", "tasks.odx", "Task", "Name=one", "Done:number=0"});
  Adm({"new", "qtwlog.odx", "Activity", "Activity=Ancient",
       "FinishTime:time=" + twtest::LocalTimeAgo(60 * 86400)});

  // Stamp starts in a far future: it runs when the poll starts it.
  AddActivity("Activity\\Command", {"Name=Stamp", "StartDate:time=2999-01-01 00:00:00",
                                    "Statement=echo stamped >> '" + path("stamp.txt") + "'"});
  AddActivity("Activity\\Poll",
              {"Name=Watch", "SrcLink=Queue", "Frequency:number=1", "EventCount:number=1",
               "ExecuteList:textlist=Stamp", "Statement=SELECT id FROM queue",
               "PostStatement=DELETE FROM queue", "OneTime:number=1"});
  AddActivity("Activity\\Script",
              {"Name=Agent", "AgentName=Close", "AgentDatabase=tasks.odx", "OneTime:number=1"});
  AddActivity("Activity\\*Admin-Backup", {"Name=Backup", "SrcDatabase=qtwadm.odx",
                                          "DestDatabase=qtwadm-copy.odx", "OneTime:number=1"});
  AddActivity("Activity\\*Admin-Purge Log",
              {"Name=Purge", "LogDatabase=qtwlog.odx", "Expiration:number=30", "OneTime:number=1"});

  Twmain server(inst_.path(), env_);
  const std::vector<std::string> names = {"Watch", "Stamp", "Agent", "Backup", "Purge"};
  ASSERT_TRUE(Within(kWaitMs,
                     [&] {
                       const std::string out = server.Out();
                       for (const std::string& name : names)
                         if (!Has(out, "Activity '" + name + "' completed")) return false;
                       return true;
                     }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  const std::string out = server.Out();
  for (const std::string& name : names)
    EXPECT_TRUE(Has(out, "Activity '" + name + "' completed successfully.")) << out;
  EXPECT_EQ(twtest::ReadFile(path("stamp.txt")), "stamped\n") << out;
  EXPECT_EQ(Sql("SELECT count(*) FROM queue"), "0\n");
  EXPECT_TRUE(Has(Adm({"export", "tasks.odx", "--form", "Task"}),
                  "{\"name\":\"Done\",\"type\":\"number\",\"value\":1.0}"));
  const std::string copy = LineWith(Adm({"export", "qtwadm-copy.odx"}), "\"Watch\"");
  EXPECT_TRUE(Has(copy, "{\"name\":\"Enabled\",\"type\":\"text\",\"value\":\"0\"}")) << copy;
  const std::string log = ActivityLog();
  EXPECT_FALSE(Has(log, "Ancient")) << log;
  EXPECT_TRUE(Has(log, "Backup")) << log;
}

}  // namespace
