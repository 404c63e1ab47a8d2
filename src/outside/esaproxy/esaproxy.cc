// esaproxy: the SNMP master agent that mibagent attaches to, standing in for the one the
// sub-agent was written for. It serves "esaMainProxy" with CSIPC's service role, takes the
// sub-agents' register and unregister requests, and bridges every registered sub-tree to a
// real snmpd as an AgentX sub-agent (net-snmp's agent library), so that snmpget, snmpwalk and
// snmpset reach the sub-agent.
//
// Usage: esaproxy -x AGENTX-SOCKET [-D level]. The installation (and so the run directory of
// the service's socket) is found as every program of the installation finds it. Ends with 0
// on SIGTERM or SIGINT, 1 when it cannot start.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <signal.h>
#include <sys/select.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent_link.h"
#include "agent_log.h"
#include "csipc.h"
#include "platform.h"
#include "subtree.h"

namespace {

using namespace tw::snmp;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

// How long a request waits for the sub-agent's answer. The sub-agent asks twmain, which
// may be slow to answer (its control store busy): a slow answer delays the SNMP answer and
// is not taken for a lost sub-agent. snmpd gives up on this agent's whole AgentX session
// when an answer takes longer than its time-out with all its retries (six seconds unless
// configured otherwise), so a request whose answer has not come by then is answered as a
// general error first; the late answer is dropped when it comes.
constexpr int kAnswerWaitMs = 5500;

class Proxy;
Proxy* g_proxy = nullptr;

int Handler(netsnmp_mib_handler*, netsnmp_handler_registration* reg,
            netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests);

Oid FromNetsnmp(const oid* name, size_t length) {
  Oid o;
  for (size_t i = 0; i < length && i < kMaxOidComponents; ++i)
    (void)o.Append(static_cast<uint32_t>(name[i]));
  if (length > kMaxOidComponents) o.count = 0;  // not one of ours
  return o;
}

std::vector<oid> ToNetsnmp(const Oid& o) {
  return std::vector<oid>(o.c.begin(), o.c.begin() + o.count);
}

// A sub-agent's status as the SNMP error net-snmp reports for it.
int SnmpError(int32_t status, bool get) {
  switch (status) {
    case kNoSuchName:
      return get ? SNMP_NOSUCHOBJECT : SNMP_ERR_NOSUCHNAME;
    case kBadValue:
      return SNMP_ERR_WRONGVALUE;
    case kReadOnly:
      return SNMP_ERR_NOTWRITABLE;
    default:
      return SNMP_ERR_GENERR;
  }
}

class Proxy {
 public:
  explicit Proxy(AgentLog& log) : log_(log) {}

  bool Start() {
    int st = 0;
    service_ = CSIPC::Advertise(kMasterService, &st);
    if (service_ == nullptr) {
      log_.Line(0, "Cannot serve %s (%d)", kMasterService, st);
      return false;
    }
    return true;
  }

  void Run() {
    while (!g_stop) {
      dropped_.clear();  // no call of the last round uses them any more
      int numfds = 0;
      int block = 1;
      fd_set fds;
      FD_ZERO(&fds);
      timeval tv{0, 0};
      snmp_select_info(&numfds, &fds, &tv, &block);
      timeval cap{0, 200000};
      if (block || tv.tv_sec > 0 || tv.tv_usec > cap.tv_usec) tv = cap;
      FD_SET(service_->fd(), &fds);
      numfds = std::max(numfds, service_->fd() + 1);
      for (auto& c : conns_) {
        FD_SET(c->fd(), &fds);
        numfds = std::max(numfds, c->fd() + 1);
      }
      int n = select(numfds, &fds, nullptr, nullptr, &tv);
      if (n < 0) continue;  // a signal: look at the stop flag
      std::vector<CSIPC*> ready;
      for (auto& c : conns_)
        if (FD_ISSET(c->fd(), &fds)) {
          ready.push_back(c.get());
          FD_CLR(c->fd(), &fds);
        }
      FD_CLR(service_->fd(), &fds);
      if (n > 0)
        snmp_read(&fds);
      else
        snmp_timeout();
      run_alarms();
      netsnmp_check_outstanding_agent_requests();
      if (service_->Poll() == 1) AcceptOne();
      for (CSIPC* c : ready) ServeConnection(c);
    }
  }

  // One SNMP request of net-snmp for the sub-tree of reg.
  int Serve(netsnmp_handler_registration* reg, netsnmp_agent_request_info* reqinfo,
            netsnmp_request_info* requests) {
    const Subtree* tree = TreeOf(reg);
    for (netsnmp_request_info* r = requests; r != nullptr; r = r->next) {
      if (r->processed) continue;
      if (tree == nullptr) {
        netsnmp_set_request_error(reqinfo, r, SNMP_ERR_GENERR);
        continue;
      }
      netsnmp_variable_list* vb = r->requestvb;
      Oid asked = FromNetsnmp(vb->name, vb->name_length);
      switch (reqinfo->mode) {
        case MODE_GET:
          Get(*tree, asked, reqinfo, r);
          break;
        case MODE_GETNEXT:
          GetNext(*tree, asked, r);
          break;
        case MODE_SET_RESERVE1:
          Set(*tree, asked, kMsgSetTest, reqinfo, r);
          break;
        case MODE_SET_ACTION:
          Set(*tree, asked, kMsgSetCommit, reqinfo, r);
          break;
        case MODE_SET_UNDO:
          Set(*tree, asked, kMsgSetUndo, reqinfo, r);
          break;
        default:
          break;
      }
      tree = TreeOf(reg);  // a lost sub-agent takes its sub-trees with it
    }
    return SNMP_ERR_NOERROR;
  }

 private:
  struct Registration {
    Oid root;
    netsnmp_handler_registration* reg;
  };

  const Subtree* TreeOf(netsnmp_handler_registration* reg) const {
    for (const Registration& r : regs_)
      if (r.reg == reg)
        for (const Subtree& t : trees_.trees())
          if (t.root == r.root) return &t;
    return nullptr;
  }

  // The object an instance identifier belongs to; null when none.
  static const MibObject* ObjectOf(const Subtree& tree, const Oid& asked) {
    for (const MibObject& o : tree.objects)
      if (HasPrefix(asked, o.oid) && asked.count > o.oid.count) return &o;
    return nullptr;
  }

  // Sends a request to the sub-agent that owns tree and waits for its response; false when
  // the sub-agent is gone (it is dropped), answers out of turn (dropped too) or has not
  // answered within kAnswerWaitMs (kept: its late answer is owed and dropped when it
  // comes, since the sub-agent answers its requests in order).
  bool Ask(const Subtree& tree, uint32_t type, const MibObject& object, const Oid& at,
           const std::string& value, Message* answer) {
    auto* conn = static_cast<CSIPC*>(const_cast<void*>(tree.owner));
    Message m;
    m.type = type;
    m.uniqueId = object.uniqueId;
    m.oid = at;
    m.value = value;
    std::string frame;
    if (EncodeMessage(m, &frame) != 0) return false;
    if (conn->Send(frame) < 0) {
      Drop(conn);
      return false;
    }
    for (;;) {
      const int rc = conn->Wait(kAnswerWaitMs);
      if (rc == kLinkTimeout) {
        ++owed_[conn];
        log_.Line(1, "Sub-agent %s is slow to answer", conn->peer().c_str());
        return false;
      }
      if (rc != 1 || conn->Receive(&frame) < 0) {
        Drop(conn);
        return false;
      }
      if (DecodeMessage(frame, answer) != 0 || answer->type != kMsgResponse) {
        log_.Line(1, "Sub-agent answered out of turn");
        Drop(conn);
        return false;
      }
      if (!TakeOwed(conn)) return true;
    }
  }

  // Whether a response of conn answers a request given up earlier (it is then dropped).
  bool TakeOwed(CSIPC* conn) {
    auto it = owed_.find(conn);
    if (it == owed_.end()) return false;
    if (--it->second == 0) owed_.erase(it);
    return true;
  }

  static bool PutValue(netsnmp_variable_list* vb, const MibObject& object,
                       const std::string& value) {
    if (object.type == kTypeInteger) {
      int32_t v = 0;
      if (!ReadInteger(value, &v)) return false;
      long l = v;
      return snmp_set_var_typed_value(vb, ASN_INTEGER, &l, sizeof l) == 0;
    }
    return snmp_set_var_typed_value(vb, ASN_OCTET_STR, value.data(), value.size()) == 0;
  }

  void Get(const Subtree& tree, const Oid& asked, netsnmp_agent_request_info* reqinfo,
           netsnmp_request_info* r) {
    const MibObject* object = ObjectOf(tree, asked);
    Message answer;
    if (object == nullptr) {
      netsnmp_set_request_error(reqinfo, r, SNMP_NOSUCHOBJECT);
    } else if (!Ask(tree, kMsgGet, *object, asked, "", &answer)) {
      netsnmp_set_request_error(reqinfo, r, SNMP_ERR_GENERR);
    } else if (answer.status != kNoError) {
      netsnmp_set_request_error(reqinfo, r, SnmpError(answer.status, true));
    } else if (!PutValue(r->requestvb, *object, answer.value)) {
      netsnmp_set_request_error(reqinfo, r, SNMP_ERR_GENERR);
    }
  }

  // The first instance after asked: scalars at .0, columns row by row with get-next until
  // the sub-agent answers no such name. Left unanswered past the sub-tree's end, so that
  // net-snmp goes on to the next registration.
  void GetNext(const Subtree& tree, const Oid& asked, netsnmp_request_info* r) {
    std::vector<MibObject> objects = tree.objects;  // the tree may go while asking
    Subtree copy;
    copy.owner = tree.owner;
    for (const MibObject& o : objects) {
      Oid at = o.oid;
      uint32_t type = kMsgGet;
      if (o.column) {
        type = kMsgGetNext;
        int c = CompareOid(asked, o.oid);
        if (c == 2) continue;  // past this column
        uint32_t row = c == 1 ? asked.c[o.oid.count] : 0;
        if (!at.Append(row)) continue;
      } else {
        if (!at.Append(0) || CompareOid(at, asked) <= 0) continue;
      }
      Message answer;
      if (!Ask(copy, type, o, at, "", &answer)) return;
      if (answer.status == kNoSuchName) continue;
      if (answer.status != kNoError) return;
      Oid name = type == kMsgGet ? at : answer.oid;
      std::vector<oid> n = ToNetsnmp(name);
      if (!PutValue(r->requestvb, o, answer.value)) return;
      snmp_set_var_objid(r->requestvb, n.data(), n.size());
      return;
    }
  }

  void Set(const Subtree& tree, const Oid& asked, uint32_t type,
           netsnmp_agent_request_info* reqinfo, netsnmp_request_info* r) {
    const MibObject* object = ObjectOf(tree, asked);
    if (object == nullptr) {
      if (type != kMsgSetUndo) netsnmp_set_request_error(reqinfo, r, SNMP_ERR_NOSUCHNAME);
      return;
    }
    netsnmp_variable_list* vb = r->requestvb;
    std::string value;
    if (object->type == kTypeInteger && vb->type == ASN_INTEGER && vb->val.integer != nullptr) {
      value = IntegerValue(static_cast<int32_t>(*vb->val.integer));
    } else if (object->type == kTypeText && vb->type == ASN_OCTET_STR &&
               vb->val_len <= kMaxValue) {
      value.assign(reinterpret_cast<const char*>(vb->val.string), vb->val_len);
    } else {
      // A value of the wrong type is a bad value, as the sub-agent would answer it.
      if (type == kMsgSetTest) netsnmp_set_request_error(reqinfo, r, SNMP_ERR_WRONGVALUE);
      return;
    }
    Message answer;
    bool asked_ok = Ask(tree, type, *object, asked, value, &answer);
    if (type == kMsgSetUndo) return;
    if (!asked_ok)
      netsnmp_set_request_error(reqinfo, r, SNMP_ERR_GENERR);
    else if (answer.status != kNoError)
      netsnmp_set_request_error(reqinfo, r, SnmpError(answer.status, false));
  }

  void AcceptOne() {
    int st = 0;
    std::unique_ptr<CSIPC> c = service_->Accept(&st);
    if (c == nullptr) return;
    log_.Line(1, "Sub-agent %s attached", c->peer().c_str());
    conns_.push_back(std::move(c));
  }

  void ServeConnection(CSIPC* conn) {
    // A sub-agent dropped earlier in this round is not heard any more.
    if (std::none_of(conns_.begin(), conns_.end(), [&](const auto& c) { return c.get() == conn; }))
      return;
    std::string frame;
    if (conn->Receive(&frame) < 0) {
      Drop(conn);
      return;
    }
    Message m, answer;
    answer.type = kMsgResponse;
    if (DecodeMessage(frame, &m) != 0) {
      answer.status = kLinkBadArgument;
    } else if (m.type == kMsgRegister) {
      answer.status = Register(conn, m);
    } else if (m.type == kMsgUnregister) {
      answer.status = Unregister(m.root);
      answer.oid = m.root;
    } else if (m.type == kMsgResponse && TakeOwed(conn)) {
      return;  // the late answer of a request given up
    } else if (m.type == kMsgTrap) {
      log_.Line(1, "Trap %d/%d from %s", m.generic, m.specific, conn->peer().c_str());
      return;  // traps are not answered
    } else {
      answer.status = kLinkBadArgument;
    }
    std::string out;
    if (EncodeMessage(answer, &out) != 0 || conn->Send(out) < 0) Drop(conn);
  }

  int Register(CSIPC* conn, const Message& m) {
    Subtree tree;
    tree.root = m.root;
    tree.objects = m.objects;
    tree.owner = conn;
    tree.registered = true;
    // A sub-tree registered again (a sub-agent that re-attached) replaces the old one.
    (void)Unregister(m.root);
    if (int rc = trees_.Add(tree); rc != 0) return rc;
    std::vector<oid> root = ToNetsnmp(m.root);
    std::string name = "tarnway-" + m.root.Text();
    netsnmp_handler_registration* reg = netsnmp_create_handler_registration(
        name.c_str(), Handler, root.data(), root.size(), HANDLER_CAN_RWRITE);
    if (reg == nullptr || netsnmp_register_handler(reg) != MIB_REGISTERED_OK) {
      (void)trees_.Remove(m.root);
      return kLinkBadMib;
    }
    regs_.push_back({m.root, reg});
    log_.Line(1, "Registered %s (%zu objects)", m.root.Text().c_str(), m.objects.size());
    return 0;
  }

  int Unregister(const Oid& root) {
    for (auto it = regs_.begin(); it != regs_.end(); ++it)
      if (it->root == root) {
        netsnmp_unregister_handler(it->reg);
        regs_.erase(it);
        break;
      }
    return trees_.Remove(root);
  }

  // Forgets a sub-agent and everything it registered.
  void Drop(CSIPC* conn) {
    std::vector<Oid> roots;
    for (const Subtree& t : trees_.trees())
      if (t.owner == conn) roots.push_back(t.root);
    for (const Oid& root : roots) (void)Unregister(root);
    owed_.erase(conn);
    for (auto it = conns_.begin(); it != conns_.end(); ++it)
      if (it->get() == conn) {
        dropped_.push_back(std::move(*it));  // freed once no call uses it
        conns_.erase(it);
        break;
      }
    log_.Line(1, "Sub-agent dropped");
  }

  AgentLog& log_;
  std::unique_ptr<CSIPC> service_;
  std::vector<std::unique_ptr<CSIPC>> conns_;
  std::vector<std::unique_ptr<CSIPC>> dropped_;
  std::map<CSIPC*, int> owed_;  // answers of given-up requests still to come, per sub-agent
  SubtreeList trees_;
  std::vector<Registration> regs_;
};

int Handler(netsnmp_mib_handler*, netsnmp_handler_registration* reg,
            netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
  return g_proxy->Serve(reg, reqinfo, requests);
}

}  // namespace

int main(int argc, char** argv) {
  DebugOption debug = DebugOptionFromArgs(argc, argv);
  AgentLog log(debug.level);
  if (!debug.file.empty()) log.SendTo(debug.file);
  const char* agentx = nullptr;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-x") == 0) agentx = argv[i + 1];
  if (agentx == nullptr) {
    log.Line(0, "usage: esaproxy -x AGENTX-SOCKET [-D level]");
    return 1;
  }
  if (TWPlatInit(argv[0]) != TWSUCCESS) return 1;
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  Proxy proxy(log);
  g_proxy = &proxy;
  if (!proxy.Start()) return 1;

  // An AgentX sub-agent of snmpd at agentx, reading no configuration of the machine's.
  snmp_enable_stderrlog();
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
  netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, agentx);
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  setenv("MIBS", "", 1);
  if (init_agent("esaproxy") != 0) {
    log.Line(0, "Cannot start the AgentX sub-agent");
    return 1;
  }
  init_snmp("esaproxy");
  log.Line(0, "esaproxy serving %s, AgentX at %s", kMasterService, agentx);
  proxy.Run();
  snmp_shutdown("esaproxy");
  TWPlatTerm();
  return 0;
}
