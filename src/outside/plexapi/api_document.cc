// Document entry points: create, open, save, close, delete, copy, properties and the core
// handle.
#include <cstring>

#include "database.h"
#include "document.h"
#include "plexapi.h"
#include "session.h"
#include "timedate.h"

namespace plexa {
namespace {

bool IsDocumentClass(uint32_t cls) {
  return cls == kClassDocument || cls == kClassInfo;
}

// Copies note id of source into target under the same identity (see GVDocumentCopy).
[[nodiscard]] uint32_t CopyNote(Database& source, GVNOTEID id, Database& target, GVNOTEID& copy) {
  NoteRow row;
  std::vector<StoredItem> items;
  std::vector<AttachmentRow> atts;
  {
    Txn txn(source);
    if (uint32_t s = txn.Begin(Txn::kRead)) return s;
    if (uint32_t s = ReadNoteItems(txn, id, row, items)) return s;
    if (!IsDocumentClass(row.cls))
      return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id) + " is not a document");
    if (uint32_t s = ReadAttachmentRows(txn, id, atts)) return s;
    if (uint32_t s = txn.Commit()) return s;
  }
  Txn txn(target);
  if (uint32_t s = txn.Begin(Txn::kWrite)) return s;
  GVNOTEID existing = 0;
  uint32_t existingClass = 0;
  if (uint32_t s = FindNoteByUnid(txn, row.unid, existing, existingClass)) return s;
  if (existing != 0 && !IsDocumentClass(existingClass))
    return Fail(GVERR_EXISTS, "a design note has this identity");
  GVTIMEDATE now = CurrentTime();
  std::string modified = EncodeStoredTime(now);
  if (existing == 0) {
    NoteRow fresh = row;
    fresh.id = 0;
    fresh.modified = now;
    fresh.seq = 1;
    if (uint32_t s = InsertNote(txn, fresh)) return s;
    existing = fresh.id;
  } else {
    if (uint32_t s = RunSql(txn, "DELETE FROM attachment WHERE note=?", existing)) return s;
    if (uint32_t s =
            RunSql(txn,
                   "UPDATE note SET class=?, form_key=?, parent=?, created=?, "
                   "modified=?, seq=seq+1 WHERE id=?",
                   row.cls, TextOrNull(row.form_key), ParentParam(row.has_parent, row.parent),
                   AsBlob(EncodeStoredTime(row.created)), AsBlob(modified), existing))
      return s;
  }
  if (uint32_t s = InsertItemRows(txn, existing, items)) return s;
  for (const AttachmentRow& a : atts)
    if (uint32_t s = WriteAttachmentRow(txn, existing, a.name, a.data, a.size, a.modified))
      return s;
  if (row.cls == kClassDocument) {
    if (IndexMaintainer* ix = target.indexer()) {
      if (uint32_t s = ix->OnDelete(txn, existing)) return s;
      if (uint32_t s = ix->OnStore(txn, existing, *MakeItemSource(std::move(items)))) return s;
    }
  }
  if (uint32_t s = txn.Commit()) return s;
  copy = existing;
  return 0;
}

[[nodiscard]] uint32_t CopyUint(void* value, uint32_t v) {
  std::memcpy(value, &v, sizeof v);
  return 0;
}

}  // namespace
}  // namespace plexa

using plexa::Document;

extern "C" {

GV_API uint32_t GVDocumentCreate(GVDB db, GVNOTEID form, GVDOC* doc) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (doc == nullptr) return GVERR_INVALID_ARGUMENT;
    std::unique_ptr<Document> created;
    if (uint32_t s = Document::Create(*d, form, created)) return s;
    return Document::Register(std::move(created), *doc);
  });
}

GV_API uint32_t GVDocumentOpen(GVDB db, GVNOTEID noteId, uint32_t flags, GVDOC* doc) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (doc == nullptr) return GVERR_INVALID_ARGUMENT;
    std::unique_ptr<Document> opened;
    if (uint32_t s = Document::Open(*d, noteId, flags, opened)) return s;
    return Document::Register(std::move(opened), *doc);
  });
}

GV_API uint32_t GVDocumentSave(GVDOC doc, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    return d->Store((flags & GVSAVE_UNCHANGED) != 0);
  });
}

GV_API uint32_t GVDocumentClose(GVDOC doc, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    uint32_t st = 0;
    if ((flags & GVCLOSE_DISCARD) == 0 && !d->read_only())
      st = (flags & GVCLOSE_BULK) != 0 ? d->db().BulkStore([&] { return d->Store(); }) : d->Store();
    (void)plexa::CloseHandle(doc);  // found above: closing it cannot fail
    return st;
  });
}

GV_API uint32_t GVDocumentDelete(GVDB db, GVNOTEID noteId, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (noteId == 0 || (noteId & 1) != 0 || noteId > plexa::kMaxNoteId)
      return plexa::Fail(GVERR_NO_ENTRY, "note " + std::to_string(noteId));
    auto remove = [&]() -> uint32_t {
      plexa::Txn txn(*d);
      if (uint32_t s = txn.Begin(plexa::Txn::kWrite)) return s;
      plexa::NoteRow row;
      if (uint32_t s = plexa::ReadNote(txn, noteId, row)) return s;
      if (!plexa::IsDocumentClass(row.cls))
        return plexa::Fail(GVERR_NO_ENTRY, "note " + std::to_string(noteId) + " is not a document");
      if (uint32_t s = plexa::DeleteNote(txn, noteId)) return s;
      return txn.Commit();
    };
    return (flags & GVCLOSE_BULK) != 0 ? d->BulkStore(remove) : remove();
  });
}

GV_API uint32_t GVDocumentCopy(GVDB source, GVNOTEID noteId, GVDB target, GVNOTEID* copy) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* s = plexa::FindDatabase(source);
    plexa::Database* t = plexa::FindDatabase(target);
    if (s == nullptr || t == nullptr) return GVERR_INVALID_HANDLE;
    if (noteId == 0 || (noteId & 1) != 0 || noteId > plexa::kMaxNoteId)
      return plexa::Fail(GVERR_NO_ENTRY, "note " + std::to_string(noteId));
    GVNOTEID id = 0;
    if (uint32_t st = plexa::CopyNote(*s, noteId, *t, id)) return st;
    if (copy != nullptr) *copy = id;
    return 0;
  });
}

GV_API uint32_t GVDocumentGetProperty(GVDOC doc, uint32_t property, void* value) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (value == nullptr) return GVERR_INVALID_ARGUMENT;
    switch (property) {
      case GVDOCPROP_FORM_CHECK:
        return plexa::CopyUint(value, d->form_check() ? 1 : 0);
      case GVDOCPROP_FORM: {
        GVNOTEID form = 0;
        if (uint32_t s = d->FormId(form)) return s;
        return plexa::CopyUint(value, form);
      }
      case GVDOCPROP_MODIFIED:
        std::memcpy(value, &d->modified(), sizeof(GVTIMEDATE));
        return 0;
      case GVDOCPROP_NOTE_ID:
        return plexa::CopyUint(value, d->note_id());
      case GVDOCPROP_UNID:
        std::memcpy(value, d->unid().data(), GV_UNID_SIZE);
        return 0;
      case GVDOCPROP_CLASS:
        return plexa::CopyUint(value, d->note_class());
      case GVDOCPROP_CREATED:
        std::memcpy(value, &d->created(), sizeof(GVTIMEDATE));
        return 0;
      case GVDOCPROP_PARENT:
        if (!d->has_parent()) return GVERR_NO_ENTRY;
        std::memcpy(value, d->parent().data(), GV_UNID_SIZE);
        return 0;
      default:
        return plexa::Fail(GVERR_INVALID_ARGUMENT, "unknown document property");
    }
  });
}

GV_API uint32_t GVDocumentSetProperty(GVDOC doc, uint32_t property, const void* value) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    switch (property) {
      case GVDOCPROP_FORM_CHECK: {
        uint32_t on = 0;
        if (value != nullptr) std::memcpy(&on, value, sizeof on);
        d->set_form_check(on != 0);
        return 0;
      }
      case GVDOCPROP_PARENT: {
        if (value == nullptr) return GVERR_INVALID_ARGUMENT;
        plexa::Unid parent{};
        std::memcpy(parent.data(), value, parent.size());
        d->set_parent(&parent);
        return 0;
      }
      case GVDOCPROP_FORM:
      case GVDOCPROP_MODIFIED:
      case GVDOCPROP_NOTE_ID:
      case GVDOCPROP_UNID:
      case GVDOCPROP_CLASS:
      case GVDOCPROP_CREATED:
        return plexa::Fail(GVERR_NOT_SUPPORTED, "a read-only document property");
      default:
        return plexa::Fail(GVERR_INVALID_ARGUMENT, "unknown document property");
    }
  });
}

GV_API uint32_t GVDocumentGetOrdexHandle(GVDOC doc, uint32_t flags, uint32_t* handle) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (flags != GVHANDLE_CORE || handle == nullptr) return GVERR_INVALID_ARGUMENT;
    // The core handle is the document's own handle: one table, closed together.
    *handle = doc;
    return 0;
  });
}

}  // extern "C"
