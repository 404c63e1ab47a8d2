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
  marks_.clear();
  failed_ = false;
  errno_ = 0;
  cutErrno_ = 0;
  const long end = file != nullptr ? TWFileSeek(file, TWSEEK_END, 0) : 0;
  written_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  whole_ = written_;
  return buffer_.Allocate(registry, kBlock, "ZPWrite: ");
}

void RecordWriter::CutBack(uint64_t reached) {
  // Boundaries in the buffer lie after every one already in the file.
  const uint64_t start = written_;
  uint64_t cut = whole_;
  for (auto it = marks_.rbegin(); it != marks_.rend(); ++it) {
    if (start + *it <= reached) {
      cut = start + *it;
      break;
    }
  }
  if (reached <= cut) return;
  errno = 0;
  if (TWFileTruncate(file_, static_cast<long>(cut)) != 0) cutErrno_ = errno != 0 ? errno : EIO;
}

bool RecordWriter::WriteThrough(const char* data, size_t n) {
  uint64_t reached = written_;
  while (n > 0 && !failed_) {
    const uint32_t piece = n > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(n);
    errno = 0;
    const uint32_t wrote = file_ != nullptr ? TWFileWrite(file_, piece, data) : 0;
    reached += wrote;
    if (wrote != piece) {
      failed_ = true;
      errno_ = errno != 0 ? errno : EIO;
      CutBack(reached);
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
  if (!WriteThrough(buffer_.data(), n)) return false;
  if (!marks_.empty()) whole_ = written_ + marks_.back();
  written_ += n;
  used_ = 0;
  marks_.clear();
  return true;
}

bool RecordWriter::Write(std::string_view bytes) {
  if (failed_) return false;
  if (used_ + bytes.size() > buffer_.size()) {
    if (!Flush()) return false;
    if (bytes.size() > buffer_.size()) {
      if (!WriteThrough(bytes.data(), bytes.size())) return false;
      written_ += bytes.size();
      return true;
    }
  }
  CopyBytes(buffer_.data() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
  return true;
}

void RecordWriter::EndRecord() {
  if (failed_) return;
  if (used_ == 0)
    whole_ = written_;
  else if (marks_.empty() || marks_.back() != used_)
    marks_.push_back(static_cast<uint32_t>(used_));
}

}  // namespace flatrec
