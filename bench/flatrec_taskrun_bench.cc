// The transfer of flatrec_bench run the way a server runs it: a local installation in a
// temporary directory (taskrun_install.h: twmain.ini; Administrator and Log databases made by
// plexadm; two flatrec link documents with the ZID descriptions of flatrec_case.h; a direct
// transfer activity moving as many records per block as the in-process transfer), ctlstore started
// from it, and taskrun running the activity by name as a process of its own, timed from
// spawn to exit. Beside it, in the same run and on the same input, the awk program (mawk when
// installed), cat copying the input, and the in-process transfer; taskrun's output must be byte for byte the in-process output. Peak
// memory is that of the taskrun process.
//
// Run (BUILD a Release build configured with -DTW_BENCH=ON):
//   cmake --build BUILD --target flatrec_taskrun_bench && BUILD/bench/flatrec_taskrun_bench
// FLATREC_BENCH_RECORDS sets the record count (1,000,000); FLATREC_BENCH_KEEP keeps the
// installation, its databases and the three outputs.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "flatrec_case.h"
#include "flowcore.h"
#include "taskrun_install.h"

namespace {

using flatrec_case::Awk;
using flatrec_case::kBlock;
using flatrec_case::RecordCount;
using flatrec_case::SameAsAwk;
using flatrec_case::SecondsSince;
using flatrec_case::Slurp;
using flatrec_case::Transfer;
using taskrun_install::Installation;

constexpr char kActivity[] = "FlatrecBench";

// The installation laid out, the input written and the documents of one direct transfer
// between two flatrec links added; flatrec's properties and tokens as the in-process
// transfer sets them. Empty on success, else what failed.
std::string Prepare(Installation& inst) {
  std::string failure = inst.Make({"flatrec.twx"});
  if (!failure.empty()) return failure;
  const std::string& dir = inst.dir();
  if (!flatrec_case::WriteInput(dir + "in.csv")) return "cannot write the input";
  const std::string blocks = "RecordCount:number=" + std::to_string(kBlock);
  const std::string quiet = "Trace:number=" + std::to_string(flatrec_case::kQuiet);
  const std::string tokens = "PropTokenList:numberlist=" + std::to_string(TWTOKEN_DATABASE) + "," +
                             std::to_string(flatrec_case::kZid) + "," +
                             std::to_string(flatrec_case::kLinktype) + "," +
                             std::to_string(flatrec_case::kTrace);
  const std::vector<std::pair<std::string, std::vector<std::string>>> documents = {
      {"Link\\Flatrec",
       {"Name=BenchIn", "Database=" + dir + "in.csv",
        std::string("ZID=") + flatrec_case::kSourceZid, "Linktype=SOURCE", quiet,
        "PropNameList:textlist=Database,ZID,Linktype,Trace", tokens}},
      {"Link\\Flatrec",
       {"Name=BenchOut", "Database=" + dir + "taskrun.txt",
        std::string("ZID=") + flatrec_case::kDestZid, "Linktype=DESTINATION", quiet,
        "PropNameList:textlist=Database,ZID,Linktype,Trace", tokens}},
      {"Activity\\Direct Transfer",
       {std::string("Name=") + kActivity, "SrcLink=BenchIn", "DestLink=BenchOut", blocks}},
  };
  for (const auto& [form, items] : documents)
    if (failure = inst.New(form, items); !failure.empty()) return failure;
  return {};
}

// What is wrong with the outputs in dir, or empty: taskrun's must be the in-process
// transfer's, which moved every record, and agree with awk's when awk ran.
std::string CompareOutputs(const std::string& dir, size_t records, bool withAwk) {
  if (records != RecordCount()) return "the in-process transfer lost records";
  if (Slurp(dir + "taskrun.txt") != Slurp(dir + "inproc.txt"))
    return "taskrun and in-process outputs differ";
  if (withAwk && !SameAsAwk(dir + "taskrun.txt", dir + "awk.txt"))
    return "taskrun and awk outputs differ";
  return {};
}

void BM_FlatrecTaskrunDelimitedToFixed(benchmark::State& state) {
  Installation inst("flatrec_taskrun", "FLATRECBENCH", "FLATREC_BENCH_KEEP");
  std::string failure = Prepare(inst);
  if (failure.empty()) failure = inst.Serve();
  if (!failure.empty()) {
    state.SkipWithError(failure.c_str());
    return;
  }
  const std::string& dir = inst.dir();
  taskrun_install::TaskrunRun run;
  for (auto _ : state) run = inst.RunActivity(kActivity);
  const bool stopped = inst.Stop();
  if (run.exitCode != 0)
    failure = "taskrun did not complete the activity";
  else if (!stopped)
    failure = "ctlstore did not end when asked";

  // Untimed by the framework: awk and cat, then the in-process transfer for the reference
  // output.
  const double awkSeconds = Awk(dir + "in.csv", dir + "awk.txt");
  const double catSeconds = flatrec_case::Cat(dir + "in.csv", dir + "cat.txt");
  TWSystemInit();
  TWActivityAlloc(0, nullptr, 0);
  const auto start = std::chrono::steady_clock::now();
  const size_t records = Transfer(dir + "in.csv", dir + "inproc.txt");
  const double inprocSeconds = SecondsSince(start);
  TWActivityFree();
  TWSystemTerm();
  if (failure.empty()) failure = CompareOutputs(dir, records, awkSeconds > 0);
  if (!failure.empty()) state.SkipWithError(failure.c_str());

  state.counters["records"] = static_cast<double>(records);
  state.counters["records_per_s"] = static_cast<double>(records) / run.seconds;
  state.counters["peak_rss_MiB"] = run.PeakMiB();
  state.counters["inproc_records_per_s"] = static_cast<double>(records) / inprocSeconds;
  // The framework's CPU column is this process's; the run's own CPU time is taskrun's.
  state.counters["cpu_s"] = run.CpuSeconds();
  if (awkSeconds > 0) {
    state.counters["awk_records_per_s"] = static_cast<double>(records) / awkSeconds;
    // Above 1: taskrun is faster than awk.
    state.counters["ratio_to_awk"] = awkSeconds / run.seconds;
  }
  if (catSeconds > 0) state.counters["ratio_to_cat"] = catSeconds / run.seconds;
  std::fprintf(stderr,
               "%zu records: taskrun %.3f s; %s %.3f s, ratio_to_awk %.2f (goal 2); cat %.3f s, "
               "ratio_to_cat %.3f\n",
               records, run.seconds, flatrec_case::AwkName(), awkSeconds,
               awkSeconds > 0 ? awkSeconds / run.seconds : 0.0, catSeconds,
               catSeconds > 0 ? catSeconds / run.seconds : 0.0);
}
BENCHMARK(BM_FlatrecTaskrunDelimitedToFixed)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
