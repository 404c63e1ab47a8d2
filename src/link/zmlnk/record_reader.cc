// The buffered record reader of the text-file connector.
#include "record_reader.h"

#include <cstring>

#include "flowcore.h"
#include "platform.h"

namespace flatrec {

namespace {

// Text mode shows a CRLF pair as a lone line feed, so a delimiter holding one matches what
// the translated stream shows.
std::string Translated(std::string_view delimiter) {
  std::string out;
  for (size_t i = 0; i < delimiter.size(); ++i) {
    if (delimiter[i] == '\r' && i + 1 < delimiter.size() && delimiter[i + 1] == '\n') continue;
    out.push_back(delimiter[i]);
  }
  return out;
}

}  // namespace

uint32_t RecordReader::Setup(MemRegistry& registry, const Options& options) {
  options_ = options;
  delimiter_ = options.mode == Mode::kLines ? std::string("\n") : options.delimiter;
  if (options.textMode) delimiter_ = Translated(delimiter_);
  limit_ = options.mode == Mode::kFixed ? options.fixedSize : options.limit;
  begin_ = end_ = held_ = 0;
  eof_ = error_ = truncated_ = false;
  return buffer_.Allocate(registry, 2 * limit_ + delimiter_.size() + kReadBlock + 1,
                          "ZPGetInputRecord: ");
}

uint32_t RecordReader::Open(MemRegistry& registry, const Options& options, FILE* file) {
  file_ = file;
  memory_ = {};
  return Setup(registry, options);
}

uint32_t RecordReader::OpenMemory(MemRegistry& registry, const Options& options,
                                  std::string_view data) {
  file_ = nullptr;
  memory_ = data;
  return Setup(registry, options);
}

void RecordReader::DropCarriageReturns(size_t from) {
  char* buf = buffer_.data();
  char* p = buf + from;
  char* const e = buf + end_;
  char* w = p;
  bool hold = false;
  while (p < e) {
    char* cr = static_cast<char*>(std::memchr(p, '\r', static_cast<size_t>(e - p)));
    char* stop = cr != nullptr ? cr : e;
    const size_t n = static_cast<size_t>(stop - p);
    if (w != p) std::memmove(w, p, n);
    w += n;
    if (cr == nullptr) break;
    if (cr + 1 < e) {
      if (cr[1] != '\n') *w++ = '\r';
      p = cr + 1;
    } else {
      // What follows a final carriage return is not known until the next read.
      if (eof_)
        *w++ = '\r';
      else
        hold = true;
      p = e;
    }
  }
  end_ = static_cast<size_t>(w - buf);
  held_ = hold ? 1 : 0;
  if (hold) buf[end_] = '\r';
}

bool RecordReader::Fill() {
  if (eof_ || error_) return false;
  char* buf = buffer_.data();
  const size_t cap = buffer_.size();
  if (cap - (end_ + held_) < kReadBlock && begin_ > 0) {
    const size_t keep = end_ + held_ - begin_;
    std::memmove(buf, buf + begin_, keep);
    end_ -= begin_;
    begin_ = 0;
  }
  const size_t at = end_ + held_;
  const size_t room = cap - at;
  size_t got = 0;
  if (room > 0) {
    if (file_ != nullptr) {
      got = TWFileRead(file_, static_cast<uint32_t>(room), buf + at);
      if (got < room) {
        if (std::ferror(file_)) {
          error_ = true;
          return false;
        }
        eof_ = true;
      }
    } else {
      got = room < memory_.size() ? room : memory_.size();
      std::memcpy(buf + at, memory_.data(), got);
      memory_.remove_prefix(got);
      if (memory_.empty()) eof_ = true;
    }
  }
  const size_t oldEnd = end_;
  const size_t from = end_;
  end_ = at + got;
  held_ = 0;
  if (options_.textMode) DropCarriageReturns(from);
  return got > 0 || end_ != oldEnd;
}

RecordReader::Result RecordReader::Next(std::string_view* record, uint64_t* fullLength) {
  truncated_ = false;
  if (options_.mode == Mode::kFixed) return NextFixed(record, fullLength);
  return NextDelimited(record, fullLength);
}

RecordReader::Result RecordReader::NextFixed(std::string_view* record, uint64_t* fullLength) {
  while (end_ - begin_ < limit_ && Fill()) {
  }
  if (error_) return Result::kError;
  const size_t n = end_ - begin_ < limit_ ? end_ - begin_ : limit_;
  if (n == 0) return Result::kEnd;
  *record = std::string_view(buffer_.data() + begin_, n);
  *fullLength = n;
  begin_ += n;
  return Result::kRecord;
}

RecordReader::Result RecordReader::NextDelimited(std::string_view* record, uint64_t* fullLength) {
  const std::string& d = delimiter_;
  const size_t dl = d.size();
  size_t searched = 0;  // bytes from begin_ known to hold no whole delimiter
  uint64_t dropped = 0;
  for (;;) {
    char* buf = buffer_.data();
    const size_t avail = end_ - begin_;
    const char* from = buf + begin_ + searched;
    const size_t span = avail - searched;
    const char* hit = nullptr;
    if (dl == 1)
      hit = static_cast<const char*>(std::memchr(from, static_cast<unsigned char>(d[0]), span));
    else if (dl > 1 && span >= dl)
      hit = static_cast<const char*>(::memmem(from, span, d.data(), dl));
    if (hit != nullptr) {
      const size_t content = static_cast<size_t>(hit - (buf + begin_));
      // Only a line keeps its end: a record delimiter frames records in any kind of file.
      const bool keepEnd = options_.keepLineEnd && options_.mode == Mode::kLines;
      const size_t withEnd = keepEnd ? content + dl : content;
      *fullLength = content + dropped;
      truncated_ = *fullLength > limit_;
      *record = std::string_view(buf + begin_, truncated_ ? limit_ : withEnd);
      begin_ += content + dl;
      return Result::kRecord;
    }
    // No whole delimiter before the last dl - 1 bytes, which may begin one.
    searched = avail >= dl ? avail - (dl - 1) : 0;
    if (avail > limit_ + dl) {
      // An overlong record: keep its first limit_ bytes and the tail that may start the
      // delimiter; the bytes between are counted and dropped.
      const size_t tail = dl - 1;
      const size_t cut = begin_ + limit_;
      const size_t drop = end_ - tail - cut;
      std::memmove(buf + cut, buf + end_ - tail, tail + held_);
      end_ -= drop;
      dropped += drop;
      searched = limit_;
    }
    if (!Fill()) {
      if (error_) return Result::kError;
      const size_t rest = end_ - begin_;
      if (rest == 0 && dropped == 0) return Result::kEnd;
      *fullLength = rest + dropped;
      truncated_ = *fullLength > limit_;
      *record = std::string_view(buf + begin_, truncated_ ? limit_ : rest);
      begin_ = end_;
      return Result::kRecord;
    }
  }
}

}  // namespace flatrec
