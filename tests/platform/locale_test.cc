// Date and time, the international-format record and its exact bytes, character set and
// country, and the comparison of release texts.
#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <string>

#include "env.h"
#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::ScopedEnv;

// ---------------------------------------------------------------- international format

class IntlTest : public ::testing::Test {
 protected:
  void TearDown() override { TWPlatTerm(); }
};

TEST_F(IntlTest, DefaultRecordBytes) {
  ASSERT_EQ(TWPlatSetIntlFormat(nullptr), TWSUCCESS);
  const TWIntlFormat* f = TWPlatGetIntlFormat();
  ASSERT_NE(f, nullptr);
  static const unsigned char kWant[TWINTL_RECORD_SIZE] = {
      16,  0,   0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0xFB, 0xFF, 0xFF, 0xFF,  // flags, formats, zone -5
      'A', 'M', 0, 0, 0, 0, 2, 0, 0, 0,                                // 16
      'P', 'M', 0, 0, 0, 0, 2, 0, 0, 0,                                // 26
      '$', 0,   0, 0, 0, 0, 1, 0, 0, 0,                                // 36
      ',', 0,   0, 0, 0, 0, 1, 0, 0, 0,                                // 46
      '.', 0,   0, 0, 0, 0, 1, 0, 0, 0,                                // 56
      '/', 0,   0, 0, 0, 0, 1, 0, 0, 0,                                // 66
      ':', 0,   0, 0, 0, 0, 1, 0, 0, 0,                                // 76
  };
  EXPECT_EQ(std::memcmp(f, kWant, sizeof kWant), 0);
  int32_t zone = 0, daylight = 0;
  EXPECT_EQ(TWPlatGetTimeZone(&zone, &daylight), TWSUCCESS);
  EXPECT_EQ(zone, -5);
  EXPECT_EQ(daylight, 1);
}

TEST_F(IntlTest, TextsAreBoundedAndLengthsRecounted) {
  unsigned char raw[TWINTL_RECORD_SIZE];
  std::memset(raw, 'Z', sizeof raw);    // every text 6 non-NUL bytes, every length garbage
  std::memcpy(raw + 16, "pm\0xyz", 6);  // bytes after a NUL are cleared
  raw[0] = 0;
  raw[1] = raw[2] = raw[3] = 0;  // flags 0: no daylight saving
  std::memcpy(raw + 12, "\x03\0\0\0", 4);
  TWIntlFormat record;
  std::memcpy(&record, raw, sizeof record);
  ASSERT_EQ(TWPlatSetIntlFormat(&record), TWSUCCESS);
  const auto* got = reinterpret_cast<const unsigned char*>(TWPlatGetIntlFormat());
  EXPECT_EQ(std::memcmp(got + 16, "pm\0\0\0\0\x02\0\0\0", 10), 0);
  for (int offset = 26; offset <= 76; offset += 10)
    EXPECT_EQ(std::memcmp(got + offset, "ZZZZZ\0\x05\0\0\0", 10), 0) << offset;
  EXPECT_EQ(std::memcmp(got + 4, raw + 4, 8), 0);  // format words copied as given
  int32_t zone = 0, daylight = 1;
  EXPECT_EQ(TWPlatGetTimeZone(&zone, &daylight), TWSUCCESS);
  EXPECT_EQ(zone, 3);
  EXPECT_EQ(daylight, 0);
}

TEST_F(IntlTest, WithoutRecord) {
  TWPlatTerm();
  EXPECT_EQ(TWPlatGetIntlFormat(), nullptr);
  int32_t zone = 7, daylight = 7;
  EXPECT_EQ(TWPlatGetTimeZone(&zone, &daylight), TWFAIL_TIMEZONE);
  EXPECT_EQ(zone, 0);
  EXPECT_EQ(daylight, 0);
  EXPECT_EQ(TWPlatGetTimeZone(nullptr, nullptr), TWFAIL_TIMEZONE);
}

// ---------------------------------------------------------------- date and time

class FixedClock : public tw::EnvWrapper {
 public:
  FixedClock(tw::Env* target, int64_t micros) : EnvWrapper(target), micros_(micros) {}
  int64_t NowMicros() override { return micros_; }

 private:
  int64_t micros_;
};

class DatetimeTest : public IntlTest {
 protected:
  void TearDown() override {
    tw::Env::Set(nullptr);
    tz_.reset();
    ::tzset();
    IntlTest::TearDown();
  }
  TWPlatDatetime At(int64_t micros, const char* tz) {
    tz_.emplace("TZ", tz);
    ::tzset();
    FixedClock clock(tw::Env::Default(), micros);
    tw::Env::Set(&clock);
    TWPlatDatetime d;
    std::memset(&d, 0x55, sizeof d);  // every word must be written
    TWPlatGetDatetime(&d);
    tw::Env::Set(nullptr);
    return d;
  }
  std::optional<ScopedEnv> tz_;
};

TEST_F(DatetimeTest, EveryWordIsSet) {
  ASSERT_EQ(TWPlatSetIntlFormat(nullptr), TWSUCCESS);
  // 2024-02-29 13:45:07.678901 UTC
  int64_t t = 1709214307LL * 1000000 + 678901;
  struct Case {
    const char* tz;
    int32_t year, month, day, hour;
  } cases[] = {{"UTC0", 2024, 2, 29, 13}, {"EST5", 2024, 2, 29, 8}, {"JST-9", 2024, 2, 29, 22}};
  for (const Case& c : cases) {
    TWPlatDatetime d = At(t, c.tz);
    EXPECT_EQ(d.year, c.year) << c.tz;
    EXPECT_EQ(d.month, c.month) << c.tz;
    EXPECT_EQ(d.day, c.day) << c.tz;
    EXPECT_EQ(d.unused, 0) << c.tz;
    EXPECT_EQ(d.hour, c.hour) << c.tz;
    EXPECT_EQ(d.minute, 45) << c.tz;
    EXPECT_EQ(d.second, 7) << c.tz;
    EXPECT_EQ(d.hundredths, 67) << c.tz;
    // Zone and daylight come from the international-format record, not from TZ.
    EXPECT_EQ(d.zone, -5) << c.tz;
    EXPECT_EQ(d.daylight, 1) << c.tz;
  }
}

TEST_F(DatetimeTest, BeforeTheEpochAndWithoutRecord) {
  TWPlatDatetime d = At(-1, "UTC0");  // one microsecond before 1970
  EXPECT_EQ(d.year, 1969);
  EXPECT_EQ(d.month, 12);
  EXPECT_EQ(d.day, 31);
  EXPECT_EQ(d.hour, 23);
  EXPECT_EQ(d.minute, 59);
  EXPECT_EQ(d.second, 59);
  EXPECT_EQ(d.hundredths, 99);
  EXPECT_EQ(d.unused, 0);
  EXPECT_EQ(d.zone, 0);
  EXPECT_EQ(d.daylight, 0);
  TWPlatGetDatetime(nullptr);
}

// ---------------------------------------------------------------- character set, country

TEST(CharInfo, FromTheLocaleOfTheEnvironment) {
  ScopedEnv lcCtype("LC_CTYPE", nullptr), lcMessages("LC_MESSAGES", nullptr),
      lcTelephone("LC_TELEPHONE", nullptr), lang("LANG", nullptr);
  struct Case {
    const char* locale;
    int32_t codePage;
    int32_t country;
    const char* language;
  } cases[] = {
      {"C.UTF-8", 65001, 0, ""},
      {"C", 20127, 0, ""},
      {"POSIX", 20127, 0, ""},
      {"en_US.UTF-8", 65001, 1, "en_US"},
      {"de_DE.ISO-8859-1", 28591, 49, "de_DE"},
      {"en_GB.utf8@euro", 65001, 44, "en_GB"},
      {"xxxxxxx_YY.KOI8-R", 20866, 0, "xxxxxxx"},
      {"xx_ZZ.NO-SUCH-SET", 0, 0, "xx_ZZ"},
  };
  for (const Case& c : cases) {
    ScopedEnv all("LC_ALL", c.locale);
    int32_t codePage = -1, country = -1;
    char language[8 + 4];
    std::memset(language, '#', sizeof language);
    EXPECT_EQ(TWCharInfo(&codePage, &country, language), TWSUCCESS);
    EXPECT_EQ(codePage, c.codePage) << c.locale;
    EXPECT_EQ(country, c.country) << c.locale;
    EXPECT_STREQ(language, c.language) << c.locale;
    EXPECT_EQ(std::string(language + 8, 4), "####") << c.locale;
  }
  EXPECT_EQ(TWCharInfo(nullptr, nullptr, nullptr), TWSUCCESS);
}

TEST(CharInfo, CategoryVariablesUnderLcAll) {
  ScopedEnv all("LC_ALL", nullptr), ctype("LC_CTYPE", "C.UTF-8"), lang("LANG", "de_DE.ISO-8859-1"),
      messages("LC_MESSAGES", nullptr), telephone("LC_TELEPHONE", nullptr);
  int32_t codePage = 0, country = 0;
  char language[8];
  TWCharInfo(&codePage, &country, language);
  EXPECT_EQ(codePage, 65001);
  EXPECT_EQ(country, 49);
  EXPECT_STREQ(language, "de_DE");
}

// ---------------------------------------------------------------- release texts

TEST(CmpVerStr, TwoDigitNumbers) {
  struct Case {
    const char* a;
    const char* b;
    int want;
  } cases[] = {
      {"23", "2.0", 21}, {"abc", "1", -1},   {"2.0", "2.1", 0}, {"123", "12", 0}, {" 7", "5", 2},
      {"", "", 0},       {nullptr, "3", -3}, {"-1", "1", -2},   {"9x", "10", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TWCmpVerStr(c.a, c.b), c.want) << (c.a ? c.a : "null") << " vs " << c.b;
}

}  // namespace
