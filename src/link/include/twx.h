/* The plug-in interface of the engine: what a connector plug-in (seventeen entry points over
 * one kind of data source) and an activity plug-in (TWXIdentify and TWXLaunch) export, the
 * identity record each hands to the engine, and the rows of its property definition table.
 * A plug-in is a shared module <name>.twx in the installation directory; only the engine
 * library loads it and calls it.
 *
 * Exports: every entry point below is exported by name with C linkage; TWX_EXPORT on these
 * declarations makes a definition in a module built with hidden visibility exported too.
 * A plug-in also exports TWOrdinalNames (define it once with TWX_CONNECTOR_ORDINAL_NAMES or
 * TWX_ACTIVITY_ORDINAL_NAMES), so that TWLibraryLoadProc can reach its entry points by
 * ordinal. The engine itself resolves every entry point by name and refuses a connector
 * that lacks any of the seventeen.
 *
 * Status: every entry point returns 0 or a message-catalogue id (twstatus.h) and never
 * throws. An entry point or action a connector does not offer returns TWFAIL_UNAVAILABLE.
 * Failures are logged by the plug-in itself through the engine (TWActivityLogEx,
 * TWActivityLogStream) before it returns the status.
 *
 * Call order on one connection: TWXIdentify; the engine allocates a zero-filled context of
 * the identity's contextSize; TWXInitialize; TWXSetProperty for each property the link
 * gives, TWXGetProperty at any time from here on; TWXConnect; any operations; TWXDisconnect;
 * TWXTerminate. An activity plug-in sees TWXIdentify, then TWXLaunch.
 *
 * Ownership: field lists, fields and streams handed in belong to the caller; a plug-in frees
 * only what it allocated itself, and keeps all per-connection state in its context.
 *
 * Threads: a context is used by one thread at a time; an entry point runs on the thread
 * that called the engine. Process-wide set-up of a client library is bracketed by
 * TWXINITF_FIRST_CONNECTION and TWXTERMF_LAST_CONNECTION. */
#ifndef TW_LINK_TWX_H_
#define TW_LINK_TWX_H_

#include <stddef.h>
#include <stdint.h>

#include "flowcore.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef TWX_EXPORT
#define TWX_EXPORT __attribute__((visibility("default")))
#endif

/* C++ definitions of the entry points are noexcept: an exception must not unwind into the
 * engine through a C frame. The kit (twx_plugin.h) ends each one in tw::guard. */
#ifdef __cplusplus
#define TWX_NOEXCEPT noexcept
#else
#define TWX_NOEXCEPT
#endif

/* ---------------------------------------------------------------- identity ---------- */

/* Interface version of every plug-in; the engine accepts a record whose upper 16 bits are
 * TWX_VERSION_MAJOR (any minor version) and refuses any other with 1541 (activity) or 1548
 * (connector). */
#define TWX_VERSION 0x00020000u
#define TWX_VERSION_MAJOR 2u
#define TWX_VERSION_MAJOR_OF(version) ((uint32_t)(version) >> 16)

/* Plug-in kinds (word 2 of the identity record). */
#define TWX_KIND_ACTIVITY 1u
#define TWX_KIND_CONNECTOR 2u

/* The flags word (word 3) that plug-ins carry; the engine does not read it. */
#define TWX_IDENTITY_FLAGS 0x02000000u

/* The largest connector context the engine allocates; a larger contextSize makes the
 * plug-in invalid (1547). */
#define TWX_MAX_CONTEXT_SIZE 0x100000u

/* The most rows (end row not counted) and the longest name (characters, NUL not counted)
 * the engine reads in a property definition table; beyond them the plug-in is invalid. */
#define TWX_MAX_PROPERTY_ROWS 4096u
#define TWX_MAX_PROPERTY_NAME 255u

/* One row of a property definition table; a row of all zeros ends the table. The engine
 * reads the table in place for as long as the module stays loaded, so it is static data.
 *   token       the property token (twconst.h TWTOKEN_*, TWTOKENF_*). A connector's tokens
 *               carry no link byte: a predefined token TWTOKEN_SERVER to TWTOKEN_TEXT_FORMAT
 *               or an own token 1 to TWMAX_BASE_TOKEN. An activity's tokens may carry a link
 *               byte (TWTOKENF_SRC, TWTOKENF_DEST) and name predefined or control tokens.
 *   type        the engine field type of the value: TWTYPE_INT (also on/off flags),
 *               TWTYPE_DATETIME, TWTYPE_TEXT, or TWTYPE_BINARY for text-list values.
 *   reserved    0.
 *   name        the name, NUL-terminated; null for a predefined or control token, whose
 *               name the engine supplies. An own token always has a name.
 *   nameLength  the name's length in characters without the NUL; 0 without a name.
 * Widths: token, type, reserved and nameLength are 32-bit; name is pointer-sized. Rows stay
 * in the order the plug-in's documentation gives (connectors: predefined rows first, then
 * own rows in token order). */
typedef struct TWXPropertyDef {
  uint32_t token;
  uint32_t type;
  uint32_t reserved;
  const char* name;
  uint32_t nameLength;
} TWXPropertyDef;

/* Row builders for a static table: a named row, a predefined or control row, the end. */
#define TWX_PROPERTY(token, type, name) \
  { (token), (type), 0u, name, (uint32_t)(sizeof(name) - 1) }
#define TWX_PROPERTY_PREDEF(token, type) \
  { (token), (type), 0u, NULL, 0u }
#define TWX_PROPERTY_END \
  { 0u, 0u, 0u, NULL, 0u }

/* The identity record: a constant of each plug-in, which TWXIdentify copies into the
 * caller's record.
 *   version      TWX_VERSION.
 *   kind         TWX_KIND_ACTIVITY or TWX_KIND_CONNECTOR.
 *   flags        TWX_IDENTITY_FLAGS (the text-file connector carries its own value).
 *   reserved     0.
 *   contextSize  bytes of the per-connection context (sizeof the connector's context
 *                struct, 1 to TWX_MAX_CONTEXT_SIZE); 0 for an activity.
 *   textFormat   the stream format in which the plug-in takes and gives text:
 *                TWSTREAMFMT_NATIVE or TWSTREAMFMT_QMBCS.
 *   properties   the plug-in's property definition table (never null; an empty table is
 *                one end row).
 * Widths: the first six words are 32-bit; properties is pointer-sized. Fields are only ever
 * added at the end. */
typedef struct TWXIdentity {
  uint32_t version;
  uint32_t kind;
  uint32_t flags;
  uint32_t reserved;
  uint32_t contextSize;
  uint32_t textFormat;
  const TWXPropertyDef* properties;
} TWXIdentity;

#ifdef __cplusplus
static_assert(offsetof(TWXIdentity, properties) == 24 && sizeof(TWXIdentity) == 24 + sizeof(void*),
              "six 32-bit words and one pointer");
static_assert(offsetof(TWXPropertyDef, name) == (sizeof(void*) == 8 ? 16 : 12),
              "three 32-bit words, then the name pointer");
#else
_Static_assert(offsetof(TWXIdentity, properties) == 24 && sizeof(TWXIdentity) == 24 + sizeof(void*),
               "six 32-bit words and one pointer");
_Static_assert(offsetof(TWXPropertyDef, name) == (sizeof(void*) == 8 ? 16 : 12),
               "three 32-bit words, then the name pointer");
#endif

/* ---------------------------------------------------------------- flags ------------- */

/* TWXInitialize: this is the plug-in's first live connection in the process (do the
 * client library's process-wide set-up now and only now). */
#define TWXINITF_FIRST_CONNECTION 0x1u
/* TWXTerminate: this is the plug-in's last live connection in the process (tear the
 * process-wide set-up down now). */
#define TWXTERMF_LAST_CONNECTION 0x1u

/* ---------------------------------------------------------------- context ----------- */

/* The per-connection context: each connector defines struct TWXContext itself (its
 * contextSize is sizeof(struct TWXContext)); to the engine it is an opaque block that it
 * allocates zero-filled, passes as first argument to every entry point but TWXIdentify, and
 * frees after TWXTerminate. */
typedef struct TWXContext TWXContext;

/* ---------------------------------------------------------------- entry points ------ */

/* Connector entry points in ordinal order (ordinal 1 to 17: alphabetical by name). Argument
 * names are those under which scripts see the same operations. Counts are out-arguments the
 * engine always passes (never null) and sets to 0 before the call: the connector adds one
 * per record moved, or sets TWCOUNT_UNKNOWN when it cannot tell; TWXExecute, TWXSelect and
 * TWXCatalog set TWCOUNT_UNKNOWN when they open a result set. Record indexes count from 1
 * and name the record slot of the field list where the transfer starts. */

/* 1. twActionType: TWACTION_RESET, _TRUNCATE, _COMMIT, _ROLLBACK; another: 12289. */
typedef uint32_t (*TWXActionProc)(TWXContext* context, uint32_t twActionType);
/* 2. Opens a result set of catalogue objects of twObjectType (TWOBJECT_*), described into
 * twDestFieldlist. */
typedef uint32_t (*TWXCatalogProc)(TWXContext* context, uint32_t twObjectType,
                                   TWFIELDLIST twDestFieldlist, uint32_t* twAffectedCount);
/* 3. Opens the connection from the properties set. */
typedef uint32_t (*TWXConnectProc)(TWXContext* context);
/* 4. Creates the object of twObjectType named by the properties, its fields (columns or
 * key fields) taken from twSrcFieldlist. */
typedef uint32_t (*TWXCreateProc)(TWXContext* context, uint32_t twObjectType,
                                  TWFIELDLIST twSrcFieldlist);
/* 5. Ends the connection; errorFlag non-zero: the work ended in error. Not connected: 0. */
typedef uint32_t (*TWXDisconnectProc)(TWXContext* context, uint32_t errorFlag);
/* 6. Drops the object of twObjectType named by the properties. */
typedef uint32_t (*TWXDropProc)(TWXContext* context, uint32_t twObjectType);
/* 7. Runs twStatement (never null; may be empty) and, when it yields rows, opens their
 * result set described into twDestFieldlist, which may be TWNULLHANDLE when the caller
 * wants no rows described. */
typedef uint32_t (*TWXExecuteProc)(TWXContext* context, const TWStream* twStatement,
                                   TWFIELDLIST twDestFieldlist, uint32_t* twAffectedCount);
/* 8. Moves up to twRecordCount records of the open result set into twDestFieldlist from
 * slot twRecordIndex; TWFAIL_END_OF_DATA after the last (possibly with records moved). */
typedef uint32_t (*TWXFetchProc)(TWXContext* context, TWFIELDLIST twDestFieldlist,
                                 uint32_t twRecordIndex, uint32_t twRecordCount,
                                 uint32_t* twAffectedCount);
/* 9. Writes the value of twPropertyToken (no link byte) into value 1 of twDestField. */
typedef uint32_t (*TWXGetPropertyProc)(TWXContext* context, uint32_t twPropertyToken,
                                       TWFIELD twDestField);
/* 10. Copies the identity record into *identity and returns 0. No context. */
typedef uint32_t (*TWXIdentifyProc)(TWXIdentity* identity);
/* 11. Stores connectCode (the connection code: the link code in the TWMASK_LINK_CODE bits,
 * a connection number below them) and sets the defaults; flags TWXINITF_*. */
typedef uint32_t (*TWXInitializeProc)(TWXContext* context, uint32_t connectCode, uint32_t flags);
/* 12. Writes twRecordCount records of twSrcFieldlist from slot twRecordIndex. */
typedef uint32_t (*TWXInsertProc)(TWXContext* context, TWFIELDLIST twSrcFieldlist,
                                  uint32_t twRecordIndex, uint32_t twRecordCount,
                                  uint32_t* twAffectedCount);
/* 13. Removes the records whose keys (fields flagged TWFIELDF_KEY) match twKeyFieldlist. */
typedef uint32_t (*TWXRemoveProc)(TWXContext* context, TWFIELDLIST twKeyFieldlist,
                                  uint32_t twRecordIndex, uint32_t twRecordCount,
                                  uint32_t* twAffectedCount);
/* 14. Opens a result set of the records matching the keys of twKeyFieldlist (record slot
 * twRecordIndex; the list may be TWNULLHANDLE), described into twDestFieldlist. */
typedef uint32_t (*TWXSelectProc)(TWXContext* context, TWFIELDLIST twKeyFieldlist,
                                  uint32_t twRecordIndex, TWFIELDLIST twDestFieldlist,
                                  uint32_t* twAffectedCount);
/* 15. Stores value 1 of twSrcField (possibly null) as property twPropertyToken. */
typedef uint32_t (*TWXSetPropertyProc)(TWXContext* context, uint32_t twPropertyToken,
                                       TWFIELD twSrcField);
/* 16. Releases everything the context holds (disconnecting first when connected); flags
 * TWXTERMF_*. The engine frees the block afterwards. */
typedef uint32_t (*TWXTerminateProc)(TWXContext* context, uint32_t flags);
/* 17. Updates the records whose keys match, from twSrcFieldlist. */
typedef uint32_t (*TWXUpdateProc)(TWXContext* context, TWFIELDLIST twSrcFieldlist,
                                  uint32_t twRecordIndex, uint32_t twRecordCount,
                                  uint32_t* twAffectedCount);

/* Activity entry point 2 (1 is TWXIdentify): runs the current activity once and returns its
 * status. It reaches everything through the engine's current-activity and TWConnect calls. */
typedef uint32_t (*TWXLaunchProc)(void);

TWX_EXPORT uint32_t TWXAction(TWXContext* context, uint32_t twActionType) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXCatalog(TWXContext* context, uint32_t twObjectType,
                               TWFIELDLIST twDestFieldlist, uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXConnect(TWXContext* context) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXCreate(TWXContext* context, uint32_t twObjectType,
                              TWFIELDLIST twSrcFieldlist) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXDisconnect(TWXContext* context, uint32_t errorFlag) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXDrop(TWXContext* context, uint32_t twObjectType) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXExecute(TWXContext* context, const TWStream* twStatement,
                               TWFIELDLIST twDestFieldlist, uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXFetch(TWXContext* context, TWFIELDLIST twDestFieldlist,
                             uint32_t twRecordIndex, uint32_t twRecordCount,
                             uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXGetProperty(TWXContext* context, uint32_t twPropertyToken,
                                   TWFIELD twDestField) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXIdentify(TWXIdentity* identity) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXInitialize(TWXContext* context, uint32_t connectCode,
                                  uint32_t flags) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXInsert(TWXContext* context, TWFIELDLIST twSrcFieldlist,
                              uint32_t twRecordIndex, uint32_t twRecordCount,
                              uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXRemove(TWXContext* context, TWFIELDLIST twKeyFieldlist,
                              uint32_t twRecordIndex, uint32_t twRecordCount,
                              uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXSelect(TWXContext* context, TWFIELDLIST twKeyFieldlist,
                              uint32_t twRecordIndex, TWFIELDLIST twDestFieldlist,
                              uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXSetProperty(TWXContext* context, uint32_t twPropertyToken,
                                   TWFIELD twSrcField) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXTerminate(TWXContext* context, uint32_t flags) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXUpdate(TWXContext* context, TWFIELDLIST twSrcFieldlist,
                              uint32_t twRecordIndex, uint32_t twRecordCount,
                              uint32_t* twAffectedCount) TWX_NOEXCEPT;
TWX_EXPORT uint32_t TWXLaunch(void) TWX_NOEXCEPT;

/* ---------------------------------------------------------------- ordinals ---------- */

/* Ordinals of the connector entry points (alphabetical by name) and of the activity entry
 * points. */
enum {
  TWXORD_ACTION = 1,
  TWXORD_CATALOG = 2,
  TWXORD_CONNECT = 3,
  TWXORD_CREATE = 4,
  TWXORD_DISCONNECT = 5,
  TWXORD_DROP = 6,
  TWXORD_EXECUTE = 7,
  TWXORD_FETCH = 8,
  TWXORD_GET_PROPERTY = 9,
  TWXORD_IDENTIFY = 10,
  TWXORD_INITIALIZE = 11,
  TWXORD_INSERT = 12,
  TWXORD_REMOVE = 13,
  TWXORD_SELECT = 14,
  TWXORD_SET_PROPERTY = 15,
  TWXORD_TERMINATE = 16,
  TWXORD_UPDATE = 17,
  TWXORD_CONNECTOR_COUNT = 17
};
enum { TWXORD_ACTIVITY_IDENTIFY = 1, TWXORD_ACTIVITY_LAUNCH = 2, TWXORD_ACTIVITY_COUNT = 2 };

/* The export names by ordinal (entry n - 1 is ordinal n), each list ended by a null entry:
 * the initialiser of TWOrdinalNames and the engine's table from ordinal to name. */
#define TWX_CONNECTOR_ORDINAL_NAMES                                                              \
  {                                                                                              \
    "TWXAction", "TWXCatalog", "TWXConnect", "TWXCreate", "TWXDisconnect", "TWXDrop",            \
        "TWXExecute", "TWXFetch", "TWXGetProperty", "TWXIdentify", "TWXInitialize", "TWXInsert", \
        "TWXRemove", "TWXSelect", "TWXSetProperty", "TWXTerminate", "TWXUpdate", NULL            \
  }
#define TWX_ACTIVITY_ORDINAL_NAMES \
  { "TWXIdentify", "TWXLaunch", NULL }

/* The ordinal table a plug-in exports; define it once per plug-in:
 *   const char* const TWOrdinalNames[] = TWX_CONNECTOR_ORDINAL_NAMES;  */
TWX_EXPORT extern const char* const TWOrdinalNames[];

#ifdef __cplusplus
}
#endif

#endif /* TW_LINK_TWX_H_ */
