// Reading and decoding webrun's CGI request; the text-list encoding of runner values.
#include "cgi_input.h"

#include <unordered_map>

#include "platform.h"
#include "tw/coding.h"

namespace tw::server {
namespace {

// Room for any CONTENT_LENGTH worth reading and a few digits more, so that a longer text of
// digits is still seen to be too large rather than cut into a smaller number.
constexpr uint32_t kContentLengthRoom = 64;
constexpr uint32_t kMethodRoom = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// An environment variable's value, at most room characters; false when it is not set.
bool GetEnv(const char* name, uint32_t room, std::string* value) {
  std::string buffer(static_cast<size_t>(room) + 1, '\0');
  uint32_t length = room;
  if (TWPlatGetEnv(name, buffer.data(), &length) != TWSUCCESS) return false;
  buffer.resize(length);
  *value = std::move(buffer);
  return true;
}

}  // namespace

ContentLength ParseContentLength(std::string_view text, uint32_t* length) {
  if (text.empty()) return ContentLength::none;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return ContentLength::none;
    // Stop counting once past the bound: more digits cannot bring it back.
    if (value <= kMaxCgiInput) value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value == 0) return ContentLength::none;
  if (value > kMaxCgiInput) return ContentLength::too_large;
  *length = static_cast<uint32_t>(value);
  return ContentLength::ok;
}

std::string DecodeCgiPart(std::string_view part) {
  std::string out;
  out.reserve(part.size());
  for (size_t i = 0; i < part.size(); ++i) {
    char c = part[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < part.size() && HexValue(part[i + 1]) >= 0 &&
               HexValue(part[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(part[i + 1]) * 16 + HexValue(part[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<CgiProperty> ParseCgiInput(std::string_view input) {
  std::vector<CgiProperty> properties;
  std::unordered_map<std::string, size_t> byName;
  while (!input.empty()) {
    size_t amp = input.find('&');
    std::string_view part = input.substr(0, amp);
    input.remove_prefix(amp == std::string_view::npos ? input.size() : amp + 1);
    size_t eq = part.find('=');
    if (eq == std::string_view::npos) continue;
    std::string name = DecodeCgiPart(part.substr(0, eq));
    std::string value = DecodeCgiPart(part.substr(eq + 1));
    auto [it, added] = byName.try_emplace(Folded(name), properties.size());
    if (added) properties.push_back(CgiProperty{std::move(name), {}});
    properties[it->second].values.push_back(std::move(value));
  }
  return properties;
}

uint32_t ReadCgiInput(FILE* in, std::string* input) {
  input->clear();
  std::string text;
  uint32_t length = 0;
  if (!GetEnv("CONTENT_LENGTH", kContentLengthRoom, &text)) return TWSUCCESS;
  switch (ParseContentLength(text, &length)) {
    case ContentLength::none:
      return TWSUCCESS;
    case ContentLength::too_large:
      return TWFAIL_OVERFLOW;
    case ContentLength::ok:
      break;
  }
  std::string method;
  if (!GetEnv("REQUEST_METHOD", kMethodRoom, &method)) return TWSUCCESS;
  if (EqualsNoCase(method, "post")) {
    std::string body(length, '\0');
    if (TWFileRead(in, length, body.data()) == length) *input = std::move(body);
  } else if (EqualsNoCase(method, "get")) {
    GetEnv("QUERY_STRING", length, input);
  }
  return TWSUCCESS;
}

uint32_t EncodeTextList(const std::vector<std::string>& entries, std::string* out) {
  if (entries.size() > kMaxTextListEntries) return TWFAIL_OVERFLOW;
  size_t total = 2 + 2 * entries.size();
  for (const std::string& e : entries) {
    if (e.size() > kMaxTextListEntryLength) return TWFAIL_OVERFLOW;
    total += e.size();
  }
  std::string list(2 + 2 * entries.size(), '\0');
  list.reserve(total);
  tw::put_u16(list.data(), static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    tw::put_u16(list.data() + 2 + 2 * i, static_cast<uint16_t>(entries[i].size()));
  }
  for (const std::string& e : entries) list += e;
  *out = std::move(list);
  return TWSUCCESS;
}

}  // namespace tw::server
