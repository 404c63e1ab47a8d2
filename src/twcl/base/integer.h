// CL_Integer: a 32-bit long as an object, for containers of objects, stored forms and
// dependents.
#ifndef TW_TWCL_BASE_INTEGER_H_
#define TW_TWCL_BASE_INTEGER_H_

#include "twcl/base/ordered_object.h"
#include "twcl/base/string.h"

// Ordered by value within the class (CL_OrderedObject).
class CL_Integer : public CL_OrderedObject<CL_Integer> {
 public:
  explicit CL_Integer(CL_Long value = 0);
  CL_Integer(const CL_Integer& other);
  ~CL_Integer() override;

  const char* ClassName() const override;  // "CL_Integer"
  CL_Long ClassId() const override;        // 5
  CL_Object* Clone() const override;

  CL_Long Value() const { return _value; }
  // Each a change: a veto leaves the value. Prefix forms answer the value after, postfix
  // forms the value before.
  CL_Integer& operator=(CL_Long value);
  CL_Integer& operator=(const CL_Integer& other);
  // Class check "CL_Integer::operator=", then the value.
  CL_Integer& operator=(const CL_Object& other) override;
  CL_Long operator++();
  CL_Long operator++(int);
  CL_Long operator--();
  CL_Long operator--(int);

  CL_String AsString() const override;  // decimal
  // Radix 10 or value 0: decimal; 2..16: the value as unsigned 32 bits with the digits
  // "0123456789ABCDEF", no sign or prefix; any other radix: "".
  CL_String InRadix(short radix) const;
  void IntoStream(std::ostream& out) const override;  // decimal

  // Stored form: id 5 (4), value (4).
  CL_Long StorableFormWidth() const override;  // 8
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 private:
  friend class CL_OrderedObject<CL_Integer>;
  int _Order(const CL_Integer& other) const {
    return (_value > other._value) - (_value < other._value);
  }

  CL_Long _value;
};

#endif  // TW_TWCL_BASE_INTEGER_H_
