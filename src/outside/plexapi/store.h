// The storage core shared by the units of the stand-in: an open database (one SQLite
// connection), its transactions and prepared statements, note rows, and the hooks through
// which the design unit keeps view indexes and form fields current. Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_STORE_H_
#define TW_OUTSIDE_PLEXAPI_STORE_H_

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "plexapi.h"

namespace plexa {

class ItemSource;  // formula.h: read access to a note's items by name
class ItemSink;    // formula.h: read and write access (FIELD assignments, defaults)
class Database;
class Txn;
class PgConn;  // pg_store.h: the PostgreSQL side
class PgStmt;
struct DbPath;
struct NoteRow;

using Unid = std::array<uint8_t, GV_UNID_SIZE>;

// When a counter of a database held in PostgreSQL was read, by the commit signal (PgConn).
struct SignalMark {
  uint64_t token = 0;  // 0: never read
  std::chrono::steady_clock::time_point at;
};

// Note classes as stored in note.class.
inline constexpr uint32_t kClassDocument = GVCLASS_DOCUMENT;
inline constexpr uint32_t kClassInfo = GVCLASS_INFO;
inline constexpr uint32_t kClassForm = 0x100;
inline constexpr uint32_t kClassView = 0x200;
inline constexpr uint32_t kClassAgent = 0x400;

// Note ids are 2·n for n = 1, 2, ... and stay below 2^31.
inline constexpr GVNOTEID kMaxNoteId = 0x7FFFFFFEu;

// ---------------------------------------------------------------- SQLite handles ----------

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Maps a SQLite result code of a call on db to a Plexa status and records the engine's text
// as the thread's last failure: BUSY/LOCKED -> GVERR_BUSY, NOMEM -> GVERR_NO_MEMORY,
// NOTADB/CORRUPT -> GVERR_NOT_A_DATABASE, TOOBIG/FULL -> GVERR_TOO_BIG, CONSTRAINT on a
// unique index -> GVERR_EXISTS, anything else GVERR_ENGINE (info = the SQLite code).
// SQLITE_OK, SQLITE_ROW and SQLITE_DONE give 0.
[[nodiscard]] uint32_t SqlStatus(sqlite3* db, int rc);

// A parameter bound as a blob: zero-length bytes stay a blob, never NULL.
struct BlobParam {
  const void* data = nullptr;
  size_t size = 0;
};
inline BlobParam AsBlob(std::string_view bytes) {
  return {bytes.data(), bytes.size()};
}
template <class Bytes>
requires requires(const Bytes& b) {
  b.data() + b.size();
}
BlobParam AsBlob(const Bytes& bytes) {
  return {bytes.data(), bytes.size() * sizeof *bytes.data()};
}
// text as a parameter, NULL when empty.
inline std::optional<std::string_view> TextOrNull(std::string_view text) {
  return text.empty() ? std::nullopt : std::optional<std::string_view>(text);
}
// A note's parent as a parameter: its identity, NULL without one.
inline std::optional<BlobParam> ParentParam(bool hasParent, const Unid& parent) {
  return hasParent ? std::optional<BlobParam>(AsBlob(parent)) : std::nullopt;
}

// Whether a parameter is a std::optional (bound as NULL when empty).
template <class T>
inline constexpr bool kIsOptionalParam = false;
template <class T>
inline constexpr bool kIsOptionalParam<std::optional<T>> = true;

// A statement from the database's cache, reset and cleared when this goes out of scope (a
// statement already in use, as in a recursive call, is prepared afresh and finalized then).
// Column readers take 0-based columns, binders 1-based parameters (as SQLite does). On a
// database held in PostgreSQL the same calls go to its statement instead.
class Stmt {
 public:
  Stmt() = default;
  Stmt(Stmt&& other) noexcept;
  Stmt& operator=(Stmt&& other) noexcept;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt();

  sqlite3_stmt* get() const { return st_; }
  // Binders answer 0 or a status (a text or blob above SQLite's limit: GVERR_TOO_BIG).
  [[nodiscard]] uint32_t Bind(int index, int64_t value);
  [[nodiscard]] uint32_t Bind(int index, std::string_view text);  // TEXT
  [[nodiscard]] uint32_t BindBlob(int index, const void* data, size_t size);
  [[nodiscard]] uint32_t BindNull(int index);
  // Binds values to the parameters 1, 2, ... in order: integers, texts (anything a
  // string_view is made from), BlobParam, std::nullopt (NULL) or a std::optional of one of
  // those (empty: NULL). The first failing binder's status.
  template <class... Values>
  [[nodiscard]] uint32_t BindAll(const Values&... values) {
    int index = 0;
    uint32_t st = 0;
    ((st = st != 0 ? st : BindValue(++index, values)), ...);
    return st;
  }
  // Steps once: *row (optional) is true when a row is there. Errors map through SqlStatus.
  [[nodiscard]] uint32_t Step(bool* row = nullptr);
  // Runs to the end (statements without rows).
  [[nodiscard]] uint32_t Run();
  // Run, for a write inside a transaction whose outcome only its commit needs (no Changes()
  // after it): on PostgreSQL it goes without waiting, and a failure fails the transaction's
  // next statement or its commit.
  [[nodiscard]] uint32_t RunUnwaited();
  // Steps through every row and calls each(*this) for it; each answers nothing or a status
  // (non-zero ends the walk and is answered).
  template <class Each>
  [[nodiscard]] uint32_t ForEachRow(Each&& each) {
    for (bool row = true;;) {
      if (uint32_t st = Step(&row)) return st;
      if (!row) return 0;
      if constexpr (std::is_void_v<std::invoke_result_t<Each&, const Stmt&>>) {
        each(static_cast<const Stmt&>(*this));
      } else if (uint32_t st = each(static_cast<const Stmt&>(*this))) {
        return st;
      }
    }
  }

  int64_t Int(int column) const;
  std::string_view Text(int column) const;
  std::string_view Blob(int column) const;  // bytes; empty for NULL
  bool IsNull(int column) const;

 private:
  friend class Database;
  template <class Value>
  [[nodiscard]] uint32_t BindValue(int index, const Value& value) {
    if constexpr (std::is_same_v<Value, BlobParam>)
      return BindBlob(index, value.data, value.size);
    else if constexpr (std::is_same_v<Value, std::nullopt_t>)
      return BindNull(index);
    else if constexpr (kIsOptionalParam<Value>)
      return value ? BindValue(index, *value) : BindNull(index);
    else if constexpr (std::is_integral_v<Value>)
      return Bind(index, static_cast<int64_t>(value));
    else
      return Bind(index, std::string_view(value));
  }
  void Release();
  sqlite3_stmt* st_ = nullptr;
  PgStmt* pg_ = nullptr;  // instead of st_ on a database held in PostgreSQL
  bool* busy_ = nullptr;  // the cache entry's in-use flag
  bool owned_ = false;    // not from the cache: finalized on release
};

// Prepares sql on db (a Database or a Txn) into out and binds values (as Stmt::BindAll).
template <class Db, class... Values>
[[nodiscard]] uint32_t Query(Db& db, std::string_view sql, Stmt& out, const Values&... values) {
  if (uint32_t st = db.Prepare(sql, out)) return st;
  return out.BindAll(values...);
}
// Query, then one step: row tells whether out stands on a row.
template <class Db, class... Values>
[[nodiscard]] uint32_t QueryRow(Db& db, std::string_view sql, Stmt& out, bool& row,
                                const Values&... values) {
  row = false;
  if (uint32_t st = Query(db, sql, out, values...)) return st;
  return out.Step(&row);
}
// Prepares, binds and runs a statement without rows; the statement is released on return.
template <class Db, class... Values>
[[nodiscard]] uint32_t RunSql(Db& db, std::string_view sql, const Values&... values) {
  Stmt st;
  if (uint32_t s = Query(db, sql, st, values...)) return s;
  return st.Run();
}

// RunSql for a write whose outcome only the transaction's commit needs (Stmt::RunUnwaited).
template <class Db, class... Values>
[[nodiscard]] uint32_t RunSqlUnwaited(Db& db, std::string_view sql, const Values&... values) {
  Stmt st;
  if (uint32_t s = Query(db, sql, st, values...)) return s;
  return st.RunUnwaited();
}

// Query with note as the one parameter, then steps to its row; without one missing, with
// "note <note>" as the thread's last failure.
[[nodiscard]] uint32_t QueryNoteRow(Txn& txn, std::string_view sql, GVNOTEID note, uint32_t missing,
                                    Stmt& out);

// ---------------------------------------------------------------- hooks -------------------

// Kept current inside the write transaction that stores or deletes a document (class
// kClassDocument). merged = the note's items as stored after this store. A status fails the
// store (the transaction rolls back); formula errors are not statuses here.
class IndexMaintainer {
 public:
  virtual ~IndexMaintainer() = default;
  [[nodiscard]] virtual uint32_t OnStore(Txn& txn, GVNOTEID note, const ItemSource& merged) = 0;
  // The first store of a new note (no view holds a row of it yet).
  [[nodiscard]] virtual uint32_t OnInsert(Txn& txn, GVNOTEID note, const ItemSource& items) {
    return OnStore(txn, note, items);
  }
  [[nodiscard]] virtual uint32_t OnDelete(Txn& txn, GVNOTEID note) = 0;
};

// The fields of forms. Defaults adds the default value of each field of form, in field
// order, to a new document (which already holds "Form"); a default that fails to evaluate
// adds nothing. IsField answers whether item is a field of form (names fold ASCII case);
// it may read through the database's last design state.
class FormCatalog {
 public:
  virtual ~FormCatalog() = default;
  [[nodiscard]] virtual uint32_t Defaults(Txn& txn, GVNOTEID form, ItemSink& newDocument) = 0;
  virtual bool IsField(GVNOTEID form, std::string_view item) = 0;
};

// Per-database state of the design unit (compiled formulas, field tables), owned by the
// open database and destroyed with it.
class DesignState {
 public:
  virtual ~DesignState() = default;
};

// The design unit's entry: given an open database, its hooks (null: none). Installed once
// per process; without it databases keep no view index and know no form fields. The
// pointers answered must stay valid while the database is open (typically they live in its
// DesignState).
class DesignHooks {
 public:
  virtual ~DesignHooks() = default;
  virtual IndexMaintainer* Indexer(Database& db) = 0;
  virtual FormCatalog* Forms(Database& db) = 0;
};
// Installs (null: removes) the process's hooks; the object must outlive every database.
// Thread-safe.
void InstallDesignHooks(DesignHooks* hooks);
DesignHooks* InstalledDesignHooks();

// ---------------------------------------------------------------- database ---------------

// One open database: one SQLite connection (WAL, synchronous NORMAL, foreign keys, the
// session's busy timeout). Used by one thread at a time, like its GVDB handle.
class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens an existing database file of this API. Missing: GVERR_NO_DATABASE; not a
  // database of this API (foreign or corrupt): GVERR_NOT_A_DATABASE. readOnly opens the
  // connection read-only (listing, copying). busyMs: the busy timeout.
  [[nodiscard]] static uint32_t Open(const std::string& file, bool readOnly, int busyMs,
                                     std::unique_ptr<Database>& out);
  // Creates the file with the schema and fresh meta (identity, title); GVERR_EXISTS when
  // it exists.
  [[nodiscard]] static uint32_t Create(const std::string& file, std::string_view title, int busyMs,
                                       std::unique_ptr<Database>& out);
  // Open and Create for a resolved name: the file of a directory server, or a database of a
  // server held in PostgreSQL. A database created there is seen by others only once ready
  // (else the transaction that finishes it calls MarkReady).
  [[nodiscard]] static uint32_t OpenAt(const DbPath& path, bool readOnly, int busyMs,
                                       std::unique_ptr<Database>& out);
  [[nodiscard]] static uint32_t CreateAt(const DbPath& path, std::string_view title, int busyMs,
                                         bool ready, std::unique_ptr<Database>& out);
  [[nodiscard]] uint32_t MarkReady();
  // The PostgreSQL connection of a database held there (else null).
  PgConn* pg() const { return pg_.get(); }
  // Rows the last statement changed.
  int64_t Changes() const;

  sqlite3* sql() const { return db_.get(); }
  const std::string& file() const { return file_; }  // the SQLite file path
  // "server!!file" as the caller named it; set by the API layer.
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  GVDB handle() const { return handle_; }
  void set_handle(GVDB h) { handle_ = h; }
  const Unid& identity() const { return identity_; }
  bool read_only() const { return read_only_; }

  // Database property 3 of this open handle (never stored).
  bool form_check() const { return form_check_; }
  void set_form_check(bool on) { form_check_ = on; }

  // A cached prepared statement for sql (a literal: the cache keys by its text).
  [[nodiscard]] uint32_t Prepare(std::string_view sql, Stmt& out);
  // Runs statements without rows or bindings.
  [[nodiscard]] uint32_t Exec(const char* sql);
  // Runs one statement without rows or bindings through the statement cache: for those run
  // once a transaction or a store, whose parsing would cost more than their work.
  [[nodiscard]] uint32_t ExecCached(std::string_view sql);
  // PRAGMA data_version: changes whenever another connection committed.
  [[nodiscard]] uint32_t DataVersion(int64_t& out);
  // meta.commit_seq. On PostgreSQL the value read last is answered without a round trip
  // while the commit signal says no writer committed since.
  [[nodiscard]] uint32_t CommitSeq(int64_t& out);
  // Reads meta values (absent: the fallback / empty).
  [[nodiscard]] uint32_t MetaInt(std::string_view key, int64_t fallback, int64_t& out);
  [[nodiscard]] uint32_t MetaText(std::string_view key, std::string& out);
  [[nodiscard]] uint32_t MetaBlob(std::string_view key, std::string& out);
  [[nodiscard]] uint32_t SetMeta(std::string_view key, int64_t value);
  [[nodiscard]] uint32_t SetMetaText(std::string_view key, std::string_view value);
  [[nodiscard]] uint32_t SetMetaBlob(std::string_view key, const void* data, size_t size);

  // The design unit's state and hooks (null when no hooks are installed).
  std::unique_ptr<DesignState>& design_state() { return design_state_; }
  IndexMaintainer* indexer();
  FormCatalog* forms();

  // Identity read again from meta (after a copy or create replaced it).
  [[nodiscard]] uint32_t ReloadIdentity();

  // Bulk stores (GVCLOSE_BULK). Each runs store() inside one write transaction that the
  // bulk stores of this connection share, under a savepoint of its own: a store that fails
  // leaves nothing behind and the others stand. The shared transaction is committed at the
  // kBulkDocuments-th store or at the first one kBulkMillis after it began, before any
  // other transaction on this connection or on another connection of this thread to the
  // same file, and by FlushBulk. A commit that fails rolls the whole batch back; its status
  // is answered by the call that committed (or, for a commit forced by another connection,
  // by this connection's next call).
  static constexpr uint32_t kBulkDocuments = 1000;
  static constexpr int kBulkMillis = 100;
  uint32_t BulkStore(const std::function<uint32_t()>& store);
  // Commits the shared transaction (none: 0, or a failure still to be answered).
  uint32_t FlushBulk();
  bool bulk_pending() const { return bulk_ != nullptr || bulk_failure_ != 0; }
  // Inside a bulk store, full-text rows are kept here and written just before the shared
  // transaction commits: the full-text table would write out its pending terms at every
  // store's savepoint.
  bool in_bulk_store() const { return in_bulk_store_; }
  struct FullTextRow {
    int64_t first = 0;  // the rows first..last are removed, or first is written with body
    int64_t last = 0;
    std::optional<std::string> body;
    bool fresh = false;  // written where there was none
  };
  std::vector<FullTextRow>& bulk_fulltext() { return bulk_fulltext_; }
  // The age at which the shared transaction is committed (tests stretch or shrink it).
  void set_bulk_period(std::chrono::milliseconds period) { bulk_period_ = period; }

  // The documents of a walk (an index navigated a step, a document opened, the next step,
  // ...) are read in one read transaction of a file: beginning and ending one for each
  // document cost as much as reading it. The transaction of an open that follows a step
  // (Txn::kHeldRead) is held for the open after the next step, and ended by anything else
  // done on the connection (any other transaction, any statement outside one), by the
  // close of an index, at the kHeldDocuments-th open and at the first open kHeldMillis
  // after it began. So a reader sees what others committed at its next walk, search or
  // other call, an open that follows no step sees the latest, and no read transaction is
  // held across a write of its own.
  static constexpr uint32_t kHeldDocuments = 256;
  static constexpr int kHeldMillis = 20;
  // An index on this database was navigated a step.
  void set_walk_step() { walk_step_ = true; }
  // A walk through notes in ascending id order names the notes it stands on and opens next
  // (first..last): the open of first reads the rows of them all at once, where reading them
  // one by one would cost a look-up each (ReadNoteAhead). 0, 0: none named.
  void set_walk_span(GVNOTEID first, GVNOTEID last) {
    span_first_ = first;
    span_last_ = last;
  }
  // The rows so read, valid in the read transaction that read them (a write transaction
  // never joins a read one): emptied whenever a transaction begins afresh.
  struct ReadAhead {
    std::vector<NoteRow> rows;  // ascending ids, items packed
    size_t next = 0;            // the first not taken yet
  };
  ReadAhead& read_ahead() { return read_ahead_; }
  GVNOTEID span_first() const { return span_first_; }
  GVNOTEID span_last() const { return span_last_; }
  // Inside a read transaction of a file (what rows read ahead need).
  bool reading_file() const { return pg_ == nullptr && txn_depth_ > 0 && !txn_write_; }
  // Ends the held read transaction (none: 0).
  [[nodiscard]] uint32_t EndHeldRead();

  // What this connection learned of the names of a note's parts (see item_part) by its own
  // stores, as of the note's seq then: a store that finds the note at that seq (read under
  // its write lock) need not ask for the parts of a name known to have none. has: names
  // known to have parts (true) or none (false); complete: no other name has any.
  struct PartNames {
    uint32_t seq = 0;
    bool complete = false;
    std::unordered_map<std::string, bool> has;
  };
  // The note's entry, when it is current at seq (else null).
  const PartNames* part_names(GVNOTEID note, uint32_t seq) const;
  // Keeps (or, given nullopt, forgets) what is known of the note's part names. Bounded: past
  // kPartNameNotes notes, all is forgotten and learned again.
  static constexpr size_t kPartNameNotes = 256;
  void set_part_names(GVNOTEID note, std::optional<PartNames> names);

 private:
  friend class Txn;
  Database() = default;
  [[nodiscard]] uint32_t Configure(int busyMs);
  // The schema version of the database (one this API reads, else GVERR_NOT_A_DATABASE).
  [[nodiscard]] uint32_t CheckSchema(int64_t& version);
  // Adds what files of an earlier layout lack (write connections only), and packs the item
  // rows of a database of the first layout into their notes' rows.
  [[nodiscard]] uint32_t Upgrade(int64_t version);
  [[nodiscard]] uint32_t PackItemRows(Txn& txn);

  SqlitePtr db_;
  std::unique_ptr<PgConn> pg_;  // instead of db_ on a server held in PostgreSQL
  std::string file_;
  std::string name_;
  GVDB handle_ = 0;
  Unid identity_{};
  bool read_only_ = false;
  bool form_check_ = false;
  int txn_depth_ = 0;  // open Txn objects (the outer one and those that joined it)
  bool txn_write_ = false;
  int64_t design_seq_ = -1;       // meta.design_seq as read in the open write transaction (-1: not)
  int64_t next_note_ = -1;        // meta.next_note likewise
  bool next_note_dirty_ = false;  // next_note_ to be written by the commit
  // The counters as read last by readers, and the commit signal's marks then (PostgreSQL).
  int64_t commit_seq_ = 0;
  SignalMark commit_mark_;
  int64_t read_design_seq_ = 0;
  SignalMark design_mark_;
  std::unique_ptr<Txn> bulk_;  // the shared bulk transaction, while one is open
  uint32_t bulk_count_ = 0;
  std::chrono::steady_clock::time_point bulk_start_;
  std::chrono::milliseconds bulk_period_{kBulkMillis};
  bool in_bulk_store_ = false;
  bool walk_step_ = false;     // an index step since the last document open
  bool held_read_ = false;     // a read transaction open between document opens
  int held_attachments_ = -1;  // in it: whether any attachment is there (-1: not asked)
  uint32_t held_count_ = 0;
  std::chrono::steady_clock::time_point held_start_;
  GVNOTEID span_first_ = 0;
  GVNOTEID span_last_ = 0;
  ReadAhead read_ahead_;
  std::vector<FullTextRow> bulk_fulltext_;
  std::unordered_map<GVNOTEID, PartNames> part_names_;
  uint32_t bulk_failure_ = 0;  // a forced commit's failure, for this connection's next call
  // Commits the bulk transactions that other connections of this thread hold on this file.
  void FlushSiblings();
  // Rolls the whole bulk transaction back (it can no longer be trusted).
  void DropBulk();
  friend class Stmt;
  struct Cached {
    StmtPtr st;
    bool busy = false;
  };
  // Looked up by the caller's text without making a string of it.
  struct SqlHash {
    using is_transparent = void;
    size_t operator()(std::string_view sql) const { return std::hash<std::string_view>{}(sql); }
  };
  std::unordered_map<std::string, Cached, SqlHash, std::equal_to<>> stmts_;
  // Declared after stmts_ so that it is destroyed first: its statements, if any, go before
  // the connection.
  std::unique_ptr<DesignState> design_state_;
};

// A transaction on an open database. kWrite begins IMMEDIATE (the write lock is taken first,
// so it never has to be upgraded, which deadlocks under WAL) and a commit increments
// meta.commit_seq; kRead begins DEFERRED and sees one snapshot. Not committed: rolled back
// when destroyed. Begin inside an open transaction of the same database joins it (its Commit
// then does nothing and only the outer one commits), so helpers may open their own; a kWrite
// joining a kRead answers GVERR_BUSY.
class Txn {
 public:
  // kHeldRead: a read whose transaction may be shared with the reads just before and after
  // it (see Database::kHeldDocuments); as kRead on a database held in PostgreSQL.
  enum Mode { kRead, kWrite, kHeldRead };
  explicit Txn(Database& db) : db_(db) {}
  ~Txn();
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;

  [[nodiscard]] uint32_t Begin(Mode mode);
  [[nodiscard]] uint32_t Commit();
  void Rollback();

  Database& db() const { return db_; }
  sqlite3* sql() const { return db_.sql(); }
  bool writing() const { return mode_ == kWrite; }
  // Whether this joined an open transaction (its Commit commits nothing).
  bool joined() const { return joined_; }
  [[nodiscard]] uint32_t Prepare(std::string_view sql, Stmt& out) { return db_.Prepare(sql, out); }

  // Whether any note has an attachment (true unless known otherwise): asked once for the
  // documents of a walk, whose shared snapshot nobody changes.
  [[nodiscard]] uint32_t AnyAttachments(bool& out);

  // Write transactions only. Allocates the next note id (never reused; GVERR_TOO_BIG when
  // they are used up).
  [[nodiscard]] uint32_t NewNoteId(GVNOTEID& id);
  // meta.design_seq: read, and incremented (every design change must call it).
  [[nodiscard]] uint32_t DesignSeq(int64_t& out);
  [[nodiscard]] uint32_t BumpDesignSeq();

 private:
  Database& db_;
  Mode mode_ = kRead;
  bool open_ = false;
  bool joined_ = false;
};

// ---------------------------------------------------------------- notes ------------------

// A new random identity.
Unid NewUnid();

// The header row of a note.
struct NoteRow {
  GVNOTEID id = 0;
  Unid unid{};
  uint32_t cls = kClassDocument;
  std::string form_key;    // documents: the "Form" item, ASCII-lower-cased
  std::string design_key;  // design notes: the name, ASCII-lower-cased (empty: none)
  bool has_parent = false;
  Unid parent{};
  GVTIMEDATE created{};
  GVTIMEDATE modified{};
  uint32_t seq = 0;   // times stored
  std::string items;  // InsertNote: the packed items (PackItems) the note is inserted with
  int64_t parts = 0;  // ReadNote, ReadNoteItems: the note's item parts (see item_part)
};

// Inserts a new note (write transaction): allocates its id, a new identity unless row.unid
// is non-zero, created/modified = now when zero; row.id receives the id. A design name taken
// in its class: GVERR_EXISTS.
[[nodiscard]] uint32_t InsertNote(Txn& txn, NoteRow& row);
// Reads a note's header. None: GVERR_NO_ENTRY.
[[nodiscard]] uint32_t ReadNote(Txn& txn, GVNOTEID id, NoteRow& row);
// Deletes a note with its items, attachments and view rows (document notes also through
// the indexer). None: GVERR_NO_ENTRY.
[[nodiscard]] uint32_t DeleteNote(Txn& txn, GVNOTEID id);

// One stored item row.
struct StoredItem {
  std::string name;   // as spelled
  uint32_t type = 0;  // GVTYPE_*
  uint32_t flags = 0;
  // Bytes in the stored layout (single values as one-entry lists). A vector, so that moving
  // the item keeps the bytes where they are (GVItemGetPointer hands out their address).
  std::vector<uint8_t> value;
};
// A note's items are kept together in its row (note.items), packed in their order: for
// each, the name's length (1 byte) and bytes, type and flags (4 bytes each), the value's
// length (4 bytes) and bytes; integers little-endian. One value a note is one row to write
// and to read, where a row an item cost a row and an index entry each.
void PackItem(const StoredItem& item, std::string& out);
template <class Items>
std::string PackItems(const Items& items) {
  std::string out;
  size_t size = 0;
  for (const StoredItem& it : items) size += 13 + it.name.size() + it.value.size();
  out.reserve(size);
  for (const StoredItem& it : items) PackItem(it, out);
  return out;
}
// The items packed in bytes; bytes that do not hold packed items: GVERR_NOT_A_DATABASE.
// onlyNames (folded names), when given: only the items of those names.
[[nodiscard]] uint32_t UnpackItems(std::string_view bytes, std::vector<StoredItem>& out,
                                   const std::vector<std::string>* onlyNames = nullptr);
// The same, appended to out.
[[nodiscard]] uint32_t UnpackMoreItems(std::string_view bytes, std::vector<StoredItem>& out,
                                       const std::vector<std::string>* onlyNames = nullptr);
// Rows appended to names of a stored note by a store that changes nothing else are not
// packed into note.items again (which would cost the whole note at every line added to a
// long log): each run of them under one name is a part of its own (item_part: note, ord
// from 1, the folded name, the packed rows), counted by note.parts, and has its own
// full-text row. The note's items are note.items followed by its parts in order; a store
// that replaces names packs them all into note.items again and drops the parts.
// Appends the items of the note's parts (in order; onlyNames: only those names) to out.
[[nodiscard]] uint32_t ReadItemParts(Txn& txn, GVNOTEID id, std::vector<StoredItem>& out,
                                     const std::vector<std::string>* onlyNames = nullptr);
// Adds rows of one (folded) name as the note's part ord, with its full-text row.
[[nodiscard]] uint32_t InsertItemPart(Txn& txn, GVNOTEID note, int64_t ord, std::string_view key,
                                      std::span<const StoredItem* const> rows);
// The items of a note in their order (none for a note that is not there).
[[nodiscard]] uint32_t ReadItems(Txn& txn, GVNOTEID id, std::vector<StoredItem>& out);
// A note's header and items in one read. None: GVERR_NO_ENTRY.
[[nodiscard]] uint32_t ReadNoteItems(Txn& txn, GVNOTEID id, NoteRow& row,
                                     std::vector<StoredItem>& items);
// ReadNoteItems for a note that a walk opens: from the rows read ahead for the walk's span
// (Database::set_walk_span), read at the span's first note. fewParts: the parts are read
// only when there are at most kFewParts of them (else only the items packed in the note's
// row; row.parts tells which).
[[nodiscard]] uint32_t ReadNoteAhead(Txn& txn, GVNOTEID id, NoteRow& row,
                                     std::vector<StoredItem>& items, bool fewParts = false);
// The parts a document's open reads with its note (a long log's are read when asked for).
constexpr int64_t kFewParts = 16;
// Replaces the items of a note (write transaction) with items (order as given) and its
// full-text row with their texts.
[[nodiscard]] uint32_t InsertItemRows(Txn& txn, GVNOTEID note,
                                      const std::vector<StoredItem>& items);

// One stored attachment row.
struct AttachmentRow {
  std::string name;
  std::string data;
  int64_t size = 0;      // as stored (the size the attachment was given)
  std::string modified;  // the stored time's bytes
};
// The attachment rows of a note, by name.
[[nodiscard]] uint32_t ReadAttachmentRows(Txn& txn, GVNOTEID note, std::vector<AttachmentRow>& out);
// Inserts an attachment row of note, replacing one of the same name (write transaction);
// modified is the stored time's bytes.
[[nodiscard]] uint32_t WriteAttachmentRow(Txn& txn, GVNOTEID note, std::string_view name,
                                          std::string_view data, int64_t size,
                                          std::string_view modified);

// The note whose identity is unid: id 0 when there is none, else its id and class.
[[nodiscard]] uint32_t FindNoteByUnid(Txn& txn, const Unid& unid, GVNOTEID& id, uint32_t& cls);

// An ItemSource over stored items (first item of a name; rich-text pieces joined), for
// indexing and searching. Built by LoadNoteSource.
std::unique_ptr<ItemSource> MakeItemSource(std::vector<StoredItem> items);
[[nodiscard]] uint32_t LoadNoteSource(Txn& txn, GVNOTEID id, std::unique_ptr<ItemSource>& out);

// ---------------------------------------------------------------- full text ---------------

// The full-text table's definition (part of the schema; added to older files at open).
extern const char* const kFullTextSchema;
// The searchable text of a note's items (texts, text lists, rich text; other types are not
// indexed), appended to body: each text apart from the one before it, so that no phrase
// matches across two texts.
void AppendItemText(const StoredItem& item, std::string& body);
template <class Items>
std::string NoteText(const Items& items) {
  std::string body;
  for (const StoredItem& it : items) AppendItemText(it, body);
  return body;
}
// Writes the full-text row of the note's items (a document or information note) with body
// (empty: none); fresh: the note had none before (it was just inserted); dropParts: the rows
// of its parts are removed.
uint32_t IndexNote(Txn& txn, GVNOTEID note, std::string body, bool fresh, bool dropParts = false);
// The form key (NoteRow::form_key) that a "Form" item of type and stored bytes gives: its
// first text folded, else empty.
std::string FormKeyOfItem(uint32_t type, std::span<const uint8_t> bytes);
// Whether name folds (ASCII) to key, which is folded already, without a folded copy.
bool FoldsTo(std::string_view name, std::string_view key);
// The form key of a note's items in their stored order: that of its first "Form" item.
template <class Items>
std::string FormKeyOf(const Items& items) {
  for (const StoredItem& it : items)
    if (FoldsTo(it.name, "form")) return FormKeyOfItem(it.type, it.value);
  return {};
}
// Inserts a new note with items (write transaction): row.form_key and row.items are made
// from them, then its row (InsertNote) and its full-text row are written. Documents of the
// API and notes imported by plexadm are stored so.
template <class Items>
[[nodiscard]] uint32_t InsertNewNote(Txn& txn, NoteRow& row, const Items& items) {
  row.form_key = FormKeyOf(items);
  row.items = PackItems(items);
  if (uint32_t s = InsertNote(txn, row)) return s;
  return IndexNote(txn, row.id, NoteText(items), true);
}
// Writes the full-text row of the note's new part ord (body empty: none).
uint32_t IndexItemPart(Txn& txn, GVNOTEID note, int64_t ord, std::string body);
// Removes the note's rows.
uint32_t DropFullText(Txn& txn, GVNOTEID note);
// Writes rows kept back by bulk stores, in order.
uint32_t WriteFullTextRows(Txn& txn, const std::vector<Database::FullTextRow>& rows);
// Rebuilds the rows of every document and information note.
uint32_t RebuildFullText(Txn& txn);
// The notes of classMask whose texts hold every term (a word or a phrase of words; letter
// case ignored; a phrase lies within one text: one list entry, one paragraph of a piece of
// rich text), in note-id order. No terms: every such note.
uint32_t FullTextNotes(Txn& txn, std::vector<std::string> terms, uint32_t classMask,
                       std::vector<GVNOTEID>& out);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_STORE_H_
