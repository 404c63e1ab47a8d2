// Stream records: their data blocks, the TWStream* entry points and the conversions between
// stream formats.
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "stream_internal.h"
#include "tw/guard.h"

namespace flowcore {

// ---------------------------------------------------------------- buffers

ByteBuf::~ByteBuf() {
  std::free(p_);
}

void ByteBuf::reserve(size_t n) {
  if (n <= cap_) return;
  size_t grown = cap_ > SIZE_MAX / 2 ? SIZE_MAX : cap_ * 2;
  size_t want = std::max({n, grown, size_t{64}});
  void* p = std::realloc(p_, want);
  if (p == nullptr) throw std::bad_alloc();
  p_ = static_cast<uint8_t*>(p);
  cap_ = want;
}

uint8_t* ByteBuf::extend(size_t n) {
  size_t end;
  if (__builtin_add_overflow(n_, n, &end)) throw std::bad_alloc();
  reserve(end);
  uint8_t* at = p_ + n_;
  n_ = end;
  return at;
}

void ByteBuf::resize(size_t n) {
  reserve(n);
  n_ = n;
}

void ByteBuf::append(const void* bytes, size_t n) {
  if (n != 0) std::memcpy(extend(n), bytes, n);
}

void ByteBuf::shrink_if_large() {
  if (cap_ > (size_t{1} << 20)) {
    std::free(p_);
    p_ = nullptr;
    cap_ = 0;
    n_ = 0;
  }
}

namespace {

struct ScratchPool {
  std::vector<ByteBuf*> idle;
  size_t made = 0;
  ~ScratchPool() {
    for (ByteBuf* b : idle) delete b;
  }
};

ScratchPool& Pool() {
  thread_local ScratchPool pool;
  return pool;
}

}  // namespace

Scratch::Scratch() {
  ScratchPool& pool = Pool();
  if (pool.idle.empty()) {
    // Room for every buffer made, so that handing one back never allocates.
    pool.idle.reserve(pool.made + 1);
    b_ = new ByteBuf;
    ++pool.made;
  } else {
    b_ = pool.idle.back();
    pool.idle.pop_back();
  }
  b_->clear();
}

Scratch::~Scratch() {
  b_->shrink_if_large();
  b_->clear();
  Pool().idle.push_back(b_);
}

// ---------------------------------------------------------------- records and blocks

namespace {

// A fixed stream gets its whole capacity at the first write so that later values reuse the
// block; beyond this size blocks grow as values need.
constexpr size_t kFixedPrealloc = size_t{1} << 20;

bool Owns(const TWStream* s) {
  return s->data != nullptr && (s->flags & kNotOwned) == 0;
}

size_t BlockCapacity(const TWStream* s) {
  return Owns(s) ? malloc_usable_size(s->data) - 2 : 0;
}

size_t AllocSize(size_t n, uint32_t maxLength, uint32_t flags) {
  if ((flags & TWSTREAMF_FIXED) && maxLength > n && maxLength <= kFixedPrealloc)
    return size_t{maxLength} + 2;
  return n + 2;
}

void Release(TWStream* s) {
  if (Owns(s)) std::free(s->data);
  s->data = nullptr;
  s->length = 0;
  s->flags &= ~kNotOwned;
}

void Terminate(uint8_t* block, size_t n) {
  block[n] = 0;
  block[n + 1] = 0;
}

// A block of s with room for n bytes: s's own when it is big enough (*fresh false), else a
// new one (*fresh true) that the caller installs after copying out of the old.
uint8_t* ObtainBlock(const TWStream* s, size_t n, uint32_t maxLength, uint32_t flags, bool* fresh) {
  if (Owns(s) && BlockCapacity(s) >= n) {
    *fresh = false;
    return static_cast<uint8_t*>(s->data);
  }
  *fresh = true;
  return static_cast<uint8_t*>(std::malloc(AllocSize(n, maxLength, flags)));
}

void Install(TWStream* s, uint8_t* block, bool fresh) {
  if (fresh) {
    if (Owns(s)) std::free(s->data);
    s->data = block;
  }
  s->flags &= ~kNotOwned;
}

}  // namespace

[[nodiscard]] uint32_t RecordBytes(const TWStream* s, const uint8_t** bytes, size_t* n) {
  if (s->data == nullptr && s->length != 0) return TWFAIL_NULL_BUFFER;
  *bytes = static_cast<const uint8_t*>(s->data);
  *n = s->length;
  return TWSUCCESS;
}

TWStream ViewOf(uint32_t format, const uint8_t* bytes, size_t n) {
  return TWStream{0, kNotOwned, format, static_cast<uint32_t>(n), const_cast<uint8_t*>(bytes)};
}

[[nodiscard]] uint32_t StoreBytes(TWStream* s, uint32_t maxLength, uint32_t flags, uint32_t format,
                                  const uint8_t* bytes, size_t n) {
  if (maxLength != 0 && n > maxLength) {
    if (!(flags & TWSTREAMF_TRUNCATE)) return TWFAIL_OVERFLOW;
    if (uint32_t st = CutLength(format, bytes, n, maxLength, &n)) return st;
  }
  if (n > kMaxData) return TWFAIL_OVERFLOW;
  bool fresh;
  uint8_t* block = ObtainBlock(s, n, maxLength, flags, &fresh);
  if (block == nullptr) return TWFAIL_MEMORY;
  // bytes may lie in s's own block: move within it, or copy before the old block goes.
  if (n != 0) std::memmove(block, bytes, n);
  Terminate(block, n);
  Install(s, block, fresh);
  s->maxLength = maxLength;
  s->flags = (flags & ~kPrivateFlags) | (s->flags & kPrivateFlags & ~kNotOwned);
  s->format = format;
  s->length = static_cast<uint32_t>(n);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- binary as text

namespace {

void HexEncode(const uint8_t* src, size_t n, ByteBuf& out) {
  static const char kDigits[] = "0123456789ABCDEF";
  uint8_t* p = out.extend(n * 2);
  for (size_t i = 0; i < n; ++i) {
    p[2 * i] = kDigits[src[i] >> 4];
    p[2 * i + 1] = kDigits[src[i] & 0xF];
  }
}

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void Base64Encode(const uint8_t* src, size_t n, ByteBuf& out) {
  uint8_t* p = out.extend((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = (uint32_t{src[i]} << 16) | (uint32_t{src[i + 1]} << 8) | src[i + 2];
    *p++ = kBase64Digits[v >> 18];
    *p++ = kBase64Digits[(v >> 12) & 63];
    *p++ = kBase64Digits[(v >> 6) & 63];
    *p++ = kBase64Digits[v & 63];
  }
  if (i < n) {
    uint32_t v = uint32_t{src[i]} << 16;
    if (i + 1 < n) v |= uint32_t{src[i + 1]} << 8;
    *p++ = kBase64Digits[v >> 18];
    *p++ = kBase64Digits[(v >> 12) & 63];
    *p++ = i + 1 < n ? kBase64Digits[(v >> 6) & 63] : '=';
    *p++ = '=';
  }
}

int Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Blanks and line ends are skipped; padding may be left out but nothing may follow it.
[[nodiscard]] uint32_t Base64Decode(const uint8_t* src, size_t n, ByteBuf& out) {
  out.reserve(out.size() + n / 4 * 3 + 3);
  uint32_t acc = 0;
  int bits = 0;
  int digits = 0;
  bool padded = false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = src[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    int v = Base64Value(c);
    if (v < 0 || padded) return TWFAIL_TEXT_TRANSLATE;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    ++digits;
    if (bits >= 8) {
      bits -= 8;
      out.push(static_cast<uint8_t>(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  if (digits % 4 == 1) return TWFAIL_TEXT_TRANSLATE;
  return TWSUCCESS;
}

// UTF-8 text of a source that a text, list or composite target reads.
[[nodiscard]] uint32_t SourceUtf8(const uint8_t* src, size_t n, uint32_t from, uint32_t flags,
                                  ByteBuf& tmp, const uint8_t** text, size_t* length) {
  uint32_t st = TWSUCCESS;
  switch (KindOf(from)) {
    case Kind::kText:
    case Kind::kBase64:
      if (IsUtf8Format(from)) {
        *text = src;
        *length = n;
        return TWSUCCESS;
      }
      st = Transcode(src, n, from, TWSTREAMFMT_NATIVE, tmp);
      break;
    case Kind::kBlob:
      if (flags & TWCONVERTF_FORCE_TEXT) {
        *text = src;
        *length = n;
        return TWSUCCESS;
      }
      if (n > kMaxData / 2) return TWFAIL_OVERFLOW;
      HexEncode(src, n, tmp);
      break;
    case Kind::kComposite:
      st = CompositeToUtf8(src, n, tmp);
      break;
    case Kind::kTextList:
      st = TextListToUtf8(src, n, tmp);
      break;
    case Kind::kNumberList:
      st = NumberListToUtf8(src, n, tmp);
      break;
    case Kind::kDatetimeList:
      st = DatetimeListToUtf8(src, n, tmp);
      break;
    case Kind::kOtherBinary:
      return TWFAIL_INVALID_CONVERT;
  }
  if (st != TWSUCCESS) return st;
  *text = tmp.data();
  *length = tmp.size();
  return TWSUCCESS;
}

[[nodiscard]] uint32_t InvalidListStatus(Kind k) {
  return k == Kind::kTextList     ? TWFAIL_INVALID_TEXT_LIST
         : k == Kind::kNumberList ? TWFAIL_INVALID_NUMBER_LIST
                                  : TWFAIL_INVALID_DATETIME_LIST;
}

}  // namespace

[[nodiscard]] uint32_t ConvertBytes(const uint8_t* src, size_t n, uint32_t from, uint32_t to,
                                    uint32_t flags, ByteBuf& out, Converted* result) {
  *result = Converted{src, n, true};
  if (from == to || (IsUtf8Format(from) && IsUtf8Format(to))) return TWSUCCESS;
  const Kind sk = KindOf(from);
  const Kind dk = KindOf(to);
  uint32_t st = TWSUCCESS;
  switch (dk) {
    case Kind::kBlob:
      if (sk != Kind::kBase64) return TWSUCCESS;
      st = Base64Decode(src, n, out);
      break;
    case Kind::kBase64:
      if (sk != Kind::kBlob) return TWFAIL_INVALID_CONVERT;
      if (n > kMaxData / 4 * 3) return TWFAIL_OVERFLOW;
      Base64Encode(src, n, out);
      break;
    case Kind::kText: {
      if (IsTextLike(sk)) {
        st = Transcode(src, n, from, to, out);
        break;
      }
      Scratch tmp;
      const uint8_t* text;
      size_t len;
      if ((st = SourceUtf8(src, n, from, flags, tmp.buf(), &text, &len))) return st;
      if (IsUtf8Format(to)) {
        if (text == src) return TWSUCCESS;
        out.append(text, len);
      } else {
        st = Transcode(text, len, TWSTREAMFMT_NATIVE, to, out);
      }
      break;
    }
    case Kind::kComposite: {
      if (!IsTextLike(sk)) return TWFAIL_INVALID_CONVERT;
      Scratch tmp;
      const uint8_t* text;
      size_t len;
      if ((st = SourceUtf8(src, n, from, flags, tmp.buf(), &text, &len))) return st;
      st = Utf8ToComposite(text, len, out);
      break;
    }
    case Kind::kTextList:
    case Kind::kNumberList:
    case Kind::kDatetimeList: {
      if (sk == Kind::kBlob) {
        size_t listLength;
        if (!ListLength(dk, src, n, &listLength)) return InvalidListStatus(dk);
        result->length = listLength;
        return TWSUCCESS;
      }
      if (!IsTextLike(sk)) return TWFAIL_INVALID_CONVERT;
      Scratch tmp;
      const uint8_t* text;
      size_t len;
      if ((st = SourceUtf8(src, n, from, flags, tmp.buf(), &text, &len))) return st;
      st = dk == Kind::kTextList     ? Utf8ToTextList(text, len, out)
           : dk == Kind::kNumberList ? Utf8ToNumberList(text, len, out)
                                     : Utf8ToDatetimeList(text, len, out);
      break;
    }
    case Kind::kOtherBinary:
      return TWFAIL_INVALID_CONVERT;
  }
  if (st != TWSUCCESS) return st;
  *result = Converted{out.data(), out.size(), false};
  return TWSUCCESS;
}

// ---------------------------------------------------------------- comparison

namespace {

// The next code point of UTF-8 text; a byte that starts no valid sequence stands for itself
// above the Unicode range, so that malformed text still orders consistently.
[[nodiscard]] uint32_t NextCodePoint(const uint8_t*& p, const uint8_t* end) {
  uint8_t c = *p;
  if (c < 0x80) {
    ++p;
    return c;
  }
  int len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || end - p < len) {
    ++p;
    return 0x110000u + c;
  }
  uint32_t cp = c & (0x7F >> len);
  for (int i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) {
      ++p;
      return 0x110000u + c;
    }
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  p += len;
  return cp;
}

// Simple lower-case folding of the Latin, Greek and Cyrillic letters.
[[nodiscard]] uint32_t Fold(uint32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (oddUpper) return (c & 1) ? c + 1 : c;
    return c | 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c == 0x3C2) return 0x3C3;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

int Sign(int v) {
  return (v > 0) - (v < 0);
}

int CompareBytes(const uint8_t* a, size_t n, const uint8_t* b, size_t m) {
  size_t k = std::min(n, m);
  int c = k ? std::memcmp(a, b, k) : 0;
  if (c != 0) return Sign(c);
  return (n > m) - (n < m);
}

int CompareFolded(const uint8_t* a, size_t n, const uint8_t* b, size_t m) {
  const uint8_t* ea = a + n;
  const uint8_t* eb = b + m;
  while (a < ea && b < eb) {
    uint32_t x = Fold(NextCodePoint(a, ea));
    uint32_t y = Fold(NextCodePoint(b, eb));
    if (x != y) return x < y ? -1 : 1;
  }
  return (a < ea) - (b < eb);
}

// The text of a stream as UTF-8; a set without a converter answers TWFAIL_INVALID_CONVERT.
[[nodiscard]] uint32_t TextUtf8(const uint8_t* p, size_t n, uint32_t format, ByteBuf& tmp,
                                const uint8_t** text, size_t* length) {
  if (IsUtf8Format(format)) {
    *text = p;
    *length = n;
    return TWSUCCESS;
  }
  if (uint32_t st = Transcode(p, n, format, TWSTREAMFMT_NATIVE, tmp)) return st;
  *text = tmp.data();
  *length = tmp.size();
  return TWSUCCESS;
}

}  // namespace

[[nodiscard]] uint32_t CompareStreams(const TWStream* a, const TWStream* b, bool padded,
                                      int32_t* result) {
  const uint8_t *pa, *pb;
  size_t na, nb;
  if (uint32_t st = RecordBytes(a, &pa, &na)) return st;
  if (uint32_t st = RecordBytes(b, &pb, &nb)) return st;
  const bool noCase = ((a->flags | b->flags) & TWSTREAMF_NO_CASE) != 0;
  if (!IsTextLike(KindOf(a->format)) || !IsTextLike(KindOf(b->format))) {
    *result = CompareBytes(pa, na, pb, nb);
    return TWSUCCESS;
  }
  const uint8_t *ta = pa, *tb = pb;
  size_t la = na, lb = nb;
  // Text already in UTF-8 on both sides (nearly every comparison) needs no scratch.
  std::optional<Scratch> sa, sb;
  uint32_t st = TWSUCCESS;
  if (!IsUtf8Format(a->format)) st = TextUtf8(pa, na, a->format, sa.emplace().buf(), &ta, &la);
  if (st == TWSUCCESS && !IsUtf8Format(b->format))
    st = TextUtf8(pb, nb, b->format, sb.emplace().buf(), &tb, &lb);
  if (st == TWFAIL_INVALID_CONVERT && a->format == b->format) {
    // One set that has no converter: its bytes are compared as they are.
    ta = pa, la = na, tb = pb, lb = nb;
  } else if (st != TWSUCCESS) {
    return st;
  }
  if (padded) {
    while (la > 0 && ta[la - 1] == ' ') --la;
    while (lb > 0 && tb[lb - 1] == ' ') --lb;
  }
  *result = noCase ? CompareFolded(ta, la, tb, lb) : CompareBytes(ta, la, tb, lb);
  return TWSUCCESS;
}

namespace {

// ---------------------------------------------------------------- entry-point bodies

[[nodiscard]] uint32_t Convert(TWStream* target, const TWStream* source, uint32_t flags,
                               uint32_t format, void** data, uint32_t* length) {
  if (target == nullptr) return TWFAIL_NULL_RESULT;
  if (source == nullptr) return TWFAIL_NULL_BUFFER;
  if (flags & ~uint32_t{TWCONVERTF_REFERENCE | TWCONVERTF_PRESERVE | TWCONVERTF_FORCE_TEXT})
    return TWFAIL_INVALID_FLAGS;
  const uint8_t* src;
  size_t n;
  if (uint32_t st = RecordBytes(source, &src, &n)) return st;
  const uint32_t from = source->format;
  const uint32_t to = format != 0 ? format : from;
  const bool preserve = (flags & TWCONVERTF_PRESERVE) != 0;
  const uint32_t maxLength = preserve ? target->maxLength : 0;
  const uint32_t keepFlags = preserve ? (target->flags & ~kPrivateFlags) : 0;

  Scratch scratch;
  Converted res{src, n, true};
  if (from == 0) {
    // A cleared record holds no text; it reads as empty native text.
    if (n != 0) return TWFAIL_ZERO_FORMAT;
    if (to != 0) {
      if (uint32_t st = ConvertBytes(src, 0, TWSTREAMFMT_NATIVE, to, flags, scratch.buf(), &res))
        return st;
    }
  } else if (uint32_t st = ConvertBytes(src, n, from, to, flags, scratch.buf(), &res)) {
    return st;
  }

  size_t len = res.length;
  if (maxLength != 0 && len > maxLength) {
    if (!(keepFlags & TWSTREAMF_TRUNCATE)) return TWFAIL_OVERFLOW;
    if (uint32_t st = CutLength(to, res.data, len, maxLength, &len)) return st;
  }
  if (len > kMaxData) return TWFAIL_OVERFLOW;

  if ((flags & TWCONVERTF_REFERENCE) && res.fromSource) {
    const bool sameBlock = target->data == source->data;
    if (!sameBlock) Release(target);
    // A record that keeps its own block (it is the source, or the source refers to it)
    // stays its owner.
    const uint32_t ownership =
        sameBlock ? (target->flags & kNotOwned) : (source->data ? kNotOwned : 0);
    target->data = source->data;
    target->maxLength = maxLength;
    target->flags = keepFlags | ownership;
    target->format = to;
    target->length = static_cast<uint32_t>(len);
    // Only a record's own bytes are terminated again: another record may still show the
    // bytes past a cut.
    if (target == source && Owns(target)) Terminate(static_cast<uint8_t*>(target->data), len);
  } else if (uint32_t st = StoreBytes(target, maxLength, keepFlags, to, res.data, len)) {
    return st;
  }
  if (data) *data = target->data;
  if (length) *length = target->length;
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Merge(TWStream* target, const TWStream* s1, uint32_t offset,
                             const TWStream* s2) {
  if (target == nullptr) return TWFAIL_NULL_RESULT;
  if (s1 == nullptr || s2 == nullptr) return TWFAIL_NULL_BUFFER;
  if (offset == 0) return TWFAIL_ZERO_OFFSET;
  const uint8_t *p1, *p2;
  size_t n1, n2;
  if (uint32_t st = RecordBytes(s1, &p1, &n1)) return st;
  if (uint32_t st = RecordBytes(s2, &p2, &n2)) return st;
  if (offset - 1 > n1) return TWFAIL_INVALID_INDEX;

  uint32_t format = s1->format;
  Scratch conv;
  Converted ins{p2, n2, true};
  if (format == 0 && n1 == 0) {
    format = s2->format;
  } else if (s2->format != format && n2 != 0) {
    if (!IsTextLike(KindOf(format)) && !IsTextLike(KindOf(s2->format)))
      return TWFAIL_INVALID_CONVERT;
    if (uint32_t st = ConvertBytes(p2, n2, s2->format, format, 0, conv.buf(), &ins)) return st;
  }
  size_t total;
  if (__builtin_add_overflow(n1, ins.length, &total) || total > kMaxData) return TWFAIL_OVERFLOW;
  Scratch joined;
  ByteBuf& out = joined.buf();
  out.reserve(total);
  out.append(p1, offset - 1);
  out.append(ins.data, ins.length);
  out.append(p1 + (offset - 1), n1 - (offset - 1));
  return StoreBytes(target, target->maxLength, target->flags, format, out.data(), out.size());
}

[[nodiscard]] uint32_t Trim(TWStream* s) {
  if (s == nullptr) return TWFAIL_NULL_RESULT;
  const uint8_t* p;
  size_t n;
  if (uint32_t st = RecordBytes(s, &p, &n)) return st;
  if (!IsTextLike(KindOf(s->format)) || s->format == 0) return TWSUCCESS;
  if (IsUtf16Format(s->format)) {
    if (n % 2 == 0)
      while (n >= 2 && p[n - 1] == 0 && (p[n - 2] == 0x20 || p[n - 2] == 0)) n -= 2;
  } else {
    const uint8_t blank = BlankByte(s->format);
    while (n > 0 && (p[n - 1] == blank || p[n - 1] == 0)) --n;
  }
  s->length = static_cast<uint32_t>(n);
  if (Owns(s)) Terminate(static_cast<uint8_t*>(s->data), n);
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Alloc(TWStream* s, uint32_t format, uint32_t request, void** data,
                             uint32_t* length) {
  if (s == nullptr) return TWFAIL_NULL_RESULT;
  if (format == 0) return TWFAIL_ZERO_FORMAT;
  size_t grant = s->maxLength != 0 ? std::min(request, s->maxLength) : request;
  if (grant > kMaxData) return TWFAIL_MEMORY;
  bool fresh;
  uint8_t* block = ObtainBlock(s, grant, s->maxLength, s->flags, &fresh);
  if (block == nullptr) return TWFAIL_MEMORY;
  std::memset(block, 0, grant + 2);
  Install(s, block, fresh);
  s->format = format;
  s->length = static_cast<uint32_t>(grant);
  if (data) *data = block;
  if (length) *length = s->length;
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Realloc(TWStream* s, uint32_t newLength, void** data) {
  if (s == nullptr) return TWFAIL_NULL_RESULT;
  const uint8_t* old;
  size_t had;
  if (uint32_t st = RecordBytes(s, &old, &had)) return st;
  size_t n = s->maxLength != 0 ? std::min(newLength, s->maxLength) : newLength;
  if (n > kMaxData) return TWFAIL_MEMORY;
  uint8_t* block;
  if (Owns(s) && BlockCapacity(s) >= n) {
    block = static_cast<uint8_t*>(s->data);
  } else if (Owns(s)) {
    block = static_cast<uint8_t*>(std::realloc(s->data, AllocSize(n, s->maxLength, s->flags)));
    if (block == nullptr) return TWFAIL_MEMORY;
    s->data = block;
  } else {
    // Data the record only refers to is copied into a block of its own.
    block = static_cast<uint8_t*>(std::malloc(AllocSize(n, s->maxLength, s->flags)));
    if (block == nullptr) return TWFAIL_MEMORY;
    if (std::min(had, n) != 0) std::memcpy(block, old, std::min(had, n));
    s->data = block;
    s->flags &= ~kNotOwned;
  }
  if (n > had) std::memset(block + had, 0, n - had);
  Terminate(block, n);
  s->length = static_cast<uint32_t>(n);
  if (data) *data = block;
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Extract(TWStream* target, const TWStream* source, uint32_t offset,
                               uint32_t length) {
  if (target == nullptr) return TWFAIL_NULL_RESULT;
  if (source == nullptr) return TWFAIL_NULL_BUFFER;
  if (offset == 0) return TWFAIL_ZERO_OFFSET;
  const uint8_t* p;
  size_t n;
  if (uint32_t st = RecordBytes(source, &p, &n)) return st;
  if (offset - 1 > n) return TWFAIL_INVALID_INDEX;
  size_t take = std::min<size_t>(length, n - (offset - 1));
  return StoreBytes(target, target->maxLength, target->flags, source->format,
                    p ? p + (offset - 1) : p, take);
}

}  // namespace
}  // namespace flowcore

using flowcore::kNotOwned;
using flowcore::kPrivateFlags;
using flowcore::kPublicFlags;

extern "C" {

TW_API uint32_t TWStreamClear(TWStream* stream) {
  if (stream == nullptr) return TWFAIL_NULL_RESULT;
  *stream = TWStream{};
  return TWSUCCESS;
}

TW_API uint32_t TWStreamCreate(TWStream* stream, uint32_t maxLength, uint32_t flags,
                               uint32_t format) {
  if (stream == nullptr) return TWFAIL_NULL_RESULT;
  if (flags & ~kPublicFlags) return TWFAIL_INVALID_FLAGS;
  if ((flags & TWSTREAMF_FIXED) && maxLength == 0) return TWFAIL_FIXED_LENGTH;
  if (format == 0) return TWFAIL_ZERO_FORMAT;
  *stream = TWStream{maxLength, flags, format, 0, nullptr};
  return TWSUCCESS;
}

TW_API uint32_t TWStreamDataAlloc(TWStream* stream, uint32_t format, uint32_t requestLength,
                                  void** data, uint32_t* length) {
  return tw::guard([&] { return flowcore::Alloc(stream, format, requestLength, data, length); });
}

TW_API uint32_t TWStreamDataRealloc(TWStream* stream, uint32_t newLength, void** data) {
  return tw::guard([&] { return flowcore::Realloc(stream, newLength, data); });
}

TW_API uint32_t TWStreamDataSet(TWStream* stream, uint32_t format, const void* bytes,
                                uint32_t length) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (bytes == nullptr && length != 0) return TWFAIL_NULL_BUFFER;
    if (format == 0) return TWFAIL_ZERO_FORMAT;
    return flowcore::StoreBytes(stream, stream->maxLength, stream->flags, format,
                                static_cast<const uint8_t*>(bytes), length);
  });
}

TW_API uint32_t TWStreamDataCopy(TWStream* target, const TWStream* source) {
  return tw::guard([&]() -> uint32_t {
    if (target == nullptr) return TWFAIL_NULL_RESULT;
    if (source == nullptr) return TWFAIL_NULL_BUFFER;
    if (target == source) return TWSUCCESS;
    const uint8_t* p;
    size_t n;
    if (uint32_t st = flowcore::RecordBytes(source, &p, &n)) return st;
    return flowcore::StoreBytes(target, target->maxLength, target->flags, source->format, p, n);
  });
}

TW_API uint32_t TWStreamDataConvert(TWStream* target, const TWStream* source, uint32_t flags,
                                    uint32_t format, void** data, uint32_t* length) {
  return tw::guard([&] { return flowcore::Convert(target, source, flags, format, data, length); });
}

TW_API uint32_t TWStreamDataCompare(const TWStream* stream, const TWStream* base, int32_t* result) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr || base == nullptr) return TWFAIL_NULL_BUFFER;
    if (result == nullptr) return TWFAIL_NULL_RESULT;
    return flowcore::CompareStreams(stream, base, false, result);
  });
}

TW_API uint32_t TWStreamDataExtract(TWStream* target, const TWStream* source, uint32_t offset,
                                    uint32_t length) {
  return tw::guard([&] { return flowcore::Extract(target, source, offset, length); });
}

TW_API uint32_t TWStreamDataFetch(const TWStream* stream, uint32_t offset, uint32_t requestLength,
                                  void** data, uint32_t* length) {
  if (stream == nullptr) return TWFAIL_NULL_BUFFER;
  if (data == nullptr || length == nullptr) return TWFAIL_NULL_RESULT;
  if (offset == 0) return TWFAIL_ZERO_OFFSET;
  if (stream->data == nullptr && stream->length != 0) return TWFAIL_NULL_BUFFER;
  if (offset > stream->length) return TWFAIL_END_OF_DATA;
  *data = static_cast<uint8_t*>(stream->data) + (offset - 1);
  *length = std::min(requestLength, stream->length - (offset - 1));
  return TWSUCCESS;
}

TW_API uint32_t TWStreamDataFree(TWStream* stream) {
  if (stream == nullptr) return TWSUCCESS;
  if (stream->data != nullptr && (stream->flags & kNotOwned) == 0) std::free(stream->data);
  stream->data = nullptr;
  stream->length = 0;
  stream->flags &= ~kNotOwned;
  return TWSUCCESS;
}

TW_API uint32_t TWStreamDataGetBuffer(const TWStream* stream, uint32_t* format, void** data) {
  if (stream == nullptr) {
    if (data) *data = nullptr;
    return 0;
  }
  if (format) *format = stream->format;
  if (data) *data = stream->data;
  return stream->length;
}

TW_API uint32_t TWStreamDataGetFlags(const TWStream* stream) {
  return stream ? stream->flags & ~kPrivateFlags : 0;
}

TW_API uint32_t TWStreamDataGetInfo(const TWStream* stream, uint32_t* maxLength, uint32_t* flags,
                                    uint32_t* format, void** data, uint32_t* length) {
  if (stream == nullptr) return TWFAIL_NULL_BUFFER;
  if (maxLength) *maxLength = stream->maxLength;
  if (flags) *flags = stream->flags & ~kPrivateFlags;
  if (format) *format = stream->format;
  if (data) *data = stream->data;
  if (length) *length = stream->length;
  return TWSUCCESS;
}

TW_API uint32_t TWStreamDataGetLength(const TWStream* stream) {
  return stream ? stream->length : 0;
}

TW_API uint32_t TWStreamDataMerge(TWStream* target, const TWStream* stream1, uint32_t offset,
                                  const TWStream* stream2) {
  return tw::guard([&] { return flowcore::Merge(target, stream1, offset, stream2); });
}

TW_API uint32_t TWStreamDataSetFlags(TWStream* stream, uint32_t flags) {
  if (stream == nullptr) return TWFAIL_NULL_RESULT;
  if (flags & ~kPublicFlags) return TWFAIL_INVALID_FLAGS;
  if ((flags & TWSTREAMF_FIXED) && stream->maxLength == 0) return TWFAIL_FIXED_LENGTH;
  stream->flags = (stream->flags & kPrivateFlags) | flags;
  return TWSUCCESS;
}

TW_API uint32_t TWStreamDataTrim(TWStream* stream) {
  return tw::guard([&] { return flowcore::Trim(stream); });
}

}  // extern "C"
