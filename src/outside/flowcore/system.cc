// Process-wide start and end of the engine's services: the plug-in registry, the current
// activity and the connections. The value functions need neither.
#include <atomic>

#include "activity.h"
#include "connect_impl.h"
#include "plugin.h"
#include "tw/guard.h"

namespace {

std::atomic<bool> started{false};

}  // namespace

namespace tw::engine {

bool SystemStarted() {
  return started.load();
}

}  // namespace tw::engine

extern "C" {

TW_API uint32_t TWSystemInit(void) {
  started.exchange(true);
  return TWSUCCESS;
}

// The activity ends first (it frees its own connections and plug-in); connections made
// without one go next, and only then are the connector libraries unloaded.
TW_API uint32_t TWSystemTerm(void) {
  return tw::guard([]() -> uint32_t {
    if (!started.load()) return TWSUCCESS;
    tw::engine::EndActivity();
    const uint32_t ended = tw::engine::FreeAllConnections(0);
    tw::engine::UnloadConnectors();
    started.store(false);
    return ended;
  });
}

}  // extern "C"
