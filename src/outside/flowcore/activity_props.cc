// The current activity's properties: reading by token (its own values, the link-1 alias,
// its links' descriptions), adding by name, setting with persistence, and the walk.
#include <cstring>
#include <string>
#include <utility>

#include "activity.h"
#include "activity_state.h"
#include "csmgr_records.h"
#include "field_impl.h"
#include "plugin.h"
#include "scalar_types.h"
#include "tw/guard.h"

namespace tw::engine::act {
namespace {

constexpr uint32_t kMaxAdded = TWTOKENF_RESERVED - 1;

bool IsLinkByte(uint32_t token, uint32_t link) {
  return (token >> 24) == link;
}

const TWXPropertyDef* TableOf(const Activity& a) {
  return a.plugin ? IdentityOf(*a.plugin).properties : nullptr;
}

bool InTable(const Activity& a, uint32_t token) {
  const TWXPropertyDef* row = TableOf(a);
  for (; row != nullptr && row->token != 0; ++row)
    if (row->token == token) return true;
  return false;
}

// Whether name, its ASCII letters folded to lower case, is folded.
bool FoldedEquals(std::string_view name, std::string_view folded) {
  if (name.size() != folded.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != folded[i]) return false;
  }
  return true;
}

const Property* InDescription(const Description& d, uint32_t token) {
  for (const Property& p : d)
    if (p.token == token) return &p;
  return nullptr;
}

// The exact token's own value; *hidden when a null value was set this run.
const TWFieldImpl* Exact(const Activity& a, uint32_t token, bool* hidden) {
  if (auto it = a.set.find(token); it != a.set.end()) {
    if (!it->second) *hidden = true;
    return it->second.get();
  }
  if (const Added* added = FindAdded(const_cast<Activity&>(a), token)) {
    if (added->store != TWPROPSTORE_SYSTEM) return added->value.get();
    auto it = SystemStore().find(Folded(added->name));
    return it == SystemStore().end() ? nullptr : it->second.get();
  }
  const Property* p = InDescription(a.description, token);
  return p ? p->value.get() : nullptr;
}

// Finds the value of token (own, alias, link description, link options) and hands it to
// use; TWFAIL_MISSING_PROPERTY when there is none.
template <class F>
[[nodiscard]] uint32_t WithValue(uint32_t token, F&& use) {
  {
    std::lock_guard lock(Mutex());
    if (!Current()) return TWFAIL_ACTIVITY_NOT_INIT;
    if (const TWFieldImpl* f = OwnValue(*Current(), token)) return use(const_cast<TWFieldImpl*>(f));
  }
  uint32_t link = token >> 24;
  if (link == 0 || link == 0xFF) return TWFAIL_MISSING_PROPERTY;
  uint32_t own = token & TWTOKEN_VALUE_MASK;
  for (const Description* d : {LinkDescription(link, nullptr), LinkOptions(link, nullptr)}) {
    if (d == nullptr) continue;
    if (const Property* p = InDescription(*d, own); p && p->value) return use(p->value.get());
  }
  return TWFAIL_MISSING_PROPERTY;
}

// A one-value copy of value 1 of src with its formats; null when that value is null.
[[nodiscard]] uint32_t CopyValue(TWFIELD src, FieldPtr* out) {
  if (!twfc::FieldOk(src)) return TWFAIL_INVALID_FIELD;
  uint32_t type = TWFieldGetType(src);
  if (type == TWTYPE_INVALID) return TWFAIL_INVALID_TYPE;
  if (TWFieldGetValueCount(src) == 0) return TWFAIL_RECORD_INDEX;
  if (TWFieldIsNull(src, 1)) {
    out->reset();
    return TWSUCCESS;
  }
  FieldPtr copy;
  if (uint32_t st = TWFieldAlloc(flowcore::Out(copy), type, 1)) return st;
  TWFIELD raw = copy.get();
  uint32_t flags = 0, size = 0, precision = 0, maxLength = 0, format = 0;
  int32_t scale = 0;
  if (type == TWTYPE_TEXT || type == TWTYPE_BINARY) {
    TWFieldGetFormatStream(src, &flags, &maxLength, &format);
    TWFieldSetFormatStream(raw, 0, 0, format);
  } else if (type == TWTYPE_DATETIME) {
    TWFieldGetFormatDatetime(src, &flags, &size);
    TWFieldSetFormatDatetime(raw, flags, size);
  } else if (type != TWTYPE_INT) {
    TWFieldGetFormatNumber(src, &flags, &size, &precision, &scale);
    TWFieldSetFormatNumber(raw, flags, size, precision, scale);
  }
  if (uint32_t st = TWFieldConvert(raw, 1, src, 1, 1)) return st;
  *out = std::move(copy);
  return TWSUCCESS;
}

bool IsTextList(const TWFieldImpl* f) {
  uint32_t flags = 0, maxLength = 0, format = 0;
  TWFieldGetFormatStream(const_cast<TWFieldImpl*>(f), &flags, &maxLength, &format);
  return TWFieldGetType(const_cast<TWFieldImpl*>(f)) == TWTYPE_BINARY &&
         format == TWSTREAMFMT_TEXT_LIST;
}

// Text of a one-value field for a static property's item.
[[nodiscard]] uint32_t FieldText(TWFIELD f, std::string* out) {
  flowcore::StreamData text;
  uint32_t st = TWFieldGetStream(f, 1, TWSTREAMFMT_QMBCS, text.get(), nullptr);
  if (st == TWSUCCESS) *out = text.view();
  return st;
}

// Stores value (null: takes the value away) for token and keeps it where the token's kind
// says; the value is set for this run whatever the control store answers.
[[nodiscard]] uint32_t Store(Activity& a, uint32_t token, FieldPtr value) {
  if (Added* added = FindAdded(a, token)) {
    switch (added->store) {
      case TWPROPSTORE_SYSTEM:
        if (value)
          SystemStore()[Folded(added->name)] = std::move(value);
        else
          SystemStore().erase(Folded(added->name));
        return TWSUCCESS;
      case TWPROPSTORE_STATIC: {
        added->value = std::move(value);
        if (!added->value) return TWSUCCESS;
        std::string text;
        if (uint32_t st = FieldText(added->value.get(), &text)) return st;
        TWStream item{0, 0, TWSTREAMFMT_QMBCS, static_cast<uint32_t>(text.size()), text.data()};
        return CSMgrPutField(a.handle, added->name.c_str(), &item);
      }
      default:
        added->value = std::move(value);
        return TWSUCCESS;
    }
  }
  bool keep = a.hasDocument && value && !IsTextList(value.get()) &&
              (InDescription(a.description, token) != nullptr || InTable(a, token));
  std::string records;
  uint32_t encoded = keep ? EncodeProperty(token, value.get(), &records) : TWSUCCESS;
  a.set[token] = std::move(value);
  if (!keep) return TWSUCCESS;
  if (encoded != TWSUCCESS) return encoded;
  AppendEndRecord(&records);
  TWStream blob{0, 0, TWSTREAMFMT_BLOB, static_cast<uint32_t>(records.size()), records.data()};
  return CSMgrPutDescription(a.handle, &blob);
}

[[nodiscard]] uint32_t SetValue(uint32_t token, FieldPtr value) {
  std::lock_guard lock(Mutex());
  if (!Current()) return TWFAIL_ACTIVITY_NOT_INIT;
  return Store(*Current(), token, std::move(value));
}

// A one-value field of type holding *src (null src: a null value).
template <class T>
[[nodiscard]] uint32_t SetTyped(uint32_t token, uint32_t type, const T* src,
                                uint32_t (*set)(TWFIELD, uint32_t, const T*)) {
  if (!SystemStarted()) return TWFAIL_TWXINIT;
  FieldPtr value;
  if (src != nullptr) {
    if (uint32_t st = TWFieldAlloc(flowcore::Out(value), type, 1)) return st;
    if (uint32_t st = set(value.get(), 1, src)) return st;
  }
  return SetValue(token, std::move(value));
}

template <class T>
[[nodiscard]] uint32_t GetTyped(uint32_t token, T* dest,
                                uint32_t (*get)(TWFIELD, uint32_t, T*, int32_t*)) {
  if (!SystemStarted()) return TWFAIL_TWXINIT;
  if (dest == nullptr) return TWFAIL_NULL_RESULT;
  return WithValue(token, [&](TWFIELD f) -> uint32_t {
    T value{};
    int32_t isNull = 0;
    if (uint32_t st = get(f, 1, &value, &isNull)) return st;
    if (isNull) return TWFAIL_MISSING_PROPERTY;
    *dest = value;
    return TWSUCCESS;
  });
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// 1, 0, or -1 for a text that is neither.
int BooleanText(std::string_view text) {
  static constexpr std::string_view kTrue[] = {"1", "y", "yes", "t", "true", "on"};
  static constexpr std::string_view kFalse[] = {"", "0", "n", "no", "f", "false", "off"};
  std::string folded = Folded(Trimmed(text));
  for (std::string_view word : kTrue)
    if (folded == word) return 1;
  for (std::string_view word : kFalse)
    if (folded == word) return 0;
  return -1;
}

}  // namespace

Added* FindAdded(Activity& a, uint32_t token) {
  if ((token & TWTOKEN_LINK_MASK) != 0 || (token & TWTOKENF_RESERVED) == 0) return nullptr;
  uint32_t n = token & ~static_cast<uint32_t>(TWTOKENF_RESERVED);
  if (n == 0 || n > a.added.size()) return nullptr;
  return &a.added[n - 1];
}

const TWFieldImpl* OwnValue(const Activity& a, uint32_t token) {
  bool hidden = false;
  if (const TWFieldImpl* f = Exact(a, token, &hidden)) return f;
  if (IsLinkByte(token, 1) && (token & TWTOKEN_CONTROL) != 0)
    return Exact(a, token & TWTOKEN_VALUE_MASK, &hidden);
  return nullptr;
}

}  // namespace tw::engine::act

using namespace tw::engine;
using namespace tw::engine::act;

extern "C" {

TW_API uint32_t TWActivityAddProperty(const TWStream* name, uint32_t store, uint32_t* token) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (token == nullptr) return TWFAIL_NULL_RESULT;
    if (store != TWPROPSTORE_STATIC && store != TWPROPSTORE_DYNAMIC && store != TWPROPSTORE_SYSTEM)
      return TWFAIL_INVALID_FLAGS;
    std::string text;
    if (uint32_t st = StreamText(name, &text)) return st;
    std::string folded = Folded(text);
    std::lock_guard lock(Mutex());
    Activity* a = Current().get();
    if (a == nullptr) return TWFAIL_ACTIVITY_NOT_INIT;
    for (const TWXPropertyDef* row = TableOf(*a); row != nullptr && row->token != 0; ++row) {
      if (row->name != nullptr && FoldedEquals(row->name, folded)) {
        *token = row->token;
        return TWSUCCESS;
      }
    }
    if (auto it = a->addedByName.find(folded); it != a->addedByName.end()) {
      *token = a->added[it->second].token;
      return TWSUCCESS;
    }
    if (store == TWPROPSTORE_STATIC && !a->hasDocument) return TWFAIL_STATIC_PROPERTY;
    if (a->added.size() >= kMaxAdded) return TWFAIL_UNAVAILABLE;
    Added added;
    added.name = std::move(text);
    added.store = store;
    added.token = TWTOKENF_RESERVED | static_cast<uint32_t>(a->added.size() + 1);
    if (store == TWPROPSTORE_STATIC) {
      flowcore::StreamData item;
      uint32_t st = CSMgrGetField(a->handle, added.name.c_str(), item.get());
      if (st == TWSUCCESS) {
        st = TWFieldAlloc(flowcore::Out(added.value), TWTYPE_TEXT, 1);
        if (st == TWSUCCESS) st = TWFieldSetStream(added.value.get(), 1, item.get());
      } else if (st == TWFAIL_ACTIVITY_ITEM) {
        st = TWSUCCESS;
      }
      if (st != TWSUCCESS) return st;
    }
    const uint32_t made = added.token;
    a->added.push_back(std::move(added));
    try {
      a->addedByName.emplace(std::move(folded), a->added.size() - 1);
    } catch (...) {
      a->added.pop_back();
      throw;
    }
    *token = made;
    return TWSUCCESS;
  });
}

TW_API uint32_t TWActivityGetProperty(uint32_t token, TWFIELD dest) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (!twfc::FieldOk(dest)) return TWFAIL_INVALID_FIELD;
    return WithValue(token, [&](TWFIELD f) { return TWFieldConvert(dest, 1, f, 1, 1); });
  });
}

TW_API int32_t TWActivityGetPropertyBoolean(uint32_t token, int32_t defaultValue) {
  return tw::guard_value(defaultValue, [&]() -> int32_t {
    if (!SystemStarted()) return defaultValue;
    int32_t answer = defaultValue;
    // A property that cannot be read leaves the default standing.
    (void)WithValue(token, [&](TWFIELD f) -> uint32_t {
      if (TWFieldIsNull(f, 1)) return TWSUCCESS;
      if (TWFieldGetType(f) == TWTYPE_INT) {
        int32_t v = 0;
        if (TWFieldGetInt(f, 1, &v, nullptr) == TWSUCCESS) answer = v != 0 ? 1 : 0;
      } else if (TWFieldGetType(f) == TWTYPE_TEXT) {
        std::string text;
        if (FieldText(f, &text) == TWSUCCESS) {
          int b = BooleanText(text);
          if (b >= 0) answer = b;
        }
      }
      return TWSUCCESS;
    });
    return answer;
  });
}

// TWActivityGetPropertyInt, TWActivitySetPropertyInt, ... TWActivitySetPropertyDatetime.
#define TW_ACTIVITY_TYPED(Name, T, type)                                             \
  TW_API uint32_t TWActivityGetProperty##Name(uint32_t token, T* dest) {             \
    return tw::guard([&] { return GetTyped(token, dest, &TWFieldGet##Name); });      \
  }                                                                                  \
  TW_API uint32_t TWActivitySetProperty##Name(uint32_t token, const T* src) {        \
    return tw::guard([&] { return SetTyped(token, type, src, &TWFieldSet##Name); }); \
  }
TW_SCALAR_TYPES(TW_ACTIVITY_TYPED)
#undef TW_ACTIVITY_TYPED

TW_API uint32_t TWActivityGetPropertyStream(uint32_t token, uint32_t format, TWStream* dest) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    uint32_t want = format != 0 ? format : TWSTREAMFMT_NATIVE;
    return WithValue(token, [&](TWFIELD f) -> uint32_t {
      if (TWFieldIsNull(f, 1)) return TWFAIL_MISSING_PROPERTY;
      if (IsTextList(f) && want != TWSTREAMFMT_TEXT_LIST && want != TWSTREAMFMT_BLOB) {
        // A list read as text gives its first entry, however many it holds.
        flowcore::StreamData list;
        uint32_t st = TWFieldGetStream(f, 1, 0, list.get(), nullptr);
        if (st == TWSUCCESS)
          st = TWTextListGetCount(list.get()) == 0
                   ? TWFAIL_MISSING_PROPERTY
                   : TWTextListFetch(list.get(), 1, want, dest, nullptr, nullptr);
        return st;
      }
      return TWFieldGetStream(f, 1, want, dest, nullptr);
    });
  });
}

TW_API uint32_t TWActivitySetProperty(uint32_t token, TWFIELD src) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    FieldPtr value;
    if (uint32_t st = CopyValue(src, &value)) return st;
    return SetValue(token, std::move(value));
  });
}

TW_API uint32_t TWActivitySetPropertyStream(uint32_t token, const TWStream* src) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    FieldPtr value;
    if (src != nullptr) {
      bool binary = (src->format & 0x40000000u) != 0;
      if (uint32_t st = TWFieldAlloc(flowcore::Out(value), binary ? TWTYPE_BINARY : TWTYPE_TEXT, 1))
        return st;
      if (binary) TWFieldSetFormatStream(value.get(), 0, 0, src->format);
      if (uint32_t st = TWFieldSetStream(value.get(), 1, src)) return st;
    }
    return SetValue(token, std::move(value));
  });
}

TW_API uint32_t TWActivityListProperty(uint32_t list, uint32_t* token, uint32_t* type,
                                       uint32_t* flags, TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (list != TWLIST_FIRST && list != TWLIST_NEXT) return TWFAIL_INVALID_LIST;
    uint32_t t = 0;
    uint32_t fieldType = TWTYPE_TEXT;
    uint32_t fieldStore = TWPROPSTORE_STATIC;
    std::string fieldName;
    const Plugin* plugin = nullptr;
    bool added = false;
    {
      std::lock_guard lock(Mutex());
      Activity* a = Current().get();
      if (a == nullptr) return TWFAIL_ACTIVITY_NOT_INIT;
      if (list == TWLIST_FIRST) {
        a->walk.clear();
        for (const TWXPropertyDef* row = TableOf(*a); row != nullptr && row->token != 0; ++row)
          a->walk.push_back(row->token);
        for (const Property& p : a->description)
          if (!InTable(*a, p.token)) a->walk.push_back(p.token);
        for (const Added& ad : a->added) a->walk.push_back(ad.token);
        a->walkNext = 0;
        a->walking = true;
      } else if (!a->walking) {
        return TWFAIL_LIST_SETUP;
      }
      if (a->walkNext >= a->walk.size()) return TWFAIL_END_OF_DATA;
      t = a->walk[a->walkNext++];
      plugin = a->plugin;
      bool hidden = false;
      const TWFieldImpl* value = Exact(*a, t, &hidden);
      if (value != nullptr) fieldType = TWFieldGetType(const_cast<TWFieldImpl*>(value));
      for (const TWXPropertyDef* row = TableOf(*a); row != nullptr && row->token != 0; ++row)
        if (row->token == t) fieldType = row->type;
      if (const Added* ad = FindAdded(*a, t)) {
        added = true;
        fieldStore = ad->store;
        fieldName = ad->name;
      }
    }
    // Named outside the lock: the plug-in registry has a lock of its own.
    if (!added) fieldName = PropertyName(plugin, t);
    if (name != nullptr)
      if (uint32_t st = PutText(name, fieldName)) return st;
    if (token != nullptr) *token = t;
    if (type != nullptr) *type = fieldType;
    if (flags != nullptr) *flags = fieldStore;
    return TWSUCCESS;
  });
}

}  // extern "C"
