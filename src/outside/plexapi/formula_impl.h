// Inside the formula engine: tokens, the compiled tree and the function table shared by the
// lexer, the parser, the evaluator and the functions.
#ifndef TW_OUTSIDE_PLEXAPI_FORMULA_IMPL_H_
#define TW_OUTSIDE_PLEXAPI_FORMULA_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formula.h"

namespace plexa::fx {

// ---------------------------------------------------------------- functions ---------------

enum class Fn { kEmpty, kDatetime, kAbsent, kIsTime, kLower, kIf, kText, kNumber, kCount, kMember };

struct FunctionDef {
  std::string_view number;  // the numbered token's inside ("40"), empty for word-only ones
  std::string_view word;    // the word token's inside ("empty")
  Fn fn;
  uint8_t minArgs;
  uint8_t maxArgs;
};
// The function of a token's inside (between the "@@"), or null.
const FunctionDef* FindFunction(std::string_view inside);
// Whether a call with that many arguments is allowed (@@if@@: an odd count of at least 3;
// @@datetime@@: 3 or 6).
bool ArgumentCountFits(const FunctionDef& def, size_t count);

// ---------------------------------------------------------------- tokens ------------------

enum class Tok {
  kEnd,
  kNumber,
  kText,
  kName,
  kFunction,
  kSelect,
  kField,
  kAssign,  // :=
  kColon,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kEq,
  kNe,  // <> and !=
  kLt,
  kGt,
  kLe,
  kGe,
  kAnd,
  kOr,
  kNot,
  kLParen,
  kRParen,
  kSemi,
};

struct Token {
  Tok kind = Tok::kEnd;
  size_t offset = 0;  // 0-based byte offset in the text
  std::string text;   // a text's value, a name as written
  double number = 0;
  const FunctionDef* function = nullptr;
};

// Splits text into tokens ending with kEnd. A fault: GVERR_FORMULA with offset (0-based).
[[nodiscard]] uint32_t Lex(std::string_view text, std::vector<Token>& out, size_t& offset);

// ---------------------------------------------------------------- tree --------------------

enum class NodeKind {
  kNumber,
  kText,
  kName,
  kCall,
  kNegate,
  kPlus,
  kNot,
  kAnd,
  kOr,
  kCompare,
  kArith,
  kList
};

// One node. Chains of one precedence (a & b & c, a + b - c, a : b) are one node with many
// operands, so that a long formula makes a wide tree rather than a deep one.
struct Node {
  NodeKind kind = NodeKind::kNumber;
  size_t offset = 0;
  double number = 0;
  std::string text;  // text literal or item name
  const FunctionDef* function = nullptr;
  std::vector<Tok> ops;  // kCompare: one; kArith: operands.size() - 1 operators
  std::vector<std::unique_ptr<Node>> operands;
};

enum class StatementKind { kExpr, kSelect, kField };
struct Statement {
  StatementKind kind = StatementKind::kExpr;
  std::string name;            // kField: the item
  std::unique_ptr<Node> expr;  // null for a bare SELECT
};

// Parses tokens into statements. A fault: GVERR_FORMULA with offset (0-based).
[[nodiscard]] uint32_t Parse(const std::vector<Token>& tokens, size_t textLength,
                             std::vector<Statement>& out, size_t& offset);

// ---------------------------------------------------------------- evaluation --------------

// Bounds on what one evaluation may build, so that a formula cannot exhaust memory.
constexpr size_t kMaxEntries = 65535;
constexpr size_t kMaxBytes = 16u << 20;

// A value as formulas see it: a text, number or time list (single types for one entry) or
// unavailable (read as one empty text).
[[nodiscard]] uint32_t CheckSize(const Value& v);  // GVERR_FORMULA beyond the bounds
bool Truth(const Value& v);
// The function of a call whose arguments are evaluated (not @@if@@ or @@absent@@).
[[nodiscard]] uint32_t CallFunction(const FunctionDef& def, std::span<const Value> args,
                                    Value& out);
// Entry texts of a value (numbers and times written in the settings); GVERR_FORMULA.
[[nodiscard]] uint32_t TextsOf(const Value& v, std::vector<std::string>& out);

}  // namespace plexa::fx

namespace plexa {
struct Formula {
  std::vector<fx::Statement> statements;
};
}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_FORMULA_IMPL_H_
