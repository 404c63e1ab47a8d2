// The statement texts of the Oracle connector, built from plain parts so that each text can be
// checked exactly. Every text is sized from its parts: no name or condition is cut to fit a
// buffer (only the names the server limits are cut, to 30 characters).
#ifndef TW_LINK_ORACLE_SQL_TEXT_H_
#define TW_LINK_ORACLE_SQL_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

// The longest name the server takes; longer names from field lists are cut to it.
constexpr size_t kNameLimit = 30;

// ":00001" for 1: a colon and five digits.
std::string Placeholder(uint32_t number);

// A key term: column name, operator ("=", ">=", ...) and its placeholder number.
struct KeyTerm {
  std::string name;
  std::string_view op;
  uint32_t placeholder;
};

// Year, month, day, hour (0-23), minute, second.
struct DateParts {
  uint32_t year, month, day, hour, minute, second;
};
// " TO_DATE ('Y M D h m s AM', 'YYYY MM DD HH MI SS AM') " on the 12-hour clock.
std::string ToDateText(const DateParts& t);

struct SelectParts {
  std::string_view table;                     // METADATA
  std::vector<std::string> fieldList;         // FIELD_LIST names (cut to 30)
  std::vector<std::string> describedColumns;  // WRITEBACK without FIELD_LIST: the table's columns
  bool writeback = false;
  std::string_view condition;
  std::string_view stampField;
  bool hasBaseStamp = false;  // BASESTAMP's year is above 1
  DateParts baseStamp{}, maxStamp{};
  std::vector<KeyTerm> keys;
  std::vector<std::string> orderList;  // ORDER_LIST names, used whole
};
std::string SelectText(const SelectParts& p);

// "INSERT INTO t (a,b) VALUES (:00001,:00002) ".
std::string InsertText(std::string_view table, const std::vector<std::string>& columns);

// A set term: column and the placeholder of its index in the merged list.
struct SetTerm {
  std::string name;
  uint32_t placeholder;
};
// UPDATE (sets given) or DELETE (sets empty and update false), then for writeback
// " WHERE  ROWID = :ROW_ID", otherwise the key terms and " (CONDITION) ".
std::string WriteText(bool update, std::string_view table, const std::vector<SetTerm>& sets,
                      const std::vector<KeyTerm>& keys, std::string_view condition, bool writeback);

// A CREATE TABLE column: name (cut to 30), type text, size suffix, NOT NULL.
struct CreateColumn {
  std::string name;
  std::string type;
  std::string suffix;
  bool notNull = false;
};
std::string CreateTableText(std::string_view table, const std::vector<CreateColumn>& columns);
// "(00030)" or "(00010,00002)"; hasScale with a scale of 0x7FFFFFFF writes ",00000".
std::string SizeSuffix(uint32_t size, bool hasScale = false, uint32_t scale = 0);
std::string CreateIndexText(std::string_view index, std::string_view table,
                            const std::vector<std::string>& columns);
std::string DropText(bool table, std::string_view name);
std::string TruncateText(std::string_view table);
// Catalogue kinds 3 to 5; the METADATA literal has its quotes doubled. Empty for another kind.
std::string CatalogText(uint32_t kind, std::string_view table);
// An own statement as it is parsed: leading and trailing blanks dropped, and a final ";"
// dropped unless the text is a block (BEGIN or DECLARE, any case).
std::string OwnStatementText(std::string_view text);

}  // namespace oracle

#endif  // TW_LINK_ORACLE_SQL_TEXT_H_
