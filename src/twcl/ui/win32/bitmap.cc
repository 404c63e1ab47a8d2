#include "twcl/ui/bitmap.h"

#include <cstring>

#include "twcl/base/error.h"
#include "twcl/ui/dibutil.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

// The system bitmaps by name, with their published numbers.
struct SystemBitmap {
  const char* name;
  int id;
};
constexpr SystemBitmap kSystemBitmaps[] = {
    {"+OBM_CLOSE", 32754},    {"+OBM_UPARROW", 32753},  {"+OBM_DNARROW", 32752},
    {"+OBM_RGARROW", 32751},  {"+OBM_LFARROW", 32750},  {"+OBM_REDUCE", 32749},
    {"+OBM_ZOOM", 32748},     {"+OBM_RESTORE", 32747},  {"+OBM_REDUCED", 32746},
    {"+OBM_ZOOMD", 32745},    {"+OBM_RESTORED", 32744}, {"+OBM_UPARROWD", 32743},
    {"+OBM_DNARROWD", 32742}, {"+OBM_RGARROWD", 32741}, {"+OBM_LFARROWD", 32740},
    {"+OBM_MNARROW", 32739},  {"+OBM_COMBO", 32738},    {"+OBM_UPARROWI", 32737},
    {"+OBM_DNARROWI", 32736}, {"+OBM_RGARROWI", 32735}, {"+OBM_LFARROWI", 32734},
};

void Delete(void*& h) {
  if (h) DeleteObject(static_cast<HGDIOBJ>(h));
  h = nullptr;
}

}  // namespace

// --- UI_Bitmap

UI_Bitmap::~UI_Bitmap() {
  Release();
}

const char* UI_Bitmap::ClassName() const {
  return "UI_GraphicObject";
}

void UI_Bitmap::Release() {
  Delete(bitmap_);
  Delete(palette_);
  dib_ = ReleaseDIB(dib_);
  width_ = height_ = bits_ = 0;
}

bool UI_Bitmap::BuildFrom(const char* name) {
  if (!name) name = "";
  if (name[0] == '+') {
    Release();
    for (const auto& s : kSystemBitmaps) {
      if (std::strcmp(s.name, name) != 0) continue;
      HBITMAP b = LoadBitmapW(nullptr, MAKEINTRESOURCEW(s.id));
      if (b) {
        BITMAP bm;
        GetObjectW(b, sizeof bm, &bm);
        bitmap_ = b;
        dib_ = DIBFromBitmap(b, nullptr);
        width_ = bm.bmWidth;
        height_ = bm.bmHeight;
        bits_ = DIBBitCount(dib_);
      }
      break;
    }
    Notify();
    return true;
  }
  if (!CL_BinaryFile::Exists(name, CL_BinaryFile::kRead)) {
    CL_Error::Warning("UI_Bitmap::BuildFrom: cannot read file '%s'", name);
    return false;
  }
  UI_DibHandle dib = ReadDIBFile(name);
  if (!dib) return false;
  long bits = DIBBitCount(dib);
  void* palette = bits >= 8 ? PaletteFromDIB(dib) : nullptr;
  void* bitmap = BitmapFromDIB(dib, palette);
  if (!bitmap) {
    if (palette) DeleteObject(static_cast<HGDIOBJ>(palette));
    ReleaseDIB(dib);
    CL_Error::Warning("UI_Bitmap::BuildFrom: '%s': %s", name, UI_DibErrorText(7));
    return false;
  }
  Release();
  bitmap_ = bitmap;
  palette_ = palette;
  dib_ = dib;
  width_ = DIBWidth(dib);
  height_ = DIBHeight(dib);
  bits_ = bits;
  Notify();
  return true;
}

bool UI_Bitmap::BuildFrom(const UI_BitmapData& data, UI_DrawingSurface* surface) {
  std::vector<std::uint8_t> file = data.ToBmp(), packed;
  if (file.empty() || !UI_DibFromBmp(file.data(), file.size(), "UI_BitmapData", &packed)) {
    CL_Error::Warning("UI_Bitmap::BuildFrom: not a picture a bitmap can hold");
    return false;
  }
  HDC dc = surface ? static_cast<HDC>(surface->NativeHandle())
                   : CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  if (!dc) return false;
  auto* info = reinterpret_cast<const BITMAPINFO*>(packed.data());
  UI_DibInfo d;
  if (!UI_DibCheck(packed.data(), packed.size(), &d)) return false;
  HBITMAP b = CreateDIBitmap(dc, &info->bmiHeader, CBM_INIT,
                             packed.data() + d.header + d.table_bytes, info, DIB_RGB_COLORS);
  if (!surface) DeleteDC(dc);
  if (!b) return false;
  HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, packed.size());
  void* p = kept ? GlobalLock(kept) : nullptr;
  if (!p) {
    if (kept) GlobalFree(kept);
    DeleteObject(b);
    return false;
  }
  std::memcpy(p, packed.data(), packed.size());
  GlobalUnlock(kept);
  Release();
  bitmap_ = b;
  dib_ = kept;
  width_ = data.Width();
  height_ = data.Height();
  bits_ = data.BitCount();
  Notify();
  return true;
}

bool UI_Bitmap::CopyFrom(UI_DrawingSurface& surface, const UI_Rectangle& r) {
  HDC src = static_cast<HDC>(surface.NativeHandle());
  if (!src || r.Width() < 1 || r.Height() < 1) return false;
  HDC mem = CreateCompatibleDC(src);
  HBITMAP b = CreateCompatibleBitmap(src, int(r.Width()), int(r.Height()));
  bool ok = mem && b;
  if (ok) {
    SetMapMode(mem, GetMapMode(src));
    HGDIOBJ old = SelectObject(mem, b);
    ok = BitBlt(mem, 0, 0, int(r.Width()), int(r.Height()), src, int(r.Left()), int(r.Top()),
                SRCCOPY);
    SelectObject(mem, old);
  }
  if (mem) DeleteDC(mem);
  UI_DibHandle dib = ok ? DIBFromBitmap(b, nullptr) : nullptr;
  if (!dib) {
    if (b) DeleteObject(b);
    return false;
  }
  Release();
  bitmap_ = b;
  dib_ = dib;
  width_ = r.Width();
  height_ = r.Height();
  bits_ = DIBBitCount(dib);
  Notify();
  return true;
}

bool UI_Bitmap::DrawOn(UI_DrawingSurface& s, const UI_Point& at) const {
  return s.DrawBitmap(*this, at);
}

bool UI_Bitmap::DrawOn(UI_DrawingSurface& s, const std::vector<std::uint8_t>& mask,
                       const UI_Point& at) const {
  return s.DrawBitmap(*this, mask, at);
}

bool UI_Bitmap::ToData(UI_BitmapData* out) const {
  return dib_ && DIBToData(dib_, out);
}

// --- UI_BitmapSurface

ui_detail::MemoryContext::MemoryContext(long w, long h)
    : width(w < 0 ? 0 : w), height(h < 0 ? 0 : h) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP b = mem ? CreateCompatibleBitmap(screen, int(width ? width : 1), int(height ? height : 1))
                  : nullptr;
  ReleaseDC(nullptr, screen);
  if (!b) {
    if (mem) DeleteDC(mem);
    CL_Error::Warning("UI_BitmapSurface: cannot make a %ldx%ld picture", w, h);
    return;
  }
  old = SelectObject(mem, b);
  PatBlt(mem, 0, 0, int(width), int(height), WHITENESS);
  dc = mem;
  bitmap = b;
}

ui_detail::MemoryContext::~MemoryContext() {
  if (!dc) return;
  SelectObject(static_cast<HDC>(dc), static_cast<HGDIOBJ>(old));
  DeleteDC(static_cast<HDC>(dc));
  DeleteObject(static_cast<HGDIOBJ>(bitmap));
}

UI_BitmapSurface::UI_BitmapSurface(long w, long h)
    : MemoryContext(w, h), UI_DrawingSurface(MemoryContext::dc, true) {
  HDC screen = GetDC(nullptr);
  if (screen) {
    ppi_x_ = GetDeviceCaps(screen, LOGPIXELSX);
    ppi_y_ = GetDeviceCaps(screen, LOGPIXELSY);
    horz_ppmm_ = long(ppi_x_ * 1000 / 25.4);
    vert_ppmm_ = long(ppi_y_ * 1000 / 25.4);
    ReleaseDC(nullptr, screen);
  }
}

const char* UI_BitmapSurface::ClassName() const {
  return "UI_BitmapSurface";
}

UI_Rectangle UI_BitmapSurface::DrawingAreaInInches() const {
  return UI_Rectangle(0, 0, ppi_x_ ? width / ppi_x_ : 0, ppi_y_ ? height / ppi_y_ : 0);
}

bool UI_BitmapSurface::CopyTo(UI_DrawingSurface& target) const {
  UI_Rectangle a = target.DrawingArea();
  return CopyTo(target, UI_Rectangle(0, 0, a.Width(), a.Height()));
}

bool UI_BitmapSurface::CopyTo(UI_DrawingSurface& target, const UI_Rectangle& area) const {
  HDC t = static_cast<HDC>(target.NativeHandle());
  if (!dc || !t) return false;
  return BitBlt(t, int(area.Left()), int(area.Top()), int(area.Width()), int(area.Height()),
                static_cast<HDC>(dc), 0, 0, SRCCOPY);
}
