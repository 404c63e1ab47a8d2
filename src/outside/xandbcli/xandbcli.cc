// XandbCLI: the table from function number to call, and the calls that do more than forward
// (statement texts, the DBMS name and name-length settings, the no-journal switch).
#include "xandbcli.h"

#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

// What the library keeps beside the driver's handles: per connection its engine and switch,
// per statement its connection.
struct Registry {
  std::mutex mutex;
  std::unordered_map<SQLHDBC, ConnectionState> connections;
  std::unordered_map<SQLHSTMT, SQLHDBC> statements;
};
Registry& Shared() {
  static Registry registry;
  return registry;
}

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

Engine EngineOfStatement(SQLHSTMT stmt) {
  Registry& shared = Shared();
  std::lock_guard lock(shared.mutex);
  const auto s = shared.statements.find(stmt);
  if (s == shared.statements.end()) return Engine::kOther;
  const auto c = shared.connections.find(s->second);
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
    shared.statements[*stmt] = conn;
  }
  return rc;
}

SQLRETURN SQL_API FreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  const SQLRETURN rc = ::SQLFreeStmt(stmt, option);
  if (option == SQL_DROP && Succeeded(rc)) {
    Registry& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.statements.erase(stmt);
  }
  return rc;
}

SQLRETURN SQL_API Prepare(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  const std::string_view original = TextOf(text, length);
  Record(original);
  std::string rewritten = RewriteStatement(original, EngineOfStatement(stmt));
  return ::SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                      static_cast<SQLINTEGER>(rewritten.size()));
}

SQLRETURN SQL_API ExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
  const std::string_view original = TextOf(text, length);
  Record(original);
  std::string rewritten = RewriteStatement(original, EngineOfStatement(stmt));
  return ::SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(rewritten.data()),
                         static_cast<SQLINTEGER>(rewritten.size()));
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
    {SQL_API_SQLBINDCOL, As(&::SQLBindCol)},
    {SQL_API_SQLCANCEL, As(&::SQLCancel)},
    {SQL_API_SQLCOLATTRIBUTES, As(&::SQLColAttributes)},
    {SQL_API_SQLCONNECT, As(&Connect)},
    {SQL_API_SQLDESCRIBECOL, As(&::SQLDescribeCol)},
    {SQL_API_SQLDISCONNECT, As(&Disconnect)},
    {SQL_API_SQLERROR, As(&::SQLError)},
    {SQL_API_SQLEXECDIRECT, As(&ExecDirect)},
    {SQL_API_SQLEXECUTE, As(&::SQLExecute)},
    {SQL_API_SQLFETCH, As(&::SQLFetch)},
    {SQL_API_SQLFREECONNECT, As(&::SQLFreeConnect)},
    {SQL_API_SQLFREEENV, As(&::SQLFreeEnv)},
    {SQL_API_SQLFREESTMT, As(&FreeStmt)},
    {SQL_API_SQLGETCURSORNAME, As(&::SQLGetCursorName)},
    {SQL_API_SQLNUMRESULTCOLS, As(&::SQLNumResultCols)},
    {SQL_API_SQLPREPARE, As(&Prepare)},
    {SQL_API_SQLROWCOUNT, As(&::SQLRowCount)},
    {SQL_API_SQLSETCURSORNAME, As(&::SQLSetCursorName)},
    {SQL_API_SQLTRANSACT, As(&::SQLTransact)},
    {SQL_API_SQLCOLUMNS, As(&::SQLColumns)},
    {SQL_API_SQLGETCONNECTOPTION, As(&GetConnectOption)},
    {SQL_API_SQLGETDATA, As(&::SQLGetData)},
    {SQL_API_SQLGETINFO, As(&GetInfo)},
    {SQL_API_SQLGETSTMTOPTION, As(&::SQLGetStmtOption)},
    {SQL_API_SQLGETTYPEINFO, As(&::SQLGetTypeInfo)},
    {SQL_API_SQLPARAMDATA, As(&::SQLParamData)},
    {SQL_API_SQLPUTDATA, As(&::SQLPutData)},
    {SQL_API_SQLSETCONNECTOPTION, As(&SetConnectOption)},
    {SQL_API_SQLSETSTMTOPTION, As(&::SQLSetStmtOption)},
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
