// The records of TWSNMP_PIPE, shared by twmain's SNMP link (the serving end) and mibagent
// (the client): little-endian 32-bit words, texts NUL-ended in fixed fields, one request and
// one reply per connection.
#ifndef TW_SNMP_PIPE_RECORDS_H_
#define TW_SNMP_PIPE_RECORDS_H_

#include <cstdint>

namespace tw::snmp {

inline constexpr const char* kPipeName = "TWSNMP_PIPE";

enum Request : int32_t {
  kServerInfo = 1,     // {1, 8}
  kActivityTable = 2,  // {2, 8}
  kCloseActivity = 3,  // {3, 12, run number}
  kKillActivity = 4,   // {4, 12, run number}
  kDownServer = 5,     // {5, 8}
  kStopServer = 6,     // {6, 8}
};
enum Reply : int32_t { kReplyServerInfo = 1, kReplyActivityTable = 3, kReplyAck = 10 };

inline constexpr uint32_t kHeaderSize = 8;
inline constexpr uint32_t kRunRequestSize = 12;

// The server-information reply, written whole.
inline constexpr uint32_t kServerInfoSize = 522;
inline constexpr uint32_t kInfoValues = 8;  // ServerID .. server state: seven words
inline constexpr uint32_t kInfoWords = 7;
inline constexpr uint32_t kInfoState = 32;
inline constexpr uint32_t kInfoTime = 36;
inline constexpr uint32_t kInfoStartTime = 136;
inline constexpr uint32_t kInfoServerName = 236;
inline constexpr uint32_t kInfoRelease = 492;
inline constexpr uint32_t kTimeTextSize = 100;
inline constexpr uint32_t kNameSize = 256;
inline constexpr uint32_t kReleaseSize = 30;
static_assert(kInfoRelease + kReleaseSize == kServerInfoSize);
static_assert(kInfoValues + 4 * (kInfoWords - 1) == kInfoState);
// The longest server-information reply a client reads: a later server may append fields.
inline constexpr uint32_t kServerInfoMax = 4096;

// Server states as twmain reports them.
enum ServerState : int32_t { kStateRunning = 1, kStateShuttingDown = 2, kStateStopping = 3 };

// The activity-table reply: an 8-byte header, then (second write) the entries and an
// all-zero end entry. Entry: close requested, run number, start time text, activity name.
inline constexpr uint32_t kEntrySize = 364;
inline constexpr uint32_t kEntryRun = 4;
inline constexpr uint32_t kEntryTime = 8;
inline constexpr uint32_t kEntryName = 108;
inline constexpr uint32_t kMaxEntries = 30;
static_assert(kEntryName + kNameSize == kEntrySize);
// A reply carries 1 to 31 entries, the last one the zero end entry.
inline constexpr uint32_t kMaxTableEntries = kMaxEntries + 1;

}  // namespace tw::snmp

#endif  // TW_SNMP_PIPE_RECORDS_H_
