// In-process pipes: bounded byte queues between threads; a record goes in and comes out
// whole.
//
// A record is appended under the lock only when all of it fits, so a reader that takes
// records of the size the writers write never sees a torn one. TWProcPipeDestroy wakes any
// thread still waiting in Fill or Empty (they answer 521 or 522) and frees the pipe once
// they have left; a call that starts after Destroy is the caller's fault.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform.h"
#include "tw/guard.h"

struct TWProcPipe {
  std::mutex mu;
  std::condition_variable not_empty;  // bytes arrived
  std::condition_variable not_full;   // room freed
  std::condition_variable left;       // a waiter left during destruction
  std::vector<unsigned char> ring;
  size_t head = 0;  // the oldest byte
  size_t count = 0;
  int waiters = 0;
  bool destroying = false;

  explicit TWProcPipe(size_t capacity) : ring(capacity) {}
  size_t capacity() const { return ring.size(); }
};

namespace {

// Waits on cv until ready() or destruction; false when the pipe is being destroyed.
template <class Ready>
bool wait_for(TWProcPipe& p, std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
              Ready ready) {
  ++p.waiters;
  cv.wait(lock, [&] { return p.destroying || ready(); });
  --p.waiters;
  if (p.destroying) {
    p.left.notify_all();
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

TW_API uint32_t TWProcPipeCreate(uint32_t sizeInBytes, TWProcPipe** pipe) {
  return tw::guard([&]() -> uint32_t {
    if (pipe == nullptr || sizeInBytes == 0) return TWFAIL_PIPE_CREATE;
    *pipe = new TWProcPipe(sizeInBytes);
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcPipeDestroy(TWProcPipe* pipe) {
  return tw::guard([&]() -> uint32_t {
    if (pipe == nullptr) return TWFAIL_PIPE_DESTROY;
    {
      std::unique_lock<std::mutex> lock(pipe->mu);
      if (pipe->destroying) return TWFAIL_PIPE_DESTROY;
      pipe->destroying = true;
      pipe->not_empty.notify_all();
      pipe->not_full.notify_all();
      pipe->left.wait(lock, [&] { return pipe->waiters == 0; });
    }
    delete pipe;
    return TWSUCCESS;
  });
}

TW_API uint32_t TWProcPipeFill(uint32_t recordSize, const void* record, TWProcPipe* pipe) {
  return tw::guard([&]() -> uint32_t {
    if (pipe == nullptr || (record == nullptr && recordSize > 0)) return TWFAIL_PIPE_WRITE;
    std::unique_lock<std::mutex> lock(pipe->mu);
    size_t cap = pipe->capacity();
    if (recordSize > cap || pipe->destroying) return TWFAIL_PIPE_WRITE;
    if (!wait_for(*pipe, lock, pipe->not_full, [&] { return cap - pipe->count >= recordSize; }))
      return TWFAIL_PIPE_WRITE;
    const auto* src = static_cast<const unsigned char*>(record);
    size_t tail = (pipe->head + pipe->count) % cap;
    size_t first = std::min<size_t>(recordSize, cap - tail);
    if (first > 0) std::memcpy(pipe->ring.data() + tail, src, first);
    if (recordSize > first) std::memcpy(pipe->ring.data(), src + first, recordSize - first);
    pipe->count += recordSize;
    if (recordSize > 0) pipe->not_empty.notify_all();
    return TWSUCCESS;
  });
}

TW_API int TWProcPipePeek(TWProcPipe* pipe) {
  return tw::guard_value(0, [&] {
    if (pipe == nullptr) return 0;
    std::lock_guard<std::mutex> lock(pipe->mu);
    return pipe->count > 0 && !pipe->destroying ? 1 : 0;
  });
}

TW_API uint32_t TWProcPipeEmpty(uint32_t recordSize, void* buffer, TWProcPipe* pipe) {
  return tw::guard([&]() -> uint32_t {
    if (pipe == nullptr || (buffer == nullptr && recordSize > 0)) return TWFAIL_PIPE_READ;
    std::unique_lock<std::mutex> lock(pipe->mu);
    size_t cap = pipe->capacity();
    if (recordSize > cap || pipe->destroying) return TWFAIL_PIPE_READ;
    if (!wait_for(*pipe, lock, pipe->not_empty, [&] { return pipe->count >= recordSize; }))
      return TWFAIL_PIPE_READ;
    auto* dst = static_cast<unsigned char*>(buffer);
    size_t first = std::min<size_t>(recordSize, cap - pipe->head);
    if (first > 0) std::memcpy(dst, pipe->ring.data() + pipe->head, first);
    if (recordSize > first) std::memcpy(dst + first, pipe->ring.data(), recordSize - first);
    pipe->head = (pipe->head + recordSize) % cap;
    pipe->count -= recordSize;
    if (recordSize > 0) pipe->not_full.notify_all();
    return TWSUCCESS;
  });
}

}  // extern "C"
