// Properties of a connection: the control tokens the engine answers itself, reads and
// writes that reach the connector's TWXGetProperty and TWXSetProperty without the link
// byte, the typed families built on them, and the walk of the connector's property table.
#include <cctype>
#include <string>

#include "activity.h"
#include "connect_impl.h"
#include "scalar_types.h"
#include "stream_internal.h"
#include "tw/guard.h"

namespace tw::engine {
namespace {

bool IsControl(uint32_t token) {
  return ((token & TWTOKEN_VALUE_MASK) & TWTOKENF_CONTROL) != 0;
}

[[nodiscard]] uint32_t IntField(int32_t value, FieldPtr* out) {
  FieldPtr field;
  if (uint32_t status = NewValueField(TWTYPE_INT, &field)) return status;
  if (uint32_t status = TWFieldSetInt(field.get(), 1, &value)) return status;
  *out = std::move(field);
  return 0;
}

[[nodiscard]] uint32_t TextField(const std::string& text, FieldPtr* out) {
  FieldPtr field;
  if (uint32_t status = NewValueField(TWTYPE_TEXT, &field)) return status;
  TWStream view = flowcore::ViewOf(TWSTREAMFMT_NATIVE,
                                   reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (uint32_t status = TWFieldSetStream(field.get(), 1, &view)) return status;
  *out = std::move(field);
  return 0;
}

// The value of a control token (without link byte) as the engine keeps it; a control token
// it does not know is an invalid property.
[[nodiscard]] uint32_t ControlValue(const Connection& c, uint32_t token, FieldPtr* out) {
  switch (token) {
    case TWTOKEN_LIBRARY:
      return TextField(c.library, out);
    case TWTOKEN_LINK:
      return IntField(c.linkId, out);
    case TWTOKEN_OPTION:
      return IntField(c.optionId, out);
    case TWTOKEN_NAME:
      return TextField(c.name, out);
    case TWTOKEN_LINK_CODE:
      return IntField(static_cast<int32_t>(c.connectCode & TWMASK_LINK_CODE), out);
    case TWTOKEN_CONNECT_CODE:
      return IntField(static_cast<int32_t>(c.connectCode), out);
    default:
      return TWFAIL_INVALID_PROPERTY;
  }
}

// The field type a connector's value of token is read through: its row's, else text.
uint32_t RowType(const Connection& c, uint32_t token) {
  const TWXPropertyDef* row = FindRow(*c.plugin, token & TWTOKEN_VALUE_MASK);
  return row != nullptr ? row->type : TWTYPE_TEXT;
}

// Reads token of c into *out, a new one-value field of type.
[[nodiscard]] uint32_t ReadProperty(Connection& c, uint32_t token, uint32_t type, FieldPtr* out) {
  const uint32_t bare = token & TWTOKEN_VALUE_MASK;
  FieldPtr field;
  if (uint32_t status = NewValueField(type, &field)) return status;
  if (IsControl(bare)) {
    FieldPtr value;
    uint32_t status = ControlValue(c, bare, &value);
    if (status == TWFAIL_INVALID_PROPERTY) return LogWithToken(status, token);
    if (status == 0) status = TWFieldConvert(field.get(), 1, value.get(), 1, 1);
    if (status != 0) return status;
  } else {
    EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_GET_PROPERTY);
    if (uint32_t status = c.plugin->entry.getProperty(c.context(), bare, field.get()))
      return status;
  }
  *out = std::move(field);
  return 0;
}

[[nodiscard]] uint32_t WriteProperty(Connection& c, uint32_t token, TWFIELD src) {
  const uint32_t bare = token & TWTOKEN_VALUE_MASK;
  if (IsControl(bare)) return LogWithToken(TWFAIL_INVALID_PROPERTY, token);
  FieldPtr nullValue;
  if (src == TWNULLHANDLE) {
    if (uint32_t status = NewValueField(RowType(c, bare), &nullValue)) return status;
    src = nullValue.get();
  }
  EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_SET_PROPERTY);
  return c.plugin->entry.setProperty(c.context(), bare, src);
}

template <class T>
[[nodiscard]] uint32_t GetTyped(TWCONNECT connect, uint32_t token, uint32_t type, T* dest,
                                uint32_t (*get)(TWFIELD, uint32_t, T*, int32_t*)) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    return WithConnection(connect, [&](Connection& c) -> uint32_t {
      FieldPtr field;
      if (uint32_t status = ReadProperty(c, token, type, &field)) return status;
      if (TWFieldIsNull(field.get(), 1)) return TWFAIL_MISSING_PROPERTY;
      T value{};
      if (uint32_t status = get(field.get(), 1, &value, nullptr)) return status;
      *dest = value;
      return 0;
    });
  });
}

// Builds a one-value field of type from *src (null: a null value) and writes it; set stores
// *src in the field.
template <class T, class Set>
[[nodiscard]] uint32_t SetTyped(TWCONNECT connect, uint32_t token, uint32_t type, const T* src,
                                Set&& set) {
  return tw::guard([&]() -> uint32_t {
    return WithConnection(connect, [&](Connection& c) -> uint32_t {
      FieldPtr field;
      if (uint32_t status = NewValueField(type, &field)) return status;
      if (src != nullptr) {
        if (uint32_t status = set(field.get(), src)) return status;
      }
      return WriteProperty(c, token, field.get());
    });
  });
}

// The words of a true and a false text, compared without case after trimming blanks.
int32_t BooleanOfText(std::string text, int32_t defaultValue) {
  const auto blank = [](unsigned char ch) { return std::isspace(ch) != 0; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  text.erase(0, start);
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (const char* word : {"1", "y", "yes", "t", "true", "on"})
    if (text == word) return 1;
  for (const char* word : {"0", "n", "no", "f", "false", "off", ""})
    if (text == word) return 0;
  return defaultValue;
}

}  // namespace
}  // namespace tw::engine

using namespace tw::engine;

extern "C" {

TW_API uint32_t TWConnectGetProperty(TWCONNECT connect, uint32_t token, TWFIELD dest) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == TWNULLHANDLE) return TWFAIL_INVALID_FIELD;
    return WithConnection(connect, [&](Connection& c) -> uint32_t {
      const uint32_t bare = token & TWTOKEN_VALUE_MASK;
      if (IsControl(bare)) {
        FieldPtr value;
        uint32_t status = ControlValue(c, bare, &value);
        if (status == TWFAIL_INVALID_PROPERTY) return LogWithToken(status, token);
        if (status != 0) return status;
        return TWFieldConvert(dest, 1, value.get(), 1, 1);
      }
      EntryScope scope(*c.plugin, c.name, TWMSG_FUNCTION_GET_PROPERTY);
      return c.plugin->entry.getProperty(c.context(), bare, dest);
    });
  });
}

TW_API int32_t TWConnectGetPropertyBoolean(TWCONNECT connect, uint32_t token,
                                           int32_t defaultValue) {
  return tw::guard_value<int32_t>(defaultValue, [&]() -> int32_t {
    if (!SystemStarted()) return defaultValue;
    Held c(connect);
    if (!c) return defaultValue;
    const uint32_t bare = token & TWTOKEN_VALUE_MASK;
    const uint32_t type = !IsControl(bare)                                  ? RowType(*c, bare)
                          : bare == TWTOKEN_LIBRARY || bare == TWTOKEN_NAME ? TWTYPE_TEXT
                                                                            : TWTYPE_INT;
    FieldPtr field;
    if (ReadProperty(*c, token, type, &field) != 0 || TWFieldIsNull(field.get(), 1))
      return defaultValue;
    if (type == TWTYPE_INT) {
      int32_t value = 0;
      if (TWFieldGetInt(field.get(), 1, &value, nullptr) != 0) return defaultValue;
      return value != 0 ? 1 : 0;
    }
    if (type != TWTYPE_TEXT) return defaultValue;
    return BooleanOfText(FieldText(field.get()), defaultValue);
  });
}

// TWConnectGetPropertyInt, TWConnectSetPropertyInt, ... TWConnectSetPropertyDatetime.
#define TW_CONNECT_TYPED(Name, T, type)                                                         \
  TW_API uint32_t TWConnectGetProperty##Name(TWCONNECT connect, uint32_t token, T* dest) {      \
    return GetTyped(connect, token, type, dest, &TWFieldGet##Name);                             \
  }                                                                                             \
  TW_API uint32_t TWConnectSetProperty##Name(TWCONNECT connect, uint32_t token, const T* src) { \
    return SetTyped(connect, token, type, src,                                                  \
                    [](TWFIELD f, const T* v) { return TWFieldSet##Name(f, 1, v); });           \
  }
TW_SCALAR_TYPES(TW_CONNECT_TYPED)
#undef TW_CONNECT_TYPED

TW_API uint32_t TWConnectGetPropertyStream(TWCONNECT connect, uint32_t token, uint32_t format,
                                           TWStream* dest) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    return WithConnection(connect, [&](Connection& c) -> uint32_t {
      const uint32_t bare = token & TWTOKEN_VALUE_MASK;
      // A list property is read whole; everything else through text.
      const uint32_t type =
          !IsControl(bare) && RowType(c, bare) == TWTYPE_BINARY ? TWTYPE_BINARY : TWTYPE_TEXT;
      FieldPtr field;
      if (uint32_t status = ReadProperty(c, token, type, &field)) return status;
      if (TWFieldIsNull(field.get(), 1)) return TWFAIL_MISSING_PROPERTY;
      return TWFieldGetStream(field.get(), 1, format != 0 ? format : TWSTREAMFMT_NATIVE, dest,
                              nullptr);
    });
  });
}

TW_API uint32_t TWConnectSetProperty(TWCONNECT connect, uint32_t token, TWFIELD src) {
  return tw::guard([&]() -> uint32_t {
    return WithConnection(connect,
                          [&](Connection& c) -> uint32_t { return WriteProperty(c, token, src); });
  });
}

// Binary values (text lists above all) travel in a binary field of their own format, text in
// a text field.
TW_API uint32_t TWConnectSetPropertyStream(TWCONNECT connect, uint32_t token, const TWStream* src) {
  const bool binary = src != nullptr && (src->format & TWSTREAMFMTF_BINARY) != 0;
  return SetTyped(connect, token, binary ? TWTYPE_BINARY : TWTYPE_TEXT, src,
                  [binary](TWFIELD f, const TWStream* v) {
                    if (binary) {
                      if (uint32_t st = TWFieldSetFormatStream(f, 0, 0, v->format)) return st;
                    }
                    return TWFieldSetStream(f, 1, v);
                  });
}

TW_API uint32_t TWConnectListProperty(TWCONNECT connect, uint32_t list, uint32_t* token,
                                      uint32_t* type, uint32_t* flags, TWStream* name) {
  return tw::guard([&]() -> uint32_t {
    return WithConnection(connect, [&](Connection& c) -> uint32_t {
      size_t index = 0;
      if (list == TWLIST_NEXT) {
        if (c.listCursor == SIZE_MAX) return TWFAIL_LIST_SETUP;
        index = c.listCursor;
      } else if (list != TWLIST_FIRST) {
        return TWFAIL_INVALID_LIST;
      }
      const auto& rows = c.plugin->rows;
      if (index >= rows.size()) {
        c.listCursor = index;
        return TWFAIL_END_OF_DATA;
      }
      const TWXPropertyDef& row = rows[index];
      if (name != nullptr) {
        std::string text = row.name != nullptr ? std::string(row.name, row.nameLength)
                                               : std::string(PredefinedName(row.token));
        if (uint32_t status = SetStreamText(name, text)) return status;
      }
      if (token != nullptr) *token = row.token;
      if (type != nullptr) *type = row.type;
      if (flags != nullptr) *flags = row.reserved;
      c.listCursor = index + 1;
      return 0;
    });
  });
}

}  // extern "C"
