// The buffered record writer of the text-file connector.
#include "record_writer.h"

#include <cerrno>
#include <cstring>

#include "platform.h"
#include "text_util.h"

namespace flatrec {

uint32_t RecordWriter::Open(MemRegistry& registry, FILE* file) {
  file_ = file;
  used_ = 0;
  failed_ = false;
  errno_ = 0;
  return buffer_.Allocate(registry, kBlock, "ZPWrite: ");
}

bool RecordWriter::WriteThrough(const char* data, size_t n) {
  while (n > 0 && !failed_) {
    const uint32_t piece = n > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(n);
    errno = 0;
    const uint32_t wrote = file_ != nullptr ? TWFileWrite(file_, piece, data) : 0;
    if (wrote != piece) {
      failed_ = true;
      errno_ = errno != 0 ? errno : EIO;
      return false;
    }
    data += wrote;
    n -= wrote;
  }
  return !failed_;
}

bool RecordWriter::Flush() {
  if (failed_) return false;
  const size_t n = used_;
  used_ = 0;
  return WriteThrough(buffer_.data(), n);
}

bool RecordWriter::Write(std::string_view bytes) {
  if (failed_) return false;
  if (used_ + bytes.size() > buffer_.size()) {
    if (!Flush()) return false;
    if (bytes.size() > buffer_.size()) return WriteThrough(bytes.data(), bytes.size());
  }
  CopyBytes(buffer_.data() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
  return true;
}

}  // namespace flatrec
