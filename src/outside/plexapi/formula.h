// The formula language of selections, view columns, field defaults and agent actions:
// compiled once, evaluated against a document's items many times.
//
// Lexical
//   Blanks, tabs, CR and LF separate tokens.
//   number   digits ["." digits] [("e"|"E") ["+"|"-"] digits], or "." digits [exponent].
//            A sign is the unary operator.
//   text     '...' or "..."; a backslash takes the next character literally (\' \" \\);
//            no other escapes. An unterminated text is an error.
//   name     a letter, "_" or "$", then letters, digits, "_" and "$": an item of the
//            document, matched without regard to ASCII case. SELECT and FIELD (any case)
//            are keywords, never names.
//   token    "@@" digits or lower-case letters "@@": "@@select@@" is the keyword SELECT,
//            the others are the functions below; an unknown one is an error.
//   operators  := : + - * / = <> != < > <= >= & | ! ( ) ;
//
// Grammar
//   formula   = statement { ";" statement } [ ";" ]        (";" at the top level)
//   statement = ("SELECT" | "@@select@@") expr
//             | "FIELD" name ":=" expr
//             | expr
//   expr      = or
//   or        = and { "|" and }
//   and       = not { "&" not }
//   not       = "!" not | compare
//   compare   = sum [ ("=" | "<>" | "!=" | "<" | ">" | "<=" | ">=") sum ]
//   sum       = product { ("+" | "-") product }
//   product   = unary { ("*" | "/") unary }
//   unary     = ("-" | "+") unary | list
//   list      = primary { ":" primary }
//   primary   = number | text | name | call | "(" expr ")"
//   call      = token [ "(" [ expr { ";" expr } ] ")" ]     (blanks allowed before "(")
// Inside a call's parentheses ";" separates arguments. SELECT must be followed by an
// expression, except that "SELECT" alone and an empty formula select every document.
// Nesting deeper than kMaxDepth, or a formula longer than kMaxLength bytes, is an error.
//
// Values
//   A value is a list of texts, of numbers or of times (a single value is a one-entry list),
//   or unavailable: a name the document has no item for. Unavailable behaves as the text ""
//   everywhere except @@absent@@. A rich-text item reads as its text, an item of other bytes
//   as "". True: a number list with at least one non-zero entry. Comparisons, "&", "|" and
//   "!" give 1 or 0; "&" and "|" evaluate both sides; @@if@@ evaluates only what it needs.
//   Lists pair entry i with entry i, the shorter repeating its last entry (an empty list acts
//   as one ""). A comparison holds when it holds for at least one pair. Texts compare byte by
//   byte (letter case counts), numbers numerically (NaN is never equal), times as instants.
//   Different kinds: "=" false, "<>" and "!=" true, orderings false.
//   "+": numbers add, texts concatenate, time + number adds seconds. "-": numbers, time - time
//   in seconds, time - number. "*", "/": numbers (division by zero is an error). ":" joins
//   lists of one kind. Other combinations are errors.
//
// Functions (number tokens as the callers write them, word tokens the same functions)
//   @@40@@  @@empty@@     ""                               (parentheses optional)
//   @@75@@  @@datetime@@  (y; m; d) or (y; m; d; h; mi; s): a time in the machine's zone
//   @@89@@  @@absent@@    (name): 1 when the document has no item of that name
//   @@93@@  @@istime@@    (x): 1 when x is a time
//   @@98@@  @@lower@@     (x): ASCII letters lower-cased, entry by entry (non-texts as text)
//   @@181@@ @@if@@        (c1; v1; [c2; v2; ...] else): the value of the first true condition
//           @@text@@      (x): the text of each entry
//           @@number@@    (x): the number of each text entry (an error when one is not)
//           @@count@@     (x): the number of entries (unavailable: 0)
//           @@member@@    (x; list): 1 when an entry of x equals an entry of list
//
// Results
//   A value formula's result is its last statement's. A selection's is its SELECT
//   statement's, else its last statement's. FIELD x := v sets item x (number, time or text;
//   the list type when v has other than one entry).
#ifndef TW_OUTSIDE_PLEXAPI_FORMULA_H_
#define TW_OUTSIDE_PLEXAPI_FORMULA_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "value.h"

namespace plexa {

// Where a formula reads items: Find answers false when the document has no item of that name
// (names compare without regard to ASCII case), else fills out with its decoded value.
class ItemSource {
 public:
  virtual ~ItemSource() = default;
  virtual bool Find(std::string_view name, Value& out) const = 0;
};
// Where FIELD assignments go.
class ItemSink : public ItemSource {
 public:
  [[nodiscard]] virtual uint32_t Set(std::string_view name, const Value& v) = 0;
};

constexpr size_t kMaxDepth = 200;
constexpr size_t kMaxLength = 1u << 20;

struct Formula;  // compiled; immutable, may be shared between threads
struct FormulaDeleter {
  void operator()(Formula* f) const;
};
using FormulaPtr = std::unique_ptr<Formula, FormulaDeleter>;

// Compiles text. A formula that does not parse: GVERR_FORMULA with errorOffset the 1-based byte
// offset of the fault (the length + 1 at an unexpected end); out unchanged.
[[nodiscard]] uint32_t Compile(std::string_view text, FormulaPtr& out, uint32_t& errorOffset);
// Compile, with a fault recorded as the thread's last failure "<what> at byte <offset>" (info:
// the offset).
[[nodiscard]] uint32_t CompileNamed(std::string_view text, std::string_view what, FormulaPtr& out);
// CompileNamed, but empty text is no formula (out reset).
[[nodiscard]] uint32_t CompileOptional(std::string_view text, std::string_view what,
                                       FormulaPtr& out);
// The value of a value formula: the last statement's (FIELD statements set nothing here).
// Failure: GVERR_FORMULA.
[[nodiscard]] uint32_t Evaluate(const Formula& formula, const ItemSource& items, Value& out);
// Whether a selection takes the document; an evaluation error does not select.
bool Selects(const Formula& formula, const ItemSource& items);
// Runs every statement, FIELD assignments into items. An evaluation error: GVERR_FORMULA (the
// assignments made before it stay in items; the caller discards the document); a failing Set:
// its status.
[[nodiscard]] uint32_t Execute(const Formula& formula, ItemSink& items);
// True when the formula has a SELECT statement, or is empty (selects everything).
bool HasSelect(const Formula& formula);
// True when the formula is empty or only "SELECT" (takes every document).
bool SelectsAll(const Formula& formula);
// The names of the items the formula reads, ASCII-lower-cased and each once: an evaluation
// asks its source for no others.
std::vector<std::string> ItemsRead(const Formula& formula);

}  // namespace plexa

#endif  // TW_OUTSIDE_PLEXAPI_FORMULA_H_
