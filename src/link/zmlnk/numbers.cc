// Number parsing, formatting and binary decodings of the text-file connector.
#include "numbers.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "ebcdic.h"
#include "text_util.h"

namespace flatrec {

double ParseNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // from_chars takes no sign of its own here: "+-5" must read as nothing.
  if (i >= text.size() || text[i] == '+' || text[i] == '-') return 0.0;
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value,
                                   std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The leading part names a number beyond the range of double: infinity when it is too
    // large, zero when too small, as strtod gives. Its decimal magnitude tells which.
    const std::string_view part(text.data() + i, static_cast<size_t>(end - (text.data() + i)));
    size_t j = 0;
    while (j < part.size() && part[j] == '0') ++j;
    int64_t magnitude = 0;
    bool nonzero = false;
    for (; j < part.size() && IsDigit(part[j]); ++j) ++magnitude, nonzero = true;
    if (j < part.size() && part[j] == '.') {
      for (++j; j < part.size() && IsDigit(part[j]); ++j) {
        if (!nonzero && part[j] == '0') --magnitude;
        if (part[j] != '0') nonzero = true;
      }
    }
    if (j < part.size() && (part[j] == 'e' || part[j] == 'E')) {
      ++j;
      const bool down = j < part.size() && part[j] == '-';
      if (j < part.size() && (part[j] == '+' || part[j] == '-')) ++j;
      int64_t e = 0;
      for (; j < part.size() && IsDigit(part[j]); ++j)
        if (e < 100000) e = e * 10 + (part[j] - '0');
      magnitude += down ? -e : e;
    }
    value = nonzero && magnitude > 0 ? HUGE_VAL : 0.0;
  } else if (ec != std::errc()) {
    return 0.0;
  }
  return negative ? -value : value;
}

bool PlainNumber(std::string_view text, unsigned decimals, double* out) {
  static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) i = 1;
  const size_t digits = text.size() - i;
  if (digits == 0 || digits > 15 || decimals > 22) return false;
  uint64_t m = 0;
  for (; i < text.size(); ++i) {
    const unsigned d = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (d > 9) return false;
    m = m * 10 + d;
  }
  double v = static_cast<double>(m);
  if (decimals > 0) v /= kExact[decimals];
  *out = negative ? -v : v;
  return true;
}

char NumberText::at(size_t i) const {
  if (sign) {
    if (i == 0) return sign;
    --i;
  }
  if (i < pad) return padChar;
  return body[i - pad];
}

namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

}  // namespace

size_t FixedPoint(double magnitude, int precision, char* out) {
  // The scaled value is below 2^40, so the product is off by at most 2^-13 from the exact
  // one; the nearest integer is then the exact one's unless the fraction lies that close to
  // a half, where only the exact binary value can tell.
  if (precision < 0 || precision > 15 || !(magnitude >= 0)) return 0;
  const double scaled = magnitude * kPowersOfTen[precision];
  if (!(scaled < 1099511627776.0)) return 0;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) <= 1.0 / 4096) return 0;
  uint64_t n = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  // Digits from the last, two at a time; at least one before the point.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  // Eight digits at a time as two independent halves of four, in 32-bit words: shorter
  // chains than taking pairs off one 64-bit number.
  while (n >= 100000000) {
    const auto low = static_cast<uint32_t>(n % 100000000);
    n /= 100000000;
    const uint32_t halves[2] = {low / 10000, low % 10000};
    p -= 8;
    for (int h = 0; h < 2; ++h) {
      const uint32_t pairs[2] = {halves[h] / 100, halves[h] % 100};
      std::memcpy(p + 4 * h, kPairs + 2 * pairs[0], 2);
      std::memcpy(p + 4 * h + 2, kPairs + 2 * pairs[1], 2);
    }
  }
  auto v = static_cast<uint32_t>(n);
  while (v >= 100) {
    const uint32_t pair = (v % 100) * 2;
    v /= 100;
    p -= 2;
    std::memcpy(p, kPairs + pair, 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, kPairs + v * 2, 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  const size_t decimals = static_cast<size_t>(precision);
  while (static_cast<size_t>(end - p) < decimals + 1) *--p = '0';
  const size_t before = static_cast<size_t>(end - p) - decimals;
  CopyBytes(out, p, before);
  if (decimals == 0) return before;
  out[before] = '.';
  CopyBytes(out + before + 1, p + before, decimals);
  return before + 1 + decimals;
}

namespace {

// ZEROFILL with a WIDTH: zeros between the sign and the body up to the width.
void ZeroFill(const Column& column, NumberText* out) {
  if (!column.zerofill || !column.widthGiven || column.width == 0) return;
  const size_t used = out->length();
  if (used < column.width) out->pad = column.width - used;
}

}  // namespace

bool FormatDecimal(std::string_view text, const Column& column, NumberText* out) {
  const size_t precision = column.precision == kNoPrecision ? 0 : column.precision;
  const bool negative = !text.empty() && text[0] == '-';
  std::string_view digits = text.substr(negative ? 1 : 0);
  const size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : digits.substr(point + 1);
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  if (whole.empty()) whole = "0";
  for (std::string_view part : {whole, fraction})
    for (char ch : part)
      if (!IsDigit(ch)) return false;
  // One more place for a carry out of the leading digit.
  if (1 + whole.size() + 1 + precision > sizeof out->body) return false;
  char* body = out->body;
  size_t n = 0;
  body[n++] = '0';
  CopyBytes(body + n, whole.data(), whole.size());
  n += whole.size();
  const size_t unitsEnd = n;
  for (size_t i = 0; i < precision; ++i) body[n++] = i < fraction.size() ? fraction[i] : '0';
  if (fraction.size() > precision) {
    const char next = fraction[precision];
    bool beyond = false;
    for (size_t i = precision + 1; i < fraction.size() && !beyond; ++i) beyond = fraction[i] != '0';
    const bool odd = (body[n - 1] - '0') % 2 != 0;
    if (next > '5' || (next == '5' && (beyond || odd))) {
      size_t i = n;
      while (body[--i] == '9') body[i] = '0';
      ++body[i];
    }
  }
  // The spare leading place stays only when the carry reached it.
  const size_t from = body[0] == '0' ? 1 : 0;
  out->sign = negative && !column.isUnsigned ? '-' : 0;
  out->pad = 0;
  out->padChar = '0';
  size_t length = 0;
  for (size_t i = from; i < unitsEnd; ++i) body[length++] = body[i];
  if (precision > 0) {
    // The decimals move one place right to make room for the point.
    std::memmove(body + length + 1, body + unitsEnd, precision);
    body[length] = '.';
    length += 1 + precision;
  }
  out->bodyLength = length;
  ZeroFill(column, out);
  return true;
}

void FormatNumber(double value, const Column& column, NumberText* out) {
  const int precision = column.precision == kNoPrecision ? 0 : column.precision;
  out->sign = 0;
  out->pad = 0;
  out->padChar = '0';
  double magnitude = value;
  if (std::signbit(value)) {
    out->sign = '-';
    magnitude = -value;
  }
  out->bodyLength = FixedPoint(magnitude, precision, out->body);
  if (out->bodyLength == 0) {
    auto [end, ec] = std::to_chars(out->body, out->body + sizeof out->body, magnitude,
                                   std::chars_format::fixed, precision);
    out->bodyLength = ec == std::errc() ? static_cast<size_t>(end - out->body) : 0;
  }
  if (!std::isfinite(value)) {
    // printf pads infinities and NaNs with blanks even when asked for zeros.
    out->padChar = ' ';
    if (std::isnan(value) && out->sign) {
      std::memmove(out->body + 1, out->body, out->bodyLength);
      out->body[0] = '-';
      ++out->bodyLength;
      out->sign = 0;
    }
  }
  if (column.zerofill && column.widthGiven && column.width > 0) {
    const size_t used = out->length();
    if (used < column.width) out->pad = column.width - used;
    if (out->padChar == ' ' && out->sign) {
      // "   -inf": the blanks come before the sign.
      std::memmove(out->body + 1, out->body, out->bodyLength);
      out->body[0] = '-';
      ++out->bodyLength;
      out->sign = 0;
    }
  }
}

void AppendPadded(int64_t value, size_t width, std::string* out) {
  // Sign, zeros and digits laid out together and appended at once when they fit.
  char text[48];
  char* const end = text + sizeof text;
  char* p = end;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const size_t sign = value < 0 ? 1 : 0;
  if (width < sizeof text) {
    while (static_cast<size_t>(end - p) + sign < width) *--p = '0';
    if (sign) *--p = '-';
    out->append(p, static_cast<size_t>(end - p));
    return;
  }
  if (sign) out->push_back('-');
  const size_t used = static_cast<size_t>(end - p) + sign;
  if (width > used) out->append(width - used, '0');
  out->append(p, static_cast<size_t>(end - p));
}

namespace {

void AppendInteger(int64_t v, std::string* out) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, static_cast<size_t>(end - buf));
}
void AppendUnsigned(uint64_t v, std::string* out) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, static_cast<size_t>(end - buf));
}

// Little-endian value of up to n bytes; missing bytes count as zero.
uint64_t LittleEndian(std::string_view bytes, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n && i < bytes.size(); ++i)
    v |= uint64_t{static_cast<uint8_t>(bytes[i])} << (8 * i);
  return v;
}

}  // namespace

void DecodeBinary(ColumnType type, bool isUnsigned, std::string_view bytes, std::string* out) {
  switch (type) {
    case ColumnType::kShort: {
      const auto v = static_cast<uint16_t>(LittleEndian(bytes, 2));
      if (isUnsigned)
        AppendUnsigned(v, out);
      else
        AppendInteger(static_cast<int16_t>(v), out);
      return;
    }
    case ColumnType::kLong: {
      const auto v = static_cast<uint32_t>(LittleEndian(bytes, 4));
      if (isUnsigned)
        AppendUnsigned(v, out);
      else
        AppendInteger(static_cast<int32_t>(v), out);
      return;
    }
    case ColumnType::kFloat: {
      const float f = std::bit_cast<float>(static_cast<uint32_t>(LittleEndian(bytes, 4)));
      char buf[64];
      auto [end, ec] =
          std::to_chars(buf, buf + sizeof buf, static_cast<double>(f), std::chars_format::fixed, 6);
      out->append(buf, ec == std::errc() ? static_cast<size_t>(end - buf) : 0);
      return;
    }
    case ColumnType::kPacked: {
      static const char kHex[] = "0123456789ABCDEF";
      if (bytes.empty()) return;
      const uint8_t last = static_cast<uint8_t>(bytes.back());
      const uint8_t signNibble = last & 0xF;
      if (isUnsigned)
        out->push_back(' ');
      else
        out->push_back(signNibble == 0xD || signNibble == 0xB ? '-' : '+');
      for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        out->push_back(kHex[b >> 4]);
        if (i + 1 < bytes.size()) out->push_back(kHex[b & 0xF]);
      }
      return;
    }
    case ColumnType::kBinary: {
      const size_t n = bytes.size() < 8 ? bytes.size() : 8;
      if (n == 0) {
        out->push_back('0');
        return;
      }
      uint64_t v = 0;
      for (size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[i]);
      const bool negative = !isUnsigned && (static_cast<uint8_t>(bytes[0]) & 0x80) != 0;
      if (negative && n < 8) v |= ~uint64_t{0} << (8 * n);
      if (negative)
        AppendInteger(static_cast<int64_t>(v), out);
      else
        AppendUnsigned(v, out);
      return;
    }
    default:
      out->append(bytes);
      return;
  }
}

void DecodeEbcdic(std::string_view bytes, bool zonedNumber, bool isUnsigned, std::string* out) {
  if (bytes.empty()) return;
  const size_t last = bytes.size() - 1;
  if (zonedNumber && !isUnsigned) {
    const uint8_t zone = static_cast<uint8_t>(bytes[last]) >> 4;
    out->push_back(zone == 0xD || zone == 0xB ? '-' : '+');
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (zonedNumber && i == last) b = static_cast<uint8_t>(0xF0 | (b & 0x0F));
    out->push_back(static_cast<char>(kEbcdicToAscii[b]));
  }
}

void ImpliedDecimal(std::string_view text, unsigned n, std::string* out) {
  std::string_view core = Trim(text);
  if (n == 0 || core.empty() || core.find('.') != std::string_view::npos) {
    out->append(core);
    return;
  }
  size_t signLength = 0;
  if (!core.empty() && (core[0] == '+' || core[0] == '-')) {
    out->push_back(core[0]);
    signLength = 1;
  }
  std::string_view digits = core.substr(signLength);
  if (digits.empty()) {
    out->append(digits);
  } else if (digits.size() > n) {
    out->append(digits.substr(0, digits.size() - n));
    out->push_back('.');
    out->append(digits.substr(digits.size() - n));
  } else {
    out->append("0.");
    out->append(n - digits.size(), '0');
    out->append(digits);
  }
}

}  // namespace flatrec
