// A picture of numbers for the tests: every pixel and table entry different enough that a
// shifted row, a lost bit or a swapped colour shows.
#ifndef TW_TESTS_TWCL_UI_TEST_PICTURE_H_
#define TW_TESTS_TWCL_UI_TEST_PICTURE_H_

#include <cstdint>
#include <vector>

#include "twcl/ui/bitmap_data.h"

// Little-endian fields written into a file's or block's bytes.
inline void Set32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}
inline void Set16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = std::uint8_t(v);
  b[at + 1] = std::uint8_t(v >> 8);
}

inline UI_BitmapData TestPicture(short w, short h, short bits) {
  std::vector<std::uint32_t> px(std::size_t(w) * std::size_t(h));
  std::uint32_t mask = bits == 24 ? 0xffffff : (1u << bits) - 1;
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = std::uint32_t(i * 2654435761u >> 7) & mask;
  std::vector<std::uint8_t> table;
  short colors = bits == 24 ? 0 : short(1 << bits);
  for (int i = 0; i < colors * 3; ++i) table.push_back(std::uint8_t(i * 37 + 11));
  return UI_BitmapData(w, h, bits, colors, table.empty() ? nullptr : table.data(), px.data());
}

#endif  // TW_TESTS_TWCL_UI_TEST_PICTURE_H_
