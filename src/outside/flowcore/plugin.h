// Plug-in modules inside the engine: the registry of loaded activity and connector
// libraries, the entry-point scope that attributes engine calls to the plug-in running on a
// thread, property names, the link descriptions of the current activity and the engine's
// side of connections as the activity layer needs it.
#ifndef TW_FLOWCORE_PLUGIN_H_
#define TW_FLOWCORE_PLUGIN_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "csmgr_records.h"
#include "flowcore.h"
#include "twx.h"

namespace tw::engine {

// Counts of entry-point calls are kept by catalogue row: the row of CSMgrLogCounts ordinal n
// is kFirstEntryRow + n.
inline constexpr uint32_t kFirstEntryRow = TWMSG_FUNCTION_IDENTIFY - 1;

// A loaded plug-in library; opaque to the activity layer.
struct Plugin;

// The identity record the plug-in gave (validated).
const TWXIdentity& IdentityOf(const Plugin& plugin);
// The plug-in's normalised library name (lower case, no ".twx").
const std::string& NameOf(const Plugin& plugin);

// True between TWSystemInit and TWSystemTerm.
bool SystemStarted();

// Loads the activity plug-in of library name (lower-cased, a trailing ".twx" dropped; "/"
// or ".." refused), resolves TWXIdentify and TWXLaunch and checks its identity. Answers 0 and
// *out, or 1539 (cannot load, an entry point missing), 1540 (not an activity, TWXIdentify
// failed, malformed table), 1541 (another version); nothing is logged. The plug-in stays
// loaded until UnloadActivityPlugin.
[[nodiscard]] uint32_t LoadActivityPlugin(std::string_view name, const Plugin** out);
// Unloads what LoadActivityPlugin gave (null: nothing).
void UnloadActivityPlugin(const Plugin* plugin);
// Calls the activity plug-in's TWXLaunch inside its scope; answers its status.
[[nodiscard]] uint32_t LaunchPlugin(const Plugin& plugin);

// The innermost plug-in entry point the engine is running on this thread: the plug-in, the
// link name of the connection (empty for an activity), the catalogue row of the entry
// point's name (TWMSG_FUNCTION_*) and of its word (the action or object kind; 0 for none).
struct Scope {
  const Plugin* plugin = nullptr;
  std::string_view linkName;
  uint32_t entryRow = 0;
  uint32_t wordRow = 0;
};
// Null when no entry point is running on this thread.
const Scope* CurrentScope();

// The name of token for [[TWPn]] and the property lists: the row of the plug-in's table
// (table may be null) that carries token, else the engine's name of a predefined or control
// token with "Src", "Dest" or "Link<n>" before it for link byte 1, 2 or n (none for 0 and
// 255); empty when neither knows it (added names and "0x%08X" are the caller's).
std::string PropertyName(const Plugin* table, uint32_t token);
// The engine's name of a predefined or control token without link byte ("Server",
// "Metadata", "Library", "ConnectCode"...); empty for another token.
std::string_view PredefinedName(uint32_t token);

// Terminates and frees every connection still allocated, disconnecting open ones with
// errorFlag, and forgets the link descriptions (TWActivityTerm, TWActivityFree,
// TWSystemTerm). Answers the first failure of those ends (a disconnect's, whose commit
// failed), else 0.
[[nodiscard]] uint32_t FreeAllConnections(uint32_t errorFlag);
// Stores count i (1 to 18) of the entry point of catalogue row 1280 + i: its calls, or the
// records moved for TWXFetch, TWXInsert, TWXUpdate and TWXRemove, since the last call; then
// starts them again from 0. counts[0] is left as it is.
void EntryCounts(int32_t counts[CSMGR_LOG_COUNTS]);

// The link walk and look-up behind TWActivityListLink and TWActivityLookupLink: the
// connector libraries in the order they became known. ListLinkLibrary answers
// TWFAIL_END_OF_DATA after the last, TWFAIL_INVALID_LIST for another list value and
// TWFAIL_LIST_SETUP for TWLIST_NEXT before a first (a walk per thread); LookupLinkLibrary
// loads and checks an unknown library (1546, 1547, 1548, logged) and gives its link code.
[[nodiscard]] uint32_t ListLinkLibrary(uint32_t list, uint32_t* linkCode, std::string* library);
[[nodiscard]] uint32_t LookupLinkLibrary(std::string_view library, uint32_t* linkCode);

// The description of link linkByte (1 to 254) of the current activity: the link document
// the activity's value of linkByte << 24 | TWTOKEN_LINK names (for link 1 also TWTOKEN_LINK),
// read once per activity. Null with *status (optional) 0 when the activity names no such
// link, or the control store's status. LinkOptions likewise gives the link options the
// activity (linkByte << 24 | TWTOKEN_OPTION) or else the link names.
const Description* LinkDescription(uint32_t linkByte, uint32_t* status);
const Description* LinkOptions(uint32_t linkByte, uint32_t* status);
// Forgets the descriptions read for the current activity (the activity ends).
void ForgetLinkDescriptions();

}  // namespace tw::engine

#endif  // TW_FLOWCORE_PLUGIN_H_
