// A cluster of two hosts joined by nothing but PostgreSQL: two installations made from the
// kit by its setup (the cluster, then a server that joins it), each twmain with its control
// store in network, mount and process namespaces of its own, made with unshare, with a
// private /tmp (its run directories, pipes and message tables) and its own loopback. Their
// data roots map the server "cluster" to the test command's PostgreSQL through its socket
// directory, which a path reaches from any network namespace. Where namespaces cannot be
// made the namespaced cases skip, and the same cases run both servers in the namespaces of
// the test, each with its own run directory base.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "plat_test_util.h"
#include "process_util.h"
#include "store_fixture.h"

namespace {

namespace fs = std::filesystem;

enum class Hosts { kOwnNamespaces, kSharedNamespaces };

std::string HostsName(const ::testing::TestParamInfo<Hosts>& info) {
  return info.param == Hosts::kOwnNamespaces ? "OwnNamespaces" : "SharedNamespaces";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A time seconds ago as plexadm's JSON lines write it (in UTC).
std::string JsonTimeAgo(int64_t secondsAgo) {
  const time_t when = ::time(nullptr) - static_cast<time_t>(secondsAgo);
  struct tm parts {};
  ::gmtime_r(&when, &parts);
  char text[40];
  ::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.00+00", &parts);
  return text;
}

// The longest wait for an event: a status interval (a minute) and far beyond what a loaded
// machine needs for the rest.
constexpr int kWaitMs = 150000;

// What /proc tells of a process: its process group and its network namespace.
pid_t GroupOf(pid_t pid) {
  std::string stat = twtest::ProcFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  char state = 0;
  long parent = 0, group = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &parent, &group) != 3) return -1;
  return static_cast<pid_t>(group);
}
std::string NamespaceOf(pid_t pid) {
  std::error_code ec;
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/ns/net", ec).string();
}

// Whether unshare makes network, mount and process namespaces here: "" when it does, else
// why not.
std::string NamespacesRefused() {
  twtest::ProcessResult r = twtest::RunProgram(
      {"/usr/bin/unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc", "--propagation",
       "private", "/bin/sh", "-c", "ip link set lo up && mount -t tmpfs tmpfs /tmp"},
      {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, "/");
  if (r.exitCode == 0) return "";
  return "unshare cannot make network, mount and process namespaces here (exit " +
         std::to_string(r.exitCode) + "): " + r.err;
}

class ClusterHostsTest : public ::testing::TestWithParam<Hosts> {
 protected:
  // One host: its installation, its private /tmp, and its running twmain.
  struct Host {
    std::string name;
    std::string inst;  // installation directory, ending in "/"
    std::string tmp;   // what its processes see as /tmp (their run directory base)
    std::unique_ptr<twtest::ChildProcess> process;  // unshare, or twmain itself
    pid_t server = -1;                              // twmain, leading the host's group
    std::string space;                              // its network namespace
    std::string logBefore;  // its server log's note ID before it was started
  };

  void SetUp() override {
    const char* pg = std::getenv("TW_PG_DIR");
    if (pg == nullptr || *pg == '\0' || std::getenv("TW_PG_PORT") == nullptr)
      GTEST_SKIP() << "no PostgreSQL cluster with a socket directory (TW_PG_DIR, TW_PG_PORT)";
    pgDir_ = fs::canonical(pg).string();
    if (GetParam() == Hosts::kOwnNamespaces) {
      const std::string why = NamespacesRefused();
      if (!why.empty()) GTEST_SKIP() << why;
    }
    base_ = root_.path();
    kit_ = base_ + "kit/";
    out_ = base_ + "out/";
    fs::create_directories(out_);
    std::string log;
    ASSERT_TRUE(twtest::InstallKit(kit_, &log)) << log;
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(storetest::Engine::kPostgres, base_));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    // The socket directory, not the loopback: a host's loopback is its own.
    const std::string map = "cluster host=" + pgDir_ + " port=" + std::getenv("TW_PG_PORT") +
                            " user=tw dbname=" + store_.dbname() + "\n";
    for (auto [h, name, dir] :
         {std::tuple{&hosts_[0], "ALPHA", "alpha"}, {&hosts_[1], "BETA", "beta"}}) {
      h->name = name;
      h->inst = base_ + dir + "/";
      h->tmp = base_ + dir + ".tmp/";
    }
    for (Host& h : hosts_) {
      fs::create_directories(h.inst + "ordex");
      fs::create_directories(h.tmp);
      twtest::WriteFile(h.inst + "ordex/servers.map", map);
    }
    ASSERT_NO_FATAL_FAILURE(Setup(hosts_[0], "INSTALLCLUSTER"));
    ASSERT_NO_FATAL_FAILURE(Setup(hosts_[1], "INSTALLSERVER"));
    // A minute between statuses, the shortest the configuration has; polls every second.
    Adm(hosts_[0], {"put", kAdmin, AdminDocument(), "StatusInterval", "number", "1"});
    for (Host& h : hosts_) {
      const std::string id = ServerDocument(h);
      ASSERT_FALSE(id.empty()) << h.name;
      for (auto [item, value] : {std::pair{"PollInterval", "1"},
                                 {"StatusInterval", "1"},
                                 {"MaxDuration", "60"},
                                 {"MaxActivities", "4"},
                                 {"CloseTimeout", "5"}})
        Adm(h, {"put", kAdmin, id, item, "number", value});
    }
  }

  void TearDown() override {
    for (Host& h : hosts_) Kill(h);
  }

  // setup from the kit: the cluster (INSTALLCLUSTER) or a server joining it (INSTALLSERVER),
  // its databases on the server "cluster".
  void Setup(const Host& h, const std::string& what) {
    twtest::ProcessResult r = twtest::RunProgram(
        {kit_ + "setup", what, "DIRECTORY=" + h.inst, "TARNWAY=" + h.name, "ADMINSERVER=cluster",
         "ADMINDATABASE=qtwadm.odx", "ADMINLOGDATABASE=qtwlog.odx"},
        {"PATH=/usr/bin:/bin", "HOME=" + base_, "TMPDIR=" + h.tmp}, base_, "", 120000);
    ASSERT_EQ(r.exitCode, 0) << what << " " << h.name << "\n" << r.out << r.err;
  }

  // plexadm of the kit on h's data root; its standard output (a failure is the test's).
  std::string Adm(const Host& h, const std::vector<std::string>& args, const std::string& in = "") {
    std::vector<std::string> argv = {kit_ + "plexadm", "--root", h.inst + "ordex"};
    argv.insert(argv.end(), args.begin(), args.end());
    twtest::ProcessResult r =
        twtest::RunProgram(argv, {"PATH=/usr/bin:/bin", "TMPDIR=" + h.tmp}, base_, in, 60000);
    EXPECT_EQ(r.exitCode, 0) << args[0] << " " << (args.size() > 2 ? args[2] : "") << ": " << r.err;
    return r.out;
  }
  std::string Adm(const std::vector<std::string>& args, const std::string& in = "") {
    return Adm(hosts_[0], args, in);
  }
  // The note ID of the first document that a search finds ("" for none).
  std::string Find(const std::string& db, const std::string& formula, const std::string& form) {
    const std::string found = Adm({"search", db, formula, "--form", form});
    return found.substr(0, found.find('\t'));
  }
  std::string AdminDocument() { return Find(kAdmin, "select 1", "Configuration\\Administrator"); }
  std::string ServerDocument(const Host& h) {
    return Find(kAdmin, "select Name = '" + h.name + "'", "Configuration\\Server");
  }
  // The text of item in the document id of the Administrator database ("" when it has none).
  std::string Item(const std::string& id, const std::string& item) {
    std::istringstream lines(Adm({"show", kAdmin, id}));
    bool at = false;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("item\t", 0) == 0) {
        at = line.rfind("item\t" + item + "\t", 0) == 0;
        continue;
      }
      if (at && line.rfind("  ", 0) == 0) return line.substr(2);
    }
    return "";
  }

  // Starts h's twmain: in namespaces of its own (a private /tmp holding only the test's
  // directory and PostgreSQL's socket directory from the machine's) or in the test's, as the
  // leader of a process group that its control store and runners join.
  void Start(Host& h) {
    h.logBefore = Item(ServerDocument(h), "LogID");
    std::vector<std::string> env = twtest::InheritedEnv();
    std::erase_if(env, [](const std::string& e) { return e.rfind("TMPDIR=", 0) == 0; });
    env.insert(env.end(), {"PATH=" + h.inst + ":/usr/sbin:/usr/bin:/sbin:/bin",
                           "PLEXA_ROOT=" + h.inst + "ordex", "HOME=" + base_});
    std::vector<std::string> argv;
    if (GetParam() == Hosts::kOwnNamespaces) {
      env.push_back("TMPDIR=/tmp");
      // Each kept directory is bound at its place in the private /tmp before that covers
      // the machine's; a kept directory outside /tmp stays as it is.
      const std::string script =
          "set -e\n"
          "ip link set lo up\n"
          "priv=$1; inst=$2; shift 2\n"
          "for d in \"$@\"; do\n"
          "  case $d in /tmp/*) mkdir -p \"$priv${d#/tmp}\"; mount --bind \"$d\" "
          "\"$priv${d#/tmp}\";; esac\n"
          "done\n"
          "mount --rbind \"$priv\" /tmp\n"
          "cd \"$inst\"\n"
          "exec setsid \"${inst}twmain\"\n";
      // twmain is the first process of its process namespace, as in a container of its own:
      // when it ends, everything it started ends with it.
      argv = {"/usr/bin/unshare",
              "--net",
              "--mount",
              "--pid",
              "--fork",
              "--kill-child",
              "--mount-proc",
              "--propagation",
              "private",
              "/bin/sh",
              "-c",
              script,
              "host",
              h.tmp,
              h.inst,
              pgDir_,
              base_};
    } else {
      env.push_back("TMPDIR=" + h.tmp);
      argv = {"/usr/bin/setsid", h.inst + "twmain"};
    }
    h.process = std::make_unique<twtest::ChildProcess>();
    ASSERT_TRUE(h.process->StartWithFiles(argv, env, h.inst, true, h.inst + "twmain.out",
                                          h.inst + "twmain.err"))
        << h.name;
    // twmain leads a process group of its own: it is the started process itself, or the
    // child of unshare.
    const pid_t started = h.process->pid();
    ASSERT_TRUE(twtest::WaitUntil(
        [&] {
          for (const twtest::RunningProcess& p : twtest::RunningProcesses())
            if ((p.pid == started || p.parent == started) && p.name == "twmain" &&
                GroupOf(p.pid) == p.pid)
              h.server = p.pid;
          return h.server > 0 || !h.process->Alive();
        },
        kWaitMs))
        << h.name;
    ASSERT_GT(h.server, 0) << h.name << " did not start\n" << Output(h);
    h.space = NamespaceOf(h.server);
  }

  // The processes of h that still run: those of its group and, with namespaces, every one of
  // its network namespace.
  std::vector<pid_t> Running(const Host& h) {
    std::vector<pid_t> found;
    if (h.server <= 0) return found;
    for (const twtest::RunningProcess& p : twtest::RunningProcesses())
      if (GroupOf(p.pid) == h.server ||
          (GetParam() == Hosts::kOwnNamespaces && NamespaceOf(p.pid) == h.space))
        found.push_back(p.pid);
    return found;
  }

  // Kills every process of h at once, as a host that loses its power ends them, and waits
  // until none is left.
  void Kill(Host& h) {
    if (h.server > 0) {
      ::kill(-h.server, SIGKILL);
      EXPECT_TRUE(twtest::WaitUntil(
          [&] {
            for (pid_t pid : Running(h)) ::kill(pid, SIGKILL);
            return Running(h).empty();
          },
          kWaitMs))
          << h.name << " left processes behind";
    }
    if (h.process) h.process->Kill();
    h.process.reset();
    h.server = -1;
  }

  std::string Output(const Host& h) {
    return twtest::ReadFile(h.inst + "twmain.out") + twtest::ReadFile(h.inst + "twmain.err");
  }
  std::string Outputs() {
    std::string all;
    for (const Host& h : hosts_) all += "--- " + h.name + "\n" + Output(h);
    return all;
  }

  // Whether h's server has registered in the cluster since it was started: its document
  // says it runs, with the server log that this start opened.
  bool Registered(const Host& h) {
    const std::string id = ServerDocument(h);
    const std::string log = Item(id, "LogID");
    return Item(id, "ServerStatus") == "2" && !log.empty() && log != "0" && log != h.logBefore;
  }

  // A command activity named name running statement, with the schedule items given.
  void CommandActivity(const std::string& name, const std::string& statement,
                       const std::vector<std::string>& schedule) {
    std::vector<std::string> args = {"new", kAdmin, "Activity\\Command", "Name=" + name,
                                     "Statement=" + statement};
    args.insert(args.end(), schedule.begin(), schedule.end());
    Adm(args);
  }
  // The schedule items of an activity repeating every minutes.
  static std::vector<std::string> Repeating(int minutes) {
    return {"OneTime:number=0", "RepeatInterval:number=" + std::to_string(minutes),
            "RepeatScope:number=1"};
  }
  // A statement that writes "start SECONDS" to file, runs work, then writes "end".
  static std::string Stamped(const std::string& file, const std::string& work) {
    return "echo start $(date +%s) >> '" + file + "'; " + work + "; echo end >> '" + file + "'";
  }
  // The start times of the runs that file shows, each run ended before the next started (the
  // first may have been cut off by a kill when cut is set).
  static std::vector<long> Starts(const std::string& file, bool cut = false) {
    std::vector<long> starts;
    std::istringstream lines(twtest::ReadFile(file));
    bool open = false;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("start ", 0) == 0) {
        EXPECT_TRUE(!open || (cut && starts.size() == 1)) << "two runs at once in " << file;
        open = true;
        starts.push_back(std::stol(line.substr(6)));
      } else {
        EXPECT_EQ(line, "end") << file;
        EXPECT_TRUE(open) << file;
        open = false;
      }
    }
    return starts;
  }
  // Whether no run of an activity repeating every minute, made at the second made, came
  // before its due time: the first due time is when the queue first saw the activity, each
  // run takes the next one, a minute after the one before, so that the k-th run (from 0)
  // starts k minutes after made at the least. A due time run twice would make a later run
  // come early; a run may come late (while the runners are busy).
  static ::testing::AssertionResult NoneAhead(const std::vector<long>& starts, long made) {
    for (size_t k = 0; k < starts.size(); ++k)
      if (starts[k] < made + static_cast<long>(60 * k))
        return ::testing::AssertionFailure()
               << "run " << k + 1 << " started " << starts[k] - made << " s after it was made";
    return ::testing::AssertionSuccess();
  }

  // The runs of the activity name that the Log database holds as finished well.
  int LoggedRuns(const std::string& log, const std::string& name) {
    int n = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
      if (Has(line, "\"value\":\"" + name + "\"") && Has(line, "Activity finished")) ++n;
    return n;
  }
  std::string ActivityLog() { return Adm({"export", kLog, "--form", "Activity"}); }

  static constexpr const char* kAdmin = "cluster!!qtwadm.odx";
  static constexpr const char* kLog = "cluster!!qtwlog.odx";

  twtest::TempDir root_;
  std::string base_, kit_, out_, pgDir_;
  storetest::Store store_;
  std::array<Host, 2> hosts_;
};

// Both servers serving: 50 one-time activities due at the same moment each run exactly once
// (their own output and the Log database say so), and activities repeating every minute run
// once for each due time, never two runs of one at a time.
TEST_P(ClusterHostsTest, DueActivitiesRunOnceOnOneOfTwoHosts) {
  for (Host& h : hosts_) ASSERT_NO_FATAL_FAILURE(Start(h));
  for (Host& h : hosts_)
    ASSERT_TRUE(twtest::WaitUntil([&] { return Registered(h); }, kWaitMs)) << h.name << "\n"
                                                                           << Outputs();
  // Each host's run directories are in its own /tmp.
  for (const Host& h : hosts_)
    EXPECT_TRUE(fs::is_directory(h.tmp + "tarnway-" + std::to_string(::getuid()))) << h.name;

  // Due a little ahead, so that both servers find them due together.
  constexpr int kOnce = 50, kRepeating = 3, kRuns = 2;
  const std::string at = JsonTimeAgo(-20);
  for (int i = 0; i < kOnce; ++i) {
    const std::string name = "Once" + std::to_string(i);
    CommandActivity(name, "echo ran >> '" + out_ + name + "'",
                    {"OneTime:number=1", "StartDate:time=" + at});
  }
  const long made = static_cast<long>(::time(nullptr));
  for (int i = 0; i < kRepeating; ++i) {
    const std::string name = "Every" + std::to_string(i);
    CommandActivity(name, Stamped(out_ + name, "sleep 0.2"), Repeating(1));
  }

  ASSERT_TRUE(twtest::WaitUntil(
      [&] {
        const std::string log = ActivityLog();
        for (int i = 0; i < kOnce; ++i)
          if (LoggedRuns(log, "Once" + std::to_string(i)) == 0) return false;
        for (int i = 0; i < kRepeating; ++i)
          if (LoggedRuns(log, "Every" + std::to_string(i)) < kRuns) return false;
        return true;
      },
      kWaitMs + kRuns * 60000))
      << Outputs() << ActivityLog();
  const std::string log = ActivityLog();
  for (int i = 0; i < kOnce; ++i) {
    const std::string name = "Once" + std::to_string(i);
    EXPECT_EQ(twtest::ReadFile(out_ + name), "ran\n") << name;
    EXPECT_EQ(LoggedRuns(log, name), 1) << name;
  }
  for (const Host& h : hosts_)
    EXPECT_GT(Count(log, "{\"name\":\"Server\",\"type\":\"text\",\"value\":\"" + h.name + "\"}"),
              0u)
        << h.name << " ran nothing\n"
        << log;
  for (int i = 0; i < kRepeating; ++i) {
    const std::string name = "Every" + std::to_string(i);
    const std::vector<long> starts = Starts(out_ + name);
    EXPECT_GE(starts.size(), size_t{kRuns}) << name;
    EXPECT_TRUE(NoneAhead(starts, made)) << name << "\n" << twtest::ReadFile(out_ + name);
  }
}

// One host killed with its control store and everything it runs while a run of its is open:
// once the other server's status finds it silent beyond the dead-server interval, that run is
// ended as abnormal and its Lock released, the other server runs the activity's next due
// time, and the killed host registers again when it is started again.
TEST_P(ClusterHostsTest, AKilledHostsWorkGoesToTheOtherAndItRegistersAgain) {
  Host& alpha = hosts_[0];
  Host& beta = hosts_[1];
  ASSERT_NO_FATAL_FAILURE(Start(alpha));
  ASSERT_TRUE(twtest::WaitUntil([&] { return Registered(alpha); }, kWaitMs)) << Outputs();
  // Every minute; a run holds until the test releases it.
  const std::string held = out_ + "Held", release = base_ + "release";
  const long made = static_cast<long>(::time(nullptr));
  CommandActivity("Held", Stamped(held, "while [ ! -e '" + release + "' ]; do sleep 0.05; done"),
                  Repeating(1));
  ASSERT_TRUE(twtest::WaitUntil([&] { return Starts(held, true).size() == 1; }, kWaitMs))
      << Outputs();
  ASSERT_NO_FATAL_FAILURE(Start(beta));
  ASSERT_TRUE(twtest::WaitUntil([&] { return Registered(beta); }, kWaitMs)) << Outputs();
  // beta serves, and leaves alone the activity whose run alpha holds, due again meanwhile.
  CommandActivity("Probe", "echo ran >> '" + out_ + "Probe'", {"OneTime:number=1"});
  ASSERT_TRUE(
      twtest::WaitUntil([&] { return twtest::ReadFile(out_ + "Probe") == "ran\n"; }, kWaitMs))
      << Outputs();
  const std::string id = Find(kAdmin, "select Name = 'Held'", "Activity\\Command");
  const std::string alphaId = ServerDocument(alpha);
  EXPECT_EQ(Item(id, "ActiveServer"), "ALPHA");
  EXPECT_NE(Item(id, "Lock"), "0");

  ASSERT_NO_FATAL_FAILURE(Kill(alpha));
  twtest::WriteFile(release, "");
  // The status interval is whole minutes, which makes the dead-server interval four minutes
  // at the least: an hour of silence stands for it.
  Adm({"put", kAdmin, alphaId, "Time", "time", JsonTimeAgo(3600)});
  ASSERT_TRUE(twtest::WaitUntil([&] { return Starts(held, true).size() >= 2; }, kWaitMs))
      << Outputs() << ActivityLog();
  EXPECT_EQ(Item(alphaId, "ServerStatus"), "0");
  EXPECT_EQ(Item(id, "ActiveServer"), "BETA");
  const std::string log = ActivityLog();
  EXPECT_TRUE(Has(log, "terminated abnormally")) << log;

  ASSERT_NO_FATAL_FAILURE(Start(alpha));
  ASSERT_TRUE(twtest::WaitUntil([&] { return Registered(alpha); }, kWaitMs)) << Outputs();
  CommandActivity("Again", "echo ran >> '" + out_ + "Again'", {"OneTime:number=1"});
  ASSERT_TRUE(
      twtest::WaitUntil([&] { return twtest::ReadFile(out_ + "Again") == "ran\n"; }, kWaitMs))
      << Outputs();
  EXPECT_TRUE(NoneAhead(Starts(held, true), made)) << twtest::ReadFile(held);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ClusterHostsTest,
                         ::testing::Values(Hosts::kOwnNamespaces, Hosts::kSharedNamespaces),
                         HostsName);

}  // namespace
