// Internals shared by the stream, character-set, list and composite sources of flowcore:
// growable byte buffers leased per thread, stream-record storage, and the conversions
// between stream formats.
#ifndef TW_FLOWCORE_STREAM_INTERNAL_H_
#define TW_FLOWCORE_STREAM_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "flowcore.h"

namespace flowcore {

// Bits 24-31 of a stream's flags word are the engine's. kNotOwned marks data the record
// refers to but must never free (a TWCONVERTF_REFERENCE result).
constexpr uint32_t kPrivateFlags = 0xFF000000u;
constexpr uint32_t kNotOwned = 0x80000000u;
constexpr uint32_t kPublicFlags = TWSTREAMF_FIXED | TWSTREAMF_TRUNCATE | TWSTREAMF_NO_CASE;
// The largest data length a record can hold: the block adds two terminating zero bytes and
// the total must stay within 32 bits.
constexpr size_t kMaxData = 0xFFFFFFFFu - 64u;

// A growable byte buffer on the C heap. Growth that fails throws std::bad_alloc, which the
// entry points' guard turns into TWFAIL_MEMORY.
class ByteBuf {
 public:
  ByteBuf() = default;
  ~ByteBuf();
  ByteBuf(const ByteBuf&) = delete;
  ByteBuf& operator=(const ByteBuf&) = delete;

  uint8_t* data() { return p_; }
  const uint8_t* data() const { return p_; }
  size_t size() const { return n_; }
  size_t capacity() const { return cap_; }
  void clear() { n_ = 0; }
  void reserve(size_t n);
  // Makes room for n more bytes and answers where they go; size() grows by n.
  uint8_t* extend(size_t n);
  void resize(size_t n);
  void append(const void* bytes, size_t n);
  void push(uint8_t b) { *extend(1) = b; }
  // Gives the memory back when a large value left it big.
  void shrink_if_large();

 private:
  uint8_t* p_ = nullptr;
  size_t n_ = 0;
  size_t cap_ = 0;
};

// A ByteBuf leased from the calling thread's pool for one call; nested calls lease
// different buffers, and after warm-up no lease allocates.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ByteBuf& buf() { return *b_; }

 private:
  ByteBuf* b_;
};

// ---------------------------------------------------------------- formats

enum class Kind {
  kText,
  kBase64,
  kBlob,
  kComposite,
  kTextList,
  kNumberList,
  kDatetimeList,
  kOtherBinary
};
Kind KindOf(uint32_t format);
// Text (a character set, known or not) or base64 text.
inline bool IsTextLike(Kind k) {
  return k == Kind::kText || k == Kind::kBase64;
}

// ---------------------------------------------------------------- character sets

// The three UTF-8 formats: native, QMBCS and UTF8.
bool IsUtf8Format(uint32_t format);
bool IsUtf16Format(uint32_t format);
// The byte of a blank in format (0x40 in the EBCDIC sets, else 0x20).
uint8_t BlankByte(uint32_t format);
// Converts text between two character-set formats into out (appended). A set without a
// converter: TWFAIL_INVALID_CONVERT; a character the target cannot hold or bytes that are
// not text of the source set: TWFAIL_TEXT_TRANSLATE.
[[nodiscard]] uint32_t Transcode(const uint8_t* in, size_t n, uint32_t from, uint32_t to,
                                 ByteBuf& out);
// The longest prefix of text in format, at most limit bytes, that ends on a character
// boundary. Binary formats other than BLOB cannot be cut: TWFAIL_OVERFLOW.
[[nodiscard]] uint32_t CutLength(uint32_t format, const uint8_t* bytes, size_t n, size_t limit,
                                 size_t* cut);

// ---------------------------------------------------------------- stream records

// The bytes a record holds; a record claiming bytes without data: TWFAIL_NULL_BUFFER.
[[nodiscard]] uint32_t RecordBytes(const TWStream* s, const uint8_t** bytes, size_t* n);
// Stores a copy of bytes (which may lie in s's own block) in s with the given capacity
// rules, which s takes on success; s's block is reused when big enough. Too long without
// TWSTREAMF_TRUNCATE: TWFAIL_OVERFLOW, s unchanged.
[[nodiscard]] uint32_t StoreBytes(TWStream* s, uint32_t maxLength, uint32_t flags, uint32_t format,
                                  const uint8_t* bytes, size_t n);
// A read-only view record over bytes, for handing text to other value families.
TWStream ViewOf(uint32_t format, const uint8_t* bytes, size_t n);
// TWStreamDataCompare's order; padded compares text without its trailing blanks, as a
// fixed-width column pads it.
[[nodiscard]] uint32_t CompareStreams(const TWStream* a, const TWStream* b, bool padded,
                                      int32_t* result);

// ---------------------------------------------------------------- conversions

// The result of converting bytes: either a prefix of the source's own bytes or out's.
struct Converted {
  const uint8_t* data;
  size_t length;
  bool fromSource;
};
// Converts n bytes of format from into format to by the rules of TWStreamDataConvert
// (flags: TWCONVERTF_FORCE_TEXT). Output that differs from the source goes into out.
[[nodiscard]] uint32_t ConvertBytes(const uint8_t* src, size_t n, uint32_t from, uint32_t to,
                                    uint32_t flags, ByteBuf& out, Converted* result);

// ---------------------------------------------------------------- lists

// Byte length of the valid list of kind at bytes, or false when the bytes hold none.
[[nodiscard]] bool ListLength(Kind kind, const uint8_t* bytes, size_t n, size_t* length);
[[nodiscard]] uint32_t TextListToUtf8(const uint8_t* list, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t Utf8ToTextList(const uint8_t* text, size_t n, ByteBuf& out);
// A one-entry text list holding text.
[[nodiscard]] uint32_t OneEntryTextList(const uint8_t* text, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t NumberListToUtf8(const uint8_t* list, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t Utf8ToNumberList(const uint8_t* text, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t DatetimeListToUtf8(const uint8_t* list, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t Utf8ToDatetimeList(const uint8_t* text, size_t n, ByteBuf& out);

// ---------------------------------------------------------------- composite

[[nodiscard]] uint32_t CompositeToUtf8(const uint8_t* bytes, size_t n, ByteBuf& out);
[[nodiscard]] uint32_t Utf8ToComposite(const uint8_t* text, size_t n, ByteBuf& out);

}  // namespace flowcore

#endif  // TW_FLOWCORE_STREAM_INTERNAL_H_
