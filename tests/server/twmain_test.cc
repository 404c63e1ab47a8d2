// twmain end to end, as a child process against the fake control store of this process: a run
// of real taskrun processes with the test activity, a second server stopped at the run table,
// a signal, and the SNMP switch of twmain.ini.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "activity_test_util.h"
#include "catalogue.h"
#include "csmgr_wire.h"
#include "fake_ctlstore.h"
#include "process_util.h"
#include "runtable.h"
#include "tw/coding.h"
#include "twconst.h"

namespace {

using twtest::BuildInstDir;
using twtest::FakeCtlstore;
using twtest::FakeValue;
using twtest::WaitUntil;
namespace fs = std::filesystem;

std::string Text(uint32_t id) {
  return tw::message_text(id);
}

// twmain started from the build's installation, its installation directory the test's (found
// through twmain.ini on PATH). Output goes to files; standard input stays open until
// CloseInput unless the server is to read none. Killed and reaped on every path.
class Server {
 public:
  Server(const std::string& inst, bool input) : inst_(inst) {
    std::string program = BuildInstDir() + "twmain";
    std::vector<std::string> env = {"PATH=" + inst};
    for (const std::string& e : twtest::InheritedEnv()) env.push_back(e);
    EXPECT_TRUE(
        child_.StartWithFiles({program}, env, "", input, inst + "twmain.out", inst + "twmain.err"))
        << program;
  }

  void CloseInput() { child_.CloseInput(); }
  void Signal(int sig) { child_.Signal(sig); }
  // The exit code; -1 when it ended by a signal or was still running after timeoutMs (then
  // it is killed when the server goes).
  int Wait(int timeoutMs) {
    int code = child_.WaitExit(timeoutMs);
    if (code != -2) return code;
    ADD_FAILURE() << "twmain did not end; output:\n" << Out() << "\nerrors:\n" << Err();
    return -1;
  }
  std::string Out() const { return twtest::ReadFile(inst_ + "twmain.out"); }
  std::string Err() const { return twtest::ReadFile(inst_ + "twmain.err"); }

 private:
  std::string inst_;
  twtest::ChildProcess child_;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool Sent(FakeCtlstore& store, uint32_t code) {
  for (const auto& x : store.Journal())
    if (x.code == code) return true;
  return false;
}

class TwmainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(BuildInstDir().empty());
    ASSERT_TRUE(store_.serving());
    twtest::FakeSettings settings;
    settings.maxActivities = 4;
    store_.SetSettings(settings);
  }
  std::string path() const { return inst_.path(); }
  // taskrun from the build, and the test activity, in the test's installation.
  void InstallRunner() {
    std::error_code ec;
    fs::create_symlink(BuildInstDir() + "taskrun", inst_ / "taskrun", ec);
    ASSERT_FALSE(ec) << ec.message();
    fs::path tests = fs::read_symlink("/proc/self/exe", ec).parent_path();
    fs::copy_file(tests / "testact.twx", inst_ / "testact.twx", ec);
    ASSERT_FALSE(ec) << ec.message();
  }
  void SetSnmp(const std::string& value) {
    twtest::WriteFile(inst_ / "twmain.ini",
                      "[Configuration]\r\nDirectory=" + path() + "\r\nSNMP=" + value + "\r\n");
  }

  twtest::Installation inst_;
  FakeCtlstore store_;
};

TEST_F(TwmainTest, RunsDueActivitiesAsTaskrunAndEndsNormallyWhenInputEnds) {
  InstallRunner();
  twtest::AddTestActivity(store_, "Good", {{"Result", 1, FakeValue::Number(0)}});
  twtest::AddTestActivity(store_, "Bad", {{"Result", 1, FakeValue::Number(1542)}});
  store_.QueueDue("Good");
  store_.QueueDue("Bad");

  Server server(path(), true);
  ASSERT_TRUE(WaitUntil([&] { return store_.Done().size() == 2; }, 20000))
      << server.Out() << server.Err();
  server.CloseInput();
  EXPECT_EQ(server.Wait(20000), 0) << server.Err();

  std::vector<std::pair<std::string, uint32_t>> done;
  for (const auto& d : store_.Done()) done.emplace_back(d.activity, d.completion);
  std::sort(done.begin(), done.end());
  EXPECT_EQ(done, (std::vector<std::pair<std::string, uint32_t>>{{"Bad", 4148}, {"Good", 0}}));

  std::string out = server.Out();
  EXPECT_EQ(out.rfind(Text(4353) + "\n", 0), 0u) << out;
  EXPECT_NE(out.find("Activity 'Good' completed successfully."), std::string::npos) << out;
  EXPECT_NE(out.find("Activity 'Bad' completed with an error."), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - Text(4171).size() - 2), "\n" + Text(4171) + "\n");
  EXPECT_TRUE(store_.WaitForShutdown(5000));
  EXPECT_TRUE(Sent(store_, tw::csmgr::code::kTerm));
  // The server's table went with it.
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

TEST_F(TwmainTest, ASecondServerStopsAtTheRunTableAndLeavesTheFirstAlone) {
  // This process plays the first server: it holds the table with a run in it.
  tw::server::SharedRunTable first;
  ASSERT_EQ(first.Create(), TWSUCCESS);
  tw::server::RunTable table(first.address(), 100);
  table.Reset();
  bool again;
  ASSERT_EQ(table.Claim(77, &again), 0);
  table.SetCloseRequest(0, TWCLOSE_REQUESTED);
  std::string before(static_cast<const char*>(first.address()), TWMSGTBL_SIZE);

  Server server(path(), false);
  EXPECT_EQ(server.Wait(20000), 1);
  std::string err = server.Err();
  EXPECT_NE(err.find("\n" + Text(4177)), std::string::npos) << err;
  std::string out = server.Out();
  EXPECT_EQ(out.substr(out.size() - Text(4172).size() - 2), "\n" + Text(4172) + "\n") << out;

  EXPECT_EQ(std::string(static_cast<const char*>(first.address()), TWMSGTBL_SIZE), before);
  EXPECT_FALSE(store_.shutDown());
  for (uint32_t code :
       {tw::csmgr::code::kInit, tw::csmgr::code::kServerInit, tw::csmgr::code::kServerState,
        tw::csmgr::code::kTerm, tw::csmgr::code::kShutdown})
    EXPECT_FALSE(Sent(store_, code)) << code;
}

TEST_F(TwmainTest, ASignalCleansUpAndEndsWithSix) {
  Server server(path(), true);
  // The console shows its prompt once the scheduler has started.
  ASSERT_TRUE(WaitUntil([&] { return server.Out().find("====>") != std::string::npos; }, 20000))
      << server.Out() << server.Err();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(20000), 6);
  std::string err = server.Err();
  EXPECT_NE(err.find("TWMAIN terminating because of signal 15, cleaning up.\n"
                     "TWMAIN termination cleanup successfull.\n"),
            std::string::npos)
      << err;
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
  EXPECT_TRUE(Sent(store_, tw::csmgr::code::kTerm));
  EXPECT_FALSE(store_.shutDown());
}

TEST_F(TwmainTest, AnSnmpValueOutOfRangeIsReportedOnceAndLeavesSnmpOff) {
  SetSnmp("3");
  Server server(path(), true);
  ASSERT_TRUE(WaitUntil([&] { return server.Out().find("====>") != std::string::npos; }, 20000))
      << server.Out() << server.Err();
  EXPECT_EQ(TWIPCExists("TWSNMP_PIPE", 0), 0);
  server.CloseInput();
  EXPECT_EQ(server.Wait(20000), 0) << server.Err();
  EXPECT_EQ(Count(server.Err(), Text(4885)), 1u) << server.Err();
}

}  // namespace
