// In-process pipes and threads: whole records in order across the wrap-around and under
// contention, waiting for room and for data, destruction under waiters, and the thread
// handles' create, wait, abandon and sleep.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "env.h"
#include "platform.h"
#include "tw/coding.h"

namespace {

using namespace std::chrono_literals;

struct Pipe {
  TWProcPipe* p = nullptr;
  explicit Pipe(uint32_t size) { EXPECT_EQ(TWProcPipeCreate(size, &p), TWSUCCESS); }
  ~Pipe() {
    if (p != nullptr) {
      EXPECT_EQ(TWProcPipeDestroy(p), TWSUCCESS);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
};

std::vector<unsigned char> record(size_t size, unsigned seed) {
  std::vector<unsigned char> r(size);
  for (size_t i = 0; i < size; ++i) r[i] = static_cast<unsigned char>(seed * 31 + i);
  return r;
}

// Waits up to two seconds for flag to become true.
bool eventually(const std::atomic<bool>& flag) {
  for (int i = 0; i < 400 && !flag.load(); ++i) std::this_thread::sleep_for(5ms);
  return flag.load();
}

TEST(ProcPipe, RefusesWhatCanNeverWork) {
  TWProcPipe* p = nullptr;
  EXPECT_EQ(TWProcPipeCreate(0, &p), TWFAIL_PIPE_CREATE);
  EXPECT_EQ(TWProcPipeCreate(16, nullptr), TWFAIL_PIPE_CREATE);
  EXPECT_EQ(TWProcPipeDestroy(nullptr), TWFAIL_PIPE_DESTROY);

  unsigned char buf[64] = {};
  EXPECT_EQ(TWProcPipeFill(4, buf, nullptr), TWFAIL_PIPE_WRITE);
  EXPECT_EQ(TWProcPipeEmpty(4, buf, nullptr), TWFAIL_PIPE_READ);
  EXPECT_EQ(TWProcPipePeek(nullptr), 0);

  Pipe pipe(32);
  // A record larger than the whole pipe would wait forever.
  EXPECT_EQ(TWProcPipeFill(33, buf, pipe.p), TWFAIL_PIPE_WRITE);
  EXPECT_EQ(TWProcPipeEmpty(33, buf, pipe.p), TWFAIL_PIPE_READ);
  EXPECT_EQ(TWProcPipeFill(4, nullptr, pipe.p), TWFAIL_PIPE_WRITE);
  EXPECT_EQ(TWProcPipeEmpty(4, nullptr, pipe.p), TWFAIL_PIPE_READ);
  EXPECT_EQ(TWProcPipePeek(pipe.p), 0) << "a refused record left bytes behind";
}

// Records pass in order and whole, also where they wrap around the end of the storage.
TEST(ProcPipe, RecordsComeOutWholeAndInOrderAcrossTheWrap) {
  struct Case {
    uint32_t capacity, record, batch;
  } cases[] = {{512, 16, 32}, {8832, 276, 32}, {896, 28, 32}, {7, 3, 2},
               {10, 4, 2},    {5, 5, 1},       {1, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "capacity " << c.capacity << " record " << c.record);
    Pipe pipe(c.capacity);
    unsigned next_in = 0, next_out = 0;
    // Batches of changing length move the oldest byte over every offset of the ring.
    for (uint32_t round = 0; round < 2 * c.capacity / c.record + 7; ++round) {
      uint32_t n = 1 + round % c.batch;
      for (uint32_t i = 0; i < n; ++i) {
        auto r = record(c.record, next_in++);
        ASSERT_EQ(TWProcPipeFill(c.record, r.data(), pipe.p), TWSUCCESS);
      }
      EXPECT_NE(TWProcPipePeek(pipe.p), 0);
      for (uint32_t i = 0; i < n; ++i) {
        std::vector<unsigned char> got(c.record);
        ASSERT_EQ(TWProcPipeEmpty(c.record, got.data(), pipe.p), TWSUCCESS);
        ASSERT_EQ(got, record(c.record, next_out++));
      }
      EXPECT_EQ(TWProcPipePeek(pipe.p), 0);
    }
  }
}

TEST(ProcPipe, FillWaitsForRoom) {
  Pipe pipe(8);
  auto a = record(4, 1), b = record(4, 2), c = record(4, 3);
  ASSERT_EQ(TWProcPipeFill(4, a.data(), pipe.p), TWSUCCESS);
  ASSERT_EQ(TWProcPipeFill(4, b.data(), pipe.p), TWSUCCESS);

  std::atomic<bool> written{false};
  std::thread writer([&] {
    EXPECT_EQ(TWProcPipeFill(4, c.data(), pipe.p), TWSUCCESS);
    written = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(written.load()) << "Fill went on although the pipe was full";
  std::vector<unsigned char> got(4);
  ASSERT_EQ(TWProcPipeEmpty(4, got.data(), pipe.p), TWSUCCESS);
  EXPECT_EQ(got, a);
  EXPECT_TRUE(eventually(written));
  writer.join();
  for (const auto& want : {b, c}) {
    ASSERT_EQ(TWProcPipeEmpty(4, got.data(), pipe.p), TWSUCCESS);
    EXPECT_EQ(got, want);
  }
}

TEST(ProcPipe, EmptyWaitsUntilTheWholeRecordIsThere) {
  Pipe pipe(16);
  auto first = record(4, 5), second = record(4, 6);
  ASSERT_EQ(TWProcPipeFill(4, first.data(), pipe.p), TWSUCCESS);

  std::atomic<bool> read{false};
  std::vector<unsigned char> got(8);
  std::thread reader([&] {
    EXPECT_EQ(TWProcPipeEmpty(8, got.data(), pipe.p), TWSUCCESS);
    read = true;
  });
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(read.load()) << "Empty answered with part of a record";
  ASSERT_EQ(TWProcPipeFill(4, second.data(), pipe.p), TWSUCCESS);
  EXPECT_TRUE(eventually(read));
  reader.join();
  std::vector<unsigned char> want(first);
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(got, want);
}

// The scheduler's command pipe: several threads post 16-byte commands while one reads.
TEST(ProcPipe, ConcurrentWritersNeverTearOrReorderTheirRecords) {
  constexpr int kWriters = 4;
  constexpr uint32_t kPerWriter = 3000;
  Pipe pipe(512);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (uint32_t seq = 0; seq < kPerWriter; ++seq) {
        unsigned char r[16];
        tw::put_u32(r, static_cast<uint32_t>(w));
        tw::put_u32(r + 4, seq);
        tw::put_u32(r + 8, ~seq);
        tw::put_u32(r + 12, seq * 2654435761u + static_cast<uint32_t>(w));
        ASSERT_EQ(TWProcPipeFill(16, r, pipe.p), TWSUCCESS);
      }
    });
  }
  std::vector<uint32_t> next(kWriters, 0);
  for (uint32_t i = 0; i < kWriters * kPerWriter; ++i) {
    unsigned char r[16];
    ASSERT_EQ(TWProcPipeEmpty(16, r, pipe.p), TWSUCCESS);
    uint32_t w = tw::get_u32(r), seq = tw::get_u32(r + 4);
    ASSERT_LT(w, static_cast<uint32_t>(kWriters));
    ASSERT_EQ(seq, next[w]++) << "writer " << w;
    ASSERT_EQ(tw::get_u32(r + 8), ~seq);
    ASSERT_EQ(tw::get_u32(r + 12), seq * 2654435761u + w);
  }
  for (auto& t : writers) t.join();
  EXPECT_EQ(TWProcPipePeek(pipe.p), 0);
}

// A thread still waiting when the pipe goes away is woken with a failure, not left on
// freed memory.
TEST(ProcPipe, DestroyWakesWaitersWithAFailure) {
  struct Case {
    bool reader;
    uint32_t expected;
  } cases[] = {{true, TWFAIL_PIPE_READ}, {false, TWFAIL_PIPE_WRITE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reader ? "reader" : "writer");
    TWProcPipe* p = nullptr;
    ASSERT_EQ(TWProcPipeCreate(4, &p), TWSUCCESS);
    unsigned char buf[4] = {};
    if (!c.reader) {
      ASSERT_EQ(TWProcPipeFill(4, buf, p), TWSUCCESS);
    }
    std::atomic<uint32_t> answer{12345};
    std::thread waiter(
        [&] { answer = c.reader ? TWProcPipeEmpty(4, buf, p) : TWProcPipeFill(4, buf, p); });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(TWProcPipeDestroy(p), TWSUCCESS);
    waiter.join();
    EXPECT_EQ(answer.load(), c.expected);
  }
}

// ---------------------------------------------------------------- threads

uint32_t twice(void* arg) {
  return 2 * static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
}

TEST(Thread, WaitHandsBackTheProcedureResult) {
  for (uint32_t value : {0u, 1u, 0x7FFFFFFFu}) {
    TWProcThread* t = nullptr;
    ASSERT_EQ(TWProcThreadCreate(twice, reinterpret_cast<void*>(uintptr_t{value}), &t), TWSUCCESS);
    uint32_t result = 7;
    ASSERT_EQ(TWProcThreadWait(t, &result), TWSUCCESS);
    EXPECT_EQ(result, 2 * value);
  }
  TWProcThread* t = nullptr;
  ASSERT_EQ(TWProcThreadCreate(twice, nullptr, &t), TWSUCCESS);
  EXPECT_EQ(TWProcThreadWait(t, nullptr), TWSUCCESS) << "the result is optional";
}

TEST(Thread, RefusesNullArguments) {
  TWProcThread* t = nullptr;
  EXPECT_EQ(TWProcThreadCreate(nullptr, nullptr, &t), TWFAIL_THREAD_CREATE);
  EXPECT_EQ(TWProcThreadCreate(twice, nullptr, nullptr), TWFAIL_THREAD_CREATE);
  EXPECT_EQ(TWProcThreadWait(nullptr, nullptr), TWFAIL_THREAD_WAIT);
  EXPECT_EQ(TWProcThreadKill(nullptr), TWFAIL_THREAD_KILL);
}

// An exception out of a procedure would end the whole process.
TEST(Thread, AnExceptionFromTheProcedureBecomesProgramFailure) {
  TWProcThread* t = nullptr;
  ASSERT_EQ(
      TWProcThreadCreate([](void*) -> uint32_t { throw std::runtime_error("x"); }, nullptr, &t),
      TWSUCCESS);
  uint32_t result = 0;
  ASSERT_EQ(TWProcThreadWait(t, &result), TWSUCCESS);
  EXPECT_EQ(result, TWFAIL_PROGRAM);
}

uint32_t wait_for_self(void* pipe) {
  TWProcThread* self = nullptr;
  if (TWProcPipeEmpty(sizeof self, &self, static_cast<TWProcPipe*>(pipe)) != TWSUCCESS) return 1;
  return TWProcThreadWait(self, nullptr);
}

// A thread handed its own handle through a pipe tries to wait for itself.
TEST(Thread, AThreadCannotWaitForItself) {
  Pipe pipe(sizeof(TWProcThread*));
  TWProcThread* t = nullptr;
  ASSERT_EQ(TWProcThreadCreate(wait_for_self, pipe.p, &t), TWSUCCESS);
  ASSERT_EQ(TWProcPipeFill(sizeof t, &t, pipe.p), TWSUCCESS);
  uint32_t result = 0;
  ASSERT_EQ(TWProcThreadWait(t, &result), TWSUCCESS);
  EXPECT_EQ(result, TWFAIL_THREAD_WAIT);
}

// A procedure that blocks until a byte arrives on its pipe, then raises a flag.
struct Blocked {
  Pipe gate{1};
  std::atomic<bool> finished{false};
  static uint32_t run(void* arg) {
    auto* self = static_cast<Blocked*>(arg);
    unsigned char byte;
    if (TWProcPipeEmpty(1, &byte, self->gate.p) != TWSUCCESS) return 1;
    self->finished = true;
    return 42;
  }
  void release() {
    unsigned char byte = 1;
    ASSERT_EQ(TWProcPipeFill(1, &byte, gate.p), TWSUCCESS);
  }
};

// Kill cannot stop a thread safely: it abandons it, and the thread runs to its end.
TEST(Thread, KillAbandonsTheThreadWhichRunsOnDetached) {
  Blocked blocked;
  TWProcThread* t = nullptr;
  ASSERT_EQ(TWProcThreadCreate(Blocked::run, &blocked, &t), TWSUCCESS);
  EXPECT_EQ(TWProcThreadKill(t), TWSUCCESS);
  EXPECT_EQ(TWProcThreadWait(t, nullptr), TWFAIL_THREAD_WAIT)
      << "an abandoned thread was waited for";
  EXPECT_EQ(TWProcThreadKill(t), TWFAIL_THREAD_KILL);
  blocked.release();
  // The flag is the procedure's last touch of `blocked`, so it may go out of scope then.
  EXPECT_TRUE(eventually(blocked.finished));
}

// A signal handler kills the threads that the main thread is waiting for at that moment.
TEST(Thread, KillDuringAWaitLeavesTheHandleToTheWaiter) {
  Blocked blocked;
  TWProcThread* t = nullptr;
  ASSERT_EQ(TWProcThreadCreate(Blocked::run, &blocked, &t), TWSUCCESS);
  std::atomic<uint32_t> waited{12345};
  uint32_t result = 0;
  std::thread waiter([&] { waited = TWProcThreadWait(t, &result); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(TWProcThreadKill(t), TWSUCCESS);
  blocked.release();
  waiter.join();
  EXPECT_EQ(waited.load(), TWSUCCESS);
  EXPECT_EQ(result, 42u);
}

class SleepRecorder : public tw::EnvWrapper {
 public:
  SleepRecorder() : EnvWrapper(tw::Env::Default()) {}
  void SleepMicros(int64_t micros) override { slept.push_back(micros); }
  std::vector<int64_t> slept;
};

// The timer thread's sleeps can be taken over by a test's Env.
TEST(Thread, SleepsGoThroughTheEnvironment) {
  SleepRecorder recorder;
  tw::Env::Set(&recorder);
  uint32_t st = TWProcThreadSleep(7);
  uint32_t st_max = TWProcThreadSleep(UINT32_MAX);
  TWKeyboardSleep();
  tw::Env::Set(nullptr);
  EXPECT_EQ(st, TWSUCCESS);
  EXPECT_EQ(st_max, TWSUCCESS);
  EXPECT_EQ(recorder.slept, (std::vector<int64_t>{7000000, int64_t{UINT32_MAX} * 1000000, 100000}));

  auto start = std::chrono::steady_clock::now();
  TWKeyboardSleep();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 80ms);
  EXPECT_EQ(TWProcThreadSleep(0), TWSUCCESS);
}

}  // namespace
