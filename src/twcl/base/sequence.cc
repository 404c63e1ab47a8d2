// The library's sequence instances and the named sequences, with the registry entries of
// the storable ones.
#include "twcl/base/sequence.h"

#include "twcl/base/binding.h"
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

namespace {

// On each element string: hands the changed string's address to its sequence.
class ElementWatch : public CL_AbstractBinding {
 public:
  using CL_Object::operator=;
  explicit ElementWatch(CL_StringSequence* sequence) : _sequence(sequence) {}
  ElementWatch(const ElementWatch&) = default;
  CL_Object* Clone() const override { return new ElementWatch(*this); }
  bool Execute(CL_Word value) const override {
    return Valid() && _sequence->_ElementChanged(value);
  }
  bool Valid() const override { return _sequence != nullptr; }

 protected:
  const void* _Target() const override { return _sequence; }
  std::span<const unsigned char> _MemberBytes() const override { return {}; }

 private:
  CL_StringSequence* _sequence;
};

}  // namespace

CL_StringSequence::CL_StringSequence(CL_Long initial_size) : CL_Sequence(initial_size) {
  _WatchElements();
}

CL_StringSequence::CL_StringSequence(const char* const strings[], CL_Long count) {
  _WatchElements();
  if (strings == nullptr) return;
  if (count < 0) {
    count = 0;
    while (strings[count] != nullptr) ++count;
  }
  if (count == 0 || !_storage || !_storage->ChangeSize(cl_sequence_detail::Room(count))) return;
  for (CL_Long i = 0; i < count; ++i) _Construct(i, CL_String(strings[i]));
  _size = count;
  _Rebind();
}

CL_StringSequence::CL_StringSequence(const CL_StringSequence& other) : CL_Sequence(other) {
  _WatchElements();
}

CL_StringSequence::CL_StringSequence(const CL_Sequence<CL_String>& other) : CL_Sequence(other) {
  _WatchElements();
}

CL_StringSequence::~CL_StringSequence() = default;

void CL_StringSequence::_WatchElements() {
  // Elements come and go with every change of the sequence: each new one gets the watch.
  AddDependent(CL_Binding0<CL_StringSequence>(this, &CL_StringSequence::_Rebind));
  _Rebind();
}

bool CL_StringSequence::_Rebind() {
  // Only a sequence that someone views pays for watching its elements.
  if (_views.empty()) return true;
  ElementWatch watch(this);
  for (CL_Long i = 0; i < _size; ++i)
    if (!_At(i).HasDependent(watch)) _At(i).AddDependent(watch);
  return true;
}

bool CL_StringSequence::_ElementChanged(CL_Word value) {
  if (_views.empty()) return true;
  for (CL_Long i = 0; i < _size; ++i)
    if (reinterpret_cast<CL_Word>(&_At(i)) == value) {
      // A view may detach itself (or another) while it is told.
      std::vector<CL_SequenceView*> views = _views;
      for (CL_SequenceView* v : views) v->ItemChanged(i);
      return true;
    }
  return true;
}

bool CL_StringSequence::AttachView(CL_SequenceView* view) {
  if (view == nullptr) return false;
  for (CL_SequenceView* v : _views)
    if (v == view) return false;
  _views.push_back(view);
  return _Rebind();
}

bool CL_StringSequence::DetachView(CL_SequenceView* view) {
  for (auto it = _views.begin(); it != _views.end(); ++it)
    if (*it == view) {
      _views.erase(it);
      return true;
    }
  return false;
}

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
