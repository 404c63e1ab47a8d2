// Log documents, message lines with their details, mail on completion, the diagnostics log
// and the fallback files twmain.err and twmain.bug of the control store.
#include "log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue.h"
#include "ordexio.h"
#include "platform.h"

namespace tw::csmgr {
namespace {

constexpr size_t kMessageRoom = 512;
constexpr uint32_t kDiagnosticsPerDocument = 500;

struct LogState {
  std::string detail;
  int quiet = 0;
  bool writing = false;     // a message is being written: another one goes to twmain.err
  bool diagnosing = false;  // a diagnostics entry is being written
  bool serverLost = false;  // 792 was reported for the outage going on
  bool naming = false;      // that report is being written
};

LogState& State() {
  static LogState state;
  return state;
}

// Replaces each "%s" of format in turn by the next argument (texts from documents are never
// given to printf as a format).
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

std::string Separator() {
  std::string s = CSMgrMessageText(TWMSG_LOG_BREAK);
  return s.empty() || s.rfind("MSG#", 0) == 0 ? std::string("|") : s;
}

std::string TimeText(const GVTIMEDATE& t) {
  char text[128] = {};
  uint32_t length = 0;
  if (GVConvert(GVTYPE_TIME, &t, sizeof t, GVTYPE_TEXT, text, sizeof text, &length) != 0) return {};
  return std::string(text, std::strlen(text));
}

void AppendFile(const char* name, std::string_view text, bool toStderr) {
  std::string body;
  body.reserve(text.size() + 1);
  for (char c : text) body += c == '|' ? '\n' : c;
  body += '\n';
  if (toStderr) std::fputs(body.c_str(), stderr);
  const char* dir = TWFileExeDir();
  if (dir == nullptr || dir[0] == '\0') return;
  std::string path = std::string(dir) + name;
  FILE* file = TWFileOpen(path.c_str(), TWFILE_APPEND);
  if (file == nullptr) return;
  TWFileWrite(file, static_cast<uint32_t>(body.size()), body.data());
  TWFileClose(file);
}

// Appends the text to the document's Body, one text record and a paragraph end per "|"
// part, then saves the document. The line goes in as a piece of its own: what the log held
// before is neither read nor written again, so a line costs the same in a long log as in a
// new one.
bool AppendBody(GVDOC doc, std::string_view text) {
  std::string records;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    OrdexAddTextRecord(
        &records,
        text.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    OrdexAddParagraphRecord(&records);
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return OrdexAppendRichPieces(doc, "Body", records) && GVDocumentSave(doc, 0) == 0;
}

GVNOTEID FormOf(LogKind kind) {
  ServiceState& s = Service();
  switch (kind) {
    case LogKind::kServer:
      return s.log.serverForm;
    case LogKind::kActivity:
      return s.log.activityForm;
    case LogKind::kOperations:
      return GVFormLocateByName(s.logDb, "Operation");
    case LogKind::kDiagnostics:
      return GVFormLocateByName(s.logDb, "Bug");
  }
  return 0;
}

// The operations log, created on first use; 0 when it cannot be had.
GVDOC OperationsLog() {
  ServiceState& s = Service();
  if (s.operationsDoc == 0 && s.logDb != 0) {
    GVDOC doc = 0;
    GVNOTEID id = 0;
    if (CSMgrLogCreate(LogKind::kOperations, {}, 0, &doc, &id) == 0) s.operationsDoc = doc;
  }
  return s.operationsDoc;
}

std::string NumberText(uint32_t label, int64_t value) {
  char text[32];
  if (label == TWMSG_DETAIL_DOCUMENT_NUMBER || value > 65535 || value < -65535)
    std::snprintf(text, sizeof text, "0x%lX",
                  static_cast<unsigned long>(value >= INT32_MIN && value <= UINT32_MAX
                                                 ? static_cast<uint32_t>(value)
                                                 : static_cast<uint64_t>(value)));
  else
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
  return text;
}

}  // namespace

// ------------------------------------------------------------------------ messages ---

std::string CSMgrMessageText(uint32_t id) {
  char text[kMessageRoom] = {};
  const uint32_t lookup = id & 0xFFFFu;
  if (TWLibraryLoadString(lookup, text, sizeof text) <= 0)
    std::snprintf(text, sizeof text, "MSG#%d NOT FOUND", static_cast<int>(lookup));
  char translated[kMessageRoom] = {};
  if (GVTranslate(GVTRANSLATE_TO_PLEXA, sizeof text, text, sizeof translated, translated,
                  nullptr) != 0)
    return text;
  return translated;
}

void CSMgrDetail(uint32_t label, std::string_view value) {
  if (CSMgrReportsQuiet()) return;
  std::string& d = State().detail;
  d += Separator();
  d += CSMgrMessageText(label);
  d += " = ";
  d += value;
}

void CSMgrDetail(uint32_t label, int64_t value) {
  CSMgrDetail(label, NumberText(label, value));
}

void CSMgrDetailMessage(uint32_t id, std::string_view arg) {
  if (CSMgrReportsQuiet()) return;
  State().detail += Separator();
  State().detail += FormatText(CSMgrMessageText(id), {arg});
}

const std::string& CSMgrDetailText() {
  return State().detail;
}
void CSMgrClearDetail() {
  State().detail.clear();
}

QuietReports::QuietReports() {
  ++State().quiet;
}
QuietReports::~QuietReports() {
  --State().quiet;
}
bool CSMgrReportsQuiet() {
  return State().quiet > 0;
}

std::string CSMgrMessageLine(std::string_view text, bool withTime) {
  std::string line;
  if (withTime) {
    line = TimeText(CSMgrNow());
    line += '\t';
  }
  line += text;
  if (!State().detail.empty()) {
    line += ": ";
    line += State().detail;
  }
  return line;
}

uint32_t CSMgrLogText(GVDOC logDoc, uint32_t id, std::string_view text) {
  LogState& st = State();
  // While the Ordex server does not answer, a database, document, item or view out of reach
  // is only what a call that found it gone leaves behind: the outage has been named, with its
  // reason, and the caller is told the real cause instead. Other messages are written.
  const uint32_t bare = id & ~kLogOnly;
  const bool outOfReach = bare == TWFAIL_LOG_DB || bare == TWFAIL_ADMIN_DB || bare == TWFAIL_API ||
                          (bare >= TWFAIL_CSMGR_ORDEX_SERVER && bare <= TWFAIL_LOG_ITEM);
  if (st.serverLost && !st.naming && outOfReach &&
      (bare == TWFAIL_CSMGR_ORDEX_SERVER || OrdexServerLost())) {
    st.detail.clear();
    return TWFAIL_CSMGR_ORDEX_SERVER;
  }
  if (st.writing) {
    AppendFile("twmain.err", CSMgrMessageLine(text), true);
    return id & 0xFFFFFFFu;
  }
  st.writing = true;
  const bool logOnly = (id & kLogOnly) != 0;
  GVDOC doc = logDoc != 0 ? logDoc : OperationsLog();
  const bool written = doc != 0 && AppendBody(doc, CSMgrMessageLine(text));
  if (!Service().startupComplete) {
    if (!logOnly) AppendFile("twmain.err", CSMgrMessageLine(text, false), true);
  } else if (!written && !logOnly) {
    AppendFile("twmain.err", CSMgrMessageLine(text), true);
  }
  st.detail.clear();
  st.writing = false;
  return id & ~kLogOnly;
}

uint32_t CSMgrLogMessage(GVDOC logDoc, uint32_t id) {
  return CSMgrLogText(logDoc, id, CSMgrMessageText(id));
}

uint32_t CSMgrLogSlot(ActivitySlot& slot, uint32_t id) {
  slot.lastMessage = static_cast<int32_t>(id & ~kLogOnly);
  return CSMgrLogMessage(slot.logDocument, id);
}

uint32_t CSMgrLogServer(uint32_t serverDocId, uint32_t id) {
  ServiceState& s = Service();
  GVDOC server = 0, log = 0;
  int32_t logId = 0;
  {
    QuietReports quiet;
    if (serverDocId != 0 && OrdexOpenDocument(s.adminDb, serverDocId, kOpenLookOnly, &server)) {
      if (OrdexReadNumber(server, "LogID", &logId) && logId > 0)
        OrdexOpenDocument(s.logDb, static_cast<GVNOTEID>(logId), 0, &log);
      OrdexCloseDocument(&server, false);
    }
  }
  uint32_t result = CSMgrLogMessage(log, id);
  OrdexCloseDocument(&log, true);
  return result;
}

// ------------------------------------------------------------------------ log documents

uint32_t CSMgrLogCreate(LogKind kind, std::string_view activityName, uint32_t messageId, GVDOC* doc,
                        GVNOTEID* id) {
  ServiceState& s = Service();
  GVDOC created = 0;
  GVNOTEID form = FormOf(kind);
  if (s.logDb == 0 || !OrdexCreateDocument(s.logDb, form, &created)) return TWFAIL_NO_LOG_DOC;
  const GVTIMEDATE now = CSMgrNow();
  bool ok = OrdexWriteDatetime(created, "StartTime", now);
  if (ok && kind == LogKind::kActivity)
    ok = OrdexWriteText(created, "Activity", activityName) &&
         OrdexWriteNumberList(created, "CountList", {});
  if (ok && !s.serverName.empty()) ok = OrdexWriteText(created, "Server", s.serverName);
  if (ok) {
    GVCOMP comp = 0;
    GVParagraphDef pardef{};
    pardef.leftMargin = 0;
    pardef.rightMargin = 1440;
    pardef.firstTab = 720;
    ok = GVCompositeCreate(created, "Body", &comp) == 0;
    if (ok) {
      ok = GVCDRecordInsert(comp, 0, GVCD_PARDEF, &pardef) == 0;
      ok = GVCompositeClose(comp, ok ? GVCOMPCLOSE_WRITE : GVCOMPCLOSE_DISCARD) == 0 && ok;
    }
  }
  if (ok) ok = OrdexSaveDocument(created);
  if (!ok) {
    OrdexCloseDocument(&created, false);
    return TWFAIL_LOG_ITEM;
  }
  if (messageId != 0) CSMgrLogMessage(created, messageId);
  *doc = created;
  if (id != nullptr) *id = OrdexDocumentId(created);
  return 0;
}

uint32_t CSMgrLogEnd(GVDOC* doc, uint32_t messageId) {
  if (*doc == 0) {
    if (messageId != 0) CSMgrLogMessage(0, messageId);
    return TWFAIL_NO_LOG_DOC;
  }
  if (messageId != 0) CSMgrLogMessage(*doc, messageId);
  bool ok = OrdexWriteDatetime(*doc, "FinishTime", CSMgrNow());
  ok = OrdexCloseDocument(doc, true) && ok;
  return ok ? 0 : TWFAIL_LOG_ITEM;
}

uint32_t CSMgrLogEndById(GVNOTEID id, uint32_t messageId) {
  GVDOC doc = 0;
  if (id == 0 || !OrdexOpenDocument(Service().logDb, id, 0, &doc)) {
    if (messageId != 0) CSMgrLogMessage(0, messageId);
    return TWFAIL_NO_LOG_DOC;
  }
  return CSMgrLogEnd(&doc, messageId);
}

uint32_t CSMgrLogStart(ActivitySlot& slot) {
  if ((slot.flags & kSlotLogOff) != 0) return 0;
  int32_t logType = 1;
  if (slot.document != 0) {
    QuietReports quiet;
    if (!OrdexReadNumber(slot.document, "LogType", &logType)) logType = 1;
  }
  if (logType == 0) {
    slot.flags |= kSlotLogOff;
    return 0;
  }
  GVDOC doc = 0;
  GVNOTEID id = 0;
  uint32_t st = CSMgrLogCreate(LogKind::kActivity, slot.name, 0, &doc, &id);
  if (st != 0) return st;
  slot.logDocument = doc;
  slot.logId = id;
  CSMgrLogSlot(slot, TWMSG_ACTIVITY_STARTED);
  if ((slot.flags & kSlotByName) == 0) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
    CSMgrLogServer(Service().serverId, TWMSG_ACTIVITY_STARTED);
  }
  return 0;
}

uint32_t CSMgrEndOpenLogs(std::string_view serverName, bool abnormal,
                          const std::vector<GVNOTEID>& keep) {
  ServiceState& s = Service();
  constexpr const char* kView = "(CS_Open Logs)";
  GVNOTEID view = s.logDb != 0 ? OrdexLocateView(s.logDb, kView) : 0;
  GVINDEX index = 0;
  if (view == 0 || !OrdexOpenIndex(s.logDb, view, kView, &index)) {
    CSMgrDetail(TWMSG_DETAIL_VIEW, kView);
    return CSMgrReport(TWFAIL_ADMIN_ITEM);
  }
  struct OpenLog {
    GVNOTEID id;
    std::string kind;
  };
  std::vector<OpenLog> logs;
  uint32_t matches = 0;
  if (OrdexKeySearchText(index, kView, serverName, &matches)) {
    for (uint32_t i = 0; i < matches; ++i) {
      GVNOTEID id = 0;
      if (GVIndexNavigate(index, i == 0 ? GVNAV_CURRENT : GVNAV_NEXT, GVNAVF_DOCUMENTS, &id,
                          nullptr) != 0)
        break;
      std::string kind;
      OrdexViewCellText(index, kView, 3, &kind);
      logs.push_back({id, kind});
    }
  }
  OrdexCloseIndex(&index);
  // The logs this service is writing itself stay open, and so do those of runs that still
  // hold their slot (runs by name, when a server registers again while they go on).
  std::vector<GVNOTEID> own = {OrdexDocumentId(s.operationsDoc), OrdexDocumentId(s.diagnosticsDoc)};
  own.insert(own.end(), keep.begin(), keep.end());
  for (const ActivitySlot& slot : s.slots)
    if (!slot.Free() && slot.logDocument != 0) own.push_back(slot.logId);
  uint32_t result = 0;
  for (const OpenLog& log : logs) {
    if (std::find(own.begin(), own.end(), log.id) != own.end()) continue;
    uint32_t message = 0;
    if (abnormal) {
      CSMgrDetailMessage(TWMSG_ACTIVITY_CLEANUP, s.serverName);
      message = log.kind == "Bug"        ? 0
                : log.kind == "Activity" ? TWMSG_ACTIVITY_ABNORMAL
                                         : TWMSG_SYSTEM_ABNORMAL;
      if (message == 0) CSMgrClearDetail();
    }
    if (uint32_t st = CSMgrLogEndById(log.id, message); st != 0) result = st;
  }
  return result;
}

uint32_t CSMgrLogCounts(GVDOC logDoc, const int32_t* counts, size_t n) {
  if (logDoc == 0) return TWFAIL_LOG_ITEM;
  std::vector<int32_t> values(counts, counts + n);
  if (!OrdexWriteNumberList(logDoc, "CountList", values) || !OrdexSaveDocument(logDoc)) {
    CSMgrDetail(TWMSG_DETAIL_FIELD, "CountList");
    return CSMgrReport(TWFAIL_LOG_ITEM);
  }
  return 0;
}

void CSMgrEndDiagnostics() {
  ServiceState& s = Service();
  if (s.diagnosticsDoc != 0) {
    State().diagnosing = true;  // ending it must not write entries into it
    // Closing the service logs: a failure has been reported and nothing is left to do.
    (void)CSMgrLogEnd(&s.diagnosticsDoc, 0);
    State().diagnosing = false;
  }
  s.diagnosticsDoc = 0;
  s.diagnosticsEntries = 0;
}

void CSMgrEndServiceLogs() {
  CSMgrEndDiagnostics();
  ServiceState& s = Service();
  if (s.operationsDoc != 0) (void)CSMgrLogEnd(&s.operationsDoc, 0);
  s.operationsDoc = 0;
}

// ------------------------------------------------------------------------ mail -------

uint32_t CSMgrMailSend(ActivitySlot& slot, GVDOC activity, std::string_view completion) {
  ServiceState& s = Service();
  std::string name = slot.name, sendTo, cc, bcc;
  if (activity != 0) OrdexReadText(activity, "Name", &name);
  bool ok = activity != 0 && OrdexReadText(activity, "SendTo", &sendTo);
  {
    QuietReports quiet;
    if (activity != 0 && !OrdexReadText(activity, "CCTo", &cc)) cc.clear();
    if (activity != 0 && !OrdexReadText(activity, "BCCTo", &bcc)) bcc.clear();
  }
  const std::string subject = FormatText(CSMgrMessageText(TWMSG_MAIL_SUBJECT), {name, completion});
  GVDOC log = 0, mail = 0;
  if (ok) {
    // The run's log is the mail's body; without one the activity document stands in.
    GVDOC source = activity;
    if (slot.logId != 0 && OrdexOpenDocument(s.logDb, slot.logId, 0, &log)) source = log;
    uint32_t before = 1, mark = 1;
    GVDocumentGetProperty(source, GVDOCPROP_FORM_CHECK, &before);
    GVDocumentSetProperty(source, GVDOCPROP_FORM_CHECK, &mark);
    ok = GVMailCreate(source, sendTo.c_str(), cc.empty() ? nullptr : cc.c_str(),
                      bcc.empty() ? nullptr : bcc.c_str(), subject.c_str(), &mail) == 0;
    GVDocumentSetProperty(source, GVDOCPROP_FORM_CHECK, &before);
  }
  if (ok) {
    GVNOTEID target = OrdexFirstIdOfKey(s.adminDb, s.admin.activities, "(CS_Activities)", name);
    if (target != 0) {
      GVCOMP comp = 0;
      GVParagraphDef pardef{};
      if (GVCompositeOpen(mail, "Body", &comp) == 0) {
        const std::string text = CSMgrMessageText(TWMSG_MAIL_DOCLINK);
        bool linked = GVCDRecordInsert(comp, 0, GVCD_PARDEF, &pardef) == 0 &&
                      GVCDRecordInsert(comp, 0, GVCD_TEXT, text.c_str()) == 0 &&
                      OrdexInsertDocLink(comp, s.adminDb, s.admin.activities, target) &&
                      GVCDRecordInsert(comp, 0, GVCD_PARAGRAPH, nullptr) == 0;
        ok =
            GVCompositeClose(comp, linked ? GVCOMPCLOSE_WRITE : GVCOMPCLOSE_DISCARD) == 0 && linked;
      } else {
        ok = false;
      }
    }
  }
  if (ok) ok = GVMailSend(mail, 0) == 0;
  if (mail != 0) GVDocumentClose(mail, GVCLOSE_DISCARD);
  OrdexCloseDocument(&log, false);
  if (ok) return 0;
  CSMgrClearDetail();
  CSMgrLogText(0, TWFAIL_MAIL_NOTIFY,
               FormatText(CSMgrMessageText(TWFAIL_MAIL_NOTIFY), {sendTo, name}));
  return TWFAIL_MAIL_NOTIFY;
}

// ------------------------------------------------------------------------ files ------

void CSMgrWriteErrFile(std::string_view text) {
  AppendFile("twmain.err", text, true);
}
void CSMgrWriteBugFile(std::string_view text) {
  AppendFile("twmain.bug", text, false);
}

// ------------------------------------------------------------------------ diagnostics

void CSMgrDiagnostic(std::string_view text) {
  ServiceState& s = Service();
  LogState& st = State();
  if (s.diagnostics == 0) return;
  if (st.diagnosing) {
    CSMgrWriteBugFile(text);
    return;
  }
  st.diagnosing = true;
  bool written = false;
  if (s.initialised && s.logDb != 0) {
    if (s.diagnosticsDoc != 0 && s.diagnosticsEntries >= kDiagnosticsPerDocument) {
      // A full diagnostics document that cannot be ended has reported so; a new one starts.
      (void)CSMgrLogEnd(&s.diagnosticsDoc, 0);
      s.diagnosticsEntries = 0;
    }
    if (s.diagnosticsDoc == 0) {
      // The detail buffer belongs to the message being reported, not to this document.
      std::string detail;
      detail.swap(st.detail);
      GVDOC doc = 0;
      if (CSMgrLogCreate(LogKind::kDiagnostics, {}, 0, &doc, nullptr) == 0) s.diagnosticsDoc = doc;
      s.diagnosticsEntries = 0;
      st.detail.swap(detail);
    }
    if (s.diagnosticsDoc != 0) {
      std::string line = "\t";
      line += text;
      written = AppendBody(s.diagnosticsDoc, line);
      if (written) ++s.diagnosticsEntries;
    }
  }
  if (!written) CSMgrWriteBugFile(text);
  st.diagnosing = false;
}

void CSMgrPlexaFailure(uint32_t status) {
  if (Service().diagnostics == 0) return;
  char text[GV_ERROR_TEXT_SIZE] = {};
  uint32_t last = 0;
  GVErrorFetch(&last, nullptr, text);
  if (text[0] == '\0' || last != status) GVErrorGetInfo(status, 0, text);
  text[sizeof text - 1] = '\0';
  CSMgrDiagnostic(text);
}

void CSMgrServerLost() {
  LogState& st = State();
  if (st.serverLost || st.writing) return;
  st.serverLost = true;
  char text[GV_ERROR_TEXT_SIZE] = {};
  uint32_t last = 0;
  GVErrorFetch(&last, nullptr, text);
  if (text[0] == '\0' || last != GVERR_NO_SERVER) GVErrorGetInfo(GVERR_NO_SERVER, 0, text);
  text[sizeof text - 1] = '\0';
  // The detail buffer belongs to the message the caller is about to report.
  std::string detail;
  detail.swap(st.detail);
  st.naming = true;
  (void)CSMgrLogText(0, TWFAIL_CSMGR_ORDEX_SERVER,
                     CSMgrMessageText(TWFAIL_CSMGR_ORDEX_SERVER) + ": " + text);
  st.naming = false;
  st.detail.swap(detail);
}

void CSMgrServerAnswers() {
  State().serverLost = false;
}

void CSMgrInternalFault(const char* unit, int line) {
  const char* base = unit != nullptr ? std::strrchr(unit, '/') : nullptr;
  base = base != nullptr ? base + 1 : (unit != nullptr ? unit : "unknown");
  char text[512];
  std::snprintf(text, sizeof text, "%s(%d)\terror occured in module", base, line);
  CSMgrDiagnostic(text);
}

}  // namespace tw::csmgr
