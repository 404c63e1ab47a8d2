// Fonts, pens and brushes as GDI objects, the font list of the display and the font dialog.
#include "twcl/ui/font.h"

#include <algorithm>
#include <climits>
#include <set>

#include "twcl/base/error.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

HDC SurfaceDc(const UI_DrawingSurface* s) {
  return s ? static_cast<HDC>(s->NativeHandle()) : nullptr;
}

void DeleteGdi(void* h) {
  DeleteObject(static_cast<HGDIOBJ>(h));
}

// A selected object cannot be deleted: the context takes the stock one first.
void FreeSelected(UI_DrawingSurface* client, void*& handle, int stock) {
  if (!handle) return;
  if (HDC dc = SurfaceDc(client)) SelectObject(dc, GetStockObject(stock));
  DeleteObject(static_cast<HGDIOBJ>(handle));
  handle = nullptr;
}

long StyleOf(LONG weight, bool italic, bool underline, bool strikeout) {
  return (italic ? UI_FontItalic : 0) | (underline ? UI_FontUnderline : 0) |
         (weight >= FW_BOLD ? UI_FontBold : 0) | (strikeout ? UI_FontStrikeOut : 0);
}

LOGFONTW LogFontOf(const UI_FontRequest& req) {
  LOGFONTW lf = {};
  lf.lfHeight = LONG(req.height);
  lf.lfWeight = req.weight;
  lf.lfItalic = req.italic;
  lf.lfUnderline = req.underline;
  lf.lfStrikeOut = req.strikeout;
  lf.lfCharSet = DEFAULT_CHARSET;
  WideText face = Wide(req.face);
  std::copy_n(face.s.begin(), std::min<std::size_t>(face.s.size(), LF_FACESIZE - 1),
              reinterpret_cast<char16_t*>(lf.lfFaceName));
  return lf;
}

int CALLBACK CountFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM lp) {
  ++*reinterpret_cast<int*>(lp);
  return 0;  // one is enough
}

// Whether the display has a family of that name (the platform quietly substitutes another
// for one it lacks).
bool HasFace(HDC dc, const char* face) {
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  WideText w = Wide(face);
  std::copy_n(w.s.begin(), std::min<std::size_t>(w.s.size(), LF_FACESIZE - 1),
              reinterpret_cast<char16_t*>(lf.lfFaceName));
  int n = 0;
  EnumFontFamiliesExW(dc, &lf, CountFamily, reinterpret_cast<LPARAM>(&n), 0);
  return n > 0;
}

}  // namespace

// --- UI_Font

UI_Font::UI_Font() {
  MakeNativeObject();
}

UI_Font::UI_Font(UI_DrawingSurface* client) {
  client_ = client;
  MakeNativeObject();
}

UI_Font::UI_Font(const CL_String& face, short points, long style)
    : points_(points), face_(face), stock_number_(0), style_(style & 15), is_stock_(false) {
  MakeNativeObject();
}

UI_Font::UI_Font(const UI_Font& f)
    : UI_DisplayResource(f),
      points_(f.points_),
      face_(f.face_),
      stock_number_(f.stock_number_),
      style_(f.style_),
      is_stock_(f.is_stock_) {
  client_ = f.client_;
  MakeNativeObject();
}

UI_Font::~UI_Font() {
  // A font selected into a context cannot be deleted: the context takes the system's first.
  if (HDC dc = SurfaceDc(client_); dc && handle_) SelectObject(dc, GetStockObject(SYSTEM_FONT));
  UI_FontTable::Shared().Release(entry_);
}

const char* UI_Font::ClassName() const {
  return "UI_Font";
}
CL_Long UI_Font::ClassId() const {
  return UI_ClassId_Font;
}

void UI_Font::SetClient(UI_DrawingSurface* client) {
  client_ = client;
  if (client_) MakeNativeObject();
}

void UI_Font::MakeNativeObject() {
  UI_FontTable& table = UI_FontTable::Shared();
  HDC dc = SurfaceDc(client_);
  UI_FontEntry* chosen = nullptr;
  if (!is_stock_) {
    if (face_.Size() == 0) return;  // nothing to make: the readers answer the fields
    chosen = table.Find(UI_FontDesc(face_, points_, style_));
  }
  if (!chosen) {
    HDC mdc = dc ? dc : CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
    if (!mdc) return;
    long ppi = GetDeviceCaps(mdc, LOGPIXELSY);
    UI_FontRequest req;
    HFONT f = nullptr;
    if (is_stock_) {
      f = static_cast<HFONT>(GetStockObject(int(stock_number_)));
    } else if (UI_MakeFontRequest(UI_FontDesc(face_, points_, style_), ppi, &req)) {
      LOGFONTW lf = LogFontOf(req);
      f = CreateFontIndirectW(&lf);
    }
    if (!f) {
      if (!dc) DeleteDC(mdc);
      return;
    }
    HGDIOBJ was = SelectObject(mdc, f);
    TEXTMETRICW tm = {};
    GetTextMetricsW(mdc, &tm);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(mdc, LF_FACESIZE, face);
    SelectObject(mdc, was);
    std::string chosen_face = Narrow(face, std::size_t(lstrlenW(face)));
    if (!is_stock_ && lstrcmpiW(face, Wide(face_.AsPtr()).c_str()) != 0 &&
        !HasFace(mdc, face_.AsPtr()))
      CL_Error::Warning("UI_Font: no type face '%s'; the display chose '%s'", face_.AsPtr(),
                        chosen_face.c_str());
    if (!dc) DeleteDC(mdc);
    // A height the platform gave exactly as asked keeps the asked size: read back through
    // 72.24 it would come out a point smaller, and shrink again at each re-make.
    long points = !is_stock_ && tm.tmHeight == req.height
                      ? points_
                      : UI_PointSizeFromHeight(tm.tmHeight, ppi);
    auto e = std::make_unique<UI_FontEntry>(
        UI_FontDesc(chosen_face.c_str(), short(points),
                    StyleOf(tm.tmWeight, tm.tmItalic, tm.tmUnderlined, tm.tmStruckOut)),
        stock_number_, is_stock_);
    e->SetHandle(f, is_stock_ ? nullptr : DeleteGdi);
    UI_TextMetrics& m = e->metrics;
    m.height = tm.tmHeight;
    m.ascent = tm.tmAscent;
    m.descent = tm.tmDescent;
    m.internal_leading = tm.tmInternalLeading;
    m.external_leading = tm.tmExternalLeading;
    m.ave_char_width = tm.tmAveCharWidth;
    m.max_char_width = tm.tmMaxCharWidth;
    m.weight = tm.tmWeight;
    m.overhang = tm.tmOverhang;
    m.aspect_x = tm.tmDigitizedAspectX;
    m.aspect_y = tm.tmDigitizedAspectY;
    m.first_char = char(tm.tmFirstChar);
    m.last_char = char(tm.tmLastChar);
    m.default_char = char(tm.tmDefaultChar);
    m.break_char = char(tm.tmBreakChar);
    m.italic = tm.tmItalic;
    m.underlined = tm.tmUnderlined;
    m.struck_out = tm.tmStruckOut;
    m.pitch_and_family = tm.tmPitchAndFamily;
    chosen = table.Add(std::move(e));
  }
  handle_ = chosen->Handle();
  height_ = chosen->metrics.height;
  ave_width_ = chosen->metrics.ave_char_width;
  // The context takes the new font before the old entry may go (a selected font cannot be
  // deleted).
  if (dc) SelectObject(dc, static_cast<HGDIOBJ>(handle_));
  if (chosen != entry_) {
    table.Acquire(chosen);
    UI_FontEntry* old = entry_;
    entry_ = chosen;
    table.Release(old);
  }
}

short UI_Font::PointSize() const {
  return entry_ ? entry_->PointSize() : points_;
}
CL_String UI_Font::TypeFace() const {
  return entry_ ? entry_->TypeFace() : face_;
}
long UI_Font::Style() const {
  return entry_ ? entry_->Style() : style_;
}
long UI_Font::Height() const {
  return entry_ ? entry_->metrics.height : 0;
}
long UI_Font::Ascent() const {
  return entry_ ? entry_->metrics.ascent : 0;
}
long UI_Font::Descent() const {
  return entry_ ? entry_->metrics.descent : 0;
}
long UI_Font::AverageCharWidth() const {
  return entry_ ? entry_->metrics.ave_char_width : 0;
}
bool UI_Font::IsFixedPitch() const {
  return entry_ ? (entry_->metrics.pitch_and_family & 0x0f) == 1 : true;
}
bool UI_Font::IsVector() const {
  return entry_ && (entry_->metrics.pitch_and_family & 2);
}
const UI_TextMetrics* UI_Font::TextMetrics() const {
  return entry_ ? &entry_->metrics : nullptr;
}
UI_FontDesc UI_Font::Descriptor() const {
  return UI_FontDesc(TypeFace(), PointSize(), Style());
}

bool UI_Font::Change(short points, const CL_String& face, long style) {
  if (!is_stock_ && points == points_ && face == face_ && style == style_) return true;
  if (!PrepareToChange()) return false;
  points_ = points;
  face_ = face;
  style_ = style & 15;
  stock_number_ = 0;
  is_stock_ = false;
  handle_ = nullptr;
  MakeNativeObject();
  Notify();
  return true;
}

bool UI_Font::PointSize(short points) {
  return Change(points, face_, style_);
}
bool UI_Font::TypeFace(const CL_String& face) {
  return Change(points_, face, style_);
}
bool UI_Font::Style(long style) {
  return Change(points_, face_, style & 15);
}
bool UI_Font::Italic(bool on) {
  return Style(on ? style_ | UI_FontItalic : style_ & ~UI_FontItalic);
}
bool UI_Font::Underline(bool on) {
  return Style(on ? style_ | UI_FontUnderline : style_ & ~UI_FontUnderline);
}
bool UI_Font::Bold(bool on) {
  return Style(on ? style_ | UI_FontBold : style_ & ~UI_FontBold);
}
bool UI_Font::StrikeOut(bool on) {
  return Style(on ? style_ | UI_FontStrikeOut : style_ & ~UI_FontStrikeOut);
}

UI_Font& UI_Font::operator=(const UI_FontDesc& d) {
  Change(d.PointSize(), d.TypeFace(), d.Style());
  return *this;
}

UI_Font& UI_Font::operator=(const UI_Font& f) {
  if (this != &f) *this = f.Descriptor();
  return *this;
}

CL_Object& UI_Font::operator=(const CL_Object& other) {
  if (other.ClassId() != UI_ClassId_FontDesc) {
    NotImplemented("operator= (const CL_Object&)");
    return *this;
  }
  return *this = static_cast<const UI_FontDesc&>(other);
}

short UI_Font::Width(const char* text) const {
  WideText w = Wide(text);
  SIZE size = {};
  BOOL ok;
  if (HDC dc = SurfaceDc(client_)) {
    ok = GetTextExtentPoint32W(dc, w.c_str(), int(w.s.size()), &size);
  } else {
    HDC screen = GetDC(nullptr);
    if (!screen) return 0;
    HGDIOBJ was = handle_ ? SelectObject(screen, static_cast<HGDIOBJ>(handle_)) : nullptr;
    ok = GetTextExtentPoint32W(screen, w.c_str(), int(w.s.size()), &size);
    if (was) SelectObject(screen, was);
    ReleaseDC(nullptr, screen);
  }
  if (!ok) return 0;
  return short(std::min<LONG>(size.cx, SHRT_MAX));
}

bool UI_Font::UseStock(int stock_number) {
  if (!GetStockObject(stock_number)) return false;
  if (!PrepareToChange()) return false;
  stock_number_ = stock_number;
  is_stock_ = true;
  handle_ = nullptr;
  MakeNativeObject();
  if (entry_) {
    points_ = entry_->PointSize();
    face_ = entry_->TypeFace();
    style_ = entry_->Style();
  }
  Notify();
  return true;
}

namespace {

struct FontList {
  long ppi = 96;
  std::set<std::u16string> families;
  std::vector<UI_FontInfo>* out = nullptr;
};

int CALLBACK AddFamily(const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM lp) {
  auto* l = reinterpret_cast<FontList*>(lp);
  l->families.insert(reinterpret_cast<const char16_t*>(lf->lfFaceName));
  return 1;
}

int CALLBACK AddFont(const LOGFONTW* lf, const TEXTMETRICW* tm, DWORD type, LPARAM lp) {
  auto* l = reinterpret_cast<FontList*>(lp);
  std::string face = Narrow(lf->lfFaceName, std::size_t(lstrlenW(lf->lfFaceName)));
  l->out->emplace_back(face.c_str(), short(UI_PointSizeFromHeight(tm->tmHeight, l->ppi)),
                       StyleOf(tm->tmWeight, tm->tmItalic, tm->tmUnderlined, tm->tmStruckOut),
                       (type & TRUETYPE_FONTTYPE) != 0);
  return 1;
}

}  // namespace

const std::vector<UI_FontInfo>& UI_Font::EnumerateFonts() {
  static std::vector<UI_FontInfo> fonts;
  fonts.clear();
  HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  if (!dc) return fonts;
  FontList l;
  l.ppi = std::max(1, GetDeviceCaps(dc, LOGPIXELSY));
  l.out = &fonts;
  LOGFONTW lf = {};
  lf.lfCharSet = DEFAULT_CHARSET;
  EnumFontFamiliesExW(dc, &lf, AddFamily, reinterpret_cast<LPARAM>(&l), 0);
  for (const std::u16string& family : l.families) {
    if (family.size() >= LF_FACESIZE) continue;
    LOGFONTW one = {};
    one.lfCharSet = DEFAULT_CHARSET;
    std::copy(family.begin(), family.end(), reinterpret_cast<char16_t*>(one.lfFaceName));
    EnumFontFamiliesExW(dc, &one, AddFont, reinterpret_cast<LPARAM>(&l), 0);
  }
  DeleteDC(dc);
  // One entry per font: the platform lists a font once for each character set.
  std::sort(fonts.begin(), fonts.end(),
            [](const UI_FontInfo& a, const UI_FontInfo& b) { return a.Compare(b) < 0; });
  fonts.erase(
      std::unique(fonts.begin(), fonts.end(),
                  [](const UI_FontInfo& a, const UI_FontInfo& b) { return a.Compare(b) == 0; }),
      fonts.end());
  return fonts;
}

// --- UI_Pen

UI_Pen::UI_Pen(UI_DrawingSurface* client, short thickness, const UI_Color& color, long pattern)
    : thickness_(thickness), color_(color), pattern_(pattern) {
  client_ = client;
  MakeNativeObject();
}

UI_Pen::~UI_Pen() {
  FreeSelected(client_, handle_, BLACK_PEN);
}

const char* UI_Pen::ClassName() const {
  return "UI_Pen";
}
CL_Long UI_Pen::ClassId() const {
  return UI_ClassId_Pen;
}

void UI_Pen::MakeNativeObject() {
  HDC dc = SurfaceDc(client_);
  FreeSelected(client_, handle_, BLACK_PEN);
  int style = PS_SOLID;
  switch (UI_PenStyleFor(pattern_)) {
    case UI_PenStyle::kNone:
      style = PS_NULL;
      break;
    case UI_PenStyle::kDash:
      style = PS_DASH;
      break;
    case UI_PenStyle::kDot:
      style = PS_DOT;
      break;
    case UI_PenStyle::kSolid:
      break;
  }
  handle_ = CreatePen(style, thickness_, color_.NativeForm());
  if (dc && handle_) {
    SelectObject(dc, static_cast<HGDIOBJ>(handle_));
    SetTextColor(dc, color_.NativeForm());
  }
}

CL_Object& UI_Pen::operator=(const CL_Object&) {
  NotImplemented("Operator= (const CL_Object&)");
  return *this;
}

// --- UI_Brush

UI_Brush::UI_Brush(UI_DrawingSurface* client, const UI_Color& color, long pattern)
    : color_(color), pattern_(pattern) {
  client_ = client;
  MakeNativeObject();
}

UI_Brush::~UI_Brush() {
  FreeSelected(client_, handle_, NULL_BRUSH);
}

const char* UI_Brush::ClassName() const {
  return "UI_Brush";
}
CL_Long UI_Brush::ClassId() const {
  return UI_ClassId_Brush;
}

void UI_Brush::MakeNativeObject() {
  HDC dc = SurfaceDc(client_);
  FreeSelected(client_, handle_, NULL_BRUSH);
  LOGBRUSH lb = {};
  lb.lbColor = color_.NativeForm();
  switch (UI_BrushStyleFor(pattern_)) {
    case UI_BrushStyle::kHatched:
      lb.lbStyle = BS_HATCHED;
      lb.lbHatch = HS_BDIAGONAL;
      break;
    case UI_BrushStyle::kHollow:
      lb.lbStyle = BS_NULL;
      break;
    case UI_BrushStyle::kSolid:
      lb.lbStyle = BS_SOLID;
      break;
  }
  handle_ = CreateBrushIndirect(&lb);
  if (dc && handle_) SelectObject(dc, static_cast<HGDIOBJ>(handle_));
}

CL_Object& UI_Brush::operator=(const CL_Object&) {
  NotImplemented("Operator= (const CL_Object&)");
  return *this;
}

// --- visual objects' fonts

bool UI_VisualObject::SetFont(const UI_FontDesc& d) {
  auto f = std::make_unique<UI_Font>(d.TypeFace(), d.PointSize(), d.Style());
  if (!f->Handle()) return false;
  // The window takes the new font before the old one may go.
  if (handle_) SendMessageW(Hwnd(handle_), WM_SETFONT, reinterpret_cast<WPARAM>(f->Handle()), TRUE);
  // Later changes of the font (its size, say) reach the window as well.
  f->AddDependent(CL_Binding0<UI_VisualObject>(this, &UI_VisualObject::FontChanged));
  // The surface lets go of the old font before it goes.
  if (surface_) surface_->Font(*f);
  font_ = std::move(f);
  return true;
}

bool UI_VisualObject::FontChanged() {
  if (handle_ && font_ && font_->Handle())
    SendMessageW(Hwnd(handle_), WM_SETFONT, reinterpret_cast<WPARAM>(font_->Handle()), TRUE);
  return true;
}

// --- the font dialog

bool UI_FontSelectDialog(UI_VisualObject* owner, UI_Font& font) {
  HDC screen = GetDC(nullptr);
  long ppi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  LOGFONTW lf = {};
  UI_FontRequest req;
  bool init = UI_MakeFontRequest(font.Descriptor(), ppi, &req);
  if (init) lf = LogFontOf(req);
  CHOOSEFONTW cf = {};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = owner ? Hwnd(owner->Handle()) : nullptr;
  cf.lpLogFont = &lf;
  cf.Flags = CF_SCREENFONTS | (init ? CF_INITTOLOGFONTSTRUCT : 0);
  cf.nFontType = SCREEN_FONTTYPE;
  cf.hInstance = GetModuleHandleW(nullptr);
  if (!ChooseFontW(&cf)) return false;
  std::string face = Narrow(lf.lfFaceName, std::size_t(lstrlenW(lf.lfFaceName)));
  // Bold only for a bold weight: every font has a weight, so "not zero" would make each
  // chosen font bold.
  long style = StyleOf(lf.lfWeight, lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut);
  font = UI_FontDesc(face.c_str(), short(UI_FontDialogPointSize(lf.lfHeight, ppi)), style);
  return true;
}
