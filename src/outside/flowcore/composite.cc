// The composite (rich-text) stream format as text: its record walk, text runs and paragraph
// records.
#include "stream_internal.h"
#include "tw/coding.h"

namespace flowcore {
namespace {

// Record types the engine reads and writes; others are skipped when reading.
constexpr uint8_t kTextRun = 0x85;
constexpr uint8_t kParagraph = 0x81;
// A text run carries a style word before its text.
constexpr size_t kStyleWord = 4;

void PutTextRun(const uint8_t* text, size_t n, ByteBuf& out) {
  size_t body = kStyleWord + n;
  size_t length;
  if (4 + body <= 0xFFFF) {
    length = 4 + body;
    uint8_t* h = out.extend(4);
    h[0] = kTextRun;
    h[1] = 0xFF;
    tw::put_u16(h + 2, static_cast<uint16_t>(length));
  } else {
    length = 6 + body;
    uint8_t* h = out.extend(6);
    h[0] = kTextRun;
    h[1] = 0;
    tw::put_u32(h + 2, static_cast<uint32_t>(length));
  }
  tw::put_u32(out.extend(kStyleWord), 0);
  out.append(text, n);
  if (length & 1) out.push(0);
}

}  // namespace

[[nodiscard]] uint32_t CompositeToUtf8(const uint8_t* bytes, size_t n, ByteBuf& out) {
  size_t pos = 0;
  while (pos < n) {
    const size_t left = n - pos;
    const uint8_t* r = bytes + pos;
    if (left < 2) return TWFAIL_INVALID_STREAM;
    const uint16_t word = tw::get_u16(r);
    size_t header;
    size_t length;
    if (word >= 0xFF00) {
      header = 4;
      if (left < header) return TWFAIL_INVALID_STREAM;
      length = tw::get_u16(r + 2);
    } else if (word >> 8) {
      header = 2;
      length = word >> 8;
    } else {
      header = 6;
      if (left < header) return TWFAIL_INVALID_STREAM;
      length = tw::get_u32(r + 2);
    }
    // A length below its own header would never advance the walk.
    if (length < header || length + (length & 1) > left) return TWFAIL_INVALID_STREAM;
    const uint8_t type = r[0];
    if (type == kTextRun) {
      if (length < header + kStyleWord) return TWFAIL_INVALID_STREAM;
      out.append(r + header + kStyleWord, length - header - kStyleWord);
    } else if (type == kParagraph) {
      out.push('\n');
    }
    pos += length + (length & 1);
  }
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Utf8ToComposite(const uint8_t* text, size_t n, ByteBuf& out) {
  const uint8_t* end = text + n;
  const uint8_t* line = text;
  for (bool first = true;; first = false) {
    const uint8_t* stop = line;
    while (stop < end && *stop != '\n') ++stop;
    size_t len = stop - line;
    // A CR before the LF belongs to the line end, not to the text.
    if (stop < end && len > 0 && line[len - 1] == '\r') --len;
    if (!first) {
      uint8_t* p = out.extend(2);
      p[0] = kParagraph;
      p[1] = 2;
    }
    PutTextRun(line, len, out);
    if (out.size() > kMaxData) return TWFAIL_OVERFLOW;
    if (stop == end) return TWSUCCESS;
    line = stop + 1;
  }
}

}  // namespace flowcore
