// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target corvex_taskrun_bench && BUILD/bench/corvex_taskrun_bench
// CORVEX_BENCH_RECORDS sets the record count (200,000); CORVEX_BENCH_KEEP keeps the
// installation with the server's data directory.
//
// A delimited text file loaded into a table of tds5d (our TDS 5.0 server over SQLite) the
// way a server loads it: a local installation in a temporary directory (taskrun_install.h)
// with a flatrec link on the file, a Corvex link on the server (bulk copy, or prepared
// inserts), and a direct transfer between them that creates the destination table because it
// is missing; taskrun runs the activity by name, timed from spawn to exit. Beside it, in the
// same run and on the same file, FreeTDS's own loader `freebcp T in file -c` into a table of
// the same column types on the same server, and `sqlite3 .import` into a file of its own,
// each timed from spawn to exit. The tables must then hold the same rows: count, sum of ids,
// sum of prices in cents, total text length and sum of day numbers.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "flowcore.h"
#include "bulk_load.h"
#include "taskrun_install.h"

namespace {

using taskrun_install::Installation;
using taskrun_install::Run;
using taskrun_install::SecondsSince;
using taskrun_install::Slurp;
using taskrun_install::TaskrunRun;

constexpr char kActivity[] = "CorvexBench";
constexpr char kOurTable[] = "bench_ours";
constexpr char kRefTable[] = "bench_ref";
constexpr char kLiteTable[] = "bench_lite";
constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kFreebcp[] = "/usr/bin/freebcp";
constexpr char kTsql[] = "/usr/bin/tsql";
constexpr char kServerSection[] = "corvex_utf8";
constexpr char kUser[] = "sa";
constexpr char kPassword[] = "tds5d";
constexpr uint32_t kBlock = 1000;
constexpr uint32_t kBulk = 1, kBulkEnable = 2, kCreateShortBound = 3;

size_t RecordCount() {
  const char* n = std::getenv("CORVEX_BENCH_RECORDS");
  return n != nullptr && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : 200000;
}

// Runs args in dir; its standard output, trimmed, and its exit code in *code.
std::string Output(const std::vector<std::string>& args, const std::string& dir, int* code) {
  const std::string path = dir + "output.txt";
  *code = Run(args, dir, path);
  return bulk_load::Trim(Slurp(path));
}

// tds5d over a data directory of the installation, with a freetds.conf naming it in
// FREETDSCONF for this process and the programs it starts; stopped by its pid at the end.
class Server {
 public:
  ~Server() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  // Empty on success, else what failed.
  std::string Start(const std::string& dir) {
    dir_ = dir + "tds5d/";
    std::filesystem::create_directory(dir_);
    const std::string portFile = dir_ + "port";
    std::vector<std::string> args = {TDS5D_PROGRAM,
                                     "--data",
                                     dir_,
                                     "--listen",
                                     "127.0.0.1:0",
                                     "--port-file",
                                     portFile,
                                     "--user",
                                     std::string(kUser) + ":" + kPassword,
                                     "--exit-with-parent"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return "cannot start tds5d";
    }
    // The server writes its port once it listens.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(portFile)) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return "tds5d ended at start";
      }
      if (std::chrono::steady_clock::now() > until) return "tds5d did not start";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string port = bulk_load::Trim(Slurp(portFile));
    std::ofstream(dir_ + "freetds.conf")
        << "[" << kServerSection << "]\n\thost = 127.0.0.1\n\tport = " << port
        << "\n\ttds version = 5.0\n\tclient charset = UTF-8\n";
    ::setenv("FREETDSCONF", (dir_ + "freetds.conf").c_str(), 1);
    return {};
  }
  const std::string& dir() const { return dir_; }
  // The create text the connector sent for kOurTable, from the server's log.
  std::string OurCreateText() const {
    const std::string log = Slurp(dir_ + "tds5d.log");
    const std::string head = std::string("language\tcreate table ") + kOurTable + " (";
    const size_t at = log.find(head);
    if (at == std::string::npos) return {};
    return log.substr(at + 9, log.find('\n', at) - at - 9);
  }

 private:
  pid_t pid_ = -1;
  std::string dir_;
};

// Statements through tsql, one batch; its exit code.
int Tsql(const std::string& dir, const std::string& statements) {
  std::ofstream(dir + "tsql.in") << statements << "\ngo\nexit\n";
  return Run({"/bin/sh", "-c",
              std::string(kTsql) + " -S " + kServerSection + " -U " + kUser + " -P " + kPassword +
                  " < " + dir + "tsql.in"},
             dir, dir + "tsql.out");
}

// "rows|ids|cents|text length|days" of table in the SQLite file db.
std::string Checksum(const std::string& dir, const std::string& db, const char* table, int* code) {
  return Output({kSqlite3, "-bail", "-cmd", ".timeout 10000", db,
                 std::string("SELECT count(*), sum(ID), sum(CAST(round(PRICE * 100) AS INTEGER)), "
                             "sum(length(NAME) + length(CITY) + length(NOTE)), "
                             "sum(CAST(julianday(substr(DAY, 1, 10)) AS INTEGER)) FROM ") +
                     table},
                dir, code);
}

std::string Prepare(Installation& inst, Server& server, bool bulk) {
  std::string failure = inst.Make({"flatrec.twx", "corvex.twx"});
  if (!failure.empty()) return failure;
  const std::string& dir = inst.dir();
  if (!bulk_load::WriteInput(dir + "in.csv", RecordCount())) return "cannot write the input";
  if (failure = server.Start(dir); !failure.empty()) return failure;
  // freebcp copies only where the database allows it.
  if (Tsql(dir, "exec sp_dboption master, \"select into/bulkcopy\", true") != 0)
    return "tsql could not enable bulk copy";
  const std::string corvex = "PropTokenList:numberlist=" + std::to_string(TWTOKEN_SERVER) + "," +
                             std::to_string(TWTOKEN_USERID) + "," +
                             std::to_string(TWTOKEN_PASSWORD) + "," + std::to_string(kBulk) + "," +
                             std::to_string(kBulkEnable) + "," + std::to_string(kCreateShortBound);
  const std::vector<std::pair<std::string, std::vector<std::string>>> documents = {
      {"Link\\Flatrec", bulk_load::FlatrecSourceItems("BenchIn", dir + "in.csv")},
      {"Link\\Corvex",
       {"Name=BenchDb", std::string("Server=") + kServerSection, std::string("Userid=") + kUser,
        std::string("Password=") + kPassword, "Bulk:number=" + std::to_string(bulk ? 1 : 0),
        "BulkEnable:number=1", "CreateShortBound:number=1",
        "PropNameList:textlist=Server,Userid,Password,Bulk,BulkEnable,CreateShortBound", corvex}},
      {"Activity\\Direct Transfer",
       {std::string("Name=") + kActivity, "SrcLink=BenchIn", "DestLink=BenchDb",
        std::string("DestMetadata=") + kOurTable, "Create:number=1",
        "RecordCount:number=" + std::to_string(kBlock)}},
  };
  for (const auto& [form, items] : documents)
    if (failure = inst.New(form, items); !failure.empty()) return failure;
  return {};
}

void Measure(benchmark::State& state, bool bulk) {
  for (const char* program : {kSqlite3, kFreebcp, kTsql}) {
    if (!std::filesystem::exists(program)) {
      state.SkipWithError((std::string("no ") + program).c_str());
      return;
    }
  }
  Installation inst("corvex_taskrun", "CORVEXBENCH", "CORVEX_BENCH_KEEP");
  Server server;
  std::string failure = Prepare(inst, server, bulk);
  if (failure.empty()) failure = inst.Serve();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const std::string& dir = inst.dir();
  TaskrunRun run;
  for (auto _ : state) run = inst.RunActivity(kActivity);
  const bool stopped = inst.Stop();
  if (run.exitCode != 0) {
    std::fprintf(stderr, "taskrun exited with %d; the activity log:\n%s\n", run.exitCode,
                 inst.ActivityLog().c_str());
    failure = "taskrun did not complete the activity";
  } else if (!stopped) {
    failure = "ctlstore did not end when asked";
  }
  // Untimed by the framework: freebcp into a table like ours, sqlite3 into a file of its own.
  std::string create = server.OurCreateText();
  if (failure.empty() && create.empty()) failure = "no create text of our table in the log";
  double refSeconds = -1, liteSeconds = -1;
  if (failure.empty()) {
    std::string like = create;
    like.replace(like.find(kOurTable), sizeof kOurTable - 1, kRefTable);
    if (Tsql(dir, like) != 0) failure = "tsql could not create the reference table";
  }
  if (failure.empty()) {
    const auto start = std::chrono::steady_clock::now();
    const int code = Run({kFreebcp, kRefTable, "in", dir + "in.csv", "-c", "-t", ",", "-S",
                          kServerSection, "-U", kUser, "-P", kPassword},
                         dir, dir + "freebcp.out");
    refSeconds = SecondsSince(start);
    if (code != 0) failure = "freebcp failed: " + Slurp(dir + "freebcp.out");
  }
  const std::string serverDb = server.dir() + "master.db", liteDb = dir + "lite.db";
  if (failure.empty()) {
    // The column affinities the server gives the same columns.
    const int made = Run({kSqlite3, "-bail", liteDb,
                          std::string("CREATE TABLE ") + kLiteTable +
                              " (ID REAL, NAME TEXT, PRICE REAL, DAY TEXT, CITY TEXT, NOTE TEXT)"},
                         dir);
    const auto start = std::chrono::steady_clock::now();
    const int code =
        made == 0
            ? Run({kSqlite3, "-bail", liteDb, ".import --csv " + dir + "in.csv " + kLiteTable}, dir)
            : -1;
    liteSeconds = SecondsSince(start);
    if (code != 0) failure = "sqlite3 .import failed";
  }
  std::string ours, reference, lite;
  if (failure.empty()) {
    int a = -1, b = -1, c = -1;
    ours = Checksum(dir, serverDb, kOurTable, &a);
    reference = Checksum(dir, serverDb, kRefTable, &b);
    lite = Checksum(dir, liteDb, kLiteTable, &c);
    const std::string rows = ours.substr(0, ours.find('|'));
    if (a != 0 || b != 0 || c != 0)
      failure = "the checksum query failed";
    else if (rows != std::to_string(RecordCount()))
      failure = "our table holds " + rows + " rows of " + std::to_string(RecordCount());
    else if (ours != reference || ours != lite)
      failure = "the tables differ: ours " + ours + ", freebcp " + reference + ", sqlite3 " + lite;
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  std::fprintf(stderr, "%s: table made by the connector: %s\n", bulk ? "bulk" : "prepared",
               create.c_str());
  std::fprintf(stderr, "rows|ids|cents|text length|days of the three tables: %s\n", ours.c_str());
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["records_per_s"] = records / run.seconds;
  state.counters["ref_records_per_s"] = records / refSeconds;
  // Above 1: taskrun is faster than freebcp into the same server.
  state.counters["ratio_to_ref"] = refSeconds / run.seconds;
  state.counters["sqlite3_records_per_s"] = records / liteSeconds;
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["cpu_s"] = run.CpuSeconds();
}

void BM_CorvexTaskrunBulk(benchmark::State& state) {
  Measure(state, true);
}
void BM_CorvexTaskrunPrepared(benchmark::State& state) {
  Measure(state, false);
}
BENCHMARK(BM_CorvexTaskrunBulk)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CorvexTaskrunPrepared)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
