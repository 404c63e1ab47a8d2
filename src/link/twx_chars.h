// Characters of a link's text format for the relational connectors: a column's size counts
// characters while the engine's streams and the client libraries' buffers count bytes, so a
// value's room is its column size times the widest character of the format, and a value is
// judged, and cut, by its characters, never inside one.
#ifndef TW_LINK_TWX_CHARS_H_
#define TW_LINK_TWX_CHARS_H_

#include <cstddef>
#include <cstdint>
#include <limits>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace twx {

inline bool IsUtf8Text(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS || format == TWSTREAMFMT_UTF8;
}

// The most bytes one character of format takes (binary formats: 1, a byte is the unit).
inline uint32_t MaxCharBytes(uint32_t format) {
  if ((format & TWSTREAMFMTF_BINARY) != 0) return 1;
  if (IsUtf8Text(format)) return 4;
  switch (format) {
    case TWSTREAMFMT_UNICODE:  // a pair of 16-bit units outside the basic plane
    case TWSTREAMFMT_EUCT:
      return 4;
    case TWSTREAMFMT_EUC:
    case TWSTREAMFMT_EUCJ:
      return 3;
    case TWSTREAMFMT_CP932:
    case TWSTREAMFMT_CP949:
    case TWSTREAMFMT_CP950:
    case TWSTREAMFMT_CP936:
    case TWSTREAMFMT_NECESJIS:
    case TWSTREAMFMT_EUCK:
    case TWSTREAMFMT_EUCC:
    case TWSTREAMFMT_TCA:
    case TWSTREAMFMT_CP899:
    case TWSTREAMFMT_CP891:
    case TWSTREAMFMT_HPJAPAN:
    case TWSTREAMFMT_HPKOREA:
    case TWSTREAMFMT_HPPRC:
    case TWSTREAMFMT_HPROC:
    case TWSTREAMFMT_CP948:
    case TWSTREAMFMT_CP944:
      return 2;
    case TWSTREAMFMT_EACC:
    case TWSTREAMFMT_CCCII:
    case TWSTREAMFMT_XEROXCJK:
      return 3;
    case TWSTREAMFMT_CP930:  // shifting sets: a character may bring its shift bytes
    case TWSTREAMFMT_CP931:
    case TWSTREAMFMT_CP939:
    case TWSTREAMFMT_CP934:
    case TWSTREAMFMT_CP935:
    case TWSTREAMFMT_CP937:
    case TWSTREAMFMT_CP938:
      return 4;
    case TWSTREAMFMT_JIS:
    case TWSTREAMFMT_JIS2:
    case TWSTREAMFMT_UTF7:
      return 8;
    default:
      return 1;
  }
}

// The bytes characters characters of format may take, held below 2^31 (the engine's and the
// client libraries' lengths are signed 32-bit).
inline uint32_t CharRoom(uint64_t characters, uint32_t format) {
  constexpr uint64_t kMost = std::numeric_limits<int32_t>::max() - 1;
  const uint64_t bytes = characters * MaxCharBytes(format);
  return static_cast<uint32_t>(bytes > kMost ? kMost : bytes);
}

namespace chars_detail {

// UTF-8: whether byte b starts a character.
inline bool Lead8(unsigned char b) {
  return (b & 0xC0) != 0x80;
}
// UTF-16 (little-endian): whether the unit at p starts a character (is no low surrogate).
inline bool Lead16(const unsigned char* p) {
  const unsigned unit = p[0] | (p[1] << 8);
  return unit < 0xDC00 || unit > 0xDFFF;
}
inline bool OneByteSet(uint32_t format) {
  return (format & TWSTREAMFMTF_BINARY) != 0 || MaxCharBytes(format) == 1;
}

// The text of a set the connector cannot step through itself, as UTF-8 through the engine.
// False when the engine cannot read it.
inline bool AsUtf8(uint32_t format, const void* bytes, size_t length, flowcore::StreamData& out) {
  TWStream shown{};
  TWStreamCreate(&shown, 0, 0, format);
  shown.data = const_cast<void*>(bytes);
  shown.length = static_cast<uint32_t>(length);
  return TWStreamDataConvert(out.get(), &shown, 0, TWSTREAMFMT_UTF8, nullptr, nullptr) == TWSUCCESS;
}

inline size_t Count8(const unsigned char* p, size_t length) {
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) count += Lead8(p[i]);
  return count;
}
inline size_t Prefix8(const unsigned char* p, size_t length, size_t characters) {
  size_t seen = 0;
  for (size_t i = 0; i < length; ++i)
    if (Lead8(p[i]) && seen++ == characters) return i;
  return length;
}

}  // namespace chars_detail

// The characters of length bytes of text in format.
inline size_t CharacterCount(uint32_t format, const void* text, size_t length) {
  using namespace chars_detail;
  const auto* p = static_cast<const unsigned char*>(text);
  if (IsUtf8Text(format)) return Count8(p, length);
  if (format == TWSTREAMFMT_UNICODE) {
    size_t count = 0;
    for (size_t i = 0; i + 1 < length; i += 2) count += Lead16(p + i);
    return count;
  }
  if (OneByteSet(format)) return length;
  flowcore::StreamData utf8;
  if (!AsUtf8(format, text, length, utf8)) return length;
  return Count8(static_cast<const unsigned char*>(utf8.get()->data), utf8.get()->length);
}

// The byte length of the first characters characters of length bytes of text in format
// (all of it when it has no more).
inline size_t PrefixOfCharacters(uint32_t format, const void* text, size_t length,
                                 size_t characters) {
  using namespace chars_detail;
  const auto* p = static_cast<const unsigned char*>(text);
  if (IsUtf8Text(format)) return Prefix8(p, length, characters);
  if (format == TWSTREAMFMT_UNICODE) {
    size_t seen = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
      if (Lead16(p + i) && seen++ == characters) return i;
    return length & ~size_t{1};
  }
  if (OneByteSet(format)) return characters < length ? characters : length;
  // Cut as UTF-8, then measure the cut text in the set again.
  flowcore::StreamData utf8, back;
  if (!AsUtf8(format, text, length, utf8)) return characters < length ? characters : length;
  const auto* u = static_cast<const unsigned char*>(utf8.get()->data);
  TWStream cut{};
  TWStreamCreate(&cut, 0, 0, TWSTREAMFMT_UTF8);
  cut.data = const_cast<unsigned char*>(u);
  cut.length = static_cast<uint32_t>(Prefix8(u, utf8.get()->length, characters));
  if (TWStreamDataConvert(back.get(), &cut, 0, format, nullptr, nullptr) != TWSUCCESS)
    return characters < length ? characters : length;
  return back.get()->length < length ? back.get()->length : length;
}

// The byte length of length bytes of text in format without a last character cut short.
inline size_t WholeCharacters(uint32_t format, const void* text, size_t length) {
  using namespace chars_detail;
  const auto* p = static_cast<const unsigned char*>(text);
  if (length == 0) return 0;
  if (IsUtf8Text(format)) {
    size_t lead = length - 1;
    for (int back = 0; back < 3 && lead > 0 && !Lead8(p[lead]); ++back) --lead;
    const unsigned char b = p[lead];
    const size_t need = b < 0x80           ? 1
                        : (b >> 5) == 0x6  ? 2
                        : (b >> 4) == 0xE  ? 3
                        : (b >> 3) == 0x1E ? 4
                                           : 1;
    return lead + need > length ? lead : length;
  }
  if (format == TWSTREAMFMT_UNICODE) {
    size_t c = length & ~size_t{1};
    // A high surrogate last: its pair was cut off.
    if (c >= 2) {
      const unsigned unit = p[c - 2] | (p[c - 1] << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF) c -= 2;
    }
    return c;
  }
  if (OneByteSet(format)) return length;
  // Without the bytes of a character cut short the text reads.
  for (size_t drop = 0; drop < MaxCharBytes(format) && drop <= length; ++drop) {
    flowcore::StreamData utf8;
    if (AsUtf8(format, text, length - drop, utf8)) return length - drop;
  }
  return length;
}

// The byte length of the longest part of length bytes of text in format that takes at most
// most bytes and ends on a whole character.
inline size_t PrefixOfBytes(uint32_t format, const void* text, size_t length, size_t most) {
  using namespace chars_detail;
  if (length <= most) return length;
  if (IsUtf8Text(format) || format == TWSTREAMFMT_UNICODE || OneByteSet(format))
    return WholeCharacters(format, text, most);
  // The engine's own cut of a stream that holds most bytes.
  flowcore::StreamData cut;
  if (TWStreamCreate(cut.get(), static_cast<uint32_t>(most), TWSTREAMF_TRUNCATE, format) !=
          TWSUCCESS ||
      TWStreamDataSet(cut.get(), format, text, static_cast<uint32_t>(length)) != TWSUCCESS)
    return WholeCharacters(format, text, most);
  return cut.get()->length;
}

// Text in format judged against a column of characters characters (0: no bound): whether it
// fits, and otherwise the byte length of its part that does.
struct Fit {
  bool fits = true;
  size_t length = 0;
};
inline Fit FitCharacters(uint32_t format, const void* text, size_t length, size_t characters) {
  // A text no longer in bytes than the column in characters fits whatever its set.
  if (characters == 0 || length <= characters) return {true, length};
  const size_t prefix = PrefixOfCharacters(format, text, length, characters);
  return {prefix >= length, prefix};
}

}  // namespace twx

#endif  // TW_LINK_TWX_CHARS_H_
