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
  const __int128 limit = static_cast<__int128>(10000000000000000000ULL) * 10000000000000000000ULL;
  __int128 value = 0;
  int decimals = 0;
  bool dot = false, roundUp = false, any = false;
  for (; !s.empty(); s.remove_prefix(1)) {
    char c = s.front();
    if (c == '.' && !dot) {
      dot = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any = true;
    if (dot && decimals >= scale) {
      // Past the scale only the first digit counts, for the rounding.
      if (decimals == scale && c >= '5') roundUp = true;
      ++decimals;
      continue;
    }
    value = value * 10 + (c - '0');
    if (dot) ++decimals;
    if (value >= limit) return std::nullopt;
  }
  s = Trim(s);
  if (!any || !s.empty()) return std::nullopt;
  for (int i = decimals < scale ? decimals : scale; i < scale; ++i) {
    value *= 10;
    if (value >= limit) return std::nullopt;
  }
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
