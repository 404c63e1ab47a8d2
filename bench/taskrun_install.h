// What the benchmarks that run an activity the way a server runs it share: a local
// installation in a temporary directory (the build's installed files, a twmain.ini naming
// it, the Administrator and Log databases made by plexadm with a server's configuration
// documents), its control store started from this process as the server starts it, and
// taskrun running one activity by name as a process of its own, timed from spawn to exit
// with the process's own resource usage. A benchmark adds its links and activities as
// plexadm documents between Make and Serve.
#ifndef TW_BENCH_TASKRUN_INSTALL_H_
#define TW_BENCH_TASKRUN_INSTALL_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "csmgr_wire.h"
#include "flowcore.h"
#include "platform.h"
#include "temp_dir.h"
#include "twengine.h"

extern char** environ;

namespace taskrun_install {

inline constexpr auto kStopWait = std::chrono::seconds(30);

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs args[0] (a full path) in dir with this process's environment; its standard output
// goes to the file stdoutTo, or stays this process's when stdoutTo is empty. The exit code,
// or -1 when it did not start or was ended by a signal. usage, when given, receives the
// child's own resource usage.
inline int Run(const std::vector<std::string>& args, const std::string& dir,
               const std::string& stdoutTo = {}, struct rusage* usage = nullptr) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  if (!stdoutTo.empty())
    posix_spawn_file_actions_addopen(&actions, 1, stdoutTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  struct rusage own {};
  while (::wait4(pid, &status, 0, &own) < 0)
    if (errno != EINTR) return -1;
  if (usage != nullptr) *usage = own;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What one taskrun process did: its exit code, the time from spawn to exit, its own usage.
struct TaskrunRun {
  int exitCode = -1;
  double seconds = 0;
  struct rusage usage {};
  double CpuSeconds() const { return Seconds(usage.ru_utime) + Seconds(usage.ru_stime); }
  double PeakMiB() const { return static_cast<double>(usage.ru_maxrss) / 1024.0; }
};

// The installation of one run. Everything is taken down at the end, the control store first;
// the directory stays when the environment variable keepVariable is set.
class Installation {
 public:
  // prefix: the start of the temporary directory's name; server: the server's name in
  // twmain.ini and in its configuration document.
  Installation(const std::string& prefix, std::string server, const char* keepVariable)
      : server_(std::move(server)), keepVariable_(keepVariable) {
    dir_ = bench_temp::MakeDir(prefix);
    if (!dir_.empty()) dir_ += "/";
  }
  ~Installation() {
    if (serving_) Stop();
    KillLeftovers();
    if (platform_) TWPlatTerm();
    std::error_code ec;
    if (!dir_.empty() && std::getenv(keepVariable_) == nullptr)
      std::filesystem::remove_all(dir_, ec);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  const std::string& dir() const { return dir_; }
  // The Administrator database as a Plexa name ("hub!!qtwadm.odx" when PostgreSQL holds it).
  const std::string& admin() const { return admin_; }

  // SQLite's journal files beside a database.
  static bool IsSideFile(const std::string& name) {
    for (const char* end : {"-wal", "-shm", "-journal"}) {
      const std::string e = end;
      if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0)
        return true;
    }
    return false;
  }

  // Lays the installation out with the plug-ins needed among the installed files; empty on
  // success, else what failed. With heldBy (a libpq connection string) the Administrator and
  // Log databases are on the server "hub" that the data root's server map holds there.
  std::string Make(const std::vector<std::string>& plugins, const std::string& heldBy = {}) {
    namespace fs = std::filesystem;
    if (dir_.empty()) return "no temporary directory";
    const fs::path built = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "inst";
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(built, ec)) {
      // A program reading a template in the kit meanwhile leaves the engine's side files
      // there for a moment; they are no part of the kit.
      const std::string name = e.path().filename().string();
      if (!e.is_regular_file() || IsSideFile(name)) continue;
      if (!fs::copy_file(e.path(), dir_ + name, ec))
        return "cannot copy " + e.path().string() + ": " + ec.message();
    }
    if (ec) return "cannot read " + built.string() + ": " + ec.message();
    std::vector<std::string> needed = {"ctlstore", "twmain", "taskrun", "plexadm", "direct.twx"};
    needed.insert(needed.end(), plugins.begin(), plugins.end());
    for (const std::string& file : needed)
      if (!fs::exists(dir_ + file)) return file + " is not built in " + built.string();
    const std::string hub = heldBy.empty() ? "" : "hub";
    admin_ = heldBy.empty() ? "qtwadm.odx" : "hub!!qtwadm.odx";
    const std::string log = heldBy.empty() ? "qtwlog.odx" : "hub!!qtwlog.odx";
    std::ofstream(dir_ + "twmain.ini", std::ios::binary)
        << "[Configuration]\r\nVersion=23\r\nKitType=2\r\nTarnway=" << server_
        << "\r\nAdminServer=" << hub << "\r\nAdminDatabase=qtwadm.odx\r\nDirectory=" << dir_
        << "\r\nSNMP=0\r\nDiagnostics=0\r\n";
    fs::create_directory(dir_ + "ordex", ec);
    if (!heldBy.empty()) std::ofstream(dir_ + "ordex/servers.map") << "hub " << heldBy << "\n";
    // plexadm, ctlstore and taskrun all find the databases through it.
    ::setenv("PLEXA_ROOT", (dir_ + "ordex").c_str(), 1);
    const std::vector<std::vector<std::string>> documents = {
        {"create", admin_, "--template", dir_ + "QTWADM.OTM"},
        {"create", log, "--template", dir_ + "QTWLOG.OTM"},
        {"new", admin_, "Configuration\\Administrator", "Name=Administrator",
         "LogDatabase=qtwlog.odx", "LogServer=" + hub, "StatusInterval:number=5"},
        {"new", admin_, "Configuration\\Server", "Name=" + server_, "PollInterval:number=2",
         "StatusInterval:number=5", "MaxDuration:number=60", "MaxActivities:number=2",
         "CloseTimeout:number=10"},
    };
    for (const std::vector<std::string>& d : documents)
      if (!Adm(d)) return "plexadm " + d[0] + " " + d.back() + " failed";
    return {};
  }

  // One plexadm call in the installation, its output dropped; false when it failed.
  bool Adm(std::vector<std::string> args) {
    args.insert(args.begin(), dir_ + "plexadm");
    return Run(args, dir_, "/dev/null") == 0;
  }

  // A new document of form in the Administrator database with the items given
  // ("Name=value", "Name:number=1", ...); empty on success, else what failed.
  std::string New(const std::string& form, const std::vector<std::string>& items) {
    std::vector<std::string> args = {"new", admin_, form};
    args.insert(args.end(), items.begin(), items.end());
    return Adm(args) ? std::string() : "plexadm new " + form + " " + items.front() + " failed";
  }

  // The activity documents of the Log database as plexadm exports them.
  std::string ActivityLog() {
    const std::string out = dir_ + "activity-log.json";
    Run({dir_ + "plexadm", "export", "qtwlog.odx", "--form", "Activity"}, dir_, out);
    return Slurp(out);
  }

  // Starts the control store as the server does; empty on success, else what failed.
  std::string Serve() {
    if (uint32_t st = TWPlatInit((dir_ + "twmain").c_str())) return Failed("TWPlatInit", st);
    platform_ = true;
    // A startup that fails may still have started the store: Stop and the destructor end it.
    serving_ = true;
    if (uint32_t st = CSMgrStartup()) return Failed("CSMgrStartup", st);
    return {};
  }

  // taskrun running the activity by name, timed from spawn to exit; its output shown.
  TaskrunRun RunActivity(const std::string& activity) {
    TaskrunRun run;
    const auto start = std::chrono::steady_clock::now();
    run.exitCode = Run({dir_ + "taskrun", activity}, dir_, {}, &run.usage);
    run.seconds = SecondsSince(start);
    return run;
  }

  // Asks the control store to close its databases and end; false when it did not, and then
  // the processes left in the installation are killed so that none outlives the run.
  bool Stop() {
    serving_ = false;
    bool ended = CSMgrShutdown() == TWSUCCESS;
    const auto until = std::chrono::steady_clock::now() + kStopWait;
    while (ended && TWIPCExists(tw::csmgr::kPipeName, 0)) {
      if (std::chrono::steady_clock::now() > until) ended = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) KillLeftovers();
    return ended;
  }

 private:
  // Kills every process of this user working in the installation's private directory (the
  // control store, or a taskrun left by a failed run); the directory's name is unique, so
  // nothing else is touched.
  void KillLeftovers() const {
    namespace fs = std::filesystem;
    if (dir_.empty()) return;
    std::error_code ec;
    const fs::path own = fs::canonical(dir_, ec);
    if (ec) return;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
      const std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
      if (pid == ::getpid()) continue;
      std::error_code link;
      const fs::path cwd = fs::read_symlink(e.path() / "cwd", link);
      if (link) continue;
      if (std::mismatch(own.begin(), own.end(), cwd.begin(), cwd.end()).first == own.end())
        ::kill(pid, SIGKILL);
    }
  }

  static std::string Failed(const char* what, uint32_t status) {
    return std::string(what) + " failed with status " + std::to_string(status);
  }

  std::string server_;
  const char* keepVariable_;
  std::string dir_;
  std::string admin_ = "qtwadm.odx";
  bool platform_ = false;
  bool serving_ = false;
};

}  // namespace taskrun_install

#endif  // TW_BENCH_TASKRUN_INSTALL_H_
