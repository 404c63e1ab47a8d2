// JSON lines of notes: export from and import into a database at the storage level, so that
// identities, classes, parents and every stored row come back as they were.
#include "jsonl.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "database.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "value.h"
#include "view_index.h"

namespace plexadm {
namespace {

using Json = nlohmann::ordered_json;
using plexa::StoredItem;

using plexa::TypeOfWord;
using plexa::TypeWord;

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < n; ++k) {
      auto d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 2) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode would not survive JSON.
    static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

bool ParseUnid(std::string_view text, plexa::Unid& out) {
  if (text.size() != 2 * out.size()) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  plexa::Unid u{};
  for (size_t i = 0; i < u.size(); ++i) {
    int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    u[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  out = u;
  return true;
}

bool IsZero(const plexa::Unid& u) {
  for (uint8_t b : u)
    if (b != 0) return false;
  return true;
}

Json NumberJson(double d) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
  return d;
}

bool NumberOf(const Json& j, double& out) {
  if (j.is_number()) {
    out = j.get<double>();
    return true;
  }
  if (!j.is_string()) return false;
  const std::string& s = j.get_ref<const std::string&>();
  if (s == "NaN")
    out = std::nan("");
  else if (s == "Infinity")
    out = HUGE_VAL;
  else if (s == "-Infinity")
    out = -HUGE_VAL;
  else
    return false;
  return true;
}

// The time as JSON (text or null); false when it has no exact text.
bool TimeJson(const GVTIMEDATE& t, Json& out) {
  std::string text;
  bool null = false;
  if (!TimeText(t, text, null)) return false;
  out = null ? Json(nullptr) : Json(text);
  return true;
}

bool TimeOf(const Json& j, GVTIMEDATE& out) {
  if (j.is_null()) {
    plexa::TimeFields f;
    out = plexa::EncodeTime(f);
    return true;
  }
  return j.is_string() && ParseTimeText(j.get_ref<const std::string&>(), out);
}

// The JSON form of one stored row; false when only its raw bytes render it exactly.
bool ItemValueJson(const StoredItem& it, Json& item) {
  if (it.type == GVTYPE_OTHER) {
    item["data"] = Base64Encode(
        std::string_view(reinterpret_cast<const char*>(it.value.data()), it.value.size()));
    return true;
  }
  if (it.type == GVTYPE_COMPOSITE) {
    std::string_view records(reinterpret_cast<const char*>(it.value.data()), it.value.size());
    std::string text;
    if (plexa::rt::ToText(records, text) != 0) return false;
    item["text"] = text;
    item["records"] = Base64Encode(records);
    return true;
  }
  plexa::Value v;
  if (plexa::DecodeItem(it.type, it.value, v) != 0) return false;
  // A list whose bytes hold more than the list (or a single value stored as a longer list)
  // would not be written back byte for byte.
  if (plexa::EncodeItem(v) != it.value) return false;
  auto pairs = [](auto& ranges, auto convert) {
    Json list = Json::array();
    for (size_t i = 0; i + 1 < ranges.size(); i += 2)
      list.push_back(Json::array({convert(ranges[i]), convert(ranges[i + 1])}));
    return list;
  };
  switch (it.type) {
    case GVTYPE_NUMBER:
      item["value"] = NumberJson(v.numbers.front());
      return true;
    case GVTYPE_NUMBER_LIST: {
      Json list = Json::array();
      for (double d : v.numbers) list.push_back(NumberJson(d));
      item["value"] = list;
      if (!v.numberRanges.empty()) item["ranges"] = pairs(v.numberRanges, NumberJson);
      return true;
    }
    case GVTYPE_TEXT:
    case GVTYPE_TEXT_LIST: {
      for (const std::string& t : v.texts)
        if (!ValidUtf8(t)) return false;
      item["value"] = it.type == GVTYPE_TEXT ? Json(v.texts.front()) : Json(v.texts);
      return true;
    }
    case GVTYPE_TIME:
    case GVTYPE_TIME_LIST: {
      Json list = Json::array();
      for (const GVTIMEDATE& t : v.times) {
        Json one;
        if (!TimeJson(t, one)) return false;
        list.push_back(one);
      }
      bool ok = true;
      Json ranges = pairs(v.timeRanges, [&](const GVTIMEDATE& t) {
        Json one;
        if (!TimeJson(t, one)) ok = false;
        return one;
      });
      if (!ok) return false;
      item["value"] = it.type == GVTYPE_TIME ? list.front() : list;
      if (!v.timeRanges.empty()) item["ranges"] = ranges;
      return true;
    }
    default:
      return false;
  }
}

Json ItemJson(const StoredItem& it) {
  Json item = Json::object();
  item["name"] = it.name;
  const char* word = TypeWord(it.type);
  item["type"] = word != nullptr ? Json(word) : Json(it.type);
  if (it.flags != 0) item["flags"] = it.flags;
  Json value = item;
  if (word != nullptr && ItemValueJson(it, value)) return value;
  item["raw"] = Base64Encode(
      std::string_view(reinterpret_cast<const char*>(it.value.data()), it.value.size()));
  return item;
}

[[nodiscard]] uint32_t Engine(uint32_t st, std::string& error) {
  const plexa::LastError& e = plexa::GetLastError();
  error = e.status == st && !e.text.empty() ? e.text : plexa::StatusText(st);
  return st;
}

// ---------------------------------------------------------------- import --------------

// One note read from a line.
struct NoteLine {
  plexa::Unid unid{};
  uint32_t cls = plexa::kClassDocument;
  bool hasParent = false;
  plexa::Unid parent{};
  bool hasCreated = false;
  GVTIMEDATE created{};
  std::vector<StoredItem> items;
  struct Attachment {
    std::string name, data;
  };
  std::vector<Attachment> attachments;
};

// Reads a list value of kind from the "value" array (and "ranges") into v.
bool ListValue(const Json& item, uint32_t type, plexa::Value& v, std::string& why) {
  const Json& value = item["value"];
  if (!value.is_array()) {
    why = "a list value is an array";
    return false;
  }
  v.type = type;
  for (const Json& e : value) {
    if (type == GVTYPE_TEXT_LIST) {
      if (!e.is_string()) return why = "a text list holds texts", false;
      v.texts.push_back(e.get<std::string>());
    } else if (type == GVTYPE_NUMBER_LIST) {
      double d = 0;
      if (!NumberOf(e, d)) return why = "a number list holds numbers", false;
      v.numbers.push_back(d);
    } else {
      GVTIMEDATE t{};
      if (!TimeOf(e, t)) return why = "not a date-time: " + e.dump(), false;
      v.times.push_back(t);
    }
  }
  if (item.contains("ranges") && type != GVTYPE_TEXT_LIST) {
    const Json& ranges = item["ranges"];
    if (!ranges.is_array()) return why = "\"ranges\" is not an array", false;
    for (const Json& pair : ranges) {
      if (!pair.is_array() || pair.size() != 2) return why = "a range is a pair", false;
      for (const Json& e : pair) {
        if (type == GVTYPE_NUMBER_LIST) {
          double d = 0;
          if (!NumberOf(e, d)) return why = "a range of numbers holds numbers", false;
          v.numberRanges.push_back(d);
        } else {
          GVTIMEDATE t{};
          if (!TimeOf(e, t)) return why = "not a date-time: " + e.dump(), false;
          v.timeRanges.push_back(t);
        }
      }
    }
  }
  return true;
}

// The rows one JSON item makes (rich text from text: as many pieces as it needs).
bool ItemRows(const Json& item, std::vector<StoredItem>& rows, std::string& why) {
  if (!item.is_object()) return why = "an item is an object", false;
  if (!item.contains("name") || !item["name"].is_string())
    return why = "an item needs a \"name\"", false;
  std::string name = item["name"].get<std::string>();
  if (name.empty() || name.size() >= GV_ITEM_NAME_SIZE)
    return why = "item name of 1 to 255 bytes", false;
  uint32_t type = 0;
  if (!item.contains("type")) return why = name + ": no \"type\"", false;
  const Json& t = item["type"];
  if (!(t.is_string() && TypeOfWord(t.get_ref<const std::string&>(), type)))
    return why = name + ": unknown type " + t.dump(), false;
  uint32_t flags = 0;
  if (item.contains("flags")) {
    if (!item["flags"].is_number_unsigned()) return why = name + ": bad \"flags\"", false;
    flags = item["flags"].get<uint32_t>();
  }
  auto add = [&](std::string_view bytes) {
    StoredItem it;
    it.name = name;
    it.type = type;
    it.flags = flags;
    it.value.assign(bytes.begin(), bytes.end());
    rows.push_back(std::move(it));
  };
  auto check = [&](std::string_view bytes) {
    if (type == GVTYPE_COMPOSITE) return plexa::rt::Validate(bytes, true) == 0;
    if (type == GVTYPE_OTHER) return bytes.size() <= GV_MAX_VALUE;
    plexa::Value v;
    return plexa::DecodeItem(type, bytes, v) == 0 && bytes.size() <= GV_MAX_VALUE + 4;
  };
  if (item.contains("raw")) {
    std::string bytes;
    if (!item["raw"].is_string() || !Base64Decode(item["raw"].get<std::string>(), bytes) ||
        !check(bytes))
      return why = name + ": bad \"raw\" bytes", false;
    add(bytes);
    return true;
  }
  if (type == GVTYPE_OTHER || (type == GVTYPE_COMPOSITE && item.contains("records"))) {
    const char* key = type == GVTYPE_OTHER ? "data" : "records";
    std::string bytes;
    if (!item.contains(key) || !item[key].is_string() ||
        !Base64Decode(item[key].get<std::string>(), bytes) || !check(bytes))
      return why = name + ": bad \"" + key + "\"", false;
    add(bytes);
    return true;
  }
  if (type == GVTYPE_COMPOSITE) {
    if (!item.contains("text") || !item["text"].is_string())
      return why = name + ": rich text needs \"records\" or \"text\"", false;
    for (const std::string& piece :
         plexa::rt::CutPieces(plexa::rt::FromText(item["text"].get<std::string>())))
      add(piece);
    return true;
  }
  if (!item.contains("value")) return why = name + ": no \"value\"", false;
  const Json& value = item["value"];
  plexa::Value v;
  switch (type) {
    case GVTYPE_NUMBER: {
      double d = 0;
      if (!NumberOf(value, d)) return why = name + ": not a number", false;
      v = plexa::Value::Number(d);
      break;
    }
    case GVTYPE_TEXT:
      if (!value.is_string()) return why = name + ": not a text", false;
      v = plexa::Value::Text(value.get<std::string>());
      break;
    case GVTYPE_TIME: {
      GVTIMEDATE tm{};
      if (!TimeOf(value, tm)) return why = name + ": not a date-time", false;
      v = plexa::Value::Time(tm);
      break;
    }
    default: {
      std::string listWhy;
      if (!ListValue(item, type, v, listWhy)) return why = name + ": " + listWhy, false;
      break;
    }
  }
  std::vector<uint8_t> bytes;
  if (plexa::EncodeItem(v, bytes) != 0 ||
      !check(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
    return why = name + ": value too large", false;
  add(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return true;
}

bool ParseLine(const Json& j, NoteLine& out, std::string& why) {
  if (!j.is_object()) return why = "not an object", false;
  NoteLine n;
  if (j.contains("unid") && !j["unid"].is_null()) {
    if (!j["unid"].is_string() || !ParseUnid(j["unid"].get<std::string>(), n.unid))
      return why = "\"unid\" is not 32 hexadecimal digits", false;
  }
  if (j.contains("class")) {
    const Json& c = j["class"];
    if (c == "document")
      n.cls = plexa::kClassDocument;
    else if (c == "info")
      n.cls = plexa::kClassInfo;
    else
      return why = "unknown class " + c.dump(), false;
  }
  if (j.contains("parent") && !j["parent"].is_null()) {
    if (!j["parent"].is_string() || !ParseUnid(j["parent"].get<std::string>(), n.parent))
      return why = "\"parent\" is not 32 hexadecimal digits", false;
    n.hasParent = !IsZero(n.parent);
  }
  if (j.contains("created") && !j["created"].is_null()) {
    if (!TimeOf(j["created"], n.created)) return why = "\"created\" is not a date-time", false;
    n.hasCreated = true;
  }
  if (j.contains("items")) {
    if (!j["items"].is_array()) return why = "\"items\" is not an array", false;
    for (const Json& item : j["items"])
      if (!ItemRows(item, n.items, why)) return false;
  }
  if (j.contains("attachments")) {
    if (!j["attachments"].is_array()) return why = "\"attachments\" is not an array", false;
    for (const Json& a : j["attachments"]) {
      NoteLine::Attachment att;
      if (!a.is_object() || !a.contains("name") || !a["name"].is_string() || !a.contains("data") ||
          !a["data"].is_string() || !Base64Decode(a["data"].get<std::string>(), att.data))
        return why = "an attachment needs \"name\" and base64 \"data\"", false;
      att.name = a["name"].get<std::string>();
      if (att.name.empty() || att.name.size() >= sizeof(GVAttachmentInfo::name) ||
          att.name.find('/') != std::string::npos || att.name == "." || att.name == "..")
        return why = "attachment name " + a["name"].dump(), false;
      n.attachments.push_back(std::move(att));
    }
  }
  out = std::move(n);
  return true;
}

[[nodiscard]] uint32_t StoreLine(plexa::Txn& txn, const NoteLine& n) {
  plexa::Database& db = txn.db();
  plexa::IndexMaintainer* ix = db.indexer();
  GVNOTEID id = 0;
  uint32_t oldClass = 0;
  if (!IsZero(n.unid))
    if (uint32_t s = plexa::FindNoteByUnid(txn, n.unid, id, oldClass)) return s;
  const GVTIMEDATE now = plexa::CurrentTime();
  if (id != 0) {
    if (oldClass != plexa::kClassDocument && oldClass != plexa::kClassInfo)
      return plexa::Fail(GVERR_EXISTS, "a design note has this identity");
    if (oldClass == plexa::kClassDocument && ix != nullptr)
      if (uint32_t s = ix->OnDelete(txn, id)) return s;
    for (const char* sql :
         {"DELETE FROM view_entry WHERE note=?", "DELETE FROM attachment WHERE note=?",
          "DELETE FROM item_part WHERE note=?"})
      if (uint32_t s = plexa::RunSql(txn, sql, id)) return s;
    std::string created = plexa::EncodeStoredTime(n.created);
    if (uint32_t s = plexa::RunSql(
            txn,
            "UPDATE note SET class=?, form_key=?, parent=?, modified=?, seq=seq+1, "
            "created=COALESCE(?, created), items=?, parts=0 WHERE id=?",
            n.cls, plexa::TextOrNull(plexa::FormKeyOf(n.items)),
            plexa::ParentParam(n.hasParent, n.parent), plexa::AsBlob(plexa::EncodeStoredTime(now)),
            n.hasCreated ? std::optional(plexa::AsBlob(created)) : std::nullopt,
            plexa::AsBlob(plexa::PackItems(n.items)), id))
      return s;
    if (uint32_t s = plexa::IndexNote(txn, id, plexa::NoteText(n.items), false, true)) return s;
  } else {
    plexa::NoteRow row;
    row.unid = n.unid;
    row.cls = n.cls;
    row.has_parent = n.hasParent;
    row.parent = n.parent;
    if (n.hasCreated) row.created = n.created;
    row.modified = now;
    row.seq = 1;
    if (uint32_t s = plexa::InsertNewNote(txn, row, n.items)) return s;
    id = row.id;
  }
  const std::string modified = plexa::EncodeStoredTime(now);
  for (const NoteLine::Attachment& a : n.attachments)
    if (uint32_t s = plexa::WriteAttachmentRow(txn, id, a.name, a.data,
                                               static_cast<int64_t>(a.data.size()), modified))
      return s;
  // A replaced note's view rows were removed above.
  if (n.cls == plexa::kClassDocument && ix != nullptr)
    return ix->OnInsert(txn, id, *plexa::MakeItemSource(n.items));
  return 0;
}

}  // namespace

std::string HexOf(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kHex[p[i] >> 4];
    out += kHex[p[i] & 15];
  }
  return out;
}

// ---------------------------------------------------------------- base64 ------------------

std::string Base64Encode(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    for (int k = 18; k >= 0; k -= 6) out += kAlphabet[(v >> k) & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return false;
  std::string bytes;
  bytes.reserve(text.size() * 3 / 4);
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  out = std::move(bytes);
  return true;
}

// ---------------------------------------------------------------- times -------------------

bool TimeText(const GVTIMEDATE& time, std::string& out, bool& null) {
  plexa::TimeFields f;
  if (plexa::DecodeTime(time, f) != 0) return false;
  if (f.dateNull && f.timeNull) {
    out.clear();
    null = true;
    return true;
  }
  char buffer[64];
  std::string text;
  if (!f.dateNull) {
    plexa::CivilDate c = plexa::CivilFromJulian(f.julian);
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(c.year),
                  c.month, c.day);
    text += buffer;
  }
  if (!f.timeNull) {
    int64_t t = f.ticks;
    std::snprintf(buffer, sizeof buffer, "T%02d:%02d:%02d.%02d", static_cast<int>(t / 360000),
                  static_cast<int>(t / 6000 % 60), static_cast<int>(t / 100 % 60),
                  static_cast<int>(t % 100));
    text += buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%c%02d%s", f.zone < 0 ? '-' : '+', std::abs(f.zone),
                f.dst ? "D" : "");
  text += buffer;
  GVTIMEDATE back{};
  if (!ParseTimeText(text, back) || std::memcmp(&back, &time, sizeof back) != 0) return false;
  out = std::move(text);
  null = false;
  return true;
}

bool ParseTimeText(std::string_view text, GVTIMEDATE& out) {
  size_t pos = 0;
  auto digits = [&](size_t min, size_t max, int64_t& v) {
    size_t start = pos;
    v = 0;
    while (pos < text.size() && pos - start < max && text[pos] >= '0' && text[pos] <= '9')
      v = v * 10 + (text[pos++] - '0');
    return pos - start >= min;
  };
  auto expect = [&](char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
  };
  plexa::TimeFields f;
  if (pos < text.size() && text[pos] != 'T') {
    int64_t y = 0, m = 0, d = 0;
    if (!digits(4, 5, y) || !expect('-') || !digits(2, 2, m) || !expect('-') || !digits(2, 2, d))
      return false;
    if (y < 1 || y > 32767 || m < 1 || m > 12 || d < 1 ||
        d > plexa::DaysInMonth(y, static_cast<int>(m)))
      return false;
    f.dateNull = false;
    f.julian = plexa::JulianFromCivil(y, static_cast<int>(m), static_cast<int>(d));
  }
  if (pos < text.size() && text[pos] == 'T') {
    ++pos;
    int64_t h = 0, mi = 0, s = 0, hh = 0;
    if (!digits(2, 2, h) || !expect(':') || !digits(2, 2, mi) || !expect(':') || !digits(2, 2, s) ||
        !expect('.') || !digits(2, 2, hh))
      return false;
    if (h > 23 || mi > 59 || s > 59) return false;
    f.timeNull = false;
    f.ticks = ((h * 60 + mi) * 60 + s) * 100 + hh;
  }
  if (f.dateNull && f.timeNull) return false;
  if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return false;
  const bool west = text[pos++] == '-';
  int64_t zone = 0;
  if (!digits(2, 2, zone)) return false;
  f.zone = static_cast<int>(west ? -zone : zone);
  if (f.zone < -12 || f.zone > 14) return false;
  if (pos < text.size() && text[pos] == 'D') {
    f.dst = 1;
    ++pos;
  }
  if (pos != text.size()) return false;
  out = plexa::EncodeTime(f);
  return true;
}

// ---------------------------------------------------------------- export / import --------

uint32_t ExportNotes(plexa::Database& db, uint32_t classMask, std::string_view form,
                     std::ostream& out, std::string& error) {
  plexa::Txn txn(db);
  if (uint32_t st = txn.Begin(plexa::Txn::kRead)) return Engine(st, error);
  const std::string formKey = plexa::FoldAscii(form);
  uint32_t st = plexa::ScanNotes(
      txn, classMask, formKey, true,
      [&](GVNOTEID note, std::vector<StoredItem>& items) -> uint32_t {
        plexa::NoteRow row;
        if (uint32_t s = plexa::ReadNote(txn, note, row)) return s;
        Json line = Json::object();
        line["note"] = note;
        line["unid"] = HexOf(row.unid.data(), row.unid.size());
        line["class"] = row.cls == plexa::kClassInfo ? "info" : "document";
        line["parent"] =
            row.has_parent ? Json(HexOf(row.parent.data(), row.parent.size())) : Json(nullptr);
        Json t;
        line["created"] = TimeJson(row.created, t) ? t : Json(nullptr);
        line["modified"] = TimeJson(row.modified, t) ? t : Json(nullptr);
        Json list = Json::array();
        for (const StoredItem& it : items) list.push_back(ItemJson(it));
        line["items"] = std::move(list);
        Json atts = Json::array();
        plexa::Stmt attachments;
        if (uint32_t s =
                plexa::Query(txn, "SELECT name, data FROM attachment WHERE note=? ORDER BY name",
                             attachments, note))
          return s;
        if (uint32_t s = attachments.ForEachRow([&](const plexa::Stmt& r) {
              atts.push_back(Json::object(
                  {{"name", std::string(r.Text(0))}, {"data", Base64Encode(r.Blob(1))}}));
            }))
          return s;
        if (!atts.empty()) line["attachments"] = std::move(atts);
        out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        return 0;
      });
  if (st != 0) return Engine(st, error);
  if (!out) {
    error = "cannot write the output";
    return GVERR_FILE;
  }
  return 0;
}

uint32_t ImportNotes(plexa::Database& db, std::istream& in, size_t& count, std::string& error) {
  // One transaction for the whole file: with the engine's small page cache it spills its
  // pages to the log and reads them back over and over.
  if (db.pg() == nullptr)
    if (uint32_t st = db.Exec("PRAGMA cache_size = -65536")) return Engine(st, error);
  plexa::Txn txn(db);
  if (uint32_t st = txn.Begin(plexa::Txn::kWrite)) return Engine(st, error);
  size_t lineNo = 0, stored = 0;
  std::string line;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    Json j = Json::parse(line, nullptr, false);
    std::string why;
    NoteLine note;
    if (j.is_discarded())
      why = "not valid JSON";
    else
      ParseLine(j, note, why);
    if (!why.empty()) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return GVERR_INVALID_ARGUMENT;
    }
    if (uint32_t st = StoreLine(txn, note)) {
      // Only the text it puts in error is wanted; st is answered below.
      (void)Engine(st, error);
      error = "line " + std::to_string(lineNo) + ": " + error;
      return st;
    }
    ++stored;
  }
  if (uint32_t st = txn.Commit()) return Engine(st, error);
  count = stored;
  return 0;
}

}  // namespace plexadm
