// What the relational connectors' statement texts share: names cut to the server's limit,
// lists of them, and literals whose quotes cannot end them early.
#ifndef TW_LINK_TWX_TEXT_H_
#define TW_LINK_TWX_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace twx {

// name, cut to limit bytes.
inline std::string CutName(std::string_view name, size_t limit) {
  return std::string(name.substr(0, limit));
}

// names joined by commas, each cut to limit bytes (npos: whole).
inline std::string JoinNames(const std::vector<std::string>& names,
                             size_t limit = std::string_view::npos) {
  std::string out;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) out += ",";
    out += CutName(names[i], limit);
  }
  return out;
}

// text between quote characters, each quote inside it doubled.
inline std::string Quoted(std::string_view text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    out += c;
    if (c == quote) out += quote;
  }
  out += quote;
  return out;
}

}  // namespace twx

#endif  // TW_LINK_TWX_TEXT_H_
