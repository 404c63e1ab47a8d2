// The debug log of the SNMP programs.
#include "agent_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue.h"
#include "platform.h"

namespace tw::snmp {

AgentLog::AgentLog(int level, std::function<void(std::string_view)> sink)
    : level_(level), sink_(std::move(sink)) {}

AgentLog::~AgentLog() {
  if (file_ != nullptr) TWFileClose(file_);
}

void AgentLog::SendTo(const std::string& path) {
  FILE* f = TWFileOpen(path.c_str(), TWFILE_WRITE);
  if (f == nullptr) {
    Emit("Warning: Cannot open debug destination: " + path);
    return;
  }
  if (file_ != nullptr) TWFileClose(file_);
  file_ = f;
  sink_ = nullptr;
}

void AgentLog::Emit(std::string line) {
  if (line.empty() || line.back() != '\n') line += '\n';
  if (sink_) {
    sink_(line);
    return;
  }
  FILE* out = file_ != nullptr ? file_ : stdout;
  TWFileWrite(out, static_cast<uint32_t>(line.size()), line.data());
  std::fflush(out);
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

DebugOption DebugOptionFromArgs(int argc, char** argv) {
  DebugOption option;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-D", 2) != 0) continue;
    std::string value = argv[i][2] != '\0' ? argv[i] + 2 : (i + 1 < argc ? argv[i + 1] : "0");
    size_t semicolon = value.find(';');
    if (semicolon != std::string::npos) {
      option.file = value.substr(semicolon + 1);
      value.resize(semicolon);
    }
    option.level = std::atoi(value.c_str());
    break;
  }
  return option;
}

}  // namespace tw::snmp
