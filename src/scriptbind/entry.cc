// The exports of the script extension: the entry record, the message procedure, the
// registration of classes, functions and constants with a script instance, class control
// and the four script functions.
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

#include "scriptbind.h"

#define QSX_EXPORT extern "C" __attribute__((visibility("default")))

namespace scriptbind {

namespace {
constexpr uint32_t kFirstClassWord = 0x7A41C280u;
}  // namespace

#define TW_CLASS_ID(n)                                                                        \
  {                                                                                           \
    0x80 + (n), 0xC2, 0x41, 0x7A, 0x1E, 0x5B, 0xCF, 0x11, 0xA3, 0x6D, 0x00, 0x80, 0xC7, 0xE2, \
        0x94, 0x1A                                                                            \
  }
// {7A41C281-5B1E-11CF-A36D-0080C7E2941A} for class 1 up to ...C289 for class 9, after an
// all-zero entry.
const QsxClassId kClassIds[kClassCount + 1] = {{},
                                               TW_CLASS_ID(1),
                                               TW_CLASS_ID(2),
                                               TW_CLASS_ID(3),
                                               TW_CLASS_ID(4),
                                               TW_CLASS_ID(5),
                                               TW_CLASS_ID(6),
                                               TW_CLASS_ID(7),
                                               TW_CLASS_ID(8),
                                               TW_CLASS_ID(9)};
#undef TW_CLASS_ID
const uint8_t kInterfaceId[16] = {0x00, 0xB4, 0x41, 0x7A, 0x1E, 0x5B, 0xCF, 0x11,
                                  0xA3, 0x6D, 0x00, 0x80, 0xC7, 0xE2, 0x94, 0x1A};

namespace {

// The text message 11 hands over, kept for every later registration.
std::mutex gTextMutex;
char gKeptText[257] = {};

struct IntConstant {
  const char* name;
  uint32_t value;
};
struct DoubleConstant {
  const char* name;
  double value;
};
#define TW_CONST(N) {#N, static_cast<uint32_t>(N)},
#define TW_CONST_F(N)
const IntConstant kIntConstants[] = {
#include "twconst_table.inc"
};
#undef TW_CONST
#undef TW_CONST_F
#define TW_CONST(N)
#define TW_CONST_F(N) {#N, (N)},
const DoubleConstant kDoubleConstants[] = {
#include "twconst_table.inc"
};
#undef TW_CONST
#undef TW_CONST_F

const QsxFunctionRow kFunctions[] = {
    {"TWFLOATFROMCURRENCY", QST_DOUBLE, QST_OBJECT_OF(kCurrency), "twThisFloat", "twSrcCurrency",
     21},
    {"TWFLOATFROMNUMERIC", QST_DOUBLE, QST_OBJECT_OF(kNumeric), "twThisFloat", "twSrcNumeric", 22},
    {"TWFLOATFROMSTREAM", QST_DOUBLE, QST_OBJECT_OF(kStream), "twThisFloat", "twSrcStream", 23},
    {"TWINTFROMSTREAM", QST_INT, QST_OBJECT_OF(kStream), "twThisInt", "twSrcStream", 23},
};

bool Ok(uint32_t st) {
  return st == QSX_OK || st == QSX_EXISTS;
}

uint32_t InitEverything(QsxInstance* instance, void* module) {
  (void)module;
  if (instance == nullptr || instance->registerClass == nullptr ||
      instance->registerFunction == nullptr || instance->registerConstant == nullptr)
    return QSX_NO_OBJECT;
  char text[257];
  {
    std::lock_guard<std::mutex> lock(gTextMutex);
    std::memcpy(text, gKeptText, sizeof text);
  }
  for (uint16_t cls = kClassCount; cls >= 1; --cls) {
    const uint32_t st =
        instance->registerClass(instance, text, "QSXClassControl", kClassIds, Descriptor(cls));
    if (!Ok(st)) return st;
  }
  for (uint32_t i = 0; i < std::size(kFunctions); ++i) {
    const uint32_t st = instance->registerFunction(instance, i, text, &kFunctions[i], kClassIds);
    if (!Ok(st)) return st;
  }
  for (const IntConstant& c : kIntConstants) {
    QsValue v{};
    v.kind = QSV_INT;
    v.u.i = static_cast<int32_t>(c.value);
    const uint32_t st = instance->registerConstant(instance, c.name, &v);
    if (!Ok(st)) return st;
  }
  for (const DoubleConstant& c : kDoubleConstants) {
    QsValue v{};
    v.kind = QSV_DOUBLE;
    v.u.d = c.value;
    const uint32_t st = instance->registerConstant(instance, c.name, &v);
    if (!Ok(st)) return st;
  }
  // The module keeps a two-byte copy of the kept text.
  TWStream native{};
  native.format = TWSTREAMFMT_NATIVE;
  native.length = static_cast<uint32_t>(std::strlen(text));
  native.data = text;
  Module* m = new (std::nothrow) Module(instance, StreamText(native));
  return m != nullptr ? QSX_OK : QSX_NO_OBJECT;
}

// Every module object of the instance goes, with every live object in it: registering twice
// into one instance must not leave the older module behind.
void DeleteModules(QsxInstance* instance) {
  while (Module* m = FindModule(instance)) DeleteObject(m);
}

uint16_t ClassOfId(const uint8_t* id) {
  if (id == nullptr) return 0;
  const uint32_t word = static_cast<uint32_t>(id[0]) | static_cast<uint32_t>(id[1]) << 8 |
                        static_cast<uint32_t>(id[2]) << 16 | static_cast<uint32_t>(id[3]) << 24;
  if (word <= kFirstClassWord || word > kFirstClassWord + kClassCount) return 0;
  return static_cast<uint16_t>(word - kFirstClassWord);
}

uint32_t ClassControl(QsxInstance* instance, uint32_t code, QsxCall* call) {
  if (call == nullptr) return QSX_NO_OBJECT;
  if (code == QSXC_CREATE) {
    Module* m = FindModule(instance);
    if (m == nullptr) return QSX_NO_OBJECT;
    const uint16_t cls = ClassOfId(call->classId);
    // An identifier that names none of our classes makes nothing; once the instance has its
    // activity that is not an error for the host, which finds no object in the call record.
    if (cls == 0) {
      call->object = nullptr;
      return m->activity() != nullptr ? QSX_OK : QSX_NO_OBJECT;
    }
    if (cls == kActivity && m->activity() != nullptr) return QSX_EXISTS;
    if (cls != kActivity && m->activity() == nullptr) return QSX_NO_OBJECT;
    ScriptObject* o = nullptr;
    const uint32_t st = CreateObject(m, instance, cls, call, &o);
    if (st == QSX_OK) call->object = o;
    return st;
  }
  if (call->object == nullptr) return QSX_NO_OBJECT;
  auto* o = static_cast<ScriptObject*>(call->object);
  switch (code) {
    case QSXC_DELETE:
      DeleteObject(o);
      call->object = nullptr;
      return QSX_OK;
    case QSXC_REFUSED:
      return QSX_NO_OBJECT;
    case QSXC_ADD_REF:
      kObjectTable.addRef(o);
      return QSX_OK;
    case QSXC_RELEASE:
      if (kObjectTable.release(o) == 0) call->object = nullptr;
      return QSX_OK;
    case QSXC_GET:
      if (o->cls() == kActivity && call->declaredType == QST_STRING)
        return static_cast<ActivityObject*>(o)->GetToken(call->member, call->result);
      return o->Get(call->member, call->result);
    case QSXC_SET:
      if (o->cls() == kActivity && call->declaredType == QST_STRING)
        return static_cast<ActivityObject*>(o)->SetToken(call->member, call->result);
      return o->Set(call->member, call->result);
    case QSXC_CALL:
      return CallMethod(o, call);
    case QSXC_LOOKUP: {
      if (call->name == nullptr) return QSX_NO_OBJECT;
      std::u16string name(reinterpret_cast<const char16_t*>(call->name));
      return o->Lookup(name, &call->member, &call->declaredType);
    }
    case QSXC_WALK_BEGIN:
      return o->WalkBegin();
    case QSXC_WALK_STEP: {
      const uint32_t st = o->WalkStep(call->result, &call->member);
      if (st == QSX_OK) call->declaredType = QST_STRING;
      return st;
    }
    case QSXC_WALK_END:
      return o->WalkEnd();
    default:
      return QSX_OK;  // the default handler
  }
}

// A script function: the engine's conversion of the value its argument object holds. An
// argument of another class takes the error path with 12546.
template <class T, class Out, class Value>
uint32_t ScriptFunction(QsxInstance* instance, QsValue* result, const QsValue* arg, uint16_t cls,
                        uint32_t (*convert)(Out*, const Value*)) {
  ScriptObject* o = ObjectOf(arg);
  if (o == nullptr || o->cls() != cls) {
    if (Module* m = FindModule(instance))
      if (m->activity() != nullptr) m->activity()->Fail(TWFAIL_TYPE_MISMATCH);
    return QSX_OK;
  }
  QsValue v{};
  Out* number = nullptr;
  if constexpr (std::is_same_v<Out, double>) {
    v.kind = QSV_DOUBLE;
    number = &v.u.d;
  } else {
    v.kind = QSV_INT;
    number = &v.u.i;
  }
  const uint32_t st = convert(number, &static_cast<T*>(o)->value);
  if (st != TWSUCCESS) {
    o->Fail(st);
    return QSX_OK;
  }
  if (result != nullptr && instance != nullptr && instance->store != nullptr)
    return instance->store(instance, result, &v);
  return QSX_OK;
}

}  // namespace
}  // namespace scriptbind

using namespace scriptbind;

QSX_EXPORT intptr_t QsxMsgProc(uint32_t message, uintptr_t arg1, uintptr_t arg2) noexcept;
QSX_EXPORT uint32_t QSXClassControl(QsxInstance* instance, uint32_t code, QsxCall* call,
                                    uintptr_t argument) noexcept;

QSX_EXPORT QsxEntryRecord* MainEntryPoint(QsxEntryRecord* record, uintptr_t ignored) noexcept {
  (void)ignored;
  if (record != nullptr) {
    record->version = QSX_VERSION;
    record->msgProc = reinterpret_cast<uintptr_t>(&QsxMsgProc);
  }
  return record;
}

QSX_EXPORT intptr_t QsxMsgProc(uint32_t message, uintptr_t arg1, uintptr_t arg2) noexcept {
  auto* instance = reinterpret_cast<QsxInstance*>(arg1);
  try {
    switch (message) {
      case 0:
        return arg1 == 8 ? 1 : 0;
      case 1:
        if (instance != nullptr) instance->version = QSX_VERSION;
        return 0;
      case 2:
        return static_cast<intptr_t>(InitEverything(instance, reinterpret_cast<void*>(arg2)));
      case 3:
        if (instance != nullptr) DeleteModules(instance);
        return 0;
      case 4:
        if (arg1 == 1) return reinterpret_cast<intptr_t>(&MainEntryPoint);
        if (arg1 == 2) return reinterpret_cast<intptr_t>(&QSXClassControl);
        return 1;
      case 5:
        return 1;
      case 6:
        return kClassCount - 1;
      case 7:
        return arg1 < kClassCount ? static_cast<intptr_t>(arg1) + 1 : 1;
      case 11: {
        std::lock_guard<std::mutex> lock(gTextMutex);
        std::memset(gKeptText, 0, sizeof gKeptText);
        if (instance != nullptr && instance->text != nullptr)
          std::strncpy(gKeptText, instance->text, sizeof gKeptText - 1);
        return 0;
      }
      default:
        return -1;
    }
  } catch (const std::bad_alloc&) {
    return QSX_NO_OBJECT;
  }
}

QSX_EXPORT uint32_t QSXClassControl(QsxInstance* instance, uint32_t code, QsxCall* call,
                                    uintptr_t argument) noexcept {
  (void)argument;
  try {
    return ClassControl(instance, code, call) & 0xFFFFu;
  } catch (const std::bad_alloc&) {
    return QSX_NO_OBJECT;
  }
}

QSX_EXPORT uint32_t QSXProcControl(uintptr_t, uintptr_t, uintptr_t, uintptr_t) noexcept {
  return 0;
}

QSX_EXPORT void* QSXOrdinalResolver(uintptr_t ignored, uint32_t ordinal) noexcept {
  (void)ignored;
  return ordinal == 2 ? reinterpret_cast<void*>(&QSXClassControl) : nullptr;
}

// The four script functions, each the conversion of one class's value to a host number.
#define TW_SCRIPT_FUNCTION(name, Object, cls, convert)                                            \
  QSX_EXPORT uint32_t name(QsxInstance* instance, QsValue* result, const QsValue* arg) noexcept { \
    return ScriptFunction<Object>(instance, result, arg, cls, convert);                           \
  }
TW_SCRIPT_FUNCTION(TWFLOATFROMCURRENCY, CurrencyObject, kCurrency, TWFloatFromCurrency)
TW_SCRIPT_FUNCTION(TWFLOATFROMNUMERIC, NumericObject, kNumeric, TWFloatFromNumeric)
TW_SCRIPT_FUNCTION(TWFLOATFROMSTREAM, StreamObject, kStream, TWFloatFromStream)
TW_SCRIPT_FUNCTION(TWINTFROMSTREAM, StreamObject, kStream, TWIntFromStream)
#undef TW_SCRIPT_FUNCTION
