// webrun's CGI decoding over any request: decoding undoes encoding, the parsed properties
// encode back to a request that parses to the same properties, their values survive the
// runner's text-list layout, CONTENT_LENGTH is read as the decimal number it spells, and the
// request text is read from standard input or QUERY_STRING exactly as far as it says.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cgi_input.h"
#include "fuzz_util.h"
#include "platform.h"
#include "tw/coding.h"

namespace {

using tw::server::CgiProperty;
using tw::server::ContentLength;

std::string Encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c == ' ') {
      out += '+';
    } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool Same(const std::vector<CgiProperty>& a, const std::vector<CgiProperty>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].values != b[i].values) return false;
  return true;
}

void CheckProperties(std::string_view input, const std::vector<CgiProperty>& props) {
  size_t parts = 0;
  std::string_view rest = input;
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    if (rest.substr(0, amp).find('=') != std::string_view::npos) ++parts;
    rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
  }
  size_t values = 0;
  for (size_t i = 0; i < props.size(); ++i) {
    FUZZ_CHECK(!props[i].values.empty());
    values += props[i].values.size();
    for (size_t j = 0; j < i; ++j) FUZZ_CHECK(Folded(props[i].name) != Folded(props[j].name));
  }
  FUZZ_CHECK(values == parts);

  std::string again;
  for (const CgiProperty& p : props)
    for (const std::string& v : p.values)
      again += (again.empty() ? "" : "&") + Encode(p.name) + "=" + Encode(v);
  FUZZ_CHECK(Same(tw::server::ParseCgiInput(again), props));
}

// The runner's text list of values: u16 count, u16 lengths, the values back to back.
void CheckTextList(const std::vector<CgiProperty>& props) {
  std::vector<std::string> entries;
  for (const CgiProperty& p : props)
    entries.insert(entries.end(), p.values.begin(), p.values.end());
  std::string list;
  FUZZ_CHECK(tw::server::EncodeTextList(entries, &list) == TWSUCCESS);
  FUZZ_CHECK(list.size() >= 2 && tw::get_u16(list.data()) == entries.size());
  size_t at = 2 + 2 * entries.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t length = tw::get_u16(list.data() + 2 + 2 * i);
    FUZZ_CHECK(list.compare(at, length, entries[i]) == 0 && length == entries[i].size());
    at += length;
  }
  FUZZ_CHECK(at == list.size());
}

void CheckContentLength(const std::string& text) {
  uint32_t length = 0;
  const ContentLength got = tw::server::ParseContentLength(text, &length);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    FUZZ_CHECK(got == ContentLength::none);
    return;
  }
  const size_t lead = text.find_first_not_of('0');
  const std::string digits = lead == std::string::npos ? "" : text.substr(lead);
  if (digits.empty()) {
    FUZZ_CHECK(got == ContentLength::none);
  } else if (digits.size() > 7 || std::stoul(digits) > tw::server::kMaxCgiInput) {
    FUZZ_CHECK(got == ContentLength::too_large);
  } else {
    FUZZ_CHECK(got == ContentLength::ok && length == std::stoul(digits));
  }
}

void SetOrUnset(const char* name, bool set, const std::string& value) {
  if (set)
    ::setenv(name, value.c_str(), 1);
  else
    ::unsetenv(name);
}

bool IsMethod(const std::string& method, std::string_view word) {
  return Folded(method) == word;
}

void CheckRead(FuzzedDataProvider& in) {
  const bool hasLength = in.ConsumeBool();
  const std::string lengthText = twfuzz::CString(in.ConsumeRandomLengthString(12));
  static const char* const kMethods[] = {"post", "POST", "Post", "get", "GET", "gEt", "PUT", ""};
  const bool hasMethod = in.ConsumeBool();
  std::string method = kMethods[in.ConsumeIntegralInRange<size_t>(0, 7)];
  if (method.empty()) method = twfuzz::CString(in.ConsumeRandomLengthString(15));
  const bool hasQuery = in.ConsumeBool();
  const std::string query = twfuzz::CString(in.ConsumeRandomLengthString(64));
  std::string body = in.ConsumeRemainingBytesAsString();
  SetOrUnset("CONTENT_LENGTH", hasLength, lengthText);
  SetOrUnset("REQUEST_METHOD", hasMethod, method);
  SetOrUnset("QUERY_STRING", hasQuery, query);

  FILE* stdinLike =
      body.empty() ? std::fopen("/dev/null", "rb") : ::fmemopen(body.data(), body.size(), "rb");
  FUZZ_CHECK(stdinLike != nullptr);
  std::string input = "stale";
  const uint32_t st = tw::server::ReadCgiInput(stdinLike, &input);
  std::fclose(stdinLike);

  uint32_t length = 0;
  const ContentLength cl =
      hasLength ? tw::server::ParseContentLength(lengthText, &length) : ContentLength::none;
  std::string expect;
  if (cl == ContentLength::too_large) {
    FUZZ_CHECK(st == TWFAIL_OVERFLOW);
  } else {
    FUZZ_CHECK(st == TWSUCCESS);
    if (cl == ContentLength::ok && hasMethod && IsMethod(method, "post")) {
      if (body.size() >= length) expect = body.substr(0, length);
    } else if (cl == ContentLength::ok && hasMethod && IsMethod(method, "get") && hasQuery) {
      expect = query.substr(0, length);
    }
  }
  FUZZ_CHECK(input == expect);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view whole(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(tw::server::DecodeCgiPart(Encode(whole)) == whole);
  FUZZ_CHECK(tw::server::DecodeCgiPart(whole).size() <= whole.size());

  const std::vector<CgiProperty> props = tw::server::ParseCgiInput(whole);
  CheckProperties(whole, props);
  CheckTextList(props);
  CheckContentLength(std::string(whole.substr(0, 24)));

  FuzzedDataProvider in(data, size);
  CheckRead(in);
  return 0;
}
