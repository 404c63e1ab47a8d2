// The sub-agent's end of the link to the master agent (the "IESA" end point): attaches as a
// client of the master agent's service, registers MIB sub-trees and serves the requests that
// arrive for them. A lost link is noticed on every send, receive and wait; the next serve
// step then pauses for the re-attach wait (through the platform clock) and attaches again,
// registering every sub-tree anew.
//
// Thread rules: one thread uses a link.
#ifndef TW_SNMP_AGENT_LINK_H_
#define TW_SNMP_AGENT_LINK_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent_log.h"
#include "csipc.h"
#include "subtree.h"

namespace tw::snmp {

inline constexpr const char* kMasterService = "esaMainProxy";
inline constexpr const char* kSubAgentName = "esaSubAgent";

class AgentLink {
 public:
  explicit AgentLink(AgentLog& log, std::string service = kMasterService,
                     std::string client = kSubAgentName);

  // Attaches and registers again every sub-tree kept; kLinkDown when the master agent is
  // absent.
  [[nodiscard]] int Attach();
  // Converts rows under root, keeps the sub-tree and, when attached, registers it and
  // answers the master agent's status (0 registered); a link status on failure.
  [[nodiscard]] int Register(const std::string& root, const std::vector<ObjectSpec>& rows,
                             ObjectHandler handler);
  // Tells the master agent (when attached) and forgets the sub-tree; kLinkNotFound when
  // none has that root.
  [[nodiscard]] int Unregister(const std::string& root);
  // Waits at most timeoutMs for one request and serves it: 1 served, kLinkTimeout, or
  // kLinkDown. While not attached, first waits the re-attach pause (ended early when stop
  // answers true) and attaches.
  [[nodiscard]] int Serve(int timeoutMs, const std::function<bool()>& stop = {});
  // Sends a trap record while attached.
  [[nodiscard]] int SendTrap(const Message& trap);

  bool connected() const { return pipe_ != nullptr; }

  static constexpr int64_t kReattachMicros = 30'000'000;

 private:
  [[nodiscard]] int SendRegister(Subtree& tree);
  [[nodiscard]] int Exchange(const Message& request, Message* answer);
  void Lost();
  void ServeMessage(const std::string& frame);

  AgentLog& log_;
  std::string service_;
  std::string client_;
  std::unique_ptr<CSIPC> pipe_;
  SubtreeList trees_;
};

}  // namespace tw::snmp

#endif  // TW_SNMP_AGENT_LINK_H_
