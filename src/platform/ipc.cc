// Named pipes: Unix-domain stream sockets in the installation's private run directory,
// carrying messages framed by the little-endian Length word at offset 4.
//
// A pipe "NAME" is the socket NAME.sock beside the lock file NAME.lock; the server holds
// the owner lock while it serves, and the ready lock from the moment its socket listens
// under its name, so TWIPCExists asks the ready lock and never connects. Handles are
// heap objects listed in a registry: a call on a handle that is not (or no longer) listed
// fails instead of touching freed memory, and TWIPCShutdown, TWIPCDisconnect or TWIPCClose
// from one thread (a signal handler's clean-up) while another waits on the same handle
// wakes that thread; the object is freed when the last call using it has returned. Apart
// from that, a handle is used by one thread at a time.
//
// Reading: a message is delivered in pieces of at most `room` bytes; `more` says that bytes
// of it remain. A Length below 8 or above TWIPC_MAX_MESSAGE, an end of stream inside a
// message, or a server-side connection whose client stays silent (or stops reading) longer
// than the server time-out fails the call and every later read or write of that connection;
// the server then disconnects it and goes on serving others. Client connections wait for the
// server as long as it takes. The "NW" variants behave like the others: a connection never
// waits longer than described here.
#include "ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform.h"
#include "rundir.h"
#include "socket_io.h"
#include "tw/coding.h"
#include "tw/guard.h"

namespace {

constexpr int kDefaultServerTimeoutMs = 5000;
constexpr uint32_t kHeaderSize = 8;
std::atomic<int> g_server_timeout_ms{kDefaultServerTimeoutMs};

enum class Kind { server, accepted, client };

}  // namespace

struct TWIPC {
  Kind kind;
  int fd = -1;
  std::atomic<bool> closed{false};
  int users = 0;  // calls in progress; guarded by the registry's mutex

  // Server: the lock that makes it the owner, and the names to remove at shutdown.
  int lock_fd = -1;
  std::string sock_path;
  std::string lock_path;

  // Connection: the message being read.
  unsigned char head[kHeaderSize] = {};
  uint32_t length = 0;  // of the current message; 0 between messages
  uint32_t delivered = 0;
  bool broken = false;

  TWIPC(Kind k, int descriptor) : kind(k), fd(descriptor) {}
  ~TWIPC() {
    if (fd >= 0) ::close(fd);
    if (lock_fd >= 0) ::close(lock_fd);
  }
  TWIPC(const TWIPC&) = delete;
  TWIPC& operator=(const TWIPC&) = delete;
};

namespace {

struct Registry {
  std::mutex mu;
  std::unordered_set<TWIPC*> live;
};
// Never destroyed: a thread may still end a connection while the process exits.
Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

// Lists a new handle; closes the descriptor when that fails.
TWIPC* enlist(Kind kind, int fd) {
  std::unique_ptr<TWIPC> h;
  try {
    h = std::make_unique<TWIPC>(kind, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  auto& r = registry();
  std::lock_guard<std::mutex> lock(r.mu);
  r.live.insert(h.get());
  return h.release();
}

// Keeps a listed handle alive for the duration of one call.
class Pin {
 public:
  explicit Pin(TWIPC* h) {
    if (h == nullptr) return;
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mu);
    if (r.live.count(h) == 0) return;
    ++h->users;
    h_ = h;
  }
  ~Pin() {
    if (h_ == nullptr) return;
    bool free_it;
    {
      auto& r = registry();
      std::lock_guard<std::mutex> lock(r.mu);
      free_it = --h_->users == 0 && h_->closed.load();
    }
    if (free_it) delete h_;
  }
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  TWIPC* operator->() const { return h_; }
  TWIPC& operator*() const { return *h_; }
  explicit operator bool() const { return h_ != nullptr; }
  bool is_connection() const { return h_ != nullptr && h_->kind != Kind::server; }
  bool is_server() const { return h_ != nullptr && h_->kind == Kind::server; }

 private:
  TWIPC* h_ = nullptr;
};

// Takes a pinned handle off the registry: no new call reaches it, calls in progress are
// woken, and the last of them frees it. False when another thread retired it first.
bool retire(TWIPC* h) {
  auto& r = registry();
  {
    std::lock_guard<std::mutex> lock(r.mu);
    if (r.live.erase(h) == 0) return false;
    h->closed.store(true);
  }
  // Wakes a thread blocked in poll on this socket; the descriptor itself is closed only
  // when nobody uses it any more, so its number cannot be reused under a waiting call.
  ::shutdown(h->fd, SHUT_RDWR);
  return true;
}

struct Paths {
  std::string sock;
  std::string lock;
  std::string bound;  // where the socket listens before it takes its name
};

bool pipe_paths(const char* name, bool create, Paths* out) {
  if (name == nullptr || !tw::valid_object_name(name)) return false;
  std::string dir = tw::run_dir(create);
  if (dir.empty()) return false;
  out->sock = dir + name + ".sock";
  out->lock = dir + name + ".lock";
  out->bound = dir + name + ".new";
  return out->sock.size() < sizeof(sockaddr_un::sun_path);
}

bool is_socket(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

sockaddr_un socket_address(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

// The end of one call's patience: none for a client, the server time-out for a connection
// that a server accepted.
tw::IoDeadline DeadlineFor(const TWIPC& h) {
  if (h.kind != Kind::accepted) return tw::IoDeadline::None();
  return tw::IoDeadline::After(g_server_timeout_ms.load());
}

bool recv_exact(const TWIPC& h, unsigned char* dst, size_t n, const tw::IoDeadline& deadline) {
  return tw::RecvExact(h.fd, dst, n, deadline, &h.closed);
}

bool send_all(const TWIPC& h, const unsigned char* src, size_t n, const tw::IoDeadline& deadline) {
  return tw::SendAll(h.fd, src, n, deadline, &h.closed);
}

int read_message(TWIPC* conn, void* buffer, uint32_t room, uint32_t* bytesRead, int* more) {
  Pin h(conn);
  if (!h.is_connection() || h->broken || h->closed.load()) return 0;
  if (buffer == nullptr && room > 0) return 0;
  tw::IoDeadline deadline = DeadlineFor(*h);
  auto fail = [&] {
    h->broken = true;
    return 0;
  };
  if (h->length == 0) {
    if (!recv_exact(*h, h->head, kHeaderSize, deadline)) return fail();
    uint32_t length = tw::get_u32(h->head + 4);
    if (length < kHeaderSize || length > TWIPC_MAX_MESSAGE) return fail();
    h->length = length;
    h->delivered = 0;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  uint32_t n = std::min(room, h->length - h->delivered);
  uint32_t from_head = 0;
  if (h->delivered < kHeaderSize && n > 0) {
    from_head = std::min(n, kHeaderSize - h->delivered);
    std::memcpy(out, h->head + h->delivered, from_head);
  }
  if (n > from_head && !recv_exact(*h, out + from_head, n - from_head, deadline)) return fail();
  h->delivered += n;
  bool remaining = h->delivered < h->length;
  if (!remaining) h->length = h->delivered = 0;
  if (bytesRead != nullptr) *bytesRead = n;
  if (more != nullptr) *more = remaining ? 1 : 0;
  return 1;
}

int write_block(TWIPC* conn, const void* block, uint32_t length, uint32_t* written) {
  Pin h(conn);
  if (!h.is_connection() || h->broken || h->closed.load()) return 0;
  if (block == nullptr && length > 0) return 0;
  if (!send_all(*h, static_cast<const unsigned char*>(block), length, DeadlineFor(*h))) {
    h->broken = true;
    return 0;
  }
  if (written != nullptr) *written = length;
  return 1;
}

TWIPC* accept_one(TWIPC* pipe, bool wait) {
  Pin h(pipe);
  if (!h.is_server()) return nullptr;
  for (;;) {
    if (h->closed.load()) return nullptr;
    int fd = ::accept4(h->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) return enlist(Kind::accepted, fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return nullptr;
    if (!wait) return nullptr;
    pollfd p{h->fd, POLLIN, 0};
    int n = ::poll(&p, 1, -1);
    if (n < 0 && errno != EINTR) return nullptr;
    // A listening socket reports a hang-up only after TWIPCShutdown.
    if (n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return nullptr;
  }
}

int end_connection(TWIPC* conn) {
  Pin h(conn);
  if (!h.is_connection()) return 0;
  return retire(conn) ? 1 : 0;
}

}  // namespace

namespace tw {

void SetIpcServerTimeoutMillis(int millis) {
  g_server_timeout_ms.store(millis > 0 ? millis : kDefaultServerTimeoutMs);
}

int IpcPeerProcessId(TWIPC* conn) {
  return tw::guard_value(0, [&] {
    Pin h(conn);
    if (!h || h->kind != Kind::accepted || h->closed.load()) return 0;
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(h->fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred)
      return 0;
    return cred.pid > 0 ? static_cast<int>(cred.pid) : 0;
  });
}

}  // namespace tw

extern "C" {

// The lock answers at once; timeoutSeconds is not needed, since a serving socket accepts
// (into its backlog) even while the server is busy. The ready lock comes last in the making
// of a pipe: a new server holds its owner lock while the socket file of a killed one is
// still there, and that socket listens for nobody.
TW_API int TWIPCExists(const char* name, uint32_t timeoutSeconds) {
  return tw::guard_value(0, [&] {
    Paths paths;
    if (!pipe_paths(name, false, &paths)) return 0;
    return tw::ready_lock_held(paths.lock) && is_socket(paths.sock) ? 1 : 0;
  });
}

TW_API TWIPC* TWIPCCreate(const char* name) {
  return tw::guard_value<TWIPC*>(nullptr, [&]() -> TWIPC* {
    Paths paths;
    int lock_fd = -1;
    for (int attempt = 1; lock_fd < 0; ++attempt) {
      if (!pipe_paths(name, true, &paths)) return nullptr;
      lock_fd = tw::lock_owner(paths.lock);
      // The empty run directory went between its making and the lock's.
      if (lock_fd < 0 && (errno != ENOENT || attempt == tw::kRunDirAttempts)) return nullptr;
    }
    auto give_up = [&] {
      ::unlink(paths.lock.c_str());
      ::close(lock_fd);
      return nullptr;
    };
    // Socket files left by a server that died: the lock says nobody serves them.
    ::unlink(paths.sock.c_str());
    ::unlink(paths.bound.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return give_up();
    // The socket listens before it takes its name, so that a client that finds the pipe
    // served (the ready lock held and the name there) can connect at once.
    sockaddr_un addr = socket_address(paths.bound);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(paths.bound.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::rename(paths.bound.c_str(), paths.sock.c_str()) != 0) {
      ::close(fd);
      ::unlink(paths.bound.c_str());
      return give_up();
    }
    if (!tw::mark_ready(lock_fd)) {
      ::close(fd);
      ::unlink(paths.sock.c_str());
      return give_up();
    }
    TWIPC* pipe;
    try {
      pipe = enlist(Kind::server, fd);
    } catch (...) {
      ::unlink(paths.sock.c_str());
      give_up();
      throw;
    }
    pipe->lock_fd = lock_fd;
    pipe->sock_path = std::move(paths.sock);
    pipe->lock_path = std::move(paths.lock);
    return pipe;
  });
}

TW_API TWIPC* TWIPCWaitForConnection(TWIPC* pipe) {
  return tw::guard_value<TWIPC*>(nullptr, [&] { return accept_one(pipe, true); });
}

// The listening socket never blocks; these only confirm that pipe is a serving pipe.
TW_API int TWIPCSetNoWait(TWIPC* pipe) {
  return tw::guard_value(0, [&] { return Pin(pipe).is_server() ? 1 : 0; });
}

TW_API int TWIPCAllowClientConnections(TWIPC* pipe) {
  return tw::guard_value(0, [&] { return Pin(pipe).is_server() ? 1 : 0; });
}

TW_API TWIPC* TWIPCCheckForConnection(TWIPC* pipe) {
  return tw::guard_value<TWIPC*>(nullptr, [&] { return accept_one(pipe, false); });
}

TW_API TWIPC* TWIPCOpen(const char* name, uint32_t flags) {
  return tw::guard_value<TWIPC*>(nullptr, [&]() -> TWIPC* {
    Paths paths;
    if (!pipe_paths(name, false, &paths)) return nullptr;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    sockaddr_un addr = socket_address(paths.sock);
    int rc;
    do {
      rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    int fl = rc == 0 ? ::fcntl(fd, F_GETFL) : -1;
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) != 0) {
      ::close(fd);
      return nullptr;
    }
    return enlist(Kind::client, fd);
  });
}

TW_API int TWIPCRead(TWIPC* conn, void* buffer, uint32_t room, uint32_t* bytesRead, int* more) {
  return tw::guard_value(0, [&] { return read_message(conn, buffer, room, bytesRead, more); });
}

TW_API int TWIPCReadNW(TWIPC* conn, void* buffer, uint32_t room, uint32_t* bytesRead, int* more) {
  return tw::guard_value(0, [&] { return read_message(conn, buffer, room, bytesRead, more); });
}

TW_API int TWIPCWrite(TWIPC* conn, const void* block, uint32_t length, uint32_t* written) {
  return tw::guard_value(0, [&] { return write_block(conn, block, length, written); });
}

TW_API int TWIPCWriteNW(TWIPC* conn, const void* block, uint32_t length, uint32_t* written) {
  return tw::guard_value(0, [&] { return write_block(conn, block, length, written); });
}

TW_API int TWIPCPeek(TWIPC* conn) {
  return tw::guard_value(0, [&] {
    Pin h(conn);
    if (!h.is_connection() || h->broken || h->closed.load()) return 0;
    if (h->length != 0 && h->delivered < kHeaderSize) return 1;
    unsigned char byte;
    ssize_t n;
    do {
      n = ::recv(h->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? 1 : 0;
  });
}

// Sent bytes are with the peer at once; there is nothing to flush.
TW_API int TWIPCFlush(TWIPC* conn) {
  return tw::guard_value(0, [&] { return Pin(conn).is_connection() ? 1 : 0; });
}

TW_API int TWIPCDisconnect(TWIPC* conn) {
  return tw::guard_value(0, [&] { return end_connection(conn); });
}

TW_API int TWIPCClose(TWIPC* conn) {
  return tw::guard_value(0, [&] { return end_connection(conn); });
}

// name is not needed: the handle knows its pipe. A null handle removes nothing, so a
// clean-up that runs before the pipe was created never takes another server's socket.
TW_API int TWIPCShutdown(TWIPC* pipe, const char* name) {
  return tw::guard_value(0, [&] {
    Pin h(pipe);
    if (!h.is_server() || !retire(pipe)) return 0;
    // Remove the names while the lock is still held, so they are never a new owner's.
    ::unlink(h->sock_path.c_str());
    ::unlink(h->lock_path.c_str());
    ::close(h->lock_fd);
    h->lock_fd = -1;
    // The run directory goes with the last of its files.
    tw::remove_run_dir();
    return 1;
  });
}

}  // extern "C"
