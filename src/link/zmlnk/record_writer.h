// Record output of the text-file connector: a write buffer over the data file that keeps the
// first failure (a full disk, a closed pipe) so that no loss goes unnoticed, and that cuts a
// file a failed write left in the middle of a record back to its last whole record.
#ifndef TW_LINK_ZMLNK_RECORD_WRITER_H_
#define TW_LINK_ZMLNK_RECORD_WRITER_H_

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "memreg.h"

namespace flatrec {

class RecordWriter {
 public:
  static constexpr size_t kBlock = 256 * 1024;

  RecordWriter() = default;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes to file (not owned; unbuffered, so every flush reaches the system at once), whose
  // present end counts as a record boundary. 0 or 258.
  [[nodiscard]] uint32_t Open(MemRegistry& registry, FILE* file);
  // Buffers bytes (a large block goes straight through); false once a write has failed.
  bool Write(std::string_view bytes);
  // The bytes written so far end a whole record (or header, or trailer): a write that fails
  // later leaves the file no shorter than here.
  void EndRecord();
  // Writes the buffered bytes; false once a write has failed.
  bool Flush();
  // Throws away what is buffered (the file is being emptied).
  void Discard() {
    used_ = 0;
    marks_.clear();
  }
  bool failed() const { return failed_; }
  // errno of the first failure.
  int error() const { return errno_; }
  // After a failure: errno of cutting the file back to its last whole record, 0 when the
  // file ends there.
  int cutError() const { return cutErrno_; }

 private:
  bool WriteThrough(const char* data, size_t n);
  // Cuts the file back to the last record boundary at or before reached, the offset up to
  // which the failed write's bytes are in it.
  void CutBack(uint64_t reached);

  RegBuffer buffer_;
  FILE* file_ = nullptr;
  size_t used_ = 0;
  uint64_t written_ = 0;         // the file's length: where the buffered bytes will start
  uint64_t whole_ = 0;           // the last record boundary that is in the file
  std::vector<uint32_t> marks_;  // record boundaries in the buffer, as offsets into it
  bool failed_ = false;
  int errno_ = 0;
  int cutErrno_ = 0;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_RECORD_WRITER_H_
