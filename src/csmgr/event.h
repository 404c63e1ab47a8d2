// Activity scheduling of the control store: which activity runs next, when each runs again,
// the end of a run, and activities started by name. The schedule rules themselves are pure
// functions over a wall-clock time and a time zone, so they can be tested without a database.
#ifndef TW_CSMGR_EVENT_H_
#define TW_CSMGR_EVENT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "csmgr.h"
#include "plexapi.h"

namespace tw::csmgr {

// ---------------------------------------------------------------- pure schedule rules ---

// A moment on the local wall clock. dst: 1 daylight saving in effect, 0 not, -1 unknown
// (resolved by the zone; only matters in the repeated hour of an autumn change).
struct LocalTime {
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, hundredth = 0;
  int32_t dst = -1;
  int32_t TicksOfDay() const { return ((hour * 60 + minute) * 60 + second) * 100 + hundredth; }
  void SetTicksOfDay(int32_t ticks);
};

// The wall clock's time zone. The default follows the process's TZ (tests set TZ).
class Zone {
 public:
  virtual ~Zone() = default;
  // Seconds since 1970 UTC of a wall-clock time (hundredths ignored); a wall time in the
  // repeated autumn hour is taken with t.dst when it is 0 or 1.
  virtual int64_t ToInstant(const LocalTime& t) const;
  // The wall-clock time of an instant, with its dst flag.
  virtual LocalTime FromInstant(int64_t seconds) const;
  // Whether daylight saving is in effect at t.
  bool IsDst(const LocalTime& t) const { return FromInstant(ToInstant(t)).dst == 1; }
  static const Zone& System();
};

// -1, 0, 1 comparing two wall times as instants (hundredths included).
int CompareTimes(const Zone& zone, const LocalTime& a, const LocalTime& b);

// Repeat scopes.
enum RepeatScope : int32_t {
  kRepeatMinutes = 1,
  kRepeatDays = 2,
  kRepeatWeeks = 3,
  kRepeatMonths = 4
};

// The windows in which runs may start.
struct Windows {
  std::vector<int32_t> single_times;                // hundredths since midnight
  std::vector<std::pair<int32_t, int32_t>> ranges;  // {start, end}; end < start spans midnight
  std::vector<int32_t> active_days;                 // 1 Sunday .. 7 Saturday (at most 7 used)
  std::vector<int32_t> days_of_month;               // negative from the month's end (32 used)
  std::vector<int32_t> weeks_of_month;              // negative from the month's end (7 used)
};

// The items of an activity document that the rules read.
struct ScheduleItems {
  bool run_asap = false;
  bool one_time = false;
  std::optional<LocalTime> start_date, stop_date;
  std::optional<LocalTime> sched_time;                   // required in advance mode
  std::optional<int32_t> repeat_interval, repeat_scope;  // required when a repeat is added
  Windows windows;
  bool wants_stop_time = false;  // the document has VV_ActStopTime
};

// The day search gives up after this many years (an unsatisfiable month grid).
inline constexpr int32_t kDaySearchYears = 10;

enum class ScheduleMode { kFromNow, kAdvance };

// What computing a schedule decided; the caller stores it.
struct ScheduleResult {
  uint32_t status = 0;  // 0, or 798 (a required item missing: missing_item names it)
  std::string missing_item;
  bool clear_run_asap = false;          // store RunASAP = 0
  bool disable = false;                 // store Enabled = "0" (one-time, past StopDate)
  bool no_permitted_day = false;        // the day search found nothing within kDaySearchYears
  std::optional<LocalTime> sched_time;  // store as SchedTime (absent: unchanged)
  // Store as VV_ActStopTime when wants_stop_time: absent means "no stop" (constant 2).
  bool store_stop_time = false;
  std::optional<LocalTime> stop_time;
};

// Times of day, search forward; for_stop: only range ends, t itself never accepted.
// Returns t unchanged when there is no restriction (or, for_stop, no range end).
LocalTime ApplyTimesOfDay(const Windows& w, const LocalTime& t, bool for_stop, const Zone& zone);
// The month-grid day search from t's date; nullopt when no day is permitted within
// kDaySearchYears. for_stop: the first day that is not permitted.
std::optional<LocalTime> ApplyDays(const Windows& w, const LocalTime& t, bool for_stop);
// Times of day, days, and times of day again when the day changed.
std::optional<LocalTime> ApplyWindows(const Windows& w, const LocalTime& t, const Zone& zone);
// Adds one repeat to t (scope/interval as stored); other scopes leave t as it is.
LocalTime AddRepeat(const LocalTime& t, int32_t interval, int32_t scope, const Zone& zone);
// The stop time from base (nullopt: no stop).
std::optional<LocalTime> ComputeStopTime(const Windows& w, const LocalTime& base, const Zone& zone);
// The next SchedTime and what else to store.
ScheduleResult ComputeSchedule(const ScheduleItems& items, ScheduleMode mode, const LocalTime& now,
                               const Zone& zone);
// Whether an activity whose Enabled reads 2 may start now: the windows applied to
// now - 4 x poll_interval seconds land before now.
bool WindowPermits(const Windows& w, const LocalTime& now, int32_t poll_interval_seconds,
                   const Zone& zone);

// Days in a month and weekday (0 Sunday) of its first day, Julian calendar up to
// September 1752 (which has 19 days: 1, 2, 14 .. 30).
int32_t MonthDays(int32_t year, int32_t month);
int32_t FirstWeekday(int32_t year, int32_t month);

// Adds days on the calendar (proleptic Gregorian day numbers, as the databases store dates).
LocalTime AddDays(const LocalTime& t, int32_t days);

// Failure counting after a run: the new Failures value.
int32_t NextFailures(int32_t failures, bool succeeded, int32_t max_failures);

// Conversions with the database's date-time values.
LocalTime FromTimedate(const GVTIMEDATE& v, const Zone& zone);
GVTIMEDATE ToTimedate(const LocalTime& t, const Zone& zone);

// ---------------------------------------------------------------- database side ---------

// The reply of NextActivity.
struct NextEventReply {
  bool taken = false;  // false: nothing due (the caller frees the slot, handle 0)
  int32_t max_duration = -1;
  int32_t priority = 0;
  GVTIMEDATE now{};
};

// NextActivity: takes the first due activity for this server into slot (name, document,
// log). Of the control stores sharing the Administrator database, in any processes, exactly
// one takes a due activity. Status 0 or a message id. On "nothing due" and on failure the
// slot holds no document; the caller frees it.
[[nodiscard]] uint32_t CSMgrNextEvent(ActivitySlot& slot, NextEventReply* reply);

// DoneActivity: records the end of the run in slot (whose document the caller has just
// reopened) with completion message (0 = finished normally); closes the document and frees
// the slot on every path. Status 0 or the first failure.
[[nodiscard]] uint32_t CSMgrEventDone(ActivitySlot& slot, int32_t message);

// RunActivity: sets RunASAP on each named activity (a Plexa text list of length bytes);
// with waiter non-zero (a document id) records the wait on the ones found.
[[nodiscard]] uint32_t CSMgrRunActivities(GVNOTEID waiter, const void* names, uint32_t length);

// DoneRun: *finished = true when the activity waits on nothing any more.
[[nodiscard]] uint32_t CSMgrDoneRun(GVNOTEID activity, bool* finished);

// Re-queues activity id (its ActivityID was 0).
[[nodiscard]] uint32_t CSMgrRequeue(GVNOTEID id);

// Computes and stores SchedTime (and what goes with it) in an open activity document.
[[nodiscard]] uint32_t CSMgrScheduleTime(GVDOC doc, ScheduleMode mode, const GVTIMEDATE& now);

// Releases the waits on a finished activity.
[[nodiscard]] uint32_t CSMgrSyncDependents(GVNOTEID finished, const GVTIMEDATE& ran_time);

// Ends every run of server id as abnormally terminated (809), cleanup by this server. own:
// server id is this server (a clean-up at its own registration or stop); a run of its own
// whose process still runs on this machine (a run by name, or a scheduled run whose runner
// outlived a killed server) is then left alone: its Lock is kept until the process ends, so
// that the activity never runs twice at once; the ids of such runs' logs, which go on too,
// are added to keptLogs when given.
[[nodiscard]] uint32_t CSMgrEndServerRuns(GVNOTEID server_id, bool own,
                                          std::vector<GVNOTEID>* keptLogs = nullptr);

// Records the process asking for the description of a scheduled run as the run's runner,
// in the activity document beside the Lock, once per run. Status 0 or the failure.
[[nodiscard]] uint32_t CSMgrRecordRunner(ActivitySlot& slot);

// A run by name (OpenActivity) of the activity whose document the slot holds takes its Lock
// for this server, recording the requesting process as its holder, with the same
// conditional store as a take: of concurrent takers exactly one wins. While the Lock is held
// (by a scheduled run or another run by name) the run is refused with
// TWFAIL_ACTIVITY_RUNNING; a Lock whose holder process on this server has ended is released
// first (the run it left is logged as terminated abnormally). Status 0 or the failure.
[[nodiscard]] uint32_t CSMgrLockByName(ActivitySlot& slot);

// Releases the Locks of this server whose runs by name lost their process without reporting
// done (killed, crashed), and ends the scheduled runs whose runner outlived an earlier life
// of the server and has ended since (809), so that the activities run again.
[[nodiscard]] uint32_t CSMgrReleaseGoneHolders();

}  // namespace tw::csmgr

#endif  // TW_CSMGR_EVENT_H_
