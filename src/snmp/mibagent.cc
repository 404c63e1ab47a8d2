// mibagent: the SNMP sub-agent of the server. Serves the server's MIB sub-tree to the master
// agent and relays management requests to twmain over TWSNMP_PIPE; starts twmain itself on
// request. Usage: mibagent [-D level]. Exits 0 after a normal shut-down (SIGTERM), 1 when it
// cannot attach or register, or when its link fails past recovery.
#include <atomic>
#include <string>

#include "agent_link.h"
#include "agent_log.h"
#include "platform.h"
#include "process_io.h"
#include "tarnway_mib.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop.store(true);
}

// twmain as the sub-agent starts it: detached, with no console input and its output in
// files of the installation, so that it lives on its own until it is told to stop, however
// often the sub-agent itself is restarted.
uint32_t StartServer() {
  std::string dir = TWFileExeDir();
  TWProcProcess* process = nullptr;
  uint32_t st = tw::ShellExecDetached((dir + "twmain").c_str(), dir + "twmain.out",
                                      dir + "twmain.err", &process);
  if (st != TWSUCCESS) return st;
  TWProcProcessFree(process);  // reaped in the background when it ends
  return TWSUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tw::snmp;
  DebugOption debug = DebugOptionFromArgs(argc, argv);
  AgentLog log(debug.level);
  if (!debug.file.empty()) log.SendTo(debug.file);
  // Without an installation directory the program's own is used: go on either way.
  if (uint32_t st = TWPlatInit(argv[0]); st != TWSUCCESS) log.Message(1, st);
  if (TWProcSigHndlrSet(OnSignal) != TWSUCCESS) return 1;
  log.Message(0, TWMSG_SNMP_STARTING);

  ServerPipe pipe(log);
  TarnwayMib mib(log, pipe, StartServer);
  AgentLink link(log);
  int rc = link.Attach();
  if (rc != 0) {
    log.Message(0, TWFAIL_SNMP_AGENT_ATTACH, rc);
    log.Message(0, TWFAIL_SNMP_AGENT_INIT);
    return 1;
  }
  rc = link.Register(kTarnwayRoot, TarnwayTable(),
                     [&](uint32_t kind, size_t index, const MibObject& object, Oid* instance,
                         std::string* value) {
                       return mib.Handle(kind, index, object, instance, value);
                     });
  if (rc != 0) {
    log.Message(0, TWFAIL_SNMP_AGENT_REGISTER, rc);
    log.Message(0, TWFAIL_SNMP_AGENT_INIT);
    return 1;
  }
  log.Message(0, TWMSG_SNMP_STARTED);

  int exitCode = 0;
  auto stop = [] { return g_stop.load(); };
  while (!stop()) {
    mib.Age();
    rc = link.Serve(500, stop);
    if (rc == 1 || rc == kLinkDown || rc == kLinkTimeout) continue;
    log.Message(0, TWFAIL_SNMP_AGENT_POLL, rc);
    exitCode = 1;
    break;
  }
  log.Message(0, TWMSG_SNMP_STOPPING);
  if (link.connected())
    if (int st = link.Unregister(kTarnwayRoot); st != 0) log.Message(0, TWFAIL_SNMP_AGENT_UNREGISTER, st);
  TWPlatTerm();
  return exitCode;
}
