#include "twcl/ui/bitmap_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "collect_warnings.h"
#include "test_picture.h"

namespace {

using BitmapDataTest = CollectWarnings;

UI_BitmapData Picture(short w, short h, short bits) {
  std::vector<std::uint32_t> px(std::size_t(w) * h);
  std::uint32_t mask = bits == 24 ? 0xffffff : (1u << bits) - 1;
  for (std::size_t i = 0; i < px.size(); ++i) px[i] = std::uint32_t(i * 2654435761u) & mask;
  std::vector<std::uint8_t> table;
  short colors = bits == 24 ? 0 : short(1 << bits);
  for (int i = 0; i < colors; ++i) {
    table.push_back(std::uint8_t(i));
    table.push_back(std::uint8_t(255 - i));
    table.push_back(std::uint8_t(i * 3));
  }
  return UI_BitmapData(w, h, bits, colors, table.empty() ? nullptr : table.data(), px.data());
}

TEST_F(BitmapDataTest, RoundTripsEveryDepthAndHeader) {
  struct Case {
    short w, h, bits;
    bool core;
    std::size_t file_size;
  } cases[] = {
      {33, 3, 1, false, 14 + 40 + 2 * 4 + 8 * 3},  // a 1-bit row of width 33 takes 8 bytes
      {5, 4, 4, false, 14 + 40 + 16 * 4 + 4 * 4},
      {7, 2, 8, false, 14 + 40 + 256 * 4 + 8 * 2},
      {3, 3, 24, false, 14 + 40 + 12 * 3},
      {9, 2, 1, true, 14 + 12 + 2 * 3 + 4 * 2},
      {3, 5, 4, true, 14 + 12 + 16 * 3 + 4 * 5},
      {4, 4, 8, true, 14 + 12 + 256 * 3 + 4 * 4},
      {2, 2, 24, true, 14 + 12 + 8 * 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.core ? " core" : " info"));
    UI_BitmapData pic = Picture(c.w, c.h, c.bits);
    std::vector<std::uint8_t> bytes = pic.ToBmp(c.core);
    ASSERT_EQ(bytes.size(), c.file_size);
    UI_BitmapData back;
    ASSERT_TRUE(back.ReadFromBytes(bytes.data(), bytes.size(), "pic.bmp"));
    EXPECT_EQ(back.Width(), c.w);
    EXPECT_EQ(back.Height(), c.h);
    EXPECT_EQ(back.BitCount(), c.bits);
    EXPECT_EQ(back.ColorCount(), pic.ColorCount());
    EXPECT_EQ(back.Pixels(), pic.Pixels());
    if (pic.ColorCount())
      EXPECT_EQ(0, std::memcmp(back.ColorTable(), pic.ColorTable(), std::size_t(pic.ColorCount()) * 3));
    else
      EXPECT_EQ(back.ColorTable(), nullptr);
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(BitmapDataTest, TwentyFourBitPixelsKeepFileOrderFirstByteHighest) {
  std::uint32_t px[] = {0x010203};
  std::vector<std::uint8_t> bytes = UI_BitmapData(1, 1, 24, 0, nullptr, px).ToBmp();
  EXPECT_EQ(bytes[54], 0x01);
  EXPECT_EQ(bytes[56], 0x03);
}

TEST_F(BitmapDataTest, FileRoundTripAndMissingFile) {
  std::string dir = (std::filesystem::temp_directory_path() / "twbmp.XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::string path = std::string(dir) + "/p.bmp";
  UI_BitmapData pic = Picture(10, 6, 4);
  ASSERT_TRUE(pic.WriteTo(path.c_str()));
  UI_BitmapData back;
  ASSERT_TRUE(back.ReadFrom(path.c_str()));
  EXPECT_EQ(back.Pixels(), pic.Pixels());
  std::remove(path.c_str());
  EXPECT_FALSE(back.ReadFrom(path.c_str()));
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0].rfind("UI_Bitmap::ReadFrom: Invalid bitmap file '" + path + "': ", 0), 0u);
  EXPECT_EQ(back.Pixels(), pic.Pixels());  // a failed read changes nothing
  EXPECT_FALSE(UI_BitmapData(2, 2, 3, 0, nullptr, nullptr).WriteTo(path.c_str()));
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  rmdir(dir.c_str());
}

TEST_F(BitmapDataTest, CorruptFilesAreRefusedWithTheirWarning) {
  const std::vector<std::uint8_t> good = Picture(8, 4, 8).ToBmp();  // 14 + 40 + 1024 + 32
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* name;
    Edit edit;
    const char* warning;  // the start of the one warning expected; null: none
  } cases[] = {
      {"empty", [](auto& b) { b.clear(); }, "UI_Bitmap::ReadFrom: Read failed on header: bad.bmp"},
      {"cut in the file header", [](auto& b) { b.resize(10); },
       "UI_Bitmap::ReadFrom: Read failed on header: bad.bmp"},
      {"not BM", [](auto& b) { b[0] = 'X'; }, "UI_Bitmap::ReadFrom: Invalid bitmap file 'bad.bmp'"},
      {"cut in the info header", [](auto& b) { b.resize(30); },
       "UI_Bitmap::ReadFrom: Read failed on info: bad.bmp"},
      {"header size 0", [](auto& b) { Set32(b, 14, 0); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"header size huge", [](auto& b) { Set32(b, 14, 0x7fffffff); },
       "UI_Bitmap::ReadFrom: Read failed on info: bad.bmp"},
      {"RLE", [](auto& b) { Set32(b, 30, 1); },
       "UI_Bitmap::ReadFrom: File bad.bmp: TWCL doesn't support RLE compression"},
      {"width 0", [](auto& b) { Set32(b, 18, 0); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"width negative", [](auto& b) { Set32(b, 18, 0xffffff00); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"width past 16 bits", [](auto& b) { Set32(b, 18, 65544); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"height huge", [](auto& b) { Set32(b, 22, 0x7fffffff); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"width that overflows a 16-bit row size", [](auto& b) { Set32(b, 18, 32767); },
       "UI_BitmapData::ReadData: read of bits failed"},
      {"bit count 0", [](auto& b) { Set16(b, 28, 0); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"bit count 32", [](auto& b) { Set16(b, 28, 32); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"bit count 65535", [](auto& b) { Set16(b, 28, 65535); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"planes 2", [](auto& b) { Set16(b, 26, 2); }, "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"colours used beyond the depth", [](auto& b) { Set32(b, 46, 257); },
       "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"colours used huge", [](auto& b) { Set32(b, 46, 0xffffffff); },
       "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"colour table cut", [](auto& b) { b.resize(14 + 40 + 100); },
       "UI_BitmapData::ReadData: Read failed on color table"},
      {"bits offset past the end", [](auto& b) { Set32(b, 10, 0xfffffff0); },
       "UI_Bitmap::ReadFrom: seek to"},
      {"bits offset inside the table", [](auto& b) { Set32(b, 10, 20); }, "UI_Bitmap::ReadFrom: seek to"},
      {"rows cut", [](auto& b) { b.pop_back(); }, "UI_BitmapData::ReadData: read of bits failed"},
      {"image size field lies (ignored)", [](auto& b) { Set32(b, 34, 0xffffffff); }, nullptr},
      {"fewer colours used than the depth", [](auto& b) { Set32(b, 46, 0); }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_warnings.clear();
    std::vector<std::uint8_t> bytes = good;
    c.edit(bytes);
    UI_BitmapData pic;
    bool ok = pic.ReadFromBytes(bytes.data(), bytes.size(), "bad.bmp");
    if (!c.warning) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(g_warnings.empty());
      continue;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(pic.Width(), 0);
    EXPECT_TRUE(pic.Pixels().empty());
    ASSERT_EQ(g_warnings.size(), 1u);
    EXPECT_EQ(g_warnings[0].rfind(c.warning, 0), 0u) << g_warnings[0];
  }
}

TEST_F(BitmapDataTest, ShortColourTableIsReadAsStated) {
  // A 4-bit file whose table holds 3 colours: the rows start right after those 3 entries.
  UI_BitmapData pic = Picture(4, 2, 4);
  std::vector<std::uint8_t> full = pic.ToBmp();
  std::vector<std::uint8_t> b(full.begin(), full.begin() + 54 + 3 * 4);
  b.insert(b.end(), full.end() - 8, full.end());
  Set32(b, 46, 3);
  Set32(b, 10, 54 + 12);
  Set32(b, 2, std::uint32_t(b.size()));
  UI_BitmapData back;
  ASSERT_TRUE(back.ReadFromBytes(b.data(), b.size(), "short.bmp"));
  EXPECT_EQ(back.ColorCount(), 3);
  EXPECT_EQ(back.Pixels(), pic.Pixels());
}

}  // namespace
