// The messages between the SNMP sub-agent and the master agent: one message per frame of at
// most 2048 bytes, little-endian words, identifiers as a count byte and the components,
// values and texts as a length and the bytes. One walker encodes and decodes, so both
// directions read the same layout.
#ifndef TW_SNMP_WIRE_H_
#define TW_SNMP_WIRE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "oid.h"

namespace tw::snmp {

enum MessageType : uint32_t {
  kMsgRegister = 1,
  kMsgUnregister = 2,
  kMsgGet = 4,
  kMsgGetNext = 5,
  kMsgSetTest = 6,
  kMsgSetUndo = 7,
  kMsgSetCommit = 8,
  kMsgResponse = 9,
  kMsgTrap = 10,
};

// Link statuses (negative) shared by the codec, the pipe and the link.
inline constexpr int kLinkBadArgument = -2;
inline constexpr int kLinkTrapFull = -4;
inline constexpr int kLinkNoMemory = -6;
inline constexpr int kLinkBadMib = -7;
inline constexpr int kLinkDown = -8;
inline constexpr int kLinkTimeout = -9;
inline constexpr int kLinkNotFound = -10;

// SNMPv1 error statuses in responses.
enum ErrorStatus : int32_t {
  kNoError = 0,
  kNoSuchName = 2,
  kBadValue = 3,
  kReadOnly = 4,
  kGenErr = 5,
};

inline constexpr uint32_t kMaxFrame = 2048;
// The longest value, text or name any message or handshake carries.
inline constexpr uint32_t kMaxValue = 1024;
inline constexpr uint32_t kMaxTrapBindings = 10;

enum ValueType : uint8_t { kTypeInteger = 1, kTypeText = 2 };
enum Access : uint8_t { kReadOnlyAccess = 1, kReadWriteAccess = 3 };

// One object of a registered sub-tree.
struct MibObject {
  uint32_t uniqueId = 0;
  Oid oid;
  uint8_t access = 0;
  uint8_t type = 0;
  uint8_t column = 0;
  bool operator==(const MibObject&) const = default;
};

struct TrapBinding {
  Oid oid;
  uint8_t type = kTypeInteger;
  int32_t integer = 0;
  std::string text;
  bool operator==(const TrapBinding&) const = default;
};

// One message; which fields travel depends on the type.
struct Message {
  uint32_t type = 0;
  Oid root;                        // register, unregister
  std::vector<MibObject> objects;  // register
  uint32_t uniqueId = 0;           // get .. set commit
  int32_t status = 0;              // response
  Oid oid;                         // get .. response
  std::string value;               // get .. response: an integer is 4 bytes, little-endian
  int32_t generic = 0, specific = 0;  // trap
  Oid enterprise;
  std::vector<TrapBinding> bindings;
  bool operator==(const Message&) const = default;
};

// Appends the encoding of m to out. kLinkBadArgument for an unknown type, a value or text
// over kMaxValue, more than kMaxTrapBindings bindings or an encoding over kMaxFrame; out is
// unchanged then.
[[nodiscard]] int EncodeMessage(const Message& m, std::string* out);

// Decodes one frame. kLinkBadArgument for an unknown type, an identifier of more than 32
// components, a length past the frame or over kMaxValue, too many bindings or bytes left
// over; *out is set only on success.
[[nodiscard]] int DecodeMessage(std::string_view frame, Message* out);

// An integer value as the messages carry it, and back (false unless exactly 4 bytes).
std::string IntegerValue(int32_t v);
[[nodiscard]] bool ReadInteger(std::string_view value, int32_t* v);

}  // namespace tw::snmp

#endif  // TW_SNMP_WIRE_H_
