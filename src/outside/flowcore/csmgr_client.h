// The control-store client inside flowcore: one request per pipe connection, its reply
// checked (code, length, growth) before any word of it is read, and one C++ call per
// request code with QMBCS texts in and out. The C calls (CSMgr*) are built on these.
#ifndef TW_FLOWCORE_CSMGR_CLIENT_H_
#define TW_FLOWCORE_CSMGR_CLIENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "flowcore.h"
#include "platform.h"

namespace tw::engine::csmgr {

// A zero-filled request block of length bytes (at least the header) with its Code and
// Length words set.
std::string NewRequest(uint32_t code, uint32_t length);

// Sends *block (its Length, Flags and Status words are set here; flags may hold CSMGR_ASYNC)
// as one request on a connection of its own and replaces *block by the reply. Answers 782 when no
// manager serves the pipe; 783 when the exchange breaks or the reply is malformed: shorter
// than the header, another Code, a Length word other than the bytes received, a length the
// request code does not allow (the reply is the request block: only GetDescription and
// GetField may grow, and only as far as their contents need), or for an asynchronous request
// anything but the acknowledgement {0, 16, 0, 0}; TWFAIL_OVERFLOW for a block above the
// pipe's limit. Otherwise the reply's Status (always 0 for an asynchronous request). *block
// keeps the request unless a well-formed reply came.
[[nodiscard]] uint32_t Exchange(std::string* block, uint32_t flags = 0);

// The reply of ServerInit.
struct ServerInfo {
  int32_t serverId = 0;
  int32_t statusInterval = 0;
  int32_t pollInterval = 0;
  int32_t maxDuration = 0;
  int32_t maxActivities = 0;
  int32_t closeTimeout = 0;
  int32_t translate = 0;
  TWDatetime time{};
  std::string serverName;
  TWIntlFormat intl{};
};

// The reply of NextActivity; handle 0 when nothing is due.
struct NextRun {
  int32_t handle = 0;
  int32_t maxDuration = 0;
  int32_t priority = 0;
  TWDatetime time{};
  std::string name;
};

// One call per request code. Outputs are written only when the answer is 0; a fixed text
// field cuts its text to 511 bytes (at a character boundary); replies whose texts lack
// their NUL, whose handles are out of range, or whose DoneRun word is neither 0 nor the
// waiter answer 783.
[[nodiscard]] uint32_t Bare(uint32_t code);  // Shutdown, Init, Term
[[nodiscard]] uint32_t ServerInit(bool reread, ServerInfo* out);
[[nodiscard]] uint32_t ServerState(int32_t state);
[[nodiscard]] uint32_t NextActivity(NextRun* out);
[[nodiscard]] uint32_t DoneActivity(int32_t handle, uint32_t completion);
[[nodiscard]] uint32_t RunActivity(int32_t waiter, std::string_view wireList);
[[nodiscard]] uint32_t DoneRun(int32_t waiter, bool* finished);
// *records: the record list through its end record.
[[nodiscard]] uint32_t GetDescription(int32_t handle, std::string* records);
// records: complete, end record included.
[[nodiscard]] uint32_t PutDescription(int32_t handle, std::string_view records);
[[nodiscard]] uint32_t GetID(uint32_t kind, std::string_view name, int32_t* documentId);
[[nodiscard]] uint32_t LogText(int32_t handle, uint32_t messageId, std::string_view text);
[[nodiscard]] uint32_t LogCounts(int32_t handle, const int32_t* counts);
[[nodiscard]] uint32_t Time(TWDatetime* now);
[[nodiscard]] uint32_t AdjustClock(const CSMgrClockAdjustment& adjustment);
[[nodiscard]] uint32_t GetField(int32_t handle, std::string_view item, std::string* value);
[[nodiscard]] uint32_t PutField(int32_t handle, std::string_view item, std::string_view value);
[[nodiscard]] uint32_t OpenActivity(std::string_view name, uint32_t flags, int32_t* handle);

}  // namespace tw::engine::csmgr

#endif  // TW_FLOWCORE_CSMGR_CLIENT_H_
