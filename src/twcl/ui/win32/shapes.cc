#include "twcl/ui/shapes.h"

#include <vector>

#include "twcl/ui/graphics.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

bool UI_Arc::DrawOn(UI_DrawingSurface& s, NativePoint offset) const {
  return s.DrawArc(rect_ + offset, start_, subtended_);
}

bool UI_Chord::DrawOn(UI_DrawingSurface& s, NativePoint offset) const {
  return s.DrawChord(Arc().Rect() + offset, start_, subtended_, 1);
}

bool UI_Chord::Fill(UI_DrawingSurface& s) const { return s.DrawChord(Arc().Rect(), start_, subtended_, 2); }

bool UI_PieWedge::DrawOn(UI_DrawingSurface& s, NativePoint offset) const {
  return s.DrawPieWedge(arc_.Rect() + offset, StartAngle(), SubtendedAngle(), 1);
}

bool UI_PieWedge::Fill(UI_DrawingSurface& s) const {
  return s.DrawPieWedge(arc_.Rect(), StartAngle(), SubtendedAngle(), 2);
}

bool UI_ShadowRectangle::DrawOn(UI_DrawingSurface& s, NativePoint offset) const {
  HDC dc = static_cast<HDC>(s.NativeHandle());
  if (!dc) return false;
  // The surface's own pen and brush are left as they were.
  int saved = SaveDC(dc);
  std::vector<HGDIOBJ> made;
  for (const UI_Stroke& k : Strokes(offset)) {
    COLORREF c = UI_Color(k.color).NativeForm();
    HPEN pen = CreatePen(PS_SOLID, 1, c);
    made.push_back(pen);
    SelectObject(dc, pen);
    long x = k.a.XCoord(), y = k.a.YCoord(), w = k.b.XCoord(), h = k.b.YCoord();
    switch (k.kind) {
      case UI_Stroke::kLine:
        MoveToEx(dc, int(x), int(y), nullptr);
        LineTo(dc, int(w), int(h));
        break;
      case UI_Stroke::kOutline:
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, int(x), int(y), int(x + w), int(y + h));
        break;
      case UI_Stroke::kFill: {
        RECT r = {LONG(x), LONG(y), LONG(x + w), LONG(y + h)};
        HBRUSH b = CreateSolidBrush(c);
        made.push_back(b);
        FillRect(dc, &r, b);
        break;
      }
    }
  }
  RestoreDC(dc, saved);
  for (HGDIOBJ o : made) DeleteObject(o);
  return true;
}
