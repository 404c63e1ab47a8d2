// Helpers of the SNMP tests: one private installation per test program, and a fake clock for
// the waits that go through the platform's Env.
#ifndef TW_TESTS_SNMP_SNMP_TEST_UTIL_H_
#define TW_TESTS_SNMP_SNMP_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "csipc.h"
#include "env.h"
#include "plat_test_util.h"
#include "wire.h"

namespace twtest {

// The installation of this test program (its run directory keeps pipes apart from other
// programs'), settled at first use.
inline const std::string& SnmpInstallation() {
  // Removed at exit, so that no test program leaves its installation behind.
  static TempDir dir;
  static const bool settled = [] {
    InitAt(dir.path());
    return true;
  }();
  (void)settled;
  return dir.path();
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

// The master agent's side of the link, played by a test: its service, one sub-agent's
// connection and what that sub-agent registered.
class TestMaster {
 public:
  explicit TestMaster(const std::string& service) {
    int st = 1;
    service_ = tw::snmp::CSIPC::Advertise(service, &st);
    EXPECT_EQ(st, 0);
  }
  // Accepts a sub-agent (waiting at most timeoutMs) and answers its register request with
  // status; false when none came or it asked for something else.
  bool AcceptAndRegister(int32_t status = 0, int timeoutMs = 5000) {
    if (service_ == nullptr || service_->Wait(timeoutMs) != 1) return false;
    int st = 1;
    conn_ = service_->Accept(&st);
    if (conn_ == nullptr) return false;
    registered_ = Next(timeoutMs);
    return Answer(status) && registered_.type == tw::snmp::kMsgRegister;
  }
  bool Send(const tw::snmp::Message& m) {
    std::string frame;
    return tw::snmp::EncodeMessage(m, &frame) == 0 && conn_->Send(frame) >= 0;
  }
  bool Answer(int32_t status) {
    tw::snmp::Message answer;
    answer.type = tw::snmp::kMsgResponse;
    answer.status = status;
    return Send(answer);
  }
  // The next message from the sub-agent (type 0 when none came within timeoutMs).
  tw::snmp::Message Next(int timeoutMs = 5000) {
    tw::snmp::Message m;
    std::string frame;
    if (conn_->Wait(timeoutMs) == 1 && conn_->Receive(&frame) >= 0) {
      EXPECT_EQ(tw::snmp::DecodeMessage(frame, &m), 0);
    }
    return m;
  }
  const tw::snmp::Message& registered() const { return registered_; }
  tw::snmp::CSIPC& conn() { return *conn_; }

 private:
  std::unique_ptr<tw::snmp::CSIPC> service_;
  std::unique_ptr<tw::snmp::CSIPC> conn_;
  tw::snmp::Message registered_;
};

}  // namespace twtest

#endif  // TW_TESTS_SNMP_SNMP_TEST_UTIL_H_
