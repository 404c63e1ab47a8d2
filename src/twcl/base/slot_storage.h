// CL_PtrSegments: the segmented slot store under every sequence. Slots are pointer-sized
// cells in segments of 8192; slot i lies in segment i >> 13 at i & 0x1FFF, so access is a
// shift and a mask, and growing never copies a full segment.
#ifndef TW_TWCL_BASE_SLOT_STORAGE_H_
#define TW_TWCL_BASE_SLOT_STORAGE_H_

#include <cstddef>
#include <memory>

#include "twcl/base/types.h"

// One raw, pointer-sized cell. A sequence keeps one element representation in each of its
// slots (the value itself, or a pointer to an owned heap copy), created in place.
struct CL_Slot {
  alignas(void*) std::byte cell[sizeof(void*)];
};

class CL_PtrSegments {
 public:
  static constexpr CL_Long kSegmentSlots = 8192;
  static constexpr int kSegmentShift = 13;
  static constexpr CL_Long kSegmentMask = 0x1FFF;

  // Room for capacity slots: capacity >> 13 full segments and, for a remainder, one last
  // segment of RoundUp(remainder) slots. Zeroed. Capacity() is 0 when allocation failed.
  explicit CL_PtrSegments(CL_Long capacity);
  ~CL_PtrSegments();  // Free
  CL_PtrSegments(const CL_PtrSegments&) = delete;
  CL_PtrSegments& operator=(const CL_PtrSegments&) = delete;

  // The address of slot i; no range check (0 <= i < Capacity() is the caller's duty).
  CL_Slot* operator[](CL_Long i) const {
    return &_table[i >> kSegmentShift].slots[i & kSegmentMask];
  }
  // Makes room for n slots, keeping the first min(n, old capacity) slots; never shrinks by
  // less than one segment, keeps a partial last segment while it holds at most twice what
  // is needed, and grows a partial last segment by powers of two (at least 8). New slots
  // are zero. False (store unchanged) when an allocation fails or n asks for no segment.
  bool ChangeSize(CL_Long n);
  // Frees every segment and the table; capacity 0.
  void Free();
  // 0 for 0, else the smallest power of two not less than n (n below 16384).
  static short RoundUp(short n);

  CL_Long Capacity() const { return _capacity; }
  short SegmentCount() const { return _count; }
  // Slots of segment k (0 <= k < SegmentCount()).
  CL_Long SegmentSlots(short k) const { return _table[k].slot_count; }

 private:
  struct Segment {
    short slot_count = 0;  // 8192 for all but the last
    std::unique_ptr<CL_Slot[]> slots;
  };

  std::unique_ptr<Segment[]> _table;
  short _count = 0;
  CL_Long _capacity = 0;
};

#endif  // TW_TWCL_BASE_SLOT_STORAGE_H_
