// The server-wide state of tds5d and one client connection's session.
#ifndef TW_TESTS_TDS5D_TDS5D_SESSION_H_
#define TW_TESTS_TDS5D_TDS5D_SESSION_H_

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tds5d_sql.h"
#include "tds5d_wire.h"

namespace tds5d {

// Shared by every session; the log is written under its own lock.
struct Server {
  std::string dataDir;
  std::map<std::string, std::string> logins;  // user -> password
  std::mutex mutex;                           // making databases
  int logFd = -1;
  std::atomic<int> sessions{0};

  // Makes the data directory's master database when missing and opens the log.
  bool Init(std::string& error);
  std::string DatabasePath(std::string_view name) const;
  // Appends "kind<TAB>text" with the text escaped to one line.
  void Log(std::string_view kind, std::string_view text);
};

// A message of the server to the client, as an EED token.
struct ServerError {
  int number = 0;
  int severity = 16;
  std::string text;
};

class Session {
 public:
  Session(Server& server, int fd);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  void Run();

 private:
  struct StmtDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

  // A parameter value as it came in PARAMS (or a bulk row): its wire type and bytes.
  struct Value {
    Column column;
    bool null = true;
    std::string bytes;
  };

  struct ValueDeleter {
    void operator()(sqlite3_value* v) const { sqlite3_value_free(v); }
  };
  using Cell = std::unique_ptr<sqlite3_value, ValueDeleter>;

  // An open cursor holds its rows, read whole at open: a select left stepping would keep its
  // connection on an old snapshot, and a later positioned write there would find the database
  // locked after any other connection wrote.
  struct Cursor {
    std::string name;
    std::string text;   // the select, rewritten
    std::string table;  // the table a "where current of" acts on
    bool open = false;
    std::vector<Column> columns;
    std::vector<std::vector<Cell>> rows;
    size_t next = 0;       // the row the next fetch sends
    bool current = false;  // a fetched row is current (none before the first, none at the end)
    int64_t rowid = 0;     // the current row
    int rowidColumn = -1;  // the hidden rowid column of the select, when there is a table
    uint32_t fetchCount = 1;
  };

  bool Login(std::string_view body);
  void Dispatch(uint8_t type, const std::string& body);
  void Tokens(std::string_view body);
  void Language(std::string text);
  // Runs one statement; its results and a DONE (final unless more) go to the reply.
  void Statement(std::string_view text, const std::vector<Value>& params, bool more);
  void RunSql(const std::string& sql, const std::vector<Value>& params, bool more, bool count);
  void RunPrepared(sqlite3_stmt* st, const std::vector<Value>& params, bool more, bool count);
  void SendRows(sqlite3_stmt* st, int rc, bool more);
  void DescribeColumns(sqlite3_stmt* st, bool haveRow, std::vector<Column>& cols, int skipLast);
  void SendRowFmt(const std::vector<Column>& cols);
  void SendValue(const Column& c, sqlite3_value* v);
  bool BindParams(sqlite3_stmt* st, const std::vector<Value>& params, ServerError& err);
  bool BindValue(sqlite3_stmt* st, int index, const Value& v, ServerError& err);

  void Use(const std::string& name, bool more);
  void DbOption(const std::vector<Word>& w, std::string_view text);
  void CreateDatabase(const std::string& name);
  void Truncate(const std::string& table);
  void OptionCmd(Reader& in);
  void Dynamic(Reader& in);
  void CursorToken(uint8_t token, Reader& in);
  int32_t cursorIdOf(const Cursor& c) const;
  void BulkInsert(const std::string& table);
  void BulkRows(const std::string& body);

  bool OpenDatabase(const std::string& name, ServerError& err);
  bool DatabaseExists(const std::string& name);
  bool TableExists(const std::string& table);
  std::vector<Value> ReadParams(Reader& in, bool& ok);
  bool ReadParamFmt(Reader& in, std::vector<Column>& cols);
  bool ReadValue(Reader& in, const Column& c, Value& v);

  void Error(const ServerError& e);
  void Done(uint16_t status, uint32_t count, uint8_t token = kTokDone);
  ServerError ErrorOfSqlite(const std::string& message);
  Dialect dialect() { return Dialect{charset_, database_, id_, &named_}; }
  // Rewrites and prepares a statement; null after an error was sent.
  Stmt Prepare(std::string_view text);
  // Attaches the databases the last rewritten text named (db..table).
  bool AttachNamed(ServerError& err);

  Server& server_;
  Wire wire_;
  int id_;
  std::string user_, charset_, database_ = "master";
  sqlite3* db_ = nullptr;
  bool loggedIn_ = false;
  bool formatOnly_ = false;
  int32_t textSize_ = 32768;
  std::vector<std::string> named_, attached_;
  struct Prepared {
    std::string text;  // as the client wrote it
    Stmt stmt;         // null until prepared in the current database
    bool count = false;
  };
  std::map<std::string, Prepared> dynamics_;
  std::map<std::string, std::unique_ptr<Cursor>> cursors_;
  std::map<int32_t, Cursor*> cursorIds_;
  int32_t nextCursorId_ = 1;
  Cursor* lastCursor_ = nullptr;
  // An "insert bulk" in progress: its table and columns, rows follow in bulk packets.
  std::string bulkTable_;
  std::vector<Column> bulkColumns_;
  std::vector<bool> bulkNullable_;
};

}  // namespace tds5d

#endif  // TW_TESTS_TDS5D_TDS5D_SESSION_H_
