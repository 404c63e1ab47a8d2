// CSIPC: the pipe between the SNMP sub-agent and the master agent. A service listens on a
// Unix-domain socket in the installation's private run directory; a client attaches with a
// handshake of three frames (its name; the first event name, answered by a zero-length frame;
// the second event name, followed by a zero-length frame from the service). A frame is a
// 4-byte little-endian length (at most 2048) and the data. Every wait is bounded: a peer that
// stays silent or stops reading for the I/O time-out, or hangs up, is a lost link (-8).
//
// Thread rules: one object is used by one thread at a time.
#ifndef TW_SNMP_CSIPC_H_
#define TW_SNMP_CSIPC_H_

#include <cstdint>
#include <memory>
#include <string>

#include "wire.h"

namespace tw::snmp {

// What a loop waits on: something that reports activity.
class Instigator {
 public:
  virtual ~Instigator() = default;
  // 1 on activity, kLinkTimeout when timeoutMs (-1: no limit) passed, kLinkDown when the
  // peer is gone.
  [[nodiscard]] virtual int Wait(int timeoutMs) = 0;
  // 1 on activity, 0 on none, kLinkDown when the peer is gone; never waits.
  [[nodiscard]] virtual int Poll() = 0;
};

class CSIPC : public Instigator {
 public:
  enum Role { kService = 1, kClient = 2, kAccepted = 3 };

  // Listens as service (a name of 1 to 32 letters, digits, "_", "-" or "."); null with
  // *status kLinkBadArgument for a bad name, or when another process serves it already.
  static std::unique_ptr<CSIPC> Advertise(const std::string& service, int* status);
  // Attaches to service as client; null with *status kLinkDown when nobody serves it or the
  // handshake fails, kLinkBadArgument for a bad name.
  static std::unique_ptr<CSIPC> Attach(const std::string& service, const std::string& client,
                                       int* status);
  // Service: takes the client that Wait or Poll announced and runs the handshake; null with
  // *status kLinkDown (the client is dropped) or kLinkTimeout when none waits.
  std::unique_ptr<CSIPC> Accept(int* status);

  ~CSIPC() override;
  CSIPC(const CSIPC&) = delete;
  CSIPC& operator=(const CSIPC&) = delete;

  // Sends one frame; the byte count, kLinkBadArgument over kMaxFrame, kLinkDown.
  [[nodiscard]] int Send(std::string_view data);
  // Receives one frame into *out; the byte count, or kLinkDown for a lost peer, a frame over
  // kMaxFrame or max (the link cannot find the next frame then), or silence past the time-out.
  [[nodiscard]] int Receive(std::string* out, uint32_t max = kMaxFrame);

  int Wait(int timeoutMs) override;
  int Poll() override;

  Role role() const { return role_; }
  uint32_t id() const { return id_; }
  int fd() const { return fd_; }
  // The client's name as it introduced itself (accepted connections).
  const std::string& peer() const { return peer_; }

  // The bound of every send, receive and handshake step (5000 ms unless changed); tests
  // shorten it. Process-wide; below 1 restores the default.
  static void SetIoTimeoutMillis(int millis);

 private:
  CSIPC(Role role, int fd);
  [[nodiscard]] bool RecvExact(char* dst, size_t n);
  [[nodiscard]] bool SendAll(const char* src, size_t n);
  [[nodiscard]] int ServiceHandshake();
  [[nodiscard]] int ClientHandshake(const std::string& client);

  Role role_;
  int fd_;
  int lockFd_ = -1;
  uint32_t id_;
  std::string path_;      // service: the socket to remove
  std::string lockPath_;  // service: its owner lock, removed while still held
  std::string peer_;
};

}  // namespace tw::snmp

#endif  // TW_SNMP_CSIPC_H_
