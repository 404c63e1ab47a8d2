// What the benchmarks over PostgreSQL share: the cluster of a run (the one TW_PG_PORT names,
// else a private one started with the repository's scripts/pg.sh, whose directory the
// including target names as TW_SOURCE_DIR), psql against it, and a database of its own on it.
#ifndef TW_BENCH_ODBC_BENCH_H_
#define TW_BENCH_ODBC_BENCH_H_

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bulk_load.h"
#include "taskrun_install.h"
#include "temp_dir.h"

namespace odbc_bench {

using bulk_load::Output;
using taskrun_install::Run;

inline constexpr char kPsql[] = "/usr/bin/psql";

// ---------------------------------------------------------------- the cluster ----------

// The private cluster's directory while one is up, for the signal handler.
inline char gClusterScript[4096], gClusterDir[4096];

// A signal that ends the benchmark stops the private cluster first.
inline void StopClusterAndDie(int signal) {
  if (gClusterDir[0] != '\0') {
    const pid_t pid = ::fork();
    if (pid == 0) {
      char bash[] = "/bin/bash", stop[] = "stop";
      char* argv[] = {bash, gClusterScript, stop, gClusterDir, nullptr};
      ::execve(bash, argv, environ);
      ::_exit(127);
    }
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// The PostgreSQL cluster of the run: the one TW_PG_PORT names, else a private one started
// with scripts/pg.sh and stopped when this ends (or when a signal ends the process).
class Cluster {
 public:
  Cluster() = default;
  ~Cluster() {
    if (dir_.empty()) return;
    Run({"/bin/bash", script_, "stop", dir_}, std::filesystem::temp_directory_path().string());
    gClusterDir[0] = '\0';
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
  }
  Cluster(const Cluster&) = delete;
  Cluster& operator=(const Cluster&) = delete;

  const std::string& port() const { return port_; }

  // Empty on success, else what failed.
  std::string Start() {
    if (const char* port = std::getenv("TW_PG_PORT"); port != nullptr && *port != '\0') {
      port_ = port;
      return {};
    }
    script_ = std::string(TW_SOURCE_DIR) + "/scripts/pg.sh";
    dir_ = bench_temp::MakeDir("sqlcli_bench_pg");
    if (dir_.empty()) return "no temporary directory for the cluster";
    if (script_.size() >= sizeof gClusterScript || dir_.size() >= sizeof gClusterDir)
      return "path too long";
    std::strcpy(gClusterScript, script_.c_str());
    std::strcpy(gClusterDir, dir_.c_str());
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, StopClusterAndDie);
    int code = -1;
    // pg.sh answers "export TW_PG_PORT=<port> TW_PG_DIR=<dir>".
    const std::string exports = Output({"/bin/bash", script_, "start", dir_}, std::filesystem::temp_directory_path().string(), &code);
    const size_t at = exports.find("TW_PG_PORT=");
    if (code != 0 || at == std::string::npos) return "scripts/pg.sh could not start a cluster";
    port_ = exports.substr(at + 11, exports.find(' ', at) - at - 11);
    return {};
  }

 private:
  std::string script_, dir_, port_;
};

// psql against database on the cluster; its unaligned output and its exit code in *code.
inline std::string Psql(const std::string& port, const std::string& database,
                        const std::vector<std::string>& commands, int* code) {
  std::vector<std::string> args = {kPsql,   "-X",        "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1",
                                   "-h",    "127.0.0.1", "-p", port, "-U", "tw", "-d",
                                   database};
  for (const std::string& c : commands) {
    args.push_back("-c");
    args.push_back(c);
  }
  return Output(args, std::filesystem::temp_directory_path().string(), code);
}

// A database of its own on the cluster, dropped at the end.
class PgDatabase {
 public:
  // keepVariable: the environment variable that keeps the database when set.
  PgDatabase(std::string port, std::string keepVariable)
      : port_(std::move(port)),
        name_("twbench_" + std::to_string(::getpid())),
        keepVariable_(std::move(keepVariable)) {}
  ~PgDatabase() {
    if (created_ && std::getenv(keepVariable_.c_str()) == nullptr) Drop();
  }
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  const std::string& name() const { return name_; }
  std::string Create() {
    Drop();
    int code = -1;
    Psql(port_, "postgres", {"CREATE DATABASE " + name_}, &code);
    created_ = code == 0;
    return created_ ? std::string() : "cannot create the database " + name_;
  }

 private:
  void Drop() {
    int code = -1;
    Psql(
        port_, "postgres",
        {"SET client_min_messages = warning", "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"},
        &code);
  }

  std::string port_, name_;
  std::string keepVariable_;
  bool created_ = false;
};

}  // namespace odbc_bench

#endif  // TW_BENCH_ODBC_BENCH_H_
