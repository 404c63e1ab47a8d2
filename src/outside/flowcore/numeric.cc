// Numeric values: up to 88 decimal digits with a scale from -127 to 127, kept as a 352-bit
// binary magnitude. Arithmetic runs on base-10^9 limbs, wide enough for two operands whose
// scales lie 254 digits apart; nothing here allocates.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "flowcore.h"
#include "tw/guard.h"
#include "value_text.h"

namespace twcore {
namespace {

constexpr uint32_t kBase = 1000000000;
constexpr int kMaxDigits = TWMAX_NUMERIC_PREC;
constexpr int kMaxScale = TWMAX_NUMERIC_SCALE;
constexpr int kLimbs = 50;
constexpr int kWords = 11;
constexpr uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                 100000, 1000000, 10000000, 100000000, 1000000000};

// An unsigned decimal magnitude, least significant limb first; n == 0 is zero.
struct Dec {
  uint32_t limb[kLimbs];
  int n = 0;

  bool zero() const { return n == 0; }
  void trim() {
    while (n > 0 && limb[n - 1] == 0) --n;
  }
};

int Digits(const Dec& d) {
  if (d.n == 0) return 0;
  int k = 1;
  for (uint32_t top = d.limb[d.n - 1]; top >= 10; top /= 10) ++k;
  return (d.n - 1) * 9 + k;
}

void MulSmall(Dec& d, uint32_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < d.n; ++i) {
    uint64_t cur = uint64_t{d.limb[i]} * m + carry;
    d.limb[i] = static_cast<uint32_t>(cur % kBase);
    carry = cur / kBase;
  }
  if (carry != 0) d.limb[d.n++] = static_cast<uint32_t>(carry);
}

void AddSmall(Dec& d, uint32_t v) {
  uint64_t carry = v;
  for (int i = 0; i < d.n && carry != 0; ++i) {
    uint64_t cur = uint64_t{d.limb[i]} + carry;
    d.limb[i] = static_cast<uint32_t>(cur % kBase);
    carry = cur / kBase;
  }
  if (carry != 0) d.limb[d.n++] = static_cast<uint32_t>(carry);
}

uint32_t DivSmall(Dec& d, uint32_t m) {
  uint64_t rem = 0;
  for (int i = d.n - 1; i >= 0; --i) {
    uint64_t cur = rem * kBase + d.limb[i];
    d.limb[i] = static_cast<uint32_t>(cur / m);
    rem = cur % m;
  }
  d.trim();
  return static_cast<uint32_t>(rem);
}

// d *= 10^k; the caller has checked that the result fits the limbs.
void ShiftUp(Dec& d, int k) {
  if (d.zero() || k <= 0) return;
  int whole = k / 9;
  if (whole > 0) {
    std::memmove(d.limb + whole, d.limb, sizeof(uint32_t) * d.n);
    std::memset(d.limb, 0, sizeof(uint32_t) * whole);
    d.n += whole;
  }
  if (k % 9 != 0) MulSmall(d, kPow10[k % 9]);
}

// d /= 10^k, truncated.
void TruncDown(Dec& d, int64_t k) {
  if (k <= 0) return;
  if (k / 9 >= d.n) {
    d.n = 0;
    return;
  }
  int whole = static_cast<int>(k / 9);
  if (whole > 0) {
    std::memmove(d.limb, d.limb + whole, sizeof(uint32_t) * (d.n - whole));
    d.n -= whole;
  }
  if (k % 9 != 0) DivSmall(d, kPow10[k % 9]);
}

// d /= 10^k, rounded half away from zero (on a magnitude: half up).
void RoundDown(Dec& d, int64_t k) {
  if (k <= 0) return;
  TruncDown(d, k - 1);
  if (DivSmall(d, 10) >= 5) AddSmall(d, 1);
}

int Cmp(const Dec& a, const Dec& b) {
  if (a.n != b.n) return a.n < b.n ? -1 : 1;
  for (int i = a.n - 1; i >= 0; --i)
    if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
  return 0;
}

void Add(Dec& a, const Dec& b) {
  uint32_t carry = 0;
  int n = a.n > b.n ? a.n : b.n;
  for (int i = 0; i < n; ++i) {
    uint32_t x = i < a.n ? a.limb[i] : 0;
    uint32_t y = i < b.n ? b.limb[i] : 0;
    uint32_t s = x + y + carry;
    carry = s >= kBase;
    a.limb[i] = carry ? s - kBase : s;
  }
  a.n = n;
  if (carry) a.limb[a.n++] = 1;
}

// a -= b where a >= b.
void Sub(Dec& a, const Dec& b) {
  int64_t borrow = 0;
  for (int i = 0; i < a.n; ++i) {
    int64_t s = int64_t{a.limb[i]} - (i < b.n ? b.limb[i] : 0) - borrow;
    borrow = s < 0;
    a.limb[i] = static_cast<uint32_t>(borrow ? s + kBase : s);
  }
  a.trim();
}

// d = 10^e.
void SetPow10(Dec& d, int e) {
  d.n = e / 9 + 1;
  std::memset(d.limb, 0, sizeof(uint32_t) * d.n);
  d.limb[d.n - 1] = kPow10[e % 9];
}

// d = 10^e - 1.
void SetNines(Dec& d, int e) {
  SetPow10(d, e);
  Dec one;
  one.limb[0] = 1;
  one.n = 1;
  Sub(d, one);
}

bool IsPow10(const Dec& d, int e) {
  if (Digits(d) != e + 1) return false;
  for (int i = 0; i < d.n - 1; ++i)
    if (d.limb[i] != 0) return false;
  return d.limb[d.n - 1] == kPow10[e % 9];
}

struct Num {
  bool neg = false;
  int64_t scale = 0;
  Dec mag;
};

// |v| <= 10^127.
bool WithinLimit(const Num& v) {
  if (v.mag.zero()) return true;
  int64_t e = kMaxScale + v.scale;
  if (e < 0) return false;
  int d = Digits(v.mag);
  return d <= e || (d == e + 1 && IsPow10(v.mag, static_cast<int>(e)));
}

// A declaration read from a record that is about to receive a value. A head that is not a
// valid declaration counts as none.
struct Declared {
  int precision = 0;
  int scale = 0;
};
Declared DeclaredOf(const TWNumeric& v) {
  Declared d;
  int precision = static_cast<int>((v.head >> 8) & 0xFF);
  int scale = static_cast<int8_t>(v.head & 0xFF);
  if ((v.head & 0x7FFF0000u) == 0 && precision >= 1 && precision <= kMaxDigits && scale != -128) {
    d.precision = precision;
    d.scale = scale;
  }
  return d;
}

bool Decode(const TWNumeric& v, Num* out, int* precision) {
  int scale = static_cast<int8_t>(v.head & 0xFF);
  int prec = static_cast<int>((v.head >> 8) & 0xFF);
  if (scale == -128 || prec > kMaxDigits || (v.head & 0x7FFF0000u) != 0) return false;
  uint32_t w[kWords];
  std::memcpy(w, v.magnitude, sizeof w);
  Dec& d = out->mag;
  d.n = 0;
  int top = kWords;
  while (top > 0 && w[top - 1] == 0) --top;
  while (top > 0) {
    if (d.n == 13) return false;  // 13 limbs hold more than 88 digits already
    uint64_t rem = 0;
    for (int i = top - 1; i >= 0; --i) {
      uint64_t cur = (rem << 32) | w[i];
      w[i] = static_cast<uint32_t>(cur / kBase);
      rem = cur % kBase;
    }
    d.limb[d.n++] = static_cast<uint32_t>(rem);
    while (top > 0 && w[top - 1] == 0) --top;
  }
  d.trim();
  int digits = Digits(d);
  if (digits > kMaxDigits || (prec != 0 && digits > prec)) return false;
  out->scale = scale;
  out->neg = (v.head >> 31) != 0 && !d.zero();
  if (!WithinLimit(*out)) return false;
  if (precision != nullptr) *precision = prec;
  return true;
}

void Encode(const Num& v, int precision, TWNumeric* out) {
  uint32_t w[kWords] = {};
  for (int i = v.mag.n - 1; i >= 0; --i) {
    uint64_t carry = v.mag.limb[i];
    for (int j = 0; j < kWords; ++j) {
      uint64_t cur = uint64_t{w[j]} * kBase + carry;
      w[j] = static_cast<uint32_t>(cur);
      carry = cur >> 32;
    }
  }
  out->head = static_cast<uint32_t>(static_cast<uint8_t>(static_cast<int8_t>(v.scale))) |
              (static_cast<uint32_t>(precision) << 8) | (v.neg && !v.mag.zero() ? 0x80000000u : 0u);
  std::memcpy(out->magnitude, w, sizeof w);
}

// Brings v to a representable value: the declared scale and precision when there is a
// declaration, else its own scale with the fraction shortened to fit 88 digits.
// TWFAIL_OVERFLOW leaves v clamped: to the largest declared value, to 10^127, or (too many
// digits without a declaration) to the value rounded to 88 significant digits.
[[nodiscard]] uint32_t Fit(Num& v, Declared decl) {
  bool over = false;
  if (decl.precision > 0) {
    const int S = decl.scale;
    if (v.scale > S) {
      RoundDown(v.mag, v.scale - S);
    } else if (v.scale < S && !v.mag.zero()) {
      if (Digits(v.mag) + (S - v.scale) > decl.precision)
        over = true;
      else
        ShiftUp(v.mag, static_cast<int>(S - v.scale));
    }
    v.scale = S;
    if (!over) over = Digits(v.mag) > decl.precision || !WithinLimit(v);
    if (over) {
      if (kMaxScale + S < decl.precision)
        SetPow10(v.mag, kMaxScale + S);
      else
        SetNines(v.mag, decl.precision);
    }
  } else {
    if (v.scale > kMaxScale) {
      RoundDown(v.mag, v.scale - kMaxScale);
      v.scale = kMaxScale;
    }
    if (v.mag.zero() && v.scale < -kMaxScale) v.scale = 0;
    // Only fraction digits may go to make room; integer digits beyond 88 are an overflow.
    for (int pass = 0; pass < 2 && Digits(v.mag) > kMaxDigits && v.scale > 0; ++pass) {
      int64_t drop = Digits(v.mag) - kMaxDigits;
      if (drop > v.scale) drop = v.scale;
      RoundDown(v.mag, drop);
      v.scale -= drop;
    }
    if (!WithinLimit(v)) {
      over = true;
      SetPow10(v.mag, 0);
      v.scale = -kMaxScale;
    } else if (Digits(v.mag) > kMaxDigits) {
      over = true;
      for (int pass = 0; pass < 2 && Digits(v.mag) > kMaxDigits; ++pass) {
        int drop = Digits(v.mag) - kMaxDigits;
        RoundDown(v.mag, drop);
        v.scale -= drop;
      }
    }
  }
  if (v.mag.zero()) v.neg = false;
  return over ? TWFAIL_OVERFLOW : TWSUCCESS;
}

// The number read from text, before fitting. Without a declaration a negative scale (an
// exponent) is widened to 0 when the digits allow, so "1e3" reads as 1000 with scale 0.
void FromScanned(const Scanned& s, bool declared, Num* v) {
  v->neg = s.neg;
  v->scale = -s.exponent;
  Dec& d = v->mag;
  d.n = 0;
  for (int i = 0; i < s.count; ++i) {
    if (d.n == 0) {
      d.limb[0] = 0;
      d.n = 1;
    }
    MulSmall(d, 10);
    AddSmall(d, s.digits[i]);
  }
  d.trim();
  if (!declared && v->scale < 0 && (d.zero() || Digits(d) - v->scale <= kMaxDigits)) {
    ShiftUp(d, static_cast<int>(-v->scale));
    v->scale = 0;
  }
}

[[nodiscard]] uint32_t FromDouble(double f, Declared decl, Num* v) {
  if (!std::isfinite(f)) return TWFAIL_INVALID_FLOAT;
  v->neg = f < 0;
  v->mag.n = 0;
  double a = std::fabs(f);
  if (a > TWMAX_NUMERIC_PVALUE) {
    // Certainly beyond the limit: let Fit clamp it.
    SetPow10(v->mag, 1);
    v->scale = -kMaxScale;
    return Fit(*v, decl);
  }
  if (a < TWMIN_NUMERIC_PVALUE) {
    v->neg = false;
    v->scale = decl.precision > 0 ? decl.scale : 0;
    return TWSUCCESS;
  }
  char buf[40];
  auto res =
      std::to_chars(buf, buf + sizeof buf, f, std::chars_format::scientific, TWMAX_FLOAT_PREC - 1);
  Scanned s;
  if (!ScanNumber(std::string_view(buf, res.ptr - buf), PlainIntl(), {.exponent = true}, &s))
    return TWFAIL_INVALID_FLOAT;
  while (s.count > 1 && s.digits[s.count - 1] == 0) {
    --s.count;
    ++s.exponent;
  }
  FromScanned(s, decl.precision > 0, v);
  return Fit(*v, decl);
}

// Writes the digits of a magnitude, most significant first; "0" for zero.
int DigitText(const Dec& d, char* out) {
  if (d.zero()) {
    out[0] = '0';
    return 1;
  }
  char* p = std::to_chars(out, out + 10, d.limb[d.n - 1]).ptr;
  for (int i = d.n - 2; i >= 0; --i) {
    uint32_t l = d.limb[i];
    for (int j = 8; j >= 0; --j) {
      p[j] = static_cast<char>('0' + l % 10);
      l /= 10;
    }
    p += 9;
  }
  return static_cast<int>(p - out);
}

size_t FormatNumeric(const Num& v, char* out) {
  char digits[kMaxDigits + 10];
  int nd = DigitText(v.mag, digits);
  char* p = out;
  if (v.neg) *p++ = '-';
  if (v.scale <= 0) {
    std::memcpy(p, digits, nd);
    p += nd;
    if (!v.mag.zero())
      for (int64_t i = 0; i < -v.scale; ++i) *p++ = '0';
  } else if (nd > v.scale) {
    int whole = nd - static_cast<int>(v.scale);
    std::memcpy(p, digits, whole);
    p += whole;
    *p++ = '.';
    std::memcpy(p, digits + whole, nd - whole);
    p += nd - whole;
  } else {
    *p++ = '0';
    *p++ = '.';
    if (v.mag.zero()) nd = 0;
    for (int64_t i = 0; i < v.scale - nd; ++i) *p++ = '0';
    std::memcpy(p, digits, nd);
    p += nd;
  }
  return static_cast<size_t>(p - out);
}

double DoubleFromNum(const Num& v) {
  if (v.mag.zero()) return 0.0;
  char buf[kMaxDigits + 24];
  char* p = buf;
  if (v.neg) *p++ = '-';
  p += DigitText(v.mag, p);
  *p++ = 'e';
  p = std::to_chars(p, buf + sizeof buf, -v.scale).ptr;
  double d = 0;
  std::from_chars(buf, p, d);
  return d;
}

// Aligns b to a's scale or the reverse, whichever is larger: both then share one scale.
void Align(Num& a, Num& b) {
  if (a.scale < b.scale) {
    ShiftUp(a.mag, static_cast<int>(b.scale - a.scale));
    a.scale = b.scale;
  } else if (b.scale < a.scale) {
    ShiftUp(b.mag, static_cast<int>(a.scale - b.scale));
    b.scale = a.scale;
  }
}

int CompareNums(Num a, Num b) {
  if (a.neg != b.neg) return a.neg ? -1 : 1;
  Align(a, b);
  int c = Cmp(a.mag, b.mag);
  return a.neg ? -c : c;
}

[[nodiscard]] uint32_t Combine(TWNumeric* result, const TWNumeric* a, const TWNumeric* b,
                               bool subtract) {
  if (result == nullptr) return TWFAIL_NULL_RESULT;
  if (a == nullptr || b == nullptr) return TWFAIL_NULL_BUFFER;
  Num x;
  Num y;
  if (!Decode(*a, &x, nullptr) || !Decode(*b, &y, nullptr)) return TWFAIL_INVALID_NUMERIC;
  if (subtract && !y.mag.zero()) y.neg = !y.neg;
  Align(x, y);
  if (x.neg == y.neg) {
    Add(x.mag, y.mag);
  } else if (Cmp(x.mag, y.mag) >= 0) {
    Sub(x.mag, y.mag);
  } else {
    Sub(y.mag, x.mag);
    x.mag = y.mag;
    x.neg = y.neg;
  }
  Declared decl = DeclaredOf(*result);
  if (uint32_t st = Fit(x, decl)) return st;
  Encode(x, decl.precision, result);
  return TWSUCCESS;
}

}  // namespace
}  // namespace twcore

using twcore::Num;

extern "C" {

TW_API uint32_t TWNumericFromStream(TWNumeric* value, const TWStream* stream) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    twcore::Source src;
    if (uint32_t st = src.Open(stream)) return st;
    twcore::Declared decl = twcore::DeclaredOf(*value);
    Num v;
    uint32_t st = TWSUCCESS;
    if (src.kind() == twcore::Source::Kind::number) {
      st = twcore::FromDouble(src.number(), decl, &v);
      if (st == TWFAIL_INVALID_FLOAT) return TWFAIL_INVALID_NUMERIC;
    } else if (src.kind() == twcore::Source::Kind::datetime) {
      return TWFAIL_INVALID_CONVERT;
    } else {
      twcore::Scanned s;
      if (!twcore::ScanNumber(src.text(), twcore::CurrentIntl(), {.exponent = true}, &s))
        return TWFAIL_INVALID_NUMERIC;
      twcore::FromScanned(s, decl.precision > 0, &v);
      st = twcore::Fit(v, decl);
    }
    twcore::Encode(v, decl.precision, value);
    return st;
  });
}

TW_API uint32_t TWStreamFromNumeric(TWStream* stream, const TWNumeric* value, uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (stream == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    Num v;
    if (!twcore::Decode(*value, &v, nullptr)) return TWFAIL_INVALID_NUMERIC;
    char buf[TWMAXLEN_NUMERIC_TEXT];
    size_t n = twcore::FormatNumeric(v, buf);
    double number = twcore::DoubleFromNum(v);
    return twcore::WriteText(stream, format, std::string_view(buf, n), {.number = &number});
  });
}

TW_API uint32_t TWFloatFromNumeric(double* value, const TWNumeric* numeric) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (numeric == nullptr) return TWFAIL_NULL_BUFFER;
    Num v;
    if (!twcore::Decode(*numeric, &v, nullptr)) return TWFAIL_INVALID_NUMERIC;
    *value = twcore::DoubleFromNum(v);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWNumericFromFloat(TWNumeric* value, const double* source) {
  return tw::guard([&]() -> uint32_t {
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (source == nullptr) return TWFAIL_NULL_BUFFER;
    twcore::Declared decl = twcore::DeclaredOf(*value);
    Num v;
    uint32_t st = twcore::FromDouble(*source, decl, &v);
    if (st != TWSUCCESS && st != TWFAIL_OVERFLOW) return st;
    twcore::Encode(v, decl.precision, value);
    return st;
  });
}

TW_API uint32_t TWNumericAdd(TWNumeric* result, const TWNumeric* a, const TWNumeric* b) {
  return tw::guard([&] { return twcore::Combine(result, a, b, false); });
}

TW_API uint32_t TWNumericSubtract(TWNumeric* result, const TWNumeric* a, const TWNumeric* b) {
  return tw::guard([&] { return twcore::Combine(result, a, b, true); });
}

TW_API uint32_t TWNumericClear(TWNumeric* value) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  std::memset(value, 0, sizeof *value);
  return TWSUCCESS;
}

TW_API uint32_t TWNumericCompare(const TWNumeric* value, const TWNumeric* base, int32_t* result) {
  return tw::guard([&]() -> uint32_t {
    if (result == nullptr) return TWFAIL_NULL_RESULT;
    if (value == nullptr || base == nullptr) return TWFAIL_NULL_BUFFER;
    Num a;
    Num b;
    if (!twcore::Decode(*value, &a, nullptr) || !twcore::Decode(*base, &b, nullptr))
      return TWFAIL_INVALID_NUMERIC;
    *result = twcore::CompareNums(a, b);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWNumericCopy(TWNumeric* dest, const TWNumeric* source) {
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  if (source == nullptr) return TWFAIL_NULL_BUFFER;
  std::memmove(dest, source, sizeof *dest);
  return TWSUCCESS;
}

TW_API uint32_t TWNumericCreate(TWNumeric* value, uint32_t precision, int32_t scale) {
  if (value == nullptr) return TWFAIL_NULL_RESULT;
  if (scale == TWSCALE_ZERO) scale = 0;
  if (precision > TWMAX_NUMERIC_PREC || scale < -TWMAX_NUMERIC_SCALE || scale > TWMAX_NUMERIC_SCALE)
    return TWFAIL_INVALID_NUMERIC;
  std::memset(value, 0, sizeof *value);
  value->head =
      static_cast<uint32_t>(static_cast<uint8_t>(static_cast<int8_t>(scale))) | (precision << 8);
  return TWSUCCESS;
}

TW_API int32_t TWNumericGetPrecision(const TWNumeric* value) {
  return tw::guard_value<int32_t>(0, [&]() -> int32_t {
    if (value == nullptr) return 0;
    Num v;
    int precision = 0;
    if (!twcore::Decode(*value, &v, &precision)) return 0;
    if (precision != 0) return precision;
    int d = twcore::Digits(v.mag);
    return d == 0 ? 1 : d;
  });
}

TW_API int32_t TWNumericGetScale(const TWNumeric* value) {
  if (value == nullptr) return 0;
  return static_cast<int8_t>(value->head & 0xFF);
}

}  // extern "C"
