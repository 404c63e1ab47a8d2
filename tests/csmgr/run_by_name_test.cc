// Runs by name against the real control store, with real taskrun and webrun processes: one
// run of an activity at a time, whether started by name or taken by the scheduler, and a
// killed run by name that must not hold the activity for ever.
#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <string>
#include <vector>

#include "ctlstore_fixture.h"
#include "ordexio.h"
#include "process_util.h"
#include "twengine.h"

namespace twtest {
namespace {

namespace code = wire::code;

constexpr uint32_t kAlreadyRunning = 826;
constexpr int kWaitMs = 30000;

class RunByNameTest : public CtlstoreTest {
 protected:
  void SetUp() override {
    CtlstoreTest::SetUp();
    if (HasFatalFailure()) return;
    for (const char* program : {"taskrun", "webrun"})
      std::filesystem::create_symlink(inst_ + "/" + program, dir_ / program);
    // The test plug-ins lie in the build's tests directory, beside its installation.
    const std::filesystem::path plugin =
        std::filesystem::path(inst_).parent_path() / "tests" / "holdact.twx";
    std::filesystem::copy_file(plugin, dir_ / "holdact.twx");
    Install();
    activity_ = NewDoc(
        "Activity\\Command",
        {{"Name", "Hold"}, {"Library", "holdact"}, {"Target", target_}, {"Release", release_}});
    GVDOC doc = 0;
    ASSERT_EQ(GVDocumentOpen(admin_, activity_, 0, &doc), 0u);
    ASSERT_TRUE(tw::csmgr::OrdexWriteRaw(doc, "PropNameList", GVTYPE_TEXT_LIST,
                                         TextList({"Target", "Release", "Result"})));
    ASSERT_TRUE(tw::csmgr::OrdexWriteNumberList(doc, "PropTokenList", {1, 2, 3}));
    PutNumber(doc, "Result", 0);
    ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
    Start();
  }

  void TearDown() override {
    // A run still waiting for its release ends now; the children go in any case.
    WriteFile(release_, "");
    for (ChildProcess& c : running_) c.Kill();
    CtlstoreTest::TearDown();
  }

  // Starts a run by name that holds the activity until released; waits for its first
  // write.
  ChildProcess& StartHolding(size_t startsBefore) {
    running_.emplace_back();
    ChildProcess& child = running_.back();
    EXPECT_TRUE(child.Start({dir_ / "taskrun", "Hold"}, InheritedEnv(), dir_.path(), true));
    EXPECT_TRUE(WaitUntil([&] { return Count("start") > startsBefore; }, kWaitMs))
        << ReadFile(target_);
    return child;
  }

  ProcessResult RunToEnd(const std::string& program) {
    ProcessResult r = RunProgram({dir_ / program, "Hold"}, InheritedEnv(), dir_.path());
    EXPECT_FALSE(r.overran) << program;
    return r;
  }

  // How many lines of the destination are line.
  size_t Count(const std::string& line) {
    const std::string text = ReadFile(target_);
    size_t n = 0;
    for (size_t at = 0; (at = text.find(line + "\n", at)) != std::string::npos; at += line.size())
      if (at == 0 || text[at - 1] == '\n') ++n;
    return n;
  }

  bool Held() { return ItemNumber(activity_, "Lock") != 0; }

  int32_t Take() {
    std::vector<uint8_t> r = Exchange(Block(code::kNextActivity, wire::next_activity::kMinLength));
    EXPECT_EQ(StatusOf(r), 0u);
    return r.size() >= wire::next_activity::kMinLength ? WordAt(r, wire::next_activity::kHandle)
                                                       : -1;
  }
  uint32_t Done(int32_t handle) {
    std::vector<uint8_t> b = Block(code::kDoneActivity, wire::done_activity::kMinLength);
    tw::put_i32(b.data() + wire::done_activity::kHandle, handle);
    return StatusOf(Exchange(b));
  }

  // Every line of the operations logs.
  std::string OperationsLog() {
    std::string all;
    GVINDEX index = 0;
    EXPECT_EQ(GVIndexOpen(log_, &index), 0u);
    EXPECT_EQ(GVIndexSearch(index, "SELECT Form = 'Operation'", 0, 0), 0u);
    GVNOTEID id = 0;
    while (GVIndexNavigate(index, GVNAV_NEXT, 0, &id, nullptr) == 0) {
      GVDOC doc = 0;
      if (GVDocumentOpen(log_, id, GVOPEN_READONLY, &doc) != 0) continue;
      std::string text;
      tw::csmgr::OrdexReadText(doc, "Body", &text);
      all += text;
      GVDocumentClose(doc, GVCLOSE_DISCARD);
    }
    GVIndexClose(index);
    return all;
  }

  const std::string target_ = dir_ / "destination.txt";
  const std::string release_ = dir_ / "release";
  GVNOTEID activity_ = 0;
  std::list<ChildProcess> running_;
};

TEST_F(RunByNameTest, OneRunOfAnActivityAtATime) {
  ChildProcess& first = StartHolding(0);
  EXPECT_EQ(ItemNumber(activity_, "Lock"), serverId_);

  // A second run by name, from a shell or from the web, is refused and writes nothing; so is
  // a scheduled take.
  for (const char* program : {"taskrun", "webrun"}) {
    SCOPED_TRACE(program);
    ProcessResult r = RunToEnd(program);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(ReadFile(target_), "start\n");
    // The web gateway answers its caller with the status and its text.
    if (std::string(program) == "webrun") {
      EXPECT_NE(r.out.find(std::to_string(kAlreadyRunning) + " The activity is already running"),
                std::string::npos)
          << r.out;
    }
  }
  EXPECT_NE(OperationsLog().find("The activity is already running: it cannot be started again "
                                 "until that run has ended: \nDocument = Hold"),
            std::string::npos)
      << OperationsLog();
  MakeDue(activity_, true);
  EXPECT_EQ(Take(), 0);

  // The run ends and lets go of the activity.
  WriteFile(release_, "");
  ProcessResult firstEnd = first.Finish("", kWaitMs);
  EXPECT_EQ(firstEnd.exitCode, 0) << firstEnd.err;
  EXPECT_EQ(ReadFile(target_), "start\nend\n");
  EXPECT_FALSE(Held());
  EXPECT_EQ(ItemText(activity_, "LockHolder"), "<no item>");

  // Taken by the scheduler, it cannot be run by name until the scheduled run is done.
  const int32_t handle = Take();
  ASSERT_GT(handle, 0);
  EXPECT_EQ(ItemNumber(activity_, "Lock"), serverId_);
  ProcessResult whileScheduled = RunToEnd("webrun");
  EXPECT_EQ(whileScheduled.exitCode, 1) << whileScheduled.err;
  EXPECT_EQ(ReadFile(target_), "start\nend\n");
  EXPECT_EQ(Done(handle), 0u);

  // A run by name that fails lets go of the activity too.
  GVDOC doc = 0;
  ASSERT_EQ(GVDocumentOpen(admin_, activity_, 0, &doc), 0u);
  PutNumber(doc, "Result", TWFAIL_EXTERNAL);
  ASSERT_EQ(GVDocumentClose(doc, 0), 0u);
  ProcessResult failed = RunToEnd("taskrun");
  EXPECT_EQ(failed.exitCode, 1) << failed.err;
  EXPECT_EQ(ReadFile(target_), "start\nend\nstart\nend\n");
  EXPECT_FALSE(Held());
}

TEST_F(RunByNameTest, AKilledRunByNameDoesNotHoldTheActivity) {
  struct Case {
    const char* name;
    bool serverAlive;  // the server's periodic alive report comes before the next run
  } cases[] = {{"released by the next run", false}, {"released by the alive report", true}};
  size_t starts = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(release_);
    ChildProcess& holder = StartHolding(starts++);
    holder.Kill();
    EXPECT_TRUE(Held());
    if (c.serverAlive) {
      std::vector<uint8_t> alive = Block(code::kServerState, wire::server_state::kMinLength);
      tw::put_i32(alive.data() + wire::server_state::kState, CSMGR_STATE_ALIVE);
      EXPECT_EQ(StatusOf(Exchange(alive)), 0u);
      EXPECT_FALSE(Held());
    }
    WriteFile(release_, "");
    ProcessResult next = RunToEnd("taskrun");
    ++starts;
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(Count("start"), starts);
    EXPECT_FALSE(Held());
  }
  EXPECT_EQ(Count("end"), 2u);
}

}  // namespace
}  // namespace twtest
