// The record reader of the text-file connector over any data and framing: the records put
// back together with their delimiters give the data again (after the CRLF translation of
// text mode), no record is longer than the limit and a cut one says so, and reading through
// a file gives exactly what reading from memory gives.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "record_reader.h"

namespace {

using flatrec::RecordReader;
using Mode = RecordReader::Mode;

struct Record {
  std::string bytes;
  uint64_t full = 0;
  bool truncated = false;
  bool operator==(const Record&) const = default;
};

std::vector<Record> ReadAll(RecordReader& reader, size_t bound) {
  std::vector<Record> out;
  std::string_view rec;
  uint64_t full = 0;
  for (;;) {
    const RecordReader::Result r = reader.Next(&rec, &full);
    FUZZ_CHECK(r != RecordReader::Result::kError);
    if (r == RecordReader::Result::kEnd) break;
    out.push_back(Record{std::string(rec), full, reader.truncated()});
    // Every record but an empty delimited one consumes bytes: more records than bytes and
    // one means the reader stopped advancing.
    FUZZ_CHECK(out.size() <= bound);
  }
  // The end stays the end.
  FUZZ_CHECK(reader.Next(&rec, &full) == RecordReader::Result::kEnd);
  return out;
}

// Each CR right before an LF dropped, as text mode reads.
std::string Translate(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out.push_back(s[i]);
  return out;
}

void CheckFixed(const std::vector<Record>& records, std::string_view data, size_t size) {
  size_t at = 0;
  for (const Record& r : records) {
    FUZZ_CHECK(!r.truncated && r.full == r.bytes.size());
    FUZZ_CHECK(r.bytes == data.substr(at, size));
    at += r.bytes.size();
  }
  FUZZ_CHECK(at == data.size());
}

// data split at the first delimiter after each record's start, each record cut to limit.
void CheckDelimited(const std::vector<Record>& records, std::string_view data, std::string_view d,
                    size_t limit, bool keepEnd) {
  size_t at = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    FUZZ_CHECK(r.full <= data.size() - at);
    const std::string_view original = data.substr(at, r.full);
    const size_t next = data.find(d, at);
    const bool delimited = next != std::string_view::npos;
    FUZZ_CHECK(next == (delimited ? at + r.full : std::string_view::npos));
    FUZZ_CHECK(r.truncated == (r.full > limit));
    std::string expect(original.substr(0, limit));
    if (keepEnd && delimited && !r.truncated) expect += d;
    FUZZ_CHECK(r.bytes == expect);
    at += r.full + (delimited ? d.size() : 0);
    // Only the last record may lack its delimiter, and it is not empty then.
    FUZZ_CHECK(delimited || (i + 1 == records.size() && r.full > 0));
  }
  FUZZ_CHECK(at == data.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider in(bytes, size);
  RecordReader::Options o;
  o.mode = static_cast<Mode>(in.ConsumeIntegralInRange<int>(0, 2));
  o.textMode = in.ConsumeBool();
  o.keepLineEnd = o.mode == Mode::kLines && in.ConsumeBool();
  const size_t limit = in.ConsumeIntegralInRange<size_t>(1, 300);
  if (o.mode == Mode::kFixed) {
    o.fixedSize = limit;
  } else {
    o.limit = limit;
  }
  if (o.mode == Mode::kDelimited) {
    // The connector never frames records with an empty delimiter.
    o.delimiter = in.ConsumeRandomLengthString(8);
    if (o.delimiter.empty()) o.delimiter = "\n";
  }
  const std::string data = in.ConsumeRemainingBytesAsString();

  flatrec::MemRegistry registry;
  FUZZ_CHECK(registry.InitSlots(0) == TWSUCCESS);
  RecordReader memory;
  FUZZ_CHECK(memory.OpenMemory(registry, o, data) == TWSUCCESS);
  const std::vector<Record> records = ReadAll(memory, data.size() + 1);

  const std::string seen = o.textMode ? Translate(data) : data;
  if (o.mode == Mode::kFixed) {
    CheckFixed(records, seen, limit);
  } else {
    std::string d = o.mode == Mode::kLines ? std::string("\n") : o.delimiter;
    if (o.textMode) d = Translate(d);
    CheckDelimited(records, seen, d, limit, o.keepLineEnd);
  }

  // The same bytes through a file.
  if (!data.empty()) {
    std::string copy = data;
    FILE* file = ::fmemopen(copy.data(), copy.size(), "rb");
    FUZZ_CHECK(file != nullptr);
    RecordReader fromFile;
    FUZZ_CHECK(fromFile.Open(registry, o, file) == TWSUCCESS);
    FUZZ_CHECK(ReadAll(fromFile, data.size() + 1) == records);
    std::fclose(file);
  }
  return 0;
}
