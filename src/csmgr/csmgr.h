// The control-store manager's shared service state: the activity slots, the server
// settings, the open databases and located design elements, the diagnostics level and the
// clock. One instance lives in the process (Service()); every unit of the manager reads
// and changes it, always on the one serving thread.
#ifndef TW_CSMGR_CSMGR_H_
#define TW_CSMGR_CSMGR_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csmgr_wire.h"
#include "platform.h"
#include "plexapi.h"

namespace tw::csmgr {

// ------------------------------------------------------------------------ slots ------

// Slot flags.
inline constexpr uint32_t kSlotMayBeMissing = 0x1;  // OpenActivity bit 0: no document needed
inline constexpr uint32_t kSlotByName = 0x2;        // opened by OpenActivity
inline constexpr uint32_t kSlotLogOff = 0x4;        // LogType 0: the run logs nothing
inline constexpr uint32_t kSlotHoldsLock = 0x10;    // a run by name holding the activity's Lock
// A run of a server that has registered again since: its runner may still be closing and
// using the handle, so the slot (without its documents) is taken again only when no slot is
// free.
inline constexpr uint32_t kSlotRetired = 0x8;

// ActivitySlot::documentId of a slot that is taken but has no document.
inline constexpr uint32_t kSlotTakenNoDocument = 1;

struct CSMgrActivitySlot {
  std::string name;         // at most kTextField - 1 bytes
  uint32_t documentId = 0;  // 0 free, kSlotTakenNoDocument taken without a document
  uint32_t logId = 0;       // the run's log document id, 0 = none
  GVDOC document = 0;       // the open activity document
  GVDOC logDocument = 0;    // the open log document
  uint32_t flags = 0;
  int32_t handle = 0;       // SlotHandle(index) while taken
  int32_t lastMessage = 0;  // last control-store message id written to the run's log
  // The process mark stored beside the Lock: its holder (kSlotHoldsLock, a run by name) or
  // the runner of a scheduled run.
  std::string holder;

  bool Free() const { return documentId == 0; }
  bool HasDocument() const { return documentId > kSlotTakenNoDocument; }
};
using ActivitySlot = CSMgrActivitySlot;

// ------------------------------------------------------------------------ settings ---

struct ServerSettings {
  int32_t statusInterval = 0;  // minutes, from the administrator document
  int32_t pollInterval = 0;    // seconds; the rest from the server document
  int32_t maxDuration = 0;
  int32_t maxActivities = 0;
  int32_t closeTimeout = 0;
  int32_t maxFailures = 0;
  int32_t translate = 0;
  int32_t snmp = 0;
};

// The design elements the manager finds at start-up (0 = not located).
struct AdminDesign {
  GVNOTEID administrators = 0;  // view "(CS_Administrators)"
  GVNOTEID servers = 0;         // "(CS_Servers)"
  GVNOTEID activities = 0;      // "(CS_Activities)"
  GVNOTEID links = 0;           // "(CS_Links)"
  GVNOTEID options = 0;         // "(CS_Options)"
  GVINDEX queuedEvents = 0;     // open index over "(CS_Queued Events)"
  GVINDEX runningServers = 0;   // open index over "(CS_Running Servers)"
  GVINDEX activeEvents = 0;     // "(CS_Active Events)", opened at its first use
};

struct LogDesign {
  GVNOTEID activityForm = 0;  // form "Activity"
  GVNOTEID serverForm = 0;    // form "Server", or "Client" on a client kit
  GVNOTEID servers = 0;       // view "(CS_Servers)"
  GVNOTEID activities = 0;    // view "(CS_Activities)"
  GVNOTEID messages = 0;      // view "(Messages)" (not required)
};

// Kit type of a client installation (dead-server check skipped, "Client" log form).
inline constexpr int32_t kKitClient = 1;

// Diagnostics level bits.
inline constexpr int32_t kDiagTrace = 0x2;  // trace every request on standard output

// The Revision of the Administrator database this program serves, and the one a Release 1
// migration stores after bringing the design up to date (served as well).
inline constexpr int32_t kAdminRevision = 0x20000;
inline constexpr int32_t kMigratedRevision = 0x10000;

// ------------------------------------------------------------------------ service ----

struct ServiceState {
  bool initialised = false;
  uint32_t platformFailure = 0;  // TWPlatInit's status, reported by the start-up
  uint32_t startupFailure = 0;   // catalogue id of a failed start-up; answers every request
  bool startupComplete = false;  // reports stop copying to twmain.err once set

  GVDB adminDb = 0;
  GVDB logDb = 0;
  std::string adminTitle;  // database titles, as reports name them
  std::string logTitle;
  bool plexaStarted = false;

  uint32_t serverId = 0;  // this server's document id, 0 = none registered
  // A server program has said it started (ServerState STARTING) and not yet that it stopped.
  bool serverAttached = false;
  std::string serverName;
  int32_t kitType = 0;
  ServerSettings settings;

  // Added to the local time to give the control store's time.
  GVTIMEADJUST clockOffset{};

  std::array<uint8_t, TWINTL_RECORD_SIZE> intl{};

  AdminDesign admin;
  LogDesign log;

  int32_t diagnostics = 0;   // twmain.ini "Diagnostics"
  GVDOC diagnosticsDoc = 0;  // the current "Bug" log document
  uint32_t diagnosticsEntries = 0;
  GVDOC operationsDoc = 0;  // the operations log ("Operation"), kept open once created

  std::array<ActivitySlot, kSlotCount> slots{};

  // The process id of the client whose request is being handled (0: unknown).
  int requesterProcess = 0;
};

// The process's one service state.
ServiceState& Service();
// Clears every field (slots included) without closing anything.
void ResetService();

// The control store's time: the local current time plus the clock offset; all zeros
// before start-up has finished. The Plexa clock is the machine's, so tests move the control
// store's time with the clock offset.
GVTIMEDATE CSMgrNow();

// ------------------------------------------------------------------------ slots API --

// Takes the lowest free slot (else the lowest retired one), clears it and marks it taken
// without a document; null when none is free.
ActivitySlot* CSMgrSlotTake();
// The slot an odd handle 3..201 names when it is taken; null otherwise.
ActivitySlot* CSMgrSlotFind(int32_t handle);
// Closes the slot's open documents (the activity document discarding changes unless
// keepChanges, the log document with its changes) and clears it whole.
void CSMgrSlotFree(ActivitySlot* slot, bool keepChanges = false);
// Closes the slot's activity document and forgets it, keeping the handle: the slot stays
// taken without a document.
void CSMgrSlotReleaseDocument(ActivitySlot* slot, bool keepChanges = false);

// ------------------------------------------------------------------------ start & stop

// Start-up: Plexa, twmain.ini, databases, design, clock offset, registration. Returns 0 or
// the failure id (also kept in Service().startupFailure).
[[nodiscard]] uint32_t CSMgrServerOpen();
// Ends logs, stops this server, closes indexes and databases, ends Plexa, clears state.
void CSMgrServerClose();
// Re-reads the server settings and twmain.ini's Diagnostics.
[[nodiscard]] uint32_t CSMgrReadConfig();
// Reads the settings of server document id (0: this server's) into Service().settings.
[[nodiscard]] uint32_t CSMgrReadServerLimits(GVNOTEID id = 0);
// Recomputes the clock offset from the Administrator server's clock.
[[nodiscard]] uint32_t CSMgrComputeClockOffset();
// Stops a server (normal or abnormal): ends its log, clears its registration, ends its runs
// and its open logs.
[[nodiscard]] uint32_t CSMgrServerStop(GVNOTEID serverId, bool normal);
[[nodiscard]] uint32_t CSMgrServerAlive();
// A server program starts (ServerState STARTING). The first after this service's own start-up
// finds the server registered already; any later one means that the server's previous run
// ended without stopping (or stopped, and the server is registered anew): the server is
// registered again as at start-up, which ends what that run left locked as terminated
// abnormally, and the slots of its runs are retired.
[[nodiscard]] uint32_t CSMgrServerStarting();
[[nodiscard]] uint32_t CSMgrDeadServerCheck();

// Handles the request held in block (its first Length bytes; the vector may be larger and
// is the server's kept buffer). GetDescription and GetField may grow the vector and the
// header's Length; the reply is the first Length bytes afterwards.
void CSMgrDispatch(std::vector<uint8_t>& block);

// The server loop; returns the exit code. programPath: argv[0], for TWPlatInit.
int CSMgrServerMain(const char* programPath);

}  // namespace tw::csmgr

#endif  // TW_CSMGR_CSMGR_H_
