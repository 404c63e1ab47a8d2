// mibagent as a program against a master agent played by the test: it ends with 1 when it
// cannot attach or register, and a SIGTERM takes the normal shut-down.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <memory>
#include <string>

#include "agent_link.h"
#include "catalogue.h"
#include "csipc.h"
#include "process_util.h"
#include "snmp_test_util.h"

namespace {

using namespace tw::snmp;

// The master agent's service as mibagent looks for it.
class Master {
 public:
  Master() {
    int st = 1;
    service_ = CSIPC::Advertise(kMasterService, &st);
    EXPECT_EQ(st, 0);
  }
  // Accepts mibagent and answers its register request with status; the registered root.
  std::string AcceptAndRegister(int32_t status) {
    if (service_->Wait(20000) != 1) return "";
    int st = 1;
    conn_ = service_->Accept(&st);
    if (conn_ == nullptr) return "";
    Message reg = Next(20000);
    Message answer;
    answer.type = kMsgResponse;
    answer.status = status;
    std::string frame;
    if (EncodeMessage(answer, &frame) != 0 || conn_->Send(frame) < 0) return "";
    return reg.type == kMsgRegister ? reg.root.Text() : "";
  }
  // The next message from mibagent (type 0 when none came within timeoutMs).
  Message Next(int timeoutMs) {
    Message m;
    std::string frame;
    if (conn_->Wait(timeoutMs) == 1 && conn_->Receive(&frame) >= 0) (void)DecodeMessage(frame, &m);
    return m;
  }
  void Answer(int32_t status) {
    Message answer;
    answer.type = kMsgResponse;
    answer.status = status;
    std::string frame;
    ASSERT_EQ(EncodeMessage(answer, &frame), 0);
    ASSERT_GE(conn_->Send(frame), 0);
  }

 private:
  std::unique_ptr<CSIPC> service_;
  std::unique_ptr<CSIPC> conn_;
};

class MibagentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_ = twtest::SnmpInstallation();
    twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nDirectory=" + inst_ + "\r\n");
  }
  bool Start() {
    std::vector<std::string> env = {"PATH=" + inst_};
    for (const std::string& e : twtest::InheritedEnv()) env.push_back(e);
    return agent_.StartWithFiles({twtest::BuildInstDir() + "mibagent", "-D", "1"}, env, "", false,
                                 inst_ + "mibagent.out", inst_ + "mibagent.err");
  }
  std::string Out() const { return twtest::ReadFile(inst_ + "mibagent.out"); }

  std::string inst_;
  twtest::ChildProcess agent_;
};

bool Has(const std::string& text, uint32_t id) {
  return text.find(tw::message_text(id)) != std::string::npos;
}

TEST_F(MibagentTest, FailingToAttachOrRegisterEndsWithOne) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(agent_.WaitExit(20000), 1);
  std::string out = Out();
  EXPECT_TRUE(Has(out, TWMSG_SNMP_STARTING)) << out;
  EXPECT_NE(out.find("Error attaching to Main Proxy Agent (-8)."), std::string::npos) << out;
  EXPECT_TRUE(Has(out, TWFAIL_SNMP_AGENT_INIT)) << out;

  Master master;
  ASSERT_TRUE(Start());
  EXPECT_EQ(master.AcceptAndRegister(kLinkBadMib), "1.3.6.1.4.1.818181.72.11");
  EXPECT_EQ(agent_.WaitExit(20000), 1);
  out = Out();
  EXPECT_NE(out.find("Error registering MIB (-7)."), std::string::npos) << out;
  EXPECT_TRUE(Has(out, TWFAIL_SNMP_AGENT_INIT)) << out;
}

TEST_F(MibagentTest, SigtermUnregistersAndEndsWithZero) {
  Master master;
  ASSERT_TRUE(Start());
  ASSERT_EQ(master.AcceptAndRegister(0), "1.3.6.1.4.1.818181.72.11");
  ASSERT_TRUE(twtest::WaitUntil([&] { return Has(Out(), TWMSG_SNMP_STARTED); }, 20000)) << Out();
  agent_.Signal(SIGTERM);
  Message bye = master.Next(20000);
  EXPECT_EQ(bye.type, kMsgUnregister);
  EXPECT_EQ(bye.root.Text(), "1.3.6.1.4.1.818181.72.11");
  master.Answer(0);
  EXPECT_EQ(agent_.WaitExit(20000), 0);
  EXPECT_TRUE(Has(Out(), TWMSG_SNMP_STOPPING)) << Out();
}

}  // namespace
