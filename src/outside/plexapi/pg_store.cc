// Databases held in PostgreSQL. Each database of such a server is a schema of the server's
// PostgreSQL database ("plexa_<n>"), listed with its name in the catalogue table
// plexa.catalog; a database is ready (listed, opened) only once the transaction that made
// or copied it committed, so a failed creation leaves nothing anybody sees.
#include "pg_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "database.h"
#include "paths.h"
#include "session.h"
#include "store.h"

namespace plexa {
namespace {

// Parameter and column types as PostgreSQL numbers them (pg_type.oid).
constexpr unsigned kBoolOid = 16;
constexpr unsigned kByteaOid = 17;
constexpr unsigned kInt8Oid = 20;
constexpr unsigned kInt2Oid = 21;
constexpr unsigned kInt4Oid = 23;

// The layout of a database. Texts are kept as bytes: SQLite keeps whatever bytes a caller
// gives (names in any character set) and sorts them by their bytes; note ids are given by
// the store, never by the engine; meta values are bytes too (integers as their decimal
// digits), since one column holds integers, texts and identities. Only the full-text rows
// are PostgreSQL texts, made valid UTF-8 for it. Their terms keep a position free between
// two texts of a row (list entries, paragraphs), so that no phrase matches across them: a
// lexeme no text can hold (a space) is put there and taken out again, its position staying
// empty.
constexpr const char* kPgSchema = R"sql(
CREATE TABLE meta(key bytea PRIMARY KEY, value bytea);
CREATE TABLE note(id bigint PRIMARY KEY, unid bytea NOT NULL UNIQUE, class bigint NOT NULL,
  form_key bytea, design_key bytea, parent bytea,
  created bytea NOT NULL, modified bytea NOT NULL, seq bigint NOT NULL,
  items bytea NOT NULL DEFAULT ''::bytea, parts bigint NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX note_design ON note(class, design_key) WHERE design_key IS NOT NULL;
CREATE INDEX note_form ON note(form_key);
CREATE INDEX note_parent ON note(parent);
CREATE TABLE item_part(note bigint NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord bigint NOT NULL, name_key bytea NOT NULL, items bytea NOT NULL,
  PRIMARY KEY(note, name_key, ord));
CREATE TABLE attachment(note bigint NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  name bytea NOT NULL, data bytea NOT NULL, size bigint NOT NULL,
  modified bytea NOT NULL, PRIMARY KEY(note, name));
CREATE TABLE form_field(form bigint NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord bigint NOT NULL, name bytea NOT NULL, name_key bytea NOT NULL,
  type bigint NOT NULL, flags bigint NOT NULL, list_flags bigint NOT NULL, head bytea NOT NULL,
  default_formula bytea, PRIMARY KEY(form, ord));
CREATE TABLE form_def(form bigint PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  design bytea NOT NULL, body bytea NOT NULL);
CREATE TABLE view_def(view bigint PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  style bigint, flags bigint, selection_kind bigint, display bytea, selection bytea,
  maker_pid bigint, maker_token bytea);
CREATE TABLE view_column(view bigint NOT NULL REFERENCES note(id) ON DELETE CASCADE,
  ord bigint NOT NULL, kind bigint NOT NULL, formula bytea NOT NULL, title bytea,
  record bytea NOT NULL, PRIMARY KEY(view, ord));
CREATE TABLE view_entry(view bigint NOT NULL, sortkey bytea NOT NULL, note bigint NOT NULL,
  dup bigint NOT NULL, cells bytea NOT NULL, PRIMARY KEY(view, sortkey, note, dup));
CREATE INDEX view_entry_note ON view_entry(note);
CREATE TABLE agent_def(agent bigint PRIMARY KEY REFERENCES note(id) ON DELETE CASCADE,
  kind bigint, flags bigint, selection bytea, action bytea, last_run bytea, last_count bigint);
CREATE TABLE acl(name_key bytea PRIMARY KEY, name bytea, access bigint,
  flags bigint);
CREATE FUNCTION fulltext_terms(body text) RETURNS tsvector LANGUAGE plpgsql IMMUTABLE AS $f$
DECLARE
  terms tsvector := '';
  part text;
BEGIN
  FOREACH part IN ARRAY string_to_array(body, E'\uE000') LOOP
    terms := terms || to_tsvector('simple', part) || $t$' ':1$t$::tsvector;
  END LOOP;
  RETURN ts_delete(terms, ' ');
END
$f$;
CREATE TABLE fulltext(rowid bigint PRIMARY KEY, body text NOT NULL,
  terms tsvector GENERATED ALWAYS AS (fulltext_terms(body)) STORED);
CREATE INDEX fulltext_terms ON fulltext USING gin(terms);
)sql";

// The catalogue, made by the first creation on a server (under a lock, since two servers
// may create their first databases at once).
constexpr const char* kCatalog =
    "SELECT pg_advisory_xact_lock(7227060001);"
    "CREATE SCHEMA IF NOT EXISTS plexa;"
    "CREATE TABLE IF NOT EXISTS plexa.catalog(file text COLLATE \"C\" PRIMARY KEY,"
    " schema_name text NOT NULL UNIQUE, ready boolean NOT NULL DEFAULT false);"
    "CREATE SEQUENCE IF NOT EXISTS plexa.catalog_seq;";

// The conflict target of each table that SQLite's INSERT OR REPLACE writes to.
struct Conflict {
  std::string_view table;
  std::string_view key;
};
constexpr Conflict kConflicts[] = {{"meta", "key"},
                                   {"acl", "name_key"},
                                   {"attachment", "note, name"},
                                   {"view_entry", "view, sortkey, note, dup"},
                                   {"fulltext", "rowid"}};

// An integer of a binary result: big-endian, size bytes.
int64_t BigEndian(const uint8_t* p, int size) {
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v = (v << 8) | p[i];
  // Sign-extended from its width.
  int shift = 64 - 8 * size;
  return shift > 0 ? static_cast<int64_t>(v << shift) >> shift : static_cast<int64_t>(v);
}

// bytes as a text PostgreSQL takes: what is not UTF-8 (and a zero byte) becomes U+FFFD.
std::string ValidText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    auto b = static_cast<unsigned char>(bytes[i]);
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    bool ok =
        n != 0 && b != 0 && i + n <= bytes.size() && !(n == 2 && b < 0xC2) && !(n == 4 && b > 0xF4);
    for (size_t k = 1; ok && k < n; ++k)
      ok = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    if (ok && n == 3) {
      auto c = static_cast<unsigned char>(bytes[i + 1]);
      ok = !(b == 0xE0 && c < 0xA0) && !(b == 0xED && c >= 0xA0);  // overlong, surrogates
    }
    if (ok && n == 4) {
      auto c = static_cast<unsigned char>(bytes[i + 1]);
      ok = !(b == 0xF0 && c < 0x90) && !(b == 0xF4 && c >= 0x90);
    }
    if (ok) {
      out.append(bytes.data() + i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Replaces every whole word `word` of text by with.
std::string ReplaceWord(std::string_view text, std::string_view word, std::string_view with) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, word.size(), word) == 0 && (i == 0 || !IsWordChar(text[i - 1])) &&
        (i + word.size() == text.size() || !IsWordChar(text[i + word.size()]))) {
      out += with;
      i += word.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// INSERT OR REPLACE INTO t(a, b) VALUES(...) as an insert that updates the row its key
// already names.
std::string Upsert(std::string sql) {
  constexpr std::string_view kHead = "INSERT OR REPLACE INTO ";
  size_t at = sql.find(kHead);
  if (at == std::string::npos) return sql;
  sql.replace(at, kHead.size(), "INSERT INTO ");
  size_t tableAt = at + std::string_view("INSERT INTO ").size();
  size_t open = sql.find('(', tableAt);
  size_t close = sql.find(')', open);
  if (open == std::string::npos || close == std::string::npos) return sql;
  std::string table = sql.substr(tableAt, open - tableAt);
  while (!table.empty() && table.back() == ' ') table.pop_back();
  const Conflict* conflict = nullptr;
  for (const Conflict& c : kConflicts)
    if (c.table == table) conflict = &c;
  if (conflict == nullptr) return sql;
  std::string update;
  std::string_view cols(sql.data() + open + 1, close - open - 1);
  while (!cols.empty()) {
    size_t comma = cols.find(',');
    std::string_view col = cols.substr(0, comma);
    while (!col.empty() && col.front() == ' ') col.remove_prefix(1);
    while (!col.empty() && col.back() == ' ') col.remove_suffix(1);
    bool key = false;
    for (std::string_view k = conflict->key; !k.empty();) {
      size_t kc = k.find(", ");
      if (k.substr(0, kc) == col) key = true;
      k = kc == std::string_view::npos ? std::string_view() : k.substr(kc + 2);
    }
    if (!key) {
      if (!update.empty()) update += ", ";
      update += std::string(col) + " = EXCLUDED." + std::string(col);
    }
    cols = comma == std::string_view::npos ? std::string_view() : cols.substr(comma + 1);
  }
  std::string tail = " ON CONFLICT (" + std::string(conflict->key) + ") DO ";
  tail += update.empty() ? "NOTHING" : "UPDATE SET " + update;
  size_t end = sql.size();
  while (end > 0 && (sql[end - 1] == ';' || sql[end - 1] == ' ')) --end;
  sql.insert(end, tail);
  return sql;
}

// A counter of meta (its bytes are decimal digits) read and written as a number.
std::string MetaArithmetic(std::string sql) {
  constexpr std::string_view kHead = "UPDATE meta SET value = ";
  if (sql.compare(0, kHead.size(), kHead) != 0) return sql;
  size_t where = sql.find(" WHERE ");
  if (where == std::string::npos) return sql;
  const std::string number = "convert_from(value, 'UTF8')::bigint";
  std::string expr = ReplaceWord(sql.substr(kHead.size(), where - kHead.size()), "value", number);
  std::string rest = ReplaceWord(sql.substr(where), "value", number);
  return std::string(kHead) + "convert_to((" + expr + ")::text, 'UTF8')" + rest;
}

// ?NNN as $NNN, a bare ? as the next number (as SQLite numbers them); quoted texts kept.
std::string Placeholders(std::string_view sql) {
  std::string out;
  int highest = 0;
  bool quoted = false;
  for (size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (c == '\'') quoted = !quoted;
    if (quoted || c != '?') {
      out += c;
      continue;
    }
    size_t j = i + 1;
    while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
    int n = j > i + 1 ? std::stoi(std::string(sql.substr(i + 1, j - i - 1))) : highest + 1;
    highest = std::max(highest, n);
    out += '$' + std::to_string(n);
    i = j - 1;
  }
  return out;
}

std::string Trimmed(const char* text) {
  std::string s = text != nullptr ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

void Quiet(void*, const char*) {}

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultFree>;

bool Succeeded(PGresult* r) {
  ExecStatusType s = PQresultStatus(r);
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// A quoted identifier.
std::string Ident(std::string_view name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// Runs sql with text parameters on a connection without a database; rows in out.
[[nodiscard]] uint32_t Run(PgConn& conn, const std::string& sql,
                           const std::vector<std::string>& params, ResultPtr* out = nullptr) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  ResultPtr r(PQexecParams(conn.raw(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                           values.data(), nullptr, nullptr, 0));
  if (!Succeeded(r.get())) return conn.Status(r.get());
  if (out != nullptr) *out = std::move(r);
  return 0;
}

// Whether a failure is the catalogue's absence (nothing was made on the server).
bool NoCatalog(PgConn& conn) {
  ResultPtr r(PQexec(conn.raw(), "SELECT to_regclass('plexa.catalog') IS NULL"));
  return Succeeded(r.get()) && PQntuples(r.get()) == 1 && PQgetvalue(r.get(), 0, 0)[0] == 't';
}

// The schema of the ready database file on the server of conn ("" when there is none).
[[nodiscard]] uint32_t SchemaOf(PgConn& conn, const std::string& file, std::string& schema) {
  schema.clear();
  ResultPtr r;
  if (uint32_t st =
          Run(conn, "SELECT schema_name FROM plexa.catalog WHERE file = $1 AND ready", {file}, &r))
    return NoCatalog(conn) ? 0 : st;
  if (PQntuples(r.get()) > 0) schema = PQgetvalue(r.get(), 0, 0);
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- translation -------------

std::string TranslateSql(std::string_view sql) {
  std::string s(sql);
  for (size_t at = s.find(" INDEXED BY "); at != std::string::npos; at = s.find(" INDEXED BY ")) {
    size_t end = at + std::string_view(" INDEXED BY ").size();
    while (end < s.size() && IsWordChar(s[end])) ++end;
    s.erase(at, end - at);
  }
  s = ReplaceAll(std::move(s), "fulltext MATCH ?", "terms @@ phraseto_tsquery('simple', ?)");
  s = Upsert(std::move(s));
  s = MetaArithmetic(std::move(s));
  return Placeholders(s);
}

// ---------------------------------------------------------------- statements --------------

PgStmt::PgStmt(PgConn& conn, std::string name, std::vector<unsigned> types)
    : conn_(conn), name_(std::move(name)), types_(std::move(types)) {
  values_.resize(types_.size());
  null_.assign(types_.size(), 1);
  formats_.assign(types_.size(), 0);
}

PgStmt::~PgStmt() {
  Reset();
}

void PgStmt::Reset() {
  if (result_ != nullptr) PQclear(result_);
  result_ = nullptr;
  row_ = -1;
  null_.assign(types_.size(), 1);
}

uint32_t PgStmt::Bind(int index, int64_t value) {
  if (index < 1 || static_cast<size_t>(index) > types_.size()) return GVERR_INVALID_ARGUMENT;
  // As text: the server reads it as whatever the parameter is (a meta value's digits).
  values_[index - 1] = std::to_string(value);
  null_[index - 1] = 0;
  formats_[index - 1] = 0;
  return 0;
}

uint32_t PgStmt::BindBytes(int index, std::string_view bytes) {
  if (index < 1 || static_cast<size_t>(index) > types_.size()) return GVERR_INVALID_ARGUMENT;
  if (bytes.size() > 0x3FFFFFFF) return Fail(GVERR_TOO_BIG, "a value above 1 GB");
  bool binary = types_[index - 1] == kByteaOid;
  if (binary)
    values_[index - 1].assign(bytes.data(), bytes.size());
  else
    values_[index - 1] = ValidText(bytes);
  null_[index - 1] = 0;
  formats_[index - 1] = binary ? 1 : 0;
  return 0;
}

uint32_t PgStmt::BindNull(int index) {
  if (index < 1 || static_cast<size_t>(index) > types_.size()) return GVERR_INVALID_ARGUMENT;
  null_[index - 1] = 1;
  return 0;
}

void PgStmt::Params(std::vector<const char*>& values, std::vector<int>& lengths) const {
  size_t n = types_.size();
  values.resize(n);
  lengths.resize(n);
  for (size_t i = 0; i < n; ++i) {
    values[i] = null_[i] ? nullptr : values_[i].data();
    lengths[i] = static_cast<int>(values_[i].size());
  }
}

uint32_t PgStmt::Step(bool* row) {
  if (row != nullptr) *row = false;
  if (result_ == nullptr) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    Params(values, lengths);
    PGresult* r = nullptr;
    if (uint32_t st = conn_.Execute(name_.c_str(), static_cast<int>(values.size()), values.data(),
                                    lengths.data(), formats_.data(), r))
      return st;
    const char* changed = PQcmdTuples(r);
    conn_.set_changes(changed != nullptr && *changed != '\0' ? std::atoll(changed) : 0);
    result_ = r;
    row_ = 0;
  } else if (row_ < PQntuples(result_)) {
    ++row_;
  }
  if (row != nullptr) *row = row_ < PQntuples(result_);
  return 0;
}

uint32_t PgStmt::RunUnwaited() {
  if (!conn_.in_transaction()) {
    for (bool row = true; row;)
      if (uint32_t st = Step(&row)) return st;
    return 0;
  }
  std::vector<const char*> values;
  std::vector<int> lengths;
  Params(values, lengths);
  return conn_.Send(name_.c_str(), static_cast<int>(values.size()), values.data(), lengths.data(),
                    formats_.data());
}

int64_t PgStmt::Int(int column) const {
  if (result_ == nullptr || row_ >= PQntuples(result_) || PQgetisnull(result_, row_, column))
    return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(PQgetvalue(result_, row_, column));
  int len = PQgetlength(result_, row_, column);
  switch (PQftype(result_, column)) {
    case kInt8Oid:
    case kInt4Oid:
    case kInt2Oid:
      return len >= 1 && len <= 8 ? BigEndian(p, len) : 0;
    case kBoolOid:
      return len == 1 && p[0] != 0;
    default: {
      // Digits, as meta holds its counters (and as SQLite reads a text as a number).
      std::string digits(reinterpret_cast<const char*>(p), static_cast<size_t>(len));
      return std::strtoll(digits.c_str(), nullptr, 10);
    }
  }
}

std::string_view PgStmt::Bytes(int column) const {
  if (result_ == nullptr || row_ >= PQntuples(result_) || PQgetisnull(result_, row_, column))
    return {};
  return {PQgetvalue(result_, row_, column),
          static_cast<size_t>(PQgetlength(result_, row_, column))};
}

bool PgStmt::IsNull(int column) const {
  return result_ == nullptr || row_ >= PQntuples(result_) ||
         PQgetisnull(result_, row_, column) != 0;
}

// ---------------------------------------------------------------- connections -------------

PgConn::~PgConn() {
  stmts_.clear();
  if (conn_ != nullptr) PQfinish(conn_);
}

uint32_t PgConn::Connect(const std::string& conninfo, int busyMs, std::unique_ptr<PgConn>& out) {
  std::unique_ptr<PgConn> c(new PgConn);
  c->conn_ = PQconnectdb(conninfo.c_str());
  if (c->conn_ == nullptr) return GVERR_NO_MEMORY;
  if (PQstatus(c->conn_) != CONNECTION_OK)
    return Fail(GVERR_NO_SERVER, "PostgreSQL: " + Trimmed(PQerrorMessage(c->conn_)));
  // Item texts are UTF-8 and full-text rows are converted as such: a database of another
  // encoding would fail at its first such statement with a conversion error.
  const char* encoding = PQparameterStatus(c->conn_, "server_encoding");
  if (encoding == nullptr || std::string_view(encoding) != "UTF8")
    return Fail(GVERR_ENGINE, "PostgreSQL: the database's encoding is " +
                                  std::string(encoding != nullptr ? encoding : "unknown") +
                                  ", not UTF8");
  PQsetNoticeProcessor(c->conn_, Quiet, nullptr);
  c->busy_ms_ = std::max(busyMs, 1);
  if (uint32_t st = c->Setup()) return st;
  out = std::move(c);
  return 0;
}

uint32_t PgConn::Setup() {
  std::string setup = "SET lock_timeout = " + std::to_string(busy_ms_) +
                      "; SET client_encoding = 'UTF8'; SET standard_conforming_strings = on";
  if (!schema_setup_.empty()) setup += "; " + schema_setup_;
  ResultPtr r(PQexec(conn_, setup.c_str()));
  return Succeeded(r.get()) ? 0 : Status(r.get());
}

uint32_t PgConn::Listen(const std::string& conninfo, const std::string& schema) {
  // One counter per database of the process, shared by all its connections.
  static std::mutex mutex;
  static std::unordered_map<std::string, std::weak_ptr<std::atomic<uint64_t>>> counters;
  {
    std::lock_guard<std::mutex> lock(mutex);
    std::string key = conninfo + '\n' + schema;
    local_ = counters[key].lock();
    if (local_ == nullptr) {
      local_ = std::make_shared<std::atomic<uint64_t>>(0);
      counters[key] = local_;
    }
  }
  std::string listen = "LISTEN " + Ident(schema);
  notify_ = "NOTIFY " + Ident(schema);
  schema_setup_ += "; " + listen;
  return Exec(listen);
}

void PgConn::CountNotifications() {
  while (PGnotify* n = PQnotifies(conn_)) {
    ++notified_;
    PQfreemem(n);
  }
}

uint64_t PgConn::Token() {
  if (!notify_.empty() && PQstatus(conn_) == CONNECTION_OK) {
    // Whatever the server sent meanwhile, without waiting for anything.
    if (PQconsumeInput(conn_) != 0) CountNotifications();
  } else {
    ++lives_;
  }
  // A token of 0 is never current: the first look always reads.
  return 1 + notified_ + lives_ + (local_ != nullptr ? local_->load() : 0);
}

bool PgConn::Changed(SignalMark& mark) {
  uint64_t token = Token();
  auto now = std::chrono::steady_clock::now();
  if (token == mark.token && now - mark.at < kTrustSignal) return false;
  mark.token = token;
  mark.at = now;
  return true;
}

void PgConn::Mark(SignalMark& mark) {
  mark.token = Token();
  mark.at = std::chrono::steady_clock::now();
}

uint32_t PgConn::Revive() {
  // An unanswered reader's commit keeps the connection busy: its answer, once here, is read
  // first, so that a session the server ended meanwhile shows here, before anything new is
  // sent; the pipeline is left, so that the connection tells its idle state below. A
  // read-only transaction's end fails only with its session (the server's message may come
  // before libpq sees the connection close), and then the session is made anew. An answer
  // still on its way is not waited for (the session was there when the commit went): it is
  // read with the next statement's, in the same round trip.
  bool ended = false;
  if (txn_ != TxnState::kOpen) {
    if (!sent_.empty() && (PQconsumeInput(conn_) == 0 || PQisBusy(conn_) == 0))
      ended = Sync(nullptr) != 0;
    if (sent_.empty() && PQpipelineStatus(conn_) == PQ_PIPELINE_ON)
      ended = PQexitPipelineMode(conn_) == 0 || ended;
  }
  // A session that the server ended while it was idle (an administrator terminating it,
  // PostgreSQL stopping) has said so on the socket: read that before sending, so that the
  // statement goes over a new session instead of failing on the dead one. Nothing was sent
  // since the last result, so nothing is done twice. Inside a transaction the loss is the
  // transaction's, and the call that finds it fails.
  for (int reads = 0;
       reads < 4 && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE;
       ++reads) {
    pollfd ready{PQsocket(conn_), POLLIN, 0};
    if (::poll(&ready, 1, 0) != 1 || PQconsumeInput(conn_) == 0) break;
  }
  if (!ended && PQstatus(conn_) == CONNECTION_OK) return 0;
  // A transaction under way went with the connection: the rest of it must not run on a new
  // one (outside any transaction), so it fails until it is rolled back.
  if (txn_ == TxnState::kOpen) return Status(nullptr);
  for (const auto& [sql, list] : stmts_)
    for (const auto& s : list)
      if (s->busy) return Status(nullptr);
  stmts_.clear();
  writer_prepared_ = 0;
  // Nothing that was sent on the lost connection is answered any more, and notifications
  // sent to it are lost: marks taken before are stale.
  sent_.clear();
  preparing_.clear();
  ++lives_;
  PQreset(conn_);
  if (PQstatus(conn_) != CONNECTION_OK) return Status(nullptr);
  if (PQpipelineStatus(conn_) != PQ_PIPELINE_OFF) (void)PQexitPipelineMode(conn_);
  return Setup();
}

uint32_t PgConn::Lost() {
  // Nothing more comes on this connection: what was sent is not answered.
  sent_.clear();
  preparing_.clear();
  ++lives_;
  return Status(nullptr);
}

uint32_t PgConn::SendText(const std::string& sql, Sent kind) {
  if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_) == 0)
    return Status(nullptr);
  if (PQsendQueryParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1) == 0)
    return Lost();
  sent_.push_back(kind);
  return 0;
}

uint32_t PgConn::SendWriter(WriterStatement which, Sent kind) {
  static const char* const kNames[] = {"w_lock", "w_design_seq", "w_commit_seq"};
  static const std::string kTexts[] = {
      "SELECT 1 FROM meta WHERE key = 'commit_seq' FOR UPDATE",
      "SELECT value FROM meta WHERE key = 'design_seq'",
      TranslateSql("UPDATE meta SET value = value + 1 WHERE key = 'commit_seq' RETURNING value")};
  if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_) == 0)
    return Status(nullptr);
  const unsigned bit = 1u << which;
  if ((writer_prepared_ & bit) == 0 &&
      std::find(preparing_.begin(), preparing_.end(), which) == preparing_.end()) {
    if (PQsendPrepare(conn_, kNames[which], kTexts[which].c_str(), 0, nullptr) == 0) return Lost();
    sent_.push_back(Sent::kPrepared);
    preparing_.push_back(which);
  }
  if (PQsendQueryPrepared(conn_, kNames[which], 0, nullptr, nullptr, nullptr, 1) == 0)
    return Lost();
  sent_.push_back(kind);
  return 0;
}

uint32_t PgConn::SendBegin() {
  if (txn_ != TxnState::kPending) return 0;
  txn_ = TxnState::kOpen;
  // A writer takes the row of the commit counter first: writers of one database follow each
  // other as under SQLite's write lock, and each reads what the one before it committed.
  if (write_) {
    if (uint32_t st = SendText("BEGIN", Sent::kQuiet)) return st;
    if (uint32_t st = SendWriter(kLock, Sent::kQuiet)) return st;
    // A statement of its own, so that its snapshot is taken once the lock is held (it sees
    // a design change that the writer before committed).
    return SendWriter(kReadDesignSeq, Sent::kDesignSeq);
  }
  return SendText("BEGIN ISOLATION LEVEL REPEATABLE READ", Sent::kQuiet);
}

uint32_t PgConn::Sync(std::vector<PGresult*>* wanted) {
  if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) return 0;
  // What ends with a sync already (a reader's commit) is read as it is: another sync would
  // cost a round trip of its own.
  if (sent_.empty() || sent_.back() != Sent::kSync) {
    if (PQpipelineSync(conn_) == 0) return Lost();
    sent_.push_back(Sent::kSync);
  }
  uint32_t first = 0;
  while (!sent_.empty()) {
    Sent kind = sent_.front();
    sent_.pop_front();
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) {
      // Only a broken connection answers nothing.
      uint32_t st = Lost();
      return first != 0 ? first : st;
    }
    ExecStatusType status = PQresultStatus(r);
    if (kind == Sent::kSync) {
      PQclear(r);
      continue;
    }
    if (kind == Sent::kPrepared && !preparing_.empty()) {
      // Not prepared (skipped, or failed): prepared again with the next writer.
      if (status == PGRES_COMMAND_OK) writer_prepared_ |= 1u << preparing_.front();
      preparing_.pop_front();
    }
    // Each statement's answer ends with a null.
    if (PGresult* end = PQgetResult(conn_)) PQclear(end);
    if (status == PGRES_PIPELINE_ABORTED) {
      // Skipped after an earlier failure, which is the one answered.
      if (first == 0) first = failure_ != 0 ? failure_ : Fail(GVERR_ENGINE, "a statement failed");
    } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      uint32_t st = Status(r);
      if (first == 0) first = st;
      // Inside a transaction the failure is its commit's, whether or not it was waited for.
      if (kind != Sent::kIgnored && txn_ == TxnState::kOpen && failure_ == 0) failure_ = st;
    }
    if ((kind == Sent::kDesignSeq || kind == Sent::kCommitSeq) && status == PGRES_TUPLES_OK &&
        PQntuples(r) == 1 && txn_ == TxnState::kOpen) {
      // Digits as stored, or a number where the statement made one of them.
      std::string digits(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0)));
      char* end = nullptr;
      long long v = std::strtoll(digits.c_str(), &end, 10);
      bool read = !digits.empty() && end == digits.c_str() + digits.size() && v >= 0;
      if (PQftype(r, 0) == kInt8Oid) {
        read = digits.size() == 8;
        v = read ? BigEndian(reinterpret_cast<const uint8_t*>(digits.data()), 8) : -1;
        read = read && v >= 0;
      }
      if (read) (kind == Sent::kDesignSeq ? begin_design_seq_ : committed_seq_) = v;
    }
    if (kind == Sent::kWanted && wanted != nullptr && status != PGRES_PIPELINE_ABORTED)
      wanted->push_back(r);
    else
      PQclear(r);
  }
  CountNotifications();
  if (PQexitPipelineMode(conn_) == 0) return first != 0 ? first : Status(nullptr);
  return first;
}

uint32_t PgConn::Settle() {
  if (sent_.empty() && PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) return 0;
  // A reader's commit sent earlier is all that may be unread here: its answer no longer
  // matters, while a failure inside an open transaction stays for its commit.
  uint32_t st = Sync(nullptr);
  return txn_ == TxnState::kOpen ? st : 0;
}

void PgConn::Begin(bool write) {
  txn_ = TxnState::kPending;
  write_ = write;
  failure_ = 0;
  begin_design_seq_ = -1;
  committed_seq_ = -1;
}

bool PgConn::BeginDesignSeq(int64_t& out) const {
  if (txn_ != TxnState::kOpen || !write_ || begin_design_seq_ < 0) return false;
  out = begin_design_seq_;
  return true;
}

uint32_t PgConn::Commit(bool write) {
  if (txn_ == TxnState::kPending) {
    // Nothing was read or written: there is nothing to commit.
    txn_ = TxnState::kNone;
    return 0;
  }
  if (txn_ == TxnState::kNone) return GVERR_INVALID_ARGUMENT;
  if (failure_ != 0) {
    uint32_t st = failure_;
    Rollback();
    return st;
  }
  uint32_t st = 0;
  if (write) {
    st = SendWriter(kBumpCommitSeq, Sent::kCommitSeq);
    if (st == 0 && !notify_.empty()) st = SendText(notify_, Sent::kQuiet);
  }
  if (st == 0) st = SendText("COMMIT", write ? Sent::kWanted : Sent::kIgnored);
  if (st != 0) {
    Rollback();
    return st;
  }
  if (!write) {
    // The snapshot has been read: the answer to its end is read with the next statement.
    txn_ = TxnState::kNone;
    if (PQpipelineSync(conn_) == 0) return 0;
    sent_.push_back(Sent::kSync);
    if (PQflush(conn_) != 0) (void)Lost();
    return 0;
  }
  std::vector<PGresult*> wanted;
  st = Sync(&wanted);
  bool rolledBack = false;
  for (PGresult* r : wanted) {
    // COMMIT of a transaction that had failed answers ROLLBACK.
    rolledBack = rolledBack || std::strcmp(PQcmdStatus(r), "ROLLBACK") == 0;
    PQclear(r);
  }
  if (st == 0 && rolledBack) st = Fail(GVERR_ENGINE, "a statement of the transaction failed");
  if (st != 0) {
    Rollback();
    return st;
  }
  txn_ = TxnState::kNone;
  if (local_ != nullptr) local_->fetch_add(1);
  return 0;
}

void PgConn::Rollback() {
  TxnState was = std::exchange(txn_, TxnState::kNone);
  failure_ = 0;
  committed_seq_ = -1;
  if (was != TxnState::kOpen) return;
  (void)Sync(nullptr);
  // A connection that is gone has no transaction left to end.
  PGTransactionStatusType t = PQtransactionStatus(conn_);
  if (t == PQTRANS_INTRANS || t == PQTRANS_INERROR) ResultPtr(PQexec(conn_, "ROLLBACK"));
}

uint32_t PgConn::Execute(const char* name, int n, const char* const* values, const int* lengths,
                         const int* formats, PGresult*& out) {
  out = nullptr;
  if (txn_ == TxnState::kNone && sent_.empty() && PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) {
    PGresult* r = PQexecPrepared(conn_, name, n, values, lengths, formats, 1);
    CountNotifications();
    if (!Succeeded(r)) {
      uint32_t st = Status(r);
      PQclear(r);
      return st;
    }
    out = r;
    return 0;
  }
  if (uint32_t st = SendBegin()) return st;
  if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_) == 0)
    return Status(nullptr);
  if (PQsendQueryPrepared(conn_, name, n, values, lengths, formats, 1) == 0) return Lost();
  sent_.push_back(Sent::kWanted);
  std::vector<PGresult*> wanted;
  uint32_t st = Sync(&wanted);
  if (st == 0 && wanted.size() == 1) {
    out = wanted[0];
    return 0;
  }
  for (PGresult* r : wanted) PQclear(r);
  return st != 0 ? st : Fail(GVERR_ENGINE, "no result");
}

uint32_t PgConn::Send(const char* name, int n, const char* const* values, const int* lengths,
                      const int* formats) {
  if (uint32_t st = SendBegin()) return st;
  if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF && PQenterPipelineMode(conn_) == 0)
    return Status(nullptr);
  if (PQsendQueryPrepared(conn_, name, n, values, lengths, formats, 1) == 0) return Lost();
  sent_.push_back(Sent::kQuiet);
  return 0;
}

uint32_t PgConn::Status(PGresult* result) const {
  if (PQstatus(conn_) != CONNECTION_OK)
    return Fail(GVERR_NO_SERVER, "PostgreSQL: " + Trimmed(PQerrorMessage(conn_)));
  std::string text = Trimmed(result != nullptr ? PQresultErrorMessage(result) : nullptr);
  if (text.empty()) text = Trimmed(PQerrorMessage(conn_));
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string_view code = state != nullptr ? state : "";
  if (code == "23505") return Fail(GVERR_EXISTS, text);
  if (code == "40001" || code == "40P01" || code == "55P03" || code == "57014")
    return Fail(GVERR_BUSY, text);
  if (code == "53200") return Fail(GVERR_NO_MEMORY, text);
  if (code == "54000" || code == "53100") return Fail(GVERR_TOO_BIG, text);
  // A connection failure, or the server ending the session (a shutdown, a terminated
  // backend: the error may be read before the connection's end is).
  if (code.substr(0, 2) == "08" || code.substr(0, 3) == "57P")
    return Fail(GVERR_NO_SERVER, "PostgreSQL: " + text);
  return Fail(GVERR_ENGINE, text);
}

uint32_t PgConn::Exec(std::string_view sql) {
  if (uint32_t st = Revive()) return st;
  if (uint32_t st = SendBegin()) return st;
  if (uint32_t st = Settle()) return st;
  ResultPtr r(PQexec(conn_, TranslateSql(sql).c_str()));
  CountNotifications();
  if (!Succeeded(r.get())) return Status(r.get());
  // Back at the savepoint, a failure after it is undone with what it did.
  if (sql.compare(0, 12, "ROLLBACK TO ") == 0) failure_ = 0;
  const char* changed = PQcmdTuples(r.get());
  changes_ = changed != nullptr && *changed != '\0' ? std::atoll(changed) : 0;
  return 0;
}

uint32_t PgConn::Prepare(std::string_view sql, PgStmt*& out) {
  if (uint32_t st = Revive()) return st;
  auto it = stmts_.find(std::string(sql));
  if (it != stmts_.end()) {
    for (auto& s : it->second)
      if (!s->busy) {
        s->busy = true;
        out = s.get();
        return 0;
      }
  }
  if (uint32_t st = Settle()) return st;
  std::string name = "s" + std::to_string(++next_name_);
  std::string text = TranslateSql(sql);
  ResultPtr prepared(PQprepare(conn_, name.c_str(), text.c_str(), 0, nullptr));
  if (!Succeeded(prepared.get())) return Status(prepared.get());
  ResultPtr described(PQdescribePrepared(conn_, name.c_str()));
  if (!Succeeded(described.get())) return Status(described.get());
  std::vector<unsigned> types(static_cast<size_t>(PQnparams(described.get())));
  for (size_t i = 0; i < types.size(); ++i)
    types[i] = PQparamtype(described.get(), static_cast<int>(i));
  auto stmt = std::make_unique<PgStmt>(*this, std::move(name), std::move(types));
  stmt->busy = true;
  out = stmt.get();
  stmts_[std::string(sql)].push_back(std::move(stmt));
  return 0;
}

// ---------------------------------------------------------------- whole databases --------

uint32_t PgOpen(const DbPath& path, int busyMs, std::unique_ptr<PgConn>& out) {
  std::unique_ptr<PgConn> conn;
  if (uint32_t st = PgConn::Connect(path.pg, busyMs, conn)) return st;
  std::string schema;
  if (uint32_t st = SchemaOf(*conn, path.file, schema)) return st;
  if (schema.empty()) return Fail(GVERR_NO_DATABASE, path.Name());
  conn->set_schema_setup("SET search_path = " + Ident(schema));
  if (uint32_t st = conn->Exec("SET search_path = " + Ident(schema))) return st;
  if (uint32_t st = conn->Listen(path.pg, schema)) return st;
  out = std::move(conn);
  return 0;
}

uint32_t PgCreate(const DbPath& path, int busyMs, std::unique_ptr<PgConn>& out) {
  std::unique_ptr<PgConn> conn;
  if (uint32_t st = PgConn::Connect(path.pg, busyMs, conn)) return st;
  auto fail = [&](uint32_t st) {
    ResultPtr r(PQexec(conn->raw(), "ROLLBACK"));
    return st;
  };
  if (uint32_t st = conn->Exec("BEGIN")) return st;
  if (uint32_t st = conn->Exec(kCatalog)) return fail(st);
  ResultPtr r;
  // A creator holds a lock on the name for as long as its connection lives (the lock outlasts
  // the transactions): a name another creator still works on is taken, while a creation
  // that never finished (its process died) left a row that is not ready and a name that is
  // free again.
  if (uint32_t st =
          Run(*conn, "SELECT pg_try_advisory_lock(7227060, hashtext($1))", {path.file}, &r))
    return fail(st);
  if (PQgetvalue(r.get(), 0, 0)[0] != 't') return fail(Fail(GVERR_EXISTS, path.Name()));
  if (uint32_t st = Run(*conn, "SELECT schema_name, ready FROM plexa.catalog WHERE file = $1",
                        {path.file}, &r))
    return fail(st);
  if (PQntuples(r.get()) > 0) {
    if (PQgetvalue(r.get(), 0, 1)[0] == 't') return fail(Fail(GVERR_EXISTS, path.Name()));
    std::string stale = PQgetvalue(r.get(), 0, 0);
    if (uint32_t st = conn->Exec("DROP SCHEMA IF EXISTS " + Ident(stale) + " CASCADE"))
      return fail(st);
    if (uint32_t st = Run(*conn, "DELETE FROM plexa.catalog WHERE file = $1", {path.file}))
      return fail(st);
  }
  if (uint32_t st = Run(*conn, "SELECT 'plexa_' || nextval('plexa.catalog_seq')", {}, &r))
    return fail(st);
  std::string schema = PQgetvalue(r.get(), 0, 0);
  if (uint32_t st = Run(*conn, "INSERT INTO plexa.catalog(file, schema_name) VALUES($1, $2)",
                        {path.file, schema}))
    return fail(st);
  if (uint32_t st = conn->Exec("CREATE SCHEMA " + Ident(schema))) return fail(st);
  conn->set_schema_setup("SET search_path = " + Ident(schema));
  if (uint32_t st = conn->Exec("SET search_path = " + Ident(schema))) return fail(st);
  if (uint32_t st = conn->Exec(kPgSchema)) return fail(st);
  if (uint32_t st = conn->Exec("COMMIT")) return fail(st);
  if (uint32_t st = conn->Listen(path.pg, schema)) return st;
  out = std::move(conn);
  return 0;
}

uint32_t PgMarkReady(PgConn& conn) {
  return conn.Exec("UPDATE plexa.catalog SET ready = true WHERE schema_name = current_schema()");
}

uint32_t PgDelete(const DbPath& path) {
  std::unique_ptr<PgConn> conn;
  if (uint32_t st = PgConn::Connect(path.pg, BusyTimeoutMs(), conn)) return st;
  if (uint32_t st = conn->Exec("BEGIN")) return st;
  ResultPtr r;
  uint32_t st =
      Run(*conn, "DELETE FROM plexa.catalog WHERE file = $1 AND ready RETURNING schema_name",
          {path.file}, &r);
  if (st != 0) return NoCatalog(*conn) ? Fail(GVERR_NO_DATABASE, path.Name()) : st;
  if (PQntuples(r.get()) == 0) return Fail(GVERR_NO_DATABASE, path.Name());
  if (uint32_t s = conn->Exec("DROP SCHEMA " + Ident(PQgetvalue(r.get(), 0, 0)) + " CASCADE"))
    return s;
  return conn->Exec("COMMIT");
}

uint32_t PgRename(const DbPath& from, const DbPath& to, bool replace) {
  std::unique_ptr<PgConn> conn;
  if (uint32_t st = PgConn::Connect(from.pg, BusyTimeoutMs(), conn)) return st;
  if (uint32_t st = conn->Exec("BEGIN")) return st;
  ResultPtr r;
  if (uint32_t st = Run(*conn, "SELECT 1 FROM plexa.catalog WHERE file = $1 AND ready FOR UPDATE",
                        {from.file}, &r))
    return NoCatalog(*conn) ? Fail(GVERR_NO_DATABASE, from.Name()) : st;
  if (PQntuples(r.get()) == 0) return Fail(GVERR_NO_DATABASE, from.Name());
  if (from.file == to.file) return conn->Exec("COMMIT");
  if (uint32_t st = Run(*conn, "DELETE FROM plexa.catalog WHERE file = $1 RETURNING schema_name",
                        {to.file}, &r))
    return st;
  if (PQntuples(r.get()) > 0) {
    if (!replace) return Fail(GVERR_EXISTS, to.Name());
    if (uint32_t st = conn->Exec("DROP SCHEMA " + Ident(PQgetvalue(r.get(), 0, 0)) + " CASCADE"))
      return st;
  }
  if (uint32_t st =
          Run(*conn, "UPDATE plexa.catalog SET file = $2 WHERE file = $1", {from.file, to.file}))
    return st;
  return conn->Exec("COMMIT");
}

uint32_t PgList(const DbPath& server, const std::string& subdir, std::vector<ListedDatabase>& out) {
  std::unique_ptr<PgConn> conn;
  if (uint32_t st = PgConn::Connect(server.pg, BusyTimeoutMs(), conn)) return st;
  ResultPtr r;
  if (uint32_t st = Run(
          *conn, "SELECT file, schema_name FROM plexa.catalog WHERE ready ORDER BY file", {}, &r)) {
    if (!NoCatalog(*conn)) return st;
    out.clear();
    return 0;
  }
  std::vector<ListedDatabase> found;
  std::string prefix = subdir.empty() ? std::string() : subdir + "/";
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    std::string file = PQgetvalue(r.get(), i, 0);
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    std::string schema = Ident(PQgetvalue(r.get(), i, 1));
    ResultPtr meta(PQexecParams(
        conn->raw(),
        ("SELECT (SELECT value FROM " + schema + ".meta WHERE key = 'title'), (SELECT value FROM " +
         schema + ".meta WHERE key = 'is_template')")
            .c_str(),
        0, nullptr, nullptr, nullptr, nullptr, 1));
    if (!Succeeded(meta.get()) || PQntuples(meta.get()) != 1) continue;
    ListedDatabase d;
    d.name = file;
    d.title.assign(PQgetvalue(meta.get(), 0, 0),
                   static_cast<size_t>(PQgetlength(meta.get(), 0, 0)));
    d.is_template = std::atoll(std::string(PQgetvalue(meta.get(), 0, 1),
                                           static_cast<size_t>(PQgetlength(meta.get(), 0, 1)))
                                   .c_str()) != 0;
    found.push_back(std::move(d));
  }
  out = std::move(found);
  return 0;
}

bool PgResponds(const std::string& conninfo) {
  return PQping(conninfo.c_str()) == PQPING_OK;
}

}  // namespace plexa
