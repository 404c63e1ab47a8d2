// The SNMP link of twmain: serves the named pipe "TWSNMP_PIPE" for the SNMP sub-agent, one
// request per client connection. Requests become scheduler commands (source 2); the two
// queries are answered from the scheduler's events on the SNMP event pipe.
//
// Thread rules: construct, run and destroy on the SNMP link thread; the link exchanges
// records with the scheduler through the two pipes only.
#ifndef TW_SERVER_SNMP_LINK_H_
#define TW_SERVER_SNMP_LINK_H_

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform.h"
#include "records.h"

namespace tw::server {

// The records of TWSNMP_PIPE: little-endian 32-bit words, texts NUL-ended in fixed fields.
namespace snmp {

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
inline constexpr uint32_t kInfoTime = 36;
inline constexpr uint32_t kInfoStartTime = 136;
inline constexpr uint32_t kInfoServerName = 236;
inline constexpr uint32_t kInfoRelease = 492;
inline constexpr uint32_t kTimeTextSize = 100;
inline constexpr uint32_t kNameSize = 256;
inline constexpr uint32_t kReleaseSize = 30;
static_assert(kInfoRelease + kReleaseSize == kServerInfoSize);

// The activity-table reply: an 8-byte header, then (second write) the entries and an
// all-zero end entry. Entry: close requested, run number, start time text, activity name.
inline constexpr uint32_t kEntrySize = 364;
inline constexpr uint32_t kEntryTime = 8;
inline constexpr uint32_t kEntryName = 108;
inline constexpr uint32_t kMaxEntries = 30;
static_assert(kEntryName + kNameSize == kEntrySize);

}  // namespace snmp

class SnmpLink {
 public:
  // Waits for the scheduler's first event on events; only event 1 (start-up succeeded) makes
  // the link create and serve the pipe. Messages go to err. The pipes stay the caller's and
  // must outlive the link.
  SnmpLink(TWProcPipe* scheduler, TWProcPipe* events, FILE* err = stderr);
  // Ends a client still connected and stops serving the pipe.
  ~SnmpLink();
  SnmpLink(const SnmpLink&) = delete;
  SnmpLink& operator=(const SnmpLink&) = delete;

  bool active() const { return active_; }
  // Serves requests until event 13 and answers 0; answers 1 at once when not active.
  int Run();

 private:
  void OnConnection();
  bool ReadRequest(int32_t* code, int32_t* runNumber);
  // False for event 13.
  bool OnEvent(const ConsoleEvent& e);
  void AddEntry(const ConsoleEvent& e);
  void SendAck();
  void SendServerInfo(const ConsoleEvent& e);
  void SendTable();
  void EndClient();
  void Post(int32_t code, int32_t argument = 0);
  void Message(uint32_t id);

  TWProcPipe* scheduler_;
  TWProcPipe* events_;
  FILE* err_;
  TWIPC* pipe_ = nullptr;
  TWIPC* client_ = nullptr;
  bool active_ = false;
  int32_t pending_ = 0;  // the query waiting for its event: 0, kServerInfo or kActivityTable
  std::string serverName_;
  std::string startTime_;
  std::string release_;
  std::array<unsigned char, snmp::kEntrySize*(snmp::kMaxEntries + 1)> table_{};
  uint32_t entries_ = 0;
};

}  // namespace tw::server

#endif  // TW_SERVER_SNMP_LINK_H_
