// Colours and the descriptors of fonts, pens and brushes: the drawing attributes as values,
// and the arithmetic that turns them into what the platform is asked for.
#ifndef TW_TWCL_UI_COLOR_H_
#define TW_TWCL_UI_COLOR_H_

#include <cstdint>

#include "twcl/base/object.h"
#include "twcl/base/string.h"

class UI_Color : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_Color() = default;
  // 0 black, 1 green, 2 blue, 3 red, 4 white, 5 light grey, 6 grey, 7 dark grey; else black.
  explicit UI_Color(int standard);
  // Each component in [0, 1]; the first one outside warns and the colour is black.
  UI_Color(double red, double green, double blue);
  UI_Color(const UI_Color& c) : CL_Object(), red_(c.red_), blue_(c.blue_), green_(c.green_) {}
  UI_Color& operator=(const UI_Color& c);
  CL_Object& operator=(const CL_Object& other) override;

  const char* ClassName() const override;  // "UI_Color"
  CL_Long ClassId() const override;        // 204
  CL_Object* Clone() const override;
  bool operator==(const CL_Object& other) const override;

  long Red() const { return red_; }
  long Green() const { return green_; }
  long Blue() const { return blue_; }
  bool SetRed(double v);
  bool SetGreen(double v);
  bool SetBlue(double v);
  // The platform's colour value: red | green << 8 | blue << 16.
  std::uint32_t NativeForm() const;

 private:
  long red_ = 0, blue_ = 0, green_ = 0;
};

// Style bits of a font.
inline constexpr long UI_FontItalic = 1;
inline constexpr long UI_FontUnderline = 2;
inline constexpr long UI_FontBold = 4;
inline constexpr long UI_FontStrikeOut = 8;

class UI_FontDesc : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_FontDesc() = default;
  UI_FontDesc(const CL_String& face, short points, long style)
      : points_(points), face_(face), style_(style) {}
  UI_FontDesc(const UI_FontDesc& d) : CL_Object(), points_(d.points_), face_(d.face_), style_(d.style_) {}
  UI_FontDesc& operator=(const UI_FontDesc& d);
  CL_Object& operator=(const CL_Object& other) override;

  const char* ClassName() const override;  // "UI_FontDesc"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;
  short Compare(const CL_Object& other) const override;  // face, then size, then style
  bool operator==(const CL_Object& other) const override;

  short PointSize() const { return points_; }
  CL_String TypeFace() const { return face_; }
  long Style() const { return style_; }

 private:
  short points_ = 0;
  CL_String face_;
  long style_ = 0;
};

// What the platform is asked for when a font is made: cell height from the point size and
// the device's vertical pixels per inch (divisor 72.24), weight and flags from the style,
// at most 31 characters of the face. Computed in 64 bits: a large size or resolution gives
// a large height, never a wrapped or negative one.
struct UI_FontRequest {
  long height = 0;
  int weight = 400;
  bool italic = false, underline = false, strikeout = false;
  char face[32] = {};
};
[[nodiscard]] bool UI_MakeFontRequest(const UI_FontDesc& desc, long pixels_per_inch,
                                      UI_FontRequest* out);  // false for an empty face
// The point size of a font of the given cell height; 0 for a resolution below 1.
long UI_PointSizeFromHeight(long height, long pixels_per_inch);
// The height, clamped to what a LOGFONT's 32-bit field holds.
long UI_FontCellHeight(long points, long pixels_per_inch);

class UI_PenDescriptor : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_PenDescriptor() = default;
  UI_PenDescriptor(short thickness, const UI_Color& color, long pattern)
      : thickness_(thickness), color_(color), pattern_(pattern) {}
  UI_PenDescriptor(const UI_PenDescriptor& d)
      : CL_Object(), thickness_(d.thickness_), color_(d.color_), pattern_(d.pattern_) {}
  const char* ClassName() const override;  // "UI_PenDescriptor"
  CL_Long ClassId() const override;
  short Thickness() const { return thickness_; }
  const UI_Color& Color() const { return color_; }
  long Pattern() const { return pattern_; }

 private:
  short thickness_ = 1;
  UI_Color color_;
  long pattern_ = 1;
};

class UI_BrushDescriptor : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_BrushDescriptor() = default;
  UI_BrushDescriptor(const UI_Color& color, long pattern) : color_(color), pattern_(pattern) {}
  UI_BrushDescriptor(const UI_BrushDescriptor& d)
      : CL_Object(), color_(d.color_), pattern_(d.pattern_) {}
  const char* ClassName() const override;  // "UI_BrushDescriptor"
  CL_Long ClassId() const override;
  const UI_Color& Color() const { return color_; }
  long Pattern() const { return pattern_; }

 private:
  UI_Color color_;
  long pattern_ = 2;
};

// Pen pattern to pen style: 0 none, 2 dashed, 3 dotted, anything else solid.
enum class UI_PenStyle { kNone, kSolid, kDash, kDot };
UI_PenStyle UI_PenStyleFor(long pattern);
// Brush pattern: 0 hatched (back diagonal), 1 hollow, anything else solid.
enum class UI_BrushStyle { kHatched, kHollow, kSolid };
UI_BrushStyle UI_BrushStyleFor(long pattern);

#endif  // TW_TWCL_UI_COLOR_H_
