// Item values: the stored and passed list layouts, conversions between kinds, and numbers
// and date-times as text in the international settings.
#include "value.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"
#include "tw/datetime_text.h"

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

namespace {
struct TypeName {
  const char* word;
  uint32_t type;
};
constexpr TypeName kTypeWords[] = {
    {"number", GVTYPE_NUMBER},
    {"text", GVTYPE_TEXT},
    {"time", GVTYPE_TIME},
    {"textlist", GVTYPE_TEXT_LIST},
    {"numberlist", GVTYPE_NUMBER_LIST},
    {"timelist", GVTYPE_TIME_LIST},
    {"richtext", GVTYPE_COMPOSITE},
    {"other", GVTYPE_OTHER},
};
}  // namespace

const char* TypeWord(uint32_t type) {
  for (const TypeName& t : kTypeWords)
    if (t.type == type) return t.word;
  return nullptr;
}

bool TypeOfWord(std::string_view word, uint32_t& out) {
  for (const TypeName& t : kTypeWords)
    if (word == t.word) {
      out = t.type;
      return true;
    }
  return false;
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

tw::DatetimeIntl TextIntl(const International& intl) {
  tw::DatetimeIntl t;
  t.order = intl.dateOrder == GVINTL_DATE_YMD   ? tw::DatetimeIntl::Order::ymd
            : intl.dateOrder == GVINTL_DATE_DMY ? tw::DatetimeIntl::Order::dmy
                                                : tw::DatetimeIntl::Order::mdy;
  t.clock24 = (intl.flags & GVINTL_24HOUR) != 0;
  t.am = intl.am;
  t.pm = intl.pm;
  t.decimal = intl.decimal;
  t.date = intl.date;
  t.time = intl.time;
  return t;
}

}  // namespace

uint32_t TimeToText(const GVTIMEDATE& value, const International& intl, std::string& out) {
  TimeFields f;
  if (uint32_t st = DecodeTime(value, f)) return st;
  tw::DatetimeParts p;
  p.date_null = f.dateNull;
  p.time_null = f.timeNull;
  if (!f.dateNull) {
    const CivilDate c = CivilFromJulian(f.julian);
    p.year = c.year;
    p.month = c.month;
    p.day = c.day;
  }
  p.ticks = f.ticks;
  std::string s;
  tw::format_datetime_text(p, TextIntl(intl), [&](std::string_view piece) { s += piece; });
  out = std::move(s);
  return 0;
}

uint32_t TextToTime(std::string_view raw, const International& intl, GVTIMEDATE& out) {
  tw::DatetimeParts p;
  if (!tw::parse_datetime_text(Trim(raw), TextIntl(intl), &p)) return GVERR_ITEM_KIND;
  TimeFields f;
  if (!p.date_null) {
    f.dateNull = false;
    f.julian = JulianFromCivil(p.year, p.month, p.day);
  }
  if (!p.time_null) {
    f.timeNull = false;
    f.ticks = p.ticks;
  }
  out = MachineTime(f);
  return 0;
}

// ---------------------------------------------------------------- conversions --------------

namespace {

// The entries of v as texts (numbers and times written in the settings).
[[nodiscard]] uint32_t EntryTexts(const Value& v, const International& intl,
                                  std::vector<std::string>& out) {
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

[[nodiscard]] uint32_t ToNumbers(const std::vector<std::string>& texts, const International& intl,
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

[[nodiscard]] uint32_t ToTimes(const std::vector<std::string>& texts, const International& intl,
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
