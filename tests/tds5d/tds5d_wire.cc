// Packet reading and writing of tds5d.
#include "tds5d_wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tds5d {

namespace {

bool ReadFull(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteFull(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

bool Wire::Read(uint8_t& type, std::string& body) {
  body.clear();
  for (;;) {
    char head[8];
    if (!ReadFull(fd_, head, sizeof head)) return false;
    size_t length = static_cast<uint8_t>(head[2]) << 8 | static_cast<uint8_t>(head[3]);
    if (length < 8) return false;
    type = static_cast<uint8_t>(head[0]);
    size_t at = body.size();
    body.resize(at + length - 8);
    if (!ReadFull(fd_, body.data() + at, length - 8)) return false;
    if (head[1] & 1) return true;
  }
}

bool Wire::TakeAttention() {
  char head[8];
  ssize_t got = ::recv(fd_, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  if (got != sizeof head || head[0] != static_cast<char>(kPacketAttention)) return false;
  return ::recv(fd_, head, sizeof head, 0) == sizeof head;
}

bool Wire::SendPacket(std::string_view payload, bool last) {
  char head[8] = {static_cast<char>(kPacketReply),
                  static_cast<char>(last ? 1 : 0),
                  static_cast<char>((payload.size() + 8) >> 8),
                  static_cast<char>((payload.size() + 8) & 0xFF),
                  0,
                  0,
                  static_cast<char>(number_++),
                  0};
  std::string packet(head, 8);
  packet.append(payload);
  return WriteFull(fd_, packet.data(), packet.size());
}

bool Wire::FlushSome() {
  size_t room = packetSize_ - 8;
  if (out_.size() <= 16 * room) return true;
  size_t sent = 0;
  bool ok = true;
  while (ok && out_.size() - sent > room) {
    ok = SendPacket(std::string_view(out_).substr(sent, room), false);
    sent += room;
  }
  out_.erase(0, sent);
  return ok;
}

bool Wire::Flush() {
  size_t room = packetSize_ - 8;
  size_t sent = 0;
  bool ok = true;
  while (ok && out_.size() - sent > room) {
    ok = SendPacket(std::string_view(out_).substr(sent, room), false);
    sent += room;
  }
  if (ok) ok = SendPacket(std::string_view(out_).substr(sent), true);
  out_.clear();
  return ok;
}

}  // namespace tds5d
