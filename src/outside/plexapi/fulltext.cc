// The full-text index: one FTS5 row per document or information note (rowid = note id)
// holding the texts of its text and text-list items and the paragraphs of its rich text, rebuilt in
// the transaction that stores the note, so a search is one index look-up instead of a read of every
// item.
#include <algorithm>
#include <cctype>
#include <map>

#include "richtext.h"
#include "store.h"
#include "value.h"

namespace plexa {
namespace {

// Put between two texts of a note: a token of its own (a private-use character is a token
// character to the tokenizer) that no query can hold, so no phrase matches across texts.
constexpr std::string_view kGap = " \xEE\x80\x80 ";

std::span<const uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
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

}  // namespace

const char* const kFullTextSchema =
    "CREATE VIRTUAL TABLE IF NOT EXISTS fulltext USING "
    "fts5(body, tokenize = 'unicode61 remove_diacritics 0');";

uint32_t IndexFullText(Txn& txn, GVNOTEID note) {
  Stmt st;
  if (uint32_t s =
          Query(txn,
                "SELECT name_key, type, value FROM item WHERE note=? AND type IN (2, 4, 7) "
                "ORDER BY ord",
                st, note))
    return s;
  std::string body;
  // Rich text is stored in pieces cut at record boundaries: the pieces of a name are joined
  // before their text is taken.
  std::map<std::string, std::string> records;
  auto add = [&](std::string_view text) {
    if (text.empty()) return;
    if (!body.empty()) body += kGap;
    body += text;
  };
  if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
        std::string_view bytes = r.Blob(2);
        if (r.Int(1) == GVTYPE_COMPOSITE) {
          records[std::string(r.Text(0))].append(bytes);
          return;
        }
        Value v;
        if (DecodeItem(static_cast<uint32_t>(r.Int(1)), Span(bytes), v) != 0) return;
        for (const std::string& t : v.texts) add(t);
      }))
    return s;
  st = Stmt();
  // A phrase does not run from one paragraph into the next.
  for (const auto& [name, recs] : records) {
    std::vector<std::string> paragraphs;
    if (rt::ToParagraphs(recs, paragraphs) == 0)
      for (const std::string& p : paragraphs) add(p);
  }
  if (txn.db().in_bulk_store()) {
    txn.db().bulk_fulltext().push_back(
        {note, body.empty() ? std::nullopt : std::optional<std::string>(std::move(body))});
    return 0;
  }
  if (uint32_t s = RunSql(txn, "DELETE FROM fulltext WHERE rowid=?", note)) return s;
  if (body.empty()) return 0;
  return RunSql(txn, "INSERT INTO fulltext(rowid, body) VALUES(?, ?)", note, body);
}

uint32_t DropFullText(Txn& txn, GVNOTEID note) {
  if (txn.db().in_bulk_store()) {
    txn.db().bulk_fulltext().push_back({note, std::nullopt});
    return 0;
  }
  return RunSql(txn, "DELETE FROM fulltext WHERE rowid=?", note);
}

uint32_t WriteFullTextRows(Txn& txn, const std::vector<Database::FullTextRow>& rows) {
  for (const Database::FullTextRow& r : rows) {
    if (uint32_t s = RunSql(txn, "DELETE FROM fulltext WHERE rowid=?", r.note)) return s;
    if (r.body)
      if (uint32_t s =
              RunSql(txn, "INSERT INTO fulltext(rowid, body) VALUES(?, ?)", r.note, *r.body))
        return s;
  }
  return 0;
}

uint32_t RebuildFullText(Txn& txn) {
  if (uint32_t s = txn.db().Exec("DELETE FROM fulltext")) return s;
  std::vector<GVNOTEID> notes;
  {
    Stmt st;
    if (uint32_t s = Query(txn, "SELECT id FROM note WHERE class IN (1, 2) ORDER BY id", st))
      return s;
    if (uint32_t s =
            st.ForEachRow([&](const Stmt& r) { notes.push_back(static_cast<GVNOTEID>(r.Int(0))); }))
      return s;
  }
  for (GVNOTEID n : notes)
    if (uint32_t s = IndexFullText(txn, n)) return s;
  return 0;
}

std::string FullTextExpression(const std::vector<std::string>& terms) {
  std::string expr;
  for (const std::string& t : terms) {
    if (!expr.empty()) expr += " AND ";
    expr += Phrase(t);
  }
  return expr;
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
  std::vector<GVNOTEID> notes;
  Stmt st;
  if (terms.empty()) {
    if (uint32_t s = Query(txn,
                           "SELECT id FROM note WHERE (class & ?) != 0 AND class IN (1, 2) "
                           "ORDER BY id",
                           st, classMask))
      return s;
  } else if (uint32_t s = Query(txn,
                                "SELECT n.id FROM fulltext f JOIN note n ON n.id = f.rowid "
                                "WHERE fulltext MATCH ? AND (n.class & ?) != 0 ORDER BY n.id",
                                st, FullTextExpression(terms), classMask)) {
    return s;
  }
  if (uint32_t s =
          st.ForEachRow([&](const Stmt& r) { notes.push_back(static_cast<GVNOTEID>(r.Int(0))); }))
    return s;
  out = std::move(notes);
  return 0;
}

}  // namespace plexa
