// The environment: bounded reads and quoted writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::ScopedEnv;

TEST(Environment, GetCopiesAtMostLengthCharacters) {
  ScopedEnv v("TW_TEST_VALUE", "hello");
  struct Case {
    uint32_t length;
    const char* text;
    uint32_t copied;
  } cases[] = {{10, "hello", 5}, {5, "hello", 5}, {3, "hel", 3}, {0, "", 0}};
  for (const Case& c : cases) {
    std::string buf(c.length + 1 + 4, '#');
    uint32_t length = c.length;
    EXPECT_EQ(TWPlatGetEnv("TW_TEST_VALUE", buf.data(), &length), TWSUCCESS);
    EXPECT_STREQ(buf.c_str(), c.text);
    EXPECT_EQ(length, c.copied);
    EXPECT_EQ(buf.substr(c.length + 1), "####") << "written past length + 1";
  }
}

TEST(Environment, MissingAndNullArguments) {
  ScopedEnv unset("TW_TEST_UNSET", nullptr);
  char buf[8] = "garbage";
  uint32_t length = 7;
  EXPECT_EQ(TWPlatGetEnv("TW_TEST_UNSET", buf, &length), TWFAIL_ENV_READ);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(length, 0u);
  length = 7;
  EXPECT_EQ(TWPlatGetEnv(nullptr, buf, &length), TWFAIL_ENV_READ);
  EXPECT_EQ(TWPlatGetEnv("PATH", nullptr, &length), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWPlatGetEnv("PATH", buf, nullptr), TWFAIL_NULL_BUFFER);
}

TEST(Environment, PutWrapsTheValueInQuotes) {
  ScopedEnv keep("A", nullptr);
  ASSERT_EQ(TWPlatPutEnv("A", "b c"), TWSUCCESS);
  EXPECT_STREQ(std::getenv("A"), "\"b c\"");
  char buf[16];
  uint32_t length = sizeof buf - 1;
  ASSERT_EQ(TWPlatGetEnv("A", buf, &length), TWSUCCESS);
  EXPECT_STREQ(buf, "\"b c\"");
  EXPECT_EQ(length, 5u);
  ASSERT_EQ(TWPlatPutEnv("A", ""), TWSUCCESS);
  EXPECT_STREQ(std::getenv("A"), "\"\"");
}

TEST(Environment, PutRefusesWhatTheEnvironmentCannotHold) {
  ScopedEnv keep("A", "kept");
  EXPECT_EQ(TWPlatPutEnv("A=B", "x"), TWFAIL_ENV_WRITE);
  EXPECT_EQ(TWPlatPutEnv("", "x"), TWFAIL_ENV_WRITE);
  EXPECT_EQ(TWPlatPutEnv(nullptr, "x"), TWFAIL_ENV_WRITE);
  EXPECT_EQ(TWPlatPutEnv("A", nullptr), TWFAIL_ENV_WRITE);
  EXPECT_STREQ(std::getenv("A"), "kept");
}

}  // namespace
