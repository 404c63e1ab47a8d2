// The scanner behind statuscheck: a small C/C++ tokenizer and the rules that tell a catalogue
// id in a status position from a size, offset or count that happens to have the same value.
#include "status_scan.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>

namespace tw::statusscan {
namespace {

enum class Kind { kIdent, kNumber, kPunct };

struct Token {
  Kind kind;
  std::string text;
  int line;
  int directive;  // index of the '#' that starts the directive holding it; -1 outside one
};

constexpr uint32_t kEventFlag = 0x10000000u;
constexpr uint32_t kMinId = 257;

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// A quote inside a number (1'000) separates digits and opens no character literal.
bool DigitSeparator(std::string_view s, size_t i) {
  if (i == 0 || i + 1 >= s.size() || !IsIdentChar(s[i - 1]) || !IsIdentChar(s[i + 1])) return false;
  size_t k = i;
  while (k > 0 && (IsIdentChar(s[k - 1]) || s[k - 1] == '\'')) --k;
  return std::isdigit(static_cast<unsigned char>(s[k]));
}

// Comments, string and character literals become blanks (line feeds kept), so that numbers
// quoted in them are never seen.
std::string Blank(std::string_view s) {
  std::string out(s);
  size_t i = 0;
  auto blank = [&](size_t from, size_t to) {
    for (size_t k = from; k < to && k < out.size(); ++k)
      if (out[k] != '\n') out[k] = ' ';
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      size_t end = s.find('\n', i);
      if (end == std::string_view::npos) end = s.size();
      blank(i, end);
      i = end;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      end = end == std::string_view::npos ? s.size() : end + 2;
      blank(i, end);
      i = end;
    } else if (c == 'R' && i + 1 < s.size() && s[i + 1] == '"' &&
               (i == 0 || !IsIdentChar(s[i - 1]))) {
      size_t open = s.find('(', i + 2);
      if (open == std::string_view::npos) break;
      std::string close = ")" + std::string(s.substr(i + 2, open - i - 2)) + "\"";
      size_t end = s.find(close, open);
      end = end == std::string_view::npos ? s.size() : end + close.size();
      blank(i + 1, end);
      i = end;
    } else if (c == '"' || (c == '\'' && !DigitSeparator(s, i))) {
      size_t k = i + 1;
      while (k < s.size() && s[k] != c && s[k] != '\n') k += s[k] == '\\' ? 2 : 1;
      blank(i + 1, k);
      i = k + 1;
    } else {
      ++i;
    }
  }
  return out;
}

std::vector<Token> Tokenize(std::string_view src) {
  static const char* const kPuncts[] = {"<<=", ">>=", "->*", "...", "::", "->", "++", "--",
                                        "<<",  ">>",  "<=",  ">=",  "==", "!=", "&&", "||",
                                        "+=",  "-=",  "*=",  "/=",  "%=", "&=", "|=", "^="};
  std::vector<Token> toks;
  int line = 1;
  int directive = -1;
  bool lineStart = true;
  size_t i = 0;
  while (i < src.size()) {
    char c = src[i];
    if (c == '\n') {
      // A directive ends at a line feed that no backslash continues.
      size_t k = i;
      while (k > 0 && (src[k - 1] == ' ' || src[k - 1] == '\t' || src[k - 1] == '\r')) --k;
      if (!(k > 0 && src[k - 1] == '\\')) directive = -1;
      ++line;
      ++i;
      lineStart = true;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) || c == '\\') {
      ++i;
      continue;
    }
    if (c == '#' && lineStart && directive < 0) directive = static_cast<int>(toks.size());
    lineStart = false;
    if (IsIdentStart(c)) {
      size_t k = i;
      while (k < src.size() && IsIdentChar(src[k])) ++k;
      toks.push_back({Kind::kIdent, std::string(src.substr(i, k - i)), line, directive});
      i = k;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < src.size() &&
                std::isdigit(static_cast<unsigned char>(src[i + 1])))) {
      // A preprocessing number: digits, letters, '.', digit separators, exponent signs.
      size_t k = i + 1;
      while (k < src.size()) {
        char d = src[k];
        if (IsIdentChar(d) || d == '.' ||
            (d == '\'' && k + 1 < src.size() && IsIdentChar(src[k + 1])))
          ++k;
        else if ((d == '+' || d == '-') &&
                 (src[k - 1] == 'e' || src[k - 1] == 'E' || src[k - 1] == 'p' || src[k - 1] == 'P'))
          ++k;
        else
          break;
      }
      toks.push_back({Kind::kNumber, std::string(src.substr(i, k - i)), line, directive});
      i = k;
    } else {
      std::string p(1, c);
      for (const char* m : kPuncts)
        if (src.substr(i, std::char_traits<char>::length(m)) == m) {
          p = m;
          break;
        }
      toks.push_back({Kind::kPunct, p, line, directive});
      i += p.size();
    }
  }
  return toks;
}

// The value of an integer literal; false for floating literals and anything malformed.
bool IntValue(const std::string& text, uint64_t* value, bool* hex) {
  std::string digits;
  for (char c : text)
    if (c != '\'') digits += c;
  size_t end = digits.size();
  while (end > 0 && (digits[end - 1] == 'u' || digits[end - 1] == 'U' || digits[end - 1] == 'l' ||
                     digits[end - 1] == 'L' || digits[end - 1] == 'z' || digits[end - 1] == 'Z'))
    --end;
  digits.resize(end);
  if (digits.empty()) return false;
  *hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
  int base = *hex                                                          ? 16
             : digits.size() > 2 && (digits[1] == 'b' || digits[1] == 'B') ? 2
             : digits[0] == '0'                                            ? 8
                                                                           : 10;
  const char* begin = digits.c_str() + (*hex || base == 2 ? 2 : 0);
  char* stop = nullptr;
  *value = std::strtoull(begin, &stop, base);
  return stop == digits.c_str() + digits.size() && stop != begin;
}

// Words of an identifier: camelCase and snake_case split, lower-cased.
std::vector<std::string> Words(const std::string& name) {
  std::vector<std::string> words;
  std::string cur;
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    bool upper = std::isupper(static_cast<unsigned char>(c));
    bool nextLower = i + 1 < name.size() && std::islower(static_cast<unsigned char>(name[i + 1]));
    bool prevLower = i > 0 && (std::islower(static_cast<unsigned char>(name[i - 1])) ||
                               std::isdigit(static_cast<unsigned char>(name[i - 1])));
    if (c == '_') {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
      continue;
    }
    if (upper && !cur.empty() && (prevLower || nextLower)) {
      words.push_back(cur);
      cur.clear();
    }
    cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (!cur.empty()) words.push_back(cur);
  // The "k" of kConstantNames is no word.
  if (words.size() > 1 && words[0] == "k") words.erase(words.begin());
  return words;
}

bool AnyWord(const std::string& name, std::initializer_list<const char*> list) {
  for (const std::string& w : Words(name))
    for (const char* l : list)
      if (w == l) return true;
  return false;
}

// Names of sizes, offsets and limits: a value given to them is not a status.
bool SizeName(const std::string& name) {
  return AnyWord(
      name, {"size",  "sizes",    "length",  "len",    "bytes",  "byte",  "offset",   "offsets",
             "count", "step",     "room",    "max",    "min",    "limit", "capacity", "width",
             "block", "chunk",    "buffer",  "buf",    "align",  "mask",  "bits",     "depth",
             "page",  "port",     "seconds", "millis", "micros", "rows",  "columns",  "digits",
             "pos",   "position", "index",   "reserve"});
}

// Names of statuses and message ids.
bool StatusName(const std::string& name) {
  return AnyWord(name, {"status", "st", "rc", "result", "res", "err", "error", "code", "completion",
                        "msg", "message", "event", "fail", "failure"});
}

// Functions that report, log or show a message by id.
bool ReportName(const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* part : {"report", "log", "message", "msg", "trace", "print", "event", "status",
                           "fail", "error", "notify", "text", "string", "done"})
    if (lower.find(part) != std::string::npos) return true;
  return false;
}

bool IsAssign(const std::string& t) {
  return t == "=" || t == "+=" || t == "-=" || t == "*=" || t == "/=" || t == "%=" || t == "&=" ||
         t == "|=" || t == "^=" || t == "<<=" || t == ">>=";
}

bool IsArithmetic(const std::string& t) {
  return t == "+" || t == "-" || t == "*" || t == "/" || t == "%" || t == "<<" || t == ">>" ||
         t == "&" || t == "^" || t == "~" || t == "!" || t == "[" || t == "]" || t == "." ||
         t == "->" || t == "++" || t == "--";
}

class Scanner {
 public:
  Scanner(std::vector<Token> toks, const std::set<uint32_t>& ids)
      : t_(std::move(toks)), ids_(ids), match_(t_.size(), -1), enclosing_(t_.size(), -1) {
    std::vector<int> stack;
    for (int i = 0; i < static_cast<int>(t_.size()); ++i) {
      enclosing_[i] = stack.empty() ? -1 : stack.back();
      const std::string& s = t_[i].text;
      if (t_[i].kind != Kind::kPunct) continue;
      if (s == "(" || s == "[" || s == "{") {
        stack.push_back(i);
      } else if (s == ")" || s == "]" || s == "}") {
        if (!stack.empty()) {
          match_[i] = stack.back();
          match_[stack.back()] = i;
          stack.pop_back();
          enclosing_[i] = stack.empty() ? -1 : stack.back();
        }
      }
    }
    CollectLayoutNames();
  }

  std::vector<Hit> Run() {
    std::vector<Hit> hits;
    for (int i = 0; i < static_cast<int>(t_.size()); ++i) {
      if (t_[i].kind != Kind::kNumber) continue;
      uint64_t v = 0;
      bool hex = false;
      if (!IntValue(t_[i].text, &v, &hex)) continue;
      uint64_t id = v;
      // An event status is an id with the event flag, written in hex.
      if (hex && (v & kEventFlag) && v < 0x20000000u) id = v & ~uint64_t{kEventFlag};
      if (id < kMinId || id > 0xFFFFFFFFu || !ids_.count(static_cast<uint32_t>(id))) continue;
      // A hex literal with one bit set is a flag.
      if (hex && (v & (v - 1)) == 0) continue;
      std::string why = Position(i);
      if (!why.empty())
        hits.push_back({t_[i].line, "id " + std::to_string(id) + " " + why + "; use its name"});
    }
    return hits;
  }

 private:
  const std::string& Text(int i) const {
    static const std::string kNone;
    return i >= 0 && i < static_cast<int>(t_.size()) ? t_[i].text : kNone;
  }
  bool Ident(int i) const {
    return i >= 0 && i < static_cast<int>(t_.size()) && t_[i].kind == Kind::kIdent;
  }
  bool Opener(int i) const {
    const std::string& s = Text(i);
    return s == "(" || s == "[" || s == "{";
  }
  bool Closer(int i) const {
    const std::string& s = Text(i);
    return s == ")" || s == "]" || s == "}";
  }

  // The index before the operand that ends at j (an identifier or number chain, a call or
  // parenthesised group).
  int SkipOperandLeft(int j) const {
    if (Closer(j) && match_[j] >= 0) {
      j = match_[j] - 1;
      if (Ident(j)) --j;
      return j;
    }
    while (j >= 0 && (Ident(j) || t_[j].kind == Kind::kNumber)) {
      --j;
      if (Text(j) == "::" || Text(j) == "." || Text(j) == "->")
        --j;
      else
        break;
    }
    return j;
  }
  int SkipOperandRight(int j) const {
    if (Ident(j) && Text(j + 1) == "(") j = j + 1;
    if (Opener(j) && match_[j] >= 0) return match_[j] + 1;
    while (j < static_cast<int>(t_.size()) && (Ident(j) || t_[j].kind == Kind::kNumber)) {
      ++j;
      if (Text(j) == "::" || Text(j) == "." || Text(j) == "->")
        ++j;
      else
        break;
    }
    return j;
  }

  // Walks left from j over a conditional's condition to the token that ends the expression
  // before it.
  int ExpressionStartLeft(int j) const {
    while (j >= 0) {
      const std::string& s = Text(j);
      if (Closer(j) && match_[j] >= 0) {
        j = match_[j] - 1;
        continue;
      }
      if (Opener(j) || s == "," || s == ";" || IsAssign(s) || s == "return" || s == "case" ||
          s == "?" || s == ":")
        return j;
      --j;
    }
    return j;
  }
  // Walks right from j to the token that ends the expression.
  int ExpressionEndRight(int j) const {
    while (j < static_cast<int>(t_.size())) {
      const std::string& s = Text(j);
      if (Opener(j) && match_[j] >= 0) {
        j = match_[j] + 1;
        continue;
      }
      if (Closer(j) || s == "," || s == ";") return j;
      ++j;
    }
    return j;
  }
  // The '?' of the conditional whose ':' is at c, or -1 when c is a label or case colon.
  int TernaryQuestion(int c) const {
    int nested = 0;
    for (int j = c - 1; j >= 0; --j) {
      const std::string& s = Text(j);
      if (Closer(j) && match_[j] >= 0) {
        j = match_[j];
        continue;
      }
      if (Opener(j) || s == ";" || s == "}" || s == "case" || s == "default" || s == "public" ||
          s == "private" || s == "protected")
        return -1;
      if (s == ":") ++nested;
      if (s == "?") {
        if (nested == 0) return j;
        --nested;
      }
    }
    return -1;
  }

  // The tokens of the operand of a comparison on one side, up to the lower-precedence
  // operators around it.
  std::vector<int> ComparedOperand(int from, int step) const {
    std::vector<int> out;
    for (int j = from; j >= 0 && j < static_cast<int>(t_.size()); j += step) {
      if (step < 0 && Closer(j) && match_[j] >= 0) {
        for (int k = j; k >= match_[j]; --k) out.push_back(k);
        j = match_[j];
        continue;
      }
      if (step > 0 && Opener(j) && match_[j] >= 0) {
        for (int k = j; k <= match_[j]; ++k) out.push_back(k);
        j = match_[j];
        continue;
      }
      const std::string& s = Text(j);
      if (Opener(j) || Closer(j) || s == "," || s == ";" || s == "&&" || s == "||" || s == "?" ||
          s == ":" || s == "|" || IsAssign(s) || s == "return" || s == "==" || s == "!=")
        break;
      out.push_back(j);
    }
    return out;
  }

  bool SizeContext(const std::vector<int>& operand) const {
    for (int k : operand) {
      const std::string& s = Text(k);
      if (s == "sizeof" || s == "offsetof" || s == "alignof") return true;
      if (Ident(k) && (SizeName(s) || layout_.count(s))) return true;
    }
    return false;
  }
  std::string LastName(const std::vector<int>& operand, bool leftSide) const {
    // The name nearest the end of the operand's access chain: "e.status" gives "status".
    if (leftSide) {
      for (int k : operand)  // operand runs right to left
        if (Ident(k)) return Text(k);
    } else {
      std::string last;
      for (int k : operand)
        if (Ident(k)) last = Text(k);
      return last;
    }
    return "";
  }

  // True when the declaration that declares the name at n is a constant: const, constexpr or
  // an enumerator.
  bool ConstantDeclaration(int n) const {
    if (InEnumBody(n)) return true;
    for (int j = n - 1; j >= 0; --j) {
      const std::string& s = Text(j);
      if (s == ";" || s == "{" || s == "}" || s == ")" || s == "(" || s == "=") return false;
      if (t_[j].directive != t_[n].directive) return false;
      if (s == "const" || s == "constexpr" || s == "constinit") return true;
    }
    return false;
  }
  bool InEnumBody(int n) const {
    int brace = enclosing_[n];
    if (brace < 0 || Text(brace) != "{") return false;
    for (int j = brace - 1; j >= 0 && j >= brace - 8; --j) {
      const std::string& s = Text(j);
      if (s == "enum") return true;
      if (s == ";" || s == "{" || s == "}" || s == ")" || s == "=") return false;
    }
    return false;
  }
  bool DefineName(int n) const {
    int d = t_[n].directive;
    return d >= 0 && Text(d + 1) == "define" && n == d + 2;
  }

  // Names given to size-named constants' initialisers: offsets and sizes of a layout.
  void CollectLayoutNames() {
    for (int i = 1; i + 1 < static_cast<int>(t_.size()); ++i) {
      if (!Ident(i) || !SizeName(Text(i))) continue;
      if (Text(i + 1) == "=" && ConstantDeclaration(i)) {
        for (int j = i + 2; j < static_cast<int>(t_.size()); ++j) {
          if (Opener(j) && match_[j] >= 0) {
            for (int k = j; k < match_[j]; ++k)
              if (Ident(k)) layout_.insert(Text(k));
            j = match_[j];
            continue;
          }
          if (Text(j) == ";" || Text(j) == "," || Closer(j)) break;
          if (Ident(j)) layout_.insert(Text(j));
        }
      } else if (DefineName(i)) {
        for (int j = i + 1; j < static_cast<int>(t_.size()) && t_[j].directive == t_[i].directive;
             ++j)
          if (Ident(j)) layout_.insert(Text(j));
      }
    }
  }

  std::string ConstantRule(const std::string& name, const char* what) const {
    if (SizeName(name) || layout_.count(name)) return "";
    return std::string("initialises ") + what + " " + name;
  }

  // The declarator a brace list at o initialises, climbing out of nested rows; -1 for none.
  int BraceDeclarator(int o) const {
    while (Text(o - 1) == "{" || Text(o - 1) == ",") {
      int outer = enclosing_[o];
      if (outer < 0 || Text(outer) != "{") break;
      o = outer;
    }
    int n = o - 1;
    if (Text(n) == "=") --n;
    while (Text(n) == "]" && match_[n] >= 0) n = match_[n] - 1;
    return Ident(n) ? n : -1;
  }

  std::string Position(int i) const {
    int L = i - 1;
    int R = i + 1;
    // Flags joined to an id: "TWSTATUSF_EVENT | 808", "815 | kLogOnly".
    while (Text(L) == "|") L = SkipOperandLeft(L - 1);
    while (Text(R) == "|") R = SkipOperandRight(R + 1);
    if (IsArithmetic(Text(L)) || IsArithmetic(Text(R))) return "";
    // A branch of a conditional stands where the whole conditional stands, through any
    // conditionals nested in branches.
    if (Text(L) == "?" || (Text(L) == ":" && TernaryQuestion(L) >= 0)) {
      if (Text(L) == "?" && Text(R) != ":") return "";
      for (;;) {
        int q = -1;
        if (Text(L) == "?")
          L = ExpressionStartLeft(L - 1);
        else if (Text(L) == ":" && (q = TernaryQuestion(L)) >= 0)
          L = ExpressionStartLeft(q - 1);
        else
          break;
      }
      R = ExpressionEndRight(R);
    }
    const std::string& l = Text(L);
    const std::string& r = Text(R);

    if ((l == "return" || l == "co_return") && r == ";") return "returned as a status";
    if (l == "case" && r == ":") return "as a case label";

    if (l == "==" || l == "!=" || r == "==" || r == "!=") {
      bool left = l == "==" || l == "!=";
      std::vector<int> other = left ? ComparedOperand(L - 1, -1) : ComparedOperand(R + 1, 1);
      if (other.empty() || SizeContext(other)) return "";
      return "compared with " + LastName(other, left);
    }
    if (l == "<" || l == ">" || l == "<=" || l == ">=" || r == "<" || r == ">" || r == "<=" ||
        r == ">=") {
      bool left = l == "<" || l == ">" || l == "<=" || l == ">=";
      std::vector<int> other = left ? ComparedOperand(L - 1, -1) : ComparedOperand(R + 1, 1);
      std::string name = LastName(other, left);
      if (SizeContext(other) || !StatusName(name)) return "";
      return "compared with " + name;
    }

    // #define NAME id
    int d = t_[i].directive;
    if (d >= 0 && Text(d + 1) == "define" && Ident(d + 2)) {
      bool functionLike = Text(d + 3) == "(" && match_[d + 3] >= 0;
      if (!functionLike) return ConstantRule(Text(d + 2), "macro");
      return "";
    }

    if (l == "=") {
      int n = L - 1;
      while (Text(n) == "]" && match_[n] >= 0) n = match_[n] - 1;
      if (!Ident(n)) return "";
      const std::string& name = Text(n);
      if (ConstantDeclaration(n)) return ConstantRule(name, "constant");
      if (StatusName(name)) return "assigned to " + name;
      return "";
    }

    int open = enclosing_[i];
    if (open >= 0 && (l == "{" || l == "(" || l == ",") && (r == "}" || r == ")" || r == ",")) {
      // L may have moved out of a conditional: the bracket that holds the whole operand.
      if (Opener(L))
        open = L;
      else if (l == ",")
        open = enclosing_[L];
      if (open < 0) return "";
      if (Text(open) == "{") {
        int n = BraceDeclarator(open);
        if (n >= 0 && ConstantDeclaration(n)) return ConstantRule(Text(n), "constant");
        return "";
      }
      if (Text(open) == "(") {
        int callee = open - 1;
        if (!Ident(callee)) return "";
        const std::string& name = Text(callee);
        if (name == "if" || name == "while" || name == "switch" || name == "for" ||
            name == "return" || name == "sizeof" || name == "alignof")
          return "";
        if (ReportName(name)) return "passed to " + name + "()";
      }
    }
    return "";
  }

  std::vector<Token> t_;
  const std::set<uint32_t>& ids_;
  std::vector<int> match_;
  std::vector<int> enclosing_;
  std::set<std::string> layout_;
};

}  // namespace

bool LoadIds(const std::string& path, std::set<uint32_t>* ids, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot open";
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (line.empty() || line[0] == '#' || line == "\r") continue;
    char* end = nullptr;
    unsigned long id = std::strtoul(line.c_str(), &end, 10);
    if (end == line.c_str() || *end != ' ') {
      *error = path + ":" + std::to_string(n) + ": expected a numeric id";
      return false;
    }
    ids->insert(static_cast<uint32_t>(id));
  }
  return true;
}

std::vector<Hit> Scan(std::string_view source, const std::set<uint32_t>& ids) {
  return Scanner(Tokenize(Blank(source)), ids).Run();
}

bool OtherStatusSpace(std::string_view path) {
  for (std::string_view dir : {"outside/plexapi/", "outside/nordex/", "outside/qshost/",
                                "outside/xandbcli/"})
    if (path.find(dir) != std::string_view::npos) return true;
  return false;
}

}  // namespace tw::statusscan
