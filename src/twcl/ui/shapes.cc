#include "twcl/ui/shapes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr long kFullTurn = 360 * 64;
using Big = __int128;

double Reduce(double degrees) {
  double r = std::fmod(degrees, 360.0);
  return r < 0 ? r + 360.0 : r;
}

// Which side of the line a -> b the point p lies on: 1, -1, or 0 on the line.
int Side(const UI_Point& a, const UI_Point& b, const UI_Point& p) {
  Big k = (Big(b.XCoord()) - a.XCoord()) * (Big(p.YCoord()) - a.YCoord()) -
          (Big(b.YCoord()) - a.YCoord()) * (Big(p.XCoord()) - a.XCoord());
  return k > 0 ? 1 : k < 0 ? -1 : 0;
}

// The segment crosses or touches one of the rectangle's four edges.
bool CrossesEdges(const UI_LineSegment& s, const UI_Rectangle& r) {
  long x0 = r.Left(), y0 = r.Top(), x1 = r.Left() + r.Width(), y1 = r.Top() + r.Height();
  const UI_LineSegment edges[] = {{UI_Point(x0, y0), UI_Point(x1, y0)},
                                  {UI_Point(x0, y0), UI_Point(x0, y1)},
                                  {UI_Point(x0, y1), UI_Point(x1, y1)},
                                  {UI_Point(x1, y0), UI_Point(x1, y1)}};
  for (const auto& e : edges)
    if (s.Intersects(e)) return true;
  return false;
}

// The point of the ellipse in box at angle64 (1/64 degree, whole degrees used).
UI_Point ArcPoint(const UI_Rectangle& b, long angle64) {
  double t = UI_DegreesToRadians(double(angle64 / 64));
  double cx = double(b.Left()) + double(b.Width() / 2),
         cy = double(b.Top()) + double(b.Height() / 2);
  double a = double(b.Width() / 2), h = double(b.Height() / 2);
  return UI_Point(long(std::trunc(cx + a * std::cos(t))), long(std::trunc(cy - h * std::sin(t))));
}

// A field changed under the change protocol: false when a dependent refuses.
bool Change(CL_Object& o, long& field, long value) {
  if (!o.PrepareToChange()) return false;
  field = value;
  o.Notify();
  return true;
}

}  // namespace

double UI_AngleOf(const UI_Point& p, const UI_Point& c) {
  double dx = double(p.XCoord()) - double(c.XCoord()), dy = double(c.YCoord()) - double(p.YCoord());
  return Reduce(std::atan2(dy, dx) * 180.0 / kPi);
}

bool UI_AngleWithin(double degrees, long start, long subtended) {
  if (subtended >= kFullTurn || subtended <= -kFullTurn) return true;
  double s = start / 64.0, d = subtended / 64.0;
  if (d < 0) {
    s += d;
    d = -d;
  }
  // A hair of slack: the angle of a point computed from truncated coordinates.
  double rel = Reduce(degrees - Reduce(s));
  return rel <= d + 1e-9 || rel >= 360.0 - 1e-9;
}

// --- UI_Arc

UI_Arc::UI_Arc(const UI_Point& p1, const UI_Point& p2, const UI_Point& c) {
  double a1 = UI_AngleOf(p1, c), a2 = UI_AngleOf(p2, c);
  long start = long(std::trunc(a1 * 64)), end = long(std::trunc(a2 * 64));
  if (end < start) end += kFullTurn;
  start_ = start;
  subtended_ = end - start;
  // A circle through p1: the radius is its distance, whatever direction it lies in.
  long r = long(std::trunc(p1.Distance(c)));
  rect_ = UI_Rectangle(c.XCoord() - r, c.YCoord() - r, 2 * r, 2 * r);
}

UI_Arc& UI_Arc::operator=(const UI_Arc& a) {
  if (this == &a || !PrepareToChange()) return *this;
  rect_ = a.rect_;
  start_ = a.start_;
  subtended_ = a.subtended_;
  Notify();
  return *this;
}

const char* UI_Arc::ClassName() const {
  return "UI_Arc";
}
CL_Long UI_Arc::ClassId() const {
  return UI_ClassId_Arc;
}
CL_Object* UI_Arc::Clone() const {
  return new UI_Arc(*this);
}

CL_String UI_Arc::AsString() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %ld %ld", start_, subtended_);
  return rect_.AsString() + CL_String(buf);
}

bool UI_Arc::StartAngle(long a) {
  return Change(*this, start_, a);
}

bool UI_Arc::SubtendedAngle(long a) {
  return Change(*this, subtended_, a);
}

std::pair<UI_Point, UI_Point> UI_Arc::EndPoints() const {
  return {ArcPoint(rect_, start_), ArcPoint(rect_, start_ + subtended_)};
}

HitPosition UI_Arc::HitTest(const UI_Point& p) const {
  UI_Ellipse e(rect_);
  if (!UI_AngleWithin(UI_AngleOf(p, e.Center()), start_, subtended_)) return HitOutside;
  return e.HitTest(p) == HitBoundary ? HitBoundary : HitOutside;
}

bool UI_Arc::IntersectsBoundary(const UI_Rectangle& r) const {
  std::int64_t w = rect_.Width(), h = rect_.Height();
  if (w < 1 || h < 1) return false;
  std::int64_t cx = rect_.Left() + w / 2, cy = rect_.Top() + h / 2;
  std::int64_t dy = cy - r.Top(), dx = cx - r.Left();
  std::int64_t q = dy * dy / (h * h) + dx * dx / (w * w);
  return q <= 2;
}

bool UI_Arc::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  if (!PrepareToChange()) return false;
  rect_ = UI_Rectangle(std::min(p1.XCoord(), p2.XCoord()), p1.YCoord(),
                       std::labs(p2.XCoord() - p1.XCoord()), p2.YCoord() - p1.YCoord());
  Notify();
  return true;
}

bool UI_Arc::MoveBy(NativePoint d) {
  UI_Arc moved(rect_ + d, start_, subtended_);
  *this = moved;
  return true;
}

bool UI_Arc::MoveTo(const UI_Point& p) {
  UI_Point c = Center();
  return MoveBy({p.XCoord() - c.XCoord(), p.YCoord() - c.YCoord()});
}

// --- UI_Chord

UI_Chord::UI_Chord(const UI_Rectangle& r, long start, long subtended)
    : start_(start),
      subtended_(subtended),
      cx_(r.Left() + r.Width() / 2),
      cy_(r.Top() + r.Height() / 2),
      w_(r.Width()),
      h_(r.Height()) {}

UI_Chord::UI_Chord(const UI_Point& p1, const UI_Point& p2, const UI_Point& c) {
  UI_Arc a(p1, p2, c);
  start_ = a.StartAngle();
  subtended_ = a.SubtendedAngle();
  cx_ = c.XCoord();
  cy_ = c.YCoord();
  w_ = a.Rect().Width();
  h_ = a.Rect().Height();
}

UI_Chord& UI_Chord::operator=(const UI_Chord& c) {
  if (this == &c || !PrepareToChange()) return *this;
  start_ = c.start_;
  subtended_ = c.subtended_;
  cx_ = c.cx_;
  cy_ = c.cy_;
  w_ = c.w_;
  h_ = c.h_;
  Notify();
  return *this;
}

const char* UI_Chord::ClassName() const {
  return "UI_Chord";
}
CL_Long UI_Chord::ClassId() const {
  return UI_ClassId_Chord;
}
CL_Object* UI_Chord::Clone() const {
  return new UI_Chord(*this);
}

UI_Arc UI_Chord::Arc() const {
  return UI_Arc(UI_Rectangle(cx_ - w_ / 2, cy_ - h_ / 2, w_, h_), start_, subtended_);
}

bool UI_Chord::StartAngle(long a) {
  return Change(*this, start_, a);
}

bool UI_Chord::SubtendedAngle(long a) {
  return Change(*this, subtended_, a);
}

HitPosition UI_Chord::HitTest(const UI_Point& p) const {
  HitPosition e = Ellipse().HitTest(p);
  if (e == HitOutside) return HitOutside;
  if (subtended_ >= kFullTurn || subtended_ <= -kFullTurn) return e;
  UI_Arc arc = Arc();
  auto [a, b] = arc.EndPoints();
  if (UI_LineSegment(a, b).HitTest(p) == HitBoundary) return HitBoundary;
  // The chord is the side of the edge's line where the arc's middle lies.
  UI_Point mid = ArcPoint(arc.Rect(), start_ + subtended_ / 2);
  int want = Side(a, b, mid), got = Side(a, b, p);
  return want != 0 && got == want ? e : HitOutside;
}

bool UI_Chord::IntersectsBoundary(const UI_Rectangle& r) const {
  UI_Arc arc = Arc();
  if (arc.IntersectsBoundary(r)) return true;
  auto [a, b] = arc.EndPoints();
  return CrossesEdges(UI_LineSegment(a, b), r);
}

bool UI_Chord::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  UI_Arc a(p1, p2, Center());
  if (!PrepareToChange()) return false;
  start_ = a.StartAngle();
  subtended_ = a.SubtendedAngle();
  Notify();
  return true;
}

bool UI_Chord::MoveBy(NativePoint d) {
  UI_Chord moved(*this);
  moved.cx_ += d.x;
  moved.cy_ += d.y;
  *this = moved;
  return true;
}

bool UI_Chord::MoveTo(const UI_Point& p) {
  return MoveBy({p.XCoord() - cx_, p.YCoord() - cy_});
}

// --- UI_PieWedge

UI_PieWedge& UI_PieWedge::operator=(const UI_PieWedge& w) {
  if (this == &w || !PrepareToChange()) return *this;
  arc_ = w.arc_;
  Notify();
  return *this;
}

const char* UI_PieWedge::ClassName() const {
  return "UI_PieWedge";
}
CL_Long UI_PieWedge::ClassId() const {
  return UI_ClassId_PieWedge;
}
CL_Object* UI_PieWedge::Clone() const {
  return new UI_PieWedge(*this);
}

bool UI_PieWedge::StartAngle(long a) {
  if (!PrepareToChange()) return false;
  arc_.StartAngle(a);
  Notify();
  return true;
}

bool UI_PieWedge::SubtendedAngle(long a) {
  if (!PrepareToChange()) return false;
  arc_.SubtendedAngle(a);
  Notify();
  return true;
}

bool UI_PieWedge::Origin(const UI_Point& p) {
  UI_Rectangle r = arc_.Rect();
  return MoveBy({p.XCoord() - r.Left(), p.YCoord() - r.Top()});
}

HitPosition UI_PieWedge::HitTest(const UI_Point& p) const {
  UI_Ellipse e(arc_.Rect());
  UI_Point c = e.Center();
  auto [a, b] = arc_.EndPoints();
  // The two radii (and the apex) are the wedge's straight edges.
  if (UI_LineSegment(c, a).HitTest(p) == HitBoundary ||
      UI_LineSegment(c, b).HitTest(p) == HitBoundary)
    return e.HitTest(p) == HitOutside ? HitOutside : HitBoundary;
  if (!UI_AngleWithin(UI_AngleOf(p, c), StartAngle(), SubtendedAngle())) return HitOutside;
  return e.HitTest(p);
}

bool UI_PieWedge::IntersectsBoundary(const UI_Rectangle& r) const {
  if (arc_.IntersectsBoundary(r)) return true;
  UI_Point c = arc_.Center();
  auto [a, b] = arc_.EndPoints();
  return CrossesEdges(UI_LineSegment(c, a), r) || CrossesEdges(UI_LineSegment(c, b), r);
}

bool UI_PieWedge::ReshapeTo(const UI_Point& p1, const UI_Point& p2) {
  UI_Arc a(arc_);
  if (!a.ReshapeTo(p1, p2) || !PrepareToChange()) return false;
  arc_ = a;
  Notify();
  return true;
}

bool UI_PieWedge::MoveBy(NativePoint d) {
  UI_PieWedge moved(*this);
  moved.arc_.MoveBy(d);
  *this = moved;
  return true;
}

bool UI_PieWedge::MoveTo(const UI_Point& p) {
  UI_Point c = Center();
  return MoveBy({p.XCoord() - c.XCoord(), p.YCoord() - c.YCoord()});
}

// --- UI_ShadowRectangle

const char* UI_ShadowRectangle::ClassName() const {
  return "UI_ShadowRectangle";
}
CL_Long UI_ShadowRectangle::ClassId() const {
  return UI_ClassId_ShadowRectangle;
}
CL_Object* UI_ShadowRectangle::Clone() const {
  return new UI_ShadowRectangle(*this);
}

std::vector<UI_Stroke> UI_ShadowRectangle::Strokes(NativePoint o) const {
  enum { kBlack = 0, kWhite = 4, kLight = 5, kFace = 6, kDark = 7 };
  long x = Left() + o.x, y = Top() + o.y, w = Width(), h = Height();
  long t = std::clamp<long>(thickness_, 0, std::min(w, h) / 2);
  std::vector<UI_Stroke> out;
  if (w < 1 || h < 1) return out;
  auto line = [&](int c, long x1, long y1, long x2, long y2) {
    out.push_back({UI_Stroke::kLine, c, UI_Point(x1, y1), UI_Point(x2, y2)});
  };
  auto rect = [&](UI_Stroke::Kind k, int c, long rx, long ry, long rw, long rh) {
    out.push_back({k, c, UI_Point(rx, ry), UI_Point(rw, rh)});
  };
  if (t > 0) rect(UI_Stroke::kOutline, kBlack, x, y, w, h);
  rect(UI_Stroke::kFill, kFace, x + t, y + t, w - 2 * t, h - 2 * t);
  bool raised = Raised();
  int light = raised ? kLight : kDark, dark = raised ? kDark : kLight,
      edge = raised ? kBlack : kWhite;
  for (long i = 1; i <= t; ++i) {
    line(light, x + i, y + i, x + w - i - 1, y + i);
    line(light, x + i, y + i, x + i, y + h - i - 1);
  }
  for (long i = 1; i <= t; ++i) {
    line(dark, x + i + 1, y + h - i - 1, x + w - i - 1, y + h - i - 1);
    line(dark, x + w - i - 1, y + h - i - 1, x + w - i - 1, y + i + 1);
  }
  line(edge, x + 1, y + h - 1, x + w - 1, y + h - 1);
  line(edge, x + w - 1, y + h - 1, x + w - 1, y + 1);
  if (t > 2) {
    long mx = w - 1 - t, my = h - 1 - t;
    line(kDark, x, y, x + t, y + t);
    line(kDark, x + w - 1, y, x + w - t, y + t);
    line(kDark, x + mx, y + my, x + t + mx, y + t + my);
    line(kDark, x + w - 1 - mx, y + my, x + w - t - mx, y + t + my);
    rect(UI_Stroke::kOutline, kDark, x + t, y + t, w - 2 * t, h - 2 * t);
  }
  return out;
}
