// The library's map instances, the named maps and their registry entries.
#include "twcl/base/map.h"

#include "twcl/base/class_registry.h"
#include "twcl/base/map_impl.h"

template class CL_MapAssoc<CL_Long, CL_String>;
template class CL_Map<CL_Long, CL_String>;
template class CL_MapIterator<CL_Long, CL_String>;
template class CL_MapAssoc<CL_Long, CL_Long>;
template class CL_Map<CL_Long, CL_Long>;
template class CL_MapIterator<CL_Long, CL_Long>;
template class CL_MapAssoc<CL_Word, CL_ObjectPtr>;
template class CL_Map<CL_Word, CL_ObjectPtr>;
template class CL_MapIterator<CL_Word, CL_ObjectPtr>;
template class CL_MapAssoc<CL_String, CL_String>;
template class CL_Map<CL_String, CL_String>;
template class CL_MapIterator<CL_String, CL_String>;
template class CL_MapAssoc<CL_String, CL_Long>;
template class CL_Map<CL_String, CL_Long>;
template class CL_MapIterator<CL_String, CL_Long>;
template class CL_MapAssoc<CL_String, CL_ObjectPtr>;
template class CL_Map<CL_String, CL_ObjectPtr>;
template class CL_MapIterator<CL_String, CL_ObjectPtr>;
template class CL_MapAssoc<CL_ObjectPtr, CL_Long>;
template class CL_Map<CL_ObjectPtr, CL_Long>;
template class CL_MapIterator<CL_ObjectPtr, CL_Long>;

namespace {

const CL_ClassIdEntry int_string_map_entry(CL_ClassId_IntStringMap,
                                           []() -> CL_Object* { return new CL_IntStringMap; });
const CL_ClassIdEntry int_int_map_entry(CL_ClassId_IntIntMap,
                                        []() -> CL_Object* { return new CL_IntIntMap; });
const CL_ClassIdEntry int_ptr_map_entry(CL_ClassId_IntPtrMap,
                                        []() -> CL_Object* { return new CL_IntPtrMap; });
const CL_ClassIdEntry string_string_map_entry(CL_ClassId_StringStringMap, []() -> CL_Object* {
  return new CL_StringStringMap;
});
const CL_ClassIdEntry string_int_map_entry(CL_ClassId_StringIntMap,
                                           []() -> CL_Object* { return new CL_StringIntMap; });
const CL_ClassIdEntry string_ptr_map_entry(CL_ClassId_StringPtrMap,
                                           []() -> CL_Object* { return new CL_StringPtrMap; });
const CL_ClassIdEntry ptr_int_map_entry(CL_ClassId_PtrIntMap,
                                        []() -> CL_Object* { return new CL_PtrIntMap; });

}  // namespace

CL_IntStringMap::CL_IntStringMap() = default;

CL_IntStringMap::CL_IntStringMap(const CL_IntStringMap& other) : CL_Map(other) {}

CL_IntStringMap::~CL_IntStringMap() = default;

const char* CL_IntStringMap::ClassName() const {
  return "CL_IntStringMap";
}

CL_Long CL_IntStringMap::ClassId() const {
  return CL_ClassId_IntStringMap;
}

CL_Object* CL_IntStringMap::Clone() const {
  return new CL_IntStringMap(*this);
}

CL_IntStringMap& CL_IntStringMap::operator=(const CL_IntStringMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_IntIntMap::CL_IntIntMap() = default;

CL_IntIntMap::CL_IntIntMap(const CL_IntIntMap& other) : CL_Map(other) {}

CL_IntIntMap::~CL_IntIntMap() = default;

const char* CL_IntIntMap::ClassName() const {
  return "CL_IntIntMap";
}

CL_Long CL_IntIntMap::ClassId() const {
  return CL_ClassId_IntIntMap;
}

CL_Object* CL_IntIntMap::Clone() const {
  return new CL_IntIntMap(*this);
}

CL_IntIntMap& CL_IntIntMap::operator=(const CL_IntIntMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_IntPtrMap::CL_IntPtrMap() = default;

CL_IntPtrMap::CL_IntPtrMap(const CL_IntPtrMap& other) : CL_Map(other) {}

CL_IntPtrMap::~CL_IntPtrMap() = default;

const char* CL_IntPtrMap::ClassName() const {
  return "CL_IntPtrMap";
}

CL_Long CL_IntPtrMap::ClassId() const {
  return CL_ClassId_IntPtrMap;
}

CL_Object* CL_IntPtrMap::Clone() const {
  return new CL_IntPtrMap(*this);
}

CL_IntPtrMap& CL_IntPtrMap::operator=(const CL_IntPtrMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_StringStringMap::CL_StringStringMap() = default;

CL_StringStringMap::CL_StringStringMap(const CL_StringStringMap& other) : CL_Map(other) {}

CL_StringStringMap::~CL_StringStringMap() = default;

const char* CL_StringStringMap::ClassName() const {
  return "CL_StringStringMap";
}

CL_Long CL_StringStringMap::ClassId() const {
  return CL_ClassId_StringStringMap;
}

CL_Object* CL_StringStringMap::Clone() const {
  return new CL_StringStringMap(*this);
}

CL_StringStringMap& CL_StringStringMap::operator=(const CL_StringStringMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_StringIntMap::CL_StringIntMap() = default;

CL_StringIntMap::CL_StringIntMap(const CL_StringIntMap& other) : CL_Map(other) {}

CL_StringIntMap::~CL_StringIntMap() = default;

const char* CL_StringIntMap::ClassName() const {
  return "CL_StringIntMap";
}

CL_Long CL_StringIntMap::ClassId() const {
  return CL_ClassId_StringIntMap;
}

CL_Object* CL_StringIntMap::Clone() const {
  return new CL_StringIntMap(*this);
}

CL_StringIntMap& CL_StringIntMap::operator=(const CL_StringIntMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_StringPtrMap::CL_StringPtrMap() = default;

CL_StringPtrMap::CL_StringPtrMap(const CL_StringPtrMap& other) : CL_Map(other) {}

CL_StringPtrMap::~CL_StringPtrMap() = default;

const char* CL_StringPtrMap::ClassName() const {
  return "CL_StringPtrMap";
}

CL_Long CL_StringPtrMap::ClassId() const {
  return CL_ClassId_StringPtrMap;
}

CL_Object* CL_StringPtrMap::Clone() const {
  return new CL_StringPtrMap(*this);
}

CL_StringPtrMap& CL_StringPtrMap::operator=(const CL_StringPtrMap& other) {
  CL_Map::operator=(other);
  return *this;
}

CL_PtrIntMap::CL_PtrIntMap() = default;

CL_PtrIntMap::CL_PtrIntMap(const CL_PtrIntMap& other) : CL_Map(other) {}

CL_PtrIntMap::~CL_PtrIntMap() = default;

const char* CL_PtrIntMap::ClassName() const {
  return "CL_PtrIntMap";
}

CL_Long CL_PtrIntMap::ClassId() const {
  return CL_ClassId_PtrIntMap;
}

CL_Object* CL_PtrIntMap::Clone() const {
  return new CL_PtrIntMap(*this);
}

CL_PtrIntMap& CL_PtrIntMap::operator=(const CL_PtrIntMap& other) {
  CL_Map::operator=(other);
  return *this;
}
