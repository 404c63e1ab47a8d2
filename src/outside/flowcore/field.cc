// Engine fields: typed values with null words in contiguous slots, conversions between the
// types on get, set and convert, comparison with precision, copying and formats.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "datetime.h"
#include "field_impl.h"
#include "flowcore.h"
#include "scalar_types.h"
#include "stream_internal.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace twfc {

uint32_t TypeSize(uint32_t type) {
  switch (type) {
    case TWTYPE_INT:
      return sizeof(int32_t);
    case TWTYPE_FLOAT:
      return sizeof(double);
    case TWTYPE_CURRENCY:
      return sizeof(TWCurrency);
    case TWTYPE_NUMERIC:
      return sizeof(TWNumeric);
    case TWTYPE_DATETIME:
      return sizeof(TWDatetime);
    case TWTYPE_TEXT:
    case TWTYPE_BINARY:
      return sizeof(TWStream);
    default:
      return 0;
  }
}

}  // namespace twfc

namespace {

using twfc::FieldOk;

constexpr uint32_t kPrivateStreamBits = 0xFF000000u;
constexpr uint32_t kStreamFlagsMask = TWSTREAMF_FIXED | TWSTREAMF_TRUNCATE | TWSTREAMF_NO_CASE;
constexpr uint32_t kNumberFlagsMask =
    TWNUMBERF_UNSIGNED | TWNUMBERF_NUMERIC | TWNUMBERF_DECIMAL | TWNUMBERF_PACKED | TWNUMBERF_BIT;
constexpr uint32_t kCompareLowBits = 0xF8;
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int64_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr uint64_t kMaxStorageBytes = uint64_t{1} << 31;
// Scratch data larger than this is released after use instead of being kept per thread.
constexpr uint32_t kScratchKeep = 64 * 1024;

bool IsStreamType(uint32_t type) {
  return type == TWTYPE_TEXT || type == TWTYPE_BINARY;
}
bool IsNumberType(uint32_t type) {
  return type >= TWTYPE_INT && type <= TWTYPE_NUMERIC;
}
bool IsCharset(uint32_t format) {
  return format != 0 && (format & TWSTREAMFMTF_BINARY) == 0;
}
bool IsListFormat(uint32_t format) {
  return format == TWSTREAMFMT_TEXT_LIST || format == TWSTREAMFMT_NUMBER_LIST ||
         format == TWSTREAMFMT_DATETIME_LIST;
}

// Two streams per thread for intermediate text, kept with their blocks so that converting a
// value allocates nothing once they have grown. Data beyond kScratchKeep that a conversion
// left is released at the next use, so a thread keeps at most one large value.
struct ScratchPair {
  TWStream s[2] = {};
  ~ScratchPair() {
    TWStreamDataFree(&s[0]);
    TWStreamDataFree(&s[1]);
  }
};
TWStream* Scratch(int which) {
  thread_local ScratchPair pair;
  TWStream* s = &pair.s[which];
  if (s->length > kScratchKeep) TWStreamDataFree(s);
  return s;
}

uint32_t Permit(uint32_t status, uint32_t flags) {
  return status == TWFAIL_OVERFLOW && (flags & TWFIELDF_TRUNC_DATA) ? 0 : status;
}
uint32_t PrecisionLost(uint32_t flags) {
  return flags & TWFIELDF_TRUNC_PREC ? 0 : TWFAIL_PRECISION_LOSS;
}

unsigned char* SlotPtr(const TWFieldImpl* f, uint32_t index) {
  return f->values.get() + static_cast<size_t>(index - 1) * f->size;
}
TWStream* StreamSlot(const TWFieldImpl* f, uint32_t index) {
  return reinterpret_cast<TWStream*>(SlotPtr(f, index));
}

// Handle, type and index of a single value.
[[nodiscard]] uint32_t CheckValue(const TWFieldImpl* f, uint32_t index) {
  if (!FieldOk(f)) return TWFAIL_INVALID_FIELD;
  if (twfc::TypeSize(f->type) == 0) return TWFAIL_INVALID_TYPE;
  if (index == 0) return TWFAIL_ZERO_INDEX;
  if (index > f->count) return TWFAIL_RECORD_INDEX;
  return 0;
}
[[nodiscard]] uint32_t CheckRun(const TWFieldImpl* f, uint32_t index, uint32_t count) {
  if (uint32_t st = CheckValue(f, index)) return st;
  if (count == 0) return TWFAIL_ZERO_COUNT;
  if (count - 1 > f->count - index) return TWFAIL_RECORD_COUNT;
  return 0;
}

// A value as read from a slot or handed in by a caller.
struct Value {
  uint32_t type = TWTYPE_INVALID;
  uint32_t dtFlags = 0;  // halves left out when the datetime becomes text
  const TWStream* s = nullptr;
  union {
    int32_t i;
    double f;
    TWCurrency c;
    TWNumeric n;
    TWDatetime d;
  };
};

Value ReadSlot(const TWFieldImpl* f, uint32_t index) {
  Value v;
  v.type = f->type;
  const unsigned char* p = SlotPtr(f, index);
  switch (f->type) {
    case TWTYPE_INT:
      std::memcpy(&v.i, p, sizeof v.i);
      break;
    case TWTYPE_FLOAT:
      std::memcpy(&v.f, p, sizeof v.f);
      break;
    case TWTYPE_CURRENCY:
      std::memcpy(&v.c, p, sizeof v.c);
      break;
    case TWTYPE_NUMERIC:
      std::memcpy(&v.n, p, sizeof v.n);
      break;
    case TWTYPE_DATETIME:
      std::memcpy(&v.d, p, sizeof v.d);
      v.dtFlags = f->dtFlags;
      break;
    default:
      v.s = reinterpret_cast<const TWStream*>(p);
      break;
  }
  return v;
}

// ---- numeric helpers

TWNumeric NumericFromInt64(int64_t value, int scale) {
  TWNumeric n{};
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  n.head = static_cast<uint8_t>(static_cast<int8_t>(scale));
  if (value < 0) n.head |= 0x80000000u;
  n.magnitude[0] = static_cast<uint32_t>(mag);
  n.magnitude[1] = static_cast<uint32_t>(mag >> 32);
  return n;
}

// |n| * 10^k as a 64-bit magnitude: digits below the point are dropped (inexact tells whether
// any was not zero) or, with round, rounded half away from zero.
struct Scaled {
  uint64_t mag = 0;
  bool neg = false;
  bool inexact = false;
  bool overflow = false;
};
Scaled ScaleNumeric(const TWNumeric& n, int k, bool round) {
  Scaled out;
  uint32_t w[11];
  std::memcpy(w, n.magnitude, sizeof w);
  out.neg = (n.head >> 31) != 0;
  auto zero = [&w] {
    for (uint32_t x : w)
      if (x != 0) return false;
    return true;
  };
  int e = k - static_cast<int8_t>(n.head & 0xFF);
  bool up = false;
  if (e > 0) {
    for (int i = 0; i < e && !zero(); ++i) {
      uint64_t carry = 0;
      for (uint32_t& x : w) {
        uint64_t t = uint64_t{x} * 10 + carry;
        x = static_cast<uint32_t>(t);
        carry = t >> 32;
      }
      if (carry != 0 || w[2] != 0) {
        out.overflow = true;
        return out;
      }
    }
  } else if (e < 0) {
    uint32_t last = 0;
    for (int i = 0; i < -e; ++i) {
      if (last != 0) out.inexact = true;
      if (zero()) {
        last = 0;
        break;
      }
      uint64_t rem = 0;
      for (int j = 10; j >= 0; --j) {
        uint64_t cur = (rem << 32) | w[j];
        w[j] = static_cast<uint32_t>(cur / 10);
        rem = cur % 10;
      }
      last = static_cast<uint32_t>(rem);
    }
    if (last != 0) out.inexact = true;
    up = round && last >= 5;
  }
  for (int j = 2; j < 11; ++j)
    if (w[j] != 0) {
      out.overflow = true;
      return out;
    }
  out.mag = w[0] | (uint64_t{w[1]} << 32);
  if (up) {
    if (out.mag == UINT64_MAX) {
      out.overflow = true;
      return out;
    }
    ++out.mag;
  }
  if (out.mag == 0) out.neg = false;
  return out;
}

// Whether a and b agree to digits significant digits (digits 0: exactly).
double RoundDigits(double v, int digits) {
  if (digits <= 0 || !std::isfinite(v) || v == 0) return v;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
  return std::strtod(buf, nullptr);
}

// ---- stream values to scalars

// Turns a stream value into the scalar it stands for: text stays text, a list gives its first
// entry (no entry: null; more than one: TWFAIL_OVERFLOW unless TWFIELDF_TRUNC_DATA, with out
// still set), other binary data has no scalar.
[[nodiscard]] uint32_t Scalarize(const Value& in, uint32_t flags, Value* out, bool* isNull) {
  *isNull = false;
  if (!IsStreamType(in.type)) {
    *out = in;
    return 0;
  }
  const TWStream* s = in.s;
  uint32_t entries = 0;
  uint32_t st = 0;
  switch (s->format) {
    case TWSTREAMFMT_NUMBER_LIST: {
      uint32_t ranges = 0;
      if ((st = TWNumberListGetCount(s, &entries, &ranges))) return st;
      if (entries == 0) break;
      out->type = TWTYPE_FLOAT;
      if ((st = TWNumberListGetFirst(s, &out->f))) return st;
      break;
    }
    case TWSTREAMFMT_DATETIME_LIST: {
      uint32_t ranges = 0;
      if ((st = TWDatetimeListGetCount(s, &entries, &ranges))) return st;
      if (entries == 0) break;
      out->type = TWTYPE_DATETIME;
      if ((st = TWDatetimeListGetFirst(s, &out->d))) return st;
      break;
    }
    case TWSTREAMFMT_TEXT_LIST: {
      entries = TWTextListGetCount(s);
      if (entries == 0) {
        // The count answers 0 for malformed bytes as well as for an empty list.
        if (s->length >= 2 && s->data != nullptr && tw::get_u16(s->data) != 0)
          return TWFAIL_INVALID_TEXT_LIST;
        break;
      }
      TWStream* first = Scratch(1);
      if ((st = TWTextListFetch(s, 1, TWSTREAMFMT_NATIVE, first, nullptr, nullptr))) return st;
      out->type = TWTYPE_TEXT;
      out->s = first;
      break;
    }
    case TWSTREAMFMT_COMPOSITE: {
      TWStream* text = Scratch(1);
      if ((st = TWStreamDataConvert(text, s, TWCONVERTF_PRESERVE, TWSTREAMFMT_NATIVE, nullptr,
                                    nullptr)))
        return st;
      out->type = TWTYPE_TEXT;
      out->s = text;
      return 0;
    }
    default:
      if (s->format & TWSTREAMFMTF_BINARY) return TWFAIL_INVALID_CONVERT;
      *out = in;
      out->type = TWTYPE_TEXT;
      return 0;
  }
  if (entries == 0) {
    *isNull = true;
    return 0;
  }
  return entries > 1 ? Permit(TWFAIL_OVERFLOW, flags) : 0;
}

[[nodiscard]] uint32_t NarrowInt(int64_t q, bool inexact, uint32_t flags, int32_t* out) {
  if (q > kIntMax || q < kIntMin) {
    *out = static_cast<int32_t>(q > 0 ? kIntMax : kIntMin);
    return Permit(TWFAIL_OVERFLOW, flags);
  }
  *out = static_cast<int32_t>(q);
  return inexact ? PrecisionLost(flags) : 0;
}

// Each target type's conversions: from a stream's text, and from a scalar of another type or
// its own (any other: TWFAIL_INVALID_CONVERT). Same statuses as To below.
[[nodiscard]] uint32_t FromText(const TWStream* s, int32_t* out) {
  return TWIntFromStream(out, s);
}
[[nodiscard]] uint32_t FromText(const TWStream* s, double* out) {
  return TWFloatFromStream(out, s);
}
[[nodiscard]] uint32_t FromText(const TWStream* s, TWCurrency* out) {
  return TWCurrencyFromStream(out, s);
}
[[nodiscard]] uint32_t FromText(const TWStream* s, TWNumeric* out) {
  *out = TWNumeric{};
  return TWNumericFromStream(out, s);
}
[[nodiscard]] uint32_t FromText(const TWStream* s, TWDatetime* out) {
  return TWDatetimeFromStream(out, s);
}

[[nodiscard]] uint32_t FromScalar(const Value& v, uint32_t flags, int32_t* out) {
  switch (v.type) {
    case TWTYPE_INT:
      *out = v.i;
      return 0;
    case TWTYPE_FLOAT: {
      if (std::isnan(v.f)) return TWFAIL_INVALID_FLOAT;
      double t = std::trunc(v.f);
      if (t > static_cast<double>(kIntMax) || t < static_cast<double>(kIntMin))
        return NarrowInt(t > 0 ? INT64_MAX : -INT64_MAX, false, flags, out);
      return NarrowInt(static_cast<int64_t>(t), t != v.f, flags, out);
    }
    case TWTYPE_CURRENCY:
      return NarrowInt(v.c.value / 10000, v.c.value % 10000 != 0, flags, out);
    case TWTYPE_NUMERIC: {
      Scaled sc = ScaleNumeric(v.n, 0, false);
      if (sc.overflow || sc.mag > static_cast<uint64_t>(INT64_MAX))
        return NarrowInt(sc.neg ? -INT64_MAX : INT64_MAX, false, flags, out);
      int64_t q = static_cast<int64_t>(sc.mag);
      return NarrowInt(sc.neg ? -q : q, sc.inexact, flags, out);
    }
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

[[nodiscard]] uint32_t FromScalar(const Value& v, uint32_t flags, double* out) {
  switch (v.type) {
    case TWTYPE_INT:
      *out = v.i;
      return 0;
    case TWTYPE_FLOAT:
      *out = v.f;
      return 0;
    case TWTYPE_CURRENCY: {
      if (uint32_t st = TWFloatFromCurrency(out, &v.c)) return st;
      TWCurrency back{};
      if (TWCurrencyFromFloat(&back, out) != 0 || back.value != v.c.value)
        return PrecisionLost(flags);
      return 0;
    }
    case TWTYPE_NUMERIC: {
      if (uint32_t st = TWFloatFromNumeric(out, &v.n)) return Permit(st, flags);
      TWNumeric back{};
      int32_t r = 0;
      if (TWNumericFromFloat(&back, out) != 0 || TWNumericCompare(&back, &v.n, &r) != 0 || r != 0)
        return PrecisionLost(flags);
      return 0;
    }
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

[[nodiscard]] uint32_t FromScalar(const Value& v, uint32_t flags, TWCurrency* out) {
  switch (v.type) {
    case TWTYPE_INT:
      out->value = int64_t{v.i} * 10000;
      return 0;
    case TWTYPE_FLOAT: {
      if (uint32_t st = TWCurrencyFromFloat(out, &v.f)) return Permit(st, flags);
      // Binary noise below the 15th digit is not a lost fraction.
      double back = 0;
      if (TWFloatFromCurrency(&back, out) != 0 || RoundDigits(back, 15) != RoundDigits(v.f, 15))
        return PrecisionLost(flags);
      return 0;
    }
    case TWTYPE_CURRENCY:
      *out = v.c;
      return 0;
    case TWTYPE_NUMERIC: {
      Scaled sc = ScaleNumeric(v.n, 4, true);
      const uint64_t most = sc.neg ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
      if (sc.overflow || sc.mag > most) {
        out->value = sc.neg ? INT64_MIN : INT64_MAX;
        return Permit(TWFAIL_OVERFLOW, flags);
      }
      out->value = sc.neg ? static_cast<int64_t>(0 - sc.mag) : static_cast<int64_t>(sc.mag);
      return sc.inexact ? PrecisionLost(flags) : 0;
    }
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

[[nodiscard]] uint32_t FromScalar(const Value& v, uint32_t flags, TWNumeric* out) {
  switch (v.type) {
    case TWTYPE_INT:
      *out = NumericFromInt64(v.i, 0);
      return 0;
    case TWTYPE_FLOAT:
      *out = TWNumeric{};
      return Permit(TWNumericFromFloat(out, &v.f), flags);
    case TWTYPE_CURRENCY:
      *out = NumericFromInt64(v.c.value, 4);
      return 0;
    case TWTYPE_NUMERIC:
      *out = v.n;
      return 0;
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

[[nodiscard]] uint32_t FromScalar(const Value& v, uint32_t, TWDatetime* out) {
  if (v.type != TWTYPE_DATETIME) return TWFAIL_INVALID_CONVERT;
  *out = v.d;
  return 0;
}

// Converts in to the type of *out: 0, TWFAIL_OVERFLOW with *out clamped (never under
// TWFIELDF_TRUNC_DATA, which takes the clamped value silently), or another status with *out
// unspecified. A list's first entry converts; more entries give TWFAIL_OVERFLOW unless a
// conversion failure says more.
template <class T>
[[nodiscard]] uint32_t To(const Value& in, uint32_t flags, T* out, bool* isNull) {
  Value v;
  uint32_t ls = Scalarize(in, flags, &v, isNull);
  if ((ls != 0 && ls != TWFAIL_OVERFLOW) || *isNull) return *isNull ? 0 : ls;
  uint32_t st =
      v.type == TWTYPE_TEXT ? Permit(FromText(v.s, out), flags) : FromScalar(v, flags, out);
  return st != 0 ? st : ls;
}

// ---- values to streams

// Stores bytes in target. A value longer than target's capacity is cut when target allows it
// (TWSTREAMF_TRUNCATE) or cut is set, else TWFAIL_OVERFLOW with target untouched; a list is
// never cut, since its bytes would no longer form one.
[[nodiscard]] uint32_t StoreBytes(TWStream* target, uint32_t format, const void* data,
                                  uint32_t length, bool cut) {
  bool add = false;
  if (target->maxLength != 0 && length > target->maxLength &&
      (target->flags & TWSTREAMF_TRUNCATE) == 0) {
    if (!cut || IsListFormat(format)) return TWFAIL_OVERFLOW;
    add = true;
    target->flags |= TWSTREAMF_TRUNCATE;
  }
  uint32_t st = TWStreamDataSet(target, format, data, length);
  if (add) target->flags &= ~uint32_t{TWSTREAMF_TRUNCATE};
  return st;
}

TWDatetime VisibleHalves(const TWDatetime& d, uint32_t dtFlags) {
  TWDatetime out = d;
  if (dtFlags & TWDATETIMEF_NO_TIME) TWDatetimeSetTicks(&out, TWDTNULL_TIME);
  if (dtFlags & TWDATETIMEF_NO_DATE) TWDatetimeSetJulian(&out, TWDTNULL_DATE);
  return out;
}

[[nodiscard]] uint32_t ScalarText(const Value& v, TWStream* out, uint32_t format) {
  switch (v.type) {
    case TWTYPE_INT:
      return TWStreamFromInt(out, &v.i, format);
    case TWTYPE_FLOAT:
      return TWStreamFromFloat(out, &v.f, format);
    case TWTYPE_CURRENCY:
      return TWStreamFromCurrency(out, &v.c, format);
    case TWTYPE_NUMERIC:
      return TWStreamFromNumeric(out, &v.n, format);
    case TWTYPE_DATETIME: {
      TWDatetime d = VisibleHalves(v.d, v.dtFlags);
      return TWStreamFromDatetime(out, &d, format);
    }
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

// Writes v into target in format. A slot (slot set) keeps its old value on failure and may be
// cut under flags' TWFIELDF_TRUNC_DATA; a caller's stream follows its own rules.
[[nodiscard]] uint32_t WriteStream(const Value& v, uint32_t format, TWStream* target,
                                   uint32_t flags, bool slot) {
  bool cut = slot && (flags & TWFIELDF_TRUNC_DATA) != 0;
  uint32_t st = 0;
  if (IsStreamType(v.type)) {
    const TWStream* src = v.s;
    if (format == 0 || format == src->format) {
      if (src == target) return 0;
      if (!slot) return TWStreamDataCopy(target, src);
      uint32_t fmt = src->format != 0      ? src->format
                     : target->format != 0 ? target->format
                                           : TWSTREAMFMT_NATIVE;
      return StoreBytes(target, fmt, src->data, src->length, cut);
    }
    if (!slot)
      return TWStreamDataConvert(target, src, TWCONVERTF_PRESERVE, format, nullptr, nullptr);
    void* data = nullptr;
    uint32_t length = 0;
    if ((st = TWStreamDataConvert(Scratch(0), src, TWCONVERTF_PRESERVE, format, &data, &length)))
      return st;
    return StoreBytes(target, format, data, length, cut);
  }
  if (IsCharset(format)) {
    TWStream* out = slot ? Scratch(0) : target;
    if ((st = ScalarText(v, out, format))) return st;
    return slot ? StoreBytes(target, format, out->data, out->length, cut) : 0;
  }
  unsigned char buf[16];
  switch (format) {
    case TWSTREAMFMT_TEXT_LIST: {
      TWStream* text = Scratch(0);
      if ((st = ScalarText(v, text, TWSTREAMFMT_QMBCS))) return st;
      uint32_t n = text->length;
      if (n > 0xFFFF) return TWFAIL_OVERFLOW;
      std::string list;  // a scalar's text fits the stack buffer; this only guards it
      unsigned char small[256];
      unsigned char* p = small;
      if (n + 4 > sizeof small) {
        list.resize(n + 4);
        p = reinterpret_cast<unsigned char*>(list.data());
      }
      tw::put_u16(p, 1);
      tw::put_u16(p + 2, static_cast<uint16_t>(n));
      if (n != 0) std::memcpy(p + 4, text->data, n);
      return StoreBytes(target, format, p, n + 4, cut);
    }
    case TWSTREAMFMT_NUMBER_LIST: {
      if (!IsNumberType(v.type)) return TWFAIL_INVALID_CONVERT;
      double d = 0;
      bool isNull = false;
      if ((st = To(v, flags, &d, &isNull))) return st;
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      tw::put_u16(buf, 1);
      tw::put_u16(buf + 2, 0);
      tw::put_u64(buf + 4, bits);
      return StoreBytes(target, format, buf, 12, cut);
    }
    case TWSTREAMFMT_DATETIME_LIST: {
      if (v.type != TWTYPE_DATETIME) return TWFAIL_INVALID_CONVERT;
      TWDatetime d = VisibleHalves(v.d, v.dtFlags);
      tw::put_u16(buf, 1);
      tw::put_u16(buf + 2, 0);
      tw::put_u32(buf + 4, d.ticks);
      tw::put_u32(buf + 8, d.date);
      return StoreBytes(target, format, buf, 12, cut);
    }
    default:
      return TWFAIL_INVALID_CONVERT;
  }
}

// ---- storing into slots

void MakeNull(TWFieldImpl* f, uint32_t index) {
  if (IsStreamType(f->type)) {
    TWStreamDataFree(StreamSlot(f, index));
  } else {
    std::memset(SlotPtr(f, index), 0, f->size);
  }
  f->nulls[index - 1] = 1;
}

// The format a stream slot receives v in: the field's declared format, else the value's own
// (text for a scalar in a TEXT field, a one-entry list in a BINARY field).
uint32_t SlotFormat(const TWFieldImpl* f, const Value& v) {
  if (f->stFormat != 0) return f->stFormat;
  if (IsStreamType(v.type)) return v.s->format;
  if (f->type == TWTYPE_TEXT) return TWSTREAMFMT_NATIVE;
  return v.type == TWTYPE_DATETIME ? TWSTREAMFMT_DATETIME_LIST : TWSTREAMFMT_NUMBER_LIST;
}

template <class T>
[[nodiscard]] uint32_t StoreScalar(TWFieldImpl* f, uint32_t index, const Value& v) {
  T out{};
  bool isNull = false;
  if (uint32_t st = To(v, f->flags, &out, &isNull)) return st;
  if (isNull) {
    MakeNull(f, index);
    return 0;
  }
  std::memcpy(SlotPtr(f, index), &out, sizeof out);
  f->nulls[index - 1] = 0;
  return 0;
}

[[nodiscard]] uint32_t StoreValue(TWFieldImpl* f, uint32_t index, const Value& v) {
  switch (f->type) {
    case TWTYPE_INT:
      return StoreScalar<int32_t>(f, index, v);
    case TWTYPE_FLOAT:
      return StoreScalar<double>(f, index, v);
    case TWTYPE_CURRENCY:
      return StoreScalar<TWCurrency>(f, index, v);
    case TWTYPE_NUMERIC:
      return StoreScalar<TWNumeric>(f, index, v);
    case TWTYPE_DATETIME:
      return StoreScalar<TWDatetime>(f, index, v);
    case TWTYPE_TEXT:
    case TWTYPE_BINARY: {
      if (uint32_t st = WriteStream(v, SlotFormat(f, v), StreamSlot(f, index), f->flags, true))
        return st;
      f->nulls[index - 1] = 0;
      return 0;
    }
    default:
      return TWFAIL_INVALID_TYPE;
  }
}

// Where a value of each scalar type sits in a Value.
template <class T>
constexpr T Value::*kMember = nullptr;
template <>
constexpr int32_t Value::*kMember<int32_t> = &Value::i;
template <>
constexpr double Value::*kMember<double> = &Value::f;
template <>
constexpr TWCurrency Value::*kMember<TWCurrency> = &Value::c;
template <>
constexpr TWNumeric Value::*kMember<TWNumeric> = &Value::n;
template <>
constexpr TWDatetime Value::*kMember<TWDatetime> = &Value::d;

template <class T>
[[nodiscard]] uint32_t SetTyped(TWFIELD field, uint32_t index, const T* value, uint32_t type) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    if (field->type == type) {
      std::memcpy(SlotPtr(field, index), value, sizeof(T));
      field->nulls[index - 1] = 0;
      return 0;
    }
    Value v;
    v.type = type;
    v.*kMember<T> = *value;
    return StoreValue(field, index, v);
  });
}

template <class T>
[[nodiscard]] uint32_t GetTyped(TWFIELD field, uint32_t index, T* value, int32_t* isNull,
                                uint32_t type) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (value == nullptr) return TWFAIL_NULL_RESULT;
    if (field->nulls[index - 1] != 0) {
      *value = T{};
      if (isNull) *isNull = 1;
      return 0;
    }
    if (field->type == type) {
      std::memcpy(value, SlotPtr(field, index), sizeof(T));
      if (isNull) *isNull = 0;
      return 0;
    }
    T out{};
    bool null = false;
    uint32_t st = To(ReadSlot(field, index), field->flags, &out, &null);
    if (st != 0 && st != TWFAIL_OVERFLOW) return st;
    *value = null ? T{} : out;
    if (isNull) *isNull = null ? 1 : 0;
    return st;
  });
}

// ---- comparison

enum class Kind { kNumber, kDatetime, kStream, kMismatch };

// Which comparison a pair of types takes; format is a BINARY side's stream format (0 when not
// known yet, which lets the pair through until values show it).
Kind PairKind(uint32_t ta, uint32_t fa, uint32_t tb, uint32_t fb) {
  if (ta == tb && ta != TWTYPE_BINARY) {
    if (IsNumberType(ta)) return Kind::kNumber;
    if (ta == TWTYPE_DATETIME) return Kind::kDatetime;
    if (ta == TWTYPE_TEXT) return Kind::kStream;
    return Kind::kMismatch;
  }
  if (ta > tb) {
    std::swap(ta, tb);
    std::swap(fa, fb);
  }
  if (tb != TWTYPE_BINARY)
    return IsNumberType(ta) && IsNumberType(tb) ? Kind::kNumber : Kind::kMismatch;
  if (IsNumberType(ta))
    return fb == 0 || fb == TWSTREAMFMT_NUMBER_LIST ? Kind::kNumber : Kind::kMismatch;
  if (ta == TWTYPE_DATETIME)
    return fb == 0 || fb == TWSTREAMFMT_DATETIME_LIST ? Kind::kDatetime : Kind::kMismatch;
  if (ta == TWTYPE_TEXT) return Kind::kStream;
  if (ta == TWTYPE_BINARY)
    return fa == 0 || fb == 0 || fa == fb || fa == TWSTREAMFMT_BLOB || fb == TWSTREAMFMT_BLOB
               ? Kind::kStream
               : Kind::kMismatch;
  return Kind::kMismatch;
}

uint32_t DeclaredFormat(const TWFieldImpl* f) {
  return f->type == TWTYPE_BINARY ? f->stFormat : 0;
}
uint32_t ValueFormat(const TWFieldImpl* f, const Value& v) {
  if (f->type != TWTYPE_BINARY) return 0;
  return f->stFormat != 0 ? f->stFormat : v.s->format;
}

int Sign(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) == std::isnan(b) ? 0 : std::isnan(a) ? -1 : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}
template <class T>
int Sign3(T a, T b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

// A number value as a double (a number list gives its first entry; none: null).
[[nodiscard]] uint32_t NumberAsDouble(const Value& v, double* out, bool* isNull) {
  *isNull = false;
  switch (v.type) {
    case TWTYPE_INT:
      *out = v.i;
      return 0;
    case TWTYPE_FLOAT:
      *out = v.f;
      return 0;
    case TWTYPE_CURRENCY:
      return TWFloatFromCurrency(out, &v.c);
    case TWTYPE_NUMERIC:
      return TWFloatFromNumeric(out, &v.n);
    default: {
      uint32_t n = 0, r = 0;
      if (uint32_t st = TWNumberListGetCount(v.s, &n, &r)) return st;
      if (n == 0) {
        *isNull = true;
        return 0;
      }
      return TWNumberListGetFirst(v.s, out);
    }
  }
}

TWNumeric ExactNumeric(const Value& v) {
  if (v.type == TWTYPE_INT) return NumericFromInt64(v.i, 0);
  if (v.type == TWTYPE_CURRENCY) return NumericFromInt64(v.c.value, 4);
  return v.n;
}

[[nodiscard]] uint32_t CompareNumbers(const Value& a, const Value& b, uint32_t flags, int32_t* r) {
  bool floating = a.type == TWTYPE_FLOAT || b.type == TWTYPE_FLOAT || IsStreamType(a.type) ||
                  IsStreamType(b.type);
  if (!floating) {
    if (a.type == b.type && a.type == TWTYPE_INT) {
      *r = Sign3(a.i, b.i);
      return 0;
    }
    if (a.type == b.type && a.type == TWTYPE_CURRENCY) {
      *r = Sign3(a.c.value, b.c.value);
      return 0;
    }
    TWNumeric na = ExactNumeric(a), nb = ExactNumeric(b);
    return TWNumericCompare(&na, &nb, r);
  }
  double da = 0, db = 0;
  bool nullA = false, nullB = false;
  if (uint32_t st = NumberAsDouble(a, &da, &nullA)) return st;
  if (uint32_t st = NumberAsDouble(b, &db, &nullB)) return st;
  if (nullA || nullB) {
    *r = nullA == nullB ? 0 : nullA ? -1 : 1;
    return 0;
  }
  int digits = flags & kCompareLowBits         ? TWFLOAT_LOW_PREC
               : flags & TWCOMPAREF_FLOAT_PREC ? TWMAX_FLOAT_PREC
                                               : 0;
  *r = Sign(RoundDigits(da, digits), RoundDigits(db, digits));
  return 0;
}

[[nodiscard]] uint32_t DatetimeOf(const Value& v, TWDatetime* out, bool* isNull) {
  *isNull = false;
  if (v.type == TWTYPE_DATETIME) {
    *out = v.d;
    return 0;
  }
  uint32_t n = 0, r = 0;
  if (uint32_t st = TWDatetimeListGetCount(v.s, &n, &r)) return st;
  if (n == 0) {
    *isNull = true;
    return 0;
  }
  return TWDatetimeListGetFirst(v.s, out);
}

uint32_t CompareDatetimes(const Value& a, const Value& b, uint32_t flags, int32_t* r) {
  TWDatetime da{}, db{};
  bool nullA = false, nullB = false;
  if (uint32_t st = DatetimeOf(a, &da, &nullA)) return st;
  if (uint32_t st = DatetimeOf(b, &db, &nullB)) return st;
  if (nullA || nullB) {
    *r = nullA == nullB ? 0 : nullA ? -1 : 1;
    return 0;
  }
  return twcore::CompareDatetimes(da, db, flags, r);
}

// ---- comparison as the coarser of two formats holds the values (TWCOMPAREF_FORMAT)
//
// A value written to the coarser side comes back rounded there, or cut, as that side's data
// source does it: a pair counts as equal when rounding both to the coarser unit, or cutting
// both, gives one value. A difference of a whole unit or more stays a difference.

// What a number field holds by its type and format: decimals after the point (-1: any) and
// the significant digits of a float (0: exact).
struct NumberHolding {
  int decimals = -1;
  int digits = 0;
};
NumberHolding HoldingOf(const TWFieldImpl* f) {
  NumberHolding h;
  const bool scaled = f->numScale != 0;
  const int32_t scale = f->numScale == static_cast<int32_t>(TWSCALE_ZERO) ? 0 : f->numScale;
  const bool decimal = (f->numFlags & (TWNUMBERF_NUMERIC | TWNUMBERF_DECIMAL)) != 0;
  switch (f->type) {
    case TWTYPE_INT:
      h.decimals = 0;
      break;
    case TWTYPE_CURRENCY:
      h.decimals =
          scaled && scale >= 0 && scale < TWMAX_CURRENCY_SCALE ? scale : TWMAX_CURRENCY_SCALE;
      break;
    case TWTYPE_NUMERIC:
      if (scaled && scale >= 0) h.decimals = scale;
      break;
    case TWTYPE_FLOAT:
      h.digits = !decimal && f->numPrecision > 0 && f->numPrecision < TWMAX_FLOAT_PREC
                     ? static_cast<int>(f->numPrecision)
                     : TWMAX_FLOAT_PREC;
      if (decimal && scaled && scale >= 0) h.decimals = scale;
      break;
    default:  // a number list holds doubles
      h.digits = TWMAX_FLOAT_PREC;
      break;
  }
  return h;
}

int Coarser(int x, int y, int none) {
  if (x == none) return y;
  if (y == none) return x;
  return x < y ? x : y;
}

// A value on a grid of decimals, rounded half away from zero and cut toward zero.
struct OnGrid {
  __int128 rounded = 0;
  __int128 cut = 0;
};
constexpr int kMaxGridDecimals = 18;

__int128 Pow10(int n) {
  __int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// A double taken to digits significant digits, then to decimals; false when it does not fit.
bool FloatOnGrid(double v, int digits, int decimals, OnGrid* out) {
  if (!std::isfinite(v)) return false;
  if (v == 0) {
    *out = OnGrid{};
    return true;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, std::fabs(v));
  __int128 mantissa = 0;
  const char* p = text;
  for (; *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mantissa = mantissa * 10 + (*p - '0');
  const int exponent = std::atoi(p + 1);
  // text is mantissa * 10^(exponent - digits + 1); shifted by decimals.
  const int shift = exponent - (digits - 1) + decimals;
  __int128 rounded = 0, cut = 0;
  if (shift >= 0) {
    // Fewer than 16 digits times 10^20 stays well inside 128 bits.
    if (shift > 20) return false;
    rounded = cut = mantissa * Pow10(shift);
  } else if (-shift <= 36) {
    const __int128 unit = Pow10(-shift);
    cut = mantissa / unit;
    rounded = cut + (mantissa % unit * 2 >= unit ? 1 : 0);
  }
  out->rounded = v < 0 ? -rounded : rounded;
  out->cut = v < 0 ? -cut : cut;
  return true;
}

bool ExactOnGrid(const Value& v, int decimals, OnGrid* out) {
  const TWNumeric n = ExactNumeric(v);
  const Scaled rounded = ScaleNumeric(n, decimals, true);
  const Scaled cut = ScaleNumeric(n, decimals, false);
  if (rounded.overflow || cut.overflow) return false;
  out->rounded = rounded.neg ? -static_cast<__int128>(rounded.mag) : rounded.mag;
  out->cut = cut.neg ? -static_cast<__int128>(cut.mag) : cut.mag;
  return true;
}

[[nodiscard]] uint32_t CompareHeldNumbers(const TWFieldImpl* fa, const Value& a,
                                          const TWFieldImpl* fb, const Value& b, uint32_t flags,
                                          int32_t* r) {
  // Whole numbers on both sides hold each other exactly: the grid below would only scale them.
  if (fa->type == TWTYPE_INT && fb->type == TWTYPE_INT) {
    *r = Sign3(a.i, b.i);
    return 0;
  }
  const NumberHolding ha = HoldingOf(fa), hb = HoldingOf(fb);
  int digits = Coarser(ha.digits, hb.digits, 0);
  if (digits != 0 && (flags & kCompareLowBits) && digits > TWFLOAT_LOW_PREC)
    digits = TWFLOAT_LOW_PREC;
  const int decimals = Coarser(ha.decimals, hb.decimals, -1);
  if (decimals < 0 || decimals > kMaxGridDecimals) {
    if (digits == 0) return CompareNumbers(a, b, flags, r);
    double da = 0, db = 0;
    bool nullA = false, nullB = false;
    if (uint32_t st = NumberAsDouble(a, &da, &nullA)) return st;
    if (uint32_t st = NumberAsDouble(b, &db, &nullB)) return st;
    if (nullA || nullB) return CompareNumbers(a, b, flags, r);
    *r = Sign(RoundDigits(da, digits), RoundDigits(db, digits));
    return 0;
  }
  OnGrid ga, gb;
  bool fits = false;
  if (digits == 0) {
    fits = ExactOnGrid(a, decimals, &ga) && ExactOnGrid(b, decimals, &gb);
  } else {
    double da = 0, db = 0;
    bool nullA = false, nullB = false;
    if (uint32_t st = NumberAsDouble(a, &da, &nullA)) return st;
    if (uint32_t st = NumberAsDouble(b, &db, &nullB)) return st;
    fits = !nullA && !nullB && FloatOnGrid(da, digits, decimals, &ga) &&
           FloatOnGrid(db, digits, decimals, &gb);
  }
  if (!fits) return CompareNumbers(a, b, flags, r);
  *r = ga.rounded == gb.rounded || ga.cut == gb.cut ? 0 : Sign3(ga.rounded, gb.rounded);
  return 0;
}

// Hundredths in one unit of what a datetime field holds.
int64_t TicksHeld(const TWFieldImpl* f) {
  if (f->dtFlags & TWDATETIMEF_SECOND) return 100;
  if (f->dtFlags & TWDATETIMEF_TENTH) return 10;
  return 1;
}

[[nodiscard]] uint32_t CompareHeldDatetimes(const TWFieldImpl* fa, const Value& a,
                                            const TWFieldImpl* fb, const Value& b, uint32_t flags,
                                            int32_t* r) {
  TWDatetime va{}, vb{};
  bool nullA = false, nullB = false;
  if (uint32_t st = DatetimeOf(a, &va, &nullA)) return st;
  if (uint32_t st = DatetimeOf(b, &vb, &nullB)) return st;
  if (nullA || nullB) return CompareDatetimes(a, b, flags, r);
  twcore::DT da, db;
  if (uint32_t st = twcore::Decode(va, &da)) return st;
  if (uint32_t st = twcore::Decode(vb, &db)) return st;
  const uint32_t halves = fa->dtFlags | fb->dtFlags;
  for (twcore::DT* d : {&da, &db}) {
    if (halves & TWDATETIMEF_NO_TIME) d->time_null = true;
    if (halves & TWDATETIMEF_NO_DATE) d->date_null = true;
  }
  const int64_t unit = std::max(TicksHeld(fa), TicksHeld(fb));
  auto held = [unit](twcore::DT d, bool round) {
    if (d.time_null || unit == 1) return twcore::Encode(d);
    d.ticks = (d.ticks + (round ? unit / 2 : 0)) / unit * unit;
    if (d.ticks >= twcore::kTicksPerDay) {
      d.ticks -= twcore::kTicksPerDay;
      if (!d.date_null && d.julian < twcore::kMaxJulian)
        ++d.julian;
      else
        d.ticks = twcore::kTicksPerDay - unit;
    }
    return twcore::Encode(d);
  };
  if (uint32_t st = twcore::CompareDatetimes(held(da, true), held(db, true), flags, r)) return st;
  if (*r == 0) return 0;
  int32_t cut = 0;
  if (uint32_t st = twcore::CompareDatetimes(held(da, false), held(db, false), flags, &cut))
    return st;
  if (cut == 0) *r = 0;
  return 0;
}

[[nodiscard]] uint32_t CompareOne(const TWFieldImpl* fa, uint32_t ia, const TWFieldImpl* fb,
                                  uint32_t ib, uint32_t flags, int32_t* r) {
  bool nullA = fa->nulls[ia - 1] != 0, nullB = fb->nulls[ib - 1] != 0;
  if (nullA || nullB) {
    *r = nullA == nullB ? 0 : nullA ? -1 : 1;
    return 0;
  }
  // Two integers compare as they are under every flag (the commonest keys take no detour).
  if (fa->type == TWTYPE_INT && fb->type == TWTYPE_INT) {
    int32_t x = 0, y = 0;
    std::memcpy(&x, SlotPtr(fa, ia), sizeof x);
    std::memcpy(&y, SlotPtr(fb, ib), sizeof y);
    *r = Sign3(x, y);
    return 0;
  }
  Value a = ReadSlot(fa, ia), b = ReadSlot(fb, ib);
  const bool held = (flags & TWCOMPAREF_FORMAT) != 0;
  switch (PairKind(fa->type, ValueFormat(fa, a), fb->type, ValueFormat(fb, b))) {
    case Kind::kNumber:
      return held ? CompareHeldNumbers(fa, a, fb, b, flags, r) : CompareNumbers(a, b, flags, r);
    case Kind::kDatetime:
      return held ? CompareHeldDatetimes(fa, a, fb, b, flags, r) : CompareDatetimes(a, b, flags, r);
    case Kind::kStream: {
      const bool padded = held && ((fa->type == TWTYPE_TEXT && (fa->stFlags & TWSTREAMF_FIXED)) ||
                                   (fb->type == TWTYPE_TEXT && (fb->stFlags & TWSTREAMF_FIXED)));
      int32_t res = 0;
      if (uint32_t st = flowcore::CompareStreams(a.s, b.s, padded, &res)) return st;
      *r = Sign3(res, 0);
      return 0;
    }
    default:
      return TWFAIL_TYPE_MISMATCH;
  }
}

// ---- storage

void AllocStorage(uint32_t type, uint32_t count, std::unique_ptr<unsigned char[]>* values,
                  std::unique_ptr<int32_t[]>* nulls) {
  uint64_t bytes = uint64_t{count} * twfc::TypeSize(type);
  if (bytes + uint64_t{count} * sizeof(int32_t) > kMaxStorageBytes) throw std::bad_alloc();
  values->reset(new unsigned char[bytes == 0 ? 1 : bytes]());
  nulls->reset(new int32_t[count == 0 ? 1 : count]);
  for (uint32_t i = 0; i < count; ++i) (*nulls)[i] = 1;
}

// Puts the field's stream format on its value streams. A stream holding data whose capacity
// or flags change is stored anew under the new words, so that a block the stream functions
// sized for the old ones is never used with the new; held data keeps its own format.
[[nodiscard]] uint32_t StampStreams(TWFieldImpl* f) {
  if (!IsStreamType(f->type)) return 0;
  for (uint32_t i = 1; i <= f->count; ++i) {
    TWStream* s = StreamSlot(f, i);
    if (s->data == nullptr) {
      s->maxLength = f->stMaxLength;
      s->flags = f->stFlags;
      s->format = f->stFormat;
      s->length = 0;
      continue;
    }
    if (s->maxLength != f->stMaxLength || (s->flags & ~kPrivateStreamBits) != f->stFlags) {
      std::string held(static_cast<const char*>(s->data), s->length);
      uint32_t format = s->format;
      TWStreamDataFree(s);
      s->maxLength = f->stMaxLength;
      s->flags = f->stFlags;
      s->format = format;
      s->length = 0;
      if (!held.empty() && format != 0) {
        uint32_t st = StoreBytes(s, format, held.data(), static_cast<uint32_t>(held.size()), true);
        if (st != 0) return st;
      }
    }
    if (s->length == 0 && f->stFormat != 0) s->format = f->stFormat;
  }
  return 0;
}

void CopyDefinition(TWFieldImpl* dst, const TWFieldImpl* src) {
  dst->flags = src->flags;
  dst->virtualCode = src->virtualCode;
  dst->numFlags = src->numFlags;
  dst->numSize = src->numSize;
  dst->numPrecision = src->numPrecision;
  dst->numScale = src->numScale;
  dst->dtFlags = src->dtFlags;
  dst->dtSize = src->dtSize;
  dst->stFlags = src->stFlags;
  dst->stMaxLength = src->stMaxLength;
  dst->stFormat = src->stFormat;
}

// dst (same type and count as src) takes src's values and null words; each value stream takes
// the words of src's, so a copy is exact even where a connector filled a stream beyond them.
[[nodiscard]] uint32_t CopyValues(TWFieldImpl* dst, const TWFieldImpl* src) {
  if (!IsStreamType(src->type)) {
    if (src->count != 0 && src->size != 0)
      std::memcpy(dst->values.get(), src->values.get(), size_t{src->count} * src->size);
    std::memcpy(dst->nulls.get(), src->nulls.get(), size_t{src->count} * sizeof(int32_t));
    return 0;
  }
  for (uint32_t i = 1; i <= src->count; ++i) {
    TWStream* d = StreamSlot(dst, i);
    const TWStream* s = StreamSlot(src, i);
    TWStreamDataFree(d);
    d->maxLength = s->maxLength;
    d->flags = s->flags & ~kPrivateStreamBits;
    d->format = s->format;
    d->length = 0;
    dst->nulls[i - 1] = src->nulls[i - 1];
    if (s->length != 0 && s->format != 0) {
      if (uint32_t st = StoreBytes(d, s->format, s->data, s->length, true)) return st;
    }
  }
  return 0;
}

}  // namespace

// ---- internal interface

TWFieldImpl::~TWFieldImpl() {
  magic = twfc::kDeadMagic;
  if (IsStreamType(type) && values) {
    for (uint32_t i = 1; i <= count; ++i) TWStreamDataFree(StreamSlot(this, i));
  }
}

namespace twfc {

TWFieldImpl* NewField(uint32_t type, uint32_t count, uint32_t flags, bool listOwned) {
  std::unique_ptr<TWFieldImpl> f(new TWFieldImpl);
  AllocStorage(type, count, &f->values, &f->nulls);
  f->type = type;
  f->size = TypeSize(type);
  f->count = count;
  f->flags = flags;
  f->listOwned = listOwned;
  return f.release();
}

void Release(TWFieldImpl* f) {
  if (f != nullptr && f->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete f;
}

uint32_t CloneField(const TWFieldImpl* source, TWFieldImpl** out) {
  std::unique_ptr<TWFieldImpl> f(NewField(source->type, source->count, source->flags, true));
  CopyDefinition(f.get(), source);
  if (uint32_t st = CopyValues(f.get(), source)) return st;
  *out = f.release();
  return 0;
}

}  // namespace twfc

// ---- the API

extern "C" {

TW_API uint32_t TWFieldAlloc(TWFIELD* field, uint32_t type, uint32_t valueCount) {
  return tw::guard([&]() -> uint32_t {
    if (field == nullptr) return TWFAIL_NULL_RESULT;
    *field = TWNULLHANDLE;
    if (type < TWTYPE_INT || type > TWTYPE_MAX) return TWFAIL_INVALID_TYPE;
    if (valueCount == 0) return TWFAIL_ZERO_COUNT;
    *field = twfc::NewField(type, valueCount, 0, false);
    return 0;
  });
}

TW_API uint32_t TWFieldFree(TWFIELD field) {
  return tw::guard([&]() -> uint32_t {
    if (field == TWNULLHANDLE) return 0;
    if (!FieldOk(field) || field->listOwned) return TWFAIL_INVALID_FIELD;
    twfc::Release(field);
    return 0;
  });
}

TW_API uint32_t TWFieldCompare(TWFIELD field, uint32_t thisIndex, TWFIELD base, uint32_t baseIndex,
                               uint32_t valueCount, uint32_t flags, int32_t* result) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckRun(field, thisIndex, valueCount)) return st;
    if (uint32_t st = CheckRun(base, baseIndex, valueCount)) return st;
    if (result == nullptr) return TWFAIL_NULL_RESULT;
    if (flags & ~uint32_t{0xFF | TWCOMPAREF_FORMAT}) return TWFAIL_INVALID_FLAGS;
    if (flags & kCompareLowBits)
      flags |= TWCOMPAREF_NO_ZONE | TWCOMPAREF_SECOND | TWCOMPAREF_FLOAT_PREC;
    if (PairKind(field->type, DeclaredFormat(field), base->type, DeclaredFormat(base)) ==
        Kind::kMismatch)
      return TWFAIL_TYPE_MISMATCH;
    int32_t r = 0;
    for (uint32_t k = 0; k < valueCount && r == 0; ++k) {
      if (uint32_t st = CompareOne(field, thisIndex + k, base, baseIndex + k, flags, &r)) return st;
    }
    *result = r;
    return 0;
  });
}

TW_API uint32_t TWFieldConvert(TWFIELD field, uint32_t thisIndex, TWFIELD source,
                               uint32_t sourceIndex, uint32_t valueCount) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckRun(field, thisIndex, valueCount)) return st;
    if (uint32_t st = CheckRun(source, sourceIndex, valueCount)) return st;
    // Within one field, a run moving up is copied from its end so that no value is read after
    // it was overwritten.
    bool backward = field == source && thisIndex > sourceIndex;
    for (uint32_t n = 0; n < valueCount; ++n) {
      uint32_t k = backward ? valueCount - 1 - n : n;
      uint32_t to = thisIndex + k, from = sourceIndex + k;
      if (field == source && to == from) continue;
      if (source->nulls[from - 1] != 0) {
        MakeNull(field, to);
        continue;
      }
      if (field->type == source->type && !IsStreamType(field->type)) {
        std::memcpy(SlotPtr(field, to), SlotPtr(source, from), field->size);
        field->nulls[to - 1] = 0;
        continue;
      }
      if (uint32_t st = StoreValue(field, to, ReadSlot(source, from))) return st;
    }
    return 0;
  });
}

TW_API uint32_t TWFieldCopy(TWFIELD field, TWFIELD source) {
  return tw::guard([&]() -> uint32_t {
    if (!FieldOk(field) || !FieldOk(source)) return TWFAIL_INVALID_FIELD;
    if (field == source) return 0;
    if (field->type == source->type && field->count == source->count) {
      if (uint32_t st = CopyValues(field, source)) return st;
      CopyDefinition(field, source);
      return 0;
    }
    if (field->listOwned)
      return field->type != source->type ? TWFAIL_INVALID_CONVERT : TWFAIL_RECORD_COUNT;
    // A standalone field takes source's shape; its old values leave with the temporary.
    std::unique_ptr<TWFieldImpl> fresh(twfc::NewField(source->type, source->count, 0, false));
    if (uint32_t st = CopyValues(fresh.get(), source)) return st;
    std::swap(field->type, fresh->type);
    std::swap(field->size, fresh->size);
    std::swap(field->count, fresh->count);
    std::swap(field->values, fresh->values);
    std::swap(field->nulls, fresh->nulls);
    CopyDefinition(field, source);
    return 0;
  });
}

TW_API uint32_t TWFieldGetBuffer(TWFIELD field, uint32_t index, void** value, int32_t** isNull) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (value) *value = SlotPtr(field, index);
    if (isNull) *isNull = &field->nulls[index - 1];
    return 0;
  });
}

// TWFieldGetInt, TWFieldSetInt, ... TWFieldGetDatetime, TWFieldSetDatetime.
#define TW_FIELD_TYPED(Name, T, type)                                                          \
  TW_API uint32_t TWFieldGet##Name(TWFIELD field, uint32_t index, T* value, int32_t* isNull) { \
    return GetTyped(field, index, value, isNull, type);                                        \
  }                                                                                            \
  TW_API uint32_t TWFieldSet##Name(TWFIELD field, uint32_t index, const T* value) {            \
    return SetTyped(field, index, value, type);                                                \
  }
TW_SCALAR_TYPES(TW_FIELD_TYPED)
#undef TW_FIELD_TYPED

TW_API uint32_t TWFieldGetStream(TWFIELD field, uint32_t index, uint32_t format, TWStream* dest,
                                 int32_t* isNull) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    if (field->nulls[index - 1] != 0) {
      TWStreamDataFree(dest);
      if (isNull) *isNull = 1;
      return 0;
    }
    Value v = ReadSlot(field, index);
    if (format == 0 && !IsStreamType(v.type)) format = TWSTREAMFMT_NATIVE;
    if (uint32_t st = WriteStream(v, format, dest, field->flags, false)) return st;
    if (isNull) *isNull = 0;
    return 0;
  });
}

TW_API uint32_t TWFieldSetStream(TWFIELD field, uint32_t index, const TWStream* value) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (value == nullptr) return TWFAIL_NULL_BUFFER;
    if (value->length != 0 && value->data == nullptr) return TWFAIL_NULL_BUFFER;
    Value v;
    v.type = TWTYPE_TEXT;
    v.s = value;
    if (value->format & TWSTREAMFMTF_BINARY) v.type = TWTYPE_BINARY;
    return StoreValue(field, index, v);
  });
}

TW_API uint32_t TWFieldSetNull(TWFIELD field, uint32_t index, int32_t isNull) {
  return tw::guard([&]() -> uint32_t {
    if (uint32_t st = CheckValue(field, index)) return st;
    if (isNull != 0) {
      MakeNull(field, index);
    } else {
      field->nulls[index - 1] = 0;
    }
    return 0;
  });
}

TW_API int32_t TWFieldIsNull(TWFIELD field, uint32_t index) {
  return tw::guard_value<int32_t>(1, [&]() -> int32_t {
    if (!FieldOk(field) || index == 0 || index > field->count) return 1;
    return field->nulls[index - 1] != 0 ? 1 : 0;
  });
}

TW_API uint32_t TWFieldGetType(TWFIELD field) {
  return FieldOk(field) ? field->type : 0;
}
TW_API uint32_t TWFieldGetTypeSize(TWFIELD field) {
  return FieldOk(field) ? field->size : 0;
}
TW_API uint32_t TWFieldGetValueCount(TWFIELD field) {
  return FieldOk(field) ? field->count : 0;
}
TW_API uint32_t TWFieldGetFlags(TWFIELD field) {
  return FieldOk(field) ? field->flags : 0;
}
TW_API uint32_t TWFieldGetVirtualCode(TWFIELD field) {
  return FieldOk(field) ? field->virtualCode : 0;
}

TW_API uint32_t TWFieldSetFlags(TWFIELD field, uint32_t flags) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  if (flags & ~twfc::kFieldFlagsMask) return TWFAIL_INVALID_FLAGS;
  field->flags = flags;
  return 0;
}

TW_API uint32_t TWFieldSetVirtualCode(TWFIELD field, uint32_t code) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  field->virtualCode = code & TWMASK_LINK_CODE;
  return 0;
}

TW_API uint32_t TWFieldSetFormatNumber(TWFIELD field, uint32_t flags, uint32_t size,
                                       uint32_t precision, int32_t scale) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  if (flags & ~kNumberFlagsMask) return TWFAIL_INVALID_FLAGS;
  field->numFlags = flags;
  field->numSize = size;
  field->numPrecision = precision;
  field->numScale = scale;
  return 0;
}

TW_API uint32_t TWFieldGetFormatNumber(TWFIELD field, uint32_t* flags, uint32_t* size,
                                       uint32_t* precision, int32_t* scale) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  if (flags) *flags = field->numFlags;
  if (size) *size = field->numSize;
  if (precision) *precision = field->numPrecision;
  if (scale) *scale = field->numScale;
  return 0;
}

TW_API uint32_t TWFieldSetFormatDatetime(TWFIELD field, uint32_t flags, uint32_t size) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  constexpr uint32_t both = TWDATETIMEF_NO_DATE | TWDATETIMEF_NO_TIME;
  constexpr uint32_t units = TWDATETIMEF_SECOND | TWDATETIMEF_TENTH;
  // A source with neither half, or with two time units, describes nothing.
  if ((flags & ~(both | units)) != 0 || (flags & both) == both || (flags & units) == units)
    return TWFAIL_INVALID_FLAGS;
  field->dtFlags = flags;
  field->dtSize = size;
  return 0;
}

TW_API uint32_t TWFieldGetFormatDatetime(TWFIELD field, uint32_t* flags, uint32_t* size) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  if (flags) *flags = field->dtFlags;
  if (size) *size = field->dtSize;
  return 0;
}

TW_API uint32_t TWFieldSetFormatStream(TWFIELD field, uint32_t flags, uint32_t maxLength,
                                       uint32_t format) {
  return tw::guard([&]() -> uint32_t {
    if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
    if (flags & ~kStreamFlagsMask) return TWFAIL_INVALID_FLAGS;
    if ((flags & TWSTREAMF_FIXED) && maxLength == 0) return TWFAIL_FIXED_LENGTH;
    field->stFlags = flags;
    field->stMaxLength = maxLength;
    field->stFormat = format;
    return StampStreams(field);
  });
}

TW_API uint32_t TWFieldGetFormatStream(TWFIELD field, uint32_t* flags, uint32_t* maxLength,
                                       uint32_t* format) {
  if (!FieldOk(field)) return TWFAIL_INVALID_FIELD;
  if (flags) *flags = field->stFlags;
  if (maxLength) *maxLength = field->stMaxLength;
  if (format) *format = field->stFormat;
  return 0;
}

}  // extern "C"
