// Helpers of the console and SNMP link tests: a scheduler stand-in that answers the commands
// it reads with console events, the fixture both tests build on, and the output of a FILE*
// collected through a pipe.
#ifndef TW_TESTS_SERVER_STANDIN_UTIL_H_
#define TW_TESTS_SERVER_STANDIN_UTIL_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "records.h"
#include "server_test_util.h"

namespace tw::server {

inline bool operator==(const SchedulerCommand& a, const SchedulerCommand& b) {
  return a.code == b.code && a.source == b.source && a.argument == b.argument && a.run == b.run;
}
inline std::ostream& operator<<(std::ostream& os, const SchedulerCommand& c) {
  return os << "{" << c.code << ", " << c.source << ", " << c.argument << ", " << c.run << "}";
}

}  // namespace tw::server

namespace twtest {

using tw::server::ConsoleEvent;
using tw::server::SchedulerCommand;

inline ConsoleEvent Event(int32_t code, int32_t number = 0, std::string_view text = {}) {
  ConsoleEvent e;
  e.code = code;
  e.number = number;
  e.SetText(text);
  return e;
}

// When the stand-in's scheduler started, and event 1 as it sends it first.
inline constexpr TWDatetime kStandInStart{3600000, 2450000};
inline ConsoleEvent Started() {
  ConsoleEvent e = Event(tw::server::EventStarted, 0, "Tarnway/Test");
  e.time = kStandInStart;
  return e;
}

// A date-time in the native text form that the console and the link show.
inline std::string TimeText(const TWDatetime& t) {
  TWStream s{};
  EXPECT_EQ(TWStreamFromDatetime(&s, &t, TWSTREAMFMT_NATIVE), TWSUCCESS);
  std::string text(static_cast<const char*>(s.data), s.length);
  TWStreamDataFree(&s);
  return text;
}

// One run the stand-in knows.
struct StandInRun {
  int32_t number = 0;
  std::string name;
  bool closing = false;
  TWDatetime start{};
};

// Reads scheduler commands on its own thread, records them and answers as the scheduler
// would, on one event pipe: list (4, or 5, 6 per run, 7), status (8), close (14 or 18), kill
// prompt (16 or 17), confirmed kill (15, and the run goes), down (10 or 11), stop (12).
// Trace, refresh and the rest are only recorded. Event 13 is the test's to post.
class SchedulerStandIn {
 public:
  SchedulerStandIn(TWProcPipe* commands, TWProcPipe* events, std::vector<StandInRun> runs = {})
      : commands_(commands), events_(events), runs_(std::move(runs)) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~SchedulerStandIn() {
    stop_ = true;
    thread_.join();
  }
  SchedulerStandIn(const SchedulerStandIn&) = delete;
  SchedulerStandIn& operator=(const SchedulerStandIn&) = delete;

  tw::server::StatusValues status{0x1F2, 15, 30, 60, 20, 4, tw::server::kStateRunning};
  TWDatetime now{4320000, 2450123};

  std::vector<SchedulerCommand> Commands() {
    std::lock_guard<std::mutex> lock(mu_);
    return commands_seen_;
  }
  // Waits (at most five seconds) until n commands were answered.
  bool WaitForCommands(size_t n) {
    return Eventually([&] { return Commands().size() >= n; });
  }

 private:
  void Serve() {
    while (!stop_) {
      if (!TWProcPipePeek(commands_)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      SchedulerCommand c;
      if (tw::server::ReadSchedulerCommand(commands_, &c) != TWSUCCESS) return;
      Answer(c);
      std::lock_guard<std::mutex> lock(mu_);
      commands_seen_.push_back(c);
    }
  }

  StandInRun* Find(int32_t number) {
    for (StandInRun& r : runs_)
      if (r.number == number && number != 0) return &r;
    return nullptr;
  }

  void Post(const ConsoleEvent& e) { EXPECT_EQ(tw::server::PostConsoleEvent(events_, e), 0u); }

  void Answer(const SchedulerCommand& c) {
    using namespace tw::server;
    switch (c.code) {
      case SchedList:
        if (runs_.empty()) {
          Post(Event(EventListEmpty));
          break;
        }
        Post(Event(EventListBegin));
        for (const StandInRun& r : runs_) {
          ConsoleEvent e = Event(EventListLine, r.number, r.name);
          e.closeRequested = r.closing ? 1 : 0;
          e.time = r.start;
          Post(e);
        }
        Post(Event(EventListEnd));
        break;
      case SchedShowStatus: {
        ConsoleEvent e = Event(EventStatus);
        e.status = status;
        e.time = now;
        Post(e);
        break;
      }
      case SchedClose:
        if (StandInRun* r = Find(c.argument)) {
          r->closing = true;
          Post(Event(EventClosing, kReasonUser, r->name));
        } else {
          Post(Event(EventNoRunToClose, c.argument));
        }
        break;
      case SchedKillPrompt:
        if (StandInRun* r = Find(c.argument))
          Post(Event(EventConfirmKill, r->number, r->name));
        else
          Post(Event(EventNoRunToKill, c.argument));
        break;
      case SchedKillConfirmed:
        if (StandInRun* r = Find(c.argument)) {
          Post(Event(EventKilled, kReasonUser, r->name));
          runs_.erase(runs_.begin() + (r - runs_.data()));
        }
        break;
      case SchedDown:
        status.state = kStateShuttingDown;
        Post(Event(runs_.empty() ? EventShutdown : EventWaiting));
        break;
      case SchedStop:
        status.state = kStateStopping;
        Post(Event(EventStopping));
        break;
      default:
        break;
    }
  }

  TWProcPipe* commands_;
  TWProcPipe* events_;
  std::vector<StandInRun> runs_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<SchedulerCommand> commands_seen_;
  std::thread thread_;
};

// The fixture of a thread that talks to the scheduler through pipes: the scheduler command
// pipe, an event pipe of the size the thread's own pipe has, a fake clock while the test
// runs, and the stand-in once StartStandIn made it.
class StandInTest : public ::testing::Test {
 protected:
  explicit StandInTest(uint32_t eventPipeSize)
      : commands_(tw::server::kSchedulerPipeSize),
        events_(eventPipeSize),
        clock_(std::make_unique<FakeClockEnv>()) {
    tw::Env::Set(clock_.get());
  }
  ~StandInTest() override { tw::Env::Set(nullptr); }

  void StartStandIn(std::vector<StandInRun> runs) {
    standIn_ = std::make_unique<SchedulerStandIn>(commands_.get(), events_.get(), std::move(runs));
  }
  std::vector<SchedulerCommand> Commands() { return standIn_->Commands(); }

  ServerInstallation inst_;
  Pipe commands_;
  Pipe events_;
  std::unique_ptr<FakeClockEnv> clock_;
  std::unique_ptr<SchedulerStandIn> standIn_;
};

// A FILE* for writing whose bytes are collected on a thread; Close() ends the collection.
class CapturedOutput {
 public:
  CapturedOutput() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    file_ = ::fdopen(fds[1], "w");
    int fd = fds[0];
    thread_ = std::thread([this, fd] {
      char buf[4096];
      ssize_t n;
      while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        std::lock_guard<std::mutex> lock(mu_);
        text_.append(buf, static_cast<size_t>(n));
      }
      ::close(fd);
    });
  }
  ~CapturedOutput() { Close(); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  FILE* file() const { return file_; }
  std::string text() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mu_);
    return text_.size();
  }
  // Waits (at most five seconds) until more than from bytes have come and answers what came
  // after from once expected's length has arrived (or everything at the time-out).
  std::string After(size_t from, const std::string& expected) {
    Eventually([&] { return size() >= from + expected.size(); });
    std::string all = text();
    return all.size() > from ? all.substr(from) : std::string();
  }
  void Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (thread_.joinable()) thread_.join();
  }

 private:
  FILE* file_ = nullptr;
  std::thread thread_;
  std::mutex mu_;
  std::string text_;
};

}  // namespace twtest

#endif  // TW_TESTS_SERVER_STANDIN_UTIL_H_
