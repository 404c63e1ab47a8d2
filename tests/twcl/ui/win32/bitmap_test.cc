// Pictures on Wine's GDI: BMP files through bitmaps and DIBs, drawing on bitmap surfaces,
// screen capture, and the picture button. Runs under Xvfb.
#include "twcl/ui/bitmap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "../test_picture.h"
#include "read_back.h"
#include "twcl/ui/dibutil.h"
#include "twcl/ui/picture_button.h"
#include "twcl/ui/probe.h"
#include "twcl/ui/shapes.h"

namespace {

constexpr long kDeg = 64;
constexpr std::uint32_t kWmKeyDown = 0x0100, kWmKeyUp = 0x0101, kWmLButtonDown = 0x0201,
                        kWmLButtonUp = 0x0202, kVkSpace = 0x20, kMkLButton = 1;

// A 24-bit pixel value as the picture classes hold it: the file's bytes blue, green, red.
constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return b << 16 | g << 8 | r;
}
constexpr std::uint32_t kWhite = Rgb(255, 255, 255), kRed = Rgb(255, 0, 0), kBlue = Rgb(0, 0, 255),
                        kGreen = Rgb(0, 255, 0), kLight = Rgb(224, 224, 224),
                        kFace = Rgb(192, 192, 192), kDark = Rgb(128, 128, 128), kBlack = 0;

std::intptr_t Point(long x, long y) {
  return std::intptr_t(std::uint16_t(std::int16_t(x)) |
                       std::uint32_t(std::uint16_t(std::int16_t(y))) << 16);
}

class BitmapTest : public CollectWarnings {
 protected:
  void SetUp() override {
    CollectWarnings::SetUp();
    const char* tmp = std::getenv("TMPDIR");
    dir_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/twbitmap.XXXXXX";
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override {
    UI_Controller::Instance().FlushEvents();
    for (const auto& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
    CollectWarnings::TearDown();
  }
  std::string File(const std::string& name) {
    files_.push_back(dir_ + "/" + name);
    return files_.back();
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(BitmapTest, FilesRoundTripThroughBitmapsAndDibs) {
  struct Case {
    short w, h, bits;
    bool core;
  } cases[] = {{33, 3, 1, false}, {5, 4, 4, false}, {7, 2, 8, false}, {3, 3, 24, false},
               {9, 2, 1, true},   {4, 4, 8, true},  {6, 5, 24, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.core ? " core" : " info"));
    UI_BitmapData pic = TestPicture(c.w, c.h, c.bits);
    std::string in = File("in.bmp"), out = File("out.bmp");
    ASSERT_TRUE(pic.WriteTo(in.c_str(), c.core));

    UI_Bitmap b;
    ASSERT_TRUE(b.BuildFrom(in.c_str()));
    EXPECT_NE(b.Handle(), nullptr);
    EXPECT_EQ(b.Width(), c.w);
    EXPECT_EQ(b.Height(), c.h);
    EXPECT_EQ(b.BitCount(), c.bits);
    EXPECT_EQ(b.Palette() != nullptr, c.bits == 8);
    EXPECT_EQ(DIBWidth(b.Dib()), c.w);
    EXPECT_EQ(DIBHeight(b.Dib()), c.h);
    EXPECT_EQ(DIBColorCount(b.Dib()), pic.ColorCount());
    EXPECT_EQ(DIBColorTableSize(b.Dib()), pic.ColorCount() * 4);
    ASSERT_EQ(SaveDIBFile(b.Dib(), out.c_str()), 0);
    UI_BitmapData back;
    ASSERT_TRUE(back.ReadFrom(out.c_str()));
    EXPECT_EQ(back.Pixels(), pic.Pixels());
    ASSERT_EQ(back.ColorCount(), pic.ColorCount());
    if (pic.ColorCount()) {
      EXPECT_EQ(
          0, std::memcmp(back.ColorTable(), pic.ColorTable(), std::size_t(pic.ColorCount()) * 3));
    }

    // From numbers: the DIB kept is the picture as given.
    UI_Bitmap m;
    ASSERT_TRUE(m.BuildFrom(pic));
    ASSERT_TRUE(m.ToData(&back));
    EXPECT_EQ(back.Pixels(), pic.Pixels());
  }

  // The bitmap itself holds the picture: drawn and read back from a surface.
  UI_BitmapData pic = TestPicture(9, 7, 24);
  UI_Bitmap b;
  ASSERT_TRUE(b.BuildFrom(pic));
  UI_BitmapSurface s(30, 20);
  ASSERT_TRUE(b.DrawOn(s, UI_Point(5, 6)));
  EXPECT_EQ(Pixels(s, UI_Rectangle(5, 6, 9, 7)).Pixels(), pic.Pixels());
  EXPECT_EQ(At(Pixels(s, UI_Rectangle(0, 0, 30, 20)), 4, 6), kWhite);

  // 24 bits through ConvertDIB to 8 and back keeps what an 8-bit table can hold.
  UI_BitmapData grey(2, 1, 24, 0, nullptr, std::vector<std::uint32_t>{kWhite, kBlack}.data());
  UI_Bitmap g;
  ASSERT_TRUE(g.BuildFrom(grey));
  UI_DibHandle eight = ConvertDIB(g.Dib(), 8, UI_DibRgb);
  ASSERT_NE(eight, nullptr);
  EXPECT_EQ(DIBBitCount(eight), 8);
  UI_DibHandle again = ConvertDIB(eight, 24, UI_DibRgb);
  UI_BitmapData back;
  ASSERT_TRUE(DIBToData(again, &back));
  EXPECT_EQ(back.Pixels(), grey.Pixels());
  EXPECT_EQ(ConvertDIB(eight, 16, UI_DibRgb), nullptr);  // a refused pair
  EXPECT_EQ(ConvertDIB(eight, 0, UI_DibRle4), nullptr);  // RLE4 of 8 bits
  EXPECT_EQ(ConvertBitmapToDIB(g.Handle(), 0, UI_DibRgb, nullptr), nullptr);
  ReleaseDIB(eight);
  ReleaseDIB(again);
  EXPECT_TRUE(g_warnings.empty()) << g_warnings[0];
}

TEST_F(BitmapTest, BadFilesAndNamesAreRefused) {
  const std::vector<std::uint8_t> good = TestPicture(8, 4, 8).ToBmp();
  auto write = [&](const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
  };
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* name;
    Edit edit;  // null: no file at all
    const char* read_warning;
  } cases[] = {
      {"missing", nullptr, "File Not Found!"},
      {"empty", [](auto& b) { b.clear(); }, "UI_Bitmap::ReadFrom: Read failed on header"},
      {"rows cut", [](auto& b) { b.resize(b.size() - 5); },
       "UI_BitmapData::ReadData: read of bits failed"},
      {"height huge",
       [](auto& b) {
         b[22] = b[23] = b[24] = 0xff;
         b[25] = 0x7f;
       },
       "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"colours used huge", [](auto& b) { b[46] = b[47] = b[48] = b[49] = 0xff; },
       "UI_Bitmap::ReadFrom: Invalid bitmap file"},
      {"RLE", [](auto& b) { b[30] = 1; }, "UI_Bitmap::ReadFrom: File "},
      {"bits offset past the end", [](auto& b) { b[13] = 0x7f; }, "UI_Bitmap::ReadFrom: seek to"},
  };
  UI_Bitmap kept;
  ASSERT_TRUE(kept.BuildFrom(TestPicture(3, 2, 24)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = File(std::string("bad-") + c.name + ".bmp");
    if (c.edit) {
      std::vector<std::uint8_t> bytes = good;
      c.edit(bytes);
      write(path, bytes);
    }
    g_warnings.clear();
    EXPECT_EQ(ReadDIBFile(path.c_str()), nullptr);
    ASSERT_EQ(g_warnings.size(), 1u);
    EXPECT_EQ(g_warnings[0].rfind(c.read_warning, 0), 0u) << g_warnings[0];

    g_warnings.clear();
    EXPECT_FALSE(kept.BuildFrom(path.c_str()));
    ASSERT_EQ(g_warnings.size(), 1u);
    if (!c.edit)
      EXPECT_EQ(g_warnings[0], "UI_Bitmap::BuildFrom: cannot read file '" + path + "'");
    else
      EXPECT_EQ(g_warnings[0].rfind(c.read_warning, 0), 0u) << g_warnings[0];
    EXPECT_EQ(kept.Width(), 3);  // a failed build keeps the picture it had
    EXPECT_NE(kept.Handle(), nullptr);
  }

  g_warnings.clear();
  UI_Bitmap sys;
  EXPECT_TRUE(sys.BuildFrom("+OBM_CLOSE"));
  EXPECT_NE(sys.Handle(), nullptr);
  EXPECT_GT(sys.Width(), 0);
  EXPECT_NE(sys.Dib(), nullptr);
  // Names match whole: the pressed arrow is not the plain one.
  UI_Bitmap up, pressed;
  UI_BitmapData a, b;
  ASSERT_TRUE(up.BuildFrom("+OBM_UPARROW") && up.ToData(&a));
  ASSERT_TRUE(pressed.BuildFrom("+OBM_UPARROWD") && pressed.ToData(&b));
  EXPECT_NE(a.Pixels(), b.Pixels());
  EXPECT_TRUE(sys.BuildFrom("+OBM_NO_SUCH"));  // no such system bitmap: empty, no error
  EXPECT_EQ(sys.Handle(), nullptr);
  EXPECT_EQ(sys.Width(), 0);

  EXPECT_EQ(SaveDIBFile(nullptr, File("none.bmp").c_str()), 20);
  UI_DibHandle dib = NewDIB(4, 4, 8);
  EXPECT_EQ(SaveDIBFile(dib, (dir_ + "/no/such/dir.bmp").c_str()), 4);
  EXPECT_EQ(DIBWidth(nullptr), 0);
  ReleaseDIB(dib);
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(BitmapTest, ShapesDrawOnBitmapSurfaces) {
  UI_BitmapSurface s(300, 100);
  ASSERT_TRUE(s.IsReady());
  s.SetPen(UI_PenDescriptor(1, UI_Color(3), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(3), 2));
  ASSERT_TRUE(UI_PieWedge(UI_Rectangle(0, 0, 100, 100), 0, 90 * kDeg).Fill(s));
  s.SetPen(UI_PenDescriptor(1, UI_Color(2), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(2), 2));
  ASSERT_TRUE(UI_Chord(UI_Rectangle(100, 0, 100, 100), 0, 90 * kDeg).Fill(s));
  s.SetPen(UI_PenDescriptor(1, UI_Color(1), 1));
  ASSERT_TRUE(UI_Arc(UI_Rectangle(200, 0, 100, 100), 0, 90 * kDeg).DrawOn(s));
  UI_BitmapData d = Pixels(s, s.DrawingArea());

  struct Probe {
    const char* what;
    long x, y;
    std::uint32_t want;
  } probes[] = {
      {"inside the wedge", 70, 30, kRed},   {"outside the wedge", 30, 70, kWhite},
      {"inside the chord", 185, 20, kBlue}, {"between chord and centre", 160, 40, kWhite},
      {"arc's interior", 260, 40, kWhite},
  };
  for (const auto& p : probes) EXPECT_EQ(At(d, p.x, p.y), p.want) << p.what;
  // The arc runs through the upper right quarter only.
  int upper = 0, lower = 0;
  for (long y = 0; y < 100; ++y)
    for (long x = 200; x < 300; ++x)
      if (At(d, x, y) == kGreen) ++(x >= 245 && y <= 55 ? upper : lower);
  EXPECT_GT(upper, 50);
  EXPECT_EQ(lower, 0);

  struct Panel {
    long style;
    std::uint32_t top_left, bottom_edge;
  } panels[] = {{0, kLight, kBlack}, {1, kDark, kWhite}};
  for (const auto& p : panels) {
    SCOPED_TRACE(p.style);
    UI_BitmapSurface t(60, 30);
    ASSERT_TRUE(UI_ShadowRectangle(10, 5, 40, 20, p.style, 2).DrawOn(t));
    UI_BitmapData q = Pixels(t, t.DrawingArea());
    EXPECT_EQ(At(q, 10, 5), kBlack);  // the frame
    EXPECT_EQ(At(q, 11, 6), p.top_left);
    EXPECT_EQ(At(q, 30, 15), kFace);
    EXPECT_EQ(At(q, 30, 24), p.bottom_edge);
    EXPECT_EQ(At(q, 5, 5), kWhite);  // nothing outside
  }
}

TEST_F(BitmapTest, MaskedDrawingLetsTheSurfaceShowThrough) {
  // Left half red; the right half black, where the mask lets the surface through.
  std::vector<std::uint32_t> px = {kRed, kRed, kBlack, kBlack, kRed, kRed, kBlack, kBlack};
  UI_Bitmap b;
  ASSERT_TRUE(b.BuildFrom(UI_BitmapData(4, 2, 24, 0, nullptr, px.data())));
  const std::vector<std::uint8_t> mask = {0x30, 0, 0, 0, 0x30, 0, 0, 0};  // 0011 in each row
  UI_BitmapSurface s(10, 10);
  s.SetPen(UI_PenDescriptor(1, UI_Color(1), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(1), 2));
  s.DrawRectangle(UI_Rectangle(0, 0, 10, 10), 2);
  ASSERT_TRUE(b.DrawOn(s, mask, UI_Point(3, 4)));
  EXPECT_EQ(Pixels(s, UI_Rectangle(3, 4, 4, 2)).Pixels(),
            (std::vector<std::uint32_t>{kRed, kRed, kGreen, kGreen, kRed, kRed, kGreen, kGreen}));
  // A mask too short for the picture: refused, nothing drawn.
  EXPECT_FALSE(b.DrawOn(s, std::vector<std::uint8_t>(7, 0), UI_Point(0, 0)));
  EXPECT_EQ(At(Pixels(s, s.DrawingArea()), 0, 0), kGreen);
}

// Every shape kind, on a white ground.
void Scene(UI_DrawingSurface& s) {
  s.SetPen(UI_PenDescriptor(1, UI_Color(4), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(4), 2));
  s.DrawRectangle(UI_Rectangle(0, 0, 240, 110), 2);
  s.SetPen(UI_PenDescriptor(1, UI_Color(3), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(3), 2));
  UI_PieWedge(UI_Rectangle(5, 5, 70, 70), 30 * kDeg, 200 * kDeg).Fill(s);
  s.SetPen(UI_PenDescriptor(1, UI_Color(2), 1));
  s.SetBrush(UI_BrushDescriptor(UI_Color(2), 2));
  UI_Chord(UI_Rectangle(80, 5, 70, 70), 300 * kDeg, 160 * kDeg).Fill(s);
  s.SetPen(UI_PenDescriptor(1, UI_Color(1), 1));
  UI_Arc(UI_Rectangle(155, 5, 70, 70), 45 * kDeg, 300 * kDeg).DrawOn(s);
  UI_ShadowRectangle(5, 80, 100, 25, 0, 3).DrawOn(s);
  UI_ShadowRectangle(120, 80, 100, 25, 1, 2).DrawOn(s);
}

const UI_ChildDescriptor kNoChildren[] = {{UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

TEST_F(BitmapTest, CaptureOfAWindowRegion) {
  UI_CompositeVObject window(nullptr, kNoChildren, false, UI_Rectangle(40, 40, 200, 120), -1,
                             "capture");
  auto* paint =
      new UI_PaintWindow(&window, UI_Rectangle(0, 0, 200, 120), 5, [](UI_DrawingSurface& s) {
        s.SetPen(UI_PenDescriptor(1, UI_Color(1), 1));
        s.SetBrush(UI_BrushDescriptor(UI_Color(1), 2));
        s.DrawRectangle(UI_Rectangle(0, 0, 200, 120), 2);
      });
  ASSERT_TRUE(window.MakeVisualElement());
  UI_Controller::Instance().FlushEvents();

  UI_DibHandle dib = WindowToDIB(paint->Handle(), 2);
  ASSERT_NE(dib, nullptr);
  UI_BitmapData d;
  ASSERT_TRUE(DIBToData(dib, &d));
  ReleaseDIB(dib);
  EXPECT_EQ(d.Width(), 200);
  EXPECT_EQ(d.Height(), 120);
  std::size_t green = 0;
  for (std::uint32_t v : d.Pixels()) green += v == kGreen;
  EXPECT_EQ(green, d.Pixels().size());

  UI_DibHandle clipped = ScreenRectToDIB(UI_Rectangle(-50, -30, 100, 100));
  EXPECT_EQ(DIBWidth(clipped), 50);
  EXPECT_EQ(DIBHeight(clipped), 70);
  ReleaseDIB(clipped);
  EXPECT_EQ(ScreenRectToDIB(UI_Rectangle(10, 10, 0, 5)), nullptr);
  EXPECT_EQ(WindowToBitmap(paint->Handle(), 3), nullptr);
  EXPECT_EQ(WindowToDIB(nullptr, 1), nullptr);
}

TEST_F(BitmapTest, ShapesLookTheSameOnWindowsAndBitmaps) {
  UI_CompositeVObject window(nullptr, kNoChildren, false, UI_Rectangle(30, 200, 240, 110), -1,
                             "scene");
  auto* paint = new UI_PaintWindow(&window, UI_Rectangle(0, 0, 240, 110), 5, Scene);
  ASSERT_TRUE(window.MakeVisualElement());
  UI_Controller::Instance().FlushEvents();
  UI_DibHandle dib = WindowToDIB(paint->Handle(), 2);
  UI_BitmapData shown;
  ASSERT_TRUE(DIBToData(dib, &shown));
  ReleaseDIB(dib);

  UI_BitmapSurface b(240, 110);
  Scene(b);
  UI_BitmapData drawn = Pixels(b, b.DrawingArea());
  ASSERT_EQ(shown.Width(), drawn.Width());
  ASSERT_EQ(shown.Height(), drawn.Height());
  long differ = 0, inked = 0;
  for (std::size_t i = 0; i < drawn.Pixels().size(); ++i) {
    differ += shown.Pixels()[i] != drawn.Pixels()[i];
    inked += drawn.Pixels()[i] != kWhite;
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(inked, 5000);
}

struct SelectCounter {
  int count = 0;
  bool On(const UI_Event&) {
    ++count;
    return true;
  }
};

TEST_F(BitmapTest, PictureButtonSelectsOncePerPress) {
  std::vector<std::uint32_t> px(16 * 16, kBlue);
  UI_BitmapData pic(16, 16, 24, 0, nullptr, px.data());
  const UI_ChildDescriptor table[] = {
      {UI_KindBitmapButton, 40, 10, 10, 80, 50, true, "Picture", &pic},
      {UI_KindPushButton, 41, 100, 10, 80, 26, true, "Other", nullptr},
      {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};
  UI_CompositeVObject window(nullptr, table, false, UI_Rectangle(60, 60, 200, 80), -1, "picture");
  ASSERT_TRUE(window.MakeVisualElement());
  auto* button = dynamic_cast<UI_BitmapPushButton*>(window.Child(40));
  ASSERT_NE(button, nullptr);
  EXPECT_STREQ(button->ClassName(), "UI_BitmapPushButton");
  EXPECT_NE(button->Bitmap()->Handle(), nullptr);
  SelectCounter counter;
  button->AddEventBinding(Event_Select,
                          UI_EventBinding1<SelectCounter>(&counter, &SelectCounter::On));
  UI_NativeHandle h = button->Handle();
  auto look = [&] {
    UI_BitmapData d;
    UI_DibHandle dib = WindowToDIB(h, 2);
    EXPECT_TRUE(DIBToData(dib, &d));
    ReleaseDIB(dib);
    return d;
  };
  UI_Controller::Instance().FlushEvents();
  UI_BitmapData up = look();
  EXPECT_EQ(At(up, 1, 1), kLight);   // raised
  EXPECT_EQ(At(up, 40, 25), kBlue);  // the picture, stretched into the middle

  struct Step {
    const char* what;
    std::function<void()> act;
    int selects;
    bool down;
  } steps[] = {
      {"press", [&] { UI_ProbeSend(h, kWmLButtonDown, kMkLButton, Point(5, 5)); }, 0, true},
      {"release on it", [&] { UI_ProbeSend(h, kWmLButtonUp, 0, Point(5, 5)); }, 1, false},
      {"press again", [&] { UI_ProbeSend(h, kWmLButtonDown, kMkLButton, Point(5, 5)); }, 1, true},
      {"release over another window", [&] { UI_ProbeSend(h, kWmLButtonUp, 0, Point(-30, 200)); }, 2,
       false},
      {"a release without a press", [&] { UI_ProbeSend(h, kWmLButtonUp, 0, Point(5, 5)); }, 2,
       false},
      {"space down", [&] { UI_ProbeSend(h, kWmKeyDown, kVkSpace, 1); }, 2, true},
      {"space repeats", [&] { UI_ProbeSend(h, kWmKeyDown, kVkSpace, 1 | 1 << 30); }, 2, true},
      {"space up", [&] { UI_ProbeSend(h, kWmKeyUp, kVkSpace, 1); }, 3, false},
  };
  for (const auto& s : steps) {
    s.act();
    UI_Controller::Instance().FlushEvents();
    EXPECT_EQ(counter.count, s.selects) << s.what;
    EXPECT_EQ(button->IsDown(), s.down) << s.what;
    if (s.down) {
      EXPECT_EQ(At(look(), 1, 1), kDark) << s.what;  // sunken while pressed
    }
  }
  EXPECT_EQ(At(look(), 1, 1), kLight);
  EXPECT_TRUE(g_warnings.empty());
}

}  // namespace
