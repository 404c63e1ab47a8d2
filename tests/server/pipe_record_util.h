// TWSNMP_PIPE records built byte by byte, for the tests of both ends of the pipe.
#ifndef TW_TESTS_SERVER_PIPE_RECORD_UTIL_H_
#define TW_TESTS_SERVER_PIPE_RECORD_UTIL_H_

#include <cstdint>
#include <initializer_list>
#include <string>

#include "tw/coding.h"

namespace twtest {

// Little-endian 32-bit words.
inline std::string Words(std::initializer_list<int32_t> words) {
  std::string out(4 * words.size(), '\0');
  size_t i = 0;
  for (int32_t w : words) tw::put_i32(out.data() + 4 * i++, w);
  return out;
}

// text in a zeroed field of size bytes (cut to the field, with no room kept for a NUL).
inline std::string Field(const std::string& text, size_t size) {
  std::string out(size, '\0');
  out.replace(0, text.size() < size ? text.size() : size, text.substr(0, size));
  return out;
}

}  // namespace twtest

#endif  // TW_TESTS_SERVER_PIPE_RECORD_UTIL_H_
