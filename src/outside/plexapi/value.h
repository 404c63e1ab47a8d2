// Item values decoded: the list layouts stored in items and passed through the API, single
// values as one-entry lists, the conversions between value kinds, and numbers and date-times
// as text in the international settings.
#ifndef TW_OUTSIDE_PLEXAPI_VALUE_H_
#define TW_OUTSIDE_PLEXAPI_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plexapi.h"

namespace plexa {

// One item value. type is a GVTYPE_*; which vector holds the entries follows from it: texts
// (TEXT, TEXT_LIST), numbers (NUMBER, NUMBER_LIST), times (TIME, TIME_LIST); records holds the
// records of a COMPOSITE and the bytes of an OTHER. A single type holds exactly one entry.
// unavailable marks a formula's reference to an item the document does not have.
struct Value {
  uint32_t type = GVTYPE_TEXT;
  std::vector<std::string> texts;
  std::vector<double> numbers;
  std::vector<GVTIMEDATE> times;
  std::string records;
  bool unavailable = false;
  // Range pairs {low, high} of number and time lists, flattened; kept so that a stored list
  // survives a decode and encode unchanged.
  std::vector<double> numberRanges;
  std::vector<GVTIMEDATE> timeRanges;

  static Value Text(std::string text);
  static Value Number(double number);
  static Value Time(GVTIMEDATE time);
  static Value TextList(std::vector<std::string> texts);
  static Value NumberList(std::vector<double> numbers);
  static Value TimeList(std::vector<GVTIMEDATE> times);
  static Value Composite(std::string records);
  static Value Unavailable();

  // Entries of the list (1 for a single value; composites and other bytes count 1).
  size_t Count() const;
};

// Text, number and time types of either width as the single or list form.
bool IsTextType(uint32_t type);
bool IsNumberType(uint32_t type);
bool IsTimeType(uint32_t type);
uint32_t SingleOf(uint32_t type);  // the single type of a list type (others unchanged)
[[nodiscard]] uint32_t ListOf(uint32_t type);  // the list type of a single type (others unchanged)

// The word of an item type in the administrator's texts ("number", "text", "time",
// "textlist", "numberlist", "timelist", "richtext", "other"); null for another type.
const char* TypeWord(uint32_t type);
// The type a word names; false (out unchanged) for a word that names none.
bool TypeOfWord(std::string_view word, uint32_t& out);

// Stored item bytes (a single number, text or time as a one-entry list; rich text as its
// records; other as its bytes) into out. Malformed bytes or an unknown type:
// GVERR_INVALID_ARGUMENT, out unchanged. Bytes past the end of a list are ignored.
[[nodiscard]] uint32_t DecodeItem(uint32_t type, std::span<const uint8_t> stored, Value& out);
[[nodiscard]] uint32_t DecodeItem(uint32_t type, std::string_view stored, Value& out);
// The stored bytes of v (its own type, list layout for singles). A count or text length beyond
// a 16-bit word is cut to fit; the second form answers GVERR_TOO_BIG instead.
std::vector<uint8_t> EncodeItem(const Value& v);
[[nodiscard]] uint32_t EncodeItem(const Value& v, std::vector<uint8_t>& out);

// The layout the API passes and delivers for a value kind: a double, a GVTIMEDATE, text bytes
// (without a NUL), list bytes, records, or other bytes. DecodeKind reads bytes in that layout
// (GVERR_INVALID_ARGUMENT when malformed or too short; GVERR_COMPOSITE for malformed records);
// EncodeKind writes v in the layout of its own type (an empty single answers GVERR_NO_VALUE).
[[nodiscard]] uint32_t DecodeKind(uint32_t kind, std::span<const uint8_t> bytes, Value& out);
[[nodiscard]] uint32_t EncodeKind(const Value& v, std::vector<uint8_t>& out);
// The bytes a list of kind (TEXT_LIST, NUMBER_LIST, TIME_LIST) occupies at the start of bytes;
// GVERR_INVALID_ARGUMENT when bytes do not hold a whole list.
[[nodiscard]] uint32_t MeasureList(uint32_t kind, std::span<const uint8_t> bytes, size_t& size);

// Converts in into toType: single <-> list, number and time <-> text (international
// settings), lists <-> text (", " joins, "," splits with blanks trimmed, empty pieces
// dropped), composite <-> text (a line per paragraph), composite -> text list (an entry per
// paragraph). A text list into a text joins; another list into a single takes its first entry
// (none: GVERR_NO_VALUE). Text that is
// not a number or date-time, and conversions that do not exist (number <-> time, other
// bytes): GVERR_ITEM_KIND. An unavailable value converts as the empty text.
[[nodiscard]] uint32_t Convert(const Value& in, uint32_t toType, Value& out);

// The country settings: date order, clock, separators and AM/PM texts.
struct International {
  uint32_t flags = GVINTL_LEADING_ZERO;  // GVINTL_* (daylight is filled by GVGetInternational)
  uint32_t dateOrder = GVINTL_DATE_MDY;
  std::string am = "AM", pm = "PM", currency = "$", thousands = ",", decimal = ".", date = "/",
              time = ":";
};
// The settings in force: the [International] section of plexa.ini in the data root (keys
// DateOrder MDY|DMY|YMD, Clock24 0|1, AM, PM, Currency, Thousands, Decimal, DateSep, TimeSep;
// each text at most 5 bytes), else the defaults. Read once per data root.
std::shared_ptr<const International> CurrentInternational();
// Settings that replace the file's until cleared with null (tests).
void OverrideInternational(std::shared_ptr<const International> settings);
// The data root the settings come from: the session's, else PLEXA_ROOT, else "ordex/" beside
// the executable; ends in "/".
std::string SettingsRoot();

// "%.15g" with "." and no separators, the exponent form only where it is shorter. Not finite:
// GVERR_ITEM_KIND.
[[nodiscard]] uint32_t NumberToText(double number, std::string& out);
// Blanks trimmed, optional sign, digits with "." or the decimal separator, optional exponent.
[[nodiscard]] uint32_t TextToNumber(std::string_view text, const International& intl, double& out);
// The date in the settings' order and separator (2-digit month and day, at least 4-digit year),
// the time "HH:MM:SS" or "hh:MM:SS AM", ".hh" only for non-zero hundredths, one blank between;
// a null half left out. An invalid value: GVERR_DATETIME.
[[nodiscard]] uint32_t TimeToText(const GVTIMEDATE& time, const International& intl,
                                  std::string& out);
// The settings' form or ISO "YYYY-MM-DD[ T]HH:MM[:SS[.ff]]"; either half alone; the machine's
// zone and daylight saving. Empty text: null date and time. Not a date-time: GVERR_ITEM_KIND.
[[nodiscard]] uint32_t TextToTime(std::string_view text, const International& intl,
                                  GVTIMEDATE& out);

// Splits at "," with blanks trimmed, dropping empty pieces.
std::vector<std::string> SplitList(std::string_view text);
// Joins with ", ".
std::string JoinList(const std::vector<std::string>& entries);

// ASCII letters lower-cased; other bytes kept.
std::string FoldAscii(std::string_view text);
// The longest prefix of text of at most max bytes that does not end inside a UTF-8 sequence.
size_t Utf8Cut(std::string_view text, size_t max);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_VALUE_H_
