// Item values: the list layouts byte by byte, every truncation of a stored list, the
// conversions between kinds, numbers and date-times as text, and the API's value calls
// (conversion, text lists, translation, country settings, environment strings).
#include "value.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "flowcore.h"
#include "plat_test_util.h"
#include "plexapi.h"
#include "richtext.h"
#include "timedate.h"
#include "zone_test_util.h"

namespace {

using plexatest::ScopedZone;

using plexa::Value;

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
  std::vector<uint8_t> v;
  for (int c : b) v.push_back(static_cast<uint8_t>(c));
  return v;
}

GVTIMEDATE Time(int y, int mo, int d, int h, int mi, int s, int hh, int zone = -5, int dst = 0) {
  GVTIMEPARTS p{y, mo, d, 0, h, mi, s, hh, dst, zone};
  GVTIMEDATE v{};
  EXPECT_EQ(GVDatetimeCreate(&p, &v), 0u);
  return v;
}

// Default country settings for the test's scope, whatever the data root holds.
class ValueConversion : public ::testing::Test {
 protected:
  void SetUp() override { plexa::OverrideInternational(std::make_shared<plexa::International>()); }
  void TearDown() override { plexa::OverrideInternational(nullptr); }
};

// ---------------------------------------------------------------- layouts ----------------

TEST(ValueLayout, StoredBytesBuiltByHand) {
  const GVTIMEDATE t = Time(1996, 11, 5, 14, 7, 9, 0);
  struct Case {
    const char* what;
    Value value;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"number 2.0", Value::Number(2.0), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40})},
      {"text ab", Value::Text("ab"), Bytes({1, 0, 2, 0, 'a', 'b'})},
      {"empty text", Value::Text(""), Bytes({1, 0, 0, 0})},
      {"text list", Value::TextList({"a", "bc"}), Bytes({2, 0, 1, 0, 2, 0, 'a', 'b', 'c'})},
      {"empty text list", Value::TextList({}), Bytes({0, 0})},
      {"number list", Value::NumberList({1.0, -2.0}),
       Bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0})},
      {"empty number list", Value::NumberList({}), Bytes({0, 0, 0, 0})},
      {"time", Value::Time(t), Bytes({1, 0, 0, 0, 0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B})},
      {"time list", Value::TimeList({t, t}),
       Bytes({2,    0,    0,    0,    0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63,
              0x25, 0x7B, 0x14, 0x8F, 0x4D, 0x00, 0xD9, 0x63, 0x25, 0x7B})},
      {"rich text", Value::Composite(std::string("\x81\x02", 2)), Bytes({0x81, 0x02})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plexa::EncodeItem(c.value), c.bytes) << c.what;
    Value back;
    ASSERT_EQ(plexa::DecodeItem(c.value.type, c.bytes, back), 0u) << c.what;
    EXPECT_EQ(plexa::EncodeItem(back), c.bytes) << c.what;
    EXPECT_EQ(back.Count(), c.value.Count()) << c.what;
  }
}

TEST(ValueLayout, RangesSurviveADecodeAndEncode) {
  // One value and one range pair {3, 4}.
  const std::vector<uint8_t> list =
      Bytes({1, 0, 1, 0, 0,    0,    0, 0, 0, 0, 0xF0, 0x3F, 0,    0,
             0, 0, 0, 0, 0x08, 0x40, 0, 0, 0, 0, 0,    0,    0x10, 0x40});
  Value v;
  ASSERT_EQ(plexa::DecodeItem(GVTYPE_NUMBER_LIST, list, v), 0u);
  EXPECT_EQ(v.numbers, std::vector<double>{1.0});
  EXPECT_EQ(v.numberRanges, (std::vector<double>{3.0, 4.0}));
  EXPECT_EQ(plexa::EncodeItem(v), list);
}

TEST(ValueLayout, EveryTruncationOfAStoredListIsRefused) {
  const Value values[] = {Value::Text("abc"), Value::TextList({"a", "", "xyz"}),
                          Value::NumberList({1, 2, 3}), Value::Number(7),
                          Value::TimeList({Time(2000, 1, 1, 0, 0, 0, 0)})};
  for (const Value& v : values) {
    const std::vector<uint8_t> bytes = plexa::EncodeItem(v);
    for (size_t n = 0; n < bytes.size(); ++n) {
      Value out = Value::Text("unchanged");
      EXPECT_EQ(plexa::DecodeItem(v.type, std::span(bytes.data(), n), out), GVERR_INVALID_ARGUMENT)
          << v.type << " cut at " << n;
      EXPECT_EQ(out.texts, std::vector<std::string>{"unchanged"});
    }
    // Bytes past the end of a list are not part of it.
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0xEE);
    Value out;
    EXPECT_EQ(plexa::DecodeItem(v.type, longer, out), 0u);
    EXPECT_EQ(plexa::EncodeItem(out), bytes);
  }
  // A single type holds exactly one entry; an unknown type has no layout.
  Value out;
  EXPECT_EQ(plexa::DecodeItem(GVTYPE_NUMBER, Bytes({0, 0, 0, 0}), out), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(plexa::DecodeItem(9, Bytes({0, 0}), out), GVERR_INVALID_ARGUMENT);
}

TEST(ValueLayout, ListsBeyondSixteenBitWords) {
  Value big = Value::TextList({std::string(70000, 'x')});
  std::vector<uint8_t> out;
  EXPECT_EQ(plexa::EncodeItem(big, out), GVERR_TOO_BIG);
  // The cutting form keeps the layout valid.
  const std::vector<uint8_t> cut = plexa::EncodeItem(big);
  Value back;
  ASSERT_EQ(plexa::DecodeItem(GVTYPE_TEXT_LIST, cut, back), 0u);
  EXPECT_EQ(back.texts[0].size(), 65535u);
}

// ---------------------------------------------------------------- conversions ------------

TEST_F(ValueConversion, NumbersAsText) {
  struct Case {
    double number;
    const char* text;
  } cases[] = {{0, "0"},
               {-0.0, "0"},
               {2, "2"},
               {-12.5, "-12.5"},
               {0.1, "0.1"},
               {1.0 / 3, "0.333333333333333"},
               {123456789012345678.0, "123456789012346000"},
               {1e20, "1e+20"},
               {1e15, "1e+15"},
               {123456789012345.0, "123456789012345"},
               {0.0001, "0.0001"},
               {0.00001, "1e-05"},
               {1.5e-300, "1.5e-300"},
               {-1234567.125, "-1234567.125"},
               {131072, "131072"}};
  for (const Case& c : cases) {
    std::string s;
    ASSERT_EQ(plexa::NumberToText(c.number, s), 0u);
    EXPECT_EQ(s, c.text);
    // Read back and written again: the same text.
    double back = 0;
    ASSERT_EQ(plexa::TextToNumber(s, *plexa::CurrentInternational(), back), 0u) << s;
    std::string again;
    ASSERT_EQ(plexa::NumberToText(back, again), 0u);
    EXPECT_EQ(again, s);
  }
  // The engine writes the same text, so that lists pass between the two unchanged.
  for (const Case& c : cases) {
    TWStream s{};
    ASSERT_EQ(TWStreamFromFloat(&s, &c.number, TWSTREAMFMT_NATIVE), 0u);
    EXPECT_EQ(std::string(static_cast<const char*>(s.data), s.length), c.text);
    TWStreamDataFree(&s);
  }
  std::string s;
  EXPECT_EQ(plexa::NumberToText(std::nan(""), s), GVERR_ITEM_KIND);
  EXPECT_EQ(plexa::NumberToText(INFINITY, s), GVERR_ITEM_KIND);
}

TEST_F(ValueConversion, TextAsNumbers) {
  plexa::International comma;
  comma.decimal = ",";
  struct Case {
    const char* text;
    bool commaDecimal;
    uint32_t status;
    double number;
  } cases[] = {{" 3.5 ", false, 0, 3.5},
               {"-2e3", false, 0, -2000},
               {"+.5", false, 0, 0.5},
               {"7.", false, 0, 7},
               {"1,5", true, 0, 1.5},
               {"1e-400", false, 0, 0},
               {"abc", false, GVERR_ITEM_KIND, 0},
               {"", false, GVERR_ITEM_KIND, 0},
               {"1e", false, GVERR_ITEM_KIND, 0},
               {"1 2", false, GVERR_ITEM_KIND, 0},
               {"1e999", false, GVERR_ITEM_KIND, 0},
               {"inf", false, GVERR_ITEM_KIND, 0},
               {"0x10", false, GVERR_ITEM_KIND, 0},
               {"1,5", false, GVERR_ITEM_KIND, 0}};
  for (const Case& c : cases) {
    double d = -99;
    EXPECT_EQ(
        plexa::TextToNumber(c.text, c.commaDecimal ? comma : *plexa::CurrentInternational(), d),
        c.status)
        << c.text;
    EXPECT_EQ(d, c.status == 0 ? c.number : -99) << c.text;
  }
}

TEST_F(ValueConversion, DateTimesAsTextInTheSettings) {
  const GVTIMEDATE t = Time(1996, 11, 5, 14, 7, 9, 0);
  const GVTIMEDATE midnight = Time(2024, 1, 2, 0, 0, 5, 7);
  plexa::International dmy24;
  dmy24.dateOrder = GVINTL_DATE_DMY;
  dmy24.flags |= GVINTL_24HOUR;
  dmy24.date = ".";
  plexa::International ymd;
  ymd.dateOrder = GVINTL_DATE_YMD;
  ymd.am = "vm";
  ymd.pm = "nm";
  struct Case {
    GVTIMEDATE value;
    const plexa::International* intl;
    const char* text;
  } cases[] = {
      {t, nullptr, "11/05/1996 02:07:09 PM"},
      {midnight, nullptr, "01/02/2024 12:00:05.07 AM"},
      {t, &dmy24, "05.11.1996 14:07:09"},
      {t, &ymd, "1996/11/05 02:07:09 nm"},
      {Time(1996, 11, 5, -1, -1, -1, -1), nullptr, "11/05/1996"},
      {Time(-1, -1, -1, 23, 59, 59, 99), &dmy24, "23:59:59.99"},
      {Time(-1, -1, -1, -1, -1, -1, -1), nullptr, ""},
  };
  for (const Case& c : cases) {
    const plexa::International& intl = c.intl ? *c.intl : *plexa::CurrentInternational();
    std::string s;
    ASSERT_EQ(plexa::TimeToText(c.value, intl, s), 0u);
    EXPECT_EQ(s, c.text);
    // Read back in the same settings: the same wall clock.
    GVTIMEDATE back{};
    ASSERT_EQ(plexa::TextToTime(s, intl, back), 0u) << s;
    GVTIMEPARTS a{};
    GVTIMEPARTS b{};
    ASSERT_EQ(GVDatetimeFetch(&c.value, &a), 0u);
    ASSERT_EQ(GVDatetimeFetch(&back, &b), 0u);
    EXPECT_EQ(std::tie(a.year, a.month, a.day, a.hour, a.minute, a.second, a.hundredth),
              std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second, b.hundredth))
        << s;
  }
}

TEST_F(ValueConversion, TextReadAsADateTime) {
  const plexa::International& intl = *plexa::CurrentInternational();
  struct Case {
    const char* text;
    bool ok;
    GVTIMEPARTS want;  // y m d - h mi s hh
  } cases[] = {
      {"1996-11-05 14:07:09", true, {1996, 11, 5, 0, 14, 7, 9, 0, 0, 0}},
      {"1996-11-05T14:07", true, {1996, 11, 5, 0, 14, 7, 0, 0, 0, 0}},
      {"1996-11-05 14:07:09.5", true, {1996, 11, 5, 0, 14, 7, 9, 50, 0, 0}},
      {"11/05/96 2:07 pm", true, {1996, 11, 5, 0, 14, 7, 0, 0, 0, 0}},
      {"1/2/49", true, {2049, 1, 2, 0, -1, -1, -1, -1, 0, 0}},
      {"12:00 AM", true, {-1, -1, -1, 0, 0, 0, 0, 0, 0, 0}},
      {"", true, {-1, -1, -1, 0, -1, -1, -1, -1, 0, 0}},
      {"2023-02-29", false, {}},
      {"13/01/2023", false, {}},
      {"25:00", false, {}},
      {"1996-11-05 14:07 junk", false, {}},
      {"1996-11-0514:07", false, {}},
      {"soon", false, {}},
  };
  for (const Case& c : cases) {
    GVTIMEDATE v{7, 7};
    const uint32_t st = plexa::TextToTime(c.text, intl, v);
    if (!c.ok) {
      EXPECT_EQ(st, GVERR_ITEM_KIND) << c.text;
      EXPECT_EQ(v.ticks, 7u) << c.text;
      continue;
    }
    ASSERT_EQ(st, 0u) << c.text;
    GVTIMEPARTS p{};
    ASSERT_EQ(GVDatetimeFetch(&v, &p), 0u);
    EXPECT_EQ(std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.hundredth),
              std::tie(c.want.year, c.want.month, c.want.day, c.want.hour, c.want.minute,
                       c.want.second, c.want.hundredth))
        << c.text;
  }
}

// The entries of a converted value as one line of text, for compact expectations.
std::string Show(const Value& v) {
  std::string s = std::to_string(v.type) + ":";
  for (const std::string& t : v.texts) s += "[" + t + "]";
  for (double d : v.numbers) {
    std::string n;
    // A value that cannot be shown as text shows as empty.
    (void)plexa::NumberToText(d, n);
    s += "<" + n + ">";
  }
  for (const GVTIMEDATE& t : v.times) {
    std::string n;
    (void)plexa::TimeToText(t, *plexa::CurrentInternational(), n);
    s += "{" + n + "}";
  }
  if (v.type == GVTYPE_COMPOSITE) {
    std::string n;
    (void)plexa::rt::ToText(v.records, n);
    s += "~" + n + "~";
  }
  return s;
}

TEST_F(ValueConversion, ConversionsBetweenKinds) {
  const GVTIMEDATE t = Time(1996, 11, 5, 14, 7, 9, 0);
  struct Case {
    Value in;
    uint32_t to;
    uint32_t status;
    const char* want;
  } cases[] = {
      {Value::Number(2.5), GVTYPE_TEXT, 0, "2:[2.5]"},
      {Value::Number(2.5), GVTYPE_NUMBER_LIST, 0, "5:<2.5>"},
      {Value::Number(2.5), GVTYPE_TEXT_LIST, 0, "4:[2.5]"},
      {Value::NumberList({1, 2}), GVTYPE_NUMBER, 0, "1:<1>"},
      {Value::NumberList({1, 2}), GVTYPE_TEXT, 0, "2:[1, 2]"},
      {Value::NumberList({}), GVTYPE_NUMBER, GVERR_NO_VALUE, ""},
      {Value::NumberList({}), GVTYPE_TEXT, 0, "2:[]"},
      {Value::Text(" 4 "), GVTYPE_NUMBER, 0, "1:<4>"},
      {Value::Text("1, 2,,3 "), GVTYPE_NUMBER_LIST, 0, "5:<1><2><3>"},
      {Value::Text("a, b ,, c"), GVTYPE_TEXT_LIST, 0, "4:[a][b][c]"},
      {Value::Text(""), GVTYPE_TEXT_LIST, 0, "4:"},
      {Value::TextList({"a", "b"}), GVTYPE_TEXT, 0, "2:[a, b]"},
      {Value::TextList({"a", "b"}), GVTYPE_TEXT_LIST, 0, "4:[a][b]"},
      {Value::TextList({"3", "x"}), GVTYPE_NUMBER, 0, "1:<3>"},
      {Value::TextList({"3", "x"}), GVTYPE_NUMBER_LIST, GVERR_ITEM_KIND, ""},
      {Value::TextList({}), GVTYPE_NUMBER, GVERR_NO_VALUE, ""},
      {Value::Text("x"), GVTYPE_NUMBER, GVERR_ITEM_KIND, ""},
      {Value::Time(t), GVTYPE_TEXT, 0, "2:[11/05/1996 02:07:09 PM]"},
      {Value::TimeList({t, t}), GVTYPE_TEXT, 0,
       "2:[11/05/1996 02:07:09 PM, 11/05/1996 02:07:09 PM]"},
      {Value::Text("1996-11-05 14:07:09"), GVTYPE_TIME, 0, "3:{11/05/1996 02:07:09 PM}"},
      {Value::Time(t), GVTYPE_NUMBER, GVERR_ITEM_KIND, ""},
      {Value::Number(1), GVTYPE_TIME_LIST, GVERR_ITEM_KIND, ""},
      {Value::Composite(plexa::rt::FromText("a\nb")), GVTYPE_TEXT, 0, "2:[a\nb]"},
      {Value::Composite(plexa::rt::FromText("a\nb")), GVTYPE_TEXT_LIST, 0, "4:[a][b]"},
      {Value::Composite(plexa::rt::FromText(" 12 ")), GVTYPE_NUMBER, 0, "1:<12>"},
      {Value::Text("a\nb"), GVTYPE_COMPOSITE, 0, "7:~a\nb~"},
      {Value::TextList({"a", "b"}), GVTYPE_COMPOSITE, 0, "7:~a\nb~"},
      {Value::Unavailable(), GVTYPE_NUMBER, GVERR_ITEM_KIND, ""},
      {Value::Unavailable(), GVTYPE_TEXT, 0, "2:[]"},
      {Value::Composite("bad"), GVTYPE_TEXT, GVERR_COMPOSITE, ""},
  };
  for (const Case& c : cases) {
    Value out = Value::Text("before");
    EXPECT_EQ(plexa::Convert(c.in, c.to, out), c.status) << Show(c.in) << " -> " << c.to;
    EXPECT_EQ(Show(out), c.status == 0 ? std::string(c.want) : "2:[before]")
        << Show(c.in) << " -> " << c.to;
  }
  Value other;
  other.type = GVTYPE_OTHER;
  other.records = "raw";
  Value out;
  EXPECT_EQ(plexa::Convert(other, GVTYPE_TEXT, out), GVERR_ITEM_KIND);
  EXPECT_EQ(plexa::Convert(Value::Text("x"), GVTYPE_OTHER, out), GVERR_ITEM_KIND);
  EXPECT_EQ(plexa::Convert(Value::Text("x"), 0, out), GVERR_ITEM_KIND);
  EXPECT_EQ(plexa::Convert(other, GVTYPE_OTHER, out), 0u);
  EXPECT_EQ(out.records, "raw");
}

// ---------------------------------------------------------------- API calls -------------

TEST_F(ValueConversion, ConvertThroughTheApi) {
  // A date-time as the log line's text, exactly as long as it needs (NUL included).
  const GVTIMEDATE t = Time(1996, 11, 5, 14, 7, 9, 0);
  uint32_t length = 0;
  ASSERT_EQ(GVConvertGetLength(GVTYPE_TIME, &t, 0, GVTYPE_TEXT, &length), 0u);
  EXPECT_EQ(length, 22u);
  char small[22];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(GVConvert(GVTYPE_TIME, &t, 0, GVTYPE_TEXT, small, sizeof small, &length),
            GVERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(small[0], 'x');
  char text[23];
  uint32_t written = 0;
  ASSERT_EQ(GVConvert(GVTYPE_TIME, &t, 0, GVTYPE_TEXT, text, sizeof text, &written), 0u);
  EXPECT_STREQ(text, "11/05/1996 02:07:09 PM");
  EXPECT_EQ(written, 22u);

  // A number from text given up to its NUL, and with an explicit length.
  double d = 0;
  ASSERT_EQ(GVConvert(GVTYPE_TEXT, "12.5", 0, GVTYPE_NUMBER, &d, sizeof d, nullptr), 0u);
  EXPECT_EQ(d, 12.5);
  ASSERT_EQ(GVConvert(GVTYPE_TEXT, "12.5", 2, GVTYPE_NUMBER, &d, sizeof d, nullptr), 0u);
  EXPECT_EQ(d, 12.0);

  // The RunActivity wire list: validated as it is (4 from 4), and read as text (2 from 4).
  const std::vector<uint8_t> list = Bytes({2, 0, 3, 0, 4, 0, 'o', 'n', 'e', 'f', 'o', 'u', 'r'});
  std::vector<uint8_t> copy(64, 0xEE);
  ASSERT_EQ(GVConvert(GVTYPE_TEXT_LIST, list.data(), 0, GVTYPE_TEXT_LIST, copy.data(),
                      static_cast<uint32_t>(copy.size()), &written),
            0u);
  EXPECT_EQ(written, list.size());
  EXPECT_EQ(std::vector<uint8_t>(copy.begin(), copy.begin() + written), list);
  EXPECT_EQ(copy[written], 0xEE);
  ASSERT_EQ(GVConvert(GVTYPE_TEXT_LIST, list.data(), static_cast<uint32_t>(list.size()),
                      GVTYPE_TEXT, text, sizeof text, nullptr),
            0u);
  EXPECT_STREQ(text, "one, four");
  const std::vector<uint8_t> bad = Bytes({2, 0, 3, 0, 9, 0, 'o', 'n', 'e'});
  EXPECT_EQ(GVConvert(GVTYPE_TEXT_LIST, bad.data(), static_cast<uint32_t>(bad.size()),
                      GVTYPE_TEXT_LIST, copy.data(), 64, nullptr),
            GVERR_INVALID_ARGUMENT);

  // Arguments.
  EXPECT_EQ(GVConvert(GVTYPE_TEXT, nullptr, 0, GVTYPE_TEXT, text, sizeof text, nullptr),
            GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVConvert(GVTYPE_TEXT, "x", 0, GVTYPE_TEXT, nullptr, 10, nullptr),
            GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVConvert(GVTYPE_TEXT, "x", 0, 99, text, sizeof text, nullptr), GVERR_ITEM_KIND);
  EXPECT_EQ(GVConvert(77, "x", 0, GVTYPE_TEXT, text, sizeof text, nullptr), GVERR_ITEM_KIND);
  EXPECT_EQ(GVConvertGetLength(GVTYPE_TEXT, "x", 0, GVTYPE_TEXT, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVConvert(GVTYPE_NUMBER, &d, 0, GVTYPE_TEXT, text, 0, nullptr), GVERR_BUFFER_TOO_SMALL);
}

TEST(ValueApi, TextLists) {
  const std::vector<uint8_t> list = Bytes({3, 0, 2, 0, 0, 0, 4, 0, 'a', 'b', 'x', 0xC3, 0xA9, 'y'});
  const auto n = static_cast<uint32_t>(list.size());
  EXPECT_EQ(GVTextListGetCount(list.data(), n), 3u);
  char text[8];
  ASSERT_EQ(GVTextListFetch(list.data(), n, 1, text, sizeof text), 0u);
  EXPECT_STREQ(text, "ab");
  ASSERT_EQ(GVTextListFetch(list.data(), n, 2, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
  // Cut where a character begins: "x" and the two bytes of "é" do not fit in 2 + NUL.
  ASSERT_EQ(GVTextListFetch(list.data(), n, 3, text, 3), 0u);
  EXPECT_STREQ(text, "x");
  EXPECT_EQ(GVTextListFetch(list.data(), n, 0, text, sizeof text), GVERR_NO_ENTRY);
  EXPECT_EQ(GVTextListFetch(list.data(), n, 4, text, sizeof text), GVERR_NO_ENTRY);
  EXPECT_EQ(GVTextListFetch(list.data(), n, 1, text, 0), GVERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(GVTextListFetch(list.data(), n, 1, nullptr, 8), GVERR_INVALID_ARGUMENT);
  for (uint32_t cut = 0; cut < n; ++cut) {
    EXPECT_EQ(GVTextListGetCount(list.data(), cut), 0u) << cut;
    EXPECT_EQ(GVTextListFetch(list.data(), cut, 1, text, sizeof text), GVERR_INVALID_ARGUMENT);
  }
  EXPECT_EQ(GVTextListGetCount(nullptr, 10), 0u);
}

TEST(ValueApi, TranslateCopiesAndCutsOnCharacters) {
  struct Case {
    uint32_t textLength;
    const char* text;
    uint32_t capacity;
    const char* want;
  } cases[] = {
      {512, "server", 128, "server"},
      {3, "server", 128, "ser"},
      {512, "a\xC3\xA9z", 3, "a"},  // "é" would be cut in half
      {512, "a\xC3\xA9z", 4, "a\xC3\xA9"},
      {512, "", 1, ""},
      {0, "ignored", 8, ""},
  };
  for (const Case& c : cases) {
    char out[130];
    uint32_t length = 99;
    ASSERT_EQ(GVTranslate(GVTRANSLATE_TO_PLEXA, c.textLength, c.text, c.capacity, out, &length),
              0u);
    EXPECT_STREQ(out, c.want);
    EXPECT_EQ(length, std::strlen(c.want));
  }
  char out[8];
  EXPECT_EQ(GVTranslate(2, 1, "x", 8, out, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVTranslate(0, 1, nullptr, 8, out, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVTranslate(0, 1, "x", 0, out, nullptr), GVERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(GVTranslate(1, 1, "x", 8, nullptr, nullptr), GVERR_INVALID_ARGUMENT);
}

TEST(ValueApi, CountrySettingsFromTheDataRoot) {
  ScopedZone zone(plexatest::kNewYork);
  twtest::TempDir root;
  twtest::ScopedEnv env("PLEXA_ROOT", root.path().c_str());
  GVInternational intl;
  ASSERT_EQ(GVGetInternational(&intl), 0u);
  EXPECT_EQ(intl.dateOrder, GVINTL_DATE_MDY);
  EXPECT_EQ(intl.flags & GVINTL_24HOUR, 0u);
  EXPECT_EQ(intl.zone, 5);  // hours west
  EXPECT_STREQ(intl.am, "AM");
  EXPECT_STREQ(intl.date, "/");
  const time_t now = ::time(nullptr);
  struct tm tm {};
  ::localtime_r(&now, &tm);
  EXPECT_EQ((intl.flags & GVINTL_DAYLIGHT) != 0, tm.tm_isdst > 0);

  twtest::TempDir other;
  std::ofstream(other / "plexa.ini") << "[International]\nDateOrder=DMY\nClock24=1\n"
                                        "AM=morning\nDateSep=.\nDecimal=,\n";
  twtest::ScopedEnv env2("PLEXA_ROOT", other.path().c_str());
  ASSERT_EQ(GVGetInternational(&intl), 0u);
  EXPECT_EQ(intl.dateOrder, GVINTL_DATE_DMY);
  EXPECT_NE(intl.flags & GVINTL_24HOUR, 0u);
  EXPECT_STREQ(intl.am, "morni");  // at most five bytes
  EXPECT_STREQ(intl.date, ".");
  EXPECT_STREQ(intl.decimal, ",");
  EXPECT_STREQ(intl.pm, "PM");
  // The same settings write date-times.
  const GVTIMEDATE t = Time(1996, 11, 5, 14, 7, 9, 0);
  char text[32];
  ASSERT_EQ(GVConvert(GVTYPE_TIME, &t, 0, GVTYPE_TEXT, text, sizeof text, nullptr), 0u);
  EXPECT_STREQ(text, "05.11.1996 14:07:09");
  EXPECT_EQ(GVGetInternational(nullptr), GVERR_INVALID_ARGUMENT);
}

TEST(ValueApi, EnvironmentStringsNeedASession) {
  twtest::TempDir root;
  std::ofstream(root / "plexa.ini") << "[Environment]\nMailServer=relay\n";
  twtest::ScopedEnv env("PLEXA_ROOT", root.path().c_str());
  char text[GV_PATH_SIZE];
  EXPECT_EQ(GVGetEnvironmentString("Directory", 0, text), GVERR_NOT_INITIALIZED);
  ASSERT_EQ(_GVInit(GV_VERSION, 0, 0, 0), 0u);
  ASSERT_EQ(GVGetEnvironmentString("Directory", 0, text), 0u);
  EXPECT_EQ(std::string(text), root.path() + "local");
  ASSERT_EQ(GVGetEnvironmentString("MailServer", 0, text), 0u);
  EXPECT_STREQ(text, "relay");
  EXPECT_EQ(GVGetEnvironmentString("Nothing", 0, text), GVERR_NO_ENTRY);
  EXPECT_EQ(GVGetEnvironmentString(nullptr, 0, text), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVGetEnvironmentString("Directory", 0, nullptr), GVERR_INVALID_ARGUMENT);
  EXPECT_EQ(GVTerm(0), 0u);
}

}  // namespace
