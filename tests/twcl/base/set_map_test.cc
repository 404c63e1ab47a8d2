// Tests of the sets (sorted sets, object sets, integer sets), the set iterator, the maps
// with their named forms, and the map iterator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "container_test_util.h"
#include "twcl/base/client_set.h"
#include "twcl/base/map.h"
#include "twcl/base/set.h"

namespace twcl_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

std::vector<CL_Long> Members(const CL_Set<CL_Long>& set) {
  std::vector<CL_Long> members;
  for (CL_Long i = 0; i < set.Size(); ++i) members.push_back(set.ItemWithRank(i));
  return members;
}

CL_IntegerSet Of(std::initializer_list<CL_Long> members) {
  CL_IntegerSet set;
  for (const CL_Long m : members) set.Add(m);
  return set;
}

// ---------------------------------------------------------------------------------------
// Sorted sets

TEST(IntegerSet, MembersStayUniqueAndInSignedOrder) {
  CL_IntegerSet set;
  for (const CL_Long m : {5, -3, 0, 12, -40, 5}) set.Add(m);
  EXPECT_FALSE(set.Add(0));
  EXPECT_THAT(Members(set), ElementsAre(-40, -3, 0, 5, 12));
  EXPECT_TRUE(set.Includes(-3));
  EXPECT_FALSE(set.Includes(4));
  EXPECT_EQ(set.Remove(5), 5);
  EXPECT_EQ(set.Remove(5), 0);  // absent: the null element
  EXPECT_THAT(Members(set), ElementsAre(-40, -3, 0, 12));
  EXPECT_THAT(Members(CL_IntegerSet(-2, 2)), ElementsAre(-2, -1, 0, 1, 2));
  EXPECT_EQ(CL_IntegerSet(3, 2).Size(), 0);
}

TEST(IntegerSet, RanksClampAndAbsentMembersRankWhereTheyWouldGo) {
  // Ten members, so the search is binary, not linear.
  const CL_IntegerSet set = Of({10, 20, 30, 40, 50, 60, 70, 80, 90, 100});
  EXPECT_EQ(set.RankOf(30), 2);
  EXPECT_EQ(set.RankOf(35), 3);
  EXPECT_EQ(set.RankOf(5), 0);
  EXPECT_EQ(set.RankOf(500), 10);
  EXPECT_EQ(Of({1, 4}).RankOf(2), 1);
  EXPECT_EQ(set.ItemWithRank(-3), 10);
  EXPECT_EQ(set.ItemWithRank(15), 100);
  EXPECT_EQ(CL_IntegerSet().ItemWithRank(0), 0);
}

TEST(IntegerSet, TextFormAndNextNonMember) {
  EXPECT_EQ(Of({10, 2, 1}).AsString(), "{1, 2, 10}");
  EXPECT_EQ(Of({-3, 0}).AsString(), "{-3, 0}");
  EXPECT_EQ(CL_IntegerSet().AsString(), "{}");
  const CL_IntegerSet set = Of({5, 6, 8});
  EXPECT_EQ(set.NextNonMember(4), 7);
  EXPECT_EQ(set.NextNonMember(6), 7);
  EXPECT_EQ(set.NextNonMember(8), 9);
  EXPECT_EQ(set.NextNonMember(0), 1);
  EXPECT_EQ(CL_IntegerSet().NextNonMember(4), 5);
}

TEST(IntegerSet, AlgebraMatchesTheStandardAlgorithms) {
  EXPECT_THAT(Members(CL_IntegerSet(3, 6) ^ CL_IntegerSet(5, 9)), ElementsAre(3, 4, 7, 8, 9));
  EXPECT_THAT(Members(CL_IntegerSet(7, 9) ^ CL_IntegerSet(1, 2)), ElementsAre(1, 2, 7, 8, 9));

  using Op = std::function<CL_Set<CL_Long>(const CL_IntegerSet&, const CL_IntegerSet&)>;
  using Reference = std::function<void(const std::set<CL_Long>&, const std::set<CL_Long>&,
                                       std::insert_iterator<std::set<CL_Long>>)>;
  const struct {
    const char* name;
    Op op;
    std::function<void(CL_IntegerSet&, const CL_IntegerSet&)> in_place;
    Reference reference;
  } ops[] = {
      {"union", [](auto& a, auto& b) { return a + b; }, [](auto& a, auto& b) { a += b; },
       [](auto& a, auto& b, auto out) {
         std::set_union(a.begin(), a.end(), b.begin(), b.end(), out);
       }},
      {"intersection", [](auto& a, auto& b) { return a * b; }, [](auto& a, auto& b) { a *= b; },
       [](auto& a, auto& b, auto out) {
         std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), out);
       }},
      {"difference", [](auto& a, auto& b) { return a - b; }, [](auto& a, auto& b) { a -= b; },
       [](auto& a, auto& b, auto out) {
         std::set_difference(a.begin(), a.end(), b.begin(), b.end(), out);
       }},
      {"symmetric difference", [](auto& a, auto& b) { return a ^ b; },
       [](auto& a, auto& b) { a ^= b; },
       [](auto& a, auto& b, auto out) {
         std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), out);
       }},
  };
  std::mt19937 random(11);
  for (int round = 0; round < 60; ++round) {
    // Sizes from empty to beyond the linear-search limit; values overlapping, negative too.
    std::set<CL_Long> a, b;
    for (int i = static_cast<int>(random() % 25); i > 0; --i) a.insert(random() % 40 - 10);
    for (int i = static_cast<int>(random() % 25); i > 0; --i) b.insert(random() % 40 - 10);
    CL_IntegerSet x, y;
    for (const CL_Long m : a) x.Add(m);
    for (const CL_Long m : b) y.Add(m);
    for (const auto& op : ops) {
      std::set<CL_Long> expected;
      op.reference(a, b, std::inserter(expected, expected.end()));
      EXPECT_THAT(Members(op.op(x, y)), ::testing::ElementsAreArray(expected)) << op.name;
      CL_IntegerSet z(x);
      Recorder recorder;
      recorder.Watch(z);
      op.in_place(z, y);
      EXPECT_THAT(Members(z), ::testing::ElementsAreArray(expected)) << op.name;
      EXPECT_EQ(recorder.post, 1) << op.name;
    }
    const bool subset = std::includes(a.begin(), a.end(), b.begin(), b.end());
    EXPECT_EQ(x.IncludesAll(y), subset);
  }
}

TEST(IntegerSet, InPlaceAlgebraWithItself) {
  const CL_IntegerSet original = Of({1, 2, 3});
  CL_IntegerSet s = original;
  s += s;
  EXPECT_THAT(Members(s), ElementsAre(1, 2, 3));
  s *= s;
  EXPECT_THAT(Members(s), ElementsAre(1, 2, 3));
  s ^= s;
  EXPECT_EQ(s.Size(), 0);
  s = original;
  s -= s;
  EXPECT_EQ(s.Size(), 0);
}

TEST(IntegerSet, EqualityCopyAndAssignmentFromObjects) {
  const CL_IntegerSet a = Of({1, 2});
  EXPECT_TRUE(a.IsEqual(Of({2, 1})));
  EXPECT_FALSE(a.IsEqual(Of({1, 3})));
  EXPECT_FALSE(a.IsEqual(Of({1})));
  CL_Set<CL_Long> plain;
  plain.Add(1);
  plain.Add(2);
  EXPECT_FALSE(a.IsEqual(plain));  // another class id
  EXPECT_STREQ(plain.ClassName(), "CL_Set");
  EXPECT_EQ(plain.ClassId(), 26);
  EXPECT_STREQ(a.ClassName(), "CL_IntegerSet");
  EXPECT_EQ(a.ClassId(), 27);
  std::unique_ptr<CL_Object> clone(a.Clone());
  EXPECT_TRUE(a.IsEqual(*clone));

  WarningCapture warnings;
  plain = static_cast<const CL_Object&>(a);
  EXPECT_THAT(warnings.texts(), ElementsAre("CL_Set::op=: Invalid class 'CL_IntegerSet'"));
  warnings.clear();
  CL_IntegerSet target = Of({9});
  target = static_cast<const CL_Object&>(plain);  // ignored silently
  EXPECT_THAT(Members(target), ElementsAre(9));
  target = static_cast<const CL_Object&>(a);
  EXPECT_THAT(Members(target), ElementsAre(1, 2));
  EXPECT_THAT(warnings.texts(), IsEmpty());
  // A value-form result becomes an integer set.
  const CL_IntegerSet converted(a + Of({5}));
  EXPECT_THAT(Members(converted), ElementsAre(1, 2, 5));
}

TEST(IntegerSet, EveryMutatorAsksFirstAndTellsOnce) {
  const Mutation<CL_IntegerSet> cases[] = {
      {"Add", [](auto& s) { return s.Add(7); }},
      {"Remove", [](auto& s) { return s.Remove(2) == 2; }},
      {"MakeEmpty", [](auto& s) { return s.MakeEmpty(); }},
      {"operator=",
       [](auto& s) {
         s = Of({8});
         return s.Size() == 1;
       }},
      {"operator+=",
       [](auto& s) {
         s += Of({8});
         return s.Size() == 4;
       }},
      {"operator*=",
       [](auto& s) {
         s *= Of({1});
         return s.Size() == 1;
       }},
      {"operator-=",
       [](auto& s) {
         s -= Of({1});
         return s.Size() == 2;
       }},
      {"operator^=",
       [](auto& s) {
         s ^= Of({1, 9});
         return s.Size() == 3 && s.Includes(9);
       }},
      {"ReadFrom",
       [](auto& s) {
         VectorStream stream(Stored(Of({4})));
         return s.ReadFrom(stream);
       }},
  };
  const auto fresh = [] { return Of({1, 2, 3}); };
  ExpectEveryMutatorAsksFirstAndTellsOnce(cases, fresh,
                                          [](const CL_IntegerSet& s) { return Members(s); });
  CL_IntegerSet s = Of({1});
  Recorder recorder;
  recorder.Watch(s);
  EXPECT_FALSE(s.Add(1));
  EXPECT_EQ(s.Remove(5), 0);
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

// ---------------------------------------------------------------------------------------
// Set iterators

TEST(SetIterator, WalksInOrderAndRegistersWhileAlive) {
  const CL_IntegerSet set = Of({30, 10, 20});
  {
    CL_SetIterator<CL_Long> it(set);
    EXPECT_STREQ(it.ClassName(), "CL_SetIterator");
    ASSERT_NE(set.PreChangeDependents(), nullptr);
    EXPECT_EQ(set.PreChangeDependents()->Size(), 1);
    std::vector<CL_Long> walked;
    while (it.More()) walked.push_back(it.Next());
    EXPECT_THAT(walked, ElementsAre(10, 20, 30));
    EXPECT_EQ(it.Next(), 0);
    it.BeginFromRank(2);
    EXPECT_EQ(it.Next(), 30);
    it.BeginFromRank(-5);
    EXPECT_EQ(it.Next(), 10);
    it.Reset();
    EXPECT_EQ(it.Next(), 10);
    CL_SetIterator<CL_Long> second(set);
    EXPECT_EQ(set.PreChangeDependents()->Size(), 2);
  }
  EXPECT_EQ(set.PreChangeDependents()->Size(), 0);
}

TEST(SetIterator, ChangingTheSetUnderAnActiveIteratorWarnsButGoesOn) {
  WarningCapture warnings;
  CL_IntegerSet set = Of({1, 2, 3});
  CL_SetIterator<CL_Long> it(set);
  EXPECT_EQ(it.Next(), 1);
  EXPECT_TRUE(set.Add(0));  // permitted; the walk continues over the changed members
  EXPECT_EQ(it.Next(), 1);
  EXPECT_THAT(warnings.texts(),
              ElementsAre(MatchesRegex("SetIterator [0-9a-f]{8,}: Attempt to modify Set "
                                       "[0-9a-f]{8,}  while iterator active")));
  while (it.More()) it.Next();
  warnings.clear();
  EXPECT_TRUE(set.Add(9));  // the walk is over: no warning
  EXPECT_THAT(warnings.texts(), IsEmpty());
}

// ---------------------------------------------------------------------------------------
// Sets of object pointers

TEST(ObjectPointerSet, OrdersByObjectComparisonWithinAClassElseByAddress) {
  Tag five(5), one(1), other_one(1);
  CL_Set<CL_ObjectPtr> set;
  EXPECT_TRUE(set.Add(&five));
  EXPECT_TRUE(set.Add(&one));
  EXPECT_FALSE(set.Add(&other_one));  // equal by comparison
  EXPECT_EQ(set.ItemWithRank(0), &one);
  EXPECT_EQ(set.Remove(&other_one), &one);  // the stored member comes back
  EXPECT_EQ(set.Size(), 1);
  Plain a(1), b(1);
  EXPECT_TRUE(set.Add(&a));
  EXPECT_TRUE(set.Add(&b));
  EXPECT_EQ(set.Size(), 3);
}

TEST(ObjectSet, KeepsInsertionOrderAndFindsByComparison) {
  Tag t3(3), t1(1), t2(2), t1b(1), t4(4);
  CL_ObjectSet set;
  EXPECT_STREQ(set.ClassName(), "CL_ObjectSet");
  EXPECT_EQ(set.ClassId(), 28);
  for (Tag* t : {&t3, &t1, &t2}) ASSERT_TRUE(set.Add(t));
  EXPECT_FALSE(set.Add(&t1b));
  EXPECT_EQ(set.Find(&t1b), &t1);
  EXPECT_EQ(set.Find(&t4), nullptr);
  EXPECT_EQ(set.ItemWithRank(0), &t3);
  EXPECT_EQ(set.RankOf(&t4), 3);

  auto order = [](const CL_Set<CL_ObjectPtr>& s) {
    std::vector<CL_Long> values;
    for (CL_Long i = 0; i < s.Size(); ++i)
      values.push_back(static_cast<Tag*>(s.ItemWithRank(i))->value);
    return values;
  };
  CL_ObjectSet other;
  for (Tag* t : {&t4, &t2}) other.Add(t);
  EXPECT_THAT(order(set + other), ElementsAre(3, 1, 2, 4));
  EXPECT_THAT(order(set * other), ElementsAre(2));
  EXPECT_THAT(order(set - other), ElementsAre(3, 1));
  EXPECT_THAT(order(set ^ other), ElementsAre(3, 1, 4));
  CL_ObjectSet copy(set);
  copy -= copy;
  EXPECT_EQ(copy.Size(), 0);
  copy = set;
  copy *= other;
  EXPECT_THAT(order(copy), ElementsAre(2));
  copy += set;
  EXPECT_THAT(order(copy), ElementsAre(2, 3, 1));
}

TEST(ObjectSet, DestroyContentsDeletesEveryMember) {
  const int live = Tag::live;
  CL_ObjectSet set;
  for (CL_Long v : {1, 2, 3}) set.Add(new Tag(v));
  Recorder recorder;
  recorder.Watch(set);
  ASSERT_TRUE(set.DestroyContents());
  EXPECT_EQ(set.Size(), 0);
  EXPECT_EQ(Tag::live, live);
  EXPECT_EQ(recorder.post, 1);
}

// ---------------------------------------------------------------------------------------
// Stored forms of sets

TEST(SetStoredForm, GoldenBytesRoundTripAndRefusals) {
  const Bytes form = Cat({LE(27), LE(2), LE(-1), LE(2)});
  EXPECT_EQ(Stored(Of({2, -1})), form);
  EXPECT_EQ(Of({2, -1}).StorableFormWidth(), 12);
  CL_IntegerSet back = Of({7});
  VectorStream stream(form);
  ASSERT_TRUE(back.ReadFrom(stream));
  EXPECT_THAT(Members(back), ElementsAre(-1, 2));

  twcl_test::ExpectEveryTruncationRefused(back, form);
  twcl_test::ExpectCorruptCountsRefused(back, form, 4);
  const struct {
    const char* what;
    Bytes bytes;
  } refused[] = {
      {"unsorted", Cat({LE(27), LE(2), LE(3), LE(1)})},
      {"duplicate", Cat({LE(27), LE(2), LE(1), LE(1)})},
      {"another set class", Cat({LE(26), LE(1), LE(1)})},
  };
  for (const auto& r : refused) {
    VectorStream s(r.bytes);
    EXPECT_FALSE(back.ReadFrom(s)) << r.what;
    EXPECT_THAT(Members(back), ElementsAre(-1, 2)) << r.what;
  }
  // A wrong class id fails without moving the stream back.
  VectorStream wrong(Cat({LE(26), LE(0)}));
  EXPECT_FALSE(back.ReadFrom(wrong));
  EXPECT_EQ(wrong.position, 4);
}

TEST(SetStoredForm, PointerSetsSortAfterReadingAndRefuseDuplicates) {
  const int live = twcl_test::LiveObjects();
  // Objects ordered by address only come back in a new order; the set sorts them.
  Plain a(1), b(2), c(3);
  CL_Set<CL_ObjectPtr> plain_set;
  for (Plain* p : {&a, &b, &c}) plain_set.Add(p);
  VectorStream out;
  ASSERT_TRUE(plain_set.WriteTo(out));
  CL_Set<CL_ObjectPtr> back;
  VectorStream in(out.bytes);
  ASSERT_TRUE(back.ReadFrom(in));
  ASSERT_EQ(back.Size(), 3);
  std::set<CL_Long> values;
  for (CL_Long i = 0; i < 3; ++i) {
    values.insert(static_cast<Plain*>(back.ItemWithRank(i))->value);
    if (i > 0) {
      EXPECT_TRUE(std::less<CL_Object*>{}(back.ItemWithRank(i - 1), back.ItemWithRank(i)));
    }
  }
  EXPECT_THAT(values, ElementsAre(1, 2, 3));
  for (CL_Long i = 0; i < 3; ++i) delete back.ItemWithRank(i);

  // The same object twice (by back reference), or two equal objects: refused, nothing kept.
  // The back reference names the first object's body: behind id, count, flag and class id.
  const Bytes twice = Cat({LE(26), LE(2), TagForm(5), Flag('R'), LE(14)});
  const Bytes equal = Cat({LE(26), LE(2), TagForm(5), TagForm(5)});
  {
    // The same bytes under a sequence's class id read fine: one object, twice.
    Bytes as_sequence = twice;
    as_sequence[0] = 24;
    CL_ObjectSequence sequence;
    VectorStream s(as_sequence);
    ASSERT_TRUE(sequence.ReadFrom(s));
    EXPECT_EQ(sequence[0], sequence[1]);
    sequence.DestroyContents();
  }
  for (const Bytes& bytes : {twice, equal}) {
    CL_Set<CL_ObjectPtr> target;
    VectorStream s(bytes);
    EXPECT_FALSE(target.ReadFrom(s));
    EXPECT_EQ(target.Size(), 0);
    EXPECT_EQ(twcl_test::LiveObjects(), live + 3);
  }
  Tag kept(1);
  CL_Set<CL_ObjectPtr> target;
  target.Add(&kept);
  twcl_test::ExpectEveryTruncationRefused(target, Cat({LE(26), LE(2), TagForm(5), TagForm(6)}));
}

// Reads a 4-byte value and makes a Tag of it; refuses a negative value.
struct TagReader : CL_ObjectReader {
  CL_Object* ReadObject(CL_Stream& s) override {
    CL_Long v;
    if (!s.ReadLong(v) || v < 0) return nullptr;
    return new Tag(v);
  }
};

TEST(SetStoredForm, ObjectSetsReadWithoutTellingSortAndRefuseDuplicates) {
  const int live = Tag::live;
  CL_ObjectSet set;
  Recorder recorder;
  recorder.Watch(set);
  VectorStream good(Cat({LE(28), LE(3), TagForm(9), TagForm(2), TagForm(5)}));
  ASSERT_TRUE(set.ReadFrom(good));
  EXPECT_EQ(recorder.pre + recorder.post, 0);
  ASSERT_EQ(set.Size(), 3);
  EXPECT_EQ(static_cast<Tag*>(set.ItemWithRank(0))->value, 2);
  EXPECT_EQ(static_cast<Tag*>(set.ItemWithRank(2))->value, 9);
  twcl_test::ExpectEveryTruncationRefused(set, Stored(set));
  VectorStream duplicate(Cat({LE(28), LE(2), TagForm(4), TagForm(4)}));
  EXPECT_FALSE(set.ReadFrom(duplicate));
  EXPECT_EQ(Tag::live, live + 3);
  set.DestroyContents();

  TagReader reader;
  CL_ObjectSet read_by_reader(&reader);
  VectorStream by_reader(Cat({LE(28), LE(2), LE(8), LE(3)}));
  ASSERT_TRUE(read_by_reader.ReadFrom(by_reader));
  EXPECT_EQ(static_cast<Tag*>(read_by_reader.ItemWithRank(0))->value, 3);
  read_by_reader.DestroyContents();
  for (const Bytes& bytes :
       {Cat({LE(28), LE(3), LE(8), LE(3), LE(-1)}), Cat({LE(28), LE(2), LE(8), LE(8)})}) {
    VectorStream s(bytes);
    EXPECT_FALSE(read_by_reader.ReadFrom(s));
    EXPECT_EQ(Tag::live, live);
  }
}

// ---------------------------------------------------------------------------------------
// Maps

TEST(Map, KeepsKeysInOrderAndLooksThemUp) {
  CL_IntStringMap map;
  EXPECT_TRUE(map.Add(5, "five"));
  EXPECT_TRUE(map.Add(1, "one"));
  EXPECT_TRUE(map.Add(3, "three"));
  EXPECT_FALSE(map.Add(3, "again"));
  EXPECT_EQ(map[3], "three");
  std::vector<CL_Long> keys;
  CL_MapIterator<CL_Long, CL_String> it(map);
  while (it.More()) keys.push_back(it.Next().key);
  EXPECT_THAT(keys, ElementsAre(1, 3, 5));
  EXPECT_EQ(it.Next().key, 0);  // past the end: the default association
  EXPECT_EQ(it.Next().value, "");
  it.BeginFromRank(-4);
  EXPECT_EQ(it.Next().key, 1);
  it.BeginFromRank(2);
  EXPECT_EQ(it.Next().key, 5);

  EXPECT_EQ(map.RankOf(3), 1);
  EXPECT_EQ(map.RankOf(4), 2);
  EXPECT_TRUE(map.IncludesKey(5));
  EXPECT_EQ(map.ItemWithRank(-1)->key, 1);
  EXPECT_EQ(map.ItemWithRank(9)->key, 5);
  EXPECT_EQ(CL_IntStringMap().ItemWithRank(0), nullptr);
  const CL_MapAssoc<CL_Long, CL_String> removed = map.Remove(1);
  EXPECT_EQ(removed.key, 1);
  EXPECT_EQ(removed.value, "one");
  EXPECT_EQ(map.Remove(1).value, "");
  EXPECT_EQ(map.Size(), 2);
}

TEST(Map, AnAbsentKeyGivesAFreshNullValueAndInsertsNothing) {
  CL_StringIntMap map;
  map.Add("a", 1);
  CL_Long& missing = map["zz"];
  EXPECT_EQ(missing, 0);
  missing = 42;
  EXPECT_EQ(map["yy"], 0);
  EXPECT_EQ(map.Size(), 1);
  EXPECT_FALSE(map.IncludesKey("zz"));
  map["a"] = 7;
  EXPECT_EQ(map["a"], 7);
}

TEST(Map, TextForms) {
  EXPECT_EQ((CL_MapAssoc<CL_Long, CL_String>(7, "abc").AsString()), "7 --> abc");
  EXPECT_EQ((CL_MapAssoc<CL_Word, CL_ObjectPtr>(3, nullptr).AsString()), "3 --> 0x0");
  Tag tag(12);
  EXPECT_THAT((CL_MapAssoc<CL_String, CL_ObjectPtr>("k", &tag).AsString().AsPtr()),
              MatchesRegex("k --> +[0-9a-f]{8,} -> 12"));
  CL_IntIntMap map;
  map.Add(2, 20);
  map.Add(1, 10);
  std::ostringstream out;
  out << map;
  EXPECT_EQ(out.str(), "1 --> 10\n2 --> 20\n");
}

TEST(Map, CopiesAreDeepAndAssignmentChecksTheClass) {
  CL_StringStringMap map;
  map.Add("k", "v");
  CL_StringStringMap copy(map);
  copy["k"] = "changed";
  EXPECT_EQ(map["k"], "v");
  copy = map;
  EXPECT_EQ(copy["k"], "v");
  std::unique_ptr<CL_Object> clone(map.Clone());
  EXPECT_STREQ(clone->ClassName(), "CL_StringStringMap");
  EXPECT_EQ(Stored(*clone), Stored(map));

  WarningCapture warnings;
  CL_IntIntMap ints;
  ints.Add(1, 1);
  ints = static_cast<const CL_Object&>(map);
  EXPECT_EQ(ints.Size(), 1);
  CL_MapAssoc<CL_Long, CL_Long> assoc(1, 2);
  assoc = static_cast<const CL_Object&>(CL_String("x"));
  EXPECT_THAT(warnings.texts(), ElementsAre("CL_Map::op=: Invalid class 'CL_StringStringMap'",
                                            "CL_MapAssoc::op=: Invalid class 'CL_String'"));
  assoc = static_cast<const CL_Object&>(CL_MapAssoc<CL_Long, CL_Long>(3, 4));
  EXPECT_EQ(assoc.key, 3);
  EXPECT_EQ(assoc.value, 4);
}

TEST(Map, ClassNamesAndIds) {
  const struct {
    std::unique_ptr<CL_Object> map;
    const char* name;
    CL_Long id;
  } cases[] = {
      {std::make_unique<CL_Map<CL_Long, CL_Long>>(), "CL_Map", 11},
      {std::make_unique<CL_IntStringMap>(), "CL_IntStringMap", 12},
      {std::make_unique<CL_IntIntMap>(), "CL_IntIntMap", 13},
      {std::make_unique<CL_IntPtrMap>(), "CL_IntPtrMap", 14},
      {std::make_unique<CL_StringStringMap>(), "CL_StringStringMap", 15},
      {std::make_unique<CL_StringIntMap>(), "CL_StringIntMap", 16},
      {std::make_unique<CL_StringPtrMap>(), "CL_StringPtrMap", 17},
      {std::make_unique<CL_PtrIntMap>(), "CL_PtrIntMap", 19},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(c.map->ClassName(), c.name);
    EXPECT_EQ(c.map->ClassId(), c.id) << c.name;
    std::unique_ptr<CL_Object> clone(c.map->Clone());
    EXPECT_STREQ(clone->ClassName(), c.name);
  }
  EXPECT_STREQ((CL_MapAssoc<CL_Long, CL_Long>().ClassName()), "CL_MapAssoc");
  EXPECT_EQ((CL_MapAssoc<CL_Long, CL_Long>().ClassId()), CL_Long{1});
  CL_IntIntMap map;
  EXPECT_STREQ((CL_MapIterator<CL_Long, CL_Long>(map).ClassName()), "CL_MapIterator");
}

TEST(Map, DestroyContentsDeletesEveryObjectOnce) {
  const int live = Tag::live;
  CL_StringPtrMap map;
  auto* shared = new Tag(1);
  map.Add("a", shared);
  map.Add("b", shared);
  map.Add("c", new Tag(2));
  map.Add("d", nullptr);
  ASSERT_TRUE(map.DestroyContents());
  EXPECT_EQ(map.Size(), 0);
  EXPECT_EQ(Tag::live, live);

  CL_PtrIntMap keys;
  keys.Add(new Tag(1), 1);
  keys.Add(new Tag(2), 2);
  ASSERT_TRUE(keys.DestroyContents());
  EXPECT_EQ(Tag::live, live);
}

TEST(Map, EveryMutatorAsksFirstAndTellsOnce) {
  const Mutation<CL_IntIntMap> cases[] = {
      {"Add", [](auto& m) { return m.Add(5, 50); }},
      {"Remove", [](auto& m) { return m.Remove(1).value == 10; }},
      {"MakeEmpty", [](auto& m) { return m.MakeEmpty(); }},
      {"DestroyContents", [](auto& m) { return m.DestroyContents(); }},
      {"operator=",
       [](auto& m) {
         m = CL_IntIntMap();
         return m.Size() == 0;
       }},
      {"ReadFrom",
       [](auto& m) {
         VectorStream stream(Cat({LE(1), LE(4), LE(40)}));
         return m.ReadFrom(stream);
       }},
  };
  const auto make = [] {
    CL_IntIntMap map;
    map.Add(1, 10);
    map.Add(2, 20);
    return map;
  };
  ExpectEveryMutatorAsksFirstAndTellsOnce(cases, make,
                                          [](const CL_IntIntMap& m) { return Stored(m); });
}

// ---------------------------------------------------------------------------------------
// Stored forms of maps

// The stored string "text" (with its class id and terminator).
Bytes StringForm(const std::string& text) {
  Bytes bytes = Cat({LE(6), LE(static_cast<std::int32_t>(text.size()) + 1)});
  bytes.insert(bytes.end(), text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

TEST(MapStoredForm, GoldenBytesCarryNoClassId) {
  CL_IntStringMap map;
  map.Add(2, "b");
  map.Add(1, "a");
  const Bytes form = Cat({LE(2), LE(1), StringForm("a"), LE(2), StringForm("b")});
  EXPECT_EQ(Stored(map), form);
  EXPECT_EQ(map.StorableFormWidth(), 4 + 2 * (4 + 10));
  // Written by pointer, the class id is the object form's.
  EXPECT_EQ(ByPointer(map), Cat({Flag('O'), LE(12), form}));
  VectorStream stream(ByPointer(map));
  CL_Object* read = nullptr;
  ASSERT_TRUE(stream.Read(read));
  std::unique_ptr<CL_Object> owned(read);
  EXPECT_STREQ(read->ClassName(), "CL_IntStringMap");
  EXPECT_EQ(Stored(*read), form);
}

TEST(MapStoredForm, EveryKindRoundTripsAndRefusesEveryTruncation) {
  Tag t1(1), t2(2);
  CL_IntStringMap int_string;
  int_string.Add(-5, "minus");
  int_string.Add(9, "");
  CL_IntIntMap int_int;
  int_int.Add(3, 30);
  int_int.Add(-4, 40);
  CL_IntPtrMap int_ptr;
  int_ptr.Add(7, &t1);
  int_ptr.Add(8, nullptr);
  CL_StringStringMap string_string;
  string_string.Add("b", "2");
  string_string.Add("a", "1");
  CL_StringIntMap string_int;
  string_int.Add("x", 1);
  CL_StringPtrMap string_ptr;
  string_ptr.Add("p", &t2);
  CL_PtrIntMap ptr_int;
  ptr_int.Add(&t2, 20);
  ptr_int.Add(&t1, 10);
  const CL_Object* maps[] = {&int_string, &int_int,    &int_ptr, &string_string,
                             &string_int, &string_ptr, &ptr_int};
  for (const CL_Object* map : maps) {
    SCOPED_TRACE(map->ClassName());
    const int live = twcl_test::LiveObjects();
    const Bytes form = Stored(*map);
    std::unique_ptr<CL_Object> back(map->Clone());
    ASSERT_TRUE(back->ReadFrom(*std::make_unique<VectorStream>(form)));
    EXPECT_EQ(Stored(*back), form);
    twcl_test::ExpectEveryTruncationRefused(*back, form);
    twcl_test::ExpectCorruptCountsRefused(*back, form, 0);
    // Objects read by pointer belong to the reader of the map.
    if (auto* objects = dynamic_cast<CL_Map<CL_Word, CL_ObjectPtr>*>(back.get()))
      objects->DestroyContents();
    if (auto* objects = dynamic_cast<CL_Map<CL_String, CL_ObjectPtr>*>(back.get()))
      objects->DestroyContents();
    if (auto* objects = dynamic_cast<CL_Map<CL_ObjectPtr, CL_Long>*>(back.get()))
      objects->DestroyContents();
    EXPECT_EQ(twcl_test::LiveObjects(), live);
  }
}

TEST(MapStoredForm, KeysOutOfOrderOrRepeatedAreRefused) {
  const int live = twcl_test::LiveObjects();
  const struct {
    const char* what;
    std::unique_ptr<CL_Object> map;
    Bytes bytes;
  } cases[] = {
      {"string keys unsorted", std::make_unique<CL_StringIntMap>(),
       Cat({LE(2), StringForm("b"), LE(1), StringForm("a"), LE(2)})},
      {"string keys repeated", std::make_unique<CL_StringIntMap>(),
       Cat({LE(2), StringForm("a"), LE(1), StringForm("a"), LE(2)})},
      {"integer keys repeated", std::make_unique<CL_IntIntMap>(),
       Cat({LE(2), LE(4), LE(1), LE(4), LE(2)})},
      {"integer keys unsorted", std::make_unique<CL_IntStringMap>(),
       Cat({LE(2), LE(4), StringForm("x"), LE(-4), StringForm("y")})},
      {"equal object keys", std::make_unique<CL_PtrIntMap>(),
       Cat({LE(2), TagForm(3), LE(1), TagForm(3), LE(2)})},
      {"one object key twice", std::make_unique<CL_PtrIntMap>(),
       Cat({LE(2), TagForm(3), LE(1), Flag('R'), LE(10), LE(2)})},
      {"a failing value", std::make_unique<CL_IntPtrMap>(),
       Cat({LE(2), LE(1), TagForm(3), LE(2), TagForm(-3)})},
  };
  {
    // The back reference of "one object key twice" does name the first key.
    VectorStream s(cases[5].bytes);
    CL_Long count, value;
    CL_Object *first = nullptr, *second = nullptr;
    ASSERT_TRUE(s.ReadLong(count) && s.Read(first) && s.ReadLong(value) && s.Read(second));
    EXPECT_EQ(first, second);
    delete first;
  }
  for (const auto& c : cases) {
    const Bytes before = Stored(*c.map);
    VectorStream s(c.bytes);
    EXPECT_FALSE(c.map->ReadFrom(s)) << c.what;
    EXPECT_EQ(Stored(*c.map), before) << c.what;
    EXPECT_EQ(twcl_test::LiveObjects(), live) << c.what;
  }
}

TEST(MapStoredForm, ObjectKeysOrderedByAddressAreSortedAfterReading) {
  Plain a(1), b(2);
  CL_PtrIntMap map;
  map.Add(&a, 1);
  map.Add(&b, 2);
  CL_PtrIntMap back;
  VectorStream stream(Stored(map));
  ASSERT_TRUE(back.ReadFrom(stream));
  ASSERT_EQ(back.Size(), 2);
  EXPECT_TRUE(std::less<CL_Object*>{}(back.ItemWithRank(0)->key, back.ItemWithRank(1)->key));
  for (CL_Long i = 0; i < 2; ++i) {
    auto* key = static_cast<Plain*>(back.ItemWithRank(i)->key);
    EXPECT_EQ(back[key], key->value);  // each value still with its own key
  }
  back.DestroyContents();

  // Keys with a real comparison come back in key order and equal.
  Tag t1(1), t2(2);
  CL_PtrIntMap tags;
  tags.Add(&t2, 20);
  tags.Add(&t1, 10);
  CL_PtrIntMap tags_back;
  VectorStream tag_stream(Stored(tags));
  ASSERT_TRUE(tags_back.ReadFrom(tag_stream));
  EXPECT_EQ(Stored(tags_back), Stored(tags));
  EXPECT_EQ(tags_back[&t2], 20);
  tags_back.DestroyContents();
}

TEST(MapStoredForm, HandleKeysBeyond32BitsAreNotWritten) {
  CL_IntPtrMap map;
  map.Add(CL_Word{1} << 40, nullptr);
  VectorStream stream;
  EXPECT_FALSE(map.WriteTo(stream));
  CL_IntPtrMap negative;
  negative.Add(-7, nullptr);
  VectorStream out;
  ASSERT_TRUE(negative.WriteTo(out));
  CL_IntPtrMap back;
  out.position = 0;
  ASSERT_TRUE(back.ReadFrom(out));
  EXPECT_TRUE(back.IncludesKey(-7));
}

}  // namespace
}  // namespace twcl_test
