// Member definitions of CL_Set<T> and CL_SetIterator<T>. Included only by the units that
// instantiate sets.
#ifndef TW_TWCL_BASE_SET_IMPL_H_
#define TW_TWCL_BASE_SET_IMPL_H_

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>

#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/set.h"

namespace cl_set_detail {

// The null member answered where a set has no member to give.
template <class T>
const T& Zero() {
  static T zero = CL_ValueKind<T>::Null();
  return zero = CL_ValueKind<T>::Null();
}

// Objects whose order is their address (object pointers of classes without a real Compare)
// come out of a stream in no order, so such members are sorted after reading; all others
// must arrive strictly ascending.
template <class T>
inline constexpr bool kSortAfterReading = std::is_same_v<T, CL_ObjectPtr>;

// True when every member is less than the next by the storage's comparison (so also no
// two are equal).
template <class T>
bool StrictlyAscending(const CL_Sequence<T>& members) {
  for (CL_Long i = 1; i < members.Size(); ++i)
    if (members.CompareElements(members[i - 1], members[i]) >= 0) return false;
  return true;
}

}  // namespace cl_set_detail

template <class T>
CL_Set<T>::CL_Set() : _storage(std::make_unique<CL_Sequence<T>>()) {}

template <class T>
CL_Set<T>::CL_Set(CL_Sequence<T>* storage) : _storage(storage) {}

template <class T>
CL_Set<T>::CL_Set(const CL_Set& other) : CL_Object(other) {
  // A copy of the storage keeps its class, and with it the members' order.
  if (other._storage) _storage.reset(dynamic_cast<CL_Sequence<T>*>(other._storage->Clone()));
  if (!_storage) _storage = std::make_unique<CL_Sequence<T>>();
}

template <class T>
CL_Set<T>::~CL_Set() = default;

template <class T>
const char* CL_Set<T>::ClassName() const {
  return "CL_Set";
}

template <class T>
CL_Long CL_Set<T>::ClassId() const {
  return CL_ClassId_Set;
}

template <class T>
CL_Object* CL_Set<T>::Clone() const {
  return new CL_Set(*this);
}

template <class T>
CL_Set<T>& CL_Set<T>::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_Set::op=")) return *this;
  if (const auto* set = dynamic_cast<const CL_Set*>(&other)) operator=(*set);
  return *this;
}

template <class T>
CL_Long CL_Set<T>::StorableFormWidth() const {
  CL_Long width = 4;
  for (CL_Long i = 0; i < Size(); ++i) width += CL_ValueKind<T>::Width((*_storage)[i]);
  return width;
}

template <class T>
bool CL_Set<T>::WriteTo(CL_Stream& s) const {
  if (!_storage || !s.WriteLong(ClassId()) || !s.WriteLong(Size())) return false;
  for (CL_Long i = 0; i < Size(); ++i)
    if (!_WriteElement(s, (*_storage)[i])) return false;
  return true;
}

template <class T>
bool CL_Set<T>::ReadFrom(CL_Stream& s) {
  if (!_storage) return false;
  // A wrong class id fails without moving the stream back.
  CL_Long id, count;
  if (!s.ReadLong(id) || id != ClassId()) return false;
  if (!s.ReadLong(count) || count < 0) return false;
  const std::int64_t min_width = std::max<CL_Long>(CL_ValueKind<T>::kMinWidth, 1);
  if (count * min_width > s.Remaining()) return false;

  // Read into an empty storage of the present storage's class (same element order).
  std::unique_ptr<CL_Sequence<T>> members(dynamic_cast<CL_Sequence<T>*>(_storage->Clone()));
  if (!members || !members->MakeEmpty()) return false;
  const CL_Long mark = s._ReadMark();
  bool good = true;
  for (CL_Long i = 0; i < count && good; ++i) {
    T member = CL_ValueKind<T>::Null();
    good = _ReadElement(s, member) && members->Add(member) >= 0;
  }
  if (good && cl_set_detail::kSortAfterReading<T>) members->Sort();
  if (!good || !cl_set_detail::StrictlyAscending(*members) || !PrepareToChange()) {
    s._AbandonRead(mark);
    return false;
  }
  _storage = std::move(members);
  Notify();
  return true;
}

template <class T>
bool CL_Set<T>::Add(const T& e) {
  CL_Long index;
  if (!_storage || _FindIndex(e, index) || !PrepareToChange()) return false;
  if (!_storage->Insert(e, index)) return false;
  Notify();
  return true;
}

template <class T>
CL_Set<T>& CL_Set<T>::operator+=(const CL_Set& other) {
  return _Combine(&CL_Set::operator+, other);
}

template <class T>
T CL_Set<T>::Remove(const T& e) {
  CL_Long index;
  if (!_storage || !_FindIndex(e, index) || !PrepareToChange()) return CL_ValueKind<T>::Null();
  T stored = (*_storage)[index];
  _storage->Remove(index);
  Notify();
  return stored;
}

template <class T>
bool CL_Set<T>::Includes(const T& e) const {
  CL_Long index;
  return _FindIndex(e, index);
}

template <class T>
bool CL_Set<T>::MakeEmpty() {
  if (!_storage || !PrepareToChange()) return false;
  _storage->MakeEmpty();
  Notify();
  return true;
}

template <class T>
CL_Long CL_Set<T>::RankOf(const T& e) const {
  CL_Long index;
  return _FindIndex(e, index) ? index : index + 1;
}

template <class T>
const T& CL_Set<T>::ItemWithRank(CL_Long i) const {
  if (Size() == 0) return cl_set_detail::Zero<T>();
  return (*_storage)[std::clamp<CL_Long>(i, 0, Size() - 1)];
}

template <class T>
bool CL_Set<T>::IsEqual(const CL_Object& s) const {
  if (!IsA(s)) return false;
  const auto* other = dynamic_cast<const CL_Set*>(&s);
  if (other == nullptr || !_storage || !other->_storage || Size() != other->Size()) return false;
  for (CL_Long i = 0; i < Size(); ++i)
    if (_storage->CompareElements((*_storage)[i], (*other->_storage)[i]) != 0) return false;
  return true;
}

template <class T>
CL_Set<T>& CL_Set<T>::operator=(const CL_Set& other) {
  if (&other == this || !_storage || !PrepareToChange()) return *this;
  if (other._storage)
    *_storage = *other._storage;
  else
    _storage->MakeEmpty();
  Notify();
  return *this;
}

template <class T>
CL_Set<T> CL_Set<T>::operator+(const CL_Set& other) const {
  return _Merge(other, kKeepMine | kKeepTheirs | kKeepBoth);
}

template <class T>
CL_Set<T> CL_Set<T>::operator*(const CL_Set& other) const {
  return _Merge(other, kKeepBoth);
}

template <class T>
CL_Set<T>& CL_Set<T>::operator*=(const CL_Set& other) {
  return _Combine(&CL_Set::operator*, other);
}

template <class T>
CL_Set<T> CL_Set<T>::operator-(const CL_Set& other) const {
  return _Merge(other, kKeepMine);
}

template <class T>
CL_Set<T>& CL_Set<T>::operator-=(const CL_Set& other) {
  return _Combine(&CL_Set::operator-, other);
}

template <class T>
CL_Set<T> CL_Set<T>::operator^(const CL_Set& other) const {
  return _Merge(other, kKeepMine | kKeepTheirs);
}

template <class T>
CL_Set<T>& CL_Set<T>::operator^=(const CL_Set& other) {
  return _Combine(&CL_Set::operator^, other);
}

template <class T>
bool CL_Set<T>::IncludesAll(const CL_Set& other) const {
  if (other.Size() == 0) return true;
  if (!_storage || other.Size() > Size()) return false;
  const CL_Sequence<T>& a = *_storage;
  const CL_Sequence<T>& b = *other._storage;
  CL_Long i = 0, j = 0, equal = 0;
  while (i < a.Size() && j < b.Size()) {
    const short c = a.CompareElements(a[i], b[j]);
    if (c < 0) {
      ++i;
    } else if (c > 0) {
      ++j;
    } else {
      ++equal;
      ++i;
      ++j;
    }
  }
  return equal == b.Size();
}

// The value forms walk both ascending member lists with one cursor each; the comparison of
// the two current members (an exhausted side counts as greater) tells whether a member is only
// in this set (-1), only in the other (1) or in both (0).
template <class T>
CL_Set<T> CL_Set<T>::_Merge(const CL_Set& other, unsigned keep) const {
  CL_Set result;
  if (!_storage || !other._storage) return result;
  const CL_Sequence<T>& a = *_storage;
  const CL_Sequence<T>& b = *other._storage;
  CL_Long i = 0, j = 0;
  for (;;) {
    const bool in_a = i < a.Size(), in_b = j < b.Size();
    // Once a side is exhausted, only the other side's own members can still be kept.
    if (!(in_a && in_b) && !(in_a && (keep & kKeepMine)) && !(in_b && (keep & kKeepTheirs)))
      return result;
    const short c = !in_a ? 1 : !in_b ? -1 : a.CompareElements(a[i], b[j]);
    if (c < 0) {
      if (keep & kKeepMine) result._storage->Add(a[i]);
      ++i;
    } else if (c > 0) {
      if (keep & kKeepTheirs) result._storage->Add(b[j]);
      ++j;
    } else {
      if (keep & kKeepBoth) result._storage->Add(a[i]);
      ++i;
      ++j;
    }
  }
}

template <class T>
CL_Set<T>& CL_Set<T>::_Combine(CL_Set (CL_Set::*combine)(const CL_Set&) const,
                               const CL_Set& other) {
  if (!PrepareToChange()) return *this;
  // Through the pointer the call stays virtual, as `*this + other` is.
  const CL_Set result = (this->*combine)(other);
  if (_storage && result._storage) *_storage = *result._storage;
  Notify();
  return *this;
}

template <class T>
bool CL_Set<T>::_ReadElement(CL_Stream& s, T& e) {
  return CL_ValueKind<T>::Read(s, e);
}

template <class T>
bool CL_Set<T>::_WriteElement(CL_Stream& s, const T& e) const {
  return CL_ValueKind<T>::Write(s, e);
}

template <class T>
bool CL_Set<T>::_FindIndex(const T& e, CL_Long& index) const {
  if (!_storage) {
    index = -1;
    return false;
  }
  return _storage->BinarySearch(e, index);
}

template <class T>
CL_Long CL_Set<T>::Size() const {
  return _storage ? _storage->Size() : 0;
}

// ---- CL_SetIterator

template <class T>
CL_SetIterator<T>::CL_SetIterator(const CL_Set<T>& set) : _set(&set) {
  _set->AddPreChangeDependent(CL_Binding0<CL_SetIterator>(this, &CL_SetIterator::_Veto));
}

template <class T>
CL_SetIterator<T>::~CL_SetIterator() {
  _set->RemovePreChangeDependent(CL_Binding0<CL_SetIterator>(this, &CL_SetIterator::_Veto));
}

template <class T>
const char* CL_SetIterator<T>::ClassName() const {
  return "CL_SetIterator";
}

template <class T>
void CL_SetIterator<T>::Reset() {
  _position = 0;
}

template <class T>
bool CL_SetIterator<T>::More() {
  return _position < _set->Size();
}

template <class T>
const T& CL_SetIterator<T>::Next() {
  if (_position < 0 || _position >= _set->Size()) return cl_set_detail::Zero<T>();
  return (*_set->_Storage())[_position++];
}

template <class T>
void CL_SetIterator<T>::BeginFromRank(CL_Long rank) {
  _position = std::max<CL_Long>(rank, 0);
}

template <class T>
bool CL_SetIterator<T>::_Veto() {
  if (_position >= 0 && _position < _set->Size())
    CL_Error::Warning("SetIterator %08lx: Attempt to modify Set %08lx  while iterator active",
                      static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)),
                      static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(_set)));
  return true;
}

#endif  // TW_TWCL_BASE_SET_IMPL_H_
