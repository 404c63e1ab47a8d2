#include "twcl/ui/color.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "twcl/base/error.h"
#include "twcl/ui/class_ids.h"

namespace {
struct Rgb {
  long r, g, b;
};
constexpr Rgb kStandard[] = {{0, 0, 0},       {0, 255, 0},     {0, 0, 255},     {255, 0, 0},
                             {255, 255, 255}, {224, 224, 224}, {192, 192, 192}, {128, 128, 128}};

long Component(double v) { return long(std::trunc(v * 255)); }
}  // namespace

UI_Color::UI_Color(int standard) {
  if (standard >= 0 && standard < int(std::size(kStandard))) {
    red_ = kStandard[standard].r;
    green_ = kStandard[standard].g;
    blue_ = kStandard[standard].b;
  }
}

UI_Color::UI_Color(double red, double green, double blue) {
  const struct {
    const char* name;
    double v;
  } parts[] = {{"red", red}, {"green", green}, {"blue", blue}};
  for (const auto& p : parts) {
    if (!(p.v >= 0.0 && p.v <= 1.0)) {
      CL_Error::Warning("UI_Color constructor: invalid %s component %e", p.name, p.v);
      return;
    }
  }
  red_ = Component(red);
  green_ = Component(green);
  blue_ = Component(blue);
}

const char* UI_Color::ClassName() const { return "UI_Color"; }
CL_Long UI_Color::ClassId() const { return UI_ClassId_Color; }
CL_Object* UI_Color::Clone() const { return new UI_Color(*this); }

UI_Color& UI_Color::operator=(const UI_Color& c) {
  if (this == &c || !PrepareToChange()) return *this;
  red_ = c.red_;
  green_ = c.green_;
  blue_ = c.blue_;
  Notify();
  return *this;
}

CL_Object& UI_Color::operator=(const CL_Object& other) {
  if (CheckClassId(other, "UI_Color::operator=")) *this = static_cast<const UI_Color&>(other);
  return *this;
}

bool UI_Color::operator==(const CL_Object& other) const {
  if (!IsA(other)) return false;
  const auto& c = static_cast<const UI_Color&>(other);
  return red_ == c.red_ && green_ == c.green_ && blue_ == c.blue_;
}

bool UI_Color::SetRed(double v) {
  if (!PrepareToChange()) return false;
  red_ = Component(v);
  Notify();
  return true;
}
bool UI_Color::SetGreen(double v) {
  if (!PrepareToChange()) return false;
  green_ = Component(v);
  Notify();
  return true;
}
bool UI_Color::SetBlue(double v) {
  if (!PrepareToChange()) return false;
  blue_ = Component(v);
  Notify();
  return true;
}

std::uint32_t UI_Color::NativeForm() const {
  return std::uint32_t(red_ & 0xff) | std::uint32_t(green_ & 0xff) << 8 |
         std::uint32_t(blue_ & 0xff) << 16;
}

// --- UI_FontDesc

const char* UI_FontDesc::ClassName() const { return "UI_FontDesc"; }
CL_Long UI_FontDesc::ClassId() const { return UI_ClassId_FontDesc; }
CL_Object* UI_FontDesc::Clone() const { return new UI_FontDesc(*this); }

UI_FontDesc& UI_FontDesc::operator=(const UI_FontDesc& d) {
  if (this == &d || !PrepareToChange()) return *this;
  points_ = d.points_;
  face_ = d.face_;
  style_ = d.style_;
  Notify();
  return *this;
}

CL_Object& UI_FontDesc::operator=(const CL_Object& other) {
  if (std::strcmp(other.ClassName(), ClassName()) != 0) {
    NotImplemented("operator= (const CL_Object&)");
    return *this;
  }
  return *this = static_cast<const UI_FontDesc&>(other);
}

short UI_FontDesc::Compare(const CL_Object& other) const {
  if (!IsA(other)) return this < &other ? -1 : 1;
  const auto& d = static_cast<const UI_FontDesc&>(other);
  short c = face_.Compare(d.face_);
  if (c) return c < 0 ? -1 : 1;
  if (points_ != d.points_) return points_ < d.points_ ? -1 : 1;
  if (style_ != d.style_) return style_ < d.style_ ? -1 : 1;
  return 0;
}

bool UI_FontDesc::operator==(const CL_Object& other) const {
  return IsA(other) && Compare(other) == 0;
}

long UI_FontCellHeight(long points, long pixels_per_inch) {
  double h = std::trunc(double(points) * double(pixels_per_inch) / 72.24);
  if (h > INT_MAX) return INT_MAX;
  if (h < -INT_MAX) return -INT_MAX;
  return long(h);
}

long UI_PointSizeFromHeight(long height, long pixels_per_inch) {
  if (pixels_per_inch < 1) return 0;
  // Whole numbers in 64 bits: 72.24 is exact as 7224 / 100, and a height held to 32 bits
  // (a LOGFONT's) times 7224 neither overflows nor loses a unit to rounding.
  std::int64_t h = std::clamp<long>(height, INT_MIN, INT_MAX);
  std::int64_t p = h * 7224 / (std::int64_t(pixels_per_inch) * 100);
  if (p > SHRT_MAX) return SHRT_MAX;
  if (p < SHRT_MIN) return SHRT_MIN;
  return long(p);
}

bool UI_MakeFontRequest(const UI_FontDesc& desc, long pixels_per_inch, UI_FontRequest* out) {
  CL_String face = desc.TypeFace();
  if (face.Size() == 0) return false;
  *out = UI_FontRequest{};
  out->height = UI_FontCellHeight(desc.PointSize(), pixels_per_inch);
  if (out->height < 0) out->height = -out->height;
  long s = desc.Style();
  out->weight = (s & UI_FontBold) ? 700 : 400;
  out->italic = s & UI_FontItalic;
  out->underline = s & UI_FontUnderline;
  out->strikeout = s & UI_FontStrikeOut;
  std::strncpy(out->face, face.AsPtr(), sizeof out->face - 1);
  return true;
}

const char* UI_PenDescriptor::ClassName() const { return "UI_PenDescriptor"; }
CL_Long UI_PenDescriptor::ClassId() const { return UI_ClassId_PenDescriptor; }
const char* UI_BrushDescriptor::ClassName() const { return "UI_BrushDescriptor"; }
CL_Long UI_BrushDescriptor::ClassId() const { return UI_ClassId_BrushDescriptor; }

UI_PenStyle UI_PenStyleFor(long pattern) {
  switch (pattern) {
    case 0: return UI_PenStyle::kNone;
    case 2: return UI_PenStyle::kDash;
    case 3: return UI_PenStyle::kDot;
    default: return UI_PenStyle::kSolid;
  }
}

UI_BrushStyle UI_BrushStyleFor(long pattern) {
  if (pattern == 0) return UI_BrushStyle::kHatched;
  if (pattern == 1) return UI_BrushStyle::kHollow;
  return UI_BrushStyle::kSolid;
}
