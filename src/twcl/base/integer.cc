// CL_Integer: a 32-bit value as an object, with notifying changes and a stored form.
#include "twcl/base/integer.h"

#include <cstdint>
#include <ostream>

#include "twcl/base/class_registry.h"
#include "twcl/base/long_value.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"

namespace {

const CL_ClassIdEntry integer_entry(CL_ClassId_Integer,
                                    []() -> CL_Object* { return new CL_Integer; });

using twcl_internal::SameClass;

// Wraps like the 32-bit original instead of overflowing.
CL_Long Step(CL_Long value, int by) {
  return static_cast<CL_Long>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(by));
}

}  // namespace

CL_Integer::CL_Integer(CL_Long value) : _value(value) {}

CL_Integer::CL_Integer(const CL_Integer& other) : CL_OrderedObject(other), _value(other._value) {}

CL_Integer::~CL_Integer() = default;

const char* CL_Integer::ClassName() const {
  return "CL_Integer";
}

CL_Long CL_Integer::ClassId() const {
  return CL_ClassId_Integer;
}

CL_Object* CL_Integer::Clone() const {
  return new CL_Integer(*this);
}

CL_Integer& CL_Integer::operator=(CL_Long value) {
  if (PrepareToChange()) {
    _value = value;
    Notify();
  }
  return *this;
}

CL_Integer& CL_Integer::operator=(const CL_Integer& other) {
  if (&other != this) operator=(other._value);
  return *this;
}

CL_Integer& CL_Integer::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_Integer::operator=")) return *this;
  if (const CL_Integer* integer = SameClass(*this, other)) operator=(*integer);
  return *this;
}

CL_Long CL_Integer::operator++() {
  operator=(Step(_value, 1));
  return _value;
}

CL_Long CL_Integer::operator++(int) {
  const CL_Long before = _value;
  operator=(Step(_value, 1));
  return before;
}

CL_Long CL_Integer::operator--() {
  operator=(Step(_value, -1));
  return _value;
}

CL_Long CL_Integer::operator--(int) {
  const CL_Long before = _value;
  operator=(Step(_value, -1));
  return before;
}

CL_String CL_Integer::AsString() const {
  CL_String text;
  text.Assign(_value);
  return text;
}

CL_String CL_Integer::InRadix(short radix) const {
  if (radix == 10 || _value == 0) return AsString();
  if (radix < 2 || radix > 16) return CL_String();
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char text[33];
  char* p = text + sizeof text;
  for (auto v = static_cast<std::uint32_t>(_value); v != 0; v /= static_cast<std::uint32_t>(radix))
    *--p = kDigits[v % static_cast<std::uint32_t>(radix)];
  return CL_String(p, static_cast<CL_Long>(text + sizeof text - p));
}

void CL_Integer::IntoStream(std::ostream& out) const {
  out << _value;
}

CL_Long CL_Integer::StorableFormWidth() const {
  return 8;
}

bool CL_Integer::ReadFrom(CL_Stream& s) {
  return twcl_internal::ReadLongForm(*this, s, _value, [](CL_Long) { return true; });
}

bool CL_Integer::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_Integer) && s.WriteLong(_value);
}
