// Tests of CL_ByteArray (bounded views), CL_ByteString (owned, growing bytes) and
// CL_Integer: access, assignment, comparison, the change protocol and the stored forms.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "base_test_util.h"
#include "twcl/base/byte_array.h"
#include "twcl/base/byte_string.h"
#include "twcl/base/integer.h"
#include "twcl/base/object_stream.h"

namespace twcl_test {
namespace {

constexpr CL_Long kLongMax = std::numeric_limits<CL_Long>::max();
constexpr CL_Long kLongMin = std::numeric_limits<CL_Long>::min();

Bytes Of(const CL_ByteArray& a) {
  return a.Size() > 0 ? Bytes(a.AsPtr(), a.AsPtr() + a.Size()) : Bytes();
}

// Bytes in a heap block of exactly their size, so that a read past a view's end is an
// AddressSanitizer report rather than a silent success.
struct ExactBytes {
  explicit ExactBytes(const Bytes& bytes) : size(static_cast<CL_Long>(bytes.size())) {
    block = std::make_unique<unsigned char[]>(bytes.size());
    std::memcpy(block.get(), bytes.data(), bytes.size());
  }
  CL_ByteArray View(CL_Object* owner = nullptr) { return CL_ByteArray(block.get(), size, owner); }

  std::unique_ptr<unsigned char[]> block;
  CL_Long size;
};

// Every proper prefix of a stored form must be refused, leaving the target as it was.
void ExpectEveryTruncationRefused(const Bytes& form, CL_Object& target,
                                  const std::function<std::string()>& state) {
  const std::string before = state();
  for (std::size_t n = 0; n < form.size(); ++n) {
    VectorStream s(Bytes(form.begin(), form.begin() + static_cast<std::ptrdiff_t>(n)));
    EXPECT_FALSE(target.ReadFrom(s)) << "prefix of " << n;
    EXPECT_EQ(state(), before) << "prefix of " << n;
  }
}

std::string Hex(const CL_ByteArray& a) {
  std::string text;
  for (unsigned char b : Of(a))
    text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

// ---------------------------------------------------------------------------------------
// CL_ByteArray: bounds

TEST(ByteArrayBoundsTest, ValuesAreReadOnlyWhollyInsideTheView) {
  ExactBytes six({1, 2, 3, 4, 5, 6});
  const CL_ByteArray view = six.View();
  struct Case {
    CL_Long offset;
    CL_Long long_value;
    short short_value;
  };
  const Case cases[] = {
      {-1, 0, 0},     {0, 0x04030201, 0x0201}, {2, 0x06050403, 0x0403},
      {3, 0, 0x0504}, {4, 0, 0x0605},          {5, 0, 0},
      {6, 0, 0},      {kLongMax, 0, 0},        {kLongMin, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(view.LongValueAt(c.offset), c.long_value) << c.offset;
    EXPECT_EQ(view.ShortValueAt(c.offset), c.short_value) << c.offset;
  }
  ExactBytes high({0xff, 0xff, 0xff, 0x80});
  EXPECT_EQ(high.View().LongValueAt(0), static_cast<CL_Long>(0x80ffffffu));
  EXPECT_EQ(high.View().ShortValueAt(0), -1);
  EXPECT_EQ(CL_ByteArray().LongValueAt(0), 0);
}

TEST(ByteArrayBoundsTest, SubarraysAreClippedAndKeepTheOwner) {
  ExactBytes six({1, 2, 3, 4, 5, 6});
  CL_Integer owner;
  const CL_ByteArray view = six.View(&owner);
  struct Case {
    CL_Long start;
    CL_Long count;
    Bytes bytes;
  };
  const Case cases[] = {
      {-5, 2, {}},
      {5, 10, {6}},
      {7, 1, {}},
      {2, -3, {}},
      {6, 1, {}},
      {1, 3, {2, 3, 4}},
      {0, kLongMax, {1, 2, 3, 4, 5, 6}},
      {kLongMax, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << "," << c.count);
    const CL_ByteArray sub = view.Subarray(c.start, c.count);
    EXPECT_EQ(Of(sub), c.bytes);
    EXPECT_EQ(sub.Owner(), &owner);
  }
  EXPECT_EQ(Of(view.Suffix(-1)), Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Of(view.Suffix(4)), Bytes({5, 6}));
  EXPECT_EQ(Of(view.Suffix(6)), Bytes());
  EXPECT_EQ(Of(view.Suffix(kLongMax)), Bytes());
  EXPECT_EQ(view.Suffix(9).Owner(), &owner);
}

TEST(ByteArrayBoundsTest, TextAndPrefixesStopAtTheViewsEnd) {
  ExactBytes letters({'a', 'b', 'c', 'd', 'e', 'f'});
  EXPECT_EQ(Text(CL_ByteArray(letters.block.get(), 3).AsString()), "abc");
  EXPECT_EQ(Text(letters.View().AsString()), "abcdef");
  ExactBytes with_nul({'a', 0, 'c'});
  EXPECT_EQ(Text(with_nul.View().AsString()), "a");
  EXPECT_EQ(Text(CL_ByteArray().AsString()), "");

  const unsigned char other[] = {'a', 'b', 'c', 'x', 'e', 'f', 'g', 'h'};
  EXPECT_EQ(letters.View().CommonPrefixLength(other), 3);
  EXPECT_EQ(CL_ByteArray(letters.block.get(), 2).CommonPrefixLength(other), 2);
  EXPECT_EQ(letters.View().CommonPrefixLength(nullptr), 0);
  const unsigned char same[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
  EXPECT_EQ(letters.View().CommonPrefixLength(same), 6);
}

TEST(ByteArrayBoundsTest, CopyingOutAndInStaysInside) {
  ExactBytes four({1, 2, 3, 4});
  struct Case {
    CL_Long count;
    CL_Long start;
    CL_Long copied;
  };
  const Case cases[] = {{3, 0, 3},  {10, 2, 2}, {1, 3, 1},  {0, 0, 0},
                        {-1, 0, 0}, {2, 4, 0},  {2, -1, 0}, {kLongMax, 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " from " << c.start);
    unsigned char out[8] = {};
    EXPECT_EQ(four.View().CopyTo(out, c.count, c.start), c.copied);
    for (CL_Long i = 0; i < c.copied; ++i) EXPECT_EQ(out[i], four.block[c.start + i]);
    CL_ByteArray view = four.View();
    const unsigned char in[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(view.CopyFrom(in, c.count, c.start), c.copied);
    std::memcpy(four.block.get(), "\1\2\3\4", 4);
  }
  EXPECT_EQ(four.View().CopyTo(nullptr, 2, 0), 0);
  EXPECT_EQ(CL_ByteArray().CopyTo(nullptr, 2, 0), 0);
  CL_ByteArray view = four.View();
  EXPECT_EQ(view.CopyFrom(nullptr, 2, 0), 0);
}

// ---------------------------------------------------------------------------------------
// CL_ByteArray: assignment and comparison

TEST(ByteArrayAssignTest, EachSourceFillsWhatFits) {
  struct Case {
    const char* name;
    CL_Long size;
    std::function<void(CL_ByteArray&)> assign;
    Bytes after;
  };
  const unsigned char raw[] = {9, 8, 7, 6, 5};
  const Case cases[] = {
      {"short string", 4, [](CL_ByteArray& a) { a = CL_String("ab"); }, {'a', 'b', 0, 0xee}},
      {"long string", 4, [](CL_ByteArray& a) { a = CL_String("abcdef"); }, {'a', 'b', 'c', 'd'}},
      {"short", 4, [](CL_ByteArray& a) { a = static_cast<short>(0x0102); }, {2, 1, 0xee, 0xee}},
      {"long", 4, [](CL_ByteArray& a) { a = CL_Long{0x01020304}; }, {4, 3, 2, 1}},
      {"long into 2", 2, [](CL_ByteArray& a) { a = CL_Long{0x01020304}; }, {4, 3}},
      {"short into 1", 1, [](CL_ByteArray& a) { a = static_cast<short>(0x0102); }, {2}},
      {"raw", 4, [&raw](CL_ByteArray& a) { a = raw; }, {9, 8, 7, 6}},
      {"null raw",
       4,
       [](CL_ByteArray& a) { a = static_cast<const unsigned char*>(nullptr); },
       {0xee, 0xee, 0xee, 0xee}},
      {"shorter array",
       4,
       [](CL_ByteArray& a) {
         unsigned char two[] = {1, 2};
         a = CL_ByteArray(two, 2);
       },
       {1, 2, 0xee, 0xee}},
      {"longer array",
       2,
       [&raw](CL_ByteArray& a) { a = CL_ByteArray(const_cast<unsigned char*>(raw), 5); },
       {9, 8}},
      {"overlapping view",
       4,
       [](CL_ByteArray& a) { a = a.Subarray(1, 3); },
       {0xee, 0xee, 0xee, 0xee}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExactBytes bytes(Bytes(static_cast<std::size_t>(c.size), 0xee));
    CL_ByteArray view = bytes.View();
    c.assign(view);
    EXPECT_EQ(Of(view), c.after);
  }
  ExactBytes tail({1, 2, 3, 4});
  CL_ByteArray front = tail.View().Subarray(0, 3);
  front = tail.View().Subarray(1, 3);
  EXPECT_EQ(Of(tail.View()), Bytes({2, 3, 4, 4}));
}

TEST(ByteArrayAssignTest, FromAnObjectChecksTheClass) {
  WarningCapture warnings;
  ExactBytes bytes({0, 0});
  CL_ByteArray view = bytes.View();
  unsigned char source[] = {5, 6, 7};
  const CL_ByteArray other(source, 3);
  view = static_cast<const CL_Object&>(other);
  EXPECT_EQ(Of(view), Bytes({5, 6}));
  view = static_cast<const CL_Object&>(CL_Integer(3));
  EXPECT_EQ(Of(view), Bytes({5, 6}));
  EXPECT_THAT(warnings.texts(),
              testing::ElementsAre("CL_ByteArray::operator= (CL_Object&): Invalid class "
                                   "'CL_Integer'"));
}

TEST(ByteArrayCompareTest, UnsignedBytesThenTheShorterFirst) {
  unsigned char ab[] = {'a', 'b'}, abc[] = {'a', 'b', 'c'}, ab2[] = {'a', 'b'}, high[] = {0x80},
                low[] = {0x01};
  const CL_ByteArray a(ab, 2), b(abc, 3), same(ab2, 2), h(high, 1), l(low, 1), empty;
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(a <= b);
  EXPECT_FALSE(a > b);
  EXPECT_FALSE(a >= b);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  EXPECT_TRUE(a == same);
  EXPECT_EQ(a.Compare(same), 0);
  EXPECT_TRUE(h > l);  // unsigned: 0x80 is above 0x01
  EXPECT_TRUE(empty < l);
  EXPECT_TRUE(empty == CL_ByteArray());

  // Raw bytes: only the view's own size is compared.
  EXPECT_TRUE(a == abc);
  EXPECT_EQ(l.Compare(high), -1);
  EXPECT_TRUE(l < high);
  EXPECT_TRUE(h >= low);
  EXPECT_TRUE(l <= low);
  EXPECT_TRUE(l != high);
  EXPECT_EQ(empty.Compare(nullptr), 0);
  EXPECT_EQ(a.Compare(nullptr), 1);
}

TEST(ByteArrayCompareTest, AnotherClassOrdersByAddress) {
  unsigned char one[] = {1};
  const CL_ByteArray view(one, 1);
  const CL_ByteString owned(one, 1);  // class id 8: another class
  const CL_Object& other = owned;
  EXPECT_FALSE(view == other);
  EXPECT_TRUE(view != other);
  const bool below = std::less<const void*>{}(&view, &owned);
  EXPECT_EQ(view < other, below);
  EXPECT_EQ(view > other, !below);
  EXPECT_EQ(view <= other, below);
  EXPECT_EQ(view >= other, !below);
  EXPECT_EQ(view.Compare(other), below ? -1 : 1);
}

// ---------------------------------------------------------------------------------------
// CL_ByteArray: change protocol (view and owner)

struct ByteEdit {
  const char* name;
  std::function<void(CL_ByteArray&)> apply;
};

const unsigned char kSeven[4] = {7, 7, 7, 7};
const ByteEdit kByteEdits[] = {
    {"Fill", [](CL_ByteArray& a) { a.Fill(7); }},
    {"CopyFrom", [](CL_ByteArray& a) { a.CopyFrom(kSeven, 4); }},
    {"= array", [](CL_ByteArray& a) { a = CL_ByteArray(const_cast<unsigned char*>(kSeven), 4); }},
    {"= raw", [](CL_ByteArray& a) { a = kSeven; }},
    {"= string", [](CL_ByteArray& a) { a = CL_String("\7\7\7"); }},
    {"= short", [](CL_ByteArray& a) { a = static_cast<short>(0x0707); }},
    {"= long", [](CL_ByteArray& a) { a = CL_Long{0x07070707}; }},
    {"ReadFrom",
     [](CL_ByteArray& a) {
       VectorStream s(Cat({LE(7), {7, 7, 7, 7}}));
       a.ReadFrom(s);
     }},
};

TEST(ByteArrayProtocolTest, ViewAndOwnerAreAskedAndTold) {
  for (const ByteEdit& edit : kByteEdits) {
    SCOPED_TRACE(edit.name);
    ExactBytes bytes({0, 0, 0, 0});
    CL_Integer owner;
    CL_ByteArray view = bytes.View(&owner);
    Recorder on_view, on_owner;
    on_view.Watch(view);
    on_owner.Watch(owner);
    edit.apply(view);
    EXPECT_EQ(bytes.block[0], 7);
    EXPECT_EQ(on_view.post, 1);
    EXPECT_EQ(on_owner.post, 1);
    EXPECT_EQ(on_owner.pre, 1);
  }
}

TEST(ByteArrayProtocolTest, AVetoOfEitherLeavesTheBytes) {
  for (const bool owner_refuses : {false, true}) {
    for (const ByteEdit& edit : kByteEdits) {
      SCOPED_TRACE(testing::Message() << edit.name << (owner_refuses ? " owner" : " view"));
      ExactBytes bytes({0, 0, 0, 0});
      CL_Integer owner;
      CL_ByteArray view = bytes.View(&owner);
      Recorder on_view, on_owner;
      (owner_refuses ? on_owner : on_view).permit = false;
      on_view.Watch(view);
      on_owner.Watch(owner);
      edit.apply(view);
      EXPECT_EQ(Of(view), Bytes({0, 0, 0, 0}));
      EXPECT_EQ(on_view.post + on_owner.post, 0);
    }
  }
}

TEST(ByteArrayProtocolTest, NothingToChangeAsksNobody) {
  CL_Integer owner;
  Recorder recorder;
  recorder.Watch(owner);
  CL_ByteArray empty(&owner);
  recorder.Watch(empty);
  EXPECT_FALSE(empty.Fill(1));
  empty = CL_Long{5};
  empty = CL_String("x");
  ExactBytes bytes({1, 2});
  CL_ByteArray view = bytes.View(&owner);
  view = view;  // shares its bytes
  view = CL_ByteArray(bytes.block.get(), 1);
  EXPECT_EQ(recorder.pre, 0);
  EXPECT_EQ(recorder.post, 0);
  // A byte string is its own owner: asked and told once.
  CL_ByteString owned(3);
  Recorder self;
  self.Watch(owned);
  EXPECT_TRUE(owned.Fill(1));
  EXPECT_EQ(self.pre, 1);
  EXPECT_EQ(self.post, 1);
}

// ---------------------------------------------------------------------------------------
// CL_ByteArray: stored form

TEST(ByteArrayStoredFormTest, GoldenBytesAndRoundTrip) {
  ExactBytes bytes({1, 2, 0xff});
  const CL_ByteArray view = bytes.View();
  EXPECT_EQ(view.StorableFormWidth(), 7);
  VectorStream out;
  ASSERT_TRUE(view.WriteTo(out));
  EXPECT_EQ(out.bytes, Bytes({7, 0, 0, 0, 1, 2, 0xff}));

  ExactBytes target({0, 0, 0});
  CL_ByteArray into = target.View();
  VectorStream in(out.bytes);
  ASSERT_TRUE(into.ReadFrom(in));
  EXPECT_EQ(Of(into), Bytes({1, 2, 0xff}));
  EXPECT_EQ(in.position, 7);

  // The reader's size decides: a smaller view takes the front and leaves the rest.
  ExactBytes two({0, 0});
  CL_ByteArray small = two.View();
  VectorStream again(out.bytes);
  ASSERT_TRUE(small.ReadFrom(again));
  EXPECT_EQ(Of(small), Bytes({1, 2}));
  EXPECT_EQ(again.position, 6);

  CL_ByteArray empty;
  VectorStream id_only(LE(7));
  EXPECT_TRUE(empty.ReadFrom(id_only));
  VectorStream empty_out;
  ASSERT_TRUE(empty.WriteTo(empty_out));
  EXPECT_EQ(empty_out.bytes, LE(7));
}

TEST(ByteArrayStoredFormTest, ShortOrForeignInputIsRefused) {
  ExactBytes target({9, 9, 9});
  CL_ByteArray view = target.View();
  ExpectEveryTruncationRefused(Cat({LE(7), {1, 2, 3}}), view, [&] { return Hex(view); });
  VectorStream foreign(Cat({LE(8), {1, 2, 3}}));
  EXPECT_FALSE(view.ReadFrom(foreign));
  EXPECT_EQ(foreign.position, 0);
  ExactBytes bigger({9, 9, 9, 9});
  CL_ByteArray larger = bigger.View();
  VectorStream short_body(Cat({LE(7), {1, 2, 3}}));
  EXPECT_FALSE(larger.ReadFrom(short_body));
  EXPECT_EQ(Of(larger), Bytes({9, 9, 9, 9}));
}

// ---------------------------------------------------------------------------------------
// CL_ByteString

TEST(ByteStringTest, ConstructorsCopyTheirBytes) {
  EXPECT_EQ(CL_ByteString().Size(), 0);
  EXPECT_EQ(CL_ByteString().AsPtr(), nullptr);
  EXPECT_EQ(Of(CL_ByteString(3)), Bytes({0, 0, 0}));
  EXPECT_EQ(CL_ByteString(-3).Size(), 0);
  unsigned char raw[] = {4, 5, 6};
  const CL_ByteString from_raw(raw, 3);
  raw[0] = 0;
  EXPECT_EQ(Of(from_raw), Bytes({4, 5, 6}));
  EXPECT_EQ(CL_ByteString(static_cast<const unsigned char*>(nullptr), 3).Size(), 0);
  const CL_ByteString from_view{CL_ByteArray(raw + 1, 2)};
  EXPECT_EQ(Of(from_view), Bytes({5, 6}));
  EXPECT_EQ(Of(CL_ByteString(CL_String("hi"))), Bytes({'h', 'i', 0}));
  const CL_ByteString copy(from_raw);
  EXPECT_NE(copy.AsPtr(), from_raw.AsPtr());
  EXPECT_EQ(Of(copy), Of(from_raw));
  EXPECT_EQ(copy.Owner(), &copy);
  std::unique_ptr<CL_Object> clone(copy.Clone());
  EXPECT_STREQ(clone->ClassName(), "CL_ByteString");
  EXPECT_EQ(clone->ClassId(), 8);
  EXPECT_TRUE(*clone == copy);
  std::unique_ptr<CL_Object> view_clone(CL_ByteArray(raw, 3).Clone());
  EXPECT_EQ(static_cast<CL_ByteArray&>(*view_clone).AsPtr(), raw);  // the same view
}

TEST(ByteStringTest, ChangeSizeKeepsThePrefixAndTellsNobody) {
  unsigned char raw[] = {1, 2, 3};
  CL_ByteString s(raw, 3);
  Recorder recorder;
  recorder.Watch(s);
  EXPECT_FALSE(s.ChangeSize(-1));
  EXPECT_TRUE(s.ChangeSize(5));
  EXPECT_EQ(Of(s), Bytes({1, 2, 3, 0, 0}));
  EXPECT_TRUE(s.ChangeSize(2));
  EXPECT_EQ(Of(s), Bytes({1, 2}));
  EXPECT_TRUE(s.ChangeSize(0));
  EXPECT_EQ(s.AsPtr(), nullptr);
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

TEST(ByteStringTest, AppendingGrowsEvenFromItself) {
  unsigned char raw[] = {1, 2, 3};
  CL_ByteString s(raw, 3);
  Recorder recorder;
  recorder.Watch(s);
  s += s;
  EXPECT_EQ(Of(s), Bytes({1, 2, 3, 1, 2, 3}));
  s += s.Subarray(1, 2);
  EXPECT_EQ(Of(s), Bytes({1, 2, 3, 1, 2, 3, 2, 3}));
  s += CL_ByteArray();
  EXPECT_EQ(recorder.post, 2);
  recorder.permit = false;
  s += s;
  EXPECT_EQ(s.Size(), 8);
}

TEST(ByteStringTest, AssignmentsGrowWhatIsTooSmall) {
  struct Case {
    const char* name;
    CL_Long size;
    std::function<void(CL_ByteString&)> assign;
    Bytes after;
  };
  const Case cases[] = {
      {"string grows",
       3,
       [](CL_ByteString& b) { b = CL_String("hello"); },
       {'h', 'e', 'l', 'l', 'o', 0}},
      {"string fits", 5, [](CL_ByteString& b) { b = CL_String("hi"); }, {'h', 'i', 0, 0xee, 0xee}},
      {"long grows by 4",
       3,
       [](CL_ByteString& b) { b = CL_Long{0x01020304}; },
       {4, 3, 2, 1, 0, 0, 0}},
      {"long into empty", 0, [](CL_ByteString& b) { b = CL_Long{-1}; }, {0xff, 0xff, 0xff, 0xff}},
      {"long fits", 5, [](CL_ByteString& b) { b = CL_Long{0x01020304}; }, {4, 3, 2, 1, 0xee}},
      {"short grows by 2", 1, [](CL_ByteString& b) { b = static_cast<short>(0x0102); }, {2, 1, 0}},
      {"short fits", 3, [](CL_ByteString& b) { b = static_cast<short>(0x0102); }, {2, 1, 0xee}},
      {"array grows",
       1,
       [](CL_ByteString& b) {
         unsigned char three[] = {7, 8, 9};
         b = CL_ByteArray(three, 3);
       },
       {7, 8, 9}},
      {"array keeps size",
       4,
       [](CL_ByteString& b) {
         unsigned char two[] = {7, 8};
         b = CL_ByteArray(two, 2);
       },
       {7, 8, 0xee, 0xee}},
      {"byte string",
       1,
       [](CL_ByteString& b) {
         unsigned char two[] = {7, 8};
         b = CL_ByteString(two, 2);
       },
       {7, 8}},
      {"own view", 4, [](CL_ByteString& b) { b = b.Subarray(1, 3); }, {0xee, 0xee, 0xee, 0xee}},
      {"raw keeps size",
       2,
       [](CL_ByteString& b) {
         const unsigned char raw[] = {1, 2, 3};
         b = raw;
       },
       {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CL_ByteString b(c.size);
    if (c.size > 0) b.Fill(0xee);
    c.assign(b);
    EXPECT_EQ(Of(b), c.after);
  }
  CL_ByteString self(2);
  self = self;
  EXPECT_EQ(self.Size(), 2);
}

TEST(ByteStringTest, AVetoLeavesSizeAndBytes) {
  const std::function<void(CL_ByteString&)> edits[] = {
      [](CL_ByteString& b) { b = CL_String("longer text"); },
      [](CL_ByteString& b) { b = CL_Long{9}; },
      [](CL_ByteString& b) { b = static_cast<short>(9); },
      [](CL_ByteString& b) { b = CL_ByteString(9); },
      [](CL_ByteString& b) { b += CL_ByteString(2); },
  };
  for (const auto& edit : edits) {
    CL_ByteString b(1);
    Recorder recorder;
    recorder.permit = false;
    recorder.Watch(b);
    edit(b);
    EXPECT_EQ(Of(b), Bytes({0}));
    EXPECT_EQ(recorder.post, 0);
  }
}

TEST(ByteStringTest, FromAnObjectChecksTheClass) {
  WarningCapture warnings;
  CL_ByteString b(1);
  const CL_ByteString source(CL_String("ab"));
  b = static_cast<const CL_Object&>(source);
  EXPECT_EQ(Of(b), Bytes({'a', 'b', 0}));
  unsigned char raw[] = {1};
  b = static_cast<const CL_Object&>(CL_ByteArray(raw, 1));
  EXPECT_EQ(Of(b), Bytes({'a', 'b', 0}));
  EXPECT_THAT(warnings.texts(), testing::ElementsAre("CL_ByteString::operator= (CL_Object&): "
                                                     "Invalid class 'CL_ByteArray'"));
}

TEST(ByteStringStoredFormTest, GoldenBytesAndRoundTrip) {
  const CL_ByteString abc(CL_String("ab"));
  EXPECT_EQ(abc.StorableFormWidth(), 11);
  VectorStream out;
  ASSERT_TRUE(abc.WriteTo(out));
  EXPECT_EQ(out.bytes, Bytes({8, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 0}));

  CL_ByteString back(7);
  Recorder recorder;
  recorder.Watch(back);
  VectorStream in(out.bytes);
  ASSERT_TRUE(back.ReadFrom(in));
  EXPECT_EQ(Of(back), Of(abc));
  EXPECT_EQ(recorder.post, 1);

  VectorStream empty_out;
  ASSERT_TRUE(CL_ByteString().WriteTo(empty_out));
  EXPECT_EQ(empty_out.bytes, Cat({LE(8), LE(0)}));
  VectorStream empty_in(empty_out.bytes);
  ASSERT_TRUE(back.ReadFrom(empty_in));
  EXPECT_EQ(back.Size(), 0);
}

TEST(ByteStringStoredFormTest, TruncatedCorruptOrVetoedInputIsRefused) {
  unsigned char raw[] = {5, 6};
  CL_ByteString target(raw, 2);
  const auto state = [&] { return Hex(target); };
  ExpectEveryTruncationRefused(Cat({LE(8), LE(3), {1, 2, 3}}), target, state);
  for (const CL_Long size : {-1, 4, kLongMax, kLongMin}) {
    VectorStream s(Cat({LE(8), LE(size), {1, 2, 3}}));
    EXPECT_FALSE(target.ReadFrom(s)) << size;
    EXPECT_EQ(state(), "0506");
  }
  Recorder recorder;
  recorder.permit = false;
  recorder.Watch(target);
  VectorStream good(Cat({LE(8), LE(1), {1}}));
  EXPECT_FALSE(target.ReadFrom(good));
  EXPECT_EQ(state(), "0506");
}

// ---------------------------------------------------------------------------------------
// CL_Integer

TEST(IntegerTest, StepsAnswerTheValueBeforeOrAfter) {
  CL_Integer i(5);
  EXPECT_EQ(++i, 6);
  EXPECT_EQ(i++, 6);
  EXPECT_EQ(i.Value(), 7);
  EXPECT_EQ(--i, 6);
  EXPECT_EQ(i--, 6);
  EXPECT_EQ(i.Value(), 5);
  CL_Integer top(kLongMax);
  EXPECT_EQ(++top, kLongMin);  // wraps like 32 bits
  EXPECT_EQ(top--, kLongMin);
  EXPECT_EQ(top.Value(), kLongMax);

  Recorder recorder;
  recorder.Watch(i);
  i = 9;
  i = CL_Integer(10);
  EXPECT_EQ(recorder.post, 2);
  recorder.permit = false;
  EXPECT_EQ(++i, 10);
  EXPECT_EQ(i++, 10);
  EXPECT_EQ(--i, 10);
  EXPECT_EQ(i--, 10);
  i = 3;
  EXPECT_EQ(i.Value(), 10);
  EXPECT_EQ(recorder.post, 2);
}

TEST(IntegerTest, InRadix) {
  struct Case {
    CL_Long value;
    short radix;
    const char* text;
  };
  const Case cases[] = {
      {255, 16, "FF"},    {-1, 16, "FFFFFFFF"},
      {255, 1, ""},       {255, 17, ""},
      {0, 1, "0"},        {-5, 10, "-5"},
      {5, 2, "101"},      {kLongMin, 16, "80000000"},
      {35, 8, "43"},      {-1, 2, "11111111111111111111111111111111"},
      {1000, 10, "1000"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Text(CL_Integer(c.value).InRadix(c.radix)), c.text) << c.value << " " << c.radix;
}

TEST(IntegerTest, ComparesByValueWithinTheClass) {
  const CL_Integer two(2), three(3), other_two(2);
  EXPECT_TRUE(two < three);
  EXPECT_TRUE(two <= other_two);
  EXPECT_TRUE(three > two);
  EXPECT_TRUE(three >= three);
  EXPECT_TRUE(two == other_two);
  EXPECT_TRUE(two != three);
  EXPECT_EQ(two.Compare(three), -1);
  EXPECT_EQ(three.Compare(two), 1);
  EXPECT_EQ(two.Compare(other_two), 0);

  const CL_String text_object("2");
  const CL_Object& text = text_object;
  EXPECT_FALSE(two < text);
  EXPECT_FALSE(two > text);
  EXPECT_FALSE(two == text);
  EXPECT_TRUE(two != text);
  EXPECT_EQ(two.Compare(text), std::less<const void*>{}(&two, &text) ? -1 : 1);

  EXPECT_EQ(Text(CL_Integer(-42).AsString()), "-42");
  std::ostringstream out;
  out << CL_Integer(kLongMin);
  EXPECT_EQ(out.str(), "-2147483648");
  std::unique_ptr<CL_Object> clone(two.Clone());
  EXPECT_TRUE(*clone == two);
  EXPECT_STREQ(clone->ClassName(), "CL_Integer");
}

TEST(IntegerTest, AssignmentFromAnObjectChecksTheClass) {
  WarningCapture warnings;
  CL_Integer i(1);
  i = static_cast<const CL_Object&>(CL_Integer(4));
  EXPECT_EQ(i.Value(), 4);
  i = static_cast<const CL_Object&>(CL_String("5"));
  EXPECT_EQ(i.Value(), 4);
  EXPECT_THAT(warnings.texts(),
              testing::ElementsAre("CL_Integer::operator=: Invalid class 'CL_String'"));
}

TEST(IntegerTest, StoredForm) {
  const CL_Integer value(-2);
  EXPECT_EQ(value.StorableFormWidth(), 8);
  VectorStream out;
  ASSERT_TRUE(value.WriteTo(out));
  EXPECT_EQ(out.bytes, Bytes({5, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff}));
  for (const CL_Long v : {0, 1, -1, kLongMax, kLongMin}) {
    VectorStream s;
    ASSERT_TRUE(CL_Integer(v).WriteTo(s));
    CL_Integer back(7);
    s.position = 0;
    ASSERT_TRUE(back.ReadFrom(s));
    EXPECT_EQ(back.Value(), v);
  }
  CL_Integer target(11);
  ExpectEveryTruncationRefused(out.bytes, target, [&] { return std::to_string(target.Value()); });
  VectorStream foreign(Cat({LE(6), LE(3)}));
  EXPECT_FALSE(target.ReadFrom(foreign));
  Recorder recorder;
  recorder.permit = false;
  recorder.Watch(target);
  VectorStream vetoed(out.bytes);
  EXPECT_FALSE(target.ReadFrom(vetoed));
  EXPECT_EQ(target.Value(), 11);
}

TEST(BytesRegistryTest, ReadByPointerCreatesEachClass) {
  struct Case {
    Bytes form;
    const char* class_name;
    const char* text;
  };
  const Case cases[] = {
      {Cat({{'O', 0}, LE(5), LE(5), LE(-7)}), "CL_Integer", "-7"},
      {Cat({{'O', 0}, LE(8), LE(8), LE(3), {'x', 'y', 0}}), "CL_ByteString", "xy"},
      {Cat({{'O', 0}, LE(7), LE(7)}), "CL_ByteArray", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.class_name);
    VectorStream s(c.form);
    CL_Object* object = nullptr;
    ASSERT_TRUE(s.Read(object));
    std::unique_ptr<CL_Object> owned(object);
    EXPECT_STREQ(owned->ClassName(), c.class_name);
    EXPECT_EQ(Text(owned->AsString()), c.text);
  }
}

}  // namespace
}  // namespace twcl_test
