// Currency values: a signed 64-bit count of ten-thousandths, every value of the 64 bits a
// currency (-922337203685477.5808 to 922337203685477.5807); text, doubles and arithmetic
// without undefined behaviour.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "flowcore.h"
#include "tw/guard.h"
#include "value_text.h"

namespace twcore {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int kScale = TWMAX_CURRENCY_SCALE;

uint64_t Magnitude(int64_t v) {
  return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

// Rounds the scanned number half away from zero to four places; false when it lies beyond
// the range, with *out clamped.
bool CurrencyFromScanned(const Scanned& s, int64_t* out) {
  const int64_t keep = s.count + s.exponent + kScale;  // digits at or above 10^-4
  uint64_t magnitude = 0;
  bool over = keep > 19;
  if (!over) {
    for (int64_t i = 0; i < keep; ++i) magnitude = magnitude * 10 + (i < s.count ? s.digits[i] : 0);
    if (RoundUpAt(s, static_cast<int>(keep < 0 ? -1 : keep))) ++magnitude;
    over = magnitude > (s.neg ? Magnitude(kMin) : static_cast<uint64_t>(kMax));
  }
  if (over) {
    *out = s.neg ? kMin : kMax;
    return false;
  }
  *out = s.neg ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

[[nodiscard]] uint32_t CurrencyFromDouble(double d, int64_t* out) {
  if (!std::isfinite(d)) return TWFAIL_INVALID_FLOAT;
  // The shortest text that reads back as d is what the caller meant: 1.00005 rounds up to
  // 1.0001 even though the double lies a hair below it.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d);
  Scanned s;
  if (!ScanNumber(std::string_view(buf, res.ptr - buf), PlainIntl(), {.exponent = true}, &s))
    return TWFAIL_INVALID_FLOAT;
  return CurrencyFromScanned(s, out) ? TWSUCCESS : TWFAIL_OVERFLOW;
}

double DoubleFromCurrency(int64_t v) {
  uint64_t m = Magnitude(v);
  if (m <= (uint64_t{1} << 53)) return static_cast<double>(v) / 10000.0;
  // Beyond 2^53 the integer itself would round first; read the exact decimal instead.
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf - 3, v);
  char* p = res.ptr;
  *p++ = 'e';
  *p++ = '-';
  *p++ = '4';
  double d = 0;
  std::from_chars(buf, p, d);
  return d;
}

size_t FormatCurrency(int64_t v, char* out) {
  uint64_t m = Magnitude(v);
  char* p = out;
  if (v < 0) *p++ = '-';
  p = std::to_chars(p, p + 24, m / 10000).ptr;
  *p++ = '.';
  uint64_t frac = m % 10000;
  for (int i = 3; i >= 0; --i) {
    p[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  p += 4;
  return static_cast<size_t>(p - out);
}

[[nodiscard]] uint32_t Combine(TWCurrency* result, const TWCurrency* a, const TWCurrency* b,
                               bool subtract) {
  if (result == nullptr) return TWFAIL_NULL_RESULT;
  if (a == nullptr || b == nullptr) return TWFAIL_NULL_BUFFER;
  int64_t r = 0;
  bool over = subtract ? __builtin_sub_overflow(a->value, b->value, &r)
                       : __builtin_add_overflow(a->value, b->value, &r);
  if (over) return TWFAIL_OVERFLOW;
  result->value = r;
  return TWSUCCESS;
}

}  // namespace
}  // namespace twcore

extern "C" {

TW_API uint32_t TWCurrencyFromStream(TWCurrency* value, const TWStream* stream) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    twcore::Source src;
    if (uint32_t st = src.Open(stream)) return st;
    int64_t v = 0;
    uint32_t st = TWSUCCESS;
    if (src.kind() == twcore::Source::Kind::number) {
      st = twcore::CurrencyFromDouble(src.number(), &v);
      if (st == TWFAIL_INVALID_FLOAT) return TWFAIL_INVALID_CURRENCY;
    } else if (src.kind() == twcore::Source::Kind::datetime) {
      return TWFAIL_INVALID_CONVERT;
    } else {
      twcore::Scanned s;
      if (!twcore::ScanNumber(src.text(), twcore::CurrentIntl(), {.currency = true}, &s))
        return TWFAIL_INVALID_CURRENCY;
      if (!twcore::CurrencyFromScanned(s, &v)) st = TWFAIL_OVERFLOW;
    }
    value->value = v;
    return st;
  });
}

TW_API uint32_t TWStreamFromCurrency(TWStream* stream, const TWCurrency* value, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    char buf[TWMAXLEN_CURRENCY_TEXT];
    size_t n = twcore::FormatCurrency(value->value, buf);
    double number = twcore::DoubleFromCurrency(value->value);
    return twcore::WriteText(stream, format, std::string_view(buf, n), {.number = &number});
  });
}

TW_API uint32_t TWFloatFromCurrency(double* value, const TWCurrency* currency) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (currency == nullptr) return TWFAIL_NULL_BUFFER;
    *value = twcore::DoubleFromCurrency(currency->value);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWCurrencyFromFloat(TWCurrency* value, const double* source) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (source == nullptr) return TWFAIL_NULL_BUFFER;
    int64_t v = 0;
    uint32_t st = twcore::CurrencyFromDouble(*source, &v);
    if (st == TWSUCCESS || st == TWFAIL_OVERFLOW) value->value = v;
    return st;
  });
}

TW_API uint32_t TWCurrencyAdd(TWCurrency* result, const TWCurrency* a, const TWCurrency* b) {
  return tw::guard([&] { return twcore::Combine(result, a, b, false); });
}

TW_API uint32_t TWCurrencySubtract(TWCurrency* result, const TWCurrency* a, const TWCurrency* b) {
  return tw::guard([&] { return twcore::Combine(result, a, b, true); });
}

TW_API uint32_t TWCurrencyClear(TWCurrency* value) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  value->value = 0;
  return TWSUCCESS;
}

TW_API uint32_t TWCurrencyCompare(const TWCurrency* value, const TWCurrency* base,
                                  int32_t* result) {
  if (result == nullptr) return TWFAIL_NULL_RESULT;
  if (value == nullptr || base == nullptr) return TWFAIL_NULL_BUFFER;
  *result = value->value < base->value ? -1 : value->value > base->value ? 1 : 0;
  return TWSUCCESS;
}

TW_API uint32_t TWCurrencyCopy(TWCurrency* dest, const TWCurrency* source) {
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  if (source == nullptr) return TWFAIL_NULL_BUFFER;
  *dest = *source;
  return TWSUCCESS;
}

}  // extern "C"
