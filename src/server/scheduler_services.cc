// The production control-store and process services of the scheduler.
#include "scheduler_services.h"

#include "csmgr_wire.h"
#include "platform.h"

namespace tw::server {
namespace {

class EngineStore final : public ControlStore {
 public:
  uint32_t Startup() override { return CSMgrStartup(); }
  bool Serving() override { return TWIPCExists(tw::csmgr::kPipeName, 0) != 0; }
  uint32_t Init(CSMgrServerSettings* settings) override { return CSMgrInit(settings); }
  uint32_t ServerInfo(CSMgrServerSettings* settings) override { return CSMgrServerInfo(settings); }
  uint32_t ServerState(int32_t state) override { return CSMgrServerState(state); }
  uint32_t NextActivity(CSMgrNextActivityRecord* next) override { return CSMgrNextActivity(next); }
  uint32_t DoneActivity(int32_t handle, uint32_t completion) override {
    return CSMgrDoneActivity(handle, completion);
  }
  uint32_t Time(TWDatetime* now) override { return CSMgrTime(now); }
  uint32_t Term() override { return CSMgrTerm(); }
};

class PlatformProcesses final : public ProcessLauncher {
 public:
  uint32_t Start(const char* commandLine, int32_t priority, Process* process) override {
    TWProcProcess* p = nullptr;
    uint32_t st = TWProcShellExec(commandLine, &p, priority, 0);
    if (st == TWSUCCESS) *process = p;
    return st;
  }
  void Wait(Process process) override { TWProcProcessWait(static_cast<TWProcProcess*>(process)); }
  uint32_t Kill(Process process) override {
    return TWProcProcessKill(static_cast<TWProcProcess*>(process));
  }
  void Free(Process process) override { TWProcProcessFree(static_cast<TWProcProcess*>(process)); }
};

}  // namespace

ControlStore* EngineControlStore() {
  static EngineStore store;
  return &store;
}

ProcessLauncher* PlatformLauncher() {
  static PlatformProcesses launcher;
  return &launcher;
}

}  // namespace tw::server
