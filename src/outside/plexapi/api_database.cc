// Database entry points: open, close, create, delete, copy, list, properties and the access
// list.
#include <cstring>

#include "database.h"
#include "pg_store.h"
#include "plexapi.h"
#include "servermap.h"
#include "session.h"
#include "value.h"

namespace plexa {
namespace {

struct ListWalk {
  bool active = false;
  std::vector<ListedDatabase> entries;
  size_t pos = 0;
};
thread_local ListWalk t_list;

[[nodiscard]] uint32_t Resolve(const char* server, const char* file, DbPath& out) {
  return ResolveDatabase(DataRoot(), server, file, out);
}

void CopyText(char* out, size_t size, std::string_view text) {
  size_t n = Utf8Cut(text, size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

[[nodiscard]] uint32_t AclUpdate(Database& db, const char* name, const GVACLEntry* entry,
                                 uint32_t op) {
  std::string_view n = name != nullptr ? std::string_view(name) : std::string_view();
  if (n.size() >= sizeof(GVACLEntry::name)) return GVERR_INVALID_ARGUMENT;
  if (op != GVACL_ADD && op != GVACL_UPDATE && op != GVACL_DELETE) return GVERR_INVALID_ARGUMENT;
  if (op != GVACL_DELETE && entry == nullptr) return GVERR_INVALID_ARGUMENT;
  Txn txn(db);
  if (uint32_t s = txn.Begin(Txn::kWrite)) return s;
  if (op == GVACL_DELETE) {
    if (uint32_t s = RunSql(txn, "DELETE FROM acl WHERE name_key=?", FoldAscii(n))) return s;
    if (db.Changes() == 0) return Fail(GVERR_NO_ENTRY, n.empty() ? "the default entry" : n);
  } else if (uint32_t s = RunSql(txn,
                                 op == GVACL_ADD
                                     ? "INSERT INTO acl(name_key, name, access, flags) "
                                       "VALUES(?,?,?,?)"
                                     : "INSERT OR REPLACE INTO acl(name_key, name, access, flags) "
                                       "VALUES(?,?,?,?)",
                                 FoldAscii(n), n, entry->access, entry->flags)) {
    return s;
  }
  return txn.Commit();
}

}  // namespace
}  // namespace plexa

extern "C" {

GV_API uint32_t GVDatabaseOpen(const char* server, const char* file, uint32_t flags, GVDB* db) {
  return plexa::ApiSession([&]() -> uint32_t {
    if (db == nullptr) return GVERR_INVALID_ARGUMENT;
    plexa::DbPath path;
    if (uint32_t s = plexa::Resolve(server, file, path)) return s;
    return plexa::OpenDatabase(path, *db);
  });
}

GV_API uint32_t GVDatabaseClose(GVDB db, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    // Documents closed in bulk are committed now; a failure is this call's answer (the
    // handle closes all the same).
    uint32_t flushed = d->FlushBulk();
    uint32_t closed = plexa::CloseHandle(db);
    return flushed != 0 ? flushed : closed;
  });
}

GV_API uint32_t GVDatabaseCreate(const char* server, const char* file, const char* title,
                                 uint32_t flags, const char* templateServer,
                                 const char* templateFile, uint32_t options, uint32_t inherit) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::DbPath target;
    if (uint32_t s = plexa::Resolve(server, file, target)) return s;
    plexa::DbPath templ;
    bool withTemplate = templateFile != nullptr && *templateFile != '\0';
    if (withTemplate)
      if (uint32_t s = plexa::Resolve(templateServer, templateFile, templ)) return s;
    return plexa::CreateDatabase(target, title != nullptr ? title : "",
                                 withTemplate ? &templ : nullptr, options, inherit != 0);
  });
}

GV_API uint32_t GVDatabaseDelete(const char* server, const char* file) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::DbPath path;
    if (uint32_t s = plexa::Resolve(server, file, path)) return s;
    return plexa::DeleteDatabase(path);
  });
}

GV_API uint32_t GVDatabaseRename(const char* server, const char* file, const char* newFile,
                                 uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    if ((flags & ~GVRENAME_REPLACE) != 0) return GVERR_INVALID_ARGUMENT;
    plexa::DbPath from, to;
    if (uint32_t s = plexa::Resolve(server, file, from)) return s;
    if (uint32_t s = plexa::Resolve(server, newFile, to)) return s;
    if (from.dir != to.dir) return plexa::Fail(GVERR_INVALID_ARGUMENT, to.Name());
    return plexa::RenameDatabase(from, to, (flags & GVRENAME_REPLACE) != 0);
  });
}

GV_API uint32_t GVDatabaseCopy(const char* sourceServer, const char* sourceFile,
                               const char* destServer, const char* destFile, const char* title,
                               uint32_t options, uint32_t sizeLimit, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::DbPath source, dest;
    if (uint32_t s = plexa::Resolve(sourceServer, sourceFile, source)) return s;
    if (uint32_t s = plexa::Resolve(destServer, destFile, dest)) return s;
    bool setTitle = (options & GVCOPY_TITLE) != 0 && title != nullptr;
    return plexa::CopyDatabase(source, dest, setTitle, setTitle ? title : "", sizeLimit);
  });
}

GV_API uint32_t GVDatabaseList(const char* server, const char* directory, uint32_t reserved,
                               uint32_t kinds, uint32_t position, uint32_t reserved2, char* title,
                               char* name) {
  return plexa::ApiSession([&]() -> uint32_t {
    if (name == nullptr) return GVERR_INVALID_ARGUMENT;
    if (position != GV_LIST_FIRST && position != GV_LIST_NEXT) return GVERR_INVALID_ARGUMENT;
    plexa::ListWalk& w = plexa::t_list;
    if (position == GV_LIST_FIRST || !w.active) {
      std::string_view srv = server != nullptr ? std::string_view(server) : std::string_view();
      std::string dir = plexa::ServerDir(plexa::DataRoot(), srv);
      plexa::DbPath held;
      if (!plexa::IsLocalServer(srv))
        if (uint32_t s = plexa::MappedConnection(plexa::DataRoot(), srv, held.pg)) return s;
      if (held.pg.empty() && !plexa::IsDirectory(dir)) return plexa::Fail(GVERR_NO_SERVER, srv);
      std::string sub = directory != nullptr ? directory : "";
      for (char& c : sub)
        if (c == '\\') c = '/';
      while (!sub.empty() && sub.back() == '/') sub.pop_back();
      if (!sub.empty() &&
          (sub.front() == '/' || ("/" + sub + "/").find("/../") != std::string::npos))
        return GVERR_INVALID_ARGUMENT;
      std::vector<plexa::ListedDatabase> all;
      if (uint32_t s =
              held.pg.empty() ? plexa::ListDatabases(dir, sub, all) : plexa::PgList(held, sub, all))
        return s;
      bool databases = (kinds & GVDBLIST_DATABASES) != 0 || (kinds & GVDBLIST_TEMPLATES) == 0;
      bool templates = (kinds & GVDBLIST_TEMPLATES) != 0 || (kinds & GVDBLIST_DATABASES) == 0;
      w.entries.clear();
      for (auto& e : all)
        if (e.is_template ? templates : databases) w.entries.push_back(std::move(e));
      w.pos = 0;
      w.active = true;
    }
    if (w.pos >= w.entries.size()) {
      w.active = false;
      return GVERR_NO_MORE;
    }
    const plexa::ListedDatabase& e = w.entries[w.pos++];
    plexa::CopyText(name, GV_PATH_SIZE, e.name);
    if (title != nullptr) plexa::CopyText(title, GV_TITLE_SIZE, e.title);
    return 0;
  });
}

GV_API uint32_t GVDatabaseGetProperty(GVDB db, uint32_t property, void* value) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::DbHandle* h = plexa::Find<plexa::DbHandle>(db);
    if (h == nullptr) return GVERR_INVALID_HANDLE;
    if (value == nullptr) return GVERR_INVALID_ARGUMENT;
    plexa::Database& d = h->db();
    switch (property) {
      case GVDBPROP_FORM_CHECK: {
        uint32_t on = d.form_check() ? 1 : 0;
        std::memcpy(value, &on, sizeof on);
        return 0;
      }
      case GVDBPROP_TITLE: {
        std::string title;
        if (uint32_t s = d.MetaText("title", title)) return s;
        plexa::CopyText(static_cast<char*>(value), GV_TITLE_SIZE, title);
        return 0;
      }
      case GVDBPROP_IDENTITY:
        std::memcpy(value, d.identity().data(), GV_UNID_SIZE);
        return 0;
      case GVDBPROP_PATH:
        plexa::CopyText(static_cast<char*>(value), GV_PATH_SIZE, h->path().Name());
        return 0;
      default:
        return plexa::Fail(GVERR_INVALID_ARGUMENT, "unknown database property");
    }
  });
}

GV_API uint32_t GVDatabaseSetProperty(GVDB db, uint32_t property, uint32_t value) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    switch (property) {
      case GVDBPROP_FORM_CHECK:
        d->set_form_check(value != 0);
        return 0;
      case GVDBPROP_TITLE:
      case GVDBPROP_IDENTITY:
      case GVDBPROP_PATH:
        return plexa::Fail(GVERR_NOT_SUPPORTED, "a read-only database property");
      default:
        return plexa::Fail(GVERR_INVALID_ARGUMENT, "unknown database property");
    }
  });
}

GV_API uint32_t GVACLUpdate(GVDB db, const char* name, const GVACLEntry* entry,
                            uint32_t operation) {
  return plexa::ApiSession([&]() -> uint32_t {
    plexa::Database* d = plexa::FindDatabase(db);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    return plexa::AclUpdate(*d, name, entry, operation);
  });
}

}  // extern "C"
