// Object identifiers: parsing, comparison and printing.
#include "oid.h"

namespace tw::snmp {

bool Oid::Append(uint32_t component) {
  if (count >= kMaxOidComponents) return false;
  c[count++] = component;
  return true;
}

bool Oid::Append(const Oid& other) {
  if (count + other.count > kMaxOidComponents) return false;
  for (uint32_t i = 0; i < other.count; ++i) c[count++] = other.c[i];
  return true;
}

bool Oid::operator==(const Oid& o) const {
  return CompareOid(*this, o) == 0;
}

std::string Oid::Text() const {
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(c[i]);
  }
  return text;
}

int ParseOid(std::string_view text, Oid* out) {
  // Every dot counts against the limit, a leading one too.
  size_t dots = 0;
  for (char ch : text) dots += ch == '.';
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  if (text.empty()) return kOidBadText;
  Oid oid;
  uint64_t value = 0;
  bool digits = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    char ch = i < text.size() ? text[i] : '.';
    if (ch >= '0' && ch <= '9') {
      value = value * 10 + static_cast<uint32_t>(ch - '0');
      if (value > UINT32_MAX) return kOidBadText;
      digits = true;
    } else if (ch == '.') {
      if (!digits) return kOidBadText;
      if (!oid.Append(static_cast<uint32_t>(value))) return kOidTooLong;
      value = 0;
      digits = false;
    } else {
      return kOidBadText;
    }
  }
  if (dots > kMaxOidDots) return kOidTooLong;
  *out = oid;
  return 0;
}

int CompareOid(const Oid& a, const Oid& b) {
  uint32_t n = a.count < b.count ? a.count : b.count;
  for (uint32_t i = 0; i < n; ++i)
    if (a.c[i] != b.c[i]) return a.c[i] < b.c[i] ? -2 : 2;
  if (a.count == b.count) return 0;
  return a.count < b.count ? -1 : 1;
}

bool HasPrefix(const Oid& oid, const Oid& prefix) {
  int r = CompareOid(prefix, oid);
  return r == 0 || r == -1;
}

}  // namespace tw::snmp
