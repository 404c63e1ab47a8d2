#include "twcl/ui/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "twcl/base/error.h"
#include "twcl/base/sequence_impl.h"
#include "twcl/ui/class_ids.h"

namespace {
constexpr double kPi = 3.141592653589793;
using Wide = std::int64_t;
}  // namespace

double UI_DegreesToRadians(double degrees) {
  double mag = std::fabs(degrees);
  double whole = std::floor(mag);
  double reduced = std::fmod(whole, 360.0) + (mag - whole);
  double rad = reduced * kPi / 180.0;
  return degrees < 0 ? 2 * kPi - rad : rad;
}

// The grid of RowMajor.
template class CL_Sequence<UI_Point>;

// --- UI_GraphicObject

const char* UI_GraphicObject::ClassName() const {
  return "UI_GraphicObject";
}

UI_Rectangle UI_GraphicObject::BoundingRectangle() const {
  NotImplemented("BoundingRectangle");
  return UI_Rectangle();
}

UI_Point UI_GraphicObject::Center() const {
  return BoundingRectangle().Center();
}
bool UI_GraphicObject::DrawOn(UI_DrawingSurface& s) const {
  return DrawOn(s, UI_Point());
}
bool UI_GraphicObject::ReshapeTo(const UI_Point&, const UI_Point&) {
  return false;
}
bool UI_GraphicObject::Fill(UI_DrawingSurface&) const {
  return false;
}
HitPosition UI_GraphicObject::HitTest(const UI_Point& p) const {
  return BoundingRectangle().HitTest(p);
}
bool UI_GraphicObject::IntersectsBoundary(const UI_Rectangle& r) const {
  return BoundingRectangle().IntersectsBoundary(r);
}
bool UI_GraphicObject::IsContainedIn(const UI_Rectangle& r) const {
  return BoundingRectangle().IsContainedIn(r);
}
bool UI_GraphicObject::MoveTo(const UI_Point&) {
  return false;
}

// --- UI_Point

const char* UI_Point::ClassName() const {
  return "UI_Point";
}
CL_Long UI_Point::ClassId() const {
  return UI_ClassId_Point;
}
CL_Object* UI_Point::Clone() const {
  return new UI_Point(*this);
}

UI_Point& UI_Point::operator=(const UI_Point& p) {
  if (this == &p || !PrepareToChange()) return *this;
  x_ = p.x_;
  y_ = p.y_;
  Notify();
  return *this;
}

CL_Object& UI_Point::operator=(const CL_Object& other) {
  if (CheckClassId(other, "UI_Point::operator=")) *this = static_cast<const UI_Point&>(other);
  return *this;
}

short UI_Point::Compare(const CL_Object& other) const {
  if (!IsA(other)) return this < &other ? -1 : 1;
  const auto& p = static_cast<const UI_Point&>(other);
  if (x_ != p.x_) return x_ < p.x_ ? -1 : 1;
  if (y_ != p.y_) return y_ < p.y_ ? -1 : 1;
  return 0;
}

bool UI_Point::operator==(const CL_Object& other) const {
  return IsA(other) && Compare(other) == 0;
}

CL_String UI_Point::AsString() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(%ld, %ld)", x_, y_);
  return CL_String(buf);
}

bool UI_Point::AddToX(long d) {
  if (!PrepareToChange()) return false;
  x_ += d;
  Notify();
  return true;
}

bool UI_Point::AddToY(long d) {
  if (!PrepareToChange()) return false;
  y_ += d;
  Notify();
  return true;
}

UI_Rectangle UI_Point::BoundingRectangle() const {
  return UI_Rectangle(x_, y_, 1, 1);
}

bool UI_Point::MoveBy(NativePoint d) {
  if (!PrepareToChange()) return false;
  x_ += d.x;
  y_ += d.y;
  Notify();
  return true;
}

bool UI_Point::MoveTo(const UI_Point& p) {
  *this = p;
  return true;
}

double UI_Point::Distance(const UI_Point& q) const {
  double dx = double(x_) - double(q.x_), dy = double(y_) - double(q.y_);
  return std::sqrt(dx * dx + dy * dy);
}

// --- UI_Rectangle

void UI_Rectangle::Set(long x, long y, long w, long h) {
  if (w < 0) {
    x -= -w - 1;
    w = -w;
  }
  if (h < 0) {
    y -= -h - 1;
    h = -h;
  }
  x_ = x;
  y_ = y;
  w_ = w;
  h_ = h;
}

UI_Rectangle::UI_Rectangle(long x, long y, long width, long height) {
  Set(x, y, width, height);
}
UI_Rectangle::UI_Rectangle(const UI_Point& o, long width, long height) {
  Set(o.XCoord(), o.YCoord(), width, height);
}
UI_Rectangle::UI_Rectangle(const UI_Rectangle& r)
    : UI_GraphicObject(), x_(r.x_), y_(r.y_), w_(r.w_), h_(r.h_) {}

const char* UI_Rectangle::ClassName() const {
  return "UI_Rectangle";
}
CL_Long UI_Rectangle::ClassId() const {
  return UI_ClassId_Rectangle;
}
CL_Object* UI_Rectangle::Clone() const {
  return new UI_Rectangle(*this);
}

UI_Rectangle& UI_Rectangle::operator=(const UI_Rectangle& r) {
  if (this == &r || !PrepareToChange()) return *this;
  x_ = r.x_;
  y_ = r.y_;
  w_ = r.w_;
  h_ = r.h_;
  Notify();
  return *this;
}

CL_Object& UI_Rectangle::operator=(const CL_Object& other) {
  if (CheckClassId(other, "UI_Rectangle::operator="))
    *this = static_cast<const UI_Rectangle&>(other);
  return *this;
}

short UI_Rectangle::Compare(const CL_Object& other) const {
  if (!IsA(other)) return this < &other ? -1 : 1;
  const auto& r = static_cast<const UI_Rectangle&>(other);
  short c = Origin().Compare(r.Origin());
  if (c) return c;
  // A total order by width and then height, so that sorted containers stay consistent.
  if (w_ != r.w_) return w_ < r.w_ ? -1 : 1;
  if (h_ != r.h_) return h_ < r.h_ ? -1 : 1;
  return 0;
}

bool UI_Rectangle::operator==(const CL_Object& other) const {
  return IsA(other) && Compare(other) == 0;
}

CL_String UI_Rectangle::AsString() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "(%ld, %ld, %ld, %ld)", x_, y_, w_, h_);
  return CL_String(buf);
}

UI_Point UI_Rectangle::Center() const {
  long w = w_ < 1 ? 1 : w_, h = h_ < 1 ? 1 : h_;
  return UI_Point(x_ + w / 2 - 1, y_ + h / 2 - 1);
}

bool UI_Rectangle::Origin(const UI_Point& p) {
  if (!PrepareToChange()) return false;
  x_ = p.XCoord();
  y_ = p.YCoord();
  Notify();
  return true;
}

bool UI_Rectangle::SetWidth(long w) {
  if (w < 0 || !PrepareToChange()) return false;
  w_ = w;
  Notify();
  return true;
}

bool UI_Rectangle::SetHeight(long h) {
  if (h < 0 || !PrepareToChange()) return false;
  h_ = h;
  Notify();
  return true;
}

bool UI_Rectangle::AddToWidth(long n) {
  return w_ + n >= 0 && SetWidth(w_ + n);
}
bool UI_Rectangle::AddToHeight(long n) {
  return h_ + n >= 0 && SetHeight(h_ + n);
}

bool UI_Rectangle::MoveBy(NativePoint d) {
  if (!PrepareToChange()) return false;
  x_ += d.x;
  y_ += d.y;
  Notify();
  return true;
}

bool UI_Rectangle::MoveTo(const UI_Point& p) {
  UI_Point c = Center();
  return MoveBy({p.XCoord() - c.XCoord(), p.YCoord() - c.YCoord()});
}

bool UI_Rectangle::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  if (!PrepareToChange()) return false;
  Set(p1.XCoord(), p1.YCoord(), p2.XCoord() - p1.XCoord() + 1, p2.YCoord() - p1.YCoord() + 1);
  Notify();
  return true;
}

CL_Sequence<UI_Point> UI_Rectangle::RowMajor(long cell_width, long cell_height) const {
  CL_Sequence<UI_Point> cells;
  if (cell_width < 1 || cell_height < 1) {
    CL_Error::Warning("UI_Rectangle::RowMajor: invalid parameters %ld %ld", cell_width,
                      cell_height);
    return cells;
  }
  long rows = h_ / cell_height, columns = w_ / cell_width;
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < columns; ++c)
      cells.Add(UI_Point(x_ + c * cell_width, y_ + r * cell_height));
  return cells;
}

HitPosition UI_Rectangle::HitTest(const UI_Point& p) const {
  Wide px = p.XCoord(), py = p.YCoord(), x0 = x_, y0 = y_, x1 = x0 + w_, y1 = y0 + h_;
  bool in_x = x0 <= px && px <= x1, in_y = y0 <= py && py <= y1;
  if (((px == x0 || px == x1) && in_y) || ((py == y0 || py == y1) && in_x)) return HitBoundary;
  return in_x && in_y ? HitInside : HitOutside;
}

bool UI_Rectangle::IsContainedIn(const UI_Rectangle& r) const {
  return r.x_ <= x_ && r.y_ <= y_ && Right() <= r.Right() && Bottom() <= r.Bottom();
}

namespace {
// A vertical edge at x = a from y = b (length n) crosses a horizontal one at y = c from x = d
// (length m).
bool Crosses(Wide a, Wide b, Wide n, Wide c, Wide d, Wide m) {
  return b <= c && c < b + n && d <= a && a < d + m;
}
}  // namespace

bool UI_Rectangle::IntersectsBoundary(const UI_Rectangle& r) const {
  for (Wide a : {Wide(r.x_), Wide(r.x_) + r.w_})
    for (Wide c : {Wide(y_), Wide(y_) + h_})
      if (Crosses(a, r.y_, r.h_, c, x_, w_)) return true;
  for (Wide a : {Wide(x_), Wide(x_) + w_})
    for (Wide c : {Wide(r.y_), Wide(r.y_) + r.h_})
      if (Crosses(a, y_, h_, c, r.x_, r.w_)) return true;
  return false;
}

// --- UI_Ellipse

const char* UI_Ellipse::ClassName() const {
  return "UI_Ellipse";
}
CL_Long UI_Ellipse::ClassId() const {
  return UI_ClassId_Ellipse;
}
CL_Object* UI_Ellipse::Clone() const {
  return new UI_Ellipse(*this);
}

UI_Ellipse& UI_Ellipse::operator=(const UI_Ellipse& e) {
  if (this == &e || !PrepareToChange()) return *this;
  cx_ = e.cx_;
  cy_ = e.cy_;
  w_ = e.w_;
  h_ = e.h_;
  Notify();
  return *this;
}

bool UI_Ellipse::IntersectsBoundary(const UI_Rectangle& r) const {
  const UI_Point corners[] = {r.Origin(), UI_Point(r.Right(), r.Top()),
                              UI_Point(r.Left(), r.Bottom()), UI_Point(r.Right(), r.Bottom())};
  int on = 0;
  for (const UI_Point& c : corners) on += HitTest(c) != HitOutside;
  return on >= 1 && on <= 3;
}

bool UI_Ellipse::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  UI_Rectangle r(p1, p2.XCoord() - p1.XCoord(), p2.YCoord() - p1.YCoord());
  if (!PrepareToChange()) return false;
  w_ = r.Width();
  h_ = r.Height();
  cx_ = r.Left() + w_ / 2;
  cy_ = r.Top() + h_ / 2;
  Notify();
  return true;
}

bool UI_Ellipse::MoveBy(NativePoint d) {
  if (!PrepareToChange()) return false;
  cx_ += d.x;
  cy_ += d.y;
  Notify();
  return true;
}

bool UI_Ellipse::MoveTo(const UI_Point& p) {
  return MoveBy({p.XCoord() - cx_, p.YCoord() - cy_});
}

UI_Point UI_Ellipse::PointAt(double degrees) const {
  double t = UI_DegreesToRadians(degrees);
  double d = t * 180.0 / kPi;
  if (d == 90.0) return UI_Point(cx_, cy_ - h_ / 2);
  if (d == 270.0) return UI_Point(cx_, cy_ + h_ / 2);
  double a = w_ / 2, b = h_ / 2, c = std::cos(t), s = std::sin(t);
  double den = b * b * c * c + a * a * s * s;
  double r = den > 0 ? std::sqrt(a * a * b * b / den) : 0.0;
  return UI_Point(cx_ + long(std::trunc(r * c)), cy_ - long(std::trunc(r * s)));
}

HitPosition UI_Ellipse::HitTest(const UI_Point& p) const {
  double dx = double(p.XCoord()) - cx_, dy = double(p.YCoord()) - cy_;
  if (dx == 0) {
    double b = h_ / 2;
    if (dy < -b || dy > b) return HitOutside;
    return (dy == b || dy == -b) ? HitBoundary : HitInside;
  }
  double t = std::atan2(-dy, dx);
  UI_Point q = PointAt(t * 180.0 / kPi);
  double qx = double(q.XCoord()) - cx_, qy = double(q.YCoord()) - cy_;
  double q2 = qx * qx + qy * qy, p2 = dx * dx + dy * dy;
  if (q2 <= p2) return std::trunc(q2) == std::trunc(p2) ? HitBoundary : HitOutside;
  return HitInside;
}

// --- UI_LineSegment

const char* UI_LineSegment::ClassName() const {
  return "UI_LineSegment";
}
CL_Long UI_LineSegment::ClassId() const {
  return UI_ClassId_LineSegment;
}
CL_Object* UI_LineSegment::Clone() const {
  return new UI_LineSegment(*this);
}

UI_LineSegment& UI_LineSegment::operator=(const UI_LineSegment& s) {
  if (this == &s || !PrepareToChange()) return *this;
  p1_ = s.p1_;
  p2_ = s.p2_;
  Notify();
  return *this;
}

UI_LineSegment::UI_LineSegment(const UI_Point& p1, double slope, long length) : p1_(p1) {
  double root = std::sqrt(slope * slope + 1);
  p2_ = p1 + NativePoint{long(std::trunc(length / root)), long(std::trunc(length * slope / root))};
}

double UI_LineSegment::Slope() const {
  if (p2_.XCoord() == p1_.XCoord()) return 4294967295.0;
  return double(Wide(p1_.YCoord()) - p2_.YCoord()) / double(Wide(p2_.XCoord()) - p1_.XCoord());
}

UI_Point UI_LineSegment::Center() const {
  return UI_Point(long((Wide(p1_.XCoord()) + p2_.XCoord()) / 2),
                  long((Wide(p1_.YCoord()) + p2_.YCoord()) / 2));
}

UI_Rectangle UI_LineSegment::BoundingRectangle() const {
  long x = std::min(p1_.XCoord(), p2_.XCoord()), y = std::min(p1_.YCoord(), p2_.YCoord());
  return UI_Rectangle(x, y, std::labs(p2_.XCoord() - p1_.XCoord()) + 1,
                      std::labs(p2_.YCoord() - p1_.YCoord()) + 1);
}

HitPosition UI_LineSegment::HitTest(const UI_Point& p) const {
  // Coordinates are 32-bit; differences fit 33 bits and their products 66, so the
  // products are done in 128 bits where 64 would still overflow.
  using Big = __int128;
  Big dx = Big(p.XCoord()) - p1_.XCoord(), dy = Big(p.YCoord()) - p1_.YCoord();
  Big ux = Big(p2_.XCoord()) - p1_.XCoord(), uy = Big(p2_.YCoord()) - p1_.YCoord();
  if (dx * uy != dy * ux) return HitOutside;
  // On the line: inside the segment when p lies between p1 and p2 (same direction, not
  // farther than p2).
  if (dx * ux + dy * uy < 0) return HitOutside;
  return dx * dx + dy * dy <= ux * ux + uy * uy ? HitBoundary : HitOutside;
}

namespace {
int Orientation(const UI_Point& a, const UI_Point& b, const UI_Point& c) {
  using Big = __int128;
  Big ux = Big(b.XCoord()) - a.XCoord(), uy = Big(b.YCoord()) - a.YCoord();
  Big vx = Big(c.XCoord()) - a.XCoord(), vy = Big(c.YCoord()) - a.YCoord();
  Big k = vy * ux - uy * vx;
  if (k < 0) return 1;
  if (k > 0) return -1;
  if (vx * ux < 0 || vy * uy < 0) return -1;
  return vx * vx + vy * vy > ux * ux + uy * uy ? 1 : 0;
}
}  // namespace

bool UI_LineSegment::Intersects(const UI_LineSegment& q) const {
  return Orientation(p1_, p2_, q.p1_) * Orientation(p1_, p2_, q.p2_) <= 0 &&
         Orientation(q.p1_, q.p2_, p1_) * Orientation(q.p1_, q.p2_, p2_) <= 0;
}

bool UI_LineSegment::IsContainedIn(const UI_Rectangle& r) const {
  return r.HitTest(p1_) != HitOutside && r.HitTest(p2_) != HitOutside;
}

bool UI_LineSegment::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  if (!PrepareToChange()) return false;
  p1_ = p1;
  p2_ = p2;
  Notify();
  return true;
}

bool UI_LineSegment::IntersectsBoundary(const UI_Rectangle& r) const {
  // Along one axis the edge lies at c and spans [lo, hi] on the other; a and b are the
  // segment's ends as (along the edge's normal, along the edge).
  auto crosses = [](double a0, double a1, double b0, double b1, double c, double lo, double hi) {
    if (a0 == a1) return a0 == c && ((b0 == lo && b1 == hi) || (b0 == hi && b1 == lo));
    double t = (c - a0) / (a1 - a0);
    if (t < 0 || t > 1) return false;
    double at = std::trunc(b0 + t * (b1 - b0));
    return std::min(lo, hi) <= at && at <= std::max(lo, hi);
  };
  double x1 = double(p1_.XCoord()), y1 = double(p1_.YCoord()), x2 = double(p2_.XCoord()),
         y2 = double(p2_.YCoord());
  double left = double(r.Left()), right = double(r.Right()), top = double(r.Top()),
         bottom = double(r.Bottom());
  return crosses(y1, y2, x1, x2, bottom, left, right) ||
         crosses(y1, y2, x1, x2, top, left, right) || crosses(x1, x2, y1, y2, left, top, bottom) ||
         crosses(x1, x2, y1, y2, right, top, bottom);
}

bool UI_LineSegment::MoveBy(NativePoint d) {
  return ReshapeTo(p1_ + d, p2_ + d);
}

bool UI_LineSegment::MoveTo(const UI_Point& p) {
  UI_Point c = Center();
  return MoveBy({p.XCoord() - c.XCoord(), p.YCoord() - c.YCoord()});
}

UI_LineSegment UI_LineSegment::ParallelThrough(const UI_Point& p, long half_length) const {
  double t = std::atan2(Slope(), 1.0);
  long dx = long(std::trunc(half_length * std::cos(t))),
       dy = long(std::trunc(half_length * std::sin(t)));
  return UI_LineSegment(UI_Point(p.XCoord() - dx, p.YCoord() + dy),
                        UI_Point(p.XCoord() + dx, p.YCoord() - dy));
}
