#include "twcl/base/interval.h"

#include "twcl/base/error.h"

CL_Interval::CL_Interval(CL_Long low, CL_Long high) : _low(low), _high(high) {}

CL_Interval::CL_Interval(const CL_Interval& other)
    : CL_Object(other), _low(other._low), _high(other._high) {}

CL_Interval::~CL_Interval() = default;

const char* CL_Interval::ClassName() const {
  return "CL_Interval";
}

CL_Object* CL_Interval::Clone() const {
  return new CL_Interval(_low, _high);
}

CL_String CL_Interval::AsString() const {
  CL_String s;
  s.AssignWithFormat("(%ld, %ld)", static_cast<long>(_low), static_cast<long>(_high));
  return s;
}

void CL_Interval::_Set(CL_Long low, CL_Long high) {
  if (!PrepareToChange()) return;
  _low = low;
  _high = high;
  Notify();
}

CL_Interval& CL_Interval::operator=(const CL_Interval& other) {
  if (&other != this) _Set(other._low, other._high);
  return *this;
}

CL_Interval& CL_Interval::operator=(const CL_Object& other) {
  // The class id is CL_Object's, so the class itself is what tells an interval.
  if (const auto* i = dynamic_cast<const CL_Interval*>(&other))
    operator=(*i);
  else
    CL_Error::Warning("%s: Invalid class '%s'", "CL_Interval::operator=", other.ClassName());
  return *this;
}

bool CL_Interval::operator==(const CL_Object& other) const {
  const auto* i = dynamic_cast<const CL_Interval*>(&other);
  return i && i->_low == _low && i->_high == _high;
}

bool CL_Interval::operator!=(const CL_Object& other) const {
  return !(*this == other);
}

CL_Interval& CL_Interval::ShiftUp(CL_Long n) {
  _Set(_low + n, _high + n);
  return *this;
}

CL_Interval& CL_Interval::ShiftDown(CL_Long n) {
  _Set(_low - n, _high - n);
  return *this;
}

CL_Interval& CL_Interval::SetLow(CL_Long n) {
  _Set(n < _high ? n : _high, _high);
  return *this;
}

CL_Interval& CL_Interval::SetHigh(CL_Long n) {
  _Set(_low, n > _low ? n : _low);
  return *this;
}
