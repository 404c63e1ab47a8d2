// Rich-text entry points: composites made, opened from a document's items, merged, filled
// record by record and written back; and the document link record.
#include <cstring>

#include "database.h"
#include "document.h"
#include "plexapi.h"
#include "richtext.h"
#include "session.h"
#include "value.h"

namespace plexa {
namespace {

// A composite grows only through the API; a caller looping on inserts must meet a limit
// rather than exhaust the process.
constexpr size_t kMaxComposite = 256u << 20;

[[nodiscard]] uint32_t CheckItemName(const char* name) {
  if (name == nullptr) return 0;
  size_t n = strnlen(name, GV_ITEM_NAME_SIZE);
  if (n == 0 || n >= GV_ITEM_NAME_SIZE) return Fail(GVERR_INVALID_ARGUMENT, "item name");
  return 0;
}

uint32_t Register(Document& doc, std::string item, std::string records, bool dirty, GVCOMP& out) {
  auto comp = std::make_unique<Composite>();
  comp->doc = doc.handle();
  comp->item = std::move(item);
  comp->records = std::move(records);
  comp->dirty = dirty;
  return AddHandle(std::move(comp), doc.handle(), out);
}

uint32_t Insert(Composite& comp, uint32_t position, std::string_view records) {
  if (comp.records.size() + records.size() > kMaxComposite)
    return Fail(GVERR_TOO_BIG, "composite above 256 MiB");
  // Both streams are checked before anything is inserted.
  if (uint32_t st = rt::InsertRecords(comp.records, position, records)) return Fail(st);
  comp.dirty = true;
  return 0;
}

// A bound composite's records replace the items of its name in its document.
[[nodiscard]] uint32_t WriteBack(Composite& comp) {
  if (comp.item.empty() || !comp.dirty) return 0;
  Document* doc = FindDocument(comp.doc);
  if (doc == nullptr) return GVERR_INVALID_HANDLE;
  if (uint32_t st = doc->CheckField(comp.item)) return st;
  if (uint32_t st = doc->PutRichText(comp.item, comp.records)) return st;
  comp.dirty = false;
  return 0;
}

[[nodiscard]] uint32_t ReadUnid(Txn& txn, GVNOTEID id, Unid& out, uint32_t& cls) {
  if (id == 0 || (id & 1) != 0 || id > kMaxNoteId)
    return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id));
  NoteRow row;
  if (uint32_t st = ReadNote(txn, id, row)) return st;
  out = row.unid;
  cls = row.cls;
  return 0;
}

[[nodiscard]] uint32_t MakeDoclink(Database& db, GVNOTEID view, GVNOTEID note, GVDocLink& out) {
  Txn txn(db);
  if (uint32_t st = txn.Begin(Txn::kRead)) return st;
  GVDocLink link{};
  std::memcpy(link.database, db.identity().data(), GV_UNID_SIZE);
  Unid unid{};
  uint32_t cls = 0;
  if (uint32_t st = ReadUnid(txn, note, unid, cls)) return st;
  if (cls != kClassDocument && cls != kClassInfo)
    return Fail(GVERR_NO_ENTRY, "note " + std::to_string(note) + " is not a document");
  std::memcpy(link.note, unid.data(), GV_UNID_SIZE);
  if (view != 0) {
    if (ReadUnid(txn, view, unid, cls) != 0 || cls != kClassView)
      return Fail(GVERR_NO_VIEW, "note " + std::to_string(view));
    std::memcpy(link.view, unid.data(), GV_UNID_SIZE);
  }
  if (uint32_t st = txn.Commit()) return st;
  out = link;
  return 0;
}

}  // namespace
}  // namespace plexa

using plexa::Composite;
using plexa::Document;

extern "C" {

GV_API uint32_t GVCompositeCreate(GVDOC doc, const char* itemName, GVCOMP* comp) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (comp == nullptr) return GVERR_INVALID_ARGUMENT;
    if (uint32_t st = plexa::CheckItemName(itemName)) return st;
    // A bound new composite replaces its items even when nothing is inserted into it.
    bool bound = itemName != nullptr;
    return plexa::Register(*d, bound ? itemName : "", {}, bound, *comp);
  });
}

GV_API uint32_t GVCompositeOpen(GVDOC doc, const char* itemName, GVCOMP* comp) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (comp == nullptr || itemName == nullptr) return GVERR_INVALID_ARGUMENT;
    if (uint32_t st = plexa::CheckItemName(itemName)) return st;
    if (uint32_t st = d->ReadParts()) return st;
    std::string records = d->JoinedRecords(itemName);
    if (uint32_t st = plexa::rt::Validate(records, true))
      return plexa::Fail(st, std::string(itemName) + ": stored records are malformed");
    return plexa::Register(*d, itemName, std::move(records), false, *comp);
  });
}

GV_API uint32_t GVCompositeClose(GVCOMP comp, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    Composite* c = plexa::Find<Composite>(comp);
    if (c == nullptr) return GVERR_INVALID_HANDLE;
    if (flags != GVCOMPCLOSE_WRITE && flags != GVCOMPCLOSE_DISCARD) return GVERR_INVALID_ARGUMENT;
    uint32_t st = flags == GVCOMPCLOSE_WRITE ? plexa::WriteBack(*c) : 0;
    (void)plexa::CloseHandle(comp);  // found above: closing it cannot fail
    return st;
  });
}

GV_API uint32_t GVCompositeMerge(GVCOMP target, uint32_t position, GVCOMP source) {
  return plexa::ApiSession([&]() -> uint32_t {
    Composite* t = plexa::Find<Composite>(target);
    Composite* s = plexa::Find<Composite>(source);
    if (t == nullptr || s == nullptr) return GVERR_INVALID_HANDLE;
    // A copy: target and source may be the same composite.
    std::string records = s->records;
    return plexa::Insert(*t, position, records);
  });
}

GV_API uint32_t GVCDRecordInsert(GVCOMP comp, uint32_t position, uint32_t kind,
                                 const void* record) {
  return plexa::ApiSession([&]() -> uint32_t {
    Composite* c = plexa::Find<Composite>(comp);
    if (c == nullptr) return GVERR_INVALID_HANDLE;
    std::string made;
    if (uint32_t st = plexa::rt::MakeRecord(kind, record, made)) return st;
    return plexa::Insert(*c, position, made);
  });
}

GV_API uint32_t GVCDRecordMakeDoclink(GVDB db, GVNOTEID view, GVNOTEID noteId, GVDocLink* link) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (link == nullptr) return GVERR_INVALID_ARGUMENT;
    return plexa::MakeDoclink(*d, view, noteId, *link);
  });
}

}  // extern "C"
