// Whole databases copied row by row, between any two stores (a file and a database held in
// PostgreSQL, or two of those): the paths a file-to-file copy cannot take through SQLite's
// backup. Creation from a template and the copy (the administrator's back-up) both end in one
// transaction of the new database, so a failure leaves no database anybody sees.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "database.h"
#include "pg_store.h"
#include "session.h"

namespace plexa {
namespace {

// The tables with their columns: 'i' integer, 't' text, 'b' bytes. Notes come first (the
// others refer to them); the full-text rows are rebuilt, never copied.
struct TableCopy {
  const char* name;
  const char* columns;
  const char* kinds;
};
constexpr TableCopy kTables[] = {
    {"note", "id, unid, class, form_key, design_key, parent, created, modified, seq, items, parts",
     "ibittbbbibi"},
    {"item_part", "note, ord, name_key, items", "iitb"},
    {"attachment", "note, name, data, size, modified", "itbib"},
    {"form_field", "form, ord, name, name_key, type, flags, list_flags, head, default_formula",
     "iittiiibt"},
    {"form_def", "form, design, body", "ibb"},
    {"view_def", "view, style, flags, selection_kind, display, selection, maker_pid, maker_token",
     "iiiibtit"},
    {"view_column", "view, ord, kind, formula, title, record", "iiittb"},
    {"view_entry", "view, sortkey, note, dup, cells", "ibiib"},
    {"agent_def", "agent, kind, flags, selection, action, last_run, last_count", "iiittbi"},
    {"acl", "name_key, name, access, flags", "ttii"},
};

// Meta values are typed by their key (PostgreSQL holds them all as bytes).
constexpr std::string_view kIntMeta[] = {"schema",    "is_template", "inherit",
                                         "next_note", "commit_seq",  "design_seq"};
constexpr std::string_view kTextMeta[] = {"title", "template"};

char MetaKind(std::string_view key) {
  for (std::string_view k : kIntMeta)
    if (k == key) return 'i';
  for (std::string_view k : kTextMeta)
    if (k == key) return 't';
  return 'b';
}

uint32_t BindAs(Stmt& st, int index, char kind, const Stmt& from, int column) {
  if (from.IsNull(column)) return st.BindNull(index);
  switch (kind) {
    case 'i':
      return st.Bind(index, from.Int(column));
    case 't':
      return st.Bind(index, from.Text(column));
    default: {
      std::string_view b = from.Blob(column);
      return st.BindBlob(index, b.data(), b.size());
    }
  }
}

// Copies every row of from (a read transaction) into to (a write transaction of an empty
// database); meta rows replace those to has.
[[nodiscard]] uint32_t CopyRows(Txn& from, Txn& to) {
  for (const TableCopy& t : kTables) {
    std::string insert = std::string("INSERT INTO ") + t.name + "(" + t.columns + ") VALUES(";
    for (size_t i = 0; t.kinds[i] != '\0'; ++i) insert += i == 0 ? "?" : ", ?";
    insert += ")";
    Stmt rows;
    if (uint32_t s = Query(from, std::string("SELECT ") + t.columns + " FROM " + t.name, rows))
      return s;
    if (uint32_t s = rows.ForEachRow([&](const Stmt& r) -> uint32_t {
          Stmt put;
          if (uint32_t e = to.Prepare(insert, put)) return e;
          for (int i = 0; t.kinds[i] != '\0'; ++i)
            if (uint32_t e = BindAs(put, i + 1, t.kinds[i], r, i)) return e;
          return put.Run();
        }))
      return s;
  }
  Stmt meta;
  if (uint32_t s = Query(from, "SELECT key, value FROM meta", meta)) return s;
  if (uint32_t s = meta.ForEachRow([&](const Stmt& r) -> uint32_t {
        Stmt put;
        if (uint32_t e = to.Prepare("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)", put))
          return e;
        if (uint32_t e = put.Bind(1, r.Text(0))) return e;
        if (uint32_t e = BindAs(put, 2, MetaKind(r.Text(0)), r, 1)) return e;
        return put.Run();
      }))
    return s;
  return RebuildFullText(to);
}

// The bytes a database takes in its store.
[[nodiscard]] uint32_t StoredSize(Database& db, const DbPath& path, int64_t& out) {
  if (db.pg() == nullptr) {
    struct stat st;
    out = stat(path.path.c_str(), &st) == 0 ? st.st_size : 0;
    return 0;
  }
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(db,
                            "SELECT COALESCE(SUM(pg_total_relation_size(c.oid)), 0)::bigint "
                            "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                            "WHERE n.nspname = current_schema() AND c.relkind = 'r'",
                            st, row))
    return s;
  out = row ? st.Int(0) : 0;
  return 0;
}

}  // namespace

uint32_t CreateAcross(const DbPath& target, std::string_view title, const DbPath* templ,
                      uint32_t options, bool inherit, const std::string& newFile,
                      std::unique_ptr<Database>& made) {
  std::unique_ptr<Database> source;
  std::string templateTitle;
  if (templ != nullptr) {
    if (uint32_t st = Database::OpenAt(*templ, true, BusyTimeoutMs(), source)) return st;
    if (uint32_t st = source->MetaText("title", templateTitle)) return st;
  }
  DbPath where = target;
  where.path = newFile;
  std::string name = target.file.substr(target.file.rfind('/') + 1);
  std::string_view newTitle = !title.empty()           ? title
                              : !templateTitle.empty() ? std::string_view(templateTitle)
                                                       : std::string_view(name);
  std::unique_ptr<Database> db;
  if (uint32_t st = Database::CreateAt(where, newTitle, BusyTimeoutMs(), false, db)) return st;
  Txn txn(*db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (source != nullptr) {
    Txn read(*source);
    if (uint32_t st = read.Begin(Txn::kRead)) return st;
    if (uint32_t st = CopyRows(read, txn)) return st;
    if (uint32_t st = read.Commit()) return st;
    source.reset();
    if (uint32_t st = TakeTemplate(txn, *templ, newTitle, options, inherit)) return st;
  }
  if (uint32_t st = db->MarkReady()) return st;
  if (uint32_t st = txn.Commit()) return st;
  made = std::move(db);
  return 0;
}

uint32_t CopyAcross(const DbPath& source, const DbPath& dest, bool setTitle, std::string_view title,
                    uint32_t sizeLimitMb, const std::string& newFile,
                    std::unique_ptr<Database>& made) {
  std::unique_ptr<Database> src;
  if (uint32_t st = Database::OpenAt(source, true, BusyTimeoutMs(), src)) return st;
  if (sizeLimitMb != 0 && sizeLimitMb != 0x7FFF) {
    int64_t size = 0;
    if (uint32_t st = StoredSize(*src, source, size)) return st;
    if (size > int64_t{sizeLimitMb} * 1024 * 1024)
      return Fail(GVERR_TOO_BIG, source.Name() + ": above the size limit");
  }
  std::string oldTitle;
  if (uint32_t st = src->MetaText("title", oldTitle)) return st;
  DbPath where = dest;
  where.path = newFile;
  std::unique_ptr<Database> db;
  if (uint32_t st = Database::CreateAt(where, oldTitle, BusyTimeoutMs(), false, db)) return st;
  Txn txn(*db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  {
    Txn read(*src);
    if (uint32_t st = read.Begin(Txn::kRead)) return st;
    if (uint32_t st = CopyRows(read, txn)) return st;
    if (uint32_t st = read.Commit()) return st;
  }
  src.reset();
  if (uint32_t st = StampNewDatabase(*db, setTitle, title)) return st;
  if (uint32_t st = db->MarkReady()) return st;
  if (uint32_t st = txn.Commit()) return st;
  made = std::move(db);
  return 0;
}

}  // namespace plexa
