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

#include "pipe_records.h"
#include "platform.h"
#include "records.h"

namespace tw::server {

namespace snmp = ::tw::snmp;

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
