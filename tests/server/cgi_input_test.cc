// webrun's CGI request: CONTENT_LENGTH, decoding, splitting and grouping, reading by method,
// and the text lists of repeated names.
#include "cgi_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plat_test_util.h"
#include "platform.h"
#include "tw/coding.h"

namespace {

using tw::server::CgiProperty;
using tw::server::ContentLength;

TEST(CgiInputTest, ContentLengthIsAPositiveBoundedNumberOfDigits) {
  struct Case {
    const char* text;
    ContentLength kind;
    uint32_t length;
  };
  const Case cases[] = {
      {"17", ContentLength::ok, 17},
      {"0001", ContentLength::ok, 1},
      {"1048576", ContentLength::ok, 1048576},
      {"1048577", ContentLength::too_large, 0},
      {"99999999999999999999999999", ContentLength::too_large, 0},
      {"4294967313", ContentLength::too_large, 0},  // 2^32 + 17 must not wrap to 17
      {"0", ContentLength::none, 0},
      {"", ContentLength::none, 0},
      {"-5", ContentLength::none, 0},
      {"+5", ContentLength::none, 0},
      {" 5", ContentLength::none, 0},
      {"5x", ContentLength::none, 0},
  };
  for (const Case& c : cases) {
    uint32_t length = 0;
    EXPECT_EQ(tw::server::ParseContentLength(c.text, &length), c.kind) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
  }
}

TEST(CgiInputTest, PartsAreDecoded) {
  struct Case {
    const char* part;
    std::string decoded;
  };
  const Case cases[] = {
      {"x+y%21", "x y!"},
      {"%41%62%7e%7E", "Ab~~"},
      {"%e2%82%AC", "\xe2\x82\xac"},
      {"%00z", std::string("\0z", 2)},
      {"%2B+", "+ "},
      {"50%", "50%"},
      {"%4", "%4"},
      {"%zz%4g", "%zz%4g"},
      {"%%41", "%A"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(tw::server::DecodeCgiPart(c.part), c.decoded) << c.part;
}

TEST(CgiInputTest, PairsAreSplitAtAmpersandsFirstAndGroupedByName) {
  struct Case {
    const char* input;
    std::vector<CgiProperty> properties;
  };
  const Case cases[] = {
      {"a=1&a=2&b=x+y%21&a=3", {CgiProperty{"a", {"1", "2", "3"}}, CgiProperty{"b", {"x y!"}}}},
      {"a=1&tail", {CgiProperty{"a", {"1"}}}},
      {"lead&a=1", {CgiProperty{"a", {"1"}}}},
      {"a=1&&=e&b=", {CgiProperty{"a", {"1"}}, CgiProperty{"", {"e"}}, CgiProperty{"b", {""}}}},
      {"Name=1&NAME=2&n%61me=3", {CgiProperty{"Name", {"1", "2", "3"}}}},
      {"eq=a=b&p%3Dq=1", {CgiProperty{"eq", {"a=b"}}, CgiProperty{"p=q", {"1"}}}},
      {"&&&", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<CgiProperty> got = tw::server::ParseCgiInput(c.input);
    ASSERT_EQ(got.size(), c.properties.size()) << c.input;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, c.properties[i].name) << c.input;
      EXPECT_EQ(got[i].values, c.properties[i].values) << c.input;
    }
  }
}

// Sets the CGI variables for the scope; null unsets one.
struct CgiEnv {
  CgiEnv(const char* length, const char* method, const char* query)
      : length_("CONTENT_LENGTH", length),
        method_("REQUEST_METHOD", method),
        query_("QUERY_STRING", query) {}
  twtest::ScopedEnv length_, method_, query_;
};

// body as the input of a read.
struct Body {
  explicit Body(const std::string& bytes) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    file = ::fdopen(fds[0], "r");
  }
  ~Body() { std::fclose(file); }
  FILE* file;
};

TEST(CgiInputTest, TheMethodDecidesWhereTheTextComesFrom) {
  struct Case {
    const char* length;
    const char* method;
    const char* query;
    std::string body;
    uint32_t status;
    std::string input;
  };
  const Case cases[] = {
      {"7", "POST", "q=1", "a=1&b=2", 0, "a=1&b=2"},
      {"3", "post", nullptr, "a=1&b=2", 0, "a=1"},
      {"9", "Post", nullptr, "a=1&b=2", 0, ""},  // a shorter body is dropped
      {"5", "GET", "a=1&b=2", "", 0, "a=1&b"},
      {"50", "get", "a=1&b=2", "", 0, "a=1&b=2"},
      {"5", "GET", nullptr, "", 0, ""},
      {nullptr, "GET", "a=1", "", 0, ""},  // a query is read only with CONTENT_LENGTH
      {"5", nullptr, "a=1", "a=1", 0, ""},
      {"5", "PUT", "a=1", "a=1", 0, ""},
      {"0", "POST", "a=1", "a=1", 0, ""},
      {"-1", "POST", "a=1", "a=1", 0, ""},
      {"2000000", "POST", "a=1", "a=1", TWFAIL_OVERFLOW, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length ? c.length : "(none)");
    CgiEnv env(c.length, c.method, c.query);
    Body body(c.body);
    std::string input = "stale";
    EXPECT_EQ(tw::server::ReadCgiInput(body.file, &input), c.status);
    EXPECT_EQ(input, c.input);
  }
}

TEST(CgiInputTest, TextListsKeepTheirCountsAndLengthsWithin16Bits) {
  std::string list;
  ASSERT_EQ(tw::server::EncodeTextList({"ab", "", "c"}, &list), TWSUCCESS);
  EXPECT_EQ(list, std::string("\x03\x00\x02\x00\x00\x00\x01\x00"
                              "abc",
                              11));

  std::vector<std::string> many(0xFFFF, "v");
  ASSERT_EQ(tw::server::EncodeTextList(many, &list), TWSUCCESS);
  EXPECT_EQ(tw::get_u16(list.data()), 0xFFFF);
  many.push_back("v");
  EXPECT_EQ(tw::server::EncodeTextList(many, &list), TWFAIL_OVERFLOW);

  std::vector<std::string> longest{std::string(0xFFFF, 'x'), "y"};
  ASSERT_EQ(tw::server::EncodeTextList(longest, &list), TWSUCCESS);
  EXPECT_EQ(tw::get_u16(list.data() + 2), 0xFFFF);
  longest[0] += 'x';
  std::string kept = list;
  EXPECT_EQ(tw::server::EncodeTextList(longest, &list), TWFAIL_OVERFLOW);
  EXPECT_EQ(list, kept);
}

}  // namespace
