// Tests of the object core: error reporting, CL_Object's default protocol, dependents and
// the change protocol, client sets (also when bindings change them mid-walk) and bindings.
#include "twcl/base/object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base_test_util.h"
#include "twcl/base/binding.h"
#include "twcl/base/client_set.h"
#include "twcl/base/error.h"
#include "twcl/base/string.h"

namespace twcl_test {
namespace {

// Keeps every default of the protocol.
class Plain : public CL_Object {
 public:
  using CL_Object::operator=;
  Plain() = default;
};

// A class of its own with a value order and a text form.
class Valued : public CL_Object {
 public:
  using CL_Object::operator=;
  explicit Valued(int v, const char* text = "") : value(v), _text(text) {}
  Valued(const Valued& other) = default;
  Valued& operator=(const Valued&) = delete;

  CL_Long ClassId() const override { return 1100; }
  const char* ClassName() const override { return "Valued"; }
  short Compare(const CL_Object& other) const override {
    const int theirs = static_cast<const Valued&>(other).value;
    return static_cast<short>((value > theirs) - (value < theirs));
  }
  CL_String AsString() const override { return CL_String(_text); }

  int value;

 private:
  const char* _text;
};

// What a test binding does when it runs: records the value, optionally acts on the set
// it lives in, answers a chosen result.
struct Probe {
  bool answer = true;
  std::vector<CL_Word> values;
  std::function<void()> action;
};

class ProbeBinding : public CL_AbstractBinding {
 public:
  using CL_Object::operator=;
  explicit ProbeBinding(Probe* probe) : _probe(probe) {}
  ProbeBinding(const ProbeBinding& other) = default;
  ProbeBinding& operator=(const ProbeBinding&) = delete;

  const char* ClassName() const override { return "ProbeBinding"; }
  CL_Object* Clone() const override { return new ProbeBinding(*this); }
  CL_String AsString() const override { return _Describe("ProbeBinding"); }
  bool Execute(CL_Word value) const override {
    _probe->values.push_back(value);
    if (_probe->action) _probe->action();
    // Reads this clone again after the action: a clone deleted by its own removal would
    // be a use after free here.
    return _probe->answer;
  }
  bool Valid() const override { return _probe != nullptr; }

 protected:
  const void* _Target() const override { return _probe; }
  std::span<const unsigned char> _MemberBytes() const override { return {}; }

 private:
  Probe* _probe;
};

// A binding that cannot clone itself (CL_Object's default Clone).
class UnclonableBinding : public CL_AbstractBinding {
 public:
  using CL_Object::operator=;
  bool Execute(CL_Word) const override { return true; }
  bool Valid() const override { return true; }

 protected:
  const void* _Target() const override { return this; }
  std::span<const unsigned char> _MemberBytes() const override { return {}; }
};

CL_Word AddressOf(const CL_Object& object) {
  return reinterpret_cast<CL_Word>(&object);
}

// ---------------------------------------------------------------------------------------
// CL_Error

std::vector<std::string>& Seen() {
  static std::vector<std::string> seen;
  return seen;
}
bool Refusing(const char* text) {
  Seen().emplace_back(text);
  return false;
}

TEST(ErrorTest, WarningFormatsAndAnswersTheHandlersResult) {
  Seen().clear();
  const CL_ErrorHandler previous = CL_Error::SetWarningHandler(&Refusing);
  EXPECT_FALSE(CL_Error::Warning("%s %d", "count", 7));
  EXPECT_EQ(CL_Error::SetWarningHandler(previous), &Refusing);
  EXPECT_THAT(Seen(), testing::ElementsAre("count 7"));

  WarningCapture capture;
  EXPECT_TRUE(CL_Error::Warning("plain"));
  EXPECT_THAT(capture.texts(), testing::ElementsAre("plain"));
}

TEST(ErrorTest, LongTextsAreCutTo199Characters) {
  WarningCapture capture;
  const std::string long_text(500, 'x');
  CL_Error::Warning("%s", long_text.c_str());
  ASSERT_EQ(capture.texts().size(), 1u);
  EXPECT_EQ(capture.texts()[0], std::string(CL_Error::kTextSize - 1, 'x'));
}

TEST(ErrorTest, NullHandlerInstallsNothingAndAnswersTheCurrentOne) {
  WarningCapture capture;
  const CL_ErrorHandler current = CL_Error::SetWarningHandler(nullptr);
  EXPECT_NE(current, nullptr);
  EXPECT_EQ(CL_Error::SetWarningHandler(nullptr), current);
  CL_Error::Warning("still captured");
  EXPECT_THAT(capture.texts(), testing::ElementsAre("still captured"));

  const CL_ErrorHandler fatal = CL_Error::SetFatalHandler(nullptr);
  EXPECT_EQ(fatal, &CL_Error::DefaultHandler);
  EXPECT_EQ(CL_Error::SetFatalHandler(nullptr), fatal);
}

TEST(ErrorTest, FatalReturnsToItsCallerWhenTheHandlerAnswersFalse) {
  Seen().clear();
  const CL_ErrorHandler previous = CL_Error::SetFatalHandler(&Refusing);
  CL_Error::Fatal("allocating %u bytes: no memory!", 64u);
  CL_Error::SetFatalHandler(previous);
  EXPECT_THAT(Seen(), testing::ElementsAre("allocating 64 bytes: no memory!"));
}

TEST(ErrorDeathTest, DefaultFatalHandlerEndsTheProcessWithCode1) {
  EXPECT_EXIT(CL_Error::Fatal("out of %s", "memory"), testing::ExitedWithCode(1),
              "TWCL: out of memory");
}

TEST(ErrorTest, DefaultHandlerWritesPrefixedLineToStandardError) {
  testing::internal::CaptureStderr();
  const bool answer = CL_Error::DefaultHandler("careful");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "TWCL: careful\n");
  EXPECT_TRUE(answer);
}

// ---------------------------------------------------------------------------------------
// CL_Object defaults

TEST(ObjectDefaultsTest, IdentityOfTheRoot) {
  Plain p;
  EXPECT_STREQ(p.ClassName(), "CL_Object");
  EXPECT_EQ(p.ClassId(), 1);
  EXPECT_EQ(p.StorableFormWidth(), 0);
}

TEST(ObjectDefaultsTest, UnimplementedOperationsWarnAndAnswerNeutrally) {
  struct Case {
    const char* method;
    std::function<void(Plain&)> call;
  };
  const Case cases[] = {
      {"Clone", [](Plain& p) { EXPECT_EQ(p.Clone(), nullptr); }},
      {"op= (const CL_Object&)",
       [](Plain& p) {
         const Plain other;
         CL_Object& target = p;
         EXPECT_EQ(&(target = other), &p);
       }},
      {"CL_Object::AsString", [](Plain& p) { EXPECT_EQ(p.AsString().Size(), 0); }},
      {"FromStream (istream&)",
       [](Plain& p) {
         std::istringstream in("text");
         EXPECT_EQ(&(in >> p), &in);
       }},
      {"ReadFrom",
       [](Plain& p) {
         VectorStream s(Bytes{1, 0, 0, 0});
         EXPECT_FALSE(p.ReadFrom(s));
       }},
      {"WriteTo",
       [](Plain& p) {
         VectorStream s;
         EXPECT_FALSE(p.WriteTo(s));
         EXPECT_TRUE(s.bytes.empty());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    WarningCapture capture;
    Plain p;
    c.call(p);
    EXPECT_THAT(capture.texts(),
                testing::ElementsAre(std::string("Class 'CL_Object' does not implement method '") +
                                     c.method + "'\n"));
  }
}

TEST(ObjectDefaultsTest, RelationalDefaultsFollowIdentityAndAddress) {
  const Plain pair[2];
  const CL_Object& low = pair[0];
  const CL_Object& high = pair[1];
  struct Case {
    const char* op;
    std::function<bool(const CL_Object&, const CL_Object&)> test;
    bool low_high, high_low, same;
  };
  const Case cases[] = {
      {"<", [](auto& a, auto& b) { return a < b; }, true, false, false},
      {"==", [](auto& a, auto& b) { return a == b; }, false, false, true},
      {"<=", [](auto& a, auto& b) { return a <= b; }, true, false, true},
      {">", [](auto& a, auto& b) { return a > b; }, false, true, false},
      {">=", [](auto& a, auto& b) { return a >= b; }, false, true, true},
      {"!=", [](auto& a, auto& b) { return a != b; }, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    EXPECT_EQ(c.test(low, high), c.low_high);
    EXPECT_EQ(c.test(high, low), c.high_low);
    EXPECT_EQ(c.test(low, low), c.same);
  }
  EXPECT_EQ(low.Compare(high), -1);
  EXPECT_EQ(high.Compare(low), 1);
  EXPECT_EQ(low.Compare(low), 0);
}

TEST(ObjectDefaultsTest, CompareWithUsesCompareOnlyWithinOneClass) {
  const Valued two(2, "two"), also_two(2, "another"), three(3, "three");
  struct Case {
    short op;
    bool two_three, three_two, two_two;
  };
  const Case cases[] = {
      {CL_CmpEqual, false, false, true},       {CL_CmpLess, true, false, false},
      {CL_CmpGreater, false, true, false},     {CL_CmpLessEqual, true, false, true},
      {CL_CmpGreaterEqual, false, true, true}, {CL_CmpNotEqual, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.op);
    EXPECT_EQ(two.CompareWith(three, c.op), c.two_three);
    EXPECT_EQ(three.CompareWith(two, c.op), c.three_two);
    EXPECT_EQ(two.CompareWith(also_two, c.op), c.two_two);
  }

  // Another class: never equal, ordered by address.
  const Plain other;
  const bool below = std::less<const void*>{}(&two, &other);
  EXPECT_FALSE(two.CompareWith(other, CL_CmpEqual));
  EXPECT_TRUE(two.CompareWith(other, CL_CmpNotEqual));
  EXPECT_EQ(two.CompareWith(other, CL_CmpLess), below);
  EXPECT_EQ(two.CompareWith(other, CL_CmpGreater), !below);
}

TEST(ObjectDefaultsTest, TextOperatorsCompareTheTextForms) {
  const Valued abc(1, "abc"), ab(2, "ab"), bc(3, "bc"), xyz(4, "xyz");
  EXPECT_TRUE(abc.CompareWith(ab, CL_CmpPrefix));
  EXPECT_FALSE(abc.CompareWith(bc, CL_CmpPrefix));
  EXPECT_TRUE(abc.CompareWith(bc, CL_CmpContains));
  EXPECT_FALSE(abc.CompareWith(xyz, CL_CmpContains));
  EXPECT_FALSE(ab.CompareWith(abc, CL_CmpPrefix));  // shorter than the other

  EXPECT_TRUE(abc.CompareWith(CL_String("ab"), CL_CmpPrefix));
  EXPECT_TRUE(abc.CompareWith(CL_String("abc"), CL_CmpEqual));
  EXPECT_TRUE(abc.CompareWith(CL_String("abd"), CL_CmpLess));
}

TEST(ObjectDefaultsTest, BadComparisonOperatorWarnsAndAnswersFalse) {
  WarningCapture capture;
  const Valued a(1), b(1);
  EXPECT_FALSE(a.CompareWith(b, 8));
  EXPECT_FALSE(a.CompareWith(b, -1));
  EXPECT_THAT(capture.texts(), testing::ElementsAre("CL_Object::CompareWith: bad operator 8",
                                                    "CL_Object::CompareWith: bad operator -1"));
}

TEST(ObjectDefaultsTest, ClassChecks) {
  WarningCapture capture;
  const Valued a(1), b(2);
  const Plain p;
  EXPECT_TRUE(a.IsA(b));
  EXPECT_FALSE(a.IsA(p));
  EXPECT_TRUE(a.CheckClassId(b, "Valued::op="));
  EXPECT_TRUE(capture.texts().empty());
  EXPECT_FALSE(a.CheckClassId(p, "Valued::op="));
  EXPECT_THAT(capture.texts(), testing::ElementsAre("Valued::op=: Invalid class 'CL_Object'"));
}

TEST(ObjectDefaultsTest, ReadClassIdMovesBackOverAForeignId) {
  const Valued v(0);
  struct Case {
    const char* name;
    Bytes bytes;
    bool result;
    CL_Long offset_after;
  };
  const Case cases[] = {
      {"own id", twcl_test::LE(1100), true, 4},
      {"other id", twcl_test::LE(6), false, 0},
      {"empty", Bytes{}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VectorStream s(c.bytes);
    EXPECT_EQ(v.ReadClassId(s), c.result);
    EXPECT_EQ(s.Offset(), c.offset_after);
  }
}

TEST(ObjectDefaultsTest, TextStreamGlueWritesAsStringAndAnswersTheStream) {
  const Valued v(1, "text");
  std::ostringstream out;
  out << v << '|' << v;
  EXPECT_EQ(out.str(), "text|text");
}

// ---------------------------------------------------------------------------------------
// Dependents and the change protocol

TEST(DependentsTest, WithoutARecordEverythingIsNeutral) {
  Plain p;
  Probe probe;
  EXPECT_EQ(p.Dependents(), nullptr);
  EXPECT_EQ(p.PreChangeDependents(), nullptr);
  EXPECT_FALSE(p.HasDependent(ProbeBinding(&probe)));
  EXPECT_FALSE(p.RemoveDependent(ProbeBinding(&probe)));
  EXPECT_FALSE(p.HasPreChangeDependent(ProbeBinding(&probe)));
  EXPECT_FALSE(p.RemovePreChangeDependent(ProbeBinding(&probe)));
  EXPECT_TRUE(p.PrepareToChange());
  p.Notify();
  EXPECT_EQ(p.Dependents(), nullptr);  // asking created nothing
}

TEST(DependentsTest, AddHasRemoveOnEachSet) {
  struct Side {
    const char* name;
    bool (CL_Object::*add)(const CL_AbstractBinding&) const;
    bool (CL_Object::*has)(const CL_AbstractBinding&) const;
    bool (CL_Object::*remove)(const CL_AbstractBinding&) const;
    CL_ClientSet* (CL_Object::*set)() const;
    CL_ClientSet* (CL_Object::*other_set)() const;
  };
  const Side sides[] = {
      {"post", &CL_Object::AddDependent, &CL_Object::HasDependent, &CL_Object::RemoveDependent,
       &CL_Object::Dependents, &CL_Object::PreChangeDependents},
      {"pre", &CL_Object::AddPreChangeDependent, &CL_Object::HasPreChangeDependent,
       &CL_Object::RemovePreChangeDependent, &CL_Object::PreChangeDependents,
       &CL_Object::Dependents},
  };
  for (const Side& side : sides) {
    SCOPED_TRACE(side.name);
    const Plain p;  // dependents are bookkeeping: a const object takes them
    Probe a, b;
    EXPECT_TRUE((p.*side.add)(ProbeBinding(&a)));
    EXPECT_FALSE((p.*side.add)(ProbeBinding(&a)));  // an equal binding: refused
    EXPECT_TRUE((p.*side.add)(ProbeBinding(&b)));
    ASSERT_NE((p.*side.set)(), nullptr);
    EXPECT_EQ((p.*side.set)()->Size(), 2);
    EXPECT_EQ((p.*side.other_set)()->Size(), 0);
    EXPECT_TRUE((p.*side.has)(ProbeBinding(&a)));

    EXPECT_TRUE((p.*side.remove)(ProbeBinding(&a)));
    EXPECT_FALSE((p.*side.remove)(ProbeBinding(&a)));
    EXPECT_FALSE((p.*side.has)(ProbeBinding(&a)));
    EXPECT_TRUE((p.*side.remove)(ProbeBinding(&b)));
    // The record outlives its last binding.
    ASSERT_NE((p.*side.set)(), nullptr);
    EXPECT_EQ((p.*side.set)()->Size(), 0);
  }
}

TEST(DependentsTest, PreChangeAsksInOrderWithTheAddressAndStopsAtTheFirstVeto) {
  Plain p;
  Probe first, veto, never;
  veto.answer = false;
  p.AddPreChangeDependent(ProbeBinding(&first));
  p.AddPreChangeDependent(ProbeBinding(&veto));
  p.AddPreChangeDependent(ProbeBinding(&never));
  EXPECT_FALSE(p.PrepareToChange());
  EXPECT_THAT(first.values, testing::ElementsAre(AddressOf(p)));
  EXPECT_THAT(veto.values, testing::ElementsAre(AddressOf(p)));
  EXPECT_TRUE(never.values.empty());

  p.RemovePreChangeDependent(ProbeBinding(&veto));
  EXPECT_TRUE(p.PrepareToChange());
  EXPECT_EQ(never.values.size(), 1u);
}

TEST(DependentsTest, NotifyTellsEveryPostChangeBindingInOrder) {
  Plain p;
  std::vector<int> order;
  Probe a, b, pre;
  a.action = [&] { order.push_back(1); };
  b.action = [&] { order.push_back(2); };
  p.AddDependent(ProbeBinding(&a));
  p.AddDependent(ProbeBinding(&b));
  p.AddPreChangeDependent(ProbeBinding(&pre));
  p.Notify();
  EXPECT_THAT(order, testing::ElementsAre(1, 2));
  EXPECT_THAT(a.values, testing::ElementsAre(AddressOf(p)));
  EXPECT_TRUE(pre.values.empty());
}

TEST(DependentsTest, TheSetKeepsItsOwnCloneOfEachBinding) {
  Plain p;
  Probe probe;
  {
    const ProbeBinding local(&probe);
    p.AddDependent(local);
    EXPECT_NE(p.Dependents()->Find(local), &local);
  }
  p.Notify();  // the caller's binding is gone; the clone still runs
  EXPECT_EQ(probe.values.size(), 1u);
}

TEST(DependentsTest, BindingThatCannotCloneIsNotStored) {
  WarningCapture capture;
  Plain p;
  EXPECT_FALSE(p.AddDependent(UnclonableBinding()));
  EXPECT_EQ(p.Dependents()->Size(), 0);
  EXPECT_THAT(
      capture.texts(),
      testing::ElementsAre("Class 'CL_AbstractBinding' does not implement method 'Clone'\n"));
}

TEST(DependentsTest, ACopyStartsWithoutDependents) {
  Valued original(1);
  Probe probe;
  original.AddDependent(ProbeBinding(&probe));
  const Valued copy(original);
  EXPECT_EQ(copy.Dependents(), nullptr);
  EXPECT_NE(original.Dependents(), nullptr);
}

// ---------------------------------------------------------------------------------------
// CL_ClientSet

TEST(ClientSetTest, RemoveNotifiesTheSetItselfAndAddDoesNot) {
  CL_ClientSet set;
  twcl_test::Recorder watcher;
  watcher.Watch(set);
  Probe probe;
  EXPECT_TRUE(set.Add(ProbeBinding(&probe)));
  EXPECT_EQ(watcher.post, 0);
  Probe absent;
  EXPECT_FALSE(set.Remove(ProbeBinding(&absent)));  // no notice

  EXPECT_EQ(watcher.post, 0);
  EXPECT_TRUE(set.Remove(ProbeBinding(&probe)));
  EXPECT_EQ(watcher.post, 1);
}

TEST(ClientSetTest, PermitsAndNotifyAllOnAnEmptySet) {
  CL_ClientSet set;
  EXPECT_TRUE(set.Permits(42));
  set.NotifyAll(42);
  EXPECT_EQ(set.Size(), 0);
  EXPECT_STREQ(set.ClassName(), "CL_ClientSet");
  EXPECT_EQ(set.ClassId(), 1);
}

TEST(ClientSetTest, FindAnswersTheStoredClone) {
  CL_ClientSet set;
  Probe a, b;
  set.Add(ProbeBinding(&a));
  CL_AbstractBinding* stored = set.Find(ProbeBinding(&a));
  ASSERT_NE(stored, nullptr);
  EXPECT_TRUE(*stored == ProbeBinding(&a));
  EXPECT_EQ(set.Find(ProbeBinding(&b)), nullptr);
  EXPECT_TRUE(set.Includes(ProbeBinding(&a)));
  EXPECT_FALSE(set.Includes(ProbeBinding(&b)));
}

TEST(ClientSetTest, AsStringHasOneLinePerBinding) {
  CL_ClientSet set;
  Probe a, b;
  set.Add(ProbeBinding(&a));
  set.Add(ProbeBinding(&b));
  EXPECT_THAT(set.AsString().AsPtr(),
              testing::MatchesRegex("  -- ProbeBinding: object [0-9a-f]{8,}\n"
                                    "  -- ProbeBinding: object [0-9a-f]{8,}\n"));
  EXPECT_STREQ(CL_ClientSet().AsString().AsPtr(), "");
}

TEST(ClientSetTest, DestroyContentsEmptiesTheSet) {
  CL_ClientSet set;
  Probe a, b;
  set.Add(ProbeBinding(&a));
  set.Add(ProbeBinding(&b));
  set.DestroyContents();
  EXPECT_EQ(set.Size(), 0);
  set.NotifyAll(1);
  EXPECT_TRUE(a.values.empty());
}

// Bindings that change their own set while it is being walked.
TEST(ClientSetWalkTest, BindingRemovingItselfKeepsRunningAndIsGoneAfterwards) {
  Plain model;
  Probe self, next;
  self.action = [&] { EXPECT_TRUE(model.RemoveDependent(ProbeBinding(&self))); };
  model.AddDependent(ProbeBinding(&self));
  model.AddDependent(ProbeBinding(&next));
  model.Notify();
  EXPECT_EQ(self.values.size(), 1u);
  EXPECT_EQ(next.values.size(), 1u);
  EXPECT_FALSE(model.HasDependent(ProbeBinding(&self)));
  EXPECT_EQ(model.Dependents()->Size(), 1);
  model.Notify();
  EXPECT_EQ(self.values.size(), 1u);
  EXPECT_EQ(next.values.size(), 2u);
}

TEST(ClientSetWalkTest, ALaterBindingRemovedMidWalkIsNotCalled) {
  Plain model;
  Probe remover, removed, last;
  remover.action = [&] { model.RemoveDependent(ProbeBinding(&removed)); };
  model.AddDependent(ProbeBinding(&remover));
  model.AddDependent(ProbeBinding(&removed));
  model.AddDependent(ProbeBinding(&last));
  model.Notify();
  EXPECT_TRUE(removed.values.empty());
  EXPECT_EQ(last.values.size(), 1u);
}

TEST(ClientSetWalkTest, ABindingAddedMidWalkRunsFromTheNextWalkOn) {
  Plain model;
  Probe adder, added;
  adder.action = [&] { model.AddDependent(ProbeBinding(&added)); };
  model.AddDependent(ProbeBinding(&adder));
  model.Notify();
  EXPECT_TRUE(added.values.empty());
  EXPECT_TRUE(model.HasDependent(ProbeBinding(&added)));
  model.Notify();
  EXPECT_EQ(added.values.size(), 1u);
}

TEST(ClientSetWalkTest, RemovedEntryShowsAsANullLineUntilTheWalkEnds) {
  Plain model;
  Probe self, reader;
  std::string during;
  self.action = [&] { model.RemoveDependent(ProbeBinding(&self)); };
  reader.action = [&] { during = model.Dependents()->AsString().AsPtr(); };
  model.AddDependent(ProbeBinding(&self));
  model.AddDependent(ProbeBinding(&reader));
  model.Notify();
  EXPECT_THAT(during, testing::MatchesRegex("  --\n  -- ProbeBinding: object [0-9a-f]{8,}\n"));
  EXPECT_THAT(model.Dependents()->AsString().AsPtr(),
              testing::MatchesRegex("  -- ProbeBinding: object [0-9a-f]{8,}\n"));
}

TEST(ClientSetWalkTest, DestroyContentsMidWalkStopsTheWalk) {
  Plain model;
  Probe destroyer, after;
  destroyer.action = [&] { model.Dependents()->DestroyContents(); };
  model.AddDependent(ProbeBinding(&destroyer));
  model.AddDependent(ProbeBinding(&after));
  model.Notify();
  EXPECT_TRUE(after.values.empty());
  EXPECT_EQ(model.Dependents()->Size(), 0);
}

TEST(ClientSetWalkTest, NestedWalksDeleteRemovedBindingsOnlyAtTheOutermostEnd) {
  Plain model;
  Probe outer, inner;
  int depth = 0;
  outer.action = [&] {
    if (depth++ > 0) return;
    model.Notify();  // a nested walk over the same set
    EXPECT_EQ(inner.values.size(), 1u);
  };
  inner.action = [&] { model.RemoveDependent(ProbeBinding(&outer)); };
  model.AddDependent(ProbeBinding(&outer));
  model.AddDependent(ProbeBinding(&inner));
  model.Notify();
  // Inner removed outer during the nested walk while outer was still running; outer ran in
  // both walks, inner once in each.
  EXPECT_EQ(outer.values.size(), 2u);
  EXPECT_EQ(inner.values.size(), 2u);
  EXPECT_EQ(model.Dependents()->Size(), 1);
}

TEST(ClientSetWalkTest, VetoingBindingThatRemovesItselfStillVetoes) {
  Plain model;
  Probe veto, later;
  veto.answer = false;
  veto.action = [&] { model.RemovePreChangeDependent(ProbeBinding(&veto)); };
  model.AddPreChangeDependent(ProbeBinding(&veto));
  model.AddPreChangeDependent(ProbeBinding(&later));
  EXPECT_FALSE(model.PrepareToChange());
  EXPECT_TRUE(later.values.empty());
  EXPECT_TRUE(model.PrepareToChange());
  EXPECT_EQ(later.values.size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Bindings

struct Switch {
  bool state = true;
  int calls = 0;
  bool Get() {
    ++calls;
    return state;
  }
  bool Other() { return false; }
};

TEST(Binding0Test, ExecuteCallsTheMemberOrAnswersFalseWhenUnset) {
  Switch on, off;
  off.state = false;
  struct Case {
    const char* name;
    CL_Binding0<Switch> binding;
    bool valid, result;
  };
  const Case cases[] = {
      {"set, true", CL_Binding0<Switch>(&on, &Switch::Get), true, true},
      {"set, false", CL_Binding0<Switch>(&off, &Switch::Get), true, false},
      {"no object", CL_Binding0<Switch>(nullptr, &Switch::Get), false, false},
      {"no member", CL_Binding0<Switch>(&on, nullptr), false, false},
      {"default", CL_Binding0<Switch>(), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.binding.Valid(), c.valid);
    EXPECT_EQ(c.binding.Execute(12345), c.result);
  }
  EXPECT_EQ(on.calls, 1);
  EXPECT_EQ(off.calls, 1);
}

TEST(Binding0Test, IdentityCopyAndClone) {
  Switch s;
  const CL_Binding0<Switch> b(&s, &Switch::Get);
  EXPECT_STREQ(b.ClassName(), "CL_Binding0");
  EXPECT_EQ(b.ClassId(), 2);
  const CL_Binding0<Switch> copy(b);
  EXPECT_TRUE(copy == b);
  CL_Binding0<Switch> assigned;
  assigned = b;
  EXPECT_TRUE(assigned == b);
  EXPECT_EQ(assigned.Object(), &s);
  const std::unique_ptr<CL_Object> clone(b.Clone());
  EXPECT_TRUE(*clone == b);
  EXPECT_STREQ(clone->ClassName(), "CL_Binding0");
}

TEST(Binding0Test, TextFormShowsTheObjectAddress) {
  Switch s;
  const CL_Binding0<Switch> b(&s, &Switch::Get);
  const std::string text = b.AsString().AsPtr();
  ASSERT_THAT(text, testing::MatchesRegex("CL_Binding0: object [0-9a-f]{8,}"));
  EXPECT_EQ(std::stoull(text.substr(text.rfind(' ') + 1), nullptr, 16),
            reinterpret_cast<std::uintptr_t>(&s));
}

TEST(BindingOrderTest, ByObjectAddressThenByMember) {
  Switch pair[2];
  const CL_Binding0<Switch> low_get(&pair[0], &Switch::Get), low_other(&pair[0], &Switch::Other),
      high_get(&pair[1], &Switch::Get), high_other(&pair[1], &Switch::Other);

  EXPECT_EQ(low_get.Compare(CL_Binding0<Switch>(&pair[0], &Switch::Get)), 0);
  // Members of one object: unequal, and ordered one way only.
  EXPECT_NE(low_get.Compare(low_other), 0);
  EXPECT_EQ(low_get.Compare(low_other), -low_other.Compare(low_get));
  EXPECT_NE(low_get < low_other, low_other < low_get);
  EXPECT_TRUE(low_get != low_other);
  // The object decides before the member.
  for (const auto* low : {&low_get, &low_other})
    for (const auto* high : {&high_get, &high_other}) {
      EXPECT_EQ(low->Compare(*high), -1);
      EXPECT_EQ(high->Compare(*low), 1);
      EXPECT_TRUE(*low < *high);
    }
}

TEST(BindingOrderTest, AgainstAnotherClassByAddressOnly) {
  Switch s;
  const CL_Binding0<Switch> b(&s, &Switch::Get);
  const Plain p;
  const short expected = std::less<const void*>{}(&b, &p) ? -1 : 1;
  EXPECT_EQ(b.Compare(p), expected);
  EXPECT_FALSE(b == p);
  EXPECT_TRUE(b != p);
}

// Watches many objects through one member; the datum says which of them spoke.
struct Board {
  std::vector<std::pair<long, CL_Word>> heard;
  bool answer = true;
  bool Heard(CL_Word value, long datum) {
    heard.emplace_back(datum, value);
    return answer;
  }
  bool Other(CL_Word, long) { return true; }
};

TEST(Binding2Test, ExecuteHandsTheMemberTheValueAndItsDatum) {
  Board board;
  struct Case {
    const char* name;
    CL_Binding2<Board> binding;
    bool answer, valid, result;
  };
  const Case cases[] = {
      {"set, true", CL_Binding2<Board>(&board, &Board::Heard, 7), true, true, true},
      {"set, false", CL_Binding2<Board>(&board, &Board::Heard, -3), false, true, false},
      {"no object", CL_Binding2<Board>(nullptr, &Board::Heard, 1), true, false, false},
      {"no member", CL_Binding2<Board>(&board, nullptr, 1), true, false, false},
      {"default", CL_Binding2<Board>(), true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board.answer = c.answer;
    EXPECT_EQ(c.binding.Valid(), c.valid);
    EXPECT_EQ(c.binding.Execute(4242), c.result);
  }
  using Heard = std::vector<std::pair<long, CL_Word>>;
  EXPECT_EQ(board.heard, (Heard{{7, 4242}, {-3, 4242}}));
}

TEST(Binding2Test, IdentityIsTheObjectAndMemberWhateverTheDatum) {
  Board board;
  const CL_Binding2<Board> b(&board, &Board::Heard, 5);
  EXPECT_STREQ(b.ClassName(), "CL_Binding2");
  EXPECT_EQ(b.ClassId(), 4);
  const std::unique_ptr<CL_Object> clone(b.Clone());
  EXPECT_TRUE(*clone == b);
  EXPECT_EQ(static_cast<CL_Binding2<Board>&>(*clone).Datum(), 5);
  EXPECT_TRUE(b == CL_Binding2<Board>(&board, &Board::Heard, 99));
  EXPECT_FALSE(b == CL_Binding2<Board>(&board, &Board::Other, 5));
  // A Binding0 on the same object is another class, never equal.
  Switch s;
  EXPECT_FALSE(CL_Binding2<Switch>(&s, nullptr) == CL_Binding0<Switch>(&s, nullptr));
  const std::string text = b.AsString().AsPtr();
  ASSERT_THAT(text, testing::MatchesRegex("CL_Binding2: object [0-9a-f]{8,}"));
  EXPECT_EQ(std::stoull(text.substr(text.rfind(' ') + 1), nullptr, 16),
            reinterpret_cast<std::uintptr_t>(&board));
}

TEST(Binding2Test, OneMemberWatchingSeveralObjectsLearnsWhichChanged) {
  Board board;
  CL_String items[3] = {CL_String("Zürich"), CL_String("Åre"), CL_String("")};
  for (long i = 0; i < 3; ++i) items[i].AddDependent(CL_Binding2<Board>(&board, &Board::Heard, i));
  items[2] = "new";
  items[0] = "Genève";
  ASSERT_EQ(board.heard.size(), 2u);
  EXPECT_EQ(board.heard[0], (std::pair<long, CL_Word>(2, reinterpret_cast<CL_Word>(&items[2]))));
  EXPECT_EQ(board.heard[1].first, 0);
  // Taken off by identity alone, as a re-numbering does before binding anew.
  EXPECT_TRUE(items[1].RemoveDependent(CL_Binding2<Board>(&board, &Board::Heard, 0)));
  items[1] = "x";
  EXPECT_EQ(board.heard.size(), 2u);
}

}  // namespace
}  // namespace twcl_test
