// The statement texts of the Xandb connector, built piece by piece from plain values (names,
// operators, limits, field shapes) so that every text can be checked without a data source.
// Each piece carries its own blanks, and the pieces are joined with nothing between them:
// the texts are what the client library receives, byte for byte. Names are written as given,
// never quoted; values travel through "?" markers.
//
// Thread rules: pure functions, callable from any thread.
#ifndef TW_LINK_XANDB_SQL_TEXT_H_
#define TW_LINK_XANDB_SQL_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"

namespace xandb {

// SQL type codes of the client beyond ODBC's.
inline constexpr int16_t kSqlClob = -99;
inline constexpr int16_t kSqlBlob = -98;
inline constexpr int16_t kSqlGraphic = -95;
inline constexpr int16_t kSqlVarGraphic = -96;
inline constexpr int16_t kSqlLongVarGraphic = -97;
inline constexpr int16_t kSqlDbClob = -350;

// A column name longer than the data source takes is cut to its limit; a limit of 0 means
// the data source states none, and the common 128 holds.
inline constexpr uint32_t kDefaultNameLimit = 128;
std::string CutName(std::string_view name, uint32_t limit);

// What the type scan learnt: the largest size of each type, the largest type of each family
// with its size, and the largest searchable one (what key values are bound as).
struct TypeLimits {
  int32_t charSize = 0, varcharSize = 0, longVarcharSize = 0, clobSize = 0;
  int32_t binarySize = 0, varbinarySize = 0, longVarbinarySize = 0, blobSize = 0;
  int16_t charType = 0, binaryType = 0, searchCharType = 0, searchBinaryType = 0;
  int32_t charTypeSize = 0, binaryTypeSize = 0, searchCharSize = 0, searchBinarySize = 0;
};
// One row of the data source's type information; false when its type is not one of the eight
// that set a limit (such a row does not count toward the eight).
bool TakeTypeRow(TypeLimits& limits, int32_t dataType, int32_t size, int32_t searchable);

// " TIMESTAMP ('2026-12-10-08.05.09.07') ".
std::string TimestampLiteral(const TWDatetimeParts& parts);

// One "name op ?" term: the name cut, the operator of the key-term rule.
struct KeyTerm {
  std::string column;
  std::string_view op;
};
// The operator of a key field by its flags; empty for a field without TWFIELDF_KEY.
std::string_view KeyComparison(uint32_t fieldFlags);

struct Selection {
  std::string_view table;
  std::vector<std::string> columns;  // cut; empty: "*"
  std::string_view condition;
  std::string_view stampField;       // empty: no window
  std::optional<std::string> lower;  // the literal of BASESTAMP when it bounds the window
  std::string upper;                 // the literal of MAXSTAMP
  std::vector<KeyTerm> keys;
  std::vector<std::string> order;  // not cut
  bool forUpdate = false;          // written only without an order
};
std::string SelectText(const Selection& s);

std::string DescribeText(std::string_view table);
std::string InsertText(std::string_view table, const std::vector<std::string>& columns);
// Update (set not null) or delete. A non-empty cursor makes it positioned; otherwise the
// condition and the key terms select the rows.
std::string UpdateText(std::string_view table, const std::vector<std::string>& set,
                       std::string_view condition, const std::vector<KeyTerm>& keys,
                       std::string_view cursor);
std::string DeleteText(std::string_view table, std::string_view condition,
                       const std::vector<KeyTerm>& keys, std::string_view cursor);
std::string TruncateText(std::string_view table);
std::string DropTableText(std::string_view table);
std::string DropIndexText(std::string_view index);
std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns);
std::string CreateTableText(std::string_view table, const std::vector<std::string>& definitions);
inline constexpr std::string_view kServerTimeText = "VALUES CURRENT TIMESTAMP";
std::string ServerTimeText(std::string_view table);

// An engine field's format as CREATE TABLE reads it.
struct FieldShape {
  uint32_t type = TWTYPE_INVALID;
  uint32_t formatFlags = 0;  // TWNUMBERF_*, TWDATETIMEF_* or TWSTREAMF_* by type
  uint32_t byteSize = 0;
  uint32_t precision = 0;
  int32_t scale = 0;
  uint32_t length = 0;        // streams
  uint32_t streamFormat = 0;  // streams
  uint32_t fieldFlags = 0;    // TWFIELDF_*
};
FieldShape ShapeOfField(TWFIELD field);
// The column type of a field with its size part and suffixes ("VARCHAR (20) ", "DOUBLE",
// "CLOB (2147483647)  NOT LOGGED COMPACT"); nullopt for a field no column type holds.
// serverKind 1 and 2 call a double FLOAT.
std::optional<std::string> ColumnType(const FieldShape& f, const TypeLimits& limits,
                                      int32_t serverKind, uint32_t createMaxLogged);
// name + " " + type + " NOT NULL" for a field flagged TWFIELDF_NO_NULL.
std::string ColumnDefinition(std::string_view name, std::string_view type, bool notNull);

}  // namespace xandb

#endif  // TW_LINK_XANDB_SQL_TEXT_H_
