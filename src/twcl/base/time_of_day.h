// CL_TimeOfDay: a time of day held as seconds since midnight (0 .. 86399), with parsing,
// arithmetic that wraps once around midnight, and two printed forms.
#ifndef TW_TWCL_BASE_TIME_OF_DAY_H_
#define TW_TWCL_BASE_TIME_OF_DAY_H_

#include "twcl/base/ordered_object.h"
#include "twcl/base/string.h"

// Every change asks PrepareToChange first and ends with Notify. Ordered by seconds within
// the class (CL_OrderedObject).
class CL_TimeOfDay : public CL_OrderedObject<CL_TimeOfDay> {
 public:
  CL_TimeOfDay();                          // 0
  explicit CL_TimeOfDay(CL_Long seconds);  // modulo 86400
  // Each part out of range warns ("CL_TimeOfDay constructor: invalid hour %d", "... invalid
  // minutes %d", "... invalid seconds %d") and the value becomes 0.
  CL_TimeOfDay(short hour, short minute, short second);
  explicit CL_TimeOfDay(const char* text);  // parsed; not parsing gives 0
  explicit CL_TimeOfDay(const CL_String& text);
  CL_TimeOfDay(const CL_TimeOfDay& other);
  ~CL_TimeOfDay() override;

  const char* ClassName() const override;  // "CL_TimeOfDay"
  CL_Long ClassId() const override;        // 10
  CL_Object* Clone() const override;

  static CL_TimeOfDay Now();  // the local time of the system clock

  CL_Long TotalSeconds() const { return _seconds; }
  short Hour() const;
  short Minute() const;
  short Second() const;

  // A sum of 86400 or more loses 86400 once; a negative result gains 86400 once.
  CL_TimeOfDay operator+(CL_Long seconds) const;
  CL_TimeOfDay& operator+=(CL_Long seconds);
  CL_TimeOfDay& operator-=(CL_Long seconds);

  CL_TimeOfDay& operator=(const CL_TimeOfDay& other);
  CL_TimeOfDay& operator=(const char* text);
  CL_TimeOfDay& operator=(const CL_Object& other) override;  // class check "CL_TimeOfDay::op="

  // Form 1 'HH:MM:SS'; any other form the 12-hour text ('0:05 am', '12:00 pm', '3:15 pm').
  CL_String PrintString(short form) const;
  CL_String AsString() const override;  // form 1; also the text-stream form
  // Collects letters, digits and ':' and parses them; as CL_Date::FromStream.
  void FromStream(std::istream& in) override;

  // Stored form: id 10 (4), seconds (4). A value outside 0 .. 86399 is refused.
  CL_Long StorableFormWidth() const override;  // 8
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 private:
  friend class CL_OrderedObject<CL_TimeOfDay>;
  int _Order(const CL_TimeOfDay& other) const {
    return (_seconds > other._seconds) - (_seconds < other._seconds);
  }
  static CL_Long _Parse(const CL_String& text);  // seconds, -1 when it does not parse
  bool _Set(CL_Long seconds);

  CL_Long _seconds = 0;
};

#endif  // TW_TWCL_BASE_TIME_OF_DAY_H_
