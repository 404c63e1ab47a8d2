// CL_ByteArray: a view over a run of bytes that somebody else owns, with comparison,
// copying in and out and typed little-endian access. Copies of a view share its bytes.
#ifndef TW_TWCL_BASE_BYTE_ARRAY_H_
#define TW_TWCL_BASE_BYTE_ARRAY_H_

#include "twcl/base/ordered_object.h"
#include "twcl/base/string.h"

// Every mutator asks PrepareToChange of the view and, when there is one, of the owner; it
// does nothing when either refuses or there are no bytes; afterwards it notifies both.
class CL_ByteArray : public CL_OrderedObject<CL_ByteArray, CL_ForeignOrder::kByAddress> {
 public:
  explicit CL_ByteArray(CL_Object* owner = nullptr);  // empty view
  // A view of size bytes at bytes (not owned; they must outlive the view).
  CL_ByteArray(unsigned char* bytes, CL_Long size, CL_Object* owner = nullptr);
  CL_ByteArray(const CL_ByteArray& other);  // the same view
  ~CL_ByteArray() override;

  const char* ClassName() const override;  // "CL_ByteArray"
  CL_Long ClassId() const override;        // 7
  CL_Object* Clone() const override;       // the same view

  CL_Long Size() const { return _size; }
  unsigned char* AsPtr() const { return _bytes; }
  CL_Object* Owner() const { return _owner; }

  bool Fill(unsigned char value);
  // Copy min(count, Size()-start) bytes out / in from start; 0 when count < 1, no bytes,
  // or start outside 0 .. Size()-1. Answer the count copied.
  CL_Long CopyTo(unsigned char* destination, CL_Long count, CL_Long start = 0) const;
  CL_Long CopyFrom(const unsigned char* source, CL_Long count, CL_Long start = 0);

  // Copies min(Size(), other.Size()) bytes to the front (nothing when both share bytes).
  CL_ByteArray& operator=(const CL_ByteArray& other);
  CL_ByteArray& operator=(const unsigned char* bytes);  // Size() bytes from bytes
  CL_ByteArray& operator=(const CL_String& s);          // min(Size(), s.Size()+1) bytes
  CL_ByteArray& operator=(short value);    // min(Size(), 2) bytes, least significant first
  CL_ByteArray& operator=(CL_Long value);  // min(Size(), 4) bytes, least significant first
  // Class check "CL_ByteArray::operator= (CL_Object&)", then as from a byte array.
  CL_ByteArray& operator=(const CL_Object& other) override;

  // The 4 / 2 bytes at offset, little-endian; 0 unless offset >= 0 and the whole value
  // lies inside the view.
  CL_Long LongValueAt(CL_Long offset) const;
  short ShortValueAt(CL_Long offset) const;
  // A view over count bytes from start with the same owner, clipped to the view (empty
  // when start lies outside 0 .. Size()); never reaches past the bytes.
  CL_ByteArray Subarray(CL_Long start, CL_Long count) const;
  // The view from start to the end (empty when start >= Size(); start < 0 counts as 0).
  CL_ByteArray Suffix(CL_Long start) const;
  // How many leading bytes equal those at bytes (at most Size()).
  CL_Long CommonPrefixLength(const unsigned char* bytes) const;

  // Each operator against another object and against raw bytes. Objects: unsigned byte
  // order over the shorter size, then the shorter first; == needs equal size and bytes
  // (CL_OrderedObject); another class: == false, != true, ordering by address. Raw bytes:
  // the view's own Size() bytes are compared.
  using CL_OrderedObject::Compare;
  short Compare(const unsigned char* bytes) const;
  using CL_OrderedObject::operator<;
  bool operator<(const unsigned char* bytes) const;
  using CL_OrderedObject::operator==;
  bool operator==(const unsigned char* bytes) const;
  using CL_OrderedObject::operator<=;
  bool operator<=(const unsigned char* bytes) const;
  using CL_OrderedObject::operator>;
  bool operator>(const unsigned char* bytes) const;
  using CL_OrderedObject::operator>=;
  bool operator>=(const unsigned char* bytes) const;
  using CL_OrderedObject::operator!=;
  bool operator!=(const unsigned char* bytes) const;

  // The bytes up to the first NUL; "" without bytes.
  CL_String AsString() const override;

  // Stored form: id 7 (4), then Size() bytes (the size is not stored: the reader fills a
  // view of the size it already has, and fails unchanged when fewer bytes remain).
  CL_Long StorableFormWidth() const override;  // Size() + 4
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 protected:
  friend class CL_OrderedObject<CL_ByteArray, CL_ForeignOrder::kByAddress>;
  int _Order(const CL_ByteArray& other) const;
  bool _PrepareBoth();  // PrepareToChange of the view, then of the owner
  void _NotifyBoth();

  CL_Long _size = 0;
  unsigned char* _bytes = nullptr;
  CL_Object* _owner = nullptr;
};

#endif  // TW_TWCL_BASE_BYTE_ARRAY_H_
