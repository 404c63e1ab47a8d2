// Records through the Ordex connector the way a server moves them: text -> Ordex with
// BulkStore, and Ordex -> text for a whole form, each a direct transfer run by taskrun in a
// local installation (taskrun_install.h); the ordered read (ORDER_LIST, a temporary index
// view) through the connector in this process. Beside them, in the same run and on the same
// records, plexadm import and export. Reports records per second and the ratios to plexadm
// (above 1: the connector is faster). Beside those, the floors: sqlite3 inserting the same
// records as JSON text in one transaction, and sqlite3 writing the same text back with
// json_extract; to_json_ratio and from_json_ratio are taskrun's time over theirs (the goals: at
// most 5 and 2). The runs alternate, taskrun then sqlite3, and each ratio is the median of the
// pairs.
//
// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target ordex_taskrun_bench && BUILD/bench/ordex_taskrun_bench
// ORDEX_BENCH_RECORDS sets the record count (100,000), ORDEX_BENCH_PAIRS the pairs (3);
// ORDEX_BENCH_KEEP keeps the installation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bulk_load.h"
#include "connection.h"
#include "flowcore.h"
#include "taskrun_install.h"

namespace {

using taskrun_install::Installation;
using taskrun_install::SecondsSince;

constexpr char kZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nNOTE TYPE TEXT\n";
constexpr char kDesign[] = R"({"title": "Bench", "forms": [{"name": "People", "fields": [
  {"name": "ID", "type": "number"}, {"name": "NAME", "type": "text"},
  {"name": "PRICE", "type": "number"}, {"name": "DAY", "type": "time"},
  {"name": "NOTE", "type": "text"}]}]})";
constexpr uint32_t kBlock = 1000;
constexpr char kSqlite3[] = "/usr/bin/sqlite3";
constexpr char kExtract[] =
    "SELECT json_extract(body, '$.ID'), json_extract(body, '$.NAME'), "
    "json_extract(body, '$.PRICE'), json_extract(body, '$.DAY'), json_extract(body, '$.NOTE') "
    "FROM doc";

size_t RecordCount() {
  const char* n = std::getenv("ORDEX_BENCH_RECORDS");
  return n != nullptr && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : 100000;
}

// The same records as text, as JSON lines for plexadm, and as the statements of the JSON floor.
bool WriteInputs(const std::string& dir, size_t records) {
  std::ofstream text(dir + "in.txt", std::ios::binary), json(dir + "in.jsonl", std::ios::binary);
  std::ofstream floor(dir + "floor.sql", std::ios::binary);
  floor << "BEGIN;\nCREATE TABLE doc(body TEXT);\n";
  for (size_t i = 1; i <= records; ++i) {
    char day[16];
    std::snprintf(day, sizeof day, "20%02zu-%02zu-%02zu", i % 100, i % 12 + 1, i % 28 + 1);
    const std::string name = "Person " + std::to_string(i);
    const std::string price = std::to_string(i % 1000) + "." + std::to_string(10 + i % 90);
    text << i << "," << name << "," << price << "," << day << ",note " << i << "\n";
    json
        << R"({"items":[{"name":"Form","type":"text","value":"People"},{"name":"ID","type":"number","value":)"
        << i << R"(},{"name":"NAME","type":"text","value":")" << name
        << R"("},{"name":"PRICE","type":"number","value":)" << price
        << R"(},{"name":"DAY","type":"time","value":")" << day
        << R"(T00:00:00.00+00"},{"name":"NOTE","type":"text","value":"note )" << i << "\"}]}\n";
    floor << R"(INSERT INTO doc VALUES('{"ID":)" << i << R"(,"NAME":")" << name << R"(","PRICE":)"
          << price << R"(,"DAY":")" << day << R"(","NOTE":"note )" << i << "\"}');\n";
  }
  floor << "COMMIT;\n";
  return text.good() && json.good() && floor.good();
}

// The seconds plexadm took for args, its standard input from the file input (through sh).
double TimedAdm(Installation& inst, const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int code = taskrun_install::Run({"/bin/sh", "-c", command}, inst.dir(), "/dev/null");
  return code == 0 ? SecondsSince(start) : -1;
}

// sqlite3 loading the floor's statements into a new file; the seconds, -1 on failure.
double FloorInsert(const std::string& dir) {
  std::filesystem::remove(dir + "floor.db");
  const auto start = std::chrono::steady_clock::now();
  const int code = taskrun_install::Run(
      {"/bin/sh", "-c", std::string(kSqlite3) + " floor.db < floor.sql"}, dir, "/dev/null");
  return code == 0 ? SecondsSince(start) : -1;
}

// sqlite3 writing the floor's records back as text; the seconds, -1 on failure.
double FloorExtract(const std::string& dir) {
  const auto start = std::chrono::steady_clock::now();
  const int code = taskrun_install::Run({kSqlite3, "-separator", ",", "floor.db", kExtract}, dir,
                                        dir + "floor.txt");
  return code == 0 ? SecondsSince(start) : -1;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Reads every record of the form ordered by ID through the connector; the count.
size_t ReadOrdered(const std::string& db) {
  ordex::Connection c;
  if (c.Initialize(0x00010001, 1) != TWSUCCESS) return 0;
  auto text = [&](uint32_t token, const std::string& value, uint32_t format) {
    TWFIELD f = TWNULLHANDLE;
    TWFieldAlloc(&f, TWTYPE_TEXT, 1);
    flowcore::StreamData s(format);
    (void)s.Set(format, value);
    TWFieldSetStream(f, 1, s.get());
    c.SetProperty(token, f);
    TWFieldFree(f);
  };
  text(TWTOKEN_DATABASE, db, TWSTREAMFMT_NATIVE);
  text(TWTOKEN_METADATA, "People", TWSTREAMFMT_NATIVE);
  text(TWTOKEN_ORDER_LIST, std::string("\x01\x00\x02\x00ID", 6), TWSTREAMFMT_TEXT_LIST);
  size_t records = 0;
  TWFIELDLIST list = TWNULLHANDLE;
  uint32_t count = 0;
  if (c.Connect() == TWSUCCESS && TWFieldlistAlloc(&list, kBlock, 0) == TWSUCCESS &&
      c.Select(TWNULLHANDLE, 1, list, &count) == TWSUCCESS) {
    for (;;) {
      uint32_t n = 0;
      if (c.Fetch(list, 1, kBlock, &n) != TWSUCCESS) break;
      records += n;
    }
  }
  TWFieldlistFree(list);
  c.Terminate(1);
  return records;
}

void BM_OrdexTaskrun(benchmark::State& state) {
  const size_t records = RecordCount();
  Installation inst("ordex_taskrun", "ORDEXBENCH", "ORDEX_BENCH_KEEP");
  std::string failure = inst.Make({"flatrec.twx", "ordex.twx"});
  const std::string& dir = inst.dir();
  if (failure.empty() && !WriteInputs(dir, records)) failure = "cannot write the inputs";
  if (failure.empty()) {
    std::ofstream(dir + "people.zid") << kZid;
    std::ofstream(dir + "bench.json") << kDesign;
    if (!inst.Adm({"build-template", dir + "bench.json", dir + "bench.otm"}) ||
        !inst.Adm({"create", "bench.odb", "--template", dir + "bench.otm"}) ||
        !inst.Adm({"create", "import.odb", "--template", dir + "bench.otm"}))
      failure = "plexadm could not make the databases";
  }
  const std::string block = "RecordCount:number=" + std::to_string(kBlock);
  const std::vector<std::pair<std::string, std::vector<std::string>>> documents = {
      {"Link\\Flatrec",
       {"Name=TextIn", "Database=" + dir + "in.txt", "ZID=@" + dir + "people.zid",
        "Linktype=SOURCE", "PropNameList:textlist=Database,ZID,Linktype",
        "PropTokenList:numberlist=65538,15,16"}},
      {"Link\\Flatrec",
       {"Name=TextOut", "Database=" + dir + "out.txt", "ZID=@" + dir + "people.zid",
        "Linktype=DESTINATION", "PropNameList:textlist=Database,ZID,Linktype",
        "PropTokenList:numberlist=65538,15,16"}},
      {"Link\\Ordex",
       {"Name=Bench", "Database=bench.odb", "BulkStore:number=1",
        "PropNameList:textlist=Database,BulkStore", "PropTokenList:numberlist=65538,4"}},
      {"Activity\\Direct Transfer",
       {"Name=ToOrdex", "SrcLink=TextIn", "DestLink=Bench", "DestMetadata=People", block}},
      {"Activity\\Direct Transfer",
       {"Name=FromOrdex", "SrcLink=Bench", "DestLink=TextOut", "SrcMetadata=People",
        "Overwrite:number=1", block}},
  };
  for (const auto& [form, items] : documents)
    if (failure.empty()) failure = inst.New(form, items);
  if (failure.empty()) failure = inst.Serve();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  taskrun_install::TaskrunRun in, out;
  double ordered = 0;
  size_t orderedRecords = 0;
  std::vector<double> toJson, fromJson;
  const size_t pairs = bulk_load::EnvCount("ORDEX_BENCH_PAIRS", 3);
  for (auto _ : state) {
    for (size_t pair = 0; pair < pairs && failure.empty(); ++pair) {
      // Each load goes into a new database, as the first one did.
      if (pair > 0) {
        for (const char* tail : {"", "-wal", "-shm"})
          std::filesystem::remove(dir + "ordex/local/bench.odb" + tail);
        if (!inst.Adm({"create", "bench.odb", "--template", dir + "bench.otm"}))
          failure = "plexadm could not make the database again";
      }
      in = inst.RunActivity("ToOrdex");
      const double insertFloor = FloorInsert(dir);
      out = inst.RunActivity("FromOrdex");
      const double extractFloor = FloorExtract(dir);
      if (in.exitCode != 0 || out.exitCode != 0 || insertFloor <= 0 || extractFloor <= 0) break;
      toJson.push_back(in.seconds / insertFloor);
      fromJson.push_back(out.seconds / extractFloor);
      // taskrun's own processor time beside its wall time: on a loaded machine it says
      // more about a change than the wall time does.
      std::fprintf(stderr,
                   "pair %zu: to %.2f s (cpu %.2f s) / %.2f s, from %.2f s (cpu %.2f s) / %.2f s\n",
                   pair + 1, in.seconds, in.CpuSeconds(), insertFloor, out.seconds,
                   out.CpuSeconds(), extractFloor);
    }
    TWSystemInit();
    TWActivityAlloc(0, nullptr, 0);
    const auto start = std::chrono::steady_clock::now();
    orderedRecords = ReadOrdered("bench.odb");
    ordered = SecondsSince(start);
    TWActivityFree();
    TWSystemTerm();
  }
  const bool stopped = inst.Stop();
  const double importSeconds = TimedAdm(inst, "./plexadm import import.odb < in.jsonl");
  const double exportSeconds =
      TimedAdm(inst, "./plexadm export import.odb --form People > export.jsonl");
  if (!failure.empty()) {
    // The database could not be made again: failure says so.
  } else if (!stopped) {
    failure = "ctlstore did not end when asked";
  } else if (in.exitCode != 0 || out.exitCode != 0) {
    failure = "taskrun did not complete the transfers";
  } else if (toJson.size() != pairs) {
    failure = "sqlite3 did not complete the floors";
  } else if (taskrun_install::Slurp(dir + "floor.txt").size() <
             taskrun_install::Slurp(dir + "in.txt").size() / 2) {
    failure = "the floor's text is short";
  } else if (taskrun_install::Slurp(dir + "out.txt").size() <
             taskrun_install::Slurp(dir + "in.txt").size() / 2) {
    failure = "the text written back is short";
  } else if (orderedRecords != records) {
    failure = "the ordered read lost records";
  }
  if (!failure.empty()) state.SkipWithError(failure.c_str());
  const double n = static_cast<double>(records);
  state.counters["records"] = n;
  state.counters["to_ordex_per_s"] = n / in.seconds;
  state.counters["from_ordex_per_s"] = n / out.seconds;
  state.counters["ordered_per_s"] = n / ordered;
  // Below 1 the connector beats the floor; the goals are 5 and 2.
  state.counters["to_json_ratio"] = Median(toJson);
  state.counters["from_json_ratio"] = Median(fromJson);
  if (importSeconds > 0) {
    state.counters["import_per_s"] = n / importSeconds;
    state.counters["to_ordex_ratio"] = importSeconds / in.seconds;
  }
  if (exportSeconds > 0) {
    state.counters["export_per_s"] = n / exportSeconds;
    state.counters["from_ordex_ratio"] = exportSeconds / out.seconds;
    state.counters["ordered_ratio"] = exportSeconds / ordered;
  }
}
BENCHMARK(BM_OrdexTaskrun)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
