// The access layer of the control store over the Plexa API: every item, view cell, key
// search and document link of the manager goes through here, so a failure is recorded once.
#include "ordexio.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "csmgr.h"
#include "log.h"
#include "nordex.h"
#include "tw/coding.h"

namespace tw::csmgr {
namespace {

// Which database each open document belongs to, so a failure report can name it.
std::unordered_map<GVDOC, GVDB>& DocumentDatabases() {
  static std::unordered_map<GVDOC, GVDB> map;
  return map;
}

std::string Printf(const char* format, auto... args) {
  int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string TitleOfDocument(GVDOC doc) {
  auto it = DocumentDatabases().find(doc);
  return it == DocumentDatabases().end() ? std::string("unknown") : OrdexDatabaseTitle(it->second);
}

std::string FormOfDocument(GVDOC doc) {
  uint32_t length = 0;
  if (doc == 0 || GVItemGetLength(doc, "Form", GVTYPE_TEXT, GVTYPE_TEXT, &length) != 0)
    return "unknown";
  std::string text(length + 1, '\0');
  uint32_t kind = GVTYPE_TEXT;
  if (GVItemFetch(doc, "Form", &kind, 0, length + 1, text.data()) != 0) return "unknown";
  text.resize(std::strlen(text.c_str()));
  return text.empty() ? std::string("unknown") : text;
}

// Records a failed call: the Plexa text, then the structured text of what was being done.
// Whether a failed call is recorded as a diagnostic. A server that does not answer is
// reported at any level.
bool Diagnosed(uint32_t status) {
  if (status == GVERR_NO_SERVER) CSMgrServerLost();
  return !CSMgrReportsQuiet() && Service().diagnostics != 0;
}

void Failed(uint32_t status, const std::string& what) {
  if (!Diagnosed(status)) return;
  CSMgrPlexaFailure(status);
  CSMgrDiagnostic(what);
}

void FieldFailed(uint32_t status, GVDOC doc, const char* item) {
  if (!Diagnosed(status)) return;
  Failed(status, Printf("Field error|database %s|form %s|field %s", TitleOfDocument(doc).c_str(),
                        FormOfDocument(doc).c_str(), item != nullptr ? item : "unknown"));
}

std::string TitleOfIndex(GVINDEX) {
  // An index does not name its database; the Administrator's title is the usual answer.
  const std::string& title = Service().adminTitle;
  return title.empty() ? std::string("unknown") : title;
}

void IndexFailed(uint32_t status, GVINDEX index, const char* view, uint32_t column) {
  if (!Diagnosed(status)) return;
  Failed(status, Printf("Index error|database %s|view %s|column %d", TitleOfIndex(index).c_str(),
                        view != nullptr ? view : "unknown", static_cast<int>(column)));
}

int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Reads a list value's bytes in the layout of kind; false when absent or not a list.
bool ListBytes(GVDOC doc, const char* item, uint32_t kind, std::string_view* bytes,
               uint32_t* storedType) {
  const void* value = nullptr;
  uint32_t length = 0;
  uint32_t k = kind;
  uint32_t st = GVItemGetPointer(doc, item, &k, &value, &length);
  if (st != 0) {
    if (st != GVERR_NO_ITEM && st != GVERR_NO_VALUE) FieldFailed(st, doc, item);
    return false;
  }
  *bytes = std::string_view(static_cast<const char*>(value), value != nullptr ? length : 0);
  if (storedType != nullptr) *storedType = k;
  return true;
}

// Walks a text list layout; false when the bytes are not a whole list.
bool SplitTextList(std::string_view bytes, std::vector<std::string>* entries) {
  if (bytes.size() < 2) return false;
  const size_t n = get_u16(bytes.data());
  size_t offset = 2 + 2 * n;
  if (offset > bytes.size()) return false;
  std::vector<std::string> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    size_t len = get_u16(bytes.data() + 2 + 2 * i);
    if (offset + len > bytes.size()) return false;
    out.emplace_back(bytes.substr(offset, len));
    offset += len;
  }
  *entries = std::move(out);
  return true;
}

GVTIMEDATE TodayOrNow() {
  return CSMgrNow();
}

}  // namespace

// ------------------------------------------------------------------------ databases --

bool OrdexOpenDatabase(std::string_view server, std::string_view file, GVDB* db) {
  std::string path = std::string(server) + "!!" + std::string(file);
  GVDB opened = 0;
  uint32_t st = GVDatabaseOpen(nullptr, path.c_str(), 0, &opened);
  if (st != 0) {
    Failed(st, Printf("Database error|database %s|regarding %s", path.c_str(), "open"));
    return false;
  }
  *db = opened;
  return true;
}

void OrdexCloseDatabase(GVDB* db) {
  if (*db == 0) return;
  auto& docs = DocumentDatabases();
  for (auto it = docs.begin(); it != docs.end();) {
    if (it->second == *db)
      it = docs.erase(it);
    else
      ++it;
  }
  GVDatabaseClose(*db, 0);
  *db = 0;
}

std::string OrdexDatabaseTitle(GVDB db) {
  char title[GV_TITLE_SIZE] = {};
  if (db == 0 || GVDatabaseGetProperty(db, GVDBPROP_TITLE, title) != 0) return "unknown";
  title[sizeof(title) - 1] = '\0';
  return title[0] != '\0' ? std::string(title) : std::string("unknown");
}

bool OrdexServerLost() {
  uint32_t last = 0;
  GVErrorFetch(&last, nullptr, nullptr);
  return last == GVERR_NO_SERVER;
}

GVNOTEID OrdexLocateView(GVDB db, const char* name) {
  GVSetProperty(GVPROP_CLEAR_ERROR, 0);
  GVNOTEID id = GVViewLocateByName(db, name);
  if (id == 0)
    Failed(OrdexServerLost() ? GVERR_NO_SERVER : GVERR_NO_VIEW,
           Printf("Index error|database %s|view %s|column %d", OrdexDatabaseTitle(db).c_str(), name,
                  0));
  return id;
}

GVNOTEID OrdexLocateForm(GVDB db, const char* name) {
  GVSetProperty(GVPROP_CLEAR_ERROR, 0);
  GVNOTEID id = GVFormLocateByName(db, name);
  if (id == 0)
    Failed(OrdexServerLost() ? GVERR_NO_SERVER : GVERR_NO_FORM,
           Printf("Field error|database %s|form %s|field %s", OrdexDatabaseTitle(db).c_str(), name,
                  "unknown"));
  return id;
}

bool OrdexOpenIndex(GVDB db, GVNOTEID view, const char* viewName, GVINDEX* index) {
  GVINDEX opened = 0;
  uint32_t st = GVIndexOpen(db, &opened);
  if (st == 0) {
    st = GVIndexOpenView(opened, 0, view, 0);
    if (st != 0) GVIndexClose(opened);
  }
  if (st != 0) {
    Failed(st, Printf("Index error|database %s|view %s|column %d", OrdexDatabaseTitle(db).c_str(),
                      viewName != nullptr ? viewName : "unknown", 0));
    *index = 0;
    return false;
  }
  *index = opened;
  return true;
}

void OrdexCloseIndex(GVINDEX* index) {
  if (*index != 0) GVIndexClose(*index);
  *index = 0;
}

bool OrdexRefreshIndex(GVINDEX index) {
  uint32_t st = GVIndexRefresh(index);
  if (st != 0) IndexFailed(st, index, "unknown", 0);
  // Each poll refreshes the queue: one that got through ends an outage of the server.
  if (st == 0) CSMgrServerAnswers();
  return st == 0;
}

// ------------------------------------------------------------------------ documents --

bool OrdexOpenDocument(GVDB db, GVNOTEID id, uint32_t flags, GVDOC* doc) {
  GVDOC opened = 0;
  uint32_t st = GVDocumentOpen(db, id, flags, &opened);
  if (st != 0) {
    Failed(st, Printf("Document error|database %s|document #%d (#%X)",
                      OrdexDatabaseTitle(db).c_str(), static_cast<int>(id), id));
    return false;
  }
  DocumentDatabases()[opened] = db;
  *doc = opened;
  return true;
}

bool OrdexCreateDocument(GVDB db, GVNOTEID form, GVDOC* doc) {
  GVDOC created = 0;
  uint32_t st = GVDocumentCreate(db, form, &created);
  if (st != 0) {
    Failed(st, Printf("Document error|database %s|document #%d (#%X)",
                      OrdexDatabaseTitle(db).c_str(), 0, 0u));
    return false;
  }
  DocumentDatabases()[created] = db;
  *doc = created;
  return true;
}

GVNOTEID OrdexDocumentId(GVDOC doc) {
  uint32_t id = 0;
  if (doc == 0 || GVDocumentGetProperty(doc, GVDOCPROP_NOTE_ID, &id) != 0) return 0;
  return id;
}

namespace {

bool Save(GVDOC doc, uint32_t flags, bool* conflict) {
  const uint32_t st = GVDocumentSave(doc, flags);
  if (conflict != nullptr) *conflict = st == GVERR_CONFLICT;
  if (st != 0 && st != GVERR_CONFLICT) {
    GVNOTEID id = OrdexDocumentId(doc);
    Failed(st, Printf("Document error|database %s|document #%d (#%X)", TitleOfDocument(doc).c_str(),
                      static_cast<int>(id), id));
  }
  return st == 0;
}

}  // namespace

bool OrdexSaveDocument(GVDOC doc) {
  return Save(doc, 0, nullptr);
}

bool OrdexSaveIfUnchanged(GVDOC doc, bool* conflict) {
  return Save(doc, GVSAVE_UNCHANGED, conflict);
}

bool OrdexCloseDocument(GVDOC* doc, bool keep) {
  if (*doc == 0) return true;
  GVNOTEID id = OrdexDocumentId(*doc);
  // The database outlives its documents: its title is read only for a failure (a read of
  // the database at every close costs a round trip on a server held in PostgreSQL).
  auto it = DocumentDatabases().find(*doc);
  const GVDB db = it != DocumentDatabases().end() ? it->second : 0;
  uint32_t st = GVDocumentClose(*doc, keep ? GVCLOSE_STORE : GVCLOSE_DISCARD);
  DocumentDatabases().erase(*doc);
  *doc = 0;
  if (st != 0)
    Failed(st,
           Printf("Document error|database %s|document #%d (#%X)",
                  db != 0 ? OrdexDatabaseTitle(db).c_str() : "unknown", static_cast<int>(id), id));
  return st == 0;
}

// ------------------------------------------------------------------------ items ------

bool OrdexReadText(GVDOC doc, const char* item, std::string* text) {
  uint32_t length = 0;
  uint32_t st = GVItemGetLength(doc, item, GVTYPE_TEXT, GVTYPE_TEXT, &length);
  if (st == 0) {
    std::string value(static_cast<size_t>(length) + 1, '\0');
    uint32_t kind = GVTYPE_TEXT;
    st = GVItemFetch(doc, item, &kind, 0, length + 1, value.data());
    if (st == 0) {
      value.resize(std::strlen(value.c_str()));
      *text = std::move(value);
      return true;
    }
  }
  FieldFailed(st, doc, item);
  return false;
}

bool OrdexReadNumber(GVDOC doc, const char* item, int32_t* value) {
  double number = 0;
  uint32_t kind = GVTYPE_NUMBER;
  uint32_t st = GVItemFetch(doc, item, &kind, 0, sizeof number, &number);
  if (st != 0) {
    FieldFailed(st, doc, item);
    return false;
  }
  *value = TruncateToInt32(number);
  return true;
}

bool OrdexReadDatetime(GVDOC doc, const char* item, GVTIMEDATE* value) {
  GVTIMEDATE stored{};
  uint32_t kind = GVTYPE_TIME;
  uint32_t st = GVItemFetch(doc, item, &kind, 0, sizeof stored, &stored);
  GVTIMEPARTS parts{};
  if (st == 0) st = GVDatetimeFetch(&stored, &parts);
  if (st != 0) {
    FieldFailed(st, doc, item);
    return false;
  }
  const bool dateWild = parts.year == -1 || parts.month == -1 || parts.day == -1;
  const bool timeWild =
      parts.hour == -1 || parts.minute == -1 || parts.second == -1 || parts.hundredth == -1;
  if (dateWild || timeWild) {
    GVTIMEDATE now = TodayOrNow();
    GVTIMEPARTS today{};
    if (GVDatetimeFetch(&now, &today) != 0 || today.year == -1) {
      GVDatetimeCurrent(&now);
      GVDatetimeFetch(&now, &today);
    }
    if (parts.year == -1) parts.year = today.year;
    if (parts.month == -1) parts.month = today.month;
    if (parts.day == -1) parts.day = today.day;
    if (parts.hour == -1) parts.hour = 0;
    if (parts.minute == -1) parts.minute = 0;
    if (parts.second == -1) parts.second = 0;
    if (parts.hundredth == -1) parts.hundredth = 0;
    if (parts.zone == -1 || dateWild) parts.zone = today.zone;
    if (parts.daylight == -1 || dateWild) parts.daylight = today.daylight;
    st = GVDatetimeCreate(&parts, &stored);
    if (st != 0) {
      FieldFailed(st, doc, item);
      return false;
    }
  }
  *value = stored;
  return true;
}

bool OrdexReadNumberList(GVDOC doc, const char* item, size_t max, std::vector<int32_t>* values) {
  std::string_view bytes;
  if (!ListBytes(doc, item, GVTYPE_NUMBER_LIST, &bytes, nullptr)) return false;
  if (bytes.size() < 4) return false;
  size_t n = get_u16(bytes.data());
  if (4 + 8 * n > bytes.size()) {
    CSMGR_CHECK(false);
    return false;
  }
  if (n == 0) return false;
  std::vector<int32_t> out;
  for (size_t i = 0; i < n && i < max; ++i) {
    double d;
    std::memcpy(&d, bytes.data() + 4 + 8 * i, sizeof d);
    out.push_back(TruncateToInt32(d));
  }
  *values = std::move(out);
  return true;
}

bool OrdexReadDatetimeList(GVDOC doc, const char* item, std::vector<GVTIMEDATE>* singles,
                           std::vector<std::pair<GVTIMEDATE, GVTIMEDATE>>* ranges) {
  std::string_view bytes;
  if (!ListBytes(doc, item, GVTYPE_TIME_LIST, &bytes, nullptr)) return false;
  if (bytes.size() < 4) return false;
  size_t n = get_u16(bytes.data());
  size_t r = get_u16(bytes.data() + 2);
  if (4 + 8 * n + 16 * r > bytes.size()) {
    CSMGR_CHECK(false);
    return false;
  }
  auto at = [&](size_t offset) {
    return GVTIMEDATE{get_u32(bytes.data() + offset), get_u32(bytes.data() + offset + 4)};
  };
  singles->clear();
  ranges->clear();
  for (size_t i = 0; i < n; ++i) singles->push_back(at(4 + 8 * i));
  for (size_t i = 0; i < r; ++i) {
    size_t o = 4 + 8 * n + 16 * i;
    ranges->emplace_back(at(o), at(o + 8));
  }
  return n + r > 0;
}

bool OrdexReadTextList(GVDOC doc, const char* item, std::vector<std::string>* entries) {
  std::string_view bytes;
  uint32_t type = 0;
  if (!ListBytes(doc, item, 0, &bytes, &type)) return false;
  if (type == GVTYPE_TEXT) {
    entries->assign(1, std::string(bytes));
    return true;
  }
  if (type != GVTYPE_TEXT_LIST || !SplitTextList(bytes, entries)) {
    FieldFailed(GVERR_ITEM_KIND, doc, item);
    return false;
  }
  return true;
}

bool OrdexReadListEntry(GVDOC doc, const char* item, uint32_t entry, std::string* text) {
  std::vector<std::string> entries;
  if (!OrdexReadTextList(doc, item, &entries)) return false;
  if (entry == 0 || entry > entries.size()) {
    FieldFailed(GVERR_NO_ENTRY, doc, item);
    return false;
  }
  *text = entries[entry - 1];
  return true;
}

bool OrdexItemType(GVDOC doc, const char* item, uint32_t* type) {
  uint32_t t = 0;
  uint32_t st = GVItemGetInfo(doc, item, &t, nullptr, nullptr);
  if (st == GVERR_NO_ITEM || st == GVERR_NO_VALUE) {
    *type = 0;
    return true;
  }
  if (st != 0) {
    FieldFailed(st, doc, item);
    return false;
  }
  *type = t;
  return true;
}

bool OrdexItemPresent(GVDOC doc, const char* item) {
  uint32_t type = 0, length = 0;
  if (GVItemGetInfo(doc, item, &type, nullptr, &length) != 0) return false;
  switch (type) {
    case GVTYPE_TEXT_LIST:
      return length > 2;
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST:
      return length > 4;
    default:
      return length > 0;
  }
}

bool OrdexIsTrue(GVDOC doc, const char* item) {
  int32_t value = 0;
  return OrdexReadNumber(doc, item, &value) && value != 0;
}

bool OrdexWriteNumber(GVDOC doc, const char* item, int64_t value) {
  double d = static_cast<double>(value);
  uint32_t st = GVItemPut(doc, item, GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &d, 0);
  if (st != 0) FieldFailed(st, doc, item);
  return st == 0;
}

bool OrdexWriteText(GVDOC doc, const char* item, std::string_view text) {
  // An empty text is passed as one NUL so that length 0 does not mean "up to a NUL".
  const char empty = '\0';
  uint32_t st = text.empty() ? GVItemPut(doc, item, GVTYPE_TEXT, 0, GVTYPE_TEXT, &empty, 0)
                             : GVItemPut(doc, item, GVTYPE_TEXT, static_cast<uint32_t>(text.size()),
                                         GVTYPE_TEXT, text.data(), 0);
  if (st != 0) FieldFailed(st, doc, item);
  return st == 0;
}

bool OrdexWriteDatetime(GVDOC doc, const char* item, const GVTIMEDATE& value) {
  uint32_t st = GVItemPut(doc, item, GVTYPE_TIME, 0, GVTYPE_TIME, &value, 0);
  if (st != 0) FieldFailed(st, doc, item);
  return st == 0;
}

bool OrdexWriteNumberList(GVDOC doc, const char* item, const std::vector<int32_t>& values) {
  if (values.size() > 0xFFFF) return CSMGR_CHECK(false);
  std::string bytes(4 + 8 * values.size(), '\0');
  put_u16(bytes.data(), static_cast<uint16_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    double d = values[i];
    std::memcpy(bytes.data() + 4 + 8 * i, &d, sizeof d);
  }
  return OrdexWriteRaw(doc, item, GVTYPE_NUMBER_LIST, bytes);
}

bool OrdexWriteRaw(GVDOC doc, const char* item, uint32_t type, std::string_view bytes) {
  uint32_t st =
      GVItemPut(doc, item, type, static_cast<uint32_t>(bytes.size()), type, bytes.data(), 0);
  if (st != 0) FieldFailed(st, doc, item);
  return st == 0;
}

bool OrdexDeleteItem(GVDOC doc, const char* item) {
  uint32_t st = GVItemDelete(doc, item);
  if (st != 0) FieldFailed(st, doc, item);
  return st == 0;
}

// ------------------------------------------------------------------------ rich text --

bool OrdexReadRichPieces(GVDOC doc, const char* item, std::vector<std::string>* pieces) {
  uint32_t core = 0;
  uint32_t st = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core);
  if (st != 0) {
    FieldFailed(st, doc, item);
    return false;
  }
  const uint16_t nameLength = static_cast<uint16_t>(std::strlen(item));
  std::vector<std::string> out;
  NXBLOCK head = 0, value = 0;
  uint16_t type = 0;
  uint32_t length = 0;
  uint16_t s = NXItemFirst(core, item, nameLength, &head, &type, &value, &length);
  while (s == 0) {
    if (type == NXTYPE_COMPOSITE && length >= 2) {
      const void* bytes = NXBlockLock(value);
      if (bytes == nullptr) {
        FieldFailed(GVERR_INVALID_HANDLE, doc, item);
        return false;
      }
      out.emplace_back(static_cast<const char*>(bytes) + 2, length - 2);
      NXBlockUnlock(value);
    }
    s = NXItemNext(core, head, item, nameLength, &head, &type, &value, &length);
  }
  if (s != NXERR_NO_ITEM) {
    FieldFailed(0x80000000u | s, doc, item);
    return false;
  }
  *pieces = std::move(out);
  return true;
}

bool OrdexSplitRecords(std::string_view records, size_t pieceLimit,
                       std::vector<std::string_view>* pieces) {
  std::vector<std::string_view> out;
  size_t pieceStart = 0, offset = 0;
  while (offset < records.size()) {
    if (records.size() - offset < 2) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(records.data() + offset);
    size_t header = 2, length = p[1];
    if (p[1] == 0xFF) {
      header = 4;
      if (records.size() - offset < header) return false;
      length = get_u16(p + 2);
    } else if (p[1] == 0) {
      header = 6;
      if (records.size() - offset < header) return false;
      length = get_u32(p + 2);
    }
    // A length shorter than its own head would never advance the walk.
    if (length < header || length > records.size() - offset) return false;
    size_t next = offset + length;
    if ((length & 1) != 0 && next < records.size()) ++next;  // the padding byte
    if (next - pieceStart > pieceLimit && offset > pieceStart) {
      out.push_back(records.substr(pieceStart, offset - pieceStart));
      pieceStart = offset;
    }
    offset = next;
  }
  if (offset > pieceStart) out.push_back(records.substr(pieceStart, offset - pieceStart));
  *pieces = std::move(out);
  return true;
}

// Adds each piece as one more record of the item, in order; false (reported) at the first
// that the store refuses.
static bool AppendPieces(uint32_t core, GVDOC doc, const char* item,
                         const std::vector<std::string_view>& pieces) {
  const uint16_t nameLength = static_cast<uint16_t>(std::strlen(item));
  for (std::string_view piece : pieces) {
    uint16_t s = NXItemAppend(core, 0, item, nameLength, NXTYPE_COMPOSITE, piece.data(),
                              static_cast<uint32_t>(piece.size()));
    if (s != 0) {
      FieldFailed(0x80000000u | s, doc, item);
      return false;
    }
  }
  return true;
}

bool OrdexWriteRichPieces(GVDOC doc, const char* item, std::string_view records) {
  std::vector<std::string_view> pieces;
  if (!OrdexSplitRecords(records, GV_RICHTEXT_PIECE, &pieces)) {
    GVItemDelete(doc, item);
    FieldFailed(GVERR_COMPOSITE, doc, item);
    return false;
  }
  uint32_t core = 0;
  uint32_t st = GVItemDelete(doc, item);
  if (st == 0) st = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core);
  if (st != 0) {
    FieldFailed(st, doc, item);
    return false;
  }
  if (AppendPieces(core, doc, item, pieces)) return true;
  GVItemDelete(doc, item);
  return false;
}

bool OrdexAppendRichPieces(GVDOC doc, const char* item, std::string_view records) {
  std::vector<std::string_view> pieces;
  if (!OrdexSplitRecords(records, GV_RICHTEXT_PIECE, &pieces)) {
    FieldFailed(GVERR_COMPOSITE, doc, item);
    return false;
  }
  uint32_t core = 0;
  if (uint32_t st = GVDocumentGetOrdexHandle(doc, GVHANDLE_CORE, &core)) {
    FieldFailed(st, doc, item);
    return false;
  }
  return AppendPieces(core, doc, item, pieces);
}

void OrdexAddTextRecord(std::string* records, std::string_view text) {
  text = text.substr(0, text.find('\0'));
  // A signature byte and a length word (a long word beyond 65535 bytes), the style word 0,
  // the text, and a padding byte after an odd length.
  constexpr size_t kStyle = 4;
  size_t length = 4 + kStyle + text.size();
  char head[6];
  head[0] = static_cast<char>(GVCDSIG_TEXT);
  if (length <= 0xFFFF) {
    head[1] = static_cast<char>(0xFF);
    put_u16(head + 2, static_cast<uint16_t>(length));
    records->append(head, 4);
  } else {
    length += 2;
    head[1] = 0;
    put_u32(head + 2, static_cast<uint32_t>(length));
    records->append(head, 6);
  }
  records->append(kStyle, '\0');
  records->append(text);
  if (length & 1) records->push_back('\0');
}

void OrdexAddParagraphRecord(std::string* records) {
  records->push_back(static_cast<char>(GVCDSIG_PARAGRAPH));
  records->push_back(2);
}

// ------------------------------------------------------------------------ views ------

bool OrdexViewCellDatetime(GVINDEX index, const char* viewName, uint32_t column,
                           GVTIMEDATE* value) {
  GVTIMEDATE cell{};
  uint32_t st = GVViewcellFetch(index, column, GVTYPE_TIME, sizeof cell, &cell);
  if (st != 0) {
    IndexFailed(st, index, viewName, column);
    return false;
  }
  *value = cell;
  return true;
}

bool OrdexViewCellText(GVINDEX index, const char* viewName, uint32_t column, std::string* value) {
  uint32_t length = 0;
  uint32_t st = GVViewcellGetLength(index, column, GVTYPE_TEXT, &length);
  if (st == 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    st = GVViewcellFetch(index, column, GVTYPE_TEXT, length + 1, text.data());
    if (st == 0) {
      text.resize(std::strlen(text.c_str()));
      *value = std::move(text);
      return true;
    }
  }
  IndexFailed(st, index, viewName, column);
  return false;
}

bool OrdexViewCellNumber(GVINDEX index, const char* viewName, uint32_t column, int32_t* value) {
  double cell = 0;
  uint32_t st = GVViewcellFetch(index, column, GVTYPE_NUMBER, sizeof cell, &cell);
  if (st != 0) {
    IndexFailed(st, index, viewName, column);
    return false;
  }
  *value = TruncateToInt32(cell);
  return true;
}

namespace {

// A search on the first sorted column for k; a key that is not there is no match. Failures
// are logged in diagnostics with keyText.
bool KeySearch(GVINDEX index, const char* viewName, const GVKey& k, const std::string& keyText,
               uint32_t* matches) {
  uint32_t found = 0;
  uint32_t st = GVIndexKeySearch(index, 1, &k, 0, &found);
  if (st == GVERR_KEY_NOT_FOUND) st = 0, found = 0;
  if (st != 0) {
    if (!CSMgrReportsQuiet() && Service().diagnostics != 0)
      Failed(st,
             Printf("Index error|database %s|view %s|column %d|key %s", TitleOfIndex(index).c_str(),
                    viewName != nullptr ? viewName : "unknown", 1, keyText.c_str()));
    return false;
  }
  *matches = found;
  return true;
}

}  // namespace

bool OrdexKeySearchText(GVINDEX index, const char* viewName, std::string_view key,
                        uint32_t* matches) {
  std::string text(key);
  GVKey k{};
  k.column = 1;
  k.kind = GVTYPE_TEXT;
  k.text = text.c_str();
  return KeySearch(index, viewName, k, text, matches);
}

bool OrdexKeySearchNumber(GVINDEX index, const char* viewName, int32_t key, uint32_t* matches) {
  GVKey k{};
  k.column = 1;
  k.kind = GVTYPE_NUMBER;
  k.number = key;
  return KeySearch(index, viewName, k, std::to_string(key), matches);
}

GVNOTEID OrdexFirstIdOfKey(GVDB db, GVNOTEID view, const char* viewName, std::string_view key) {
  GVINDEX index = 0;
  if (view == 0 || !OrdexOpenIndex(db, view, viewName, &index)) return 0;
  GVNOTEID id = 0;
  uint32_t matches = 0;
  if (OrdexKeySearchText(index, viewName, key, &matches) && matches > 0) {
    if (GVIndexNavigate(index, GVNAV_CURRENT, GVNAVF_DOCUMENTS, &id, nullptr) != 0) id = 0;
  }
  OrdexCloseIndex(&index);
  return id;
}

bool OrdexInsertDocLink(GVCOMP comp, GVDB db, GVNOTEID view, GVNOTEID id) {
  GVDocLink link{};
  uint32_t st = GVCDRecordMakeDoclink(db, view, id, &link);
  if (st == 0) st = GVCDRecordInsert(comp, 0, GVCD_DOCLINK, &link);
  if (st != 0)
    Failed(st, Printf("Document error|database %s|document #%d (#%X)",
                      OrdexDatabaseTitle(db).c_str(), static_cast<int>(id), id));
  return st == 0;
}

bool OrdexPutDocLinkId(GVDOC target, const char* item, GVDB db, GVNOTEID view, GVNOTEID id) {
  if (id == 0) return false;
  GVCOMP comp = 0;
  uint32_t st = GVCompositeCreate(target, item, &comp);
  if (st != 0) {
    FieldFailed(st, target, item);
    return false;
  }
  if (!OrdexInsertDocLink(comp, db, view, id)) {
    GVCompositeClose(comp, GVCOMPCLOSE_DISCARD);
    return false;
  }
  st = GVCompositeClose(comp, GVCOMPCLOSE_WRITE);
  if (st != 0) {
    FieldFailed(st, target, item);
    return false;
  }
  return OrdexWriteNumber(target, "LinkExists", 1);
}

bool OrdexPutDocLink(GVDOC target, const char* item, GVDB db, GVNOTEID view, const char* viewName,
                     std::string_view key) {
  GVNOTEID id = OrdexFirstIdOfKey(db, view, viewName, key);
  return id != 0 && OrdexPutDocLinkId(target, item, db, view, id);
}

}  // namespace tw::csmgr
