// twmain end to end, as a child process against the fake control store of this process: runs
// of real taskrun processes with the test activity in a server without a console, stopped in
// order by SIGTERM, and the kit's systemd unit that runs it so; a second server stopped at
// the run table, another signal, and the SNMP switch of twmain.ini.
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

  void Signal(int sig) { child_.Signal(sig); }
  pid_t pid() const { return child_.pid(); }
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

// The running processes whose parent is parent and whose command name is name.
std::vector<pid_t> Children(pid_t parent, const std::string& name) {
  std::vector<pid_t> found;
  for (const twtest::RunningProcess& p : twtest::RunningProcesses())
    if (p.parent == parent && p.name == name) found.push_back(p.pid);
  return found;
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

// Started as a service manager starts it, with standard input at its end, the server serves
// on; SIGTERM is the console's stop: the runs that close are closed, the one that does not is
// killed after CloseTimeout, every completion is recorded, the server ends normally with 0
// and leaves no runner behind.
TEST_F(TwmainTest, WithoutAConsoleItServesUntilSigtermStopsItInOrder) {
  InstallRunner();
  twtest::FakeSettings settings;
  settings.maxActivities = 4;
  settings.closeTimeout = 1;
  store_.SetSettings(settings);
  struct Run {
    const char* name;
    int32_t mode;
    uint32_t completion;
  };
  const Run runs[] = {{"Good", 0, 0}, {"Closes", 2, 4150}, {"Deaf", 6, 4151}};
  for (const Run& r : runs) {
    twtest::AddTestActivity(store_, r.name, {{"Mode", 2, FakeValue::Number(r.mode)}});
    store_.QueueDue(r.name);
  }

  Server server(path(), false);
  std::vector<pid_t> runners;
  ASSERT_TRUE(WaitUntil(
      [&] {
        runners = Children(server.pid(), "taskrun");
        return store_.Done().size() == 1 && runners.size() == 2;
      },
      20000))
      << server.Out() << server.Err();
  std::string out = server.Out();
  EXPECT_EQ(out.find(Text(4364)), std::string::npos) << out;  // no "Starting Shutdown..."
  EXPECT_EQ(out.find(Text(4363)), std::string::npos) << out;  // nor waiting for the runs

  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(20000), 0) << server.Out() << server.Err();
  std::vector<std::pair<std::string, uint32_t>> done, expected;
  for (const auto& d : store_.Done()) done.emplace_back(d.activity, d.completion);
  for (const Run& r : runs) expected.emplace_back(r.name, r.completion);
  std::sort(done.begin(), done.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(done, expected);

  out = server.Out();
  EXPECT_EQ(out.rfind(Text(4353) + "\n", 0), 0u) << out;
  EXPECT_NE(out.find(Text(4367)), std::string::npos) << out;  // "Attempting to Stop ..."
  EXPECT_EQ(out.substr(out.size() - Text(4171).size() - 2), "\n" + Text(4171) + "\n");
  EXPECT_EQ(server.Err().find("terminating because of signal"), std::string::npos) << server.Err();
  for (pid_t runner : runners) EXPECT_NE(::kill(runner, 0), 0) << "runner " << runner << " lives";
  EXPECT_TRUE(store_.WaitForShutdown(5000));
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

// The kit's unit, filled in as the README says, is one systemd accepts, and starts the
// installation's twmain without a console and stops it by SIGTERM to twmain alone.
TEST_F(TwmainTest, TheServiceUnitIsOneSystemdAcceptsForTheInstalledServer) {
  if (::access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
  std::string unit = twtest::ReadFile(TW_SERVICE_UNIT);
  for (size_t at; (at = unit.find("@TWDIR@")) != std::string::npos;)
    unit.replace(at, 7, BuildInstDir());
  for (const char* line : {"StandardInput=null\n", "KillMode=mixed\n", "KillSignal=SIGTERM\n"})
    EXPECT_NE(unit.find(line), std::string::npos) << line;
  EXPECT_NE(unit.find("ExecStart=" + BuildInstDir() + "twmain\n"), std::string::npos) << unit;
  twtest::WriteFile(inst_ / "tarnway.service", unit);
  twtest::ProcessResult r =
      twtest::RunProgram({"/usr/bin/systemd-analyze", "verify", inst_ / "tarnway.service"},
                         twtest::InheritedEnv(), path());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.err.find("tarnway.service"), std::string::npos) << r.err;
}

// Signals other than SIGTERM keep their clean-up and exit code 6.
TEST_F(TwmainTest, ASignalCleansUpAndEndsWithSix) {
  Server server(path(), true);
  // The console shows its prompt once the scheduler has started.
  ASSERT_TRUE(WaitUntil([&] { return server.Out().find("====>") != std::string::npos; }, 20000))
      << server.Out() << server.Err();
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(20000), 6);
  std::string err = server.Err();
  EXPECT_NE(err.find("TWMAIN terminating because of signal 2, cleaning up.\n"
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
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(20000), 0) << server.Err();
  EXPECT_EQ(Count(server.Err(), Text(4885)), 1u) << server.Err();
}

}  // namespace
