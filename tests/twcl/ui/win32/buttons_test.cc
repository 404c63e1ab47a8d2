// Button groups at the keyboard, label alignment and list selections of any size, on Wine's
// Win32 and asked of Win32 itself. Runs under Xvfb.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

enum : long {
  kBefore = 10,
  kGroup = 11,
  kRadioA = 12,
  kRadioB = 13,
  kRadioC = 14,
  kAfter = 15,
  kChecks = 16,
  kCheckLow = 5,
  kCheckHigh = 40,
  kCheckHuge = 100000,
  kLabel = 20,
  kList = 21,
  kMulti = 22,
};

const UI_ButtonDescriptor kRadios[] = {{kRadioA, 8, 16, 90, 20, "Alpha"},
                                       {kRadioB, 8, 40, 90, 20, "Beta"},
                                       {kRadioC, 8, 64, 90, 20, "Gamma"},
                                       {0, 0, 0, 0, 0, nullptr}};
// Ids far beyond the bits of a 32-bit mask.
const UI_ButtonDescriptor kChecksTable[] = {{kCheckLow, 8, 16, 90, 20, "Low"},
                                            {kCheckHigh, 8, 40, 90, 20, "High"},
                                            {kCheckHuge, 8, 64, 90, 20, "Huge"},
                                            {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kTable[] = {
    {UI_KindStringEditor, kBefore, 10, 10, 120, 22, true, "before", nullptr},
    {UI_KindExOrGroup, kGroup, 10, 40, 120, 95, false, "Pick", kRadios},
    {UI_KindPushButton, kAfter, 10, 145, 120, 24, true, "After", nullptr},
    {UI_KindOrGroup, kChecks, 150, 40, 120, 95, false, "Flags", kChecksTable},
    {UI_KindLabel, kLabel, 150, 10, 200, 20, false, "ab", nullptr},
    {UI_KindSingleSelView, kList, 290, 40, 120, 120, true, nullptr, nullptr},
    {UI_KindMultiSelView, kMulti, 420, 40, 120, 120, true, nullptr, nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

class ButtonsTest : public CollectWarnings {
 protected:
  void SetUp() override {
    CollectWarnings::SetUp();
    dlg_ = std::make_unique<UI_Dialog>(nullptr, UI_Rectangle(60, 60, 560, 200), "Buttons", kTable);
    ASSERT_TRUE(dlg_->MakeVisualElement());
    UI_Controller::Instance().FlushEvents();
  }
  void TearDown() override {
    dlg_.reset();
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
  UI_NativeHandle H(long id) const { return dlg_->Child(id)->Handle(); }
  std::unique_ptr<UI_Dialog> dlg_;
};

CL_IntegerSet SetOf(std::initializer_list<long> ids) {
  CL_IntegerSet s;
  for (long i : ids) s.Add(i);
  return s;
}

std::vector<long> Members(const CL_IntegerSet& s) {
  std::vector<long> v;
  for (CL_Long k = 0; k < s.Size(); ++k) v.push_back(long(s.ItemWithRank(k)));
  return v;
}

struct SelectCounter {
  UI_VisualObject* from = nullptr;
  int count = 0;
  bool On(const UI_Event& e) {
    if (e.Origin() == from) ++count;
    return true;
  }
};

TEST_F(ButtonsTest, KeyboardReachesEveryRadioButtonOfAGroup) {
  UI_Controller& c = UI_Controller::Instance();
  auto* group = dynamic_cast<UI_ExOrButtonGroup*>(dlg_->Child(kGroup));
  ASSERT_NE(group, nullptr);
  ASSERT_TRUE(dlg_->Child(kBefore)->TakeFocus());
  ASSERT_TRUE(dlg_->SetFocusChild(dlg_->Child(kBefore)));
  ASSERT_EQ(UI_ProbeFocus(), H(kBefore));

  // Keys as the keyboard sends them, to whichever window Win32 gives the focus.
  struct Step {
    const char* what;
    unsigned key;
    bool shift;
    long focus;
  } steps[] = {
      {"TAB enters the group at its first button", kVkTab, false, kRadioA},
      {"Down", kVkDown, false, kRadioB},
      {"Down", kVkDown, false, kRadioC},
      {"Down from the last wraps to the first", kVkDown, false, kRadioA},
      {"Up from the first wraps to the last", kVkUp, false, kRadioC},
      {"Up", kVkUp, false, kRadioB},
      {"TAB leaves the group: one stop", kVkTab, false, kAfter},
      {"shift-TAB comes back into it", kVkTab, true, kRadioA},
      {"shift-TAB goes on before it", kVkTab, true, kBefore},
  };
  for (const auto& s : steps) {
    UI_ProbePressKey(s.key, s.shift);
    c.FlushEvents();
    EXPECT_EQ(UI_ProbeFocus(), H(s.focus)) << s.what;
  }

  // Down to the third and Space: the third is chosen, in the window and in the model.
  SelectCounter counter{group};
  group->AddEventBinding(Event_Select,
                         UI_EventBinding1<SelectCounter>(&counter, &SelectCounter::On));
  ASSERT_TRUE(dlg_->Child(kRadioB)->TakeFocus());
  UI_ProbePressKey(kVkDown);
  UI_ProbePressKey(kVkSpace);
  c.FlushEvents();
  EXPECT_EQ(UI_ProbeFocus(), H(kRadioC));
  EXPECT_EQ(group->Selection().Value(), kRadioC);
  EXPECT_EQ(UI_ProbeSend(H(kRadioC), kBmGetCheck), 1);
  EXPECT_EQ(UI_ProbeSend(H(kRadioA), kBmGetCheck), 0);
  EXPECT_EQ(counter.count, 1);

  // The check boxes of the other group move the same way.
  ASSERT_TRUE(dlg_->Child(kCheckHuge)->TakeFocus());
  UI_ProbePressKey(kVkDown);
  c.FlushEvents();
  EXPECT_EQ(UI_ProbeFocus(), H(kCheckLow));
}

TEST_F(ButtonsTest, CheckBoxGroupHoldsAnySetOfIds) {
  UI_Controller& c = UI_Controller::Instance();
  auto* group = dynamic_cast<UI_OrButtonGroup*>(dlg_->Child(kChecks));
  ASSERT_NE(group, nullptr);
  SelectCounter counter{group};
  group->AddEventBinding(Event_Select,
                         UI_EventBinding1<SelectCounter>(&counter, &SelectCounter::On));

  group->Selection() = SetOf({kCheckHigh, kCheckHuge, 7});  // 7 is no button's
  c.FlushEvents();
  EXPECT_EQ(UI_ProbeSend(H(kCheckLow), kBmGetCheck), 0);
  EXPECT_EQ(UI_ProbeSend(H(kCheckHigh), kBmGetCheck), 1);
  EXPECT_EQ(UI_ProbeSend(H(kCheckHuge), kBmGetCheck), 1);
  EXPECT_EQ(counter.count, 1);

  UI_ProbeClick(H(kCheckLow));
  UI_ProbeClick(H(kCheckHuge));
  c.FlushEvents();
  EXPECT_EQ(Members(group->Selection()), (std::vector<long>{kCheckLow, kCheckHigh}));
  EXPECT_EQ(counter.count, 3);
  group->Selection() = SetOf({kCheckLow, kCheckHigh});  // no change: nothing announced
  c.FlushEvents();
  EXPECT_EQ(counter.count, 3);
}

// Where the first dark pixel of a label's text lies, or -1 when none does.
long FirstInkColumn(UI_NativeHandle label) {
  UI_BitmapData shot;
  if (!UI_ProbeCapture(label, &shot)) return -1;
  for (int x = 0; x < shot.Width(); ++x)
    for (int y = 0; y < shot.Height(); ++y) {
      std::uint32_t p = shot.Pixels()[std::size_t(y * shot.Width() + x)];
      if (((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff) < 200) return x;
    }
  return -1;
}

TEST_F(ButtonsTest, LabelsAreCentredUnlessAligned) {
  UI_Controller& c = UI_Controller::Instance();
  auto* label = dynamic_cast<UI_Label*>(dlg_->Child(kLabel));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->Alignment(), UI_Label::AlignCentre);
  std::uint32_t before = UI_ProbeInfo(label->Handle()).style;
  EXPECT_EQ(before & kSsTypeMask, kSsCenter);

  EXPECT_FALSE(label->SetAlignment(3));
  EXPECT_EQ(label->Alignment(), UI_Label::AlignCentre);
  EXPECT_EQ(UI_ProbeInfo(label->Handle()).style, before);

  // The 200-pixel label's short text: where the ink starts tells the alignment.
  struct Case {
    long alignment;
    std::uint32_t style;
    long ink_from, ink_to;
  } cases[] = {{UI_Label::AlignCentre, kSsCenter, 80, 110},
               {UI_Label::AlignRight, kSsRight, 170, 200},
               {UI_Label::AlignLeft, kSsLeft, 0, 10}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.alignment);
    ASSERT_TRUE(label->SetAlignment(k.alignment));
    c.FlushEvents();
    std::uint32_t now = UI_ProbeInfo(label->Handle()).style;
    EXPECT_EQ(now & kSsTypeMask, k.style);
    EXPECT_EQ(now & ~kSsTypeMask, before & ~kSsTypeMask);  // only the two low bits change
    long ink = FirstInkColumn(label->Handle());
    EXPECT_GE(ink, k.ink_from);
    EXPECT_LT(ink, k.ink_to);
  }

  // The class default decides for new labels.
  EXPECT_FALSE(UI_Label::SetDefaultAlignment(7));
  ASSERT_TRUE(UI_Label::SetDefaultAlignment(UI_Label::AlignRight));
  auto* late = new UI_Label(dlg_.get(), UI_Rectangle(150, 160, 100, 20), 30, "late");
  ASSERT_TRUE(late->MakeVisualElement());
  EXPECT_EQ(UI_ProbeInfo(late->Handle()).style & kSsTypeMask, kSsRight);
  ASSERT_TRUE(UI_Label::SetDefaultAlignment(UI_Label::AlignCentre));
}

TEST_F(ButtonsTest, ReadNativeStateTakesWhatTheWindowSays) {
  auto* button = dynamic_cast<UI_SimpleVObject*>(dlg_->Child(kAfter));
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->TabStop());
  UI_ProbeReshape(button->Handle(), 33, 44, 55, 22, kWsChild | kWsVisible);
  ASSERT_TRUE(button->ReadNativeState());
  EXPECT_FALSE(button->TabStop());
  EXPECT_EQ(button->Id(), kAfter);
  EXPECT_TRUE(button->IsVisible());
  UI_Rectangle r = button->Shape();
  EXPECT_EQ(r.Left(), 33);
  EXPECT_EQ(r.Top(), 44);
  EXPECT_EQ(r.Width(), 55);
  EXPECT_EQ(r.Height(), 22);

  UI_PushButton windowless(nullptr, UI_Rectangle(0, 0, 10, 10), 3, "none");
  EXPECT_TRUE(windowless.ReadNativeState());
}

std::vector<long> SelectedLines(UI_NativeHandle list) {
  std::vector<long> v;
  long n = long(UI_ProbeSend(list, kLbGetCount));
  for (long i = 0; i < n; ++i)
    if (UI_ProbeSend(list, kLbGetSel, std::uintptr_t(i)) > 0) v.push_back(i);
  return v;
}

CL_StringSequence Lines(int n) {
  CL_StringSequence s;
  for (int i = 0; i < n; ++i) s.Add(CL_String(("Zeile " + std::to_string(i) + " ü").c_str()));
  return s;
}

TEST_F(ButtonsTest, MultipleSelectionReachesPastItem31BothWays) {
  auto* multi = dynamic_cast<UI_MultiSelStringView*>(dlg_->Child(kMulti));
  ASSERT_NE(multi, nullptr);
  multi->Items() = Lines(40);

  struct Case {
    const char* what;
    std::vector<long> model, window, kept;
  } cases[] = {
      {"past the 32nd line", {1, 31, 32, 33, 39}, {1, 31, 32, 33, 39}, {1, 31, 32, 33, 39}},
      {"indices past the items are dropped", {0, 39, 40, 1000, -1}, {0, 39}, {0, 39}},
      {"empty", {}, {}, {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    CL_IntegerSet s;
    for (long i : k.model) s.Add(i);
    multi->Selection() = s;
    EXPECT_EQ(SelectedLines(multi->Handle()), k.window);
    EXPECT_EQ(Members(multi->Selection()), k.kept);
  }

  // The user's choices come back into the model, however far down.
  multi->Selection() = SetOf({2, 35});
  UI_ProbeToggleItem(multi->Handle(), 38);
  UI_ProbeToggleItem(multi->Handle(), 2);
  EXPECT_EQ(Members(multi->Selection()), (std::vector<long>{35, 38}));
  EXPECT_EQ(UI_ProbeSend(multi->Handle(), kLbGetSelCount), 2);

  // A short list: {1, 9} over four lines selects line 1 only.
  multi->Items() = Lines(4);
  multi->Selection() = SetOf({1, 9});
  EXPECT_EQ(SelectedLines(multi->Handle()), (std::vector<long>{1}));
  EXPECT_EQ(Members(multi->Selection()), (std::vector<long>{1}));
}

TEST_F(ButtonsTest, ChangedStringReplacesOnlyItsLine) {
  auto* list = dynamic_cast<UI_SingleSelStringView*>(dlg_->Child(kList));
  auto* multi = dynamic_cast<UI_MultiSelStringView*>(dlg_->Child(kMulti));
  ASSERT_NE(list, nullptr);
  ASSERT_NE(multi, nullptr);
  list->Items() = Lines(40);
  multi->Items() = Lines(40);
  list->Selection() = 35;
  multi->Selection() = SetOf({2, 33});
  list->ScrollTo(30);
  EXPECT_EQ(list->TopIndex(), 30);
  EXPECT_GT(list->VisibleCount(), 0);

  for (UI_StringView* v : {static_cast<UI_StringView*>(list), static_cast<UI_StringView*>(multi)}) {
    v->Items()[33] = "Größe geändert";
    v->Items()[2] = "";
    EXPECT_EQ(UI_ProbeSend(v->Handle(), kLbGetCount), 40);
    EXPECT_EQ(UI_ProbeListText(v->Handle(), 33), "Größe geändert");
    EXPECT_EQ(UI_ProbeListText(v->Handle(), 2), "");
    EXPECT_EQ(UI_ProbeListText(v->Handle(), 34), "Zeile 34 ü");
  }
  EXPECT_EQ(UI_ProbeSend(list->Handle(), kLbGetCurSel), 35);
  EXPECT_EQ(list->Selection().Value(), 35);
  EXPECT_EQ(SelectedLines(multi->Handle()), (std::vector<long>{2, 33}));

  // Items added later are watched as well.
  list->Items().Add(CL_String("new"));
  list->Items()[40] = "newer";
  EXPECT_EQ(UI_ProbeListText(list->Handle(), 40), "newer");

  // A selection past the items shows none and reads none.
  list->Items() = Lines(5);
  list->Selection() = 7;
  EXPECT_EQ(UI_ProbeSend(list->Handle(), kLbGetCurSel), -1);
  EXPECT_EQ(list->Selection().Value(), -1);
}

}  // namespace
