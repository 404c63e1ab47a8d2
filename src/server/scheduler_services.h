// What the scheduler needs from outside the server: the control-store calls and the start,
// wait and kill of runner processes. Production uses the engine's CSMgr* calls and the
// platform's process services; tests put fakes in their place.
#ifndef TW_SERVER_SCHEDULER_SERVICES_H_
#define TW_SERVER_SCHEDULER_SERVICES_H_

#include <cstdint>

#include "flowcore.h"
#include "twengine.h"

namespace tw::server {

// The control-store calls of the scheduler, with the statuses of their CSMgr* namesakes.
// Called on the scheduler thread only.
class ControlStore {
 public:
  virtual ~ControlStore() = default;
  // CSMgrStartup: starts a manager unless one serves.
  [[nodiscard]] virtual uint32_t Startup() = 0;
  // Whether a manager serves the pipe now.
  virtual bool Serving() = 0;
  [[nodiscard]] virtual uint32_t Init(CSMgrServerSettings* settings) = 0;
  [[nodiscard]] virtual uint32_t ServerInfo(CSMgrServerSettings* settings) = 0;
  [[nodiscard]] virtual uint32_t ServerState(int32_t state) = 0;
  [[nodiscard]] virtual uint32_t NextActivity(CSMgrNextActivityRecord* next) = 0;
  [[nodiscard]] virtual uint32_t DoneActivity(int32_t handle, uint32_t completion) = 0;
  [[nodiscard]] virtual uint32_t Time(TWDatetime* now) = 0;
  [[nodiscard]] virtual uint32_t Term() = 0;
};

// Starts and ends runner processes. A process is an opaque pointer-sized handle; every
// handle that Start gives out is handed to Free exactly once. Wait runs on the run's runner
// thread while Kill may come from the scheduler thread at the same time; Kill of a process
// that has ended does nothing and answers 0.
class ProcessLauncher {
 public:
  using Process = void*;
  virtual ~ProcessLauncher() = default;
  // Starts commandLine ("taskrun =N"); *process is set only on success.
  [[nodiscard]] virtual uint32_t Start(const char* commandLine, int32_t priority,
                                       Process* process) = 0;
  virtual void Wait(Process process) = 0;
  [[nodiscard]] virtual uint32_t Kill(Process process) = 0;
  virtual void Free(Process process) = 0;
};

// The production services: CSMgr* and TWProcShellExec / TWProcProcess*. Process-wide
// objects that live for the whole process.
ControlStore* EngineControlStore();
ProcessLauncher* PlatformLauncher();

}  // namespace tw::server

#endif  // TW_SERVER_SCHEDULER_SERVICES_H_
