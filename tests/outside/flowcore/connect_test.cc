// Connections through the test connector: where a connection's property values come from
// and in which order they reach it, link failures with their statuses and log entries, the
// verbs and their zeroed counts, the connected state, handles, properties of the connection
// and the engine's own answers, events and the close gate.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "connect_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"

namespace twtest {
namespace {

constexpr uint32_t kSrcLink = TWTOKENF_SRC | TWTOKEN_LINK;
constexpr uint32_t kDestLink = TWTOKENF_DEST | TWTOKEN_LINK;
constexpr uint32_t LinkToken(uint32_t n) {
  return n << 24 | TWTOKEN_LINK;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

// The lines of journal whose entry point is entry.
std::vector<std::string> EntryLines(const std::vector<std::string>& journal,
                                    const std::string& entry) {
  std::vector<std::string> out;
  for (const std::string& line : journal)
    if (line.compare(0, entry.size() + 1, entry + " ") == 0 || line == entry) out.push_back(line);
  return out;
}

size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& line : lines) n += line.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// ---------------------------------------------------------------- links of activities

// Link documents served by the fake control store: LINKA (with link options OPTS) names the
// test connector and gives it values; the activity ACT names LINKA as its source and
// destination and overrides some source values.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.serving());
    options_ = store_.AddDocument(CSMGR_ID_OPTIONS, "OPTS");
    Add(options_, "Library", TWTOKEN_LIBRARY, "testlink");
    Add(options_, "Userid", TWTOKEN_USERID, "opt-user");
    Add(options_, "Database", TWTOKEN_DATABASE, "opt-db");
    linkA_ = store_.AddDocument(CSMGR_ID_LINK, "LINKA");
    Add(linkA_, "Library", TWTOKEN_LIBRARY, "TestLink");
    Add(linkA_, "Server", TWTOKEN_SERVER, "link-server");
    Add(linkA_, "Database", TWTOKEN_DATABASE, "link-db");
    Add(linkA_, "Metadata", TWTOKEN_METADATA, "link-meta");
    Add(linkA_, "Rows", kRows, "1,x;2,y");
    Add(linkA_, "Option", TWTOKEN_OPTION, "OPTS");
    // Read only: a connector refuses to have it set.
    store_.AddProperty(linkA_, "TextFormat", TWTOKEN_TEXT_FORMAT, FakeValue::Number(0x100));
  }
  void TearDown() override { TWActivityFree(); }

  void Add(int32_t id, const std::string& item, uint32_t token, const std::string& text) {
    store_.AddProperty(id, item, token, FakeValue::Text(text));
  }
  // A link document naming library with one more property.
  int32_t AddLink(const std::string& name, const std::string& library, const std::string& item,
                  uint32_t token, const std::string& value) {
    int32_t id = store_.AddDocument(CSMGR_ID_LINK, name);
    if (!library.empty()) Add(id, "Library", TWTOKEN_LIBRARY, library);
    if (!item.empty()) Add(id, item, token, value);
    return id;
  }
  // Makes ACT, with the properties given, the current activity.
  void StartActivity(const std::vector<ActivityProperty>& properties) {
    AddTestActivity(store_, "ACT", properties);
    ASSERT_EQ(TWActivityAlloc(0, "ACT", 0), TWSUCCESS);
  }

  EngineInstallation env_;
  FakeCtlstore store_;
  int32_t options_ = 0;
  int32_t linkA_ = 0;
};

TEST_F(LinkTest, ActivityValuesOverrideTheLinksWhichOverrideItsOptions) {
  StartActivity({{"SrcLink", kSrcLink, FakeValue::Text("LINKA")},
                 {"DestLink", kDestLink, FakeValue::Text("LINKA")},
                 {"SrcServer", TWTOKENF_SRC | TWTOKEN_SERVER, FakeValue::Text("act-server")},
                 {"SrcRows", TWTOKENF_SRC | kRows, FakeValue::Text("9,z")}});
  Connection src, dest;
  ASSERT_EQ(TWConnectAlloc(src.out(), TWTOKENF_SRC, nullptr), TWSUCCESS);
  ASSERT_EQ(TWConnectAlloc(dest.out(), TWTOKENF_DEST | 0x1234, nullptr), TWSUCCESS);

  // Pushed once each, in table order, without link byte; TEXT_FORMAT never.
  EXPECT_EQ(EntryLines(ConnectorJournal(src.get()), "SetProperty"),
            (std::vector<std::string>{"SetProperty token=00010001", "SetProperty token=00010002",
                                      "SetProperty token=00010003", "SetProperty token=00010005",
                                      "SetProperty token=00000001"}));
  const std::vector<std::pair<uint32_t, std::string>> expected = {{TWTOKEN_SERVER, "act-server"},
                                                                  {TWTOKEN_DATABASE, "link-db"},
                                                                  {TWTOKEN_USERID, "opt-user"},
                                                                  {TWTOKEN_METADATA, "link-meta"},
                                                                  {kRows, "9,z"},
                                                                  {TWTOKEN_PASSWORD, ""}};
  for (const auto& [token, value] : expected)
    EXPECT_EQ(PropertyText(src.get(), token), value) << std::hex << token;
  EXPECT_EQ(PropertyText(dest.get(), TWTOKEN_SERVER), "link-server");
  EXPECT_EQ(PropertyText(dest.get(), kRows), "1,x;2,y");

  // The engine answers the control tokens itself.
  int32_t link = 0, option = 0, linkCode = 0, connectCode = 0;
  EXPECT_EQ(TWConnectGetPropertyInt(src.get(), TWTOKEN_LINK, &link), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyInt(src.get(), TWTOKENF_SRC | TWTOKEN_OPTION, &option), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyInt(src.get(), TWTOKEN_LINK_CODE, &linkCode), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyInt(src.get(), TWTOKEN_CONNECT_CODE, &connectCode), TWSUCCESS);
  EXPECT_EQ(link, linkA_);
  EXPECT_EQ(option, options_);
  EXPECT_EQ(static_cast<uint32_t>(connectCode) & TWMASK_LINK_CODE, static_cast<uint32_t>(linkCode));
  EXPECT_EQ(PropertyText(src.get(), TWTOKEN_NAME), "LINKA");
  EXPECT_EQ(PropertyText(src.get(), TWTOKEN_LIBRARY), "testlink");
  std::vector<std::string> journal = ConnectorJournal(src.get());
  EXPECT_EQ(CountPrefix(journal, "GetProperty token=0003"), 0u);
  EXPECT_EQ(CountPrefix(journal, "GetProperty token=01"), 0u);
  EXPECT_EQ(CountPrefix(journal, "SetProperty token=01"), 0u);
}

TEST_F(LinkTest, ALinkByNameTakesNoActivityValues) {
  StartActivity({{"SrcServer", TWTOKENF_SRC | TWTOKEN_SERVER, FakeValue::Text("act-server")}});
  Connection c;
  Text name("LINKA");
  ASSERT_EQ(TWConnectAlloc(c.out(), 0, name.get()), TWSUCCESS);
  EXPECT_EQ(PropertyText(c.get(), TWTOKEN_SERVER), "link-server");
  EXPECT_EQ(PropertyText(c.get(), TWTOKEN_USERID), "opt-user");
  EXPECT_EQ(PropertyText(c.get(), TWTOKEN_NAME), "LINKA");
}

struct LinkFailure {
  const char* what;
  uint32_t token;  // the TWConnectAlloc token; 0: by the name LINKX
  uint32_t status;
  const char* logged;
};

TEST_F(LinkTest, BrokenLinksFailWithTheirStatusALogEntryAndNothingLeftAllocated) {
  AddLink("NOLIB", "", "Server", TWTOKEN_SERVER, "s");
  AddLink("NOSUCH", "nosuch", "", 0, "");
  AddLink("BADSTAMP", "testlink", "BaseStamp", TWTOKEN_BASESTAMP, "not a date");
  AddLink("BADFLAG", "testlink", "MapName", TWTOKEN_MAP_NAME, "maybe");
  AddLink("REJECTED", "testlink", "Server", TWTOKEN_SERVER, "reject");
  StartActivity({{"Link3", LinkToken(3), FakeValue::Text("NOLIB")},
                 {"Link4", LinkToken(4), FakeValue::Text("NOSUCH")},
                 {"Link5", LinkToken(5), FakeValue::Text("BADSTAMP")},
                 {"Link6", LinkToken(6), FakeValue::Text("BADFLAG")},
                 {"Link7", LinkToken(7), FakeValue::Text("REJECTED")}});
  const LinkFailure cases[] = {
      {"no link 2 in the activity", TWTOKENF_DEST, 1544, "Cannot find Link 'DestLink'"},
      {"no link 9 in the activity", 9u << 24, 1544, "Cannot find Link 'Link9Link'"},
      {"no link document of the name", 0, 1544, "Cannot find Link 'LINKX'"},
      {"a link without library", 3u << 24, 1545, "An invalid Link definition was encountered"},
      {"a library that is not there", 4u << 24, 1546, "Cannot load Link TWX Library 'nosuch'"},
      {"a datetime property given as text", 5u << 24, TWFAIL_PROPERTY_VALUE,
       "Invalid property value for property 'BaseStamp'"},
      {"a flag given as a word", 6u << 24, TWFAIL_PROPERTY_VALUE,
       "Invalid property value for property 'MapName'"},
      {"a value the connector refuses", 7u << 24, TWFAIL_PROPERTY_VALUE,
       "Invalid property value for property 'Server'"},
  };
  for (const LinkFailure& f : cases) {
    SCOPED_TRACE(f.what);
    Connection c;
    Text name("LINKX");
    EXPECT_EQ(TWConnectAlloc(c.out(), f.token, f.token == 0 ? name.get() : nullptr), f.status);
    EXPECT_EQ(c.get(), nullptr);
    LastEntry last = LogLast();
    EXPECT_EQ(last.status, f.status);
    EXPECT_EQ(last.text, f.logged);
    TWActivityClearStatus();
  }
  // Every context that was initialised was terminated again, each as the library's last.
  std::vector<std::string> lines = env_.ProcessJournal();
  EXPECT_EQ(CountPrefix(lines, "Initialize"), 3u);
  EXPECT_EQ(CountPrefix(lines, "Terminate"), 3u);
  for (const std::string& line : lines) {
    if (line.rfind("Terminate", 0) == 0) {
      EXPECT_NE(line.find("flags=1"), std::string::npos) << line;
    }
  }
}

TEST_F(LinkTest, ConnectorFailuresAreLoggedWithTheLinkAndTheEntryPoint) {
  StartActivity({{"SrcLink", kSrcLink, FakeValue::Text("LINKA")}});
  Connection c;
  ASSERT_EQ(TWConnectAlloc(c.out(), TWTOKENF_SRC, nullptr), TWSUCCESS);
  ASSERT_EQ(SetText(c.get(), kFail, "Connect"), TWSUCCESS);
  EXPECT_EQ(TWConnectConnect(c.get()), TWFAIL_EXTERNAL);
  std::vector<FakeLogLine> log = store_.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().messageId, TWFAIL_EXTERNAL);
  EXPECT_NE(log.back().text.find("testlink refused Connect"), std::string::npos) << log.back().text;
  EXPECT_NE(log.back().text.find("-- Link 'LINKA'    (Function -Connect-)"), std::string::npos)
      << log.back().text;
  // The connector names its unknown tokens from its own table and the engine's names.
  EXPECT_EQ(TWConnectSetPropertyInt(c.get(), 99, nullptr), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(LogLast().text, "Invalid property '0x00000063'");
  EXPECT_EQ(SetText(c.get(), TWTOKENF_SRC | TWTOKEN_ORDER_LIST, "a"), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(LogLast().text, "Invalid property 'OrderList'");
  EXPECT_NE(store_.Log().back().text.find("(Function -SetProperty-)"), std::string::npos);
}

TEST_F(LinkTest, DisconnectTellsTheConnectorWhetherTheActivityFailed) {
  StartActivity({{"SrcLink", kSrcLink, FakeValue::Text("LINKA")}});
  Connection c;
  ASSERT_EQ(TWConnectAlloc(c.out(), TWTOKENF_SRC, nullptr), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(c.get()), TWSUCCESS);
  ASSERT_EQ(TWConnectDisconnect(c.get()), TWSUCCESS);
  TWActivityLog(TWFAIL_EXTERNAL);
  ASSERT_EQ(TWConnectConnect(c.get()), TWSUCCESS);
  ASSERT_EQ(TWConnectDisconnect(c.get()), TWSUCCESS);
  EXPECT_EQ(EntryLines(ConnectorJournal(c.get()), "Disconnect"),
            (std::vector<std::string>{"Disconnect error=0", "Disconnect error=1"}));
}

TEST_F(LinkTest, TheRunsCountsHoldCallsAndRecordsOfEachEntryPoint) {
  StartActivity({{"SrcLink", kSrcLink, FakeValue::Text("LINKA")}});
  {
    Connection c;
    ASSERT_EQ(TWConnectAlloc(c.out(), TWTOKENF_SRC, nullptr), TWSUCCESS);
    ASSERT_EQ(TWConnectConnect(c.get()), TWSUCCESS);
    FieldList list(5);
    uint32_t count = 0;
    ASSERT_EQ(TWConnectExecute(c.get(), nullptr, list.get(), nullptr), TWSUCCESS);
    EXPECT_EQ(TWConnectFetch(c.get(), list.get(), 1, 5, &count), TWFAIL_END_OF_DATA);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(TWConnectInsert(c.get(), list.get(), 1, 2, nullptr), TWSUCCESS);
  }
  ASSERT_EQ(TWActivityFree(), TWSUCCESS);
  std::vector<FakeCounts> counts = store_.Counts();
  ASSERT_EQ(counts.size(), 1u);
  const auto& n = counts[0].counts;
  EXPECT_EQ(n[1283 - 1280], 1);  // Initialize
  EXPECT_EQ(n[1284 - 1280], 1);  // Terminate
  EXPECT_EQ(n[1286 - 1280], 5);  // SetProperty: the link's five values
  EXPECT_EQ(n[1287 - 1280], 1);  // Connect
  EXPECT_EQ(n[1288 - 1280], 1);  // Disconnect
  EXPECT_EQ(n[1289 - 1280], 1);  // Execute
  EXPECT_EQ(n[1291 - 1280], 2);  // Fetch: records
  EXPECT_EQ(n[1292 - 1280], 2);  // Insert: records
  EXPECT_EQ(n[1296 - 1280], 0);  // Catalog
}

TEST_F(LinkTest, AClosingRunStopsConnectAndDataCallsBeforeTheConnector) {
  AddTestActivity(store_, "RUN", {{"SrcLink", kSrcLink, FakeValue::Text("LINKA")}});
  MsgTblEntry entry{OpenSlot("RUN"), TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
  ASSERT_EQ(TWActivityInit(&entry), TWSUCCESS);
  Connection c;
  ASSERT_EQ(TWConnectAlloc(c.out(), TWTOKENF_SRC, nullptr), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(c.get()), TWSUCCESS);
  FieldList list(2);
  ASSERT_EQ(TWConnectExecute(c.get(), nullptr, list.get(), nullptr), TWSUCCESS);
  std::vector<std::string> before = ConnectorJournal(c.get());

  __atomic_store_n(&entry.closeRequest, TWCLOSE_REQUESTED, __ATOMIC_RELEASE);
  uint32_t count = 5;
  EXPECT_EQ(TWConnectFetch(c.get(), list.get(), 1, 1, &count), 1542u);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(TWConnectAction(c.get(), TWACTION_COMMIT), 1542u);
  __atomic_store_n(&entry.closeRequest, TWCLOSE_TIMEOUT, __ATOMIC_RELEASE);
  EXPECT_EQ(TWConnectInsert(c.get(), list.get(), 1, 1, nullptr), 1543u);
  // Properties still work; disconnecting and freeing always run.
  std::vector<std::string> after = ConnectorJournal(c.get());
  after.pop_back();  // the Journal read itself
  EXPECT_EQ(after, before);
  EXPECT_EQ(TWConnectDisconnect(c.get()), TWSUCCESS);
  EXPECT_EQ(EntryLines(ConnectorJournal(c.get()), "Disconnect"),
            std::vector<std::string>{"Disconnect error=1"});
  c.Release();
  size_t requested = 0, timedOut = 0;
  for (const FakeLogLine& line : store_.Log()) {
    requested += line.messageId == 1542;
    timedOut += line.messageId == 1543;
  }
  EXPECT_EQ(requested, 1u);
  EXPECT_EQ(timedOut, 1u);
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
}

// ---------------------------------------------------------------- stand-alone connections

// An unnamed activity and one connection to testlink by library name, seeded with rows.
class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AllocByLibrary(c_, "testlink"), TWSUCCESS);
    ASSERT_EQ(SetText(c_.get(), kRows, "1,a;2,b;3,c"), TWSUCCESS);
  }
  EngineInstallation env_;
  StandAloneActivity activity_;
  Connection c_;
};

struct CountedVerb {
  const char* entry;
  uint32_t status;      // the answer on the seeded table
  uint32_t countAfter;  // what the caller's word holds after the call
  std::function<uint32_t(TWCONNECT, TWFIELDLIST, uint32_t*)> call;
};

TEST_F(ConnectionTest, CountedVerbsReachTheirEntryPointWithTheCountAtZero) {
  ASSERT_EQ(TWConnectConnect(c_.get()), TWSUCCESS);
  FieldList keys(1);
  keys.AddText("Key", {"2"}, TWFIELDF_KEY);
  FieldList rows(3);
  const CountedVerb verbs[] = {
      {"Execute", 0, TWCOUNT_UNKNOWN,
       [](TWCONNECT c, TWFIELDLIST l, uint32_t* n) { return TWConnectExecute(c, nullptr, l, n); }},
      {"Fetch", 0, 3,
       [](TWCONNECT c, TWFIELDLIST l, uint32_t* n) { return TWConnectFetch(c, l, 1, 3, n); }},
      {"Fetch", TWFAIL_END_OF_DATA, 0,
       [](TWCONNECT c, TWFIELDLIST l, uint32_t* n) { return TWConnectFetch(c, l, 1, 3, n); }},
      {"Select", 0, TWCOUNT_UNKNOWN,
       [&](TWCONNECT c, TWFIELDLIST l, uint32_t* n) {
         return TWConnectSelect(c, keys.get(), 1, l, n);
       }},
      {"Catalog", 0, TWCOUNT_UNKNOWN,
       [](TWCONNECT c, TWFIELDLIST, uint32_t* n) {
         return TWConnectCatalog(c, TWOBJECT_METADATA, TWNULLHANDLE, n);
       }},
      {"Insert", 0, 2,
       [](TWCONNECT c, TWFIELDLIST l, uint32_t* n) { return TWConnectInsert(c, l, 1, 2, n); }},
      {"Update", 0, 2,
       [&](TWCONNECT c, TWFIELDLIST, uint32_t* n) {
         return TWConnectUpdate(c, keys.get(), 1, 1, n);
       }},
      {"Remove", 0, 2,
       [&](TWCONNECT c, TWFIELDLIST, uint32_t* n) {
         return TWConnectRemove(c, keys.get(), 1, 1, n);
       }},
  };
  for (bool callerGivesCount : {true, false}) {
    ASSERT_EQ(SetText(c_.get(), kRows, "1,a;2,b;3,c"), TWSUCCESS);
    for (const CountedVerb& v : verbs) {
      SCOPED_TRACE(std::string(v.entry) + (callerGivesCount ? " with a count" : " without"));
      uint32_t count = 77;
      EXPECT_EQ(v.call(c_.get(), rows.get(), callerGivesCount ? &count : nullptr), v.status);
      EXPECT_EQ(count, callerGivesCount ? v.countAfter : 77u);
      std::vector<std::string> journal = ConnectorJournal(c_.get());
      ASSERT_FALSE(journal.empty());
      EXPECT_EQ(journal.back().rfind(std::string(v.entry) + " count=0", 0), 0u) << journal.back();
    }
  }
  // Inserted copies of rows 1 and 2; the update and the remove found both rows of key 2.
  EXPECT_EQ(PropertyText(c_.get(), kRows), "1,a;3,c;1,a");
}

TEST_F(ConnectionTest, VerbsNeedALiveConnectedHandle) {
  FieldList list(1);
  const std::vector<std::function<uint32_t(TWCONNECT)>> dataCalls = {
      [](TWCONNECT c) { return TWConnectExecute(c, nullptr, TWNULLHANDLE, nullptr); },
      [&](TWCONNECT c) { return TWConnectFetch(c, list.get(), 1, 1, nullptr); },
      [&](TWCONNECT c) { return TWConnectInsert(c, list.get(), 1, 1, nullptr); },
      [&](TWCONNECT c) { return TWConnectUpdate(c, list.get(), 1, 1, nullptr); },
      [&](TWCONNECT c) { return TWConnectRemove(c, list.get(), 1, 1, nullptr); },
      [&](TWCONNECT c) { return TWConnectSelect(c, TWNULLHANDLE, 1, list.get(), nullptr); },
      [&](TWCONNECT c) { return TWConnectCatalog(c, TWOBJECT_METADATA, list.get(), nullptr); },
      [](TWCONNECT c) { return TWConnectAction(c, TWACTION_RESET); },
      [&](TWCONNECT c) { return TWConnectCreate(c, TWOBJECT_METADATA, list.get()); },
      [](TWCONNECT c) { return TWConnectDrop(c, TWOBJECT_METADATA); },
  };
  const std::vector<std::string> before = ConnectorJournal(c_.get());
  for (const auto& call : dataCalls) EXPECT_EQ(call(c_.get()), TWFAIL_NOT_CONNECTED);
  EXPECT_EQ(TWConnectDisconnect(c_.get()), TWSUCCESS);  // not connected: no call
  std::vector<std::string> after = ConnectorJournal(c_.get());
  EXPECT_EQ(after.size(), before.size() + 1);  // only the first Journal read was added

  ASSERT_EQ(TWConnectConnect(c_.get()), TWSUCCESS);
  EXPECT_EQ(TWConnectConnect(c_.get()), TWFAIL_CONNECTED);

  TWCONNECT stale = c_.get();
  c_.Release();
  const TWCONNECT foreign = reinterpret_cast<TWCONNECT>(list.get());
  for (TWCONNECT bad : {stale, foreign}) {
    for (const auto& call : dataCalls) EXPECT_EQ(call(bad), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(TWConnectConnect(bad), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(TWConnectDisconnect(bad), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(TWConnectFree(bad), TWFAIL_INVALID_CONNECT);
    int32_t value = 5;
    EXPECT_EQ(TWConnectGetPropertyInt(bad, TWTOKEN_LINK_CODE, &value), TWFAIL_INVALID_CONNECT);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(TWConnectListProperty(bad, TWLIST_FIRST, nullptr, nullptr, nullptr, nullptr),
              TWFAIL_INVALID_CONNECT);
  }
  EXPECT_EQ(TWConnectFree(TWNULLHANDLE), TWSUCCESS);
}

// A handle names its slot: a freed handle must stay dead when the next connection takes the
// slot again, and calls on it must not reach the new connection.
TEST_F(ConnectionTest, AFreedHandleStaysDeadWhenItsSlotIsTakenAgain) {
  const TWCONNECT stale = c_.get();
  c_.Release();
  Connection again;
  ASSERT_EQ(AllocByLibrary(again, "testlink"), TWSUCCESS);
  EXPECT_NE(again.get(), stale);
  EXPECT_EQ(TWConnectConnect(stale), TWFAIL_INVALID_CONNECT);
  EXPECT_EQ(TWConnectFree(stale), TWFAIL_INVALID_CONNECT);
  EXPECT_EQ(TWConnectConnect(again.get()), TWSUCCESS);
  EXPECT_EQ(PropertyText(again.get(), TWTOKEN_LIBRARY), "testlink");
}

// Connections made, used and freed on several threads at once: each thread reads back its
// own rows through its own handle while slots are taken and given back around it.
TEST_F(ConnectionTest, ConnectionsOnManyThreadsKeepTheirOwnRows) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 30;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int r = 0; r < kRounds; ++r) {
        Connection c;
        const std::string key = std::to_string(t * kRounds + r);
        FieldList list(1);
        uint32_t moved = 0;
        const bool right = AllocByLibrary(c, "testlink") == TWSUCCESS &&
                           SetText(c.get(), kRows, key + ",x") == TWSUCCESS &&
                           TWConnectConnect(c.get()) == TWSUCCESS &&
                           TWConnectExecute(c.get(), nullptr, list.get(), nullptr) == TWSUCCESS &&
                           TWConnectFetch(c.get(), list.get(), 1, 1, &moved) == TWSUCCESS &&
                           moved == 1 && list.Value(1, 1) == key;
        if (!right) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ConnectionTest, PropertiesLoseTheirLinkByteAndControlTokensStayWithTheEngine) {
  EXPECT_EQ(SetText(c_.get(), TWTOKENF_DEST | TWTOKEN_SERVER, "srv"), TWSUCCESS);
  EXPECT_EQ(PropertyText(c_.get(), TWTOKENF_SRC | TWTOKEN_SERVER), "srv");
  for (uint32_t control : {TWTOKEN_LIBRARY, TWTOKEN_LINK, TWTOKEN_NAME, TWTOKEN_CONNECT_CODE}) {
    EXPECT_EQ(SetText(c_.get(), control, "x"), TWFAIL_INVALID_PROPERTY);
    EXPECT_EQ(LogLast().status, TWFAIL_INVALID_PROPERTY);
  }
  EXPECT_EQ(LogLast().text, "Invalid property 'ConnectCode'");
  EXPECT_EQ(PropertyText(c_.get(), TWTOKEN_LIBRARY), "testlink");
  EXPECT_EQ(PropertyText(c_.get(), TWTOKEN_NAME), "testlink");
  int32_t link = 9;
  EXPECT_EQ(TWConnectGetPropertyInt(c_.get(), TWTOKEN_LINK, &link), TWSUCCESS);
  EXPECT_EQ(link, 0);
  std::vector<std::string> journal = ConnectorJournal(c_.get());
  EXPECT_TRUE(Contains(journal, "SetProperty token=00010001"));
  EXPECT_TRUE(Contains(journal, "GetProperty token=00010001"));
  EXPECT_EQ(CountPrefix(journal, "SetProperty token=0003"), 0u);
  EXPECT_EQ(CountPrefix(journal, "GetProperty token=0003"), 0u);
  EXPECT_EQ(CountPrefix(journal, "SetProperty token=02"), 0u);
}

TEST_F(ConnectionTest, TypedPropertiesConvertAndLeaveTheDefaultOnFailure) {
  const int32_t on = 5;
  EXPECT_EQ(TWConnectSetPropertyInt(c_.get(), TWTOKEN_MAP_NAME, &on), TWSUCCESS);
  int32_t flag = 0;
  EXPECT_EQ(TWConnectGetPropertyInt(c_.get(), TWTOKEN_MAP_NAME, &flag), TWSUCCESS);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(TWConnectGetPropertyBoolean(c_.get(), TWTOKEN_MAP_NAME, 7), 1);
  // A null value keeps a flag and empties a text.
  EXPECT_EQ(TWConnectSetPropertyInt(c_.get(), TWTOKEN_MAP_NAME, nullptr), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyBoolean(c_.get(), TWTOKEN_MAP_NAME, 7), 1);
  EXPECT_EQ(SetText(c_.get(), TWTOKEN_SERVER, "abc"), TWSUCCESS);
  EXPECT_EQ(TWConnectSetProperty(c_.get(), TWTOKEN_SERVER, TWNULLHANDLE), TWSUCCESS);
  EXPECT_EQ(PropertyText(c_.get(), TWTOKEN_SERVER), "");

  EXPECT_EQ(SetText(c_.get(), TWTOKEN_SERVER, "abc"), TWSUCCESS);
  int32_t number = 42;
  EXPECT_EQ(TWConnectGetPropertyInt(c_.get(), TWTOKEN_SERVER, &number), TWFAIL_INVALID_INT);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(TWConnectGetPropertyBoolean(c_.get(), TWTOKEN_SERVER, 7), 7);
  for (const char* yes : {" Yes", "on", "TRUE "}) {
    EXPECT_EQ(SetText(c_.get(), TWTOKEN_SERVER, yes), TWSUCCESS);
    EXPECT_EQ(TWConnectGetPropertyBoolean(c_.get(), TWTOKEN_SERVER, 0), 1) << yes;
  }
  EXPECT_EQ(SetText(c_.get(), TWTOKEN_SERVER, "off"), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyBoolean(c_.get(), TWTOKEN_SERVER, 1), 0);
  EXPECT_EQ(SetText(c_.get(), TWTOKEN_SERVER, "12.5"), TWSUCCESS);
  double real = 0;
  EXPECT_EQ(TWConnectGetPropertyFloat(c_.get(), TWTOKEN_SERVER, &real), TWSUCCESS);
  EXPECT_EQ(real, 12.5);

  // A datetime never set reads as null date and null time.
  TWDatetime stamp{1, 2};
  EXPECT_EQ(TWConnectGetPropertyDatetime(c_.get(), TWTOKEN_BASESTAMP, &stamp), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&stamp), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(&stamp), TWDTNULL_TIME);
  TWDatetime when{};
  ASSERT_EQ(TWDatetimeSetJulian(&when, 2450000), TWSUCCESS);
  EXPECT_EQ(TWConnectSetPropertyDatetime(c_.get(), TWTOKEN_BASESTAMP, &when), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyDatetime(c_.get(), TWTOKEN_BASESTAMP, &stamp), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&stamp), 2450000u);

  // A text list property travels whole.
  TWStream list{};
  const unsigned char twoNames[] = {2, 0, 1, 0, 2, 0, 'A', 'B', 'C'};
  ASSERT_EQ(TWStreamDataSet(&list, TWSTREAMFMT_TEXT_LIST, twoNames, sizeof twoNames), TWSUCCESS);
  EXPECT_EQ(TWConnectSetPropertyStream(c_.get(), TWTOKEN_FIELD_LIST, &list), TWSUCCESS);
  TWStreamDataFree(&list);
  EXPECT_EQ(TWConnectGetPropertyStream(c_.get(), TWTOKEN_FIELD_LIST, TWSTREAMFMT_TEXT_LIST, &list),
            TWSUCCESS);
  EXPECT_EQ(TWTextListGetCount(&list), 2u);
  TWStreamDataFree(&list);

  // Bad out-parameters and fields are refused without reaching the connector.
  EXPECT_EQ(TWConnectGetPropertyInt(c_.get(), TWTOKEN_MAP_NAME, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWConnectGetPropertyStream(c_.get(), TWTOKEN_SERVER, 0, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWConnectGetProperty(c_.get(), TWTOKEN_SERVER, TWNULLHANDLE), TWFAIL_INVALID_FIELD);
}

TEST_F(ConnectionTest, ListPropertyWalksTheConnectorsTableWithTheEngineNames) {
  struct Row {
    uint32_t token;
    uint32_t type;
    std::string name;
  };
  std::vector<Row> rows;
  uint32_t token = 0, type = 0, flags = 9;
  Text name;
  uint32_t st = TWConnectListProperty(c_.get(), TWLIST_FIRST, &token, &type, &flags, name.get());
  for (; st == TWSUCCESS;
       st = TWConnectListProperty(c_.get(), TWLIST_NEXT, &token, &type, &flags, name.get())) {
    rows.push_back({token, type, name.str()});
    EXPECT_EQ(flags, 0u);
  }
  EXPECT_EQ(st, TWFAIL_END_OF_DATA);
  EXPECT_EQ(TWConnectListProperty(c_.get(), TWLIST_NEXT, nullptr, nullptr, nullptr, nullptr),
            TWFAIL_END_OF_DATA);
  ASSERT_EQ(rows.size(), 15u);
  EXPECT_EQ(rows[0].name, "Server");
  EXPECT_EQ(rows[7].name, "FieldList");
  EXPECT_EQ(rows[7].type, static_cast<uint32_t>(TWTYPE_BINARY));
  EXPECT_EQ(rows[10].name, "TextFormat");
  EXPECT_EQ(rows[13].name, "Journal");
  EXPECT_EQ(rows[13].token, static_cast<uint32_t>(kJournal));
  EXPECT_EQ(TWConnectListProperty(c_.get(), 3, nullptr, nullptr, nullptr, nullptr),
            TWFAIL_INVALID_LIST);
  // A name that does not fit the caller's stream leaves every output as it was.
  TWStream tiny{};
  ASSERT_EQ(TWStreamCreate(&tiny, 2, 0, TWSTREAMFMT_NATIVE), TWSUCCESS);
  token = 0;
  EXPECT_EQ(TWConnectListProperty(c_.get(), TWLIST_FIRST, &token, nullptr, nullptr, &tiny),
            TWFAIL_OVERFLOW);
  EXPECT_EQ(token, 0u);
  TWStreamDataFree(&tiny);
}

TEST_F(ConnectionTest, CreateDropAndTruncateAreLoggedAsEvents) {
  ASSERT_EQ(SetText(c_.get(), TWTOKEN_METADATA, "ORDERS"), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(c_.get()), TWSUCCESS);
  FieldList columns(0);
  columns.AddText("Id");
  columns.AddText("Amount");
  struct Event {
    std::function<uint32_t()> call;
    uint32_t status;
    const char* text;
  };
  const Event events[] = {
      {[&] { return TWConnectCreate(c_.get(), TWOBJECT_METADATA, columns.get()); },
       TWSTATUSF_EVENT | 1636, "Created Metadata 'ORDERS'"},
      {[&] { return TWConnectAction(c_.get(), TWACTION_TRUNCATE); }, TWSTATUSF_EVENT | 1638,
       "Truncated metadata 'ORDERS'"},
      {[&] { return TWConnectCreate(c_.get(), TWOBJECT_INDEX, columns.get()); },
       TWSTATUSF_EVENT | 1636, "Created Index"},
      {[&] { return TWConnectDrop(c_.get(), TWOBJECT_METADATA); }, TWSTATUSF_EVENT | 1637,
       "Dropped Metadata 'ORDERS'"},
  };
  for (const Event& e : events) {
    SCOPED_TRACE(e.text);
    EXPECT_EQ(e.call(), TWSUCCESS);
    LastEntry last = LogLast();
    EXPECT_EQ(last.status, e.status);
    EXPECT_EQ(last.text, e.text);
  }
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
  // A failed drop is the connector's to log; the engine adds no event.
  EXPECT_EQ(TWConnectDrop(c_.get(), TWOBJECT_METADATA), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(LogLast().status, TWFAIL_INVALID_METADATA);
  EXPECT_EQ(PropertyText(c_.get(), kColumns), "Id,Amount");
}

}  // namespace
}  // namespace twtest
