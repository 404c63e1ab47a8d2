// twcl-gallery's panel of fonts, pens and brushes, in a scrollable window.
#include "twcl/ui/graphics.h"
#include "twcl/ui/scroll_window.h"

namespace {

// Pens of each pattern, brushes of each kind and text in the surface's own font.
void DrawPens(UI_DrawingSurface& s) {
  for (long pattern = 1; pattern <= 3; ++pattern) {
    s.SetPen(UI_PenDescriptor(short(pattern == 1 ? 3 : 1), UI_Color(int(pattern)), pattern));
    long y = 6 + (pattern - 1) * 8;
    s.DrawLine(UI_Point(4, y), UI_Point(80, y));
  }
  s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
  const long patterns[] = {0, 1, 2};
  for (int i = 0; i < 3; ++i) {
    s.SetBrush(UI_BrushDescriptor(UI_Color(i + 1), patterns[i]));
    s.DrawRectangle(UI_Rectangle(90 + i * 26, 2, 22, 22), 2);
  }
  s.SetFont(UI_FontDesc("DejaVu Sans Mono", 10, UI_FontUnderline));
  s.DrawText("pens, brushes", UI_Point(4, 30));
}

}  // namespace

void AddFontPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  auto* scroll = new UI_ScrollableWindow(window, shape, id);
  (new UI_Label(scroll, UI_Rectangle(4, 2, 200, 26), id + 1, "Chosen font"))
      ->SetFont(UI_FontDesc("DejaVu Serif", 14, UI_FontBold | UI_FontItalic));
  (new UI_Label(scroll, UI_Rectangle(210, 8, 200, 20), id + 2, "DejaVu Sans 9, underlined"))
      ->SetFont(UI_FontDesc("DejaVu Sans", 9, UI_FontUnderline));
  new UI_PaintWindow(scroll, UI_Rectangle(4, 32, 170, 60), id + 3, DrawPens);
  scroll->VScrollBar()->SetPosition(25);
  scroll->HScrollBar()->SetPosition(60);
}
