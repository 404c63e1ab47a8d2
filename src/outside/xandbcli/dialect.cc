// The Xandb dialect shim: a small scanner over the statement text, then rules applied to its
// words. Whitespace before a word travels with it, so a dropped clause leaves no double blanks
// behind and the surviving text keeps the connector's own spacing.
#include "dialect.h"

#include <cctype>
#include <cstdio>
#include <utility>
#include <vector>

namespace xandbcli {
namespace {

enum class Kind { kWord, kString, kQuoted, kOther };

struct Token {
  Token(Kind k, std::string_view l, std::string_view t) : kind(k), lead(l), text(t) {}
  Kind kind;
  std::string_view lead;  // the whitespace before the token
  std::string_view text;
  std::string replacement;
  std::string prefix;  // written before the whitespace
  bool replaced = false;
  bool dropped = false;
};

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#' ||
         c == '@';
}

std::vector<Token> Scan(std::string_view text, std::string_view& tail) {
  std::vector<Token> tokens;
  size_t at = 0;
  while (true) {
    const size_t lead_start = at;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at == text.size()) {
      tail = text.substr(lead_start);
      return tokens;
    }
    const std::string_view lead = text.substr(lead_start, at - lead_start);
    const size_t start = at;
    Kind kind = Kind::kOther;
    const char c = text[at];
    if (c == '\'' || c == '"') {
      // A doubled quote stays inside; an unclosed literal runs to the end of the text.
      kind = c == '\'' ? Kind::kString : Kind::kQuoted;
      ++at;
      while (at < text.size()) {
        if (text[at] == c) {
          if (at + 1 < text.size() && text[at + 1] == c) {
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        ++at;
      }
    } else if (IsWordChar(c)) {
      kind = Kind::kWord;
      while (at < text.size() && IsWordChar(text[at])) ++at;
    } else {
      ++at;
    }
    Token token{kind, lead, text.substr(start, at - start)};
    tokens.push_back(std::move(token));
  }
}

bool Is(const Token& token, std::string_view word) {
  if (token.kind != Kind::kWord || token.text.size() != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(token.text[i])) != word[i]) return false;
  return true;
}

class Rewriter {
 public:
  Rewriter(std::string_view text, Engine engine) : engine_(engine) { tokens_ = Scan(text, tail_); }

  Rewritten Run() {
    Rewritten out;
    if (WholeLocalTimeQuery()) {
      out.text = LocalTimeQuery();
      return out;
    }
    for (size_t i = 0; i < tokens_.size(); ++i) {
      if (TimestampLiteral(i) || BitDataType(i) || TextType(i) || BinaryType(i) ||
          NotLoggedCompact(i) || DoublePrecision(i) || ForUpdate(i, out) || CurrentOf(i, out))
        continue;
    }
    for (const Token& token : tokens_) {
      out.text += token.prefix;
      if (token.dropped) continue;
      out.text += token.lead;
      out.text += token.replaced ? std::string_view(token.replacement) : token.text;
    }
    out.text += tail_;
    return out;
  }

 private:
  bool At(size_t i, std::string_view word) const {
    return i < tokens_.size() && Is(tokens_[i], word);
  }
  bool AtChar(size_t i, char c) const {
    return i < tokens_.size() && tokens_[i].kind == Kind::kOther && tokens_[i].text.size() == 1 &&
           tokens_[i].text[0] == c;
  }
  void Replace(size_t i, std::string text) {
    tokens_[i].replacement = std::move(text);
    tokens_[i].replaced = true;
  }
  void Drop(size_t from, size_t to) {
    for (size_t i = from; i < to && i < tokens_.size(); ++i) tokens_[i].dropped = true;
  }
  // The index after "( number )" at i, or 0 when there is none.
  size_t SizeEnd(size_t i) const {
    if (AtChar(i, '(') && i + 2 < tokens_.size() && tokens_[i + 1].kind == Kind::kWord &&
        AtChar(i + 2, ')'))
      return i + 3;
    return 0;
  }

  // "VALUES CURRENT TIMESTAMP" and "SELECT DISTINCT CURRENT TIMESTAMP FROM t" ask for the
  // server's time; SQLite has no VALUES statement and a DISTINCT over an empty table gives no
  // row, so both become a plain query of the local time.
  bool WholeLocalTimeQuery() const {
    if (tokens_.size() == 3 && At(0, "VALUES") && At(1, "CURRENT") && At(2, "TIMESTAMP"))
      return true;
    return tokens_.size() >= 6 && At(0, "SELECT") && At(1, "DISTINCT") && At(2, "CURRENT") &&
           At(3, "TIMESTAMP") && At(4, "FROM");
  }
  std::string LocalTimeQuery() const {
    if (engine_ == Engine::kSqlite)
      return "SELECT strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')";
    return "SELECT LOCALTIMESTAMP";
  }

  // TIMESTAMP ('Y-M-D-h.m.s.hh'): the literal in the form the driver stores a bound timestamp,
  // so that a stamp window compares like with like.
  bool TimestampLiteral(size_t i) {
    if (!At(i, "TIMESTAMP") || !AtChar(i + 1, '(') || i + 3 >= tokens_.size() ||
        tokens_[i + 2].kind != Kind::kString || !AtChar(i + 3, ')'))
      return false;
    const std::string_view literal = tokens_[i + 2].text;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, hs = 0;
    int used = 0;
    const std::string body(literal.substr(1, literal.size() >= 2 ? literal.size() - 2 : 0));
    if (std::sscanf(body.c_str(), "%u-%u-%u-%u.%u.%u.%u%n", &y, &mo, &d, &h, &mi, &s, &hs, &used) !=
            7 ||
        static_cast<size_t>(used) != body.size())
      return false;
    char text[64];
    if (engine_ == Engine::kSqlite)
      std::snprintf(text, sizeof text, "'%04u-%02u-%02u %02u:%02u:%02u.%03u'", y, mo, d, h, mi, s,
                    hs * 10);
    else
      std::snprintf(text, sizeof text, "TIMESTAMP '%04u-%02u-%02u %02u:%02u:%02u.%02u'", y, mo, d,
                    h, mi, s, hs);
    Replace(i, text);
    Drop(i + 1, i + 4);
    return true;
  }

  std::string BinaryName() const { return engine_ == Engine::kSqlite ? "BLOB" : "BYTEA"; }

  // CHAR (n) / VARCHAR (n) / LONG VARCHAR ... FOR BIT DATA: binary columns.
  bool BitDataType(size_t i) {
    size_t end = 0;
    if (At(i, "CHAR") || At(i, "VARCHAR"))
      end = SizeEnd(i + 1);
    else if (At(i, "LONG") && At(i + 1, "VARCHAR"))
      end = i + 2;
    if (end == 0 || !At(end, "FOR") || !At(end + 1, "BIT") || !At(end + 2, "DATA")) return false;
    Replace(i, BinaryName());
    Drop(i + 1, end + 3);
    return true;
  }
  bool TextType(size_t i) {
    size_t end = 0;
    if (At(i, "CLOB"))
      end = SizeEnd(i + 1) != 0 ? SizeEnd(i + 1) : i + 1;
    else if (At(i, "LONG") && At(i + 1, "VARCHAR"))
      end = i + 2;
    if (end == 0) return false;
    Replace(i, "TEXT");
    Drop(i + 1, end);
    return true;
  }
  bool BinaryType(size_t i) {
    if (!At(i, "BLOB")) return false;
    Replace(i, BinaryName());
    if (const size_t end = SizeEnd(i + 1)) Drop(i + 1, end);
    return true;
  }
  bool NotLoggedCompact(size_t i) {
    if (!At(i, "NOT") || !At(i + 1, "LOGGED") || !At(i + 2, "COMPACT")) return false;
    Drop(i, i + 3);
    return true;
  }
  bool DoublePrecision(size_t i) {
    if (engine_ != Engine::kPostgres || !At(i, "DOUBLE") || At(i + 1, "PRECISION")) return false;
    Replace(i, "DOUBLE PRECISION");
    return true;
  }
  // FOR UPDATE [OF columns]: SQLite has no row locks, PostgreSQL locks whole rows (its OF
  // names tables, not columns). The clause ends the statement.
  bool ForUpdate(size_t i, Rewritten& out) {
    if (!At(i, "FOR") || !At(i + 1, "UPDATE")) return false;
    // The row identity goes before the select's own FROM (the first outside parentheses).
    if (At(0, "SELECT")) {
      int depth = 0;
      for (size_t f = 1; f < i; ++f) {
        if (AtChar(f, '(')) ++depth;
        if (AtChar(f, ')')) --depth;
        if (depth == 0 && At(f, "FROM")) {
          tokens_[f].prefix = std::string(", ") + IdentityName();
          out.row_identity = true;
          break;
        }
      }
    }
    if (engine_ == Engine::kSqlite)
      Drop(i, tokens_.size());
    else if (At(i + 2, "OF"))
      Drop(i + 2, tokens_.size());
    return true;
  }

  const char* IdentityName() const { return engine_ == Engine::kSqlite ? "rowid" : "ctid"; }

  // WHERE CURRENT OF name: a compare of the row identity with a parameter after all others.
  bool CurrentOf(size_t i, Rewritten& out) {
    if (!At(i, "WHERE") || !At(i + 1, "CURRENT") || !At(i + 2, "OF") || i + 3 >= tokens_.size() ||
        tokens_[i + 3].kind != Kind::kWord)
      return false;
    unsigned parameters = 0;
    for (const Token& token : tokens_)
      if (token.kind == Kind::kOther && token.text == "?") ++parameters;
    out.cursor = std::string(tokens_[i + 3].text);
    out.identity_parameter = parameters + 1;
    Replace(i + 1, engine_ == Engine::kSqlite ? "rowid = ?" : "ctid = CAST(? AS tid)");
    Drop(i + 2, i + 4);
    return true;
  }

  Engine engine_;
  std::vector<Token> tokens_;
  std::string_view tail_;
};

}  // namespace

Engine EngineOfDbmsName(std::string_view dbms_name) {
  std::string upper;
  for (char c : dbms_name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("SQLITE") != std::string::npos) return Engine::kSqlite;
  if (upper.find("POSTGRES") != std::string::npos) return Engine::kPostgres;
  return Engine::kOther;
}

Rewritten RewriteStatement(std::string_view text, Engine engine) {
  if (engine == Engine::kOther) {
    Rewritten out;
    out.text = std::string(text);
    return out;
  }
  return Rewriter(text, engine).Run();
}

}  // namespace xandbcli
