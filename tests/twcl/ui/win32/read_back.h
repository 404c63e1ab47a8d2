// Pixels read back from a drawing surface, for the drawing tests.
#ifndef TW_TESTS_TWCL_UI_WIN32_READ_BACK_H_
#define TW_TESTS_TWCL_UI_WIN32_READ_BACK_H_

#include <gtest/gtest.h>

#include <cstdint>

#include "twcl/ui/bitmap.h"

// The pixels of a surface's rectangle, through a bitmap copied from it.
inline UI_BitmapData Pixels(UI_DrawingSurface& s, const UI_Rectangle& r) {
  UI_Bitmap b;
  UI_BitmapData out;
  EXPECT_TRUE(b.CopyFrom(s, r));
  EXPECT_TRUE(b.ToData(&out));
  return out;
}

inline std::uint32_t At(const UI_BitmapData& d, long x, long y) {
  return d.Pixels().at(std::size_t(y) * std::size_t(d.Width()) + std::size_t(x));
}

#endif  // TW_TESTS_TWCL_UI_WIN32_READ_BACK_H_
