// qshost: a Quenscript host of our own. It loads a script extension (scriptbind.so), starts
// script instances with the messages a host sends, keeps what each instance registered, holds
// script variables as host values, and creates, calls, reads, writes, looks up and walks the
// extension's objects. qsrun's line language (qsrun.h) runs over it.
//
// Thread rules: an Extension may serve several instances; an Instance is driven by one
// thread at a time.
#ifndef TW_QSHOST_QSHOST_H_
#define TW_QSHOST_QSHOST_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qsx.h"

namespace qshost {

// The registry key and value under which the installer records the extension's path.
inline constexpr char kRegistryKey[] = "QuenscriptExtensions\\2.0";
inline constexpr char kRegistryValue[] = "SCRIPTBIND";

std::u16string Widen(const std::string& utf8);
std::string Narrow(const std::u16string& text);

// A loaded extension library.
class Extension {
 public:
  // Loads the library at path, or the one the registry names when path is empty. Answers
  // 0, or TWFAIL_UNAVAILABLE with *error saying why (no registry value, not loadable, an
  // export missing, a version the host does not know).
  [[nodiscard]] static uint32_t Load(const std::string& path, std::unique_ptr<Extension>* out,
                                     std::string* error);
  ~Extension();
  Extension(const Extension&) = delete;
  Extension& operator=(const Extension&) = delete;

  intptr_t Message(uint32_t message, uintptr_t arg1, uintptr_t arg2) const {
    return msgProc_(message, arg1, arg2);
  }
  uint32_t Control(QsxInstance* instance, uint32_t code, QsxCall* call) const {
    return classControl_(instance, code, call, 0);
  }
  // An export by name (the script functions), or null.
  void* Symbol(const char* name) const;
  uintptr_t version() const { return version_; }

 private:
  Extension() = default;
  void* library_ = nullptr;
  QsxMsgProcFn msgProc_ = nullptr;
  QsxClassControlFn classControl_ = nullptr;
  uintptr_t version_ = 0;
};

// What one instance registered, copied out of the extension's records.
struct MethodInfo {
  std::string name;
  uint32_t id = 0;
  std::vector<uint32_t> types;  // result, the object, then each argument
  std::vector<std::string> argNames;
  uint32_t count = 0;
  uint32_t reference = 0;
};
struct PropertyInfo {
  std::string name;
  uint32_t id = 0;
  uint32_t type = 0;
};
struct ClassInfo {
  std::string name;
  uint32_t classNumber = 0;
  std::string keptText;
  std::string controlName;
  std::vector<uint8_t> id;  // its sixteen-byte identifier
  std::vector<PropertyInfo> properties;
  std::vector<MethodInfo> methods;
  const MethodInfo* Method(const std::string& name) const;      // any case
  const PropertyInfo* Property(const std::string& name) const;  // any case
};
struct FunctionInfo {
  uint32_t index = 0;
  std::string name;
  uint32_t resultType = 0;
  uint32_t argType = 0;
  uint32_t reference = 0;
};
struct ConstantInfo {
  std::string name;
  QsValue value{};
};

// Host values: these make values the host owns; Clear gives back what one holds (a string's
// storage, an object's reference).
QsValue IntValue(int32_t v);
QsValue DoubleValue(double v);
QsValue StringValue(const std::u16string& s);
QsValue RefValue(QsValue* variable);
QsValue ObjectValue(QsxObject* object);  // no reference is added

// One script instance.
class Instance {
 public:
  Instance(const Extension& extension, std::string text = "Tarnway");
  // Releases the variables, then sends message 3.
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Messages 0, 11, 1 and 2 as a host sends them; answers message 2's status (QSX_EXISTS
  // counts as success), or QSX_NOT_ALLOWED when message 0 refuses the host.
  [[nodiscard]] uint32_t Start();
  // Message 3: every object of the instance goes.
  void End();

  // How the registration slots answer: called with the running count of registrations
  // (1 for the first); the default answers 0, or QSX_EXISTS for a name registered before.
  std::function<uint32_t(int)> answer;

  std::vector<ClassInfo> classes;  // in the order registered
  std::vector<FunctionInfo> functions;
  std::vector<ConstantInfo> constants;
  int registrations = 0;
  const ClassInfo* Class(const std::string& name) const;
  const ClassInfo* ClassOf(const QsxObject* object) const;
  const ConstantInfo* Constant(const std::string& name) const;
  const FunctionInfo* Function(const std::string& name) const;

  // Class control with the record given; the instance record is this instance's.
  [[nodiscard]] uint32_t Control(uint32_t code, QsxCall& call);
  // Creates an object of the class (QSXC_CREATE) into *out (null when none was made).
  [[nodiscard]] uint32_t Create(const std::string& className, std::vector<QsValue> args,
                                QsxObject** out);
  [[nodiscard]] uint32_t CreateById(const uint8_t id[16], std::vector<QsValue> args,
                                    QsxObject** out);
  // Calls a method by name; result receives its answer.
  [[nodiscard]] uint32_t Call(QsxObject* object, const std::string& method,
                              std::vector<QsValue> args, QsValue* result);
  // Reads or writes a property by name: a declared one, else a dynamic one by look-up.
  [[nodiscard]] uint32_t Get(QsxObject* object, const std::string& name, QsValue* out);
  [[nodiscard]] uint32_t Set(QsxObject* object, const std::string& name, const QsValue& value);
  // Walks the dynamic properties: each name and id; answers the status that ended the walk
  // (QSX_NOT_ALLOWED after the last), or the failure of the begin.
  [[nodiscard]] uint32_t Walk(QsxObject* object,
                              std::vector<std::pair<std::string, uint32_t>>* out);
  uint32_t Release(QsxObject* object);
  // Calls a registered script function.
  [[nodiscard]] uint32_t CallFunction(const std::string& name, const QsValue& arg, QsValue* result);

  // Stores into a variable as the extension's store slot does.
  void Store(QsValue* variable, const QsValue& value);
  // Gives back what a value holds and empties it.
  void Clear(QsValue& value);

  // Script variables by name (any case); their addresses stay.
  QsValue* Variable(const std::string& name);
  const QsValue* FindVariable(const std::string& name) const;

  // The last script error raised.
  bool raised = false;
  uint32_t errorStatus = 0;
  std::u16string errorText;
  void ClearError() {
    raised = false;
    errorStatus = 0;
    errorText.clear();
  }

  QsxInstance* record() { return &record_; }
  const Extension& extension() const { return extension_; }

 private:
  static uint32_t RegisterClassSlot(QsxInstance* self, const char* keptText,
                                    const char* controlName, const QsxClassId* ids,
                                    const QsxClassDescriptor* cls);
  static uint32_t RegisterFunctionSlot(QsxInstance* self, uint32_t index, const char* keptText,
                                       const QsxFunctionRow* function, const QsxClassId* ids);
  static uint32_t RegisterConstantSlot(QsxInstance* self, const char* name, const QsValue* value);
  static uint32_t StoreSlot(QsxInstance* self, QsValue* variable, const QsValue* value);
  static void RaiseSlot(QsxInstance* self, uint32_t status, const uint16_t* text);
  uint32_t Answer(const std::string& name, bool known);
  uint32_t Property(uint32_t code, QsxObject* object, const std::string& name, QsValue* value);

  const Extension& extension_;
  std::string text_;
  QsxInstance record_{};
  bool started_ = false;
  std::map<std::string, std::unique_ptr<QsValue>> variables_;  // by lower-case name
};

}  // namespace qshost

#endif  // TW_QSHOST_QSHOST_H_
