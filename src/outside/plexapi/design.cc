// Forms, views and agents as design notes: their tables, the per-database cache of their
// compiled formulas, the form catalogue that gives new documents their defaults, and the
// create, locate, list, delete and copy operations.
#include "design.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "document.h"
#include "ipc.h"
#include "richtext.h"
#include "session.h"
#include "tw/coding.h"
#include "value.h"
#include "view_index.h"

namespace plexa {
namespace {

std::span<const uint8_t> Span(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The text of a stored text item (its first entry), or "".
std::string StoredText(uint32_t type, std::string_view bytes) {
  Value v;
  if (DecodeItem(type, Span(bytes), v) != 0 || !IsTextType(v.type) || v.texts.empty()) return {};
  return v.texts.front();
}

// The name inside a stored GVFormDesign.
std::string FormDesignName(std::string_view design) {
  constexpr size_t kAt = offsetof(GVFormDesign, name);
  if (design.size() <= kAt) return {};
  std::string_view name = design.substr(kAt, sizeof(GVFormDesign::name));
  return std::string(name.substr(0, name.find('\0')));
}

[[nodiscard]] uint32_t InsertTitle(Txn& txn, GVNOTEID id, std::string_view name) {
  std::vector<uint8_t> value;
  if (uint32_t st = EncodeItem(Value::Text(std::string(name)), value)) return st;
  StoredItem title;
  title.name = kTitleItem;
  title.type = GVTYPE_TEXT;
  title.value = std::move(value);
  std::string packed;
  PackItem(title, packed);
  return RunSql(txn, "UPDATE note SET items=? WHERE id=?", AsBlob(packed), id);
}

[[nodiscard]] uint32_t ReadTitle(Txn& txn, GVNOTEID id, std::string& out) {
  std::vector<StoredItem> items;
  if (uint32_t s = ReadItems(txn, id, items)) return s;
  out.clear();
  for (const StoredItem& it : items) {
    if (FoldAscii(it.name) != FoldAscii(kTitleItem)) continue;
    out = StoredText(
        it.type, std::string_view(reinterpret_cast<const char*>(it.value.data()), it.value.size()));
    break;
  }
  return 0;
}

// A new design note of class cls named name (GVERR_EXISTS when the name is taken).
[[nodiscard]] uint32_t InsertDesignNote(Txn& txn, uint32_t cls, std::string_view name,
                                        GVNOTEID& out) {
  NoteRow row;
  row.cls = cls;
  row.design_key = FoldAscii(name);
  if (uint32_t st = InsertNote(txn, row)) {
    if (st == GVERR_EXISTS) return Fail(GVERR_EXISTS, name);
    return st;
  }
  if (uint32_t st = InsertTitle(txn, row.id, name)) return st;
  out = row.id;
  return 0;
}

// Checks that id is a note of class cls.
[[nodiscard]] uint32_t CheckClass(Txn& txn, uint32_t cls, GVNOTEID id) {
  if (id == 0 || (id & 1) != 0 || id > kMaxNoteId)
    return Fail(MissingStatus(cls), "note " + std::to_string(id));
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(txn, "SELECT class FROM note WHERE id=?", st, row, id)) return s;
  if (!row || static_cast<uint32_t>(st.Int(0)) != cls)
    return Fail(MissingStatus(cls), "note " + std::to_string(id));
  return 0;
}

// Invalidates the cache when a design change of this process ends, committed or not: a
// rolled-back change must not leave the cache believing it saw that sequence.
struct DesignChange {
  Database& db;
  ~DesignChange() { CacheOf(db).Invalidate(); }
};

// Whether the view whose style and maker_token are the columns at and after at of st is an
// orphaned temporary view.
bool OrphanedAt(const Stmt& st, int at) {
  return st.Int(at) == GVVIEW_TEMPORARY && !st.IsNull(at + 1) &&
         !tw::ProcessMarkAlive(st.Text(at + 1));
}

// A temporary view belongs to the process that made it (its mark names the process by its
// id and start, so a later process given the same id is not taken for it). When that
// process is gone (killed runs never delete theirs), the view is removed the next time its
// name is tried, so the names do not run out. A view whose maker is unknown is kept.
template <class Db>
uint32_t Orphaned(Db& db, GVNOTEID view, bool& out) {
  out = false;
  Stmt st;
  bool row = false;
  if (uint32_t s =
          QueryRow(db, "SELECT style, maker_token FROM view_def WHERE view=?", st, row, view))
    return s;
  out = row && OrphanedAt(st, 0);
  return 0;
}

// Removes the view when it is an orphaned temporary one (write transaction); removed tells.
uint32_t RemoveIfOrphaned(Txn& txn, GVNOTEID view, bool& removed) {
  removed = false;
  bool orphaned = false;
  if (uint32_t s = Orphaned(txn, view, orphaned)) return s;
  if (!orphaned) return 0;
  if (uint32_t s = RunSql(txn, "DELETE FROM view_entry WHERE view=?", view)) return s;
  if (uint32_t s = DeleteNote(txn, view)) return s;
  if (uint32_t s = txn.BumpDesignSeq()) return s;
  removed = true;
  return 0;
}

// The view named by key (a folded name), 0 for none.
uint32_t ViewByKey(Txn& txn, const std::string& key, GVNOTEID& out) {
  Stmt st;
  bool row = false;
  if (uint32_t s = QueryRow(txn, "SELECT id FROM note WHERE class=? AND design_key=?", st, row,
                            kClassView, key))
    return s;
  out = row ? static_cast<GVNOTEID>(st.Int(0)) : 0;
  return 0;
}

std::string StandardColumnRecord() {
  std::string r(sizeof(GVViewColumn), '\0');
  tw::put_u32(&r[0], 80);
  r[23] = 0x0A;
  r[24] = 1;
  tw::put_u32(&r[48], 2);
  tw::put_u32(&r[52], 2);
  tw::put_u32(&r[56], 14);
  return r;
}

std::string StandardDisplay() {
  std::string d(16, '\0');
  d[15 - 12] = 0x0A;
  d[19 - 12] = 0x0A;
  d[23 - 12] = 0x0A;
  return d;
}

// The form catalogue of one database: field tables and defaults.
class Catalog : public FormCatalog {
 public:
  explicit Catalog(DesignCache& cache) : cache_(cache) {}

  uint32_t Defaults(Txn& txn, GVNOTEID form, ItemSink& doc) override {
    if (uint32_t st = cache_.Refresh()) return st;
    const FormDef* f = cache_.Form(form);
    if (f == nullptr) return Fail(GVERR_NO_FORM, "note " + std::to_string(form));
    // Copied: a default formula reading the database could not reload the cache now, but
    // keep the walk independent of it anyway.
    std::vector<FormField> fields = f->fields;
    for (const FormField& field : fields) {
      if (field.defaultText.empty()) continue;
      FormulaPtr formula;
      uint32_t offset = 0;
      if (Compile(field.defaultText, formula, offset) != 0) continue;
      Value v;
      if (Evaluate(*formula, doc, v) != 0) continue;
      if (uint32_t st = Put(doc, field, std::move(v))) return st;
    }
    return 0;
  }

  bool IsField(GVNOTEID form, std::string_view item) override {
    LastError saved = GetLastError();
    uint32_t st = cache_.Refresh();
    RestoreLastError(std::move(saved));
    if (st != 0) return false;
    const FormDef* f = cache_.Form(form);
    return f != nullptr && f->Field(item) != nullptr;
  }

 private:
  // A default of a list field stays a list even with one entry, so that the field's readers
  // find the type they expect.
  static uint32_t Put(ItemSink& doc, const FormField& field, Value v) {
    auto* d = dynamic_cast<Document*>(&doc);
    uint32_t type = field.type();
    bool listField =
        type == GVTYPE_TEXT_LIST || type == GVTYPE_NUMBER_LIST || type == GVTYPE_TIME_LIST;
    if (d != nullptr && listField && !v.unavailable && SingleOf(type) == SingleOf(v.type)) {
      v.type = type;
      std::vector<uint8_t> bytes;
      if (uint32_t st = EncodeItem(v, bytes)) return st;
      return d->Replace(field.name, type, {std::move(bytes)});
    }
    return doc.Set(field.name, v);
  }

  DesignCache& cache_;
};

class Hooks : public DesignHooks {
 public:
  IndexMaintainer* Indexer(Database& db) override { return &CacheOf(db).indexer(); }
  FormCatalog* Forms(Database& db) override { return &CacheOf(db).catalog(); }
};

// Installed as soon as the library is loaded; design calls check again (a static archive
// keeps this file only when one of them is linked).
[[maybe_unused]] const bool g_installed = (EnsureDesignHooks(), true);

}  // namespace

void EnsureDesignHooks() {
  static Hooks* hooks = new Hooks;  // never destroyed: databases may close during exit
  // Hooks a test installed in their place stay.
  if (InstalledDesignHooks() == nullptr) InstallDesignHooks(hooks);
}

// ---------------------------------------------------------------- definitions -------------

uint32_t FormField::type() const {
  return head.size() >= 4 ? tw::get_u32(head.data()) : 0;
}
uint32_t FormField::flags() const {
  return head.size() >= 8 ? tw::get_u32(head.data() + 4) : 0;
}
uint32_t FormField::listFlags() const {
  return head.size() >= 52 ? tw::get_u32(head.data() + 48) : 0;
}

const FormField* FormDef::Field(std::string_view fieldName) const {
  std::string key = FoldAscii(fieldName);
  for (const FormField& f : fields)
    if (f.key == key) return &f;
  return nullptr;
}

uint32_t MissingStatus(uint32_t cls) {
  switch (cls) {
    case kClassForm:
      return GVERR_NO_FORM;
    case kClassView:
      return GVERR_NO_VIEW;
    case kClassAgent:
      return GVERR_NO_AGENT;
    default:
      return GVERR_NO_ENTRY;
  }
}

uint32_t DesignName(const char* field, size_t size, std::string& out) {
  if (field == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no name");
  const void* end = std::memchr(field, '\0', size);
  if (end == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "name not terminated");
  size_t n = static_cast<size_t>(static_cast<const char*>(end) - field);
  if (n == 0 || n > kMaxDesignName) return Fail(GVERR_INVALID_ARGUMENT, "name of 1 to 127 bytes");
  out.assign(field, n);
  return 0;
}

// ---------------------------------------------------------------- the cache ---------------

DesignCache::DesignCache(Database& db)
    : db_(db), indexer_(MakeIndexer(*this)), catalog_(std::make_unique<Catalog>(*this)) {}

DesignCache::~DesignCache() = default;

DesignCache& CacheOf(Database& db) {
  std::unique_ptr<DesignState>& state = db.design_state();
  if (auto* cache = dynamic_cast<DesignCache*>(state.get())) return *cache;
  state = std::make_unique<DesignCache>(db);
  return static_cast<DesignCache&>(*state);
}

DesignCache::Walk& DesignCache::WalkOf(uint32_t cls) {
  return walks_[cls == kClassForm ? 0 : cls == kClassView ? 1 : 2];
}

const FormDef* DesignCache::Form(GVNOTEID id) const {
  for (const FormDef& f : forms_)
    if (f.id == id) return &f;
  return nullptr;
}

std::shared_ptr<const ViewDef> DesignCache::View(GVNOTEID id) const {
  for (const auto& v : views_)
    if (v->id == id) return v;
  return nullptr;
}

uint32_t DesignCache::Refresh() {
  Txn txn(db_);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  int64_t seq = 0;
  if (uint32_t st = txn.DesignSeq(seq)) return st;
  if (seq == seq_) return txn.Commit();
  seq_ = -1;
  if (uint32_t st = Load(txn)) return st;
  if (uint32_t st = txn.Commit()) return st;
  seq_ = seq;
  return 0;
}

uint32_t DesignCache::Load(Txn& txn) {
  std::vector<FormDef> forms;
  std::vector<std::shared_ptr<ViewDef>> views;
  // A field or column row names its owner in column 0; rows of a missing owner are skipped.
  auto formOf = [&](const Stmt& r) {
    auto id = static_cast<GVNOTEID>(r.Int(0));
    auto it =
        std::find_if(forms.begin(), forms.end(), [&](const FormDef& f) { return f.id == id; });
    return it == forms.end() ? nullptr : &*it;
  };
  auto viewOf = [&](const Stmt& r) {
    auto id = static_cast<GVNOTEID>(r.Int(0));
    auto it = std::find_if(views.begin(), views.end(), [&](const auto& v) { return v->id == id; });
    return it == views.end() ? nullptr : it->get();
  };
  const struct {
    const char* sql;
    std::function<void(const Stmt&)> take;
  } tables[] = {
      // Led by the design tables, each a few rows: led by note, the planner walks every
      // document of the file at each open.
      {"SELECT d.form, d.design FROM form_def d JOIN note n ON n.id = d.form "
       "WHERE n.class = 256 ORDER BY d.form",
       [&](const Stmt& r) {
         FormDef f;
         f.id = static_cast<GVNOTEID>(r.Int(0));
         f.design = std::string(r.Blob(1));
         f.name = FormDesignName(f.design);
         forms.push_back(std::move(f));
       }},
      {"SELECT form, name, head, default_formula FROM form_field ORDER BY form, ord",
       [&](const Stmt& r) {
         FormDef* form = formOf(r);
         if (form == nullptr) return;
         FormField field;
         field.name = std::string(r.Text(1));
         field.key = FoldAscii(field.name);
         field.head = std::string(r.Blob(2));
         field.defaultText = std::string(r.Text(3));
         form->fields.push_back(std::move(field));
       }},
      {"SELECT v.view, v.style, v.flags, v.selection_kind, v.display, v.selection "
       "FROM view_def v JOIN note n ON n.id = v.view WHERE n.class = 512 ORDER BY v.view",
       [&](const Stmt& r) {
         auto v = std::make_shared<ViewDef>();
         v->id = static_cast<GVNOTEID>(r.Int(0));
         v->style = static_cast<uint32_t>(r.Int(1));
         v->flags = static_cast<uint32_t>(r.Int(2));
         v->selectionKind = static_cast<uint32_t>(r.Int(3));
         v->display = std::string(r.Blob(4));
         v->selectionText = std::string(r.Text(5));
         views.push_back(std::move(v));
       }},
      {"SELECT view, kind, formula, title, record FROM view_column ORDER BY view, ord",
       [&](const Stmt& r) {
         ViewDef* view = viewOf(r);
         if (view == nullptr) return;
         ColumnDef c;
         c.kind = static_cast<uint32_t>(r.Int(1));
         c.formulaText = std::string(r.Text(2));
         c.title = std::string(r.Text(3));
         c.record = std::string(r.Blob(4));
         view->columns.push_back(std::move(c));
       }},
  };
  for (const auto& table : tables) {
    Stmt st;
    if (uint32_t s = Query(txn, table.sql, st)) return s;
    if (uint32_t s = st.ForEachRow(table.take)) return s;
  }
  for (auto& v : views) {
    if (uint32_t s = ReadTitle(txn, v->id, v->name)) return s;
    uint32_t offset = 0;
    if (!v->selectionText.empty() && Compile(v->selectionText, v->selection, offset) != 0)
      v->selectionBroken = true;
    for (ColumnDef& c : v->columns)
      if (Compile(c.formulaText, c.formula, offset) != 0) c.formula.reset();
  }
  forms_ = std::move(forms);
  views_.assign(views.begin(), views.end());
  return 0;
}

// ---------------------------------------------------------------- common operations -------

uint32_t LocateDesign(Database& db, uint32_t cls, std::string_view name, GVNOTEID& out) {
  out = 0;
  if (name.empty() || name.size() > kMaxDesignName) return 0;
  Stmt st;
  bool row = false;
  // A view's kind and maker come with it: whether it is an orphaned temporary one costs no
  // statement of its own.
  if (uint32_t s = QueryRow(db,
                            "SELECT n.id, v.style, v.maker_token FROM note n LEFT JOIN view_def v "
                            "ON v.view = n.id WHERE n.class=? AND n.design_key=?",
                            st, row, cls, FoldAscii(name)))
    return s;
  if (row) out = static_cast<GVNOTEID>(st.Int(0));
  const bool orphaned = row && cls == kClassView && OrphanedAt(st, 1);
  st = Stmt();
  if (orphaned) {
    // Trying a temporary view's name is when an orphaned one is removed; when that cannot
    // be done now (another writer holds the database) the view stays found.
    LastError before = GetLastError();
    DesignChange change{db};
    Txn txn(db);
    bool removed = false;
    if (txn.Begin(Txn::kWrite) == 0 && RemoveIfOrphaned(txn, out, removed) == 0 && removed &&
        txn.Commit() == 0) {
      out = 0;
    } else {
      RestoreLastError(std::move(before));
    }
  }
  return 0;
}

uint32_t DesignElementName(Database& db, uint32_t cls, GVNOTEID id, std::string& out) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  if (uint32_t st = CheckClass(txn, cls, id)) return st;
  if (uint32_t st = ReadTitle(txn, id, out)) return st;
  return txn.Commit();
}

uint32_t ListDesign(Database& db, uint32_t cls, uint32_t position, GVDesignEntry& out) {
  if (position != GV_LIST_FIRST && position != GV_LIST_NEXT)
    return Fail(GVERR_INVALID_ARGUMENT, "list position " + std::to_string(position));
  DesignCache::Walk& walk = CacheOf(db).WalkOf(cls);
  if (position == GV_LIST_FIRST || !walk.active) {
    walk = DesignCache::Walk{};
    Txn txn(db);
    if (uint32_t st = txn.Begin(Txn::kRead)) return st;
    std::vector<GVDesignEntry> entries;
    Stmt st;
    const char* sql =
        cls == kClassForm
            ? "SELECT n.id, n.design_key, d.design FROM note n JOIN form_def d ON d.form = n.id "
              "WHERE n.class = 256 ORDER BY n.design_key"
        : cls == kClassView
            ? "SELECT n.id, n.design_key, v.style FROM note n JOIN view_def v ON v.view = n.id "
              "WHERE n.class = 512 ORDER BY n.design_key"
            : "SELECT n.id, n.design_key, a.kind FROM note n JOIN agent_def a ON a.agent = n.id "
              "WHERE n.class = 1024 ORDER BY n.design_key";
    if (uint32_t s = Query(txn, sql, st)) return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
          GVDesignEntry e{};
          e.id = static_cast<GVNOTEID>(r.Int(0));
          std::string name;
          if (cls == kClassForm) {
            std::string_view design = r.Blob(2);
            e.flags = design.size() >= 16 ? tw::get_u32(design.data() + 12) : 0;
            name = FormDesignName(design);
          } else {
            e.flags = static_cast<uint32_t>(r.Int(2));
          }
          if (name.empty()) name = std::string(r.Text(1));
          tw::copy_bounded(e.name, sizeof e.name, name);
          entries.push_back(e);
        }))
      return s;
    st = Stmt();
    if (cls != kClassForm) {
      for (GVDesignEntry& e : entries) {
        std::string name;
        if (uint32_t s = ReadTitle(txn, e.id, name)) return s;
        if (!name.empty()) tw::copy_bounded(e.name, sizeof e.name, name);
      }
    }
    if (uint32_t s = txn.Commit()) return s;
    walk.entries = std::move(entries);
    walk.active = true;
  }
  if (walk.pos >= walk.entries.size()) {
    walk = DesignCache::Walk{};
    return GVERR_NO_MORE;
  }
  out = walk.entries[walk.pos++];
  return 0;
}

uint32_t DeleteDesign(Database& db, uint32_t cls, GVNOTEID id) {
  DesignChange change{db};
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  if (uint32_t st = CheckClass(txn, cls, id)) return st;
  if (cls == kClassView) {
    if (uint32_t st = RunSql(txn, "DELETE FROM view_entry WHERE view=?", id)) return st;
  }
  if (uint32_t st = DeleteNote(txn, id)) return st;
  if (uint32_t st = txn.BumpDesignSeq()) return st;
  return txn.Commit();
}

uint32_t CopyDesign(Database& source, uint32_t cls, GVNOTEID id, Database& target, GVNOTEID& out) {
  switch (cls) {
    case kClassForm: {
      std::string design, body;
      {
        Txn txn(source);
        if (uint32_t st = txn.Begin(Txn::kRead)) return st;
        if (uint32_t st = CheckClass(txn, cls, id)) return st;
        Stmt st;
        if (uint32_t s = QueryNoteRow(txn, "SELECT design, body FROM form_def WHERE form=?", id,
                                      GVERR_NO_FORM, st))
          return s;
        design = std::string(st.Blob(0));
        body = std::string(st.Blob(1));
      }
      GVFormDesign d{};
      std::memcpy(&d, design.data(), std::min(design.size(), sizeof d));
      return CreateForm(target, d, body, out);
    }
    case kClassView: {
      ViewSpec spec;
      if (uint32_t st = ReadViewSpec(source, id, spec)) return st;
      // Temporary views belong to their makers' sessions, never to a design being copied.
      if (spec.style == GVVIEW_TEMPORARY) {
        out = 0;
        return 0;
      }
      return CreateView(target, spec, out);
    }
    case kClassAgent: {
      AgentSpec spec;
      if (uint32_t st = ReadAgentSpec(source, id, spec)) return st;
      return CreateAgent(target, spec, out);
    }
    default:
      return GVERR_INVALID_ARGUMENT;
  }
}

// ---------------------------------------------------------------- forms -------------------

uint32_t CreateForm(Database& db, const GVFormDesign& design, std::string_view body,
                    GVNOTEID& out) {
  std::string name;
  if (uint32_t st = DesignName(design.name, sizeof design.name, name)) return st;
  if (uint32_t st = rt::Validate(body, true)) return Fail(st, "form body");
  std::vector<FormField> fields;
  rt::Walker walker(body);
  for (rt::Record r; walker.Next(r);) {
    if (r.signature != GVCDSIG_FIELD) continue;
    rt::FieldDef def;
    if (uint32_t st = rt::DecodeField(r, def)) return Fail(st, "field record");
    FormField f;
    f.name = def.name;
    f.key = FoldAscii(def.name);
    f.head = def.head;
    f.defaultText = def.defaultFormula;
    if (f.type() < GVTYPE_NUMBER || f.type() > GVTYPE_OTHER)
      return Fail(GVERR_INVALID_ARGUMENT, "field " + f.name + ": item type");
    if (std::any_of(fields.begin(), fields.end(),
                    [&](const FormField& g) { return g.key == f.key; }))
      return Fail(GVERR_EXISTS, "field " + f.name);
    if (!f.defaultText.empty()) {
      FormulaPtr formula;
      if (uint32_t st = CompileNamed(f.defaultText, "default of " + f.name, formula)) return st;
    }
    fields.push_back(std::move(f));
  }
  std::string designBytes(sizeof(GVFormDesign), '\0');
  std::memcpy(designBytes.data(), &design, offsetof(GVFormDesign, name));
  std::memcpy(designBytes.data() + offsetof(GVFormDesign, name), name.data(), name.size());

  DesignChange change{db};
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  GVNOTEID id = 0;
  if (uint32_t st = InsertDesignNote(txn, kClassForm, name, id)) return st;
  if (uint32_t s = RunSql(txn, "INSERT INTO form_def(form, design, body) VALUES(?,?,?)", id,
                          AsBlob(designBytes), AsBlob(body)))
    return s;
  int64_t ord = 0;
  for (const FormField& f : fields) {
    if (uint32_t s = RunSql(txn,
                            "INSERT INTO form_field(form, ord, name, name_key, type, flags, "
                            "list_flags, head, default_formula) VALUES(?,?,?,?,?,?,?,?,?)",
                            id, ++ord, f.name, f.key, f.type(), f.flags(), f.listFlags(),
                            AsBlob(f.head), TextOrNull(f.defaultText)))
      return s;
  }
  if (uint32_t st = txn.BumpDesignSeq()) return st;
  if (uint32_t st = txn.Commit()) return st;
  out = id;
  return 0;
}

uint32_t FetchForm(Database& db, GVNOTEID form, GVFormDesign& out) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  if (uint32_t st = CheckClass(txn, kClassForm, form)) return st;
  Stmt st;
  if (uint32_t s =
          QueryNoteRow(txn, "SELECT design FROM form_def WHERE form=?", form, GVERR_NO_FORM, st))
    return s;
  GVFormDesign d{};
  std::string_view bytes = st.Blob(0);
  std::memcpy(&d, bytes.data(), std::min(bytes.size(), sizeof d));
  d.name[sizeof d.name - 1] = '\0';
  out = d;
  return 0;
}

void FieldInfoOf(const FormField& field, GVFieldInfo& out) {
  GVFieldInfo info{};
  std::memcpy(&info, field.head.data(), std::min<size_t>(field.head.size(), 64));
  tw::copy_bounded(info.name, sizeof info.name, field.name);
  out = info;
}

// ---------------------------------------------------------------- views -------------------

uint32_t CreateView(Database& db, const ViewSpec& spec, GVNOTEID& out) {
  if (spec.name.empty() || spec.name.size() > kMaxDesignName ||
      spec.name.find('\0') != std::string::npos)
    return Fail(GVERR_INVALID_ARGUMENT, "view name of 1 to 127 bytes");
  if (spec.columns.size() > kMaxColumns)
    return Fail(GVERR_INVALID_ARGUMENT, "more than 255 columns");
  auto def = std::make_shared<ViewDef>();
  def->name = spec.name;
  def->style = spec.style;
  def->flags = spec.flags;
  def->selectionKind = spec.selectionKind;
  def->display = spec.display.empty() ? StandardDisplay() : spec.display;
  def->display.resize(16, '\0');
  def->selectionText = spec.selection;
  if (!spec.selection.empty())
    if (uint32_t st = CompileNamed(spec.selection, "selection", def->selection)) return st;
  for (size_t i = 0; i < spec.columns.size(); ++i) {
    const ViewSpec::Column& c = spec.columns[i];
    ColumnDef col;
    col.kind = c.kind;
    col.formulaText = c.formula;
    col.title = c.title.substr(0, Utf8Cut(c.title, sizeof(GVViewColumn::title) - 1));
    col.record = c.record.size() >= sizeof(GVViewColumn) ? c.record.substr(0, sizeof(GVViewColumn))
                                                         : StandardColumnRecord();
    tw::put_u32(&col.record[offsetof(GVViewColumn, kind)], c.kind);
    std::memset(&col.record[offsetof(GVViewColumn, formula)], 0, 8);
    std::memset(&col.record[offsetof(GVViewColumn, title)], 0, sizeof(GVViewColumn::title));
    std::memcpy(&col.record[offsetof(GVViewColumn, title)], col.title.data(), col.title.size());
    if (uint32_t st = CompileNamed(c.formula, "column " + std::to_string(i + 1), col.formula))
      return st;
    def->columns.push_back(std::move(col));
  }

  DesignChange change{db};
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  GVNOTEID taken = 0;
  if (uint32_t st = ViewByKey(txn, FoldAscii(spec.name), taken)) return st;
  if (taken != 0) {
    bool removed = false;
    if (uint32_t st = RemoveIfOrphaned(txn, taken, removed)) return st;
  }
  GVNOTEID id = 0;
  if (uint32_t st = InsertDesignNote(txn, kClassView, spec.name, id)) return st;
  def->id = id;
  std::string maker = def->style == GVVIEW_TEMPORARY ? tw::ProcessMark(0) : std::string();
  if (uint32_t s = RunSql(
          txn,
          "INSERT INTO view_def(view, style, flags, selection_kind, display, "
          "selection, maker_pid, maker_token) VALUES(?,?,?,?,?,?,?,?)",
          id, def->style, def->flags, def->selectionKind, AsBlob(def->display), def->selectionText,
          maker.empty() ? std::nullopt : std::optional<int64_t>(getpid()), TextOrNull(maker)))
    return s;
  int64_t ord = 0;
  for (const ColumnDef& c : def->columns)
    if (uint32_t s = RunSql(
            txn,
            "INSERT INTO view_column(view, ord, kind, formula, title, record) VALUES(?,?,?,?,?,?)",
            id, ++ord, c.kind, c.formulaText, c.title, AsBlob(c.record)))
      return s;
  if (uint32_t st = txn.BumpDesignSeq()) return st;
  if (uint32_t st = BuildView(txn, *def)) return st;
  if (uint32_t st = txn.Commit()) return st;
  out = id;
  return 0;
}

uint32_t ReadViewSpec(Database& db, GVNOTEID view, ViewSpec& out) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  if (uint32_t st = CheckClass(txn, kClassView, view)) return st;
  ViewSpec spec;
  if (uint32_t st = ReadTitle(txn, view, spec.name)) return st;
  {
    Stmt st;
    if (uint32_t s = QueryNoteRow(
            txn,
            "SELECT style, flags, selection_kind, display, selection FROM view_def WHERE view=?",
            view, GVERR_NO_VIEW, st))
      return s;
    spec.style = static_cast<uint32_t>(st.Int(0));
    spec.flags = static_cast<uint32_t>(st.Int(1));
    spec.selectionKind = static_cast<uint32_t>(st.Int(2));
    spec.display = std::string(st.Blob(3));
    spec.selection = std::string(st.Text(4));
  }
  {
    Stmt st;
    if (uint32_t s = Query(
            txn, "SELECT kind, formula, title, record FROM view_column WHERE view=? ORDER BY ord",
            st, view))
      return s;
    if (uint32_t s = st.ForEachRow([&](const Stmt& r) {
          ViewSpec::Column c;
          c.kind = static_cast<uint32_t>(r.Int(0));
          c.formula = std::string(r.Text(1));
          c.title = std::string(r.Text(2));
          c.record = std::string(r.Blob(3));
          spec.columns.push_back(std::move(c));
        }))
      return s;
  }
  if (uint32_t st = txn.Commit()) return st;
  out = std::move(spec);
  return 0;
}

// ---------------------------------------------------------------- agents ------------------

uint32_t CreateAgent(Database& db, const AgentSpec& spec, GVNOTEID& out) {
  if (spec.name.empty() || spec.name.size() > kMaxDesignName ||
      spec.name.find('\0') != std::string::npos)
    return Fail(GVERR_INVALID_ARGUMENT, "agent name of 1 to 127 bytes");
  if (spec.kind > GVAGENT_SCRIPT) return Fail(GVERR_INVALID_ARGUMENT, "agent kind");
  // A scripted agent's action is its script, which the script host parses when it runs.
  FormulaPtr check;
  if (uint32_t st = CompileNamed(spec.selection, "agent selection", check)) return st;
  if (spec.kind != GVAGENT_SCRIPT)
    if (uint32_t st = CompileNamed(spec.action, "agent action", check)) return st;
  DesignChange change{db};
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kWrite)) return st;
  GVNOTEID id = 0;
  if (uint32_t st = InsertDesignNote(txn, kClassAgent, spec.name, id)) return st;
  if (uint32_t s = RunSql(txn,
                          "INSERT INTO agent_def(agent, kind, flags, selection, action, last_run, "
                          "last_count) VALUES(?,?,?,?,?,NULL,0)",
                          id, spec.kind == 0 ? std::nullopt : std::optional<uint32_t>(spec.kind),
                          spec.flags, spec.selection, spec.action))
    return s;
  if (uint32_t s = txn.BumpDesignSeq()) return s;
  if (uint32_t s = txn.Commit()) return s;
  out = id;
  return 0;
}

uint32_t ReadAgentSpec(Database& db, GVNOTEID agent, AgentSpec& out, GVTIMEDATE* lastRun,
                       uint32_t* lastCount) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  if (uint32_t st = CheckClass(txn, kClassAgent, agent)) return st;
  AgentSpec spec;
  if (uint32_t st = ReadTitle(txn, agent, spec.name)) return st;
  Stmt st;
  if (uint32_t s = QueryNoteRow(txn,
                                "SELECT kind, flags, selection, action, last_run, last_count FROM "
                                "agent_def WHERE agent=?",
                                agent, GVERR_NO_AGENT, st))
    return s;
  spec.kind = st.IsNull(0) ? 0 : static_cast<uint32_t>(st.Int(0));
  spec.flags = static_cast<uint32_t>(st.Int(1));
  spec.selection = std::string(st.Text(2));
  spec.action = std::string(st.Text(3));
  if (lastRun != nullptr) {
    std::string_view run = st.Blob(4);
    GVTIMEDATE t{0xFFFFFFFFu, 0xFFFFFFu};  // never ran: null date and time
    if (run.size() == 8) {
      t.ticks = tw::get_u32(run.data());
      t.date = tw::get_u32(run.data() + 4);
    }
    *lastRun = t;
  }
  if (lastCount != nullptr) *lastCount = static_cast<uint32_t>(st.Int(5));
  st = Stmt();
  if (uint32_t s = txn.Commit()) return s;
  out = std::move(spec);
  return 0;
}

uint32_t FetchAgent(Database& db, GVNOTEID agent, GVAgentInfo& out) {
  AgentSpec spec;
  GVTIMEDATE lastRun{};
  uint32_t lastCount = 0;
  if (uint32_t st = ReadAgentSpec(db, agent, spec, &lastRun, &lastCount)) return st;
  if (spec.kind == 0) return Fail(GVERR_AGENT_NO_INFO, spec.name);
  GVAgentInfo info{};
  info.kind = spec.kind;
  info.flags = spec.flags;
  info.lastCount = lastCount;
  info.lastRun = lastRun;
  tw::copy_bounded(info.name, sizeof info.name, spec.name);
  out = info;
  return 0;
}

}  // namespace plexa
