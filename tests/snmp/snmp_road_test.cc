// The SNMP road end to end: twmain with "SNMP" 2 against the fake control store, a real snmpd
// (own configuration, loopback), esaproxy as its AgentX sub-agent and mibagent. snmpget and
// snmpwalk read the server and its runs; snmpset kills a run, brings twmain down and starts it
// again, and the server it started outlives a restart of the sub-agent; with "SNMP" 1 every
// set is refused; a slow answer of the server delays SNMP without taking it down. Skipped
// where snmpd or esaproxy is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "activity_test_util.h"
#include "catalogue.h"
#include "csmgr_wire.h"
#include "fake_ctlstore.h"
#include "platform.h"
#include "process_util.h"

namespace {

namespace fs = std::filesystem;
using twtest::BuildInstDir;
using twtest::ChildProcess;
using twtest::WaitUntil;

constexpr int kWaitMs = 30000;
constexpr char kRoot[] = "1.3.6.1.4.1.818181.72.11";
constexpr char kSnmpd[] = "/usr/sbin/snmpd";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool IsSocket(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The running processes started as program (their first argument), whoever started them.
std::vector<pid_t> ProgramPids(const std::string& program) {
  std::vector<pid_t> found;
  for (const twtest::RunningProcess& p : twtest::RunningProcesses())
    if (p.program == program) found.push_back(p.pid);
  return found;
}

class SnmpRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kSnmpd, X_OK) != 0 || ::access("/usr/bin/snmpset", X_OK) != 0 ||
        !fs::exists(BuildInstDir() + "esaproxy"))
      GTEST_SKIP() << "snmpd, net-snmp's tools or esaproxy are not there";
    ASSERT_NO_FATAL_FAILURE(NewStore());
    std::error_code ec;
    for (const char* program : {"twmain", "taskrun"}) {
      fs::create_symlink(BuildInstDir() + program, inst_ / program, ec);
      ASSERT_FALSE(ec) << ec.message();
    }
    fs::path tests = fs::read_symlink("/proc/self/exe", ec).parent_path();
    fs::copy_file(tests / "testact.twx", inst_ / "testact.twx", ec);
    ASSERT_FALSE(ec) << ec.message();
    SetSnmp("2");
    env_ = {"PATH=" + path()};
    for (const std::string& e : twtest::InheritedEnv()) env_.push_back(e);
  }
  void TearDown() override {
    mibagent_.Stop(kWaitMs);
    // The test's twmain, and the one the sub-agent started, which lives on its own: both are
    // stopped in order, and killed when they do not end.
    twmain_.Stop(kWaitMs);
    const std::string program = path() + "twmain";
    for (pid_t pid : ProgramPids(program)) ::kill(pid, SIGTERM);
    if (!WaitUntil([&] { return ProgramPids(program).empty(); }, kWaitMs)) {
      ADD_FAILURE() << "twmain did not end on SIGTERM";
      for (pid_t pid : ProgramPids(program)) ::kill(pid, SIGKILL);
    }
    EXPECT_TRUE(WaitUntil([] { return TWIPCExists("TWSNMP_PIPE", 0) == 0; }, kWaitMs));
    esaproxy_.Stop(kWaitMs);
    snmpd_.Stop(kWaitMs);
  }
  // A control store for the next twmain: one that went down with its server serves no more.
  void NewStore() {
    store_.reset();
    store_ = std::make_unique<twtest::FakeCtlstore>();
    ASSERT_TRUE(store_->serving());
    twtest::FakeSettings settings;
    settings.maxActivities = 4;
    settings.pollInterval = 1;  // a run queued later starts at once
    store_->SetSettings(settings);
  }
  std::string path() const { return inst_.path(); }
  std::string File(const std::string& name) const { return twtest::ReadFile(path() + name); }
  void SetSnmp(const std::string& value) {
    twtest::WriteFile(inst_ / "twmain.ini",
                      "[Configuration]\r\nDirectory=" + path() + "\r\nSNMP=" + value + "\r\n");
  }

  // snmpd with its own configuration on a free loopback port, ready once its AgentX socket is.
  void StartSnmpd() {
    std::string dir = path() + "snmpd/";
    fs::create_directories(dir + "p");
    port_ = twtest::FreeLoopbackPort(SOCK_DGRAM);
    twtest::WriteFile(dir + "snmpd.conf",
                      "master agentx\nagentXSocket unix:" + dir + "agentx.sock\n" +
                          "agentaddress udp:127.0.0.1:" + std::to_string(port_) + "\n" +
                          "rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n" +
                          "persistentDir " + dir + "p\n");
    ASSERT_TRUE(snmpd_.Start({kSnmpd, "-f", "-C", "-c", dir + "snmpd.conf", "-Lf", dir + "log",
                              "-p", dir + "pid"},
                             env_, "", false));
    agentx_ = dir + "agentx.sock";
    ASSERT_TRUE(WaitUntil([&] { return IsSocket(agentx_); }, kWaitMs)) << File("snmpd/log");
  }
  void StartEsaproxy() {
    ASSERT_TRUE(esaproxy_.StartWithFiles({BuildInstDir() + "esaproxy", "-x", agentx_, "-D", "1"},
                                         env_, "", false, path() + "esaproxy.out",
                                         path() + "esaproxy.err"));
    ASSERT_TRUE(WaitUntil([&] { return Has(File("esaproxy.err"), "subagent connected"); },
                          kWaitMs))
        << File("esaproxy.out") << File("esaproxy.err");
  }
  void StartMibagent() {
    ASSERT_TRUE(mibagent_.StartWithFiles({BuildInstDir() + "mibagent", "-D", "1"}, env_, "", false,
                                         path() + "mibagent.out", path() + "mibagent.err"));
    ASSERT_TRUE(
        WaitUntil([&] { return Has(File("mibagent.out"), tw::message_text(TWMSG_SNMP_STARTED)); }, kWaitMs))
        << File("mibagent.out");
  }
  void StartTwmain() {
    ASSERT_TRUE(twmain_.StartWithFiles({path() + "twmain"}, env_, "", true, path() + "twmain.out",
                                       path() + "twmain.err"));
    ASSERT_TRUE(WaitUntil([] { return TWIPCExists("TWSNMP_PIPE", 0) != 0; }, kWaitMs))
        << File("twmain.out") << File("twmain.err");
  }

  // An SNMP tool of net-snmp against the test's snmpd; its output and errors.
  std::string Snmp(const std::string& tool, const std::string& community,
                   const std::vector<std::string>& args, int timeoutSeconds = 5) {
    const std::string timeout = std::to_string(timeoutSeconds);
    std::vector<std::string> argv = {"/usr/bin/" + tool,
                                     "-v2c",
                                     "-c",
                                     community,
                                     "-On",
                                     "-t",
                                     timeout,
                                     "-r",
                                     "0",
                                     "127.0.0.1:" + std::to_string(port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    twtest::ProcessResult r = twtest::RunProgram(argv, {"MIBS="}, "", "", kWaitMs);
    return r.out + r.err;
  }
  std::string Get(const std::string& suffix) {
    return Snmp("snmpget", "public", {std::string(kRoot) + "." + suffix});
  }
  std::string SetInt(const std::string& suffix, int v) {
    return Snmp("snmpset", "private", {std::string(kRoot) + "." + suffix, "i", std::to_string(v)});
  }

  twtest::Installation inst_;
  std::unique_ptr<twtest::FakeCtlstore> store_;
  std::vector<std::string> env_;
  int port_ = 0;
  std::string agentx_;
  ChildProcess snmpd_, esaproxy_, mibagent_, twmain_;
};

TEST_F(SnmpRoadTest, SnmpReadsTheServerAndStartsDownsAndKillsThroughTheSubAgent) {
  StartSnmpd();
  StartEsaproxy();
  StartTwmain();
  StartMibagent();

  std::string got = Get("2.1.4.0");
  EXPECT_TRUE(Has(got, "INTEGER: 1")) << got;
  got = Get("2.1.1.0");
  EXPECT_TRUE(Has(got, "STRING: \"Tarnway/Test\"")) << got;
  got = Get("2.1.3.0");
  EXPECT_TRUE(Has(got, "STRING: \"Release 2.0\"")) << got;

  // A run that does not end by itself is listed, then killed by its row.
  twtest::AddTestActivity(*store_, "Held", {{"Mode", 2, twtest::FakeValue::Number(6)}});
  store_->QueueDue("Held");
  std::string walk;
  ASSERT_TRUE(WaitUntil(
      [&] {
        walk = Snmp("snmpwalk", "public", {std::string(kRoot) + ".2.1.12"});
        return Has(walk, "STRING: \"Held\"");
      },
      kWaitMs))
      << walk;
  EXPECT_TRUE(Has(walk, std::string(kRoot) + ".2.1.12.1.5.1 = INTEGER: 0")) << walk;
  got = SetInt("2.1.12.1.5.1", 2);
  EXPECT_TRUE(Has(got, "INTEGER: 2")) << got;
  ASSERT_TRUE(WaitUntil([&] { return store_->Done().size() == 1; }, kWaitMs));

  // Down: twmain's process ends.
  got = SetInt("1.1.0", 2);
  EXPECT_TRUE(Has(got, "INTEGER: 2")) << got;
  EXPECT_EQ(twmain_.WaitExit(kWaitMs), 0) << File("twmain.out") << File("twmain.err");
  EXPECT_TRUE(store_->WaitForShutdown(kWaitMs));
  NewStore();
  // Start: the sub-agent runs twmain again, which serves the pipe and reports running.
  EXPECT_TRUE(WaitUntil([] { return TWIPCExists("TWSNMP_PIPE", 0) == 0; }, kWaitMs));
  got = SetInt("1.1.0", 1);
  EXPECT_TRUE(Has(got, "INTEGER: 1")) << got;
  ASSERT_TRUE(WaitUntil([] { return TWIPCExists("TWSNMP_PIPE", 0) != 0; }, kWaitMs))
      << File("mibagent.out") << File("mibagent.err") << File("twmain.err");
  ASSERT_TRUE(WaitUntil([&] { return Has(Get("2.1.4.0"), "INTEGER: 1"); }, kWaitMs));
  // Read-only objects and bad values.
  EXPECT_TRUE(Has(SetInt("2.1.4.0", 2), "notWritable"));
  EXPECT_TRUE(Has(SetInt("1.1.0", 1), "wrongValue"));  // it runs already

  // The server the sub-agent started lives on its own: a restart of the sub-agent leaves it
  // serving. "SNMP" 1: the sub-agent, started anew, refuses every set and still answers gets.
  const std::vector<pid_t> started = ProgramPids(path() + "twmain");
  ASSERT_EQ(started.size(), 1u);
  mibagent_.Stop(kWaitMs);
  SetSnmp("1");
  StartMibagent();
  got = SetInt("1.1.0", 1);
  EXPECT_TRUE(Has(got, "notWritable")) << got;
  got = Get("2.1.4.0");
  EXPECT_TRUE(Has(got, "INTEGER: 1")) << got;
  EXPECT_EQ(ProgramPids(path() + "twmain"), started);
}

// One answer of the server slowed down (its control store slow to tell the time): five
// seconds delay that SNMP answer; longer than snmpd waits, the request fails alone. Either
// way the sub-agent stays attached and SNMP answers again at once, not only after the
// sub-agent's half a minute of waiting to attach again.
TEST_F(SnmpRoadTest, ASlowServerDelaysAnswersAndDoesNotTakeSnmpDown) {
  StartSnmpd();
  StartEsaproxy();
  StartTwmain();
  StartMibagent();
  struct Case {
    int slowSeconds;
    const char* answer;
  };
  for (const Case c : {Case{5, "INTEGER: 1"}, Case{9, "genError"}}) {
    SCOPED_TRACE(c.slowSeconds);
    std::atomic<bool> slowed{false};
    store_->TamperReply(tw::csmgr::code::kTime, [&, c](std::string&) {
      if (!slowed.exchange(true)) std::this_thread::sleep_for(std::chrono::seconds(c.slowSeconds));
    });
    // The sub-agent refreshes its state from the server at least ten seconds after the last
    // time: until the slowed reply comes, the answers come from its cache.
    std::string got;
    ASSERT_TRUE(WaitUntil(
        [&] {
          got = Snmp("snmpget", "public", {std::string(kRoot) + ".2.1.4.0"}, 20);
          return slowed.load();
        },
        kWaitMs));
    EXPECT_TRUE(Has(got, c.answer)) << got;
    store_->TamperReply(tw::csmgr::code::kTime, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return Has(Get("2.1.1.0"), "STRING: \"Tarnway/Test\""); }, 10000))
        << File("esaproxy.out");
    EXPECT_FALSE(Has(File("esaproxy.out") + File("esaproxy.err"), "Sub-agent dropped"))
        << File("esaproxy.out") << File("esaproxy.err");
  }
}

}  // namespace
