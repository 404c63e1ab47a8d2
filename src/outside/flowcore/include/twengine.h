/* The engine library flowcore, working half: the control-store client (CSMgr*), the current
 * activity with its properties, status, log and runs (TWActivity*), and connections through
 * connector plug-ins (TWConnect*). The plug-in side of the same contract is src/link/include/twx.h;
 * the value families (streams, fields, field lists, datetimes, numbers) are flowcore.h.
 *
 * Every function is callable from C and never throws. A function that answers a status
 * returns 0 or a message-catalogue id (twstatus.h); a failing call leaves its outputs as they
 * were, except handle outputs, which are set to TWNULLHANDLE first. Functions whose
 * description says "answers" a value return that and no status.
 *
 * Text arguments are TWStream records of any character set (the engine converts); text the
 * engine hands out is written into the caller's stream as native text (TWSTREAMFMT_NATIVE)
 * unless a format is asked for, replacing the stream's data and keeping its maxLength and
 * flags. The caller owns every stream and value record it passes and frees stream data on
 * every path; fields and field lists passed in stay the caller's.
 *
 * Start and end: TWSystemInit (flowcore.h) before any TWActivity or TWConnect call (else
 * TWFAIL_TWXINIT), TWSystemTerm last: it ends the current activity, frees every connection
 * still allocated and unloads the plug-ins. The control-store client needs only TWPlatInit.
 *
 * Thread rules: the current activity is process-wide; its calls may come from any thread
 * and are serialised inside. A connection handle is used by one thread at a time; different
 * connections may be used on different threads at once. Control-store calls open their own
 * pipe connection each and may come from any thread. A call made from inside a plug-in entry
 * point (on the thread the engine called it on) is attributed to that plug-in: its property
 * table names the tokens of its log texts. */
#ifndef TW_FLOWCORE_TWENGINE_H_
#define TW_FLOWCORE_TWENGINE_H_

#include <stddef.h>
#include <stdint.h>

#include "flowcore.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------- run table --------- */

/* The server's run table: named shared memory TWMSGTBL_NAME of TWMSGTBL_SIZE bytes holding
 * TWMSGTBL_ENTRIES entries of five little-endian 32-bit words; entry i lies at offset
 * TWMSGTBL_ENTRY_SIZE * i. The server writes handle and closeRequest; the runner writes
 * result; the engine only reads closeRequest (atomically: another process writes it). */
#define TWMSGTBL_NAME "TWMSGTBL"
#define TWMSGTBL_SIZE 2000u
#define TWMSGTBL_ENTRIES 100u
#define TWMSGTBL_ENTRY_SIZE 20u
/* The result word of an entry no runner has written. */
#define TWMSGTBL_NO_RESULT ((uint32_t)TWEVENT_ACTIVITY_KILLED)
/* Values of closeRequest. */
#define TWCLOSE_NONE 0u
#define TWCLOSE_REQUESTED 1u
#define TWCLOSE_TIMEOUT 2u

typedef struct MsgTblEntry {
  int32_t handle;        /* the activity handle of the run holding the entry; 0 = free */
  uint32_t closeRequest; /* TWCLOSE_* */
  uint32_t result;       /* 0 or a message id; TWMSGTBL_NO_RESULT until the runner writes */
  uint32_t reserved1;    /* touched by no program */
  uint32_t reserved2;
} MsgTblEntry;

/* ---------------------------------------------------------------- control store ----- */

/* The control-store client: each call is one request over the named pipe "TWCSMP" to the
 * control-store manager (ctlstore) and answers the reply's status: 0 or the catalogue id the
 * manager sends (its requests name them: TWFAIL_CSMGR_ARGUMENT for a malformed request or
 * no free activity slot, TWFAIL_CSMGR_NOT_INIT before the manager is initialised, the
 * failure of its start-up such as TWFAIL_ADMIN_DB for every request after it,
 * TWFAIL_NO_CONFIG_DOC to TWFAIL_LOG_ITEM for missing documents and items). The client's own
 * answers: TWFAIL_CSMGR_UNREACHABLE when no manager serves the pipe,
 * TWFAIL_CSMGR_COMMUNICATION when the exchange breaks or the reply is malformed,
 * TWFAIL_MEMORY. Texts cross the pipe as QMBCS (UTF-8); fixed text fields of 512 bytes
 * carry at most 511 bytes of text, longer text is cut. Outputs are set only when the answer
 * is 0.
 *
 * An activity handle names an activity to the manager: an odd number 2 x slot + 3 (3 to 201)
 * for one of its 100 open activity slots, or an even number, the document id of an activity
 * (or link, or link-options) document. */

/* Server states of CSMgrServerState. */
#define CSMGR_STATE_DOWN 0
#define CSMGR_STATE_STARTING 1
#define CSMGR_STATE_ALIVE 2
/* Flags of CSMgrOpenActivity. */
#define CSMGR_OPENF_MAY_BE_MISSING 0x1u
/* Kinds of CSMgrGetID: the view searched by name. */
#define CSMGR_ID_ADMINISTRATOR 1u
#define CSMGR_ID_SERVER 2u
#define CSMGR_ID_ACTIVITY 3u
#define CSMGR_ID_LINK 4u
#define CSMGR_ID_OPTIONS 5u
/* The number of counts CSMgrLogCounts stores in a run log. */
#define CSMGR_LOG_COUNTS 19u

/* The server's settings, filled by CSMgrInit and CSMgrServerInfo. The caller zeroes the
 * record and creates serverName before the first call and frees serverName's data after the
 * last; a call replaces its data.
 *   serverId        the server document's id
 *   statusInterval  minutes between "still active" reports
 *   pollInterval    seconds between polls
 *   maxDuration     minutes: the server's default longest run
 *   maxActivities   the most runs at once
 *   closeTimeout    seconds a closing run may take before it is killed
 *   startTime       the control store's time when the reply was made (at CSMgrInit: the
 *                   server's start)
 *   serverName      the server's name, native text */
typedef struct CSMgrServerSettings {
  int32_t serverId;
  int32_t statusInterval;
  int32_t pollInterval;
  int32_t maxDuration;
  int32_t maxActivities;
  int32_t closeTimeout;
  TWDatetime startTime;
  TWStream serverName;
} CSMgrServerSettings;

/* The next due activity, filled by CSMgrNextActivity; activityName as serverName above.
 *   activityHandle  the slot handle of the run; 0 = nothing is due
 *   maxDuration     minutes; -1 when the activity sets none
 *   priority        the run's process priority
 *   startTime       the scheduled start (the control store's time of the answer)
 *   activityName    native text */
typedef struct CSMgrNextActivityRecord {
  int32_t activityHandle;
  int32_t maxDuration;
  int32_t priority;
  TWDatetime startTime;
  TWStream activityName;
} CSMgrNextActivityRecord;

/* Amounts by which CSMgrAdjustClock moves the control store's clock; each may be negative
 * or exceed its usual range (90 minutes, 86400 seconds). unused is ignored; fraction is the
 * clock's finest unit. */
typedef struct CSMgrClockAdjustment {
  int32_t years;
  int32_t months;
  int32_t days;
  int32_t unused;
  int32_t hours;
  int32_t minutes;
  int32_t seconds;
  int32_t fraction;
} CSMgrClockAdjustment;

/* Starts the manager program "ctlstore" from the installation directory unless a manager
 * already serves the pipe, and waits (at most 90 seconds) until one does. 0 when a manager
 * serves the pipe; TWFAIL_PROCESS_EXEC when the program cannot be started; 782 when it
 * never came to serve (it may have ended at once, for example finding another manager). */
TW_API uint32_t CSMgrStartup(void);
/* Opens the caller's session: Init, then ServerInit without re-reading the configuration.
 * With settings not null fills *settings. The reply's international format is kept for the
 * activity layer (TWActivityInit installs it). */
TW_API uint32_t CSMgrInit(CSMgrServerSettings* settings);
/* ServerInit asking the manager to re-read its configuration first; fills *settings (null:
 * TWFAIL_NULL_RESULT). */
TW_API uint32_t CSMgrServerInfo(CSMgrServerSettings* settings);
/* Reports the server's state: CSMGR_STATE_STARTING (a server program starts and registers,
 * also with a manager that served an earlier run of it: whatever that run left locked is
 * ended as terminated abnormally), CSMGR_STATE_ALIVE (the periodic "still active") or
 * CSMGR_STATE_DOWN (the server stops normally). 795 when no server is registered (for
 * STARTING: when the server's document does not exist), 779 for another state. */
TW_API uint32_t CSMgrServerState(int32_t state);
/* Takes the next due activity of this server and fills *next (null: TWFAIL_NULL_RESULT);
 * activityHandle 0 with status 0 when nothing is due. 779 when the manager has no free slot. */
TW_API uint32_t CSMgrNextActivity(CSMgrNextActivityRecord* next);
/* Reports the end of the run of handle and frees its slot: completion 0 when it finished
 * normally, else the completion message id (4146 to 4153). 797 for an unknown handle. */
TW_API uint32_t CSMgrDoneActivity(int32_t handle, uint32_t completion);
/* Opens the activity named name for a run started by name: the manager takes a slot, opens
 * the activity's document and its run log; *handle receives the slot's handle. flags
 * CSMGR_OPENF_MAY_BE_MISSING lets a name without a document have a slot (without document);
 * without it such a name answers 797. 779 when no slot is free; a null name:
 * TWFAIL_NULL_BUFFER. */
TW_API uint32_t CSMgrOpenActivity(int32_t* handle, const TWStream* name, uint32_t flags);
/* Writes text (null: an empty text) as a line of the run log of handle, or of the
 * operations log for handle 0, under messageId (0 or a message id, TWSTATUSF_EVENT allowed).
 * The manager writes nothing when logging is off for the run, or when messageId is one of
 * its own (768 to 1023) and equals the last one it wrote for the run. An unknown handle:
 * 797, and the line goes to the operations log. */
TW_API uint32_t CSMgrLog(int32_t handle, uint32_t messageId, const TWStream* text);
/* Stores the CSMGR_LOG_COUNTS counts as the count list of the run log of handle; 804 when
 * the log lacks it. */
TW_API uint32_t CSMgrLogCounts(int32_t handle, const int32_t counts[CSMGR_LOG_COUNTS]);
/* *now receives the control store's current time (all zeros before its start-up ended). */
TW_API uint32_t CSMgrTime(TWDatetime* now);
/* Moves the control store's clock by the amounts given (tests and operators). */
TW_API uint32_t CSMgrAdjustClock(const CSMgrClockAdjustment* adjustment);
/* The description of the activity of handle, or of the document whose even id handle is
 * (an activity, link or link-options document): *records receives, as a TWSTREAMFMT_BLOB
 * stream, the field records as the pipe carries them (csmgr_wire.h), ended by a record
 * whose token is 0. Link and link-options names are already turned into document ids. 797
 * (no document), 798 (an item missing, the name lists not matching), 799 (a link name not
 * found), TWFAIL_MEMORY. */
TW_API uint32_t CSMgrGetDescription(int32_t handle, TWStream* records);
/* Stores field records (as CSMgrGetDescription gives them; the end record may be left out)
 * into the document of handle and saves it. Numbers, datetimes, texts and rich text are
 * stored, text lists are ignored. A token the document does not list: 798, and no later
 * record is stored. A slot without a document: 798. */
TW_API uint32_t CSMgrPutDescription(int32_t handle, const TWStream* records);
/* The item itemName (QMBCS, NUL-terminated, at most 511 bytes) of the document of handle as
 * text, into *value. 797 no document, 798 no such item; a slot opened without a document
 * answers 0 and an empty text. */
TW_API uint32_t CSMgrGetField(int32_t handle, const char* itemName, TWStream* value);
/* Stores value's text (null: an empty text) as the text item itemName of the document of
 * handle and saves it; 798 when it cannot be stored. */
TW_API uint32_t CSMgrPutField(int32_t handle, const char* itemName, const TWStream* value);
/* Asks the manager to start the activities named in names (a TWSTREAMFMT_TEXT_LIST stream,
 * or one name as text) at its next poll. waiter (a handle or document id; 0 none) is the
 * activity that will wait for them (CSMgrDoneRun); a slot without a document waits for
 * nothing. 779 for an empty list; 797 when a name is not found (the others are started all
 * the same). */
TW_API uint32_t CSMgrRunActivity(int32_t waiter, const TWStream* names);
/* *finished receives 1 when every activity that waiter started with CSMgrRunActivity has
 * finished, else 0. 797 when waiter names no document. */
TW_API uint32_t CSMgrDoneRun(int32_t waiter, int32_t* finished);
/* *documentId receives the id of the first document named name in the view of kind
 * (CSMGR_ID_*). Not found: 787, 795, 797, 799 or 801 by kind; another kind: 779. */
TW_API uint32_t CSMgrGetID(uint32_t kind, const TWStream* name, int32_t* documentId);
/* Ends the caller's session (Term) and forgets the kept international format. */
TW_API uint32_t CSMgrTerm(void);
/* Asks the manager to close its databases and end (Shutdown). */
TW_API uint32_t CSMgrShutdown(void);

/* ---------------------------------------------------------------- the activity ------ */

/* The current activity: at most one per process, made by the runner from its run-table entry
 * (TWActivityInit) or by a program (TWActivityAlloc). Plug-ins work on it through the calls
 * below; the handle type TWACTIVITY names none of them.
 *
 * Its properties are values by token (twconst.h). The top byte of a token selects a link: 0
 * the activity itself, TWTOKENF_SRC (1) and TWTOKENF_DEST (2) and any n up to 254 link n of
 * the activity, TWTOKENF_EXTERN connections by connector name; TWTOKENF_PREDEF and
 * TWTOKENF_CONTROL select the predefined link properties and the control properties; the low
 * 16 bits number a plug-in's own properties from 1 (the activity plug-in's for link byte 0,
 * the link's connector's otherwise). TWTOKENF_RESERVED marks tokens that the engine hands out
 * for added properties.
 *
 * Reading token t: (1) the activity's own value for t (its description in the control
 * store, values added or set since); (2) when t has link byte 1 and the predefined or
 * control group, the activity's value for t without its link byte (an activity with one
 * link may leave the byte out); (3) when t has link byte n, the value of t &
 * TWTOKEN_VALUE_MASK in link n's description (the link document whose id is the activity's
 * value for n << 24 | TWTOKEN_LINK), then in the description of the link options that the
 * activity (n << 24 | TWTOKEN_OPTION) or else the link (TWTOKEN_OPTION) names. No value
 * anywhere: TWFAIL_MISSING_PROPERTY, which is not logged (a caller that needs the value logs
 * 12553 with the token).
 *
 * The log: entries go to the run's log in the control store (CSMgrLog under the entry's
 * status) when the activity has a control-store handle, else to standard error, one line per
 * entry with each "|" turned into a line end. A failure (a non-zero status without
 * TWSTATUSF_EVENT) becomes the activity's status until TWActivityClearStatus and is written
 * after "Error: "; an entry made inside a connector entry point is followed by
 * "  -- Link '<link name>'    (Function -<entry point>-)". Texts come from the catalogue
 * (TWLibraryLoadString; "MSG#<id> NOT FOUND" when missing) with their markup filled:
 *   [[TWSn]]  stream argument n (1 to 3), as text;
 *   [[TWIn]]  integer argument n as a signed decimal;
 *   [[TWPn]]  integer argument n as a property token: its name in the property table of the
 *             plug-in that logs (the one whose entry point is running on this thread; else
 *             the activity plug-in), else the engine's name of a predefined or control token
 *             ("Server", "Metadata", ...; "Src", "Dest" or "Link<n>" before it for a link
 *             byte), else an added property's name, else "0x%08X";
 *   [[TWTn]]  integer argument n as a type name: TWTYPE_* 0 to 7 by catalogue rows 1408 to
 *             1415, a list stream format 0x40000001 to 0x40000005 by rows 1441 to 1445;
 *   [[TWOn]]  integer argument n as an object kind (TWOBJECT_*) by rows 1377 to 1381.
 * An argument is absent when a stream is null or empty, or when the integer of a P, T or O
 * markup is 0 (I markup is never absent). A segment [[TWX(]] ... [[TWX)]] (segments nest) is
 * dropped when a markup directly inside it is absent; the detail part, from [[TWX]] to the
 * end, is dropped when a markup in it outside segments is absent; [[TWX]] itself gives
 * nothing. An absent markup outside any segment or detail gives nothing.
 *
 * Common answers of the activity calls: TWFAIL_TWXINIT before TWSystemInit;
 * TWFAIL_ACTIVITY_NOT_INIT without a current activity (the log calls then still write to
 * standard error and answer as usual); TWFAIL_NULL_BUFFER for a null record the call reads,
 * TWFAIL_NULL_RESULT for a null one it writes (out-parameters said to be optional may be
 * null). */

/* Makes the current activity for the runner from its run-table entry (the server's entry in
 * TWMSGTBL, or a zeroed private block whose handle word the runner filled in). The engine
 * reads entry->handle, gets the activity's description from the control store, installs the
 * control store's international format (CSMgrInit received it) and from then on watches
 * entry->closeRequest; it never writes the entry, which must stay mapped until
 * TWActivityTerm. Answers 1537 for handle 0, 1538 when the description names no activity
 * library (TWTOKEN_LIBRARY), the control store's status when the description cannot be had
 * (782, 797, 798, 799), TWFAIL_UNAVAILABLE when an activity is current already. */
TW_API uint32_t TWActivityInit(MsgTblEntry* entry);
/* Loads the activity plug-in named by the description's TWTOKEN_LIBRARY (lower-cased, a
 * trailing ".twx" dropped) from the installation directory, checks its identity and calls
 * its TWXLaunch; answers TWXLaunch's status. Failures before the call are logged with the
 * library's name and answered: 1539 when it cannot be loaded or lacks TWXIdentify or
 * TWXLaunch, 1540 when its identity is not an activity's or its property table is
 * malformed, 1541 for another interface version. The plug-in stays loaded until the
 * activity ends. A second launch of one activity: TWFAIL_UNAVAILABLE. */
TW_API uint32_t TWActivityLaunch(void);
/* Ends the activity made by TWActivityInit: frees the connections it left allocated
 * (disconnecting them, with the error flag when the activity's status is not 0), stores the
 * run's counts in its log (CSMgrLogCounts: count 0 the failures logged, count i from 1 to 18
 * the calls of the entry point named by catalogue row 1280 + i, records moved for the
 * counted verbs), unloads its plug-in and forgets the activity. It neither writes the
 * run-table entry nor reports the run done. Answers 0 or the first failure; the activity is
 * gone in either case. */
TW_API uint32_t TWActivityTerm(void);
/* Makes the current activity for a program (a script, a probe, a test). name is text in
 * format (0: TWSTREAMFMT_NATIVE; TWSTREAMFMT_UNICODE: two-byte text ended by a zero pair;
 * other character sets: ended by a NUL). With a name that is not empty the activity is
 * named: the engine opens it through the control store (CSMgrOpenActivity allowing it to be
 * missing), takes its properties from its description when it has a document, and logs to
 * its run log; without a serving control store the answer is that failure (782). Without a
 * name (null or empty) the activity is unnamed and stand-alone: it needs no control store,
 * has only the properties the program adds and sets, logs to standard error, and
 * TWActivityGetCommand answers 0. flags: reserved, pass 0. TWFAIL_UNAVAILABLE when an
 * activity is current already. */
TW_API uint32_t TWActivityAlloc(uint32_t flags, const void* name, uint32_t format);
/* Ends an activity made by TWActivityAlloc as TWActivityTerm does and, for a named activity,
 * reports its run done to the control store (CSMgrDoneActivity with 0, or 4148 when its
 * status is not 0). Answers 0 or the first failure; the activity is gone in either case. */
TW_API uint32_t TWActivityFree(void);

/* Adds a property named name (null: the empty name) to the current activity; *token
 * receives its token (TWTOKENF_RESERVED | a number from 1). A name the activity already
 * knows (a row of its plug-in's table, an earlier add) gives that property's token and
 * changes nothing. store:
 *   TWPROPSTORE_DYNAMIC  the value lives in memory for this activity only;
 *   TWPROPSTORE_STATIC   the value is the activity document's item of that name, read and
 *                        written through the control store (CSMgrGetField, CSMgrPutField)
 *                        and so kept for the next run; TWFAIL_STATIC_PROPERTY for an
 *                        activity without a document (an unnamed one among them);
 *   TWPROPSTORE_SYSTEM   the value is kept by the engine for the process until TWSystemTerm,
 *                        so that a later activity of the process that adds the same name
 *                        sees it.
 * Another store: TWFAIL_INVALID_FLAGS. */
TW_API uint32_t TWActivityAddProperty(const TWStream* name, uint32_t store, uint32_t* token);
/* Converts the value of token (read as described above) into value 1 of dest, a field of
 * any type the caller allocated, by the field conversion rules (flowcore.h); a null value
 * makes it null. No value: TWFAIL_MISSING_PROPERTY and dest unchanged. */
TW_API uint32_t TWActivityGetProperty(uint32_t token, TWFIELD dest);
/* Answers 1 or 0: an integer value is 1 when non-zero; a text "1", "Y", "Yes", "T", "True"
 * or "On" (any case, blanks around ignored) is 1 and "0", "N", "No", "F", "False", "Off" or an
 * empty text is 0. Any other value, a null or missing one, or no current activity:
 * defaultValue. */
TW_API int32_t TWActivityGetPropertyBoolean(uint32_t token, int32_t defaultValue);
/* The value of token converted to the type (field conversion rules). A null or missing
 * value answers TWFAIL_MISSING_PROPERTY, a failed conversion its status; *dest is then
 * unchanged, so a default placed there beforehand stays. */
TW_API uint32_t TWActivityGetPropertyInt(uint32_t token, int32_t* dest);
TW_API uint32_t TWActivityGetPropertyFloat(uint32_t token, double* dest);
TW_API uint32_t TWActivityGetPropertyCurrency(uint32_t token, TWCurrency* dest);
TW_API uint32_t TWActivityGetPropertyNumeric(uint32_t token, TWNumeric* dest);
TW_API uint32_t TWActivityGetPropertyDatetime(uint32_t token, TWDatetime* dest);
/* The value of token converted to format (0: native text; TWSTREAMFMT_TEXT_LIST gives a
 * list value whole and a single text as a one-entry list; a list read as text gives its
 * first entry) into *dest, whose data is replaced. */
TW_API uint32_t TWActivityGetPropertyStream(uint32_t token, uint32_t format, TWStream* dest);
/* Gives token the value 1 of src (copied) for the rest of the activity and keeps it for the
 * next run: a token of the activity's description or its plug-in's table is stored in the
 * activity document (CSMgrPutDescription of one field: integers as numbers, datetimes as
 * datetimes, text as text, floats, currency and numerics as their text; text lists stay for
 * this run only), a static property as its item, a system property for the process; a
 * dynamic property, and every value of an activity without a document, are kept in memory
 * only. A null value takes the value away for this run and stores nothing. Answers 0 or the
 * control store's status (798 when the document does not list the token); the value is set
 * for this run either way. */
TW_API uint32_t TWActivitySetProperty(uint32_t token, TWFIELD src);
/* As TWActivitySetProperty with a one-value field of the matching type built from *src; a
 * null src sets a null value. */
TW_API uint32_t TWActivitySetPropertyInt(uint32_t token, const int32_t* src);
TW_API uint32_t TWActivitySetPropertyFloat(uint32_t token, const double* src);
TW_API uint32_t TWActivitySetPropertyCurrency(uint32_t token, const TWCurrency* src);
TW_API uint32_t TWActivitySetPropertyNumeric(uint32_t token, const TWNumeric* src);
TW_API uint32_t TWActivitySetPropertyDatetime(uint32_t token, const TWDatetime* src);
TW_API uint32_t TWActivitySetPropertyStream(uint32_t token, const TWStream* src);
/* Walks the current activity's properties: list TWLIST_FIRST starts at the first,
 * TWLIST_NEXT gives the next; TWFAIL_END_OF_DATA after the last, TWFAIL_INVALID_LIST for
 * another list value, TWFAIL_LIST_SETUP for TWLIST_NEXT without a walk. Order: the rows of
 * the activity plug-in's table (once launched), the other tokens of the description in its
 * order, the added properties in the order added. Out-parameters (each optional): the token,
 * the field type (TWTYPE_*), the store (TWPROPSTORE_*) and the name as native text (the
 * row's or added name, else the engine's name of a predefined or control token, else ""). */
TW_API uint32_t TWActivityListProperty(uint32_t list, uint32_t* token, uint32_t* type,
                                       uint32_t* flags, TWStream* name);

/* Answers the activity's status: its last failure logged since it began or since
 * TWActivityClearStatus; 0 when none or without a current activity. */
TW_API uint32_t TWActivityGetStatus(void);
/* *text receives the text of status as native text: when status is the activity's status,
 * the text its entry was logged with (markup filled, without "Error: " and the link
 * suffix); else its catalogue text with the markup taken as absent. TWSTATUSF_EVENT is
 * ignored for the look-up; an id without text gives "MSG#<id> NOT FOUND". Needs no current
 * activity. */
TW_API uint32_t TWActivityGetStatusStream(uint32_t status, TWStream* text);
/* Forgets the activity's status (a failure the plug-in absorbed); the log keeps the entry.
 * Answers 0. */
TW_API uint32_t TWActivityClearStatus(void);
/* Answers 0 to go on; 1542 when the run was asked to close (closeRequest TWCLOSE_REQUESTED);
 * 1543 when it was asked to close after running too long (TWCLOSE_TIMEOUT). An activity
 * without a run-table entry, or no current activity, answers 0. A caller that gets a
 * non-zero answer stops its work and returns the answer as its status. */
TW_API uint32_t TWActivityGetCommand(void);
/* Answers the status of the activity's last log entry (0 when none) and gives, each
 * optional: *text the entry's text (markup filled, without "Error: " and the link suffix),
 * *externalCode its external code and *externalText its external text (0 and empty unless
 * TWActivityLogStream or TWActivityLogStreamEx made it). */
TW_API uint32_t TWActivityGetLogLast(TWStream* text, uint32_t* externalCode,
                                     TWStream* externalText);
/* Logs status with its catalogue text (markup absent) and answers status. Status 0 logs
 * nothing. When status equals the activity's status (already logged, usually with details
 * by a connector) no second entry is written. A status with TWSTATUSF_EVENT is an event: it
 * does not become the activity's status. */
TW_API uint32_t TWActivityLog(uint32_t status);
/* Logs status with its catalogue text, the markup filled from int1 to int3 and stream1 to
 * stream3 (null: absent), and answers status; always writes an entry (status 0: none). */
TW_API uint32_t TWActivityLogEx(uint32_t status, uint32_t int1, uint32_t int2, uint32_t int3,
                                const TWStream* stream1, const TWStream* stream2,
                                const TWStream* stream3);
/* Logs a text from outside the catalogue (a data source's or library's message): text (null
 * or empty: the catalogue text of TWFAIL_EXTERNAL) followed by "  (<externalCode>)" when
 * externalCode is not 0. flags TWLOGSTREAMF_EVENT: an event (entry status TWEVENT_EXTERNAL),
 * answer 0; without it a failure (entry status TWFAIL_EXTERNAL, which becomes the activity's
 * status), answer TWFAIL_EXTERNAL. Another flag bit: TWFAIL_INVALID_FLAGS, nothing logged. */
TW_API uint32_t TWActivityLogStream(uint32_t flags, const TWStream* text, uint32_t externalCode);
/* As TWActivityLogStream, with the markup of text filled from the arguments as
 * TWActivityLogEx fills a catalogue text. */
TW_API uint32_t TWActivityLogStreamEx(uint32_t flags, const TWStream* text, uint32_t externalCode,
                                      uint32_t int1, uint32_t int2, uint32_t int3,
                                      const TWStream* stream1, const TWStream* stream2,
                                      const TWStream* stream3);
/* Writes message (null: nothing) and a line end to standard output as native text; answers
 * 0. Not part of the log; needs no current activity. */
TW_API uint32_t TWActivityPrint(const TWStream* message);

/* Walks the connector libraries the process knows (loaded for a connection or by
 * TWActivityLookupLink), in the order they became known: *linkCode its link code (only
 * TWMASK_LINK_CODE bits), *library its name as native text; each optional. TWLIST_FIRST /
 * TWLIST_NEXT; TWFAIL_END_OF_DATA after the last. Needs no current activity. */
TW_API uint32_t TWActivityListLink(uint32_t list, uint32_t* linkCode, TWStream* library);
/* *linkCode receives the link code of the connector library named library (lower-cased),
 * which is loaded and checked first when the process does not know it yet (1546, 1547,
 * 1548 as TWConnectAlloc). A library keeps its code for the life of the process; every
 * connection of it has a connection code whose TWMASK_LINK_CODE bits are that code, so the
 * virtual fields of one connection (TWFieldSetVirtualCode) are recognised by the others. */
TW_API uint32_t TWActivityLookupLink(const TWStream* library, uint32_t* linkCode);
/* Asks the control store to start the activities named in activityList (a
 * TWSTREAMFMT_TEXT_LIST stream, or one name as text) at its next poll. flags
 * TWACTRUNF_SYNCHRONOUS: the current activity waits until all of them have finished
 * (CSMgrDoneRun, asked about once a second): TWFAIL_ACTRUN_TIMEOUT when stopTime (optional)
 * passes first, 1542 or 1543 when the run is asked to close meanwhile, 797 when the activity
 * has no document to wait on. Without the flag stopTime is not used. Answers 0 or the
 * control store's status (779 for an empty list, 797 for a name not found). */
TW_API uint32_t TWActivityRunActivity(const TWStream* activityList, uint32_t flags,
                                      const TWDatetime* stopTime);

/* ---------------------------------------------------------------- connections ------- */

/* A connection is a connector plug-in's context bound to one link: a link of the current
 * activity, a link document named by the caller, or a connector library named by the caller
 * (without a link document). Each verb reaches the connector entry point of the same name
 * (twx.h) and answers its status; the connector has logged its own failures.
 *
 * Common answers: TWFAIL_TWXINIT before TWSystemInit; TWFAIL_INVALID_CONNECT for a handle
 * that names no live connection; TWFAIL_NOT_CONNECTED for a data call (Select, Execute,
 * Fetch, Insert, Update, Remove, Action, Create, Catalog, Drop) before TWConnectConnect.
 * When the current activity's run has been asked to close (TWActivityGetCommand non-zero),
 * TWConnectConnect and every data call answer that status without reaching the connector
 * (it is logged once); TWConnectDisconnect and TWConnectFree always run.
 *
 * Counted verbs: the count out-parameter is optional; the engine sets it to 0 before the
 * call and passes the connector a word of its own when the caller gave none. The connector
 * adds one per record moved or sets TWCOUNT_UNKNOWN; the open-a-result-set verbs set
 * TWCOUNT_UNKNOWN unless they can tell.
 *
 * Ownership: the caller frees each connection with TWConnectFree, after
 * TWConnectDisconnect, on every path. */

/* *connect receives a new connection, not yet connected (TWNULLHANDLE after a failure).
 * token selects the link:
 *   link byte n from 1 to 254 (TWTOKENF_SRC, TWTOKENF_DEST, ...; lower bits ignored): link n
 *     of the current activity, the link document named by the activity's property
 *     n << 24 | TWTOKEN_LINK (for link 1 also TWTOKEN_LINK alone); name is not used;
 *   0: the link document named name (CSMgrGetID with CSMGR_ID_LINK);
 *   TWTOKENF_EXTERN: the connector library named name, without a link document.
 * The engine reads the link's description (and its link options'), loads the connector
 * library it names (TWTOKEN_LIBRARY, lower-cased) unless the process has it already,
 * allocates the zero-filled context, calls TWXInitialize with the connection code (the
 * library's link code | a connection number) and TWXINITF_FIRST_CONNECTION for the
 * library's first live connection, then TWXSetProperty, in table order, for each row of the
 * connector's table that has a value: the activity's value of the row's token with link
 * byte n (TWTOKENF_EXTERN for a connection by connector name), else the link description's,
 * else the link options'. Failures, each logged with [[TWS1]] the link's or library's name:
 * 1544 no link n in the activity or no link document of that name; 1545 a description
 * without a library or one that cannot be read; 1546 a library that cannot be loaded or
 * lacks an entry point; 1547 a library that is not a connector, has a context size of 0 or
 * above TWX_MAX_CONTEXT_SIZE, or a malformed property table; 1548 another interface version;
 * TWFAIL_PROPERTY_VALUE (with the token) for a value that does not convert to its row's
 * type. Also the control store's status (782 without a serving control store), or the
 * status of TWXInitialize or TWXSetProperty. After a failure nothing stays allocated.
 * Without a current activity only the forms 0 and TWTOKENF_EXTERN work (else
 * TWFAIL_ACTIVITY_NOT_INIT). */
TW_API uint32_t TWConnectAlloc(TWCONNECT* connect, uint32_t token, const TWStream* name);
/* Terminates the context (TWXTerminate, which disconnects a connection still open;
 * TWXTERMF_LAST_CONNECTION for the library's last live connection), frees it and the
 * connection; answers TWXTerminate's status. TWNULLHANDLE answers 0. The handle is invalid
 * afterwards in every case; the library stays loaded until TWSystemTerm. */
TW_API uint32_t TWConnectFree(TWCONNECT connect);
/* TWXConnect. TWFAIL_CONNECTED when connected already. */
TW_API uint32_t TWConnectConnect(TWCONNECT connect);
/* TWXDisconnect, with errorFlag 1 when the current activity's status is not 0, else 0. The
 * connection is not connected afterwards, even when the connector fails. Not connected:
 * answers 0 without calling. */
TW_API uint32_t TWConnectDisconnect(TWCONNECT connect);
/* TWXSelect: a result set of the records matching the key fields (TWFIELDF_KEY) of keys in
 * record recordIndex (keys TWNULLHANDLE: all records), described into dest. */
TW_API uint32_t TWConnectSelect(TWCONNECT connect, TWFIELDLIST keys, uint32_t recordIndex,
                                TWFIELDLIST dest, uint32_t* count);
/* TWXExecute of statement (null: an empty statement); when it yields rows their result set
 * is described into dest, which may be TWNULLHANDLE. */
TW_API uint32_t TWConnectExecute(TWCONNECT connect, const TWStream* statement, TWFIELDLIST dest,
                                 uint32_t* count);
/* TWXFetch: up to recordCount records of the open result set into dest from record slot
 * recordIndex. TWFAIL_END_OF_DATA ends the result set, possibly with records moved (*count
 * tells); TWFAIL_NO_RESULTSET without one. */
TW_API uint32_t TWConnectFetch(TWCONNECT connect, TWFIELDLIST dest, uint32_t recordIndex,
                               uint32_t recordCount, uint32_t* count);
/* TWXInsert, TWXUpdate, TWXRemove of recordCount records of list from slot recordIndex
 * (Remove and Update find their records by the key fields). */
TW_API uint32_t TWConnectInsert(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count);
TW_API uint32_t TWConnectUpdate(TWCONNECT connect, TWFIELDLIST list, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count);
TW_API uint32_t TWConnectRemove(TWCONNECT connect, TWFIELDLIST keys, uint32_t recordIndex,
                                uint32_t recordCount, uint32_t* count);
/* TWXAction (TWACTION_*). After a successful TWACTION_TRUNCATE the engine logs the event
 * 1638 with the connection's METADATA. */
TW_API uint32_t TWConnectAction(TWCONNECT connect, uint32_t actionType);
/* TWXCreate of an object of objectType (TWOBJECT_*) from the fields of src. On success the
 * engine logs the event 1636 with objectType and the object's name (the INDEX property for
 * TWOBJECT_INDEX, DATABASE for TWOBJECT_DATABASE, else METADATA). */
TW_API uint32_t TWConnectCreate(TWCONNECT connect, uint32_t objectType, TWFIELDLIST src);
/* TWXCatalog: a result set of the catalogue objects of objectType, described into dest. */
TW_API uint32_t TWConnectCatalog(TWCONNECT connect, uint32_t objectType, TWFIELDLIST dest,
                                 uint32_t* count);
/* TWXDrop; on success the engine logs the event 1637 as for Create. */
TW_API uint32_t TWConnectDrop(TWCONNECT connect, uint32_t objectType);

/* Value 1 of dest (the caller's field of any type) receives property token of the
 * connection. The engine answers the control tokens itself: TWTOKEN_LIBRARY (text),
 * TWTOKEN_LINK and TWTOKEN_OPTION (document ids, 0 for none), TWTOKEN_NAME (the link's name;
 * the library's for a connection by connector name), TWTOKEN_LINK_CODE and
 * TWTOKEN_CONNECT_CODE (integers). Any other token reaches TWXGetProperty with its link byte
 * cleared; the connector logs and answers TWFAIL_INVALID_PROPERTY for a token it lacks. */
TW_API uint32_t TWConnectGetProperty(TWCONNECT connect, uint32_t token, TWFIELD dest);
/* As TWActivityGetPropertyBoolean, for the connection's property (connector values read
 * through a field of the row's type). */
TW_API int32_t TWConnectGetPropertyBoolean(TWCONNECT connect, uint32_t token, int32_t defaultValue);
/* The property read into a one-value field of the matching type, then copied out; a null
 * value answers TWFAIL_MISSING_PROPERTY and leaves *dest unchanged. */
TW_API uint32_t TWConnectGetPropertyInt(TWCONNECT connect, uint32_t token, int32_t* dest);
TW_API uint32_t TWConnectGetPropertyFloat(TWCONNECT connect, uint32_t token, double* dest);
TW_API uint32_t TWConnectGetPropertyCurrency(TWCONNECT connect, uint32_t token, TWCurrency* dest);
TW_API uint32_t TWConnectGetPropertyNumeric(TWCONNECT connect, uint32_t token, TWNumeric* dest);
TW_API uint32_t TWConnectGetPropertyDatetime(TWCONNECT connect, uint32_t token, TWDatetime* dest);
TW_API uint32_t TWConnectGetPropertyStream(TWCONNECT connect, uint32_t token, uint32_t format,
                                           TWStream* dest);
/* TWXSetProperty with the token's link byte cleared and value 1 of src (a null value asks
 * the connector to empty a text, zero an integer, clear a datetime, keep a flag). Control
 * tokens cannot be set: TWFAIL_INVALID_PROPERTY, logged. Properties may be set in any state;
 * what a connector reads when connecting takes effect at the next TWConnectConnect. */
TW_API uint32_t TWConnectSetProperty(TWCONNECT connect, uint32_t token, TWFIELD src);
/* As TWConnectSetProperty with a one-value field of the matching type built from *src; a
 * null src passes a null value. */
TW_API uint32_t TWConnectSetPropertyInt(TWCONNECT connect, uint32_t token, const int32_t* src);
TW_API uint32_t TWConnectSetPropertyFloat(TWCONNECT connect, uint32_t token, const double* src);
TW_API uint32_t TWConnectSetPropertyCurrency(TWCONNECT connect, uint32_t token,
                                             const TWCurrency* src);
TW_API uint32_t TWConnectSetPropertyNumeric(TWCONNECT connect, uint32_t token,
                                            const TWNumeric* src);
TW_API uint32_t TWConnectSetPropertyDatetime(TWCONNECT connect, uint32_t token,
                                             const TWDatetime* src);
TW_API uint32_t TWConnectSetPropertyStream(TWCONNECT connect, uint32_t token, const TWStream* src);
/* Walks the rows of the connector's property table in table order (TWLIST_FIRST,
 * TWLIST_NEXT; TWFAIL_END_OF_DATA after the last; TWFAIL_INVALID_LIST for another list
 * value): the token, the field type, the row's reserved word as flags, and the name as
 * native text (the row's, or the engine's name of a predefined token such as "Server" or
 * "Metadata"); each out-parameter optional. */
TW_API uint32_t TWConnectListProperty(TWCONNECT connect, uint32_t list, uint32_t* token,
                                      uint32_t* type, uint32_t* flags, TWStream* name);

#ifdef __cplusplus
static_assert(sizeof(MsgTblEntry) == TWMSGTBL_ENTRY_SIZE, "five 32-bit words");
static_assert(sizeof(CSMgrClockAdjustment) == 32, "eight 32-bit words");
#else
_Static_assert(sizeof(MsgTblEntry) == TWMSGTBL_ENTRY_SIZE, "five 32-bit words");
_Static_assert(sizeof(CSMgrClockAdjustment) == 32, "eight 32-bit words");
#endif

#ifdef __cplusplus
}
#endif

#endif /* TW_FLOWCORE_TWENGINE_H_ */
