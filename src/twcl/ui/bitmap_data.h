// A picture held as numbers (size, colour depth, colour table, one value per pixel), read
// from and written to the Windows BMP format: a 14-byte file header, then a 12-byte core
// header or a 40-byte (or longer) info header, the colour table, and the pixel rows
// bottom-up, each padded to 4 bytes. 1, 4, 8 and 24 bits per pixel, uncompressed.
#ifndef TW_TWCL_UI_BITMAP_DATA_H_
#define TW_TWCL_UI_BITMAP_DATA_H_

#include <cstddef>
#include <cstdint>
#include <vector>

class UI_BitmapData {
 public:
  UI_BitmapData() = default;
  // Copies width x height pixel values and, when given, colors x 3 bytes (red, green, blue).
  UI_BitmapData(short width, short height, short bits, short colors, const std::uint8_t* table,
                const std::uint32_t* pixels);
  virtual ~UI_BitmapData() = default;
  UI_BitmapData(const UI_BitmapData&) = default;
  UI_BitmapData& operator=(const UI_BitmapData&) = default;

  // Reads a BMP file. Every size, count and offset in it is checked against the file's
  // length before anything is allocated or read; a missing, truncated or corrupt file is
  // refused with a warning and leaves this object unchanged.
  [[nodiscard]] bool ReadFrom(const char* path);
  // The same over bytes in memory; name is what the warnings call the file.
  [[nodiscard]] bool ReadFromBytes(const std::uint8_t* data, std::size_t size, const char* name);
  // The BMP file of this picture (info header, or the core header when asked); empty when
  // the picture is not one that a BMP file can hold.
  std::vector<std::uint8_t> ToBmp(bool core_header = false) const;
  [[nodiscard]] bool WriteTo(const char* path, bool core_header = false) const;

  short Width() const { return width_; }
  short Height() const { return height_; }
  short BitCount() const { return bits_; }
  short ColorCount() const { return colors_; }
  // colors x 3 bytes, red, green, blue; null when there is no table.
  const std::uint8_t* ColorTable() const { return table_.empty() ? nullptr : table_.data(); }
  // width x height values, row by row from the top: colour indexes, or for 24 bits the
  // three bytes of the pixel in file order, first byte most significant.
  const std::vector<std::uint32_t>& Pixels() const { return pixels_; }

  // Row size in bytes of a BMP row, in 64 bits.
  static std::uint64_t RowBytes(std::uint64_t width, unsigned bits);

 private:
  short width_ = 0, height_ = 0, bits_ = 0, colors_ = 0;
  std::vector<std::uint8_t> table_;
  std::vector<std::uint32_t> pixels_;
};

// Where the parts of a BMP file lie, once checked: every count and offset below fits the
// file.
struct UI_BmpLayout {
  std::uint32_t header = 0;  // header size: 12 core, 40 or more info
  bool core = false;
  std::int64_t width = 0, height = 0;
  unsigned bits = 0;
  std::uint64_t colors = 0;    // colour-table entries
  std::uint64_t table_at = 0;  // offset of the colour table
  std::uint64_t entry = 0;     // bytes per table entry: 3 core, 4 info
  std::uint64_t bits_offset = 0;
  std::uint64_t row = 0;  // bytes per pixel row
};

// Checks the BMP file in data against its length and sane limits before anything is read
// from it; a truncated or corrupt file is refused with a warning naming it.
[[nodiscard]] bool UI_CheckBmp(const std::uint8_t* data, std::size_t size, const char* name,
                               UI_BmpLayout* out);

// The whole of a file no larger than a picture can be; a warning naming the file when it
// cannot be opened or read.
[[nodiscard]] bool UI_ReadBmpFileBytes(const char* path, std::vector<std::uint8_t>* out);

#endif  // TW_TWCL_UI_BITMAP_DATA_H_
