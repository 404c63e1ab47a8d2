// The full-text index: an FTS5 row for the texts, text lists and rich text of each document
// or information note that holds text (rowid = note id in the high half, 0 in the low half),
// and one for each of its item parts (the part's ord in the low half), written with the
// items in the transaction that stores them, so that a search is an index look-up instead
// of a read of every item, and appending rows to a note indexes those rows only.
#include <algorithm>
#include <cctype>

#include "richtext.h"
#include "store.h"
#include "value.h"

namespace plexa {
namespace {

// Put between two texts of one row (list entries, paragraphs): a token of its own (a
// private-use character is a token character to the tokenizer) that no query can hold, so
// no phrase matches across texts.
constexpr std::string_view kGap = " \xEE\x80\x80 ";

// A query term as an FTS5 phrase: quotes doubled, the gap token dropped.
std::string Phrase(std::string_view term) {
  std::string out = "\"";
  for (size_t i = 0; i < term.size(); ++i) {
    if (term.compare(i, 3, kGap.substr(1, 3)) == 0) {
      out += ' ';
      i += 2;
    } else if (term[i] == '"') {
      out += "\"\"";
    } else {
      out += term[i];
    }
  }
  return out + "\"";
}

// Writes a change now, or keeps it for the end of the bulk transaction.
uint32_t Change(Txn& txn, Database::FullTextRow row) {
  Database& db = txn.db();
  if (db.in_bulk_store()) {
    db.bulk_fulltext().push_back(std::move(row));
    return 0;
  }
  return WriteFullTextRows(txn, {row});
}

}  // namespace

const char* const kFullTextSchema =
    "CREATE VIRTUAL TABLE IF NOT EXISTS fulltext USING "
    "fts5(body, tokenize = 'unicode61 remove_diacritics 0');";

void AppendItemText(const StoredItem& item, std::string& body) {
  const uint32_t type = item.type;
  if (type != GVTYPE_TEXT && type != GVTYPE_TEXT_LIST && type != GVTYPE_COMPOSITE) return;
  std::vector<std::string> texts;
  if (type == GVTYPE_COMPOSITE) {
    // Its own paragraphs: rich text is stored in pieces cut at record boundaries.
    std::string_view bytes(reinterpret_cast<const char*>(item.value.data()), item.value.size());
    if (rt::ToParagraphs(bytes, texts) != 0) return;
  } else {
    Value v;
    if (DecodeItem(type, item.value, v) != 0) return;
    texts = std::move(v.texts);
  }
  for (const std::string& t : texts) {
    if (t.empty()) continue;
    if (!body.empty()) body += kGap;
    body += t;
  }
}

namespace {

int64_t RowOf(GVNOTEID note, int64_t ord) {
  return (static_cast<int64_t>(note) << 32) | (ord & 0xFFFFFFFF);
}

}  // namespace

uint32_t IndexNote(Txn& txn, GVNOTEID note, std::string body, bool fresh, bool dropParts) {
  if (dropParts)
    if (uint32_t s = Change(txn, {RowOf(note, 1), RowOf(note, 0xFFFFFFFF), std::nullopt, false}))
      return s;
  if (body.empty() && fresh) return 0;
  const int64_t row = RowOf(note, 0);
  Database::FullTextRow change{row, row, std::nullopt, fresh};
  if (!body.empty()) change.body = std::move(body);
  return Change(txn, std::move(change));
}

uint32_t IndexItemPart(Txn& txn, GVNOTEID note, int64_t ord, std::string body) {
  if (body.empty()) return 0;
  const int64_t row = RowOf(note, ord);
  return Change(txn, {row, row, std::move(body), true});
}

uint32_t DropFullText(Txn& txn, GVNOTEID note) {
  return Change(txn, {RowOf(note, 0), RowOf(note, 0xFFFFFFFF), std::nullopt, false});
}

uint32_t WriteFullTextRows(Txn& txn, const std::vector<Database::FullTextRow>& rows) {
  for (const Database::FullTextRow& r : rows) {
    uint32_t s = 0;
    if (r.body && r.fresh)
      s = RunSqlUnwaited(txn, "INSERT INTO fulltext(rowid, body) VALUES(?, ?)", r.first, *r.body);
    else if (r.body)
      s = RunSqlUnwaited(txn, "INSERT OR REPLACE INTO fulltext(rowid, body) VALUES(?, ?)", r.first,
                         *r.body);
    else if (r.first == r.last)
      s = RunSqlUnwaited(txn, "DELETE FROM fulltext WHERE rowid=?", r.first);
    else
      s = RunSqlUnwaited(txn, "DELETE FROM fulltext WHERE rowid BETWEEN ? AND ?", r.first, r.last);
    if (s != 0) return s;
  }
  return 0;
}

uint32_t RebuildFullText(Txn& txn) {
  if (uint32_t s = txn.db().Exec("DELETE FROM fulltext")) return s;
  Stmt st;
  if (uint32_t s = Query(txn, "SELECT id, items FROM note WHERE class IN (1, 2)", st)) return s;
  std::vector<StoredItem> items;
  if (uint32_t s = st.ForEachRow([&](const Stmt& r) -> uint32_t {
        if (uint32_t s = UnpackItems(r.Blob(1), items)) return s;
        return IndexNote(txn, static_cast<GVNOTEID>(r.Int(0)), NoteText(items), true);
      }))
    return s;
  Stmt parts;
  if (uint32_t s = Query(txn,
                         "SELECT p.note, p.ord, p.items FROM item_part p JOIN note n ON "
                         "n.id = p.note WHERE n.class IN (1, 2)",
                         parts))
    return s;
  return parts.ForEachRow([&](const Stmt& r) -> uint32_t {
    if (uint32_t s = UnpackItems(r.Blob(2), items)) return s;
    return IndexItemPart(txn, static_cast<GVNOTEID>(r.Int(0)), r.Int(1), NoteText(items));
  });
}

uint32_t FullTextNotes(Txn& txn, std::vector<std::string> terms, uint32_t classMask,
                       std::vector<GVNOTEID>& out) {
  // A term without a letter or digit holds no word to look for.
  std::erase_if(terms, [](const std::string& t) {
    return std::none_of(t.begin(), t.end(), [](char c) {
      auto b = static_cast<unsigned char>(c);
      return b >= 0x80 || std::isalnum(b);
    });
  });
  // Each term on its own (the terms of a query may lie in different items): one look-up of
  // the index per term. The statement's text depends only on the number of terms.
  std::string sql = "SELECT id FROM note WHERE (class & ?) != 0 AND class IN (1, 2)";
  for (size_t i = 0; i < terms.size(); ++i)
    sql += " AND id IN (SELECT rowid >> 32 FROM fulltext WHERE fulltext MATCH ?)";
  sql += " ORDER BY id";
  Stmt st;
  if (uint32_t s = txn.Prepare(sql, st)) return s;
  if (uint32_t s = st.Bind(1, int64_t{classMask})) return s;
  for (size_t i = 0; i < terms.size(); ++i)
    if (uint32_t s = st.Bind(static_cast<int>(i) + 2, std::string_view(Phrase(terms[i])))) return s;
  std::vector<GVNOTEID> notes;
  if (uint32_t s =
          st.ForEachRow([&](const Stmt& r) { notes.push_back(static_cast<GVNOTEID>(r.Int(0))); }))
    return s;
  out = std::move(notes);
  return 0;
}

}  // namespace plexa
