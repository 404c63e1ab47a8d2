// The one check every value class makes before comparing itself with another object (the
// other must report the same class and really be one), and the address order that objects of
// different classes fall back on. Used by the value classes, not by the library's users.
#ifndef TW_TWCL_BASE_SAME_CLASS_H_
#define TW_TWCL_BASE_SAME_CLASS_H_

#include <functional>
#include <optional>

#include "twcl/base/object.h"

namespace twcl_internal {

// other as a T when it is of self's class, else null.
template <class T>
const T* SameClass(const T& self, const CL_Object& other) {
  return self.IsA(other) ? dynamic_cast<const T*>(&other) : nullptr;
}

// -1 or 1 as a's address comes before or after b's; 0 for the same object.
inline short AddressOrder(const CL_Object* a, const CL_Object* b) {
  if (a == b) return 0;
  return std::less<const CL_Object*>{}(a, b) ? -1 : 1;
}

// Whether a three-way result r meets the ordering code op of CompareWith (CL_CmpEqual,
// CL_CmpLess, CL_CmpGreater, CL_CmpLessEqual, CL_CmpGreaterEqual, CL_CmpNotEqual); nothing
// for the text codes and unknown ones, which each class answers itself.
inline std::optional<bool> MeetsOrder(int r, short op) {
  switch (op) {
    case CL_CmpEqual:
      return r == 0;
    case CL_CmpLess:
      return r < 0;
    case CL_CmpGreater:
      return r > 0;
    case CL_CmpLessEqual:
      return r <= 0;
    case CL_CmpGreaterEqual:
      return r >= 0;
    case CL_CmpNotEqual:
      return r != 0;
    default:
      return std::nullopt;
  }
}

}  // namespace twcl_internal

#endif  // TW_TWCL_BASE_SAME_CLASS_H_
