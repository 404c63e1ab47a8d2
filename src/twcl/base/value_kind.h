// The element kinds of the containers: how a value of each kind compares, what its null
// value is, its text form and its stored form. Sequences, sets and maps use these alone,
// so a new value class (one derived from CL_Object) works in them without more code.
#ifndef TW_TWCL_BASE_VALUE_KIND_H_
#define TW_TWCL_BASE_VALUE_KIND_H_

#include "twcl/base/object.h"
#include "twcl/base/string.h"

class CL_Stream;

// Value classes derived from CL_Object (CL_String, and visual value classes): compared by
// Compare, null is the default-constructed value, stored by WriteTo / ReadFrom.
template <class T>
struct CL_ValueKind {
  static constexpr bool kStorable = true;
  static constexpr CL_Long kMinWidth = 4;  // a stored value holds at least its class id
  static const T& Null() {
    static const T null_value{};
    return null_value;
  }
  static short Compare(const T& a, const T& b) { return a.Compare(b); }
  static CL_String Text(const T& v) { return v.AsString(); }
  static bool Read(CL_Stream& s, T& v) { return v.ReadFrom(s); }
  static bool Write(CL_Stream& s, const T& v) { return v.WriteTo(s); }
  static CL_Long Width(const T& v) { return v.StorableFormWidth(); }
};

// 32-bit integers: signed order, null 0, decimal text, 4 bytes.
template <>
struct CL_ValueKind<CL_Long> {
  static constexpr bool kStorable = true;
  static constexpr CL_Long kMinWidth = 4;
  static const CL_Long& Null();
  static short Compare(const CL_Long& a, const CL_Long& b);
  static CL_String Text(const CL_Long& v);
  static bool Read(CL_Stream& s, CL_Long& v);
  static bool Write(CL_Stream& s, const CL_Long& v);
  static CL_Long Width(const CL_Long& v);
};

// Pointer-sized integers (handles): signed order, null 0, decimal text, 4 bytes (a value
// that does not fit 32 bits is not written; reading sign-extends).
template <>
struct CL_ValueKind<CL_Word> {
  static constexpr bool kStorable = true;
  static constexpr CL_Long kMinWidth = 4;
  static const CL_Word& Null();
  static short Compare(const CL_Word& a, const CL_Word& b);
  static CL_String Text(const CL_Word& v);
  static bool Read(CL_Stream& s, CL_Word& v);
  static bool Write(CL_Stream& s, const CL_Word& v);
  static CL_Long Width(const CL_Word& v);
};

// Object pointers (not owned): two non-null objects of one class (IsA) compare by the
// first's Compare, anything else by address (signed, pointer-sized); null; text "0x0" or
// "%8lx -> " and the object's AsString; the object-pointer stream form ('N', 'O', 'R').
template <>
struct CL_ValueKind<CL_ObjectPtr> {
  static constexpr bool kStorable = true;
  static constexpr CL_Long kMinWidth = 2;  // the flag
  static const CL_ObjectPtr& Null();
  static short Compare(const CL_ObjectPtr& a, const CL_ObjectPtr& b);
  static CL_String Text(const CL_ObjectPtr& v);
  static bool Read(CL_Stream& s, CL_ObjectPtr& v);
  static bool Write(CL_Stream& s, const CL_ObjectPtr& v);
  static CL_Long Width(const CL_ObjectPtr& v);  // the object's StorableFormWidth, 0 for null
};

// Untyped pointers (not owned): unsigned address order, null, not storable.
template <>
struct CL_ValueKind<void*> {
  static constexpr bool kStorable = false;
  static constexpr CL_Long kMinWidth = 0;
  static void* const& Null();
  static short Compare(void* const& a, void* const& b);
  static CL_String Text(void* const& v);
  static bool Read(CL_Stream& s, void*& v);         // false
  static bool Write(CL_Stream& s, void* const& v);  // false
  static CL_Long Width(void* const& v);             // 4
};

#endif  // TW_TWCL_BASE_VALUE_KIND_H_
