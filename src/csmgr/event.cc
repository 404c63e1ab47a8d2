// Activity scheduling against the Administrator database: taking the next due activity,
// re-queuing, storing schedules, the end of a run, starting activities by name and waits.
#include "event.h"

#include <algorithm>
#include <string>
#include <vector>

#include "ipc.h"
#include "log.h"
#include "ordexio.h"

namespace tw::csmgr {

namespace {

constexpr uint32_t kAlreadyRunning = TWFAIL_ACTIVITY_RUNNING;

// The holder of a Lock taken by a run by name: the process mark of the runner. Absent for
// a Lock that a scheduled take holds.
constexpr char kHolderItem[] = "LockHolder";
// The runner of a scheduled run: the process mark of the runner that asked for the
// activity's description. A server killed under a run that goes on leaves the Lock to it
// until that process has ended.
constexpr char kRunnerItem[] = "LockRunner";
// Conditional stores of a run by name's Lock that may find the document stored meanwhile.
constexpr int kLockAttempts = 20;

constexpr char kQueuedView[] = "(CS_Queued Events)";
constexpr char kSyncView[] = "(CS_Sync Dependents)";
constexpr char kActiveView[] = "(CS_Active Events)";
constexpr char kActivitiesView[] = "(CS_Activities)";

[[nodiscard]] uint32_t ItemFailure(const char* item) {
  CSMgrDetail(TWMSG_DETAIL_FIELD, item);
  return CSMgrReport(TWFAIL_ACTIVITY_ITEM);
}

// An index over a view that is not kept open between requests.
class ScopedIndex {
 public:
  ScopedIndex(const char* view) : view_(view) {
    const GVNOTEID id = OrdexLocateView(Service().adminDb, view);
    if (!id) {
      status_ = OrdexServerLost() ? TWFAIL_ADMIN_ACCESS : TWFAIL_ADMIN_ITEM;
    } else if (!OrdexOpenIndex(Service().adminDb, id, view, &index_)) {
      status_ = TWFAIL_ADMIN_ACCESS;
    }
    if (status_) {
      CSMgrDetail(TWMSG_DETAIL_VIEW, view);
      CSMgrReport(status_);
    }
  }
  ~ScopedIndex() { OrdexCloseIndex(&index_); }
  ScopedIndex(const ScopedIndex&) = delete;
  ScopedIndex& operator=(const ScopedIndex&) = delete;
  uint32_t status() const { return status_; }
  GVINDEX get() const { return index_; }
  GVINDEX& index() { return index_; }  // to keep it open beyond the scope
  const char* view() const { return view_; }

 private:
  const char* view_;
  GVINDEX index_ = 0;
  uint32_t status_ = 0;
};

// An activity document closed on every path (with its changes unless Discard was called).
class ScopedDoc {
 public:
  ScopedDoc() = default;
  ~ScopedDoc() { Close(); }
  ScopedDoc(const ScopedDoc&) = delete;
  ScopedDoc& operator=(const ScopedDoc&) = delete;
  bool Open(GVNOTEID id, uint32_t flags = 0) {
    Close();
    return OrdexOpenDocument(Service().adminDb, id, flags, &doc_);
  }
  bool Close(bool keep = true) { return doc_ ? OrdexCloseDocument(&doc_, keep) : true; }
  GVDOC get() const { return doc_; }

 private:
  GVDOC doc_ = 0;
};

std::optional<LocalTime> ReadTime(GVDOC doc, const char* item) {
  GVTIMEDATE v{};
  if (!OrdexItemPresent(doc, item)) return std::nullopt;
  if (!OrdexReadDatetime(doc, item, &v)) return std::nullopt;
  return FromTimedate(v, Zone::System());
}

std::optional<int32_t> ReadNumber(GVDOC doc, const char* item) {
  int32_t v = 0;
  if (!OrdexReadNumber(doc, item, &v)) return std::nullopt;
  return v;
}

Windows ReadWindows(GVDOC doc) {
  QuietReports quiet;
  Windows w;
  std::vector<GVTIMEDATE> singles;
  std::vector<std::pair<GVTIMEDATE, GVTIMEDATE>> ranges;
  if (OrdexItemPresent(doc, "ActiveTimes") &&
      OrdexReadDatetimeList(doc, "ActiveTimes", &singles, &ranges)) {
    const Zone& z = Zone::System();
    for (const auto& s : singles) w.single_times.push_back(FromTimedate(s, z).TicksOfDay());
    for (const auto& [a, b] : ranges)
      w.ranges.emplace_back(FromTimedate(a, z).TicksOfDay(), FromTimedate(b, z).TicksOfDay());
  }
  OrdexReadNumberList(doc, "ActiveDays", 7, &w.active_days);
  OrdexReadNumberList(doc, "DaysOfMonth", 32, &w.days_of_month);
  OrdexReadNumberList(doc, "WeeksOfMonth", 7, &w.weeks_of_month);
  return w;
}

// RunASAP as the queue reads it: set unless absent, empty or "0" as text. Reading it any
// other way (as a number, say) would leave a value the queue runs at once, such as 0.5 or
// the text "yes", uncleared by the take, and the activity would run at every poll.
bool RunAsapSet(GVDOC doc) {
  QuietReports quiet;
  std::string text;
  return OrdexReadText(doc, "RunASAP", &text) && !text.empty() && text != "0";
}

// Enabled as the queue and the take read it: the templates store it as text, plexadm and
// PutField may leave a number or any text. Only "0" as text (which a number 0 reads as)
// disables; the number 2 (text "2" reads as it) asks for the window test.
struct EnabledState {
  bool disabled = false;
  bool windowed = false;
};
EnabledState ReadEnabled(GVDOC doc) {
  QuietReports quiet;
  EnabledState e;
  std::string text;
  int32_t number = 0;
  e.disabled = OrdexReadText(doc, "Enabled", &text) && text == "0";
  e.windowed = OrdexReadNumber(doc, "Enabled", &number) && number == 2;
  return e;
}

ScheduleItems ReadScheduleItems(GVDOC doc) {
  ScheduleItems it;
  it.run_asap = RunAsapSet(doc);
  {
    QuietReports quiet;
    it.one_time = OrdexIsTrue(doc, "OneTime");
    it.start_date = ReadTime(doc, "StartDate");
    it.stop_date = ReadTime(doc, "StopDate");
    it.sched_time = ReadTime(doc, "SchedTime");
    it.repeat_interval = ReadNumber(doc, "RepeatInterval");
    it.repeat_scope = ReadNumber(doc, "RepeatScope");
    uint32_t type = 0;
    it.wants_stop_time = OrdexItemType(doc, "VV_ActStopTime", &type) && type != 0;
  }
  it.windows = ReadWindows(doc);
  return it;
}

[[nodiscard]] uint32_t Disable(GVDOC doc) {
  return OrdexWriteText(doc, "Enabled", "0") ? 0 : ItemFailure("Enabled");
}

// Frees a slot whose run ended, closing its documents (kept) and any log still open.
void FreeSlot(ActivitySlot& slot) {
  CSMgrSlotFree(&slot, true);
}

// Whether the open activity is still as the queue showed it: free, enabled, for any server
// or this one, queued and due. The queue is a snapshot taken at the start of the scan; since
// then another server may have taken the activity, or taken and finished it (Lock is 0
// again but SchedTime has moved on), and running it again would run one due time twice.
bool StillDue(GVDOC doc, const GVTIMEDATE& now) {
  if (ReadEnabled(doc).disabled) return false;
  const bool asap = RunAsapSet(doc);
  QuietReports quiet;
  int32_t lock = 0, server = 0, queued = 0;
  OrdexReadNumber(doc, "Lock", &lock);
  OrdexReadNumber(doc, "ServerID", &server);
  OrdexReadNumber(doc, "ActivityID", &queued);
  if (lock != 0 || queued == 0) return false;
  if (server != 0 && static_cast<uint32_t>(server) != Service().serverId) return false;
  GVTIMEDATE sched{};
  int32_t cmp = 0;
  // Without a readable SchedTime the queue puts the activity first, as due.
  if (asap || !OrdexItemPresent(doc, "SchedTime") || !OrdexReadDatetime(doc, "SchedTime", &sched))
    return true;
  return GVDatetimeCompare(&sched, &now, &cmp) == 0 && cmp < 0;
}

// Opens the activity into the slot and stores Lock = this server, when it is still due. The
// store succeeds only if nobody stored the document since it was read here, and check and
// store are one transaction of the database: of the control stores sharing the
// Administrator database (in any process, with any data root) exactly one locks it. *locked
// false: skipped (someone else has it, or it is no longer due). On a skip and on failure the
// slot holds no document; the activity was never ours, so nothing of it is stored.
[[nodiscard]] uint32_t LockActivity(ActivitySlot& slot, GVNOTEID id, const GVTIMEDATE& now,
                                    bool* locked) {
  *locked = false;
  if (!OrdexOpenDocument(Service().adminDb, id, 0, &slot.document)) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, int64_t{id});
    return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
  }
  if (!StillDue(slot.document, now)) {
    OrdexCloseDocument(&slot.document, false);
    return 0;
  }
  bool conflict = false;
  // A holder item left behind (an edited Lock) must not make this run pass for a run by name.
  if (!OrdexWriteNumber(slot.document, "Lock", Service().serverId) ||
      !OrdexDeleteItem(slot.document, kHolderItem) ||
      !OrdexDeleteItem(slot.document, kRunnerItem) ||
      !OrdexSaveIfUnchanged(slot.document, &conflict)) {
    OrdexCloseDocument(&slot.document, false);
    return conflict ? 0 : ItemFailure("Lock");
  }
  slot.documentId = id;
  *locked = true;
  return 0;
}

// The holder recorded with an activity's Lock; empty for a scheduled run's Lock.
std::string HolderOf(GVDOC doc) {
  QuietReports quiet;
  std::string holder;
  if (!OrdexReadText(doc, kHolderItem, &holder)) holder.clear();
  return holder;
}

// The runner recorded with a scheduled run's Lock; empty when none is.
std::string RunnerOf(GVDOC doc) {
  QuietReports quiet;
  std::string runner;
  if (!OrdexReadText(doc, kRunnerItem, &runner)) runner.clear();
  return runner;
}

int32_t LockOf(GVDOC doc) {
  QuietReports quiet;
  int32_t lock = 0;
  if (!OrdexReadNumber(doc, "Lock", &lock)) lock = 0;
  return lock;
}

// Whether a Lock is held by a run by name of this server whose process has ended. Runs of
// other servers are judged by their own control store, or by the dead-server check when
// the server itself is gone.
bool HolderGone(int32_t lock, const std::string& holder) {
  return lock != 0 && !holder.empty() && static_cast<uint32_t>(lock) == Service().serverId &&
         !ProcessMarkAlive(holder);
}

// Releases (in the open document; the caller stores it) a Lock that a run by name holds
// but will never release itself: the run is logged as terminated abnormally, cleaned up by
// this server, and the slots its process left taken in this service are freed.
bool ReleaseHeldByName(GVDOC doc, const std::string& holder) {
  std::string name;
  {
    QuietReports quiet;
    OrdexReadText(doc, "Name", &name);
  }
  for (ActivitySlot& slot : Service().slots) {
    if (slot.Free() || !(slot.flags & kSlotHoldsLock) || slot.holder != holder) continue;
    if (slot.logDocument) {
      CSMgrDetailMessage(TWMSG_ACTIVITY_CLEANUP, Service().serverName);
      (void)CSMgrLogEnd(&slot.logDocument, TWMSG_ACTIVITY_ABNORMAL);
    }
    CSMgrSlotFree(&slot, false);
  }
  CSMgrDetailMessage(TWMSG_ACTIVITY_CLEANUP, Service().serverName);
  CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name);
  CSMgrLogServer(Service().serverId, TWMSG_ACTIVITY_ABNORMAL);
  return OrdexWriteNumber(doc, "Lock", 0) && OrdexDeleteItem(doc, kHolderItem);
}

// A failure after the document was opened: the run's log ends with it, the activity is
// disabled and unlocked, and the slot freed.
[[nodiscard]] uint32_t FailTake(ActivitySlot& slot, uint32_t status) {
  // The run's failure is the status; ending its log reports its own failure.
  if (slot.logDocument) (void)CSMgrLogEnd(&slot.logDocument, status);
  if (slot.document) {
    const bool disabled = OrdexWriteText(slot.document, "Enabled", "0");
    const bool unlocked = OrdexWriteNumber(slot.document, "Lock", 0);
    if (disabled && unlocked) {
      CSMgrDetailMessage(TWMSG_ACTIVITY_DISABLED, "");
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
      CSMgrLogServer(Service().serverId, TWMSG_ACTIVITY_DISABLED);
    }
  }
  FreeSlot(slot);
  return status;
}

// The take proper, on the slot's document, locked for this server by LockActivity.
[[nodiscard]] uint32_t TakeActivity(ActivitySlot& slot, const GVTIMEDATE& now, bool* taken,
                                    NextEventReply* reply) {
  *taken = false;
  std::string name;
  if (!OrdexReadText(slot.document, "Name", &name)) return FailTake(slot, ItemFailure("Name"));
  slot.name = name.substr(0, kTextField - 1);
  if (uint32_t st = CSMgrLogStart(slot)) return FailTake(slot, st);

  const ScheduleItems items = ReadScheduleItems(slot.document);
  const Zone& zone = Zone::System();
  if (ReadEnabled(slot.document).windowed && !items.run_asap &&
      !WindowPermits(items.windows, FromTimedate(now, zone), Service().settings.pollInterval,
                     zone)) {
    OrdexWriteNumber(slot.document, "Lock", 0);
    OrdexWriteNumber(slot.document, "ActivityID", 0);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
    CSMgrLogServer(Service().serverId, TWMSG_ACTIVITY_RESCHEDULED);
    if (slot.logDocument) (void)CSMgrLogEnd(&slot.logDocument, TWMSG_ACTIVITY_RESCHEDULED);
    // The scan goes on with this slot: it keeps its handle for the next entry.
    CSMgrSlotReleaseDocument(&slot, true);
    return 0;
  }
  if (uint32_t st = CSMgrScheduleTime(slot.document, ScheduleMode::kAdvance, now))
    return FailTake(slot, st);
  if (!OrdexWriteNumber(slot.document, "LogID", slot.logId))
    return FailTake(slot, ItemFailure("LogID"));
  if (!OrdexWriteText(slot.document, "ActiveServer", Service().serverName))
    return FailTake(slot, ItemFailure("ActiveServer"));
  if (!OrdexWriteDatetime(slot.document, "RunTime", now))
    return FailTake(slot, ItemFailure("RunTime"));
  int32_t max_duration = -1;
  {
    QuietReports quiet;
    if (!OrdexReadNumber(slot.document, "MaxDuration", &max_duration)) max_duration = -1;
  }
  int32_t priority = 0;
  if (!OrdexReadNumber(slot.document, "Priority", &priority))
    return FailTake(slot, ItemFailure("Priority"));
  if (!OrdexSaveDocument(slot.document)) return FailTake(slot, ItemFailure("Lock"));
  reply->max_duration = max_duration;
  reply->priority = priority;
  *taken = true;
  return 0;
}

}  // namespace

uint32_t CSMgrScheduleTime(GVDOC doc, ScheduleMode mode, const GVTIMEDATE& now) {
  const Zone& zone = Zone::System();
  const ScheduleItems items = ReadScheduleItems(doc);
  const ScheduleResult r = ComputeSchedule(items, mode, FromTimedate(now, zone), zone);
  if (r.status) return ItemFailure(r.missing_item.c_str());
  uint32_t status = 0;
  if (r.clear_run_asap && !OrdexWriteNumber(doc, "RunASAP", 0)) status = ItemFailure("RunASAP");
  if (r.disable) {
    if (uint32_t st = Disable(doc)) status = st;
  }
  if (r.no_permitted_day) {
    // No day within the search bound: the activity cannot be scheduled.
    std::string name;
    {
      QuietReports quiet;
      OrdexReadText(doc, "Name", &name);
    }
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name);
    CSMgrReport(TWMSG_ACTIVITY_DISABLED);
  }
  if (r.sched_time && !OrdexWriteDatetime(doc, "SchedTime", ToTimedate(*r.sched_time, zone)))
    status = ItemFailure("SchedTime");
  if (r.store_stop_time) {
    GVTIMEDATE stop{};
    if (r.stop_time)
      stop = ToTimedate(*r.stop_time, zone);
    else if (GVDatetimeConstant(GVDT_MAXIMUM, &stop) != 0)
      return CSMgrReport(TWFAIL_API);
    if (!OrdexWriteDatetime(doc, "VV_ActStopTime", stop)) status = ItemFailure("VV_ActStopTime");
  }
  return status;
}

uint32_t CSMgrRequeue(GVNOTEID id) {
  ScopedDoc doc;
  if (!doc.Open(id)) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, int64_t{id});
    return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
  }
  std::string name;
  uint32_t status = 0;
  if (!OrdexReadText(doc.get(), "Name", &name)) status = ItemFailure("Name");
  if (!status) status = CSMgrScheduleTime(doc.get(), ScheduleMode::kFromNow, CSMgrNow());
  std::string designated;
  if (!status && !OrdexReadText(doc.get(), "DesignatedServer", &designated))
    status = ItemFailure("DesignatedServer");
  GVNOTEID server = 0;
  if (!status && !designated.empty()) {
    server =
        OrdexFirstIdOfKey(Service().adminDb, Service().admin.servers, "(CS_Servers)", designated);
    if (!server) {
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT, designated);
      status = CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
    }
  }
  if (!status && !OrdexWriteNumber(doc.get(), "ServerID", server)) status = ItemFailure("ServerID");
  if (!status && !OrdexWriteNumber(doc.get(), "ActivityID", id)) status = ItemFailure("ActivityID");
  if (status) {
    OrdexWriteText(doc.get(), "Enabled", "0");
    OrdexWriteNumber(doc.get(), "RunASAP", 0);
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name);
    CSMgrReport(TWMSG_ACTIVITY_DISABLED);
  }
  doc.Close(true);
  return status;
}

uint32_t CSMgrNextEvent(ActivitySlot& slot, NextEventReply* reply) {
  ServiceState& s = Service();
  const GVINDEX queue = s.admin.queuedEvents;
  for (int restarts = 0;; ++restarts) {
    const GVTIMEDATE now = CSMgrNow();
    reply->now = now;
    if (!queue || !OrdexRefreshIndex(queue) || GVIndexSetPosition(queue, 0) != 0) {
      CSMgrDetail(TWMSG_DETAIL_VIEW, kQueuedView);
      return CSMgrReport(TWFAIL_ADMIN_ACCESS);
    }
    bool restart = false;
    for (;;) {
      GVNOTEID entry = 0;
      if (GVIndexNavigate(queue, GVNAV_NEXT, GVNAVF_DOCUMENTS, &entry, nullptr) != 0) return 0;
      GVTIMEDATE due{};
      int32_t activity = 0, server = 0;
      if (!OrdexViewCellDatetime(queue, kQueuedView, 1, &due) ||
          !OrdexViewCellNumber(queue, kQueuedView, 2, &activity)) {
        CSMgrDetail(TWMSG_DETAIL_VIEW, kQueuedView);
        CSMgrReport(TWFAIL_ADMIN_ACCESS);
        continue;
      }
      int32_t cmp = 0;
      if (GVDatetimeCompare(&due, &now, &cmp) != 0) return CSMgrReport(TWFAIL_API);
      if (cmp >= 0) return 0;  // nothing due yet
      if (activity == 0) {
        if (uint32_t st = CSMgrRequeue(entry)) return st;
        restart = true;
        break;
      }
      if (!OrdexViewCellNumber(queue, kQueuedView, 3, &server)) {
        CSMgrDetail(TWMSG_DETAIL_VIEW, kQueuedView);
        CSMgrReport(TWFAIL_ADMIN_ACCESS);
        return CSMgrReport(TWFAIL_CSMGR_ORDEX_SERVER);
      }
      if (server != 0 && static_cast<uint32_t>(server) != s.serverId) continue;
      bool locked = false;
      if (uint32_t st = LockActivity(slot, static_cast<GVNOTEID>(activity), now, &locked))
        return st;
      if (!locked) continue;
      bool taken = false;
      if (uint32_t st = TakeActivity(slot, now, &taken, reply)) return st;
      if (taken) {
        reply->taken = true;
        return 0;
      }
    }
    if (!restart || restarts > 1000) return 0;
  }
}

uint32_t CSMgrSyncDependents(GVNOTEID finished, const GVTIMEDATE& ran_time) {
  ScopedIndex index(kSyncView);
  if (index.status()) return index.status();
  uint32_t matches = 0;
  if (!OrdexKeySearchNumber(index.get(), kSyncView, static_cast<int32_t>(finished), &matches))
    return CSMgrReport(TWFAIL_ADMIN_ACCESS);
  // Collect first: storing a shorter list changes the view under the walk.
  std::vector<GVNOTEID> waiting;
  for (uint32_t i = 0; i < matches; ++i) {
    GVNOTEID id = 0;
    if (GVIndexNavigate(index.get(), i == 0 ? GVNAV_CURRENT : GVNAV_NEXT, GVNAVF_DOCUMENTS, &id,
                        nullptr) != 0)
      break;
    GVTIMEDATE since{};
    int32_t cmp = 1;
    if (OrdexViewCellDatetime(index.get(), kSyncView, 2, &since) &&
        GVDatetimeCompare(&since, &ran_time, &cmp) == 0 && cmp <= 0)
      waiting.push_back(id);
  }
  uint32_t status = 0;
  for (GVNOTEID id : waiting) {
    ScopedDoc doc;
    if (!doc.Open(id)) continue;
    std::vector<int32_t> ids;
    OrdexReadNumberList(doc.get(), "SyncDependents", 4096, &ids);
    for (auto it = ids.begin(); it != ids.end(); ++it)
      if (static_cast<GVNOTEID>(*it) == finished) {
        ids.erase(it);
        break;
      }
    if (!ids.empty()) {
      if (!OrdexWriteNumberList(doc.get(), "SyncDependents", ids))
        status = ItemFailure("SyncDependents");
    } else {
      OrdexDeleteItem(doc.get(), "SyncID");
      OrdexDeleteItem(doc.get(), "SyncTime");
      OrdexDeleteItem(doc.get(), "SyncDependents");
    }
  }
  return status;
}

uint32_t CSMgrRunActivities(GVNOTEID waiter, const void* names, uint32_t length) {
  const uint32_t count = names ? GVTextListGetCount(names, length) : 0;
  if (count == 0) return TWFAIL_CSMGR_ARGUMENT;
  ScopedIndex index(kActivitiesView);
  if (index.status()) return index.status();
  std::vector<int32_t> found;
  bool failed = false;
  uint32_t status = 0;
  for (uint32_t i = 1; i <= count; ++i) {
    std::vector<char> name(length + 1, '\0');
    if (GVTextListFetch(names, length, i, name.data(), length + 1) != 0) break;
    const GVNOTEID id = OrdexFirstIdOfKey(Service().adminDb, Service().admin.activities,
                                          kActivitiesView, name.data());
    if (!id) {
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT, name.data());
      status = CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
      failed = true;
      continue;
    }
    ScopedDoc doc;
    if (!doc.Open(id)) {
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, int64_t{id});
      status = CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
      failed = true;
      continue;
    }
    int32_t asap = 0;
    if (!OrdexReadNumber(doc.get(), "RunASAP", &asap)) {
      status = ItemFailure("RunASAP");
      failed = true;
      break;
    }
    if (asap == 0 && !OrdexWriteNumber(doc.get(), "RunASAP", 1)) {
      status = ItemFailure("RunASAP");
      failed = true;
      break;
    }
    if (!doc.Close(true)) {
      status = CSMgrReport(TWFAIL_API);
      failed = true;
      break;
    }
    found.push_back(static_cast<int32_t>(id));
  }
  if (waiter && !found.empty() && !failed) {
    ScopedDoc doc;
    if (!doc.Open(waiter)) {
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, int64_t{waiter});
      return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
    }
    if (!OrdexWriteNumber(doc.get(), "SyncID", waiter)) return ItemFailure("SyncID");
    if (!OrdexWriteNumberList(doc.get(), "SyncDependents", found))
      return ItemFailure("SyncDependents");
    if (!OrdexWriteDatetime(doc.get(), "SyncTime", CSMgrNow())) return ItemFailure("SyncTime");
  }
  return status;
}

uint32_t CSMgrDoneRun(GVNOTEID activity, bool* finished) {
  *finished = false;
  ScopedDoc doc;
  if (!doc.Open(activity, kOpenLookOnly)) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, int64_t{activity});
    return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
  }
  uint32_t type = 0;
  *finished = OrdexItemType(doc.get(), "SyncID", &type) && type == 0;
  return 0;
}

uint32_t CSMgrEventDone(ActivitySlot& slot, int32_t message) {
  const uint32_t m = message ? static_cast<uint32_t>(message) : TWMSG_ACTIVITY_FINISHED;
  if (slot.flags & kSlotByName) {
    uint32_t status = 0;
    // The Lock is released only while it is still this run's: a clean-up may have judged the
    // run gone and another run may hold it now.
    if ((slot.flags & kSlotHoldsLock) && slot.document && LockOf(slot.document) != 0 &&
        static_cast<uint32_t>(LockOf(slot.document)) == Service().serverId &&
        HolderOf(slot.document) == slot.holder) {
      if (!OrdexWriteNumber(slot.document, "Lock", 0) ||
          !OrdexDeleteItem(slot.document, kHolderItem) || !OrdexSaveDocument(slot.document))
        status = ItemFailure("Lock");
    }
    // A log that cannot be ended has reported so; the run's own status is answered.
    if (!(slot.flags & kSlotLogOff) && slot.logDocument) (void)CSMgrLogEnd(&slot.logDocument, m);
    FreeSlot(slot);
    return status;
  }
  const bool logging = !(slot.flags & kSlotLogOff);
  const GVDOC doc = slot.document;
  if (!doc) {
    FreeSlot(slot);
    return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
  }
  if (logging) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
    CSMgrLogServer(Service().serverId, m);
  }
  if (!OrdexWriteNumber(doc, "Lock", 0) || !OrdexDeleteItem(doc, kRunnerItem)) {
    const uint32_t st = ItemFailure("Lock");
    FreeSlot(slot);
    return st;
  }
  uint32_t status = 0;
  auto fail = [&](const char* item) {
    const uint32_t st = ItemFailure(item);
    if (!status) status = st;
  };
  if (logging && !slot.logId) {
    int32_t log_id = 0;
    if (OrdexReadNumber(doc, "LogID", &log_id) && log_id > 0) {
      slot.logId = static_cast<uint32_t>(log_id);
      OrdexOpenDocument(Service().logDb, slot.logId, 0, &slot.logDocument);
    }
  }
  if (!OrdexWriteNumber(doc, "LogID", 0)) fail("LogID");
  if (logging) {
    if (!OrdexPutDocLink(doc, "DocLink", Service().logDb, Service().log.activities, kActivitiesView,
                         slot.name))
      fail("DocLink");
    if (slot.logDocument) (void)CSMgrLogEnd(&slot.logDocument, m);
    const std::string text = CSMgrMessageText(m);
    if (!OrdexWriteText(doc, "ErrorMsg", text)) fail("ErrorMsg");
    int32_t mail = 0;
    {
      QuietReports quiet;
      OrdexReadNumber(doc, "Mail", &mail);
    }
    // A mail that cannot be sent is logged as 822; the run's completion stands.
    if (mail == 1 || (mail == 2 && message != 0)) (void)CSMgrMailSend(slot, doc, text);
  }
  int32_t failures = 0;
  {
    QuietReports quiet;
    OrdexReadNumber(doc, "Failures", &failures);
  }
  failures = NextFailures(failures, message == 0, Service().settings.maxFailures);
  if (!OrdexWriteNumber(doc, "Failures", failures)) fail("Failures");
  if (!OrdexWriteNumber(doc, "DispFailures", failures)) fail("DispFailures");
  const GVTIMEDATE now = CSMgrNow();
  if (failures == -1) {
    if (uint32_t st = Disable(doc); st && !status) status = st;
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
    CSMgrLogServer(Service().serverId, TWMSG_ACTIVITY_DISABLED);
  } else if (!RunAsapSet(doc)) {
    GVTIMEDATE sched{};
    int32_t cmp = 0;
    QuietReports quiet;
    if (OrdexReadDatetime(doc, "SchedTime", &sched) && GVDatetimeCompare(&sched, &now, &cmp) == 0 &&
        cmp < 0 && !OrdexWriteDatetime(doc, "SchedTime", now))
      fail("SchedTime");
  }
  GVTIMEDATE ran{};
  if (OrdexReadDatetime(doc, "RunTime", &ran)) {
    if (!OrdexWriteDatetime(doc, "RanTime", ran)) fail("RanTime");
  } else {
    ran = now;
  }
  // Store before releasing waits and starting dependents: they open other documents.
  if (!OrdexSaveDocument(doc)) fail("Lock");
  if (uint32_t st = CSMgrSyncDependents(slot.documentId, ran); st && !status) status = st;
  if (message == 0) {
    std::vector<std::string> dependents;
    QuietReports quiet;
    if (OrdexItemPresent(doc, "Dependents") && OrdexReadTextList(doc, "Dependents", &dependents) &&
        !dependents.empty()) {
      // Back into a text list: u16 count, u16 lengths, the texts.
      std::string list;
      auto put16 = [&](size_t v) {
        list.push_back(static_cast<char>(v & 0xFF));
        list.push_back(static_cast<char>((v >> 8) & 0xFF));
      };
      const size_t n = std::min<size_t>(dependents.size(), 0xFFFF);
      put16(n);
      for (size_t i = 0; i < n; ++i) put16(std::min<size_t>(dependents[i].size(), 0xFFFF));
      for (size_t i = 0; i < n; ++i) list.append(dependents[i], 0, 0xFFFF);
      if (uint32_t st = CSMgrRunActivities(0, list.data(), static_cast<uint32_t>(list.size()));
          st && !status)
        status = st;
    }
  }
  FreeSlot(slot);
  return status;
}

// The documents of the first matches entries from the index's current position, collected
// before any is changed: a store moves the index under a walk.
static std::vector<GVNOTEID> FoundDocuments(GVINDEX index, uint32_t matches) {
  std::vector<GVNOTEID> ids;
  for (uint32_t i = 0; i < matches; ++i) {
    GVNOTEID id = 0;
    if (GVIndexNavigate(index, i == 0 ? GVNAV_CURRENT : GVNAV_NEXT, GVNAVF_DOCUMENTS, &id,
                        nullptr) != 0)
      break;
    ids.push_back(id);
  }
  return ids;
}

namespace {

// Ends the scheduled run of activity document id as terminated abnormally (809), cleanup by
// this server, in a slot of its own. Status 0 or the failure.
[[nodiscard]] uint32_t EndRunAbnormally(GVNOTEID id) {
  ActivitySlot* slot = CSMgrSlotTake();
  if (!slot) return TWFAIL_CSMGR_ARGUMENT;
  if (!OrdexOpenDocument(Service().adminDb, id, 0, &slot->document)) {
    FreeSlot(*slot);
    return 0;
  }
  slot->documentId = id;
  std::string name;
  {
    QuietReports quiet;
    OrdexReadText(slot->document, "Name", &name);
    int32_t log_type = 1;
    if (OrdexReadNumber(slot->document, "LogType", &log_type) && log_type == 0)
      slot->flags |= kSlotLogOff;
  }
  slot->name = name.substr(0, kTextField - 1);
  CSMgrDetailMessage(TWMSG_ACTIVITY_CLEANUP, Service().serverName);
  return CSMgrEventDone(*slot, static_cast<int32_t>(TWMSG_ACTIVITY_ABNORMAL));
}

// Whether a slot of this service holds the document: a run that its server reports done.
bool RunInSlot(GVNOTEID id) {
  for (const ActivitySlot& slot : Service().slots)
    if (!slot.Free() && slot.documentId == id) return true;
  return false;
}

}  // namespace

uint32_t CSMgrEndServerRuns(GVNOTEID server_id, bool own, std::vector<GVNOTEID>* keptLogs) {
  ScopedIndex index(kActiveView);
  if (index.status()) return index.status();
  uint32_t matches = 0;
  if (!OrdexKeySearchNumber(index.get(), kActiveView, static_cast<int32_t>(server_id), &matches))
    return CSMgrReport(TWFAIL_ADMIN_ACCESS);
  const std::vector<GVNOTEID> ids = FoundDocuments(index.get(), matches);
  own = own || server_id == Service().serverId;
  uint32_t status = 0;
  for (GVNOTEID id : ids) {
    {
      // A run by name is not the server's: it goes on while its process runs, and is
      // released, not counted as a failed run, when its process is gone.
      ScopedDoc doc;
      if (!doc.Open(id)) continue;
      const std::string holder = HolderOf(doc.get());
      if (!holder.empty()) {
        if (own && ProcessMarkAlive(holder)) continue;
        if (!ReleaseHeldByName(doc.get(), holder) || !doc.Close(true))
          if (!status) status = ItemFailure("Lock");
        continue;
      }
      // A runner that outlived its server still runs the activity: ended when it has.
      const std::string runner = RunnerOf(doc.get());
      if (own && !runner.empty() && ProcessMarkAlive(runner)) {
        int32_t log_id = 0;
        QuietReports quiet;
        if (keptLogs && OrdexReadNumber(doc.get(), "LogID", &log_id) && log_id > 0)
          keptLogs->push_back(static_cast<GVNOTEID>(log_id));
        continue;
      }
    }
    if (uint32_t st = EndRunAbnormally(id); st && !status) status = st;
  }
  return status;
}

uint32_t CSMgrRecordRunner(ActivitySlot& slot) {
  if ((slot.flags & (kSlotByName | kSlotRetired)) != 0 || !slot.document || !slot.holder.empty())
    return 0;
  // A runner that cannot be named is not recorded: its run is then ended with its server's.
  if (Service().requesterProcess <= 0) return 0;
  const std::string runner = ProcessMark(Service().requesterProcess);
  if (runner.empty()) return 0;
  if (!OrdexWriteText(slot.document, kRunnerItem, runner) || !OrdexSaveDocument(slot.document))
    return ItemFailure(kRunnerItem);
  slot.holder = runner;
  return 0;
}

uint32_t CSMgrLockByName(ActivitySlot& slot) {
  ServiceState& s = Service();
  // A Lock of 0 would be no Lock: without a registered server nothing can hold one.
  if (s.serverId == 0) {
    CSMgrDetail(TWMSG_DETAIL_DOCUMENT, s.serverName);
    return CSMgrReport(TWFAIL_NO_CONFIG_DOC);
  }
  std::string holder = ProcessMark(s.requesterProcess);
  // A runner that cannot be named is held by this service: its Lock then lasts at most as
  // long as the service runs.
  if (holder.empty()) holder = ProcessMark(0);
  for (int attempt = 1;; ++attempt) {
    const int32_t lock = LockOf(slot.document);
    if (lock != 0) {
      const std::string current = HolderOf(slot.document);
      if (!HolderGone(lock, current)) {
        CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
        return CSMgrReport(kAlreadyRunning);
      }
      if (!ReleaseHeldByName(slot.document, current)) return ItemFailure("Lock");
    }
    bool conflict = false;
    if (OrdexWriteNumber(slot.document, "Lock", s.serverId) &&
        OrdexWriteText(slot.document, kHolderItem, holder) &&
        OrdexSaveIfUnchanged(slot.document, &conflict)) {
      slot.flags |= kSlotHoldsLock;
      slot.holder = holder;
      return 0;
    }
    if (!conflict || attempt == kLockAttempts) return ItemFailure("Lock");
    // Stored meanwhile (by a take, another run, an editor): decide again on what is stored.
    OrdexCloseDocument(&slot.document, false);
    if (!OrdexOpenDocument(s.adminDb, slot.documentId, 0, &slot.document)) {
      slot.document = 0;
      CSMgrDetail(TWMSG_DETAIL_DOCUMENT, slot.name);
      return CSMgrReport(TWFAIL_NO_ACTIVITY_DOC);
    }
  }
}

uint32_t CSMgrReleaseGoneHolders() {
  const int32_t server = static_cast<int32_t>(Service().serverId);
  if (server == 0) return 0;
  // Asked at every poll: the index stays open, and a key search reads the view again only
  // once something was stored.
  GVINDEX& index = Service().admin.activeEvents;
  if (index == 0) {
    ScopedIndex opened(kActiveView);
    if (opened.status()) return opened.status();
    std::swap(index, opened.index());
  }
  uint32_t matches = 0;
  if (!OrdexKeySearchNumber(index, kActiveView, server, &matches)) return 0;
  const std::vector<GVNOTEID> ids = FoundDocuments(index, matches);
  uint32_t status = 0;
  std::vector<GVNOTEID> ended;
  for (GVNOTEID id : ids) {
    ScopedDoc doc;
    if (!doc.Open(id)) continue;
    const std::string holder = HolderOf(doc.get());
    if (holder.empty()) {
      const std::string runner = RunnerOf(doc.get());
      if (!runner.empty() && !ProcessMarkAlive(runner) && !RunInSlot(id)) ended.push_back(id);
      continue;
    }
    if (!HolderGone(LockOf(doc.get()), holder)) continue;
    if (!ReleaseHeldByName(doc.get(), holder) || !doc.Close(true))
      if (!status) status = ItemFailure("Lock");
  }
  for (GVNOTEID id : ended)
    if (uint32_t st = EndRunAbnormally(id); st && !status) status = st;
  return status;
}

}  // namespace tw::csmgr
