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
class Master : public twtest::TestMaster {
 public:
  Master() : TestMaster(kMasterService) {}
  // The root mibagent registered ("" when it did not).
  std::string Register(int32_t status) {
    return AcceptAndRegister(status, 20000) ? registered().root.Text() : "";
  }
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
  EXPECT_EQ(master.Register(kLinkBadMib), "1.3.6.1.4.1.818181.72.11");
  EXPECT_EQ(agent_.WaitExit(20000), 1);
  out = Out();
  EXPECT_NE(out.find("Error registering MIB (-7)."), std::string::npos) << out;
  EXPECT_TRUE(Has(out, TWFAIL_SNMP_AGENT_INIT)) << out;
}

TEST_F(MibagentTest, SigtermUnregistersAndEndsWithZero) {
  Master master;
  ASSERT_TRUE(Start());
  ASSERT_EQ(master.Register(0), "1.3.6.1.4.1.818181.72.11");
  ASSERT_TRUE(twtest::WaitUntil([&] { return Has(Out(), TWMSG_SNMP_STARTED); }, 20000)) << Out();
  agent_.Signal(SIGTERM);
  Message bye = master.Next(20000);
  EXPECT_EQ(bye.type, kMsgUnregister);
  EXPECT_EQ(bye.root.Text(), "1.3.6.1.4.1.818181.72.11");
  EXPECT_TRUE(master.Answer(0));
  EXPECT_EQ(agent_.WaitExit(20000), 0);
  EXPECT_TRUE(Has(Out(), TWMSG_SNMP_STOPPING)) << Out();
}

}  // namespace
