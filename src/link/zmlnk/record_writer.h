// Record output of the text-file connector: a write buffer over the data file that keeps the
// first failure (a full disk, a closed pipe) so that no loss goes unnoticed.
#ifndef TW_LINK_ZMLNK_RECORD_WRITER_H_
#define TW_LINK_ZMLNK_RECORD_WRITER_H_

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "memreg.h"

namespace flatrec {

class RecordWriter {
 public:
  static constexpr size_t kBlock = 256 * 1024;

  RecordWriter() = default;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes to file (not owned; unbuffered, so every flush reaches the system at once). 0 or
  // 258.
  [[nodiscard]] uint32_t Open(MemRegistry& registry, FILE* file);
  void Rebind(FILE* file) {
    file_ = file;
    used_ = 0;
  }
  // Buffers bytes (a large block goes straight through); false once a write has failed.
  bool Write(std::string_view bytes);
  // Writes the buffered bytes; false once a write has failed.
  bool Flush();
  // Throws away what is buffered (the file is being emptied).
  void Discard() { used_ = 0; }
  bool failed() const { return failed_; }
  // errno of the first failure.
  int error() const { return errno_; }

 private:
  bool WriteThrough(const char* data, size_t n);

  RegBuffer buffer_;
  FILE* file_ = nullptr;
  size_t used_ = 0;
  bool failed_ = false;
  int errno_ = 0;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_RECORD_WRITER_H_
