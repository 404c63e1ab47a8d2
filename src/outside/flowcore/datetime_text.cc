// Datetimes to and from text in the international formats of the platform's record (date
// order, separators, 12- or 24-hour clock, AM/PM texts), and from ISO 8601 text.
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "datetime.h"
#include "flowcore.h"
#include "tw/guard.h"
#include "value_text.h"

namespace twcore {
namespace {

char* PutNumber(char* p, int64_t v, int width) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  for (int pad = width - static_cast<int>(end - digits); pad > 0; --pad) *p++ = '0';
  for (char* q = digits; q < end; ++q) *p++ = *q;
  return p;
}

char* PutText(char* p, std::string_view s) {
  for (char c : s) *p++ = c;
  return p;
}

// At most 5 + 2 + 2 digits, two 5-byte separators, a blank, 8 digits, two separators, ".hh",
// a blank and a 5-byte AM/PM text: well within TWMAXLEN_DATETIME_TEXT.
size_t FormatDatetime(const DT& dt, const Intl& intl, char* out) {
  char* p = out;
  if (!dt.date_null) {
    Civil c = CivilFromJulian(dt.julian);
    std::string_view sep = intl.date.empty() ? std::string_view("/") : intl.date;
    int64_t first = c.month;
    int64_t second = c.day;
    int64_t third = c.year;
    int wf = 2;
    int wt = 4;
    if (intl.format1 == 2) {
      first = c.day;
      second = c.month;
    } else if (intl.format1 == 3) {
      first = c.year;
      second = c.month;
      third = c.day;
      wf = 4;
      wt = 2;
    }
    p = PutNumber(p, first, wf);
    p = PutText(p, sep);
    p = PutNumber(p, second, 2);
    p = PutText(p, sep);
    p = PutNumber(p, third, wt);
  }
  if (!dt.time_null) {
    if (!dt.date_null) *p++ = ' ';
    std::string_view sep = intl.time.empty() ? std::string_view(":") : intl.time;
    int64_t hour = dt.ticks / kTicksPerHour;
    const bool twelve = intl.format2 != 1;
    const bool pm = hour >= 12;
    if (twelve) hour = hour % 12 == 0 ? 12 : hour % 12;
    p = PutNumber(p, hour, 2);
    p = PutText(p, sep);
    p = PutNumber(p, dt.ticks / 6000 % 60, 2);
    p = PutText(p, sep);
    p = PutNumber(p, dt.ticks / 100 % 60, 2);
    if (dt.ticks % 100 != 0) {
      *p++ = '.';
      p = PutNumber(p, dt.ticks % 100, 2);
    }
    if (twelve) {
      *p++ = ' ';
      std::string_view mark = pm ? intl.pm : intl.am;
      if (mark.empty()) mark = pm ? "PM" : "AM";
      p = PutText(p, mark);
    }
  }
  return static_cast<size_t>(p - out);
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : t_(text) {}
  bool end() const { return pos_ >= t_.size(); }
  size_t pos() const { return pos_; }
  void reset(size_t pos) { pos_ = pos; }
  bool at_digit() const { return !end() && t_[pos_] >= '0' && t_[pos_] <= '9'; }
  // Reads a run of digits; answers how many (the value stops growing past 9 digits).
  int number(int64_t* value) {
    int n = 0;
    int64_t v = 0;
    while (at_digit()) {
      if (n < 9) v = v * 10 + (t_[pos_] - '0');
      ++n;
      ++pos_;
    }
    *value = v;
    return n;
  }
  // Reads a run of fraction digits: the first two give hundredths, the rest are dropped.
  int hundredths(int64_t* value) {
    int n = 0;
    int64_t v = 0;
    while (at_digit()) {
      if (n < 2) v = v * 10 + (t_[pos_] - '0');
      ++n;
      ++pos_;
    }
    *value = n == 1 ? v * 10 : v;
    return n;
  }
  int blanks() {
    int n = 0;
    while (!end() && IsBlank(t_[pos_])) ++pos_, ++n;
    return n;
  }
  bool take(std::string_view s) {
    if (s.empty() || t_.size() - pos_ < s.size() || t_.compare(pos_, s.size(), s) != 0)
      return false;
    pos_ += s.size();
    return true;
  }
  bool take_nocase(std::string_view s) {
    if (s.empty() || t_.size() - pos_ < s.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
      if (Lower(t_[pos_ + i]) != Lower(s[i])) return false;
    pos_ += s.size();
    return true;
  }
  // The separator that comes next, one of the given, or an empty view.
  std::string_view take_any(std::initializer_list<std::string_view> seps) {
    for (std::string_view s : seps)
      if (take(s)) return s;
    return {};
  }

 private:
  static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
  std::string_view t_;
  size_t pos_ = 0;
};

enum class Parsed { absent, ok, bad };

int64_t WindowYear(int64_t year, int digits) {
  if (digits > 2) return year;
  return year < 50 ? 2000 + year : 1900 + year;
}

// "a sep b sep c" with one separator used twice: the intl date separator or "/", "-", ".".
// absent when the text does not begin that way (it may be a time).
Parsed ParseDate(Cursor& c, const Intl& intl, DT* dt) {
  const size_t start = c.pos();
  int64_t n[3];
  int len[3];
  len[0] = c.number(&n[0]);
  if (len[0] == 0) return Parsed::absent;
  std::string_view sep = c.take_any({intl.date, "/", "-", "."});
  if (sep.empty() || (len[1] = c.number(&n[1])) == 0 || !c.take(sep)) {
    c.reset(start);
    return Parsed::absent;
  }
  len[2] = c.number(&n[2]);
  if (len[2] == 0) return Parsed::bad;
  int64_t y = 0;
  int64_t m = 0;
  int64_t d = 0;
  // A long first number is a year whatever the record's order (ISO text among them).
  if (len[0] > 2 || intl.format1 == 3) {
    y = WindowYear(n[0], len[0]);
    m = n[1];
    d = n[2];
    if (len[1] > 2 || len[2] > 2) return Parsed::bad;
  } else {
    if (len[1] > 2 || len[2] > 5) return Parsed::bad;
    y = WindowYear(n[2], len[2]);
    m = intl.format1 == 2 ? n[1] : n[0];
    d = intl.format1 == 2 ? n[0] : n[1];
  }
  if (len[0] > 5 || y < TWMIN_DATETIME_YEAR || y > TWMAX_DATETIME_YEAR || m < 1 || m > 12 ||
      d < 1 || d > DaysInMonth(y, static_cast<int>(m)))
    return Parsed::bad;
  dt->date_null = false;
  dt->julian = JulianFromCivil(y, static_cast<int>(m), static_cast<int>(d));
  return Parsed::ok;
}

// "h sep mm [sep ss [.ff]] [AM|PM]" with the intl time separator or ":".
Parsed ParseTime(Cursor& c, const Intl& intl, DT* dt) {
  int64_t h = 0;
  int64_t mi = 0;
  int64_t s = 0;
  int64_t hundredths = 0;
  int len = c.number(&h);
  if (len == 0 || len > 2) return Parsed::bad;
  std::string_view sep = c.take_any({intl.time, ":"});
  if (sep.empty()) return Parsed::bad;
  len = c.number(&mi);
  if (len == 0 || len > 2) return Parsed::bad;
  if (c.take(sep)) {
    len = c.number(&s);
    if (len == 0 || len > 2) return Parsed::bad;
    if (!c.take_any({".", intl.decimal}).empty()) {
      len = c.hundredths(&hundredths);
      if (len == 0) return Parsed::bad;
    }
  }
  const size_t before_mark = c.pos();
  c.blanks();
  bool am = false;
  bool pm = false;
  if (c.take_nocase(intl.am) || c.take_nocase("AM"))
    am = true;
  else if (c.take_nocase(intl.pm) || c.take_nocase("PM"))
    pm = true;
  else
    c.reset(before_mark);
  if (am || pm) {
    if (h > 12) return Parsed::bad;
    if (pm && h < 12) h += 12;
    if (am && h == 12) h = 0;
  }
  if (h > 23 || mi > 59 || s > 59) return Parsed::bad;
  dt->time_null = false;
  dt->ticks = h * kTicksPerHour + mi * 6000 + s * 100 + hundredths;
  return Parsed::ok;
}

}  // namespace
}  // namespace twcore

namespace twcore {
namespace {

uint32_t ParseDatetime(std::string_view raw, const Intl& intl, DT* out) {
  Cursor c(TrimText(raw));
  DT dt;
  if (!c.end()) {
    Parsed date = ParseDate(c, intl, &dt);
    if (date == Parsed::bad) return TWFAIL_INVALID_DATETIME;
    bool want_time = date == Parsed::absent;
    if (date == Parsed::ok && !c.end()) {
      // Date and time are parted by blanks, or by "T" in ISO text.
      if (c.blanks() == 0 && !(c.take_nocase("T") && c.at_digit())) return TWFAIL_INVALID_DATETIME;
      want_time = !c.end();
    }
    if (want_time && ParseTime(c, intl, &dt) != Parsed::ok) return TWFAIL_INVALID_DATETIME;
    if (!c.end()) return TWFAIL_INVALID_DATETIME;
  }
  ZoneDst z = LocalFor(dt);
  dt.zone = z.zone;
  dt.dst = z.dst;
  *out = dt;
  return TWSUCCESS;
}

}  // namespace
}  // namespace twcore

extern "C" {

TW_API uint32_t TWDatetimeFromStream(TWDatetime* value, const TWStream* stream) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    twcore::Source src;
    if (uint32_t st = src.Open(stream)) return st;
    if (src.kind() == twcore::Source::Kind::number) return TWFAIL_INVALID_CONVERT;
    if (src.kind() == twcore::Source::Kind::datetime) {
      twcore::DT dt;
      if (uint32_t st = twcore::Decode(src.datetime(), &dt)) return st;
      *value = src.datetime();
      return TWSUCCESS;
    }
    twcore::DT dt;
    if (uint32_t st = twcore::ParseDatetime(src.text(), twcore::CurrentIntl(), &dt)) return st;
    *value = twcore::Encode(dt);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWStreamFromDatetime(TWStream* stream, const TWDatetime* value, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    twcore::DT dt;
    if (uint32_t st = twcore::Decode(*value, &dt)) return st;
    char buf[TWMAXLEN_DATETIME_TEXT];
    size_t n = twcore::FormatDatetime(dt, twcore::CurrentIntl(), buf);
    return twcore::WriteText(stream, format, std::string_view(buf, n), {.datetime = value});
  });
}

}  // extern "C"
