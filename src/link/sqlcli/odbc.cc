// The connector's common ODBC ground: the process-wide environment, turning the driver's
// diagnostics into activity-log entries and statuses, statement handles, transactions, the
// class table of SQL types, and the owning records of connection.h.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "connection.h"

namespace sqlcli {
namespace {

// ---------------------------------------------------------------- the environment ------

// Every connection of the process shares one environment. It is counted rather than trusted
// to the engine's first/last flags: a connection must never find it freed under it, and the
// last one out must not leave it behind.
struct SharedEnvironment {
  std::mutex mutex;
  SQLHENV handle = SQL_NULL_HENV;
  int users = 0;
};
SharedEnvironment& Shared() {
  static SharedEnvironment shared;
  return shared;
}

bool Succeeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA_FOUND;
}

constexpr std::string_view kNoDriverMessage = "The ODBC driver has not supplied an error message.";

// Logs text (native) as a failure from outside the catalogue with code.
void LogExternal(std::string_view text, uint32_t code) {
  TWStream stream{};
  void* data = nullptr;
  uint32_t granted = 0;
  const auto length = static_cast<uint32_t>(std::min<size_t>(text.size(), 0xFFFFFFFEu));
  if (TWStreamDataAlloc(&stream, TWSTREAMFMT_NATIVE, length, &data, &granted) == TWSUCCESS &&
      data != nullptr) {
    std::memcpy(data, text.data(), std::min(length, granted));
    TWActivityLogStream(0, &stream, code);
  } else {
    // Without room for the text the failure is still reported, with the catalogue's words.
    TWActivityLogStream(0, nullptr, code);
  }
  TWStreamDataFree(&stream);
}

// Class table: index = class, value = the ODBC 2 SQL type.
constexpr std::array<SQLSMALLINT, kClassCount> kSqlTypes = {
    SQL_CHAR,          SQL_VARCHAR, SQL_LONGVARCHAR, SQL_DECIMAL,   SQL_NUMERIC,
    SQL_SMALLINT,      SQL_INTEGER, SQL_REAL,        SQL_FLOAT,     SQL_DOUBLE,
    SQL_BIT,           SQL_TINYINT, SQL_BIGINT,      SQL_BINARY,    SQL_VARBINARY,
    SQL_LONGVARBINARY, SQL_DATE,    SQL_TIME,        SQL_TIMESTAMP,
};

}  // namespace

SQLHENV Environment() {
  SharedEnvironment& shared = Shared();
  std::lock_guard lock(shared.mutex);
  return shared.handle;
}

uint32_t EnvironmentAcquire(Connection& logger) {
  SharedEnvironment& shared = Shared();
  {
    std::lock_guard lock(shared.mutex);
    if (shared.handle != SQL_NULL_HENV) {
      ++shared.users;
      return TWSUCCESS;
    }
    SQLHENV env = SQL_NULL_HENV;
    if (Succeeded(SQLAllocEnv(&env)) && env != SQL_NULL_HENV) {
      shared.handle = env;
      shared.users = 1;
      return TWSUCCESS;
    }
  }
  // Without an environment the driver manager has no handle to report on.
  logger.LogText("The ODBC environment could not be allocated.");
  return TWFAIL_EXTERNAL;
}

uint32_t EnvironmentRelease(Connection& logger) {
  SharedEnvironment& shared = Shared();
  std::lock_guard lock(shared.mutex);
  if (shared.users > 0) --shared.users;
  if (shared.users > 0 || shared.handle == SQL_NULL_HENV) return TWSUCCESS;
  if (SQLFreeEnv(shared.handle) != SQL_SUCCESS) {
    // Still in use by a connection the driver manager knows (one never disconnected): keep
    // it, so that a later connection can go on using it.
    shared.users = 1;
    return TWSUCCESS;
  }
  shared.handle = SQL_NULL_HENV;
  return TWSUCCESS;
}

// ---------------------------------------------------------------- diagnostics ----------

std::string_view DriverMessageText(std::string_view message) {
  if (message.empty()) return kNoDriverMessage;
  // A message of a line end alone stays as it is: its first character is kept.
  while (message.size() > 1 && (message.back() == '\n' || message.back() == '\r'))
    message.remove_suffix(1);
  return message;
}

uint32_t Connection::OdbcLogError(SQLHDBC connection, SQLHSTMT statement) {
  const SQLHENV env = Environment();
  int records = 0;
  bool missingTable = false;
  // Logs every record of the most specific handle of (connection, statement); answers false
  // when a record says the table does not exist (that one and the rest are not logged: the
  // caller may create the table and go on).
  auto drain = [&](SQLHDBC d, SQLHSTMT s) {
    for (int guard = 0; guard < 64; ++guard) {
      SQLCHAR stateCode[6] = {};
      SQLINTEGER native = 0;
      SQLCHAR message[1024] = {};
      SQLSMALLINT length = 0;
      const SQLRETURN rc = SQLError(env, d, s, stateCode, &native, message,
                                    static_cast<SQLSMALLINT>(sizeof message), &length);
      if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return true;
      ++records;
      // The length reported is that of the whole message; the buffer may hold less.
      size_t size = length > 0 ? static_cast<size_t>(length) : 0;
      size = std::min({size, sizeof message - 1,
                       strnlen(reinterpret_cast<const char*>(message), sizeof message)});
      const std::string_view text(reinterpret_cast<const char*>(message), size);
      const std::string_view sqlState(reinterpret_cast<const char*>(stateCode),
                                      strnlen(reinterpret_cast<const char*>(stateCode), 5));
      if (IsMissingTable(sqlState, text)) return false;
      LogExternal(DriverMessageText(text), static_cast<uint32_t>(native));
    }
    return true;
  };
  if (statement != SQL_NULL_HSTMT) missingTable = !drain(connection, statement);
  // A failure the driver posted on the connection (a commit, a log-on) has its records
  // there, not on a statement.
  if (!missingTable && records == 0 && connection != SQL_NULL_HDBC)
    missingTable = !drain(connection, SQL_NULL_HSTMT);
  if (!missingTable && records == 0 && connection == SQL_NULL_HDBC && statement == SQL_NULL_HSTMT &&
      env != SQL_NULL_HENV)
    missingTable = !drain(SQL_NULL_HDBC, SQL_NULL_HSTMT);
  if (missingTable) return TWFAIL_INVALID_METADATA;
  // A failure is never left without a log entry.
  if (records == 0) LogExternal(kNoDriverMessage, 0);
  return TWFAIL_EXTERNAL;
}

void Connection::LogText(std::string_view text) {
  LogExternal(text, TWFAIL_EXTERNAL);
}

// ---------------------------------------------------------------- statements -----------

SQLRETURN Connection::OdbcAllocStatement(StatementSlot& slot) {
  if (slot.stmt != SQL_NULL_HSTMT) {
    const SQLRETURN rc = SQLFreeStmt(slot.stmt, SQL_DROP);
    if (!Succeeded(rc)) return rc;
    slot.stmt = SQL_NULL_HSTMT;
  }
  slot.Forget();
  if (dbc == SQL_NULL_HDBC) return SQL_INVALID_HANDLE;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  const SQLRETURN rc = SQLAllocStmt(dbc, &stmt);
  if (Succeeded(rc)) slot.stmt = stmt;
  return rc;
}

namespace {

// The row count of a statement that ran (rc its answer); TWFAIL_UNAVAILABLE when it failed.
uint32_t RowCountAfter(SQLRETURN rc, SQLHSTMT stmt, SQLLEN* count) {
  if (!Succeeded(rc)) return TWFAIL_UNAVAILABLE;
  if (count != nullptr) {
    SQLLEN rows = -1;
    if (!Succeeded(SQLRowCount(stmt, &rows))) return TWFAIL_UNAVAILABLE;
    *count = rows;
  }
  return TWSUCCESS;
}

}  // namespace

namespace {

// A savepoint statement on the control handle: whatever its last statement left open (a
// driver reading through cursors may take any statement for one) is closed first.
SQLRETURN ExecText(SQLHSTMT stmt, const char* text) {
  SQLFreeStmt(stmt, SQL_CLOSE);
  return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)), SQL_NTS);
}

}  // namespace

uint32_t Connection::OdbcExecDirect(SQLHSTMT stmt, const std::string& text, SQLLEN* count) {
  if (stmt == SQL_NULL_HSTMT || text.empty()) return TWFAIL_NULL_BUFFER;
  // Where the connector told the driver not to guard each statement, a text that fails inside
  // a transaction is undone alone, as the driver would have undone it; the connector's own
  // savepoint statements go unguarded.
  const bool guard =
      guardsStatements && spoilsTransaction && !autocommit && stmt != controlSlot.stmt &&
      (controlSlot.stmt != SQL_NULL_HSTMT || Succeeded(OdbcAllocStatement(controlSlot)));
  if (guard && !Succeeded(ExecText(controlSlot.stmt, "SAVEPOINT tw_statement")))
    return TWFAIL_UNAVAILABLE;
  if (stmt == controlSlot.stmt) SQLFreeStmt(stmt, SQL_CLOSE);
  const uint32_t status = RowCountAfter(
      SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS),
      stmt, count);
  if (!guard) return status;
  if (status != TWSUCCESS) {
    ExecText(controlSlot.stmt, "ROLLBACK TO SAVEPOINT tw_statement");
  } else if (!Succeeded(ExecText(controlSlot.stmt, "RELEASE SAVEPOINT tw_statement"))) {
    // The text ended the transaction itself: the release that failed spoilt only the one
    // after it, which holds nothing else. Rolled back as a statement: ending it through the
    // driver manager would also end the text's result.
    ForgetBlock();
    ExecText(controlSlot.stmt, "ROLLBACK");
  }
  return status;
}

uint32_t Connection::OdbcExecute(SQLHSTMT stmt, SQLLEN* count) {
  if (stmt == SQL_NULL_HSTMT) return TWFAIL_NULL_BUFFER;
  return RowCountAfter(SQLExecute(stmt), stmt, count);
}

SQLRETURN Connection::OdbcTransactionText(const char* text) {
  if (controlSlot.stmt == SQL_NULL_HSTMT) {
    const SQLRETURN rc = OdbcAllocStatement(controlSlot);
    if (!Succeeded(rc)) return rc;
  }
  return ExecText(controlSlot.stmt, text);
}

uint32_t Connection::OdbcEndTransaction(SQLSMALLINT kind, bool reopen) {
  // Without a connection there is no work to end; SQLTransact with a null connection would
  // end the work of every connection of the environment.
  if (dbc == SQL_NULL_HDBC) return TWSUCCESS;
  // The connector's savepoint ends with the transaction, whichever way it ends.
  ForgetBlock();
  if (!ownsTransactions) {
    if (!Succeeded(SQLTransact(Environment(), dbc, static_cast<SQLUSMALLINT>(kind))))
      return OdbcLogError(dbc, SQL_NULL_HSTMT);
    sinceCommit = 0;
    return TWSUCCESS;
  }
  // In autocommit nothing is open, as the driver's own end of a transaction would find.
  if (autocommit) return TWSUCCESS;
  // A commit that fails leaves the transaction open, to be rolled back by the caller.
  if (!Succeeded(OdbcTransactionText(kind == SQL_COMMIT ? "COMMIT" : "ROLLBACK")))
    return OdbcLogError(dbc, controlSlot.stmt);
  autocommit = true;
  sinceCommit = 0;
  return reopen ? OdbcSetAutocommit(false) : TWSUCCESS;
}

uint32_t Connection::OdbcSetAutocommit(bool on) {
  if (ownsTransactions) {
    if (on == autocommit) return TWSUCCESS;
    if (on) return OdbcEndTransaction(SQL_COMMIT, false);
    if (!Succeeded(OdbcTransactionText("BEGIN"))) return OdbcLogError(dbc, controlSlot.stmt);
    autocommit = false;
    return TWSUCCESS;
  }
  const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (!Succeeded(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value),
                                   SQL_IS_UINTEGER)))
    return OdbcLogError(dbc, SQL_NULL_HSTMT);
  autocommit = on;
  // Turning autocommit on commits what was open.
  if (on) {
    sinceCommit = 0;
    ForgetBlock();
  }
  return TWSUCCESS;
}

uint32_t Connection::CountStatement() {
  if (props.commitFrequency <= 1) return TWSUCCESS;
  if (++sinceCommit < props.commitFrequency) return TWSUCCESS;
  return OdbcEndTransaction(SQL_COMMIT);
}

uint32_t Connection::ReleaseMainResult() {
  state = ResultState::kNone;
  firstFetch = true;
  cataloguePosition = 0;
  for (Operation* op : {&mainOp, &insertOp, &updateOp, &removeOp}) op->sequence = 0;
  mainOp.columns.clear();
  catalogueColumns.clear();
  if (dbc != SQL_NULL_HDBC && mainSlot.stmt != SQL_NULL_HSTMT &&
      !Succeeded(OdbcAllocStatement(mainSlot)))
    return OdbcLogError(dbc, mainSlot.stmt);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- small pieces ---------

std::string_view NativeText(const TWStream& stream) {
  if (stream.data == nullptr || stream.length == 0) return {};
  return {static_cast<const char*>(stream.data), stream.length};
}

SQLSMALLINT SqlTypeOf(int32_t cls) {
  if (cls < 0 || cls >= kClassCount) return 0;
  return kSqlTypes[static_cast<size_t>(cls)];
}

int32_t ClassOfSqlType(SQLSMALLINT sqlType) {
  // A driver answering in ODBC 3 terms names the date and time types by their newer codes.
  switch (sqlType) {
    case SQL_TYPE_DATE:
      return kDate;
    case SQL_TYPE_TIME:
      return kTime;
    case SQL_TYPE_TIMESTAMP:
      return kTimestamp;
    default:
      break;
  }
  for (int32_t cls = 0; cls < kClassCount; ++cls)
    if (kSqlTypes[static_cast<size_t>(cls)] == sqlType) return cls;
  return kUnknown;
}

void Operation::Forget() {
  sequence = 0;
  text.clear();
  columns.clear();
  described.reset();
  merged.reset();
  generation = 0;
  metadata.clear();
}

// ---------------------------------------------------------------- column records -------

ColumnRecord::ColumnRecord(ColumnRecord&& other) noexcept {
  *this = std::move(other);
}

ColumnRecord& ColumnRecord::operator=(ColumnRecord&& other) noexcept {
  if (this == &other) return *this;
  ReleaseBuffer();
  cls = other.cls;
  size = other.size;
  scale = other.scale;
  nullable = other.nullable;
  check = other.check;
  convertAfterFetch = other.convertAfterFetch;
  name = std::move(other.name);
  stream = other.stream;
  other.stream = TWStream{};
  raw = other.raw;
  ownSize = other.ownSize;
  indicator = other.indicator;
  cType = other.cType;
  // A pointer into the other record's raw bytes must follow them; stream data is on the heap
  // and moved with the stream record.
  if (other.data == static_cast<void*>(other.raw.data()))
    data = raw.data();
  else
    data = other.data;
  list = other.list;
  listCount = other.listCount;
  other.ownSize = 0;
  other.cType = 0;
  other.data = nullptr;
  return *this;
}

ColumnRecord::~ColumnRecord() {
  TWStreamDataFree(&stream);
}

void ColumnRecord::ReleaseBuffer() {
  TWStreamDataFree(&stream);
  stream = TWStream{};
  raw.fill(0);
  ownSize = 0;
  indicator = 0;
  cType = 0;
  data = nullptr;
  check = false;
  convertAfterFetch = false;
  list = false;
  listCount = 0;
}

ColumnRecord ColumnRecord::DescriptionCopy() const {
  ColumnRecord copy;
  copy.cls = cls;
  copy.size = size;
  copy.scale = scale;
  copy.nullable = nullable;
  copy.name = name;
  return copy;
}

}  // namespace sqlcli
