// CL_OrderedObject<T>: the relational operators and Compare of a value class T, written once
// over T's own three-way order of two T objects.
#ifndef TW_TWCL_BASE_ORDERED_OBJECT_H_
#define TW_TWCL_BASE_ORDERED_OBJECT_H_

#include <functional>

#include "twcl/base/object.h"
#include "twcl/base/same_class.h"

// How the relational operators answer against an object of another class: all false
// (kNone), or by address as CL_Object's own do (kByAddress). Either way == is false there,
// != true and Compare orders by address.
enum class CL_ForeignOrder { kNone, kByAddress };

// T derives from CL_OrderedObject<T> and provides, to this class as a friend,
//   int _Order(const T& other) const;  // < 0, 0 or > 0 as this comes before, with or after
// Within the class every operator follows _Order (Compare answers its sign).
template <class T, CL_ForeignOrder kForeign = CL_ForeignOrder::kNone>
class CL_OrderedObject : public CL_Object {
 public:
  using CL_Object::operator=;
  bool operator<(const CL_Object& other) const override {
    return _Relate(other, std::less<>{}, [&] { return CL_Object::operator<(other); });
  }
  bool operator==(const CL_Object& other) const override {
    return _Relate(other, std::equal_to<>{}, [] { return false; });
  }
  bool operator<=(const CL_Object& other) const override {
    return _Relate(other, std::less_equal<>{}, [&] { return CL_Object::operator<=(other); });
  }
  bool operator>(const CL_Object& other) const override {
    return _Relate(other, std::greater<>{}, [&] { return CL_Object::operator>(other); });
  }
  bool operator>=(const CL_Object& other) const override {
    return _Relate(other, std::greater_equal<>{}, [&] { return CL_Object::operator>=(other); });
  }
  bool operator!=(const CL_Object& other) const override { return !operator==(other); }
  short Compare(const CL_Object& other) const override {
    const T* same = twcl_internal::SameClass(_Self(), other);
    if (same == nullptr) return twcl_internal::AddressOrder(this, &other);
    const int r = _Self()._Order(*same);
    return static_cast<short>((r > 0) - (r < 0));
  }

 protected:
  CL_OrderedObject() = default;
  CL_OrderedObject(const CL_OrderedObject& other) : CL_Object(other) {}

 private:
  const T& _Self() const { return static_cast<const T&>(*this); }
  // holds(order, 0) within the class; against another class foreign() when kByAddress.
  template <class Holds, class Foreign>
  bool _Relate(const CL_Object& other, Holds holds, Foreign foreign) const {
    if (const T* same = twcl_internal::SameClass(_Self(), other))
      return holds(_Self()._Order(*same), 0);
    return kForeign == CL_ForeignOrder::kByAddress && foreign();
  }
};

#endif  // TW_TWCL_BASE_ORDERED_OBJECT_H_
