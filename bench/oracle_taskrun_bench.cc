// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target oracle_taskrun_bench && BUILD/bench/oracle_taskrun_bench
// ORACLE_BENCH_RECORDS sets the record count (200,000); ORACLE_BENCH_COMMIT the link's
// CommitFrequency (1000); ORACLE_BENCH_KEEP keeps the installation with its databases.
//
// A delimited text file loaded into an Oracle table the way a server loads it: a local
// installation in a temporary directory (taskrun_install.h) with a flatrec link on the file,
// an oracle link on a server of the ORA72 client (one SQLite file, made here with its
// administration call) and a direct transfer between them in blocks of 1000 records, which
// the connector inserts as arrays, into a table it creates because it is missing (no LONG
// column, so that arrays are used); ctlstore started from it and taskrun running the activity
// by name, timed from spawn to exit. Beside it, on the same file, `sqlite3 .import --csv` into
// a table of the same declared types in another file, timed as well. Both tables must then
// hold the same rows: count, sum of ids, sum of prices in cents, total text length and sum of
// day numbers.
//
// The way back: a second transfer from the table to a text file (SELECT ... ORDER BY ID,
// fetched in arrays), beside `sqlite3 -csv` writing the reference table to a file; the text
// connector's file must equal the input.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bulk_load.h"
#include "flowcore.h"
#include "ora72.h"
#include "taskrun_install.h"

namespace {

using bulk_load::ActivityText;
using bulk_load::EnvCount;
using bulk_load::kZid;
using bulk_load::Output;
using taskrun_install::Installation;
using taskrun_install::Run;
using taskrun_install::SecondsSince;
using taskrun_install::Slurp;
using taskrun_install::TaskrunRun;

constexpr char kLoad[] = "OracleLoad";
constexpr char kBack[] = "OracleBack";
constexpr char kServer[] = "BENCHORA";
constexpr char kOurTable[] = "bench_ours";
constexpr char kRefTable[] = "bench_ref";
constexpr char kSqlite3[] = "/usr/bin/sqlite3";
// Records per fetch and insert of the direct transfer.
constexpr uint32_t kBlock = 1000;
// Own tokens: flatrec's Trace, ZID and Linktype; oracle's CommitFrequency and
// CreateLongByUser.
constexpr uint32_t kFlatrecTrace = 4, kFlatrecZid = 15, kFlatrecLinktype = 16;
constexpr int kFlatrecQuiet = 1;
constexpr uint32_t kOracleCommitFrequency = 1, kOracleCreateLongByUser = 4;

size_t RecordCount() {
  return EnvCount("ORACLE_BENCH_RECORDS", 200000);
}
size_t CommitFrequency() {
  return EnvCount("ORACLE_BENCH_COMMIT", 1000);
}

std::string Tokens(std::initializer_list<uint32_t> tokens) {
  std::string list = "PropTokenList:numberlist=";
  for (uint32_t t : tokens) list += (list.back() == '=' ? "" : ",") + std::to_string(t);
  return list;
}

// The installation, its input, the server's database and the documents: the text links on
// in.csv and out.csv, the oracle link, the load into kOurTable (created when missing) and the
// way back. Empty on success, else what failed.
std::string Prepare(Installation& inst) {
  std::string failure = inst.Make({"flatrec.twx", "oracle.twx"});
  if (!failure.empty()) return failure;
  const std::string& dir = inst.dir();
  if (!bulk_load::WriteInput(dir + "in.csv", RecordCount())) return "cannot write the input";
  const std::string data = dir + "oradata";
  std::filesystem::create_directories(data);
  char message[256] = {};
  if (OraAdmCreate(data.c_str(), kServer, "scott", "tiger", "WE8ISO8859P1", nullptr, message,
                   sizeof message) != 0)
    return std::string("ora72: ") + message;
  ::setenv("ORA72_DATA", data.c_str(), 1);
  const std::string text = Tokens({TWTOKEN_DATABASE, kFlatrecZid, kFlatrecLinktype, kFlatrecTrace});
  auto textLink = [&](const char* name, const char* file, const char* kind) {
    return std::vector<std::string>{std::string("Name=") + name,
                                    "Database=" + dir + file,
                                    std::string("ZID=") + kZid,
                                    std::string("Linktype=") + kind,
                                    "Trace:number=" + std::to_string(kFlatrecQuiet),
                                    "PropNameList:textlist=Database,ZID,Linktype,Trace",
                                    text};
  };
  const std::vector<std::pair<std::string, std::vector<std::string>>> documents = {
      {"Link\\Flatrec", textLink("BenchIn", "in.csv", "SOURCE")},
      {"Link\\Flatrec", textLink("BenchOut", "out.csv", "DESTINATION")},
      {"Link\\Oracle",
       {"Name=BenchOra", std::string("Server=") + kServer, "Userid=scott", "Password=tiger",
        "CommitFrequency:number=" + std::to_string(CommitFrequency()), "CreateLongByUser:number=2",
        "PropNameList:textlist=Server,Userid,Password,CommitFrequency,CreateLongByUser",
        Tokens({TWTOKEN_SERVER, TWTOKEN_USERID, TWTOKEN_PASSWORD, kOracleCommitFrequency,
                kOracleCreateLongByUser})}},
      {"Activity\\Direct Transfer",
       {std::string("Name=") + kLoad, "SrcLink=BenchIn", "DestLink=BenchOra",
        std::string("DestMetadata=") + kOurTable, "Create:number=1",
        "RecordCount:number=" + std::to_string(kBlock)}},
      {"Activity\\Direct Transfer",
       {std::string("Name=") + kBack, "SrcLink=BenchOra", "DestLink=BenchOut",
        std::string("Statement=SELECT * FROM ") + kOurTable + " ORDER BY ID", "Overwrite:number=1",
        "RecordCount:number=" + std::to_string(kBlock)}},
  };
  for (const auto& [form, items] : documents)
    if (failure = inst.New(form, items); !failure.empty()) return failure;
  return {};
}

// "rows|ids|cents|text length|days" of table in file; *code the query's exit code.
std::string Checksum(const std::string& dir, const std::string& file, const char* table,
                     int* code) {
  return Output({kSqlite3, "-bail", file,
                 std::string("SELECT count(*), sum(ID), sum(CAST(round(PRICE * 100) AS INTEGER)), "
                             "sum(length(NAME) + length(CITY) + length(NOTE)), "
                             "sum(CAST(julianday(substr(DAY, 1, 10)) AS INTEGER)) FROM ") +
                     table},
                dir, code);
}

void BM_OracleTaskrunToOra72(benchmark::State& state) {
  if (!std::filesystem::exists(kSqlite3)) {
    state.SkipWithError("no sqlite3 program");
    return;
  }
  Installation inst("oracle_taskrun", "ORACLEBENCH", "ORACLE_BENCH_KEEP");
  std::string failure = Prepare(inst);
  if (failure.empty()) failure = inst.Serve();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const std::string& dir = inst.dir();
  const std::string ours = dir + "oradata/" + kServer + ".ora", ref = dir + "ref.db";
  TaskrunRun load, back;
  for (auto _ : state) load = inst.RunActivity(kLoad);
  if (load.exitCode == 0) back = inst.RunActivity(kBack);
  const bool stopped = inst.Stop();
  if (load.exitCode != 0 || back.exitCode != 0) {
    std::fprintf(stderr, "taskrun exited with %d, %d; the activity log says:\n%s\n", load.exitCode,
                 back.exitCode, ActivityText(inst.ActivityLog()).c_str());
    failure = "taskrun did not complete the activities (the log is above)";
  } else if (!stopped) {
    failure = "ctlstore did not end when asked";
  }

  // Untimed by the framework: the loader into a table like ours, the way back, the checks.
  double refSeconds = -1, refBackSeconds = -1;
  if (failure.empty() && Run({kSqlite3, "-bail", ref, "ATTACH '" + ours + "' AS o",
                              std::string("CREATE TABLE ") + kRefTable + " AS SELECT * FROM o." +
                                  kOurTable + " WHERE 0"},
                             dir) != 0)
    failure = "cannot create the reference table";
  if (failure.empty()) {
    auto start = std::chrono::steady_clock::now();
    const int code =
        Run({kSqlite3, "-bail", ref, ".import --csv " + dir + "in.csv " + kRefTable}, dir);
    refSeconds = SecondsSince(start);
    start = std::chrono::steady_clock::now();
    const int backCode =
        Run({kSqlite3, "-bail", "-csv", ref, std::string("SELECT * FROM ") + kRefTable}, dir,
            dir + "ref_out.csv");
    refBackSeconds = SecondsSince(start);
    if (code != 0 || backCode != 0) failure = "sqlite3 failed";
  }
  std::string oursSum, refSum;
  if (failure.empty()) {
    int oursCode = -1, refCode = -1;
    oursSum = Checksum(dir, ours, kOurTable, &oursCode);
    refSum = Checksum(dir, ref, kRefTable, &refCode);
    const std::string rows = oursSum.substr(0, oursSum.find('|'));
    std::string in = Slurp(dir + "in.csv");
    if (!in.empty()) in.pop_back();  // the text connector writes no delimiter after the last
    if (oursCode != 0 || refCode != 0)
      failure = "the checksum query failed";
    else if (rows != std::to_string(RecordCount()))
      failure = "our table holds " + rows + " rows of " + std::to_string(RecordCount());
    else if (oursSum != refSum)
      failure = "the tables differ: ours " + oursSum + ", sqlite3's " + refSum;
    else if (Slurp(dir + "out.csv") != in)
      failure = "the way back did not give the input back";
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  int code = -1;
  std::fprintf(
      stderr, "table made by oracle: %s\n",
      Output({kSqlite3, "-bail", ours,
              std::string("SELECT sql FROM sqlite_master WHERE name = '") + kOurTable + "'"},
             dir, &code)
          .c_str());
  std::fprintf(stderr, "rows|ids|cents|text length|days of both tables: %s\n", oursSum.c_str());
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["records_per_s"] = records / load.seconds;
  state.counters["ref_records_per_s"] = records / refSeconds;
  // Above 1: taskrun is faster than sqlite3's own loader.
  state.counters["ratio_to_ref"] = refSeconds / load.seconds;
  state.counters["back_records_per_s"] = records / back.seconds;
  state.counters["back_ratio_to_ref"] = refBackSeconds / back.seconds;
  state.counters["peak_rss_MiB"] = load.PeakMiB();
  state.counters["cpu_s"] = load.CpuSeconds();
}
BENCHMARK(BM_OracleTaskrunToOra72)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
