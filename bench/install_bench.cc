// Copying a 500 MB kit into an installation directory with the install library, beside
// `cp -r` of the same kit. Run by hand: build/bench/install_bench; the goal is at most 1.5
// times the time of cp.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "setup_context.h"
#include "temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr size_t kKitBytes = size_t{500} << 20;
// Files of the kit's tables; the rest of the rows are not in this kit.
const char* const kFiles[] = {"twmain",        "ctlstore",    "taskrun",      "libflowsys.so",
                              "libplexapi.so", "flatrec.twx", "QTW20DOC.ODB", "QTWADM.OTM"};

struct Kit {
  std::string base;
  std::string kit;
  Kit() {
    base = bench_temp::MakeDir("twinstallbench");
    if (!base.empty()) base += "/";
    kit = base + "kit/";
    fs::create_directories(kit);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 24);
    const size_t each = kKitBytes / std::size(kFiles);
    for (const char* name : kFiles) {
      std::ofstream out(kit + name, std::ios::binary);
      for (size_t written = 0; written < each; written += block.size())
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min(block.size(), each - written)));
    }
  }
  ~Kit() {
    std::error_code ec;
    if (!base.empty()) fs::remove_all(base, ec);
  }
};

Kit& TheKit() {
  static Kit kit;
  return kit;
}

void BM_SetupCopyProgramFiles(benchmark::State& state) {
  Kit& kit = TheKit();
  const std::string dest = kit.base + "inst/";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dest);
    tw::install::SetupContext ctx{};
    (void)tw::install::SetField(ctx.setupDir, kit.kit);
    (void)tw::install::SetField(ctx.installDir, dest);
    (void)tw::install::SetField(ctx.kitType, "2");
    std::string out;
    state.ResumeTiming();
    if (tw::install::SetupCopyProgramFiles(ctx, out) != 0) state.SkipWithError(out.c_str());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kKitBytes));
  fs::remove_all(dest);
}

void BM_CpRecursive(benchmark::State& state) {
  Kit& kit = TheKit();
  const std::string dest = kit.base + "cp";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dest);
    std::string src = kit.kit;
    src.pop_back();
    std::vector<std::string> args = {"cp", "-r", src, dest};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    state.ResumeTiming();
    pid_t pid = -1;
    int status = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      state.SkipWithError("cp -r failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kKitBytes));
  fs::remove_all(dest);
}

BENCHMARK(BM_CpRecursive)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SetupCopyProgramFiles)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
