// CL_Map<K, V>: the library's dictionary, a set of key/value associations (CL_MapAssoc)
// unique by key and kept in ascending key order; its seven named forms; and CL_MapIterator,
// which walks a map in key order.
//
// Key and value kinds: CL_Long, CL_Word (the handle keys of CL_IntPtrMap), CL_String and
// object pointers (never owned by the association; DestroyContents deletes them
// explicitly). Every change asks PrepareToChange first and ends with Notify.
#ifndef TW_TWCL_BASE_MAP_H_
#define TW_TWCL_BASE_MAP_H_

#include "twcl/base/iterator.h"
#include "twcl/base/object.h"
#include "twcl/base/sequence.h"
#include "twcl/base/string.h"
#include "twcl/base/value_kind.h"

template <class K, class V>
class CL_MapAssoc : public CL_Object {
 public:
  CL_MapAssoc();  // null key, null value
  CL_MapAssoc(const K& key, const V& value);
  CL_MapAssoc(const CL_MapAssoc& other);
  ~CL_MapAssoc() override;

  const char* ClassName() const override;  // "CL_MapAssoc"; ClassId stays 1
  CL_Object* Clone() const override;
  // Keys only.
  short Compare(const CL_Object& other) const override;
  // Class check "CL_MapAssoc::op="; unless itself or vetoed copies key and value, notifies.
  CL_MapAssoc& operator=(const CL_Object& other) override;
  CL_MapAssoc& operator=(const CL_MapAssoc& other);
  // The key's text form, " --> ", the value's text form ("7 --> abc", "3 --> 0x0").
  CL_String AsString() const override;

  K key;
  V value;
};

template <class K, class V>
class CL_Map : public CL_Object {
 public:
  using Assoc = CL_MapAssoc<K, V>;

  CL_Map();
  CL_Map(const CL_Map& other);  // deep copy
  ~CL_Map() override;           // deletes every association

  const char* ClassName() const override;  // "CL_Map"
  CL_Long ClassId() const override;        // 11
  CL_Object* Clone() const override;
  // Class check "CL_Map::op="; unless itself or vetoed: every association replaced by a
  // copy of other's, then notify.
  CL_Map& operator=(const CL_Object& other) override;
  CL_Map& operator=(const CL_Map& other);
  // Each association's AsString on a line of its own.
  void IntoStream(std::ostream& out) const override;
  // 4 plus each key's and value's own width (see the notes of the kinds).
  CL_Long StorableFormWidth() const override;
  // Stored form (no class id of its own): count (4), then each key and value in key order.
  // ReadFrom refuses a negative count or one that cannot fit in what remains, any key or
  // value that fails, and keys that are not strictly ascending; on failure the map is
  // unchanged and the objects created by the read are deleted.
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

  // The association at max(0, min(i, Size()-1)), owned by the map; null when empty.
  virtual Assoc* ItemWithRank(CL_Long i) const;
  // How many keys are less than key (its position when present).
  virtual CL_Long RankOf(const K& key) const;
  // False when key is present (unchanged) or vetoed; else inserts in key order, true.
  virtual bool Add(const K& key, const V& value);
  // A copy of the removed association (which is deleted); a default association when
  // absent or vetoed.
  virtual Assoc Remove(const K& key);
  // Deletes every association.
  virtual bool MakeEmpty();
  // Deletes every key and value that is an object pointer, then every association.
  virtual bool DestroyContents();
  virtual bool _ReadKey(CL_Stream& s, K& key);
  virtual bool _ReadValue(CL_Stream& s, V& value);
  virtual bool _WriteKey(CL_Stream& s, const K& key) const;
  virtual bool _WriteValue(CL_Stream& s, const V& value) const;

  CL_Long Size() const { return _assocs.Size(); }
  bool IncludesKey(const K& key) const;
  // The value of key's association; for an absent key a shared null value, reset on each
  // such lookup (nothing is inserted; writing through it changes no association).
  V& operator[](const K& key);

 protected:
  bool _Find(const K& key, CL_Long& index) const;  // BinarySearch over the associations

  CL_ObjectSequence _assocs;  // owned Assoc pointers, ascending keys
};

class CL_IntStringMap : public CL_Map<CL_Long, CL_String> {
 public:
  CL_IntStringMap();
  CL_IntStringMap(const CL_IntStringMap& other);
  ~CL_IntStringMap() override;
  const char* ClassName() const override;  // "CL_IntStringMap"
  CL_Long ClassId() const override;        // 12
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_IntStringMap& operator=(const CL_IntStringMap& other);
};

class CL_IntIntMap : public CL_Map<CL_Long, CL_Long> {
 public:
  CL_IntIntMap();
  CL_IntIntMap(const CL_IntIntMap& other);
  ~CL_IntIntMap() override;
  const char* ClassName() const override;  // "CL_IntIntMap"
  CL_Long ClassId() const override;        // 13
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_IntIntMap& operator=(const CL_IntIntMap& other);
};

// Keys are pointer-sized (native handles, tree labels); stored as 4 bytes.
class CL_IntPtrMap : public CL_Map<CL_Word, CL_ObjectPtr> {
 public:
  CL_IntPtrMap();
  CL_IntPtrMap(const CL_IntPtrMap& other);
  ~CL_IntPtrMap() override;
  const char* ClassName() const override;  // "CL_IntPtrMap"
  CL_Long ClassId() const override;        // 14
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_IntPtrMap& operator=(const CL_IntPtrMap& other);
};

class CL_StringStringMap : public CL_Map<CL_String, CL_String> {
 public:
  CL_StringStringMap();
  CL_StringStringMap(const CL_StringStringMap& other);
  ~CL_StringStringMap() override;
  const char* ClassName() const override;  // "CL_StringStringMap"
  CL_Long ClassId() const override;        // 15
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_StringStringMap& operator=(const CL_StringStringMap& other);
};

class CL_StringIntMap : public CL_Map<CL_String, CL_Long> {
 public:
  CL_StringIntMap();
  CL_StringIntMap(const CL_StringIntMap& other);
  ~CL_StringIntMap() override;
  const char* ClassName() const override;  // "CL_StringIntMap"
  CL_Long ClassId() const override;        // 16
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_StringIntMap& operator=(const CL_StringIntMap& other);
};

class CL_StringPtrMap : public CL_Map<CL_String, CL_ObjectPtr> {
 public:
  CL_StringPtrMap();
  CL_StringPtrMap(const CL_StringPtrMap& other);
  ~CL_StringPtrMap() override;
  const char* ClassName() const override;  // "CL_StringPtrMap"
  CL_Long ClassId() const override;        // 17
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_StringPtrMap& operator=(const CL_StringPtrMap& other);
};

class CL_PtrIntMap : public CL_Map<CL_ObjectPtr, CL_Long> {
 public:
  CL_PtrIntMap();
  CL_PtrIntMap(const CL_PtrIntMap& other);
  ~CL_PtrIntMap() override;
  const char* ClassName() const override;  // "CL_PtrIntMap"
  CL_Long ClassId() const override;        // 19
  CL_Object* Clone() const override;
  using CL_Map::operator=;
  CL_PtrIntMap& operator=(const CL_PtrIntMap& other);
};

// Walks a map (not owned; it must outlive the iterator) in key order.
template <class K, class V>
class CL_MapIterator : public CL_AbstractIterator<CL_MapAssoc<K, V>&> {
 public:
  explicit CL_MapIterator(const CL_Map<K, V>& map);  // position 0
  ~CL_MapIterator() override;
  CL_MapIterator(const CL_MapIterator& other);
  CL_MapIterator& operator=(const CL_MapIterator& other);
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_MapIterator"; ClassId stays 1

  void Reset() override;  // position 0
  bool More() override;   // position < Size()
  // The association at the position, then the position advances; past the end a shared
  // default association, reset on each such call.
  CL_MapAssoc<K, V>& Next() override;
  virtual void BeginFromRank(CL_Long rank);  // position max(rank, 0)

 private:
  const CL_Map<K, V>* _map;
  CL_Long _position = 0;
};

extern template class CL_MapAssoc<CL_Long, CL_String>;
extern template class CL_Map<CL_Long, CL_String>;
extern template class CL_MapIterator<CL_Long, CL_String>;
extern template class CL_MapAssoc<CL_Long, CL_Long>;
extern template class CL_Map<CL_Long, CL_Long>;
extern template class CL_MapIterator<CL_Long, CL_Long>;
extern template class CL_MapAssoc<CL_Word, CL_ObjectPtr>;
extern template class CL_Map<CL_Word, CL_ObjectPtr>;
extern template class CL_MapIterator<CL_Word, CL_ObjectPtr>;
extern template class CL_MapAssoc<CL_String, CL_String>;
extern template class CL_Map<CL_String, CL_String>;
extern template class CL_MapIterator<CL_String, CL_String>;
extern template class CL_MapAssoc<CL_String, CL_Long>;
extern template class CL_Map<CL_String, CL_Long>;
extern template class CL_MapIterator<CL_String, CL_Long>;
extern template class CL_MapAssoc<CL_String, CL_ObjectPtr>;
extern template class CL_Map<CL_String, CL_ObjectPtr>;
extern template class CL_MapIterator<CL_String, CL_ObjectPtr>;
extern template class CL_MapAssoc<CL_ObjectPtr, CL_Long>;
extern template class CL_Map<CL_ObjectPtr, CL_Long>;
extern template class CL_MapIterator<CL_ObjectPtr, CL_Long>;

#endif  // TW_TWCL_BASE_MAP_H_
