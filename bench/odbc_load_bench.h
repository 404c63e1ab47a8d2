// The load of a delimited text file into a database table through an ODBC-style connector by
// taskrun, beside the database's own bulk loader (the file, counts and outputs of
// bulk_load.h). A benchmark names its connector (Connector): its module, its link document,
// the environment variables of its settings, and whether the destination table is made
// before the run.
//
// A local installation in a temporary directory (taskrun_install.h) with a flatrec link on the
// file, the connector's link on an ODBC data source of a temporary ODBCSYSINI/ODBCINI, and a
// direct transfer between them that creates the destination table when it is missing;
// ctlstore started from it and taskrun running the activity by name, timed from spawn to
// exit. Beside it, in the same run and on the same file, the database's own bulk loader into
// a table of the same column types (copied from the connector's): `sqlite3 .import --csv` for
// SQLite, `psql \copy ... csv` for PostgreSQL, each timed from spawn to exit as well. A
// connector with goals also has PostgreSQL loaded the way a user without a loader does it,
// `psql -f` with one INSERT a row, and a line on standard error gives taskrun's time beside
// the goal's command and their ratio (above 1: taskrun is faster), for PostgreSQL with the
// ratio to `psql \copy` beside it. All tables must then hold the same rows: count, sum of
// ids, sum of prices in cents, total text length and sum of day numbers. Peak memory is that
// of the taskrun process.
//
// Settings, PREFIX being the connector's: PREFIX_RECORDS the record count (200,000);
// PREFIX_COMMIT the connector's CommitFrequency (the connector's default); PREFIX_KEEP keeps the
// installation with the SQLite files, and the PostgreSQL database when the cluster is not a private
// one; PREFIX_DSN_EXTRA gives driver attributes of the data source ("Key=Value;Key=Value").
// TW_PG_PORT names a PostgreSQL cluster to use (user tw, trust); without it a private one is
// started with the repository's scripts/pg.sh and stopped at the end.
#ifndef TW_BENCH_ODBC_LOAD_BENCH_H_
#define TW_BENCH_ODBC_LOAD_BENCH_H_

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bulk_load.h"
#include "odbc_bench.h"
#include "flowcore.h"
#include "taskrun_install.h"

namespace odbc_load {

// What differs between the connectors loaded.
struct Connector {
  const char* module;    // "sqlcli.twx"
  const char* prefix;    // of the settings' variables and of the temporary directory
  const char* activity;  // the direct transfer's name
  const char* server;    // the installation's server name
  const char* keep;      // PREFIX_KEEP
  // The link document's form and items for the data source kDsn: the user and the commit
  // frequency given.
  const char* linkForm;
  std::vector<std::string> (*linkItems)(const std::string& userid, size_t commitFrequency);
  // The destination table's definition, made before the run; null: the transfer creates it.
  const char* table;
  // CommitFrequency unless PREFIX_COMMIT says otherwise.
  size_t commit = 1000;
  // Names the connector's table in the output ("table made by NAME"); null: "the connector's".
  const char* name = nullptr;
  // The goals printed beside the ratios, as text: against `sqlite3 .import`, and against one
  // INSERT a row through `psql -f` (which is then run); null: no goal line.
  const char* sqliteGoal = nullptr;
  const char* postgresqlGoal = nullptr;
};

using taskrun_install::Installation;
using taskrun_install::Run;
using taskrun_install::SecondsSince;
using taskrun_install::Slurp;
using taskrun_install::TaskrunRun;

constexpr char kOurTable[] = "bench_ours";
constexpr char kRefTable[] = "bench_ref";
constexpr char kAnchorTable[] = "bench_rows";
constexpr char kSqlite3[] = "/usr/bin/sqlite3";
using odbc_bench::kPsql;
constexpr char kOdbcDrivers[] = "/usr/lib/x86_64-linux-gnu/odbc/";
// Records per fetch and insert of the direct transfer.
constexpr uint32_t kBlock = 1000;

// The connector of the running benchmark (one per program).
inline const Connector* gConnector = nullptr;

// The variable PREFIX_name of the connector's settings.
inline std::string Setting(const char* name) {
  return std::string(gConnector->prefix) + "_" + name;
}
inline const char* SettingValue(const char* name) {
  return std::getenv(Setting(name).c_str());
}
inline size_t RecordCount() {
  return bulk_load::EnvCount(Setting("RECORDS").c_str(), 200000);
}
inline size_t CommitFrequency() {
  return bulk_load::EnvCount(Setting("COMMIT").c_str(), gConnector->commit);
}

using bulk_load::ActivityText;
using bulk_load::kZid;
using bulk_load::Output;

// The private PostgreSQL cluster and a database of it, shared with the other ODBC benchmarks.
using odbc_bench::Cluster;
using odbc_bench::Psql;

// A database of the cluster, kept when PREFIX_KEEP is set.
class PgDatabase : public odbc_bench::PgDatabase {
 public:
  explicit PgDatabase(std::string port) : odbc_bench::PgDatabase(std::move(port), Setting("KEEP")) {}
};

// ---------------------------------------------------------------- the databases -------

// The database side of one benchmark: the ODBC data source the connector writes through, the
// database's own loader, and the checksum query. dir is the installation's directory.
class Database {
 public:
  virtual ~Database() = default;
  virtual const char* Loader() const = 0;
  // The driver's file in kOdbcDrivers and the data source's attributes.
  virtual const char* Driver() const = 0;
  virtual std::vector<std::pair<std::string, std::string>> Attributes(
      const std::string& dir) const = 0;
  virtual std::string Userid() const { return {}; }
  // Creates kRefTable with the column types of kOurTable; empty or what failed.
  virtual std::string MakeRefTable(const std::string& dir) const = 0;
  // The loader run on in.csv into kRefTable; its exit code.
  virtual int LoadRef(const std::string& dir) const = 0;
  // The command the goal is measured against when it is not the loader: its name, then the
  // untimed preparation and its timed run into kAnchorTable (exit codes).
  virtual const char* Anchor() const { return nullptr; }
  virtual int PrepareAnchor(const std::string&) const { return 0; }
  virtual int LoadAnchor(const std::string&) const { return 0; }
  // The goal's ratio as text, null for none.
  virtual const char* Goal() const = 0;
  // "rows|ids|cents|text length|days" of table; *code the query's exit code.
  virtual std::string Checksum(const std::string& dir, const char* table, int* code) const = 0;
  // The columns of kOurTable as the database describes them.
  virtual std::string Columns(const std::string& dir, int* code) const = 0;
  // Runs the definition of kOurTable ("(ID ..., ...)"); empty or what failed.
  virtual std::string MakeTable(const std::string& dir, const char* columns) const = 0;
};

inline constexpr char kDsn[] = "benchdb";

inline std::vector<std::string> DataSourceLinkItems(const char* sourceKey, uint32_t sourceToken,
                                                    const std::string& userid,
                                                    size_t commitFrequency) {
  constexpr uint32_t kCommitFrequency = 1;
  return {"Name=BenchDb",
          std::string(sourceKey) + "=" + kDsn,
          "Userid=" + userid,
          "CommitFrequency:number=" + std::to_string(commitFrequency),
          std::string("PropNameList:textlist=") + sourceKey + ",Userid,CommitFrequency",
          "PropTokenList:numberlist=" + std::to_string(sourceToken) + "," +
              std::to_string(TWTOKEN_USERID) + "," + std::to_string(kCommitFrequency)};
}

// The ODBC configuration in the installation directory, given to every process from here.
inline std::string WriteOdbcConfig(const std::string& dir, const Database& db) {
  const std::string driver = std::string(kOdbcDrivers) + db.Driver();
  if (!std::filesystem::exists(driver)) return "no ODBC driver " + driver;
  std::ofstream(dir + "odbcinst.ini") << "[DRIVER]\nDriver=" << driver << "\n";
  std::ofstream ini(dir + "odbc.ini");
  ini << "[" << kDsn << "]\nDriver=DRIVER\n";
  // The driver manager takes the first of two equal keys: the extra attributes go first.
  if (const char* extra = SettingValue("DSN_EXTRA"); extra != nullptr)
    for (char c : std::string(extra) + ";") ini << (c == ';' ? '\n' : c);
  for (const auto& [key, value] : db.Attributes(dir)) ini << key << "=" << value << "\n";
  ini.close();
  if (!ini) return "cannot write odbc.ini";
  ::setenv("ODBCSYSINI", dir.c_str(), 1);
  ::setenv("ODBCINI", (dir + "odbc.ini").c_str(), 1);
  return {};
}

// The installation, its input and its documents: the flatrec source on in.csv, the connector's
// destination on the data source committing every CommitFrequency() records, and the direct
// transfer into kOurTable created when missing. Empty on success, else what failed.
inline std::string Prepare(Installation& inst, const Database& db) {
  std::string failure = inst.Make({"flatrec.twx", gConnector->module});
  if (!failure.empty()) return failure;
  const std::string& dir = inst.dir();
  if (!bulk_load::WriteInput(dir + "in.csv", RecordCount())) return "cannot write the input";
  if (failure = WriteOdbcConfig(dir, db); !failure.empty()) return failure;
  const std::vector<std::pair<std::string, std::vector<std::string>>> documents = {
      {"Link\\Flatrec", bulk_load::FlatrecSourceItems("BenchIn", dir + "in.csv")},
      {gConnector->linkForm, gConnector->linkItems(db.Userid(), CommitFrequency())},
      {"Activity\\Direct Transfer",
       {std::string("Name=") + gConnector->activity, "SrcLink=BenchIn", "DestLink=BenchDb",
        std::string("DestMetadata=") + kOurTable, "Create:number=1",
        "RecordCount:number=" + std::to_string(kBlock)}},
  };
  for (const auto& [form, items] : documents)
    if (failure = inst.New(form, items); !failure.empty()) return failure;
  if (gConnector->table != nullptr) return db.MakeTable(dir, gConnector->table);
  return {};
}

// taskrun's load timed, then the loader's, then both tables compared.
inline void Measure(benchmark::State& state, const Database& db) {
  Installation inst(std::string(gConnector->prefix) + "_taskrun", gConnector->server,
                    gConnector->keep);
  std::string failure = Prepare(inst, db);
  if (failure.empty()) failure = inst.Serve();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const std::string& dir = inst.dir();
  TaskrunRun run;
  for (auto _ : state) run = inst.RunActivity(gConnector->activity);
  const bool stopped = inst.Stop();
  if (run.exitCode != 0) {
    const std::string log = ActivityText(inst.ActivityLog());
    std::fprintf(stderr, "taskrun exited with %d; the activity log says:\n%s\n", run.exitCode,
                 log.c_str());
    failure = "taskrun did not complete the activity (its log is above)";
  } else if (!stopped) {
    failure = "ctlstore did not end when asked";
  }

  // Untimed by the framework: the loader into a table like ours, then the checks.
  double refSeconds = -1;
  if (failure.empty()) failure = db.MakeRefTable(dir);
  if (failure.empty()) {
    const auto start = std::chrono::steady_clock::now();
    const int code = db.LoadRef(dir);
    refSeconds = SecondsSince(start);
    if (code != 0) failure = std::string(db.Loader()) + " failed";
  }
  double anchorSeconds = -1;
  if (failure.empty() && db.Anchor() != nullptr) {
    if (db.PrepareAnchor(dir) != 0) {
      failure = std::string("cannot prepare ") + db.Anchor();
    } else {
      const auto start = std::chrono::steady_clock::now();
      const int code = db.LoadAnchor(dir);
      anchorSeconds = SecondsSince(start);
      if (code != 0) failure = std::string(db.Anchor()) + " failed";
    }
  }
  std::string ours, reference;
  if (failure.empty()) {
    int oursCode = -1, refCode = -1, anchorCode = 0;
    ours = db.Checksum(dir, kOurTable, &oursCode);
    reference = db.Checksum(dir, kRefTable, &refCode);
    const std::string anchored =
        db.Anchor() != nullptr ? db.Checksum(dir, kAnchorTable, &anchorCode) : ours;
    const std::string rows = ours.substr(0, ours.find('|'));
    if (oursCode != 0 || refCode != 0 || anchorCode != 0)
      failure = "the checksum query failed";
    else if (rows != std::to_string(RecordCount()))
      failure = "our table holds " + rows + " rows of " + std::to_string(RecordCount());
    else if (ours != reference)
      failure = "the tables differ: ours " + ours + ", " + db.Loader() + " " + reference;
    else if (ours != anchored)
      failure = "the tables differ: ours " + ours + ", " + db.Anchor() + " " + anchored;
  }
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  int code = -1;
  if (gConnector->name != nullptr)
    std::fprintf(stderr, "%s: table made by %s: %s\n", db.Loader(), gConnector->name,
                 db.Columns(dir, &code).c_str());
  else
    std::fprintf(stderr, "%s: the connector's table: %s\n", db.Loader(),
                 db.Columns(dir, &code).c_str());
  std::fprintf(stderr, "%s: rows|ids|cents|text length|days of both tables: %s\n", db.Loader(),
               ours.c_str());
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["records_per_s"] = records / run.seconds;
  state.counters["ref_records_per_s"] = records / refSeconds;
  // Above 1: taskrun is faster than the database's own loader.
  state.counters["ratio_to_ref"] = refSeconds / run.seconds;
  if (anchorSeconds > 0) state.counters["ratio_to_anchor"] = anchorSeconds / run.seconds;
  if (db.Goal() != nullptr) {
    const double goal = db.Anchor() != nullptr ? anchorSeconds : refSeconds;
    std::fprintf(stderr, "%s: %.0f records: taskrun %.3f s; %s %.3f s, ratio %.2f (goal %s)",
                 db.Loader(), records, run.seconds,
                 db.Anchor() != nullptr ? db.Anchor() : db.Loader(), goal, goal / run.seconds,
                 db.Goal());
    if (db.Anchor() != nullptr)
      std::fprintf(stderr, "; %s %.3f s, ratio %.3f", db.Loader(), refSeconds,
                   refSeconds / run.seconds);
    std::fprintf(stderr, "\n");
  }
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  // The framework's CPU column is this process's; the run's own CPU time is taskrun's.
  state.counters["cpu_s"] = run.CpuSeconds();
}

// ---------------------------------------------------------------- SQLite ---------------

// Ours in ours.db, the loader's in ref.db, both in the installation directory.
class Sqlite : public Database {
 public:
  const char* Loader() const override { return "sqlite3 .import"; }
  const char* Driver() const override { return "libsqlite3odbc.so"; }
  const char* Goal() const override { return gConnector->sqliteGoal; }
  std::vector<std::pair<std::string, std::string>> Attributes(
      const std::string& dir) const override {
    return {{"Database", dir + "ours.db"}, {"Timeout", "5000"}};
  }
  // The same column affinities as ours.
  std::string MakeRefTable(const std::string& dir) const override {
    const int code = Run({kSqlite3, "-bail", dir + "ref.db", "ATTACH '" + dir + "ours.db' AS o",
                          std::string("CREATE TABLE ") + kRefTable + " AS SELECT * FROM o." +
                              kOurTable + " WHERE 0"},
                         dir);
    return code == 0 ? std::string() : "cannot create the sqlite3 reference table";
  }
  int LoadRef(const std::string& dir) const override {
    return Run({kSqlite3, "-bail", dir + "ref.db", ".import --csv " + dir + "in.csv " + kRefTable},
               dir);
  }
  std::string Checksum(const std::string& dir, const char* table, int* code) const override {
    const std::string file = dir + (std::strcmp(table, kOurTable) == 0 ? "ours.db" : "ref.db");
    return Output(
        {kSqlite3, "-bail", file,
         std::string("SELECT count(*), sum(ID), sum(CAST(round(PRICE * 100) AS INTEGER)), "
                     "sum(length(NAME) + length(CITY) + length(NOTE)), "
                     "sum(CAST(julianday(substr(DAY, 1, 10)) AS INTEGER)) FROM ") +
             table},
        dir, code);
  }
  std::string Columns(const std::string& dir, int* code) const override {
    return Output({kSqlite3, "-bail", dir + "ours.db",
                   std::string("SELECT sql FROM sqlite_master WHERE name = '") + kOurTable + "'"},
                  dir, code);
  }
  std::string MakeTable(const std::string& dir, const char* columns) const override {
    const int code = Run({kSqlite3, "-bail", dir + "ours.db",
                          std::string("CREATE TABLE ") + kOurTable + " " + columns},
                         dir);
    return code == 0 ? std::string() : "cannot create the SQLite table";
  }
};

// ---------------------------------------------------------------- PostgreSQL -----------

// Both tables in one database of its own.
class Postgresql : public Database {
 public:
  Postgresql(std::string port, std::string database)
      : port_(std::move(port)), database_(std::move(database)) {}
  const char* Loader() const override { return "psql \\copy"; }
  const char* Driver() const override { return "psqlodbcw.so"; }
  const char* Goal() const override { return gConnector->postgresqlGoal; }
  std::vector<std::pair<std::string, std::string>> Attributes(const std::string&) const override {
    return {
        {"Servername", "127.0.0.1"}, {"Port", port_}, {"Database", database_}, {"Username", "tw"}};
  }
  std::string Userid() const override { return "tw"; }
  std::string MakeRefTable(const std::string&) const override {
    int code = -1;
    std::vector<std::string> statements = {std::string("CREATE TABLE ") + kRefTable + " (LIKE " +
                                           kOurTable + ")"};
    if (Anchor() != nullptr)
      statements.push_back(std::string("CREATE TABLE ") + kAnchorTable + " (LIKE " + kOurTable +
                           ")");
    Psql(port_, database_, statements, &code);
    return code == 0 ? std::string() : "cannot create the PostgreSQL reference tables";
  }
  // One INSERT a row, what a user without a loader does, measured for a connector with a goal.
  const char* Anchor() const override {
    return Goal() != nullptr ? "psql -f (one INSERT a row)" : nullptr;
  }
  // rows.sql: one INSERT a record of in.csv (its texts hold no quotes).
  int PrepareAnchor(const std::string& dir) const override {
    std::ifstream in(dir + "in.csv", std::ios::binary);
    std::ofstream out(dir + "rows.sql", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> fields;
      for (size_t at = 0;;) {
        const size_t comma = line.find(',', at);
        fields.push_back(line.substr(at, comma == std::string::npos ? comma : comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
      if (fields.size() != 6) return 1;
      out << "INSERT INTO " << kAnchorTable << " VALUES (" << fields[0] << ", '" << fields[1]
          << "', " << fields[2] << ", '" << fields[3] << "', '" << fields[4] << "', '"
          << fields[5] << "');\n";
    }
    out.close();
    return out ? 0 : 1;
  }
  int LoadAnchor(const std::string& dir) const override {
    int code = -1;
    Output({kPsql, "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", port_, "-U", "tw",
            "-d", database_, "-f", dir + "rows.sql"},
           std::filesystem::temp_directory_path().string(), &code);
    return code;
  }
  int LoadRef(const std::string& dir) const override {
    int code = -1;
    Psql(port_, database_,
         {std::string("\\copy ") + kRefTable + " FROM '" + dir + "in.csv' WITH (FORMAT csv)"},
         &code);
    return code;
  }
  std::string Checksum(const std::string&, const char* table, int* code) const override {
    return Psql(port_, database_,
                {std::string("SELECT count(*), sum(id), sum(round(price * 100)), "
                             "sum(length(name) + length(city) + length(note)), "
                             "sum(day::date - date '1970-01-01') FROM ") +
                 table},
                code);
  }
  std::string MakeTable(const std::string&, const char* columns) const override {
    int code = -1;
    Psql(port_, database_, {std::string("CREATE TABLE ") + kOurTable + " " + columns}, &code);
    return code == 0 ? std::string() : "cannot create the PostgreSQL table";
  }
  std::string Columns(const std::string&, int* code) const override {
    return Psql(port_, database_,
                {std::string("SELECT string_agg(column_name || ' ' || data_type, ', ' ORDER BY "
                             "ordinal_position) FROM information_schema.columns WHERE "
                             "table_name = '") +
                 kOurTable + "'"},
                code);
  }

 private:
  std::string port_, database_;
};

// The benchmark on SQLite.
inline void ToSqlite(benchmark::State& state) {
  if (!std::filesystem::exists(kSqlite3)) {
    state.SkipWithError("no sqlite3 program");
    return;
  }
  Measure(state, Sqlite());
}

// The benchmark on PostgreSQL, in a database of its own on the cluster.
inline void ToPostgresql(benchmark::State& state) {
  if (!std::filesystem::exists(kPsql)) {
    state.SkipWithError("no psql program");
    return;
  }
  Cluster cluster;
  std::string failure = cluster.Start();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  PgDatabase database(cluster.port());
  if (failure = database.Create(); !failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  Measure(state, Postgresql(cluster.port(), database.name()));
}

}  // namespace odbc_load

#endif  // TW_BENCH_ODBC_LOAD_BENCH_H_
