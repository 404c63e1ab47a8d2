// The thin access layer over the Administrator and log databases: opening databases by
// "server!!file", locating views and forms, documents, items (every item of the manager is
// read and written here), view cells, key searches and document links. Each operation
// reports a failed Plexa call to the diagnostics log (log.h) and answers true or false; the
// caller then reports the catalogue message with its details.
#ifndef TW_CSMGR_ORDEXIO_H_
#define TW_CSMGR_ORDEXIO_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plexapi.h"

namespace tw::csmgr {

// ------------------------------------------------------------------------ databases --

// Opens "server!!file" (an empty server is the local one). false with *db untouched.
bool OrdexOpenDatabase(std::string_view server, std::string_view file, GVDB* db);
void OrdexCloseDatabase(GVDB* db);
// The database's title (property 8), "unknown" when it cannot be had.
std::string OrdexDatabaseTitle(GVDB db);

// The note id of a view or form of that name, 0 when missing (recorded as a diagnostic).
GVNOTEID OrdexLocateView(GVDB db, const char* name);
GVNOTEID OrdexLocateForm(GVDB db, const char* name);
// Whether the last Plexa call that failed found the Ordex server not answering: a lookup
// that answered no note then says nothing about the note being there.
bool OrdexServerLost();
// Opens an index over the view; false with *index 0.
bool OrdexOpenIndex(GVDB db, GVNOTEID view, const char* viewName, GVINDEX* index);
void OrdexCloseIndex(GVINDEX* index);
bool OrdexRefreshIndex(GVINDEX index);

// ------------------------------------------------------------------------ documents --

inline constexpr uint32_t kOpenLookOnly = GVOPEN_READONLY;
// Opens the note's document; failure records "Document error|database %s|document #%d (#%X)".
bool OrdexOpenDocument(GVDB db, GVNOTEID id, uint32_t flags, GVDOC* doc);
// Creates a document of the form (0: none).
bool OrdexCreateDocument(GVDB db, GVNOTEID form, GVDOC* doc);
bool OrdexSaveDocument(GVDOC doc);
// Stores the document only when nobody stored it since it was read (GVSAVE_UNCHANGED).
// false with *conflict true when someone did (nothing recorded: losing that race is
// normal), false with *conflict false on a failure (recorded).
bool OrdexSaveIfUnchanged(GVDOC doc, bool* conflict);
// Stores (keep) or discards the changes and closes; *doc becomes 0 either way.
bool OrdexCloseDocument(GVDOC* doc, bool keep);
// The document's note id (0 before its first store or on failure).
GVNOTEID OrdexDocumentId(GVDOC doc);

// ------------------------------------------------------------------------ items ------

// The whole text value, never cut (lists read as their first entry, rich text as its text).
bool OrdexReadText(GVDOC doc, const char* item, std::string* text);
// A number truncated to 32 bits.
bool OrdexReadNumber(GVDOC doc, const char* item, int32_t* value);
// A date-time; wildcard parts are completed (date from today, time 00:00:00.00).
bool OrdexReadDatetime(GVDOC doc, const char* item, GVTIMEDATE* value);
// At most max values; an empty list counts as absent (false, nothing recorded).
bool OrdexReadNumberList(GVDOC doc, const char* item, size_t max, std::vector<int32_t>* values);
// The date-time list's single values and ranges.
bool OrdexReadDatetimeList(GVDOC doc, const char* item, std::vector<GVTIMEDATE>* singles,
                           std::vector<std::pair<GVTIMEDATE, GVTIMEDATE>>* ranges);
// Entry (from 1) of a text-list item, whole.
bool OrdexReadListEntry(GVDOC doc, const char* item, uint32_t entry, std::string* text);
// All entries of a text-list item (a text item is one entry).
bool OrdexReadTextList(GVDOC doc, const char* item, std::vector<std::string>* entries);
// The stored item type (GVTYPE_*); a missing item answers true with type 0.
bool OrdexItemType(GVDOC doc, const char* item, uint32_t* type);
// Present and not empty; never reported.
bool OrdexItemPresent(GVDOC doc, const char* item);
// Non-zero number.
bool OrdexIsTrue(GVDOC doc, const char* item);

bool OrdexWriteNumber(GVDOC doc, const char* item, int64_t value);
bool OrdexWriteText(GVDOC doc, const char* item, std::string_view text);
bool OrdexWriteDatetime(GVDOC doc, const char* item, const GVTIMEDATE& value);
bool OrdexWriteNumberList(GVDOC doc, const char* item, const std::vector<int32_t>& values);
// A value of the given GVTYPE_* laid out as the API lays it out.
bool OrdexWriteRaw(GVDOC doc, const char* item, uint32_t type, std::string_view bytes);
bool OrdexDeleteItem(GVDOC doc, const char* item);

// ------------------------------------------------------------------------ rich text --

// The records of every piece of a rich-text item, in order, each piece as stored.
bool OrdexReadRichPieces(GVDOC doc, const char* item, std::vector<std::string>* pieces);
// Replaces the item by the records cut into pieces of at most GV_RICHTEXT_PIECE bytes at
// record boundaries. Records are walked by their own heads with checked lengths: a record
// running past the data, or a zero length, is refused (false, the item deleted). A record
// longer than a piece becomes a piece of its own.
bool OrdexWriteRichPieces(GVDOC doc, const char* item, std::string_view records);
// Appends the records to the item as one or more further pieces (cut as above), leaving
// the pieces already there as they are: the cost does not depend on what the item holds.
// Malformed records: false, nothing appended.
bool OrdexAppendRichPieces(GVDOC doc, const char* item, std::string_view records);
// Adds a text record (the text up to a NUL) or a paragraph end to records.
void OrdexAddTextRecord(std::string* records, std::string_view text);
void OrdexAddParagraphRecord(std::string* records);
// Splits records into pieces as OrdexWriteRichPieces does; false for malformed records.
bool OrdexSplitRecords(std::string_view records, size_t pieceLimit,
                       std::vector<std::string_view>* pieces);

// ------------------------------------------------------------------------ views ------

bool OrdexViewCellDatetime(GVINDEX index, const char* viewName, uint32_t column, GVTIMEDATE* value);
bool OrdexViewCellText(GVINDEX index, const char* viewName, uint32_t column, std::string* value);
bool OrdexViewCellNumber(GVINDEX index, const char* viewName, uint32_t column, int32_t* value);
// Key searches on column 1; *matches the number found (0 and true when none).
bool OrdexKeySearchText(GVINDEX index, const char* viewName, std::string_view key,
                        uint32_t* matches);
bool OrdexKeySearchNumber(GVINDEX index, const char* viewName, int32_t key, uint32_t* matches);
// The first document id whose key equals the text, 0 when none (or on failure).
GVNOTEID OrdexFirstIdOfKey(GVDB db, GVNOTEID view, const char* viewName, std::string_view key);
// Puts into the rich-text item of target a link to the first document keyed by key in the
// view of the log database and sets LinkExists = 1.
bool OrdexPutDocLink(GVDOC target, const char* item, GVDB db, GVNOTEID view, const char* viewName,
                     std::string_view key);
// The same to the known document id of db (0: nothing is linked, false).
bool OrdexPutDocLinkId(GVDOC target, const char* item, GVDB db, GVNOTEID view, GVNOTEID id);
// Appends a link to document id of db to an open composite.
bool OrdexInsertDocLink(GVCOMP comp, GVDB db, GVNOTEID view, GVNOTEID id);

}  // namespace tw::csmgr

#endif  // TW_CSMGR_ORDEXIO_H_
