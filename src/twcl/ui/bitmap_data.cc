#include "twcl/ui/bitmap_data.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "twcl/base/binary_file.h"
#include "twcl/base/error.h"
#include "twcl/base/string.h"
#include "twcl/ui/dib.h"

namespace {

// Files larger than this are not pictures this library shows.
constexpr std::uint64_t kMaxFileBytes = 256u << 20;
constexpr std::uint32_t kFileHeader = 14, kCoreHeader = 12, kInfoHeader = 40;

std::uint32_t U16(const std::uint8_t* p) {
  return p[0] | p[1] << 8;
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(x & 0xff);
  v.push_back(x >> 8 & 0xff);
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xffff);
  Put16(v, x >> 16);
}

bool Invalid(const char* name, const char* why) {
  CL_Error::Warning("UI_Bitmap::ReadFrom: Invalid bitmap file '%s': %s", name, why);
  return false;
}

bool SupportedBits(unsigned bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 24;
}

}  // namespace

std::uint64_t UI_BitmapData::RowBytes(std::uint64_t width, unsigned bits) {
  return (width * bits + 31) / 32 * 4;
}

UI_BitmapData::UI_BitmapData(short width, short height, short bits, short colors,
                             const std::uint8_t* table, const std::uint32_t* pixels)
    : width_(width), height_(height), bits_(bits), colors_(colors) {
  if (table && colors > 0) table_.assign(table, table + std::size_t(colors) * 3);
  if (pixels && width > 0 && height > 0)
    pixels_.assign(pixels, pixels + std::size_t(width) * height);
}

bool UI_ReadBmpFileBytes(const char* path, std::vector<std::uint8_t>* out) {
  CL_BinaryFile file(path, CL_BinaryFile::kRead);
  CL_String err = file.ErrorString();
  if (!file.IsOpen()) {
    CL_Error::Warning("UI_Bitmap::ReadFrom: Invalid bitmap file '%s': %s", path, err.AsPtr());
    return false;
  }
  return UI_ReadBmpFileBytes(file, path, out);
}

bool UI_ReadBmpFileBytes(CL_BinaryFile& file, const char* name, std::vector<std::uint8_t>* out) {
  CL_Long size = file.Size();
  if (size < 0 || std::uint64_t(size) > kMaxFileBytes) return Invalid(name, "file too large");
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size && !(file.SeekTo(0) && ReadFileInChunks(file, bytes.data(), std::uint64_t(size)))) {
    CL_Error::Warning("UI_BitmapData::ReadData: read of bits failed: %s",
                      file.ErrorString().AsPtr());
    return false;
  }
  *out = std::move(bytes);
  return true;
}

bool UI_BitmapData::ReadFrom(const char* path) {
  std::vector<std::uint8_t> bytes;
  return UI_ReadBmpFileBytes(path, &bytes) && ReadFromBytes(bytes.data(), bytes.size(), path);
}

bool UI_CheckBmp(const std::uint8_t* data, std::size_t size, const char* name, UI_BmpLayout* out) {
  if (size < kFileHeader) {
    CL_Error::Warning("UI_Bitmap::ReadFrom: Read failed on header: %s", name);
    return false;
  }
  if (data[0] != 'B' || data[1] != 'M') return Invalid(name, "not a BMP file");
  std::uint64_t bits_offset = U32(data + 10);
  if (size < kFileHeader + 4) {
    CL_Error::Warning("UI_Bitmap::ReadFrom: Read failed on info: %s", name);
    return false;
  }
  const std::uint8_t* h = data + kFileHeader;
  std::uint32_t header = U32(h);
  bool core = header == kCoreHeader;
  if (!core && header < kInfoHeader) return Invalid(name, "unknown header size");
  if (std::uint64_t(kFileHeader) + header > size) {
    CL_Error::Warning("UI_Bitmap::ReadFrom: Read failed on info: %s", name);
    return false;
  }
  std::int64_t width, height;
  unsigned bits, planes;
  std::uint64_t colors_used = 0;
  if (core) {
    width = std::int16_t(U16(h + 4));
    height = std::int16_t(U16(h + 6));
    planes = U16(h + 8);
    bits = U16(h + 10);
  } else {
    width = std::int32_t(U32(h + 4));
    height = std::int32_t(U32(h + 8));
    planes = U16(h + 12);
    bits = U16(h + 14);
    if (U32(h + 16) != 0) {
      CL_Error::Warning("UI_Bitmap::ReadFrom: File %s: TWCL doesn't support RLE compression", name);
      return false;
    }
    colors_used = U32(h + 32);
  }
  // The picture's numbers are 16-bit fields of this class; top-down files (negative
  // height) are not a form this reader knows.
  if (width < 1 || width > 32767 || height < 1 || height > 32767)
    return Invalid(name, "bad width or height");
  if (planes != 1 || !SupportedBits(bits)) return Invalid(name, "unsupported bit count");
  std::uint64_t colors = 0;
  if (bits <= 8) {
    std::uint64_t full = std::uint64_t(1) << bits;
    if (colors_used > full) return Invalid(name, "bad colour count");
    colors = colors_used ? colors_used : full;
  }
  std::uint64_t entry = core ? 3 : 4;
  std::uint64_t table_at = kFileHeader + std::uint64_t(header);
  if (table_at + colors * entry > size) {
    CL_Error::Warning("UI_BitmapData::ReadData: Read failed on color table: %s", "file too short");
    return false;
  }
  if (bits_offset == 0) bits_offset = table_at + colors * entry;
  if (bits_offset < table_at + colors * entry || bits_offset > size) {
    CL_Error::Warning("UI_Bitmap::ReadFrom: seek to %ld failed: %s", long(bits_offset),
                      "offset outside the file");
    return false;
  }
  std::uint64_t row = UI_BitmapData::RowBytes(std::uint64_t(width), bits);
  if (row * std::uint64_t(height) > size - bits_offset) {
    CL_Error::Warning("UI_BitmapData::ReadData: read of bits failed: %s", "file too short");
    return false;
  }
  *out = UI_BmpLayout{header, core, width, height, bits, colors, table_at, entry, bits_offset, row};
  return true;
}

bool UI_BitmapData::ReadFromBytes(const std::uint8_t* data, std::size_t size, const char* name) {
  UI_BmpLayout l;
  if (!UI_CheckBmp(data, size, name, &l)) return false;
  std::int64_t width = l.width, height = l.height;
  unsigned bits = l.bits;
  std::uint64_t colors = l.colors, entry = l.entry, table_at = l.table_at,
                bits_offset = l.bits_offset, row = l.row;
  std::vector<std::uint8_t> table(colors * 3);
  for (std::uint64_t i = 0; i < colors; ++i) {
    const std::uint8_t* e = data + table_at + i * entry;  // blue, green, red
    table[i * 3] = e[2];
    table[i * 3 + 1] = e[1];
    table[i * 3 + 2] = e[0];
  }
  std::vector<std::uint32_t> pixels(std::size_t(width) * std::size_t(height));
  for (std::int64_t y = 0; y < height; ++y) {
    const std::uint8_t* r = data + bits_offset + std::uint64_t(y) * row;  // bottom row first
    std::uint32_t* out = pixels.data() + std::size_t(height - 1 - y) * std::size_t(width);
    for (std::int64_t x = 0; x < width; ++x) {
      if (bits == 24) {
        const std::uint8_t* p = r + x * 3;
        out[x] = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
      } else {
        std::uint64_t bit = std::uint64_t(x) * bits;
        unsigned shift = 8 - bits - unsigned(bit % 8);
        out[x] = (r[bit / 8] >> shift) & ((1u << bits) - 1);
      }
    }
  }
  width_ = short(width);
  height_ = short(height);
  bits_ = short(bits);
  colors_ = short(colors);
  table_ = std::move(table);
  pixels_ = std::move(pixels);
  return true;
}

std::vector<std::uint8_t> UI_BitmapData::ToBmp(bool core_header) const {
  std::vector<std::uint8_t> out;
  if (width_ < 1 || height_ < 1 || !SupportedBits(unsigned(bits_)) ||
      pixels_.size() != std::size_t(width_) * std::size_t(height_))
    return out;
  unsigned bits = unsigned(bits_);
  std::uint64_t colors = bits <= 8 ? std::uint64_t(1) << bits : 0;
  std::uint64_t entry = core_header ? 3 : 4;
  std::uint32_t header = core_header ? kCoreHeader : kInfoHeader;
  std::uint64_t row = RowBytes(std::uint64_t(width_), bits);
  std::uint64_t image = row * std::uint64_t(height_);
  std::uint64_t offset = kFileHeader + header + colors * entry;
  out.reserve(offset + image);
  out.push_back('B');
  out.push_back('M');
  Put32(out, std::uint32_t(offset + image));
  Put32(out, 0);
  Put32(out, std::uint32_t(offset));
  Put32(out, header);
  if (core_header) {
    Put16(out, std::uint32_t(width_));
    Put16(out, std::uint32_t(height_));
    Put16(out, 1);
    Put16(out, bits);
  } else {
    Put32(out, std::uint32_t(width_));
    Put32(out, std::uint32_t(height_));
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, 0);  // uncompressed
    Put32(out, std::uint32_t(image));
    Put32(out, 2835);  // 72 dots per inch
    Put32(out, 2835);
    Put32(out, std::uint32_t(colors));
    Put32(out, 0);
  }
  for (std::uint64_t i = 0; i < colors; ++i) {
    std::uint8_t r = 0, g = 0, b = 0;
    if (i < std::uint64_t(colors_ > 0 ? colors_ : 0) && i * 3 + 2 < table_.size()) {
      r = table_[i * 3];
      g = table_[i * 3 + 1];
      b = table_[i * 3 + 2];
    }
    out.push_back(b);
    out.push_back(g);
    out.push_back(r);
    if (!core_header) out.push_back(0);
  }
  std::size_t rows_at = out.size();
  out.resize(rows_at + image, 0);
  for (std::int64_t y = 0; y < height_; ++y) {
    std::uint8_t* r = out.data() + rows_at + std::uint64_t(height_ - 1 - y) * row;
    const std::uint32_t* in = pixels_.data() + std::size_t(y) * std::size_t(width_);
    for (std::int64_t x = 0; x < width_; ++x) {
      if (bits == 24) {
        r[x * 3] = in[x] >> 16 & 0xff;
        r[x * 3 + 1] = in[x] >> 8 & 0xff;
        r[x * 3 + 2] = in[x] & 0xff;
      } else {
        std::uint64_t bit = std::uint64_t(x) * bits;
        unsigned shift = 8 - bits - unsigned(bit % 8);
        r[bit / 8] |= std::uint8_t((in[x] & ((1u << bits) - 1)) << shift);
      }
    }
  }
  return out;
}

bool UI_BitmapData::WriteTo(const char* path, bool core_header) const {
  std::vector<std::uint8_t> bytes = ToBmp(core_header);
  if (bytes.empty()) {
    CL_Error::Warning("UI_BitmapData::WriteTo: '%s': not a picture a BMP file can hold", path);
    return false;
  }
  // Written beside the target and renamed over it, so that a failed write leaves no
  // half-written picture under the name.
  std::string tmp = std::string(path) + ".tmp";
  {
    CL_BinaryFile file(tmp.c_str(), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
    if (!file.IsOpen() || !file.Write(bytes.data(), CL_Long(bytes.size()))) {
      CL_Error::Warning("UI_BitmapData::WriteTo: cannot write '%s': %s", path,
                        file.ErrorString().AsPtr());
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path) != 0) {
    CL_Error::Warning("UI_BitmapData::WriteTo: cannot write '%s': %s", path, std::strerror(errno));
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}
