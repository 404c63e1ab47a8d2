// The control store's field records: decoding a description into one-value fields,
// encoding a field for PutDescription, and the text-list layout of RunActivity. Every length
// read from the bytes is checked before the bytes behind it are touched.
#include "csmgr_records.h"

#include <cstring>
#include <utility>

#include "csmgr_wire.h"
#include "tw/coding.h"

namespace tw::engine {
namespace {

namespace rec = tw::csmgr::record;
using flowcore::StreamData;

// "An invalid Link definition was encountered": the description cannot be read.

struct Head {
  uint32_t kind, format, token, length;
};

bool ReadHead(tw::Reader& r, Head* h) {
  return r.u32(&h->kind) && r.u32(&h->format) && r.u32(&h->token) && r.u32(&h->length);
}

// A text list: u16 count, count u16 lengths, then the entries; its size through the last
// entry, or false when it runs past the bytes.
bool TextListSize(std::string_view bytes, size_t* size) {
  tw::Reader r(bytes.data(), bytes.size());
  uint16_t count = 0;
  if (!r.u16(&count)) return false;
  size_t total = 0;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t len = 0;
    if (!r.u16(&len)) return false;
    total += len;
  }
  if (!r.skip(total)) return false;
  *size = r.position();
  return true;
}

FieldPtr NewField(uint32_t type, uint32_t* status) {
  TWFIELD f = nullptr;
  *status = TWFieldAlloc(&f, type, 1);
  return FieldPtr(*status == 0 ? f : nullptr);
}

[[nodiscard]] uint32_t SetStreamValue(TWFIELD f, uint32_t format, std::string_view bytes) {
  TWStream s{};
  s.format = format;
  s.length = static_cast<uint32_t>(bytes.size());
  s.data = const_cast<char*>(bytes.data());
  return TWFieldSetStream(f, 1, &s);
}

// One record's value as a field; TWFAIL_INVALID_LINK_DEF when its data does not fit its kind.
[[nodiscard]] uint32_t DecodeValue(const Head& h, std::string_view data, FieldPtr* out) {
  uint32_t st = 0;
  FieldPtr f;
  switch (h.kind) {
    case rec::kNumber: {
      if (data.size() != 4) return TWFAIL_INVALID_LINK_DEF;
      int32_t v = tw::get_i32(data.data());
      f = NewField(TWTYPE_INT, &st);
      if (st == 0) st = TWFieldSetInt(f.get(), 1, &v);
      break;
    }
    case rec::kDatetime: {
      if (data.size() != tw::csmgr::kDatetimeSize) return TWFAIL_INVALID_LINK_DEF;
      TWDatetime v{tw::get_u32(data.data()), tw::get_u32(data.data() + 4)};
      f = NewField(TWTYPE_DATETIME, &st);
      if (st == 0) st = TWFieldSetDatetime(f.get(), 1, &v);
      break;
    }
    case rec::kText: {
      if (data.empty() || data.back() != '\0') return TWFAIL_INVALID_LINK_DEF;
      std::string_view text = data.substr(0, data.find('\0'));
      f = NewField(TWTYPE_TEXT, &st);
      if (st == 0) st = SetStreamValue(f.get(), TWSTREAMFMT_QMBCS, text);
      break;
    }
    case rec::kList: {
      // The data carries one byte more than the value.
      if (data.empty()) return TWFAIL_INVALID_LINK_DEF;
      std::string_view value = data.substr(0, data.size() - 1);
      if (h.format == rec::kTextListFormat) {
        size_t size = 0;
        if (!TextListSize(value, &size)) return TWFAIL_INVALID_LINK_DEF;
      } else if (h.format != rec::kRichTextFormat) {
        return TWFAIL_INVALID_LINK_DEF;
      }
      f = NewField(TWTYPE_BINARY, &st);
      if (st == 0) st = TWFieldSetFormatStream(f.get(), 0, 0, h.format);
      if (st == 0) st = SetStreamValue(f.get(), h.format, value);
      break;
    }
    default:
      return TWFAIL_INVALID_LINK_DEF;
  }
  if (st != 0) return st;
  *out = std::move(f);
  return 0;
}

void AppendRecord(uint32_t kind, uint32_t format, uint32_t token, std::string_view data,
                  bool extraByte, std::string* records) {
  size_t at = records->size();
  uint32_t length = static_cast<uint32_t>(data.size() + (extraByte ? 1 : 0));
  records->resize(at + rec::kHeadSize);
  char* p = records->data() + at;
  tw::put_u32(p + rec::kKind, kind);
  tw::put_u32(p + rec::kFormat, format);
  tw::put_u32(p + rec::kToken, token);
  tw::put_u32(p + rec::kDataLength, length);
  records->append(data);
  if (extraByte) records->push_back('\0');
}

// Value 1 of f as QMBCS text.
[[nodiscard]] uint32_t TextOf(TWFIELD f, StreamData* text) {
  return TWFieldGetStream(f, 1, TWSTREAMFMT_QMBCS, text->get(), nullptr);
}

}  // namespace

bool MeasureRecords(std::string_view bytes, size_t* length) {
  tw::Reader r(bytes.data(), bytes.size());
  for (;;) {
    Head h{};
    if (!ReadHead(r, &h)) return false;
    if (h.token == 0) {
      if (!r.skip(rec::kEndSize - rec::kHeadSize)) return false;
      *length = r.position();
      return true;
    }
    if (!r.skip(h.length)) return false;
  }
}

uint32_t DecodeDescription(std::string_view records, Description* out) {
  if (out == nullptr) return TWFAIL_NULL_RESULT;
  size_t length = 0;
  if (!MeasureRecords(records, &length)) return TWFAIL_INVALID_LINK_DEF;
  Description result;
  tw::Reader r(records.data(), length);
  for (;;) {
    Head h{};
    ReadHead(r, &h);
    if (h.token == 0) break;
    std::string_view data;
    r.bytes(h.length, &data);
    Property p;
    p.token = h.token;
    if (uint32_t st = DecodeValue(h, data, &p.value)) return st;
    result.push_back(std::move(p));
  }
  *out = std::move(result);
  return 0;
}

uint32_t EncodeProperty(uint32_t token, TWFIELD value, std::string* records) {
  if (records == nullptr) return TWFAIL_NULL_RESULT;
  if (value == nullptr || TWFieldGetType(value) == TWTYPE_INVALID) return TWFAIL_INVALID_FIELD;
  if (token == 0) return TWFAIL_INVALID_PROPERTY;
  if (TWFieldGetValueCount(value) == 0 || TWFieldIsNull(value, 1)) return TWFAIL_MISSING_PROPERTY;
  std::string record;
  switch (TWFieldGetType(value)) {
    case TWTYPE_INT: {
      int32_t v = 0;
      if (uint32_t st = TWFieldGetInt(value, 1, &v, nullptr)) return st;
      char data[4];
      tw::put_i32(data, v);
      AppendRecord(rec::kNumber, 0, token, std::string_view(data, 4), false, &record);
      break;
    }
    case TWTYPE_DATETIME: {
      TWDatetime v{};
      if (uint32_t st = TWFieldGetDatetime(value, 1, &v, nullptr)) return st;
      char data[tw::csmgr::kDatetimeSize];
      tw::put_u32(data, v.ticks);
      tw::put_u32(data + 4, v.date);
      AppendRecord(rec::kDatetime, 0, token, std::string_view(data, sizeof data), false, &record);
      break;
    }
    case TWTYPE_TEXT:
    case TWTYPE_FLOAT:
    case TWTYPE_CURRENCY:
    case TWTYPE_NUMERIC: {
      StreamData text;
      if (uint32_t st = TextOf(value, &text)) return st;
      AppendRecord(rec::kText, rec::kTextFormat, token, text.view(), true, &record);
      break;
    }
    case TWTYPE_BINARY: {
      void* buffer = nullptr;
      if (uint32_t st = TWFieldGetBuffer(value, 1, &buffer, nullptr)) return st;
      const auto* s = static_cast<const TWStream*>(buffer);
      if (s->format != rec::kTextListFormat && s->format != rec::kRichTextFormat)
        return TWFAIL_INVALID_TYPE;
      std::string_view data = s->data == nullptr
                                  ? std::string_view{}
                                  : std::string_view(static_cast<const char*>(s->data), s->length);
      AppendRecord(rec::kList, s->format, token, data, true, &record);
      break;
    }
    default:
      return TWFAIL_INVALID_TYPE;
  }
  records->append(record);
  return 0;
}

void AppendEndRecord(std::string* records) {
  records->append(rec::kEndSize, '\0');
}

uint32_t EncodeTextList(const TWStream* names, std::string* wire) {
  if (names == nullptr) return TWFAIL_NULL_BUFFER;
  if (wire == nullptr) return TWFAIL_NULL_RESULT;
  if (names->length != 0 && names->data == nullptr) return TWFAIL_NULL_BUFFER;
  std::string_view bytes =
      names->data == nullptr
          ? std::string_view{}
          : std::string_view(static_cast<const char*>(names->data), names->length);
  if (names->format == TWSTREAMFMT_TEXT_LIST) {
    size_t size = 0;
    if (!TextListSize(bytes, &size)) return TWFAIL_INVALID_TEXT_LIST;
    *wire = std::string(bytes.substr(0, size));
    return 0;
  }
  StreamData text;
  if (uint32_t st = TWStreamDataConvert(text.get(), names, 0, TWSTREAMFMT_QMBCS, nullptr, nullptr))
    return st;
  std::string_view name = text.view();
  if (name.size() > 0xFFFF) return TWFAIL_OVERFLOW;
  std::string list;
  if (name.empty()) {
    list.assign(2, '\0');
  } else {
    list.resize(4);
    tw::put_u16(list.data(), 1);
    tw::put_u16(list.data() + 2, static_cast<uint16_t>(name.size()));
    list.append(name);
  }
  *wire = std::move(list);
  return 0;
}

}  // namespace tw::engine
