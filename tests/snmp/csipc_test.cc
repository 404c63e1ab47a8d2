// The sub-agent's pipe: the handshake, frames and their bounds, and a lost or silent peer
// noticed within the I/O time-out rather than waited for without end.
#include "csipc.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <memory>
#include <string>

#include "rundir.h"
#include "snmp_test_util.h"
#include "tw/coding.h"

namespace {

using namespace tw::snmp;

class CsipcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    twtest::SnmpInstallation();
    CSIPC::SetIoTimeoutMillis(300);
    int st = 1;
    service_ = CSIPC::Advertise("csipcTest", &st);
    ASSERT_NE(service_, nullptr);
    ASSERT_EQ(st, 0);
  }
  void TearDown() override { CSIPC::SetIoTimeoutMillis(0); }

  // A client attached through the handshake, and the service's end of it.
  void Pair(std::unique_ptr<CSIPC>* client, std::unique_ptr<CSIPC>* accepted) {
    auto attach = std::async(std::launch::async, [] {
      int st = 1;
      auto c = CSIPC::Attach("csipcTest", "esaSubAgent", &st);
      EXPECT_EQ(st, 0);
      return c;
    });
    ASSERT_EQ(service_->Wait(5000), 1);
    int st = 1;
    *accepted = service_->Accept(&st);
    ASSERT_EQ(st, 0);
    *client = attach.get();
    ASSERT_NE(*client, nullptr);
    ASSERT_NE(*accepted, nullptr);
  }

  // A plain socket connected to the service, for peers that break the protocol.
  int RawConnect() {
    std::string path = tw::run_dir(false) + "csipcTest.agent";
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  }
  static void RawFrame(int fd, uint32_t length, const std::string& data) {
    char head[4];
    tw::put_u32(head, length);
    ASSERT_EQ(::send(fd, head, 4, MSG_NOSIGNAL), 4);
    if (!data.empty()) {
      ASSERT_EQ(::send(fd, data.data(), data.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(data.size()));
    }
  }

  std::unique_ptr<CSIPC> service_;
};

TEST_F(CsipcTest, AttachedEndsExchangeFramesBothWays) {
  std::unique_ptr<CSIPC> client, accepted;
  Pair(&client, &accepted);
  EXPECT_EQ(client->role(), CSIPC::kClient);
  EXPECT_EQ(accepted->role(), CSIPC::kAccepted);
  EXPECT_EQ(accepted->peer(), "esaSubAgent");
  EXPECT_EQ(client->Poll(), 0);
  EXPECT_EQ(client->Wait(0), kLinkTimeout);

  std::string full(kMaxFrame, 'f');
  EXPECT_EQ(client->Send(full), static_cast<int>(kMaxFrame));
  EXPECT_EQ(client->Send(""), 0);
  EXPECT_EQ(accepted->Wait(1000), 1);
  std::string got;
  EXPECT_EQ(accepted->Receive(&got), static_cast<int>(kMaxFrame));
  EXPECT_EQ(got, full);
  EXPECT_EQ(accepted->Receive(&got), 0);
  EXPECT_EQ(accepted->Send("back"), 4);
  EXPECT_EQ(client->Receive(&got), 4);
  EXPECT_EQ(got, "back");
  EXPECT_EQ(client->Send(std::string(kMaxFrame + 1, 'x')), kLinkBadArgument);
}

TEST_F(CsipcTest, AFrameOverItsBoundDropsTheLinkInsteadOfDesynchronisingIt) {
  struct Case {
    const char* what;
    uint32_t length;
    uint32_t max;
  };
  const Case cases[] = {
      {"2049-byte frame", kMaxFrame + 1, kMaxFrame},
      {"4 GiB claimed", 0xFFFFFFFFu, kMaxFrame},
      {"frame over the caller's room", 100, 10},
  };
  for (const Case& c : cases) {
    std::unique_ptr<CSIPC> client, accepted;
    Pair(&client, &accepted);
    RawFrame(client->fd(), c.length, std::string(std::min<uint32_t>(c.length, 2100), 'z'));
    std::string got;
    EXPECT_EQ(accepted->Receive(&got, c.max), kLinkDown) << c.what;
  }
}

TEST_F(CsipcTest, HangUpAndSilenceAreALostLink) {
  {
    std::unique_ptr<CSIPC> client, accepted;
    Pair(&client, &accepted);
    client.reset();
    EXPECT_EQ(accepted->Wait(5000), kLinkDown);
    EXPECT_EQ(accepted->Send("x"), kLinkDown);
  }
  {
    // A peer that announces a frame and never sends it.
    std::unique_ptr<CSIPC> client, accepted;
    Pair(&client, &accepted);
    RawFrame(client->fd(), 10, "abc");
    std::string got;
    EXPECT_EQ(accepted->Receive(&got), kLinkDown);
  }
  {
    // A peer that never reads: the sender gives up once the socket is full.
    std::unique_ptr<CSIPC> client, accepted;
    Pair(&client, &accepted);
    int rc = 0;
    for (int i = 0; i < 100000 && rc >= 0; ++i) rc = accepted->Send(std::string(kMaxFrame, 's'));
    EXPECT_EQ(rc, kLinkDown);
  }
}

TEST_F(CsipcTest, TheHandshakeRefusesBadPeersAndEndsNames) {
  struct Case {
    const char* what;
    std::string name;
    int expected;
    std::string peer;
  };
  const Case cases[] = {
      {"name without NUL", "abc", 0, "abc"},
      {"NUL inside", std::string("ab\0cd", 5), 0, "ab"},
      {"name of 257 bytes", std::string(257, 'n'), kLinkDown, ""},
  };
  for (const Case& c : cases) {
    int fd = RawConnect();
    RawFrame(fd, static_cast<uint32_t>(c.name.size()), c.name);
    auto client = std::async(std::launch::async, [fd] {
      // Answers the first event name as a client would, then reads to the end.
      char buf[512];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n > 0) {
        char zero[4] = {};
        (void)::send(fd, zero, 4, MSG_NOSIGNAL);
        while (::recv(fd, buf, sizeof buf, 0) > 0) {
        }
      }
      ::close(fd);
    });
    ASSERT_EQ(service_->Wait(5000), 1);
    int st = 1;
    auto accepted = service_->Accept(&st);
    EXPECT_EQ(st, c.expected) << c.what;
    if (accepted) {
      EXPECT_EQ(accepted->peer(), c.peer) << c.what;
    }
    accepted.reset();
    client.get();
  }
  // A client that connects and says nothing is dropped after the time-out.
  int fd = RawConnect();
  ASSERT_EQ(service_->Wait(5000), 1);
  int st = 1;
  EXPECT_EQ(service_->Accept(&st), nullptr);
  EXPECT_EQ(st, kLinkDown);
  ::close(fd);
}

TEST_F(CsipcTest, NamesAndAbsentServices) {
  int st = 0;
  EXPECT_EQ(CSIPC::Advertise(std::string(48, 's'), &st), nullptr);
  EXPECT_EQ(st, kLinkBadArgument);
  EXPECT_EQ(CSIPC::Advertise("csipcTest", &st), nullptr);  // served already
  EXPECT_EQ(st, kLinkBadArgument);
  EXPECT_EQ(CSIPC::Attach("nobodyServes", "esaSubAgent", &st), nullptr);
  EXPECT_EQ(st, kLinkDown);
  // Service names follow the rule of the installation's pipe names.
  EXPECT_EQ(CSIPC::Advertise(std::string(33, 's'), &st), nullptr);
  EXPECT_NE(CSIPC::Advertise(std::string(32, 's'), &st), nullptr);
}

}  // namespace
