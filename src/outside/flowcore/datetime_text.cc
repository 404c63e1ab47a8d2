// Datetimes to and from text in the international formats of the platform's record (date
// order, separators, 12- or 24-hour clock, AM/PM texts), and from ISO 8601 text.
#include "tw/datetime_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "datetime.h"
#include "flowcore.h"
#include "tw/guard.h"
#include "value_text.h"

namespace twcore {
namespace {

tw::DatetimeIntl TextIntl(const Intl& intl) {
  tw::DatetimeIntl t;
  t.order = intl.format1 == 3   ? tw::DatetimeIntl::Order::ymd
            : intl.format1 == 2 ? tw::DatetimeIntl::Order::dmy
                                : tw::DatetimeIntl::Order::mdy;
  t.clock24 = intl.format2 == 1;
  t.am = intl.am;
  t.pm = intl.pm;
  t.decimal = intl.decimal;
  t.date = intl.date;
  t.time = intl.time;
  return t;
}

// The texts of the platform's record are short: a datetime always fits
// TWMAXLEN_DATETIME_TEXT, and the bound only guards the buffer.
size_t FormatDatetime(const DT& dt, const Intl& intl, char* out) {
  tw::DatetimeParts p;
  p.date_null = dt.date_null;
  p.time_null = dt.time_null;
  if (!dt.date_null) {
    const tw::CivilDate c = tw::civil_from_julian(dt.julian);
    p.year = c.year;
    p.month = c.month;
    p.day = c.day;
  }
  p.ticks = dt.ticks;
  size_t n = 0;
  tw::format_datetime_text(p, TextIntl(intl), [&](std::string_view piece) {
    const size_t k = std::min(piece.size(), size_t{TWMAXLEN_DATETIME_TEXT} - n);
    std::memcpy(out + n, piece.data(), k);
    n += k;
  });
  return n;
}

[[nodiscard]] uint32_t ParseDatetime(std::string_view raw, const Intl& intl, DT* out) {
  tw::DatetimeParts p;
  if (!tw::parse_datetime_text(TrimText(raw), TextIntl(intl), &p)) return TWFAIL_INVALID_DATETIME;
  DT dt;
  if (!p.date_null) {
    dt.date_null = false;
    dt.julian = tw::julian_from_civil(p.year, p.month, p.day);
  }
  if (!p.time_null) {
    dt.time_null = false;
    dt.ticks = p.ticks;
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
