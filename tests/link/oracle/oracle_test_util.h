// Helpers of the Oracle connector tests: a server database of the test's own (ORA72_DATA
// pointing at a temporary directory), the engine started with an activity to log to, and a
// Connection initialised as the engine would.
#ifndef TW_TESTS_LINK_ORACLE_ORACLE_TEST_UTIL_H_
#define TW_TESTS_LINK_ORACLE_ORACLE_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "activity_test_util.h"
#include "connection.h"
#include "flowcore.h"
#include "link_test_util.h"
#include "ora72.h"
#include "plat_test_util.h"

namespace oracle_test {

// A directory of server databases and the engine with an unnamed activity.
class Server {
 public:
  Server() : dir_(tmp_.path().substr(0, tmp_.path().size() - 1)) {
    setenv("ORA72_DATA", dir_.c_str(), 1);
    setenv("ORA72_TRACE", (dir_ + "/statements.log").c_str(), 1);
    unsetenv("ORA72_SID");
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  ~Server() {
    TWActivityFree();
    TWSystemTerm();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Makes database name with user scott (password given), the character set and, when
  // clock is given, a fixed SYSDATE.
  void Make(const char* name, const char* password = "tiger", const char* charset = "WE8ISO8859P1",
            const char* clock = nullptr) {
    char m[256] = {};
    ASSERT_EQ(OraAdmCreate(dir_.c_str(), name, "scott", password, charset, clock, m, sizeof m), 0)
        << m;
  }
  const std::string& dir() const { return dir_; }

 private:
  twtest::Installation inst_;
  twtest::TempDir tmp_;
  std::string dir_;  // tmp_ without its final "/"
};

// A connection initialised as the engine does, with the property chain of link_test_util.h.
struct Link : link_test::PropertyChain<Link> {
  Link() { EXPECT_EQ(c.Initialize(0x00010001, 1), TWSUCCESS); }
  ~Link() {
    (void)c.Disconnect(0);
    (void)c.Terminate(0);
  }
  oracle::Connection c;
};

// A test on database ORCL with a connected link; clock_ (when set by a derived fixture's
// constructor) fixes the server's SYSDATE, and charset_ sets its character set.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Make("ORCL", "tiger", charset_, clock_);
    link_.Str(TWTOKEN_USERID, "scott").Str(TWTOKEN_PASSWORD, "tiger").Str(TWTOKEN_SERVER, "ORCL");
    ASSERT_EQ(link_.c.Connect(), TWSUCCESS);
  }
  // The last text the server parsed.
  std::string LastStatement() {
    std::ifstream in(server_.dir() + "/statements.log");
    std::string line, last;
    while (std::getline(in, line)) last = line;
    return last;
  }

  // Connects link as scott to ORCL.
  static void Open(Link& link) {
    link.Str(TWTOKEN_USERID, "scott").Str(TWTOKEN_PASSWORD, "tiger").Str(TWTOKEN_SERVER, "ORCL");
    ASSERT_EQ(link.c.Connect(), TWSUCCESS);
  }

  const char* clock_ = nullptr;
  const char* charset_ = "WE8ISO8859P1";  // the database's character set
  Server server_;
  Link link_;
};

}  // namespace oracle_test

#endif  // TW_TESTS_LINK_ORACLE_ORACLE_TEST_UTIL_H_
