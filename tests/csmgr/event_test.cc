// Tests of activity scheduling against a real Administrator database: taking a due activity
// under the Lock re-check, failure counting, rescheduling at the end of a run and starting
// dependents.
#include "event.h"

#include <gtest/gtest.h>

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
    // The runner closes the document while running and DoneActivity reopens it.
    ASSERT_TRUE(OrdexCloseDocument(&slot->document, true));
    ASSERT_TRUE(OrdexOpenDocument(S().adminDb, expected, 0, &slot->document));
    EXPECT_EQ(CSMgrEventDone(*slot, message), 0u);
    EXPECT_EQ(slot->documentId, 0u) << "the slot is freed";
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
  // Hourly repeat: a whole number of hours after the old time (same minute and second).
  const Zone& z = Zone::System();
  const LocalTime a = FromTimedate(after, z), b = FromTimedate(before, z);
  EXPECT_EQ(a.minute, b.minute);
  EXPECT_EQ(a.second, b.second);
  EXPECT_GE(Compare(after, Time(id, "RanTime")), 0) << "not due again at once";
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

}  // namespace
