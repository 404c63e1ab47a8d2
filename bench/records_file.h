// The delimited text file the loading benchmarks share: "id,name,price,day,city,note" records
// as flatrec reads them (kRecordsZid) and as the databases' own loaders read CSV (no header, no
// quotes), and the trimming of a program's output.
#ifndef TW_BENCH_RECORDS_FILE_H_
#define TW_BENCH_RECORDS_FILE_H_

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "flowcore.h"

namespace records_file {

inline constexpr char kRecordsZid[] =
    "ID TYPE NUMBER DELIM ,\nNAME TYPE TEXT DELIM ,\nPRICE TYPE NUMBER.2 DELIM ,\n"
    "DAY TYPE DATE FORMAT YYYY-MM-DD DELIM ,\nCITY TYPE TEXT DELIM ,\nNOTE TYPE TEXT";

// count records into path: distinct ids from 1, prices with two decimals, dates over thirty
// years from 1990; false when the file could not be written whole.
inline bool WriteRecords(const std::string& path, size_t count) {
  std::ofstream in(path, std::ios::binary);
  char line[160];
  for (size_t i = 0; i < count && in; ++i) {
    const size_t cents = (i * 7919) % 10000000;
    const int n = std::snprintf(
        line, sizeof line, "%zu,name%zu,%zu.%02zu,%zu-%02zu-%02zu,city%zu,note %zu\n", i + 1, i,
        cents / 100, cents % 100, 1990 + i % 30, i % 12 + 1, i % 28 + 1, i % 977, i % 13);
    in.write(line, n);
  }
  in.close();
  return static_cast<bool>(in);
}

// text without its trailing line ends and blanks.
inline std::string Trim(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

// The items of a flatrec link document named name on the records file path, writing nothing
// to standard output (Trace 1): flatrec's own tokens Trace 4, ZID 15 and Linktype 16.
inline std::vector<std::string> FlatrecSourceItems(const std::string& name,
                                                   const std::string& path) {
  return {"Name=" + name,
          "Database=" + path,
          std::string("ZID=") + kRecordsZid,
          "Linktype=SOURCE",
          "Trace:number=1",
          "PropNameList:textlist=Database,ZID,Linktype,Trace",
          "PropTokenList:numberlist=" + std::to_string(TWTOKEN_DATABASE) + ",15,16,4"};
}

}  // namespace records_file

#endif  // TW_BENCH_RECORDS_FILE_H_
