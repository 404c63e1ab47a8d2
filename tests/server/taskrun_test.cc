// The runner as a program against the test control store: taskrun for a run-table entry and
// by name with values, a run whose server is gone, and webrun taking properties from its CGI
// environment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "activity_test_util.h"
#include "catalogue.h"
#include "fake_ctlstore.h"
#include "process_util.h"
#include "tw/coding.h"

namespace {

using twtest::FakeCtlstore;
using twtest::FakeValue;
using twtest::ProcessResult;
namespace wire = tw::csmgr;

constexpr uint32_t kNoDocument = 797;
constexpr uint32_t kUnreachable = 782;
constexpr uint32_t kClosed = 1542;
const std::string kCgiHeader = "Content-Type: text/plain\r\n\r\n";

// The server's run table of the test's installation.
class ServerRunTable {
 public:
  ServerRunTable() {
    EXPECT_EQ(TWProcShmemCreate(TWMSGTBL_SIZE, TWMSGTBL_NAME, &shmem_), TWSUCCESS);
    base_ = static_cast<unsigned char*>(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &shmem_));
    EXPECT_NE(base_, nullptr);
    for (uint32_t i = 0; i < TWMSGTBL_ENTRIES; ++i) Set(i, 0, 0, TWMSGTBL_NO_RESULT);
  }
  ~ServerRunTable() {
    TWProcShmemUnmap(&shmem_);
    TWProcShmemDestroy(&shmem_);
  }
  void Set(uint32_t i, int32_t handle, uint32_t closeRequest, uint32_t result) {
    unsigned char* e = base_ + TWMSGTBL_ENTRY_SIZE * i;
    tw::put_i32(e, handle);
    tw::put_u32(e + 4, closeRequest);
    tw::put_u32(e + 8, result);
  }
  uint32_t Word(uint32_t i, uint32_t word) const {
    return tw::get_u32(base_ + TWMSGTBL_ENTRY_SIZE * i + 4 * word);
  }

 private:
  TWProcShmem shmem_{};
  unsigned char* base_ = nullptr;
};

// The programs lie in the installation directory, as the server starts them.
void LinkPrograms(const twtest::Installation& inst) {
  for (const char* program : {"taskrun", "webrun"})
    ASSERT_EQ(::symlink((twtest::BuildInstDir() + program).c_str(), (inst / program).c_str()), 0);
}

ProcessResult RunIn(const twtest::Installation& inst, const std::string& program,
                    const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                    const std::string& input = "") {
  std::vector<std::string> argv{inst / program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> all = twtest::InheritedEnv();
  all.insert(all.end(), env.begin(), env.end());
  // webrun finds its installation from the current directory, as a web server starts it.
  ProcessResult r = twtest::RunProgram(argv, all, inst.path(), input);
  EXPECT_FALSE(r.overran);
  // A sanitizer's report would hide behind an expected exit code of 1.
  for (const char* report : {"Sanitizer", "runtime error"})
    EXPECT_EQ(r.err.find(report), std::string::npos) << r.err;
  return r;
}

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    twtest::InstallPlugin(inst_, "testact");
    twtest::InstallPlugin(inst_, "echoact");
    LinkPrograms(inst_);
  }

  ProcessResult Run(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}, const std::string& input = "") {
    return RunIn(inst_, program, args, env, input);
  }

  // The event lines echoact wrote, in order.
  std::vector<std::string> Echoed() {
    std::vector<std::string> lines;
    for (const twtest::FakeLogLine& l : store_.Log())
      if (l.messageId == TWEVENT_EXTERNAL) lines.push_back(l.text);
    return lines;
  }

  twtest::Installation inst_;
  FakeCtlstore store_;
};

TEST_F(RunnerTest, AnEntryOfTheRunTableGetsTheActivitysResult) {
  ASSERT_TRUE(store_.serving());
  ServerRunTable table;
  struct Case {
    const char* name;
    int32_t result;
    int exitCode;
  };
  for (const Case c : {Case{"Fine", 0, 0}, Case{"Failing", 12547, 1}}) {
    SCOPED_TRACE(c.name);
    twtest::AddTestActivity(store_, c.name,
                            {{"Result", twtest::kResult, FakeValue::Number(c.result)}});
    int32_t handle = twtest::OpenSlot(c.name);
    // The runner finds its entry wherever it lies; a free entry before it is no match.
    table.Set(3, handle, 0, TWMSGTBL_NO_RESULT);
    ProcessResult r = Run("taskrun", {"=" + std::to_string(handle)});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(table.Word(3, 0), static_cast<uint32_t>(handle));
    EXPECT_EQ(table.Word(3, 2), static_cast<uint32_t>(c.result));
    EXPECT_EQ(table.Word(0, 2), TWMSGTBL_NO_RESULT);
  }
  // The server reports the completion; the runner logged nothing of its own.
  EXPECT_TRUE(store_.Done().empty());
  EXPECT_TRUE(store_.Log().empty());
}

TEST_F(RunnerTest, TheEngineWatchesTheEntrysCloseRequest) {
  ASSERT_TRUE(store_.serving());
  ServerRunTable table;
  twtest::AddTestActivity(store_, "Waiting", {{"Mode", twtest::kMode, FakeValue::Number(2)}});
  int32_t handle = twtest::OpenSlot("Waiting");
  table.Set(0, handle, TWCLOSE_REQUESTED, TWMSGTBL_NO_RESULT);
  ProcessResult r = Run("taskrun", {"=" + std::to_string(handle)});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(table.Word(0, 2), kClosed);
}

// The server that started a run ends without a word (as a killed twmain): the runner closes
// the run as the server's stop would, and ends itself when the run does not close within
// CloseTimeout. The runner's parent here is a shell that waits for its input to end; this
// process takes the orphaned runner in, so that it is reaped (or killed) here.
TEST_F(RunnerTest, ARunWhoseServerIsGoneClosesAndIfDeafEndsAfterCloseTimeout) {
  ASSERT_TRUE(store_.serving());
  ServerRunTable table;
  struct Case {
    const char* name;
    int32_t mode;
    int32_t closeTimeout;
    uint32_t result;
  };
  for (const Case c : {Case{"Closes", 2, 600, kClosed}, Case{"Deaf", 6, 1, TWMSGTBL_NO_RESULT}}) {
    SCOPED_TRACE(c.name);
    twtest::FakeSettings settings;
    settings.closeTimeout = c.closeTimeout;
    store_.SetSettings(settings);
    twtest::AddTestActivity(store_, c.name, {{"Mode", twtest::kMode, FakeValue::Number(c.mode)}});
    int32_t handle = twtest::OpenSlot(c.name);
    table.Set(0, handle, 0, TWMSGTBL_NO_RESULT);
    const size_t seen = store_.Journal().size();

    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    twtest::ChildProcess parent;
    std::vector<std::string> env = twtest::InheritedEnv();
    ASSERT_TRUE(parent.Start({"/bin/sh", "-c", "\"$0\" \"$1\" >/dev/null 2>&1 & read line",
                              inst_ / "taskrun", "=" + std::to_string(handle)},
                             env, inst_.path(), true));
    // The runner asks for its activity once it watches its parent.
    bool started = twtest::WaitUntil(
        [&] {
          std::vector<twtest::FakeExchange> journal = store_.Journal();
          for (size_t i = seen; i < journal.size(); ++i)
            if (journal[i].code == wire::code::kGetDescription) return true;
          return false;
        },
        30000);
    EXPECT_TRUE(started);
    parent.Finish("", 30000);
    // The runner is this process's child now.
    int status = 0;
    pid_t runner = ::waitpid(-1, &status, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_GT(runner, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(table.Word(0, 1), static_cast<uint32_t>(TWCLOSE_REQUESTED));
    EXPECT_EQ(table.Word(0, 2), c.result);
  }
}

TEST_F(RunnerTest, AHandleWithoutAnEntryIsTakenAsAName) {
  ASSERT_TRUE(store_.serving());
  ServerRunTable table;
  // "=0" never takes a free entry, whose Result the next run would inherit.
  for (const char* arg : {"=57", "=0", "=-3", "=99999999999"}) {
    SCOPED_TRACE(arg);
    ProcessResult r = Run("taskrun", {arg});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::vector<twtest::FakeLogLine> log = store_.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().handle, 0);
    EXPECT_EQ(log.back().messageId, kNoDocument);
    EXPECT_EQ(log.back().text, tw::message_text(kNoDocument));
  }
  for (uint32_t i = 0; i < TWMSGTBL_ENTRIES; ++i) ASSERT_EQ(table.Word(i, 2), TWMSGTBL_NO_RESULT);
  EXPECT_EQ(store_.OpenSlots(), 0);
  // An activity of that name runs.
  twtest::AddTestActivity(store_, "=57", {});
  EXPECT_EQ(Run("taskrun", {"=57"}).exitCode, 0);
  ASSERT_EQ(store_.Done().size(), 1u);
  EXPECT_EQ(store_.Done()[0].activity, "=57");
}

TEST_F(RunnerTest, WithoutAnArgumentNothingRunsAndNothingIsLogged) {
  ASSERT_TRUE(store_.serving());
  EXPECT_EQ(Run("taskrun", {}).exitCode, 1);
  EXPECT_TRUE(store_.Journal().empty());
}

TEST_F(RunnerTest, ByNameTheRunnerReportsTheCompletion) {
  ASSERT_TRUE(store_.serving());
  twtest::AddTestActivity(store_, "Fine", {});
  twtest::AddTestActivity(store_, "Failing",
                          {{"Result", twtest::kResult, FakeValue::Number(12547)}});
  EXPECT_EQ(Run("taskrun", {"Fine"}).exitCode, 0);
  EXPECT_EQ(Run("taskrun", {"Failing"}).exitCode, 1);
  std::vector<twtest::FakeDone> done = store_.Done();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].activity, "Fine");
  EXPECT_EQ(done[0].completion, 0u);
  EXPECT_EQ(done[1].activity, "Failing");
  EXPECT_EQ(done[1].completion, 4148u);
  EXPECT_EQ(store_.OpenSlots(), 0);
}

TEST_F(RunnerTest, ValuesAfterTheNameBecomeTheUnnamedProperty) {
  ASSERT_TRUE(store_.serving());
  twtest::AddTestActivity(store_, "Echo", {}, "echoact");
  EXPECT_EQ(Run("taskrun", {"Echo", "one value"}).exitCode, 0);
  EXPECT_EQ(Run("taskrun", {"Echo", "a", "", "c"}).exitCode, 0);
  EXPECT_EQ(Run("taskrun", {"Echo"}).exitCode, 0);
  EXPECT_EQ(Echoed(), (std::vector<std::string>{"=[one value]", "=[a][][c]"}));
}

TEST(RunnerAloneTest, WithoutAControlStoreTheFailureIsShownOnStandardError) {
  // Nothing serves the control-store pipe of this installation.
  twtest::Installation inst;
  LinkPrograms(inst);
  ProcessResult r = RunIn(inst, "taskrun", {"Nightly"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, tw::message_text(kUnreachable) + "\n");
}

// ---------------------------------------------------------------- webrun ----------------

struct CgiCase {
  const char* what;
  std::vector<std::string> env;
  std::string body;
  std::vector<std::string> echoed;
};

TEST_F(RunnerTest, WebrunTakesPropertiesFromTheRequest) {
  ASSERT_TRUE(store_.serving());
  twtest::AddTestActivity(store_, "Echo", {}, "echoact");
  const std::string query = "a=1&a=2&b=x+y%21&a=3";
  const std::string form = "c=%41%62&d=&C=%e2%82%ac&tail";
  const CgiCase cases[] = {
      {"get",
       {"REQUEST_METHOD=GET", "CONTENT_LENGTH=" + std::to_string(query.size()),
        "QUERY_STRING=" + query},
       "",
       {"a=[1][2][3]", "b=[x y!]"}},
      {"get cut to the length",
       {"REQUEST_METHOD=get", "CONTENT_LENGTH=3", "QUERY_STRING=" + query},
       "",
       {"a=[1]"}},
      {"post",
       {"REQUEST_METHOD=Post", "CONTENT_LENGTH=" + std::to_string(form.size()),
        "QUERY_STRING=q=ignored"},
       form,
       {"c=[Ab][\xe2\x82\xac]", "d="}},  // an empty text reads as an empty list
      {"post shorter than its length",
       {"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + std::to_string(form.size() + 5)},
       form,
       {}},
      {"get without a length", {"REQUEST_METHOD=GET", "QUERY_STRING=" + query}, "", {}},
      {"negative length", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=-5"}, form, {}},
      {"length not a number", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=abc"}, form, {}},
      {"no method", {"CONTENT_LENGTH=3", "QUERY_STRING=" + query}, "", {}},
  };
  for (const CgiCase& c : cases) {
    SCOPED_TRACE(c.what);
    size_t before = Echoed().size();
    ProcessResult r = Run("webrun", {"Echo"}, c.env, c.body);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, kCgiHeader + "0 No Error\n");
    std::vector<std::string> echoed = Echoed();
    EXPECT_EQ(std::vector<std::string>(echoed.begin() + before, echoed.end()), c.echoed);
  }
  EXPECT_EQ(store_.OpenSlots(), 0);
}

TEST_F(RunnerTest, WebrunRefusesWhatDoesNotFit) {
  ASSERT_TRUE(store_.serving());
  twtest::AddTestActivity(store_, "Echo", {}, "echoact");
  std::string many;
  for (int i = 0; i < 0x10000; ++i) many += "a=&";
  const CgiCase cases[] = {
      {"a length beyond the bound", {"REQUEST_METHOD=POST", "CONTENT_LENGTH=99999999999"}, "", {}},
      {"a list of 65536 values",
       {"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + std::to_string(many.size())},
       many,
       {}},
      {"a list entry of 65536 bytes",
       {"REQUEST_METHOD=POST", "CONTENT_LENGTH=" + std::to_string(65536 + 8)},
       "a=&a=" + std::string(65536 + 3, 'x'),
       {}},
  };
  for (const CgiCase& c : cases) {
    SCOPED_TRACE(c.what);
    size_t logged = store_.Log().size();
    ProcessResult r = Run("webrun", {"Echo"}, c.env, c.body);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, kCgiHeader + "12801 Data overflow\n");
    // Refused before the activity ran: the failure is the run's only log line.
    std::vector<twtest::FakeLogLine> log = store_.Log();
    ASSERT_EQ(log.size(), logged + 1);
    EXPECT_EQ(log.back().messageId, TWFAIL_OVERFLOW);
    EXPECT_EQ(log.back().activity, "Echo");
  }
  std::vector<twtest::FakeDone> done = store_.Done();
  ASSERT_EQ(done.size(), 3u);
  for (const twtest::FakeDone& d : done) EXPECT_EQ(d.completion, 4148u);
}

TEST_F(RunnerTest, WebrunForARunTableEntryTakesNoRequest) {
  ASSERT_TRUE(store_.serving());
  ServerRunTable table;
  twtest::AddTestActivity(store_, "Echo", {}, "echoact");
  int32_t handle = twtest::OpenSlot("Echo");
  table.Set(0, handle, 0, TWMSGTBL_NO_RESULT);
  ProcessResult r = Run("webrun", {"=" + std::to_string(handle)},
                        {"REQUEST_METHOD=POST", "CONTENT_LENGTH=3"}, "a=1");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(table.Word(0, 2), 0u);
  EXPECT_TRUE(Echoed().empty());
}

}  // namespace
