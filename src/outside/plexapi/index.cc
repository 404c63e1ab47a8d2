// Index snapshots: filled from a view's rows (categories and response hierarchy built in
// memory), from a formula search or a full-text search; navigated, positioned, key-searched
// and read cell by cell without touching the database again until a refresh.
#include "index.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "database.h"
#include "view_index.h"

namespace plexa {
namespace {

// Bytes of a sort key a saved position keeps (its text must fit GV_POSITION_SIZE).
constexpr size_t kPositionKeyBytes = 100;

// The view entries a fill reads with one statement (the LIMIT of its statements).
constexpr size_t kViewPage = 1000;

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<uint8_t>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

bool Unhex(std::string_view hex, std::string& out) {
  if (hex.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<char>(hi * 16 + lo));
  }
  out = std::move(bytes);
  return true;
}

bool ParseNumber(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(sep, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

// Words and "quoted phrases" of a full-text query, ASCII-case folded.
std::vector<std::string> QueryTerms(std::string_view query) {
  std::vector<std::string> terms;
  size_t i = 0;
  while (i < query.size()) {
    char c = query[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    size_t end;
    std::string_view term;
    if (c == '"') {
      end = query.find('"', i + 1);
      if (end == std::string_view::npos) end = query.size();
      term = query.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      end = query.find_first_of(" \t\r\n", i);
      if (end == std::string_view::npos) end = query.size();
      term = query.substr(i, end - i);
      i = end;
    }
    if (!term.empty()) terms.push_back(FoldAscii(term));
  }
  return terms;
}

[[nodiscard]] uint32_t NoteExists(Txn& txn, GVNOTEID id, uint32_t classMask, bool& out) {
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(txn, "SELECT class FROM note WHERE id=?", st, row, id)) return s;
  out = row && (static_cast<uint32_t>(st.Int(0)) & classMask & (kClassDocument | kClassInfo)) != 0;
  return 0;
}

struct NoteLink {
  Unid unid{};
  bool hasParent = false;
  Unid parent{};
};

struct UnidHash {
  size_t operator()(const Unid& u) const {
    size_t h = 0;
    std::memcpy(&h, u.data(), sizeof h);
    return h;
  }
};

}  // namespace

// ---------------------------------------------------------------- fills -------------------

uint32_t Index::SnapshotSeq(int64_t& out) const {
  return db_.CommitSeq(out);
}

void Index::Reset() {
  pos_ = -1;
  anchor_ = -1;
  delivered_.clear();
}

uint32_t Index::OpenView(GVNOTEID view) {
  if (uint32_t st = FillView(view)) return st;
  refinements_.clear();
  return 0;
}

uint32_t Index::Search(std::string_view formula, GVNOTEID form) {
  if (uint32_t st = FillSearch(formula, form)) return st;
  refinements_.clear();
  return 0;
}

uint32_t Index::FullTextSearch(std::string_view query, uint32_t flags, uint32_t maxDocuments,
                               uint32_t& found) {
  if ((flags & GVFTS_REFINE) != 0 && filled()) {
    if (uint32_t st = ApplyFullText(query, maxDocuments, found)) return st;
    refinements_.push_back(Refinement{true, std::string(query), maxDocuments});
    return 0;
  }
  if (uint32_t st = FillFullText(query, maxDocuments, found)) return st;
  refinements_.clear();
  return 0;
}

uint32_t Index::Refine(std::string_view selection) {
  if (!filled()) return Search(selection, 0);
  if (uint32_t st = ApplySelection(selection)) return st;
  refinements_.push_back(Refinement{false, std::string(selection), 0});
  return 0;
}

uint32_t Index::Refresh() {
  uint32_t found = 0;
  switch (source_) {
    case Source::kNone:
      Reset();
      return 0;
    case Source::kView: {
      // Nothing committed since the fill (not even a design change): its entries stand, and
      // a server polling its queue reads no view again while nothing happens.
      int64_t seq = 0;
      if (uint32_t st = SnapshotSeq(seq)) return st;
      if (seq == seq_ && refinements_.empty()) {
        Reset();
        return 0;
      }
      if (uint32_t st = FillView(view_)) return st;
      break;
    }
    case Source::kSearch:
      if (uint32_t st = FillSearch(std::string(formula_), form_)) return st;
      break;
    case Source::kFullText:
      if (uint32_t st = FillFullText(std::string(query_), max_, found)) return st;
      break;
  }
  for (const Refinement& r : refinements_) {
    uint32_t st = r.fullText ? ApplyFullText(r.text, r.max, found) : ApplySelection(r.text);
    if (st != 0) return st;
  }
  return 0;
}

uint32_t Index::FillView(GVNOTEID view) {
  DesignCache& cache = CacheOf(db_);
  if (uint32_t st = cache.Refresh()) return st;
  std::shared_ptr<const ViewDef> def = cache.View(view);
  if (!def) return Fail(GVERR_NO_VIEW, "note " + std::to_string(view));
  Txn txn(db_);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  int64_t seq = 0;
  if (uint32_t st = SnapshotSeq(seq)) return st;
  // PostgreSQL plans these reads before it knows the view, often without statistics of a
  // table just filled, and may then pick a bitmap scan and a sort of every entry left; the
  // key order of the primary key index is what is wanted.
  if (db_.pg() != nullptr) {
    if (uint32_t s = RunSqlUnwaited(txn, "SET LOCAL enable_bitmapscan = off")) return s;
    if (uint32_t s = RunSqlUnwaited(txn, "SET LOCAL enable_sort = off")) return s;
  }
  std::vector<Row> rows;
  // In pages, each from where the one before ended (in the snapshot of the transaction): a
  // page walks the view's key order in the index, where a whole view read at once is sorted
  // after the scan of the table by PostgreSQL's planner. Pages stay small beside the view so
  // that the plan PostgreSQL keeps for the statement (made without the parameters' values)
  // walks the index too.
  static const std::string kOrder =
      " ORDER BY sortkey, note, dup LIMIT " + std::to_string(kViewPage);
  static const std::string kFirstPage =
      "SELECT sortkey, note, dup, cells FROM view_entry WHERE view=?" + kOrder;
  static const std::string kNextPage =
      "SELECT sortkey, note, dup, cells FROM view_entry WHERE view=? "
      "AND (sortkey, note, dup) > (?, ?, ?)" +
      kOrder;
  for (;;) {
    Stmt st;
    if (uint32_t s = rows.empty() ? Query(txn, kFirstPage, st, view)
                                  : Query(txn, kNextPage, st, view, AsBlob(rows.back().sortkey),
                                          rows.back().note, rows.back().dup))
      return s;
    size_t before = rows.size();
    if (uint32_t s = st.ForEachRow([&](const Stmt& q) {
          Row r;
          r.sortkey = std::string(q.Blob(0));
          r.note = static_cast<GVNOTEID>(q.Int(1));
          r.dup = static_cast<uint32_t>(q.Int(2));
          r.cells = std::string(q.Blob(3));
          rows.push_back(std::move(r));
        }))
      return s;
    if (rows.size() - before < kViewPage) break;
  }
  std::unordered_map<GVNOTEID, NoteLink> links;
  if (def->responses()) {
    Stmt st;
    if (uint32_t s = Query(txn,
                           "SELECT id, unid, parent FROM note WHERE id IN "
                           "(SELECT note FROM view_entry WHERE view=?)",
                           st, view))
      return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& q) {
          NoteLink l;
          std::string_view unid = q.Blob(1), parent = q.Blob(2);
          if (unid.size() == l.unid.size()) std::memcpy(l.unid.data(), unid.data(), unid.size());
          if (parent.size() == l.parent.size()) {
            l.hasParent = true;
            std::memcpy(l.parent.data(), parent.data(), parent.size());
          }
          links[static_cast<GVNOTEID>(q.Int(0))] = l;
        }))
      return s;
  }
  if (uint32_t st = txn.Commit()) return st;

  source_ = Source::kView;
  view_ = view;
  def_ = std::move(def);
  seq_ = seq;
  rows_ = std::move(rows);
  entries_.clear();
  Reset();

  // Responses move beneath their parents when the view asks for it; a parent chain that
  // loops is cut where it closes, so every note is emitted once.
  std::unordered_map<GVNOTEID, GVNOTEID> parentOf;
  std::unordered_map<GVNOTEID, std::vector<size_t>> children;
  if (def_->responses()) {
    std::unordered_map<Unid, GVNOTEID, UnidHash> byUnid;
    for (const auto& [note, l] : links) byUnid.emplace(l.unid, note);
    for (const auto& [note, l] : links) {
      if (!l.hasParent) continue;
      auto it = byUnid.find(l.parent);
      if (it != byUnid.end() && it->second != note) parentOf[note] = it->second;
    }
    std::unordered_map<GVNOTEID, int> state;  // 1 on the current path, 2 settled
    for (const auto& [start, unused] : links) {
      std::vector<GVNOTEID> path;
      GVNOTEID x = start;
      while (state[x] == 0 && parentOf.count(x) != 0) {
        state[x] = 1;
        path.push_back(x);
        x = parentOf[x];
      }
      if (state[x] == 1) {
        // x closes a loop: the notes from x on are all in it and become main documents.
        auto from = std::find(path.begin(), path.end(), x);
        for (auto it = from; it != path.end(); ++it) parentOf.erase(*it);
      }
      for (GVNOTEID n : path) state[n] = 2;
      state[x] = 2;
    }
    for (size_t r = 0; r < rows_.size(); ++r) {
      auto it = parentOf.find(rows_[r].note);
      if (it != parentOf.end()) children[it->second].push_back(r);
    }
  }

  const std::vector<ColumnDef>& cols = def_->columns;
  std::vector<size_t> sorted;
  for (size_t c = 0; c < cols.size(); ++c)
    if (cols[c].sorted()) sorted.push_back(c);
  uint32_t categories = 0;
  for (const ColumnDef& c : cols)
    if (c.category()) ++categories;

  std::vector<std::string> prev(categories);
  bool first = true;
  std::unordered_set<GVNOTEID> expanded;
  auto emit = [&](GVNOTEID note, uint32_t level, uint32_t flags, size_t row) {
    Entry e;
    e.note = note;
    e.level = level;
    e.flags = flags;
    e.row = static_cast<int64_t>(row);
    rows_[row].entry = static_cast<int64_t>(entries_.size());
    entries_.push_back(e);
  };
  for (size_t r = 0; r < rows_.size(); ++r) {
    const Row& row = rows_[r];
    if (parentOf.count(row.note) != 0) continue;
    size_t at = 0;
    uint32_t depth = 0;
    bool changed = first;
    for (size_t k = 0; k < sorted.size(); ++k) {
      const ColumnDef& col = cols[sorted[k]];
      size_t len = KeyPartLength(row.sortkey, at, col.descending());
      if (len == 0) len = row.sortkey.size() - at;
      if (col.category()) {
        std::string_view part(row.sortkey.data() + at, len);
        if (!changed && part != prev[depth]) changed = true;
        if (changed) {
          Entry e;
          e.level = depth;
          e.flags = GVENTRY_CATEGORY;
          e.row = static_cast<int64_t>(r);
          e.column = static_cast<uint32_t>(sorted[k]);
          e.keyLength = static_cast<uint32_t>(at + len);
          entries_.push_back(e);
          prev[depth] = std::string(part);
        }
        ++depth;
      }
      at += len;
    }
    first = false;
    emit(row.note, categories, 0, r);
    if (children.empty() || !expanded.insert(row.note).second) continue;
    struct Frame {
      GVNOTEID parent;
      size_t next;
      uint32_t level;
    };
    std::vector<Frame> stack{{row.note, 0, categories + 1}};
    while (!stack.empty()) {
      Frame& f = stack.back();
      auto it = children.find(f.parent);
      if (it == children.end() || f.next >= it->second.size()) {
        stack.pop_back();
        continue;
      }
      size_t child = it->second[f.next++];
      uint32_t level = f.level;
      GVNOTEID note = rows_[child].note;
      emit(note, level, GVENTRY_RESPONSE, child);
      if (expanded.insert(note).second && children.count(note) != 0)
        stack.push_back(Frame{note, 0, level + 1});
    }
  }
  MarkChildren();
  return 0;
}

void Index::SetNotes(const std::vector<GVNOTEID>& notes) {
  rows_.clear();
  def_.reset();
  entries_.clear();
  entries_.reserve(notes.size());
  for (GVNOTEID n : notes) {
    Entry e;
    e.note = n;
    entries_.push_back(e);
  }
  Reset();
}

uint32_t Index::FillSearch(std::string_view formula, GVNOTEID form) {
  FormulaPtr selection;
  if (uint32_t st = CompileOptional(formula, "selection", selection)) return st;
  std::string formKey;
  if (form != 0) {
    std::string name;
    if (uint32_t st = DesignElementName(db_, kClassForm, form, name)) return st;
    formKey = FoldAscii(name);
  }
  Txn txn(db_);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  int64_t seq = 0;
  if (uint32_t st = SnapshotSeq(seq)) return st;
  const bool needItems = selection && !SelectsAll(*selection);
  // Only the items the selection reads are loaded: a search by form reads one item a note.
  std::vector<std::string> read;
  if (needItems) read = ItemsRead(*selection);
  std::vector<GVNOTEID> notes;
  uint32_t st = ScanNotes(
      txn, classes_, formKey, needItems,
      [&](GVNOTEID note, std::vector<StoredItem>& items) -> uint32_t {
        if (needItems) {
          std::unique_ptr<ItemSource> src = MakeItemSource(std::move(items));
          if (!Selects(*selection, *src)) return 0;
        }
        notes.push_back(note);
        return 0;
      },
      &read);
  if (st != 0) return st;
  if (uint32_t s = txn.Commit()) return s;
  source_ = Source::kSearch;
  formula_ = std::string(formula);
  form_ = form;
  seq_ = seq;
  SetNotes(notes);
  return 0;
}

uint32_t Index::FillFullText(std::string_view query, uint32_t max, uint32_t& found) {
  Txn txn(db_);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  int64_t seq = 0;
  if (uint32_t st = SnapshotSeq(seq)) return st;
  std::vector<GVNOTEID> notes;
  if (uint32_t st = FullTextNotes(txn, QueryTerms(query), classes_, notes)) return st;
  if (uint32_t s = txn.Commit()) return s;
  if (max != 0 && notes.size() > max) notes.resize(max);
  source_ = Source::kFullText;
  query_ = std::string(query);
  max_ = max;
  seq_ = seq;
  SetNotes(notes);
  found = static_cast<uint32_t>(notes.size());
  return 0;
}

uint32_t Index::ApplyFullText(std::string_view query, uint32_t max, uint32_t& found) {
  std::vector<GVNOTEID> matching;
  {
    Txn txn(db_);
    if (uint32_t st = txn.Begin(Txn::kRead)) return st;
    if (uint32_t st = FullTextNotes(txn, QueryTerms(query), kClassDocument | kClassInfo, matching))
      return st;
    if (uint32_t st = txn.Commit()) return st;
  }
  std::unordered_set<GVNOTEID> hits(matching.begin(), matching.end());
  std::unordered_set<GVNOTEID> keep;
  for (GVNOTEID n : Notes()) {
    if (max != 0 && keep.size() >= max) break;
    if (hits.count(n) != 0) keep.insert(n);
  }
  Narrow(keep);
  found = static_cast<uint32_t>(keep.size());
  return 0;
}

uint32_t Index::ApplySelection(std::string_view selection) {
  FormulaPtr formula;
  if (uint32_t st = CompileOptional(selection, "selection", formula)) return st;
  std::vector<GVNOTEID> notes = Notes();
  std::vector<GVNOTEID> selected;
  if (uint32_t st = SelectNotes(db_, formula.get(), kClassDocument | kClassInfo, &notes, selected))
    return st;
  Narrow(std::unordered_set<GVNOTEID>(selected.begin(), selected.end()));
  return 0;
}

void Index::Narrow(const std::unordered_set<GVNOTEID>& keep) {
  // Backwards, so that a category is kept only when what follows it still lies beneath it.
  std::vector<Entry> reversed;
  for (size_t i = entries_.size(); i-- > 0;) {
    const Entry& e = entries_[i];
    if (e.note != 0) {
      if (keep.count(e.note) != 0) reversed.push_back(e);
    } else if (!reversed.empty() && reversed.back().level > e.level) {
      reversed.push_back(e);
    }
  }
  entries_.assign(reversed.rbegin(), reversed.rend());
  for (Row& r : rows_) r.entry = -1;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].note != 0 && entries_[i].row >= 0)
      rows_[static_cast<size_t>(entries_[i].row)].entry = static_cast<int64_t>(i);
  MarkChildren();
  Reset();
}

void Index::MarkChildren() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    entries_[i].flags &= ~GVENTRY_HAS_CHILDREN;
    if (i + 1 < entries_.size() && entries_[i + 1].level > entries_[i].level)
      entries_[i].flags |= GVENTRY_HAS_CHILDREN;
  }
}

std::vector<GVNOTEID> Index::Notes() const {
  std::vector<GVNOTEID> out;
  std::unordered_set<GVNOTEID> seen;
  for (const Entry& e : entries_)
    if (e.note != 0 && seen.insert(e.note).second) out.push_back(e.note);
  return out;
}

// ---------------------------------------------------------------- walking -----------------

uint32_t Index::Count() const {
  return static_cast<uint32_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.note != 0; }));
}

uint32_t Index::EntryWord(size_t i) const {
  const Entry& e = entries_[i];
  return e.flags | (std::min<uint32_t>(e.level, 255) << 8);
}

bool Index::Passes(size_t i, uint32_t flags) const {
  const Entry& e = entries_[i];
  if ((flags & GVNAVF_DOCUMENTS) != 0 && e.note == 0) return false;
  if ((flags & GVNAVF_UNIQUE) != 0 && e.note != 0 && delivered_.count(e.note) != 0) return false;
  return true;
}

uint32_t Index::Navigate(uint32_t direction, uint32_t flags, GVNOTEID& note, uint32_t& entryFlags) {
  const int64_t n = static_cast<int64_t>(entries_.size());
  const bool on = pos_ >= 0 && pos_ < n;
  int64_t target = -1;
  auto forward = [&](int64_t from, auto&& accept) {
    for (int64_t i = std::max<int64_t>(from, 0); i < n; ++i)
      if (accept(i) && Passes(static_cast<size_t>(i), flags)) return i;
    return int64_t{-1};
  };
  auto backward = [&](int64_t from, auto&& accept) {
    for (int64_t i = std::min<int64_t>(from, n - 1); i >= 0; --i)
      if (accept(i) && Passes(static_cast<size_t>(i), flags)) return i;
    return int64_t{-1};
  };
  auto any = [](int64_t) { return true; };
  auto main = [&](int64_t i) {
    return (entries_[static_cast<size_t>(i)].flags & GVENTRY_RESPONSE) == 0;
  };
  switch (direction) {
    case GVNAV_NEXT:
      target = (flags & GVNAVF_BACKWARD) != 0 ? backward(pos_ - 1, any) : forward(pos_ + 1, any);
      break;
    case GVNAV_PREV:
      target = backward(pos_ - 1, any);
      break;
    case GVNAV_NEXT_MAIN:
      target = (flags & GVNAVF_BACKWARD) != 0 ? backward(pos_ - 1, main) : forward(pos_ + 1, main);
      break;
    case GVNAV_CURRENT:
      if (on && !((flags & GVNAVF_DOCUMENTS) != 0 && entries_[static_cast<size_t>(pos_)].note == 0))
        target = pos_;
      else if (pos_ < n)
        target = forward(pos_ + 1, any);
      break;
    case GVNAV_FIRST_DESCENDANT:
      if (on) {
        const uint32_t level = entries_[static_cast<size_t>(pos_)].level;
        for (int64_t i = pos_ + 1; i < n && entries_[static_cast<size_t>(i)].level > level; ++i)
          if (Passes(static_cast<size_t>(i), flags)) {
            target = i;
            break;
          }
      }
      break;
    case GVNAV_NEXT_DESCENDANT:
      if (on && anchor_ >= 0 && anchor_ < n && pos_ > anchor_) {
        const uint32_t level = entries_[static_cast<size_t>(anchor_)].level;
        for (int64_t i = pos_ + 1; i < n && entries_[static_cast<size_t>(i)].level > level; ++i)
          if (Passes(static_cast<size_t>(i), flags)) {
            target = i;
            break;
          }
      }
      break;
    case GVNAV_PARENT:
      if (on) {
        uint32_t level = entries_[static_cast<size_t>(pos_)].level;
        for (int64_t i = pos_ - 1; i >= 0 && level > 0; --i) {
          const Entry& e = entries_[static_cast<size_t>(i)];
          if (e.level >= level) continue;
          if (Passes(static_cast<size_t>(i), flags)) {
            target = i;
            break;
          }
          level = e.level;
        }
      }
      break;
    default:
      return Fail(GVERR_INVALID_ARGUMENT, "direction " + std::to_string(direction));
  }
  if (target < 0) return GVERR_NO_MORE;
  const Entry& e = entries_[static_cast<size_t>(target)];
  if ((flags & GVNAVF_PEEK) == 0) {
    if (direction == GVNAV_FIRST_DESCENDANT) anchor_ = pos_;
    pos_ = target;
    if (e.note != 0) delivered_.insert(e.note);
    NameWalkSpan(direction == GVNAV_NEXT && (flags & GVNAVF_BACKWARD) == 0);
  }
  note = e.note;
  entryFlags = EntryWord(static_cast<size_t>(target));
  return 0;
}

void Index::NameWalkSpan(bool forward) {
  // The notes of a search or full-text result stand in ascending id order, one entry each.
  constexpr int64_t kSpan = 64;
  const int64_t n = static_cast<int64_t>(entries_.size());
  const bool ascending = source_ == Source::kSearch || source_ == Source::kFullText;
  if (!forward || !ascending || pos_ < 0 || pos_ + 1 >= n) {
    db_.set_walk_span(0, 0);
    return;
  }
  const int64_t last = std::min(pos_ + kSpan - 1, n - 1);
  const GVNOTEID from = entries_[static_cast<size_t>(pos_)].note;
  const GVNOTEID to = entries_[static_cast<size_t>(last)].note;
  // Ids go in steps of 2: a span where other notes outnumber the walk's is read one by one.
  const bool dense = to > from && to - from <= static_cast<GVNOTEID>(4 * (last - pos_));
  db_.set_walk_span(dense ? from : 0, dense ? to : 0);
}

uint32_t Index::SetPosition(uint32_t position) {
  anchor_ = -1;
  if (position == 0) {
    pos_ = -1;
    return 0;
  }
  uint32_t seen = 0;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].level != 0) continue;
    if (++seen == position) {
      pos_ = static_cast<int64_t>(i);
      return 0;
    }
  }
  pos_ = static_cast<int64_t>(entries_.size());
  return 0;
}

// ---------------------------------------------------------------- positions ---------------

std::string Index::EntryKey(size_t i) const {
  const Entry& e = entries_[i];
  if (e.row < 0) return {};
  const std::string& key = rows_[static_cast<size_t>(e.row)].sortkey;
  return e.note == 0 ? key.substr(0, e.keyLength) : key;
}

uint32_t Index::EntryDup(size_t i) const {
  const Entry& e = entries_[i];
  if (e.note == 0) return e.level;
  return e.row >= 0 ? rows_[static_cast<size_t>(e.row)].dup : 0;
}

std::string Index::Token(int64_t i) const {
  if (i < 0) return "B";
  if (i >= static_cast<int64_t>(entries_.size())) return "E";
  std::string key = EntryKey(static_cast<size_t>(i));
  return std::to_string(i) + "," + std::to_string(entries_[static_cast<size_t>(i)].note) + "," +
         std::to_string(EntryDup(static_cast<size_t>(i))) + "," +
         Hex(std::string_view(key).substr(0, kPositionKeyBytes));
}

// The entry a token names, or where it would stand now: the same note (and list entry)
// elsewhere, else the first entry at or after its place in sort order.
int64_t Index::FindToken(std::string_view token, bool& ok) const {
  ok = true;
  const int64_t n = static_cast<int64_t>(entries_.size());
  if (token == "B" || token == "N") return -1;
  if (token == "E") return n;
  std::vector<std::string_view> f = Split(token, ',');
  uint64_t idx = 0, note = 0, dup = 0;
  std::string key;
  if (f.size() != 4 || !ParseNumber(f[0], UINT32_MAX, idx) ||
      !ParseNumber(f[1], kMaxNoteId, note) || !ParseNumber(f[2], UINT32_MAX, dup) ||
      !Unhex(f[3], key) || key.size() > kPositionKeyBytes) {
    ok = false;
    return -1;
  }
  auto matches = [&](size_t i) {
    return entries_[i].note == note && EntryDup(i) == dup &&
           std::string_view(EntryKey(i)).substr(0, kPositionKeyBytes) == key;
  };
  if (static_cast<int64_t>(idx) < n && matches(static_cast<size_t>(idx)))
    return static_cast<int64_t>(idx);
  for (size_t i = 0; i < entries_.size(); ++i)
    if (matches(i)) return static_cast<int64_t>(i);
  if (source_ == Source::kView) {
    for (const Row& r : rows_) {
      if (r.entry < 0) continue;
      int c = r.sortkey.compare(key);
      if (c > 0 || (c == 0 && (r.note > note || (r.note == note && r.dup >= dup)))) return r.entry;
    }
    return n;
  }
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].note >= note) return static_cast<int64_t>(i);
  return n;
}

uint32_t Index::GetViewPosition(uint32_t flags, std::string& out) const {
  std::string text = "v1;" + Token(pos_);
  if ((flags & GVPOSF_WALK) != 0) text += ";" + (anchor_ < 0 ? std::string("N") : Token(anchor_));
  out = std::move(text);
  return 0;
}

uint32_t Index::SetViewPosition(std::string_view text) {
  std::vector<std::string_view> parts = Split(text, ';');
  if (parts.size() < 2 || parts.size() > 3 || parts[0] != "v1")
    return Fail(GVERR_INVALID_ARGUMENT, "not a saved position");
  bool ok = false;
  int64_t pos = FindToken(parts[1], ok);
  if (!ok) return Fail(GVERR_INVALID_ARGUMENT, "not a saved position");
  int64_t anchor = -1;
  if (parts.size() == 3) {
    anchor = FindToken(parts[2], ok);
    if (!ok) return Fail(GVERR_INVALID_ARGUMENT, "not a saved position");
    if (anchor >= static_cast<int64_t>(entries_.size())) anchor = -1;
  }
  pos_ = pos;
  anchor_ = anchor;
  return 0;
}

// ---------------------------------------------------------------- key search --------------

uint32_t Index::KeySearch(std::span<const GVKey> keys, uint32_t& matches) {
  if (source_ != Source::kView) return Fail(GVERR_NOT_SUPPORTED, "key search needs a view");
  if (keys.empty()) return Fail(GVERR_INVALID_ARGUMENT, "no key");
  int64_t seq = 0;
  if (uint32_t st = SnapshotSeq(seq)) return st;
  if (seq != seq_)
    if (uint32_t st = Refresh()) return st;
  const std::vector<ColumnDef>& cols = def_->columns;
  std::vector<size_t> sorted;
  for (size_t c = 0; c < cols.size(); ++c)
    if (cols[c].sorted()) sorted.push_back(c);
  bool leading = keys.size() <= sorted.size();
  std::vector<std::string> parts;
  for (size_t k = 0; k < keys.size(); ++k) {
    const GVKey& key = keys[k];
    if (key.column == 0 || key.column > cols.size())
      return Fail(GVERR_NO_COLUMN, "key column " + std::to_string(key.column));
    const size_t c = key.column - 1;
    if (leading && sorted[k] != c) leading = false;
    std::string part;
    switch (key.kind) {
      case GVTYPE_NUMBER:
        AppendNumberKey(part, key.number, false);
        break;
      case GVTYPE_TIME:
        AppendTimeKey(part, key.time, false);
        break;
      case GVTYPE_TEXT:
        AppendTextKey(part, key.text != nullptr ? std::string_view(key.text) : std::string_view(),
                      false);
        break;
      default:
        return Fail(GVERR_INVALID_ARGUMENT, "key kind " + std::to_string(key.kind));
    }
    parts.push_back(std::move(part));
  }
  Reset();
  int64_t first = -1;
  uint32_t count = 0;
  if (leading) {
    // The keys are the leading sorted columns: their encoded prefix is found by binary search
    // and the matches are the rows that carry it.
    std::string prefix;
    for (size_t k = 0; k < parts.size(); ++k) {
      std::string part = parts[k];
      if (cols[sorted[k]].descending())
        for (char& ch : part) ch = static_cast<char>(~ch);
      prefix += part;
    }
    auto it = std::lower_bound(rows_.begin(), rows_.end(), prefix,
                               [](const Row& r, const std::string& p) { return r.sortkey < p; });
    for (; it != rows_.end() && it->sortkey.compare(0, prefix.size(), prefix) == 0; ++it) {
      if (it->entry < 0) continue;
      if (first < 0) first = it->entry;
      ++count;
    }
  } else {
    for (size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (e.note == 0 || e.row < 0) continue;
      const Row& r = rows_[static_cast<size_t>(e.row)];
      bool all = true;
      for (size_t k = 0; k < keys.size() && all; ++k) {
        Value v;
        const bool present = ReadCell(r.cells, keys[k].column - 1, v);
        std::string part;
        AppendKeyPart(part, present ? &v : nullptr, 0, false);
        all = part == parts[k];
      }
      if (all) {
        if (first < 0) first = static_cast<int64_t>(i);
        ++count;
      } else if (first >= 0) {
        break;
      }
    }
  }
  if (first < 0) {
    matches = 0;
    return Fail(GVERR_KEY_NOT_FOUND);
  }
  pos_ = first;
  matches = count;
  return 0;
}

// ---------------------------------------------------------------- cells -------------------

uint32_t Index::Cell(uint32_t column, Value& out, bool& present) const {
  if (source_ != Source::kView || !def_ || column == 0 || column > def_->columns.size())
    return Fail(GVERR_NO_COLUMN, "column " + std::to_string(column));
  if (pos_ < 0 || pos_ >= static_cast<int64_t>(entries_.size())) return Fail(GVERR_NOT_POSITIONED);
  const Entry& e = entries_[static_cast<size_t>(pos_)];
  if (e.row < 0 || (e.note == 0 && e.column != column - 1)) {
    present = false;
    return 0;
  }
  present = ReadCell(rows_[static_cast<size_t>(e.row)].cells, column - 1, out);
  return 0;
}

// ---------------------------------------------------------------- documents ---------------

uint32_t Index::DeleteAll() {
  std::vector<GVNOTEID> notes = Notes();
  if (notes.empty()) return Fail(GVERR_NO_ENTRY, "the index has no documents");
  LastError saved = GetLastError();
  Txn txn(db_);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  for (GVNOTEID n : notes) {
    uint32_t st = DeleteNote(txn, n);
    if (st == GVERR_NO_ENTRY) continue;  // another process deleted it first
    if (st != 0) return st;
  }
  if (uint32_t st = txn.Commit()) return st;
  RestoreLastError(std::move(saved));
  rows_.clear();
  entries_.clear();
  Reset();
  return 0;
}

uint32_t Index::CopyHierarchy(Database& target, GVNOTEID& note) {
  GVNOTEID id = note;
  if (id == 0) {
    if (pos_ < 0 || pos_ >= static_cast<int64_t>(entries_.size()) ||
        entries_[static_cast<size_t>(pos_)].note == 0)
      return Fail(GVERR_NOT_POSITIONED);
    id = entries_[static_cast<size_t>(pos_)].note;
  }
  NoteRow row;
  std::vector<StoredItem> items;
  std::vector<AttachmentRow> attachments;
  {
    Txn txn(db_);
    if (uint32_t st = txn.Begin(Txn::kRead)) return st;
    if (uint32_t st = ReadNote(txn, id, row)) return st;
    if (row.cls != kClassDocument && row.cls != kClassInfo)
      return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id) + " is not a document");
    if (uint32_t st = ReadItems(txn, id, items)) return st;
    if (uint32_t st = ReadAttachmentRows(txn, id, attachments)) return st;
  }
  Txn txn(target);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  NoteRow copy;
  copy.cls = row.cls;
  copy.form_key = row.form_key;
  copy.has_parent = row.has_parent;
  copy.parent = row.parent;
  copy.created = row.created;
  copy.seq = 1;
  if (uint32_t st = InsertNote(txn, copy)) return st;
  if (uint32_t st = InsertItemRows(txn, copy.id, items)) return st;
  for (const AttachmentRow& a : attachments)
    if (uint32_t st = WriteAttachmentRow(txn, copy.id, a.name, a.data, a.size, a.modified))
      return st;
  if (copy.cls == kClassDocument) {
    std::unique_ptr<ItemSource> source = MakeItemSource(std::move(items));
    if (uint32_t st = CacheOf(target).indexer().OnStore(txn, copy.id, *source)) return st;
  }
  if (uint32_t st = txn.Commit()) return st;
  note = copy.id;
  return 0;
}

// ---------------------------------------------------------------- handles -----------------

Index* FindIndex(GVINDEX index) {
  return Find<Index>(index);
}

uint32_t OpenIndex(GVDB db, GVINDEX& out) {
  Database* d = FindDatabase(db);
  if (d == nullptr) return Fail(GVERR_INVALID_HANDLE, "database");
  return AddHandle(std::make_unique<Index>(*d), db, out);
}

uint32_t SelectNotes(Database& db, const Formula* selection, uint32_t classMask,
                     const std::vector<GVNOTEID>* among, std::vector<GVNOTEID>& out) {
  const bool needItems = selection != nullptr && !SelectsAll(*selection);
  std::vector<GVNOTEID> selected;
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  if (among != nullptr) {
    for (GVNOTEID n : *among) {
      bool exists = false;
      if (uint32_t st = NoteExists(txn, n, classMask, exists)) return st;
      if (!exists) continue;
      if (needItems) {
        std::unique_ptr<ItemSource> src;
        if (uint32_t st = LoadNoteSource(txn, n, src)) return st;
        if (!Selects(*selection, *src)) continue;
      }
      selected.push_back(n);
    }
  } else {
    uint32_t st = ScanNotes(txn, classMask, {}, needItems,
                            [&](GVNOTEID note, std::vector<StoredItem>& items) -> uint32_t {
                              if (needItems) {
                                std::unique_ptr<ItemSource> src = MakeItemSource(std::move(items));
                                if (!Selects(*selection, *src)) return 0;
                              }
                              selected.push_back(note);
                              return 0;
                            });
    if (st != 0) return st;
  }
  if (uint32_t st = txn.Commit()) return st;
  out = std::move(selected);
  return 0;
}

}  // namespace plexa
