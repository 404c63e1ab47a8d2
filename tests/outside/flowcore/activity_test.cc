// The current activity: stand-alone and named programs' activities, the runner's activity
// from its run-table entry against the fake control store, properties by token, their
// persistence, the close request, runs of other activities, launching testact.twx, and
// where log entries go.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"

namespace {

using twtest::FakeCtlstore;
using twtest::FakeValue;
using twtest::Text;

constexpr uint32_t kNoDocument = 797;
constexpr uint32_t kMissingItem = 798;
constexpr uint32_t kUnreachable = 782;
constexpr uint32_t kBadRequest = 779;

std::string StreamProperty(uint32_t token, uint32_t format = 0) {
  Text out;
  EXPECT_EQ(TWActivityGetPropertyStream(token, format, out.get()), TWSUCCESS) << std::hex << token;
  return out.str();
}

// ---------------------------------------------------------------- programs -------------

TEST(ActivityLifeTest, CallsNeedTheSystemAndAtMostOneActivity) {
  twtest::Installation inst;
  MsgTblEntry entry{5, TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
  int32_t value = 17;
  EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWFAIL_TWXINIT);
  EXPECT_EQ(TWActivityInit(&entry), TWFAIL_TWXINIT);
  EXPECT_EQ(TWActivityGetPropertyInt(1, &value), TWFAIL_TWXINIT);

  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyInt(1, &value), TWFAIL_ACTIVITY_NOT_INIT);
  EXPECT_EQ(TWActivityLaunch(), TWFAIL_ACTIVITY_NOT_INIT);
  EXPECT_EQ(TWActivityFree(), TWFAIL_ACTIVITY_NOT_INIT);
  EXPECT_EQ(TWActivityInit(nullptr), TWFAIL_NULL_BUFFER);
  MsgTblEntry noHandle{};
  EXPECT_EQ(TWActivityInit(&noHandle), 1537u);

  ASSERT_EQ(TWActivityAlloc(0, "", 0), TWSUCCESS);
  EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWActivityInit(&entry), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWActivityGetCommand(), 0u);
  // An unnamed activity has no library to launch.
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWActivityLaunch(), 1538u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: An invalid Activity definition was encountered\n");
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);
  EXPECT_EQ(TWActivityFree(), TWFAIL_ACTIVITY_NOT_INIT);
  EXPECT_EQ(value, 17);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

// An unnamed activity of a stand-alone program.
class StandAloneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
    ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  void TearDown() override { EXPECT_EQ(TWSystemTerm(), TWSUCCESS); }

  static uint32_t Add(const char* name, uint32_t store) {
    Text n(name ? name : "");
    uint32_t token = 0;
    EXPECT_EQ(TWActivityAddProperty(name ? n.get() : nullptr, store, &token), TWSUCCESS);
    return token;
  }

  twtest::Installation inst_;
};

TEST_F(StandAloneTest, AddedPropertiesHaveReservedTokensPerName) {
  EXPECT_EQ(Add("Colour", TWPROPSTORE_DYNAMIC), TWTOKENF_RESERVED | 1u);
  EXPECT_EQ(Add("COLOUR", TWPROPSTORE_SYSTEM), TWTOKENF_RESERVED | 1u);  // known: unchanged
  EXPECT_EQ(Add(nullptr, TWPROPSTORE_DYNAMIC), TWTOKENF_RESERVED | 2u);
  EXPECT_EQ(Add("", TWPROPSTORE_DYNAMIC), TWTOKENF_RESERVED | 2u);

  Text name("Kept");
  uint32_t token = 0x55;
  EXPECT_EQ(TWActivityAddProperty(name.get(), TWPROPSTORE_STATIC, &token), TWFAIL_STATIC_PROPERTY);
  EXPECT_EQ(TWActivityAddProperty(name.get(), 9, &token), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWActivityAddProperty(name.get(), TWPROPSTORE_DYNAMIC, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(token, 0x55u);

  uint32_t listed = 0, type = 0, store = 0;
  Text listedName;
  ASSERT_EQ(TWActivityListProperty(TWLIST_FIRST, &listed, &type, &store, listedName.get()),
            TWSUCCESS);
  EXPECT_EQ(listed, TWTOKENF_RESERVED | 1u);
  EXPECT_EQ(store, static_cast<uint32_t>(TWPROPSTORE_DYNAMIC));
  EXPECT_EQ(listedName.str(), "Colour");
  ASSERT_EQ(TWActivityListProperty(TWLIST_NEXT, &listed, nullptr, nullptr, listedName.get()),
            TWSUCCESS);
  EXPECT_EQ(listedName.str(), "");
  EXPECT_EQ(TWActivityListProperty(TWLIST_NEXT, &listed, nullptr, nullptr, nullptr),
            TWFAIL_END_OF_DATA);
  EXPECT_EQ(TWActivityListProperty(7, &listed, nullptr, nullptr, nullptr), TWFAIL_INVALID_LIST);
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  EXPECT_EQ(TWActivityListProperty(TWLIST_NEXT, &listed, nullptr, nullptr, nullptr),
            TWFAIL_LIST_SETUP);
}

TEST_F(StandAloneTest, ValuesConvertOnReadAndFailuresLeaveTheDefault) {
  uint32_t number = Add("Number", TWPROPSTORE_DYNAMIC);
  Text text("  42 ");
  ASSERT_EQ(TWActivitySetPropertyStream(number, text.get()), TWSUCCESS);
  int32_t i = 0;
  double f = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(number, &i), TWSUCCESS);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(TWActivityGetPropertyFloat(number, &f), TWSUCCESS);
  EXPECT_EQ(f, 42.0);
  TWDatetime when{1, 2};
  EXPECT_NE(TWActivityGetPropertyDatetime(number, &when), TWSUCCESS);
  EXPECT_EQ(when.ticks, 1u);
  EXPECT_EQ(when.date, 2u);

  // A missing value and a value taken away both leave the caller's default.
  i = 17;
  EXPECT_EQ(TWActivityGetPropertyInt(0x77, &i), TWFAIL_MISSING_PROPERTY);
  ASSERT_EQ(TWActivitySetPropertyInt(number, nullptr), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyInt(number, &i), TWFAIL_MISSING_PROPERTY);
  EXPECT_EQ(i, 17);
  EXPECT_EQ(TWActivityGetPropertyInt(number, nullptr), TWFAIL_NULL_RESULT);

  // Into a caller's field of another type.
  TWFIELD field = TWNULLHANDLE;
  ASSERT_EQ(TWFieldAlloc(&field, TWTYPE_TEXT, 1), TWSUCCESS);
  int32_t seven = 7;
  ASSERT_EQ(TWActivitySetPropertyInt(number, &seven), TWSUCCESS);
  EXPECT_EQ(TWActivityGetProperty(number, field), TWSUCCESS);
  Text out;
  EXPECT_EQ(TWFieldGetStream(field, 1, TWSTREAMFMT_NATIVE, out.get(), nullptr), TWSUCCESS);
  EXPECT_EQ(out.str(), "7");
  EXPECT_EQ(TWActivityGetProperty(number, TWNULLHANDLE), TWFAIL_INVALID_FIELD);
  EXPECT_EQ(TWFieldFree(field), TWSUCCESS);
}

TEST_F(StandAloneTest, NullArgumentsAreAnsweredNeverFollowed) {
  uint32_t token = Add("Value", TWPROPSTORE_DYNAMIC);
  int32_t one = 1;
  ASSERT_EQ(TWActivitySetPropertyInt(token, &one), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyStream(token, 0, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWActivityGetPropertyFloat(token, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWActivityGetPropertyCurrency(token, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWActivityGetPropertyNumeric(token, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWActivityGetPropertyDatetime(token, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWActivitySetProperty(token, TWNULLHANDLE), TWFAIL_INVALID_FIELD);
  EXPECT_EQ(TWActivityLookupLink(nullptr, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWActivityListProperty(TWLIST_FIRST, nullptr, nullptr, nullptr, nullptr), TWSUCCESS);
  EXPECT_EQ(TWActivityGetLogLast(nullptr, nullptr, nullptr), 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWActivityLogStreamEx(0, nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr),
            TWFAIL_EXTERNAL);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: External error\n");
  // The value survived every refused call.
  int32_t read = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(token, &read), TWSUCCESS);
  EXPECT_EQ(read, 1);
}

TEST_F(StandAloneTest, TextListsReadWholeOrByTheirFirstEntry) {
  uint32_t list = Add("Targets", TWPROPSTORE_DYNAMIC);
  std::string bytes = twtest::TextList({"first", "second"});
  TWStream value{0, 0, TWSTREAMFMT_TEXT_LIST, static_cast<uint32_t>(bytes.size()), bytes.data()};
  ASSERT_EQ(TWActivitySetPropertyStream(list, &value), TWSUCCESS);
  EXPECT_EQ(StreamProperty(list), "first");
  EXPECT_EQ(StreamProperty(list, TWSTREAMFMT_TEXT_LIST), bytes);

  Text single("only");
  ASSERT_EQ(TWActivitySetPropertyStream(list, single.get()), TWSUCCESS);
  EXPECT_EQ(StreamProperty(list, TWSTREAMFMT_TEXT_LIST), twtest::TextList({"only"}));
}

TEST_F(StandAloneTest, BooleansReadIntegersAndTheKnownWords) {
  uint32_t flag = Add("Flag", TWPROPSTORE_DYNAMIC);
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {{"1", 1}, {" yes ", 1}, {"TRUE", 1}, {"on", 1},    {"t", 1},
                        {"Y", 1}, {"0", 0},     {"No", 0},   {"false", 0}, {" off", 0},
                        {"", 0},  {"F", 0},     {"2", -5},   {"maybe", -5}};
  for (const Case& c : cases) {
    Text t(c.text);
    ASSERT_EQ(TWActivitySetPropertyStream(flag, t.get()), TWSUCCESS);
    EXPECT_EQ(TWActivityGetPropertyBoolean(flag, -5), c.expected) << "'" << c.text << "'";
  }
  int32_t two = 2;
  ASSERT_EQ(TWActivitySetPropertyInt(flag, &two), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyBoolean(flag, 0), 1);
  EXPECT_EQ(TWActivityGetPropertyBoolean(0x99, -5), -5);
}

TEST_F(StandAloneTest, LinkOnePredefinedTokensFallBackToTheActivitysOwn) {
  Text metadata("EMP");
  ASSERT_EQ(TWActivitySetPropertyStream(TWTOKEN_METADATA, metadata.get()), TWSUCCESS);
  EXPECT_EQ(StreamProperty(TWTOKENF_SRC | TWTOKEN_METADATA), "EMP");
  // Only link 1, and only predefined and control tokens, share the activity's values.
  Text out;
  EXPECT_EQ(TWActivityGetPropertyStream(TWTOKENF_DEST | TWTOKEN_METADATA, 0, out.get()),
            TWFAIL_MISSING_PROPERTY);
  int32_t five = 5;
  ASSERT_EQ(TWActivitySetPropertyInt(5, &five), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyStream(TWTOKENF_SRC | 5, 0, out.get()), TWFAIL_MISSING_PROPERTY);
  // A value of the link-1 token itself wins.
  Text own("DEPT");
  ASSERT_EQ(TWActivitySetPropertyStream(TWTOKENF_SRC | TWTOKEN_METADATA, own.get()), TWSUCCESS);
  EXPECT_EQ(StreamProperty(TWTOKENF_SRC | TWTOKEN_METADATA), "DEPT");
}

TEST_F(StandAloneTest, SystemPropertiesOutliveTheActivityUntilSystemTerm) {
  uint32_t shared = Add("Shared", TWPROPSTORE_SYSTEM);
  Text value("kept");
  ASSERT_EQ(TWActivitySetPropertyStream(shared, value.get()), TWSUCCESS);
  uint32_t dynamic = Add("Dynamic", TWPROPSTORE_DYNAMIC);
  ASSERT_EQ(TWActivitySetPropertyStream(dynamic, value.get()), TWSUCCESS);
  ASSERT_EQ(TWActivityFree(), TWSUCCESS);

  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  uint32_t again = Add("dynamic", TWPROPSTORE_DYNAMIC);
  Text out;
  EXPECT_EQ(TWActivityGetPropertyStream(again, 0, out.get()), TWFAIL_MISSING_PROPERTY);
  EXPECT_EQ(StreamProperty(Add("SHARED", TWPROPSTORE_SYSTEM)), "kept");

  ASSERT_EQ(TWSystemTerm(), TWSUCCESS);
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  EXPECT_EQ(TWActivityGetPropertyStream(Add("Shared", TWPROPSTORE_SYSTEM), 0, out.get()),
            TWFAIL_MISSING_PROPERTY);
}

TEST_F(StandAloneTest, EntriesGoToStandardErrorAndSetTheStatus) {
  Text emp("EMP");
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWActivityLogEx(12545, 0, 0, 0, emp.get(), nullptr, nullptr), 12545u);
  EXPECT_EQ(TWActivityGetStatus(), 12545u);
  EXPECT_EQ(TWActivityLog(12545), 12545u);  // already the status: no second entry
  Text external("Invalid object name 'x'.");
  EXPECT_EQ(TWActivityLogStream(0, external.get(), 208), TWFAIL_EXTERNAL);
  EXPECT_EQ(TWActivityLogStream(TWLOGSTREAMF_EVENT, nullptr, 0), TWSUCCESS);
  EXPECT_EQ(TWActivityLogStream(0x4, external.get(), 0), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWActivityLog(0), TWSUCCESS);
  EXPECT_EQ(TWActivityLogEx(0, 1, 2, 3, nullptr, nullptr, nullptr), TWSUCCESS);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Metadata object 'EMP' does not exist\n"
            "Error: Invalid object name 'x'.  (208)\n"
            "External error\n");

  // The event left the failure as the status; the last entry is the event.
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_EXTERNAL);
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, static_cast<uint32_t>(TWEVENT_EXTERNAL));
  EXPECT_EQ(last.text, "External error");
  Text status;
  ASSERT_EQ(TWActivityGetStatusStream(TWFAIL_EXTERNAL, status.get()), TWSUCCESS);
  EXPECT_EQ(status.str(), "Invalid object name 'x'.  (208)");
  ASSERT_EQ(TWActivityGetStatusStream(12545, status.get()), TWSUCCESS);
  EXPECT_EQ(status.str(), "Metadata object does not exist");
  EXPECT_EQ(TWActivityGetStatusStream(12545, nullptr), TWFAIL_NULL_RESULT);

  EXPECT_EQ(TWActivityClearStatus(), TWSUCCESS);
  EXPECT_EQ(TWActivityGetStatus(), 0u);
  ASSERT_EQ(TWActivityGetStatusStream(TWFAIL_EXTERNAL | TWSTATUSF_EVENT, status.get()), TWSUCCESS);
  EXPECT_EQ(status.str(), "External error");

  // Without an activity the entry still reaches standard error.
  ASSERT_EQ(TWActivityFree(), TWSUCCESS);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWActivityLog(12553), 12553u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: No value supplied for required property\n");
  EXPECT_EQ(TWActivityGetStatus(), 0u);
}

TEST_F(StandAloneTest, EntriesOfAConnectorNameTheLinkOnLinesOfTheirOwn) {
  twtest::InstallPlugin(inst_, "testlink");
  Text library("testlink");
  TWCONNECT link = TWNULLHANDLE;
  ASSERT_EQ(TWConnectAlloc(&link, TWTOKENF_EXTERN, library.get()), TWSUCCESS);
  Text fail("Connect");
  ASSERT_EQ(TWConnectSetPropertyStream(link, 4, fail.get()), TWSUCCESS);  // testlink's Fail
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWConnectConnect(link), TWFAIL_EXTERNAL);
  EXPECT_EQ(
      testing::internal::GetCapturedStderr(),
      "Error: testlink refused Connect  (42)\n  -- Link 'testlink'    (Function -Connect-)\n");
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.text, "testlink refused Connect  (42)");
  EXPECT_EQ(last.externalCode, 42u);
  EXPECT_EQ(last.externalText, "testlink refused Connect");
  EXPECT_EQ(TWConnectDisconnect(link), TWSUCCESS);
  EXPECT_EQ(TWConnectFree(link), TWSUCCESS);
}

TEST(ActivityPrintTest, PrintWritesALineToStandardOutput) {
  Text message("hello");
  testing::internal::CaptureStdout();
  EXPECT_EQ(TWActivityPrint(message.get()), TWSUCCESS);
  EXPECT_EQ(TWActivityPrint(nullptr), TWSUCCESS);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hello\n");
}

// ---------------------------------------------------------------- named programs -------

TEST(NamedActivityTest, NeedsAServingControlStore) {
  twtest::Installation inst;
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  EXPECT_EQ(TWActivityAlloc(0, "Nightly", 0), kUnreachable);
  EXPECT_EQ(TWActivityGetStatus(), 0u);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

TEST(NamedActivityTest, TakesItsDocumentAndReportsItsEnd) {
  twtest::Installation inst;
  FakeCtlstore store;
  ASSERT_TRUE(store.serving());
  int32_t id =
      twtest::AddTestActivity(store, "Nightly", {{"Mode", twtest::kMode, FakeValue::Number(3)}});
  store.SetItem(id, "Note", FakeValue::Text("from the document"));
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);

  // The name as two-byte text.
  const char16_t name[] = u"Nightly";
  ASSERT_EQ(TWActivityAlloc(0, name, TWSTREAMFMT_UNICODE), TWSUCCESS);
  int32_t mode = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(twtest::kMode, &mode), TWSUCCESS);
  EXPECT_EQ(mode, 3);

  Text note("Note");
  uint32_t token = 0;
  ASSERT_EQ(TWActivityAddProperty(note.get(), TWPROPSTORE_STATIC, &token), TWSUCCESS);
  EXPECT_EQ(StreamProperty(token), "from the document");
  Text changed("changed");
  EXPECT_EQ(TWActivitySetPropertyStream(token, changed.get()), TWSUCCESS);
  EXPECT_EQ(store.Item(id, "Note"), FakeValue::Text("changed"));

  Text emp("EMP");
  EXPECT_EQ(TWActivityLogEx(12545, 0, 0, 0, emp.get(), nullptr, nullptr), 12545u);
  ASSERT_EQ(TWActivityFree(), TWSUCCESS);

  std::vector<twtest::FakeLogLine> log = store.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].activity, "Nightly");
  EXPECT_EQ(log[0].messageId, 12545u);
  EXPECT_EQ(log[0].text, "Error: Metadata object 'EMP' does not exist");
  std::vector<twtest::FakeCounts> counts = store.Counts();
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts[0].counts[0], 1);
  std::vector<twtest::FakeDone> done = store.Done();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].activity, "Nightly");
  EXPECT_EQ(done[0].completion, 4148u);
  EXPECT_EQ(store.OpenSlots(), 0);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

TEST(NamedActivityTest, ANameWithoutDocumentStartsWithoutProperties) {
  twtest::Installation inst;
  FakeCtlstore store;
  ASSERT_TRUE(store.serving());
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  ASSERT_EQ(TWActivityAlloc(0, "Link Test (x)", 0), TWSUCCESS);
  Text name("Note");
  uint32_t token = 0;
  EXPECT_EQ(TWActivityAddProperty(name.get(), TWPROPSTORE_STATIC, &token), TWFAIL_STATIC_PROPERTY);
  int32_t five = 5;
  EXPECT_EQ(TWActivitySetPropertyInt(TWTOKEN_METADATA, &five), TWSUCCESS);  // memory only
  ASSERT_EQ(TWActivityFree(), TWSUCCESS);
  std::vector<twtest::FakeDone> done = store.Done();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].completion, 0u);
  for (const twtest::FakeExchange& x : store.Journal())
    EXPECT_NE(x.code, tw::csmgr::code::kPutDescription);
  EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
}

// ---------------------------------------------------------------- the runner -----------

// A runner's activity: a document of testact in the fake control store and the run-table
// entry of its slot.
class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.serving());
    twtest::InstallPlugin(inst_, "testact");
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  }
  void TearDown() override { EXPECT_EQ(TWSystemTerm(), TWSUCCESS); }

  // Makes the activity named name current from a new slot's entry.
  void Start(const std::string& name, const std::vector<twtest::ActivityProperty>& properties,
             const std::string& library = "TestAct.twx") {
    id_ = twtest::AddTestActivity(store_, name, properties, library);
    entry_.handle = twtest::OpenSlot(name);
    ASSERT_EQ(TWActivityInit(&entry_), TWSUCCESS);
  }

  twtest::Installation inst_;
  FakeCtlstore store_;
  int32_t id_ = 0;
  MsgTblEntry entry_{0, TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
};

TEST_F(RunnerTest, InitAnswersForEntriesItCannotUse) {
  // The store gives no description without a Library item, and leaves a blank one out.
  store_.AddDocument(CSMGR_ID_ACTIVITY, "Bare");
  twtest::AddTestActivity(store_, "Blank", {}, "  ");
  struct Case {
    int32_t handle;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, 1537},
      {twtest::OpenSlot("Bare"), kMissingItem},
      {twtest::OpenSlot("Blank"), 1538},
      {0x4000, kNoDocument},  // a document id the store does not have
  };
  for (const Case& c : cases) {
    MsgTblEntry entry{c.handle, TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
    EXPECT_EQ(TWActivityInit(&entry), c.expected) << c.handle;
  }
  EXPECT_EQ(TWActivityGetStatus(), 0u);
}

TEST_F(RunnerTest, InitInstallsTheControlStoresInternationalFormat) {
  twtest::FakeSettings settings;
  settings.intl = *TWPlatGetIntlFormat();
  ASSERT_NE(std::string(settings.intl.date.text), ".");
  std::memcpy(settings.intl.date.text, ".", 2);
  settings.intl.date.length = 1;
  store_.SetSettings(settings);
  ASSERT_EQ(CSMgrInit(nullptr), TWSUCCESS);
  Start("Formats", {});
  EXPECT_EQ(std::string(TWPlatGetIntlFormat()->date.text), ".");
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
  EXPECT_EQ(CSMgrTerm(), TWSUCCESS);
}

TEST_F(RunnerTest, LaunchReturnsThePluginsStatusOnce) {
  Start("Returns", {{"Result", twtest::kResult, FakeValue::Number(12547)}});
  EXPECT_EQ(TWActivityLaunch(), 12547u);
  EXPECT_EQ(TWActivityLaunch(), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
  EXPECT_EQ(TWActivityTerm(), TWFAIL_ACTIVITY_NOT_INIT);
  // The runner's activity is not reported done by the engine; its counts are stored.
  EXPECT_TRUE(store_.Done().empty());
  ASSERT_EQ(store_.Counts().size(), 1u);
  EXPECT_EQ(store_.Counts()[0].activity, "Returns");
}

TEST_F(RunnerTest, LibrariesThatCannotBeLaunchedAreLoggedWithTheirName) {
  for (const char* plugin : {"testlink", "badact_kind", "badact_version"})
    twtest::InstallPlugin(inst_, plugin);
  struct Case {
    const char* library;
    uint32_t expected;
    const char* line;
  };
  const Case cases[] = {
      {"nosuch", 1539, "Error: Cannot load Activity TWX Library 'nosuch'"},
      {"../testact", 1539, "Error: Cannot load Activity TWX Library '../testact'"},
      {"TestLink.TWX", 1539,
       "Error: Cannot load Activity TWX Library 'TestLink.TWX'"},  // no TWXLaunch
      {"BadAct_Kind.twx", 1540, "Error: Invalid Activity TWX Library 'BadAct_Kind.twx'"},
      {"badact_version", 1541, "Error: Incorrect activity version"},
  };
  int n = 0;
  for (const Case& c : cases) {
    Start("Broken" + std::to_string(n++), {}, c.library);
    EXPECT_EQ(TWActivityLaunch(), c.expected) << c.library;
    ASSERT_FALSE(store_.Log().empty());
    EXPECT_EQ(store_.Log().back().text, c.line);
    EXPECT_EQ(store_.Log().back().messageId, c.expected);
    EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
  }
}

TEST_F(RunnerTest, PropertiesComeFromTheDescriptionAndItsLinks) {
  int32_t link = store_.AddDocument(CSMGR_ID_LINK, "Pairs");
  store_.AddProperty(link, "Library", TWTOKEN_LIBRARY, FakeValue::Text("testlink"));
  store_.AddProperty(link, "Server", TWTOKEN_SERVER, FakeValue::Text("link server"));
  store_.AddProperty(link, "Metadata", TWTOKEN_METADATA, FakeValue::Text("link table"));
  Start("Reads", {{"Metadata", TWTOKEN_METADATA, FakeValue::Text("EMP")},
                  {"LinkA", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text("Pairs")},
                  {"Targets", twtest::kTargets, FakeValue::TextList({"A", "B"})}});
  EXPECT_EQ(StreamProperty(TWTOKEN_METADATA), "EMP");
  // The activity's value before its link's, the link's where the activity has none.
  EXPECT_EQ(StreamProperty(TWTOKENF_SRC | TWTOKEN_METADATA), "EMP");
  EXPECT_EQ(StreamProperty(TWTOKENF_SRC | TWTOKEN_SERVER), "link server");
  EXPECT_EQ(StreamProperty(twtest::kTargets, TWSTREAMFMT_TEXT_LIST), twtest::TextList({"A", "B"}));
  int32_t linkId = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(TWTOKENF_SRC | TWTOKEN_LINK, &linkId), TWSUCCESS);
  EXPECT_EQ(linkId, link);
  Text out;
  EXPECT_EQ(TWActivityGetPropertyStream(TWTOKENF_DEST | TWTOKEN_SERVER, 0, out.get()),
            TWFAIL_MISSING_PROPERTY);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
}

TEST_F(RunnerTest, SetValuesAreKeptInTheDocumentForTheNextRun) {
  Start("Counts", {{"Mode", twtest::kMode, FakeValue::Number(3)},
                   {"Counter", twtest::kCounter, FakeValue::Number(4)},
                   {"Title", 0x20, FakeValue::Text("old")}});
  EXPECT_EQ(TWActivityLaunch(), TWSUCCESS);
  EXPECT_EQ(store_.Item(id_, "Counter"), FakeValue::Number(5));

  // Text of a listed token is stored; an unlisted table token is refused but set.
  Text title("new");
  EXPECT_EQ(TWActivitySetPropertyStream(0x20, title.get()), TWSUCCESS);
  EXPECT_EQ(store_.Item(id_, "Title"), FakeValue::Text("new"));
  int32_t result = 9;
  EXPECT_EQ(TWActivitySetPropertyInt(twtest::kResult, &result), kMissingItem);
  int32_t read = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(twtest::kResult, &read), TWSUCCESS);
  EXPECT_EQ(read, 9);

  // Neither listed nor a table token, a text list, or a null value: this run only.
  size_t before = store_.Journal().size();
  EXPECT_EQ(TWActivitySetPropertyInt(0x77, &result), TWSUCCESS);
  std::string bytes = twtest::TextList({"x"});
  TWStream list{0, 0, TWSTREAMFMT_TEXT_LIST, static_cast<uint32_t>(bytes.size()), bytes.data()};
  EXPECT_EQ(TWActivitySetPropertyStream(twtest::kTargets, &list), TWSUCCESS);
  EXPECT_EQ(TWActivitySetPropertyStream(0x20, nullptr), TWSUCCESS);
  EXPECT_EQ(store_.Journal().size(), before);
  Text out;
  EXPECT_EQ(TWActivityGetPropertyStream(0x20, 0, out.get()), TWFAIL_MISSING_PROPERTY);
  EXPECT_EQ(store_.Item(id_, "Title"), FakeValue::Text("new"));
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
}

TEST_F(RunnerTest, TheCloseRequestIsSeenThroughTheEntry) {
  Start("Polls", {{"Mode", twtest::kMode, FakeValue::Number(2)}});
  struct Case {
    uint32_t closeRequest;
    uint32_t command;
  };
  const Case cases[] = {
      {TWCLOSE_NONE, 0}, {TWCLOSE_TIMEOUT, 1543}, {7, 0}, {TWCLOSE_REQUESTED, 1542}};
  for (const Case& c : cases) {
    __atomic_store_n(&entry_.closeRequest, c.closeRequest, __ATOMIC_RELEASE);
    EXPECT_EQ(TWActivityGetCommand(), c.command) << c.closeRequest;
  }
  // The plug-in polls until another thread asks the run to close.
  __atomic_store_n(&entry_.closeRequest, TWCLOSE_NONE, __ATOMIC_RELEASE);
  std::thread closer(
      [&] { __atomic_store_n(&entry_.closeRequest, TWCLOSE_REQUESTED, __ATOMIC_RELEASE); });
  EXPECT_EQ(TWActivityLaunch(), 1542u);
  closer.join();
  // The engine never writes the entry.
  EXPECT_EQ(entry_.result, TWMSGTBL_NO_RESULT);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
}

TEST_F(RunnerTest, SynchronousRunsWaitForTheActivitiesStarted) {
  int32_t a = store_.AddDocument(CSMGR_ID_ACTIVITY, "A");
  int32_t b = store_.AddDocument(CSMGR_ID_ACTIVITY, "B");
  Start("Waits", {{"Mode", twtest::kMode, FakeValue::Number(4)},
                  {"Targets", twtest::kTargets, FakeValue::TextList({"A", "B"})}});
  std::thread finisher([&] {
    for (int i = 0; i < 500 && !store_.Waiting(id_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    store_.ReleaseWaits(a);
    store_.ReleaseWaits(b);
  });
  EXPECT_EQ(TWActivityLaunch(), TWSUCCESS);
  finisher.join();
  EXPECT_EQ(store_.Started(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
}

TEST_F(RunnerTest, RunsEndEarlyOnErrorsCloseAndStopTime) {
  store_.AddDocument(CSMGR_ID_ACTIVITY, "A");
  Start("Runs", {});
  Text a("A"), missing("Nobody");
  std::string empty = twtest::TextList({});
  TWStream none{0, 0, TWSTREAMFMT_TEXT_LIST, static_cast<uint32_t>(empty.size()), empty.data()};
  TWDatetime past{};
  ASSERT_EQ(TWDatetimeSetConstant(&past, TWDTCONST_MINIMUM), TWSUCCESS);

  EXPECT_EQ(TWActivityRunActivity(a.get(), 0, nullptr), TWSUCCESS);
  EXPECT_FALSE(store_.Waiting(id_));
  EXPECT_EQ(TWActivityRunActivity(missing.get(), TWACTRUNF_SYNCHRONOUS, nullptr), kNoDocument);
  EXPECT_EQ(TWActivityRunActivity(&none, 0, nullptr), kBadRequest);
  EXPECT_EQ(TWActivityRunActivity(a.get(), TWACTRUNF_SYNCHRONOUS, &past), TWFAIL_ACTRUN_TIMEOUT);
  entry_.closeRequest = TWCLOSE_TIMEOUT;
  EXPECT_EQ(TWActivityRunActivity(a.get(), TWACTRUNF_SYNCHRONOUS, nullptr), 1543u);
  EXPECT_EQ(TWActivityRunActivity(nullptr, 0, nullptr), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWActivityRunActivity(a.get(), 0x8, nullptr), TWFAIL_INVALID_FLAGS);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);

  // An unnamed activity starts runs but has nothing to wait on.
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  EXPECT_EQ(TWActivityRunActivity(a.get(), TWACTRUNF_SYNCHRONOUS, nullptr), kNoDocument);
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);
}

TEST_F(RunnerTest, EntriesGoToTheRunLogWithTheirDecorations) {
  int32_t link = store_.AddDocument(CSMGR_ID_LINK, "Pairs");
  store_.AddProperty(link, "Library", TWTOKEN_LIBRARY, FakeValue::Text("testlink"));
  store_.AddProperty(link, "Rows", 1, FakeValue::Text("a,b;c,d;e,f"));
  twtest::InstallPlugin(inst_, "testlink");
  Start("Fetches", {{"Mode", twtest::kMode, FakeValue::Number(5)},
                    {"Counter", twtest::kCounter, FakeValue::Number(0)},
                    {"LinkA", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text("Pairs")}});
  EXPECT_EQ(TWActivityLaunch(), TWSUCCESS);
  int32_t rows = 0;
  EXPECT_EQ(TWActivityGetPropertyInt(twtest::kCounter, &rows), TWSUCCESS);
  EXPECT_EQ(rows, 3);
  Text event("Copied [[TWI1]] rows[[TWX]] to '[[TWS1]]'");
  EXPECT_EQ(
      TWActivityLogStreamEx(TWLOGSTREAMF_EVENT, event.get(), 0, 3, 0, 0, nullptr, nullptr, nullptr),
      TWSUCCESS);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);

  // The connector's failure carries its link and entry point.
  store_.AddProperty(link, "Fail", 4, FakeValue::Text("Fetch"));
  Start("FetchFails", {{"Mode", twtest::kMode, FakeValue::Number(5)},
                       {"Counter", twtest::kCounter, FakeValue::Number(0)},
                       {"LinkA", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text("Pairs")}});
  EXPECT_EQ(TWActivityLaunch(), TWFAIL_EXTERNAL);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_EXTERNAL);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);

  std::vector<twtest::FakeLogLine> log = store_.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].activity, "Fetches");
  EXPECT_EQ(log[0].messageId, static_cast<uint32_t>(TWEVENT_EXTERNAL));
  EXPECT_EQ(log[0].text, "Copied 3 rows");
  EXPECT_EQ(log[1].activity, "FetchFails");
  EXPECT_EQ(log[1].messageId, TWFAIL_EXTERNAL);
  EXPECT_EQ(log[1].text,
            "Error: testlink refused Fetch  (42)|  -- Link 'Pairs'    (Function -Fetch-)");
  std::vector<twtest::FakeCounts> counts = store_.Counts();
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0].counts[0], 0);
  EXPECT_EQ(counts[1].counts[0], 1);
}

// A plug-in that leaves a connection open has it ended with the activity; a disconnect that
// fails there (a final commit) is the ending's answer, not lost.
TEST_F(RunnerTest, AConnectionLeftOpenEndsWithTheActivityAndAFailureIsAnswered) {
  int32_t link = store_.AddDocument(CSMGR_ID_LINK, "Pairs");
  store_.AddProperty(link, "Library", TWTOKEN_LIBRARY, FakeValue::Text("testlink"));
  store_.AddProperty(link, "Fail", 4, FakeValue::Text("Disconnect"));
  twtest::InstallPlugin(inst_, "testlink");
  Start("Leaves", {{"Mode", twtest::kMode, FakeValue::Number(7)},
                   {"LinkA", TWTOKENF_SRC | TWTOKEN_LINK, FakeValue::Text("Pairs")}});
  EXPECT_EQ(TWActivityLaunch(), TWSUCCESS);
  EXPECT_EQ(TWActivityTerm(), TWFAIL_EXTERNAL);
  std::vector<twtest::FakeLogLine> log = store_.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(
      log[0].text,
      "Error: testlink refused Disconnect  (42)|  -- Link 'Pairs'    (Function -Disconnect-)");
  std::vector<twtest::FakeCounts> counts = store_.Counts();
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts[0].counts[0], 1);
}

TEST_F(RunnerTest, AnUnreachableRunLogFallsBackToStandardError) {
  Start("Quiet", {});
  store_.FailCode(tw::csmgr::code::kLog, 783);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TWActivityLog(12553), 12553u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: No value supplied for required property\n");
  EXPECT_EQ(TWActivityTerm(), 783u);
}

}  // namespace
