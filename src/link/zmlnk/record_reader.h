// Record input of the text-file connector: a large read buffer over a data file (or over
// embedded data held in memory) cut into fixed-size, delimited or line records. Records are
// views into the buffer; delimiters are found with memchr/memmem, never byte by byte.
#ifndef TW_LINK_ZMLNK_RECORD_READER_H_
#define TW_LINK_ZMLNK_RECORD_READER_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "memreg.h"

namespace flatrec {

class RecordReader {
 public:
  enum class Mode : uint8_t { kFixed, kDelimited, kLines };
  struct Options {
    Mode mode = Mode::kLines;
    size_t fixedSize = 0;      // kFixed: the record size
    std::string delimiter;     // kDelimited: the record delimiter
    size_t limit = 0;          // the longest record delivered; longer ones are cut
    bool textMode = true;      // a carriage return before a line feed is dropped
    bool keepLineEnd = false;  // kLines: the line feed stays in the record (binary files)
  };
  enum class Result : uint8_t { kRecord, kEnd, kError };

  // The buffer holds at least twice the longest record and a read block.
  static constexpr size_t kReadBlock = 256 * 1024;

  RecordReader() = default;
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Reads from file (not owned) or from data (which must outlive the reader). 0 or 258.
  [[nodiscard]] uint32_t Open(MemRegistry& registry, const Options& options, FILE* file);
  [[nodiscard]] uint32_t OpenMemory(MemRegistry& registry, const Options& options,
                                    std::string_view data);

  // The next record, a view valid until the next call; *fullLength is its length in the
  // file (above the record's own length when it was cut). kError: the file could not be
  // read (errno tells why).
  Result Next(std::string_view* record, uint64_t* fullLength);
  bool truncated() const { return truncated_; }

 private:
  [[nodiscard]] uint32_t Setup(MemRegistry& registry, const Options& options);
  // Reads more bytes behind the buffered ones, moving these to the buffer's start first
  // when room is short. False at the end of the data or on an error (error_ set).
  bool Fill();
  // Drops each carriage return directly before a line feed in [from, end_); a carriage
  // return at the very end is held back until the next read shows what follows.
  void DropCarriageReturns(size_t from);
  Result NextFixed(std::string_view* record, uint64_t* fullLength);
  Result NextDelimited(std::string_view* record, uint64_t* fullLength);

  Options options_;
  std::string delimiter_;  // the delimiter as the translated stream shows it
  size_t limit_ = 0;
  RegBuffer buffer_;
  FILE* file_ = nullptr;
  std::string_view memory_;
  size_t begin_ = 0;  // first unread byte
  size_t end_ = 0;    // end of the translated bytes
  size_t held_ = 0;   // 1 when a carriage return waits at end_
  bool eof_ = false;
  bool error_ = false;
  bool truncated_ = false;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_RECORD_READER_H_
