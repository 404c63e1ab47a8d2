// Inside the script extension: the script objects of the nine classes, the module object of
// each script instance, and the call context through which the member tables reach the
// engine. Nothing here crosses the library's exports except by the records of qsx.h.
#ifndef TW_SCRIPTBIND_SCRIPTBIND_H_
#define TW_SCRIPTBIND_SCRIPTBIND_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "flowcore.h"
#include "qsx.h"

namespace scriptbind {

enum Class : uint16_t {
  kModule = 0,
  kActivity = 1,
  kConnect = 2,
  kFieldList = 3,
  kField = 4,
  kStream = 5,
  kCurrency = 6,
  kNumeric = 7,
  kDatetime = 8,
  kDatetimeParts = 9,
};
constexpr int kClassCount = 9;

// Member ids: the class number times 256 plus the member's place in its class.
constexpr uint32_t Prop(Class cls, uint32_t place) {
  return static_cast<uint32_t>(cls) << 8 | place;
}

// The stored property id of RaiseExceptions and of a field list's ValueIndex.
constexpr uint32_t kStoredProperty = 0x800001;
constexpr uint32_t kTextFormat = TWSTREAMFMT_UNICODE;

class Module;
class FieldObject;

// The base of every script object. The host sees the QsxObject part.
class ScriptObject : public QsxObject {
 public:
  ScriptObject(Module* module, QsxInstance* instance, uint16_t cls);
  virtual ~ScriptObject();
  ScriptObject(const ScriptObject&) = delete;
  ScriptObject& operator=(const ScriptObject&) = delete;

  uint16_t cls() const { return static_cast<uint16_t>(classNumber); }
  QsxInstance* instance() const { return instance_; }
  Module* module() const { return module_; }
  bool held = false;  // the engine value is usable
  int32_t refs = 1;
  uint32_t version = 0;
  std::u16string keptText;

  // Property access; the default answers that there is no such property.
  virtual uint32_t Get(uint32_t id, QsValue* out);
  virtual uint32_t Set(uint32_t id, const QsValue* in);
  virtual uint32_t Lookup(const std::u16string& name, uint32_t* id, uint32_t* type);
  virtual uint32_t WalkBegin();
  virtual uint32_t WalkStep(QsValue* name, uint32_t* id);
  virtual uint32_t WalkEnd();

  // Takes the error path for a failed status: a script error when the instance's activity
  // asks for them. Answers status.
  uint32_t Fail(uint32_t status) const;
  // Stores into a host variable through the instance's slot.
  uint32_t Store(QsValue* variable, const QsValue& value) const;
  uint32_t StoreInt(QsValue* variable, int32_t v) const;
  uint32_t StoreDouble(QsValue* variable, double v) const;
  uint32_t StoreString(QsValue* variable, const std::u16string& s) const;

  ScriptObject* next = nullptr;  // the class list of the module object
  ScriptObject* prev = nullptr;

 private:
  Module* module_;
  QsxInstance* instance_;
};

// Activities and connections: every property their engine object lists is a dynamic
// property of the script object, found and walked by that list.
class ListedObject : public ScriptObject {
 public:
  using ScriptObject::ScriptObject;
  uint32_t Lookup(const std::u16string& name, uint32_t* id, uint32_t* type) override;
  uint32_t WalkBegin() override;
  uint32_t WalkStep(QsValue* name, uint32_t* id) override;
  uint32_t WalkEnd() override;

 protected:
  // One step of the engine's property list: TWLIST_FIRST or TWLIST_NEXT.
  virtual uint32_t List(uint32_t direction, uint32_t* token, TWStream* name) = 0;

 private:
  bool walking_ = false;
  bool first_ = true;
};

class ActivityObject : public ListedObject {
 public:
  ActivityObject(Module* m, QsxInstance* in) : ListedObject(m, in, kActivity) {}
  ~ActivityObject() override;
  uint32_t Construct(int32_t flags, const TWStream* name);
  int32_t raiseExceptions = 1;
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;
  // The first added property's token is RaiseExceptions' id: a call that carries the type
  // look-up answered reaches the property, not the flag.
  uint32_t GetToken(uint32_t token, QsValue* out);
  uint32_t SetToken(uint32_t token, const QsValue* in);

 protected:
  uint32_t List(uint32_t direction, uint32_t* token, TWStream* name) override;
};

class ConnectObject : public ListedObject {
 public:
  ConnectObject(Module* m, QsxInstance* in) : ListedObject(m, in, kConnect) {}
  ~ConnectObject() override;
  TWCONNECT handle = TWNULLHANDLE;
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;

 protected:
  uint32_t List(uint32_t direction, uint32_t* token, TWStream* name) override;
};

class FieldListObject : public ScriptObject {
 public:
  FieldListObject(Module* m, QsxInstance* in) : ScriptObject(m, in, kFieldList) {}
  ~FieldListObject() override;
  TWFIELDLIST handle = TWNULLHANDLE;
  int32_t valueIndex = 1;
  // Fields that show one of this list's fields: they lose their value when the list's
  // handle goes, so that none of them reaches freed storage.
  std::vector<FieldObject*> borrowers;
  // Frees the handle (when held) and clears the borrowers.
  void Release();
  // Takes a new handle, releasing the old one.
  void Adopt(TWFIELDLIST list);
  void Lend(FieldObject* field);
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;
  uint32_t Lookup(const std::u16string& name, uint32_t* id, uint32_t* type) override;
  uint32_t WalkBegin() override;
  uint32_t WalkStep(QsValue* name, uint32_t* id) override;
  uint32_t WalkEnd() override;
};

class FieldObject : public ScriptObject {
 public:
  FieldObject(Module* m, QsxInstance* in) : ScriptObject(m, in, kField) {}
  ~FieldObject() override;
  TWFIELD handle = TWNULLHANDLE;
  int32_t valueIndex = 1;
  bool borrowed = true;
  FieldListObject* lender = nullptr;
  // Drops what the field holds (freeing an owned handle) and becomes an empty borrower.
  void Drop();
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;
};

class StreamObject : public ScriptObject {
 public:
  StreamObject(Module* m, QsxInstance* in);
  ~StreamObject() override;
  TWStream value{};
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;
};

// The classes that hold a value record: currency, numeric, date-time and its parts. Each
// defines its own properties.
template <uint16_t Cls, class Value>
class ValueObject : public ScriptObject {
 public:
  ValueObject(Module* m, QsxInstance* in) : ScriptObject(m, in, Cls) { held = true; }
  Value value{};
  uint32_t Get(uint32_t id, QsValue* out) override;
  uint32_t Set(uint32_t id, const QsValue* in) override;
};
using CurrencyObject = ValueObject<kCurrency, TWCurrency>;
using NumericObject = ValueObject<kNumeric, TWNumeric>;
using DatetimeObject = ValueObject<kDatetime, TWDatetime>;
using PartsObject = ValueObject<kDatetimeParts, TWDatetimeParts>;

// The module object of one script instance: the kept text and the live objects by class.
class Module : public ScriptObject {
 public:
  Module(QsxInstance* instance, const std::u16string& text);
  ~Module() override;
  std::array<ScriptObject*, kClassCount + 1> heads{};  // index by class number
  ActivityObject* activity() const { return static_cast<ActivityObject*>(heads[kActivity]); }
  void Link(ScriptObject* object);
  void Unlink(ScriptObject* object);
  Module* chainNext = nullptr;
};

// The newest module object of an instance, or null.
Module* FindModule(QsxInstance* instance);

// Values of the host.
const QsValue* Deref(const QsValue* v);
bool ToInt(const QsValue* v, int32_t* out);
bool ToDouble(const QsValue* v, double* out);
// Script text as engine text of a string value (format 0xA0) or a TWStream object; the
// record only refers to the value's data. False for any other value.
bool ToText(const QsValue* v, TWStream* out);
std::u16string StreamText(const TWStream& s);  // any text stream as two-byte text
ScriptObject* ObjectOf(const QsValue* v);

// Script dates: days since 30 December 1899 with the time of day as the fraction.
[[nodiscard]] uint32_t ScriptDateToDatetime(double date, TWDatetime* out);
[[nodiscard]] uint32_t DatetimeToScriptDate(const TWDatetime& value, double* out);

// Creates an object of cls for the host (class control 257), constructed from args.
[[nodiscard]] uint32_t CreateObject(Module* module, QsxInstance* instance, uint16_t cls,
                                    QsxCall* call, ScriptObject** out);
ScriptObject* NewObject(Module* module, QsxInstance* instance, uint16_t cls);
void DeleteObject(ScriptObject* object);

// Calls method id of object with the call record's arguments (class control 265).
[[nodiscard]] uint32_t CallMethod(ScriptObject* object, QsxCall* call);

// The arguments of New for cls: two integers and a text, as its row declares them.
[[nodiscard]] uint32_t ConstructArgs(uint16_t cls, const QsxCall* call, int32_t* i0, int32_t* i1,
                                     TWStream* text, bool* hasText);

// The registration tables.
const QsxClassDescriptor* Descriptor(uint16_t cls);
extern const QsxClassId kClassIds[kClassCount + 1];
extern const uint8_t kInterfaceId[16];
extern const QsxObjectTable kObjectTable;

}  // namespace scriptbind

#endif  // TW_SCRIPTBIND_SCRIPTBIND_H_
