#include "twcl/ui/dib.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "twcl/base/binary_file.h"
#include "twcl/ui/bitmap_data.h"

namespace {

constexpr std::uint32_t kFileHeader = 14, kCoreHeader = 12, kInfoHeader = 40;
// Blocks larger than this are not pictures this library keeps.
constexpr std::uint64_t kMaxBlock = std::uint64_t(1) << 30;

std::uint32_t U16(const std::uint8_t* p) {
  return p[0] | p[1] << 8;
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
void Set16(std::uint8_t* p, std::uint32_t v) {
  p[0] = v & 0xff;
  p[1] = v >> 8 & 0xff;
}
void Set32(std::uint8_t* p, std::uint32_t v) {
  Set16(p, v & 0xffff);
  Set16(p + 2, v >> 16);
}

bool KnownBits(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

unsigned UI_DibRoundBits(unsigned bits) {
  if (bits <= 1) return 1;
  if (bits <= 4) return 4;
  if (bits <= 8) return 8;
  return 24;
}

std::uint64_t UI_DibRowBytes(std::int64_t width, unsigned bits) {
  return UI_BitmapData::RowBytes(std::uint64_t(width < 0 ? -width : width), bits);
}

std::uint64_t UI_DibColorCount(bool core, unsigned bits, std::uint64_t colors_used) {
  if (!core && colors_used) return colors_used;
  switch (bits) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

bool UI_DibCheck(const std::uint8_t* p, std::size_t n, UI_DibInfo* out) {
  if (!p || n < 4 || n > kMaxBlock) return false;
  UI_DibInfo d;
  d.header = U32(p);
  d.core = d.header == kCoreHeader;
  if ((!d.core && d.header < kInfoHeader) || d.header > n) return false;
  std::uint64_t colors_used = 0;
  if (d.core) {
    d.width = U16(p + 4);
    d.height = U16(p + 6);
    if (U16(p + 8) != 1) return false;
    d.bits = U16(p + 10);
  } else {
    d.width = std::int32_t(U32(p + 4));
    d.height = std::int32_t(U32(p + 8));
    if (U16(p + 12) != 1) return false;
    d.bits = U16(p + 14);
    d.compression = U32(p + 16);
    colors_used = U32(p + 32);
  }
  if (d.width < 1 || d.height == 0 || !KnownBits(d.bits)) return false;
  if (d.bits <= 8 && colors_used > (std::uint64_t(1) << d.bits)) return false;
  d.colors = UI_DibColorCount(d.core, d.bits, colors_used);
  if (d.colors > 65536) return false;
  d.table_bytes = d.colors * (d.core ? 3 : 4);
  std::uint64_t rows = std::uint64_t(d.height < 0 ? -d.height : d.height);
  switch (d.compression) {
    case UI_DibRgb:
      d.image_bytes = UI_DibRowBytes(d.width, d.bits) * rows;
      break;
    case UI_DibRle8:
    case UI_DibRle4:
      if (d.bits != (d.compression == UI_DibRle8 ? 8u : 4u) || d.height < 0) return false;
      d.image_bytes = U32(p + 20);
      break;
    default:
      return false;
  }
  if (std::uint64_t(d.header) + d.table_bytes + d.image_bytes > n) return false;
  *out = d;
  return true;
}

std::vector<std::uint8_t> UI_DibNew(std::int64_t width, std::int64_t height, unsigned bits) {
  bits = UI_DibRoundBits(bits);
  if (width < 1 || height < 1 || width > 32767 || height > 32767) return {};
  std::uint64_t table = UI_DibColorCount(false, bits, 0) * 4;
  std::uint64_t size = kInfoHeader + table + UI_DibRowBytes(width, bits) * std::uint64_t(height);
  std::vector<std::uint8_t> out(size, 0);
  Set32(out.data(), kInfoHeader);
  Set32(out.data() + 4, std::uint32_t(width));
  Set32(out.data() + 8, std::uint32_t(height));
  Set16(out.data() + 12, 1);
  Set16(out.data() + 14, bits);
  return out;
}

unsigned UI_DibConversionBits(unsigned source_bits, unsigned bits, std::uint32_t compression) {
  if (bits == 0) {
    if (compression == UI_DibRgb) return source_bits;
    if (compression == UI_DibRle4 && source_bits == 4) return 4;
    if (compression == UI_DibRle8 && source_bits == 8) return 8;
    return 0;
  }
  return UI_BitmapConversionBits(bits, compression);
}

unsigned UI_BitmapConversionBits(unsigned bits, std::uint32_t compression) {
  switch (bits) {
    case 0:
      return compression == UI_DibRle4 ? 4 : compression == UI_DibRle8 ? 8 : 0;
    case 1:
    case 24:
      return compression == UI_DibRgb ? bits : 0;
    case 4:
      return compression == UI_DibRgb || compression == UI_DibRle4 ? 4 : 0;
    case 8:
      return compression == UI_DibRgb || compression == UI_DibRle8 ? 8 : 0;
    default:
      return 0;
  }
}

bool UI_DibFromBmp(const std::uint8_t* data, std::size_t size, const char* name,
                   std::vector<std::uint8_t>* out) {
  UI_BmpLayout l;
  if (!UI_CheckBmp(data, size, name, &l)) return false;
  std::uint64_t image = l.row * std::uint64_t(l.height);
  std::vector<std::uint8_t> dib(kInfoHeader + l.colors * 4 + image, 0);
  std::uint8_t* h = dib.data();
  Set32(h, kInfoHeader);
  Set32(h + 4, std::uint32_t(l.width));
  Set32(h + 8, std::uint32_t(l.height));
  Set16(h + 12, 1);
  Set16(h + 14, l.bits);
  Set32(h + 20, std::uint32_t(image));
  if (!l.core) std::memcpy(h + 24, data + kFileHeader + 24, 8);  // resolution as filed
  Set32(h + 32, l.bits <= 8 ? std::uint32_t(l.colors) : 0);
  std::uint8_t* table = h + kInfoHeader;
  for (std::uint64_t i = 0; i < l.colors; ++i)
    std::memcpy(table + i * 4, data + l.table_at + i * l.entry, 3);
  std::memcpy(table + l.colors * 4, data + l.bits_offset, image);
  *out = std::move(dib);
  return true;
}

int UI_BmpFromDib(const std::uint8_t* p, std::size_t n, std::vector<std::uint8_t>* out) {
  out->clear();
  UI_DibInfo d;
  if (!UI_DibCheck(p, n, &d)) return 20;
  if (d.header != kInfoHeader) return 0;
  std::uint64_t block = kInfoHeader + d.table_bytes + d.image_bytes;
  std::vector<std::uint8_t> file(kFileHeader + block);
  file[0] = 'B';
  file[1] = 'M';
  Set32(file.data() + 2, std::uint32_t(file.size()));
  Set32(file.data() + 10, std::uint32_t(kFileHeader + kInfoHeader + d.table_bytes));
  std::memcpy(file.data() + kFileHeader, p, block);
  if (d.compression == UI_DibRgb)
    Set32(file.data() + kFileHeader + 20, std::uint32_t(d.image_bytes));
  *out = std::move(file);
  return 0;
}

const char* UI_DibErrorText(int code) {
  static const char* const kTexts[] = {
      "Not a Windows DIB file!",
      "Couldn't allocate memory!",
      "Error reading file!",
      "Error locking memory!",
      "Error opening file!",
      "Error creating palette!",
      "Error getting a DC!",
      "Error creating Device Dependent Bitmap",
      "StretchBlt() failed!",
      "StretchDIBits() failed!",
      "SetDIBitsToDevice() failed!",
      "Printer: StartDoc failed!",
      "Printing: GetModuleHandle() couldn't find GDI!",
      "Printer: SetAbortProc failed!",
      "Printer: StartPage failed!",
      "Printer: NEWFRAME failed!",
      "Printer: EndPage failed!",
      "Printer: EndDoc failed!",
      "SetDIBits() failed!",
      "File Not Found!",
      "Invalid Handle",
      "General Error on call to DIB function",
  };
  if (code < 0 || code >= int(sizeof kTexts / sizeof kTexts[0])) return "Undefined Error!";
  return kTexts[code];
}

const std::uint8_t* DIBBitsAddress(const std::uint8_t* p, std::size_t n) {
  UI_DibInfo d;
  if (!p || !UI_DibCheck(p, n, &d)) return nullptr;
  return p + d.header + d.table_bytes;
}

std::uint8_t* DIBBitsAddress(std::uint8_t* p, std::size_t n) {
  return const_cast<std::uint8_t*>(DIBBitsAddress(static_cast<const std::uint8_t*>(p), n));
}

namespace {
// A file's single read or write is limited to what a 16-bit signed count holds.
constexpr std::uint64_t kChunk = 32767;
}  // namespace

bool ReadFileInChunks(CL_BinaryFile& file, void* buffer, std::uint64_t n) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  for (std::uint64_t done = 0; done < n;) {
    CL_Long piece = CL_Long(std::min(kChunk, n - done));
    if (file.Read(p + done, piece) != piece) return false;
    done += std::uint64_t(piece);
  }
  return true;
}

bool WriteFileInChunks(CL_BinaryFile& file, const void* buffer, std::uint64_t n) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  for (std::uint64_t done = 0; done < n;) {
    CL_Long piece = CL_Long(std::min(kChunk, n - done));
    if (!file.Write(p + done, piece)) return false;
    done += std::uint64_t(piece);
  }
  return true;
}
