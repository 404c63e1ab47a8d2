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

// text rewritten for engine. Quoted literals and quoted names are never rewritten; a text the
// shim does not recognise comes back unchanged, so the engine reports its own error for it.
[[nodiscard]] std::string RewriteStatement(std::string_view text, Engine engine);

}  // namespace xandbcli

#endif  // TW_OUTSIDE_XANDBCLI_DIALECT_H_
