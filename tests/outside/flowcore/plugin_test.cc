// The connector loader: library names, refused and broken libraries with their statuses and
// log entries, the first and last bits across connections and libraries, link codes, and
// the end of everything at TWSystemTerm.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "connect_test_util.h"
#include "flowcore.h"

namespace twtest {
namespace {

struct LoadFailure {
  const char* library;
  uint32_t status;
  const char* logged;
};

class LoaderTest : public ::testing::Test {
 protected:
  EngineInstallation env_;
  StandAloneActivity activity_;
};

TEST_F(LoaderTest, LibrariesThatCannotServeAreRefusedLoggedAndNeverInitialised) {
  const LoadFailure cases[] = {
      {"nosuch", 1546, "Cannot load Link TWX Library 'nosuch'"},
      {"badlink_missing", 1546, "Cannot load Link TWX Library 'badlink_missing'"},
      {"badlink_kind", 1547, "Invalid Link TWX Library 'badlink_kind'"},
      {"badlink_table", 1547, "Invalid Link TWX Library 'badlink_table'"},
      {"badlink_version", 1548, "Incorrect link version"},
      {"../testlink", 1546, "Cannot load Link TWX Library '../testlink'"},
      {"sub/testlink", 1546, "Cannot load Link TWX Library 'sub/testlink'"},
      {"", 1546, "Cannot load Link TWX Library"},
  };
  for (const LoadFailure& c : cases) {
    SCOPED_TRACE(c.library);
    Connection connection;
    TWCONNECT sentinel = reinterpret_cast<TWCONNECT>(uintptr_t{0x5A5A});
    *connection.out() = sentinel;
    EXPECT_EQ(AllocByLibrary(connection, c.library), c.status);
    EXPECT_EQ(connection.get(), nullptr);
    LastEntry last = LogLast();
    EXPECT_EQ(last.status, c.status);
    EXPECT_EQ(last.text, c.logged);
    EXPECT_EQ(TWActivityGetStatus(), c.status);
    TWActivityClearStatus();
    // A second attempt fails the same way: nothing half-registered stays behind.
    EXPECT_EQ(AllocByLibrary(connection, c.library), c.status);
    TWActivityClearStatus();
  }
  // The broken variants share testlink's code: none of them got past its identity.
  EXPECT_TRUE(env_.ProcessJournal().empty());
  uint32_t code = 0;
  EXPECT_EQ(TWActivityListLink(TWLIST_FIRST, &code, nullptr), TWFAIL_END_OF_DATA);
}

TEST_F(LoaderTest, LibraryNamesAreLowerCasedAndLoseTheirSuffix) {
  Connection upper, plain;
  ASSERT_EQ(AllocByLibrary(upper, "TestLink.TWX"), TWSUCCESS);
  ASSERT_EQ(AllocByLibrary(plain, "testlink"), TWSUCCESS);
  EXPECT_EQ(PropertyText(upper.get(), TWTOKEN_LIBRARY), "testlink");
  EXPECT_EQ(PropertyText(upper.get(), TWTOKEN_NAME), "TestLink.TWX");
  int32_t codeUpper = 0, codePlain = 0;
  EXPECT_EQ(TWConnectGetPropertyInt(upper.get(), TWTOKEN_LINK_CODE, &codeUpper), TWSUCCESS);
  EXPECT_EQ(TWConnectGetPropertyInt(plain.get(), TWTOKEN_LINK_CODE, &codePlain), TWSUCCESS);
  EXPECT_EQ(codeUpper, codePlain);
  EXPECT_NE(codeUpper, 0);
  Text name("TESTLINK.twx");
  uint32_t looked = 0;
  EXPECT_EQ(TWActivityLookupLink(name.get(), &looked), TWSUCCESS);
  EXPECT_EQ(looked, static_cast<uint32_t>(codeUpper));
}

// Initialize and Terminate lines of the process journal, as {connect code, flags}.
struct Bracket {
  std::string entry;
  unsigned code;
  unsigned flags;
};
std::vector<Bracket> Brackets(const std::vector<std::string>& lines) {
  std::vector<Bracket> out;
  for (const std::string& line : lines) {
    char entry[32] = {};
    Bracket b{};
    if (std::sscanf(line.c_str(), "%31s code=%x flags=%u", entry, &b.code, &b.flags) == 3) {
      b.entry = entry;
      out.push_back(b);
    }
  }
  return out;
}

TEST_F(LoaderTest, FirstAndLastBitsFollowTheLiveConnectionsOfEachLibrary) {
  env_.CopyTestLink("otherlink");
  Connection a1, a2, b1, a3;
  ASSERT_EQ(AllocByLibrary(a1, "testlink"), TWSUCCESS);
  ASSERT_EQ(AllocByLibrary(a2, "testlink"), TWSUCCESS);
  ASSERT_EQ(AllocByLibrary(b1, "otherlink"), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(a1.get()), TWSUCCESS);
  a1.Release();
  b1.Release();
  ASSERT_EQ(AllocByLibrary(a3, "testlink"), TWSUCCESS);  // a2 still lives: not first
  a2.Release();
  a3.Release();
  ASSERT_EQ(AllocByLibrary(a1, "testlink"), TWSUCCESS);  // none live: first again
  a1.Release();

  std::vector<Bracket> got = Brackets(env_.ProcessJournal());
  const std::vector<std::pair<std::string, unsigned>> expected = {
      {"Initialize", 1}, {"Initialize", 0}, {"Initialize", 1}, {"Terminate", 0},  {"Terminate", 1},
      {"Initialize", 0}, {"Terminate", 0},  {"Terminate", 1},  {"Initialize", 1}, {"Terminate", 1}};
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].entry, expected[i].first) << i;
    EXPECT_EQ(got[i].flags, expected[i].second) << i;
  }
  // One link code per library in its high half, a distinct connection number below it.
  const unsigned testlinkCode = got[0].code & TWMASK_LINK_CODE;
  EXPECT_NE(testlinkCode, 0u);
  EXPECT_EQ(got[1].code & TWMASK_LINK_CODE, testlinkCode);
  EXPECT_NE(got[2].code & TWMASK_LINK_CODE, testlinkCode);
  EXPECT_NE(got[0].code, got[1].code);
  EXPECT_NE(got[0].code & ~TWMASK_LINK_CODE, 0u);

  // The walk of known libraries gives both, in the order they became known.
  uint32_t code = 0;
  Text library;
  ASSERT_EQ(TWActivityListLink(TWLIST_FIRST, &code, library.get()), TWSUCCESS);
  EXPECT_EQ(library.str(), "testlink");
  EXPECT_EQ(code, testlinkCode);
  ASSERT_EQ(TWActivityListLink(TWLIST_NEXT, &code, library.get()), TWSUCCESS);
  EXPECT_EQ(library.str(), "otherlink");
  EXPECT_EQ(code, got[2].code & TWMASK_LINK_CODE);
  EXPECT_EQ(TWActivityListLink(TWLIST_NEXT, &code, library.get()), TWFAIL_END_OF_DATA);
}

TEST_F(LoaderTest, EachContextStartsZeroFilled) {
  Connection c;
  ASSERT_EQ(AllocByLibrary(c, "testlink"), TWSUCCESS);
  std::vector<std::string> journal = ConnectorJournal(c.get());
  ASSERT_FALSE(journal.empty());
  EXPECT_NE(journal[0].find("zeroed=1"), std::string::npos) << journal[0];
}

TEST(LoaderLifetime, SystemTermDisconnectsTerminatesAndForgetsLeftoverConnections) {
  EngineInstallation env;
  TWCONNECT open = TWNULLHANDLE, idle = TWNULLHANDLE;
  {
    StandAloneActivity activity;
    Text name("testlink");
    ASSERT_EQ(TWConnectAlloc(&open, TWTOKENF_EXTERN, name.get()), TWSUCCESS);
    ASSERT_EQ(TWConnectConnect(open), TWSUCCESS);
  }
  // A connection made without an activity outlives no TWSystemTerm either.
  Text name("testlink");
  ASSERT_EQ(TWConnectAlloc(&idle, TWTOKENF_EXTERN, name.get()), TWSUCCESS);
  ASSERT_EQ(TWSystemTerm(), TWSUCCESS);
  std::vector<std::string> lines = env.ProcessJournal();
  ASSERT_EQ(lines.size(), 4u);
  // The activity's end took its connection, disconnected first; the system's end the other.
  EXPECT_EQ(lines[1], "Terminate code=" + lines[0].substr(16, 8) + " flags=1 connected=0");
  EXPECT_EQ(lines[3], "Terminate code=" + lines[2].substr(16, 8) + " flags=1 connected=0");
  EXPECT_EQ(TWSystemInit(), TWSUCCESS);
  EXPECT_EQ(TWConnectConnect(open), TWFAIL_INVALID_CONNECT);
  EXPECT_EQ(TWConnectFree(idle), TWFAIL_INVALID_CONNECT);
}

TEST(LoaderLifetime, NothingWorksBeforeTheSystemStarts) {
  Installation inst;
  InstallPlugin(inst, "testlink");
  TWSystemTerm();
  Text name("testlink");
  TWCONNECT c = reinterpret_cast<TWCONNECT>(uintptr_t{0x77});
  EXPECT_EQ(TWConnectAlloc(&c, TWTOKENF_EXTERN, name.get()), TWFAIL_TWXINIT);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(TWConnectConnect(reinterpret_cast<TWCONNECT>(uintptr_t{1})), TWFAIL_TWXINIT);
  EXPECT_EQ(TWConnectFree(TWNULLHANDLE), TWSUCCESS);
  EXPECT_EQ(TWConnectAlloc(nullptr, TWTOKENF_EXTERN, name.get()), TWFAIL_NULL_RESULT);
}

}  // namespace
}  // namespace twtest
