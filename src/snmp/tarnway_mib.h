// The server's MIB sub-tree 1.3.6.1.4.1.818181.72.11 as the sub-agent serves it: the table of
// objects, the two caches of twmain's state and their refresh over TWSNMP_PIPE, and the
// handlers of gets, get-nexts and sets.
//
// Thread rules: one thread (the sub-agent's loop) uses a MIB.
#ifndef TW_SNMP_TARNWAY_MIB_H_
#define TW_SNMP_TARNWAY_MIB_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agent_log.h"
#include "subtree.h"

namespace tw::snmp {

inline constexpr const char* kTarnwayRoot = "1.3.6.1.4.1.818181.72.11";
const std::vector<ObjectSpec>& TarnwayTable();

// The sub-agent's own "down": twmain does not answer (or has not been asked yet).
inline constexpr int32_t kStateDown = 4;
// A cache is refreshed when asked after this long.
inline constexpr int64_t kCacheMicros = 10'000'000;
// Starts closer together than this start twmain once.
inline constexpr int64_t kStartMicros = 20'000'000;

struct StateCache {
  // The words at offsets 8 to 32 of the reply; the last is the server state.
  std::array<int32_t, 7> words{};
  std::string time, startTime, name, release;
  bool stale = true;
  int64_t refreshed = 0;
  int32_t state() const { return words[6]; }
  void Clear();
  StateCache() { Clear(); }
};

struct ActivityRow {
  int32_t value = 0;  // close requested
  int32_t id = 0;     // run number
  std::string text, name;
};

struct TableCache {
  std::vector<ActivityRow> rows;
  bool stale = true;
  int64_t refreshed = 0;
  void Clear() { rows.clear(); }
};

// Reads a whole reply (header included) into a cache: 0, or TWFAIL_SNMP_READ_SIZE with the
// cache untouched.
[[nodiscard]] uint32_t ParseStateReply(std::string_view reply, StateCache* out);
[[nodiscard]] uint32_t ParseTableReply(std::string_view reply, TableCache* out);

// The client of TWSNMP_PIPE: one request and its reply per connection.
class ServerPipe {
 public:
  explicit ServerPipe(AgentLog& log) : log_(log) {}
  virtual ~ServerPipe() = default;
  // Sends request code (runNumber for close and kill) and reads the reply whole into *reply.
  // 0; 3 when twmain does not serve the pipe; 1 for a failed write or a reply of a bad size
  // or code; 7 for a failed read.
  [[nodiscard]] virtual int Exchange(int32_t code, int32_t runNumber, std::string* reply);
  int requests(int32_t code) const { return code >= 1 && code <= 6 ? counts_[code] : 0; }

 private:
  AgentLog& log_;
  std::array<int, 7> counts_{};
};

class TarnwayMib {
 public:
  // start runs twmain (0 on success).
  TarnwayMib(AgentLog& log, ServerPipe& pipe, std::function<uint32_t()> start);

  // The ObjectHandler of the sub-tree.
  int32_t Handle(uint32_t kind, size_t index, const MibObject& object, Oid* instance,
                 std::string* value);
  // Marks a cache stale once its refresh is older than kCacheMicros.
  void Age();

  const StateCache& state() const { return state_; }
  const TableCache& table() const { return table_; }

 private:
  int RefreshState();
  int RefreshTable();
  // kNoError when sets are allowed, else kReadOnly; reads twmain.ini once.
  int32_t SetsAllowed();
  int32_t ServerStateObject(uint32_t kind, std::string* value);
  int32_t ScalarObject(uint32_t kind, size_t index, const Oid& instance, std::string* value);
  int32_t ColumnObject(uint32_t kind, size_t column, Oid* instance, std::string* value);
  int32_t CloseOrKill(uint32_t kind, uint32_t row, std::string* value);

  AgentLog& log_;
  ServerPipe& pipe_;
  std::function<uint32_t()> start_;
  StateCache state_;
  TableCache table_;
  int32_t requested_ = 0;
  bool started_ = false;
  int64_t startedAt_ = 0;
  enum class Permission { unread, allowed, denied } permission_ = Permission::unread;
  // Close and kill sets of one request: the row and the run number resolved when that row
  // was tested; a commit acts on its own row only.
  std::vector<std::pair<uint32_t, int32_t>> pending_;
  bool committed_ = false;
};

}  // namespace tw::snmp

#endif  // TW_SNMP_TARNWAY_MIB_H_
