// CL_Interval: a range of whole numbers from low to high, both included, as an object whose
// changes its dependents hear of. Controls use it for a selection of text and for the part
// of a scroll bar's range in view.
#ifndef TW_TWCL_BASE_INTERVAL_H_
#define TW_TWCL_BASE_INTERVAL_H_

#include "twcl/base/object.h"
#include "twcl/base/string.h"

class CL_Interval : public CL_Object {
 public:
  // (-1, -1) is the empty selection.
  CL_Interval(CL_Long low = -1, CL_Long high = -1);
  CL_Interval(const CL_Interval& other);
  ~CL_Interval() override;

  const char* ClassName() const override;  // "CL_Interval"; ClassId stays CL_Object's
  CL_Object* Clone() const override;
  CL_String AsString() const override;  // "(low, high)"

  CL_Long Low() const { return _low; }
  CL_Long High() const { return _high; }
  CL_Long Length() const { return _high - _low + 1; }

  // Each a change: a veto leaves both ends as they were.
  CL_Interval& operator=(const CL_Interval& other);
  // Another class is refused with a warning.
  CL_Interval& operator=(const CL_Object& other) override;
  bool operator==(const CL_Object& other) const override;  // both ends equal
  bool operator!=(const CL_Object& other) const override;
  // Both ends moved by n.
  CL_Interval& ShiftUp(CL_Long n);
  CL_Interval& ShiftDown(CL_Long n);
  // The low end becomes n but never above the high end; the high end n but never below
  // the low end.
  CL_Interval& SetLow(CL_Long n);
  CL_Interval& SetHigh(CL_Long n);

  CL_Interval operator+(CL_Long n) const { return CL_Interval(_low + n, _high + n); }
  CL_Interval operator-(CL_Long n) const { return CL_Interval(_low - n, _high - n); }

 private:
  void _Set(CL_Long low, CL_Long high);

  CL_Long _low, _high;
};

#endif  // TW_TWCL_BASE_INTERVAL_H_
