// The member tables of the nine script classes: one row per method {id, name, engine call,
// argument kinds, whether a failure takes the error path}. The class descriptors handed to
// the host and the calls made for the script are both read from these rows.
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "scriptbind.h"

namespace scriptbind {
namespace {

// How a method argument is taken from the script.
enum Kind : uint8_t {
  kNone = 0,
  kInt,        // integer by value
  kIntRef,     // integer variable the call writes
  kDblRef,     // double variable the call reads or writes
  kText,       // a string or a TWStream object, as engine text
  kString,     // a string by value
  kOptInt,     // optional integer by value
  kDestField,  // a variable that holds or receives a TWField given a list's field
  kDestList,   // a variable that holds or receives a TWFieldList given a new list
  kReserved,   // passed nothing
};
constexpr uint8_t kObj = 16;  // kObj + class number: an object of that class
constexpr uint8_t Obj(Class c) {
  return static_cast<uint8_t>(kObj + static_cast<int>(c));
}
constexpr uint8_t kListArg = Obj(kFieldList);
constexpr uint8_t kFieldArg = Obj(kField);
constexpr uint8_t kStreamArg = Obj(kStream);
constexpr uint8_t kCurArg = Obj(kCurrency);
constexpr uint8_t kNumArg = Obj(kNumeric);
constexpr uint8_t kDtArg = Obj(kDatetime);
constexpr uint8_t kPartsArg = Obj(kDatetimeParts);

uint32_t DeclaredType(uint8_t kind) {
  switch (kind) {
    case kInt:
      return QST_INT | QST_BYVAL;
    case kIntRef:
      return QST_INT;
    case kDblRef:
      return QST_DOUBLE;
    case kText:
      return QST_ANY | QST_BYVAL;
    case kString:
      return QST_STRING | QST_BYVAL;
    case kOptInt:
      return QST_INT | QST_BYVAL | QST_OPTIONAL;
    case kDestField:
    case kDestList:
      return QST_ANY;
    case kReserved:
      return QST_ANY | QST_BYVAL;
    default:
      return QST_OBJECT_OF(kind - kObj);
  }
}

constexpr int kMaxArgs = 9;

struct Slot {
  int32_t i = 0;
  double d = 0;
  TWStream text{};
  ScriptObject* obj = nullptr;
  QsValue* var = nullptr;  // the script variable of a by-reference argument
  bool present = false;
};

// One call in progress: the arguments taken from the script, ready for the engine.
class Ctx {
 public:
  ScriptObject* self = nullptr;
  std::array<Slot, kMaxArgs> slots;
  std::u16string stringResult;
  bool hasString = false;
  TWFIELDLIST newList = TWNULLHANDLE;  // MergeVirtual's virtual list before it is adopted

  int32_t I(int n) const { return slots[n].i; }
  uint32_t U(int n) const { return static_cast<uint32_t>(slots[n].i); }
  int32_t* IR(int n) { return &slots[n].i; }
  uint32_t* UR(int n) { return reinterpret_cast<uint32_t*>(&slots[n].i); }
  double* DR(int n) { return &slots[n].d; }
  const TWStream* T(int n) const { return slots[n].present ? &slots[n].text : nullptr; }
  TWFIELD F(int n) const { return static_cast<FieldObject*>(slots[n].obj)->handle; }
  TWFIELDLIST L(int n) const { return static_cast<FieldListObject*>(slots[n].obj)->handle; }
  TWStream* S(int n) const { return &static_cast<StreamObject*>(slots[n].obj)->value; }
  TWCurrency* C(int n) const { return &static_cast<CurrencyObject*>(slots[n].obj)->value; }
  TWNumeric* N(int n) const { return &static_cast<NumericObject*>(slots[n].obj)->value; }
  TWDatetime* D(int n) const { return &static_cast<DatetimeObject*>(slots[n].obj)->value; }
  TWDatetimeParts* P(int n) const { return &static_cast<PartsObject*>(slots[n].obj)->value; }
  TWFIELD* DF(int n) {
    return slots[n].obj ? &static_cast<FieldObject*>(slots[n].obj)->handle : nullptr;
  }
  FieldListObject* DLObject(int n) const { return static_cast<FieldListObject*>(slots[n].obj); }

  TWCONNECT con() const { return static_cast<ConnectObject*>(self)->handle; }
  FieldListObject* listObj() const { return static_cast<FieldListObject*>(self); }
  TWFIELDLIST list() const { return listObj()->handle; }
  TWFIELD field() const { return static_cast<FieldObject*>(self)->handle; }
  TWStream* stream() const { return &static_cast<StreamObject*>(self)->value; }
  TWCurrency* cur() const { return &static_cast<CurrencyObject*>(self)->value; }
  TWNumeric* num() const { return &static_cast<NumericObject*>(self)->value; }
  TWDatetime* dt() const { return &static_cast<DatetimeObject*>(self)->value; }
};

using Call = uint32_t (*)(Ctx&);

// reshape: the argument (0 to 8) or the object itself (kSelf) whose fields the call may
// replace, so that fields borrowed from it must let go; -1 none.
constexpr int kSelf = 100;

struct Method {
  uint8_t place;  // the id is the class number times 256 plus the place
  const char* name;
  bool raises;
  Call call;
  std::array<uint8_t, kMaxArgs> kinds;
  std::array<const char*, kMaxArgs> names;
  int reshape = -1;
  bool hasString = false;  // answers a string, not a status
};

#define FN(expr) [](Ctx& c) -> uint32_t { return static_cast<uint32_t>(expr); }
constexpr bool R = true;   // a failure takes the error path
constexpr bool V = false;  // the result is a value, or a failure must not raise

// clang-format off
const Method kActivityMethods[] = {
  {0x00, "New", R, nullptr, {kInt, kString}, {"twActivityFlags", "twActivityName"}},
  {0x01, "AddProperty", R, FN(TWActivityAddProperty(c.T(0), c.U(1), c.UR(2))), {kText, kInt, kIntRef}, {"twPropertyName", "twPropertyStorage", "twPropertyToken"}},
  {0x02, "ClearStatus", R, FN(TWActivityClearStatus()), {}, {}},
  {0x03, "GetCommand", V, FN(TWActivityGetCommand()), {}, {}},
  {0x04, "GetLogLast", V, FN(TWActivityGetLogLast(c.S(0), c.UR(1), c.S(2))), {kStreamArg, kIntRef, kStreamArg}, {"TWStream", "twExternalCode", "twExternalStream"}},
  {0x05, "GetProperty", R, FN(TWActivityGetProperty(c.U(0), c.F(1))), {kInt, kFieldArg}, {"twPropertyToken", "twDestField"}},
  {0x06, "GetPropertyBoolean", V, FN(TWActivityGetPropertyBoolean(c.U(0), c.I(1))), {kInt, kInt}, {"twPropertyToken", "twDefault"}},
  {0x07, "GetPropertyCurrency", R, FN(TWActivityGetPropertyCurrency(c.U(0), c.C(1))), {kInt, kCurArg}, {"twPropertyToken", "twDestCurrency"}},
  {0x08, "GetPropertyDatetime", R, FN(TWActivityGetPropertyDatetime(c.U(0), c.D(1))), {kInt, kDtArg}, {"twPropertyToken", "twDestDatetime"}},
  {0x09, "GetPropertyFloat", R, FN(TWActivityGetPropertyFloat(c.U(0), c.DR(1))), {kInt, kDblRef}, {"twPropertyToken", "twDestFloat"}},
  {0x0a, "GetPropertyInt", R, FN(TWActivityGetPropertyInt(c.U(0), c.IR(1))), {kInt, kIntRef}, {"twProertyToken", "twDestInt"}},
  {0x0b, "GetPropertyNumeric", R, FN(TWActivityGetPropertyNumeric(c.U(0), c.N(1))), {kInt, kNumArg}, {"twPropertyToken", "twDestNumeric"}},
  {0x0c, "GetPropertyStream", R, FN(TWActivityGetPropertyStream(c.U(0), c.U(1), c.S(2))), {kInt, kInt, kStreamArg}, {"twPropertyToken", "twStreamFormat", "twDestStream"}},
  {0x0d, "GetStatus", V, FN(TWActivityGetStatus()), {}, {}},
  {0x0e, "GetStatusStream", V, FN(TWActivityGetStatusStream(c.U(0), c.S(1))), {kInt, kStreamArg}, {"twStatus", "TWStream"}},
  {0x0f, "ListLink", R, FN(TWActivityListLink(c.U(0), c.UR(1), c.S(2))), {kInt, kIntRef, kStreamArg}, {"twList", "twLinkCode", "twLinkLibrary"}},
  {0x10, "ListProperty", R, FN(TWActivityListProperty(c.U(0), c.UR(1), c.UR(2), c.UR(3), c.S(4))), {kInt, kIntRef, kIntRef, kIntRef, kStreamArg}, {"twList", "twPropertyToken", "twDataType", "twPropertyFlags", "twPropertyName"}},
  {0x11, "Log", V, FN(TWActivityLog(c.U(0))), {kInt}, {"twStatus"}},
  {0x12, "LogEx", V, FN(TWActivityLogEx(c.U(0), c.U(1), c.U(2), c.U(3), c.S(4), c.S(5), c.S(6))), {kInt, kInt, kInt, kInt, kStreamArg, kStreamArg, kStreamArg}, {"twStatus", "twInt1", "twInt2", "twInt3", "twStream1", "twStream2", "twStream3"}},
  {0x13, "LogStream", V, FN(TWActivityLogStream(c.U(0), c.S(1), c.U(2))), {kInt, kStreamArg, kInt}, {"twLogStreamFlags", "twExternalStream", "twExternalCode"}},
  {0x14, "LogStreamEx", V, FN(TWActivityLogStreamEx(c.U(0), c.S(1), c.U(2), c.U(3), c.U(4), c.U(5), c.S(6), c.S(7), c.S(8))), {kInt, kStreamArg, kInt, kInt, kInt, kInt, kStreamArg, kStreamArg, kStreamArg}, {"twLogStreamFlags", "twExternalStream", "twExternalCode", "twInt1", "twInt2", "twInt3", "twStream1", "twStream2", "twStream3"}},
  {0x15, "LookupLink", R, FN(TWActivityLookupLink(c.T(0), c.UR(1))), {kText, kIntRef}, {"twLinkLibrary", "twLinkCode"}},
  {0x16, "Print", R, FN(TWActivityPrint(c.T(0))), {kText}, {"twMessage"}},
  {0x17, "RunActivity", R, FN(TWActivityRunActivity(c.T(0), c.U(1), c.D(2))), {kText, kInt, kDtArg}, {"twActivityList", "twActRunFlags", "twStopDatetime"}},
  {0x18, "SetProperty", R, FN(TWActivitySetProperty(c.U(0), c.F(1))), {kInt, kFieldArg}, {"twPropertyToken", "twSrcField"}},
  {0x19, "SetPropertyCurrency", R, FN(TWActivitySetPropertyCurrency(c.U(0), c.C(1))), {kInt, kCurArg}, {"twPropertyToken", "twSrcCurrency"}},
  {0x1a, "SetPropertyDatetime", R, FN(TWActivitySetPropertyDatetime(c.U(0), c.D(1))), {kInt, kDtArg}, {"twPropertyToken", "twSrcDatetime"}},
  {0x1b, "SetPropertyFloat", R, FN(TWActivitySetPropertyFloat(c.U(0), c.DR(1))), {kInt, kDblRef}, {"twPropertyToken", "twSrcFloat"}},
  {0x1c, "SetPropertyInt", R, FN(TWActivitySetPropertyInt(c.U(0), c.IR(1))), {kInt, kIntRef}, {"twPropertyToken", "twSrcInt"}},
  {0x1d, "SetPropertyNumeric", R, FN(TWActivitySetPropertyNumeric(c.U(0), c.N(1))), {kInt, kNumArg}, {"twPropertyToken", "twSrcNumeric"}},
  {0x1e, "SetPropertyStream", R, FN(TWActivitySetPropertyStream(c.U(0), c.S(1))), {kInt, kStreamArg}, {"twPropertyToken", "twSrcStream"}},
  {0x1f, "GetStatusAsQsString", V, [](Ctx& c) -> uint32_t {
     const uint32_t status = c.slots[0].present ? c.U(0) : TWActivityGetStatus();
     TWStream text{};
     const uint32_t st = TWActivityGetStatusStream(status, &text);
     c.stringResult = StreamText(text);
     TWStreamDataFree(&text);
     c.hasString = true;
     return st;
   }, {kOptInt}, {"twStatus"}, -1, true},
};

const Method kConnectMethods[] = {
  {0x00, "New", R, nullptr, {kInt, kText}, {"twLinkToken", "twLinkName"}},
  {0x01, "Action", R, FN(TWConnectAction(c.con(), c.U(0))), {kInt}, {"twActionType"}},
  {0x02, "Catalog", R, FN(TWConnectCatalog(c.con(), c.U(0), c.L(1), c.UR(2))), {kInt, kListArg, kIntRef}, {"twObjectType", "twDestFieldlist", "twAffectedCount"}, 1},
  {0x03, "Connect", R, FN(TWConnectConnect(c.con())), {}, {}},
  {0x04, "Create", R, FN(TWConnectCreate(c.con(), c.U(0), c.L(1))), {kInt, kListArg}, {"twObjectType", "twSrcFieldlist"}},
  {0x05, "Disconnect", R, FN(TWConnectDisconnect(c.con())), {}, {}},
  {0x06, "Drop", R, FN(TWConnectDrop(c.con(), c.U(0))), {kInt}, {"twObjectType"}},
  {0x07, "Execute", R, FN(TWConnectExecute(c.con(), c.T(0), c.L(1), c.UR(2))), {kText, kListArg, kIntRef}, {"twStatement", "twDestFieldlist", "twAffectedCount"}, 1},
  {0x08, "Fetch", R, FN(TWConnectFetch(c.con(), c.L(0), c.U(1), c.U(2), c.UR(3))), {kListArg, kInt, kInt, kIntRef}, {"twDestFieldlist", "twRecordIndex", "twRecordCount", "twAffectedCount"}},
  {0x09, "GetProperty", R, FN(TWConnectGetProperty(c.con(), c.U(0), c.F(1))), {kInt, kFieldArg}, {"twPropertyToken", "twDestField"}},
  {0x0a, "GetPropertyBoolean", V, FN(TWConnectGetPropertyBoolean(c.con(), c.U(0), c.I(1))), {kInt, kInt}, {"twPropertyToken", "twDefault"}},
  {0x0b, "GetPropertyCurrency", R, FN(TWConnectGetPropertyCurrency(c.con(), c.U(0), c.C(1))), {kInt, kCurArg}, {"twPropertyToken", "twDestCurrency"}},
  {0x0c, "GetPropertyDatetime", R, FN(TWConnectGetPropertyDatetime(c.con(), c.U(0), c.D(1))), {kInt, kDtArg}, {"twPropertyToken", "twDestDatetime"}},
  {0x0d, "GetPropertyFloat", R, FN(TWConnectGetPropertyFloat(c.con(), c.U(0), c.DR(1))), {kInt, kDblRef}, {"twPropertyToken", "twDestFloat"}},
  {0x0e, "GetPropertyInt", R, FN(TWConnectGetPropertyInt(c.con(), c.U(0), c.IR(1))), {kInt, kIntRef}, {"twProertyToken", "twDestInt"}},
  {0x0f, "GetPropertyNumeric", R, FN(TWConnectGetPropertyNumeric(c.con(), c.U(0), c.N(1))), {kInt, kNumArg}, {"twPropertyToken", "twDestNumeric"}},
  {0x10, "GetPropertyStream", R, FN(TWConnectGetPropertyStream(c.con(), c.U(0), c.U(1), c.S(2))), {kInt, kInt, kStreamArg}, {"twPropertyToken", "twStreamFormat", "twDestStream"}},
  {0x11, "Insert", R, FN(TWConnectInsert(c.con(), c.L(0), c.U(1), c.U(2), c.UR(3))), {kListArg, kInt, kInt, kIntRef}, {"twSrcFieldlist", "twRecordIndex", "twRecordCount", "twAffectedCount"}},
  {0x12, "ListProperty", R, FN(TWConnectListProperty(c.con(), c.U(0), c.UR(1), c.UR(2), c.UR(3), c.S(4))), {kInt, kIntRef, kIntRef, kIntRef, kStreamArg}, {"twList", "twPropertyToken", "twDataType", "twPropertyFlags", "twPropertyName"}},
  {0x13, "Remove", R, FN(TWConnectRemove(c.con(), c.L(0), c.U(1), c.U(2), c.UR(3))), {kListArg, kInt, kInt, kIntRef}, {"twKeyFieldlist", "twRecordIndex", "twRecordCount", "twAffectedCount"}},
  {0x14, "Select", R, FN(TWConnectSelect(c.con(), c.L(0), c.U(1), c.L(2), c.UR(3))), {kListArg, kInt, kListArg, kIntRef}, {"twKeyFieldlist", "twRecordIndex", "twDestFieldlist", "twAffectedCount"}, 2},
  {0x15, "SetProperty", R, FN(TWConnectSetProperty(c.con(), c.U(0), c.F(1))), {kInt, kFieldArg}, {"twPropertyToken", "twSrcField"}},
  {0x16, "SetPropertyCurrency", R, FN(TWConnectSetPropertyCurrency(c.con(), c.U(0), c.C(1))), {kInt, kCurArg}, {"twPropertyToken", "twSrcCurrency"}},
  {0x17, "SetPropertyDatetime", R, FN(TWConnectSetPropertyDatetime(c.con(), c.U(0), c.D(1))), {kInt, kDtArg}, {"twPropertyToken", "twSrcDatetime"}},
  {0x18, "SetPropertyFloat", R, FN(TWConnectSetPropertyFloat(c.con(), c.U(0), c.DR(1))), {kInt, kDblRef}, {"twPropertyToken", "twSrcFloat"}},
  {0x19, "SetPropertyInt", R, FN(TWConnectSetPropertyInt(c.con(), c.U(0), c.IR(1))), {kInt, kIntRef}, {"twPropertyToken", "twSrcInt"}},
  {0x1a, "SetPropertyNumeric", R, FN(TWConnectSetPropertyNumeric(c.con(), c.U(0), c.N(1))), {kInt, kNumArg}, {"twPropertyToken", "twSrcNumeric"}},
  {0x1b, "SetPropertyStream", R, FN(TWConnectSetPropertyStream(c.con(), c.U(0), c.S(1))), {kInt, kStreamArg}, {"twPropertyToken", "twSrcStream"}},
  {0x1c, "Update", R, FN(TWConnectUpdate(c.con(), c.L(0), c.U(1), c.U(2), c.UR(3))), {kListArg, kInt, kInt, kIntRef}, {"twSrcFieldlist", "twRecordIndex", "twRecordCount", "twAffectedCount"}},
};

// Merge into a new handle and let the old one go only after success: the object's own list
// may be one of the arguments, and a failed merge must leave it whole.
uint32_t Merge(Ctx& c) {
  TWFIELDLIST merged = TWNULLHANDLE;
  const uint32_t st = TWFieldlistMerge(&merged, c.L(0), c.L(1), c.U(2));
  if (st == TWSUCCESS) c.listObj()->Adopt(merged);
  return st;
}

uint32_t MergeVirtual(Ctx& c) {
  TWFIELDLIST merged = TWNULLHANDLE, virt = TWNULLHANDLE;
  const uint32_t st =
      TWFieldlistMergeVirtual(&merged, c.L(0), c.L(1), c.U(2), c.U(3), c.DLObject(4) ? &virt : nullptr);
  if (st != TWSUCCESS) return st;
  c.listObj()->Adopt(merged);
  if (FieldListObject* dest = c.DLObject(4)) dest->Adopt(virt);
  return st;
}

const Method kFieldListMethods[] = {
  {0x00, "New", R, nullptr, {kInt, kInt}, {"twRecordCount", "twFieldFlags"}},
  {0x01, "Append", R, FN(TWFieldlistAppend(c.list(), c.T(0), c.U(1), c.DF(2))), {kText, kInt, kDestField}, {"twFieldName", "twDataType", "twNewField"}},
  {0x02, "Copy", R, FN(TWFieldlistCopy(c.list(), c.L(0))), {kListArg}, {"twSrcFieldlist"}, kSelf},
  {0x03, "CopyRef", R, FN(TWFieldlistCopyRef(c.list(), c.L(0))), {kListArg}, {"twSrcFieldlist"}, kSelf},
  {0x04, "GetCount", V, FN(TWFieldlistGetCount(c.list())), {}, {}},
  {0x05, "GetField", R, FN(TWFieldlistGetField(c.list(), c.U(0), c.U(1), c.DF(2), nullptr)), {kInt, kInt, kDestField, kReserved}, {"twIndex", "twStreamFormat", "twDestField", "twReserved1"}},
  {0x06, "GetName", R, FN(TWFieldlistGetName(c.list(), c.U(0), c.U(1), c.S(2))), {kInt, kInt, kStreamArg}, {"twIndex", "twStreamFormat", "twFieldName"}},
  {0x07, "GetNameLength", V, FN(TWFieldlistGetNameLength(c.list(), c.U(0))), {kInt}, {"twStreamFormat"}},
  {0x08, "GetRecordCount", V, FN(TWFieldlistGetRecordCount(c.list())), {}, {}},
  {0x09, "GetSequence", V, FN(TWFieldlistGetSequence(c.list())), {}, {}},
  {0x0a, "Insert", R, FN(TWFieldlistInsert(c.list(), c.U(0), c.T(1), c.U(2), c.DF(3))), {kInt, kText, kInt, kDestField}, {"twIndex", "twFieldName", "twDataType", "twNewField"}},
  {0x0b, "List", R, FN(TWFieldlistList(c.list(), c.DF(0), c.UR(1), c.UR(2), c.UR(3), nullptr)), {kDestField, kIntRef, kIntRef, kIntRef, kReserved}, {"twDestField", "twIndex", "twDataType", "twFieldFlags", "twReserved1"}},
  {0x0c, "ListSetup", R, FN(TWFieldlistListSetup(c.list(), c.U(0))), {kInt}, {"twStreamFormat"}},
  {0x0d, "Lookup", R, FN(TWFieldlistLookup(c.list(), c.T(0), c.DF(1), c.UR(2))), {kText, kDestField, kIntRef}, {"twFieldName", "twDestField", "twIndex"}},
  {0x0e, "Merge", R, Merge, {kListArg, kListArg, kInt}, {"twNameFieldList", "twDataFieldList", "twMergeFlags"}},
  {0x0f, "MergeVirtual", R, MergeVirtual, {kListArg, kListArg, kInt, kInt, kDestList}, {"twNameFieldList", "twDataFieldList", "twMergeFlags", "twVirtualCode", "twVirtualFieldList"}},
  {0x10, "Remove", R, FN(TWFieldlistRemove(c.list(), c.U(0))), {kInt}, {"twIndex"}, kSelf},
  {0x11, "Replace", R, FN(TWFieldlistReplace(c.list(), c.U(0), c.T(1), c.U(2), c.DF(3))), {kInt, kText, kInt, kDestField}, {"twIndex", "twFieldName", "twDataType", "twNewField"}, kSelf},
  {0x12, "SetName", R, FN(TWFieldlistSetName(c.list(), c.U(0), c.T(1))), {kInt, kText}, {"twIndex", "twFieldName"}},
};

const Method kFieldMethods[] = {
  {0x00, "New", R, nullptr, {kInt, kInt}, {"twDataType", "twValueCount"}},
  {0x01, "Compare", R, FN(TWFieldCompare(c.field(), c.U(0), c.F(1), c.U(2), c.U(3), c.U(4), c.IR(5))), {kInt, kFieldArg, kInt, kInt, kInt, kIntRef}, {"twThisIndex", "twBaseField", "twBaseIndex", "twValueCount", "twCompareFlags", "twResult"}},
  {0x02, "Convert", R, FN(TWFieldConvert(c.field(), c.U(0), c.F(1), c.U(2), c.U(3))), {kInt, kFieldArg, kInt, kInt}, {"twThisIndex", "twSrcField", "twSrcIndex", "twValueCount"}},
  {0x03, "Copy", R, FN(TWFieldCopy(c.field(), c.F(0))), {kFieldArg}, {"twSrcField"}},
  {0x04, "GetBuffer", R, FN(TWFieldGetBuffer(c.field(), c.U(0), nullptr, nullptr)), {kInt, kReserved, kReserved}, {"twIndex", "twReserved1", "twReserved2"}},
  {0x05, "GetCurrency", R, FN(TWFieldGetCurrency(c.field(), c.U(0), c.C(1), c.IR(2))), {kInt, kCurArg, kIntRef}, {"twIndex", "twDestCurrency", "twIsNull"}},
  {0x06, "GetDatetime", R, FN(TWFieldGetDatetime(c.field(), c.U(0), c.D(1), c.IR(2))), {kInt, kDtArg, kIntRef}, {"twIndex", "twDestDatetime", "twIsNull"}},
  {0x07, "GetFlags", V, FN(TWFieldGetFlags(c.field())), {}, {}},
  {0x08, "GetFloat", R, FN(TWFieldGetFloat(c.field(), c.U(0), c.DR(1), c.IR(2))), {kInt, kDblRef, kIntRef}, {"twIndex", "twDestFloat", "twIsNull"}},
  {0x09, "GetFormatDatetime", R, FN(TWFieldGetFormatDatetime(c.field(), c.UR(0), c.UR(1))), {kIntRef, kIntRef}, {"twDatetimeFlags", "twSize"}},
  {0x0a, "GetFormatNumber", R, FN(TWFieldGetFormatNumber(c.field(), c.UR(0), c.UR(1), c.UR(2), c.IR(3))), {kIntRef, kIntRef, kIntRef, kIntRef}, {"twNumberFlags", "twSize", "twPrecision", "twScale"}},
  {0x0b, "GetFormatStream", R, FN(TWFieldGetFormatStream(c.field(), c.UR(0), c.UR(1), c.UR(2))), {kIntRef, kIntRef, kIntRef}, {"twStreamFlags", "twMaxLength", "twStreamFormat"}},
  {0x0c, "GetInt", R, FN(TWFieldGetInt(c.field(), c.U(0), c.IR(1), c.IR(2))), {kInt, kIntRef, kIntRef}, {"twIndex", "twDestInt", "twIsNull"}},
  {0x0d, "GetNumeric", R, FN(TWFieldGetNumeric(c.field(), c.U(0), c.N(1), c.IR(2))), {kInt, kNumArg, kIntRef}, {"twIndex", "twDestNumeric", "twIsNull"}},
  {0x0e, "GetStream", R, FN(TWFieldGetStream(c.field(), c.U(0), c.U(1), c.S(2), c.IR(3))), {kInt, kInt, kStreamArg, kIntRef}, {"twIndex", "twStreamFormat", "twDestStream", "twIsNull"}},
  {0x0f, "GetType", V, FN(TWFieldGetType(c.field())), {}, {}},
  {0x10, "GetTypeSize", V, FN(TWFieldGetTypeSize(c.field())), {}, {}},
  {0x11, "GetValueCount", V, FN(TWFieldGetValueCount(c.field())), {}, {}},
  {0x12, "GetVirtualCode", V, FN(TWFieldGetVirtualCode(c.field())), {}, {}},
  {0x13, "IsNull", V, FN(TWFieldIsNull(c.field(), c.U(0))), {kInt}, {"twIndex"}},
  {0x14, "SetCurrency", R, FN(TWFieldSetCurrency(c.field(), c.U(0), c.C(1))), {kInt, kCurArg}, {"twIndex", "twSrcCurrency"}},
  {0x15, "SetDatetime", R, FN(TWFieldSetDatetime(c.field(), c.U(0), c.D(1))), {kInt, kDtArg}, {"twIndex", "twSrcDatetime"}},
  {0x16, "SetFlags", R, FN(TWFieldSetFlags(c.field(), c.U(0))), {kInt}, {"twFieldFlags"}},
  {0x17, "SetFloat", R, FN(TWFieldSetFloat(c.field(), c.U(0), c.DR(1))), {kInt, kDblRef}, {"twIndex", "twSrcFloat"}},
  {0x18, "SetFormatDatetime", R, FN(TWFieldSetFormatDatetime(c.field(), c.U(0), c.U(1))), {kInt, kInt}, {"twDatetimeFlags", "twSize"}},
  {0x19, "SetFormatNumber", R, FN(TWFieldSetFormatNumber(c.field(), c.U(0), c.U(1), c.U(2), c.I(3))), {kInt, kInt, kInt, kInt}, {"twNumberFlags", "twSize", "twPrecision", "twScale"}},
  {0x1a, "SetFormatStream", R, FN(TWFieldSetFormatStream(c.field(), c.U(0), c.U(1), c.U(2))), {kInt, kInt, kInt}, {"twStreamFlags", "twMaxLength", "twStreamFormat"}},
  {0x1b, "SetInt", R, FN(TWFieldSetInt(c.field(), c.U(0), c.IR(1))), {kInt, kIntRef}, {"twIndex", "twSrcInt"}},
  {0x1c, "SetNull", R, FN(TWFieldSetNull(c.field(), c.U(0), c.I(1))), {kInt, kInt}, {"twIndex", "twIsNull"}},
  {0x1d, "SetNumeric", R, FN(TWFieldSetNumeric(c.field(), c.U(0), c.N(1))), {kInt, kNumArg}, {"twIndex", "twSrcNumeric"}},
  {0x1e, "SetStream", R, FN(TWFieldSetStream(c.field(), c.U(0), c.S(1))), {kInt, kStreamArg}, {"twIndex", "twSrcStream"}},
  {0x1f, "SetVirtualCode", R, FN(TWFieldSetVirtualCode(c.field(), c.U(0))), {kInt}, {"twVirtualCode"}},
};

const Method kStreamMethods[] = {
  {0x00, "New", R, nullptr, {}, {}},
  // The engine's clear and create forget the data without freeing it: free it first.
  {0x01, "Clear", R, FN((TWStreamDataFree(c.stream()), TWStreamClear(c.stream()))), {}, {}},
  {0x02, "Create", R, FN((TWStreamDataFree(c.stream()), TWStreamCreate(c.stream(), c.U(0), c.U(1), c.U(2)))), {kInt, kInt, kInt}, {"twMaxLength", "twStreamFlags", "twStreamFormat"}},
  {0x03, "DataAlloc", R, FN(TWStreamDataAlloc(c.stream(), c.U(0), c.U(1), nullptr, c.UR(3))), {kInt, kInt, kReserved, kIntRef}, {"twStreamFormat", "twRequestLength", "twReserved1", "twLength"}},
  {0x04, "DataCompare", R, FN(TWStreamDataCompare(c.stream(), c.S(0), c.IR(1))), {kStreamArg, kIntRef}, {"twBaseStream", "twResult"}},
  // A target that merely refers to the source's data would dangle once the source object
  // is deleted: the script's streams always own a copy.
  {0x05, "DataConvert", R, FN(TWStreamDataConvert(c.stream(), c.S(0), c.U(1) & ~TWCONVERTF_REFERENCE, c.U(2), nullptr, c.UR(4))), {kStreamArg, kInt, kInt, kReserved, kIntRef}, {"twSrcStream", "twConvertFlags", "twStreamFormat", "twReserved1", "twLength"}},
  {0x06, "DataCopy", R, FN(TWStreamDataCopy(c.stream(), c.S(0))), {kStreamArg}, {"twSrcStream"}},
  {0x07, "DataExtract", R, FN(TWStreamDataExtract(c.stream(), c.S(0), c.U(1), c.U(2))), {kStreamArg, kInt, kInt}, {"twSrcStream", "twOffset", "twLength"}},
  {0x08, "DataFetch", R, [](Ctx& c) -> uint32_t { void* data = nullptr; return TWStreamDataFetch(c.stream(), c.U(0), c.U(1), &data, c.UR(3)); }, {kInt, kInt, kReserved, kIntRef}, {"twOffset", "twRequestLength", "twReserved1", "twLength"}},
  {0x09, "DataFree", R, FN(TWStreamDataFree(c.stream())), {}, {}},
  {0x0a, "DataGetBuffer", V, FN(TWStreamDataGetBuffer(c.stream(), c.UR(0), nullptr)), {kIntRef, kReserved}, {"twStreamFormat", "twReserved1"}},
  {0x0b, "DataGetFlags", V, FN(TWStreamDataGetFlags(c.stream())), {}, {}},
  {0x0c, "DataGetInfo", R, FN(TWStreamDataGetInfo(c.stream(), c.UR(0), c.UR(1), c.UR(2), nullptr, c.UR(4))), {kIntRef, kIntRef, kIntRef, kReserved, kIntRef}, {"twMaxLength", "twStreamFlags", "twStreamFormat", "twReserved1", "twLength"}},
  {0x0d, "DataGetLength", V, FN(TWStreamDataGetLength(c.stream())), {}, {}},
  {0x0e, "DataMerge", R, FN(TWStreamDataMerge(c.stream(), c.S(0), c.U(1), c.S(2))), {kStreamArg, kInt, kStreamArg}, {"twStream1", "twOffset", "twStream2"}},
  {0x0f, "DataRealloc", R, FN(TWStreamDataRealloc(c.stream(), c.U(0), nullptr)), {kInt, kReserved}, {"twNewLength", "twReserved1"}},
  {0x10, "DataSet", R, FN(TWStreamDataSet(c.stream(), c.U(0), nullptr, c.U(2))), {kInt, kReserved, kInt}, {"twStreamFormat", "twReserved1", "twLength"}},
  {0x11, "DataSetFlags", R, FN(TWStreamDataSetFlags(c.stream(), c.U(0))), {kInt}, {"twStreamFlags"}},
  {0x12, "DataTrim", R, FN(TWStreamDataTrim(c.stream())), {}, {}},
  {0x13, "FromCurrency", R, FN(TWStreamFromCurrency(c.stream(), c.C(0), c.U(1))), {kCurArg, kInt}, {"twSrcCurrency", "twStreamFormat"}},
  {0x14, "FromDatetime", R, FN(TWStreamFromDatetime(c.stream(), c.D(0), c.U(1))), {kDtArg, kInt}, {"twSrcDatetime", "twStreamFormat"}},
  {0x15, "FromFloat", R, FN(TWStreamFromFloat(c.stream(), c.DR(0), c.U(1))), {kDblRef, kInt}, {"twSrcFloat", "twStreamFormat"}},
  {0x16, "FromInt", R, FN(TWStreamFromInt(c.stream(), c.IR(0), c.U(1))), {kIntRef, kInt}, {"twSrcInt", "twStreamFormat"}},
  {0x17, "FromNumeric", R, FN(TWStreamFromNumeric(c.stream(), c.N(0), c.U(1))), {kNumArg, kInt}, {"twSrcNumeric", "twStreamFormat"}},
  {0x18, "DatetimeListGetCount", R, FN(TWDatetimeListGetCount(c.stream(), c.UR(0), c.UR(1))), {kIntRef, kIntRef}, {"twValueCount", "twRangeCount"}},
  {0x19, "DatetimeListGetFirst", R, FN(TWDatetimeListGetFirst(c.stream(), c.D(0))), {kDtArg}, {"twDestDatetime"}},
  {0x1a, "DatetimeListGetLength", V, FN(TWDatetimeListGetLength(c.stream())), {}, {}},
  {0x1b, "DatetimeListGetRange", R, FN(TWDatetimeListGetRange(c.stream(), c.U(0), c.D(1), c.D(2))), {kInt, kDtArg, kDtArg}, {"twIndex", "twDestDatetime1", "twDestDatetime2"}},
  {0x1c, "DatetimeListGetValue", R, FN(TWDatetimeListGetValue(c.stream(), c.U(0), c.D(1))), {kInt, kDtArg}, {"twIndex", "twDestDatetime"}},
  {0x1d, "NumberListGetCount", R, FN(TWNumberListGetCount(c.stream(), c.UR(0), c.UR(1))), {kIntRef, kIntRef}, {"twValueCount", "twRangeCount"}},
  {0x1e, "NumberListGetFirst", R, FN(TWNumberListGetFirst(c.stream(), c.DR(0))), {kDblRef}, {"twDestFloat"}},
  {0x1f, "NumberListGetLength", V, FN(TWNumberListGetLength(c.stream())), {}, {}},
  {0x20, "NumberListGetRange", R, FN(TWNumberListGetRange(c.stream(), c.U(0), c.DR(1), c.DR(2))), {kInt, kDblRef, kDblRef}, {"twIndex", "twDestFloat1", "twDestFloat2"}},
  {0x21, "NumberListGetValue", R, FN(TWNumberListGetValue(c.stream(), c.U(0), c.DR(1))), {kInt, kDblRef}, {"twIndex", "twDestFloat"}},
  {0x22, "TextListFetch", R, FN(TWTextListFetch(c.stream(), c.U(0), c.U(1), c.S(2), nullptr, c.UR(4))), {kInt, kInt, kStreamArg, kReserved, kIntRef}, {"twIndex", "twStreamFormat", "twDestStream", "twReserved1", "twLength"}},
  {0x23, "TextListGetCount", V, FN(TWTextListGetCount(c.stream())), {}, {}},
  {0x24, "TextListGetLength", R, FN(TWTextListGetLength(c.stream(), c.U(0))), {kInt}, {"twIndex"}},
};

const Method kCurrencyMethods[] = {
  {0x00, "New", R, nullptr, {}, {}},
  {0x01, "Add", R, FN(TWCurrencyAdd(c.cur(), c.C(0), c.C(1))), {kCurArg, kCurArg}, {"twCurrency1", "twCurrency2"}},
  {0x02, "Clear", R, FN(TWCurrencyClear(c.cur())), {}, {}},
  {0x03, "Compare", R, FN(TWCurrencyCompare(c.cur(), c.C(0), c.IR(1))), {kCurArg, kIntRef}, {"twBaseCurrency", "twResult"}},
  {0x04, "Copy", R, FN(TWCurrencyCopy(c.cur(), c.C(0))), {kCurArg}, {"twSrcCurrency"}},
  {0x05, "FromFloat", R, FN(TWCurrencyFromFloat(c.cur(), c.DR(0))), {kDblRef}, {"twSrcFloat"}},
  {0x06, "FromStream", R, FN(TWCurrencyFromStream(c.cur(), c.S(0))), {kStreamArg}, {"twSrcStream"}},
  {0x07, "Subtract", R, FN(TWCurrencySubtract(c.cur(), c.C(0), c.C(1))), {kCurArg, kCurArg}, {"twCurrency1", "twCurrency2"}},
};

const Method kNumericMethods[] = {
  {0x00, "New", R, nullptr, {}, {}},
  {0x01, "Add", R, FN(TWNumericAdd(c.num(), c.N(0), c.N(1))), {kNumArg, kNumArg}, {"twNumeric1", "twNumeric2"}},
  {0x02, "Clear", R, FN(TWNumericClear(c.num())), {}, {}},
  {0x03, "Compare", R, FN(TWNumericCompare(c.num(), c.N(0), c.IR(1))), {kNumArg, kIntRef}, {"twBaseNumeric", "twResult"}},
  {0x04, "Copy", R, FN(TWNumericCopy(c.num(), c.N(0))), {kNumArg}, {"twSrcNumeric"}},
  {0x05, "Create", R, FN(TWNumericCreate(c.num(), c.U(0), c.I(1))), {kInt, kInt}, {"twPrecision", "twScale"}},
  {0x06, "FromFloat", R, FN(TWNumericFromFloat(c.num(), c.DR(0))), {kDblRef}, {"twSrcFloat"}},
  {0x07, "FromStream", R, FN(TWNumericFromStream(c.num(), c.S(0))), {kStreamArg}, {"twSrcStream"}},
  {0x08, "GetPrecision", V, FN(TWNumericGetPrecision(c.num())), {}, {}},
  {0x09, "GetScale", V, FN(TWNumericGetScale(c.num())), {}, {}},
  {0x0a, "Subtract", R, FN(TWNumericSubtract(c.num(), c.N(0), c.N(1))), {kNumArg, kNumArg}, {"twNumeric1", "twNumeric2"}},
};

const Method kDatetimeMethods[] = {
  {0x00, "New", R, nullptr, {}, {}},
  {0x01, "Adjust", R, FN(TWDatetimeAdjust(c.dt(), c.P(0))), {kPartsArg}, {"twSrcDatetimeParts"}},
  {0x02, "Clear", R, FN(TWDatetimeClear(c.dt())), {}, {}},
  {0x03, "Compare", R, FN(TWDatetimeCompare(c.dt(), c.D(0), c.IR(1))), {kDtArg, kIntRef}, {"twBaseDatetime", "twResult"}},
  {0x04, "Copy", R, FN(TWDatetimeCopy(c.dt(), c.D(0))), {kDtArg}, {"twSrcDatetime"}},
  {0x05, "FromStream", R, FN(TWDatetimeFromStream(c.dt(), c.S(0))), {kStreamArg}, {"twSrcStream"}},
  {0x06, "GetDiff", R, FN(TWDatetimeGetDiff(c.dt(), c.D(0), c.U(1), c.IR(2))), {kDtArg, kInt, kIntRef}, {"twBaseDatetime", "twDateTimeUnit", "twDifference"}},
  {0x07, "GetJulian", V, FN(TWDatetimeGetJulian(c.dt())), {}, {}},
  {0x08, "GetParts", R, FN(TWDatetimeGetParts(c.dt(), c.U(0), c.P(1))), {kInt, kPartsArg}, {"twPartsFlags", "twDestDatetimeParts"}},
  {0x09, "GetTicks", V, FN(TWDatetimeGetTicks(c.dt())), {}, {}},
  {0x0a, "SetConstant", R, FN(TWDatetimeSetConstant(c.dt(), c.U(0))), {kInt}, {"twDatetimeConstant"}},
  {0x0b, "SetCurrent", R, FN(TWDatetimeSetCurrent(c.dt())), {}, {}},
  {0x0c, "SetJulian", R, FN(TWDatetimeSetJulian(c.dt(), c.U(0))), {kInt}, {"twJulian"}},
  {0x0d, "SetParts", R, FN(TWDatetimeSetParts(c.dt(), c.P(0), c.U(1))), {kPartsArg, kInt}, {"twSrcDatetimeParts", "twPartsFlags"}},
  {0x0e, "SetTicks", R, FN(TWDatetimeSetTicks(c.dt(), c.U(0))), {kInt}, {"twTicks"}},
};

const Method kPartsMethods[] = {
  {0x00, "New", R, nullptr, {}, {}},
};
// clang-format on
#undef FN

struct ClassTable {
  const char* name;
  const Method* methods;
  size_t count;
  std::vector<QsxPropertyRow> properties;
};

// Fields and streams show their value as each of five host kinds, then any properties of
// their own.
std::vector<QsxPropertyRow> TypedProperties(Class cls, std::initializer_list<QsxPropertyRow> own) {
  std::vector<QsxPropertyRow> rows = {{"AsQsCurrency", Prop(cls, 0), QST_CURRENCY, 0},
                                      {"AsQsDatetime", Prop(cls, 1), QST_DOUBLE, 0},
                                      {"AsQsDouble", Prop(cls, 2), QST_DOUBLE, 0},
                                      {"AsQsLong", Prop(cls, 3), QST_INT, 0},
                                      {"AsQsString", Prop(cls, 4), QST_STRING, 0}};
  rows.insert(rows.end(), own);
  return rows;
}

const ClassTable kTables[kClassCount + 1] = {
    {"", nullptr, 0, {}},
    {"TWActivity",
     kActivityMethods,
     std::size(kActivityMethods),
     {{"RaiseExceptions", kStoredProperty, QST_INT, 0}}},
    {"TWConnect", kConnectMethods, std::size(kConnectMethods), {}},
    {"TWFieldList",
     kFieldListMethods,
     std::size(kFieldListMethods),
     {{"ValueIndex", kStoredProperty, QST_INT, 0}}},
    {"TWField", kFieldMethods, std::size(kFieldMethods),
     TypedProperties(kField, {{"ValueIndex", Prop(kField, 5), QST_INT, 0}})},
    {"TWStream", kStreamMethods, std::size(kStreamMethods), TypedProperties(kStream, {})},
    {"TWCurrency",
     kCurrencyMethods,
     std::size(kCurrencyMethods),
     {{"AsQsCurrency", Prop(kCurrency, 0), QST_CURRENCY, 0},
      {"AsQsDouble", Prop(kCurrency, 1), QST_DOUBLE, 0},
      {"AsQsLong", Prop(kCurrency, 2), QST_INT, 0},
      {"AsQsString", Prop(kCurrency, 3), QST_STRING, 0}}},
    {"TWNumeric",
     kNumericMethods,
     std::size(kNumericMethods),
     {{"AsQsLong", Prop(kNumeric, 0), QST_INT, 0},
      {"AsQsDouble", Prop(kNumeric, 1), QST_DOUBLE, 0},
      {"AsQsString", Prop(kNumeric, 2), QST_STRING, 0}}},
    {"TWDatetime",
     kDatetimeMethods,
     std::size(kDatetimeMethods),
     {{"AsQsDatetime", Prop(kDatetime, 0), QST_DOUBLE, 0},
      {"AsQsString", Prop(kDatetime, 1), QST_STRING, 0}}},
    {"TWDatetimeParts",
     kPartsMethods,
     std::size(kPartsMethods),
     {{"twDay", Prop(kDatetimeParts, 0), QST_INT, 0},
      {"twDSTInEffect", Prop(kDatetimeParts, 1), QST_INT, 0},
      {"twHour", Prop(kDatetimeParts, 2), QST_INT, 0},
      {"twHundredth", Prop(kDatetimeParts, 3), QST_INT, 0},
      {"twMinute", Prop(kDatetimeParts, 4), QST_INT, 0},
      {"twMonth", Prop(kDatetimeParts, 5), QST_INT, 0},
      {"twSecond", Prop(kDatetimeParts, 6), QST_INT, 0},
      {"twWeekday", Prop(kDatetimeParts, 7), QST_INT, 0},
      {"twYear", Prop(kDatetimeParts, 8), QST_INT, 0},
      {"twZone", Prop(kDatetimeParts, 9), QST_INT, 0}}},
};

int ArgCount(const Method& m) {
  int n = 0;
  while (n < kMaxArgs && m.kinds[n] != kNone) ++n;
  return n;
}

// The descriptors handed to the host, built once from the tables.
struct Descriptors {
  struct PerClass {
    std::vector<std::vector<uint32_t>> types;
    std::vector<QsxMethodRow> methods;
    QsxClassDescriptor descriptor{};
  };
  std::array<PerClass, kClassCount + 1> classes;
  Descriptors() {
    for (uint16_t cls = 1; cls <= kClassCount; ++cls) {
      const ClassTable& t = kTables[cls];
      PerClass& pc = classes[cls];
      pc.types.resize(t.count);
      for (size_t i = 0; i < t.count; ++i) {
        const Method& m = t.methods[i];
        const int argc = ArgCount(m);
        const bool isNew = m.place == 0;
        std::vector<uint32_t>& types = pc.types[i];
        types.push_back(isNew ? QST_OBJECT_OF(cls) : m.hasString ? QST_STRING : QST_INT);
        types.push_back(QST_SELF);
        for (int a = 0; a < argc; ++a) types.push_back(DeclaredType(m.kinds[a]));
        pc.methods.push_back({m.name, Prop(static_cast<Class>(cls), m.place), types.data(),
                              m.names.data(),
                              static_cast<uint32_t>(argc + 1) | (isNew ? QST_NEW_FLAG : 0u),
                              cls * 100u + 20u + m.place});
      }
      pc.descriptor = {t.name,
                       cls,
                       static_cast<uint32_t>(t.properties.size()),
                       t.properties.data(),
                       static_cast<uint32_t>(pc.methods.size()),
                       pc.methods.data()};
    }
  }
};

const Method* FindMethod(uint16_t cls, uint32_t id) {
  if (cls < 1 || cls > kClassCount) return nullptr;
  const ClassTable& t = kTables[cls];
  for (size_t i = 0; i < t.count; ++i)
    if (Prop(static_cast<Class>(cls), t.methods[i].place) == id) return &t.methods[i];
  return nullptr;
}

// A value missing, of another class, or an object without its engine value.
uint32_t ObjectMismatch(uint16_t cls) {
  (void)cls;
  return TWFAIL_TYPE_MISMATCH;
}

// Takes argument n of the call by its kind; answers 0 or the status to fail with.
uint32_t Take(Ctx& c, const QsxCall* call, int n, uint8_t kind) {
  Slot& s = c.slots[n];
  const QsValue* raw =
      n < static_cast<int>(call->argCount) && call->args ? &call->args[n] : nullptr;
  const QsValue* v = raw ? Deref(raw) : nullptr;
  const bool given = v != nullptr && v->kind != QSV_EMPTY;
  if (raw != nullptr && raw->kind == QSV_REF) s.var = raw->u.ref;
  switch (kind) {
    case kInt:
    case kOptInt:
      s.present = given;
      if (given && !ToInt(v, &s.i)) return TWFAIL_TYPE_MISMATCH;
      return 0;
    case kIntRef:
      s.present = true;
      if (given && !ToInt(v, &s.i)) return TWFAIL_TYPE_MISMATCH;
      return 0;
    case kDblRef:
      s.present = true;
      if (given && !ToDouble(v, &s.d)) return TWFAIL_TYPE_MISMATCH;
      return 0;
    case kText:
    case kString:
      s.present = given;
      if (given && !ToText(v, &s.text)) return TWFAIL_TYPE_MISMATCH;
      return 0;
    case kReserved:
      return 0;
    case kDestField:
    case kDestList: {
      const bool wantList = kind == kDestList;
      if (raw == nullptr || (raw->kind == QSV_EMPTY)) return 0;  // not asked for
      ScriptObject* o = ObjectOf(v);
      if (o == nullptr) {
        if (v->kind != QSV_EMPTY || s.var == nullptr)
          return wantList ? TWFAIL_INVALID_FIELDLIST : TWFAIL_INVALID_FIELD;
        // An empty variable receives a new object made for the call.
        o = NewObject(c.self->module(), c.self->instance(), wantList ? kFieldList : kField);
        if (o == nullptr) return TWFAIL_MEMORY;
        QsValue holder{};
        holder.kind = QSV_OBJECT;
        holder.u.obj = o;
        if (c.self->Store(s.var, holder) != QSX_OK) {
          DeleteObject(o);
          return TWFAIL_MEMORY;
        }
      } else if (o->cls() != (wantList ? kFieldList : kField)) {
        return wantList ? TWFAIL_INVALID_FIELDLIST : TWFAIL_INVALID_FIELD;
      }
      // A field that owns its handle lets it go: what the list hands out is the list's.
      if (!wantList) static_cast<FieldObject*>(o)->Drop();
      s.obj = o;
      s.present = true;
      return 0;
    }
    default: {
      const uint16_t cls = static_cast<uint16_t>(kind - kObj);
      ScriptObject* o = given ? ObjectOf(v) : nullptr;
      if (o == nullptr || o->cls() != cls) return ObjectMismatch(cls);
      if (!o->held)
        return cls == kField       ? TWFAIL_INVALID_FIELD
               : cls == kFieldList ? TWFAIL_INVALID_FIELDLIST
                                   : TWFAIL_TYPE_MISMATCH;
      s.obj = o;
      s.present = true;
      return 0;
    }
  }
}

}  // namespace

const QsxClassDescriptor* Descriptor(uint16_t cls) {
  static const Descriptors all;  // built at the first registration, gone with the library
  if (cls < 1 || cls > kClassCount) return nullptr;
  return &all.classes[cls].descriptor;
}

uint32_t CallMethod(ScriptObject* object, QsxCall* call) {
  const Method* m = FindMethod(object->cls(), call->member);
  if (m == nullptr || m->call == nullptr) return QSX_NO_METHOD;
  Ctx c;
  c.self = object;
  uint32_t status = 0;
  // A field or list without its engine value (never allocated, or its list let go) fails
  // before the engine sees a stale handle; a value method answers as for no handle.
  if (m->raises && !object->held && object->cls() == kField) status = TWFAIL_INVALID_FIELD;
  if (m->raises && !object->held && object->cls() == kFieldList) status = TWFAIL_INVALID_FIELDLIST;
  const int argc = ArgCount(*m);
  for (int n = 0; n < argc && status == 0; ++n) status = Take(c, call, n, m->kinds[n]);
  if (status == 0) {
    status = m->call(c);
    // Write back what the call wrote into by-reference arguments.
    for (int n = 0; n < argc; ++n) {
      Slot& s = c.slots[n];
      if (s.var == nullptr) continue;
      if (m->kinds[n] == kIntRef) object->StoreInt(s.var, s.i);
      if (m->kinds[n] == kDblRef) object->StoreDouble(s.var, s.d);
    }
    for (int n = 0; n < argc; ++n) {
      if (m->kinds[n] != kDestField || c.slots[n].obj == nullptr) continue;
      auto* f = static_cast<FieldObject*>(c.slots[n].obj);
      f->held = f->handle != TWNULLHANDLE;
      if (f->held && object->cls() == kFieldList) static_cast<FieldListObject*>(object)->Lend(f);
    }
    if (status == 0 && m->reshape >= 0) {
      ScriptObject* target = m->reshape == kSelf ? object : c.slots[m->reshape].obj;
      if (target != nullptr && target->cls() == kFieldList) {
        auto* list = static_cast<FieldListObject*>(target);
        for (FieldObject* f : std::vector<FieldObject*>(list->borrowers)) {
          // Fields just handed out by this very call stay valid.
          bool fresh = false;
          for (int n = 0; n < argc; ++n) fresh |= c.slots[n].obj == f && m->kinds[n] == kDestField;
          if (!fresh) f->Drop();
        }
      }
    }
  }
  if (c.hasString)
    object->StoreString(call->result, c.stringResult);
  else if (call->result != nullptr)
    object->StoreInt(call->result, static_cast<int32_t>(status));
  if (status != 0 && m->raises) object->Fail(status);
  return QSX_OK;
}

// Construction arguments of New: the same rows.
uint32_t ConstructArgs(uint16_t cls, const QsxCall* call, int32_t* i0, int32_t* i1, TWStream* text,
                       bool* hasText) {
  const Method* m = FindMethod(cls, Prop(static_cast<Class>(cls), 0));
  Ctx c;
  const int argc = ArgCount(*m);
  for (int n = 0; n < argc; ++n)
    if (uint32_t st = Take(c, call, n, m->kinds[n])) return st;
  *i0 = c.slots[0].i;
  *i1 = c.slots[1].i;
  *hasText = false;
  for (int n = 0; n < argc; ++n)
    if (m->kinds[n] == kText || m->kinds[n] == kString) {
      *hasText = c.slots[n].present;
      if (*hasText) *text = c.slots[n].text;
    }
  return 0;
}

}  // namespace scriptbind
