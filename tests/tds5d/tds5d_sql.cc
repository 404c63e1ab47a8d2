// The T-SQL subset of tds5d rewritten for SQLite, and the stored forms of its column types.
#include "tds5d_sql.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "tds5d_values.h"

namespace tds5d {

namespace {

bool IdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '#' || c == '@' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string Quote(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Reads a quoted literal at text[i] (quote q, doubled to escape); i ends past it.
bool ReadQuoted(std::string_view text, size_t& i, char q, std::string& content) {
  for (++i; i < text.size(); ++i) {
    if (text[i] == q) {
      if (i + 1 < text.size() && text[i + 1] == q) {
        content += q;
        ++i;
        continue;
      }
      ++i;
      return true;
    }
    content += text[i];
  }
  return false;
}

std::vector<int> Args(std::string_view args) {
  std::vector<int> out;
  size_t i = 0;
  while (i < args.size()) {
    while (i < args.size() && !std::isdigit(static_cast<unsigned char>(args[i]))) ++i;
    if (i == args.size()) break;
    out.push_back(std::atoi(std::string(args.substr(i)).c_str()));
    while (i < args.size() && std::isdigit(static_cast<unsigned char>(args[i]))) ++i;
  }
  return out;
}

}  // namespace

std::optional<Column> ColumnOfDeclared(std::string_view declared) {
  if (declared.empty()) return std::nullopt;
  size_t open = declared.find('(');
  std::string head = Upper(declared.substr(0, open));
  std::vector<int> args =
      open == std::string_view::npos ? std::vector<int>{} : Args(declared.substr(open));
  std::string word = head.substr(0, head.find(' '));
  Column c;
  auto lengthOr = [&](int fallback) { return args.empty() ? fallback : args[0]; };
  if (word == "INT" || word == "INTEGER")
    c = {"", kIntN, 4};
  else if (word == "SMALLINT")
    c = {"", kIntN, 2};
  else if (word == "TINYINT")
    c = {"", kIntN, 1};
  else if (word == "BIGINT")
    c = {"", kIntN, 8};
  else if (word == "BIT")
    c = {"", kBit, 1};
  else if (word == "FLOAT" || word == "DOUBLE")
    c = {"", kFloatN, 8};
  else if (word == "REAL")
    c = {"", kFloatN, 4};
  else if (word == "MONEY")
    c = {"", kMoneyN, 8};
  else if (word == "SMALLMONEY")
    c = {"", kMoneyN, 4};
  else if (word == "DATETIME")
    c = {"", kDatetimeN, 8};
  else if (word == "SMALLDATETIME")
    c = {"", kDatetimeN, 4};
  else if (word == "NUMERIC" || word == "DECIMAL") {
    int p = args.empty() ? 18 : args[0], s = args.size() > 1 ? args[1] : 0;
    c = {"", kNumericN, NumericBytes(p), static_cast<uint8_t>(p), static_cast<uint8_t>(s)};
  } else if (word == "CHAR" || word == "VARCHAR") {
    int n = lengthOr(1);
    c = {"", n > 255 ? kLongChar : (word == "CHAR" ? kChar : kVarChar), n};
  } else if (word == "BINARY" || word == "VARBINARY") {
    int n = lengthOr(1);
    c = {"", n > 255 ? kLongBinary : (word == "BINARY" ? kBinary : kVarBinary), n};
  } else if (word == "TEXT")
    c = {"", kText, 0x7FFFFFFF};
  else if (word == "IMAGE" || word == "BLOB")
    c = {"", kImage, 0x7FFFFFFF};
  else
    return std::nullopt;
  return c;
}

void MakeNotNull(Column& c) {
  c.nullable = false;
  switch (c.type) {
    case kIntN:
      c.type = c.length == 1 ? kInt1 : c.length == 2 ? kInt2 : c.length == 4 ? kInt4 : kInt8;
      break;
    case kFloatN:
      c.type = c.length == 4 ? kReal : kFloat;
      break;
    case kMoneyN:
      c.type = c.length == 4 ? kMoney4 : kMoney;
      break;
    case kDatetimeN:
      c.type = c.length == 4 ? kDatetime4 : kDatetime;
      break;
    default:
      break;
  }
}

int FixedSize(uint8_t type) {
  switch (type) {
    case kInt1:
    case kBit:
      return 1;
    case kInt2:
      return 2;
    case kInt4:
    case kReal:
    case kMoney4:
    case kDatetime4:
      return 4;
    case kInt8:
    case kFloat:
    case kMoney:
    case kDatetime:
      return 8;
    default:
      return 0;
  }
}

std::optional<StoredType> StoredTypeOf(std::string_view type, std::string_view args) {
  std::string t = Upper(type);
  std::string a(args);
  auto typed = [](const char* types) { return std::string("typeof(%s) in (") + types + ")"; };
  // Integers also keep to their range: the wire holds them in 1, 2 or 4 bytes.
  if (t == "TINYINT")
    return StoredType{"tinyint", typed("'integer','null'") + " and %s between 0 and 255"};
  if (t == "SMALLINT")
    return StoredType{"smallint", typed("'integer','null'") + " and %s between -32768 and 32767"};
  if (t == "INT" || t == "INTEGER")
    return StoredType{"int",
                      typed("'integer','null'") + " and %s between -2147483648 and 2147483647"};
  if (t == "BIGINT") return StoredType{"bigint", typed("'integer','null'")};
  if (t == "BIT") return StoredType{"bit", "%s in (0, 1)"};
  if (t == "FLOAT" || t == "REAL" || t == "DOUBLE")
    return StoredType{t == "REAL" ? "real" : "float", typed("'integer','real','null'")};
  if (t == "MONEY") return StoredType{"money text", "tds5d_num(%s, 19, 4)"};
  if (t == "SMALLMONEY") return StoredType{"smallmoney text", "tds5d_num(%s, 10, 4)"};
  if (t == "NUMERIC" || t == "DECIMAL") {
    std::vector<int> n = Args(a);
    int p = n.empty() ? 18 : n[0], s = n.size() > 1 ? n[1] : 0;
    if (p < 1 || p > 38 || s > p) return std::nullopt;
    std::string ps = std::to_string(p) + "," + std::to_string(s);
    return StoredType{"numeric text(" + ps + ")", "tds5d_num(%s, " + ps + ")"};
  }
  if (t == "DATETIME" || t == "SMALLDATETIME")
    return StoredType{t == "DATETIME" ? "datetime text" : "smalldatetime text", "tds5d_isdate(%s)"};
  if (t == "CHAR" || t == "VARCHAR" || t == "NCHAR" || t == "NVARCHAR" || t == "SYSNAME") {
    std::vector<int> n = Args(a);
    int len = t == "SYSNAME" ? 30 : n.empty() ? 1 : n[0];
    if (len < 1 || len > 16384) return std::nullopt;
    return StoredType{
        (t == "CHAR" || t == "NCHAR" ? "char(" : "varchar(") + std::to_string(len) + ")",
        typed("'text','null'")};
  }
  if (t == "BINARY" || t == "VARBINARY") {
    std::vector<int> n = Args(a);
    int len = n.empty() ? 1 : n[0];
    if (len < 1 || len > 16384) return std::nullopt;
    return StoredType{(t == "BINARY" ? "binary(" : "varbinary(") + std::to_string(len) + ")",
                      typed("'blob','null'")};
  }
  if (t == "TEXT") return StoredType{"text", typed("'text','null'")};
  if (t == "IMAGE") return StoredType{"image", typed("'blob','null'")};
  return std::nullopt;
}

std::vector<Word> Words(std::string_view text, size_t max) {
  std::vector<Word> out;
  size_t i = 0;
  while (i < text.size() && out.size() < max) {
    char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == '\0') {
      ++i;
      continue;
    }
    Word w;
    w.begin = i;
    if (c == '\'' || c == '"') {
      std::string content;
      ReadQuoted(text, i, c, content);
      w.text = content;
      w.upper = Upper(content);
    } else if (IdentChar(c)) {
      while (i < text.size() && IdentChar(text[i])) ++i;
      w.text = std::string(text.substr(w.begin, i - w.begin));
      w.upper = Upper(w.text);
    } else {
      ++i;
      w.text = std::string(1, c);
      w.upper = w.text;
    }
    w.end = i;
    out.push_back(std::move(w));
  }
  return out;
}

std::optional<std::string> ToSqlite(std::string_view text, const Dialect& d, std::string& error) {
  std::string out;
  out.reserve(text.size() + 16);
  size_t i = 0;
  auto prevIdent = [&] { return !out.empty() && IdentChar(out.back()); };
  while (i < text.size()) {
    char c = text[i];
    if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') out += text[i++];
      continue;
    }
    if (c == '\'' || c == '"') {
      std::string content;
      if (!ReadQuoted(text, i, c, content)) {
        error = "Unclosed quote before the character string '" + content + "'.";
        return std::nullopt;
      }
      // A date in any written form (m/d/yyyy, with AM or PM, yyyy-mm-dd, quoted either way)
      // is kept in the stored form, so that dates compare and sort as dates. A bare yyyymmdd
      // stays as typed: it may as well be a number in a text column.
      if (content.find_first_of("/:") != std::string::npos ||
          (content.size() >= 8 && content[4] == '-')) {
        if (auto dt = DatetimeFromText(content)) content = TextFromDatetime(*dt);
      }
      out += Quote(content);
      continue;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        !prevIdent()) {
      size_t j = i + 2;
      while (j < text.size() && std::isxdigit(static_cast<unsigned char>(text[j]))) ++j;
      std::string hex(text.substr(i + 2, j - i - 2));
      if (hex.size() % 2) hex.insert(hex.begin(), '0');
      out += "X'" + hex + "'";
      i = j;
      continue;
    }
    if (c == '$' && !prevIdent()) {
      size_t j = i + 1;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) ||
                                 text[j] == '.' || text[j] == '-' || text[j] == '+'))
        ++j;
      out += Quote(text.substr(i + 1, j - i - 1));
      i = j;
      continue;
    }
    auto numberAt = [&](size_t k) {
      return k < text.size() && (std::isdigit(static_cast<unsigned char>(text[k])) ||
                                 (text[k] == '.' && k + 1 < text.size() &&
                                  std::isdigit(static_cast<unsigned char>(text[k + 1]))));
    };
    // A minus after an operator, a comma or a parenthesis belongs to the number (so that a
    // long negative number stays exact too).
    bool sign = false;
    if (c == '-' && numberAt(i + 1)) {
      size_t k = out.find_last_not_of(" \t\r\n");
      sign = k == std::string::npos || std::strchr("(,=<>", out[k]) != nullptr;
    }
    if ((sign || numberAt(i)) && !prevIdent()) {
      size_t j = sign ? i + 1 : i;
      int digits = 0;
      bool dot = false, exponent = false;
      while (j < text.size() &&
             (std::isdigit(static_cast<unsigned char>(text[j])) || (text[j] == '.' && !dot))) {
        if (text[j] == '.')
          dot = true;
        else
          ++digits;
        ++j;
      }
      if (j + 1 < text.size() && (text[j] == 'e' || text[j] == 'E')) {
        size_t k = j + 1;
        if (text[k] == '+' || text[k] == '-') ++k;
        if (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]))) {
          while (k < text.size() && std::isdigit(static_cast<unsigned char>(text[k]))) ++k;
          exponent = true;
          j = k;
        }
      }
      // SQLite would read a long decimal or a number past 64 bits as a double: keep their
      // digits as text (a number with an exponent is a float anyway).
      std::string_view number = text.substr(i, j - i);
      if (!exponent && ((dot && digits > 15) || digits > 18))
        out += Quote(number);
      else
        out += number;
      i = j;
      continue;
    }
    if (c == '@' && i + 1 < text.size() && text[i + 1] == '@') {
      size_t j = i + 2;
      while (j < text.size() && IdentChar(text[j])) ++j;
      std::string name = Upper(text.substr(i + 2, j - i - 2));
      if (name == "CLIENT_CSNAME")
        out += Quote(d.charset);
      else if (name == "ROWCOUNT")
        out += "changes()";
      else if (name == "SPID")
        out += std::to_string(d.spid);
      else if (name == "ERROR")
        out += "0";
      else {
        error = "Must declare variable '@@" + std::string(text.substr(i + 2, j - i - 2)) + "'.";
        return std::nullopt;
      }
      i = j;
      continue;
    }
    if (IdentChar(c)) {
      size_t j = i;
      while (j < text.size() && IdentChar(text[j])) ++j;
      std::string_view word = text.substr(i, j - i);
      std::string up = Upper(word);
      if (j + 1 < text.size() && text[j] == '.' && text[j + 1] == '.') {
        // db..table: the owner is left out.
        if (up == Upper(d.database)) {
          out += "main.";
        } else {
          out.append(word).append(".");
          if (d.databases) d.databases->emplace_back(word);
        }
        i = j + 2;
        continue;
      }
      if (up == "GETDATE")
        out += "tds5d_getdate";
      else if (up == "ISNULL")
        out += "ifnull";
      else if (up == "LEN")
        out += "length";
      else
        out += word;
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

std::optional<std::string> CreateTableToSqlite(std::string_view table, std::string_view columns,
                                               const Dialect& d, int& errorNumber,
                                               std::string& error) {
  // Split the definitions at the commas outside parentheses.
  std::vector<std::string_view> defs;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == '(')
      ++depth;
    else if (columns[i] == ')')
      --depth;
    else if (columns[i] == ',' && depth == 0) {
      defs.push_back(columns.substr(start, i - start));
      start = i + 1;
    }
  }
  defs.push_back(columns.substr(start));
  std::string out = "create table " + std::string(table) + " (";
  std::string checks;
  for (size_t n = 0; n < defs.size(); ++n) {
    std::vector<Word> w = Words(defs[n], 64);
    if (w.size() < 2) {
      errorNumber = 102;
      error = "Incorrect syntax near '" + std::string(defs[n]) + "'.";
      return std::nullopt;
    }
    size_t k = 2;
    std::string args;
    if (k < w.size() && w[k].text == "(") {
      size_t close = k;
      while (close < w.size() && w[close].text != ")") ++close;
      if (close == w.size()) {
        errorNumber = 102;
        error = "Incorrect syntax near '('.";
        return std::nullopt;
      }
      args = std::string(defs[n].substr(w[k].begin, w[close].end - w[k].begin));
      k = close + 1;
    }
    auto stored = StoredTypeOf(w[1].text, args);
    if (!stored) {
      errorNumber = 2715;
      error = "Can't find type '" + w[1].text + "'.";
      return std::nullopt;
    }
    std::string rest = k < w.size() ? std::string(defs[n].substr(w[k].begin)) : "";
    auto restSql = ToSqlite(rest, d, error);
    if (!restSql) {
      errorNumber = 105;
      return std::nullopt;
    }
    if (n) out += ", ";
    out += w[0].text + " " + stored->declared + (rest.empty() ? "" : " " + *restSql);
    std::string check = stored->check;
    for (size_t at; (at = check.find("%s")) != std::string::npos;) check.replace(at, 2, w[0].text);
    checks += ", check (" + check + ")";
  }
  return out + checks + ")";
}

}  // namespace tds5d
