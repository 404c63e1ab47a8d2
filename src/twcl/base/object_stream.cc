// CL_Stream: the object format (by value, by pointer, back references), the pointer maps
// and the read journal that lets a failed read delete exactly the objects it created.
//
// Rule for every stored class: a destructor never deletes objects that were read by
// pointer (containers of object pointers do not own them), so _AbandonRead may delete
// each journalled object on its own without deleting anything twice.
#include "twcl/base/object_stream.h"

#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "twcl/base/class_registry.h"
#include "twcl/base/error.h"

struct CL_Stream::PointerMaps {
  std::unordered_map<CL_Long, CL_Object*> read;         // body offset -> object read there
  std::unordered_map<const CL_Object*, CL_Long> write;  // object -> offset of its body
  std::vector<std::pair<CL_Object*, CL_Long>> journal;  // objects created, in order
};

CL_Stream::CL_Stream() : _maps(std::make_unique<PointerMaps>()) {}

CL_Stream::~CL_Stream() = default;

const char* CL_Stream::ClassName() const {
  return "CL_Stream";
}

CL_Long CL_Stream::ClassId() const {
  return CL_ClassId_Stream;
}

bool CL_Stream::SeekRelative(CL_Long delta) {
  const std::int64_t target = std::int64_t{Offset()} + delta;
  if (target > std::numeric_limits<CL_Long>::max()) return false;
  return SeekTo(target < 0 ? 0 : static_cast<CL_Long>(target));
}

bool CL_Stream::SeekToEnd() {
  return SeekTo(Size());
}

bool CL_Stream::Eof() {
  return Size() <= Offset();
}

CL_String CL_Stream::ErrorString() const {
  return CL_String();
}

void CL_Stream::RememberPointers() {
  _maps->write.clear();
  _remember_pointers = true;
}

void CL_Stream::ForgetPointers() {
  _maps->write.clear();
  _remember_pointers = false;
}

CL_Object* CL_Stream::_CreateFromClassId() {
  CL_Long id;
  if (!ReadLong(id)) return nullptr;
  const CL_Creator creator = CL_FindCreator(id);
  return creator != nullptr ? creator() : nullptr;
}

bool CL_Stream::Read(CL_Object& object) {
  short flag;
  if (!ReadShort(flag)) return false;
  switch (flag) {
    case CL_StreamFlagObject: {
      // The id is skipped, not compared: the body begins with the id again and the
      // object's own ReadFrom checks that one.
      CL_Long id;
      return ReadLong(id) && object.ReadFrom(*this);
    }
    case CL_StreamFlagReference:
      CL_Error::Warning("CL_Stream::Read: reading object, found pointer");
      return false;
    default:
      CL_Error::Warning("CL_Stream::Read: invalid flag: %d", flag);
      return false;
  }
}

bool CL_Stream::Read(CL_Object*& object) {
  object = nullptr;
  short flag;
  if (!ReadShort(flag)) return false;
  switch (flag) {
    case CL_StreamFlagNull:
      return true;
    case CL_StreamFlagObject: {
      CL_Object* created = _CreateFromClassId();
      if (created == nullptr) return false;
      const CL_Long body = Offset();
      const CL_Long mark = _ReadMark();
      if (!created->ReadFrom(*this)) {
        _AbandonRead(mark);
        delete created;
        return false;
      }
      // Entered only now: a body that refers back to its own object (a cycle) finds no
      // entry and fails instead of answering a half-read object.
      _maps->read[body] = created;
      _maps->journal.emplace_back(created, body);
      object = created;
      return true;
    }
    case CL_StreamFlagReference: {
      CL_Long body;
      if (!ReadLong(body) || body < 0) return false;
      const auto it = _maps->read.find(body);
      if (it == _maps->read.end()) return false;
      object = it->second;
      return object != nullptr;
    }
    default:
      CL_Error::Warning("CL_Stream::Read: invalid flag: %d", flag);
      return false;
  }
}

bool CL_Stream::Write(const CL_Object* object) {
  return object == nullptr ? WriteShort(CL_StreamFlagNull) : _WriteObject(*object);
}

bool CL_Stream::Write(const CL_Object& object) {
  return WriteShort(CL_StreamFlagObject) && WriteLong(object.ClassId()) && object.WriteTo(*this);
}

bool CL_Stream::_WriteObject(const CL_Object& object) {
  if (!_remember_pointers) return Write(object);
  if (const auto it = _maps->write.find(&object); it != _maps->write.end())
    return WriteShort(CL_StreamFlagReference) && WriteLong(it->second);
  if (!WriteShort(CL_StreamFlagObject) || !WriteLong(object.ClassId())) return false;
  _maps->write[&object] = Offset();
  return object.WriteTo(*this);
}

bool CL_Stream::WriteWord(CL_Word value) {
  if (value < std::numeric_limits<CL_Long>::min() || value > std::numeric_limits<CL_Long>::max())
    return false;
  return WriteLong(static_cast<CL_Long>(value));
}

bool CL_Stream::ReadWord(CL_Word& value) {
  CL_Long stored;
  if (!ReadLong(stored)) return false;
  value = stored;
  return true;
}

CL_Long CL_Stream::_ReadMark() const {
  return static_cast<CL_Long>(_maps->journal.size());
}

void CL_Stream::_AbandonRead(CL_Long mark) {
  const std::size_t keep = mark < 0 ? 0 : static_cast<std::size_t>(mark);
  auto& journal = _maps->journal;
  while (journal.size() > keep) {
    const auto [object, body] = journal.back();
    journal.pop_back();
    if (const auto it = _maps->read.find(body); it != _maps->read.end() && it->second == object)
      _maps->read.erase(it);
    // A later object at the same address must not be written as a back reference to it.
    _maps->write.erase(object);
    delete object;
  }
}
