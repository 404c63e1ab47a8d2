// Tests of CL_String's core: construction, assignment, concatenation, comparison,
// conversions, text streams, the change protocol of its mutators and its stored form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "base_test_util.h"
#include "twcl/base/object_stream.h"
#include "twcl/base/string.h"

namespace twcl_test {
namespace {

class Other : public CL_Object {
 public:
  using CL_Object::operator=;
  Other() = default;
  CL_Long ClassId() const override { return 1200; }
  const char* ClassName() const override { return "Other"; }
};

// ---------------------------------------------------------------------------------------
// Construction

TEST(StringConstructionTest, FromTextBufferAndRepetition) {
  EXPECT_EQ(Text(CL_String()), "");
  EXPECT_EQ(Text(CL_String(static_cast<const char*>(nullptr))), "");
  EXPECT_EQ(Text(CL_String("hello")), "hello");
  EXPECT_EQ(Text(CL_String("a\0b\0", 4)), std::string("a\0b\0", 4));  // NULs kept
  EXPECT_EQ(Text(CL_String("abc", 0)), "");
  EXPECT_EQ(Text(CL_String(nullptr, 3)), "");
  EXPECT_EQ(Text(CL_String("abc", -1)), "");
  EXPECT_EQ(Text(CL_String('x', 3)), "xxx");
  EXPECT_EQ(Text(CL_String('x', 0)), "");
  EXPECT_EQ(Text(CL_String('x', -2)), "");
  const CL_String original("copy");
  EXPECT_EQ(Text(CL_String(original)), "copy");
}

TEST(StringConstructionTest, NumberInAWidth) {
  struct Case {
    CL_Long value;
    short width;
    char pad;
    const char* text;
  };
  const Case cases[] = {
      {-42, 5, ' ', "  -42"},
      {-42, 5, '0', "-0042"},
      {0, 3, '0', "000"},
      {0, 1, ' ', "0"},
      {0, 0, '*', "0"},
      {0, -4, '*', "0"},
      {7, 4, '*', "***7"},
      {42, 1, ' ', "42"},  // never cut
      {-7, 2, '0', "-7"},
      {123456, 3, ' ', "123456"},
      {std::numeric_limits<CL_Long>::min(), 3, '0', "-2147483648"},
      {std::numeric_limits<CL_Long>::max(), 11, ' ', " 2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Text(CL_String(c.value, c.width, c.pad)), c.text);
  }
}

TEST(StringConstructionTest, Identity) {
  const CL_String s("abc");
  EXPECT_STREQ(s.ClassName(), "CL_String");
  EXPECT_EQ(s.ClassId(), 6);
  const std::unique_ptr<CL_Object> clone(s.Clone());
  ASSERT_EQ(clone->ClassId(), 6);
  EXPECT_EQ(Text(static_cast<CL_String&>(*clone)), "abc");
  EXPECT_NE(static_cast<CL_String&>(*clone).AsPtr(), s.AsPtr());
  EXPECT_EQ(Text(s.AsString()), "abc");
}

// ---------------------------------------------------------------------------------------
// Comparison

TEST(StringCompareTest, StringsCompareByStrcmp) {
  struct Case {
    const char* a;
    const char* b;
    short order;
  };
  const Case cases[] = {
      {"abc", "abd", -1}, {"abc", "abc", 0}, {"b", "abc", 1},  {"", "a", -1},
      {"ab", "abc", -1},  {"", "", 0},       {"\xE9", "e", 1},  // unsigned bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const CL_String a(c.a), b(c.b);
    EXPECT_EQ(a.Compare(b), c.order);
    EXPECT_EQ(a < b, c.order < 0);
    EXPECT_EQ(a <= b, c.order <= 0);
    EXPECT_EQ(a > b, c.order > 0);
    EXPECT_EQ(a >= b, c.order >= 0);
    EXPECT_EQ(a == b, c.order == 0);
    EXPECT_EQ(a != b, c.order != 0);
    // The same with a C string on the right.
    EXPECT_EQ(a < c.b, c.order < 0);
    EXPECT_EQ(a <= c.b, c.order <= 0);
    EXPECT_EQ(a > c.b, c.order > 0);
    EXPECT_EQ(a >= c.b, c.order >= 0);
    EXPECT_EQ(a == c.b, c.order == 0);
    EXPECT_EQ(a != c.b, c.order != 0);
  }
}

TEST(StringCompareTest, NullCStringCountsAsEmpty) {
  const char* none = nullptr;
  EXPECT_TRUE(CL_String() == none);
  EXPECT_TRUE(CL_String("a") > none);
  EXPECT_TRUE(CL_String("a") != none);
  EXPECT_FALSE(CL_String() < none);
}

TEST(StringCompareTest, AnotherClassIsNeverRelatedButOrderedByAddress) {
  const CL_String s("abc");
  const Other other;
  EXPECT_FALSE(s < other);
  EXPECT_FALSE(s <= other);
  EXPECT_FALSE(s > other);
  EXPECT_FALSE(s >= other);
  EXPECT_FALSE(s == other);
  EXPECT_TRUE(s != other);
  EXPECT_EQ(s.Compare(other), std::less<const void*>{}(&s, &other) ? -1 : 1);
  EXPECT_FALSE(s.CompareWith(static_cast<const CL_Object&>(other), CL_CmpNotEqual));
}

TEST(StringCompareTest, CompareWithOperators) {
  struct Case {
    const char* a;
    const char* b;
    short op;
    bool result;
  };
  const Case cases[] = {
      {"abc", "ab", CL_CmpPrefix, true},         {"abc", "bc", CL_CmpContains, true},
      {"ab", "abc", CL_CmpPrefix, false},        {"ab", "abc", CL_CmpContains, false},
      {"abc", "bc", CL_CmpPrefix, false},        {"abc", "", CL_CmpPrefix, true},
      {"abc", "", CL_CmpContains, true},         {"abcabd", "abd", CL_CmpContains, true},
      {"abc", "abc", CL_CmpEqual, true},         {"abc", "abd", CL_CmpLess, true},
      {"abd", "abc", CL_CmpGreater, true},       {"abc", "abc", CL_CmpLessEqual, true},
      {"abc", "abd", CL_CmpGreaterEqual, false}, {"abc", "abd", CL_CmpNotEqual, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " op " + std::to_string(c.op) + " " + c.b);
    const CL_String a(c.a), b(c.b);
    EXPECT_EQ(a.CompareWith(b, c.op), c.result);
    EXPECT_EQ(a.CompareWith(static_cast<const CL_Object&>(b), c.op), c.result);
  }
}

TEST(StringCompareTest, BadOperatorWarns) {
  WarningCapture capture;
  EXPECT_FALSE(CL_String("a").CompareWith(CL_String("a"), 8));
  EXPECT_THAT(capture.texts(), testing::ElementsAre("CL_String::CompareWith: bad operator 8"));
}

// ---------------------------------------------------------------------------------------
// Assignment and concatenation

TEST(StringAssignTest, FromEachKind) {
  CL_String s("start");
  EXPECT_TRUE(s.Assign("text"));
  EXPECT_EQ(Text(s), "text");
  EXPECT_TRUE(s.Assign(static_cast<const char*>(nullptr)));
  EXPECT_EQ(Text(s), "");
  EXPECT_TRUE(s.Assign(std::numeric_limits<CL_Long>::min()));
  EXPECT_EQ(Text(s), "-2147483648");
  EXPECT_TRUE(s.Assign(CL_String("a\0b", 3)));
  EXPECT_EQ(Text(s), std::string("a\0b", 3));
  EXPECT_TRUE(s.Assign(std::string(300, 'z').c_str()));  // grows
  EXPECT_EQ(Text(s), std::string(300, 'z'));
  EXPECT_TRUE(s.Assign("short"));  // shrinks the text
  EXPECT_EQ(Text(s), "short");
}

TEST(StringAssignTest, DoubleUsesCapacityForItsDigits) {
  struct Case {
    const char* start;  // decides the capacity, and so the significant digits
    double value;
    const char* text;
  };
  const Case cases[] = {
      {"", 1.0 / 3, "0.333333333333"},  // capacity 13: 12 digits
      {"", 0.5, "0.5"},
      {"", -2.5e20, "-2.5e+20"},
      {"0123456789012345678", 1.0 / 3, "0.3333333333333333148296162562474"},  // 31 digits
      {"0123456789012345678", -2.5e20, "-250000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CL_String s(c.start);
    EXPECT_TRUE(s.Assign(c.value));
    EXPECT_EQ(Text(s), c.text);
  }
  CL_String fresh;  // capacity 12: the minimum of 11 digits
  fresh.Assign(1.0 / 3);
  EXPECT_EQ(Text(fresh), "0.33333333333");
}

TEST(StringAssignTest, OverlappingSources) {
  CL_String s("abcdef");
  const char* own = s.AsPtr();
  Recorder recorder;
  recorder.Watch(s);
  EXPECT_TRUE(s.Assign(own));  // its own buffer: nothing happens
  EXPECT_EQ(recorder.pre + recorder.post, 0);
  EXPECT_TRUE(s.Assign(s));
  EXPECT_EQ(recorder.pre + recorder.post, 0);
  EXPECT_TRUE(s.Assign(own + 2));  // a tail of itself
  EXPECT_EQ(Text(s), "cdef");

  CL_String t("xy");
  for (int i = 0; i < 5; ++i) t += t;  // in place at first, then past the capacity
  std::string expected;
  for (int i = 0; i < 32; ++i) expected += "xy";
  EXPECT_EQ(Text(t), expected);
  t += t.AsPtr() + 60;  // a tail of itself
  EXPECT_EQ(Text(t), expected + "xyxy");
}

TEST(StringAssignTest, OperatorsAssign) {
  CL_String s;
  s = "abc";
  EXPECT_EQ(Text(s), "abc");
  s = CL_String("def");
  EXPECT_EQ(Text(s), "def");
  s = CL_Long{-7};
  EXPECT_EQ(Text(s), "-7");
  s = 2.5;
  EXPECT_EQ(Text(s), "2.5");
  const CL_String source("object");
  CL_Object& target = s;
  target = static_cast<const CL_Object&>(source);
  EXPECT_EQ(Text(s), "object");
}

TEST(StringAssignTest, FromAnotherClassWarnsAndKeepsTheText) {
  WarningCapture capture;
  CL_String s("keep");
  const Other other;
  s = static_cast<const CL_Object&>(other);
  EXPECT_EQ(Text(s), "keep");
  EXPECT_THAT(capture.texts(), testing::ElementsAre("CL_String::op=: Invalid class 'Other'"));
}

TEST(StringConcatTest, AllForms) {
  const CL_String ab("ab"), cd("cd");
  EXPECT_EQ(Text(ab + cd), "abcd");
  EXPECT_EQ(Text(ab + "x"), "abx");
  EXPECT_EQ(Text(ab + ""), "ab");
  EXPECT_EQ(Text(ab + static_cast<const char*>(nullptr)), "ab");
  EXPECT_EQ(Text(ab + CL_Long{42}), "ab42");
  EXPECT_EQ(Text(ab + CL_Long{-1}), "ab-1");
  EXPECT_EQ(Text("x" + ab), "xab");
  EXPECT_EQ(Text(static_cast<const char*>(nullptr) + ab), "ab");
  EXPECT_EQ(Text(CL_String("a\0", 2) + CL_String("\0b", 2)), std::string("a\0\0b", 4));
  EXPECT_EQ(Text(ab), "ab");  // operands unchanged

  CL_String s;
  for (int i = 0; i < 1000; ++i) s += (i % 2 == 0 ? "a" : "b");
  ASSERT_EQ(s.Size(), 1000);
  EXPECT_EQ(Text(s).substr(996), "abab");
  s += CL_String("!");
  EXPECT_EQ(Text(s).back(), '!');
}

// ---------------------------------------------------------------------------------------
// Conversions

TEST(StringConvertTest, AsLong) {
  struct Case {
    const char* text;
    CL_Long value;
  };
  const Case cases[] = {
      {"  -42x", -42},
      {"+5", 0},
      {"   ", 0},
      {"", 0},
      {"123", 123},
      {"-", 0},
      {"007", 7},
      {"\t5", 0},  // only blanks are skipped
      {"-2147483648", std::numeric_limits<CL_Long>::min()},
      {"4294967297", 1},  // beyond 32 bits the value wraps
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CL_String(c.text).AsLong(), c.value);
  }
}

TEST(StringConvertTest, AsDoubleAndAsPtr) {
  EXPECT_DOUBLE_EQ(CL_String("2.5e3").AsDouble(), 2500.0);
  EXPECT_DOUBLE_EQ(CL_String(" -0.25x").AsDouble(), -0.25);
  EXPECT_DOUBLE_EQ(CL_String("x").AsDouble(), 0.0);
  EXPECT_NE(CL_String().AsPtr(), nullptr);
}

// ---------------------------------------------------------------------------------------
// Text streams

TEST(StringTextStreamTest, OutputWritesEveryCharacter) {
  std::ostringstream out;
  out << CL_String("a\0b", 3) << '|';
  EXPECT_EQ(out.str(), std::string("a\0b|", 4));
}

TEST(StringTextStreamTest, InputReadsWhitespaceSeparatedWords) {
  std::istringstream in("  hello \t world\n");
  CL_String s("old");
  in >> s;
  EXPECT_EQ(Text(s), "hello");
  EXPECT_EQ(in.peek(), ' ');  // the delimiter stays
  in >> s;
  EXPECT_EQ(Text(s), "world");
  in >> s;  // nothing left: unchanged, the stream fails
  EXPECT_EQ(Text(s), "world");
  EXPECT_TRUE(in.fail());

  std::istringstream last("end");
  last >> s;
  EXPECT_EQ(Text(s), "end");
  EXPECT_FALSE(last.fail());
}

TEST(StringTextStreamTest, ReadLineTakesLinesUntilTheEnd) {
  std::istringstream in("first\n\nthird\r\nlast");
  CL_String s;
  std::vector<std::string> lines;
  while (s.ReadLine(in)) lines.push_back(Text(s));
  EXPECT_THAT(lines, testing::ElementsAre("first", "", "third\r", "last"));
  EXPECT_EQ(Text(s), "last");  // the failing call changed nothing
}

// ---------------------------------------------------------------------------------------
// Change protocol: every mutator asks first and tells after; a veto changes nothing.

struct Mutation {
  const char* name;
  std::function<bool(CL_String&)> apply;  // the mutator's result; true for those without
  const char* after;
  bool has_result = true;
};

const Mutation kMutations[] = {
    {"Assign(text)", [](CL_String& s) { return s.Assign("new"); }, "new"},
    {"Assign(null)", [](CL_String& s) { return s.Assign(static_cast<const char*>(nullptr)); }, ""},
    {"Assign(long)", [](CL_String& s) { return s.Assign(CL_Long{12}); }, "12"},
    {"Assign(double)", [](CL_String& s) { return s.Assign(1.5); }, "1.5"},
    {"Assign(string)", [](CL_String& s) { return s.Assign(CL_String("str")); }, "str"},
    {"= text",
     [](CL_String& s) {
       s = "t";
       return true;
     },
     "t", false},
    {"= string",
     [](CL_String& s) {
       s = CL_String("cs");
       return true;
     },
     "cs", false},
    {"= long",
     [](CL_String& s) {
       s = CL_Long{5};
       return true;
     },
     "5", false},
    {"= double",
     [](CL_String& s) {
       s = 0.25;
       return true;
     },
     "0.25", false},
    {"= object",
     [](CL_String& s) {
       static_cast<CL_Object&>(s) = static_cast<const CL_Object&>(CL_String("obj"));
       return true;
     },
     "obj", false},
    {"+= string",
     [](CL_String& s) {
       s += CL_String("!");
       return true;
     },
     "old!", false},
    {"+= text",
     [](CL_String& s) {
       s += std::string(40, '+').c_str();  // past the capacity
       return true;
     },
     "old++++++++++++++++++++++++++++++++++++++++", false},
    {"ReadLine",
     [](CL_String& s) {
       std::istringstream in("line\nmore");
       return s.ReadLine(in);
     },
     "line"},
    {"FromStream",
     [](CL_String& s) {
       std::istringstream in(" word ");
       s.FromStream(in);
       return true;
     },
     "word", false},
    {"ReadFrom",
     [](CL_String& s) {
       VectorStream in(Cat({LE(6), LE(3), Bytes{'r', 'f', 0}}));
       return s.ReadFrom(in);
     },
     "rf"},
};

TEST(StringChangeProtocolTest, PermittedChangeIsToldOnce) {
  for (const Mutation& m : kMutations) {
    SCOPED_TRACE(m.name);
    CL_String s("old");
    Recorder recorder;
    recorder.Watch(s);
    EXPECT_TRUE(m.apply(s));
    EXPECT_EQ(Text(s), m.after);
    EXPECT_EQ(recorder.pre, 1);
    EXPECT_EQ(recorder.post, 1);
  }
}

TEST(StringChangeProtocolTest, VetoedChangeLeavesTheStringAndTellsNobody) {
  for (const Mutation& m : kMutations) {
    SCOPED_TRACE(m.name);
    CL_String s("old");
    Recorder recorder;
    recorder.permit = false;
    recorder.Watch(s);
    const bool result = m.apply(s);
    if (m.has_result) {
      EXPECT_FALSE(result);
    }
    EXPECT_EQ(Text(s), "old");
    EXPECT_EQ(recorder.pre, 1);
    EXPECT_EQ(recorder.post, 0);
  }
}

TEST(StringChangeProtocolTest, ReadingOperationsAndEmptyAppendsChangeNothing) {
  CL_String s("old");
  Recorder recorder;
  recorder.Watch(s);
  const CL_String joined = s + "x" + s + CL_Long{1};
  s += "";
  s += CL_String();
  (void)s.AsLong();
  (void)s.CompareWith(joined, CL_CmpPrefix);
  std::ostringstream out;
  out << s;
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

// ---------------------------------------------------------------------------------------
// Stored form

TEST(StringStoredFormTest, GoldenBytes) {
  struct Case {
    std::string text;
    Bytes bytes;
  };
  const Case cases[] = {
      {"abc", {6, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"", {6, 0, 0, 0, 1, 0, 0, 0, 0}},
      {std::string("a\0b", 3), {6, 0, 0, 0, 4, 0, 0, 0, 'a', 0, 'b', 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const CL_String s(c.text.data(), static_cast<CL_Long>(c.text.size()));
    VectorStream out;
    ASSERT_TRUE(s.WriteTo(out));
    EXPECT_EQ(out.bytes, c.bytes);
    EXPECT_EQ(s.StorableFormWidth(), static_cast<CL_Long>(c.bytes.size()));
  }
}

TEST(StringStoredFormTest, RoundTrip) {
  for (const std::string& text : {std::string(), std::string("abc"), std::string("a\0b\0", 4),
                                  std::string(300, 'q'), std::string("\xFF\x01")}) {
    SCOPED_TRACE(text);
    const CL_String original(text.data(), static_cast<CL_Long>(text.size()));
    VectorStream stream;
    ASSERT_TRUE(original.WriteTo(stream));
    stream.position = 0;
    CL_String copy("previous");
    ASSERT_TRUE(copy.ReadFrom(stream));
    EXPECT_EQ(Text(copy), text);
    EXPECT_TRUE(stream.Eof());
    copy += "x";  // the buffer read in is a working buffer
    EXPECT_EQ(Text(copy), text + "x");
  }
}

TEST(StringStoredFormTest, EveryTruncationIsRefusedUnchanged) {
  const Bytes full = Cat({LE(6), LE(6), Bytes{'h', 'e', 'l', 'l', 'o', 0}});
  for (std::size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    VectorStream in(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
    CL_String s("prior");
    Recorder recorder;
    recorder.Watch(s);
    EXPECT_FALSE(s.ReadFrom(in));
    EXPECT_EQ(Text(s), "prior");
    EXPECT_EQ(recorder.pre + recorder.post, 0);
  }
}

TEST(StringStoredFormTest, CorruptCountsAndTerminatorsAreRefused) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"count 0", Cat({LE(6), LE(0), Bytes{'a', 0}})},
      {"negative count", Cat({LE(6), LE(-1), Bytes{'a', 0}})},
      {"most negative count", Cat({LE(6), LE(std::numeric_limits<CL_Long>::min()), Bytes{0}})},
      {"largest count", Cat({LE(6), LE(std::numeric_limits<CL_Long>::max()), Bytes{'a', 0}})},
      {"one byte too many", Cat({LE(6), LE(3), Bytes{'a', 0}})},
      {"no terminator", Cat({LE(6), LE(3), Bytes{'a', 'b', 'x'}})},
      {"other class", Cat({LE(5), LE(2), Bytes{'a', 0}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WarningCapture capture;
    VectorStream in(c.bytes);
    CL_String s("prior");
    EXPECT_FALSE(s.ReadFrom(in));
    EXPECT_EQ(Text(s), "prior");
    EXPECT_TRUE(capture.texts().empty());
  }
}

TEST(StringStoredFormTest, AForeignIdLeavesTheStreamWhereItWas) {
  VectorStream in(Cat({LE(5), LE(2), Bytes{'a', 0}}));
  CL_String s;
  EXPECT_FALSE(s.ReadFrom(in));
  EXPECT_EQ(in.Offset(), 0);
}

TEST(StringStoredFormTest, ReadByPointerThroughTheRegistry) {
  const CL_String original("by pointer");
  VectorStream stream;
  ASSERT_TRUE(stream.Write(&original));
  EXPECT_EQ(Bytes(stream.bytes.begin(), stream.bytes.begin() + 6), Cat({Bytes{'O', 0}, LE(6)}));
  stream.position = 0;
  CL_Object* read = nullptr;
  ASSERT_TRUE(stream.Read(read));
  const std::unique_ptr<CL_Object> owned(read);
  ASSERT_EQ(read->ClassId(), CL_ClassId_String);
  EXPECT_TRUE(*read == original);
}

}  // namespace
}  // namespace twcl_test
