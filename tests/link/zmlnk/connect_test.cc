// Connecting and the properties of the text-file connector through the connection layer:
// defaults, the property dispatch and its traces, the statuses of a bad description, a
// missing or unwritable file and a wrong Linktype, and the columns TWXExecute describes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "flatrec_test_util.h"

namespace flatrec_test {
namespace {

TEST(FlatrecProperties, DefaultsOfTheTable) {
  Env env;
  Link link;
  Connection& c = link.c;
  EXPECT_EQ(GetText(c, flatrec::kFiletype), "TEXT");
  EXPECT_EQ(GetText(c, flatrec::kLinktype), "SOURCE");
  EXPECT_EQ(GetText(c, flatrec::kDayNames),
            "Monday,Tuesday,Wednesday,Thursday,Friday,Saturday,Sunday");
  EXPECT_EQ(GetText(c, flatrec::kAmString), "AM");
  EXPECT_EQ(GetText(c, flatrec::kPmString), "PM");
  EXPECT_EQ(GetText(c, TWTOKEN_DATABASE), "");
  EXPECT_EQ(GetInt(c, flatrec::kMaxRecSize), 0x20000);
  EXPECT_EQ(GetInt(c, flatrec::kMaxText), 0x8000);
  EXPECT_EQ(GetInt(c, flatrec::kTrace), 1);  // the tests' Link sets it
  EXPECT_EQ(GetInt(c, flatrec::kSkipBytes), 0);
  EXPECT_EQ(GetInt(c, TWTOKEN_TEXT_FORMAT), 0xFFFF);
}

TEST(FlatrecProperties, DispatchByKind) {
  Env env;
  Link link;
  Connection& c = link.c;
  // A text set from a null value empties it; an integer becomes 0; a flag stays.
  ASSERT_EQ(SetText(c, flatrec::kRecordDelim, "|"), TWSUCCESS);
  ASSERT_EQ(SetNull(c, flatrec::kRecordDelim, TWTYPE_TEXT), TWSUCCESS);
  EXPECT_EQ(GetText(c, flatrec::kRecordDelim), "");
  ASSERT_EQ(SetInt(c, flatrec::kMinRecSize, 9), TWSUCCESS);
  ASSERT_EQ(SetNull(c, flatrec::kMinRecSize, TWTYPE_INT), TWSUCCESS);
  EXPECT_EQ(GetInt(c, flatrec::kMinRecSize), 0);
  ASSERT_EQ(SetInt(c, flatrec::kEchoZid, 5), TWSUCCESS);
  EXPECT_EQ(GetInt(c, flatrec::kEchoZid), 1);
  ASSERT_EQ(SetNull(c, flatrec::kEchoZid, TWTYPE_INT), TWSUCCESS);
  EXPECT_EQ(GetInt(c, flatrec::kEchoZid), 1);
  // SkipBytes is a text row handled as an integer.
  ASSERT_EQ(SetText(c, flatrec::kSkipBytes, "12"), TWSUCCESS);
  EXPECT_EQ(GetInt(c, flatrec::kSkipBytes), 12);
  EXPECT_EQ(GetText(c, flatrec::kSkipBytes), "12");
  // Trace keeps its low 16 bits.
  ASSERT_EQ(SetInt(c, flatrec::kTrace, 0x10081), TWSUCCESS);
  EXPECT_EQ(c.tracer.bits(), 0x81);
  // MAP_NAME sets the merge mode.
  EXPECT_EQ(c.props.mergeMode, 0);
  ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 1), TWSUCCESS);
  EXPECT_EQ(c.props.mergeMode, 3);
  ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 0), TWSUCCESS);
  EXPECT_EQ(c.props.mergeMode, 2);
}

TEST(FlatrecProperties, UnknownTokensAreLoggedAndRefused) {
  Env env;
  Link link;
  Connection& c = link.c;
  std::vector<std::string> trace;
  c.tracer.set_capture(&trace);
  for (uint32_t token : {uint32_t{TWTOKEN_TEXT_FORMAT}, uint32_t{TWTOKEN_SERVER}, 13u, 26u}) {
    EXPECT_EQ(SetText(c, token, "x"), TWFAIL_INVALID_PROPERTY) << token;
    EXPECT_EQ(twtest::LogLast().status, TWFAIL_INVALID_PROPERTY);
  }
  EXPECT_EQ(GetText(c, TWTOKEN_USERID), "<fail>");
  // Predefined tokens are traced whatever the bits, own ones only under 0x80.
  EXPECT_EQ(trace, (std::vector<std::string>{"ERROR: Invalid PREDEF property token: 0001000f",
                                             "ERROR: Invalid PREDEF property token: 00010001"}));
}

TEST(FlatrecProperties, SetValuesAreTracedWhenAsked) {
  Env env;
  Link link;
  Connection& c = link.c;
  std::vector<std::string> trace;
  c.tracer.set_capture(&trace);
  ASSERT_EQ(SetInt(c, flatrec::kTrace, 0x21), TWSUCCESS);
  ASSERT_EQ(SetText(c, flatrec::kZid, "A TYPE TEXT"), TWSUCCESS);
  ASSERT_EQ(SetText(c, flatrec::kRepStrings, std::string(40, 'r')), TWSUCCESS);
  ASSERT_EQ(SetInt(c, TWTOKEN_MAP_NAME, 1), TWSUCCESS);
  EXPECT_EQ(trace, (std::vector<std::string>{
                       "ZM ZPTOKEN_TRACE = 0x00000021(33)", "ZM ZPTOKEN_ZID = A TYPE TEXT",
                       "ZM ZPTOKEN_REPSTRINGS = " + std::string(32, 'r') + " . . .",
                       "ZM TWTOKEN_MAP_NAME = TRUE"}));
}

TEST(FlatrecProperties, TheDefinitionRowsFollowTheTable) {
  const auto& rows = flatrec::kDefinitionRows;
  ASSERT_EQ(rows.size(), 28u);
  EXPECT_EQ(rows[0].token, static_cast<uint32_t>(TWTOKEN_DATABASE));
  EXPECT_EQ(rows[0].name, nullptr);
  EXPECT_EQ(rows[3].token, 1u);
  EXPECT_STREQ(rows[3].name, "Log");
  EXPECT_EQ(rows[3].nameLength, 3u);
  EXPECT_EQ(rows[14].token, 12u);
  EXPECT_EQ(rows[14].type, static_cast<uint32_t>(TWTYPE_TEXT));  // SkipBytes
  EXPECT_EQ(rows[15].token, 14u);                                // 13 is unused
  EXPECT_EQ(rows[26].token, 25u);
  EXPECT_STREQ(rows[26].name, "TrailerRec");
  EXPECT_EQ(rows[27].token, 0u);
}

struct Messages {
  std::vector<std::string> lines;
  static void Write(void* user, std::string_view m) {
    static_cast<Messages*>(user)->lines.emplace_back(m);
  }
};

TEST(FlatrecProperties, TheRegistryFollowsAConnectionsBuffers) {
  Env env;
  twtest::ScopedEnv slots("ZM.ELEMENTS", "16");
  twtest::WriteFile(env / "in.txt", "a\nb\n");
  Messages messages;
  Connection c;
  c.registry.set_sink(&Messages::Write, &messages);
  ASSERT_EQ(c.Initialize(0, 0), TWSUCCESS);
  EXPECT_TRUE(c.registry.on());
  EXPECT_EQ(c.registry.live(), 2u);  // the two work buffers
  ASSERT_EQ(SetInt(c, flatrec::kTrace, 1), TWSUCCESS);
  ASSERT_EQ(SetText(c, TWTOKEN_DATABASE, env / "in.txt"), TWSUCCESS);
  ASSERT_EQ(SetText(c, flatrec::kZid, "A TYPE TEXT"), TWSUCCESS);
  ASSERT_EQ(c.Connect(), TWSUCCESS);
  EXPECT_EQ(c.registry.live(), 3u);  // and the record buffer
  EXPECT_EQ(FetchAll(c).size(), 2u);
  ASSERT_EQ(c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(c.registry.live(), 2u);
  EXPECT_EQ(c.Terminate(0), TWSUCCESS);
  EXPECT_EQ(messages.lines,
            std::vector<std::string>{"ZMLNK:  Allocated count=0, actual count=0\n"});
}

class FlatrecConnectTest : public ::testing::Test {
 protected:
  FlatrecConnectTest() { link_.Str(flatrec::kLog, env_ / "trace.log"); }
  std::vector<std::string> Trace() { return LogLines(env_ / "trace.log"); }
  Env env_;
  Link link_;
};

TEST_F(FlatrecConnectTest, AFaultyDescriptionGivesItsLinesAnd12545) {
  twtest::WriteFile(env_ / "in.txt", "x\n");
  twtest::WriteFile(env_ / "desc.zid", "A TYPE TEXT\nB TYPE BOGUS\nC WIDTH 1 WIDTH 2\n");
  link_.Str(TWTOKEN_DATABASE, env_ / "in.txt").Str(flatrec::kZid, "@" + (env_ / "desc.zid"));
  EXPECT_EQ(link_.c.Connect(), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_INVALID_METADATA);
  const std::string file = env_ / "desc.zid";
  EXPECT_EQ(Trace(), (std::vector<std::string>{
                         "ERROR: Invalid/missing TYPE on line 2, file: " + file,
                         "ERROR: Ambiguous keyword(s): WIDTH, on line 3, file: " + file,
                         "ERROR: 2 errors in ZID file entries"}));
  EXPECT_EQ(link_.c.session, nullptr);
}

TEST_F(FlatrecConnectTest, AMissingDescriptionFile) {
  link_.Str(flatrec::kZid, "@" + (env_ / "none.zid"));
  EXPECT_EQ(link_.c.Connect(), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(Trace(),
            std::vector<std::string>{"ERROR: Unable to open ZID file: " + (env_ / "none.zid")});
}

TEST_F(FlatrecConnectTest, AMissingInputFile) {
  link_.Str(TWTOKEN_DATABASE, env_ / "none.txt").Str(flatrec::kZid, "A TYPE TEXT");
  EXPECT_EQ(link_.c.Connect(), TWFAIL_NOT_CONNECTED);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_NOT_CONNECTED);
  EXPECT_EQ(Trace(),
            std::vector<std::string>{"ERROR: Unable to open file: " + (env_ / "none.txt")});
}

TEST_F(FlatrecConnectTest, AnUnwritableOutputLeavesNothing) {
  link_.Str(TWTOKEN_DATABASE, env_ / "no/such/dir/out.txt")
      .Str(flatrec::kLinktype, "destination")
      .Str(flatrec::kZid, "A TYPE TEXT");
  EXPECT_EQ(link_.c.Connect(), TWFAIL_NOT_CONNECTED);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_NOT_CONNECTED);
  EXPECT_FALSE(std::filesystem::exists(env_ / "no"));
}

TEST_F(FlatrecConnectTest, AWrongLinktype) {
  link_.Str(flatrec::kLinktype, "TARGET").Str(flatrec::kZid, "A TYPE TEXT");
  EXPECT_EQ(link_.c.Connect(), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(TWActivityGetStatus(), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(Trace(), std::vector<std::string>{"ERROR: Invalid Linktype: TARGET"});
}

TEST_F(FlatrecConnectTest, NamesThatDoNotFitAreRefused) {
  const std::string longName = env_ / std::string(300, 'n');
  EXPECT_EQ(SetText(link_.c, flatrec::kLog, longName), TWFAIL_PROPERTY_VALUE);
  EXPECT_EQ(link_.c.tracer.log_file(), env_ / "trace.log");
  link_.Str(flatrec::kZid, "A TYPE TEXT").Str(TWTOKEN_DATABASE, longName);
  EXPECT_EQ(link_.c.Connect(), TWFAIL_PROPERTY_VALUE);
  link_.Str(TWTOKEN_DATABASE, "").Str(flatrec::kZid, "@" + longName);
  EXPECT_EQ(link_.c.Connect(), TWFAIL_PROPERTY_VALUE);
}

TEST_F(FlatrecConnectTest, LimitsOutOfRangeAreRefused) {
  link_.Str(flatrec::kZid, "A TYPE TEXT");
  link_.Num(flatrec::kMaxRecSize, -1);
  EXPECT_EQ(link_.c.Connect(), TWFAIL_PROPERTY_VALUE);
  link_.Num(flatrec::kMaxRecSize, 10).Num(flatrec::kFixedRecSize, 11);
  EXPECT_EQ(link_.c.Connect(), TWFAIL_PROPERTY_VALUE);
  link_.Num(flatrec::kFixedRecSize, 10).Num(flatrec::kMaxText, -5);
  EXPECT_EQ(link_.c.Connect(), TWFAIL_PROPERTY_VALUE);
  link_.Num(flatrec::kMaxText, 0);
  EXPECT_EQ(link_.c.Connect(), TWSUCCESS);
}

TEST_F(FlatrecConnectTest, ReplacementTextThatDoesNotFitIsRefused) {
  link_.Str(flatrec::kZid, "A TYPE TEXT")
      .Str(TWTOKEN_METADATA, "A=" + std::string(20000, 'a'))
      .Str(flatrec::kRepStrings, "B=" + std::string(20000, 'b'));
  EXPECT_EQ(link_.c.Connect(), TWFAIL_INVALID_METADATA);
  EXPECT_EQ(Trace(), std::vector<std::string>{"ERROR: Replacement strings exceed 32766 bytes"});
}

TEST_F(FlatrecConnectTest, NoDataFileMeansNoRecords) {
  link_.Str(flatrec::kZid, "A TYPE TEXT");
  ASSERT_EQ(link_.c.Connect(), TWSUCCESS);
  List list(1);
  list.Add("A", TWTYPE_TEXT);
  uint32_t n = 0;
  EXPECT_EQ(link_.c.Fetch(list.get(), 1, 1, &n), TWFAIL_NOT_CONNECTED);
  EXPECT_EQ(link_.c.Insert(list.get(), 1, 1, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Update(list.get(), 1, 1, &n), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Action(TWACTION_TRUNCATE), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Action(TWACTION_COMMIT), TWFAIL_UNAVAILABLE);
  EXPECT_EQ(link_.c.Disconnect(0), TWSUCCESS);
  EXPECT_EQ(link_.c.Disconnect(0), TWSUCCESS);
}

TEST_F(FlatrecConnectTest, ExecuteDescribesTheColumns) {
  link_
      .Str(flatrec::kZid,
           "T TYPE TEXT\nN TYPE NUMBER\nD TYPE DATE\nC TYPE CURRENCY\nR TYPE RICH\n"
           "(skip)\nL TYPE TEXT SEP ,\nM TYPE NUMBER SEP ,\nK TYPE DATE SEP ,\nQ TYPE RICH SEP ,")
      .Num(flatrec::kMaxText, 77);
  ASSERT_EQ(link_.c.Connect(), TWSUCCESS);
  List list(1);
  uint32_t n = 0;
  ASSERT_EQ(link_.c.Execute(nullptr, list.get(), &n), TWSUCCESS);
  EXPECT_EQ(n, TWCOUNT_UNKNOWN);
  const struct {
    uint32_t type;
    uint32_t format;
    uint32_t max;
  } expected[] = {
      {TWTYPE_TEXT, TWSTREAMFMT_NATIVE, 77},
      {TWTYPE_FLOAT, 0, 0},
      {TWTYPE_DATETIME, 0, 0},
      {TWTYPE_CURRENCY, 0, 0},
      {TWTYPE_TEXT, 0, 0},
      {TWTYPE_BINARY, TWSTREAMFMT_TEXT_LIST, 0},
      {TWTYPE_BINARY, TWSTREAMFMT_NUMBER_LIST, 0},
      {TWTYPE_BINARY, TWSTREAMFMT_DATETIME_LIST, 0},
      {TWTYPE_BINARY, 0, 0},
  };
  ASSERT_EQ(TWFieldlistGetCount(list.get()), 9u);
  for (uint32_t i = 0; i < 9; ++i) {
    TWFIELD f = list.Field(i + 1);
    EXPECT_EQ(TWFieldGetType(f), expected[i].type) << i;
    if (expected[i].type != TWTYPE_TEXT && expected[i].type != TWTYPE_BINARY) continue;
    uint32_t format = 0, max = 0;
    ASSERT_EQ(TWFieldGetFormatStream(f, nullptr, &max, &format), TWSUCCESS);
    EXPECT_EQ(format, expected[i].format) << i;
    EXPECT_EQ(max, expected[i].max) << i;
  }
  EXPECT_EQ(link_.c.Execute(nullptr, TWNULLHANDLE, &n), TWSUCCESS);
}

TEST_F(FlatrecConnectTest, EntryAndExitLinesAroundEachRoutine) {
  link_.Str(flatrec::kZid, "A TYPE TEXT").Num(flatrec::kTrace, 0x03);
  ASSERT_EQ(link_.c.Connect(), TWSUCCESS);
  std::vector<std::string> trace = Trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.front(), "function exit, rc=0x00000000(0)");  // of TWXSetProperty (Trace)
  EXPECT_EQ(trace.back(), "function exit, rc=0x00000000(0)");
  EXPECT_NE(std::find(trace.begin(), trace.end(), "function entry"), trace.end());
}

// Each traced routine, read and written, leads its entry and exit lines with its label.
TEST_F(FlatrecConnectTest, EveryRoutineTracesItsEntryAndExit) {
  std::vector<std::string> trace;
  auto traced = [&](const std::string& label) {
    const bool entry =
        std::find(trace.begin(), trace.end(), label + "function entry") != trace.end();
    const bool exit = std::any_of(trace.begin(), trace.end(), [&](const std::string& l) {
      return l.rfind(label + "function exit, rc=0x", 0) == 0;
    });
    return entry && exit;
  };
  twtest::WriteFile(env_ / "in.txt", "Ann,42,05.11.1996\n");
  {
    Link in;
    in.c.tracer.set_capture(&trace);
    in.Num(flatrec::kTrace, 0x83)
        .Num(TWTOKEN_MAP_NAME, 1)
        .Str(TWTOKEN_DATABASE, env_ / "in.txt")
        .Str(flatrec::kZid,
             "NAME TYPE TEXT DELIM ,\nAGE TYPE NUMBER DELIM ,\nBORN TYPE DATE FORMAT DD.MM.YYYY");
    ASSERT_EQ(in.c.Connect(), TWSUCCESS);
    EXPECT_EQ(FetchAll(in.c).size(), 1u);
    for (const char* entry : {"TWXSelect", "TWXRemove", "TWXCatalog", "TWXCreate", "TWXDrop"})
      EXPECT_EQ(in.c.Unavailable(entry), TWFAIL_UNAVAILABLE);
    EXPECT_EQ(in.c.Disconnect(0), TWSUCCESS);
  }
  for (const char* label :
       {"ZP_MemAlloc: ", "ZPMetaReplace: ", "ZPClearBuckets: ", "ZPFindColByName: ",
        "ZPAppendText: ", "ZPAppendNumber: ", "ZPAppendDate: ", "TWXSelect: ", "TWXRemove: ",
        "TWXCatalog: ", "TWXCreate: ", "TWXDrop: "})
    EXPECT_TRUE(traced(label)) << label;
  trace.clear();
  {
    Link out;
    out.c.tracer.set_capture(&trace);
    out.Num(flatrec::kTrace, 0x83)
        .Str(TWTOKEN_DATABASE, env_ / "out.txt")
        .Str(flatrec::kLinktype, "DESTINATION")
        .Str(flatrec::kZid,
             "AMOUNT TYPE NUMBER.2 START 1 WIDTH 6\nBORN TYPE DATE FORMAT DD.MM.YYYY");
    ASSERT_EQ(out.c.Connect(), TWSUCCESS);
    List list(1);
    SetValue(list.Add("Amount", TWTYPE_FLOAT), 1, "12.5");
    SetValue(list.Add("Born", TWTYPE_DATETIME), 1, "1996-11-05 14:07:09");
    uint32_t n = 0;
    EXPECT_EQ(out.c.Insert(list.get(), 1, 1, &n), TWSUCCESS);
    EXPECT_EQ(out.c.Disconnect(0), TWSUCCESS);
  }
  EXPECT_EQ(twtest::ReadFile(env_ / "out.txt"), " 12.5005.11.1996");
  for (const char* label :
       {"ZPFindColByColNum: ", "ZPFormatTextFromFloat: ", "ZPFormatTextDate: ", "ZPClear: "})
    EXPECT_TRUE(traced(label)) << label;
}

}  // namespace
}  // namespace flatrec_test
