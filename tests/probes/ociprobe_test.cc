// ociprobe against the ORA72 stand-in, which it loads and calls by ordinal: a good log-on and
// log-off, a refused one with the client's error text, and the password never shown.
#include <gtest/gtest.h>

#include "ora72.h"
#include "plat_test_util.h"
#include "probe_test_util.h"

namespace {

using probetest::Dashes;

std::string Banner() {
  return "\n\nOracle SQL*NET Connection Verification\n\n" + Dashes() +
         "\nTries a log-on to an Oracle database through the Oracle client.\n\n";
}
constexpr char kAgain[] = "Try Again? [N] ";
constexpr char kVerified[] =
    "\nSuccessfully Connected\nSuccessfully Disconnected\n\nConnectivity to Oracle Verified.\n\n";
std::string Refused(const std::string& text) {
  return "\nError connecting to Oracle Database.\n" + text + "Connectivity test Fails.\n\n";
}

class OciProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    char message[256] = {};
    ASSERT_EQ(OraAdmCreate(data_.path().c_str(), "ORCL", "scott", "tiger", "US7ASCII", nullptr,
                           message, sizeof message),
              0)
        << message;
  }
  twtest::ProcessResult Run(const std::string& input) {
    return probetest::RunProbe("ociprobe", {}, input,
                               {"ORA72_DATA=" + data_.path(), "ORA72_SID=ORCL"});
  }
  twtest::TempDir data_;
};

TEST_F(OciProbe, LogsOnAndOff) {
  const std::string firstPrompts = "      Username:       Password: Connect String: ";
  const std::string againPrompts =
      "      Username: [scott]       Password: [****] Connect String: [ORCL] ";
  char denied[512] = {};
  OraErrorText(nullptr, ORA_RC_LOGON_DENIED, denied, sizeof denied);
  char noService[512] = {};
  OraErrorText(nullptr, ORA_RC_NO_SERVICE, noService, sizeof noService);
  struct Case {
    const char* name;
    std::string input, out;
    int code;
  } cases[] = {
      {"good log-on", "scott\ntiger\nORCL\n",
       Banner() + firstPrompts + "Attempting to connect using scott/****@ORCL\n" + kVerified +
           kAgain,
       0},
      {"the connect string of ORA72_SID", "SCOTT\nTIGER\n\n",
       Banner() + firstPrompts + "Attempting to connect using SCOTT/****@\n" + kVerified + kAgain,
       0},
      {"bad user", "adams\ntiger\nORCL\nn\n",
       Banner() + firstPrompts + "Attempting to connect using adams/****@ORCL\n" + Refused(denied) +
           kAgain,
       1},
      {"unknown database", "scott\ntiger\nNOSUCH\n",
       Banner() + firstPrompts + "Attempting to connect using scott/****@NOSUCH\n" +
           Refused(noService) + kAgain,
       1},
      {"bad password, then the right one", "scott\nlion\nORCL\ny\n\ntiger\n\n",
       Banner() + firstPrompts + "Attempting to connect using scott/****@ORCL\n" + Refused(denied) +
           kAgain + againPrompts + "Attempting to connect using scott/****@ORCL\n" + kVerified +
           kAgain,
       0},
      {"good, then the end of input on a retry", "scott\ntiger\nORCL\ny\n",
       Banner() + firstPrompts + "Attempting to connect using scott/****@ORCL\n" + kVerified +
           kAgain + againPrompts + "Attempting to connect using scott/****@ORCL\n" + kVerified +
           kAgain,
       0},
  };
  for (const Case& c : cases) {
    twtest::ProcessResult r = Run(c.input);
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.exitCode, c.code) << c.name;
    EXPECT_EQ(r.out.find("tiger"), std::string::npos) << c.name;
  }
}

}  // namespace
