// The Ordex connector ordex: one Connection per engine context, presenting the documents of
// one form of a document database as records and their items as fields.
//
// The engine's context block (twx_plugin.h) holds only a pointer to a Connection, which owns
// everything else: the property values, the open database, the design elements it located
// (form, view, agent), the five slots that remember how each kind of operation maps the
// caller's field list onto the form's items, and the open result (an index over a view, a
// search or an agent's selection, or a catalogue listing) with its current document.
//
// Units: connection.cc (initialise, properties, connect, disconnect, execute, actions, the
// shared reporting), read.cc (selection formulas, temporary index views, key positioning,
// describing, mapping, fetching, the catalogue), write.cc (insert, update, remove, items,
// rich text, long text, the extra fields, design creation and removal).
//
// Thread rules: a Connection is used by one thread at a time. The Plexa session is the
// process's; the first connection starts it and the last one ends it.
#ifndef TW_LINK_ORDEX_CONNECTION_H_
#define TW_LINK_ORDEX_CONNECTION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flowcore.h"
#include "flowcore_ptr.h"
#include "nordex.h"
#include "plexapi.h"
#include "properties.h"
#include "twx.h"

namespace ordex {

using flowcore::FieldlistPtr;

// The item "TWX@!&%$TempItemqzza()...ttty" through which rich text and long text are
// assembled; it never outlives an operation.
extern const char* const kTempItem;

// Rich text is appended in pieces of at most this many bytes, cut at record boundaries;
// long text goes into rich text in pieces of kTextPiece.
constexpr uint32_t kRichPiece = 60000;
constexpr uint32_t kTextPiece = 40000;

// The extra fields a record may carry besides items, in table order.
enum class Extra : uint8_t { kUnid, kNoteid, kRef, kFile, kHier, kTwxFile, kNone };
struct ExtraRow {
  uint32_t token;
  const char* name;
  uint32_t type;
  uint32_t format;  // 0: not a stream
  uint32_t size;    // fixed size of the value; 0 none
};
extern const ExtraRow kExtras[6];
// The extra field of that name (letters in any case), kNone for another name.
Extra ExtraOf(std::string_view name);

enum class SlotKind : uint8_t { kSelect = 1, kInsert, kUpdate, kRemove };

// One field of a map: the caller's field, the item it goes to or comes from, and how.
struct Mapped {
  TWFIELD field = TWNULLHANDLE;
  uint32_t item = 0;  // GVTYPE_* of the form's field; 0 for a field beyond the form's
  std::string name;
  uint32_t type = 0, flags = 0, format = 0;
  Extra extra = Extra::kNone;
};

// How one kind of operation maps a caller's list onto the form: the form it works on, the
// form's field names (a list without records) with each field's item type, and the map built
// for the caller's list (a view of it laid out by the names) with the caller's virtual fields.
struct Slot {
  SlotKind kind = SlotKind::kSelect;
  uint32_t mask = 0;  // TWMERGEF_* of this operation
  TWFIELDLIST caller = TWNULLHANDLE;
  uint32_t sequence = 0;
  FieldlistPtr map, virt;
  std::vector<Mapped> fields;  // the map's fields in order
  std::vector<Mapped> extras;  // the extra fields of the caller's list
  GVNOTEID form = 0;
  std::string formName;
  FieldlistPtr names;
  std::vector<uint32_t> items;
  Slot* table = nullptr;  // another slot whose names and item types this one uses

  FieldlistPtr& Names() { return table != nullptr ? table->names : names; }
  std::vector<uint32_t>& Items() { return table != nullptr ? table->items : items; }
  void FreeMap() {
    map.reset();
    virt.reset();
    fields.clear();
    extras.clear();
    caller = TWNULLHANDLE;
    sequence = 0;
  }
  void Forget() {
    FreeMap();
    form = 0;
    formName.clear();
    if (table == nullptr) {
      names.reset();
      items.clear();
    }
  }
};

// The open result: an index or a catalogue listing, and the document fetching stands on.
struct Result {
  GVINDEX index = 0;
  GVNOTEID view = 0;  // the view in use, 0 for a search or an agent's result
  bool fetchView = false, responses = false, allForms = false;
  GVDOC doc = 0;
  bool docSpoiled = false;  // writing into doc failed: it is discarded, never stored
  uint32_t catalog = 0;     // TWOBJECT_* of an active listing
  bool catalogStarted = false;
  GVNOTEID tempView = 0;
  bool stampColumn = false, agentResult = false, ended = false;
  uint32_t skip = 0;
  bool oneByOne = false;  // an extra field that names the current document is selected
};

class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // ---- entry points (connection.cc)
  uint32_t Initialize(uint32_t connectCode, uint32_t flags);
  uint32_t Terminate(uint32_t flags);
  uint32_t Connect();
  uint32_t Disconnect(uint32_t errorFlag);
  uint32_t SetProperty(uint32_t token, TWFIELD src);
  uint32_t GetProperty(uint32_t token, TWFIELD dest);
  uint32_t Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count);
  uint32_t Action(uint32_t code);

  // ---- entry points (read.cc)
  uint32_t Select(TWFIELDLIST keys, uint32_t recordIndex, TWFIELDLIST dest, uint32_t* count);
  uint32_t Fetch(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount, uint32_t* count);
  uint32_t Catalog(uint32_t objectType, TWFIELDLIST dest, uint32_t* count);

  // ---- entry points (write.cc)
  uint32_t Insert(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount, uint32_t* count);
  uint32_t Update(TWFIELDLIST src, uint32_t recordIndex, uint32_t recordCount, uint32_t* count);
  uint32_t Remove(TWFIELDLIST keys, uint32_t recordIndex, uint32_t recordCount, uint32_t* count);
  uint32_t Create(uint32_t objectType, TWFIELDLIST src);
  uint32_t Drop(uint32_t objectType);

  // ---- shared (connection.cc)
  // Logs the Plexa text of status and answers the engine's status for it.
  uint32_t LogError(uint32_t plexaStatus);
  // Logs message id of the connector's own table with text as its argument; an
  // informational one answers 0.
  uint32_t LogOwn(bool informational, uint32_t id, std::string_view text);
  // Logs status naming a field or object by text.
  uint32_t LogNamed(uint32_t status, std::string_view text);
  // Metadata object missing: 12545 naming METADATA.
  uint32_t MissingForm();
  void CloseResult();
  // Finds the form named METADATA (0 when none) and its name as the design spells it.
  void LocateForm();

  // ---- shared (read.cc)
  // The selection formula for form, the CONDITION and the key fields of keys at record.
  uint32_t BuildFormula(const std::string& formName, TWFIELDLIST keys, uint32_t record,
                        std::string& formula);
  uint32_t DescribeResult(TWFIELDLIST dest, uint32_t* count);
  uint32_t LoadFormFields(Slot& slot);
  uint32_t MapFields(Slot& slot, TWFIELDLIST list, bool keyOnly);
  uint32_t PositionByKey(Slot& slot, TWFIELDLIST keys, uint32_t record, uint32_t* count);
  // Whether the document belongs to the located form (EnforceForm: by form id; else by its
  // "Form" item).
  bool OfForm(GVDOC doc);

  // ---- shared (write.cc)
  uint32_t WriteFields(Slot& slot, GVDOC doc, uint32_t record);

  // ---- state
  Props p;
  uint32_t connectCode = 0;
  uint32_t linkCode = 0;  // the connect code with its low 16 bits cleared
  GVDB db = 0;
  bool started = false;  // this connection holds a Plexa session
  GVNOTEID formId = 0, viewId = 0, agentId = 0;
  std::string formName;
  Slot select, insert, updateKey, updatePlace, removeKey;
  Result r;

 private:
  uint32_t ExecuteDelete();
  uint32_t OpenTemporaryView(const std::string& formula);
  uint32_t FetchCatalog(TWFIELDLIST dest, uint32_t recordIndex, uint32_t recordCount,
                        uint32_t* count);
  uint32_t FillField(TWFIELD field, uint32_t record, uint32_t itemType, std::string_view name,
                     uint32_t& column);
  // The rich text of every item of that name, records back to back.
  uint32_t ReadRichText(GVDOC doc, const std::string& name, std::string& records);
  uint32_t ReadExtra(TWFIELD field, uint32_t record, Extra extra, std::string_view name);
  uint32_t WriteExtra(GVDOC doc, TWFIELD field, uint32_t record, Extra extra,
                      std::string_view name);
  uint32_t WriteValue(Slot& slot, GVDOC doc, TWFIELD field, uint32_t record, uint32_t itemType,
                      const std::string& name);
  uint32_t WriteRichText(GVDOC doc, const std::string& name, std::string_view records,
                         uint32_t itemType);
  uint32_t WriteLongText(GVDOC doc, const std::string& name, std::string_view text);
  uint32_t CopyHierarchy(GVDOC doc, std::string_view value, std::string_view name);
  uint32_t CreateForm(TWFIELDLIST src);
  uint32_t CreateView(TWFIELDLIST src);
  uint32_t CloseWritten(GVDOC doc);
  // Positions by key with slot for each of the records (update or remove without write-back).
  uint32_t EachByKey(Slot& slot, TWFIELDLIST list, uint32_t recordIndex, uint32_t recordCount,
                     uint32_t* count);
  // 0 when write-back may change the current document with recordCount records.
  uint32_t WriteBackReady(uint32_t recordCount);
};

// The fixed view column: of kind (GVCOL_*), showing formula, titled title (cut to 80 bytes).
// formula must outlive the column's use.
GVViewColumn ViewColumn(uint32_t kind, const char* formula, std::string_view title);
// The fixed view design of style, named name, selecting by selection (null: every document).
GVViewDesign ViewDesign(uint32_t style, std::string_view name, const char* selection);

// Whether bytes are whole composite records end to end.
bool IsCompositeStream(std::string_view bytes);
// The longest prefix of at most limit bytes that ends on a record boundary (0 when the first
// record is larger).
size_t CompositePiece(std::string_view bytes, size_t limit);
// The longest prefix of text of at most limit bytes that does not split a UTF-8 character.
size_t Utf8Cut(std::string_view text, size_t limit);
// The longest prefix of a text list of at most limit bytes that keeps whole entries, with its
// count fixed; the list itself when it fits.
std::string CutTextList(std::string_view list, size_t limit);
// Text in single quotes with quotes and backslashes escaped, as the formula language reads it.
void AppendQuoted(std::string& out, std::string_view text);

}  // namespace ordex

#endif  // TW_LINK_ORDEX_CONNECTION_H_
