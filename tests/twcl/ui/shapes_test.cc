#include "twcl/ui/shapes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr long kDeg = 64;

TEST(Shapes, AngleRanges) {
  struct Case {
    double degrees;
    long start, subtended;
    bool want;
  } cases[] = {
      {10, 0, 90 * kDeg, true},          {100, 0, 90 * kDeg, false},
      {0, 0, 90 * kDeg, true},           {90, 0, 90 * kDeg, true},
      {10, 300 * kDeg, 120 * kDeg, true},  // crosses 0 degrees
      {350, 300 * kDeg, 120 * kDeg, true}, {200, 300 * kDeg, 120 * kDeg, false},
      {80, 90 * kDeg, -90 * kDeg, true},   // clockwise
      {100, 90 * kDeg, -90 * kDeg, false}, {10, -30 * kDeg, 60 * kDeg, true},
      {123, 0, 360 * kDeg, true},          {123, 45 * kDeg, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UI_AngleWithin(c.degrees, c.start, c.subtended), c.want)
        << c.degrees << " in " << c.start << "+" << c.subtended;
}

TEST(Shapes, ThreePointArcs) {
  const UI_Point c(100, 100);
  struct Case {
    const char* what;
    UI_Point p1, p2;
    long start, subtended;
    UI_Rectangle rect;
  } cases[] = {
      {"quarter", {110, 100}, {100, 90}, 0, 90 * kDeg, {90, 90, 20, 20}},
      {"from straight above", {100, 90}, {90, 100}, 90 * kDeg, 90 * kDeg, {90, 90, 20, 20}},
      {"to straight below", {90, 100}, {100, 120}, 180 * kDeg, 90 * kDeg, {90, 90, 20, 20}},
      {"end below start: the rest of the circle", {100, 90}, {110, 100}, 90 * kDeg, 270 * kDeg,
       {90, 90, 20, 20}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    UI_Arc a(k.p1, k.p2, c);
    EXPECT_EQ(a.StartAngle(), k.start);
    EXPECT_EQ(a.SubtendedAngle(), k.subtended);
    EXPECT_EQ(a.Rect(), k.rect);
    UI_Chord ch(k.p1, k.p2, c);
    EXPECT_EQ(ch.StartAngle(), k.start);
    EXPECT_EQ(ch.BoundingRectangle(), k.rect);
  }
  UI_Arc arc(UI_Rectangle(0, 0, 100, 50), 0, 90 * kDeg);
  auto [a, b] = arc.EndPoints();
  EXPECT_EQ(a, UI_Point(100, 25));
  EXPECT_EQ(b, UI_Point(50, 0));
  // A chord made over a rectangle keeps that rectangle.
  UI_Rectangle r(10, 20, 41, 30);
  EXPECT_EQ(UI_Chord(r, 0, 90 * kDeg).Arc().Rect(), r);
}

TEST(Shapes, HitTests) {
  const UI_Rectangle box(0, 0, 100, 100);  // centre (50, 50), radius 50
  struct Case {
    const char* what;
    long start, subtended;
    UI_Point p;
    HitPosition arc, wedge, chord;
  } cases[] = {
      {"start of a quarter", 0, 90 * kDeg, {100, 50}, HitBoundary, HitBoundary, HitBoundary},
      {"end of a quarter", 0, 90 * kDeg, {50, 0}, HitBoundary, HitBoundary, HitBoundary},
      {"outline outside the quarter", 0, 90 * kDeg, {0, 50}, HitOutside, HitOutside, HitOutside},
      {"centre of a quarter", 0, 90 * kDeg, {50, 50}, HitOutside, HitBoundary, HitOutside},
      {"on a radius", 0, 90 * kDeg, {80, 50}, HitOutside, HitBoundary, HitOutside},
      {"beyond a radius", 0, 90 * kDeg, {120, 50}, HitOutside, HitOutside, HitOutside},
      {"between chord edge and arc", 0, 90 * kDeg, {85, 20}, HitOutside, HitInside, HitInside},
      {"on the chord edge", 0, 90 * kDeg, {75, 25}, HitOutside, HitInside, HitBoundary},
      {"inside the sector, not the chord", 0, 90 * kDeg, {60, 40}, HitOutside, HitInside, HitOutside},
      {"across 0 degrees", 270 * kDeg, 180 * kDeg, {100, 50}, HitBoundary, HitBoundary, HitBoundary},
      {"inside across 0 degrees", 315 * kDeg, 90 * kDeg, {90, 50}, HitOutside, HitInside, HitInside},
      {"centre of a large chord", 0, 270 * kDeg, {50, 50}, HitOutside, HitBoundary, HitInside},
      {"large chord, past the sector", 0, 270 * kDeg, {60, 60}, HitOutside, HitOutside, HitInside},
      {"large chord, cut off", 0, 270 * kDeg, {85, 85}, HitOutside, HitOutside, HitOutside},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(UI_Arc(box, k.start, k.subtended).HitTest(k.p), k.arc);
    EXPECT_EQ(UI_PieWedge(box, k.start, k.subtended).HitTest(k.p), k.wedge);
    EXPECT_EQ(UI_Chord(box, k.start, k.subtended).HitTest(k.p), k.chord);
  }
}

TEST(Shapes, MovesAndBoundaries) {
  UI_PieWedge w(UI_Rectangle(0, 0, 100, 100), 0, 90 * kDeg);
  EXPECT_TRUE(w.MoveBy({10, 20}));
  EXPECT_EQ(w.BoundingRectangle(), UI_Rectangle(10, 20, 100, 100));
  EXPECT_TRUE(w.Origin(UI_Point(0, 0)));
  EXPECT_EQ(w.BoundingRectangle(), UI_Rectangle(0, 0, 100, 100));
  UI_Chord c(UI_Rectangle(0, 0, 100, 100), 0, 90 * kDeg);
  EXPECT_TRUE(c.MoveTo(UI_Point(200, 200)));
  EXPECT_EQ(c.Center(), UI_Point(200, 200));
  UI_Arc a(UI_Rectangle(0, 0, 100, 100), 0, 90 * kDeg);
  EXPECT_TRUE(a.MoveTo(UI_Point(500, 500)));
  EXPECT_EQ(a.Center(), UI_Point(500, 500));
  EXPECT_TRUE(a.ReshapeTo(UI_Point(30, 10), UI_Point(10, 50)));
  EXPECT_EQ(a.Rect(), UI_Rectangle(10, 10, 20, 40));

  // A wedge's radius that runs through a rectangle crosses its boundary; an empty arc
  // never does (no division by its zero size).
  UI_PieWedge big(UI_Rectangle(0, 0, 1000, 1000), 0, 90 * kDeg);
  EXPECT_TRUE(big.IntersectsBoundary(UI_Rectangle(700, 490, 20, 20)));
  EXPECT_FALSE(UI_Arc().IntersectsBoundary(UI_Rectangle(0, 0, 5, 5)));
  EXPECT_FALSE(UI_Chord().IntersectsBoundary(UI_Rectangle(10, 10, 5, 5)));
}

std::string Show(const std::vector<UI_Stroke>& ss) {
  std::string out;
  for (const auto& s : ss)
    out += std::string(1, "LOF"[s.kind]) + std::to_string(s.color) + s.a.AsString().AsPtr() +
           s.b.AsString().AsPtr() + " ";
  return out;
}

TEST(Shapes, ShadowRectangleStrokes) {
  struct Case {
    const char* what;
    UI_ShadowRectangle r;
    NativePoint offset;
    std::string strokes;
  } cases[] = {
      {"raised, 2 thick", {0, 0, 20, 10, 0, 2}, {0, 0},
       "O0(0, 0)(20, 10) F6(2, 2)(16, 6) L5(1, 1)(18, 1) L5(1, 1)(1, 8) L5(2, 2)(17, 2) "
       "L5(2, 2)(2, 7) L7(2, 8)(18, 8) L7(18, 8)(18, 2) L7(3, 7)(17, 7) L7(17, 7)(17, 3) "
       "L0(1, 9)(19, 9) L0(19, 9)(19, 1) "},
      {"sunken, 1 thick, moved", {0, 0, 10, 10, 1, 1}, {100, 200},
       "O0(100, 200)(10, 10) F6(101, 201)(8, 8) L7(101, 201)(108, 201) L7(101, 201)(101, 208) "
       "L5(102, 208)(108, 208) L5(108, 208)(108, 202) L4(101, 209)(109, 209) "
       "L4(109, 209)(109, 201) "},
      {"no bevel", {5, 5, 10, 10, 0, 0}, {0, 0},
       "F6(5, 5)(10, 10) L0(6, 14)(14, 14) L0(14, 14)(14, 6) "},
      {"bevel thicker than the panel: no inverted face", {0, 0, 6, 4, 0, 50}, {0, 0},
       "O0(0, 0)(6, 4) F6(2, 2)(2, 0) L5(1, 1)(4, 1) L5(1, 1)(1, 2) L5(2, 2)(3, 2) L5(2, 2)(2, 1) "
       "L7(2, 2)(4, 2) L7(4, 2)(4, 2) L7(3, 1)(3, 1) L7(3, 1)(3, 3) L0(1, 3)(5, 3) L0(5, 3)(5, 1) "},
      {"nothing to draw", {0, 0, 0, 5, 0, 2}, {0, 0}, ""},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(Show(k.r.Strokes(k.offset)), k.strokes);
  }
  // Above 2 the corners get their diagonals and the face its frame.
  std::vector<UI_Stroke> thick = UI_ShadowRectangle(0, 0, 40, 30, 0, 3).Strokes();
  ASSERT_EQ(thick.size(), 2u + 12u + 2u + 5u);
  EXPECT_EQ(Show({thick.end() - 5, thick.end()}),
            "L7(0, 0)(3, 3) L7(39, 0)(37, 3) L7(36, 26)(39, 29) L7(3, 26)(1, 29) O7(3, 3)(34, 24) ");
}

}  // namespace
