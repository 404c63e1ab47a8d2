// Record framing of the text-file connector: fixed blocks, delimited records and lines, text
// and binary, as tables of input bytes and the records they give; the same through a file
// and across the read buffer's boundaries.
#include "record_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "platform.h"

namespace flatrec {
namespace {

using Mode = RecordReader::Mode;

struct Framing {
  const char* name;
  std::string data;
  Mode mode;
  std::string delimiter;
  size_t size;  // fixed size, or the record limit
  bool text;
  bool keepLineEnd;
  std::vector<std::string> records;
  std::vector<uint64_t> full;  // lengths in the file, when a record was cut
};

RecordReader::Options OptionsOf(const Framing& f) {
  RecordReader::Options o;
  o.mode = f.mode;
  o.delimiter = f.delimiter;
  o.fixedSize = f.mode == Mode::kFixed ? f.size : 0;
  o.limit = f.size;
  o.textMode = f.text;
  o.keepLineEnd = f.keepLineEnd;
  return o;
}

std::vector<std::string> ReadAll(RecordReader& reader, std::vector<uint64_t>* full) {
  std::vector<std::string> out;
  std::string_view rec;
  uint64_t length = 0;
  while (reader.Next(&rec, &length) == RecordReader::Result::kRecord) {
    out.emplace_back(rec);
    if (full != nullptr && reader.truncated()) full->push_back(length);
  }
  return out;
}

const Framing kFramings[] = {
    {"CRLF delimiter", "A\r\nB", Mode::kDelimited, "\r\n", 100, false, false, {"A", "B"}, {}},
    {"CRLF at the end", "A\r\nB\r\n", Mode::kDelimited, "\r\n", 100, false, false, {"A", "B"}, {}},
    {"lone CR stays data",
     "A\rX\r\nB",
     Mode::kDelimited,
     "\r\n",
     100,
     false,
     false,
     {"A\rX", "B"},
     {}},
    {"CRLF delimiter, text",
     "A\r\nB\r\n",
     Mode::kDelimited,
     "\r\n",
     100,
     true,
     false,
     {"A", "B"},
     {}},
    {"LF delimiter, text drops CR",
     "A\r\nB\n",
     Mode::kDelimited,
     "\n",
     100,
     true,
     false,
     {"A", "B"},
     {}},
    {"LF delimiter, binary keeps CR",
     "A\r\nB\n",
     Mode::kDelimited,
     "\n",
     100,
     false,
     false,
     {"A\r", "B"},
     {}},
    // Line ends kept (a binary file) leave a delimiter where it is: consumed.
    {"delimiter, line ends kept",
     "A\r\nB--C--",
     Mode::kDelimited,
     "--",
     100,
     false,
     true,
     {"A\r\nB", "C"},
     {}},
    {"empty records", "a||b|", Mode::kDelimited, "|", 100, false, false, {"a", "", "b"}, {}},
    {"multi-byte", "aab--b-c--", Mode::kDelimited, "--", 100, false, false, {"aab", "b-c"}, {}},
    {"multi-byte overlapping start",
     "x---y",
     Mode::kDelimited,
     "--",
     100,
     false,
     false,
     {"x", "-y"},
     {}},
    {"empty file", "", Mode::kDelimited, "\n", 100, false, false, {}, {}},
    {"cut and resumed after the delimiter",
     "abcdefgh|xy|",
     Mode::kDelimited,
     "|",
     4,
     false,
     false,
     {"abcd", "xy"},
     {8}},
    {"cut, multi-byte",
     "abcdef#!gh#!",
     Mode::kDelimited,
     "#!",
     3,
     false,
     false,
     {"abc", "gh"},
     {6}},
    {"cut at the end", "abcdefgh", Mode::kDelimited, "|", 4, false, false, {"abcd"}, {8}},
    {"fixed with a short last block",
     "AAAABBBBCC",
     Mode::kFixed,
     "",
     4,
     false,
     false,
     {"AAAA", "BBBB", "CC"},
     {}},
    {"fixed, text mode drops CR before LF",
     "AB\r\nCD",
     Mode::kFixed,
     "",
     3,
     true,
     false,
     {"AB\n", "CD"},
     {}},
    {"lines, text",
     "one\r\ntwo\nthree",
     Mode::kLines,
     "",
     100,
     true,
     false,
     {"one", "two", "three"},
     {}},
    {"lines, binary keep the line feed",
     "one\ntwo",
     Mode::kLines,
     "",
     100,
     false,
     true,
     {"one\n", "two"},
     {}},
    // A long line is cut with the rest skipped: never extra records.
    {"long line", "abcdefghij\nxy\n", Mode::kLines, "", 4, true, false, {"abcd", "xy"}, {10}},
};

TEST(FlatrecFraming, FromMemory) {
  for (const Framing& f : kFramings) {
    MemRegistry registry;
    RecordReader reader;
    ASSERT_EQ(reader.OpenMemory(registry, OptionsOf(f), f.data), 0u) << f.name;
    std::vector<uint64_t> full;
    EXPECT_EQ(ReadAll(reader, &full), f.records) << f.name;
    EXPECT_EQ(full, f.full) << f.name;
  }
}

TEST(FlatrecFraming, FromAFile) {
  twtest::TempDir dir;
  for (const Framing& f : kFramings) {
    const std::string path = dir / "data";
    twtest::WriteFile(path, f.data);
    FILE* file = TWFileOpen(path.c_str(), TWFILE_READ | TWFILE_BINARY);
    ASSERT_NE(file, nullptr);
    MemRegistry registry;
    RecordReader reader;
    ASSERT_EQ(reader.Open(registry, OptionsOf(f), file), 0u) << f.name;
    EXPECT_EQ(ReadAll(reader, nullptr), f.records) << f.name;
    TWFileClose(file);
  }
}

// Records and delimiters that straddle the buffer's refills, and a CR held back at the end
// of one read.
TEST(FlatrecFraming, AcrossReadBlocks) {
  const struct {
    std::string delimiter;
    bool text;
  } variants[] = {{"\n", false}, {"\r\n", false}, {"\r\n", true}, {"<EOR>", false}};
  for (const auto& v : variants) {
    std::string data;
    std::vector<std::string> expected;
    for (int i = 0; data.size() < 3 * RecordReader::kReadBlock; ++i) {
      std::string rec =
          "record-" + std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'x');
      expected.push_back(rec);
      data += rec + v.delimiter;
    }
    RecordReader::Options o;
    o.mode = Mode::kDelimited;
    o.delimiter = v.delimiter;
    o.limit = 1000;
    o.textMode = v.text;
    MemRegistry registry;
    RecordReader reader;
    ASSERT_EQ(reader.OpenMemory(registry, o, data), 0u);
    EXPECT_EQ(ReadAll(reader, nullptr), expected) << v.delimiter;
  }
}

TEST(FlatrecFraming, AnOverlongRecordSpanningManyBlocks) {
  const std::string data = std::string(5 * RecordReader::kReadBlock, 'z') + "\nnext\n";
  RecordReader::Options o;
  o.mode = Mode::kDelimited;
  o.delimiter = "\n";
  o.limit = 16;
  MemRegistry registry;
  RecordReader reader;
  ASSERT_EQ(reader.OpenMemory(registry, o, data), 0u);
  std::vector<uint64_t> full;
  EXPECT_EQ(ReadAll(reader, &full), (std::vector<std::string>{std::string(16, 'z'), "next"}));
  EXPECT_EQ(full, std::vector<uint64_t>{5 * RecordReader::kReadBlock});
}

}  // namespace
}  // namespace flatrec
