#include "twcl/ui/dib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "collect_warnings.h"
#include "test_picture.h"
#include "twcl/ui/bitmap_data.h"

namespace {

using DibTest = CollectWarnings;

TEST(Dib, HeaderArithmetic) {
  struct Round {
    unsigned in, out;
  } rounds[] = {{0, 1}, {1, 1}, {2, 4}, {4, 4}, {5, 8}, {8, 8}, {16, 24}, {24, 24}, {32, 24}};
  for (const auto& r : rounds) EXPECT_EQ(UI_DibRoundBits(r.in), r.out) << r.in;

  struct New {
    long w, h;
    unsigned bits;
    std::size_t size;  // 0: refused
  } news[] = {
      {33, 2, 1, 40 + 2 * 4 + 8 * 2},  // 33 one-bit pixels take 8 bytes a row
      {3, 3, 4, 40 + 16 * 4 + 4 * 3},
      {5, 1, 8, 40 + 256 * 4 + 8},
      {5, 2, 24, 40 + 16 * 2},
      {5, 2, 32, 40 + 16 * 2},  // a 32-bit screen keeps its colour in 24 bits
      {32767, 1, 24, 40 + 98304},
      {0, 5, 8, 0},
      {5, -1, 8, 0},
      {40000, 1, 24, 0},
  };
  for (const auto& n : news) {
    SCOPED_TRACE(std::to_string(n.w) + "x" + std::to_string(n.h) + "x" + std::to_string(n.bits));
    std::vector<std::uint8_t> dib = UI_DibNew(n.w, n.h, n.bits);
    ASSERT_EQ(dib.size(), n.size);
    if (!n.size) continue;
    UI_DibInfo d;
    ASSERT_TRUE(UI_DibCheck(dib.data(), dib.size(), &d));
    EXPECT_EQ(d.width, n.w);
    EXPECT_EQ(d.height, n.h);
    EXPECT_EQ(d.bits, UI_DibRoundBits(n.bits));
    EXPECT_EQ(40 + d.table_bytes + d.image_bytes, n.size);
  }

  struct Colors {
    bool core;
    unsigned bits;
    std::uint64_t used, want;
  } colors[] = {{false, 1, 0, 2},  {false, 4, 0, 16}, {false, 8, 0, 256}, {false, 24, 0, 0},
                {false, 8, 17, 17}, {false, 24, 5, 5}, {true, 8, 17, 256}, {true, 24, 0, 0}};
  for (const auto& c : colors) EXPECT_EQ(UI_DibColorCount(c.core, c.bits, c.used), c.want);
}

TEST(Dib, ConversionPairs) {
  struct Case {
    unsigned source, bits;
    std::uint32_t compression;
    unsigned dib, bitmap;  // what ConvertDIB and ConvertBitmapToDIB make; 0 refused
  } cases[] = {
      {8, 0, UI_DibRgb, 8, 0},   {4, 0, UI_DibRle4, 4, 4},  {8, 0, UI_DibRle4, 0, 4},
      {8, 0, UI_DibRle8, 8, 8},  {4, 0, UI_DibRle8, 0, 8},  {8, 1, UI_DibRgb, 1, 1},
      {8, 1, UI_DibRle4, 0, 0},  {8, 4, UI_DibRgb, 4, 4},   {8, 4, UI_DibRle4, 4, 4},
      {8, 4, UI_DibRle8, 0, 0},  {4, 8, UI_DibRle8, 8, 8},  {4, 8, UI_DibRle4, 0, 0},
      {8, 24, UI_DibRgb, 24, 24}, {8, 24, UI_DibRle8, 0, 0}, {8, 16, UI_DibRgb, 0, 0},
      {8, 32, UI_DibRgb, 0, 0},  {8, 8, 3, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " -> " + std::to_string(c.bits) + "/" +
                 std::to_string(c.compression));
    EXPECT_EQ(UI_DibConversionBits(c.source, c.bits, c.compression), c.dib);
    EXPECT_EQ(UI_BitmapConversionBits(c.bits, c.compression), c.bitmap);
  }
}

TEST_F(DibTest, BmpFilesBecomeDibsAndBack) {
  struct Case {
    short w, h, bits;
    bool core;
  } cases[] = {{33, 3, 1, false}, {5, 4, 4, false}, {7, 2, 8, false}, {3, 3, 24, false},
               {9, 2, 1, true},   {4, 4, 8, true},   {2, 2, 24, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.core ? " core" : " info"));
    UI_BitmapData pic = TestPicture(c.w, c.h, c.bits);
    std::vector<std::uint8_t> file = pic.ToBmp(c.core), dib, back;
    ASSERT_TRUE(UI_DibFromBmp(file.data(), file.size(), "p.bmp", &dib));
    UI_DibInfo d;
    ASSERT_TRUE(UI_DibCheck(dib.data(), dib.size(), &d));
    EXPECT_EQ(d.header, 40u);  // core files come out with an info header
    EXPECT_EQ(d.width, c.w);
    EXPECT_EQ(d.height, c.h);
    EXPECT_EQ(d.bits, unsigned(c.bits));
    EXPECT_EQ(dib.size(), 40 + d.table_bytes + d.image_bytes);
    ASSERT_EQ(UI_BmpFromDib(dib.data(), dib.size(), &back), 0);
    UI_BitmapData again;
    ASSERT_TRUE(again.ReadFromBytes(back.data(), back.size(), "back.bmp"));
    EXPECT_EQ(again.Pixels(), pic.Pixels());
    if (!c.core) {
      EXPECT_EQ(back, file);  // an info-header file comes back byte for byte
    }
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(DibTest, CorruptFilesAndBlocksAreRefused) {
  // The DIB reader goes through the picture reader's checks: the same warnings.
  const std::vector<std::uint8_t> file = TestPicture(8, 4, 8).ToBmp();
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  struct FileCase {
    const char* name;
    Edit edit;
    const char* warning;
  } files[] = {
      {"truncated header", [](auto& b) { b.resize(20); }, "UI_Bitmap::ReadFrom: Read failed on info: bad.bmp"},
      {"height huge", [](auto& b) { Set32(b, 22, 0x7fffffff); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"colours used huge", [](auto& b) { Set32(b, 46, 0xffffffff); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"bits offset past the end", [](auto& b) { Set32(b, 10, 0xfffffff0); }, "UI_Bitmap::ReadFrom: seek to"},
      {"rows cut", [](auto& b) { b.pop_back(); }, "UI_BitmapData::ReadData: read of bits failed"},
  };
  for (const auto& c : files) {
    SCOPED_TRACE(c.name);
    g_warnings.clear();
    std::vector<std::uint8_t> bytes = file, dib{1, 2, 3};
    c.edit(bytes);
    EXPECT_FALSE(UI_DibFromBmp(bytes.data(), bytes.size(), "bad.bmp", &dib));
    EXPECT_EQ(dib, (std::vector<std::uint8_t>{1, 2, 3}));
    ASSERT_EQ(g_warnings.size(), 1u);
    EXPECT_EQ(g_warnings[0].rfind(c.warning, 0), 0u) << g_warnings[0];
  }

  // Blocks handed in as DIBs: every count checked against the block's size.
  std::vector<std::uint8_t> good;
  ASSERT_TRUE(UI_DibFromBmp(file.data(), file.size(), "good.bmp", &good));
  struct BlockCase {
    const char* name;
    Edit edit;
    bool ok;
  } blocks[] = {
      {"as made", [](auto&) {}, true},
      {"header size past the block", [](auto& b) { Set32(b, 0, 0x7fffffff); }, false},
      {"header size 20", [](auto& b) { Set32(b, 0, 20); }, false},
      {"rows cut", [](auto& b) { b.pop_back(); }, false},
      {"width 0", [](auto& b) { Set32(b, 4, 0); }, false},
      {"width huge", [](auto& b) { Set32(b, 4, 0x7fffffff); }, false},
      {"top-down rows", [](auto& b) { Set32(b, 8, std::uint32_t(-4)); }, true},
      {"bit count 7", [](auto& b) { Set16(b, 14, 7); }, false},
      {"colours used beyond the depth", [](auto& b) { Set32(b, 32, 300); }, false},
      {"RLE8 image size past the block", [](auto& b) { Set32(b, 16, 1); Set32(b, 20, 1u << 31); }, false},
      {"RLE4 on 8 bits", [](auto& b) { Set32(b, 16, 2); }, false},
      {"unknown compression", [](auto& b) { Set32(b, 16, 9); }, false},
      {"too short for a size", [](auto& b) { b.resize(3); }, false},
  };
  for (const auto& c : blocks) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> b = good, out;
    c.edit(b);
    UI_DibInfo d;
    EXPECT_EQ(UI_DibCheck(b.data(), b.size(), &d), c.ok);
    EXPECT_EQ(UI_BmpFromDib(b.data(), b.size(), &out), c.ok ? 0 : 20);
    EXPECT_EQ(out.empty(), !c.ok);
  }
  // A core-header block is a DIB, but its file is not written.
  std::vector<std::uint8_t> core = {12, 0, 0, 0, 1, 0, 1, 0, 1, 0, 24, 0, 0, 0, 0, 0}, out{9};
  UI_DibInfo d;
  EXPECT_TRUE(UI_DibCheck(core.data(), core.size(), &d));
  EXPECT_EQ(UI_BmpFromDib(core.data(), core.size(), &out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(UI_DibCheck(nullptr, 100, &d));
}

TEST(Dib, ErrorTexts) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {{0, "Not a Windows DIB file!"}, {4, "Error opening file!"}, {19, "File Not Found!"},
               {21, "General Error on call to DIB function"}, {22, "Undefined Error!"},
               {-1, "Undefined Error!"}};
  for (const auto& c : cases) EXPECT_STREQ(UI_DibErrorText(c.code), c.text) << c.code;
}

}  // namespace
