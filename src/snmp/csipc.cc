// CSIPC over Unix-domain stream sockets. The design's named events become socket readiness:
// "signal" is a zero-length frame, "wait" is a poll with the time-out, a hang-up is -8.
#include "csipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rundir.h"
#include "socket_io.h"
#include "tw/coding.h"

namespace tw::snmp {
namespace {

constexpr int kDefaultIoTimeoutMs = 5000;
constexpr uint32_t kMaxEventName = 260;
constexpr uint32_t kMaxClientName = 256;
std::atomic<int> g_io_timeout_ms{kDefaultIoTimeoutMs};
std::atomic<uint32_t> g_next_id{1};

uint32_t NextId() {
  // 0 once the counter has run out: ids then no longer tell objects apart.
  uint32_t id = g_next_id.load();
  while (id != 0 && !g_next_id.compare_exchange_weak(id, id >= 0xFFFF ? 0 : id + 1)) {
  }
  return id;
}

bool SocketPaths(const std::string& service, bool create, std::string* sock, std::string* lock) {
  // The installation's rule for pipe names (at most 32 characters) keeps the socket's
  // path within its limit.
  if (!tw::valid_object_name(service)) return false;
  std::string dir = tw::run_dir(create);
  if (dir.empty()) return false;
  *sock = dir + service + ".agent";
  *lock = dir + service + ".agentlock";
  return sock->size() < sizeof(sockaddr_un::sun_path);
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

// A name received in a frame, cut at its first NUL: the peer's terminator is not trusted.
std::string Name(const std::string& frame) {
  return frame.substr(0, std::strlen(frame.c_str()));
}

}  // namespace

CSIPC::CSIPC(Role role, int fd) : role_(role), fd_(fd), id_(NextId()) {}

CSIPC::~CSIPC() {
  if (fd_ >= 0) ::close(fd_);
  if (role_ == kService && !path_.empty()) ::unlink(path_.c_str());
  // The names go while the lock is held, so they are never a new owner's.
  if (lockFd_ >= 0 && !lockPath_.empty()) ::unlink(lockPath_.c_str());
  if (lockFd_ >= 0) {
    ::close(lockFd_);
    // The run directory goes with the last of its files.
    tw::remove_run_dir();
  }
}

void CSIPC::SetIoTimeoutMillis(int millis) {
  g_io_timeout_ms.store(millis > 0 ? millis : kDefaultIoTimeoutMs);
}

std::unique_ptr<CSIPC> CSIPC::Advertise(const std::string& service, int* status) {
  *status = kLinkBadArgument;
  std::string sock, lock;
  if (!SocketPaths(service, true, &sock, &lock)) return nullptr;
  int lockFd = tw::lock_owner(lock);
  if (lockFd < 0) return nullptr;
  // Holding the lock, a socket file left at the path is a dead service's.
  ::unlink(sock.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr = Address(sock);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(sock.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
    if (fd >= 0) ::close(fd);
    ::close(lockFd);
    return nullptr;
  }
  std::unique_ptr<CSIPC> p(new CSIPC(kService, fd));
  p->lockFd_ = lockFd;
  p->path_ = sock;
  p->lockPath_ = lock;
  *status = 0;
  return p;
}

std::unique_ptr<CSIPC> CSIPC::Attach(const std::string& service, const std::string& client,
                                     int* status) {
  *status = kLinkBadArgument;
  std::string sock, lock;
  if (client.empty() || client.size() >= kMaxClientName ||
      !SocketPaths(service, false, &sock, &lock)) {
    // No run directory yet means nobody serves.
    if (!client.empty() && client.size() < kMaxClientName && tw::valid_object_name(service))
      *status = kLinkDown;
    return nullptr;
  }
  *status = kLinkDown;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  std::unique_ptr<CSIPC> p(new CSIPC(kClient, fd));
  sockaddr_un addr = Address(sock);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS && errno != EAGAIN) return nullptr;
    int err = 0;
    socklen_t len = sizeof err;
    if (!tw::WaitSocket(fd, POLLOUT, tw::IoDeadline::After(g_io_timeout_ms.load())) ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
      return nullptr;
  }
  if (p->ClientHandshake(client) != 0) return nullptr;
  *status = 0;
  return p;
}

int CSIPC::ClientHandshake(const std::string& client) {
  std::string frame;
  if (Send(std::string_view(client.c_str(), client.size() + 1)) < 0) return kLinkDown;
  if (Receive(&frame, kMaxEventName) <= 0 || Name(frame).empty()) return kLinkDown;
  if (Send({}) != 0) return kLinkDown;  // signals the first event
  if (Receive(&frame, kMaxEventName) <= 0 || Name(frame).empty()) return kLinkDown;
  if (Receive(&frame, 0) != 0) return kLinkDown;  // the second event, signalled
  return 0;
}

std::unique_ptr<CSIPC> CSIPC::Accept(int* status) {
  *status = kLinkBadArgument;
  if (role_ != kService) return nullptr;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    *status = errno == EAGAIN || errno == EWOULDBLOCK ? kLinkTimeout : kLinkDown;
    return nullptr;
  }
  std::unique_ptr<CSIPC> p(new CSIPC(kAccepted, fd));
  *status = p->ServiceHandshake();
  if (*status != 0) return nullptr;
  return p;
}

int CSIPC::ServiceHandshake() {
  std::string frame;
  if (Receive(&frame, kMaxClientName) <= 0) return kLinkDown;
  peer_ = Name(frame);
  char first[64], second[64];
  std::snprintf(first, sizeof first, "%s[%lx]", "OVIPC_SERVSEM", static_cast<unsigned long>(id_));
  std::snprintf(second, sizeof second, "%s[%lx]", "OVIPC_CLIENTSEM",
                static_cast<unsigned long>(id_));
  if (Send(std::string_view(first, std::strlen(first) + 1)) < 0) return kLinkDown;
  if (Receive(&frame, 0) != 0) return kLinkDown;  // the client signalled the first event
  if (Send(std::string_view(second, std::strlen(second) + 1)) < 0) return kLinkDown;
  if (Send({}) != 0) return kLinkDown;  // signals the second
  return 0;
}

bool CSIPC::RecvExact(char* dst, size_t n) {
  return tw::RecvExact(fd_, reinterpret_cast<unsigned char*>(dst), n,
                       tw::IoDeadline::After(g_io_timeout_ms.load()));
}

bool CSIPC::SendAll(const char* src, size_t n) {
  return tw::SendAll(fd_, reinterpret_cast<const unsigned char*>(src), n,
                     tw::IoDeadline::After(g_io_timeout_ms.load()));
}

int CSIPC::Send(std::string_view data) {
  if (role_ == kService || fd_ < 0) return kLinkBadArgument;
  if (data.size() > kMaxFrame) return kLinkBadArgument;
  char frame[4 + kMaxFrame];
  put_u32(frame, static_cast<uint32_t>(data.size()));
  if (!data.empty()) std::memcpy(frame + 4, data.data(), data.size());
  if (!SendAll(frame, 4 + data.size())) return kLinkDown;
  return static_cast<int>(data.size());
}

int CSIPC::Receive(std::string* out, uint32_t max) {
  if (role_ == kService || fd_ < 0) return kLinkBadArgument;
  char head[4];
  if (!RecvExact(head, sizeof head)) return kLinkDown;
  uint32_t length = get_u32(head);
  // A frame longer than allowed cannot be skipped safely: what follows is no longer known
  // to start a frame, so the link is given up.
  if (length > kMaxFrame || length > max) return kLinkDown;
  out->resize(length);
  if (length > 0 && !RecvExact(out->data(), length)) return kLinkDown;
  return static_cast<int>(length);
}

int CSIPC::Wait(int timeoutMs) {
  if (fd_ < 0) return kLinkDown;
  tw::IoDeadline deadline =
      timeoutMs < 0 ? tw::IoDeadline::None() : tw::IoDeadline::After(timeoutMs);
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    int n = ::poll(&p, 1, deadline.poll_timeout());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (p.revents & POLLNVAL)) return kLinkDown;
    if (n == 0) return kLinkTimeout;
    if (role_ == kService) return (p.revents & POLLIN) ? 1 : kLinkDown;
    char byte;
    ssize_t got = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got > 0) return 1;
    if (got == 0) return kLinkDown;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return kLinkDown;
  }
}

int CSIPC::Poll() {
  int r = Wait(0);
  return r == kLinkTimeout ? 0 : r;
}

}  // namespace tw::snmp
