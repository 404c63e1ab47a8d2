// Warnings and fatal errors of the foundation library and their replaceable handlers.
#include "twcl/base/error.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<CL_ErrorHandler> warning_handler{&CL_Error::DefaultHandler};
std::atomic<CL_ErrorHandler> fatal_handler{&CL_Error::DefaultHandler};

// The text always ends inside the buffer: vsnprintf cuts it, and a failed conversion
// leaves the buffer empty rather than undefined.
void Format(char (&text)[CL_Error::kTextSize], const char* format, va_list args) {
  text[0] = '\0';
  if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
}

CL_ErrorHandler Exchange(std::atomic<CL_ErrorHandler>& slot, CL_ErrorHandler handler) {
  return handler != nullptr ? slot.exchange(handler) : slot.load();
}

}  // namespace

bool CL_Error::Warning(const char* format, ...) {
  char text[kTextSize];
  va_list args;
  va_start(args, format);
  Format(text, format, args);
  va_end(args);
  return warning_handler.load()(text);
}

void CL_Error::Fatal(const char* format, ...) {
  char text[kTextSize];
  va_list args;
  va_start(args, format);
  Format(text, format, args);
  va_end(args);
  if (fatal_handler.load()(text)) std::exit(1);
}

CL_ErrorHandler CL_Error::SetWarningHandler(CL_ErrorHandler handler) {
  return Exchange(warning_handler, handler);
}

CL_ErrorHandler CL_Error::SetFatalHandler(CL_ErrorHandler handler) {
  return Exchange(fatal_handler, handler);
}

bool CL_Error::DefaultHandler(const char* text) {
  std::fputs("TWCL: ", stderr);
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  return true;
}
