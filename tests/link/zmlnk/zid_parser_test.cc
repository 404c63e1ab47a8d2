// The ZID line grammar: a table of descriptions and the exact messages and outcome each
// gives, then the column descriptors the accepted lines build.
#include "zid_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flowcore.h"

namespace flatrec {
namespace {

struct Compiled {
  uint32_t status = 0;
  std::vector<std::string> lines;
  Zid zid;
};

struct LinkSetup {
  Direction direction = Direction::kSource;
  int32_t fixed = 0;
  bool embedded = false;
  std::string pairs;
  bool quotes = false;
};

Compiled Compile(const std::string& text, const LinkSetup& setup = {}) {
  Compiled out;
  Tracer tracer;
  tracer.set_bits(Tracer::kNoStdout);
  tracer.set_capture(&out.lines);
  Replacer replacer;
  replacer.Parse(setup.pairs);
  ZidOptions options;
  options.direction = setup.direction;
  options.fixedRecSize = setup.fixed;
  options.embeddedData = setup.embedded;
  options.checkForQuotes = setup.quotes;
  options.maxText = 100;
  options.sourceName = "Z";
  out.status = CompileZid(text, options, replacer, tracer, &out.zid);
  return out;
}

const LinkSetup kDestination{Direction::kDestination};

TEST(FlatrecZidGrammar, LinesAndTheirOutcomes) {
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "X BOGUS\n";
  std::vector<std::string> thirtyLines;
  for (int i = 1; i <= 25; ++i)
    thirtyLines.push_back("ERROR: Invalid ZID field option: BOGUS on line " + std::to_string(i) +
                          ", file: Z");
  thirtyLines.push_back("ERROR: ZID file processing terminated: Z");
  thirtyLines.push_back("ERROR: 25 errors in ZID file entries");

  const struct {
    const char* name;
    std::string text;
    LinkSetup setup;
    uint32_t status;
    std::vector<std::string> lines;
  } cases[] = {
      {"accepted", "CITY TYPE TEXT START 10 WIDTH 20", {}, 0, {}},
      {"second WIDTH",
       "AMOUNT TYPE NUMBER.2 WIDTH 8 WIDTH 9",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Ambiguous keyword(s): WIDTH, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"SHORT gave a width",
       "AMOUNT type short width 2",
       {Direction::kSource, 10},
       TWFAIL_EXTERNAL,
       {"ERROR: Ambiguous keyword(s): width, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"END before START's end",
       "X START 5 END 3",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing END value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"END without START",
       "X END 9 START 5",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing END value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"thirty faulty lines", thirty, {}, TWFAIL_EXTERNAL, thirtyLines},
      {"unknown type",
       "X TYPE BOGUS",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing TYPE on line 1, file: Z", "ERROR: 1 errors in ZID file entries"}},
      {"precision beyond 254",
       "X TYPE NUMBER.300",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing TYPE on line 1, file: Z", "ERROR: 1 errors in ZID file entries"}},
      {"missing value",
       "X TYPE TEXT WIDTH",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing WIDTH value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"negative width",
       "X LENGTH -5",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing LENGTH value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"width beyond 60000",
       "X WIDTH 60001",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing WIDTH value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"START 0",
       "X START 0",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing START value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"START that wraps",
       "X START 99999999999",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing START value on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"unknown reference",
       "A TYPE TEXT\nB START @NOPE",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing START reference value on line 2, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"KEY 0",
       "X KEY 0",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing KEY sequence on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"VIEWKEY letters",
       "X VKEY one",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid/missing VIEWKEY sequence on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"unknown option",
       "X FOO",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid ZID field option: FOO on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"input option on output",
       "X EBCDIC",
       kDestination,
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid option for EXPORT : EBCDIC, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"output option on input",
       "X zerofill",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid option for IMPORT : zerofill, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"second APPEND",
       "X append APPEND",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Ambiguous keyword(s): APPEND, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"terminators once",
       "X UNTIL , DELIM ;",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Ambiguous keyword(s): DELIM, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"long name",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456 TYPE TEXT",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Invalid field name value: ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456, on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"long placeholder", "(ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456) VALUE x", {}, 0, {}},
      {"binary without a fixed size",
       "N TYPE LONG",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Binary TYPEs (BIN/SHORT/LONG/PACKED) requires fixed record size: line 1, file:Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"binary without a width",
       "N TYPE PACKED",
       {Direction::kSource, 10},
       TWFAIL_EXTERNAL,
       {"ERROR: PACKED requires WIDTH (1-8): line 1, file:Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"binary wider than 8",
       "N TYPE BINARY WIDTH 9",
       {Direction::kSource, 10},
       TWFAIL_EXTERNAL,
       {"ERROR: BINARY requires WIDTH (1-8): line 1, file:Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"binary and EBCDIC",
       "N TYPE SHORT EBCDIC",
       {Direction::kSource, 10},
       0,
       {"ERROR: EBCDIC requires character based input TYPE: line 1, file:Z"}},
      {"binary on output", "N TYPE LONG", kDestination, 0, {}},
      {"list and key",
       "K TYPE TEXT SEP , KEY 1",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: VIEWKEY and SEPARATOR/SEP are mutually exclusive: line 1, file:Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"comments and blank lines",
       "// comment\n; skipped\n\n   A TYPE TEXT // trailing\n",
       {},
       0,
       {}},
      {"nothing", "", {}, TWFAIL_EXTERNAL, {"ERROR: No valid ZID file entries"}},
      {"marker without embedded data",
       "A TYPE TEXT\n*\nB TYPE TEXT",
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: Embedded data indicator detected on line 2, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"embedded data without a marker",
       "A TYPE TEXT",
       {Direction::kSource, 0, true},
       TWFAIL_EXTERNAL,
       {"ERROR: Embedded data delimiter not found"}},
      {"line too long",
       "A TYPE TEXT VALUE " + std::string(40000, 'v'),
       {},
       TWFAIL_EXTERNAL,
       {"ERROR: ZID line exceeds maximum length (32765), on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
      {"line grown too long",
       "A TYPE TEXT VALUE BIGBIGBIG",
       {Direction::kSource, 0, false, "BIG=" + std::string(12000, 'b')},
       TWFAIL_EXTERNAL,
       {"ERROR: ZID line exceeds maximum length (32765), on line 1, file: Z",
        "ERROR: 1 errors in ZID file entries"}},
  };
  for (const auto& c : cases) {
    Compiled got = Compile(c.text, c.setup);
    EXPECT_EQ(got.status, c.status) << c.name;
    EXPECT_EQ(got.lines, c.lines) << c.name;
    if (c.status != 0) {
      EXPECT_TRUE(got.zid.columns.empty()) << c.name;
    }
  }
}

TEST(FlatrecZidGrammar, TheTwentySixthFaultyLineEndsTheDescription) {
  std::string text;
  for (int i = 0; i < 25; ++i) text += "X BOGUS\n";
  // The 25th failure on the last line: nothing follows, so nothing is terminated.
  Compiled got = Compile(text);
  EXPECT_EQ(got.lines.size(), 26u);
  EXPECT_EQ(got.lines.back(), "ERROR: 25 errors in ZID file entries");
}

TEST(FlatrecZidGrammar, AMaximumOf1024Fields) {
  std::string text;
  for (int i = 0; i < 1025; ++i) text += "F" + std::to_string(i) + " TYPE TEXT\n";
  Compiled got = Compile(text);
  EXPECT_EQ(got.status, TWFAIL_EXTERNAL);
  ASSERT_EQ(got.lines.size(), 2u);
  EXPECT_EQ(got.lines[0], "ERROR: Exceeded maximum number of fields: 1024, on line 1025, file: Z");
}

TEST(FlatrecZidColumns, PositionsFollowTheRunningPosition) {
  Compiled got = Compile(
      "A TYPE TEXT WIDTH 9\n"
      "CITY TYPE TEXT WIDTH 20\n"
      "FIXED TYPE TEXT START 40 END 44\n"
      "AFTER TYPE TEXT LENGTH +3\n"
      "TERM TYPE TEXT WIDTH 2 UNTIL ,\n"
      "NEXT TYPE TEXT WIDTH 1\n"
      "FREE TYPE TEXT\n"
      "REF TYPE TEXT START @city\n");
  ASSERT_EQ(got.status, 0u) << ::testing::PrintToString(got.lines);
  const std::vector<Column>& c = got.zid.columns;
  ASSERT_EQ(c.size(), 8u);
  EXPECT_EQ(c[0].start, 1);
  EXPECT_EQ(c[1].start, 10);
  EXPECT_EQ(c[1].width, 20u);
  EXPECT_EQ(c[2].start, 40);
  EXPECT_EQ(c[2].width, 5u);
  EXPECT_EQ(c[3].start, 45);
  EXPECT_EQ(c[4].start, 0);  // terminated columns get no START, the position still moves
  EXPECT_EQ(c[5].start, 50);
  EXPECT_EQ(c[6].start, 0);
  EXPECT_EQ(c[7].startRef, 1);
}

TEST(FlatrecZidColumns, OptionsFillTheDescriptor) {
  Compiled got = Compile(
      "NUM: TYPE 'number.2' TRIM UNSIGNED\n"
      "TXT TYPE \"TEXT\" WIDTH '5' QUOTES NOQUOTES QUOTES VALUE \"a b\"\n"
      "LST TYPE TEXT SEP \\t UNTIL \\r\\n\n"
      "ANY TYPE datetime FORMAT DD.MM.YY UNTILLIST ;,\n"
      "CUR TYPE CURRENCY.3 DELIMITER |\n"
      "RCH TYPE RICHTEXT.2 VKEY 7\n"
      "@NAMED TYPE SHORT START 1 EBCDIC\n",
      {Direction::kSource, 8});
  ASSERT_EQ(got.status, 0u) << ::testing::PrintToString(got.lines);
  const std::vector<Column>& c = got.zid.columns;
  ASSERT_EQ(c.size(), 7u);
  EXPECT_EQ(c[0].name, "NUM");
  EXPECT_EQ(c[0].typeWord, "NUMBER");
  EXPECT_EQ(c[0].letter, 'N');
  EXPECT_EQ(c[0].engineType, static_cast<uint32_t>(TWTYPE_FLOAT));
  EXPECT_EQ(c[0].precision, 2);
  EXPECT_TRUE(c[0].trim && c[0].isUnsigned);
  EXPECT_EQ(c[1].width, 5u);
  EXPECT_TRUE(c[1].quotes);
  EXPECT_EQ(c[1].value, "a b");
  EXPECT_EQ(c[1].textSize, 100u);
  EXPECT_EQ(c[2].sep, "\t");
  EXPECT_EQ(c[2].term, "\r\n");
  EXPECT_EQ(c[2].termKind, TermKind::kUntil);
  EXPECT_EQ(c[3].typeWord, "DATETIME");
  EXPECT_EQ(c[3].format, "DD.MM.YY");
  EXPECT_EQ(c[3].termKind, TermKind::kUntilList);
  EXPECT_EQ(c[4].engineType, static_cast<uint32_t>(TWTYPE_CURRENCY));
  EXPECT_EQ(c[4].letter, 'T');
  EXPECT_EQ(c[4].precision, 3);
  EXPECT_EQ(c[4].termKind, TermKind::kDelim);
  EXPECT_EQ(c[5].typeWord, "RICH");
  EXPECT_EQ(c[5].precision, kNoPrecision);  // RICH allows no precision
  EXPECT_EQ(c[5].keyKind, 2);
  EXPECT_EQ(c[5].keySeq, 7u);
  EXPECT_EQ(c[6].name, "NAMED");
  EXPECT_EQ(c[6].width, 2u);
  EXPECT_TRUE(c[6].binary);
}

TEST(FlatrecZidColumns, CheckForQuotesIsEveryFieldsDefault) {
  LinkSetup setup;
  setup.quotes = true;
  Compiled got = Compile("A TYPE TEXT\nB TYPE TEXT NOQUOTES", setup);
  ASSERT_EQ(got.zid.columns.size(), 2u);
  EXPECT_TRUE(got.zid.columns[0].quotes);
  EXPECT_FALSE(got.zid.columns[1].quotes);
}

TEST(FlatrecZidColumns, ReplacementAppliesToEveryLine) {
  LinkSetup setup;
  // Names are found anywhere in a line, so they are chosen not to occur in keywords.
  setup.pairs = "W_=5\r\nKIND = \"TEXT\"";
  Compiled got = Compile("A TYPE KIND WIDTH W_", setup);
  ASSERT_EQ(got.status, 0u) << ::testing::PrintToString(got.lines);
  EXPECT_EQ(got.zid.columns[0].width, 5u);
  EXPECT_EQ(got.zid.columns[0].typeWord, "TEXT");
}

TEST(FlatrecZidColumns, EmbeddedDataFollowsTheMarker) {
  LinkSetup setup;
  setup.embedded = true;
  setup.pairs = "%X%=ex";
  Compiled got = Compile("A TYPE TEXT\r\n* data\r\n%X%1\r\n// not a comment here\r\nlast", setup);
  ASSERT_EQ(got.status, 0u) << ::testing::PrintToString(got.lines);
  EXPECT_TRUE(got.zid.markerFound);
  EXPECT_EQ(got.zid.embedded, "ex1\n// not a comment here\nlast");
}

TEST(FlatrecZidColumns, KeysAreSummed) {
  Compiled got = Compile("A TYPE TEXT START 1 WIDTH 4 KEY 1\nB TYPE TEXT START 5 WIDTH 2 KEY 2");
  ASSERT_EQ(got.status, 0u);
  EXPECT_EQ(got.zid.keys.kind, 1);
  EXPECT_EQ(got.zid.keys.highestSeq, 2u);
  EXPECT_EQ(got.zid.keys.lastByte, 6);
  EXPECT_EQ(got.zid.keys.totalWidth, 6);
}

TEST(FlatrecZidColumns, TokensAreTracedWhenAsked) {
  Tracer tracer;
  tracer.set_bits(Tracer::kNoStdout | Tracer::kTokens);
  std::vector<std::string> lines;
  tracer.set_capture(&lines);
  Replacer none;
  ZidOptions options;
  options.sourceName = "Z";
  Zid zid;
  ASSERT_EQ(CompileZid("A TYPE TEXT", options, none, tracer, &zid), 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{"Next token is A", "Next token is TYPE",
                                             "Next token is TEXT", "Next token is NULL"}));
}

TEST(FlatrecZidColumns, EchoShowsEachLine) {
  Tracer tracer;
  tracer.set_bits(Tracer::kNoStdout);
  std::vector<std::string> lines;
  tracer.set_capture(&lines);
  Replacer none;
  ZidOptions options;
  options.echo = true;
  Zid zid;
  const std::string longLine = "B TYPE TEXT VALUE " + std::string(60, 'x');
  ASSERT_EQ(CompileZid("A TYPE TEXT\n" + longLine, options, none, tracer, &zid), 0u);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "line    1 - A TYPE TEXT");
  EXPECT_EQ(lines[1], "line    2 - " + longLine.substr(0, 72) + "...");
}

}  // namespace
}  // namespace flatrec
