// The library's sequence instances and the named sequences, with the registry entries of
// the storable ones.
#include "twcl/base/sequence.h"

#include "twcl/base/class_registry.h"
#include "twcl/base/sequence_impl.h"

template class CL_Sequence<CL_String>;
template class CL_Sequence<CL_ObjectPtr>;
template class CL_Sequence<CL_Long>;
template class CL_Sequence<void*>;

namespace {

const CL_ClassIdEntry integer_sequence_entry(CL_ClassId_IntegerSequence,
                                             []() -> CL_Object* { return new CL_IntegerSequence; });
const CL_ClassIdEntry object_sequence_entry(CL_ClassId_ObjectSequence,
                                            []() -> CL_Object* { return new CL_ObjectSequence; });
const CL_ClassIdEntry string_sequence_entry(CL_ClassId_StringSequence,
                                            []() -> CL_Object* { return new CL_StringSequence; });

}  // namespace

CL_ElementComparator::~CL_ElementComparator() = default;

CL_ObjectReader::~CL_ObjectReader() = default;

// ---- CL_StringSequence

CL_StringSequence::CL_StringSequence(CL_Long initial_size) : CL_Sequence(initial_size) {}

CL_StringSequence::CL_StringSequence(const char* const strings[], CL_Long count) {
  if (strings == nullptr) return;
  if (count < 0) {
    count = 0;
    while (strings[count] != nullptr) ++count;
  }
  if (count == 0 || !_storage || !_storage->ChangeSize(cl_sequence_detail::Room(count))) return;
  for (CL_Long i = 0; i < count; ++i) _Construct(i, CL_String(strings[i]));
  _size = count;
}

CL_StringSequence::CL_StringSequence(const CL_StringSequence& other) : CL_Sequence(other) {}

CL_StringSequence::CL_StringSequence(const CL_Sequence<CL_String>& other) : CL_Sequence(other) {}

CL_StringSequence::~CL_StringSequence() = default;

const char* CL_StringSequence::ClassName() const {
  return "CL_StringSequence";
}

CL_Long CL_StringSequence::ClassId() const {
  return CL_ClassId_StringSequence;
}

CL_Object* CL_StringSequence::Clone() const {
  return new CL_StringSequence(*this);
}

CL_StringSequence& CL_StringSequence::operator=(const CL_StringSequence& other) {
  CL_Sequence::operator=(other);
  return *this;
}

CL_StringSequence& CL_StringSequence::operator=(const CL_Object& other) {
  if (!IsA(other)) return *this;
  if (const auto* sequence = dynamic_cast<const CL_Sequence<CL_String>*>(&other))
    CL_Sequence::operator=(*sequence);
  return *this;
}

// ---- CL_ObjectSequence

CL_ObjectSequence::CL_ObjectSequence(CL_Long initial_size) : CL_Sequence(initial_size) {}

CL_ObjectSequence::CL_ObjectSequence(const CL_ObjectPtr data[], CL_Long count,
                                     CL_ObjectReader* reader)
    : CL_Sequence(data, count), _reader(reader) {}

CL_ObjectSequence::CL_ObjectSequence(const CL_ObjectSequence& other)
    : CL_Sequence(other), _reader(other._reader) {}

CL_ObjectSequence::~CL_ObjectSequence() = default;

const char* CL_ObjectSequence::ClassName() const {
  return "CL_ObjectSequence";
}

CL_Long CL_ObjectSequence::ClassId() const {
  return CL_ClassId_ObjectSequence;
}

CL_Object* CL_ObjectSequence::Clone() const {
  return new CL_ObjectSequence(*this);
}

CL_ObjectSequence& CL_ObjectSequence::operator=(const CL_ObjectSequence& other) {
  CL_Sequence::operator=(other);
  return *this;
}

CL_ObjectSequence& CL_ObjectSequence::operator=(const CL_Object& other) {
  if (!IsA(other)) return *this;
  if (const auto* sequence = dynamic_cast<const CL_Sequence<CL_ObjectPtr>*>(&other))
    CL_Sequence::operator=(*sequence);
  return *this;
}

bool CL_ObjectSequence::_ReadElement(CL_Stream& s, CL_Long index) {
  if (_reader == nullptr) return CL_Sequence::_ReadElement(s, index);
  if (!_storage || index < 0 || index >= _size) return false;
  CL_Object* object = _reader->ReadObject(s);
  if (object == nullptr) return false;
  _At(index) = object;
  return true;
}

// ---- CL_IntegerSequence

CL_IntegerSequence::CL_IntegerSequence(CL_Long initial_size) : CL_Sequence(initial_size) {}

CL_IntegerSequence::CL_IntegerSequence(const CL_Long data[], CL_Long count)
    : CL_Sequence(data, count) {}

CL_IntegerSequence::CL_IntegerSequence(const CL_IntegerSequence& other) : CL_Sequence(other) {}

CL_IntegerSequence::~CL_IntegerSequence() = default;

const char* CL_IntegerSequence::ClassName() const {
  return "CL_IntegerSequence";
}

CL_Long CL_IntegerSequence::ClassId() const {
  return CL_ClassId_IntegerSequence;
}

CL_Object* CL_IntegerSequence::Clone() const {
  return new CL_IntegerSequence(*this);
}

CL_IntegerSequence& CL_IntegerSequence::operator=(const CL_IntegerSequence& other) {
  CL_Sequence::operator=(other);
  return *this;
}

// ---- CL_GenericSequence

CL_GenericSequence::CL_GenericSequence(CL_Long initial_size, CL_ElementComparator* comparator)
    : CL_Sequence(initial_size), _comparator(comparator) {}

CL_GenericSequence::CL_GenericSequence(const CL_GenericSequence& other)
    : CL_Sequence(other), _comparator(other._comparator) {}

CL_GenericSequence::~CL_GenericSequence() = default;

const char* CL_GenericSequence::ClassName() const {
  return "CL_GenericSequence";
}

CL_Object* CL_GenericSequence::Clone() const {
  return new CL_GenericSequence(*this);
}

CL_GenericSequence& CL_GenericSequence::operator=(const CL_GenericSequence& other) {
  CL_Sequence::operator=(other);
  return *this;
}

CL_GenericSequence& CL_GenericSequence::operator=(const CL_Object& other) {
  if (!IsA(other)) return *this;
  if (const auto* sequence = dynamic_cast<const CL_Sequence<void*>*>(&other))
    CL_Sequence::operator=(*sequence);
  return *this;
}

short CL_GenericSequence::CompareElements(void* const& a, void* const& b) const {
  return _comparator != nullptr ? _comparator->Compare(a, b) : CL_Sequence::CompareElements(a, b);
}
