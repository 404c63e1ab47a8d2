// The status-id check: which source lines it flags as a catalogue id written as a number,
// and the sizes, offsets and flags of the same value it must leave alone.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "status_scan.h"

namespace {

using tw::statusscan::Scan;

// Ids as the catalogue has them, including values that are also common sizes.
const std::set<uint32_t> kIds = {
    257, 258, 522, 532,  534,  769,  771,  779,  780,  790,  793,  797,   798,   800,   802,  807,
    809, 815, 819, 1479, 1636, 4096, 4148, 4171, 4352, 4555, 4562, 12326, 12555, 12557, 29697};

struct Case {
  const char* source;
  bool flagged;
};

TEST(StatusCheck, FlagsIdsWhereAStatusBelongs) {
  const Case cases[] = {
      // Returned.
      {"uint32_t F() { return 790; }", true},
      {"uint32_t F(bool a) { return a ? 797 : 798; }", true},
      {"uint32_t F(int k) { return k == 1 ? 0 : k == 2 ? 809 : 819; }", true},
      // Case labels and comparisons with a status.
      {"void F(uint32_t s) { switch (s) { case 797: break; } }", true},
      {"bool F(uint32_t status) { return status == 798; }", true},
      {"bool F(uint32_t status) { return 798 != status; }", true},
      {"bool F(uint32_t status) { return status >= 800 && status <= 802; }", true},
      {"static_assert(kBadRequest == 779);", true},
      // Assigned to a status variable.
      {"void F(R& res) { res.status = 798; }", true},
      {"void F() { uint32_t message = 0; message = 809; }", true},
      {"void F(bool bug) { uint32_t message = bug ? 0 : 819; }", true},
      // The local-list pattern: constants, enumerators and macros made from ids.
      {"constexpr uint32_t kApiFailure = 790;", true},
      {"inline constexpr uint32_t kClosedByTimeout = 1543;\n"
       "constexpr uint32_t kNoActivity = 797;",
       true},
      {"enum Msg : uint32_t { kMsgKeyboardPipe = 4352, kMsgInitOk = 4355 };", true},
      {"enum class Detail : uint32_t {\n  kCode = 769,\n  kView = 771,\n};", true},
      {"constexpr uint32_t kCreatedEvent = TWSTATUSF_EVENT | 1636;", true},
      {"#define TWMSGTBL_NO_RESULT 0x10000327u", true},
      {"#define TWEVENT_EXTERNAL 0x10003026", true},
      {"constexpr uint32_t kIdMissing[] = {787, 790, 797};", true},
      {"constexpr Range kMenu{4555, 4562};", true},
      {"const uint32_t kAnswers[][2] = {{1, 790}, {2, 793}};", true},
      // Passed to a function that reports, logs or shows a message.
      {"void F() { CSMgrReport(793); }", true},
      {"void F(int id) { CSMgrLogServer(id, 815 | kLogOnly); }", true},
      {"void F(int r) { CSMgrReport(r > 2 ? 1479 : 790); }", true},
      {"std::string F() { return tw::message_text(4171); }", true},
      {"void F() { TWActivityLogEx(12555, token, 0, 0, nullptr, nullptr, nullptr); }", true},
      {"void F() { Print(4352, {}); }", true},
      // A plug-in's own table counts as well.
      {"constexpr uint32_t kBulkCopyFailed = 29697;", true},
  };
  for (const Case& c : cases) EXPECT_EQ(!Scan(c.source, kIds).empty(), c.flagged) << c.source;
}

TEST(StatusCheck, LeavesSizesOffsetsAndFlagsAlone) {
  const Case cases[] = {
      // Sizes, offsets and limits named as such.
      {"inline constexpr uint32_t kServerInfoSize = 522;", false},
      {"constexpr uint32_t kReadStep = 4096;", false},
      {"constexpr size_t kMaxNameBytes = 4096;", false},
      {"#define TWX_MAX_PROPERTY_ROWS 4096u", false},
      {"#define GV_POSITION_SIZE 532u", false},
      {"constexpr size_t kMessageRoom = 522;", false},
      // Offsets of a layout: constants a size-named constant is computed from.
      {"namespace get_field {\n"
       "inline constexpr uint32_t kValue = 532;\n"
       "inline constexpr uint32_t kMinLength = kValue + 1;\n"
       "}",
       false},
      // Arithmetic, bounds and indexes.
      {"constexpr uint32_t GrownLength(uint32_t n) { return 534 + n; }", false},
      {"char buffer[522];", false},
      {"void F(char* p) { p[4096] = 0; }", false},
      {"std::array<char, 522> buffer;", false},
      {"uint32_t F(uint32_t n) { return n * 4096; }", false},
      // Comparisons with sizes.
      {"static_assert(sizeof(Record) == 522);", false},
      {"static_assert(offsetof(Record, name) == 532);", false},
      {"bool F(size_t size) { return size == 4096; }", false},
      {"bool F(size_t n) { return n > 4096; }", false},
      {"bool F(uint32_t count) { return count != 522; }", false},
      // Calls that do not report: sizes handed to containers and readers.
      {"void F(std::string& s) { s.reserve(4096); }", false},
      {"void F() { OrdexReadNumberList(doc, \"SyncDependents\", 4096, &ids); }", false},
      {"int F(int c) { return std::clamp(c, 11, 800); }", false},
      // Assignments to variables that are not statuses.
      {"void F() { int width = 0; width = 522; }", false},
      {"void F() { for (int i = 4096; i > 0; --i) {} }", false},
      // Flags: hex with a single bit set.
      {"#define TWFIELDF_KEY_GT 0x1000", false},
      {"constexpr uint32_t kLogOnly = 0x10000000;", false},
      // Numbers that are not ids, or below the first id.
      {"constexpr uint32_t kTextSize = 256;", false},
      {"uint32_t F() { return 12; }", false},
      {"constexpr uint32_t kNotAnId = 4097;", false},
      // Numbers in comments and strings.
      {"// Answers 790 when the API fails.\nint x;", false},
      {"/* return 797; */ int x;", false},
      {"const char* kText = \"return 797;\";", false},
      {"const char* kRaw = R\"(case 797:)\";", false},
      {"constexpr uint32_t kBig = 1'000'000; constexpr char kQuote = '7';", false},
      // Another status space with the top bit set.
      {"#define GVERR_INVALID_ARGUMENT 0x80000101u", false},
      // Names instead of numbers.
      {"uint32_t F() { return TWFAIL_API; }", false},
      {"constexpr Range kMenu{TWMSG_MENU_HELP, TWMSG_MENU_STOP};", false},
  };
  for (const Case& c : cases) EXPECT_EQ(!Scan(c.source, kIds).empty(), c.flagged) << c.source;
}

TEST(StatusCheck, NamesTheLineAndTheReason) {
  const auto hits =
      Scan("// first\n\nuint32_t F() {\n  return 790;\n}\nconstexpr uint32_t kA = 797;\n", kIds);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].line, 4);
  EXPECT_NE(hits[0].reason.find("790"), std::string::npos) << hits[0].reason;
  EXPECT_NE(hits[0].reason.find("returned"), std::string::npos) << hits[0].reason;
  EXPECT_EQ(hits[1].line, 6);
  EXPECT_NE(hits[1].reason.find("kA"), std::string::npos) << hits[1].reason;
}

TEST(StatusCheck, OtherStatusSpacesAreNotScanned) {
  EXPECT_TRUE(tw::statusscan::OtherStatusSpace("/x/src/outside/plexapi/value.cc"));
  EXPECT_TRUE(tw::statusscan::OtherStatusSpace("/x/src/outside/nordex/nordex.h"));
  EXPECT_TRUE(tw::statusscan::OtherStatusSpace("/x/src/outside/qshost/include/qsx.h"));
  EXPECT_TRUE(tw::statusscan::OtherStatusSpace("/x/src/outside/xandbcli/codepage.cc"));
  EXPECT_FALSE(tw::statusscan::OtherStatusSpace("/x/src/outside/flowcore/connect.cc"));
}

TEST(StatusCheck, LoadsIdsOfATable) {
  const std::string path = ::testing::TempDir() + "statuscheck_ids.txt";
  {
    std::ofstream out(path);
    out << "# comment\n0 TWSUCCESS \"No Error\"\n790 TWFAIL_API \"x\"\n4171 - \"y\"\n";
  }
  std::set<uint32_t> ids;
  std::string error;
  ASSERT_TRUE(tw::statusscan::LoadIds(path, &ids, &error)) << error;
  EXPECT_EQ(ids, (std::set<uint32_t>{0, 790, 4171}));
  {
    std::ofstream out(path);
    out << "x TWFAIL_API \"x\"\n";
  }
  EXPECT_FALSE(tw::statusscan::LoadIds(path, &ids, &error));
  EXPECT_NE(error.find(":1:"), std::string::npos) << error;
  EXPECT_FALSE(tw::statusscan::LoadIds(path + ".missing", &ids, &error));
  std::remove(path.c_str());
}

}  // namespace
