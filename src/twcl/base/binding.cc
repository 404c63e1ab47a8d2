// CL_AbstractBinding: the identity, order and text form shared by every binding.
#include "twcl/base/binding.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>

CL_AbstractBinding::~CL_AbstractBinding() = default;

const char* CL_AbstractBinding::ClassName() const {
  return "CL_AbstractBinding";
}

short CL_AbstractBinding::Compare(const CL_Object& other) const {
  // Instances of one binding template share a class id, so the check by id is followed by
  // a real type check before the other's pair is read.
  const auto* binding = IsA(other) ? dynamic_cast<const CL_AbstractBinding*>(&other) : nullptr;
  if (binding == nullptr) {
    if (this == &other) return 0;
    return std::less<const CL_Object*>{}(this, &other) ? -1 : 1;
  }
  const auto mine = reinterpret_cast<std::intptr_t>(_Target());
  const auto theirs = reinterpret_cast<std::intptr_t>(binding->_Target());
  if (mine != theirs) return mine < theirs ? -1 : 1;
  // Member pointers have no order in C++; their bytes give a total order and exact equality.
  const std::span<const unsigned char> a = _MemberBytes(), b = binding->_MemberBytes();
  const std::size_t common = std::min(a.size(), b.size());
  const int bytes = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (bytes != 0) return bytes < 0 ? -1 : 1;
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

bool CL_AbstractBinding::operator==(const CL_Object& other) const {
  return Compare(other) == 0;
}

bool CL_AbstractBinding::operator<(const CL_Object& other) const {
  return Compare(other) < 0;
}

CL_String CL_AbstractBinding::_Describe(const char* name) const {
  char text[128];
  std::snprintf(text, sizeof text, "%s: object %08lx", name,
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(_Target())));
  return CL_String(text);
}
