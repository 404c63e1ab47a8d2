/* The script host's extension interface: what a Quenscript host hands an extension library
 * and expects from it. An extension exports MainEntryPoint, QsxMsgProc, QSXClassControl and
 * the script functions it registers; the host drives it through the message procedure
 * (messages 0, 11, 1, 2 when a script instance starts, 3 when it ends) and reaches its
 * objects through QSXClassControl.
 *
 * Ownership: the host owns every QsValue and the strings in them; an extension writes into a
 * host value only through the instance's store slot, which copies strings and takes over one
 * reference of an object. Objects are the extension's; the host holds them by reference
 * (class control 261 and 262) and never after message 3 has deleted them.
 *
 * Thread rules: one script instance is driven by one thread at a time. */
#ifndef TW_QSHOST_QSX_H_
#define TW_QSHOST_QSX_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QSX_VERSION 0x20000u

/* The host's status codes answered by QSXClassControl and the registration slots. */
#define QSX_OK 0u
#define QSX_EXISTS 17u      /* already defined */
#define QSX_NO_OBJECT 18u   /* no object, no such class or property, no memory */
#define QSX_NO_METHOD 35u   /* no such method */
#define QSX_NOT_ALLOWED 57u /* not allowed; a walk past its end */

/* Class-control codes. */
#define QSXC_CREATE 257u
#define QSXC_DELETE 258u
#define QSXC_REFUSED 259u
#define QSXC_ADD_REF 261u
#define QSXC_RELEASE 262u
#define QSXC_GET 263u
#define QSXC_SET 264u
#define QSXC_CALL 265u
#define QSXC_LOOKUP 270u
#define QSXC_WALK_BEGIN 277u
#define QSXC_WALK_STEP 278u
#define QSXC_WALK_END 279u

/* Declared types of results, properties and arguments. */
#define QST_ANY 0x0u
#define QST_INT 0x2u
#define QST_DOUBLE 0x4u
#define QST_CURRENCY 0x5u
#define QST_STRING 0x6u
#define QST_BYVAL 0x800u /* without it an argument is a variable the call may write */
#define QST_OPTIONAL 0x80u
#define QST_OBJECT 0x8209u /* low half; the class number in the high half */
#define QST_OBJECT_OF(cls) ((((uint32_t)(cls)) << 16) | QST_OBJECT)
#define QST_SELF QST_OBJECT_OF(0xFFFFu)
#define QST_NEW_FLAG 0x100000u /* count word of a constructor */

/* Kinds of a host value. A reference points at the variable it stands for. */
#define QSV_EMPTY 0u
#define QSV_INT 2u
#define QSV_DOUBLE 4u
#define QSV_CURRENCY 5u /* ten-thousandths */
#define QSV_STRING 6u   /* two-byte text, length in two-byte units, ended by a zero unit */
#define QSV_DATE 7u     /* days since 30 December 1899, the fraction the time of day */
#define QSV_OBJECT 9u
#define QSV_REF 0x4000u

typedef struct QsxObject QsxObject;

typedef struct QsValue {
  uint32_t kind;
  uint32_t length;
  union {
    int32_t i;
    double d;
    int64_t cy;
    const uint16_t* s;
    QsxObject* obj;
    struct QsValue* ref;
  } u;
} QsValue;

/* The first words of every extension object. query answers QSX_OK and the object itself
 * (with a reference added) for the interface identifier the extension names, else
 * QSX_NO_OBJECT and null. */
typedef struct QsxObjectTable {
  uint32_t (*query)(QsxObject* self, const uint8_t iid[16], QsxObject** out);
  uint32_t (*addRef)(QsxObject* self);
  uint32_t (*release)(QsxObject* self);
} QsxObjectTable;

struct QsxObject {
  const QsxObjectTable* table;
  uint32_t classNumber;
};

typedef struct QsxPropertyRow {
  const char* name;
  uint32_t id;
  uint32_t type;
  uint32_t reference;
} QsxPropertyRow;

typedef struct QsxMethodRow {
  const char* name;
  uint32_t id;
  const uint32_t* types;       /* the result, the object itself, then each argument */
  const char* const* argNames; /* one per argument */
  uint32_t count;              /* low half: entries after the result; QST_NEW_FLAG for New */
  uint32_t reference;
} QsxMethodRow;

typedef struct QsxClassDescriptor {
  const char* name;
  uint32_t classNumber;
  uint32_t propertyCount;
  const QsxPropertyRow* properties;
  uint32_t methodCount;
  const QsxMethodRow* methods;
} QsxClassDescriptor;

typedef struct QsxFunctionRow {
  const char* name;
  uint32_t resultType;
  uint32_t argType;
  const char* resultName;
  const char* argName;
  uint32_t reference;
} QsxFunctionRow;

typedef uint8_t QsxClassId[16];
typedef struct QsxInstance QsxInstance;

/* The instance record of one script instance. Words 0 and 1 are the extension's to read
 * and write as the messages say; the slots are the host's. */
struct QsxInstance {
  const char* text;  /* the text message 11 keeps */
  uintptr_t version; /* written by message 1 */
  uint32_t (*registerClass)(QsxInstance* self, const char* keptText, const char* controlName,
                            const QsxClassId* ids, const QsxClassDescriptor* cls);
  uint32_t (*registerFunction)(QsxInstance* self, uint32_t index, const char* keptText,
                               const QsxFunctionRow* function, const QsxClassId* ids);
  uint32_t (*registerConstant)(QsxInstance* self, const char* name, const QsValue* value);
  /* Stores value into the variable (a string is copied, an object's reference taken over). */
  uint32_t (*store)(QsxInstance* self, QsValue* variable, const QsValue* value);
  /* Raises a script error: status and its text (two-byte, at most 255 units and a zero). */
  void (*raise)(QsxInstance* self, uint32_t status, const uint16_t* text);
  void* host;
};

/* The call record of QSXClassControl. */
typedef struct QsxCall {
  QsxObject* object;      /* the object addressed; create stores the new one here */
  const uint8_t* classId; /* create: the sixteen-byte class identifier */
  uint32_t member;        /* the method or property id; look-up and walk steps answer it */
  uint32_t argCount;
  QsValue* args;
  QsValue* result;       /* a method's result, a property's value (read or written) */
  const uint16_t* name;  /* look-up: the property name, zero-ended */
  uint32_t declaredType; /* look-up and walk steps answer it; get and set pass it back */
} QsxCall;

typedef struct QsxEntryRecord {
  uintptr_t reserved;
  uintptr_t version;
  uintptr_t msgProc;
} QsxEntryRecord;

typedef intptr_t (*QsxMsgProcFn)(uint32_t message, uintptr_t arg1, uintptr_t arg2);
typedef uint32_t (*QsxClassControlFn)(QsxInstance* instance, uint32_t code, QsxCall* call,
                                      uintptr_t argument);
typedef QsxEntryRecord* (*QsxMainEntryFn)(QsxEntryRecord* record, uintptr_t ignored);
typedef uint32_t (*QsxInitFn)(QsxInstance* instance, void* module);
typedef uint32_t (*QsxFunctionFn)(QsxInstance* instance, QsValue* result, const QsValue* arg);

#ifdef __cplusplus
}
#endif

#endif /* TW_QSHOST_QSX_H_ */
