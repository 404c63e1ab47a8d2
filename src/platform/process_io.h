// Starting a program that outlives the one starting it, its output and errors in files.
#ifndef TW_PLATFORM_PROCESS_IO_H_
#define TW_PLATFORM_PROCESS_IO_H_

#include <cstdint>
#include <string>

#include "platform.h"

namespace tw {

// Starts commandLine as TWProcShellExec does, detached: standard input from /dev/null and a
// session of its own, so that the program lives on whatever becomes of the starter;
// standard output and error appended to outPath and errPath (made 0600 when missing).
// TWFAIL_PROCESS_EXEC when the program or a file cannot be had.
__attribute__((visibility("default"))) uint32_t ShellExecDetached(const char* commandLine,
                                                                  const std::string& outPath,
                                                                  const std::string& errPath,
                                                                  TWProcProcess** process);

}  // namespace tw

#endif  // TW_PLATFORM_PROCESS_IO_H_
