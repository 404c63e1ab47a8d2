// The control-store pipe server: the loop that accepts one request per connection on
// "TWCSMP", the dispatcher, and the handlers behind every request code. Requests are read
// with tw/coding.h at the offsets of csmgr_wire.h and never beyond their Length; a client
// that sends a malformed message is dropped and the service goes on.
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "csmgr.h"
#include "event.h"
#include "getparm.h"
#include "ipc.h"
#include "log.h"
#include "ordexio.h"
#include "putparm.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace tw::csmgr {

namespace {

namespace hdr = header;

std::atomic<TWIPC*> g_pipe{nullptr};

// The request block in the server's buffer: its first Length bytes.
class Request {
 public:
  explicit Request(std::vector<uint8_t>& buffer) : buf_(buffer) {}
  uint8_t* data() { return buf_.data(); }
  uint32_t length() const { return get_u32(buf_.data() + hdr::kLength); }
  bool Has(uint32_t offset, uint32_t width) const {
    return offset <= length() && width <= length() - offset;
  }
  int32_t I32(uint32_t offset) const { return get_i32(buf_.data() + offset); }
  void SetI32(uint32_t offset, int32_t v) { put_i32(buf_.data() + offset, v); }
  void SetStatus(uint32_t status) { put_u32(buf_.data() + hdr::kStatus, status); }
  // The NUL-terminated text at offset within at most room bytes and within Length; false
  // when it is not terminated there.
  bool Text(uint32_t offset, uint32_t room, std::string* out) const {
    if (offset >= length()) return false;
    const uint32_t span = std::min(room, length() - offset);
    const void* start = buf_.data() + offset;
    const void* nul = std::memchr(start, '\0', span);
    if (nul == nullptr) return false;
    out->assign(static_cast<const char*>(start),
                static_cast<size_t>(static_cast<const uint8_t*>(nul) - buf_.data() - offset));
    return true;
  }
  // Writes text and its NUL into a field of room bytes (cut to room - 1).
  void PutText(uint32_t offset, uint32_t room, std::string_view text) {
    const size_t n = std::min<size_t>(text.size(), room - 1);
    std::memcpy(buf_.data() + offset, text.data(), n);
    std::memset(buf_.data() + offset + n, 0, room - n);
  }
  std::vector<uint8_t>& buffer() { return buf_; }

 private:
  std::vector<uint8_t>& buf_;
};

[[nodiscard]] uint32_t ActivityMissing(std::string_view name) {
  CSMgrDetail(TWMSG_DETAIL_DATABASE, Service().adminTitle);
  CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name);
  return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
}

[[nodiscard]] uint32_t ActivityIdMissing(GVNOTEID id) {
  CSMgrDetail(TWMSG_DETAIL_DATABASE, Service().adminTitle);
  CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, static_cast<int64_t>(id));
  return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
}

[[nodiscard]] uint32_t ActivityItemMissing(std::string_view item) {
  CSMgrDetail(TWMSG_DETAIL_DATABASE, Service().adminTitle);
  CSMgrDetail(TWMSG_DETAIL_FIELD, item);
  return CSMgrReport(TWFAIL_ACTIVITY_ITEM);
}

// An activity document opened by id for one request, closed on every path.
class ActivityDoc {
 public:
  ~ActivityDoc() {
    if (doc_ != 0) OrdexCloseDocument(&doc_, keep_);
  }
  // Opens the document and reads its Name: 0, 797 or 798.
  uint32_t Open(GVNOTEID id, uint32_t flags) {
    if (id == 0 || (id & 1) != 0 || !OrdexOpenDocument(Service().adminDb, id, flags, &doc_))
      return ActivityIdMissing(id);
    if (!OrdexReadText(doc_, "Name", &name_)) return ActivityItemMissing("Name");
    return 0;
  }
  GVDOC get() const { return doc_; }
  void Keep() { keep_ = true; }

 private:
  GVDOC doc_ = 0;
  bool keep_ = false;
  std::string name_;
};

// Replaces a slot's open copy of its document by a fresh one (another process may have
// changed it since). 797 when the document is gone.
[[nodiscard]] uint32_t ReopenSlotDocument(CSMgrActivitySlot& slot) {
  if (slot.document != 0) OrdexCloseDocument(&slot.document, false);
  if (!OrdexOpenDocument(Service().adminDb, slot.documentId, 0, &slot.document)) {
    slot.document = 0;
    return ActivityIdMissing(slot.documentId);
  }
  return 0;
}

// Resolves handle for writing. *doc is the document to change, 0 with status 0 when the
// slot may lack its document (nothing to do). An id's document is held by owner.
[[nodiscard]] uint32_t ResolveForWriting(int32_t handle, ActivityDoc& owner, GVDOC* doc) {
  *doc = 0;
  if (handle & 1) {
    CSMgrActivitySlot* slot = CSMgrSlotFind(handle);
    if (slot == nullptr) return ActivityIdMissing(static_cast<GVNOTEID>(handle));
    if (slot->flags & kSlotMayBeMissing) return 0;
    if (!slot->HasDocument()) return ActivityItemMissing(slot->name);
    if (uint32_t st = ReopenSlotDocument(*slot)) return st;
    *doc = slot->document;
    return 0;
  }
  if (uint32_t st = owner.Open(static_cast<GVNOTEID>(handle), 0)) return st;
  *doc = owner.get();
  return 0;
}

// ------------------------------------------------------------------------ handlers ---

[[nodiscard]] uint32_t HandleServerInit(Request& r) {
  namespace si = server_init;
  ServiceState& s = Service();
  // A reread that fails has reported why; the reply carries the settings as they stand.
  if (r.I32(si::kReread) != 0) (void)CSMgrReadConfig();
  const ServerSettings& set = s.settings;
  r.SetI32(si::kServerId, static_cast<int32_t>(s.serverId));
  r.SetI32(si::kStatusInterval, set.statusInterval);
  r.SetI32(si::kPollInterval, set.pollInterval);
  r.SetI32(si::kMaxDuration, set.maxDuration);
  r.SetI32(si::kMaxActivities, set.maxActivities);
  r.SetI32(si::kCloseTimeout, set.closeTimeout);
  r.SetI32(si::kTranslate, set.translate);
  const GVTIMEDATE now = CSMgrNow();
  put_u32(r.data() + si::kTime, now.ticks);
  put_u32(r.data() + si::kTime + 4, now.date);
  r.PutText(si::kServerName, kTextField, s.serverName);
  std::memcpy(r.data() + si::kIntl, s.intl.data(), s.intl.size());
  return 0;
}

[[nodiscard]] uint32_t HandleServerState(Request& r) {
  ServiceState& s = Service();
  const int32_t state = r.I32(server_state::kState);
  if (state != CSMGR_STATE_DOWN && state != CSMGR_STATE_ALIVE && state != CSMGR_STATE_STARTING)
    return TWFAIL_CSMGR_ARGUMENT;
  if (state == CSMGR_STATE_STARTING) return CSMgrServerStarting();
  if (s.serverId == 0) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, s.serverName);
    return CSMgrReport(TWFAIL_NO_CONFIG_DOC);
  }
  if (state == CSMGR_STATE_DOWN) {
    const uint32_t st = CSMgrServerStop(s.serverId, true);
    s.serverId = 0;
    s.serverAttached = false;
    return st;
  }
  const uint32_t st = CSMgrServerAlive();
  const uint32_t reread = CSMgrReadConfig();
  return st != 0 ? st : reread;
}

[[nodiscard]] uint32_t HandleNextActivity(Request& r) {
  namespace na = next_activity;
  // A run whose runner outlived an earlier life of this server has its activity locked until
  // the runner ends: noticed here, so that the activity is due again at once. The clean-up
  // reports its own failures; the poll goes on.
  (void)CSMgrReleaseGoneHolders();
  CSMgrActivitySlot* slot = CSMgrSlotTake();
  r.SetI32(na::kHandle, 0);
  if (slot == nullptr) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  NextEventReply reply;
  const uint32_t st = CSMgrNextEvent(*slot, &reply);
  if (st != 0 || !reply.taken) {
    CSMgrSlotFree(slot);
    return st;
  }
  r.SetI32(na::kHandle, slot->handle);
  r.SetI32(na::kMaxDuration, reply.max_duration);
  r.SetI32(na::kPriority, reply.priority);
  put_u32(r.data() + na::kTime, reply.now.ticks);
  put_u32(r.data() + na::kTime + 4, reply.now.date);
  r.PutText(na::kName, kTextField, slot->name);
  return 0;
}

[[nodiscard]] uint32_t HandleDoneActivity(Request& r) {
  const int32_t handle = r.I32(done_activity::kHandle);
  CSMgrActivitySlot* slot = CSMgrSlotFind(handle);
  if (slot == nullptr) return ActivityIdMissing(static_cast<GVNOTEID>(handle));
  if (slot->HasDocument()) {
    if (uint32_t st = ReopenSlotDocument(*slot)) {
      // The run is over either way: its slot must not stay taken.
      CSMgrSlotFree(slot);
      return st;
    }
  }
  return CSMgrEventDone(*slot, r.I32(done_activity::kCompletion));
}

// The document id that a handle or id names for RunActivity and DoneRun (0 when none).
GVNOTEID HandleToId(int32_t handle, CSMgrActivitySlot** slotOut) {
  *slotOut = nullptr;
  if (handle & 1) {
    CSMgrActivitySlot* slot = CSMgrSlotFind(handle);
    *slotOut = slot;
    return slot != nullptr && slot->HasDocument() ? slot->documentId : 0;
  }
  return static_cast<GVNOTEID>(handle);
}

[[nodiscard]] uint32_t HandleRunActivity(Request& r) {
  namespace ra = run_activity;
  const uint32_t length = r.length() - ra::kNames;
  const uint8_t* names = r.data() + ra::kNames;
  if (get_u16(names) == 0) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  if (GVTextListGetCount(names, length) == 0) return CSMgrReport(TWFAIL_API);
  CSMgrActivitySlot* slot = nullptr;
  const GVNOTEID waiter = HandleToId(r.I32(ra::kWaiter), &slot);
  return CSMgrRunActivities(waiter, names, length);
}

[[nodiscard]] uint32_t HandleDoneRun(Request& r) {
  const int32_t handle = r.I32(done_run::kHandle);
  CSMgrActivitySlot* slot = nullptr;
  const GVNOTEID id = HandleToId(handle, &slot);
  if (id == 0) {
    if (slot != nullptr) {
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot->name);
      return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
    }
    return ActivityIdMissing(static_cast<GVNOTEID>(handle & 1 ? handle : 0));
  }
  bool finished = false;
  const uint32_t st = CSMgrDoneRun(id, &finished);
  if (st == 0 && finished) r.SetI32(done_run::kHandle, 0);
  return st;
}

[[nodiscard]] uint32_t HandleGetDescription(Request& r) {
  const int32_t handle = r.I32(get_description::kHandle);
  std::vector<uint8_t>& block = r.buffer();
  if (handle & 1) {
    CSMgrActivitySlot* slot = CSMgrSlotFind(handle);
    if (slot == nullptr) return ActivityIdMissing(static_cast<GVNOTEID>(handle));
    if (slot->document != 0) {
      if (uint32_t st = CSMgrRecordRunner(*slot)) return st;
      return CSMgrGetParms(slot->document, block);
    }
    if (slot->flags & kSlotMayBeMissing) {
      // Nothing to describe: an empty list.
      std::memset(block.data() + get_description::kList, 0, record::kEndSize);
      return 0;
    }
    return ActivityItemMissing(slot->name);
  }
  ActivityDoc doc;
  if (uint32_t st = doc.Open(static_cast<GVNOTEID>(handle), kOpenLookOnly)) {
    std::memset(block.data() + get_description::kList, 0, record::kEndSize);
    return st;
  }
  return CSMgrGetParms(doc.get(), block);
}

[[nodiscard]] uint32_t HandlePutDescription(Request& r) {
  namespace pd = put_description;
  ActivityDoc owner;
  GVDOC doc = 0;
  if (uint32_t st = ResolveForWriting(r.I32(pd::kHandle), owner, &doc)) return st;
  if (doc == 0) return 0;
  const std::string_view records(reinterpret_cast<const char*>(r.data() + pd::kList),
                                 r.length() - pd::kList);
  const uint32_t st = CSMgrPutParms(doc, records);
  if (!OrdexSaveDocument(doc) && st == 0) return CSMgrReport(TWFAIL_API);
  return st;
}

constexpr const char* kIdViews[] = {"(CS_Administrators)", "(CS_Servers)", "(CS_Activities)",
                                    "(CS_Links)", "(CS_Options)"};
constexpr uint32_t kIdMissing[] = {TWFAIL_ADMIN_DB, TWFAIL_NO_CONFIG_DOC, TWFAIL_NO_ACTIVITY_DOC,
                                   TWFAIL_NO_LINK_DOC, TWFAIL_NO_OPTIONS_DOC};

[[nodiscard]] uint32_t HandleGetID(Request& r) {
  namespace gi = get_id;
  ServiceState& s = Service();
  const int32_t kind = r.I32(gi::kKind);
  std::string name;
  if (kind < 1 || kind > 5) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  if (!r.Text(gi::kName, r.length(), &name)) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  const GVNOTEID views[] = {s.admin.administrators, s.admin.servers, s.admin.activities,
                            s.admin.links, s.admin.options};
  const GVNOTEID id = OrdexFirstIdOfKey(s.adminDb, views[kind - 1], kIdViews[kind - 1], name);
  if (id == 0) {
    CSMgrDetail(TWMSG_DETAIL_DATABASE, s.adminTitle);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name);
    return CSMgrReport(kIdMissing[kind - 1]);
  }
  r.SetI32(gi::kDocumentId, static_cast<int32_t>(id));
  return 0;
}

[[nodiscard]] uint32_t HandleLog(Request& r) {
  namespace lr = log_request;
  const int32_t mode = r.I32(lr::kMode);
  const int32_t handle = r.I32(lr::kHandle);
  uint32_t status = 0;
  CSMgrActivitySlot blank;
  CSMgrActivitySlot* slot = &blank;
  if (handle != 0) {
    slot = CSMgrSlotFind(handle);
    if (slot == nullptr) {
      status = ActivityIdMissing(static_cast<GVNOTEID>(handle));
      slot = &blank;
    }
  }
  if (mode != static_cast<int32_t>(lr::kModeText) && mode != static_cast<int32_t>(lr::kModeCounts))
    return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  if (slot->flags & kSlotLogOff) return status;
  if (mode == static_cast<int32_t>(lr::kModeText)) {
    std::string text;
    if (!r.Has(lr::kMessageId, 4) || !r.Text(lr::kText, r.length(), &text))
      return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
    const int32_t id = r.I32(lr::kMessageId);
    if (id != slot->lastMessage || id == 0) {
      CSMgrLogText(slot->logDocument, static_cast<uint32_t>(id), text);
      if (((static_cast<uint32_t>(id) >> 8) & 0xFF) == 3) slot->lastMessage = id;
    }
    return status;
  }
  int32_t counts[CSMGR_LOG_COUNTS];
  for (uint32_t i = 0; i < CSMGR_LOG_COUNTS; ++i) counts[i] = r.I32(lr::kCounts + 4 * i);
  if (slot->logDocument == 0) {
    CSMgrDetail(TWMSG_DETAIL_FIELD, "CountList");
    const uint32_t st = CSMgrReport(TWFAIL_LOG_ITEM);
    return status != 0 ? status : st;
  }
  const uint32_t st = CSMgrLogCounts(slot->logDocument, counts, CSMGR_LOG_COUNTS);
  return status != 0 ? status : st;
}

[[nodiscard]] uint32_t HandleTime(Request& r) {
  const GVTIMEDATE now = CSMgrNow();
  put_u32(r.data() + time_request::kTime, now.ticks);
  put_u32(r.data() + time_request::kTime + 4, now.date);
  return 0;
}

[[nodiscard]] uint32_t HandleAdjustClock(Request& r) {
  namespace ac = adjust_clock;
  GVTIMEADJUST next = Service().clockOffset;
  int32_t* parts[] = {&next.years, &next.months,  &next.days,    nullptr,
                      &next.hours, &next.minutes, &next.seconds, &next.hundredths};
  for (uint32_t i = 0; i < ac::kWords; ++i) {
    if (parts[i] == nullptr) continue;
    // An offset that no longer fits its word would wrap: refused, the clock unchanged.
    const int64_t sum = int64_t{*parts[i]} + r.I32(ac::kAdjustment + 4 * i);
    if (sum < INT32_MIN || sum > INT32_MAX) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
    *parts[i] = static_cast<int32_t>(sum);
  }
  Service().clockOffset = next;
  return 0;
}

[[nodiscard]] uint32_t HandleGetField(Request& r) {
  namespace gf = get_field;
  const int32_t handle = r.I32(gf::kHandle);
  std::string item;
  if (!r.Text(gf::kItemName, kTextField, &item)) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  GVDOC doc = 0;
  ActivityDoc owner;
  if (handle & 1) {
    CSMgrActivitySlot* slot = CSMgrSlotFind(handle);
    if (slot == nullptr) return ActivityIdMissing(static_cast<GVNOTEID>(handle));
    // A success must carry a terminated value: the request's own bytes there may be anything.
    if (slot->flags & kSlotMayBeMissing) {
      r.data()[gf::kValue] = 0;
      return 0;
    }
    if (slot->document == 0) return ActivityIdMissing(slot->documentId);
    doc = slot->document;
  } else {
    if (uint32_t st = owner.Open(static_cast<GVNOTEID>(handle), kOpenLookOnly)) return st;
    doc = owner.get();
  }
  std::string value;
  if (!OrdexReadText(doc, item.c_str(), &value)) return ActivityItemMissing(item);
  // The whole value comes back: a block too short for it grows to fit.
  if (value.size() > kMaxMessage - gf::GrownLength(0)) return CSMgrReport(TWFAIL_API);
  const uint32_t need = gf::kValue + static_cast<uint32_t>(value.size()) + 1;
  if (need > r.length()) {
    const uint32_t grown = gf::GrownLength(static_cast<uint32_t>(value.size()));
    std::vector<uint8_t>& block = r.buffer();
    if (block.size() < grown) block.resize(grown);
    std::memset(block.data() + r.length(), 0, grown - r.length());
    put_u32(block.data() + hdr::kLength, grown);
  }
  std::memcpy(r.data() + gf::kValue, value.data(), value.size());
  r.data()[gf::kValue + value.size()] = 0;
  return 0;
}

[[nodiscard]] uint32_t HandlePutField(Request& r) {
  namespace pf = put_field;
  std::string item, value;
  if (!r.Text(pf::kItemName, kTextField, &item) || item.empty() ||
      !r.Text(pf::kValue, r.length(), &value))
    return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  ActivityDoc owner;
  GVDOC doc = 0;
  if (uint32_t st = ResolveForWriting(r.I32(pf::kHandle), owner, &doc)) return st;
  if (doc == 0) return 0;
  if (!OrdexWriteText(doc, item.c_str(), value)) return ActivityItemMissing(item);
  if (!OrdexSaveDocument(doc)) return ActivityItemMissing(item);
  return 0;
}

[[nodiscard]] uint32_t HandleOpenActivity(Request& r) {
  namespace oa = open_activity;
  ServiceState& s = Service();
  std::string name;
  r.SetI32(oa::kHandle, 0);
  if (!r.Text(oa::kName, std::min(r.length(), kTextField), &name))
    return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  CSMgrActivitySlot* slot = CSMgrSlotTake();
  if (slot == nullptr) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  slot->flags = (static_cast<uint32_t>(r.I32(oa::kFlags)) & kSlotMayBeMissing) | kSlotByName;
  slot->name = name;
  const GVNOTEID id = OrdexFirstIdOfKey(s.adminDb, s.admin.activities, "(CS_Activities)", name);
  if (id == 0) {
    if (!(slot->flags & kSlotMayBeMissing)) {
      CSMgrSlotFree(slot);
      return ActivityMissing(name);
    }
  } else {
    slot->flags &= ~kSlotMayBeMissing;
    if (!OrdexOpenDocument(s.adminDb, id, 0, &slot->document)) {
      slot->document = 0;
      CSMgrSlotFree(slot);
      return ActivityMissing(name);
    }
    slot->documentId = id;
    // Two runs of one activity at once would both write its destination.
    if (uint32_t st = CSMgrLockByName(*slot)) {
      CSMgrSlotFree(slot);
      return st;
    }
    // A run whose log cannot be opened still runs; the failure has been reported.
    (void)CSMgrLogStart(*slot);
  }
  r.SetI32(oa::kHandle, slot->handle);
  return 0;
}

// The least Length a request of code must have to be handled.
uint32_t NeededLength(uint32_t code, const Request& r) {
  if (code == code::kLog && r.Has(log_request::kMode, 4) &&
      r.I32(log_request::kMode) == static_cast<int32_t>(log_request::kModeText))
    return log_request::kTextMinLength;
  return MinLength(code);
}

[[nodiscard]] uint32_t RunHandler(uint32_t code, Request& r) {
  if (r.length() < NeededLength(code, r)) return CSMgrReport(TWFAIL_CSMGR_ARGUMENT);
  switch (code) {
    case code::kShutdown:
      CSMgrServerClose();
      return 0;
    case code::kInit:
    case code::kTerm:
      return 0;
    case code::kServerInit:
      return HandleServerInit(r);
    case code::kServerState:
      return HandleServerState(r);
    case code::kNextActivity:
      return HandleNextActivity(r);
    case code::kDoneActivity:
      return HandleDoneActivity(r);
    case code::kRunActivity:
      return HandleRunActivity(r);
    case code::kDoneRun:
      return HandleDoneRun(r);
    case code::kGetDescription:
      return HandleGetDescription(r);
    case code::kPutDescription:
      return HandlePutDescription(r);
    case code::kGetID:
      return HandleGetID(r);
    case code::kLog:
      return HandleLog(r);
    case code::kTime:
      return HandleTime(r);
    case code::kAdjustClock:
      return HandleAdjustClock(r);
    case code::kGetField:
      return HandleGetField(r);
    case code::kPutField:
      return HandlePutField(r);
    case code::kOpenActivity:
      return HandleOpenActivity(r);
    case code::kFileField:
      return TWFAIL_PROGRAM;
    default:
      return 0;
  }
}

void SignalHandler(int signalNumber) {
  TWIPCShutdown(g_pipe.exchange(nullptr), kPipeName);
  std::fprintf(stderr, "%s terminating because of signal %d\n", "ctlstore", signalNumber);
  std::fflush(stderr);
  // The serving thread may be inside a request: leave without running destructors under it.
  std::_Exit(1);
}

bool Tracing() {
  return (Service().diagnostics & kDiagTrace) != 0;
}

std::string TraceName(uint32_t code) {
  const std::string_view name = CodeName(code);
  return name.empty() ? "code " + std::to_string(static_cast<int32_t>(code)) : std::string(name);
}

// Reads one whole message into buffer (growing it in steps). 0 bytes, a failed read or a
// failed growth: false.
bool ReadMessage(TWIPC* conn, std::vector<uint8_t>& buffer, uint32_t* total) {
  uint32_t got = 0;
  for (;;) {
    uint32_t n = 0;
    int more = 0;
    if (!TWIPCRead(conn, buffer.data() + got, static_cast<uint32_t>(buffer.size()) - got, &n,
                   &more))
      return false;
    got += n;
    if (!more) break;
    if (got == buffer.size()) {
      // The pipe refuses messages above kMaxMessage, so the buffer stays bounded.
      if (buffer.size() > kMaxMessage) return false;
      buffer.resize(buffer.size() + kServerBufferStep);
    }
  }
  *total = got;
  return true;
}

// ------------------------------------------------------------------------ the loop ---
//
// Every accepted connection is read by a thread of its own, which hands its request to the
// serving thread only once the request is whole, and writes the reply back. A client that
// connects and stays silent, sends half a request or reads its reply slowly costs only its
// own thread (the pipe drops it after its time-out); the requests themselves are handled one
// after another on the serving thread, the only one that touches the service state or the
// databases.

// Connections read at once; the next client waits in the pipe's backlog until one ends.
constexpr size_t kMaxConnections = 256;

// Whether requests are traced; the serving thread keeps it current for the others.
std::atomic<bool> g_tracing{false};

// One accepted connection between its threads. Guarded by the hub's mutex.
struct Conn {
  TWIPC* ipc = nullptr;
  std::vector<uint8_t> reply;
  bool replied = false;    // reply holds the block to send
  bool cancelled = false;  // the service ends without handling the request
};

struct Job {
  enum class Kind { kRequest, kReport, kAcceptFailed };
  Kind kind = Kind::kRequest;
  std::vector<uint8_t> block;  // the request, its first Length bytes
  int peer = 0;                // the client's process id (0: unknown)
  uint32_t report = 0;         // kReport: the message to report
  std::shared_ptr<Conn> conn;  // waits for the reply; null when none is sent
};

struct Hub {
  std::mutex mu;
  std::condition_variable work;     // a job arrived
  std::condition_variable changed;  // a reply, a thread ended, the service stops
  std::deque<Job> jobs;
  std::set<std::shared_ptr<Conn>> reading;  // requests not read whole yet
  size_t threads = 0;                       // connection threads alive
  bool stopping = false;
};

void Post(Hub& hub, Job job) {
  hub.jobs.push_back(std::move(job));
  hub.work.notify_one();
}

void Report(Hub& hub, uint32_t id) {
  std::lock_guard<std::mutex> lock(hub.mu);
  if (hub.stopping) return;
  Job job;
  job.kind = Job::Kind::kReport;
  job.report = id;
  Post(hub, std::move(job));
}

// Reads one request, has it handled and sends the reply (an asynchronous request is
// acknowledged before it is handled); the connection is ended on every path.
void ReadAndAnswer(Hub& hub, const std::shared_ptr<Conn>& conn) {
  TWIPC* ipc = conn->ipc;
  std::vector<uint8_t> buffer(kServerBufferStep);
  uint32_t got = 0;
  const bool read = ReadMessage(ipc, buffer, &got);
  {
    std::lock_guard<std::mutex> lock(hub.mu);
    hub.reading.erase(conn);
    if (hub.stopping) return;
  }
  // A malformed message costs its client the connection, never the service.
  if (!read || got < hdr::kSize || get_u32(buffer.data() + hdr::kLength) != got ||
      get_i32(buffer.data() + hdr::kCode) < 0) {
    if (!read || got == 0) Report(hub, TWFAIL_CSMGR_RECEIVE | kLogOnly);
    return;
  }
  const uint32_t code = get_u32(buffer.data() + hdr::kCode);
  const bool async = (get_u32(buffer.data() + hdr::kFlags) & CSMGR_ASYNC) != 0;
  Job job;
  job.block = std::move(buffer);
  job.peer = IpcPeerProcessId(ipc);
  if (!async) job.conn = conn;
  std::unique_lock<std::mutex> lock(hub.mu);
  if (hub.stopping) return;
  Post(hub, std::move(job));
  if (async) {
    // Queued before the client hears of it, so that its next request comes after it; the
    // acknowledgement does not wait for the handling.
    lock.unlock();
    uint8_t ack[hdr::kSize] = {};
    put_u32(ack + hdr::kLength, hdr::kSize);
    uint32_t written = 0;
    TWIPCWrite(ipc, ack, hdr::kSize, &written);
    TWIPCFlush(ipc);
    return;
  }
  hub.changed.wait(lock, [&] { return conn->replied || conn->cancelled; });
  if (!conn->replied) return;
  std::vector<uint8_t> reply = std::move(conn->reply);
  lock.unlock();
  const uint32_t length = get_u32(reply.data() + hdr::kLength);
  uint32_t written = 0;
  const bool ok = TWIPCWrite(ipc, reply.data(), length, &written) && written == length;
  if (g_tracing.load())
    std::printf("CSMgr Server:  sent     %24s,  %6d bytes\n", TraceName(code).c_str(),
                static_cast<int>(written));
  // A client that went away before its reply costs only its own request.
  if (!ok) Report(hub, TWFAIL_CSMGR_RECEIVE | kLogOnly);
  TWIPCFlush(ipc);
}

void ServeConnection(std::shared_ptr<Hub> hub, std::shared_ptr<Conn> conn) {
  static_cast<void>(tw::guard([&] {
    ReadAndAnswer(*hub, conn);
    return 0u;
  }));
  TWIPCDisconnect(conn->ipc);
  std::lock_guard<std::mutex> lock(hub->mu);
  --hub->threads;
  hub->changed.notify_all();
}

// The accepting thread: a connection thread for each client, until the pipe is shut down.
void AcceptConnections(std::shared_ptr<Hub> hub, TWIPC* pipe) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(hub->mu);
      hub->changed.wait(lock, [&] { return hub->stopping || hub->threads < kMaxConnections; });
      if (hub->stopping) return;
    }
    if (g_tracing.load()) {
      std::printf("\nCSMgr Server:\tAwaiting connection to pipe with %d buffer\n",
                  static_cast<int>(kServerBufferStep));
      std::fflush(stdout);
    }
    TWIPC* ipc = TWIPCWaitForConnection(pipe);
    std::lock_guard<std::mutex> lock(hub->mu);
    if (ipc == nullptr || hub->stopping) {
      if (ipc != nullptr) TWIPCDisconnect(ipc);
      if (!hub->stopping) {
        Job job;
        job.kind = Job::Kind::kAcceptFailed;
        Post(*hub, std::move(job));
      }
      return;
    }
    auto conn = std::make_shared<Conn>();
    conn->ipc = ipc;
    try {
      std::thread(ServeConnection, hub, conn).detach();
    } catch (const std::system_error&) {
      // No thread for it: this client is dropped, the others go on.
      TWIPCDisconnect(ipc);
      continue;
    }
    ++hub->threads;
    hub->reading.insert(conn);
  }
}

// The serving thread: handles the requests in the order they became whole until Shutdown
// has been handled or the pipe failed; the exit code.
int ServeRequests(Hub& hub) {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(hub.mu);
      hub.work.wait(lock, [&] { return !hub.jobs.empty(); });
      job = std::move(hub.jobs.front());
      hub.jobs.pop_front();
    }
    if (job.kind == Job::Kind::kAcceptFailed) {
      CSMgrReport(TWFAIL_CSMGR_RECEIVE);
      return 1;
    }
    if (job.kind == Job::Kind::kReport) {
      CSMgrReport(job.report);
      continue;
    }
    const uint32_t code = get_u32(job.block.data() + hdr::kCode);
    if (Tracing())
      std::printf("CSMgr Server:  received %24s,  %6d bytes\n", TraceName(code).c_str(),
                  static_cast<int>(get_u32(job.block.data() + hdr::kLength)));
    Service().requesterProcess = job.peer;
    CSMgrDispatch(job.block);
    Service().requesterProcess = 0;
    if (job.conn == nullptr && Tracing())
      std::printf("CSMgr Server:  sent     %24s,  asynchronous\n", TraceName(code).c_str());
    if (Tracing()) std::fflush(stdout);
    g_tracing.store(Tracing());
    if (job.conn != nullptr) {
      std::lock_guard<std::mutex> lock(hub.mu);
      job.conn->reply = std::move(job.block);
      job.conn->replied = true;
      hub.changed.notify_all();
    }
    if (code == code::kShutdown) return 0;
  }
}

}  // namespace

void CSMgrDispatch(std::vector<uint8_t>& block) {
  Request r(block);
  const uint32_t code = get_u32(block.data() + hdr::kCode);
  ServiceState& s = Service();
  if (s.startupFailure != 0) {
    r.SetStatus(s.startupFailure);
    return;
  }
  if (code == code::kValidMsg || code >= code::kCount) return;
  if (!s.initialised) {
    r.SetStatus(TWFAIL_CSMGR_NOT_INIT);
    return;
  }
  // A lost server seen by an earlier request must not be taken for the cause of this one's.
  GVSetProperty(GVPROP_CLEAR_ERROR, 0);
  r.SetStatus(RunHandler(code, r));
  CSMgrClearDetail();
}

int CSMgrServerMain(const char* programPath) {
  ResetService();
  Service().platformFailure = TWPlatInit(programPath);
  TWProcSigHndlrSet(SignalHandler);

  if (TWIPCExists(kPipeName, 90)) {
    CSMgrReport(TWFAIL_CSMGR_EXISTS);
    return 0;
  }
  TWIPC* pipe = TWIPCCreate(kPipeName);
  if (pipe == nullptr) {
    CSMgrReport(TWFAIL_CSMGR_PIPE_CREATE);
    return 1;
  }
  g_pipe.store(pipe);

  // A failure is kept as the start-up failure, which every request then answers.
  (void)CSMgrServerOpen();
  g_tracing.store(Tracing());

  auto hub = std::make_shared<Hub>();
  std::thread acceptor;
  try {
    acceptor = std::thread(AcceptConnections, hub, pipe);
  } catch (const std::system_error&) {
    CSMgrReport(TWFAIL_CSMGR_RECEIVE);
    if (Service().initialised) CSMgrServerClose();
    TWIPCShutdown(g_pipe.exchange(nullptr), kPipeName);
    TWPlatTerm();
    return 1;
  }

  const int exitCode = ServeRequests(*hub);

  // No new connection, no request left half read; replies already made are still sent.
  {
    std::lock_guard<std::mutex> lock(hub->mu);
    hub->stopping = true;
    hub->changed.notify_all();  // an acceptor waiting for room
  }
  TWIPCShutdown(g_pipe.exchange(nullptr), kPipeName);
  acceptor.join();
  {
    std::unique_lock<std::mutex> lock(hub->mu);
    for (Job& job : hub->jobs)
      if (job.conn) job.conn->cancelled = true;
    hub->jobs.clear();
    for (const std::shared_ptr<Conn>& c : hub->reading) TWIPCDisconnect(c->ipc);
    hub->changed.notify_all();
    hub->changed.wait(lock, [&] { return hub->threads == 0; });
  }
  if (Service().initialised) CSMgrServerClose();
  TWPlatTerm();
  return exitCode;
}

}  // namespace tw::csmgr
