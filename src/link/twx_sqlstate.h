// What a relational client's diagnostic says, for the connectors over ODBC-style clients: a
// condition is recognised by its SQLSTATE in ODBC 2 or ODBC 3 terms, by the engine's own code
// (PostgreSQL's), or, for SQLite, which reports every failure of a statement as a general
// error, by its text.
//
// Thread rules: pure functions.
#ifndef TW_LINK_TWX_SQLSTATE_H_
#define TW_LINK_TWX_SQLSTATE_H_

#include <string_view>

namespace tw::twx {

enum class SqlCondition { kMissingTable, kDuplicateTable, kDuplicateIndex };

bool SqlStateSays(SqlCondition condition, std::string_view sqlState, std::string_view message);

// Whether a diagnostic record says that a table does not exist.
inline bool IsMissingTable(std::string_view sqlState, std::string_view message) {
  return SqlStateSays(SqlCondition::kMissingTable, sqlState, message);
}

}  // namespace tw::twx

#endif  // TW_LINK_TWX_SQLSTATE_H_
