// Threads, thread sleeps and the idle wait of the polling loops.
//
// A thread cannot be ended safely from outside (it may hold a lock or be inside a library),
// so TWProcThreadKill abandons it: the handle is released, the thread runs on detached and
// its result is dropped. Its only caller is a process on its way out. A Kill that arrives
// while another thread waits for the same thread leaves the handle to that waiter.
//
// Sleeps go through tw::Env, so a test that installs its own Env decides how long they last.
#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "env.h"
#include "platform.h"
#include "tw/guard.h"

struct TWProcThread {
  std::thread thread;
  // Shared with the running thread, which may outlive the handle once abandoned.
  std::shared_ptr<std::atomic<uint32_t>> result;
  bool waiting = false;  // guarded by the registry's mutex
};

namespace {

// Live handles: a Kill that races with the end of a Wait on the same handle (a signal
// handler's clean-up against the main thread) finds the handle gone instead of freed memory.
struct Registry {
  std::mutex mu;
  std::unordered_set<TWProcThread*> live;
};
Registry& registry() {
  static auto* r = new Registry;  // never destroyed: detached threads may outlive main
  return *r;
}

}  // namespace

extern "C" {

TW_API uint32_t TWProcThreadCreate(TWProcThreadProc procedure, void* argument,
                                   TWProcThread** thread) {
  return tw::guard([&]() -> uint32_t {
    if (procedure == nullptr || thread == nullptr) return TWFAIL_THREAD_CREATE;
    auto handle = std::make_unique<TWProcThread>();
    handle->result = std::make_shared<std::atomic<uint32_t>>(0);
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    r.live.reserve(r.live.size() + 1);  // so that the insert below cannot fail
    try {
      handle->thread = std::thread([procedure, argument, result = handle->result] {
        uint32_t answer;
        try {
          answer = procedure(argument);
        } catch (...) {
          answer = TWFAIL_PROGRAM;  // an exception must not end the process
        }
        result->store(answer);
      });
    } catch (const std::system_error&) {
      return TWFAIL_THREAD_CREATE;
    }
    r.live.insert(handle.get());
    *thread = handle.release();
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcThreadWait(TWProcThread* thread, uint32_t* result) {
  return tw::guard([&]() -> uint32_t {
    auto& r = registry();
    {
      std::lock_guard<std::mutex> lock(r.mu);
      if (thread == nullptr || r.live.count(thread) == 0 || thread->waiting ||
          thread->thread.get_id() == std::this_thread::get_id())
        return TWFAIL_THREAD_WAIT;
      thread->waiting = true;
    }
    // Nobody else touches the std::thread while waiting is set: Kill only unlists.
    try {
      thread->thread.join();
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(r.mu);
      thread->waiting = false;
      return TWFAIL_THREAD_WAIT;
    }
    if (result != nullptr) *result = thread->result->load();
    {
      std::lock_guard<std::mutex> lock(r.mu);
      r.live.erase(thread);
    }
    delete thread;
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcThreadKill(TWProcThread* thread) {
  return tw::guard([&]() -> uint32_t {
    auto& r = registry();
    std::unique_lock<std::mutex> lock(r.mu);
    if (thread == nullptr || r.live.count(thread) == 0) return TWFAIL_THREAD_KILL;
    // A waiter owns the handle now and frees it when the thread ends.
    if (thread->waiting) return TWSUCCESS;
    r.live.erase(thread);
    lock.unlock();
    thread->thread.detach();
    delete thread;
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcThreadSleep(uint32_t seconds) {
  return tw::guard([&]() -> uint32_t {
    tw::Env::Default()->SleepMicros(static_cast<int64_t>(seconds) * 1000000);
    return TWSUCCESS;
  });
}

TW_API void TWKeyboardSleep(void) {
  // Nothing to answer; the guard only keeps exceptions in.
  (void)tw::guard([] {
    tw::Env::Default()->SleepMicros(100000);
    return TWSUCCESS;
  });
}

}  // extern "C"
