// Settings of the named pipes beyond the C interface, for tests.
#ifndef TW_PLATFORM_IPC_H_
#define TW_PLATFORM_IPC_H_

namespace tw {

// The longest a server-side connection waits for its client during one read or write
// (5000 ms unless changed): a client that connects and goes silent, or stops reading, is
// dropped after that. Process-wide; a value below 1 restores the default.
__attribute__((visibility("default"))) void SetIpcServerTimeoutMillis(int millis);

}  // namespace tw

#endif  // TW_PLATFORM_IPC_H_
