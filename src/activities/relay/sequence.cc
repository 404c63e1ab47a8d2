// The commit sequence's text form (see sequence.h).
#include "sequence.h"

namespace tw::relay {

namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<Sequence> ParseSequence(std::string_view text) {
  if (text.size() != 2 * kSequenceBytes) return std::nullopt;
  Sequence sequence{};
  for (size_t i = 0; i < kSequenceBytes; ++i) {
    const int high = Nibble(text[2 * i]), low = Nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    sequence[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return sequence;
}

std::string FormatSequence(const Sequence& sequence) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * kSequenceBytes);
  for (uint8_t byte : sequence) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

}  // namespace tw::relay
