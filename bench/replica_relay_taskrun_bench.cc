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
// by name by taskrun, timed from spawn to exit. Beside each, on the same data, the databases'
// own clients, timed the same way:
// - replica, SQLite to PostgreSQL and PostgreSQL to SQLite: table A of RECORDS rows, table B
//   differing in 1% or 50% of them (changed, missing and extra rows in equal parts), A
//   winning. Two anchors: the read floor (sqlite3 -csv and psql \copy reading both tables in
//   key order) and the levelling statements (one UPDATE, INSERT or DELETE a difference, in key
//   order) applied to a copy of B by psql -1 -f or by sqlite3 in one transaction. Afterwards
//   B and the copy must hold exactly A's rows.
// - relay into SQLite and into PostgreSQL: RECORDS change rows (inserts, with an update and a
//   delete every twenty rows) applied to an empty table; the anchor applies the same changes
//   as statements in one transaction (sqlite3, psql -1 -f). Both tables must then be equal.
// Each ratio is ours over the anchor's time: below 1, taskrun is the faster.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bulk_load.h"
#include "flowcore.h"
#include "odbc_bare.h"
#include "odbc_bench.h"
#include "taskrun_install.h"

namespace {

using bulk_load::ActivityText;
using bulk_load::Output;
using odbc_bench::Cluster;
using odbc_bench::PgDatabase;
using odbc_bench::Psql;
using taskrun_install::Installation;
using taskrun_install::SecondsSince;
using taskrun_install::TaskrunRun;

constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kOdbcDrivers[] = "/usr/lib/x86_64-linux-gnu/odbc/";
constexpr char kKeep[] = "REPLICA_BENCH_KEEP";

using Sources = std::vector<std::pair<std::string, std::vector<std::string>>>;

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

// psql's arguments for the database, before its commands.
std::vector<std::string> PsqlArgs(const std::string& port, const std::string& database) {
  return {odbc_bench::kPsql,
          "-X",
          "-q",
          "-v",
          "ON_ERROR_STOP=1",
          "-h",
          "127.0.0.1",
          "-p",
          port,
          "-U",
          "tw",
          "-d",
          database};
}

// Seconds the program took, or -1 when it failed.
double Timed(const std::vector<std::string>& args, const std::string& dir) {
  const auto start = std::chrono::steady_clock::now();
  const int code = taskrun_install::Run(args, dir, "/dev/null");
  return code == 0 ? SecondsSince(start) : -1;
}

// The differences of B from A: of every `every` keys, one changed, one missing, and one copied
// beyond A's keys (every 300: 1%, every 6: 50%).
struct Differing {
  int every;
  const char* name;
};
constexpr Differing kOnePercent{300, "1%"};
constexpr Differing kHalf{6, "50%"};

std::string FillSqlite(const std::string& table) {
  return "CREATE TABLE " + table +
         " (k INTEGER PRIMARY KEY, v VARCHAR(40), n INTEGER);"
         "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
         N() + ") INSERT INTO " + table + " SELECT i, 'name ' || i, i * 7 FROM c;";
}
std::vector<std::string> FillPg(const std::string& table) {
  return {"CREATE TABLE " + table + " (k INTEGER PRIMARY KEY, v VARCHAR(40), n INTEGER)",
          "INSERT INTO " + table + " SELECT i, 'name ' || i, i * 7 FROM generate_series(1, " + N() +
              ") AS i"};
}
// The same statements on either database.
std::string Differ(const std::string& table, Differing d) {
  const std::string m = std::to_string(d.every);
  return "UPDATE " + table + " SET v = 'changed' WHERE k % " + m + " = 0; DELETE FROM " + table +
         " WHERE k % " + m + " = 1; INSERT INTO " + table + " SELECT k + " + N() + ", v, n FROM " +
         table + " WHERE k % " + m + " = 2;";
}
// The changes that level B with A, in key order, the deletes of the keys beyond A's last.
std::vector<odbc_bare::Change> LevellingChanges(Differing d) {
  std::vector<odbc_bare::Change> changes;
  const int n = static_cast<int>(RecordCount());
  for (int k = 1; k <= n; ++k)
    if (k % d.every == 0 || k % d.every == 1)
      changes.push_back({k % d.every == 0 ? 'U' : 'I', k, "name " + std::to_string(k), k * 7});
  for (int k = 1; k <= n; ++k)
    if (k % d.every == 2) changes.push_back({'D', k + n, {}, 0});
  return changes;
}
// Those changes as statements on table.
std::string LevellingStatements(const std::string& table, Differing d) {
  std::string text;
  for (const odbc_bare::Change& c : LevellingChanges(d)) {
    const std::string key = std::to_string(c.k), n = std::to_string(c.n);
    if (c.kind == 'U')
      text += "UPDATE " + table + " SET v = '" + c.v + "', n = " + n + " WHERE k = " + key + ";\n";
    else if (c.kind == 'I')
      text += "INSERT INTO " + table + " VALUES (" + key + ", '" + c.v + "', " + n + ");\n";
    else
      text += "DELETE FROM " + table + " WHERE k = " + key + ";\n";
  }
  return text;
}
// The bare client's statements for table t of the replication.
const std::vector<odbc_bare::Writer> kReplicaWriters = {
    {'U', "UPDATE t SET v = ?, n = ? WHERE k = ?", "vnk"},
    {'I', "INSERT INTO t VALUES (?, ?, ?)", "kvn"},
    {'D', "DELETE FROM t WHERE k = ?", "k"}};

// The ODBC configuration of the installation with the data sources given (name, attributes),
// for every process from here.
std::string WriteOdbc(const std::string& dir, const Sources& sources) {
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
std::vector<std::string> SqliteSource(const std::string& file) {
  return {"Driver=SQLITE3", "Database=" + file, "Timeout=5000"};
}
std::vector<std::string> PgSource(const std::string& port, const std::string& database) {
  return {"Driver=PG", "Servername=127.0.0.1", "Port=" + port, "Database=" + database,
          "Username=tw"};
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

void Report(benchmark::State& state, const TaskrunRun& run,
            const std::vector<std::pair<const char*, double>>& anchors) {
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["records_per_s"] = records / run.seconds;
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["cpu_s"] = run.CpuSeconds();
  for (const auto& [name, seconds] : anchors) {
    state.counters[std::string(name) + "_s"] = seconds;
    state.counters[std::string("ours_over_") + name] = run.seconds / seconds;
  }
}

// Beside the anchors, the bare client of the same driver: its time and peak, and ours over it.
void ReportBare(benchmark::State& state, const TaskrunRun& run, const odbc_bare::BareRun& bare) {
  state.counters["bare_s"] = bare.seconds;
  state.counters["bare_peak_MiB"] = bare.peakMiB;
  state.counters["ours_over_bare"] = run.seconds / bare.seconds;
  double load[1] = {0};
  std::fprintf(stderr, "taskrun %.3f s, bare client %.3f s: ratio %.2f, load %.2f\n", run.seconds,
               bare.seconds, run.seconds / bare.seconds,
               ::getloadavg(load, 1) == 1 ? load[0] : -1.0);
}

// count, sum(k), sum(n), sum(length(v)) of a table, from either client.
const char kSums[] =
    "SELECT count(*) || '|' || sum(k) || '|' || sum(n) || '|' || sum(length(v)) FROM ";

// The replication of A into B, one of them a SQLite file, the other a PostgreSQL table.
void Replicate(benchmark::State& state, bool fromSqlite, Differing d) {
  Cluster cluster;
  std::string failure = cluster.Start();
  std::unique_ptr<PgDatabase> pg;
  if (failure.empty()) {
    pg = std::make_unique<PgDatabase>(cluster.port(), kKeep);
    failure = pg->Create();
  }
  Installation inst("replica_taskrun", "REPLICABENCH", kKeep);
  if (failure.empty()) failure = inst.Make({"replica.twx", "sqlcli.twx"});
  const std::string& dir = inst.dir();
  const std::string port = cluster.port();
  const std::string db = pg ? pg->name() : std::string();
  // The SQLite side is lite.db (table t, and its copy for the anchor in ref.db); the
  // PostgreSQL side is table t (its copy r).
  int code = -1;
  if (failure.empty()) {
    const std::string lite = FillSqlite("t") + (fromSqlite ? "" : Differ("t", d));
    const std::string ref = FillSqlite("t") + Differ("t", d);
    if (Sqlite(dir, "lite.db", lite) != 0 ||
        (!fromSqlite && (Sqlite(dir, "ref.db", ref) != 0 || Sqlite(dir, "bare.db", ref) != 0)))
      failure = "cannot fill the SQLite tables";
  }
  if (failure.empty()) {
    std::vector<std::string> sql = FillPg("t");
    if (fromSqlite) {
      sql.push_back(Differ("t", d));
      for (const std::string& s : FillPg("r")) sql.push_back(s);
      sql.push_back(Differ("r", d));
    }
    sql.push_back("VACUUM ANALYZE");
    Psql(port, db, sql, &code);
    if (code != 0) failure = "cannot fill the PostgreSQL tables";
  }
  if (failure.empty()) {
    std::ofstream apply(dir + "apply.sql");
    if (fromSqlite)
      apply << LevellingStatements("r", d);
    else
      apply << "BEGIN;\n" << LevellingStatements("t", d) << "COMMIT;\n";
    if (!apply) failure = "cannot write apply.sql";
  }
  const auto lite = SqliteSource(dir + "lite.db");
  const auto post = PgSource(port, db);
  if (failure.empty())
    failure = WriteOdbc(dir, {{"benchA", fromSqlite ? lite : post},
                              {"benchB", fromSqlite ? post : lite},
                              {"benchBare", SqliteSource(dir + "bare.db")}});
  for (const auto& [name, items] :
       Sources{{"Link\\Sqlcli", {"Name=LinkA", "Server=benchA", "Userid=tw"}},
               {"Link\\Sqlcli", {"Name=LinkB", "Server=benchB", "Userid=tw"}},
               {"Activity\\Replication",
                {"Name=ReplicaBench", "SrcLink=LinkA", "DestLink=LinkB", "LinkAMetadata=t",
                 "LinkBMetadata=t", "LinkAOrderList:textlist=k", "LinkBOrderList:textlist=k",
                 "WinConflict:number=1"}}})
    if (failure.empty()) failure = inst.New(name, items);
  TaskrunRun run;
  for (auto _ : state)
    if (failure.empty()) failure = RunTimed(inst, "ReplicaBench", &run);

  std::vector<std::string> psqlApply = PsqlArgs(port, db);
  for (const char* a : {"-1", "-f"}) psqlApply.push_back(a);
  psqlApply.push_back(dir + "apply.sql");
  const double applySeconds =
      !failure.empty() ? -1
      : fromSqlite     ? Timed(psqlApply, dir)
                       : Timed({kSqlite3, "-bail", dir + "ref.db", ".read apply.sql"}, dir);
  if (failure.empty() && applySeconds < 0) failure = "the anchor could not apply its statements";
  // Into SQLite, the same changes through the same driver by a bare client.
  odbc_bare::BareRun bare;
  if (failure.empty() && !fromSqlite) {
    const std::vector<odbc_bare::Change> changes = LevellingChanges(d);
    bare = odbc_bare::InChild([&](int, long long* rows) {
      return odbc_bare::Apply("DSN=benchBare", kReplicaWriters, changes, rows);
    });
    failure = bare.failure;
  }
  std::vector<std::string> psqlRead = PsqlArgs(port, db);
  psqlRead.push_back("-c");
  psqlRead.push_back("\\copy (SELECT k, v, n FROM t ORDER BY k) TO '/dev/null'");
  const double liteRead =
      failure.empty()
          ? Timed({kSqlite3, "-csv", dir + "lite.db", "SELECT k, v, n FROM t ORDER BY k"}, dir)
          : -1;
  const double pgRead = failure.empty() ? Timed(psqlRead, dir) : -1;
  if (failure.empty() && (liteRead < 0 || pgRead < 0)) failure = "the read floor failed";

  // Every table must now hold A's rows.
  if (failure.empty()) {
    std::string expected, liteSums, refSums;
    const std::string pgSums = Psql(port, db, {std::string(kSums) + "t"}, &code);
    const std::string pgRef = fromSqlite ? Psql(port, db, {std::string(kSums) + "r"}, &code) : "";
    Sqlite(dir, "lite.db", std::string(kSums) + "t", &liteSums);
    std::string bareSums;
    if (!fromSqlite) Sqlite(dir, "ref.db", std::string(kSums) + "t", &refSums);
    if (!fromSqlite) Sqlite(dir, "bare.db", std::string(kSums) + "t", &bareSums);
    expected = fromSqlite ? liteSums : pgSums;
    const std::string& levelled = fromSqlite ? pgSums : liteSums;
    const std::string& anchor = fromSqlite ? pgRef : refSums;
    if (levelled != expected)
      failure = "the replica left B at " + levelled + ", A is " + expected;
    else if (anchor != expected)
      failure = "the anchor left its copy at " + anchor + ", A is " + expected;
    else if (!fromSqlite && bareSums != expected)
      failure = "the bare client left its copy at " + bareSums + ", A is " + expected;
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Report(state, run, {{"apply", applySeconds}, {"read_floor", liteRead + pgRead}});
  if (!fromSqlite) {
    ReportBare(state, run, bare);
    // The least a replication into SQLite does: read both sides, and write through the driver
    // that compiles its statement at every execution.
    const double floor = liteRead + pgRead + bare.seconds;
    state.counters["ours_over_read_floor_and_bare"] = run.seconds / floor;
    std::fprintf(stderr, "read floor and bare writes %.3f s: ratio %.2f\n", floor,
                 run.seconds / floor);
  }
}

void BM_ReplicaSqliteToPostgresql1(benchmark::State& state) {
  Replicate(state, true, kOnePercent);
}
void BM_ReplicaSqliteToPostgresql50(benchmark::State& state) {
  Replicate(state, true, kHalf);
}
void BM_ReplicaPostgresqlToSqlite1(benchmark::State& state) {
  Replicate(state, false, kOnePercent);
}
void BM_ReplicaPostgresqlToSqlite50(benchmark::State& state) {
  Replicate(state, false, kHalf);
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

// The change rows applied to an empty table t, in SQLite (dest.db) or PostgreSQL.
void Relay(benchmark::State& state, bool intoPostgresql) {
  Cluster cluster;
  std::string failure;
  std::unique_ptr<PgDatabase> pg;
  if (intoPostgresql) {
    failure = cluster.Start();
    if (failure.empty()) {
      pg = std::make_unique<PgDatabase>(cluster.port(), kKeep);
      failure = pg->Create();
    }
  }
  Installation inst("relay_taskrun", "RELAYBENCH", kKeep);
  if (failure.empty()) failure = inst.Make({"relay.twx", "sqlcli.twx"});
  const std::string& dir = inst.dir();
  const std::string port = cluster.port();
  const std::string db = pg ? pg->name() : std::string();
  const std::string dest = "CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(40));";
  const std::string updateFirstDest = "CREATE TABLE u (k INTEGER PRIMARY KEY, v VARCHAR(40));";
  const std::string ref = intoPostgresql ? "r" : "t";
  if (failure.empty() && Sqlite(dir, "src.db", FillChanges()) != 0)
    failure = "cannot make the change table";
  if (failure.empty() && !intoPostgresql &&
      (Sqlite(dir, "dest.db", dest) != 0 || Sqlite(dir, "ref.db", dest) != 0 ||
       Sqlite(dir, "bare.db", dest + updateFirstDest) != 0))
    failure = "cannot make the SQLite tables";
  int code = -1;
  if (failure.empty() && intoPostgresql) {
    Psql(port, db,
         {"CREATE TABLE t (k INTEGER PRIMARY KEY, v VARCHAR(40))",
          "CREATE TABLE r (k INTEGER PRIMARY KEY, v VARCHAR(40))",
          "CREATE TABLE b (k INTEGER PRIMARY KEY, v VARCHAR(40))",
          "CREATE TABLE u (k INTEGER PRIMARY KEY, v VARCHAR(40))",
          "CREATE TABLE a (k INTEGER PRIMARY KEY, v VARCHAR(40))"},
         &code);
    if (code != 0) failure = "cannot make the PostgreSQL tables";
  }
  // The same changes as statements, in commit order.
  std::string statements;
  if (failure.empty() &&
      Sqlite(dir, "src.db",
             "SELECT CASE XDBSNAP_OPERATION WHEN 'I' THEN 'INSERT INTO " + ref +
                 " VALUES (' || k || ', ' || quote(v) || ');' WHEN 'U' THEN 'UPDATE " + ref +
                 " SET v = ' || quote(v) || ' WHERE k = ' || k || ';' ELSE 'DELETE FROM " + ref +
                 " WHERE k = ' || k || ';' END FROM chg ORDER BY XDBSNAP_COMMITSEQ",
             &statements) != 0)
    failure = "cannot list the changes";
  if (failure.empty()) {
    if (intoPostgresql)
      std::ofstream(dir + "apply.sql") << statements << "\n";
    else
      std::ofstream(dir + "apply.sql") << "BEGIN;\n" << statements << "\nCOMMIT;\n";
    failure = WriteOdbc(
        dir, {{"benchSrc", SqliteSource(dir + "src.db")},
              {"benchDest", intoPostgresql ? PgSource(port, db) : SqliteSource(dir + "dest.db")},
              {"benchBare", intoPostgresql ? PgSource(port, db) : SqliteSource(dir + "bare.db")}});
  }
  for (const auto& [name, items] :
       Sources{{"Link\\Sqlcli", {"Name=Changes", "Server=benchSrc"}},
               {"Link\\Sqlcli", {"Name=Target", "Server=benchDest", "Userid=tw"}},
               {"Activity\\Change Propagation",
                {"Name=RelayBench", "SrcLink=Changes", "DestLink=Target", "SrcMetadata=chg",
                 "DestMetadata=t", "LastDiffSeq=00000000000000000000", "KeyFieldList:textlist=k"}}})
    if (failure.empty()) failure = inst.New(name, items);
  TaskrunRun run;
  for (auto _ : state)
    if (failure.empty()) failure = RunTimed(inst, "RelayBench", &run);
  double refSeconds = -1;
  if (failure.empty()) {
    std::vector<std::string> psqlApply = PsqlArgs(port, db);
    for (const char* a : {"-1", "-f"}) psqlApply.push_back(a);
    psqlApply.push_back(dir + "apply.sql");
    refSeconds = intoPostgresql
                     ? Timed(psqlApply, dir)
                     : Timed({kSqlite3, "-bail", dir + "ref.db", ".read apply.sql"}, dir);
    if (refSeconds < 0) failure = "the anchor could not apply its statements";
  }
  // The same changes through the same driver by a bare client (into PostgreSQL tables b and
  // then u, into SQLite tables t and u of bare.db), the second with each insert an update
  // first, as taskrun applies an insert image (psqlODBC without its statement savepoints, as
  // the connector sets it). The SQLite driver compiles its statement at every execution, so
  // that the update first costs a second compilation an insert image.
  odbc_bare::BareRun bare, bareUpdateFirst, bareArrays, bareRead;
  if (failure.empty()) {
    std::string listed;
    if (Sqlite(dir, "src.db",
               "SELECT XDBSNAP_OPERATION || '|' || k || '|' || v FROM chg ORDER BY "
               "XDBSNAP_COMMITSEQ",
               &listed) != 0)
      failure = "cannot list the changes";
    std::vector<odbc_bare::Change> changes;
    for (size_t at = 0; failure.empty() && at < listed.size();) {
      size_t end = listed.find('\n', at);
      if (end == std::string::npos) end = listed.size();
      const std::string line = listed.substr(at, end - at);
      const size_t bar = line.find('|', 2);
      if (line.size() < 3 || bar == std::string::npos) {
        failure = "cannot read the change " + line;
        break;
      }
      changes.push_back({line[0], std::stoi(line.substr(2, bar - 2)), line.substr(bar + 1), 0});
      at = end + 1;
    }
    const std::string connect = intoPostgresql ? "DSN=benchBare;Protocol=7.4-0" : "DSN=benchBare";
    auto apply = [&](const std::string& table, bool updateFirst) {
      const std::string insert = "INSERT INTO " + table + " VALUES (?, ?)",
                        update = "UPDATE " + table + " SET v = ? WHERE k = ?",
                        remove = "DELETE FROM " + table + " WHERE k = ?";
      return odbc_bare::InChild([&](int, long long* rows) {
        return odbc_bare::Apply(
            connect,
            {{'I', insert.c_str(), "kv"}, {'U', update.c_str(), "vk"}, {'D', remove.c_str(), "k"}},
            changes, rows, updateFirst);
      });
    };
    if (failure.empty()) {
      bare = apply(intoPostgresql ? "b" : "t", false);
      failure = bare.failure;
    }
    if (failure.empty()) {
      bareUpdateFirst = apply("u", true);
      failure = bareUpdateFirst.failure;
    }
    // And the change rows read in commit order through the SQLite driver, as taskrun reads
    // them before it writes.
    if (failure.empty()) {
      bareRead = odbc_bare::InChild([&](int, long long* rows) {
        return odbc_bare::ReadInTransaction(
            "DSN=benchSrc", "SELECT * FROM chg ORDER BY XDBSNAP_COMMITSEQ, XDBSNAP_INTENTSEQ",
            rows);
      });
      failure = bareRead.failure;
    }
    // And in table a, inserts and updates in arrays, an update first (one round trip a
    // stretch when the driver sends a stretch at once).
    if (failure.empty() && intoPostgresql) {
      bareArrays = odbc_bare::InChild([&](int, long long* rows) {
        return odbc_bare::ApplyInArrays(connect, "a", changes, rows);
      });
      failure = bareArrays.failure;
    }
    std::string differ;
    if (failure.empty() && intoPostgresql)
      differ = Psql(port, db,
                    {"SELECT (SELECT count(*) FROM (SELECT * FROM t EXCEPT SELECT * FROM b) AS d) "
                     "+ (SELECT count(*) FROM (SELECT * FROM b EXCEPT SELECT * FROM t) AS d) + "
                     "(SELECT count(*) FROM (SELECT * FROM t EXCEPT SELECT * FROM u) AS d) + "
                     "(SELECT count(*) FROM (SELECT * FROM u EXCEPT SELECT * FROM t) AS d) + "
                     "(SELECT count(*) FROM (SELECT * FROM t EXCEPT SELECT * FROM a) AS d) + "
                     "(SELECT count(*) FROM (SELECT * FROM a EXCEPT SELECT * FROM t) AS d)"},
                    &code);
    else if (failure.empty())
      Sqlite(dir, "dest.db",
             "ATTACH 'bare.db' AS b; SELECT (SELECT count(*) FROM (SELECT * FROM main.t EXCEPT "
             "SELECT * FROM b.t)) + (SELECT count(*) FROM (SELECT * FROM b.t EXCEPT SELECT * FROM "
             "main.t)) + (SELECT count(*) FROM (SELECT * FROM main.t EXCEPT SELECT * FROM b.u)) + "
             "(SELECT count(*) FROM (SELECT * FROM b.u EXCEPT SELECT * FROM main.t));",
             &differ);
    if (failure.empty() && differ != "0") failure = "the bare client's table differs: " + differ;
  }
  if (failure.empty()) {
    std::string ours, theirs;
    if (intoPostgresql) {
      ours = Psql(port, db, {"SELECT count(*) || '|' || sum(k) || '|' || sum(length(v)) FROM t"},
                  &code);
      theirs = Psql(port, db,
                    {"SELECT count(*) FROM (SELECT * FROM t EXCEPT SELECT * FROM r) AS d",
                     "SELECT count(*) FROM (SELECT * FROM r EXCEPT SELECT * FROM t) AS d"},
                    &code);
    } else {
      Sqlite(dir, "dest.db", "SELECT count(*) || '|' || sum(k) || '|' || sum(length(v)) FROM t",
             &ours);
      Sqlite(dir, "dest.db",
             "ATTACH 'ref.db' AS r; SELECT (SELECT count(*) FROM (SELECT * FROM main.t EXCEPT "
             "SELECT * FROM r.t)); SELECT (SELECT count(*) FROM (SELECT * FROM r.t EXCEPT SELECT "
             "* FROM main.t));",
             &theirs);
    }
    if (theirs != "0\n0") failure = "the tables differ: " + ours + " / " + theirs;
    std::fprintf(stderr, "relay: the destination's count|sum(k)|sum(length(v)): %s\n",
                 ours.c_str());
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Report(state, run, {{"apply", refSeconds}});
  ReportBare(state, run, bare);
  state.counters["bare_update_first_s"] = bareUpdateFirst.seconds;
  state.counters["ours_over_bare_update_first"] = run.seconds / bareUpdateFirst.seconds;
  state.counters["bare_update_first_over_apply"] = bareUpdateFirst.seconds / refSeconds;
  std::fprintf(stderr,
               "bare client with each insert an update first %.3f s: ratio %.2f, %.2f of the "
               "database's own client\n",
               bareUpdateFirst.seconds, run.seconds / bareUpdateFirst.seconds,
               bareUpdateFirst.seconds / refSeconds);
  // The least taskrun does through these drivers: read the changes, then write them with each
  // insert an update first.
  const double floor = bareRead.seconds + bareUpdateFirst.seconds;
  state.counters["bare_read_s"] = bareRead.seconds;
  state.counters["ours_over_bare_read_and_update_first"] = run.seconds / floor;
  // Where the driver sets the limit: the bare client's read and writes against the database's
  // own client. Above 1, no client of this driver meets the anchor.
  state.counters["bare_read_and_update_first_over_apply"] = floor / refSeconds;
  double load[1] = {0};
  std::fprintf(stderr,
               "relay into %s: taskrun %.3f s, %s %.3f s (ours %.2f); through the same driver a "
               "bare client reads them in %.3f s and writes them in %.3f s, %.2f of %s (ours %.2f "
               "of it); load %.2f\n",
               intoPostgresql ? "PostgreSQL" : "SQLite", run.seconds,
               intoPostgresql ? "psql -1 -f" : "sqlite3", refSeconds, run.seconds / refSeconds,
               bareRead.seconds, bareUpdateFirst.seconds, floor / refSeconds,
               intoPostgresql ? "psql" : "sqlite3", run.seconds / floor,
               ::getloadavg(load, 1) == 1 ? load[0] : -1.0);
  if (intoPostgresql) {
    state.counters["bare_arrays_s"] = bareArrays.seconds;
    state.counters["bare_arrays_over_apply"] = bareArrays.seconds / refSeconds;
    std::fprintf(stderr, "bare client with arrays of updates, then inserts %.3f s: %.2f of psql\n",
                 bareArrays.seconds, bareArrays.seconds / refSeconds);
  }
}

void BM_RelayIntoSqlite(benchmark::State& state) {
  Relay(state, false);
}
void BM_RelayIntoPostgresql(benchmark::State& state) {
  Relay(state, true);
}

}  // namespace

BENCHMARK(BM_ReplicaSqliteToPostgresql1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReplicaSqliteToPostgresql50)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReplicaPostgresqlToSqlite1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ReplicaPostgresqlToSqlite50)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RelayIntoSqlite)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RelayIntoPostgresql)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
