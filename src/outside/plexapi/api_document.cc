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
uint32_t CopyNote(Database& source, GVNOTEID id, Database& target, GVNOTEID& copy) {
  NoteRow row;
  std::vector<StoredItem> items;
  struct Att {
    std::string name, data, modified;
    int64_t size;
  };
  std::vector<Att> atts;
  {
    Txn txn(source);
    if (uint32_t s = txn.Begin(Txn::kRead)) return s;
    if (uint32_t s = ReadNote(txn, id, row)) return s;
    if (!IsDocumentClass(row.cls))
      return Fail(GVERR_NO_ENTRY, "note " + std::to_string(id) + " is not a document");
    if (uint32_t s = ReadItems(txn, id, items)) return s;
    Stmt st;
    if (uint32_t s =
            txn.Prepare("SELECT name, data, size, modified FROM attachment WHERE note=?", st))
      return s;
    if (uint32_t s = st.Bind(1, int64_t{id})) return s;
    for (;;) {
      bool more = false;
      if (uint32_t s = st.Step(&more)) return s;
      if (!more) break;
      atts.push_back(Att{std::string(st.Text(0)), std::string(st.Blob(1)), std::string(st.Blob(3)),
                         st.Int(2)});
    }
    st = Stmt();
    if (uint32_t s = txn.Commit()) return s;
  }
  Txn txn(target);
  if (uint32_t s = txn.Begin(Txn::kWrite)) return s;
  GVNOTEID existing = 0;
  {
    Stmt st;
    if (uint32_t s = txn.Prepare("SELECT id, class FROM note WHERE unid=?", st)) return s;
    if (uint32_t s = st.BindBlob(1, row.unid.data(), row.unid.size())) return s;
    bool found = false;
    if (uint32_t s = st.Step(&found)) return s;
    if (found) {
      if (!IsDocumentClass(static_cast<uint32_t>(st.Int(1))))
        return Fail(GVERR_EXISTS, "a design note has this identity");
      existing = static_cast<GVNOTEID>(st.Int(0));
    }
  }
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
    const char* wipe[] = {"DELETE FROM item WHERE note=?", "DELETE FROM attachment WHERE note=?"};
    for (const char* sql : wipe) {
      Stmt st;
      if (uint32_t s = txn.Prepare(sql, st)) return s;
      if (uint32_t s = st.Bind(1, int64_t{existing})) return s;
      if (uint32_t s = st.Run()) return s;
    }
    Stmt st;
    if (uint32_t s = txn.Prepare(
            "UPDATE note SET class=?, form_key=?, parent=?, created=?, modified=?, seq=seq+1 "
            "WHERE id=?",
            st))
      return s;
    std::string created = EncodeStoredTime(row.created);
    if (uint32_t s = st.Bind(1, int64_t{row.cls})) return s;
    if (uint32_t s = row.form_key.empty() ? st.BindNull(2) : st.Bind(2, row.form_key)) return s;
    if (uint32_t s =
            row.has_parent ? st.BindBlob(3, row.parent.data(), row.parent.size()) : st.BindNull(3))
      return s;
    if (uint32_t s = st.BindBlob(4, created.data(), created.size())) return s;
    if (uint32_t s = st.BindBlob(5, modified.data(), modified.size())) return s;
    if (uint32_t s = st.Bind(6, int64_t{existing})) return s;
    if (uint32_t s = st.Run()) return s;
  }
  int64_t ord = 0;
  for (const StoredItem& it : items) {
    Stmt st;
    if (uint32_t s = txn.Prepare("INSERT INTO item(note, ord, name, name_key, type, flags, value) "
                                 "VALUES(?,?,?,?,?,?,?)",
                                 st))
      return s;
    if (uint32_t s = st.Bind(1, int64_t{existing})) return s;
    if (uint32_t s = st.Bind(2, ++ord)) return s;
    if (uint32_t s = st.Bind(3, it.name)) return s;
    if (uint32_t s = st.Bind(4, FoldAscii(it.name))) return s;
    if (uint32_t s = st.Bind(5, int64_t{it.type})) return s;
    if (uint32_t s = st.Bind(6, int64_t{it.flags})) return s;
    if (uint32_t s = st.BindBlob(7, it.value.data(), it.value.size())) return s;
    if (uint32_t s = st.Run()) return s;
  }
  for (const Att& a : atts) {
    Stmt st;
    if (uint32_t s = txn.Prepare(
            "INSERT INTO attachment(note, name, data, size, modified) VALUES(?,?,?,?,?)", st))
      return s;
    if (uint32_t s = st.Bind(1, int64_t{existing})) return s;
    if (uint32_t s = st.Bind(2, a.name)) return s;
    if (uint32_t s = st.BindBlob(3, a.data.data(), a.data.size())) return s;
    if (uint32_t s = st.Bind(4, a.size)) return s;
    if (uint32_t s = st.BindBlob(5, a.modified.data(), a.modified.size())) return s;
    if (uint32_t s = st.Run()) return s;
  }
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

uint32_t CopyUint(void* value, uint32_t v) {
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
    if ((flags & GVCLOSE_DISCARD) == 0 && !d->read_only()) st = d->Store();
    plexa::CloseHandle(doc);
    return st;
  });
}

GV_API uint32_t GVDocumentDelete(GVDB db, GVNOTEID noteId, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (noteId == 0 || (noteId & 1) != 0 || noteId > plexa::kMaxNoteId)
      return plexa::Fail(GVERR_NO_ENTRY, "note " + std::to_string(noteId));
    plexa::Txn txn(*d);
    if (uint32_t s = txn.Begin(plexa::Txn::kWrite)) return s;
    plexa::NoteRow row;
    if (uint32_t s = plexa::ReadNote(txn, noteId, row)) return s;
    if (!plexa::IsDocumentClass(row.cls))
      return plexa::Fail(GVERR_NO_ENTRY, "note " + std::to_string(noteId) + " is not a document");
    if (uint32_t s = plexa::DeleteNote(txn, noteId)) return s;
    return txn.Commit();
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
