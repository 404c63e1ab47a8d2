// Starting a program that outlives the one starting it: its input on a pipe the starter
// keeps open, its output and errors in files.
#ifndef TW_PLATFORM_PROCESS_IO_H_
#define TW_PLATFORM_PROCESS_IO_H_

#include <cstdint>
#include <string>

#include "platform.h"

namespace tw {

// Starts commandLine as TWProcShellExec does, with standard input from a new pipe whose
// writing end goes to *input (close-on-exec; the child reads the end of its input once that
// is closed) and standard output and error appended to outPath and errPath (made 0600 when
// missing). TWFAIL_PROCESS_EXEC when the program, the pipe or a file cannot be had; the
// outputs are set only on success.
__attribute__((visibility("default"))) uint32_t ShellExecWithFiles(const char* commandLine,
                                                                   const std::string& outPath,
                                                                   const std::string& errPath,
                                                                   int* input,
                                                                   TWProcProcess** process);

}  // namespace tw

#endif  // TW_PLATFORM_PROCESS_IO_H_
