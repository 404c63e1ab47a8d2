// The direct transfer end to end through the engine: a runner's activity of direct.twx served
// by the fake control store, its source link through testlink.twx and its destination link
// through keeplink.twx (testlink that leaves its table and its call journal in files).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "activity_runner.h"
#include "activity_test_util.h"
#include "connect_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "platform.h"
#include "twx.h"

namespace {

using twtest::FakeValue;

// direct's own tokens.
enum : uint32_t {
  kCreate = 1,
  kOverwrite = 2,
  kTruncPrec = 3,
  kTruncData = 4,
  kRecordCount = 5,
  kStatement = 6,
  kSrcFieldList = 7,
  kDestFieldList = 8,
};
constexpr uint32_t kDestMapName = TWTOKENF_DEST | TWTOKEN_MAP_NAME;
// testlink's own tokens, as a link document lists them.
enum : uint32_t { kRows = 1, kColumns = 2, kFail = 4 };
// The run's counts: failures, then records moved or calls by entry point.
enum : size_t {
  kFailures = 0,
  kExecuteCalls = 9,
  kFetched = 11,
  kInserted = 12,
  kCreateCalls = 17
};

constexpr uint32_t kClosed = 1542;
constexpr uint32_t kTruncatedEvent = TWSTATUSF_EVENT | 1638;
constexpr uint32_t kCreatedEvent = TWSTATUSF_EVENT | 1636;

const char kFiveRows[] = "1,alpha;2,beta;3,gamma;4,delta;5,epsilon";

struct Property {
  std::string item;
  uint32_t token;
  FakeValue value;
};

// A link document of the fake control store.
struct Link {
  std::string name;
  std::string library;
  std::vector<Property> properties;
};

// A runner of direct activities, with the test connectors installed beside direct.twx.
class DirectTest : public acttest::ActivityRunner {
 protected:
  DirectTest() : ActivityRunner({"direct.twx"}) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ActivityRunner::SetUp());
    twtest::InstallPlugin(inst_, "testlink");
    twtest::InstallPlugin(inst_, "keeplink");
  }

  // Adds the source link (testlink, metadata SRC, with rows), the destination link
  // (keeplink, metadata DEST) and the activity, and runs it once. Answers the launch's status.
  uint32_t Run(const std::vector<Property>& activity, const std::vector<Property>& source,
               const std::vector<Property>& dest, bool closeFirst = false) {
    return RunLinks(activity, {"", "testlink", source}, {"", "keeplink", dest}, closeFirst);
  }
  // The same with the links' libraries given (the links' names are made here).
  uint32_t RunLinks(const std::vector<Property>& activity, Link source, Link dest,
                    bool closeFirst = false) {
    const std::string name = "Direct" + std::to_string(++runs_);
    source.name = name + "Source";
    dest.name = name + "Target";
    AddLink(source, "SRC");
    AddLink(dest, "DEST");
    int32_t id = store_.AddDocument(CSMGR_ID_ACTIVITY, name);
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text("direct"));
    store_.AddProperty(id, "SrcLink", TWTOKENF_SRC | TWTOKEN_LINK,
                       FakeValue::Text(name + "Source"));
    store_.AddProperty(id, "DestLink", TWTOKENF_DEST | TWTOKEN_LINK,
                       FakeValue::Text(name + "Target"));
    for (const Property& p : activity) store_.AddProperty(id, p.item, p.token, p.value);
    // The plug-in freed its connections itself, before the engine would at the end.
    return ActivityRunner::Run(name, closeFirst, [&] { EXPECT_EQ(ConnectionsLeft(), 0) << name; });
  }

  void AddLink(const Link& link, const std::string& metadata) {
    int32_t id = store_.AddDocument(CSMGR_ID_LINK, link.name);
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text(link.library));
    bool named = false;
    for (const Property& p : link.properties) {
      store_.AddProperty(id, p.item, p.token, p.value);
      named = named || p.token == TWTOKEN_METADATA;
    }
    if (!named) store_.AddProperty(id, "Metadata", TWTOKEN_METADATA, FakeValue::Text(metadata));
  }

  // The destination table keeplink left: its columns, a line end, its rows ("" when it had no
  // table when its connection ended).
  std::string DestTable() const { return twtest::ReadFile(inst_ / "keeplink.DEST.rows"); }
  // The calls the destination's connector received.
  std::vector<std::string> DestJournal() const {
    return twtest::Lines(twtest::ReadFile(inst_ / "keeplink.DEST.journal"));
  }
  // The "records=" of each insert the destination received.
  std::vector<std::string> InsertBlocks() const {
    std::vector<std::string> blocks;
    for (const std::string& line : DestJournal())
      if (line.rfind("Insert", 0) == 0) blocks.push_back(line.substr(line.find("records=") + 8));
    return blocks;
  }
  // The run's counts (the last run's).
  std::array<int32_t, CSMGR_LOG_COUNTS> Counts() {
    std::vector<twtest::FakeCounts> counts = store_.Counts();
    EXPECT_FALSE(counts.empty());
    return counts.empty() ? std::array<int32_t, CSMGR_LOG_COUNTS>{} : counts.back().counts;
  }
  // The run log's lines under messageId, without the link a connector's entry names.
  std::vector<std::string> LogLines(uint32_t messageId, size_t from = 0) {
    std::vector<std::string> lines;
    std::vector<twtest::FakeLogLine> log = store_.Log();
    for (size_t i = from; i < log.size(); ++i)
      if (log[i].messageId == messageId)
        lines.push_back(log[i].text.substr(0, log[i].text.find('|')));
    return lines;
  }
  // Every run opened its two connections, and every connection was terminated.
  void ExpectEveryConnectionEnded() {
    int initialised = 0;
    for (const std::string& line : twtest::Lines(twtest::ReadFile(inst_ / "testlink.journal")))
      initialised += line.rfind("Initialize", 0) == 0;
    EXPECT_EQ(initialised, 2 * runs_);
    EXPECT_EQ(ConnectionsLeft(), 0);
  }

  int runs_ = 0;
};

Property Number(const std::string& item, uint32_t token, int32_t n) {
  return {item, token, FakeValue::Number(n)};
}
Property Text(const std::string& item, uint32_t token, const std::string& text) {
  return {item, token, FakeValue::Text(text)};
}
Property List(const std::string& item, uint32_t token, std::vector<std::string> entries) {
  return {item, token, FakeValue::TextList(std::move(entries))};
}

// ---------------------------------------------------------------- identity --------------

TEST(DirectIdentityTest, IdentifiesAsAnActivityWithItsPropertyTable) {
  acttest::ExpectIdentity("direct.twx", TWSTREAMFMT_NATIVE,
                          {
                              {0x01010001, TWTYPE_TEXT, "SrcServer"},
                              {0x01010002, TWTYPE_TEXT, "SrcDatabase"},
                              {0x01010003, TWTYPE_TEXT, "SrcUserid"},
                              {0x01010004, TWTYPE_TEXT, "SrcPassword"},
                              {0x01010005, TWTYPE_TEXT, "SrcMetadata"},
                              {0x02010001, TWTYPE_TEXT, "DestServer"},
                              {0x02010002, TWTYPE_TEXT, "DestDatabase"},
                              {0x02010003, TWTYPE_TEXT, "DestUserid"},
                              {0x02010004, TWTYPE_TEXT, "DestPassword"},
                              {0x02010005, TWTYPE_TEXT, "DestMetadata"},
                              {0x02010007, TWTYPE_INT, "DestMapName"},
                              {1, TWTYPE_INT, "Create"},
                              {2, TWTYPE_INT, "Overwrite"},
                              {3, TWTYPE_INT, "TruncPrec"},
                              {4, TWTYPE_INT, "TruncData"},
                              {5, TWTYPE_INT, "RecordCount"},
                              {6, TWTYPE_TEXT, "Statement"},
                              {7, TWTYPE_BINARY, "SrcFieldList"},
                              {8, TWTYPE_BINARY, "DestFieldList"},
                          });
}

// ---------------------------------------------------------------- moving ----------------

TEST_F(DirectTest, MovesEveryRecordInBlocksOfRecordCount) {
  struct Case {
    int32_t recordCount;  // 0: none given
    std::vector<std::string> blocks;
  };
  const Case cases[] = {
      {0, {"1", "1", "1", "1", "1"}},  // no RecordCount: one record per block
      {2, {"2", "2", "1"}},            // the last fetch ends the data with one record
      {5, {"5"}},
      {50, {"5"}},
      {-4, {"1", "1", "1", "1", "1"}},
      {0x7FFFFFFF, {"5"}},  // blocks are cut to a size that can be held
  };
  for (const Case& c : cases) {
    std::vector<Property> activity;
    if (c.recordCount != 0) activity.push_back(Number("RecordCount", kRecordCount, c.recordCount));
    EXPECT_EQ(Run(activity, {Text("Rows", kRows, kFiveRows)}, {}), TWSUCCESS) << c.recordCount;
    EXPECT_EQ(DestTable(), std::string("Key,Value\n") + kFiveRows) << c.recordCount;
    EXPECT_EQ(InsertBlocks(), c.blocks) << c.recordCount;
    auto counts = Counts();
    EXPECT_EQ(counts[kFailures], 0);
    EXPECT_EQ(counts[kFetched], 5);
    EXPECT_EQ(counts[kInserted], 5);
    EXPECT_EQ(counts[kExecuteCalls], 1);
  }
  EXPECT_TRUE(store_.Log().empty());
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, FetchingStopsAtTheEndOfTheData) {
  struct Case {
    const char* fail;  // the source connector's behaviour
    std::string rows;
    std::vector<std::string> blocks;
    int32_t fetched;
  };
  const Case cases[] = {
      // A source whose result set is gone after the end of the data is not asked again.
      {"OnceAtEnd", kFiveRows, {"2", "2", "1"}, 5},
      {"OnceAtEnd", "1,a;2,b;3,c;4,d", {"2", "2"}, 4},
      // A fetch that moves nothing ends the transfer, though it did not say end of data.
      {"Idle", kFiveRows, {}, 0},
      // A count beyond the block does not make the insert read beyond it.
      {"Overcount", "1,a;2,b;3,c;4,d", {"2", "2"}, 204},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail);
    const size_t logged = store_.Log().size();
    EXPECT_EQ(Run({Number("RecordCount", kRecordCount, 2)},
                  {Text("Library", TWTOKEN_LIBRARY, "keeplink"), Text("Rows", kRows, c.rows),
                   Text("Fail", kFail, c.fail)},
                  {}),
              TWSUCCESS);
    EXPECT_EQ(InsertBlocks(), c.blocks);
    EXPECT_EQ(DestTable(), "Key,Value\n" + (c.blocks.empty() ? std::string() : c.rows));
    EXPECT_EQ(Counts()[kFetched], c.fetched);
    EXPECT_EQ(store_.Log().size(), logged);
  }
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, TheStatementRunsOnTheSourceAndAnEmptyResultMovesNothing) {
  // keeplink on both sides, so that the source's journal is kept too.
  EXPECT_EQ(Run({Text("Statement", kStatement, "select * from SRC")},
                {Text("Library", TWTOKEN_LIBRARY, "keeplink"), Text("Rows", kRows, "7,x")}, {}),
            TWSUCCESS);
  std::vector<std::string> source = twtest::Lines(twtest::ReadFile(inst_ / "keeplink.SRC.journal"));
  int executes = 0;
  for (const std::string& line : source) {
    if (line.rfind("Execute", 0) != 0) continue;
    ++executes;
    EXPECT_EQ(line, "Execute count=0 statement=select * from SRC");
  }
  EXPECT_EQ(executes, 1);
  EXPECT_EQ(DestTable(), "Key,Value\n7,x");

  // A statement that yields no result set moves nothing, whatever count it reports.
  EXPECT_EQ(
      Run({Text("Statement", kStatement, "update SRC")},
          {Text("Library", TWTOKEN_LIBRARY, "keeplink"), Text("Fail", kFail, "RowCountOnly")}, {}),
      TWSUCCESS);
  EXPECT_EQ(Counts()[kFetched], 0);
  EXPECT_EQ(Counts()[kExecuteCalls], 1);
  EXPECT_TRUE(InsertBlocks().empty());

  // A source without rows: nothing is inserted, and the run succeeds.
  EXPECT_EQ(Run({}, {}, {Text("Rows", kRows, "9,old")}), TWSUCCESS);
  EXPECT_EQ(DestTable(), "Key,Value\n9,old");
  EXPECT_TRUE(InsertBlocks().empty());
  EXPECT_TRUE(store_.Log().empty());
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, OverwriteEmptiesTheDestinationFirst) {
  const Property overwrite = Number("Overwrite", kOverwrite, 1);
  EXPECT_EQ(Run({overwrite}, {Text("Rows", kRows, "1,a;2,b")}, {Text("Rows", kRows, "9,old")}),
            TWSUCCESS);
  EXPECT_EQ(DestTable(), "Key,Value\n1,a;2,b");
  // Even an empty result leaves the destination empty.
  EXPECT_EQ(Run({overwrite}, {}, {Text("Rows", kRows, "9,old")}), TWSUCCESS);
  EXPECT_EQ(DestTable(), "Key,Value\n");
  // Without Overwrite the records are added.
  EXPECT_EQ(Run({}, {Text("Rows", kRows, "1,a")}, {Text("Rows", kRows, "9,old")}), TWSUCCESS);
  EXPECT_EQ(DestTable(), "Key,Value\n9,old;1,a");
  EXPECT_EQ(LogLines(kTruncatedEvent),
            (std::vector<std::string>{"Truncated metadata 'DEST'", "Truncated metadata 'DEST'"}));
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, AMissingDestinationIsCreatedOnlyWhenCreateIsSet) {
  struct Case {
    bool overwrite;
    bool create;
    uint32_t status;
    std::string table;  // "" : no table when the connection ended
    int32_t fetched;
    int32_t creates;
    int32_t failures;  // logged, absorbed ones included
  };
  const Case cases[] = {
      {false, false, TWFAIL_INVALID_METADATA, "", 2, 0, 1},
      {false, true, TWSUCCESS, "Key,Value\n1,a;2,b;3,c", 3, 1, 1},
      // The truncation's failure is absorbed; the first block finds no table and ends the run
      // with 12545 logged again, nothing fetched after that block.
      {true, false, TWFAIL_INVALID_METADATA, "", 2, 0, 2},
      {true, true, TWSUCCESS, "Key,Value\n1,a;2,b;3,c", 3, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "overwrite " << c.overwrite << " create " << c.create);
    std::filesystem::remove(inst_ / "keeplink.DEST.rows");
    const size_t logged = store_.Log().size();
    EXPECT_EQ(Run({Number("Overwrite", kOverwrite, c.overwrite),
                   Number("Create", kCreate, c.create), Number("RecordCount", kRecordCount, 2)},
                  {Text("Rows", kRows, "1,a;2,b;3,c")}, {Text("Fail", kFail, "Missing")}),
              c.status);
    EXPECT_EQ(DestTable(), c.table);
    auto counts = Counts();
    EXPECT_EQ(counts[kFetched], c.fetched);
    EXPECT_EQ(counts[kCreateCalls], c.creates);
    EXPECT_EQ(counts[kFailures], c.failures);
    std::vector<std::string> failures = LogLines(TWFAIL_INVALID_METADATA, logged);
    ASSERT_EQ(failures.size(), static_cast<size_t>(c.failures));
    for (const std::string& line : failures)
      EXPECT_EQ(line.rfind("Error: Metadata object ", 0), 0u) << line;
    EXPECT_EQ(LogLines(kCreatedEvent, logged),
              std::vector<std::string>(c.creates, "Created Metadata 'DEST'"));
  }
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, AFailingInsertIsLoggedOnceAndReturned) {
  EXPECT_EQ(Run({Number("RecordCount", kRecordCount, 2)}, {Text("Rows", kRows, kFiveRows)},
                {Text("Fail", kFail, "Insert")}),
            TWFAIL_EXTERNAL);
  EXPECT_EQ(LogLines(TWFAIL_EXTERNAL),
            (std::vector<std::string>{"Error: testlink refused Insert  (42)"}));
  EXPECT_EQ(
      store_.Log().back().text,
      "Error: testlink refused Insert  (42)|  -- Link 'Direct1Target'    (Function -Insert-)");
  auto counts = Counts();
  EXPECT_EQ(counts[kFailures], 1);
  EXPECT_EQ(counts[kFetched], 2);
  EXPECT_EQ(counts[kInserted], 0);
  EXPECT_EQ(DestTable(), "Key,Value\n");
  // The connections were told that the work ended in error.
  std::vector<std::string> journal = DestJournal();
  EXPECT_NE(std::find(journal.begin(), journal.end(), "Disconnect error=1"), journal.end());

  // A source that cannot connect: the destination is never connected, both are freed.
  EXPECT_EQ(Run({}, {Text("Fail", kFail, "Connect")}, {}), TWFAIL_EXTERNAL);
  EXPECT_EQ(LogLines(TWFAIL_EXTERNAL).size(), 2u);
  journal = DestJournal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "Connect"), 0);
  ExpectEveryConnectionEnded();
}

// The destination is opened only once the source is: a source that cannot connect or
// cannot run its statement leaves the destination untouched, its connection never made.
TEST_F(DirectTest, ASourceThatFailsToOpenLeavesTheDestinationUnopened) {
  for (const char* fail : {"Connect", "Execute"}) {
    SCOPED_TRACE(fail);
    const size_t logged = store_.Log().size();
    EXPECT_EQ(Run({Number("Overwrite", kOverwrite, 1)},
                  {Text("Rows", kRows, kFiveRows), Text("Fail", kFail, fail)}, {}),
              TWFAIL_EXTERNAL);
    EXPECT_EQ(LogLines(TWFAIL_EXTERNAL, logged).size(), 1u);
    const std::vector<std::string> journal = DestJournal();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "Connect"), 0);
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& line) { return line.rfind("Action", 0) == 0; }),
              0);
  }
  ExpectEveryConnectionEnded();
}

// A text file that cannot be read (a directory given as the source's data file) fails the
// transfer without creating an empty destination file.
TEST_F(DirectTest, AnUnreadableSourceFileCreatesNoDestinationFile) {
  twtest::InstallBuiltPlugin(inst_, "flatrec.twx");
  enum : uint32_t { kZid = 15, kLinktype = 16 };  // flatrec's own tokens
  ASSERT_TRUE(std::filesystem::create_directory(inst_ / "in.dir"));
  const std::string out = inst_ / "out.txt";
  const std::vector<Property> source = {Text("Database", TWTOKEN_DATABASE, inst_ / "in.dir"),
                                        Text("ZID", kZid, "A TYPE TEXT")};
  const std::vector<Property> dest = {Text("Database", TWTOKEN_DATABASE, out),
                                      Text("ZID", kZid, "A TYPE TEXT"),
                                      Text("Linktype", kLinktype, "DESTINATION")};
  EXPECT_EQ(RunLinks({}, {"", "flatrec", source}, {"", "flatrec", dest}), TWFAIL_NOT_CONNECTED);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(Counts()[kFailures], 1);
}

TEST_F(DirectTest, NameListsMapTheFieldsWhenDestMapNameIsTwo) {
  const std::vector<Property> source = {Text("Columns", kColumns, "Key,Value,Note"),
                                        Text("Rows", kRows, "1,a,x;2,b,y")};
  const std::vector<Property> dest = {Text("Columns", kColumns, "Id,Memo")};
  const std::vector<Property> lists = {List("SrcFieldList", kSrcFieldList, {"Note", "Key"}),
                                       List("DestFieldList", kDestFieldList, {"Memo", "Id"})};
  struct Case {
    int32_t mapName;  // -1: none given
    std::string table;
  };
  const Case cases[] = {
      {2, "Id,Memo\n1,x;2,y"},  // Note and Key, by name from the source, as Memo and Id
      {0, "Id,Memo\n1,a;2,b"},  // by position through the transfer list
      {-1, "Id,Memo\n1,a;2,b"},
  };
  for (const Case& c : cases) {
    std::vector<Property> activity = lists;
    if (c.mapName >= 0) activity.push_back(Number("DestMapName", kDestMapName, c.mapName));
    EXPECT_EQ(Run(activity, source, dest), TWSUCCESS) << c.mapName;
    EXPECT_EQ(DestTable(), c.table) << c.mapName;
  }
  // Empty name lists with DestMapName 2: by name through the transfer list's own names.
  EXPECT_EQ(Run({Number("DestMapName", kDestMapName, 2)}, source,
                {Text("Columns", kColumns, "Note,Key")}),
            TWSUCCESS);
  EXPECT_EQ(DestTable(), "Note,Key\nx,1;y,2");
  ExpectEveryConnectionEnded();
}

TEST_F(DirectTest, ACloseRequestStopsTheTransfer) {
  // The destination asks the run to close after the first block.
  EXPECT_EQ(Run({Number("RecordCount", kRecordCount, 2)}, {Text("Rows", kRows, kFiveRows)},
                {Text("Fail", kFail, "CloseAfterInsert")}),
            kClosed);
  EXPECT_EQ(DestTable(), "Key,Value\n1,alpha;2,beta");
  EXPECT_EQ(InsertBlocks(), (std::vector<std::string>{"2"}));
  EXPECT_EQ(LogLines(kClosed), (std::vector<std::string>{"Error: Activity terminated by request"}));
  std::vector<std::string> journal = DestJournal();
  EXPECT_NE(std::find(journal.begin(), journal.end(), "Disconnect error=1"), journal.end());

  // Asked before it starts: nothing is connected, and the request is logged once.
  std::filesystem::remove(inst_ / "keeplink.DEST.journal");
  EXPECT_EQ(Run({}, {Text("Rows", kRows, kFiveRows)}, {}, true), kClosed);
  EXPECT_EQ(LogLines(kClosed).size(), 2u);
  journal = DestJournal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "Connect"), 0);
  ExpectEveryConnectionEnded();
}

}  // namespace
