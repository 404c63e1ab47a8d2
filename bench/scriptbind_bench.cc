// A qsrun script moving the records of flatrec_bench's input between two flatrec links, 1000
// a call (the script has no loops: one Fetch and one Insert line per block), beside taskrun
// running the same transfer as a direct transfer activity on the same files, both in one
// local installation served by its control store. The script's output must be taskrun's;
// the goal is a script time of at most 1.5 times taskrun's (ratio_to_taskrun).
//
// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target scriptbind_bench && BUILD/bench/scriptbind_bench
// FLATREC_BENCH_RECORDS sets the record count (1,000,000); SCRIPTBIND_BENCH_KEEP keeps the
// installation.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "flatrec_case.h"
#include "flowcore.h"
#include "platform.h"
#include "taskrun_install.h"

namespace {

using flatrec_case::kBlock;
using flatrec_case::RecordCount;
using flatrec_case::Slurp;
using taskrun_install::Installation;

constexpr char kActivity[] = "ScriptBench";

std::string Link(Installation& inst, const std::string& name, const std::string& file,
                 const char* zid, const char* kind) {
  const std::string tokens = "PropTokenList:numberlist=" + std::to_string(TWTOKEN_DATABASE) + "," +
                             std::to_string(flatrec_case::kZid) + "," +
                             std::to_string(flatrec_case::kLinktype) + "," +
                             std::to_string(flatrec_case::kTrace);
  return inst.New("Link\\Flatrec", {"Name=" + name, "Database=" + inst.dir() + file,
                                    std::string("ZID=") + zid, std::string("Linktype=") + kind,
                                    "Trace:number=" + std::to_string(flatrec_case::kQuiet),
                                    "PropNameList:textlist=Database,ZID,Linktype,Trace", tokens});
}

// The script: one Fetch and Insert pair per block (a pair after the end would insert with a
// count of 0).
std::string Script() {
  std::string s =
      "Set act = New TWActivity(0, \"\")\nact.RaiseExceptions = 0\n"
      "Set src = New TWConnect(0, \"BenchIn\")\nSet dst = New TWConnect(0, \"ScriptOut\")\n"
      "src.Connect\ndst.Connect\nSet rows = New TWFieldList(" +
      std::to_string(kBlock) +
      ", 0)\n"
      "src.Execute \"\", rows, described\n";
  const std::string pair =
      "src.Fetch rows, 1, " + std::to_string(kBlock) + ", n\ndst.Insert rows, 1, n, m\n";
  for (size_t i = 0; i < (RecordCount() + kBlock - 1) / kBlock; ++i) s += pair;
  return s + "dst.Disconnect\nsrc.Disconnect\n";
}

std::string Prepare(Installation& inst) {
  std::string failure = inst.Make({"flatrec.twx", "qsrun", "scriptbind.so", "libqshost.so"});
  if (!failure.empty()) return failure;
  if (!flatrec_case::WriteInput(inst.dir() + "in.csv")) return "cannot write the input";
  for (auto [name, file, zid, kind] :
       {std::tuple<const char*, const char*, const char*, const char*>{
            "BenchIn", "in.csv", flatrec_case::kSourceZid, "SOURCE"},
        {"TaskOut", "taskrun.txt", flatrec_case::kDestZid, "DESTINATION"},
        {"ScriptOut", "script.txt", flatrec_case::kDestZid, "DESTINATION"}})
    if (failure = Link(inst, name, file, zid, kind); !failure.empty()) return failure;
  failure = inst.New("Activity\\Direct Transfer",
                     {std::string("Name=") + kActivity, "SrcLink=BenchIn", "DestLink=TaskOut",
                      "RecordCount:number=" + std::to_string(kBlock)});
  if (!failure.empty()) return failure;
  std::ofstream(inst.dir() + "copy.qs", std::ios::binary) << Script();
  return {};
}

void BM_ScriptbindQsrunBesideTaskrun(benchmark::State& state) {
  Installation inst("scriptbind_bench", "SCRIPTBENCH", "SCRIPTBIND_BENCH_KEEP");
  std::string failure = Prepare(inst);
  if (failure.empty()) failure = inst.Serve();
  if (failure.empty() && TWRegistrySetString("QuenscriptExtensions\\2.0", "SCRIPTBIND",
                                             (inst.dir() + "scriptbind.so").c_str()) != TWSUCCESS)
    failure = "cannot register the script extension";
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const std::string& dir = inst.dir();
  taskrun_install::TaskrunRun task;
  double scriptSeconds = 0;
  int scriptCode = -1;
  for (auto _ : state) {
    task = inst.RunActivity(kActivity);
    const auto start = std::chrono::steady_clock::now();
    scriptCode = taskrun_install::Run({dir + "qsrun", dir + "copy.qs"}, dir, "/dev/null");
    scriptSeconds = taskrun_install::SecondsSince(start);
  }
  const bool stopped = inst.Stop();
  if (task.exitCode != 0)
    failure = "taskrun did not complete the activity";
  else if (scriptCode != 0)
    failure = "qsrun did not complete the script";
  else if (!stopped)
    failure = "ctlstore did not end when asked";
  else if (Slurp(dir + "script.txt") != Slurp(dir + "taskrun.txt"))
    failure = "the script's output is not taskrun's";
  if (!failure.empty()) state.SkipWithError(failure.c_str());
  const double records = static_cast<double>(RecordCount());
  state.counters["records"] = records;
  state.counters["taskrun_s"] = task.seconds;
  state.counters["qsrun_s"] = scriptSeconds;
  state.counters["qsrun_records_per_s"] = records / scriptSeconds;
  // The goal: at most 1.5.
  state.counters["ratio_to_taskrun"] = scriptSeconds / task.seconds;
}
BENCHMARK(BM_ScriptbindQsrunBesideTaskrun)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
