// Date-times as text in the international formats (date order, separators, 12- or 24-hour
// clock, AM/PM texts) and ISO 8601 text: the one reader and writer both stand-ins share. Each
// caller maps its own settings record to DatetimeIntl and the parts to its own value record.
// Header-only: flowsys hides its symbols, and callers inline the writer into their buffers.
#ifndef TW_PLATFORM_TW_DATETIME_TEXT_H_
#define TW_PLATFORM_TW_DATETIME_TEXT_H_

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "tw/calendar.h"

namespace tw {

// The settings the text follows; the views stay owned by the caller's record. An empty
// separator or AM/PM text means the default one ("/", ":", "AM", "PM").
struct DatetimeIntl {
  enum class Order { mdy, dmy, ymd };
  Order order = Order::mdy;
  bool clock24 = false;
  std::string_view am, pm, decimal, date, time;
};

// A date-time taken apart: a proleptic Gregorian date (years 1 to 32767) and hundredths of a
// second since midnight; either half may be null.
struct DatetimeParts {
  bool date_null = true;
  bool time_null = true;
  int64_t year = 0;
  int month = 0;
  int day = 0;
  int64_t ticks = 0;
};

namespace datetime_text_detail {

constexpr int64_t kTicksPerHour = 360000;
constexpr int64_t kMinYear = 1;
constexpr int64_t kMaxYear = 32767;

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
    while (!end() && (t_[pos_] == ' ' || t_[pos_] == '\t')) ++pos_, ++n;
    return n;
  }
  // An empty s never matches: an unset separator must not pass as found.
  bool take(std::string_view s) {
    if (s.empty() || t_.size() - pos_ < s.size() || t_.compare(pos_, s.size(), s) != 0)
      return false;
    pos_ += s.size();
    return true;
  }
  bool take_nocase(std::string_view s) {
    if (s.empty() || t_.size() - pos_ < s.size()) return false;
    for (size_t i = 0; i < s.size(); ++i)
      if (lower(t_[pos_ + i]) != lower(s[i])) return false;
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
  static char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
  std::string_view t_;
  size_t pos_ = 0;
};

enum class Parsed { absent, ok, bad };

inline int64_t window_year(int64_t year, int digits) {
  if (digits > 2) return year;
  return year < 50 ? 2000 + year : 1900 + year;
}

// "a sep b sep c" with one separator used twice: the date separator or "/", "-", ".".
// absent when the text does not begin that way (it may be a time).
inline Parsed parse_date(Cursor& c, const DatetimeIntl& intl, DatetimeParts* p) {
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
  // A long first number is a year whatever the order (ISO text among them).
  if (len[0] > 2 || intl.order == DatetimeIntl::Order::ymd) {
    if (len[1] > 2 || len[2] > 2) return Parsed::bad;
    y = window_year(n[0], len[0]);
    m = n[1];
    d = n[2];
  } else {
    if (len[1] > 2 || len[2] > 5) return Parsed::bad;
    const bool dmy = intl.order == DatetimeIntl::Order::dmy;
    y = window_year(n[2], len[2]);
    m = dmy ? n[1] : n[0];
    d = dmy ? n[0] : n[1];
  }
  if (len[0] > 5 || y < kMinYear || y > kMaxYear || m < 1 || m > 12 || d < 1 ||
      d > days_in_month(y, static_cast<int>(m)))
    return Parsed::bad;
  p->date_null = false;
  p->year = y;
  p->month = static_cast<int>(m);
  p->day = static_cast<int>(d);
  return Parsed::ok;
}

// "h sep mm [sep ss [.ff]] [AM|PM]" with the time separator or ":".
inline Parsed parse_time(Cursor& c, const DatetimeIntl& intl, DatetimeParts* p) {
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
    if (!c.take_any({".", intl.decimal}).empty() && c.hundredths(&hundredths) == 0)
      return Parsed::bad;
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
  p->time_null = false;
  p->ticks = h * kTicksPerHour + mi * 6000 + s * 100 + hundredths;
  return Parsed::ok;
}

template <class Put>
void put_number(Put& put, int64_t v, int width) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  for (int pad = width - static_cast<int>(end - digits); pad > 0; --pad) put(std::string_view("0"));
  put(std::string_view(digits, static_cast<size_t>(end - digits)));
}

}  // namespace datetime_text_detail

// Reads text already trimmed by the caller: the date in the settings' order (a first number
// of more than two digits is a year, ISO "YYYY-MM-DD"), the time "h:mm[:ss[.ff]]" with an
// optional AM/PM text, either alone, or both parted by blanks or "T". Two-digit years window
// to 1950..2049. Empty text gives both halves null. false: not a date-time; *out untouched.
inline bool parse_datetime_text(std::string_view text, const DatetimeIntl& intl,
                                DatetimeParts* out) {
  using namespace datetime_text_detail;
  Cursor c(text);
  DatetimeParts p;
  if (!c.end()) {
    const Parsed date = parse_date(c, intl, &p);
    if (date == Parsed::bad) return false;
    bool want_time = date == Parsed::absent;
    if (date == Parsed::ok && !c.end()) {
      // Date and time are parted by blanks, or by "T" in ISO text.
      if (c.blanks() == 0 && !(c.take_nocase("T") && c.at_digit())) return false;
      want_time = !c.end();
    }
    if (want_time && parse_time(c, intl, &p) != Parsed::ok) return false;
    if (!c.end()) return false;
  }
  *out = p;
  return true;
}

// Writes the date in the settings' order (2-digit month and day, at least 4-digit year), the
// time "HH:MM:SS" or "hh:MM:SS AM", ".hh" only for non-zero hundredths, one blank between; a
// null half left out. put(std::string_view) appends a piece. The parts must be valid (year
// 1..32767, ticks within a day): at most 5 + 2 + 2 digits, 8 time digits, ".hh", two blanks
// and the four separator and one AM/PM texts.
template <class Put>
void format_datetime_text(const DatetimeParts& p, const DatetimeIntl& intl, Put&& put) {
  using namespace datetime_text_detail;
  if (!p.date_null) {
    const std::string_view sep = intl.date.empty() ? std::string_view("/") : intl.date;
    int64_t first = p.month;
    int64_t second = p.day;
    int64_t third = p.year;
    int wf = 2;
    int wt = 4;
    if (intl.order == DatetimeIntl::Order::dmy) {
      first = p.day;
      second = p.month;
    } else if (intl.order == DatetimeIntl::Order::ymd) {
      first = p.year;
      second = p.month;
      third = p.day;
      wf = 4;
      wt = 2;
    }
    put_number(put, first, wf);
    put(sep);
    put_number(put, second, 2);
    put(sep);
    put_number(put, third, wt);
  }
  if (!p.time_null) {
    if (!p.date_null) put(std::string_view(" "));
    const std::string_view sep = intl.time.empty() ? std::string_view(":") : intl.time;
    int64_t hour = p.ticks / kTicksPerHour;
    const bool pm = hour >= 12;
    if (!intl.clock24) hour = hour % 12 == 0 ? 12 : hour % 12;
    put_number(put, hour, 2);
    put(sep);
    put_number(put, p.ticks / 6000 % 60, 2);
    put(sep);
    put_number(put, p.ticks / 100 % 60, 2);
    if (p.ticks % 100 != 0) {
      put(std::string_view("."));
      put_number(put, p.ticks % 100, 2);
    }
    if (!intl.clock24) {
      std::string_view mark = pm ? intl.pm : intl.am;
      if (mark.empty()) mark = pm ? "PM" : "AM";
      put(std::string_view(" "));
      put(mark);
    }
  }
}

}  // namespace tw

#endif  // TW_PLATFORM_TW_DATETIME_TEXT_H_
