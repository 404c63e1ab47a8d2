// The ZID field description of the text-file connector, compiled once per connection into
// column descriptors: one line per field with its name and options (TYPE, START, WIDTH,
// terminators, list separator, default value, date format, flags, keys), with replacement
// applied to each line, and optionally the data itself after a marker line.
#ifndef TW_LINK_ZMLNK_ZID_PARSER_H_
#define TW_LINK_ZMLNK_ZID_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dates.h"
#include "replace.h"
#include "trace.h"

namespace flatrec {

enum class Direction : uint8_t { kSource = 1, kDestination = 2 };

// The TYPE of a column.
enum class ColumnType : uint8_t {
  kNone,  // no TYPE given
  kNumber,
  kBinary,
  kPacked,
  kShort,
  kLong,
  kFloat,
  kRich,
  kDatetime,
  kText,
  kCurrency,
  kNumeric,
};

// Terminator kinds: the whole text ends the value (UNTIL: the value runs on to the record's
// end when it is missing; DELIM: the column is absent then), or any one of its characters
// (UNTILLIST: absent when none is found).
enum class TermKind : uint8_t { kNone, kUntil, kDelim, kUntilList };

constexpr uint8_t kNoPrecision = 255;
constexpr uint32_t kMaxColumns = 1024;
constexpr uint32_t kMaxNameLength = 32;
constexpr uint32_t kMaxWidth = 60000;
constexpr size_t kMaxBytesOption = 256;
constexpr size_t kMaxValueOption = 512;
constexpr size_t kMaxFormatOption = 256;
// The longest ZID line, before and after replacement; longer lines are refused.
constexpr size_t kMaxZidLine = 0x7FFF - 2;
// Lines that may fail before the description is given up.
constexpr uint32_t kMaxFailedLines = 25;

struct Column {
  std::string name;
  bool placeholder = false;  // the name begins with '('
  uint32_t line = 0;         // ZID line number, from 1
  int64_t start = 0;         // 1-based byte position; 0 = not set
  int32_t startRef = -1;     // START "@name": index of an earlier column
  uint32_t width = 0;        // 0 = not set
  bool widthGiven = false;
  ColumnType type = ColumnType::kNone;
  std::string typeWord;  // as stored: NUMBER, DATETIME, ...
  char letter = 0;       // 'N', 'T', 'C', 'D' or 0 without TYPE
  uint32_t engineType = 0;
  uint8_t precision = kNoPrecision;
  bool binary = false;
  bool quotes = false;
  bool convtabs = false;
  bool ebcdic = false;
  bool append = false;
  bool isUnsigned = false;
  bool trim = false;
  bool right = false;
  bool zerofill = false;
  TermKind termKind = TermKind::kNone;
  std::string term;
  std::string sep;
  bool hasValue = false;
  std::string value;
  std::string format;
  DateFormat dateFormat;  // format as read, compiled once
  uint32_t keySeq = 0;
  uint8_t keyKind = 0;  // 1 KEY, 2 VIEWKEY
  uint32_t textSize = 0;

  bool terminated() const { return termKind != TermKind::kNone; }
};

// Which keys the description holds; kept for completeness, nothing reads it.
struct KeySummary {
  uint8_t kind = 0;
  uint32_t highestSeq = 0;
  int64_t lastByte = 0;
  int64_t totalWidth = 0;
};

struct ZidOptions {
  Direction direction = Direction::kSource;
  bool checkForQuotes = false;
  uint32_t maxText = 0x8000;
  int32_t fixedRecSize = 0;
  bool echo = false;
  bool embeddedData = false;    // DATABASE begins with '*'
  std::string_view sourceName;  // the file named in messages
};

struct Zid {
  std::vector<Column> columns;
  KeySummary keys;
  bool markerFound = false;
  std::string embedded;  // the data lines after the marker, replaced, each ending in "\n"
};

// Compiles text (the whole description) into *zid. Every message goes to tracer whatever
// its bits. Answers 0, or 12325 when a line failed, no column was accepted, or embedded data
// was expected but its marker is missing.
[[nodiscard]] uint32_t CompileZid(std::string_view text, const ZidOptions& options,
                                  const Replacer& replacer, Tracer& tracer, Zid* zid);

// The first column whose name equals name without regard to case; -1 when none.
int FindColumnByName(const std::vector<Column>& columns, std::string_view name);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_ZID_PARSER_H_
