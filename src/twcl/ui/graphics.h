// Drawing surfaces: a window's or bitmap's device context with a pen, a brush and a font,
// on which the shapes draw themselves.
#ifndef TW_TWCL_UI_GRAPHICS_H_
#define TW_TWCL_UI_GRAPHICS_H_

#include <functional>
#include <memory>
#include <vector>

#include "twcl/ui/bitmap_data.h"
#include "twcl/ui/color.h"
#include "twcl/ui/font.h"
#include "twcl/ui/visual.h"

// Fill modes of the Draw operations: 1 outline, 2 filled. The surface owns a pen, a brush
// and a font, each selected into its context as it changes.
class UI_DrawingSurface {
 public:
  explicit UI_DrawingSurface(void* device_context);
  ~UI_DrawingSurface();
  UI_DrawingSurface(const UI_DrawingSurface&) = delete;
  // The device context, for the bitmap and DIB operations.
  void* NativeHandle() const { return dc_; }

  UI_Pen& Pen() { return *pen_; }
  UI_Brush& Brush() { return *brush_; }
  UI_Font& Font() { return *font_; }
  void SetPen(const UI_PenDescriptor& pen) { *pen_ = pen; }
  void SetBrush(const UI_BrushDescriptor& brush) { *brush_ = brush; }
  void SetFont(const UI_FontDesc& font) { *font_ = font; }
  // The width of the text in the surface's font; 0 when it cannot be measured.
  short TextWidth(const char* text) const { return font_->Width(text); }
  // A stack of pen, brush and font: Restore brings back the last saved; false when
  // nothing is saved.
  bool SaveAttributes();
  bool RestoreAttributes();

  bool DrawPoint(const UI_Point& p);
  bool DrawLine(const UI_Point& a, const UI_Point& b);
  bool DrawRectangle(const UI_Rectangle& r, int mode);
  bool DrawEllipse(const UI_Rectangle& box, int mode);
  // Angles in 1/64 degree, counter-clockwise from the positive x axis.
  bool DrawArc(const UI_Rectangle& box, long start, long subtended);
  bool DrawChord(const UI_Rectangle& box, long start, long subtended, int mode);
  bool DrawPieWedge(const UI_Rectangle& box, long start, long subtended, int mode);
  bool DrawText(const char* text, const UI_Point& at);
  bool DrawBitmap(const UI_BitmapData& picture, const UI_Point& at);

 private:
  void* dc_;
  std::unique_ptr<UI_Pen> pen_;
  std::unique_ptr<UI_Brush> brush_;
  std::unique_ptr<UI_Font> font_;
  std::vector<SurfaceAttributes> saved_;
};

// A child window whose picture is drawn by a function.
class UI_PaintWindow : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  UI_PaintWindow(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                 std::function<void(UI_DrawingSurface&)> paint)
      : UI_VisualObject(parent, shape, id), paint_(std::move(paint)) {}
  const char* ClassName() const override;  // "UI_PaintWindow"
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) override;

 private:
  std::function<void(UI_DrawingSurface&)> paint_;
};

// Mouse cursors by number: 1 arrow, 2 wait, 3 cross, 4 I-beam, 5 north-south, 6 west-east,
// 7 up arrow; 0 none. Loaded once and shared.
class UI_Cursor {
 public:
  explicit UI_Cursor(int type);
  int Type() const { return type_; }
  void* Handle() const { return handle_; }
  bool Use() const;  // makes it the pointer's shape

 private:
  int type_ = 0;
  void* handle_ = nullptr;
};

#endif  // TW_TWCL_UI_GRAPHICS_H_
