// The process environment: bounded reads of a variable and setting one to a quoted value.
#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "tw/guard.h"

extern "C" {

TW_API uint32_t TWPlatGetEnv(const char* name, char* buffer, uint32_t* length) {
  return tw::guard([&]() -> uint32_t {
    if (buffer == nullptr || length == nullptr) return TWFAIL_NULL_BUFFER;
    const char* value = name != nullptr && *name != '\0' ? std::getenv(name) : nullptr;
    if (value == nullptr) {
      buffer[0] = '\0';
      *length = 0;
      return TWFAIL_ENV_READ;
    }
    // The buffer holds *length characters and the NUL.
    size_t n = strnlen(value, *length);
    std::memcpy(buffer, value, n);
    buffer[n] = '\0';
    *length = static_cast<uint32_t>(n);
    return TWSUCCESS;
  });
}

// A name that the environment cannot hold (empty, or holding "=") and a null value are
// refused with 531.
TW_API uint32_t TWPlatPutEnv(const char* name, const char* value) {
  return tw::guard([&]() -> uint32_t {
    if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr || value == nullptr)
      return TWFAIL_ENV_WRITE;
    std::string quoted = std::string("\"") + value + "\"";
    if (::setenv(name, quoted.c_str(), 1) != 0)
      return errno == ENOMEM ? TWFAIL_MEMORY : TWFAIL_ENV_WRITE;
    return TWSUCCESS;
  });
}

}  // extern "C"
