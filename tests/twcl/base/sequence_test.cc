// Tests of the segmented slot store, CL_Sequence and its named forms, and the two splitting
// operations of CL_String that answer sequences.
#include "twcl/base/sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "container_test_util.h"
#include "twcl/base/set.h"

namespace twcl_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// ---------------------------------------------------------------------------------------
// CL_PtrSegments

std::vector<CL_Long> Layout(const CL_PtrSegments& store) {
  std::vector<CL_Long> slots;
  for (short k = 0; k < store.SegmentCount(); ++k) slots.push_back(store.SegmentSlots(k));
  return slots;
}

TEST(PtrSegments, RoundUpGivesTheNextPowerOfTwo) {
  const std::vector<std::pair<short, short>> cases = {
      {0, 0}, {1, 1}, {2, 2}, {3, 4}, {8, 8}, {9, 16}, {4097, 8192}, {8191, 8192}, {8192, 8192}};
  for (const auto& [n, expected] : cases) EXPECT_EQ(CL_PtrSegments::RoundUp(n), expected) << n;
}

TEST(PtrSegments, ConstructorMakesFullSegmentsAndOneRoundedRemainder) {
  const struct {
    CL_Long capacity;
    std::vector<CL_Long> layout;
  } cases[] = {
      {0, {}},
      {5, {8}},
      {8, {8}},
      {8192, {8192}},
      {8193, {8192, 1}},  // no minimum of 8 in the constructor
      {10000, {8192, 2048}},
      {3 * 8192, {8192, 8192, 8192}},
  };
  for (const auto& c : cases) {
    const CL_PtrSegments store(c.capacity);
    EXPECT_EQ(Layout(store), c.layout) << c.capacity;
    CL_Long total = 0;
    for (const CL_Long slots : c.layout) total += slots;
    EXPECT_EQ(store.Capacity(), total) << c.capacity;
  }
}

TEST(PtrSegments, ChangeSizeFollowsTheSegmentRules) {
  const struct {
    const char* what;
    CL_Long from;
    CL_Long to;
    std::vector<CL_Long> layout;
  } cases[] = {
      {"partial last segment doubles", 8, 9, {16}},
      {"a full store gains a last segment of 8", 8192, 8200, {8192, 8}},
      {"growing over several segments", 8, 20000, {8192, 8192, 4096}},
      {"shrinking by less than a segment keeps everything", 16, 9, {16}},
      {"shrinking by less than a segment keeps everything",
       3 * 8192,
       2 * 8192 + 1,
       {8192, 8192, 8192}},
      {"shrinking frees whole segments", 3 * 8192, 8192 + 10, {8192, 16}},
      {"a last segment at most twice the need is kept", 3 * 8192, 8192 + 3000, {8192, 8192}},
      {"shrinking to less than one segment", 2 * 8192 + 64, 20, {32}},
      {"shrinking to a whole number of segments", 4 * 8192, 2 * 8192, {8192, 8192}},
  };
  for (const auto& c : cases) {
    CL_PtrSegments store(c.from);
    ASSERT_TRUE(store.ChangeSize(c.to)) << c.what;
    EXPECT_EQ(Layout(store), c.layout) << c.what;
    EXPECT_GE(store.Capacity(), c.to) << c.what;
  }
}

TEST(PtrSegments, ChangeSizeKeepsTheLeadingSlotsAndZeroesNewOnes) {
  CL_PtrSegments store(8);
  auto mark = [&](CL_Long i) { std::memcpy(store[i]->cell, &i, sizeof i); };
  auto marked = [&](CL_Long i) {
    CL_Long v;
    std::memcpy(&v, store[i]->cell, sizeof v);
    return v == i;
  };
  for (CL_Long i = 0; i < 8; ++i) mark(i);
  ASSERT_TRUE(store.ChangeSize(20000));
  for (CL_Long i = 0; i < 8; ++i) EXPECT_TRUE(marked(i)) << i;
  const CL_Slot zero{};
  for (CL_Long i = 8; i < store.Capacity(); ++i)
    ASSERT_EQ(std::memcmp(store[i], &zero, sizeof zero), 0) << i;
  for (CL_Long i = 0; i < 20000; ++i) mark(i);
  ASSERT_TRUE(store.ChangeSize(9000));
  for (CL_Long i = 0; i < 9000; ++i) ASSERT_TRUE(marked(i)) << i;
}

TEST(PtrSegments, RequestsForNoSegmentOrTooManyFailUnchanged) {
  CL_PtrSegments store(3 * 8192);
  EXPECT_FALSE(store.ChangeSize(0));
  EXPECT_FALSE(store.ChangeSize(-5));
  EXPECT_FALSE(store.ChangeSize(INT32_MAX));  // more segments than a short counts
  EXPECT_EQ(store.Capacity(), 3 * 8192);
  EXPECT_EQ(CL_PtrSegments(INT32_MAX).Capacity(), 0);
  store.Free();
  EXPECT_EQ(store.Capacity(), 0);
  EXPECT_EQ(store.SegmentCount(), 0);
}

// ---------------------------------------------------------------------------------------
// Element kinds: the same behaviour over integers (in the slot), strings (owned heap
// copies) and object pointers (not owned).

Tag* PooledTag(int value) {
  static std::map<int, std::unique_ptr<Tag>> pool;
  auto& tag = pool[value];
  if (!tag) tag = std::make_unique<Tag>(value);
  return tag.get();
}

template <class T>
struct Kind;

template <>
struct Kind<CL_Long> {
  using Sequence = CL_IntegerSequence;
  static CL_Long Make(int v) { return v; }
  // The tests use positive values, so the null element 0 shows as -1 like the other kinds'.
  static int Value(const CL_Long& e) { return e == 0 ? -1 : e; }
};

template <>
struct Kind<CL_String> {
  using Sequence = CL_StringSequence;
  // Zero-padded, so the text order is the numeric order.
  static CL_String Make(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%05d", v);
    return CL_String(text);
  }
  static int Value(const CL_String& e) { return e.Size() == 0 ? -1 : static_cast<int>(e.AsLong()); }
};

template <>
struct Kind<CL_ObjectPtr> {
  using Sequence = CL_ObjectSequence;
  static CL_ObjectPtr Make(int v) { return PooledTag(v); }
  static int Value(const CL_ObjectPtr& e) {
    return e == nullptr ? -1 : static_cast<int>(static_cast<Tag*>(e)->value);
  }
};

template <class T>
class SequenceKinds : public ::testing::Test {
 protected:
  using ElementKind = Kind<T>;
  using Sequence = typename ElementKind::Sequence;

  static void Fill(Sequence& s, const std::vector<int>& values) {
    for (const int v : values) ASSERT_GE(s.Add(ElementKind::Make(v)), 0);
  }
  static Sequence Of(const std::vector<int>& values) {
    Sequence s;
    Fill(s, values);
    return s;
  }
  // The values, -1 for a null element.
  static std::vector<int> Values(const CL_Sequence<T>& s) {
    std::vector<int> values;
    for (CL_Long i = 0; i < s.Size(); ++i) values.push_back(ElementKind::Value(s[i]));
    return values;
  }
};

using ElementKinds = ::testing::Types<CL_Long, CL_String, CL_ObjectPtr>;
TYPED_TEST_SUITE(SequenceKinds, ElementKinds);

TYPED_TEST(SequenceKinds, InsertAtEveryPositionClass) {
  using K = typename TestFixture::ElementKind;
  const struct {
    std::vector<int> start;
    CL_Long after;
    bool inserted;
    std::vector<int> result;
  } cases[] = {
      {{10, 20, 30}, -2, false, {10, 20, 30}},
      {{10, 20, 30}, -1, true, {99, 10, 20, 30}},
      {{10, 20, 30}, 0, true, {10, 99, 20, 30}},
      {{10, 20, 30}, 1, true, {10, 20, 99, 30}},
      {{10, 20, 30}, 2, true, {10, 20, 30, 99}},
      {{10, 20, 30}, 3, false, {10, 20, 30}},
      {{}, -1, true, {99}},
      {{}, 0, true, {99}},  // an empty sequence takes any position from -1 on, at 0
      {{}, -2, false, {}},
  };
  for (const auto& c : cases) {
    auto s = TestFixture::Of(c.start);
    EXPECT_EQ(s.Insert(K::Make(99), c.after), c.inserted) << "after " << c.after;
    EXPECT_EQ(TestFixture::Values(s), c.result) << "after " << c.after;
  }
}

TYPED_TEST(SequenceKinds, RemoveAndExtractAtEveryPositionClass) {
  const struct {
    CL_Long index;
    int removed;
    std::vector<int> result;
  } cases[] = {
      {-1, -1, {10, 20, 30}}, {0, 10, {20, 30}},     {1, 20, {10, 30}},
      {2, 30, {10, 20}},      {3, -1, {10, 20, 30}},
  };
  using K = typename TestFixture::ElementKind;
  for (const auto& c : cases) {
    auto s = TestFixture::Of({10, 20, 30});
    EXPECT_EQ(K::Value(s.Remove(c.index)), c.removed) << c.index;
    EXPECT_EQ(TestFixture::Values(s), c.result) << c.index;
  }
  auto s = TestFixture::Of({10, 20, 30});
  EXPECT_EQ(K::Value(s.ExtractLeftmost()), 10);
  EXPECT_EQ(K::Value(s.ExtractRightmost()), 30);
  EXPECT_EQ(K::Value(s.ExtractRightmost()), 20);
  EXPECT_EQ(K::Value(s.ExtractLeftmost()), -1);
  EXPECT_EQ(K::Value(s.ExtractRightmost()), -1);
}

TYPED_TEST(SequenceKinds, InsertingAnElementOfTheSameSequenceCopiesItFirst) {
  auto s = TestFixture::Of({1, 2, 3, 4, 5, 6, 7, 8});
  // Element 2 moves to position 3 while it is being inserted in front.
  ASSERT_TRUE(s.Insert(s[2], -1));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{3, 1, 2, 3, 4, 5, 6, 7, 8}));
  // Growing past the capacity moves the slots while the argument is read.
  for (int i = 0; i < 40; ++i) ASSERT_GE(s.Add(s[0]), 0);
  EXPECT_EQ(TestFixture::Values(s).back(), 3);
  s += s;
  EXPECT_EQ(s.Size(), 2 * 49);
  EXPECT_EQ(TestFixture::Values(s)[49], 3);
}

TYPED_TEST(SequenceKinds, SortMatchesAReferenceSortAndKeepsOtherPositions) {
  std::mt19937 random(7);
  std::vector<int> values(3000);
  for (int& v : values) v = static_cast<int>(random() % 500) + 1;  // many equal elements
  auto s = TestFixture::Of(values);
  EXPECT_FALSE(s.IsSorted());
  ASSERT_TRUE(s.Sort(100, 1000));
  std::vector<int> expected = values;
  std::sort(expected.begin() + 100, expected.begin() + 1100);
  EXPECT_EQ(TestFixture::Values(s), expected);
  ASSERT_TRUE(s.Sort());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(TestFixture::Values(s), expected);
  EXPECT_TRUE(s.IsSorted());
  EXPECT_FALSE(s.Sort());  // already in order
  // Counts beyond the end stop at the end; a start outside the elements fails.
  auto t = TestFixture::Of({5, 4, 3, 2, 1});
  EXPECT_TRUE(t.Sort(2, 1000));
  EXPECT_EQ(TestFixture::Values(t), (std::vector<int>{5, 4, 1, 2, 3}));
  EXPECT_FALSE(t.Sort(5, 1));
  EXPECT_FALSE(t.Sort(-1, 3));
  EXPECT_FALSE(t.Sort(0, 0));
}

TYPED_TEST(SequenceKinds, BinarySearchFindsTheFirstEqualOrTheLastLess) {
  using K = typename TestFixture::ElementKind;
  // Sizes below and above the linear-search limit of 8, with runs of equal elements.
  for (int size = 0; size <= 20; ++size) {
    std::vector<int> values;
    for (int i = 0; i < size; ++i) values.push_back(2 * (i / 3) + 1);
    const auto s = TestFixture::Of(values);
    for (int probe = 0; probe <= 2 * size + 2; ++probe) {
      const auto first = std::lower_bound(values.begin(), values.end(), probe);
      const bool present = first != values.end() && *first == probe;
      const auto expected = static_cast<CL_Long>(first - values.begin()) - (present ? 0 : 1);
      CL_Long index = -7;
      EXPECT_EQ(s.BinarySearch(K::Make(probe), index), present) << size << "/" << probe;
      EXPECT_EQ(index, expected) << size << "/" << probe;
    }
  }
}

TYPED_TEST(SequenceKinds, InsertByRankKeepsTheOrder) {
  using K = typename TestFixture::ElementKind;
  typename TestFixture::Sequence s;
  EXPECT_EQ(s.InsertByRank(K::Make(5)), 0);
  EXPECT_EQ(s.InsertByRank(K::Make(9)), 1);
  EXPECT_EQ(s.InsertByRank(K::Make(1)), 0);
  EXPECT_EQ(s.InsertByRank(K::Make(5)), 1);  // before the equal one
  EXPECT_EQ(s.InsertByRank(K::Make(7)), 3);
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{1, 5, 5, 7, 9}));
}

TYPED_TEST(SequenceKinds, ExtractIntoMovesTheChosenPositionsInOrder) {
  auto s = TestFixture::Of({5, 10, 20, 30, 40, 50});
  auto target = TestFixture::Of({7});
  CL_IntegerSet positions;
  for (const CL_Long p : {5, 1, 99, -3}) positions.Add(p);
  EXPECT_EQ(s.ExtractInto(positions, target), 2);
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{5, 20, 30, 40}));
  EXPECT_EQ(TestFixture::Values(target), (std::vector<int>{7, 10, 50}));
  EXPECT_EQ(s.ExtractInto(CL_IntegerSet(10, 20), target), 0);
  EXPECT_EQ(s.ExtractInto(positions, s), 0);

  const auto extracted = s.Extract(CL_IntegerSet(0, 1));
  EXPECT_EQ(TestFixture::Values(extracted), (std::vector<int>{5, 20}));
  EXPECT_TRUE(s.Remove(CL_IntegerSet(1, 1)));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{30}));
  EXPECT_TRUE(s.Remove(CL_IntegerSet(4, 8)));  // nothing in range: done, nothing removed
  EXPECT_EQ(s.Size(), 1);
}

TYPED_TEST(SequenceKinds, ChangeSizeCopyAndAssignment) {
  auto s = TestFixture::Of({1, 2, 3});
  ASSERT_TRUE(s.ChangeSize(5));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{1, 2, 3, -1, -1}));
  ASSERT_TRUE(s.ChangeSize(2));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{1, 2}));
  EXPECT_FALSE(s.ChangeSize(-1));
  // Slots given up by removals read as null elements when the sequence grows again.
  EXPECT_EQ(TestFixture::ElementKind::Value(s.Remove(0)), 1);
  ASSERT_TRUE(s.ChangeSize(3));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{2, -1, -1}));
  ASSERT_TRUE(s.ChangeSize(1));
  EXPECT_TRUE(s.Insert(TestFixture::ElementKind::Make(1), -1));

  typename TestFixture::Sequence copy(s);
  ASSERT_TRUE(copy.ChangeSize(1));
  EXPECT_EQ(TestFixture::Values(s), (std::vector<int>{1, 2}));
  copy = s;
  EXPECT_EQ(TestFixture::Values(copy), (std::vector<int>{1, 2}));
  std::unique_ptr<CL_Object> clone(s.Clone());
  EXPECT_STREQ(clone->ClassName(), s.ClassName());
  EXPECT_EQ(TestFixture::Values(dynamic_cast<CL_Sequence<TypeParam>&>(*clone)),
            (std::vector<int>{1, 2}));
  ASSERT_TRUE(s.MakeEmpty());
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(s._Storage()->Capacity(), 8);
}

// ---------------------------------------------------------------------------------------
// Growth

TEST(Sequence, NewSequencesStartWithTheirFirstSegments) {
  EXPECT_EQ(CL_IntegerSequence()._Storage()->Capacity(), 8);
  EXPECT_EQ(Layout(*CL_IntegerSequence(8193)._Storage()), (std::vector<CL_Long>{8192, 1}));
  EXPECT_EQ(Layout(*CL_IntegerSequence(8192)._Storage()), (std::vector<CL_Long>{8192}));
  CL_IntegerSequence grown(8192);
  ASSERT_TRUE(grown.ChangeSize(8200));
  EXPECT_EQ(Layout(*grown._Storage()), (std::vector<CL_Long>{8192, 8}));
}

TEST(Sequence, AppendingDoublesTheLastSegmentAndRemovingGivesSegmentsBack) {
  CL_StringSequence s;
  std::vector<CL_Long> capacities{s._Storage()->Capacity()};
  const CL_Long n = 20000;
  for (CL_Long i = 0; i < n; ++i) {
    ASSERT_EQ(s.Add(CL_String(i, 0, ' ')), i);
    if (s._Storage()->Capacity() != capacities.back())
      capacities.push_back(s._Storage()->Capacity());
  }
  std::vector<CL_Long> expected;
  for (CL_Long c = 8; c <= 8192; c *= 2) expected.push_back(c);
  for (CL_Long c = 8; c <= 8192; c *= 2) expected.push_back(8192 + c);
  for (CL_Long c = 8; c <= 4096; c *= 2) expected.push_back(2 * 8192 + c);
  EXPECT_EQ(capacities, expected);
  for (CL_Long i = 0; i < n; i += 997) ASSERT_EQ(s[i].AsLong(), i);

  // Removing from both ends: the store never keeps a whole segment more than it needs.
  while (s.Size() > 0) {
    const CL_Long before = s.Size();
    const CL_String removed = before % 64 == 0 ? s.ExtractLeftmost() : s.ExtractRightmost();
    ASSERT_EQ(s.Size(), before - 1);
    ASSERT_LT(s._Storage()->Capacity() - std::max<CL_Long>(s.Size(), 8), 8192);
  }
  EXPECT_LE(s._Storage()->Capacity(), 8192);
}

// ---------------------------------------------------------------------------------------
// Element access, names, assignment between classes

TEST(Sequence, OutOfRangeIndexWarnsAndAnswersAFreshNullScratch) {
  WarningCapture warnings;
  CL_StringSequence s;
  s.Add("a");
  s.Add("b");
  s.Add("c");
  CL_String& scratch = s[3];
  EXPECT_EQ(scratch, "");
  scratch = "written";
  EXPECT_EQ(s[-1], "");  // reset on every such call
  const CL_StringSequence& view = s;
  EXPECT_EQ(view[7], "");
  EXPECT_THAT(warnings.texts(), ElementsAre("CL_Sequence::op[]: index 3 out of range 0..2",
                                            "CL_Sequence::op[]: index -1 out of range 0..2",
                                            "CL_Sequence::op[]: index 7 out of range 0..2"));
  EXPECT_EQ(s.Size(), 3);
  CL_IntegerSequence empty;
  warnings.clear();
  EXPECT_EQ(empty[0], 0);
  EXPECT_THAT(warnings.texts(), ElementsAre("CL_Sequence::op[]: index 0 out of range 0..-1"));
}

TEST(Sequence, ClassNamesAndIds) {
  const struct {
    std::unique_ptr<CL_Object> object;
    const char* name;
    CL_Long id;
  } cases[] = {
      {std::make_unique<CL_Sequence<CL_String>>(), "CL_Sequence", 22},
      {std::make_unique<CL_Sequence<CL_Long>>(), "CL_Sequence", 22},
      {std::make_unique<CL_Sequence<CL_ObjectPtr>>(), "CL_Sequence", 22},
      {std::make_unique<CL_Sequence<void*>>(), "CL_Sequence", 22},
      {std::make_unique<CL_StringSequence>(), "CL_StringSequence", 25},
      {std::make_unique<CL_ObjectSequence>(), "CL_ObjectSequence", 24},
      {std::make_unique<CL_IntegerSequence>(), "CL_IntegerSequence", 23},
      {std::make_unique<CL_GenericSequence>(), "CL_GenericSequence", 22},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.object->ClassName(), c.name);
    EXPECT_EQ(c.object->ClassId(), c.id) << c.name;
    std::unique_ptr<CL_Object> clone(c.object->Clone());
    EXPECT_STREQ(clone->ClassName(), c.name);
  }
}

TEST(Sequence, AssignmentFromAnObjectChecksTheClass) {
  WarningCapture warnings;
  CL_Sequence<CL_Long> plain;
  plain.Add(1);
  plain = static_cast<const CL_Object&>(CL_String("x"));
  EXPECT_THAT(warnings.texts(), ElementsAre("CL_Sequence::op=: Invalid class 'CL_String'"));
  // Same class id, other element kind: nothing happens.
  plain = static_cast<const CL_Object&>(CL_Sequence<CL_String>(3));
  EXPECT_EQ(plain.Size(), 1);
  CL_Sequence<CL_Long> other;
  other.Add(5);
  other.Add(6);
  plain = static_cast<const CL_Object&>(other);
  EXPECT_EQ(plain.Size(), 2);

  // The named sequences ignore another class silently.
  warnings.clear();
  CL_StringSequence strings;
  strings.Add("kept");
  strings = static_cast<const CL_Object&>(CL_IntegerSequence(4));
  strings = static_cast<const CL_Object&>(CL_Sequence<CL_String>(4));
  EXPECT_EQ(strings.Size(), 1);
  CL_StringSequence more;
  more.Add("a");
  more.Add("b");
  strings = static_cast<const CL_Object&>(more);
  EXPECT_EQ(strings.Size(), 2);
  CL_ObjectSequence objects;
  objects = static_cast<const CL_Object&>(CL_IntegerSequence(4));
  EXPECT_EQ(objects.Size(), 0);
  EXPECT_THAT(warnings.texts(), IsEmpty());
}

TEST(Sequence, StringSequenceFromCStrings) {
  const char* const words[] = {"alpha", "beta", nullptr, "delta"};
  const CL_StringSequence up_to_null(words, -1);
  ASSERT_EQ(up_to_null.Size(), 2);
  EXPECT_EQ(up_to_null[1], "beta");
  const CL_StringSequence counted(words, 4);
  ASSERT_EQ(counted.Size(), 4);
  EXPECT_EQ(counted[2], "");
  EXPECT_EQ(counted[3], "delta");
  EXPECT_EQ(CL_StringSequence(nullptr, 3).Size(), 0);
}

TEST(Sequence, GenericSequenceSortsByItsComparatorOrByUnsignedAddress) {
  struct ByPointee : CL_ElementComparator {
    short Compare(void* a, void* b) const override {
      const int x = *static_cast<int*>(a), y = *static_cast<int*>(b);
      return static_cast<short>((x > y) - (x < y));
    }
  } by_pointee;
  int values[] = {30, 10, 20};
  CL_GenericSequence s(0, &by_pointee);
  // Stored from the highest address down, so that address order and value order differ.
  s.Add(&values[0]);
  s.Add(&values[2]);
  s.Add(&values[1]);
  ASSERT_TRUE(s.Sort());
  EXPECT_EQ(s[0], &values[1]);
  EXPECT_EQ(s[2], &values[0]);
  const CL_GenericSequence copy(s);
  EXPECT_EQ(copy.Comparator(), &by_pointee);
  CL_GenericSequence plain;
  plain += s;
  ASSERT_TRUE(plain.Sort());
  EXPECT_THAT(std::vector<void*>({plain[0], plain[1], plain[2]}),
              ElementsAre(&values[0], &values[1], &values[2]));
}

TEST(Sequence, DestroyContentsDeletesEachObjectOnce) {
  const int live = Tag::live;
  CL_ObjectSequence s;
  auto* shared = new Tag(1);
  s.Add(shared);
  s.Add(new Tag(2));
  s.Add(nullptr);
  s.Add(shared);
  Recorder recorder;
  recorder.Watch(s);
  ASSERT_TRUE(s.DestroyContents());
  EXPECT_EQ(s.Size(), 0);
  EXPECT_EQ(Tag::live, live);
  EXPECT_EQ(recorder.post, 1);
}

// ---------------------------------------------------------------------------------------
// Change protocol: every mutator asks first; a veto changes nothing and tells nobody.

TEST(Sequence, EveryMutatorAsksFirstAndTellsOnce) {
  const Mutation<CL_IntegerSequence> cases[] = {
      {"Insert", [](auto& s) { return s.Insert(9, 0); }},
      {"InsertByRank", [](auto& s) { return s.InsertByRank(2) >= 0; }},
      {"Add", [](auto& s) { return s.Add(9) >= 0; }},
      {"Remove", [](auto& s) { return s.Remove(1) == 1; }},
      {"ExtractLeftmost", [](auto& s) { return s.ExtractLeftmost() == 3; }},
      {"ExtractRightmost", [](auto& s) { return s.ExtractRightmost() == 2; }},
      {"operator=",
       [](auto& s) {
         const CL_Long data[] = {4, 4};
         s = CL_IntegerSequence(data, 2);
         return s.Size() == 2;
       }},
      {"operator+=",
       [](auto& s) {
         s += CL_IntegerSequence(2);
         return s.Size() == 5;
       }},
      {"Remove(positions)", [](auto& s) { return s.Remove(CL_IntegerSet(0, 1)) && s.Size() == 1; }},
      {"ExtractInto",
       [](auto& s) {
         CL_IntegerSequence target;
         return s.ExtractInto(CL_IntegerSet(0, 0), target) == 1;
       }},
      {"ChangeSize", [](auto& s) { return s.ChangeSize(10); }},
      {"MakeEmpty", [](auto& s) { return s.MakeEmpty(); }},
      {"Sort", [](auto& s) { return s.Sort(); }},
      {"ReadFrom",
       [](auto& s) {
         VectorStream stream(Stored(CL_IntegerSequence(2)));
         return s.ReadFrom(stream);
       }},
  };
  const CL_Long data[] = {3, 1, 2};
  const auto fresh = [&] { return CL_IntegerSequence(data, 3); };
  ExpectEveryMutatorAsksFirstAndTellsOnce(cases, fresh,
                                          [](const CL_IntegerSequence& s) { return Stored(s); });
}

TEST(Sequence, FailedPreconditionsAndOrderedSortsAskNobody) {
  const CL_Long data[] = {1, 2, 3};
  CL_IntegerSequence s(data, 3);
  Recorder recorder;
  recorder.Watch(s);
  EXPECT_FALSE(s.Insert(9, 3));
  EXPECT_EQ(s.Remove(3), 0);
  EXPECT_FALSE(s.ChangeSize(-1));
  EXPECT_FALSE(s.Sort());
  EXPECT_EQ(s.ExtractInto(CL_IntegerSet(5, 6), s), 0);
  s = s;
  EXPECT_EQ(recorder.pre, 0);
  EXPECT_EQ(recorder.post, 0);
}

TEST(Sequence, RawShiftsNeitherAskNorTell) {
  const CL_Long data[] = {1, 2, 3};
  CL_IntegerSequence s(data, 3);
  Recorder recorder;
  recorder.Watch(s);
  ASSERT_TRUE(s.ShiftRight(1, 2));
  EXPECT_THAT(std::vector<CL_Long>({s[0], s[1], s[2], s[3], s[4]}), ElementsAre(1, 0, 0, 2, 3));
  ASSERT_TRUE(s.ShiftLeft(3, 2));
  EXPECT_THAT(std::vector<CL_Long>({s[0], s[1], s[2]}), ElementsAre(1, 2, 3));
  EXPECT_FALSE(s.ShiftRight(4, 1));
  EXPECT_FALSE(s.ShiftLeft(0, 0));
  EXPECT_FALSE(s.ShiftLeft(2, 3));
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

// ---------------------------------------------------------------------------------------
// Stored forms

CL_IntegerSequence Integers(std::initializer_list<CL_Long> values) {
  CL_IntegerSequence s;
  for (const CL_Long v : values) s.Add(v);
  return s;
}

TEST(SequenceStoredForm, GoldenBytesAndRoundTrips) {
  const CL_IntegerSequence integers = Integers({1, -2});
  const Bytes integer_form = Cat({LE(23), LE(2), LE(1), LE(-2)});
  EXPECT_EQ(Stored(integers), integer_form);
  EXPECT_EQ(integers.StorableFormWidth(), 16);

  CL_StringSequence strings;
  strings.Add("ab");
  strings.Add("");
  const Bytes string_form = Cat({LE(25), LE(2), LE(6), LE(3), {'a', 'b', 0}, LE(6), LE(1), {0}});
  EXPECT_EQ(Stored(strings), string_form);
  EXPECT_EQ(strings.StorableFormWidth(), 8 + 11 + 9);

  Tag seven(7);
  CL_ObjectSequence objects;
  objects.Add(&seven);
  objects.Add(nullptr);
  const Bytes object_form = Cat({LE(24), LE(2), TagForm(7), Flag('N')});
  EXPECT_EQ(Stored(objects), object_form);
  EXPECT_EQ(objects.StorableFormWidth(), 8 + 8);

  CL_IntegerSequence integers_back = Integers({9, 9, 9});
  VectorStream a(integer_form);
  ASSERT_TRUE(integers_back.ReadFrom(a));
  EXPECT_EQ(Stored(integers_back), integer_form);
  CL_StringSequence strings_back;
  VectorStream b(string_form);
  ASSERT_TRUE(strings_back.ReadFrom(b));
  EXPECT_EQ(Stored(strings_back), string_form);
  CL_ObjectSequence objects_back;
  VectorStream c(object_form);
  ASSERT_TRUE(objects_back.ReadFrom(c));
  ASSERT_EQ(objects_back.Size(), 2);
  EXPECT_EQ(Stored(objects_back), object_form);
  EXPECT_EQ(objects_back[1], nullptr);
  objects_back.DestroyContents();
}

TEST(SequenceStoredForm, EveryTruncationAndCorruptCountIsRefused) {
  CL_IntegerSequence integers = Integers({4, 5, 6});
  const Bytes integer_form = Stored(Integers({1, -2, 3}));
  twcl_test::ExpectEveryTruncationRefused(integers, integer_form);
  twcl_test::ExpectCorruptCountsRefused(integers, integer_form, 4);

  CL_StringSequence strings;
  strings.Add("old");
  CL_StringSequence written;
  written.Add("ab");
  written.Add("cde");
  twcl_test::ExpectEveryTruncationRefused(strings, Stored(written));
  twcl_test::ExpectCorruptCountsRefused(strings, Stored(written), 4);

  Tag kept(1);
  CL_ObjectSequence objects;
  objects.Add(&kept);
  const Bytes object_form = Cat({LE(24), LE(3), TagForm(7), Flag('N'), TagForm(8)});
  twcl_test::ExpectEveryTruncationRefused(objects, object_form);
  twcl_test::ExpectCorruptCountsRefused(objects, object_form, 4);
}

TEST(SequenceStoredForm, AFailingElementFailsTheReadAndDeletesWhatItMade) {
  const int live = Tag::live;
  Tag kept(1);
  CL_ObjectSequence objects;
  objects.Add(&kept);
  // The third object's body is refused (negative value).
  VectorStream bad(Cat({LE(24), LE(3), TagForm(7), TagForm(8), TagForm(-1)}));
  EXPECT_FALSE(objects.ReadFrom(bad));
  EXPECT_EQ(Tag::live, live + 1);
  ASSERT_EQ(objects.Size(), 1);
  EXPECT_EQ(objects[0], &kept);

  // A string whose last byte is not the terminator.
  CL_StringSequence strings;
  VectorStream unterminated(Cat({LE(25), LE(1), LE(6), LE(2), {'a', 'x'}}));
  EXPECT_FALSE(strings.ReadFrom(unterminated));
  EXPECT_EQ(strings.Size(), 0);
}

TEST(SequenceStoredForm, AWrongClassIdIsRefusedAndUnread) {
  CL_IntegerSequence s;
  VectorStream stream(Stored(CL_StringSequence(1)));
  EXPECT_FALSE(s.ReadFrom(stream));
  EXPECT_EQ(stream.position, 0);
}

TEST(SequenceStoredForm, AVetoDeletesTheObjectsTheReadMade) {
  const int live = Tag::live;
  CL_ObjectSequence objects;
  Recorder recorder;
  recorder.permit = false;
  recorder.Watch(objects);
  VectorStream stream(Cat({LE(24), LE(2), TagForm(7), TagForm(8)}));
  EXPECT_FALSE(objects.ReadFrom(stream));
  EXPECT_EQ(Tag::live, live);
  EXPECT_EQ(objects.Size(), 0);
}

// Reads a 4-byte value and makes a Tag of it; refuses a negative value.
struct TagReader : CL_ObjectReader {
  CL_Object* ReadObject(CL_Stream& s) override {
    CL_Long v;
    if (!s.ReadLong(v) || v < 0) return nullptr;
    return new Tag(v);
  }
};

TEST(SequenceStoredForm, AReaderReadsTheElementsAndItsObjectsGoOnFailure) {
  const int live = Tag::live;
  TagReader reader;
  CL_ObjectSequence objects(nullptr, 0, &reader);
  VectorStream good(Cat({LE(24), LE(2), LE(5), LE(6)}));
  ASSERT_TRUE(objects.ReadFrom(good));
  ASSERT_EQ(objects.Size(), 2);
  EXPECT_EQ(static_cast<Tag*>(objects[1])->value, 6);
  objects.DestroyContents();
  VectorStream bad(Cat({LE(24), LE(3), LE(5), LE(6), LE(-1)}));
  EXPECT_FALSE(objects.ReadFrom(bad));
  EXPECT_EQ(Tag::live, live);
  EXPECT_EQ(objects.Size(), 0);
}

TEST(SequenceStoredForm, UntypedSequencesCannotBeStored) {
  WarningCapture warnings;
  int x = 0;
  CL_GenericSequence s;
  s.Add(&x);
  VectorStream out;
  EXPECT_FALSE(s.WriteTo(out));
  VectorStream in(Cat({LE(22), LE(1), LE(0), LE(0)}));
  EXPECT_FALSE(s.ReadFrom(in));
  EXPECT_EQ(s.Size(), 1);
  EXPECT_THAT(warnings.texts(),
              ElementsAre("Class 'CL_GenericSequence' does not implement method '_WriteElement'\n",
                          "Class 'CL_GenericSequence' does not implement method '_ReadElement'\n"));
}

TEST(SequenceStoredForm, TheRegistryMakesEachStoredSequenceClass) {
  CL_StringSequence strings;
  strings.Add("s");
  const CL_Sequence<CL_Long>& integers = Integers({3});
  CL_ObjectSequence objects;
  for (const CL_Object* original :
       {static_cast<const CL_Object*>(&strings), static_cast<const CL_Object*>(&integers),
        static_cast<const CL_Object*>(&objects)}) {
    VectorStream stream(ByPointer(*original));
    CL_Object* read = nullptr;
    ASSERT_TRUE(stream.Read(read)) << original->ClassName();
    std::unique_ptr<CL_Object> owned(read);
    EXPECT_STREQ(read->ClassName(), original->ClassName());
    EXPECT_EQ(Stored(*read), Stored(*original));
  }
}

TEST(SequenceStoredForm, ObjectsWrittenTwiceComeBackAsOneObject) {
  Tag shared(4);
  Plain other(5);
  CL_ObjectSequence objects;
  objects.Add(&shared);
  objects.Add(&other);
  objects.Add(&shared);
  VectorStream stream;
  stream.RememberPointers();
  ASSERT_TRUE(objects.WriteTo(stream));
  stream.position = 0;
  CL_ObjectSequence back;
  ASSERT_TRUE(back.ReadFrom(stream));
  ASSERT_EQ(back.Size(), 3);
  EXPECT_EQ(back[0], back[2]);
  EXPECT_NE(back[0], &shared);
  back.DestroyContents();
}

// ---------------------------------------------------------------------------------------
// CL_String::Split and SplitOn

std::vector<std::string> Texts(const CL_StringSequence& fields) {
  std::vector<std::string> texts;
  for (CL_Long i = 0; i < fields.Size(); ++i) texts.emplace_back(fields[i].AsPtr());
  return texts;
}

TEST(StringSplit, SplitOnKeepsEmptyFieldsAndAlwaysAddsTheLast) {
  const struct {
    const char* text;
    std::vector<std::string> fields;
  } cases[] = {
      {"a,,b", {"a", "", "b"}}, {"", {""}}, {"a,", {"a", ""}}, {",", {"", ""}}, {"abc", {"abc"}},
  };
  for (const auto& c : cases) {
    const CL_StringSequence fields = CL_String(c.text).SplitOn(',');
    EXPECT_STREQ(fields.ClassName(), "CL_StringSequence");
    EXPECT_EQ(Texts(fields), c.fields) << c.text;
  }
  // Bytes after an embedded NUL still count.
  EXPECT_EQ(Texts(CL_String("x\0y", 3).SplitOn('\0')), (std::vector<std::string>{"x", "y"}));
}

TEST(StringSplit, SplitMakesNoEmptyFieldsFromRunsOfSeparators) {
  const struct {
    const char* text;
    std::vector<std::string> fields;
  } cases[] = {{" ,a,,b  c ", {"a", "b", "c"}}, {"", {}}, {" , ", {}}, {"word", {"word"}}};
  for (const auto& c : cases) EXPECT_EQ(Texts(CL_String(c.text).Split(" ,")), c.fields) << c.text;
}

// ---------------------------------------------------------------------------------------
// Views attached to a string sequence

// Records the indices it is told of.
struct ItemLog : CL_SequenceView {
  std::vector<CL_Long> changed;
  bool ItemChanged(CL_Long index) override {
    changed.push_back(index);
    return true;
  }
};

TEST(StringSequenceViews, ViewsHearWhichElementChangedInPlace) {
  const char* const words[] = {"Äpfel", "pear", "plum", nullptr};
  CL_StringSequence s(words, -1);
  ItemLog log, other;
  ASSERT_TRUE(s.AttachView(&log));
  EXPECT_FALSE(s.AttachView(&log));  // once only
  ASSERT_TRUE(s.AttachView(&other));

  s[2] = "Pflaume";
  s[0] += "!";
  EXPECT_THAT(log.changed, ElementsAre(2, 0));

  // Elements inserted or moved by a change of the sequence report their new index.
  ASSERT_TRUE(s.Insert(CL_String("fig"), -1));
  s[3] = "plum again";
  s[0] = "Feige";
  s.Add(CL_String("last"));
  s[4] = "";
  EXPECT_THAT(log.changed, ElementsAre(2, 0, 3, 0, 4));

  // A whole new content is watched as well; a copy has no views.
  s = CL_StringSequence(words, -1);
  s[1] = "Birne";
  CL_StringSequence copy(s);
  copy[1] = "not told";
  EXPECT_THAT(log.changed, ElementsAre(2, 0, 3, 0, 4, 1));

  ASSERT_TRUE(s.DetachView(&log));
  EXPECT_FALSE(s.DetachView(&log));
  s[1] = "pear";
  EXPECT_THAT(log.changed, ElementsAre(2, 0, 3, 0, 4, 1));
  EXPECT_THAT(other.changed, ElementsAre(2, 0, 3, 0, 4, 1, 1));
}

}  // namespace
}  // namespace twcl_test
