// Helpers of the SNMP tests: one private installation per test program, and a fake clock for
// the waits that go through the platform's Env.
#ifndef TW_TESTS_SNMP_SNMP_TEST_UTIL_H_
#define TW_TESTS_SNMP_SNMP_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "env.h"
#include "plat_test_util.h"

namespace twtest {

// The installation of this test program (its run directory keeps pipes apart from other
// programs'), settled at first use.
inline const std::string& SnmpInstallation() {
  static TempDir* dir = [] {
    auto* d = new TempDir;
    InitAt(d->path());
    return d;
  }();
  return dir->path();
}

// A clock that only moves when slept on or advanced, counting what was slept.
class FakeClockEnv : public tw::EnvWrapper {
 public:
  FakeClockEnv() : EnvWrapper(tw::Env::Default()) { tw::Env::Set(this); }
  ~FakeClockEnv() override { tw::Env::Set(nullptr); }
  int64_t NowMicros() override { return now_.load(); }
  void SleepMicros(int64_t micros) override {
    slept_ += micros;
    now_ += micros;
  }
  void Advance(int64_t micros) { now_ += micros; }
  int64_t slept() const { return slept_.load(); }

 private:
  std::atomic<int64_t> now_{1'000'000'000'000};
  std::atomic<int64_t> slept_{0};
};

}  // namespace twtest

#endif  // TW_TESTS_SNMP_SNMP_TEST_UTIL_H_
