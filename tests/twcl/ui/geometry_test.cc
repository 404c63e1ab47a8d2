#include "twcl/ui/geometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(Rectangle, ConstructionAndEdges) {
  struct Case {
    long x, y, w, h;
    long ox, oy, ow, oh, right, bottom;
    std::string text;
  } cases[] = {
      {10, 10, -5, 3, 6, 10, 5, 3, 10, 12, "(6, 10, 5, 3)"},
      {1, 2, 3, 4, 1, 2, 3, 4, 3, 5, "(1, 2, 3, 4)"},
      {5, 5, 0, 2, 5, 5, 0, 2, 4, 6, "(5, 5, 0, 2)"},
      {0, 0, 4, -4, 0, -3, 4, 4, 3, 0, "(0, -3, 4, 4)"},
  };
  for (const auto& c : cases) {
    UI_Rectangle r(c.x, c.y, c.w, c.h);
    SCOPED_TRACE(c.text);
    EXPECT_EQ(r.Left(), c.ox);
    EXPECT_EQ(r.Top(), c.oy);
    EXPECT_EQ(r.Width(), c.ow);
    EXPECT_EQ(r.Height(), c.oh);
    EXPECT_EQ(r.Right(), c.right);
    EXPECT_EQ(r.Bottom(), c.bottom);
    EXPECT_EQ(std::string(r.AsString().AsPtr()), c.text);
  }
  // A zero width counts as 1 for the centre.
  EXPECT_EQ(UI_Rectangle(5, 5, 0, 4).Center(), UI_Point(4, 6));
}

TEST(Rectangle, HitTestContainmentAndCrossing) {
  UI_Rectangle r(10, 20, 30, 40);
  struct Case {
    long x, y;
    HitPosition want;
  } hits[] = {{10, 20, HitBoundary}, {40, 20, HitBoundary}, {41, 20, HitOutside},
              {25, 60, HitBoundary}, {25, 30, HitInside},   {9, 30, HitOutside}};
  for (const auto& h : hits)
    EXPECT_EQ(r.HitTest(UI_Point(h.x, h.y)), h.want) << h.x << "," << h.y;

  EXPECT_TRUE(UI_Rectangle(12, 22, 5, 5).IsContainedIn(r));
  EXPECT_FALSE(UI_Rectangle(12, 22, 50, 5).IsContainedIn(r));
  EXPECT_TRUE(UI_Rectangle(0, 30, 100, 5).IntersectsBoundary(r));   // a bar across it
  EXPECT_FALSE(UI_Rectangle(12, 22, 5, 5).IntersectsBoundary(r));   // wholly inside
  EXPECT_FALSE(UI_Rectangle(100, 100, 5, 5).IntersectsBoundary(r)); // far away
}

TEST(Rectangle, SettersRefuseNegativeSizes) {
  UI_Rectangle r(0, 0, 5, 5);
  EXPECT_FALSE(r.SetWidth(-1));
  EXPECT_FALSE(r.AddToHeight(-6));
  EXPECT_TRUE(r.AddToWidth(-5));
  EXPECT_EQ(r, UI_Rectangle(0, 0, 0, 5));
  EXPECT_TRUE(r.ReshapeTo(UI_Point(1, 1), UI_Point(3, 3)));
  EXPECT_EQ(r, UI_Rectangle(1, 1, 3, 3));
  EXPECT_TRUE(r.ReshapeTo(UI_Point(3, 3), UI_Point(0, 0)));  // the first point stays a corner
  EXPECT_EQ(r, UI_Rectangle(2, 2, 2, 2));
}

TEST(LineSegment, HitTestAndIntersection) {
  constexpr long kBig = INT_MAX, kSmall = INT_MIN;
  struct Case {
    long x1, y1, x2, y2, px, py;
    HitPosition want;
  } cases[] = {
      {0, 0, 4, 4, 2, 2, HitBoundary},
      {0, 0, 4, 4, 5, 5, HitOutside},
      {0, 0, 4, 4, -1, -1, HitOutside},  // on the line, behind the start
      {0, 0, 4, 4, 2, 3, HitOutside},
      // Coordinates at the ends of the 32-bit range: products of their differences do not
      // fit 64 bits, and a wrapped product would call these points on the segment or not.
      {kSmall, kSmall, kBig, kBig, 0, 0, HitBoundary},
      {kSmall, kSmall, kBig, kBig, 0, 1, HitOutside},
      {kSmall, 0, kBig, 0, kBig, 0, HitBoundary},
      {kSmall, kSmall, kBig, kSmall + 1, 0, kSmall, HitOutside},
  };
  for (const auto& c : cases) {
    UI_LineSegment s(UI_Point(c.x1, c.y1), UI_Point(c.x2, c.y2));
    EXPECT_EQ(s.HitTest(UI_Point(c.px, c.py)), c.want)
        << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2 << " at " << c.px << "," << c.py;
  }

  struct Cross {
    long a1x, a1y, a2x, a2y, b1x, b1y, b2x, b2y;
    bool want;
  } crosses[] = {
      {0, 0, 10, 10, 0, 10, 10, 0, true},
      {0, 0, 10, 0, 0, 1, 10, 1, false},
      {0, 0, 10, 0, 10, 0, 20, 5, true},  // touching at an end
      {kSmall, kSmall, kBig, kBig, kSmall, kBig, kBig, kSmall, true},
      {kSmall, kSmall, kBig, kSmall, kSmall, kSmall + 1, kBig, kBig, false},
  };
  for (const auto& c : crosses) {
    UI_LineSegment a(UI_Point(c.a1x, c.a1y), UI_Point(c.a2x, c.a2y));
    UI_LineSegment b(UI_Point(c.b1x, c.b1y), UI_Point(c.b2x, c.b2y));
    EXPECT_EQ(a.Intersects(b), c.want) << c.a1x << "," << c.a1y << " / " << c.b1x << "," << c.b1y;
  }
  UI_LineSegment v(UI_Point(3, 0), UI_Point(3, 9));
  EXPECT_EQ(v.Slope(), 4294967295.0);
  EXPECT_EQ(v.BoundingRectangle(), UI_Rectangle(3, 0, 1, 10));
}

TEST(Ellipse, PointsAndHits) {
  UI_Ellipse e(UI_Point(50, 50), 40, 20);
  struct Case {
    double degrees;
    long x, y;
  } points[] = {{90, 50, 40}, {270, 50, 60}, {0, 70, 50}, {180, 30, 50}, {450, 50, 40}};
  for (const auto& p : points) EXPECT_EQ(e.PointAt(p.degrees), UI_Point(p.x, p.y)) << p.degrees;
  EXPECT_EQ(e.HitTest(UI_Point(50, 50)), HitInside);
  EXPECT_EQ(e.HitTest(UI_Point(50, 40)), HitBoundary);
  EXPECT_EQ(e.HitTest(UI_Point(50, 30)), HitOutside);
  EXPECT_EQ(e.HitTest(UI_Point(90, 50)), HitOutside);
  EXPECT_EQ(e.BoundingRectangle(), UI_Rectangle(30, 40, 40, 20));
}

TEST(Point, CompareAndText) {
  EXPECT_EQ(UI_Point(1, 2).Compare(UI_Point(1, 3)), -1);
  EXPECT_EQ(UI_Point(2, 0).Compare(UI_Point(1, 3)), 1);
  EXPECT_EQ(std::string(UI_Point(-1, 7).AsString().AsPtr()), "(-1, 7)");
  EXPECT_DOUBLE_EQ(UI_Point(0, 0).Distance(UI_Point(3, 4)), 5.0);
}

}  // namespace
