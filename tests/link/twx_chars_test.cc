// Characters of a link's text format: whether a text fits a column by its characters and
// where it is cut, and cuts by bytes that never end inside a character, in UTF-8, UTF-16, a
// double-byte set and a single-byte set.
#include "twx_chars.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "日本語" in Shift-JIS, "a" and a G clef in UTF-16 (a surrogate pair).
const std::string kSjis = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kUtf16 = std::string("a\0\x34\xD8\x1E\xDD", 6);
const std::string kUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E";  // a, é, €, G clef

TEST(TwxChars, ATextFitsByItsCharactersAndIsCutOnOne) {
  const struct {
    uint32_t format;
    std::string text;
    size_t characters;  // the column's
    bool fits;
    size_t length;  // of the part that fits
  } cases[] = {
      {TWSTREAMFMT_NATIVE, kUtf8, 4, true, 10},
      {TWSTREAMFMT_NATIVE, kUtf8, 3, false, 6},
      {TWSTREAMFMT_NATIVE, kUtf8, 1, false, 1},
      {TWSTREAMFMT_NATIVE, kUtf8, 0, true, 10},  // no bound
      {TWSTREAMFMT_UNICODE, kUtf16, 2, true, 6},
      {TWSTREAMFMT_UNICODE, kUtf16, 1, false, 2},
      {TWSTREAMFMT_CP932, kSjis, 3, true, 6},
      {TWSTREAMFMT_CP932, kSjis, 2, false, 4},
      {TWSTREAMFMT_ISO88591, "caf\xE9!", 4, false, 4},
  };
  for (const auto& c : cases) {
    const twx::Fit fit = twx::FitCharacters(c.format, c.text.data(), c.text.size(), c.characters);
    EXPECT_EQ(fit.fits, c.fits) << c.format << " " << c.characters;
    EXPECT_EQ(fit.length, c.length) << c.format << " " << c.characters;
    EXPECT_EQ(twx::CharacterCount(c.format, c.text.data(), fit.length),
              c.fits || c.characters == 0
                  ? twx::CharacterCount(c.format, c.text.data(), c.text.size())
                  : c.characters);
  }
}

TEST(TwxChars, ACutByBytesEndsOnAWholeCharacter) {
  const struct {
    uint32_t format;
    std::string text;
    size_t most;
    size_t length;
  } cases[] = {
      {TWSTREAMFMT_NATIVE, kUtf8, 10, 10}, {TWSTREAMFMT_NATIVE, kUtf8, 9, 6},
      {TWSTREAMFMT_NATIVE, kUtf8, 5, 3},   {TWSTREAMFMT_NATIVE, kUtf8, 2, 1},
      {TWSTREAMFMT_UNICODE, kUtf16, 5, 2}, {TWSTREAMFMT_UNICODE, kUtf16, 4, 2},
      {TWSTREAMFMT_CP932, kSjis, 5, 4},    {TWSTREAMFMT_CP932, kSjis, 1, 0},
      {TWSTREAMFMT_ISO88591, "abc", 2, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(twx::PrefixOfBytes(c.format, c.text.data(), c.text.size(), c.most), c.length)
        << c.format << " " << c.most;
    // A text that ends inside a character loses that character's start.
    EXPECT_EQ(twx::WholeCharacters(c.format, c.text.data(), c.most), c.length)
        << c.format << " " << c.most;
  }
}

}  // namespace
