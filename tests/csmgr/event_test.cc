// Tests of activity scheduling against a real Administrator database: taking a due activity
// under the Lock re-check, failure counting, rescheduling at the end of a run, starting
// dependents, RunASAP after a failed run, both forms of Enabled, and a Lock that cannot be
// stored.
#include "event.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "access_fixture.h"
#include "ordexio.h"
#include "tw/coding.h"

namespace {

using namespace tw::csmgr;

constexpr char kQueued[] = "(CS_Queued Events)";

class EventTest : public csmgrtest::AccessTest {
 protected:
  void SetUp() override {
    AccessTest::SetUp();
    if (HasFatalFailure()) return;
    alpha_ = MakeServer("alpha");
    beta_ = MakeServer("beta");
    S().serverId = alpha_;
    ASSERT_TRUE(OrdexOpenIndex(S().adminDb, OrdexLocateView(S().adminDb, kQueued), kQueued,
                               &S().admin.queuedEvents));
  }
  void TearDown() override {
    OrdexCloseIndex(&S().admin.queuedEvents);
    AccessTest::TearDown();
  }

  GVNOTEID MakeServer(const char* name) {
    GVDOC doc = NewDocument(S().adminDb, "Configuration\\Server", name);
    const GVNOTEID id = IdOf(doc);
    OrdexCloseDocument(&doc, true);
    return id;
  }

  // An enabled activity queued for any server, due a day ago, repeating hourly.
  GVNOTEID MakeDueActivity(const std::string& name) {
    GVDOC doc = NewDocument(S().adminDb, "Activity\\Command", name);
    const GVNOTEID id = IdOf(doc);
    EXPECT_TRUE(OrdexWriteText(doc, "Enabled", "1"));
    EXPECT_TRUE(OrdexWriteNumber(doc, "ActivityID", id));
    EXPECT_TRUE(OrdexWriteNumber(doc, "ServerID", 0));
    EXPECT_TRUE(OrdexWriteNumber(doc, "Lock", 0));
    EXPECT_TRUE(OrdexWriteNumber(doc, "RunASAP", 0));
    EXPECT_TRUE(OrdexWriteNumber(doc, "Priority", 0));
    EXPECT_TRUE(OrdexWriteNumber(doc, "RepeatInterval", 60));
    EXPECT_TRUE(OrdexWriteNumber(doc, "RepeatScope", kRepeatMinutes));
    EXPECT_TRUE(OrdexWriteDatetime(doc, "SchedTime", DayAgo()));
    EXPECT_TRUE(OrdexCloseDocument(&doc, true));
    return id;
  }
  static GVTIMEDATE DayAgo() {
    const Zone& z = Zone::System();
    return ToTimedate(AddDays(FromTimedate(CSMgrNow(), z), -1), z);
  }

  // NextActivity for server; the taken activity's id, 0 when nothing was taken.
  GVNOTEID Take(GVNOTEID server, ActivitySlot** taken) {
    S().serverId = server;
    ActivitySlot* slot = CSMgrSlotTake();
    EXPECT_NE(slot, nullptr);
    if (slot == nullptr) return 0;
    NextEventReply reply;
    EXPECT_EQ(CSMgrNextEvent(*slot, &reply), 0u);
    if (!reply.taken) {
      CSMgrSlotFree(slot);
      return 0;
    }
    *taken = slot;
    return slot->documentId;
  }
  // Runs one activity to its end with message (0 = success) as the runner reports it.
  void RunOnce(GVNOTEID expected, int32_t message) {
    ActivitySlot* slot = nullptr;
    ASSERT_EQ(Take(alpha_, &slot), expected);
    Finish(slot, message);
  }
  void Finish(ActivitySlot* slot, int32_t message) {
    const GVNOTEID id = slot->documentId;
    // The runner closes the document while running and DoneActivity reopens it.
    ASSERT_TRUE(OrdexCloseDocument(&slot->document, true));
    ASSERT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &slot->document));
    EXPECT_EQ(CSMgrEventDone(*slot, message), 0u);
    EXPECT_EQ(slot->documentId, 0u) << "the slot is freed";
  }
  // Moves the control store's clock on by a second, so that a time stored as "now" by one
  // step lies in the past for the next (the clock has hundredths).
  static void Tick() { S().clockOffset.seconds += 1; }
  static GVTIMEDATE DaysFromNow(int32_t days) {
    const Zone& z = Zone::System();
    return ToTimedate(AddDays(FromTimedate(CSMgrNow(), z), days), z);
  }

  int32_t Number(GVNOTEID id, const char* item) {
    GVDOC doc = 0;
    EXPECT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &doc));
    int32_t v = -12345;
    OrdexReadNumber(doc, item, &v);
    OrdexCloseDocument(&doc, false);
    return v;
  }
  std::string Text(GVNOTEID id, const char* item) {
    GVDOC doc = 0;
    EXPECT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &doc));
    std::string v = "<absent>";
    OrdexReadText(doc, item, &v);
    OrdexCloseDocument(&doc, false);
    return v;
  }
  GVTIMEDATE Time(GVNOTEID id, const char* item) {
    GVDOC doc = 0;
    EXPECT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &doc));
    GVTIMEDATE v{};
    EXPECT_TRUE(OrdexReadDatetime(doc, item, &v)) << item;
    OrdexCloseDocument(&doc, false);
    return v;
  }
  static int Compare(const GVTIMEDATE& a, const GVTIMEDATE& b) {
    int32_t cmp = 0;
    EXPECT_EQ(GVDatetimeCompare(&a, &b, &cmp), 0u);
    return cmp;
  }
  void Put(GVNOTEID id, const std::function<void(GVDOC)>& change) {
    GVDOC doc = 0;
    ASSERT_TRUE(OrdexOpenDocument(S().adminDb, id, 0, &doc));
    change(doc);
    ASSERT_TRUE(OrdexCloseDocument(&doc, true));
  }

  GVNOTEID alpha_ = 0, beta_ = 0;
};

TEST_F(EventTest, TakerSkipsAnActivityAnotherServerHolds) {
  const GVNOTEID id = MakeDueActivity("Nightly");
  ActivitySlot* first = nullptr;
  ASSERT_EQ(Take(alpha_, &first), id);
  EXPECT_EQ(Number(id, "Lock"), static_cast<int32_t>(alpha_));
  // A second server sharing the database never receives the held activity.
  ActivitySlot* second = nullptr;
  EXPECT_EQ(Take(beta_, &second), 0u);
  EXPECT_EQ(Number(id, "Lock"), static_cast<int32_t>(alpha_));

  // Lock taken by another server after this one read the queue: the re-check skips it.
  const GVNOTEID other = MakeDueActivity("Hourly");
  Put(other, [&](GVDOC d) { OrdexWriteNumber(d, "Lock", beta_); });
  ActivitySlot* third = nullptr;
  EXPECT_EQ(Take(alpha_, &third), 0u);
  EXPECT_EQ(Number(other, "Lock"), static_cast<int32_t>(beta_));
}

TEST_F(EventTest, TakerSkipsDisabledAndOtherServersActivities) {
  const GVNOTEID disabled = MakeDueActivity("Off");
  Put(disabled, [](GVDOC d) { OrdexWriteText(d, "Enabled", "0"); });
  const GVNOTEID designated = MakeDueActivity("ForBeta");
  Put(designated, [&](GVDOC d) { OrdexWriteNumber(d, "ServerID", beta_); });
  ActivitySlot* slot = nullptr;
  EXPECT_EQ(Take(alpha_, &slot), 0u);
  EXPECT_EQ(Take(beta_, &slot), designated);
  EXPECT_EQ(Number(disabled, "Lock"), 0);
}

TEST_F(EventTest, MaxFailuresDisablesAndSuccessResets) {
  S().settings.maxFailures = 3;
  const GVNOTEID id = MakeDueActivity("Flaky");
  // Runs end with failures; between runs the activity is made due again.
  auto due_again = [&] { Put(id, [](GVDOC d) { OrdexWriteDatetime(d, "SchedTime", DayAgo()); }); };
  RunOnce(id, 801);
  EXPECT_EQ(Number(id, "Failures"), 1);
  due_again();
  RunOnce(id, 0);
  EXPECT_EQ(Number(id, "Failures"), 0) << "a success resets the count";
  EXPECT_EQ(Text(id, "Enabled"), "1");
  for (int32_t run = 1; run <= 3; ++run) {
    due_again();
    RunOnce(id, 801);
    if (run < 3) {
      EXPECT_EQ(Number(id, "Failures"), run);
    }
  }
  EXPECT_EQ(Text(id, "Enabled"), "0");
  EXPECT_EQ(Number(id, "Failures"), -1);
  due_again();
  ActivitySlot* slot = nullptr;
  EXPECT_EQ(Take(alpha_, &slot), 0u) << "a disabled activity is not taken";
}

TEST_F(EventTest, DoneRunIsRescheduledAndUnlocked) {
  const GVNOTEID id = MakeDueActivity("Nightly");
  const GVTIMEDATE before = Time(id, "SchedTime");
  RunOnce(id, 0);
  EXPECT_EQ(Number(id, "Lock"), 0);
  EXPECT_EQ(Number(id, "LogID"), 0);
  const GVTIMEDATE after = Time(id, "SchedTime");
  EXPECT_GT(Compare(after, before), 0) << "SchedTime advanced";
  // The hourly repeat from a day-old time still lies in the past: the missed runs are not
  // made up one by one, the time becomes the run's end.
  EXPECT_GE(Compare(after, Time(id, "RanTime")), 0) << "not due again at once";
  EXPECT_LE(Compare(after, CSMgrNow()), 0);
  // Unlocked and queued: it can be taken again once due.
  Put(id, [](GVDOC d) { OrdexWriteDatetime(d, "SchedTime", DayAgo()); });
  ActivitySlot* slot = nullptr;
  EXPECT_EQ(Take(beta_, &slot), id);
}

TEST_F(EventTest, DependentsQueuedOnlyAfterSuccess) {
  const GVNOTEID first = MakeDueActivity("Extract");
  GVDOC doc = NewDocument(S().adminDb, "Activity\\Command", "Load");
  const GVNOTEID dependent = IdOf(doc);
  OrdexWriteNumber(doc, "RunASAP", 0);
  OrdexCloseDocument(&doc, true);
  std::string list(2 + 2 + 4, '\0');  // the text list "Load"
  tw::put_u16(list.data(), 1);
  tw::put_u16(list.data() + 2, 4);
  list.replace(4, 4, "Load");
  Put(first, [&](GVDOC d) { ASSERT_TRUE(OrdexWriteRaw(d, "Dependents", GVTYPE_TEXT_LIST, list)); });

  RunOnce(first, 801);
  EXPECT_EQ(Number(dependent, "RunASAP"), 0) << "a failed run starts no dependent";
  Put(first, [](GVDOC d) { OrdexWriteDatetime(d, "SchedTime", DayAgo()); });
  RunOnce(first, 0);
  EXPECT_EQ(Number(dependent, "RunASAP"), 1);
}

TEST_F(EventTest, ARunAsapRunIsNotRepeatedAfterItFails) {
  // The take clears RunASAP whatever the run's outcome; only an overdue schedule brings the
  // activity back once more (after which the take has advanced it). RunASAP in any form the
  // queue reads as set must be cleared, or the queue would hand it out at every poll.
  struct Case {
    const char* what;
    std::function<void(GVDOC)> asap;
    int32_t schedDays;  // SchedTime relative to now
    int32_t message;    // the run's completion, 0 = success
    int runs;
  };
  const auto number = [](int64_t v) { return [v](GVDOC d) { OrdexWriteNumber(d, "RunASAP", v); }; };
  const auto text = [](const char* v) { return [v](GVDOC d) { OrdexWriteText(d, "RunASAP", v); }; };
  const Case cases[] = {
      {"failed run, schedule ahead", number(1), 1, 801, 1},
      {"successful run, schedule ahead", number(1), 1, 0, 1},
      {"failed run, schedule overdue", number(1), -1, 801, 2},
      {"the text 1 as PutField stores it", text("1"), 1, 801, 1},
      {"any other text the queue reads as set", text("yes"), 1, 801, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const GVNOTEID id = MakeDueActivity("Asap");
    Put(id, [&](GVDOC d) {
      c.asap(d);
      OrdexWriteDatetime(d, "SchedTime", DaysFromNow(c.schedDays));
    });
    int runs = 0;
    for (; runs < 5; ++runs) {
      Tick();
      ActivitySlot* slot = nullptr;
      const GVNOTEID got = Take(alpha_, &slot);
      if (got == 0) break;
      ASSERT_EQ(got, id);
      EXPECT_EQ(Text(id, "RunASAP"), "0");
      Finish(slot, c.message);
    }
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(Number(id, "Failures"), c.message ? runs : 0);
    EXPECT_EQ(GVDocumentDelete(S().adminDb, id, 0), 0u);
  }
}

TEST_F(EventTest, EnabledIsReadAlikeAsTextAndAsNumber) {
  // The templates store Enabled as text; plexadm and older documents may hold a number. Each
  // case queues the activity under test ahead of a plain due one: the scan takes the first
  // when it may run, else goes on to the second with the same slot and handle.
  S().settings.pollInterval = 60;
  // At noon on the control store's clock no case crosses midnight.
  S().clockOffset.hours = 12 - FromTimedate(CSMgrNow(), Zone::System()).hour;
  const LocalTime now = FromTimedate(CSMgrNow(), Zone::System());
  const int32_t today = (FirstWeekday(now.year, now.month) + now.day - 1) % 7 + 1;
  const int32_t tomorrow = today % 7 + 1;
  struct Case {
    const char* what;
    std::function<void(GVDOC)> enabled;
    int32_t activeDay;  // 0: no ActiveDays
    bool firstRuns;
  };
  const auto number = [](int64_t v) { return [v](GVDOC d) { OrdexWriteNumber(d, "Enabled", v); }; };
  const auto text = [](const char* v) { return [v](GVDOC d) { OrdexWriteText(d, "Enabled", v); }; };
  const Case cases[] = {
      {"text 1", text("1"), 0, true},
      {"number 1", number(1), 0, true},
      {"absent", [](GVDOC d) { OrdexDeleteItem(d, "Enabled"); }, 0, true},
      {"text 0", text("0"), 0, false},
      {"number 0", number(0), 0, false},
      {"text 2 on a permitted day", text("2"), today, true},
      {"number 2 on a permitted day", number(2), today, true},
      {"text 2 outside its days", text("2"), tomorrow, false},
      {"number 2 outside its days", number(2), tomorrow, false},
      {"number 1 outside its days (no window test)", number(1), tomorrow, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const GVNOTEID first = MakeDueActivity("First");
    const GVNOTEID second = MakeDueActivity("Second");
    Put(first, [&](GVDOC d) {
      c.enabled(d);
      OrdexWriteDatetime(d, "SchedTime", DaysFromNow(-2));
      if (c.activeDay) OrdexWriteNumberList(d, "ActiveDays", {c.activeDay});
    });
    ActivitySlot* slot = nullptr;
    EXPECT_EQ(Take(alpha_, &slot), c.firstRuns ? first : second);
    if (slot != nullptr) {
      EXPECT_EQ(slot->handle, SlotHandle(0));
      EXPECT_EQ(slot->name, c.firstRuns ? "First" : "Second");
    }
    if (!c.firstRuns) {
      EXPECT_EQ(Number(first, "Lock"), 0);
    }
    if (c.activeDay == tomorrow && !c.firstRuns) {
      EXPECT_EQ(Number(first, "ActivityID"), 0) << "re-queued by the next scan";
    }
    CSMgrSlotFree(slot);
    EXPECT_EQ(GVDocumentDelete(S().adminDb, first, 0), 0u);
    EXPECT_EQ(GVDocumentDelete(S().adminDb, second, 0), 0u);
  }
}

// Another process holding the database's write lock: every store fails at once (the session
// waits for no lock) while reading goes on.
class WriteLockHolder {
 public:
  explicit WriteLockHolder(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot hold " << file << ": " << sqlite3_errmsg(db_);
    }
  }
  ~WriteLockHolder() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  WriteLockHolder(const WriteLockHolder&) = delete;
  WriteLockHolder& operator=(const WriteLockHolder&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

TEST_F(EventTest, AFailedLockStoreGivesBackItsSlotAndDocument) {
  const GVNOTEID id = MakeDueActivity("Nightly");
  // Reopen the Administrator database so that a locked database fails a store at once.
  ASSERT_EQ(GVSetProperty(GVPROP_BUSY_TIMEOUT, 0), 0u);
  OrdexCloseIndex(&S().admin.queuedEvents);
  OrdexCloseDatabase(&S().adminDb);
  ASSERT_TRUE(OrdexOpenDatabase("", "tarnadm.odb", &S().adminDb));
  ASSERT_TRUE(OrdexOpenIndex(S().adminDb, OrdexLocateView(S().adminDb, kQueued), kQueued,
                             &S().admin.queuedEvents));
  auto next = [] {
    std::vector<uint8_t> b(next_activity::kMinLength, 0);
    tw::put_u32(b.data(), code::kNextActivity);
    tw::put_u32(b.data() + 4, static_cast<uint32_t>(b.size()));
    CSMgrDispatch(b);
    return std::pair{tw::get_u32(b.data() + 12), tw::get_i32(b.data() + next_activity::kHandle)};
  };
  // Handles are numbered in order: every document opened after this probe and still open
  // at the end leaked (the operations log stays open by design).
  auto probe = [&] {
    GVDOC doc = 0;
    EXPECT_EQ(GVDocumentOpen(S().adminDb, id, GVOPEN_READONLY, &doc), 0u);
    GVDocumentClose(doc, GVCLOSE_DISCARD);
    return doc;
  };
  const GVDOC before = probe();
  {
    WriteLockHolder holder(std::string(std::getenv("PLEXA_ROOT")) + "local/tarnadm.odb");
    for (uint32_t round = 0; round < kSlotCount + 10; ++round) {
      const auto [status, handle] = next();
      ASSERT_EQ(status, 798u) << "round " << round;
      ASSERT_EQ(handle, 0);
    }
  }
  const GVDOC after = probe();
  for (const ActivitySlot& slot : S().slots) EXPECT_TRUE(slot.Free());
  for (GVDOC h = before + 1; h < after; ++h) {
    uint32_t cls = 0;
    EXPECT_TRUE(h == S().operationsDoc || GVDocumentGetProperty(h, GVDOCPROP_CLASS, &cls) != 0)
        << "document handle " << h << " left open";
  }
  EXPECT_EQ(Number(id, "Lock"), 0);
  EXPECT_EQ(Text(id, "Enabled"), "1") << "a Lock never stored disables nothing";
  // The database free again: the activity is taken into the first slot.
  const auto [status, handle] = next();
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(handle, SlotHandle(0));
  EXPECT_EQ(Number(id, "Lock"), static_cast<int32_t>(alpha_));
}

}  // namespace
