// The machine's time-zone rules for a test's scope, so that daylight-saving behaviour does not
// depend on where the tests run.
#ifndef TW_TESTS_OUTSIDE_PLEXAPI_ZONE_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_PLEXAPI_ZONE_TEST_UTIL_H_

#include <time.h>

#include "plat_test_util.h"

namespace plexatest {

// New York's rules written out, so that no zone database is needed.
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

class ScopedZone {
 public:
  explicit ScopedZone(const char* tz) : env_("TZ", tz) { ::tzset(); }

 private:
  // Destroyed after env_ has put TZ back, so that the C library reads it again.
  struct Retzset {
    ~Retzset() { ::tzset(); }
  } retzset_;
  twtest::ScopedEnv env_;
};

}  // namespace plexatest

#endif  // TW_TESTS_OUTSIDE_PLEXAPI_ZONE_TEST_UTIL_H_
