// Compiling formulas and evaluating them against a document's items: operators over lists,
// comparisons, @@if@@ and @@absent@@, statements and FIELD assignments.
#include "formula.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "formula_impl.h"
#include "richtext.h"
#include "session.h"
#include "timedate.h"
#include "value.h"

namespace plexa {

void FormulaDeleter::operator()(Formula* f) const {
  delete f;
}

uint32_t Compile(std::string_view text, FormulaPtr& out, uint32_t& errorOffset) {
  if (text.size() > kMaxLength) {
    errorOffset = static_cast<uint32_t>(kMaxLength + 1);
    return GVERR_FORMULA;
  }
  std::vector<fx::Token> tokens;
  size_t offset = 0;
  uint32_t st = fx::Lex(text, tokens, offset);
  FormulaPtr f(new Formula);
  if (st == 0) st = fx::Parse(tokens, text.size(), f->statements, offset);
  if (st != 0) {
    errorOffset = static_cast<uint32_t>(offset + 1);
    return st;
  }
  out = std::move(f);
  return 0;
}

uint32_t CompileNamed(std::string_view text, std::string_view what, FormulaPtr& out) {
  uint32_t offset = 0;
  if (uint32_t st = Compile(text, out, offset)) {
    if (st != GVERR_FORMULA) return st;
    return Fail(GVERR_FORMULA, std::string(what) + " at byte " + std::to_string(offset), offset);
  }
  return 0;
}

uint32_t CompileOptional(std::string_view text, std::string_view what, FormulaPtr& out) {
  if (text.empty()) {
    out.reset();
    return 0;
  }
  return CompileNamed(text, what, out);
}

namespace fx {
namespace {

// An item as formulas read it: rich text as its text, other bytes as "".
Value ItemValue(Value v) {
  if (v.type == GVTYPE_COMPOSITE) {
    std::string text;
    if (rt::ToText(v.records, text) != 0) text.clear();
    return Value::Text(std::move(text));
  }
  if (!IsTextType(v.type) && !IsNumberType(v.type) && !IsTimeType(v.type)) return Value::Text("");
  v.unavailable = false;
  return v;
}

// The entries an operator pairs: unavailable and empty lists read as one "".
Value Operand(const Value& v) {
  if (v.unavailable || v.Count() == 0) return Value::Text("");
  return v;
}

enum class Kind { kText, kNumber, kTime };
Kind KindOf(const Value& v) {
  if (IsNumberType(v.type)) return Kind::kNumber;
  if (IsTimeType(v.type)) return Kind::kTime;
  return Kind::kText;
}

Value Shaped(Value v) {
  v.type = v.Count() == 1 ? SingleOf(v.type) : ListOf(v.type);
  return v;
}

// One pair of a comparison: true when it holds.
bool ComparePair(Tok op, const Value& a, size_t i, const Value& b, size_t j, uint32_t& st) {
  const Kind ka = KindOf(a);
  const Kind kb = KindOf(b);
  if (ka != kb) return op == Tok::kNe;
  int r = 0;
  if (ka == Kind::kText) {
    const int c = a.texts[i].compare(b.texts[j]);
    r = c < 0 ? -1 : c > 0 ? 1 : 0;
  } else if (ka == Kind::kNumber) {
    const double x = a.numbers[i];
    const double y = b.numbers[j];
    switch (op) {
      case Tok::kEq:
        return x == y;
      case Tok::kNe:
        return x != y;
      case Tok::kLt:
        return x < y;
      case Tok::kGt:
        return x > y;
      case Tok::kLe:
        return x <= y;
      default:
        return x >= y;
    }
  } else {
    int32_t c = 0;
    if (CompareTimes(a.times[i], b.times[j], c) != 0) {
      st = GVERR_FORMULA;
      return false;
    }
    r = c;
  }
  switch (op) {
    case Tok::kEq:
      return r == 0;
    case Tok::kNe:
      return r != 0;
    case Tok::kLt:
      return r < 0;
    case Tok::kGt:
      return r > 0;
    case Tok::kLe:
      return r <= 0;
    default:
      return r >= 0;
  }
}

uint32_t Compare(Tok op, const Value& left, const Value& right, Value& out) {
  const Value a = Operand(left);
  const Value b = Operand(right);
  const size_t na = a.Count();
  const size_t nb = b.Count();
  const size_t n = na > nb ? na : nb;
  uint32_t st = 0;
  bool holds = false;
  for (size_t k = 0; k < n && !holds; ++k) {
    holds = ComparePair(op, a, k < na ? k : na - 1, b, k < nb ? k : nb - 1, st);
    if (st != 0) return st;
  }
  out = Value::Number(holds ? 1 : 0);
  return 0;
}

// One pair of an arithmetic operator into result (whose kind the first pair fixes).
[[nodiscard]] uint32_t ArithPair(Tok op, const Value& a, size_t i, const Value& b, size_t j,
                                 Value& result) {
  const Kind ka = KindOf(a);
  const Kind kb = KindOf(b);
  auto wantKind = [&](Kind k) {
    const uint32_t type = k == Kind::kText     ? GVTYPE_TEXT_LIST
                          : k == Kind::kNumber ? GVTYPE_NUMBER_LIST
                                               : GVTYPE_TIME_LIST;
    if (result.Count() == 0) result.type = type;
    return result.type == type;
  };
  if (ka == Kind::kNumber && kb == Kind::kNumber) {
    const double x = a.numbers[i];
    const double y = b.numbers[j];
    double r = 0;
    switch (op) {
      case Tok::kPlus:
        r = x + y;
        break;
      case Tok::kMinus:
        r = x - y;
        break;
      case Tok::kStar:
        r = x * y;
        break;
      default:
        if (y == 0) return GVERR_FORMULA;
        r = x / y;
        break;
    }
    if (!wantKind(Kind::kNumber)) return GVERR_FORMULA;
    result.numbers.push_back(r);
    return 0;
  }
  if (op == Tok::kPlus && ka == Kind::kText && kb == Kind::kText) {
    if (!wantKind(Kind::kText)) return GVERR_FORMULA;
    result.texts.push_back(a.texts[i] + b.texts[j]);
    return 0;
  }
  if ((op == Tok::kPlus || op == Tok::kMinus) && ka == Kind::kTime && kb == Kind::kNumber) {
    const double seconds = op == Tok::kPlus ? b.numbers[j] : -b.numbers[j];
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12) return GVERR_FORMULA;
    GVTIMEDATE t = a.times[i];
    if (AddHundredths(t, std::llround(seconds * 100)) != 0) return GVERR_FORMULA;
    if (!wantKind(Kind::kTime)) return GVERR_FORMULA;
    result.times.push_back(t);
    return 0;
  }
  if (op == Tok::kPlus && ka == Kind::kNumber && kb == Kind::kTime)
    return ArithPair(op, b, j, a, i, result);
  if (op == Tok::kMinus && ka == Kind::kTime && kb == Kind::kTime) {
    int64_t hundredths = 0;
    if (DiffHundredths(a.times[i], b.times[j], hundredths) != 0) return GVERR_FORMULA;
    if (!wantKind(Kind::kNumber)) return GVERR_FORMULA;
    result.numbers.push_back(static_cast<double>(hundredths) / 100);
    return 0;
  }
  return GVERR_FORMULA;
}

[[nodiscard]] uint32_t Arith(Tok op, const Value& left, const Value& right, Value& out) {
  const Value a = Operand(left);
  const Value b = Operand(right);
  const size_t na = a.Count();
  const size_t nb = b.Count();
  const size_t n = na > nb ? na : nb;
  Value result;
  result.type = GVTYPE_TEXT_LIST;
  for (size_t k = 0; k < n; ++k)
    if (uint32_t st = ArithPair(op, a, k < na ? k : na - 1, b, k < nb ? k : nb - 1, result))
      return st;
  if (uint32_t st = CheckSize(result)) return st;
  out = Shaped(std::move(result));
  return 0;
}

class Evaluator {
 public:
  explicit Evaluator(const ItemSource& items) : items_(items) {}

  uint32_t Eval(const Node& n, Value& out) {
    switch (n.kind) {
      case NodeKind::kNumber:
        out = Value::Number(n.number);
        return 0;
      case NodeKind::kText:
        out = Value::Text(n.text);
        return 0;
      case NodeKind::kName: {
        Value v;
        out = items_.Find(n.text, v) ? ItemValue(std::move(v)) : Value::Unavailable();
        return 0;
      }
      case NodeKind::kCall:
        return Call(n, out);
      case NodeKind::kNegate:
      case NodeKind::kPlus: {
        Value v;
        if (uint32_t st = Eval(*n.operands[0], v)) return st;
        if (v.unavailable || !IsNumberType(v.type)) return GVERR_FORMULA;
        if (n.kind == NodeKind::kNegate)
          for (double& d : v.numbers) d = -d;
        out = std::move(v);
        return 0;
      }
      case NodeKind::kNot: {
        Value v;
        if (uint32_t st = Eval(*n.operands[0], v)) return st;
        out = Value::Number(Truth(v) ? 0 : 1);
        return 0;
      }
      case NodeKind::kAnd:
      case NodeKind::kOr: {
        // Both sides are evaluated: an error anywhere is the formula's error.
        bool result = n.kind == NodeKind::kAnd;
        for (const auto& operand : n.operands) {
          Value v;
          if (uint32_t st = Eval(*operand, v)) return st;
          if (n.kind == NodeKind::kAnd)
            result = result && Truth(v);
          else
            result = result || Truth(v);
        }
        out = Value::Number(result ? 1 : 0);
        return 0;
      }
      case NodeKind::kCompare: {
        Value a;
        Value b;
        if (uint32_t st = Eval(*n.operands[0], a)) return st;
        if (uint32_t st = Eval(*n.operands[1], b)) return st;
        return Compare(n.ops[0], a, b, out);
      }
      case NodeKind::kArith: {
        Value acc;
        if (uint32_t st = Eval(*n.operands[0], acc)) return st;
        for (size_t i = 1; i < n.operands.size(); ++i) {
          Value next;
          if (uint32_t st = Eval(*n.operands[i], next)) return st;
          Value r;
          if (uint32_t st = Arith(n.ops[i - 1], acc, next, r)) return st;
          acc = std::move(r);
        }
        out = std::move(acc);
        return 0;
      }
      case NodeKind::kList: {
        Value acc;
        if (uint32_t st = Eval(*n.operands[0], acc)) return st;
        if (acc.unavailable) acc = Value::Text("");
        for (size_t i = 1; i < n.operands.size(); ++i) {
          Value next;
          if (uint32_t st = Eval(*n.operands[i], next)) return st;
          if (next.unavailable) next = Value::Text("");
          if (uint32_t st = Join(acc, next)) return st;
        }
        out = Shaped(std::move(acc));
        return 0;
      }
    }
    return GVERR_FORMULA;
  }

 private:
  // acc : next, lists of one kind; an empty list joins anything.
  static uint32_t Join(Value& acc, const Value& next) {
    if (next.Count() == 0) return 0;
    if (acc.Count() == 0) {
      acc = next;
      return 0;
    }
    if (KindOf(acc) != KindOf(next)) return GVERR_FORMULA;
    acc.type = ListOf(acc.type);
    acc.texts.insert(acc.texts.end(), next.texts.begin(), next.texts.end());
    acc.numbers.insert(acc.numbers.end(), next.numbers.begin(), next.numbers.end());
    acc.times.insert(acc.times.end(), next.times.begin(), next.times.end());
    return CheckSize(acc);
  }

  uint32_t Call(const Node& n, Value& out) {
    const FunctionDef& def = *n.function;
    if (def.fn == Fn::kAbsent) {
      Value ignored;
      out = Value::Number(items_.Find(n.operands[0]->text, ignored) ? 0 : 1);
      return 0;
    }
    if (def.fn == Fn::kIf) {
      const size_t last = n.operands.size() - 1;
      for (size_t i = 0; i < last; i += 2) {
        Value c;
        if (uint32_t st = Eval(*n.operands[i], c)) return st;
        if (Truth(c)) return Eval(*n.operands[i + 1], out);
      }
      return Eval(*n.operands[last], out);
    }
    std::vector<Value> args(n.operands.size());
    for (size_t i = 0; i < args.size(); ++i)
      if (uint32_t st = Eval(*n.operands[i], args[i])) return st;
    return CallFunction(def, args, out);
  }

  const ItemSource& items_;
};

// The value a statement leaves; a bare SELECT is true.
[[nodiscard]] uint32_t RunStatement(const Statement& s, Evaluator& e, Value& out) {
  if (!s.expr) {
    out = Value::Number(1);
    return 0;
  }
  return e.Eval(*s.expr, out);
}

}  // namespace
}  // namespace fx

uint32_t Evaluate(const Formula& formula, const ItemSource& items, Value& out) {
  try {
    fx::Evaluator e(items);
    Value result = Value::Text("");
    for (const fx::Statement& s : formula.statements)
      if (fx::RunStatement(s, e, result) != 0) return GVERR_FORMULA;
    out = std::move(result);
    return 0;
  } catch (const std::bad_alloc&) {
    return GVERR_NO_MEMORY;
  }
}

bool Selects(const Formula& formula, const ItemSource& items) {
  try {
    if (formula.statements.empty()) return true;
    fx::Evaluator e(items);
    Value last;
    Value selected;
    bool haveSelect = false;
    for (const fx::Statement& s : formula.statements) {
      if (fx::RunStatement(s, e, last) != 0) return false;
      if (s.kind == fx::StatementKind::kSelect) {
        selected = last;
        haveSelect = true;
      }
    }
    return fx::Truth(haveSelect ? selected : last);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

uint32_t Execute(const Formula& formula, ItemSink& items) {
  fx::Evaluator e(items);
  for (const fx::Statement& s : formula.statements) {
    Value v;
    if (fx::RunStatement(s, e, v) != 0) return GVERR_FORMULA;
    if (s.kind != fx::StatementKind::kField) continue;
    if (v.unavailable) v = Value::Text("");
    // The item's type follows the entries: a single value for one, else a list.
    v = fx::Shaped(std::move(v));
    if (uint32_t st = items.Set(s.name, v)) return st;
  }
  return 0;
}

bool HasSelect(const Formula& formula) {
  if (formula.statements.empty()) return true;
  for (const fx::Statement& s : formula.statements)
    if (s.kind == fx::StatementKind::kSelect) return true;
  return false;
}

namespace {

void CollectNames(const fx::Node& n, std::vector<std::string>& out) {
  const bool absent = n.kind == fx::NodeKind::kCall && n.function->fn == fx::Fn::kAbsent;
  if (n.kind == fx::NodeKind::kName || absent) {
    std::string key = FoldAscii(absent ? n.operands[0]->text : n.text);
    if (std::find(out.begin(), out.end(), key) == out.end()) out.push_back(std::move(key));
    if (absent) return;
  }
  for (const auto& operand : n.operands) CollectNames(*operand, out);
}

}  // namespace

std::vector<std::string> ItemsRead(const Formula& formula) {
  std::vector<std::string> names;
  for (const fx::Statement& s : formula.statements)
    if (s.expr) CollectNames(*s.expr, names);
  return names;
}

bool SelectsAll(const Formula& formula) {
  return formula.statements.empty() ||
         (formula.statements.size() == 1 &&
          formula.statements[0].kind == fx::StatementKind::kSelect && !formula.statements[0].expr);
}

}  // namespace plexa
