// Text helpers of the text-file connector: the escape syntax of byte-valued options and
// properties, white-space squeezing, the quote-aware tokenizer of ZID lines and list values,
// and ASCII case rules. Everything works on byte strings in the C locale.
#ifndef TW_LINK_ZMLNK_TEXT_UTIL_H_
#define TW_LINK_ZMLNK_TEXT_UTIL_H_

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace flatrec {

// White space of the C locale: blank, tab, line feed, vertical tab, form feed, carriage
// return.
inline bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
bool EqualsNoCase(std::string_view a, std::string_view b);

// The first and the last sizeof(Word) bytes of n (from sizeof(Word) to twice that), both
// read before either is written.
template <class Word>
inline void CopyEnds(char* to, const char* from, size_t n) {
  Word head, tail;
  std::memcpy(&head, from, sizeof head);
  std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
  std::memcpy(to, &head, sizeof head);
  std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}

// memcpy for the few bytes of one value: up to 16 moved in place by two overlapping words,
// longer runs left to the library.
inline void CopyBytes(char* to, const char* from, size_t n) {
  if (n > 16)
    std::memcpy(to, from, n);
  else if (n >= 8)
    CopyEnds<uint64_t>(to, from, n);
  else if (n >= 4)
    CopyEnds<uint32_t>(to, from, n);
  else
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Resolves escapes: a text of two or more characters between '|' bars stands for the text
// between them; otherwise a backslash introduces \\, \a \b \f \n \r \t \v, \0x and hex
// digits, \0, one skipped character and octal digits, or a decimal number from 1; any other
// escaped character stands for itself. Values keep their low 8 bits. The result ends at the
// first NUL byte produced.
std::string ParseEscapes(std::string_view text);

// Removes leading and trailing white space and makes every inner run of it one blank.
std::string Squeeze(std::string_view text);
// The text without leading and trailing white space.
std::string_view Trim(std::string_view text);
// True when Squeeze(text) would differ from Trim(text): an inner run of white space that is
// not a single blank.
bool NeedsInnerSqueeze(std::string_view trimmed);

// A strtok-like scanner with quotes over one text. Leading delimiter characters are skipped;
// when the last one skipped is white space the token ends at a tab, a blank or that
// character, when it is another character (a quote, a colon) the token ends only at that
// character, and when none was skipped at any delimiter. The end character is consumed. An
// empty delimiter set gives the rest of the text whole. Tokens are views into the text.
class Tokenizer {
 public:
  // The default set of the ZID language: double quote, apostrophe, tab, blank, line feed.
  static constexpr std::string_view kDefaultDelims{"\"'\t \n", 5};

  Tokenizer() = default;
  explicit Tokenizer(std::string_view text) : rest_(text), active_(true) {}
  void Reset(std::string_view text) {
    rest_ = text;
    active_ = true;
  }
  // The next token, or false when there is none (the rest is then empty). A set longer than
  // 255 characters gives no token.
  bool Next(std::string_view delims, std::string_view* token);
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
  bool active_ = false;
};

// printf into a std::string (C locale formats only: no %f with a locale decimal point).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace flatrec

#endif  // TW_LINK_ZMLNK_TEXT_UTIL_H_
