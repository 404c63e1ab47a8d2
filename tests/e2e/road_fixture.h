// The road's fixture for tests that run real processes: an installation in a temporary
// directory with ctlstore, twmain, taskrun, plexadm and direct.twx from the build, its
// Administrator and Log databases made by plexadm, and twmain started with its console on a
// pipe, in a process group of its own that is ended whole on every path.
#ifndef TW_TESTS_E2E_ROAD_FIXTURE_H_
#define TW_TESTS_E2E_ROAD_FIXTURE_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "csmgr_wire.h"
#include "plat_test_util.h"
#include "platform.h"
#include "process_util.h"
#include "tw/coding.h"

namespace road {

namespace fs = std::filesystem;
namespace wire = tw::csmgr;

constexpr char kServer[] = "ROAD";
// The longest wait for an event, far beyond what a sanitizer build on a loaded machine needs.
constexpr int kWaitMs = 90000;

inline bool Within(int ms, const std::function<bool()>& pred) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Mixed records for the roads that carry a text file through a data source and back:
// integers, text with quotes and non-ASCII letters, amounts with two decimals, dates, and an
// empty note. The text connector writes its delimiter between records, so the file ends
// without one.
constexpr char kPeople[] =
    "1,Ada Quill,12.50,1815-12-10,first\n"
    "2,Bram O'Ster,0.99,1999-01-31,\n"
    "3,Cora Vance,1000.00,2026-12-09,caf\xC3\xA9 na\xC3\xAFve\n"
    "4,Dov Lenz,-7.25,1970-01-01,last one";
constexpr char kPeopleZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nNOTE TYPE TEXT\n";

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A process as /proc shows it: its name, state and process group; nullopt when it is gone.
struct ProcState {
  std::string name;
  char state = '?';
  pid_t group = 0;
};
inline std::optional<ProcState> Proc(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos) return std::nullopt;
  ProcState p;
  p.name = line.substr(open + 1, close - open - 1);
  std::istringstream rest(line.substr(close + 1));
  pid_t parent = 0;
  rest >> p.state >> parent >> p.group;
  return p;
}
// Whether pid still runs (a zombie, waiting for whoever reaps it, has ended).
inline bool Runs(pid_t pid) {
  auto p = Proc(pid);
  return p && p->state != 'Z' && p->state != 'X';
}
// The running processes of a process group, optionally only those of one program.
inline std::vector<pid_t> GroupMembers(pid_t group, const std::string& name = "") {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string id = entry.path().filename();
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = std::stoi(id);
    auto p = Proc(pid);
    if (p && p->group == group && p->state != 'Z' && p->state != 'X' &&
        (name.empty() || p->name == name))
      out.push_back(pid);
  }
  return out;
}

// twmain started from the test's installation with its console on a pipe and its output in
// files, leading a process group of its own, which the control store and the runners it
// starts join: the whole group is killed, and waited for, on every path.
class Twmain {
 public:
  explicit Twmain(const std::string& inst, const std::vector<std::string>& extraEnv = {})
      : inst_(inst) {
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
    // Appending: the control store appends its fallback lines to this same file, and a
    // stream that writes at its own offset would overwrite them.
    posix_spawn_file_actions_addopen(&fa, 2, (inst + "twmain.err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    posix_spawn_file_actions_addchdir_np(&fa, inst.c_str());
    std::string program = inst + "twmain";
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PATH=" + inst);
    env.push_back("PLEXA_ROOT=" + inst + "ordex");
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> argv = {program.data(), nullptr};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    if (::posix_spawn(&pid_, program.c_str(), &fa, &attr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    input_ = in[1];
    group_ = pid_;
    EXPECT_GT(pid_, 0) << program;
  }
  ~Twmain() {
    if (input_ >= 0) ::close(input_);
    Kill();
    if (group_ > 0) {
      // The control store and the runners outlive twmain's end; none may outlive the test.
      ::kill(-group_, SIGKILL);
      EXPECT_TRUE(Within(kWaitMs, [&] { return GroupMembers(group_).empty(); }))
          << "processes of the group of " << group_ << " still run";
    }
  }
  // Kills twmain alone, as a crash would end it, and reaps it.
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }
  // The running processes of the program name in twmain's group.
  std::vector<pid_t> Members(const std::string& name) const {
    return group_ > 0 ? GroupMembers(group_, name) : std::vector<pid_t>{};
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
  pid_t group_ = -1;
  int input_ = -1;
};

class RoadFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    // The run directories of this test's processes live apart, so that the test sees what
    // they leave there.
    tmpdir_.emplace("TMPDIR", runBase_.path().c_str());
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
  std::string ActivityLog() { return Adm({"export", logDb_, "--form", "Activity"}); }
  // plexadm against the installation's databases; its standard output.
  std::string Adm(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {adm_.empty() ? inst_ / "plexadm" : adm_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = twtest::InheritedEnv();
    env.push_back("PLEXA_ROOT=" + inst_.path() + "ordex");
    twtest::ProcessResult r = twtest::RunProgram(argv, env, inst_.path());
    EXPECT_EQ(r.exitCode, 0) << args[0] << " " << r.err;
    return r.out;
  }
  std::string path(const std::string& name) const { return inst_ / name; }

  // A link document of form ("Link\\Flatrec", ...) named name, with the items given.
  void AddLink(const std::string& form, const std::string& name, std::vector<std::string> items) {
    std::vector<std::string> args = {"new", adminDb_, form, "Name=" + name};
    args.insert(args.end(), items.begin(), items.end());
    Adm(args);
  }
  // A direct transfer that runs once, at once (a one-time activity with no scheduled time).
  void AddTransfer(const std::string& name, const std::string& src, const std::string& dest,
                   std::vector<std::string> items) {
    std::vector<std::string> args = {"new",
                                     adminDb_,
                                     "Activity\\Direct Transfer",
                                     "Name=" + name,
                                     "SrcLink=" + src,
                                     "DestLink=" + dest,
                                     "OneTime:number=1"};
    args.insert(args.end(), items.begin(), items.end());
    Adm(args);
  }
  // The runs logged as finished.
  int Finished() { return static_cast<int>(Count(ActivityLog(), "Activity finished")); }
  // The runs logged as ended, well or in error.
  int Ended() { return static_cast<int>(Count(ActivityLog(), "\"FinishTime\"")); }
  // The activity log with every occurrence of note taken out.
  std::string ActivityLogWithout(const std::string& note) {
    std::string log = ActivityLog();
    for (size_t at = log.find(note); at != std::string::npos; at = log.find(note))
      log.erase(at, note.size());
    return log;
  }

  // A text link named name on the file file of the installation, described by the ZID file
  // zid, of the Linktype kind.
  void TextLink(const std::string& name, const std::string& file, const std::string& zid,
                const std::string& kind) {
    AddLink(
        "Link\\Flatrec", name,
        {"Database=" + path(file), "ZID=@" + path(zid), "Linktype=" + kind,
         "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
  }

  // The ends of a road that carries kPeople through a data source and back: in.txt and
  // people.zid written, and the text links TextIn on in.txt and TextOut on out.txt.
  void PeopleLinks() {
    twtest::WriteFile(inst_ / "in.txt", kPeople);
    twtest::WriteFile(inst_ / "people.zid", kPeopleZid);
    TextLink("TextIn", "in.txt", "people.zid", "SOURCE");
    TextLink("TextOut", "out.txt", "people.zid", "DESTINATION");
  }

  // Texts that read as no finite number, each in a file of one record "K,V" behind a text
  // link BadN (N from 0); the link Good carries the record "1,2.5".
  static constexpr const char* kBeyondRange[] = {"nan", "inf", "-inf", "1e400", "-1e400"};
  void BeyondRangeLinks() {
    twtest::WriteFile(inst_ / "kv.zid", "K TYPE NUMBER DELIM ,\nV TYPE NUMBER\n");
    std::vector<std::pair<std::string, std::string>> files = {{"Good", "1,2.5"}};
    for (size_t i = 0; i < std::size(kBeyondRange); ++i)
      files.push_back({"Bad" + std::to_string(i), std::to_string(i + 2) + "," + kBeyondRange[i]});
    for (const auto& [name, record] : files) {
      twtest::WriteFile(inst_ / (name + ".txt"), record);
      TextLink(name, name + ".txt", "kv.zid", "SOURCE");
    }
  }
  // Carries Good, then each BadN, to the link dest (items added to each leg) under a server
  // with the environment env: the good record arrives, each bad one is refused as out of
  // range and its run ends in error.
  void ExpectBeyondRangeRefused(const std::string& dest, const std::vector<std::string>& items,
                                const std::vector<std::string>& env) {
    std::vector<std::vector<std::string>> legs;
    for (size_t i = 0; i <= std::size(kBeyondRange); ++i) {
      const std::string from = i == 0 ? "Good" : "Bad" + std::to_string(i - 1);
      legs.push_back({"To" + from, from, dest});
      legs.back().insert(legs.back().end(), items.begin(), items.end());
    }
    const std::string console = RunLegs(legs, env);
    EXPECT_TRUE(Has(console, "Activity 'ToGood' completed successfully.")) << console;
    for (size_t i = 0; i < std::size(kBeyondRange); ++i)
      EXPECT_TRUE(
          Has(console, "Activity 'ToBad" + std::to_string(i) + "' completed with an error."))
          << kBeyondRange[i] << "\n"
          << console;
    EXPECT_EQ(Count(ActivityLog(), "Data overflow in field 'V'"), std::size(kBeyondRange))
        << ActivityLog();
  }

  // Runs the direct transfers of legs ({name, source link, destination link, items...}) in
  // order under a twmain with the environment env, each defined once the one before has
  // ended, then shuts the server down; a leg that does not end fails the test. What the
  // server wrote on its console.
  std::string RunLegs(const std::vector<std::vector<std::string>>& legs,
                      const std::vector<std::string>& env) {
    Twmain server(inst_.path(), env);
    int done = 0;
    for (const auto& leg : legs) {
      AddTransfer(leg[0], leg[1], leg[2], {leg.begin() + 3, leg.end()});
      ++done;
      if (!Within(kWaitMs, [&] { return Ended() >= done; })) {
        ADD_FAILURE() << leg[0] << " did not finish\n"
                      << server.Out() << server.Err() << ActivityLog();
        break;
      }
    }
    server.Type("D\n");
    EXPECT_EQ(server.Wait(kWaitMs), 0) << server.Err();
    return server.Out();
  }

 protected:
  // The Administrator and Log databases with the Administrator and this server configured.
  void MakeDatabases(int closeTimeout = 5, int statusInterval = 5) {
    const std::string interval = "StatusInterval:number=" + std::to_string(statusInterval);
    Adm({"create", "qtwadm.odx", "--template", build_ + "QTWADM.OTM"});
    Adm({"create", "qtwlog.odx", "--template", build_ + "QTWLOG.OTM"});
    Adm({"new", "qtwadm.odx", "Configuration\\Administrator", "Name=Administrator",
         "LogDatabase=qtwlog.odx", interval});
    Adm({"new", "qtwadm.odx", "Configuration\\Server", std::string("Name=") + kServer,
         "PollInterval:number=1", interval, "MaxDuration:number=60", "MaxActivities:number=2",
         "CloseTimeout:number=" + std::to_string(closeTimeout)});
  }
#ifdef TW_CMAKE_COMMAND
  // The installation as a user makes it, in place of MakeDatabases and InstallPlugin: the
  // build's kit made by `cmake --install`, a cluster installed from it by the kit's setup,
  // and this server configured as MakeDatabases does; plexadm and plug-ins are the kit's. With
  // adminServer the cluster's databases go to that Ordex server, which the installation's
  // server map may hold in PostgreSQL.
  void InstallFromKit(int closeTimeout = 5, const std::string& adminServer = "") {
    for (const char* name :
         {"ctlstore", "twmain", "taskrun", "plexadm", "direct.twx", "twmain.ini"})
      fs::remove(inst_ / name);
    const std::string kit = kitBase_.path() + "kit/";
    std::string log;
    ASSERT_TRUE(twtest::InstallKit(kit, &log)) << log;
    std::vector<std::string> env = twtest::InheritedEnv();
    env.insert(env.end(), {"PATH=/usr/bin:/bin", "HOME=" + kitBase_.path()});
    twtest::ProcessResult r =
        twtest::RunProgram({kit + "setup", "INSTALLCLUSTER", "DIRECTORY=" + inst_.path(),
                            std::string("TARNWAY=") + kServer, "ADMINSERVER=" + adminServer,
                            "ADMINDATABASE=qtwadm.odx", "ADMINLOGDATABASE=qtwlog.odx"},
                           env, inst_.path(), "", 120000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    build_ = kit;
    adm_ = kit + "plexadm";
    if (!adminServer.empty()) {
      adminDb_ = adminServer + "!!qtwadm.odx";
      logDb_ = adminServer + "!!qtwlog.odx";
    }
    for (auto [item, value] : {std::pair{"PollInterval", 1},
                               {"StatusInterval", 5},
                               {"MaxDuration", 60},
                               {"MaxActivities", 2},
                               {"CloseTimeout", closeTimeout}})
      ASSERT_NO_FATAL_FAILURE(ServerSetting(item, value));
  }
#endif
  // Stores a number item of this server's configuration document.
  void ServerSetting(const std::string& item, int value) {
    std::string found = Adm({"search", adminDb_, std::string("select Name = '") + kServer + "'",
                             "--form", "Configuration\\Server"});
    const std::string member = found.substr(0, found.find('\t'));
    ASSERT_FALSE(member.empty()) << found;
    Adm({"put", adminDb_, member, item, "number", std::to_string(value)});
  }

  // A plug-in from the build's installation or, for the test plug-ins, its tests directory.
  fs::path PluginPath(const std::string& plugin) const {
    fs::path built = fs::path(build_) / plugin;
    if (fs::exists(built)) return built;
    return fs::path(build_).parent_path().parent_path() / "tests" / plugin;
  }
  void InstallPlugin(const std::string& plugin) {
    std::error_code ec;
    fs::copy_file(PluginPath(plugin), inst_ / plugin, ec);
    ASSERT_FALSE(ec) << plugin << ": " << ec.message();
  }

  // A run of the activity has ended and is logged.
  bool Logged() {
    return Has(ActivityLog(), "\"FinishTime\"");
  }
  // The processes whose run reached slowlink's fetching, in order.
  std::vector<pid_t> Fetching() {
    std::vector<pid_t> pids;
    std::istringstream lines(twtest::ReadFile(path("slowlink.fetching")));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) pids.push_back(std::stoi(line));
    return pids;
  }
  // Whether nothing is left in the run directories' base: every process that ended in order
  // took its files and directories with it.
  bool RunDirectoriesGone() {
    std::error_code ec;
    return fs::is_empty(runBase_.path(), ec) && !ec;
  }
  // Moves the control store's clock on by minutes (an AdjustClock request); its status.
  uint32_t MoveStoreClock(int32_t minutes) {
    uint8_t block[wire::adjust_clock::kMinLength] = {};
    tw::put_u32(block, wire::code::kAdjustClock);
    tw::put_u32(block + 4, sizeof block);
    tw::put_i32(block + wire::adjust_clock::kAdjustment + 20, minutes);
    TWIPC* conn = TWIPCOpen(wire::kPipeName, 0);
    if (conn == nullptr) return TWFAIL_CSMGR_UNREACHABLE;
    uint32_t n = 0;
    int more = 0;
    bool ok = TWIPCWrite(conn, block, sizeof block, &n) &&
              TWIPCRead(conn, block, sizeof block, &n, &more) && n == sizeof block;
    TWIPCClose(conn);
    return ok ? tw::get_u32(block + 12) : TWFAIL_CSMGR_COMMUNICATION;
  }

  twtest::TempDir runBase_;
  std::optional<twtest::ScopedEnv> tmpdir_;
  twtest::TempDir inst_;
  std::string build_;
  twtest::TempDir kitBase_;
  std::string adm_;  // plexadm when it is not the installation's
  // The Administrator and Log databases as plexadm names them.
  std::string adminDb_ = "qtwadm.odx";
  std::string logDb_ = "qtwlog.odx";
};

}  // namespace road

#endif  // TW_TESTS_E2E_ROAD_FIXTURE_H_
