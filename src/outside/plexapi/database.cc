// The SQLite side of a database: connection, schema, meta, statements, transactions, note
// ids, and the whole-file operations (create, copy through the backup interface, delete,
// list).
#include "database.h"

#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "pg_store.h"
#include "timedate.h"
#include "tw/coding.h"

namespace plexa {
namespace {

// 2: a note's items packed into its row and its parts, one full-text row each (1: a row an
// item).
constexpr int64_t kSchemaVersion = 2;
constexpr int64_t kItemRowsSchema = 1;

constexpr std::string_view kSelectMeta = "SELECT value FROM meta WHERE key=?";
constexpr std::string_view kStoreMeta = "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)";

constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE note(
  id INTEGER PRIMARY KEY,
  unid BLOB NOT NULL UNIQUE,
  class INTEGER NOT NULL,
  form_key TEXT,
  design_key TEXT,
  parent BLOB,
  created BLOB NOT NULL, modified BLOB NOT NULL, seq INTEGER NOT NULL,
  items BLOB NOT NULL DEFAULT x'', parts INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX note_design ON note(class, design_key) WHERE design_key IS NOT NULL;
CREATE INDEX note_form ON note(form_key);
CREATE INDEX note_parent ON note(parent);
CREATE TABLE item_part(note INTEGER NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord INTEGER NOT NULL, name_key TEXT NOT NULL, items BLOB NOT NULL,
  PRIMARY KEY(note, name_key, ord)) WITHOUT ROWID;
CREATE TABLE attachment(note INTEGER NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  name TEXT NOT NULL, data BLOB NOT NULL, size INTEGER NOT NULL, modified BLOB NOT NULL,
  PRIMARY KEY(note, name)) WITHOUT ROWID;
CREATE TABLE form_field(form INTEGER NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord INTEGER NOT NULL, name TEXT NOT NULL, name_key TEXT NOT NULL, type INTEGER NOT NULL,
  flags INTEGER NOT NULL, list_flags INTEGER NOT NULL, head BLOB NOT NULL,
  default_formula TEXT, PRIMARY KEY(form, ord)) WITHOUT ROWID;
CREATE TABLE form_def(form INTEGER PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  design BLOB NOT NULL,
  body BLOB NOT NULL);
CREATE TABLE view_def(view INTEGER PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  style INTEGER, flags INTEGER, selection_kind INTEGER, display BLOB, selection TEXT,
  maker_pid INTEGER, maker_token TEXT);
CREATE TABLE view_column(view INTEGER NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord INTEGER NOT NULL, kind INTEGER NOT NULL, formula TEXT NOT NULL, title TEXT,
  record BLOB NOT NULL,
  PRIMARY KEY(view, ord)) WITHOUT ROWID;
CREATE TABLE view_entry(view INTEGER NOT NULL, sortkey BLOB NOT NULL, note INTEGER NOT NULL,
  dup INTEGER NOT NULL,
  cells BLOB NOT NULL,
  PRIMARY KEY(view, sortkey, note, dup)) WITHOUT ROWID;
CREATE INDEX view_entry_note ON view_entry(note);
CREATE TABLE agent_def(agent INTEGER PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  kind INTEGER, flags INTEGER, selection TEXT, action TEXT, last_run BLOB, last_count INTEGER);
CREATE TABLE acl(name_key TEXT PRIMARY KEY, name TEXT, access INTEGER, flags INTEGER) WITHOUT ROWID;
)sql";

std::atomic<DesignHooks*> g_hooks{nullptr};

// The connections that hold a bulk transaction, with the thread that opened it.
struct BulkHolder {
  Database* db;
  std::thread::id thread;
};
std::mutex g_bulk_mutex;
std::vector<BulkHolder> g_bulk_holders;
std::atomic<size_t> g_bulk_count{0};

void ForgetBulkHolder(Database* db) {
  std::lock_guard<std::mutex> lock(g_bulk_mutex);
  std::erase_if(g_bulk_holders, [&](const BulkHolder& h) { return h.db == db; });
  g_bulk_count = g_bulk_holders.size();
}

std::string BaseName(const std::string& file) {
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Makes the directories a new database file needs, only inside its server's directory: a
// file named by an absolute path elsewhere goes only into a directory that already exists.
bool MakeParent(const DbPath& p) {
  const std::string parent = DirName(p.path);
  if (p.path.compare(0, p.dir.size(), p.dir) != 0) return IsDirectory(parent);
  return MakeDirectories(parent);
}

// A temporary file beside path that a crash leaves recognisable (and unlisted).
std::string TempPathFor(const std::string& path) {
  Unid r = NewUnid();
  char tail[40];
  std::snprintf(tail, sizeof tail, ".tmp-%d-%02x%02x%02x%02x", static_cast<int>(getpid()), r[12],
                r[13], r[14], r[15]);
  return DirName(path) + "/." + BaseName(path) + tail;
}

void RemoveFileSet(const std::string& path) {
  unlink((path + "-wal").c_str());
  unlink((path + "-shm").c_str());
  unlink((path + "-journal").c_str());
  unlink(path.c_str());
}

// Owns a temporary database file until it is put in place.
constexpr mode_t kPrivateFile = 0600;

class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) RemoveFileSet(path_);
  }
  const std::string& path() const { return path_; }
  // Gives the file mode and links it at target, which must not exist (atomic against other
  // creators).
  uint32_t Place(const std::string& target, mode_t mode) {
    if (chmod(path_.c_str(), mode) != 0)
      return Fail(GVERR_FILE, target + ": " + std::strerror(errno));
    if (link(path_.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST) return Fail(GVERR_EXISTS, target);
      return Fail(GVERR_FILE, target + ": " + std::strerror(errno));
    }
    return 0;
  }

 private:
  std::string path_;
};

[[nodiscard]] uint32_t OpenStatus(sqlite3* db, int rc, const std::string& file) {
  if (rc == SQLITE_NOMEM) return GVERR_NO_MEMORY;
  if ((rc & 0xFF) == SQLITE_CANTOPEN || (rc & 0xFF) == SQLITE_PERM ||
      (rc & 0xFF) == SQLITE_READONLY)
    return Fail(GVERR_FILE, file + ": " + (db ? sqlite3_errmsg(db) : "cannot open"));
  return SqlStatus(db, rc);
}

// Reads the meta row of key and hands it to take (null: there is none).
template <class Take>
[[nodiscard]] uint32_t ReadMeta(Database& db, std::string_view key, Take take) {
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(db, kSelectMeta, st, row, key)) return s;
  take(row ? &st : nullptr);
  return 0;
}

// The meta rows of a new, empty database.
[[nodiscard]] uint32_t InitialMeta(Database& db, std::string_view title);

// Copies every page of src into the file at destPath (made), as of one read snapshot.
[[nodiscard]] uint32_t BackupInto(Database& src, const std::string& destPath) {
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(destPath.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqlitePtr dest(raw);
  if (rc != SQLITE_OK) return OpenStatus(raw, rc, destPath);
  sqlite3_busy_timeout(raw, BusyTimeoutMs());
  sqlite3_backup* b = sqlite3_backup_init(raw, "main", src.sql(), "main");
  if (b == nullptr) return SqlStatus(raw, sqlite3_errcode(raw));
  // All pages in one step: the source is read in one transaction, so the copy is
  // consistent even while other connections write.
  rc = sqlite3_backup_step(b, -1);
  int fin = sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) return SqlStatus(src.sql(), rc);
  if (fin != SQLITE_OK) return SqlStatus(raw, fin);
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- statuses and statements --

uint32_t SqlStatus(sqlite3* db, int rc) {
  int primary = rc & 0xFF;
  if (primary == SQLITE_OK || primary == SQLITE_ROW || primary == SQLITE_DONE) return 0;
  std::string detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  switch (primary) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Fail(GVERR_BUSY, detail);
    case SQLITE_NOMEM:
      return Fail(GVERR_NO_MEMORY, detail);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return Fail(GVERR_NOT_A_DATABASE, detail);
    case SQLITE_TOOBIG:
    case SQLITE_FULL:
      return Fail(GVERR_TOO_BIG, detail);
    case SQLITE_CONSTRAINT:
      if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
        return Fail(GVERR_EXISTS, detail);
      return Fail(GVERR_ENGINE, detail, static_cast<uint32_t>(rc));
    case SQLITE_READONLY:
      return Fail(GVERR_FILE, detail);
    default:
      return Fail(GVERR_ENGINE, detail, static_cast<uint32_t>(rc));
  }
}

Stmt::Stmt(Stmt&& other) noexcept
    : st_(std::exchange(other.st_, nullptr)),
      pg_(std::exchange(other.pg_, nullptr)),
      busy_(std::exchange(other.busy_, nullptr)),
      owned_(std::exchange(other.owned_, false)) {}

Stmt& Stmt::operator=(Stmt&& other) noexcept {
  if (this != &other) {
    Release();
    st_ = std::exchange(other.st_, nullptr);
    pg_ = std::exchange(other.pg_, nullptr);
    busy_ = std::exchange(other.busy_, nullptr);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

Stmt::~Stmt() {
  Release();
}

void Stmt::Release() {
  if (pg_ != nullptr) {
    pg_->Reset();
    pg_->busy = false;
    pg_ = nullptr;
  }
  if (st_ == nullptr) return;
  if (owned_) {
    sqlite3_finalize(st_);
  } else {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
    if (busy_ != nullptr) *busy_ = false;
  }
  st_ = nullptr;
  busy_ = nullptr;
  owned_ = false;
}

uint32_t Stmt::Bind(int index, int64_t value) {
  if (pg_ != nullptr) return pg_->Bind(index, value);
  return SqlStatus(sqlite3_db_handle(st_), sqlite3_bind_int64(st_, index, value));
}

uint32_t Stmt::Bind(int index, std::string_view text) {
  if (pg_ != nullptr) return pg_->BindBytes(index, text);
  if (text.size() > 0x7FFFFFFF) return GVERR_TOO_BIG;
  return SqlStatus(
      sqlite3_db_handle(st_),
      sqlite3_bind_text(st_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
}

uint32_t Stmt::BindBlob(int index, const void* data, size_t size) {
  if (pg_ != nullptr)
    return pg_->BindBytes(index, std::string_view(static_cast<const char*>(data), size));
  if (size > 0x7FFFFFFF) return GVERR_TOO_BIG;
  static const char kEmpty = 0;
  if (data == nullptr) data = &kEmpty;  // a zero-length blob, not NULL
  return SqlStatus(sqlite3_db_handle(st_),
                   sqlite3_bind_blob(st_, index, data, static_cast<int>(size), SQLITE_TRANSIENT));
}

uint32_t Stmt::BindNull(int index) {
  if (pg_ != nullptr) return pg_->BindNull(index);
  return SqlStatus(sqlite3_db_handle(st_), sqlite3_bind_null(st_, index));
}

uint32_t Stmt::Step(bool* row) {
  if (pg_ != nullptr) return pg_->Step(row);
  int rc = sqlite3_step(st_);
  if (row != nullptr) *row = rc == SQLITE_ROW;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return 0;
  uint32_t st = SqlStatus(sqlite3_db_handle(st_), rc);
  sqlite3_reset(st_);
  return st;
}

uint32_t Stmt::Run() {
  bool row = true;
  while (row)
    if (uint32_t st = Step(&row)) return st;
  return 0;
}

uint32_t Stmt::RunUnwaited() {
  if (pg_ != nullptr) return pg_->RunUnwaited();
  return Run();
}

int64_t Stmt::Int(int column) const {
  if (pg_ != nullptr) return pg_->Int(column);
  return sqlite3_column_int64(st_, column);
}

std::string_view Stmt::Text(int column) const {
  if (pg_ != nullptr) return pg_->Bytes(column);
  const unsigned char* p = sqlite3_column_text(st_, column);
  int n = sqlite3_column_bytes(st_, column);
  return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
           : std::string_view();
}

std::string_view Stmt::Blob(int column) const {
  if (pg_ != nullptr) return pg_->Bytes(column);
  const void* p = sqlite3_column_blob(st_, column);
  int n = sqlite3_column_bytes(st_, column);
  return p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(n))
           : std::string_view();
}

bool Stmt::IsNull(int column) const {
  if (pg_ != nullptr) return pg_->IsNull(column);
  return sqlite3_column_type(st_, column) == SQLITE_NULL;
}

uint32_t QueryNoteRow(Txn& txn, std::string_view sql, GVNOTEID note, uint32_t missing, Stmt& out) {
  bool row = false;
  if (uint32_t st = QueryRow(txn, sql, out, row, note)) return st;
  return row ? 0 : Fail(missing, "note " + std::to_string(note));
}

// ---------------------------------------------------------------- hooks -------------------

void InstallDesignHooks(DesignHooks* hooks) {
  g_hooks.store(hooks);
}

DesignHooks* InstalledDesignHooks() {
  return g_hooks.load();
}

// ---------------------------------------------------------------- database ---------------

Database::~Database() {
  // Closed without GVDatabaseClose (GVTerm, a parent handle): what was stored is kept as
  // far as it can be; there is nobody left to answer a failure to.
  (void)FlushBulk();
}

uint32_t Database::BulkStore(const std::function<uint32_t()>& store) {
  if (bulk_failure_ != 0) return std::exchange(bulk_failure_, 0);
  if (bulk_ == nullptr) {
    auto txn = std::make_unique<Txn>(*this);
    if (uint32_t st = txn->Begin(Txn::kWrite)) return st;
    bulk_ = std::move(txn);
    bulk_count_ = 0;
    bulk_start_ = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(g_bulk_mutex);
    g_bulk_holders.push_back({this, std::this_thread::get_id()});
    g_bulk_count = g_bulk_holders.size();
  }
  if (uint32_t st = ExecCached("SAVEPOINT bulk_store")) {
    (void)FlushBulk();
    return st;
  }
  size_t rowsBefore = bulk_fulltext_.size();
  in_bulk_store_ = true;
  uint32_t status = store();
  in_bulk_store_ = false;
  if (status != 0) {
    bulk_fulltext_.resize(rowsBefore);
    // Read again: what the store did is undone. The note ids of the batch stay allocated.
    design_seq_ = -1;
    // Only this document's rows go; when even that fails, the batch cannot be trusted.
    if (ExecCached("ROLLBACK TO bulk_store") != 0 || ExecCached("RELEASE bulk_store") != 0)
      DropBulk();
    return status;
  }
  if (uint32_t st = ExecCached("RELEASE bulk_store")) {
    DropBulk();
    return st;
  }
  ++bulk_count_;
  if (bulk_count_ >= kBulkDocuments ||
      std::chrono::steady_clock::now() - bulk_start_ >= bulk_period_)
    return FlushBulk();
  return 0;
}

uint32_t Database::FlushBulk() {
  if (bulk_ == nullptr) return std::exchange(bulk_failure_, 0);
  std::unique_ptr<Txn> txn = std::move(bulk_);
  ForgetBulkHolder(this);
  // Written from where they were kept, which keeps its room for the next batch.
  const uint32_t written = WriteFullTextRows(*txn, bulk_fulltext_);
  bulk_fulltext_.clear();
  if (written != 0) return written;  // txn rolls back
  return txn->Commit();
}

void Database::DropBulk() {
  bulk_->Rollback();
  bulk_.reset();
  bulk_fulltext_.clear();
  ForgetBulkHolder(this);
}

void Database::FlushSiblings() {
  if (g_bulk_count.load() == 0) return;
  std::vector<Database*> siblings;
  {
    std::lock_guard<std::mutex> lock(g_bulk_mutex);
    for (const BulkHolder& h : g_bulk_holders)
      if (h.db != this && h.thread == std::this_thread::get_id() && h.db->file_ == file_)
        siblings.push_back(h.db);
  }
  for (Database* other : siblings)
    if (uint32_t st = other->FlushBulk()) other->bulk_failure_ = st;
}

uint32_t Database::Open(const std::string& file, bool readOnly, int busyMs,
                        std::unique_ptr<Database>& out) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return Fail(GVERR_NO_DATABASE, file);
  if (!S_ISREG(st.st_mode)) return Fail(GVERR_NOT_A_DATABASE, file);
  std::unique_ptr<Database> db(new Database);
  db->file_ = file;
  db->read_only_ = readOnly;
  sqlite3* raw = nullptr;
  // A reader that may write the file still connects for writing (and never writes): the
  // last connection of a log-mode database then folds and removes its -wal and -shm files,
  // which a read-only connection leaves beside a template or a kit's database for good.
  const bool writable = !readOnly || access(file.c_str(), W_OK) == 0;
  int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  db->db_.reset(raw);
  if (rc != SQLITE_OK) return OpenStatus(raw, rc, file);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, busyMs);
  int64_t version = 0;
  if (uint32_t s = db->CheckSchema(version)) return s;
  if (uint32_t s = db->Configure(busyMs)) return s;
  if (version < kSchemaVersion && !writable)
    return Fail(GVERR_NOT_A_DATABASE,
                file +
                    ": a database of an earlier layout, converted when first opened by "
                    "someone who may write it");
  if (!readOnly || version < kSchemaVersion)
    if (uint32_t s = db->Upgrade(version)) return s;
  if (uint32_t s = db->ReloadIdentity()) return s;
  out = std::move(db);
  return 0;
}

uint32_t Database::CheckSchema(int64_t& version) {
  auto known = [&](int64_t v) { return v == kSchemaVersion || v == kItemRowsSchema; };
  if (pg_ != nullptr) {
    version = -1;
    if (uint32_t st = MetaInt("schema", -1, version)) return st;
    if (!known(version)) return Fail(GVERR_NOT_A_DATABASE, file_ + ": another schema");
    return 0;
  }
  sqlite3_stmt* raw = nullptr;
  int rc =
      sqlite3_prepare_v2(db_.get(), "SELECT value FROM meta WHERE key='schema'", -1, &raw, nullptr);
  StmtPtr st(raw);
  int primary = rc & 0xFF;
  if (primary == SQLITE_ERROR || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
    return Fail(GVERR_NOT_A_DATABASE, file_);
  if (rc != SQLITE_OK) return SqlStatus(db_.get(), rc);
  rc = sqlite3_step(raw);
  primary = rc & 0xFF;
  if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
    return Fail(GVERR_NOT_A_DATABASE, file_);
  if (rc != SQLITE_ROW) {
    if (rc == SQLITE_DONE) return Fail(GVERR_NOT_A_DATABASE, file_);
    return SqlStatus(db_.get(), rc);
  }
  version = sqlite3_column_int64(raw, 0);
  if (sqlite3_column_type(raw, 0) != SQLITE_INTEGER || !known(version))
    return Fail(GVERR_NOT_A_DATABASE, file_ + ": another schema");
  return 0;
}

uint32_t Database::PackItemRows(Txn& txn) {
  // Another process may have converted it since this one read the version.
  int64_t version = 0;
  if (uint32_t st = MetaInt("schema", kSchemaVersion, version)) return st;
  if (version >= kSchemaVersion) return 0;
  if (uint32_t st =
          Exec(pg_ != nullptr
                   ? "ALTER TABLE note ADD COLUMN items bytea NOT NULL DEFAULT ''::bytea;"
                     "ALTER TABLE note ADD COLUMN parts bigint NOT NULL DEFAULT 0;"
                     "CREATE TABLE item_part(note bigint NOT NULL REFERENCES note(id) ON DELETE "
                     "CASCADE, ord bigint NOT NULL, name_key bytea NOT NULL, items bytea NOT NULL, "
                     "PRIMARY KEY(note, name_key, ord));"
                   : "ALTER TABLE note ADD COLUMN items BLOB NOT NULL DEFAULT x'';"
                     "ALTER TABLE note ADD COLUMN parts INTEGER NOT NULL DEFAULT 0;"
                     "CREATE TABLE item_part(note INTEGER NOT NULL REFERENCES note(id) ON DELETE "
                     "CASCADE, ord INTEGER NOT NULL, name_key TEXT NOT NULL, items BLOB NOT NULL, "
                     "PRIMARY KEY(note, name_key, ord)) WITHOUT ROWID;"))
    return st;
  {
    Stmt rows;
    if (uint32_t st =
            Query(txn, "SELECT note, name, type, flags, value FROM item ORDER BY note, ord", rows))
      return st;
    std::vector<StoredItem> items;
    int64_t note = 0;
    auto flush = [&]() -> uint32_t {
      if (items.empty()) return 0;
      uint32_t st =
          RunSql(txn, "UPDATE note SET items=? WHERE id=?", AsBlob(PackItems(items)), note);
      items.clear();
      return st;
    };
    if (uint32_t st = rows.ForEachRow([&](const Stmt& r) -> uint32_t {
          if (r.Int(0) != note)
            if (uint32_t e = flush()) return e;
          note = r.Int(0);
          StoredItem& it = items.emplace_back();
          it.name = std::string(r.Text(1));
          it.type = static_cast<uint32_t>(r.Int(2));
          it.flags = static_cast<uint32_t>(r.Int(3));
          std::string_view value = r.Blob(4);
          it.value.assign(value.begin(), value.end());
          return 0;
        }))
      return st;
    if (uint32_t st = flush()) return st;
  }
  if (uint32_t st = Exec("DROP TABLE item")) return st;
  if (uint32_t st = SetMeta("schema", kSchemaVersion)) return st;
  // Its full-text rows were a row an item.
  return RebuildFullText(txn);
}

uint32_t Database::Upgrade(int64_t version) {
  if (pg_ != nullptr) {
    if (version >= kSchemaVersion) return 0;
    Txn txn(*this);
    if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
    if (uint32_t st = PackItemRows(txn)) return st;
    return txn.Commit();
  }
  auto present = [&](const char* probe) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), probe, -1, &raw, nullptr);
    sqlite3_finalize(raw);
    return rc == SQLITE_OK;
  };
  const char* kFullTextProbe = "SELECT rowid FROM fulltext LIMIT 0";
  const char* kMakerProbe = "SELECT maker_pid, maker_token FROM view_def LIMIT 0";
  if (version >= kSchemaVersion && present(kFullTextProbe) && present(kMakerProbe)) return 0;
  // Files made before the full-text index, the makers of temporary views and the packed
  // items: each is added once, by whichever process opens the file for writing first.
  Txn txn(*this);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (!present(kMakerProbe)) {
    if (uint32_t st = Exec("ALTER TABLE view_def ADD COLUMN maker_pid INTEGER;"
                           "ALTER TABLE view_def ADD COLUMN maker_token TEXT;"))
      return st;
  }
  const bool noFullText = !present(kFullTextProbe);
  if (noFullText)
    if (uint32_t st = Exec(kFullTextSchema)) return st;
  if (present("SELECT note FROM item LIMIT 0")) {
    if (uint32_t st = PackItemRows(txn)) return st;
  } else if (noFullText) {
    if (uint32_t st = RebuildFullText(txn)) return st;
  }
  // Statements prepared against the old layout are stale.
  stmts_.clear();
  return txn.Commit();
}

uint32_t Database::Configure(int busyMs) {
  sqlite3_busy_timeout(db_.get(), busyMs);
  if (!read_only_)
    if (uint32_t st = Exec("PRAGMA journal_mode=WAL")) return st;
  if (uint32_t st = Exec("PRAGMA synchronous=NORMAL")) return st;
  // Each bulk store runs in a savepoint of the batch, whose copies of the pages it touches
  // stay in memory up to SQLite's statement-journal limit (64 KiB, far more than a store of
  // a usual document touches) with temporary files left on disk. temp_store=MEMORY would
  // keep them in 1 KiB pieces instead, allocated and freed again at every store: a tenth of
  // the cost of a store.
  return Exec("PRAGMA foreign_keys=ON");
}

uint32_t Database::Create(const std::string& file, std::string_view title, int busyMs,
                          std::unique_ptr<Database>& out) {
  if (access(file.c_str(), F_OK) == 0) return Fail(GVERR_EXISTS, file);
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(file.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<Database> db(new Database);
  db->db_.reset(raw);
  db->file_ = file;
  if (rc != SQLITE_OK) return OpenStatus(raw, rc, file);
  sqlite3_extended_result_codes(raw, 1);
  if (uint32_t st = db->Configure(busyMs)) return st;
  Txn txn(*db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (uint32_t st = db->Exec(kSchema)) return st;
  if (uint32_t st = db->Exec(kFullTextSchema)) return st;
  if (uint32_t st = InitialMeta(*db, title)) return st;
  if (uint32_t st = txn.Commit()) return st;
  if (uint32_t st = db->ReloadIdentity()) return st;
  out = std::move(db);
  return 0;
}

uint32_t Database::OpenAt(const DbPath& path, bool readOnly, int busyMs,
                          std::unique_ptr<Database>& out) {
  if (path.pg.empty()) return Open(path.path, readOnly, busyMs, out);
  std::unique_ptr<Database> db(new Database);
  db->file_ = path.Name();
  db->read_only_ = readOnly;
  if (uint32_t st = PgOpen(path, busyMs, db->pg_)) return st;
  int64_t version = 0;
  if (uint32_t st = db->CheckSchema(version)) return st;
  if (version < kSchemaVersion)
    if (uint32_t st = db->Upgrade(version)) return st;
  if (uint32_t st = db->ReloadIdentity()) return st;
  out = std::move(db);
  return 0;
}

uint32_t Database::CreateAt(const DbPath& path, std::string_view title, int busyMs, bool ready,
                            std::unique_ptr<Database>& out) {
  if (path.pg.empty()) return Create(path.path, title, busyMs, out);
  std::unique_ptr<Database> db(new Database);
  db->file_ = path.Name();
  if (uint32_t st = PgCreate(path, busyMs, db->pg_)) return st;
  Txn txn(*db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (uint32_t st = InitialMeta(*db, title)) return st;
  if (ready)
    if (uint32_t st = db->MarkReady()) return st;
  if (uint32_t st = txn.Commit()) return st;
  if (uint32_t st = db->ReloadIdentity()) return st;
  out = std::move(db);
  return 0;
}

uint32_t Database::MarkReady() {
  return pg_ != nullptr ? PgMarkReady(*pg_) : 0;
}

int64_t Database::Changes() const {
  return pg_ != nullptr ? pg_->changes() : sqlite3_changes(db_.get());
}

namespace {

uint32_t InitialMeta(Database& db, std::string_view title) {
  Unid id = NewUnid();
  std::string created = EncodeStoredTime(CurrentTime());
  const struct {
    const char* key;
    int64_t value;
  } ints[] = {{"schema", kSchemaVersion}, {"is_template", 0}, {"inherit", 0},
              {"next_note", 0},           {"commit_seq", 0},  {"design_seq", 0}};
  for (const auto& kv : ints)
    if (uint32_t st = db.SetMeta(kv.key, kv.value)) return st;
  if (uint32_t st = db.SetMetaBlob("identity", id.data(), id.size())) return st;
  if (uint32_t st = db.SetMetaBlob("created", created.data(), created.size())) return st;
  if (uint32_t st = db.SetMetaText("title", title)) return st;
  return db.SetMetaText("template", "");
}

}  // namespace

uint32_t Database::Prepare(std::string_view sql, Stmt& out) {
  out = Stmt();
  if (pg_ != nullptr) return pg_->Prepare(sql, out.pg_);
  // A statement outside a transaction is not part of the document opens' shared one.
  if (held_read_ && txn_depth_ == 0)
    if (uint32_t st = EndHeldRead()) return st;
  auto it = stmts_.find(sql);
  if (it != stmts_.end() && !it->second.busy) {
    it->second.busy = true;
    out.st_ = it->second.st.get();
    out.busy_ = &it->second.busy;
    return 0;
  }
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()),
                              it == stmts_.end() ? SQLITE_PREPARE_PERSISTENT : 0, &raw, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(raw);
    return SqlStatus(db_.get(), rc);
  }
  if (it == stmts_.end()) {
    Cached c;
    c.st.reset(raw);
    c.busy = true;
    auto placed = stmts_.emplace(std::string(sql), std::move(c)).first;
    out.st_ = raw;
    out.busy_ = &placed->second.busy;
  } else {
    out.st_ = raw;
    out.owned_ = true;
  }
  return 0;
}

uint32_t Database::Exec(const char* sql) {
  if (pg_ != nullptr) return pg_->Exec(sql);
  if (held_read_ && txn_depth_ == 0)
    if (uint32_t st = EndHeldRead()) return st;
  char* msg = nullptr;
  int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &msg);
  sqlite3_free(msg);
  return SqlStatus(db_.get(), rc);
}

uint32_t Database::ExecCached(std::string_view sql) {
  // PostgreSQL prepares only statements that read or write rows.
  if (pg_ != nullptr && sql.compare(0, 7, "UPDATE ") != 0) return pg_->Exec(sql);
  Stmt st;
  if (uint32_t s = Prepare(sql, st)) return s;
  return st.Run();
}

uint32_t Database::CommitSeq(int64_t& out) {
  if (pg_ != nullptr && !pg_->Changed(commit_mark_)) {
    out = commit_seq_;
    return 0;
  }
  if (uint32_t st = MetaInt("commit_seq", 0, out)) {
    commit_mark_ = SignalMark();
    return st;
  }
  commit_seq_ = out;
  return 0;
}

uint32_t Database::DataVersion(int64_t& out) {
  if (pg_ != nullptr) return CommitSeq(out);
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(*this, "PRAGMA data_version", st, row)) return s;
  out = row ? st.Int(0) : 0;
  return 0;
}

uint32_t Database::MetaInt(std::string_view key, int64_t fallback, int64_t& out) {
  return ReadMeta(*this, key, [&](const Stmt* st) {
    out = st != nullptr && !st->IsNull(0) ? st->Int(0) : fallback;
  });
}

uint32_t Database::MetaText(std::string_view key, std::string& out) {
  return ReadMeta(*this, key,
                  [&](const Stmt* st) { out = st ? std::string(st->Text(0)) : std::string(); });
}

uint32_t Database::MetaBlob(std::string_view key, std::string& out) {
  return ReadMeta(*this, key,
                  [&](const Stmt* st) { out = st ? std::string(st->Blob(0)) : std::string(); });
}

uint32_t Database::SetMeta(std::string_view key, int64_t value) {
  return RunSql(*this, kStoreMeta, key, value);
}

uint32_t Database::SetMetaText(std::string_view key, std::string_view value) {
  return RunSql(*this, kStoreMeta, key, value);
}

uint32_t Database::SetMetaBlob(std::string_view key, const void* data, size_t size) {
  return RunSql(*this, kStoreMeta, key, BlobParam{data, size});
}

IndexMaintainer* Database::indexer() {
  DesignHooks* h = g_hooks.load();
  return h ? h->Indexer(*this) : nullptr;
}

FormCatalog* Database::forms() {
  DesignHooks* h = g_hooks.load();
  return h ? h->Forms(*this) : nullptr;
}

uint32_t Database::ReloadIdentity() {
  std::string id;
  if (uint32_t st = MetaBlob("identity", id)) return st;
  if (id.size() != identity_.size()) return Fail(GVERR_NOT_A_DATABASE, file_ + ": no identity");
  std::memcpy(identity_.data(), id.data(), id.size());
  return 0;
}

// ---------------------------------------------------------------- transactions ------------

Txn::~Txn() {
  Rollback();
}

const Database::PartNames* Database::part_names(GVNOTEID note, uint32_t seq) const {
  auto it = part_names_.find(note);
  return it != part_names_.end() && it->second.seq == seq ? &it->second : nullptr;
}

void Database::set_part_names(GVNOTEID note, std::optional<PartNames> names) {
  if (!names) {
    part_names_.erase(note);
    return;
  }
  if (part_names_.size() >= kPartNameNotes && part_names_.count(note) == 0) part_names_.clear();
  part_names_[note] = std::move(*names);
}

uint32_t Database::EndHeldRead() {
  if (!held_read_) return 0;
  held_read_ = false;
  if (uint32_t st = ExecCached("COMMIT")) {
    if (!sqlite3_get_autocommit(db_.get()))
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    return st;
  }
  return 0;
}

uint32_t Txn::Begin(Mode mode) {
  if (open_) return GVERR_INVALID_ARGUMENT;
  if (mode == kHeldRead) {
    const bool step = std::exchange(db_.walk_step_, false);
    if (!step || db_.pg_ != nullptr || db_.txn_depth_ > 0) mode = kRead;
  }
  if (db_.held_read_) {
    // Another connection's bulk stores are committed before this one reads (FlushSiblings):
    // a snapshot taken before them is not shared.
    if (mode == kHeldRead && g_bulk_count.load() == 0 &&
        db_.held_count_ < Database::kHeldDocuments &&
        std::chrono::steady_clock::now() - db_.held_start_ <
            std::chrono::milliseconds(Database::kHeldMillis)) {
      db_.held_read_ = false;
      db_.txn_depth_ = 1;
      db_.txn_write_ = false;
      mode_ = mode;
      open_ = true;
      joined_ = false;
      return 0;
    }
    if (uint32_t st = db_.EndHeldRead()) return st;
  }
  // Anything else done on the database first commits the bulk stores before it.
  if (!db_.in_bulk_store_) {
    if (db_.bulk_pending())
      if (uint32_t st = db_.FlushBulk()) return st;
    if (db_.txn_depth_ == 0) db_.FlushSiblings();
  }
  if (db_.txn_depth_ > 0) {
    if (mode == kWrite && !db_.txn_write_) return Fail(GVERR_BUSY, "write inside a read");
    ++db_.txn_depth_;
    mode_ = mode;
    open_ = joined_ = true;
    return 0;
  }
  if (mode == kWrite && db_.read_only_) return Fail(GVERR_FILE, db_.file_ + ": read-only");
  if (db_.pg_ != nullptr)
    db_.pg_->Begin(mode == kWrite);
  else if (uint32_t st = db_.ExecCached(mode == kWrite ? "BEGIN IMMEDIATE" : "BEGIN"))
    return st;
  db_.txn_depth_ = 1;
  db_.txn_write_ = mode == kWrite;
  db_.design_seq_ = db_.next_note_ = -1;
  db_.read_ahead_.rows.clear();
  db_.next_note_dirty_ = false;
  mode_ = mode;
  open_ = true;
  joined_ = false;
  if (mode == kHeldRead) {
    db_.held_attachments_ = -1;
    db_.held_count_ = 0;
    db_.held_start_ = std::chrono::steady_clock::now();
  }
  return 0;
}

uint32_t Txn::Commit() {
  if (!open_) return GVERR_INVALID_ARGUMENT;
  if (joined_) {
    open_ = false;
    --db_.txn_depth_;
    return 0;
  }
  if (mode_ == kHeldRead) {
    // Kept open for the next document open.
    open_ = false;
    db_.txn_depth_ = 0;
    db_.held_read_ = true;
    ++db_.held_count_;
    return 0;
  }
  if (db_.pg_ != nullptr) {
    uint32_t st = 0;
    if (mode_ == kWrite && db_.next_note_dirty_)
      st = RunSqlUnwaited(db_, kStoreMeta, "next_note", db_.next_note_);
    // The design counter as this writer read it under its lock (-1: not read, or changed).
    int64_t design = -1;
    if (mode_ == kWrite && !db_.pg_->BeginDesignSeq(design)) design = db_.design_seq_;
    // The counter's increment goes with the commit (a transaction in which a statement
    // failed fails to commit there).
    if (st == 0)
      st = db_.pg_->Commit(mode_ == kWrite);
    else
      db_.pg_->Rollback();
    // The counters as this commit left them are what the next reader would read: it need
    // not read them while the commit signal says nobody committed since.
    int64_t committed = 0;
    if (st == 0 && mode_ == kWrite && db_.pg_->CommittedSeq(committed)) {
      db_.commit_seq_ = committed;
      db_.pg_->Mark(db_.commit_mark_);
      if (design >= 0) {
        db_.read_design_seq_ = design;
        db_.pg_->Mark(db_.design_mark_);
      }
    }
    open_ = false;
    db_.txn_depth_ = 0;
    db_.txn_write_ = false;
    db_.design_seq_ = db_.next_note_ = -1;
    db_.next_note_dirty_ = false;
    return st;
  }
  if (mode_ == kWrite) {
    if (db_.next_note_dirty_) {
      if (uint32_t st = db_.SetMeta("next_note", db_.next_note_)) {
        Rollback();
        return st;
      }
    }
    if (uint32_t st =
            db_.ExecCached("UPDATE meta SET value = value + 1 WHERE key = 'commit_seq'")) {
      Rollback();
      return st;
    }
  }
  if (uint32_t st = db_.ExecCached("COMMIT")) {
    Rollback();
    return st;
  }
  open_ = false;
  db_.txn_depth_ = 0;
  db_.txn_write_ = false;
  db_.design_seq_ = db_.next_note_ = -1;
  db_.next_note_dirty_ = false;
  return 0;
}

void Txn::Rollback() {
  if (!open_) return;
  open_ = false;
  if (joined_) {
    --db_.txn_depth_;
    return;
  }
  if (db_.pg_ != nullptr) {
    db_.pg_->Rollback();
  } else if (!sqlite3_get_autocommit(db_.sql())) {
    sqlite3_exec(db_.sql(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  db_.txn_depth_ = 0;
  db_.txn_write_ = false;
  db_.design_seq_ = db_.next_note_ = -1;
  db_.next_note_dirty_ = false;
}

uint32_t Txn::AnyAttachments(bool& out) {
  out = true;
  if (!open_ || mode_ != kHeldRead) return 0;
  if (db_.held_attachments_ < 0) {
    Stmt st;
    bool row = false;
    if (uint32_t s = QueryRow(*this, "SELECT 1 FROM attachment LIMIT 1", st, row)) return s;
    db_.held_attachments_ = row ? 1 : 0;
  }
  out = db_.held_attachments_ != 0;
  return 0;
}

uint32_t Txn::NewNoteId(GVNOTEID& id) {
  if (!open_ || mode_ != kWrite) return GVERR_INVALID_ARGUMENT;
  // Under the write lock only this connection allocates: the value read once holds for the
  // transaction (a bulk batch allocates many).
  int64_t n = db_.next_note_;
  if (n < 0)
    if (uint32_t st = db_.MetaInt("next_note", 0, n)) return st;
  if (n < 0 || 2 * (n + 1) > kMaxNoteId) return Fail(GVERR_TOO_BIG, "note ids used up");
  // Written once by the commit: a bulk batch would write it at every store.
  db_.next_note_ = n + 1;
  db_.next_note_dirty_ = true;
  id = static_cast<GVNOTEID>(2 * (n + 1));
  return 0;
}

uint32_t Txn::DesignSeq(int64_t& out) {
  // Under this connection's write lock only this connection changes the design, and it says
  // so (BumpDesignSeq): the value read once holds for every store of a bulk batch.
  if (db_.txn_write_ && db_.design_seq_ >= 0) {
    out = db_.design_seq_;
    return 0;
  }
  // A reader on PostgreSQL reads it again only once a writer committed; a writer reads it
  // under its lock, where a commit whose signal is still on its way is already seen.
  if (!db_.txn_write_ && db_.pg_ != nullptr && !db_.pg_->Changed(db_.design_mark_)) {
    out = db_.read_design_seq_;
    return 0;
  }
  if (db_.pg_ != nullptr && db_.pg_->BeginDesignSeq(out)) {
    db_.design_seq_ = out;
    return 0;
  }
  if (uint32_t st = db_.MetaInt("design_seq", 0, out)) {
    db_.design_mark_ = SignalMark();
    return st;
  }
  if (db_.txn_write_)
    db_.design_seq_ = out;
  else
    db_.read_design_seq_ = out;
  return 0;
}

uint32_t Txn::BumpDesignSeq() {
  if (!open_ || mode_ != kWrite) return GVERR_INVALID_ARGUMENT;
  db_.design_seq_ = -1;
  if (db_.pg_ != nullptr) db_.pg_->ForgetDesignSeq();
  return db_.Exec("UPDATE meta SET value = value + 1 WHERE key = 'design_seq'");
}

// ---------------------------------------------------------------- times and identities ----

namespace {

// Random bytes for identities, fetched from the kernel a block at a time (a call for each
// identity cost a tenth of a bulk store); a forked child starts a block of its own.
struct RandomPool {
  std::array<uint8_t, 512> bytes{};
  size_t used = 512;
};
thread_local RandomPool t_random;
std::once_flag g_random_fork;

// Fills out with random bytes; false without kernel randomness.
bool RandomBytes(uint8_t* out, size_t n) {
  std::call_once(g_random_fork,
                 [] { pthread_atfork(nullptr, nullptr, [] { t_random.used = 512; }); });
  RandomPool& pool = t_random;
  if (pool.used + n > pool.bytes.size()) {
    size_t got = 0;
    while (got < pool.bytes.size()) {
      ssize_t r = getrandom(pool.bytes.data() + got, pool.bytes.size() - got, 0);
      if (r > 0) {
        got += static_cast<size_t>(r);
      } else if (r < 0 && errno != EINTR) {
        return false;
      }
    }
    pool.used = 0;
  }
  std::memcpy(out, pool.bytes.data() + pool.used, n);
  pool.used += n;
  return true;
}

}  // namespace

Unid NewUnid() {
  // The time first, then random bytes: identities made one after another sort after each
  // other, so that a batch of new notes adds to the end of the identity index instead of
  // rewriting pages all over it.
  static std::atomic<uint64_t> last{0};
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t now = static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
  uint64_t prev = last.load();
  while (!last.compare_exchange_weak(prev, std::max(now, prev + 1))) {
  }
  now = std::max(now, prev + 1);
  Unid u{};
  for (int i = 0; i < 8; ++i) u[i] = static_cast<uint8_t>(now >> (56 - 8 * i));  // big-endian
  if (!RandomBytes(u.data() + 8, 8)) {
    // No kernel randomness: the process and a counter still give distinct values.
    static std::atomic<uint64_t> counter{0};
    tw::put_u64(u.data() + 8, (static_cast<uint64_t>(getpid()) << 32) | ++counter);
  }
  if (std::all_of(u.begin(), u.end(), [](uint8_t b) { return b == 0; })) u[0] = 1;
  return u;
}

std::string EncodeStoredTime(const GVTIMEDATE& t) {
  std::string out(8, '\0');
  tw::put_u32(out.data(), t.ticks);
  tw::put_u32(out.data() + 4, t.date);
  return out;
}

GVTIMEDATE DecodeStoredTime(std::string_view bytes) {
  GVTIMEDATE t{};
  if (bytes.size() >= 8) {
    t.ticks = tw::get_u32(bytes.data());
    t.date = tw::get_u32(bytes.data() + 4);
  }
  return t;
}

// ---------------------------------------------------------------- handles -----------------

DbHandle::DbHandle(std::unique_ptr<Database> db, DbPath path)
    : db_(std::move(db)), path_(std::move(path)) {}

DbHandle::~DbHandle() {
  (void)db_->FlushBulk();
  // The last connection of this process to the file folds the log back into the file; other
  // processes may still hold it, so only a passive checkpoint.
  std::string file = db_->file();
  bool others = AnyHandle<DbHandle>([&](DbHandle& h) { return h.db().file() == file; });
  if (!others && !db_->read_only() && db_->pg() == nullptr)
    sqlite3_wal_checkpoint_v2(db_->sql(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

Database* FindDatabase(GVDB db) {
  DbHandle* h = Find<DbHandle>(db);
  return h ? &h->db() : nullptr;
}

uint32_t OpenDatabase(const DbPath& path, GVDB& out) {
  std::unique_ptr<Database> db;
  if (uint32_t st = Database::OpenAt(path, false, BusyTimeoutMs(), db)) return st;
  db->set_name(path.Name());
  Database* raw = db.get();
  GVDB h = 0;
  if (uint32_t st = AddHandle(std::make_unique<DbHandle>(std::move(db), path), 0, h)) return st;
  raw->set_handle(h);
  out = h;
  return 0;
}

uint32_t StampNewDatabase(Database& db, bool setTitle, std::string_view title) {
  Unid id = NewUnid();
  if (uint32_t st = db.SetMetaBlob("identity", id.data(), id.size())) return st;
  GVTIMEDATE now = CurrentTime();
  std::string created = EncodeStoredTime(now);
  if (uint32_t st = db.SetMetaBlob("created", created.data(), created.size())) return st;
  if (setTitle)
    if (uint32_t st = db.SetMetaText("title", title)) return st;
  return 0;
}

uint32_t TakeTemplate(Txn& txn, const DbPath& templ, std::string_view title, uint32_t options,
                      bool inherit) {
  Database& db = txn.db();
  if (uint32_t st = StampNewDatabase(db, true, title)) return st;
  if (uint32_t st = db.SetMetaText("template", templ.Name())) return st;
  if (uint32_t st = db.SetMeta("inherit", inherit ? 1 : 0)) return st;
  if (uint32_t st = db.SetMeta("is_template", 0)) return st;
  // Temporary views belong to the template's users, not to its design; documents come
  // along only when asked for.
  if (uint32_t st = db.Exec(
          "DELETE FROM view_entry WHERE view IN (SELECT view FROM view_def WHERE style = 2);"
          "DELETE FROM note WHERE id IN (SELECT view FROM view_def WHERE style = 2);"))
    return st;
  if ((options & GVCREATE_DOCUMENTS) == 0) {
    if (uint32_t st =
            db.Exec("DELETE FROM view_entry WHERE note IN (SELECT id FROM note WHERE class = 1);"
                    "DELETE FROM fulltext WHERE rowid >> 32 IN "
                    "(SELECT id FROM note WHERE class = 1);"
                    "DELETE FROM note WHERE class = 1;"))
      return st;
  }
  return txn.BumpDesignSeq();
}

namespace {

// Makes a database that make writes at the file it is given: its own place when PostgreSQL
// holds it, else a temporary file beside target, put in place once complete.
[[nodiscard]] uint32_t MakeAcross(
    const DbPath& target,
    const std::function<uint32_t(const std::string&, std::unique_ptr<Database>&)>& make) {
  std::unique_ptr<Database> made;
  if (!target.pg.empty()) return make(target.path, made);
  if (access(target.path.c_str(), F_OK) == 0) return Fail(GVERR_EXISTS, target.Name());
  if (!MakeParent(target)) return Fail(GVERR_FILE, target.Name());
  TempFile temp(TempPathFor(target.path));
  if (uint32_t st = make(temp.path(), made)) return st;
  made.reset();
  // A new database is its creator's alone: it may hold passwords.
  return temp.Place(target.path, kPrivateFile);
}

}  // namespace

uint32_t CreateDatabase(const DbPath& target, std::string_view title, const DbPath* templ,
                        uint32_t options, bool inherit) {
  if (!target.pg.empty() || (templ != nullptr && !templ->pg.empty())) {
    return MakeAcross(target, [&](const std::string& file, std::unique_ptr<Database>& made) {
      return CreateAcross(target, title, templ, options, inherit, file, made);
    });
  }
  if (access(target.path.c_str(), F_OK) == 0) return Fail(GVERR_EXISTS, target.Name());
  std::unique_ptr<Database> source;
  if (templ != nullptr) {
    if (uint32_t st = Database::Open(templ->path, true, BusyTimeoutMs(), source)) return st;
  }
  if (!MakeParent(target)) return Fail(GVERR_FILE, target.Name());
  TempFile temp(TempPathFor(target.path));
  std::string name = BaseName(target.file);
  if (source == nullptr) {
    std::unique_ptr<Database> db;
    if (uint32_t st =
            Database::Create(temp.path(), title.empty() ? name : title, BusyTimeoutMs(), db))
      return st;
  } else {
    if (uint32_t st = BackupInto(*source, temp.path())) return st;
    std::string templateTitle;
    if (uint32_t st = source->MetaText("title", templateTitle)) return st;
    source.reset();
    std::unique_ptr<Database> db;
    if (uint32_t st = Database::Open(temp.path(), false, BusyTimeoutMs(), db)) return st;
    Txn txn(*db);
    if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
    std::string_view newTitle = !title.empty()           ? title
                                : !templateTitle.empty() ? std::string_view(templateTitle)
                                                         : std::string_view(name);
    if (uint32_t st = TakeTemplate(txn, *templ, newTitle, options, inherit)) return st;
    if (uint32_t st = txn.Commit()) return st;
  }
  // A new database is its creator's alone: it may hold passwords.
  return temp.Place(target.path, kPrivateFile);
}

uint32_t CopyDatabase(const DbPath& source, const DbPath& dest, bool setTitle,
                      std::string_view title, uint32_t sizeLimitMb) {
  if (!source.pg.empty() || !dest.pg.empty()) {
    return MakeAcross(dest, [&](const std::string& file, std::unique_ptr<Database>& made) {
      return CopyAcross(source, dest, setTitle, title, sizeLimitMb, file, made);
    });
  }
  if (access(dest.path.c_str(), F_OK) == 0) return Fail(GVERR_EXISTS, dest.Name());
  std::unique_ptr<Database> src;
  if (uint32_t st = Database::Open(source.path, true, BusyTimeoutMs(), src)) return st;
  if (sizeLimitMb != 0 && sizeLimitMb != 0x7FFF) {
    // Pages as the database holds them now, the log included.
    int64_t pages = 0, pageSize = 0;
    {
      Stmt count, size;
      if (uint32_t st = src->Prepare("PRAGMA page_count", count)) return st;
      if (uint32_t st = count.Step()) return st;
      pages = count.Int(0);
      if (uint32_t st = src->Prepare("PRAGMA page_size", size)) return st;
      if (uint32_t st = size.Step()) return st;
      pageSize = size.Int(0);
    }
    if (pages * pageSize > int64_t{sizeLimitMb} * 1024 * 1024)
      return Fail(GVERR_TOO_BIG, source.Name() + ": above the size limit");
  }
  struct stat from;
  if (stat(source.path.c_str(), &from) != 0) return Fail(GVERR_NO_DATABASE, source.Name());
  if (!MakeParent(dest)) return Fail(GVERR_FILE, dest.Name());
  TempFile temp(TempPathFor(dest.path));
  if (uint32_t st = BackupInto(*src, temp.path())) return st;
  src.reset();
  {
    std::unique_ptr<Database> db;
    if (uint32_t st = Database::Open(temp.path(), false, BusyTimeoutMs(), db)) return st;
    Txn txn(*db);
    if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
    if (uint32_t st = StampNewDatabase(*db, setTitle, title)) return st;
    if (uint32_t st = txn.Commit()) return st;
  }
  // A copy (a back-up) is readable by whoever may read the original, nobody else.
  return temp.Place(dest.path, from.st_mode & 0777);
}

namespace {

// Whether a handle of this process has the file of st open, under whatever name.
bool OpenInProcess(const struct stat& st) {
  return AnyHandle<DbHandle>([&](DbHandle& h) {
    struct stat other;
    return stat(h.db().file().c_str(), &other) == 0 && other.st_dev == st.st_dev &&
           other.st_ino == st.st_ino;
  });
}

// Whether a handle of this process has the database of path (held in PostgreSQL) open.
bool OpenInProcess(const DbPath& path) {
  return AnyHandle<DbHandle>(
      [&](DbHandle& h) { return h.path().pg == path.pg && h.path().file == path.file; });
}

// A database of path that may be deleted or renamed: it exists, is ours and is not open in
// this process. For a rename (fold) it is opened for writing, so that closing it folds its
// log into the file and removes the log: the log files keep the old name.
[[nodiscard]] uint32_t Closed(const DbPath& path, bool fold = false) {
  struct stat st;
  if (stat(path.path.c_str(), &st) != 0) return Fail(GVERR_NO_DATABASE, path.Name());
  if (OpenInProcess(st)) return Fail(GVERR_DATABASE_IN_USE, path.Name());
  std::unique_ptr<Database> check;
  return Database::Open(path.path, !fold, BusyTimeoutMs(), check);
}

}  // namespace

uint32_t DeleteDatabase(const DbPath& path) {
  if (!path.pg.empty()) {
    if (OpenInProcess(path)) return Fail(GVERR_DATABASE_IN_USE, path.Name());
    return PgDelete(path);
  }
  if (uint32_t s = Closed(path)) return s;
  if (unlink(path.path.c_str()) != 0) return Fail(GVERR_FILE, path.Name() + ": " + strerror(errno));
  unlink((path.path + "-wal").c_str());
  unlink((path.path + "-shm").c_str());
  return 0;
}

uint32_t RenameDatabase(const DbPath& from, const DbPath& to, bool replace) {
  if (!from.pg.empty()) {
    if (OpenInProcess(from)) return Fail(GVERR_DATABASE_IN_USE, from.Name());
    // Only a database that is replaced must be closed.
    if (replace && OpenInProcess(to)) return Fail(GVERR_DATABASE_IN_USE, to.Name());
    return PgRename(from, to, replace);
  }
  if (uint32_t s = Closed(from, true)) return s;
  if (from.path == to.path) return 0;
  if (access(to.path.c_str(), F_OK) == 0) {
    if (!replace) return Fail(GVERR_EXISTS, to.Name());
    // Only our own files are replaced; the old one's log must not be read with the new file.
    if (uint32_t s = Closed(to)) return s;
    unlink((to.path + "-wal").c_str());
    unlink((to.path + "-shm").c_str());
  }
  if (!MakeParent(to)) return Fail(GVERR_FILE, to.Name());
  if (replace) {
    if (rename(from.path.c_str(), to.path.c_str()) != 0)
      return Fail(GVERR_FILE, to.Name() + ": " + strerror(errno));
    return 0;
  }
  // Linked, then unlinked: a database made meanwhile under the new name is never replaced.
  if (link(from.path.c_str(), to.path.c_str()) != 0) {
    if (errno == EEXIST) return Fail(GVERR_EXISTS, to.Name());
    return Fail(GVERR_FILE, to.Name() + ": " + strerror(errno));
  }
  unlink(from.path.c_str());
  return 0;
}

uint32_t ListDatabases(const std::string& serverDir, const std::string& subdir,
                       std::vector<ListedDatabase>& out) {
  namespace fs = std::filesystem;
  // Files skipped as not ours are no failure of the listing.
  LastError saved = GetLastError();
  struct Restore {
    LastError& e;
    ~Restore() { RestoreLastError(std::move(e)); }
  } restore{saved};
  std::vector<ListedDatabase> found;
  std::string base = serverDir;
  if (!base.empty() && base.back() == '/') base.pop_back();
  std::string start = subdir.empty() ? base : base + "/" + subdir;
  std::error_code ec;
  if (!fs::is_directory(start, ec)) return Fail(GVERR_NO_ENTRY, start);
  fs::recursive_directory_iterator it(start, fs::directory_options::skip_permission_denied, ec);
  if (ec) return Fail(GVERR_FILE, start + ": " + ec.message());
  for (fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::directory_entry& e = *it;
    std::error_code fe;
    if (!e.is_regular_file(fe)) continue;
    std::string file = e.path().filename().string();
    if (file.empty() || file[0] == '.') continue;
    auto endsWith = [&](std::string_view tail) {
      return file.size() >= tail.size() &&
             file.compare(file.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith("-wal") || endsWith("-shm") || endsWith("-journal")) continue;
    std::string path = e.path().string();
    char magic[16] = {};
    {
      std::ifstream in(path, std::ios::binary);
      if (!in.read(magic, sizeof magic)) continue;
    }
    if (std::memcmp(magic, "SQLite format 3", 16) != 0) continue;
    std::unique_ptr<Database> db;
    if (Database::Open(path, true, BusyTimeoutMs(), db) != 0) continue;
    ListedDatabase d;
    d.name = path.substr(base.size() + 1);
    if (d.name.size() >= GV_PATH_SIZE) continue;
    int64_t tmpl = 0;
    if (db->MetaText("title", d.title) != 0 || db->MetaInt("is_template", 0, tmpl) != 0) continue;
    d.is_template = tmpl != 0;
    found.push_back(std::move(d));
  }
  std::sort(found.begin(), found.end(),
            [](const ListedDatabase& a, const ListedDatabase& b) { return a.name < b.name; });
  out = std::move(found);
  return 0;
}

}  // namespace plexa
