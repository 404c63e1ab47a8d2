// The build tool's constant lists: a well-formed list gives the names with their values and the
// registration table in list order; every malformed list fails the build with the line and
// the reason, and writes nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "plat_test_util.h"

namespace twtest {
namespace {

constexpr char kMessages[] =
    "0 TWSUCCESS \"No Error\"\n"
    "258 TWFAIL_MEMORY \"Unable to allocate memory\"\n"
    "259 - \"A text without a name\"\n";

struct ToolRun {
  int exitCode = -1;
  std::string errors;
};

// Runs "msgcompile constants" on list in dir; the outputs are dir/twconst.h and
// dir/table.inc.
ToolRun Compile(const TempDir& dir, const std::string& list) {
  WriteFile(dir / "constants.txt", list);
  WriteFile(dir / "messages.txt", kMessages);
  const char* build = std::getenv("TW_BUILD_DIR");
  EXPECT_NE(build, nullptr) << "TW_BUILD_DIR names the build";
  const std::string command = std::string(build ? build : ".") + "/tools/msgcompile constants " +
                              (dir / "constants.txt") + " " + (dir / "messages.txt") + " " +
                              (dir / "twconst.h") + " " + (dir / "table.inc") + " 2> " +
                              (dir / "errors");
  ToolRun run;
  const int status = std::system(command.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.errors = ReadFile(dir / "errors");
  return run;
}

TEST(MsgcompileConstants, ListOrderBecomesTheNamesAndTheRegistrationTable) {
  TempDir dir;
  const ToolRun run = Compile(dir,
                              "# a comment\n"
                              "[TWA_] The first family, whose text is long enough to be wrapped "
                              "onto a second line of the comment in the header.\n"
                              "TWA_ONE 1\n"
                              "TWA_BIG 0xFFFFFFFF\n"
                              "\n"
                              "[TWFAIL_] Statuses.\n"
                              "TWFAIL_MEMORY twstatus.h\n"
                              "TWSTATUSF_EVENT twstatus.h\n"
                              "[TWB_] Doubles.\n"
                              "TWB_NEG double -1.5\n"
                              "TWB_POS double 2e+10\n");
  ASSERT_EQ(run.exitCode, 0) << run.errors;
  const std::string header = ReadFile(dir / "twconst.h");
  for (const char* line :
       {"constants.txt: do not edit", "#include \"twstatus.h\"\n",
        "/* TWA_ (2): The first family, whose text is long enough to be wrapped onto a second "
        "line of\n * the comment in the header. */\n#define TWA_ONE 0x1\n"
        "#define TWA_BIG 0xffffffff\n",
        "/* TWFAIL_MEMORY 0x102 (twstatus.h) */\n/* TWSTATUSF_EVENT 0x10000000 (twstatus.h) */\n",
        "#define TWB_NEG (-1.5)\n#define TWB_POS 2e+10\n"})
    EXPECT_NE(header.find(line), std::string::npos) << line << "\nin:\n" << header;
  EXPECT_EQ(header.find("#define TWFAIL_MEMORY"), std::string::npos) << "twstatus.h defines it";
  const std::string table = ReadFile(dir / "table.inc");
  EXPECT_NE(table.find("constants.txt: do not edit"), std::string::npos);
  EXPECT_NE(table.find("TW_CONST(TWA_ONE)\nTW_CONST(TWA_BIG)\nTW_CONST(TWFAIL_MEMORY)\n"
                       "TW_CONST(TWSTATUSF_EVENT)\nTW_CONST_F(TWB_NEG)\nTW_CONST_F(TWB_POS)\n"),
            std::string::npos)
      << table;
}

TEST(MsgcompileConstants, AMalformedListFailsWithItsLineAndWritesNothing) {
  struct Case {
    const char* list;
    const char* error;
  } cases[] = {
      {"TWA_ONE 1\n", ":1: a constant before the first family"},
      {"[TWA_]\nTWA_ONE 1\n", ":1: expected: [family] text"},
      {"[TWA_] A.\n[TWB_] B.\nTWB_ONE 1\n", ":2: empty family"},
      {"[TWA_] A.\n", ":0: no constants, or an empty last family"},
      {"[TWA_] A.\nTWA_ONE 1\nTWA_ONE 2\n", ":3: TWA_ONE stands twice"},
      {"[TWA_] A.\nTWA_ONE 0x100000000\n", ":2: not a 32-bit unsigned integer"},
      {"[TWA_] A.\nTWA_ONE -1\n", ":2: not a 32-bit unsigned integer"},
      {"[TWA_] A.\nTWA_ONE 12abc\n", ":2: not a 32-bit unsigned integer"},
      {"[TWA_] A.\nTWA_ONE double 1e999\n", ":2: not a finite double"},
      {"[TWA_] A.\nTWA_ONE double 1.5x\n", ":2: not a finite double"},
      {"[TWA_] A.\nTWA_ONE double 1.5\nTWA_TWO 2\n", ":3: an integer after a double"},
      {"[TWA_] A.\nTWFAIL_NOSUCH twstatus.h\n", ":2: TWFAIL_NOSUCH is not in twstatus.h"},
      {"[TWA_] A.\nTW_ twstatus.h\n", ":2: TW_ is not in twstatus.h"},
      {"[TWA_] A.\ntwa_one 1\n", ":2: expected: NAME value"},
      {"[TWA_] A.\nTWA_ONE\n", ":2: expected: NAME value, NAME double value"},
      {"[TWA_] A.\nTWA_ONE 1 2\n", ":2: expected: NAME value, NAME double value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    TempDir dir;
    const ToolRun run = Compile(dir, c.list);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.errors.find(c.error), std::string::npos) << run.errors;
    EXPECT_FALSE(std::filesystem::exists(dir / "twconst.h"));
    EXPECT_FALSE(std::filesystem::exists(dir / "table.inc"));
  }
}

}  // namespace
}  // namespace twtest
