// Helpers of the stream tests: a stream record freed at the end of its scope, and byte
// strings in and out of streams.
#ifndef TW_TESTS_FLOWCORE_STREAM_TEST_UTIL_H_
#define TW_TESTS_FLOWCORE_STREAM_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "flowcore.h"
#include "flowcore_ptr.h"

namespace twtest {

using Bytes = std::string;

class Stream {
 public:
  Stream() = default;
  explicit Stream(uint32_t format, const Bytes& bytes) { Set(format, bytes); }

  TWStream* get() { return s_.get(); }
  TWStream* operator->() { return s_.get(); }

  void Set(uint32_t format, const Bytes& bytes) { ASSERT_EQ(s_.Set(format, bytes), TWSUCCESS); }
  Bytes bytes() const { return Bytes(s_.view()); }
  // The two zero bytes every engine-made block carries after the data.
  bool terminated() const {
    const TWStream* s = s_.get();
    const char* p = static_cast<const char*>(s->data);
    return p != nullptr && p[s->length] == 0 && p[s->length + 1] == 0;
  }

 private:
  flowcore::StreamData s_;
};

// UTF-16LE bytes of ASCII text.
inline Bytes Wide(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

inline Bytes U16(uint16_t v) {
  return Bytes{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

inline Bytes U32(uint32_t v) {
  return U16(static_cast<uint16_t>(v)) + U16(static_cast<uint16_t>(v >> 16));
}

inline Bytes F64(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return U32(static_cast<uint32_t>(bits)) + U32(static_cast<uint32_t>(bits >> 32));
}

// Converts bytes of format from into format to; the status, and the bytes on success.
inline uint32_t ConvertText(uint32_t from, const Bytes& bytes, uint32_t to, Bytes* out,
                            uint32_t flags = 0) {
  Stream src(from, bytes);
  Stream dst;
  uint32_t st = TWStreamDataConvert(dst.get(), src.get(), flags, to, nullptr, nullptr);
  if (st == TWSUCCESS) *out = dst.bytes();
  return st;
}

}  // namespace twtest

#endif  // TW_TESTS_FLOWCORE_STREAM_TEST_UTIL_H_
