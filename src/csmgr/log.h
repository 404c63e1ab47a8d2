// Everything the control store has to say: message lines with their detail lines, the log
// documents (server, activity run, operations, diagnostics), mail on completion, the
// diagnostics log and the files twmain.err and twmain.bug in the installation directory.
#ifndef TW_CSMGR_LOG_H_
#define TW_CSMGR_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "csmgr.h"
#include "plexapi.h"

namespace tw::csmgr {

// ------------------------------------------------------------------------ messages ---

// Logged only, never copied to twmain.err; the catalogue lookup ignores the bit.
inline constexpr uint32_t kLogOnly = 0x10000000;

// The catalogue text of the id ("MSG#%d NOT FOUND" when missing), through the Plexa
// translation.
std::string CSMgrMessageText(uint32_t id);

// Adds "|label = value" to the detail buffer (nothing while reports are off); label is one
// of the TWMSG_DETAIL_ ids. Numbers are "%ld", or "0x%lX" for Document# and values beyond
// -65535..65535.
void CSMgrDetail(uint32_t label, std::string_view value);
void CSMgrDetail(uint32_t label, int64_t value);
// Adds "|text" (a catalogue text formatted with one "%s").
void CSMgrDetailMessage(uint32_t id, std::string_view arg);
const std::string& CSMgrDetailText();
void CSMgrClearDetail();

// Reports switched off while one lives (nested).
class QuietReports {
 public:
  QuietReports();
  ~QuietReports();
  QuietReports(const QuietReports&) = delete;
  QuietReports& operator=(const QuietReports&) = delete;
};
bool CSMgrReportsQuiet();

// The message line: the control-store time as text, a tab, the text and, when there is
// detail, ": " and the detail buffer.
std::string CSMgrMessageLine(std::string_view text, bool withTime = true);

// Writes the message (its catalogue text, or text when given) with the detail buffer to the
// log document (0: the operations log), copies it to twmain.err until start-up has
// completed (unless kLogOnly), and empties the detail buffer. Returns id (low bits kept).
uint32_t CSMgrLogMessage(GVDOC logDoc, uint32_t id);
uint32_t CSMgrLogText(GVDOC logDoc, uint32_t id, std::string_view text);
// Reports a failure in the operations log; returns id.
inline uint32_t CSMgrReport(uint32_t id) {
  return CSMgrLogMessage(0, id);
}
// For an activity slot: remembers id as its last message, then its run's log or the
// operations log.
uint32_t CSMgrLogSlot(ActivitySlot& slot, uint32_t id);
// In the log of a server (its document's LogID); the operations log when it has none.
uint32_t CSMgrLogServer(uint32_t serverDocId, uint32_t id);

// ------------------------------------------------------------------------ log documents

enum class LogKind { kServer, kActivity, kOperations, kDiagnostics };
// Creates a log document (StartTime, Activity and CountList for runs, Server, Body with its
// paragraph definition), optionally writes the message into it, saves it. *id its note id.
[[nodiscard]] uint32_t CSMgrLogCreate(LogKind kind, std::string_view activityName,
                                      uint32_t messageId, GVDOC* doc, GVNOTEID* id);
// Optional message (0: none), FinishTime = now, closes with its changes; *doc becomes 0.
[[nodiscard]] uint32_t CSMgrLogEnd(GVDOC* doc, uint32_t messageId);
// Opens a log document by id and ends it.
[[nodiscard]] uint32_t CSMgrLogEndById(GVNOTEID id, uint32_t messageId);
// Opens the run's log for a slot whose document is open: LogType 0 turns logging off; else
// an activity log with 808 is kept in the slot and, unless opened by name, 808 goes to the
// server's log with the activity name as detail.
[[nodiscard]] uint32_t CSMgrLogStart(ActivitySlot& slot);
// Ends every open log of the server (by name in "(CS_Open Logs)") but those in keep (the
// logs of runs that still go on); abnormal adds the cleanup detail and 809 (activity) or 819
// (other kinds; none for "Bug").
[[nodiscard]] uint32_t CSMgrEndOpenLogs(std::string_view serverName, bool abnormal,
                                        const std::vector<GVNOTEID>& keep = {});
// Stores the counts as CountList of the slot's log (804 on failure) and saves it.
[[nodiscard]] uint32_t CSMgrLogCounts(GVDOC logDoc, const int32_t* counts, size_t n);
// Ends the operations log and the diagnostics log (service close, level change).
void CSMgrEndServiceLogs();
void CSMgrEndDiagnostics();

// ------------------------------------------------------------------------ mail -------

// Mail on completion of the activity in slot (its document open), with the completion text;
// failures are logged as 822 in the operations log. Answers 0 or 822.
[[nodiscard]] uint32_t CSMgrMailSend(ActivitySlot& slot, GVDOC activity,
                                     std::string_view completion);

// ------------------------------------------------------------------------ files ------

// Appends text ("|" made newlines) and a newline to twmain.err in the installation
// directory and prints it on standard error; a file that cannot be opened is skipped.
void CSMgrWriteErrFile(std::string_view text);
// Appends to twmain.bug.
void CSMgrWriteBugFile(std::string_view text);

// ------------------------------------------------------------------------ diagnostics

// One diagnostics entry (when the level is non-zero): a line in the current "Bug" log
// (a new one after 500 entries), else twmain.bug.
void CSMgrDiagnostic(std::string_view text);
// The last Plexa failure's text, as an entry.
void CSMgrPlexaFailure(uint32_t status);
// A Plexa call found the Ordex server not answering (GVERR_NO_SERVER: a PostgreSQL that is
// down or unreachable): 792 with Plexa's reason in the operations log (or twmain.err), at
// any diagnostics level, once until CSMgrServerAnswers is told that a call got through.
void CSMgrServerLost();
void CSMgrServerAnswers();
// "%s(%d)\terror occured in module" for a failed internal check.
void CSMgrInternalFault(const char* unit, int line);
#define CSMGR_CHECK(cond) \
  ((cond) ? true : (::tw::csmgr::CSMgrInternalFault(__FILE__, __LINE__), false))

}  // namespace tw::csmgr

#endif  // TW_CSMGR_LOG_H_
