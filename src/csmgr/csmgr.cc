// The control-store manager's service state and life cycle: the activity slots, the clock,
// start-up (databases, design, registration), the server documents (alive, stop, the
// dead-server check), re-reading the configuration and closing down.
#include "csmgr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "event.h"
#include "log.h"
#include "ordexio.h"
#include "tw/coding.h"

namespace tw::csmgr {

namespace {

constexpr char kIniFile[] = "twmain.ini";
constexpr char kIniSection[] = "Configuration";
constexpr int32_t kSecondsPerDay = 86400;

// Plexa fills this with the text of its failures.
char g_plexaError[GV_ERROR_TEXT_SIZE];

// Reads a twmain.ini key of the Configuration section; false when missing or empty.
bool IniValue(const char* key, std::string* value) {
  std::vector<char> buffer(1024);
  if (TWINIGetString(kIniSection, key, buffer.data(), buffer.size(), kIniFile) != 0) return false;
  *value = buffer.data();
  return !value->empty();
}

// A decimal integer as text (leading blanks allowed); 0 when there is none.
int32_t ParseInt(const std::string& text) {
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

[[nodiscard]] uint32_t MissingIniKey(const char* key) {
  CSMgrDetail(TWMSG_DETAIL_FIELD, key);
  return CSMgrReport(TWFAIL_INI_MISSING_KEY);
}

int32_t DiagnosticsLevel() {
  std::string text;
  return IniValue("Diagnostics", &text) ? ParseInt(text) : 0;
}

// Closes a document on every path unless released.
class OpenDoc {
 public:
  OpenDoc() = default;
  ~OpenDoc() { Close(true); }
  OpenDoc(const OpenDoc&) = delete;
  OpenDoc& operator=(const OpenDoc&) = delete;
  GVDOC* operator&() { return &doc_; }
  GVDOC get() const { return doc_; }
  bool Close(bool keep) { return doc_ == 0 || OrdexCloseDocument(&doc_, keep); }

 private:
  GVDOC doc_ = 0;
};

[[nodiscard]] uint32_t ServerDocMissing(GVNOTEID id) {
  CSMgrDetail(TWMSG_DETAIL_DATABASE, Service().adminTitle);
  CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, static_cast<int64_t>(id));
  return CSMgrReport(TWFAIL_NO_CONFIG_DOC);
}

[[nodiscard]] uint32_t ServerItemFailed(const char* item) {
  CSMgrDetail(TWMSG_DETAIL_FIELD, item);
  return CSMgrReport(TWFAIL_CONFIG_ITEM);
}

// Optional numbers leave 0 and no trace when missing.
int32_t OptionalNumber(GVDOC doc, const char* item) {
  QuietReports quiet;
  int32_t value = 0;
  if (!OrdexReadNumber(doc, item, &value)) value = 0;
  return value;
}

int32_t DayOfMonth(const GVTIMEDATE& t) {
  GVTIMEPARTS parts{};
  if (GVDatetimeFetch(&t, &parts) != 0) return -1;
  return parts.day;
}

// Whether the database has the design a Release 1 migration writes into: the database is
// made from this program's template, whose administration activity forms the migration
// converts the old ones into. A Release 1 design of the same revision lacks them.
bool HasMigratedDesign(GVDB db) {
  for (const char* form : {"Activity\\*Admin-Backup", "Activity\\*Admin-Purge Log"})
    if (GVFormLocateByName(db, form) == 0) return false;
  return true;
}

// Points the server document's DocLink at its newest server log.
bool LinkServerLog(GVDOC serverDoc) {
  ServiceState& s = Service();
  return OrdexPutDocLink(serverDoc, "DocLink", s.logDb, s.log.servers, "(CS_Servers)",
                         s.serverName);
}

// Creates a new server log (with message, 0 for none), stores its id in LogID and links it.
[[nodiscard]] uint32_t NewServerLog(GVDOC serverDoc, uint32_t message) {
  GVDOC logDoc = 0;
  GVNOTEID logId = 0;
  if (uint32_t st = CSMgrLogCreate(LogKind::kServer, {}, message, &logDoc, &logId)) return st;
  OrdexCloseDocument(&logDoc, true);
  if (!OrdexWriteNumber(serverDoc, "LogID", logId)) return ServerItemFailed("LogID");
  if (!LinkServerLog(serverDoc)) return ServerItemFailed("DocLink");
  return 0;
}

void FillInternational() {
  GVInternational intl{};
  std::array<uint8_t, TWINTL_RECORD_SIZE>& out = Service().intl;
  out.fill(0);
  if (GVGetInternational(&intl) != 0) return;
  put_i32(out.data() + 0, static_cast<int32_t>(intl.flags & 0x1F));
  put_i32(out.data() + 4, static_cast<int32_t>(intl.dateOrder));
  put_i32(out.data() + 8, (intl.flags & GVINTL_24HOUR) ? 1 : 0);
  put_i32(out.data() + 12, -intl.zone);
  const char* texts[] = {intl.am,      intl.pm,   intl.currency, intl.thousands,
                         intl.decimal, intl.date, intl.time};
  uint8_t* at = out.data() + 16;
  for (const char* text : texts) {
    size_t n = strnlen(text, 8);
    if (n > 5) n = 5;
    std::memcpy(at, text, n);
    put_i32(at + 6, static_cast<int32_t>(n));
    at += 10;
  }
}

// Start-up steps after Plexa: 0 or the failure id (already reported).
[[nodiscard]] uint32_t OpenDatabases() {
  ServiceState& s = Service();
  // twmain.ini
  std::string adminServer, adminFile, kit;
  if (!IniValue("Tarnway", &s.serverName)) return MissingIniKey("Tarnway");
  IniValue("AdminServer", &adminServer);
  if (!IniValue("AdminDatabase", &adminFile)) return MissingIniKey("AdminDatabase");
  if (!IniValue("KitType", &kit)) return MissingIniKey("KitType");
  s.kitType = ParseInt(kit);
  s.diagnostics = DiagnosticsLevel();

  if (!OrdexOpenDatabase(adminServer, adminFile, &s.adminDb)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, adminServer + "!!" + adminFile);
    return CSMgrReport(TWFAIL_ADMIN_DB);
  }
  s.adminTitle = OrdexDatabaseTitle(s.adminDb);

  // The administrator document.
  s.admin.administrators = OrdexLocateView(s.adminDb, "(CS_Administrators)");
  if (s.admin.administrators == 0) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_VIEW, "(CS_Administrators)");
    return CSMgrReport(TWFAIL_ADMIN_ITEM);
  }
  GVNOTEID adminId =
      OrdexFirstIdOfKey(s.adminDb, s.admin.administrators, "(CS_Administrators)", "Administrator");
  OpenDoc adminDoc;
  if (adminId == 0 || !OrdexOpenDocument(s.adminDb, adminId, kOpenLookOnly, &adminDoc)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, "Administrator");
    return CSMgrReport(TWFAIL_ADMIN_DB);
  }
  std::string logServer, logFile;
  {
    QuietReports quiet;
    if (!OrdexReadText(adminDoc.get(), "LogServer", &logServer)) logServer.clear();
  }
  if (!OrdexReadText(adminDoc.get(), "LogDatabase", &logFile) || logFile.empty()) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_FIELD, "LogDatabase");
    return CSMgrReport(TWFAIL_LOG_DB);
  }
  s.settings.statusInterval = OptionalNumber(adminDoc.get(), "StatusInterval");
  int32_t revision = 0;
  if (!OrdexReadNumber(adminDoc.get(), "Revision", &revision)) revision = 0;
  adminDoc.Close(false);
  // A Release 1 migration stores 0x10000 into a database of the current design, which is
  // served; a database of that revision without that design was never migrated.
  const bool served =
      revision == kAdminRevision || (revision == kMigratedRevision && HasMigratedDesign(s.adminDb));
  if (!served) {
    CSMgrReport(revision > kAdminRevision ? TWFAIL_PROGRAM_NOT_UPGRADED
                                          : TWFAIL_ADMIN_NOT_UPGRADED);
    return CSMgrReport(TWFAIL_ADMIN_VERSION);
  }

  if (!OrdexOpenDatabase(logServer, logFile, &s.logDb)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, logServer + "!!" + logFile);
    return CSMgrReport(TWFAIL_LOG_DB);
  }
  s.logTitle = OrdexDatabaseTitle(s.logDb);

  const char* serverForm = s.kitType == kKitClient ? "Client" : "Server";
  s.log.activityForm = OrdexLocateForm(s.logDb, "Activity");
  s.log.serverForm = OrdexLocateForm(s.logDb, serverForm);
  for (auto [id, name] :
       {std::pair{s.log.activityForm, "Activity"}, {s.log.serverForm, serverForm}}) {
    if (id != 0) continue;
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.logTitle);
    CSMgrDetail(TWMSG_DETAIL_METADATA, name);
    return CSMgrReport(TWFAIL_ADMIN_ITEM);
  }

  struct Wanted {
    GVNOTEID* id;
    const char* name;
  };
  for (Wanted w :
       {Wanted{&s.admin.servers, "(CS_Servers)"}, Wanted{&s.admin.activities, "(CS_Activities)"},
        Wanted{&s.admin.links, "(CS_Links)"}, Wanted{&s.admin.options, "(CS_Options)"}}) {
    *w.id = OrdexLocateView(s.adminDb, w.name);
    if (*w.id != 0) continue;
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_VIEW, w.name);
    return CSMgrReport(TWFAIL_ADMIN_ITEM);
  }
  s.log.servers = OrdexLocateView(s.logDb, "(CS_Servers)");
  s.log.activities = OrdexLocateView(s.logDb, "(CS_Activities)");
  s.log.messages = OrdexLocateView(s.logDb, "(Messages)");

  struct WantedIndex {
    GVINDEX* index;
    const char* name;
  };
  for (WantedIndex w : {WantedIndex{&s.admin.queuedEvents, "(CS_Queued Events)"},
                        WantedIndex{&s.admin.runningServers, "(CS_Running Servers)"}}) {
    GVNOTEID view = OrdexLocateView(s.adminDb, w.name);
    if (view == 0) {
      CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
      CSMgrDetail(TWMSG_DETAIL_VIEW, w.name);
      return CSMgrReport(TWFAIL_ADMIN_ITEM);
    }
    if (!OrdexOpenIndex(s.adminDb, view, w.name, w.index)) {
      CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
      CSMgrDetail(TWMSG_DETAIL_VIEW, w.name);
      return CSMgrReport(TWFAIL_ADMIN_ACCESS);
    }
  }
  return 0;
}

// Register this server in its document (start-up only).
[[nodiscard]] uint32_t RegisterServer(GVNOTEID id) {
  ServiceState& s = Service();
  {
    OpenDoc doc;
    if (!OrdexOpenDocument(s.adminDb, id, 0, &doc)) return ServerDocMissing(id);
    // A fresh installation's document may lack the state items: read as stopped cleanly.
    int32_t status = OptionalNumber(doc.get(), "ServerStatus");
    if (status != 0) {
      if (!OrdexWriteNumber(doc.get(), "ServerStatus", 0)) return ServerItemFailed("ServerStatus");
      int32_t logId = OptionalNumber(doc.get(), "LogID");
      // Clean-up of the earlier run: each step reports its own failure, registration goes on.
      CSMgrDetailMessage(TWMSG_SERVER_CLEANUP, s.serverName);
      if (logId != 0)
        (void)CSMgrLogEndById(static_cast<GVNOTEID>(logId), TWMSG_SERVER_ABNORMAL);
      else
        CSMgrClearDetail();
      std::vector<GVNOTEID> going;
      (void)CSMgrEndServerRuns(id, true, &going);
      (void)CSMgrEndOpenLogs(s.serverName, true, going);
      if (!OrdexWriteNumber(doc.get(), "LogID", 0)) return ServerItemFailed("LogID");
      if (!OrdexWriteNumber(doc.get(), "ServerID", 0)) return ServerItemFailed("ServerID");
      if (!OrdexSaveDocument(doc.get())) return ServerItemFailed("ServerStatus");
    }
    if (!OrdexWriteNumber(doc.get(), "ServerID", id)) return ServerItemFailed("ServerID");
    if (!OrdexWriteDatetime(doc.get(), "Time", CSMgrNow())) return ServerItemFailed("Time");
    if (uint32_t st = NewServerLog(doc.get(), TWMSG_SERVER_STARTED)) return st;
    if (!OrdexWriteNumber(doc.get(), "ServerStatus", 2)) return ServerItemFailed("ServerStatus");
    if (!doc.Close(true)) return ServerItemFailed("ServerStatus");
  }
  s.serverId = id;
  // Registered; the checks report their own failures and run again at each status.
  (void)CSMgrDeadServerCheck();
  (void)CSMgrReleaseGoneHolders();
  return 0;
}

}  // namespace

ServiceState& Service() {
  static ServiceState state;
  return state;
}

void ResetService() {
  Service() = ServiceState{};
}

GVTIMEDATE CSMgrNow() {
  GVTIMEDATE now{};
  const ServiceState& s = Service();
  if (!s.initialised) return now;
  if (GVDatetimeCurrent(&now) != 0) return GVTIMEDATE{};
  GVTIMEADJUST offset = s.clockOffset;
  offset.unused = 0;
  GVDatetimeAdjust(&now, &offset);
  return now;
}

// ------------------------------------------------------------------------ slots ------

CSMgrActivitySlot* CSMgrSlotTake() {
  ServiceState& s = Service();
  for (bool retired : {false, true}) {
    for (uint32_t i = 0; i < kSlotCount; ++i) {
      CSMgrActivitySlot& slot = s.slots[i];
      if (retired ? (slot.flags & kSlotRetired) == 0 : !slot.Free()) continue;
      slot = CSMgrActivitySlot{};
      slot.documentId = kSlotTakenNoDocument;
      slot.handle = SlotHandle(i);
      return &slot;
    }
  }
  return nullptr;
}

CSMgrActivitySlot* CSMgrSlotFind(int32_t handle) {
  if (!IsSlotHandle(handle)) return nullptr;
  CSMgrActivitySlot& slot = Service().slots[SlotIndex(handle)];
  return slot.Free() ? nullptr : &slot;
}

void CSMgrSlotReleaseDocument(CSMgrActivitySlot* slot, bool keepChanges) {
  if (slot == nullptr) return;
  if (slot->document != 0) OrdexCloseDocument(&slot->document, keepChanges);
  if (slot->logDocument != 0) OrdexCloseDocument(&slot->logDocument, true);
  const int32_t handle = slot->handle;
  *slot = CSMgrActivitySlot{};
  slot->handle = handle;
  slot->documentId = kSlotTakenNoDocument;
}

void CSMgrSlotFree(CSMgrActivitySlot* slot, bool keepChanges) {
  if (slot == nullptr) return;
  if (slot->document != 0) OrdexCloseDocument(&slot->document, keepChanges);
  if (slot->logDocument != 0) OrdexCloseDocument(&slot->logDocument, true);
  *slot = CSMgrActivitySlot{};
}

// ------------------------------------------------------------------------ clock ------

uint32_t CSMgrComputeClockOffset() {
  ServiceState& s = Service();
  GVDOC scratch = 0;
  if (!OrdexCreateDocument(s.adminDb, 0, &scratch)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    return CSMgrReport(TWFAIL_API);
  }
  GVTIMEDATE server{}, local{};
  uint32_t st = GVDocumentGetProperty(scratch, GVDOCPROP_CREATED, &server);
  OrdexCloseDocument(&scratch, false);
  if (st == 0) st = GVDatetimeCurrent(&local);
  int32_t diff = 0;
  if (st == 0) st = GVDatetimeDiff(&server, &local, &diff);
  if (st != 0) {
    CSMgrPlexaFailure(st);
    return CSMgrReport(TWFAIL_API);
  }
  // Each part keeps the difference's sign (C++ division truncates toward zero).
  GVTIMEADJUST offset{};
  offset.days = diff / kSecondsPerDay;
  int32_t rest = diff % kSecondsPerDay;
  offset.hours = rest / 3600;
  rest %= 3600;
  offset.minutes = rest / 60;
  offset.seconds = rest % 60;
  s.clockOffset = offset;
  return 0;
}

// ------------------------------------------------------------------------ start-up ---

uint32_t CSMgrServerOpen() {
  ServiceState& s = Service();
  auto fail = [&](uint32_t id) {
    CSMgrServerClose();
    Service().startupFailure = id;
    return id;
  };
  if (s.platformFailure != 0) return fail(CSMgrReport(s.platformFailure));

  if (uint32_t st = _GVInit(GV_VERSION, 0, 0, 0)) {
    CSMgrDetail(TWMSG_DETAIL_CODE, static_cast<int64_t>(st));
    return fail(CSMgrReport(TWFAIL_API_INIT));
  }
  s.plexaStarted = true;
  GVSetProperty(GVPROP_SHARED, 1);
  GVSetProperty(GVPROP_PROMPT, 0);
  GVSetProperty(GVPROP_CLEAR_ERROR, 0);
  GVErrorSetBuffer(g_plexaError, sizeof g_plexaError);

  if (uint32_t st = OpenDatabases()) return fail(st);

  if (uint32_t st = CSMgrComputeClockOffset()) return fail(st);
  s.initialised = true;

  GVNOTEID id = OrdexFirstIdOfKey(s.adminDb, s.admin.servers, "(CS_Servers)", s.serverName);
  if (id == 0) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, s.serverName);
    return fail(CSMgrReport(TWFAIL_NO_CONFIG_DOC));
  }
  FillInternational();
  if (uint32_t st = CSMgrReadServerLimits(id)) return fail(st);
  if (uint32_t st = RegisterServer(id)) return fail(st);
  s.startupComplete = true;
  return 0;
}

uint32_t CSMgrReadServerLimits(GVNOTEID id) {
  ServiceState& s = Service();
  if (id == 0) id = s.serverId;
  OpenDoc doc;
  if (id == 0 || !OrdexOpenDocument(s.adminDb, id, kOpenLookOnly, &doc)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, static_cast<int64_t>(id));
    return CSMgrReport(TWFAIL_CONFIG_ITEM);
  }
  ServerSettings& set = s.settings;
  set.maxDuration = OptionalNumber(doc.get(), "MaxDuration");
  set.maxFailures = OptionalNumber(doc.get(), "MaxFailures");
  set.closeTimeout = OptionalNumber(doc.get(), "CloseTimeout");
  set.maxActivities = OptionalNumber(doc.get(), "MaxActivities");
  set.translate = OptionalNumber(doc.get(), "Translate");
  set.snmp = OptionalNumber(doc.get(), "SNMP");
  if (!OrdexReadNumber(doc.get(), "PollInterval", &set.pollInterval)) {
    set.pollInterval = 0;
    return ServerItemFailed("PollInterval");
  }
  return 0;
}

uint32_t CSMgrReadConfig() {
  ServiceState& s = Service();
  uint32_t st = CSMgrReadServerLimits(s.serverId);
  if (st == 0) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", s.settings.snmp);
    TWINISetString(kIniSection, "SNMP", text, kIniFile);
    std::snprintf(text, sizeof text, "%d", s.settings.translate);
    TWINISetString(kIniSection, "Translation", text, kIniFile);
  }
  const int32_t level = DiagnosticsLevel();
  if (level != s.diagnostics) {
    CSMgrEndDiagnostics();
    s.diagnostics = level;
  }
  return st;
}

// ------------------------------------------------------------------------ servers ----

uint32_t CSMgrServerStop(GVNOTEID id, bool normal) {
  ServiceState& s = Service();
  uint32_t status = 0;
  std::string name;
  {
    OpenDoc doc;
    if (!OrdexOpenDocument(s.adminDb, id, 0, &doc)) {
      status = ServerDocMissing(id);
    } else if (!OrdexReadText(doc.get(), "Name", &name)) {
      status = ServerItemFailed("Name");
    } else {
      if (!OrdexWriteNumber(doc.get(), "ServerStatus", 0))
        status = ServerItemFailed("ServerStatus");
      int32_t logId = OptionalNumber(doc.get(), "LogID");
      if (logId != 0) {
        if (!normal) CSMgrDetailMessage(TWMSG_SERVER_CLEANUP, s.serverName);
        (void)CSMgrLogEndById(static_cast<GVNOTEID>(logId),
                              normal ? TWMSG_SERVER_FINISHED : TWMSG_SERVER_ABNORMAL);
      }
      if (!OrdexWriteNumber(doc.get(), "LogID", 0) && status == 0)
        status = ServerItemFailed("LogID");
      if (!OrdexWriteNumber(doc.get(), "ServerID", 0) && status == 0)
        status = ServerItemFailed("ServerID");
      if (!OrdexWriteDatetime(doc.get(), "Time", CSMgrNow()) && status == 0)
        status = ServerItemFailed("Time");
      if (!doc.Close(true) && status == 0) status = ServerItemFailed("ServerStatus");
    }
  }
  // The stop is done; these report their own failures.
  std::vector<GVNOTEID> going;
  (void)CSMgrEndServerRuns(id, id == Service().serverId, &going);
  if (!name.empty()) (void)CSMgrEndOpenLogs(name, !normal, going);
  return status;
}

uint32_t CSMgrServerAlive() {
  ServiceState& s = Service();
  uint32_t status = CSMgrComputeClockOffset();
  {
    OpenDoc doc;
    if (!OrdexOpenDocument(s.adminDb, s.serverId, 0, &doc)) {
      CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, static_cast<int64_t>(s.serverId));
      status = CSMgrReport(TWFAIL_CONFIG_ITEM);
    } else {
      const GVTIMEDATE now = CSMgrNow();
      uint32_t st = 0;
      if (!OrdexWriteNumber(doc.get(), "ServerStatus", 2)) st = ServerItemFailed("ServerStatus");
      int32_t logId = OptionalNumber(doc.get(), "LogID");
      GVTIMEDATE last{};
      bool hasTime;
      {
        QuietReports quiet;
        hasTime = OrdexReadDatetime(doc.get(), "Time", &last);
      }
      if (st == 0 && (!hasTime || logId == 0 || DayOfMonth(last) != DayOfMonth(now))) {
        if (logId != 0) (void)CSMgrLogEndById(static_cast<GVNOTEID>(logId), 0);
        st = NewServerLog(doc.get(), 0);
      }
      if (st == 0 && !OrdexWriteDatetime(doc.get(), "Time", now)) st = ServerItemFailed("Time");
      if (!doc.Close(true) && st == 0) st = ServerItemFailed("Time");
      if (status == 0) status = st;
    }
  }
  CSMgrLogServer(s.serverId, TWMSG_SERVER_ACTIVE | kLogOnly);
  // The checks report their own failures; the server is alive regardless.
  (void)CSMgrDeadServerCheck();
  // Runs by name that were killed leave their Locks to be released here, as a dead server
  // leaves its runs to the dead-server check.
  (void)CSMgrReleaseGoneHolders();
  return status;
}

uint32_t CSMgrServerStarting() {
  ServiceState& s = Service();
  if (s.serverId != 0 && !s.serverAttached) {
    s.serverAttached = true;
    return 0;
  }
  GVNOTEID id = OrdexFirstIdOfKey(s.adminDb, s.admin.servers, "(CS_Servers)", s.serverName);
  if (id == 0) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, s.serverName);
    return CSMgrReport(TWFAIL_NO_CONFIG_DOC);
  }
  // The runs taken for the earlier run of the server: their documents are ended below, their
  // handles are kept from new runs while the runners may still use them.
  for (CSMgrActivitySlot& slot : s.slots) {
    if (slot.Free() || (slot.flags & (kSlotByName | kSlotRetired)) != 0) continue;
    CSMgrSlotReleaseDocument(&slot);
    slot.flags = kSlotRetired;
  }
  if (uint32_t st = CSMgrReadServerLimits(id)) return st;
  if (uint32_t st = RegisterServer(id)) return st;
  s.serverAttached = true;
  return 0;
}

uint32_t CSMgrDeadServerCheck() {
  ServiceState& s = Service();
  // Without a positive interval no server can be judged late.
  if (s.kitType == kKitClient || s.settings.statusInterval <= 0) return 0;
  if (s.admin.runningServers == 0) return 0;
  GVTIMEDATE threshold = CSMgrNow();
  GVTIMEADJUST back{};
  back.minutes = -4 * s.settings.statusInterval;
  if (uint32_t st = GVDatetimeAdjust(&threshold, &back)) {
    CSMgrPlexaFailure(st);
    return CSMgrReport(TWFAIL_API);
  }
  if (!OrdexRefreshIndex(s.admin.runningServers)) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_VIEW, "(CS_Running Servers)");
    return CSMgrReport(TWFAIL_ADMIN_ACCESS);
  }
  std::vector<GVNOTEID> dead;
  GVNOTEID id = 0;
  while (GVIndexNavigate(s.admin.runningServers, GVNAV_NEXT, GVNAVF_DOCUMENTS, &id, nullptr) == 0) {
    if (id == 0 || id == s.serverId) continue;
    GVTIMEDATE seen{};
    {
      QuietReports quiet;
      if (!OrdexViewCellDatetime(s.admin.runningServers, "(CS_Running Servers)", 2, &seen))
        continue;
    }
    int32_t cmp = 0;
    if (GVDatetimeCompare(&seen, &threshold, &cmp) == 0 && cmp < 0) dead.push_back(id);
  }
  // Each stop reports its own failure; the other dead servers are still stopped.
  for (GVNOTEID server : dead) (void)CSMgrServerStop(server, false);
  return 0;
}

// ------------------------------------------------------------------------ close ------

void CSMgrServerClose() {
  ServiceState& s = Service();
  if (s.plexaStarted) {
    CSMgrEndServiceLogs();
    // Closing: a failure has been reported and nothing is left to do.
    if (s.serverId != 0 && s.initialised) (void)CSMgrServerStop(s.serverId, true);
    for (CSMgrActivitySlot& slot : s.slots) {
      if (slot.document != 0) OrdexCloseDocument(&slot.document, false);
      if (slot.logDocument != 0) OrdexCloseDocument(&slot.logDocument, true);
    }
    OrdexCloseIndex(&s.admin.queuedEvents);
    OrdexCloseIndex(&s.admin.runningServers);
    OrdexCloseIndex(&s.admin.activeEvents);
    if (s.logDb != 0) OrdexCloseDatabase(&s.logDb);
    if (s.adminDb != 0) OrdexCloseDatabase(&s.adminDb);
    GVErrorSetBuffer(nullptr, 0);
    GVTerm(0);
  }
  CSMgrClearDetail();
  const uint32_t failure = s.startupFailure;
  const bool complete = s.startupComplete;
  ResetService();
  Service().startupFailure = failure;
  Service().startupComplete = complete;
}

}  // namespace tw::csmgr
