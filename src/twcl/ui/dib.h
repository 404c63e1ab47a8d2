// Packed device-independent bitmaps (DIBs) as bytes: a BITMAPINFOHEADER (or the older
// 12-byte core header), the colour table and the pixel rows in one block. Everything here
// is arithmetic over bytes, so the sanitizer build covers it; the Win32 half keeps such a
// block in global memory (dibutil.h). Sizes are 64-bit throughout.
#ifndef TW_TWCL_UI_DIB_H_
#define TW_TWCL_UI_DIB_H_

#include <cstddef>
#include <cstdint>
#include <vector>

class CL_BinaryFile;

// Compression values of the header.
inline constexpr std::uint32_t UI_DibRgb = 0, UI_DibRle8 = 1, UI_DibRle4 = 2;

struct UI_DibInfo {
  std::uint32_t header = 0;  // 12 core, 40 or more info
  bool core = false;
  std::int64_t width = 0, height = 0;  // height negative for top-down rows
  unsigned bits = 0;
  std::uint32_t compression = UI_DibRgb;
  std::uint64_t colors = 0;       // colour-table entries
  std::uint64_t table_bytes = 0;  // colours x 4, x 3 for a core header
  std::uint64_t image_bytes = 0;  // the header's for RLE, else computed from the rows
};

// Bits per pixel a new DIB takes: up to 1, 4, 8, else 24 (a deeper screen keeps its colour).
unsigned UI_DibRoundBits(unsigned bits);
// Bytes of one pixel row, padded to 4 bytes.
std::uint64_t UI_DibRowBytes(std::int64_t width, unsigned bits);
// Colour-table entries a header of that kind gives: the colours-used field of an info
// header when set, else 2, 16 or 256 by the bit count, 0 for deeper pixels.
std::uint64_t UI_DibColorCount(bool core, unsigned bits, std::uint64_t colors_used);

// Reads the header of the n-byte block p and checks that header, colour table and pixels
// all lie inside it; false for anything a DIB cannot be.
[[nodiscard]] bool UI_DibCheck(const std::uint8_t* p, std::size_t n, UI_DibInfo* out);

// The pixel rows of the n-byte packed DIB at p, past its header and colour table; null for
// a block that is no DIB (UI_DibCheck).
std::uint8_t* DIBBitsAddress(std::uint8_t* p, std::size_t n);
const std::uint8_t* DIBBitsAddress(const std::uint8_t* p, std::size_t n);

// Large blocks read or written at the file's position in pieces of at most 32767 bytes;
// false when a piece comes short (what was read or written until then stays so).
[[nodiscard]] bool ReadFileInChunks(CL_BinaryFile& file, void* buffer, std::uint64_t n);
[[nodiscard]] bool WriteFileInChunks(CL_BinaryFile& file, const void* buffer, std::uint64_t n);

// A zeroed DIB: info header (planes 1, the rounded bit count, other fields 0), colour
// table and rows; empty when the size is not one a picture can have.
std::vector<std::uint8_t> UI_DibNew(std::int64_t width, std::int64_t height, unsigned bits);

// What ConvertDIB makes of a source of source_bits asked for bits and compression: the
// bit count of the result, or 0 when the pair is refused (bits 0 keeps the source's).
unsigned UI_DibConversionBits(unsigned source_bits, unsigned bits, std::uint32_t compression);
// The same for ConvertBitmapToDIB, where bits 0 goes with an RLE compression only.
unsigned UI_BitmapConversionBits(unsigned bits, std::uint32_t compression);

// A BMP file's bytes as a packed DIB with an info header (core files converted), through
// the same checks as UI_BitmapData's reader; false with its warning on a bad file.
[[nodiscard]] bool UI_DibFromBmp(const std::uint8_t* data, std::size_t size, const char* name,
                                 std::vector<std::uint8_t>* out);
// The BMP file of a packed DIB: a file header, then the block, with the image size written
// into the header for uncompressed pixels. Answers a DIB error code: 0 (with out empty when
// the header is not a 40-byte one, which is not written), 20 for a block that is no DIB.
int UI_BmpFromDib(const std::uint8_t* p, std::size_t n, std::vector<std::uint8_t>* out);

// The text of a DIB error code; "Undefined Error!" outside 0 to 21.
const char* UI_DibErrorText(int code);

#endif  // TW_TWCL_UI_DIB_H_
