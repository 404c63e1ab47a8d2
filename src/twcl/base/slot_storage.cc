// CL_PtrSegments: the segmented slot store under every sequence.
#include "twcl/base/slot_storage.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

// Zeroed slots (make_unique value-initialises the array).
std::unique_ptr<CL_Slot[]> NewSlots(CL_Long count) {
  return std::make_unique<CL_Slot[]>(static_cast<std::size_t>(count));
}

}  // namespace

CL_PtrSegments::CL_PtrSegments(CL_Long capacity) {
  if (capacity < 0) capacity = 0;
  const CL_Long full = capacity >> kSegmentShift;
  const CL_Long remainder = capacity & kSegmentMask;
  // The segment count is a short: beyond that the store cannot be made (capacity 0).
  if (full + 1 > SHRT_MAX) {
    _table = std::make_unique<Segment[]>(1);
    return;
  }
  _table = std::make_unique<Segment[]>(static_cast<std::size_t>(full + 1));
  for (CL_Long k = 0; k < full; ++k) {
    _table[k].slot_count = static_cast<short>(kSegmentSlots);
    _table[k].slots = NewSlots(kSegmentSlots);
  }
  _count = static_cast<short>(full);
  _capacity = full * kSegmentSlots;
  if (remainder != 0) {
    const short last = RoundUp(static_cast<short>(remainder));
    _table[full].slot_count = last;
    _table[full].slots = NewSlots(last);
    ++_count;
    _capacity += last;
  }
}

CL_PtrSegments::~CL_PtrSegments() {
  Free();
}

void CL_PtrSegments::Free() {
  _table.reset();
  _count = 0;
  _capacity = 0;
}

short CL_PtrSegments::RoundUp(short n) {
  if (n <= 0) return 0;
  short p = 1;
  while (p < n) p = static_cast<short>(p << 1);
  return p;
}

bool CL_PtrSegments::ChangeSize(CL_Long n) {
  // Never shrink by less than one segment's worth.
  if (_capacity >= n && std::int64_t{n} + kSegmentSlots > _capacity) return true;
  if (n <= 0) return false;
  const CL_Long remainder = n & kSegmentMask;
  const CL_Long wanted = (n >> kSegmentShift) + (remainder != 0 ? 1 : 0);
  if (wanted > SHRT_MAX) return false;
  const auto segments = static_cast<short>(wanted);
  const bool shrinking = _capacity >= n;
  const CL_Long last_slots =
      remainder == 0 ? kSegmentSlots : std::max<CL_Long>(8, RoundUp(static_cast<short>(remainder)));

  auto table = std::make_unique<Segment[]>(static_cast<std::size_t>(segments));
  CL_Long capacity = 0;
  for (short k = 0; k < segments; ++k) {
    const CL_Long slots = k == segments - 1 ? last_slots : kSegmentSlots;
    Segment& target = table[k];
    if (k < _count) {
      Segment& old = _table[k];
      // A partial last segment survives a shrink while it holds at most twice what is
      // needed, so that alternating one up, one down does not reallocate each time.
      const bool keep =
          old.slot_count == slots || (shrinking && k == segments - 1 && remainder != 0 &&
                                      old.slot_count > slots && old.slot_count <= 2 * slots);
      if (keep) {
        target = std::move(old);
      } else {
        target.slot_count = static_cast<short>(slots);
        target.slots = NewSlots(slots);
        const CL_Long moved = std::min<CL_Long>(old.slot_count, slots);
        std::memcpy(target.slots.get(), old.slots.get(), sizeof(CL_Slot) * moved);
      }
    } else {
      target.slot_count = static_cast<short>(slots);
      target.slots = NewSlots(slots);
    }
    capacity += target.slot_count;
  }
  // Segments beyond the new count go with the old table.
  _table = std::move(table);
  _count = segments;
  _capacity = capacity;
  return true;
}
