// The escape syntax, the ZID tokenizer, squeezing and the replacement pairs of the text-file
// connector.
#include "text_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
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
      // The earlier pair wins where names start together, shorter or longer.
      {"ab=1\r\nabc=2", "abc", "1c"},
      {"abc=2\r\nab=1", "abc", "2"},
      {"A=1\r\nA=2", "A", "1"},
      // The leftmost start wins over an earlier pair starting later.
      {"cd=1\r\nbcde=2", "abcdef", "a2f"},
      // A longer name that fails part-way still lets a name inside it match.
      {"abcd=1\r\nbc=2", "abce abcd", "a2e 1"},
      {"she=1\r\nhe=2\r\nhers=3", "ushers he", "u1rs 2"},
      {"aa=X", "aaaaa", "XXa"},
      {"\xe9t\xe9=summer", "\xe9t\xe9!", "summer!"},
  };
  for (const auto& c : cases) {
    Replacer r;
    r.Parse(c.pairs);
    std::string out;
    ASSERT_TRUE(r.Apply(c.line, 100, &out));
    EXPECT_EQ(out, c.out) << c.pairs << " / " << c.line;
  }
}

// The rule stated plainly: from the scan point, the leftmost occurrence of any name, the
// earlier pair on a tie; compared with the replacer over many small random cases, where
// names overlap, repeat and share prefixes and suffixes.
std::string ReplacedPlainly(const std::vector<Replacer::Pair>& pairs, std::string_view line) {
  std::string out;
  size_t scan = 0;
  for (;;) {
    size_t best = std::string_view::npos;
    const Replacer::Pair* hit = nullptr;
    for (const Replacer::Pair& p : pairs) {
      const size_t at = line.find(p.name, scan);
      if (at < best) {
        best = at;
        hit = &p;
      }
    }
    if (hit == nullptr) break;
    out.append(line.substr(scan, best - scan)).append(hit->value);
    scan = best + hit->name.size();
  }
  return out.append(line.substr(scan));
}

TEST(FlatrecReplace, AgreesWithTheRuleOnRandomCases) {
  uint32_t seed = 12345;
  auto next = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const uint32_t pairCount = 1 + next(8);
    for (uint32_t i = 0; i < pairCount; ++i) {
      std::string name(1 + next(4), 'a');
      for (char& c : name) c = static_cast<char>('a' + next(3));
      text += name + "=<" + std::to_string(i) + ">\r\n";
    }
    std::string line(next(40), 'a');
    for (char& c : line) c = static_cast<char>('a' + next(4));
    Replacer r;
    r.Parse(text);
    std::string out;
    ASSERT_TRUE(r.Apply(line, 1000, &out));
    ASSERT_EQ(out, ReplacedPlainly(r.pairs(), line)) << text << " / " << line;
  }
}

// The work of a replacement grows with the line, not with the line times the pairs: a line
// twice as long costs about twice as much, for pair sets that defeat a search per pair
// (many names found nowhere), nest (every name a suffix of the next) or keep failing late.
TEST(FlatrecReplace, WorkGrowsLinearlyWithTheLine) {
  std::string unfound = "ab=x\r\n";
  for (int i = 1; i < 256; ++i) unfound += "zz" + std::to_string(i) + "=y\r\n";
  std::string nested;
  for (int i = 1; i <= 256; ++i) nested += std::string(static_cast<size_t>(i), 'a') + "=n\r\n";
  const struct {
    const char* name;
    std::string pairs;
    std::string unit;  // the line is this repeated
  } cases[] = {
      {"names found nowhere", unfound, "ab c "},
      {"nested names", nested, "a"},
      {"late failures", std::string(300, 'a') + "b=q", "a"},
  };
  for (const auto& c : cases) {
    Replacer r;
    r.Parse(c.pairs);
    uint64_t work[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      std::string line;
      while (line.size() < (k == 0 ? 8000u : 16000u)) line += c.unit;
      std::string out;
      ASSERT_TRUE(r.Apply(line, SIZE_MAX, &out, &work[k])) << c.name;
    }
    ASSERT_GT(work[0], 0u) << c.name;
    EXPECT_LE(static_cast<double>(work[1]) / static_cast<double>(work[0]), 2.2)
        << c.name << ": " << work[0] << " then " << work[1];
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
