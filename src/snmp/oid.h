// Object identifiers of the SNMP sub-agent's link: up to 32 components of 32 bits, parsed
// from dotted text, compared and printed back.
#ifndef TW_SNMP_OID_H_
#define TW_SNMP_OID_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw::snmp {

inline constexpr uint32_t kMaxOidComponents = 32;

struct Oid {
  uint32_t count = 0;
  std::array<uint32_t, kMaxOidComponents> c{};

  // Appends one component; false (and no change) when the identifier is full.
  [[nodiscard]] bool Append(uint32_t component);
  // Appends every component of other; false (and no change) when they do not fit.
  [[nodiscard]] bool Append(const Oid& other);
  bool operator==(const Oid& o) const;
  std::string Text() const;  // "1.3.6", "" for an empty identifier
};

// Link statuses of identifier parsing.
inline constexpr int kOidBadText = -3;
inline constexpr int kOidTooLong = -4;
// A parsed text holds at most this many dots (31 components); a registered object's
// identifier, root and suffix joined, may still hold kMaxOidComponents.
inline constexpr size_t kMaxOidDots = 30;

// Parses dotted text ("1.3.6.1"; a leading "." is allowed). kOidBadText for an empty text,
// a character other than a digit or ".", an empty component or a component past 32 bits;
// kOidTooLong for more than kMaxOidDots dots. *out is set only on success.
[[nodiscard]] int ParseOid(std::string_view text, Oid* out);

// 0 when equal; -1 or 1 when a is a proper prefix of b or b of a; -2 or 2 by the first
// differing component.
int CompareOid(const Oid& a, const Oid& b);

// Whether prefix is a prefix of oid (or equal to it).
bool HasPrefix(const Oid& oid, const Oid& prefix);

}  // namespace tw::snmp

#endif  // TW_SNMP_OID_H_
