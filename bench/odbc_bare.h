// A bare client of an ODBC driver: the least a program must do through the same driver to do
// the work a taskrun case does, so that a case slower than the database's own client can be
// set beside what the driver itself allows. Each piece of work runs in a child process of its
// own, timed from fork to exit, with its peak resident size from wait4 (as taskrun's is).
#ifndef TW_BENCH_ODBC_BARE_H_
#define TW_BENCH_ODBC_BARE_H_

#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "taskrun_install.h"

namespace odbc_bare {

// What a child did: its seconds and peak, or what failed.
struct BareRun {
  double seconds = -1;
  double cpuSeconds = 0;  // user and system
  double peakMiB = 0;
  long long rows = 0;
  std::string failure;
};

// What a child writes to its parent: the rows it handled, then what failed (nothing when it
// did its work).
inline bool Answer(int fd, long long rows, const std::string& failure) {
  const std::string message = std::to_string(rows) + "\n" + failure;
  return ::write(fd, message.data(), message.size()) == static_cast<ssize_t>(message.size());
}

// Runs work (returning what failed, empty when it did its work, and the rows it handled in
// *rows) in a child process. The child shares its parent's pages until it writes them, which
// its peak counts: work that exec's a fresh program is measured alone.
template <class Work>
BareRun InChild(Work work) {
  BareRun result;
  int pipe[2];
  if (::pipe(pipe) != 0) {
    result.failure = "no pipe for the bare client";
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe[0]);
    long long rows = 0;
    const std::string failure = work(pipe[1], &rows);
    ::_exit(failure.empty() && Answer(pipe[1], rows, failure) ? 0 : 1);
  }
  ::close(pipe[1]);
  std::string message;
  std::array<char, 512> buffer{};
  for (ssize_t got; pid > 0 && (got = ::read(pipe[0], buffer.data(), buffer.size())) > 0;)
    message.append(buffer.data(), static_cast<size_t>(got));
  ::close(pipe[0]);
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) {
    result.failure = "the bare client could not be started";
    return result;
  }
  const size_t line = message.find('\n');
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line == std::string::npos) {
    result.failure =
        "the bare client failed: " +
        (line == std::string::npos ? std::string("it ended early") : message.substr(line + 1));
    return result;
  }
  result.rows = std::stoll(message.substr(0, line));
  result.seconds = taskrun_install::SecondsSince(start);
  result.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  result.cpuSeconds =
      taskrun_install::Seconds(usage.ru_utime) + taskrun_install::Seconds(usage.ru_stime);
  return result;
}

// The driver's first diagnostic of handle, for a failure's text.
inline std::string Diagnostic(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {}, text[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length)))
    return "no diagnostic";
  return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
}

// One connection to a data source, autocommit off, rolled back unless committed.
class Connection {
 public:
  Connection() = default;
  ~Connection() {
    if (dbc_ != SQL_NULL_HDBC) {
      if (connected_) {
        SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
        SQLDisconnect(dbc_);
      }
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Empty, or what failed.
  std::string Open(const std::string& connect) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)) ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_)))
      return "no ODBC handles";
    std::vector<SQLCHAR> text(connect.begin(), connect.end());
    text.push_back('\0');
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT)))
      return "cannot connect: " + Diagnostic(SQL_HANDLE_DBC, dbc_);
    connected_ = true;
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      return "cannot end autocommit: " + Diagnostic(SQL_HANDLE_DBC, dbc_);
    return {};
  }
  std::string Commit() {
    return SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))
               ? std::string()
               : "cannot commit: " + Diagnostic(SQL_HANDLE_DBC, dbc_);
  }
  SQLHDBC dbc() const { return dbc_; }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// One write a record: its kind ('I', 'U' or 'D') and its values.
struct Change {
  char kind;
  int k;
  std::string v;
  int n;
};

// A prepared statement of one kind and the order of its parameters ("k", "v" and "n").
struct Writer {
  char kind;
  const char* sql;
  const char* parameters;
};

// The changes applied in order in one transaction through one prepared statement a kind,
// parameters bound once to the current change. updateFirst: an insert is an update first, and
// inserts only where the update found nothing (as a change propagation applies an insert
// image), so that the driver's cost of the statements taskrun sends is seen apart.
inline std::string Apply(const std::string& connect, const std::vector<Writer>& writers,
                         const std::vector<Change>& changes, long long* rows,
                         bool updateFirst = false) {
  Connection connection;
  if (std::string failure = connection.Open(connect); !failure.empty()) return failure;
  SQLINTEGER k = 0, n = 0;
  std::array<char, 256> v{};
  SQLLEN vLength = SQL_NTS, intLength = 0;
  std::vector<std::pair<char, SQLHSTMT>> statements;
  std::string failure;
  for (const Writer& w : writers) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.dbc(), &stmt))) {
      failure = "no statement handle";
      break;
    }
    statements.emplace_back(w.kind, stmt);
    if (!SQL_SUCCEEDED(
            SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(w.sql)), SQL_NTS))) {
      failure = std::string("cannot prepare ") + w.sql + ": " + Diagnostic(SQL_HANDLE_STMT, stmt);
      break;
    }
    SQLUSMALLINT number = 1;
    for (const char* p = w.parameters; *p != '\0' && failure.empty(); ++p, ++number) {
      const SQLRETURN bound =
          *p == 'v' ? SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40,
                                       0, v.data(), static_cast<SQLLEN>(v.size()), &vLength)
                    : SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0,
                                       0, *p == 'k' ? &k : &n, 0, &intLength);
      if (!SQL_SUCCEEDED(bound)) failure = "cannot bind: " + Diagnostic(SQL_HANDLE_STMT, stmt);
    }
    if (!failure.empty()) break;
  }
  for (const Change& c : changes) {
    if (!failure.empty()) break;
    SQLHSTMT stmt = SQL_NULL_HSTMT, update = SQL_NULL_HSTMT;
    for (const auto& [kind, s] : statements) {
      if (kind == c.kind) stmt = s;
      if (kind == 'U') update = s;
    }
    if (stmt == SQL_NULL_HSTMT || update == SQL_NULL_HSTMT || c.v.size() >= v.size()) {
      failure = "no statement for a change";
      break;
    }
    k = c.k;
    n = c.n;
    std::memcpy(v.data(), c.v.c_str(), c.v.size() + 1);
    SQLLEN found = 0;
    if (updateFirst && c.kind == 'I') {
      const SQLRETURN updated = SQLExecute(update);
      if ((!SQL_SUCCEEDED(updated) && updated != SQL_NO_DATA) ||
          !SQL_SUCCEEDED(SQLRowCount(update, &found))) {
        failure = "cannot update: " + Diagnostic(SQL_HANDLE_STMT, update);
        break;
      }
      SQLFreeStmt(update, SQL_CLOSE);
    }
    const SQLRETURN done = found > 0 ? SQL_SUCCESS : SQLExecute(stmt);
    if (!SQL_SUCCEEDED(done) && done != SQL_NO_DATA)
      failure = "cannot write: " + Diagnostic(SQL_HANDLE_STMT, stmt);
    SQLFreeStmt(stmt, SQL_CLOSE);
    ++*rows;
  }
  for (const auto& [kind, s] : statements) SQLFreeHandle(SQL_HANDLE_STMT, s);
  return failure.empty() ? connection.Commit() : failure;
}

// Parameter arrays of one kind of statement on table (k, v), bound column-wise.
class ArrayWriter {
 public:
  static constexpr size_t kBlock = 1000;
  ~ArrayWriter() {
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  }
  // parameters: "kv" or "vk".
  std::string Prepare(SQLHDBC dbc, const std::string& sql, const char* parameters) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) return "no statement handle";
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back('\0');
    if (!SQL_SUCCEEDED(SQLPrepare(stmt_, text.data(), SQL_NTS)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_BIND_TYPE,
                                      reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status_.data(), 0)))
      return "cannot prepare " + sql + ": " + Diagnostic(SQL_HANDLE_STMT, stmt_);
    SQLUSMALLINT number = 1;
    for (const char* p = parameters; *p != '\0'; ++p, ++number) {
      const SQLRETURN bound =
          *p == 'v' ? SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40,
                                       0, v_.data(), kWidth, vLength_.data())
                    : SQLBindParameter(stmt_, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0,
                                       0, k_.data(), 0, kLength_.data());
      if (!SQL_SUCCEEDED(bound)) return "cannot bind: " + Diagnostic(SQL_HANDLE_STMT, stmt_);
    }
    return {};
  }
  // Runs the statement over the changes given; each one's row count in counts (from the
  // results one a parameter set).
  std::string Run(const std::vector<const Change*>& changes, std::vector<SQLLEN>* counts) {
    counts->clear();
    if (changes.empty()) return {};
    for (size_t i = 0; i < changes.size(); ++i) {
      k_[i] = changes[i]->k;
      std::memcpy(&v_[i * kWidth], changes[i]->v.c_str(), changes[i]->v.size() + 1);
      vLength_[i] = SQL_NTS;
      kLength_[i] = 0;
    }
    SQLSetStmtAttr(stmt_, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(changes.size()), 0);
    SQLRETURN done = SQLExecute(stmt_);
    for (;;) {
      if (!SQL_SUCCEEDED(done) && done != SQL_NO_DATA)
        return "cannot write: " + Diagnostic(SQL_HANDLE_STMT, stmt_);
      SQLLEN rows = 0;
      if (!SQL_SUCCEEDED(SQLRowCount(stmt_, &rows))) return "no row count";
      counts->push_back(rows);
      done = SQLMoreResults(stmt_);
      if (done == SQL_NO_DATA) break;
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return {};
  }

 private:
  static constexpr SQLLEN kWidth = 64;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::array<SQLINTEGER, kBlock> k_{};
  std::vector<char> v_ = std::vector<char>(kBlock * kWidth);
  std::array<SQLLEN, kBlock> vLength_{}, kLength_{};
  std::array<SQLUSMALLINT, kBlock> status_{};
};

// The changes of table (k, v) in order in one transaction, each stretch of inserts and updates
// of distinct keys an array of updates, then an array of inserts of the records whose update
// found nothing (the driver's row count for each parameter set); deletes one by one. Fails
// where the driver cannot tell each set's count.
inline std::string ApplyInArrays(const std::string& connect, const std::string& table,
                                 const std::vector<Change>& changes, long long* rows) {
  Connection connection;
  if (std::string failure = connection.Open(connect); !failure.empty()) return failure;
  SQLUINTEGER counted = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection.dbc(), SQL_PARAM_ARRAY_ROW_COUNTS, &counted,
                                sizeof counted, &length)) ||
      counted != SQL_PARC_BATCH)
    return "the driver gives no row count a parameter set";
  ArrayWriter update, insert, remove;
  std::string failure =
      update.Prepare(connection.dbc(), "UPDATE " + table + " SET v = ? WHERE k = ?", "vk");
  if (failure.empty())
    failure = insert.Prepare(connection.dbc(), "INSERT INTO " + table + " VALUES (?, ?)", "kv");
  if (failure.empty())
    failure = remove.Prepare(connection.dbc(), "DELETE FROM " + table + " WHERE k = ?", "k");
  std::vector<const Change*> stretch, missing;
  std::vector<SQLLEN> counts;
  std::vector<int> keys;
  for (size_t at = 0; failure.empty() && at < changes.size();) {
    if (changes[at].kind == 'D') {
      failure = remove.Run({&changes[at]}, &counts);
      ++at;
      ++*rows;
      continue;
    }
    stretch.clear();
    keys.clear();
    for (; at < changes.size() && changes[at].kind != 'D' && stretch.size() < ArrayWriter::kBlock;
         ++at) {
      if (std::find(keys.begin(), keys.end(), changes[at].k) != keys.end()) break;
      keys.push_back(changes[at].k);
      stretch.push_back(&changes[at]);
    }
    failure = update.Run(stretch, &counts);
    if (failure.empty() && counts.size() != stretch.size())
      failure = "the driver gave " + std::to_string(counts.size()) + " counts for " +
                std::to_string(stretch.size()) + " sets";
    missing.clear();
    for (size_t i = 0; failure.empty() && i < stretch.size(); ++i)
      if (counts[i] == 0) missing.push_back(stretch[i]);
    if (failure.empty()) failure = insert.Run(missing, &counts);
    *rows += static_cast<long long>(stretch.size());
  }
  return failure.empty() ? connection.Commit() : failure;
}

// A statement on connection with sql executed and its columns counted; the failure, empty
// when none. The caller frees *stmt whatever the answer.
inline std::string ExecuteQuery(Connection& connection, const std::string& sql, SQLHSTMT* stmt,
                                SQLSMALLINT* columns) {
  *stmt = SQL_NULL_HSTMT;
  *columns = 0;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.dbc(), stmt)))
    return "no statement handle";
  std::vector<SQLCHAR> text(sql.begin(), sql.end());
  text.push_back('\0');
  if (!SQL_SUCCEEDED(SQLExecDirect(*stmt, text.data(), SQL_NTS)) ||
      !SQL_SUCCEEDED(SQLNumResultCols(*stmt, columns)))
    return "cannot read: " + Diagnostic(SQL_HANDLE_STMT, *stmt);
  return {};
}

// The rows of a query read inside a transaction, each column fetched as text.
inline std::string ReadInTransaction(const std::string& connect, const std::string& sql,
                                     long long* rows) {
  Connection connection;
  if (std::string failure = connection.Open(connect); !failure.empty()) return failure;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLSMALLINT columns = 0;
  std::string failure = ExecuteQuery(connection, sql, &stmt, &columns);
  std::array<char, 256> value{};
  SQLLEN length = 0;
  while (failure.empty()) {
    const SQLRETURN fetched = SQLFetch(stmt);
    if (fetched == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(fetched)) {
      failure = "cannot fetch: " + Diagnostic(SQL_HANDLE_STMT, stmt);
      break;
    }
    for (SQLUSMALLINT c = 1; c <= columns && failure.empty(); ++c)
      if (!SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_CHAR, value.data(),
                                    static_cast<SQLLEN>(value.size()), &length)))
        failure = "cannot get a value: " + Diagnostic(SQL_HANDLE_STMT, stmt);
    ++*rows;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return failure.empty() ? connection.Commit() : failure;
}

// The rows of a query read inside a transaction a block of rows a fetch into bound column
// arrays, each number column as a double and each other column as text: the least a reader
// of the driver does. rowsPerBlock: the rows of a block (for psqlODBC reading through a
// cursor, a divisor of its Fetch, as a block reaching past the cursor's read costs a read of
// its own). Fails where a column's values are not known to fit a bound buffer.
inline std::string ReadInBlocks(const std::string& connect, const std::string& sql,
                                SQLULEN rowsPerBlock, long long* rows) {
  constexpr SQLULEN kWidest = 512;
  Connection connection;
  if (std::string failure = connection.Open(connect); !failure.empty()) return failure;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLSMALLINT columns = 0;
  std::string failure = ExecuteQuery(connection, sql, &stmt, &columns);
  SQLULEN fetched = 0;
  std::vector<SQLUSMALLINT> status(rowsPerBlock);
  if (failure.empty() &&
      (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0)) ||
       !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0)) ||
       !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                     reinterpret_cast<SQLPOINTER>(rowsPerBlock), 0))))
    failure = "cannot read: " + Diagnostic(SQL_HANDLE_STMT, stmt);
  struct Bound {
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
  };
  std::vector<Bound> bound(static_cast<size_t>(std::max<SQLSMALLINT>(columns, 0)));
  for (SQLUSMALLINT c = 1; failure.empty() && c <= columns; ++c) {
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(
            SQLDescribeCol(stmt, c, nullptr, 0, nullptr, &type, &size, &digits, &nullable))) {
      failure = "cannot describe: " + Diagnostic(SQL_HANDLE_STMT, stmt);
      break;
    }
    const bool number = type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_BIGINT ||
                        type == SQL_TINYINT || type == SQL_DOUBLE || type == SQL_FLOAT ||
                        type == SQL_REAL;
    // Room for each character in UTF-8, and the terminator.
    const SQLULEN width = number ? sizeof(double) : size * 4 + 1;
    if (!number && (size == 0 || width > kWidest)) {
      failure = "a column too wide to bind";
      break;
    }
    Bound& b = bound[c - 1];
    b.data.resize(width * rowsPerBlock);
    b.indicators.resize(rowsPerBlock);
    if (!SQL_SUCCEEDED(SQLBindCol(stmt, c, number ? SQL_C_DOUBLE : SQL_C_CHAR, b.data.data(),
                                  static_cast<SQLLEN>(width), b.indicators.data())))
      failure = "cannot bind: " + Diagnostic(SQL_HANDLE_STMT, stmt);
  }
  while (failure.empty()) {
    const SQLRETURN done = SQLFetch(stmt);
    if (done == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(done)) {
      failure = "cannot fetch: " + Diagnostic(SQL_HANDLE_STMT, stmt);
      break;
    }
    for (SQLULEN r = 0; r < fetched && failure.empty(); ++r)
      if (status[r] == SQL_ROW_ERROR) failure = "a row could not be read";
    *rows += static_cast<long long>(fetched);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return failure.empty() ? connection.Commit() : failure;
}

// The environment that asks the benchmark program to be a bare reader: its reads, each the
// data source's connection string, the query and the rows of a block, after unit separators,
// one after the other after record separators; and the descriptor of its answer.
inline constexpr char kReadVariable[] = "TW_BARE_READ";
inline constexpr char kAnswerVariable[] = "TW_BARE_ANSWER";

// One read of a bare reader: rowsPerBlock 0 reads each column of a row as text alone
// (ReadInTransaction), else a block of rows a fetch (ReadInBlocks).
struct Read {
  std::string connect;
  std::string sql;
  SQLULEN rowsPerBlock = 0;
};

// The reads, one after the other, by the benchmark program started afresh, so that its peak
// is its own and it starts and runs as a program of its own (a fork of the benchmark, which
// has had threads, takes the locks of a threaded program at every allocation): the program's
// main answers through ServeRead. The rows are those of all the reads.
inline BareRun ReadInFreshProcess(const std::vector<Read>& reads) {
  return InChild([&](int answer, long long*) -> std::string {
    std::string asked;
    for (const Read& r : reads)
      asked += (asked.empty() ? "" : "\x1e") + r.connect + '\x1f' + r.sql + '\x1f' +
               std::to_string(r.rowsPerBlock);
    ::setenv(kReadVariable, asked.c_str(), 1);
    ::setenv(kAnswerVariable, std::to_string(answer).c_str(), 1);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    ::execv(self, argv);
    return "cannot start the benchmark program again";
  });
}

// In the program's main: when started as a bare reader, reads and answers, and *code is its
// exit code.
inline bool ServeRead(int* code) {
  const char* asked = std::getenv(kReadVariable);
  const char* answer = std::getenv(kAnswerVariable);
  if (asked == nullptr || answer == nullptr) return false;
  const std::string text = asked;
  long long rows = 0;
  std::string failure;
  for (size_t from = 0; failure.empty() && from <= text.size();) {
    size_t end = text.find('\x1e', from);
    if (end == std::string::npos) end = text.size();
    const std::string read = text.substr(from, end - from);
    const size_t sql = read.find('\x1f');
    const size_t block = sql == std::string::npos ? sql : read.find('\x1f', sql + 1);
    if (block == std::string::npos) {
      failure = "no query";
      break;
    }
    const std::string connect = read.substr(0, sql);
    const std::string query = read.substr(sql + 1, block - sql - 1);
    const SQLULEN rowsPerBlock = std::strtoull(read.c_str() + block + 1, nullptr, 10);
    failure = rowsPerBlock == 0 ? ReadInTransaction(connect, query, &rows)
                                : ReadInBlocks(connect, query, rowsPerBlock, &rows);
    from = end + 1;
  }
  *code = Answer(std::atoi(answer), rows, failure) && failure.empty() ? 0 : 1;
  return true;
}

}  // namespace odbc_bare

#endif  // TW_BENCH_ODBC_BARE_H_
