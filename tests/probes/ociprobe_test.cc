// ociprobe against the ORA72 stand-in, which it loads and calls by ordinal: a good log-on and
// log-off, a refused one with the client's error text, and the password never shown.
#include "ociprobe.h"

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

// A log-off the client refuses, which the stand-in does not give on demand.
int FakeLogon(OraLda*, OraHda*, const char*, int, const char*, int, int) {
  return 0;
}
int FakeLogoff(OraLda*) {
  return ORA_RC_NOT_LOGGED_ON;
}

TEST(OciProbeLogoff, ARefusedLogOffIsNotVerified) {
  const tw::ociprobe::OraCalls fake = {FakeLogon, OraErrorText, FakeLogoff};
  probetest::MemConsole mem("scott\ntiger\nORCL\n");
  {
    tw::probe::Console& console = mem.console();
    EXPECT_EQ(tw::ociprobe::Run(console, fake), 1);
  }
  EXPECT_EQ(mem.Out(), Banner() + "      Username:       Password: Connect String: " +
                           "Attempting to connect using scott/****@ORCL\n"
                           "\nSuccessfully Connected\n" +
                           kAgain);
  EXPECT_EQ(mem.Err(), "Error on disconnect.\n");
}

// The client is found by its ordinals; a library without them is refused.
TEST(OciProbeLogoff, LoadsTheClientByOrdinal) {
  tw::ociprobe::OraCalls calls{};
  std::string error;
  ASSERT_TRUE(tw::ociprobe::LoadClient("libora72.so", calls, error)) << error;
  EXPECT_EQ(reinterpret_cast<void*>(calls.logon), reinterpret_cast<void*>(&OraLogon));
  EXPECT_EQ(reinterpret_cast<void*>(calls.errorText), reinterpret_cast<void*>(&OraErrorText));
  EXPECT_EQ(reinterpret_cast<void*>(calls.logoff), reinterpret_cast<void*>(&OraLogoff));
  EXPECT_FALSE(tw::ociprobe::LoadClient("libflowsys.so", calls, error));
  EXPECT_EQ(error, "The Oracle client has no call of ordinal 97.");
  EXPECT_FALSE(tw::ociprobe::LoadClient("libnosuchclient.so", calls, error));
  EXPECT_NE(error.find("libnosuchclient.so"), std::string::npos) << error;
}

}  // namespace
