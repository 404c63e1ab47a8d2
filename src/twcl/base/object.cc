// CL_Object's default protocol, its dependents and the text-stream glue.
#include "twcl/base/object.h"

#include <istream>
#include <optional>
#include <ostream>

#include "twcl/base/client_set.h"
#include "twcl/base/error.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"
#include "twcl/base/string.h"

CL_Object::CL_Object() = default;

CL_Object::CL_Object(const CL_Object&) {}

CL_Object::~CL_Object() = default;

const char* CL_Object::ClassName() const {
  return "CL_Object";
}

CL_Long CL_Object::ClassId() const {
  return CL_ClassId_Object;
}

CL_Object* CL_Object::Clone() const {
  NotImplemented("Clone");
  return nullptr;
}

bool CL_Object::operator<(const CL_Object& other) const {
  return twcl_internal::AddressOrder(this, &other) < 0;
}

bool CL_Object::operator==(const CL_Object& other) const {
  return this == &other;
}

bool CL_Object::operator<=(const CL_Object& other) const {
  return operator==(other) || operator<(other);
}

bool CL_Object::operator>(const CL_Object& other) const {
  return !operator<=(other);
}

bool CL_Object::operator>=(const CL_Object& other) const {
  return !operator<(other);
}

bool CL_Object::operator!=(const CL_Object& other) const {
  return !operator==(other);
}

short CL_Object::Compare(const CL_Object& other) const {
  if (operator==(other)) return 0;
  return operator<(other) ? -1 : 1;
}

bool CL_Object::CompareWith(const CL_String& s, short op) const {
  return AsString().CompareWith(s, op);
}

bool CL_Object::CompareWith(const CL_Object& other, short op) const {
  // Objects of different classes are never equal: they order by address only.
  const short r = IsA(other) ? Compare(other) : twcl_internal::AddressOrder(this, &other);
  if (const std::optional<bool> met = twcl_internal::MeetsOrder(r, op)) return *met;
  if (op == CL_CmpPrefix || op == CL_CmpContains)
    return AsString().CompareWith(other.AsString(), op);
  CL_Error::Warning("CL_Object::CompareWith: bad operator %d", op);
  return false;
}

CL_Object& CL_Object::operator=(const CL_Object&) {
  NotImplemented("op= (const CL_Object&)");
  return *this;
}

CL_String CL_Object::AsString() const {
  NotImplemented("CL_Object::AsString");
  return CL_String();
}

void CL_Object::IntoStream(std::ostream& out) const {
  const CL_String text = AsString();
  out.write(text.AsPtr(), text.Size());
}

void CL_Object::FromStream(std::istream&) {
  NotImplemented("FromStream (istream&)");
}

CL_Long CL_Object::StorableFormWidth() const {
  return 0;
}

bool CL_Object::ReadFrom(CL_Stream&) {
  NotImplemented("ReadFrom");
  return false;
}

bool CL_Object::WriteTo(CL_Stream&) const {
  NotImplemented("WriteTo");
  return false;
}

bool CL_Object::IsA(const CL_Object& other) const {
  return ClassId() == other.ClassId();
}

bool CL_Object::CheckClassId(const CL_Object& other, const char* what) const {
  if (IsA(other)) return true;
  CL_Error::Warning("%s: Invalid class '%s'", what, other.ClassName());
  return false;
}

void CL_Object::NotImplemented(const char* method) const {
  CL_Error::Warning("Class '%s' does not implement method '%s'\n", ClassName(), method);
}

bool CL_Object::ReadClassId(CL_Stream& s) const {
  CL_Long id;
  if (!s.ReadLong(id)) return false;
  if (id == ClassId()) return true;
  s.SeekRelative(-4);
  return false;
}

CL_DependentsRecord* CL_Object::_Record() const {
  if (!_dependents) _dependents = std::make_unique<CL_DependentsRecord>();
  return _dependents.get();
}

bool CL_Object::AddDependent(const CL_AbstractBinding& binding) const {
  CL_DependentsRecord* record = _Record();
  return record != nullptr && record->post_change.Add(binding);
}

bool CL_Object::RemoveDependent(const CL_AbstractBinding& binding) const {
  return _dependents && _dependents->post_change.Remove(binding);
}

bool CL_Object::HasDependent(const CL_AbstractBinding& binding) const {
  return _dependents && _dependents->post_change.Includes(binding);
}

bool CL_Object::AddPreChangeDependent(const CL_AbstractBinding& binding) const {
  CL_DependentsRecord* record = _Record();
  return record != nullptr && record->pre_change.Add(binding);
}

bool CL_Object::RemovePreChangeDependent(const CL_AbstractBinding& binding) const {
  return _dependents && _dependents->pre_change.Remove(binding);
}

bool CL_Object::HasPreChangeDependent(const CL_AbstractBinding& binding) const {
  return _dependents && _dependents->pre_change.Includes(binding);
}

CL_ClientSet* CL_Object::Dependents() const {
  return _dependents ? &_dependents->post_change : nullptr;
}

CL_ClientSet* CL_Object::PreChangeDependents() const {
  return _dependents ? &_dependents->pre_change : nullptr;
}

bool CL_Object::PrepareToChange() {
  return !_dependents || _dependents->pre_change.Permits(reinterpret_cast<CL_Word>(this));
}

void CL_Object::Notify() {
  if (_dependents) _dependents->post_change.NotifyAll(reinterpret_cast<CL_Word>(this));
}

std::istream& operator>>(std::istream& in, CL_Object& object) {
  object.FromStream(in);
  return in;
}

std::ostream& operator<<(std::ostream& out, const CL_Object& object) {
  object.IntoStream(out);
  return out;
}
