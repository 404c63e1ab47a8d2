// The dialect rewrite and the value forms of the client library.
#include "dialect.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace ora72 {
namespace {

enum class Tok { kSpace, kWord, kQuoted, kString, kNumber, kParam, kPunct };
struct Token {
  Tok kind;
  size_t start;
  size_t length;
};

bool IsWordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#';
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

// Splits text into tokens; an unterminated literal runs to the end (SQLite reports it).
std::vector<Token> Split(std::string_view t) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < t.size()) {
    size_t s = i;
    char c = t[i];
    Tok k;
    if (std::isspace(static_cast<unsigned char>(c))) {
      while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
      k = Tok::kSpace;
    } else if (IsWordStart(c)) {
      while (i < t.size() && IsWordChar(t[i])) ++i;
      k = Tok::kWord;
    } else if (c == '\'' || c == '"') {
      ++i;
      while (i < t.size()) {
        if (t[i] == c) {
          if (i + 1 < t.size() && t[i + 1] == c) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      k = c == '\'' ? Tok::kString : Tok::kQuoted;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1])))) {
      while (i < t.size() && (std::isalnum(static_cast<unsigned char>(t[i])) || t[i] == '.')) ++i;
      k = Tok::kNumber;
    } else if (c == ':' && i + 1 < t.size() && IsWordChar(t[i + 1])) {
      ++i;
      while (i < t.size() && IsWordChar(t[i])) ++i;
      k = Tok::kParam;
    } else {
      ++i;
      k = Tok::kPunct;
    }
    out.push_back({k, s, i - s});
  }
  return out;
}

const char* const kReserved[] = {
    "ACCESS", "ADD",     "ALL",      "ALTER",   "AND",     "ANY",      "AS",      "ASC",
    "BETWEEN", "BY",     "CHAR",     "CHECK",   "CLUSTER", "COLUMN",   "COMMENT", "CREATE",
    "CURRENT", "DATE",   "DECIMAL",  "DEFAULT", "DELETE",  "DESC",     "DISTINCT", "DROP",
    "ELSE",   "EXISTS",  "FILE",     "FLOAT",   "FOR",     "FROM",     "GRANT",   "GROUP",
    "HAVING", "IN",      "INDEX",    "INSERT",  "INTEGER", "INTO",     "IS",      "LEVEL",
    "LIKE",   "LONG",    "MODE",     "NOT",     "NULL",    "NUMBER",   "OF",      "ON",
    "OR",     "ORDER",   "RAW",      "ROW",     "ROWID",   "ROWNUM",   "SELECT",  "SET",
    "SIZE",   "START",   "SYSDATE",  "TABLE",   "THEN",    "TO",       "UID",     "UNION",
    "UNIQUE", "UPDATE",  "USER",     "VALUES",  "VARCHAR", "VARCHAR2", "VIEW",    "WHERE",
    "WITH"};

bool Reserved(const std::string& upper) {
  for (const char* w : kReserved)
    if (upper == w) return true;
  return false;
}

}  // namespace

Rewritten Rewrite(std::string_view text) {
  Rewritten r;
  std::vector<Token> toks = Split(text);
  auto word = [&](size_t i) { return Upper(text.substr(toks[i].start, toks[i].length)); };
  // Index of the next non-blank token after i, or toks.size().
  auto next = [&](size_t i) {
    for (++i; i < toks.size() && toks[i].kind == Tok::kSpace; ++i) {
    }
    return i;
  };
  size_t first = next(static_cast<size_t>(-1));
  if (first == toks.size()) {
    r.rc = 900;
    return r;
  }
  std::string head = toks[first].kind == Tok::kWord ? word(first) : std::string();
  if (head == "BEGIN" || head == "DECLARE") {
    r.rc = 6550;
    r.offset = static_cast<uint16_t>(toks[first].start);
    return r;
  }
  r.select = head == "SELECT";
  r.ddl = head == "CREATE" || head == "DROP" || head == "ALTER" || head == "TRUNCATE";
  size_t i = 0;
  if (head == "TRUNCATE") {
    size_t t = next(first);
    if (t == toks.size() || word(t) != "TABLE") {
      r.rc = 900;
      r.offset = static_cast<uint16_t>(t == toks.size() ? text.size() : toks[t].start);
      return r;
    }
    r.sql = "DELETE FROM";
    i = t + 1;
  }
  bool createTable = false;
  if (head == "CREATE") {
    size_t t = next(first);
    createTable = t < toks.size() && word(t) == "TABLE";
  }
  int depth = 0;
  bool columnStart = false;  // the next word at depth 1 names a column (CREATE TABLE)
  bool typeNext = false;     // the next word is that column's type
  // A column whose type has a length the server enforces (1401): its name, and the length
  // once read from the type's parentheses.
  std::string sizedColumn;
  std::string sizedLength;
  for (; i < toks.size(); ++i) {
    const Token& k = toks[i];
    std::string_view s = text.substr(k.start, k.length);
    switch (k.kind) {
      case Tok::kString:
        if (s == "''") {
          r.sql += "NULL";
          continue;
        }
        break;
      case Tok::kPunct:
        if (s == "(") {
          ++depth;
          if (createTable && depth == 1) columnStart = true;
        } else if (s == ")") {
          --depth;
          if (depth == 1 && !sizedColumn.empty() && !sizedLength.empty()) {
            r.sql += ") CONSTRAINT ora72_size CHECK (length(CAST(" + sizedColumn +
                     " AS BLOB)) <= " + sizedLength + ")";
            sizedColumn.clear();
            continue;
          }
        } else if (s == "," && createTable && depth == 1) {
          columnStart = true;
          sizedColumn.clear();
        } else if (s == ";" || s == "?" || s == "@" || s == "`" || s == "[" || s == "]" ||
                   s == "{" || s == "}" || s == "\\" || s == "#" || s == "$") {
          r.rc = 911;
          r.offset = static_cast<uint16_t>(k.start);
          return r;
        }
        break;
      case Tok::kWord: {
        std::string u = Upper(s);
        if (columnStart) {
          columnStart = false;
          if (u != "CONSTRAINT" && u != "PRIMARY" && u != "UNIQUE" && u != "CHECK" &&
              u != "FOREIGN") {
            if (s.size() > 30 || Reserved(u)) {
              r.rc = 904;
              r.offset = static_cast<uint16_t>(k.start);
              return r;
            }
            typeNext = true;
            sizedColumn = std::string(s);
            sizedLength.clear();
          }
          break;
        }
        if (typeNext) {
          typeNext = false;
          if (u != "VARCHAR2" && u != "VARCHAR" && u != "CHAR" && u != "RAW") sizedColumn.clear();
          // Keep the declared type for describe, and keep SQLite from changing the bytes of
          // long and raw values: their affinity becomes text or none.
          size_t n = next(i);
          if (u == "LONG" && n < toks.size() && toks[n].kind == Tok::kWord && word(n) == "RAW") {
            r.sql += "LONG RAW BLOB";
            i = n;
            continue;
          }
          if (u == "LONG") {
            r.sql += "LONG TEXT";
            continue;
          }
          if (u == "RAW") {
            r.sql += "RAW BLOB";
            continue;
          }
          break;
        }
        if (u == "SYSDATE") {
          size_t n = next(i);
          if (n == toks.size() || text.substr(toks[n].start, toks[n].length) != "(") {
            r.sql += "SYSDATE()";
            continue;
          }
        }
        if (u == "FOR" && depth == 0) {
          size_t n = next(i);
          if (n < toks.size() && toks[n].kind == Tok::kWord && word(n) == "UPDATE") {
            r.forUpdate = true;
            while (!r.sql.empty() && r.sql.back() == ' ') r.sql.pop_back();
            return r;
          }
        }
        break;
      }
      case Tok::kNumber:
        if (!sizedColumn.empty() && depth == 2 && sizedLength.empty()) {
          size_t nz = s.find_first_not_of('0');
          sizedLength = nz == std::string_view::npos ? "0" : std::string(s.substr(nz));
        }
        break;
      default:
        break;
    }
    r.sql.append(s);
  }
  return r;
}

ColumnType TypeOfDeclared(std::string_view declared) {
  ColumnType c;
  std::string u = Upper(declared);
  size_t paren = u.find('(');
  std::string name = u.substr(0, paren);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  int a = 0, b = 0;
  int n = paren == std::string::npos ? 0 : std::sscanf(u.c_str() + paren, "(%d , %d", &a, &b);
  if (n < 1) n = paren == std::string::npos ? 0 : std::sscanf(u.c_str() + paren, "(%d,%d", &a, &b);
  auto starts = [&](const char* w) { return name.rfind(w, 0) == 0; };
  if (starts("VARCHAR")) {
    c.type = 1;
    c.size = n >= 1 ? a : 2000;
  } else if (starts("CHAR")) {
    c.type = 96;
    c.size = n >= 1 ? a : 1;
  } else if (starts("NUMBER")) {
    c.type = 2;
    c.size = 22;
    c.precision = static_cast<int16_t>(n >= 1 ? a : 0);
    c.scale = static_cast<int16_t>(n >= 2 ? b : 0);
  } else if (starts("INT")) {
    c.type = 2;
    c.size = 22;
    c.precision = 38;
  } else if (starts("FLOAT")) {
    c.type = 2;
    c.size = 22;
    c.precision = static_cast<int16_t>(n >= 1 ? a : 126);
    c.scale = -127;
  } else if (starts("DATE")) {
    c.type = 12;
    c.size = 7;
  } else if (starts("LONG RAW")) {
    c.type = 24;
  } else if (starts("LONG")) {
    c.type = 8;
  } else if (starts("RAW")) {
    c.type = 23;
    c.size = n >= 1 ? a : 255;
  } else if (starts("ROWID")) {
    c.type = 11;
    c.size = 18;
  } else {
    c.type = 1;
    c.size = 0;
  }
  return c;
}

bool VarnumFromText(std::string_view text, unsigned char out[22]) {
  size_t i = 0;
  bool negative = false;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string digits;
  long point = -1;
  bool any = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits += c;
      any = true;
    } else if (c == '.' && point < 0) {
      point = static_cast<long>(digits.size());
    } else {
      break;
    }
  }
  if (!any) return false;
  if (point < 0) point = static_cast<long>(digits.size());
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    int e = 0;
    int used = 0;
    if (std::sscanf(std::string(text.substr(i + 1)).c_str(), "%d%n", &e, &used) != 1) return false;
    point += e;
    i += 1 + static_cast<size_t>(used);
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i != text.size()) return false;
  size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    out[0] = 1;
    out[1] = 0x80;
    return true;
  }
  digits.erase(0, lead);
  point -= static_cast<long>(lead);
  while (digits.back() == '0') digits.pop_back();
  if (point % 2 != 0) {
    digits.insert(digits.begin(), '0');
    ++point;
  }
  if (digits.size() % 2 != 0) digits += '0';
  long e = point / 2 - 1;
  if (e > 62 || e < -65) return false;
  size_t pairs = std::min<size_t>(digits.size() / 2, 20);
  while (pairs > 1 && digits[2 * pairs - 2] == '0' && digits[2 * pairs - 1] == '0') --pairs;
  size_t n = 1;
  out[n++] = static_cast<unsigned char>(negative ? 62 - e : 193 + e);
  for (size_t p = 0; p < pairs; ++p) {
    int d = (digits[2 * p] - '0') * 10 + (digits[2 * p + 1] - '0');
    out[n++] = static_cast<unsigned char>(negative ? 101 - d : d + 1);
  }
  if (negative && pairs < 20) out[n++] = 102;
  out[0] = static_cast<unsigned char>(n - 1);
  return true;
}

std::string VarnumToText(const unsigned char* v, size_t length) {
  if (length < 2 || v[0] < 1) return "0";
  size_t n = std::min<size_t>(v[0], length - 1);
  if (n == 1 && v[1] == 0x80) return "0";
  bool negative = v[1] < 128;
  long e = negative ? 62 - static_cast<long>(v[1]) : static_cast<long>(v[1]) - 193;
  std::string pairs;
  for (size_t i = 2; i <= n; ++i) {
    if (negative && v[i] == 102) break;
    int d = negative ? 101 - v[i] : v[i] - 1;
    if (d < 0 || d > 99) d = 0;
    pairs += static_cast<char>('0' + d / 10);
    pairs += static_cast<char>('0' + d % 10);
  }
  long point = 2 * (e + 1);
  std::string s;
  if (point <= 0) {
    s = "0." + std::string(static_cast<size_t>(-point), '0') + pairs;
  } else if (static_cast<size_t>(point) >= pairs.size()) {
    s = pairs + std::string(static_cast<size_t>(point) - pairs.size(), '0');
  } else {
    s = pairs.substr(0, static_cast<size_t>(point)) + "." + pairs.substr(static_cast<size_t>(point));
  }
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  size_t lead = 0;
  while (lead + 1 < s.size() && s[lead] == '0' && s[lead + 1] != '.') ++lead;
  s.erase(0, lead);
  return negative ? "-" + s : s;
}

namespace {
bool ValidParts(int y, int mo, int d, int h, int mi, int s) {
  return y >= 1 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h >= 0 && h <= 23 &&
         mi >= 0 && mi <= 59 && s >= 0 && s <= 59;
}
std::string PartsText(int y, int mo, int d, int h, int mi, int s) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return b;
}
}  // namespace

bool DateFromText(std::string_view text, unsigned char out[7]) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  std::string t(text);
  int n = std::sscanf(t.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s);
  if ((n != 3 && n != 6) || !ValidParts(y, mo, d, h, mi, s)) return false;
  out[0] = static_cast<unsigned char>(y / 100 + 100);
  out[1] = static_cast<unsigned char>(y % 100 + 100);
  out[2] = static_cast<unsigned char>(mo);
  out[3] = static_cast<unsigned char>(d);
  out[4] = static_cast<unsigned char>(h + 1);
  out[5] = static_cast<unsigned char>(mi + 1);
  out[6] = static_cast<unsigned char>(s + 1);
  return true;
}

std::string DateToText(const unsigned char in[7]) {
  return PartsText((in[0] - 100) * 100 + (in[1] - 100), in[2], in[3], in[4] - 1, in[5] - 1,
                   in[6] - 1);
}

bool ToDate(std::string_view text, std::string_view format, std::string& out) {
  std::string t(text);
  std::string f = Upper(format);
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (f == "YYYY MM DD HH MI SS AM") {
    char ampm[3] = {};
    int used = 0;
    if (std::sscanf(t.c_str(), "%d %d %d %d %d %d %2s%n", &y, &mo, &d, &h, &mi, &s, ampm, &used) !=
            7 ||
        t.find_first_not_of(' ', static_cast<size_t>(used)) != std::string::npos || h < 1 || h > 12)
      return false;
    std::string m = Upper(ampm);
    if (m == "AM") {
      if (h == 12) h = 0;
    } else if (m == "PM") {
      if (h != 12) h += 12;
    } else {
      return false;
    }
  } else if (f == "YYYY-MM-DD HH24:MI:SS") {
    if (std::sscanf(t.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  } else if (f == "YYYY-MM-DD") {
    if (std::sscanf(t.c_str(), "%d-%d-%d", &y, &mo, &d) != 3) return false;
  } else {
    return false;
  }
  if (!ValidParts(y, mo, d, h, mi, s)) return false;
  out = PartsText(y, mo, d, h, mi, s);
  return true;
}

}  // namespace ora72
