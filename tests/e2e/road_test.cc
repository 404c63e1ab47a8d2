// The whole road with real processes: an installation with Administrator and Log databases
// made by plexadm, twmain starting ctlstore, a due direct transfer taken and run by taskrun,
// its run logged, and twmain ending in order on "D" or on a signal; a running transfer closed
// from the console or closed or killed when the server stops.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "csmgr_wire.h"
#include "plat_test_util.h"
#include "platform.h"
#include "process_util.h"
#include "tw/coding.h"

namespace {

namespace fs = std::filesystem;
namespace wire = tw::csmgr;

constexpr char kServer[] = "ROAD";
constexpr int kWaitMs = 30000;

bool Within(int ms, const std::function<bool()>& pred) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// twmain started from the test's installation with its console on a pipe and its output in
// files; killed and reaped on every path.
class Twmain {
 public:
  explicit Twmain(const std::string& inst) : inst_(inst) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    int in[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_addopen(&fa, 1, (inst + "twmain.out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, (inst + "twmain.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&fa, inst.c_str());
    std::string program = inst + "twmain";
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PATH=" + inst);
    env.push_back("PLEXA_ROOT=" + inst + "ordex");
    std::vector<char*> argv = {program.data(), nullptr};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    input_ = in[1];
    EXPECT_GT(pid_, 0) << program;
  }
  ~Twmain() {
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
  }
  Twmain(const Twmain&) = delete;
  Twmain& operator=(const Twmain&) = delete;

  void Type(const std::string& text) {
    ::signal(SIGPIPE, SIG_IGN);
    if (input_ < 0) return;
    EXPECT_EQ(::write(input_, text.data(), text.size()), ssize_t(text.size()));
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // The exit code; -1 when it ended by a signal or still ran after timeoutMs.
  int Wait(int timeoutMs) {
    int code = -1;
    bool ended = Within(timeoutMs, [&] {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
      pid_ = -1;
      code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return true;
    });
    EXPECT_TRUE(ended) << "twmain did not end:\n" << Out() << Err();
    return code;
  }
  std::string Out() const { return twtest::ReadFile(inst_ + "twmain.out"); }
  std::string Err() const { return twtest::ReadFile(inst_ + "twmain.err"); }

 private:
  std::string inst_;
  pid_t pid_ = -1;
  int input_ = -1;
};

// How the activity's two links are made: their documents' items, and what the destination
// holds once the transfer ran.
struct Road {
  const char* name;
  const char* plugin;  // the connector, from the build's installation or its tests
  std::function<void(class RoadTest&)> links;
  std::function<std::string(class RoadTest&)> moved;
};

class RoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    build_ = twtest::BuildInstDir();
    for (const char* name : {"ctlstore", "twmain", "taskrun", "plexadm", "direct.twx"}) {
      std::error_code ec;
      fs::create_symlink(build_ + name, inst_ / name, ec);
      ASSERT_FALSE(ec) << name << ": " << ec.message();
    }
    fs::create_directories(inst_ / "ordex");
    twtest::WriteFile(
        inst_ / "twmain.ini",
        "[Configuration]\r\nVersion=23\r\nKitType=2\r\nTarnway=" + std::string(kServer) +
            "\r\nAdminServer=\r\nAdminDatabase=qtwadm.odx\r\nDirectory=" + inst_.path() +
            "\r\nSNMP=0\r\nDiagnostics=0\r\n");
    // This process shares the installation so that it can see the server's pipe and table.
    twtest::ScopedEnv path("PATH", inst_.path().c_str());
    TWPlatTerm();
    ASSERT_EQ(TWPlatInit((inst_ / "twmain").c_str()), TWSUCCESS);
  }
  void TearDown() override {
    // A control store left serving (after a signal) is asked to end.
    if (TWIPCExists(wire::kPipeName, 0)) {
      TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
      if (conn != nullptr) {
        uint8_t block[16] = {};
        tw::put_u32(block, wire::code::kShutdown);
        tw::put_u32(block + 4, sizeof block);
        uint32_t n = 0;
        int more = 0;
        if (TWIPCWrite(conn, block, sizeof block, &n))
          TWIPCRead(conn, block, sizeof block, &n, &more);
        TWIPCClose(conn);
      }
      EXPECT_TRUE(Within(kWaitMs, [] { return !TWIPCExists(wire::kPipeName, 0); }));
    }
    TWPlatTerm();
  }

 public:
  // plexadm against the installation's databases; its standard output.
  std::string Adm(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {inst_ / "plexadm"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PLEXA_ROOT=" + inst_.path() + "ordex");
    twtest::ProcessResult r = twtest::RunProgram(argv, env, inst_.path());
    EXPECT_EQ(r.exitCode, 0) << args[0] << " " << r.err;
    return r.out;
  }
  std::string path(const std::string& name) const { return inst_ / name; }

 protected:
  void MakeDatabases(const Road& road, int closeTimeout = 5) {
    Adm({"create", "qtwadm.odx", "--template", build_ + "QTWADM.OTM"});
    Adm({"create", "qtwlog.odx", "--template", build_ + "QTWLOG.OTM"});
    Adm({"new", "qtwadm.odx", "Configuration\\Administrator", "Name=Administrator",
         "LogDatabase=qtwlog.odx", "StatusInterval:number=5"});
    Adm({"new", "qtwadm.odx", "Configuration\\Server", std::string("Name=") + kServer,
         "PollInterval:number=1", "StatusInterval:number=5", "MaxDuration:number=60",
         "MaxActivities:number=2", "CloseTimeout:number=" + std::to_string(closeTimeout)});
    std::error_code ec;
    fs::copy_file(PluginPath(road), inst_ / road.plugin, ec);
    ASSERT_FALSE(ec) << road.plugin << ": " << ec.message();
    road.links(*this);
    activity_ = std::stoi(
        Adm({"new", "qtwadm.odx", "Activity\\Direct Transfer", "Name=Road", "SrcLink=RoadSource",
             "DestLink=RoadTarget", "RunASAP:number=1", "OneTime:number=1", "Overwrite:number=1"}));
  }
  fs::path PluginPath(const Road& road) const {
    fs::path built = fs::path(build_) / road.plugin;
    if (fs::exists(built)) return built;
    return fs::path(build_).parent_path().parent_path() / "tests" / road.plugin;
  }
  std::string ActivityLog() { return Adm({"export", "qtwlog.odx", "--form", "Activity"}); }
  // A run of the activity has ended and is logged.
  bool Logged() { return Has(ActivityLog(), "\"FinishTime\""); }

  twtest::TempDir inst_;
  std::string build_;
  int activity_ = 0;
};

// The test connector keeplink on both sides: the source has two rows, the destination one
// that the overwrite empties; each leaves its table in a file.
const Road kKeeplink = {
    "keeplink", "keeplink.twx",
    [](RoadTest& t) {
      t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=keeplink",
             "Rows=1,alpha;2,beta", "Metadata=SRC", "PropNameList:textlist=Rows,Metadata",
             "PropTokenList:numberlist=1,65541"});
      t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadTarget", "Library=keeplink",
             "Rows=9,old", "Metadata=DEST", "PropNameList:textlist=Rows,Metadata",
             "PropTokenList:numberlist=1,65541"});
    },
    [](RoadTest& t) { return twtest::ReadFile(t.path("keeplink.DEST.rows")); }};

// The text-file connector over two small files described by one ZID file.
const Road kFlatrec = {
    "flatrec", "flatrec.twx",
    [](RoadTest& t) {
      twtest::WriteFile(t.path("in.txt"), "1,alpha\n2,beta\n");
      twtest::WriteFile(t.path("rows.zid"), "ID TYPE NUMBER DELIM ,\nWORD TYPE TEXT\n");
      for (auto [name, file, kind] : {std::tuple{"RoadSource", "in.txt", "SOURCE"},
                                      std::tuple{"RoadTarget", "out.txt", "DESTINATION"}})
        t.Adm({"new", "qtwadm.odx", "Link\\Flatrec", std::string("Name=") + name,
               "Database=" + t.path(file), "ZID=@" + t.path("rows.zid"),
               std::string("Linktype=") + kind, "PropNameList:textlist=Database,ZID,Linktype",
               "PropTokenList:numberlist=65538,15,16"});
    },
    [](RoadTest& t) { return twtest::ReadFile(t.path("out.txt")); }};

// slowlink on both sides, its source never running dry: the run lasts until it is closed or
// killed. With "Deaf" the source's fetch outlasts CloseTimeout, so the run cannot close.
Road SlowRoad(bool deaf) {
  return {"slowlink", "slowlink.twx",
          [deaf](RoadTest& t) {
            if (deaf)
              t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=slowlink",
                     "Rows=1,alpha;2,beta", "Fail=Deaf", "PropNameList:textlist=Rows,Fail",
                     "PropTokenList:numberlist=1,4"});
            else
              t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadSource", "Library=slowlink",
                     "Rows=1,alpha;2,beta", "PropNameList:textlist=Rows",
                     "PropTokenList:numberlist=1"});
            t.Adm({"new", "qtwadm.odx", "Link\\Ordex", "Name=RoadTarget", "Library=slowlink",
                   "Rows=9,old", "PropNameList:textlist=Rows", "PropTokenList:numberlist=1"});
          },
          [](RoadTest&) { return std::string(); }};
}

class RoadCase : public RoadTest, public ::testing::WithParamInterface<const Road*> {};

TEST_P(RoadCase, ADueTransferRunsInTaskrunIsLoggedAndTheServerShutsDownOnD) {
  const Road& road = *GetParam();
  if (!fs::exists(PluginPath(road))) GTEST_SKIP() << road.plugin << " is not built";
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(road));

  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  std::string moved = road.moved(*this);
  EXPECT_TRUE(Has(moved, "alpha") && Has(moved, "beta") && !Has(moved, "old")) << moved;
  std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, "\"Activity\",\"type\":\"text\",\"value\":\"Road\"")) << log;
  EXPECT_TRUE(Has(log, "Activity started") && Has(log, "Activity finished")) << log;
  EXPECT_FALSE(Has(log, "Error")) << log;
  std::string out = server.Out();
  EXPECT_TRUE(Has(out, "Activity started 'Road'.")) << out;
  EXPECT_TRUE(Has(out, "Activity 'Road' completed successfully.")) << out;
  EXPECT_TRUE(Has(out, "Starting Shutdown...\nNormal Termination.\n")) << out;
  // The run is over: the activity is unlocked and no longer due at once.
  std::string doc = Adm({"export", "qtwadm.odx", "--form", "Activity\\Direct Transfer"});
  EXPECT_TRUE(Has(doc, "{\"name\":\"Lock\",\"type\":\"number\",\"value\":0.0}")) << doc;
  EXPECT_TRUE(Has(doc, "\"RanTime\"")) << doc;
  // The server took its control store and its table with it.
  EXPECT_FALSE(TWIPCExists(wire::kPipeName, 0));
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Links, RoadCase, ::testing::Values(&kKeeplink, &kFlatrec),
                         [](const auto& info) { return std::string(info.param->name); });

TEST_F(RoadTest, ASignalEndsTheServerWithSixAfterItsCleanup) {
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(kKeeplink));
  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); })) << server.Out() << server.Err();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(kWaitMs), 6);
  std::string err = server.Err();
  EXPECT_TRUE(Has(err,
                  "TWMAIN terminating because of signal 15, cleaning up.\n"
                  "TWMAIN termination cleanup successfull.\n"))
      << err;
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

// A run's time-out is not tried here: MaxDuration counts whole minutes, so the shortest the
// scheduler honours is one minute.

TEST_F(RoadTest, ACloseFromTheConsoleEndsTheRunAsClosedByUser) {
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(SlowRoad(false)));
  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Has(server.Out(), "Activity started 'Road'."); }))
      << server.Out() << server.Err();
  server.Type("C 1\n");
  ASSERT_TRUE(Within(kWaitMs, [&] { return Logged(); }))
      << server.Out() << server.Err() << ActivityLog();
  server.Type("D\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, "Activity Closed By User")) << log;
  std::string out = server.Out();
  EXPECT_TRUE(Has(out, "Activity 'Road' closed successfully (user request).")) << out;
  EXPECT_TRUE(Has(out, "Normal Termination.\n")) << out;
  std::string doc = Adm({"export", "qtwadm.odx", "--form", "Activity\\Direct Transfer"});
  EXPECT_TRUE(Has(doc, "{\"name\":\"Lock\",\"type\":\"number\",\"value\":0.0}")) << doc;
}

// Stopping the server with a run going: the run is asked to close and, when it cannot, killed
// once CloseTimeout has passed; either way the server ends in order.
struct StopCase {
  const char* name;
  bool deaf;
  const char* completion;  // as logged
  const char* message;     // on the console
};
void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class RoadStop : public RoadTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(RoadStop, StoppingTheServerEndsTheRunningActivityAndTheServer) {
  const StopCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(MakeDatabases(SlowRoad(c.deaf), 1));
  Twmain server(inst_.path());
  ASSERT_TRUE(Within(kWaitMs, [&] { return Has(server.Out(), "Activity started 'Road'."); }))
      << server.Out() << server.Err();
  server.Type("P\n");
  server.Type("Y\n");
  EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();

  std::string out = server.Out();
  EXPECT_TRUE(Has(out, c.message)) << out;
  EXPECT_TRUE(Has(out, "Normal Termination.\n")) << out;
  std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, c.completion)) << log;
  EXPECT_FALSE(TWIPCExists(wire::kPipeName, 0));
  TWProcShmem probe{};
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RoadStop,
    ::testing::Values(StopCase{"Closes", false, "Activity Closed During Stop",
                               "Activity 'Road' closed successfully (server is stopping)."},
                      StopCase{
                          "IgnoresTheClose", true, "Activity Killed During Stop",
                          "Activity 'Road' was killed (server is stopping, and could not close)."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
