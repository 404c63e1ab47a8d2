// Settings of the named pipes beyond the C interface, for tests, and the process at the
// other end of a connection.
#ifndef TW_PLATFORM_IPC_H_
#define TW_PLATFORM_IPC_H_

#include <string>
#include <string_view>

struct TWIPC;

namespace tw {

// The longest a server-side connection waits for its client during one read or write
// (5000 ms unless changed): a client that connects and goes silent, or stops reading, is
// dropped after that. Process-wide; a value below 1 restores the default.
__attribute__((visibility("default"))) void SetIpcServerTimeoutMillis(int millis);

// The process id of the client of a connection that a server accepted, as it was when the
// client connected; 0 when the handle is not such a connection or the system cannot tell.
__attribute__((visibility("default"))) int IpcPeerProcessId(TWIPC* conn);

// A text that names one process of this machine for as long as the machine runs: its
// boot, its id and its start time, so that a later process given the same id is never taken
// for it; pid 0 names this process. Empty when no process of that id runs.
__attribute__((visibility("default"))) std::string ProcessMark(int pid);
// Whether the process a mark names still runs (an empty or malformed mark: false).
__attribute__((visibility("default"))) bool ProcessMarkAlive(std::string_view mark);

}  // namespace tw

#endif  // TW_PLATFORM_IPC_H_
