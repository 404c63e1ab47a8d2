// The text-file transfer that the flatrec benchmarks time: the generated delimited input
// (text, integer, implied-decimal number, formatted date, two texts), the ZID descriptions of
// its source and its fixed-width destination, the transfer through flatrec.twx in this
// process, and the awk program doing the same work for comparison. FLATREC_BENCH_RECORDS
// sets the record count (1,000,000).
#ifndef TW_BENCH_FLATREC_CASE_H_
#define TW_BENCH_FLATREC_CASE_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "flowcore.h"
#include "platform.h"

namespace flatrec_case {

// Records per fetch and insert; a direct transfer gets the same as its RecordCount.
inline constexpr uint32_t kBlock = 1000;
// Own tokens of flatrec.
inline constexpr uint32_t kTrace = 4, kZid = 15, kLinktype = 16;
// Trace bits: nothing on standard output.
inline constexpr int32_t kQuiet = 1;

inline constexpr char kSourceZid[] =
    "NAME TYPE TEXT DELIM ,\nQTY TYPE NUMBER DELIM ,\n"
    "PRICE TYPE NUMBER.2 DELIM ,\nDAY TYPE DATE FORMAT DD.MM.YYYY DELIM ,\n"
    "CITY TYPE TEXT DELIM ,\nNOTE TYPE TEXT";
inline constexpr char kDestZid[] =
    "NAME TYPE TEXT START 1 WIDTH 12\nQTY TYPE NUMBER START 13 WIDTH 8 RIGHT\n"
    "PRICE TYPE NUMBER.2 START 21 WIDTH 12\n"
    "DAY TYPE DATE START 33 WIDTH 10 FORMAT YYYY-MM-DD\n"
    "CITY TYPE TEXT START 43 WIDTH 10\nNOTE TYPE TEXT START 53 WIDTH 8";

inline size_t RecordCount() {
  const char* n = std::getenv("FLATREC_BENCH_RECORDS");
  return n != nullptr && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : 1000000;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Two digits at least, as in a date.
inline std::string Two(size_t v) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%02zu", v);
  return digits;
}

// RecordCount() delimited records into path; false when the file could not be written whole.
inline bool WriteInput(const std::string& path) {
  std::ofstream in(path, std::ios::binary);
  std::string line;
  for (size_t i = 0; i < RecordCount() && in; ++i) {
    line = "name" + std::to_string(i) + "," + std::to_string(i % 100000) + "," +
           std::to_string((i * 7919) % 10000000) + "," + Two(i % 28 + 1) + "." + Two(i % 12 + 1) +
           "." + std::to_string(1990 + i % 30) + ",city" + std::to_string(i % 977) + ",note " +
           std::to_string(i % 13) + "\n";
    in << line;
  }
  in.close();
  return static_cast<bool>(in);
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t SetText(TWCONNECT c, uint32_t token, const std::string& text) {
  TWStream s{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
             const_cast<char*>(text.data())};
  return TWConnectSetPropertyStream(c, TWTOKENF_EXTERN | token, &s);
}

inline TWCONNECT Open(const std::string& database, const std::string& linktype,
                      const std::string& zid) {
  TWStream name{0, 0, TWSTREAMFMT_NATIVE, 7, const_cast<char*>("flatrec")};
  TWCONNECT c = TWNULLHANDLE;
  if (TWConnectAlloc(&c, TWTOKENF_EXTERN, &name) != TWSUCCESS) return TWNULLHANDLE;
  int32_t quiet = kQuiet;
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

// One transfer from input to output through two connections of this process, which must
// have its system and a standalone activity set up; the number of records moved.
inline size_t Transfer(const std::string& input, const std::string& output) {
  TWCONNECT source = Open(input, "SOURCE", kSourceZid);
  TWCONNECT dest = Open(output, "DESTINATION", kDestZid);
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

// The awk the comparison runs: mawk, the fastest of the common ones, when installed.
inline const char* AwkName() {
  return TWProcCommandExec("command -v mawk >/dev/null 2>&1") == TWSUCCESS ? "mawk" : "awk";
}

// The same work as an awk program (AwkName()) from input to output; seconds taken, or a
// negative number without awk.
inline double Awk(const std::string& input, const std::string& output) {
  if (TWProcCommandExec("command -v awk >/dev/null 2>&1") != TWSUCCESS) return -1;
  const std::string program =
      std::string(AwkName()) +
      " -F, '{ split($4, d, \".\"); p = sprintf(\"%.2f\", $3 / 100);"
      " printf \"%-12.12s%8s%12s%s-%s-%s%-10.10s%.8s\\n\", $1, $2, p, d[3], d[2], d[1], $5, $6 "
      "}' " +
      input + " > " + output;
  const auto start = std::chrono::steady_clock::now();
  const uint32_t st = TWProcCommandExec(program.c_str());
  const double seconds = SecondsSince(start);
  return st == TWSUCCESS ? seconds : -1;
}

// cat copying input to output, the floor of any program that reads and writes the file;
// seconds taken, or a negative number on failure.
inline double Cat(const std::string& input, const std::string& output) {
  const std::string command = "cat " + input + " > " + output;
  const auto start = std::chrono::steady_clock::now();
  const uint32_t st = TWProcCommandExec(command.c_str());
  const double seconds = SecondsSince(start);
  return st == TWSUCCESS ? seconds : -1;
}

// flatrec writes no delimiter after the last record; awk ends every line.
inline bool SameAsAwk(const std::string& flatrecOutput, const std::string& awkOutput) {
  std::string expected = Slurp(awkOutput);
  if (!expected.empty() && expected.back() == '\n') expected.pop_back();
  return Slurp(flatrecOutput) == expected;
}

}  // namespace flatrec_case

#endif  // TW_BENCH_FLATREC_CASE_H_
