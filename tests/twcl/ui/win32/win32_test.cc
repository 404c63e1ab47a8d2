// The visual classes on Wine's Win32, asked of Win32 itself. Runs under Xvfb.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

enum : long {
  kLabel = 10,
  kEdit = 11,
  kText = 12,
  kToggle = 13,
  kList = 14,
  kMulti = 15,
  kCombo = 16,
  kHBar = 17,
  kVBar = 18,
  kGroup = 19,
  kRadioA = 20,
  kRadioB = 21,
  kChecks = 22,
  kCheckA = 23,
  kCheckB = 24,
  kPanel = 25,
  kInner = 26,
  kHidden = 27,
  kDisabled = 28,
};

const UI_ButtonDescriptor kRadios[] = {
    {kRadioA, 8, 16, 80, 20, "Alpha"}, {kRadioB, 8, 40, 80, 20, "Beta"}, {0, 0, 0, 0, 0, nullptr}};
const UI_ButtonDescriptor kChecksTable[] = {
    {kCheckA, 8, 16, 80, 20, "Left"}, {kCheckB, 8, 40, 80, 20, "Right"}, {0, 0, 0, 0, 0, nullptr}};
const UI_ChildDescriptor kPanelTable[] = {
    {UI_KindStringEditor, kInner, 4, 4, 100, 22, true, "inner", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

const UI_ChildDescriptor kTable[] = {
    {UI_KindLabel, kLabel, 10, 10, 120, 20, false, "Name:", nullptr},
    {UI_KindStringEditor, kEdit, 140, 10, 150, 22, true, "first", nullptr},
    {UI_KindTextEditor, kText, 10, 40, 280, 60, true, "line one", nullptr},
    {UI_KindToggle, kToggle, 10, 110, 120, 20, true, "Check me", nullptr},
    {UI_KindSingleSelView, kList, 10, 140, 130, 80, true, nullptr, nullptr},
    {UI_KindMultiSelView, kMulti, 150, 140, 130, 80, true, nullptr, nullptr},
    {UI_KindComboBox, kCombo, 300, 10, 120, 120, true, nullptr, nullptr},
    {UI_KindHScrollBar, kHBar, 10, 230, 200, 16, true, nullptr, nullptr},
    {UI_KindVScrollBar, kVBar, 400, 140, 16, 100, true, nullptr, nullptr},
    {UI_KindExOrGroup, kGroup, 300, 40, 100, 70, false, "Pick", kRadios},
    {UI_KindOrGroup, kChecks, 420, 40, 100, 70, false, "Flags", kChecksTable},
    {UI_KindComposite, kPanel, 300, 250, 120, 40, true, nullptr, kPanelTable},
    {UI_KindPushButton, 1, 240, 300, 80, 26, true, "OK", nullptr},
    {UI_KindPushButton, 2, 330, 300, 80, 26, true, "Cancel", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

class Win32Test : public CollectWarnings {
 protected:
  void TearDown() override {
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
};

UI_ProbeWindow ById(const std::vector<UI_ProbeWindow>& ws, long id) {
  for (const auto& w : ws)
    if (w.id == id) return w;
  ADD_FAILURE() << "no child window with id " << id;
  return {};
}

template <class T>
T* As(UI_VisualObject* o) {
  auto* t = dynamic_cast<T*>(o);
  EXPECT_NE(t, nullptr);
  return t;
}

TEST_F(Win32Test, DialogFromTemplateShowsItsChildren) {
  // A long title with characters outside ASCII: the template holds it whole.
  std::string title = "Réglages — " + std::string(200, 'x');
  UI_Dialog dlg(nullptr, UI_Rectangle(50, 50, 560, 360), title.c_str(), kTable);
  ASSERT_TRUE(dlg.MakeVisualElement());
  EXPECT_EQ(UI_ProbeInfo(dlg.Handle()).text, title);
  EXPECT_EQ(UI_ProbeInfo(dlg.Handle()).cls, "#32770");

  std::vector<UI_ProbeWindow> ws = UI_ProbeChildren(dlg.Handle());
  struct Want {
    long id;
    const char* cls;
    const char* text;
    long x, y, w, h;
    std::uint32_t button_type;  // kBsTypeMask bits for buttons
  } wants[] = {
      {kLabel, "Static", "Name:", 10, 10, 120, 20, 0},
      {kEdit, "Edit", "first", 140, 10, 150, 22, 0},
      {kText, "Edit", "line one", 10, 40, 280, 60, 0},
      {kToggle, "Button", "Check me", 10, 110, 120, 20, kBsAutoCheckBox},
      {kList, "ListBox", "", 10, 140, 130, 80, 0},
      {kMulti, "ListBox", "", 150, 140, 130, 80, 0},
      {kHBar, "ScrollBar", "", 10, 230, 200, 16, 0},
      {kVBar, "ScrollBar", "", 400, 140, 16, 100, 0},
      {kGroup, "Button", "Pick", 300, 40, 100, 70, kBsGroupBox},
      {kRadioA, "Button", "Alpha", 308, 56, 80, 20, kBsAutoRadioButton},
      {kRadioB, "Button", "Beta", 308, 80, 80, 20, kBsAutoRadioButton},
      {kCheckA, "Button", "Left", 428, 56, 80, 20, kBsAutoCheckBox},
      {kInner, "Edit", "inner", 4, 4, 100, 22, 0},
      {1, "Button", "OK", 240, 300, 80, 26, kBsPushButton},
      {2, "Button", "Cancel", 330, 300, 80, 26, kBsPushButton},
  };
  for (const auto& w : wants) {
    SCOPED_TRACE(w.id);
    UI_ProbeWindow got = ById(ws, w.id);
    EXPECT_EQ(got.cls, w.cls);
    EXPECT_EQ(got.text, w.text);
    EXPECT_EQ(got.x, w.x);
    EXPECT_EQ(got.y, w.y);
    EXPECT_EQ(got.width, w.w);
    EXPECT_EQ(got.height, w.h);
    EXPECT_TRUE(got.style & kWsChild);
    EXPECT_TRUE(got.visible);
    if (w.cls == std::string("Button")) {
      EXPECT_EQ(got.style & kBsTypeMask, w.button_type);
    }
  }
  EXPECT_TRUE(ById(ws, kText).style & kEsMultiline);
  EXPECT_TRUE(ById(ws, kMulti).style & kLbsMultipleSel);
  EXPECT_FALSE(ById(ws, kList).style & kLbsMultipleSel);
  EXPECT_EQ(ById(ws, kCombo).cls, "ComboBox");

  // An id that is not in the table: a warning and no object.
  EXPECT_EQ(dlg.Child(999), nullptr);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "UI_Dialog: no child with id 999");
}

TEST_F(Win32Test, ControlsFollowTheirModelsBothWays) {
  UI_Dialog dlg(nullptr, UI_Rectangle(50, 50, 560, 360), "Models", kTable);
  ASSERT_TRUE(dlg.MakeVisualElement());
  const char* fruit[] = {"apple", "pear", "plum", nullptr};

  // Labels and editors: model to window, window to model.
  auto* label = As<UI_Label>(dlg.Child(kLabel));
  label->Text() = "Changed:";
  EXPECT_EQ(UI_ProbeInfo(label->Handle()).text, "Changed:");
  for (long id : {kEdit, kText}) {
    auto* ed = As<UI_StringEditor>(dlg.Child(id));
    ed->Text() = "from the model";
    EXPECT_EQ(UI_ProbeInfo(ed->Handle()).text, "from the model");
    UI_ProbeSetText(ed->Handle(), "typed ünïcode");
    EXPECT_STREQ(ed->Text().AsPtr(), "typed ünïcode");
  }

  // Check box.
  auto* toggle = As<UI_ToggleButton>(dlg.Child(kToggle));
  toggle->State() = 1;
  EXPECT_EQ(UI_ProbeSend(toggle->Handle(), kBmGetCheck), 1);
  UI_ProbeClick(toggle->Handle());
  EXPECT_EQ(toggle->State().Value(), 0);
  EXPECT_EQ(UI_ProbeSend(toggle->Handle(), kBmGetCheck), 0);

  // Lists: items and selection both ways.
  auto* list = As<UI_StringView>(dlg.Child(kList));
  list->Items() = CL_StringSequence(fruit, -1);
  EXPECT_EQ(UI_ProbeSend(list->Handle(), kLbGetCount), 3);
  list->Selection() = 2;
  EXPECT_EQ(UI_ProbeSend(list->Handle(), kLbGetCurSel), 2);
  UI_ProbeChooseItem(list->Handle(), 1);
  EXPECT_EQ(list->Selection().Value(), 1);

  auto* multi = As<UI_MultiSelStringView>(dlg.Child(kMulti));
  multi->Items() = CL_StringSequence(fruit, -1);
  CL_IntegerSet ends;
  ends.Add(0);
  ends.Add(2);
  multi->Selection() = ends;
  EXPECT_GT(UI_ProbeSend(multi->Handle(), kLbGetSel, 0), 0);
  EXPECT_EQ(UI_ProbeSend(multi->Handle(), kLbGetSel, 1), 0);
  EXPECT_GT(UI_ProbeSend(multi->Handle(), kLbGetSel, 2), 0);
  UI_ProbeToggleItem(multi->Handle(), 1);
  EXPECT_TRUE(multi->Selection().IsEqual(CL_IntegerSet(0, 2)));

  auto* combo = As<UI_ComboBox>(dlg.Child(kCombo));
  combo->Items() = CL_StringSequence(fruit, -1);
  EXPECT_EQ(UI_ProbeSend(combo->Handle(), kCbGetCount), 3);
  combo->Selection() = 1;
  EXPECT_EQ(UI_ProbeSend(combo->Handle(), kCbGetCurSel), 1);
  UI_ProbeChooseItem(combo->Handle(), 2);
  EXPECT_EQ(combo->Selection().Value(), 2);

  // Scroll bars keep within their range.
  for (long id : {kHBar, kVBar}) {
    auto* bar = As<UI_ScrollBar>(dlg.Child(id));
    ASSERT_TRUE(bar->SetRange(0, 50));
    bar->SetPosition(20);
    EXPECT_EQ(UI_ProbeSend(bar->Handle(), kSbmGetPos), 20);
    UI_ProbeScroll(bar->Handle(), 1);  // line down
    EXPECT_EQ(bar->Position(), 21);
    UI_ProbeScroll(bar->Handle(), 4, 45);  // thumb dropped
    EXPECT_EQ(bar->Position(), 45);
    UI_ProbeScroll(bar->Handle(), 7);  // bottom
    EXPECT_EQ(bar->Position(), 50);
    EXPECT_EQ(UI_ProbeSend(bar->Handle(), kSbmGetPos), 50);
    EXPECT_FALSE(bar->SetRange(10, 5));
  }

  // Button groups.
  auto* group = As<UI_ExOrButtonGroup>(dlg.Child(kGroup));
  group->Selection() = kRadioB;
  EXPECT_EQ(UI_ProbeSend(dlg.Child(kRadioB)->Handle(), kBmGetCheck), 1);
  EXPECT_EQ(UI_ProbeSend(dlg.Child(kRadioA)->Handle(), kBmGetCheck), 0);
  UI_ProbeClick(dlg.Child(kRadioA)->Handle());
  EXPECT_EQ(group->Selection().Value(), kRadioA);
  EXPECT_EQ(UI_ProbeSend(dlg.Child(kRadioB)->Handle(), kBmGetCheck), 0);

  auto* checks = As<UI_OrButtonGroup>(dlg.Child(kChecks));
  UI_ProbeClick(dlg.Child(kCheckB)->Handle());
  EXPECT_TRUE(checks->Selection().IsEqual(CL_IntegerSet(kCheckB, kCheckB)));
  checks->Selection() = CL_IntegerSet(kCheckA, kCheckA);
  EXPECT_EQ(UI_ProbeSend(dlg.Child(kCheckA)->Handle(), kBmGetCheck), 1);
  EXPECT_EQ(UI_ProbeSend(dlg.Child(kCheckB)->Handle(), kBmGetCheck), 0);
  EXPECT_EQ(g_warnings.size(), 2u);  // the two refused ranges
}

struct SelectCounter {
  UI_VisualObject* from = nullptr;
  int count = 0;
  long last = 0;
  // Counts the group's own announcements; every event goes on (true), the buttons' selects
  // that climb through the group among them.
  bool On(const UI_Event& e) {
    if (e.Origin() != from) return true;
    ++count;
    last = e.param;
    return true;
  }
};

TEST_F(Win32Test, GroupAnnouncesEachChangeOnce) {
  UI_Dialog dlg(nullptr, UI_Rectangle(50, 50, 560, 360), "Group", kTable);
  ASSERT_TRUE(dlg.MakeVisualElement());
  auto* group = As<UI_ExOrButtonGroup>(dlg.Child(kGroup));
  SelectCounter counter{group};
  group->AddEventBinding(Event_Select,
                         UI_EventBinding1<SelectCounter>(&counter, &SelectCounter::On));
  UI_Controller& c = UI_Controller::Instance();

  struct Step {
    const char* what;
    std::function<void()> act;
    int count;
    long last;
  } steps[] = {
      {"click A", [&] { UI_ProbeClick(dlg.Child(kRadioA)->Handle()); }, 1, kRadioA},
      {"click A again", [&] { UI_ProbeClick(dlg.Child(kRadioA)->Handle()); }, 1, kRadioA},
      {"model to B", [&] { group->Selection() = kRadioB; }, 2, kRadioB},
      {"Select B again", [&] { group->Select(kRadioB); }, 2, kRadioB},
      {"click A", [&] { UI_ProbeClick(dlg.Child(kRadioA)->Handle()); }, 3, kRadioA},
  };
  for (const auto& s : steps) {
    s.act();
    c.FlushEvents();  // ends: nothing posts itself again
    EXPECT_EQ(counter.count, s.count) << s.what;
    EXPECT_EQ(counter.last, s.last) << s.what;
  }
}

const UI_ChildDescriptor kTabTable[] = {
    {UI_KindStringEditor, 1, 10, 10, 100, 22, true, "one", nullptr},
    {UI_KindPushButton, kHidden, 10, 40, 100, 22, true, "hidden", nullptr},
    {UI_KindPushButton, kDisabled, 10, 70, 100, 22, true, "disabled", nullptr},
    {UI_KindLabel, 30, 10, 100, 100, 22, false, "no stop", nullptr},
    {UI_KindStringEditor, 2, 10, 130, 100, 22, true, "two", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

TEST_F(Win32Test, TabNeverLandsOnHiddenOrDisabledControls) {
  UI_Dialog dlg(nullptr, UI_Rectangle(80, 80, 200, 200), "Tabs", kTabTable);
  dlg.Child(kHidden)->Show(false);
  dlg.Child(kDisabled)->Enable(false);
  ASSERT_TRUE(dlg.MakeVisualElement());
  UI_Controller& c = UI_Controller::Instance();
  UI_VisualObject* one = dlg.Child(1);
  UI_VisualObject* two = dlg.Child(2);
  ASSERT_TRUE(one->TakeFocus());
  dlg.SetFocusChild(one);

  struct Step {
    bool shift;
    UI_VisualObject* want;
  } steps[] = {{false, two}, {false, one}, {true, two}, {true, one}};
  for (const auto& s : steps) {
    UI_ProbeType(UI_ProbeFocus(), '\t', s.shift);
    c.FlushEvents();
    EXPECT_EQ(UI_ProbeFocus(), s.want->Handle()) << (s.shift ? "shift-TAB" : "TAB");
  }
  UI_ProbeType(UI_ProbeFocus(), '\t', false);  // leave the shift state clear

  // Everything hidden: moving the focus ends at once and changes nothing.
  one->Show(false);
  two->Show(false);
  EXPECT_TRUE(dlg.MoveFocus(1));
  EXPECT_TRUE(dlg.MoveFocus(-1));
  c.FlushEvents();
  EXPECT_FALSE(dlg.SetFocusChild(one));
}

TEST_F(Win32Test, ModalRunsEndOnTheirClosingEvents) {
  UI_Controller& c = UI_Controller::Instance();
  struct Case {
    const char* what;
    long default_id;
    std::function<void(UI_Dialog&)> act;
    long id, type;
  } cases[] = {
      {"OK", -1, [](UI_Dialog& d) { UI_ProbePostClick(d.Child(1)->Handle()); }, 1, Event_Select},
      {"Cancel", -1, [](UI_Dialog& d) { UI_ProbePostClick(d.Child(2)->Handle()); }, 2,
       Event_Select},
      {"Enter takes the default", 1,
       [](UI_Dialog& d) { UI_ProbeType(d.Child(kEdit)->Handle(), '\r'); }, 1, Event_Select},
      {"close box", -1, [](UI_Dialog& d) { UI_ProbePost(d.Handle(), kWmClose); }, -1, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    UI_Dialog dlg(nullptr, UI_Rectangle(60, 60, 560, 360), k.what, kTable, nullptr, k.default_id);
    ASSERT_TRUE(dlg.MakeVisualElement());
    // A click on another child does not end the run.
    UI_ProbePostClick(dlg.Child(kToggle)->Handle());
    k.act(dlg);
    std::pair<long, long> r = dlg.ExecuteModal();
    EXPECT_EQ(r.first, k.id);
    EXPECT_EQ(r.second, k.type);
    c.FlushEvents();
  }
}

TEST_F(Win32Test, MessageBoxAnswers) {
  struct Case {
    int buttons, press, answer;
  } cases[] = {{0, kIdOk, 1}, {1, kIdOk, 1}, {1, kIdCancel, 2}, {2, kIdYes, 3},
               {2, kIdNo, 4}, {3, kIdNo, 4}, {3, kIdCancel, 2}};
  for (const auto& k : cases) {
    std::string caption = "Question " + std::to_string(k.buttons) + "/" + std::to_string(k.press);
    UI_ProbeAnswerMessageBox(caption.c_str(), k.press);
    EXPECT_EQ(UI_MessageBox("Go on?", caption.c_str(), nullptr, k.buttons, 3), k.answer) << caption;
  }
}

}  // namespace
