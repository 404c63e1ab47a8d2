// Whole reads and writes on non-blocking stream sockets within a deadline.
#include "socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace tw {

using Clock = std::chrono::steady_clock;

IoDeadline IoDeadline::After(int millis) {
  return {true, Clock::now() + std::chrono::milliseconds(millis)};
}

int IoDeadline::poll_timeout() const {
  if (!bounded) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

bool WaitSocket(int fd, short events, const IoDeadline& deadline,
                const std::atomic<bool>* closed) {
  for (;;) {
    if (closed != nullptr && closed->load()) return false;
    pollfd p{fd, events, 0};
    int timeout = deadline.poll_timeout();
    int n = ::poll(&p, 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      if (timeout == 0) return false;
      continue;
    }
    if (p.revents & POLLNVAL) return false;
    // POLLHUP or POLLERR with POLLIN still lets a read see the end of stream or the error.
    return true;
  }
}

bool RecvExact(int fd, unsigned char* dst, size_t n, const IoDeadline& deadline,
               const std::atomic<bool>* closed) {
  while (n > 0) {
    ssize_t got = ::recv(fd, dst, n, MSG_DONTWAIT);
    if (got > 0) {
      dst += got;
      n -= static_cast<size_t>(got);
      continue;
    }
    if (got == 0) return false;  // the peer closed inside a message
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!WaitSocket(fd, POLLIN, deadline, closed)) return false;
  }
  return true;
}

bool SendAll(int fd, const unsigned char* src, size_t n, const IoDeadline& deadline,
             const std::atomic<bool>* closed) {
  while (n > 0) {
    ssize_t sent = ::send(fd, src, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0) {
      src += sent;
      n -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!WaitSocket(fd, POLLOUT, deadline, closed)) return false;
  }
  return true;
}

}  // namespace tw
