// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target replica_relay_taskrun_bench &&
//   BUILD/bench/replica_relay_taskrun_bench
// REPLICA_BENCH_RECORDS sets the record count (100,000); REPLICA_BENCH_KEEP keeps the
// installation with its SQLite files, and the PostgreSQL database when the cluster is not a
// private one. TW_PG_PORT names a PostgreSQL cluster to use (user tw, trust); without it a
// private one is started with the repository's scripts/pg.sh and stopped at the end.
//
// The replication and the change propagation run the way a server runs them: a local
// installation (taskrun_install.h) with sqlcli links on ODBC data sources and the activity run
// by name by taskrun, timed from spawn to exit. Beside each, on the same data, sqlite3 doing
// the same work in one transaction, timed the same way:
// - replica: table A of RECORDS rows, table B differing in 1% of them (changed, missing and
//   extra rows in equal parts), A winning; B a SQLite file or a PostgreSQL table. sqlite3
//   levels a copy of the SQLite B with A attached and three set statements (delete, insert,
//   update). Afterwards each levelled B must hold exactly A's rows.
// - relay: RECORDS change rows (inserts, with an update and a delete every twenty rows) applied
//   to an empty SQLite table; sqlite3 runs the same changes as statements in one transaction.
//   Both tables must then be equal.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bulk_load.h"
#include "flowcore.h"
#include "odbc_bench.h"
#include "taskrun_install.h"

namespace {

using bulk_load::ActivityText;
using bulk_load::Output;
using odbc_bench::Cluster;
using odbc_bench::PgDatabase;
using odbc_bench::Psql;
using taskrun_install::Installation;
using taskrun_install::Run;
using taskrun_install::SecondsSince;
using taskrun_install::TaskrunRun;

constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kOdbcDrivers[] = "/usr/lib/x86_64-linux-gnu/odbc/";
constexpr char kKeep[] = "REPLICA_BENCH_KEEP";

size_t RecordCount() {
  return bulk_load::EnvCount("REPLICA_BENCH_RECORDS", 100000);
}
std::string N() {
  return std::to_string(RecordCount());
}

// sqlite3 on file with the statements given; its exit code (its output in *out when given).
int Sqlite(const std::string& dir, const std::string& file, const std::string& sql,
           std::string* out = nullptr) {
  int code = -1;
  std::string text = Output({kSqlite3, "-bail", dir + file, sql}, dir, &code);
  if (out != nullptr) *out = text;
  return code;
}

// Table A, and B differing from it in 1%: every 300th row changed, every 300th (shifted)
// missing, and as many rows beyond A's.
const std::string kTable = "CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(40), n INTEGER);";
std::string FillA() {
  return kTable + "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
         N() + ") INSERT INTO t SELECT i, 'name ' || i, i * 7 FROM c;";
}
std::string DifferB() {
  return "UPDATE t SET v = 'changed' WHERE k % 300 = 0; DELETE FROM t WHERE k % 300 = 100;"
         "INSERT INTO t SELECT k + " +
         N() + ", v, n FROM t WHERE k % 300 = 200;";
}

// The ODBC configuration of the installation with the data sources given (name, driver file,
// attributes), for every process from here.
std::string WriteOdbc(
    const std::string& dir,
    const std::vector<std::pair<std::string, std::vector<std::string>>>& sources) {
  std::ofstream(dir + "odbcinst.ini")
      << "[SQLITE3]\nDriver=" << kOdbcDrivers
      << "libsqlite3odbc.so\n\n[PG]\nDriver=" << kOdbcDrivers << "psqlodbcw.so\n";
  std::ofstream ini(dir + "odbc.ini");
  for (const auto& [name, attributes] : sources) {
    ini << "[" << name << "]\n";
    for (const std::string& a : attributes) ini << a << "\n";
  }
  ini.close();
  if (!ini) return "cannot write odbc.ini";
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINI", (dir + "odbc.ini").c_str(), 1);
  return {};
}

// Runs the activity by name; empty, or what failed with the activity log.
std::string RunTimed(Installation& inst, const std::string& activity, TaskrunRun* run) {
  if (std::string failure = inst.Serve(); !failure.empty()) return failure;
  *run = inst.RunActivity(activity);
  const bool stopped = inst.Stop();
  if (run->exitCode != 0) {
    std::fprintf(stderr, "taskrun exited with %d; the activity log says:\n%s\n", run->exitCode,
                 ActivityText(inst.ActivityLog()).c_str());
    return "taskrun did not complete the activity (its log is above)";
  }
  return stopped ? std::string() : "ctlstore did not end when asked";
}

void Report(benchmark::State& state, const TaskrunRun& run, double refSeconds) {
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["records_per_s"] = records / run.seconds;
  state.counters["ref_records_per_s"] = records / refSeconds;
  // Above 1: taskrun is faster than sqlite3.
  state.counters["ratio_to_ref"] = refSeconds / run.seconds;
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["cpu_s"] = run.CpuSeconds();
}

// sqlite3 levelling ref.db's B with a.db's A; its time, or -1.
double LevelWithSqlite3(const std::string& dir) {
  const auto start = std::chrono::steady_clock::now();
  const int code =
      Sqlite(dir, "ref.db",
             "ATTACH 'a.db' AS a; BEGIN;"
             "DELETE FROM main.t WHERE k NOT IN (SELECT k FROM a.t);"
             "INSERT INTO main.t SELECT * FROM a.t WHERE k NOT IN (SELECT k FROM main.t);"
             "UPDATE main.t SET v = (SELECT v FROM a.t WHERE a.t.k = main.t.k),"
             " n = (SELECT n FROM a.t WHERE a.t.k = main.t.k) WHERE EXISTS (SELECT 1 FROM a.t"
             " WHERE a.t.k = main.t.k AND (a.t.v IS NOT main.t.v OR a.t.n IS NOT main.t.n));"
             "COMMIT;");
  return code == 0 ? SecondsSince(start) : -1;
}

// The rows of table in file that are not A's, and A's that are not there: "0|0" when equal.
std::string Difference(const std::string& dir, const std::string& file) {
  std::string out;
  Sqlite(dir, file,
         "ATTACH 'a.db' AS a; SELECT (SELECT count(*) FROM (SELECT * FROM main.t EXCEPT SELECT * "
         "FROM a.t)) || '|' || (SELECT count(*) FROM (SELECT * FROM a.t EXCEPT SELECT * FROM "
         "main.t));",
         &out);
  return out;
}

// The replication of A (a.db) into B: b.db, or the PostgreSQL database when given.
void Replicate(benchmark::State& state, PgDatabase* pg, const std::string& port) {
  Installation inst("replica_taskrun", "REPLICABENCH", kKeep);
  std::string failure = inst.Make({"replica.twx", "sqlcli.twx"});
  const std::string& dir = inst.dir();
  if (failure.empty() &&
      (Sqlite(dir, "a.db", FillA()) != 0 || Sqlite(dir, "ref.db", FillA() + DifferB()) != 0))
    failure = "cannot fill the SQLite tables";
  if (failure.empty() && pg == nullptr && Sqlite(dir, "b.db", FillA() + DifferB()) != 0)
    failure = "cannot fill b.db";
  if (failure.empty() && pg != nullptr) {
    int code = -1;
    Psql(port, pg->name(),
         {kTable,
          "INSERT INTO t SELECT i, 'name ' || i, i * 7 FROM generate_series(1, " + N() + ") AS i",
          DifferB()},
         &code);
    if (code != 0) failure = "cannot fill the PostgreSQL table";
  }
  std::vector<std::pair<std::string, std::vector<std::string>>> sources = {
      {"benchA", {"Driver=SQLITE3", "Database=" + dir + "a.db", "Timeout=5000"}}};
  if (pg == nullptr)
    sources.push_back({"benchB", {"Driver=SQLITE3", "Database=" + dir + "b.db", "Timeout=5000"}});
  else
    sources.push_back({"benchB",
                       {"Driver=PG", "Servername=127.0.0.1", "Port=" + port,
                        "Database=" + pg->name(), "Username=tw"}});
  if (failure.empty()) failure = WriteOdbc(dir, sources);
  for (const auto& [name, items] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"Link\\Sqlcli", {"Name=LinkA", "Server=benchA"}},
           {"Link\\Sqlcli", {"Name=LinkB", "Server=benchB", "Userid=tw"}},
           {"Activity\\Replication",
            {"Name=ReplicaBench", "SrcLink=LinkA", "DestLink=LinkB", "LinkAMetadata=t",
             "LinkBMetadata=t", "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k",
             "WinConflict:number=1"}}})
    if (failure.empty()) failure = inst.New(name, items);
  TaskrunRun run;
  for (auto _ : state)
    if (failure.empty()) failure = RunTimed(inst, "ReplicaBench", &run);
  const double refSeconds = failure.empty() ? LevelWithSqlite3(dir) : -1;
  if (failure.empty() && refSeconds < 0) failure = "sqlite3 could not level its copy";
  if (failure.empty() && Difference(dir, "ref.db") != "0|0") failure = "sqlite3 left differences";
  if (failure.empty() && pg == nullptr && Difference(dir, "b.db") != "0|0")
    failure = "the replica left differences in b.db";
  if (failure.empty() && pg != nullptr) {
    int code = -1;
    const std::string sums =
        Psql(port, pg->name(), {"SELECT count(*), sum(k), sum(n), sum(length(v)) FROM t"}, &code);
    std::string expected;
    Sqlite(dir, "a.db", "SELECT count(*), sum(k), sum(n), sum(length(v)) FROM t", &expected);
    if (code != 0 || sums != expected)
      failure = "the replica left PostgreSQL at " + sums + ", A is " + expected;
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Report(state, run, refSeconds);
}

void BM_ReplicaSqliteToSqlite(benchmark::State& state) {
  Replicate(state, nullptr, {});
}

void BM_ReplicaSqliteToPostgresql(benchmark::State& state) {
  Cluster cluster;
  std::string failure = cluster.Start();
  std::unique_ptr<PgDatabase> pg;
  if (failure.empty()) {
    pg = std::make_unique<PgDatabase>(cluster.port(), kKeep);
    failure = pg->Create();
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Replicate(state, pg.get(), cluster.port());
}

// The change rows: every row inserts its key, except every twentieth, which updates the key
// before it, and every twentieth shifted by ten, which deletes the key two before it.
std::string FillChanges() {
  return "CREATE TABLE chg (XDBSNAP_COMMITSEQ BLOB, XDBSNAP_INTENTSEQ BLOB, XDBSNAP_OPERATION "
         "CHAR(1), XDBSNAP_LOGMARKER TIMESTAMP, k INTEGER, v VARCHAR(40));"
         "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
         N() +
         ") INSERT INTO chg SELECT CAST(printf('%010d', i) AS BLOB), CAST(printf('%010d', i) AS "
         "BLOB), CASE i % 20 WHEN 0 THEN 'U' WHEN 10 THEN 'D' ELSE 'I' END, NULL, CASE i % 20 "
         "WHEN 0 THEN i - 1 WHEN 10 THEN i - 2 ELSE i END, 'value ' || i FROM c;";
}

void BM_RelayIntoSqlite(benchmark::State& state) {
  Installation inst("relay_taskrun", "RELAYBENCH", kKeep);
  std::string failure = inst.Make({"relay.twx", "sqlcli.twx"});
  const std::string& dir = inst.dir();
  const std::string dest = "CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(40));";
  if (failure.empty() && (Sqlite(dir, "src.db", FillChanges()) != 0 ||
                          Sqlite(dir, "dest.db", dest) != 0 || Sqlite(dir, "ref.db", dest) != 0))
    failure = "cannot make the SQLite tables";
  // The same changes as statements, in commit order, for sqlite3.
  std::string statements;
  if (failure.empty() &&
      Sqlite(dir, "src.db",
             "SELECT CASE XDBSNAP_OPERATION WHEN 'I' THEN 'INSERT OR REPLACE INTO t VALUES (' || k "
             "|| ', ' || quote(v) || ');' WHEN 'U' THEN 'UPDATE t SET v = ' || quote(v) || ' WHERE "
             "k = ' || k || ';' ELSE 'DELETE FROM t WHERE k = ' || k || ';' END FROM chg ORDER BY "
             "XDBSNAP_COMMITSEQ",
             &statements) != 0)
    failure = "cannot list the changes";
  if (failure.empty()) {
    std::ofstream(dir + "apply.sql") << "BEGIN;\n" << statements << "\nCOMMIT;\n";
    failure = WriteOdbc(
        dir, {{"benchSrc", {"Driver=SQLITE3", "Database=" + dir + "src.db", "Timeout=5000"}},
              {"benchDest", {"Driver=SQLITE3", "Database=" + dir + "dest.db", "Timeout=5000"}}});
  }
  for (const auto& [name, items] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"Link\\Sqlcli", {"Name=Changes", "Server=benchSrc"}},
           {"Link\\Sqlcli", {"Name=Target", "Server=benchDest"}},
           {"Activity\\Change Propagation",
            {"Name=RelayBench", "SrcLink=Changes", "DestLink=Target", "SrcMetadata=chg",
             "DestMetadata=t", "LastDiffSeq=00000000000000000000", "KeyFieldList:textlist=k"}}})
    if (failure.empty()) failure = inst.New(name, items);
  TaskrunRun run;
  for (auto _ : state)
    if (failure.empty()) failure = RunTimed(inst, "RelayBench", &run);
  double refSeconds = -1;
  if (failure.empty()) {
    const auto start = std::chrono::steady_clock::now();
    if (Sqlite(dir, "ref.db", ".read apply.sql") != 0) failure = "sqlite3 could not apply";
    refSeconds = SecondsSince(start);
  }
  std::string difference;
  if (failure.empty())
    Sqlite(dir, "dest.db",
           "ATTACH 'ref.db' AS r; SELECT (SELECT count(*) FROM t) || '|' || (SELECT count(*) FROM "
           "(SELECT * FROM main.t EXCEPT SELECT * FROM r.t)) || '|' || (SELECT count(*) FROM "
           "(SELECT * FROM r.t EXCEPT SELECT * FROM main.t));",
           &difference);
  if (failure.empty() && difference.substr(difference.find('|')) != "|0|0")
    failure = "the tables differ: " + difference;
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  std::fprintf(stderr, "relay: rows in the destination|ours only|sqlite3's only: %s\n",
               difference.c_str());
  Report(state, run, refSeconds);
}

}  // namespace

BENCHMARK(BM_ReplicaSqliteToSqlite)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReplicaSqliteToPostgresql)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RelayIntoSqlite)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
