// The control store's reports: message lines with detail lines in log documents, the log
// documents of runs and servers, twmain.err and twmain.bug, the diagnostics log and mail
// after a run.
#include "log.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "access_fixture.h"
#include "ordexio.h"

namespace {

using csmgrtest::AccessTest;
using namespace tw::csmgr;

// The text of a message line after its time and tab.
std::string AfterTime(const std::string& line) {
  size_t tab = line.find('\t');
  return tab == std::string::npos ? line : line.substr(tab + 1);
}

TEST_F(AccessTest, MessageLineWithDetailsInTheOperationsLog) {
  CSMgrDetail(TWMSG_DETAIL_DATABASE, S().adminTitle);
  CSMgrDetail(TWMSG_DETAIL_DOCUMENT_NUMBER, 418);
  EXPECT_EQ(CSMgrReport(TWFAIL_NO_ACTIVITY_DOC), TWFAIL_NO_ACTIVITY_DOC);
  EXPECT_TRUE(CSMgrDetailText().empty());
  ASSERT_NE(S().operationsDoc, 0u);
  std::vector<std::string> lines = Lines(S().operationsDoc);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find('\t'), 0u);  // the time comes first
  EXPECT_EQ(AfterTime(lines[0]), "The activity does not exist: ");
  EXPECT_EQ(lines[1], "Database = " + S().adminTitle);
  EXPECT_EQ(lines[2], "Document# = 0x1A2");
  // Once start-up has completed, a written log is not copied to twmain.err.
  EXPECT_EQ(ReadInstFile("twmain.err"), "");

  std::string server;
  ASSERT_TRUE(OrdexReadText(S().operationsDoc, "Server", &server));
  EXPECT_EQ(server, "alpha");
  EXPECT_TRUE(OrdexItemPresent(S().operationsDoc, "StartTime"));
  EXPECT_EQ(DocumentsOfForm(S().logDb, "Operation").size(), 1u);
}

TEST_F(AccessTest, DetailNumbersAndLabels) {
  struct Case {
    uint32_t label;
    int64_t value;
    const char* text;
  } cases[] = {
      {TWMSG_DETAIL_CODE, 5, "|Code = 5"},
      {TWMSG_DETAIL_CODE, -65535, "|Code = -65535"},
      {TWMSG_DETAIL_CODE, 65536, "|Code = 0x10000"},
      {TWMSG_DETAIL_CODE, -70000, "|Code = 0xFFFEEE90"},
      {TWMSG_DETAIL_FIELD, 0x80000601, "|Field = 0x80000601"},
      {TWMSG_DETAIL_DOCUMENT_NUMBER, 2, "|Document# = 0x2"},
  };
  for (const Case& c : cases) {
    CSMgrClearDetail();
    CSMgrDetail(c.label, c.value);
    EXPECT_EQ(CSMgrDetailText(), c.text);
  }
  CSMgrClearDetail();
  {
    QuietReports quiet;
    CSMgrDetail(TWMSG_DETAIL_VIEW, "(CS_Links)");
  }
  EXPECT_EQ(CSMgrDetailText(), "");
  CSMgrDetail(TWMSG_DETAIL_FILE, "x.txt");
  CSMgrDetailMessage(811, "alpha");
  EXPECT_EQ(CSMgrDetailText(), "|File = x.txt|cleanup performed by 'alpha'");
  CSMgrClearDetail();
}

TEST_F(AccessTest, StartUpReportsGoToTwmainErr) {
  S().startupComplete = false;
  OrdexCloseDatabase(&S().logDb);  // no log database yet
  CSMgrDetail(TWMSG_DETAIL_FIELD, "AdminDatabase");
  EXPECT_EQ(CSMgrReport(534), 534u);
  CSMgrLogMessage(0, 814 | kLogOnly);  // logs only: never in the file
  testing::internal::CaptureStderr();
  CSMgrReport(785);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Incorrect version of Administrator database\n");
  EXPECT_EQ(ReadInstFile("twmain.err"),
            "Missing key value in initialization file: \nField = AdminDatabase\n"
            "Incorrect version of Administrator database\n");
  // After start-up a log that cannot be written still reaches the file, with its time.
  S().startupComplete = true;
  testing::internal::CaptureStderr();
  CSMgrReport(790);
  testing::internal::GetCapturedStderr();
  const std::string after = ReadInstFile("twmain.err");
  EXPECT_NE(after.find("\tPlexa / Ordex API failure\n"), std::string::npos) << after;
}

class RunLogs : public AccessTest {
 protected:
  void SetUp() override {
    AccessTest::SetUp();
    // This server's document and its log.
    server_ = NewDocument(S().adminDb, "Configuration\\Server", "alpha");
    S().serverId = IdOf(server_);
    GVDOC serverLog = 0;
    ASSERT_EQ(CSMgrLogCreate(LogKind::kServer, {}, 814, &serverLog, &serverLogId_), 0u);
    ASSERT_TRUE(OrdexWriteNumber(server_, "LogID", serverLogId_));
    ASSERT_EQ(GVDocumentSave(server_, 0), 0u);
    OrdexCloseDocument(&serverLog, true);
    activity_ = NewDocument(S().adminDb, "Activity\\Command", "Nightly");
  }
  void TearDown() override {
    OrdexCloseDocument(&server_, false);
    OrdexCloseDocument(&activity_, false);
    AccessTest::TearDown();
  }
  ActivitySlot& Slot(uint32_t flags = 0) {
    ActivitySlot& slot = S().slots[0];
    slot.name = "Nightly";
    slot.documentId = IdOf(activity_);
    slot.document = activity_;
    slot.handle = 3;
    slot.flags = flags;
    activity_ = 0;  // the slot owns it now
    return slot;
  }
  GVDOC server_ = 0, activity_ = 0;
  GVNOTEID serverLogId_ = 0;
};

TEST_F(RunLogs, StartAndEndOfARun) {
  ActivitySlot& slot = Slot();
  ASSERT_EQ(CSMgrLogStart(slot), 0u);
  ASSERT_NE(slot.logDocument, 0u);
  ASSERT_NE(slot.logId, 0u);
  EXPECT_EQ(slot.lastMessage, 808);
  std::string activity;
  ASSERT_TRUE(OrdexReadText(slot.logDocument, "Activity", &activity));
  EXPECT_EQ(activity, "Nightly");
  uint32_t type = 0;
  ASSERT_TRUE(OrdexItemType(slot.logDocument, "CountList", &type));
  EXPECT_EQ(type, GVTYPE_NUMBER_LIST);
  EXPECT_FALSE(OrdexItemPresent(slot.logDocument, "CountList"));  // empty until counted

  const int32_t counts[19] = {1, 2, 3};
  ASSERT_EQ(CSMgrLogCounts(slot.logDocument, counts, 19), 0u);
  std::vector<int32_t> stored;
  ASSERT_TRUE(OrdexReadNumberList(slot.logDocument, "CountList", 19, &stored));
  EXPECT_EQ(stored.size(), 19u);
  EXPECT_EQ(stored[2], 3);

  ASSERT_EQ(CSMgrLogEnd(&slot.logDocument, 810), 0u);
  EXPECT_EQ(slot.logDocument, 0u);
  std::vector<std::string> lines = LogLines(slot.logId);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(AfterTime(lines[0]), "Activity started");
  EXPECT_EQ(AfterTime(lines[1]), "Activity finished");

  // The server's log names the activity.
  std::vector<std::string> server = LogLines(serverLogId_);
  ASSERT_EQ(server.size(), 3u);
  EXPECT_EQ(AfterTime(server[0]), "Tarnway started");
  EXPECT_EQ(AfterTime(server[1]), "Activity started: ");
  EXPECT_EQ(server[2], "Document = Nightly");
}

TEST_F(RunLogs, LoggingOffAndRunsByName) {
  ASSERT_TRUE(OrdexWriteNumber(activity_, "LogType", 0));
  ActivitySlot& off = Slot();
  ASSERT_EQ(CSMgrLogStart(off), 0u);
  EXPECT_NE(off.flags & kSlotLogOff, 0u);
  EXPECT_EQ(off.logDocument, 0u);
  OrdexCloseDocument(&off.document, false);
  off = ActivitySlot{};

  activity_ = NewDocument(S().adminDb, "Activity\\Command", "Nightly");
  ActivitySlot& byName = Slot(kSlotByName);
  ASSERT_EQ(CSMgrLogStart(byName), 0u);
  ASSERT_NE(byName.logDocument, 0u);
  EXPECT_EQ(LogLines(serverLogId_).size(), 1u);  // nothing in the server's log
}

TEST_F(RunLogs, OpenLogsOfADeadServerAreEnded) {
  S().serverName = "beta";
  GVDOC run = 0, serverLog = 0, bug = 0;
  GVNOTEID runId = 0, serverId = 0, bugId = 0;
  ASSERT_EQ(CSMgrLogCreate(LogKind::kActivity, "Weekly", 808, &run, &runId), 0u);
  ASSERT_EQ(CSMgrLogCreate(LogKind::kServer, {}, 814, &serverLog, &serverId), 0u);
  ASSERT_EQ(CSMgrLogCreate(LogKind::kDiagnostics, {}, 0, &bug, &bugId), 0u);
  OrdexCloseDocument(&run, true);
  OrdexCloseDocument(&serverLog, true);
  OrdexCloseDocument(&bug, true);
  S().serverName = "alpha";

  ASSERT_EQ(CSMgrEndOpenLogs("beta", true), 0u);
  std::vector<std::string> lines = LogLines(runId);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(AfterTime(lines[1]), "Activity terminated abnormally: ");
  EXPECT_EQ(lines[2], "cleanup performed by 'alpha'");
  lines = LogLines(serverId);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(AfterTime(lines[1]), "System terminated abnormally: ");
  EXPECT_EQ(LogLines(bugId).size(), 0u);
  for (GVNOTEID id : {runId, serverId, bugId}) {
    GVDOC doc = 0;
    ASSERT_TRUE(OrdexOpenDocument(S().logDb, id, GVOPEN_READONLY, &doc));
    EXPECT_TRUE(OrdexItemPresent(doc, "FinishTime")) << id;
    OrdexCloseDocument(&doc, false);
  }
  // Logs of this server are left alone.
  EXPECT_EQ(LogLines(serverLogId_).size(), 1u);
  GVDOC own = 0;
  ASSERT_TRUE(OrdexOpenDocument(S().logDb, serverLogId_, GVOPEN_READONLY, &own));
  EXPECT_FALSE(OrdexItemPresent(own, "FinishTime"));
  OrdexCloseDocument(&own, false);
}

TEST_F(RunLogs, MailAfterAFailedRun) {
  ASSERT_TRUE(OrdexWriteText(activity_, "SendTo", "ops@example.org, lead@example.org"));
  ActivitySlot& slot = Slot();
  ASSERT_EQ(CSMgrLogStart(slot), 0u);
  ASSERT_EQ(CSMgrLogEnd(&slot.logDocument, 797), 0u);
  ASSERT_EQ(CSMgrMailSend(slot, slot.document, "The activity does not exist"), 0u);

  GVDB spool = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "mailspool.odb", 0, &spool), 0u);
  std::vector<GVNOTEID> mails = DocumentsOfForm(spool, "Memo");
  ASSERT_EQ(mails.size(), 1u);
  GVDOC mail = 0;
  ASSERT_EQ(GVDocumentOpen(spool, mails[0], GVOPEN_READONLY, &mail), 0u);
  std::string subject;
  ASSERT_TRUE(OrdexReadText(mail, "Subject", &subject));
  EXPECT_EQ(subject,
            "Quendal Tarnway Report:  Activity 'Nightly', completion status 'The activity does "
            "not exist'");
  std::string first;
  ASSERT_TRUE(OrdexReadListEntry(mail, "SendTo", 1, &first));
  EXPECT_EQ(first, "ops@example.org");
  std::vector<std::string> body = Lines(mail);
  ASSERT_GE(body.size(), 3u);
  EXPECT_EQ(AfterTime(body[0]), "Activity started");
  EXPECT_EQ(AfterTime(body[1]), "The activity does not exist");
  EXPECT_EQ(body.back().rfind("Double-click here to see the Activity document -->", 0), 0u)
      << body.back();
  GVDocumentClose(mail, GVCLOSE_DISCARD);
  GVDatabaseClose(spool, 0);
}

TEST_F(RunLogs, MailWithoutRecipientsIsLogged) {
  ActivitySlot& slot = Slot();
  ASSERT_EQ(CSMgrMailSend(slot, slot.document, "Activity finished"), 822u);
  ASSERT_NE(S().operationsDoc, 0u);
  std::vector<std::string> lines = Lines(S().operationsDoc);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(AfterTime(lines[0]), "Unable To send mail notification to  for activity 'Nightly'");
}

TEST_F(AccessTest, DiagnosticsDocumentsRollOverAndFallBackToTwmainBug) {
  CSMgrDiagnostic("ignored while off");
  EXPECT_EQ(S().diagnosticsDoc, 0u);
  S().diagnostics = 1;
  for (int i = 0; i < 501; ++i) CSMgrDiagnostic("entry " + std::to_string(i));
  std::vector<GVNOTEID> bugs = DocumentsOfForm(S().logDb, "Bug");
  ASSERT_EQ(bugs.size(), 2u);
  EXPECT_EQ(LogLines(bugs[0]).size(), 500u);
  EXPECT_EQ(LogLines(bugs[1]), std::vector<std::string>{"\tentry 500"});
  GVDOC first = 0;
  ASSERT_TRUE(OrdexOpenDocument(S().logDb, bugs[0], GVOPEN_READONLY, &first));
  EXPECT_TRUE(OrdexItemPresent(first, "FinishTime"));
  OrdexCloseDocument(&first, false);

  CSMgrInternalFault("src/csmgr/event.cc", 123);
  EXPECT_EQ(Lines(S().diagnosticsDoc).back(), "\tevent.cc(123)\terror occured in module");

  S().initialised = false;
  CSMgrDiagnostic("Field error|database x|form y|field z");
  EXPECT_EQ(ReadInstFile("twmain.bug"), "Field error\ndatabase x\nform y\nfield z\n");
}

TEST_F(AccessTest, LongLogTextsAreWrittenWhole) {
  const std::string text(2000, 'w');
  CSMgrLogText(0, 29185, text);
  std::vector<std::string> lines = Lines(S().operationsDoc);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(AfterTime(lines[0]), text);
}

// The work the database engine does, counted over every connection of the process: the
// statements run and the pages read and written. Connections are recorded as they open
// (an automatic extension) and folded into the totals as they close.
struct Work {
  int64_t statements = 0;
  int64_t pagesRead = 0;
  int64_t pagesWritten = 0;
};

class WorkCounter {
 public:
  static WorkCounter& Get() {
    static WorkCounter counter;
    return counter;
  }
  void Install() {
    live_.clear();
    closed_ = {};
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&Opened));
  }
  void Uninstall() { sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&Opened)); }
  // The work done since the last call.
  Work Take() {
    Work w = closed_;
    closed_ = {};
    for (sqlite3* db : live_) Drain(db, w);
    return w;
  }

 private:
  static int Opened(sqlite3* db, char**, const sqlite3_api_routines*) {
    Get().live_.push_back(db);
    sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE | SQLITE_TRACE_CLOSE, &Traced, nullptr);
    return SQLITE_OK;
  }
  static int Traced(unsigned kind, void*, void* p, void*) {
    WorkCounter& c = Get();
    if (kind == SQLITE_TRACE_PROFILE) {
      ++c.closed_.statements;
    } else if (kind == SQLITE_TRACE_CLOSE) {
      auto* db = static_cast<sqlite3*>(p);
      Drain(db, c.closed_);
      c.live_.erase(std::remove(c.live_.begin(), c.live_.end(), db), c.live_.end());
    }
    return 0;
  }
  static void Drain(sqlite3* db, Work& w) {
    int current = 0, high = 0;
    for (int op : {SQLITE_DBSTATUS_CACHE_HIT, SQLITE_DBSTATUS_CACHE_MISS}) {
      sqlite3_db_status(db, op, &current, &high, 1);
      w.pagesRead += current;
    }
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_WRITE, &current, &high, 1);
    w.pagesWritten += current;
  }

  std::vector<sqlite3*> live_;
  Work closed_;
};

class LogWorkTest : public AccessTest {
 protected:
  void SetUp() override {
    WorkCounter::Get().Install();
    AccessTest::SetUp();
  }
  void TearDown() override {
    AccessTest::TearDown();
    WorkCounter::Get().Uninstall();
  }
};

// A run that logs thousands of warnings: each line costs the same whatever the log holds
// already, so that the whole run's logging grows with the number of lines and not with its
// square.
TEST_F(LogWorkTest, AppendingALineCostsTheSameInALongLog) {
  GVDOC log = 0;
  ASSERT_EQ(CSMgrLogCreate(LogKind::kActivity, "Warned", 0, &log, nullptr), 0u);
  const std::string warning(120, 'w');
  auto append = [&](int lines) {
    for (int i = 0; i < lines; ++i) CSMgrLogText(log, 0x10003001u, warning);
  };
  constexpr int kMeasured = 50;
  append(100);
  WorkCounter::Get().Take();
  append(kMeasured);
  const Work shortLog = WorkCounter::Get().Take();
  append(3000);  // some 400 kB of log: pieces of the Body several times over
  WorkCounter::Get().Take();
  append(kMeasured);
  const Work longLog = WorkCounter::Get().Take();

  ASSERT_GT(shortLog.statements, 0);
  ASSERT_GT(shortLog.pagesWritten, 0);
  // The same work, give or take what the database's own trees add as they grow a level.
  EXPECT_LE(longLog.statements, shortLog.statements * 5 / 4) << shortLog.statements;
  EXPECT_LE(longLog.pagesWritten, shortLog.pagesWritten * 3 / 2) << shortLog.pagesWritten;
  EXPECT_LE(longLog.pagesRead, shortLog.pagesRead * 3 / 2) << shortLog.pagesRead;

  // Readers still find every line, in order, in the one Body.
  GVNOTEID id = OrdexDocumentId(log);
  ASSERT_EQ(CSMgrLogEnd(&log, 0), 0u);
  std::vector<std::string> lines = LogLines(id);
  ASSERT_EQ(lines.size(), 3200u);
  for (const std::string& line : lines) EXPECT_EQ(AfterTime(line), warning);
}

}  // namespace
