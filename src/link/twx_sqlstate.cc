// Recognising a client diagnostic's condition (twx_sqlstate.h).
#include "twx_sqlstate.h"

#include <cctype>

namespace tw::twx {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t at = 0; at + part.size() <= text.size(); ++at)
    if (EqualsNoCase(text.substr(at, part.size()), part)) return true;
  return false;
}

struct Signs {
  std::string_view odbc2, odbc3, engine, text;
};

Signs SignsOf(SqlCondition condition) {
  switch (condition) {
    case SqlCondition::kMissingTable:
      return {"S0002", "42S02", "42P01", "no such table"};
    case SqlCondition::kDuplicateTable:
      return {"S0001", "42S01", "42P07", "already exists"};
    case SqlCondition::kDuplicateIndex:
    default:
      return {"S0011", "42S11", "42P07", "already exists"};
  }
}

}  // namespace

bool SqlStateSays(SqlCondition condition, std::string_view sqlState, std::string_view message) {
  const Signs signs = SignsOf(condition);
  if (sqlState == signs.odbc2 || sqlState == signs.odbc3 || sqlState == signs.engine) return true;
  if (sqlState == "S1000" || sqlState == "HY000") return ContainsNoCase(message, signs.text);
  return false;
}

}  // namespace tw::twx
