// The formula parser: recursive descent over the tokens into statements and expression trees,
// with the nesting bounded.
#include <utility>

#include "formula_impl.h"

namespace plexa::fx {
namespace {

bool IsCompare(Tok t) {
  return t == Tok::kEq || t == Tok::kNe || t == Tok::kLt || t == Tok::kGt || t == Tok::kLe ||
         t == Tok::kGe;
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : t_(tokens) {}

  uint32_t Run(std::vector<Statement>& out, size_t& offset) {
    std::vector<Statement> statements;
    bool ok = true;
    if (peek().kind != Tok::kEnd) {
      while (ok) {
        Statement s;
        ok = ParseStatement(s);
        if (!ok) break;
        statements.push_back(std::move(s));
        if (peek().kind == Tok::kSemi) {
          ++pos_;
          if (peek().kind == Tok::kEnd) break;
          continue;
        }
        if (peek().kind != Tok::kEnd) ok = Fail(peek().offset);
        break;
      }
    }
    if (!ok) {
      offset = error_;
      return GVERR_FORMULA;
    }
    out = std::move(statements);
    return 0;
  }

 private:
  const Token& peek() const { return t_[pos_]; }
  bool Fail(size_t at) {
    if (!failed_) {
      failed_ = true;
      error_ = at;
    }
    return false;
  }
  // Entered by every construct that nests; deeper than kMaxDepth is a fault.
  struct Depth {
    explicit Depth(Parser& p) : p_(p) { ++p_.depth_; }
    ~Depth() { --p_.depth_; }
    Parser& p_;
  };
  bool TooDeep() {
    if (depth_ > kMaxDepth) return Fail(peek().offset), true;
    return false;
  }

  bool ParseStatement(Statement& s) {
    const Token& first = peek();
    if (first.kind == Tok::kSelect) {
      ++pos_;
      s.kind = StatementKind::kSelect;
      // SELECT alone takes every document.
      if (peek().kind == Tok::kSemi || peek().kind == Tok::kEnd) return true;
      return ParseExpr(s.expr);
    }
    if (first.kind == Tok::kField) {
      ++pos_;
      if (peek().kind != Tok::kName) return Fail(peek().offset);
      s.kind = StatementKind::kField;
      s.name = peek().text;
      ++pos_;
      if (peek().kind != Tok::kAssign) return Fail(peek().offset);
      ++pos_;
      return ParseExpr(s.expr);
    }
    s.kind = StatementKind::kExpr;
    return ParseExpr(s.expr);
  }

  bool ParseExpr(std::unique_ptr<Node>& out) {
    Depth d(*this);
    if (TooDeep()) return false;
    return ParseChain(out, NodeKind::kOr, Tok::kOr);
  }

  // or = and { "|" and }; and = not { "&" not }
  bool ParseChain(std::unique_ptr<Node>& out, NodeKind kind, Tok op) {
    std::unique_ptr<Node> first;
    const size_t at = peek().offset;
    if (!(kind == NodeKind::kOr ? ParseChain(first, NodeKind::kAnd, Tok::kAnd) : ParseNot(first)))
      return false;
    if (peek().kind != op) {
      out = std::move(first);
      return true;
    }
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->offset = at;
    node->operands.push_back(std::move(first));
    while (peek().kind == op) {
      ++pos_;
      std::unique_ptr<Node> next;
      if (!(kind == NodeKind::kOr ? ParseChain(next, NodeKind::kAnd, Tok::kAnd) : ParseNot(next)))
        return false;
      node->operands.push_back(std::move(next));
    }
    out = std::move(node);
    return true;
  }

  bool ParseNot(std::unique_ptr<Node>& out) {
    if (peek().kind != Tok::kNot) return ParseCompare(out);
    Depth d(*this);
    if (TooDeep()) return false;
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kNot;
    node->offset = peek().offset;
    ++pos_;
    std::unique_ptr<Node> operand;
    if (!ParseNot(operand)) return false;
    node->operands.push_back(std::move(operand));
    out = std::move(node);
    return true;
  }

  bool ParseCompare(std::unique_ptr<Node>& out) {
    std::unique_ptr<Node> left;
    const size_t at = peek().offset;
    if (!ParseSum(left)) return false;
    if (!IsCompare(peek().kind)) {
      out = std::move(left);
      return true;
    }
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kCompare;
    node->offset = at;
    node->ops.push_back(peek().kind);
    ++pos_;
    std::unique_ptr<Node> right;
    if (!ParseSum(right)) return false;
    node->operands.push_back(std::move(left));
    node->operands.push_back(std::move(right));
    out = std::move(node);
    return true;
  }

  // sum = product { ("+" | "-") product }; product = unary { ("*" | "/") unary }
  bool ParseArith(std::unique_ptr<Node>& out, bool sum) {
    std::unique_ptr<Node> first;
    const size_t at = peek().offset;
    auto operand = [&](std::unique_ptr<Node>& o) {
      return sum ? ParseArith(o, false) : ParseUnary(o);
    };
    auto isOp = [&](Tok t) {
      return sum ? (t == Tok::kPlus || t == Tok::kMinus) : (t == Tok::kStar || t == Tok::kSlash);
    };
    if (!operand(first)) return false;
    if (!isOp(peek().kind)) {
      out = std::move(first);
      return true;
    }
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kArith;
    node->offset = at;
    node->operands.push_back(std::move(first));
    while (isOp(peek().kind)) {
      node->ops.push_back(peek().kind);
      ++pos_;
      std::unique_ptr<Node> next;
      if (!operand(next)) return false;
      node->operands.push_back(std::move(next));
    }
    out = std::move(node);
    return true;
  }
  bool ParseSum(std::unique_ptr<Node>& out) { return ParseArith(out, true); }

  bool ParseUnary(std::unique_ptr<Node>& out) {
    const Tok k = peek().kind;
    if (k != Tok::kMinus && k != Tok::kPlus) return ParseList(out);
    Depth d(*this);
    if (TooDeep()) return false;
    auto node = std::make_unique<Node>();
    node->kind = k == Tok::kMinus ? NodeKind::kNegate : NodeKind::kPlus;
    node->offset = peek().offset;
    ++pos_;
    std::unique_ptr<Node> operand;
    if (!ParseUnary(operand)) return false;
    node->operands.push_back(std::move(operand));
    out = std::move(node);
    return true;
  }

  bool ParseList(std::unique_ptr<Node>& out) {
    std::unique_ptr<Node> first;
    const size_t at = peek().offset;
    if (!ParsePrimary(first)) return false;
    if (peek().kind != Tok::kColon) {
      out = std::move(first);
      return true;
    }
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kList;
    node->offset = at;
    node->operands.push_back(std::move(first));
    while (peek().kind == Tok::kColon) {
      ++pos_;
      std::unique_ptr<Node> next;
      if (!ParsePrimary(next)) return false;
      node->operands.push_back(std::move(next));
    }
    out = std::move(node);
    return true;
  }

  bool ParsePrimary(std::unique_ptr<Node>& out) {
    const Token& t = peek();
    auto node = std::make_unique<Node>();
    node->offset = t.offset;
    switch (t.kind) {
      case Tok::kNumber:
        node->kind = NodeKind::kNumber;
        node->number = t.number;
        ++pos_;
        break;
      case Tok::kText:
        node->kind = NodeKind::kText;
        node->text = t.text;
        ++pos_;
        break;
      case Tok::kName:
        node->kind = NodeKind::kName;
        node->text = t.text;
        ++pos_;
        break;
      case Tok::kLParen: {
        ++pos_;
        if (!ParseExpr(node)) return false;
        if (peek().kind != Tok::kRParen) return Fail(peek().offset);
        ++pos_;
        break;
      }
      case Tok::kFunction:
        if (!ParseCall(*node)) return false;
        break;
      default:
        return Fail(t.offset);
    }
    out = std::move(node);
    return true;
  }

  bool ParseCall(Node& node) {
    const Token& t = peek();
    node.kind = NodeKind::kCall;
    node.function = t.function;
    ++pos_;
    if (peek().kind == Tok::kLParen) {
      ++pos_;
      if (peek().kind != Tok::kRParen) {
        while (true) {
          const size_t argAt = peek().offset;
          std::unique_ptr<Node> arg;
          if (!ParseExpr(arg)) return false;
          // @@absent@@ asks about an item by its name, not about a value.
          if (node.function->fn == Fn::kAbsent && arg->kind != NodeKind::kName) return Fail(argAt);
          node.operands.push_back(std::move(arg));
          if (peek().kind == Tok::kSemi) {
            ++pos_;
            continue;
          }
          break;
        }
      }
      if (peek().kind != Tok::kRParen) return Fail(peek().offset);
      ++pos_;
    }
    if (!ArgumentCountFits(*node.function, node.operands.size())) return Fail(node.offset);
    return true;
  }

  const std::vector<Token>& t_;
  size_t pos_ = 0;
  size_t depth_ = 0;
  bool failed_ = false;
  size_t error_ = 0;
};

}  // namespace

uint32_t Parse(const std::vector<Token>& tokens, size_t textLength, std::vector<Statement>& out,
               size_t& offset) {
  if (tokens.empty() || tokens.back().kind != Tok::kEnd) {
    offset = textLength;
    return GVERR_FORMULA;
  }
  Parser p(tokens);
  return p.Run(out, offset);
}

}  // namespace plexa::fx
