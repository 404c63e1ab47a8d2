// The catalogue's substitution markup as the log fills it: catalogue rows with their
// arguments, free texts of TWActivityLogStreamEx, and property names from a plug-in's table.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"

namespace {

using twtest::Text;

struct Args {
  uint32_t i1 = 0, i2 = 0, i3 = 0;
  const char* s1 = nullptr;
  const char* s2 = nullptr;
  const char* s3 = nullptr;
};

// An unnamed activity whose entries go to standard error (captured and dropped).
class MarkupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
    ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    stderr_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(TWActivityFree(), TWSUCCESS);
    TWSystemTerm();
  }

  // The text TWActivityLogEx gives the catalogue row id with args.
  static std::string Logged(uint32_t id, const Args& a) {
    std::optional<Text> s1, s2, s3;
    if (a.s1) s1.emplace(a.s1);
    if (a.s2) s2.emplace(a.s2);
    if (a.s3) s3.emplace(a.s3);
    EXPECT_EQ(TWActivityLogEx(id, a.i1, a.i2, a.i3, s1 ? s1->get() : nullptr,
                              s2 ? s2->get() : nullptr, s3 ? s3->get() : nullptr),
              id);
    return twtest::LogLast().text;
  }

  // The text TWActivityLogStreamEx gives text with args (an event, so no status is left).
  static std::string Filled(const char* text, const Args& a) {
    Text t(text);
    std::optional<Text> s1;
    if (a.s1) s1.emplace(a.s1);
    EXPECT_EQ(TWActivityLogStreamEx(TWLOGSTREAMF_EVENT, t.get(), 0, a.i1, a.i2, a.i3,
                                    s1 ? s1->get() : nullptr, nullptr, nullptr),
              TWSUCCESS);
    return twtest::LogLast().externalText;
  }

  twtest::Installation inst_;
  std::string stderr_;
};

struct CatalogueCase {
  uint32_t id;
  Args args;
  const char* expected;
};

TEST_F(MarkupTest, CatalogueRowsFillTheirArgumentsAndDropWhatIsAbsent) {
  const CatalogueCase cases[] = {
      // [[TWX]]: the detail goes with an absent argument.
      {12553, {.i1 = 0x01010002}, "No value supplied for required property 'SrcDatabase'"},
      {12553, {}, "No value supplied for required property"},
      {1539, {.s1 = "direct"}, "Cannot load Activity TWX Library 'direct'"},
      {1539, {.s1 = ""}, "Cannot load Activity TWX Library"},
      {12554,
       {.i1 = 0x02010001, .i2 = 0x02010002},
       "Conflicting values for properties 'DestServer' and 'DestDatabase'"},
      {12554, {.i1 = 0x02010001}, "Conflicting values for properties"},
      // Integers are never absent.
      {12548, {.i1 = 5, .i2 = 0}, "Field count mismatch; Tarnway: 5, Link: 0"},
      {12549, {.i1 = 0xFFFFFFFF, .i2 = 2}, "Key count mismatch; Tarnway: -1, Link: 2"},
      // Optional segments.
      {12545, {.s1 = "EMP"}, "Metadata object 'EMP' does not exist"},
      {12545, {.s1 = ""}, "Metadata object does not exist"},
      {12545, {}, "Metadata object does not exist"},
      {12546,
       {.i1 = 3, .i2 = 2, .s1 = "SAL"},
       "Type mismatch for field 'SAL'; Tarnway: Currency, Link: Float"},
      {12546, {.i1 = 6}, "Type mismatch; Tarnway: Text"},
      {12546, {.i2 = 0x40000003}, "Type mismatch, Link: Binary (Text List)"},
      {12546, {.i1 = 7, .i2 = 0x40000001}, "Type mismatch; Tarnway: Binary, Link: Binary (Blob)"},
      // Nested segments: a parent goes with its child; a child goes alone.
      {12551,
       {.i1 = 5, .i2 = 6, .s1 = "STAMP"},
       "Type mismatch for field 'STAMP' used in this context; Expected: Datetime, Actual: Text"},
      {12551,
       {.i1 = 5, .s1 = "STAMP"},
       "Type mismatch for field 'STAMP' used in this context; Expected: Datetime"},
      {12551, {.i2 = 6, .s1 = "STAMP"}, "Type mismatch for field 'STAMP' used in this context"},
      {12551, {}, "Type mismatch for field used in this context"},
      {12550, {.i1 = 6}, "Timestamp field must be type Datetime; Actual: Text"},
      // Object kinds.
      {1636, {.i1 = 3, .s1 = "ORDERS"}, "Created Metadata 'ORDERS'"},
      {1636, {.i1 = 4}, "Created Index"},
      {1637, {.i1 = 1, .s1 = "x"}, "Dropped Server 'x'"},
      {1637, {.i1 = 5, .s1 = "y"}, "Dropped Field 'y'"},
      // An event keeps its catalogue text.
      {0x1000310D,
       {.s1 = "EBCDIC"},
       "Unsupported Link character set 'EBCDIC'; using native character set"},
      // Rows without markup, and ids without text.
      {12289, {.i1 = 1, .s1 = "x"}, "Requested functionality is not available"},
      {5321, {}, "MSG#5321 NOT FOUND"},
  };
  for (const CatalogueCase& c : cases) EXPECT_EQ(Logged(c.id, c.args), c.expected) << c.id;
}

struct TextCase {
  const char* text;
  Args args;
  const char* expected;
};

TEST_F(MarkupTest, FreeTextsFollowTheSameRulesAndSurviveMalformedMarks) {
  const TextCase cases[] = {
      {"Created Quendal Ordex database[[TWX]] '[[TWS1]]'",
       {.s1 = "srv!!x.nsf"},
       "Created Quendal Ordex database 'srv!!x.nsf'"},
      {"a[[TWX(]]b[[TWX(]]c[[TWS1]][[TWX)]]d[[TWI1]][[TWX)]]e", {.i1 = 7}, "abd7e"},
      {"a[[TWX(]]b[[TWT1]][[TWX(]]c[[TWS1]][[TWX)]][[TWX)]]e", {.s1 = "S"}, "ae"},
      // Outside segments and detail an absent argument gives nothing.
      {"<[[TWS1]]|[[TWP2]]|[[TWO3]]>", {}, "<||>"},
      // Unknown marks, argument numbers out of range and a stray close are copied.
      {"[[TWZ1]] [[TWS4]] [[TWS0]] [[TWX)]] [[Other]]",
       {.s1 = "s"},
       "[[TWZ1]] [[TWS4]] [[TWS0]] [[TWX)]] [[Other]]"},
      {"open [[TWS1", {.s1 = "s"}, "open [[TWS1"},
      {"[[[TWS1]]]", {.s1 = "s"}, "[s]"},
      // A segment without its close runs to the end.
      {"x[[TWX(]] y [[TWS1]]", {.s1 = "s"}, "x y s"},
      {"x[[TWX(]] y [[TWS1]]", {}, "x"},
      // Values without a catalogue word show as numbers; unknown tokens as hexadecimal.
      {"[[TWT1]]/[[TWO2]]/[[TWP3]]", {.i1 = 9, .i2 = 8, .i3 = 0x00000063}, "9/8/0x00000063"},
      {"[[TWI1]][[TWI2]]", {.i1 = 0x80000000, .i2 = 0}, "-21474836480"},
      {"", {}, ""},
  };
  for (const TextCase& c : cases) EXPECT_EQ(Filled(c.text, c.args), c.expected) << c.text;
}

TEST_F(MarkupTest, DeeplyNestedSegmentsDoNotExhaustTheStack) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "[[TWX(]]";
  text += "x";
  std::string filled = Filled(text.c_str(), {});
  EXPECT_NE(filled.find('x'), std::string::npos);
}

TEST_F(MarkupTest, AddedPropertiesAreNamedByTheirNames) {
  Text name("Colour");
  uint32_t token = 0;
  ASSERT_EQ(TWActivityAddProperty(name.get(), TWPROPSTORE_DYNAMIC, &token), TWSUCCESS);
  ASSERT_EQ(token, TWTOKENF_RESERVED | 1u);
  EXPECT_EQ(Logged(12555, {.i1 = token}), "Invalid property 'Colour'");
  EXPECT_EQ(Logged(12555, {.i1 = token + 1}), "Invalid property '0x00800002'");
}

// The plug-in that logs names its own tokens from its table.
TEST(MarkupPluginTest, TokensAreNamedFromTheActivityPluginsTable) {
  twtest::Installation inst;
  twtest::InstallPlugin(inst, "testact");
  twtest::FakeCtlstore store;
  ASSERT_TRUE(store.serving());
  twtest::AddTestActivity(store, "Names",
                          {{"Mode", twtest::kMode, twtest::FakeValue::Number(1)},
                           {"Result", twtest::kResult, twtest::FakeValue::Number(12555)}});
  ASSERT_EQ(TWSystemInit(), TWSUCCESS);
  MsgTblEntry entry{twtest::OpenSlot("Names"), TWCLOSE_NONE, TWMSGTBL_NO_RESULT, 0, 0};
  ASSERT_EQ(TWActivityInit(&entry), TWSUCCESS);

  // Inside TWXLaunch the plug-in logs 12555 with its token Targets.
  EXPECT_EQ(TWActivityLaunch(), 12555u);
  EXPECT_EQ(twtest::LogLast().text, "Invalid property 'Targets'");
  // After the launch the activity plug-in's table still names its tokens; other tokens get
  // the engine's names or hexadecimal.
  const CatalogueCase cases[] = {
      {12555, {.i1 = twtest::kCounter}, "Invalid property 'Counter'"},
      {12555, {.i1 = 0x01010005}, "Invalid property 'SrcMetadata'"},
      {12555, {.i1 = 0x03030004}, "Invalid property 'Link3Name'"},
      {12555, {.i1 = 99}, "Invalid property '0x00000063'"},
  };
  for (const CatalogueCase& c : cases) {
    EXPECT_EQ(TWActivityLogEx(c.id, c.args.i1, 0, 0, nullptr, nullptr, nullptr), c.id);
    EXPECT_EQ(twtest::LogLast().text, c.expected) << std::hex << c.args.i1;
  }
  EXPECT_EQ(TWActivityTerm(), TWSUCCESS);
  TWSystemTerm();
}

}  // namespace
