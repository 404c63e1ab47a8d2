// The server's MIB against a test server of TWSNMP_PIPE: replies of every size and shape
// reach the caches only when they are whole and within their fields; sets follow the cached
// state, twmain.ini's "SNMP" value and the row they name.
#include "tarnway_mib.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue.h"
#include "pipe_record_util.h"
#include "pipe_records.h"
#include "platform.h"
#include "snmp_test_util.h"
#include "tw/coding.h"

namespace {

using namespace tw::snmp;

using twtest::Field;
using twtest::Words;

// A state reply of length bytes (at least 522) as twmain writes it, for server state.
std::string StateReply(int32_t state, uint32_t length = kServerInfoSize,
                       const std::string& name = "Tarnway/Test") {
  std::string r = Words({kReplyServerInfo, static_cast<int32_t>(length), 7, 15, 30, 60, 20, 4,
                         state}) +
                  Field("10/12/2026 06:00:00", 100) + Field("10/12/2026 05:00:00", 100) +
                  Field(name, 256) + Field("Release 2.0", 30);
  r.resize(std::max<size_t>(length, r.size()), '\0');
  return r;
}
struct Entry {
  int32_t closing, id;
  std::string name;
};
std::string TableReply(const std::vector<Entry>& runs) {
  std::string body;
  for (const Entry& r : runs) body += Words({r.closing, r.id}) + Field("t", 100) + Field(r.name, 256);
  body += std::string(kEntrySize, '\0');
  return Words({kReplyActivityTable, static_cast<int32_t>(8 + body.size())}) + body;
}
std::string Ack() {
  return Words({kReplyAck, 8});
}

// twmain's end of TWSNMP_PIPE, on a thread: answers each request with reply(code), recording
// the requests.
class PipeServer {
 public:
  using Reply = std::function<std::string(int32_t code)>;
  explicit PipeServer(Reply reply) : reply_(std::move(reply)) {
    pipe_ = TWIPCCreate(kPipeName);
    EXPECT_NE(pipe_, nullptr);
    thread_ = std::thread([this] { Serve(); });
  }
  ~PipeServer() {
    TWIPCShutdown(pipe_, kPipeName);
    thread_.join();
  }
  std::vector<std::pair<int32_t, int32_t>> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  void set_reply(Reply reply) {
    std::lock_guard<std::mutex> lock(mu_);
    reply_ = std::move(reply);
  }

 private:
  void Serve() {
    for (;;) {
      TWIPC* conn = TWIPCWaitForConnection(pipe_);
      if (conn == nullptr) return;
      unsigned char req[12] = {};
      uint32_t got = 0;
      int more = 0;
      if (TWIPCReadNW(conn, req, sizeof req, &got, &more) && got >= 8) {
        int32_t code = tw::get_i32(req);
        std::string reply;
        {
          std::lock_guard<std::mutex> lock(mu_);
          requests_.emplace_back(code, got == 12 ? tw::get_i32(req + 8) : 0);
          reply = reply_(code);
        }
        uint32_t written = 0;
        (void)TWIPCWriteNW(conn, reply.data(), static_cast<uint32_t>(reply.size()), &written);
        TWIPCFlush(conn);
      }
      TWIPCDisconnect(conn);
    }
  }
  TWIPC* pipe_;
  std::mutex mu_;
  Reply reply_;
  std::vector<std::pair<int32_t, int32_t>> requests_;
  std::thread thread_;
};

class TarnwayMibTest : public ::testing::Test {
 protected:
  TarnwayMibTest() : log_(9, [this](std::string_view line) { logged_ += line; }), pipe_(log_) {
    twtest::SnmpInstallation();
  }
  void SetSnmp(const std::string& value) {
    twtest::WriteFile(twtest::SnmpInstallation() + "twmain.ini",
                      "[Configuration]\r\nSNMP=" + value + "\r\n");
  }
  TarnwayMib& Mib() {
    if (!mib_)
      mib_ = std::make_unique<TarnwayMib>(log_, pipe_, [this] {
        ++starts_;
        return uint32_t{0};
      });
    return *mib_;
  }
  // Runs one request on the object at index of the table with instance and value.
  int32_t Ask(uint32_t kind, size_t index, Oid instance, std::string* value) {
    return Mib().Handle(kind, index, MibObject{}, &instance, value);
  }
  int32_t Set(uint32_t kind, size_t index, uint32_t row, int32_t v) {
    std::string value = IntegerValue(v);
    Oid instance;
    (void)instance.Append(row);
    return Mib().Handle(kind, index, MibObject{}, &instance, &value);
  }
  static Oid Instance(uint32_t c) {
    Oid o;
    (void)o.Append(c);
    return o;
  }

  twtest::FakeClockEnv clock_;
  std::string logged_;
  AgentLog log_;
  ServerPipe pipe_;
  std::unique_ptr<TarnwayMib> mib_;
  int starts_ = 0;
};

constexpr size_t kRequested = 0, kName = 1, kServerId = 2, kRelease = 3, kState = 4;
constexpr size_t kColumnId = 12, kColumnName = 13, kColumnAction = 16;

std::string Text(uint32_t id) {
  return tw::message_text(id);
}

TEST_F(TarnwayMibTest, RepliesReachTheCacheOnlyWhenWholeAndWithinTheirBounds) {
  struct Case {
    const char* what;
    int32_t request;
    std::string reply;
    int expected;
    std::string logged;  // a text the log must hold
    uint32_t parsed = 0;  // what reading a whole reply into its cache answers
  };
  std::string longName = StateReply(1, kServerInfoSize, std::string(256, 'N'));
  const Case cases[] = {
      {"state of 522", kServerInfo, StateReply(1), 0, ""},
      {"state of 1100, read whole", kServerInfo, StateReply(1, 1100), 0, ""},
      {"state of 521", kServerInfo, StateReply(1).substr(0, 8) + std::string(513, 'x'), 1,
       Text(TWFAIL_SNMP_READ_SIZE)},
      {"state over the maximum", kServerInfo, StateReply(1, kServerInfoMax + 1), 1, Text(TWFAIL_SNMP_READ_SIZE)},
      {"4 GiB claimed", kServerInfo, Words({kReplyServerInfo, -1}) + std::string(600, 'x'), 7,
       Text(TWFAIL_SNMP_PIPE_READ)},
      {"name without NUL", kServerInfo, longName, 0, ""},
      {"unknown code", kServerInfo, Words({9, 8}), 1, "unknown message (9)"},
      {"table of no rows", kActivityTable, TableReply({}), 0, ""},
      {"table of 31 entries", kActivityTable,
       TableReply(std::vector<Entry>(30, Entry{0, 5, "r"})), 0, ""},
      {"table of 32 entries", kActivityTable,
       TableReply(std::vector<Entry>(31, Entry{0, 5, "r"})), 1, Text(TWFAIL_SNMP_READ_SIZE)},
      {"table not 8 + 364k", kActivityTable, Words({3, 8 + 364 + 4}) + std::string(368, '\0'), 1,
       Text(TWFAIL_SNMP_READ_SIZE)},
      {"table without its end entry", kActivityTable,
       Words({3, 8 + 364}) + Words({0, 5}) + std::string(356, 'n'), 0, "", TWFAIL_SNMP_READ_SIZE},
      {"table answering a state request", kServerInfo, TableReply({}), 1, Text(TWFAIL_SNMP_READ_SIZE)},
      {"ack of 12", kDownServer, Words({kReplyAck, 12, 0}), 1, Text(TWFAIL_SNMP_READ_SIZE)},
      {"ack", kStopServer, Ack(), 0, ""},
  };
  for (const Case& c : cases) {
    PipeServer server([&](int32_t) { return c.reply; });
    logged_.clear();
    std::string reply;
    EXPECT_EQ(pipe_.Exchange(c.request, 0, &reply), c.expected) << c.what;
    if (c.expected == 0) {
      EXPECT_EQ(reply, c.reply) << c.what;
      StateCache state;
      TableCache table;
      if (c.request == kServerInfo) {
        EXPECT_EQ(ParseStateReply(reply, &state), c.parsed) << c.what;
      }
      if (c.request == kActivityTable) {
        table.rows.resize(3);
        EXPECT_EQ(ParseTableReply(reply, &table), c.parsed) << c.what;
        if (c.parsed != 0) {
          EXPECT_EQ(table.rows.size(), 3u) << c.what;  // untouched
        }
      }
    } else {
      EXPECT_NE(logged_.find(c.logged), std::string::npos) << c.what << ": " << logged_;
      EXPECT_NE(logged_.find(Text(TWFAIL_SNMP_READ_FLUSHED)), std::string::npos) << c.what;
    }
  }
  // Texts stay within their fields.
  StateCache cache;
  ASSERT_EQ(ParseStateReply(longName, &cache), 0u);
  EXPECT_EQ(cache.name, std::string(256, 'N'));
  EXPECT_EQ(cache.release, "Release 2.0");
  // No server at all: 3, and the cache reads down.
  std::string reply;
  EXPECT_EQ(pipe_.Exchange(kServerInfo, 0, &reply), 3);
}

TEST_F(TarnwayMibTest, GetsServeTheCachesAndAnEmptyTableHasNoRows) {
  PipeServer server([](int32_t code) {
    return code == kServerInfo ? StateReply(kStateShuttingDown) : TableReply({});
  });
  std::string v;
  EXPECT_EQ(Ask(kMsgGet, kName, Instance(0), &v), kNoError);
  EXPECT_EQ(v, "Tarnway/Test");
  EXPECT_EQ(Ask(kMsgGet, kRelease, Instance(0), &v), kNoError);
  EXPECT_EQ(v, "Release 2.0");
  EXPECT_EQ(Ask(kMsgGet, kServerId, Instance(0), &v), kNoError);
  EXPECT_EQ(v, IntegerValue(7));
  EXPECT_EQ(Ask(kMsgGet, kState, Instance(0), &v), kNoError);
  EXPECT_EQ(v, IntegerValue(kStateShuttingDown));
  EXPECT_EQ(Ask(kMsgGet, kState, Instance(1), &v), kNoSuchName);
  EXPECT_EQ(Ask(kMsgSetTest, kState, Instance(0), &v), kReadOnly);
  for (uint32_t row : {0u, 1u, 2u}) {
    EXPECT_EQ(Ask(kMsgGet, kColumnId, Instance(row), &v), kNoSuchName) << row;
    EXPECT_EQ(Ask(kMsgGetNext, kColumnName, Instance(row), &v), kNoSuchName) << row;
  }
  // The whole walk asked for each cache once.
  EXPECT_EQ(pipe_.requests(kServerInfo), 1);
  EXPECT_EQ(pipe_.requests(kActivityTable), 1);
}

TEST_F(TarnwayMibTest, AWalkOfThirtyRowsAsksForTheTableOncePerCachePeriod) {
  std::vector<Entry> runs;
  for (int32_t i = 1; i <= 30; ++i) runs.push_back({i % 2, 100 + i, "run" + std::to_string(i)});
  PipeServer server([&](int32_t) { return TableReply(runs); });
  auto walk = [&] {
    for (size_t column = kColumnId; column <= kColumnAction; ++column) {
      Oid at;
      std::string v;
      uint32_t rows = 0;
      while (Mib().Handle(kMsgGetNext, column, MibObject{}, &at, &v) == kNoError) ++rows;
      EXPECT_EQ(rows, 30u) << column;
    }
  };
  walk();
  walk();
  EXPECT_EQ(pipe_.requests(kActivityTable), 1);
  clock_.Advance(kCacheMicros + 1);
  Mib().Age();
  walk();
  EXPECT_EQ(pipe_.requests(kActivityTable), 2);
  std::string v;
  EXPECT_EQ(Ask(kMsgGet, kColumnName, Instance(30), &v), kNoError);
  EXPECT_EQ(v, "run30");
}

TEST_F(TarnwayMibTest, ServerStateSetsFollowTheCachedState) {
  SetSnmp("2");
  struct Case {
    int32_t state;  // 0: twmain does not answer
    int32_t value;
    int32_t expected;
  };
  const Case cases[] = {
      {kStateRunning, 1, kBadValue},      {kStateRunning, 2, kNoError},
      {kStateRunning, 3, kNoError},       {kStateShuttingDown, 1, kBadValue},
      {kStateShuttingDown, 2, kBadValue}, {kStateShuttingDown, 3, kNoError},
      {kStateStopping, 1, kBadValue},     {kStateStopping, 2, kBadValue},
      {kStateStopping, 3, kBadValue},     {0, 1, kNoError},
      {0, 2, kBadValue},                  {0, 3, kBadValue},
      {kStateRunning, 0, kBadValue},      {kStateRunning, 4, kBadValue},
  };
  for (const Case& c : cases) {
    mib_.reset();
    std::unique_ptr<PipeServer> server;
    if (c.state != 0)
      server = std::make_unique<PipeServer>([&](int32_t code) {
        return code == kServerInfo ? StateReply(c.state) : Ack();
      });
    EXPECT_EQ(Set(kMsgSetTest, kRequested, 0, c.value), c.expected)
        << "state " << c.state << " value " << c.value;
  }
  // The commits: down and stop go to twmain, start runs it.
  mib_.reset();
  {
    PipeServer server([](int32_t code) {
      return code == kServerInfo ? StateReply(kStateRunning) : Ack();
    });
    EXPECT_EQ(Set(kMsgSetCommit, kRequested, 0, 2), kNoError);
    EXPECT_EQ(Set(kMsgSetCommit, kRequested, 0, 3), kNoError);
    EXPECT_EQ(server.requests(),
              (std::vector<std::pair<int32_t, int32_t>>{{kDownServer, 0}, {kStopServer, 0}}));
    std::string v;
    EXPECT_EQ(Ask(kMsgGet, kRequested, Instance(0), &v), kNoError);
    EXPECT_EQ(v, IntegerValue(3));
  }
  // twmain gone: a down cannot be sent.
  EXPECT_EQ(Set(kMsgSetCommit, kRequested, 0, 2), kGenErr);
}

TEST_F(TarnwayMibTest, TwoStartsWithinTwentySecondsStartTwmainOnce) {
  SetSnmp("2");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Set(kMsgSetTest, kRequested, 0, 1), kNoError);
    EXPECT_EQ(Set(kMsgSetCommit, kRequested, 0, 1), kNoError);
    clock_.Advance(kStartMicros - 2'000'000);
  }
  EXPECT_EQ(starts_, 1);
  clock_.Advance(2'000'001);
  EXPECT_EQ(Set(kMsgSetTest, kRequested, 0, 1), kNoError);
  EXPECT_EQ(Set(kMsgSetCommit, kRequested, 0, 1), kNoError);
  EXPECT_EQ(starts_, 2);
}

TEST_F(TarnwayMibTest, TheSnmpValueDecidesWhetherSetsAreAllowed) {
  struct Case {
    const char* value;
    int32_t expected;
    bool reported;
  };
  const Case cases[] = {{"2", kNoError, false}, {"1", kReadOnly, false},
                        {"0", kReadOnly, false}, {"x", kReadOnly, true}};
  PipeServer server([](int32_t code) {
    return code == kServerInfo ? StateReply(kStateRunning) : TableReply({{0, 41, "a"}});
  });
  for (const Case& c : cases) {
    SetSnmp(c.value);
    mib_.reset();
    logged_.clear();
    EXPECT_EQ(Set(kMsgSetTest, kRequested, 0, 2), c.expected) << c.value;
    EXPECT_EQ(Set(kMsgSetTest, kColumnAction, 1, 1), c.expected) << c.value;
    EXPECT_EQ(logged_.find(Text(TWFAIL_SNMP_SETTING)) != std::string::npos, c.reported)
        << c.value;
    std::string v;
    EXPECT_EQ(Ask(kMsgGet, kName, Instance(0), &v), kNoError) << c.value;
    EXPECT_EQ(Ask(kMsgGet, kColumnId, Instance(1), &v), kNoError) << c.value;
    // Read once: a later change of the file does not count.
    SetSnmp(c.expected == kNoError ? "1" : "2");
    EXPECT_EQ(Set(kMsgSetTest, kRequested, 0, 2), c.expected) << c.value;
  }
}

TEST_F(TarnwayMibTest, ATwoRowCloseAndKillActsOnEachRowsOwnRun) {
  SetSnmp("2");
  PipeServer server([](int32_t code) {
    return code == kActivityTable ? TableReply({{0, 11, "first"}, {0, 22, "second"}}) : Ack();
  });
  // One request: both rows tested, then both committed.
  EXPECT_EQ(Set(kMsgSetTest, kColumnAction, 1, 1), kNoError);
  EXPECT_EQ(Set(kMsgSetTest, kColumnAction, 2, 2), kNoError);
  // twmain's table changes meanwhile: the commits still act on the runs tested.
  server.set_reply([](int32_t code) {
    return code == kActivityTable ? TableReply({{0, 22, "second"}}) : Ack();
  });
  EXPECT_EQ(Set(kMsgSetCommit, kColumnAction, 1, 1), kNoError);
  EXPECT_EQ(Set(kMsgSetCommit, kColumnAction, 2, 2), kNoError);
  auto requests = server.requests();
  std::vector<std::pair<int32_t, int32_t>> acts(requests.begin() + 1, requests.end());
  EXPECT_EQ(acts, (std::vector<std::pair<int32_t, int32_t>>{{kCloseActivity, 11},
                                                           {kKillActivity, 22}}));
  // A commit with no test before it acts on nothing.
  EXPECT_EQ(Set(kMsgSetCommit, kColumnAction, 1, 2), kGenErr);
  // Bad values and rows.
  struct Case {
    uint32_t row;
    std::string value;
    int32_t expected;
  };
  const Case cases[] = {{1, IntegerValue(3), kBadValue},
                        {1, IntegerValue(0), kBadValue},
                        {1, "ab", kBadValue},
                        {2, IntegerValue(1), kNoSuchName},
                        {0, IntegerValue(1), kNoSuchName}};
  for (const Case& c : cases) {
    std::string value = c.value;
    EXPECT_EQ(Ask(kMsgSetTest, kColumnAction, Instance(c.row), &value), c.expected) << c.row;
  }
  std::string v;
  EXPECT_EQ(Ask(kMsgSetTest, kColumnName, Instance(1), &v), kReadOnly);
  EXPECT_EQ(Ask(kMsgGet, kColumnAction, Instance(1), &v), kNoError);
  EXPECT_EQ(v, IntegerValue(0));
}

}  // namespace
