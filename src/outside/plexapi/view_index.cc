// View indexes as view_entry rows: sort keys that compare as bytes, cells, the rows one
// document makes in a view (a list in an expanded or categorised column makes one row per
// entry), and their upkeep in the transaction of every store and delete.
#include "view_index.h"

#include <algorithm>
#include <cstring>

#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"

namespace plexa {
namespace {

// Rows one document may make in one view; a product of long expanded lists beyond this is
// cut (the rest of the combinations are not indexed).
constexpr size_t kMaxRowsPerDocument = 65536;

void Invert(std::string& key, size_t from) {
  for (size_t i = from; i < key.size(); ++i) key[i] = static_cast<char>(~key[i]);
}

void PutNumber(std::string& key, double number) {
  if (number == 0) number = 0;  // -0 and 0 are one key
  uint64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  bits = (bits & 0x8000000000000000ull) != 0 ? ~bits : bits | 0x8000000000000000ull;
  key.push_back(static_cast<char>(kKeyNumber));
  for (int i = 7; i >= 0; --i) key.push_back(static_cast<char>(bits >> (8 * i)));
}

void PutU32BE(std::string& key, uint32_t v) {
  for (int i = 3; i >= 0; --i) key.push_back(static_cast<char>(v >> (8 * i)));
}

// Complete values compare as instants, so they are moved to UTC first; a null half sorts
// first, as the date-time comparison has it.
void PutTime(std::string& key, const GVTIMEDATE& time) {
  GVTIMEDATE utc{};
  TimeFields f;
  if (TimeToUtc(time, utc) != 0 || DecodeTime(utc, f) != 0 || (f.dateNull && f.timeNull)) {
    key.push_back(static_cast<char>(kKeyEmpty));
    return;
  }
  key.push_back(static_cast<char>(kKeyTime));
  PutU32BE(key, f.dateNull ? 0 : static_cast<uint32_t>(f.julian));
  PutU32BE(key, f.timeNull ? 0 : static_cast<uint32_t>(f.ticks + 1));
}

void PutText(std::string& key, std::string_view text) {
  if (text.empty()) {
    key.push_back(static_cast<char>(kKeyEmpty));
    return;
  }
  key.push_back(static_cast<char>(kKeyText));
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    key.push_back(c);
    if (c == '\0') key.push_back(static_cast<char>(0xFF));
  }
  key.push_back('\0');
  key.push_back('\0');
}

// Entry i of v as a single value.
Value Element(const Value& v, size_t i) {
  if (IsNumberType(v.type)) return Value::Number(v.numbers[i]);
  if (IsTimeType(v.type)) return Value::Time(v.times[i]);
  return Value::Text(v.texts[i]);
}

bool EntryEmpty(const Value& v, size_t i) {
  return IsTextType(v.type) && v.texts[i].empty();
}

// A column's value as views hold it: rich text as its text, other bytes and unavailable
// items as nothing, empty texts as nothing.
bool Normalize(Value& v) {
  if (v.unavailable) return false;
  if (v.type == GVTYPE_COMPOSITE) {
    Value text;
    if (Convert(v, GVTYPE_TEXT, text) != 0) return false;
    v = std::move(text);
  }
  if (!IsTextType(v.type) && !IsNumberType(v.type) && !IsTimeType(v.type)) return false;
  size_t n = v.Count();
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i)
    if (!EntryEmpty(v, i)) return true;
  return false;
}

[[nodiscard]] uint32_t DeleteNoteRows(Txn& txn, GVNOTEID note) {
  return RunSqlUnwaited(txn, "DELETE FROM view_entry WHERE note=?", note);
}

class Indexer : public IndexMaintainer {
 public:
  explicit Indexer(DesignCache& cache) : cache_(cache) {}

  uint32_t OnStore(Txn& txn, GVNOTEID note, const ItemSource& merged) override {
    return Write(txn, note, merged, true);
  }
  uint32_t OnInsert(Txn& txn, GVNOTEID note, const ItemSource& items) override {
    return Write(txn, note, items, false);
  }

  uint32_t OnDelete(Txn& txn, GVNOTEID note) override { return DeleteNoteRows(txn, note); }

 private:
  uint32_t Write(Txn& txn, GVNOTEID note, const ItemSource& items, bool stored) {
    if (uint32_t st = cache_.Refresh()) return st;
    std::vector<std::shared_ptr<const ViewDef>> views = cache_.views();
    if (stored)
      if (uint32_t st = DeleteNoteRows(txn, note)) return st;
    for (const auto& v : views)
      if (uint32_t st = WriteRows(txn, *v, note, items)) return st;
    return 0;
  }

  DesignCache& cache_;
};

}  // namespace

std::unique_ptr<IndexMaintainer> MakeIndexer(DesignCache& cache) {
  return std::make_unique<Indexer>(cache);
}

// ---------------------------------------------------------------- keys --------------------

void AppendKeyPart(std::string& key, const Value* v, size_t element, bool descending) {
  size_t start = key.size();
  if (v == nullptr || element >= v->Count()) {
    key.push_back(static_cast<char>(kKeyEmpty));
  } else if (IsNumberType(v->type)) {
    PutNumber(key, v->numbers[element]);
  } else if (IsTimeType(v->type)) {
    PutTime(key, v->times[element]);
  } else if (IsTextType(v->type)) {
    PutText(key, v->texts[element]);
  } else {
    key.push_back(static_cast<char>(kKeyEmpty));
  }
  if (descending) Invert(key, start);
}

void AppendNumberKey(std::string& key, double number, bool descending) {
  size_t start = key.size();
  PutNumber(key, number);
  if (descending) Invert(key, start);
}

void AppendTimeKey(std::string& key, const GVTIMEDATE& time, bool descending) {
  size_t start = key.size();
  PutTime(key, time);
  if (descending) Invert(key, start);
}

void AppendTextKey(std::string& key, std::string_view text, bool descending) {
  size_t start = key.size();
  PutText(key, text);
  if (descending) Invert(key, start);
}

size_t KeyPartLength(std::string_view key, size_t at, bool descending) {
  if (at >= key.size()) return 0;
  const uint8_t flip = descending ? 0xFF : 0x00;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(static_cast<uint8_t>(key[i]) ^ flip); };
  switch (byte(at)) {
    case kKeyEmpty:
      return 1;
    case kKeyNumber:
    case kKeyTime:
      return at + 9 <= key.size() ? 9 : 0;
    case kKeyText:
      for (size_t i = at + 1; i + 1 < key.size(); ++i) {
        if (byte(i) != 0) continue;
        if (byte(i + 1) == 0) return i + 2 - at;
        ++i;  // an escaped zero byte
      }
      return 0;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- cells -------------------

void AppendCell(std::string& cells, const Value* v) {
  char head[5] = {};
  if (v == nullptr) {
    cells.append(head, sizeof head);
    return;
  }
  std::vector<uint8_t> bytes = EncodeItem(*v);
  head[0] = static_cast<char>(v->type);
  tw::put_u32(head + 1, static_cast<uint32_t>(bytes.size()));
  cells.append(head, sizeof head);
  cells.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string_view CellBytes(std::string_view cells, size_t column) {
  tw::Reader r(cells.data(), cells.size());
  for (size_t i = 0;; ++i) {
    size_t start = r.position();
    std::string_view type, bytes;
    uint32_t len = 0;
    if (!r.bytes(1, &type) || !r.u32(&len) || !r.bytes(len, &bytes)) return {};
    if (i == column) return cells.substr(start, r.position() - start);
  }
}

bool ReadCell(std::string_view cells, size_t column, Value& out) {
  std::string_view cell = CellBytes(cells, column);
  if (cell.size() < 5 || cell[0] == 0) return false;
  std::string_view bytes = cell.substr(5);
  Value v;
  if (DecodeItem(static_cast<uint8_t>(cell[0]),
                 std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), v) != 0)
    return false;
  out = std::move(v);
  return true;
}

// ---------------------------------------------------------------- rows --------------------

uint32_t ComputeRows(const ViewDef& view, const ItemSource& items, std::vector<ViewRow>& out) {
  out.clear();
  if (view.selectionBroken) return 0;
  if (view.selection && !Selects(*view.selection, items)) return 0;
  const size_t n = view.columns.size();
  std::vector<Value> values(n);
  std::vector<bool> present(n, false);
  std::vector<size_t> dims(n, 1);
  size_t total = 1;
  for (size_t c = 0; c < n; ++c) {
    const ColumnDef& col = view.columns[c];
    if (col.formula && Evaluate(*col.formula, items, values[c]) == 0)
      present[c] = Normalize(values[c]);
    if (present[c] && col.expands() && values[c].Count() > 1) {
      dims[c] = values[c].Count();
      total = total > kMaxRowsPerDocument / dims[c] ? kMaxRowsPerDocument : total * dims[c];
    }
  }
  std::vector<ViewRow> rows;
  rows.reserve(total);
  std::vector<size_t> at(n, 0);
  for (size_t r = 0; r < total; ++r) {
    // Mixed radix over the expanded columns, the last column turning fastest.
    size_t rest = r;
    for (size_t c = n; c-- > 0;) {
      at[c] = rest % dims[c];
      rest /= dims[c];
    }
    ViewRow row;
    row.dup = static_cast<uint32_t>(r);
    for (size_t c = 0; c < n; ++c) {
      const ColumnDef& col = view.columns[c];
      const Value* v = present[c] ? &values[c] : nullptr;
      const bool single = v != nullptr && col.expands();
      if (col.sorted()) AppendKeyPart(row.sortkey, v, at[c], col.descending());
      if (single) {
        if (EntryEmpty(*v, at[c])) {
          AppendCell(row.cells, nullptr);
        } else {
          Value e = Element(*v, at[c]);
          AppendCell(row.cells, &e);
        }
      } else {
        AppendCell(row.cells, v);
      }
    }
    rows.push_back(std::move(row));
  }
  out = std::move(rows);
  return 0;
}

uint32_t WriteRows(Txn& txn, const ViewDef& view, GVNOTEID note, const ItemSource& items) {
  std::vector<ViewRow> rows;
  if (uint32_t st = ComputeRows(view, items, rows)) return st;
  for (const ViewRow& row : rows)
    if (uint32_t s = RunSqlUnwaited(
            txn,
            "INSERT OR REPLACE INTO view_entry(view, sortkey, note, dup, cells) VALUES(?,?,?,?,?)",
            view.id, AsBlob(row.sortkey), note, row.dup, AsBlob(row.cells)))
      return s;
  return 0;
}

uint32_t BuildView(Txn& txn, const ViewDef& view) {
  if (uint32_t s = RunSqlUnwaited(txn, "DELETE FROM view_entry WHERE view=?", view.id)) return s;
  return ScanNotes(txn, kClassDocument, {}, true,
                   [&](GVNOTEID note, std::vector<StoredItem>& items) -> uint32_t {
                     std::unique_ptr<ItemSource> source = MakeItemSource(std::move(items));
                     return WriteRows(txn, view, note, *source);
                   });
}

uint32_t ScanNotes(Txn& txn, uint32_t classMask, std::string_view formKey, bool withItems,
                   const NoteVisitor& fn, const std::vector<std::string>* onlyNames) {
  const int64_t mask = classMask & (kClassDocument | kClassInfo);
  if (mask == 0) return 0;
  const bool byForm = !formKey.empty();
  // ?1 the class mask, ?2 the form key (bound only when the statement names it).
  auto open = [&](const char* sql, Stmt& st) {
    return byForm ? Query(txn, sql, st, mask, formKey) : Query(txn, sql, st, mask);
  };
  Stmt notes;
  if (uint32_t s =
          open(byForm ? withItems ? "SELECT id, items, parts FROM note WHERE form_key = ?2 AND "
                                    "class IN (1, 2) AND (class & ?1) != 0 ORDER BY id"
                                  : "SELECT id FROM note WHERE form_key = ?2 AND class IN "
                                    "(1, 2) AND (class & ?1) != 0 ORDER BY id"
               : withItems ? "SELECT id, items, parts FROM note WHERE class IN (1, 2) AND "
                             "(class & ?1) != 0 ORDER BY id"
                           : "SELECT id FROM note WHERE class IN (1, 2) AND "
                             "(class & ?1) != 0 ORDER BY id",
               notes))
    return s;
  std::vector<StoredItem> list;
  return notes.ForEachRow([&](const Stmt& note) -> uint32_t {
    const int64_t id = note.Int(0);
    list.clear();
    if (withItems) {
      if (uint32_t s = UnpackItems(note.Blob(1), list, onlyNames)) return s;
      if (note.Int(2) > 0)
        if (uint32_t s = ReadItemParts(txn, static_cast<GVNOTEID>(id), list, onlyNames)) return s;
    }
    return fn(static_cast<GVNOTEID>(id), list);
  });
}

}  // namespace plexa
