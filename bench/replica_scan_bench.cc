// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target replica_scan_bench && BUILD/bench/replica_scan_bench
// REPLICA_SCAN_RECORDS sets the rows of the timed cases (100,000), REPLICA_SCAN_PAIRS how many
// pairs they time (5); REPLICA_SCAN_KEEP keeps the installations. TW_PG_PORT names a
// PostgreSQL cluster to use (user tw, trust); without it a private one is started with the
// repository's scripts/pg.sh and stopped at the end.
//
// The replication reading two equal tables, one a SQLite file and one a PostgreSQL table, run
// by taskrun the way a server runs it (taskrun_install.h), so that nothing is written and what
// is timed is reading both sides and pairing them:
// - scan: each direction (SQLite to PostgreSQL, PostgreSQL to SQLite) timed pair by pair
//   against the read floor, both sides read in key order by the databases' own clients
//   (sqlite3 -csv and psql \copy to /dev/null, one after the other). Each pair's ratio of
//   elapsed and of processor time is printed with the load average beside it; the counters are
//   their medians (below 1: faster than the clients). Beside them, a bare client of the same
//   two ODBC drivers reading both sides the same way, and its ratio to the same floor: what
//   the drivers themselves take.
// - memory: taskrun's peak resident size (from wait4) over 10k, 100k, 300k and 1M rows in
//   each direction; flat memory means the same peak whatever the rows.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bulk_load.h"
#include "odbc_bare.h"
#include "odbc_bench.h"
#include "taskrun_install.h"

namespace {

using bulk_load::ActivityText;
using odbc_bench::Cluster;
using odbc_bench::PgDatabase;
using odbc_bench::Psql;
using taskrun_install::Installation;
using taskrun_install::Run;
using taskrun_install::SecondsSince;
using taskrun_install::TaskrunRun;

constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kKeep[] = "REPLICA_SCAN_KEEP";
constexpr char kTable[] = "CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(40), n INTEGER)";
constexpr char kOrdered[] = "SELECT k, v, n FROM t ORDER BY k";

double Load() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Where the two sides live and how the installation reaches them.
struct Sides {
  std::string port;
  std::string pg;  // the PostgreSQL database
  std::string dir;
  bool sqliteIsA = true;
  size_t rows = 0;
};

std::string FillSides(const Sides& s) {
  const std::string n = std::to_string(s.rows);
  int code = -1;
  bulk_load::Output({kSqlite3, "-bail", s.dir + "t.db",
                     std::string(kTable) +
                         "; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE "
                         "i < " +
                         n + ") INSERT INTO t SELECT i, 'name ' || i, i * 7 FROM c;"},
                    s.dir, &code);
  if (code != 0) return "cannot fill the SQLite table";
  Psql(s.port, s.pg,
       {kTable, "INSERT INTO t SELECT i, 'name ' || i, i * 7 FROM generate_series(1, " + n + ") i",
        "VACUUM ANALYZE t"},
       &code);
  return code == 0 ? std::string() : "cannot fill the PostgreSQL table";
}

// The installation: the two data sources, their links and the replication ReplicaScan, A
// winning (nothing differs, so nothing is written).
std::string Configure(Installation& inst, const Sides& s) {
  if (std::string failure = inst.Make({"replica.twx", "sqlcli.twx"}); !failure.empty())
    return failure;
  const std::string odbc = "/usr/lib/x86_64-linux-gnu/odbc/";
  std::ofstream(s.dir + "odbcinst.ini")
      << "[SQLITE3]\nDriver=" << odbc << "libsqlite3odbc.so\n\n[PG]\nDriver=" << odbc
      << "psqlodbcw.so\n";
  std::ofstream ini(s.dir + "odbc.ini");
  ini << "[scanLite]\nDriver=SQLITE3\nDatabase=" << s.dir << "t.db\nTimeout=5000\n\n"
      << "[scanPg]\nDriver=PG\nServername=127.0.0.1\nPort=" << s.port << "\nDatabase=" << s.pg
      << "\nUsername=tw\n";
  ini.close();
  if (!ini) return "cannot write odbc.ini";
  ::setenv("ODBCSYSINI", s.dir.c_str(), 1);
  ::setenv("ODBCINI", (s.dir + "odbc.ini").c_str(), 1);
  const std::string a = s.sqliteIsA ? "scanLite" : "scanPg";
  const std::string b = s.sqliteIsA ? "scanPg" : "scanLite";
  for (const auto& [form, items] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"Link\\Sqlcli", {"Name=LinkA", "Server=" + a, "Userid=tw"}},
           {"Link\\Sqlcli", {"Name=LinkB", "Server=" + b, "Userid=tw"}},
           {"Activity\\Replication",
            {"Name=ReplicaScan", "SrcLink=LinkA", "DestLink=LinkB", "LinkAMetadata=t",
             "LinkBMetadata=t", "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k",
             "WinConflict:number=1"}}})
    if (std::string failure = inst.New(form, items); !failure.empty()) return failure;
  return {};
}

// One run of the replication; empty, or what failed with the activity log.
std::string Replicate(Installation& inst, TaskrunRun* run) {
  *run = inst.RunActivity("ReplicaScan");
  if (run->exitCode == 0) return {};
  std::fprintf(stderr, "taskrun exited with %d; the activity log says:\n%s\n", run->exitCode,
               ActivityText(inst.ActivityLog()).c_str());
  return "taskrun did not complete the replication (its log is above)";
}

// Both sides read in key order by their own clients; the seconds, or -1, and in *cpu the
// processor seconds of both clients.
double ReadFloor(const Sides& s, double* cpu) {
  const auto start = std::chrono::steady_clock::now();
  struct rusage lite {
  }, pg{};
  if (Run({kSqlite3, "-csv", s.dir + "t.db", kOrdered}, s.dir, "/dev/null", &lite) != 0) return -1;
  if (Run({odbc_bench::kPsql, "-X", "-q", "-h", "127.0.0.1", "-p", s.port, "-U", "tw", "-d", s.pg,
           "-c", std::string("\\copy (") + kOrdered + ") to /dev/null"},
          s.dir, "/dev/null", &pg) != 0)
    return -1;
  using taskrun_install::Seconds;
  *cpu =
      Seconds(lite.ru_utime) + Seconds(lite.ru_stime) + Seconds(pg.ru_utime) + Seconds(pg.ru_stime);
  return SecondsSince(start);
}

// The connection strings of the two sides as the sqlcli connector opens them: psqlODBC with
// its statements unguarded and reading through a cursor a block at a time.
constexpr char kLiteConnect[] = "DSN=scanLite";
constexpr char kPgConnect[] = "DSN=scanPg;Protocol=7.4-0;UseDeclareFetch=1;Fetch=1000";

// The rows of a block as the sqlcli connector reads them: for psqlODBC the largest divisor of
// its Fetch of at most 256, for SQLite 256.
constexpr SQLULEN kLiteBlock = 256;
constexpr SQLULEN kPgBlock = 250;

// Both sides read in key order, one after the other, by a bare client of the same two ODBC
// drivers inside a transaction, a block of rows a fetch into bound columns, each number as a
// double and each text as text, as the replication reads them: what the drivers themselves
// take for the work. It is a program started afresh, as taskrun is.
odbc_bare::BareRun BareRead(const Sides& s) {
  std::vector<odbc_bare::Read> reads;
  for (const bool lite : {s.sqliteIsA, !s.sqliteIsA})
    reads.push_back({lite ? kLiteConnect : kPgConnect, kOrdered, lite ? kLiteBlock : kPgBlock});
  odbc_bare::BareRun run = odbc_bare::ReadInFreshProcess(reads);
  if (run.failure.empty() && run.rows != 2 * static_cast<long long>(s.rows))
    run.failure = "the bare client read " + std::to_string(run.rows) + " rows";
  return run;
}

// The PostgreSQL table's sums, which a run that wrote nothing leaves as they were.
std::string PgSums(const Sides& s) {
  int code = -1;
  return Psql(s.port, s.pg, {"SELECT count(*), sum(k), sum(n), sum(length(v)) FROM t"}, &code);
}

// Sets up both sides of rows rows in a cluster of their own; empty, or what failed.
class Case {
 public:
  std::string Start(bool sqliteIsA, size_t rows) {
    if (std::string failure = cluster_.Start(); !failure.empty()) return failure;
    pg_ = std::make_unique<PgDatabase>(cluster_.port(), kKeep);
    if (std::string failure = pg_->Create(); !failure.empty()) return failure;
    inst_ = std::make_unique<Installation>("replica_scan", "SCANBENCH", kKeep);
    sides_ = {cluster_.port(), pg_->name(), inst_->dir(), sqliteIsA, rows};
    if (std::string failure = FillSides(sides_); !failure.empty()) return failure;
    if (std::string failure = Configure(*inst_, sides_); !failure.empty()) return failure;
    before_ = PgSums(sides_);
    return inst_->Serve();
  }
  // Empty when the tables are as they were filled.
  std::string Check() {
    if (!inst_->Stop()) return "ctlstore did not end when asked";
    const std::string after = PgSums(sides_);
    return after == before_ ? std::string() : "the PostgreSQL table changed: " + after;
  }
  Installation& inst() { return *inst_; }
  const Sides& sides() const { return sides_; }

 private:
  Cluster cluster_;
  std::unique_ptr<PgDatabase> pg_;
  std::unique_ptr<Installation> inst_;
  Sides sides_;
  std::string before_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Scan(benchmark::State& state, bool sqliteIsA) {
  const size_t rows = bulk_load::EnvCount("REPLICA_SCAN_RECORDS", 100000);
  const size_t pairs = bulk_load::EnvCount("REPLICA_SCAN_PAIRS", 5);
  Case c;
  std::string failure = c.Start(sqliteIsA, rows);
  std::vector<double> ratios, cpuRatios, bareRatios, bareCpuRatios;
  TaskrunRun run;
  double ours = 0, floor = 0, bareSeconds = 0;
  for (auto _ : state) {
    for (size_t p = 0; p < pairs && failure.empty(); ++p) {
      failure = Replicate(c.inst(), &run);
      const double load = Load();
      double cpu = 0;
      const double reading = failure.empty() ? ReadFloor(c.sides(), &cpu) : 0;
      if (failure.empty() && reading < 0) failure = "the clients could not read the tables";
      const odbc_bare::BareRun bare = failure.empty() ? BareRead(c.sides()) : odbc_bare::BareRun{};
      if (failure.empty()) failure = bare.failure;
      if (!failure.empty()) break;
      ratios.push_back(run.seconds / reading);
      cpuRatios.push_back(run.CpuSeconds() / cpu);
      bareRatios.push_back(bare.seconds / reading);
      bareCpuRatios.push_back(bare.cpuSeconds / cpu);
      ours += run.seconds;
      floor += reading;
      bareSeconds += bare.seconds;
      std::fprintf(stderr,
                   "%s pair %zu: taskrun %.3f s (cpu %.3f), clients %.3f s (cpu %.3f), ratio %.2f "
                   "(cpu %.2f); bare ODBC client %.3f s (cpu %.3f), ratio %.2f (cpu %.2f); load "
                   "%.2f\n",
                   sqliteIsA ? "SQLite->PostgreSQL" : "PostgreSQL->SQLite", p + 1, run.seconds,
                   run.CpuSeconds(), reading, cpu, run.seconds / reading, run.CpuSeconds() / cpu,
                   bare.seconds, bare.cpuSeconds, bare.seconds / reading, bare.cpuSeconds / cpu,
                   load);
    }
  }
  if (failure.empty()) failure = c.Check();
  if (!failure.empty() || ratios.empty()) {
    state.SkipWithError(failure.empty() ? "nothing timed" : failure.c_str());
    return;
  }
  const size_t n = ratios.size();
  state.counters["records"] = static_cast<double>(rows);
  state.counters["ratio_median"] = Median(ratios);
  // The bare client of the same drivers against the same floor: where it is above the goal,
  // the drivers set the limit.
  state.counters["bare_ratio_median"] = Median(bareRatios);
  state.counters["bare_cpu_ratio_median"] = Median(bareCpuRatios);
  state.counters["bare_s"] = bareSeconds / static_cast<double>(n);
  // The processors' time of taskrun against the clients' (the servers' own time is in
  // neither), steadier than the clock on a loaded machine.
  state.counters["cpu_ratio_median"] = Median(cpuRatios);
  state.counters["taskrun_s"] = ours / static_cast<double>(n);
  state.counters["clients_s"] = floor / static_cast<double>(n);
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["cpu_s"] = run.CpuSeconds();
}

void BM_ScanSqliteToPostgresql(benchmark::State& state) {
  Scan(state, true);
}
void BM_ScanPostgresqlToSqlite(benchmark::State& state) {
  Scan(state, false);
}

// Args: rows, 1 for SQLite to PostgreSQL or 0 for the other way.
void BM_ScanMemory(benchmark::State& state) {
  const auto rows = static_cast<size_t>(state.range(0));
  const bool sqliteIsA = state.range(1) != 0;
  Case c;
  std::string failure = c.Start(sqliteIsA, rows);
  TaskrunRun run;
  for (auto _ : state)
    if (failure.empty()) failure = Replicate(c.inst(), &run);
  if (failure.empty()) failure = c.Check();
  // The SQLite side read in key order inside a transaction, as the replication reads it, by a
  // bare client of the same driver: the driver's own peak for the rows.
  odbc_bare::BareRun bare;
  if (failure.empty()) {
    bare = odbc_bare::ReadInFreshProcess({{"DSN=scanLite", kOrdered}});
    failure = bare.failure;
    if (failure.empty() && bare.rows != static_cast<long long>(rows))
      failure = "the bare client read " + std::to_string(bare.rows) + " rows";
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  std::fprintf(stderr,
               "%s %zu rows: peak %.1f MiB, %.3f s; bare client reading SQLite: peak %.1f MiB, "
               "%.3f s; load %.2f\n",
               sqliteIsA ? "SQLite->PostgreSQL" : "PostgreSQL->SQLite", rows, run.PeakMiB(),
               run.seconds, bare.peakMiB, bare.seconds, Load());
  state.counters["bare_peak_MiB"] = bare.peakMiB;
  state.counters["records"] = static_cast<double>(rows);
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["taskrun_s"] = run.seconds;
}

}  // namespace

BENCHMARK(BM_ScanSqliteToPostgresql)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ScanPostgresqlToSqlite)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ScanMemory)
    ->ArgsProduct({{10000, 100000, 300000, 1000000}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The program is also the bare client reading the SQLite side, started afresh for its peak.
int main(int argc, char** argv) {
  if (int code = 0; odbc_bare::ServeRead(&code)) return code;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
