// The value storage of a run of records of one field, looked up once for a block: the engine
// keeps a field's values, and their null words, side by side, so a connector moving many
// records steps through them instead of asking the engine for each one.
#ifndef TW_LINK_TWX_SLOTS_H_
#define TW_LINK_TWX_SLOTS_H_

#include <cstddef>
#include <cstdint>

#include "flowcore.h"

namespace twx {

class FieldSlots {
 public:
  // Records first to first + count - 1 of field. When either end cannot be looked up (or the
  // storage is not where its layout puts it), every Get asks the engine, so that each
  // record answers the status it always did.
  void Reset(TWFIELD field, uint32_t first, uint32_t count) {
    field_ = field;
    first_ = first;
    stepped_ = false;
    void* value = nullptr;
    int32_t* isNull = nullptr;
    if (count == 0 || TWFieldGetBuffer(field, first, &value, &isNull) != TWSUCCESS) return;
    size_ = TWFieldGetTypeSize(field);
    void* lastValue = nullptr;
    int32_t* lastNull = nullptr;
    if (TWFieldGetBuffer(field, first + count - 1, &lastValue, &lastNull) != TWSUCCESS) return;
    base_ = static_cast<unsigned char*>(value);
    nulls_ = isNull;
    stepped_ = lastValue == base_ + size_t{count - 1} * size_ && lastNull == nulls_ + (count - 1);
  }

  // The value and null word of record first + k (k below the count given to Reset).
  [[nodiscard]] uint32_t Get(uint32_t k, void** value, int32_t** isNull) const {
    if (!stepped_) return TWFieldGetBuffer(field_, first_ + k, value, isNull);
    *value = base_ + size_t{k} * size_;
    *isNull = nulls_ + k;
    return TWSUCCESS;
  }

 private:
  TWFIELD field_ = TWNULLHANDLE;
  uint32_t first_ = 1;
  bool stepped_ = false;
  unsigned char* base_ = nullptr;
  int32_t* nulls_ = nullptr;
  size_t size_ = 0;
};

}  // namespace twx

#endif  // TW_LINK_TWX_SLOTS_H_
