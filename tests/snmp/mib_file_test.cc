// TWMAIN.MIB against the table mibagent serves: net-snmp's snmptranslate loads the module
// without a complaint, and every object the sub-agent registers has its name, type and access
// there. Debian ships no standard SMI modules: the two the MIB imports come as stand-ins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "plat_test_util.h"
#include "process_util.h"
#include "subtree.h"
#include "tarnway_mib.h"

namespace {

namespace fs = std::filesystem;
using namespace tw::snmp;

constexpr char kTranslate[] = "/usr/bin/snmptranslate";

TEST(MibFileTest, SnmptranslateLoadsTheModuleAndEveryServedObjectIsInIt) {
  if (::access(kTranslate, X_OK) != 0) GTEST_SKIP() << "snmptranslate is not there";
  twtest::TempDir dir;
  fs::copy_file(TWMAIN_MIB, dir / "TWMAIN.MIB");
  for (const char* standard : {"SNMPv2-SMI", "SNMPv2-TC"})
    fs::copy_file(std::string(TW_TEST_MIBS) + "/" + standard + ".txt", dir / standard);
  auto translate = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kTranslate, "-M", dir.path(), "-m", "TWMAIN-MIB"};
    argv.insert(argv.end(), args.begin(), args.end());
    return twtest::RunProgram(argv, {}, "");
  };

  twtest::ProcessResult r = translate({"-On", "TWMAIN-MIB::twServerState.0"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, ".1.3.6.1.4.1.818181.72.11.2.1.4.0\n");
  EXPECT_EQ(r.err, "");  // loaded without a warning

  Subtree served;
  ASSERT_EQ(ConvertTable(kTarnwayRoot, TarnwayTable(), &served), 0);
  for (const MibObject& o : served.objects) {
    r = translate({"-Td", o.oid.Text()});
    std::string what = o.oid.Text() + ":\n" + r.out + r.err;
    EXPECT_EQ(r.exitCode, 0) << what;
    EXPECT_EQ(r.out.rfind("TWMAIN-MIB::tw", 0), 0u) << what;  // named, not numeric
    std::string access = o.access == kReadWriteAccess ? "read-write" : "read-only";
    EXPECT_NE(r.out.find("MAX-ACCESS\t" + access), std::string::npos) << what;
    bool text = r.out.find("TEXTUAL CONVENTION DisplayString") != std::string::npos;
    EXPECT_EQ(text, o.type == kTypeText) << what;
  }
}

}  // namespace
