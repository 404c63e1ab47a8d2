// Drawable pictures: a Win32 bitmap with its device-independent bitmap (DIB) kept in global
// memory and, for deep pictures read from files, a palette; and the off-screen surface that
// shapes and text can be drawn into. Handles travel as pointer-sized values, so this header
// needs no Win32 header.
#ifndef TW_TWCL_UI_BITMAP_H_
#define TW_TWCL_UI_BITMAP_H_

#include "twcl/base/object.h"
#include "twcl/ui/bitmap_data.h"
#include "twcl/ui/geometry.h"
#include "twcl/ui/graphics.h"

class UI_Bitmap : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Bitmap() = default;
  ~UI_Bitmap() override;
  UI_Bitmap(const UI_Bitmap&) = delete;

  const char* ClassName() const override;  // "UI_GraphicObject"

  // A BMP file, or a system bitmap by its "+OBM_..." name. A '+' name that is no system
  // bitmap leaves the picture empty and answers true; a file that cannot be read warns and
  // answers false, as does a corrupt one (with the reader's warning).
  bool BuildFrom(const char* name);
  // From numbers, on the surface's device context or the screen's when none is given. The
  // DIB kept is the picture as given (its depth and colour table).
  bool BuildFrom(const UI_BitmapData& data, UI_DrawingSurface* surface = nullptr);
  // Copies the rectangle of the surface (a screen capture on a window's surface).
  bool CopyFrom(UI_DrawingSurface& surface, const UI_Rectangle& r);

  UI_Rectangle BoundingRectangle() const override { return UI_Rectangle(0, 0, width_, height_); }
  // Asks the surface to draw the picture with its top-left corner at the point.
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& at) const override;
  bool MoveBy(NativePoint) override { return false; }  // a picture has no place of its own
  // Transparent drawing: where a bit of the mask (one bit a pixel, rows bottom-up, each
  // padded to 4 bytes) is 1 the surface shows through, and the picture should be black
  // there. False, drawing nothing, when the mask is too short for the picture.
  bool DrawOn(UI_DrawingSurface& s, const std::vector<std::uint8_t>& mask,
              const UI_Point& at) const;
  // The kept DIB as numbers; false for an empty picture.
  bool ToData(UI_BitmapData* out) const;

  long Width() const { return width_; }
  long Height() const { return height_; }
  long BitCount() const { return bits_; }
  void* Handle() const { return bitmap_; }    // HBITMAP
  void* Dib() const { return dib_; }          // HGLOBAL holding the packed DIB
  void* Palette() const { return palette_; }  // HPALETTE

 private:
  void Release();
  void* bitmap_ = nullptr;
  void* dib_ = nullptr;
  void* palette_ = nullptr;
  long width_ = 0, height_ = 0, bits_ = 0;
};

namespace ui_detail {
// The memory context and bitmap of a bitmap surface: made before the surface's pen and
// brush go into the context, and deleted after they are out of it.
struct MemoryContext {
  MemoryContext(long width, long height);
  ~MemoryContext();
  MemoryContext(const MemoryContext&) = delete;
  void* dc = nullptr;
  void* bitmap = nullptr;
  void* old = nullptr;
  long width, height;
};
}  // namespace ui_detail

// An off-screen picture of a given size, white at first, that shapes, text and bitmaps are
// drawn into like a window.
class UI_BitmapSurface : private ui_detail::MemoryContext, public UI_DrawingSurface {
 public:
  using CL_Object::operator=;
  UI_BitmapSurface(long width, long height);
  const char* ClassName() const override;  // "UI_BitmapSurface"
  CL_Long ClassId() const override { return UI_ClassId_BitmapSurface; }
  // A picture has no size on paper: it answers the screen's resolution.
  double HorzPixelsPerMM() const override { return horz_ppmm_ / 1000.0; }
  double VertPixelsPerMM() const override { return vert_ppmm_ / 1000.0; }
  UI_Rectangle DrawingArea() const override { return UI_Rectangle(0, 0, width, height); }
  UI_Rectangle DrawingAreaInInches() const override;
  // Copies the picture onto the target over the area given, or over its drawing area.
  bool CopyTo(UI_DrawingSurface& target, const UI_Rectangle& area) const;
  bool CopyTo(UI_DrawingSurface& target) const;
  void* BitmapHandle() const { return bitmap; }

 private:
  long horz_ppmm_ = 0, vert_ppmm_ = 0;
};

#endif  // TW_TWCL_UI_BITMAP_H_
