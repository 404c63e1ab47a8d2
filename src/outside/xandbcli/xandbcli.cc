// XandbCLI: the table from function number to call, and the calls that do more than forward
// (statement texts, the DBMS name and name-length settings, the no-journal switch).
#include "xandbcli.h"

#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "dialect.h"

namespace xandbcli {
namespace {

struct ConnectionState {
  Engine engine = Engine::kOther;
  SQLULEN no_journal = 0;
};

// The row identity of a FOR UPDATE select's current row, as text; filled by the driver at
// each fetch (a bound column) and read by the driver at each positioned write (a bound
// parameter). Shared, so a write prepared on a cursor keeps a valid buffer after the select
// is dropped.
struct RowIdentity {
  char value[64] = {};
  SQLLEN length = SQL_NULL_DATA;
};

struct StatementState {
  SQLHDBC conn = SQL_NULL_HDBC;
  std::string cursor_name;  // empty: the default name
  SQLULEN concurrency = SQL_CONCUR_READ_ONLY;
  std::shared_ptr<RowIdentity> identity;  // a FOR UPDATE select's
  SQLUSMALLINT hidden_column = 0;         // where the select delivers it, once executed
  std::shared_ptr<RowIdentity> target;    // the row a positioned write addresses
  SQLUSMALLINT target_parameter = 0;
};

// What the library keeps beside the driver's handles.
struct Registry {
  std::mutex mutex;
  std::unordered_map<SQLHDBC, ConnectionState> connections;
  std::unordered_map<SQLHSTMT, StatementState> statements;
};
Registry& Shared() {
  static Registry registry;
  return registry;
}

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// A long name like the drivers' own, so that a caller's buffer must be large enough for it.
std::string DefaultCursorName(SQLHSTMT stmt) {
  char name[32];
  std::snprintf(name, sizeof name, "SQL_CUR%016llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(stmt)));
  return name;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

Engine EngineOfStatement(SQLHSTMT stmt) {
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return Engine::kOther;
  const auto c = shared.connections.find(s->second.conn);
  return c == shared.connections.end() ? Engine::kOther : c->second.engine;
}

std::string_view TextOf(SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return {};
  const char* chars = reinterpret_cast<const char*>(text);
  if (length == SQL_NTS) return std::string_view(chars);
  return length < 0 ? std::string_view() : std::string_view(chars, static_cast<size_t>(length));
}

// Appends text as one line to the file XANDBCLI_RECORD names. One write per text with
// O_APPEND, so the lines of processes that share the file do not interleave.
void Record(std::string_view text) {
  const char* path = std::getenv("XANDBCLI_RECORD");
  if (path == nullptr || *path == '\0') return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string line(text);
  line += '\n';
  const char* at = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, left);
    if (n <= 0) break;
    at += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
}

// Copies value into a caller's string buffer as ODBC does: cut to fit with a NUL, the full
// length reported, SQL_SUCCESS_WITH_INFO when cut.
SQLRETURN CopyString(std::string_view value, SQLPOINTER buffer, SQLSMALLINT size,
                     SQLSMALLINT* length) {
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(std::min<size_t>(value.size(), 32767));
  if (buffer == nullptr || size <= 0) return value.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  const size_t n = std::min<size_t>(value.size(), static_cast<size_t>(size) - 1);
  std::memcpy(buffer, value.data(), n);
  static_cast<char*>(buffer)[n] = '\0';
  return n < value.size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// ---------------------------------------------------------------- calls with more to do -

SQLRETURN SQL_API Connect(SQLHDBC conn, SQLCHAR* dsn, SQLSMALLINT dsn_length, SQLCHAR* user,
                          SQLSMALLINT user_length, SQLCHAR* password, SQLSMALLINT password_length) {
  const SQLRETURN rc =
      ::SQLConnect(conn, dsn, dsn_length, user, user_length, password, password_length);
  if (!Succeeded(rc)) return rc;
  // The engine is the driver's, whatever name the settings serve to the caller.
  char name[128] = {};
  SQLSMALLINT length = 0;
  Engine engine = Engine::kOther;
  if (Succeeded(::SQLGetInfo(conn, SQL_DBMS_NAME, name, sizeof name, &length)))
    engine = EngineOfDbmsName(name);
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  shared.connections[conn] = ConnectionState{engine, 0};
  return rc;
}

SQLRETURN SQL_API Disconnect(SQLHDBC conn) {
  const SQLRETURN rc = ::SQLDisconnect(conn);
  if (Succeeded(rc)) {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.connections.erase(conn);
  }
  return rc;
}

SQLRETURN SQL_API AllocStmt(SQLHDBC conn, SQLHSTMT* stmt) {
  const SQLRETURN rc = ::SQLAllocStmt(conn, stmt);
  if (Succeeded(rc) && stmt != nullptr) {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.statements[*stmt].conn = conn;
  }
  return rc;
}

// Binds what the library reads or writes itself: a select's hidden identity column, a
// positioned write's identity parameter. Again after the caller unbinds or resets.
SQLRETURN BindOwn(SQLHSTMT stmt, bool columns, bool parameters) {
  std::shared_ptr<RowIdentity> identity, target;
  SQLUSMALLINT column = 0, parameter = 0;
  {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const auto s = shared.statements.find(stmt);
    if (s == shared.statements.end()) return SQL_SUCCESS;
    identity = s->second.identity;
    column = s->second.hidden_column;
    target = s->second.target;
    parameter = s->second.target_parameter;
  }
  if (columns && identity != nullptr && column != 0) {
    const SQLRETURN rc = ::SQLBindCol(stmt, column, SQL_C_CHAR, identity->value,
                                      sizeof identity->value, &identity->length);
    if (!Succeeded(rc)) return rc;
  }
  if (parameters && target != nullptr && parameter != 0)
    return ::SQLBindParameter(stmt, parameter, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                              sizeof target->value - 1, 0, target->value, sizeof target->value,
                              &target->length);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API FreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  const SQLRETURN rc = ::SQLFreeStmt(stmt, option);
  if (!Succeeded(rc)) return rc;
  if (option == SQL_DROP) {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.statements.erase(stmt);
    return rc;
  }
  if (option == SQL_UNBIND || option == SQL_RESET_PARAMS)
    return BindOwn(stmt, option == SQL_UNBIND, option == SQL_RESET_PARAMS);
  return rc;
}

// Notes what a rewritten text asks of its statement: the identity a FOR UPDATE select keeps,
// the cursor whose identity a positioned write reads. False when the cursor is unknown: the
// caller then gives the driver the text as written, and the driver's own error.
bool Attach(SQLHSTMT stmt, const Rewritten& rewritten) {
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return rewritten.cursor.empty();
  StatementState& state = s->second;
  state.identity = rewritten.row_identity ? std::make_shared<RowIdentity>() : nullptr;
  state.hidden_column = 0;
  state.target = nullptr;
  state.target_parameter = 0;
  if (rewritten.cursor.empty()) return true;
  const std::string wanted = Upper(rewritten.cursor);
  for (auto& [handle, other] : shared.statements) {
    if (other.conn != state.conn || other.identity == nullptr) continue;
    const std::string name =
        other.cursor_name.empty() ? DefaultCursorName(handle) : other.cursor_name;
    if (Upper(name) == wanted) {
      state.target = other.identity;
      state.target_parameter = static_cast<SQLUSMALLINT>(rewritten.identity_parameter);
      return true;
    }
  }
  return false;
}

// After a select with a row identity has run: the identity is the driver's last column.
SQLRETURN AfterExecute(SQLHSTMT stmt, SQLRETURN rc) {
  if (!Succeeded(rc)) return rc;
  {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const auto s = shared.statements.find(stmt);
    if (s == shared.statements.end() || s->second.identity == nullptr) return rc;
  }
  SQLSMALLINT columns = 0;
  if (const SQLRETURN n = ::SQLNumResultCols(stmt, &columns); !Succeeded(n) || columns < 1)
    return Succeeded(n) ? rc : n;
  {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.statements[stmt].hidden_column = static_cast<SQLUSMALLINT>(columns);
  }
  const SQLRETURN bound = BindOwn(stmt, true, false);
  return Succeeded(bound) ? rc : bound;
}

// Rewrites text for stmt's engine, attaches what it needs and binds its identity parameter;
// the text to give the driver.
std::string Rewrite(SQLHSTMT stmt, std::string_view original) {
  Rewritten rewritten = RewriteStatement(original, EngineOfStatement(stmt));
  if (!Attach(stmt, rewritten)) return std::string(original);
  if (rewritten.identity_parameter != 0) (void)BindOwn(stmt, false, true);
  return std::move(rewritten.text);
}

SQLRETURN SQL_API NumResultCols(SQLHSTMT stmt, SQLSMALLINT* columns) {
  const SQLRETURN rc = ::SQLNumResultCols(stmt, columns);
  if (!Succeeded(rc) || columns == nullptr) return rc;
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  // The hidden identity is not the caller's column.
  if (s != shared.statements.end() && s->second.identity != nullptr && *columns > 0) --*columns;
  return rc;
}

SQLRETURN SQL_API SetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT length) {
  if (name == nullptr || (length < 0 && length != SQL_NTS)) return SQL_ERROR;
  const char* chars = reinterpret_cast<const char*>(name);
  std::string_view text = length == SQL_NTS ? std::string_view(chars)
                                            : std::string_view(chars, static_cast<size_t>(length));
  if (text.empty()) return SQL_ERROR;
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return SQL_INVALID_HANDLE;
  s->second.cursor_name = std::string(text);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API GetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT size,
                                SQLSMALLINT* length) {
  std::string value;
  {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    const auto s = shared.statements.find(stmt);
    if (s == shared.statements.end()) return SQL_INVALID_HANDLE;
    value = s->second.cursor_name.empty() ? DefaultCursorName(stmt) : s->second.cursor_name;
  }
  return CopyString(value, name, size, length);
}

// Lock concurrency is kept and served: row locks come from the FOR UPDATE text, and SQLite's
// driver would refuse the option.
SQLRETURN SQL_API SetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value) {
  if (option != SQL_CONCURRENCY) return ::SQLSetStmtOption(stmt, option, value);
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return SQL_INVALID_HANDLE;
  s->second.concurrency = value;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API GetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLPOINTER value) {
  if (option != SQL_CONCURRENCY) return ::SQLGetStmtOption(stmt, option, value);
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return SQL_INVALID_HANDLE;
  if (value != nullptr) *static_cast<SQLULEN*>(value) = s->second.concurrency;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API Execute(SQLHSTMT stmt) { return AfterExecute(stmt, ::SQLExecute(stmt)); }

SQLRETURN SQL_API BindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value,
                          SQLLEN size, SQLLEN* indicator) {
  const SQLRETURN rc = ::SQLBindCol(stmt, column, type, value, size, indicator);
  // Unbinding a column the library holds must not end its binding.
  if (Succeeded(rc) && value == nullptr) (void)BindOwn(stmt, true, false);
  return rc;
}

// XANDBCLI_TYPE_INFO: "DATA_TYPE:PRECISION:SEARCHABLE" rows, comma-separated, served as the
// type-info result instead of the driver's (a malformed setting gives SQL_ERROR). The rows
// come from the engine itself, as a query of constants in the ODBC column order.
SQLRETURN TypeInfoRows(SQLHSTMT stmt, const char* setting) {
  std::string query;
  std::string_view rest(setting);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string row(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    long type = 0, precision = 0, searchable = 0;
    int used = 0;
    if (std::sscanf(row.c_str(), " %ld:%ld:%ld %n", &type, &precision, &searchable, &used) != 3 ||
        static_cast<size_t>(used) != row.size())
      return SQL_ERROR;
    char line[160];
    std::snprintf(line, sizeof line,
                  "%sSELECT 'T%ld', %ld, %ld, NULL, NULL, NULL, 1, 1, %ld", query.empty() ? "" : " UNION ALL ",
                  type, type, precision, searchable);
    query += line;
  }
  if (query.empty()) return SQL_ERROR;
  return ::SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(query.data()),
                         static_cast<SQLINTEGER>(query.size()));
}

SQLRETURN SQL_API GetTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) {
  const char* setting = std::getenv("XANDBCLI_TYPE_INFO");
  if (setting == nullptr || *setting == '\0' || type != SQL_ALL_TYPES)
    return ::SQLGetTypeInfo(stmt, type);
  return TypeInfoRows(stmt, setting);
}

SQLRETURN SQL_API Prepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  const std::string_view original = TextOf(text, length);
  Record(original);
  std::string rewritten = Rewrite(stmt, original);
  return ::SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                      static_cast<SQLINTEGER>(rewritten.size()));
}

SQLRETURN SQL_API ExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  const std::string_view original = TextOf(text, length);
  Record(original);
  std::string rewritten = Rewrite(stmt, original);
  return AfterExecute(stmt, ::SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                                            static_cast<SQLINTEGER>(rewritten.size())));
}

SQLRETURN SQL_API SetConnectOption(SQLHDBC conn, SQLUSMALLINT option, SQLULEN value) {
  if (option != XANDBCLI_NO_JOURNAL) return ::SQLSetConnectOption(conn, option, value);
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto c = shared.connections.find(conn);
  if (c == shared.connections.end()) return SQL_INVALID_HANDLE;
  c->second.no_journal = value != 0 ? 1 : 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API GetConnectOption(SQLHDBC conn, SQLUSMALLINT option, SQLPOINTER value) {
  if (option != XANDBCLI_NO_JOURNAL) return ::SQLGetConnectOption(conn, option, value);
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto c = shared.connections.find(conn);
  if (c == shared.connections.end()) return SQL_INVALID_HANDLE;
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = static_cast<SQLUINTEGER>(c->second.no_journal);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API GetInfo(SQLHDBC conn, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                          SQLSMALLINT* length) {
  if (type == SQL_DBMS_NAME) {
    if (const char* name = std::getenv("XANDBCLI_DBMS_NAME"))
      return CopyString(name, value, size, length);
  } else if (type == SQL_MAX_COLUMN_NAME_LEN) {
    if (const char* limit = std::getenv("XANDBCLI_MAX_COLUMN_NAME_LEN"); limit && *limit) {
      if (value == nullptr) return SQL_ERROR;
      *static_cast<SQLUSMALLINT*>(value) = static_cast<SQLUSMALLINT>(std::strtoul(limit, nullptr, 10));
      if (length != nullptr) *length = sizeof(SQLUSMALLINT);
      return SQL_SUCCESS;
    }
  }
  return ::SQLGetInfo(conn, type, value, size, length);
}

SQLRETURN SQL_API DataSources(SQLHENV env, SQLUSMALLINT direction, SQLCHAR* name,
                              SQLSMALLINT name_size, SQLSMALLINT* name_length,
                              SQLCHAR* description, SQLSMALLINT description_size,
                              SQLSMALLINT* description_length) {
  return ::SQLDataSources(env, direction, name, name_size, name_length, description,
                          description_size, description_length);
}

// ---------------------------------------------------------------- the table -------------

struct Entry {
  uint16_t number;
  XandbCLIFunction function;
};

template <typename F>
XandbCLIFunction As(F* function) {
  return reinterpret_cast<XandbCLIFunction>(function);
}

const Entry kEntries[] = {
    {SQL_API_SQLALLOCCONNECT, As(&::SQLAllocConnect)},
    {SQL_API_SQLALLOCENV, As(&::SQLAllocEnv)},
    {SQL_API_SQLALLOCSTMT, As(&AllocStmt)},
    {SQL_API_SQLBINDCOL, As(&BindCol)},
    {SQL_API_SQLCANCEL, As(&::SQLCancel)},
    {SQL_API_SQLCOLATTRIBUTES, As(&::SQLColAttributes)},
    {SQL_API_SQLCONNECT, As(&Connect)},
    {SQL_API_SQLDESCRIBECOL, As(&::SQLDescribeCol)},
    {SQL_API_SQLDISCONNECT, As(&Disconnect)},
    {SQL_API_SQLERROR, As(&::SQLError)},
    {SQL_API_SQLEXECDIRECT, As(&ExecDirect)},
    {SQL_API_SQLEXECUTE, As(&Execute)},
    {SQL_API_SQLFETCH, As(&::SQLFetch)},
    {SQL_API_SQLFREECONNECT, As(&::SQLFreeConnect)},
    {SQL_API_SQLFREEENV, As(&::SQLFreeEnv)},
    {SQL_API_SQLFREESTMT, As(&FreeStmt)},
    {SQL_API_SQLGETCURSORNAME, As(&GetCursorName)},
    {SQL_API_SQLNUMRESULTCOLS, As(&NumResultCols)},
    {SQL_API_SQLPREPARE, As(&Prepare)},
    {SQL_API_SQLROWCOUNT, As(&::SQLRowCount)},
    {SQL_API_SQLSETCURSORNAME, As(&SetCursorName)},
    {SQL_API_SQLTRANSACT, As(&::SQLTransact)},
    {SQL_API_SQLCOLUMNS, As(&::SQLColumns)},
    {SQL_API_SQLGETCONNECTOPTION, As(&GetConnectOption)},
    {SQL_API_SQLGETDATA, As(&::SQLGetData)},
    {SQL_API_SQLGETINFO, As(&GetInfo)},
    {SQL_API_SQLGETSTMTOPTION, As(&GetStmtOption)},
    {SQL_API_SQLGETTYPEINFO, As(&GetTypeInfo)},
    {SQL_API_SQLPARAMDATA, As(&::SQLParamData)},
    {SQL_API_SQLPUTDATA, As(&::SQLPutData)},
    {SQL_API_SQLSETCONNECTOPTION, As(&SetConnectOption)},
    {SQL_API_SQLSETSTMTOPTION, As(&SetStmtOption)},
    {SQL_API_SQLSTATISTICS, As(&::SQLStatistics)},
    {SQL_API_SQLTABLES, As(&::SQLTables)},
    {SQL_API_SQLNUMPARAMS, As(&::SQLNumParams)},
    {SQL_API_SQLPARAMOPTIONS, As(&::SQLParamOptions)},
    {SQL_API_SQLPRIMARYKEYS, As(&::SQLPrimaryKeys)},
    {SQL_API_SQLBINDPARAMETER, As(&::SQLBindParameter)},
    {XANDBCLI_DATA_SOURCES, As(&DataSources)},
};

}  // namespace
}  // namespace xandbcli

extern "C" XandbCLIFunction XandbCLIGetFunction(uint16_t number) {
  for (const xandbcli::Entry& entry : xandbcli::kEntries)
    if (entry.number == number) return entry.function;
  return nullptr;
}
