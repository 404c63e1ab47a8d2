// The control-store client against the test manager: every request's bytes on the wire (from
// the manager's journal), the replies it reads back, malformed replies, the manager's own
// statuses, no manager at all, an asynchronous request and the start-up of the manager.
#include "csmgr_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "csmgr_records.h"
#include "csmgr_wire.h"
#include "fake_ctlstore.h"
#include "field_test_util.h"
#include "flowcore.h"
#include "platform.h"
#include "tw/coding.h"

namespace {

namespace wire = tw::csmgr;
namespace code = tw::csmgr::code;
using twtest::FakeCtlstore;
using twtest::FakeExchange;
using twtest::FakeValue;
using twtest::Field;
using twtest::Installation;
using twtest::Stream;
using twtest::TextList;

// Started as an installation's "ctlstore" by the start-up test, this program serves as the
// manager of that installation until a Shutdown request instead of running tests.
[[maybe_unused]] const bool kServedAsManager = [] {
  const char* dir = std::getenv("TW_TEST_CTLSTORE_DIR");
  if (dir == nullptr) return false;
  if (TWPlatInit((std::string(dir) + "prog").c_str()) == TWSUCCESS) {
    FakeCtlstore manager;
    if (manager.serving()) manager.WaitForShutdown(60000);
  }
  std::_Exit(0);
}();

constexpr uint32_t kBroken = TWFAIL_CSMGR_COMMUNICATION;
constexpr uint32_t kUnreachable = TWFAIL_CSMGR_UNREACHABLE;

uint32_t Word(const std::string& block, uint32_t offset) {
  return offset + 4 <= block.size() ? tw::get_u32(block.data() + offset) : 0xDEADBEEF;
}

// The header of a request as the client must send it: code, Length = bytes, no flags, no
// status.
void ExpectRequest(const FakeExchange& x, uint32_t c, uint32_t length) {
  EXPECT_EQ(x.code, c);
  EXPECT_EQ(x.request.size(), length) << wire::CodeName(c);
  EXPECT_EQ(Word(x.request, 0), c);
  EXPECT_EQ(Word(x.request, 4), length);
  EXPECT_EQ(Word(x.request, 8), 0u);
  EXPECT_EQ(Word(x.request, 12), 0u);
}

bool SameDatetime(TWDatetime a, TWDatetime b) {
  return a.ticks == b.ticks && a.date == b.date;
}

class CsmgrClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fake.serving()); }

  FakeExchange Last() {
    auto journal = fake.Journal();
    return journal.empty() ? FakeExchange{} : journal.back();
  }
  size_t Sent() { return fake.Journal().size(); }
  int32_t Activity(const std::string& name) {
    int32_t id = fake.AddDocument(CSMGR_ID_ACTIVITY, name);
    fake.SetItem(id, "Library", FakeValue::Text("testact"));
    return id;
  }
  int32_t Open(const std::string& name) {
    Stream n(name);
    int32_t handle = 0;
    EXPECT_EQ(CSMgrOpenActivity(&handle, n.get(), 0), TWSUCCESS);
    return handle;
  }

  Installation inst;
  FakeCtlstore fake;
};

// ------------------------------------------------------------ requests on the wire ------

TEST_F(CsmgrClientTest, SessionRequestsCarryTheHeaderOnly) {
  EXPECT_EQ(CSMgrTerm(), TWSUCCESS);
  ExpectRequest(Last(), code::kTerm, 16);
  EXPECT_EQ(CSMgrShutdown(), TWSUCCESS);
  ExpectRequest(Last(), code::kShutdown, 16);
  EXPECT_TRUE(fake.WaitForShutdown(5000));
  // The manager has gone: nothing serves the pipe any more.
  TWDatetime now{};
  EXPECT_EQ(CSMgrTime(&now), kUnreachable);
}

TEST_F(CsmgrClientTest, InitAndServerInfoFillTheSettings) {
  twtest::FakeSettings settings;
  settings.serverId = 0x2468;
  settings.statusInterval = 11;
  settings.pollInterval = 12;
  settings.maxDuration = 13;
  settings.maxActivities = 14;
  settings.closeTimeout = 15;
  settings.serverName = std::string(600, 'S');  // cut by the manager's fixed field
  settings.intl.zone = -5;
  settings.intl.flags = TWINTL_DAYLIGHT;
  std::memcpy(settings.intl.decimal.text, ",", 2);
  settings.intl.decimal.length = 1;
  std::memcpy(settings.intl.time.text, ".", 2);
  settings.intl.time.length = 1;
  fake.SetSettings(settings);

  CSMgrServerSettings s{};
  ASSERT_EQ(CSMgrInit(&s), TWSUCCESS);
  auto journal = fake.Journal();
  ASSERT_EQ(journal.size(), 2u);
  ExpectRequest(journal[0], code::kInit, 16);
  ExpectRequest(journal[1], code::kServerInit, 654);
  EXPECT_EQ(Word(journal[1].request, wire::server_init::kReread), 0u);
  EXPECT_EQ(s.serverId, 0x2468);
  EXPECT_EQ(s.statusInterval, 11);
  EXPECT_EQ(s.pollInterval, 12);
  EXPECT_EQ(s.maxDuration, 13);
  EXPECT_EQ(s.maxActivities, 14);
  EXPECT_EQ(s.closeTimeout, 15);
  EXPECT_TRUE(SameDatetime(s.startTime, fake.Now()));
  EXPECT_EQ(std::string(static_cast<const char*>(s.serverName.data), s.serverName.length),
            std::string(511, 'S'));
  EXPECT_EQ(s.serverName.format, static_cast<uint32_t>(TWSTREAMFMT_NATIVE));

  settings.pollInterval = 99;
  fake.SetSettings(settings);
  ASSERT_EQ(CSMgrServerInfo(&s), TWSUCCESS);
  ExpectRequest(Last(), code::kServerInit, 654);
  EXPECT_EQ(Word(Last().request, wire::server_init::kReread), 1u);
  EXPECT_EQ(s.pollInterval, 99);
  TWStreamDataFree(&s.serverName);

  // The international record comes back byte for byte.
  tw::engine::csmgr::ServerInfo info;
  ASSERT_EQ(tw::engine::csmgr::ServerInit(false, &info), TWSUCCESS);
  EXPECT_EQ(std::memcmp(&info.intl, &settings.intl, sizeof info.intl), 0);
  EXPECT_EQ(info.translate, settings.translate);

  EXPECT_EQ(CSMgrInit(nullptr), TWSUCCESS);
}

TEST_F(CsmgrClientTest, ServerStateSendsTheState) {
  struct Step {
    int32_t state;
    uint32_t status;
  } steps[] = {
      {CSMGR_STATE_ALIVE, TWSUCCESS},
      {7, TWFAIL_CSMGR_ARGUMENT},
      {CSMGR_STATE_DOWN, TWSUCCESS},
      {CSMGR_STATE_ALIVE, 795},  // the server is no longer registered
  };
  for (const Step& s : steps) {
    EXPECT_EQ(CSMgrServerState(s.state), s.status) << s.state;
    ExpectRequest(Last(), code::kServerState, 20);
    EXPECT_EQ(static_cast<int32_t>(Word(Last().request, 16)), s.state);
  }
}

TEST_F(CsmgrClientTest, NextActivityFillsTheRecord) {
  int32_t id = Activity("Nightly");
  fake.SetItem(id, "MaxDuration", FakeValue::Number(45));
  fake.SetItem(id, "Priority", FakeValue::Number(3));
  fake.QueueDue("Nightly");

  CSMgrNextActivityRecord next{};
  ASSERT_EQ(CSMgrNextActivity(&next), TWSUCCESS);
  ExpectRequest(Last(), code::kNextActivity, 552);
  EXPECT_EQ(next.activityHandle, 3);
  EXPECT_EQ(next.maxDuration, 45);
  EXPECT_EQ(next.priority, 3);
  EXPECT_TRUE(SameDatetime(next.startTime, fake.Now()));
  EXPECT_EQ(std::string(static_cast<const char*>(next.activityName.data), next.activityName.length),
            "Nightly");

  // Nothing due: handle 0 with status 0, and the slot taken for the look-up is free again.
  ASSERT_EQ(CSMgrNextActivity(&next), TWSUCCESS);
  EXPECT_EQ(next.activityHandle, 0);
  EXPECT_EQ(next.activityName.length, 0u);
  EXPECT_EQ(fake.OpenSlots(), 1);
  TWStreamDataFree(&next.activityName);
}

TEST_F(CsmgrClientTest, OpenAndDoneActivity) {
  Activity("Nightly");
  Stream nightly("Nightly"), ghost("Ghost");
  int32_t handle = -5;
  ASSERT_EQ(CSMgrOpenActivity(&handle, nightly.get(), 0), TWSUCCESS);
  EXPECT_EQ(handle, 3);
  ExpectRequest(Last(), code::kOpenActivity, 24 + 8);
  EXPECT_EQ(Word(Last().request, 20), 0u);
  EXPECT_EQ(Last().request.substr(24), std::string("Nightly\0", 8));

  int32_t missing = -5;
  EXPECT_EQ(CSMgrOpenActivity(&missing, ghost.get(), 0), TWFAIL_NO_ACTIVITY_DOC);
  EXPECT_EQ(missing, -5);
  ASSERT_EQ(CSMgrOpenActivity(&missing, ghost.get(), CSMGR_OPENF_MAY_BE_MISSING), TWSUCCESS);
  EXPECT_EQ(Word(Last().request, 20), CSMGR_OPENF_MAY_BE_MISSING);
  EXPECT_EQ(missing, 5);
  EXPECT_EQ(fake.Slot(5)->documentId, 0);

  ASSERT_EQ(CSMgrDoneActivity(handle, 4148), TWSUCCESS);
  ExpectRequest(Last(), code::kDoneActivity, 32);
  EXPECT_EQ(Word(Last().request, 16), 3u);
  EXPECT_EQ(Word(Last().request, 20), 0u);
  EXPECT_EQ(Word(Last().request, 24), 0u);
  EXPECT_EQ(Word(Last().request, 28), 4148u);
  ASSERT_EQ(fake.Done().size(), 1u);
  EXPECT_EQ(fake.Done()[0].activity, "Nightly");
  EXPECT_EQ(CSMgrDoneActivity(handle, 0), TWFAIL_NO_ACTIVITY_DOC);
}

TEST_F(CsmgrClientTest, LogWritesTextsAndCounts) {
  Activity("Nightly");
  int32_t h = Open("Nightly");
  Stream started("Started");
  const uint32_t event = TWSTATUSF_EVENT | 808;
  ASSERT_EQ(CSMgrLog(h, event, started.get()), TWSUCCESS);
  FakeExchange x = Last();
  ExpectRequest(x, code::kLog, 104 + 8);
  EXPECT_EQ(Word(x.request, 16), wire::log_request::kModeText);
  EXPECT_EQ(Word(x.request, 20), static_cast<uint32_t>(h));
  EXPECT_EQ(Word(x.request, 100), event);
  EXPECT_EQ(x.request.substr(104), std::string("Started\0", 8));

  ASSERT_EQ(CSMgrLog(0, 814, nullptr), TWSUCCESS);
  ExpectRequest(Last(), code::kLog, 105);
  Stream stray("stray");
  EXPECT_EQ(CSMgrLog(201, 5, stray.get()), TWFAIL_NO_ACTIVITY_DOC);
  auto log = fake.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].activity, "Nightly");
  EXPECT_EQ(log[0].text, "Started");
  EXPECT_EQ(log[1].handle, 0);
  EXPECT_EQ(log[1].text, "");
  EXPECT_EQ(log[2].handle, 0);  // an unknown handle's line goes to the operations log

  int32_t counts[CSMGR_LOG_COUNTS];
  for (uint32_t i = 0; i < CSMGR_LOG_COUNTS; ++i) counts[i] = static_cast<int32_t>(i * i) - 3;
  ASSERT_EQ(CSMgrLogCounts(h, counts), TWSUCCESS);
  x = Last();
  ExpectRequest(x, code::kLog, 100);
  EXPECT_EQ(Word(x.request, 16), wire::log_request::kModeCounts);
  EXPECT_EQ(Word(x.request, 20), static_cast<uint32_t>(h));
  for (uint32_t i = 0; i < CSMGR_LOG_COUNTS; ++i)
    EXPECT_EQ(static_cast<int32_t>(Word(x.request, 24 + 4 * i)), counts[i]) << i;
  ASSERT_EQ(fake.Counts().size(), 1u);
  fake.SetLogWithoutCounts(true);
  EXPECT_EQ(CSMgrLogCounts(h, counts), TWFAIL_LOG_ITEM);
}

TEST_F(CsmgrClientTest, TimeAndAdjustClock) {
  TWDatetime before{};
  ASSERT_EQ(CSMgrTime(&before), TWSUCCESS);
  ExpectRequest(Last(), code::kTime, 24);
  EXPECT_TRUE(SameDatetime(before, fake.Now()));

  CSMgrClockAdjustment a{0, 0, 1, 99, 2, 0, 0, 0};
  ASSERT_EQ(CSMgrAdjustClock(&a), TWSUCCESS);
  FakeExchange x = Last();
  ExpectRequest(x, code::kAdjustClock, 56);
  EXPECT_EQ(Word(x.request, 16), 0u);
  EXPECT_EQ(Word(x.request, 20), 0u);
  const int32_t words[] = {0, 0, 1, 99, 2, 0, 0, 0};
  for (uint32_t i = 0; i < 8; ++i)
    EXPECT_EQ(static_cast<int32_t>(Word(x.request, 24 + 4 * i)), words[i]) << i;

  TWDatetime after{};
  ASSERT_EQ(CSMgrTime(&after), TWSUCCESS);
  int32_t hours = 0;
  ASSERT_EQ(TWDatetimeGetDiff(&after, &before, TWDTUNIT_HOUR, &hours), TWSUCCESS);
  EXPECT_EQ(hours, 26);
}

TEST_F(CsmgrClientTest, GetDescriptionGivesTheRecordsTheManagerSent) {
  int32_t link = fake.AddDocument(CSMGR_ID_LINK, "ORDERS_PG");
  int32_t id = Activity("Nightly");
  fake.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text("  direct"));
  fake.AddProperty(id, "SrcLink", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text("ORDERS_PG"));
  fake.AddProperty(id, "Rows", 0x10, FakeValue::Number(12));
  fake.AddProperty(id, "Targets", 0x11, FakeValue::TextList({"a", "bc"}));
  fake.ListProperty(id, "Absent", 0x12);

  Stream records;
  ASSERT_EQ(CSMgrGetDescription(id, records.get()), TWSUCCESS);
  FakeExchange x = Last();
  ExpectRequest(x, code::kGetDescription, 4096);
  EXPECT_EQ(Word(x.request, 16), 0u);
  EXPECT_EQ(Word(x.request, 20), static_cast<uint32_t>(id));
  EXPECT_EQ(records.format(), static_cast<uint32_t>(TWSTREAMFMT_BLOB));
  size_t length = 0;
  ASSERT_TRUE(tw::engine::MeasureRecords(std::string_view(x.reply).substr(25), &length));
  EXPECT_EQ(records.bytes(), x.reply.substr(25, length));

  tw::engine::Description d;
  ASSERT_EQ(tw::engine::DecodeDescription(records.bytes(), &d), TWSUCCESS);
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].token, static_cast<uint32_t>(TWTOKEN_LIBRARY));
  EXPECT_EQ(twtest::TextOf(d[0].value.get()), "direct");
  EXPECT_EQ(d[1].token, static_cast<uint32_t>(TWTOKENF_SRC | TWTOKEN_LINK));
  EXPECT_EQ(twtest::TextOf(d[1].value.get()), std::to_string(link));
  EXPECT_EQ(d[2].token, 0x10u);
  EXPECT_EQ(d[3].token, 0x11u);

  // The C++ call under it gives the same records.
  std::string raw;
  ASSERT_EQ(tw::engine::csmgr::GetDescription(id, &raw), TWSUCCESS);
  EXPECT_EQ(raw, records.bytes());
}

TEST_F(CsmgrClientTest, GetDescriptionReadsAReplyThatGrew) {
  int32_t id = Activity("Big");
  fake.AddProperty(id, "Script", 0x10, FakeValue::Text(std::string(6000, 'q')));
  Stream records;
  ASSERT_EQ(CSMgrGetDescription(id, records.get()), TWSUCCESS);
  EXPECT_EQ(Last().reply.size(), 8192u);
  EXPECT_EQ(Word(Last().reply, 4), 8192u);
  tw::engine::Description d;
  ASSERT_EQ(tw::engine::DecodeDescription(records.bytes(), &d), TWSUCCESS);
  ASSERT_EQ(d.size(), 2u);  // the script and the Library item
  EXPECT_EQ(twtest::TextOf(d[0].value.get()), std::string(6000, 'q'));
}

TEST_F(CsmgrClientTest, FetchDescriptionDecodesOrAnswersWhyNot) {
  int32_t id = Activity("Nightly");
  fake.AddProperty(id, "Rows", 0x10, FakeValue::Number(12));
  tw::engine::Description d;
  ASSERT_EQ(tw::engine::FetchDescription(id, &d), TWSUCCESS);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(twtest::TextOf(d[0].value.get()), "12");

  // Well-framed records whose number is 3 bytes long: the description cannot be read.
  fake.TamperReply(code::kGetDescription, [](std::string& b) {
    tw::put_u32(b.data() + 25 + 12, 3);
    std::memset(b.data() + 25 + 19, 0, 18);
  });
  tw::engine::Description kept;
  EXPECT_EQ(tw::engine::FetchDescription(id, &kept), 1545u);
  EXPECT_EQ(tw::engine::FetchDescription(0x7FFE, &kept), TWFAIL_NO_ACTIVITY_DOC);
  EXPECT_TRUE(kept.empty());
}

TEST_F(CsmgrClientTest, GetDescriptionFailuresLeaveTheStreamAlone) {
  int32_t id = Activity("Nightly");
  fake.AddProperty(id, "SrcLink", TWTOKEN_LINK, FakeValue::Text("NO_SUCH_LINK"));
  Stream records("kept");
  EXPECT_EQ(CSMgrGetDescription(id, records.get()), TWFAIL_NO_LINK_DOC);
  EXPECT_EQ(CSMgrGetDescription(0x7FFE, records.get()), TWFAIL_NO_ACTIVITY_DOC);
  EXPECT_EQ(records.bytes(), "kept");
}

TEST_F(CsmgrClientTest, PutDescriptionSendsCompleteRecords) {
  int32_t id = Activity("Nightly");
  fake.ListProperty(id, "Rows", 0x10);
  fake.ListProperty(id, "Label", 0x11);
  Field rows(TWTYPE_INT), label(TWTYPE_TEXT);
  int32_t five = 5;
  ASSERT_EQ(TWFieldSetInt(rows, 1, &five), TWSUCCESS);
  Stream text("new");
  ASSERT_EQ(TWFieldSetStream(label, 1, text.get()), TWSUCCESS);
  std::string list;
  ASSERT_EQ(tw::engine::EncodeProperty(0x10, rows, &list), TWSUCCESS);
  ASSERT_EQ(tw::engine::EncodeProperty(0x11, label, &list), TWSUCCESS);
  const std::string end(17, '\0');

  struct Case {
    const char* what;
    std::string given;
  } cases[] = {
      {"without the end record", list},
      {"with the end record and bytes after it", list + end + "tail"},
      {"with an end head that lacks its zero byte", list + end.substr(0, 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake.RemoveItem(id, "Rows");
    Stream given(c.given, TWSTREAMFMT_BLOB);
    ASSERT_EQ(CSMgrPutDescription(id, given.get()), TWSUCCESS);
    FakeExchange x = Last();
    ExpectRequest(x, code::kPutDescription, static_cast<uint32_t>(24 + list.size() + 17));
    EXPECT_EQ(Word(x.request, 20), static_cast<uint32_t>(id));
    EXPECT_EQ(x.request.substr(24), list + end);
    EXPECT_EQ(fake.Item(id, "Rows"), FakeValue::Number(5));
    EXPECT_EQ(fake.Item(id, "Label"), FakeValue::Text("new"));
  }

  Stream empty("", TWSTREAMFMT_BLOB);
  ASSERT_EQ(CSMgrPutDescription(id, empty.get()), TWSUCCESS);
  ExpectRequest(Last(), code::kPutDescription, wire::put_description::kMinLength + 1);

  size_t sent = Sent();
  Stream torn(list.substr(0, list.size() - 1), TWSTREAMFMT_BLOB);
  EXPECT_EQ(CSMgrPutDescription(id, torn.get()), TWFAIL_INVALID_STREAM);
  EXPECT_EQ(Sent(), sent);

  std::string unlisted;
  ASSERT_EQ(tw::engine::EncodeProperty(0x99, rows, &unlisted), TWSUCCESS);
  Stream other(unlisted, TWSTREAMFMT_BLOB);
  EXPECT_EQ(CSMgrPutDescription(id, other.get()), TWFAIL_ACTIVITY_ITEM);
}

TEST_F(CsmgrClientTest, GetAndPutField) {
  int32_t id = Activity("Nightly");
  Stream hello("hello");
  ASSERT_EQ(CSMgrPutField(id, "Comment", hello.get()), TWSUCCESS);
  FakeExchange x = Last();
  ExpectRequest(x, code::kPutField, 532 + 6);
  EXPECT_EQ(Word(x.request, 16), static_cast<uint32_t>(id));
  EXPECT_EQ(x.request.substr(20, 8), std::string("Comment\0", 8));
  EXPECT_EQ(x.request.substr(532), std::string("hello\0", 6));
  EXPECT_EQ(fake.Item(id, "Comment"), FakeValue::Text("hello"));

  Stream value;
  ASSERT_EQ(CSMgrGetField(id, "Comment", value.get()), TWSUCCESS);
  ExpectRequest(Last(), code::kGetField, 1044);
  EXPECT_EQ(Last().reply.size(), 1044u);
  EXPECT_EQ(value.bytes(), "hello");
  EXPECT_EQ(value.format(), static_cast<uint32_t>(TWSTREAMFMT_NATIVE));

  // A value that does not fit the block comes back in a grown reply.
  fake.SetItem(id, "Script", FakeValue::Text(std::string(2000, 'z')));
  ASSERT_EQ(CSMgrGetField(id, "Script", value.get()), TWSUCCESS);
  EXPECT_EQ(Last().reply.size(), wire::get_field::GrownLength(2000));
  EXPECT_EQ(value.bytes(), std::string(2000, 'z'));

  Stream kept("kept");
  EXPECT_EQ(CSMgrGetField(id, "Missing", kept.get()), TWFAIL_ACTIVITY_ITEM);
  EXPECT_EQ(kept.bytes(), "kept");

  // An item name beyond the fixed field is cut before a character that would not fit.
  std::string longName = std::string(510, 'a') + "\xC3\xA9";
  EXPECT_EQ(CSMgrGetField(id, longName.c_str(), kept.get()), TWFAIL_ACTIVITY_ITEM);
  EXPECT_EQ(Last().request.substr(20, 512), std::string(510, 'a') + std::string(2, '\0'));

  // A null value stores an empty text.
  ASSERT_EQ(CSMgrPutField(id, "Comment", nullptr), TWSUCCESS);
  EXPECT_EQ(fake.Item(id, "Comment"), FakeValue::Text(""));

  // A stream too small for the value: the caller's stream is left as it was.
  TWStream small{};
  ASSERT_EQ(TWStreamCreate(&small, 3, 0, TWSTREAMFMT_NATIVE), TWSUCCESS);
  EXPECT_EQ(CSMgrGetField(id, "Script", &small), TWFAIL_OVERFLOW);
  EXPECT_EQ(small.length, 0u);
  TWStreamDataFree(&small);
}

TEST_F(CsmgrClientTest, RunActivityAndDoneRun) {
  int32_t a = Activity("A"), b = Activity("B"), w = Activity("W");
  Stream names(TextList({"A", "B"}), TWSTREAMFMT_TEXT_LIST);
  ASSERT_EQ(CSMgrRunActivity(w, names.get()), TWSUCCESS);
  FakeExchange x = Last();
  ExpectRequest(x, code::kRunActivity, static_cast<uint32_t>(24 + TextList({"A", "B"}).size()));
  EXPECT_EQ(Word(x.request, 16), static_cast<uint32_t>(w));
  EXPECT_EQ(Word(x.request, 20), 0u);
  EXPECT_EQ(x.request.substr(24), TextList({"A", "B"}));
  EXPECT_EQ(fake.Started(), (std::vector<std::string>{"A", "B"}));

  int32_t finished = -1;
  ASSERT_EQ(CSMgrDoneRun(w, &finished), TWSUCCESS);
  ExpectRequest(Last(), code::kDoneRun, 20);
  EXPECT_EQ(Word(Last().request, 16), static_cast<uint32_t>(w));
  EXPECT_EQ(finished, 0);
  fake.ReleaseWaits(a);
  ASSERT_EQ(CSMgrDoneRun(w, &finished), TWSUCCESS);
  EXPECT_EQ(finished, 0);
  fake.ReleaseWaits(b);
  ASSERT_EQ(CSMgrDoneRun(w, &finished), TWSUCCESS);
  EXPECT_EQ(finished, 1);

  Stream one("A"), none(""), unknown("Nobody");
  ASSERT_EQ(CSMgrRunActivity(0, one.get()), TWSUCCESS);
  EXPECT_EQ(Last().request.substr(24), TextList({"A"}));
  EXPECT_EQ(CSMgrRunActivity(0, none.get()), TWFAIL_CSMGR_ARGUMENT);
  EXPECT_EQ(Last().request.size(), 26u);
  EXPECT_EQ(CSMgrRunActivity(0, unknown.get()), TWFAIL_NO_ACTIVITY_DOC);
  finished = -1;
  EXPECT_EQ(CSMgrDoneRun(0, &finished), TWFAIL_NO_ACTIVITY_DOC);
  EXPECT_EQ(finished, -1);
}

TEST_F(CsmgrClientTest, GetIDSearchesTheViewOfTheKind) {
  struct Case {
    uint32_t kind;
    uint32_t notFound;
  } cases[] = {
      {CSMGR_ID_ADMINISTRATOR, 787},
      {CSMGR_ID_SERVER, 795},
      {CSMGR_ID_ACTIVITY, TWFAIL_NO_ACTIVITY_DOC},
      {CSMGR_ID_LINK, TWFAIL_NO_LINK_DOC},
      {CSMGR_ID_OPTIONS, TWFAIL_NO_OPTIONS_DOC},
  };
  Stream name("Thing"), other("Other");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    int32_t id = fake.AddDocument(c.kind, "Thing");
    int32_t found = -1;
    ASSERT_EQ(CSMgrGetID(c.kind, name.get(), &found), TWSUCCESS);
    EXPECT_EQ(found, id);
    ExpectRequest(Last(), code::kGetID, 24 + 6);
    EXPECT_EQ(Word(Last().request, 20), c.kind);
    EXPECT_EQ(Last().request.substr(24), std::string("Thing\0", 6));
    found = -1;
    EXPECT_EQ(CSMgrGetID(c.kind, other.get(), &found), c.notFound);
    EXPECT_EQ(found, -1);
  }
  int32_t found = -1;
  EXPECT_EQ(CSMgrGetID(6, name.get(), &found), TWFAIL_CSMGR_ARGUMENT);
}

TEST_F(CsmgrClientTest, NullArgumentsAreRefusedWithoutARequest) {
  Stream s("x");
  int32_t h = 0;
  struct Case {
    const char* what;
    std::function<uint32_t()> call;
    uint32_t status;
  } cases[] = {
      {"ServerInfo", [] { return CSMgrServerInfo(nullptr); }, TWFAIL_NULL_RESULT},
      {"NextActivity", [] { return CSMgrNextActivity(nullptr); }, TWFAIL_NULL_RESULT},
      {"OpenActivity handle", [&] { return CSMgrOpenActivity(nullptr, s.get(), 0); },
       TWFAIL_NULL_RESULT},
      {"OpenActivity name", [&] { return CSMgrOpenActivity(&h, nullptr, 0); }, TWFAIL_NULL_BUFFER},
      {"LogCounts", [] { return CSMgrLogCounts(3, nullptr); }, TWFAIL_NULL_BUFFER},
      {"Time", [] { return CSMgrTime(nullptr); }, TWFAIL_NULL_RESULT},
      {"AdjustClock", [] { return CSMgrAdjustClock(nullptr); }, TWFAIL_NULL_BUFFER},
      {"GetDescription", [] { return CSMgrGetDescription(3, nullptr); }, TWFAIL_NULL_RESULT},
      {"PutDescription", [] { return CSMgrPutDescription(3, nullptr); }, TWFAIL_NULL_BUFFER},
      {"GetField item", [&] { return CSMgrGetField(3, nullptr, s.get()); }, TWFAIL_NULL_BUFFER},
      {"GetField value", [] { return CSMgrGetField(3, "Name", nullptr); }, TWFAIL_NULL_RESULT},
      {"PutField item", [&] { return CSMgrPutField(3, nullptr, s.get()); }, TWFAIL_NULL_BUFFER},
      {"RunActivity", [] { return CSMgrRunActivity(3, nullptr); }, TWFAIL_NULL_BUFFER},
      {"DoneRun", [] { return CSMgrDoneRun(3, nullptr); }, TWFAIL_NULL_RESULT},
      {"GetID name", [&] { return CSMgrGetID(CSMGR_ID_LINK, nullptr, &h); }, TWFAIL_NULL_BUFFER},
      {"GetID result", [&] { return CSMgrGetID(CSMGR_ID_LINK, s.get(), nullptr); },
       TWFAIL_NULL_RESULT},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), c.status) << c.what;
  EXPECT_EQ(Sent(), 0u);
}

// ------------------------------------------------------------ replies that are wrong ----

TEST_F(CsmgrClientTest, MalformedRepliesAnswer783AndLeaveOutputsAlone) {
  int32_t id = Activity("Nightly");
  fake.SetItem(id, "Comment", FakeValue::Text("hello"));
  fake.QueueDue("Nightly");
  auto setLength = [](std::string& b) {
    tw::put_u32(b.data() + 4, static_cast<uint32_t>(b.size()));
  };
  TWDatetime now{1, 2};
  auto time = [&] { return CSMgrTime(&now); };
  Stream value("kept");
  int32_t word = -1;
  CSMgrNextActivityRecord next{};
  next.activityHandle = -1;

  struct Case {
    const char* what;
    uint32_t code;
    std::function<void(std::string&)> tamper;
    std::function<uint32_t()> call;
  } cases[] = {
      {"shorter than a header", code::kTime,
       [&](std::string& b) {
         b.resize(12);
         setLength(b);
       },
       time},
      {"a Length word beyond the bytes sent", code::kTime,
       [](std::string& b) { tw::put_u32(b.data() + 4, static_cast<uint32_t>(b.size() + 10)); },
       time},
      {"shorter than the request", code::kTime,
       [&](std::string& b) {
         b.resize(20);
         setLength(b);
       },
       time},
      {"longer than the request for a code that never grows", code::kTime,
       [&](std::string& b) {
         b.append(8, '\0');
         setLength(b);
       },
       time},
      {"another code", code::kTime, [](std::string& b) { tw::put_u32(b.data(), code::kLog); },
       time},
      {"no reply at all", code::kTime, [](std::string& b) { b.clear(); }, time},
      {"a grown GetField longer than its value", code::kGetField,
       [&](std::string& b) {
         b.resize(wire::get_field::GrownLength(5) + 2000);
         setLength(b);
       },
       [&] { return CSMgrGetField(id, "Comment", value.get()); }},
      {"a GetField value without its NUL", code::kGetField,
       [](std::string& b) { std::memset(b.data() + 532, 'v', b.size() - 532); },
       [&] { return CSMgrGetField(id, "Comment", value.get()); }},
      {"records that run past the reply", code::kGetDescription,
       [](std::string& b) { tw::put_u32(b.data() + 25 + 12, 0x7FFFFFFF); },
       [&] { return CSMgrGetDescription(id, value.get()); }},
      {"a reply grown by more steps than its records need", code::kGetDescription,
       [&](std::string& b) {
         b.resize(b.size() + 2 * wire::get_description::kStep);
         setLength(b);
       },
       [&] { return CSMgrGetDescription(id, value.get()); }},
      {"a next-activity handle that is no slot", code::kNextActivity,
       [](std::string& b) { tw::put_u32(b.data() + 16, 4); },
       [&] { return CSMgrNextActivity(&next); }},
      {"a next-activity name without its NUL", code::kNextActivity,
       [](std::string& b) { std::memset(b.data() + 40, 'n', 512); },
       [&] { return CSMgrNextActivity(&next); }},
      {"a server name without its NUL", code::kServerInit,
       [](std::string& b) { std::memset(b.data() + 56, 's', 512); },
       [] { return CSMgrInit(nullptr); }},
      {"a DoneRun word that is neither 0 nor the waiter", code::kDoneRun,
       [](std::string& b) { tw::put_u32(b.data() + 16, 999); },
       [&] { return CSMgrDoneRun(id, &word); }},
      {"a document id that is odd", code::kGetID,
       [](std::string& b) { tw::put_u32(b.data() + 16, 0x2001); },
       [&] {
         Stream n("Nightly");
         return CSMgrGetID(CSMGR_ID_ACTIVITY, n.get(), &word);
       }},
      {"an activity handle beyond the slots", code::kOpenActivity,
       [](std::string& b) { tw::put_u32(b.data() + 16, 203); },
       [&] {
         Stream n("Nightly");
         return CSMgrOpenActivity(&word, n.get(), 0);
       }},
  };
  for (const Case& c : cases) {
    fake.TamperReply(c.code, c.tamper);
    EXPECT_EQ(c.call(), kBroken) << c.what;
    fake.TamperReply(c.code, nullptr);
  }
  EXPECT_EQ(now.ticks, 1u);
  EXPECT_EQ(now.date, 2u);
  EXPECT_EQ(value.bytes(), "kept");
  EXPECT_EQ(word, -1);
  EXPECT_EQ(next.activityHandle, -1);
  // The pipe still works for the next request.
  EXPECT_EQ(time(), TWSUCCESS);
  EXPECT_TRUE(SameDatetime(now, fake.Now()));
}

TEST_F(CsmgrClientTest, EveryShortenedReplyIsRefused) {
  struct Case {
    uint32_t code;
    uint32_t length;
    std::function<uint32_t()> call;
  } cases[] = {
      {code::kServerInit, wire::server_init::kMinLength, [] { return CSMgrInit(nullptr); }},
      {code::kTime, wire::time_request::kMinLength,
       [] {
         TWDatetime now{};
         return CSMgrTime(&now);
       }},
  };
  for (const Case& c : cases) {
    for (uint32_t n = 0; n < c.length; ++n) {
      fake.TamperReply(c.code, [n](std::string& b) {
        b.resize(n);
        if (n >= 8) tw::put_u32(b.data() + 4, n);
      });
      EXPECT_EQ(c.call(), kBroken) << wire::CodeName(c.code) << " cut to " << n;
    }
    fake.TamperReply(c.code, nullptr);
    EXPECT_EQ(c.call(), TWSUCCESS);
  }
}

TEST_F(CsmgrClientTest, TheManagersOwnStatusesReachTheCaller) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    uint32_t status;
  } cases[] = {
      {"a handler's failure", [&] { fake.FailCode(code::kTime, 790); }, 790},
      {"not initialised", [&] { fake.SetInitialised(false); }, TWFAIL_CSMGR_NOT_INIT},
      {"a failed start-up answers every request", [&] { fake.SetStartupStatus(787); }, 787},
  };
  for (const Case& c : cases) {
    c.arrange();
    TWDatetime now{1, 2};
    EXPECT_EQ(CSMgrTime(&now), c.status) << c.what;
    EXPECT_EQ(now.ticks, 1u) << c.what;
  }
  // Shutdown still ends a manager whose start-up failed.
  EXPECT_EQ(CSMgrShutdown(), 787u);
  EXPECT_TRUE(fake.WaitForShutdown(5000));
}

// ------------------------------------------------------------ asynchronous --------------

TEST_F(CsmgrClientTest, AsyncRequestIsAcknowledgedBeforeItsHandlerRuns) {
  Activity("Nightly");
  namespace cs = tw::engine::csmgr;
  // DoneActivity of a handle that names no slot: the handler answers 797, which an
  // asynchronous client never sees.
  std::string block = cs::NewRequest(code::kDoneActivity, wire::done_activity::kMinLength);
  tw::put_i32(block.data() + wire::done_activity::kHandle, 201);
  std::string sync = block;
  ASSERT_EQ(cs::Exchange(&block, wire::CSMGR_ASYNC), TWSUCCESS);
  EXPECT_EQ(block, std::string("\0\0\0\0\x10\0\0\0\0\0\0\0\0\0\0\0", 16));
  ASSERT_TRUE(fake.WaitForJournal(1));
  FakeExchange x = fake.Journal()[0];
  EXPECT_TRUE(x.async);
  EXPECT_EQ(Word(x.request, 8), wire::CSMGR_ASYNC);
  EXPECT_EQ(x.reply, block);
  EXPECT_EQ(cs::Exchange(&sync), TWFAIL_NO_ACTIVITY_DOC);

  // The handler runs after the acknowledgement: the slot is taken once it is in the journal.
  std::string open = cs::NewRequest(code::kOpenActivity, wire::open_activity::kName + 8);
  std::memcpy(open.data() + wire::open_activity::kName, "Nightly", 7);
  ASSERT_EQ(cs::Exchange(&open, wire::CSMGR_ASYNC), TWSUCCESS);
  ASSERT_TRUE(fake.WaitForJournal(3));
  EXPECT_EQ(fake.OpenSlots(), 1);
}

// ------------------------------------------------------------ no manager ----------------

TEST(CsmgrClientNoManagerTest, EveryRequestAnswers782) {
  Installation inst;
  TWDatetime now{1, 2};
  Stream records("kept");
  struct Case {
    const char* what;
    std::function<uint32_t()> call;
  } cases[] = {
      {"Init", [] { return CSMgrInit(nullptr); }},
      {"Time", [&] { return CSMgrTime(&now); }},
      {"GetDescription", [&] { return CSMgrGetDescription(4, records.get()); }},
      {"Log", [] { return CSMgrLog(0, 0, nullptr); }},
      {"Shutdown", [] { return CSMgrShutdown(); }},
  };
  for (const Case& c : cases) EXPECT_EQ(c.call(), kUnreachable) << c.what;
  EXPECT_EQ(now.ticks, 1u);
  EXPECT_EQ(records.bytes(), "kept");
}

TEST(CsmgrClientNoManagerTest, WithoutAnInstallationNothingIsStarted) {
  TWPlatTerm();
  EXPECT_EQ(CSMgrStartup(), TWFAIL_PROCESS_EXEC);
  TWDatetime now{};
  EXPECT_EQ(CSMgrTime(&now), kUnreachable);
}

// ------------------------------------------------------------ start-up ------------------

class CsmgrStartupTest : public ::testing::Test {
 protected:
  void WriteProgram(const std::string& script) {
    std::string path = inst / "ctlstore";
    twtest::WriteFile(path, script);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }
  Installation inst;
};

TEST_F(CsmgrStartupTest, AServingManagerIsNotStartedAgain) {
  FakeCtlstore fake;
  ASSERT_TRUE(fake.serving());
  WriteProgram("#!/bin/sh\ntouch '" + (inst / "started") + "'\n");
  EXPECT_EQ(CSMgrStartup(), TWSUCCESS);
  EXPECT_FALSE(TWFileExist((inst / "started").c_str()));
}

TEST_F(CsmgrStartupTest, NoProgramCannotBeStarted) {
  EXPECT_EQ(CSMgrStartup(), TWFAIL_PROCESS_EXEC);
}

TEST_F(CsmgrStartupTest, AProgramThatEndsWithoutServingAnswers782) {
  WriteProgram("#!/bin/sh\nexit 1\n");
  EXPECT_EQ(CSMgrStartup(), kUnreachable);
}

TEST_F(CsmgrStartupTest, AStartedManagerServesUntilShutdown) {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  WriteProgram("#!/bin/sh\nTW_TEST_CTLSTORE_DIR='" + inst.path() + "' exec '" + std::string(self) +
               "'\n");
  ASSERT_EQ(CSMgrStartup(), TWSUCCESS);
  TWDatetime now{};
  EXPECT_EQ(CSMgrTime(&now), TWSUCCESS);
  EXPECT_EQ(CSMgrShutdown(), TWSUCCESS);
  // The manager's process gives up the pipe as it ends.
  for (int i = 0; i < 500 && TWIPCExists(wire::kPipeName, 0); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(TWIPCExists(wire::kPipeName, 0));
}

}  // namespace
