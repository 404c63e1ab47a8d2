// Drawing surfaces: a window's or bitmap's device context with a pen, a brush and a font,
// on which the shapes draw themselves.
#ifndef TW_TWCL_UI_GRAPHICS_H_
#define TW_TWCL_UI_GRAPHICS_H_

#include <functional>
#include <memory>
#include <vector>

#include "twcl/ui/bitmap_data.h"
#include "twcl/ui/color.h"
#include "twcl/ui/cursor.h"
#include "twcl/ui/font.h"
#include "twcl/ui/visual.h"

inline constexpr CL_Long UI_ClassId_DrawingSurface = 262;
inline constexpr CL_Long UI_ClassId_DisplaySurface = 263;
inline constexpr CL_Long UI_ClassId_BitmapSurface = 264;

class UI_Arc;
class UI_Bitmap;
class UI_Chord;
class UI_PieWedge;

// A device context with a pen, a brush and a font selected into it, on which the shapes
// draw themselves. Options of the Draw operations: 1 outline with the pen, 2 fill with the
// brush, 3 both; 0 draws nothing. Rectangles include their Right and Bottom. A surface
// without a context draws nothing and answers false.
class UI_DrawingSurface : public CL_Object {
 public:
  using CL_Object::operator=;
  ~UI_DrawingSurface() override;
  UI_DrawingSurface(const UI_DrawingSurface&) = delete;
  const char* ClassName() const override;  // "UI_DrawingSurface"
  CL_Long ClassId() const override { return UI_ClassId_DrawingSurface; }
  // The device context, for the bitmap and DIB operations.
  void* NativeHandle() const { return dc_; }

  virtual double HorzPixelsPerMM() const = 0;
  virtual double VertPixelsPerMM() const = 0;
  virtual UI_Rectangle DrawingArea() const = 0;
  // The drawing area's size in whole inches.
  virtual UI_Rectangle DrawingAreaInInches() const = 0;
  virtual bool IsReady() const { return dc_ != nullptr; }
  virtual UI_Font& Font() { return *font_; }
  virtual UI_Pen& Pen() { return *pen_; }
  virtual UI_Brush& Brush() { return *brush_; }
  virtual bool DrawLine(const UI_Point& p, const UI_Point& q);  // q itself not drawn
  virtual bool ColorDrawingArea(const UI_Color& c);
  virtual bool ColorRectangle(const UI_Rectangle& r, const UI_Color& c);
  virtual bool InvertRectangle(const UI_Rectangle& r);
  // An empty rectangle (no width or no height) draws nothing, not even an outline around
  // its edge; one of less than 2 x 2 pixels is its origin's pixel in the pen's colour.
  virtual bool DrawRectangle(const UI_Rectangle& r, short options);
  virtual bool DrawEllipse(const UI_Rectangle& r, short options);
  virtual bool DrawArc(const UI_Arc& a);
  virtual bool DrawChord(const UI_Chord& c, short options);
  virtual bool DrawPieWedge(const UI_PieWedge& w, short options);
  // The outline is closed from the last point back to the first; fewer than 2 points draw
  // nothing and answer false.
  virtual bool DrawPolygon(const UI_Point* points, short count, short options);
  // Lines from each point to the next; answers count (nothing drawn below 2).
  virtual short DrawPolyLine(const UI_Point* points, short count);
  virtual bool DrawPoint(const UI_Point& p);  // in the brush's colour
  virtual bool DrawBitmap(const UI_Bitmap& b, const UI_Point& p);
  // Transparent drawing: where a bit of the mask (one bit a pixel, rows bottom-up, each
  // padded to 4 bytes) is 1 the surface shows through, and the picture should be black
  // there. False, drawing nothing, when the mask is too short for the picture.
  virtual bool DrawBitmap(const UI_Bitmap& b, const std::vector<std::uint8_t>& mask,
                          const UI_Point& p);
  // Alignment 0 left, 2 centred, any other right; drawn in the pen's colour on no ground.
  virtual bool WriteString(const CL_String& s, const UI_Rectangle& r, short alignment);
  // The width of the text in the surface's font; 0 when it cannot be measured.
  virtual short TextWidth(const char* text) const;
  // A stack of pen, brush and font: Restore brings back the last saved; false when
  // nothing is saved or there is no context.
  virtual bool SaveAttributes();
  virtual bool RestoreAttributes();
  // While the surface's font re-makes its platform font the context holds the system's.
  virtual bool UseSystemFont();
  virtual bool UseOwnFont();

  void SetPen(const UI_PenDescriptor& pen) { Pen() = pen; }
  void SetBrush(const UI_BrushDescriptor& brush) { Brush() = brush; }
  // A font of the surface's own with that descriptor (a font that is another's is left
  // alone).
  void SetFont(const UI_FontDesc& font);
  // Angles in 1/64 degree, counter-clockwise from the positive x axis.
  bool DrawArc(const UI_Rectangle& box, long start, long subtended);
  bool DrawChord(const UI_Rectangle& box, long start, long subtended, int options);
  bool DrawPieWedge(const UI_Rectangle& box, long start, long subtended, int options);
  bool DrawText(const char* text, const UI_Point& at);
  bool DrawBitmap(const UI_BitmapData& picture, const UI_Point& at);

 protected:
  // dc may be null (no context could be had): the attributes are made all the same.
  UI_DrawingSurface(void* device_context, bool own_font);
  // Takes f as the surface's font, following its changes; own is f when the surface owns
  // it, else null (f stays its owner's). The previous font is let go of first.
  void TakeFont(UI_Font* f, std::unique_ptr<UI_Font> own);
  // Deselects and deletes pen, brush and an own font, and lets go of a borrowed one, before
  // a derived surface gives its context back.
  void DropAttributes();

  void* dc_;
  long ppi_x_ = 0, ppi_y_ = 0;
  long device_width_ = 0, device_height_ = 0;
  std::unique_ptr<UI_Pen> pen_;
  std::unique_ptr<UI_Brush> brush_;
  std::unique_ptr<UI_Font> own_font_;
  UI_Font* font_ = nullptr;
  std::vector<SurfaceAttributes> saved_;

 private:
  void LetGoOfFont();
};

// A surface on the window of a visual object: the client's context, or a paint context
// handed in (which the caller gives back). Its font is the client's until one of its own
// is set; its brush has the window's background colour.
class UI_DisplaySurface : public UI_DrawingSurface {
 public:
  using CL_Object::operator=;
  using UI_DrawingSurface::DrawBitmap;
  using UI_DrawingSurface::Font;
  explicit UI_DisplaySurface(UI_VisualObject* client);
  UI_DisplaySurface(UI_VisualObject* client, void* paint_context);
  ~UI_DisplaySurface() override;
  const char* ClassName() const override;  // "UI_DisplaySurface"
  CL_Long ClassId() const override { return UI_ClassId_DisplaySurface; }

  double HorzPixelsPerMM() const override { return horz_ppmm_ / 1000.0; }
  double VertPixelsPerMM() const override { return vert_ppmm_ / 1000.0; }
  UI_Rectangle DrawingArea() const override;  // the client's shape
  // The context's background colour (the ground of opaque text and hatches).
  bool SetBackground(const UI_Color& c);
  UI_Rectangle DrawingAreaInInches() const override;
  // The palette of a bitmap read from a file is realised first.
  bool DrawBitmap(const UI_Bitmap& b, const UI_Point& p) override;
  bool SaveAttributes() override;     // the drawing mode as well
  bool RestoreAttributes() override;  // likewise
  // Draws in the font f (another's, followed while it changes); a font of the surface's
  // own goes.
  bool Font(UI_Font& f);
  // Raster operations 0 to 15: the sixteen functions of pen and screen from clear (0),
  // and (1), copy (3), xor (6), invert (10) to set (15); others warn and change nothing.
  virtual bool Mode(int m);
  virtual int Mode() const;  // 0 when the context's is none of them
  UI_VisualObject* Client() const { return client_; }

 private:
  void Init();
  UI_VisualObject* client_;
  bool borrowed_;  // the context is the caller's
  long horz_ppmm_ = 0, vert_ppmm_ = 0;
  std::vector<int> modes_;
};

// A child window whose picture is drawn by a function.
class UI_PaintWindow : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  UI_PaintWindow(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                 std::function<void(UI_DrawingSurface&)> paint)
      : UI_VisualObject(parent, shape, id), paint_(std::move(paint)) {}
  const char* ClassName() const override;  // "UI_PaintWindow"
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;

 private:
  std::function<void(UI_DrawingSurface&)> paint_;
};

#endif  // TW_TWCL_UI_GRAPHICS_H_
