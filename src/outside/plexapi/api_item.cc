// Item entry points: put, fetch, info, length, pointer, delete and copy, in the value kinds
// and list layouts of the API.
#include <cstring>

#include "document.h"
#include "plexapi.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"
#include "value.h"

namespace plexa {
namespace {

constexpr uint8_t kNoBytes = 0;

[[nodiscard]] uint32_t CheckName(const char* name) {
  if (name == nullptr || *name == '\0' || std::strlen(name) >= GV_ITEM_NAME_SIZE)
    return GVERR_INVALID_ARGUMENT;
  return 0;
}

std::span<const uint8_t> SpanOf(const std::vector<uint8_t>& v) {
  return std::span<const uint8_t>(v.data(), v.size());
}

// The bytes a list passed with length 0 occupies, read from its own header words.
size_t OwnListSize(uint32_t kind, const uint8_t* p) {
  uint16_t n = tw::get_u16(p);
  if (kind == GVTYPE_TEXT_LIST) {
    size_t size = 2 + 2 * size_t{n};
    for (size_t i = 0; i < n; ++i) size += tw::get_u16(p + 2 + 2 * i);
    return size;
  }
  uint16_t r = tw::get_u16(p + 2);
  return 4 + 8 * size_t{n} + 16 * size_t{r};
}

// The value of the first row of name (rich text: all its rows), as stored.
uint32_t StoredValue(const Document& d, const char* name, uint32_t& type, Value& out) {
  std::vector<const DocItem*> rows = d.All(name);
  if (rows.empty()) return Fail(GVERR_NO_ITEM, name);
  type = rows.front()->type;
  if (type == GVTYPE_COMPOSITE) {
    out = Value::Composite(d.JoinedRecords(name));
    return 0;
  }
  if (DecodeItem(type, SpanOf(rows.front()->value), out) != 0)
    return Fail(GVERR_ENGINE, std::string(name) + ": malformed stored value");
  return 0;
}

// The value of name converted into kind (0: as stored), and its stored type.
[[nodiscard]] uint32_t ValueAs(const Document& d, const char* name, uint32_t kind, uint32_t& type,
                               Value& out) {
  Value stored;
  if (uint32_t s = StoredValue(d, name, type, stored)) return s;
  if (kind == 0 || kind == type) {
    out = std::move(stored);
    return 0;
  }
  if (kind < GVTYPE_NUMBER || kind > GVTYPE_OTHER) return GVERR_INVALID_ARGUMENT;
  return Convert(stored, kind, out);
}

// The bytes of v in the layout of its own kind (texts without the NUL).
[[nodiscard]] uint32_t KindBytes(const Value& v, std::vector<uint8_t>& out) {
  if (v.type == GVTYPE_COMPOSITE || v.type == GVTYPE_OTHER) {
    out.assign(v.records.begin(), v.records.end());
    return 0;
  }
  return EncodeKind(v, out);
}

// The stored bytes of a value put with kind (not composite).
[[nodiscard]] uint32_t PutBytes(uint32_t kind, uint32_t length, const void* value,
                                std::vector<uint8_t>& out) {
  switch (kind) {
    case GVTYPE_NUMBER: {
      if (value == nullptr) return GVERR_INVALID_ARGUMENT;
      double x;
      std::memcpy(&x, value, sizeof x);
      out = EncodeItem(Value::Number(x));
      return 0;
    }
    case GVTYPE_TIME: {
      if (value == nullptr) return GVERR_INVALID_ARGUMENT;
      GVTIMEDATE t;
      std::memcpy(&t, value, sizeof t);
      TimeFields f;
      if (uint32_t s = DecodeTime(t, f)) return s;
      out = EncodeItem(Value::Time(t));
      return 0;
    }
    case GVTYPE_TEXT_LIST:
    case GVTYPE_NUMBER_LIST:
    case GVTYPE_TIME_LIST: {
      if (value == nullptr) return GVERR_INVALID_ARGUMENT;
      const auto* p = static_cast<const uint8_t*>(value);
      size_t size = length != 0 ? length : OwnListSize(kind, p);
      if (size > GV_MAX_VALUE) return Fail(GVERR_TOO_BIG, "list above 64996 bytes");
      size_t own = 0;
      if (uint32_t s = MeasureList(kind, std::span(p, size), own)) return s;
      Value check;
      if (uint32_t s = DecodeItem(kind, std::span(p, own), check)) return s;
      out.assign(p, p + own);
      return 0;
    }
    case GVTYPE_OTHER: {
      if (value == nullptr && length > 0) return GVERR_INVALID_ARGUMENT;
      if (length > GV_MAX_VALUE) return Fail(GVERR_TOO_BIG, "value above 64996 bytes");
      const auto* p = static_cast<const uint8_t*>(value);
      out.assign(p, p + length);
      return 0;
    }
    default:
      return GVERR_INVALID_ARGUMENT;
  }
}

uint32_t Put(Document& d, const char* name, uint32_t storeAs, uint32_t length, uint32_t kind,
             const void* value) {
  if (uint32_t s = CheckName(name)) return s;
  if (uint32_t s = d.CheckField(name)) return s;
  if (kind == GVTYPE_TEXT) {
    const char* text = value != nullptr ? static_cast<const char*>(value) : "";
    std::string_view t(text, value == nullptr ? 0 : length != 0 ? length : std::strlen(text));
    if (storeAs == GVTYPE_COMPOSITE) return d.PutRichText(name, rt::FromText(t));
    if (t.size() > GV_MAX_VALUE) return Fail(GVERR_TOO_BIG, "text above 64996 bytes");
    return d.Replace(name, GVTYPE_TEXT, {EncodeItem(Value::Text(std::string(t)))});
  }
  if (kind == GVTYPE_COMPOSITE) {
    if (value == nullptr) return GVERR_INVALID_ARGUMENT;
    GVCOMP handle;
    std::memcpy(&handle, value, sizeof handle);
    Composite* comp = Find<Composite>(handle);
    if (comp == nullptr) return GVERR_INVALID_HANDLE;
    if (storeAs < GVTYPE_NUMBER || storeAs > GVTYPE_TIME_LIST)
      return d.PutRichText(name, comp->records);
    Value converted;
    if (uint32_t s = Convert(Value::Composite(comp->records), storeAs, converted)) return s;
    std::vector<uint8_t> bytes;
    if (uint32_t s = EncodeItem(converted, bytes)) return s;
    return d.Replace(name, converted.type, {std::move(bytes)});
  }
  std::vector<uint8_t> bytes;
  if (uint32_t s = PutBytes(kind, length, value, bytes)) return s;
  return d.Replace(name, kind, {std::move(bytes)});
}

// A single number, time or text fetched as its own kind, read straight from its stored
// bytes: most fetches are these, and decoding them into a value first costs more than the
// read. False, with nothing written, for any other item.
bool FetchSingle(const DocItem& item, uint32_t want, uint32_t capacity, void* value,
                 uint32_t& status) {
  if (item.type != want || value == nullptr) return false;
  const uint8_t* p = item.value.data();
  const size_t size = item.value.size();
  switch (want) {
    case GVTYPE_NUMBER:
    case GVTYPE_TIME: {
      if (size < 12 || tw::get_u16(p) != 1 || tw::get_u16(p + 2) != 0) return false;
      if (want == GVTYPE_NUMBER) {
        const uint64_t bits = tw::get_u64(p + 4);
        std::memcpy(value, &bits, sizeof bits);
      } else {
        const GVTIMEDATE t{tw::get_u32(p + 4), tw::get_u32(p + 8)};
        std::memcpy(value, &t, sizeof t);
      }
      status = 0;
      return true;
    }
    case GVTYPE_TEXT: {
      if (size < 4 || tw::get_u16(p) != 1 || size - 4 < tw::get_u16(p + 2)) return false;
      if (capacity == 0) {
        status = GVERR_BUFFER_TOO_SMALL;
        return true;
      }
      const std::string_view text(reinterpret_cast<const char*>(p + 4), tw::get_u16(p + 2));
      const size_t n = Utf8Cut(text, capacity - 1);
      std::memcpy(value, text.data(), n);
      static_cast<char*>(value)[n] = '\0';
      status = 0;
      return true;
    }
    default:
      return false;
  }
}

uint32_t Fetch(const Document& d, const char* name, uint32_t* kind, uint32_t capacity,
               void* value) {
  if (uint32_t s = CheckName(name)) return s;
  uint32_t want = kind != nullptr ? *kind : 0;
  if (const DocItem* first = d.First(name); first != nullptr && want != 0) {
    uint32_t status = 0;
    if (FetchSingle(*first, want, capacity, value, status)) return status;
  }
  uint32_t type = 0;
  Value v;
  if (uint32_t s = ValueAs(d, name, want, type, v)) return s;
  if (want == 0) want = type;
  if (value == nullptr) return GVERR_INVALID_ARGUMENT;
  switch (want) {
    case GVTYPE_NUMBER:
      if (v.numbers.empty()) return GVERR_NO_VALUE;
      std::memcpy(value, &v.numbers.front(), sizeof(double));
      break;
    case GVTYPE_TIME:
      if (v.times.empty()) return GVERR_NO_VALUE;
      std::memcpy(value, &v.times.front(), sizeof(GVTIMEDATE));
      break;
    case GVTYPE_TEXT: {
      if (capacity == 0) return GVERR_BUFFER_TOO_SMALL;
      std::string_view text = v.texts.empty() ? std::string_view() : v.texts.front();
      size_t n = Utf8Cut(text, capacity - 1);
      std::memcpy(value, text.data(), n);
      static_cast<char*>(value)[n] = '\0';
      break;
    }
    default: {
      std::vector<uint8_t> bytes;
      if (uint32_t s = KindBytes(v, bytes)) return s;
      if (bytes.size() > capacity) return GVERR_BUFFER_TOO_SMALL;
      if (!bytes.empty()) std::memcpy(value, bytes.data(), bytes.size());
      break;
    }
  }
  if (kind != nullptr) *kind = type;
  return 0;
}

[[nodiscard]] uint32_t Info(const Document& d, const char* name, uint32_t* type, uint32_t* count,
                            uint32_t* length) {
  if (uint32_t s = CheckName(name)) return s;
  std::vector<const DocItem*> rows = d.All(name);
  if (rows.empty()) return Fail(GVERR_NO_ITEM, name);
  const DocItem& first = *rows.front();
  size_t bytes = 0;
  switch (first.type) {
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
      bytes = 8;
      break;
    case GVTYPE_TEXT:
      bytes = first.value.size() >= 4 ? first.value.size() - 4 : 0;
      break;
    case GVTYPE_COMPOSITE:
      for (const DocItem* r : rows)
        if (r->type == GVTYPE_COMPOSITE) bytes += r->value.size();
      break;
    default:
      bytes = first.value.size();
  }
  if (type != nullptr) *type = first.type;
  if (count != nullptr) *count = static_cast<uint32_t>(rows.size());
  if (length != nullptr) *length = static_cast<uint32_t>(std::min<size_t>(bytes, UINT32_MAX));
  return 0;
}

[[nodiscard]] uint32_t Length(const Document& d, const char* name, uint32_t kind,
                              uint32_t* length) {
  if (uint32_t s = CheckName(name)) return s;
  if (length == nullptr) return GVERR_INVALID_ARGUMENT;
  uint32_t type = 0;
  Value v;
  if (uint32_t s = ValueAs(d, name, kind, type, v)) return s;
  size_t n = 0;
  switch (kind == 0 ? type : kind) {
    case GVTYPE_NUMBER:
    case GVTYPE_TIME:
      n = 8;
      break;
    case GVTYPE_TEXT:
      n = v.texts.empty() ? 0 : v.texts.front().size();
      break;
    default: {
      std::vector<uint8_t> bytes;
      if (uint32_t s = KindBytes(v, bytes)) return s;
      n = bytes.size();
    }
  }
  *length = static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX));
  return 0;
}

[[nodiscard]] uint32_t Pointer(const Document& d, const char* name, uint32_t* kind,
                               const void** value, uint32_t* length) {
  if (uint32_t s = CheckName(name)) return s;
  if (value == nullptr) return GVERR_INVALID_ARGUMENT;
  const DocItem* it = d.First(name);
  if (it == nullptr) return Fail(GVERR_NO_ITEM, name);
  uint32_t type = it->type;
  uint32_t want = kind != nullptr && *kind != 0 ? *kind : type;
  const uint8_t* bytes = it->value.empty() ? &kNoBytes : it->value.data();
  size_t size = it->value.size();
  const uint8_t* p = nullptr;
  size_t n = 0;
  bool singleStored = type == GVTYPE_NUMBER || type == GVTYPE_TIME || type == GVTYPE_TEXT;
  if (want == type) {
    // A single value is stored as a one-entry list: its own layout starts behind the header.
    p = singleStored ? bytes + 4 : bytes;
    n = singleStored ? size - 4 : size;
  } else if ((type == GVTYPE_NUMBER && want == GVTYPE_NUMBER_LIST) ||
             (type == GVTYPE_TIME && want == GVTYPE_TIME_LIST)) {
    p = bytes;
    n = size;
  } else if ((type == GVTYPE_NUMBER_LIST && want == GVTYPE_NUMBER) ||
             (type == GVTYPE_TIME_LIST && want == GVTYPE_TIME)) {
    if (size < 12 || tw::get_u16(bytes) == 0) return GVERR_NO_VALUE;
    p = bytes + 4;
    n = 8;
  } else {
    return Fail(GVERR_ITEM_KIND, name);
  }
  *value = p;
  if (kind != nullptr) *kind = type;
  if (length != nullptr) *length = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace
}  // namespace plexa

using plexa::Document;

extern "C" {

GV_API uint32_t GVItemPut(GVDOC doc, const char* name, uint32_t storeAs, uint32_t length,
                          uint32_t kind, const void* value, uint32_t flags) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    return plexa::Put(*d, name, storeAs, length, kind, value);
  });
}

GV_API uint32_t GVItemFetch(GVDOC doc, const char* name, uint32_t* kind, uint32_t flags,
                            uint32_t capacity, void* value) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::Fetch(*d, name, kind, capacity, value);
  });
}

GV_API uint32_t GVItemGetInfo(GVDOC doc, const char* name, uint32_t* type, uint32_t* count,
                              uint32_t* length) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::Info(*d, name, type, count, length);
  });
}

GV_API uint32_t GVItemGetLength(GVDOC doc, const char* name, uint32_t itemType, uint32_t kind,
                                uint32_t* length) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::Length(*d, name, kind, length);
  });
}

GV_API uint32_t GVItemGetPointer(GVDOC doc, const char* name, uint32_t* kind, const void** value,
                                 uint32_t* length) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = d->ReadParts()) return s;
    return plexa::Pointer(*d, name, kind, value, length);
  });
}

GV_API uint32_t GVItemDelete(GVDOC doc, const char* name) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* d = plexa::FindDocument(doc);
    if (d == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t s = plexa::CheckName(name)) return s;
    return d->Remove(name);
  });
}

GV_API uint32_t GVItemCopy(GVDOC source, const char* name, GVDOC target, const char* targetName) {
  return plexa::ApiSession([&]() -> uint32_t {
    Document* s = plexa::FindDocument(source);
    Document* t = plexa::FindDocument(target);
    if (s == nullptr || t == nullptr) return GVERR_INVALID_HANDLE;
    if (uint32_t st = plexa::CheckName(name)) return st;
    const char* to = targetName != nullptr ? targetName : name;
    if (uint32_t st = plexa::CheckName(to)) return st;
    if (uint32_t st = s->ReadParts()) return st;
    if (uint32_t st = t->ReadParts()) return st;
    std::vector<const plexa::DocItem*> rows = s->All(name);
    if (rows.empty()) return plexa::Fail(GVERR_NO_ITEM, name);
    if (uint32_t st = t->CheckField(to)) return st;
    std::vector<Document::Row> copies;
    for (const plexa::DocItem* r : rows) copies.push_back(Document::Row{r->type, r->value});
    return t->ReplaceRows(to, std::move(copies));
  });
}

}  // extern "C"
