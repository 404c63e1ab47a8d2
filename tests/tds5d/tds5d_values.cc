// Exact conversions between the stored texts and the wire forms of money, numeric and datetime.
#include "tds5d_values.h"

#include <chrono>
#include <cstdio>

namespace tds5d {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ReadInt(std::string_view& s, int minDigits, int maxDigits, int& out) {
  int n = 0;
  out = 0;
  while (!s.empty() && n < maxDigits && s.front() >= '0' && s.front() <= '9') {
    out = out * 10 + (s.front() - '0');
    s.remove_prefix(1);
    ++n;
  }
  return n >= minDigits;
}

bool Eat(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

}  // namespace

std::optional<__int128> ScaledFromText(std::string_view text, int scale) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (Eat(s, '-'))
    negative = true;
  else
    Eat(s, '+');
  Eat(s, '$');
  if (!negative && Eat(s, '-')) negative = true;
  // The digits and where the decimal point falls among them; SQLite writes a small or large
  // real with an exponent ("-1.0e-10"), which only moves the point.
  std::string digits;
  int point = -1;
  for (; !s.empty(); s.remove_prefix(1)) {
    char c = s.front();
    if (c == '.' && point < 0) {
      point = static_cast<int>(digits.size());
      continue;
    }
    if (c < '0' || c > '9') break;
    digits += c;
  }
  if (digits.empty()) return std::nullopt;
  if (point < 0) point = static_cast<int>(digits.size());
  if (!s.empty() && (s.front() == 'e' || s.front() == 'E')) {
    s.remove_prefix(1);
    bool minus = Eat(s, '-');
    if (!minus) Eat(s, '+');
    int exponent = 0;
    if (!ReadInt(s, 1, 4, exponent)) return std::nullopt;
    point += minus ? -exponent : exponent;
  }
  s = Trim(s);
  if (!s.empty()) return std::nullopt;
  const __int128 limit = static_cast<__int128>(10000000000000000000ULL) * 10000000000000000000ULL;
  // Digit k stands at 10^(point - 1 - k); those below 10^-scale only round.
  __int128 value = 0;
  bool roundUp = false;
  const int last = point + scale;  // digits [0, last) are kept
  for (int k = 0; k < last; ++k) {
    value = value * 10 + (k >= 0 && k < static_cast<int>(digits.size()) ? digits[k] - '0' : 0);
    if (value >= limit) return std::nullopt;
  }
  if (last >= 0 && last < static_cast<int>(digits.size()) && digits[last] >= '5') roundUp = true;
  if (roundUp) ++value;
  return negative ? -value : value;
}

std::string TextFromScaled(__int128 value, int scale) {
  bool negative = value < 0;
  unsigned __int128 v = negative ? -static_cast<unsigned __int128>(value) : value;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  return negative ? "-" + digits : digits;
}

int NumericBytes(int precision) {
  static const int kBytes[39] = {1,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,
                                 7,  7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12,
                                 12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
  if (precision < 1) precision = 1;
  if (precision > 38) precision = 38;
  return kBytes[precision];
}

std::optional<Datetime> DatetimeFromText(std::string_view text) {
  std::string_view s = Trim(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int64_t fracTicks = 0;
  std::string_view probe = s;
  int first = 0;
  if (!ReadInt(probe, 1, 8, first)) return std::nullopt;
  size_t firstLen = s.size() - probe.size();
  if (firstLen == 8 && (probe.empty() || probe.front() == ' ')) {  // yyyymmdd
    year = first / 10000;
    month = first / 100 % 100;
    day = first % 100;
    s = probe;
  } else if (firstLen == 4 && Eat(probe, '-')) {
    year = first;
    if (!ReadInt(probe, 1, 2, month) || !Eat(probe, '-') || !ReadInt(probe, 1, 2, day))
      return std::nullopt;
    s = probe;
  } else if (Eat(probe, '/')) {
    month = first;
    if (!ReadInt(probe, 1, 2, day) || !Eat(probe, '/') || !ReadInt(probe, 4, 4, year))
      return std::nullopt;
    s = probe;
  } else {
    return std::nullopt;
  }
  if (!s.empty()) {
    if (!Eat(s, ' ') && !Eat(s, 'T')) return std::nullopt;
    s = Trim(s);
    if (!ReadInt(s, 1, 2, hour) || !Eat(s, ':') || !ReadInt(s, 2, 2, minute)) return std::nullopt;
    if (Eat(s, ':')) {
      if (!ReadInt(s, 2, 2, second)) return std::nullopt;
      if (Eat(s, '.') || Eat(s, ':')) {
        // The fraction in 1/300 seconds, rounded.
        int64_t num = 0, den = 1;
        int n = 0;
        while (!s.empty() && s.front() >= '0' && s.front() <= '9' && n < 9) {
          num = num * 10 + (s.front() - '0');
          den *= 10;
          s.remove_prefix(1);
          ++n;
        }
        if (n == 0) return std::nullopt;
        fracTicks = (num * 300 * 2 + den) / (2 * den);
      }
    }
    s = Trim(s);
    // "2:37:48.08 PM", "2:37PM": twelve o'clock AM is midnight, PM noon.
    if (s.size() == 2 && (s[1] == 'M' || s[1] == 'm') &&
        (s[0] == 'A' || s[0] == 'a' || s[0] == 'P' || s[0] == 'p')) {
      if (hour < 1 || hour > 12) return std::nullopt;
      hour = hour % 12 + (s[0] == 'P' || s[0] == 'p' ? 12 : 0);
      s = {};
    }
    if (!s.empty()) return std::nullopt;
  }
  using namespace std::chrono;
  year_month_day ymd{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                     std::chrono::day(static_cast<unsigned>(day))};
  if (!ymd.ok() || year < 1753 || year > 9999 || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  int32_t days = static_cast<int32_t>(
      (sys_days(ymd) - sys_days(year_month_day{std::chrono::year(1900), January, 1d})).count());
  int64_t ticks = ((hour * 60 + minute) * 60 + second) * 300 + fracTicks;
  if (ticks >= 24 * 3600 * 300) {
    ticks -= 24 * 3600 * 300;
    ++days;
  }
  return Datetime{days, static_cast<int32_t>(ticks)};
}

std::string TextFromDatetime(const Datetime& dt) {
  using namespace std::chrono;
  year_month_day ymd{sys_days(year_month_day{std::chrono::year(1900), January, 1d}) +
                     std::chrono::days(dt.days)};
  int64_t ms = (static_cast<int64_t>(dt.ticks) * 20 + 3) / 6;
  int64_t secs = ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d.%03d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60), static_cast<int>(ms % 1000));
  return buf;
}

}  // namespace tds5d
