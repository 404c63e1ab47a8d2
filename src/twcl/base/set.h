// CL_Set<T>: a collection without duplicates that answers membership, ranks its members
// and combines with other sets; CL_ObjectSet (object pointers, insertion order, found by
// the objects' own comparison) and CL_IntegerSet (32-bit integers); CL_SetIterator, which
// walks a set in order and warns when the set changes under it.
//
// Every change asks PrepareToChange first (a veto makes it change nothing and answer its
// failure value) and ends with Notify.
#ifndef TW_TWCL_BASE_SET_H_
#define TW_TWCL_BASE_SET_H_

#include <memory>

#include "twcl/base/binding.h"
#include "twcl/base/iterator.h"
#include "twcl/base/object.h"
#include "twcl/base/sequence.h"

// Members are kept in the storage sequence in ascending order of its CompareElements
// (object pointers: object comparison, else address; integers: signed).
template <class T>
class CL_Set : public CL_Object {
 public:
  CL_Set();                                  // empty
  explicit CL_Set(CL_Sequence<T>* storage);  // takes ownership of storage
  CL_Set(const CL_Set& other);
  ~CL_Set() override;  // frees the storage; object members are not deleted

  const char* ClassName() const override;  // "CL_Set"
  CL_Long ClassId() const override;        // 26
  CL_Object* Clone() const override;
  // Class check "CL_Set::op=", then operator=(const CL_Set&).
  CL_Set& operator=(const CL_Object& other) override;
  // 4 plus each member's own width (4 per integer, an object's StorableFormWidth, 0 for
  // null).
  CL_Long StorableFormWidth() const override;
  // Stored form: class id (4), count (4), the members ascending. ReadFrom refuses a bad id,
  // a negative count or one that cannot fit in what remains, any member that fails, and
  // members that are not strictly ascending (unsorted or duplicate); on failure the set is
  // unchanged and the objects created by the read are deleted.
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

  // False when present, vetoed or without storage; else inserts in order, true.
  virtual bool Add(const T& e);
  virtual CL_Set& operator+=(const CL_Set& other);  // union
  // The stored member equal to e, removed; the null element when absent or vetoed.
  virtual T Remove(const T& e);
  virtual bool Includes(const T& e) const;
  virtual bool MakeEmpty();
  // How many members come before e (its position, or where it would go).
  virtual CL_Long RankOf(const T& e) const;
  // The member at max(0, min(i, Size()-1)); a shared null element when empty.
  virtual const T& ItemWithRank(CL_Long i) const;
  // Same class id, same size, members equal position by position.
  virtual bool IsEqual(const CL_Object& s) const;
  virtual CL_Set& operator=(const CL_Set& other);
  virtual CL_Set operator+(const CL_Set& other) const;  // union
  virtual CL_Set operator*(const CL_Set& other) const;  // intersection
  virtual CL_Set& operator*=(const CL_Set& other);
  virtual CL_Set operator-(const CL_Set& other) const;  // members not in other
  virtual CL_Set& operator-=(const CL_Set& other);
  virtual CL_Set operator^(const CL_Set& other) const;  // members of exactly one
  virtual CL_Set& operator^=(const CL_Set& other);
  virtual bool IncludesAll(const CL_Set& other) const;
  virtual bool _ReadElement(CL_Stream& s, T& e);
  virtual bool _WriteElement(CL_Stream& s, const T& e) const;
  // True with e's position; false with the position after which e belongs (-1 before the
  // first); without storage false, -1.
  virtual bool _FindIndex(const T& e, CL_Long& index) const;

  CL_Long Size() const;
  const CL_Sequence<T>* _Storage() const { return _storage.get(); }

 protected:
  std::unique_ptr<CL_Sequence<T>> _storage;

 private:
  // Which members a merge of two sets keeps: those only in this set, only in the other, in
  // both.
  enum MergeKeep : unsigned { kKeepMine = 1, kKeepTheirs = 2, kKeepBoth = 4 };
  CL_Set _Merge(const CL_Set& other, unsigned keep) const;
  // One change: the members become (this->*combine)(other).
  CL_Set& _Combine(CL_Set (CL_Set::*combine)(const CL_Set&) const, const CL_Set& other);
};

// Object pointers (not owned) in insertion order, found by a linear scan for a member
// whose object comparison gives 0. The value forms answer a CL_Set<CL_ObjectPtr> holding
// the members in this set's order.
class CL_ObjectSet : public CL_Set<CL_ObjectPtr> {
 public:
  explicit CL_ObjectSet(CL_ObjectReader* reader = nullptr);  // reader not owned
  CL_ObjectSet(const CL_ObjectSet& other);                   // copies the reader pointer
  ~CL_ObjectSet() override;

  const char* ClassName() const override;  // "CL_ObjectSet"
  CL_Long ClassId() const override;        // 28
  CL_Object* Clone() const override;
  CL_ObjectSet& operator=(const CL_ObjectSet& other);
  using CL_Set<CL_ObjectPtr>::operator=;
  CL_ObjectSet& operator=(const CL_Object& other) override;  // IsA, else ignored
  // Asks no dependents and sends no notification; reads through the reader when set, then
  // sorts by object comparison; refuses duplicates.
  bool ReadFrom(CL_Stream& s) override;

  CL_Set<CL_ObjectPtr>& operator+=(const CL_Set<CL_ObjectPtr>& other) override;
  CL_Set<CL_ObjectPtr> operator+(const CL_Set<CL_ObjectPtr>& other) const override;
  CL_Set<CL_ObjectPtr> operator*(const CL_Set<CL_ObjectPtr>& other) const override;
  CL_Set<CL_ObjectPtr>& operator*=(const CL_Set<CL_ObjectPtr>& other) override;
  CL_Set<CL_ObjectPtr> operator-(const CL_Set<CL_ObjectPtr>& other) const override;
  // Of itself: empties the set.
  CL_Set<CL_ObjectPtr>& operator-=(const CL_Set<CL_ObjectPtr>& other) override;
  CL_Set<CL_ObjectPtr> operator^(const CL_Set<CL_ObjectPtr>& other) const override;
  bool _ReadElement(CL_Stream& s, CL_ObjectPtr& e) override;
  // Linear: false with Size()-1 when absent, so Add appends.
  bool _FindIndex(const CL_ObjectPtr& e, CL_Long& index) const override;

  // The stored member equal to e, or null.
  virtual CL_ObjectPtr Find(const CL_ObjectPtr& e) const;
  // Deletes every member object (last to first), then empties the set.
  bool DestroyContents();

  CL_ObjectReader* Reader() const { return _reader; }

 private:
  CL_ObjectReader* _reader = nullptr;
};

class CL_IntegerSet : public CL_Set<CL_Long> {
 public:
  CL_IntegerSet();
  CL_IntegerSet(CL_Long lo, CL_Long hi);  // lo .. hi; empty when hi < lo
  CL_IntegerSet(const CL_IntegerSet& other);
  CL_IntegerSet(const CL_Set<CL_Long>& other);  // the members of a value-form result
  ~CL_IntegerSet() override;

  const char* ClassName() const override;  // "CL_IntegerSet"
  CL_Long ClassId() const override;        // 27
  CL_Object* Clone() const override;
  CL_IntegerSet& operator=(const CL_IntegerSet& other);
  using CL_Set<CL_Long>::operator=;
  CL_IntegerSet& operator=(const CL_Object& other) override;  // IsA, else ignored
  // "{1, 2, 10}"; "{}" when empty.
  CL_String AsString() const override;

  // The smallest integer greater than n that is not a member.
  virtual CL_Long NextNonMember(CL_Long n) const;
};

// Walks a set (not owned; it must outlive the iterator) in order. It registers a pre-change
// binding on the set that, when the set changes while the iterator stands before its end,
// warns "SetIterator %08x: Attempt to modify Set %08x  while iterator active" (two blanks
// before "while"; the two addresses in hexadecimal); the change is always permitted and
// the walk goes on over the changed members.
template <class T>
class CL_SetIterator : public CL_AbstractIterator<const T&> {
 public:
  explicit CL_SetIterator(const CL_Set<T>& set);
  ~CL_SetIterator() override;  // removes the binding
  CL_SetIterator(const CL_SetIterator&) = delete;
  CL_SetIterator& operator=(const CL_SetIterator&) = delete;
  using CL_Object::operator=;

  const char* ClassName() const override;  // "CL_SetIterator"; ClassId stays 1

  void Reset() override;  // position 0
  bool More() override;   // position < Size()
  // The member at the position, then the position advances; a shared null element past
  // the end.
  const T& Next() override;
  virtual void BeginFromRank(CL_Long rank);  // position max(0, rank)
  // The pre-change binding's target: warns when the position lies within the set; true.
  virtual bool _Veto();

 private:
  const CL_Set<T>* _set;
  CL_Long _position = 0;
};

extern template class CL_Set<CL_ObjectPtr>;
extern template class CL_Set<CL_Long>;
extern template class CL_SetIterator<CL_ObjectPtr>;
extern template class CL_SetIterator<CL_Long>;

#endif  // TW_TWCL_BASE_SET_H_
