// View indexes kept in SQLite (view_entry rows): the byte-comparable sort keys, the cells of
// an entry, the rows a document makes in a view, and the hooks that keep every view current
// inside the transaction that stores or deletes a document. Never exported.
#ifndef TW_OUTSIDE_PLEXAPI_VIEW_INDEX_H_
#define TW_OUTSIDE_PLEXAPI_VIEW_INDEX_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "design.h"
#include "store.h"
#include "value.h"

namespace plexa {

// Sort-key tags: empty < numbers < times < texts.
inline constexpr uint8_t kKeyEmpty = 0x10;
inline constexpr uint8_t kKeyNumber = 0x20;
inline constexpr uint8_t kKeyTime = 0x30;
inline constexpr uint8_t kKeyText = 0x40;

// Appends the sort-key part of one value to key: entry `element` of v, or the empty part
// when v has no such entry (or is null). Texts are ASCII-case folded; a descending part has
// every byte inverted.
void AppendKeyPart(std::string& key, const Value* v, size_t element, bool descending);
void AppendNumberKey(std::string& key, double number, bool descending);
void AppendTimeKey(std::string& key, const GVTIMEDATE& time, bool descending);
void AppendTextKey(std::string& key, std::string_view text, bool descending);
// The length of the key part starting at key[at] (0 when it is malformed).
size_t KeyPartLength(std::string_view key, size_t at, bool descending);

// Cells: per column a type byte (0 empty), a u32 length and the value in its stored layout.
void AppendCell(std::string& cells, const Value* v);
// Column (0-based) of cells into out; false when the cell is empty or missing.
bool ReadCell(std::string_view cells, size_t column, Value& out);
// The raw bytes of one cell (type, length and value), for category entries.
std::string_view CellBytes(std::string_view cells, size_t column);

// One row a document makes in a view.
struct ViewRow {
  std::string sortkey;
  uint32_t dup = 0;
  std::string cells;
};
// The rows of a document the view selects (none when it does not).
[[nodiscard]] uint32_t ComputeRows(const ViewDef& view, const ItemSource& items,
                                   std::vector<ViewRow>& out);

// The hooks' view upkeep of one database.
std::unique_ptr<IndexMaintainer> MakeIndexer(DesignCache& cache);

// Writes the rows of note for view (the caller deleted the old ones).
[[nodiscard]] uint32_t WriteRows(Txn& txn, const ViewDef& view, GVNOTEID note,
                                 const ItemSource& items);
// Builds the whole index of a view from every document (write transaction).
[[nodiscard]] uint32_t BuildView(Txn& txn, const ViewDef& view);

// Calls fn for every note of the classes in mask (kClassDocument, kClassInfo), in note-id
// order, with its items; formKey non-empty keeps notes whose "Form" names that form. fn
// answers a status (non-zero stops the scan and is answered). onlyNames (folded names), when
// given, leaves out the items of other names.
using NoteVisitor = std::function<uint32_t(GVNOTEID note, std::vector<StoredItem>& items)>;
[[nodiscard]] uint32_t ScanNotes(Txn& txn, uint32_t classMask, std::string_view formKey,
                                 bool withItems, const NoteVisitor& fn,
                                 const std::vector<std::string>* onlyNames = nullptr);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_VIEW_INDEX_H_
