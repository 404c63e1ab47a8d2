// The debug log of the SNMP programs: lines printed when their level is at most the level
// given with "-D"; catalogue texts are taken by id and formatted with their arguments.
#ifndef TW_SNMP_AGENT_LOG_H_
#define TW_SNMP_AGENT_LOG_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tw::snmp {

class AgentLog {
 public:
  // Lines go to sink (standard output when none), each ended by a line feed.
  explicit AgentLog(int level = 0, std::function<void(std::string_view)> sink = nullptr);

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
};

// Reads "-D" and a level from argv ("-D3" or "-D 3"); 0 without it.
int DebugLevelFromArgs(int argc, char** argv);

}  // namespace tw::snmp

#endif  // TW_SNMP_AGENT_LOG_H_
