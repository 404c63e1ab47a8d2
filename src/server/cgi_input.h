// The request of a web server's CGI call as webrun reads it (CONTENT_LENGTH, REQUEST_METHOD,
// QUERY_STRING, standard input), its name=value pairs decoded and grouped by name, and the
// text-list values the runner hands to an activity.
#ifndef TW_SERVER_CGI_INPUT_H_
#define TW_SERVER_CGI_INPUT_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tw::server {

// The longest request body or query webrun accepts, in bytes.
inline constexpr uint32_t kMaxCgiInput = 1u << 20;
// A text list counts its entries and measures each in an unsigned 16-bit word.
inline constexpr size_t kMaxTextListEntries = 0xFFFF;
inline constexpr size_t kMaxTextListEntryLength = 0xFFFF;

// CONTENT_LENGTH as a decimal number: absent or not a number of digits only (a sign, a blank
// or any other character makes it no number) and 0 give no input; a number above
// kMaxCgiInput, however many digits it has, is too large.
enum class ContentLength { none, ok, too_large };
ContentLength ParseContentLength(std::string_view text, uint32_t* length);

// Decodes one name or value: "+" becomes a blank and "%" followed by two hexadecimal digits
// the byte they spell; a "%" without two hexadecimal digits after it stays as it is.
std::string DecodeCgiPart(std::string_view part);

// One property of a request: the name as first written and its decoded values in order.
struct CgiProperty {
  std::string name;
  std::vector<std::string> values;
};

// Splits the input at "&", then each part at its first "="; a part without "=" (an empty
// one among them) is ignored. Names and values are decoded; names that differ only in the
// case of ASCII letters are one property, whose values collect in order. Properties come in
// the order their names first appear.
std::vector<CgiProperty> ParseCgiInput(std::string_view input);

// Reads the request text: with a positive CONTENT_LENGTH and REQUEST_METHOD set, method
// "post" (any case) reads exactly that many bytes from in (fewer: no input) and "get" (any
// case) takes at most that many characters of QUERY_STRING; any other case gives no input.
// Answers 0 with *input set (empty for no input), or TWFAIL_OVERFLOW for a CONTENT_LENGTH
// above kMaxCgiInput (nothing is read then).
[[nodiscard]] uint32_t ReadCgiInput(FILE* in, std::string* input);

// The bytes of a text list of entries: u16 count, u16 length of each entry, the entries
// back to back. TWFAIL_OVERFLOW (out unchanged) when there are more than
// kMaxTextListEntries entries or one is longer than kMaxTextListEntryLength.
[[nodiscard]] uint32_t EncodeTextList(const std::vector<std::string>& entries, std::string* out);

}  // namespace tw::server

#endif  // TW_SERVER_CGI_INPUT_H_
