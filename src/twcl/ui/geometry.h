// Points, rectangles and the shapes whose geometry needs no drawing surface. Coordinates
// are whole pixels; on a surface x grows to the right and y downward.
#ifndef TW_TWCL_UI_GEOMETRY_H_
#define TW_TWCL_UI_GEOMETRY_H_

#include "twcl/base/object.h"
#include "twcl/base/sequence.h"
#include "twcl/base/string.h"

enum HitPosition { HitBoundary = 0, HitInside = 1, HitOutside = 2 };

// A plain pair for offsets; no change protocol.
struct NativePoint {
  long x = 0;
  long y = 0;
};

inline constexpr CL_Long UI_ClassId_GraphicObject = 261;

class UI_Point;
class UI_Rectangle;
class UI_DrawingSurface;

// What every shape, and a bitmap, can do: measure, test and move itself, and draw itself
// on a drawing surface through the surface's primitives. A class that has no bounding
// rectangle of its own warns and answers the empty one.
class UI_GraphicObject : public CL_Object {
 public:
  using CL_Object::operator=;
  const char* ClassName() const override;  // "UI_GraphicObject"
  CL_Long ClassId() const override { return UI_ClassId_GraphicObject; }
  virtual UI_Rectangle BoundingRectangle() const;
  virtual UI_Point Center() const;  // that of the bounding rectangle
  // Draws the shape moved by offset; false when the surface could not draw it.
  virtual bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const = 0;
  bool DrawOn(UI_DrawingSurface& s) const;                         // at no offset
  virtual bool ReshapeTo(const UI_Point& p1, const UI_Point& p2);  // false, no change
  virtual bool Fill(UI_DrawingSurface& s) const;                   // false
  virtual HitPosition HitTest(const UI_Point& p) const;
  virtual bool IntersectsBoundary(const UI_Rectangle& r) const;
  virtual bool IsContainedIn(const UI_Rectangle& r) const;
  virtual bool MoveBy(NativePoint d) = 0;
  virtual bool MoveTo(const UI_Point& p);  // false, no change

 protected:
  UI_GraphicObject() = default;
  UI_GraphicObject(const UI_GraphicObject&) : CL_Object() {}
};

class UI_Point : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Point() = default;
  UI_Point(long x, long y) : x_(x), y_(y) {}
  UI_Point(const UI_Point& p) : UI_GraphicObject(), x_(p.x_), y_(p.y_) {}
  UI_Point& operator=(const UI_Point& p);
  CL_Object& operator=(const CL_Object& other) override;

  const char* ClassName() const override;  // "UI_Point"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;
  short Compare(const CL_Object& other) const override;  // by x, then y
  bool operator==(const CL_Object& other) const override;
  CL_String AsString() const override;  // "(x, y)"

  long XCoord() const { return x_; }
  long YCoord() const { return y_; }
  bool AddToX(long d);
  bool AddToY(long d);
  UI_Point operator+(NativePoint d) const { return UI_Point(x_ + d.x, y_ + d.y); }
  UI_Point operator-(NativePoint d) const { return UI_Point(x_ - d.x, y_ - d.y); }
  double Distance(const UI_Point& q) const;
  NativePoint AsNativePoint() const { return {x_, y_}; }

  UI_Rectangle BoundingRectangle() const override;  // (x, y, 1, 1)
  UI_Point Center() const override { return *this; }
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;

 private:
  long x_ = 0;
  long y_ = 0;
};

struct NativeRect {
  long left, top, right, bottom;
};

// The record form of a rectangle: origin, then size.
struct UI_RectangleStruct {
  long x, y, width, height;
};

class UI_Rectangle : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Rectangle() = default;
  // A negative width or height makes the given corner the right or bottom edge.
  UI_Rectangle(long x, long y, long width, long height);
  UI_Rectangle(const UI_Point& origin, long width, long height);
  explicit UI_Rectangle(const UI_RectangleStruct& r) : UI_Rectangle(r.x, r.y, r.width, r.height) {}
  UI_Rectangle(const UI_Rectangle& r);
  UI_Rectangle& operator=(const UI_Rectangle& r);
  CL_Object& operator=(const CL_Object& other) override;

  const char* ClassName() const override;  // "UI_Rectangle"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;
  short Compare(const CL_Object& other) const override;
  bool operator==(const CL_Object& other) const override;
  CL_String AsString() const override;  // "(x, y, width, height)"

  UI_Point Origin() const { return UI_Point(x_, y_); }
  long Left() const { return x_; }
  long Top() const { return y_; }
  long Right() const { return x_ + w_ - 1; }
  long Bottom() const { return y_ + h_ - 1; }
  long Width() const { return w_; }
  long Height() const { return h_; }
  UI_Point Center() const override;
  NativeRect AsNativeRect() const { return {x_, y_, Right(), Bottom()}; }
  UI_Rectangle operator+(NativePoint d) const { return UI_Rectangle(x_ + d.x, y_ + d.y, w_, h_); }

  bool Origin(const UI_Point& p);
  bool SetWidth(long w);   // refuses a negative width
  bool SetHeight(long h);  // refuses a negative height
  bool AddToWidth(long n);
  bool AddToHeight(long n);
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;  // the centre lands on p
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;

  // Far edges at x + width and y + height, one beyond Right and Bottom.
  HitPosition HitTest(const UI_Point& p) const override;
  bool IsContainedIn(const UI_Rectangle& r) const override;
  bool IntersectsBoundary(const UI_Rectangle& r) const override;

  UI_Rectangle BoundingRectangle() const override { return *this; }
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;  // the outline
  bool Fill(UI_DrawingSurface& s) const override;
  // The top-left corners of the cells of a grid laid over the rectangle, row after row
  // (whole cells only). A cell size below 1 warns and gives no points.
  CL_Sequence<UI_Point> RowMajor(long cell_width, long cell_height) const;

 private:
  void Set(long x, long y, long w, long h);
  long x_ = 0, y_ = 0, w_ = 0, h_ = 0;
};

class UI_Ellipse : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_Ellipse() = default;
  UI_Ellipse(const UI_Point& center, long width, long height)
      : cx_(center.XCoord()), cy_(center.YCoord()), w_(width), h_(height) {}
  explicit UI_Ellipse(const UI_Rectangle& r)
      : cx_(r.Left() + r.Width() / 2),
        cy_(r.Top() + r.Height() / 2),
        w_(r.Width()),
        h_(r.Height()) {}
  UI_Ellipse(const UI_Ellipse& e)
      : UI_GraphicObject(), cx_(e.cx_), cy_(e.cy_), w_(e.w_), h_(e.h_) {}
  UI_Ellipse& operator=(const UI_Ellipse& e);

  const char* ClassName() const override;  // "UI_Ellipse"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  UI_Rectangle BoundingRectangle() const override {
    return UI_Rectangle(cx_ - w_ / 2, cy_ - h_ / 2, w_, h_);
  }
  UI_Point Center() const override { return UI_Point(cx_, cy_); }
  UI_Point PointAt(double degrees) const;
  HitPosition HitTest(const UI_Point& p) const override;
  // One, two or three of the rectangle's corners on or inside the ellipse.
  bool IntersectsBoundary(const UI_Rectangle& r) const override;
  // The ellipse in the box from p1 to p2 (exclusive of p2).
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;  // the centre
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;
  bool Fill(UI_DrawingSurface& s) const override;

 private:
  long cx_ = 0, cy_ = 0, w_ = 0, h_ = 0;
};

class UI_LineSegment : public UI_GraphicObject {
 public:
  using CL_Object::operator=;
  using UI_GraphicObject::DrawOn;
  UI_LineSegment() = default;
  UI_LineSegment(const UI_Point& p1, const UI_Point& p2) : p1_(p1), p2_(p2) {}
  // From p1 along slope m (y growing downward) for length n.
  UI_LineSegment(const UI_Point& p1, double slope, long length);
  UI_LineSegment(const UI_LineSegment& s) : UI_GraphicObject(), p1_(s.p1_), p2_(s.p2_) {}
  UI_LineSegment& operator=(const UI_LineSegment& s);

  const char* ClassName() const override;  // "UI_LineSegment"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  const UI_Point& Start() const { return p1_; }
  const UI_Point& End() const { return p2_; }
  double Slope() const;  // y taken upward; 4294967295.0 when vertical
  UI_Point Center() const override;
  UI_Rectangle BoundingRectangle() const override;
  // Products of coordinate differences are taken in 64 bits: large coordinates do not
  // overflow into a wrong answer.
  HitPosition HitTest(const UI_Point& p) const override;
  bool Intersects(const UI_LineSegment& q) const;
  bool IsContainedIn(const UI_Rectangle& r) const override;
  // The segment crosses one of the rectangle's edges (Left to Right, Top to Bottom).
  bool IntersectsBoundary(const UI_Rectangle& r) const override;
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2) override;
  bool MoveBy(NativePoint d) override;
  bool MoveTo(const UI_Point& p) override;  // the centre lands on p
  bool DrawOn(UI_DrawingSurface& s, const UI_Point& offset) const override;
  // The segment of this one's slope centred on p, half_length to either side (measured
  // along each axis's share of the slope, truncated).
  UI_LineSegment ParallelThrough(const UI_Point& p, long half_length) const;

 private:
  UI_Point p1_, p2_;
};

extern template class CL_Sequence<UI_Point>;

// Reduces degrees to [0, 360) keeping the fraction and gives radians.
double UI_DegreesToRadians(double degrees);

#endif  // TW_TWCL_UI_GEOMETRY_H_
