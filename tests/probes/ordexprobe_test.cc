// ordexprobe against the Plexa API stand-in (a server is a directory under the data root, or
// a database of PostgreSQL that the data root's server map names), and with the API's
// failures put in its place.
#include "ordexprobe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "plat_test_util.h"
#include "plexapi.h"
#include "probe_test_util.h"
#include "store_fixture.h"

namespace {

using probetest::Dashes;

std::string Banner() {
  return "\n\nQuendal Ordex Server Connection Verification\n\n" + Dashes() +
         "\nAsks whether an Ordex server answers through the Plexa API.\n\nInitializing...";
}
const std::string kAsk = "\n\nQuendal Ordex Server: \nAttempting connection...";
const std::string kAgain = "\n\nTry Again? [N] ";
std::string Verified(const std::string& server) {
  return "\n\nConnectivity to Server " + server + " Verified.\n";
}
std::string NotResponding(const std::string& server) {
  return "\n\nServer " + server + " is not responding, Connectivity test Fails.\n";
}

// One conversation with the probe: what is typed, what it says, how it exits.
struct ProbeCase {
  const char* name;
  std::string input;
  std::string out;
  int code;
};
template <size_t N>
void ExpectAnswers(const ProbeCase (&cases)[N], const std::string& root) {
  for (const ProbeCase& c : cases) {
    twtest::ProcessResult r =
        probetest::RunProbe("ordexprobe", {}, c.input, {"PLEXA_ROOT=" + root});
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.exitCode, c.code) << c.name;
  }
}

TEST(OrdexProbe, AsksTheServers) {
  twtest::TempDir root;
  std::filesystem::create_directories(root / "servers/alpha");
  const ProbeCase cases[] = {
      {"existing server", "ALPHA\n", Banner() + kAsk + Verified("ALPHA") + kAgain, 0},
      {"missing server", "BETA\nn\n", Banner() + kAsk + NotResponding("BETA") + kAgain, 1},
      {"missing, then existing", "BETA\ny\nalpha\n",
       Banner() + kAsk + NotResponding("BETA") + kAgain + kAsk + Verified("alpha") + kAgain, 0},
      {"existing, then missing", "ALPHA\nY\nBETA\n",
       Banner() + kAsk + Verified("ALPHA") + kAgain + kAsk + NotResponding("BETA") + kAgain, 1},
      // The end of input asks for the server named last, which is the local one at first.
      {"end of input", "", Banner() + kAsk + Verified("") + kAgain, 0},
      {"end of input on a retry", "BETA\ny\n",
       Banner() + kAsk + NotResponding("BETA") + kAgain + kAsk + NotResponding("BETA") + kAgain, 1},
  };
  ExpectAnswers(cases, root.path());
}

// A server that the map holds in PostgreSQL answers while its PostgreSQL does; a mapped
// server whose PostgreSQL does not answer is not responding; a malformed map says which line.
TEST(OrdexProbe, AsksServersHeldInPostgreSQL) {
  twtest::TempDir root;
  storetest::Store store;
  ASSERT_NO_FATAL_FAILURE(store.SetUp(storetest::Engine::kPostgres, root.path()));
  if (store.skipped()) GTEST_SKIP() << store.skipped();
  const std::string map = twtest::ReadFile(root / "servers.map");
  // Port 1 of the loopback: nobody listens there.
  twtest::WriteFile(root / "servers.map",
                    map + "silent host=127.0.0.1 port=1 user=tw dbname=" + store.dbname() + "\n");
  const ProbeCase cases[] = {
      {"held server", "cluster\n", Banner() + kAsk + Verified("cluster") + kAgain, 0},
      {"held server, any case", "CLUSTER\n", Banner() + kAsk + Verified("CLUSTER") + kAgain, 0},
      {"PostgreSQL not answering, then the held server", "silent\ny\ncluster\n",
       Banner() + kAsk + NotResponding("silent") + kAgain + kAsk + Verified("cluster") + kAgain, 0},
  };
  ExpectAnswers(cases, root.path());
  twtest::WriteFile(root / "servers.map", map + "broken\n");
  twtest::ProcessResult r =
      probetest::RunProbe("ordexprobe", {}, "cluster\n", {"PLEXA_ROOT=" + root.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("servers.map line 3: \"broken\" has no connection string"),
            std::string::npos)
      << r.out;
}

// The failures of the API, which the stand-in does not give on demand.
uint32_t g_initStatus = 0;
uint32_t g_propertyStatus = 0;
int g_terms = 0;
const char* g_errorText = "";
uint32_t FakeInit(uint32_t, uint32_t, uint32_t, uint32_t) {
  return g_initStatus;
}
uint32_t FakeTerm(uint32_t) {
  ++g_terms;
  return 0;
}
uint32_t FakeErrorFetch(uint32_t* status, uint32_t*, char* text) {
  if (status != nullptr) *status = g_initStatus | g_propertyStatus;
  std::strncpy(text, g_errorText, GV_ERROR_TEXT_SIZE - 1);
  return static_cast<uint32_t>(std::strlen(text));
}
uint32_t FakeProperty(const char*, uint32_t, uint32_t* answer) {
  *answer = 1;
  return g_propertyStatus;
}

TEST(OrdexProbe, ReportsTheApiFailures) {
  const tw::ordexprobe::PlexaCalls fake = {FakeInit, FakeTerm, FakeErrorFetch, FakeProperty};
  struct Case {
    const char* name;
    uint32_t init, property;
    std::string input, out;
    int terms;
  } cases[] = {
      {"init fails", GVERR_VERSION, 0, "ALPHA\n",
       Banner() + "Error initializing Plexa.\nthe failure's text\n", 0},
      {"the server's property fails", 0, GVERR_INVALID_ARGUMENT, "ALPHA\n",
       Banner() + kAsk + "\n\nthe failure's text\n" + kAgain, 1},
  };
  for (const Case& c : cases) {
    g_initStatus = c.init;
    g_propertyStatus = c.property;
    g_errorText = "the failure's text";
    g_terms = 0;
    probetest::MemConsole mem(c.input);
    EXPECT_EQ(tw::ordexprobe::Run(mem.console(), fake), 1) << c.name;
    EXPECT_EQ(mem.Out(), c.out) << c.name;
    EXPECT_EQ(g_terms, c.terms) << c.name;
  }
}

}  // namespace
