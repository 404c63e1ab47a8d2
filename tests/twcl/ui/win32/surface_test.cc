// Drawing surfaces on Wine's GDI: every drawing operation on a window's display surface and
// on a bitmap surface, with the pixels read back; raster modes, saved attributes, the
// surface and cursor of a visual object. Runs under Xvfb.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "read_back.h"
#include "twcl/ui/bitmap.h"
#include "twcl/ui/composite.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/probe.h"
#include "twcl/ui/shapes.h"

namespace {

// A 24-bit pixel value as the picture classes hold it: the file's bytes blue, green, red.
constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return b << 16 | g << 8 | r;
}
constexpr std::uint32_t kWhite = Rgb(255, 255, 255), kRed = Rgb(255, 0, 0), kBlue = Rgb(0, 0, 255),
                        kGreen = Rgb(0, 255, 0), kYellow = Rgb(255, 255, 0),
                        kCyan = Rgb(0, 255, 255), kBlack = 0;
constexpr long kW = 200, kH = 120;
constexpr std::uint32_t kWmSetCursor = 0x0020, kHtClient = 1, kWmMouseMove = 0x0200;

using SurfaceTest = CollectWarnings;

// The leftmost and rightmost columns of the band that hold a pixel other than white.
std::pair<long, long> Inked(const UI_BitmapData& d) {
  long lo = d.Width(), hi = -1;
  for (long y = 0; y < d.Height(); ++y)
    for (long x = 0; x < d.Width(); ++x)
      if (At(d, x, y) != kWhite) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
  return {lo, hi};
}

struct Probe {
  long x, y;
  std::uint32_t want;
};

// One drawing operation on a white ground and the pixels it must leave.
struct Step {
  const char* what;
  std::function<bool(UI_DrawingSurface&)> draw;
  std::vector<Probe> probes;
};

const UI_Point kSquare[] = {UI_Point(100, 10), UI_Point(120, 10), UI_Point(120, 30),
                            UI_Point(100, 30)};

std::vector<Step> Steps() {
  auto pen = [](UI_DrawingSurface& s, int c) { s.SetPen(UI_PenDescriptor(1, UI_Color(c), 1)); };
  auto brush = [](UI_DrawingSurface& s, int c) { s.SetBrush(UI_BrushDescriptor(UI_Color(c), 2)); };
  return {
      {"colour the drawing area",
       [](UI_DrawingSurface& s) { return s.ColorDrawingArea(UI_Color(3)); },
       {{0, 0, kRed}, {kW - 1, kH - 1, kRed}, {100, 60, kRed}}},
      {"colour a rectangle, its right and bottom included",
       [](UI_DrawingSurface& s) {
         return s.ColorRectangle(UI_Rectangle(10, 10, 5, 4), UI_Color(2));
       },
       {{10, 10, kBlue}, {14, 13, kBlue}, {15, 10, kWhite}, {10, 14, kWhite}}},
      {"invert a rectangle",
       [](UI_DrawingSurface& s) {
         return s.ColorRectangle(UI_Rectangle(10, 10, 5, 4), UI_Color(2)) &&
                s.InvertRectangle(UI_Rectangle(10, 10, 10, 4));
       },
       {{10, 10, kYellow}, {19, 13, kBlack}, {20, 10, kWhite}}},
      {"a 1 x 1 rectangle is one pixel in the pen's colour; empty ones nothing",
       [=](UI_DrawingSurface& s) {
         pen(s, 3);
         brush(s, 2);
         return s.DrawRectangle(UI_Rectangle(30, 30, 1, 1), 2) &&
                s.DrawRectangle(UI_Rectangle(40, 40, 0, 0), 3) &&
                s.DrawRectangle(UI_Rectangle(50, 40, 0, 5), 3);
       },
       {{30, 30, kRed}, {31, 30, kWhite}, {40, 40, kWhite}, {49, 42, kWhite}, {50, 42, kWhite}}},
      {"outlined, filled and both",
       [=](UI_DrawingSurface& s) {
         pen(s, 1);
         brush(s, 2);
         return s.DrawRectangle(UI_Rectangle(40, 10, 10, 8), 1) &&
                s.DrawRectangle(UI_Rectangle(60, 10, 10, 8), 2) &&
                s.DrawRectangle(UI_Rectangle(80, 10, 10, 8), 3) &&
                s.DrawRectangle(UI_Rectangle(40, 40, 10, 8), 0);
       },
       {{40, 10, kGreen},
        {49, 17, kGreen},
        {45, 13, kWhite},
        {60, 10, kBlue},
        {69, 17, kBlue},
        {70, 10, kWhite},
        {80, 10, kGreen},
        {89, 17, kGreen},
        {85, 13, kBlue},
        {45, 44, kWhite}}},
      {"a polygon's outline is closed by its last line",
       [=](UI_DrawingSurface& s) {
         pen(s, 3);
         return s.DrawPolygon(kSquare, 4, 1);
       },
       {{110, 10, kRed}, {120, 20, kRed}, {110, 30, kRed}, {100, 20, kRed}, {110, 20, kWhite}}},
      {"a filled polygon",
       [=](UI_DrawingSurface& s) {
         brush(s, 1);
         return s.DrawPolygon(kSquare, 4, 2) && !s.DrawPolygon(kSquare, 1, 3);
       },
       {{110, 20, kGreen}, {101, 11, kGreen}, {125, 20, kWhite}}},
      {"a polyline of one point draws nothing and answers 1",
       [=](UI_DrawingSurface& s) {
         pen(s, 2);
         const UI_Point zig[] = {UI_Point(10, 100), UI_Point(30, 100), UI_Point(30, 110)};
         return s.DrawPolyLine(zig, 1) == 1 && s.DrawPolyLine(zig + 1, 2) == 2 &&
                s.DrawPolyLine(zig, 3) == 3;
       },
       {{10, 100, kBlue}, {29, 100, kBlue}, {30, 105, kBlue}, {20, 105, kWhite}}},
      {"a point in the brush's colour",
       [=](UI_DrawingSurface& s) {
         pen(s, 3);
         brush(s, 2);
         return s.DrawPoint(UI_Point(150, 100));
       },
       {{150, 100, kBlue}, {151, 100, kWhite}}},
      {"the shapes through their base",
       [=](UI_DrawingSurface& s) {
         pen(s, 3);
         brush(s, 3);
         UI_Ellipse e(UI_Point(160, 40), 30, 20);
         const UI_GraphicObject& g = e;
         return g.Fill(s) && UI_Point(5, 5).DrawOn(s) &&
                UI_LineSegment(UI_Point(0, 80), UI_Point(20, 80)).DrawOn(s, UI_Point(0, 5));
       },
       {{160, 40, kRed}, {140, 40, kWhite}, {5, 5, kRed}, {10, 85, kRed}, {10, 80, kWhite}}},
  };
}

void RunSteps(UI_DrawingSurface& s) {
  for (const Step& st : Steps()) {
    SCOPED_TRACE(st.what);
    ASSERT_TRUE(s.ColorDrawingArea(UI_Color(4)));
    ASSERT_TRUE(st.draw(s));
    UI_BitmapData d = Pixels(s, UI_Rectangle(0, 0, kW, kH));
    for (const Probe& p : st.probes)
      EXPECT_EQ(At(d, p.x, p.y), p.want) << "at (" << p.x << ", " << p.y << ")";
  }

  // Text in a band, left, right and centred: the ink starts, ends or centres there.
  struct Align {
    short alignment;
    std::function<void(long lo, long hi)> check;
  } aligns[] = {
      {0, [](long lo, long) { EXPECT_LE(lo, 3); }},
      {1, [](long, long hi) { EXPECT_GE(hi, kW - 4); }},
      {2, [](long lo, long hi) { EXPECT_NEAR((lo + hi) / 2.0, (kW - 1) / 2.0, 3); }},
  };
  UI_Rectangle band(0, 60, kW, 20);
  for (const auto& a : aligns) {
    SCOPED_TRACE(a.alignment);
    ASSERT_TRUE(s.ColorDrawingArea(UI_Color(4)));
    s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
    ASSERT_TRUE(s.WriteString("Tarnway", band, a.alignment));
    auto [lo, hi] = Inked(Pixels(s, band));
    ASSERT_LT(lo, hi);
    EXPECT_LT(hi - lo, kW / 2);
    a.check(lo, hi);
  }

  // Bitmaps: plain, and through a mask where the ground shows.
  std::vector<std::uint32_t> px = {kRed, kRed, kBlack, kBlack, kBlue, kBlue, kBlack, kBlack};
  UI_Bitmap b;
  ASSERT_TRUE(b.BuildFrom(UI_BitmapData(4, 2, 24, 0, nullptr, px.data())));
  ASSERT_TRUE(s.ColorDrawingArea(UI_Color(1)));
  ASSERT_TRUE(s.DrawBitmap(b, UI_Point(3, 4)));
  EXPECT_EQ(Pixels(s, UI_Rectangle(3, 4, 4, 2)).Pixels(), px);
  const std::vector<std::uint8_t> mask = {0x30, 0, 0, 0, 0x30, 0, 0, 0};  // 0011 in each row
  ASSERT_TRUE(s.DrawBitmap(b, mask, UI_Point(20, 4)));
  EXPECT_EQ(Pixels(s, UI_Rectangle(20, 4, 4, 2)).Pixels(),
            (std::vector<std::uint32_t>{kRed, kRed, kGreen, kGreen, kBlue, kBlue, kGreen, kGreen}));
  EXPECT_FALSE(s.DrawBitmap(b, std::vector<std::uint8_t>(7, 0), UI_Point(0, 0)));
  EXPECT_FALSE(s.DrawBitmap(UI_Bitmap(), UI_Point(0, 0)));

  // Saved attributes come back whatever changed between.
  s.SetPen(UI_PenDescriptor(2, UI_Color(3), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(2), 2));
  ASSERT_TRUE(s.SaveAttributes());
  s.Pen().Color(UI_Color(1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(4), 0));
  ASSERT_TRUE(s.RestoreAttributes());
  EXPECT_EQ(s.Pen().Descriptor().Color(), UI_Color(3));
  EXPECT_EQ(s.Pen().Descriptor().Thickness(), 2);
  EXPECT_EQ(s.Brush().Descriptor().Color(), UI_Color(2));
  EXPECT_EQ(s.Brush().Descriptor().Pattern(), 2);
  EXPECT_FALSE(s.RestoreAttributes());  // nothing left to restore

  // While its font re-makes itself the context holds the system font, then the new one.
  void* dc = s.NativeHandle();
  s.SetFont(UI_FontDesc("DejaVu Sans", 12, 0));
  EXPECT_EQ(UI_ProbeSelected(dc, ui_probe::kObjFont), s.Font().Handle());
  ASSERT_TRUE(s.UseSystemFont());
  EXPECT_NE(UI_ProbeSelected(dc, ui_probe::kObjFont), s.Font().Handle());
  ASSERT_TRUE(s.UseOwnFont());
  EXPECT_EQ(UI_ProbeSelected(dc, ui_probe::kObjFont), s.Font().Handle());
  ASSERT_TRUE(s.Font().Bold(true));
  EXPECT_EQ(UI_ProbeSelected(dc, ui_probe::kObjFont), s.Font().Handle());
  EXPECT_EQ(UI_ProbeFont(s.Font().Handle()).weight, 700);

  // The screen's resolution: 1000ths of pixels per millimetre, whole inches of the area.
  long ppi = UI_ProbePixelsPerInch();
  EXPECT_DOUBLE_EQ(s.VertPixelsPerMM(), std::trunc(ppi * 1000 / 25.4) / 1000);
  EXPECT_EQ(s.DrawingAreaInInches().Width(), kW / ppi);
  EXPECT_EQ(s.DrawingAreaInInches().Height(), kH / ppi);
}

const UI_ChildDescriptor kNoChildren[] = {{UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

TEST_F(SurfaceTest, EveryOperationOnABitmapSurface) {
  UI_BitmapSurface s(kW, kH);
  ASSERT_TRUE(s.IsReady());
  EXPECT_STREQ(s.ClassName(), "UI_BitmapSurface");
  RunSteps(s);
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(SurfaceTest, EveryOperationOnAWindowsDisplaySurface) {
  UI_CompositeVObject window(nullptr, kNoChildren, false, UI_Rectangle(40, 40, kW + 20, kH + 40),
                             -1, "surface");
  auto* view = new UI_PaintWindow(&window, UI_Rectangle(0, 0, kW, kH), 5, nullptr);
  ASSERT_TRUE(window.MakeVisualElement());
  UI_Controller::Instance().FlushEvents();

  EXPECT_EQ(view->CurrentSurface(), nullptr);
  UI_DrawingSurface* s = view->DrawingSurface();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(view->DrawingSurface(), s);  // made once
  EXPECT_EQ(view->CurrentSurface(), s);
  EXPECT_STREQ(s->ClassName(), "UI_DisplaySurface");
  EXPECT_EQ(s->DrawingArea().Width(), kW);
  EXPECT_EQ(s->DrawingArea().Height(), kH);
  RunSteps(*s);
  EXPECT_TRUE(g_warnings.empty());

  // Raster modes: exclusive-or twice leaves the ground as it was.
  auto& d = static_cast<UI_DisplaySurface&>(*s);
  EXPECT_EQ(d.Mode(), 3);  // copy
  ASSERT_TRUE(s->ColorDrawingArea(UI_Color(3)));
  s->SetPen(UI_PenDescriptor(1, UI_Color(4), 1));
  ASSERT_TRUE(d.Mode(6));
  EXPECT_EQ(d.Mode(), 6);
  ASSERT_TRUE(s->DrawLine(UI_Point(0, 50), UI_Point(kW, 50)));
  EXPECT_EQ(At(Pixels(*s, UI_Rectangle(0, 50, kW, 1)), 100, 0), kCyan);
  ASSERT_TRUE(d.SaveAttributes());
  ASSERT_TRUE(d.Mode(10));
  ASSERT_TRUE(d.RestoreAttributes());
  EXPECT_EQ(d.Mode(), 6);  // the saved mode came back
  ASSERT_TRUE(s->DrawLine(UI_Point(0, 50), UI_Point(kW, 50)));
  EXPECT_EQ(At(Pixels(*s, UI_Rectangle(0, 50, kW, 1)), 100, 0), kRed);
  EXPECT_FALSE(d.Mode(16));
  EXPECT_FALSE(d.Mode(-1));
  EXPECT_EQ(d.Mode(), 6);
  EXPECT_EQ(g_warnings,
            (std::vector<std::string>{"UI_DisplaySurface::Mode: invalid parameter 16",
                                      "UI_DisplaySurface::Mode: invalid parameter -1"}));
  ASSERT_TRUE(d.Mode(3));

  // The surface draws in the object's font, and follows it when the object gets another.
  ASSERT_TRUE(view->SetFont(UI_FontDesc("DejaVu Serif", 14, UI_FontItalic)));
  EXPECT_EQ(&view->DrawingSurface()->Font(), view->Font());
  EXPECT_EQ(UI_ProbeSelected(s->NativeHandle(), ui_probe::kObjFont), view->Font()->Handle());
  ASSERT_TRUE(view->SetFont(UI_FontDesc("DejaVu Sans", 9, 0)));
  EXPECT_EQ(&s->Font(), view->Font());
  EXPECT_EQ(UI_ProbeSelected(s->NativeHandle(), ui_probe::kObjFont), view->Font()->Handle());

  ASSERT_TRUE(view->DeleteDrawingSurface());
  EXPECT_EQ(view->CurrentSurface(), nullptr);
  // The object's font outlives the surface that drew in it.
  EXPECT_NE(view->Font()->Handle(), nullptr);
  view->DrawingSurface();  // left for the object's end to give back
}

TEST_F(SurfaceTest, ADisplaySurfaceStartsOnItsClientsGroundAndFollowsIt) {
  UI_CompositeVObject window(nullptr, kNoChildren, false, UI_Rectangle(40, 40, kW + 20, kH + 40),
                             -1, "ground");
  auto* view = new UI_PaintWindow(&window, UI_Rectangle(0, 0, kW, kH), 5, nullptr);
  ASSERT_TRUE(window.MakeVisualElement());
  UI_Controller::Instance().FlushEvents();
  const UI_Color cream(1.0, 0.9, 0.55);
  ASSERT_TRUE(view->SetBackground(cream));
  UI_DrawingSurface* s = view->DrawingSurface();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(UI_ProbeBkColor(s->NativeHandle()), cream.NativeForm());
  // Set once the surface exists, the colour reaches its context too.
  const UI_Color sea(0.0, 0.4, 0.6);
  ASSERT_TRUE(view->SetBackground(sea));
  EXPECT_EQ(UI_ProbeBkColor(s->NativeHandle()), sea.NativeForm());
  // In the three-dimensional look the window paints the dialogs' face, and so the surface.
  ASSERT_TRUE(view->DeleteDrawingSurface());
  window.Use3DLook(true);
  s = view->DrawingSurface();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(UI_ProbeBkColor(s->NativeHandle()), UI_ProbeSysColor(15));  // COLOR_BTNFACE
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(SurfaceTest, CursorsByTypeAndByName) {
  UI_Cursor wait(2), again(2), none;
  ASSERT_NE(wait.Handle(), nullptr);
  EXPECT_EQ(wait.Handle(), again.Handle());  // one cached handle
  EXPECT_EQ(none.Handle(), nullptr);
  EXPECT_TRUE(wait == again);
  EXPECT_TRUE(wait != none);
  void* cached = wait.Handle();
  { UI_Cursor gone(2); }
  EXPECT_EQ(UI_Cursor(2).Handle(), cached);  // a typed cursor's end leaves the cache alone

  UI_Cursor c(1);
  c = 9;
  EXPECT_EQ(c.Type(), 1);
  c = "NO_SUCH_CURSOR";
  EXPECT_EQ(c.Type(), 1);
  EXPECT_EQ(c.Name().Size(), 0);
  c = 3;
  EXPECT_EQ(c.Type(), 3);
  UI_Cursor bad(8);
  EXPECT_EQ(bad.Handle(), nullptr);
  EXPECT_EQ(g_warnings, (std::vector<std::string>{
                            "TWCL: UI_Cursor::op=: cursor type 9: unknown type",
                            "TWCL: Cursor::op= (string): LoadCursor NO_SUCH_CURSOR failed",
                            "TWCL: UI_Cursor Init: Invalid cursor 8"}));
}

TEST_F(SurfaceTest, AVisualObjectsCursorIsShownOverIt) {
  UI_CompositeVObject window(nullptr, kNoChildren, false, UI_Rectangle(40, 40, 120, 80), -1,
                             "cursor");
  auto* view = new UI_PaintWindow(&window, UI_Rectangle(0, 0, 100, 60), 5, nullptr);
  ASSERT_TRUE(window.MakeVisualElement());
  UI_Controller::Instance().FlushEvents();
  EXPECT_EQ(view->Cursor().Type(), 0);
  UI_Cursor cross(3), arrow(1), wait(2);
  std::intptr_t over = std::intptr_t(kHtClient | kWmMouseMove << 16);
  auto point_at_view = [&] {
    ASSERT_TRUE(wait.Use());
    UI_ProbeSend(view->Handle(), kWmSetCursor, std::uintptr_t(view->Handle()), over);
  };
  // The parent's cursor is not shown over a child without one: the class's arrow is.
  window.Cursor() = 2;
  ASSERT_TRUE(cross.Use());
  UI_ProbeSend(view->Handle(), kWmSetCursor, std::uintptr_t(view->Handle()), over);
  EXPECT_EQ(UI_ProbeCursor(), arrow.Handle());
  view->Cursor() = 3;
  point_at_view();
  EXPECT_EQ(UI_ProbeCursor(), cross.Handle());
}

}  // namespace
