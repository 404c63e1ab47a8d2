// Tests of CL_String's editing, case, search, replacement, formatting and field operations,
// of the write-back slice and of the field splitter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "twcl/base/byte_array.h"
#include "twcl/base/string.h"

namespace twcl_test {
namespace {

// ---------------------------------------------------------------------------------------
// Editing

TEST(StringInsertTest, TextGoesInAfterThePosition) {
  struct Case {
    const char* before;
    const char* inserted;
    CL_Long pos;
    bool done;
    const char* after;
  };
  const Case cases[] = {
      {"ab", "xy", -1, true, "xyab"}, {"ab", "xy", 0, true, "axyb"}, {"ab", "xy", 1, true, "abxy"},
      {"ab", "xy", 2, false, "ab"},   {"ab", "xy", -2, false, "ab"}, {"", "xy", -1, true, "xy"},
      {"", "xy", 0, false, ""},       {"ab", "", 0, true, "ab"},     {"ab", nullptr, 0, true, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " pos " << c.pos);
    CL_String s(c.before);
    EXPECT_EQ(s.Insert(c.inserted, c.pos), c.done);
    EXPECT_EQ(Text(s), c.after);
  }
}

TEST(StringInsertTest, CharactersAndAppend) {
  CL_String s("ac");
  EXPECT_TRUE(s.Insert('b', 0));
  EXPECT_TRUE(s.Insert('_', -1));
  EXPECT_FALSE(s.Insert('!', 4));
  EXPECT_TRUE(s.Append('d'));
  EXPECT_EQ(Text(s), "_abcd");
  CL_String empty;
  EXPECT_TRUE(empty.Append('x'));
  EXPECT_EQ(Text(empty), "x");
  // A NUL is a character like any other.
  EXPECT_TRUE(empty.Append('\0'));
  EXPECT_EQ(empty.Size(), 2);
}

TEST(StringInsertTest, ItsOwnTextInPlaceAndIntoANewBuffer) {
  CL_String s("abcdefghij");  // room for 22 characters
  ASSERT_TRUE(s.Insert(s.AsPtr(), 4));
  EXPECT_EQ(Text(s), "abcdeabcdefghijfghij");
  ASSERT_TRUE(s.Insert(s.AsPtr() + 15, -1));
  EXPECT_EQ(Text(s), "fghijabcdeabcdefghijfghij");
  // The source lies in the part that moves to make room.
  CL_String digits("0123456789");
  ASSERT_TRUE(digits.Insert(digits.AsPtr() + 6, 1));
  EXPECT_EQ(Text(digits), "01678923456789");
  // Many small insertions cross several reallocations; std::string says where they land.
  CL_String grown;
  std::string expected;
  for (int i = 0; i < 200; ++i) {
    const CL_Long pos = grown.Size() / 3 - 1;
    ASSERT_TRUE(grown.Insert(i % 2 ? "xy" : "z", pos));
    expected.insert(static_cast<std::size_t>(pos + 1), i % 2 ? "xy" : "z");
  }
  EXPECT_EQ(Text(grown), expected);
}

TEST(StringDeleteTest, RemovesWhatExistsFromTheStart) {
  struct Case {
    const char* before;
    CL_Long start;
    CL_Long count;
    bool done;
    const char* after;
  };
  const Case cases[] = {
      {"abcd", 1, 10, true, "a"},     {"abcd", 1, 2, true, "ad"},    {"abcd", 3, 1, true, "abc"},
      {"abcd", 0, 0, true, "abcd"},   {"abcd", 4, 1, false, "abcd"}, {"abcd", -1, 1, false, "abcd"},
      {"abcd", 1, -1, false, "abcd"}, {"", 0, 0, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " " << c.start << "," << c.count);
    CL_String s(c.before);
    EXPECT_EQ(s.Delete(c.start, c.count), c.done);
    EXPECT_EQ(Text(s), c.after);
    EXPECT_EQ(s.Size(), static_cast<CL_Long>(std::strlen(c.after)));
  }
}

TEST(StringDeleteTest, ShrinkingKeepsTheText) {
  CL_String s(std::string(300, 'a').append("tail").c_str());
  ASSERT_TRUE(s.Delete(0, 290));
  EXPECT_EQ(Text(s), "aaaaaaaaaatail");
  ASSERT_TRUE(s.Append('!'));
  EXPECT_EQ(Text(s), "aaaaaaaaaatail!");
}

TEST(StringPadTest, FillsToExactlyTheWidth) {
  struct Case {
    const char* before;
    CL_Long width;
    bool on_right;
    bool done;
    const char* after;
  };
  const Case cases[] = {
      {"ab", 5, false, true, "***ab"},
      {"ab", 5, true, true, "ab***"},
      {"", 3, true, true, "***"},
      {"ab", 2, true, false, "ab"},
      {"ab", 1, false, false, "ab"},
      {"ab", -1, true, false, "ab"},
      {"ab", 40, true, true, "ab**************************************"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " to " << c.width);
    CL_String s(c.before);
    EXPECT_EQ(s.PadTo(c.width, '*', c.on_right), c.done);
    EXPECT_EQ(Text(s), c.after);
  }
}

// ---------------------------------------------------------------------------------------
// Case

TEST(StringCaseTest, CountsTheLettersThatChange) {
  CL_String s("Hello, World 9 \xe9");
  EXPECT_EQ(s.ToUpper(), 8);
  EXPECT_EQ(Text(s), "HELLO, WORLD 9 \xe9");
  EXPECT_EQ(s.ToUpper(), 0);
  EXPECT_EQ(s.ToLower(), 10);
  EXPECT_EQ(Text(s), "hello, world 9 \xe9");

  const CL_String original("MiXeD");
  EXPECT_EQ(Text(original.InUpperCase()), "MIXED");
  EXPECT_EQ(Text(original.InLowerCase()), "mixed");
  EXPECT_EQ(Text(original), "MiXeD");
}

TEST(StringCaseTest, CapitalizeTheLeadingWord) {
  struct Case {
    const char* before;
    bool done;
    const char* after;
  };
  const Case cases[] = {
      {"hELLO wORLD", true, "Hello wORLD"},
      {"a", true, "A"},
      {"abc-DEF", true, "Abc-DEF"},
      {"Hello", true, "Hello"},
      {"", false, ""},
      {"1abc", false, "1abc"},
      {" abc", false, " abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    CL_String s(c.before);
    EXPECT_EQ(s.Capitalize(), c.done);
    EXPECT_EQ(Text(s), c.after);
  }
}

// ---------------------------------------------------------------------------------------
// Searching

TEST(StringSearchTest, CharactersAndSets) {
  const CL_String s("banana split");
  struct Case {
    const char* what;
    CL_Long got;
    CL_Long want;
  };
  const Case cases[] = {
      {"Index a", s.Index('a'), 1},
      {"Index a from 2", s.Index('a', 2), 3},
      {"Index a from -5", s.Index('a', -5), 1},
      {"Index a from 12", s.Index('a', 12), -1},
      {"Index a from 99", s.Index('a', 99), -1},
      {"Index z", s.Index('z'), -1},
      {"NIndex b", s.NIndex('b'), 1},
      {"NIndex on a run", CL_String("aaa").NIndex('a'), -1},
      {"CharIndex", s.CharIndex(" p"), 6},
      {"CharIndex from 7", s.CharIndex(" p", 7), 8},
      {"CharIndex null set", s.CharIndex(nullptr, 5), 0},
      {"CharIndex empty set", s.CharIndex(""), -1},
      {"NCharIndex", s.NCharIndex("abn"), 6},
      {"NCharIndex all members", CL_String("  ").NCharIndex(" "), -1},
      {"NCharIndex null set", s.NCharIndex(nullptr), 0},
      {"NCharIndex empty set", s.NCharIndex(""), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(StringSearchTest, SubstringOccurrencesMayOverlap) {
  const CL_String s("aaaa");
  struct Case {
    const char* text;
    const char* sought;
    CL_Long start;
    CL_Long n;
    CL_Long want;
  };
  const Case cases[] = {
      {"aaaa", "aa", 0, 1, 0},    {"aaaa", "aa", 0, 2, 1},     {"aaaa", "aa", 0, 3, 2},
      {"aaaa", "aa", 0, 4, -1},   {"aaaa", "aa", 2, 1, 2},     {"aaaa", "aa", 3, 1, -1},
      {"aaaa", "aa", 0, 0, -1},   {"aaaa", nullptr, 0, 1, -1}, {"abcabc", "bc", 0, 2, 4},
      {"abcabc", "bc", -3, 1, 1}, {"abc", "abcd", 0, 1, -1},   {"abc", "", 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " / " << (c.sought ? c.sought : "null") << " from "
                                    << c.start << " #" << c.n);
    EXPECT_EQ(CL_String(c.text).SubstringIndex(c.sought, c.start, c.n), c.want);
  }
}

TEST(StringSearchTest, PrefixAndBefore) {
  EXPECT_TRUE(CL_String("ab").IsPrefixOf("abc"));
  EXPECT_TRUE(CL_String("abc").IsPrefixOf("abc"));
  EXPECT_FALSE(CL_String("abc").IsPrefixOf("ab"));
  EXPECT_TRUE(CL_String().IsPrefixOf(""));
  EXPECT_FALSE(CL_String().IsPrefixOf(nullptr));

  const CL_String s("key=value=x");
  EXPECT_EQ(Text(s.Before("=")), "key");
  EXPECT_EQ(Text(s.Before("=x")), "key=value");
  EXPECT_EQ(Text(s.Before("#")), "key=value=x");
  EXPECT_EQ(Text(s.Before(nullptr)), "key=value=x");
  EXPECT_EQ(Text(s.Before("")), "");
}

// ---------------------------------------------------------------------------------------
// Replacement and formatting

TEST(StringReplaceTest, UpToMaxOccurrencesFromStart) {
  struct Case {
    const char* before;
    const char* old_text;
    const char* new_text;
    CL_Long start;
    CL_Long max;
    CL_Long replaced;
    const char* after;
  };
  const Case cases[] = {
      {"a.b.c", ".", "--", 0, 10, 2, "a--b--c"}, {"a.b.c", ".", "--", 0, 1, 1, "a--b.c"},
      {"a.b.c", ".", "--", 2, 10, 1, "a.b--c"},  {"a.b.c", ".", nullptr, 0, 10, 2, "abc"},
      {"aaa", "aa", "b", 0, 10, 1, "ba"},        {"aaa", "a", "aa", 0, 10, 3, "aaaaaa"},
      {"a.b", "", "x", 0, 10, 0, "a.b"},         {"a.b", nullptr, "x", 0, 10, 0, "a.b"},
      {"a.b", ".", "x", 0, 0, 0, "a.b"},         {"a.b", ".", "x", 4, 10, 0, "a.b"},
      {"a.b", ".", "x", -4, 10, 1, "axb"},       {"a.b", "q", "x", 0, 10, 0, "a.b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " from " << c.start << " max " << c.max);
    CL_String s(c.before);
    EXPECT_EQ(s.Replace(c.old_text, c.new_text, c.start, c.max), c.replaced);
    EXPECT_EQ(Text(s), c.after);
  }
}

TEST(StringReplaceTest, AllOccurrencesAndLongerOrOwnText) {
  CL_String s("x y z");
  EXPECT_EQ(s.ReplaceAll(" ", ""), 2);
  EXPECT_EQ(Text(s), "xyz");

  CL_String grown(std::string(50, 'a').c_str());
  EXPECT_EQ(grown.ReplaceAll("a", "<abc>"), 50);
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += "<abc>";
  EXPECT_EQ(Text(grown), expected);

  CL_String own("abc");
  EXPECT_EQ(own.Replace("b", own.AsPtr(), 0, 5), 1);
  EXPECT_EQ(Text(own), "aabcc");
}

TEST(StringFormatTest, FormatsIntoAtMost1023Characters) {
  WarningCapture warnings;
  CL_String s("old");
  EXPECT_TRUE(s.AssignWithFormat("%d-%s-%05.1f", 7, "x", 2.5));
  EXPECT_EQ(Text(s), "7-x-002.5");
  const std::string longest(1023, 'L');
  EXPECT_TRUE(s.AssignWithFormat("%s", longest.c_str()));
  EXPECT_EQ(Text(s), longest);
  EXPECT_TRUE(warnings.texts().empty());

  s = "kept";
  EXPECT_FALSE(s.AssignWithFormat("%s!", longest.c_str()));
  EXPECT_EQ(Text(s), "kept");
  EXPECT_THAT(warnings.texts(), testing::ElementsAre("CL_String::AssignWithFormat: arg too "
                                                     "large, possible memory corruption"));
}

// ---------------------------------------------------------------------------------------
// Fields

TEST(StringFieldTest, RunsOfSeparatorsMakeNoEmptyFields) {
  const CL_String s(",,a,,b");
  EXPECT_EQ(Text(s.Field(1, ",")), "a");
  EXPECT_EQ(Text(s.Field(2, ",")), "b");
  EXPECT_EQ(Text(s.Field(3, ",")), "");
  EXPECT_EQ(Text(s.Field(0, ",")), ",,a,,b");
  EXPECT_EQ(Text(s.Field(-1, ",")), "");
  EXPECT_EQ(Text(CL_String().Field(1, ",")), "");
  EXPECT_EQ(Text(CL_String("a b").Field(1, nullptr)), "a b");
  EXPECT_EQ(Text(CL_String(" a;b c").Field(3, " ;")), "c");
}

TEST(StringFieldTest, SplitIntoAnArrayKeepsTheRestTogether) {
  struct Case {
    const char* text;
    CL_Long n;
    CL_Long stored;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {"a b  c d", 3, 3, {"a", "b", "c d"}},
      {"a b  c d", 10, 4, {"a", "b", "c", "d"}},
      {"a b  c d", 1, 1, {"a b  c d"}},
      {"  a b ", 2, 2, {"a", "b "}},
      {"a  ", 2, 1, {"a"}},
      {"   ", 3, 0, {}},
      {"", 3, 0, {}},
      {"a b", 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "'" << c.text << "' into " << c.n);
    std::vector<CL_String> fields(10, CL_String("untouched"));
    EXPECT_EQ(CL_String(c.text).Split(fields.data(), c.n, " "), c.stored);
    for (std::size_t i = 0; i < fields.size(); ++i)
      EXPECT_EQ(Text(fields[i]), i < c.fields.size() ? c.fields[i] : "untouched") << i;
  }
  CL_String own[2] = {CL_String("x y z"), CL_String()};
  EXPECT_EQ(own[0].Split(own, 2, " "), 2);
  EXPECT_EQ(Text(own[0]), "x");
  EXPECT_EQ(Text(own[1]), "y z");
  EXPECT_EQ(CL_String("a").Split(nullptr, 3, " "), 0);
}

TEST(StringSplitterTest, WalksFieldsAndTheRest) {
  const CL_String s("  one, two,,three ");
  CL_StringSplitter splitter(s, " ,");
  EXPECT_EQ(Text(splitter.Next()), "one");
  CL_StringSplitter copy(splitter);
  EXPECT_EQ(Text(splitter.Next()), "two");
  EXPECT_EQ(Text(splitter.Next()), "three");
  EXPECT_EQ(Text(splitter.Next()), "");
  EXPECT_EQ(Text(splitter.Next()), "");
  // The copy goes on from where it was taken.
  EXPECT_EQ(Text(copy.Remaining()), ", two,,three ");
  EXPECT_EQ(Text(copy.Remaining()), "");
  EXPECT_EQ(Text(copy.Next()), "");
  splitter.Reset();
  EXPECT_EQ(Text(splitter.Next(",")), "  one");
  EXPECT_EQ(Text(splitter.Next()), " two");
  EXPECT_EQ(Text(splitter.Next(" ")), ",,three");
  EXPECT_STREQ(splitter.ClassName(), "CL_StringSplitter");

  const CL_String plain("a b");
  CL_StringSplitter whole(plain, nullptr);
  EXPECT_EQ(Text(whole.Next()), "a b");
}

TEST(StringSplitterTest, ScanStartsAtThePositionItself) {
  const CL_String s("ab  cd");
  CL_StringSplitter splitter(s, " ");
  EXPECT_EQ(Text(splitter.Next()), "ab");
  // The position is the field's last character, so the scanned text begins with it.
  EXPECT_EQ(Text(splitter.Scan(" ")), "b  ");
  EXPECT_EQ(Text(splitter.Next()), "cd");

  const CL_String leading("  x");
  CL_StringSplitter before_first(leading, " ");
  EXPECT_EQ(Text(before_first.Scan(" ")), "");  // nothing before the first field
  EXPECT_EQ(Text(before_first.Remaining()), "x");

  const CL_String trailing("ab  ");
  CL_StringSplitter at_end(trailing, " ");
  at_end.Next();
  EXPECT_EQ(Text(at_end.Scan(" ")), "");  // no character outside the set: position stays
  EXPECT_EQ(Text(at_end.Scan(nullptr)), "");
  EXPECT_EQ(Text(at_end.Remaining()), "  ");
  EXPECT_EQ(Text(at_end.Scan(" ")), "");
}

// ---------------------------------------------------------------------------------------
// Write-back slices

TEST(StringSliceTest, EditsAreWrittenBackIntoTheParent) {
  CL_String s("hello world");
  s.Substring(0, 5) = "HELLO";
  EXPECT_EQ(Text(s), "HELLO world");

  CL_StringSlice slice = s.Substring(6, 5);
  EXPECT_EQ(Text(slice), "world");
  EXPECT_EQ(slice.Parent(), &s);
  ASSERT_TRUE(slice.Insert("big ", -1));
  EXPECT_EQ(Text(s), "HELLO big world");
  // The slice now covers what it wrote: the next edit replaces that.
  ASSERT_TRUE(slice.Delete(0, 4));
  EXPECT_EQ(Text(s), "HELLO world");
  slice.ToUpper();
  EXPECT_EQ(Text(s), "HELLO WORLD");
  EXPECT_EQ(slice.Start(), 6);
  EXPECT_EQ(slice.Count(), 5);
}

TEST(StringSliceTest, RangesAreClippedToTheParent) {
  struct Case {
    CL_Long start;
    CL_Long count;
    const char* slice_text;
    const char* after;  // once the slice is assigned "X"
  };
  const Case cases[] = {
      {6, 100, "world", "hello X"}, {50, 3, "", "hello worldX"}, {11, 1, "", "hello worldX"},
      {-2, 3, "", "Xhello world"},  {3, -1, "", "helXlo world"}, {0, 11, "hello world", "X"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << "," << c.count);
    CL_String s("hello world");
    CL_StringSlice slice = s.Substring(c.start, c.count);
    EXPECT_EQ(Text(slice), c.slice_text);
    slice = "X";
    EXPECT_EQ(Text(s), c.after);
  }
}

TEST(StringSliceTest, AParentThatShrankIsNeverReadPastItsEnd) {
  CL_String s("hello world");
  CL_StringSlice slice = s.Substring(6, 5);
  s = "hi";
  slice = "X";
  EXPECT_EQ(Text(s), "hiX");
  slice = "YZ";
  EXPECT_EQ(Text(s), "hiYZ");
}

TEST(StringSliceTest, TheParentIsAskedAndToldOnce) {
  CL_String s("hello world");
  Recorder parent;
  parent.Watch(s);
  CL_StringSlice slice = s.Substring(0, 5);
  slice = "howdy";
  EXPECT_EQ(Text(s), "howdy world");
  EXPECT_EQ(parent.pre, 1);
  EXPECT_EQ(parent.post, 1);

  parent.permit = false;
  slice = "HEY";
  EXPECT_EQ(Text(s), "howdy world");
  EXPECT_EQ(Text(slice), "HEY");
  EXPECT_EQ(parent.post, 1);
  // The covered range stays what the parent holds, so a later edit still replaces it.
  parent.permit = true;
  slice = "hi";
  EXPECT_EQ(Text(s), "hi world");
}

TEST(StringSliceTest, CopiesAndSlicesOfSlicesWriteBackToo) {
  CL_String s("abcdef");
  CL_StringSlice outer = s.Substring(1, 4);
  CL_StringSlice inner = outer.Substring(1, 2);
  EXPECT_EQ(Text(inner), "cd");
  inner = "XYZ";
  EXPECT_EQ(Text(outer), "bXYZe");
  EXPECT_EQ(Text(s), "abXYZef");

  CL_StringSlice copy(outer);
  EXPECT_EQ(copy.Parent(), &s);
  copy = "-";
  EXPECT_EQ(Text(s), "a-f");
  // The original slice keeps its own binding: one edit, one write-back.
  CL_String t("0123");
  Recorder parent;
  parent.Watch(t);
  CL_StringSlice first = t.Substring(1, 2);
  CL_StringSlice second(first);
  first = "ab";
  EXPECT_EQ(Text(t), "0ab3");
  EXPECT_EQ(parent.post, 1);
  second = "xyz";
  EXPECT_EQ(Text(t), "0xyz3");
  EXPECT_EQ(parent.post, 2);
  // A plain copy of a slice is a plain string.
  std::unique_ptr<CL_Object> clone(first.Clone());
  EXPECT_STREQ(clone->ClassName(), "CL_String");
}

// ---------------------------------------------------------------------------------------
// Change protocol of the editing operations

struct Edit {
  const char* name;
  std::function<bool(CL_String&)> apply;  // true when the edit reports success
  const char* after;                      // text once permitted, from "hello world"
};

const Edit kEdits[] = {
    {"Insert text", [](CL_String& s) { return s.Insert("!", 10); }, "hello world!"},
    {"Insert char", [](CL_String& s) { return s.Insert('>', -1); }, ">hello world"},
    {"Append", [](CL_String& s) { return s.Append('.'); }, "hello world."},
    {"Delete", [](CL_String& s) { return s.Delete(5, 6); }, "hello"},
    {"PadTo", [](CL_String& s) { return s.PadTo(13, '-', true); }, "hello world--"},
    {"ToUpper", [](CL_String& s) { return s.ToUpper() == 10; }, "HELLO WORLD"},
    {"Capitalize", [](CL_String& s) { return s.Capitalize(); }, "Hello world"},
    {"Replace", [](CL_String& s) { return s.Replace("o", "0", 0, 1) == 1; }, "hell0 world"},
    {"ReplaceAll", [](CL_String& s) { return s.ReplaceAll("o", "0") == 2; }, "hell0 w0rld"},
    {"AssignWithFormat", [](CL_String& s) { return s.AssignWithFormat("%d", 42); }, "42"},
    {"Slice", [](CL_String& s) { return s.Substring(0, 5).Assign("bye"); }, "bye world"},
};

TEST(StringEditProtocolTest, PermittedEditsAreToldOnce) {
  for (const Edit& edit : kEdits) {
    SCOPED_TRACE(edit.name);
    CL_String s("hello world");
    Recorder recorder;
    recorder.Watch(s);
    EXPECT_TRUE(edit.apply(s));
    EXPECT_EQ(Text(s), edit.after);
    EXPECT_EQ(recorder.post, 1);
  }
}

TEST(StringEditProtocolTest, VetoedEditsChangeNothingAndTellNobody) {
  for (const Edit& edit : kEdits) {
    SCOPED_TRACE(edit.name);
    CL_String s("hello world");
    Recorder recorder;
    recorder.permit = false;
    recorder.Watch(s);
    edit.apply(s);
    EXPECT_EQ(Text(s), "hello world");
    EXPECT_GE(recorder.pre, 1);
    EXPECT_EQ(recorder.post, 0);
  }
  CL_String s("hello world");
  Recorder recorder;
  recorder.permit = false;
  recorder.Watch(s);
  EXPECT_FALSE(s.Insert("x", 0));
  EXPECT_FALSE(s.Delete(0, 1));
  EXPECT_FALSE(s.PadTo(20, ' ', true));
  EXPECT_EQ(s.ToUpper(), 0);
  EXPECT_FALSE(s.Capitalize());
  EXPECT_EQ(s.Replace("o", "0", 0, 5), 0);
  EXPECT_FALSE(s.AssignWithFormat("x"));
}

TEST(StringEditProtocolTest, EditsThatChangeNothingAskNobody) {
  CL_String s("Hello World");
  Recorder recorder;
  recorder.Watch(s);
  EXPECT_TRUE(s.Insert("", 0));
  EXPECT_TRUE(s.Delete(0, 0));
  EXPECT_FALSE(s.Delete(20, 1));
  EXPECT_FALSE(s.PadTo(3, ' ', true));
  EXPECT_EQ(s.ToLower() + s.ToUpper(), 2 + 10);  // two real changes
  EXPECT_EQ(s.ToUpper(), 0);
  EXPECT_EQ(s.Replace("q", "r", 0, 3), 0);
  EXPECT_EQ(s.Index('W') + s.CharIndex("O") + s.SubstringIndex("LD"), 6 + 4 + 9);
  (void)s.Field(1, " ");
  (void)s.InLowerCase();
  EXPECT_EQ(recorder.pre, 2);
  EXPECT_EQ(recorder.post, 2);
}

// ---------------------------------------------------------------------------------------
// From a byte array

TEST(StringFromBytesTest, StopsAtTheFirstNulOrTheEndOfTheView) {
  unsigned char with_nul[] = {'a', 'b', 0, 'c', 'd'};
  EXPECT_EQ(Text(CL_String(CL_ByteArray(with_nul, 5))), "ab");
  // The view ends before the NUL that follows in memory.
  unsigned char longer[] = {'a', 'b', 'c', 'X', 'Y', 0};
  EXPECT_EQ(Text(CL_String(CL_ByteArray(longer, 3))), "abc");
  auto exact = std::make_unique<unsigned char[]>(4);
  std::memcpy(exact.get(), "wxyz", 4);
  EXPECT_EQ(Text(CL_String(CL_ByteArray(exact.get(), 4))), "wxyz");
  EXPECT_EQ(Text(CL_String(CL_ByteArray())), "");
}

}  // namespace
}  // namespace twcl_test
