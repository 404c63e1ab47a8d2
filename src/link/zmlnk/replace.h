// Replacement pairs of the text-file connector: name=value lines from the METADATA and
// RepStrings properties, applied to every ZID line and embedded data line so that one field
// description can serve several links.
#ifndef TW_LINK_ZMLNK_REPLACE_H_
#define TW_LINK_ZMLNK_REPLACE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace flatrec {

class Replacer {
 public:
  static constexpr size_t kMaxPairs = 256;

  struct Pair {
    std::string name;   // squeezed
    std::string value;  // escapes resolved
  };

  // Builds up to kMaxPairs pairs from text, line by line: white space is skipped, the name
  // runs to the next '=' (a line without one joins the next pair's name) and is squeezed;
  // after '=' and blanks the value is the text between double quotes or the rest of the line.
  // Pairs with an empty name are dropped: they would match everywhere.
  void Parse(std::string_view text);
  const std::vector<Pair>& pairs() const { return pairs_; }

  // Replaces, from left to right, the leftmost occurrence of any pair's name (the earlier
  // pair on a tie) by its value; replaced text is not searched again. Answers false, leaving
  // *out unspecified, when the result would exceed limit bytes. A line without any name is
  // copied unchanged. One pass over the line whatever the number of pairs: the work, added
  // to *work when given, grows with the line's length and the occurrences found in it.
  bool Apply(std::string_view line, size_t limit, std::string* out, uint64_t* work = nullptr) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  // A state of the matcher: a prefix of one or more names (its text), reached by its bytes.
  struct Node {
    uint32_t fail = 0;        // the longest proper suffix of this text that is a state
    uint32_t output = kNone;  // the nearest state along the fail chain that ends a name
    uint32_t depth = 0;       // the text's length
    uint32_t pair = kNone;    // the earliest pair whose name is exactly this text
    uint32_t edges = 0;       // this state's edges in edges_, sorted by byte
    uint32_t edgeCount = 0;
  };
  struct Edge {
    unsigned char byte;
    uint32_t to;
  };

  // The matcher over all names, built once by Parse.
  void Build();
  uint32_t Child(uint32_t node, unsigned char byte) const;
  uint32_t Step(uint32_t node, unsigned char byte, uint64_t* work) const;

  std::vector<Pair> pairs_;
  std::vector<Node> nodes_;
  std::vector<Edge> edges_;
  uint32_t rootNext_[256] = {};  // the root's moves, the most frequent ones, by byte
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_REPLACE_H_
