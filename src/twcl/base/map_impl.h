// Member definitions of CL_MapAssoc<K, V>, CL_Map<K, V> and CL_MapIterator<K, V>. Included
// only by the units that instantiate maps.
#ifndef TW_TWCL_BASE_MAP_IMPL_H_
#define TW_TWCL_BASE_MAP_IMPL_H_

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "twcl/base/map.h"
#include "twcl/base/object_stream.h"

// ---- CL_MapAssoc

template <class K, class V>
CL_MapAssoc<K, V>::CL_MapAssoc() : key(CL_ValueKind<K>::Null()), value(CL_ValueKind<V>::Null()) {}

template <class K, class V>
CL_MapAssoc<K, V>::CL_MapAssoc(const K& k, const V& v) : key(k), value(v) {}

template <class K, class V>
CL_MapAssoc<K, V>::CL_MapAssoc(const CL_MapAssoc& other)
    : CL_Object(other), key(other.key), value(other.value) {}

template <class K, class V>
CL_MapAssoc<K, V>::~CL_MapAssoc() = default;

template <class K, class V>
const char* CL_MapAssoc<K, V>::ClassName() const {
  return "CL_MapAssoc";
}

template <class K, class V>
CL_Object* CL_MapAssoc<K, V>::Clone() const {
  return new CL_MapAssoc(*this);
}

template <class K, class V>
short CL_MapAssoc<K, V>::Compare(const CL_Object& other) const {
  // Associations keep class id 1 like many classes, so the pair type is checked as well.
  const auto* assoc = IsA(other) ? dynamic_cast<const CL_MapAssoc*>(&other) : nullptr;
  if (assoc == nullptr) return CL_Object::Compare(other);
  return CL_ValueKind<K>::Compare(key, assoc->key);
}

template <class K, class V>
CL_MapAssoc<K, V>& CL_MapAssoc<K, V>::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_MapAssoc::op=")) return *this;
  if (const auto* assoc = dynamic_cast<const CL_MapAssoc*>(&other)) operator=(*assoc);
  return *this;
}

template <class K, class V>
CL_MapAssoc<K, V>& CL_MapAssoc<K, V>::operator=(const CL_MapAssoc& other) {
  if (&other == this || !PrepareToChange()) return *this;
  key = other.key;
  value = other.value;
  Notify();
  return *this;
}

template <class K, class V>
CL_String CL_MapAssoc<K, V>::AsString() const {
  return CL_ValueKind<K>::Text(key) + " --> " + CL_ValueKind<V>::Text(value);
}

// ---- CL_Map

namespace cl_map_detail {

// Keys that are object pointers ordered by address come out of a stream in no order: such
// maps sort their associations after reading and refuse only duplicate keys.
template <class K>
inline constexpr bool kSortAfterReading = std::is_same_v<K, CL_ObjectPtr>;

template <class K, class V>
CL_MapAssoc<K, V>* AssocAt(const CL_ObjectSequence& assocs, CL_Long i) {
  return static_cast<CL_MapAssoc<K, V>*>(assocs[i]);
}

}  // namespace cl_map_detail

template <class K, class V>
CL_Map<K, V>::CL_Map() = default;

template <class K, class V>
CL_Map<K, V>::CL_Map(const CL_Map& other) : CL_Object(other) {
  for (CL_Long i = 0; i < other.Size(); ++i)
    _assocs.Add(new Assoc(*cl_map_detail::AssocAt<K, V>(other._assocs, i)));
}

template <class K, class V>
CL_Map<K, V>::~CL_Map() {
  for (CL_Long i = 0; i < Size(); ++i) delete cl_map_detail::AssocAt<K, V>(_assocs, i);
}

template <class K, class V>
const char* CL_Map<K, V>::ClassName() const {
  return "CL_Map";
}

template <class K, class V>
CL_Long CL_Map<K, V>::ClassId() const {
  return CL_ClassId_Map;
}

template <class K, class V>
CL_Object* CL_Map<K, V>::Clone() const {
  return new CL_Map(*this);
}

template <class K, class V>
CL_Map<K, V>& CL_Map<K, V>::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_Map::op=")) return *this;
  if (const auto* map = dynamic_cast<const CL_Map*>(&other)) operator=(*map);
  return *this;
}

template <class K, class V>
CL_Map<K, V>& CL_Map<K, V>::operator=(const CL_Map& other) {
  if (&other == this || !PrepareToChange()) return *this;
  CL_ObjectSequence copies;
  for (CL_Long i = 0; i < other.Size(); ++i)
    copies.Add(new Assoc(*cl_map_detail::AssocAt<K, V>(other._assocs, i)));
  for (CL_Long i = 0; i < Size(); ++i) delete cl_map_detail::AssocAt<K, V>(_assocs, i);
  _assocs = copies;
  Notify();
  return *this;
}

template <class K, class V>
void CL_Map<K, V>::IntoStream(std::ostream& out) const {
  for (CL_Long i = 0; i < Size(); ++i) {
    const CL_String text = cl_map_detail::AssocAt<K, V>(_assocs, i)->AsString();
    out.write(text.AsPtr(), text.Size());
    out.put('\n');
  }
}

template <class K, class V>
CL_Long CL_Map<K, V>::StorableFormWidth() const {
  CL_Long width = 4;
  for (CL_Long i = 0; i < Size(); ++i) {
    const Assoc* assoc = cl_map_detail::AssocAt<K, V>(_assocs, i);
    width += CL_ValueKind<K>::Width(assoc->key) + CL_ValueKind<V>::Width(assoc->value);
  }
  return width;
}

template <class K, class V>
bool CL_Map<K, V>::WriteTo(CL_Stream& s) const {
  if (!s.WriteLong(Size())) return false;
  for (CL_Long i = 0; i < Size(); ++i) {
    const Assoc* assoc = cl_map_detail::AssocAt<K, V>(_assocs, i);
    if (!_WriteKey(s, assoc->key) || !_WriteValue(s, assoc->value)) return false;
  }
  return true;
}

template <class K, class V>
bool CL_Map<K, V>::ReadFrom(CL_Stream& s) {
  CL_Long count;
  if (!s.ReadLong(count) || count < 0) return false;
  const std::int64_t pair_width =
      std::int64_t{CL_ValueKind<K>::kMinWidth} + CL_ValueKind<V>::kMinWidth;
  if (count * std::max<std::int64_t>(pair_width, 1) > s.Remaining()) return false;

  const CL_Long mark = s._ReadMark();
  std::vector<std::unique_ptr<Assoc>> read;
  CL_ObjectSequence order;
  bool good = true;
  for (CL_Long i = 0; i < count && good; ++i) {
    auto assoc = std::make_unique<Assoc>();
    good = _ReadKey(s, assoc->key) && _ReadValue(s, assoc->value) && order.Add(assoc.get()) >= 0;
    read.push_back(std::move(assoc));
  }
  if (good && cl_map_detail::kSortAfterReading<K>) order.Sort();
  for (CL_Long i = 1; good && i < order.Size(); ++i)
    good = order.CompareElements(order[i - 1], order[i]) < 0;
  if (!good || !PrepareToChange()) {
    s._AbandonRead(mark);
    return false;
  }
  for (CL_Long i = 0; i < Size(); ++i) delete cl_map_detail::AssocAt<K, V>(_assocs, i);
  _assocs = order;
  for (auto& assoc : read) assoc.release();
  Notify();
  return true;
}

template <class K, class V>
typename CL_Map<K, V>::Assoc* CL_Map<K, V>::ItemWithRank(CL_Long i) const {
  if (Size() == 0) return nullptr;
  return cl_map_detail::AssocAt<K, V>(_assocs, std::clamp<CL_Long>(i, 0, Size() - 1));
}

template <class K, class V>
CL_Long CL_Map<K, V>::RankOf(const K& key) const {
  CL_Long index;
  return _Find(key, index) ? index : index + 1;
}

template <class K, class V>
bool CL_Map<K, V>::Add(const K& key, const V& value) {
  CL_Long index;
  if (_Find(key, index) || !PrepareToChange()) return false;
  auto assoc = std::make_unique<Assoc>(key, value);
  if (!_assocs.Insert(assoc.get(), index)) return false;
  assoc.release();
  Notify();
  return true;
}

template <class K, class V>
typename CL_Map<K, V>::Assoc CL_Map<K, V>::Remove(const K& key) {
  CL_Long index;
  if (!_Find(key, index) || !PrepareToChange()) return Assoc();
  std::unique_ptr<Assoc> removed(cl_map_detail::AssocAt<K, V>(_assocs, index));
  _assocs.Remove(index);
  Notify();
  return *removed;
}

template <class K, class V>
bool CL_Map<K, V>::MakeEmpty() {
  if (!PrepareToChange()) return false;
  for (CL_Long i = 0; i < Size(); ++i) delete cl_map_detail::AssocAt<K, V>(_assocs, i);
  _assocs.MakeEmpty();
  Notify();
  return true;
}

template <class K, class V>
bool CL_Map<K, V>::DestroyContents() {
  if (!PrepareToChange()) return false;
  // An object held under several keys, or as key and value, is deleted once.
  std::unordered_set<CL_Object*> deleted;
  auto destroy = [&deleted](CL_Object* object) {
    if (object != nullptr && deleted.insert(object).second) delete object;
  };
  for (CL_Long i = 0; i < Size(); ++i) {
    Assoc* assoc = cl_map_detail::AssocAt<K, V>(_assocs, i);
    if constexpr (std::is_same_v<K, CL_ObjectPtr>) destroy(assoc->key);
    if constexpr (std::is_same_v<V, CL_ObjectPtr>) destroy(assoc->value);
    delete assoc;
  }
  _assocs.MakeEmpty();
  Notify();
  return true;
}

template <class K, class V>
bool CL_Map<K, V>::_ReadKey(CL_Stream& s, K& key) {
  return CL_ValueKind<K>::Read(s, key);
}

template <class K, class V>
bool CL_Map<K, V>::_ReadValue(CL_Stream& s, V& value) {
  return CL_ValueKind<V>::Read(s, value);
}

template <class K, class V>
bool CL_Map<K, V>::_WriteKey(CL_Stream& s, const K& key) const {
  return CL_ValueKind<K>::Write(s, key);
}

template <class K, class V>
bool CL_Map<K, V>::_WriteValue(CL_Stream& s, const V& value) const {
  return CL_ValueKind<V>::Write(s, value);
}

template <class K, class V>
bool CL_Map<K, V>::IncludesKey(const K& key) const {
  CL_Long index;
  return _Find(key, index);
}

template <class K, class V>
V& CL_Map<K, V>::operator[](const K& key) {
  CL_Long index;
  if (_Find(key, index)) return cl_map_detail::AssocAt<K, V>(_assocs, index)->value;
  static V null_value = CL_ValueKind<V>::Null();
  return null_value = CL_ValueKind<V>::Null();
}

template <class K, class V>
bool CL_Map<K, V>::_Find(const K& key, CL_Long& index) const {
  Assoc probe(key, CL_ValueKind<V>::Null());
  return _assocs.BinarySearch(&probe, index);
}

// ---- CL_MapIterator

template <class K, class V>
CL_MapIterator<K, V>::CL_MapIterator(const CL_Map<K, V>& map) : _map(&map) {}

template <class K, class V>
CL_MapIterator<K, V>::~CL_MapIterator() = default;

template <class K, class V>
CL_MapIterator<K, V>::CL_MapIterator(const CL_MapIterator& other)
    : CL_AbstractIterator<CL_MapAssoc<K, V>&>(other),
      _map(other._map),
      _position(other._position) {}

template <class K, class V>
CL_MapIterator<K, V>& CL_MapIterator<K, V>::operator=(const CL_MapIterator& other) {
  _map = other._map;
  _position = other._position;
  return *this;
}

template <class K, class V>
const char* CL_MapIterator<K, V>::ClassName() const {
  return "CL_MapIterator";
}

template <class K, class V>
void CL_MapIterator<K, V>::Reset() {
  _position = 0;
}

template <class K, class V>
bool CL_MapIterator<K, V>::More() {
  return _position < _map->Size();
}

template <class K, class V>
CL_MapAssoc<K, V>& CL_MapIterator<K, V>::Next() {
  if (_position >= 0 && _position < _map->Size()) return *_map->ItemWithRank(_position++);
  static CL_MapAssoc<K, V> past_end;
  past_end.key = CL_ValueKind<K>::Null();
  past_end.value = CL_ValueKind<V>::Null();
  return past_end;
}

template <class K, class V>
void CL_MapIterator<K, V>::BeginFromRank(CL_Long rank) {
  _position = std::max<CL_Long>(rank, 0);
}

#endif  // TW_TWCL_BASE_MAP_IMPL_H_
