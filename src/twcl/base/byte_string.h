// CL_ByteString: a byte array that owns and resizes its bytes (its owner is itself).
#ifndef TW_TWCL_BASE_BYTE_STRING_H_
#define TW_TWCL_BASE_BYTE_STRING_H_

#include "twcl/base/byte_array.h"

class CL_ByteString : public CL_ByteArray {
 public:
  CL_ByteString();                           // size 0
  explicit CL_ByteString(CL_Long size);      // size zero bytes (0 when allocation fails)
  CL_ByteString(const CL_ByteArray& bytes);  // a copy of its bytes
  CL_ByteString(const unsigned char* bytes, CL_Long size);  // a copy
  CL_ByteString(const CL_ByteString& other);
  explicit CL_ByteString(const CL_String& s);  // its characters and the NUL
  ~CL_ByteString() override;                   // frees the bytes

  const char* ClassName() const override;  // "CL_ByteString"
  CL_Long ClassId() const override;        // 8
  CL_Object* Clone() const override;

  // n < 0: false; 0 frees the bytes; else a zero-filled block of n bytes receiving the
  // first min(n, Size()) old bytes. Neither asks nor notifies dependents.
  bool ChangeSize(CL_Long n);

  using CL_ByteArray::operator=;  // raw bytes: Size() bytes, no growth
  // Grows by other's size and copies its bytes to the end, then notifies.
  CL_ByteString& operator+=(const CL_ByteArray& other);
  // Grows to other's size when smaller, then copies (a larger string keeps its size).
  CL_ByteString& operator=(const CL_ByteString& other);
  CL_ByteString& operator=(const CL_ByteArray& other);
  CL_ByteString& operator=(const CL_String& s);  // grows to at least s.Size()+1
  CL_ByteString& operator=(CL_Long value);       // a string below 4 bytes grows by 4
  CL_ByteString& operator=(short value);         // a string below 2 bytes grows by 2
  // Class check "CL_ByteString::operator= (CL_Object&)", then as from a byte array.
  CL_ByteString& operator=(const CL_Object& other) override;

  // Stored form: id 8 (4), size (4), the bytes. Refuses a size below 0 or beyond the
  // bytes left in the stream.
  CL_Long StorableFormWidth() const override;  // Size() + 8
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;
};

#endif  // TW_TWCL_BASE_BYTE_STRING_H_
