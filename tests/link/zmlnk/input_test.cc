// Record input through the connection layer: files of bytes and the field values each record
// gives, framing by the link's properties, skipping and bypassing, failures and limits.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "flatrec_test_util.h"

namespace flatrec_test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using flatrec::Token;

struct InputCase {
  const char* name;
  std::string zid;
  std::string data;
  Rows rows;
  std::string delim = "";
  int32_t fixed = 0;
  std::string filetype = "TEXT";
};

TEST(FlatrecInput, RecordsAndTheirFields) {
  const InputCase cases[] = {
      {"delimited columns",
       "NAME TYPE TEXT DELIM ,\nAGE TYPE NUMBER DELIM ,\nCITY TYPE TEXT UNTIL ,",
       "Ann,42,Oslo\nBob,7,Rome\n",
       {{"Ann", "42", "Oslo"}, {"Bob", "7", "Rome"}}},
      {"CRLF lines", "A TYPE TEXT", "one\r\ntwo\r\n", {{"one"}, {"two"}}},
      {"fixed columns",
       "A TYPE TEXT START 1 WIDTH 5\nB TYPE NUMBER.2 START 6 WIDTH 5",
       "abc  12345\nx    00007\n",
       {{"abc  ", "123.45"}, {"x    ", "0.07"}}},
      {"a width beyond the record is cut at its end",
       "A TYPE TEXT START 3 WIDTH 50",
       "short\n",
       {{"ort"}}},
      {"a start beyond the record leaves the field null",
       "A TYPE TEXT START 1 WIDTH 2\nB TYPE TEXT START 20 WIDTH 2",
       "abcd\n",
       {{"ab", "<null>"}}},
      {"quotes",
       "A TYPE TEXT QUOTES DELIM ,\nB TYPE TEXT UNTIL ,",
       "\"x,y\",z\n'q',r\n",
       {{"x,y", "z"}, {"q", "r"}}},
      {"a missing DELIM is null, UNTIL takes the rest",
       "A TYPE TEXT DELIM ;\nB TYPE TEXT DELIM ;\nC TYPE TEXT UNTIL ;",
       "a;b;c;d\na;b\n",
       {{"a", "b", "c"}, {"a", "<null>", "b"}}},
      {"UNTILLIST", "A TYPE TEXT UNTILLIST ;,\nB TYPE TEXT", "ab,cd\n", {{"ab", "cd"}}},
      {"multi-byte terminator", "A TYPE TEXT DELIM <>\nB TYPE TEXT", "x<y<>z\n", {{"x<y", "z"}}},
      {"TRIM and squeezing of numbers",
       "A TYPE TEXT DELIM | TRIM\nB TYPE NUMBER",
       "  a   b  |  12   \n",
       {{"a b", "12"}}},
      {"implied decimals padded",
       "A TYPE NUMBER.3 DELIM ,\nB TYPE NUMBER.2",
       "5,-7\n",
       {{"0.005", "-0.07"}}},
      {"an explicit point is kept", "A TYPE NUMBER.2", "12.5\n", {{"12.5"}}},
      {"empty values are null",
       "A TYPE TEXT DELIM ,\nB TYPE NUMBER DELIM ,\nC TYPE DATE UNTIL ,",
       ",  ,\n",
       {{"<null>", "<null>", "<null>"}}},
      {"placeholders take positions only",
       "(skip) DELIM ,\nA TYPE TEXT DELIM ,\n(more) DELIM -\nB TYPE TEXT",
       "x,y,-z\n",
       {{"y", "z"}}},
      {"START from another column",
       "A TYPE TEXT DELIM :\nB TYPE TEXT START @A WIDTH 2",
       "key:val\n",
       {{"key", "ke"}}},
      {"a delimited file",
       "A TYPE TEXT DELIM ,\nB TYPE TEXT",
       "1,2#3,4#",
       {{"1", "2"}, {"3", "4"}},
       "#"},
      {"escapes in the delimiter", "A TYPE TEXT", "r1\x1Er2\x1E", {{"r1"}, {"r2"}}, "\\0x1E"},
      {"fixed records with a short last block",
       "A TYPE TEXT START 1 WIDTH 2\nB TYPE TEXT",
       "aabbccddee",
       {{"aa", "bb"}, {"cc", "dd"}, {"ee", "<null>"}},
       "",
       4},
      {"EBCDIC",
       "T TYPE TEXT START 1 WIDTH 3 EBCDIC\nN TYPE NUMBER START 4 WIDTH 3 EBCDIC",
       "\xC1\xC2\xF1\xF1\xF2\xD3",
       {{"AB1", "-123"}},
       "",
       6,
       "BINARY"},
      {"binary numbers",
       "S TYPE SHORT START 1 UNSIGNED\nL TYPE LONG START 3\nP TYPE PACKED START 7 WIDTH 3\n"
       "B TYPE BINARY.2 START 10 WIDTH 2",
       std::string("\xFF\xFF\xFE\xFF\xFF\xFF\x12\x34\x5D\xFF\xFE", 11),
       {{"65535", "-2", "-12345", "-0.02"}},
       "",
       11,
       "BINARY"},
      // A big-endian field that the record's end cuts keeps the weight of its bytes.
      {"a binary field cut by the record's end",
       "A TYPE TEXT START 1 WIDTH 1\nB TYPE BINARY START 2 WIDTH 4",
       std::string("x\x01\x02", 3),
       {{"x", "16908288"}},
       "",
       3,
       "BINARY"},
      // A binary file keeps its carriage returns, but its delimiter is no data.
      {"a delimited binary file",
       "A TYPE TEXT DELIM ,\nB TYPE TEXT",
       "1,2\r#3,4#",
       {{"1", "2\r"}, {"3", "4"}},
       "#",
       0,
       "BINARY"},
      {"a binary file with a multi-byte delimiter",
       "A TYPE TEXT DELIM ,\nB TYPE TEXT",
       "1,2\r\n3,4\r\n",
       {{"1", "2"}, {"3", "4"}},
       "\\r\\n",
       0,
       "BINARY"},
      {"a delimited file of another type",
       "A TYPE TEXT",
       "r1;r2;",
       {{"r1"}, {"r2"}},
       ";",
       0,
       "OTHER"},
      {"embedded data",
       "A TYPE TEXT DELIM ,\nB TYPE TEXT\n*\nx,y\nz,w\n",
       "",
       {{"x", "y"}, {"z", "w"}}},
  };
  for (const InputCase& c : cases) {
    Env env;
    Link link;
    const bool embedded = c.data.empty();
    if (!embedded) twtest::WriteFile(env / "in.txt", c.data);
    link.Str(TWTOKEN_DATABASE, embedded ? "*" : env / "in.txt")
        .Str(flatrec::kZid, c.zid)
        .Str(flatrec::kRecordDelim, c.delim)
        .Str(flatrec::kFiletype, c.filetype)
        .Num(flatrec::kFixedRecSize, c.fixed);
    ASSERT_EQ(link.c.Connect(), TWSUCCESS) << c.name;
    uint32_t last = 0;
    EXPECT_EQ(FetchAll(link.c, &last), c.rows) << c.name;
    EXPECT_EQ(last, TWFAIL_END_OF_DATA) << c.name;
    EXPECT_EQ(link.c.Disconnect(0), TWSUCCESS);
  }
}

class FlatrecInputTest : public ::testing::Test {
 protected:
  Connection& Open(const std::string& zid, const std::string& data) {
    twtest::WriteFile(env_ / "in.txt", data);
    link_.Str(TWTOKEN_DATABASE, env_ / "in.txt").Str(flatrec::kZid, zid);
    link_.Str(flatrec::kLog, env_ / "trace.log");
    EXPECT_EQ(link_.c.Connect(), TWSUCCESS);
    return link_.c;
  }
  std::vector<std::string> Trace() { return LogLines(env_ / "trace.log"); }
  Env env_;
  Link link_;
};

TEST_F(FlatrecInputTest, ListsBecomeListStreams) {
  Connection& c = Open(
      "T TYPE TEXT SEP , DELIM |\nN TYPE NUMBER SEP ; DELIM |\nD TYPE DATE SEP , FORMAT YYYYMMDD",
      "a,bb,,c|1;2.5|19961105,19970101\n");
  List list(1);
  uint32_t n = 0;
  ASSERT_EQ(c.Execute(nullptr, list.get(), &n), TWSUCCESS);
  n = 0;
  ASSERT_EQ(c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  auto stream = [&](uint32_t i) {
    TWStream* s = nullptr;
    EXPECT_EQ(TWFieldGetBuffer(list.Field(i), 1, reinterpret_cast<void**>(&s), nullptr), TWSUCCESS);
    return s;
  };
  TWStream* texts = stream(1);
  EXPECT_EQ(texts->format, static_cast<uint32_t>(TWSTREAMFMT_TEXT_LIST));
  ASSERT_EQ(TWTextListGetCount(texts), 3u);
  Text entry;
  ASSERT_EQ(TWTextListFetch(texts, 2, TWSTREAMFMT_NATIVE, entry.get(), nullptr, nullptr),
            TWSUCCESS);
  EXPECT_EQ(entry.str(), "bb");
  uint32_t values = 0;
  ASSERT_EQ(TWNumberListGetCount(stream(2), &values, nullptr), TWSUCCESS);
  EXPECT_EQ(values, 2u);
  double second = 0;
  ASSERT_EQ(TWNumberListGetValue(stream(2), 2, &second), TWSUCCESS);
  EXPECT_EQ(second, 2.5);
  ASSERT_EQ(TWDatetimeListGetCount(stream(3), &values, nullptr), TWSUCCESS);
  EXPECT_EQ(values, 2u);
}

TEST_F(FlatrecInputTest, ValuesInTypedFields) {
  Connection& c = Open(
      "N TYPE NUMBER DELIM ,\nC TYPE CURRENCY.2 DELIM ,\nD TYPE DATE FORMAT DD.MM.YYYY DELIM ,\n"
      "T TYPE TEXT",
      "-12.75,12345,05.11.1996,7\n");
  List list(1);
  TWFIELD asInt = list.Add("N", TWTYPE_INT);
  TWFIELD asCurrency = list.Add("C", TWTYPE_CURRENCY);
  TWFIELD asDate = list.Add("D", TWTYPE_DATETIME);
  TWFIELD textAsFloat = list.Add("T", TWTYPE_FLOAT);
  uint32_t n = 0;
  ASSERT_EQ(c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  int32_t i = 0;
  ASSERT_EQ(TWFieldGetInt(asInt, 1, &i, nullptr), TWSUCCESS);
  EXPECT_EQ(i, -12);  // truncated toward zero
  TWCurrency cur{};
  ASSERT_EQ(TWFieldGetCurrency(asCurrency, 1, &cur, nullptr), TWSUCCESS);
  EXPECT_EQ(cur.value, 1234500);
  TWDatetime d{};
  ASSERT_EQ(TWFieldGetDatetime(asDate, 1, &d, nullptr), TWSUCCESS);
  TWDatetimeParts p{};
  ASSERT_EQ(TWDatetimeGetParts(&d, TWPARTSF_LOCAL, &p), TWSUCCESS);
  EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 19961105);
  double f = -1;
  ASSERT_EQ(TWFieldGetFloat(textAsFloat, 1, &f, nullptr), TWSUCCESS);
  EXPECT_EQ(f, 0.0);  // a text column gives no number
}

TEST_F(FlatrecInputTest, IntegersOutOfRangeOverflow) {
  Connection& c = Open("N TYPE NUMBER", "3000000000\n-3000000000\n");
  List list(1);
  TWFIELD field = list.Add("N", TWTYPE_INT);
  uint32_t n = 0;
  EXPECT_EQ(c.Fetch(list.get(), 1, 1, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_OVERFLOW);
  ASSERT_EQ(TWFieldSetFlags(field, TWFIELDF_TRUNC_DATA), TWSUCCESS);
  ASSERT_EQ(c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  int32_t v = 0;
  ASSERT_EQ(TWFieldGetInt(field, 1, &v, nullptr), TWSUCCESS);
  EXPECT_EQ(v, INT32_MIN);
}

// NaN and the infinities (and text such as 1e400 that reads as one) lie beyond the range of
// every number field: refused, or with TWFIELDF_TRUNC_DATA the nearest finite value.
TEST_F(FlatrecInputTest, NumbersBeyondEveryRangeAreOutOfRange) {
  const char* texts[] = {"nan", "inf", "-inf", "1e400", "-1e400", "-Infinity"};
  std::string data;
  for (const char* t : texts) data += std::string(t) + "\n";
  Connection& c = Open("N TYPE NUMBER", data);
  const double most = std::numeric_limits<double>::max();
  const struct {
    uint32_t type;
    uint32_t flags;
    const char* clampedUp;  // the value of a positive one with TRUNC_DATA (null: unchecked)
  } targets[] = {
      {TWTYPE_FLOAT, 0, nullptr},
      {TWTYPE_INT, 0, nullptr},
      {TWTYPE_CURRENCY, 0, nullptr},
      {TWTYPE_NUMERIC, 0, nullptr},
      {TWTYPE_FLOAT, TWFIELDF_TRUNC_DATA, nullptr},
      {TWTYPE_CURRENCY, TWFIELDF_TRUNC_DATA, "922337203685477.5807"},
  };
  for (const auto& t : targets) {
    SCOPED_TRACE(testing::Message() << "type " << t.type << " flags " << t.flags);
    ASSERT_EQ(c.Action(TWACTION_RESET), TWSUCCESS);
    List list(1);
    TWFIELD field = list.Add("N", t.type);
    ASSERT_EQ(TWFieldSetFlags(field, t.flags), TWSUCCESS);
    for (const char* text : texts) {
      SCOPED_TRACE(text);
      uint32_t n = 0;
      const bool isNan = std::string(text) == "nan";
      const bool clamps = (t.flags & TWFIELDF_TRUNC_DATA) != 0 && !isNan;
      EXPECT_EQ(c.Fetch(list.get(), 1, 1, &n), clamps ? TWSUCCESS : TWFAIL_OVERFLOW);
      EXPECT_EQ(n, clamps ? 1u : 0u);
      if (!clamps) continue;
      const bool up = text[0] != '-';
      if (t.type == TWTYPE_FLOAT) {
        double v = 0;
        ASSERT_EQ(TWFieldGetFloat(field, 1, &v, nullptr), TWSUCCESS);
        EXPECT_EQ(v, up ? most : -most);
      } else if (up) {
        EXPECT_EQ(list.Value(1, 1), t.clampedUp);
      }
    }
  }
  // A list has no flags to clamp by: one such value refuses the whole list.
  Link lists;
  twtest::WriteFile(env_ / "lists.txt", "1;nan\n2;1e400\n3;4\n");
  lists.Str(TWTOKEN_DATABASE, env_ / "lists.txt").Str(flatrec::kZid, "N TYPE NUMBER SEP ;");
  ASSERT_EQ(lists.c.Connect(), TWSUCCESS);
  List list(1);
  list.Add("N", TWTYPE_BINARY);
  uint32_t n = 0;
  EXPECT_EQ(lists.c.Fetch(list.get(), 1, 1, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(lists.c.Fetch(list.get(), 1, 1, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(lists.c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
}

TEST_F(FlatrecInputTest, AFailingColumnIsReportedWhenALaterOneSucceeds) {
  Connection& c = Open("D TYPE DATE FORMAT DD.MM.YYYY DELIM ,\nT TYPE TEXT\n",
                       "31.02.1996,ok\n01.02.1996,fine\n");
  List list(1);
  uint32_t n = 0;
  ASSERT_EQ(c.Execute(nullptr, list.get(), &n), TWSUCCESS);
  EXPECT_EQ(c.Fetch(list.get(), 1, 1, &n), TWFAIL_INVALID_DATETIME);
  twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, TWFAIL_INVALID_DATETIME);
  EXPECT_NE(last.text.find("'D'"), std::string::npos) << last.text;
  // The failed record was consumed; the next one follows.
  ASSERT_EQ(c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(list.Value(2, 1), "fine");
}

TEST_F(FlatrecInputTest, AColumnWithoutTypeCannotBeRead) {
  Connection& c = Open("A DELIM ,\nB TYPE TEXT", "x,y\n");
  List list(1);
  list.Add("A", TWTYPE_TEXT);
  list.Add("B", TWTYPE_TEXT);
  uint32_t n = 0;
  EXPECT_EQ(c.Fetch(list.get(), 1, 1, &n), TWFAIL_INVALID_TYPE);
  EXPECT_NE(twtest::LogLast().text.find("'A'"), std::string::npos);
}

TEST_F(FlatrecInputTest, FieldsAreMatchedByNameOrByPosition) {
  {
    Connection& c = Open("AMOUNT TYPE NUMBER DELIM ,\n(gap) DELIM ,\nCITY TYPE TEXT",
                         "5,x,Oslo\n5,x,Rome\n6,y,Bonn\n");
    ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 1), TWSUCCESS);
    List list(1);
    list.Add("city", TWTYPE_TEXT);
    list.Add("Amount", TWTYPE_FLOAT);
    uint32_t n = 0;
    ASSERT_EQ(c.Fetch(list.get(), 1, 1, &n), TWSUCCESS);
    EXPECT_EQ(list.Value(1, 1), "Oslo");
    EXPECT_EQ(list.Value(2, 1), "5");
    List unknown(1);
    unknown.Add("Nowhere", TWTYPE_TEXT);
    EXPECT_EQ(c.Fetch(unknown.get(), 1, 1, &n), TWFAIL_INVALID_FIELDNAME);
    EXPECT_NE(twtest::LogLast().text.find("Nowhere"), std::string::npos);
    ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 0), TWSUCCESS);
    List three(1);
    three.Add("a", TWTYPE_TEXT);
    three.Add("b", TWTYPE_TEXT);
    three.Add("c", TWTYPE_TEXT);
    EXPECT_EQ(c.Fetch(three.get(), 1, 1, &n), TWFAIL_FIELD_COUNT_MISMATCH);
    EXPECT_EQ(twtest::LogLast().status, TWFAIL_FIELD_COUNT_MISMATCH);
  }
}

TEST_F(FlatrecInputTest, BlocksAndRecordCounts) {
  Connection& c = Open("A TYPE TEXT", "1\n2\n3\n4\n5\n");
  List list(3);
  list.Add("A", TWTYPE_TEXT);
  uint32_t n = 0;
  ASSERT_EQ(c.Fetch(list.get(), 1, 3, &n), TWSUCCESS);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(list.Value(1, 3), "3");
  n = 0;
  EXPECT_EQ(c.Fetch(list.get(), 2, 0, &n), TWSUCCESS);  // 0 means one record
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(list.Value(1, 2), "4");
  n = 0;
  EXPECT_EQ(c.Fetch(list.get(), 1, static_cast<uint32_t>(-4), &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  n = 0;
  EXPECT_EQ(c.Fetch(list.get(), 1, 3, &n), TWFAIL_END_OF_DATA);
  EXPECT_EQ(n, 0u);
  // Slots the list does not have are refused before a record is read.
  EXPECT_EQ(c.Fetch(list.get(), 2, 3, &n), TWFAIL_RECORD_COUNT);
  EXPECT_EQ(c.Fetch(list.get(), 0, 1, &n), TWFAIL_ZERO_INDEX);
  EXPECT_EQ(c.Fetch(TWNULLHANDLE, 1, 1, &n), TWFAIL_INVALID_FIELDLIST);
}

TEST_F(FlatrecInputTest, MaxRecCountEndsTheData) {
  link_.Num(flatrec::kMaxRecCount, 2);
  Connection& c = Open("A TYPE TEXT", "1\n2\n3\n");
  EXPECT_EQ(FetchAll(c).size(), 2u);
}

TEST_F(FlatrecInputTest, ALongRecordIsCutWithAWarningAndTheNextOneFollows) {
  link_.Num(flatrec::kMaxRecSize, 8).Str(flatrec::kRecordDelim, "|");
  Connection& c = Open("A TYPE TEXT", "0123456789ABCDEF|next|");
  EXPECT_EQ(FetchAll(c), (Rows{{"01234567"}, {"next"}}));
  EXPECT_EQ(Trace(), std::vector<std::string>{
                         "WARNING: Truncating INPUT record 1, length (16) exceeds maximum (8)"});
}

TEST_F(FlatrecInputTest, ALongLineIsCutAndItsRestSkipped) {
  link_.Num(flatrec::kMaxRecSize, 8);
  Connection& c = Open("A TYPE TEXT", "0123456789\nok\n");
  // Lines fit min(limit - 1, 0x7FFF) bytes with their line feed and a NUL: 5 characters.
  EXPECT_EQ(FetchAll(c), (Rows{{"01234"}, {"ok"}}));
  EXPECT_EQ(Trace(), std::vector<std::string>{
                         "WARNING: Truncating INPUT record 1, length (10) exceeds maximum (5)"});
}

TEST_F(FlatrecInputTest, SkippedAndBypassedRecords) {
  link_.Num(flatrec::kSkipRecords, 2).Num(flatrec::kMinRecSize, 5);
  Connection& c =
      Open("A TYPE TEXT", "first line\nsecond line\nlong enough\nshort\ntiny\nalso long\n");
  EXPECT_EQ(FetchAll(c), (Rows{{"long enough"}, {"short"}, {"also long"}}));
  EXPECT_EQ(Trace(), std::vector<std::string>{
                         "WARNING: Bypassing INPUT record 3, length (4) less than minimum (5)"});
  EXPECT_EQ(GetInt(c, flatrec::kSkipRecords), 0);
  // A reconnect skips nothing: SkipRecords was used up.
  ASSERT_EQ(c.Action(TWACTION_RESET), TWSUCCESS);
  EXPECT_EQ(FetchAll(c).front(), std::vector<std::string>{"first line"});
}

TEST_F(FlatrecInputTest, InputRecordsAreTracedWhenAsked) {
  link_.Num(flatrec::kTrace, 0x201);
  Connection& c = Open("A TYPE TEXT", "hey\n");
  FetchAll(c);
  std::vector<std::string> trace = Trace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace[0], "Input Record:");
  EXPECT_EQ(trace[2].substr(0, 11), "0000:686579");
}

}  // namespace
}  // namespace flatrec_test
