// The one check every value class makes before comparing itself with another object: the
// other must report the same class and really be one. Internal to the library.
#ifndef TW_TWCL_BASE_SAME_CLASS_H_
#define TW_TWCL_BASE_SAME_CLASS_H_

#include "twcl/base/object.h"

namespace twcl_internal {

// other as a T when it is of self's class, else null.
template <class T>
const T* SameClass(const T& self, const CL_Object& other) {
  return self.IsA(other) ? dynamic_cast<const T*>(&other) : nullptr;
}

}  // namespace twcl_internal

#endif  // TW_TWCL_BASE_SAME_CLASS_H_
