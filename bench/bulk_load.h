// What the benchmarks that load a delimited text file into a database share: the file and
// its field descriptions, a count from the environment, a program's output, and the texts of
// the activity log to show when a run failed.
#ifndef TW_BENCH_BULK_LOAD_H_
#define TW_BENCH_BULK_LOAD_H_

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"
#include "taskrun_install.h"
#include "temp_dir.h"

namespace bulk_load {

// The file as flatrec reads it; the same file is the loaders' CSV (no header, no quotes).
inline constexpr char kZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nCITY TYPE TEXT DELIM ,\nNOTE TYPE TEXT";

// The positive number the environment variable name holds, else fallback.
inline size_t EnvCount(const char* name, size_t fallback) {
  const char* n = std::getenv(name);
  return n != nullptr && std::atol(n) > 0 ? static_cast<size_t>(std::atol(n)) : fallback;
}

// records records "id,name,price,day,city,note" into path: distinct ids from 1, prices with
// two decimals, dates over thirty years; false when the file could not be written whole.
inline bool WriteInput(const std::string& path, size_t records) {
  std::ofstream in(path, std::ios::binary);
  char line[160];
  for (size_t i = 0; i < records && in; ++i) {
    const size_t cents = (i * 7919) % 10000000;
    const int n = std::snprintf(
        line, sizeof line, "%zu,name%zu,%zu.%02zu,%zu-%02zu-%02zu,city%zu,note %zu\n", i + 1, i,
        cents / 100, cents % 100, 1990 + i % 30, i % 12 + 1, i % 28 + 1, i % 977, i % 13);
    in.write(line, n);
  }
  in.close();
  return static_cast<bool>(in);
}

inline std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// Runs args in dir; its standard output, trimmed, and its exit code in *code.
inline std::string Output(const std::vector<std::string>& args, const std::string& dir, int* code) {
  const std::string where = bench_temp::MakeDir("bulk_bench_out");
  if (where.empty()) {
    *code = -1;
    return {};
  }
  const std::string path = where + "/out";
  *code = taskrun_install::Run(args, dir, path);
  std::string out = Trim(taskrun_install::Slurp(path));
  std::error_code ec;
  std::filesystem::remove_all(where, ec);
  return out;
}

// The texts of the activity documents in plexadm's export (their Body items, decoded); all of
// the export when it has none.
inline std::string ActivityText(const std::string& log) {
  std::string text;
  constexpr std::string_view kBody = R"("name":"Body","type":"richtext","text":")";
  for (size_t at = log.find(kBody); at != std::string::npos; at = log.find(kBody, at)) {
    for (at += kBody.size(); at < log.size() && log[at] != '"'; ++at) {
      if (log[at] != '\\' || at + 1 == log.size()) {
        text += log[at];
        continue;
      }
      const char c = log[++at];
      text += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
  }
  return text.empty() ? log : text;
}

// The items of a flatrec link document named name on the records file path, writing nothing
// to standard output (Trace 1): flatrec's own tokens Trace 4, ZID 15 and Linktype 16.
inline std::vector<std::string> FlatrecSourceItems(const std::string& name,
                                                   const std::string& path) {
  return {"Name=" + name,
          "Database=" + path,
          std::string("ZID=") + kZid,
          "Linktype=SOURCE",
          "Trace:number=1",
          "PropNameList:textlist=Database,ZID,Linktype,Trace",
          "PropTokenList:numberlist=" + std::to_string(TWTOKEN_DATABASE) + ",15,16,4"};
}

}  // namespace bulk_load

#endif  // TW_BENCH_BULK_LOAD_H_
