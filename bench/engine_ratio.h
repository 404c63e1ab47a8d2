// For the benchmarks that run each case on a database file (argument 0) and on PostgreSQL
// (argument 1): the console report, followed by each case's PostgreSQL/SQLite ratio of real
// time (the median when repetitions are asked for).
#ifndef TW_BENCH_ENGINE_RATIO_H_
#define TW_BENCH_ENGINE_RATIO_H_

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench_ratio {

class Reporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, as the library's own console report.
  Reporter() : benchmark::ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Color : OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const std::string& arg = run.run_name.args;
      if (arg != "0" && arg != "1") continue;
      Times& t = times_[run.run_name.function_name];
      double& slot = arg == "0" ? t.file : t.held;
      bool& fromMedian = arg == "0" ? t.file_median : t.held_median;
      if (median || !fromMedian) slot = run.GetAdjustedRealTime();
      fromMedian = fromMedian || median;
    }
  }
  void Finalize() override {
    benchmark::ConsoleReporter::Finalize();
    for (const auto& [name, t] : times_)
      if (t.file > 0 && t.held > 0)
        std::printf("%s: PostgreSQL/SQLite %.2fx\n", name.c_str(), t.held / t.file);
    std::fflush(stdout);
  }

 private:
  struct Times {
    double file = 0, held = 0;
    bool file_median = false, held_median = false;
  };
  std::map<std::string, Times> times_;
};

// The benchmark program's main.
inline int Main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench_ratio

#endif  // TW_BENCH_ENGINE_RATIO_H_
