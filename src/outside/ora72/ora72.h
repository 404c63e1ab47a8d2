/* ORA72, our stand-in for the Oracle 7 client library: one SQLite database per server name,
 * kept as "<server>.ora" in the directory named by ORA72_DATA (ORA72_SID names the server of
 * a connect text without "@server"). It speaks the small dialect the oracle connector emits
 * (DUAL, SYSDATE, TO_DATE, ROWID, TRUNCATE, FOR UPDATE OF, the dictionary views) and answers
 * with Oracle return codes. ORA72_TRACE names a file that gets every parsed text as given.
 *
 * Every call answers 0 on success, else the return code, which is also left in the login area
 * (login calls) or the cursor (statement calls). Bound and defined addresses are read and
 * written at execute and fetch time; they must stay valid until the cursor is closed or bound
 * anew. One thread uses a login area and its cursors at a time; several processes may share a
 * database (WAL, busy timeout). */
#ifndef TW_OUTSIDE_ORA72_ORA72_H_
#define TW_OUTSIDE_ORA72_ORA72_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef ORA_API
#define ORA_API __attribute__((visibility("default")))
#endif

/* Login data area: callers read rc only. */
typedef struct OraLda {
  int16_t rc;
  uint16_t reserved1;
  uint32_t reserved2;
  void* session;
} OraLda;

/* Host data area: opaque, kept beside the login area by the caller. */
typedef struct OraHda {
  unsigned char bytes[256];
} OraHda;

/* Cursor: callers read rc, rpc (rows processed, cumulative over fetches of one query) and peo
 * (the offset in the parsed text where a parse error was found). */
typedef struct OraCursor {
  int16_t rc;
  uint16_t ft;
  uint32_t rpc;
  uint16_t peo;
  uint16_t reserved1;
  uint32_t reserved2;
  void* statement;
} OraCursor;

/* Internal (describe) and external (bind, define) type codes. */
#define ORA_VARCHAR2 1
#define ORA_NUMBER 2
#define ORA_INTEGER 3
#define ORA_FLOAT 4
#define ORA_STRING 5
#define ORA_VARNUM 6
#define ORA_LONG 8
#define ORA_VARCHAR 9
#define ORA_ROWID 11
#define ORA_DATE 12
#define ORA_VARRAW 15
#define ORA_RAW 23
#define ORA_LONGRAW 24
#define ORA_LONGVARCHAR 94
#define ORA_LONGVARRAW 95
#define ORA_CHAR 96

/* Return codes that callers act on. */
#define ORA_RC_UNIQUE 1
#define ORA_RC_RESOURCE_BUSY 54
#define ORA_RC_INVALID_SQL 900
#define ORA_RC_INVALID_IDENTIFIER 904
#define ORA_RC_INVALID_CHARACTER 911
#define ORA_RC_NO_TABLE 942
#define ORA_RC_FETCH_OUT_OF_SEQUENCE 1002
#define ORA_RC_NO_COLUMN 1007
#define ORA_RC_NOT_LOGGED_ON 1012
#define ORA_RC_LOGON_DENIED 1017
#define ORA_RC_UNKNOWN_BIND 1036
#define ORA_RC_NOT_NULL 1400
#define ORA_RC_TOO_LARGE 1401
#define ORA_RC_NO_DATA 1403
#define ORA_RC_NULL_FETCHED 1405
#define ORA_RC_TRUNCATED 1406
#define ORA_RC_INVALID_NUMBER 1722
#define ORA_RC_BLOCK 6550
#define ORA_RC_NO_SERVICE 12154
#define ORA_RC_INTERNAL 600

ORA_API int OraLogon(OraLda* lda, OraHda* hda, const char* connect, int connectLength,
                     const char* unused1, int unused2, int mode);
ORA_API int OraLogoff(OraLda* lda);
ORA_API int OraOpen(OraCursor* cursor, OraLda* lda, const char* unused1, int unused2,
                    int unused3, const char* unused4, int unused5);
ORA_API int OraClose(OraCursor* cursor);
ORA_API int OraParse(OraCursor* cursor, const char* text, int32_t textLength, int deferred,
                     uint32_t version);
ORA_API int OraDescribe(OraCursor* cursor, int position, int32_t* size, int16_t* type,
                        char* name, int32_t* nameLength, int32_t* displaySize,
                        int16_t* precision, int16_t* scale, int16_t* nullable);
ORA_API int OraDefine(OraCursor* cursor, int position, void* buffer, int32_t elementLength,
                      int type, int scale, int16_t* indicators, const char* fmt, int fmtLength,
                      int fmtType, uint16_t* returnLengths, uint16_t* returnCodes);
ORA_API int OraBindByName(OraCursor* cursor, const char* name, int nameLength, void* value,
                          int32_t valueLength, int type, int scale, int16_t* indicators,
                          const char* fmt, int fmtLength, int fmtType);
ORA_API int OraExecute(OraCursor* cursor);
ORA_API int OraExecuteArray(OraCursor* cursor, uint32_t rows, int cancel);
ORA_API int OraFetch(OraCursor* cursor);
ORA_API int OraFetchArray(OraCursor* cursor, uint32_t rows);
ORA_API int OraLongPiece(OraCursor* cursor, int position, void* buffer, int32_t bufferLength,
                         int type, uint32_t* pieceLength, uint32_t offset);
ORA_API int OraCommit(OraLda* lda);
ORA_API int OraRollback(OraLda* lda);
ORA_API int OraAutocommitOn(OraLda* lda);
ORA_API int OraAutocommitOff(OraLda* lda);
/* Writes "ORA-nnnnn: text" and a newline, NUL-terminated, cut to bufferSize. */
ORA_API int OraErrorText(OraLda* lda, int rc, char* buffer, int bufferSize);
ORA_API int OraEndQuery(OraCursor* cursor);

/* Makes the database of a server in dir: its user, password, NLS_CHARACTERSET and, when clock
 * is not null, a fixed SYSDATE ("YYYY-MM-DD HH:MM:SS"). Refuses an existing database. Answers
 * 0 or a return code; message (may be null, size > 0) gets a line on failure. */
ORA_API int OraAdmCreate(const char* dir, const char* server, const char* user,
                         const char* password, const char* charset, const char* clock,
                         char* message, int messageSize);

#define ORA_ORDINALS(X) \
  X(64, OraBindByName)  \
  X(65, OraEndQuery)    \
  X(85, OraClose)       \
  X(86, OraCommit)      \
  X(87, OraDefine)      \
  X(92, OraFetchArray)  \
  X(93, OraLongPiece)   \
  X(97, OraLogon)       \
  X(271, OraAutocommitOff) \
  X(272, OraAutocommitOn)  \
  X(273, OraDescribe)   \
  X(275, OraErrorText)  \
  X(276, OraExecute)    \
  X(277, OraExecuteArray) \
  X(278, OraFetch)      \
  X(279, OraLogoff)     \
  X(281, OraOpen)       \
  X(282, OraParse)      \
  X(283, OraRollback)

typedef struct OraOrdinal {
  uint32_t ordinal;
  const char* name; /* the exported name */
} OraOrdinal;

ORA_API extern const OraOrdinal OraOrdinalTable[];
/* The exported name of an ordinal, or null. */
ORA_API const char* OraOrdinalName(uint32_t ordinal);

#ifdef __cplusplus
}
#endif

#endif /* TW_OUTSIDE_ORA72_ORA72_H_ */
