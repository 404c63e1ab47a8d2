/* The Ordex core library nordex: item operations below the Plexa API on an open document,
 * reached through its core handle (GVDocumentGetOrdexHandle). Callers that import these by
 * ordinal find the names in NXOrdinalTable; the named functions are the same entry points.
 *
 * An item of a document is a head block (its name and flags) and a value block: a u16 value
 * type word (NXTYPE_*, little-endian) followed by the value as stored: a list layout for types
 * 1 to 6 (a single number, text or time as a one-entry list), records for rich text.
 * Several items may share a name: rich text is stored as several composite items. What is
 * changed here belongs to the open document and is stored or discarded with it; the Plexa
 * calls on the same document see it at once.
 *
 * Status: functions that answer a status answer a 16-bit one, 0 on success; a failure s is
 * the Plexa status 0x80000000 | s (its text: GVErrorGetInfo), and is recorded as the last
 * Plexa failure of the thread. Block handles stay valid until the item is changed or deleted
 * or the document is closed; a locked block's bytes likewise. Threads: as the document's. */
#ifndef TW_OUTSIDE_NORDEX_NORDEX_H_
#define TW_OUTSIDE_NORDEX_NORDEX_H_

#include <stdint.h>

#include "plexapi.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef NX_API
#define NX_API __attribute__((visibility("default")))
#endif

typedef uint32_t NXDOC;   /* a document's core handle */
typedef uint32_t NXBLOCK; /* an item's head block or value block; 0 names none */

/* Value type words and the layout of the value that follows the word. */
#define NXTYPE_COMPOSITE 0x0001u /* rich-text records (GVTYPE_COMPOSITE) */
#define NXTYPE_NUMBER 0x0101u    /* the one-entry number list layout (GVTYPE_NUMBER) */
#define NXTYPE_TEXT 0x0102u      /* the one-entry text list layout (GVTYPE_TEXT) */
#define NXTYPE_TIME 0x0103u      /* the one-entry time list layout (GVTYPE_TIME) */
#define NXTYPE_TEXT_LIST 0x0104u
#define NXTYPE_NUMBER_LIST 0x0105u
#define NXTYPE_TIME_LIST 0x0106u
#define NXTYPE_OTHER 0x0108u

/* 16-bit statuses: the low half of the matching Plexa status. */
#define NXERR_INVALID_ARGUMENT 0x0101u
#define NXERR_INVALID_HANDLE 0x0102u
#define NXERR_NO_MEMORY 0x0103u
#define NXERR_TOO_BIG 0x010Bu
#define NXERR_READ_ONLY 0x0111u
#define NXERR_NO_ITEM 0x0A01u   /* no (further) item of that name */
#define NXERR_COMPOSITE 0x0D01u /* composite bytes that are not whole records */
#define NXERR_NO_FIELD 0x0802u  /* not a field of the form under the form check */

/* What locking a head block gives. */
typedef struct NXItemHead {
  uint16_t flags;      /* 0 */
  uint16_t nameLength; /* bytes of the name that follows the head, no NUL */
  uint16_t valueType;  /* NXTYPE_* */
  uint16_t reserved;
  uint32_t valueLength; /* bytes of the value block, its type word included */
} NXItemHead;

/* Header record kinds of NXHeaderRead and NXHeaderWrite. */
#define NXHEADER_IDENTITY 2u
/* The identity record of a note: 40 bytes. */
typedef struct NXIdentity {
  uint8_t unid[GV_UNID_SIZE]; /* the note's identity: the only part NXHeaderWrite changes */
  uint32_t sequence;          /* times stored */
  uint32_t reserved;
  GVTIMEDATE created;
  GVTIMEDATE modified;
} NXIdentity;

/* Ordinal 2062. Finds the first item of name (nameLength bytes, letter case ignored): *item
 * its head block, *valueType its type word, *value its value block, *valueLength the value
 * block's bytes (type word included); each out-parameter optional. None: NXERR_NO_ITEM. */
NX_API uint16_t NXItemFirst(NXDOC doc, const char* name, uint16_t nameLength, NXBLOCK* item,
                            uint16_t* valueType, NXBLOCK* value, uint32_t* valueLength);
/* Ordinal 2164. The item of the same name after previous (a head block from NXItemFirst or
 * NXItemNext), with the same outputs. None: NXERR_NO_ITEM. */
NX_API uint16_t NXItemNext(NXDOC doc, NXBLOCK previous, const char* name, uint16_t nameLength,
                           NXBLOCK* item, uint16_t* valueType, NXBLOCK* value,
                           uint32_t* valueLength);
/* Ordinal 182. Answers the address of the block's bytes (a head block: an NXItemHead followed
 * by the name; a value block: the type word followed by the value), null for a bad block. The
 * bytes are the document's; they may be read, never written. */
NX_API const void* NXBlockLock(NXBLOCK block);
/* Ordinal 183. Ends a lock; every lock is matched by one unlock. */
NX_API uint16_t NXBlockUnlock(NXBLOCK block);
/* Ordinal 2006. Appends one more item of name (nameLength bytes) holding valueLength bytes
 * of value of valueType; the type word is added here. flags 0. Composite bytes must be whole
 * records (NXERR_COMPOSITE); a value above 16 MiB, or any other type above GV_MAX_VALUE:
 * NXERR_TOO_BIG. */
NX_API uint16_t NXItemAppend(NXDOC doc, uint16_t flags, const char* name, uint16_t nameLength,
                             uint16_t valueType, const void* value, uint32_t valueLength);
/* Ordinal 2050. Copies the note's header record of kind (NXHEADER_IDENTITY) into header. */
NX_API uint16_t NXHeaderRead(NXDOC doc, uint16_t kind, void* header);
/* Ordinal 2051. Writes the header record: the note takes the identity given. Another note of
 * the database with that identity makes the next store fail with GVERR_EXISTS. */
NX_API uint16_t NXHeaderWrite(NXDOC doc, uint16_t kind, const void* header);

/* The ordinals and their names, in ascending ordinal order: one list for the table below and
 * for anything that dispatches by ordinal. */
#define NX_ORDINALS(X)   \
  X(182, NXBlockLock)    \
  X(183, NXBlockUnlock)  \
  X(2006, NXItemAppend)  \
  X(2050, NXHeaderRead)  \
  X(2051, NXHeaderWrite) \
  X(2062, NXItemFirst)   \
  X(2164, NXItemNext)

typedef struct NXOrdinal {
  uint32_t ordinal;
  const char* name; /* the exported name */
} NXOrdinal;
/* Ascending by ordinal; ends with {0, NULL}. */
NX_API extern const NXOrdinal NXOrdinalTable[];
/* Answers the name exported for an ordinal, null for an unknown one. */
NX_API const char* NXOrdinalName(uint32_t ordinal);

GV_STATIC_ASSERT(sizeof(NXItemHead) == 12 && sizeof(NXIdentity) == 40, "nordex records");

#ifdef __cplusplus
}
#endif

#endif /* TW_OUTSIDE_NORDEX_NORDEX_H_ */
