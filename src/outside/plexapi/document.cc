// Notes and their items in SQLite, and the open document: create, open, item changes, and
// the store that writes only what changed and keeps the views current.
#include "document.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "core_bridge.h"
#include "database.h"
#include "richtext.h"
#include "timedate.h"
#include "value.h"

namespace plexa {
namespace {

constexpr size_t kMaxRichTextRow = 16u << 20;
// A part's ord is the low half of its full-text row.
constexpr int64_t kMaxItemParts = 0xFFFFFFFE;

bool IsZero(const Unid& u) {
  return std::all_of(u.begin(), u.end(), [](uint8_t b) { return b == 0; });
}

Unid UnidFrom(std::string_view bytes) {
  Unid u{};
  if (bytes.size() == u.size()) std::memcpy(u.data(), bytes.data(), u.size());
  return u;
}

std::vector<uint8_t> Bytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

// The first row of name decoded, rich text as all its rows joined.
template <class Item>
bool FindIn(const std::vector<Item>& items, std::string_view name, Value& out) {
  std::string key = FoldAscii(name);
  const Item* first = nullptr;
  for (const Item& it : items) {
    if (FoldAscii(it.name) == key) {
      first = &it;
      break;
    }
  }
  if (first == nullptr) return false;
  if (first->type == GVTYPE_COMPOSITE) {
    std::string records;
    for (const Item& it : items)
      if (it.type == GVTYPE_COMPOSITE && FoldAscii(it.name) == key)
        records.append(it.value.begin(), it.value.end());
    out = Value::Composite(std::move(records));
    return true;
  }
  Value v;
  if (DecodeItem(first->type, first->value, v) != 0) return false;
  out = std::move(v);
  return true;
}

// The stored items of a note read by name when a formula asks for them, inside the
// transaction that stores the note (so they are the items as stored): the note's packed
// items once, and the parts of that name only. A failed read answers "no such item" and is
// kept in status().
class StoredItemsByName : public ItemSource {
 public:
  // packed: the note's packed items when the store read them already (the store added
  // parts, so the note has some). known (may be null): what the connection knew of its part
  // names before this store, which appended parts of the names added; learned receives
  // whether each name asked for has parts.
  StoredItemsByName(Txn& txn, GVNOTEID note, std::optional<std::string> packed,
                    const Database::PartNames* known, const std::set<std::string>& added,
                    std::map<std::string, bool>& learned)
      : txn_(txn),
        note_(note),
        packed_(std::move(packed)),
        parts_(packed_.has_value()),
        known_(known),
        added_(added),
        learned_(learned) {}
  bool Find(std::string_view name, Value& out) const override {
    std::string key = FoldAscii(name);
    auto cached = cache_.find(key);
    if (cached == cache_.end()) {
      std::vector<StoredItem> rows;
      if (uint32_t s = Load(key, rows); s != 0 && status_ == 0) status_ = s;
      cached = cache_.emplace(key, std::move(rows)).first;
    }
    return FindIn(cached->second, name, out);
  }
  uint32_t status() const { return status_; }

 private:
  uint32_t Load(const std::string& key, std::vector<StoredItem>& rows) const {
    if (!packed_) {
      Stmt st;
      bool row = false;
      if (uint32_t s = QueryRow(txn_, "SELECT items, parts FROM note WHERE id=?", st, row, note_))
        return s;
      packed_ = row ? std::string(st.Blob(0)) : std::string();
      parts_ = row && st.Int(1) > 0;
    }
    const std::vector<std::string> names{key};
    if (uint32_t s = UnpackItems(*packed_, rows, &names)) return s;
    if (!parts_ || KnownWithout(key)) return 0;
    const size_t packedRows = rows.size();
    if (uint32_t s = ReadItemParts(txn_, note_, rows, &names)) return s;
    learned_[key] = rows.size() > packedRows;
    return 0;
  }

  // Whether the note is known to have no part of the name.
  bool KnownWithout(const std::string& key) const {
    if (known_ == nullptr || added_.count(key) != 0) return false;
    auto it = known_->has.find(key);
    return it != known_->has.end() ? !it->second : known_->complete;
  }

  Txn& txn_;
  GVNOTEID note_;
  mutable std::optional<std::string> packed_;
  mutable bool parts_ = false;
  const Database::PartNames* known_;
  const std::set<std::string>& added_;
  std::map<std::string, bool>& learned_;
  mutable std::map<std::string, std::vector<StoredItem>> cache_;
  mutable uint32_t status_ = 0;
};

class StoredSource : public ItemSource {
 public:
  explicit StoredSource(std::vector<StoredItem> items) : items_(std::move(items)) {}
  bool Find(std::string_view name, Value& out) const override { return FindIn(items_, name, out); }

 private:
  std::vector<StoredItem> items_;
};

// The bytes a value of a single or list type counts against GV_MAX_VALUE.
size_t PayloadSize(uint32_t type, size_t stored) {
  switch (type) {
    case GVTYPE_TEXT:
      return stored >= 4 ? stored - 4 : 0;
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
      return 8;
    default:
      return stored;
  }
}

}  // namespace

std::string FormKeyOfItem(uint32_t type, std::span<const uint8_t> bytes) {
  Value v;
  if (DecodeItem(type, bytes, v) == 0 && IsTextType(v.type) && !v.texts.empty())
    return FoldAscii(v.texts.front());
  return {};
}

bool FoldsTo(std::string_view name, std::string_view key) {
  return name.size() == key.size() &&
         std::equal(name.begin(), name.end(), key.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

namespace {

// The items of a note from its row's packed value.
[[nodiscard]] uint32_t ItemsOf(const Stmt& st, int column, std::vector<StoredItem>& out) {
  return UnpackItems(st.Blob(column), out);
}

[[nodiscard]] uint32_t FormByName(Database& db, std::string_view key, GVNOTEID& out) {
  Stmt st;
  bool row = false;
  if (uint32_t s =
          QueryRow(db, "SELECT id FROM note WHERE class=256 AND design_key=?", st, row, key))
    return s;
  out = row ? static_cast<GVNOTEID>(st.Int(0)) : 0;
  return 0;
}

// The name of a form as designed (the GVFormDesign it was created with), or its key.
[[nodiscard]] uint32_t FormName(Txn& txn, GVNOTEID form, std::string& out) {
  Stmt st;
  if (uint32_t s = QueryNoteRow(txn,
                                "SELECT n.design_key, d.design FROM note n LEFT JOIN form_def d ON "
                                "d.form = n.id WHERE n.id=? AND n.class=256",
                                form, GVERR_NO_FORM, st))
    return s;
  std::string_view design = st.Blob(1);
  constexpr size_t kNameAt = offsetof(GVFormDesign, name);
  if (design.size() > kNameAt) {
    std::string_view name = design.substr(kNameAt);
    out = std::string(name.substr(0, name.find('\0')));
  } else {
    out = std::string(st.Text(0));
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- notes ------------------

uint32_t InsertNote(Txn& txn, NoteRow& row) {
  if (!txn.writing()) return GVERR_INVALID_ARGUMENT;
  GVNOTEID id = 0;
  if (uint32_t s = txn.NewNoteId(id)) return s;
  if (IsZero(row.unid)) row.unid = NewUnid();
  GVTIMEDATE zero{};
  if (std::memcmp(&row.created, &zero, sizeof zero) == 0) row.created = CurrentTime();
  if (std::memcmp(&row.modified, &zero, sizeof zero) == 0) row.modified = row.created;
  std::string created = EncodeStoredTime(row.created);
  std::string modified = EncodeStoredTime(row.modified);
  if (uint32_t s =
          RunSql(txn,
                 "INSERT INTO note(id, unid, class, form_key, design_key, parent, created, "
                 "modified, seq, items) VALUES(?,?,?,?,?,?,?,?,?,?)",
                 id, AsBlob(row.unid), row.cls, TextOrNull(row.form_key),
                 TextOrNull(row.design_key), ParentParam(row.has_parent, row.parent),
                 AsBlob(created), AsBlob(modified), row.seq, AsBlob(row.items)))
    return s;
  row.id = id;
  return 0;
}

namespace {

// The header of a note from a row of kNoteColumns.
NoteRow NoteOf(const Stmt& st, GVNOTEID id) {
  NoteRow r;
  r.id = id;
  r.unid = UnidFrom(st.Blob(0));
  r.cls = static_cast<uint32_t>(st.Int(1));
  r.form_key = std::string(st.Text(2));
  r.design_key = std::string(st.Text(3));
  r.has_parent = !st.IsNull(4) && st.Blob(4).size() == GV_UNID_SIZE;
  if (r.has_parent) r.parent = UnidFrom(st.Blob(4));
  r.created = DecodeStoredTime(st.Blob(5));
  r.modified = DecodeStoredTime(st.Blob(6));
  r.seq = static_cast<uint32_t>(st.Int(7));
  return r;
}

}  // namespace

uint32_t ReadNote(Txn& txn, GVNOTEID id, NoteRow& row) {
  Stmt st;
  if (uint32_t s =
          QueryNoteRow(txn,
                       "SELECT unid, class, form_key, design_key, parent, created, modified, "
                       "seq, parts FROM note WHERE id=?",
                       id, GVERR_NO_ENTRY, st))
    return s;
  row = NoteOf(st, id);
  row.parts = st.Int(8);
  return 0;
}

namespace {

// ReadNote with the note's packed items (not unpacked).
[[nodiscard]] uint32_t ReadNotePacked(Txn& txn, GVNOTEID id, NoteRow& row, std::string& packed) {
  Stmt st;
  if (uint32_t s =
          QueryNoteRow(txn,
                       "SELECT unid, class, form_key, design_key, parent, created, modified, "
                       "seq, parts, items FROM note WHERE id=?",
                       id, GVERR_NO_ENTRY, st))
    return s;
  row = NoteOf(st, id);
  row.parts = st.Int(8);
  packed = std::string(st.Blob(9));
  return 0;
}

// ReadNoteItems. On PostgreSQL, where each statement is a round trip, the note's parts come
// in the same statement, after its row, and attachments (when given) receives whether the
// note has any; on a file it is left as it is. fewParts: only the items packed in the note's
// row unless it has at most kFewParts parts (row.parts tells whether they were read).
[[nodiscard]] uint32_t ReadNoteItemsAttached(Txn& txn, GVNOTEID id, NoteRow& row,
                                             std::vector<StoredItem>& items, bool* attachments,
                                             bool fewParts = false) {
  const bool pg = txn.db().pg() != nullptr;
  // The note's row, then its parts' rows; with fewParts only where it has at most kFewParts.
  static const std::string kPgNote =
      "SELECT unid, class, form_key, design_key, parent, created, modified, seq, items, parts, "
      "EXISTS(SELECT 1 FROM attachment a WHERE a.note = note.id), 0 AS ord FROM note WHERE id=?1 "
      "UNION ALL SELECT NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, items, NULL, NULL, ord "
      "FROM item_part WHERE note=?1";
  static const std::string kPgAll = kPgNote + " ORDER BY 12";
  static const std::string kPgFew =
      kPgNote + " AND (SELECT parts FROM note WHERE id=?1) <= " + std::to_string(kFewParts) +
      " ORDER BY 12";
  Stmt st;
  if (uint32_t s = QueryNoteRow(
          txn,
          !pg ? std::string_view("SELECT unid, class, form_key, design_key, parent, created, "
                                 "modified, seq, items, parts FROM note WHERE id=?")
          : fewParts ? std::string_view(kPgFew)
                     : std::string_view(kPgAll),
          id, GVERR_NO_ENTRY, st))
    return s;
  if (uint32_t s = ItemsOf(st, 8, items)) return s;
  row = NoteOf(st, id);
  row.parts = st.Int(9);
  const bool withParts = row.parts > 0 && (!fewParts || row.parts <= kFewParts);
  if (pg) {
    if (attachments != nullptr) *attachments = st.Int(10) != 0;
    if (!withParts) return 0;
    return st.ForEachRow(
        [&](const Stmt& r) -> uint32_t { return UnpackMoreItems(r.Blob(8), items); });
  }
  st = Stmt();
  if (withParts)
    if (uint32_t s = ReadItemParts(txn, id, items)) return s;
  return 0;
}

}  // namespace

uint32_t ReadNoteItems(Txn& txn, GVNOTEID id, NoteRow& row, std::vector<StoredItem>& items) {
  return ReadNoteItemsAttached(txn, id, row, items, nullptr);
}

uint32_t ReadNoteAhead(Txn& txn, GVNOTEID id, NoteRow& row, std::vector<StoredItem>& items,
                       bool fewParts) {
  // The span's rows in one statement; at most twice as many as the walk asked for are
  // kept: a span of another form's notes in between costs no more than reading it.
  constexpr int64_t kAheadRows = 128;
  Database& db = txn.db();
  if (!db.reading_file()) return ReadNoteItemsAttached(txn, id, row, items, nullptr, fewParts);
  Database::ReadAhead& ahead = db.read_ahead();
  if (id == db.span_first() && db.span_last() > id &&
      (ahead.next >= ahead.rows.size() || ahead.rows.back().id < id)) {
    ahead.rows.clear();
    ahead.next = 0;
    Stmt st;
    if (uint32_t s = Query(txn,
                           "SELECT unid, class, form_key, design_key, parent, created, modified, "
                           "seq, items, parts, id FROM note WHERE id BETWEEN ? AND ? ORDER BY id "
                           "LIMIT ?",
                           st, id, db.span_last(), kAheadRows))
      return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
          NoteRow& kept = ahead.rows.emplace_back(NoteOf(r, static_cast<GVNOTEID>(r.Int(10))));
          kept.items.assign(r.Blob(8));
          kept.parts = r.Int(9);
        }))
      return s;
  }
  while (ahead.next < ahead.rows.size() && ahead.rows[ahead.next].id < id) ++ahead.next;
  if (ahead.next >= ahead.rows.size() || ahead.rows[ahead.next].id != id)
    return ReadNoteItemsAttached(txn, id, row, items, nullptr, fewParts);
  row = std::move(ahead.rows[ahead.next++]);
  items.clear();
  if (uint32_t s = UnpackMoreItems(row.items, items)) return s;
  row.items.clear();
  if (row.parts > 0 && (!fewParts || row.parts <= kFewParts))
    if (uint32_t s = ReadItemParts(txn, id, items)) return s;
  return 0;
}

uint32_t DeleteNote(Txn& txn, GVNOTEID id) {
  NoteRow row;
  if (uint32_t s = ReadNote(txn, id, row)) return s;
  if (row.cls == kClassDocument)
    if (IndexMaintainer* ix = txn.db().indexer())
      if (uint32_t s = ix->OnDelete(txn, id)) return s;
  if (uint32_t s = RunSql(txn, "DELETE FROM view_entry WHERE note=?", id)) return s;
  if (uint32_t s = DropFullText(txn, id)) return s;
  return RunSql(txn, "DELETE FROM note WHERE id=?", id);
}

void PackItem(const StoredItem& item, std::string& out) {
  auto put32 = [&](uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    out.append(b, 4);
  };
  out += static_cast<char>(item.name.size());
  out += item.name;
  put32(item.type);
  put32(item.flags);
  put32(static_cast<uint32_t>(item.value.size()));
  out.append(reinterpret_cast<const char*>(item.value.data()), item.value.size());
}

uint32_t UnpackItems(std::string_view bytes, std::vector<StoredItem>& out,
                     const std::vector<std::string>* onlyNames) {
  out.clear();
  return UnpackMoreItems(bytes, out, onlyNames);
}

uint32_t UnpackMoreItems(std::string_view bytes, std::vector<StoredItem>& out,
                         const std::vector<std::string>* onlyNames) {
  auto get32 = [&](size_t at) {
    auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + k])); };
    return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
  };
  for (size_t at = 0; at < bytes.size();) {
    const size_t nameSize = static_cast<uint8_t>(bytes[at]);
    if (nameSize == 0 || bytes.size() - at < 13 + nameSize)
      return Fail(GVERR_NOT_A_DATABASE, "a note's items are damaged");
    if (onlyNames != nullptr) {
      const std::string_view name = bytes.substr(at + 1, nameSize);
      if (std::none_of(onlyNames->begin(), onlyNames->end(),
                       [&](const std::string& key) { return FoldsTo(name, key); })) {
        const size_t skip = 13 + nameSize + get32(at + 9 + nameSize);
        if (bytes.size() - at < skip)
          return Fail(GVERR_NOT_A_DATABASE, "a note's items are damaged");
        at += skip;
        continue;
      }
    }
    StoredItem& it = out.emplace_back();
    it.name.assign(bytes.data() + at + 1, nameSize);
    at += 1 + nameSize;
    it.type = get32(at);
    it.flags = get32(at + 4);
    const size_t valueSize = get32(at + 8);
    at += 12;
    if (bytes.size() - at < valueSize)
      return Fail(GVERR_NOT_A_DATABASE, "a note's items are damaged");
    const auto* value = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    it.value.assign(value, value + valueSize);
    at += valueSize;
  }
  return 0;
}

uint32_t ReadItems(Txn& txn, GVNOTEID id, std::vector<StoredItem>& out) {
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(txn, "SELECT items, parts FROM note WHERE id=?", st, row, id)) return s;
  if (!row) {
    out.clear();
    return 0;
  }
  if (uint32_t s = ItemsOf(st, 0, out)) return s;
  const bool parts = st.Int(1) > 0;
  st = Stmt();
  return parts ? ReadItemParts(txn, id, out) : 0;
}

uint32_t ReadItemParts(Txn& txn, GVNOTEID id, std::vector<StoredItem>& out,
                       const std::vector<std::string>* onlyNames) {
  auto unpack = [&](const Stmt& r) -> uint32_t { return UnpackMoreItems(r.Blob(0), out); };
  if (onlyNames == nullptr) {
    Stmt st;
    if (uint32_t s = Query(txn, "SELECT items FROM item_part WHERE note=? ORDER BY ord", st, id))
      return s;
    return st.ForEachRow(unpack);
  }
  for (const std::string& key : *onlyNames) {
    Stmt st;
    if (uint32_t s =
            Query(txn, "SELECT items FROM item_part WHERE note=? AND name_key=? ORDER BY ord", st,
                  id, key))
      return s;
    if (uint32_t s = st.ForEachRow(unpack)) return s;
  }
  return 0;
}

uint32_t InsertItemPart(Txn& txn, GVNOTEID note, int64_t ord, std::string_view key,
                        std::span<const StoredItem* const> rows) {
  std::string packed;
  std::string body;
  for (const StoredItem* it : rows) {
    PackItem(*it, packed);
    AppendItemText(*it, body);
  }
  if (uint32_t s =
          RunSqlUnwaited(txn, "INSERT INTO item_part(note, ord, name_key, items) VALUES(?,?,?,?)",
                         note, ord, key, AsBlob(packed)))
    return s;
  return IndexItemPart(txn, note, ord, std::move(body));
}

namespace {

// Packs items into the note's row, dropping its parts (and their full-text rows).
[[nodiscard]] uint32_t RewriteItems(Txn& txn, GVNOTEID note, const std::vector<StoredItem>& items,
                                    bool hadParts) {
  if (uint32_t s = RunSql(txn, "UPDATE note SET items=?, parts=0 WHERE id=?",
                          AsBlob(PackItems(items)), note))
    return s;
  if (hadParts)
    if (uint32_t s = RunSql(txn, "DELETE FROM item_part WHERE note=?", note)) return s;
  return IndexNote(txn, note, NoteText(items), false, hadParts);
}

}  // namespace

uint32_t InsertItemRows(Txn& txn, GVNOTEID note, const std::vector<StoredItem>& items) {
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(txn, "SELECT parts FROM note WHERE id=?", st, row, note)) return s;
  const bool hadParts = row && st.Int(0) > 0;
  st = Stmt();
  return RewriteItems(txn, note, items, hadParts);
}

uint32_t ReadAttachmentRows(Txn& txn, GVNOTEID note, std::vector<AttachmentRow>& out) {
  Stmt st;
  if (uint32_t s =
          Query(txn, "SELECT name, data, size, modified FROM attachment WHERE note=? ORDER BY name",
                st, note))
    return s;
  std::vector<AttachmentRow> rows;
  if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
        rows.push_back(AttachmentRow{std::string(r.Text(0)), std::string(r.Blob(1)), r.Int(2),
                                     std::string(r.Blob(3))});
      }))
    return s;
  out = std::move(rows);
  return 0;
}

uint32_t WriteAttachmentRow(Txn& txn, GVNOTEID note, std::string_view name, std::string_view data,
                            int64_t size, std::string_view modified) {
  return RunSql(
      txn, "INSERT OR REPLACE INTO attachment(note, name, data, size, modified) VALUES(?,?,?,?,?)",
      note, name, AsBlob(data), size, AsBlob(modified));
}

uint32_t FindNoteByUnid(Txn& txn, const Unid& unid, GVNOTEID& id, uint32_t& cls) {
  Stmt st;
  bool found = false;
  if (uint32_t s =
          QueryRow(txn, "SELECT id, class FROM note WHERE unid=?", st, found, AsBlob(unid)))
    return s;
  id = found ? static_cast<GVNOTEID>(st.Int(0)) : 0;
  cls = found ? static_cast<uint32_t>(st.Int(1)) : 0;
  return 0;
}

std::unique_ptr<ItemSource> MakeItemSource(std::vector<StoredItem> items) {
  return std::make_unique<StoredSource>(std::move(items));
}

uint32_t LoadNoteSource(Txn& txn, GVNOTEID id, std::unique_ptr<ItemSource>& out) {
  std::vector<StoredItem> items;
  if (uint32_t s = ReadItems(txn, id, items)) return s;
  out = MakeItemSource(std::move(items));
  return 0;
}

// ---------------------------------------------------------------- documents --------------

Document::~Document() {
  CoreForgetDocument(handle());
}

uint32_t Document::Create(Database& db, GVNOTEID form, std::unique_ptr<Document>& out) {
  std::unique_ptr<Document> doc(new Document);
  doc->db_ = &db;
  doc->unid_ = NewUnid();
  doc->created_ = CurrentTime();
  doc->modified_ = doc->created_;
  if (form != 0) {
    Txn txn(db);
    if (uint32_t s = txn.Begin(Txn::kRead)) return s;
    std::string name;
    if (uint32_t s = FormName(txn, form, name)) return s;
    Value v = Value::Text(name);
    if (uint32_t s = doc->Set("Form", v)) return s;
    if (FormCatalog* forms = db.forms())
      if (uint32_t s = forms->Defaults(txn, form, *doc)) return s;
    if (uint32_t s = txn.Commit()) return s;
  }
  out = std::move(doc);
  return 0;
}

uint32_t Document::Open(Database& db, GVNOTEID id, uint32_t flags, std::unique_ptr<Document>& out) {
  if (id == 0 || (id & 1) != 0 || id > kMaxNoteId)
    return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id));
  Txn txn(db);
  if (uint32_t s = txn.Begin(Txn::kHeldRead)) return s;
  NoteRow row;
  std::vector<StoredItem> items;
  // On PostgreSQL, where each statement is a round trip, whether the note has attachments
  // comes with its row; a walk of a file asks once whether any note has one.
  bool attachments = true;
  if (uint32_t s = db.pg() != nullptr
                       ? ReadNoteItemsAttached(txn, id, row, items, &attachments, true)
                       : ReadNoteAhead(txn, id, row, items, true))
    return s;
  if (row.cls != kClassDocument && row.cls != kClassInfo)
    return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id) + " is not a document");
  std::unique_ptr<Document> doc(new Document);
  doc->db_ = &db;
  doc->id_ = id;
  doc->cls_ = row.cls;
  doc->unid_ = row.unid;
  doc->created_ = row.created;
  doc->modified_ = row.modified;
  doc->seq_ = row.seq;
  doc->has_parent_ = row.has_parent;
  doc->parent_ = row.parent;
  doc->read_only_ = (flags & GVOPEN_READONLY) != 0;
  doc->is_new_ = false;
  doc->items_.reserve(items.size());
  for (StoredItem& it : items) {
    DocItem d;
    static_cast<StoredItem&>(d) = std::move(it);
    d.key = FoldAscii(d.name);
    d.serial = ++doc->next_serial_;
    doc->items_.push_back(std::move(d));
  }
  if (row.parts > kFewParts) {
    doc->unread_parts_ = row.parts;
    doc->packed_rows_ = doc->items_.size();
    doc->parts_seq_ = row.seq;
  }
  if (db.pg() == nullptr)
    if (uint32_t s = txn.AnyAttachments(attachments)) return s;
  if (attachments) {
    Stmt st;
    if (uint32_t s = Query(txn, "SELECT name, size, modified FROM attachment WHERE note=?", st, id))
      return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
          DocAttachment a;
          a.size = static_cast<uint32_t>(r.Int(1));
          a.modified = DecodeStoredTime(r.Blob(2));
          doc->attachments_[std::string(r.Text(0))] = std::move(a);
        }))
      return s;
  }
  if (uint32_t s = txn.Commit()) return s;
  out = std::move(doc);
  return 0;
}

uint32_t Document::ReadParts() const {
  if (unread_parts_ == 0) return 0;
  Txn txn(*db_);
  if (uint32_t s = txn.Begin(Txn::kRead)) return s;
  // The note's seq, then the rows of the parts left unread, in one statement.
  Stmt st;
  if (uint32_t s = Query(txn,
                         "SELECT seq, NULL AS items, 0 AS ord FROM note WHERE id=?1 UNION ALL "
                         "SELECT NULL, items, ord FROM item_part WHERE note=?1 AND ord<=?2 "
                         "ORDER BY 3",
                         st, id_, unread_parts_))
    return s;
  bool found = false;
  uint32_t seq = 0;
  std::vector<StoredItem> rows;
  if (uint32_t s = st.ForEachRow([&](const Stmt& r) -> uint32_t {
        if (r.Int(2) != 0) return UnpackMoreItems(r.Blob(1), rows);
        found = true;
        seq = static_cast<uint32_t>(r.Int(0));
        return 0;
      }))
    return s;
  st = Stmt();
  if (!found) return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id_) + " (removed meanwhile)");
  size_t at = packed_rows_;
  if (seq != parts_seq_) {
    // Stored by another connection since: its parts may have been packed into the note, and
    // the parts read may not be those of the open any more. The rows as stored now replace
    // those read, and the rows appended here and not stored yet follow them.
    NoteRow row;
    if (uint32_t s = ReadNoteItems(txn, id_, row, rows)) return s;
    std::erase_if(items_, [](const DocItem& it) { return !it.appended; });
    at = 0;
  }
  if (uint32_t s = txn.Commit()) return s;
  std::vector<DocItem> read;
  read.reserve(rows.size());
  for (StoredItem& it : rows) {
    DocItem& d = read.emplace_back();
    static_cast<StoredItem&>(d) = std::move(it);
    d.key = FoldAscii(d.name);
    d.serial = ++next_serial_;
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at),
                std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
  unread_parts_ = 0;
  parts_status_ = 0;
  return 0;
}

size_t Document::FirstRead(const std::string& key) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].key == key) return i;
  return std::string::npos;
}

uint32_t Document::Register(std::unique_ptr<Document> doc, GVDOC& out) {
  Database& db = doc->db();
  return AddHandle(std::move(doc), db.handle(), out);
}

Document* FindDocument(GVDOC doc) {
  return Find<Document>(doc);
}

bool Document::Changed() const {
  if (is_new_ || !dirty_.empty() || !appended_.empty() || parent_dirty_ || unid_dirty_) return true;
  return std::any_of(attachments_.begin(), attachments_.end(),
                     [](const auto& a) { return a.second.pending; });
}

void Document::set_unid(const Unid& u) {
  if (u == unid_) return;
  unid_ = u;
  unid_dirty_ = true;
}

void Document::set_parent(const Unid* parent) {
  bool has = parent != nullptr && !IsZero(*parent);
  if (has == has_parent_ && (!has || *parent == parent_)) return;
  has_parent_ = has;
  parent_ = has ? *parent : Unid{};
  parent_dirty_ = true;
}

uint32_t Document::FormId(GVNOTEID& out) const {
  const DocItem* form = First("Form");
  if (form == nullptr) {
    out = 0;
    return 0;
  }
  Value v;
  if (DecodeItem(form->type, form->value, v) != 0 || !IsTextType(v.type) || v.texts.empty()) {
    out = 0;
    return 0;
  }
  return FormByName(*db_, FoldAscii(v.texts.front()), out);
}

const DocItem* Document::First(std::string_view name) const {
  std::string key = FoldAscii(name);
  // The packed rows come before the parts' rows: a name found among them needs no parts.
  size_t at = FirstRead(key);
  if (unread_parts_ > 0 && (at == std::string::npos || at >= packed_rows_)) {
    EnsureParts();
    at = FirstRead(key);
  }
  return at != std::string::npos ? &items_[at] : nullptr;
}

const DocItem* Document::BySerial(uint32_t serial) const {
  for (const DocItem& it : items_)
    if (it.serial == serial) return &it;
  return nullptr;
}

std::vector<const DocItem*> Document::All(std::string_view name) const {
  EnsureParts();
  std::string key = FoldAscii(name);
  std::vector<const DocItem*> out;
  for (const DocItem& it : items_)
    if (it.key == key) out.push_back(&it);
  return out;
}

uint32_t Document::CheckField(std::string_view name) const {
  if (!form_check_ || !db_->form_check()) return 0;
  std::string key = FoldAscii(name);
  if (key == "form" || (!key.empty() && key[0] == '$')) return 0;
  // A document made without a form (a scratch document, say) may be created and looked at
  // under the check, but it has no fields to put until it is given a form.
  if (First("Form") == nullptr)
    return Fail(GVERR_NO_FORM, "the form check needs a form: " + std::string(name));
  FormCatalog* forms = db_->forms();
  if (forms == nullptr) return 0;
  GVNOTEID form = 0;
  if (uint32_t s = FormId(form)) return s;
  // A document whose form cannot be found has no fields to keep to.
  if (form == 0) return 0;
  if (!forms->IsField(form, name)) return Fail(GVERR_NO_FIELD, name);
  return 0;
}

uint32_t Document::Validate(uint32_t type, const std::vector<uint8_t>& value) const {
  if (type == GVTYPE_COMPOSITE) {
    if (value.size() > kMaxRichTextRow) return Fail(GVERR_TOO_BIG, "rich text above 16 MiB");
    std::string_view records(reinterpret_cast<const char*>(value.data()), value.size());
    return rt::Validate(records, true);
  }
  if (type < GVTYPE_NUMBER || type > GVTYPE_OTHER) return GVERR_INVALID_ARGUMENT;
  if (PayloadSize(type, value.size()) > GV_MAX_VALUE)
    return Fail(GVERR_TOO_BIG, "value above 64996 bytes");
  if (type == GVTYPE_OTHER) return 0;
  Value v;
  return DecodeItem(type, value, v);
}

uint32_t Document::Replace(std::string_view name, uint32_t type,
                           std::vector<std::vector<uint8_t>> values) {
  std::vector<Row> rows;
  rows.reserve(values.size());
  for (auto& v : values) rows.push_back(Row{type, std::move(v)});
  return ReplaceRows(name, std::move(rows));
}

uint32_t Document::ReplaceRows(std::string_view name, std::vector<Row> rows) {
  if (name.empty() || name.size() >= GV_ITEM_NAME_SIZE) return GVERR_INVALID_ARGUMENT;
  for (const Row& r : rows)
    if (uint32_t s = Validate(r.type, r.value)) return s;
  if (uint32_t s = ReadParts()) return s;
  std::string key = FoldAscii(name);
  size_t at = items_.size();
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].key == key) at = std::min(at, i);
  EraseRows(key);
  at = std::min(at, items_.size());
  std::vector<DocItem> added;
  for (Row& r : rows) {
    DocItem d;
    d.name = std::string(name);
    d.key = key;
    d.type = r.type;
    d.value = std::move(r.value);
    d.serial = ++next_serial_;
    added.push_back(std::move(d));
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at),
                std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  Touch(key);
  return 0;
}

uint32_t Document::Append(std::string_view name, uint32_t type, std::vector<uint8_t> value) {
  if (name.empty() || name.size() >= GV_ITEM_NAME_SIZE) return GVERR_INVALID_ARGUMENT;
  if (uint32_t s = Validate(type, value)) return s;
  DocItem d;
  d.name = std::string(name);
  d.key = FoldAscii(name);
  d.type = type;
  d.value = std::move(value);
  d.serial = ++next_serial_;
  if (dirty_.count(d.key) != 0) {
    Touch(d.key);
  } else {
    d.appended = true;
    appended_.insert(d.key);
    ++appended_rows_;
  }
  items_.push_back(std::move(d));
  return 0;
}

uint32_t Document::Remove(std::string_view name) {
  if (uint32_t s = ReadParts()) return s;
  std::string key = FoldAscii(name);
  if (EraseRows(key)) Touch(key);
  return 0;
}

bool Document::EraseRows(const std::string& key) {
  size_t removed = 0;
  std::erase_if(items_, [&](const DocItem& it) {
    if (it.key != key) return false;
    if (it.appended) --appended_rows_;
    ++removed;
    return true;
  });
  return removed > 0;
}

std::vector<DocItem*> Document::AppendedRows() {
  std::vector<DocItem*> rows;
  for (auto it = items_.rbegin(); rows.size() < appended_rows_ && it != items_.rend(); ++it)
    if (it->appended) rows.push_back(&*it);
  std::reverse(rows.begin(), rows.end());
  return rows;
}

uint32_t Document::PutRichText(std::string_view name, std::string_view records) {
  if (uint32_t s = rt::Validate(records, true)) return s;
  std::vector<std::vector<uint8_t>> pieces;
  for (const std::string& p : rt::CutPieces(records, GV_RICHTEXT_PIECE)) pieces.push_back(Bytes(p));
  return Replace(name, GVTYPE_COMPOSITE, std::move(pieces));
}

std::string Document::JoinedRecords(std::string_view name) const {
  EnsureParts();
  std::string records;
  std::vector<const DocItem*> rows = All(name);
  if (!rows.empty() && rows.front()->type != GVTYPE_COMPOSITE) {
    Value v, text;
    if (DecodeItem(rows.front()->type, rows.front()->value, v) == 0 &&
        Convert(v, GVTYPE_TEXT, text) == 0 && !text.texts.empty())
      return rt::FromText(text.texts.front());
    return records;
  }
  for (const DocItem* it : rows)
    if (it->type == GVTYPE_COMPOSITE) records.append(it->value.begin(), it->value.end());
  return records;
}

bool Document::Find(std::string_view name, Value& out) const {
  // A first row of another type than rich text is the value whatever the parts hold.
  if (unread_parts_ > 0) {
    const size_t at = FirstRead(FoldAscii(name));
    if (at == std::string::npos || at >= packed_rows_ || items_[at].type == GVTYPE_COMPOSITE)
      EnsureParts();
  }
  return FindIn(items_, name, out);
}

uint32_t Document::Set(std::string_view name, const Value& v) {
  if (v.unavailable) return Replace(name, GVTYPE_TEXT, {EncodeItem(Value::Text(""))});
  if (v.type == GVTYPE_COMPOSITE) return PutRichText(name, v.records);
  Value w = v;
  size_t n = v.Count();
  if (IsTextType(v.type)) w.type = n == 1 ? GVTYPE_TEXT : GVTYPE_TEXT_LIST;
  if (IsNumberType(v.type))
    w.type = n == 1 && v.numberRanges.empty() ? GVTYPE_NUMBER : GVTYPE_NUMBER_LIST;
  if (IsTimeType(v.type)) w.type = n == 1 && v.timeRanges.empty() ? GVTYPE_TIME : GVTYPE_TIME_LIST;
  std::vector<uint8_t> bytes;
  if (uint32_t s = EncodeItem(w, bytes)) return s;
  return Replace(name, w.type, {std::move(bytes)});
}

uint32_t Document::AttachmentData(const std::string& name, std::string& out) const {
  auto it = attachments_.find(name);
  if (it == attachments_.end()) return Fail(GVERR_NO_ATTACHMENT, name);
  if (it->second.pending) {
    out = it->second.data;
    return 0;
  }
  Txn txn(*db_);
  if (uint32_t s = txn.Begin(Txn::kRead)) return s;
  Stmt st;
  bool row = false;
  if (uint32_t s =
          QueryRow(txn, "SELECT data FROM attachment WHERE note=? AND name=?", st, row, id_, name))
    return s;
  if (!row) return Fail(GVERR_NO_ATTACHMENT, name + " (removed meanwhile)");
  out = std::string(st.Blob(0));
  return 0;
}

uint32_t Document::AddAttachment(const std::string& name, std::string data) {
  if (data.size() > kMaxRichTextRow * 16) return Fail(GVERR_TOO_BIG, name);
  DocAttachment a;
  a.size = static_cast<uint32_t>(data.size());
  a.modified = CurrentTime();
  a.pending = true;
  a.data = std::move(data);
  attachments_[name] = std::move(a);
  return 0;
}

uint32_t Document::WriteBackComposites() {
  struct Ctx {
    GVDOC doc;
    std::vector<Composite*> found;
  } ctx{handle(), {}};
  ForEachHandle(
      HandleKind::kComposite,
      [](HandleObject& o, void* c) {
        auto* x = static_cast<Ctx*>(c);
        auto& comp = static_cast<Composite&>(o);
        if (comp.parent() == x->doc && !comp.item.empty() && comp.dirty) x->found.push_back(&comp);
      },
      &ctx);
  for (Composite* comp : ctx.found) {
    if (uint32_t s = CheckField(comp->item)) return s;
    if (uint32_t s = PutRichText(comp->item, comp->records)) return s;
    comp->dirty = false;
  }
  return 0;
}

uint32_t Document::Store(bool ifUnchanged) {
  if (read_only_) return Fail(GVERR_READ_ONLY);
  if (handle() != 0)
    if (uint32_t s = WriteBackComposites()) return s;
  if (!Changed()) return 0;
  // A reader that could not read the parts answered without them: its failure is this one's.
  if (parts_status_ != 0)
    if (uint32_t s = ReadParts()) return s;
  Txn txn(*db_);
  if (uint32_t s = txn.Begin(Txn::kWrite)) return s;
  GVTIMEDATE now = CurrentTime();
  uint32_t storedSeq = 0;  // the note's seq before this store (existing notes)
  GVNOTEID id = id_;
  uint32_t seq = seq_ + 1;
  // The views of an existing note read its items as stored after this store.
  std::vector<StoredItem> merged;
  bool viewsByName = false;           // merged was not read: the views read what they name
  std::optional<std::string> packed;  // the packed items, when read with the note's header
  // What is known of the note's part names after this store (nullopt: nothing).
  std::optional<Database::PartNames> partNames;
  const Database::PartNames* knownParts = nullptr;
  std::map<std::string, bool> learned;
  if (is_new_) {
    NoteRow row;
    row.unid = unid_;
    row.cls = cls_;
    row.has_parent = has_parent_;
    row.parent = parent_;
    row.created = created_;
    row.modified = now;
    row.seq = seq;
    if (uint32_t s = InsertNewNote(txn, row, items_)) {
      if (s == GVERR_EXISTS) return Fail(GVERR_EXISTS, "another note has this identity");
      return s;
    }
    id = row.id;
    partNames.emplace().complete = true;
  } else {
    // Rows appended to names, nothing else changed: the stored items are not read.
    const bool appendOnly = dirty_.empty() && appended_rows_ > 0;
    NoteRow row;
    // The views of a document read its packed items (small beside its parts): read with its
    // header, they cost no statement of their own.
    const bool viewed = cls_ == kClassDocument && db_->indexer() != nullptr;
    if (uint32_t s = !appendOnly ? ReadNoteItems(txn, id, row, merged)
                     : viewed    ? ReadNotePacked(txn, id, row, packed.emplace())
                                 : ReadNote(txn, id, row))
      return s;
    // Read under the write lock of this transaction: nobody can store between the check
    // and the writes below.
    if (ifUnchanged && row.seq != seq_)
      return Fail(GVERR_CONFLICT, "note " + std::to_string(id) + " was stored meanwhile");
    if (unid_dirty_) {
      if (uint32_t s = RunSql(txn, "UPDATE note SET unid=? WHERE id=?", AsBlob(unid_), id)) {
        if (s == GVERR_EXISTS) return Fail(GVERR_EXISTS, "another note has this identity");
        return s;
      }
    }
    seq = row.seq + 1;
    std::vector<DocItem*> appended = AppendedRows();
    // A Form appended to a note without a text Form may give it its form key: that store
    // reads the items as the others do.
    const bool inParts = appendOnly &&
                         row.parts < kMaxItemParts - static_cast<int64_t>(appended.size()) &&
                         (!row.form_key.empty() ||
                          std::none_of(appended.begin(), appended.end(),
                                       [](const DocItem* it) { return it->key == "form"; }));
    if (appendOnly && !inParts) {
      if (uint32_t s = ReadItems(txn, id, merged)) return s;
      // The parts are packed into the note now: this copy reads them while they are there
      // (which moves its rows).
      if (unread_parts_ > 0) {
        if (uint32_t s = ReadParts()) return s;
        appended = AppendedRows();
      }
    }
    storedSeq = row.seq;
    // The names changed here replace their rows as stored (by anyone since this copy was
    // read) and follow the others; rows appended to a name follow its stored rows, which
    // are neither read nor written again when nothing else changed.
    const bool itemsChanged = !dirty_.empty() || appended_rows_ > 0;
    if (inParts) {
      int64_t parts = row.parts;
      for (size_t at = 0, end = 0; at < appended.size(); at = end) {
        for (end = at + 1; end < appended.size() && appended[end]->key == appended[at]->key;) ++end;
        const std::vector<const StoredItem*> run(appended.begin() + at, appended.begin() + end);
        if (uint32_t s = InsertItemPart(txn, id, ++parts, appended[at]->key, run)) return s;
      }
      if (uint32_t s = RunSqlUnwaited(
              txn, "UPDATE note SET parts=?, parent=?, modified=?, seq=? WHERE id=?", parts,
              ParentParam(has_parent_, parent_), AsBlob(EncodeStoredTime(now)), seq, id))
        return s;
    } else if (itemsChanged) {
      if (!dirty_.empty())
        std::erase_if(merged,
                      [&](const StoredItem& it) { return dirty_.count(FoldAscii(it.name)) != 0; });
      for (const std::string& key : dirty_)
        for (const DocItem& it : items_)
          if (it.key == key) merged.push_back(it);
      for (const DocItem* it : appended)
        if (dirty_.count(it->key) == 0) merged.push_back(*it);
      if (uint32_t s = RunSqlUnwaited(
              txn,
              "UPDATE note SET items=?, parts=0, form_key=?, parent=?, modified=?, seq=? "
              "WHERE id=?",
              AsBlob(PackItems(merged)), TextOrNull(FormKeyOf(merged)),
              ParentParam(has_parent_, parent_), AsBlob(EncodeStoredTime(now)), seq, id))
        return s;
      if (row.parts > 0)
        if (uint32_t s = RunSqlUnwaited(txn, "DELETE FROM item_part WHERE note=?", id)) return s;
      if (uint32_t s = IndexNote(txn, id, NoteText(merged), false, row.parts > 0)) return s;
    } else if (uint32_t s = RunSql(txn, "UPDATE note SET parent=?, modified=?, seq=? WHERE id=?",
                                   ParentParam(has_parent_, parent_), AsBlob(EncodeStoredTime(now)),
                                   seq, id)) {
      return s;
    }
    viewsByName = inParts;
    // Parts were dropped (none are left), added, or left as they were.
    knownParts = db_->part_names(id, row.seq);
    if (itemsChanged && !inParts)
      partNames.emplace().complete = true;
    else if (knownParts != nullptr)
      partNames = *knownParts;
    else if (inParts)
      partNames.emplace();
  }
  for (const auto& [name, a] : attachments_)
    if (a.pending)
      if (uint32_t s =
              WriteAttachmentRow(txn, id, name, a.data, a.size, EncodeStoredTime(a.modified)))
        return s;
  if (cls_ == kClassDocument) {
    if (IndexMaintainer* ix = db_->indexer()) {
      if (is_new_) {
        // Every item of a new note was just stored from items_: the views read them here.
        if (uint32_t s = ix->OnInsert(txn, id, *this)) return s;
      } else if (viewsByName) {
        StoredItemsByName stored(txn, id, std::move(packed), knownParts, appended_, learned);
        if (uint32_t s = ix->OnStore(txn, id, stored)) return s;
        if (stored.status() != 0) return stored.status();
      } else {
        StoredSource stored(std::move(merged));
        if (uint32_t s = ix->OnStore(txn, id, stored)) return s;
      }
    }
  }
  // A store that joined another transaction (a bulk store) may still be rolled back with it.
  const bool mayRollBack = txn.joined() || db_->in_bulk_store();
  if (mayRollBack) partNames.reset();
  if (uint32_t s = txn.Commit()) {
    db_->set_part_names(id, std::nullopt);
    return s;
  }
  if (partNames) {
    partNames->seq = seq;
    for (const auto& [key, has] : learned) partNames->has[key] = has;
    if (viewsByName)
      for (const std::string& key : appended_) partNames->has[key] = true;
  }
  db_->set_part_names(id, std::move(partNames));
  // Nobody stored the note between the open and this store: the parts left unread are still
  // the note's first ones (unless the store is rolled back, and another takes its seq).
  if (unread_parts_ > 0 && storedSeq == parts_seq_ && !mayRollBack) parts_seq_ = seq;
  id_ = id;
  seq_ = seq;
  modified_ = now;
  is_new_ = false;
  dirty_.clear();
  for (DocItem* it : AppendedRows()) it->appended = false;
  appended_.clear();
  appended_rows_ = 0;
  parent_dirty_ = unid_dirty_ = false;
  for (auto& [name, a] : attachments_) {
    if (a.pending) {
      a.pending = false;
      a.data.clear();
      a.data.shrink_to_fit();
    }
  }
  return 0;
}

}  // namespace plexa
