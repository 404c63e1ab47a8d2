/* The Plexa API plexapi: a document database of one SQLite file per database. Servers are
 * directories under a data root, databases are files in them, and "server!!file" names one.
 * A database holds notes: documents (items of typed values, attachments, a parent reference
 * for responses) and design elements (forms, views, agents). Views keep an index that every
 * save brings up to date; an index handle walks a view, a search or an agent's result.
 *
 * Status: every function returns 0 or a Plexa status (GVERR_*, top bit set), except those
 * whose description says it "answers" a count, a length or an id. A failing call leaves its
 * outputs as they were, unless its description says otherwise, and records the failure for
 * GVErrorFetch; a successful call leaves the last failure alone. Calls other than the pure
 * ones (errors, texts, values, date-times) need a session: GVERR_NOT_INITIALIZED.
 *
 * Handles (GVDB, GVINDEX, GVDOC, GVCOMP) are 32-bit values from a table of the process; 0
 * names nothing, and a closed handle is never valid again (GVERR_INVALID_HANDLE). Closing a
 * database closes its indexes, documents (discarding them) and composites; closing a document
 * closes its composites. Note ids are even, non-zero, below 2^31 and never reused in a
 * database; design elements are notes too and their ids share that space.
 *
 * Text: item names, design names, formulas and text values are UTF-8 (the Plexa character
 * set); item and design names compare without regard to ASCII letter case. Values use the
 * little-endian layouts given with GVTYPE_*; a date-time is the 8-byte GVTIMEDATE.
 *
 * Sharing: several processes open the same database at once. A document is read when it is
 * opened and written, item by item as changed, when it is stored; a view index is updated in
 * the same transaction. An index is a snapshot taken when it is filled; GVIndexRefresh (and a
 * key search) takes a new one, so other processes' saves show after a refresh.
 *
 * Threads: _GVInit/GVTerm and the handle table are safe from any thread; one handle is used by
 * one thread at a time. The last error and the error buffer are per thread. */
#ifndef TW_OUTSIDE_PLEXAPI_PLEXAPI_H_
#define TW_OUTSIDE_PLEXAPI_PLEXAPI_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef GV_API
#define GV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define GV_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define GV_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

/* ---------------------------------------------------------------- statuses ---------- */

#define GVERR_INVALID_ARGUMENT 0x80000101u /* a null or out-of-range argument */
#define GVERR_INVALID_HANDLE 0x80000102u   /* 0, closed or of another kind */
#define GVERR_NO_MEMORY 0x80000103u
#define GVERR_BUFFER_TOO_SMALL 0x80000104u /* a list or record does not fit the caller's room */
#define GVERR_EXISTS 0x80000105u           /* a database, form, view or agent of that name */
#define GVERR_NOT_INITIALIZED 0x80000106u  /* no _GVInit in force */
#define GVERR_NO_MORE 0x80000107u          /* end of a list walk or of navigation */
#define GVERR_NO_ENTRY 0x80000108u         /* no such note, nothing to delete, no parent */
#define GVERR_BUSY 0x80000109u             /* another process held the database too long */
#define GVERR_FORMULA 0x8000010Au          /* formula does not parse or cannot be evaluated */
#define GVERR_TOO_BIG 0x8000010Bu          /* a value above its limit, a database above a limit */
#define GVERR_NOT_SUPPORTED 0x8000010Cu
#define GVERR_ENGINE 0x8000010Du          /* storage failure: GVErrorFetch has the detail */
#define GVERR_NOT_POSITIONED 0x8000010Eu  /* the index stands on no entry */
#define GVERR_KEY_NOT_FOUND 0x8000010Fu   /* a key search found nothing */
#define GVERR_AGENT_NO_INFO 0x80000110u   /* the agent's design records no kind */
#define GVERR_READ_ONLY 0x80000111u       /* the document was opened with GVOPEN_READONLY */
#define GVERR_VERSION 0x80000112u         /* _GVInit with another major version */
#define GVERR_FILE 0x80000113u            /* an outside file cannot be read or written */
#define GVERR_CONFLICT 0x80000114u        /* GVSAVE_UNCHANGED: the document was stored meanwhile */
#define GVERR_NO_DATABASE 0x80000601u     /* the database file does not exist */
#define GVERR_NO_SERVER 0x80000602u       /* the server's directory does not exist */
#define GVERR_NOT_A_DATABASE 0x80000603u  /* the file is not a database of this API */
#define GVERR_DATABASE_IN_USE 0x80000604u /* delete while this process has it open */
#define GVERR_NO_FORM 0x80000801u
#define GVERR_NO_FIELD 0x80000802u /* not a field of the form (also the form check) */
#define GVERR_NO_VIEW 0x80000901u
#define GVERR_NO_COLUMN 0x80000902u
#define GVERR_NO_ITEM 0x80000A01u   /* the document has no item of that name */
#define GVERR_ITEM_KIND 0x80000A02u /* the value cannot be given in the kind asked */
#define GVERR_NO_ATTACHMENT 0x80000B01u
#define GVERR_NO_AGENT 0x80000C01u
#define GVERR_AGENT_SCRIPT 0x80000C02u /* a scripted agent's script failed (GVErrorFetch) */
#define GVERR_COMPOSITE 0x80000D01u /* malformed rich-text records */
#define GVERR_MAIL 0x80000E01u      /* no recipient, or the mail spool failed */
#define GVERR_NO_VALUE 0x80000F01u  /* the item holds no value of the kind asked */
#define GVERR_DATETIME 0x80001001u  /* invalid date-time, parts or adjustment */

/* ---------------------------------------------------------------- sizes ------------- */

#define GV_VERSION 0x20400u      /* what callers pass to _GVInit; major version 2 */
#define GV_ERROR_TEXT_SIZE 256u  /* room GVErrorFetch and GVErrorGetInfo fill, NUL included */
#define GV_SERVER_NAME_SIZE 128u /* GVServerList, GVServerSetPort */
#define GV_PATH_SIZE 256u        /* GVDatabaseList names, GVGetEnvironmentString */
#define GV_TITLE_SIZE 128u       /* database titles */
#define GV_DESIGN_NAME_SIZE 128u /* form, view and agent names: at most 127 bytes */
#define GV_FIELD_NAME_SIZE 65u   /* field names: at most 64 bytes */
#define GV_ITEM_NAME_SIZE 256u   /* item names: at most 255 bytes */
#define GV_POSITION_SIZE 513u    /* GVIndexGetViewPosition text, NUL included */
#define GV_UNID_SIZE 16u         /* a note's identity, also a database's identity */
#define GV_MAX_VALUE 64996u      /* bytes of a value of GVTYPE_NUMBER ... GVTYPE_OTHER */
#define GV_RICHTEXT_PIECE 60000u /* rich text is stored in items of at most this size */

/* ---------------------------------------------------------------- handles and ids --- */

typedef uint32_t GVDB;    /* an open database */
typedef uint32_t GVINDEX; /* an index: a view's entries, a search result or an agent result */
typedef uint32_t GVDOC;   /* an open document: an in-memory copy of a note's items */
typedef uint32_t GVCOMP;  /* a composite: rich-text records in memory */
typedef uint32_t GVNOTEID;

/* ---------------------------------------------------------------- value types ------- */

/* Item types, also the value kinds of GVItemPut, GVItemFetch, GVConvert, GVViewcellFetch and
 * key items. Layouts (little-endian, unaligned), as passed and as delivered:
 *   NUMBER       a double (8 bytes).
 *   TEXT         UTF-8 bytes; delivered NUL-terminated, passed with a length (0: up to NUL).
 *   TIME         a GVTIMEDATE (8 bytes).
 *   TEXT_LIST    u16 count n, n u16 entry lengths, then the n texts back to back.
 *   NUMBER_LIST  u16 count n, u16 range count r, n doubles, r pairs of doubles {low, high}.
 *   TIME_LIST    u16 count n, u16 range count r, n GVTIMEDATE, r pairs {low, high}.
 *   COMPOSITE    rich text: compound-document records (GVCD_*) back to back. As a value kind
 *                of GVItemPut the value is the address of a GVCOMP handle.
 *   OTHER        bytes the API does not interpret.
 * A single NUMBER, TEXT or TIME reads as a one-entry list and a list as its first entry. */
#define GVTYPE_NUMBER 1u
#define GVTYPE_TEXT 2u
#define GVTYPE_TIME 3u
#define GVTYPE_TEXT_LIST 4u
#define GVTYPE_NUMBER_LIST 5u
#define GVTYPE_TIME_LIST 6u
#define GVTYPE_COMPOSITE 7u
#define GVTYPE_OTHER 8u

/* A date and a time of day, each separately null, with a zone: the same eight bytes as the
 * engine's datetime.
 *   ticks  hundredths of a second since midnight on the value's own wall clock, 0 to 8639999;
 *          0xFFFFFFFF = null time.
 *   date   bits 0-23 the Julian day number (proleptic Gregorian; 1 January of year 1 is
 *          1721426), 0xFFFFFF = null date; bits 24-30 the zone, whole hours EAST of UTC as
 *          7-bit two's complement (-12 to 14); bit 31 daylight saving in force.
 * All eight bytes zero read as null date and null time. */
typedef struct GVTIMEDATE {
  uint32_t ticks;
  uint32_t date;
} GVTIMEDATE;

/* The broken-down date-time, ten 32-bit words, the same record as the engine's date-time
 * parts: weekday 1 = Monday to 7 = Sunday; daylight 0 or 1; zone whole hours east of UTC. A
 * null half shows -1 in each of its parts (a "wildcard" part); -1 in any of year, month, day
 * (or hour, minute, second, hundredth) makes that half null when a value is built. */
typedef struct GVTIMEPARTS {
  int32_t year, month, day, weekday, hour, minute, second, hundredth, daylight, zone;
} GVTIMEPARTS;

/* An adjustment: amounts to add, each of any sign and size (90 minutes, 86400 seconds);
 * the fourth word is not applied. */
typedef struct GVTIMEADJUST {
  int32_t years, months, days, unused, hours, minutes, seconds, hundredths;
} GVTIMEADJUST;

/* GVDatetimeConstant. */
#define GVDT_MINIMUM 1u  /* 1 January 1 00:00:00.00, zone 0 */
#define GVDT_MAXIMUM 2u  /* 31 December 32767 23:59:59.99, zone 0: "never" */
#define GVDT_WILDCARD 3u /* null date and null time */

/* ---------------------------------------------------------------- session ----------- */

/* Starts (or joins) the session of the process; counted, so each successful call needs one
 * GVTerm. version: GV_VERSION (another major version: GVERR_VERSION); the reserved words are
 * 0. The first call reads the data root (environment PLEXA_ROOT, else "ordex/" beside the
 * executable). */
GV_API uint32_t _GVInit(uint32_t version, uint32_t reserved1, uint32_t reserved2,
                        uint32_t reserved3);
/* Ends one _GVInit; the last one closes every handle of the process (documents discarded).
 * flags: 0. Without a session: 0. */
GV_API uint32_t GVTerm(uint32_t flags);

#define GVPROP_SHARED 2u        /* 1: databases are shared with other processes (always so) */
#define GVPROP_PROMPT 7u        /* 0: never wait for a user (the API never does) */
#define GVPROP_CLEAR_ERROR 14u  /* value ignored: forgets the calling thread's last error */
#define GVPROP_BUSY_TIMEOUT 17u /* tenths of a second to wait for a locked database (100) */
/* Sets a session property; later opens use it. Unknown property: GVERR_INVALID_ARGUMENT. */
GV_API uint32_t GVSetProperty(uint32_t property, uint32_t value);

/* ---------------------------------------------------------------- errors ------------ */

/* Answers the length of the calling thread's last failure text and copies it (cut to
 * GV_ERROR_TEXT_SIZE - 1 bytes, NUL-terminated) into text when not null; *status and *info
 * (optional) receive its status and detail (the engine's result code for GVERR_ENGINE, the
 * 1-based byte offset for GVERR_FORMULA, else 0). No failure yet: 0, status 0, text "". */
GV_API uint32_t GVErrorFetch(uint32_t* status, uint32_t* info, char* text);
/* Answers the length of the fixed text of a status and copies it like GVErrorFetch; flags 0.
 * An unknown status gets "Plexa status 0x%08X". */
GV_API uint32_t GVErrorGetInfo(uint32_t status, uint32_t flags, char* text);
/* Names a buffer that each later failure on the calling thread fills with its text (cut to
 * size - 1 bytes, NUL-terminated); a null buffer or size 0 stops it. The caller keeps it. */
GV_API uint32_t GVErrorSetBuffer(char* buffer, uint32_t size);

/* ---------------------------------------------------------------- texts and values -- */

#define GVTRANSLATE_TO_PLEXA 0u /* local text to the Plexa set */
#define GVTRANSLATE_TO_LOCAL 1u
/* Converts text between the local character set and the Plexa set (both UTF-8 here, so a
 * copy): at most textLength bytes of text, ending earlier at a NUL, into result cut on a
 * character boundary to capacity - 1 bytes and NUL-terminated; *resultLength (optional) its
 * length. */
GV_API uint32_t GVTranslate(uint32_t direction, uint32_t textLength, const char* text,
                            uint32_t capacity, char* result, uint32_t* resultLength);
/* Converts a value of kind fromType (length bytes; 0 for a NUL-terminated text) into kind
 * toType, written to result (capacity bytes; texts NUL-terminated); *resultLength (optional)
 * the bytes written without the NUL. Number and time to text use the international settings;
 * text to number and time parse them; a list to text joins entries with ", " and text to a
 * list splits at "," with blanks trimmed; text to composite makes one paragraph per line and
 * composite to text writes a line feed per paragraph. No such conversion: GVERR_ITEM_KIND; no
 * room: GVERR_BUFFER_TOO_SMALL (a text is never cut). */
GV_API uint32_t GVConvert(uint32_t fromType, const void* value, uint32_t length, uint32_t toType,
                          void* result, uint32_t capacity, uint32_t* resultLength);
/* *resultLength = the bytes GVConvert would write for the same value, without a NUL. */
GV_API uint32_t GVConvertGetLength(uint32_t fromType, const void* value, uint32_t length,
                                   uint32_t toType, uint32_t* resultLength);
/* Answers the entries of a text list of length bytes (0 when it is not a valid list). */
GV_API uint32_t GVTextListGetCount(const void* list, uint32_t length);
/* Copies entry (from 1) of a text list of length bytes into text, cut on a character boundary
 * to capacity - 1 bytes, NUL-terminated. No such entry: GVERR_NO_ENTRY; not a valid list:
 * GVERR_INVALID_ARGUMENT. */
GV_API uint32_t GVTextListFetch(const void* list, uint32_t length, uint32_t entry, char* text,
                                uint32_t capacity);

/* The country settings the API writes and reads date-times and numbers with. */
#define GVINTL_CURRENCY_SUFFIX 0x01u /* the symbol follows the amount */
#define GVINTL_CURRENCY_SPACE 0x02u  /* a blank between symbol and amount */
#define GVINTL_LEADING_ZERO 0x04u    /* "0.5" rather than ".5" */
#define GVINTL_24HOUR 0x08u          /* 24-hour clock; otherwise AM/PM */
#define GVINTL_DAYLIGHT 0x10u        /* daylight saving time in force now */
#define GVINTL_DATE_MDY 0u
#define GVINTL_DATE_DMY 1u
#define GVINTL_DATE_YMD 2u
typedef struct GVInternational {
  uint32_t flags;     /* GVINTL_* */
  uint32_t dateOrder; /* GVINTL_DATE_* */
  int32_t zone;       /* whole hours WEST of UTC (east negative): the engine's sign turned */
  uint32_t reserved;
  char am[8], pm[8], currency[8], thousands[8], decimal[8], date[8], time[8]; /* NUL-ended */
} GVInternational;
/* Fills the settings: machine zone and daylight saving, and the settings file of the data
 * root (defaults: month/day/year, "/", ":", 12-hour "AM"/"PM", "$", ",", "."). */
GV_API uint32_t GVGetInternational(GVInternational* settings);
/* Copies a setting of the API's environment into text (GV_PATH_SIZE bytes): "Directory" is
 * the local server's directory (absolute, no trailing "/"); other names come from the
 * settings file. flags 0. Unknown name: GVERR_NO_ENTRY. */
GV_API uint32_t GVGetEnvironmentString(const char* name, uint32_t flags, char* text);

/* ---------------------------------------------------------------- date-times -------- */

/* Now, on the local wall clock, with the machine's zone and daylight saving. */
GV_API uint32_t GVDatetimeCurrent(GVTIMEDATE* now);
/* Breaks a value into parts in its own zone; a null half gives -1 parts. */
GV_API uint32_t GVDatetimeFetch(const GVTIMEDATE* value, GVTIMEPARTS* parts);
/* Builds a value from parts (weekday ignored; zone and daylight taken as given). A part out of
 * range: GVERR_DATETIME. */
GV_API uint32_t GVDatetimeCreate(const GVTIMEPARTS* parts, GVTIMEDATE* value);
/* Adds the amounts on the wall clock, largest unit first (a month step keeps the day, cut to
 * the month's end), carrying across units; then, for a value in the machine's zone, sets the
 * daylight bit as the machine's rules give it for the new moment. A half the amounts need
 * being null, or a year outside 1 to 32767: GVERR_DATETIME, value unchanged. */
GV_API uint32_t GVDatetimeAdjust(GVTIMEDATE* value, const GVTIMEADJUST* amounts);
/* *result -1, 0 or 1: complete values as instants (zones applied); otherwise date, then time
 * of day, a null half first. */
GV_API uint32_t GVDatetimeCompare(const GVTIMEDATE* value, const GVTIMEDATE* base, int32_t* result);
/* *seconds = value - base between the instants, truncated toward zero. A null half:
 * GVERR_DATETIME; beyond 32 bits: GVERR_TOO_BIG. */
GV_API uint32_t GVDatetimeDiff(const GVTIMEDATE* value, const GVTIMEDATE* base, int32_t* seconds);
/* One of GVDT_*. */
GV_API uint32_t GVDatetimeConstant(uint32_t which, GVTIMEDATE* value);

/* ---------------------------------------------------------------- servers ----------- */

/* A server name maps to the directory servers/<name> of the data root; the empty name (or
 * null, or the machine's host name) is the local server, directory local/. A name may carry
 * "@port" (GVServerSetPort); the port does not change the directory. */
#define GVSRVPROP_RESPONDS 1u /* *answer 1 when the server's directory exists, else 0 */
GV_API uint32_t GVServerGetProperty(const char* server, uint32_t property, uint32_t* answer);
/* Writes into result (GV_SERVER_NAME_SIZE bytes) the server name with the port: "server@port",
 * or the server as it is for an empty port. Too long: GVERR_BUFFER_TOO_SMALL. */
GV_API uint32_t GVServerSetPort(const char* server, const char* port, char* result);

/* List walks: GV_LIST_FIRST starts, GV_LIST_NEXT goes on (and starts when no walk is in
 * progress); GVERR_NO_MORE after the last entry. */
#define GV_LIST_FIRST 2u
#define GV_LIST_NEXT 4u
/* The named servers, one per call, into name (GV_SERVER_NAME_SIZE bytes); the local server is
 * not listed. One walk per thread. */
GV_API uint32_t GVServerList(uint32_t position, char* name);

/* ---------------------------------------------------------------- databases --------- */

/* Database names: file is relative to the server's directory ("/" or "\" separates
 * directories; ".." is refused), or absolute ("/...") with an empty server; a file holding
 * "server!!file" names its server itself and the server argument is then ignored. */

/* Opens a database; flags 0. Missing file: GVERR_NO_DATABASE; missing server: GVERR_NO_SERVER;
 * not ours: GVERR_NOT_A_DATABASE. */
GV_API uint32_t GVDatabaseOpen(const char* server, const char* file, uint32_t flags, GVDB* db);
/* Closes it and everything opened through it; flags 0. Documents closed with GVCLOSE_BULK
 * and not yet committed are committed first: a failure is answered (the handle is closed
 * all the same). */
GV_API uint32_t GVDatabaseClose(GVDB db, uint32_t flags);

#define GVCREATE_DOCUMENTS 0x2u /* copy the template's documents too (design always) */
/* Creates a database. With a template (templateFile not null): a copy of the template's
 * design, access list and information notes (and documents with GVCREATE_DOCUMENTS), with a
 * new identity; inherit non-zero records the template as the design's source. Without: an
 * empty database. title null: the template's title, else the file's name. flags 0. An
 * existing file: GVERR_EXISTS; a missing template: GVERR_NO_DATABASE. */
GV_API uint32_t GVDatabaseCreate(const char* server, const char* file, const char* title,
                                 uint32_t flags, const char* templateServer,
                                 const char* templateFile, uint32_t options, uint32_t inherit);
/* Deletes the database file. Missing: GVERR_NO_DATABASE; open in this process:
 * GVERR_DATABASE_IN_USE. */
GV_API uint32_t GVDatabaseDelete(const char* server, const char* file);

#define GVRENAME_REPLACE 0x1u /* an existing newFile is replaced, in one step */
/* Renames a database within its server's directory: file and newFile are both relative to
 * the server's directory (a "server!!file" name must name that same server). The rename is
 * one step: newFile names the old database or the new one, never a part of either. Without
 * GVRENAME_REPLACE an existing newFile: GVERR_EXISTS. Missing file: GVERR_NO_DATABASE; either
 * open in this process: GVERR_DATABASE_IN_USE; file not a database of this API:
 * GVERR_NOT_A_DATABASE; another server: GVERR_INVALID_ARGUMENT. */
GV_API uint32_t GVDatabaseRename(const char* server, const char* file, const char* newFile,
                                 uint32_t flags);

#define GVCOPY_NEW_IDENTITY 0x001u /* the copy gets a new database identity (always so) */
#define GVCOPY_TITLE 0x002u        /* the copy takes title; otherwise the source's title */
#define GVCOPY_WHOLE 0x100u        /* design, documents and access list (always so) */
/* Copies a database, consistent as of one moment, into a new file; note ids and identities
 * are kept. sizeLimit: megabytes (0 or 0x7FFF: none; a larger source: GVERR_TOO_BIG).
 * flags 0. An existing destination: GVERR_EXISTS. */
GV_API uint32_t GVDatabaseCopy(const char* sourceServer, const char* sourceFile,
                               const char* destServer, const char* destFile, const char* title,
                               uint32_t options, uint32_t sizeLimit, uint32_t flags);

#define GVDBLIST_DATABASES 0x2000u
#define GVDBLIST_TEMPLATES 0x4000u
/* The databases (and/or templates) of a server, one per call: name (GV_PATH_SIZE bytes)
 * relative to the server's directory, title (GV_TITLE_SIZE bytes, optional). directory:
 * null for the whole server, else a subdirectory. Other files are skipped. One walk per
 * thread; reserved words 0. */
GV_API uint32_t GVDatabaseList(const char* server, const char* directory, uint32_t reserved,
                               uint32_t kinds, uint32_t position, uint32_t reserved2, char* title,
                               char* name);

#define GVDBPROP_FORM_CHECK 3u /* uint32: 1 = documents keep to their form's fields (0) */
#define GVDBPROP_TITLE 8u      /* text, GV_TITLE_SIZE bytes (get only) */
#define GVDBPROP_IDENTITY 9u   /* 16 bytes (get only) */
#define GVDBPROP_PATH 10u      /* text "server!!file", GV_PATH_SIZE bytes (get only) */
/* Reads a property into value (room by property). */
GV_API uint32_t GVDatabaseGetProperty(GVDB db, uint32_t property, void* value);
/* Sets an integer property of this open database (GVDBPROP_FORM_CHECK). */
GV_API uint32_t GVDatabaseSetProperty(GVDB db, uint32_t property, uint32_t value);

#define GVACCESS_NONE 0u
#define GVACCESS_READER 2u
#define GVACCESS_AUTHOR 3u
#define GVACCESS_EDITOR 4u
#define GVACCESS_MANAGER 6u
#define GVACL_ADD 1u
#define GVACL_UPDATE 2u /* add or replace */
#define GVACL_DELETE 3u
typedef struct GVACLEntry {
  uint32_t access; /* GVACCESS_* */
  uint32_t flags;
  char name[256];
} GVACLEntry;
/* Changes the access list; name null is the default entry. Recorded and listed, never
 * enforced. */
GV_API uint32_t GVACLUpdate(GVDB db, const char* name, const GVACLEntry* entry, uint32_t operation);

/* ---------------------------------------------------------------- design elements --- */

/* One entry of GVFormList, GVViewList, GVAgentList: 268 bytes. */
typedef struct GVDesignEntry {
  GVNOTEID id;
  uint32_t flags; /* the view style, form type or agent kind */
  char name[260];
} GVDesignEntry;

/* A field of a form, as GVFieldList and GVFieldFetch give it: 137 bytes, the name behind a
 * 72-byte head whose first 64 bytes are those of the field's GVFieldRecord. */
#pragma pack(push, 1)
typedef struct GVFieldInfo {
  uint32_t itemType;   /* 0: GVTYPE_* */
  uint32_t flags;      /* 4: GVFIELDF_* */
  uint8_t display[32]; /* 8: kept, not interpreted */
  uint32_t attr40;     /* 40 */
  uint32_t attr44;     /* 44 */
  uint32_t listFlags;  /* 48: 0 one value, GVFIELD_MULTIVALUE several */
  uint8_t reserved[20];
  char name[GV_FIELD_NAME_SIZE]; /* 72 */
} GVFieldInfo;
#pragma pack(pop)
#define GVFIELDF_STORED 0x2u /* the field's item is stored with the document */
#define GVFIELD_MULTIVALUE 14u

/* The design of a form: 280 bytes. */
#pragma pack(push, 1)
typedef struct GVFormDesign {
  uint32_t reserved[3];
  uint32_t formType; /* 12: GVFORM_DOCUMENT */
  char name[264];    /* 16 */
} GVFormDesign;
#pragma pack(pop)
#define GVFORM_DOCUMENT 1u

/* Answers the note id of the form, view or agent of that name, 0 when there is none (the
 * last error then holds GVERR_NO_FORM, GVERR_NO_VIEW or GVERR_NO_AGENT). */
GV_API GVNOTEID GVFormLocateByName(GVDB db, const char* name);
GV_API uint32_t GVFormFetch(GVDB db, GVNOTEID form, GVFormDesign* design);
GV_API uint32_t GVFormList(GVDB db, uint32_t position, GVDesignEntry* entry);
/* Creates a form from design (name, type) and body, a composite whose GVCD_FIELD records
 * define its fields in order (the other records are kept as its layout). *form (optional)
 * receives its id. A form of that name: GVERR_EXISTS. */
GV_API uint32_t GVFormCreate(GVDB db, const GVFormDesign* design, GVCOMP body, GVNOTEID* form);
GV_API uint32_t GVFormDelete(GVDB db, GVNOTEID form);
/* Copies a form (views: GVViewCopy, agents: GVAgentCopy) into target under its name;
 * *copy (optional) the new id; flags 0. A target element of that name: GVERR_EXISTS. */
GV_API uint32_t GVFormCopy(GVDB source, GVNOTEID form, GVDB target, GVNOTEID* copy, uint32_t flags);
/* The form's fields in design order; GVERR_NO_MORE after the last. One walk per database. */
GV_API uint32_t GVFieldList(GVDB db, GVNOTEID form, uint32_t position, GVFieldInfo* field);
/* Answers the number of fields of the form (0 on failure). */
GV_API uint32_t GVFieldGetCount(GVDB db, GVNOTEID form);
/* The field of that name. Unknown: GVERR_NO_FIELD. */
GV_API uint32_t GVFieldFetch(GVDB db, GVNOTEID form, const char* name, GVFieldInfo* field);

/* The record of a field in a form's body (GVCD_FIELD): 80 bytes. */
#pragma pack(push, 1)
typedef struct GVFieldRecord {
  uint32_t itemType;   /* 0: GVTYPE_* */
  uint32_t flags;      /* 4: GVFIELDF_* */
  uint8_t display[32]; /* 8: kept (bytes 15 and 16 are 0x0A and 1 in the standard record) */
  uint32_t attr40;     /* 40: kept (2) */
  uint32_t attr44;     /* 44: kept (2) */
  uint32_t listFlags;  /* 48: 0 or GVFIELD_MULTIVALUE */
  uint8_t reserved[12];
  union {
    const char* name; /* 64: the field's name */
    uint64_t nameSlot;
  };
  union {
    const char* defaultFormula; /* 72: its value for a new document, or null */
    uint64_t defaultSlot;
  };
} GVFieldRecord;
#pragma pack(pop)

/* The design of a view: 296 bytes. */
#define GVVIEW_STANDARD 8u     /* style */
#define GVVIEW_TEMPORARY 2u    /* style: never copied with the design; owned by its maker process */
#define GVVIEWF_RESPONSES 0x1u /* flags: responses shown beneath their parents */
#define GVVIEWSEL_FORMULA 1u
#pragma pack(push, 1)
typedef struct GVViewDesign {
  uint32_t style;         /* 0: GVVIEW_STANDARD or GVVIEW_TEMPORARY */
  uint32_t flags;         /* 4: GVVIEWF_* */
  uint32_t selectionKind; /* 8: GVVIEWSEL_FORMULA */
  uint8_t display[16];    /* 12: kept (bytes 15, 19 and 23 are 0x0A in the standard design) */
  union {
    const char* selection; /* 28: the selection formula; null selects every document */
    uint64_t selectionSlot;
  };
  char name[260]; /* 36 */
} GVViewDesign;
#pragma pack(pop)

/* A column of a view: 153 bytes. kind is a set of GVCOL_* bits; 0 is a column that is only
 * shown. A categorised column is sorted and makes one category entry per value. */
#define GVCOL_SORTED 0x1u
#define GVCOL_DESCENDING 0x2u
#define GVCOL_CATEGORY 0x4u
#define GVCOL_EXPAND 0x8u /* a list value makes one entry per element */
#pragma pack(push, 1)
typedef struct GVViewColumn {
  uint32_t width; /* 0: kept (80) */
  uint32_t reserved4;
  uint32_t kind;       /* 8: GVCOL_* */
  uint8_t display[36]; /* 12: kept (byte 23 is 0x0A, byte 24 is 1 in the standard column) */
  uint32_t attr48;     /* 48: kept (2) */
  uint32_t attr52;     /* 52: kept (2) */
  uint32_t attr56;     /* 56: kept (14) */
  uint32_t reserved60;
  union {
    const char* formula; /* 64: the column's value; a field name is a formula */
    uint64_t formulaSlot;
  };
  char title[81]; /* 72 */
} GVViewColumn;
#pragma pack(pop)

/* A temporary view whose maker process has ended is removed when its name is looked up here
 * or given to GVViewCreate, and is then not found. */
GV_API GVNOTEID GVViewLocateByName(GVDB db, const char* name);
GV_API uint32_t GVViewList(GVDB db, uint32_t position, GVDesignEntry* entry);
/* Creates a view and builds its index over every document. *view optional. A view of that
 * name: GVERR_EXISTS (so concurrent creators take different names); a formula that does not
 * parse: GVERR_FORMULA. */
GV_API uint32_t GVViewCreate(GVDB db, const GVViewDesign* design, uint32_t columnCount,
                             const GVViewColumn* columns, GVNOTEID* view);
/* Deletes the view and its index; indexes already open on it keep their entries. */
GV_API uint32_t GVViewDelete(GVDB db, GVNOTEID view);
GV_API uint32_t GVViewCopy(GVDB source, GVNOTEID view, GVDB target, GVNOTEID* copy, uint32_t flags);
/* Answers the number of columns of the view (0 on failure). */
GV_API uint32_t GVColumnGetCount(GVDB db, GVNOTEID view);

#define GVAGENT_ACTS 1u    /* runs its action over the documents it selects */
#define GVAGENT_SELECTS 2u /* leaves the documents it selects in the index */
#define GVAGENT_SCRIPT 3u  /* runs its body, a qsrun script, through the script host */
typedef struct GVAgentInfo {
  uint32_t kind; /* GVAGENT_* */
  uint32_t flags;
  uint32_t lastCount; /* documents of the last run */
  uint32_t reserved;
  GVTIMEDATE lastRun; /* null when it never ran */
  char name[GV_DESIGN_NAME_SIZE];
} GVAgentInfo;
GV_API GVNOTEID GVAgentLocateByName(GVDB db, const char* name);
GV_API uint32_t GVAgentList(GVDB db, uint32_t position, GVDesignEntry* entry);
/* GVERR_AGENT_NO_INFO: the agent's design records no kind (read it as GVAGENT_ACTS). */
GV_API uint32_t GVAgentFetch(GVDB db, GVNOTEID agent, GVAgentInfo* info);
/* Runs the agent over the documents of index (0: every document its selection takes); its
 * action's changes are stored. A GVAGENT_SELECTS agent narrows index to what it selected.
 * A GVAGENT_SCRIPT agent runs its body in this process with the registered script
 * extension, inside the process's current activity when there is one; a script that fails
 * answers GVERR_AGENT_SCRIPT (its status as the error's info). flags and reserved 0. */
GV_API uint32_t GVAgentExecute(GVDB db, GVNOTEID agent, GVINDEX index, uint32_t flags,
                               uint32_t reserved);
GV_API uint32_t GVAgentCopy(GVDB source, GVNOTEID agent, GVDB target, GVNOTEID* copy,
                            uint32_t flags);
GV_API uint32_t GVAgentDelete(GVDB db, GVNOTEID agent);

/* ---------------------------------------------------------------- indexes ----------- */

/* An index holds entries in order: in a view, category entries (no note) and document
 * entries, each with a level (0 top; responses and the entries under a category deeper);
 * from a search, one entry per document in note-id order. It stands before the first entry,
 * on an entry, or after the last. */

/* A new empty index on db. */
GV_API uint32_t GVIndexOpen(GVDB db, GVINDEX* index);
/* Fills the index with the view's entries as its index holds them now; position before the
 * first. flags and reserved 0. */
GV_API uint32_t GVIndexOpenView(GVINDEX index, uint32_t flags, GVNOTEID view, uint32_t reserved);
/* Fills the index with the notes of the index's classes (GVIDXPROP_CLASSES) that the
 * selection formula takes (null or empty: all) and, with form non-zero, whose "Form" item
 * names that form. flags 0. */
GV_API uint32_t GVIndexSearch(GVINDEX index, const char* formula, GVNOTEID form, uint32_t flags);
#define GVFTS_REFINE 0x8u /* keep only the index's documents that match */
/* Full-text search: every word (or "quoted phrase") of query must occur, letter case
 * ignored, in the document's text, text-list and rich-text items: whole words ("art" is not
 * found in "start"), a phrase within one text (one list entry, one paragraph); a term
 * without a letter or digit is ignored. Searches go through an index that every store and
 * delete keeps. Without GVFTS_REFINE the index is filled from all documents. maxDocuments
 * 0: no limit; *found (optional) the count. */
GV_API uint32_t GVIndexFTSearch(GVINDEX index, const char* query, uint32_t flags,
                                uint32_t maxDocuments, uint32_t* found);

/* A key item of GVIndexKeySearch: 16 bytes. */
typedef struct GVKey {
  uint32_t column; /* from 1 */
  uint32_t kind;   /* GVTYPE_NUMBER, GVTYPE_TEXT or GVTYPE_TIME */
  union {
    double number;
    GVTIMEDATE time;
    const char* text;
  };
} GVKey;
/* On an index filled from a view (else GVERR_NOT_SUPPORTED): takes a fresh snapshot of the
 * view when the database changed since the last one (other processes' saves show), finds the
 * first document entry whose columns equal the keys (texts equal ignoring ASCII case; a list
 * cell by the entry's own value) and stands on it; *matches (optional) = the run of
 * consecutive matching document entries from there (all matches when the keys are the
 * leading sorted columns). None: GVERR_KEY_NOT_FOUND, *matches 0, position before the first.
 * flags 0. */
GV_API uint32_t GVIndexKeySearch(GVINDEX index, uint32_t keyCount, const GVKey* keys,
                                 uint32_t flags, uint32_t* matches);
/* Answers the number of document entries (0 on failure). */
GV_API uint32_t GVIndexGetCount(GVINDEX index);

#define GVNAV_NEXT 0u /* the next entry */
#define GVNAV_PREV 1u
#define GVNAV_NEXT_DESCENDANT 2u  /* the next entry below the one GVNAV_FIRST_DESCENDANT left */
#define GVNAV_FIRST_DESCENDANT 3u /* the first entry below the current one */
#define GVNAV_PARENT 4u
#define GVNAV_NEXT_MAIN 5u    /* the next entry that is no response (a category or main document) */
#define GVNAV_CURRENT 6u      /* the entry it stands on (before the first: moves onto it) */
#define GVNAVF_PEEK 0x1u      /* answer without moving */
#define GVNAVF_BACKWARD 0x2u  /* NEXT and NEXT_MAIN go backward */
#define GVNAVF_DOCUMENTS 0x4u /* pass over category entries */
#define GVNAVF_UNIQUE 0x8u    /* pass over a note already delivered since the last fill */
#define GVENTRY_CATEGORY 0x1u
#define GVENTRY_RESPONSE 0x2u
#define GVENTRY_HAS_CHILDREN 0x4u /* bits 8-15: the entry's level */
/* Moves as asked and gives the entry's note id (0 for a category; noteId optional) and,
 * optional, its GVENTRY_* word. No such entry: GVERR_NO_MORE, position unchanged (NEXT at the
 * end stays after the last entry). A key search leaves the index on its first match, so
 * GVNAV_CURRENT delivers that match and GVNAV_NEXT the ones after it. */
GV_API uint32_t GVIndexNavigate(GVINDEX index, uint32_t direction, uint32_t flags, GVNOTEID* noteId,
                                uint32_t* entryFlags);
/* 0: before the first entry; n: on the n-th entry of level 0 (beyond them: after the last). */
GV_API uint32_t GVIndexSetPosition(GVINDEX index, uint32_t position);
#define GVPOSF_WALK 0x200u /* also keep where GVNAV_NEXT_DESCENDANT walks */
/* Writes the position (and with GVPOSF_WALK the descendant walk) as a text of at most
 * GV_POSITION_SIZE bytes, NUL included, for GVIndexSetViewPosition on the same index. */
GV_API uint32_t GVIndexGetViewPosition(GVINDEX index, uint32_t flags, char* position);
GV_API uint32_t GVIndexSetViewPosition(GVINDEX index, const char* position);
/* Fills the index again the way it was last filled (view, search or full-text search) from
 * the database as it is now; position before the first. */
GV_API uint32_t GVIndexRefresh(GVINDEX index);
/* Deletes every document of the index (each once) and empties it; flags: GVCLOSE_BULK or 0.
 * An index without documents: GVERR_NO_ENTRY. */
GV_API uint32_t GVIndexDeleteAllEntries(GVINDEX index, uint32_t flags);
/* Stores a copy of a document of the index's database (items, attachments, parent
 * reference) as a new note of target with a new identity. *noteId in: the note to copy (0: the
 * document the index stands on); out: the copy's note id. flags 0. */
GV_API uint32_t GVIndexCopyHierarchy(GVINDEX index, GVDB target, GVNOTEID* noteId, uint32_t flags);
#define GVIDXPROP_CLASSES 10u /* uint32 GVCLASS_* mask searched by GVIndexSearch (1) */
#define GVCLASS_DOCUMENT 0x1u
#define GVCLASS_INFO 0x2u /* a template's own documents; other bits name no note here */
GV_API uint32_t GVIndexSetProperty(GVINDEX index, uint32_t property, const void* value);
GV_API uint32_t GVIndexClose(GVINDEX index);

/* Reads column (from 1) of the entry the index stands on as kind: GVTYPE_NUMBER into a
 * double, GVTYPE_TIME into a GVTIMEDATE, GVTYPE_TEXT into capacity bytes (cut on a character
 * boundary, NUL-terminated). An empty cell as number or time: GVERR_NO_VALUE; no column:
 * GVERR_NO_COLUMN; no entry: GVERR_NOT_POSITIONED. */
GV_API uint32_t GVViewcellFetch(GVINDEX index, uint32_t column, uint32_t kind, uint32_t capacity,
                                void* value);
/* *length = bytes of the cell as kind, without a NUL. */
GV_API uint32_t GVViewcellGetLength(GVINDEX index, uint32_t column, uint32_t kind,
                                    uint32_t* length);

/* ---------------------------------------------------------------- documents --------- */

/* A new document, stored at its first save or close; with form non-zero it gets the item
 * "Form" = the form's name and its fields' default values. Identity and creation time are
 * set now; its note id at the first store. With the form check on, form 0 makes a document
 * without a form (a scratch document): items put on it other than "Form" and "$" names are
 * GVERR_NO_FORM until it has a "Form" item. */
GV_API uint32_t GVDocumentCreate(GVDB db, GVNOTEID form, GVDOC* doc);
#define GVOPEN_READONLY 0x1u /* only looked at: stores are refused, closing stores nothing */
/* Opens the note's document as it is stored now. No such document: GVERR_NO_ENTRY. */
GV_API uint32_t GVDocumentOpen(GVDB db, GVNOTEID noteId, uint32_t flags, GVDOC* doc);
/* Stores the items changed since the open (or the last store), leaving other items as
 * another process may have stored them, and updates the views; flags 0 or GVSAVE_UNCHANGED.
 * A document deleted meanwhile: GVERR_NO_ENTRY. */
GV_API uint32_t GVDocumentSave(GVDOC doc, uint32_t flags);
/* Store only when no handle (of any process) stored the document since this one read it at
 * its open or last store: the check and the store are one transaction, so of several
 * handles that read the same state and save with this flag exactly one succeeds. Else
 * GVERR_CONFLICT, nothing is stored and the changes stay pending. A new document never
 * conflicts. */
#define GVSAVE_UNCHANGED 0x1u
#define GVCLOSE_STORE 0x0u
/* Store during a bulk load: the stores closed this way on one database share a write
 * transaction, committed every 1000 documents or 100 ms, before any other call that reads or
 * writes that database (through this handle or another of this thread) and at
 * GVDatabaseClose. A document whose store fails leaves nothing and the others stand; a
 * commit that fails loses the batch and its status is the answer of the call that commits. */
#define GVCLOSE_BULK 0x4u
#define GVCLOSE_DISCARD 0x20000u /* forget the changes */
/* Stores (writing back open composites first) or discards, then closes the handle. The
 * handle is closed also when storing fails. */
GV_API uint32_t GVDocumentClose(GVDOC doc, uint32_t flags);
/* Deletes the note, its items, attachments and view entries; flags GVCLOSE_BULK or 0. No such
 * document: GVERR_NO_ENTRY. */
GV_API uint32_t GVDocumentDelete(GVDB db, GVNOTEID noteId, uint32_t flags);
/* Copies the note into target keeping its identity: a note of target with that identity is
 * replaced (keeping its note id), else one is added; *copy (optional) its note id. */
GV_API uint32_t GVDocumentCopy(GVDB source, GVNOTEID noteId, GVDB target, GVNOTEID* copy);

#define GVDOCPROP_FORM_CHECK 1u /* uint32 get/set: 0 lifts the database's form check (1) */
#define GVDOCPROP_FORM 2u       /* uint32: the form's note id named by "Form", 0 for none */
#define GVDOCPROP_MODIFIED 3u   /* GVTIMEDATE: last stored */
#define GVDOCPROP_NOTE_ID 4u    /* uint32: 0 before the first store */
#define GVDOCPROP_UNID 5u       /* 16 bytes */
#define GVDOCPROP_CLASS 6u      /* uint32 GVCLASS_* */
#define GVDOCPROP_CREATED 9u    /* GVTIMEDATE */
/* 16 bytes get/set: the parent's identity (responses); get on a document without one:
 * GVERR_NO_ENTRY; setting 16 zero bytes removes it. */
#define GVDOCPROP_PARENT 20u
/* Reads a property into value (room by property). */
GV_API uint32_t GVDocumentGetProperty(GVDOC doc, uint32_t property, void* value);
/* Sets a property from what value points at: a uint32 (null reads as 0) or 16 bytes. */
GV_API uint32_t GVDocumentSetProperty(GVDOC doc, uint32_t property, const void* value);
#define GVHANDLE_CORE 0x40000000u
/* *handle = the document's core handle for nordex (flags GVHANDLE_CORE), valid until the
 * document is closed; what nordex changes is stored with the document. */
GV_API uint32_t GVDocumentGetOrdexHandle(GVDOC doc, uint32_t flags, uint32_t* handle);

/* ---------------------------------------------------------------- items ------------- */

/* Replaces every item of that name with one value of kind (GVTYPE_*) at value: length bytes
 * for texts (0: up to a NUL; a null text is empty), lists and GVTYPE_OTHER (0: the list's
 * own size), ignored for numbers and times; for GVTYPE_COMPOSITE value points at a GVCOMP.
 * storeAs: GVTYPE_COMPOSITE stores a text or composite as rich text; with kind
 * GVTYPE_COMPOSITE it converts into that type (text: its text; text list: one entry per
 * paragraph); any other storeAs keeps the kind's own type. flags 0. Above GV_MAX_VALUE
 * (rich text excepted): GVERR_TOO_BIG; not a field under the form check: GVERR_NO_FIELD. */
GV_API uint32_t GVItemPut(GVDOC doc, const char* name, uint32_t storeAs, uint32_t length,
                          uint32_t kind, const void* value, uint32_t flags);
/* Reads the item as *kind (0: as stored) into value: a double or a GVTIMEDATE (capacity not
 * used), a text cut on a character boundary to capacity - 1 bytes and NUL-terminated, or list
 * or record bytes (no room, or capacity 0 for a text: GVERR_BUFFER_TOO_SMALL); then sets *kind
 * to the stored type. Conversions as GVConvert (rich text reads as its text). No item:
 * GVERR_NO_ITEM; an empty list asked as one value: GVERR_NO_VALUE. flags 0. */
GV_API uint32_t GVItemFetch(GVDOC doc, const char* name, uint32_t* kind, uint32_t flags,
                            uint32_t capacity, void* value);
/* The item's stored type, the number of items of that name (rich text in pieces) and the
 * stored length in bytes (8 for a number or time, the text's bytes, the list's bytes, the
 * records of all pieces); each out-parameter optional. No item: GVERR_NO_ITEM. */
GV_API uint32_t GVItemGetInfo(GVDOC doc, const char* name, uint32_t* type, uint32_t* count,
                              uint32_t* length);
/* *length = bytes of the value read as kind, without a NUL; itemType is the caller's
 * expectation and is not checked. */
GV_API uint32_t GVItemGetLength(GVDOC doc, const char* name, uint32_t itemType, uint32_t kind,
                                uint32_t* length);
/* Points *value at the item's bytes in the layout of *kind (0: as stored; a number or time
 * item as a one-entry list or a list as its first value, other changes of layout:
 * GVERR_ITEM_KIND); sets *kind to the stored type and *length to the bytes. The bytes belong
 * to the document and stay valid until the item changes or the document closes. */
GV_API uint32_t GVItemGetPointer(GVDOC doc, const char* name, uint32_t* kind, const void** value,
                                 uint32_t* length);
/* Deletes every item of that name; none: 0. */
GV_API uint32_t GVItemDelete(GVDOC doc, const char* name);
/* Copies every item of that name from source into target, as targetName (null: the same),
 * replacing target's items of that name. No item: GVERR_NO_ITEM. */
GV_API uint32_t GVItemCopy(GVDOC source, const char* name, GVDOC target, const char* targetName);

/* ---------------------------------------------------------------- rich text --------- */

/* A composite is a sequence of records. Each starts with a 16-bit word whose low byte is the
 * record's signature (GVCDSIG_*) and whose high byte is 0xFF (a u16 length follows: 4-byte
 * header), 0 (a u32 length follows: 6-byte header) or the length itself (2-byte header). The
 * length counts the whole record; an odd one is followed by a padding byte. The API writes
 * paragraphs as the 2-byte record 81 02 and every other record with the 4-byte header, or the
 * 6-byte one beyond 65535 bytes; it reads any form and keeps unknown records. */
#define GVCDSIG_PARAGRAPH 0x81u /* a paragraph break; no body */
#define GVCDSIG_PARDEF 0x82u    /* body: GVParagraphDef */
#define GVCDSIG_PARSELECT 0x83u /* body: GVParagraphDef */
#define GVCDSIG_TEXT 0x85u      /* body: u32 style (0), then UTF-8 text to the record's end */
#define GVCDSIG_DOCLINK 0x86u   /* body: GVDocLink */
/* body: the field record's first 64 bytes, u16 name length, the name, u16 default length,
 * the default formula */
#define GVCDSIG_FIELD 0x8Cu
/* Kinds of GVCDRecordInsert and what record points at. */
#define GVCD_PARDEF 2u    /* a GVParagraphDef */
#define GVCD_PARSELECT 3u /* a GVParagraphDef */
#define GVCD_PARAGRAPH 4u /* nothing (null) */
#define GVCD_TEXT 5u      /* a NUL-terminated UTF-8 text */
#define GVCD_DOCLINK 6u   /* a GVDocLink (GVCDRecordMakeDoclink) */
#define GVCD_FIELD 12u    /* a GVFieldRecord */

/* 120 bytes: margins and the first tab in twentieths of a point (1440 an inch); kept, not
 * interpreted. */
#pragma pack(push, 1)
typedef struct GVParagraphDef {
  uint8_t reserved0[24];
  uint16_t leftMargin; /* 24 */
  uint8_t reserved1[6];
  uint16_t rightMargin; /* 32 */
  uint8_t reserved2[6];
  uint16_t firstTab; /* 40 */
  uint8_t reserved3[78];
} GVParagraphDef;
#pragma pack(pop)

/* A link to a document: 48 bytes. */
typedef struct GVDocLink {
  uint8_t database[GV_UNID_SIZE]; /* the database's identity */
  uint8_t view[GV_UNID_SIZE];     /* the view's identity, zeros for none */
  uint8_t note[GV_UNID_SIZE];     /* the document's identity */
} GVDocLink;

/* A new empty composite. itemName null: free-standing (closing it stores nothing); else it
 * replaces the document's items of that name when closed with 0. */
GV_API uint32_t GVCompositeCreate(GVDOC doc, const char* itemName, GVCOMP* comp);
/* A composite holding the records of every item of that name (pieces in order; a text item
 * as paragraphs; none: empty), bound to that name. */
GV_API uint32_t GVCompositeOpen(GVDOC doc, const char* itemName, GVCOMP* comp);
#define GVCOMPCLOSE_WRITE 0u /* write a bound composite back into its items */
#define GVCOMPCLOSE_DISCARD 1u
/* Closes the composite. Writing back cuts the records into items of at most
 * GV_RICHTEXT_PIECE bytes at record boundaries (a larger record makes an item of its own). A
 * composite still open when its document is stored is written back then. */
GV_API uint32_t GVCompositeClose(GVCOMP comp, uint32_t flags);
/* Inserts copies of source's records into target before its record position (0: at the
 * end). */
GV_API uint32_t GVCompositeMerge(GVCOMP target, uint32_t position, GVCOMP source);
/* Inserts one record of kind (GVCD_*) built from record before record position (0: at the
 * end). */
GV_API uint32_t GVCDRecordInsert(GVCOMP comp, uint32_t position, uint32_t kind, const void* record);
/* Fills link with a link to the stored note noteId of db, shown through view (0: none). */
GV_API uint32_t GVCDRecordMakeDoclink(GVDB db, GVNOTEID view, GVNOTEID noteId, GVDocLink* link);

/* ---------------------------------------------------------------- attachments ------- */

typedef struct GVAttachmentInfo {
  char name[256];
  uint32_t size; /* bytes */
  uint32_t flags;
  GVTIMEDATE modified;
} GVAttachmentInfo;
/* The document's attachments, stored and pending, one per call; GVERR_NO_MORE after the last.
 * One walk per document. */
GV_API uint32_t GVAttachmentList(GVDOC doc, uint32_t position, GVAttachmentInfo* info);
/* Writes the attachment into the file path (replaced when it exists). No such attachment:
 * GVERR_NO_ATTACHMENT; the file: GVERR_FILE. */
GV_API uint32_t GVAttachmentExtract(GVDOC doc, const char* name, const char* path);
/* Reads the file at path now and attaches it as name (null: the path's last component),
 * replacing an attachment of that name; stored with the document. flags and reserved 0. */
GV_API uint32_t GVAttachmentAttach(GVDOC doc, const char* path, const char* name, uint32_t flags,
                                   uint32_t reserved);
/* Attaches a copy of source's attachment to target. */
GV_API uint32_t GVAttachmentCopy(GVDOC source, const char* name, GVDOC target);

/* ---------------------------------------------------------------- mail -------------- */

/* A new unsaved document in source's database holding copies of source's items (not "Form"),
 * with "Form" "Memo", "SendTo", "CopyTo", "BlindCopyTo" (text lists of the ","-separated
 * names; null: none), "Subject" and "From". */
GV_API uint32_t GVMailCreate(GVDOC source, const char* sendTo, const char* copyTo,
                             const char* blindCopyTo, const char* subject, GVDOC* mail);
#define GVMAIL_EMBED_FORM 0x4u /* the mail keeps its "Form" and names it in "$EmbeddedForm" */
/* Stores a copy of the document, with "PostedDate" and "Recipients", in the mail spool
 * database (mailspool.odb of the local server, made on first use); the document itself is
 * not stored. An empty "SendTo": GVERR_MAIL. */
GV_API uint32_t GVMailSend(GVDOC doc, uint32_t flags);

/* ---------------------------------------------------------------- layout checks ----- */

GV_STATIC_ASSERT(sizeof(GVTIMEDATE) == 8 && sizeof(GVTIMEPARTS) == 40 && sizeof(GVTIMEADJUST) == 32,
                 "date-time records have fixed widths");
GV_STATIC_ASSERT(sizeof(GVDesignEntry) == 268 && sizeof(GVFieldInfo) == 137 &&
                     offsetof(GVFieldInfo, name) == 72 && sizeof(GVFormDesign) == 280,
                 "design entries have fixed widths");
GV_STATIC_ASSERT(sizeof(GVFieldRecord) == 80 && offsetof(GVFieldRecord, listFlags) == 48 &&
                     offsetof(GVFieldRecord, name) == 64,
                 "field record layout");
GV_STATIC_ASSERT(sizeof(GVViewDesign) == 296 && offsetof(GVViewDesign, selection) == 28 &&
                     offsetof(GVViewDesign, name) == 36,
                 "view design layout");
GV_STATIC_ASSERT(sizeof(GVViewColumn) == 153 && offsetof(GVViewColumn, kind) == 8 &&
                     offsetof(GVViewColumn, formula) == 64 && offsetof(GVViewColumn, title) == 72,
                 "view column layout");
GV_STATIC_ASSERT(sizeof(GVParagraphDef) == 120 && offsetof(GVParagraphDef, rightMargin) == 32 &&
                     offsetof(GVParagraphDef, firstTab) == 40,
                 "paragraph definition layout");
GV_STATIC_ASSERT(sizeof(GVDocLink) == 48 && sizeof(GVKey) == 16, "link and key records");

#ifdef __cplusplus
}
#endif

#endif /* TW_OUTSIDE_PLEXAPI_PLEXAPI_H_ */
