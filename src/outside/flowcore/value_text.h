// Shared by the scalar, currency, numeric and datetime text conversions: the international
// format in force, the scanner of number text, and reading or writing a value's text through
// a stream without allocating when the stream already holds UTF-8 text.
#ifndef TW_FLOWCORE_VALUE_TEXT_H_
#define TW_FLOWCORE_VALUE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "flowcore.h"

namespace twcore {

// The international format of the platform's record, or its defaults when none is installed.
// The views stay valid until the record is replaced (start-up only).
struct Intl {
  std::string_view am, pm, currency, thousands, decimal, date, time;
  int32_t format1 = 1;  // date order: 1 month-day-year, 2 day-month-year, 3 year-month-day
  int32_t format2 = 2;  // clock: 1 24-hour, 2 12-hour with the AM/PM texts
};
Intl CurrentIntl();
// "." as the decimal point and nothing else: for text the engine made itself.
Intl PlainIntl();

inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
// Without blanks and tabs around it, and without trailing NULs (fixed columns pad with them).
std::string_view TrimText(std::string_view text);

// A decimal number read from text: value = (-1)^neg * digits * 10^exponent. Leading zeros are
// not kept; when more than kMaxDigits significant digits come, the rest only sets sticky (any
// of them non-zero) and moves the exponent for dropped integer digits.
struct Scanned {
  static constexpr int kMaxDigits = 200;
  bool neg = false;
  bool sticky = false;
  int count = 0;
  int64_t exponent = 0;
  uint8_t digits[kMaxDigits];
};
struct ScanRules {
  bool exponent = false;  // "e[sign]digits" after the mantissa
  bool currency = false;  // the currency symbol before or after the sign
};
// False when text is not a number under these rules.
[[nodiscard]] bool ScanNumber(std::string_view text, const Intl& intl, ScanRules rules,
                              Scanned* out);

// What a stream holds for a text-to-value conversion: text (a converted copy is owned here
// when the stream was in another character set), or the first value of a number or datetime
// list.
class Source {
 public:
  enum class Kind { text, number, datetime };
  Source() = default;
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  [[nodiscard]] uint32_t Open(const TWStream* stream);
  Kind kind() const { return kind_; }
  std::string_view text() const { return text_; }
  double number() const { return number_; }
  const TWDatetime& datetime() const { return datetime_; }

 private:
  Kind kind_ = Kind::text;
  std::string_view text_;
  double number_ = 0;
  TWDatetime datetime_{};
  bool owns_ = false;
  TWStream converted_{};
  char narrow_[256];
};

// What a value adds when written into a list format: its number (number lists) or itself
// (datetime lists); a null pointer means the list format does not fit the value.
struct ListValue {
  const double* number = nullptr;
  const TWDatetime* datetime = nullptr;
};
// Stores text into stream in format (a character set, a text list, or the list that fits).
[[nodiscard]] uint32_t WriteText(TWStream* stream, uint32_t format, std::string_view text,
                                 ListValue list);

// Rounds half away from zero at position keep of a digit string (digits[0] most
// significant): keeps the first keep digits and answers true when they must be raised by one.
inline bool RoundUpAt(const Scanned& s, int keep) {
  return keep >= 0 && keep < s.count && s.digits[keep] >= 5;
}

}  // namespace twcore

#endif  // TW_FLOWCORE_VALUE_TEXT_H_
