// The commit sequence of a change row as the activity keeps it between runs: ten bytes, written
// as twenty upper-case hexadecimal digits, most significant nibble first.
#ifndef TW_ACTIVITIES_RELAY_SEQUENCE_H_
#define TW_ACTIVITIES_RELAY_SEQUENCE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw::relay {

constexpr size_t kSequenceBytes = 10;
using Sequence = std::array<uint8_t, kSequenceBytes>;

// The sequence written in text: exactly twenty hexadecimal digits, either case. Anything else
// (another length, another character) answers nullopt: a character read as some digit would
// select from a point the last run never reached.
std::optional<Sequence> ParseSequence(std::string_view text);

// The twenty upper-case digits of sequence.
std::string FormatSequence(const Sequence& sequence);

}  // namespace tw::relay

#endif  // TW_ACTIVITIES_RELAY_SEQUENCE_H_
