// Build tool: compiles a message table ("id name text" rows) into C++, and the engine's
// constant list with it.
//   msgcompile header <messages.txt> <twstatus.h>      the status names of the catalogue
//   msgcompile table <messages.txt> <symbol> <out.cc>  the sorted table and its lookup
//   msgcompile constants <constants.txt> <messages.txt> <twconst.h> <twconst_table.inc>
//                                                      the constant names and their table
// Message rows must be in ascending id order with unique ids; a malformed row of either list
// fails the build.
#include <cmath>
// A TWEVENT_ name is defined with TWSTATUSF_EVENT set on its id.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Row {
  unsigned long id;
  std::string name;
  std::string text;  // unescaped
};

[[noreturn]] void die(const std::string& file, int line, const std::string& why) {
  std::cerr << file << ":" << line << ": " << why << "\n";
  std::exit(1);
}

std::vector<Row> parse(const std::string& file) {
  std::ifstream in(file);
  if (!in) die(file, 0, "cannot open");
  std::vector<Row> rows;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || line.size() < sp2 + 3 || line[sp2 + 1] != '"' ||
        line.back() != '"')
      die(file, n, "expected: id name \"text\"");
    Row r;
    char* end = nullptr;
    r.id = std::strtoul(line.c_str(), &end, 10);
    if (end != line.c_str() + sp1) die(file, n, "bad id");
    r.name = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string raw = line.substr(sp2 + 2, line.size() - sp2 - 3);
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
        r.text += '\n';
        ++i;
      } else if (raw[i] == '\\' || raw[i] == '"') {
        die(file, n, "only \\n may be escaped, and no quote may stand inside a text");
      } else {
        r.text += raw[i];
      }
    }
    if (!rows.empty() && rows.back().id >= r.id) die(file, n, "ids must ascend");
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string c_literal(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '\n')
      out += "\\n";
    else if (c == '"' || c == '\\')
      out += std::string("\\") + static_cast<char>(c);
    else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

void write_if_changed(const std::string& path, const std::string& text) {
  std::ifstream old(path, std::ios::binary);
  if (old) {
    std::stringstream ss;
    ss << old.rdbuf();
    if (ss.str() == text) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) die(path, 0, "cannot write");
}

// Set on a message id, marks an event or log entry; defined in twstatus.h beside the ids.
constexpr unsigned long kEventFlag = 0x10000000;
constexpr char kEventFlagName[] = "TWSTATUSF_EVENT";

// ---- the engine's constant list

struct Constant {
  enum Kind { kInt, kDouble, kStatus } kind;
  std::string name;
  std::string value;  // kInt: "0x..." as written into twconst.h; kDouble: the literal
};

struct Family {
  std::string label;
  std::string text;
  std::vector<Constant> rows;
};

bool IsName(const std::string& s) {
  if (s.size() < 3 || s.compare(0, 2, "TW") != 0) return false;
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Families of constants.txt in list order. statusNames are the names twstatus.h defines.
std::vector<Family> parse_constants(const std::string& file,
                                    const std::set<std::string>& statusNames) {
  std::ifstream in(file);
  if (!in) die(file, 0, "cannot open");
  std::vector<Family> families;
  std::set<std::string> seen;
  bool doubles = false;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.find("] ");
      if (close == std::string::npos || close == 1 || line.size() < close + 3)
        die(file, n, "expected: [family] text");
      if (!families.empty() && families.back().rows.empty()) die(file, n, "empty family");
      families.push_back({line.substr(1, close - 1), line.substr(close + 2), {}});
      continue;
    }
    if (families.empty()) die(file, n, "a constant before the first family");
    std::vector<std::string> w = Words(line);
    Constant c{Constant::kInt, w.empty() ? "" : w[0], ""};
    if (!IsName(c.name)) die(file, n, "expected: NAME value");
    if (!seen.insert(c.name).second) die(file, n, c.name + " stands twice");
    if (w.size() == 2 && w[1] == "twstatus.h") {
      if (statusNames.count(c.name) == 0) die(file, n, c.name + " is not in twstatus.h");
      c.kind = Constant::kStatus;
    } else if (w.size() == 2) {
      char* end = nullptr;
      unsigned long long v = std::strtoull(w[1].c_str(), &end, 0);
      if (w[1][0] == '-' || *end != '\0' || v > 0xFFFFFFFFull)
        die(file, n, "not a 32-bit unsigned integer: " + w[1]);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%llx", v);
      c.value = hex;
    } else if (w.size() == 3 && w[1] == "double") {
      char* end = nullptr;
      double v = std::strtod(w[2].c_str(), &end);
      if (*end != '\0' || !std::isfinite(v)) die(file, n, "not a finite double: " + w[2]);
      c.kind = Constant::kDouble;
      c.value = w[2];
    } else {
      die(file, n, "expected: NAME value, NAME double value or NAME twstatus.h");
    }
    // The binding registers every integer before the first double.
    if (c.kind == Constant::kDouble)
      doubles = true;
    else if (doubles)
      die(file, n, "an integer after a double: the doubles come last");
    families.back().rows.push_back(std::move(c));
  }
  if (families.empty() || families.back().rows.empty())
    die(file, 0, "no constants, or an empty last family");
  return families;
}

// A C comment of text wrapped at 92 columns.
std::string Comment(const std::string& text) {
  std::string out = "/*";
  size_t column = 2;
  for (const std::string& word : Words(text)) {
    if (column + 1 + word.size() > 92) {
      out += "\n *";
      column = 2;
    }
    out += " " + word;
    column += 1 + word.size();
  }
  return out + " */\n";
}

void write_constants(const std::vector<Family>& families, const std::vector<Row>& messages,
                     const std::string& header, const std::string& table) {
  size_t ints = 0, doubles = 0;
  for (const Family& f : families)
    for (const Constant& c : f.rows) (c.kind == Constant::kDouble ? doubles : ints)++;
  const std::string counts =
      std::to_string(ints) + " integers, then " + std::to_string(doubles) + " doubles";

  std::ostringstream h;
  h << "/* Generated by msgcompile from constants.txt: do not edit. The engine's public\n"
       " * constants in the order of its constant table ("
    << counts
    << ").\n"
       " * Names that twstatus.h already defines (statuses of messages.txt and TWSTATUSF_EVENT)\n"
       " * stand here as comments so that the table reads whole. */\n"
       "#ifndef TW_FLOWCORE_TWCONST_H_\n#define TW_FLOWCORE_TWCONST_H_\n\n"
       "#include \"twstatus.h\"\n";
  for (const Family& f : families) {
    h << "\n" << Comment(f.label + " (" + std::to_string(f.rows.size()) + "): " + f.text);
    for (const Constant& c : f.rows) {
      if (c.kind == Constant::kInt) {
        h << "#define " << c.name << " " << c.value << "\n";
      } else if (c.kind == Constant::kDouble) {
        // A negative literal is bracketed so that "x-NAME" cannot read as "x--...".
        h << "#define " << c.name << " " << (c.value[0] == '-' ? "(" + c.value + ")" : c.value)
          << "\n";
      } else {
        unsigned long id = kEventFlag;
        for (const Row& r : messages)
          if (r.name == c.name) id = r.id;
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%lx", id);
        h << "/* " << c.name << " " << hex << " (twstatus.h) */\n";
      }
    }
  }
  h << "\n#endif /* TW_FLOWCORE_TWCONST_H_ */\n";
  write_if_changed(header, h.str());

  std::ostringstream t;
  t << "/* Generated by msgcompile from constants.txt: do not edit. The engine's constant table\n"
       " * in registration order ("
    << counts
    << "). Define TW_CONST(name) and\n"
       " * TW_CONST_F(name) before including this file. */\n";
  for (const Family& f : families)
    for (const Constant& c : f.rows)
      t << (c.kind == Constant::kDouble ? "TW_CONST_F(" : "TW_CONST(") << c.name << ")\n";
  write_if_changed(table, t.str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "header" && argc == 4) {
    auto rows = parse(argv[2]);
    std::ostringstream o;
    o << "/* Generated by msgcompile from messages.txt: do not edit. Status ids of the message\n"
         " * catalogue; a status is 0 or one of these ids. TWEVENT_ names carry\n"
         " * TWSTATUSF_EVENT. */\n"
         "#ifndef TW_TWSTATUS_H_\n#define TW_TWSTATUS_H_\n\n";
    for (const Row& r : rows) {
      if (r.name == "-") continue;
      // An event name stands for the id with TWSTATUSF_EVENT set: the status it is logged with.
      unsigned long value = r.name.rfind("TWEVENT_", 0) == 0 ? r.id | 0x10000000ul : r.id;
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%lx", value);
      o << "#define " << r.name << " " << hex << "\n";
    }
    char flag[16];
    std::snprintf(flag, sizeof flag, "0x%lx", kEventFlag);
    o << "\n/* Set on a message id, marks an event or log entry rather than a failure. */\n"
         "#define "
      << kEventFlagName << " " << flag << "\n\n#endif\n";
    write_if_changed(argv[3], o.str());
    return 0;
  }
  if (mode == "table" && argc == 5) {
    auto rows = parse(argv[2]);
    std::string sym = argv[3];
    std::ostringstream o;
    o << "// Generated by msgcompile from " << argv[2] << ": do not edit.\n"
      << "#include <cstdint>\n#include <cstring>\n\nnamespace {\n"
      << "struct Msg { uint32_t id; uint32_t length; const char* text; };\n"
      << "const Msg kTable[] = {\n";
    for (const Row& r : rows)
      o << "  {" << r.id << "u, " << r.text.size() << "u, " << c_literal(r.text) << "},\n";
    o << "};\n}  // namespace\n\n"
      << "// Copies the text of id into buffer (cut to size - 1 characters and NUL-ended);\n"
      << "// the number copied, 0 when there is no such id. TWSTATUSF_EVENT is ignored.\n"
      << "extern \"C\" int " << sym << "(uint32_t id, char* buffer, int size) {\n"
      << "  if (buffer == nullptr || size <= 0) return 0;\n"
      << "  buffer[0] = '\\0';\n"
      << "  id &= ~0x10000000u;\n"
      << "  size_t lo = 0, hi = sizeof kTable / sizeof kTable[0];\n"
      << "  while (lo < hi) {\n"
      << "    size_t mid = (lo + hi) / 2;\n"
      << "    if (kTable[mid].id < id) lo = mid + 1; else hi = mid;\n"
      << "  }\n"
      << "  if (lo == sizeof kTable / sizeof kTable[0] || kTable[lo].id != id) return 0;\n"
      << "  uint32_t n = kTable[lo].length;\n"
      << "  if (n > static_cast<uint32_t>(size - 1)) n = static_cast<uint32_t>(size - 1);\n"
      << "  std::memcpy(buffer, kTable[lo].text, n);\n"
      << "  buffer[n] = '\\0';\n"
      << "  return static_cast<int>(n);\n"
      << "}\n";
    write_if_changed(argv[4], o.str());
    return 0;
  }
  if (mode == "constants" && argc == 6) {
    auto messages = parse(argv[3]);
    std::set<std::string> statusNames = {kEventFlagName};
    for (const Row& r : messages)
      if (r.name != "-") statusNames.insert(r.name);
    write_constants(parse_constants(argv[2], statusNames), messages, argv[4], argv[5]);
    return 0;
  }
  std::cerr << "usage: msgcompile header <messages.txt> <out.h> | table <messages.txt> <symbol> "
               "<out.cc> | constants <constants.txt> <messages.txt> <twconst.h> <table.inc>\n";
  return 2;
}
