// Bringing an Administrator database's design up to the current template, and copying the
// servers, links and activities of a Release 1 Administrator into a new one.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "install_util.h"
#include "platform.h"
#include "plexapi.h"
#include "setup_context.h"

namespace tw::install {
namespace {

constexpr char kAdminForm[] = "Configuration\\Administrator";

// The errors of one upgrade or migration, in the order they happened.
class Errors {
 public:
  void Record(uint32_t id, uint32_t plexa) {
    if (id == 0 && plexa == 0) return;
    text_ += Message(TWFAIL_SETUP);
    if (id != 0) text_ += Message(id);
    if (id != 0 && plexa != 0) text_ += " - ";
    if (plexa != 0) {
      char info[GV_ERROR_TEXT_SIZE] = "";
      (void)GVErrorGetInfo(plexa, 0, info);
      text_ += info;
    }
    text_ += "\n";
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// A result of a migration step: a catalogue id, the Plexa status behind it, or both.
struct Outcome {
  uint32_t id = 0;
  uint32_t plexa = 0;
  bool ok() const { return id == 0 && plexa == 0; }
};
Outcome Plexa(uint32_t st) {
  return Outcome{st != 0 ? TWFAIL_EXTERNAL : 0u, st};
}

struct Db {
  GVDB handle = 0;
  ~Db() {
    if (handle != 0) (void)GVDatabaseClose(handle, 0);
  }
};
struct Ix {
  GVINDEX handle = 0;
  ~Ix() {
    if (handle != 0) (void)GVIndexClose(handle);
  }
};
struct Doc {
  GVDOC handle = 0;
  ~Doc() {
    if (handle != 0) (void)GVDocumentClose(handle, GVCLOSE_DISCARD);
  }
};

std::string Text(GVDOC doc, const char* name) {
  uint32_t kind = GVTYPE_TEXT;
  std::string value(GV_MAX_VALUE + 1, '\0');
  if (GVItemFetch(doc, name, &kind, 0, static_cast<uint32_t>(value.size()), value.data()) != 0)
    return std::string();
  value.resize(std::strlen(value.c_str()));
  return value;
}
bool Absent(uint32_t st) {
  return st == GVERR_NO_ITEM || st == GVERR_NO_VALUE;
}
uint32_t PutText(GVDOC doc, const char* name, const std::string& text) {
  return GVItemPut(doc, name, GVTYPE_TEXT, static_cast<uint32_t>(text.size()), GVTYPE_TEXT,
                   text.c_str(), 0);
}
bool StartsWith1(const std::string& text) {
  return !text.empty() && text[0] == '1';
}

// Looks text up in the first column of a view's index and stands on the first match: 0 with
// *found false when there is none.
uint32_t KeySearch(GVINDEX index, const std::string& text, bool* found) {
  GVKey key{};
  key.column = 1;
  key.kind = GVTYPE_TEXT;
  key.text = text.c_str();
  uint32_t matches = 0;
  uint32_t st = GVIndexKeySearch(index, 1, &key, 0, &matches);
  *found = st == 0 && matches > 0;
  return st == GVERR_KEY_NOT_FOUND ? 0 : st;
}

// ---------------------------------------------------------------- design upgrade -------

using ListFn = uint32_t (*)(GVDB, uint32_t, GVDesignEntry*);
using LocateFn = GVNOTEID (*)(GVDB, const char*);
using DeleteFn = uint32_t (*)(GVDB, GVNOTEID);
using CopyFn = uint32_t (*)(GVDB, GVNOTEID, GVDB, GVNOTEID*, uint32_t);
struct DesignKind {
  ListFn list;
  LocateFn locate;
  DeleteFn remove;
  CopyFn copy;
};

// Replaces each design element of the template's kind in admin. The old element is kept in
// a scratch database until the template's copy is in: a failed copy puts it back.
uint32_t ReplaceDesign(GVDB templ, GVDB admin, GVDB scratch, const DesignKind& k) {
  std::vector<GVDesignEntry> entries;
  for (uint32_t pos = GV_LIST_FIRST;; pos = GV_LIST_NEXT) {
    GVDesignEntry e{};
    uint32_t st = k.list(templ, pos, &e);
    if (st == GVERR_NO_MORE) break;
    if (st != 0) return st;
    entries.push_back(e);
  }
  for (const GVDesignEntry& e : entries) {
    GVNOTEID old = k.locate(admin, e.name);
    GVNOTEID kept = 0;
    if (old != 0) {
      if (uint32_t st = k.copy(admin, old, scratch, &kept, 0)) return st;
      if (uint32_t st = k.remove(admin, old)) return st;
    }
    if (uint32_t st = k.copy(templ, e.id, admin, nullptr, 0)) {
      if (kept != 0) (void)k.copy(scratch, kept, admin, nullptr, 0);
      return st;
    }
    if (kept != 0) (void)k.remove(scratch, kept);
  }
  return 0;
}

// The identities of the notes of the classes mask in db.
uint32_t Identities(GVDB db, uint32_t classes, GVNOTEID form, std::vector<GVNOTEID>* ids,
                    std::set<std::string>* unids) {
  Ix ix;
  if (uint32_t st = GVIndexOpen(db, &ix.handle)) return st;
  if (uint32_t st = GVIndexSetProperty(ix.handle, GVIDXPROP_CLASSES, &classes)) return st;
  if (uint32_t st = GVIndexSearch(ix.handle, nullptr, form, 0)) return st;
  for (;;) {
    GVNOTEID id = 0;
    uint32_t st = GVIndexNavigate(ix.handle, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr);
    if (st == GVERR_NO_MORE) break;
    if (st != 0) return st;
    if (ids != nullptr) ids->push_back(id);
    if (unids != nullptr) {
      Doc d;
      if (uint32_t s = GVDocumentOpen(db, id, GVOPEN_READONLY, &d.handle)) return s;
      char unid[GV_UNID_SIZE] = {};
      if (uint32_t s = GVDocumentGetProperty(d.handle, GVDOCPROP_UNID, unid)) return s;
      unids->insert(std::string(unid, sizeof unid));
    }
  }
  return 0;
}

uint32_t UpgradeDesign(SetupContext& ctx, GVDB templ, GVDB admin) {
  // The scratch database lives beside the template and goes when the upgrade ends.
  std::string scratchPath = std::string(ctx.templatePath) + ".upgrade";
  (void)GVDatabaseDelete(nullptr, scratchPath.c_str());
  if (uint32_t st =
          GVDatabaseCreate(nullptr, scratchPath.c_str(), nullptr, 0, nullptr, nullptr, 0, 0))
    return st;
  uint32_t st = 0;
  {
    Db scratch;
    st = GVDatabaseOpen(nullptr, scratchPath.c_str(), 0, &scratch.handle);
    const DesignKind kinds[] = {{GVFormList, GVFormLocateByName, GVFormDelete, GVFormCopy},
                                {GVViewList, GVViewLocateByName, GVViewDelete, GVViewCopy},
                                {GVAgentList, GVAgentLocateByName, GVAgentDelete, GVAgentCopy}};
    for (const DesignKind& k : kinds)
      if (st == 0) st = ReplaceDesign(templ, admin, scratch.handle, k);
  }
  (void)GVDatabaseDelete(nullptr, scratchPath.c_str());
  if (st != 0) return st;

  // The template's own documents, once: a document already copied by an earlier run stays.
  const uint32_t templateClasses = 274;
  std::vector<GVNOTEID> templDocs;
  std::set<std::string> present;
  if ((st = Identities(templ, templateClasses, 0, &templDocs, nullptr)) != 0) return st;
  if ((st = Identities(admin, templateClasses, 0, nullptr, &present)) != 0) return st;
  for (GVNOTEID id : templDocs) {
    Doc d;
    char unid[GV_UNID_SIZE] = {};
    if ((st = GVDocumentOpen(templ, id, GVOPEN_READONLY, &d.handle)) != 0 ||
        (st = GVDocumentGetProperty(d.handle, GVDOCPROP_UNID, unid)) != 0)
      return st;
    if (present.count(std::string(unid, sizeof unid)) != 0) continue;
    if ((st = GVDocumentCopy(templ, id, admin, nullptr)) != 0) return st;
  }

  GVNOTEID ordexLinks = GVFormLocateByName(admin, "Link\\Ordex");
  if (ordexLinks == 0) return 0;
  std::vector<GVNOTEID> links;
  if ((st = Identities(admin, GVCLASS_DOCUMENT, ordexLinks, &links, nullptr)) != 0) return st;
  if ((st = GVDatabaseSetProperty(admin, GVDBPROP_FORM_CHECK, 0)) != 0) return st;
  for (GVNOTEID id : links) {
    Doc d;
    if ((st = GVDocumentOpen(admin, id, 0, &d.handle)) != 0) return st;
    if ((st = PutText(d.handle, "MetadataRequired", "1")) != 0) return st;
    st = GVDocumentClose(d.handle, GVCLOSE_STORE);
    d.handle = 0;
    if (st != 0) return st;
  }
  return 0;
}

// ---------------------------------------------------------------- Release 1 migration --

class Migration {
 public:
  Migration(GVDB oldDb, GVDB newDb, Errors& errors, std::string& notes)
      : old_(oldDb), new_(newDb), errors_(errors), notes_(notes) {}

  // Copies the documents of a view; records its errors and goes on.
  void View(const char* name, int kind) {
    Ix oldIx, newIx, oldOpt, newOpt;
    GVNOTEID oldView = GVViewLocateByName(old_, name);
    GVNOTEID newView = GVViewLocateByName(new_, name);
    uint32_t st = oldView == 0 || newView == 0 ? GVERR_NO_VIEW : 0;
    if (st == 0) st = OpenView(old_, oldView, oldIx);
    if (st == 0) st = OpenView(new_, newView, newIx);
    if (st == 0 && kind == 3) {
      GVNOTEID o = GVViewLocateByName(old_, "(CS_Options)");
      GVNOTEID n = GVViewLocateByName(new_, "(CS_Options)");
      st = o == 0 || n == 0 ? GVERR_NO_VIEW : 0;
      if (st == 0) st = OpenView(old_, o, oldOpt);
      if (st == 0) st = OpenView(new_, n, newOpt);
    }
    if (st != 0) {
      errors_.Record(TWFAIL_EXTERNAL, st);
      return;
    }
    oldOpt_ = oldOpt.handle;
    newOpt_ = newOpt.handle;
    for (;;) {
      GVNOTEID id = 0;
      st = GVIndexNavigate(oldIx.handle, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr);
      if (st == GVERR_NO_MORE) break;
      Doc doc;
      if (st == 0) st = GVDocumentOpen(old_, id, GVOPEN_READONLY, &doc.handle);
      if (st != 0) {
        errors_.Record(TWFAIL_EXTERNAL, st);
        break;
      }
      std::string docName = Text(doc.handle, "Name");
      bool found = false;
      st = KeySearch(newIx.handle, docName, &found);
      if (found) {
        char line[1024];
        std::snprintf(line, sizeof line, "\nWarning: Duplicate document: %s %s '%s'",
                      Text(doc.handle, "Type").c_str(), Text(doc.handle, "SubType").c_str(),
                      docName.c_str());
        notes_ += line;
        continue;
      }
      if (st != 0) {
        errors_.Record(TWFAIL_EXTERNAL, st);
        break;
      }
      Outcome r = Document(doc.handle, kind);
      if (!r.ok()) errors_.Record(r.id, r.plexa);
    }
    oldOpt_ = newOpt_ = 0;
  }

 private:
  static uint32_t OpenView(GVDB db, GVNOTEID view, Ix& ix) {
    if (uint32_t st = GVIndexOpen(db, &ix.handle)) {
      ix.handle = 0;
      return st;
    }
    return GVIndexOpenView(ix.handle, 0, view, 0);
  }

  // Rebuilds a text list without every entry equal to entry.
  static uint32_t RemoveListEntry(GVDOC doc, const char* item, const std::string& entry) {
    uint32_t kind = GVTYPE_TEXT_LIST;
    std::string list(GV_MAX_VALUE + 8, '\0');
    uint32_t st = GVItemFetch(doc, item, &kind, 0, static_cast<uint32_t>(list.size()), list.data());
    if (Absent(st)) return 0;
    if (st != 0) return st;
    uint32_t count = GVTextListGetCount(list.data(), static_cast<uint32_t>(list.size()));
    std::vector<std::string> kept;
    for (uint32_t i = 1; i <= count; ++i) {
      std::string text(GV_MAX_VALUE + 1, '\0');
      if ((st = GVTextListFetch(list.data(), static_cast<uint32_t>(list.size()), i, text.data(),
                                static_cast<uint32_t>(text.size()))) != 0)
        return st;
      text.resize(std::strlen(text.c_str()));
      if (text != entry) kept.push_back(std::move(text));
    }
    std::string bytes;
    auto u16 = [&](size_t v) {
      bytes += static_cast<char>(v & 0xff);
      bytes += static_cast<char>((v >> 8) & 0xff);
    };
    u16(kept.size());
    for (const std::string& k : kept) u16(k.size());
    for (const std::string& k : kept) bytes += k;
    return GVItemPut(doc, item, GVTYPE_TEXT_LIST, static_cast<uint32_t>(bytes.size()),
                     GVTYPE_TEXT_LIST, bytes.data(), 0);
  }

  Outcome LinkOptions(GVDOC activity, const char* item) {
    uint32_t kind = GVTYPE_TEXT;
    char name[1024] = "";
    uint32_t st = GVItemFetch(activity, item, &kind, 0, sizeof name, name);
    if (Absent(st) || (st == 0 && name[0] == '\0')) return {};
    if (st != 0) return Plexa(st);
    bool found = false;
    st = KeySearch(oldOpt_, name, &found);
    if (st == 0 && !found) return {};
    GVNOTEID id = 0;
    if (st == 0) st = GVIndexNavigate(oldOpt_, GVNAV_CURRENT, 0, &id, nullptr);
    Doc doc;
    if (st == 0) st = GVDocumentOpen(old_, id, GVOPEN_READONLY, &doc.handle);
    if (st != 0) return Plexa(st);
    return Document(doc.handle, 4);
  }

  // Copies one document into the new database as kind (1 server, 2 link, 3 activity, 4 link
  // options), converting its items.
  Outcome Document(GVDOC old, int kind) {
    std::string formName = Text(old, "Form");
    const bool administration = kind == 3 && formName == "Activity\\Administration";
    if (administration) {
      std::string statement = Text(old, "Statement");
      char which = statement.empty() ? '\0' : statement[0];
      if (which == '1') {
        formName = "Activity\\*Admin-Backup";
      } else if (which == '2') {
        formName = "Activity\\*Admin-Purge Log";
      } else {
        notes_ += "\nIllegal Administration Activity";
        return Outcome{TWFAIL_PROGRAM, 0};
      }
    }
    GVNOTEID form = GVFormLocateByName(new_, formName.c_str());
    if (form == 0) return Plexa(GVERR_NO_FORM);
    const std::string subType = Text(old, "SubType");
    Doc created;
    uint32_t st = GVDocumentCreate(new_, form, &created.handle);
    if (st != 0) {
      created.handle = 0;
      return Plexa(st);
    }
    GVDOC doc = created.handle;
    for (uint32_t pos = GV_LIST_FIRST;; pos = GV_LIST_NEXT) {
      GVFieldInfo field{};
      st = GVFieldList(new_, form, pos, &field);
      if (st == GVERR_NO_MORE) break;
      if (st != 0) return Plexa(st);
      if ((field.flags & GVFIELDF_STORED) == 0) continue;
      st = GVItemCopy(old, field.name, doc, nullptr);
      if (st != 0 && !Absent(st)) return Plexa(st);
    }
    st = 0;
    auto put = [&](const char* item, const std::string& text) {
      if (st == 0) st = PutText(doc, item, text);
    };
    // The old sub-type "Administration" names no kind the server runs: the new form's does.
    if (administration) put("SubType", formName.substr(formName.find('\\') + 1));
    switch (kind) {
      case 1:
        put("Enabled", "0");
        if (StartsWith1(Text(old, "Translate"))) put("Translate", "2");
        break;
      case 3:
        if (subType == "Replication" || subType == "Direct Transfer") {
          if (StartsWith1(Text(old, "MapName"))) {
            st = RemoveListEntry(doc, "Options", "MapName");
            put("FieldMapping", "MapName");
          } else {
            put("FieldMapping", "MapPosition");
          }
        }
        if (subType == "Replication") {
          put("ConflictResolution", StartsWith1(Text(old, "DestMaster")) ? "2" : "1");
          if (st == 0 && StartsWith1(Text(old, "NoDelete"))) {
            st = RemoveListEntry(doc, "Options", "NoDelete");
            put("SrcNoDelete", "NoSrc");
            put("DestNoDelete", "NoDest");
          }
        }
        if (st != 0) return Plexa(st);
        for (const char* item : {"SrcOption", "DestOption"}) {
          Outcome r = LinkOptions(old, item);
          if (!r.ok()) return r;
        }
        break;
      case 4: {
        const std::string oldName = Text(old, "Name");
        const std::string forView = Text(old, "Forview");
        const std::string newName = oldName + "/" + forView + "/" + subType;
        put("ActivityName", oldName);
        put("Name", newName);
        if (subType == "Oracle" && Text(old, "LongCreation") == "UserControl" &&
            Text(old, "LongColumn").empty())
          put("LongCreation", "NoLong");
        if (st != 0) return Plexa(st);
        if (Outcome r = DeleteOrphans(newName); !r.ok()) return r;
        break;
      }
      default:
        break;
    }
    if (st != 0) return Plexa(st);
    const uint32_t off = 0, on = 1;
    (void)GVDocumentSetProperty(old, GVDOCPROP_FORM_CHECK, &off);
    (void)GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &off);
    for (const char* item : {"Creator", "$Fonts", "$Links"}) {
      uint32_t s = GVItemCopy(old, item, doc, nullptr);
      if (s != 0 && !Absent(s)) st = s;
    }
    (void)GVDocumentSetProperty(old, GVDOCPROP_FORM_CHECK, &on);
    (void)GVDocumentSetProperty(doc, GVDOCPROP_FORM_CHECK, &on);
    if (st != 0) return Plexa(st);
    st = GVDocumentClose(doc, GVCLOSE_STORE);
    created.handle = 0;
    return Plexa(st);
  }

  // Link-options documents left under name in the new database by an earlier run.
  Outcome DeleteOrphans(const std::string& name) {
    for (;;) {
      bool found = false;
      uint32_t st = KeySearch(newOpt_, name, &found);
      if (st == 0 && !found) return {};
      GVNOTEID id = 0;
      if (st == 0) st = GVIndexNavigate(newOpt_, GVNAV_CURRENT, 0, &id, nullptr);
      if (st == 0) st = GVDocumentDelete(new_, id, 0);
      if (st != 0) return Plexa(st);
      notes_ += "\nOverwriting orphaned Link option document: " + name;
    }
  }

  GVDB old_;
  GVDB new_;
  GVINDEX oldOpt_ = 0;
  GVINDEX newOpt_ = 0;
  Errors& errors_;
  std::string& notes_;
};

uint32_t SetAdminRevision(GVDB db) {
  GVNOTEID form = GVFormLocateByName(db, kAdminForm);
  if (form == 0) return GVERR_NO_FORM;
  Ix ix;
  uint32_t st = GVIndexOpen(db, &ix.handle);
  std::string search = NameSearch("Name", "Administrator");
  if (st == 0) st = GVIndexSearch(ix.handle, search.c_str(), form, 0);
  GVNOTEID id = 0;
  if (st == 0) st = GVIndexNavigate(ix.handle, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr);
  Doc doc;
  if (st == 0) st = GVDocumentOpen(db, id, 0, &doc.handle);
  if (st != 0) return st;
  const uint32_t off = 0;
  double revision = 65536.0;
  if ((st = GVDocumentSetProperty(doc.handle, GVDOCPROP_FORM_CHECK, &off)) != 0 ||
      (st = GVItemPut(doc.handle, "Revision", GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &revision, 0)) != 0)
    return st;
  st = GVDocumentClose(doc.handle, GVCLOSE_STORE);
  doc.handle = 0;
  return st;
}

}  // namespace

uint32_t SetupUpgradeAdminDesign(SetupContext& ctx, std::string& out) {
  Errors errors;
  {
    Db templ, admin;
    uint32_t st = GVDatabaseOpen(nullptr, ctx.templatePath, 0, &templ.handle);
    if (st != 0) templ.handle = 0;
    if (st == 0 && (st = GVDatabaseOpen(ctx.adminServer, ctx.adminDatabase, 0, &admin.handle)) != 0)
      admin.handle = 0;
    if (st == 0) st = UpgradeDesign(ctx, templ.handle, admin.handle);
    errors.Record(st != 0 ? TWFAIL_EXTERNAL : 0, st);
  }
  if (errors.text().empty()) return 0;
  out += errors.text();
  return TWFAIL_SETUP_MIGRATION;
}

uint32_t SetupUpgradeAdministrator(SetupContext& ctx, std::string& out) {
  const std::string dir = WithSlash(ctx.installDir);
  if (!SetField(ctx.templatePath, dir + Message(TWMSG_SETUP_ADMIN_TEMPLATE))) {
    out = "Error upgrading Administrator Database:\n" + Message(TWFAIL_SETUP_NO_TEMPLATE);
    return TWFAIL_SETUP_NO_TEMPLATE;
  }
  std::string errors;
  if (uint32_t st = SetupUpgradeAdminDesign(ctx, errors)) {
    out = "Error upgrading Administrator Database:\n" + errors;
    return st;
  }
  const std::string ini = dir + "twmain.ini";
  if (uint32_t st = TWINISetString("Configuration", "Version", "23", ini.c_str())) {
    out = "Error upgrading " + ini + ": " + Message(st);
    return st;
  }
  return 0;
}

uint32_t SetupMigrateRelease1(SetupContext& ctx, std::string& out, std::string& notes) {
  Errors errors;
  {
    Db oldDb, newDb;
    uint32_t st = GVDatabaseOpen(ctx.release1Server, ctx.release1Database, 0, &oldDb.handle);
    if (st != 0) oldDb.handle = 0;
    if (st == 0 && (st = GVDatabaseOpen(ctx.adminServer, ctx.adminDatabase, 0, &newDb.handle)) != 0)
      newDb.handle = 0;
    if (st == 0) {
      Migration m(oldDb.handle, newDb.handle, errors, notes);
      m.View("(CS_Servers)", 1);
      m.View("(CS_Links)", 2);
      m.View("(CS_Activities)", 3);
      st = SetAdminRevision(newDb.handle);
    }
    errors.Record(st != 0 ? TWFAIL_EXTERNAL : 0, st);
  }
  if (errors.text().empty()) return 0;
  out += errors.text();
  return TWFAIL_SETUP_MIGRATION;
}

}  // namespace tw::install
