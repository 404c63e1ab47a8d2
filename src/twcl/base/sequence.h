// CL_Sequence<T>: the library's growable, indexable, sortable list over a segmented slot
// store, and its named forms CL_StringSequence, CL_ObjectSequence, CL_IntegerSequence and
// CL_GenericSequence.
//
// Elements that fit a slot (CL_Long, object and untyped pointers) live in the slot itself;
// value classes (CL_String and the like) live in heap copies that the sequence owns and
// deletes when they are removed, cut off, emptied or destroyed. Object pointers are never
// owned (DestroyContents deletes them explicitly).
//
// Every public change asks PrepareToChange first (a veto makes it change nothing and
// answer false, -1, 0 or the null element) and ends with Notify.
#ifndef TW_TWCL_BASE_SEQUENCE_H_
#define TW_TWCL_BASE_SEQUENCE_H_

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "twcl/base/object.h"
#include "twcl/base/slot_storage.h"
#include "twcl/base/string.h"
#include "twcl/base/value_kind.h"

class CL_IntegerSet;

// What shows the strings of a CL_StringSequence and wants to hear of each one that changes
// in place (the sequence as a whole notifies its own dependents).
class CL_SequenceView {
 public:
  virtual bool ItemChanged(CL_Long index) = 0;

 protected:
  ~CL_SequenceView() = default;
};

// True for element kinds held in the slot itself; others are owned heap copies.
template <class T>
inline constexpr bool CL_InSlot = std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(CL_Slot);

// The comparator of a CL_GenericSequence (not owned by it).
class CL_ElementComparator {
 public:
  virtual ~CL_ElementComparator();
  // -1, 0 or 1.
  virtual short Compare(void* a, void* b) const = 0;
};

// The element reader of a CL_ObjectSequence or CL_ObjectSet (not owned by them).
class CL_ObjectReader {
 public:
  virtual ~CL_ObjectReader();
  // A new object owned by the caller, read from s; null on failure.
  virtual CL_Object* ReadObject(CL_Stream& s) = 0;
};

template <class T>
class CL_Sequence : public CL_Object {
 public:
  // Size initial_size, every element null; capacity max(initial_size, 8).
  explicit CL_Sequence(CL_Long initial_size = 0);
  CL_Sequence(const T data[], CL_Long count);  // copies each
  CL_Sequence(const CL_Sequence& other);
  ~CL_Sequence() override;  // destroys the elements, frees the store

  const char* ClassName() const override;  // "CL_Sequence"
  CL_Long ClassId() const override;        // 22
  CL_Object* Clone() const override;       // a sequence of the same class, copied
  // Class check "CL_Sequence::op=", then operator=(const CL_Sequence&).
  CL_Sequence& operator=(const CL_Object& other) override;
  // 8 plus each element's width (4 per integer or pointer, a string's or object's own
  // StorableFormWidth, 0 for a null object).
  CL_Long StorableFormWidth() const override;
  // Stored form: class id (4), count (4), each element in its kind's form. ReadFrom refuses
  // a bad id (moving back 4 bytes), a negative count, a count whose elements cannot fit in
  // what remains, and any element that fails; on failure the sequence is unchanged and the
  // objects created by the read are deleted. An untyped sequence cannot be stored.
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

  // Element index; out of 0 .. Size()-1 warns "CL_Sequence::op[]: index %ld out of range
  // 0..%ld" and answers a shared scratch element reset to null on each such call.
  virtual T& operator[](CL_Long index);
  // The element without any check (0 <= index < Size() is the caller's duty).
  virtual T& _At(CL_Long index);
  // A copy of e after position after (-1: at the front); false when after < -1, after >=
  // Size() on a non-empty sequence, or vetoed.
  virtual bool Insert(const T& e, CL_Long after);
  // Into a sorted sequence before the first element not less than e; the new index or -1.
  virtual CL_Long InsertByRank(const T& e);
  // Appends; the new index or -1.
  virtual CL_Long Add(const T& e);
  // Removes element index and answers it; the null element when out of range or vetoed.
  virtual T Remove(CL_Long index);
  virtual T ExtractLeftmost();
  virtual T ExtractRightmost();
  // Replaces the contents with copies of other's (nothing for itself or on a veto).
  virtual CL_Sequence& operator=(const CL_Sequence& other);
  virtual CL_Sequence& operator+=(const CL_Sequence& other);
  // Removes the elements at the positions that lie in range; false on a veto.
  virtual bool Remove(const CL_IntegerSet& positions);
  // Moves the elements at the positions in range (ascending) to the end of target;
  // answers how many moved.
  virtual CL_Long ExtractInto(const CL_IntegerSet& positions, CL_Sequence& target);
  // Size n: elements beyond n destroyed, new positions null.
  virtual bool ChangeSize(CL_Long n);
  virtual bool MakeEmpty();
  // Raw steps used by the operations above: no PrepareToChange, no Notify.
  // Opens a gap of count null elements at index (0 <= index <= Size(), count >= 0).
  virtual bool ShiftRight(CL_Long index, CL_Long count);
  // Removes the count elements before pos (1 <= pos <= Size(), count <= pos).
  virtual bool ShiftLeft(CL_Long pos, CL_Long count);
  // Sorts start .. min(start+count-1, Size()-1) (0 <= start < Size()); false when the
  // range was already in order (nothing changes, no notification).
  virtual bool Sort(CL_Long start = 0, CL_Long count = INT32_MAX);
  virtual bool IsSorted() const;
  // Sorts lo .. hi inclusive; false when already in order. Recursion depth stays
  // logarithmic.
  virtual bool QuickSort(CL_Long lo, CL_Long hi);
  virtual bool _ReadElement(CL_Stream& s, CL_Long index);
  virtual bool _WriteElement(CL_Stream& s, CL_Long index) const;
  // -1, 0 or 1 by the kind's comparison.
  virtual short CompareElements(const T& a, const T& b) const;

  // As operator[] for reading.
  const T& operator[](CL_Long index) const;
  // On a sorted sequence: true with index = the first equal position; false with index =
  // the last position less than e (-1 when none).
  bool BinarySearch(const T& e, CL_Long& index) const;
  // A new sequence of the elements at positions, removed from this one.
  CL_Sequence Extract(const CL_IntegerSet& positions);
  // Object pointers only: deletes every element object (nulls skipped), size 0, notifies.
  bool DestroyContents() requires std::is_same_v<T, CL_ObjectPtr>;
  CL_Long Size() const { return _size; }
  // The slot store (null when it could not be created); for inspection.
  const CL_PtrSegments* _Storage() const { return _storage.get(); }

 protected:
  static T& _Scratch();          // the shared out-of-range element
  void _Destroy(CL_Long index);  // releases the element representation in a slot
  void _Construct(CL_Long index, const T& e);

  std::unique_ptr<CL_PtrSegments> _storage;
  CL_Long _size = 0;
};

class CL_StringSequence : public CL_Sequence<CL_String> {
 public:
  explicit CL_StringSequence(CL_Long initial_size = 0);
  // count < 0: up to the first null entry.
  CL_StringSequence(const char* const strings[], CL_Long count);
  CL_StringSequence(const CL_StringSequence& other);
  CL_StringSequence(const CL_Sequence<CL_String>& other);
  ~CL_StringSequence() override;

  const char* ClassName() const override;  // "CL_StringSequence"
  CL_Long ClassId() const override;        // 25
  CL_Object* Clone() const override;
  using CL_Sequence<CL_String>::operator=;
  CL_StringSequence& operator=(const CL_StringSequence& other);
  // Another class (IsA false) is ignored without a warning.
  CL_StringSequence& operator=(const CL_Object& other) override;

  // Attached views are told, by index, of every element string changed in place. A copy
  // of the sequence has no views; a view detaches itself before it goes.
  bool AttachView(CL_SequenceView* view);
  bool DetachView(CL_SequenceView* view);
  // Called by the elements' dependents: value is the address of the changed string.
  bool _ElementChanged(CL_Word value);

 private:
  void _WatchElements();
  bool _Rebind();
  std::vector<CL_SequenceView*> _views;
};

class CL_ObjectSequence : public CL_Sequence<CL_ObjectPtr> {
 public:
  explicit CL_ObjectSequence(CL_Long initial_size = 0);
  CL_ObjectSequence(const CL_ObjectPtr data[], CL_Long count, CL_ObjectReader* reader = nullptr);
  CL_ObjectSequence(const CL_ObjectSequence& other);  // copies the reader pointer
  ~CL_ObjectSequence() override;

  const char* ClassName() const override;  // "CL_ObjectSequence"
  CL_Long ClassId() const override;        // 24
  CL_Object* Clone() const override;
  using CL_Sequence<CL_ObjectPtr>::operator=;
  CL_ObjectSequence& operator=(const CL_ObjectSequence& other);
  CL_ObjectSequence& operator=(const CL_Object& other) override;  // IsA, else ignored
  // Through the reader when one is set, else the object-pointer form.
  bool _ReadElement(CL_Stream& s, CL_Long index) override;

  CL_ObjectReader* Reader() const { return _reader; }
  void SetReader(CL_ObjectReader* reader) { _reader = reader; }

 private:
  CL_ObjectReader* _reader = nullptr;
};

class CL_IntegerSequence : public CL_Sequence<CL_Long> {
 public:
  explicit CL_IntegerSequence(CL_Long initial_size = 0);
  CL_IntegerSequence(const CL_Long data[], CL_Long count);
  CL_IntegerSequence(const CL_IntegerSequence& other);
  ~CL_IntegerSequence() override;

  const char* ClassName() const override;  // "CL_IntegerSequence"
  CL_Long ClassId() const override;        // 23
  CL_Object* Clone() const override;
  using CL_Sequence<CL_Long>::operator=;
  CL_IntegerSequence& operator=(const CL_IntegerSequence& other);
};

// Untyped pointers ordered by a comparator that the creator supplies and keeps owning
// (unsigned address order without one). Not storable: _ReadElement and _WriteElement warn
// "does not implement" and answer false.
class CL_GenericSequence : public CL_Sequence<void*> {
 public:
  explicit CL_GenericSequence(CL_Long initial_size = 0, CL_ElementComparator* comparator = nullptr);
  CL_GenericSequence(const CL_GenericSequence& other);  // copies the comparator pointer
  ~CL_GenericSequence() override;

  const char* ClassName() const override;  // "CL_GenericSequence"; ClassId stays 22
  CL_Object* Clone() const override;
  using CL_Sequence<void*>::operator=;
  CL_GenericSequence& operator=(const CL_GenericSequence& other);
  CL_GenericSequence& operator=(const CL_Object& other) override;  // IsA, else ignored
  short CompareElements(void* const& a, void* const& b) const override;

  CL_ElementComparator* Comparator() const { return _comparator; }

 private:
  CL_ElementComparator* _comparator = nullptr;
};

extern template class CL_Sequence<CL_String>;
extern template class CL_Sequence<CL_ObjectPtr>;
extern template class CL_Sequence<CL_Long>;
extern template class CL_Sequence<void*>;

#endif  // TW_TWCL_BASE_SEQUENCE_H_
