// CL_Interval: its ends, its text form, and every change asked before and told after.
#include "twcl/base/interval.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

#include "base_test_util.h"
#include "twcl/base/integer.h"

namespace twcl_test {
namespace {

using Ends = std::pair<CL_Long, CL_Long>;
Ends Of(const CL_Interval& i) {
  return {i.Low(), i.High()};
}

TEST(IntervalTest, EndsLengthTextAndCopies) {
  CL_Interval none;
  EXPECT_EQ(Of(none), Ends(-1, -1));
  EXPECT_EQ(none.Length(), 1);
  CL_Interval i(-2147483647 - 1, 2147483647);
  EXPECT_STREQ(i.AsString().AsPtr(), "(-2147483648, 2147483647)");
  EXPECT_STREQ(i.ClassName(), "CL_Interval");
  EXPECT_STREQ(CL_Interval(91, 100).AsString().AsPtr(), "(91, 100)");
  EXPECT_EQ(CL_Interval(91, 100).Length(), 10);

  std::unique_ptr<CL_Object> copy(CL_Interval(3, 8).Clone());
  EXPECT_TRUE(*copy == CL_Interval(3, 8));
  EXPECT_FALSE(*copy == CL_Interval(3, 9));
  EXPECT_TRUE(*copy != CL_Interval(4, 8));
  EXPECT_FALSE(*copy == CL_Integer(3));  // another class is never equal
  EXPECT_EQ(Of(CL_Interval(3, 8) + 4), Ends(7, 12));
  EXPECT_EQ(Of(CL_Interval(3, 8) - 4), Ends(-1, 4));
}

TEST(IntervalTest, EndsNeverCross) {
  struct {
    bool low;
    CL_Long n;
    Ends after;
  } cases[] = {
      {true, 5, {5, 8}},  {true, 9, {8, 8}},  {true, -3, {-3, 8}},
      {false, 6, {3, 6}}, {false, 1, {3, 3}}, {false, 20, {3, 20}},
  };
  for (const auto& c : cases) {
    CL_Interval i(3, 8);
    if (c.low)
      i.SetLow(c.n);
    else
      i.SetHigh(c.n);
    EXPECT_EQ(Of(i), c.after) << (c.low ? "SetLow " : "SetHigh ") << c.n;
  }
}

TEST(IntervalTest, EveryChangeAsksFirstAndTellsOnce) {
  const Mutation<CL_Interval> cases[] = {
      {"operator=",
       [](auto& i) {
         i = CL_Interval(10, 20);
         return Of(i) == Ends(10, 20);
       }},
      {"operator= from an object",
       [](auto& i) {
         const CL_Object& o = CL_Interval(0, 1);
         i = o;
         return Of(i) == Ends(0, 1);
       }},
      {"ShiftUp", [](auto& i) { return Of(i.ShiftUp(2)) == Ends(5, 10); }},
      {"ShiftDown", [](auto& i) { return Of(i.ShiftDown(4)) == Ends(-1, 4); }},
      {"SetLow", [](auto& i) { return Of(i.SetLow(1)) == Ends(1, 8); }},
      {"SetHigh", [](auto& i) { return Of(i.SetHigh(30)) == Ends(3, 30); }},
  };
  ExpectEveryMutatorAsksFirstAndTellsOnce(
      cases, [] { return CL_Interval(3, 8); }, [](const CL_Interval& i) { return Of(i); });
}

TEST(IntervalTest, AssignmentFromAnotherClassIsRefused) {
  WarningCapture warnings;
  CL_Interval i(3, 8);
  Recorder r;
  r.Watch(i);
  const CL_Object& other = CL_Integer(5);
  i = other;
  EXPECT_EQ(Of(i), Ends(3, 8));
  EXPECT_EQ(r.post, 0);
  ASSERT_EQ(warnings.texts().size(), 1u);
  EXPECT_EQ(warnings.texts()[0], "CL_Interval::operator=: Invalid class 'CL_Integer'");
}

}  // namespace
}  // namespace twcl_test
