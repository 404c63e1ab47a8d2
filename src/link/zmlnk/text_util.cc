// Escapes, squeezing, the ZID tokenizer and formatting helpers of the text-file connector.
#include "text_util.h"

#include <cstdio>
#include <cstring>

namespace flatrec {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ParseEscapes(std::string_view text) {
  std::string out;
  if (text.size() >= 2 && text.front() == '|' && text.back() == '|') {
    out.assign(text.substr(1, text.size() - 2));
  } else {
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
      char c = text[i++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      // A backslash that ends the text escapes nothing.
      if (i >= text.size()) break;
      char e = text[i++];
      unsigned value = 0;
      switch (e) {
        case 'a':
          out.push_back('\a');
          continue;
        case 'b':
          out.push_back('\b');
          continue;
        case 'f':
          out.push_back('\f');
          continue;
        case 'n':
          out.push_back('\n');
          continue;
        case 'r':
          out.push_back('\r');
          continue;
        case 't':
          out.push_back('\t');
          continue;
        case 'v':
          out.push_back('\v');
          continue;
        case '0':
          if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
            ++i;
            while (i < text.size() && HexValue(text[i]) >= 0)
              value = (value * 16 + static_cast<unsigned>(HexValue(text[i++]))) & 0xFF;
          } else {
            if (i < text.size()) ++i;  // the one character after the 0 is skipped
            while (i < text.size() && text[i] >= '0' && text[i] <= '7')
              value = (value * 8 + static_cast<unsigned>(text[i++] - '0')) & 0xFF;
          }
          out.push_back(static_cast<char>(value));
          continue;
        default:
          break;
      }
      if (e >= '1' && e <= '9') {
        value = static_cast<unsigned>(e - '0');
        while (i < text.size() && IsDigit(text[i]))
          value = (value * 10 + static_cast<unsigned>(text[i++] - '0')) & 0xFF;
        out.push_back(static_cast<char>(value));
        continue;
      }
      out.push_back(e);
    }
  }
  size_t nul = out.find('\0');
  if (nul != std::string::npos) out.resize(nul);
  return out;
}

std::string_view Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool NeedsInnerSqueeze(std::string_view trimmed) {
  for (size_t i = 0; i < trimmed.size(); ++i) {
    if (!IsSpace(trimmed[i])) continue;
    if (trimmed[i] != ' ' || (i + 1 < trimmed.size() && IsSpace(trimmed[i + 1]))) return true;
  }
  return false;
}

std::string Squeeze(std::string_view text) {
  std::string_view t = Trim(text);
  std::string out;
  out.reserve(t.size());
  bool inSpace = false;
  for (char c : t) {
    if (IsSpace(c)) {
      if (!inSpace) out.push_back(' ');
      inSpace = true;
    } else {
      out.push_back(c);
      inSpace = false;
    }
  }
  return out;
}

bool Tokenizer::Next(std::string_view delims, std::string_view* token) {
  if (!active_ || delims.size() > 255) return false;
  if (delims.empty()) {
    *token = rest_;
    rest_ = {};
    active_ = false;
    return true;
  }
  auto in = [](std::string_view set, char c) {
    return std::memchr(set.data(), static_cast<unsigned char>(c), set.size()) != nullptr;
  };
  size_t i = 0;
  while (i < rest_.size() && in(delims, rest_[i])) ++i;
  if (i == rest_.size()) {
    rest_ = {};
    active_ = false;
    return false;
  }
  char endChars[3];
  std::string_view ends = delims;
  if (i > 0) {
    char last = rest_[i - 1];
    if (IsSpace(last)) {
      endChars[0] = '\t';
      endChars[1] = ' ';
      endChars[2] = last;
      ends = std::string_view(endChars, 3);
    } else {
      endChars[0] = last;
      ends = std::string_view(endChars, 1);
    }
  }
  size_t j = i;
  while (j < rest_.size() && !in(ends, rest_[j])) ++j;
  *token = rest_.substr(i, j - i);
  rest_ = j < rest_.size() ? rest_.substr(j + 1) : std::string_view();
  return true;
}

std::string FormatV(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

}  // namespace flatrec
