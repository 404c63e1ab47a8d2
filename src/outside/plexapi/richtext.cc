// Compound-document records: walking and checking a stream, building the records the API
// writes, text to and from records, and cutting a stream into items.
#include "richtext.h"

#include <cstring>

#include "tw/coding.h"

namespace plexa::rt {
namespace {

constexpr size_t kStyleWord = 4;
constexpr size_t kFieldHead = 64;

void PutU16(std::string& out, size_t v) {
  char b[2];
  tw::put_u16(b, static_cast<uint16_t>(v));
  out.append(b, 2);
}

// The text of a C string at p, at most max bytes; false when no NUL comes within them.
bool BoundedText(const char* p, size_t max, std::string& out) {
  const size_t n = ::strnlen(p, max + 1);
  if (n > max) return false;
  out.assign(p, n);
  return true;
}

}  // namespace

bool Walker::Next(Record& out) {
  if (failed_ || pos_ >= bytes_.size()) return false;
  const size_t left = bytes_.size() - pos_;
  const auto* r = reinterpret_cast<const uint8_t*>(bytes_.data() + pos_);
  if (left < 2) {
    failed_ = true;
    return false;
  }
  const uint16_t word = tw::get_u16(r);
  size_t header;
  size_t length;
  if (word >= 0xFF00) {
    header = 4;
    if (left < header) {
      failed_ = true;
      return false;
    }
    length = tw::get_u16(r + 2);
  } else if (word >> 8) {
    header = 2;
    length = word >> 8;
  } else {
    header = 6;
    if (left < header) {
      failed_ = true;
      return false;
    }
    length = tw::get_u32(r + 2);
  }
  // A length below its own header would never advance the walk.
  if (length < header || length > left || (length & 1) > left - length) {
    failed_ = true;
    return false;
  }
  const size_t padded = length + (length & 1);
  out.signature = r[0];
  out.offset = pos_;
  out.header = header;
  out.length = length;
  out.body = bytes_.substr(pos_ + header, length - header);
  out.whole = bytes_.substr(pos_, padded);
  pos_ += padded;
  return true;
}

uint32_t Validate(std::string_view records, bool allowEmpty) {
  if (records.empty()) return allowEmpty ? 0 : GVERR_COMPOSITE;
  Walker w(records);
  Record r;
  while (w.Next(r)) {
  }
  return w.failed() ? GVERR_COMPOSITE : 0;
}

size_t CountRecords(std::string_view records) {
  Walker w(records);
  Record r;
  size_t n = 0;
  while (w.Next(r)) ++n;
  return n;
}

void AppendRecord(std::string& out, uint8_t signature, std::string_view body) {
  size_t length = 4 + body.size();
  char h[6];
  if (length <= 0xFFFF) {
    h[0] = static_cast<char>(signature);
    h[1] = static_cast<char>(0xFF);
    tw::put_u16(h + 2, static_cast<uint16_t>(length));
    out.append(h, 4);
  } else {
    length = 6 + body.size();
    h[0] = static_cast<char>(signature);
    h[1] = 0;
    tw::put_u32(h + 2, static_cast<uint32_t>(length));
    out.append(h, 6);
  }
  out.append(body);
  if (length & 1) out.push_back('\0');
}

void AppendParagraph(std::string& out) {
  out.push_back(static_cast<char>(GVCDSIG_PARAGRAPH));
  out.push_back(2);
}

void AppendText(std::string& out, std::string_view text) {
  std::string body(kStyleWord, '\0');
  body.append(text);
  AppendRecord(out, GVCDSIG_TEXT, body);
}

void AppendParagraphDef(std::string& out, uint8_t signature, const GVParagraphDef& def) {
  char body[sizeof(GVParagraphDef)];
  std::memcpy(body, &def, sizeof body);
  AppendRecord(out, signature, std::string_view(body, sizeof body));
}

void AppendDocLink(std::string& out, const GVDocLink& link) {
  char body[sizeof(GVDocLink)];
  std::memcpy(body, &link, sizeof body);
  AppendRecord(out, GVCDSIG_DOCLINK, std::string_view(body, sizeof body));
}

uint32_t FieldDef::itemType() const {
  return head.size() >= 4 ? tw::get_u32(head.data()) : 0;
}
uint32_t FieldDef::flags() const {
  return head.size() >= 8 ? tw::get_u32(head.data() + 4) : 0;
}
uint32_t FieldDef::listFlags() const {
  return head.size() >= 52 ? tw::get_u32(head.data() + 48) : 0;
}

uint32_t AppendField(std::string& out, const FieldDef& field) {
  if (field.name.empty()) return GVERR_INVALID_ARGUMENT;
  if (field.name.size() > GV_FIELD_NAME_SIZE - 1) return GVERR_TOO_BIG;
  if (field.defaultFormula.size() > 0xFFFF) return GVERR_TOO_BIG;
  std::string body(field.head.substr(0, kFieldHead));
  body.resize(kFieldHead, '\0');
  PutU16(body, field.name.size());
  body += field.name;
  PutU16(body, field.defaultFormula.size());
  body += field.defaultFormula;
  AppendRecord(out, GVCDSIG_FIELD, body);
  return 0;
}

uint32_t AppendField(std::string& out, const GVFieldRecord& field) {
  if (field.name == nullptr) return GVERR_INVALID_ARGUMENT;
  FieldDef def;
  def.head.assign(reinterpret_cast<const char*>(&field), kFieldHead);
  if (!BoundedText(field.name, GV_FIELD_NAME_SIZE - 1, def.name)) return GVERR_TOO_BIG;
  if (field.defaultFormula != nullptr &&
      !BoundedText(field.defaultFormula, 0xFFFF, def.defaultFormula))
    return GVERR_TOO_BIG;
  return AppendField(out, def);
}

uint32_t DecodeField(const Record& record, FieldDef& out) {
  if (record.signature != GVCDSIG_FIELD) return GVERR_COMPOSITE;
  tw::Reader r(record.body.data(), record.body.size());
  std::string_view head;
  std::string_view name;
  std::string_view formula;
  uint16_t len = 0;
  if (!r.bytes(kFieldHead, &head) || !r.u16(&len) || !r.bytes(len, &name) || !r.u16(&len) ||
      !r.bytes(len, &formula))
    return GVERR_COMPOSITE;
  if (name.empty() || name.size() > GV_FIELD_NAME_SIZE - 1) return GVERR_COMPOSITE;
  FieldDef def;
  def.head.assign(head);
  def.name.assign(name);
  def.defaultFormula.assign(formula);
  out = std::move(def);
  return 0;
}

uint32_t DecodeDocLink(const Record& record, GVDocLink& out) {
  if (record.signature != GVCDSIG_DOCLINK || record.body.size() < sizeof(GVDocLink))
    return GVERR_COMPOSITE;
  std::memcpy(&out, record.body.data(), sizeof(GVDocLink));
  return 0;
}

uint32_t MakeRecord(uint32_t kind, const void* record, std::string& out) {
  std::string rec;
  switch (kind) {
    case GVCD_PARAGRAPH:
      AppendParagraph(rec);
      break;
    case GVCD_PARDEF:
    case GVCD_PARSELECT: {
      if (record == nullptr) return GVERR_INVALID_ARGUMENT;
      GVParagraphDef def;
      std::memcpy(&def, record, sizeof def);
      AppendParagraphDef(rec, kind == GVCD_PARDEF ? GVCDSIG_PARDEF : GVCDSIG_PARSELECT, def);
      break;
    }
    case GVCD_TEXT:
      if (record == nullptr) return GVERR_INVALID_ARGUMENT;
      AppendText(rec, static_cast<const char*>(record));
      break;
    case GVCD_DOCLINK: {
      if (record == nullptr) return GVERR_INVALID_ARGUMENT;
      GVDocLink link;
      std::memcpy(&link, record, sizeof link);
      AppendDocLink(rec, link);
      break;
    }
    case GVCD_FIELD: {
      if (record == nullptr) return GVERR_INVALID_ARGUMENT;
      GVFieldRecord field;
      std::memcpy(&field, record, sizeof field);
      if (uint32_t st = AppendField(rec, field)) return st;
      break;
    }
    default:
      return GVERR_INVALID_ARGUMENT;
  }
  out = std::move(rec);
  return 0;
}

uint32_t InsertRecords(std::string& records, uint32_t position, std::string_view inserted) {
  if (Validate(records) != 0 || Validate(inserted) != 0) return GVERR_COMPOSITE;
  size_t at = records.size();
  if (position != 0) {
    Walker w(records);
    Record r;
    for (uint32_t n = 1; w.Next(r); ++n) {
      if (n == position) {
        at = r.offset;
        break;
      }
    }
  }
  records.insert(at, inserted);
  return 0;
}

uint32_t ToText(std::string_view records, std::string& out) {
  std::string text;
  Walker w(records);
  Record r;
  while (w.Next(r)) {
    if (r.signature == GVCDSIG_TEXT) {
      if (r.body.size() < kStyleWord) return GVERR_COMPOSITE;
      text.append(r.body.substr(kStyleWord));
    } else if (r.signature == GVCDSIG_PARAGRAPH) {
      text.push_back('\n');
    }
  }
  if (w.failed()) return GVERR_COMPOSITE;
  out = std::move(text);
  return 0;
}

uint32_t ToParagraphs(std::string_view records, std::vector<std::string>& out) {
  std::vector<std::string> paragraphs(1);
  Walker w(records);
  Record r;
  while (w.Next(r)) {
    if (r.signature == GVCDSIG_TEXT) {
      if (r.body.size() < kStyleWord) return GVERR_COMPOSITE;
      paragraphs.back().append(r.body.substr(kStyleWord));
    } else if (r.signature == GVCDSIG_PARAGRAPH) {
      paragraphs.emplace_back();
    }
  }
  if (w.failed()) return GVERR_COMPOSITE;
  // An empty stream holds no paragraph at all.
  if (records.empty()) paragraphs.clear();
  out = std::move(paragraphs);
  return 0;
}

std::string FromText(std::string_view text) {
  std::string out;
  size_t start = 0;
  for (bool first = true;; first = false) {
    size_t stop = text.find('\n', start);
    const bool last = stop == std::string_view::npos;
    if (last) stop = text.size();
    size_t len = stop - start;
    // A CR before the LF belongs to the line end, not to the text.
    if (!last && len > 0 && text[stop - 1] == '\r') --len;
    if (!first) AppendParagraph(out);
    AppendText(out, text.substr(start, len));
    if (last) return out;
    start = stop + 1;
  }
}

std::vector<std::string> CutPieces(std::string_view records, size_t maxPiece) {
  std::vector<std::string> pieces;
  std::string current;
  Walker w(records);
  Record r;
  while (w.Next(r)) {
    if (!current.empty() && current.size() + r.whole.size() > maxPiece) {
      pieces.push_back(std::move(current));
      current.clear();
    }
    current.append(r.whole);
  }
  if (!current.empty() || pieces.empty()) pieces.push_back(std::move(current));
  return pieces;
}

}  // namespace plexa::rt
