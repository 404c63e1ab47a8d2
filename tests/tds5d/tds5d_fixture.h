// A tds5d server for a test: started on a free loopback port over a fresh data directory, with
// a freetds.conf naming it (sections corvex_utf8 and corvex_latin1) in FREETDSCONF for this
// process and the programs it starts; stopped by its pid whatever way the test ends (and it
// ends by itself when the test process dies). A test target gets it with tw_use_tds5d(target)
// in CMake (tests/tds5d/CMakeLists.txt), where the FreeTDS headers exist.
#ifndef TW_TESTS_TDS5D_TDS5D_FIXTURE_H_
#define TW_TESTS_TDS5D_TDS5D_FIXTURE_H_

#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "process_util.h"

namespace twtest {

// The login every tds5d of the tests knows.
inline constexpr const char* kTds5dUser = "sa";
inline constexpr const char* kTds5dPassword = "tds5d";

// The tds5d program: in the tds5d directory beside the test program, else under TW_BUILD_DIR.
inline std::string Tds5dProgram() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string exe(self, n > 0 ? static_cast<size_t>(n) : 0);
  std::string beside = exe.substr(0, exe.rfind('/') + 1) + "tds5d/tds5d";
  if (::access(beside.c_str(), X_OK) == 0) return beside;
  const char* build = std::getenv("TW_BUILD_DIR");
  return std::string(build ? build : ".") + "/tests/tds5d/tds5d";
}

class Tds5dServer {
 public:
  // Starts the server in a fresh directory; check started() (a failure is also reported).
  Tds5dServer() { Start(); }
  ~Tds5dServer() { Stop(); }
  Tds5dServer(const Tds5dServer&) = delete;
  Tds5dServer& operator=(const Tds5dServer&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  // The data directory (ends in "/"): the databases NAME.db, tds5d.log, freetds.conf.
  const std::string& dir() const { return dir_.path(); }
  std::string conf() const { return dir_ / "freetds.conf"; }
  // The environment entry for programs started with their own environment.
  std::string confEnv() const { return "FREETDSCONF=" + conf(); }

  // Every text the server was sent, in order, as "kind<TAB>text" lines taken apart: kind is
  // login, language, dynamic, cursor, option or bulk; \n \t \0 \\ in the text stand for
  // themselves escaped.
  struct Logged {
    std::string kind, text;
  };
  std::vector<Logged> Log() const {
    std::vector<Logged> out;
    std::istringstream in(ReadFile(dir_ / "tds5d.log"));
    for (std::string line; std::getline(in, line);) {
      size_t tab = line.find('\t');
      if (tab != std::string::npos) out.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return out;
  }
  // The logged texts of one kind, in order.
  std::vector<std::string> Texts(const std::string& kind = "language") const {
    std::vector<std::string> out;
    for (const Logged& l : Log())
      if (l.kind == kind) out.push_back(l.text);
    return out;
  }

  // Adds a section naming the server to freetds.conf, for another client character set; the
  // last "_" part of the name tells the server the set (see tds5d.cc).
  void AddSection(const std::string& name, const std::string& clientCharset) {
    std::string conf = ReadFile(dir_ / "freetds.conf");
    WriteFile(dir_ / "freetds.conf", conf + Section(name, clientCharset));
  }

  // Stops the server by its pid (SIGTERM, then SIGKILL); also done by the destructor.
  void Stop() {
    server_.Stop(5000);
    port_ = 0;
  }

 private:
  void Start() {
    std::string portFile = dir_ / "port";
    std::vector<std::string> env = InheritedEnv();
    if (!server_.Start({Tds5dProgram(), "--data", dir_.path(), "--listen", "127.0.0.1:0",
                        "--port-file", portFile, "--user",
                        std::string(kTds5dUser) + ":" + kTds5dPassword, "--exit-with-parent"},
                       env, "", false)) {
      ADD_FAILURE() << "cannot start " << Tds5dProgram();
      return;
    }
    // Wait for the port file the server writes once it listens (or for its end).
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(portFile)) {
      if (!server_.Alive() || std::chrono::steady_clock::now() > until) {
        ADD_FAILURE() << "tds5d did not start";
        return;
      }
      ::poll(nullptr, 0, 10);
    }
    port_ = std::atoi(ReadFile(portFile).c_str());
    WriteFile(dir_ / "freetds.conf",
              Section("corvex_utf8", "UTF-8") + Section("corvex_latin1", "ISO-8859-1"));
    confVar_.emplace("FREETDSCONF", (dir_ / "freetds.conf").c_str());
  }

  std::string Section(const std::string& name, const std::string& clientCharset) const {
    return "[" + name + "]\n\thost = 127.0.0.1\n\tport = " + std::to_string(port_) +
           "\n\ttds version = 5.0\n\tclient charset = " + clientCharset + "\n";
  }

  TempDir dir_;
  ChildProcess server_;
  std::optional<ScopedEnv> confVar_;
  int port_ = 0;
};

}  // namespace twtest

#endif  // TW_TESTS_TDS5D_TDS5D_FIXTURE_H_
