// Fonts, pens and brushes as platform drawing objects, and the shared table of made fonts
// through which equal fonts use one platform font. Plain C++: platform objects travel as
// pointer-sized handles. The table and the font descriptors' arithmetic are portable; the
// objects that make platform fonts, pens and brushes live in the Win32 half.
#ifndef TW_TWCL_UI_FONT_H_
#define TW_TWCL_UI_FONT_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "twcl/ui/color.h"

class UI_DrawingSurface;
class UI_VisualObject;

// What the platform reports of a made font.
struct UI_TextMetrics {
  long height = 0, ascent = 0, descent = 0, internal_leading = 0, external_leading = 0;
  long ave_char_width = 0, max_char_width = 0, weight = 0, overhang = 0;
  long aspect_x = 0, aspect_y = 0;
  char first_char = 0, last_char = 0, default_char = 0, break_char = 0;
  bool italic = false, underlined = false, struck_out = false;
  std::uint8_t pitch_and_family = 0;
};

// A font the display offers, as EnumerateFonts lists it.
class UI_FontInfo : public UI_FontDesc {
 public:
  using CL_Object::operator=;
  UI_FontInfo(const CL_String& face, short points, long style, bool scalable)
      : UI_FontDesc(face, points, style), scalable_(scalable) {}
  UI_FontInfo(const UI_FontInfo& o) : UI_FontDesc(o), scalable_(o.scalable_) {}
  UI_FontInfo& operator=(const UI_FontInfo& o);
  const char* ClassName() const override;  // "UI_FontInfo"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;
  short Compare(const CL_Object& other) const override;  // the descriptor's keys, then scalable
  // "Arial 10 points bold", "Arial scalable italic".
  CL_String AsString() const override;
  bool IsScalable() const { return scalable_; }

 private:
  bool scalable_;
};

// One made font: the descriptor of the font the platform actually chose, its metrics and
// handle, and how many fonts use it.
class UI_FontEntry : public UI_FontDesc {
 public:
  using CL_Object::operator=;
  using Release = void (*)(void* handle);
  UI_FontEntry(const UI_FontDesc& desc, long stock_number, bool is_stock)
      : UI_FontDesc(desc), stock_number_(stock_number), is_stock_(is_stock) {}
  // Frees the platform font through the release function it was made with (stock fonts
  // have none).
  ~UI_FontEntry() override;
  UI_FontEntry(const UI_FontEntry&) = delete;
  const char* ClassName() const override;  // "UI_FontEntry"
  CL_Long ClassId() const override;

  long StockNumber() const { return stock_number_; }
  bool IsStock() const { return is_stock_; }
  void* Handle() const { return handle_; }
  void SetHandle(void* handle, Release release) {
    handle_ = handle;
    release_ = release;
  }
  UI_TextMetrics metrics;
  short count = 0;

 private:
  long stock_number_;
  bool is_stock_;
  void* handle_ = nullptr;
  Release release_ = nullptr;
};

// The made fonts of the program, found by descriptor (face, size, style).
class UI_FontTable {
 public:
  static UI_FontTable& Shared();
  UI_FontEntry* Find(const UI_FontDesc& desc) const;
  // Enters a new entry and answers the entry now in the table for its descriptor: when an
  // equal one is there already, that one, and the new entry is destroyed.
  UI_FontEntry* Add(std::unique_ptr<UI_FontEntry> entry);
  void Acquire(UI_FontEntry* entry);
  // One user fewer; the last one's leaving removes the entry and frees its platform font.
  void Release(UI_FontEntry* entry);
  std::size_t Size() const { return entries_.size(); }

 private:
  std::vector<std::unique_ptr<UI_FontEntry>> entries_;
};

// The point size the font dialog reports for a chosen cell height (a LOGFONT height, of
// either sign) on a display of that many pixels per inch. Computed in 64 bits and clamped
// to a point size's 16 bits; 0 for a resolution below 1.
long UI_FontDialogPointSize(long height, long pixels_per_inch);

// A platform drawing object and the surface whose context it is selected into.
class UI_DisplayResource : public CL_Object {
 public:
  using CL_Object::operator=;
  const char* ClassName() const override;  // "UI_DisplayResource"
  void* Handle() const { return handle_; }
  UI_DrawingSurface* Client() const { return client_; }
  // Re-makes the platform object from the attributes and selects it into the client's
  // context.
  virtual void MakeNativeObject() = 0;

 protected:
  UI_DisplayResource() = default;
  UI_DisplayResource(const UI_DisplayResource&) : CL_Object() {}
  // An attribute change under the change protocol, the platform object made anew; true
  // when it could be made. Inline, so that code that only draws through a surface's
  // virtual operations (the shapes) links without the Win32 half.
  template <class F>
  bool ChangeAttributes(F set) {
    if (!PrepareToChange()) return false;
    set();
    MakeNativeObject();
    Notify();
    return handle_ != nullptr;
  }
  void* handle_ = nullptr;
  UI_DrawingSurface* client_ = nullptr;
};

// A font. Equal fonts share one platform font through the font table; the readers answer
// what the platform chose (the face it substituted for a missing one, for instance).
class UI_Font : public UI_DisplayResource {
 public:
  using CL_Object::operator=;
  UI_Font();  // the platform's system font (stock font 13)
  explicit UI_Font(UI_DrawingSurface* client);
  UI_Font(const CL_String& face, short points, long style = 0);
  UI_Font(const UI_Font& f);
  ~UI_Font() override;
  const char* ClassName() const override;  // "UI_Font"
  CL_Long ClassId() const override;

  void SetClient(UI_DrawingSurface* client);
  void MakeNativeObject() override;

  short PointSize() const;
  CL_String TypeFace() const;
  long Style() const;
  bool IsItalic() const { return Style() & UI_FontItalic; }
  bool IsUnderlined() const { return Style() & UI_FontUnderline; }
  bool IsBold() const { return Style() & UI_FontBold; }
  bool IsStrikeOut() const { return Style() & UI_FontStrikeOut; }
  bool IsStock() const { return is_stock_; }
  long Height() const;
  long Ascent() const;
  long Descent() const;
  long AverageCharWidth() const;
  bool IsFixedPitch() const;  // the low four bits of the pitch-and-family byte are 1
  bool IsVector() const;
  const UI_TextMetrics* TextMetrics() const;  // null while no platform font is made
  UI_FontDesc Descriptor() const;

  // Setters: an unchanged value does nothing; a changed one asks the pre-change
  // dependents, stores it, re-makes the platform font and tells the dependents.
  bool PointSize(short points);
  bool TypeFace(const CL_String& face);
  bool Italic(bool on);
  bool Underline(bool on);
  bool Bold(bool on);
  bool StrikeOut(bool on);
  bool Style(long style);  // bits 0 to 3
  UI_Font& operator=(const UI_FontDesc& d);
  UI_Font& operator=(const UI_Font& f);
  CL_Object& operator=(const CL_Object& other) override;  // from a UI_FontDesc only

  // The width of the text in this font: on the client's context, else on the screen's.
  short Width(const char* text) const;
  // Takes the platform's stock font of that number.
  bool UseStock(int stock_number);
  // The fonts the display offers, sorted; built on the first call, rebuilt on each later
  // one (so the list never holds a font twice).
  static const std::vector<UI_FontInfo>& EnumerateFonts();

 private:
  bool Change(short points, const CL_String& face, long style);
  short points_ = 0;
  CL_String face_;
  long stock_number_ = 13;
  long style_ = 0;
  bool is_stock_ = true;
  long height_ = 0, ave_width_ = 0;
  UI_FontEntry* entry_ = nullptr;
};

// A pen: thickness, colour and pattern (0 none, 2 dashed, 3 dotted, else solid).
class UI_Pen : public UI_DisplayResource {
 public:
  using CL_Object::operator=;
  UI_Pen(UI_DrawingSurface* client, short thickness, const UI_Color& color, long pattern);
  explicit UI_Pen(UI_DrawingSurface* client, const UI_PenDescriptor& d = UI_PenDescriptor())
      : UI_Pen(client, d.Thickness(), d.Color(), d.Pattern()) {}
  ~UI_Pen() override;
  UI_Pen(const UI_Pen&) = delete;
  const char* ClassName() const override;  // "UI_Pen"
  CL_Long ClassId() const override;
  void MakeNativeObject() override;

  bool Thickness(short t) {
    return ChangeAttributes([&] { thickness_ = t; });
  }
  bool Color(const UI_Color& c) {
    return ChangeAttributes([&] { color_ = c; });
  }
  bool Pattern(long p) {
    return ChangeAttributes([&] { pattern_ = p; });
  }
  UI_Pen& operator=(const UI_PenDescriptor& d) {
    ChangeAttributes([&] {
      thickness_ = d.Thickness();
      color_ = d.Color();
      pattern_ = d.Pattern();
    });
    return *this;
  }
  CL_Object& operator=(const CL_Object& other) override;  // not offered: warns
  UI_PenDescriptor Descriptor() const { return UI_PenDescriptor(thickness_, color_, pattern_); }

 private:
  short thickness_;
  UI_Color color_;
  long pattern_;
};

// A brush: colour and pattern (0 hatched, 1 hollow, else solid).
class UI_Brush : public UI_DisplayResource {
 public:
  using CL_Object::operator=;
  UI_Brush(UI_DrawingSurface* client, const UI_Color& color, long pattern);
  explicit UI_Brush(UI_DrawingSurface* client, const UI_BrushDescriptor& d = UI_BrushDescriptor())
      : UI_Brush(client, d.Color(), d.Pattern()) {}
  ~UI_Brush() override;
  UI_Brush(const UI_Brush&) = delete;
  const char* ClassName() const override;  // "UI_Brush"
  CL_Long ClassId() const override;
  void MakeNativeObject() override;

  bool Color(const UI_Color& c) {
    return ChangeAttributes([&] { color_ = c; });
  }
  bool Pattern(long p) {
    return ChangeAttributes([&] { pattern_ = p; });
  }
  UI_Brush& operator=(const UI_BrushDescriptor& d) {
    ChangeAttributes([&] {
      color_ = d.Color();
      pattern_ = d.Pattern();
    });
    return *this;
  }
  CL_Object& operator=(const CL_Object& other) override;  // not offered: warns
  UI_BrushDescriptor Descriptor() const { return UI_BrushDescriptor(color_, pattern_); }

 private:
  UI_Color color_;
  long pattern_;
};

// The three attributes a surface saves and restores.
struct SurfaceAttributes {
  UI_PenDescriptor pen;
  UI_BrushDescriptor brush;
  UI_FontDesc font;
};

// The system font dialog over the owner's window, starting at the font's present
// descriptor. Chosen: the font takes the chosen face, size and style, true. Cancelled (or
// the dialog failed): false and the font unchanged.
bool UI_FontSelectDialog(UI_VisualObject* owner, UI_Font& font);

#endif  // TW_TWCL_UI_FONT_H_
