// The host side of the extension interface: loading the extension, the instance record and
// its slots, host values and the object calls.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>

#include "platform.h"
#include "qshost.h"
#include "twstatus.h"

namespace qshost {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameName(const std::string& a, const std::string& b) {
  return Lower(a) == Lower(b);
}

Instance* Of(QsxInstance* record) {
  return static_cast<Instance*>(record->host);
}

}  // namespace

std::u16string Widen(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0xFFFD;
    size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < utf8.size()) {
      cp = (c & 0x1Fu) << 6 | (utf8[i + 1] & 0x3F);
      n = 2;
    } else if ((c >> 4) == 14 && i + 2 < utf8.size()) {
      cp = (c & 0x0Fu) << 12 | (utf8[i + 1] & 0x3F) << 6 | (utf8[i + 2] & 0x3F);
      n = 3;
    } else if ((c >> 3) == 30 && i + 3 < utf8.size()) {
      cp = (c & 0x07u) << 18 | (utf8[i + 1] & 0x3F) << 12 | (utf8[i + 2] & 0x3F) << 6 |
           (utf8[i + 3] & 0x3F);
      n = 4;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | cp >> 6));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | cp >> 12));
      out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | cp >> 18));
      out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// ---------------------------------------------------------------- the extension ----------

uint32_t Extension::Load(const std::string& path, std::unique_ptr<Extension>* out,
                         std::string* error) {
  std::string file = path;
  if (file.empty()) {
    char buffer[1024] = {};
    if (TWRegistryGetString(kRegistryKey, kRegistryValue, buffer, sizeof buffer) != TWSUCCESS ||
        buffer[0] == '\0') {
      *error = std::string("no script extension is registered (") + kRegistryKey + " " +
               kRegistryValue + ")";
      return TWFAIL_UNAVAILABLE;
    }
    file = buffer;
  }
  std::unique_ptr<Extension> ext(new Extension());
  ext->library_ = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (ext->library_ == nullptr) {
    const char* why = ::dlerror();
    *error = "cannot load " + file + ": " + (why ? why : "unknown");
    return TWFAIL_UNAVAILABLE;
  }
  auto entry = reinterpret_cast<QsxMainEntryFn>(::dlsym(ext->library_, "MainEntryPoint"));
  ext->classControl_ =
      reinterpret_cast<QsxClassControlFn>(::dlsym(ext->library_, "QSXClassControl"));
  if (entry == nullptr || ext->classControl_ == nullptr) {
    *error = file + " is not a script extension";
    return TWFAIL_UNAVAILABLE;
  }
  QsxEntryRecord record{};
  entry(&record, 0);
  ext->msgProc_ = reinterpret_cast<QsxMsgProcFn>(record.msgProc);
  ext->version_ = record.version;
  if (ext->msgProc_ == nullptr || (record.version >> 16) != (QSX_VERSION >> 16)) {
    *error = file + " reports another interface version";
    return TWFAIL_UNAVAILABLE;
  }
  *out = std::move(ext);
  return TWSUCCESS;
}

Extension::~Extension() {
  if (library_ != nullptr) ::dlclose(library_);
}

void* Extension::Symbol(const char* name) const {
  return ::dlsym(library_, name);
}

// ---------------------------------------------------------------- registrations ----------

template <class Row>
const Row* ByName(const std::vector<Row>& rows, const std::string& name) {
  for (const Row& r : rows)
    if (SameName(r.name, name)) return &r;
  return nullptr;
}

const MethodInfo* ClassInfo::Method(const std::string& n) const {
  return ByName(methods, n);
}
const PropertyInfo* ClassInfo::Property(const std::string& n) const {
  return ByName(properties, n);
}
const ClassInfo* Instance::Class(const std::string& name) const {
  return ByName(classes, name);
}
const ConstantInfo* Instance::Constant(const std::string& name) const {
  return ByName(constants, name);
}
const FunctionInfo* Instance::Function(const std::string& name) const {
  return ByName(functions, name);
}
const ClassInfo* Instance::ClassOf(const QsxObject* object) const {
  if (object == nullptr) return nullptr;
  for (const ClassInfo& c : classes)
    if (c.classNumber == object->classNumber) return &c;
  return nullptr;
}

uint32_t Instance::Answer(const std::string& name, bool known) {
  (void)name;
  ++registrations;
  if (answer) return answer(registrations);
  return known ? QSX_EXISTS : QSX_OK;
}

uint32_t Instance::RegisterClassSlot(QsxInstance* self, const char* keptText,
                                     const char* controlName, const QsxClassId* ids,
                                     const QsxClassDescriptor* cls) {
  Instance* in = Of(self);
  if (cls == nullptr || cls->name == nullptr) return QSX_NO_OBJECT;
  const uint32_t st = in->Answer(cls->name, in->Class(cls->name) != nullptr);
  if (st != QSX_OK) return st;
  ClassInfo info;
  info.name = cls->name;
  info.classNumber = cls->classNumber;
  info.keptText = keptText ? keptText : "";
  info.controlName = controlName ? controlName : "";
  if (ids != nullptr && cls->classNumber < 16)
    info.id.assign(ids[cls->classNumber], ids[cls->classNumber] + 16);
  for (uint32_t i = 0; i < cls->propertyCount; ++i)
    info.properties.push_back(
        {cls->properties[i].name, cls->properties[i].id, cls->properties[i].type});
  for (uint32_t i = 0; i < cls->methodCount; ++i) {
    const QsxMethodRow& r = cls->methods[i];
    MethodInfo m;
    m.name = r.name;
    m.id = r.id;
    m.count = r.count;
    m.reference = r.reference;
    const uint32_t entries = r.count & 0xFFFF;
    m.types.assign(r.types, r.types + entries + 1);
    for (uint32_t a = 0; a + 1 < entries; ++a) m.argNames.push_back(r.argNames[a]);
    info.methods.push_back(std::move(m));
  }
  in->classes.push_back(std::move(info));
  return QSX_OK;
}

uint32_t Instance::RegisterFunctionSlot(QsxInstance* self, uint32_t index, const char* keptText,
                                        const QsxFunctionRow* function, const QsxClassId* ids) {
  (void)keptText;
  (void)ids;
  Instance* in = Of(self);
  if (function == nullptr || function->name == nullptr) return QSX_NO_OBJECT;
  const uint32_t st = in->Answer(function->name, in->Function(function->name) != nullptr);
  if (st != QSX_OK) return st;
  in->functions.push_back(
      {index, function->name, function->resultType, function->argType, function->reference});
  return QSX_OK;
}

uint32_t Instance::RegisterConstantSlot(QsxInstance* self, const char* name, const QsValue* value) {
  Instance* in = Of(self);
  if (name == nullptr || value == nullptr) return QSX_NO_OBJECT;
  const uint32_t st = in->Answer(name, in->Constant(name) != nullptr);
  if (st != QSX_OK) return st;
  in->constants.push_back({name, *value});
  return QSX_OK;
}

uint32_t Instance::StoreSlot(QsxInstance* self, QsValue* variable, const QsValue* value) {
  if (variable == nullptr || value == nullptr) return QSX_NO_OBJECT;
  Of(self)->Store(variable, *value);
  return QSX_OK;
}

void Instance::RaiseSlot(QsxInstance* self, uint32_t status, const uint16_t* text) {
  Instance* in = Of(self);
  in->raised = true;
  in->errorStatus = status;
  in->errorText.clear();
  // The error text is at most 255 units long: read no further whatever the extension sent.
  for (size_t i = 0; text != nullptr && i < 255 && text[i] != 0; ++i)
    in->errorText.push_back(static_cast<char16_t>(text[i]));
}

// ---------------------------------------------------------------- values ----------------

QsValue IntValue(int32_t v) {
  QsValue out{};
  out.kind = QSV_INT;
  out.u.i = v;
  return out;
}
QsValue DoubleValue(double v) {
  QsValue out{};
  out.kind = QSV_DOUBLE;
  out.u.d = v;
  return out;
}
QsValue StringValue(const std::u16string& s) {
  QsValue out{};
  out.kind = QSV_STRING;
  out.length = static_cast<uint32_t>(s.size());
  auto* copy = new uint16_t[s.size() + 1];
  std::memcpy(copy, s.data(), s.size() * 2);
  copy[s.size()] = 0;
  out.u.s = copy;
  return out;
}
QsValue RefValue(QsValue* variable) {
  QsValue out{};
  out.kind = QSV_REF;
  out.u.ref = variable;
  return out;
}
QsValue ObjectValue(QsxObject* object) {
  QsValue out{};
  out.kind = object ? QSV_OBJECT : QSV_EMPTY;
  out.u.obj = object;
  return out;
}

void Instance::Clear(QsValue& value) {
  if (value.kind == QSV_STRING) delete[] value.u.s;
  if (value.kind == QSV_OBJECT && value.u.obj != nullptr) Release(value.u.obj);
  value = QsValue{};
}

void Instance::Store(QsValue* variable, const QsValue& value) {
  while (variable->kind == QSV_REF) variable = variable->u.ref;
  QsValue copy = value;
  if (value.kind == QSV_STRING) {
    copy = StringValue(std::u16string(reinterpret_cast<const char16_t*>(value.u.s), value.length));
  }
  // An object stored over itself keeps the reference it had; the new one is dropped.
  if (value.kind == QSV_OBJECT && variable->kind == QSV_OBJECT && variable->u.obj == value.u.obj) {
    Release(value.u.obj);
    return;
  }
  Clear(*variable);
  *variable = copy;
}

QsValue* Instance::Variable(const std::string& name) {
  std::unique_ptr<QsValue>& v = variables_[Lower(name)];
  if (!v) v = std::make_unique<QsValue>();
  return v.get();
}

const QsValue* Instance::FindVariable(const std::string& name) const {
  auto it = variables_.find(Lower(name));
  return it == variables_.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- the instance ----------

Instance::Instance(const Extension& extension, std::string text)
    : extension_(extension), text_(std::move(text)) {
  record_.text = text_.c_str();
  record_.registerClass = RegisterClassSlot;
  record_.registerFunction = RegisterFunctionSlot;
  record_.registerConstant = RegisterConstantSlot;
  record_.store = StoreSlot;
  record_.raise = RaiseSlot;
  record_.host = this;
}

Instance::~Instance() {
  End();
}

uint32_t Instance::Start() {
  if (extension_.Message(0, 8, 0) != 1) return QSX_NOT_ALLOWED;
  extension_.Message(11, reinterpret_cast<uintptr_t>(&record_), 0);
  extension_.Message(1, reinterpret_cast<uintptr_t>(&record_), 0);
  started_ = true;
  return static_cast<uint32_t>(extension_.Message(2, reinterpret_cast<uintptr_t>(&record_), 0));
}

void Instance::End() {
  for (auto& [name, value] : variables_) Clear(*value);
  variables_.clear();
  if (started_) extension_.Message(3, reinterpret_cast<uintptr_t>(&record_), 0);
  started_ = false;
}

uint32_t Instance::Control(uint32_t code, QsxCall& call) {
  return extension_.Control(&record_, code, &call);
}

uint32_t Instance::CreateById(const uint8_t id[16], std::vector<QsValue> args, QsxObject** out) {
  QsxCall call{};
  call.classId = id;
  call.argCount = static_cast<uint32_t>(args.size());
  call.args = args.data();
  const uint32_t st = Control(QSXC_CREATE, call);
  *out = call.object;
  return st;
}

uint32_t Instance::Create(const std::string& className, std::vector<QsValue> args,
                          QsxObject** out) {
  *out = nullptr;
  const ClassInfo* c = Class(className);
  if (c == nullptr || c->id.size() != 16) return QSX_NO_OBJECT;
  return CreateById(c->id.data(), std::move(args), out);
}

uint32_t Instance::Call(QsxObject* object, const std::string& method, std::vector<QsValue> args,
                        QsValue* result) {
  const ClassInfo* c = ClassOf(object);
  if (c == nullptr) return QSX_NO_OBJECT;
  const MethodInfo* m = c->Method(method);
  if (m == nullptr) return QSX_NO_METHOD;
  QsxCall call{};
  call.object = object;
  call.member = m->id;
  call.argCount = static_cast<uint32_t>(args.size());
  call.args = args.data();
  call.result = result;
  return Control(QSXC_CALL, call);
}

// Reads (code QSXC_GET) or writes a property by name: a declared one by its id, else one
// the object looks up.
uint32_t Instance::Property(uint32_t code, QsxObject* object, const std::string& name,
                            QsValue* value) {
  const ClassInfo* c = ClassOf(object);
  if (c == nullptr) return QSX_NO_OBJECT;
  QsxCall call{};
  call.object = object;
  call.result = value;
  if (const PropertyInfo* p = c->Property(name)) {
    call.member = p->id;
  } else {
    const std::u16string wide = Widen(name);
    call.name = reinterpret_cast<const uint16_t*>(wide.c_str());
    if (uint32_t st = Control(QSXC_LOOKUP, call)) return st;
    call.name = nullptr;
  }
  return Control(code, call);
}

uint32_t Instance::Get(QsxObject* object, const std::string& name, QsValue* out) {
  return Property(QSXC_GET, object, name, out);
}

uint32_t Instance::Set(QsxObject* object, const std::string& name, const QsValue& value) {
  QsValue in = value;
  return Property(QSXC_SET, object, name, &in);
}

uint32_t Instance::Walk(QsxObject* object, std::vector<std::pair<std::string, uint32_t>>* out) {
  QsxCall call{};
  call.object = object;
  if (uint32_t st = Control(QSXC_WALK_BEGIN, call)) return st;
  uint32_t st = QSX_OK;
  for (;;) {
    QsValue name{};
    call.result = &name;
    st = Control(QSXC_WALK_STEP, call);
    if (st == QSX_OK && name.kind == QSV_STRING)
      out->emplace_back(
          Narrow(std::u16string(reinterpret_cast<const char16_t*>(name.u.s), name.length)),
          call.member);
    Clear(name);
    if (st != QSX_OK) break;
  }
  call.result = nullptr;
  // The walk's answer is the step that ended it; ending it cannot fail for a live object.
  (void)Control(QSXC_WALK_END, call);
  return st;
}

uint32_t Instance::Release(QsxObject* object) {
  QsxCall call{};
  call.object = object;
  return Control(QSXC_RELEASE, call);
}

uint32_t Instance::CallFunction(const std::string& name, const QsValue& arg, QsValue* result) {
  const FunctionInfo* f = Function(name);
  if (f == nullptr) return QSX_NO_METHOD;
  auto fn = reinterpret_cast<QsxFunctionFn>(extension_.Symbol(f->name.c_str()));
  if (fn == nullptr) return QSX_NO_METHOD;
  return fn(&record_, result, &arg);
}

}  // namespace qshost
