// Little-endian fixed-width codecs for records that cross processes or are stored: never a
// struct cast over received bytes. Readers fail on short input.
#ifndef TW_PLATFORM_TW_CODING_H_
#define TW_PLATFORM_TW_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tw {

inline void put_u16(void* dst, uint16_t v) {
  auto* p = static_cast<unsigned char*>(dst);
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put_u32(void* dst, uint32_t v) {
  auto* p = static_cast<unsigned char*>(dst);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put_i32(void* dst, int32_t v) {
  put_u32(dst, static_cast<uint32_t>(v));
}
inline void put_u64(void* dst, uint64_t v) {
  auto* p = static_cast<unsigned char*>(dst);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline uint16_t get_u16(const void* src) {
  auto* p = static_cast<const unsigned char*>(src);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_u32(const void* src) {
  auto* p = static_cast<const unsigned char*>(src);
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline int32_t get_i32(const void* src) {
  return static_cast<int32_t>(get_u32(src));
}
inline uint64_t get_u64(const void* src) {
  auto* p = static_cast<const unsigned char*>(src);
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A bounded reader over a byte block: every get checks what remains.
class Reader {
 public:
  Reader(const void* data, size_t size) : p_(static_cast<const unsigned char*>(data)), n_(size) {}
  size_t remaining() const { return n_ - pos_; }
  size_t position() const { return pos_; }
  bool skip(size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool u16(uint16_t* v) {
    return fixed(2, [&] { *v = get_u16(p_ + pos_); });
  }
  bool u32(uint32_t* v) {
    return fixed(4, [&] { *v = get_u32(p_ + pos_); });
  }
  bool i32(int32_t* v) {
    return fixed(4, [&] { *v = get_i32(p_ + pos_); });
  }
  bool u64(uint64_t* v) {
    return fixed(8, [&] { *v = get_u64(p_ + pos_); });
  }
  bool bytes(size_t n, std::string_view* out) {
    if (n > remaining()) return false;
    *out = std::string_view(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return true;
  }

 private:
  template <class F>
  bool fixed(size_t n, F&& read) {
    if (n > remaining()) return false;
    read();
    pos_ += n;
    return true;
  }
  const unsigned char* p_;
  size_t n_;
  size_t pos_ = 0;
};

// Copies text into a caller's buffer of capacity size, always NUL-terminated when size > 0.
// Returns the number of characters copied.
inline size_t copy_bounded(char* dst, size_t size, std::string_view text) {
  if (dst == nullptr || size == 0) return 0;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  if (n > 0) std::memcpy(dst, text.data(), n);  // an empty view may have no data
  dst[n] = '\0';
  return n;
}

}  // namespace tw

#endif  // TW_PLATFORM_TW_CODING_H_
