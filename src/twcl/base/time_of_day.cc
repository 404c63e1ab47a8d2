// CL_TimeOfDay: seconds since midnight, their written forms and arithmetic around the clock.
#include "twcl/base/time_of_day.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <istream>

#include "twcl/base/class_registry.h"
#include "twcl/base/error.h"
#include "twcl/base/long_value.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/same_class.h"

namespace {

const CL_ClassIdEntry time_of_day_entry(CL_ClassId_TimeOfDay,
                                        []() -> CL_Object* { return new CL_TimeOfDay; });

constexpr std::int64_t kDay = 86400;

CL_Long AroundTheClock(std::int64_t seconds) {
  return static_cast<CL_Long>((seconds % kDay + kDay) % kDay);
}

bool IsDigits(const CL_String& s) {
  return s.Size() > 0 && s.NCharIndex("0123456789") < 0;
}

// The value of a text of digits; long texts saturate instead of wrapping into range.
std::int64_t DigitsValue(const char* p, CL_Long count) {
  std::int64_t value = 0;
  for (CL_Long i = 0; i < count; ++i)
    value = std::min<std::int64_t>(value * 10 + (p[i] - '0'), kDay);
  return value;
}

std::int64_t DigitsValue(const CL_String& s) {
  return DigitsValue(s.AsPtr(), s.Size());
}

bool IsTimeCharacter(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':';
}

using twcl_internal::SameClass;

}  // namespace

CL_TimeOfDay::CL_TimeOfDay() = default;

CL_TimeOfDay::CL_TimeOfDay(CL_Long seconds) : _seconds(AroundTheClock(seconds)) {}

CL_TimeOfDay::CL_TimeOfDay(short hour, short minute, short second) {
  bool valid = true;
  if (hour < 0 || hour > 23) {
    CL_Error::Warning("CL_TimeOfDay constructor: invalid hour %d", hour);
    valid = false;
  }
  if (minute < 0 || minute > 59) {
    CL_Error::Warning("CL_TimeOfDay constructor: invalid minutes %d", minute);
    valid = false;
  }
  if (second < 0 || second > 59) {
    CL_Error::Warning("CL_TimeOfDay constructor: invalid seconds %d", second);
    valid = false;
  }
  _seconds = valid ? hour * 3600 + minute * 60 + second : 0;
}

CL_TimeOfDay::CL_TimeOfDay(const char* text) : CL_TimeOfDay(CL_String(text)) {}

CL_TimeOfDay::CL_TimeOfDay(const CL_String& text) {
  const CL_Long seconds = _Parse(text);
  _seconds = seconds < 0 ? 0 : seconds;
}

CL_TimeOfDay::CL_TimeOfDay(const CL_TimeOfDay& other)
    : CL_OrderedObject(other), _seconds(other._seconds) {}

CL_TimeOfDay::~CL_TimeOfDay() = default;

const char* CL_TimeOfDay::ClassName() const {
  return "CL_TimeOfDay";
}

CL_Long CL_TimeOfDay::ClassId() const {
  return CL_ClassId_TimeOfDay;
}

CL_Object* CL_TimeOfDay::Clone() const {
  return new CL_TimeOfDay(*this);
}

CL_TimeOfDay CL_TimeOfDay::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return CL_TimeOfDay();
  return CL_TimeOfDay(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec % 60);
}

short CL_TimeOfDay::Hour() const {
  return static_cast<short>(_seconds / 3600);
}

short CL_TimeOfDay::Minute() const {
  return static_cast<short>(_seconds / 60 % 60);
}

short CL_TimeOfDay::Second() const {
  return static_cast<short>(_seconds % 60);
}

CL_TimeOfDay CL_TimeOfDay::operator+(CL_Long seconds) const {
  return CL_TimeOfDay(AroundTheClock(std::int64_t{_seconds} + seconds));
}

CL_TimeOfDay& CL_TimeOfDay::operator+=(CL_Long seconds) {
  _Set(AroundTheClock(std::int64_t{_seconds} + seconds));
  return *this;
}

CL_TimeOfDay& CL_TimeOfDay::operator-=(CL_Long seconds) {
  _Set(AroundTheClock(std::int64_t{_seconds} - seconds));
  return *this;
}

CL_TimeOfDay& CL_TimeOfDay::operator=(const CL_TimeOfDay& other) {
  if (&other != this) _Set(other._seconds);
  return *this;
}

CL_TimeOfDay& CL_TimeOfDay::operator=(const char* text) {
  const CL_Long seconds = _Parse(CL_String(text));
  _Set(seconds < 0 ? 0 : seconds);
  return *this;
}

CL_TimeOfDay& CL_TimeOfDay::operator=(const CL_Object& other) {
  if (!CheckClassId(other, "CL_TimeOfDay::op=")) return *this;
  if (const CL_TimeOfDay* t = SameClass(*this, other)) operator=(*t);
  return *this;
}

CL_String CL_TimeOfDay::PrintString(short form) const {
  const int hour = Hour(), minute = Minute(), second = Second();
  CL_String text;
  if (form == 1)
    text.AssignWithFormat("%02d:%02d:%02d", hour, minute, second);
  else if (hour < 12)
    text.AssignWithFormat("%d:%02d am", hour, minute);
  else
    text.AssignWithFormat("%d:%02d pm", hour == 12 ? 12 : hour - 12, minute);
  return text;
}

CL_String CL_TimeOfDay::AsString() const {
  return PrintString(1);
}

void CL_TimeOfDay::FromStream(std::istream& in) {
  // Midnight parses to 0, which counts as a failure here like any text that does not parse.
  _Set(twcl_internal::ReadValueText(in, IsTimeCharacter, &_Parse));
}

CL_Long CL_TimeOfDay::StorableFormWidth() const {
  return 8;
}

bool CL_TimeOfDay::ReadFrom(CL_Stream& s) {
  return twcl_internal::ReadLongForm(
      *this, s, _seconds, [](CL_Long seconds) { return seconds >= 0 && seconds < kDay; });
}

bool CL_TimeOfDay::WriteTo(CL_Stream& s) const {
  return s.WriteLong(CL_ClassId_TimeOfDay) && s.WriteLong(_seconds);
}

CL_Long CL_TimeOfDay::_Parse(const CL_String& text) {
  CL_String fields[4];
  std::int64_t hour = 0, minute = 0, second = 0;
  const CL_Long colon_fields = text.Split(fields, 4, ":");
  if ((colon_fields == 2 || colon_fields == 3) && IsDigits(fields[0]) && IsDigits(fields[1]) &&
      (colon_fields == 2 || IsDigits(fields[2]))) {
    // Only numbers make this form: "3:15 pm" is left to the next rule.
    hour = DigitsValue(fields[0]);
    minute = DigitsValue(fields[1]);
    second = colon_fields == 3 ? DigitsValue(fields[2]) : 0;
  } else if (text.Split(fields, 4, ": ") == 3) {
    // A 12-hour clock: 12 am is midnight and 12 pm noon; 0 am is read too, as it is printed.
    const bool pm = fields[2] == "pm";
    if (!pm && fields[2] != "am") return -1;
    hour = fields[0].AsLong();
    minute = fields[1].AsLong();
    if (hour < (pm ? 1 : 0) || hour > 12) return -1;
    hour = hour % 12 + (pm ? 12 : 0);
  } else if (IsDigits(text) && (text.Size() == 4 || text.Size() == 6)) {
    hour = DigitsValue(text.AsPtr(), 2);
    minute = DigitsValue(text.AsPtr() + 2, 2);
    second = text.Size() == 6 ? DigitsValue(text.AsPtr() + 4, 2) : 0;
  } else {
    return -1;
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return -1;
  return static_cast<CL_Long>(hour * 3600 + minute * 60 + second);
}

bool CL_TimeOfDay::_Set(CL_Long seconds) {
  if (!PrepareToChange()) return false;
  _seconds = seconds;
  Notify();
  return true;
}
