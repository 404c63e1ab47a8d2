// The full-text index: an FTS5 row for each stored text, text-list and rich-text item row of
// a document or information note (rowid = note id in the high half, the item row's position
// in the low half), written with the item row in the transaction that stores it, so a search
// is an index look-up instead of a read of every item, and a store costs what it writes
// (appending a piece of a long rich-text item indexes that piece only).
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

std::span<const uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

int64_t RowOf(GVNOTEID note, int64_t ord) {
  return (static_cast<int64_t>(note) << 32) | (ord & 0xFFFFFFFF);
}

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

// The searchable text of an item row ("" for other types and undecodable values).
std::string RowText(uint32_t type, std::string_view bytes) {
  std::vector<std::string> texts;
  if (type == GVTYPE_COMPOSITE) {
    // Its own paragraphs: rich text is stored in pieces cut at record boundaries.
    if (rt::ToParagraphs(bytes, texts) != 0) return {};
  } else if (type == GVTYPE_TEXT || type == GVTYPE_TEXT_LIST) {
    Value v;
    if (DecodeItem(type, Span(bytes), v) != 0) return {};
    texts = std::move(v.texts);
  }
  std::string body;
  for (const std::string& t : texts) {
    if (t.empty()) continue;
    if (!body.empty()) body += kGap;
    body += t;
  }
  return body;
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

uint32_t IndexItemRow(Txn& txn, GVNOTEID note, int64_t ord, uint32_t type, std::string_view value) {
  if (type != GVTYPE_TEXT && type != GVTYPE_TEXT_LIST && type != GVTYPE_COMPOSITE) return 0;
  std::string body = RowText(type, value);
  if (body.empty()) return 0;
  int64_t row = RowOf(note, ord);
  return Change(txn, {row, row, std::move(body)});
}

uint32_t DropItemRows(Txn& txn, GVNOTEID note, std::string_view nameKey) {
  std::vector<int64_t> rows;
  {
    Stmt st;
    if (uint32_t s =
            Query(txn, "SELECT ord FROM item WHERE note=? AND name_key=? AND type IN (2, 4, 7)", st,
                  note, nameKey))
      return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& r) { rows.push_back(RowOf(note, r.Int(0))); }))
      return s;
  }
  for (int64_t row : rows)
    if (uint32_t s = Change(txn, {row, row, std::nullopt})) return s;
  return 0;
}

uint32_t DropFullText(Txn& txn, GVNOTEID note) {
  return Change(txn, {RowOf(note, 0), RowOf(note, 0xFFFFFFFF), std::nullopt});
}

uint32_t WriteFullTextRows(Txn& txn, const std::vector<Database::FullTextRow>& rows) {
  for (const Database::FullTextRow& r : rows) {
    uint32_t s = 0;
    if (r.body)
      s = RunSql(txn, "INSERT OR REPLACE INTO fulltext(rowid, body) VALUES(?, ?)", r.first,
                 *r.body);
    else if (r.first == r.last)
      s = RunSql(txn, "DELETE FROM fulltext WHERE rowid=?", r.first);
    else
      s = RunSql(txn, "DELETE FROM fulltext WHERE rowid BETWEEN ? AND ?", r.first, r.last);
    if (s != 0) return s;
  }
  return 0;
}

uint32_t RebuildFullText(Txn& txn) {
  if (uint32_t s = txn.db().Exec("DELETE FROM fulltext")) return s;
  Stmt st;
  if (uint32_t s = Query(txn,
                         "SELECT i.note, i.ord, i.type, i.value FROM item i JOIN note n ON "
                         "n.id = i.note WHERE n.class IN (1, 2) AND i.type IN (2, 4, 7)",
                         st))
    return s;
  return st.ForEachRow([&](const Stmt& r) -> uint32_t {
    return IndexItemRow(txn, static_cast<GVNOTEID>(r.Int(0)), r.Int(1),
                        static_cast<uint32_t>(r.Int(2)), r.Blob(3));
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
