// Initialise and terminate, properties, connect and disconnect, execute, actions, and the
// reporting every unit shares.
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "connection.h"
#include "ordex_messages.h"

extern "C" int ordex_load_string(uint32_t id, char* buffer, int size);

namespace ordex {

namespace {

const char* OrNull(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

}  // namespace

Connection::~Connection() {
  Terminate(0);
}

// ---------------------------------------------------------------- reporting -------------

uint32_t Connection::LogError(uint32_t plexaStatus) {
  char text[GV_ERROR_TEXT_SIZE] = "";
  uint32_t last = 0;
  GVErrorFetch(&last, nullptr, text);
  // The failure's own text names what was wrong where; the fixed text only what kind.
  if (last != plexaStatus || text[0] == '\0') GVErrorGetInfo(plexaStatus, 0, text);
  flowcore::StreamData s(TWSTREAMFMT_QMBCS);
  if (s.Set(TWSTREAMFMT_QMBCS, text) != TWSUCCESS) return TWFAIL_EXTERNAL;
  return TWActivityLogStream(0, s.get(), plexaStatus);
}

uint32_t Connection::LogOwn(bool informational, uint32_t id, std::string_view text) {
  char message[256] = "";
  ordex_load_string(id, message, sizeof message);
  flowcore::StreamData m(TWSTREAMFMT_QMBCS), a(TWSTREAMFMT_QMBCS);
  if (m.Set(TWSTREAMFMT_QMBCS, message) != TWSUCCESS || a.Set(TWSTREAMFMT_QMBCS, text) != TWSUCCESS)
    return informational ? TWSUCCESS : TWFAIL_EXTERNAL;
  return TWActivityLogStreamEx(informational ? TWLOGSTREAMF_EVENT : 0, m.get(), 0, 0, 0, 0,
                               a.get(), nullptr, nullptr);
}

uint32_t Connection::LogNamed(uint32_t status, std::string_view text) {
  flowcore::StreamData s(TWSTREAMFMT_QMBCS);
  if (s.Set(TWSTREAMFMT_QMBCS, text) != TWSUCCESS) return TWActivityLog(status);
  return TWActivityLogEx(status, 0, 0, 0, s.get(), nullptr, nullptr);
}

uint32_t Connection::MissingForm() {
  return LogNamed(TWFAIL_INVALID_METADATA, p.metadata);
}

// ---------------------------------------------------------------- life ------------------

uint32_t Connection::Initialize(uint32_t code, uint32_t /*flags*/) {
  connectCode = code;
  linkCode = code & TWMASK_LINK_CODE;
  tw::twx::ApplyDefaults(kProperties, p);
  // Every connection holds its own count of the process's session, so connections of one
  // process start and end in any order.
  const uint32_t status = _GVInit(GV_VERSION, 0, 0, 0);
  if (status != 0) return TWActivityLogStream(0, nullptr, status);
  started = true;
  GVSetProperty(GVPROP_SHARED, 1);
  GVSetProperty(GVPROP_BUSY_TIMEOUT, 100);
  select.kind = SlotKind::kSelect;
  select.mask = TWMERGEF_FETCH;
  insert.kind = SlotKind::kInsert;
  insert.mask = TWMERGEF_INSERT;
  updateKey.kind = SlotKind::kUpdate;
  updateKey.mask = TWMERGEF_UPDATE | TWMERGEF_KEY;
  updatePlace.kind = SlotKind::kUpdate;
  updatePlace.mask = TWMERGEF_UPDATE;
  updatePlace.table = &select;
  removeKey.kind = SlotKind::kRemove;
  removeKey.mask = TWMERGEF_REMOVE | TWMERGEF_KEY;
  return TWSUCCESS;
}

uint32_t Connection::Terminate(uint32_t /*flags*/) {
  if (db != 0) Disconnect(0);
  tw::twx::ReleaseProperties(kProperties, p);
  if (started) GVTerm(0);
  started = false;
  return TWSUCCESS;
}

// ---------------------------------------------------------------- properties ------------

uint32_t MetadataSet(Connection& c, bool /*assigned*/) {
  if (c.db != 0) c.LocateForm();
  return TWSUCCESS;
}

uint32_t EnforceFormSet(Connection& c, bool /*assigned*/) {
  if (c.db == 0) return TWSUCCESS;
  const uint32_t status = GVDatabaseSetProperty(c.db, GVDBPROP_FORM_CHECK, c.p.enforceForm ? 1 : 0);
  return status != 0 ? c.LogError(status) : TWSUCCESS;
}

uint32_t FilePathSet(Connection& c, bool /*assigned*/) {
  std::string& path = c.p.filePath;
  if (path.empty() || path.back() == '/') return TWSUCCESS;
  // Files are named behind the path: one that leaves no room for its "/" is refused.
  if (path.size() + 2 > static_cast<size_t>(kPathRoom)) {
    path.clear();
    return tw::twx::InvalidValue(kFilePath);
  }
  path += '/';
  return TWSUCCESS;
}

uint32_t ViewSet(Connection& c, bool /*assigned*/) {
  if (c.db != 0) c.viewId = c.p.view.empty() ? 0 : GVViewLocateByName(c.db, c.p.view.c_str());
  return TWSUCCESS;
}

uint32_t AgentSet(Connection& c, bool /*assigned*/) {
  if (c.db != 0) c.agentId = c.p.agent.empty() ? 0 : GVAgentLocateByName(c.db, c.p.agent.c_str());
  return TWSUCCESS;
}

uint32_t TextMaxLengthSet(Connection& c, bool /*assigned*/) {
  if (c.p.textMaxLength <= 0 || c.p.textMaxLength > 65535)
    c.p.textMaxLength = static_cast<int32_t>(kMaxItem);
  return TWSUCCESS;
}

uint32_t Connection::SetProperty(uint32_t token, TWFIELD src) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kSet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::SetProperty(*row, *this, p, src, TWSTREAMFMT_QMBCS);
}

uint32_t Connection::GetProperty(uint32_t token, TWFIELD dest) {
  const Row* row = tw::twx::FindProperty(kProperties, token, tw::twx::kGet);
  if (row == nullptr) return tw::twx::InvalidProperty(token);
  return tw::twx::GetProperty(*row, p, dest);
}

// ---------------------------------------------------------------- connect ---------------

void Connection::LocateForm() {
  formId = 0;
  formName.clear();
  if (p.metadata.empty() || db == 0) return;
  formId = GVFormLocateByName(db, p.metadata.c_str());
  if (formId == 0) return;
  GVFormDesign design{};
  formName = GVFormFetch(db, formId, &design) == 0 ? std::string(design.name) : p.metadata;
}

uint32_t Connection::Connect() {
  if (p.database.empty())
    return TWActivityLogEx(TWFAIL_MISSING_PROPERTY, TWTOKEN_DATABASE, 0, 0, nullptr, nullptr,
                           nullptr);
  if (db != 0) Disconnect(0);
  char server[GV_SERVER_NAME_SIZE] = "";
  if (!p.port.empty()) {
    const uint32_t status = GVServerSetPort(p.server.c_str(), p.port.c_str(), server);
    if (status != 0) return LogError(status);
  } else if (p.server.size() < sizeof server) {
    std::memcpy(server, p.server.c_str(), p.server.size() + 1);
  } else {
    return tw::twx::InvalidValue(TWTOKEN_SERVER);
  }
  uint32_t status = GVDatabaseOpen(server, p.database.c_str(), 0, &db);
  if (status == GVERR_NO_DATABASE && p.createDatabase) {
    status = GVDatabaseCreate(server, p.database.c_str(), nullptr, 0, OrNull(p.templateServer),
                              OrNull(p.templateDatabase), GVCREATE_DOCUMENTS,
                              p.templateDatabase.empty() ? 0 : 1);
    if (status == 0) {
      LogOwn(true, ORDEX_CREATED_DATABASE, p.database);
      status = GVDatabaseOpen(server, p.database.c_str(), 0, &db);
    }
  }
  if (status != 0) {
    db = 0;
    return LogError(status);
  }
  status = GVDatabaseSetProperty(db, GVDBPROP_FORM_CHECK, p.enforceForm ? 1 : 0);
  if (status != 0) {
    const uint32_t logged = LogError(status);
    GVDatabaseClose(db, 0);
    db = 0;
    return logged;
  }
  LocateForm();
  viewId = p.view.empty() ? 0 : GVViewLocateByName(db, p.view.c_str());
  agentId = p.agent.empty() ? 0 : GVAgentLocateByName(db, p.agent.c_str());
  if (p.filePath.empty()) {
    char cwd[kPathRoom];
    if (getcwd(cwd, sizeof cwd - 1) != nullptr) {
      p.filePath = cwd;
      if (p.filePath.back() != '/') p.filePath += '/';
    }
  }
  return TWSUCCESS;
}

uint32_t Connection::Disconnect(uint32_t /*errorFlag*/) {
  if (db == 0) return TWSUCCESS;
  CloseResult();
  insert.Forget();
  updateKey.Forget();
  updatePlace.Forget();
  removeKey.Forget();
  select.Forget();
  if (p.updateViews) {
    // Opening each view brings its index up to date for the next reader.
    GVINDEX index = 0;
    if (GVIndexOpen(db, &index) == 0) {
      GVDesignEntry entry{};
      for (uint32_t pos = GV_LIST_FIRST; GVViewList(db, pos, &entry) == 0; pos = GV_LIST_NEXT)
        GVIndexOpenView(index, 0, entry.id, 0);
      GVIndexClose(index);
    }
  }
  const uint32_t status = GVDatabaseClose(db, 0);
  db = 0;
  formId = viewId = agentId = 0;
  formName.clear();
  // A bulk store commits at the close: its failure is the work's.
  return status != 0 ? LogError(status) : TWSUCCESS;
}

// ---------------------------------------------------------------- results ---------------

uint32_t Connection::CloseWritten(GVDOC doc) {
  return GVDocumentClose(doc, p.bulkStore ? GVCLOSE_BULK : GVCLOSE_STORE);
}

void Connection::CloseResult() {
  if (r.index != 0) {
    if (r.doc != 0) {
      // A document whose writing failed is never stored.
      if (r.docSpoiled)
        GVDocumentClose(r.doc, GVCLOSE_DISCARD);
      else
        CloseWritten(r.doc);
    }
    GVIndexClose(r.index);
    if (r.tempView != 0) GVViewDelete(db, r.tempView);
    updatePlace.FreeMap();
  } else if (r.catalog != 0) {
    select.form = 0;
    select.formName.clear();
  }
  r = Result{};
  select.FreeMap();
}

bool Connection::OfForm(GVDOC doc) {
  if (p.enforceForm) {
    uint32_t form = 0;
    return GVDocumentGetProperty(doc, GVDOCPROP_FORM, &form) == 0 && form == formId;
  }
  char name[GV_DESIGN_NAME_SIZE] = "";
  uint32_t kind = GVTYPE_TEXT;
  if (GVItemFetch(doc, "Form", &kind, 0, sizeof name, name) != 0) return false;
  return strcasecmp(name, formName.c_str()) == 0;
}

// ---------------------------------------------------------------- execute ---------------

uint32_t Connection::Execute(const TWStream* statement, TWFIELDLIST dest, uint32_t* count) {
  CloseResult();
  select.form = formId;
  select.formName = formName;
  const bool formMissing = formId == 0 && !p.fetchViewData;
  if (!p.view.empty() && viewId == 0) return LogError(GVERR_NO_VIEW);
  if (!p.agent.empty() && agentId == 0) return LogError(GVERR_NO_AGENT);
  if (p.fetchViewData && !p.agent.empty())
    return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, kAgent, kFetchViewData, 0, nullptr, nullptr,
                           nullptr);
  if ((p.fetchViewData || p.viewResponses) && p.view.empty())
    return TWActivityLogEx(TWFAIL_PROPERTY_CONFLICT, p.fetchViewData ? kFetchViewData : kViewResponses,
                           kView, 0, nullptr, nullptr, nullptr);
  uint32_t status = GVIndexOpen(db, &r.index);
  if (status != 0) return LogError(status);
  r.view = viewId;
  r.fetchView = p.fetchViewData;
  r.responses = p.viewResponses;
  r.allForms = p.allForms;

  auto fail = [&](uint32_t st) {
    CloseResult();
    return st;
  };
  if (viewId != 0) {
    if (formMissing) return fail(MissingForm());
    status = GVIndexOpenView(r.index, 0, viewId, 0);
    if (status != 0) return fail(LogError(status));
  } else {
    std::string text;
    if (statement != nullptr && TWStreamDataGetLength(statement) != 0) {
      flowcore::StreamData converted(TWSTREAMFMT_QMBCS);
      status = TWStreamDataConvert(converted.get(), statement, 0, TWSTREAMFMT_QMBCS, nullptr,
                                   nullptr);
      if (status != TWSUCCESS) return fail(TWActivityLog(status));
      text.assign(converted.view());
    }
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    const bool isAgent = text.size() > at + 7 && strncasecmp(text.c_str() + at, "execute", 7) == 0 &&
                         std::isspace(static_cast<unsigned char>(text[at + 7]));
    if (isAgent) {
      at += 7;
      while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
      const std::string name = text.substr(at);
      const GVNOTEID agent = GVAgentLocateByName(db, name.c_str());
      if (agent == 0) return fail(LogError(GVERR_NO_AGENT));
      status = GVAgentExecute(db, agent, r.index, 0, 0);
      if (status != 0) return fail(LogError(status));
      GVAgentInfo info{};
      status = GVAgentFetch(db, agent, &info);
      if (status == GVERR_AGENT_NO_INFO) {
        info.kind = GVAGENT_ACTS;
        status = 0;
      }
      if (status != 0) return fail(LogError(status));
      // An agent that acts has done all there is to do.
      if (info.kind != GVAGENT_SELECTS) {
        CloseResult();
        return TWSUCCESS;
      }
      r.agentResult = true;
    } else {
      if (formMissing) return fail(MissingForm());
      status = GVIndexSearch(r.index, text.c_str() + at, p.allForms ? 0 : formId, 0);
      if (status != 0) return fail(LogError(status));
    }
  }
  if (agentId != 0) {
    status = GVAgentExecute(db, agentId, r.index, 0, 0);
    if (status != 0) return fail(LogError(status));
    r.agentResult = true;
  }
  if (!p.fullText.empty()) {
    status = GVIndexFTSearch(r.index, p.fullText.c_str(), GVFTS_REFINE, 0, nullptr);
    if (status != 0) return fail(LogError(status));
  }
  if (!p.executeDelete || GVIndexGetCount(r.index) == 0) {
    status = DescribeResult(dest, count);
    return status != TWSUCCESS ? fail(status) : TWSUCCESS;
  }
  status = ExecuteDelete();
  CloseResult();
  return status;
}

// Deletes what the result holds: only the located form's documents where the result may
// hold others.
uint32_t Connection::ExecuteDelete() {
  const bool viewInUse = r.view != 0;
  const bool walk = (viewInUse && !(r.allForms && r.responses)) || (r.agentResult && !r.allForms);
  if (!walk) {
    const uint32_t status = GVIndexDeleteAllEntries(r.index, 0);
    return status != 0 && status != GVERR_NO_ENTRY ? LogError(status) : TWSUCCESS;
  }
  const uint32_t direction = viewInUse && !r.responses ? GVNAV_NEXT_MAIN : GVNAV_NEXT;
  GVNOTEID note = 0;
  while (GVIndexNavigate(r.index, direction, GVNAVF_DOCUMENTS | GVNAVF_UNIQUE, &note, nullptr) == 0) {
    if (!r.allForms) {
      GVDOC doc = 0;
      uint32_t status = GVDocumentOpen(db, note, GVOPEN_READONLY, &doc);
      if (status != 0) return LogError(status);
      const bool mine = OfForm(doc);
      GVDocumentClose(doc, GVCLOSE_DISCARD);
      if (!mine) continue;
    }
    const uint32_t status = GVDocumentDelete(db, note, 0);
    if (status != 0 && status != GVERR_NO_ENTRY) return LogError(status);
  }
  return TWSUCCESS;
}

// ---------------------------------------------------------------- actions ---------------

uint32_t Connection::Action(uint32_t code) {
  if (code == TWACTION_RESET) {
    CloseResult();
    insert.Forget();
    updateKey.Forget();
    updatePlace.Forget();
    removeKey.Forget();
    return TWSUCCESS;
  }
  if (code != TWACTION_TRUNCATE) return TWFAIL_UNAVAILABLE;
  if (!p.view.empty() && viewId == 0) return LogError(GVERR_NO_VIEW);
  if (viewId == 0 && formId == 0) return MissingForm();
  GVINDEX index = 0;
  uint32_t status = GVIndexOpen(db, &index);
  if (status == 0)
    status = viewId != 0 ? GVIndexOpenView(index, 0, viewId, 0)
                         : GVIndexSearch(index, nullptr, formId, 0);
  if (status == 0 && GVIndexGetCount(index) != 0) status = GVIndexDeleteAllEntries(index, 0);
  if (index != 0) GVIndexClose(index);
  return status != 0 ? LogError(status) : TWSUCCESS;
}

}  // namespace ordex
