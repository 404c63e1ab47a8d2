// The entry through which the document store runs a scripted agent in-process: the agent's
// body is qsrun text, run with the registered script extension inside whatever activity the
// process has current.
#include <cstring>
#include <iostream>
#include <string>

#include "qsrun.h"
#include "twstatus.h"

extern "C" __attribute__((visibility("default"))) uint32_t QsRunAgent(const char* text,
                                                                      size_t length, char* error,
                                                                      size_t errorSize) noexcept {
  try {
    std::string why;
    const uint32_t st =
        qshost::RunText(std::string(text != nullptr ? text : "", text != nullptr ? length : 0), "",
                        std::cout, &why);
    std::cout.flush();
    if (error != nullptr && errorSize > 0) {
      std::strncpy(error, why.c_str(), errorSize - 1);
      error[errorSize - 1] = '\0';
    }
    return st;
  } catch (...) {
    return TWFAIL_MEMORY;  // nothing else is thrown here
  }
}
