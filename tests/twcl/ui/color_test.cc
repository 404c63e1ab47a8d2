#include "twcl/ui/color.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collect_warnings.h"

namespace {

using ColorTest = CollectWarnings;

TEST_F(ColorTest, StandardColorsAndNativeForm) {
  struct Case {
    int number;
    long r, g, b;
    std::uint32_t native;
  } cases[] = {{0, 0, 0, 0, 0},
               {1, 0, 255, 0, 0x00ff00},
               {2, 0, 0, 255, 0xff0000},
               {3, 255, 0, 0, 0x0000ff},
               {4, 255, 255, 255, 0xffffff},
               {5, 224, 224, 224, 0xe0e0e0},
               {6, 192, 192, 192, 0xc0c0c0},
               {7, 128, 128, 128, 0x808080},
               {9, 0, 0, 0, 0},
               {-1, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    UI_Color col(c.number);
    EXPECT_EQ(col.Red(), c.r) << c.number;
    EXPECT_EQ(col.Green(), c.g) << c.number;
    EXPECT_EQ(col.Blue(), c.b) << c.number;
    EXPECT_EQ(col.NativeForm(), c.native) << c.number;
  }
}

TEST_F(ColorTest, FromFractions) {
  struct Case {
    double r, g, b;
    long wr, wg, wb;
    const char* warning;
  } cases[] = {
      {1.0, 0.5, 0.0, 255, 127, 0, nullptr},
      {1.5, 0, 0, 0, 0, 0, "UI_Color constructor: invalid red component 1.500000e+00"},
      {0.5, -0.25, 2, 0, 0, 0, "UI_Color constructor: invalid green component -2.500000e-01"},
      {0, 0, 1.01, 0, 0, 0, "UI_Color constructor: invalid blue component 1.010000e+00"},
  };
  for (const auto& c : cases) {
    g_warnings.clear();
    UI_Color col(c.r, c.g, c.b);
    EXPECT_EQ(col.Red(), c.wr);
    EXPECT_EQ(col.Green(), c.wg);
    EXPECT_EQ(col.Blue(), c.wb);
    if (c.warning) {
      ASSERT_EQ(g_warnings.size(), 1u);
      EXPECT_EQ(g_warnings[0], c.warning);
    } else {
      EXPECT_TRUE(g_warnings.empty());
    }
  }
}

TEST_F(ColorTest, FontDescriptorsOrderAndRequests) {
  UI_FontDesc a("Arial", 10, 0), b("Arial", 12, 0), c("Arial", 10, UI_FontBold), d("Courier", 8, 0);
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(a.Compare(c), -1);
  EXPECT_EQ(d.Compare(a), 1);
  EXPECT_EQ(a.Compare(UI_FontDesc("Arial", 10, 0)), 0);

  struct Case {
    const char* face;
    short points;
    long style, dpi, height;
    int weight;
    bool italic, underline, strikeout;
  } cases[] = {
      {"Arial", 10, 0, 96, 13, 400, false, false, false},
      {"Arial", 12, UI_FontBold | UI_FontItalic, 96, 15, 700, true, false, false},
      {"Tahoma", 8, UI_FontUnderline | UI_FontStrikeOut, 120, 13, 400, false, true, true},
      // A size and resolution whose product passes 16 and 32 bits still gives the height.
      {"Big", 32767, 0, 70000, 31750968, 400, false, false, false},
  };
  for (const auto& k : cases) {
    UI_FontRequest req;
    ASSERT_TRUE(UI_MakeFontRequest(UI_FontDesc(k.face, k.points, k.style), k.dpi, &req));
    EXPECT_EQ(req.height, k.height) << k.face;
    EXPECT_EQ(req.weight, k.weight) << k.face;
    EXPECT_EQ(req.italic, k.italic);
    EXPECT_EQ(req.underline, k.underline);
    EXPECT_EQ(req.strikeout, k.strikeout);
    EXPECT_STREQ(req.face, k.face);
  }
  UI_FontRequest req;
  EXPECT_FALSE(UI_MakeFontRequest(UI_FontDesc("", 10, 0), 96, &req));
  ASSERT_TRUE(UI_MakeFontRequest(UI_FontDesc(std::string(40, 'x').c_str(), 10, 0), 96, &req));
  EXPECT_EQ(std::string(req.face), std::string(31, 'x'));

  EXPECT_EQ(UI_PointSizeFromHeight(13, 96), 9);
  EXPECT_EQ(UI_PointSizeFromHeight(2000000, 1), 32767);  // clamped, not wrapped
  EXPECT_EQ(UI_PointSizeFromHeight(13, 0), 0);
}

TEST_F(ColorTest, PenAndBrushStyles) {
  struct Pen {
    long pattern;
    UI_PenStyle style;
  } pens[] = {{0, UI_PenStyle::kNone}, {1, UI_PenStyle::kSolid}, {2, UI_PenStyle::kDash},
              {3, UI_PenStyle::kDot},  {7, UI_PenStyle::kSolid}};
  for (const auto& p : pens) EXPECT_EQ(UI_PenStyleFor(p.pattern), p.style) << p.pattern;
  struct Brush {
    long pattern;
    UI_BrushStyle style;
  } brushes[] = {{0, UI_BrushStyle::kHatched}, {1, UI_BrushStyle::kHollow}, {2, UI_BrushStyle::kSolid}};
  for (const auto& b : brushes) EXPECT_EQ(UI_BrushStyleFor(b.pattern), b.style) << b.pattern;
}

}  // namespace
