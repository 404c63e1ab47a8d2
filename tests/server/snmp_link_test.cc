// The SNMP link server against a client speaking the TWSNMP_PIPE protocol and a scheduler
// stand-in: every reply byte for byte, the commands requests become, malformed requests, and
// when the link serves at all.
#include "snmp_link.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pipe_record_util.h"
#include "server_test_util.h"
#include "standin_util.h"
#include "tw/coding.h"

namespace twtest {
namespace {

using tw::server::SnmpLink;
namespace srv = tw::server;

constexpr TWDatetime kStart = kStandInStart;
const TWDatetime kNow{4320000, 2450123};
const TWDatetime kRunStart{360000, 2450120};

SchedulerCommand Cmd(int32_t code, int32_t argument = 0) {
  return SchedulerCommand{code, srv::kSourceSnmp, argument, 0};
}

// What the sub-agent does: open the pipe, write the request, read one reply whole, close.
// nullopt when no reply came (the server dropped the request).
std::optional<std::string> Exchange(const std::string& request) {
  TWIPC* pipe = TWIPCOpen(srv::snmp::kPipeName, 0);
  if (pipe == nullptr) return std::nullopt;
  uint32_t written = 0;
  std::optional<std::string> reply;
  if (TWIPCWrite(pipe, request.data(), static_cast<uint32_t>(request.size()), &written)) {
    std::string got;
    char buffer[1024];
    uint32_t n = 0;
    int more = 1;
    while (more && TWIPCRead(pipe, buffer, sizeof buffer, &n, &more)) got.append(buffer, n);
    if (!more && !got.empty()) reply = got;
  }
  TWIPCClose(pipe);
  return reply;
}

class SnmpLinkTest : public StandInTest {
 protected:
  SnmpLinkTest() : StandInTest(srv::kSnmpEventPipeSize) {}
  ~SnmpLinkTest() override {
    Stop();
    err_.Close();
  }

  // Constructs the link after the first event and runs it on a thread when it is active.
  void Start(std::vector<StandInRun> runs = {}, ConsoleEvent first = Started()) {
    StartStandIn(std::move(runs));
    standIn_->status = srv::StatusValues{0x1F2, 15, 30, 60, 20, 4, srv::kStateStopping};
    standIn_->now = kNow;
    ASSERT_EQ(srv::PostConsoleEvent(events_.get(), first), TWSUCCESS);
    link_ = std::make_unique<SnmpLink>(commands_.get(), events_.get(), err_.file());
    if (link_->active()) runner_ = std::thread([this] { rc_ = link_->Run(); });
  }
  void Stop() {
    if (runner_.joinable()) {
      EXPECT_EQ(srv::PostConsoleEvent(events_.get(), Event(srv::EventEnded)), TWSUCCESS);
      runner_.join();
    }
    link_.reset();
    standIn_.reset();
  }
  CapturedOutput err_;
  std::unique_ptr<SnmpLink> link_;
  std::thread runner_;
  int rc_ = -1;
};

TEST_F(SnmpLinkTest, ServerInformationIsOneReplyOf522Bytes) {
  Start();
  std::string expected = Words({1, 522, 0x1F2, 15, 30, 60, 20, 4, srv::kStateStopping}) +
                         Field(TimeText(kNow), 100) + Field(TimeText(kStart), 100) +
                         Field("Tarnway/Test", 256) + Field("Release 2.0", 30);
  ASSERT_EQ(expected.size(), 522u);
  EXPECT_EQ(Exchange(Words({1, 8})), expected);
  EXPECT_EQ(Commands(), std::vector<SchedulerCommand>{Cmd(srv::SchedShowStatus)});
}

TEST_F(SnmpLinkTest, TheActivityTableEndsWithAZeroedEntry) {
  struct Case {
    std::vector<StandInRun> runs;
  };
  auto entry = [](int32_t closing, int32_t number, const std::string& name) {
    return Words({closing, number}) + Field(TimeText(kRunStart), 100) + Field(name, 256);
  };
  const std::string zero(364, '\0');
  Start({StandInRun{1, "Nightly", false, kRunStart},
         StandInRun{3, std::string(300, 'n'), true, kRunStart}});
  EXPECT_EQ(Exchange(Words({2, 8})), Words({3, 8 + 364 * 3}) + entry(0, 1, "Nightly") +
                                         entry(1, 3, std::string(255, 'n')) + zero);
  Stop();

  // No runs: the header {3, 372} and the end entry alone.
  Start();
  EXPECT_EQ(Exchange(Words({2, 8})), Words({3, 372}) + zero);
  EXPECT_EQ(Commands(), std::vector<SchedulerCommand>{Cmd(srv::SchedList)});
}

TEST_F(SnmpLinkTest, ATableHoldsAtMostThirtyActivities) {
  std::vector<StandInRun> runs;
  for (int32_t i = 1; i <= 32; ++i) runs.push_back(StandInRun{i, "A" + std::to_string(i)});
  Start(runs);
  std::optional<std::string> reply = Exchange(Words({2, 8}));
  ASSERT_TRUE(reply.has_value());
  ASSERT_EQ(reply->size(), 8u + 364 * 31);
  EXPECT_EQ(reply->substr(0, 8), Words({3, 8 + 364 * 31}));
  EXPECT_EQ(tw::get_i32(reply->data() + 8 + 364 * 29 + 4), 30);
  EXPECT_EQ(reply->substr(8 + 364 * 30), std::string(364, '\0'));
  Stop();
  err_.Close();
  EXPECT_EQ(err_.text(),
            "Too many Activities pass to SNMP Agent.\nToo many Activities pass to SNMP Agent.\n");
}

TEST_F(SnmpLinkTest, RequestsThatActAreAcknowledged) {
  Start();
  struct Case {
    std::string request;
    SchedulerCommand posted;
  };
  const Case cases[] = {
      {Words({3, 12, 7}), Cmd(srv::SchedClose, 7)},
      {Words({4, 12, 99}), Cmd(srv::SchedKillConfirmed, 99)},
      {Words({5, 8}), Cmd(srv::SchedDown)},
      {Words({6, 8}), Cmd(srv::SchedStop)},
  };
  std::vector<SchedulerCommand> expected;
  for (const Case& c : cases) {
    EXPECT_EQ(Exchange(c.request), Words({10, 8}));
    expected.push_back(c.posted);
    ASSERT_TRUE(standIn_->WaitForCommands(expected.size()));
  }
  EXPECT_EQ(Commands(), expected);
}

TEST_F(SnmpLinkTest, MalformedRequestsAreDroppedWithoutACommand) {
  Start();
  const std::string cases[] = {
      Words({3, 8}),          // a close without its run number
      Words({4, 10}) + "ab",  // cut inside the run number
      Words({7, 8}),          // no such request
      Words({0, 8}),         Words({-1, 12, 1}),
  };
  for (const std::string& request : cases) EXPECT_EQ(Exchange(request), std::nullopt);
  // The link goes on serving, and reads no more of a request than its code needs.
  EXPECT_EQ(Exchange(Words({5, 16, 1, 2})), Words({10, 8}));
  ASSERT_TRUE(standIn_->WaitForCommands(1));
  EXPECT_EQ(Commands(), std::vector<SchedulerCommand>{Cmd(srv::SchedDown)});
}

TEST_F(SnmpLinkTest, ServesOnlyAfterASuccessfulStartAndUntilEvent13) {
  Start({}, Event(srv::EventStartFailed));
  EXPECT_FALSE(link_->active());
  EXPECT_EQ(link_->Run(), 1);
  EXPECT_FALSE(TWIPCExists(srv::snmp::kPipeName, 0));
  Stop();

  Start();
  EXPECT_TRUE(TWIPCExists(srv::snmp::kPipeName, 0));
  Stop();
  EXPECT_EQ(rc_, 0);
  EXPECT_FALSE(TWIPCExists(srv::snmp::kPipeName, 0));
  err_.Close();
  EXPECT_EQ(err_.text(), "");
}

TEST_F(SnmpLinkTest, APipeHeldByAnotherServerLeavesTheLinkInactive) {
  TWIPC* other = TWIPCCreate(srv::snmp::kPipeName);
  ASSERT_NE(other, nullptr);
  Start();
  EXPECT_FALSE(link_->active());
  EXPECT_EQ(link_->Run(), 1);
  Stop();
  EXPECT_TRUE(TWIPCExists(srv::snmp::kPipeName, 0));
  TWIPCShutdown(other, srv::snmp::kPipeName);
  err_.Close();
  EXPECT_EQ(err_.text(), "Error creating SNMP Agent pipe.\n");
}

}  // namespace
}  // namespace twtest
