// The sub-agent's link against a master agent played by the test: registration, requests
// dispatched by unique id, and a master agent that dies and comes back.
#include "agent_link.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>

#include "catalogue.h"
#include "snmp_test_util.h"

namespace {

using namespace tw::snmp;

constexpr const char* kService = "linkTestProxy";

class Master : public twtest::TestMaster {
 public:
  Master() : TestMaster(kService) {}
  tw::snmp::Message Receive() { return Next(); }
};

const std::vector<ObjectSpec> kRows = {
    {"1.1", ObjectFlags(kReadWriteAccess, kTypeInteger, false)},
    {"2.1", ObjectFlags(kReadOnlyAccess, kTypeText, false)},
    {"3.1.1", ObjectFlags(kReadOnlyAccess, kTypeInteger, true)},
};

class AgentLinkTest : public ::testing::Test {
 protected:
  AgentLinkTest() : log_(9, [this](std::string_view line) { logged_ += line; }) {
    twtest::SnmpInstallation();
    CSIPC::SetIoTimeoutMillis(2000);
  }
  ~AgentLinkTest() override { CSIPC::SetIoTimeoutMillis(0); }

  // Attaches the link to master and registers the test sub-tree.
  void AttachTo(Master& master) {
    auto served = std::async(std::launch::async, [&] { return master.AcceptAndRegister(); });
    ASSERT_EQ(link_.Attach(), 0);
    ASSERT_EQ(link_.Register("1.3.6.1.4.1.99", kRows, Handler()), 0);
    ASSERT_TRUE(served.get());
  }
  ObjectHandler Handler() {
    return [this](uint32_t kind, size_t index, const MibObject&, Oid* instance,
                  std::string* value) -> int32_t {
      calls_.push_back({kind, index});
      if (index == 2) {  // a column of two rows
        uint32_t row = instance->count ? instance->c[0] : 0;
        if (kind == kMsgGetNext) ++row;
        if (row == 0 || row > 2) return kNoSuchName;
        *instance = Oid{};
        (void)instance->Append(row);
        *value = IntegerValue(static_cast<int32_t>(row * 10));
        return kNoError;
      }
      if (index == 1 && kind != kMsgGet) return kReadOnly;
      if (index == 0 && kind == kMsgSetTest) return -1;  // a failing handler
      *value = index == 1 ? "text" : IntegerValue(5);
      return kNoError;
    };
  }
  Message Request(Master& master, uint32_t type, size_t index, const std::string& instance) {
    Message m;
    m.type = type;
    m.uniqueId = master.registered().objects[index].uniqueId;
    m.oid = master.registered().objects[index].oid;
    if (!instance.empty()) {
      Oid tail;
      EXPECT_EQ(ParseOid(instance, &tail), 0);
      EXPECT_TRUE(m.oid.Append(tail));
    }
    m.value = IntegerValue(1);
    EXPECT_TRUE(master.Send(m));
    EXPECT_EQ(link_.Serve(2000), 1);
    return master.Receive();
  }

  twtest::FakeClockEnv clock_;
  std::string logged_;
  AgentLog log_;
  AgentLink link_{log_, kService, "esaSubAgent"};
  std::vector<std::pair<uint32_t, size_t>> calls_;
};

TEST_F(AgentLinkTest, RequestsReachTheirObjectAndAnswerWithStatusIdentifierAndValue) {
  Master master;
  AttachTo(master);
  const Message& reg = master.registered();
  ASSERT_EQ(reg.type, kMsgRegister);
  EXPECT_EQ(reg.root.Text(), "1.3.6.1.4.1.99");
  ASSERT_EQ(reg.objects.size(), 3u);
  EXPECT_EQ(reg.objects[2].oid.Text(), "1.3.6.1.4.1.99.3.1.1");
  EXPECT_EQ(reg.objects[2].column, 1);
  EXPECT_EQ(reg.objects[1].type, kTypeText);
  EXPECT_EQ(reg.objects[1].uniqueId, reg.objects[0].uniqueId + 1);

  struct Case {
    uint32_t type;
    size_t index;
    std::string instance;
    int32_t status;
    std::string oid;  // answered identifier under the root
    std::string value;
  };
  const Case cases[] = {
      {kMsgGet, 1, "0", kNoError, "2.1.0", "text"},
      {kMsgGet, 0, "0", kNoError, "1.1.0", IntegerValue(5)},
      {kMsgGetNext, 2, "0", kNoError, "3.1.1.1", IntegerValue(10)},
      {kMsgGetNext, 2, "1", kNoError, "3.1.1.2", IntegerValue(20)},
      {kMsgGetNext, 2, "2", kNoSuchName, "3.1.1.2", ""},
      {kMsgSetTest, 1, "0", kReadOnly, "2.1.0", ""},
      {kMsgSetTest, 0, "0", kGenErr, "1.1.0", ""},
  };
  for (const Case& c : cases) {
    Message answer = Request(master, c.type, c.index, c.instance);
    EXPECT_EQ(answer.type, kMsgResponse);
    EXPECT_EQ(answer.status, c.status) << c.type << " " << c.index << "." << c.instance;
    EXPECT_EQ(answer.oid.Text(), "1.3.6.1.4.1.99." + c.oid) << c.type << " " << c.index;
    EXPECT_EQ(answer.value, c.value) << c.type << " " << c.index;
  }
  // An id nobody registered, and a frame that is no message.
  Message unknown;
  unknown.type = kMsgGet;
  unknown.uniqueId = 0xFFFFFFF0u;
  ASSERT_TRUE(master.Send(unknown));
  EXPECT_EQ(link_.Serve(2000), 1);
  EXPECT_EQ(master.Receive().status, kNoSuchName);
  ASSERT_GE(master.conn().Send(std::string("\4\0\0\0\1", 5)), 0);
  EXPECT_EQ(link_.Serve(2000), 1);
  EXPECT_EQ(master.Receive().status, kGenErr);
  EXPECT_EQ(link_.Serve(0), kLinkTimeout);

  // A trap goes out as its own message; an eleventh binding is refused before anything is sent.
  Message trap;
  trap.type = kMsgTrap;
  trap.generic = 6;
  trap.specific = 2;
  trap.bindings = {{reg.root, kTypeText, 0, "disk full"}, {reg.root, kTypeInteger, 9, ""}};
  ASSERT_EQ(link_.SendTrap(trap), 0);
  EXPECT_EQ(master.Receive(), trap);
  EXPECT_NE(logged_.find("Sending SNMP trap: \"6!2!disk full!9!\""), std::string::npos) << logged_;
  trap.bindings.resize(kMaxTrapBindings + 1);
  EXPECT_EQ(link_.SendTrap(trap), kLinkTrapFull);
  EXPECT_EQ(master.conn().Poll(), 0);
}

TEST_F(AgentLinkTest, AKilledMasterIsNoticedAndTheLinkReattachesAfterTheWait) {
  auto master = std::make_unique<Master>();
  AttachTo(*master);
  master.reset();  // the master agent dies
  EXPECT_EQ(link_.Serve(2000), kLinkDown);
  EXPECT_FALSE(link_.connected());

  // Nobody serves: the wait passes on the platform clock, the attach fails, and again.
  int64_t before = clock_.slept();
  EXPECT_EQ(link_.Serve(0), kLinkDown);
  EXPECT_EQ(clock_.slept() - before, AgentLink::kReattachMicros);
  EXPECT_NE(logged_.find("Waiting 30 seconds before attempting re-connect"), std::string::npos);

  // A new master: the next step attaches and registers the sub-tree again by itself.
  Master again;
  auto served = std::async(std::launch::async, [&] { return again.AcceptAndRegister(); });
  EXPECT_EQ(link_.Serve(0), kLinkTimeout);
  ASSERT_TRUE(served.get());
  EXPECT_TRUE(link_.connected());
  EXPECT_EQ(again.registered().objects.size(), 3u);
  EXPECT_EQ(Request(again, kMsgGet, 1, "0").value, "text");
}

TEST_F(AgentLinkTest, AStopDuringTheWaitEndsItEarly) {
  int steps = 0;
  EXPECT_EQ(link_.Serve(0, [&] { return ++steps > 3; }), kLinkDown);
  EXPECT_LT(clock_.slept(), AgentLink::kReattachMicros);
}

TEST_F(AgentLinkTest, TablesThatCannotBeRegisteredAreRefused) {
  struct Case {
    const char* what;
    std::string root;
    std::vector<ObjectSpec> rows;
    int expected;
  };
  const Case cases[] = {
      {"empty", "1.3.6.1.4.1.98", {}, kLinkBadMib},
      {"bad access", "1.3.6.1.4.1.98", {{"1", ObjectFlags(4, kTypeInteger, false)}}, kLinkBadMib},
      {"bad type", "1.3.6.1.4.1.98", {{"1", ObjectFlags(1, 6, false)}}, kLinkBadMib},
      {"out of order", "1.3.6.1.4.1.98",
       {{"2", ObjectFlags(1, 1, false)}, {"1", ObjectFlags(1, 1, false)}}, kLinkBadMib},
      {"bad suffix", "1.3.6.1.4.1.98", {{"1.a", ObjectFlags(1, 1, false)}}, kOidBadText},
      {"bad root", "1..3", {{"1", ObjectFlags(1, 1, false)}}, kOidBadText},
  };
  for (const Case& c : cases)
    EXPECT_EQ(link_.Register(c.root, c.rows, Handler()), c.expected) << c.what;
  // Roots that nest in each other.
  ASSERT_EQ(link_.Register("1.3.6.1.4.1.97", kRows, Handler()), 0);
  EXPECT_EQ(link_.Register("1.3.6.1.4.1.97.5", kRows, Handler()), kLinkBadMib);
  EXPECT_EQ(link_.Register("1.3.6.1.4.1", kRows, Handler()), kLinkBadMib);
  EXPECT_EQ(link_.Register("1.3.6.1.4.1.97", kRows, Handler()), 0);  // replaces
  EXPECT_EQ(link_.Unregister("1.3.6.1.4.1.97"), 0);
  EXPECT_EQ(link_.Unregister("1.3.6.1.4.1.97"), kLinkNotFound);
}

}  // namespace

namespace {

TEST(AgentLogTest, LinesAreFilteredByLevelAndGoWhereTheOptionSays) {
  struct Case {
    std::vector<std::string> args;
    int level;
    std::string file;
  };
  const Case cases[] = {
      {{"mibagent"}, 0, ""},
      {{"mibagent", "-D", "3"}, 3, ""},
      {{"mibagent", "-D2"}, 2, ""},
      {{"mibagent", "-D", "4;agent.log"}, 4, "agent.log"},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
    DebugOption o = DebugOptionFromArgs(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(o.level, c.level) << c.args.back();
    EXPECT_EQ(o.file, c.file) << c.args.back();
  }

  twtest::TempDir dir;
  std::string seen;
  AgentLog log(1, [&](std::string_view line) { seen += line; });
  log.Line(2, "hidden");
  log.Line(1, "shown %d", 7);
  log.Message(0, TWFAIL_SNMP_AGENT_ATTACH, -8);
  log.Message(0, 4999);  // no such text
  EXPECT_EQ(seen, "shown 7\nError attaching to Main Proxy Agent (-8).\nMSG#4999 NOT FOUND\n");
  log.SendTo(dir / "missing/agent.log");
  EXPECT_EQ(seen.substr(seen.rfind("Warning")),
            "Warning: Cannot open debug destination: " + (dir / "missing/agent.log") + "\n");
  log.SendTo(dir / "agent.log");
  log.Line(0, "to the file");
  EXPECT_EQ(twtest::ReadFile(dir / "agent.log"), "to the file\n");
}

}  // namespace
