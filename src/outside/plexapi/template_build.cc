// The template builder: a JSON description into a template database, through the same
// code that GVFormCreate and GVViewCreate use (a form's body is generated in the shape the
// connector writes: a paragraph definition, then per field a paragraph, its label, ":\t"
// and the field record).
#include "template_build.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "design.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "tw/coding.h"
#include "value.h"
#include "view_index.h"

namespace plexa {
namespace {

using Json = nlohmann::json;

struct AccessName {
  const char* name;
  uint32_t access;
};
constexpr AccessName kAccess[] = {{"none", GVACCESS_NONE},
                                  {"reader", GVACCESS_READER},
                                  {"author", GVACCESS_AUTHOR},
                                  {"editor", GVACCESS_EDITOR},
                                  {"manager", GVACCESS_MANAGER}};

void RemoveDatabaseFiles(const std::string& path) {
  unlink((path + "-wal").c_str());
  unlink((path + "-shm").c_str());
  unlink((path + "-journal").c_str());
  unlink(path.c_str());
}

class Builder {
 public:
  explicit Builder(std::string& error) : error_(error) {}

  uint32_t Run(const Json& root, Database& db) {
    if (!root.is_object()) return Bad("", "the description is not an object");
    Txn txn(db);
    if (uint32_t st = txn.Begin(Txn::kWrite)) return Engine("", st);
    if (uint32_t st = db.SetMeta("is_template", 1)) return Engine("", st);
    if (uint32_t st = Each(root, "forms",
                           [&](const Json& f, const std::string& at) { return Form(db, f, at); }))
      return st;
    if (uint32_t st = Each(root, "views",
                           [&](const Json& v, const std::string& at) { return View(db, v, at); }))
      return st;
    if (uint32_t st = Each(root, "agents",
                           [&](const Json& a, const std::string& at) { return Agent(db, a, at); }))
      return st;
    if (uint32_t st = Each(root, "documents", [&](const Json& d, const std::string& at) {
          return Document(txn, d, at);
        }))
      return st;
    if (uint32_t st = Each(root, "acl",
                           [&](const Json& a, const std::string& at) { return Acl(txn, a, at); }))
      return st;
    if (uint32_t st = txn.Commit()) return Engine("", st);
    return 0;
  }

 private:
  uint32_t Bad(const std::string& at, const std::string& what) {
    error_ = at.empty() ? what : at + ": " + what;
    return GVERR_INVALID_ARGUMENT;
  }
  uint32_t Engine(const std::string& at, uint32_t st) {
    std::string text = GetLastError().status == st ? GetLastError().text : StatusText(st);
    error_ = at.empty() ? text : at + ": " + text;
    return st;
  }

  template <class F>
  uint32_t Each(const Json& root, const char* key, F&& fn) {
    if (!root.contains(key)) return 0;
    const Json& list = root[key];
    if (!list.is_array()) return Bad(key, "not an array");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string at = std::string(key) + "[" + std::to_string(i) + "]";
      if (!list[i].is_object()) return Bad(at, "not an object");
      if (uint32_t st = fn(list[i], at)) return st;
    }
    return 0;
  }

  uint32_t Text(const Json& obj, const char* key, const std::string& at, bool required,
                std::string& out) {
    if (!obj.contains(key)) {
      if (required) return Bad(at, std::string("no \"") + key + "\"");
      out.clear();
      return 0;
    }
    if (!obj[key].is_string()) return Bad(at, std::string("\"") + key + "\" is not a text");
    out = obj[key].get<std::string>();
    return 0;
  }

  uint32_t Flag(const Json& obj, const char* key, const std::string& at, bool fallback, bool& out) {
    if (!obj.contains(key)) {
      out = fallback;
      return 0;
    }
    if (!obj[key].is_boolean()) return Bad(at, std::string("\"") + key + "\" is not true/false");
    out = obj[key].get<bool>();
    return 0;
  }

  uint32_t Type(const Json& obj, const std::string& at, uint32_t& out) {
    std::string name;
    if (uint32_t st = Text(obj, "type", at, true, name)) return st;
    if (TypeOfWord(name, out)) return 0;
    return Bad(at, "unknown type \"" + name + "\"");
  }

  uint32_t Form(Database& db, const Json& f, const std::string& at) {
    std::string name;
    if (uint32_t st = Text(f, "name", at, true, name)) return st;
    GVFormDesign design{};
    design.formType = GVFORM_DOCUMENT;
    if (name.empty() || name.size() > kMaxDesignName) return Bad(at, "name of 1 to 127 bytes");
    std::memcpy(design.name, name.data(), name.size());
    std::string body;
    rt::AppendParagraphDef(body, GVCDSIG_PARDEF, GVParagraphDef{});
    if (f.contains("fields")) {
      const Json& fields = f["fields"];
      if (!fields.is_array()) return Bad(at, "\"fields\" is not an array");
      for (size_t i = 0; i < fields.size(); ++i) {
        std::string fat = at + ".fields[" + std::to_string(i) + "]";
        const Json& field = fields[i];
        if (!field.is_object()) return Bad(fat, "not an object");
        rt::FieldDef def;
        uint32_t type = 0;
        bool stored = true;
        if (uint32_t st = Text(field, "name", fat, true, def.name)) return st;
        if (uint32_t st = Type(field, fat, type)) return st;
        if (uint32_t st = Text(field, "default", fat, false, def.defaultFormula)) return st;
        if (uint32_t st = Flag(field, "stored", fat, true, stored)) return st;
        const bool list =
            type == GVTYPE_TEXT_LIST || type == GVTYPE_NUMBER_LIST || type == GVTYPE_TIME_LIST;
        def.head.assign(64, '\0');
        tw::put_u32(&def.head[0], type);
        tw::put_u32(&def.head[4], stored ? GVFIELDF_STORED : 0);
        def.head[15] = 0x0A;
        def.head[16] = 1;
        tw::put_u32(&def.head[40], 2);
        tw::put_u32(&def.head[44], 2);
        tw::put_u32(&def.head[48], list ? GVFIELD_MULTIVALUE : 0);
        rt::AppendParagraph(body);
        rt::AppendText(body, def.name);
        rt::AppendText(body, ":\t");
        if (rt::AppendField(body, def) != 0) return Bad(fat, "field name of 1 to 64 bytes");
      }
    }
    GVNOTEID id = 0;
    if (uint32_t st = CreateForm(db, design, body, id)) return Engine(at, st);
    return 0;
  }

  uint32_t View(Database& db, const Json& v, const std::string& at) {
    ViewSpec spec;
    std::string style;
    bool responses = false;
    if (uint32_t st = Text(v, "name", at, true, spec.name)) return st;
    if (uint32_t st = Text(v, "style", at, false, style)) return st;
    if (uint32_t st = Flag(v, "responses", at, false, responses)) return st;
    if (uint32_t st = Text(v, "selection", at, false, spec.selection)) return st;
    if (style.empty() || style == "standard")
      spec.style = GVVIEW_STANDARD;
    else if (style == "temporary")
      spec.style = GVVIEW_TEMPORARY;
    else
      return Bad(at, "unknown style \"" + style + "\"");
    spec.flags = responses ? GVVIEWF_RESPONSES : 0;
    if (v.contains("columns")) {
      const Json& cols = v["columns"];
      if (!cols.is_array()) return Bad(at, "\"columns\" is not an array");
      for (size_t i = 0; i < cols.size(); ++i) {
        std::string cat = at + ".columns[" + std::to_string(i) + "]";
        const Json& c = cols[i];
        if (!c.is_object()) return Bad(cat, "not an object");
        ViewSpec::Column col;
        std::string sort;
        bool category = false, expand = false;
        if (uint32_t st = Text(c, "formula", cat, true, col.formula)) return st;
        if (uint32_t st = Text(c, "title", cat, false, col.title)) return st;
        if (uint32_t st = Text(c, "sort", cat, false, sort)) return st;
        if (uint32_t st = Flag(c, "category", cat, false, category)) return st;
        if (uint32_t st = Flag(c, "expand", cat, false, expand)) return st;
        if (sort == "ascending")
          col.kind = GVCOL_SORTED;
        else if (sort == "descending")
          col.kind = GVCOL_SORTED | GVCOL_DESCENDING;
        else if (!sort.empty() && sort != "none")
          return Bad(cat, "unknown sort \"" + sort + "\"");
        if (category) col.kind |= GVCOL_CATEGORY;
        if (expand) col.kind |= GVCOL_EXPAND;
        spec.columns.push_back(std::move(col));
      }
    }
    GVNOTEID id = 0;
    if (uint32_t st = CreateView(db, spec, id)) return Engine(at, st);
    return 0;
  }

  uint32_t Agent(Database& db, const Json& a, const std::string& at) {
    AgentSpec spec;
    std::string kind;
    if (uint32_t st = Text(a, "name", at, true, spec.name)) return st;
    if (uint32_t st = Text(a, "kind", at, false, kind)) return st;
    if (uint32_t st = Text(a, "selection", at, false, spec.selection)) return st;
    if (uint32_t st = Text(a, "action", at, false, spec.action)) return st;
    if (kind.empty() || kind == "acts")
      spec.kind = GVAGENT_ACTS;
    else if (kind == "selects")
      spec.kind = GVAGENT_SELECTS;
    else if (kind == "script")
      spec.kind = GVAGENT_SCRIPT;
    else
      return Bad(at, "unknown kind \"" + kind + "\"");
    GVNOTEID id = 0;
    if (uint32_t st = CreateAgent(db, spec, id)) return Engine(at, st);
    return 0;
  }

  uint32_t Time(const Json& v, const std::string& at, GVTIMEDATE& out) {
    if (!v.is_string()) return Bad(at, "a date-time is a text");
    if (TextToTime(v.get<std::string>(), International{}, out) != 0)
      return Bad(at, "not a date-time: " + v.get<std::string>());
    return 0;
  }

  uint32_t ItemValue(const Json& item, uint32_t type, const std::string& at, StoredItem& out) {
    if (!item.contains("value")) return Bad(at, "no \"value\"");
    const Json& v = item["value"];
    Value value;
    switch (type) {
      case GVTYPE_NUMBER:
        if (!v.is_number()) return Bad(at, "not a number");
        value = Value::Number(v.get<double>());
        break;
      case GVTYPE_TEXT:
        if (!v.is_string()) return Bad(at, "not a text");
        value = Value::Text(v.get<std::string>());
        break;
      case GVTYPE_TIME: {
        GVTIMEDATE t{};
        if (uint32_t st = Time(v, at, t)) return st;
        value = Value::Time(t);
        break;
      }
      case GVTYPE_TEXT_LIST:
      case GVTYPE_NUMBER_LIST:
      case GVTYPE_TIME_LIST: {
        if (!v.is_array()) return Bad(at, "a list value is an array");
        std::vector<std::string> texts;
        std::vector<double> numbers;
        std::vector<GVTIMEDATE> times;
        for (const Json& e : v) {
          if (type == GVTYPE_TEXT_LIST) {
            if (!e.is_string()) return Bad(at, "not a text");
            texts.push_back(e.get<std::string>());
          } else if (type == GVTYPE_NUMBER_LIST) {
            if (!e.is_number()) return Bad(at, "not a number");
            numbers.push_back(e.get<double>());
          } else {
            GVTIMEDATE t{};
            if (uint32_t st = Time(e, at, t)) return st;
            times.push_back(t);
          }
        }
        value = type == GVTYPE_TEXT_LIST     ? Value::TextList(std::move(texts))
                : type == GVTYPE_NUMBER_LIST ? Value::NumberList(std::move(numbers))
                                             : Value::TimeList(std::move(times));
        break;
      }
      case GVTYPE_COMPOSITE:
        if (!v.is_string()) return Bad(at, "rich text is given as its text");
        value = Value::Composite(rt::FromText(v.get<std::string>()));
        break;
      default:
        if (!v.is_string()) return Bad(at, "other bytes are given as a text");
        value.type = GVTYPE_OTHER;
        value.records = v.get<std::string>();
        break;
    }
    std::vector<uint8_t> bytes;
    if (EncodeItem(value, bytes) != 0 ||
        (type != GVTYPE_COMPOSITE && bytes.size() > GV_MAX_VALUE + 4))
      return Bad(at, "value too large");
    out.type = type;
    out.value.assign(bytes.begin(), bytes.end());
    return 0;
  }

  uint32_t Document(Txn& txn, const Json& d, const std::string& at) {
    std::string cls;
    if (uint32_t st = Text(d, "class", at, false, cls)) return st;
    NoteRow row;
    if (cls.empty() || cls == "document")
      row.cls = kClassDocument;
    else if (cls == "info")
      row.cls = kClassInfo;
    else
      return Bad(at, "unknown class \"" + cls + "\"");
    std::vector<StoredItem> items;
    if (d.contains("items")) {
      const Json& list = d["items"];
      if (!list.is_array()) return Bad(at, "\"items\" is not an array");
      for (size_t i = 0; i < list.size(); ++i) {
        std::string iat = at + ".items[" + std::to_string(i) + "]";
        const Json& item = list[i];
        if (!item.is_object()) return Bad(iat, "not an object");
        StoredItem it;
        uint32_t type = 0;
        if (uint32_t st = Text(item, "name", iat, true, it.name)) return st;
        if (it.name.empty() || it.name.size() >= GV_ITEM_NAME_SIZE)
          return Bad(iat, "item name of 1 to 255 bytes");
        if (uint32_t st = Type(item, iat, type)) return st;
        if (uint32_t st = ItemValue(item, type, iat, it)) return st;
        if (FoldAscii(it.name) == "form" && row.form_key.empty() && type == GVTYPE_TEXT)
          row.form_key = FoldAscii(item["value"].get<std::string>());
        items.push_back(std::move(it));
      }
    }
    row.seq = 1;
    if (uint32_t st = InsertNote(txn, row)) return Engine(at, st);
    if (uint32_t st = InsertItemRows(txn, row.id, items)) return Engine(at, st);
    if (row.cls == kClassDocument) {
      std::unique_ptr<ItemSource> source = MakeItemSource(std::move(items));
      if (uint32_t st = CacheOf(txn.db()).indexer().OnStore(txn, row.id, *source))
        return Engine(at, st);
    }
    return 0;
  }

  uint32_t Acl(Txn& txn, const Json& a, const std::string& at) {
    std::string name;
    if (uint32_t st = Text(a, "name", at, false, name)) return st;
    if (name.size() >= sizeof(GVACLEntry::name)) return Bad(at, "name too long");
    uint32_t access = GVACCESS_NONE;
    if (!a.contains("access")) return Bad(at, "no \"access\"");
    const Json& v = a["access"];
    if (v.is_number_unsigned()) {
      access = v.get<uint32_t>();
    } else if (v.is_string()) {
      std::string word = v.get<std::string>();
      bool found = false;
      for (const AccessName& n : kAccess)
        if (word == n.name) {
          access = n.access;
          found = true;
        }
      if (!found) return Bad(at, "unknown access \"" + word + "\"");
    } else {
      return Bad(at, "\"access\" is a word or a number");
    }
    if (uint32_t s =
            RunSql(txn, "INSERT OR REPLACE INTO acl(name_key, name, access, flags) VALUES(?,?,?,0)",
                   FoldAscii(name), name, access))
      return Engine(at, s);
    return 0;
  }

  std::string& error_;
};

}  // namespace

uint32_t BuildTemplate(std::string_view description, const std::string& out, std::string& error) {
  try {
    EnsureDesignHooks();
    Json root = Json::parse(description.begin(), description.end(), nullptr, false);
    if (root.is_discarded()) {
      error = "the description is not valid JSON";
      return GVERR_INVALID_ARGUMENT;
    }
    std::string title;
    if (root.is_object() && root.contains("title")) {
      if (!root["title"].is_string()) {
        error = "\"title\" is not a text";
        return GVERR_INVALID_ARGUMENT;
      }
      title = root["title"].get<std::string>();
    }
    if (title.size() >= GV_TITLE_SIZE) {
      error = "title longer than 127 bytes";
      return GVERR_INVALID_ARGUMENT;
    }
    const std::string temp = out + ".build-" + std::to_string(getpid());
    RemoveDatabaseFiles(temp);
    struct Cleanup {
      const std::string& path;
      ~Cleanup() { RemoveDatabaseFiles(path); }
    } cleanup{temp};
    {
      std::unique_ptr<Database> db;
      if (uint32_t st = Database::Create(temp, title, BusyTimeoutMs(), db)) {
        error = GetLastError().status == st ? GetLastError().text : StatusText(st);
        return st;
      }
      Builder builder(error);
      if (uint32_t st = builder.Run(root, *db)) return st;
      if (uint32_t st = db->Exec("PRAGMA wal_checkpoint(TRUNCATE)")) {
        error = StatusText(st);
        return st;
      }
    }
    // The last connection is closed, so the log is folded into the file; only the file
    // moves into place, and no log of an earlier build may be read with it.
    unlink((out + "-wal").c_str());
    unlink((out + "-shm").c_str());
    unlink((temp + "-wal").c_str());
    unlink((temp + "-shm").c_str());
    if (std::rename(temp.c_str(), out.c_str()) != 0) {
      error = out + ": " + std::strerror(errno);
      return GVERR_FILE;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return GVERR_NO_MEMORY;
  } catch (const std::exception& e) {
    error = e.what();
    return GVERR_INVALID_ARGUMENT;
  }
}

}  // namespace plexa
