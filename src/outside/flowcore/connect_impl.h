// Internals shared by the plug-in loader, the link sources and the connection verbs: the
// loaded plug-in record with its entry points, the entry-point scope, entry counting,
// property rows and the small logging and text helpers they all use.
#ifndef TW_FLOWCORE_CONNECT_IMPL_H_
#define TW_FLOWCORE_CONNECT_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "csmgr_records.h"
#include "plugin.h"

namespace tw::engine {

// The seventeen connector entry points, resolved by name.
struct ConnectorEntries {
  TWXActionProc action = nullptr;
  TWXCatalogProc catalog = nullptr;
  TWXConnectProc connect = nullptr;
  TWXCreateProc create = nullptr;
  TWXDisconnectProc disconnect = nullptr;
  TWXDropProc drop = nullptr;
  TWXExecuteProc execute = nullptr;
  TWXFetchProc fetch = nullptr;
  TWXGetPropertyProc getProperty = nullptr;
  TWXIdentifyProc identify = nullptr;
  TWXInitializeProc initialize = nullptr;
  TWXInsertProc insert = nullptr;
  TWXRemoveProc remove = nullptr;
  TWXSelectProc select = nullptr;
  TWXSetPropertyProc setProperty = nullptr;
  TWXTerminateProc terminate = nullptr;
  TWXUpdateProc update = nullptr;
};

struct Plugin {
  std::string name;  // normalised library name
  void* library = nullptr;
  TWXIdentity identity{};
  std::span<const TWXPropertyDef> rows;  // the table without its end row
  TWXLaunchProc launch = nullptr;        // activities
  ConnectorEntries entry;                // connectors
  uint32_t linkCode = 0;                 // connectors: n << 16

  // Live connections and the connection numbers; lifecycle is held across TWXInitialize
  // and TWXTerminate so that the first and last bits reach the plug-in in order.
  std::mutex lifecycle;
  uint32_t live = 0;
  uint32_t serial = 0;
};

// The row of plugin's table that carries token exactly; null when none.
const TWXPropertyDef* FindRow(const Plugin& plugin, uint32_t token);

// The connector library named library (normalised first), loaded and checked when the
// process does not have it yet. Failures are logged with the name: 1546, 1547, 1548.
[[nodiscard]] uint32_t AcquireConnector(std::string_view library, Plugin** out);
// Unloads every connector library (TWSystemTerm, after every connection is gone).
void UnloadConnectors();

// Makes an entry point of plugin the innermost scope of this thread while it lives and,
// unless countCall is false, counts one call of its catalogue row.
class EntryScope {
 public:
  EntryScope(const Plugin& plugin, std::string_view linkName, uint32_t entryRow,
             uint32_t wordRow = 0, bool countCall = true);
  ~EntryScope();
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;

 private:
  Scope scope_;
  const Scope* outer_;
};

// Adds amount to the count of the entry point of catalogue row entryRow.
void CountEntry(uint32_t entryRow, uint32_t amount);

// Log helpers: catalogue status with [[TWS1]] text (empty: absent) and int1, or with the
// [[TWP1]] token. All answer status.
uint32_t LogWithArgs(uint32_t status, uint32_t int1, std::string_view text);
uint32_t LogWithText(uint32_t status, std::string_view text);
uint32_t LogWithToken(uint32_t status, uint32_t token);

// The text of a caller's stream (any character set) as UTF-8; a null stream gives "".
[[nodiscard]] uint32_t StreamText(const TWStream* stream, std::string* out);
// The first value of field as native text; empty for a null field or value, and when it does
// not read as text.
std::string FieldText(const TWFieldImpl* field);
// Stores text (UTF-8) into the caller's stream as native text.
[[nodiscard]] uint32_t SetStreamText(TWStream* stream, std::string_view text);

// Where the property values of a new connection come from, and what it is called.
struct LinkSource {
  std::string library;        // the connector library as named
  std::string name;           // TWTOKEN_NAME of the connection
  int32_t linkId = 0;         // TWTOKEN_LINK
  int32_t optionId = 0;       // TWTOKEN_OPTION
  uint32_t overrideByte = 0;  // link byte of the activity's values; 0: none
  const Description* link = nullptr;
  const Description* options = nullptr;
  Description ownLink;  // storage when the descriptions are not the activity's
  Description ownOptions;
};
// Link n (1 to 254) of the current activity; link document named name; connector library
// named name. Failures are logged (1544, 1545, the control store's status).
[[nodiscard]] uint32_t ResolveActivityLink(uint32_t linkByte, LinkSource* out);
[[nodiscard]] uint32_t ResolveNamedLink(std::string_view name, LinkSource* out);
[[nodiscard]] uint32_t ResolveConnector(std::string_view name, LinkSource* out);
// The value for a row token of the connector's table: the activity's (with the override
// byte), else the link description's, else the link options'; null when none.
const TWFieldImpl* SourceValue(const LinkSource& source, uint32_t rowToken);

struct BlockDeleter {
  void operator()(void* block) const { std::free(block); }
};

// A live connection: the connector's context block and what the engine answers itself.
struct Connection {
  Plugin* plugin = nullptr;
  // contextSize bytes from calloc: every byte zero (an array of max_align_t would leave the
  // unused bytes of its long double undefined) and aligned for any type.
  std::unique_ptr<void, BlockDeleter> block;
  uint32_t connectCode = 0;
  bool connected = false;
  std::string name;     // TWTOKEN_NAME
  std::string library;  // TWTOKEN_LIBRARY
  int32_t linkId = 0;
  int32_t optionId = 0;
  size_t listCursor = SIZE_MAX;  // TWConnectListProperty's walk

  TWXContext* context() { return reinterpret_cast<TWXContext*>(block.get()); }
};

// The live connection a handle names, held for one call (no other call on it runs, nor can
// it be freed, meanwhile); false when the handle names none. Takes no process-wide lock.
class Held {
 public:
  explicit Held(TWCONNECT handle);
  explicit operator bool() const { return connection_ != nullptr; }
  Connection* operator->() const { return connection_; }
  Connection& operator*() const { return *connection_; }

 private:
  Connection* connection_ = nullptr;
  std::unique_lock<std::mutex> lock_;
};

// Runs call(Connection&) on the connection handle names, held for the call; answers its
// status, TWFAIL_TWXINIT before TWSystemInit, TWFAIL_INVALID_CONNECT when handle names no live
// connection.
template <class Call>
[[nodiscard]] uint32_t WithConnection(TWCONNECT handle, Call&& call) {
  if (!SystemStarted()) return TWFAIL_TWXINIT;
  Held c(handle);
  if (!c) return TWFAIL_INVALID_CONNECT;
  return call(*c);
}

// A one-value field of type (TWTYPE_BINARY carries text lists) with a null value.
[[nodiscard]] uint32_t NewValueField(uint32_t type, FieldPtr* out);

}  // namespace tw::engine

#endif  // TW_FLOWCORE_CONNECT_IMPL_H_
