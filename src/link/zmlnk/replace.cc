// The replacement pairs of METADATA and RepStrings and their application to one line.
#include "replace.h"

#include "text_util.h"

namespace flatrec {

void Replacer::Parse(std::string_view text) {
  pairs_.clear();
  size_t i = 0;
  while (pairs_.size() < kMaxPairs) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    std::string name = Squeeze(text.substr(i, eq - i));
    i = eq + 1;
    // Only blanks and tabs: an empty value must not swallow the next line.
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t lineEnd = text.find('\n', i);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    std::string_view value;
    if (i < lineEnd && text[i] == '"') {
      size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos || close > lineEnd) close = lineEnd;
      value = text.substr(i + 1, close - i - 1);
    } else {
      value = text.substr(i, lineEnd - i);
      if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
    }
    i = lineEnd < text.size() ? lineEnd + 1 : text.size();
    if (name.empty()) continue;
    pairs_.push_back(Pair{std::move(name), ParseEscapes(value)});
  }
}

bool Replacer::Apply(std::string_view line, size_t limit, std::string* out) const {
  out->clear();
  size_t scan = 0;
  while (scan <= line.size()) {
    size_t best = std::string_view::npos;
    const Pair* hit = nullptr;
    for (const Pair& p : pairs_) {
      size_t at = line.find(p.name, scan);
      if (at < best) {
        best = at;
        hit = &p;
      }
    }
    if (hit == nullptr) break;
    out->append(line.substr(scan, best - scan));
    out->append(hit->value);
    if (out->size() > limit) return false;
    scan = best + hit->name.size();
  }
  if (scan < line.size()) out->append(line.substr(scan));
  return out->size() <= limit;
}

}  // namespace flatrec
