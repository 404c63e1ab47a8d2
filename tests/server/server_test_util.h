// Helpers of the server tests: a temporary installation, owned in-process pipes, a clock that
// moves only when told, a fake control store and a fake process launcher.
#ifndef TW_TESTS_SERVER_SERVER_TEST_UTIL_H_
#define TW_TESTS_SERVER_SERVER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "env.h"
#include "plat_test_util.h"
#include "platform.h"
#include "records.h"
#include "scheduler_services.h"

namespace twtest {

// A fresh installation directory with a twmain.ini naming it, settled by TWPlatInit for the
// life of the object.
class ServerInstallation {
 public:
  ServerInstallation() {
    TWPlatTerm();
    WriteFile(dir_ / "prog", "");
    WriteFile(dir_ / "twmain.ini", "[Configuration]\r\nDirectory=" + dir_.path() + "\r\n");
    ScopedEnv path("PATH", dir_.path().c_str());
    EXPECT_EQ(TWPlatInit((dir_ / "prog").c_str()), TWSUCCESS);
    EXPECT_EQ(std::string(TWFileExeDir()), dir_.path());
  }
  ~ServerInstallation() { TWPlatTerm(); }
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  TempDir dir_;
};

// An in-process pipe destroyed with the object.
class Pipe {
 public:
  explicit Pipe(uint32_t size) { EXPECT_EQ(TWProcPipeCreate(size, &pipe_), TWSUCCESS); }
  ~Pipe() {
    if (pipe_ != nullptr) TWProcPipeDestroy(pipe_);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  TWProcPipe* get() const { return pipe_; }

 private:
  TWProcPipe* pipe_ = nullptr;
};

// Every event waiting on pipe, oldest first.
inline std::vector<tw::server::ConsoleEvent> DrainEvents(TWProcPipe* pipe) {
  std::vector<tw::server::ConsoleEvent> out;
  while (TWProcPipePeek(pipe)) {
    tw::server::ConsoleEvent e;
    if (tw::server::ReadConsoleEvent(pipe, &e) != TWSUCCESS) break;
    out.push_back(e);
  }
  return out;
}

// Polls pred every millisecond for at most five seconds.
inline bool Eventually(const std::function<bool()>& pred) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A clock that stands still until Advance; sleeps are short real waits so that a thread
// looping on it does not spin.
class FakeClockEnv : public tw::EnvWrapper {
 public:
  FakeClockEnv() : tw::EnvWrapper(tw::Env::Default()) {}
  int64_t NowMicros() override { return now_.load(); }
  void SleepMicros(int64_t) override {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  void Advance(int64_t seconds) { now_ += seconds * 1'000'000; }

 private:
  std::atomic<int64_t> now_{1'000'000'000};
};

// One activity the fake control store hands out.
struct DueActivity {
  int32_t handle = 0;
  std::string name;
  int32_t maxDuration = -1;
  int32_t priority = 0;
  TWDatetime startTime{};
};

// The control store of the scheduler tests. Called on the scheduler thread only.
class FakeStore : public tw::server::ControlStore {
 public:
  struct Done {
    int32_t handle;
    uint32_t completion;
    bool operator==(const Done& o) const {
      return handle == o.handle && completion == o.completion;
    }
  };

  CSMgrServerSettings settings{0x1F2, 15, 30, 60, 4, 20, TWDatetime{360000, 2450000}, {}};
  std::string serverName = "Tarnway/Test";
  std::deque<DueActivity> due;
  uint32_t initStatus = 0;
  uint32_t nextStatus = 0;
  uint32_t infoStatus = 0;
  uint32_t startupStatus = 0;
  // false: the manager is gone; every request answers 782 until Startup starts another.
  bool serving = true;
  int inits = 0, terms = 0, polls = 0, startups = 0;
  std::vector<int32_t> states;
  std::vector<Done> done;

  uint32_t Startup() override {
    ++startups;
    if (startupStatus) return startupStatus;
    serving = true;
    return 0;
  }
  bool Serving() override { return serving; }
  uint32_t Init(CSMgrServerSettings* s) override {
    ++inits;
    if (!serving) return kGone;
    if (initStatus) return initStatus;
    return Fill(s);
  }
  uint32_t ServerInfo(CSMgrServerSettings* s) override {
    if (infoStatus) return infoStatus;
    return Fill(s);
  }
  uint32_t ServerState(int32_t state) override {
    if (!serving) return kGone;
    states.push_back(state);
    return 0;
  }
  uint32_t NextActivity(CSMgrNextActivityRecord* next) override {
    ++polls;
    if (!serving) return kGone;
    if (nextStatus) return nextStatus;
    if (due.empty()) {
      next->activityHandle = 0;
      return 0;
    }
    DueActivity a = due.front();
    due.pop_front();
    next->activityHandle = a.handle;
    next->maxDuration = a.maxDuration;
    next->priority = a.priority;
    next->startTime = a.startTime;
    return TWStreamDataSet(&next->activityName, TWSTREAMFMT_NATIVE, a.name.data(),
                           static_cast<uint32_t>(a.name.size()));
  }
  uint32_t DoneActivity(int32_t handle, uint32_t completion) override {
    if (!serving) return kGone;
    done.push_back(Done{handle, completion});
    return 0;
  }
  uint32_t Time(TWDatetime* now) override {
    *now = TWDatetime{123, 456};
    return 0;
  }
  uint32_t Term() override {
    ++terms;
    return 0;
  }

 private:
  static constexpr uint32_t kGone = TWFAIL_CSMGR_UNREACHABLE;
  uint32_t Fill(CSMgrServerSettings* s) {
    TWStream name = s->serverName;
    *s = settings;
    s->serverName = name;
    return TWStreamDataSet(&s->serverName, TWSTREAMFMT_NATIVE, serverName.data(),
                           static_cast<uint32_t>(serverName.size()));
  }
};

// Processes that end when the test says so (or when killed). Safe from any thread.
class FakeLauncher : public tw::server::ProcessLauncher {
 public:
  struct Proc {
    std::string commandLine;
    int32_t priority = 0;
    bool ended = false;
    bool killed = false;
    bool freed = false;
  };

  uint32_t startStatus = 0;

  uint32_t Start(const char* commandLine, int32_t priority, Process* process) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (startStatus) return startStatus;
    procs_.push_back(std::make_unique<Proc>());
    procs_.back()->commandLine = commandLine;
    procs_.back()->priority = priority;
    *process = procs_.back().get();
    return 0;
  }
  void Wait(Process process) override {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return static_cast<Proc*>(process)->ended; });
  }
  uint32_t Kill(Process process) override {
    std::lock_guard<std::mutex> lock(mu_);
    auto* p = static_cast<Proc*>(process);
    if (!p->ended) p->killed = true;
    p->ended = true;
    cv_.notify_all();
    return 0;
  }
  void Free(Process process) override {
    std::lock_guard<std::mutex> lock(mu_);
    static_cast<Proc*>(process)->freed = true;
  }

  // Ends the process started for "taskrun =<handle>" last.
  void End(int32_t handle) {
    std::lock_guard<std::mutex> lock(mu_);
    Proc* p = Find(handle);
    ASSERT_NE(p, nullptr) << handle;
    p->ended = true;
    cv_.notify_all();
  }
  // Ends every process still running (the end of a test).
  void EndAll() {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& p : procs_) p->ended = true;
    cv_.notify_all();
  }
  size_t started() {
    std::lock_guard<std::mutex> lock(mu_);
    return procs_.size();
  }
  Proc Snapshot(size_t i) {
    std::lock_guard<std::mutex> lock(mu_);
    return *procs_.at(i);
  }
  bool Killed(int32_t handle) {
    std::lock_guard<std::mutex> lock(mu_);
    Proc* p = Find(handle);
    return p != nullptr && p->killed;
  }
  int Unfreed() {
    std::lock_guard<std::mutex> lock(mu_);
    int n = 0;
    for (auto& p : procs_) n += p->freed ? 0 : 1;
    return n;
  }

 private:
  Proc* Find(int32_t handle) {
    std::string line = "taskrun =" + std::to_string(handle);
    for (auto it = procs_.rbegin(); it != procs_.rend(); ++it)
      if ((*it)->commandLine == line) return it->get();
    return nullptr;
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<Proc>> procs_;
};

}  // namespace twtest

#endif  // TW_TESTS_SERVER_SERVER_TEST_UTIL_H_
