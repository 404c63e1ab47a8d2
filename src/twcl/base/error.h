// Library-wide reporting: warnings for misuse (the library goes on) and fatal errors
// (exhausted memory), each through a replaceable handler.
//
// Thread rules: the handlers are process-wide; installing and calling them is safe from any
// thread (the tracked heap may report from any thread).
#ifndef TW_TWCL_BASE_ERROR_H_
#define TW_TWCL_BASE_ERROR_H_

#include <cstddef>

// A handler receives the formatted text (without "TWCL: " and without an end of line) and
// answers true or false; for the fatal handler true means "end the process".
using CL_ErrorHandler = bool (*)(const char* text);

class CL_Error {
 public:
  // Room for a formatted text, terminator included; longer texts are cut to 199 characters.
  static constexpr std::size_t kTextSize = 200;

  // Formats printf-style and passes the text to the warning handler; answers its result.
  static bool Warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Formats printf-style and passes the text to the fatal handler. When the handler answers
  // true the process exits with code 1; otherwise Fatal returns to its caller. Never
  // allocates (it serves exhausted memory).
  static void Fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

  // Install a handler and answer the previous one; null installs nothing and only answers
  // the current handler.
  static CL_ErrorHandler SetWarningHandler(CL_ErrorHandler handler);
  static CL_ErrorHandler SetFatalHandler(CL_ErrorHandler handler);

  // The handler installed for both at start: writes "TWCL: ", the text and an end of line
  // to standard error, flushes it, answers true.
  static bool DefaultHandler(const char* text);
};

#endif  // TW_TWCL_BASE_ERROR_H_
