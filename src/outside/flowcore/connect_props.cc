// Properties of a connection: the control tokens the engine answers itself, reads and
// writes that reach the connector's TWXGetProperty and TWXSetProperty without the link
// byte, the typed families built on them, and the walk of the connector's property table.
#include <cctype>
#include <string>

#include "activity.h"
#include "connect_impl.h"
#include "stream_internal.h"
#include "tw/guard.h"

namespace tw::engine {
namespace {

bool IsControl(uint32_t token) {
  return ((token & TWTOKEN_VALUE_MASK) & TWTOKENF_CONTROL) != 0;
}

uint32_t IntField(int32_t value, FieldPtr* out) {
  FieldPtr field;
  if (uint32_t status = NewValueField(TWTYPE_INT, &field)) return status;
  if (uint32_t status = TWFieldSetInt(field.get(), 1, &value)) return status;
  *out = std::move(field);
  return 0;
}

uint32_t TextField(const std::string& text, FieldPtr* out) {
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
uint32_t ControlValue(const Connection& c, uint32_t token, FieldPtr* out) {
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
uint32_t ReadProperty(Connection& c, uint32_t token, uint32_t type, FieldPtr* out) {
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

uint32_t WriteProperty(Connection& c, uint32_t token, TWFIELD src) {
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

template <class T, class Get>
uint32_t GetTyped(TWCONNECT connect, uint32_t token, uint32_t type, T* dest, Get&& get) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    FieldPtr field;
    if (uint32_t status = ReadProperty(*c, token, type, &field)) return status;
    if (TWFieldIsNull(field.get(), 1)) return TWFAIL_MISSING_PROPERTY;
    T value{};
    if (uint32_t status = get(field.get(), &value)) return status;
    *dest = value;
    return 0;
  });
}

// Builds a one-value field of type from *src (null: a null value) and writes it.
template <class T, class Set>
uint32_t SetTyped(TWCONNECT connect, uint32_t token, uint32_t type, const T* src, Set&& set) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    FieldPtr field;
    if (uint32_t status = NewValueField(type, &field)) return status;
    if (src != nullptr) {
      if (uint32_t status = set(field.get(), src)) return status;
    }
    return WriteProperty(*c, token, field.get());
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
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    const uint32_t bare = token & TWTOKEN_VALUE_MASK;
    if (IsControl(bare)) {
      FieldPtr value;
      uint32_t status = ControlValue(*c, bare, &value);
      if (status == TWFAIL_INVALID_PROPERTY) return LogWithToken(status, token);
      if (status != 0) return status;
      return TWFieldConvert(dest, 1, value.get(), 1, 1);
    }
    EntryScope scope(*c->plugin, c->name, TWMSG_FUNCTION_GET_PROPERTY);
    return c->plugin->entry.getProperty(c->context(), bare, dest);
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
    TWStream s{};
    std::string text;
    if (TWFieldGetStream(field.get(), 1, TWSTREAMFMT_NATIVE, &s, nullptr) == 0 && s.data != nullptr)
      text.assign(static_cast<const char*>(s.data), s.length);
    TWStreamDataFree(&s);
    return BooleanOfText(std::move(text), defaultValue);
  });
}

TW_API uint32_t TWConnectGetPropertyInt(TWCONNECT connect, uint32_t token, int32_t* dest) {
  return GetTyped(connect, token, TWTYPE_INT, dest,
                  [](TWFIELD f, int32_t* v) { return TWFieldGetInt(f, 1, v, nullptr); });
}

TW_API uint32_t TWConnectGetPropertyFloat(TWCONNECT connect, uint32_t token, double* dest) {
  return GetTyped(connect, token, TWTYPE_FLOAT, dest,
                  [](TWFIELD f, double* v) { return TWFieldGetFloat(f, 1, v, nullptr); });
}

TW_API uint32_t TWConnectGetPropertyCurrency(TWCONNECT connect, uint32_t token, TWCurrency* dest) {
  return GetTyped(connect, token, TWTYPE_CURRENCY, dest,
                  [](TWFIELD f, TWCurrency* v) { return TWFieldGetCurrency(f, 1, v, nullptr); });
}

TW_API uint32_t TWConnectGetPropertyNumeric(TWCONNECT connect, uint32_t token, TWNumeric* dest) {
  return GetTyped(connect, token, TWTYPE_NUMERIC, dest,
                  [](TWFIELD f, TWNumeric* v) { return TWFieldGetNumeric(f, 1, v, nullptr); });
}

TW_API uint32_t TWConnectGetPropertyDatetime(TWCONNECT connect, uint32_t token, TWDatetime* dest) {
  return GetTyped(connect, token, TWTYPE_DATETIME, dest,
                  [](TWFIELD f, TWDatetime* v) { return TWFieldGetDatetime(f, 1, v, nullptr); });
}

TW_API uint32_t TWConnectGetPropertyStream(TWCONNECT connect, uint32_t token, uint32_t format,
                                           TWStream* dest) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    if (dest == nullptr) return TWFAIL_NULL_RESULT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    const uint32_t bare = token & TWTOKEN_VALUE_MASK;
    // A list property is read whole; everything else through text.
    const uint32_t type =
        !IsControl(bare) && RowType(*c, bare) == TWTYPE_BINARY ? TWTYPE_BINARY : TWTYPE_TEXT;
    FieldPtr field;
    if (uint32_t status = ReadProperty(*c, token, type, &field)) return status;
    if (TWFieldIsNull(field.get(), 1)) return TWFAIL_MISSING_PROPERTY;
    return TWFieldGetStream(field.get(), 1, format != 0 ? format : TWSTREAMFMT_NATIVE, dest,
                            nullptr);
  });
}

TW_API uint32_t TWConnectSetProperty(TWCONNECT connect, uint32_t token, TWFIELD src) {
  return tw::guard([&]() -> uint32_t {
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    return WriteProperty(*c, token, src);
  });
}

TW_API uint32_t TWConnectSetPropertyInt(TWCONNECT connect, uint32_t token, const int32_t* src) {
  return SetTyped(connect, token, TWTYPE_INT, src,
                  [](TWFIELD f, const int32_t* v) { return TWFieldSetInt(f, 1, v); });
}

TW_API uint32_t TWConnectSetPropertyFloat(TWCONNECT connect, uint32_t token, const double* src) {
  return SetTyped(connect, token, TWTYPE_FLOAT, src,
                  [](TWFIELD f, const double* v) { return TWFieldSetFloat(f, 1, v); });
}

TW_API uint32_t TWConnectSetPropertyCurrency(TWCONNECT connect, uint32_t token,
                                             const TWCurrency* src) {
  return SetTyped(connect, token, TWTYPE_CURRENCY, src,
                  [](TWFIELD f, const TWCurrency* v) { return TWFieldSetCurrency(f, 1, v); });
}

TW_API uint32_t TWConnectSetPropertyNumeric(TWCONNECT connect, uint32_t token,
                                            const TWNumeric* src) {
  return SetTyped(connect, token, TWTYPE_NUMERIC, src,
                  [](TWFIELD f, const TWNumeric* v) { return TWFieldSetNumeric(f, 1, v); });
}

TW_API uint32_t TWConnectSetPropertyDatetime(TWCONNECT connect, uint32_t token,
                                             const TWDatetime* src) {
  return SetTyped(connect, token, TWTYPE_DATETIME, src,
                  [](TWFIELD f, const TWDatetime* v) { return TWFieldSetDatetime(f, 1, v); });
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
    if (!SystemStarted()) return TWFAIL_TWXINIT;
    Held c(connect);
    if (!c) return TWFAIL_INVALID_CONNECT;
    size_t index = 0;
    if (list == TWLIST_NEXT) {
      if (c->listCursor == SIZE_MAX) return TWFAIL_LIST_SETUP;
      index = c->listCursor;
    } else if (list != TWLIST_FIRST) {
      return TWFAIL_INVALID_LIST;
    }
    const auto& rows = c->plugin->rows;
    if (index >= rows.size()) {
      c->listCursor = index;
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
    c->listCursor = index + 1;
    return 0;
  });
}

}  // extern "C"
