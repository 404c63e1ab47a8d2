// Text, number and datetime lists held in streams: their byte layouts, the list readers and
// the conversions between lists and text.
#include <bit>
#include <cstring>

#include "flowcore_ptr.h"
#include "stream_internal.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace flowcore {
namespace {

constexpr size_t kMaxEntries = 0xFFFF;
constexpr size_t kNumberHeader = TWSTREAM_PREFIX_LENGTH;
constexpr size_t kValueSize = 8;
constexpr size_t kRangeSize = 16;

bool IsBlank(uint8_t c) {
  return c == ' ' || c == '\t';
}

void TrimBlanks(const uint8_t*& p, size_t& n) {
  while (n > 0 && IsBlank(*p)) ++p, --n;
  while (n > 0 && IsBlank(p[n - 1])) --n;
}

// Calls f(piece, length) for each ','-separated piece of text, blanks trimmed; a text of
// blanks has no pieces.
template <class F>
[[nodiscard]] uint32_t ForEachPiece(const uint8_t* text, size_t n, F&& f) {
  TrimBlanks(text, n);
  if (n == 0) return TWSUCCESS;
  const uint8_t* end = text + n;
  for (const uint8_t* p = text;;) {
    const uint8_t* comma = static_cast<const uint8_t*>(std::memchr(p, ',', end - p));
    const uint8_t* stop = comma ? comma : end;
    const uint8_t* piece = p;
    size_t len = stop - p;
    TrimBlanks(piece, len);
    if (uint32_t st = f(piece, len)) return st;
    if (comma == nullptr) return TWSUCCESS;
    p = comma + 1;
  }
}

constexpr char kJoin[] = ", ";
constexpr char kRangeMark[] = " - ";

// The range mark splits a piece into low and high; false when the piece is a single value.
bool SplitRange(const uint8_t* p, size_t n, size_t* at) {
  for (size_t i = 1; i + 3 <= n; ++i)
    if (std::memcmp(p + i, kRangeMark, 3) == 0) {
      *at = i;
      return true;
    }
  return false;
}

}  // namespace

bool ListLength(Kind kind, const uint8_t* p, size_t n, size_t* length) {
  if (kind == Kind::kTextList) {
    if (n < 2) return false;
    size_t count = tw::get_u16(p);
    size_t at = 2 + 2 * count;
    if (at > n) return false;
    for (size_t i = 0; i < count; ++i) at += tw::get_u16(p + 2 + 2 * i);
    if (at > n) return false;
    *length = at;
    return true;
  }
  if (kind != Kind::kNumberList && kind != Kind::kDatetimeList) return false;
  if (n < kNumberHeader) return false;
  size_t total = kNumberHeader + kValueSize * tw::get_u16(p) + kRangeSize * tw::get_u16(p + 2);
  if (total > n) return false;
  *length = total;
  return true;
}

[[nodiscard]] uint32_t TextListToUtf8(const uint8_t* list, size_t n, ByteBuf& out) {
  size_t length;
  if (!ListLength(Kind::kTextList, list, n, &length)) return TWFAIL_INVALID_TEXT_LIST;
  size_t count = tw::get_u16(list);
  const uint8_t* text = list + 2 + 2 * count;
  for (size_t i = 0; i < count; ++i) {
    size_t len = tw::get_u16(list + 2 + 2 * i);
    if (i) out.append(kJoin, 2);
    out.append(text, len);
    text += len;
  }
  return TWSUCCESS;
}

[[nodiscard]] uint32_t Utf8ToTextList(const uint8_t* text, size_t n, ByteBuf& out) {
  size_t pieces = 0;
  // Counting fails nowhere.
  (void)ForEachPiece(text, n, [&](const uint8_t*, size_t) -> uint32_t {
    ++pieces;
    return TWSUCCESS;
  });
  if (pieces > kMaxEntries) return TWFAIL_OVERFLOW;
  const size_t start = out.size();
  out.extend(2 + 2 * pieces);
  tw::put_u16(out.data() + start, static_cast<uint16_t>(pieces));
  size_t i = 0;
  return ForEachPiece(text, n, [&](const uint8_t* piece, size_t len) -> uint32_t {
    if (len > 0xFFFF) return TWFAIL_OVERFLOW;
    tw::put_u16(out.data() + start + 2 + 2 * i++, static_cast<uint16_t>(len));
    out.append(piece, len);
    return TWSUCCESS;
  });
}

uint32_t OneEntryTextList(const uint8_t* text, size_t n, ByteBuf& out) {
  if (n > 0xFFFF) return TWFAIL_OVERFLOW;
  uint8_t* head = out.extend(4);
  tw::put_u16(head, 1);
  tw::put_u16(head + 2, static_cast<uint16_t>(n));
  out.append(text, n);
  return TWSUCCESS;
}

namespace {

// The text of number or datetime entries: values joined by ", ", then each range as
// "low - high". format(entry, stream) writes one entry's text.
template <class Format>
[[nodiscard]] uint32_t ValuesToUtf8(Kind kind, const uint8_t* list, size_t n, ByteBuf& out,
                                    uint32_t invalid, Format&& format) {
  size_t length;
  if (!ListLength(kind, list, n, &length)) return invalid;
  const size_t values = tw::get_u16(list);
  const size_t ranges = tw::get_u16(list + 2);
  const uint8_t* p = list + kNumberHeader;
  StreamData text;
  auto put = [&](const uint8_t* entry) -> uint32_t {
    if (uint32_t st = format(entry, text.get())) return st;
    out.append(text.get()->data, text.get()->length);
    return TWSUCCESS;
  };
  for (size_t i = 0; i < values + ranges; ++i) {
    if (i) out.append(kJoin, 2);
    if (uint32_t st = put(p)) return st;
    p += kValueSize;
    if (i >= values) {
      out.append(kRangeMark, 3);
      if (uint32_t st = put(p)) return st;
      p += kValueSize;
    }
  }
  return TWSUCCESS;
}

// The list of the ','-separated values of text; a piece "low - high" is a range.
// parse(piece, length, entry) writes one entry's eight bytes.
template <class Parse>
[[nodiscard]] uint32_t Utf8ToValues(const uint8_t* text, size_t n, ByteBuf& out, Parse&& parse) {
  Scratch rangeBuf;
  ByteBuf& ranges = rangeBuf.buf();
  const size_t start = out.size();
  out.extend(kNumberHeader);
  size_t values = 0;
  size_t rangeCount = 0;
  uint32_t st = ForEachPiece(text, n, [&](const uint8_t* piece, size_t len) -> uint32_t {
    size_t at;
    if (SplitRange(piece, len, &at)) {
      if (++rangeCount > kMaxEntries) return TWFAIL_OVERFLOW;
      const uint8_t* high = piece + at + 3;
      size_t highLen = len - at - 3;
      TrimBlanks(high, highLen);
      if (uint32_t s = parse(piece, at, ranges.extend(kValueSize))) return s;
      return parse(high, highLen, ranges.extend(kValueSize));
    }
    if (++values > kMaxEntries) return TWFAIL_OVERFLOW;
    return parse(piece, len, out.extend(kValueSize));
  });
  if (st != TWSUCCESS) return st;
  out.append(ranges.data(), ranges.size());
  tw::put_u16(out.data() + start, static_cast<uint16_t>(values));
  tw::put_u16(out.data() + start + 2, static_cast<uint16_t>(rangeCount));
  return TWSUCCESS;
}

double ReadDouble(const uint8_t* p) {
  return std::bit_cast<double>(tw::get_u64(p));
}

TWDatetime ReadDatetime(const uint8_t* p) {
  return TWDatetime{tw::get_u32(p), tw::get_u32(p + 4)};
}

}  // namespace

[[nodiscard]] uint32_t NumberListToUtf8(const uint8_t* list, size_t n, ByteBuf& out) {
  return ValuesToUtf8(Kind::kNumberList, list, n, out, TWFAIL_INVALID_NUMBER_LIST,
                      [](const uint8_t* entry, TWStream* text) {
                        double v = ReadDouble(entry);
                        return TWStreamFromFloat(text, &v, TWSTREAMFMT_NATIVE);
                      });
}

[[nodiscard]] uint32_t Utf8ToNumberList(const uint8_t* text, size_t n, ByteBuf& out) {
  return Utf8ToValues(text, n, out, [](const uint8_t* piece, size_t len, uint8_t* entry) {
    TWStream view = ViewOf(TWSTREAMFMT_NATIVE, piece, len);
    double v = 0;
    if (uint32_t st = TWFloatFromStream(&v, &view)) return st;
    tw::put_u64(entry, std::bit_cast<uint64_t>(v));
    return uint32_t{TWSUCCESS};
  });
}

[[nodiscard]] uint32_t DatetimeListToUtf8(const uint8_t* list, size_t n, ByteBuf& out) {
  return ValuesToUtf8(Kind::kDatetimeList, list, n, out, TWFAIL_INVALID_DATETIME_LIST,
                      [](const uint8_t* entry, TWStream* text) {
                        TWDatetime v = ReadDatetime(entry);
                        return TWStreamFromDatetime(text, &v, TWSTREAMFMT_NATIVE);
                      });
}

[[nodiscard]] uint32_t Utf8ToDatetimeList(const uint8_t* text, size_t n, ByteBuf& out) {
  return Utf8ToValues(text, n, out, [](const uint8_t* piece, size_t len, uint8_t* entry) {
    TWStream view = ViewOf(TWSTREAMFMT_NATIVE, piece, len);
    TWDatetime v{};
    if (uint32_t st = TWDatetimeFromStream(&v, &view)) return st;
    tw::put_u32(entry, v.ticks);
    tw::put_u32(entry + 4, v.date);
    return uint32_t{TWSUCCESS};
  });
}

namespace {

// The bytes of a list read from a stream of the list's format or of BLOB.
[[nodiscard]] uint32_t ReadList(const TWStream* list, uint32_t format, uint32_t invalid,
                                const uint8_t** p, size_t* n) {
  if (list->format != format && list->format != TWSTREAMFMT_BLOB) return invalid;
  if (RecordBytes(list, p, n) != TWSUCCESS) return invalid;
  size_t length;
  if (!ListLength(KindOf(format), *p, *n, &length)) return invalid;
  return TWSUCCESS;
}

// The bytes and length of text-list entry index (from 1), which must exist.
const uint8_t* TextEntry(const uint8_t* list, size_t index, size_t* length) {
  size_t count = tw::get_u16(list);
  const uint8_t* text = list + 2 + 2 * count;
  for (size_t i = 1; i < index; ++i) text += tw::get_u16(list + 2 * i);
  *length = tw::get_u16(list + 2 * index);
  return text;
}

[[nodiscard]] uint32_t FetchText(const TWStream* list, uint32_t index, uint32_t format,
                                 TWStream* dest, void** data, uint32_t* length) {
  if (list == nullptr) return TWFAIL_NULL_BUFFER;
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  if (index == 0) return TWFAIL_ZERO_INDEX;
  const uint8_t* p;
  size_t n;
  if (uint32_t st = ReadList(list, TWSTREAMFMT_TEXT_LIST, TWFAIL_INVALID_TEXT_LIST, &p, &n))
    return st;
  if (index > tw::get_u16(p)) return TWFAIL_INVALID_INDEX;
  size_t len;
  const uint8_t* entry = TextEntry(p, index, &len);
  const uint32_t to = format != 0 ? format : TWSTREAMFMT_QMBCS;
  Scratch scratch;
  Converted res{entry, len, true};
  if (to == TWSTREAMFMT_TEXT_LIST) {
    if (uint32_t st = OneEntryTextList(entry, len, scratch.buf())) return st;
    res = Converted{scratch.buf().data(), scratch.buf().size(), false};
  } else if (uint32_t st =
                 ConvertBytes(entry, len, TWSTREAMFMT_QMBCS, to, 0, scratch.buf(), &res)) {
    return st;
  }
  if (uint32_t st = StoreBytes(dest, dest->maxLength, dest->flags, to, res.data, res.length))
    return st;
  if (data) *data = dest->data;
  if (length) *length = dest->length;
  return TWSUCCESS;
}

// Entry index (from 1) of the values, or with range set of the ranges, read by read.
template <class T, class Read>
[[nodiscard]] uint32_t GetEntry(const TWStream* list, uint32_t format, uint32_t invalid,
                                uint32_t index, bool range, T* first, T* second, Read&& read) {
  if (list == nullptr) return TWFAIL_NULL_BUFFER;
  if (first == nullptr || (range && second == nullptr)) return TWFAIL_NULL_RESULT;
  if (index == 0) return TWFAIL_ZERO_INDEX;
  const uint8_t* p;
  size_t n;
  if (uint32_t st = ReadList(list, format, invalid, &p, &n)) return st;
  const size_t values = tw::get_u16(p);
  const size_t ranges = tw::get_u16(p + 2);
  if (index > (range ? ranges : values)) return TWFAIL_INVALID_INDEX;
  const uint8_t* at =
      p + kNumberHeader +
      (range ? kValueSize * values + kRangeSize * (index - 1) : kValueSize * (index - 1));
  *first = read(at);
  if (range) *second = read(at + kValueSize);
  return TWSUCCESS;
}

// The value and range counts of a number or datetime list (each optional).
[[nodiscard]] uint32_t GetCounts(const TWStream* list, uint32_t format, uint32_t invalid,
                                 uint32_t* valueCount, uint32_t* rangeCount) {
  if (list == nullptr) return TWFAIL_NULL_BUFFER;
  const uint8_t* p;
  size_t n;
  if (uint32_t st = ReadList(list, format, invalid, &p, &n)) return st;
  if (valueCount) *valueCount = tw::get_u16(p);
  if (rangeCount) *rangeCount = tw::get_u16(p + 2);
  return TWSUCCESS;
}

uint32_t ListBytes(const TWStream* list, uint32_t format) {
  if (list == nullptr) return 0;
  const uint8_t* p;
  size_t n;
  if (ReadList(list, format, TWFAIL_INVALID_LIST, &p, &n) != TWSUCCESS) return 0;
  size_t length = 0;
  if (!ListLength(KindOf(format), p, n, &length)) return 0;
  return static_cast<uint32_t>(length);
}

}  // namespace
}  // namespace flowcore

using flowcore::GetEntry;
using flowcore::ReadDatetime;
using flowcore::ReadDouble;

extern "C" {

TW_API uint32_t TWTextListGetCount(const TWStream* list) {
  if (list == nullptr) return 0;
  const uint8_t* p;
  size_t n;
  if (flowcore::ReadList(list, TWSTREAMFMT_TEXT_LIST, TWFAIL_INVALID_TEXT_LIST, &p, &n) !=
      TWSUCCESS)
    return 0;
  return tw::get_u16(p);
}

TW_API uint32_t TWTextListGetLength(const TWStream* list, uint32_t index) {
  if (list == nullptr || index == 0) return 0;
  const uint8_t* p;
  size_t n;
  if (flowcore::ReadList(list, TWSTREAMFMT_TEXT_LIST, TWFAIL_INVALID_TEXT_LIST, &p, &n) !=
      TWSUCCESS)
    return 0;
  if (index > tw::get_u16(p)) return 0;
  size_t len;
  flowcore::TextEntry(p, index, &len);
  return static_cast<uint32_t>(len);
}

TW_API uint32_t TWTextListFetch(const TWStream* list, uint32_t index, uint32_t format,
                                TWStream* dest, void** data, uint32_t* length) {
  return tw::guard([&] { return flowcore::FetchText(list, index, format, dest, data, length); });
}

TW_API uint32_t TWNumberListGetCount(const TWStream* list, uint32_t* valueCount,
                                     uint32_t* rangeCount) {
  return flowcore::GetCounts(list, TWSTREAMFMT_NUMBER_LIST, TWFAIL_INVALID_NUMBER_LIST, valueCount,
                             rangeCount);
}

TW_API uint32_t TWNumberListGetFirst(const TWStream* list, double* value) {
  return GetEntry<double>(list, TWSTREAMFMT_NUMBER_LIST, TWFAIL_INVALID_NUMBER_LIST, 1, false,
                          value, nullptr, ReadDouble);
}

TW_API uint32_t TWNumberListGetLength(const TWStream* list) {
  return flowcore::ListBytes(list, TWSTREAMFMT_NUMBER_LIST);
}

TW_API uint32_t TWNumberListGetRange(const TWStream* list, uint32_t index, double* low,
                                     double* high) {
  return GetEntry<double>(list, TWSTREAMFMT_NUMBER_LIST, TWFAIL_INVALID_NUMBER_LIST, index, true,
                          low, high, ReadDouble);
}

TW_API uint32_t TWNumberListGetValue(const TWStream* list, uint32_t index, double* value) {
  return GetEntry<double>(list, TWSTREAMFMT_NUMBER_LIST, TWFAIL_INVALID_NUMBER_LIST, index, false,
                          value, nullptr, ReadDouble);
}

TW_API uint32_t TWDatetimeListGetCount(const TWStream* list, uint32_t* valueCount,
                                       uint32_t* rangeCount) {
  return flowcore::GetCounts(list, TWSTREAMFMT_DATETIME_LIST, TWFAIL_INVALID_DATETIME_LIST,
                             valueCount, rangeCount);
}

TW_API uint32_t TWDatetimeListGetFirst(const TWStream* list, TWDatetime* value) {
  return GetEntry<TWDatetime>(list, TWSTREAMFMT_DATETIME_LIST, TWFAIL_INVALID_DATETIME_LIST, 1,
                              false, value, nullptr, ReadDatetime);
}

TW_API uint32_t TWDatetimeListGetLength(const TWStream* list) {
  return flowcore::ListBytes(list, TWSTREAMFMT_DATETIME_LIST);
}

TW_API uint32_t TWDatetimeListGetRange(const TWStream* list, uint32_t index, TWDatetime* low,
                                       TWDatetime* high) {
  return GetEntry<TWDatetime>(list, TWSTREAMFMT_DATETIME_LIST, TWFAIL_INVALID_DATETIME_LIST, index,
                              true, low, high, ReadDatetime);
}

TW_API uint32_t TWDatetimeListGetValue(const TWStream* list, uint32_t index, TWDatetime* value) {
  return GetEntry<TWDatetime>(list, TWSTREAMFMT_DATETIME_LIST, TWFAIL_INVALID_DATETIME_LIST, index,
                              false, value, nullptr, ReadDatetime);
}

}  // extern "C"
