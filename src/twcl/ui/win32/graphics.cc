#include "twcl/ui/graphics.h"

#include <cmath>
#include <vector>

#include "twcl/base/error.h"
#include "twcl/ui/bitmap.h"
#include "twcl/ui/dib.h"
#include "twcl/ui/shapes.h"
#include "twcl/ui/win32/native.h"

// The Win32 headers make DrawText a macro; here it is the surface's member.
#undef DrawText

using namespace twui;

namespace {

HDC Dc(void* d) {
  return static_cast<HDC>(d);
}

// A rectangle's pixels, Right and Bottom included, as GDI's half-open RECT.
RECT Pixels(const UI_Rectangle& r) {
  return RECT{LONG(r.Left()), LONG(r.Top()), LONG(r.Left() + r.Width()),
              LONG(r.Top() + r.Height())};
}

POINT At(const UI_Point& p) {
  return POINT{LONG(p.XCoord()), LONG(p.YCoord())};
}

// The sixteen raster operations by the index Mode uses.
constexpr int kModes[16] = {R2_BLACK,       R2_MASKPEN,     R2_MASKNOTPEN, R2_COPYPEN,
                            R2_MASKPENNOT,  R2_NOP,         R2_XORPEN,     R2_MERGEPEN,
                            R2_NOTMERGEPEN, R2_NOTXORPEN,   R2_NOT,        R2_MERGENOTPEN,
                            R2_NOTCOPYPEN,  R2_MERGEPENNOT, R2_NOTMASKPEN, R2_WHITE};

// For a call that fills with the brush or not, and outlines with the pen or not; both are
// put back afterwards.
class Strokes {
 public:
  Strokes(HDC dc, short options, HGDIOBJ brush) : dc_(dc) {
    old_brush_ = SelectObject(dc, (options & 2) && brush ? brush : GetStockObject(NULL_BRUSH));
    if (!(options & 1)) old_pen_ = SelectObject(dc, GetStockObject(NULL_PEN));
  }
  ~Strokes() {
    if (old_pen_) SelectObject(dc_, old_pen_);
    SelectObject(dc_, old_brush_);
  }
  Strokes(const Strokes&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_brush_, old_pen_ = nullptr;
};

}  // namespace

// --- UI_DrawingSurface

UI_DrawingSurface::UI_DrawingSurface(void* dc, bool own_font) : dc_(dc) {
  if (dc_) {
    device_width_ = GetDeviceCaps(Dc(dc_), HORZRES);
    device_height_ = GetDeviceCaps(Dc(dc_), VERTRES);
  }
  // A context starts with a black pen and a white brush, the surface's own.
  pen_ = std::make_unique<UI_Pen>(this, 1, UI_Color(0), 1);
  brush_ = std::make_unique<UI_Brush>(this, UI_Color(4), 2);
  if (own_font) {
    auto f = std::make_unique<UI_Font>();
    UI_Font* raw = f.get();
    TakeFont(raw, std::move(f));
  }
}

UI_DrawingSurface::~UI_DrawingSurface() {
  DropAttributes();
}

const char* UI_DrawingSurface::ClassName() const {
  return "UI_DrawingSurface";
}

void UI_DrawingSurface::LetGoOfFont() {
  if (!font_) return;
  font_->RemovePreChangeDependent(
      CL_Binding0<UI_DrawingSurface>(this, &UI_DrawingSurface::UseSystemFont));
  font_->RemoveDependent(CL_Binding0<UI_DrawingSurface>(this, &UI_DrawingSurface::UseOwnFont));
  if (font_ == own_font_.get())
    own_font_.reset();  // it takes itself out of the context
  else
    font_->SetClient(nullptr);
  font_ = nullptr;
}

void UI_DrawingSurface::TakeFont(UI_Font* f, std::unique_ptr<UI_Font> own) {
  if (!f || f == font_) return;
  LetGoOfFont();
  own_font_ = std::move(own);
  font_ = f;
  f->AddPreChangeDependent(CL_Binding0<UI_DrawingSurface>(this, &UI_DrawingSurface::UseSystemFont));
  f->AddDependent(CL_Binding0<UI_DrawingSurface>(this, &UI_DrawingSurface::UseOwnFont));
  f->SetClient(this);  // makes and selects the platform font
  UseOwnFont();
}

void UI_DrawingSurface::DropAttributes() {
  LetGoOfFont();
  pen_.reset();
  brush_.reset();
}

void UI_DrawingSurface::SetFont(const UI_FontDesc& d) {
  if (font_ && font_ == own_font_.get()) {
    *font_ = d;
    return;
  }
  auto f = std::make_unique<UI_Font>(d.TypeFace(), d.PointSize(), d.Style());
  UI_Font* raw = f.get();
  TakeFont(raw, std::move(f));
}

bool UI_DrawingSurface::DrawLine(const UI_Point& p, const UI_Point& q) {
  if (!dc_) return false;
  POINT pts[2] = {At(p), At(q)};
  return Polyline(Dc(dc_), pts, 2);
}

bool UI_DrawingSurface::ColorDrawingArea(const UI_Color& c) {
  UI_Rectangle a = DrawingArea();
  return ColorRectangle(UI_Rectangle(0, 0, a.Width(), a.Height()), c);
}

bool UI_DrawingSurface::ColorRectangle(const UI_Rectangle& r, const UI_Color& c) {
  if (!dc_) return false;
  HBRUSH b = CreateSolidBrush(c.NativeForm());
  if (!b) return false;
  RECT rc = Pixels(r);
  bool ok = FillRect(Dc(dc_), &rc, b);
  DeleteObject(b);
  return ok;
}

bool UI_DrawingSurface::InvertRectangle(const UI_Rectangle& r) {
  if (!dc_) return false;
  RECT rc = Pixels(r);
  return InvertRect(Dc(dc_), &rc);
}

bool UI_DrawingSurface::DrawRectangle(const UI_Rectangle& r, short options) {
  if (!dc_) return false;
  // An empty rectangle has no pixels to draw: its Right or Bottom lies before its origin.
  if (!options || r.Width() < 1 || r.Height() < 1) return true;
  if (r.Width() < 2 && r.Height() < 2)
    return SetPixel(Dc(dc_), int(r.Left()), int(r.Top()),
                    Pen().Descriptor().Color().NativeForm()) != CLR_INVALID;
  bool ok = true;
  if (options & 2) {
    RECT rc = Pixels(r);
    ok = brush_->Handle() && FillRect(Dc(dc_), &rc, static_cast<HBRUSH>(brush_->Handle()));
  }
  if (options & 1) {
    POINT pts[5] = {{LONG(r.Left()), LONG(r.Top())},
                    {LONG(r.Right()), LONG(r.Top())},
                    {LONG(r.Right()), LONG(r.Bottom())},
                    {LONG(r.Left()), LONG(r.Bottom())},
                    {LONG(r.Left()), LONG(r.Top())}};
    ok = Polyline(Dc(dc_), pts, 5) && ok;
  }
  return ok;
}

bool UI_DrawingSurface::DrawEllipse(const UI_Rectangle& r, short options) {
  if (!dc_) return false;
  if (!options) return true;
  Strokes k(Dc(dc_), options, static_cast<HGDIOBJ>(brush_->Handle()));
  RECT b = Pixels(r);
  return Ellipse(Dc(dc_), b.left, b.top, b.right, b.bottom);
}

bool UI_DrawingSurface::DrawArc(const UI_Arc& a) {
  if (!dc_) return false;
  RECT b = Pixels(a.Rect());
  auto [p, q] = a.EndPoints();
  return Arc(Dc(dc_), b.left, b.top, b.right, b.bottom, int(p.XCoord()), int(p.YCoord()),
             int(q.XCoord()), int(q.YCoord()));
}

namespace {
// A chord or a pie over an arc's bounding rectangle and between its end points.
template <class F>
bool ArcFigure(HDC dc, short options, void* brush, const UI_Arc& a, F figure) {
  if (!dc) return false;
  if (!options) return true;
  Strokes k(dc, options, static_cast<HGDIOBJ>(brush));
  RECT b = Pixels(a.Rect());
  auto [p, q] = a.EndPoints();
  return figure(dc, b.left, b.top, b.right, b.bottom, int(p.XCoord()), int(p.YCoord()),
                int(q.XCoord()), int(q.YCoord()));
}
}  // namespace

bool UI_DrawingSurface::DrawChord(const UI_Chord& c, short options) {
  return ArcFigure(Dc(dc_), options, brush_->Handle(), c.Arc(), Chord);
}

bool UI_DrawingSurface::DrawPieWedge(const UI_PieWedge& w, short options) {
  return ArcFigure(Dc(dc_), options, brush_->Handle(), w.Arc(), Pie);
}

bool UI_DrawingSurface::DrawArc(const UI_Rectangle& box, long start, long subtended) {
  return DrawArc(UI_Arc(box, start, subtended));
}

bool UI_DrawingSurface::DrawChord(const UI_Rectangle& box, long start, long subtended,
                                  int options) {
  return DrawChord(UI_Chord(box, start, subtended), short(options));
}

bool UI_DrawingSurface::DrawPieWedge(const UI_Rectangle& box, long start, long subtended,
                                     int options) {
  return DrawPieWedge(UI_PieWedge(box, start, subtended), short(options));
}

bool UI_DrawingSurface::DrawPolygon(const UI_Point* points, short count, short options) {
  if (!dc_ || !points || count < 2) return false;
  if (!options) return true;
  bool ok = true;
  if (options & 2) {
    std::vector<POINT> pts;
    for (short i = 0; i < count; ++i) pts.push_back(At(points[i]));
    HRGN rgn = CreatePolygonRgn(pts.data(), count, WINDING);
    ok = rgn && brush_->Handle() && FillRgn(Dc(dc_), rgn, static_cast<HBRUSH>(brush_->Handle()));
    if (rgn) DeleteObject(rgn);
  }
  if (options & 1) {
    DrawPolyLine(points, count);
    ok = DrawLine(points[count - 1], points[0]) && ok;
  }
  return ok;
}

short UI_DrawingSurface::DrawPolyLine(const UI_Point* points, short count) {
  if (!points || count < 2) return count;
  for (short i = 1; i < count; ++i) DrawLine(points[i - 1], points[i]);
  return count;
}

bool UI_DrawingSurface::DrawPoint(const UI_Point& p) {
  if (!dc_) return false;
  return SetPixel(Dc(dc_), int(p.XCoord()), int(p.YCoord()),
                  Brush().Descriptor().Color().NativeForm()) != CLR_INVALID;
}

bool UI_DrawingSurface::DrawBitmap(const UI_Bitmap& b, const UI_Point& p) {
  if (!dc_ || !b.Handle()) return false;
  HDC mem = CreateCompatibleDC(Dc(dc_));
  if (!mem) return false;
  SetMapMode(mem, GetMapMode(Dc(dc_)));
  HGDIOBJ old = SelectObject(mem, static_cast<HGDIOBJ>(b.Handle()));
  POINT size = {LONG(b.Width()), LONG(b.Height())};
  DPtoLP(Dc(dc_), &size, 1);
  bool ok = BitBlt(Dc(dc_), int(p.XCoord()), int(p.YCoord()), size.x, size.y, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  return ok;
}

bool UI_DrawingSurface::DrawBitmap(const UI_Bitmap& b, const std::vector<std::uint8_t>& mask,
                                   const UI_Point& p) {
  HDC dc = Dc(dc_);
  std::uint64_t need = UI_DibRowBytes(b.Width(), 1) * std::uint64_t(b.Height());
  if (!b.Handle() || !dc || mask.size() < need) return false;
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[2];
  } mono = {};
  mono.h.biSize = sizeof mono.h;
  mono.h.biWidth = LONG(b.Width());
  mono.h.biHeight = LONG(b.Height());
  mono.h.biPlanes = 1;
  mono.h.biBitCount = 1;
  mono.colors[1] = RGBQUAD{255, 255, 255, 0};
  auto* info = reinterpret_cast<const BITMAPINFO*>(&mono);
  HBITMAP m = CreateDIBitmap(dc, &mono.h, CBM_INIT, mask.data(), info, DIB_RGB_COLORS);
  if (!m) return false;
  HDC mem = CreateCompatibleDC(dc);
  bool ok = mem != nullptr;
  if (ok) {
    int x = int(p.XCoord()), y = int(p.YCoord()), w = int(b.Width()), h = int(b.Height());
    HGDIOBJ old = SelectObject(mem, m);
    ok = BitBlt(dc, x, y, w, h, mem, 0, 0, SRCAND);
    SelectObject(mem, static_cast<HGDIOBJ>(b.Handle()));
    ok = BitBlt(dc, x, y, w, h, mem, 0, 0, SRCINVERT) && ok;
    SelectObject(mem, old);
    DeleteDC(mem);
  }
  DeleteObject(m);
  return ok;
}

bool UI_DrawingSurface::DrawBitmap(const UI_BitmapData& pic, const UI_Point& at) {
  std::vector<std::uint8_t> bmp = pic.ToBmp();
  if (!dc_ || bmp.size() < 54) return false;
  auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + 14);
  std::uint32_t off = bmp[10] | bmp[11] << 8 | bmp[12] << 16 | std::uint32_t(bmp[13]) << 24;
  return SetDIBitsToDevice(Dc(dc_), int(at.XCoord()), int(at.YCoord()), DWORD(pic.Width()),
                           DWORD(pic.Height()), 0, 0, 0, UINT(pic.Height()), bmp.data() + off, info,
                           DIB_RGB_COLORS) != 0;
}

bool UI_DrawingSurface::WriteString(const CL_String& s, const UI_Rectangle& r, short alignment) {
  if (!dc_) return false;
  WideText w = Wide(s.AsPtr());
  RECT rc = Pixels(r);
  UINT flag = alignment == 0 ? DT_LEFT : alignment == 2 ? DT_CENTER : DT_RIGHT;
  int was = SetBkMode(Dc(dc_), TRANSPARENT);
  bool ok = DrawTextW(Dc(dc_), w.c_str(), int(w.s.size()), &rc, flag) != 0;
  SetBkMode(Dc(dc_), was);
  return ok;
}

bool UI_DrawingSurface::DrawText(const char* text, const UI_Point& at) {
  if (!dc_) return false;
  WideText w = Wide(text);
  SetBkMode(Dc(dc_), TRANSPARENT);
  return TextOutW(Dc(dc_), int(at.XCoord()), int(at.YCoord()), w.c_str(), int(w.s.size()));
}

short UI_DrawingSurface::TextWidth(const char* text) const {
  if (!dc_) return 0;
  WideText w = Wide(text);
  SIZE size = {};
  if (!GetTextExtentPoint32W(Dc(dc_), w.c_str(), int(w.s.size()), &size)) return 0;
  return short(size.cx);
}

bool UI_DrawingSurface::SaveAttributes() {
  if (!dc_ || !pen_ || !brush_ || !font_) return false;
  saved_.push_back({pen_->Descriptor(), brush_->Descriptor(), font_->Descriptor()});
  return true;
}

bool UI_DrawingSurface::RestoreAttributes() {
  if (!dc_ || !pen_ || !brush_ || !font_ || saved_.empty()) return false;
  SurfaceAttributes a = saved_.back();
  saved_.pop_back();
  *pen_ = a.pen;
  *brush_ = a.brush;
  // Only a changed font is made anew: re-making it would give a stock font a face.
  if (a.font.TypeFace().Size() && UI_FontDesc(a.font).Compare(font_->Descriptor()) != 0)
    SetFont(a.font);
  return true;
}

bool UI_DrawingSurface::UseSystemFont() {
  if (dc_) SelectObject(Dc(dc_), GetStockObject(SYSTEM_FONT));
  return true;
}

bool UI_DrawingSurface::UseOwnFont() {
  if (dc_ && font_ && font_->Handle()) SelectObject(Dc(dc_), static_cast<HGDIOBJ>(font_->Handle()));
  return true;
}

// --- UI_DisplaySurface

namespace {
void* WindowDc(UI_VisualObject* client) {
  return client && client->Handle() ? GetDC(Hwnd(client->Handle())) : nullptr;
}
}  // namespace

UI_DisplaySurface::UI_DisplaySurface(UI_VisualObject* client)
    : UI_DrawingSurface(WindowDc(client), false), client_(client), borrowed_(false) {
  Init();
}

UI_DisplaySurface::UI_DisplaySurface(UI_VisualObject* client, void* paint_context)
    : UI_DrawingSurface(paint_context, false), client_(client), borrowed_(true) {
  Init();
}

void UI_DisplaySurface::Init() {
  // The ground is the one the window paints: the dialogs' face in the three-dimensional
  // look, else the client's background colour; the brush starts as that ground.
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  UI_Color ground(GetRValue(face) / 255.0, GetGValue(face) / 255.0, GetBValue(face) / 255.0);
  if (client_ && !client_->Uses3DLook()) ground = client_->Background();
  if (dc_) {
    HDC dc = Dc(dc_);
    ppi_x_ = GetDeviceCaps(dc, LOGPIXELSX);
    ppi_y_ = GetDeviceCaps(dc, LOGPIXELSY);
    horz_ppmm_ = long(std::trunc(ppi_x_ * 1000 / 25.4));
    vert_ppmm_ = long(std::trunc(ppi_y_ * 1000 / 25.4));
    SetBkColor(dc, ground.NativeForm());
  }
  *brush_ = UI_BrushDescriptor(ground, 2);
  *pen_ = UI_PenDescriptor(1, UI_Color(0), 1);
  if (client_ && client_->Font()) {
    Font(*client_->Font());
  } else {
    auto f = std::make_unique<UI_Font>();
    UI_Font* raw = f.get();
    TakeFont(raw, std::move(f));
  }
}

UI_DisplaySurface::~UI_DisplaySurface() {
  void* dc = dc_;
  DropAttributes();
  if (dc && !borrowed_) ReleaseDC(Hwnd(client_->Handle()), Dc(dc));
}

bool UI_DisplaySurface::SetBackground(const UI_Color& c) {
  return dc_ && SetBkColor(Dc(dc_), c.NativeForm()) != CLR_INVALID;
}

const char* UI_DisplaySurface::ClassName() const {
  return "UI_DisplaySurface";
}

UI_Rectangle UI_DisplaySurface::DrawingArea() const {
  return client_ ? client_->Shape() : UI_Rectangle(0, 0, device_width_, device_height_);
}

UI_Rectangle UI_DisplaySurface::DrawingAreaInInches() const {
  UI_Rectangle a = DrawingArea();
  return UI_Rectangle(0, 0, ppi_x_ ? a.Width() / ppi_x_ : 0, ppi_y_ ? a.Height() / ppi_y_ : 0);
}

bool UI_DisplaySurface::Font(UI_Font& f) {
  TakeFont(&f, nullptr);
  return true;
}

bool UI_DisplaySurface::DrawBitmap(const UI_Bitmap& b, const UI_Point& p) {
  if (!dc_ || !b.Handle()) return false;
  HPALETTE old = nullptr;
  if (b.Palette()) {
    old = SelectPalette(Dc(dc_), static_cast<HPALETTE>(b.Palette()), FALSE);
    RealizePalette(Dc(dc_));
  }
  bool ok = UI_DrawingSurface::DrawBitmap(b, p);
  if (old) SelectPalette(Dc(dc_), old, FALSE);
  return ok;
}

bool UI_DisplaySurface::SaveAttributes() {
  if (!UI_DrawingSurface::SaveAttributes()) return false;
  modes_.push_back(Mode());
  return true;
}

bool UI_DisplaySurface::RestoreAttributes() {
  if (!UI_DrawingSurface::RestoreAttributes()) return false;
  if (!modes_.empty()) {
    Mode(modes_.back());
    modes_.pop_back();
  }
  return true;
}

bool UI_DisplaySurface::Mode(int m) {
  if (m < 0 || m >= 16) {
    CL_Error::Warning("UI_DisplaySurface::Mode: invalid parameter %d", m);
    return false;
  }
  return dc_ && SetROP2(Dc(dc_), kModes[m]) != 0;
}

int UI_DisplaySurface::Mode() const {
  if (!dc_) return 0;
  int rop = GetROP2(Dc(dc_));
  for (int i = 0; i < 16; ++i)
    if (kModes[i] == rop) return i;
  return 0;
}

// --- UI_PaintWindow

const char* UI_PaintWindow::ClassName() const {
  return "UI_PaintWindow";
}

std::intptr_t UI_PaintWindow::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                  std::intptr_t lp) {
  if (msg != WM_PAINT) return DefaultProc(msg, wp, lp);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(Hwnd(handle_), &ps);
  if (dc && paint_) {
    UI_DisplaySurface s(this, dc);
    paint_(s);
  }
  EndPaint(Hwnd(handle_), &ps);
  return 0;
}

// --- the surface of a visual object

UI_DrawingSurface* UI_VisualObject::DrawingSurface() {
  if (!surface_) surface_ = std::make_unique<UI_DisplaySurface>(this);
  if (font_) surface_->Font(*font_);
  return surface_.get();
}

UI_DrawingSurface* UI_VisualObject::CurrentSurface() const {
  return surface_.get();
}

bool UI_VisualObject::DeleteDrawingSurface() {
  surface_.reset();
  return true;
}
