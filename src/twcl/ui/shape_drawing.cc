// The shapes' drawing: each shape hands itself to the primitives of a drawing surface.
// Only the surface's virtual operations are called here, so the portable half links
// without the Win32 half that implements them; for the same reason this unit is built
// without the sanitizer's dynamic-type check, which would need the surface's type
// information from that half.
#include "twcl/ui/graphics.h"
#include "twcl/ui/shapes.h"

bool UI_Point::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  return s.DrawPoint(*this + offset.AsNativePoint());
}

bool UI_Rectangle::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  return s.DrawRectangle(*this + offset.AsNativePoint(), 1);
}

bool UI_Rectangle::Fill(UI_DrawingSurface& s) const {
  return s.DrawRectangle(*this, 2);
}

bool UI_Ellipse::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  return s.DrawEllipse(BoundingRectangle() + offset.AsNativePoint(), 1);
}

bool UI_Ellipse::Fill(UI_DrawingSurface& s) const {
  return s.DrawEllipse(BoundingRectangle(), 2);
}

bool UI_LineSegment::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  return s.DrawLine(p1_ + offset.AsNativePoint(), p2_ + offset.AsNativePoint());
}

bool UI_Arc::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  if (offset.XCoord() == 0 && offset.YCoord() == 0) return s.DrawArc(*this);
  return s.DrawArc(UI_Arc(rect_ + offset.AsNativePoint(), start_, subtended_));
}

bool UI_Chord::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  if (offset.XCoord() == 0 && offset.YCoord() == 0) return s.DrawChord(*this, 1);
  UI_Chord moved(*this);
  moved.cx_ += offset.XCoord();
  moved.cy_ += offset.YCoord();
  return s.DrawChord(moved, 1);
}

bool UI_Chord::Fill(UI_DrawingSurface& s) const {
  return s.DrawChord(*this, 2);
}

bool UI_PieWedge::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  if (offset.XCoord() == 0 && offset.YCoord() == 0) return s.DrawPieWedge(*this, 1);
  return s.DrawPieWedge(
      UI_PieWedge(arc_.Rect() + offset.AsNativePoint(), StartAngle(), SubtendedAngle()), 1);
}

bool UI_PieWedge::Fill(UI_DrawingSurface& s) const {
  return s.DrawPieWedge(*this, 2);
}

bool UI_ShadowRectangle::DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const {
  if (!s.SaveAttributes()) return false;
  bool ok = true;
  for (const UI_Stroke& k : Strokes(offset.AsNativePoint())) {
    UI_Color c(k.color);
    UI_Rectangle r(k.a, k.b.XCoord(), k.b.YCoord());
    switch (k.kind) {
      case UI_Stroke::kLine:
        s.Pen() = UI_PenDescriptor(1, c, 1);
        ok = s.DrawLine(k.a, k.b) && ok;
        break;
      case UI_Stroke::kOutline:
        s.Pen() = UI_PenDescriptor(1, c, 1);
        ok = s.DrawRectangle(r, 1) && ok;
        break;
      case UI_Stroke::kFill:
        ok = s.ColorRectangle(r, c) && ok;
        break;
    }
  }
  // The surface's own pen comes back whatever was drawn.
  return s.RestoreAttributes() && ok;
}
