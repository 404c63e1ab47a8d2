// qsrun's line language: a parser that reads the whole text before anything runs, and a
// runner that drives the instance line by line.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "qsrun.h"
#include "twstatus.h"

namespace qshost {

struct Term {
  enum Kind { kInt, kDouble, kString, kName, kMember, kFunction, kNew } kind = kInt;
  int32_t i = 0;
  double d = 0;
  std::u16string s;
  std::string name;
  std::string member;
  bool parens = false;
  std::vector<Term> args;
};

struct Stmt {
  enum Kind { kAssign, kPropSet, kCall, kPrint } kind = kCall;
  int line = 0;
  std::string target;
  std::string member;
  Term value;
  std::vector<Term> args;
};

struct Script {
  std::vector<Stmt> stmts;
};

void ScriptDeleter::operator()(Script* s) const {
  delete s;
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Token {
  enum Kind { kEnd, kIdent, kNumber, kString, kPunct } kind = kEnd;
  std::string text;
};

class Lexer {
 public:
  explicit Lexer(const std::string& line) : line_(line) {}

  bool Next(Token* t, std::string* error) {
    while (pos_ < line_.size() && std::isspace(static_cast<unsigned char>(line_[pos_]))) ++pos_;
    *t = Token{};
    if (pos_ >= line_.size() || line_[pos_] == '\'') return true;
    const char c = line_[pos_];
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const size_t start = pos_;
      while (pos_ < line_.size() &&
             (std::isalnum(static_cast<unsigned char>(line_[pos_])) || line_[pos_] == '_'))
        ++pos_;
      t->kind = Token::kIdent;
      t->text = line_.substr(start, pos_ - start);
      return true;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        ((c == '-' || c == '.') && pos_ + 1 < line_.size() &&
         std::isdigit(static_cast<unsigned char>(line_[pos_ + 1])))) {
      const size_t start = pos_++;
      while (pos_ < line_.size() &&
             (std::isalnum(static_cast<unsigned char>(line_[pos_])) || line_[pos_] == '.' ||
              ((line_[pos_] == '-' || line_[pos_] == '+') &&
               (line_[pos_ - 1] == 'e' || line_[pos_ - 1] == 'E'))))
        ++pos_;
      t->kind = Token::kNumber;
      t->text = line_.substr(start, pos_ - start);
      return true;
    }
    if (c == '"') {
      ++pos_;
      for (;;) {
        if (pos_ >= line_.size()) {
          *error = "a text without its closing quote";
          return false;
        }
        if (line_[pos_] == '"') {
          if (pos_ + 1 < line_.size() && line_[pos_ + 1] == '"') {
            t->text.push_back('"');
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        t->text.push_back(line_[pos_++]);
      }
      t->kind = Token::kString;
      return true;
    }
    if (c == '.' || c == ',' || c == '(' || c == ')' || c == '=') {
      t->kind = Token::kPunct;
      t->text = std::string(1, c);
      ++pos_;
      return true;
    }
    *error = std::string("unexpected character '") + c + "'";
    return false;
  }

 private:
  const std::string& line_;
  size_t pos_ = 0;
};

class Parser {
 public:
  Parser(const std::string& line, std::string* error) : lexer_(line), error_(error) {}

  bool Statement(Stmt* s, bool* empty) {
    if (!Advance()) return false;
    *empty = tok_.kind == Token::kEnd || (tok_.kind == Token::kIdent && Lower(tok_.text) == "rem");
    if (*empty) return true;
    if (tok_.kind != Token::kIdent) return Fail("a statement begins with a name");
    std::string first = tok_.text;
    const std::string key = Lower(first);
    if (key == "print") {
      if (!Advance()) return false;
      s->kind = Stmt::kPrint;
      return ParseTerm(&s->value, true) && End();
    }
    if (key == "set") {
      if (!Advance()) return false;
      if (tok_.kind != Token::kIdent) return Fail("Set needs a variable");
      first = tok_.text;
    }
    if (!Advance()) return false;
    if (IsPunct("=")) {
      if (!Advance()) return false;
      s->kind = Stmt::kAssign;
      s->target = first;
      return ParseTerm(&s->value, true) && End();
    }
    if (!IsPunct(".")) return Fail("expected '=' or '.' after " + first);
    if (!Advance()) return false;
    if (tok_.kind != Token::kIdent) return Fail("a member name must follow '.'");
    s->target = first;
    s->member = tok_.text;
    if (!Advance()) return false;
    if (IsPunct("=")) {
      if (!Advance()) return false;
      s->kind = Stmt::kPropSet;
      return ParseTerm(&s->value, true) && End();
    }
    s->kind = Stmt::kCall;
    if (IsPunct("(")) {
      if (!Advance() || !Args(&s->args, ")")) return false;
      return End();
    }
    if (tok_.kind == Token::kEnd) return true;
    return Args(&s->args, "") && End();
  }

 private:
  bool Advance() { return lexer_.Next(&tok_, error_); }
  bool IsPunct(const char* p) const { return tok_.kind == Token::kPunct && tok_.text == p; }
  bool Fail(const std::string& why) {
    *error_ = why;
    return false;
  }
  bool End() { return tok_.kind == Token::kEnd || Fail("unexpected '" + tok_.text + "'"); }

  // Arguments up to the closer (")" after "(", or the end of the line).
  bool Args(std::vector<Term>* args, const char* closer) {
    const bool paren = closer[0] != '\0';
    if (paren && IsPunct(closer)) return Advance();
    for (;;) {
      Term t;
      if (!ParseTerm(&t, false)) return false;
      args->push_back(std::move(t));
      if (IsPunct(",")) {
        if (!Advance()) return false;
        continue;
      }
      if (paren) {
        if (!IsPunct(closer)) return Fail("expected ',' or ')'");
        return Advance();
      }
      return true;
    }
  }

  bool ParseTerm(Term* t, bool allowNew) {
    if (tok_.kind == Token::kNumber) {
      const std::string text = tok_.text;
      char* end = nullptr;
      if (text.find_first_of(".eE") == std::string::npos) {
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (*end != '\0' || v < INT32_MIN || v > UINT32_MAX) return Fail("not a number: " + text);
        t->kind = Term::kInt;
        t->i = static_cast<int32_t>(v);
      } else {
        t->d = std::strtod(text.c_str(), &end);
        if (*end != '\0') return Fail("not a number: " + text);
        t->kind = Term::kDouble;
      }
      return Advance();
    }
    if (tok_.kind == Token::kString) {
      t->kind = Term::kString;
      t->s = Widen(tok_.text);
      return Advance();
    }
    if (tok_.kind != Token::kIdent) return Fail("expected a value");
    t->name = tok_.text;
    if (!Advance()) return false;
    if (Lower(t->name) == "new") {
      if (!allowNew) return Fail("New only on the right of an assignment");
      if (tok_.kind != Token::kIdent) return Fail("New needs a class name");
      t->kind = Term::kNew;
      t->name = tok_.text;
      if (!Advance()) return false;
      if (IsPunct("(")) {
        t->parens = true;
        if (!Advance() || !Args(&t->args, ")")) return false;
      }
      return true;
    }
    if (IsPunct("(")) {
      t->kind = Term::kFunction;
      t->parens = true;
      return Advance() && Args(&t->args, ")");
    }
    if (!IsPunct(".")) {
      t->kind = Term::kName;
      return true;
    }
    if (!Advance()) return false;
    if (tok_.kind != Token::kIdent) return Fail("a member name must follow '.'");
    t->kind = Term::kMember;
    t->member = tok_.text;
    if (!Advance()) return false;
    if (IsPunct("(")) {
      t->parens = true;
      return Advance() && Args(&t->args, ")");
    }
    return true;
  }

  Lexer lexer_;
  std::string* error_;
  Token tok_;
};

const char* HostMeaning(uint32_t st) {
  switch (st) {
    case QSX_EXISTS:
      return "already defined";
    case QSX_NO_OBJECT:
      return "no such object";
    case QSX_NO_METHOD:
      return "no such method";
    case QSX_NOT_ALLOWED:
      return "not allowed";
    default:
      return "host failure";
  }
}

class Runner {
 public:
  Runner(Instance& in, std::ostream& out) : in_(in), out_(out) {}

  // 0, or the status that stops the script with *why.
  uint32_t Run(const Stmt& s, std::string* why) {
    uint32_t st = QSX_OK;
    switch (s.kind) {
      case Stmt::kPrint: {
        QsValue v{};
        st = Eval(s.value, &v, why);
        if (st == QSX_OK && !in_.raised) out_ << Text(v) << '\n';
        in_.Clear(v);
        break;
      }
      case Stmt::kAssign: {
        QsValue v{};
        st = Eval(s.value, &v, why);
        if (st == QSX_OK)
          Assign(in_.Variable(s.target), v);
        else
          in_.Clear(v);
        break;
      }
      case Stmt::kPropSet: {
        QsxObject* obj = nullptr;
        if ((st = ObjectIn(s.target, &obj, why))) break;
        QsValue v{};
        st = Eval(s.value, &v, why);
        if (st == QSX_OK) {
          st = in_.Set(obj, s.member, v);
          if (st) *why = s.target + "." + s.member + ": " + HostMeaning(st);
        }
        in_.Clear(v);
        break;
      }
      case Stmt::kCall: {
        QsValue result{};
        st = Member(s.target, s.member, s.args, true, &result, why);
        in_.Clear(result);
        break;
      }
    }
    return st;
  }

 private:
  void Assign(QsValue* var, QsValue& v) {
    while (var->kind == QSV_REF) var = var->u.ref;
    // v is owned: its string or object reference moves into the variable.
    in_.Clear(*var);
    *var = v;
    v = QsValue{};
  }

  uint32_t ObjectIn(const std::string& name, QsxObject** obj, std::string* why) {
    const QsValue* v = in_.FindVariable(name);
    while (v != nullptr && v->kind == QSV_REF) v = v->u.ref;
    if (v == nullptr || v->kind != QSV_OBJECT || v->u.obj == nullptr) {
      *why = name + " holds no object";
      return QSX_NO_OBJECT;
    }
    *obj = v->u.obj;
    return QSX_OK;
  }

  // An owned copy of a variable's value.
  QsValue Copy(const QsValue& v) {
    if (v.kind == QSV_STRING)
      return StringValue(std::u16string(reinterpret_cast<const char16_t*>(v.u.s), v.length));
    if (v.kind == QSV_OBJECT && v.u.obj != nullptr) {
      QsxCall call{};
      call.object = v.u.obj;
      // A live object (the variable holds a reference) always takes another.
      (void)in_.Control(QSXC_ADD_REF, call);
    }
    return v;
  }

  uint32_t Eval(const Term& t, QsValue* out, std::string* why) {
    switch (t.kind) {
      case Term::kInt:
        *out = IntValue(t.i);
        return QSX_OK;
      case Term::kDouble:
        *out = DoubleValue(t.d);
        return QSX_OK;
      case Term::kString:
        *out = StringValue(t.s);
        return QSX_OK;
      case Term::kName: {
        if (const QsValue* v = in_.FindVariable(t.name)) {
          while (v->kind == QSV_REF) v = v->u.ref;
          *out = Copy(*v);
        } else if (const ConstantInfo* c = in_.Constant(t.name)) {
          *out = c->value;
        } else {
          *out = QsValue{};
        }
        return QSX_OK;
      }
      case Term::kMember:
        return Member(t.name, t.member, t.args, t.parens, out, why);
      case Term::kFunction: {
        if (in_.Function(t.name) == nullptr) {
          *why = t.name + ": no such function";
          return QSX_NO_METHOD;
        }
        QsValue arg{};
        if (!t.args.empty()) {
          if (uint32_t st = Eval(t.args[0], &arg, why)) return st;
        }
        const uint32_t st = in_.CallFunction(t.name, arg, out);
        in_.Clear(arg);
        if (st) *why = t.name + ": " + HostMeaning(st);
        return st;
      }
      case Term::kNew: {
        const ClassInfo* c = in_.Class(t.name);
        if (c == nullptr) {
          *why = t.name + ": no such class";
          return QSX_NO_OBJECT;
        }
        const MethodInfo* ctor = nullptr;
        for (const MethodInfo& m : c->methods)
          if (m.count & QST_NEW_FLAG) ctor = &m;
        std::vector<QsValue> args;
        uint32_t st = Args(ctor, t.args, &args, why);
        QsxObject* obj = nullptr;
        if (st == QSX_OK) st = in_.CreateById(c->id.data(), args, &obj);
        for (QsValue& a : args)
          if (a.kind != QSV_REF) in_.Clear(a);
        if (st) {
          *why = "New " + t.name + ": " + HostMeaning(st);
          return st;
        }
        *out = ObjectValue(obj);
        return QSX_OK;
      }
    }
    return QSX_OK;
  }

  // Arguments by the method's declared types: a variable handed to an argument that is not
  // by value goes by reference.
  uint32_t Args(const MethodInfo* m, const std::vector<Term>& terms, std::vector<QsValue>* out,
                std::string* why) {
    for (size_t i = 0; i < terms.size(); ++i) {
      const Term& t = terms[i];
      const size_t at = i + 2;
      const bool byRef = m != nullptr && at < m->types.size() && !(m->types[at] & QST_BYVAL) &&
                         (m->types[at] & 0xFFFF) != QST_OBJECT;
      if (byRef && t.kind == Term::kName && in_.Constant(t.name) == nullptr) {
        out->push_back(RefValue(in_.Variable(t.name)));
        continue;
      }
      QsValue v{};
      if (uint32_t st = Eval(t, &v, why)) return st;
      out->push_back(v);
    }
    return QSX_OK;
  }

  uint32_t Member(const std::string& target, const std::string& member,
                  const std::vector<Term>& terms, bool call, QsValue* out, std::string* why) {
    QsxObject* obj = nullptr;
    if (uint32_t st = ObjectIn(target, &obj, why)) return st;
    const ClassInfo* c = in_.ClassOf(obj);
    const MethodInfo* m = c != nullptr ? c->Method(member) : nullptr;
    uint32_t st = QSX_OK;
    if (m != nullptr) {
      std::vector<QsValue> args;
      st = Args(m, terms, &args, why);
      if (st == QSX_OK) st = in_.Call(obj, member, args, out);
      for (QsValue& a : args)
        if (a.kind != QSV_REF) in_.Clear(a);
    } else if (!terms.empty() ||
               (call && c != nullptr && c->Property(member) == nullptr && c->classNumber > 3)) {
      st = QSX_NO_METHOD;
    } else {
      st = in_.Get(obj, member, out);
    }
    if (st && why->empty()) *why = target + "." + member + ": " + HostMeaning(st);
    return st;
  }

  std::string Text(const QsValue& v) {
    char buf[64];
    switch (v.kind) {
      case QSV_INT:
        return std::to_string(v.u.i);
      case QSV_DOUBLE:
      case QSV_DATE:
        std::snprintf(buf, sizeof buf, "%.15g", v.u.d);
        return buf;
      case QSV_CURRENCY: {
        const int64_t a = v.u.cy < 0 ? -v.u.cy : v.u.cy;
        std::snprintf(buf, sizeof buf, "%s%lld.%04lld", v.u.cy < 0 ? "-" : "",
                      static_cast<long long>(a / 10000), static_cast<long long>(a % 10000));
        return buf;
      }
      case QSV_STRING:
        return Narrow(std::u16string(reinterpret_cast<const char16_t*>(v.u.s), v.length));
      case QSV_OBJECT: {
        const ClassInfo* c = in_.ClassOf(v.u.obj);
        return "[" + (c != nullptr ? c->name : std::string("object")) + "]";
      }
      default:
        return "";
    }
  }

  Instance& in_;
  std::ostream& out_;
};

}  // namespace

bool ParseScript(const std::string& text, ScriptPtr* out, std::string* error) {
  ScriptPtr script(new Script());
  std::istringstream lines(text);
  std::string line;
  for (int n = 1; std::getline(lines, line); ++n) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Stmt s;
    s.line = n;
    bool empty = false;
    std::string why;
    Parser p(line, &why);
    if (!p.Statement(&s, &empty)) {
      *error = "line " + std::to_string(n) + ": " + why;
      return false;
    }
    if (!empty) script->stmts.push_back(std::move(s));
  }
  *out = std::move(script);
  return true;
}

uint32_t RunScript(Instance& instance, const Script& script, std::ostream& out,
                   std::string* error) {
  Runner runner(instance, out);
  instance.ClearError();
  for (const Stmt& s : script.stmts) {
    std::string why;
    const uint32_t st = runner.Run(s, &why);
    if (instance.raised) {
      *error = "line " + std::to_string(s.line) + ": error " +
               std::to_string(instance.errorStatus) + ": " + Narrow(instance.errorText);
      return instance.errorStatus;
    }
    if (st != QSX_OK) {
      *error = "line " + std::to_string(s.line) + ": status " + std::to_string(st) + ": " + why;
      return st;
    }
  }
  return QSX_OK;
}

uint32_t RunText(const std::string& text, const std::string& extensionPath, std::ostream& out,
                 std::string* error) {
  ScriptPtr script;
  if (!ParseScript(text, &script, error)) return TWFAIL_PROGRAM;
  std::unique_ptr<Extension> ext;
  if (Extension::Load(extensionPath, &ext, error) != TWSUCCESS) return TWFAIL_PROGRAM;
  Instance instance(*ext);
  if (uint32_t st = instance.Start(); st != QSX_OK && st != QSX_EXISTS) {
    *error = "the script extension did not start: status " + std::to_string(st);
    return TWFAIL_PROGRAM;
  }
  return RunScript(instance, *script, out, error);
}

}  // namespace qshost
