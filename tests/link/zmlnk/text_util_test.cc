// The escape syntax, the ZID tokenizer, squeezing and the replacement pairs of the text-file
// connector.
#include "text_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "replace.h"

namespace flatrec {
namespace {

TEST(FlatrecEscapes, ResolveEveryForm) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"|\\n|", "\\n"},  // bars: the text between them literally
      {"|", "|"},        // one bar alone is no bar pair
      {"||", ""},
      {"\\0x41\\66\\0o103", "ABC"},  // hexadecimal, decimal, octal after a skipped char
      {"\\0X4a", "J"},
      {"c:\\data", "c:data"},  // an unknown escape stands for its character
      {"\\\\", "\\"},
      {"\\a\\b\\f\\n\\r\\t\\v", "\a\b\f\n\r\t\v"},
      {"\\65\\66", "AB"},
      {"\\321", "A"},     // 321 keeps its low 8 bits: 65
      {"x\\0x00y", "x"},  // a NUL ends the result
      {"a\\", "a"},       // a backslash at the end escapes nothing
      {"\\r\\n", "\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseEscapes(c.in), c.out) << c.in;
}

TEST(FlatrecEscapes, OctalSkipsTheCharacterAfterTheZero) {
  // backslash, 0, o, 1, 0, 1 is 'A'; backslash, 0, 6, 6 skips the first 6.
  EXPECT_EQ(ParseEscapes("\\0o101"), "A");
  EXPECT_EQ(ParseEscapes("\\066"), std::string(1, '\6'));
}

TEST(FlatrecSqueeze, TrimsAndJoinsRuns) {
  EXPECT_EQ(Squeeze("  a \t b\r\n c  "), "a b c");
  EXPECT_EQ(Squeeze(" \t "), "");
  EXPECT_FALSE(NeedsInnerSqueeze("a b c"));
  EXPECT_TRUE(NeedsInnerSqueeze("a  b"));
  EXPECT_TRUE(NeedsInnerSqueeze("a\tb"));
}

std::vector<std::string> Tokens(std::string_view text, std::string_view delims) {
  Tokenizer tok(text);
  std::vector<std::string> out;
  std::string_view t;
  while (tok.Next(delims, &t)) out.emplace_back(t);
  return out;
}

TEST(FlatrecTokenizer, QuotesAndWhiteSpaceDecideWhereATokenEnds) {
  const std::string_view values{"\t\"' ", 4};
  const struct {
    std::string text;
    std::string_view delims;
    std::vector<std::string> tokens;
  } cases[] = {
      {"TYPE \"TEXT\" WIDTH '5'", values, {"TYPE", "TEXT", "WIDTH", "5"}},
      {"VALUE \"a b\"", values, {"VALUE", "a b"}},
      {"VALUE 'it is' x", values, {"VALUE", "it is", "x"}},
      {"  a  b ", values, {"a", "b"}},
      {"NAME: TYPE", std::string_view("\t\"' :", 5), {"NAME", "TYPE"}},
      {"a,b,,c", ",", {"a", "b", "c"}},
      {"a; b", ";", {"a", " b"}},
      {"whole text", "", {"whole text"}},
      {",,,", ",", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text, c.delims), c.tokens) << c.text;
}

TEST(FlatrecTokenizer, ASetLongerThan255GivesNoToken) {
  std::string set(256, ',');
  EXPECT_TRUE(Tokens("a,b", set).empty());
}

TEST(FlatrecReplace, PairsAreParsedLineByLine) {
  Replacer r;
  r.Parse(" A = \"x y\" rest ignored\r\nB=2\r\nFOO\r\nBAR=1\r\n=skipped\r\nLAST=\\t");
  ASSERT_EQ(r.pairs().size(), 4u);
  EXPECT_EQ(r.pairs()[0].name, "A");
  EXPECT_EQ(r.pairs()[0].value, "x y");
  EXPECT_EQ(r.pairs()[1].name, "B");
  EXPECT_EQ(r.pairs()[1].value, "2");
  EXPECT_EQ(r.pairs()[2].name, "FOO BAR");
  EXPECT_EQ(r.pairs()[2].value, "1");
  EXPECT_EQ(r.pairs()[3].name, "LAST");  // the last pair needs no line end
  EXPECT_EQ(r.pairs()[3].value, "\t");
}

TEST(FlatrecReplace, AnEmptyValueDoesNotSwallowTheNextLine) {
  Replacer r;
  r.Parse("A=\r\nB=1");
  ASSERT_EQ(r.pairs().size(), 2u);
  EXPECT_EQ(r.pairs()[0].value, "");
  EXPECT_EQ(r.pairs()[1].name, "B");
}

TEST(FlatrecReplace, LeftmostMatchWinsAndReplacedTextIsNotSearchedAgain) {
  const struct {
    std::string pairs;
    std::string line;
    std::string out;
  } cases[] = {
      {"DIR=one\r\nD=two", "DIR D", "one two"},
      {"D=two\r\nDIR=one", "DIR D", "twoIR two"},
      {"X=XX", "X X", "XX XX"},
      {"P=c:\\data", "P", "c:data"},
      {"A=1", "no match", "no match"},
      {"", "unchanged", "unchanged"},
  };
  for (const auto& c : cases) {
    Replacer r;
    r.Parse(c.pairs);
    std::string out;
    ASSERT_TRUE(r.Apply(c.line, 100, &out));
    EXPECT_EQ(out, c.out) << c.pairs << " / " << c.line;
  }
}

TEST(FlatrecReplace, ALineThatGrowsPastItsLimitIsRefused) {
  Replacer r;
  r.Parse("X=" + std::string(60, 'y'));
  std::string out;
  EXPECT_FALSE(r.Apply("X X", 100, &out));
  EXPECT_TRUE(r.Apply("X", 100, &out));
  EXPECT_EQ(out.size(), 60u);
}

TEST(FlatrecReplace, AtMost256PairsAreKept) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "N" + std::to_string(i) + "=v\r\n";
  Replacer r;
  r.Parse(text);
  EXPECT_EQ(r.pairs().size(), Replacer::kMaxPairs);
}

}  // namespace
}  // namespace flatrec
