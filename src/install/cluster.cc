// Cluster set-up and removal: the Administrator, Log and Script Vault databases, this member's
// configuration document, twmain.ini, and the documentation database.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue.h"
#include "install_util.h"
#include "platform.h"
#include "plexapi.h"
#include "setup_context.h"

namespace tw::install {
namespace {

bool g_plexaOpen = false;

constexpr char kIniName[] = "twmain.ini";
constexpr char kAdminForm[] = "Configuration\\Administrator";

// What a failing step leaves for the failure exit: the message, its argument and the Plexa
// status when the API reported one.
struct Failure {
  uint32_t id = 0;
  std::string arg;
  uint32_t plexa = 0;
};

// The open handles of one operation, closed on every way out (documents discarded unless
// they were closed storing before).
struct Handles {
  GVDB admin = 0;
  GVINDEX index = 0;
  GVDOC adminDoc = 0;
  GVDOC memberDoc = 0;
  ~Handles() { Release(); }
  void Release() {
    if (adminDoc != 0) (void)GVDocumentClose(adminDoc, GVCLOSE_DISCARD);
    if (memberDoc != 0) (void)GVDocumentClose(memberDoc, GVCLOSE_DISCARD);
    if (index != 0) (void)GVIndexClose(index);
    if (admin != 0) (void)GVDatabaseClose(admin, 0);
    adminDoc = memberDoc = index = admin = 0;
  }
};

uint32_t PutText(GVDOC doc, const char* name, const char* text) {
  return GVItemPut(doc, name, GVTYPE_TEXT, 0, GVTYPE_TEXT, text, 0);
}
uint32_t PutNumber(GVDOC doc, const char* name, double value) {
  return GVItemPut(doc, name, GVTYPE_NUMBER, 0, GVTYPE_NUMBER, &value, 0);
}

// The first document of form that search (null: every one) finds; 0 with found false when
// there is none.
uint32_t FirstDocument(GVINDEX index, const std::string* search, GVNOTEID form, GVNOTEID* id,
                       bool* found) {
  *found = false;
  if (uint32_t st = GVIndexSearch(index, search ? search->c_str() : nullptr, form, 0)) return st;
  GVNOTEID note = 0;
  uint32_t st = GVIndexNavigate(index, GVNAV_NEXT, GVNAVF_DOCUMENTS, &note, nullptr);
  if (st == GVERR_NO_MORE) return 0;
  if (st != 0) return st;
  *id = note;
  *found = true;
  return 0;
}

// Reads a text item into field; an absent item leaves it empty when absentIsEmpty.
template <size_t N>
uint32_t FetchText(GVDOC doc, const char* name, char (&field)[N], bool absentIsEmpty) {
  uint32_t kind = GVTYPE_TEXT;
  std::string value(4096, '\0');
  uint32_t st = GVItemFetch(doc, name, &kind, 0, static_cast<uint32_t>(value.size()), value.data());
  if (absentIsEmpty && (st == GVERR_NO_VALUE || st == GVERR_NO_ITEM)) {
    field[0] = '\0';
    return 0;
  }
  if (st != 0) return st;
  value.resize(std::strlen(value.c_str()));
  if (!SetField(field, value)) return GVERR_BUFFER_TOO_SMALL;
  return 0;
}

// The configuration form of this member's kind.
const char* MemberForm(const SetupContext& ctx, bool serverWhenUnknown) {
  if (ctx.kitType[0] == '1') return "Configuration\\Client";
  if (ctx.kitType[0] == '2') return "Configuration\\Server";
  return serverWhenUnknown ? "Configuration\\Server" : "Configuration\\Client";
}

uint32_t FailExit(SetupContext& ctx, const Failure& f, std::string& out) {
  SetupAppendError(ctx, f.id,
                   f.arg.empty() && f.id != TWFAIL_SETUP_WRITE_INI ? nullptr : f.arg.c_str(), out);
  if (f.plexa != 0) SetupAppendPlexaError(f.plexa, ctx, out);
  return TWFAIL_SETUP;
}

}  // namespace

std::string Message(uint32_t id) {
  char text[1024];
  if (TWLibraryLoadString(id, text, sizeof text) <= 0) return std::string();
  return text;
}

std::string Format(const std::string& format, const char* arg) {
  if (arg == nullptr) arg = "";
  // The catalogue's formats take at most one text: anything else is printed as it stands.
  size_t conversions = 0;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (format[i + 1] == '%') {
      ++i;
      continue;
    }
    if (format[i + 1] != 's' || ++conversions > 1) return format;
  }
  int n = std::snprintf(nullptr, 0, format.c_str(), arg);
  if (n < 0) return format;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format.c_str(), arg);
  text.resize(static_cast<size_t>(n));
  return text;
}

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

uint32_t SetupPlexaInit(std::string& out) {
  if (g_plexaOpen) return 0;
  if (_GVInit(GV_VERSION, 0, 0, 0) != 0) {
    out += "\n\n" + Message(TWFAIL_SETUP) + Message(TWFAIL_API_INIT) + "\n";
    return TWFAIL_SETUP;
  }
  g_plexaOpen = true;
  return 0;
}

uint32_t SetupPlexaTerm() {
  if (g_plexaOpen) (void)GVTerm(0);
  g_plexaOpen = false;
  return 0;
}

void SetupAppendPlexaError(uint32_t status, SetupContext& ctx, std::string& out) {
  char text[GV_ERROR_TEXT_SIZE] = "";
  (void)GVErrorGetInfo(status, 0, text);
  (void)GVTranslate(GVTRANSLATE_TO_LOCAL, sizeof text, text, sizeof ctx.plexaErrorText,
                    ctx.plexaErrorText, nullptr);
  char hex[32];
  std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(status));
  out += "\n" + std::string(ctx.plexaErrorText) + " (Plexa Error 0x" + hex + ")";
}

void SetupAppendMessage(SetupContext& ctx, uint32_t id, const char* arg, bool newlineFirst,
                        std::string& out) {
  std::string format = id == 0 ? std::string() : Message(id);
  (void)SetField(ctx.workText, format.substr(0, sizeof ctx.workText - 1));
  if (newlineFirst) out += "\n";
  out += Format(format, arg);
}

void SetupAppendError(SetupContext& ctx, uint32_t id, const char* arg, std::string& out) {
  out += "\n\n" + Message(TWFAIL_SETUP);
  SetupAppendMessage(ctx, id, arg, false, out);
  out += "\n";
}

std::string NameSearch(std::string_view item, std::string_view value) {
  // The value stands between apostrophes: a backslash or apostrophe in it is escaped, so a
  // name such as "o'hare" is compared whole and never read as formula text.
  std::string quoted;
  for (char c : value) {
    if (c == '\\' || c == '\'') quoted += '\\';
    quoted += c;
  }
  const std::string format = Message(TWMSG_SETUP_NAME_SEARCH);
  size_t first = format.find("%s");
  size_t second = first == std::string::npos ? first : format.find("%s", first + 2);
  if (second == std::string::npos) return std::string();
  return format.substr(0, first) + std::string(item) +
         format.substr(first + 2, second - first - 2) + quoted + format.substr(second + 2);
}

DatabaseKind SetupDatabaseKind(const char* server, const char* file, uint32_t* status) {
  GVDB h = 0;
  uint32_t st = GVDatabaseOpen(server, file, 0, &h);
  if (status != nullptr) *status = st;
  if (st == GVERR_NO_DATABASE || (st == GVERR_NO_SERVER && (server == nullptr || *server == '\0')))
    return DatabaseKind::none;
  if (st != 0) return DatabaseKind::unusable;
  bool admin = GVFormLocateByName(h, kAdminForm) != 0;
  (void)GVDatabaseClose(h, 0);
  return admin ? DatabaseKind::administrator : DatabaseKind::other;
}

uint32_t SetupCreateCluster(SetupContext& ctx, std::string& out) {
  const bool joining = ctx.existingCluster != 0;
  const int kit = ctx.kitType[0] - '0';
  const std::string dir = WithSlash(ctx.installDir);
  Failure f;
  Handles h;
  struct Created {
    bool admin = false, log = false, vault = false;
  } created;
  std::string server = ctx.adminServer;

  auto fail = [&](uint32_t id, std::string arg, uint32_t plexa) {
    f.id = id;
    f.arg = std::move(arg);
    f.plexa = plexa;
    h.Release();
    if (created.vault) (void)GVDatabaseDelete(server.c_str(), ctx.vaultDatabase);
    if (created.log) (void)GVDatabaseDelete(server.c_str(), ctx.logDatabase);
    if (created.admin) (void)GVDatabaseDelete(server.c_str(), ctx.adminDatabase);
    return FailExit(ctx, f, out);
  };

  if (!joining) {
    for (uint32_t templ : {TWMSG_SETUP_ADMIN_TEMPLATE, TWMSG_SETUP_LOG_TEMPLATE}) {
      std::string name = Message(templ);
      (void)SetField(ctx.templatePath, name);
      FILE* file = TWFileOpen((dir + name).c_str(), TWFILE_READ);
      if (file == nullptr) return fail(TWFAIL_SETUP_NO_TEMPLATE, name, 0);
      TWFileClose(file);
    }
  }

  uint32_t st = GVDatabaseOpen(server.c_str(), ctx.adminDatabase, 0, &h.admin);
  if (st == 0) {
    if (!joining) return fail(TWFAIL_SETUP_ADMIN_EXISTS, ctx.adminDatabase, 0);
  } else if (st == GVERR_NO_DATABASE || (st == GVERR_NO_SERVER && server.empty())) {
    h.admin = 0;
    if (joining) return fail(TWFAIL_SETUP_NO_ADMIN, ctx.adminDatabase, st);
  } else {
    h.admin = 0;
    return fail(TWFAIL_SETUP_OPEN_ADMIN, ctx.adminDatabase, st);
  }

  if (!joining) {
    struct Made {
      uint32_t templ, title, failure;
      const char* file;
      bool* mark;
    };
    std::vector<Made> dbs = {{TWMSG_SETUP_ADMIN_TEMPLATE, TWMSG_SETUP_ADMIN_TITLE,
                              TWFAIL_SETUP_CREATE_ADMIN, ctx.adminDatabase, &created.admin},
                             {TWMSG_SETUP_LOG_TEMPLATE, TWMSG_SETUP_LOG_TITLE,
                              TWFAIL_SETUP_CREATE_LOG, ctx.logDatabase, &created.log}};
    if (ctx.createVault)
      dbs.push_back({TWMSG_SETUP_VAULT_TEMPLATE, TWMSG_SETUP_VAULT_TITLE, TWFAIL_SETUP_CREATE_VAULT,
                     ctx.vaultDatabase, &created.vault});
    for (const Made& m : dbs) {
      std::string templ = dir + Message(m.templ);
      if (!SetField(ctx.templatePath, templ)) return fail(m.failure, m.file, GVERR_TOO_BIG);
      std::string title = Message(m.title);
      (void)SetField(ctx.workText, title);
      st = GVDatabaseCreate(server.c_str(), m.file, title.c_str(), 0, nullptr, ctx.templatePath,
                            GVCREATE_DOCUMENTS, 1);
      if (st != 0) return fail(m.failure, m.file, st);
      *m.mark = true;
    }
    GVACLEntry entry{};
    entry.access = GVACCESS_NONE;
    if ((st = GVDatabaseOpen(server.c_str(), ctx.adminDatabase, 0, &h.admin)) != 0) {
      h.admin = 0;
      return fail(TWFAIL_SETUP_OPEN_ADMIN, ctx.adminDatabase, st);
    }
    if ((st = GVACLUpdate(h.admin, nullptr, &entry, GVACL_UPDATE)) != 0)
      return fail(TWFAIL_SETUP_ADMIN_ACCESS, ctx.adminDatabase, st);
    GVDB log = 0;
    if ((st = GVDatabaseOpen(server.c_str(), ctx.logDatabase, 0, &log)) != 0)
      return fail(TWFAIL_SETUP_OPEN_LOG, ctx.logDatabase, st);
    st = GVACLUpdate(log, nullptr, &entry, GVACL_UPDATE);
    (void)GVDatabaseClose(log, 0);
    if (st != 0) return fail(TWFAIL_SETUP_LOG_ACCESS, ctx.logDatabase, st);

    GVNOTEID form = GVFormLocateByName(h.admin, kAdminForm);
    if (form == 0) return fail(TWFAIL_SETUP_NO_ADMIN_FORM, "", GVERR_NO_FORM);
    if ((st = GVDocumentCreate(h.admin, form, &h.adminDoc)) != 0) {
      h.adminDoc = 0;
      return fail(TWFAIL_SETUP_ADMIN_DOCUMENT, "", st);
    }
    if ((st = PutText(h.adminDoc, "LogServer", ctx.adminServer)) != 0 ||
        (st = PutText(h.adminDoc, "LogDatabase", ctx.logDatabase)) != 0 ||
        (ctx.createVault && (st = PutText(h.adminDoc, "AgentDatabase", ctx.vaultDatabase)) != 0))
      return fail(TWFAIL_SETUP_ADMIN_DOCUMENT, "", st);
  }

  if ((st = GVIndexOpen(h.admin, &h.index)) != 0) {
    h.index = 0;
    return fail(TWFAIL_SETUP_NO_SERVER_FORM, "", st);
  }
  GVNOTEID memberForm =
      GVFormLocateByName(h.admin, kit == 1 ? "Configuration\\Client" : "Configuration\\Server");
  if (memberForm == 0) return fail(TWFAIL_SETUP_NO_SERVER_FORM, "", GVERR_NO_FORM);

  if (joining) {
    // The search is built without a fixed field: the record keeps a copy only when it fits.
    std::string search = NameSearch("Name", ctx.memberName);
    (void)SetField(ctx.queryText, search);
    GVNOTEID id = 0;
    bool found = false;
    if ((st = FirstDocument(h.index, &search, memberForm, &id, &found)) != 0)
      return fail(TWFAIL_SETUP_MEMBER_DOCUMENT, "", st);
    if (found) {
      double enabled = 1;
      uint32_t kind = GVTYPE_NUMBER;
      if ((st = GVDocumentOpen(h.admin, id, 0, &h.memberDoc)) != 0) {
        h.memberDoc = 0;
        return fail(TWFAIL_SETUP_MEMBER_EXISTS, ctx.memberName, st);
      }
      st = GVItemFetch(h.memberDoc, "Enabled", &kind, 0, sizeof enabled, &enabled);
      if (st != 0 || enabled != 0) return fail(TWFAIL_SETUP_MEMBER_EXISTS, ctx.memberName, st);
      if ((st = PutNumber(h.memberDoc, "Enabled", 1.0)) != 0)
        return fail(TWFAIL_SETUP_MEMBER_DOCUMENT, "", st);
    }
  }
  if (h.memberDoc == 0) {
    if ((st = GVDocumentCreate(h.admin, memberForm, &h.memberDoc)) != 0) {
      h.memberDoc = 0;
      return fail(TWFAIL_SETUP_MEMBER_DOCUMENT, "", st);
    }
    if ((st = PutText(h.memberDoc, "Name", ctx.memberName)) != 0)
      return fail(TWFAIL_SETUP_MEMBER_DOCUMENT, "", st);
  }
  if ((st = PutNumber(h.memberDoc, "Translate", std::atof(ctx.translateMode))) != 0 ||
      (kit == 2 && (st = PutNumber(h.memberDoc, "SNMP", std::atof(ctx.snmpMode))) != 0))
    return fail(TWFAIL_SETUP_MEMBER_DOCUMENT, "", st);

  // Every key in one replacement: a failure leaves the file as it was, never half-written.
  std::vector<const char*> keys = {"Version",     "KitType",       "Tarnway",
                                   "AdminServer", "AdminDatabase", "Directory"};
  std::vector<const char*> values = {
      "23", ctx.kitType, ctx.memberName, ctx.adminServer, ctx.adminDatabase, ctx.installDir};
  if (kit == 2) {
    keys.push_back("SNMP");
    values.push_back(ctx.snmpMode);
  }
  if (TWINISetStrings("Configuration", keys.data(), values.data(), keys.size(),
                      (dir + kIniName).c_str()) != 0)
    return fail(TWFAIL_SETUP_WRITE_INI, kIniName, 0);

  for (GVDOC* doc : {&h.adminDoc, &h.memberDoc}) {
    if (*doc == 0) continue;
    st = GVDocumentClose(*doc, GVCLOSE_STORE);
    *doc = 0;
    if (st != 0)
      return fail(doc == &h.adminDoc ? TWFAIL_SETUP_ADMIN_DOCUMENT : TWFAIL_SETUP_MEMBER_DOCUMENT,
                  "", st);
  }
  return 0;
}

uint32_t SetupInstallDocDatabase(SetupContext& ctx, std::string& out) {
  if (ctx.installDocDatabase != 1) return 0;
  Handles h;
  uint32_t st = GVDatabaseOpen(ctx.adminServer, ctx.adminDatabase, 0, &h.admin);
  if (st != 0) {
    h.admin = 0;
    SetupAppendError(ctx, TWFAIL_SETUP_OPEN_ADMIN, ctx.adminDatabase, out);
    return 0;
  }
  std::string search = NameSearch("Name", "Administrator");
  (void)SetField(ctx.queryText, search);
  GVNOTEID form = GVFormLocateByName(h.admin, kAdminForm);
  bool usable = form != 0 && GVIndexOpen(h.admin, &h.index) == 0 &&
                GVIndexSearch(h.index, search.c_str(), form, 0) == 0 &&
                GVIndexGetCount(h.index) == 1;
  GVNOTEID id = 0;
  usable = usable && GVIndexNavigate(h.index, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr) == 0 &&
           GVDocumentOpen(h.admin, id, 0, &h.adminDoc) == 0;
  if (!usable) h.adminDoc = 0;
  usable = usable && FetchText(h.adminDoc, "HelpDatabase", ctx.workText, true) == 0 &&
           ctx.workText[0] == '\0';
  if (!usable) {
    SetupAppendError(ctx, TWFAIL_SETUP_NO_ADMIN, ctx.adminDatabase, out);
    return 0;
  }
  if ((st = PutText(h.adminDoc, "HelpDatabase", ctx.docDatabase)) != 0) {
    out += Message(TWMSG_SETUP_RECORD_DOC) + "\n";
    SetupAppendPlexaError(st, ctx, out);
    return 0;
  }
  std::string destination = ctx.docDatabase;
  if (destination.find('/') == std::string::npos && ctx.adminServer[0] == '\0') {
    char local[GV_PATH_SIZE] = "";
    if (GVGetEnvironmentString("Directory", 0, local) == 0)
      destination = WithSlash(local) + destination;
  }
  std::string source = WithSlash(ctx.installDir) + Message(TWMSG_SETUP_DOC_DATABASE);
  (void)SetField(ctx.templatePath, source);
  st = GVDatabaseCopy(nullptr, source.c_str(), ctx.adminServer, destination.c_str(), nullptr,
                      GVCOPY_WHOLE | GVCOPY_NEW_IDENTITY, 0x7fff, 0);
  if (st != 0) {
    // Nothing was copied: the document keeps no name of a database that does not exist.
    SetupAppendError(ctx, TWFAIL_SETUP_DOC_DATABASE, ctx.docDatabase, out);
    SetupAppendPlexaError(st, ctx, out);
    return TWFAIL_SETUP_DOC_DATABASE;
  }
  st = GVDocumentClose(h.adminDoc, GVCLOSE_STORE);
  h.adminDoc = 0;
  if (st != 0) {
    SetupAppendMessage(ctx, TWMSG_SETUP_RECORD_DOC, nullptr, true, out);
    SetupAppendPlexaError(st, ctx, out);
  }
  return 0;
}

uint32_t SetupRemove(SetupContext& ctx, std::string& out) {
  // The installation's own file, by absolute path: never one that the platform found
  // elsewhere on the PATH.
  const std::string ini = WithSlash(ctx.installDir) + kIniName;
  {
    struct Key {
      const char* key;
      char* field;
      size_t size;
      bool required;
    } keys[] = {{"Tarnway", ctx.memberName, sizeof ctx.memberName, true},
                {"AdminServer", ctx.adminServer, sizeof ctx.adminServer, false},
                {"AdminDatabase", ctx.adminDatabase, sizeof ctx.adminDatabase, true},
                {"KitType", ctx.kitType, sizeof ctx.kitType, true}};
    std::string value(4096, '\0');
    for (const Key& k : keys) {
      uint32_t st = TWINIGetString("Configuration", k.key, value.data(), value.size(), ini.c_str());
      size_t n = std::strlen(value.c_str());
      if (st == 0 && n < k.size) {
        std::memcpy(k.field, value.c_str(), n + 1);
      } else if (k.required || st == TWFAIL_INI_ACCESS || st == 0) {
        SetupAppendError(ctx, TWFAIL_SETUP_INVALID_INI, ini.c_str(), out);
        return TWFAIL_SETUP;
      }
    }
  }
  Handles h;
  Failure f;
  auto fail = [&](uint32_t id, std::string arg, uint32_t plexa) {
    f.id = id;
    f.arg = std::move(arg);
    f.plexa = plexa;
    h.Release();
    return FailExit(ctx, f, out);
  };
  uint32_t st = GVDatabaseOpen(ctx.adminServer, ctx.adminDatabase, 0, &h.admin);
  if (st != 0) {
    h.admin = 0;
    return fail(TWFAIL_SETUP_OPEN_ADMIN, ctx.adminDatabase, st);
  }
  if ((st = GVIndexOpen(h.admin, &h.index)) != 0) {
    h.index = 0;
    return fail(TWFAIL_SETUP_OPEN_ADMIN, ctx.adminDatabase, st);
  }
  GVNOTEID memberForm = GVFormLocateByName(h.admin, MemberForm(ctx, false));
  if (memberForm == 0) return fail(TWFAIL_SETUP_NO_SERVER_FORM, "", GVERR_NO_FORM);
  std::string search = NameSearch("Name", ctx.memberName);
  (void)SetField(ctx.queryText, search);
  GVNOTEID memberId = 0;
  bool found = false;
  st = FirstDocument(h.index, &search, memberForm, &memberId, &found);
  if (st != 0 || !found) return fail(TWFAIL_SETUP_NO_MEMBER, ctx.memberName, st);
  GVNOTEID adminForm = GVFormLocateByName(h.admin, kAdminForm);
  if (adminForm == 0) return fail(TWFAIL_SETUP_NO_ADMIN_FORM, "", GVERR_NO_FORM);

  if (ctx.existingCluster != 0) {
    if ((st = GVDocumentOpen(h.admin, memberId, 0, &h.memberDoc)) != 0) {
      h.memberDoc = 0;
      return fail(TWFAIL_SETUP_DISABLE_MEMBER, ctx.memberName, st);
    }
    if ((st = PutNumber(h.memberDoc, "Enabled", 0.0)) != 0)
      return fail(TWFAIL_SETUP_DISABLE_MEMBER, ctx.memberName, st);
    st = GVDocumentClose(h.memberDoc, GVCLOSE_STORE);
    h.memberDoc = 0;
    if (st != 0) return fail(TWFAIL_SETUP_DISABLE_MEMBER, ctx.memberName, st);
    h.Release();
    (void)TWINIDelete(ini.c_str());
    return 0;
  }

  GVNOTEID adminId = 0;
  if ((st = FirstDocument(h.index, nullptr, adminForm, &adminId, &found)) != 0 || !found)
    return fail(TWFAIL_SETUP_NO_ADMIN_DOCUMENT, "", st);
  if ((st = GVDocumentOpen(h.admin, adminId, GVOPEN_READONLY, &h.adminDoc)) != 0) {
    h.adminDoc = 0;
    return fail(TWFAIL_SETUP_NO_ADMIN_DOCUMENT, "", st);
  }
  if ((st = FetchText(h.adminDoc, "LogServer", ctx.workText, true)) != 0 ||
      (st = FetchText(h.adminDoc, "LogDatabase", ctx.logDatabase, false)) != 0)
    return fail(TWFAIL_SETUP_NO_LOG, ctx.logDatabase, st);
  if ((st = FetchText(h.adminDoc, "AgentDatabase", ctx.vaultDatabase, true)) != 0)
    return fail(TWFAIL_SETUP_NO_VAULT, ctx.vaultDatabase, st);
  if ((st = FetchText(h.adminDoc, "HelpDatabase", ctx.docDatabase, true)) != 0)
    return fail(TWFAIL_SETUP_NO_DOC, ctx.docDatabase, st);
  h.Release();
  const std::string logServer = ctx.workText;
  if ((st = GVDatabaseDelete(ctx.adminServer, ctx.adminDatabase)) != 0)
    return fail(TWFAIL_SETUP_REMOVE_ADMIN, ctx.adminDatabase, st);

  uint32_t result = 0;
  struct Gone {
    const char* file;
    uint32_t message;
  } rest[] = {{ctx.logDatabase, TWMSG_SETUP_REMOVE_LOG},
              {ctx.vaultDatabase, TWMSG_SETUP_REMOVE_VAULT},
              {ctx.docDatabase, TWMSG_SETUP_REMOVE_DOC}};
  for (const Gone& g : rest) {
    if (g.file[0] == '\0') continue;
    if (GVDatabaseDelete(logServer.c_str(), g.file) != 0) {
      SetupAppendMessage(ctx, g.message, g.file, true, out);
      SetupAppendMessage(ctx, TWMSG_SETUP_REMOVE_MANUALLY, nullptr, true, out);
      result = TWFAIL_SETUP_REMOVE_PARTIAL;
    }
  }
  (void)SetField(ctx.workText, logServer);
  (void)TWINIDelete(ini.c_str());
  return result;
}

}  // namespace tw::install
