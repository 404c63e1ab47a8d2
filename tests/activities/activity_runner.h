// A runner of activity plug-ins for their tests, in the test process as taskrun runs one: an
// installation holding the plug-ins from the build's installation, the fake control store
// serving the activity and link documents, the engine and the server's run table. Also the
// document databases of those tests (a data root of the process, filled by plexadm) and a
// check of a plug-in's identity record.
#ifndef TW_TESTS_ACTIVITIES_ACTIVITY_RUNNER_H_
#define TW_TESTS_ACTIVITIES_ACTIVITY_RUNNER_H_

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "platform.h"
#include "process_util.h"
#include "twx.h"

namespace acttest {

using twtest::FakeValue;

// An item of a document with its property token.
struct Property {
  std::string item;
  uint32_t token;
  FakeValue value;
};
inline Property Number(const std::string& item, uint32_t token, int32_t n) {
  return {item, token, FakeValue::Number(n)};
}
inline Property Text(const std::string& item, uint32_t token, const std::string& text) {
  return {item, token, FakeValue::Text(text)};
}
inline Property List(const std::string& item, uint32_t token, std::vector<std::string> entries) {
  return {item, token, FakeValue::TextList(std::move(entries))};
}
inline Property Time(const std::string& item, uint32_t token, TWDatetime when) {
  return {item, token, FakeValue::Datetime(when)};
}

// One row of a property table as a test expects it (name null: a predefined row).
struct Row {
  uint32_t token;
  uint32_t type;
  const char* name;
};

// The plug-in file (with ".twx") of the build's installation answers the identity of an
// activity in textFormat with exactly rows.
inline void ExpectIdentity(const std::string& file, uint32_t textFormat,
                           const std::vector<Row>& rows) {
  twtest::Installation inst;
  std::error_code ec;
  std::filesystem::copy_file(twtest::BuildInstDir() + file, inst / file, ec);
  ASSERT_FALSE(ec) << ec.message();
  void* library = TWLibraryLoad(file.substr(0, file.size() - 4).c_str(), TWLIB_PLUGIN);
  ASSERT_NE(library, nullptr) << file;
  auto identify = reinterpret_cast<TWXIdentifyProc>(
      TWLibraryLoadProc(library, nullptr, TWXORD_ACTIVITY_IDENTIFY));
  ASSERT_NE(identify, nullptr);
  // The two entry points by ordinal are those of the names.
  EXPECT_EQ(TWLibraryLoadProc(library, "TWXIdentify", 0), reinterpret_cast<void*>(identify));
  EXPECT_NE(TWLibraryLoadProc(library, nullptr, TWXORD_ACTIVITY_LAUNCH), nullptr);
  EXPECT_EQ(TWLibraryLoadProc(library, nullptr, TWXORD_ACTIVITY_LAUNCH),
            TWLibraryLoadProc(library, "TWXLaunch", 0));
  EXPECT_EQ(identify(nullptr), TWFAIL_NULL_RESULT);
  TWXIdentity id{};
  ASSERT_EQ(identify(&id), TWSUCCESS);
  EXPECT_EQ(id.version, 0x00020000u);
  EXPECT_EQ(id.kind, 1u);
  EXPECT_EQ(id.flags, 0x02000000u);
  EXPECT_EQ(id.reserved, 0u);
  EXPECT_EQ(id.contextSize, 0u);
  EXPECT_EQ(id.textFormat, textFormat);
  const TWXPropertyDef* row = id.properties;
  ASSERT_NE(row, nullptr);
  for (const Row& e : rows) {
    SCOPED_TRACE(e.name != nullptr ? e.name : std::to_string(e.token));
    EXPECT_EQ(row->token, e.token);
    EXPECT_EQ(row->type, e.type);
    EXPECT_EQ(row->reserved, 0u);
    if (e.name == nullptr) {
      EXPECT_EQ(row->name, nullptr);
      EXPECT_EQ(row->nameLength, 0u);
    } else {
      ASSERT_NE(row->name, nullptr);
      EXPECT_STREQ(row->name, e.name);
      EXPECT_EQ(row->nameLength, std::string(e.name).size());
    }
    ++row;
  }
  EXPECT_EQ(row->token, 0u);
  EXPECT_EQ(row->name, nullptr);
  TWLibraryFree(library);
}

// The data root of the document databases of this process (PLEXA_ROOT, set before the
// first session of the process starts), and plexadm over it.
inline const std::string& PlexaRoot() {
  static twtest::TempDir root;
  static const bool set = ::setenv("PLEXA_ROOT", root.path().c_str(), 1) == 0;
  EXPECT_TRUE(set);
  return root.path();
}
// plexadm with args (input on its standard input); its standard output. A failure fails the
// test unless mayFail.
inline std::string Adm(const std::vector<std::string>& args, const std::string& input = "",
                       bool mayFail = false) {
  std::vector<std::string> argv = {twtest::BuildInstDir() + "plexadm"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = twtest::InheritedEnv();
  env.push_back("PLEXA_ROOT=" + PlexaRoot());
  twtest::ProcessResult r = twtest::RunProgram(argv, env, PlexaRoot(), input);
  if (!mayFail) {
    EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
  }
  return r.out;
}

class ActivityRunner : public ::testing::Test {
 protected:
  // files: what the test needs of the build's installation ("poll.twx", "sqlcli.twx").
  explicit ActivityRunner(std::vector<std::string> files) : files_(std::move(files)) {}

  void SetUp() override {
    ASSERT_TRUE(store_.serving());
    for (const std::string& file : files_) twtest::InstallBuiltPlugin(inst_, file);
    ASSERT_EQ(TWProcShmemCreate(TWMSGTBL_SIZE, TWMSGTBL_NAME, &table_), TWSUCCESS);
    entry_ = static_cast<MsgTblEntry*>(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &table_));
    ASSERT_NE(entry_, nullptr);
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  }
  void TearDown() override {
    EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
    TWProcShmemDestroy(&table_);
  }

  // Adds a link document; answers its id.
  int32_t AddLink(const std::string& name, const std::string& library,
                  const std::vector<Property>& properties) {
    int32_t id = store_.AddDocument(CSMGR_ID_LINK, name);
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text(library));
    for (const Property& p : properties) store_.AddProperty(id, p.item, p.token, p.value);
    return id;
  }
  // Adds an activity document of library named name; answers its id.
  int32_t AddActivity(const std::string& name, const std::string& library,
                      const std::vector<Property>& properties) {
    int32_t id = store_.AddDocument(CSMGR_ID_ACTIVITY, name);
    store_.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text(library));
    for (const Property& p : properties) store_.AddProperty(id, p.item, p.token, p.value);
    return id;
  }
  // Runs the activity named name once, as the runner does; answers the launch's status.
  // closeFirst: the run is asked to close before it starts. beforeEnd (optional) runs after
  // the launch, while the activity is still current.
  uint32_t Run(const std::string& name, bool closeFirst = false,
               const std::function<void()>& beforeEnd = {}) {
    *entry_ = MsgTblEntry{twtest::OpenSlot(name), TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
    if (closeFirst) entry_->closeRequest = TWCLOSE_REQUESTED;
    EXPECT_EQ(TWActivityInit(entry_), TWSUCCESS);
    const uint32_t status = TWActivityLaunch();
    if (beforeEnd) beforeEnd();
    EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
    entry_->handle = 0;
    return status;
  }
  // The connections of the test connectors (testlink.twx and its variants) initialised and
  // not yet terminated, as their shared journal in the installation tells.
  int ConnectionsLeft() const {
    int open = 0;
    std::istringstream journal(twtest::ReadFile(inst_ / "testlink.journal"));
    for (std::string line; std::getline(journal, line);)
      open += (line.rfind("Initialize", 0) == 0) - (line.rfind("Terminate", 0) == 0);
    return open;
  }
  // Asks the running activity to close, as the server does (from any thread).
  void RequestClose(uint32_t request = TWCLOSE_REQUESTED) {
    __atomic_store_n(&entry_->closeRequest, request, __ATOMIC_SEQ_CST);
  }
  // The log lines of the activity named name: "<message id> <text>", without the link a
  // connector's entry names.
  std::vector<std::string> Log(const std::string& name) {
    std::vector<std::string> lines;
    for (const twtest::FakeLogLine& line : store_.Log())
      if (line.activity == name)
        lines.push_back(std::to_string(line.messageId & ~TWSTATUSF_EVENT) + " " +
                        line.text.substr(0, line.text.find('|')));
    return lines;
  }

  twtest::Installation inst_;
  twtest::FakeCtlstore store_;
  TWProcShmem table_{};
  MsgTblEntry* entry_ = nullptr;

 private:
  std::vector<std::string> files_;
};

}  // namespace acttest

#endif  // TW_TESTS_ACTIVITIES_ACTIVITY_RUNNER_H_
