// The text-file connector end to end: delimited records read through flatrec.twx and written
// to a fixed-width file through flatrec.twx, in blocks through the engine in this process,
// beside an awk program doing the same over the same input (the case is in flatrec_case.h;
// flatrec_taskrun_bench runs it as a server would). FLATREC_BENCH_RECORDS sets the record
// count (1,000,000); FLATREC_BENCH_KEEP keeps the temporary installation (for a profiler's
// symbols).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "flatrec_case.h"
#include "flowcore.h"
#include "platform.h"
#include "temp_dir.h"

namespace {

using flatrec_case::Awk;
using flatrec_case::RecordCount;
using flatrec_case::SameAsAwk;
using flatrec_case::SecondsSince;
using flatrec_case::Transfer;
using flatrec_case::WriteInput;

// A private installation holding flatrec.twx and the generated input, removed at the end.
class Setup {
 public:
  Setup() {
    dir_ = bench_temp::MakeDir("flatrec_bench") + "/";
    std::ofstream(dir_ + "prog").put('\n');
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    std::filesystem::copy_file(exe.parent_path().parent_path() / "inst" / "flatrec.twx",
                               dir_ + "flatrec.twx");
    // No twmain.ini on the way: the program's own directory becomes the installation.
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", dir_.c_str(), 1);
    TWPlatInit((dir_ + "prog").c_str());
    ::setenv("PATH", path.c_str(), 1);
    WriteInput(dir_ + "in.csv");
  }
  ~Setup() {
    TWPlatTerm();
    std::error_code ec;
    if (std::getenv("FLATREC_BENCH_KEEP") == nullptr) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

Setup& Files() {
  static Setup setup;
  return setup;
}

void BM_FlatrecDelimitedToFixed(benchmark::State& state) {
  const std::string& dir = Files().dir();
  TWSystemInit();
  TWActivityAlloc(0, nullptr, 0);
  size_t records = 0;
  double flatrecSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    records = Transfer(dir + "in.csv", dir + "out.txt");
    flatrecSeconds = SecondsSince(start);
    if (records != RecordCount()) state.SkipWithError("not every record was moved");
  }
  TWActivityFree();
  TWSystemTerm();
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  // After the timed loop: the awk run is timed on its own, and both outputs must agree.
  const double awkSeconds = Awk(dir + "in.csv", dir + "awk.txt");
  if (awkSeconds > 0 && !SameAsAwk(dir + "out.txt", dir + "awk.txt"))
    state.SkipWithError("flatrec and awk outputs differ");
  std::remove((dir + "out.txt").c_str());
  std::remove((dir + "awk.txt").c_str());
  state.counters["records"] = static_cast<double>(records);
  state.counters["records_per_s"] = static_cast<double>(records) / flatrecSeconds;
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (awkSeconds > 0) {
    state.counters["awk_records_per_s"] = static_cast<double>(records) / awkSeconds;
    // Above 1: flatrec is faster than awk.
    state.counters["ratio_to_awk"] = awkSeconds / flatrecSeconds;
  }
}
BENCHMARK(BM_FlatrecDelimitedToFixed)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
