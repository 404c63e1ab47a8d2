// The statement texts of the Corvex connector, built from plain parts so that each text can be
// checked exactly, and the server character sets the connector reads. Every text is sized
// from its parts: no name, condition or value is cut to fit a buffer. Names taken from field
// lists are cut to the server's 132 bytes, except in the column list of an insert.
//
// Thread rules: pure functions, callable from any thread.
#ifndef TW_LINK_CORVEX_SQL_TEXT_H_
#define TW_LINK_CORVEX_SQL_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

// The longest name the server takes.
constexpr size_t kNameLimit = 132;
// The longest value a char or binary parameter, and a bounded created column, holds.
constexpr uint32_t kShortLimit = 255;
// The cursor every write-back selection opens; positioned writes name it.
inline constexpr std::string_view kCursorName = "cursor_execute";

// The engine text format of a server character-set name (matched exactly); TWSTREAMFMT_NATIVE
// (0xFFFF) for "koi8" and every name not known, found false for the latter.
uint32_t FormatOfCharacterSet(std::string_view name, bool* found = nullptr);

// ---- literal values
// "%ld" of the value cut toward zero for an integer column; otherwise every digit that tells
// the double apart ("%.17g"), written without an exponent.
std::string FloatLiteral(double value, bool integerColumn);
// Between double quotes, each double quote inside doubled.
std::string QuotedLiteral(std::string_view bytes);
// "0x" and two upper-case hexadecimal digits per byte.
std::string HexLiteral(std::string_view bytes);
// 'M/D/YYYY h:mm:ss.hh'.
struct DateParts {
  int32_t year, month, day, hour, minute, second, hundredth;
};
std::string DatetimeLiteral(const DateParts& t);
// Between single quotes, each single quote inside doubled.
std::string StringLiteral(std::string_view text);

// ---- selections
struct KeyTerm {
  std::string name;
  std::string_view op;
  std::string value;  // a literal, or "?" in a prepared text
};
struct SelectParts {
  std::string_view table;
  std::vector<std::string> fieldList;
  std::string_view condition;
  std::string_view stampField;
  bool hasBaseStamp = false;
  std::string baseStamp, maxStamp;  // the engine's text of each datetime
  std::vector<KeyTerm> keys;
  std::vector<std::string> orderList;
};
std::string SelectText(const SelectParts& p);

// ---- writes
// "insert into T (a,b) values (v,w) " with the values given (literals, or "?" each).
std::string InsertText(std::string_view table, const std::vector<std::string>& names,
                       const std::vector<std::string>& values);
// A set term "name=value".
struct SetTerm {
  std::string name;
  std::string value;
};
// An update (sets given, update true) or delete by key and condition, literal or prepared:
// the key terms then " (condition) ", as the prepared texts order them; a literal text puts
// the condition first. Callers refuse a write with neither keys nor condition.
std::string WriteText(bool update, bool literal, std::string_view table,
                      const std::vector<SetTerm>& sets, const std::vector<KeyTerm>& keys,
                      std::string_view condition);
// The positioned update and delete of the open write-back cursor.
std::string CursorUpdateText(std::string_view table, const std::vector<SetTerm>& sets);
std::string CursorDeleteText(std::string_view table);

// ---- definitions and the rest
std::string UseText(std::string_view database);
std::string TruncateText(std::string_view table);
struct CreateColumn {
  std::string name;
  std::string type;  // with its size part
  bool notNull = false;
};
std::string CreateTableText(std::string_view table, const std::vector<CreateColumn>& columns);
std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns);
std::string DropTableText(std::string_view table);
std::string DropIndexText(std::string_view table, std::string_view index);
// Catalogue kinds 2 to 5; the METADATA literal of 4 and 5 has its quotes doubled. Empty for
// another kind.
std::string CatalogText(uint32_t kind, std::string_view table);
std::string BulkOptionText(std::string_view database);

// ---- create-table types
// The format of an engine field as the create-table mapping reads it.
struct FieldShape {
  uint32_t type = 0;
  uint32_t formatFlags = 0;  // number, datetime or stream format flags by type
  uint32_t byteSize = 0;     // numbers and datetimes
  uint32_t precision = 0;
  int32_t scale = 0;  // 0x7FFFFFFF (explicit zero) is written as 0
  uint32_t length = 0;
  uint32_t streamFormat = 0;
};
// The column type with its size part ("varchar(30)", "numeric(12, 2)"); empty for a field of a
// type the server cannot hold.
std::string CreateType(const FieldShape& f, bool shortBound, bool shortUnbound);

}  // namespace corvex

#endif  // TW_LINK_CORVEX_SQL_TEXT_H_
