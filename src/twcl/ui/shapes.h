// The shapes of the arc family (arc, chord, pie wedge) and the shadowed rectangle. Angles
// are in 1/64 degree, counter-clockwise from the positive x axis with y taken upward. The
// geometry here needs no window system; DrawOn is the Win32 half's (it needs a surface).
#ifndef TW_TWCL_UI_SHAPES_H_
#define TW_TWCL_UI_SHAPES_H_

#include <utility>
#include <vector>

#include "twcl/ui/geometry.h"

class UI_DrawingSurface;

inline constexpr CL_Long UI_ClassId_Arc = 214;
inline constexpr CL_Long UI_ClassId_Chord = 215;
inline constexpr CL_Long UI_ClassId_PieWedge = 216;
inline constexpr CL_Long UI_ClassId_ShadowRectangle = 217;

// True when the direction at `degrees` lies on the arc from start over subtended (1/64
// degree; a negative subtended angle runs clockwise), arcs that cross 0 degrees included.
bool UI_AngleWithin(double degrees, long start, long subtended);
// The angle in degrees, in [0, 360), of p seen from c (y taken upward).
double UI_AngleOf(const UI_Point& p, const UI_Point& c);

class UI_Arc : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Arc() = default;
  UI_Arc(const UI_Rectangle& r, long start, long subtended)
      : rect_(r), start_(start), subtended_(subtended) {}
  // The arc about c from the direction of p1 counter-clockwise to that of p2, on the circle
  // through p1.
  UI_Arc(const UI_Point& p1, const UI_Point& p2, const UI_Point& c);
  UI_Arc(const UI_Arc& a)
      : UI_GraphicObject(), rect_(a.rect_), start_(a.start_), subtended_(a.subtended_) {}
  UI_Arc& operator=(const UI_Arc& a);

  const char* ClassName() const override;  // "UI_Arc"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;
  CL_String AsString() const override;  // "(x, y, width, height) start subtended"

  const UI_Rectangle& Rect() const { return rect_; }
  long StartAngle() const { return start_; }
  long SubtendedAngle() const { return subtended_; }
  bool StartAngle(long a);
  bool SubtendedAngle(long a);

  UI_Rectangle BoundingRectangle() const override { return rect_; }
  UI_Point Center() const override { return UI_Ellipse(rect_).Center(); }
  // The points of the outline at the start and at the end of the arc.
  std::pair<UI_Point, UI_Point> EndPoints() const;
  HitPosition HitTest(const UI_Point& p) const override;
  bool IntersectsBoundary(const UI_Rectangle& r) const override;
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;  // the centre lands on p
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;

 private:
  UI_Rectangle rect_;
  long start_ = 0, subtended_ = 0;
};

// The part of an ellipse cut off by the straight edge between the arc's end points.
class UI_Chord : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Chord() = default;
  UI_Chord(const UI_Rectangle& r, long start, long subtended);
  UI_Chord(const UI_Point& p1, const UI_Point& p2, const UI_Point& c);
  UI_Chord(const UI_Chord& c)
      : UI_GraphicObject(),
        start_(c.start_),
        subtended_(c.subtended_),
        cx_(c.cx_),
        cy_(c.cy_),
        w_(c.w_),
        h_(c.h_) {}
  UI_Chord& operator=(const UI_Chord& c);

  const char* ClassName() const override;  // "UI_Chord"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  UI_Arc Arc() const;
  UI_Ellipse Ellipse() const { return UI_Ellipse(UI_Point(cx_, cy_), w_, h_); }
  long StartAngle() const { return start_; }
  long SubtendedAngle() const { return subtended_; }
  bool StartAngle(long a);
  bool SubtendedAngle(long a);
  UI_Rectangle BoundingRectangle() const override { return Ellipse().BoundingRectangle(); }
  UI_Point Center() const override { return UI_Point(cx_, cy_); }
  // Inside: between the arc and the straight edge, whatever the arc's size.
  HitPosition HitTest(const UI_Point& p) const override;
  bool IntersectsBoundary(const UI_Rectangle& r) const override;
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;  // new angles, same size
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;
  bool Fill(UI_DrawingSurface& s) const override;

 private:
  long start_ = 0, subtended_ = 0, cx_ = 0, cy_ = 0, w_ = 0, h_ = 0;
};

class UI_PieWedge : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_PieWedge() = default;
  UI_PieWedge(const UI_Rectangle& r, long start, long subtended) : arc_(r, start, subtended) {}
  UI_PieWedge(const UI_Point& p1, const UI_Point& p2, const UI_Point& c) : arc_(p1, p2, c) {}
  UI_PieWedge(const UI_PieWedge& w) : UI_GraphicObject(), arc_(w.arc_) {}
  UI_PieWedge& operator=(const UI_PieWedge& w);

  const char* ClassName() const override;  // "UI_PieWedge"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  const UI_Arc& Arc() const { return arc_; }
  long StartAngle() const { return arc_.StartAngle(); }
  long SubtendedAngle() const { return arc_.SubtendedAngle(); }
  bool StartAngle(long a);
  bool SubtendedAngle(long a);
  bool Origin(const UI_Point& p);
  UI_Rectangle BoundingRectangle() const override { return arc_.Rect(); }
  UI_Point Center() const override { return arc_.Center(); }
  HitPosition HitTest(const UI_Point& p) const override;
  bool IntersectsBoundary(const UI_Rectangle& r) const override;
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;
  bool Fill(UI_DrawingSurface& s) const override;

 private:
  UI_Arc arc_;
};

// One stroke of a drawing plan: a line from a to b, or a rectangle outlined or filled, in
// a colour of the standard numbers.
struct UI_Stroke {
  enum Kind { kLine, kOutline, kFill } kind;
  int color;
  UI_Point a, b;  // a line's ends; for rectangles a is the origin and b (width, height)
};

// A rectangle drawn as a raised (style 0) or sunken (any other style) panel with a bevel
// of the given thickness.
class UI_ShadowRectangle : public UI_Rectangle {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_ShadowRectangle(long x, long y, long width, long height, long style, short thickness)
      : UI_Rectangle(x, y, width, height), style_(style), thickness_(thickness) {}
  UI_ShadowRectangle(const UI_Rectangle& r, long style, short thickness)
      : UI_Rectangle(r), style_(style), thickness_(thickness) {}
  UI_ShadowRectangle(const UI_ShadowRectangle& r) = default;

  const char* ClassName() const override;  // "UI_ShadowRectangle"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  long Style() const { return style_; }
  short Thickness() const { return thickness_; }
  bool Raised() const { return style_ == 0; }
  // The strokes that draw the panel moved by offset, in order. The bevel is never thicker
  // than half the smaller side, so a small panel gets no inverted face.
  std::vector<UI_Stroke> Strokes(NativePoint offset = {}) const;
  // Draws the strokes with the surface's pen and brush, which are then as they were.
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;

 private:
  long style_;
  short thickness_;
};

#endif  // TW_TWCL_UI_SHAPES_H_
