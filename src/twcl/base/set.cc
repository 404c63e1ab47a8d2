// The library's set instances, CL_ObjectSet, CL_IntegerSet and their registry entries.
#include "twcl/base/set.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "twcl/base/class_registry.h"
#include "twcl/base/sequence_impl.h"
#include "twcl/base/set_impl.h"

template class CL_Set<CL_ObjectPtr>;
template class CL_Set<CL_Long>;
template class CL_SetIterator<CL_ObjectPtr>;
template class CL_SetIterator<CL_Long>;

namespace {

const CL_ClassIdEntry integer_set_entry(CL_ClassId_IntegerSet,
                                        []() -> CL_Object* { return new CL_IntegerSet; });
const CL_ClassIdEntry object_set_entry(CL_ClassId_ObjectSet,
                                       []() -> CL_Object* { return new CL_ObjectSet; });

// n + 1 without overflow: the integers wrap like the 32-bit original.
CL_Long Following(CL_Long n) {
  return static_cast<CL_Long>(static_cast<std::uint32_t>(n) + 1u);
}

}  // namespace

// ---- CL_ObjectSet

CL_ObjectSet::CL_ObjectSet(CL_ObjectReader* reader)
    : CL_Set(new CL_ObjectSequence), _reader(reader) {}

CL_ObjectSet::CL_ObjectSet(const CL_ObjectSet& other) : CL_Set(other), _reader(other._reader) {}

CL_ObjectSet::~CL_ObjectSet() = default;

const char* CL_ObjectSet::ClassName() const {
  return "CL_ObjectSet";
}

CL_Long CL_ObjectSet::ClassId() const {
  return CL_ClassId_ObjectSet;
}

CL_Object* CL_ObjectSet::Clone() const {
  return new CL_ObjectSet(*this);
}

CL_ObjectSet& CL_ObjectSet::operator=(const CL_ObjectSet& other) {
  CL_Set::operator=(other);
  return *this;
}

CL_ObjectSet& CL_ObjectSet::operator=(const CL_Object& other) {
  if (!IsA(other)) return *this;
  if (const auto* set = dynamic_cast<const CL_Set<CL_ObjectPtr>*>(&other)) CL_Set::operator=(*set);
  return *this;
}

bool CL_ObjectSet::ReadFrom(CL_Stream& s) {
  if (!_storage) return false;
  CL_Long id, count;
  if (!s.ReadLong(id) || id != ClassId()) return false;
  if (!s.ReadLong(count) || count < 0) return false;
  // A reader's form is its own; the object-pointer form takes at least its flag.
  const std::int64_t min_width = _reader != nullptr ? 1 : CL_ValueKind<CL_ObjectPtr>::kMinWidth;
  if (count * min_width > s.Remaining()) return false;

  const CL_Long mark = s._ReadMark();
  CL_ObjectSequence members;
  std::vector<CL_Object*> made;  // by the reader: not in the stream's journal
  bool good = true;
  for (CL_Long i = 0; i < count && good; ++i) {
    CL_ObjectPtr member = nullptr;
    good = _ReadElement(s, member);
    if (good && _reader != nullptr) made.push_back(member);
    good = good && members.Add(member) >= 0;
  }
  if (good) members.Sort();
  if (!good || !cl_set_detail::StrictlyAscending<CL_ObjectPtr>(members)) {
    std::unordered_set<CL_Object*> deleted;
    for (CL_Object* object : made)
      if (object != nullptr && deleted.insert(object).second) delete object;
    s._AbandonRead(mark);
    return false;
  }
  // A reading object set asks no dependents and tells none (its contract).
  *_storage = members;
  return true;
}

CL_Set<CL_ObjectPtr>& CL_ObjectSet::operator+=(const CL_Set<CL_ObjectPtr>& other) {
  if (!_storage || !PrepareToChange()) return *this;
  CL_Long index;
  // Up to the size at the start: other may be this set.
  const CL_Long n = other.Size();
  for (CL_Long k = 0; k < n; ++k) {
    const CL_ObjectPtr member = other.ItemWithRank(k);
    if (!_FindIndex(member, index)) _storage->Add(member);
  }
  Notify();
  return *this;
}

CL_Set<CL_ObjectPtr> CL_ObjectSet::operator+(const CL_Set<CL_ObjectPtr>& other) const {
  CL_ObjectSet result(*this);
  result += other;
  return result;
}

CL_Set<CL_ObjectPtr>& CL_ObjectSet::operator*=(const CL_Set<CL_ObjectPtr>& other) {
  if (!_storage || !PrepareToChange()) return *this;
  for (CL_Long i = _storage->Size() - 1; i >= 0; --i)
    if (!other.Includes((*_storage)[i])) _storage->Remove(i);
  Notify();
  return *this;
}

CL_Set<CL_ObjectPtr> CL_ObjectSet::operator*(const CL_Set<CL_ObjectPtr>& other) const {
  CL_ObjectSet result(*this);
  result *= other;
  return result;
}

CL_Set<CL_ObjectPtr>& CL_ObjectSet::operator-=(const CL_Set<CL_ObjectPtr>& other) {
  if (!_storage || !PrepareToChange()) return *this;
  if (&other == this) {
    _storage->MakeEmpty();
  } else {
    CL_Long index;
    for (CL_Long k = 0; k < other.Size(); ++k)
      if (_FindIndex(other.ItemWithRank(k), index)) _storage->Remove(index);
  }
  Notify();
  return *this;
}

CL_Set<CL_ObjectPtr> CL_ObjectSet::operator-(const CL_Set<CL_ObjectPtr>& other) const {
  CL_ObjectSet result(*this);
  result -= other;
  return result;
}

CL_Set<CL_ObjectPtr> CL_ObjectSet::operator^(const CL_Set<CL_ObjectPtr>& other) const {
  // (this + other) - (this * other), kept in this set's order.
  CL_ObjectSet all(*this);
  all += other;
  CL_ObjectSet common(*this);
  common *= other;
  all -= common;
  return all;
}

bool CL_ObjectSet::_ReadElement(CL_Stream& s, CL_ObjectPtr& e) {
  if (_reader == nullptr) return CL_Set::_ReadElement(s, e);
  e = _reader->ReadObject(s);
  return e != nullptr;
}

bool CL_ObjectSet::_FindIndex(const CL_ObjectPtr& e, CL_Long& index) const {
  const CL_Long size = Size();
  for (CL_Long i = 0; i < size; ++i) {
    if (_storage->CompareElements((*_storage)[i], e) == 0) {
      index = i;
      return true;
    }
  }
  index = size - 1;
  return false;
}

CL_ObjectPtr CL_ObjectSet::Find(const CL_ObjectPtr& e) const {
  CL_Long index;
  return _FindIndex(e, index) ? (*_storage)[index] : nullptr;
}

bool CL_ObjectSet::DestroyContents() {
  if (!_storage || !PrepareToChange()) return false;
  for (CL_Long i = _storage->Size() - 1; i >= 0; --i) delete (*_storage)[i];
  _storage->MakeEmpty();
  Notify();
  return true;
}

// ---- CL_IntegerSet

CL_IntegerSet::CL_IntegerSet() = default;

CL_IntegerSet::CL_IntegerSet(CL_Long lo, CL_Long hi) {
  const std::int64_t count = std::int64_t{hi} - lo + 1;
  if (count <= 0 || count > cl_sequence_detail::kMaxSlots) return;
  if (!_storage->ChangeSize(static_cast<CL_Long>(count))) return;
  for (CL_Long i = 0; i < count; ++i) _storage->_At(i) = static_cast<CL_Long>(lo + i);
}

CL_IntegerSet::CL_IntegerSet(const CL_IntegerSet& other) : CL_Set(other) {}

CL_IntegerSet::CL_IntegerSet(const CL_Set<CL_Long>& other) : CL_Set(other) {}

CL_IntegerSet::~CL_IntegerSet() = default;

const char* CL_IntegerSet::ClassName() const {
  return "CL_IntegerSet";
}

CL_Long CL_IntegerSet::ClassId() const {
  return CL_ClassId_IntegerSet;
}

CL_Object* CL_IntegerSet::Clone() const {
  return new CL_IntegerSet(*this);
}

CL_IntegerSet& CL_IntegerSet::operator=(const CL_IntegerSet& other) {
  CL_Set::operator=(other);
  return *this;
}

CL_IntegerSet& CL_IntegerSet::operator=(const CL_Object& other) {
  if (!IsA(other)) return *this;
  if (const auto* set = dynamic_cast<const CL_Set<CL_Long>*>(&other)) CL_Set::operator=(*set);
  return *this;
}

CL_String CL_IntegerSet::AsString() const {
  CL_String text("{");
  for (CL_Long i = 0; i < Size(); ++i) {
    if (i > 0) text += ", ";
    text += CL_ValueKind<CL_Long>::Text((*_storage)[i]);
  }
  text += "}";
  return text;
}

CL_Long CL_IntegerSet::NextNonMember(CL_Long n) const {
  CL_Long m = Following(n);
  CL_Long index;
  if (Size() > 0 && _FindIndex(m, index))
    for (CL_Long i = index; i < Size() && (*_storage)[i] == m; ++i) m = Following(m);
  return m;
}
