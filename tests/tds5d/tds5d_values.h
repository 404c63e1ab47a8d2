// Value forms of tds5d: the server keeps money, numeric and datetime values as exact texts in
// SQLite and turns them into the wire's binary forms (and back) here.
#ifndef TW_TESTS_TDS5D_TDS5D_VALUES_H_
#define TW_TESTS_TDS5D_TDS5D_VALUES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tds5d {

// A decimal text ("-12.5", "0.0001", "$3", "-1.0e-10") scaled by 10^scale, rounded half away from
// zero; nullopt when the text is no number or does not fit 38 digits.
std::optional<__int128> ScaledFromText(std::string_view text, int scale);
// The text of value / 10^scale with exactly scale decimals.
std::string TextFromScaled(__int128 value, int scale);

// The bytes of a numeric of the given precision on the wire (sign byte included).
int NumericBytes(int precision);

// A datetime as days since 1900-01-01 and 1/300 seconds since midnight.
struct Datetime {
  int32_t days = 0;
  int32_t ticks = 0;
};
// Reads "yyyy-mm-dd[ hh:mm[:ss[.fff]]]", "m/d/yyyy[ h:mm[:ss[.ff]]]" and "yyyymmdd", the time
// also in the 12-hour form with AM or PM after it; nullopt on any other form or an impossible
// date or time.
std::optional<Datetime> DatetimeFromText(std::string_view text);
// The stored form "yyyy-mm-dd hh:mm:ss.fff".
std::string TextFromDatetime(const Datetime& dt);

}  // namespace tds5d

#endif  // TW_TESTS_TDS5D_TDS5D_VALUES_H_
