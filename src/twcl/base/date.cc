// CL_Date: Gregorian dates as Julian day numbers, their written forms and arithmetic.
#include "twcl/base/date.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <istream>
#include <limits>
#include <string>

#include "twcl/base/class_registry.h"
#include "twcl/base/error.h"
#include "twcl/base/long_value.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"

namespace {

const CL_ClassIdEntry date_entry(CL_ClassId_Date, []() -> CL_Object* { return new CL_Date; });

const char* month_names[12] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* short_month_names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* day_names[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                            "Thursday", "Friday", "Saturday"};

constexpr std::int64_t kLongMax = std::numeric_limits<CL_Long>::max();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

struct Ymd {
  std::int64_t year = 0;
  std::int64_t month = 0;
  std::int64_t day = 0;
};

// The Gregorian form of the Julian day algorithm, months counted from March. Computed in
// 64 bits so that no stored day number overflows it.
std::int64_t ToDayNumber(std::int64_t year, std::int64_t month, std::int64_t day) {
  if (year < 100) year += 1900;
  if (month > 2) {
    month -= 3;
  } else {
    month += 9;
    --year;
  }
  const std::int64_t century = FloorDiv(year, 100);
  const std::int64_t in_century = year - 100 * century;
  return FloorDiv(146097 * century, 4) + (1461 * in_century) / 4 + (153 * month + 2) / 5 + day +
         1721119;
}

Ymd FromDayNumber(std::int64_t j) {
  j -= 1721119;
  std::int64_t year = FloorDiv(4 * j - 1, 146097);
  j = 4 * j - 1 - 146097 * year;
  std::int64_t day = j / 4;
  j = (4 * day + 3) / 1461;
  day = 4 * day + 3 - 1461 * j;
  day = (day + 4) / 4;
  std::int64_t month = (5 * day - 3) / 153;
  day = 5 * day - 3 - 153 * month;
  day = (day + 5) / 5;
  year = 100 * year + j;
  if (month < 10) {
    month += 3;
  } else {
    month -= 9;
    ++year;
  }
  return {year, month, day};
}

bool LeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int64_t MonthLength(std::int64_t month, std::int64_t year) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return -1;
  return month == 2 && LeapYear(year) ? 29 : kLengths[month - 1];
}

// The day number of a valid date from 1753 on, else 0.
CL_Long ValidDay(std::int64_t year, std::int64_t month, std::int64_t day) {
  if (year < 1753 || month < 1 || month > 12 || day < 1 || day > MonthLength(month, year)) return 0;
  const std::int64_t number = ToDayNumber(year, month, day);
  return number > kLongMax ? 0 : static_cast<CL_Long>(number);
}

CL_Long ClampDay(std::int64_t number) {
  return number <= 0 || number > kLongMax ? 0 : static_cast<CL_Long>(number);
}

// A year written with two digits is the one of those digits that lies from 50 years before
// the current year to 49 after it, so that the window slides along with the clock.
std::int64_t CenturyOf(std::int64_t two_digits, std::int64_t current_year) {
  const std::int64_t first = current_year - 50;
  return first + ((two_digits - first) % 100 + 100) % 100;
}

bool LocalNow(std::tm& local) {
  const std::time_t now = std::time(nullptr);
  return localtime_r(&now, &local) != nullptr;
}

std::int64_t CurrentYear() {
  std::tm local{};
  return LocalNow(local) ? local.tm_year + 1900 : 2000;
}

bool IsDigit(int c) {
  return c >= '0' && c <= '9';
}

bool IsLetterOrDigit(int c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

CL_String Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
CL_String Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return CL_String(text.data(), static_cast<CL_Long>(text.size()));
}

using twcl_internal::SameClass;

bool SetNames(const char** table, int count, const char* const names[]) {
  if (names == nullptr) return false;
  for (int i = 0; i < count; ++i) {
    if (names[i] == nullptr) return false;
    table[i] = names[i];
  }
  return true;
}

short Lookup(const char* const* table, int count, const char* name) {
  if (name == nullptr) return 0;
  for (int i = 0; i < count; ++i)
    if (std::strcmp(table[i], name) == 0) return static_cast<short>(i + 1);
  return 0;
}

}  // namespace

CL_Date::CL_Date() = default;

CL_Date::CL_Date(short year, short month, short day) : _day(ValidDay(year, month, day)) {}

CL_Date::CL_Date(short year, const char* month_name, short day)
    : _day(ValidDay(year, MonthNumber(month_name), day)) {}

CL_Date::CL_Date(CL_Long day_number) : _day(std::max<CL_Long>(day_number, 0)) {}

CL_Date::CL_Date(const char* text) : _day(_Parse(CL_String(text))) {}

CL_Date::CL_Date(const CL_String& text) : _day(_Parse(text)) {}

CL_Date::CL_Date(const CL_Date& other) : CL_OrderedObject(other), _day(other._day) {}

CL_Date::~CL_Date() = default;

const char* CL_Date::ClassName() const {
  return "CL_Date";
}

CL_Long CL_Date::ClassId() const {
  return CL_ClassId_Date;
}

CL_Object* CL_Date::Clone() const {
  return new CL_Date(*this);
}

CL_Date CL_Date::Today() {
  std::tm local{};
  if (!LocalNow(local)) return CL_Date();
  return CL_Date(static_cast<short>(local.tm_year + 1900), static_cast<short>(local.tm_mon + 1),
                 static_cast<short>(local.tm_mday));
}

short CL_Date::Year() const {
  return IsValid() ? static_cast<short>(FromDayNumber(_day).year) : 0;
}

short CL_Date::Month() const {
  return IsValid() ? static_cast<short>(FromDayNumber(_day).month) : 0;
}

short CL_Date::Day() const {
  return IsValid() ? static_cast<short>(FromDayNumber(_day).day) : 0;
}

short CL_Date::DayOfWeek() const {
  return IsValid() ? static_cast<short>((std::int64_t{_day} + 1) % 7 + 1) : 0;
}

short CL_Date::DaysInMonth() const {
  if (!IsValid()) return -1;
  const Ymd date = FromDayNumber(_day);
  return static_cast<short>(MonthLength(date.month, date.year));
}

bool CL_Date::IsLeapYear() const {
  return IsValid() && LeapYear(FromDayNumber(_day).year);
}

bool CL_Date::IsLeapYear(short year) {
  return LeapYear(year);
}

short CL_Date::DaysInMonth(short month, short year) {
  return static_cast<short>(MonthLength(month, year));
}

const char* CL_Date::MonthName(short month) {
  return month >= 1 && month <= 12 ? month_names[month - 1] : "";
}

const char* CL_Date::ShortMonthName(short month) {
  return month >= 1 && month <= 12 ? short_month_names[month - 1] : "";
}

const char* CL_Date::DayName(short weekday) {
  return weekday >= 1 && weekday <= 7 ? day_names[weekday - 1] : "";
}

short CL_Date::MonthNumber(const char* name) {
  if (const short month = Lookup(month_names, 12, name)) return month;
  return Lookup(short_month_names, 12, name);
}

short CL_Date::DayOfWeek(const char* name) {
  return Lookup(day_names, 7, name);
}

bool CL_Date::SetMonthNames(const char* const names[]) {
  return SetNames(month_names, 12, names);
}

bool CL_Date::SetShortMonthNames(const char* const names[]) {
  return SetNames(short_month_names, 12, names);
}

bool CL_Date::SetDayNames(const char* const names[]) {
  return SetNames(day_names, 7, names);
}

CL_Date CL_Date::operator+(CL_Long days) const {
  return CL_Date(ClampDay(std::int64_t{_day} + days));
}

CL_Date CL_Date::operator-(CL_Long days) const {
  return CL_Date(ClampDay(std::int64_t{_day} - days));
}

CL_Long CL_Date::operator-(const CL_Date& other) const {
  return static_cast<CL_Long>(std::int64_t{_day} - other._day);
}

CL_Date& CL_Date::operator+=(CL_Long days) {
  _Set(ClampDay(std::int64_t{_day} + days));
  return *this;
}

CL_Date& CL_Date::operator-=(CL_Long days) {
  _Set(ClampDay(std::int64_t{_day} - days));
  return *this;
}

bool CL_Date::AddMonths(short months) {
  const Ymd date = IsValid() ? FromDayNumber(_day) : Ymd{};
  const std::int64_t total = date.year * 12 + date.month - 1 + months;
  const std::int64_t year = FloorDiv(total, 12);
  if (year < 1901) {
    CL_Error::Warning("CL_Date::AddMonths: parameter %d too large", months);
    return false;
  }
  const std::int64_t month = total - year * 12 + 1;
  const std::int64_t day = std::min(date.day, MonthLength(month, year));
  return _Set(ClampDay(ToDayNumber(year, month, day)));
}

bool CL_Date::AddYears(short years) {
  const Ymd date = IsValid() ? FromDayNumber(_day) : Ymd{};
  const CL_Long day = IsValid() ? ValidDay(date.year + years, date.month, date.day) : 0;
  return _Set(day) && day > 0;
}

CL_Date CL_Date::NextWeekday(short weekday) const {
  if (!IsValid() || weekday < 1 || weekday > 7) return CL_Date();
  return *this + (weekday - DayOfWeek() + 7) % 7;
}

CL_Date CL_Date::NextWeekday(const char* day_name) const {
  return NextWeekday(DayOfWeek(day_name));
}

CL_Date CL_Date::PreviousWeekday(short weekday) const {
  if (!IsValid() || weekday < 1 || weekday > 7) return CL_Date();
  return *this - (DayOfWeek() - weekday + 7) % 7;
}

CL_Date CL_Date::PreviousWeekday(const char* day_name) const {
  return PreviousWeekday(DayOfWeek(day_name));
}

bool CL_Date::IsBetween(const CL_Date& a, const CL_Date& b) const {
  const auto [low, high] = std::minmax(a._day, b._day);
  return low <= _day && _day <= high;
}

CL_Date& CL_Date::operator=(const CL_Date& other) {
  if (&other != this) _Set(other._day);
  return *this;
}

CL_Date& CL_Date::operator=(const char* text) {
  _Set(_Parse(CL_String(text)));
  return *this;
}

CL_Date& CL_Date::operator=(const CL_String& text) {
  _Set(_Parse(text));
  return *this;
}

CL_Date& CL_Date::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_Date::op=")) return *this;
  if (const CL_Date* d = SameClass(*this, other)) operator=(*d);
  return *this;
}

CL_String CL_Date::PrintString(short form) const {
  if (!IsValid()) return CL_String();
  const Ymd date = FromDayNumber(_day);
  const int year = static_cast<int>(date.year);
  const int month = static_cast<int>(date.month);
  const int day = static_cast<int>(date.day);
  switch (form) {
    case 0:
      return Format("%s %d, %d", MonthName(static_cast<short>(month)), day, year);
    case 1:
      return Format("%02d-%s-%02d", day, ShortMonthName(static_cast<short>(month)), year);
    case 2:
      return Format("%02d/%02d/%02d", month, day, year % 100);
    case 3:
      return Format("%d %s %d", day, MonthName(static_cast<short>(month)), year);
    case 4:
      return Format("%02d/%02d/%02d", day, month, year % 100);
    default:
      return CL_String();
  }
}

CL_String CL_Date::AsString() const {
  return PrintString(2);
}

void CL_Date::FromStream(std::istream& in) {
  _Set(twcl_internal::ReadValueText(
      in, [](int c) { return IsLetterOrDigit(c) || c == '/' || c == '-'; }, &_Parse));
}

CL_Long CL_Date::StorableFormWidth() const {
  return 8;
}

bool CL_Date::ReadFrom(CL_Stream& s) {
  return twcl_internal::ReadLongForm(*this, s, _day, [](CL_Long day) { return day >= 0; });
}

bool CL_Date::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_Date) && s.WriteLong(_day);
}

CL_Long CL_Date::_Parse(const CL_String& text) {
  CL_String fields[4];
  std::int64_t year = 0, month = 0, day = 0;
  if (text.Split(fields, 4, " ,") == 3) {
    fields[0].Capitalize();
    month = MonthNumber(fields[0].AsPtr());
    day = fields[1].AsLong();
    year = fields[2].AsLong();
  } else if (text.Split(fields, 4, "-") == 3) {
    fields[1].Capitalize();
    day = fields[0].AsLong();
    month = MonthNumber(fields[1].AsPtr());
    year = fields[2].AsLong();
  } else if (text.Split(fields, 4, "/") == 3) {
    month = fields[0].AsLong();
    day = fields[1].AsLong();
    year = fields[2].AsLong();
  } else if (text.Size() == 6 && text.NCharIndex("0123456789") < 0) {
    const char* p = text.AsPtr();
    const auto pair = [p](int at) { return (p[at] - '0') * 10 + (p[at + 1] - '0'); };
    if (pair(0) < 13) {
      month = pair(0), day = pair(2), year = pair(4);
    } else {
      year = pair(0), month = pair(2), day = pair(4);
    }
  } else {
    return 0;
  }
  if (year >= 0 && year < 100) year = CenturyOf(year, CurrentYear());
  if (year < 1900) return 0;
  return ValidDay(year, month, day);
}

bool CL_Date::_Set(CL_Long day) {
  if (!PrepareToChange()) return false;
  _day = day;
  Notify();
  return true;
}
