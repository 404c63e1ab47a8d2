// The command activity through the engine: its identity, operating-system commands with
// their exit status, a command closed while it runs, and a statement on a SQLite link.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "activity_runner.h"
#include "odbc_test_config.h"

namespace {

using acttest::Number;
using acttest::Property;
using acttest::Text;

constexpr uint32_t kStatement = 1;
constexpr uint32_t kSrcLink = TWTOKENF_SRC | TWTOKEN_LINK;

class CommandTest : public acttest::ActivityRunner {
 protected:
  CommandTest() : ActivityRunner({"command.twx", "sqlcli.twx"}) {}

  // Runs a command activity of the properties given; answers its status.
  uint32_t RunCommand(const std::vector<Property>& properties) {
    name_ = "Command" + std::to_string(++runs_);
    AddActivity(name_, "command", properties);
    return Run(name_);
  }
  std::vector<std::string> LastLog() { return Log(name_); }

  std::string name_;
  int runs_ = 0;
};

// The processes whose pids the file at path lists, one a line.
std::vector<pid_t> Pids(const std::string& path) {
  std::vector<pid_t> pids;
  std::istringstream lines(twtest::ReadFile(path));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) pids.push_back(std::stoi(line));
  return pids;
}

// Whether pid still runs (a zombie waiting to be reaped has ended).
bool Runs(pid_t pid) {
  std::string stat = twtest::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return false;
  return stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

TEST(CommandIdentityTest, IdentifiesWithItsPropertyTable) {
  acttest::ExpectIdentity("command.twx", TWSTREAMFMT_NATIVE,
                          {{0x01010001, TWTYPE_TEXT, nullptr},
                           {0x01010002, TWTYPE_TEXT, nullptr},
                           {0x01010003, TWTYPE_TEXT, nullptr},
                           {0x01010004, TWTYPE_TEXT, nullptr},
                           {1, TWTYPE_TEXT, "Statement"}});
}

TEST_F(CommandTest, RunsTheStatementAsAnOperatingSystemCommand) {
  const std::string out = inst_ / "out.txt";
  struct Case {
    std::vector<Property> properties;
    uint32_t status;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {{Text("Statement", kStatement, "printf 'a b' > '" + out + "'")}, TWSUCCESS, {}},
      // A command that ran and failed is told by its status, not as one that could not run.
      {{Text("Statement", kStatement, "exit 3")},
       TWFAIL_EXTERNAL,
       {"12325 Error: Command ran and ended with status  (3)"}},
      {{Text("Statement", kStatement, "echo done; exit 255")},
       TWFAIL_EXTERNAL,
       {"12325 Error: Command ran and ended with status  (255)"}},
      // The shell ran and reported the program it could not find.
      {{Text("Statement", kStatement, "no_such_program_anywhere 2>/dev/null")},
       TWFAIL_EXTERNAL,
       {"12325 Error: Command ran and ended with status  (127)"}},
      // Nothing to run is no success.
      {{},
       TWFAIL_MISSING_PROPERTY,
       {"12553 Error: No value supplied for required property 'Statement'"}},
      {{Text("Statement", kStatement, " \t ")},
       TWFAIL_MISSING_PROPERTY,
       {"12553 Error: No value supplied for required property 'Statement'"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunCommand(c.properties), c.status) << name_;
    EXPECT_EQ(LastLog(), c.log) << name_;
  }
  EXPECT_EQ(twtest::ReadFile(out), "a b");
}

TEST_F(CommandTest, AClosedCommandEndsWithEveryProcessItStarted) {
  for (uint32_t request : {uint32_t{TWCLOSE_REQUESTED}, uint32_t{TWCLOSE_TIMEOUT}}) {
    const std::string pids = inst_ / ("pids" + std::to_string(request));
    // The shell and a child of its own, both listed once they run.
    const std::string command = "sleep 600 & echo $! > '" + pids + ".tmp'; echo $$ >> '" + pids +
                                ".tmp'; mv '" + pids + ".tmp' '" + pids + "'; wait";
    std::thread closer([&] {
      if (twtest::WaitUntil([&] { return Pids(pids).size() == 2; }, 60000)) RequestClose(request);
    });
    const uint32_t status = RunCommand({Text("Statement", kStatement, command)});
    closer.join();
    const uint32_t expected =
        request == TWCLOSE_REQUESTED ? TWFAIL_CLOSE_REQUESTED : TWFAIL_CLOSE_TIMEOUT;
    EXPECT_EQ(status, expected);
    EXPECT_EQ(LastLog().size(), 1u);
    std::vector<pid_t> started = Pids(pids);
    ASSERT_EQ(started.size(), 2u);
    for (pid_t pid : started) {
      EXPECT_TRUE(twtest::WaitUntil([&] { return !Runs(pid); }, 60000)) << pid;
      if (Runs(pid)) ::kill(pid, SIGKILL);
    }
  }
}

TEST_F(CommandTest, WithALinkTheStatementRunsOnIt) {
  auto& odbc = odbc_test::OdbcConfig::Get();
  const std::string file = inst_ / "queue.db";
  ASSERT_EQ(twtest::RunProgram({"/usr/bin/sqlite3", file, "CREATE TABLE t (n INTEGER)"},
                               twtest::InheritedEnv(), inst_.path())
                .exitCode,
            0);
  const std::string source = odbc.UniqueName("command");
  odbc.AddSource(source, "SQLITE3", {{"Database", file}});
  AddLink("Lite", "sqlcli", {Text("Server", TWTOKEN_SERVER, source)});
  struct Case {
    std::string statement;
    bool fails;
  };
  const Case cases[] = {
      {"INSERT INTO t VALUES (7)", false},
      {"INSERT INTO no_such_table VALUES (8)", true},
  };
  for (const Case& c : cases) {
    const uint32_t status =
        RunCommand({Text("SrcLink", kSrcLink, "Lite"), Text("Statement", kStatement, c.statement)});
    EXPECT_EQ(status != TWSUCCESS, c.fails) << c.statement << ": " << status;
    EXPECT_EQ(LastLog().empty(), !c.fails) << c.statement;
  }
  EXPECT_EQ(twtest::RunProgram({"/usr/bin/sqlite3", file, "SELECT n FROM t"},
                               twtest::InheritedEnv(), inst_.path())
                .out,
            "7\n");
}

}  // namespace
