// The debug log of the SNMP programs: lines printed when their level is at most the level
// given with "-D"; catalogue texts are taken by id and formatted with their arguments.
#ifndef TW_SNMP_AGENT_LOG_H_
#define TW_SNMP_AGENT_LOG_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace tw::snmp {

class AgentLog {
 public:
  // Lines go to sink (standard output when none), each ended by a line feed.
  explicit AgentLog(int level = 0, std::function<void(std::string_view)> sink = nullptr);
  ~AgentLog();
  AgentLog(const AgentLog&) = delete;
  AgentLog& operator=(const AgentLog&) = delete;

  // Sends the lines to the file at path (made or emptied) instead; when it cannot be opened,
  // says so where the lines went so far and keeps them there.
  void SendTo(const std::string& path);

  int level() const { return level_; }
  void set_level(int level) { level_ = level; }

  // A printf-style line; a format that already ends in "\n" gets no second one.
  void Line(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // The catalogue text of id ("MSG#%d NOT FOUND" when missing) formatted with one integer
  // (ignored by texts that take none).
  void Message(int level, uint32_t id, long argument = 0);

 private:
  void Emit(std::string line);

  int level_;
  std::function<void(std::string_view)> sink_;
  FILE* file_ = nullptr;
};

// The option "-D" with a level and, after ";", a file for the lines ("-D3", "-D 3",
// "-D 3;agent.log"); level 0 and no file without it.
struct DebugOption {
  int level = 0;
  std::string file;
};
DebugOption DebugOptionFromArgs(int argc, char** argv);

}  // namespace tw::snmp

#endif  // TW_SNMP_AGENT_LOG_H_
