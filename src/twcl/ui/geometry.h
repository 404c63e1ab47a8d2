// Points, rectangles and the shapes whose geometry needs no drawing surface. Coordinates
// are whole pixels; on a surface x grows to the right and y downward.
#ifndef TW_TWCL_UI_GEOMETRY_H_
#define TW_TWCL_UI_GEOMETRY_H_

#include "twcl/base/object.h"
#include "twcl/base/string.h"

enum HitPosition { HitBoundary = 0, HitInside = 1, HitOutside = 2 };

// A plain pair for offsets; no change protocol.
struct NativePoint {
  long x = 0;
  long y = 0;
};

class UI_Point : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_Point() = default;
  UI_Point(long x, long y) : x_(x), y_(y) {}
  UI_Point(const UI_Point& p) : CL_Object(), x_(p.x_), y_(p.y_) {}
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

 private:
  long x_ = 0;
  long y_ = 0;
};

struct NativeRect {
  long left, top, right, bottom;
};

class UI_Rectangle : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_Rectangle() = default;
  // A negative width or height makes the given corner the right or bottom edge.
  UI_Rectangle(long x, long y, long width, long height);
  UI_Rectangle(const UI_Point& origin, long width, long height);
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
  UI_Point Center() const;
  NativeRect AsNativeRect() const { return {x_, y_, Right(), Bottom()}; }
  UI_Rectangle operator+(NativePoint d) const { return UI_Rectangle(x_ + d.x, y_ + d.y, w_, h_); }

  bool Origin(const UI_Point& p);
  bool SetWidth(long w);   // refuses a negative width
  bool SetHeight(long h);  // refuses a negative height
  bool AddToWidth(long n);
  bool AddToHeight(long n);
  bool MoveBy(NativePoint d);
  bool MoveTo(const UI_Point& p);  // the centre lands on p
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2);

  // Far edges at x + width and y + height, one beyond Right and Bottom.
  HitPosition HitTest(const UI_Point& p) const;
  bool IsContainedIn(const UI_Rectangle& r) const;
  bool IntersectsBoundary(const UI_Rectangle& r) const;

 private:
  void Set(long x, long y, long w, long h);
  long x_ = 0, y_ = 0, w_ = 0, h_ = 0;
};

class UI_Ellipse : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_Ellipse() = default;
  UI_Ellipse(const UI_Point& center, long width, long height)
      : cx_(center.XCoord()), cy_(center.YCoord()), w_(width), h_(height) {}
  explicit UI_Ellipse(const UI_Rectangle& r)
      : cx_(r.Left() + r.Width() / 2), cy_(r.Top() + r.Height() / 2), w_(r.Width()), h_(r.Height()) {}
  UI_Ellipse(const UI_Ellipse& e) : CL_Object(), cx_(e.cx_), cy_(e.cy_), w_(e.w_), h_(e.h_) {}
  UI_Ellipse& operator=(const UI_Ellipse& e);

  const char* ClassName() const override;  // "UI_Ellipse"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  UI_Rectangle BoundingRectangle() const { return UI_Rectangle(cx_ - w_ / 2, cy_ - h_ / 2, w_, h_); }
  UI_Point Center() const { return UI_Point(cx_, cy_); }
  UI_Point PointAt(double degrees) const;
  HitPosition HitTest(const UI_Point& p) const;

 private:
  long cx_ = 0, cy_ = 0, w_ = 0, h_ = 0;
};

class UI_LineSegment : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_LineSegment() = default;
  UI_LineSegment(const UI_Point& p1, const UI_Point& p2) : p1_(p1), p2_(p2) {}
  UI_LineSegment(const UI_LineSegment& s) : CL_Object(), p1_(s.p1_), p2_(s.p2_) {}
  UI_LineSegment& operator=(const UI_LineSegment& s);

  const char* ClassName() const override;  // "UI_LineSegment"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override;

  const UI_Point& Start() const { return p1_; }
  const UI_Point& End() const { return p2_; }
  double Slope() const;  // y taken upward; 4294967295.0 when vertical
  UI_Point Center() const;
  UI_Rectangle BoundingRectangle() const;
  // Products of coordinate differences are taken in 64 bits: large coordinates do not
  // overflow into a wrong answer.
  HitPosition HitTest(const UI_Point& p) const;
  bool Intersects(const UI_LineSegment& q) const;
  bool IsContainedIn(const UI_Rectangle& r) const;
  bool ReshapeTo(const UI_Point& p1, const UI_Point& p2);

 private:
  UI_Point p1_, p2_;
};

// Reduces degrees to [0, 360) keeping the fraction and gives radians.
double UI_DegreesToRadians(double degrees);

#endif  // TW_TWCL_UI_GEOMETRY_H_
