// The dialect of tds5d: the T-SQL subset its clients send, rewritten for SQLite, and the column
// types it keeps in SQLite's declared types.
#ifndef TW_TESTS_TDS5D_TDS5D_SQL_H_
#define TW_TESTS_TDS5D_TDS5D_SQL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tds5d {

// Wire data types of TDS 5.0 that the server uses.
enum WireType : uint8_t {
  kImage = 0x22,
  kText = 0x23,
  kVarBinary = 0x25,
  kIntN = 0x26,
  kVarChar = 0x27,
  kBinary = 0x2D,
  kChar = 0x2F,
  kInt1 = 0x30,
  kBit = 0x32,
  kInt2 = 0x34,
  kDecimal = 0x37,
  kDatetime4 = 0x3A,
  kReal = 0x3B,
  kMoney = 0x3C,
  kDatetime = 0x3D,
  kFloat = 0x3E,
  kNumericOld = 0x3F,
  kDecimalN = 0x6A,
  kNumericN = 0x6C,
  kFloatN = 0x6D,
  kMoneyN = 0x6E,
  kDatetimeN = 0x6F,
  kMoney4 = 0x7A,
  kLongChar = 0xAF,
  kInt8 = 0xBF,
  kLongBinary = 0xE1,
  kInt4 = 0x38,
};

// A column (or parameter) as the wire describes it.
struct Column {
  Column() = default;
  Column(std::string n, uint8_t t, int32_t len, uint8_t p = 0, uint8_t s = 0)
      : name(std::move(n)), type(t), length(len), precision(p), scale(s) {}
  std::string name;
  uint8_t type = kVarChar;
  int32_t length = 255;  // the maximal length of the value
  uint8_t precision = 0, scale = 0;
  std::string table;  // text and image columns name their table
  bool nullable = true;
};

// The fixed form of a nullable wire type (INTN 4 -> INT4, ...) for a column that takes no
// null; other types stay.
void MakeNotNull(Column& c);
// The length of a wire type that has a fixed one (and no length on the wire), else 0.
int FixedSize(uint8_t type);

// The column of a SQLite declared type written by CREATE TABLE here (or a plain SQLite type);
// nullopt for no declared type.
std::optional<Column> ColumnOfDeclared(std::string_view declared);

// What a T-SQL type becomes in SQLite: the declared type and a check of the stored value
// ("%s" stands for the column), or an error text when the type is unknown.
struct StoredType {
  std::string declared;
  std::string check;
};
std::optional<StoredType> StoredTypeOf(std::string_view type, std::string_view args);

// Rewrites a T-SQL statement into SQLite: "..." strings, 0x hex, $money, quoted dates (into the
// stored form), @@client_csname, getdate (), db..table. An empty optional with the error text set
// when the text cannot be read (an unterminated literal).
struct Dialect {
  std::string charset;   // what @@client_csname answers
  std::string database;  // the current database ("master" names SQLite's main there)
  int spid = 0;
  std::vector<std::string>* databases = nullptr;  // gets the other databases named (db..table)
};
std::optional<std::string> ToSqlite(std::string_view text, const Dialect& d, std::string& error);

// The words of a statement in upper case, with their places, up to max words (identifiers,
// numbers and single punctuation marks; strings as one word).
struct Word {
  std::string upper;
  std::string text;
  size_t begin = 0, end = 0;
};
std::vector<Word> Words(std::string_view text, size_t max);

// Rewrites a CREATE TABLE column list: each definition's type becomes its stored type and a
// check. Returns the SQLite text or nullopt with error set (2715 unknown type, 102 syntax).
std::optional<std::string> CreateTableToSqlite(std::string_view table, std::string_view columns,
                                               const Dialect& d, int& errorNumber,
                                               std::string& error);

}  // namespace tds5d

#endif  // TW_TESTS_TDS5D_TDS5D_SQL_H_
