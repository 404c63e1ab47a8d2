// Item values: the stored and passed list layouts, conversions between kinds, and numbers
// and date-times as text in the international settings.
#include "value.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <utility>

#include "platform.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"

namespace plexa {

// ---------------------------------------------------------------- Value --------------------

Value Value::Text(std::string text) {
  Value v;
  v.type = GVTYPE_TEXT;
  v.texts.push_back(std::move(text));
  return v;
}
Value Value::Number(double number) {
  Value v;
  v.type = GVTYPE_NUMBER;
  v.numbers.push_back(number);
  return v;
}
Value Value::Time(GVTIMEDATE time) {
  Value v;
  v.type = GVTYPE_TIME;
  v.times.push_back(time);
  return v;
}
Value Value::TextList(std::vector<std::string> texts) {
  Value v;
  v.type = GVTYPE_TEXT_LIST;
  v.texts = std::move(texts);
  return v;
}
Value Value::NumberList(std::vector<double> numbers) {
  Value v;
  v.type = GVTYPE_NUMBER_LIST;
  v.numbers = std::move(numbers);
  return v;
}
Value Value::TimeList(std::vector<GVTIMEDATE> times) {
  Value v;
  v.type = GVTYPE_TIME_LIST;
  v.times = std::move(times);
  return v;
}
Value Value::Composite(std::string records) {
  Value v;
  v.type = GVTYPE_COMPOSITE;
  v.records = std::move(records);
  return v;
}
Value Value::Unavailable() {
  Value v = Text("");
  v.unavailable = true;
  return v;
}

size_t Value::Count() const {
  if (IsTextType(type)) return texts.size();
  if (IsNumberType(type)) return numbers.size();
  if (IsTimeType(type)) return times.size();
  return 1;
}

bool IsTextType(uint32_t type) {
  return type == GVTYPE_TEXT || type == GVTYPE_TEXT_LIST;
}
bool IsNumberType(uint32_t type) {
  return type == GVTYPE_NUMBER || type == GVTYPE_NUMBER_LIST;
}
bool IsTimeType(uint32_t type) {
  return type == GVTYPE_TIME || type == GVTYPE_TIME_LIST;
}
uint32_t SingleOf(uint32_t type) {
  switch (type) {
    case GVTYPE_TEXT_LIST:
      return GVTYPE_TEXT;
    case GVTYPE_NUMBER_LIST:
      return GVTYPE_NUMBER;
    case GVTYPE_TIME_LIST:
      return GVTYPE_TIME;
    default:
      return type;
  }
}
uint32_t ListOf(uint32_t type) {
  switch (type) {
    case GVTYPE_TEXT:
      return GVTYPE_TEXT_LIST;
    case GVTYPE_NUMBER:
      return GVTYPE_NUMBER_LIST;
    case GVTYPE_TIME:
      return GVTYPE_TIME_LIST;
    default:
      return type;
  }
}

// ---------------------------------------------------------------- list layouts -------------

namespace {

bool IsListType(uint32_t type) {
  return type == GVTYPE_TEXT_LIST || type == GVTYPE_NUMBER_LIST || type == GVTYPE_TIME_LIST;
}

GVTIMEDATE TimeAt(const uint8_t* p) {
  return GVTIMEDATE{tw::get_u32(p), tw::get_u32(p + 4)};
}
double NumberAt(const uint8_t* p) {
  const uint64_t bits = tw::get_u64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void PutNumber(std::vector<uint8_t>& out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  uint8_t b[8];
  tw::put_u64(b, bits);
  out.insert(out.end(), b, b + 8);
}
void PutTime(std::vector<uint8_t>& out, const GVTIMEDATE& t) {
  uint8_t b[8];
  tw::put_u32(b, t.ticks);
  tw::put_u32(b + 4, t.date);
  out.insert(out.end(), b, b + 8);
}
void PutU16(std::vector<uint8_t>& out, size_t v) {
  uint8_t b[2];
  tw::put_u16(b, static_cast<uint16_t>(v));
  out.insert(out.end(), b, b + 2);
}

// Reads a list of kind from the start of bytes into out (entries and ranges); size is the
// bytes it occupies.
bool ReadList(uint32_t kind, std::span<const uint8_t> bytes, Value& out, size_t& size) {
  const uint8_t* p = bytes.data();
  const size_t n = bytes.size();
  if (n < 2) return false;
  if (kind == GVTYPE_TEXT_LIST) {
    const size_t count = tw::get_u16(p);
    size_t pos = 2 + 2 * count;
    if (pos > n) return false;
    std::vector<std::string> texts;
    texts.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      const size_t len = tw::get_u16(p + 2 + 2 * i);
      if (len > n - pos) return false;
      texts.emplace_back(reinterpret_cast<const char*>(p + pos), len);
      pos += len;
    }
    out.texts = std::move(texts);
    size = pos;
    return true;
  }
  if (n < 4) return false;
  const size_t count = tw::get_u16(p);
  const size_t ranges = tw::get_u16(p + 2);
  const size_t need = 4 + 8 * count + 16 * ranges;
  if (need > n) return false;
  if (kind == GVTYPE_NUMBER_LIST) {
    std::vector<double> numbers(count);
    std::vector<double> pairs(2 * ranges);
    for (size_t i = 0; i < count; ++i) numbers[i] = NumberAt(p + 4 + 8 * i);
    for (size_t i = 0; i < 2 * ranges; ++i) pairs[i] = NumberAt(p + 4 + 8 * count + 8 * i);
    out.numbers = std::move(numbers);
    out.numberRanges = std::move(pairs);
  } else {
    std::vector<GVTIMEDATE> times(count);
    std::vector<GVTIMEDATE> pairs(2 * ranges);
    for (size_t i = 0; i < count; ++i) times[i] = TimeAt(p + 4 + 8 * i);
    for (size_t i = 0; i < 2 * ranges; ++i) pairs[i] = TimeAt(p + 4 + 8 * count + 8 * i);
    out.times = std::move(times);
    out.timeRanges = std::move(pairs);
  }
  size = need;
  return true;
}

// The list layout of v's entries as kind (a list type). Counts and text lengths beyond a
// 16-bit word: false, unless cut is set (then they are cut to fit).
bool WriteList(const Value& v, uint32_t kind, bool cut, std::vector<uint8_t>& out) {
  constexpr size_t kWord = 0xFFFF;
  if (kind == GVTYPE_TEXT_LIST) {
    size_t count = v.texts.size();
    if (count > kWord) {
      if (!cut) return false;
      count = kWord;
    }
    std::vector<size_t> lengths(count);
    for (size_t i = 0; i < count; ++i) {
      lengths[i] = v.texts[i].size();
      if (lengths[i] > kWord) {
        if (!cut) return false;
        lengths[i] = Utf8Cut(v.texts[i], kWord);
      }
    }
    PutU16(out, count);
    for (size_t len : lengths) PutU16(out, len);
    for (size_t i = 0; i < count; ++i)
      out.insert(out.end(), v.texts[i].begin(), v.texts[i].begin() + lengths[i]);
    return true;
  }
  const bool numbers = kind == GVTYPE_NUMBER_LIST;
  size_t count = numbers ? v.numbers.size() : v.times.size();
  size_t ranges = (numbers ? v.numberRanges.size() : v.timeRanges.size()) / 2;
  if (count > kWord || ranges > kWord) {
    if (!cut) return false;
    count = count > kWord ? kWord : count;
    ranges = ranges > kWord ? kWord : ranges;
  }
  PutU16(out, count);
  PutU16(out, ranges);
  for (size_t i = 0; i < count; ++i) {
    if (numbers)
      PutNumber(out, v.numbers[i]);
    else
      PutTime(out, v.times[i]);
  }
  for (size_t i = 0; i < 2 * ranges; ++i) {
    if (numbers)
      PutNumber(out, v.numberRanges[i]);
    else
      PutTime(out, v.timeRanges[i]);
  }
  return true;
}

bool WriteItem(const Value& v, bool cut, std::vector<uint8_t>& out) {
  out.clear();
  switch (v.type) {
    case GVTYPE_COMPOSITE:
    case GVTYPE_OTHER:
      out.assign(v.records.begin(), v.records.end());
      return true;
    case GVTYPE_TEXT:
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST:
      return WriteList(v, ListOf(v.type), cut, out);
    default:
      // An unknown type has no layout of its own: it stores as the empty text list.
      return WriteList(Value::TextList({}), GVTYPE_TEXT_LIST, cut, out);
  }
}

}  // namespace

uint32_t DecodeItem(uint32_t type, std::span<const uint8_t> stored, Value& out) {
  Value v;
  v.type = type;
  switch (type) {
    case GVTYPE_COMPOSITE:
    case GVTYPE_OTHER:
      v.records.assign(reinterpret_cast<const char*>(stored.data()), stored.size());
      break;
    case GVTYPE_TEXT:
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST: {
      size_t size = 0;
      if (!ReadList(ListOf(type), stored, v, size)) return GVERR_INVALID_ARGUMENT;
      if (type != ListOf(type) && v.Count() != 1) return GVERR_INVALID_ARGUMENT;
      break;
    }
    default:
      return GVERR_INVALID_ARGUMENT;
  }
  out = std::move(v);
  return 0;
}

uint32_t DecodeItem(uint32_t type, std::string_view stored, Value& out) {
  return DecodeItem(
      type,
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(stored.data()), stored.size()),
      out);
}

std::vector<uint8_t> EncodeItem(const Value& v) {
  std::vector<uint8_t> out;
  WriteItem(v, true, out);
  return out;
}

uint32_t EncodeItem(const Value& v, std::vector<uint8_t>& out) {
  std::vector<uint8_t> bytes;
  if (!WriteItem(v, false, bytes)) return GVERR_TOO_BIG;
  out = std::move(bytes);
  return 0;
}

uint32_t MeasureList(uint32_t kind, std::span<const uint8_t> bytes, size_t& size) {
  if (!IsListType(kind)) return GVERR_INVALID_ARGUMENT;
  Value scratch;
  size_t n = 0;
  if (!ReadList(kind, bytes, scratch, n)) return GVERR_INVALID_ARGUMENT;
  size = n;
  return 0;
}

uint32_t DecodeKind(uint32_t kind, std::span<const uint8_t> bytes, Value& out) {
  switch (kind) {
    case GVTYPE_NUMBER:
      if (bytes.size() < 8) return GVERR_INVALID_ARGUMENT;
      out = Value::Number(NumberAt(bytes.data()));
      return 0;
    case GVTYPE_TIME:
      if (bytes.size() < 8) return GVERR_INVALID_ARGUMENT;
      out = Value::Time(TimeAt(bytes.data()));
      return 0;
    case GVTYPE_TEXT:
      out = Value::Text(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      return 0;
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST: {
      Value v;
      v.type = kind;
      size_t size = 0;
      if (!ReadList(kind, bytes, v, size)) return GVERR_INVALID_ARGUMENT;
      out = std::move(v);
      return 0;
    }
    case GVTYPE_COMPOSITE: {
      std::string_view records(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (uint32_t st = rt::Validate(records)) return st;
      out = Value::Composite(std::string(records));
      return 0;
    }
    case GVTYPE_OTHER: {
      Value v;
      v.type = GVTYPE_OTHER;
      v.records.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      out = std::move(v);
      return 0;
    }
    default:
      return GVERR_INVALID_ARGUMENT;
  }
}

uint32_t EncodeKind(const Value& v, std::vector<uint8_t>& out) {
  std::vector<uint8_t> bytes;
  switch (v.type) {
    case GVTYPE_NUMBER:
      if (v.numbers.empty()) return GVERR_NO_VALUE;
      PutNumber(bytes, v.numbers[0]);
      break;
    case GVTYPE_TIME:
      if (v.times.empty()) return GVERR_NO_VALUE;
      PutTime(bytes, v.times[0]);
      break;
    case GVTYPE_TEXT:
      if (v.texts.empty()) return GVERR_NO_VALUE;
      bytes.assign(v.texts[0].begin(), v.texts[0].end());
      break;
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST:
      if (!WriteList(v, v.type, false, bytes)) return GVERR_TOO_BIG;
      break;
    case GVTYPE_COMPOSITE:
    case GVTYPE_OTHER:
      bytes.assign(v.records.begin(), v.records.end());
      break;
    default:
      return GVERR_INVALID_ARGUMENT;
  }
  out = std::move(bytes);
  return 0;
}

// ---------------------------------------------------------------- text helpers -------------

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, size_t pos, std::string_view prefix) {
  return !prefix.empty() && s.size() - pos >= prefix.size() &&
         s.compare(pos, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view piece = Trim(text.substr(start, comma - start));
    if (!piece.empty()) out.emplace_back(piece);
    start = comma + 1;
  }
  return out;
}

std::string JoinList(const std::vector<std::string>& entries) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ", ";
    out += entries[i];
  }
  return out;
}

std::string FoldAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return out;
}

size_t Utf8Cut(std::string_view text, size_t max) {
  if (text.size() <= max) return text.size();
  size_t n = max;
  // Step back over continuation bytes to the start of the sequence that does not fit.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

// ---------------------------------------------------------------- numbers as text ----------

uint32_t NumberToText(double value, std::string& out) {
  if (!std::isfinite(value)) return GVERR_ITEM_KIND;
  if (value == 0) {
    out = "0";
    return 0;
  }
  char sci[40];
  auto res =
      std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, 14);
  // "d.dddddddddddddde+XX": fifteen significant digits, then the exponent.
  char digits[16];
  int k = 0;
  const char* q = sci;
  for (; q < res.ptr && *q != 'e'; ++q)
    if (IsDigit(*q) && k < 15) digits[k++] = *q;
  int exponent = 0;
  if (q < res.ptr) std::from_chars(q + 1 + (q[1] == '+' ? 1 : 0), res.ptr, exponent);
  while (k > 1 && digits[k - 1] == '0') --k;

  std::string s;
  if (value < 0) s += '-';
  const int fixedLen = exponent >= 0 ? (exponent + 1) + (k > exponent + 1 ? k - exponent : 0)
                                     : 2 + (-exponent - 1) + k;
  const int expDigits = std::abs(exponent) >= 100 ? 3 : 2;
  const int expLen = 1 + (k > 1 ? k : 0) + 2 + expDigits;
  const bool useExponent = (exponent < -4 || exponent >= 15) && expLen < fixedLen;
  if (useExponent) {
    s += digits[0];
    if (k > 1) {
      s += '.';
      s.append(digits + 1, k - 1);
    }
    s += 'e';
    s += exponent < 0 ? '-' : '+';
    const int a = std::abs(exponent);
    if (a < 10) s += '0';
    s += std::to_string(a);
  } else if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) s += i < k ? digits[i] : '0';
    if (k > exponent + 1) {
      s += '.';
      s.append(digits + exponent + 1, k - exponent - 1);
    }
  } else {
    s += "0.";
    s.append(static_cast<size_t>(-exponent - 1), '0');
    s.append(digits, k);
  }
  out = std::move(s);
  return 0;
}

uint32_t TextToNumber(std::string_view raw, const International& intl, double& out) {
  const std::string_view text = Trim(raw);
  std::string buf;
  size_t pos = 0;
  const size_t n = text.size();
  bool negative = false;
  if (pos < n && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  bool digits = false;
  while (pos < n && IsDigit(text[pos])) buf += text[pos++], digits = true;
  if (pos < n && (text[pos] == '.' || StartsWith(text, pos, intl.decimal))) {
    pos += text[pos] == '.' ? 1 : intl.decimal.size();
    buf += '.';
    while (pos < n && IsDigit(text[pos])) buf += text[pos++], digits = true;
  }
  if (!digits) return GVERR_ITEM_KIND;
  if (pos < n && (text[pos] == 'e' || text[pos] == 'E')) {
    buf += 'e';
    ++pos;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) buf += text[pos++];
    bool expDigits = false;
    while (pos < n && IsDigit(text[pos])) buf += text[pos++], expDigits = true;
    if (!expDigits) return GVERR_ITEM_KIND;
  }
  if (pos != n) return GVERR_ITEM_KIND;
  double d = 0;
  auto [end, ec] = std::from_chars(buf.data(), buf.data() + buf.size(), d);
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number of ours.
    const size_t e = buf.find('e');
    if (e == std::string::npos || buf[e + 1] != '-') return GVERR_ITEM_KIND;
    d = 0;
  } else if (ec != std::errc() || end != buf.data() + buf.size()) {
    return GVERR_ITEM_KIND;
  }
  out = negative ? -d : d;
  return 0;
}

// ---------------------------------------------------------------- date-times as text -------

namespace {

void PutPadded(std::string& s, int64_t v, int width) {
  std::string d = std::to_string(v);
  if (static_cast<int>(d.size()) < width) s.append(width - d.size(), '0');
  s += d;
}

class Cursor {
 public:
  explicit Cursor(std::string_view text) : t_(text) {}
  bool end() const { return pos_ >= t_.size(); }
  size_t pos() const { return pos_; }
  void reset(size_t pos) { pos_ = pos; }
  bool atDigit() const { return !end() && IsDigit(t_[pos_]); }
  // A run of digits; answers how many (the value stops growing past 9 digits).
  int number(int64_t& value) {
    int n = 0;
    int64_t v = 0;
    while (atDigit()) {
      if (n < 9) v = v * 10 + (t_[pos_] - '0');
      ++n;
      ++pos_;
    }
    value = v;
    return n;
  }
  // Fraction digits: the first two give hundredths.
  int hundredths(int64_t& value) {
    int n = 0;
    int64_t v = 0;
    while (atDigit()) {
      if (n < 2) v = v * 10 + (t_[pos_] - '0');
      ++n;
      ++pos_;
    }
    value = n == 1 ? v * 10 : v;
    return n;
  }
  int blanks() {
    int n = 0;
    while (!end() && (t_[pos_] == ' ' || t_[pos_] == '\t')) ++pos_, ++n;
    return n;
  }
  bool take(std::string_view s) {
    if (!StartsWith(t_, pos_, s)) return false;
    pos_ += s.size();
    return true;
  }
  bool takeNoCase(std::string_view s) {
    if (s.empty() || t_.size() - pos_ < s.size()) return false;
    if (FoldAscii(t_.substr(pos_, s.size())) != FoldAscii(s)) return false;
    pos_ += s.size();
    return true;
  }
  std::string_view takeAny(std::initializer_list<std::string_view> seps) {
    for (std::string_view s : seps)
      if (take(s)) return s;
    return {};
  }

 private:
  std::string_view t_;
  size_t pos_ = 0;
};

enum class Parsed { absent, ok, bad };

int64_t WindowYear(int64_t year, int digits) {
  if (digits > 2) return year;
  return year < 50 ? 2000 + year : 1900 + year;
}

Parsed ParseDate(Cursor& c, const International& intl, TimeFields& f) {
  const size_t start = c.pos();
  int64_t n[3];
  int len[3];
  len[0] = c.number(n[0]);
  if (len[0] == 0) return Parsed::absent;
  std::string_view sep = c.takeAny({intl.date, "/", "-", "."});
  if (sep.empty() || (len[1] = c.number(n[1])) == 0 || !c.take(sep)) {
    c.reset(start);
    return Parsed::absent;
  }
  len[2] = c.number(n[2]);
  if (len[2] == 0) return Parsed::bad;
  int64_t y = 0;
  int64_t m = 0;
  int64_t d = 0;
  // A long first number is a year whatever the order (ISO text among them).
  if (len[0] > 2 || intl.dateOrder == GVINTL_DATE_YMD) {
    if (len[1] > 2 || len[2] > 2) return Parsed::bad;
    y = WindowYear(n[0], len[0]);
    m = n[1];
    d = n[2];
  } else {
    if (len[1] > 2 || len[2] > 5) return Parsed::bad;
    y = WindowYear(n[2], len[2]);
    m = intl.dateOrder == GVINTL_DATE_DMY ? n[1] : n[0];
    d = intl.dateOrder == GVINTL_DATE_DMY ? n[0] : n[1];
  }
  if (len[0] > 5 || y < 1 || y > 32767 || m < 1 || m > 12 || d < 1 ||
      d > DaysInMonth(y, static_cast<int>(m)))
    return Parsed::bad;
  f.dateNull = false;
  f.julian = JulianFromCivil(y, static_cast<int>(m), static_cast<int>(d));
  return Parsed::ok;
}

Parsed ParseTime(Cursor& c, const International& intl, TimeFields& f) {
  int64_t h = 0;
  int64_t mi = 0;
  int64_t s = 0;
  int64_t hh = 0;
  int len = c.number(h);
  if (len == 0 || len > 2) return Parsed::bad;
  std::string_view sep = c.takeAny({intl.time, ":"});
  if (sep.empty()) return Parsed::bad;
  len = c.number(mi);
  if (len == 0 || len > 2) return Parsed::bad;
  if (c.take(sep)) {
    len = c.number(s);
    if (len == 0 || len > 2) return Parsed::bad;
    if (!c.takeAny({".", intl.decimal}).empty()) {
      if (c.hundredths(hh) == 0) return Parsed::bad;
    }
  }
  const size_t beforeMark = c.pos();
  c.blanks();
  bool am = false;
  bool pm = false;
  if (c.takeNoCase(intl.am) || c.takeNoCase("AM"))
    am = true;
  else if (c.takeNoCase(intl.pm) || c.takeNoCase("PM"))
    pm = true;
  else
    c.reset(beforeMark);
  if (am || pm) {
    if (h > 12) return Parsed::bad;
    if (pm && h < 12) h += 12;
    if (am && h == 12) h = 0;
  }
  if (h > 23 || mi > 59 || s > 59) return Parsed::bad;
  f.timeNull = false;
  f.ticks = h * kTicksPerHour + mi * 6000 + s * 100 + hh;
  return Parsed::ok;
}

}  // namespace

uint32_t TimeToText(const GVTIMEDATE& value, const International& intl, std::string& out) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  std::string s;
  if (!f.dateNull) {
    const CivilDate c = CivilFromJulian(f.julian);
    const std::string_view sep = intl.date.empty() ? std::string_view("/") : intl.date;
    if (intl.dateOrder == GVINTL_DATE_YMD) {
      PutPadded(s, c.year, 4);
      s += sep;
      PutPadded(s, c.month, 2);
      s += sep;
      PutPadded(s, c.day, 2);
    } else {
      const bool dmy = intl.dateOrder == GVINTL_DATE_DMY;
      PutPadded(s, dmy ? c.day : c.month, 2);
      s += sep;
      PutPadded(s, dmy ? c.month : c.day, 2);
      s += sep;
      PutPadded(s, c.year, 4);
    }
  }
  if (!f.timeNull) {
    if (!f.dateNull) s += ' ';
    const std::string_view sep = intl.time.empty() ? std::string_view(":") : intl.time;
    int64_t hour = f.ticks / kTicksPerHour;
    const bool twelve = (intl.flags & GVINTL_24HOUR) == 0;
    const bool pm = hour >= 12;
    if (twelve) hour = hour % 12 == 0 ? 12 : hour % 12;
    PutPadded(s, hour, 2);
    s += sep;
    PutPadded(s, f.ticks / 6000 % 60, 2);
    s += sep;
    PutPadded(s, f.ticks / 100 % 60, 2);
    if (f.ticks % 100 != 0) {
      s += '.';
      PutPadded(s, f.ticks % 100, 2);
    }
    if (twelve) {
      std::string_view mark = pm ? intl.pm : intl.am;
      if (mark.empty()) mark = pm ? "PM" : "AM";
      s += ' ';
      s += mark;
    }
  }
  out = std::move(s);
  return 0;
}

uint32_t TextToTime(std::string_view raw, const International& intl, GVTIMEDATE& out) {
  Cursor c(Trim(raw));
  TimeFields f;
  if (!c.end()) {
    const Parsed date = ParseDate(c, intl, f);
    if (date == Parsed::bad) return GVERR_ITEM_KIND;
    bool wantTime = date == Parsed::absent;
    if (date == Parsed::ok && !c.end()) {
      // Date and time are parted by blanks, or by "T" in ISO text.
      if (c.blanks() == 0 && !(c.takeNoCase("T") && c.atDigit())) return GVERR_ITEM_KIND;
      wantTime = !c.end();
    }
    if (wantTime && ParseTime(c, intl, f) != Parsed::ok) return GVERR_ITEM_KIND;
    if (!c.end()) return GVERR_ITEM_KIND;
  }
  out = MachineTime(f);
  return 0;
}

// ---------------------------------------------------------------- conversions --------------

namespace {

// The entries of v as texts (numbers and times written in the settings).
uint32_t EntryTexts(const Value& v, const International& intl, std::vector<std::string>& out) {
  std::vector<std::string> texts;
  if (v.unavailable) {
    out.assign(1, std::string());
    return 0;
  }
  if (IsTextType(v.type)) {
    texts = v.texts;
  } else if (IsNumberType(v.type)) {
    for (double d : v.numbers) {
      std::string s;
      if (uint32_t st = NumberToText(d, s)) return st;
      texts.push_back(std::move(s));
    }
  } else if (IsTimeType(v.type)) {
    for (const GVTIMEDATE& t : v.times) {
      std::string s;
      if (TimeToText(t, intl, s) != 0) return GVERR_ITEM_KIND;
      texts.push_back(std::move(s));
    }
  } else if (v.type == GVTYPE_COMPOSITE) {
    if (uint32_t st = rt::ToParagraphs(v.records, texts)) return st;
  } else {
    return GVERR_ITEM_KIND;
  }
  out = std::move(texts);
  return 0;
}

uint32_t ToNumbers(const std::vector<std::string>& texts, const International& intl,
                   std::vector<double>& out) {
  std::vector<double> numbers;
  for (const std::string& t : texts) {
    double d = 0;
    if (uint32_t st = TextToNumber(t, intl, d)) return st;
    numbers.push_back(d);
  }
  out = std::move(numbers);
  return 0;
}

uint32_t ToTimes(const std::vector<std::string>& texts, const International& intl,
                 std::vector<GVTIMEDATE>& out) {
  std::vector<GVTIMEDATE> times;
  for (const std::string& t : texts) {
    GVTIMEDATE v{};
    if (uint32_t st = TextToTime(t, intl, v)) return st;
    times.push_back(v);
  }
  out = std::move(times);
  return 0;
}

}  // namespace

uint32_t Convert(const Value& in, uint32_t toType, Value& out) {
  if (toType < GVTYPE_NUMBER || toType > GVTYPE_OTHER) return GVERR_ITEM_KIND;
  const bool toList = IsListType(toType);
  const uint32_t toSingle = SingleOf(toType);
  Value result;
  result.type = toType;

  if (in.unavailable) return Convert(Value::Text(""), toType, out);

  if (in.type == toType) {
    result = in;
  } else if (toType == GVTYPE_OTHER || in.type == GVTYPE_OTHER) {
    return GVERR_ITEM_KIND;
  } else if (toType == GVTYPE_COMPOSITE) {
    // Text lines (or list entries, one per line) become paragraphs.
    std::vector<std::string> entries;
    if (uint32_t st = EntryTexts(in, *CurrentInternational(), entries)) return st;
    std::string text;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (i > 0) text += '\n';
      text += entries[i];
    }
    result.records = rt::FromText(text);
  } else if (in.type == GVTYPE_COMPOSITE && toType == GVTYPE_TEXT) {
    std::string text;
    if (uint32_t st = rt::ToText(in.records, text)) return st;
    result.texts.push_back(std::move(text));
  } else if (in.type == GVTYPE_TEXT && toType == GVTYPE_TEXT_LIST) {
    result.texts = SplitList(in.texts.empty() ? std::string_view() : in.texts[0]);
  } else if (in.type == GVTYPE_TEXT_LIST && toType == GVTYPE_TEXT) {
    result.texts.push_back(JoinList(in.texts));
  } else if (SingleOf(in.type) == toSingle) {
    // Same kind, other width.
    result = in;
    result.type = toType;
    if (!toList && in.Count() == 0) return GVERR_NO_VALUE;
    if (!toList) {
      result.texts.resize(IsTextType(toType) ? 1 : 0);
      result.numbers.resize(IsNumberType(toType) ? 1 : 0);
      result.times.resize(IsTimeType(toType) ? 1 : 0);
      result.numberRanges.clear();
      result.timeRanges.clear();
    }
  } else {
    const std::shared_ptr<const International> intl = CurrentInternational();
    std::vector<std::string> texts;
    if (IsTextType(in.type) || in.type == GVTYPE_COMPOSITE) {
      if (uint32_t st = EntryTexts(in, *intl, texts)) return st;
      // A single text read as a list splits at commas; as a single it is itself.
      if (in.type == GVTYPE_TEXT && toList) texts = SplitList(texts.empty() ? "" : texts[0]);
    } else {
      if (uint32_t st = EntryTexts(in, *intl, texts)) return st;
    }
    if (toSingle == GVTYPE_TEXT) {
      if (toList)
        result.texts = std::move(texts);
      else
        result.texts.push_back(JoinList(texts));
    } else if (IsNumberType(in.type) || IsTimeType(in.type)) {
      // Numbers and times do not turn into each other.
      return GVERR_ITEM_KIND;
    } else {
      if (!toList) {
        if (texts.empty()) return GVERR_NO_VALUE;
        texts.resize(1);
      }
      if (toSingle == GVTYPE_NUMBER) {
        if (uint32_t st = ToNumbers(texts, *intl, result.numbers)) return st;
      } else {
        if (uint32_t st = ToTimes(texts, *intl, result.times)) return st;
      }
    }
  }
  result.unavailable = false;
  out = std::move(result);
  return 0;
}

// ---------------------------------------------------------------- international ------------

namespace {

std::mutex& IntlMutex() {
  static std::mutex m;
  return m;
}
struct IntlCache {
  std::string root;
  std::shared_ptr<const International> settings;
  std::shared_ptr<const International> override;
};
IntlCache& Cache() {
  static IntlCache c;
  return c;
}

std::string ReadSetting(const std::string& file, const char* key) {
  char buf[64] = {0};
  if (TWINIGetString("International", key, buf, sizeof buf, file.c_str()) != 0) return {};
  return std::string(buf);
}

std::shared_ptr<const International> LoadInternational(const std::string& root) {
  auto intl = std::make_shared<International>();
  const std::string file = root + "plexa.ini";
  const std::string order = FoldAscii(ReadSetting(file, "DateOrder"));
  if (order == "dmy") intl->dateOrder = GVINTL_DATE_DMY;
  if (order == "ymd") intl->dateOrder = GVINTL_DATE_YMD;
  if (ReadSetting(file, "Clock24") == "1") intl->flags |= GVINTL_24HOUR;
  // Each text as the country record carries it: at most five bytes.
  const std::pair<const char*, std::string*> texts[] = {{"AM", &intl->am},
                                                        {"PM", &intl->pm},
                                                        {"Currency", &intl->currency},
                                                        {"Thousands", &intl->thousands},
                                                        {"Decimal", &intl->decimal},
                                                        {"DateSep", &intl->date},
                                                        {"TimeSep", &intl->time}};
  for (const auto& [key, target] : texts) {
    std::string v = ReadSetting(file, key);
    if (!v.empty()) *target = v.substr(0, Utf8Cut(v, 5));
  }
  return intl;
}

}  // namespace

std::string SettingsRoot() {
  std::string root = SessionActive() ? DataRoot() : std::string();
  if (root.empty()) {
    const char* env = std::getenv("PLEXA_ROOT");
    if (env != nullptr && *env != '\0') {
      root = env;
    } else {
      char exe[4096];
      const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
      std::string path = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
      const size_t slash = path.rfind('/');
      root = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/ordex";
    }
  }
  if (root.back() != '/') root += '/';
  return root;
}

std::shared_ptr<const International> CurrentInternational() {
  const std::string root = SettingsRoot();
  std::lock_guard<std::mutex> lock(IntlMutex());
  IntlCache& c = Cache();
  if (c.override) return c.override;
  if (!c.settings || c.root != root) {
    c.settings = LoadInternational(root);
    c.root = root;
  }
  return c.settings;
}

void OverrideInternational(std::shared_ptr<const International> settings) {
  std::lock_guard<std::mutex> lock(IntlMutex());
  Cache().override = std::move(settings);
}

}  // namespace plexa
