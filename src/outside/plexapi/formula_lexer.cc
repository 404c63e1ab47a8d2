// The formula lexer: numbers, quoted texts with backslash escapes, names, keywords, function
// tokens and operators.
#include <charconv>
#include <cmath>
#include <string>

#include "formula_impl.h"

namespace plexa::fx {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
// Bytes of UTF-8 sequences count as letters, so that names may be written in any script.
bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) {
  return IsNameStart(c) || IsDigit(c);
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

uint32_t Lex(std::string_view text, std::vector<Token>& out, size_t& offset) {
  std::vector<Token> tokens;
  const size_t n = text.size();
  size_t i = 0;
  auto fail = [&](size_t at) {
    offset = at;
    return GVERR_FORMULA;
  };
  while (true) {
    while (i < n && IsSpace(text[i])) ++i;
    Token t;
    t.offset = i;
    if (i >= n) {
      t.kind = Tok::kEnd;
      tokens.push_back(std::move(t));
      break;
    }
    const char c = text[i];
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1]))) {
      const size_t start = i;
      while (i < n && IsDigit(text[i])) ++i;
      if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i;
      }
      if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        if (j >= n || !IsDigit(text[j])) return fail(i);
        while (j < n && IsDigit(text[j])) ++j;
        i = j;
      }
      // from_chars wants digits after a point and before it.
      std::string lexeme(text.substr(start, i - start));
      if (lexeme.front() == '.') lexeme.insert(0, 1, '0');
      const size_t point = lexeme.find('.');
      if (point != std::string::npos && (point + 1 == lexeme.size() || !IsDigit(lexeme[point + 1])))
        lexeme.insert(point + 1, 1, '0');
      double d = 0;
      auto [end, ec] = std::from_chars(lexeme.data(), lexeme.data() + lexeme.size(), d);
      if (ec != std::errc() || end != lexeme.data() + lexeme.size() || !std::isfinite(d))
        return fail(start);
      t.kind = Tok::kNumber;
      t.number = d;
    } else if (c == '\'' || c == '"') {
      const size_t start = i++;
      std::string value;
      bool closed = false;
      while (i < n) {
        const char d = text[i++];
        if (d == '\\') {
          if (i >= n) break;
          value += text[i++];
        } else if (d == c) {
          closed = true;
          break;
        } else {
          value += d;
        }
      }
      if (!closed) return fail(start);
      t.kind = Tok::kText;
      t.text = std::move(value);
    } else if (IsNameStart(c)) {
      const size_t start = i;
      while (i < n && IsNameChar(text[i])) ++i;
      std::string_view name = text.substr(start, i - start);
      if (EqualsNoCase(name, "SELECT")) {
        t.kind = Tok::kSelect;
      } else if (EqualsNoCase(name, "FIELD")) {
        t.kind = Tok::kField;
      } else {
        t.kind = Tok::kName;
        t.text = std::string(name);
      }
    } else if (c == '@') {
      const size_t start = i;
      if (i + 1 >= n || text[i + 1] != '@') return fail(start);
      size_t j = i + 2;
      while (j < n && (IsDigit(text[j]) || (text[j] >= 'a' && text[j] <= 'z'))) ++j;
      if (j + 1 >= n || text[j] != '@' || text[j + 1] != '@' || j == i + 2) return fail(start);
      std::string_view inside = text.substr(i + 2, j - i - 2);
      i = j + 2;
      if (inside == "select") {
        t.kind = Tok::kSelect;
      } else {
        t.function = FindFunction(inside);
        if (t.function == nullptr) return fail(start);
        t.kind = Tok::kFunction;
      }
    } else {
      auto next = [&](char d) { return i + 1 < n && text[i + 1] == d; };
      size_t len = 1;
      switch (c) {
        case ':':
          t.kind = next('=') ? Tok::kAssign : Tok::kColon;
          len = next('=') ? 2 : 1;
          break;
        case '+':
          t.kind = Tok::kPlus;
          break;
        case '-':
          t.kind = Tok::kMinus;
          break;
        case '*':
          t.kind = Tok::kStar;
          break;
        case '/':
          t.kind = Tok::kSlash;
          break;
        case '=':
          t.kind = Tok::kEq;
          break;
        case '<':
          if (next('>')) {
            t.kind = Tok::kNe;
            len = 2;
          } else if (next('=')) {
            t.kind = Tok::kLe;
            len = 2;
          } else {
            t.kind = Tok::kLt;
          }
          break;
        case '>':
          t.kind = next('=') ? Tok::kGe : Tok::kGt;
          len = next('=') ? 2 : 1;
          break;
        case '!':
          t.kind = next('=') ? Tok::kNe : Tok::kNot;
          len = next('=') ? 2 : 1;
          break;
        case '&':
          t.kind = Tok::kAnd;
          break;
        case '|':
          t.kind = Tok::kOr;
          break;
        case '(':
          t.kind = Tok::kLParen;
          break;
        case ')':
          t.kind = Tok::kRParen;
          break;
        case ';':
          t.kind = Tok::kSemi;
          break;
        default:
          return fail(i);
      }
      i += len;
    }
    tokens.push_back(std::move(t));
  }
  out = std::move(tokens);
  return 0;
}

}  // namespace plexa::fx
