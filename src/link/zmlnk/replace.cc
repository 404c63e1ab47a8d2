// The replacement pairs of METADATA and RepStrings and their application to one line.
//
// All names are searched at once by one automaton over their bytes (Aho-Corasick): a pass
// over the line marks, for each position, the earliest pair whose name starts there; the
// replacement then walks these marks from left to right. This gives exactly the leftmost
// occurrence at each scan point, the earlier pair on a tie, in time linear in the line rather
// than one search per pair from every scan point.
#include "replace.h"

#include <algorithm>

#include "text_util.h"

namespace flatrec {

namespace {

// The earliest pair found starting at a position of the line; kNoPair where none starts.
using PairMark = uint16_t;
constexpr PairMark kNoPair = UINT16_MAX;
static_assert(Replacer::kMaxPairs < kNoPair, "a pair's index must fit a mark");

}  // namespace

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
  Build();
}

void Replacer::Build() {
  nodes_.assign(1, Node{});
  edges_.clear();
  std::vector<std::vector<Edge>> children(1);
  for (uint32_t i = 0; i < pairs_.size(); ++i) {
    uint32_t node = 0;
    for (char ch : pairs_[i].name) {
      const auto c = static_cast<unsigned char>(ch);
      auto at = std::lower_bound(children[node].begin(), children[node].end(), c,
                                 [](const Edge& e, unsigned char b) { return e.byte < b; });
      if (at == children[node].end() || at->byte != c) {
        const auto made = static_cast<uint32_t>(nodes_.size());
        const size_t offset = static_cast<size_t>(at - children[node].begin());
        nodes_.push_back(Node{});
        nodes_.back().depth = nodes_[node].depth + 1;
        children.emplace_back();
        at = children[node].insert(children[node].begin() + static_cast<ptrdiff_t>(offset),
                                   Edge{c, made});
      }
      node = at->to;
    }
    // Equal names: the earlier pair is the one that wins.
    if (nodes_[node].pair == kNone) nodes_[node].pair = i;
  }
  for (size_t n = 0; n < nodes_.size(); ++n) {
    nodes_[n].edges = static_cast<uint32_t>(edges_.size());
    nodes_[n].edgeCount = static_cast<uint32_t>(children[n].size());
    edges_.insert(edges_.end(), children[n].begin(), children[n].end());
  }
  std::fill(std::begin(rootNext_), std::end(rootNext_), 0u);
  for (const Edge& e : children[0]) rootNext_[e.byte] = e.to;

  // Fail links breadth first: a state's fail state is shallower, so it is complete before.
  std::vector<uint32_t> order;
  order.reserve(nodes_.size());
  for (const Edge& e : children[0]) order.push_back(e.to);
  for (size_t q = 0; q < order.size(); ++q) {
    const uint32_t u = order[q];
    for (const Edge& e : children[u]) {
      const uint32_t fail = Step(nodes_[u].fail, e.byte, nullptr);
      nodes_[e.to].fail = fail;
      nodes_[e.to].output = nodes_[fail].pair != kNone ? fail : nodes_[fail].output;
      order.push_back(e.to);
    }
  }
}

uint32_t Replacer::Child(uint32_t node, unsigned char byte) const {
  const Edge* first = edges_.data() + nodes_[node].edges;
  const Edge* last = first + nodes_[node].edgeCount;
  const Edge* at = std::lower_bound(first, last, byte,
                                    [](const Edge& e, unsigned char b) { return e.byte < b; });
  return at != last && at->byte == byte ? at->to : kNone;
}

uint32_t Replacer::Step(uint32_t node, unsigned char byte, uint64_t* work) const {
  for (;;) {
    if (node == 0) return rootNext_[byte];
    const uint32_t next = Child(node, byte);
    if (next != kNone) return next;
    node = nodes_[node].fail;
    if (work != nullptr) ++*work;
  }
}

bool Replacer::Apply(std::string_view line, size_t limit, std::string* out, uint64_t* work) const {
  out->clear();
  if (pairs_.empty()) {
    out->assign(line);
    return out->size() <= limit;
  }
  uint64_t steps = 0;
  std::vector<PairMark> marks(line.size(), kNoPair);
  uint32_t state = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    state = Step(state, static_cast<unsigned char>(line[i]), &steps);
    ++steps;
    // Every name ending here: this state's own, then the shorter ones along the fail chain.
    uint32_t hit = nodes_[state].pair != kNone ? state : nodes_[state].output;
    for (; hit != kNone; hit = nodes_[hit].output) {
      ++steps;
      PairMark& mark = marks[i + 1 - nodes_[hit].depth];
      mark = std::min(mark, static_cast<PairMark>(nodes_[hit].pair));
    }
  }
  size_t copied = 0;
  for (size_t at = 0; at < line.size();) {
    ++steps;
    if (marks[at] == kNoPair) {
      ++at;
      continue;
    }
    const Pair& p = pairs_[marks[at]];
    out->append(line.substr(copied, at - copied));
    out->append(p.value);
    if (out->size() > limit) break;
    at += p.name.size();
    copied = at;
  }
  if (work != nullptr) *work += steps;
  if (out->size() > limit) return false;
  if (copied < line.size()) out->append(line.substr(copied));
  return out->size() <= limit;
}

}  // namespace flatrec
