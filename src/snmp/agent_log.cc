// The debug log of the SNMP programs.
#include "agent_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue.h"

namespace tw::snmp {

AgentLog::AgentLog(int level, std::function<void(std::string_view)> sink)
    : level_(level), sink_(std::move(sink)) {}

void AgentLog::Emit(std::string line) {
  if (line.empty() || line.back() != '\n') line += '\n';
  if (sink_) {
    sink_(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void AgentLog::Line(int level, const char* format, ...) {
  if (level > level_) return;
  char buf[1200];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  Emit(buf);
}

void AgentLog::Message(int level, uint32_t id, long argument) {
  if (level > level_) return;
  std::string text = tw::message_text(id);
  // Catalogue texts take at most one "%d"; anything else is printed as it stands.
  size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(argument));
  Emit(std::move(text));
}

int DebugLevelFromArgs(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-D", 2) != 0) continue;
    const char* value = argv[i][2] != '\0' ? argv[i] + 2 : (i + 1 < argc ? argv[i + 1] : "0");
    return std::atoi(value);
  }
  return 0;
}

}  // namespace tw::snmp
