// Date reading and writing by FORMAT for the text-file connector.
#include "dates.h"

#include <cstdlib>

#include "numbers.h"
#include "tw/calendar.h"
#include "text_util.h"

namespace flatrec {

template <size_t N>
void DateNames::Split(std::string_view text, std::array<std::string, N>* names) {
  for (std::string& n : *names) n.clear();
  size_t i = 0;
  for (size_t k = 0; k < N; ++k) {
    size_t comma = text.find(',', i);
    std::string_view piece =
        text.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
    (*names)[k] = Squeeze(piece);
    if (comma == std::string_view::npos) break;
    i = comma + 1;
  }
}
template void DateNames::Split<7>(std::string_view, std::array<std::string, 7>*);
template void DateNames::Split<12>(std::string_view, std::array<std::string, 12>*);

namespace {

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

struct Digits {
  int32_t value = 0;  // small: the parts are zeroed for every value read
  bool any = false;
  void Add(char c) {
    // Far beyond any date part: keeps growing values bounded, still impossible.
    if (value < 100000000) value = value * 10 + (c - '0');
    any = true;
  }
};

bool IsAmPm(char c) {
  return c == 'a' || c == 'A' || c == 'p' || c == 'P';
}

bool PrefixNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

int DayOfYear(int year, int month, int day) {
  static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0;
  return kBefore[month - 1] + day + (month > 2 && IsLeap(year) ? 1 : 0);
}

DateFormat CompileDateFormat(std::string_view format) {
  DateFormat compiled;
  compiled.text.assign(format);
  compiled.roles.reserve(format.size());
  for (char f : format) {
    DateFormat::Role role = DateFormat::kSkip;
    switch (f) {
      case 'Y':
        role = DateFormat::kBigYear;
        break;
      case 'y':
        role = DateFormat::kSmallYear;
        break;
      case 'M':
        role = DateFormat::kMonth;
        break;
      case 'D':
        role = DateFormat::kDay;
        break;
      case 'J':
        role = DateFormat::kDayOfYear;
        break;
      case 'h':
        role = DateFormat::kHour;
        break;
      case 'm':
        role = DateFormat::kMinute;
        break;
      case 's':
        role = DateFormat::kSecond;
        break;
      case 'N':
        role = DateFormat::kMonthName;
        break;
      case 'A':
      case 'a':
      case 'P':
      case 'p':
        role = DateFormat::kAmPm;
        break;
      default:
        break;
    }
    if (role == DateFormat::kHour || role == DateFormat::kMinute || role == DateFormat::kSecond)
      compiled.timePosition = true;
    compiled.roles.push_back(role);
  }
  size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    size_t j = i;
    DateFormat::Run run;
    if (IsAmPm(c)) {
      while (j < format.size() && IsAmPm(format[j])) ++j;
      run.letter = 'A';
    } else {
      while (j < format.size() && format[j] == c) ++j;
      run.letter = c;
    }
    run.length = static_cast<uint32_t>(j - i);
    if ((c == 'N' || c == 'W') && j < format.size() && format[j] == '*') {
      run.whole = true;
      ++j;
    }
    compiled.runs.push_back(run);
    i = j;
  }
  return compiled;
}

void LocalZoneCache::CheckRule() {
  const char* tz = std::getenv("TZ");
  if (checked_ && (tz != nullptr) == ruleSet_ && (tz == nullptr || rule_ == tz)) return;
  checked_ = true;
  // Each table is laid out again when first used under this rule.
  days_.clear();
  utcDays_.clear();
  ruleSet_ = tz != nullptr;
  rule_ = tz != nullptr ? tz : "";
}

uint32_t LocalZoneCache::Lookup(int32_t year, int32_t month, int32_t day, Day** entry) {
  *entry = nullptr;
  if (!checked_) CheckRule();
  if (days_.empty()) days_.assign(kDays, Day{});
  if (year < TWMIN_DATETIME_YEAR || year > TWMAX_DATETIME_YEAR || month < 1 || month > 12 ||
      day < 1 || day > 31)
    return TWSUCCESS;
  const int64_t julian = tw::julian_from_civil(year, month, day);
  Day& d = days_[static_cast<size_t>(julian) & (kDays - 1)];
  if (d.julian != static_cast<int32_t>(julian)) {
    // The offsets of the day's first and last wall clock.
    TWDatetimeParts edge{year, month, day, 0, 0, 0, 0, 0, 0, 0};
    TWDatetime first{}, last{};
    if (uint32_t st = TWDatetimeSetParts(&first, &edge, TWPARTSF_LOCAL)) return st;
    edge.hour = 23;
    edge.minute = 59;
    edge.second = 59;
    edge.hundredth = 99;
    if (uint32_t st = TWDatetimeSetParts(&last, &edge, TWPARTSF_LOCAL)) return st;
    TWDatetimeParts a{}, b{};
    if (uint32_t st = TWDatetimeGetParts(&first, 0, &a)) return st;
    if (uint32_t st = TWDatetimeGetParts(&last, 0, &b)) return st;
    d.julian = static_cast<int32_t>(julian);
    d.mixed = a.zone != b.zone || a.daylight != b.daylight;
    d.zone = static_cast<int8_t>(a.zone);
    d.daylight = static_cast<int8_t>(a.daylight);
  }
  *entry = &d;
  return TWSUCCESS;
}

LocalZoneCache::Day* LocalZoneCache::LookupInstant(int64_t julian) {
  if (!checked_) CheckRule();
  if (utcDays_.empty()) utcDays_.assign(kDays, Day{});
  Day& d = utcDays_[static_cast<size_t>(julian) & (kDays - 1)];
  if (d.julian != static_cast<int32_t>(julian)) {
    // The engine's local reading of the day's first and last second of UTC.
    const uint32_t date = static_cast<uint32_t>(julian);
    const TWDatetime first{0, date}, last{8639999, date};
    TWDatetimeParts a{}, b{};
    if (TWDatetimeGetParts(&first, TWPARTSF_LOCAL, &a) != TWSUCCESS ||
        TWDatetimeGetParts(&last, TWPARTSF_LOCAL, &b) != TWSUCCESS)
      return nullptr;
    d.julian = static_cast<int32_t>(julian);
    d.mixed = a.zone != b.zone || a.daylight != b.daylight;
    d.zone = static_cast<int8_t>(a.zone);
    d.daylight = static_cast<int8_t>(a.daylight);
  }
  return &d;
}

uint32_t LocalZoneCache::GetLocal(const TWDatetime& value, TWDatetimeParts* parts) {
  constexpr int64_t kFirstDay = tw::julian_from_civil(TWMIN_DATETIME_YEAR, 1, 1);
  constexpr int64_t kLastDay = tw::julian_from_civil(TWMAX_DATETIME_YEAR, 12, 31);
  constexpr int64_t kTicksPerDay = 8640000, kTicksPerHour = 360000;
  const int64_t day = value.date & 0xFFFFFF;
  const int zoneBits = static_cast<int>((value.date >> 24) & 0x7F);
  const int zone = zoneBits >= 64 ? zoneBits - 128 : zoneBits;
  const int dst = static_cast<int>(value.date >> 31);
  if (value.ticks >= kTicksPerDay || day < kFirstDay || day > kLastDay || zone < -12 || zone > 14)
    return LocalParts(value, parts);
  // Hundredths since the day number 0 of UTC.
  const int64_t instant = day * kTicksPerDay + value.ticks - (zone + dst) * kTicksPerHour;
  const int64_t utcDay = tw::floor_div(instant, kTicksPerDay);
  const Day* d = utcDay >= kFirstDay && utcDay <= kLastDay ? LookupInstant(utcDay) : nullptr;
  if (d == nullptr || d->mixed) return TWDatetimeGetParts(&value, TWPARTSF_LOCAL, parts);
  const int64_t wall = instant + (d->zone + d->daylight) * kTicksPerHour;
  const int64_t julian = tw::floor_div(wall, kTicksPerDay);
  // A wall clock beyond the calendar is clamped by the engine, with its status.
  if (julian < kFirstDay || julian > kLastDay)
    return TWDatetimeGetParts(&value, TWPARTSF_LOCAL, parts);
  const int64_t ticks = tw::floor_mod(wall, kTicksPerDay);
  const tw::CivilDate c = tw::civil_from_julian(julian);
  parts->year = static_cast<int32_t>(c.year);
  parts->month = c.month;
  parts->day = c.day;
  parts->weekday = tw::weekday_of(julian);
  parts->hour = static_cast<int32_t>(ticks / kTicksPerHour);
  parts->minute = static_cast<int32_t>(ticks / 6000 % 60);
  parts->second = static_cast<int32_t>(ticks / 100 % 60);
  parts->hundredth = static_cast<int32_t>(ticks % 100);
  parts->daylight = d->daylight;
  parts->zone = d->zone;
  return TWSUCCESS;
}

uint32_t LocalZoneCache::SetLocal(const TWDatetimeParts& parts, TWDatetime* out) {
  const bool noDate = parts.year == -1 || parts.month == -1 || parts.day == -1;
  if (!noDate) {
    Day* day = nullptr;
    if (Lookup(parts.year, parts.month, parts.day, &day) == TWSUCCESS && day != nullptr &&
        !day->mixed) {
      // Encoded here as the engine would (layout of TWDatetime); parts it would refuse go to
      // it for its status.
      const bool noTime =
          parts.hour == -1 || parts.minute == -1 || parts.second == -1 || parts.hundredth == -1;
      const bool timeValid =
          noTime || (parts.hour >= 0 && parts.hour <= 23 && parts.minute >= 0 &&
                     parts.minute <= 59 && parts.second >= 0 && parts.second <= 59 &&
                     parts.hundredth >= 0 && parts.hundredth <= 99);
      if (parts.day <= tw::days_in_month(parts.year, parts.month) && timeValid) {
        out->ticks = noTime ? TWDTNULL_TIME
                            : static_cast<uint32_t>(parts.hour * 360000 + parts.minute * 6000 +
                                                    parts.second * 100 + parts.hundredth);
        out->date = static_cast<uint32_t>(day->julian) |
                    ((static_cast<uint32_t>(day->zone) & 0x7F) << 24) |
                    (day->daylight != 0 ? 0x80000000u : 0u);
        return TWSUCCESS;
      }
      TWDatetimeParts zoned = parts;
      zoned.zone = day->zone;
      zoned.daylight = day->daylight;
      return TWDatetimeSetParts(out, &zoned, 0);
    }
  }
  return TWDatetimeSetParts(out, &parts, TWPARTSF_LOCAL);
}

uint32_t ParseDate(std::string_view value, std::string_view format, const DateNames& names,
                   TWDatetime* out) {
  return ParseDate(value, CompileDateFormat(format), names, out, nullptr);
}

uint32_t ParseDate(std::string_view value, const DateFormat& compiled, const DateNames& names,
                   TWDatetime* out, LocalZoneCache* zones) {
  const std::string_view format = compiled.text;
  size_t lead = 0;
  while (lead < value.size() && (value[lead] == ' ' || value[lead] == '\t')) ++lead;
  if (lead < format.size()) value.remove_prefix(lead);

  // Indexed by role, up to kSecond.
  Digits digits[DateFormat::kSecond + 1];
  Digits& bigYear = digits[DateFormat::kBigYear];
  Digits& smallYear = digits[DateFormat::kSmallYear];
  Digits& month = digits[DateFormat::kMonth];
  Digits& day = digits[DateFormat::kDay];
  Digits& dayOfYear = digits[DateFormat::kDayOfYear];
  Digits& hour = digits[DateFormat::kHour];
  Digits& minute = digits[DateFormat::kMinute];
  Digits& second = digits[DateFormat::kSecond];
  std::string monthLetters, ampm;
  const bool timePosition = compiled.timePosition;

  size_t fi = 0, vi = 0;
  while (fi < format.size() && vi < value.size()) {
    const DateFormat::Role role = compiled.roles[fi];
    const char c = value[vi];
    if (role <= DateFormat::kSecond) {
      if (IsDigit(c)) {
        digits[role].Add(c);
      } else if (c != ' ') {
        // The run of this letter ends here; the character is left for what follows.
        const char f = format[fi];
        while (fi < format.size() && format[fi] == f) ++fi;
        continue;
      }
    } else if (role == DateFormat::kMonthName) {
      if (c != ' ') monthLetters.push_back(c);
    } else if (role == DateFormat::kAmPm) {
      ampm.push_back(c);
    }
    ++fi;
    ++vi;
  }

  TWDatetimeParts parts{-1, -1, -1, -1, -1, -1, -1, -1, 0, 0};
  const bool haveYear = bigYear.any || smallYear.any;
  if (bigYear.any)
    parts.year = static_cast<int32_t>(bigYear.value);
  else if (smallYear.any)
    parts.year = static_cast<int32_t>(smallYear.value + 1900);
  if (dayOfYear.any) {
    parts.month = 1;
    parts.day = 1;
  } else {
    if (!monthLetters.empty()) {
      for (size_t i = 0; i < names.months.size(); ++i) {
        const std::string& name = names.months[i];
        if (name.empty()) continue;
        const size_t k = name.size() < monthLetters.size() ? name.size() : monthLetters.size();
        if (EqualsNoCase(std::string_view(name).substr(0, k),
                         std::string_view(monthLetters).substr(0, k))) {
          parts.month = static_cast<int32_t>(i + 1);
          break;
        }
      }
    } else if (month.any) {
      parts.month = static_cast<int32_t>(month.value);
    }
    if (day.any)
      parts.day = static_cast<int32_t>(day.value);
    else if (haveYear && parts.month != -1)
      parts.day = 1;
  }
  if (timePosition) {
    parts.hour = static_cast<int32_t>(hour.value);
    parts.minute = static_cast<int32_t>(minute.value);
    parts.second = static_cast<int32_t>(second.value);
    parts.hundredth = 0;
    if (!ampm.empty()) {
      if (!names.pm.empty() && PrefixNoCase(ampm, names.pm)) {
        if (parts.hour < 12) parts.hour += 12;
      } else if (!names.am.empty() && PrefixNoCase(ampm, names.am)) {
        if (parts.hour == 12) parts.hour = 0;
      }
    }
  }
  TWDatetime result{};
  if (uint32_t st = zones != nullptr ? zones->SetLocal(parts, &result)
                                     : TWDatetimeSetParts(&result, &parts, TWPARTSF_LOCAL))
    return st;
  if (dayOfYear.any && haveYear && dayOfYear.value > 1) {
    TWDatetimeParts adjust{};
    adjust.day = static_cast<int32_t>(dayOfYear.value - 1);
    if (uint32_t st = TWDatetimeAdjust(&result, &adjust)) return st;
  }
  *out = result;
  return TWSUCCESS;
}

uint32_t LocalParts(const TWDatetime& value, TWDatetimeParts* parts) {
  constexpr uint32_t kNullDate = 0xFFFFFF;
  constexpr int64_t kFirstDay = tw::julian_from_civil(TWMIN_DATETIME_YEAR, 1, 1);
  constexpr int64_t kLastDay = tw::julian_from_civil(TWMAX_DATETIME_YEAR, 12, 31);
  const bool cleared = value.ticks == 0 && value.date == 0;
  const uint32_t day = value.date & kNullDate;
  const bool noDate = cleared || day == kNullDate;
  const bool noTime = cleared || value.ticks == TWDTNULL_TIME;
  const int zoneBits = static_cast<int>((value.date >> 24) & 0x7F);
  const int zone = zoneBits >= 64 ? zoneBits - 128 : zoneBits;
  if ((!noDate && !noTime) || (!noDate && (day < kFirstDay || day > kLastDay)) ||
      (!noTime && value.ticks >= 8640000) || zone < -12 || zone > 14)
    return TWDatetimeGetParts(&value, TWPARTSF_LOCAL, parts);
  TWDatetimeParts p{-1, -1, -1, -1, -1, -1, -1, -1, 0, 0};
  if (!noDate) {
    const tw::CivilDate c = tw::civil_from_julian(day);
    p.year = static_cast<int32_t>(c.year);
    p.month = c.month;
    p.day = c.day;
    p.weekday = tw::weekday_of(day);
  }
  if (!noTime) {
    const uint32_t t = value.ticks;
    p.hour = static_cast<int32_t>(t / 360000);
    p.minute = static_cast<int32_t>(t / 6000 % 60);
    p.second = static_cast<int32_t>(t / 100 % 60);
    p.hundredth = static_cast<int32_t>(t % 100);
  }
  if (!cleared) {
    p.daylight = static_cast<int32_t>(value.date >> 31);
    p.zone = zone;
  }
  *parts = p;
  return TWSUCCESS;
}

uint32_t FormatDate(const TWDatetime& value, std::string_view format, const DateNames& names,
                    std::string* out) {
  return FormatDate(value, CompileDateFormat(format), names, out);
}

uint32_t FormatDate(const TWDatetime& value, const DateFormat& format, const DateNames& names,
                    std::string* out, LocalZoneCache* zones) {
  TWDatetimeParts p{};
  if (uint32_t st = zones != nullptr ? zones->GetLocal(value, &p) : LocalParts(value, &p))
    return st;
  out->clear();
  for (const DateFormat::Run& run : format.runs) {
    switch (run.letter) {
      case 'A':
        out->append(p.hour >= 12 && p.hour <= 23 ? names.pm : names.am);
        break;
      case 'M':
        AppendPadded(p.month, run.length, out);
        break;
      case 'D':
        AppendPadded(p.day, run.length, out);
        break;
      case 'J':
        AppendPadded(DayOfYear(p.year, p.month, p.day), run.length, out);
        break;
      case 'Y':
        AppendPadded(p.year, run.length, out);
        break;
      case 'y':
        AppendPadded(p.year - 1900, run.length, out);
        break;
      case 'h':
        AppendPadded(p.hour, run.length, out);
        break;
      case 'm':
        AppendPadded(p.minute, run.length, out);
        break;
      case 's':
        AppendPadded(p.second, run.length, out);
        break;
      case 'N':
      case 'W': {
        const std::string* name = nullptr;
        if (run.letter == 'N' && p.month >= 1 && p.month <= 12) name = &names.months[p.month - 1];
        if (run.letter == 'W' && p.weekday >= 1 && p.weekday <= 7)
          name = &names.days[p.weekday - 1];
        if (name != nullptr)
          out->append(run.whole ? std::string_view(*name)
                                : std::string_view(*name).substr(0, run.length));
        break;
      }
      default:
        for (uint32_t k = 0; k < run.length; ++k) out->push_back(run.letter);
        break;
    }
  }
  return TWSUCCESS;
}

}  // namespace flatrec
