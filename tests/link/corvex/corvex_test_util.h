// Helpers of the Corvex connector tests: the engine started with an activity to log to, and a
// Connection initialised as the engine would, with the property chain of link_test_util.h.
#ifndef TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_
#define TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>

#include "activity_test_util.h"
#include "connection.h"
#include "flowcore.h"
#include "link_test_util.h"
#include "plat_test_util.h"

namespace corvex_test {

// The engine with an unnamed activity.
class Engine {
 public:
  Engine() {
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  ~Engine() {
    TWActivityFree();
    TWSystemTerm();
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

 private:
  twtest::Installation inst_;
};

struct Link : link_test::PropertyChain<Link> {
  Link() { EXPECT_EQ(c.Initialize(0x00010001, 1), TWSUCCESS); }
  ~Link() {
    (void)c.Disconnect(0);
    (void)c.Terminate(1);
  }
  corvex::Connection c;
};

}  // namespace corvex_test

#endif  // TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_
