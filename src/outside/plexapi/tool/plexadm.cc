// plexadm: the administrator's command-line tool for the document databases: servers,
// databases and templates, design listings, views and searches, documents and items, agents,
// and documents as JSON lines. Exit status 0 on success, 1 on failure (the reason on
// standard error).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "database.h"
#include "design.h"
#include "document.h"
#include "jsonl.h"
#include "paths.h"
#include "plexapi.h"
#include "richtext.h"
#include "template_build.h"
#include "timedate.h"
#include "value.h"
#include "view_index.h"

namespace {

constexpr const char* kUsage =
    "usage: plexadm [--root DIR] COMMAND ...\n"
    "  server add NAME | server list\n"
    "  create DB [--template PATH] [--title T] [--no-inherit]\n"
    "  copy SRC DST [--title T]\n"
    "  delete DB\n"
    "  list [--server S] [--templates]\n"
    "  build-template JSON OUT | dump-design DB\n"
    "  forms DB | views DB | agents DB\n"
    "  view DB NAME [--key TEXT | --number-key N]...\n"
    "  search DB FORMULA [--form F]\n"
    "  show DB NOTEID\n"
    "  new DB FORM [ITEM[:TYPE]=VALUE]...\n"
    "  put DB NOTEID ITEM TYPE VALUE\n"
    "  delete-item DB NOTEID ITEM\n"
    "  delete-doc DB NOTEID\n"
    "  agent run DB NAME | agent script DB NAME FILE | reindex DB [VIEW] | check DB\n"
    "  export DB [--form F] [--classes MASK]\n"
    "  import DB < FILE\n"
    "DB names a database as \"[server!!]file\"; TYPE is number, text, time, textlist,\n"
    "numberlist, timelist or richtext (lists comma-separated, times \"1996-11-05 14:07:09\").\n";

// ---------------------------------------------------------------- reporting -------------

std::string PlexaText(uint32_t status) {
  uint32_t last = 0;
  char text[GV_ERROR_TEXT_SIZE] = "";
  GVErrorFetch(&last, nullptr, text);
  if (last == status && text[0] != '\0') return text;
  GVErrorGetInfo(status, 0, text);
  return text;
}

int Complain(const std::string& what) {
  std::cerr << "plexadm: " << what << "\n";
  return 1;
}

// 0 when status is, else the complaint about what with the Plexa text.
int Check(uint32_t status, const std::string& what) {
  if (status == 0) return 0;
  return Complain(what + ": " + PlexaText(status));
}

// ---------------------------------------------------------------- arguments -------------

// The positional words and the options of a command: "--name value" or a flag.
struct Args {
  std::vector<std::string> words;
  std::multimap<std::string, std::string> options;
  bool Has(const std::string& name) const { return options.count(name) > 0; }
  std::string Get(const std::string& name, const std::string& fallback = "") const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
  std::vector<std::string> All(const std::string& name) const {
    std::vector<std::string> out;
    for (auto [it, end] = options.equal_range(name); it != end; ++it) out.push_back(it->second);
    return out;
  }
};

bool ParseArgs(const std::vector<std::string>& in, const std::vector<std::string>& valued,
               const std::vector<std::string>& flags, Args& out, std::string& error) {
  for (size_t i = 0; i < in.size(); ++i) {
    const std::string& a = in[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2);
      if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
        out.options.emplace(name, "");
      } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
        if (i + 1 >= in.size()) {
          error = a + " needs a value";
          return false;
        }
        out.options.emplace(name, in[++i]);
      } else {
        error = "unknown option " + a;
        return false;
      }
    } else {
      out.words.push_back(a);
    }
  }
  return true;
}

bool NoteIdOf(const std::string& text, GVNOTEID& out) {
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno != 0 || v == 0 || v > plexa::kMaxNoteId) return false;
  out = static_cast<GVNOTEID>(v);
  return true;
}

// ---------------------------------------------------------------- handles -------------

struct Session {
  uint32_t status = _GVInit(GV_VERSION, 0, 0, 0);
  ~Session() {
    if (status == 0) GVTerm(0);
  }
};

struct Db {
  GVDB handle = 0;
  ~Db() {
    if (handle != 0) GVDatabaseClose(handle, 0);
  }
  int Open(const std::string& name) {
    return Check(GVDatabaseOpen(nullptr, name.c_str(), 0, &handle), name);
  }
  plexa::Database& db() const { return *plexa::FindDatabase(handle); }
};

struct Doc {
  GVDOC handle = 0;
  ~Doc() {
    if (handle != 0) GVDocumentClose(handle, GVCLOSE_DISCARD);
  }
  // Stores and closes.
  uint32_t Close() {
    uint32_t st = GVDocumentClose(handle, GVCLOSE_STORE);
    handle = 0;
    return st;
  }
  const plexa::Document& doc() const { return *plexa::FindDocument(handle); }
};

struct Index {
  GVINDEX handle = 0;
  ~Index() {
    if (handle != 0) GVIndexClose(handle);
  }
};

// ---------------------------------------------------------------- values --------------

bool ParseTime(const std::string& text, GVTIMEDATE& out) {
  if (plexadm::ParseTimeText(text, out)) return true;
  return plexa::TextToTime(text, *plexa::CurrentInternational(), out) == 0;
}

std::string TimeString(const GVTIMEDATE& t) {
  std::string text;
  bool null = false;
  if (plexadm::TimeText(t, text, null)) return null ? "(null)" : text;
  return "(invalid)";
}

std::string NumberString(double d) {
  std::string text;
  if (plexa::NumberToText(d, text) != 0)
    return std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity";
  return text;
}

// Puts text as an item of the type named by word.
[[nodiscard]] uint32_t PutTyped(GVDOC doc, const std::string& name, const std::string& word,
                                const std::string& text, std::string& why) {
  const auto intl = plexa::CurrentInternational();
  if (word == "text")
    return GVItemPut(doc, name.c_str(), 0, static_cast<uint32_t>(text.size()), GVTYPE_TEXT,
                     text.c_str(), 0);
  if (word == "richtext")
    return GVItemPut(doc, name.c_str(), GVTYPE_COMPOSITE, static_cast<uint32_t>(text.size()),
                     GVTYPE_TEXT, text.c_str(), 0);
  if (word == "number") {
    double d = 0;
    if (plexa::TextToNumber(text, *intl, d) != 0)
      return why = "not a number: " + text, GVERR_INVALID_ARGUMENT;
    return GVItemPut(doc, name.c_str(), 0, 0, GVTYPE_NUMBER, &d, 0);
  }
  if (word == "time") {
    GVTIMEDATE t{};
    if (!ParseTime(text, t)) return why = "not a date-time: " + text, GVERR_INVALID_ARGUMENT;
    return GVItemPut(doc, name.c_str(), 0, 0, GVTYPE_TIME, &t, 0);
  }
  plexa::Value v;
  std::vector<std::string> entries = plexa::SplitList(text);
  if (word == "textlist") {
    v = plexa::Value::TextList(entries);
  } else if (word == "numberlist") {
    std::vector<double> numbers;
    for (const std::string& e : entries) {
      double d = 0;
      if (plexa::TextToNumber(e, *intl, d) != 0)
        return why = "not a number: " + e, GVERR_INVALID_ARGUMENT;
      numbers.push_back(d);
    }
    v = plexa::Value::NumberList(numbers);
  } else if (word == "timelist") {
    std::vector<GVTIMEDATE> times;
    for (const std::string& e : entries) {
      GVTIMEDATE t{};
      if (!ParseTime(e, t)) return why = "not a date-time: " + e, GVERR_INVALID_ARGUMENT;
      times.push_back(t);
    }
    v = plexa::Value::TimeList(times);
  } else {
    why = "unknown type " + word;
    return GVERR_INVALID_ARGUMENT;
  }
  std::vector<uint8_t> bytes;
  if (uint32_t st = plexa::EncodeItem(v, bytes)) return st;
  return GVItemPut(doc, name.c_str(), 0, static_cast<uint32_t>(bytes.size()), v.type, bytes.data(),
                   0);
}

int PutOrComplain(GVDOC doc, const std::string& name, const std::string& word,
                  const std::string& text) {
  std::string why;
  uint32_t st = PutTyped(doc, name, word, text, why);
  if (!why.empty()) return Complain(name + ": " + why);
  return Check(st, name);
}

// The entries of a decoded value as text lines.
std::vector<std::string> EntryLines(const plexa::Value& v) {
  std::vector<std::string> out;
  if (plexa::IsTextType(v.type)) return v.texts;
  if (plexa::IsNumberType(v.type)) {
    for (double d : v.numbers) out.push_back(NumberString(d));
    for (size_t i = 0; i + 1 < v.numberRanges.size(); i += 2)
      out.push_back(NumberString(v.numberRanges[i]) + " - " + NumberString(v.numberRanges[i + 1]));
  }
  if (plexa::IsTimeType(v.type)) {
    for (const GVTIMEDATE& t : v.times) out.push_back(TimeString(t));
    for (size_t i = 0; i + 1 < v.timeRanges.size(); i += 2)
      out.push_back(TimeString(v.timeRanges[i]) + " - " + TimeString(v.timeRanges[i + 1]));
  }
  return out;
}

const char* TypeWord(uint32_t type) {
  const char* word = plexa::TypeWord(type);
  return word != nullptr ? word : "?";
}

// ---------------------------------------------------------------- commands -------------

using Command = std::function<int(const std::vector<std::string>&)>;

int ServerCmd(const std::vector<std::string>& in) {
  if (in.size() == 2 && in[0] == "add") {
    std::string dir = plexa::ServerDir(plexa::DataRoot(), in[1]);
    if (plexa::IsLocalServer(in[1])) return Complain("the local server needs no directory");
    if (!plexa::MakeDirectories(dir)) return Complain(dir + ": " + std::strerror(errno));
    return 0;
  }
  if (in.size() == 1 && in[0] == "list") {
    char name[GV_SERVER_NAME_SIZE];
    for (uint32_t pos = GV_LIST_FIRST; GVServerList(pos, name) == 0; pos = GV_LIST_NEXT)
      std::cout << name << "\n";
    return 0;
  }
  return Complain("server add NAME | server list");
}

int CreateCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"template", "title"}, {"no-inherit"}, a, error)) return Complain(error);
  if (a.words.size() != 1)
    return Complain("create DB [--template PATH] [--title T] [--no-inherit]");
  std::string templ = a.Get("template");
  // A template named relative to the current directory is meant as typed there.
  if (!templ.empty() && templ[0] != '/' && templ.find("!!") == std::string::npos &&
      access(templ.c_str(), R_OK) == 0) {
    char resolved[PATH_MAX];
    if (realpath(templ.c_str(), resolved) != nullptr) templ = resolved;
  }
  std::string title = a.Get("title");
  return Check(
      GVDatabaseCreate(nullptr, a.words[0].c_str(), title.empty() ? nullptr : title.c_str(), 0,
                       nullptr, templ.empty() ? nullptr : templ.c_str(), GVCREATE_DOCUMENTS,
                       a.Has("no-inherit") ? 0 : 1),
      a.words[0]);
}

int CopyCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"title"}, {}, a, error)) return Complain(error);
  if (a.words.size() != 2) return Complain("copy SRC DST [--title T]");
  uint32_t options = GVCOPY_WHOLE | GVCOPY_NEW_IDENTITY | (a.Has("title") ? GVCOPY_TITLE : 0);
  std::string title = a.Get("title");
  return Check(GVDatabaseCopy(nullptr, a.words[0].c_str(), nullptr, a.words[1].c_str(),
                              a.Has("title") ? title.c_str() : nullptr, options, 0, 0),
               a.words[1]);
}

int DeleteCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("delete DB");
  return Check(GVDatabaseDelete(nullptr, in[0].c_str()), in[0]);
}

int ListCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"server"}, {"templates"}, a, error)) return Complain(error);
  if (!a.words.empty()) return Complain("list [--server S] [--templates]");
  std::string server = a.Get("server");
  uint32_t kinds = a.Has("templates") ? GVDBLIST_TEMPLATES : GVDBLIST_DATABASES;
  char name[GV_PATH_SIZE], title[GV_TITLE_SIZE];
  uint32_t st = 0;
  for (uint32_t pos = GV_LIST_FIRST;
       (st = GVDatabaseList(server.c_str(), nullptr, 0, kinds, pos, 0, title, name)) == 0;
       pos = GV_LIST_NEXT)
    std::cout << name << "\t" << title << "\n";
  return st == GVERR_NO_MORE ? 0 : Check(st, "list");
}

int BuildTemplateCmd(const std::vector<std::string>& in) {
  if (in.size() != 2) return Complain("build-template JSON OUT");
  std::ifstream file(in[0], std::ios::binary);
  if (!file) return Complain(in[0] + ": cannot be read");
  std::stringstream text;
  text << file.rdbuf();
  std::string error;
  if (plexa::BuildTemplate(text.str(), in[1], error) != 0) return Complain(in[0] + ": " + error);
  return 0;
}

int FormsCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("forms DB");
  Db db;
  if (db.Open(in[0])) return 1;
  plexa::DesignCache& cache = plexa::CacheOf(db.db());
  if (int rc = Check(cache.Refresh(), in[0])) return rc;
  GVDesignEntry e;
  for (uint32_t pos = GV_LIST_FIRST; GVFormList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    std::cout << e.id << "\t" << e.name << "\n";
    if (const plexa::FormDef* f = cache.Form(e.id))
      for (const plexa::FormField& field : f->fields) {
        std::cout << "  " << field.name << "\t" << TypeWord(field.type());
        if (!field.defaultText.empty()) std::cout << "\tdefault " << field.defaultText;
        std::cout << "\n";
      }
  }
  return 0;
}

int ViewsCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("views DB");
  Db db;
  if (db.Open(in[0])) return 1;
  GVDesignEntry e;
  for (uint32_t pos = GV_LIST_FIRST; GVViewList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    plexa::ViewSpec spec;
    if (int rc = Check(plexa::ReadViewSpec(db.db(), e.id, spec), e.name)) return rc;
    std::cout << e.id << "\t" << e.name << "\n  select " << spec.selection << "\n";
    for (size_t i = 0; i < spec.columns.size(); ++i) {
      const auto& c = spec.columns[i];
      std::string kind;
      if (c.kind & GVCOL_CATEGORY)
        kind += " categorised";
      else if (c.kind & GVCOL_SORTED)
        kind += " sorted";
      if (c.kind & GVCOL_DESCENDING) kind += " descending";
      if (c.kind & GVCOL_EXPAND) kind += " expanded";
      std::cout << "  " << i + 1 << "\t" << c.title << "\t" << c.formula << kind << "\n";
    }
  }
  return 0;
}

const char* AgentKindName(uint32_t kind) {
  return kind == GVAGENT_SELECTS ? "selects" : kind == GVAGENT_SCRIPT ? "script" : "acts";
}

int AgentsCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("agents DB");
  Db db;
  if (db.Open(in[0])) return 1;
  GVDesignEntry e;
  for (uint32_t pos = GV_LIST_FIRST; GVAgentList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    plexa::AgentSpec spec;
    if (int rc = Check(plexa::ReadAgentSpec(db.db(), e.id, spec), e.name)) return rc;
    std::cout << e.id << "\t" << e.name << "\t" << AgentKindName(spec.kind) << "\n  select "
              << spec.selection << "\n  action " << spec.action << "\n";
  }
  return 0;
}

// The cells of the entry the index stands on, tab-separated.
std::string Cells(GVINDEX index, uint32_t columns) {
  std::string line;
  for (uint32_t c = 1; c <= columns; ++c) {
    uint32_t length = 0;
    std::string cell;
    if (GVViewcellGetLength(index, c, GVTYPE_TEXT, &length) == 0) {
      std::vector<char> buffer(length + 1);
      if (GVViewcellFetch(index, c, GVTYPE_TEXT, length + 1, buffer.data()) == 0)
        cell = buffer.data();
    }
    line += "\t" + cell;
  }
  return line;
}

void PrintEntry(GVINDEX index, GVNOTEID id, uint32_t flags, uint32_t columns) {
  uint32_t level = (flags >> 8) & 0xFF;
  std::cout << std::string(2 * level, ' ');
  if (flags & GVENTRY_CATEGORY)
    std::cout << "-";
  else
    std::cout << id;
  std::cout << Cells(index, columns) << "\n";
}

int ViewCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"key", "number-key"}, {}, a, error)) return Complain(error);
  if (a.words.size() != 2) return Complain("view DB NAME [--key TEXT | --number-key N]...");
  Db db;
  if (db.Open(a.words[0])) return 1;
  GVNOTEID view = GVViewLocateByName(db.handle, a.words[1].c_str());
  if (view == 0) return Complain(a.words[1] + ": no such view");
  uint32_t columns = GVColumnGetCount(db.handle, view);
  Index index;
  if (int rc = Check(GVIndexOpen(db.handle, &index.handle), "index")) return rc;
  if (int rc = Check(GVIndexOpenView(index.handle, 0, view, 0), a.words[1])) return rc;
  // Keys in the order given on the command line.
  std::vector<GVKey> keys;
  std::vector<std::string> texts;
  for (size_t i = 1; i < in.size(); ++i) {
    if (in[i] != "--key" && in[i] != "--number-key") continue;
    GVKey k{};
    k.column = static_cast<uint32_t>(keys.size() + 1);
    if (in[i] == "--key") {
      k.kind = GVTYPE_TEXT;
      texts.push_back(in[i + 1]);
    } else {
      k.kind = GVTYPE_NUMBER;
      if (plexa::TextToNumber(in[i + 1], *plexa::CurrentInternational(), k.number) != 0)
        return Complain("not a number: " + in[i + 1]);
      texts.emplace_back();
    }
    keys.push_back(k);
    ++i;
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].kind == GVTYPE_TEXT) keys[i].text = texts[i].c_str();
  GVNOTEID id = 0;
  uint32_t flags = 0;
  if (!keys.empty()) {
    uint32_t matches = 0;
    uint32_t st = GVIndexKeySearch(index.handle, static_cast<uint32_t>(keys.size()), keys.data(), 0,
                                   &matches);
    if (st == GVERR_KEY_NOT_FOUND) return 0;
    if (int rc = Check(st, "key search")) return rc;
    for (uint32_t n = 0; n < matches; ++n) {
      if (GVIndexNavigate(index.handle, n == 0 ? GVNAV_CURRENT : GVNAV_NEXT, 0, &id, &flags) != 0)
        break;
      PrintEntry(index.handle, id, flags, columns);
    }
    return 0;
  }
  uint32_t st = 0;
  while ((st = GVIndexNavigate(index.handle, GVNAV_NEXT, 0, &id, &flags)) == 0)
    PrintEntry(index.handle, id, flags, columns);
  return st == GVERR_NO_MORE ? 0 : Check(st, "navigation");
}

int SearchCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"form"}, {}, a, error)) return Complain(error);
  if (a.words.size() != 2) return Complain("search DB FORMULA [--form F]");
  Db db;
  if (db.Open(a.words[0])) return 1;
  GVNOTEID form = 0;
  if (a.Has("form")) {
    form = GVFormLocateByName(db.handle, a.Get("form").c_str());
    if (form == 0) return Complain(a.Get("form") + ": no such form");
  }
  Index index;
  if (int rc = Check(GVIndexOpen(db.handle, &index.handle), "index")) return rc;
  if (int rc = Check(GVIndexSearch(index.handle, a.words[1].c_str(), form, 0), "search")) return rc;
  GVNOTEID id = 0;
  while (GVIndexNavigate(index.handle, GVNAV_NEXT, 0, &id, nullptr) == 0) {
    Doc doc;
    char text[512] = "";
    uint32_t kind = GVTYPE_TEXT;
    if (GVDocumentOpen(db.handle, id, GVOPEN_READONLY, &doc.handle) == 0)
      GVItemFetch(doc.handle, "Form", &kind, 0, sizeof text, text);
    std::cout << id << "\t" << text << "\n";
  }
  return 0;
}

int ShowCmd(const std::vector<std::string>& in) {
  GVNOTEID id = 0;
  if (in.size() != 2 || !NoteIdOf(in[1], id)) return Complain("show DB NOTEID");
  Db db;
  if (db.Open(in[0])) return 1;
  Doc doc;
  if (int rc = Check(GVDocumentOpen(db.handle, id, GVOPEN_READONLY, &doc.handle), in[1])) return rc;
  const plexa::Document& d = doc.doc();
  std::cout << "note\t" << d.note_id() << "\nunid\t"
            << plexadm::HexOf(d.unid().data(), d.unid().size()) << "\nclass\t"
            << (d.note_class() == plexa::kClassInfo ? "info" : "document") << "\nparent\t"
            << (d.has_parent() ? plexadm::HexOf(d.parent().data(), d.parent().size())
                               : std::string("-"))
            << "\ncreated\t" << TimeString(d.created()) << "\nmodified\t"
            << TimeString(d.modified()) << "\n";
  for (const plexa::DocItem& it : d.items()) {
    std::cout << "item\t" << it.name << "\t" << TypeWord(it.type) << "\n";
    if (it.type == GVTYPE_COMPOSITE) {
      std::string_view records(reinterpret_cast<const char*>(it.value.data()), it.value.size());
      std::string text;
      if (plexa::rt::ToText(records, text) == 0) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) std::cout << "  | " << line << "\n";
      }
      plexa::rt::Walker w(records);
      for (plexa::rt::Record r; w.Next(r);) {
        char sig[8];
        std::snprintf(sig, sizeof sig, "0x%02X", r.signature);
        std::cout << "  record " << sig << " " << r.length << " bytes\n";
      }
      continue;
    }
    if (it.type == GVTYPE_OTHER) {
      std::cout << "  " << it.value.size() << " bytes\n";
      continue;
    }
    plexa::Value v;
    if (plexa::DecodeItem(it.type, it.value, v) != 0) {
      std::cout << "  (malformed)\n";
      continue;
    }
    for (const std::string& line : EntryLines(v)) std::cout << "  " << line << "\n";
  }
  GVAttachmentInfo info;
  for (uint32_t pos = GV_LIST_FIRST; GVAttachmentList(doc.handle, pos, &info) == 0;
       pos = GV_LIST_NEXT)
    std::cout << "attachment\t" << info.name << "\t" << info.size << " bytes\n";
  return 0;
}

int NewCmd(const std::vector<std::string>& in) {
  if (in.size() < 2) return Complain("new DB FORM [ITEM[:TYPE]=VALUE]...");
  Db db;
  if (db.Open(in[0])) return 1;
  GVNOTEID form = GVFormLocateByName(db.handle, in[1].c_str());
  if (form == 0) return Complain(in[1] + ": no such form");
  Doc doc;
  if (int rc = Check(GVDocumentCreate(db.handle, form, &doc.handle), "new document")) return rc;
  for (size_t i = 2; i < in.size(); ++i) {
    size_t eq = in[i].find('=');
    if (eq == std::string::npos || eq == 0) return Complain("ITEM[:TYPE]=VALUE: " + in[i]);
    std::string name = in[i].substr(0, eq), word = "text";
    if (size_t colon = name.find(':'); colon != std::string::npos) {
      word = name.substr(colon + 1);
      name.resize(colon);
    }
    if (int rc = PutOrComplain(doc.handle, name, word, in[i].substr(eq + 1))) return rc;
  }
  if (int rc = Check(GVDocumentSave(doc.handle, 0), "store")) return rc;
  GVNOTEID id = 0;
  GVDocumentGetProperty(doc.handle, GVDOCPROP_NOTE_ID, &id);
  if (int rc = Check(doc.Close(), "store")) return rc;
  std::cout << id << "\n";
  return 0;
}

// Opens note words[1] of database words[0], runs change, stores.
int ChangeDocument(const std::vector<std::string>& in, const std::function<int(GVDOC)>& change) {
  GVNOTEID id = 0;
  if (!NoteIdOf(in[1], id)) return Complain("not a note id: " + in[1]);
  Db db;
  if (db.Open(in[0])) return 1;
  Doc doc;
  if (int rc = Check(GVDocumentOpen(db.handle, id, 0, &doc.handle), in[1])) return rc;
  if (int rc = change(doc.handle)) return rc;
  return Check(doc.Close(), "store");
}

int PutCmd(const std::vector<std::string>& in) {
  if (in.size() != 5) return Complain("put DB NOTEID ITEM TYPE VALUE");
  return ChangeDocument(in, [&](GVDOC doc) { return PutOrComplain(doc, in[2], in[3], in[4]); });
}

int DeleteItemCmd(const std::vector<std::string>& in) {
  if (in.size() != 3) return Complain("delete-item DB NOTEID ITEM");
  return ChangeDocument(in,
                        [&](GVDOC doc) { return Check(GVItemDelete(doc, in[2].c_str()), in[2]); });
}

int DeleteDocCmd(const std::vector<std::string>& in) {
  GVNOTEID id = 0;
  if (in.size() != 2 || !NoteIdOf(in[1], id)) return Complain("delete-doc DB NOTEID");
  Db db;
  if (db.Open(in[0])) return 1;
  return Check(GVDocumentDelete(db.handle, id, 0), in[1]);
}

int AgentCmd(const std::vector<std::string>& in) {
  if (in.size() == 4 && in[0] == "script") {
    // A scripted agent whose body is the qsrun text of FILE.
    std::ifstream file(in[3], std::ios::binary);
    if (!file) return Complain("cannot read " + in[3]);
    plexa::AgentSpec spec;
    spec.name = in[2];
    spec.kind = GVAGENT_SCRIPT;
    spec.action.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    Db db;
    if (db.Open(in[1])) return 1;
    GVNOTEID id = 0;
    return Check(plexa::CreateAgent(db.db(), spec, id), in[2]);
  }
  if (in.size() != 3 || in[0] != "run")
    return Complain("agent run DB NAME | agent script DB NAME FILE");
  Db db;
  if (db.Open(in[1])) return 1;
  GVNOTEID agent = GVAgentLocateByName(db.handle, in[2].c_str());
  if (agent == 0) return Complain(in[2] + ": no such agent");
  return Check(GVAgentExecute(db.handle, agent, 0, 0, 0), in[2]);
}

int ExportCmd(const std::vector<std::string>& in) {
  Args a;
  std::string error;
  if (!ParseArgs(in, {"form", "classes"}, {}, a, error)) return Complain(error);
  if (a.words.size() != 1) return Complain("export DB [--form F] [--classes MASK]");
  uint32_t mask = GVCLASS_DOCUMENT;
  if (a.Has("classes")) {
    char* end = nullptr;
    std::string text = a.Get("classes");
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || v == 0 || v > 0xFFFFFFFFul)
      return Complain("not a class mask: " + text);
    mask = static_cast<uint32_t>(v);
  }
  Db db;
  if (db.Open(a.words[0])) return 1;
  if (plexadm::ExportNotes(db.db(), mask, a.Get("form"), std::cout, error) != 0)
    return Complain(a.words[0] + ": " + error);
  std::cout.flush();
  return std::cout ? 0 : Complain("cannot write the output");
}

int ImportCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("import DB < FILE");
  Db db;
  if (db.Open(in[0])) return 1;
  size_t count = 0;
  std::string error;
  if (plexadm::ImportNotes(db.db(), std::cin, count, error) != 0)
    return Complain(in[0] + ": " + error);
  std::cout << count << " notes\n";
  return 0;
}

// ---------------------------------------------------------------- design dump ----------

using Json = nlohmann::ordered_json;

// An item of an information note in the template description's form.
Json DescriptionItem(const plexa::StoredItem& it, const std::vector<plexa::StoredItem>& all) {
  Json item = Json::object();
  item["name"] = it.name;
  item["type"] = TypeWord(it.type);
  // The description's texts are read back with the default settings.
  const plexa::International intl;
  if (it.type == GVTYPE_COMPOSITE) {
    std::string records, text;
    for (const plexa::StoredItem& other : all)
      if (other.type == GVTYPE_COMPOSITE &&
          plexa::FoldAscii(other.name) == plexa::FoldAscii(it.name))
        records.append(other.value.begin(), other.value.end());
    // Rich text that cannot be read is exported as empty text.
    (void)plexa::rt::ToText(records, text);
    item["value"] = text;
    return item;
  }
  if (it.type == GVTYPE_OTHER) {
    item["value"] = std::string(it.value.begin(), it.value.end());
    return item;
  }
  plexa::Value v;
  if (plexa::DecodeItem(it.type, it.value, v) != 0) return Json();
  Json values = Json::array();
  for (double d : v.numbers) values.push_back(d);
  for (const std::string& t : v.texts) values.push_back(t);
  for (const GVTIMEDATE& t : v.times) {
    std::string text;
    // A time that cannot be shown as text is exported as empty text.
    (void)plexa::TimeToText(t, intl, text);
    values.push_back(text);
  }
  bool list =
      it.type == GVTYPE_TEXT_LIST || it.type == GVTYPE_NUMBER_LIST || it.type == GVTYPE_TIME_LIST;
  item["value"] = list ? values : values.empty() ? Json() : values.front();
  return item;
}

int DumpDesignCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("dump-design DB");
  Db db;
  if (db.Open(in[0])) return 1;
  plexa::Database& d = db.db();
  plexa::DesignCache& cache = plexa::CacheOf(d);
  if (int rc = Check(cache.Refresh(), in[0])) return rc;
  Json out = Json::object();
  char title[GV_TITLE_SIZE] = "";
  GVDatabaseGetProperty(db.handle, GVDBPROP_TITLE, title);
  out["title"] = title;
  Json forms = Json::array(), views = Json::array(), agents = Json::array();
  GVDesignEntry e;
  for (uint32_t pos = GV_LIST_FIRST; GVFormList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    const plexa::FormDef* f = cache.Form(e.id);
    if (f == nullptr) continue;
    Json fields = Json::array();
    for (const plexa::FormField& field : f->fields) {
      Json j = {{"name", field.name}, {"type", TypeWord(field.type())}};
      if (!field.defaultText.empty()) j["default"] = field.defaultText;
      if ((field.flags() & GVFIELDF_STORED) == 0) j["stored"] = false;
      fields.push_back(j);
    }
    forms.push_back({{"name", f->name}, {"fields", fields}});
  }
  for (uint32_t pos = GV_LIST_FIRST; GVViewList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    plexa::ViewSpec spec;
    if (int rc = Check(plexa::ReadViewSpec(d, e.id, spec), e.name)) return rc;
    Json columns = Json::array();
    for (const auto& c : spec.columns) {
      Json j = {{"title", c.title}, {"formula", c.formula}};
      if (c.kind & (GVCOL_SORTED | GVCOL_CATEGORY))
        j["sort"] = (c.kind & GVCOL_DESCENDING) ? "descending" : "ascending";
      if (c.kind & GVCOL_CATEGORY) j["category"] = true;
      if (c.kind & GVCOL_EXPAND) j["expand"] = true;
      columns.push_back(j);
    }
    Json v = {{"name", spec.name},
              {"style", spec.style == GVVIEW_TEMPORARY ? "temporary" : "standard"}};
    if (spec.flags & GVVIEWF_RESPONSES) v["responses"] = true;
    v["selection"] = spec.selection;
    v["columns"] = columns;
    views.push_back(v);
  }
  for (uint32_t pos = GV_LIST_FIRST; GVAgentList(db.handle, pos, &e) == 0; pos = GV_LIST_NEXT) {
    plexa::AgentSpec spec;
    if (int rc = Check(plexa::ReadAgentSpec(d, e.id, spec), e.name)) return rc;
    agents.push_back({{"name", spec.name},
                      {"kind", AgentKindName(spec.kind)},
                      {"selection", spec.selection},
                      {"action", spec.action}});
  }
  Json documents = Json::array(), acl = Json::array();
  plexa::Txn txn(d);
  if (int rc = Check(txn.Begin(plexa::Txn::kRead), in[0])) return rc;
  uint32_t st = plexa::ScanNotes(txn, GVCLASS_INFO, {}, true,
                                 [&](GVNOTEID, std::vector<plexa::StoredItem>& items) -> uint32_t {
                                   Json list = Json::array();
                                   std::vector<std::string> seen;
                                   for (const plexa::StoredItem& it : items) {
                                     std::string key = plexa::FoldAscii(it.name);
                                     if (it.type == GVTYPE_COMPOSITE) {
                                       if (std::find(seen.begin(), seen.end(), key) != seen.end())
                                         continue;
                                       seen.push_back(key);
                                     }
                                     Json item = DescriptionItem(it, items);
                                     if (!item.is_null()) list.push_back(item);
                                   }
                                   documents.push_back({{"class", "info"}, {"items", list}});
                                   return 0;
                                 });
  if (int rc = Check(st, in[0])) return rc;
  plexa::Stmt rows;
  if (int rc =
          Check(plexa::Query(txn, "SELECT name, access FROM acl ORDER BY name_key", rows), in[0]))
    return rc;
  uint32_t listed = rows.ForEachRow([&](const plexa::Stmt& r) {
    acl.push_back({{"name", std::string(r.Text(0))}, {"access", r.Int(1)}});
  });
  if (int rc = Check(listed, in[0])) return rc;
  out["forms"] = forms;
  out["views"] = views;
  out["agents"] = agents;
  out["documents"] = documents;
  out["acl"] = acl;
  std::cout << out.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  return 0;
}

// ---------------------------------------------------------------- view upkeep ----------

// The views named (all when name is empty).
int ViewsOf(Db& db, const std::string& name,
            std::vector<std::shared_ptr<const plexa::ViewDef>>& out) {
  plexa::DesignCache& cache = plexa::CacheOf(db.db());
  if (int rc = Check(cache.Refresh(), "design")) return rc;
  for (const auto& v : cache.views())
    if (name.empty() || plexa::FoldAscii(v->name) == plexa::FoldAscii(name)) out.push_back(v);
  if (!name.empty() && out.empty()) return Complain(name + ": no such view");
  return 0;
}

int ReindexCmd(const std::vector<std::string>& in) {
  if (in.empty() || in.size() > 2) return Complain("reindex DB [VIEW]");
  Db db;
  if (db.Open(in[0])) return 1;
  std::vector<std::shared_ptr<const plexa::ViewDef>> views;
  if (int rc = ViewsOf(db, in.size() == 2 ? in[1] : "", views)) return rc;
  plexa::Txn txn(db.db());
  if (int rc = Check(txn.Begin(plexa::Txn::kWrite), in[0])) return rc;
  for (const auto& v : views) {
    if (int rc = Check(plexa::RunSql(txn, "DELETE FROM view_entry WHERE view=?", v->id), v->name))
      return rc;
    if (int rc = Check(plexa::BuildView(txn, *v), v->name)) return rc;
  }
  return Check(txn.Commit(), in[0]);
}

int CheckCmd(const std::vector<std::string>& in) {
  if (in.size() != 1) return Complain("check DB");
  Db db;
  if (db.Open(in[0])) return 1;
  std::vector<std::shared_ptr<const plexa::ViewDef>> views;
  if (int rc = ViewsOf(db, "", views)) return rc;
  plexa::Txn txn(db.db());
  if (int rc = Check(txn.Begin(plexa::Txn::kRead), in[0])) return rc;
  int faults = 0;
  // PostgreSQL keeps its pages' integrity itself; the views are checked on both.
  if (db.db().pg() == nullptr) {
    plexa::Stmt st;
    if (int rc = Check(plexa::Query(txn, "PRAGMA integrity_check", st), in[0])) return rc;
    uint32_t checked = st.ForEachRow([&](const plexa::Stmt& r) {
      if (r.Text(0) == "ok") return;
      std::cout << "integrity: " << r.Text(0) << "\n";
      ++faults;
    });
    if (int rc = Check(checked, in[0])) return rc;
  }
  using Row = std::tuple<std::string, int64_t, int64_t, std::string>;
  for (const auto& v : views) {
    std::vector<Row> expected, stored;
    uint32_t st = plexa::ScanNotes(
        txn, GVCLASS_DOCUMENT, {}, true,
        [&](GVNOTEID note, std::vector<plexa::StoredItem>& items) -> uint32_t {
          std::unique_ptr<plexa::ItemSource> source = plexa::MakeItemSource(std::move(items));
          std::vector<plexa::ViewRow> rows;
          if (uint32_t s = plexa::ComputeRows(*v, *source, rows)) return s;
          for (plexa::ViewRow& r : rows)
            expected.emplace_back(std::move(r.sortkey), note, r.dup, std::move(r.cells));
          return 0;
        });
    if (int rc = Check(st, v->name)) return rc;
    plexa::Stmt rows;
    if (int rc =
            Check(plexa::Query(txn, "SELECT sortkey, note, dup, cells FROM view_entry WHERE view=?",
                               rows, v->id),
                  v->name))
      return rc;
    uint32_t read = rows.ForEachRow([&](const plexa::Stmt& r) {
      stored.emplace_back(std::string(r.Blob(0)), r.Int(1), r.Int(2), std::string(r.Blob(3)));
    });
    if (int rc = Check(read, v->name)) return rc;
    std::sort(expected.begin(), expected.end());
    std::sort(stored.begin(), stored.end());
    if (expected != stored) {
      std::cout << v->name << ": " << stored.size() << " entries stored, " << expected.size()
                << " expected (reindex rebuilds it)\n";
      ++faults;
    }
  }
  if (faults != 0) return 1;
  std::cout << "ok\n";
  return 0;
}

struct Entry {
  const char* name;
  Command run;
  bool session;
};

}  // namespace

int main(int argc, char** argv) {
  // The streams are the tool's only input and output: kept in step with C's stdio, each
  // character of an import read through getc and ungetc took as long as its note's store.
  std::ios::sync_with_stdio(false);
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--root") {
      std::string root = args[1];
      if (!root.empty() && root.back() != '/') root += '/';
      setenv("PLEXA_ROOT", root.c_str(), 1);
      args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "help") {
      (args.empty() ? std::cerr : std::cout) << kUsage;
      return args.empty() ? 1 : 0;
    }
    const Entry commands[] = {
        {"server", ServerCmd, true},
        {"create", CreateCmd, true},
        {"copy", CopyCmd, true},
        {"delete", DeleteCmd, true},
        {"list", ListCmd, true},
        {"build-template", BuildTemplateCmd, false},
        {"forms", FormsCmd, true},
        {"views", ViewsCmd, true},
        {"agents", AgentsCmd, true},
        {"view", ViewCmd, true},
        {"search", SearchCmd, true},
        {"show", ShowCmd, true},
        {"new", NewCmd, true},
        {"put", PutCmd, true},
        {"delete-item", DeleteItemCmd, true},
        {"delete-doc", DeleteDocCmd, true},
        {"agent", AgentCmd, true},
        {"export", ExportCmd, true},
        {"import", ImportCmd, true},
        {"dump-design", DumpDesignCmd, true},
        {"reindex", ReindexCmd, true},
        {"check", CheckCmd, true},
    };
    for (const Entry& e : commands) {
      if (args[0] != e.name) continue;
      std::vector<std::string> rest(args.begin() + 1, args.end());
      if (!e.session) return e.run(rest);
      Session session;
      if (session.status != 0) return Check(session.status, "starting the API");
      return e.run(rest);
    }
    std::cerr << "plexadm: unknown command " << args[0] << "\n" << kUsage;
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "plexadm: " << e.what() << "\n";
    return 1;
  }
}
