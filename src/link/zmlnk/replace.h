// Replacement pairs of the text-file connector: name=value lines from the METADATA and
// RepStrings properties, applied to every ZID line and embedded data line so that one field
// description can serve several links.
#ifndef TW_LINK_ZMLNK_REPLACE_H_
#define TW_LINK_ZMLNK_REPLACE_H_

#include <cstddef>
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
  // copied unchanged.
  bool Apply(std::string_view line, size_t limit, std::string* out) const;

 private:
  std::vector<Pair> pairs_;
};

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_REPLACE_H_
