// twcl-gallery: one window holding each control kind and a drawing of every shape, for
// people to look at. With a file name it writes the window's picture there (BMP) and
// exits: 0 when the picture was taken and shows more than a blank window.
#include <cstdio>
#include <set>

#include "twcl/ui/bitmap.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/picture_button.h"
#include "twcl/ui/probe.h"
#include "twcl/ui/shapes.h"

namespace {

const UI_ButtonDescriptor kRadios[] = {
    {21, 8, 18, 90, 20, "Radio one"}, {22, 8, 42, 90, 20, "Radio two"}, {0, 0, 0, 0, 0, nullptr}};
const UI_ButtonDescriptor kChecks[] = {
    {24, 8, 18, 90, 20, "Check one"}, {25, 8, 42, 90, 20, "Check two"}, {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kTable[] = {
    {UI_KindLabel, 10, 10, 10, 200, 20, false, "Label: every control kind", nullptr},
    {UI_KindStringEditor, 11, 10, 34, 200, 22, true, "String editor", nullptr},
    {UI_KindTextEditor, 12, 10, 62, 200, 60, true, "Text editor\r\nsecond line", nullptr},
    {UI_KindToggle, 13, 10, 128, 200, 20, true, "Toggle button", nullptr},
    {UI_KindExOrToggle, 14, 10, 150, 200, 20, true, "Exclusive toggle", nullptr},
    {UI_KindSingleSelView, 15, 10, 176, 95, 80, true, nullptr, nullptr},
    {UI_KindMultiSelView, 16, 115, 176, 95, 80, true, nullptr, nullptr},
    {UI_KindComboBox, 17, 10, 262, 200, 100, true, nullptr, nullptr},
    {UI_KindHScrollBar, 18, 10, 292, 200, 16, true, nullptr, nullptr},
    {UI_KindVScrollBar, 19, 216, 10, 16, 298, true, nullptr, nullptr},
    {UI_KindExOrGroup, 20, 240, 10, 110, 70, false, "Exclusive group", kRadios},
    {UI_KindOrGroup, 23, 360, 10, 110, 70, false, "Group", kChecks},
    {UI_KindPushButton, 1, 240, 282, 90, 26, true, "Push button", nullptr},
    {UI_KindPushButton, 2, 340, 282, 90, 26, true, "Cancel", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

// A 32 x 32 target in four colours, for the picture button and the bitmap drawings.
UI_BitmapData Target() {
  static const std::uint8_t table[] = {255, 255, 255, 200, 0, 0, 0, 0, 160, 250, 200, 0};
  std::uint32_t px[32 * 32];
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      int d = (x - 16) * (x - 16) + (y - 16) * (y - 16);
      px[y * 32 + x] = d < 25 ? 1 : d < 100 ? 3 : d < 225 ? 2 : 0;
    }
  return UI_BitmapData(32, 32, 8, 4, table, px);
}

// The shapes of the arc family and the shadowed panels as classes, drawn on a bitmap
// surface that is then copied onto the window.
void DrawShapeClasses(UI_DrawingSurface& s) {
  UI_BitmapSurface b(200, 130);
  b.SetPen(UI_PenDescriptor(2, UI_Color(2), 1));
  UI_Arc(UI_Rectangle(5, 5, 60, 40), 30 * 64, 240 * 64).DrawOn(b);
  b.SetBrush(UI_BrushDescriptor(UI_Color(1), 2));
  UI_Chord(UI_Rectangle(70, 5, 60, 40), 200 * 64, 220 * 64).Fill(b);
  b.SetBrush(UI_BrushDescriptor(UI_Color(3), 2));
  UI_PieWedge(UI_Rectangle(135, 5, 60, 40), 45 * 64, 270 * 64).Fill(b);
  UI_ShadowRectangle(5, 55, 90, 30, 0, 3).DrawOn(b);    // raised
  UI_ShadowRectangle(105, 55, 90, 30, 1, 3).DrawOn(b);  // sunken
  b.DrawText("raised", UI_Point(28, 62));
  b.DrawText("sunken", UI_Point(128, 62));
  UI_Bitmap pic;
  if (pic.BuildFrom(Target())) pic.DrawOn(b, UI_Point(84, 93));
  b.CopyTo(s, b.DrawingArea());
}

void DrawShapes(UI_DrawingSurface& s) {
  s.SetPen(UI_PenDescriptor(2, UI_Color(2), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(5), 2));
  s.DrawRectangle(UI_Rectangle(5, 5, 50, 35), 2);        // rectangle
  s.DrawEllipse(UI_Rectangle(65, 5, 60, 35), 2);         // ellipse
  s.DrawArc(UI_Rectangle(135, 5, 50, 35), 0, 180 * 64);  // arc
  s.SetBrush(UI_BrushDescriptor(UI_Color(1), 0));
  s.DrawChord(UI_Rectangle(5, 50, 50, 50), 30 * 64, 200 * 64, 2);  // chord
  s.SetBrush(UI_BrushDescriptor(UI_Color(3), 2));
  s.DrawPieWedge(UI_Rectangle(65, 50, 50, 50), 0, 90 * 64, 2);  // pie wedge
  s.SetPen(UI_PenDescriptor(1, UI_Color(0), 2));
  s.DrawLine(UI_Point(135, 55), UI_Point(185, 95));  // line segment
  s.DrawPoint(UI_Point(160, 60));                    // point
  // A shadow rectangle: grey face, light and dark bevel.
  s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(6), 2));
  s.DrawRectangle(UI_Rectangle(5, 110, 120, 40), 2);
  s.SetPen(UI_PenDescriptor(1, UI_Color(5), 1));
  s.DrawLine(UI_Point(6, 111), UI_Point(124, 111));
  s.DrawLine(UI_Point(6, 111), UI_Point(6, 149));
  s.SetPen(UI_PenDescriptor(1, UI_Color(7), 1));
  s.DrawLine(UI_Point(6, 148), UI_Point(124, 148));
  s.DrawLine(UI_Point(124, 148), UI_Point(124, 111));
  s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
  s.DrawText("Shapes", UI_Point(20, 122));
  // A small bitmap built from numbers.
  std::uint8_t table[] = {255, 0, 0, 0, 160, 0, 0, 0, 255, 255, 255, 0};
  std::uint32_t px[16 * 16];
  for (int i = 0; i < 256; ++i) px[i] = std::uint32_t((i / 16 + i % 16) % 4);
  s.DrawBitmap(UI_BitmapData(16, 16, 8, 4, table, px), UI_Point(140, 120));
}

}  // namespace

// A scrollable window with text in a chosen font and a drawing of pens and brushes
// (gallery_fonts.cc).
void AddFontPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);
// Labels in their three alignments and a long list chosen past its 32nd line
// (gallery_buttons.cc).
void AddButtonsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);
// An editable combo box, a selection in an editor and a paged scroll bar (gallery_editors.cc).
void AddEditorPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);
// A window in its own background colour and an event's text form (gallery_events.cc).
void AddEventPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);
// A child composite with a frame; the main window's size limits (gallery_windows.cc).
void AddWindowPanel(UI_CompositeVObject* window, const UI_Rectangle& shape, long id);
// The drawing-surface operations (gallery_graphics.cc).
void AddGraphicsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);
// A radio group from a button table, two views of one sequence (gallery_controls.cc).
void AddControlsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id);

int main(int argc, char** argv) {
  UI_Application app("twcl-gallery", argc < 2);
  UI_CompositeVObject window(nullptr, kTable, false, UI_Rectangle(20, 20, 690, 730), -1,
                             "twcl-gallery");
  AddFontPanel(&window, UI_Rectangle(240, 318, 440, 132), 40);
  AddButtonsPanel(&window, UI_Rectangle(10, 318, 222, 132), 50);
  AddEditorPanel(&window, UI_Rectangle(320, 458, 220, 80), 70);
  AddWindowPanel(&window, UI_Rectangle(10, 458, 300, 92), 60);
  AddEventPanel(&window, UI_Rectangle(10, 558, 220, 64), 80);
  AddGraphicsPanel(&window, UI_Rectangle(240, 558, 222, 132), 90);
  AddControlsPanel(&window, UI_Rectangle(548, 458, 136, 180), 120);
  new UI_PaintWindow(&window, UI_Rectangle(480, 10, 200, 160), 30, DrawShapes);
  new UI_PaintWindow(&window, UI_Rectangle(480, 175, 200, 130), 31, DrawShapeClasses);
  UI_BitmapData target = Target();
  new UI_BitmapPushButton(&window, UI_Rectangle(360, 90, 110, 70), 32, &target, "Picture button");
  new UI_Label(&window, UI_Rectangle(360, 165, 110, 20), 33, "Picture button");
  if (!window.MakeVisualElement()) return 1;
  const char* fruit[] = {"apple", "pear", "plum", "quince", nullptr};
  for (long id : {15L, 16L, 17L})
    static_cast<UI_StringView*>(window.Child(id))->Items() = CL_StringSequence(fruit, -1);
  static_cast<UI_StringView*>(window.Child(15))->Selection() = 1;
  CL_IntegerSet picked;
  picked.Add(0);
  picked.Add(2);
  static_cast<UI_MultiSelStringView*>(window.Child(16))->Selection() = picked;
  static_cast<UI_StringView*>(window.Child(17))->Selection() = 2;
  static_cast<UI_StringView*>(window.Child(55))->ScrollTo(30);
  static_cast<UI_ToggleButton*>(window.Child(13))->State() = 1;
  static_cast<UI_ExOrButtonGroup*>(window.Child(20))->Selection() = 22;
  static_cast<UI_OrButtonGroup*>(window.Child(23))->Selection() = CL_IntegerSet(24, 25);
  static_cast<UI_ScrollBar*>(window.Child(18))->SetPosition(40);
  static_cast<UI_ScrollBar*>(window.Child(19))->SetPosition(70);
  if (argc < 2) return app.Run(&window);

  UI_Controller::Instance().FlushEvents();
  UI_BitmapData shot;
  if (!UI_ProbeCapture(window.Handle(), &shot)) return 1;
  std::set<std::uint32_t> colours(shot.Pixels().begin(), shot.Pixels().end());
  if (!shot.WriteTo(argv[1])) return 1;
  std::printf("%s: %dx%d, %zu colours\n", argv[1], shot.Width(), shot.Height(), colours.size());
  return colours.size() > 8 ? 0 : 1;
}
