// The text-file connector end to end: delimited records (text, integer, implied-decimal
// number, formatted date, two texts) read through flatrec.twx and written to a fixed-width
// file through flatrec.twx, in blocks through the engine, beside an awk program doing the
// same over the same input. FLATREC_BENCH_RECORDS sets the record count (1,000,000);
// FLATREC_BENCH_KEEP keeps the temporary installation (for a profiler's symbols).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "flowcore.h"
#include "platform.h"

namespace {

constexpr uint32_t kBlock = 1000;
// Own tokens of flatrec.
constexpr uint32_t kTrace = 4, kZid = 15, kLinktype = 16;

size_t RecordCount() {
  const char* n = std::getenv("FLATREC_BENCH_RECORDS");
  return n != nullptr && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : 1000000;
}

// A private installation holding flatrec.twx and the generated input, removed at the end.
class Setup {
 public:
  Setup() {
    char pattern[] = "/tmp/flatrec_bench.XXXXXX";
    dir_ = std::string(::mkdtemp(pattern)) + "/";
    std::ofstream(dir_ + "prog").put('\n');
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
    std::filesystem::copy_file(exe.parent_path().parent_path() / "inst" / "flatrec.twx",
                               dir_ + "flatrec.twx");
    // No twmain.ini on the way: the program's own directory becomes the installation.
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", dir_.c_str(), 1);
    TWPlatInit((dir_ + "prog").c_str());
    ::setenv("PATH", path.c_str(), 1);
    std::ofstream in(dir_ + "in.csv", std::ios::binary);
    std::string line;
    for (size_t i = 0; i < RecordCount(); ++i) {
      line = "name" + std::to_string(i) + "," + std::to_string(i % 100000) + "," +
             std::to_string((i * 7919) % 10000000) + "," + Two(i % 28 + 1) + "." + Two(i % 12 + 1) +
             "." + std::to_string(1990 + i % 30) + ",city" + std::to_string(i % 977) + ",note " +
             std::to_string(i % 13) + "\n";
      in << line;
    }
  }
  ~Setup() {
    TWPlatTerm();
    std::error_code ec;
    if (std::getenv("FLATREC_BENCH_KEEP") == nullptr) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }

 private:
  static std::string Two(size_t v) { return (v < 10 ? "0" : "") + std::to_string(v); }
  std::string dir_;
};

Setup& Files() {
  static Setup setup;
  return setup;
}

uint32_t SetText(TWCONNECT c, uint32_t token, const std::string& text) {
  TWStream s{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
             const_cast<char*>(text.data())};
  return TWConnectSetPropertyStream(c, TWTOKENF_EXTERN | token, &s);
}

TWCONNECT Open(const std::string& database, const std::string& linktype, const std::string& zid) {
  TWStream name{0, 0, TWSTREAMFMT_NATIVE, 7, const_cast<char*>("flatrec")};
  TWCONNECT c = TWNULLHANDLE;
  if (TWConnectAlloc(&c, TWTOKENF_EXTERN, &name) != TWSUCCESS) return TWNULLHANDLE;
  int32_t quiet = 1;
  TWConnectSetPropertyInt(c, TWTOKENF_EXTERN | kTrace, &quiet);
  SetText(c, TWTOKEN_DATABASE, database);
  SetText(c, kLinktype, linktype);
  SetText(c, kZid, zid);
  if (TWConnectConnect(c) != TWSUCCESS) {
    TWConnectFree(c);
    return TWNULLHANDLE;
  }
  return c;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One transfer through the two connections; the number of records moved.
size_t Transfer(const std::string& dir) {
  TWCONNECT source = Open(dir + "in.csv", "SOURCE",
                          "NAME TYPE TEXT DELIM ,\nQTY TYPE NUMBER DELIM ,\n"
                          "PRICE TYPE NUMBER.2 DELIM ,\nDAY TYPE DATE FORMAT DD.MM.YYYY DELIM ,\n"
                          "CITY TYPE TEXT DELIM ,\nNOTE TYPE TEXT");
  TWCONNECT dest = Open(dir + "out.txt", "DESTINATION",
                        "NAME TYPE TEXT START 1 WIDTH 12\nQTY TYPE NUMBER START 13 WIDTH 8 RIGHT\n"
                        "PRICE TYPE NUMBER.2 START 21 WIDTH 12\n"
                        "DAY TYPE DATE START 33 WIDTH 10 FORMAT YYYY-MM-DD\n"
                        "CITY TYPE TEXT START 43 WIDTH 10\nNOTE TYPE TEXT START 53 WIDTH 8");
  if (source == TWNULLHANDLE || dest == TWNULLHANDLE) return 0;
  TWFIELDLIST block = TWNULLHANDLE;
  TWFieldlistAlloc(&block, kBlock, 0);
  uint32_t described = 0;
  TWConnectExecute(source, nullptr, block, &described);
  size_t moved = 0;
  for (;;) {
    uint32_t fetched = 0, inserted = 0;
    const uint32_t st = TWConnectFetch(source, block, 1, kBlock, &fetched);
    if (fetched > 0 && TWConnectInsert(dest, block, 1, fetched, &inserted) != TWSUCCESS) break;
    moved += inserted;
    if (st != TWSUCCESS) break;
  }
  TWFieldlistFree(block);
  TWConnectDisconnect(dest);
  TWConnectFree(dest);
  TWConnectDisconnect(source);
  TWConnectFree(source);
  return moved;
}

// The same work as an awk program; seconds taken, or a negative number without awk.
double Awk(const std::string& dir) {
  if (TWProcCommandExec("command -v awk >/dev/null 2>&1") != TWSUCCESS) return -1;
  const std::string program =
      "awk -F, '{ split($4, d, \".\"); p = sprintf(\"%.2f\", $3 / 100);"
      " printf \"%-12.12s%8s%12s%s-%s-%s%-10.10s%.8s\\n\", $1, $2, p, d[3], d[2], d[1], $5, $6 "
      "}' " +
      dir + "in.csv > " + dir + "awk.txt";
  const auto start = std::chrono::steady_clock::now();
  const uint32_t st = TWProcCommandExec(program.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return st == TWSUCCESS ? seconds : -1;
}

void BM_FlatrecDelimitedToFixed(benchmark::State& state) {
  const std::string& dir = Files().dir();
  TWSystemInit();
  TWActivityAlloc(0, nullptr, 0);
  size_t records = 0;
  double flatrecSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    records = Transfer(dir);
    flatrecSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (records != RecordCount()) state.SkipWithError("not every record was moved");
  }
  TWActivityFree();
  TWSystemTerm();
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  // After the timed loop: the awk run is timed on its own, and both outputs must agree
  // (flatrec writes no delimiter after the last record).
  const double awkSeconds = Awk(dir);
  if (awkSeconds > 0) {
    std::string expected = Slurp(dir + "awk.txt");
    if (!expected.empty() && expected.back() == '\n') expected.pop_back();
    if (Slurp(dir + "out.txt") != expected) state.SkipWithError("flatrec and awk outputs differ");
  }
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
