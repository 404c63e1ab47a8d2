// The Xandb dialect shim of XandbCLI: rewrites the statement texts the Xandb connector emits
// into texts the engine behind a data source (SQLite or PostgreSQL) runs with the same meaning.
#ifndef TW_OUTSIDE_XANDBCLI_DIALECT_H_
#define TW_OUTSIDE_XANDBCLI_DIALECT_H_

#include <string>
#include <string_view>

namespace xandbcli {

enum class Engine { kOther, kSqlite, kPostgres };

// The engine of a driver's DBMS name (SQLGetInfo 17); kOther gets texts unchanged.
[[nodiscard]] Engine EngineOfDbmsName(std::string_view dbms_name);

// A statement text as the engine is to run it.
//   row_identity  a FOR UPDATE select: the text gives the row identity (SQLite's rowid,
//                 PostgreSQL's ctid) as a hidden last column, to be kept at each fetch.
//   cursor        a positioned write "WHERE CURRENT OF cursor": the text compares the row
//                 identity with parameter identity_parameter (the last), which the caller binds
//                 to the identity kept for that cursor's current row.
struct Rewritten {
  std::string text;
  bool row_identity = false;
  std::string cursor;
  unsigned identity_parameter = 0;
};

// text rewritten for engine. Quoted literals and quoted names are never rewritten; a text the
// shim does not recognise comes back unchanged, so the engine reports its own error for it.
[[nodiscard]] Rewritten RewriteStatement(std::string_view text, Engine engine);

}  // namespace xandbcli

#endif  // TW_OUTSIDE_XANDBCLI_DIALECT_H_
