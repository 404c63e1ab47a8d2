// Scalar types shared by every class of the foundation library: the 32-bit "long" of stored
// values and counts, the pointer-sized word that carries addresses, and the two helpers
// CL_Min and CL_Max.
#ifndef TW_TWCL_BASE_TYPES_H_
#define TW_TWCL_BASE_TYPES_H_

#include <cstddef>
#include <cstdint>

// A "long" of the library: element counts, positions, class ids, integer values. Always 32
// bits, so a value round-trips through its 4-byte stored form unchanged.
using CL_Long = std::int32_t;

// A value that may hold an address: binding arguments, tree labels and contents, the
// handle keys of CL_IntPtrMap. Stored forms still write 4 bytes; a writer refuses a value
// that does not fit.
using CL_Word = std::intptr_t;

class CL_Object;
// Element kind "object pointer" of the containers; the container does not own the object
// unless its description says so.
using CL_ObjectPtr = CL_Object*;

constexpr CL_Long CL_Min(CL_Long a, CL_Long b) {
  return a < b ? a : b;
}
constexpr CL_Long CL_Max(CL_Long a, CL_Long b) {
  return a < b ? b : a;
}

#endif  // TW_TWCL_BASE_TYPES_H_
