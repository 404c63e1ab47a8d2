// twcl-gallery's panel of drawing-surface operations: polygons, polylines, aligned text,
// an exclusive-or mode, an inverted area and a picture drawn through a mask.
#include "twcl/ui/bitmap.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/shapes.h"

namespace {

void DrawSurfaceOperations(UI_DrawingSurface& s) {
  s.ColorDrawingArea(UI_Color(4));
  const UI_Point star[] = {UI_Point(30, 4),  UI_Point(38, 26), UI_Point(58, 26), UI_Point(42, 38),
                           UI_Point(48, 58), UI_Point(30, 46), UI_Point(12, 58), UI_Point(18, 38),
                           UI_Point(2, 26),  UI_Point(22, 26)};
  s.SetPen(UI_PenDescriptor(1, UI_Color(2), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(3), 2));
  s.DrawPolygon(star, 10, 3);
  const UI_Point zigzag[] = {UI_Point(66, 50), UI_Point(78, 10), UI_Point(90, 50),
                             UI_Point(102, 10), UI_Point(114, 50)};
  s.SetPen(UI_PenDescriptor(2, UI_Color(1), 1));
  s.DrawPolyLine(zigzag, 5);
  s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
  UI_Rectangle band(4, 64, 214, 16);
  s.WriteString("left", band, 0);
  s.WriteString("centred", band, 2);
  s.WriteString("right", band, 1);
  s.ColorRectangle(UI_Rectangle(124, 8, 90, 20), UI_Color(2));
  s.InvertRectangle(UI_Rectangle(124, 18, 90, 10));  // blue above, yellow below
  if (auto* d = dynamic_cast<UI_DisplaySurface*>(&s)) {
    d->SaveAttributes();
    d->Mode(6);  // exclusive-or: the line changes colour as it crosses
    s.SetPen(UI_PenDescriptor(3, UI_Color(4), 1));
    s.DrawLine(UI_Point(120, 4), UI_Point(218, 34));
    d->RestoreAttributes();
  }
  // A 16 x 16 square whose corners are masked out: the ground shows there.
  std::uint32_t px[16 * 16];
  std::vector<std::uint8_t> mask(16 * 4, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      bool corner = (x < 5 || x > 10) && (y < 5 || y > 10);
      px[y * 16 + x] = corner ? 0 : 0x00A000;
      if (corner)
        mask[std::size_t(15 - y) * 4 + std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
    }
  s.ColorRectangle(UI_Rectangle(130, 90, 60, 30), UI_Color(6));
  UI_Bitmap pic;
  if (pic.BuildFrom(UI_BitmapData(16, 16, 24, 0, nullptr, px))) {
    s.DrawBitmap(pic, UI_Point(140, 97));
    s.DrawBitmap(pic, mask, UI_Point(166, 97));
  }
  UI_ShadowRectangle(4, 90, 110, 30, 1, 2).DrawOn(s, UI_Point(0, 0));
  s.WriteString("surfaces", UI_Rectangle(4, 97, 110, 16), 2);
}

}  // namespace

void AddGraphicsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  new UI_PaintWindow(window, shape, id, DrawSurfaceOperations);
}
