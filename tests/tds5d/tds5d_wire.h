// The packets and token encoding of TDS 5.0 as tds5d speaks it: a reader of whole messages and
// a writer that cuts a reply into packets of the negotiated size.
#ifndef TW_TESTS_TDS5D_TDS5D_WIRE_H_
#define TW_TESTS_TDS5D_TDS5D_WIRE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tds5d {

enum PacketType : uint8_t {
  kPacketLanguage = 1,
  kPacketLogin = 2,
  kPacketReply = 4,
  kPacketAttention = 6,
  kPacketBulk = 7,
  kPacketNormal = 15,
};

enum Token : uint8_t {
  kTokLanguage = 0x21,
  kTokOptionCmd = 0xA6,
  kTokLoginAck = 0xAD,
  kTokReturnStatus = 0x79,
  kTokCurClose = 0x80,
  kTokCurDelete = 0x81,
  kTokCurFetch = 0x82,
  kTokCurInfo = 0x83,
  kTokCurOpen = 0x84,
  kTokCurUpdate = 0x85,
  kTokCurDeclare = 0x86,
  kTokRow = 0xD1,
  kTokParams = 0xD7,
  kTokCapability = 0xE2,
  kTokEnvChange = 0xE3,
  kTokEed = 0xE5,
  kTokDynamic = 0xE7,
  kTokParamFmt = 0xEC,
  kTokRowFmt = 0xEE,
  kTokDone = 0xFD,
  kTokDoneProc = 0xFE,
  kTokDoneInProc = 0xFF,
  kTokLogout = 0x71,
};

enum DoneStatus : uint16_t {
  kDoneFinal = 0,
  kDoneMore = 1,
  kDoneError = 2,
  kDoneCount = 0x10,
  kDoneAttention = 0x20,
};

// Little-endian appends to a byte string.
inline void Put8(std::string& b, uint8_t v) {
  b += static_cast<char>(v);
}
inline void Put16(std::string& b, uint16_t v) {
  b += static_cast<char>(v & 0xFF);
  b += static_cast<char>(v >> 8);
}
inline void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Put64(std::string& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void PutB8(std::string& b, std::string_view s) {  // one-byte length, then the bytes
  size_t n = s.size() > 255 ? 255 : s.size();
  Put8(b, static_cast<uint8_t>(n));
  b.append(s.substr(0, n));
}
inline void PutB16(std::string& b, std::string_view s) {
  Put16(b, static_cast<uint16_t>(s.size()));
  b.append(s);
}

// A reader over a received message; reads past the end give zeros and set bad.
class Reader {
 public:
  explicit Reader(std::string_view data) : d_(data) {}
  bool bad() const { return bad_; }
  bool done() const { return pos_ >= d_.size(); }
  size_t pos() const { return pos_; }
  size_t left() const { return pos_ < d_.size() ? d_.size() - pos_ : 0; }
  uint8_t U8() { return static_cast<uint8_t>(Bytes(1)[0]); }
  uint16_t U16() {
    std::string_view s = Bytes(2);
    return static_cast<uint16_t>(static_cast<uint8_t>(s[0]) | static_cast<uint8_t>(s[1]) << 8);
  }
  uint32_t U32() {
    std::string_view s = Bytes(4);
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[i]);
    return v;
  }
  uint64_t U64() {
    uint64_t lo = U32();
    return lo | static_cast<uint64_t>(U32()) << 32;
  }
  std::string_view Bytes(size_t n) {
    if (n > left()) {
      bad_ = true;
      pos_ = d_.size();
      static const char kZeros[8] = {};
      return std::string_view(kZeros, n <= 8 ? n : 8);
    }
    std::string_view s = d_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  std::string B8() { return std::string(Bytes(U8())); }
  std::string B16() { return std::string(Bytes(U16())); }

 private:
  std::string_view d_;
  size_t pos_ = 0;
  bool bad_ = false;
};

// A connection's packet stream.
class Wire {
 public:
  explicit Wire(int fd) : fd_(fd) {}
  // Reads one whole message (packets up to the one marked last); false at end of stream or
  // on a broken packet.
  bool Read(uint8_t& type, std::string& body);
  // The reply under construction; Flush sends it as packets.
  std::string& out() { return out_; }
  // Sends the full packets of the reply so far (a long result need not be held whole).
  bool FlushSome();
  // Sends the rest of the reply, the last packet marked.
  bool Flush();
  // Whether the client sent an attention while a reply was going out; the attention packet is
  // taken off the stream.
  bool TakeAttention();
  void SetPacketSize(size_t size) { packetSize_ = size < 512 ? 512 : size > 65535 ? 65535 : size; }
  size_t packetSize() const { return packetSize_; }

 private:
  bool SendPacket(std::string_view payload, bool last);
  int fd_;
  size_t packetSize_ = 512;
  uint8_t number_ = 0;
  std::string out_;
};

}  // namespace tds5d

#endif  // TW_TESTS_TDS5D_TDS5D_WIRE_H_
