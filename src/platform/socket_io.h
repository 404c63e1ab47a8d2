// Whole reads and writes on a non-blocking stream socket within a deadline: the one place
// where the named pipes and other socket links of the system wait for a peer.
#ifndef TW_PLATFORM_SOCKET_IO_H_
#define TW_PLATFORM_SOCKET_IO_H_

#include <atomic>
#include <chrono>
#include <cstddef>

namespace tw {

// The end of one call's patience; unbounded waits as long as it takes.
struct __attribute__((visibility("default"))) IoDeadline {
  bool bounded = false;
  std::chrono::steady_clock::time_point at{};
  static IoDeadline After(int millis);
  static IoDeadline None() { return {}; }
  // The poll time-out that is left: -1 unbounded, 0 once passed.
  int poll_timeout() const;
};

// Waits until fd is ready for events; false on time-out, poll failure, an invalid descriptor,
// or when closed (may be null) turns true. A hang-up or error counts as ready: the next read
// or write sees it.
__attribute__((visibility("default"))) bool WaitSocket(int fd, short events,
                                                       const IoDeadline& deadline,
                                                       const std::atomic<bool>* closed = nullptr);
// Reads exactly n bytes; false when the peer closed first, on an error, or past the deadline.
__attribute__((visibility("default"))) bool RecvExact(int fd, unsigned char* dst, size_t n,
                                                      const IoDeadline& deadline,
                                                      const std::atomic<bool>* closed = nullptr);
// Writes all n bytes (never raising SIGPIPE); false on an error or past the deadline.
__attribute__((visibility("default"))) bool SendAll(int fd, const unsigned char* src, size_t n,
                                                    const IoDeadline& deadline,
                                                    const std::atomic<bool>* closed = nullptr);

}  // namespace tw

#endif  // TW_PLATFORM_SOCKET_IO_H_
