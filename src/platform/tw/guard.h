// The one guard every extern "C" entry point ends in: no exception crosses a C boundary.
#ifndef TW_PLATFORM_TW_GUARD_H_
#define TW_PLATFORM_TW_GUARD_H_

#include <cstdint>
#include <new>
#include <utility>

#include "twstatus.h"

namespace tw {

// Runs f, which returns a status; bad_alloc becomes TWFAIL_MEMORY and any other escaping
// exception TWFAIL_PROGRAM.
template <class F>
[[nodiscard]] uint32_t guard(F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (const std::bad_alloc&) {
    return TWFAIL_MEMORY;
  } catch (...) {
    return TWFAIL_PROGRAM;
  }
}

// The same for entry points that answer a value rather than a status.
template <class T, class F>
T guard_value(T on_failure, F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    return on_failure;
  }
}

// The package of a status: bits 8 to 15.
constexpr uint32_t package_of(uint32_t status) {
  return status & 0xFF00u;
}

}  // namespace tw

#endif  // TW_PLATFORM_TW_GUARD_H_
