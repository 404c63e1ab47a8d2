// The shapes through their common base, the rectangle's grid and the line segment's
// parallel: geometry only, no surface.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "collect_warnings.h"
#include "twcl/base/binary_file.h"
#include "twcl/ui/dib.h"
#include "twcl/ui/geometry.h"
#include "twcl/ui/shapes.h"

namespace {

using GraphicObjectTest = CollectWarnings;

std::string Text(const CL_Object& o) {
  return o.AsString().AsPtr();
}

TEST_F(GraphicObjectTest, EveryShapeAnswersThroughTheBase) {
  struct Case {
    const char* what;
    std::unique_ptr<UI_GraphicObject> shape;
    UI_Rectangle bounds;
    UI_Point center;
    UI_Point inside;  // a point HitTest finds on or inside the shape
  };
  std::vector<Case> cases;
  cases.push_back({"point", std::make_unique<UI_Point>(7, 9), UI_Rectangle(7, 9, 1, 1),
                   UI_Point(7, 9), UI_Point(7, 9)});
  cases.push_back({"rectangle", std::make_unique<UI_Rectangle>(10, 20, 30, 40),
                   UI_Rectangle(10, 20, 30, 40), UI_Point(24, 39), UI_Point(15, 25)});
  cases.push_back({"ellipse", std::make_unique<UI_Ellipse>(UI_Point(50, 50), 20, 10),
                   UI_Rectangle(40, 45, 20, 10), UI_Point(50, 50), UI_Point(52, 51)});
  cases.push_back({"line", std::make_unique<UI_LineSegment>(UI_Point(0, 0), UI_Point(4, 4)),
                   UI_Rectangle(0, 0, 5, 5), UI_Point(2, 2), UI_Point(2, 2)});
  cases.push_back({"shadow rectangle", std::make_unique<UI_ShadowRectangle>(1, 2, 30, 20, 0, 2),
                   UI_Rectangle(1, 2, 30, 20), UI_Point(15, 11), UI_Point(3, 4)});
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    UI_GraphicObject& g = *c.shape;
    EXPECT_EQ(Text(g.BoundingRectangle()), Text(c.bounds));
    EXPECT_EQ(g.Center(), c.center);
    EXPECT_NE(g.HitTest(c.inside), HitOutside);
    EXPECT_TRUE(g.IsContainedIn(UI_Rectangle(-100, -100, 300, 300)));
    // Moving through the base moves the bounds by the offset, and MoveTo puts the centre
    // back where it was.
    ASSERT_TRUE(g.MoveBy({5, -3}));
    EXPECT_EQ(Text(g.BoundingRectangle()), Text(c.bounds + NativePoint{5, -3}));
    ASSERT_TRUE(g.MoveTo(c.center));
    EXPECT_EQ(g.Center(), c.center);
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(GraphicObjectTest, EllipseAndSegmentMeetRectangles) {
  UI_Ellipse e(UI_Point(50, 50), 40, 20);
  struct Box {
    UI_Rectangle r;
    bool want;
  } boxes[] = {
      {UI_Rectangle(45, 45, 10, 10), false},  // wholly inside: no corner outside
      {UI_Rectangle(60, 45, 20, 10), true},   // straddles the right end
      {UI_Rectangle(0, 0, 10, 10), false},    // far away
      {UI_Rectangle(0, 0, 100, 100), false},  // encloses it: every corner outside
  };
  for (const auto& b : boxes) EXPECT_EQ(e.IntersectsBoundary(b.r), b.want) << Text(b.r);

  // A reshape takes the box from p1 to p2 (p2 itself outside).
  ASSERT_TRUE(e.ReshapeTo(UI_Point(10, 10), UI_Point(30, 20)));
  EXPECT_EQ(Text(e.BoundingRectangle()), "(10, 10, 20, 10)");
  EXPECT_EQ(e.Center(), UI_Point(20, 15));

  struct Segment {
    UI_Point p1, p2;
    bool want;
  } segments[] = {
      {UI_Point(0, 5), UI_Point(20, 5), true},     // through both vertical edges
      {UI_Point(3, 3), UI_Point(6, 6), false},     // inside
      {UI_Point(-5, 0), UI_Point(-1, 20), false},  // beside it
      {UI_Point(2, 0), UI_Point(2, 30), true},     // through top and bottom
  };
  UI_Rectangle box(0, 0, 10, 10);
  for (const auto& s : segments)
    EXPECT_EQ(UI_LineSegment(s.p1, s.p2).IntersectsBoundary(box), s.want)
        << Text(s.p1) << "-" << Text(s.p2);
}

TEST_F(GraphicObjectTest, RowMajorLaysAGridRowByRow) {
  struct Case {
    UI_Rectangle r;
    long cw, ch;
    std::vector<UI_Point> want;
  } cases[] = {
      {UI_Rectangle(0, 0, 10, 10),
       3,
       3,
       {UI_Point(0, 0), UI_Point(3, 0), UI_Point(6, 0), UI_Point(0, 3), UI_Point(3, 3),
        UI_Point(6, 3), UI_Point(0, 6), UI_Point(3, 6), UI_Point(6, 6)}},
      {UI_Rectangle(5, 7, 8, 4),
       4,
       2,
       {UI_Point(5, 7), UI_Point(9, 7), UI_Point(5, 9), UI_Point(9, 9)}},
      {UI_Rectangle(0, 0, 2, 10), 3, 3, {}},  // no whole column
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Text(c.r));
    CL_Sequence<UI_Point> cells = c.r.RowMajor(c.cw, c.ch);
    ASSERT_EQ(cells.Size(), CL_Long(c.want.size()));
    for (CL_Long i = 0; i < cells.Size(); ++i) EXPECT_EQ(cells[i], c.want[std::size_t(i)]) << i;
  }
  EXPECT_TRUE(g_warnings.empty());
  EXPECT_EQ(UI_Rectangle(0, 0, 10, 10).RowMajor(0, 5).Size(), 0);
  EXPECT_EQ(UI_Rectangle(0, 0, 10, 10).RowMajor(4, -1).Size(), 0);
  EXPECT_EQ(g_warnings,
            (std::vector<std::string>{"UI_Rectangle::RowMajor: invalid parameters 0 5",
                                      "UI_Rectangle::RowMajor: invalid parameters 4 -1"}));
}

TEST_F(GraphicObjectTest, ParallelsAndSlopedSegments) {
  struct Case {
    UI_LineSegment line;
    UI_Point through;
    long half;
    UI_Point from, to;
  } cases[] = {
      // Horizontal, vertical and the diagonal rising to the right (y taken upward).
      {UI_LineSegment(UI_Point(0, 0), UI_Point(10, 0)), UI_Point(50, 50), 5, UI_Point(45, 50),
       UI_Point(55, 50)},
      {UI_LineSegment(UI_Point(3, 0), UI_Point(3, 10)), UI_Point(20, 20), 4, UI_Point(20, 24),
       UI_Point(20, 16)},
      {UI_LineSegment(UI_Point(0, 10), UI_Point(10, 0)), UI_Point(0, 0), 10, UI_Point(-7, 7),
       UI_Point(7, -7)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Text(c.line.Start()) + "-" + Text(c.line.End()));
    UI_LineSegment p = c.line.ParallelThrough(c.through, c.half);
    EXPECT_EQ(p.Start(), c.from);
    EXPECT_EQ(p.End(), c.to);
    EXPECT_EQ(p.Center(), c.through);
  }
  // From a point along a slope for a length: the ends lie that far apart.
  UI_LineSegment s(UI_Point(1, 1), 0.75, 10);
  EXPECT_EQ(s.End(), UI_Point(9, 7));
  EXPECT_DOUBLE_EQ(s.Start().Distance(s.End()), 10.0);
}

TEST_F(GraphicObjectTest, DibBitsAndChunkedFiles) {
  // A 1-bit picture of width 33: header 40, two colours, rows of 8 bytes.
  std::vector<std::uint8_t> dib = UI_DibNew(33, 3, 1);
  ASSERT_FALSE(dib.empty());
  EXPECT_EQ(DIBBitsAddress(dib.data(), dib.size()), dib.data() + 40 + 2 * 4);
  EXPECT_EQ(dib.size(), 40u + 8u + 3u * 8u);
  EXPECT_EQ(DIBBitsAddress(dib.data(), dib.size() - 1), nullptr);  // rows cut short
  EXPECT_EQ(DIBBitsAddress(static_cast<const std::uint8_t*>(nullptr), 0), nullptr);

  const char* tmp = std::getenv("TMPDIR");
  std::string path =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/twchunks." + std::to_string(getpid());
  // Sizes about the piece limit of 32767 bytes.
  for (std::size_t n :
       {std::size_t(0), std::size_t(32767), std::size_t(32768), std::size_t(100001)}) {
    SCOPED_TRACE(n);
    std::vector<std::uint8_t> data(n), back(n + 1, 0xEE);
    for (std::size_t i = 0; i < n; ++i) data[i] = std::uint8_t(i * 7 + i / 251);
    {
      CL_BinaryFile out(path.c_str(), CL_BinaryFile::kWrite | CL_BinaryFile::kCreate);
      ASSERT_TRUE(out.IsOpen());
      ASSERT_TRUE(WriteFileInChunks(out, data.data(), n));
    }
    CL_BinaryFile in(path.c_str(), CL_BinaryFile::kRead);
    ASSERT_EQ(in.Size(), CL_Long(n));
    ASSERT_TRUE(ReadFileInChunks(in, back.data(), n));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    // One byte more than the file holds: the last piece comes short.
    ASSERT_TRUE(in.SeekTo(0));
    EXPECT_FALSE(ReadFileInChunks(in, back.data(), n + 1));
  }
  std::remove(path.c_str());
}

}  // namespace
