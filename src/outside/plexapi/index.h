// Indexes (GVINDEX): an in-memory snapshot of a view's entries (with categories and
// response hierarchy), of a search or of a full-text search, and everything done on it:
// navigation, positions, key search, cells, refresh, deleting and copying its documents.
// Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_INDEX_H_
#define TW_OUTSIDE_PLEXAPI_INDEX_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "design.h"
#include "formula.h"
#include "session.h"
#include "store.h"
#include "value.h"

namespace plexa {

class Index : public HandleObject {
 public:
  static constexpr HandleKind kKind = HandleKind::kIndex;
  HandleKind kind() const override { return kKind; }

  explicit Index(Database& db) : db_(db) {}
  Database& db() const { return db_; }

  // Fills: each replaces the entries, forgets earlier refinements and stands before the first.
  [[nodiscard]] uint32_t OpenView(GVNOTEID view);
  // formula empty: every note; form non-zero: only notes whose "Form" names it.
  [[nodiscard]] uint32_t Search(std::string_view formula, GVNOTEID form);
  // Keeps (refine) or finds the documents whose texts hold every term of query.
  [[nodiscard]] uint32_t FullTextSearch(std::string_view query, uint32_t flags,
                                        uint32_t maxDocuments, uint32_t& found);
  // Keeps the documents that the selection formula takes.
  [[nodiscard]] uint32_t Refine(std::string_view selection);
  [[nodiscard]] uint32_t Refresh();

  [[nodiscard]] uint32_t KeySearch(std::span<const GVKey> keys, uint32_t& matches);
  uint32_t Count() const;
  [[nodiscard]] uint32_t Navigate(uint32_t direction, uint32_t flags, GVNOTEID& note,
                                  uint32_t& entryFlags);
  [[nodiscard]] uint32_t SetPosition(uint32_t position);
  [[nodiscard]] uint32_t GetViewPosition(uint32_t flags, std::string& out) const;
  [[nodiscard]] uint32_t SetViewPosition(std::string_view text);
  // The cell of column (from 1) of the current entry; present false for an empty cell.
  [[nodiscard]] uint32_t Cell(uint32_t column, Value& out, bool& present) const;

  [[nodiscard]] uint32_t DeleteAll();
  // Copies the note (0: the current entry's) into target; note receives the copy's id.
  [[nodiscard]] uint32_t CopyHierarchy(Database& target, GVNOTEID& note);

  uint32_t classes() const { return classes_; }
  void set_classes(uint32_t mask) { classes_ = mask; }
  bool filled() const { return source_ != Source::kNone; }
  // The notes of the document entries, each once, in entry order.
  std::vector<GVNOTEID> Notes() const;

 private:
  enum class Source { kNone, kView, kSearch, kFullText };
  struct Refinement {
    bool fullText = false;
    std::string text;
    uint32_t max = 0;
  };
  struct Row {
    std::string sortkey;
    GVNOTEID note = 0;
    uint32_t dup = 0;
    std::string cells;
    int64_t entry = -1;  // its entry, -1 once a refinement dropped it
  };
  struct Entry {
    GVNOTEID note = 0;  // 0: a category
    uint32_t level = 0;
    uint32_t flags = 0;      // GVENTRY_CATEGORY, GVENTRY_RESPONSE, GVENTRY_HAS_CHILDREN
    int64_t row = -1;        // view fills: the row (a category's first row)
    uint32_t column = 0;     // a category's column (0-based)
    uint32_t keyLength = 0;  // a category's part of its first row's sort key
  };

  [[nodiscard]] uint32_t FillView(GVNOTEID view);
  [[nodiscard]] uint32_t FillSearch(std::string_view formula, GVNOTEID form);
  [[nodiscard]] uint32_t FillFullText(std::string_view query, uint32_t max, uint32_t& found);
  [[nodiscard]] uint32_t ApplyFullText(std::string_view query, uint32_t max, uint32_t& found);
  [[nodiscard]] uint32_t ApplySelection(std::string_view selection);
  void BuildViewEntries(const std::vector<Unid>* unids, const std::vector<Unid>* parents);
  void SetNotes(const std::vector<GVNOTEID>& notes);
  void Narrow(const std::unordered_set<GVNOTEID>& keep);
  void Reset();
  void MarkChildren();
  uint32_t EntryWord(size_t i) const;
  bool Passes(size_t i, uint32_t flags) const;
  // Tells the database which notes a forward walk opens next (Database::set_walk_span).
  void NameWalkSpan(bool forward);
  std::string EntryKey(size_t i) const;
  uint32_t EntryDup(size_t i) const;
  std::string Token(int64_t i) const;
  int64_t FindToken(std::string_view token, bool& ok) const;
  [[nodiscard]] uint32_t SnapshotSeq(int64_t& out) const;

  Database& db_;
  uint32_t classes_ = kClassDocument;
  Source source_ = Source::kNone;
  GVNOTEID view_ = 0;
  std::string formula_;
  GVNOTEID form_ = 0;
  std::string query_;
  uint32_t max_ = 0;
  std::vector<Refinement> refinements_;
  std::shared_ptr<const ViewDef> def_;
  int64_t seq_ = -1;  // the database's commit sequence at the last fill

  std::vector<Row> rows_;  // view fills, in sort-key order
  std::vector<Entry> entries_;
  int64_t pos_ = -1;     // -1 before the first entry, entries_.size() after the last
  int64_t anchor_ = -1;  // where GVNAV_FIRST_DESCENDANT started
  std::unordered_set<GVNOTEID> delivered_;
};

// The index of a valid GVINDEX, else null.
Index* FindIndex(GVINDEX index);
// A new empty index on db (a child of its handle).
[[nodiscard]] uint32_t OpenIndex(GVDB db, GVINDEX& out);

// The notes of classMask that selection (null: all) takes: among the given notes in their
// order, or among all such notes in note-id order.
[[nodiscard]] uint32_t SelectNotes(Database& db, const Formula* selection, uint32_t classMask,
                                   const std::vector<GVNOTEID>* among, std::vector<GVNOTEID>& out);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_INDEX_H_
