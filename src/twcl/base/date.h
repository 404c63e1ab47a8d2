// CL_Date: a calendar date held as its Julian day number (0: invalid or empty), with
// parsing of several written forms, arithmetic in days, months and years, and printed forms.
#ifndef TW_TWCL_BASE_DATE_H_
#define TW_TWCL_BASE_DATE_H_

#include "twcl/base/ordered_object.h"
#include "twcl/base/string.h"

// Every change asks PrepareToChange first and ends with Notify. Ordered by day number within
// the class (CL_OrderedObject).
class CL_Date : public CL_OrderedObject<CL_Date> {
 public:
  CL_Date();  // day 0
  // Valid only for year >= 1753 (a year below 100 gets 1900 added), month 1..12 and day
  // within the month; else day 0.
  CL_Date(short year, short month, short day);
  // month_name as MonthNumber finds it; unknown name or bad day: day 0.
  CL_Date(short year, const char* month_name, short day);
  explicit CL_Date(CL_Long day_number);
  // Parsed: 'Jan 5, 1996', '05-Jan-96', '1/5/96', '010596' (or '960105'). A year of two
  // digits lies within 50 years before and 49 after the current one; a year before 1900 or a
  // day its month does not have does not parse and gives day 0.
  explicit CL_Date(const char* text);
  explicit CL_Date(const CL_String& text);
  CL_Date(const CL_Date& other);
  ~CL_Date() override;

  const char* ClassName() const override;  // "CL_Date"
  CL_Long ClassId() const override;        // 9
  CL_Object* Clone() const override;

  static CL_Date Today();  // the local date of the system clock

  CL_Long DayNumber() const { return _day; }
  bool IsValid() const { return _day > 0; }
  short Year() const;
  short Month() const;
  short Day() const;        // day of month
  short DayOfWeek() const;  // 1 Sunday .. 7 Saturday
  short DaysInMonth() const;
  bool IsLeapYear() const;
  static bool IsLeapYear(short year);
  static short DaysInMonth(short month, short year);  // -1 for a month outside 1..12

  // Name tables; a number outside the table gives "".
  static const char* MonthName(short month);       // 1..12
  static const char* ShortMonthName(short month);  // 1..12
  static const char* DayName(short weekday);       // 1..7
  // Exact match against the full names, then the short names; 0 when unknown.
  static short MonthNumber(const char* name);
  static short DayOfWeek(const char* name);  // 1..7, 0 when unknown
  // Replace the table entries in order (12, 12, 7) from names, not copied (the caller keeps
  // them alive); stop at the first null entry and answer false (earlier entries stay).
  static bool SetMonthNames(const char* const names[]);
  static bool SetShortMonthNames(const char* const names[]);
  static bool SetDayNames(const char* const names[]);

  CL_Date operator+(CL_Long days) const;
  CL_Date operator-(CL_Long days) const;
  CL_Long operator-(const CL_Date& other) const;  // difference in days
  CL_Date& operator+=(CL_Long days);
  CL_Date& operator-=(CL_Long days);
  // The day becomes min(day, the new month's length); a resulting year below 1901 warns
  // "CL_Date::AddMonths: parameter %d too large" and leaves the date: false.
  bool AddMonths(short months);
  // Same month and day in year+years; an invalid result (29 February) gives day 0.
  bool AddYears(short years);
  // The first date on or after (last on or before) this one on that week day.
  CL_Date NextWeekday(short weekday) const;
  CL_Date NextWeekday(const char* day_name) const;
  CL_Date PreviousWeekday(short weekday) const;
  CL_Date PreviousWeekday(const char* day_name) const;
  // Inclusive, the two bounds in either order.
  bool IsBetween(const CL_Date& a, const CL_Date& b) const;

  CL_Date& operator=(const CL_Date& other);
  CL_Date& operator=(const char* text);  // parsed; not parsing gives day 0
  CL_Date& operator=(const CL_String& text);
  CL_Date& operator=(const CL_Object& other) override;  // class check "CL_Date::op="

  // Forms 0 'January 5, 1996', 1 '05-Jan-1996', 2 '01/05/96', 3 '5 January 1996',
  // 4 '05/01/96' (forms 2 and 4 print the last two digits of the year); an invalid date or
  // another form: "".
  CL_String PrintString(short form) const;
  CL_String AsString() const override;  // form 2; also the text-stream form
  // Collects letters, digits, '/' and '-' and parses them; on failure gives them back and
  // sets day 0; on success puts the delimiter back.
  void FromStream(std::istream& in) override;

  // Stored form: id 9 (4), day number (4). A negative day number is refused.
  CL_Long StorableFormWidth() const override;  // 8
  bool ReadFrom(CL_Stream& s) override;
  bool WriteTo(CL_Stream& s) const override;

 private:
  friend class CL_OrderedObject<CL_Date>;
  int _Order(const CL_Date& other) const { return (_day > other._day) - (_day < other._day); }
  static CL_Long _Parse(const CL_String& text);  // day number, 0 when it does not parse
  bool _Set(CL_Long day);                        // PrepareToChange, assign, Notify

  CL_Long _day = 0;
};

#endif  // TW_TWCL_BASE_DATE_H_
