// The script objects: construction and destruction of each class's engine value, the
// properties, the dynamic properties of activities, connections and field lists, the error
// path, the module objects and the conversion of script dates.
#include <cmath>
#include <cstring>
#include <mutex>
#include <span>
#include <string>

#include "scriptbind.h"

namespace scriptbind {

// ---------------------------------------------------------------- host values ------------

const QsValue* Deref(const QsValue* v) {
  for (int hops = 0; v != nullptr && v->kind == QSV_REF && hops < 8; ++hops) v = v->u.ref;
  return v != nullptr && v->kind == QSV_REF ? nullptr : v;
}

namespace {

bool DoubleToInt(double d, int32_t* out) {
  if (!std::isfinite(d)) return false;
  d = std::nearbyint(d);
  if (d < -2147483648.0 || d > 2147483647.0) return false;
  *out = static_cast<int32_t>(d);
  return true;
}

TWStream TextView(const QsValue* v) {
  TWStream s{};
  s.format = kTextFormat;
  s.length = v->length * 2;
  s.data = const_cast<uint16_t*>(v->u.s);
  return s;
}

std::u16string Units(const uint16_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

}  // namespace

ScriptObject* ObjectOf(const QsValue* v) {
  v = Deref(v);
  if (v == nullptr || v->kind != QSV_OBJECT || v->u.obj == nullptr) return nullptr;
  return static_cast<ScriptObject*>(v->u.obj);
}

namespace {
bool SameDouble(double d, double* out) {
  *out = d;
  return true;
}

// A host value as a number of type T: numbers through fromDouble, text through the
// engine's reading of a T.
template <class T>
bool ToNumber(const QsValue* v, T* out, bool (*fromDouble)(double, T*),
              uint32_t (*fromText)(T*, const TWStream*)) {
  v = Deref(v);
  if (v == nullptr) return false;
  switch (v->kind) {
    case QSV_EMPTY:
      *out = 0;
      return true;
    case QSV_INT:
      return fromDouble(v->u.i, out);
    case QSV_DOUBLE:
    case QSV_DATE:
      return fromDouble(v->u.d, out);
    case QSV_CURRENCY:
      return fromDouble(static_cast<double>(v->u.cy) / 10000.0, out);
    case QSV_STRING: {
      TWStream s = TextView(v);
      return fromText(out, &s) == TWSUCCESS;
    }
    default:
      return false;
  }
}
}  // namespace

bool ToInt(const QsValue* v, int32_t* out) {
  return ToNumber(v, out, DoubleToInt, TWIntFromStream);
}

bool ToDouble(const QsValue* v, double* out) {
  return ToNumber(v, out, SameDouble, TWFloatFromStream);
}

bool ToText(const QsValue* v, TWStream* out) {
  v = Deref(v);
  if (v == nullptr) return false;
  if (v->kind == QSV_STRING) {
    *out = TextView(v);
    return true;
  }
  ScriptObject* o = ObjectOf(v);
  if (o == nullptr || o->cls() != kStream) return false;
  *out = static_cast<StreamObject*>(o)->value;
  out->flags &= 0x00FFFFFFu;
  return true;
}

std::u16string StreamText(const TWStream& s) {
  if (s.length == 0 || s.data == nullptr) return {};
  TWStream wide{};
  std::u16string out;
  if (TWStreamDataConvert(&wide, &s, 0, kTextFormat, nullptr, nullptr) == TWSUCCESS)
    out = Units(static_cast<const uint16_t*>(wide.data), wide.length / 2);
  TWStreamDataFree(&wide);
  return out;
}

// ---------------------------------------------------------------- script dates -----------

namespace {

constexpr int64_t kFirstDay = -693593;     // 1 January 1
constexpr int64_t kLastDay = 2958465;      // 31 December 9999
constexpr int64_t kEpochJulian = 2415019;  // 30 December 1899

}  // namespace

uint32_t ScriptDateToDatetime(double date, TWDatetime* out) {
  // Outside years 1 to 9999 (or not a number) a date has no engine form.
  if (!std::isfinite(date) || date <= static_cast<double>(kFirstDay - 1) ||
      date >= static_cast<double>(kLastDay + 1))
    return TWFAIL_INVALID_DATETIME;
  const double whole = std::trunc(date);
  // The fraction counts the time of day forward from the day's start also before the epoch.
  int64_t day = static_cast<int64_t>(whole);
  int64_t seconds = std::llround(std::fabs(date - whole) * 86400.0);
  // Rounded up to the next midnight, which is the following day before the epoch as after
  // it: the time of day runs forward there too, so carrying to the day before would jump
  // back almost two days.
  if (seconds >= 86400) {
    seconds -= 86400;
    day += 1;
  }
  if (day < kFirstDay || day > kLastDay) return TWFAIL_INVALID_DATETIME;
  TWDatetime now{};
  TWDatetimeParts p{};
  if (uint32_t st = TWDatetimeSetCurrent(&now)) return st;
  if (uint32_t st = TWDatetimeGetParts(&now, TWPARTSF_NULL_ZERO, &p)) return st;
  TWDatetime onDay{};
  TWDatetimeParts d{};
  if (uint32_t st = TWDatetimeSetJulian(&onDay, static_cast<uint32_t>(day + kEpochJulian)))
    return st;
  if (uint32_t st = TWDatetimeGetParts(&onDay, TWPARTSF_NULL_ZERO, &d)) return st;
  p.year = d.year;
  p.month = d.month;
  p.day = d.day;
  p.hour = static_cast<int32_t>(seconds / 3600);
  p.minute = static_cast<int32_t>(seconds % 3600 / 60);
  p.second = static_cast<int32_t>(seconds % 60);
  p.hundredth = 0;
  return TWDatetimeSetParts(out, &p, 0);
}

uint32_t DatetimeToScriptDate(const TWDatetime& value, double* out) {
  TWDatetimeParts p{};
  if (uint32_t st = TWDatetimeGetParts(&value, TWPARTSF_NULL_ZERO, &p)) return st;
  // A value without a date is a time of day on the epoch's day.
  const uint32_t julian = TWDatetimeGetJulian(&value);
  const int64_t day = julian == TWDTNULL_DATE ? 0 : static_cast<int64_t>(julian) - kEpochJulian;
  const double time = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
  // Before the epoch the fraction was written without its sign: read it back the same way.
  *out = static_cast<double>(day) + (day < 0 ? -time : time);
  return TWSUCCESS;
}

// ---------------------------------------------------------------- objects -------------

namespace {

uint32_t QueryObject(QsxObject* self, const uint8_t iid[16], QsxObject** out) {
  if (out == nullptr) return QSX_NO_OBJECT;
  *out = nullptr;
  if (self == nullptr || iid == nullptr || std::memcmp(iid, kInterfaceId, 16) != 0)
    return QSX_NO_OBJECT;
  ++static_cast<ScriptObject*>(self)->refs;
  *out = self;
  return QSX_OK;
}
uint32_t AddRefObject(QsxObject* self) {
  if (self == nullptr) return 0;
  return static_cast<uint32_t>(++static_cast<ScriptObject*>(self)->refs);
}
uint32_t ReleaseObject(QsxObject* self) {
  if (self == nullptr) return 0;
  auto* o = static_cast<ScriptObject*>(self);
  if (--o->refs > 0) return static_cast<uint32_t>(o->refs);
  o->refs = 0;
  DeleteObject(o);
  return 0;
}

}  // namespace

const QsxObjectTable kObjectTable = {QueryObject, AddRefObject, ReleaseObject};

ScriptObject::ScriptObject(Module* module, QsxInstance* instance, uint16_t cls)
    : module_(module), instance_(instance) {
  table = &kObjectTable;
  classNumber = cls;
  if (instance != nullptr) version = static_cast<uint32_t>(instance->version);
}

ScriptObject::~ScriptObject() = default;

uint32_t ScriptObject::Get(uint32_t, QsValue*) {
  return QSX_NO_OBJECT;
}
uint32_t ScriptObject::Set(uint32_t, const QsValue*) {
  return QSX_NO_OBJECT;
}
uint32_t ScriptObject::Lookup(const std::u16string&, uint32_t*, uint32_t*) {
  return QSX_NO_OBJECT;
}
uint32_t ScriptObject::WalkBegin() {
  return QSX_NO_OBJECT;
}
uint32_t ScriptObject::WalkStep(QsValue*, uint32_t*) {
  return QSX_NO_OBJECT;
}
uint32_t ScriptObject::WalkEnd() {
  return QSX_NO_OBJECT;
}

uint32_t ScriptObject::Fail(uint32_t status) const {
  if (status == TWSUCCESS || module_ == nullptr) return status;
  const ActivityObject* act = module_->activity();
  if (act == nullptr || act->raiseExceptions == 0 || status == TWFAIL_END_OF_DATA) return status;
  TWStream text{};
  TWActivityGetStatusStream(status, &text);
  std::u16string t = StreamText(text);
  TWStreamDataFree(&text);
  // The host's error text holds 255 units and the terminator.
  if (t.size() > 255) t.resize(255);
  if (instance_ != nullptr && instance_->raise != nullptr)
    instance_->raise(instance_, status, reinterpret_cast<const uint16_t*>(t.c_str()));
  return status;
}

uint32_t ScriptObject::Store(QsValue* variable, const QsValue& value) const {
  if (variable == nullptr) return QSX_OK;
  if (instance_ == nullptr || instance_->store == nullptr) return QSX_NO_OBJECT;
  return instance_->store(instance_, variable, &value);
}
uint32_t ScriptObject::StoreInt(QsValue* variable, int32_t v) const {
  QsValue value{};
  value.kind = QSV_INT;
  value.u.i = v;
  return Store(variable, value);
}
uint32_t ScriptObject::StoreDouble(QsValue* variable, double v) const {
  QsValue value{};
  value.kind = QSV_DOUBLE;
  value.u.d = v;
  return Store(variable, value);
}
uint32_t ScriptObject::StoreString(QsValue* variable, const std::u16string& s) const {
  QsValue value{};
  value.kind = QSV_STRING;
  value.length = static_cast<uint32_t>(s.size());
  value.u.s = reinterpret_cast<const uint16_t*>(s.c_str());
  return Store(variable, value);
}

namespace {

QsValue DoubleValue(double d, uint32_t kind = QSV_DOUBLE) {
  QsValue v{};
  v.kind = kind;
  v.u.d = d;
  return v;
}

// A number read through the double or the integer property.
uint32_t StoreNumber(const ScriptObject& o, QsValue* out, double d, bool whole) {
  if (!whole) return o.StoreDouble(out, d), TWSUCCESS;
  int32_t i = 0;
  const QsValue dv = DoubleValue(d);
  if (!ToInt(&dv, &i)) return TWFAIL_OVERFLOW;
  return o.StoreInt(out, i), TWSUCCESS;
}

// Text that a conversion writes into a stream, read as a string.
template <class ToStream>
uint32_t StoreConverted(const ScriptObject& o, QsValue* out, ToStream to) {
  TWStream text{};
  const uint32_t st = to(&text);
  if (st == TWSUCCESS) o.StoreString(out, StreamText(text));
  TWStreamDataFree(&text);
  return st;
}

// Writes a string value into a text stream of format 0xA0.
uint32_t SetText(TWStream* stream, const QsValue* in) {
  TWStream text{};
  if (!ToText(in, &text)) return TWFAIL_TYPE_MISMATCH;
  TWStream wide{};
  uint32_t st = TWStreamDataConvert(&wide, &text, 0, kTextFormat, nullptr, nullptr);
  if (st == TWSUCCESS) st = TWStreamDataSet(stream, kTextFormat, wide.data, wide.length);
  TWStreamDataFree(&wide);
  return st;
}

// Reading and writing a property through a one-value text field, as the dynamic properties
// of activities and connections do.
template <class GetFn>
uint32_t DynamicGet(const ScriptObject& o, GetFn get, QsValue* out) {
  TWFIELD field = TWNULLHANDLE;
  uint32_t st = TWFieldAlloc(&field, TWTYPE_TEXT, 1);
  if (st == TWSUCCESS) st = get(field);
  TWStream text{};
  if (st == TWSUCCESS) st = TWFieldGetStream(field, 1, kTextFormat, &text, nullptr);
  if (st == TWSUCCESS) o.StoreString(out, StreamText(text));
  TWStreamDataFree(&text);
  TWFieldFree(field);
  o.Fail(st);
  return QSX_OK;
}

template <class SetFn>
uint32_t DynamicSet(const ScriptObject& o, SetFn set, const QsValue* in) {
  TWFIELD field = TWNULLHANDLE;
  uint32_t st = TWFieldAlloc(&field, TWTYPE_TEXT, 1);
  TWStream text{};
  if (st == TWSUCCESS)
    st = ToText(in, &text) ? TWFieldSetStream(field, 1, &text) : TWFAIL_TYPE_MISMATCH;
  if (st == TWSUCCESS) st = set(field);
  TWFieldFree(field);
  o.Fail(st);
  return QSX_OK;
}

}  // namespace

// ---------------------------------------------------------------- TWActivity --------------

uint32_t ActivityObject::Construct(int32_t flags, const TWStream* name) {
  std::u16string text = name != nullptr ? StreamText(*name) : std::u16string();
  const uint32_t st = TWActivityAlloc(static_cast<uint32_t>(flags),
                                      text.empty() ? nullptr : text.c_str(), kTextFormat);
  held = st == TWSUCCESS;
  keptText = text.substr(0, 1);
  // Inside a running activity the script works on that one; it holds nothing and never
  // ends it.
  return st == TWFAIL_UNAVAILABLE ? TWSUCCESS : st;
}

ActivityObject::~ActivityObject() {
  if (held) TWActivityFree();
}

uint32_t ActivityObject::Get(uint32_t id, QsValue* out) {
  if (id == kStoredProperty) return StoreInt(out, raiseExceptions ? -1 : 0);
  return GetToken(id, out);
}

uint32_t ActivityObject::GetToken(uint32_t token, QsValue* out) {
  return DynamicGet(
      *this, [token](TWFIELD f) { return TWActivityGetProperty(token, f); }, out);
}

uint32_t ActivityObject::SetToken(uint32_t token, const QsValue* in) {
  return DynamicSet(
      *this, [token](TWFIELD f) { return TWActivitySetProperty(token, f); }, in);
}

uint32_t ActivityObject::Set(uint32_t id, const QsValue* in) {
  if (id == kStoredProperty) {
    int32_t v = 0;
    if (!ToInt(in, &v)) {
      Fail(TWFAIL_TYPE_MISMATCH);
      return QSX_OK;
    }
    raiseExceptions = v != 0 ? 1 : 0;
    return QSX_OK;
  }
  return SetToken(id, in);
}

uint32_t ActivityObject::List(uint32_t direction, uint32_t* token, TWStream* name) {
  return TWActivityListProperty(direction, token, nullptr, nullptr, name);
}

// ---------------------------------------------------------------- TWConnect ---------------

ConnectObject::~ConnectObject() {
  if (handle != TWNULLHANDLE) {
    TWConnectDisconnect(handle);
    TWConnectFree(handle);
  }
}

uint32_t ConnectObject::Get(uint32_t id, QsValue* out) {
  TWCONNECT h = handle;
  return DynamicGet(
      *this, [h, id](TWFIELD f) { return TWConnectGetProperty(h, id, f); }, out);
}
uint32_t ConnectObject::Set(uint32_t id, const QsValue* in) {
  TWCONNECT h = handle;
  return DynamicSet(
      *this, [h, id](TWFIELD f) { return TWConnectSetProperty(h, id, f); }, in);
}
uint32_t ConnectObject::List(uint32_t direction, uint32_t* token, TWStream* name) {
  return TWConnectListProperty(handle, direction, token, nullptr, nullptr, name);
}

// ---------------------------------------------------------------- listed properties -------

uint32_t ListedObject::Lookup(const std::u16string& name, uint32_t* id, uint32_t* type) {
  TWStream asked{};
  asked.flags = TWSTREAMF_NO_CASE;
  asked.format = kTextFormat;
  asked.length = static_cast<uint32_t>(name.size() * 2);
  asked.data = const_cast<char16_t*>(name.data());
  TWStream listed{};
  uint32_t found = QSX_NO_OBJECT;
  uint32_t token = 0;
  for (uint32_t dir = TWLIST_FIRST; List(dir, &token, &listed) == TWSUCCESS; dir = TWLIST_NEXT) {
    int32_t cmp = 1;
    if (TWStreamDataCompare(&listed, &asked, &cmp) == TWSUCCESS && cmp == 0) {
      *id = token;
      *type = QST_STRING;
      found = QSX_OK;
      break;
    }
  }
  TWStreamDataFree(&listed);
  return found;
}

uint32_t ListedObject::WalkBegin() {
  walking_ = true;
  first_ = true;
  return QSX_OK;
}

uint32_t ListedObject::WalkStep(QsValue* name, uint32_t* id) {
  if (!walking_) return QSX_NOT_ALLOWED;
  TWStream listed{};
  uint32_t token = 0;
  const uint32_t st = List(first_ ? TWLIST_FIRST : TWLIST_NEXT, &token, &listed);
  first_ = false;
  if (st == TWSUCCESS) {
    StoreString(name, StreamText(listed));
    *id = token;
  }
  TWStreamDataFree(&listed);
  return st == TWSUCCESS ? QSX_OK : QSX_NOT_ALLOWED;
}

uint32_t ListedObject::WalkEnd() {
  walking_ = false;
  return QSX_OK;
}

// ---------------------------------------------------------------- TWFieldList -------------

FieldListObject::~FieldListObject() {
  Release();
}

void FieldListObject::Release() {
  for (FieldObject* f : borrowers) {
    f->handle = TWNULLHANDLE;
    f->held = false;
    f->lender = nullptr;
  }
  borrowers.clear();
  if (handle != TWNULLHANDLE) TWFieldlistFree(handle);
  handle = TWNULLHANDLE;
  held = false;
}

void FieldListObject::Adopt(TWFIELDLIST list) {
  Release();
  handle = list;
  held = list != TWNULLHANDLE;
  valueIndex = 1;
}

void FieldListObject::Lend(FieldObject* field) {
  if (field->lender == this) return;
  if (field->lender != nullptr) field->Drop();
  field->lender = this;
  field->held = true;
  borrowers.push_back(field);
}

uint32_t FieldListObject::Get(uint32_t id, QsValue* out) {
  if (id == kStoredProperty) return StoreInt(out, valueIndex);
  TWFIELD field = TWNULLHANDLE;
  uint32_t st = held ? TWFieldlistGetField(handle, id, kTextFormat, &field, nullptr)
                     : TWFAIL_INVALID_FIELDLIST;
  TWStream text{};
  if (st == TWSUCCESS)
    st = TWFieldGetStream(field, static_cast<uint32_t>(valueIndex), kTextFormat, &text, nullptr);
  if (st == TWSUCCESS) StoreString(out, StreamText(text));
  TWStreamDataFree(&text);
  Fail(st);
  return QSX_OK;
}

uint32_t FieldListObject::Set(uint32_t id, const QsValue* in) {
  uint32_t st = TWSUCCESS;
  if (id == kStoredProperty) {
    int32_t v = 0;
    if (!ToInt(in, &v))
      st = TWFAIL_TYPE_MISMATCH;
    else if (v < 1 || static_cast<uint32_t>(v) > TWFieldlistGetRecordCount(handle))
      st = TWFAIL_INVALID_INDEX;
    else
      valueIndex = v;
    Fail(st);
    return QSX_OK;
  }
  TWFIELD field = TWNULLHANDLE;
  st = held ? TWFieldlistGetField(handle, id, kTextFormat, &field, nullptr)
            : TWFAIL_INVALID_FIELDLIST;
  TWStream text{};
  if (st == TWSUCCESS) st = ToText(in, &text) ? TWSUCCESS : TWFAIL_TYPE_MISMATCH;
  if (st == TWSUCCESS) st = TWFieldSetStream(field, static_cast<uint32_t>(valueIndex), &text);
  Fail(st);
  return QSX_OK;
}

uint32_t FieldListObject::Lookup(const std::u16string& name, uint32_t* id, uint32_t* type) {
  if (!held) return QSX_NO_OBJECT;
  TWStream asked{};
  asked.format = kTextFormat;
  asked.length = static_cast<uint32_t>(name.size() * 2);
  asked.data = const_cast<char16_t*>(name.data());
  uint32_t index = 0;
  if (TWFieldlistLookup(handle, &asked, nullptr, &index) != TWSUCCESS) return QSX_NO_OBJECT;
  *id = index;
  *type = QST_STRING;
  return QSX_OK;
}

uint32_t FieldListObject::WalkBegin() {
  return held && TWFieldlistListSetup(handle, kTextFormat) == TWSUCCESS ? QSX_OK : QSX_NOT_ALLOWED;
}
uint32_t FieldListObject::WalkStep(QsValue* name, uint32_t* id) {
  if (!held) return QSX_NOT_ALLOWED;
  TWStream listed{};
  uint32_t index = 0;
  const uint32_t st = TWFieldlistList(handle, nullptr, &index, nullptr, nullptr, &listed);
  if (st == TWSUCCESS) {
    StoreString(name, StreamText(listed));
    *id = index;
  }
  TWStreamDataFree(&listed);
  return st == TWSUCCESS ? QSX_OK : QSX_NOT_ALLOWED;
}
uint32_t FieldListObject::WalkEnd() {
  return QSX_OK;
}

// ---------------------------------------------------------------- TWField -----------------

FieldObject::~FieldObject() {
  Drop();
}

void FieldObject::Drop() {
  if (lender != nullptr) {
    auto& b = lender->borrowers;
    for (size_t i = 0; i < b.size(); ++i)
      if (b[i] == this) {
        b.erase(b.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    lender = nullptr;
  }
  if (!borrowed && handle != TWNULLHANDLE) TWFieldFree(handle);
  handle = TWNULLHANDLE;
  borrowed = true;
  held = false;
}

namespace {

// Fields and streams hold a value that reads and writes as each of five host kinds, their
// properties in this order: currency, date, double, integer and text.
constexpr uint32_t kTypedCount = 5;

struct FieldAccess {
  TWFIELD handle;
  uint32_t at;
  uint32_t Read(TWCurrency* v) const { return TWFieldGetCurrency(handle, at, v, nullptr); }
  uint32_t Read(TWDatetime* v) const { return TWFieldGetDatetime(handle, at, v, nullptr); }
  uint32_t Read(double* v) const { return TWFieldGetFloat(handle, at, v, nullptr); }
  uint32_t Read(int32_t* v) const { return TWFieldGetInt(handle, at, v, nullptr); }
  uint32_t ReadText(const ScriptObject& o, QsValue* out) const {
    return StoreConverted(o, out, [this](TWStream* t) {
      return TWFieldGetStream(handle, at, kTextFormat, t, nullptr);
    });
  }
  uint32_t Write(const TWCurrency* v) const { return TWFieldSetCurrency(handle, at, v); }
  uint32_t Write(const TWDatetime* v) const { return TWFieldSetDatetime(handle, at, v); }
  uint32_t Write(const double* v) const { return TWFieldSetFloat(handle, at, v); }
  uint32_t Write(const int32_t* v) const { return TWFieldSetInt(handle, at, v); }
  uint32_t WriteText(const QsValue* in) const {
    TWStream text{};
    return ToText(in, &text) ? TWFieldSetStream(handle, at, &text) : TWFAIL_TYPE_MISMATCH;
  }
};

struct StreamAccess {
  TWStream* value;
  uint32_t Read(TWCurrency* v) const { return TWCurrencyFromStream(v, value); }
  uint32_t Read(TWDatetime* v) const { return TWDatetimeFromStream(v, value); }
  uint32_t Read(double* v) const { return TWFloatFromStream(v, value); }
  uint32_t Read(int32_t* v) const { return TWIntFromStream(v, value); }
  // The stream's own text, whatever its format.
  uint32_t ReadText(const ScriptObject& o, QsValue* out) const {
    o.StoreString(out, StreamText(*value));
    return TWSUCCESS;
  }
  uint32_t Write(const TWCurrency* v) const { return TWStreamFromCurrency(value, v, kTextFormat); }
  uint32_t Write(const TWDatetime* v) const { return TWStreamFromDatetime(value, v, kTextFormat); }
  uint32_t Write(const double* v) const { return TWStreamFromFloat(value, v, kTextFormat); }
  uint32_t Write(const int32_t* v) const { return TWStreamFromInt(value, v, kTextFormat); }
  uint32_t WriteText(const QsValue* in) const { return SetText(value, in); }
};

// Reads the typed property at place into out; QSX_NO_OBJECT past the last.
template <class Access>
uint32_t TypedGet(const ScriptObject& o, const Access& a, uint32_t place, QsValue* out) {
  uint32_t st = TWSUCCESS;
  double d = 0;
  int32_t i = 0;
  switch (place) {
    case 0: {
      TWCurrency cy{};
      st = a.Read(&cy);
      QsValue v{};
      v.kind = QSV_CURRENCY;
      v.u.cy = cy.value;
      if (st == TWSUCCESS) o.Store(out, v);
      break;
    }
    case 1: {
      TWDatetime dt{};
      st = a.Read(&dt);
      if (st == TWSUCCESS) st = DatetimeToScriptDate(dt, &d);
      if (st == TWSUCCESS) o.Store(out, DoubleValue(d, QSV_DATE));
      break;
    }
    case 2:
      st = a.Read(&d);
      if (st == TWSUCCESS) o.StoreDouble(out, d);
      break;
    case 3:
      st = a.Read(&i);
      if (st == TWSUCCESS) o.StoreInt(out, i);
      break;
    case 4:
      st = a.ReadText(o, out);
      break;
    default:
      return QSX_NO_OBJECT;
  }
  o.Fail(st);
  return QSX_OK;
}

// Writes in to the typed property at place (below kTypedCount); answers the engine status.
template <class Access>
uint32_t TypedSet(const Access& a, uint32_t place, const QsValue* in) {
  uint32_t st = TWFAIL_TYPE_MISMATCH;
  double d = 0;
  int32_t i = 0;
  const QsValue* v = Deref(in);
  switch (place) {
    case 0:
      if (v != nullptr && v->kind == QSV_CURRENCY) {
        const TWCurrency cy{v->u.cy};
        st = a.Write(&cy);
      } else if (ToDouble(in, &d)) {
        TWCurrency cy{};
        st = TWCurrencyFromFloat(&cy, &d);
        if (st == TWSUCCESS) st = a.Write(&cy);
      }
      break;
    case 1:
      if (ToDouble(in, &d)) {
        TWDatetime dt{};
        st = ScriptDateToDatetime(d, &dt);
        if (st == TWSUCCESS) st = a.Write(&dt);
      }
      break;
    case 2:
      if (ToDouble(in, &d)) st = a.Write(&d);
      break;
    case 3:
      if (ToInt(in, &i)) st = a.Write(&i);
      break;
    case 4:
      st = a.WriteText(in);
      break;
  }
  return st;
}

}  // namespace

uint32_t FieldObject::Get(uint32_t id, QsValue* out) {
  if (id == Prop(kField, 5)) return StoreInt(out, valueIndex);
  if (!held) {
    Fail(TWFAIL_INVALID_FIELD);
    return QSX_OK;
  }
  return TypedGet(*this, FieldAccess{handle, static_cast<uint32_t>(valueIndex)},
                  id - Prop(kField, 0), out);
}

uint32_t FieldObject::Set(uint32_t id, const QsValue* in) {
  if (id < Prop(kField, 0) || id > Prop(kField, 5)) return QSX_NO_OBJECT;
  if (!held) {
    Fail(TWFAIL_INVALID_FIELD);
    return QSX_OK;
  }
  uint32_t st = TWFAIL_TYPE_MISMATCH;
  int32_t i = 0;
  if (id != Prop(kField, 5)) {
    st = TypedSet(FieldAccess{handle, static_cast<uint32_t>(valueIndex)}, id - Prop(kField, 0), in);
  } else if (ToInt(in, &i)) {
    st = i >= 1 && static_cast<uint32_t>(i) <= TWFieldGetValueCount(handle) ? TWSUCCESS
                                                                            : TWFAIL_INVALID_INDEX;
    if (st == TWSUCCESS) valueIndex = i;
  }
  Fail(st);
  return QSX_OK;
}

// ---------------------------------------------------------------- value classes -----------

StreamObject::StreamObject(Module* m, QsxInstance* in) : ScriptObject(m, in, kStream) {
  TWStreamClear(&value);
  held = true;
}
StreamObject::~StreamObject() {
  TWStreamDataFree(&value);
}

uint32_t StreamObject::Get(uint32_t id, QsValue* out) {
  return TypedGet(*this, StreamAccess{&value}, id - Prop(kStream, 0), out);
}

uint32_t StreamObject::Set(uint32_t id, const QsValue* in) {
  const uint32_t place = id - Prop(kStream, 0);
  if (place >= kTypedCount) return QSX_NO_OBJECT;
  Fail(TypedSet(StreamAccess{&value}, place, in));
  return QSX_OK;
}

namespace {

// How a property of a value record reads and writes: the record itself as a host value, a
// number through the engine's float conversions (read as a double or as an integer), or
// text through its stream conversions.
enum class Kind : uint8_t { kNative, kFloat, kInt, kText };

template <class Value>
struct ValueRow {
  uint32_t id;
  Kind kind;
  // kNative: stores the record; answers the engine status.
  uint32_t (*getNative)(const ScriptObject& o, const Value& value, QsValue* out);
  // kNative: takes a host value of the record's own kind, setting *st; false leaves a number
  // to fromFloat.
  bool (*setNative)(Value* value, const QsValue* in, uint32_t* st);
  uint32_t (*toFloat)(double* out, const Value* value);
  uint32_t (*fromFloat)(Value* value, const double* in);
  uint32_t (*toText)(TWStream* out, const Value* value, uint32_t format);
  uint32_t (*fromText)(Value* value, const TWStream* in);
};

uint32_t GetCurrency(const ScriptObject& o, const TWCurrency& value, QsValue* out) {
  QsValue v{};
  v.kind = QSV_CURRENCY;
  v.u.cy = value.value;
  o.Store(out, v);
  return TWSUCCESS;
}
bool SetCurrency(TWCurrency* value, const QsValue* in, uint32_t* st) {
  const QsValue* v = Deref(in);
  if (v == nullptr || v->kind != QSV_CURRENCY) return false;
  value->value = v->u.cy;
  *st = TWSUCCESS;
  return true;
}

uint32_t GetScriptDate(const ScriptObject& o, const TWDatetime& value, QsValue* out) {
  double d = 0;
  const uint32_t st = DatetimeToScriptDate(value, &d);
  if (st == TWSUCCESS) o.Store(out, DoubleValue(d, QSV_DATE));
  return st;
}
// Anything that is no number is no date.
bool SetScriptDate(TWDatetime* value, const QsValue* in, uint32_t* st) {
  double d = 0;
  TWDatetime dt{};
  *st = ToDouble(in, &d) ? ScriptDateToDatetime(d, &dt) : TWFAIL_INVALID_DATETIME;
  if (*st == TWSUCCESS) *value = dt;
  return true;
}

template <class Value>
constexpr ValueRow<Value> NativeRow(uint32_t id,
                                    uint32_t (*get)(const ScriptObject&, const Value&, QsValue*),
                                    bool (*set)(Value*, const QsValue*, uint32_t*),
                                    uint32_t (*fromFloat)(Value*, const double*) = nullptr) {
  return {id, Kind::kNative, get, set, nullptr, fromFloat, nullptr, nullptr};
}
template <class Value>
constexpr ValueRow<Value> NumberRow(uint32_t id, Kind kind,
                                    uint32_t (*toFloat)(double*, const Value*),
                                    uint32_t (*fromFloat)(Value*, const double*)) {
  return {id, kind, nullptr, nullptr, toFloat, fromFloat, nullptr, nullptr};
}
template <class Value>
constexpr ValueRow<Value> TextRow(uint32_t id,
                                  uint32_t (*toText)(TWStream*, const Value*, uint32_t),
                                  uint32_t (*fromText)(Value*, const TWStream*)) {
  return {id, Kind::kText, nullptr, nullptr, nullptr, nullptr, toText, fromText};
}

constexpr ValueRow<TWCurrency> kCurrencyRows[] = {
    NativeRow(Prop(kCurrency, 0), GetCurrency, SetCurrency, TWCurrencyFromFloat),
    NumberRow(Prop(kCurrency, 1), Kind::kFloat, TWFloatFromCurrency, TWCurrencyFromFloat),
    NumberRow(Prop(kCurrency, 2), Kind::kInt, TWFloatFromCurrency, TWCurrencyFromFloat),
    TextRow(Prop(kCurrency, 3), TWStreamFromCurrency, TWCurrencyFromStream),
};
constexpr ValueRow<TWNumeric> kNumericRows[] = {
    NumberRow(Prop(kNumeric, 0), Kind::kInt, TWFloatFromNumeric, TWNumericFromFloat),
    NumberRow(Prop(kNumeric, 1), Kind::kFloat, TWFloatFromNumeric, TWNumericFromFloat),
    TextRow(Prop(kNumeric, 2), TWStreamFromNumeric, TWNumericFromStream),
};
constexpr ValueRow<TWDatetime> kDatetimeRows[] = {
    NativeRow(Prop(kDatetime, 0), GetScriptDate, SetScriptDate),
    TextRow(Prop(kDatetime, 1), TWStreamFromDatetime, TWDatetimeFromStream),
};

// The table of a value record's class.
std::span<const ValueRow<TWCurrency>> Rows(const TWCurrency*) {
  return kCurrencyRows;
}
std::span<const ValueRow<TWNumeric>> Rows(const TWNumeric*) {
  return kNumericRows;
}
std::span<const ValueRow<TWDatetime>> Rows(const TWDatetime*) {
  return kDatetimeRows;
}

template <class Value>
const ValueRow<Value>* FindRow(const Value* value, uint32_t id) {
  for (const ValueRow<Value>& row : Rows(value))
    if (row.id == id) return &row;
  return nullptr;
}

// The date-time parts: each an integer member of the record.
struct PartRow {
  uint32_t id;
  int32_t TWDatetimeParts::*part;
};
constexpr PartRow kPartRows[] = {
    {Prop(kDatetimeParts, 0), &TWDatetimeParts::day},
    {Prop(kDatetimeParts, 1), &TWDatetimeParts::daylight},
    {Prop(kDatetimeParts, 2), &TWDatetimeParts::hour},
    {Prop(kDatetimeParts, 3), &TWDatetimeParts::hundredth},
    {Prop(kDatetimeParts, 4), &TWDatetimeParts::minute},
    {Prop(kDatetimeParts, 5), &TWDatetimeParts::month},
    {Prop(kDatetimeParts, 6), &TWDatetimeParts::second},
    {Prop(kDatetimeParts, 7), &TWDatetimeParts::weekday},
    {Prop(kDatetimeParts, 8), &TWDatetimeParts::year},
    {Prop(kDatetimeParts, 9), &TWDatetimeParts::zone},
};

int32_t* Part(TWDatetimeParts& p, uint32_t id) {
  for (const PartRow& row : kPartRows)
    if (row.id == id) return &(p.*row.part);
  return nullptr;
}

}  // namespace

template <>
uint32_t PartsObject::Get(uint32_t id, QsValue* out) {
  int32_t* p = Part(value, id);
  return p != nullptr ? StoreInt(out, *p) : QSX_NO_OBJECT;
}
template <>
uint32_t PartsObject::Set(uint32_t id, const QsValue* in) {
  int32_t* p = Part(value, id);
  if (p == nullptr) return QSX_NO_OBJECT;
  if (!ToInt(in, p)) Fail(TWFAIL_TYPE_MISMATCH);
  return QSX_OK;
}

template <uint16_t Cls, class Value>
uint32_t ValueObject<Cls, Value>::Get(uint32_t id, QsValue* out) {
  const ValueRow<Value>* row = FindRow(&value, id);
  if (row == nullptr) return QSX_NO_OBJECT;
  uint32_t st = TWSUCCESS;
  double d = 0;
  switch (row->kind) {
    case Kind::kNative:
      st = row->getNative(*this, value, out);
      break;
    case Kind::kFloat:
    case Kind::kInt:
      st = row->toFloat(&d, &value);
      if (st == TWSUCCESS) st = StoreNumber(*this, out, d, row->kind == Kind::kInt);
      break;
    case Kind::kText:
      st = StoreConverted(*this, out,
                          [this, row](TWStream* t) { return row->toText(t, &value, kTextFormat); });
      break;
  }
  Fail(st);
  return QSX_OK;
}

template <uint16_t Cls, class Value>
uint32_t ValueObject<Cls, Value>::Set(uint32_t id, const QsValue* in) {
  const ValueRow<Value>* row = FindRow(&value, id);
  if (row == nullptr) return QSX_NO_OBJECT;
  uint32_t st = TWFAIL_TYPE_MISMATCH;
  double d = 0;
  TWStream text{};
  switch (row->kind) {
    case Kind::kNative:
      // A value of another kind is taken as a number where the record converts from one.
      if (row->setNative(&value, in, &st) || row->fromFloat == nullptr) break;
      [[fallthrough]];
    case Kind::kFloat:
    case Kind::kInt:
      if (ToDouble(in, &d)) st = row->fromFloat(&value, &d);
      break;
    case Kind::kText:
      if (ToText(in, &text)) st = row->fromText(&value, &text);
      break;
  }
  Fail(st);
  return QSX_OK;
}

// ---------------------------------------------------------------- modules ---------------

namespace {
std::mutex gChainMutex;
Module* gChain = nullptr;
}  // namespace

Module::Module(QsxInstance* instance, const std::u16string& text)
    : ScriptObject(this, instance, kModule) {
  keptText = text.substr(0, 1);
  held = true;
  std::lock_guard<std::mutex> lock(gChainMutex);
  chainNext = gChain;
  gChain = this;
}

Module::~Module() {
  // Fields and views before the lists they show, lists before the connections, the
  // activity last of all.
  for (int cls = kClassCount; cls >= 1; --cls)
    while (heads[cls] != nullptr) DeleteObject(heads[cls]);
  std::lock_guard<std::mutex> lock(gChainMutex);
  for (Module** at = &gChain; *at != nullptr; at = &(*at)->chainNext)
    if (*at == this) {
      *at = chainNext;
      break;
    }
}

void Module::Link(ScriptObject* object) {
  ScriptObject*& head = heads[object->cls()];
  object->next = head;
  object->prev = nullptr;
  if (head != nullptr) head->prev = object;
  head = object;
}

void Module::Unlink(ScriptObject* object) {
  if (object->prev != nullptr)
    object->prev->next = object->next;
  else
    heads[object->cls()] = object->next;
  if (object->next != nullptr) object->next->prev = object->prev;
  object->next = object->prev = nullptr;
}

Module* FindModule(QsxInstance* instance) {
  std::lock_guard<std::mutex> lock(gChainMutex);
  for (Module* m = gChain; m != nullptr; m = m->chainNext)
    if (m->instance() == instance) return m;
  return nullptr;
}

namespace {
template <class T>
ScriptObject* Make(Module* module, QsxInstance* instance) {
  return new T(module, instance);
}

// Indexed by class number; the module object is made only with its instance.
constexpr ScriptObject* (*kMakers[kClassCount + 1])(Module*, QsxInstance*) = {
    nullptr,
    Make<ActivityObject>,
    Make<ConnectObject>,
    Make<FieldListObject>,
    Make<FieldObject>,
    Make<StreamObject>,
    Make<CurrencyObject>,
    Make<NumericObject>,
    Make<DatetimeObject>,
    Make<PartsObject>,
};
}  // namespace

ScriptObject* NewObject(Module* module, QsxInstance* instance, uint16_t cls) {
  if (cls > kClassCount || kMakers[cls] == nullptr) return nullptr;
  ScriptObject* o = kMakers[cls](module, instance);
  module->Link(o);
  return o;
}

void DeleteObject(ScriptObject* object) {
  if (object->cls() == kModule) {
    delete static_cast<Module*>(object);
    return;
  }
  object->module()->Unlink(object);
  delete object;
}

uint32_t CreateObject(Module* module, QsxInstance* instance, uint16_t cls, QsxCall* call,
                      ScriptObject** out) {
  int32_t i0 = 0, i1 = 0;
  TWStream text{};
  bool hasText = false;
  const uint32_t args = ConstructArgs(cls, call, &i0, &i1, &text, &hasText);
  ScriptObject* o = NewObject(module, instance, cls);
  if (o == nullptr) return QSX_NO_OBJECT;
  uint32_t st = args;
  if (st == TWSUCCESS) {
    switch (cls) {
      case kActivity:
        st = static_cast<ActivityObject*>(o)->Construct(i0, hasText ? &text : nullptr);
        break;
      case kConnect: {
        auto* c = static_cast<ConnectObject*>(o);
        st = TWConnectAlloc(&c->handle, static_cast<uint32_t>(i0), hasText ? &text : nullptr);
        c->held = st == TWSUCCESS;
        break;
      }
      case kFieldList: {
        auto* l = static_cast<FieldListObject*>(o);
        st = TWFieldlistAlloc(&l->handle, static_cast<uint32_t>(i0), static_cast<uint32_t>(i1));
        l->held = st == TWSUCCESS;
        break;
      }
      case kField:
        // Without values the field starts empty, to be given one of a list's fields.
        if (i1 > 0) {
          auto* f = static_cast<FieldObject*>(o);
          st = TWFieldAlloc(&f->handle, static_cast<uint32_t>(i0), static_cast<uint32_t>(i1));
          f->held = st == TWSUCCESS;
          f->borrowed = !f->held;
        }
        break;
      default:
        break;
    }
  }
  *out = o;
  o->Fail(st);
  return QSX_OK;
}

}  // namespace scriptbind
