#include "twcl/ui/graphics.h"

#include <cmath>
#include <map>

#include "twcl/base/error.h"
#include "twcl/ui/win32/native.h"

// The Win32 headers make DrawText a macro; here it is the surface's member.
#undef DrawText

using namespace twui;

namespace {
HDC Dc(void* d) { return static_cast<HDC>(d); }

// End points of an arc on its bounding box, 1/64 degree angles, y taken upward.
POINT ArcPoint(const UI_Rectangle& b, long angle64) {
  double t = UI_DegreesToRadians(double(angle64 / 64));
  long cx = b.Left() + b.Width() / 2, cy = b.Top() + b.Height() / 2;
  double a = b.Width() / 2, h = b.Height() / 2;
  return POINT{LONG(std::trunc(cx + a * std::cos(t))), LONG(std::trunc(cy - h * std::sin(t)))};
}
}  // namespace

// A paint context starts with a black pen, a white brush and the system font, as the
// surface's own objects say.
UI_DrawingSurface::UI_DrawingSurface(void* device_context)
    : dc_(device_context),
      pen_(std::make_unique<UI_Pen>(this, 1, UI_Color(0), 1)),
      brush_(std::make_unique<UI_Brush>(this, UI_Color(4), 2)),
      font_(std::make_unique<UI_Font>(this)) {}

// The objects deselect themselves before they go.
UI_DrawingSurface::~UI_DrawingSurface() = default;

bool UI_DrawingSurface::SaveAttributes() {
  if (!dc_) return false;
  saved_.push_back({pen_->Descriptor(), brush_->Descriptor(), font_->Descriptor()});
  return true;
}

bool UI_DrawingSurface::RestoreAttributes() {
  if (!dc_ || saved_.empty()) return false;
  SurfaceAttributes a = saved_.back();
  saved_.pop_back();
  *pen_ = a.pen;
  *brush_ = a.brush;
  if (a.font.TypeFace().Size() && UI_FontDesc(a.font).Compare(font_->Descriptor()) != 0)
    *font_ = a.font;
  return true;
}

bool UI_DrawingSurface::DrawPoint(const UI_Point& p) {
  return SetPixel(Dc(dc_), int(p.XCoord()), int(p.YCoord()), GetTextColor(Dc(dc_))) != CLR_INVALID;
}

bool UI_DrawingSurface::DrawLine(const UI_Point& a, const UI_Point& b) {
  MoveToEx(Dc(dc_), int(a.XCoord()), int(a.YCoord()), nullptr);
  return LineTo(Dc(dc_), int(b.XCoord()), int(b.YCoord()));
}

namespace {
// Outline mode draws with a hollow brush; fill mode with the brush in use.
struct Mode {
  Mode(HDC dc, int mode) : dc_(dc) {
    if (mode == 1) old_ = SelectObject(dc, GetStockObject(NULL_BRUSH));
  }
  ~Mode() {
    if (old_) SelectObject(dc_, old_);
  }
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};
}  // namespace

bool UI_DrawingSurface::DrawRectangle(const UI_Rectangle& r, int mode) {
  Mode m(Dc(dc_), mode);
  return Rectangle(Dc(dc_), int(r.Left()), int(r.Top()), int(r.Left() + r.Width()), int(r.Top() + r.Height()));
}

bool UI_DrawingSurface::DrawEllipse(const UI_Rectangle& r, int mode) {
  Mode m(Dc(dc_), mode);
  return Ellipse(Dc(dc_), int(r.Left()), int(r.Top()), int(r.Left() + r.Width()), int(r.Top() + r.Height()));
}

bool UI_DrawingSurface::DrawArc(const UI_Rectangle& r, long start, long subtended) {
  POINT a = ArcPoint(r, start), b = ArcPoint(r, start + subtended);
  return Arc(Dc(dc_), int(r.Left()), int(r.Top()), int(r.Left() + r.Width()), int(r.Top() + r.Height()),
             a.x, a.y, b.x, b.y);
}

bool UI_DrawingSurface::DrawChord(const UI_Rectangle& r, long start, long subtended, int mode) {
  Mode m(Dc(dc_), mode);
  POINT a = ArcPoint(r, start), b = ArcPoint(r, start + subtended);
  return Chord(Dc(dc_), int(r.Left()), int(r.Top()), int(r.Left() + r.Width()), int(r.Top() + r.Height()),
               a.x, a.y, b.x, b.y);
}

bool UI_DrawingSurface::DrawPieWedge(const UI_Rectangle& r, long start, long subtended, int mode) {
  Mode m(Dc(dc_), mode);
  POINT a = ArcPoint(r, start), b = ArcPoint(r, start + subtended);
  return Pie(Dc(dc_), int(r.Left()), int(r.Top()), int(r.Left() + r.Width()), int(r.Top() + r.Height()),
             a.x, a.y, b.x, b.y);
}

bool UI_DrawingSurface::DrawText(const char* text, const UI_Point& at) {
  WideText w = Wide(text);
  SetBkMode(Dc(dc_), TRANSPARENT);
  return TextOutW(Dc(dc_), int(at.XCoord()), int(at.YCoord()), w.c_str(), int(w.s.size()));
}

bool UI_DrawingSurface::DrawBitmap(const UI_BitmapData& pic, const UI_Point& at) {
  std::vector<std::uint8_t> bmp = pic.ToBmp();
  if (bmp.size() < 54) return false;
  auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + 14);
  std::uint32_t off = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | std::uint32_t(bmp[13]) << 24;
  return SetDIBitsToDevice(Dc(dc_), int(at.XCoord()), int(at.YCoord()), DWORD(pic.Width()),
                           DWORD(pic.Height()), 0, 0, 0, UINT(pic.Height()), bmp.data() + off, info,
                           DIB_RGB_COLORS) != 0;
}

const char* UI_PaintWindow::ClassName() const { return "UI_PaintWindow"; }

std::intptr_t UI_PaintWindow::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
  if (msg != WM_PAINT) return DefaultProc(msg, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Hwnd(handle_), &ps);
  if (dc && paint_) {
    UI_DrawingSurface s(dc);
    paint_(s);
  }
  EndPaint(Hwnd(handle_), &ps);
  return 0;
}

UI_Cursor::UI_Cursor(int type) {
  static const LPCWSTR kCursors[] = {nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW),
                                     reinterpret_cast<LPCWSTR>(IDC_WAIT), reinterpret_cast<LPCWSTR>(IDC_CROSS),
                                     reinterpret_cast<LPCWSTR>(IDC_IBEAM), reinterpret_cast<LPCWSTR>(IDC_SIZENS),
                                     reinterpret_cast<LPCWSTR>(IDC_SIZEWE), reinterpret_cast<LPCWSTR>(IDC_UPARROW)};
  static std::map<int, HCURSOR> cache{{0, nullptr}};
  if (auto it = cache.find(type); it != cache.end()) {
    type_ = type;
    handle_ = it->second;
    return;
  }
  HCURSOR h = type > 0 && type < 8 ? LoadCursorW(nullptr, kCursors[type]) : nullptr;
  if (!h) {
    CL_Error::Warning("TWCL: UI_Cursor Init: Invalid cursor %d", type);
    return;
  }
  cache[type] = h;
  type_ = type;
  handle_ = h;
}

bool UI_Cursor::Use() const {
  SetCursor(static_cast<HCURSOR>(handle_));
  return handle_ != nullptr;
}
