// The PostgreSQL side of the storage core: a database of a server that the server map holds
// in PostgreSQL is one schema of that PostgreSQL database, reached through libpq. The units
// above speak the SQL of the SQLite side; the few constructs PostgreSQL spells otherwise
// (placeholders, upserts, the full-text match, index hints) are translated once, when a
// statement is prepared. Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_PG_STORE_H_
#define TW_OUTSIDE_PLEXAPI_PG_STORE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace plexa {

struct SignalMark;
class PgConn;
struct DbPath;
struct ListedDatabase;

// A prepared statement of one connection, bound and executed by Stmt. The whole result is
// fetched at the first step, so statements may be nested inside a walk of another.
class PgStmt {
 public:
  PgStmt(PgConn& conn, std::string name, std::vector<unsigned> types);
  ~PgStmt();
  PgStmt(const PgStmt&) = delete;
  PgStmt& operator=(const PgStmt&) = delete;

  uint32_t Bind(int index, int64_t value);
  // Bytes, or a text; a text parameter (a full-text row) takes valid UTF-8 only.
  uint32_t BindBytes(int index, std::string_view bytes);
  uint32_t BindNull(int index);
  uint32_t Step(bool* row);
  // Inside a transaction: sends the statement (one without rows) without waiting for it; a
  // failure fails the transaction's next statement or its commit. Else as Step.
  uint32_t RunUnwaited();
  void Reset();

  int64_t Int(int column) const;
  std::string_view Bytes(int column) const;
  bool IsNull(int column) const;

  bool busy = false;

 private:
  // The parameters as libpq takes them.
  void Params(std::vector<const char*>& values, std::vector<int>& lengths) const;
  PgConn& conn_;
  std::string name_;
  std::vector<unsigned> types_;  // the parameter types the server inferred
  std::vector<std::string> values_;
  std::vector<char> null_;
  std::vector<int> formats_;
  PGresult* result_ = nullptr;
  int row_ = -1;
};

// One libpq connection whose search path is the schema of one database.
class PgConn {
 public:
  ~PgConn();
  PgConn(const PgConn&) = delete;
  PgConn& operator=(const PgConn&) = delete;

  // Connects with conninfo (a libpq connection string); unreachable, refused or a wrong
  // password: GVERR_NO_SERVER with libpq's text. busyMs bounds every lock wait.
  [[nodiscard]] static uint32_t Connect(const std::string& conninfo, int busyMs,
                                        std::unique_ptr<PgConn>& out);

  PGconn* raw() const { return conn_; }
  // A statement (SQLite's dialect) from the cache, translated and prepared on first use; one
  // in use is prepared again under another name.
  [[nodiscard]] uint32_t Prepare(std::string_view sql, PgStmt*& out);
  // Runs statements without parameters (translated).
  [[nodiscard]] uint32_t Exec(std::string_view sql);
  // Rows the last statement changed.
  int64_t changes() const { return changes_; }
  void set_changes(int64_t n) { changes_ = n; }

  // Transactions cost no round trip of their own: BEGIN (with a writer's lock on the commit
  // counter) goes to the server with the transaction's first statement, in libpq's pipeline;
  // a writer's commit sends the counter's increment, the commit signal and COMMIT together and
  // waits once; a reader's COMMIT is sent without waiting for its answer (read before the
  // connection's next statement).
  void Begin(bool write);
  [[nodiscard]] uint32_t Commit(bool write);
  void Rollback();
  // Runs a prepared statement, after what is queued before it, in one round trip; the result
  // is the statement's (null with the status of the first failure).
  [[nodiscard]] uint32_t Execute(const char* name, int n, const char* const* values,
                                 const int* lengths, const int* formats, PGresult*& out);
  // Sends a prepared statement inside the open transaction without waiting (see RunUnwaited).
  [[nodiscard]] uint32_t Send(const char* name, int n, const char* const* values,
                              const int* lengths, const int* formats);
  bool in_transaction() const { return txn_ != TxnState::kNone; }
  // A writer's BEGIN reads meta.design_seq once it holds the commit counter's lock, in the
  // same round trip: whether that value is there (out), until the transaction changes the
  // design (ForgetDesignSeq) or ends.
  bool BeginDesignSeq(int64_t& out) const;
  void ForgetDesignSeq() { begin_design_seq_ = -1; }
  // meta.commit_seq as the last writer's commit on this connection left it, until the next
  // transaction begins (out; false when not known).
  bool CommittedSeq(int64_t& out) const {
    out = committed_seq_;
    return txn_ == TxnState::kNone && committed_seq_ >= 0;
  }

  // The commit signal: whether a counter read when mark was taken must be read again (and
  // then takes mark anew, just before that read). A commit of this process to the database
  // changes it at once, one of another process once its notification arrived; since a
  // notification may still be on its way, a value is trusted only for kTrustSignal after
  // it was read. A lost connection (notifications missed) changes it too.
  static constexpr std::chrono::microseconds kTrustSignal{250};
  bool Changed(SignalMark& mark);
  // Takes mark anew, for a counter whose value is known as of now.
  void Mark(SignalMark& mark);

  // Maps a failed result (null: the connection's failure) to a status with the engine's text.
  [[nodiscard]] uint32_t Status(PGresult* result) const;
  // The statement run again whenever the connection is made anew (the search path).
  void set_schema_setup(std::string sql) { schema_setup_ = std::move(sql); }
  // The schema of the connection's database: the channel of its commit signal, which the
  // connection listens to from now on.
  [[nodiscard]] uint32_t Listen(const std::string& conninfo, const std::string& schema);

 private:
  PgConn() = default;
  // A connection that was lost (PostgreSQL restarted, the network dropped it) is made anew
  // at the next call that finds no statement of it in use; what was prepared is gone then.
  [[nodiscard]] uint32_t Revive();
  [[nodiscard]] uint32_t Setup();
  enum class TxnState { kNone, kPending, kOpen };  // kPending: BEGIN not sent yet
  // kDesignSeq: the writer's read of meta.design_seq sent with its BEGIN; kCommitSeq: its
  // increment of meta.commit_seq, answering the value; kPrepared: the preparation of one of
  // kWriterStatements.
  enum class Sent { kQuiet, kWanted, kIgnored, kSync, kDesignSeq, kCommitSeq, kPrepared };
  // Sends the pending BEGIN (pipeline mode on).
  [[nodiscard]] uint32_t SendBegin();
  // Sends a statement without parameters into the pipeline.
  [[nodiscard]] uint32_t SendText(const std::string& sql, Sent kind);
  // The statements of every writer's transaction (its lock on the commit counter, its read
  // of the design counter, its increment of the commit counter): prepared once a session,
  // where a text would be parsed and planned in each transaction.
  enum WriterStatement { kLock, kReadDesignSeq, kBumpCommitSeq, kWriterStatements };
  // Sends one of them, after its preparation when the session has it not yet.
  [[nodiscard]] uint32_t SendWriter(WriterStatement which, Sent kind);
  // Ends what was sent with a sync and reads every answer through it; wanted receives the
  // answers of the statements sent as kWanted. The first failure of the statements read.
  [[nodiscard]] uint32_t Sync(std::vector<PGresult*>* wanted);
  // Reads what is still unread and leaves pipeline mode (before a call outside it).
  [[nodiscard]] uint32_t Settle();
  [[nodiscard]] uint32_t Lost();
  // Takes the notifications libpq has read (so that none pile up on a connection that never
  // asks for the signal).
  void CountNotifications();
  // The signal's state: notifications read, connections made anew, local commits.
  uint64_t Token();
  PGconn* conn_ = nullptr;
  int busy_ms_ = 0;
  std::string schema_setup_;
  int64_t changes_ = 0;
  unsigned next_name_ = 0;
  TxnState txn_ = TxnState::kNone;
  bool write_ = false;
  std::deque<Sent> sent_;  // sent and not yet read, in order
  // Of kWriterStatements: prepared on this session, and sent to be (answers not read yet).
  unsigned writer_prepared_ = 0;
  std::deque<WriterStatement> preparing_;
  uint32_t failure_ = 0;   // the first failure among the answers nobody waited for
  std::string notify_;     // NOTIFY of the commit signal (empty: none)
  uint64_t notified_ = 0;  // notifications received
  uint64_t lives_ = 0;     // connections made anew (notifications may be lost then)
  // meta.design_seq as the writer's BEGIN read it (-1: not read in this transaction).
  int64_t begin_design_seq_ = -1;
  int64_t committed_seq_ = -1;
  // Commits of writers of this process to the same database (they need not wait for their
  // notification to reach this connection).
  std::shared_ptr<std::atomic<uint64_t>> local_;
  std::unordered_map<std::string, std::vector<std::unique_ptr<PgStmt>>> stmts_;
};

// The statement text PostgreSQL runs for one of SQLite's dialect.
std::string TranslateSql(std::string_view sql);

// The database of path (held in PostgreSQL): connects, sets the search path to its schema.
// Missing: GVERR_NO_DATABASE.
[[nodiscard]] uint32_t PgOpen(const DbPath& path, int busyMs, std::unique_ptr<PgConn>& out);
// Makes the database of path with the schema (no meta rows yet) and connects to it; taken:
// GVERR_EXISTS. The new database is registered only when commit() answers 0.
[[nodiscard]] uint32_t PgCreate(const DbPath& path, int busyMs, std::unique_ptr<PgConn>& out);
// Makes the database of conn ready (listed, opened by others): inside the transaction that
// finishes its creation or copy.
[[nodiscard]] uint32_t PgMarkReady(PgConn& conn);
// Removes a database and its rows. Missing: GVERR_NO_DATABASE.
[[nodiscard]] uint32_t PgDelete(const DbPath& path);
// Renames a database (within its server); to taken and !replace: GVERR_EXISTS.
[[nodiscard]] uint32_t PgRename(const DbPath& from, const DbPath& to, bool replace);
// The databases of the server under subdir ("" for all), sorted by name.
[[nodiscard]] uint32_t PgList(const DbPath& server, const std::string& subdir,
                              std::vector<ListedDatabase>& out);
// Creation and copy where either side is held in PostgreSQL (database_copy.cc): the new
// database is made at newFile (target's own place, or for a file a temporary one beside it
// that the caller puts in place), left open in made.
class Database;
[[nodiscard]] uint32_t CreateAcross(const DbPath& target, std::string_view title,
                                    const DbPath* templ, uint32_t options, bool inherit,
                                    const std::string& newFile, std::unique_ptr<Database>& made);
[[nodiscard]] uint32_t CopyAcross(const DbPath& source, const DbPath& dest, bool setTitle,
                                  std::string_view title, uint32_t sizeLimitMb,
                                  const std::string& newFile, std::unique_ptr<Database>& made);

// Whether PostgreSQL answers at conninfo.
bool PgResponds(const std::string& conninfo);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_PG_STORE_H_
