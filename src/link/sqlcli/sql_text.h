// The SQL texts of the ODBC connector, built from plain values (names, operators, flags, the
// type table) so that every text can be checked without a data source. The statements unit
// gathers those values from the properties and field lists and runs the texts.
//
// Conventions of every text: the table (METADATA) is written exactly as given, never quoted;
// every column name stands between two copies of the QuoteColumn text (which may be empty);
// parameter values travel through "?" markers, numbered in the order they stand in the text.
//
// Thread rules: pure functions, callable from any thread.
#ifndef TW_LINK_SQLCLI_SQL_TEXT_H_
#define TW_LINK_SQLCLI_SQL_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "connection.h"

namespace sqlcli {

// The cursor name a write-back selection carries; positioned writes refer to it.
inline constexpr std::string_view kCursorName = "QTCURSOR";

// The comparison of a key field by its field flags (KEY_NE, KEY_LT, KEY_GT; with KEY_NE set,
// KEY_LT decides before KEY_GT): "=", ">=", "<=", ">", "<" or "<>"; empty for a field without
// TWFIELDF_KEY, which makes no term.
std::string_view KeyComparison(uint32_t fieldFlags);

// One "column op ?" term.
struct KeyTerm {
  std::string column;
  std::string_view op;  // from KeyComparison
};

// Appends quote, name, quote.
void AppendColumn(std::string& text, std::string_view quote, std::string_view name);

// "SELECT * FROM table WHERE 0=1": describes every column without reading a row.
std::string DescribeTableText(std::string_view table);
// "SELECT <column> FROM table WHERE 0=1": describes one column.
std::string DescribeColumnText(std::string_view table, std::string_view quote,
                               std::string_view column);

// What a selection is made of. Markers: the time-stamp window's first (the lower end only
// when baseStamp), then one per key term.
struct Selection {
  std::string_view table;
  std::string_view quote;
  std::vector<std::string> fields;  // empty: "*"
  std::string_view condition;       // written between parentheses
  std::string_view stampField;      // empty: no time-stamp window
  bool baseStamp = false;           // the window has a lower end ("> ?")
  std::vector<KeyTerm> keys;
  std::vector<std::string> order;
  bool forUpdate = false;  // " FOR UPDATE", " OF <fields>" when fields are named
};
std::string SelectText(const Selection& selection);

// "INSERT INTO table (A, B) VALUES (?, ?)".
std::string InsertText(std::string_view table, std::string_view quote,
                       const std::vector<std::string>& columns);
// "UPDATE table SET B = ?, C = ?" followed by the key terms, or positioned by
// " WHERE CURRENT OF QTCURSOR" (keys then unused).
std::string UpdateText(std::string_view table, std::string_view quote,
                       const std::vector<std::string>& set, const std::vector<KeyTerm>& keys,
                       bool positioned);
// "DELETE FROM table" followed by the key terms, or positioned.
std::string RemoveText(std::string_view table, std::string_view quote,
                       const std::vector<KeyTerm>& keys, bool positioned);
std::string TruncateText(std::string_view table);
std::string DeleteAllText(std::string_view table);
std::string DropText(std::string_view table);

// ---- CREATE TABLE

// The format of an engine field, as TWFieldGetFormatNumber, TWFieldGetFormatDatetime or
// TWFieldGetFormatStream give it for the field's type.
struct FieldShape {
  uint32_t type = TWTYPE_INVALID;
  uint32_t formatFlags = 0;   // TWNUMBERF_*, TWDATETIMEF_* or TWSTREAMF_* by type
  uint32_t byteSize = 0;      // numbers
  uint32_t precision = 0;     // numbers; 0: not given
  int32_t scale = 0;          // numbers; TWSCALE_ZERO counts as 0
  uint32_t length = 0;        // streams; 0: unbounded
  uint32_t streamFormat = 0;  // streams
};

// The SQL class a field's column gets, with the column size and scale written for it.
struct ColumnType {
  int32_t cls = kUnknown;
  int32_t size = 0;
  int32_t scale = 0;
};
// moneyClass counts only when moneyFound (the data source marks one of its types as money).
ColumnType ColumnTypeOfField(const FieldShape& field, const TypeTable& types, bool moneyFound,
                             int32_t moneyClass);

// The type row that names the column's type: the class's own row, or for DECIMAL and
// NUMERIC without a type name a row chosen by size and scale (scale not 0: REAL up to 7
// digits, else DOUBLE; scale 0: BIT up to 1, TINYINT up to 3, SMALLINT up to 5, INTEGER up to
// 9, BIGINT up to 18, else DOUBLE; size 0, not given, DOUBLE). Null when that row has no
// name: the data source cannot hold the column.
const TypeRow* CreateTypeRow(const TypeTable& types, const ColumnType& column);

// The column type text from the row's type name: the size text "(n)" for a row of class
// CHAR, VARCHAR, BINARY or VARBINARY and "(n,s)" for DECIMAL or NUMERIC, only when the row
// takes create parameters and the size is known (not 0). A name with "(" gets the size text
// in place of its parenthesised part ("char() for bit data" -> "char(10) for bit data");
// any other name is followed by it.
std::string TypeText(const TypeRow& row, const ColumnType& column);

// One column of CREATE TABLE.
struct CreateColumn {
  std::string name;
  std::string type;  // from TypeText
  bool notNull = false;
};
// A field of the list CREATE TABLE is given: its name, field flags and format.
struct CreateField {
  std::string name;
  uint32_t flags = 0;  // TWFIELDF_*
  FieldShape shape;
};
// The columns of CREATE TABLE for fields, in order; fields with TWFIELDF_NO_CREATE are left
// out. A column is NOT NULL when the data source supports non-nullable columns
// (nonNullable) and either its type cannot hold null or the field has TWFIELDF_NO_NULL.
// Answers false, with *unsupported the field's name, for a field whose type the data source
// lacks.
bool CreateColumns(const std::vector<CreateField>& fields, const TypeTable& types, bool moneyFound,
                   int32_t moneyClass, bool nonNullable, std::vector<CreateColumn>& columns,
                   std::string* unsupported);
// "CREATE TABLE table (A integer NOT NULL, B varchar(20))".
std::string CreateText(std::string_view table, std::string_view quote,
                       const std::vector<CreateColumn>& columns);

// The log text for a field whose type the data source cannot hold.
std::string UnsupportedTypeText(std::string_view field);

}  // namespace sqlcli

#endif  // TW_LINK_SQLCLI_SQL_TEXT_H_
