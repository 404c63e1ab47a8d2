// Internal layout of fields, shared by field.cc and fieldlist.cc: a field is reference-counted
// so that views of a list keep its storage alive after the list itself is freed.
#ifndef TW_FLOWCORE_FIELD_IMPL_H_
#define TW_FLOWCORE_FIELD_IMPL_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "flowcore.h"

namespace twfc {

constexpr uint32_t kFieldMagic = 0x46574654u;  // "TFWF"
constexpr uint32_t kDeadMagic = 0xDEADF1E1u;
// Every TWFIELDF_* bit.
constexpr uint32_t kFieldFlagsMask =
    TWFIELDF_NO_NULL | TWFIELDF_TRUNC_PREC | TWFIELDF_TRUNC_DATA | TWFIELDF_NO_FETCH |
    TWFIELDF_NO_INSERT | TWFIELDF_NO_UPDATE | TWFIELDF_NO_REMOVE | TWFIELDF_NO_CREATE |
    TWFIELDF_NO_DROP | TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_LT | TWFIELDF_KEY_NE;

// Bytes one value of a type occupies; 0 for TWTYPE_INVALID and unknown types.
uint32_t TypeSize(uint32_t type);

}  // namespace twfc

struct TWFieldImpl {
  uint32_t magic = twfc::kFieldMagic;
  std::atomic<uint32_t> refs{1};
  bool listOwned = false;
  uint32_t type = TWTYPE_INVALID;
  uint32_t flags = 0;
  uint32_t virtualCode = 0;
  uint32_t count = 0;
  uint32_t size = 0;  // TypeSize(type)
  uint32_t numFlags = 0, numSize = 0, numPrecision = 0;
  int32_t numScale = 0;
  uint32_t dtFlags = 0, dtSize = 0;
  uint32_t stFlags = 0, stMaxLength = 0, stFormat = 0;
  std::unique_ptr<unsigned char[]> values;  // count * size bytes
  std::unique_ptr<int32_t[]> nulls;         // count words, 1 = null

  ~TWFieldImpl();
};

namespace twfc {

inline bool FieldOk(const TWFieldImpl* f) {
  return f != nullptr && f->magic == kFieldMagic;
}

// A new field of type with count null values (throws std::bad_alloc). The caller holds the
// one reference.
TWFieldImpl* NewField(uint32_t type, uint32_t count, uint32_t flags, bool listOwned);
inline void Retain(TWFieldImpl* f) {
  f->refs.fetch_add(1, std::memory_order_relaxed);
}
void Release(TWFieldImpl* f);
// A new list-owned field that is a copy of source (type, formats, flags, code, values).
[[nodiscard]] uint32_t CloneField(const TWFieldImpl* source, TWFieldImpl** out);

}  // namespace twfc

#endif  // TW_FLOWCORE_FIELD_IMPL_H_
