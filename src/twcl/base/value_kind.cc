// The element kinds that are not classes: 32-bit integers, pointer-sized integers, object
// pointers and untyped pointers.
#include "twcl/base/value_kind.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "twcl/base/object_stream.h"

namespace {

template <class N>
short Order(N a, N b) {
  return static_cast<short>((a > b) - (a < b));
}

CL_String Format(const char* format, auto value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return CL_String(text);
}

}  // namespace

const CL_Long& CL_ValueKind<CL_Long>::Null() {
  static const CL_Long null_value = 0;
  return null_value;
}

short CL_ValueKind<CL_Long>::Compare(const CL_Long& a, const CL_Long& b) {
  return Order(a, b);
}

CL_String CL_ValueKind<CL_Long>::Text(const CL_Long& v) {
  return Format("%" PRId32, v);
}

bool CL_ValueKind<CL_Long>::Read(CL_Stream& s, CL_Long& v) {
  return s.ReadLong(v);
}

bool CL_ValueKind<CL_Long>::Write(CL_Stream& s, const CL_Long& v) {
  return s.WriteLong(v);
}

CL_Long CL_ValueKind<CL_Long>::Width(const CL_Long&) {
  return 4;
}

const CL_Word& CL_ValueKind<CL_Word>::Null() {
  static const CL_Word null_value = 0;
  return null_value;
}

short CL_ValueKind<CL_Word>::Compare(const CL_Word& a, const CL_Word& b) {
  return Order(a, b);
}

CL_String CL_ValueKind<CL_Word>::Text(const CL_Word& v) {
  return Format("%" PRIdPTR, v);
}

bool CL_ValueKind<CL_Word>::Read(CL_Stream& s, CL_Word& v) {
  return s.ReadWord(v);
}

bool CL_ValueKind<CL_Word>::Write(CL_Stream& s, const CL_Word& v) {
  return s.WriteWord(v);
}

CL_Long CL_ValueKind<CL_Word>::Width(const CL_Word&) {
  return 4;
}

const CL_ObjectPtr& CL_ValueKind<CL_ObjectPtr>::Null() {
  static const CL_ObjectPtr null_value = nullptr;
  return null_value;
}

short CL_ValueKind<CL_ObjectPtr>::Compare(const CL_ObjectPtr& a, const CL_ObjectPtr& b) {
  if (a != nullptr && b != nullptr && a->IsA(*b)) return a->Compare(*b);
  return Order(reinterpret_cast<std::intptr_t>(a), reinterpret_cast<std::intptr_t>(b));
}

CL_String CL_ValueKind<CL_ObjectPtr>::Text(const CL_ObjectPtr& v) {
  if (v == nullptr) return CL_String("0x0");
  return Format("%8lx -> ", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(v))) +
         v->AsString();
}

bool CL_ValueKind<CL_ObjectPtr>::Read(CL_Stream& s, CL_ObjectPtr& v) {
  return s.Read(v);
}

bool CL_ValueKind<CL_ObjectPtr>::Write(CL_Stream& s, const CL_ObjectPtr& v) {
  return s.Write(static_cast<const CL_Object*>(v));
}

CL_Long CL_ValueKind<CL_ObjectPtr>::Width(const CL_ObjectPtr& v) {
  return v != nullptr ? v->StorableFormWidth() : 0;
}

void* const& CL_ValueKind<void*>::Null() {
  static void* const null_value = nullptr;
  return null_value;
}

short CL_ValueKind<void*>::Compare(void* const& a, void* const& b) {
  return Order(reinterpret_cast<std::uintptr_t>(a), reinterpret_cast<std::uintptr_t>(b));
}

CL_String CL_ValueKind<void*>::Text(void* const& v) {
  if (v == nullptr) return CL_String("0x0");
  return Format("%8lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(v)));
}

bool CL_ValueKind<void*>::Read(CL_Stream&, void*&) {
  return false;
}

bool CL_ValueKind<void*>::Write(CL_Stream&, void* const&) {
  return false;
}

CL_Long CL_ValueKind<void*>::Width(void* const&) {
  return 4;
}
