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
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "codepage.h"
#include "dialect.h"

namespace xandbcli {
namespace {

struct ConnectionState {
  Engine engine = Engine::kOther;
  SQLULEN no_journal = 0;
  std::shared_ptr<CodePage> page;  // null: texts pass unconverted
};

// A parameter as the caller bound it. A SQL_C_CHAR input under a client code page (convert)
// is read at each execution and the driver is bound to the converted values instead; every
// binding is kept for a driver without parameter arrays, which is given the rows one by one.
struct Parameter {
  bool convert = false;
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLSMALLINT io = SQL_PARAM_INPUT;
  SQLSMALLINT sql_type = SQL_VARCHAR;
  SQLULEN column_size = 0;
  SQLSMALLINT digits = 0;
  const char* value = nullptr;
  SQLLEN buffer_length = 0;
  const SQLLEN* indicator = nullptr;
  std::string converted;
  std::vector<SQLLEN> lengths;
  size_t width = 0;
};

// A SQL_C_CHAR result column under a client code page, bound by the caller: the driver fills
// ours, each fetch converts into the caller's.
struct CharColumn {
  char* value = nullptr;
  SQLLEN buffer_length = 0;
  SQLLEN* indicator = nullptr;
  std::vector<char> engine_value;
  SQLLEN engine_length = 0;
};

// The converted value of the column SQLGetData is reading in pieces.
struct PendingValue {
  SQLUSMALLINT column = 0;
  std::string data;
  size_t offset = 0;
  bool null = false;
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
  std::shared_ptr<CodePage> page;  // the connection's
  std::map<SQLUSMALLINT, Parameter> parameters;
  bool row_by_row = false;  // the driver takes no parameter arrays
  SQLULEN* rows_done = nullptr;
  std::map<SQLUSMALLINT, CharColumn> char_columns;
  SQLULEN parameter_rows = 1;
  PendingValue pending;
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

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

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

// The library's record of stmt, or null. The record stays where it is until the statement is
// dropped, and a statement serves one thread at a time, so its record is used unlocked.
StatementState* StateOf(SQLHSTMT stmt) {
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  return s == shared.statements.end() ? nullptr : &s->second;
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
  ConnectionState& state = shared.connections[conn];
  state.engine = engine;
  state.no_journal = 0;
  state.page = CodePage::FromEnvironment();
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
    StatementState& state = shared.statements[*stmt];
    state.conn = conn;
    if (const auto c = shared.connections.find(conn); c != shared.connections.end())
      state.page = c->second.page;
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
  if (StatementState* state = StateOf(stmt)) {
    state->pending.column = 0;
    if (option == SQL_UNBIND) state->char_columns.clear();
    if (option == SQL_RESET_PARAMS) state->parameters.clear();
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

SQLRETURN SQL_API BindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value,
                          SQLLEN size, SQLLEN* indicator) {
  StatementState* state = StateOf(stmt);
  if (state != nullptr) state->char_columns.erase(column);
  if (state != nullptr && state->page != nullptr && type == SQL_C_CHAR && value != nullptr) {
    // UTF-8 takes up to four bytes for a character of the client's page.
    CharColumn& c = state->char_columns[column];
    c.value = static_cast<char*>(value);
    c.buffer_length = size;
    c.indicator = indicator;
    c.engine_value.assign(static_cast<size_t>(std::max<SQLLEN>(size, 1)) * 4 + 1, '\0');
    return ::SQLBindCol(stmt, column, SQL_C_CHAR, c.engine_value.data(),
                        static_cast<SQLLEN>(c.engine_value.size()), &c.engine_length);
  }
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
    std::snprintf(line, sizeof line, "%sSELECT 'T%ld', %ld, %ld, NULL, NULL, NULL, 1, 1, %ld",
                  query.empty() ? "" : " UNION ALL ", type, type, precision, searchable);
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

// The text the engine is to run: in UTF-8, rewritten; false when it is not text of the
// client's page.
bool EngineText(SQLHSTMT stmt, std::string_view original, std::string* out) {
  Record(original);
  StatementState* state = StateOf(stmt);
  std::string utf8;
  if (state != nullptr && state->page != nullptr) {
    if (!state->page->ToEngine(original, &utf8)) return false;
    original = utf8;
  }
  *out = Rewrite(stmt, original);
  return true;
}

// Converts the SQL_C_CHAR parameters of a client page for the execution about to run and
// binds the driver to the converted values. False on a value not of the client's page.
bool ConvertParameters(SQLHSTMT stmt, SQLRETURN* rc) {
  StatementState* state = StateOf(stmt);
  *rc = SQL_SUCCESS;
  if (state == nullptr || state->page == nullptr) return true;
  const SQLULEN rows = std::max<SQLULEN>(state->parameter_rows, 1);
  std::vector<std::string> values(rows);
  for (auto& [number, p] : state->parameters) {
    if (!p.convert) continue;
    p.lengths.assign(rows, SQL_NULL_DATA);
    size_t width = 1;
    for (SQLULEN r = 0; r < rows; ++r) {
      values[r].clear();
      const SQLLEN indicator = p.indicator != nullptr ? p.indicator[r] : SQL_NTS;
      if (indicator == SQL_NULL_DATA || p.value == nullptr) continue;
      const char* at = p.value + r * static_cast<size_t>(p.buffer_length);
      const size_t length =
          indicator == SQL_NTS
              ? ::strnlen(at, p.buffer_length > 0 ? static_cast<size_t>(p.buffer_length) : SIZE_MAX)
              : static_cast<size_t>(std::max<SQLLEN>(indicator, 0));
      if (!state->page->ToEngine(std::string_view(at, length), &values[r])) return false;
      p.lengths[r] = static_cast<SQLLEN>(values[r].size());
      width = std::max(width, values[r].size() + 1);
    }
    p.width = width;
    p.converted.assign(width * rows, '\0');
    for (SQLULEN r = 0; r < rows; ++r)
      std::memcpy(p.converted.data() + r * width, values[r].data(), values[r].size());
    *rc = ::SQLBindParameter(stmt, number, p.io, SQL_C_CHAR, p.sql_type,
                             std::max<SQLULEN>(p.column_size, width - 1), p.digits,
                             p.converted.data(), static_cast<SQLLEN>(width), p.lengths.data());
    if (!Succeeded(*rc)) return true;
  }
  return true;
}

SQLRETURN SQL_API Prepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  std::string rewritten;
  if (!EngineText(stmt, TextOf(text, length), &rewritten)) return SQL_ERROR;
  return ::SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                      static_cast<SQLINTEGER>(rewritten.size()));
}

// The size of one value of a fixed-size C type; 0 for the types whose buffers have a length.
SQLLEN FixedSize(SQLSMALLINT c_type) {
  switch (c_type) {
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
      return 1;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
      return 2;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT:
      return 4;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE:
      return 8;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
      return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME:
      return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_NUMERIC:
      return sizeof(SQL_NUMERIC_STRUCT);
    default:
      return 0;
  }
}

// One execution (run) per row of the parameter arrays, each parameter bound at its row: for
// a driver without parameter arrays. Rows before a failing one stay done and are counted.
template <class Run>
SQLRETURN RowByRow(SQLHSTMT stmt, StatementState* state, Run run) {
  const SQLULEN rows = std::max<SQLULEN>(state->parameter_rows, 1);
  SQLRETURN last = SQL_SUCCESS;
  for (SQLULEN r = 0; r < rows; ++r) {
    if (state->rows_done != nullptr) *state->rows_done = r;
    for (auto& [number, p] : state->parameters) {
      char* value;
      SQLLEN* indicator;
      SQLLEN length = p.buffer_length;
      if (p.convert) {
        value = p.converted.data() + r * p.width;
        indicator = p.lengths.data() + r;
        length = static_cast<SQLLEN>(p.width);
      } else {
        const SQLLEN fixed = FixedSize(p.c_type);
        const SQLLEN stride = fixed != 0 ? fixed : p.buffer_length;
        value = p.value != nullptr ? const_cast<char*>(p.value) + r * static_cast<size_t>(stride)
                                   : nullptr;
        indicator = p.indicator != nullptr ? const_cast<SQLLEN*>(p.indicator) + r : nullptr;
      }
      const SQLRETURN rc =
          ::SQLBindParameter(stmt, number, p.io, p.convert ? SQL_C_CHAR : p.c_type, p.sql_type,
                             p.column_size, p.digits, value, length, indicator);
      if (!Succeeded(rc)) return rc;
    }
    last = run();
    if (!Succeeded(last) && last != SQL_NO_DATA) return last;
  }
  if (state->rows_done != nullptr) *state->rows_done = rows;
  return last;
}

SQLRETURN SQL_API ExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  std::string rewritten;
  if (!EngineText(stmt, TextOf(text, length), &rewritten)) return SQL_ERROR;
  SQLRETURN rc = SQL_SUCCESS;
  if (!ConvertParameters(stmt, &rc)) return SQL_ERROR;
  if (!Succeeded(rc)) return rc;
  auto run = [&] {
    return ::SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                           static_cast<SQLINTEGER>(rewritten.size()));
  };
  StatementState* state = StateOf(stmt);
  if (state != nullptr && state->row_by_row) return AfterExecute(stmt, RowByRow(stmt, state, run));
  return AfterExecute(stmt, run());
}

SQLRETURN SQL_API Execute(SQLHSTMT stmt) {
  SQLRETURN rc = SQL_SUCCESS;
  if (!ConvertParameters(stmt, &rc)) return SQL_ERROR;
  if (!Succeeded(rc)) return rc;
  StatementState* state = StateOf(stmt);
  if (state != nullptr && state->row_by_row)
    return AfterExecute(stmt, RowByRow(stmt, state, [&] { return ::SQLExecute(stmt); }));
  return AfterExecute(stmt, ::SQLExecute(stmt));
}

SQLRETURN SQL_API BindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT io,
                                SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN column_size,
                                SQLSMALLINT digits, SQLPOINTER value, SQLLEN buffer_length,
                                SQLLEN* indicator) {
  StatementState* state = StateOf(stmt);
  const bool convert =
      state != nullptr && state->page != nullptr && c_type == SQL_C_CHAR && io == SQL_PARAM_INPUT;
  if (!convert) {
    const SQLRETURN rc = ::SQLBindParameter(stmt, number, io, c_type, sql_type, column_size, digits,
                                            value, buffer_length, indicator);
    if (state == nullptr || !Succeeded(rc)) return rc;
  }
  Parameter& p = state->parameters[number];
  p.convert = convert;
  p.c_type = c_type;
  p.io = io;
  p.sql_type = sql_type;
  p.column_size = column_size;
  p.digits = digits;
  p.value = static_cast<const char*>(value);
  p.buffer_length = buffer_length;
  p.indicator = indicator;
  return SQL_SUCCESS;
}

// XANDBCLI_PARAMETER_ARRAYS=0 treats the driver as one without parameter arrays.
SQLRETURN SQL_API ParamOptions(SQLHSTMT stmt, SQLULEN rows, SQLULEN* done) {
  StatementState* state = StateOf(stmt);
  const char* arrays = std::getenv("XANDBCLI_PARAMETER_ARRAYS");
  const bool refused = arrays != nullptr && std::strcmp(arrays, "0") == 0;
  const SQLRETURN rc = refused ? SQL_ERROR : ::SQLParamOptions(stmt, rows, done);
  if (state == nullptr) return rc;
  state->row_by_row = false;
  state->rows_done = nullptr;
  if (Succeeded(rc)) {
    state->parameter_rows = rows;
    return rc;
  }
  if (rows == 0) return rc;
  // The driver takes one row at a time: the library gives it each row in turn.
  if (!refused && !Succeeded(::SQLParamOptions(stmt, 1, nullptr))) return rc;
  state->parameter_rows = rows;
  state->row_by_row = rows > 1;
  state->rows_done = done;
  return SQL_SUCCESS;
}

// Reads the whole of a SQL_C_CHAR value from the driver, in pieces whatever it says of the
// length (a driver may answer SQL_NO_TOTAL).
SQLRETURN ReadWholeText(SQLHSTMT stmt, SQLUSMALLINT column, std::string* out, bool* null) {
  out->clear();
  *null = false;
  char piece[4096];
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = ::SQLGetData(stmt, column, SQL_C_CHAR, piece, sizeof piece, &indicator);
    if (rc == SQL_NO_DATA) return out->empty() ? SQL_NO_DATA : SQL_SUCCESS;
    if (!Succeeded(rc)) return rc;
    if (indicator == SQL_NULL_DATA) {
      *null = true;
      return SQL_SUCCESS;
    }
    const bool whole = indicator != SQL_NO_TOTAL && indicator < static_cast<SQLLEN>(sizeof piece);
    out->append(piece, whole ? static_cast<size_t>(indicator) : ::strnlen(piece, sizeof piece - 1));
    if (whole || rc == SQL_SUCCESS) return SQL_SUCCESS;
  }
}

// XANDBCLI_NO_TOTAL=1: a length probe (no room) of a character or binary value answers
// SQL_NO_TOTAL, as drivers may that cannot tell a value's length before reading it.
SQLRETURN NoTotal(SQLSMALLINT c_type, SQLLEN buffer_length, SQLLEN* indicator, SQLRETURN rc) {
  const char* setting = std::getenv("XANDBCLI_NO_TOTAL");
  if (setting == nullptr || std::strcmp(setting, "1") != 0 || buffer_length != 0 ||
      indicator == nullptr || *indicator < 0 || !Succeeded(rc) ||
      (c_type != SQL_C_CHAR && c_type != SQL_C_BINARY))
    return rc;
  *indicator = SQL_NO_TOTAL;
  return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN GetDataOf(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                    SQLLEN buffer_length, SQLLEN* indicator);

SQLRETURN SQL_API GetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                          SQLLEN buffer_length, SQLLEN* indicator) {
  return NoTotal(c_type, buffer_length, indicator,
                 GetDataOf(stmt, column, c_type, value, buffer_length, indicator));
}

SQLRETURN GetDataOf(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                    SQLLEN buffer_length, SQLLEN* indicator) {
  StatementState* state = StateOf(stmt);
  if (state == nullptr || state->page == nullptr || c_type != SQL_C_CHAR) {
    if (state != nullptr) state->pending.column = 0;
    return ::SQLGetData(stmt, column, c_type, value, buffer_length, indicator);
  }
  PendingValue& pending = state->pending;
  if (pending.column != column) {
    std::string engine_value;
    bool null = false;
    const SQLRETURN rc = ReadWholeText(stmt, column, &engine_value, &null);
    if (!Succeeded(rc)) return rc;
    pending.null = null;
    pending.offset = 0;
    if (!null && !state->page->ToClient(engine_value, &pending.data)) return SQL_ERROR;
    pending.column = column;
  } else if (pending.null || pending.offset >= pending.data.size()) {
    return SQL_NO_DATA;  // the value was delivered whole already
  }
  if (pending.null) {
    if (indicator != nullptr) *indicator = SQL_NULL_DATA;
    pending.offset = 1;
    return SQL_SUCCESS;
  }
  const size_t left = pending.data.size() - pending.offset;
  if (indicator != nullptr) *indicator = static_cast<SQLLEN>(left);
  if (value == nullptr || buffer_length <= 0) {
    // A length probe: nothing is delivered, so the next call starts the value again.
    if (left == 0) pending.offset = 1;
    return left == 0 ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  }
  const size_t n = std::min(left, static_cast<size_t>(buffer_length) - 1);
  std::memcpy(value, pending.data.data() + pending.offset, n);
  static_cast<char*>(value)[n] = '\0';
  pending.offset += n;
  if (left == 0) pending.offset = 1;  // an empty value, delivered
  return n < left ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// Converts the bound SQL_C_CHAR columns of the row just fetched into the caller's buffers.
SQLRETURN ConvertColumns(StatementState* state, SQLRETURN rc) {
  if (!Succeeded(rc)) return rc;
  for (auto& [number, c] : state->char_columns) {
    if (c.engine_length == SQL_NULL_DATA) {
      if (c.indicator != nullptr) *c.indicator = SQL_NULL_DATA;
      continue;
    }
    const size_t engine_length =
        ::strnlen(c.engine_value.data(), c.engine_value.size() > 0 ? c.engine_value.size() - 1 : 0);
    std::string client;
    if (!state->page->ToClient(std::string_view(c.engine_value.data(), engine_length), &client))
      return SQL_ERROR;
    if (c.indicator != nullptr) *c.indicator = static_cast<SQLLEN>(client.size());
    if (c.value == nullptr || c.buffer_length <= 0) continue;
    const size_t n = std::min(client.size(), static_cast<size_t>(c.buffer_length) - 1);
    std::memcpy(c.value, client.data(), n);
    c.value[n] = '\0';
    if (n < client.size()) rc = SQL_SUCCESS_WITH_INFO;
  }
  return rc;
}

SQLRETURN SQL_API Fetch(SQLHSTMT stmt) {
  StatementState* state = StateOf(stmt);
  if (state != nullptr) state->pending.column = 0;
  const SQLRETURN rc = ::SQLFetch(stmt);
  if (state == nullptr || state->char_columns.empty()) return rc;
  return ConvertColumns(state, rc);
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
  if (value != nullptr)
    *static_cast<SQLUINTEGER*>(value) = static_cast<SQLUINTEGER>(c->second.no_journal);
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
      *static_cast<SQLUSMALLINT*>(value) =
          static_cast<SQLUSMALLINT>(std::strtoul(limit, nullptr, 10));
      if (length != nullptr) *length = sizeof(SQLUSMALLINT);
      return SQL_SUCCESS;
    }
  }
  return ::SQLGetInfo(conn, type, value, size, length);
}

// A catalogue name as the engine keeps it: the client's names are upper case, PostgreSQL
// folds unquoted names to lower case (SQLite matches either).
struct FoldedName {
  FoldedName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT length) {
    if (name == nullptr || EngineOfStatement(stmt) != Engine::kPostgres) {
      chars = name;
      size = length;
      return;
    }
    const char* text = reinterpret_cast<const char*>(name);
    folded.assign(text, length == SQL_NTS ? std::strlen(text)
                                          : static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)));
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    chars = reinterpret_cast<SQLCHAR*>(folded.data());
    size = static_cast<SQLSMALLINT>(folded.size());
  }
  std::string folded;
  SQLCHAR* chars;
  SQLSMALLINT size;
};

SQLRETURN SQL_API Tables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                         SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                         SQLSMALLINT table_length, SQLCHAR* types, SQLSMALLINT types_length) {
  FoldedName s(stmt, schema, schema_length), t(stmt, table, table_length);
  return ::SQLTables(stmt, catalog, catalog_length, s.chars, s.size, t.chars, t.size, types,
                     types_length);
}

SQLRETURN SQL_API Columns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                          SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                          SQLSMALLINT table_length, SQLCHAR* column, SQLSMALLINT column_length) {
  FoldedName s(stmt, schema, schema_length), t(stmt, table, table_length),
      c(stmt, column, column_length);
  return ::SQLColumns(stmt, catalog, catalog_length, s.chars, s.size, t.chars, t.size, c.chars,
                      c.size);
}

SQLRETURN SQL_API Statistics(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                             SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                             SQLSMALLINT table_length, SQLUSMALLINT unique, SQLUSMALLINT accuracy) {
  FoldedName s(stmt, schema, schema_length), t(stmt, table, table_length);
  return ::SQLStatistics(stmt, catalog, catalog_length, s.chars, s.size, t.chars, t.size, unique,
                         accuracy);
}

SQLRETURN SQL_API PrimaryKeys(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                              SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                              SQLSMALLINT table_length) {
  FoldedName s(stmt, schema, schema_length), t(stmt, table, table_length);
  return ::SQLPrimaryKeys(stmt, catalog, catalog_length, s.chars, s.size, t.chars, t.size);
}

SQLRETURN SQL_API DataSources(SQLHENV env, SQLUSMALLINT direction, SQLCHAR* name,
                              SQLSMALLINT name_size, SQLSMALLINT* name_length, SQLCHAR* description,
                              SQLSMALLINT description_size, SQLSMALLINT* description_length) {
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
    {SQL_API_SQLFETCH, As(&Fetch)},
    {SQL_API_SQLFREECONNECT, As(&::SQLFreeConnect)},
    {SQL_API_SQLFREEENV, As(&::SQLFreeEnv)},
    {SQL_API_SQLFREESTMT, As(&FreeStmt)},
    {SQL_API_SQLGETCURSORNAME, As(&GetCursorName)},
    {SQL_API_SQLNUMRESULTCOLS, As(&NumResultCols)},
    {SQL_API_SQLPREPARE, As(&Prepare)},
    {SQL_API_SQLROWCOUNT, As(&::SQLRowCount)},
    {SQL_API_SQLSETCURSORNAME, As(&SetCursorName)},
    {SQL_API_SQLTRANSACT, As(&::SQLTransact)},
    {SQL_API_SQLCOLUMNS, As(&Columns)},
    {SQL_API_SQLGETCONNECTOPTION, As(&GetConnectOption)},
    {SQL_API_SQLGETDATA, As(&GetData)},
    {SQL_API_SQLGETINFO, As(&GetInfo)},
    {SQL_API_SQLGETSTMTOPTION, As(&GetStmtOption)},
    {SQL_API_SQLGETTYPEINFO, As(&GetTypeInfo)},
    {SQL_API_SQLPARAMDATA, As(&::SQLParamData)},
    {SQL_API_SQLPUTDATA, As(&::SQLPutData)},
    {SQL_API_SQLSETCONNECTOPTION, As(&SetConnectOption)},
    {SQL_API_SQLSETSTMTOPTION, As(&SetStmtOption)},
    {SQL_API_SQLSTATISTICS, As(&Statistics)},
    {SQL_API_SQLTABLES, As(&Tables)},
    {SQL_API_SQLNUMPARAMS, As(&::SQLNumParams)},
    {SQL_API_SQLPARAMOPTIONS, As(&ParamOptions)},
    {SQL_API_SQLPRIMARYKEYS, As(&PrimaryKeys)},
    {SQL_API_SQLBINDPARAMETER, As(&BindParameter)},
    {XANDBCLI_DATA_SOURCES, As(&DataSources)},
};

}  // namespace
}  // namespace xandbcli

extern "C" XandbCLIFunction XandbCLIGetFunction(uint16_t number) {
  for (const xandbcli::Entry& entry : xandbcli::kEntries)
    if (entry.number == number) return entry.function;
  return nullptr;
}
