// Two servers of one cluster racing for the same due activities: two real ctlstore
// processes, each of its own installation directory and data root, sharing one
// Administrator database, each driven by its own client process that takes activities as
// fast as it can and reports each run done at once. The shared database is a file named by
// its absolute path, or a database of a server that both data roots' server maps hold in
// PostgreSQL (with the Log database beside it, which both servers then write to).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ctlstore_fixture.h"
#include "process_io.h"
#include "store_fixture.h"

namespace twtest {
namespace {

namespace code = wire::code;

using storetest::Engine;

class TakeRaceTest : public CtlstoreTest, public ::testing::WithParamInterface<Engine> {
 protected:
  // One server of the cluster: its installation directory, data root and process.
  struct Server {
    std::string name;
    std::string dir;   // installation directory, ending in "/"
    std::string root;  // its data root (PLEXA_ROOT), ending in "/"
    TWProcProcess* process = nullptr;
    GVNOTEID document = 0;  // its Configuration\\Server document
  };

  void SetUp() override {
    CtlstoreTest::SetUp();
    if (HasFatalFailure()) return;
    servers_[0] = {"ALPHA", dir_.path(), dir_ / "plexa/"};
    servers_[1] = {"BETA", dir_ / "beta/", dir_ / "beta/plexa/"};
    std::filesystem::create_directories(servers_[1].root + "local");
    std::filesystem::create_symlink(inst_ + "/ctlstore", servers_[1].dir + "ctlstore");
    ASSERT_NO_FATAL_FAILURE(store_.SetUp(GetParam(), servers_[0].root));
    if (store_.skipped()) GTEST_SKIP() << store_.skipped();
    const bool held = GetParam() == Engine::kPostgres;
    // Both installations map the server name to the same PostgreSQL database.
    if (held)
      std::filesystem::copy_file(servers_[0].root + "servers.map",
                                 servers_[1].root + "servers.map");
    const std::string adminServer = held ? storetest::Store::kServer : "";
    const std::string adminFile = held ? "admin.odb" : dir_ / "shared/admin.odb";
    std::filesystem::create_directories(dir_ / "shared");
    for (const Server& s : servers_) {
      WriteFile(s.dir + "twmain.ini",
                "[Configuration]\r\nDirectory=" + s.dir + "\r\nTarnway=" + s.name +
                    "\r\nAdminServer=" + adminServer + "\r\nAdminDatabase=" + adminFile +
                    "\r\nKitType=2\r\nDiagnostics=0\r\n");
      // On files each server logs into the log database of its own data root.
      if (!held) {
        ASSERT_EQ(GVDatabaseCreate("", (s.root + "local/log.odb").c_str(), nullptr, 0, "",
                                   (inst_ + "/QTWLOG.OTM").c_str(), 2, 0),
                  0u);
      }
    }
    if (held) {
      ASSERT_EQ(GVDatabaseCreate(adminServer.c_str(), "log.odb", nullptr, 0, "",
                                 (inst_ + "/QTWLOG.OTM").c_str(), 2, 0),
                0u);
    }
    ASSERT_EQ(GVDatabaseCreate(adminServer.c_str(), adminFile.c_str(), nullptr, 0, "",
                               (inst_ + "/QTWADM.OTM").c_str(), 2, 0),
              0u);
    ASSERT_EQ(GVDatabaseOpen(adminServer.c_str(), adminFile.c_str(), 0, &admin_), 0u);
    GVDOC doc = 0;
    adminDoc_ = NewDoc("Configuration\\Administrator", {});
    ASSERT_EQ(GVDocumentOpen(admin_, adminDoc_, 0, &doc), 0u);
    PutTextItem(doc, "LogDatabase", "log.odb");
    if (held) PutTextItem(doc, "LogServer", adminServer);
    PutNumber(doc, "Revision", 0x20000);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
    for (Server& s : servers_) s.document = NewDoc("Configuration\\Server", {{"Name", s.name}});
  }

  void TearDown() override {
    for (Server& s : servers_) {
      if (s.process == nullptr) continue;
      TWProcProcessKill(s.process);
      TWProcProcessWait(s.process);
      TWProcProcessFree(s.process);
    }
    CtlstoreTest::TearDown();
    store_.TearDown();
  }

  // Makes dir the installation of this process, so that the pipe reached is its server's.
  static void Become(const std::string& dir) {
    TWPlatTerm();
    ASSERT_EQ(TWPlatInit((dir + "ctlstore").c_str()), 0u);
  }

  // What the control store of s wrote (its output, errors with any sanitizer report, and
  // its own error file), for the message of a failure.
  static std::string Said(const Server& s) {
    std::string text = s.name;
    for (const char* file : {"ctlstore.out", "ctlstore.err", "twmain.err"})
      if (std::filesystem::exists(s.dir + file))
        text += "\n--- " + std::string(file) + ":\n" + ReadFile(s.dir + file);
    return text;
  }

  void StartServer(Server& s) {
    Become(s.dir);
    ScopedEnv root("PLEXA_ROOT", s.root.c_str());
    ASSERT_EQ(tw::ShellExecDetached("ctlstore", s.dir + "ctlstore.out", s.dir + "ctlstore.err",
                                    &s.process),
              0u);
    // A sanitizer build on a busy machine takes seconds to start; one that exited will not.
    int exitCode = -1;
    for (int i = 0; i < 6000 && !TWIPCExists(wire::kPipeName, 0); ++i) {
      if ((exitCode = TWProcProcessExitCode(s.process)) != -1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(exitCode, -1) << "exited: " << Said(s);
    ASSERT_TRUE(TWIPCExists(wire::kPipeName, 0)) << Said(s);
  }

  void StopServer(Server& s) {
    Become(s.dir);
    EXPECT_EQ(StatusOf(Exchange(Block(code::kShutdown, 16))), 0u) << Said(s);
    TWProcProcessWait(s.process);
    EXPECT_EQ(TWProcProcessExitCode(s.process), 0) << Said(s);
    TWProcProcessFree(s.process);
    s.process = nullptr;
  }

  // An activity due an hour ago whose take moves it a day ahead: due exactly once.
  GVNOTEID DueOnce(const std::string& name) {
    const GVNOTEID id = NewActivity(name);
    MakeDue(id, true);
    return id;
  }

  // A client of server s in a child process: once told to go, takes activities and reports
  // each done until nothing has been due three times running. Writes one line per take
  // ("name") or failure ("!status") to out.
  [[noreturn]] static void Client(const Server& s, int go, int out) {
    TWPlatTerm();
    std::ostringstream lines;
    if (TWPlatInit((s.dir + "ctlstore").c_str()) != 0) {
      lines << "!init\n";
    } else {
      char byte = 0;
      if (::read(go, &byte, 1) != 1) lines << "!go\n";
      for (int idle = 0, round = 0; idle < 3 && round < 10000; ++round) {
        std::vector<uint8_t> r =
            Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
        const int32_t handle = r.empty() ? 0 : WordAt(r, wire::next_activity::kHandle);
        if (r.empty() || StatusOf(r) != 0) {
          lines << "!" << (r.empty() ? 0xFFFFFFFFu : StatusOf(r)) << "\n";
          break;
        }
        if (handle == 0) {
          ++idle;
          continue;
        }
        idle = 0;
        lines << TextAt(r, wire::next_activity::kName) << "\n";
        std::vector<uint8_t> done = Block(code::kDoneActivity, wire::done_activity::kMinLength);
        tw::put_i32(done.data() + wire::done_activity::kHandle, handle);
        if (StatusOf(Exchange(done)) != 0) lines << "!done " << handle << "\n";
      }
    }
    const std::string text = lines.str();
    for (size_t at = 0; at < text.size();) {
      const ssize_t n = ::write(out, text.data() + at, text.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::_exit(0);
  }

  // The first NextActivity of server s: the name of what it took ("" for nothing).
  static std::string TakeOne(Server& s) {
    Become(s.dir);
    std::vector<uint8_t> r = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
    EXPECT_FALSE(r.empty());
    if (r.empty()) return "<no answer>";
    EXPECT_EQ(StatusOf(r), 0u) << s.name;
    return WordAt(r, wire::next_activity::kHandle) == 0 ? ""
                                                        : TextAt(r, wire::next_activity::kName);
  }
  void SetNumber(GVNOTEID id, const char* item, double value) {
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, id, 0, &doc), 0u);
    PutNumber(doc, item, value);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }

  std::array<Server, 2> servers_;
  GVNOTEID adminDoc_ = 0;
  storetest::Store store_;
};

// A server killed (with its control store) in the middle of a run: once it has been silent
// for four status intervals the other server's registration judges it dead and ends its
// run (abnormally: it is not run twice), its Lock released, and the other server takes the
// work due since; the killed server registers again when it is started again.
TEST_P(TakeRaceTest, AKilledServersRunGoesToTheServerThatJudgesItDead) {
  SetNumber(adminDoc_, "StatusInterval", 5);
  const GVNOTEID held = NewActivity("Held");
  MakeDue(held);
  Server& alpha = servers_[0];
  Server& beta = servers_[1];
  StartServer(alpha);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(ItemNumber(alpha.document, "ServerStatus"), 2);
  ASSERT_EQ(TakeOne(alpha), "Held");
  EXPECT_NE(ItemNumber(held, "Lock"), 0);
  TWProcProcessKill(alpha.process);
  TWProcProcessWait(alpha.process);
  TWProcProcessFree(alpha.process);
  alpha.process = nullptr;
  // An hour of silence stands for the dead-server interval.
  {
    const GVTIMEDATE seen = HourAgo();
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, alpha.document, 0, &doc), 0u);
    EXPECT_EQ(GVItemPut(doc, "Time", GVTYPE_TIME, 0, GVTYPE_TIME, &seen, 0), 0u);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  }
  const GVNOTEID later = NewActivity("Later");
  MakeDue(later);
  StartServer(beta);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(ItemNumber(alpha.document, "ServerStatus"), 0);
  EXPECT_EQ(ItemNumber(held, "Lock"), 0);
  EXPECT_EQ(TakeOne(beta), "Later");
  EXPECT_NE(ItemNumber(later, "Lock"), 0);
  StartServer(alpha);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(ItemNumber(alpha.document, "ServerStatus"), 2);
  EXPECT_EQ(TakeOne(alpha), "") << "neither run is taken twice";
  for (Server& s : servers_) StopServer(s);
}

TEST_P(TakeRaceTest, EachDueActivityGoesToExactlyOneServer) {
  constexpr int kActivities = 120;
  std::vector<GVNOTEID> ids;
  for (int i = 0; i < kActivities; ++i) ids.push_back(DueOnce("Act" + std::to_string(i)));
  for (Server& s : servers_) {
    StartServer(s);
    ASSERT_FALSE(HasFatalFailure());
  }

  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::array<int, 2> results{};
  std::array<pid_t, 2> clients{};
  for (size_t i = 0; i < servers_.size(); ++i) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    clients[i] = ::fork();
    ASSERT_GE(clients[i], 0);
    if (clients[i] == 0) {
      ::close(out[0]);
      ::close(go[1]);
      Client(servers_[i], go[0], out[1]);
    }
    ::close(out[1]);
    results[i] = out[0];
  }
  ::close(go[0]);
  ASSERT_EQ(::write(go[1], "gg", 2), 2);  // both start together
  ::close(go[1]);

  std::map<std::string, std::vector<std::string>> takers;  // activity -> servers that ran it
  for (size_t i = 0; i < servers_.size(); ++i) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(results[i], buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<size_t>(n));
    ::close(results[i]);
    int status = 0;
    ASSERT_EQ(::waitpid(clients[i], &status, 0), clients[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_NE(line.front(), '!') << servers_[i].name << " failed: " << line;
      takers[line].push_back(servers_[i].name);
    }
  }
  for (int i = 0; i < kActivities; ++i) {
    const std::string name = "Act" + std::to_string(i);
    EXPECT_EQ(takers[name].size(), 1u)
        << name << " ran on " << ::testing::PrintToString(takers[name]);
    EXPECT_EQ(ItemNumber(ids[i], "Lock"), 0) << name;
  }
  for (Server& s : servers_) StopServer(s);
}

INSTANTIATE_TEST_SUITE_P(Stores, TakeRaceTest,
                         ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         storetest::EngineName);

}  // namespace
}  // namespace twtest
