// Record output through the connection layer: field values and the exact bytes of the file
// they give, headers and trailers, appending and truncating, overflow, and write failures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "flatrec_test_util.h"
#include "tw/coding.h"

namespace flatrec_test {
namespace {

struct Value {
  uint32_t type;
  std::string text;  // parsed by the engine into type; "<null>" leaves the value null
};
using Record = std::vector<Value>;

struct OutputCase {
  const char* name;
  std::string zid;
  std::vector<Record> records;
  std::string file;
  std::string filetype = "TEXT";
  std::string delim = "";
};

Value T(std::string s) {
  return {TWTYPE_TEXT, std::move(s)};
}
Value F(std::string s) {
  return {TWTYPE_FLOAT, std::move(s)};
}
Value I(std::string s) {
  return {TWTYPE_INT, std::move(s)};
}
Value D(std::string s) {
  return {TWTYPE_DATETIME, std::move(s)};
}
Value C(std::string s) {
  return {TWTYPE_CURRENCY, std::move(s)};
}
Value N(std::string s) {
  return {TWTYPE_NUMERIC, std::move(s)};
}

// A list whose fields take the types of the first record, holding every record.
void Fill(List& list, const std::vector<Record>& records) {
  for (size_t i = 0; i < records[0].size(); ++i)
    list.Add("F" + std::to_string(i + 1), records[0][i].type);
  for (size_t r = 0; r < records.size(); ++r)
    for (size_t i = 0; i < records[r].size(); ++i)
      if (records[r][i].text != "<null>")
        SetValue(list.Field(static_cast<uint32_t>(i + 1)), static_cast<uint32_t>(r + 1),
                 records[r][i].text);
}

TEST(FlatrecOutput, FieldValuesAndTheBytesTheyGive) {
  const OutputCase cases[] = {
      {"columns at their positions",
       "A TYPE TEXT START 1 WIDTH 5\nB TYPE TEXT START 8 WIDTH 3",
       {{T("ab"), T("xyz")}, {T("c"), T("d")}},
       "ab     xyz\nc      d"},
      {"right-justified and cut",
       "A TYPE TEXT START 1 WIDTH 5 RIGHT\nB TYPE TEXT START 6 WIDTH 5",
       {{T("ab"), T("abcdefg")}, {T("abcdefg"), T("ab")}},
       "   ababcde\ncdefgab"},
      // Terminator bytes take no part in the running position: B's START is 3.
      {"terminators and running positions",
       "A TYPE TEXT WIDTH 2 DELIM |\nB TYPE TEXT WIDTH 2",
       {{T("x"), T("yz")}},
       "x|yz"},
      {"numbers",
       "A TYPE NUMBER DELIM ,\nB TYPE NUMBER.2 WIDTH 8 ZEROFILL DELIM ,\nC TYPE NUMBER.1 UNSIGNED",
       {{F("3.7"), F("3.7"), F("-12.5")}},
       "4,00003.70,12.5"},
      {"a number wider than its column keeps its rightmost digits",
       "A TYPE NUMBER WIDTH 3",
       {{F("12345")}},
       "345"},
      // Every digit of the value: a double would write 922337203685477.6250 and lose the
      // last digits of the numerics.
      {"currency and numeric keep all their digits",
       "A TYPE CURRENCY.4 DELIM ,\nB TYPE NUMERIC DELIM ,\nC TYPE NUMERIC.38",
       {{C("922337203685477.5807"), N("12345678901234567890123456789012345678"),
         N("0.12345678901234567890123456789012345678")},
        {C("-922337203685477.5808"), N("-99999999999999999999999999999999999999"),
         N("-0.00000000000000000000000000000000000001")}},
       "922337203685477.5807,12345678901234567890123456789012345678,"
       "0.12345678901234567890123456789012345678\n"
       "-922337203685477.5808,-99999999999999999999999999999999999999,"
       "-0.00000000000000000000000000000000000001"},
      // Rounded to the column's places half to even, as a double that holds the value is.
      {"currency and numeric rounded to their column",
       "A TYPE NUMBER DELIM ,\nB TYPE NUMBER.2 DELIM ,\nC TYPE NUMBER.1 WIDTH 8 ZEROFILL DELIM ,\n"
       "D TYPE NUMBER.2 UNSIGNED DELIM ,\nE TYPE NUMBER",
       {{C("2.5"), C("0.125"), N("-12.5"), N("-7.255"), N("99999999999999999999.5")},
        {C("3.5"), C("0.135"), N("0.05"), N("-0.001"), N("-0.4")}},
       "2,0.12,-00012.5,7.26,100000000000000000000\n4,0.14,000000.0,0.00,-0"},
      {"negative integers are written signed",
       "A TYPE NUMBER DELIM ,\nB TYPE NUMBER",
       {{I("-5"), I("2147483647")}},
       "-5,2147483647"},
      {"nulls leave fill or zeros",
       "A TYPE TEXT WIDTH 4 DELIM |\nB TYPE NUMBER.1 WIDTH 5 ZEROFILL DELIM |",
       {{T("<null>"), F("<null>")}},
       "    |000.0|"},
      {"dates by format",
       "D TYPE DATE FORMAT \"DD N* YYYY hh:mm:ss AA\"",
       {{D("1996-11-05 14:07:09")}},
       "05 November 1996 14:07:09 PM"},
      {"dates without a format",
       "D TYPE DATE",
       {{D("1996-11-05 14:07:09")}},
       "11/05/1996 02:07:09 PM"},
      {"placeholders write their VALUE",
       "(open) VALUE [\nA TYPE TEXT\n(close) VALUE ]",
       {{T("x")}},
       "[x]"},
      {"quotes", "A TYPE TEXT QUOTES DELIM ,\nB TYPE TEXT", {{T("x"), T("y")}}, "\"x\",y"},
      {"binary files have no delimiter and fill with zeros",
       "A TYPE TEXT START 1\nB TYPE TEXT START 4",
       {{T("ab"), T("c")}, {T("d"), T("e")}},
       std::string("ab\0cd\0\0e", 8),
       "BINARY"},
      {"an own delimiter and fill",
       "A TYPE TEXT WIDTH 3 RIGHT",
       {{T("1")}, {T("22")}},
       "__1\r\n_22",
       "TEXT",
       "\\r\\n"},
      {"UTF-8 is never cut inside a character",
       "A TYPE TEXT WIDTH 2 DELIM |\nB TYPE TEXT WIDTH 2 RIGHT",
       {{T("a\xC3\xA9"), T("\xC3\xA9"
                           "b")}},
       "a| b"},
  };
  for (const OutputCase& c : cases) {
    Env env;
    Link link;
    link.Str(TWTOKEN_DATABASE, env / "out.txt")
        .Str(flatrec::kLinktype, "Destination")
        .Str(flatrec::kZid, c.zid)
        .Str(flatrec::kFiletype, c.filetype)
        .Str(flatrec::kRecordDelim, c.delim);
    if (std::string(c.name) == "an own delimiter and fill") link.Str(flatrec::kFillCharacter, "_");
    ASSERT_EQ(link.c.Connect(), TWSUCCESS) << c.name;
    List list(static_cast<uint32_t>(c.records.size()));
    Fill(list, c.records);
    uint32_t n = 0;
    EXPECT_EQ(link.c.Insert(list.get(), 1, static_cast<uint32_t>(c.records.size()), &n), TWSUCCESS)
        << c.name;
    EXPECT_EQ(n, c.records.size()) << c.name;
    ASSERT_EQ(link.c.Disconnect(0), TWSUCCESS) << c.name;
    EXPECT_EQ(twtest::ReadFile(env / "out.txt"), c.file) << c.name;
  }
}

class FlatrecOutputTest : public ::testing::Test {
 protected:
  Connection& Open(const std::string& zid, const std::string& file = "out.txt") {
    link_.Str(TWTOKEN_DATABASE, file.front() == '/' ? file : env_ / file)
        .Str(flatrec::kLinktype, "DESTINATION")
        .Str(flatrec::kZid, zid)
        .Str(flatrec::kLog, env_ / "trace.log");
    EXPECT_EQ(link_.c.Connect(), TWSUCCESS);
    return link_.c;
  }
  uint32_t InsertTexts(const std::vector<std::string>& values, uint32_t* count = nullptr) {
    List list(static_cast<uint32_t>(values.size()));
    TWFIELD f = list.Add("A", TWTYPE_TEXT);
    for (size_t i = 0; i < values.size(); ++i)
      if (values[i] != "<null>") SetValue(f, static_cast<uint32_t>(i + 1), values[i]);
    uint32_t n = 0;
    uint32_t st = link_.c.Insert(list.get(), 1, static_cast<uint32_t>(values.size()), &n);
    if (count != nullptr) *count = n;
    return st;
  }
  std::string File(const std::string& name = "out.txt") { return twtest::ReadFile(env_ / name); }
  Env env_;
  Link link_;
};

TEST_F(FlatrecOutputTest, ListsAreJoinedBySeparatorOrSemicolon) {
  Connection& c =
      Open("A TYPE TEXT SEP , DELIM |\nB TYPE TEXT DELIM |\nC TYPE NUMBER.1 SEP \"; \"");
  std::string numbers(4 + 16, '\0');
  tw::put_u16(numbers.data(), 2);
  tw::put_u64(numbers.data() + 4, std::bit_cast<uint64_t>(1.26));
  tw::put_u64(numbers.data() + 12, std::bit_cast<uint64_t>(-3.0));
  List list(1);
  const std::string lists[] = {twtest::TextList({"a", "bb", "c"}),
                               twtest::TextList({"a", "bb", "c"}), numbers};
  const uint32_t formats[] = {TWSTREAMFMT_TEXT_LIST, TWSTREAMFMT_TEXT_LIST,
                              TWSTREAMFMT_NUMBER_LIST};
  for (int i = 0; i < 3; ++i) {
    TWFIELD f = list.Add("L" + std::to_string(i), TWTYPE_BINARY);
    TWStream s{0, 0, formats[i], static_cast<uint32_t>(lists[i].size()),
               const_cast<char*>(lists[i].data())};
    ASSERT_EQ(TWFieldSetStream(f, 1, &s), TWSUCCESS);
  }
  uint32_t n = 0;
  ASSERT_EQ(c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "a,bb,c|a;bb;c|1.3; -3.0");
}

TEST_F(FlatrecOutputTest, TextOfAnotherCharacterSetIsConvertedFirst) {
  Connection& c = Open("A TYPE TEXT");
  List list(1);
  TWFIELD f = list.Add("A", TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFormatStream(f, 0, 0, TWSTREAMFMT_UNICODE), TWSUCCESS);
  SetValue(f, 1, "gr\xC3\xBC\xC3\x9F");  // stored as two-byte text
  TWStream* stored = nullptr;
  ASSERT_EQ(TWFieldGetBuffer(f, 1, reinterpret_cast<void**>(&stored), nullptr), TWSUCCESS);
  ASSERT_EQ(stored->format, static_cast<uint32_t>(TWSTREAMFMT_UNICODE));
  uint32_t n = 0;
  ASSERT_EQ(c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "gr\xC3\xBC\xC3\x9F");
}

TEST_F(FlatrecOutputTest, HeaderTrailerAndAppendingToAnExistingFile) {
  link_.Str(flatrec::kHeaderRec, "HDR\\n").Str(flatrec::kTrailerRec, "\\nTRL");
  Connection& c = Open("A TYPE TEXT");
  ASSERT_EQ(InsertTexts({"r1", "r2"}), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "HDR\nr1\nr2\nTRL");
  // Appending: the delimiter first, so that the header starts a record of its own.
  ASSERT_EQ(c.Connect(), TWSUCCESS);
  ASSERT_EQ(InsertTexts({"r3"}), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "HDR\nr1\nr2\nTRL\nHDR\nr3\nTRL");
}

TEST_F(FlatrecOutputTest, TruncateEmptiesTheFileAndWritesTheHeaderAgain) {
  link_.Str(flatrec::kHeaderRec, "H|");
  Connection& c = Open("A TYPE TEXT");
  ASSERT_EQ(InsertTexts({"old1", "old2"}), TWSUCCESS);
  ASSERT_EQ(c.Action(TWACTION_TRUNCATE), TWSUCCESS);
  ASSERT_EQ(InsertTexts({"new"}), TWSUCCESS);
  EXPECT_EQ(c.Action(TWACTION_COMMIT), TWSUCCESS);
  EXPECT_EQ(File(), "H|new");
  EXPECT_EQ(c.Action(TWACTION_ROLLBACK), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(c.Action(0), TWFAIL_UNAVAILABLE);
  uint32_t n = 0;
  EXPECT_EQ(c.Update(TWNULLHANDLE, 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(c.Fetch(TWNULLHANDLE, 1, 1, &n), TWFAIL_UNAVAILABLE);
}

TEST_F(FlatrecOutputTest, AFailedRecordLeavesNoDanglingDelimiter) {
  link_.Num(flatrec::kMaxRecSize, 8);
  Connection& c = Open("A TYPE TEXT");
  uint32_t n = 0;
  ASSERT_EQ(InsertTexts({"one"}, &n), TWSUCCESS);
  EXPECT_EQ(InsertTexts({"far too long"}, &n), TWFAIL_OVERFLOW);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_OVERFLOW);
  EXPECT_NE(twtest::LogLast().text.find("'A'"), std::string::npos);
  ASSERT_EQ(InsertTexts({"two"}, &n), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "one\ntwo");
}

TEST_F(FlatrecOutputTest, TruncationIsAllowedWhenTheFieldSaysSo) {
  link_.Num(flatrec::kMaxRecSize, 8);
  Connection& c = Open("A TYPE TEXT");
  List list(1);
  TWFIELD f = list.Add("A", TWTYPE_TEXT);
  ASSERT_EQ(TWFieldSetFlags(f, TWFIELDF_TRUNC_DATA), TWSUCCESS);
  SetValue(f, 1, "far too long");
  uint32_t n = 0;
  ASSERT_EQ(c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "far too");  // at most the limit less one byte
}

TEST_F(FlatrecOutputTest, ColumnsBeyondTheAreaOverflow) {
  link_.Num(flatrec::kMaxRecSize, 10);
  Connection& c = Open("A TYPE TEXT START 20\nB TYPE TEXT");
  EXPECT_EQ(InsertTexts({"x"}), TWFAIL_OVERFLOW);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "");
}

TEST_F(FlatrecOutputTest, RecordsLongerThan65535BytesAreWrittenWhole) {
  link_.Num(flatrec::kMaxRecSize, 300000);
  Connection& c = Open("A TYPE TEXT");
  const std::string big(200000, 'b');
  List list(1);
  TWFIELD f = list.Add("A", TWTYPE_TEXT);
  SetValue(f, 1, big);
  uint32_t n = 0;
  ASSERT_EQ(c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
  ASSERT_EQ(c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), big + "\n" + big);
}

TEST_F(FlatrecOutputTest, AFullDiskFailsTheTransferAndWritesNoTrailer) {
  link_.Str(flatrec::kTrailerRec, "END");
  Connection& c = Open("A TYPE TEXT", "/dev/full");
  uint32_t n = 0;
  EXPECT_EQ(InsertTexts({"lost"}, &n), TWFAIL_EXTERNAL);
  const twtest::LastEntry last = twtest::LogLast();
  EXPECT_EQ(last.status, TWFAIL_EXTERNAL);
  EXPECT_NE(last.text.find("ERROR: Unable to write file: /dev/full"), std::string::npos)
      << last.text;
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_EXTERNAL);
  EXPECT_EQ(InsertTexts({"more"}), TWFAIL_EXTERNAL);
  EXPECT_EQ(c.Disconnect(0), TWFAIL_EXTERNAL);
}

// Every write that would make a file longer than a limit fails part-way, as on a full file
// system; SIGXFSZ is ignored so that the write fails instead of ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &signal_);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::sigaction(SIGXFSZ, &signal_, nullptr);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  struct sigaction signal_ = {};
};

// Wherever a write stops, the file ends at the last whole record (or the header, or what it
// held before) and the failure is the caller's: records sent in one block and one by one.
TEST(FlatrecOutput, AWriteStoppedPartWayLeavesTheFileAtItsLastWholeRecord) {
  const std::vector<std::string> texts = {"a", "bb,b", "ccc ccc", "d\xC3\xA9ddddddd", "e"};
  const std::string before = "old";
  std::string whole = before + "\nHEAD\n";
  std::vector<size_t> ends = {before.size(), whole.size()};
  for (size_t i = 0; i < texts.size(); ++i) {
    whole += (i > 0 ? "\n" : "") + texts[i];
    ends.push_back(whole.size());
  }
  for (const bool oneBlock : {true, false}) {
    for (size_t limit = before.size(); limit < whole.size(); ++limit) {
      SCOPED_TRACE(testing::Message() << "limit " << limit << (oneBlock ? " one block" : ""));
      Env env;
      twtest::WriteFile(env / "out.txt", before);
      Link link;
      link.Str(TWTOKEN_DATABASE, env / "out.txt")
          .Str(flatrec::kLinktype, "DESTINATION")
          .Str(flatrec::kZid, "A TYPE TEXT")
          .Str(flatrec::kHeaderRec, "HEAD\\n")
          .Str(flatrec::kTrailerRec, "END");
      uint32_t status = TWSUCCESS;
      {
        FileSizeLimit full(limit);
        status = link.c.Connect();
        List list(static_cast<uint32_t>(texts.size()));
        TWFIELD f = list.Add("A", TWTYPE_TEXT);
        for (size_t i = 0; i < texts.size(); ++i)
          SetValue(f, static_cast<uint32_t>(i + 1), texts[i]);
        uint32_t n = 0;
        if (status == TWSUCCESS && oneBlock)
          status = link.c.Insert(list.get(), 1, static_cast<uint32_t>(texts.size()), &n);
        for (uint32_t i = 1; status == TWSUCCESS && !oneBlock && i <= texts.size(); ++i)
          status = link.c.Insert(list.get(), i, 1, &n);
        const uint32_t closed = link.c.Disconnect(status == TWSUCCESS ? 0 : 1);
        if (status == TWSUCCESS) status = closed;
      }
      EXPECT_EQ(status, TWFAIL_EXTERNAL);
      size_t end = 0;
      for (size_t e : ends)
        if (e <= limit) end = e;
      EXPECT_EQ(twtest::ReadFile(env / "out.txt"), whole.substr(0, end));
      EXPECT_EQ(twtest::LogLast().text.find("Unable to cut"), std::string::npos);
    }
  }
}

// Terminate closes a connection the engine did not disconnect; a failure of that close is
// its answer, not lost behind a success.
TEST_F(FlatrecOutputTest, TerminateAnswersTheFailureOfTheCloseItDoes) {
  Connection& c = Open("A TYPE TEXT", "/dev/full");
  EXPECT_EQ(InsertTexts({"lost"}), TWFAIL_EXTERNAL);
  EXPECT_EQ(c.Terminate(0), TWFAIL_EXTERNAL);
  EXPECT_EQ(c.Terminate(0), TWSUCCESS);  // nothing left open the second time
}

TEST_F(FlatrecOutputTest, AHeaderThatCannotBeWrittenFailsTheConnect) {
  link_.Str(TWTOKEN_DATABASE, "/dev/full")
      .Str(flatrec::kLinktype, "DESTINATION")
      .Str(flatrec::kZid, "A TYPE TEXT")
      .Str(flatrec::kHeaderRec, "HEAD");
  EXPECT_EQ(link_.c.Connect(), TWFAIL_EXTERNAL);
  EXPECT_EQ(link_.c.Disconnect(0), TWSUCCESS);
}

TEST_F(FlatrecOutputTest, AFailedTransferWritesNoTrailer) {
  link_.Str(flatrec::kTrailerRec, "|TRAILER");
  Connection& c = Open("A TYPE TEXT");
  ASSERT_EQ(InsertTexts({"partial"}), TWSUCCESS);
  ASSERT_EQ(c.Disconnect(1), TWSUCCESS);
  EXPECT_EQ(File(), "partial");
}

TEST_F(FlatrecOutputTest, MapNameAndFieldCounts) {
  Connection& c = Open("A TYPE TEXT DELIM ,\nB TYPE TEXT");
  ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 1), TWSUCCESS);
  List named(1);
  SetValue(named.Add("b", TWTYPE_TEXT), 1, "second");
  SetValue(named.Add("A", TWTYPE_TEXT), 1, "first");
  uint32_t n = 0;
  ASSERT_EQ(c.Insert(named.get(), 1, 1, &n), TWSUCCESS);
  List unknown(1);
  unknown.Add("C", TWTYPE_TEXT);
  EXPECT_EQ(c.Insert(unknown.get(), 1, 1, &n), TWFAIL_INVALID_FIELDNAME);
  ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 0), TWSUCCESS);
  List three(1);
  three.Add("x", TWTYPE_TEXT);
  three.Add("y", TWTYPE_TEXT);
  three.Add("z", TWTYPE_TEXT);
  EXPECT_EQ(c.Insert(three.get(), 1, 1, &n), TWFAIL_FIELD_COUNT_MISMATCH);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "first,second");
}

TEST_F(FlatrecOutputTest, MaxRecCountLimitsTheRecordsWritten) {
  link_.Num(flatrec::kMaxRecCount, 2);
  Connection& c = Open("A TYPE TEXT");
  uint32_t n = 0;
  EXPECT_EQ(InsertTexts({"1", "2", "3"}, &n), TWFAIL_END_OF_DATA);
  EXPECT_EQ(n, 2u);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(File(), "1\n2");
}

TEST_F(FlatrecOutputTest, ExportsAreTracedWithTheirRecord) {
  link_.Num(flatrec::kTrace, 0x81);
  Open("A TYPE TEXT WIDTH 3");
  ASSERT_EQ(InsertTexts({"abc"}), TWSUCCESS);
  // Under 0x80 lines lead with "<pid>.0 " and the time.
  std::vector<std::string> trace;
  const std::string log = File("trace.log");
  for (size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
    const std::string line = log.substr(at, nl - at);
    trace.push_back(line.substr(line.find(' ') + 1 + 21));
  }
  auto at = std::find(trace.begin(), trace.end(), "TWXInsert: Exporting field=A, @ dsp=0");
  ASSERT_NE(at, trace.end());
  ASSERT_GE(trace.end() - at, 5);
  EXPECT_EQ(at[1], "TWXInsert: Fieldname:A, TWTYPE_TEXT");
  EXPECT_EQ(at[2], "TWXInsert: [Output Record 1]");
  EXPECT_EQ(at[4].substr(0, 11), "0000:616263");
}

}  // namespace
}  // namespace flatrec_test
