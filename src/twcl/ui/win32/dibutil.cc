#include "twcl/ui/dibutil.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "twcl/base/error.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

HGLOBAL G(UI_DibHandle h) {
  return static_cast<HGLOBAL>(h);
}

// A DIB locked for reading, checked against the size of its block.
class Locked {
 public:
  explicit Locked(UI_DibHandle h) : h_(G(h)) {
    if (!h_) return;
    p_ = static_cast<std::uint8_t*>(GlobalLock(h_));
    if (p_ && !UI_DibCheck(p_, GlobalSize(h_), &info_)) {
      GlobalUnlock(h_);
      p_ = nullptr;
    }
  }
  ~Locked() {
    if (p_) GlobalUnlock(h_);
  }
  Locked(const Locked&) = delete;
  explicit operator bool() const { return p_ != nullptr; }
  const UI_DibInfo& Info() const { return info_; }
  std::uint8_t* Data() const { return p_; }
  const BITMAPINFO* Header() const { return reinterpret_cast<const BITMAPINFO*>(p_); }
  std::uint8_t* Bits() const { return DIBBitsAddress(p_, GlobalSize(h_)); }

 private:
  HGLOBAL h_;
  std::uint8_t* p_ = nullptr;
  UI_DibInfo info_;
};

UI_DibHandle FromBytes(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return nullptr;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!p) {
    GlobalFree(h);
    return nullptr;
  }
  std::memcpy(p, bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
}

// A palette selected into a context for the time of a call and put back after it.
class PaletteIn {
 public:
  PaletteIn(HDC dc, void* palette, bool background) : dc_(dc) {
    if (!palette) return;
    old_ = SelectPalette(dc, static_cast<HPALETTE>(palette), background);
    RealizePalette(dc);
  }
  ~PaletteIn() {
    if (old_) SelectPalette(dc_, old_, TRUE);
  }
  PaletteIn(const PaletteIn&) = delete;

 private:
  HDC dc_;
  HPALETTE old_ = nullptr;
};

// The DIB of a bitmap at the given depth and compression.
UI_DibHandle DibOfBitmap(HBITMAP bitmap, unsigned bits, std::uint32_t compression, void* palette) {
  BITMAP bm;
  if (!bitmap || !GetObjectW(bitmap, sizeof bm, &bm) || bm.bmWidth < 1 || bm.bmHeight < 1)
    return nullptr;
  UI_DibHandle dib = AllocDIBForBitmap(bitmap, bits, compression);
  if (!dib) return nullptr;
  HDC screen = GetDC(nullptr);
  bool ok = false;
  {
    PaletteIn pal(screen, palette ? palette : GetStockObject(DEFAULT_PALETTE), TRUE);
    if (auto* p = static_cast<std::uint8_t*>(GlobalLock(G(dib)))) {
      auto* bi = reinterpret_cast<BITMAPINFO*>(p);
      std::uint64_t table =
          std::uint64_t(bi->bmiHeader.biClrUsed ? bi->bmiHeader.biClrUsed
                                                : UI_DibColorCount(false, bits, 0)) *
          4;
      std::uint64_t need = bi->bmiHeader.biSize + table + bi->bmiHeader.biSizeImage;
      ok = need <= GlobalSize(G(dib)) &&
           GetDIBits(screen, bitmap, 0, UINT(bm.bmHeight), p + bi->bmiHeader.biSize + table, bi,
                     DIB_RGB_COLORS) == bm.bmHeight;
      GlobalUnlock(G(dib));
    }
  }
  ReleaseDC(nullptr, screen);
  if (!ok) return ReleaseDIB(dib);
  // The driver may change an RLE image's size: what it wrote must still fit the block.
  if (!Locked(dib)) return ReleaseDIB(dib);
  return dib;
}

HBITMAP CopyArea(HDC source, int x, int y, int w, int h) {
  if (w < 1 || h < 1) return nullptr;
  HDC mem = CreateCompatibleDC(source);
  HBITMAP bmp = CreateCompatibleBitmap(source, w, h);
  if (!mem || !bmp) {
    if (bmp) DeleteObject(bmp);
    if (mem) DeleteDC(mem);
    return nullptr;
  }
  SetMapMode(mem, GetMapMode(source));
  HGDIOBJ old = SelectObject(mem, bmp);
  bool ok = BitBlt(mem, 0, 0, w, h, source, x, y, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  if (!ok) {
    DeleteObject(bmp);
    return nullptr;
  }
  return bmp;
}

}  // namespace

UI_DibHandle NewDIB(long width, long height, unsigned bits) {
  return FromBytes(UI_DibNew(width, height, bits));
}

namespace {
// A number read from a DIB's checked header; 0 for a handle that holds no DIB.
template <class F>
long Measure(UI_DibHandle dib, F f) {
  Locked l(dib);
  return l ? long(f(l.Info())) : 0;
}
}  // namespace

long DIBWidth(UI_DibHandle dib) {
  return Measure(dib, [](const UI_DibInfo& d) { return d.width; });
}
long DIBHeight(UI_DibHandle dib) {
  return Measure(dib, [](const UI_DibInfo& d) { return d.height; });
}
long DIBColorCount(UI_DibHandle dib) {
  return Measure(dib, [](const UI_DibInfo& d) { return d.colors; });
}
long DIBColorTableSize(UI_DibHandle dib) {
  return Measure(dib, [](const UI_DibInfo& d) { return d.table_bytes; });
}
long DIBBitCount(UI_DibHandle dib) {
  return Measure(dib, [](const UI_DibInfo& d) { return d.bits; });
}

void* PaletteFromDIB(UI_DibHandle dib) {
  Locked l(dib);
  if (!l || !l.Info().colors || l.Info().colors > 256) return nullptr;
  std::uint64_t n = l.Info().colors, entry = l.Info().core ? 3 : 4;
  std::vector<std::uint8_t> buf(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = WORD(n);
  const std::uint8_t* t = l.Data() + l.Info().header;
  for (std::uint64_t i = 0; i < n; ++i)  // blue, green, red in the table
    lp->palPalEntry[i] = PALETTEENTRY{t[i * entry + 2], t[i * entry + 1], t[i * entry], 0};
  return CreatePalette(lp);
}

void* BitmapFromDIB(UI_DibHandle dib, void* palette) {
  Locked l(dib);
  if (!l) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP b;
  {
    PaletteIn pal(screen, palette, FALSE);
    b = CreateDIBitmap(screen, &l.Header()->bmiHeader, CBM_INIT, l.Bits(), l.Header(),
                       DIB_RGB_COLORS);
  }
  ReleaseDC(nullptr, screen);
  return b;
}

UI_DibHandle DIBFromBitmap(void* bitmap, void* palette) {
  BITMAP bm;
  if (!bitmap || !GetObjectW(static_cast<HBITMAP>(bitmap), sizeof bm, &bm)) return nullptr;
  unsigned bits = UI_DibRoundBits(unsigned(bm.bmPlanes) * unsigned(bm.bmBitsPixel));
  return DibOfBitmap(static_cast<HBITMAP>(bitmap), bits, UI_DibRgb, palette);
}

int DeviceColorCount(void* dc) {
  int n = GetDeviceCaps(static_cast<HDC>(dc), SIZEPALETTE);
  return n ? n : GetDeviceCaps(static_cast<HDC>(dc), NUMCOLORS);
}

void* SystemPaletteFromScreen() {
  HDC screen = GetDC(nullptr);
  int n = DeviceColorCount(screen);
  HPALETTE p = nullptr;
  if (n > 0 && n <= 256 && (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE)) {
    std::vector<std::uint8_t> buf(sizeof(LOGPALETTE) + std::size_t(n) * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = WORD(n);
    GetSystemPaletteEntries(screen, 0, UINT(n), lp->palPalEntry);
    p = CreatePalette(lp);
  }
  ReleaseDC(nullptr, screen);
  return p;
}

UI_DibHandle AllocDIBForBitmap(void* bitmap, unsigned bits, std::uint32_t compression) {
  BITMAP bm;
  if (!bitmap || !GetObjectW(static_cast<HBITMAP>(bitmap), sizeof bm, &bm) || bm.bmWidth < 1 ||
      bm.bmHeight < 1)
    return nullptr;
  std::uint64_t table = UI_DibColorCount(false, bits, 0) * 4;
  BITMAPINFOHEADER h = {};
  h.biSize = sizeof h;
  h.biWidth = bm.bmWidth;
  h.biHeight = bm.bmHeight;
  h.biPlanes = 1;
  h.biBitCount = WORD(bits);
  h.biCompression = compression;
  // The first call only sizes the image; a driver that leaves the size 0 gets it computed.
  std::vector<std::uint8_t> head(sizeof h + table + 16 * 4);
  std::memcpy(head.data(), &h, sizeof h);
  HDC screen = GetDC(nullptr);
  int got = GetDIBits(screen, static_cast<HBITMAP>(bitmap), 0, UINT(bm.bmHeight), nullptr,
                      reinterpret_cast<BITMAPINFO*>(head.data()), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (!got) return nullptr;
  std::memcpy(&h, head.data(), sizeof h);
  h.biClrUsed = 0;
  h.biBitCount = WORD(bits);
  h.biCompression = compression;
  std::uint64_t computed = UI_DibRowBytes(h.biWidth, bits) * std::uint64_t(bm.bmHeight);
  if (compression == UI_DibRgb || h.biSizeImage == 0 || h.biSizeImage > computed * 2)
    h.biSizeImage = DWORD(computed);
  std::vector<std::uint8_t> block(sizeof h + table + h.biSizeImage, 0);
  std::memcpy(block.data(), &h, sizeof h);
  return FromBytes(block);
}

UI_DibHandle ConvertDIB(UI_DibHandle dib, unsigned bits, std::uint32_t compression) {
  unsigned to;
  {
    Locked l(dib);
    if (!l) return nullptr;
    to = UI_DibConversionBits(l.Info().bits, bits, compression);
  }
  if (!to) return nullptr;
  void* palette = PaletteFromDIB(dib);
  void* bitmap = BitmapFromDIB(dib, palette);
  UI_DibHandle out =
      bitmap ? DibOfBitmap(static_cast<HBITMAP>(bitmap), to, compression, palette) : nullptr;
  if (bitmap) DeleteObject(static_cast<HGDIOBJ>(bitmap));
  if (palette) DeleteObject(static_cast<HGDIOBJ>(palette));
  return out;
}

UI_DibHandle ConvertBitmapToDIB(void* bitmap, unsigned bits, std::uint32_t compression,
                                void* palette) {
  unsigned to = UI_BitmapConversionBits(bits, compression);
  return to ? DibOfBitmap(static_cast<HBITMAP>(bitmap), to, compression, palette) : nullptr;
}

UI_DibHandle ReadDIBFile(const char* name) {
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  UI_DibHandle dib = nullptr;
  CL_BinaryFile file(name ? name : "", CL_BinaryFile::kRead);
  if (!file.IsOpen())
    DIBError(19);
  else
    dib = ReadDIBFromOpenFile(file);
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
  return dib;
}

UI_DibHandle ReadDIBFromOpenFile(CL_BinaryFile& file) {
  CL_String name = file.FileName();
  // The same reading and checks as the picture reader's: nothing is allocated for, or read
  // past, what the file's own length allows.
  std::vector<std::uint8_t> bytes, dib;
  if (!UI_ReadBmpFileBytes(file, name.AsPtr(), &bytes)) return nullptr;
  if (!UI_DibFromBmp(bytes.data(), bytes.size(), name.AsPtr(), &dib)) return nullptr;
  return FromBytes(dib);
}

int SaveDIBFile(UI_DibHandle dib, const char* name) {
  if (!dib) return 20;
  std::vector<std::uint8_t> file;
  {
    auto* p = static_cast<std::uint8_t*>(GlobalLock(G(dib)));
    if (!p) return 3;
    int code = UI_BmpFromDib(p, GlobalSize(G(dib)), &file);
    GlobalUnlock(G(dib));
    if (code || file.empty()) return code;
  }
  // Written beside the target and renamed over it: a failed write leaves no half file.
  std::string tmp = std::string(name) + ".tmp";
  bool ok;
  {
    CL_BinaryFile out(tmp.c_str(), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
    ok = out.IsOpen() && WriteFileInChunks(out, file.data(), file.size());
  }
  if (!ok || std::rename(tmp.c_str(), name) != 0) {
    std::remove(tmp.c_str());
    return 4;
  }
  return 0;
}

UI_DibHandle ReleaseDIB(UI_DibHandle dib) {
  if (dib) GlobalFree(G(dib));
  return nullptr;
}

bool DIBToData(UI_DibHandle dib, UI_BitmapData* out) {
  std::vector<std::uint8_t> file;
  {
    Locked l(dib);
    if (!l || UI_BmpFromDib(l.Data(), GlobalSize(G(dib)), &file) != 0 || file.empty()) return false;
  }
  return out->ReadFromBytes(file.data(), file.size(), "DIB");
}

void* WindowToBitmap(void* window, int area) {
  HWND h = Hwnd(window);
  if (!h || !IsWindow(h)) return nullptr;
  RECT r;
  if (area == 1) {
    GetWindowRect(h, &r);
  } else if (area == 2) {
    GetClientRect(h, &r);
    MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&r), 2);
  } else {
    return nullptr;
  }
  UpdateWindow(h);
  return ScreenRectToBitmap(UI_Rectangle(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

namespace {
// The DIB of a bitmap copied from the screen, which goes with the bitmap.
UI_DibHandle ScreenDib(void* bitmap) {
  if (!bitmap) return nullptr;
  void* palette = SystemPaletteFromScreen();
  UI_DibHandle dib = DIBFromBitmap(bitmap, palette);
  if (palette) DeleteObject(static_cast<HGDIOBJ>(palette));
  DeleteObject(static_cast<HGDIOBJ>(bitmap));
  return dib;
}
}  // namespace

UI_DibHandle WindowToDIB(void* window, int area) {
  return ScreenDib(WindowToBitmap(window, area));
}

void* ScreenRectToBitmap(const UI_Rectangle& r) {
  if (r.Width() < 1 || r.Height() < 1) return nullptr;
  HDC screen = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  if (!screen) return nullptr;
  long x0 = std::max(r.Left(), 0L), y0 = std::max(r.Top(), 0L);
  long x1 = std::min(r.Left() + r.Width(), long(GetDeviceCaps(screen, HORZRES)));
  long y1 = std::min(r.Top() + r.Height(), long(GetDeviceCaps(screen, VERTRES)));
  HBITMAP b =
      x1 > x0 && y1 > y0 ? CopyArea(screen, int(x0), int(y0), int(x1 - x0), int(y1 - y0)) : nullptr;
  DeleteDC(screen);
  return b;
}

UI_DibHandle ScreenRectToDIB(const UI_Rectangle& r) {
  return ScreenDib(ScreenRectToBitmap(r));
}

bool BlitDIB(void* dc, const UI_Rectangle& dest, UI_DibHandle dib, const UI_Rectangle& src,
             void* palette) {
  Locked l(dib);
  HDC d = static_cast<HDC>(dc);
  if (!l || !d) return false;
  PaletteIn pal(d, palette, TRUE);
  SetStretchBltMode(d, COLORONCOLOR);
  long dib_height = long(l.Info().height < 0 ? -l.Info().height : l.Info().height);
  int sy = int(dib_height - src.Top() - src.Height());
  if (dest.Width() == src.Width() && dest.Height() == src.Height())
    return SetDIBitsToDevice(d, int(dest.Left()), int(dest.Top()), DWORD(dest.Width()),
                             DWORD(dest.Height()), int(src.Left()), sy, 0, UINT(dib_height),
                             l.Bits(), l.Header(), DIB_RGB_COLORS) != 0;
  return StretchDIBits(d, int(dest.Left()), int(dest.Top()), int(dest.Width()), int(dest.Height()),
                       int(src.Left()), sy, int(src.Width()), int(src.Height()), l.Bits(),
                       l.Header(), DIB_RGB_COLORS, SRCCOPY) != 0;
}

bool BlitBitmap(void* dc, const UI_Rectangle& dest, void* bitmap, const UI_Rectangle& src,
                void* palette) {
  HDC d = static_cast<HDC>(dc);
  if (!d || !bitmap) return false;
  HDC mem = CreateCompatibleDC(d);
  if (!mem) return false;
  HGDIOBJ old = SelectObject(mem, static_cast<HGDIOBJ>(bitmap));
  bool ok;
  {
    PaletteIn p1(d, palette, TRUE), p2(mem, palette, TRUE);
    SetStretchBltMode(d, COLORONCOLOR);
    if (dest.Width() == src.Width() && dest.Height() == src.Height())
      ok = BitBlt(d, int(dest.Left()), int(dest.Top()), int(dest.Width()), int(dest.Height()), mem,
                  int(src.Left()), int(src.Top()), SRCCOPY);
    else
      ok = StretchBlt(d, int(dest.Left()), int(dest.Top()), int(dest.Width()), int(dest.Height()),
                      mem, int(src.Left()), int(src.Top()), int(src.Width()), int(src.Height()),
                      SRCCOPY);
  }
  SelectObject(mem, old);
  DeleteDC(mem);
  return ok;
}

void DIBError(int code) {
  CL_Error::Warning("%s", UI_DibErrorText(code));
}
