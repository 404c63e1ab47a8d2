// Every request code of the control store round-tripped through a running ctlstore: server
// registration and state, the clock, activities by name and by id, fields and descriptions,
// logs, runs by name, and the activity slots with their release on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "ctlstore_fixture.h"

namespace twtest {
namespace {

namespace code = wire::code;

class RequestsTest : public CtlstoreTest {
 protected:
  void SetUp() override {
    CtlstoreTest::SetUp();
    Install();
    nightly_ = NewActivity("Nightly");
    Start();
  }
  void TearDown() override {
    if (process_ != nullptr) {
      EXPECT_EQ(Stop(), 0);
    }
    CtlstoreTest::TearDown();
  }

  // OpenActivity: {status, handle}.
  std::pair<uint32_t, int32_t> Open(const std::string& name, uint32_t flags = 0) {
    std::vector<uint8_t> b = Block(code::kOpenActivity, 600);
    tw::put_u32(b.data() + wire::open_activity::kFlags, flags);
    PutText(b, wire::open_activity::kName, name);
    std::vector<uint8_t> r = Exchange(b);
    return {StatusOf(r), WordAt(r, wire::open_activity::kHandle)};
  }
  // fill: what the request carries where the value goes (a client need not clear it).
  std::vector<uint8_t> GetField(int32_t handle, const std::string& item, uint32_t length = 600,
                                char fill = 0) {
    std::vector<uint8_t> b = Block(code::kGetField, length);
    std::fill(b.begin() + wire::get_field::kValue, b.end(), static_cast<uint8_t>(fill));
    tw::put_i32(b.data() + wire::get_field::kHandle, handle);
    PutText(b, wire::get_field::kItemName, item);
    return Exchange(b);
  }
  uint32_t PutField(int32_t handle, const std::string& item, const std::string& value) {
    std::vector<uint8_t> b = Block(code::kPutField, wire::put_field::kValue + value.size() + 1);
    tw::put_i32(b.data() + wire::put_field::kHandle, handle);
    PutText(b, wire::put_field::kItemName, item);
    PutText(b, wire::put_field::kValue, value);
    return StatusOf(Exchange(b));
  }
  uint32_t Done(int32_t handle, int32_t message = 0) {
    std::vector<uint8_t> b = Block(code::kDoneActivity, wire::done_activity::kMinLength);
    tw::put_i32(b.data() + wire::done_activity::kHandle, handle);
    tw::put_i32(b.data() + wire::done_activity::kCompletion, message);
    return StatusOf(Exchange(b));
  }
  std::pair<uint32_t, int32_t> GetID(int32_t kind, const std::string& name) {
    std::vector<uint8_t> b = Block(code::kGetID, 100);
    tw::put_i32(b.data() + wire::get_id::kKind, kind);
    PutText(b, wire::get_id::kName, name);
    std::vector<uint8_t> r = Exchange(b);
    return {StatusOf(r), WordAt(r, wire::get_id::kDocumentId)};
  }

  GVNOTEID nightly_ = 0;
};

TEST_F(RequestsTest, ServerInitStateAndRegistration) {
  EXPECT_EQ(Simple(code::kInit), 0u);
  EXPECT_EQ(Simple(code::kTerm), 0u);
  std::vector<uint8_t> b = Block(code::kServerInit, wire::server_init::kMinLength);
  tw::put_i32(b.data() + wire::server_init::kReread, 1);
  std::vector<uint8_t> r = Exchange(b);
  ASSERT_EQ(r.size(), wire::server_init::kMinLength);
  EXPECT_EQ(StatusOf(r), 0u);
  EXPECT_EQ(WordAt(r, wire::server_init::kServerId), static_cast<int32_t>(serverId_));
  EXPECT_EQ(WordAt(r, wire::server_init::kStatusInterval), 5);
  EXPECT_EQ(WordAt(r, wire::server_init::kPollInterval), 60);
  EXPECT_EQ(WordAt(r, wire::server_init::kMaxActivities), 10);
  EXPECT_NE(WordAt(r, wire::server_init::kTime + 4), 0);
  EXPECT_EQ(TextAt(r, wire::server_init::kServerName), "ALPHA");
  // Registration: running, its own id, a server log.
  EXPECT_EQ(ItemNumber(serverId_, "ServerStatus"), 2);
  EXPECT_EQ(ItemNumber(serverId_, "ServerID"), serverId_);
  EXPECT_NE(ItemNumber(serverId_, "LogID"), 0);
  // The re-read wrote the settings back to twmain.ini.
  EXPECT_NE(ReadFile(dir_ / "twmain.ini").find("Translation=0"), std::string::npos);

  struct StateCase {
    int32_t state;
    uint32_t status;
  };
  for (StateCase c : {StateCase{2, 0}, StateCase{7, 779}, StateCase{0, 0}, StateCase{2, 795}}) {
    std::vector<uint8_t> s = Block(code::kServerState, wire::server_state::kMinLength);
    tw::put_i32(s.data() + wire::server_state::kState, c.state);
    EXPECT_EQ(StatusOf(Exchange(s)), c.status) << c.state;
  }
  EXPECT_EQ(ItemNumber(serverId_, "ServerStatus"), 0);
  EXPECT_EQ(ItemNumber(serverId_, "ServerID"), 0);
}

TEST_F(RequestsTest, TimeAndClockAdjustment) {
  std::vector<uint8_t> before = Exchange(Block(code::kTime, wire::time_request::kMinLength));
  ASSERT_EQ(StatusOf(before), 0u);
  std::vector<uint8_t> adjust = Block(code::kAdjustClock, wire::adjust_clock::kMinLength);
  tw::put_i32(adjust.data() + wire::adjust_clock::kAdjustment + 8, 2);     // days
  tw::put_i32(adjust.data() + wire::adjust_clock::kAdjustment + 12, 999);  // never applied
  EXPECT_EQ(StatusOf(Exchange(adjust)), 0u);
  std::vector<uint8_t> after = Exchange(Block(code::kTime, wire::time_request::kMinLength));
  const int32_t day0 = WordAt(before, wire::time_request::kTime + 4) & 0xFFFFFF;
  const int32_t day1 = WordAt(after, wire::time_request::kTime + 4) & 0xFFFFFF;
  EXPECT_GE(day1 - day0, 2);
  EXPECT_LE(day1 - day0, 3);
  // An adjustment that would overflow the offset is refused and changes nothing.
  std::vector<uint8_t> huge = Block(code::kAdjustClock, wire::adjust_clock::kMinLength);
  tw::put_i32(huge.data() + wire::adjust_clock::kAdjustment + 8, INT32_MAX);
  EXPECT_EQ(StatusOf(Exchange(huge)), 779u);
  std::vector<uint8_t> still = Exchange(Block(code::kTime, wire::time_request::kMinLength));
  EXPECT_EQ(WordAt(still, wire::time_request::kTime + 4) & 0xFFFFFF, day1);
}

TEST_F(RequestsTest, GetIDByKind) {
  struct IdCase {
    int32_t kind;
    std::string name;
    uint32_t status;
  };
  for (const IdCase& c :
       {IdCase{1, "Administrator", 0}, IdCase{2, "ALPHA", 0}, IdCase{3, "Nightly", 0},
        IdCase{1, "nobody", 787}, IdCase{2, "nobody", 795}, IdCase{3, "nobody", 797},
        IdCase{4, "nobody", 799}, IdCase{5, "nobody", 801}, IdCase{6, "Nightly", 779},
        IdCase{0, "Nightly", 779}}) {
    auto [status, id] = GetID(c.kind, c.name);
    EXPECT_EQ(status, c.status) << c.kind << " " << c.name;
    if (c.status == 0) {
      EXPECT_NE(id, 0);
    }
  }
  EXPECT_EQ(GetID(2, "ALPHA").second, static_cast<int32_t>(serverId_));
  EXPECT_EQ(GetID(3, "Nightly").second, static_cast<int32_t>(nightly_));
}

TEST_F(RequestsTest, FieldsByHandleAndByIdKeepLongValuesWhole) {
  auto [status, handle] = Open("Nightly");
  ASSERT_EQ(status, 0u);
  EXPECT_EQ(handle, 3);
  std::vector<uint8_t> name = GetField(handle, "Name");
  EXPECT_EQ(StatusOf(name), 0u);
  EXPECT_EQ(TextAt(name, wire::get_field::kValue), "Nightly");

  const std::string longText(2000, 'q');
  EXPECT_EQ(PutField(handle, "Statement", longText), 0u);
  EXPECT_EQ(ItemText(nightly_, "Statement"), longText);
  std::vector<uint8_t> grown = GetField(handle, "Statement", 600);
  EXPECT_EQ(StatusOf(grown), 0u);
  ASSERT_EQ(grown.size(), 2534u);
  EXPECT_EQ(WordAt(grown, 4), 2534);
  EXPECT_EQ(TextAt(grown, wire::get_field::kValue), longText);
  // By document id as well.
  std::vector<uint8_t> byId = GetField(static_cast<int32_t>(nightly_), "Statement", 3000);
  EXPECT_EQ(byId.size(), 3000u);
  EXPECT_EQ(TextAt(byId, wire::get_field::kValue), longText);
  EXPECT_EQ(PutField(static_cast<int32_t>(nightly_), "SrcServer", "srv1"), 0u);
  EXPECT_EQ(ItemText(nightly_, "SrcServer"), "srv1");

  EXPECT_EQ(StatusOf(GetField(handle, "NoSuchItem")), 798u);
  for (int32_t bad : {1, 5, 201, 202 + 1, 1000001})
    EXPECT_EQ(StatusOf(GetField(bad, "Name")), 797u) << bad;
  EXPECT_EQ(Done(handle), 0u);
  EXPECT_EQ(StatusOf(GetField(handle, "Name")), 797u);
}

TEST_F(RequestsTest, DescriptionsRoundTrip) {
  auto [status, handle] = Open("Nightly");
  ASSERT_EQ(status, 0u);
  // PutDescription: the Statement property (token 1) as a text record, then the end record.
  const std::string statement = "echo hello";
  std::vector<uint8_t> put = Block(code::kPutDescription, 24 + 16 + statement.size() + 1 + 17);
  tw::put_i32(put.data() + wire::put_description::kHandle, handle);
  uint8_t* rec = put.data() + wire::put_description::kList;
  tw::put_u32(rec + 0, wire::record::kText);
  tw::put_u32(rec + 4, wire::record::kTextFormat);
  tw::put_u32(rec + 8, 1);
  tw::put_u32(rec + 12, static_cast<uint32_t>(statement.size() + 1));
  std::memcpy(rec + 16, statement.c_str(), statement.size() + 1);
  EXPECT_EQ(StatusOf(Exchange(put)), 0u);
  EXPECT_EQ(ItemText(nightly_, "Statement"), statement);

  for (int32_t target : {handle, static_cast<int32_t>(nightly_)}) {
    std::vector<uint8_t> get = Block(code::kGetDescription, wire::get_description::kClientLength);
    tw::put_i32(get.data() + wire::get_description::kHandle, target);
    std::vector<uint8_t> r = Exchange(get);
    EXPECT_EQ(StatusOf(r), 0u);
    ASSERT_EQ(r.size() % wire::get_description::kStep, 0u);
    const std::string bytes(r.begin(), r.end());
    EXPECT_NE(bytes.find("echo hello"), std::string::npos);
    EXPECT_NE(bytes.find("command"), std::string::npos);  // the Library record
  }
  EXPECT_EQ(Done(handle), 0u);
}

TEST_F(RequestsTest, LogRequests) {
  auto [status, handle] = Open("Nightly");
  ASSERT_EQ(status, 0u);
  struct LogCase {
    int32_t mode;
    int32_t handle;
    uint32_t status;
  };
  for (LogCase c : {LogCase{1, 0, 0}, LogCase{1, handle, 0}, LogCase{2, handle, 0},
                    LogCase{3, handle, 779}, LogCase{1, 99, 797}}) {
    std::vector<uint8_t> b = Block(code::kLog, 200);
    tw::put_i32(b.data() + wire::log_request::kMode, c.mode);
    tw::put_i32(b.data() + wire::log_request::kHandle, c.handle);
    if (c.mode == 2)
      for (int i = 0; i < 19; ++i) tw::put_i32(b.data() + wire::log_request::kCounts + 4 * i, i);
    tw::put_i32(b.data() + wire::log_request::kMessageId, 12290);
    PutText(b, wire::log_request::kText, "a line of the run");
    EXPECT_EQ(StatusOf(Exchange(b)), c.status) << c.mode << " " << c.handle;
  }
  EXPECT_EQ(Done(handle), 0u);
}

TEST_F(RequestsTest, SlotsAreTakenLowestFirstAndAlwaysReleased) {
  // A missing name without the flag: 797 and no slot kept.
  EXPECT_EQ(Open("Missing").first, 797u);
  // With the flag: a slot without a document that answers field requests with nothing.
  auto [st, byName] = Open("Missing", CSMGR_OPENF_MAY_BE_MISSING);
  ASSERT_EQ(st, 0u);
  EXPECT_EQ(byName, 3);
  std::vector<uint8_t> none = GetField(byName, "Name", 600, 'x');
  EXPECT_EQ(StatusOf(none), 0u);
  EXPECT_EQ(none.size(), 600u);
  EXPECT_EQ(TextAt(none, wire::get_field::kValue), "");
  EXPECT_EQ(PutField(byName, "Name", "x"), 0u);
  EXPECT_EQ(Done(byName), 0u);

  // A run whose document went away while it ran still gives its slot back.
  auto [st2, handle] = Open("Nightly");
  ASSERT_EQ(st2, 0u);
  EXPECT_EQ(handle, 3);
  ASSERT_EQ(GVDocumentDelete(admin_, nightly_, 0), 0u);
  EXPECT_EQ(Done(handle), 797u);
  EXPECT_EQ(StatusOf(GetField(handle, "Name")), 797u);

  // 100 slots, handles 3..201; the 101st answers 779.
  for (int i = 0; i < 100; ++i) {
    auto [s, h] = Open("Missing" + std::to_string(i), CSMGR_OPENF_MAY_BE_MISSING);
    ASSERT_EQ(s, 0u);
    EXPECT_EQ(h, 3 + 2 * i);
  }
  EXPECT_EQ(Open("OneTooMany", CSMGR_OPENF_MAY_BE_MISSING).first, 779u);
  std::vector<uint8_t> next = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
  EXPECT_EQ(StatusOf(next), 779u);
  EXPECT_EQ(Done(101), 0u);
  EXPECT_EQ(Open("Again", CSMGR_OPENF_MAY_BE_MISSING).second, 101);
}

TEST_F(RequestsTest, RunByNameAndDoneRun) {
  const GVNOTEID waiter = NewActivity("Waiter");
  struct RunCase {
    std::vector<std::string> names;
    int32_t waiter;
    uint32_t status;
  };
  for (const RunCase& c : {RunCase{{}, 0, 779}, RunCase{{"Nightly"}, 0, 0},
                           RunCase{{"Nightly"}, static_cast<int32_t>(waiter), 0}}) {
    const std::string list = TextList(c.names);
    std::vector<uint8_t> b = Block(code::kRunActivity, wire::run_activity::kNames + list.size());
    tw::put_i32(b.data() + wire::run_activity::kWaiter, c.waiter);
    std::memcpy(b.data() + wire::run_activity::kNames, list.data(), list.size());
    EXPECT_EQ(StatusOf(Exchange(b)), c.status) << c.names.size() << " " << c.waiter;
  }
  EXPECT_EQ(ItemNumber(nightly_, "RunASAP"), 1);

  auto doneRun = [](int32_t handle) {
    std::vector<uint8_t> b = Block(code::kDoneRun, wire::done_run::kMinLength);
    tw::put_i32(b.data() + wire::done_run::kHandle, handle);
    return Exchange(b);
  };
  std::vector<uint8_t> waiting = doneRun(static_cast<int32_t>(waiter));
  EXPECT_EQ(StatusOf(waiting), 0u);
  EXPECT_EQ(WordAt(waiting, wire::done_run::kHandle), static_cast<int32_t>(waiter));
  std::vector<uint8_t> free = doneRun(static_cast<int32_t>(nightly_));
  EXPECT_EQ(StatusOf(free), 0u);
  EXPECT_EQ(WordAt(free, wire::done_run::kHandle), 0);
  EXPECT_EQ(StatusOf(doneRun(0)), 797u);
  EXPECT_EQ(StatusOf(doneRun(7)), 797u);
}

TEST_F(RequestsTest, NextActivityTakesTheDueActivityAndDoneReleasesIt) {
  ASSERT_NO_FATAL_FAILURE(MakeDue(nightly_));
  std::vector<uint8_t> r = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
  ASSERT_EQ(StatusOf(r), 0u);
  const int32_t handle = WordAt(r, wire::next_activity::kHandle);
  ASSERT_EQ(handle, 3);
  EXPECT_EQ(TextAt(r, wire::next_activity::kName), "Nightly");
  EXPECT_EQ(WordAt(r, wire::next_activity::kMaxDuration), -1);
  EXPECT_EQ(ItemNumber(nightly_, "Lock"), serverId_);
  // Nothing else is due now.
  std::vector<uint8_t> none = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
  EXPECT_EQ(StatusOf(none), 0u);
  EXPECT_EQ(WordAt(none, wire::next_activity::kHandle), 0);
  EXPECT_EQ(Done(handle), 0u);
  EXPECT_EQ(ItemNumber(nightly_, "Lock"), 0);
}

// A server program that starts again while the manager still serves an earlier run of it
// (which ended without a word) registers anew: that run's activity is unlocked and its run
// ended as terminated abnormally, and the run's handle names no new run while a slot is free.
TEST_F(RequestsTest, AServerStartingAgainEndsWhatItsEarlierRunLeftLocked) {
  auto state = [](int32_t value) {
    std::vector<uint8_t> b = Block(code::kServerState, wire::server_state::kMinLength);
    tw::put_i32(b.data() + wire::server_state::kState, value);
    return StatusOf(Exchange(b));
  };
  auto next = [] {
    std::vector<uint8_t> r = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
    EXPECT_EQ(StatusOf(r), 0u);
    return WordAt(r, wire::next_activity::kHandle);
  };
  // The first start after the manager's own start-up finds the server registered by it.
  EXPECT_EQ(Simple(code::kInit), 0u);
  const double firstLog = ItemNumber(serverId_, "LogID");
  EXPECT_EQ(state(CSMGR_STATE_STARTING), 0u);
  EXPECT_EQ(ItemNumber(serverId_, "LogID"), firstLog);

  MakeDue(nightly_);
  ASSERT_EQ(next(), 3);
  EXPECT_EQ(ItemNumber(nightly_, "Lock"), serverId_);

  EXPECT_EQ(state(CSMGR_STATE_STARTING), 0u);
  EXPECT_EQ(ItemNumber(nightly_, "Lock"), 0);
  EXPECT_EQ(ItemText(nightly_, "ErrorMsg"), "Activity terminated abnormally");
  EXPECT_EQ(ItemNumber(serverId_, "ServerStatus"), 2);
  EXPECT_NE(ItemNumber(serverId_, "LogID"), firstLog);
  // The cut-off run's handle answers as a slot without its activity, and a new run gets
  // another handle.
  EXPECT_EQ(StatusOf(GetField(3, "Name")), 797u);
  const GVNOTEID second = NewActivity("Second");
  MakeDue(second);
  const int32_t again = next();
  EXPECT_EQ(again, 5);
  EXPECT_EQ(Done(again), 0u);

  // After a stop the next start registers the server again, as stopped cleanly.
  EXPECT_EQ(state(CSMGR_STATE_DOWN), 0u);
  EXPECT_EQ(ItemNumber(serverId_, "ServerStatus"), 0);
  EXPECT_EQ(state(CSMGR_STATE_STARTING), 0u);
  EXPECT_EQ(ItemNumber(serverId_, "ServerStatus"), 2);
  EXPECT_EQ(ItemNumber(serverId_, "ServerID"), serverId_);
}

}  // namespace
}  // namespace twtest
