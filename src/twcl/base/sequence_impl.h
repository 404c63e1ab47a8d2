// Member definitions of CL_Sequence<T>. Included only by the units that instantiate
// sequences (sequence.cc for the library's kinds, and a unit of the visual half for its own).
#ifndef TW_TWCL_BASE_SEQUENCE_IMPL_H_
#define TW_TWCL_BASE_SEQUENCE_IMPL_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/sequence.h"
#include "twcl/base/set.h"

namespace cl_sequence_detail {

// The most slots a store can hold (its segment count is a short).
inline constexpr std::int64_t kMaxSlots = std::int64_t{0x7FFF} * CL_PtrSegments::kSegmentSlots;

// Capacity asked of the store for n elements: a sequence never asks for fewer than 8 slots.
inline CL_Long Room(CL_Long n) {
  return std::max<CL_Long>(n, 8);
}

// The element representation a slot holds: the value itself, or a pointer to an owned copy.
template <class T>
CL_Slot MakeSlot(const T& e) {
  CL_Slot slot{};
  if constexpr (CL_InSlot<T>)
    std::construct_at(reinterpret_cast<T*>(slot.cell), e);
  else
    std::construct_at(reinterpret_cast<T**>(slot.cell), new T(e));
  return slot;
}

template <class T>
T& Element(CL_Slot* slot) {
  if constexpr (CL_InSlot<T>)
    return *std::launder(reinterpret_cast<T*>(slot->cell));
  else
    return **std::launder(reinterpret_cast<T**>(slot->cell));
}

// Ends the element representation in slot and zeroes the slot.
template <class T>
void ReleaseSlot(CL_Slot* slot) {
  if constexpr (!CL_InSlot<T>) delete *std::launder(reinterpret_cast<T**>(slot->cell));
  std::memset(slot->cell, 0, sizeof slot->cell);
}

inline void MoveSlot(const CL_PtrSegments& store, CL_Long from, CL_Long to) {
  std::memcpy(store[to], store[from], sizeof(CL_Slot));
}

inline void SwapSlots(const CL_PtrSegments& store, CL_Long a, CL_Long b) {
  if (a == b) return;
  CL_Slot held;
  std::memcpy(&held, store[a], sizeof held);
  std::memcpy(store[a], store[b], sizeof held);
  std::memcpy(store[b], &held, sizeof held);
}

inline void ZeroSlots(const CL_PtrSegments& store, CL_Long from, CL_Long to) {
  for (CL_Long i = from; i < to; ++i) std::memset(store[i]->cell, 0, sizeof(CL_Slot));
}

// The positions of an integer set that lie in 0 .. size-1, ascending.
inline std::vector<CL_Long> PositionsInRange(const CL_IntegerSet& positions, CL_Long size) {
  std::vector<CL_Long> in_range;
  const CL_Sequence<CL_Long>* members = positions._Storage();
  if (members == nullptr) return in_range;
  for (CL_Long k = 0; k < members->Size(); ++k) {
    const CL_Long p = (*members)[k];
    if (p >= 0 && p < size) in_range.push_back(p);
  }
  return in_range;
}

}  // namespace cl_sequence_detail

template <class T>
CL_Sequence<T>::CL_Sequence(CL_Long initial_size) {
  const CL_Long n = std::max<CL_Long>(initial_size, 0);
  _storage = std::make_unique<CL_PtrSegments>(cl_sequence_detail::Room(n));
  if (_storage->Capacity() < n) {
    _storage.reset();
    return;
  }
  // Zeroed slots already are null elements of the kinds held in place.
  if constexpr (!CL_InSlot<T>)
    for (CL_Long i = 0; i < n; ++i) _Construct(i, CL_ValueKind<T>::Null());
  _size = n;
}

template <class T>
CL_Sequence<T>::CL_Sequence(const T data[], CL_Long count) : CL_Sequence(0) {
  if (data == nullptr || count <= 0 || !_storage) return;
  if (!_storage->ChangeSize(cl_sequence_detail::Room(count))) return;
  for (CL_Long i = 0; i < count; ++i) _Construct(i, data[i]);
  _size = count;
}

template <class T>
CL_Sequence<T>::CL_Sequence(const CL_Sequence& other) : CL_Object(other) {
  _storage = std::make_unique<CL_PtrSegments>(cl_sequence_detail::Room(other._size));
  if (_storage->Capacity() < other._size) {
    _storage.reset();
    return;
  }
  for (CL_Long i = 0; i < other._size; ++i) _Construct(i, other[i]);
  _size = other._size;
}

template <class T>
CL_Sequence<T>::~CL_Sequence() {
  if (_storage)
    for (CL_Long i = 0; i < _size; ++i) _Destroy(i);
}

template <class T>
const char* CL_Sequence<T>::ClassName() const {
  return "CL_Sequence";
}

template <class T>
CL_Long CL_Sequence<T>::ClassId() const {
  return CL_ClassId_Sequence;
}

template <class T>
CL_Object* CL_Sequence<T>::Clone() const {
  return new CL_Sequence(*this);
}

template <class T>
CL_Sequence<T>& CL_Sequence<T>::operator=(const CL_Object& other) {
  // Every instance shares class id 22, so the element kind is checked by type as well.
  if (!CheckClassId(other, "CL_Sequence::op=")) return *this;
  if (const auto* sequence = dynamic_cast<const CL_Sequence*>(&other)) operator=(*sequence);
  return *this;
}

template <class T>
CL_Long CL_Sequence<T>::StorableFormWidth() const {
  CL_Long width = 8;
  for (CL_Long i = 0; i < _size; ++i) width += CL_ValueKind<T>::Width((*this)[i]);
  return width;
}

template <class T>
bool CL_Sequence<T>::WriteTo(CL_Stream& s) const {
  if (!_storage || !s.WriteLong(ClassId()) || !s.WriteLong(_size)) return false;
  for (CL_Long i = 0; i < _size; ++i)
    if (!_WriteElement(s, i)) return false;
  return true;
}

template <class T>
bool CL_Sequence<T>::ReadFrom(CL_Stream& s) {
  using namespace cl_sequence_detail;
  if (!_storage || !ReadClassId(s)) return false;
  CL_Long count;
  if (!s.ReadLong(count) || count < 0) return false;
  // Objects made by an object sequence's reader are not in the stream's journal; the read
  // deletes them itself when it fails.
  bool reader_made = false;
  if constexpr (std::is_same_v<T, CL_ObjectPtr>) {
    const auto* objects = dynamic_cast<const CL_ObjectSequence*>(this);
    reader_made = objects != nullptr && objects->Reader() != nullptr;
  }
  // Every stored element takes at least its kind's minimum width (a reader's form at least
  // one byte), so a count that cannot fit in what remains is refused before anything is
  // allocated.
  const std::int64_t min_width = reader_made ? 1 : std::max<CL_Long>(CL_ValueKind<T>::kMinWidth, 1);
  if (count * min_width > s.Remaining()) return false;
  auto fresh = std::make_unique<CL_PtrSegments>(Room(count));
  if (fresh->Capacity() < count) return false;

  // The elements are read into a fresh store installed in place of the present one, so
  // that the element reader (a virtual of the sequence's own class) fills it; the present
  // elements come back untouched when anything fails.
  const CL_Long mark = s._ReadMark();
  std::swap(_storage, fresh);
  const CL_Long old_size = std::exchange(_size, count);
  if constexpr (!CL_InSlot<T>)
    for (CL_Long i = 0; i < count; ++i) _Construct(i, CL_ValueKind<T>::Null());
  CL_Long read = 0;
  while (read < count && _ReadElement(s, read)) ++read;
  std::swap(_storage, fresh);
  _size = old_size;

  auto discard_fresh = [&]() {
    if constexpr (std::is_same_v<T, CL_ObjectPtr>) {
      std::unordered_set<CL_Object*> deleted;
      for (CL_Long i = 0; reader_made && i < read; ++i)
        if (CL_Object* o = Element<T>((*fresh)[i]); o != nullptr && deleted.insert(o).second)
          delete o;
    }
    for (CL_Long i = 0; i < count; ++i) ReleaseSlot<T>((*fresh)[i]);
    s._AbandonRead(mark);
  };
  if (read < count || !PrepareToChange()) {
    discard_fresh();
    return false;
  }
  for (CL_Long i = 0; i < _size; ++i) _Destroy(i);
  _storage = std::move(fresh);
  _size = count;
  Notify();
  return true;
}

template <class T>
T& CL_Sequence<T>::operator[](CL_Long index) {
  if (!_storage) return _Scratch() = CL_ValueKind<T>::Null();
  if (index < 0 || index >= _size) {
    CL_Error::Warning("CL_Sequence::op[]: index %ld out of range 0..%ld", static_cast<long>(index),
                      static_cast<long>(_size) - 1);
    return _Scratch() = CL_ValueKind<T>::Null();
  }
  return _At(index);
}

template <class T>
const T& CL_Sequence<T>::operator[](CL_Long index) const {
  if (!_storage) return _Scratch() = CL_ValueKind<T>::Null();
  if (index < 0 || index >= _size) {
    CL_Error::Warning("CL_Sequence::op[]: index %ld out of range 0..%ld", static_cast<long>(index),
                      static_cast<long>(_size) - 1);
    return _Scratch() = CL_ValueKind<T>::Null();
  }
  return cl_sequence_detail::Element<T>((*_storage)[index]);
}

template <class T>
T& CL_Sequence<T>::_At(CL_Long index) {
  return cl_sequence_detail::Element<T>((*_storage)[index]);
}

template <class T>
T& CL_Sequence<T>::_Scratch() {
  static T scratch = CL_ValueKind<T>::Null();
  return scratch;
}

template <class T>
void CL_Sequence<T>::_Destroy(CL_Long index) {
  cl_sequence_detail::ReleaseSlot<T>((*_storage)[index]);
}

template <class T>
void CL_Sequence<T>::_Construct(CL_Long index, const T& e) {
  const CL_Slot slot = cl_sequence_detail::MakeSlot(e);
  std::memcpy((*_storage)[index], &slot, sizeof slot);
}

template <class T>
bool CL_Sequence<T>::Insert(const T& e, CL_Long after) {
  using namespace cl_sequence_detail;
  if (!_storage || after < -1 || (_size > 0 && after >= _size)) return false;
  if (_size + std::int64_t{1} > kMaxSlots) return false;
  if (!PrepareToChange()) return false;
  // The copy is made first: e may be an element of this very sequence, whose slot moves.
  const CL_Slot made = MakeSlot(e);
  const CL_Long position = std::min(after + 1, _size);
  if (!ShiftRight(position, 1)) {
    CL_Slot dropped = made;
    ReleaseSlot<T>(&dropped);
    return false;
  }
  _Destroy(position);
  std::memcpy((*_storage)[position], &made, sizeof made);
  Notify();
  return true;
}

template <class T>
CL_Long CL_Sequence<T>::InsertByRank(const T& e) {
  CL_Long rank = 0;
  while (rank < _size && CompareElements(_At(rank), e) < 0) ++rank;
  return Insert(e, rank - 1) ? rank : -1;
}

template <class T>
CL_Long CL_Sequence<T>::Add(const T& e) {
  const CL_Long index = _size;
  return Insert(e, _size - 1) ? index : -1;
}

template <class T>
T CL_Sequence<T>::Remove(CL_Long index) {
  if (!_storage || index < 0 || index >= _size) return CL_ValueKind<T>::Null();
  if (!PrepareToChange()) return CL_ValueKind<T>::Null();
  T removed = _At(index);
  ShiftLeft(index + 1, 1);
  Notify();
  return removed;
}

template <class T>
T CL_Sequence<T>::ExtractLeftmost() {
  return CL_Sequence::Remove(CL_Long{0});
}

template <class T>
T CL_Sequence<T>::ExtractRightmost() {
  return CL_Sequence::Remove(_size - 1);
}

template <class T>
CL_Sequence<T>& CL_Sequence<T>::operator=(const CL_Sequence& other) {
  using namespace cl_sequence_detail;
  if (&other == this || !_storage || !PrepareToChange()) return *this;
  const CL_Long n = other._storage ? other._size : 0;
  auto fresh = std::make_unique<CL_PtrSegments>(Room(n));
  if (fresh->Capacity() < n) return *this;
  for (CL_Long i = 0; i < n; ++i) {
    const CL_Slot made = MakeSlot(other[i]);
    std::memcpy((*fresh)[i], &made, sizeof made);
  }
  for (CL_Long i = 0; i < _size; ++i) _Destroy(i);
  _storage = std::move(fresh);
  _size = n;
  Notify();
  return *this;
}

template <class T>
CL_Sequence<T>& CL_Sequence<T>::operator+=(const CL_Sequence& other) {
  using namespace cl_sequence_detail;
  if (!_storage) return *this;
  const CL_Long n = other._storage ? other._size : 0;
  if (_size + std::int64_t{n} > kMaxSlots || !PrepareToChange()) return *this;
  if (!_storage->ChangeSize(Room(_size + n))) return *this;
  // Indexing up to n only: other may be this sequence, which grows meanwhile.
  for (CL_Long i = 0; i < n; ++i) _Construct(_size + i, other[i]);
  _size += n;
  Notify();
  return *this;
}

template <class T>
bool CL_Sequence<T>::Remove(const CL_IntegerSet& positions) {
  if (!_storage) return false;
  if (cl_sequence_detail::PositionsInRange(positions, _size).empty()) return true;
  CL_Sequence discarded;
  return ExtractInto(positions, discarded) > 0;
}

template <class T>
CL_Long CL_Sequence<T>::ExtractInto(const CL_IntegerSet& positions, CL_Sequence& target) {
  using namespace cl_sequence_detail;
  if (!_storage || !target._storage || &target == this) return 0;
  const std::vector<CL_Long> moving = PositionsInRange(positions, _size);
  const auto m = static_cast<CL_Long>(moving.size());
  if (m == 0 || target._size + std::int64_t{m} > kMaxSlots) return 0;
  if (!PrepareToChange() || !target.PrepareToChange()) return 0;
  if (!target._storage->ChangeSize(Room(target._size + m))) return 0;
  // The representations move as they are: the target takes over owned copies.
  CL_Long kept = 0;
  std::size_t next = 0;
  for (CL_Long i = 0; i < _size; ++i) {
    if (next < moving.size() && moving[next] == i) {
      std::memcpy((*target._storage)[target._size + static_cast<CL_Long>(next)], (*_storage)[i],
                  sizeof(CL_Slot));
      ++next;
    } else {
      if (kept != i) MoveSlot(*_storage, i, kept);
      ++kept;
    }
  }
  ZeroSlots(*_storage, kept, _size);
  _size = kept;
  _storage->ChangeSize(Room(_size));
  target._size += m;
  Notify();
  target.Notify();
  return m;
}

template <class T>
CL_Sequence<T> CL_Sequence<T>::Extract(const CL_IntegerSet& positions) {
  CL_Sequence extracted;
  ExtractInto(positions, extracted);
  return extracted;
}

template <class T>
bool CL_Sequence<T>::ChangeSize(CL_Long n) {
  using namespace cl_sequence_detail;
  if (!_storage || n < 0 || n > kMaxSlots || !PrepareToChange()) return false;
  if (n > _size) {
    if (!_storage->ChangeSize(Room(n))) return false;
    if constexpr (!CL_InSlot<T>)
      for (CL_Long i = _size; i < n; ++i) _Construct(i, CL_ValueKind<T>::Null());
  } else {
    for (CL_Long i = n; i < _size; ++i) _Destroy(i);
    _storage->ChangeSize(Room(n));
  }
  _size = n;
  Notify();
  return true;
}

template <class T>
bool CL_Sequence<T>::MakeEmpty() {
  if (!_storage || !PrepareToChange()) return false;
  for (CL_Long i = 0; i < _size; ++i) _Destroy(i);
  _size = 0;
  _storage->ChangeSize(cl_sequence_detail::Room(0));
  Notify();
  return true;
}

template <class T>
bool CL_Sequence<T>::DestroyContents() requires std::is_same_v<T, CL_ObjectPtr> {
  // Clang 14 instantiates this body for every explicitly instantiated sequence, constraint
  // or not: it must stay well-formed for elements that are not object pointers.
  if constexpr (std::is_same_v<T, CL_ObjectPtr>) {
    if (!_storage || !PrepareToChange()) return false;
    // One object held twice is deleted once.
    std::unordered_set<CL_Object*> deleted;
    for (CL_Long i = 0; i < _size; ++i) {
      CL_Object* object = _At(i);
      if (object != nullptr && deleted.insert(object).second) delete object;
      _Destroy(i);
    }
    _size = 0;
    Notify();
    return true;
  } else {
    return false;
  }
}

template <class T>
bool CL_Sequence<T>::ShiftRight(CL_Long index, CL_Long count) {
  using namespace cl_sequence_detail;
  if (!_storage || index < 0 || index > _size || count < 0) return false;
  if (_size + std::int64_t{count} > kMaxSlots) return false;
  if (!_storage->ChangeSize(Room(_size + count))) return false;
  for (CL_Long i = _size - 1; i >= index; --i) MoveSlot(*_storage, i, i + count);
  for (CL_Long i = index; i < index + count; ++i) {
    std::memset((*_storage)[i]->cell, 0, sizeof(CL_Slot));
    if constexpr (!CL_InSlot<T>) _Construct(i, CL_ValueKind<T>::Null());
  }
  _size += count;
  return true;
}

template <class T>
bool CL_Sequence<T>::ShiftLeft(CL_Long pos, CL_Long count) {
  using namespace cl_sequence_detail;
  if (!_storage || pos < 1 || pos > _size || count < 0 || count > pos) return false;
  for (CL_Long i = pos - count; i < pos; ++i) _Destroy(i);
  for (CL_Long i = pos; i < _size; ++i) MoveSlot(*_storage, i, i - count);
  ZeroSlots(*_storage, _size - count, _size);
  _size -= count;
  _storage->ChangeSize(Room(_size));
  return true;
}

template <class T>
bool CL_Sequence<T>::Sort(CL_Long start, CL_Long count) {
  if (!_storage || start < 0 || start >= _size) return false;
  const auto end = static_cast<CL_Long>(
      std::min<std::int64_t>(std::int64_t{start} + count - 1, std::int64_t{_size} - 1));
  CL_Long i = start;
  while (i < end && CompareElements(_At(i), _At(i + 1)) <= 0) ++i;
  // Already in order: nothing changes and nobody is asked or told.
  if (i >= end || !PrepareToChange()) return false;
  QuickSort(start, end);
  Notify();
  return true;
}

template <class T>
bool CL_Sequence<T>::IsSorted() const {
  for (CL_Long i = 0; i + 1 < _size; ++i)
    if (CompareElements((*this)[i], (*this)[i + 1]) > 0) return false;
  return true;
}

template <class T>
bool CL_Sequence<T>::QuickSort(CL_Long lo, CL_Long hi) {
  using namespace cl_sequence_detail;
  if (!_storage || lo < 0 || hi >= _size) return false;
  CL_Long i = lo;
  while (i < hi && CompareElements(_At(i), _At(i + 1)) <= 0) ++i;
  if (i >= hi) return false;
  while (lo < hi) {
    // The element from lo+1 becomes the pivot at lo.
    SwapSlots(*_storage, lo, lo + 1);
    CL_Long last = lo;
    for (CL_Long j = lo + 1; j <= hi; ++j)
      if (CompareElements(_At(j), _At(lo)) < 0) SwapSlots(*_storage, ++last, j);
    SwapSlots(*_storage, lo, last);
    // Recursing on the shorter side keeps the depth logarithmic.
    if (last - lo < hi - last) {
      if (lo < last - 1) QuickSort(lo, last - 1);
      lo = last + 1;
    } else {
      if (last + 1 < hi) QuickSort(last + 1, hi);
      hi = last - 1;
    }
  }
  return true;
}

template <class T>
bool CL_Sequence<T>::_ReadElement(CL_Stream& s, CL_Long index) {
  if constexpr (!CL_ValueKind<T>::kStorable) {
    NotImplemented("_ReadElement");
    return false;
  } else {
    if (!_storage || index < 0 || index >= _size) return false;
    return CL_ValueKind<T>::Read(s, _At(index));
  }
}

template <class T>
bool CL_Sequence<T>::_WriteElement(CL_Stream& s, CL_Long index) const {
  if constexpr (!CL_ValueKind<T>::kStorable) {
    NotImplemented("_WriteElement");
    return false;
  } else {
    if (!_storage || index < 0 || index >= _size) return false;
    return CL_ValueKind<T>::Write(s, (*this)[index]);
  }
}

template <class T>
short CL_Sequence<T>::CompareElements(const T& a, const T& b) const {
  return CL_ValueKind<T>::Compare(a, b);
}

template <class T>
bool CL_Sequence<T>::BinarySearch(const T& e, CL_Long& index) const {
  index = -1;
  if (!_storage) return false;
  auto at = [this](CL_Long i) -> const T& {
    return cl_sequence_detail::Element<T>((*_storage)[i]);
  };
  if (_size < 8) {
    CL_Long i = 0;
    while (i < _size && CompareElements(at(i), e) < 0) ++i;
    if (i < _size && CompareElements(at(i), e) == 0) {
      index = i;
      return true;
    }
    index = i - 1;
    return false;
  }
  CL_Long lo = 0, hi = _size - 1, mid = 0;
  bool last_less = false;
  while (lo <= hi) {
    mid = lo + (hi - lo) / 2;
    const short c = CompareElements(at(mid), e);
    if (c == 0) {
      while (mid > 0 && CompareElements(at(mid - 1), e) == 0) --mid;
      index = mid;
      return true;
    }
    last_less = c < 0;
    if (last_less)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  index = last_less ? mid : mid - 1;
  return false;
}

#endif  // TW_TWCL_BASE_SEQUENCE_IMPL_H_
