// Integers and doubles to and from text, and the helpers every value family shares for
// text: the international format in force, the number scanner, and stream reading/writing.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "flowcore.h"
#include "platform.h"
#include "tw/coding.h"
#include "tw/guard.h"
#include "value_text.h"

namespace twcore {
namespace {

std::string_view IntlTextView(const TWIntlText& t) {
  return std::string_view(t.text, strnlen(t.text, sizeof t.text));
}

bool IsUtf8Format(uint32_t format) {
  return format == TWSTREAMFMT_NATIVE || format == TWSTREAMFMT_QMBCS || format == TWSTREAMFMT_UTF8;
}

bool StartsWith(std::string_view text, size_t pos, std::string_view what) {
  return !what.empty() && text.size() - pos >= what.size() &&
         text.compare(pos, what.size(), what) == 0;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

Intl CurrentIntl() {
  const TWIntlFormat* f = TWPlatGetIntlFormat();
  if (f == nullptr) return PlainIntl();
  Intl intl;
  intl.am = IntlTextView(f->am);
  intl.pm = IntlTextView(f->pm);
  intl.currency = IntlTextView(f->currency);
  intl.thousands = IntlTextView(f->thousands);
  intl.decimal = IntlTextView(f->decimal);
  intl.date = IntlTextView(f->date);
  intl.time = IntlTextView(f->time);
  intl.format1 = f->format1;
  intl.format2 = f->format2;
  return intl;
}

Intl PlainIntl() {
  Intl intl;
  intl.am = "AM";
  intl.pm = "PM";
  intl.currency = "$";
  intl.thousands = ",";
  intl.decimal = ".";
  intl.date = "/";
  intl.time = ":";
  return intl;
}

std::string_view TrimText(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (e > 0 && (IsBlank(text[e - 1]) || text[e - 1] == '\0')) --e;
  while (b < e && IsBlank(text[b])) ++b;
  return text.substr(b, e - b);
}

bool ScanNumber(std::string_view raw, const Intl& intl, ScanRules rules, Scanned* out) {
  std::string_view text = TrimText(raw);
  Scanned& s = *out;
  s.neg = false;
  s.sticky = false;
  s.count = 0;
  s.exponent = 0;
  size_t pos = 0;
  const size_t n = text.size();
  auto skip_currency = [&] {
    if (rules.currency && StartsWith(text, pos, intl.currency)) {
      pos += intl.currency.size();
      while (pos < n && IsBlank(text[pos])) ++pos;
    }
  };
  skip_currency();
  if (pos < n && (text[pos] == '+' || text[pos] == '-')) {
    s.neg = text[pos] == '-';
    ++pos;
    skip_currency();
  }
  // A thousands separator that is "." or the decimal separator would make "1.5" ambiguous;
  // then only the decimal reading holds.
  std::string_view thousands = intl.thousands;
  if (thousands == "." || thousands == intl.decimal) thousands = {};
  bool any_digit = false;
  bool in_fraction = false;
  while (pos < n) {
    char c = text[pos];
    if (IsDigit(c)) {
      any_digit = true;
      uint8_t d = static_cast<uint8_t>(c - '0');
      if (s.count == 0 && d == 0) {
        if (in_fraction) --s.exponent;
      } else if (s.count < Scanned::kMaxDigits) {
        s.digits[s.count++] = d;
        if (in_fraction) --s.exponent;
      } else {
        if (d != 0) s.sticky = true;
        if (!in_fraction) ++s.exponent;
      }
      ++pos;
      continue;
    }
    if (!in_fraction && pos > 0 && IsDigit(text[pos - 1]) && StartsWith(text, pos, thousands) &&
        pos + thousands.size() < n && IsDigit(text[pos + thousands.size()])) {
      pos += thousands.size();
      continue;
    }
    if (!in_fraction && (c == '.' || StartsWith(text, pos, intl.decimal))) {
      in_fraction = true;
      pos += c == '.' ? 1 : intl.decimal.size();
      continue;
    }
    break;
  }
  if (!any_digit) return false;
  if (pos < n && rules.exponent && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool eneg = false;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) {
      eneg = text[pos] == '-';
      ++pos;
    }
    if (pos >= n || !IsDigit(text[pos])) return false;
    int64_t e = 0;
    // Beyond a million the value is out of every range anyway; stop growing there.
    for (; pos < n && IsDigit(text[pos]); ++pos)
      if (e < 1000000) e = e * 10 + (text[pos] - '0');
    s.exponent += eneg ? -e : e;
  }
  if (pos < n && rules.currency && StartsWith(text, pos, intl.currency))
    pos += intl.currency.size();
  return pos == n;
}

// ---------------------------------------------------------------- reading streams

Source::~Source() {
  if (owns_) TWStreamDataFree(&converted_);
}

uint32_t Source::Open(const TWStream* stream) {
  if (stream == nullptr) return TWFAIL_NULL_BUFFER;
  const uint32_t length = stream->length;
  const auto* bytes = static_cast<const unsigned char*>(stream->data);
  if (length > 0 && bytes == nullptr) return TWFAIL_NULL_BUFFER;
  kind_ = Kind::text;
  text_ = {};
  const uint32_t format = stream->format;
  if (format == 0 || IsUtf8Format(format)) {
    text_ = std::string_view(reinterpret_cast<const char*>(bytes), length);
    return TWSUCCESS;
  }
  if (format == TWSTREAMFMT_UNICODE && length % 2 == 0 && length / 2 <= sizeof narrow_) {
    // Numbers and dates are ASCII: two-byte text of ASCII only is narrowed in place.
    bool ascii = true;
    for (uint32_t i = 0; i < length / 2 && ascii; ++i) {
      uint16_t unit = tw::get_u16(bytes + 2 * i);
      if (unit >= 0x80) ascii = false;
      narrow_[i] = static_cast<char>(unit);
    }
    if (ascii) {
      text_ = std::string_view(narrow_, length / 2);
      return TWSUCCESS;
    }
  }
  if (format == TWSTREAMFMT_TEXT_LIST) {
    tw::Reader r(bytes, length);
    uint16_t count = 0;
    if (!r.u16(&count)) return TWFAIL_INVALID_TEXT_LIST;
    if (count == 0) return TWSUCCESS;
    uint16_t first = 0;
    uint32_t total = 0;
    for (uint16_t i = 0; i < count; ++i) {
      uint16_t len = 0;
      if (!r.u16(&len)) return TWFAIL_INVALID_TEXT_LIST;
      if (i == 0) first = len;
      total += len;
    }
    if (total > r.remaining()) return TWFAIL_INVALID_TEXT_LIST;
    r.bytes(first, &text_);
    return TWSUCCESS;
  }
  if (format == TWSTREAMFMT_NUMBER_LIST || format == TWSTREAMFMT_DATETIME_LIST) {
    const bool numbers = format == TWSTREAMFMT_NUMBER_LIST;
    const uint32_t bad = numbers ? TWFAIL_INVALID_NUMBER_LIST : TWFAIL_INVALID_DATETIME_LIST;
    tw::Reader r(bytes, length);
    uint16_t count = 0;
    uint16_t ranges = 0;
    if (!r.u16(&count) || !r.u16(&ranges)) return bad;
    if (uint64_t{count} * 8 + uint64_t{ranges} * 16 > r.remaining()) return bad;
    if (count == 0) return TWSUCCESS;
    uint64_t word = 0;
    r.u64(&word);
    if (numbers) {
      kind_ = Kind::number;
      std::memcpy(&number_, &word, sizeof number_);
    } else {
      kind_ = Kind::datetime;
      datetime_.ticks = static_cast<uint32_t>(word);
      datetime_.date = static_cast<uint32_t>(word >> 32);
    }
    return TWSUCCESS;
  }
  if (format == TWSTREAMFMT_BLOB) return TWFAIL_INVALID_CONVERT;
  owns_ = true;
  void* data = nullptr;
  uint32_t converted = 0;
  uint32_t st = TWStreamDataConvert(&converted_, stream, 0, TWSTREAMFMT_NATIVE, &data, &converted);
  if (st != TWSUCCESS) return st;
  text_ = std::string_view(static_cast<const char*>(data), data != nullptr ? converted : 0);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- writing streams

[[nodiscard]] uint32_t WriteText(TWStream* stream, uint32_t format, std::string_view text,
                                 ListValue list) {
  if (stream == nullptr) return TWFAIL_NULL_RESULT;
  if (format == 0) return TWFAIL_ZERO_FORMAT;
  if (IsUtf8Format(format))
    return TWStreamDataSet(stream, format, text.data(), static_cast<uint32_t>(text.size()));
  unsigned char block[4 + 512];
  if (format == TWSTREAMFMT_TEXT_LIST) {
    if (text.size() > sizeof block - 4) return TWFAIL_OVERFLOW;
    tw::put_u16(block, 1);
    tw::put_u16(block + 2, static_cast<uint16_t>(text.size()));
    if (!text.empty()) std::memcpy(block + 4, text.data(), text.size());
    return TWStreamDataSet(stream, format, block, static_cast<uint32_t>(4 + text.size()));
  }
  if (format == TWSTREAMFMT_NUMBER_LIST && list.number != nullptr) {
    uint64_t word = 0;
    std::memcpy(&word, list.number, sizeof word);
    tw::put_u16(block, 1);
    tw::put_u16(block + 2, 0);
    tw::put_u64(block + 4, word);
    return TWStreamDataSet(stream, format, block, 12);
  }
  if (format == TWSTREAMFMT_DATETIME_LIST && list.datetime != nullptr) {
    tw::put_u16(block, 1);
    tw::put_u16(block + 2, 0);
    tw::put_u32(block + 4, list.datetime->ticks);
    tw::put_u32(block + 8, list.datetime->date);
    return TWStreamDataSet(stream, format, block, 12);
  }
  if (format & TWSTREAMFMTF_BINARY) return TWFAIL_INVALID_CONVERT;
  TWStream source{0, 0, TWSTREAMFMT_NATIVE, static_cast<uint32_t>(text.size()),
                  const_cast<char*>(text.data())};
  return TWStreamDataConvert(stream, &source, TWCONVERTF_PRESERVE, format, nullptr, nullptr);
}

namespace {

// Every value a 32-bit integer holds, -2^31 included.
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kIntMin = std::numeric_limits<int32_t>::min();

// An integer from scanned text, the fraction dropped; false when beyond the int range (then
// *value is clamped).
bool IntFromScanned(const Scanned& s, int32_t* value) {
  int64_t keep = s.count + s.exponent;  // digits at or above the units
  uint64_t magnitude = 0;
  bool over = false;
  if (keep > 10) {
    over = true;
  } else {
    for (int64_t i = 0; i < keep; ++i) magnitude = magnitude * 10 + (i < s.count ? s.digits[i] : 0);
    over = magnitude > static_cast<uint64_t>(s.neg ? -kIntMin : kIntMax);
  }
  if (over) {
    *value = static_cast<int32_t>(s.neg ? kIntMin : kIntMax);
    return false;
  }
  int64_t v = static_cast<int64_t>(magnitude);
  *value = static_cast<int32_t>(s.neg ? -v : v);
  return true;
}

[[nodiscard]] uint32_t IntFromDouble(double d, int32_t* value) {
  if (!std::isfinite(d)) return TWFAIL_INVALID_INT;
  double t = std::trunc(d);
  if (t > static_cast<double>(kIntMax) || t < static_cast<double>(kIntMin)) {
    *value = static_cast<int32_t>(t > 0 ? kIntMax : kIntMin);
    return TWFAIL_OVERFLOW;
  }
  *value = static_cast<int32_t>(t);
  return TWSUCCESS;
}

// A double from scanned text: correctly rounded (the dropped digits count through a final
// non-zero digit); beyond the double range TWFAIL_OVERFLOW with the largest double.
[[nodiscard]] uint32_t FloatFromScanned(const Scanned& s, double* value) {
  if (s.count == 0) {
    *value = 0.0;
    return TWSUCCESS;
  }
  char buf[Scanned::kMaxDigits + 32];
  char* p = buf;
  if (s.neg) *p++ = '-';
  for (int i = 0; i < s.count; ++i) *p++ = static_cast<char>('0' + s.digits[i]);
  int64_t exponent = s.exponent;
  if (s.sticky) {
    *p++ = '1';
    --exponent;
  }
  *p++ = 'e';
  p = std::to_chars(p, buf + sizeof buf, exponent).ptr;
  double d = 0;
  auto [end, ec] = std::from_chars(buf, p, d);
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: which one shows in the decimal exponent.
    if (s.count + s.exponent > 0) {
      *value = s.neg ? -std::numeric_limits<double>::max() : std::numeric_limits<double>::max();
      return TWFAIL_OVERFLOW;
    }
    *value = s.neg ? -0.0 : 0.0;
    return TWSUCCESS;
  }
  if (ec != std::errc() || end != p) return TWFAIL_INVALID_FLOAT;
  *value = d;
  return TWSUCCESS;
}

// printf's %.15g choice of form, but the exponent form only when it is also shorter.
size_t FormatFloat(double value, char* out) {
  if (value == 0) {
    out[0] = '0';
    return 1;
  }
  char sci[40];
  auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific,
                           TWMAX_FLOAT_PREC - 1);
  // "d.dddddddddddddde+XX": the fifteen digits, then the exponent.
  char digits[TWMAX_FLOAT_PREC];
  int k = 0;
  const char* q = sci;
  for (; q < res.ptr && *q != 'e'; ++q)
    if (IsDigit(*q)) digits[k++] = *q;
  int exponent = 0;
  std::from_chars(q + 1 + (q[1] == '+' ? 1 : 0), res.ptr, exponent);
  while (k > 1 && digits[k - 1] == '0') --k;

  char* p = out;
  if (value < 0) *p++ = '-';
  int fixed_len = exponent >= 0 ? (exponent + 1) + (k > exponent + 1 ? k - exponent : 0)
                                : 2 + (-exponent - 1) + k;
  int exp_digits = std::abs(exponent) >= 100 ? 3 : 2;
  int exp_len = 1 + (k > 1 ? k : 0) + 2 + exp_digits;
  bool use_exponent = (exponent < -4 || exponent >= TWMAX_FLOAT_PREC) && exp_len < fixed_len;
  if (use_exponent) {
    *p++ = digits[0];
    if (k > 1) {
      *p++ = '.';
      for (int i = 1; i < k; ++i) *p++ = digits[i];
    }
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    int a = std::abs(exponent);
    if (a < 10) *p++ = '0';
    p = std::to_chars(p, p + 4, a).ptr;
  } else if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) *p++ = i < k ? digits[i] : '0';
    if (k > exponent + 1) {
      *p++ = '.';
      for (int i = exponent + 1; i < k; ++i) *p++ = digits[i];
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -exponent - 1; ++i) *p++ = '0';
    for (int i = 0; i < k; ++i) *p++ = digits[i];
  }
  return static_cast<size_t>(p - out);
}

}  // namespace
}  // namespace twcore

using twcore::Scanned;
using twcore::Source;

extern "C" {

TW_API uint32_t TWIntFromStream(int32_t* value, const TWStream* stream) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    Source src;
    if (uint32_t st = src.Open(stream)) return st;
    if (src.kind() == Source::Kind::number) return twcore::IntFromDouble(src.number(), value);
    if (src.kind() == Source::Kind::datetime) return TWFAIL_INVALID_CONVERT;
    Scanned s;
    if (!twcore::ScanNumber(src.text(), twcore::CurrentIntl(), {}, &s)) return TWFAIL_INVALID_INT;
    return twcore::IntFromScanned(s, value) ? TWSUCCESS : TWFAIL_OVERFLOW;
  });
}

TW_API uint32_t TWFloatFromStream(double* value, const TWStream* stream) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    Source src;
    if (uint32_t st = src.Open(stream)) return st;
    if (src.kind() == Source::Kind::number) {
      if (!std::isfinite(src.number())) return TWFAIL_INVALID_FLOAT;
      *value = src.number();
      return TWSUCCESS;
    }
    if (src.kind() == Source::Kind::datetime) return TWFAIL_INVALID_CONVERT;
    Scanned s;
    if (!twcore::ScanNumber(src.text(), twcore::CurrentIntl(), {.exponent = true}, &s))
      return TWFAIL_INVALID_FLOAT;
    return twcore::FloatFromScanned(s, value);
  });
}

TW_API uint32_t TWStreamFromInt(TWStream* stream, const int32_t* value, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    char buf[TWMAXLEN_INT_TEXT];
    auto res = std::to_chars(buf, buf + sizeof buf, *value);
    double number = *value;
    return twcore::WriteText(stream, format, std::string_view(buf, res.ptr - buf),
                             {.number = &number});
  });
}

TW_API uint32_t TWStreamFromFloat(TWStream* stream, const double* value, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    if (!std::isfinite(*value)) return TWFAIL_INVALID_FLOAT;
    char buf[TWMAXLEN_FLOAT_TEXT];
    size_t n = twcore::FormatFloat(*value, buf);
    return twcore::WriteText(stream, format, std::string_view(buf, n), {.number = value});
  });
}

}  // extern "C"
