// The Oracle dialect the connector emits, rewritten into SQLite, and the client's value forms
// (VARNUM, the 7-byte DATE). Internal to ora72; tested directly.
#ifndef TW_OUTSIDE_ORA72_DIALECT_H_
#define TW_OUTSIDE_ORA72_DIALECT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace ora72 {

struct Rewritten {
  std::string sql;          // for SQLite
  int rc = 0;               // 0 or a return code (the text is refused)
  uint16_t offset = 0;      // where in the given text rc was found
  bool forUpdate = false;   // "FOR UPDATE OF" was stripped: the cursor takes the write lock
  bool ddl = false;         // commits before and after
  bool select = false;
};

// Rewrites one statement: blocks are refused (6550); TRUNCATE TABLE t becomes DELETE FROM t;
// SYSDATE becomes a call; '' becomes NULL; a trailing FOR UPDATE OF list is stripped; CREATE
// TABLE column names over 30 characters or reserved give 904, a stray character 911.
Rewritten Rewrite(std::string_view text);

// Declared column type -> internal type, size, precision, scale (the SQLite declared type
// text as written in CREATE TABLE).
struct ColumnType {
  int16_t type = 1;
  int32_t size = 0;
  int16_t precision = 0;
  int16_t scale = 0;
};
ColumnType TypeOfDeclared(std::string_view declared);

// VARNUM <-> decimal text ("-12.5", "0", "123456789012345678901"). Encode answers false on a
// text that is no number.
bool VarnumFromText(std::string_view text, unsigned char out[22]);
std::string VarnumToText(const unsigned char* varnum, size_t length);

// The 7-byte DATE <-> "YYYY-MM-DD HH:MM:SS". FromText answers false on another form.
bool DateFromText(std::string_view text, unsigned char out[7]);
std::string DateToText(const unsigned char in[7]);

// TO_DATE(text, format) for the formats 'YYYY MM DD HH MI SS AM' and 'YYYY-MM-DD HH24:MI:SS';
// answers false when the text does not fit the format.
bool ToDate(std::string_view text, std::string_view format, std::string& out);

}  // namespace ora72

#endif  // TW_OUTSIDE_ORA72_DIALECT_H_
