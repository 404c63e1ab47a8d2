// Number text of the text-file connector: reading a number's leading part, writing numbers
// as the output layout wants them, decoding binary input types (SHORT, LONG, FLOAT, PACKED,
// BINARY) and EBCDIC text into decimal text, and implied decimals. All in the C locale,
// with from_chars/to_chars.
#ifndef TW_LINK_ZMLNK_NUMBERS_H_
#define TW_LINK_ZMLNK_NUMBERS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "zid_parser.h"

namespace flatrec {

// The number at the start of text as a C floating literal reads it (white space, a sign,
// digits, a point, an exponent, inf, nan); 0 when none is there.
double ParseNumber(std::string_view text);

// What ParseNumber reads from the text ImpliedDecimal makes of text with decimals implied
// (0: none), when text is an optional sign and 1 to 15 digits and decimals at most 22: the
// digits' integer and the power of ten are both exact, so one division rounds as reading
// the decimal text does. False for any other text, which the general path reads.
bool PlainNumber(std::string_view text, unsigned decimals, double* out);

// A number formatted for output: sign, then pad characters, then body. The whole text is
// sign + pad + body (length()).
struct NumberText {
  char sign = 0;  // '-' or 0
  size_t pad = 0;
  char padChar = '0';
  char body[640];
  size_t bodyLength = 0;
  size_t length() const { return (sign ? 1 : 0) + pad + bodyLength; }
  // Byte i of the whole text.
  char at(size_t i) const;
};

// The decimal text of an exact value ("-", digits, an optional "." and fraction: what the
// engine writes for a currency or numeric) laid out as FormatNumber lays out a double:
// rounded to the column's precision, half to even, so that a value a double holds exactly
// gives FormatNumber's text; with UNSIGNED the magnitude. False (out untouched) when text is
// not such a number or does not fit.
bool FormatDecimal(std::string_view text, const Column& column, NumberText* out);

// magnitude (not negative) with precision decimals into out, exactly as "%.*f" writes it,
// for the values where that is quick to do (below 2^40 once scaled, no tie to break): the
// length written, or 0 for a value it leaves to the general formatter.
size_t FixedPoint(double magnitude, int precision, char* out);

// "%.*f" with the column's precision (none: no decimals), or with ZEROFILL and a WIDTH
// "%0*.*f" zero-padded to WIDTH.
void FormatNumber(double value, const Column& column, NumberText* out);

// Appends the decimal text of a binary field's bytes (at most 8; fewer when the record ends
// early) to out: SHORT and LONG little-endian ("%d"/"%u" by UNSIGNED), FLOAT a 4-byte IEEE
// single ("%f"), PACKED the packed-decimal digits with a sign ('-' for D or B, else '+'; a
// blank with UNSIGNED), BINARY a big-endian integer of all the bytes, sign-extended unless
// UNSIGNED.
void DecodeBinary(ColumnType type, bool isUnsigned, std::string_view bytes, std::string* out);

// Appends bytes translated from EBCDIC to out; a zoned NUMBER has its last byte's zone
// forced to 0xF and, without UNSIGNED, a sign first ('-' for a D or B zone, else '+').
void DecodeEbcdic(std::string_view bytes, bool zonedNumber, bool isUnsigned, std::string* out);

// Writes text with a '.' before its last n digits (n from 1 to 254) to out. White space
// around the number is dropped; a text shorter than n is padded with zeros ("5" with 2 is
// "0.05", after any sign); a text that already holds a '.' is kept as it is.
void ImpliedDecimal(std::string_view text, unsigned n, std::string* out);

// "%0*d": value written with at least width characters, zeros after any sign.
void AppendPadded(int64_t value, size_t width, std::string* out);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_NUMBERS_H_
