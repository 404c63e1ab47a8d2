// The connector helpers: property dispatch over a connector's one table (the set and get
// rules by kind, read-only TEXT_FORMAT, unknown tokens logged with 12555; defaults, limits,
// kept values and follow-ups of a row), the definition rows built from the table, the
// key-term operator rule and the identity copy.
#include "twx_props.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "activity_test_util.h"
#include "connect_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "twx_params.h"
#include "twx_plugin.h"

namespace {

using tw::twx::DispatchGet;
using tw::twx::DispatchSet;
using twtest::Text;

// A connector context as a connector keeps it: zero-filled by the engine.
struct Ctx {
  TWStream server;
  TWStream password;
  TWStream fieldList;
  int32_t mapName;
  int32_t commitFrequency;
  int32_t skipBytes;
  TWDatetime baseStamp;
  int32_t textFormat;
};

namespace twx = tw::twx;

constexpr twx::Property<Ctx> kProps[] = {
    twx::TextProperty(TWTOKEN_SERVER, &Ctx::server),
    twx::TextProperty(TWTOKEN_PASSWORD, &Ctx::password).SetOnly(),
    twx::FlagProperty(TWTOKEN_MAP_NAME, &Ctx::mapName),
    twx::ListProperty(TWTOKEN_FIELD_LIST, &Ctx::fieldList),
    twx::DatetimeProperty(TWTOKEN_BASESTAMP, &Ctx::baseStamp),
    // Served though it has no row; and offered for a set, which the rule refuses all the same.
    twx::IntProperty(TWTOKEN_TEXT_FORMAT, &Ctx::textFormat).Unlisted(),
    twx::IntProperty(1, &Ctx::commitFrequency, "CommitFrequency"),
    twx::IntProperty(2, &Ctx::skipBytes, "SkipBytes").WithType(TWTYPE_TEXT),
};
constexpr auto kRows = twx::DefinitionTable(kProps);

// An engine with an unnamed activity to log to, a zero-filled context, and fields of every
// type that are freed at the end.
class PropsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TWSystemInit(), TWSUCCESS);
    ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
    ctx_.textFormat = TWSTREAMFMT_NATIVE;
  }
  void TearDown() override {
    twx::ReleaseProperties(kProps, ctx_);
    for (TWFIELD f : fields_) TWFieldFree(f);
    EXPECT_EQ(TWActivityFree(), TWSUCCESS);
    EXPECT_EQ(TWSystemTerm(), TWSUCCESS);
  }

  // A one-value field of type; null unless a value is set afterwards.
  TWFIELD Field(uint32_t type) {
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldAlloc(&f, type, 1), TWSUCCESS);
    fields_.push_back(f);
    return f;
  }
  TWFIELD TextField(const std::string& text) {
    TWFIELD f = Field(TWTYPE_TEXT);
    Text t(text);
    EXPECT_EQ(TWFieldSetStream(f, 1, t.get()), TWSUCCESS);
    return f;
  }
  TWFIELD IntField(int32_t value) {
    TWFIELD f = Field(TWTYPE_INT);
    EXPECT_EQ(TWFieldSetInt(f, 1, &value), TWSUCCESS);
    return f;
  }
  TWFIELD ListField(const std::string& bytes) {
    TWFIELD f = Field(TWTYPE_BINARY);
    TWStream s{0, 0, TWSTREAMFMT_TEXT_LIST, static_cast<uint32_t>(bytes.size()),
               const_cast<char*>(bytes.data())};
    EXPECT_EQ(TWFieldSetStream(f, 1, &s), TWSUCCESS);
    return f;
  }
  std::string Get(uint32_t token) {
    TWFIELD f = Field(TWTYPE_TEXT);
    uint32_t st = DispatchGet(kProps, &ctx_, token, f);
    if (st != TWSUCCESS) return "<" + std::to_string(st) + ">";
    Text out;
    EXPECT_EQ(TWFieldGetStream(f, 1, TWSTREAMFMT_NATIVE, out.get(), nullptr), TWSUCCESS);
    return out.str();
  }
  static std::string Bytes(const TWStream& s) {
    return s.data ? std::string(static_cast<const char*>(s.data), s.length) : std::string();
  }

  twtest::Installation inst_;
  Ctx ctx_{};
  std::vector<TWFIELD> fields_;
};

// A text list of two entries, "A" and "BC".
const std::string kList = std::string("\x02\x00\x01\x00\x02\x00", 6) + "ABC";

TEST(DefinitionTableTest, ListsTheListedEntriesInOrderThenEnds) {
  struct Row {
    uint32_t token;
    uint32_t type;
    const char* name;
    uint32_t length;
  };
  const Row expected[] = {
      {TWTOKEN_SERVER, TWTYPE_TEXT, nullptr, 0},
      {TWTOKEN_PASSWORD, TWTYPE_TEXT, nullptr, 0},
      {TWTOKEN_MAP_NAME, TWTYPE_INT, nullptr, 0},
      {TWTOKEN_FIELD_LIST, TWTYPE_BINARY, nullptr, 0},
      {TWTOKEN_BASESTAMP, TWTYPE_DATETIME, nullptr, 0},
      {1, TWTYPE_INT, "CommitFrequency", 15},
      {2, TWTYPE_TEXT, "SkipBytes", 9},
  };
  static_assert(kRows.size() == std::size(kProps) + 1);
  size_t i = 0;
  for (const Row& e : expected) {
    const TWXPropertyDef& row = kRows[i++];
    EXPECT_EQ(row.token, e.token);
    EXPECT_EQ(row.type, e.type) << e.token;
    EXPECT_EQ(row.reserved, 0u);
    EXPECT_EQ(row.nameLength, e.length) << e.token;
    if (e.name == nullptr)
      EXPECT_EQ(row.name, nullptr);
    else
      EXPECT_STREQ(row.name, e.name);
  }
  for (; i < kRows.size(); ++i) {
    EXPECT_EQ(kRows[i].token, 0u);
    EXPECT_EQ(kRows[i].name, nullptr);
  }
}

TEST_F(PropsTest, SetStoresEachKindByItsRules) {
  TWDatetime when{};
  ASSERT_EQ(TWDatetimeSetConstant(&when, TWDTCONST_MINIMUM), TWSUCCESS);
  TWFIELD stamp = Field(TWTYPE_DATETIME);
  ASSERT_EQ(TWFieldSetDatetime(stamp, 1, &when), TWSUCCESS);
  struct Case {
    const char* what;
    uint32_t token;
    TWFIELD value;
    std::string text;  // the property read back as text afterwards
  };
  const Case cases[] = {
      {"text", TWTOKEN_SERVER, TextField("alpha"), "alpha"},
      {"null text empties", TWTOKEN_SERVER, Field(TWTYPE_TEXT), ""},
      {"text from a number", TWTOKEN_SERVER, IntField(42), "42"},
      {"text again", TWTOKEN_SERVER, TextField("beta"), "beta"},
      {"unreadable text empties", TWTOKEN_SERVER, TWNULLHANDLE, ""},
      {"flag on", TWTOKEN_MAP_NAME, IntField(5), "1"},
      {"null flag keeps", TWTOKEN_MAP_NAME, Field(TWTYPE_INT), "1"},
      {"unconvertible flag keeps", TWTOKEN_MAP_NAME, TextField("yes?"), "1"},
      {"flag off", TWTOKEN_MAP_NAME, IntField(0), "0"},
      {"integer", 1, IntField(250), "250"},
      {"integer from text", 1, TextField(" 77 "), "77"},
      {"null integer zeroes", 1, Field(TWTYPE_INT), "0"},
      {"integer again", 1, IntField(-3), "-3"},
      {"unconvertible integer zeroes", 1, TextField("many"), "0"},
      {"text-typed row kept as integer", 2, TextField("12"), "12"},
  };
  for (const Case& c : cases) {
    const twx::Property<Ctx>* found = nullptr;
    EXPECT_EQ(DispatchSet(kProps, &ctx_, c.token, c.value, ctx_.textFormat, &found), TWSUCCESS)
        << c.what;
    ASSERT_NE(found, nullptr) << c.what;
    EXPECT_EQ(found->token, c.token) << c.what;
    EXPECT_EQ(Get(c.token), c.text) << c.what;
  }

  // A list is kept as text-list bytes, and a null value empties it.
  EXPECT_EQ(DispatchSet(kProps, &ctx_, TWTOKEN_FIELD_LIST, ListField(kList), 0), TWSUCCESS);
  EXPECT_EQ(ctx_.fieldList.format, static_cast<uint32_t>(TWSTREAMFMT_TEXT_LIST));
  EXPECT_EQ(Bytes(ctx_.fieldList), kList);
  EXPECT_EQ(Get(TWTOKEN_FIELD_LIST), "A, BC");
  EXPECT_EQ(DispatchSet(kProps, &ctx_, TWTOKEN_FIELD_LIST, Field(TWTYPE_BINARY), 0), TWSUCCESS);
  EXPECT_EQ(ctx_.fieldList.length, 0u);

  // A datetime is kept; a null one clears it.
  EXPECT_EQ(DispatchSet(kProps, &ctx_, TWTOKEN_BASESTAMP, stamp, 0), TWSUCCESS);
  EXPECT_EQ(ctx_.baseStamp.date, when.date);
  EXPECT_EQ(ctx_.baseStamp.ticks, when.ticks);
  EXPECT_EQ(DispatchSet(kProps, &ctx_, TWTOKEN_BASESTAMP, Field(TWTYPE_DATETIME), 0), TWSUCCESS);
  EXPECT_EQ(ctx_.baseStamp.date, 0u);
  EXPECT_EQ(ctx_.baseStamp.ticks, 0u);

  // Text comes in the context's format.
  EXPECT_EQ(DispatchSet(kProps, &ctx_, TWTOKEN_SERVER, TextField("x"), TWSTREAMFMT_UNICODE),
            TWSUCCESS);
  EXPECT_EQ(ctx_.server.format, static_cast<uint32_t>(TWSTREAMFMT_UNICODE));
  EXPECT_EQ(Bytes(ctx_.server), std::string("x\0", 2));
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

TEST_F(PropsTest, GetGivesEachKindAndUnsetStampsAsMinusOne) {
  // Nothing set: empty text, zero words, and a datetime of Julian day and ticks -1.
  EXPECT_EQ(Get(TWTOKEN_SERVER), "");
  EXPECT_EQ(Get(TWTOKEN_MAP_NAME), "0");
  EXPECT_EQ(Get(TWTOKEN_FIELD_LIST), "");
  TWFIELD stamp = Field(TWTYPE_DATETIME);
  ASSERT_EQ(DispatchGet(kProps, &ctx_, TWTOKEN_BASESTAMP, stamp), TWSUCCESS);
  TWDatetime out{};
  int32_t isNull = 0;
  ASSERT_EQ(TWFieldGetDatetime(stamp, 1, &out, &isNull), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&out), TWDTNULL_DATE);
  EXPECT_EQ(TWDatetimeGetTicks(&out), TWDTNULL_TIME);
  EXPECT_EQ(out.ticks, 0xFFFFFFFFu);

  TWDatetime when{};
  ASSERT_EQ(TWDatetimeSetConstant(&when, TWDTCONST_MAXIMUM), TWSUCCESS);
  ctx_.baseStamp = when;
  ASSERT_EQ(DispatchGet(kProps, &ctx_, TWTOKEN_BASESTAMP, stamp), TWSUCCESS);
  ASSERT_EQ(TWFieldGetDatetime(stamp, 1, &out, nullptr), TWSUCCESS);
  EXPECT_EQ(out.date, when.date);
  EXPECT_EQ(out.ticks, when.ticks);

  // TEXT_FORMAT reads though it has no row; integers into a field of another type convert.
  EXPECT_EQ(Get(TWTOKEN_TEXT_FORMAT), "65535");
  ctx_.commitFrequency = 1000;
  TWFIELD number = Field(TWTYPE_FLOAT);
  ASSERT_EQ(DispatchGet(kProps, &ctx_, 1, number), TWSUCCESS);
  double d = 0;
  ASSERT_EQ(TWFieldGetFloat(number, 1, &d, nullptr), TWSUCCESS);
  EXPECT_EQ(d, 1000.0);
  // The engine's answer for a field that cannot take the value is returned.
  EXPECT_EQ(DispatchGet(kProps, &ctx_, TWTOKEN_SERVER, TWNULLHANDLE), TWFAIL_INVALID_FIELD);
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

TEST_F(PropsTest, UnknownTokensAreLoggedAndAnsweredWith12555) {
  struct Case {
    const char* what;
    bool set;
    uint32_t token;
    std::string line;  // the log entry's text
  };
  const Case cases[] = {
      {"set TEXT_FORMAT", true, TWTOKEN_TEXT_FORMAT, "Invalid property 'TextFormat'"},
      {"get a set-only token", false, TWTOKEN_PASSWORD, "Invalid property 'Password'"},
      {"set a predefined token not served", true, TWTOKEN_INDEX, "Invalid property 'Index'"},
      {"get a predefined token not served", false, TWTOKEN_CONDITION,
       "Invalid property 'Condition'"},
      {"an own token beyond the table", true, 3, "Invalid property '0x00000003'"},
      {"a token with a link byte", false, TWTOKENF_SRC | TWTOKEN_SERVER,
       "Invalid property 'SrcServer'"},
      {"a control token", true, TWTOKEN_LIBRARY, "Invalid property 'Library'"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(TWActivityClearStatus(), TWSUCCESS);
    const twx::Property<Ctx>* found = &kProps[0];
    TWFIELD f = TextField("v");
    const uint32_t st = c.set ? DispatchSet(kProps, &ctx_, c.token, f, 0, &found)
                              : DispatchGet(kProps, &ctx_, c.token, f, &found);
    EXPECT_EQ(st, TWFAIL_INVALID_PROPERTY) << c.what;
    EXPECT_EQ(found, nullptr) << c.what;
    twtest::LastEntry last = twtest::LogLast();
    EXPECT_EQ(last.status, TWFAIL_INVALID_PROPERTY) << c.what;
    EXPECT_EQ(last.text, c.line) << c.what;
    EXPECT_EQ(TWActivityGetStatus(), TWFAIL_INVALID_PROPERTY) << c.what;
  }
  // Nothing was stored, and a null context is refused without a log entry.
  EXPECT_EQ(ctx_.server.length, 0u);
  ASSERT_EQ(TWActivityClearStatus(), TWSUCCESS);
  EXPECT_EQ(DispatchSet(kProps, static_cast<Ctx*>(nullptr), TWTOKEN_SERVER, TextField("x"), 0),
            TWFAIL_NULL_BUFFER);
  EXPECT_EQ(
      DispatchGet(kProps, static_cast<const Ctx*>(nullptr), TWTOKEN_SERVER, Field(TWTYPE_TEXT)),
      TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);
}

// A connection that keeps its values apart from itself, as the connectors do, and notes each
// follow-up the table runs.
struct Values {
  std::string label;
  std::string quote;
  TWStream note;
  int32_t width;
  int32_t retries;
};
struct Owner {
  Values values{};
  std::vector<std::string> followUps;
};
uint32_t WidthSet(Owner& owner, bool assigned) {
  owner.followUps.push_back(std::to_string(owner.values.width) + (assigned ? "" : " (null)"));
  return owner.values.width == 13 ? TWFAIL_OVERFLOW : TWSUCCESS;
}
constexpr twx::Property<Values, Owner> kOwnedRows[] = {
    twx::StringProperty(1, &Values::label, "Label").Default("none").Limits(0, 5),
    twx::StringProperty(2, &Values::quote, "Quote").KeepOnNull(),
    twx::TextProperty(3, &Values::note, "Note").Default("n/a").Unlisted(),
    twx::IntProperty(4, &Values::width, "Width").Default(80).Limits(1, 200).OnSet(&WidthSet),
    twx::IntProperty(5, &Values::retries, "Retries").KeepOnNull(),
    twx::ConstantProperty<Values>(TWTOKEN_TEXT_FORMAT, TWSTREAMFMT_NATIVE),
};

TEST_F(PropsTest, RowsCarryDefaultsLimitsAndFollowUps) {
  Owner owner;
  auto text = [&](uint32_t token) {
    const twx::Property<Values, Owner>* row = twx::FindProperty(kOwnedRows, token, twx::kGet);
    if (row == nullptr) return std::string("<unknown>");
    TWFIELD f = Field(TWTYPE_TEXT);
    Text out;
    if (twx::GetProperty(*row, owner.values, f) != TWSUCCESS ||
        TWFieldGetStream(f, 1, TWSTREAMFMT_NATIVE, out.get(), nullptr) != TWSUCCESS)
      return std::string("<fail>");
    return out.str();
  };
  twx::ApplyDefaults(kOwnedRows, owner.values);
  EXPECT_EQ(text(1), "none");
  EXPECT_EQ(text(3), "n/a");
  EXPECT_EQ(text(4), "80");
  EXPECT_EQ(text(5), "0");
  EXPECT_EQ(text(TWTOKEN_TEXT_FORMAT), "65535");

  struct Case {
    const char* what;
    uint32_t token;
    TWFIELD value;
    uint32_t status;
    std::string after;  // the property read back as text
  };
  const Case cases[] = {
      {"text within its limit", 1, TextField("short"), TWSUCCESS, "short"},
      {"text over its limit is refused", 1, TextField("longer"), TWFAIL_PROPERTY_VALUE, "short"},
      {"null text empties", 1, Field(TWTYPE_TEXT), TWSUCCESS, ""},
      {"kept text", 2, TextField("\""), TWSUCCESS, "\""},
      {"kept text stays on null", 2, Field(TWTYPE_TEXT), TWSUCCESS, "\""},
      {"integer in range", 4, IntField(120), TWSUCCESS, "120"},
      {"integer below range is refused", 4, IntField(0), TWFAIL_PROPERTY_VALUE, "120"},
      {"integer above range is refused", 4, IntField(201), TWFAIL_PROPERTY_VALUE, "120"},
      {"a failing follow-up is answered", 4, IntField(13), TWFAIL_OVERFLOW, "13"},
      {"null integer zeroes, follow-up told", 4, Field(TWTYPE_INT), TWSUCCESS, "0"},
      {"kept integer", 5, IntField(3), TWSUCCESS, "3"},
      {"kept integer stays on null", 5, Field(TWTYPE_INT), TWSUCCESS, "3"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(TWActivityClearStatus(), TWSUCCESS);
    const twx::Property<Values, Owner>* row = twx::FindProperty(kOwnedRows, c.token, twx::kSet);
    ASSERT_NE(row, nullptr) << c.what;
    EXPECT_EQ(twx::SetProperty(*row, owner, owner.values, c.value, TWSTREAMFMT_NATIVE), c.status)
        << c.what;
    EXPECT_EQ(text(c.token), c.after) << c.what;
    if (c.status == TWFAIL_PROPERTY_VALUE) {
      EXPECT_EQ(twtest::LogLast().status, TWFAIL_PROPERTY_VALUE) << c.what;
    }
  }
  // Refused values run no follow-up.
  EXPECT_EQ(owner.followUps, (std::vector<std::string>{"120", "13", "0 (null)"}));
  // A constant is never set.
  EXPECT_EQ(twx::FindProperty(kOwnedRows, TWTOKEN_TEXT_FORMAT, twx::kSet), nullptr);

  // Exactly the listed rows and the end row, whatever is served without a row.
  constexpr auto rows = twx::DefinitionRows<kOwnedRows>();
  static_assert(rows.size() == 6);
  EXPECT_EQ(rows[2].token, 4u);
  EXPECT_STREQ(rows[2].name, "Width");
  EXPECT_EQ(rows[4].token, static_cast<uint32_t>(TWTOKEN_TEXT_FORMAT));
  EXPECT_EQ(rows[5].token, 0u);
  twx::ReleaseProperties(kOwnedRows, owner.values);
}

TEST(KeyOperatorTest, FollowsTheKeyFlags) {
  constexpr uint32_t K = TWFIELDF_KEY, GT = TWFIELDF_KEY_GT, LT = TWFIELDF_KEY_LT,
                     NE = TWFIELDF_KEY_NE;
  struct Case {
    uint32_t flags;
    const char* op;
    const char* lessFirst;  // the ODBC connector's order
  };
  const Case cases[] = {
      {K, "=", "="},
      {K | GT, ">=", ">="},
      {K | GT | LT, ">=", ">="},
      {K | LT, "<=", "<="},
      {K | GT | NE, ">", ">"},
      {K | GT | LT | NE, ">", "<"},
      {K | LT | NE, "<", "<"},
      {K | NE, "<>", "<>"},
      {K | TWFIELDF_NO_UPDATE | TWFIELDF_TRUNC_DATA, "=", "="},
      {0, "", ""},
      {GT | NE, "", ""},  // not a key field: no term
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tw::twx::KeyOperator(c.flags), c.op) << std::hex << c.flags;
    EXPECT_EQ(tw::twx::KeyOperator(c.flags, tw::twx::KeyOrder::kLessFirstWhenNotEqual), c.lessFirst)
        << std::hex << c.flags;
  }
}

TEST(KeyTermTest, WalksTheKeyFieldsInOrder) {
  twtest::Installation inst;
  twtest::FieldList keys(1);
  keys.AddText("Region", {"N"}, TWFIELDF_KEY);
  keys.AddText("Note", {"x"});
  keys.AddText("Seq", {"7"}, TWFIELDF_KEY | TWFIELDF_KEY_GT | TWFIELDF_KEY_NE);
  keys.AddText("Stamp", {"t"}, TWFIELDF_KEY | TWFIELDF_KEY_LT);
  std::vector<std::string> terms;
  auto collect = [&](TWFIELD field, uint32_t index, const TWStream& name,
                     std::string_view op) -> uint32_t {
    Text value;
    EXPECT_EQ(TWFieldGetStream(field, 1, TWSTREAMFMT_NATIVE, value.get(), nullptr), TWSUCCESS);
    terms.push_back(std::to_string(index) + ":" +
                    std::string(static_cast<const char*>(name.data), name.length) +
                    std::string(op) + value.str());
    return TWSUCCESS;
  };
  EXPECT_EQ(tw::twx::ForEachKeyTerm(keys.get(), TWSTREAMFMT_NATIVE, collect), TWSUCCESS);
  EXPECT_EQ(terms, (std::vector<std::string>{"1:Region=N", "3:Seq>7", "4:Stamp<=t"}));

  // The first non-zero answer stops the walk and is answered.
  terms.clear();
  auto stop = [&](TWFIELD, uint32_t index, const TWStream&, std::string_view) -> uint32_t {
    terms.push_back(std::to_string(index));
    return index == 3 ? TWFAIL_OVERFLOW : TWSUCCESS;
  };
  EXPECT_EQ(tw::twx::ForEachKeyTerm(keys.get(), 0, stop), TWFAIL_OVERFLOW);
  EXPECT_EQ(terms, (std::vector<std::string>{"1", "3"}));

  // No list, or no key fields: no term.
  terms.clear();
  EXPECT_EQ(tw::twx::ForEachKeyTerm(TWNULLHANDLE, 0, collect), TWSUCCESS);
  twtest::FieldList plain(1);
  plain.AddText("Note", {"x"});
  EXPECT_EQ(tw::twx::ForEachKeyTerm(plain.get(), 0, collect), TWSUCCESS);
  EXPECT_TRUE(terms.empty());
  EXPECT_EQ(tw::twx::ForEachKeyTerm(keys.get(), 0, nullptr, nullptr), TWFAIL_NULL_BUFFER);
}

TEST(IdentifyTest, CopiesTheRecord) {
  const TWXIdentity identity = {TWX_VERSION, TWX_KIND_CONNECTOR, TWX_IDENTITY_FLAGS, 0u,
                                sizeof(Ctx), TWSTREAMFMT_NATIVE, kRows.data()};
  TWXIdentity out{};
  EXPECT_EQ(tw::twx::Identify(identity, &out), TWSUCCESS);
  EXPECT_EQ(out.version, TWX_VERSION);
  EXPECT_EQ(out.kind, TWX_KIND_CONNECTOR);
  EXPECT_EQ(out.flags, TWX_IDENTITY_FLAGS);
  EXPECT_EQ(out.contextSize, sizeof(Ctx));
  EXPECT_EQ(out.textFormat, static_cast<uint32_t>(TWSTREAMFMT_NATIVE));
  EXPECT_EQ(out.properties, kRows.data());
  EXPECT_EQ(tw::twx::Identify(identity, nullptr), TWFAIL_NULL_RESULT);
}

// A block of records as parameter arrays: each parameter's elements as wide as its longest
// value (or its fixed size), values copied in so that a conversion buffer may be reused, nulls
// as kNull lengths, and a later block of fewer records laid out afresh.
TEST(TwxParams, ParameterBlockLaysOutColumns) {
  tw::twx::ParameterBlock block;
  block.Reset(2, 3);
  block.AtLeast(1, 4);
  std::string buffer = "ab";
  block.Set(0, 0, buffer.data(), 2, false);
  buffer = "xyz";  // the same buffer, reused for the next record
  block.Set(0, 1, buffer.data(), 3, false);
  block.Set(0, 2, nullptr, 0, true);
  const int32_t numbers[] = {7, -1};
  block.Set(1, 0, &numbers[0], 4, false);
  block.Set(1, 1, nullptr, 0, true);
  block.Set(1, 2, &numbers[1], 4, false);
  block.Pack(3);
  ASSERT_EQ(block.Width(0), 3u);
  ASSERT_EQ(block.Width(1), 4u);
  const char* text = static_cast<const char*>(block.Data(0));
  EXPECT_EQ(std::string(text, 2), "ab");
  EXPECT_EQ(std::string(text + 3, 3), "xyz");
  EXPECT_EQ(std::vector<int64_t>(block.Lengths(0), block.Lengths(0) + 3),
            (std::vector<int64_t>{2, 3, tw::twx::ParameterBlock::kNull}));
  int32_t third = 0;
  std::memcpy(&third, static_cast<const char*>(block.Data(1)) + 8, 4);
  EXPECT_EQ(third, -1);
  EXPECT_EQ(block.Lengths(1)[1], tw::twx::ParameterBlock::kNull);

  block.Reset(1, 1);
  block.Set(0, 0, "q", 1, false);
  block.Pack(1);
  EXPECT_EQ(block.Width(0), 1u);
  EXPECT_EQ(*static_cast<const char*>(block.Data(0)), 'q');
}

// Arrays bound to a client library stay valid only while the block keeps them where they
// were: each Pack tells whether any array moved or changed width since the Pack before.
TEST(TwxParams, ParameterBlockTellsWhenArraysMove) {
  struct Step {
    size_t parameters, rows;
    std::string value;  // every row's value of every parameter
    bool moved;
  };
  const Step kSteps[] = {
      {2, 4, "abc", true},     // the first layout
      {2, 4, "xyz", false},    // the same widths and rows: the arrays stay bound
      {2, 3, "xy", false},     // fewer rows in the same room and a value within the width
      {2, 4, "abcd", true},    // wider
      {2, 64, "abcd", true},   // more rows than the arrays had room for
      {3, 64, "abcd", true},   // another parameter
      {2, 64, "abcd", true},   // one less
      {2, 64, "ab", true},     // narrower
  };
  tw::twx::ParameterBlock block;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(std::to_string(step.parameters) + " x " + std::to_string(step.rows) + " " +
                 step.value);
    block.Reset(step.parameters, step.rows);
    for (size_t p = 0; p < step.parameters; ++p) {
      block.AtLeast(p, 3);
      for (size_t r = 0; r < step.rows; ++r)
        block.Set(p, r, step.value.data(), static_cast<int64_t>(step.value.size()), false);
    }
    block.Pack(step.rows);
    EXPECT_EQ(block.Moved(), step.moved);
    EXPECT_EQ(std::string(static_cast<const char*>(block.Data(step.parameters - 1)) +
                              block.Width(step.parameters - 1) * (step.rows - 1),
                          step.value.size()),
              step.value);
  }
}

TEST(TwxParams, PreparedTextHoldsOneText) {
  tw::twx::PreparedText prepared;
  EXPECT_FALSE(prepared.Holds(""));
  prepared.Hold("INSERT INTO t VALUES (?)");
  EXPECT_TRUE(prepared.Holds("INSERT INTO t VALUES (?)"));
  EXPECT_FALSE(prepared.Holds("INSERT INTO u VALUES (?)"));
  prepared.Forget();
  EXPECT_FALSE(prepared.Holds("INSERT INTO t VALUES (?)"));
}

}  // namespace
