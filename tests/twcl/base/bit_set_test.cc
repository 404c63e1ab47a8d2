// Tests of CL_BitSet and CL_BitSetIterator.
#include "twcl/base/bit_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "base_test_util.h"
#include "container_test_util.h"
#include "twcl/base/byte_string.h"

namespace twcl_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<CL_Long> Members(const CL_BitSet& set) {
  std::vector<CL_Long> members;
  CL_BitSetIterator it(set);
  while (it.More()) members.push_back(it.Next());
  return members;
}

CL_BitSet Of(std::initializer_list<CL_Long> members, CL_Long bound = 128) {
  CL_BitSet set(bound);
  for (const CL_Long m : members) set.Add(m);
  return set;
}

TEST(BitSet, BoundsAreWholeWords) {
  CL_BitSet set(100);
  EXPECT_EQ(set.WordCount(), 4);
  EXPECT_EQ(set.Bound(), 128);
  EXPECT_TRUE(set.Add(127));
  EXPECT_FALSE(set.Add(128));
  EXPECT_FALSE(set.Add(-1));
  EXPECT_FALSE(set.Add(127));
  EXPECT_FALSE(set.Includes(128));
  EXPECT_FALSE(set.Includes(-1));
  EXPECT_EQ(set.Size(), 1);
  EXPECT_EQ(CL_BitSet(0).WordCount(), 0);
  EXPECT_EQ(CL_BitSet(-5).WordCount(), 0);
  EXPECT_EQ(CL_BitSet(33).WordCount(), 2);
  EXPECT_EQ(CL_BitSet().Bound(), 128);
  EXPECT_STREQ(set.ClassName(), "CL_BitSet");
  EXPECT_EQ(set.ClassId(), 21);
}

TEST(BitSet, RangeConstructorClipsToTheBound) {
  EXPECT_THAT(Members(CL_BitSet(-5, 3, -1)), ElementsAre(0, 1, 2, 3));
  EXPECT_EQ(CL_BitSet(-5, 3, -1).Bound(), 128);
  const CL_BitSet high(120, 200, 128);
  EXPECT_EQ(high.Size(), 8);
  EXPECT_EQ(high.Largest(), 127);
  EXPECT_EQ(CL_BitSet(5, 4, 64).Size(), 0);
  const std::uint32_t words[] = {0x80000001u, 0, 0x3u};
  const CL_BitSet from_words(3, words);
  EXPECT_THAT(Members(from_words), ElementsAre(0, 31, 64, 65));
  EXPECT_EQ(from_words.Bound(), 96);
}

TEST(BitSet, OrderQueriesOnAnExample) {
  const CL_BitSet set = Of({3, 40});
  EXPECT_EQ(set.Successor(3), 40);
  EXPECT_EQ(set.Successor(40), -1);
  EXPECT_EQ(set.Successor(-7), 3);
  EXPECT_EQ(set.Successor(127), -1);
  EXPECT_EQ(set.RankOf(40), 1);
  EXPECT_EQ(set.RankOf(0), 0);
  EXPECT_EQ(set.RankOf(1000), 2);
  EXPECT_EQ(set.ItemWithRank(5), 40);
  EXPECT_EQ(set.ItemWithRank(-2), 3);
  EXPECT_EQ(set.Smallest(), 3);
  EXPECT_EQ(set.Largest(), 40);
  EXPECT_EQ(set.SmallestNonMember(), 0);

  const CL_BitSet empty(64);
  EXPECT_EQ(empty.Smallest(), -1);
  EXPECT_EQ(empty.Largest(), -1);
  EXPECT_EQ(empty.ItemWithRank(0), -1);
  EXPECT_EQ(empty.Successor(-1), -1);
  CL_BitSet full(64);
  ASSERT_TRUE(full.MakeUniversal());
  EXPECT_TRUE(full.IsUniversal());
  EXPECT_EQ(full.SmallestNonMember(), 64);
  EXPECT_EQ(full.Size(), 64);
}

TEST(BitSet, QueriesMatchAReferenceSet) {
  std::mt19937 random(3);
  for (const CL_Long bound : {32, 64, 160}) {
    CL_BitSet set(bound);
    std::set<CL_Long> reference;
    for (int step = 0; step < 400; ++step) {
      const auto i = static_cast<CL_Long>(random() % (bound + 4)) - 2;
      if (random() % 3 == 0) {
        EXPECT_EQ(set.Remove(i), reference.erase(i) ? i : -1);
      } else {
        EXPECT_EQ(set.Add(i), i >= 0 && i < bound && reference.insert(i).second);
      }
      ASSERT_EQ(set.Size(), static_cast<CL_Long>(reference.size()));
      const auto after = reference.upper_bound(i);
      EXPECT_EQ(set.Successor(i), after == reference.end() ? -1 : *after);
      EXPECT_EQ(set.RankOf(i), std::distance(reference.begin(), reference.lower_bound(i)));
      EXPECT_EQ(set.Includes(i), reference.count(i) == 1);
    }
    EXPECT_THAT(Members(set), ElementsAreArray(reference));
    CL_Long gap = 0;
    while (reference.count(gap)) ++gap;
    EXPECT_EQ(set.SmallestNonMember(), gap);
    for (CL_Long k = 0; k < set.Size(); ++k)
      EXPECT_EQ(set.ItemWithRank(k), *std::next(reference.begin(), k));
  }
}

TEST(BitSet, AlgebraTakesTheLongerOperandsWords) {
  const CL_BitSet small = Of({1, 33}, 64);
  const CL_BitSet large = Of({33, 100}, 128);
  const struct {
    const char* name;
    CL_BitSet result;
    std::vector<CL_Long> members;
  } cases[] = {
      {"union", small + large, {1, 33, 100}},
      {"difference", small - large, {1}},
      {"intersection", small * large, {33}},
      {"symmetric difference", small ^ large, {1, 100}},
      {"reversed difference", large - small, {100}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result.WordCount(), 4) << c.name;
    EXPECT_EQ(Members(c.result), c.members) << c.name;
    EXPECT_EQ(c.result.Size(), static_cast<CL_Long>(c.members.size())) << c.name;
  }
  const CL_BitSet complement = ~small;
  EXPECT_EQ(complement.Size(), 62);
  EXPECT_FALSE(complement.Includes(33));
  EXPECT_TRUE(complement.Includes(63));

  CL_BitSet in_place = small;
  in_place += large;
  EXPECT_EQ(Members(in_place), (std::vector<CL_Long>{1, 33, 100}));
  in_place -= Of({1});
  in_place *= Of({33, 100, 120});
  in_place ^= Of({33, 7});
  EXPECT_EQ(Members(in_place), (std::vector<CL_Long>{7, 100}));
}

TEST(BitSet, EqualityInclusionAndIntegerSets) {
  const CL_BitSet a = Of({1, 33}, 64);
  EXPECT_TRUE(a == Of({1, 33}, 128));  // extra zero words do not matter
  EXPECT_FALSE(a == Of({1, 34}, 64));
  EXPECT_FALSE(a == Of({1}, 64));
  EXPECT_FALSE(a == static_cast<const CL_Object&>(CL_String("x")));
  EXPECT_TRUE(a != Of({1}, 64));
  EXPECT_TRUE(Of({1, 33, 90}).IncludesAll(a));
  EXPECT_FALSE(a.IncludesAll(Of({1, 90})));  // a word beyond a's array
  EXPECT_TRUE(a.IncludesAll(Of({1})));

  CL_IntegerSet integers;
  integers.Add(33);
  integers.Add(1);
  EXPECT_TRUE(a == integers);
  EXPECT_TRUE(a.IncludesAll(integers));
  integers.Add(-4);
  EXPECT_FALSE(a == integers);
  EXPECT_FALSE(a.IncludesAll(integers));
  EXPECT_EQ(a.AsSet().AsString(), "{1, 33}");
}

TEST(BitSet, AssignmentChecksTheClassAndTakesTheWords) {
  CL_BitSet target = Of({5}, 32);
  target = Of({70}, 96);
  EXPECT_EQ(target.WordCount(), 3);
  EXPECT_THAT(Members(target), ElementsAre(70));
  WarningCapture warnings;
  target = static_cast<const CL_Object&>(CL_String("x"));
  EXPECT_THAT(warnings.texts(),
              ElementsAre("CL_BitSet::op= (CL_Object&): Invalid class 'CL_String'"));
  target = static_cast<const CL_Object&>(Of({2}));
  EXPECT_THAT(Members(target), ElementsAre(2));
  std::unique_ptr<CL_Object> clone(target.Clone());
  EXPECT_TRUE(target == *clone);
}

TEST(BitSet, EveryMutatorAsksFirstAndTellsOnce) {
  const Mutation<CL_BitSet> cases[] = {
      {"Add", [](auto& s) { return s.Add(9); }},
      {"Remove", [](auto& s) { return s.Remove(3) == 3; }},
      {"MakeEmpty", [](auto& s) { return s.MakeEmpty(); }},
      {"MakeUniversal", [](auto& s) { return s.MakeUniversal(); }},
      {"operator=",
       [](auto& s) {
         s = Of({1});
         return s.Size() == 1;
       }},
      {"operator+=",
       [](auto& s) {
         s += Of({1});
         return s.Size() == 3;
       }},
      {"operator-=",
       [](auto& s) {
         s -= Of({3});
         return s.Size() == 1;
       }},
      {"operator*=",
       [](auto& s) {
         s *= Of({3});
         return s.Size() == 1;
       }},
      {"operator^=",
       [](auto& s) {
         s ^= Of({3, 4});
         return s.Size() == 2 && s.Includes(4);
       }},
      {"ReadFrom",
       [](auto& s) {
         VectorStream stream(Stored(Of({6})));
         return s.ReadFrom(stream);
       }},
  };
  const auto fresh = [] { return Of({3, 40}); };
  ExpectEveryMutatorAsksFirstAndTellsOnce(cases, fresh,
                                          [](const CL_BitSet& s) { return Members(s); });
  CL_BitSet set = Of({3});
  Recorder recorder;
  recorder.Watch(set);
  EXPECT_FALSE(set.Add(3));
  EXPECT_FALSE(set.Add(500));
  EXPECT_EQ(set.Remove(4), -1);
  EXPECT_EQ(recorder.pre + recorder.post, 0);
}

TEST(BitSetStoredForm, GoldenBytesRoundTripAndRefusals) {
  const Bytes empty_form = Cat({LE(21), LE(4), LE(0), Bytes(16, 0)});
  EXPECT_EQ(Stored(CL_BitSet(128)), empty_form);
  const CL_BitSet set = Of({0, 33}, 64);
  const Bytes form = Cat({LE(21), LE(2), LE(2), LE(1), LE(2)});
  EXPECT_EQ(Stored(set), form);
  EXPECT_EQ(set.StorableFormWidth(), 20);

  CL_BitSet back(256);  // reading replaces the array, whatever its length
  VectorStream stream(form);
  ASSERT_TRUE(back.ReadFrom(stream));
  EXPECT_EQ(back.WordCount(), 2);
  EXPECT_TRUE(back == set);

  twcl_test::ExpectEveryTruncationRefused(back, form);
  twcl_test::ExpectCorruptCountsRefused(back, form, 4);
  const struct {
    const char* what;
    Bytes bytes;
  } refused[] = {
      {"count beyond the members", Cat({LE(21), LE(1), LE(2), LE(1)})},
      {"count below the members", Cat({LE(21), LE(1), LE(0), LE(1)})},
      {"negative count", Cat({LE(21), LE(1), LE(-1), LE(0)})},
      {"huge word count", Cat({LE(21), LE(INT32_MAX / 8), LE(0), LE(0)})},
  };
  for (const auto& r : refused) {
    VectorStream s(r.bytes);
    EXPECT_FALSE(back.ReadFrom(s)) << r.what;
    EXPECT_TRUE(back == set) << r.what;
  }
  VectorStream wrong(Stored(CL_String("x")));
  EXPECT_FALSE(back.ReadFrom(wrong));
  EXPECT_EQ(wrong.position, 0);
}

TEST(BitSetStoredForm, ConstructionFromAStoredByteString) {
  const Bytes form = Stored(Of({5, 77}));
  const CL_ByteString stored(form.data(), static_cast<CL_Long>(form.size()));
  const CL_BitSet set(stored);
  EXPECT_THAT(Members(set), ElementsAre(5, 77));
  Bytes damaged = form;
  damaged[8] = 9;  // a count that is not the members'
  const CL_BitSet refused(CL_ByteString(damaged.data(), static_cast<CL_Long>(damaged.size())));
  EXPECT_EQ(refused.WordCount(), 0);
  EXPECT_EQ(CL_BitSet(CL_ByteString()).WordCount(), 0);
}

TEST(BitSetIterator, WalksFromAnyRank) {
  const CL_BitSet set = Of({0, 31, 32, 63, 64, 127});
  const std::vector<CL_Long> all{0, 31, 32, 63, 64, 127};
  CL_BitSetIterator it(set);
  EXPECT_STREQ(it.ClassName(), "CL_BitSetIterator");
  for (CL_Long k = -2; k <= 7; ++k) {
    it.BeginFromRank(k);
    std::vector<CL_Long> rest;
    while (it.More()) rest.push_back(it.Next());
    const auto from = static_cast<std::size_t>(std::clamp<CL_Long>(k, 0, 6));
    EXPECT_EQ(rest, std::vector<CL_Long>(all.begin() + from, all.end())) << k;
    EXPECT_EQ(it.Next(), -1) << k;
  }
  it.Reset();
  EXPECT_EQ(it.Next(), 0);
  CL_BitSetIterator copy(it);
  EXPECT_EQ(it.Next(), 31);
  EXPECT_EQ(copy.Next(), 31);
  copy = it;
  EXPECT_EQ(copy.Next(), 32);
  CL_BitSet empty;
  CL_BitSetIterator none(empty);
  EXPECT_FALSE(none.More());
  EXPECT_EQ(none.Next(), -1);
}

}  // namespace
}  // namespace twcl_test
