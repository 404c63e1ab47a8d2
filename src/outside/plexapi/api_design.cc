// The design entry points: forms and their fields, views and their columns, agents.
#include <algorithm>
#include <cstring>
#include <span>

#include "database.h"
#include "design.h"
#include "document.h"
#include "plexapi.h"
#include "session.h"
#include "tw/coding.h"

using namespace plexa;

namespace {

// Longest name or formula text read from a caller's C string; a longer text is refused.
constexpr size_t kMaxNameRead = 4096;

// The open database of a handle, with the hooks in place.
[[nodiscard]] uint32_t DatabaseOf(GVDB db, Database*& out) {
  EnsureDesignHooks();
  out = FindDatabase(db);
  return out != nullptr ? 0 : Fail(GVERR_INVALID_HANDLE, "database");
}

// An entry point answering a status: fn(database) inside the session.
template <class Fn>
[[nodiscard]] uint32_t WithDatabase(GVDB db, Fn fn) {
  return ApiSession([&]() -> uint32_t {
    Database* d = nullptr;
    if (uint32_t st = DatabaseOf(db, d)) return st;
    return fn(*d);
  });
}

// An entry point answering a value: fn(database), or 0 with the failure recorded (no
// session, a bad handle, or fn's own).
template <class T, class Fn>
T DatabaseValue(GVDB db, Fn fn) {
  return ApiValue<T>(0, [&]() -> T {
    if (!SessionActive()) {
      Fail(GVERR_NOT_INITIALIZED);
      return 0;
    }
    Database* d = nullptr;
    return DatabaseOf(db, d) == 0 ? fn(*d) : 0;
  });
}

// The count a design part (fields of a form, columns of a view) answers from the current
// cache; 0 with the failure recorded.
template <class Fn>
[[nodiscard]] uint32_t DesignCount(GVDB db, Fn count) {
  return DatabaseValue<uint32_t>(db, [&](Database& d) -> uint32_t {
    DesignCache& cache = CacheOf(d);
    return cache.Refresh() == 0 ? count(cache) : 0;
  });
}

// A formula from a caller (null: empty); longer than a formula may be: GVERR_FORMULA.
[[nodiscard]] uint32_t FormulaText(const char* text, std::string& out) {
  if (text == nullptr) {
    out.clear();
    return 0;
  }
  size_t n = strnlen(text, kMaxLength + 1);
  if (n > kMaxLength) return Fail(GVERR_FORMULA, "formula too long", static_cast<uint32_t>(n));
  out.assign(text, n);
  return 0;
}

GVNOTEID Locate(GVDB db, const char* name, uint32_t cls) {
  return DatabaseValue<GVNOTEID>(db, [&](Database& d) -> GVNOTEID {
    if (name == nullptr) {
      Fail(GVERR_INVALID_ARGUMENT, "no name");
      return 0;
    }
    std::string_view n(name, strnlen(name, kMaxNameRead));
    GVNOTEID id = 0;
    if (LocateDesign(d, cls, n, id) != 0) return 0;
    if (id == 0) Fail(MissingStatus(cls), n.substr(0, kMaxDesignName));
    return id;
  });
}

uint32_t List(GVDB db, uint32_t position, GVDesignEntry* entry, uint32_t cls) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (entry == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no entry");
    return ListDesign(d, cls, position, *entry);
  });
}

uint32_t Delete(GVDB db, GVNOTEID id, uint32_t cls) {
  return WithDatabase(db, [&](Database& d) { return DeleteDesign(d, cls, id); });
}

[[nodiscard]] uint32_t Copy(GVDB source, GVNOTEID id, GVDB target, GVNOTEID* copy, uint32_t cls) {
  return ApiSession([&]() -> uint32_t {
    Database* s = nullptr;
    Database* t = nullptr;
    if (uint32_t st = DatabaseOf(source, s)) return st;
    if (uint32_t st = DatabaseOf(target, t)) return st;
    GVNOTEID out = 0;
    if (uint32_t st = CopyDesign(*s, cls, id, *t, out)) return st;
    if (copy != nullptr) *copy = out;
    return 0;
  });
}

// The walk of GVFieldList: per database; a new form or GV_LIST_FIRST starts it again.
[[nodiscard]] uint32_t NextField(Database& db, GVNOTEID form, uint32_t position, GVFieldInfo& out) {
  if (position != GV_LIST_FIRST && position != GV_LIST_NEXT)
    return Fail(GVERR_INVALID_ARGUMENT, "list position " + std::to_string(position));
  DesignCache& cache = CacheOf(db);
  DesignCache::FieldWalk& walk = cache.fieldWalk;
  if (uint32_t st = cache.Refresh()) return st;
  const FormDef* f = cache.Form(form);
  if (f == nullptr) {
    walk = DesignCache::FieldWalk{};
    return Fail(GVERR_NO_FORM, "note " + std::to_string(form));
  }
  if (position == GV_LIST_FIRST || !walk.active || walk.form != form) {
    walk.active = true;
    walk.form = form;
    walk.pos = 0;
  }
  if (walk.pos >= f->fields.size()) {
    walk = DesignCache::FieldWalk{};
    return GVERR_NO_MORE;
  }
  FieldInfoOf(f->fields[walk.pos++], out);
  return 0;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- forms -------------------

GV_API GVNOTEID GVFormLocateByName(GVDB db, const char* name) {
  return Locate(db, name, kClassForm);
}

GV_API uint32_t GVFormFetch(GVDB db, GVNOTEID form, GVFormDesign* design) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (design == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no design");
    return FetchForm(d, form, *design);
  });
}

GV_API uint32_t GVFormList(GVDB db, uint32_t position, GVDesignEntry* entry) {
  return List(db, position, entry, kClassForm);
}

GV_API uint32_t GVFormCreate(GVDB db, const GVFormDesign* design, GVCOMP body, GVNOTEID* form) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (design == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no design");
    std::string records;
    if (body != 0) {
      Composite* c = Find<Composite>(body);
      if (c == nullptr) return Fail(GVERR_INVALID_HANDLE, "body");
      records = c->records;
    }
    GVNOTEID id = 0;
    if (uint32_t st = CreateForm(d, *design, records, id)) return st;
    if (form != nullptr) *form = id;
    return 0;
  });
}

GV_API uint32_t GVFormDelete(GVDB db, GVNOTEID form) {
  return Delete(db, form, kClassForm);
}

GV_API uint32_t GVFormCopy(GVDB source, GVNOTEID form, GVDB target, GVNOTEID* copy,
                           uint32_t flags) {
  return Copy(source, form, target, copy, kClassForm);
}

GV_API uint32_t GVFieldList(GVDB db, GVNOTEID form, uint32_t position, GVFieldInfo* field) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (field == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no field");
    return NextField(d, form, position, *field);
  });
}

GV_API uint32_t GVFieldGetCount(GVDB db, GVNOTEID form) {
  return DesignCount(db, [&](DesignCache& cache) -> uint32_t {
    const FormDef* f = cache.Form(form);
    if (f == nullptr) {
      Fail(GVERR_NO_FORM, "note " + std::to_string(form));
      return 0;
    }
    return static_cast<uint32_t>(f->fields.size());
  });
}

GV_API uint32_t GVFieldFetch(GVDB db, GVNOTEID form, const char* name, GVFieldInfo* field) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (name == nullptr || field == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no name");
    DesignCache& cache = CacheOf(d);
    if (uint32_t st = cache.Refresh()) return st;
    const FormDef* f = cache.Form(form);
    if (f == nullptr) return Fail(GVERR_NO_FORM, "note " + std::to_string(form));
    std::string_view n(name, strnlen(name, kMaxNameRead));
    const FormField* found = f->Field(n);
    if (found == nullptr) return Fail(GVERR_NO_FIELD, n.substr(0, GV_FIELD_NAME_SIZE));
    FieldInfoOf(*found, *field);
    return 0;
  });
}

// ---------------------------------------------------------------- views -------------------

GV_API GVNOTEID GVViewLocateByName(GVDB db, const char* name) {
  return Locate(db, name, kClassView);
}

GV_API uint32_t GVViewList(GVDB db, uint32_t position, GVDesignEntry* entry) {
  return List(db, position, entry, kClassView);
}

GV_API uint32_t GVViewCreate(GVDB db, const GVViewDesign* design, uint32_t columnCount,
                             const GVViewColumn* columns, GVNOTEID* view) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (design == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no design");
    if (columnCount > kMaxColumns) return Fail(GVERR_INVALID_ARGUMENT, "more than 255 columns");
    if (columnCount > 0 && columns == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no columns");
    ViewSpec spec;
    if (uint32_t st = DesignName(design->name, sizeof design->name, spec.name)) return st;
    spec.style = design->style;
    spec.flags = design->flags;
    spec.selectionKind = design->selectionKind;
    spec.display.assign(reinterpret_cast<const char*>(design->display), sizeof design->display);
    if (uint32_t st = FormulaText(design->selection, spec.selection)) return st;
    for (const GVViewColumn& c : std::span(columns, columnCount)) {
      if (c.formula == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "a column without a formula");
      ViewSpec::Column col;
      col.kind = c.kind;
      if (uint32_t st = FormulaText(c.formula, col.formula)) return st;
      col.title.assign(c.title, strnlen(c.title, sizeof c.title));
      col.record.assign(reinterpret_cast<const char*>(&c), sizeof c);
      spec.columns.push_back(std::move(col));
    }
    GVNOTEID id = 0;
    if (uint32_t st = CreateView(d, spec, id)) return st;
    if (view != nullptr) *view = id;
    return 0;
  });
}

GV_API uint32_t GVViewDelete(GVDB db, GVNOTEID view) {
  return Delete(db, view, kClassView);
}

GV_API uint32_t GVViewCopy(GVDB source, GVNOTEID view, GVDB target, GVNOTEID* copy,
                           uint32_t flags) {
  return Copy(source, view, target, copy, kClassView);
}

GV_API uint32_t GVColumnGetCount(GVDB db, GVNOTEID view) {
  return DesignCount(db, [&](DesignCache& cache) -> uint32_t {
    std::shared_ptr<const ViewDef> v = cache.View(view);
    if (!v) {
      Fail(GVERR_NO_VIEW, "note " + std::to_string(view));
      return 0;
    }
    return static_cast<uint32_t>(v->columns.size());
  });
}

// ---------------------------------------------------------------- agents ------------------

GV_API GVNOTEID GVAgentLocateByName(GVDB db, const char* name) {
  return Locate(db, name, kClassAgent);
}

GV_API uint32_t GVAgentList(GVDB db, uint32_t position, GVDesignEntry* entry) {
  return List(db, position, entry, kClassAgent);
}

GV_API uint32_t GVAgentFetch(GVDB db, GVNOTEID agent, GVAgentInfo* info) {
  return WithDatabase(db, [&](Database& d) -> uint32_t {
    if (info == nullptr) return Fail(GVERR_INVALID_ARGUMENT, "no info");
    return FetchAgent(d, agent, *info);
  });
}

GV_API uint32_t GVAgentExecute(GVDB db, GVNOTEID agent, GVINDEX index, uint32_t flags,
                               uint32_t reserved) {
  return WithDatabase(db, [&](Database& d) { return ExecuteAgent(d, agent, index); });
}

GV_API uint32_t GVAgentCopy(GVDB source, GVNOTEID agent, GVDB target, GVNOTEID* copy,
                            uint32_t flags) {
  return Copy(source, agent, target, copy, kClassAgent);
}

GV_API uint32_t GVAgentDelete(GVDB db, GVNOTEID agent) {
  return Delete(db, agent, kClassAgent);
}

}  // extern "C"
