// Design elements of a database: forms and their fields, views with their selection and
// column formulas, agents. Each database keeps a cache of them with compiled formulas,
// brought up to date whenever the database's design sequence moved (another process may
// have changed the design). Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_DESIGN_H_
#define TW_OUTSIDE_PLEXAPI_DESIGN_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formula.h"
#include "store.h"

namespace plexa {

// The item of a design note holding its name as spelled.
inline constexpr std::string_view kTitleItem = "$Title";
// Room of a design name, NUL excluded.
inline constexpr size_t kMaxDesignName = GV_DESIGN_NAME_SIZE - 1;
// Columns of a view at most.
inline constexpr uint32_t kMaxColumns = 255;

struct FormField {
  std::string name;
  std::string key;   // name ASCII-lower-cased
  std::string head;  // the first 64 bytes of the field record
  std::string defaultText;
  uint32_t type() const;
  uint32_t flags() const;
  uint32_t listFlags() const;
};

struct FormDef {
  GVNOTEID id = 0;
  std::string name;
  std::string design;  // the GVFormDesign bytes
  std::vector<FormField> fields;
  const FormField* Field(std::string_view name) const;  // ASCII case ignored
};

struct ColumnDef {
  uint32_t kind = 0;  // GVCOL_*
  std::string formulaText;
  std::string title;
  std::string record;  // the GVViewColumn bytes with the formula slot zeroed
  FormulaPtr formula;  // null when it does not compile: every cell empty
  bool sorted() const { return (kind & (GVCOL_SORTED | GVCOL_CATEGORY)) != 0; }
  bool descending() const { return sorted() && (kind & GVCOL_DESCENDING) != 0; }
  bool category() const { return (kind & GVCOL_CATEGORY) != 0; }
  bool expands() const { return (kind & (GVCOL_EXPAND | GVCOL_CATEGORY)) != 0; }
};

struct ViewDef {
  GVNOTEID id = 0;
  std::string name;
  uint32_t style = GVVIEW_STANDARD;
  uint32_t flags = 0;
  uint32_t selectionKind = GVVIEWSEL_FORMULA;
  std::string display;  // the 16 display bytes of the design
  std::string selectionText;
  FormulaPtr selection;          // null: every document (or none, when selectionBroken)
  bool selectionBroken = false;  // stored text that no longer compiles selects nothing
  std::vector<ColumnDef> columns;
  bool responses() const { return (flags & GVVIEWF_RESPONSES) != 0; }
};

// What a view is made from: the design entry points and the template builder fill it.
struct ViewSpec {
  std::string name;
  uint32_t style = GVVIEW_STANDARD;
  uint32_t flags = 0;
  uint32_t selectionKind = GVVIEWSEL_FORMULA;
  std::string display;  // 16 bytes (shorter: zero-filled)
  std::string selection;
  struct Column {
    uint32_t kind = 0;
    std::string formula;
    std::string title;
    std::string record;  // 153 bytes (shorter: a standard column is made)
  };
  std::vector<Column> columns;
};

struct AgentSpec {
  std::string name;
  uint32_t kind = GVAGENT_ACTS;  // 0: none recorded
  uint32_t flags = 0;
  std::string selection;
  std::string action;
};

class IndexMaintainer;
class FormCatalog;

// The design of one open database as last read, with its compiled formulas. Owned by the
// database (its DesignState).
class DesignCache : public DesignState {
 public:
  explicit DesignCache(Database& db);
  ~DesignCache() override;

  Database& db() const { return db_; }
  // Reads the design again when the database's design sequence moved since the last read;
  // inside an open transaction of the database it reads through that transaction.
  [[nodiscard]] uint32_t Refresh();
  // Forces the next Refresh to read (after a design change this process made or undid).
  void Invalidate() { seq_ = -1; }

  const FormDef* Form(GVNOTEID id) const;
  std::shared_ptr<const ViewDef> View(GVNOTEID id) const;
  const std::vector<std::shared_ptr<const ViewDef>>& views() const { return views_; }

  // Walks of GVFormList, GVViewList, GVAgentList (by note class) and GVFieldList.
  struct Walk {
    bool active = false;
    size_t pos = 0;
    std::vector<GVDesignEntry> entries;
  };
  Walk& WalkOf(uint32_t cls);
  struct FieldWalk {
    bool active = false;
    GVNOTEID form = 0;
    size_t pos = 0;
  } fieldWalk;

  IndexMaintainer& indexer() { return *indexer_; }
  FormCatalog& catalog() { return *catalog_; }

 private:
  uint32_t Load(Txn& txn);

  Database& db_;
  int64_t seq_ = -1;
  std::vector<FormDef> forms_;
  std::vector<std::shared_ptr<const ViewDef>> views_;
  Walk walks_[3];
  std::unique_ptr<IndexMaintainer> indexer_;
  std::unique_ptr<FormCatalog> catalog_;
};

// The database's design cache (made on first use).
DesignCache& CacheOf(Database& db);
// Makes sure this process's databases keep view indexes and know form fields.
void EnsureDesignHooks();

// A design name from a caller's fixed-size field: NUL-terminated within size, 1 to 127
// bytes; otherwise GVERR_INVALID_ARGUMENT.
[[nodiscard]] uint32_t DesignName(const char* field, size_t size, std::string& out);

// The note id of the design element of class cls named name (ASCII case ignored), 0 when
// there is none.
[[nodiscard]] uint32_t LocateDesign(Database& db, uint32_t cls, std::string_view name,
                                    GVNOTEID& out);
// The name of a design element of class cls; another class or none: the class's "no such"
// status (GVERR_NO_FORM, GVERR_NO_VIEW, GVERR_NO_AGENT).
[[nodiscard]] uint32_t DesignElementName(Database& db, uint32_t cls, GVNOTEID id, std::string& out);
// One entry of a list walk (GV_LIST_FIRST / GV_LIST_NEXT); GVERR_NO_MORE after the last.
[[nodiscard]] uint32_t ListDesign(Database& db, uint32_t cls, uint32_t position,
                                  GVDesignEntry& out);
// Deletes the element (and a view's index rows).
[[nodiscard]] uint32_t DeleteDesign(Database& db, uint32_t cls, GVNOTEID id);
// Copies the element into target under its name; out the copy's id (0 when a temporary
// view is not copied).
[[nodiscard]] uint32_t CopyDesign(Database& source, uint32_t cls, GVNOTEID id, Database& target,
                                  GVNOTEID& out);
// The status a class answers for an element that does not exist.
[[nodiscard]] uint32_t MissingStatus(uint32_t cls);

// Forms. body: composite records; each field record defines a field in order.
[[nodiscard]] uint32_t CreateForm(Database& db, const GVFormDesign& design, std::string_view body,
                                  GVNOTEID& out);
[[nodiscard]] uint32_t FetchForm(Database& db, GVNOTEID form, GVFormDesign& out);
// A field as GVFieldInfo gives it.
void FieldInfoOf(const FormField& field, GVFieldInfo& out);

// Views: checks the formulas (GVERR_FORMULA with the offset), stores the design and builds
// its index over every document.
[[nodiscard]] uint32_t CreateView(Database& db, const ViewSpec& spec, GVNOTEID& out);
// A view's design as stored, for copies.
[[nodiscard]] uint32_t ReadViewSpec(Database& db, GVNOTEID view, ViewSpec& out);

// Agents.
[[nodiscard]] uint32_t CreateAgent(Database& db, const AgentSpec& spec, GVNOTEID& out);
[[nodiscard]] uint32_t ReadAgentSpec(Database& db, GVNOTEID agent, AgentSpec& out,
                                     GVTIMEDATE* lastRun = nullptr, uint32_t* lastCount = nullptr);
[[nodiscard]] uint32_t FetchAgent(Database& db, GVNOTEID agent, GVAgentInfo& out);
// Runs the agent: over the notes of index when given and filled, else over every document
// its selection takes. A selecting agent leaves what it selected in the index.
[[nodiscard]] uint32_t ExecuteAgent(Database& db, GVNOTEID agent, GVINDEX index);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_DESIGN_H_
