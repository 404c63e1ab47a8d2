// Process-wide start and end of the engine's services. The value functions need neither.
#include <atomic>

#include "flowcore.h"

namespace {

std::atomic<bool> started{false};

}  // namespace

extern "C" {

TW_API uint32_t TWSystemInit(void) {
  started.exchange(true);
  return TWSUCCESS;
}

TW_API uint32_t TWSystemTerm(void) {
  started.store(false);
  return TWSUCCESS;
}

}  // extern "C"
