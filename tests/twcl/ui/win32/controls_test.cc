// The controls' other forms: views over a sequence the caller keeps, styles given to the
// constructor, controls that take over windows a dialog resource made, button groups from
// button tables; the group box's own window procedure and the combo box's line-by-line
// updates. Asked of Win32 itself under Xvfb.
#include "twcl/ui/controls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

constexpr std::uint32_t kSsRight = 0x0002, kBsAutoCheckBox3 = 0x0003, kEsAutoHScroll = 0x0080,
                        kLbsNotify = 0x0001, kCbsDropDown = 0x0002, kCbsDropDownList = 0x0003,
                        kWsBorder = 0x00800000, kWsVScroll = 0x00200000, kSbsVert = 0x0001,
                        kSbsLeftAlign = 0x0002, kLbsNoIntegralHeight = 0x0100;
constexpr std::uint32_t kBmSetCheck = 0x00F1, kLbAddString = 0x0180, kLbSetCurSel = 0x0186,
                        kCbAddString = 0x0143, kCbSetCurSel = 0x014E, kCbGetLbText = 0x0148,
                        kCbGetLbTextLen = 0x0149, kCbGetItemData = 0x0150, kCbSetItemData = 0x0151,
                        kSbmSetPos = 0x00E0, kSbmSetRange = 0x00E2;

const UI_ChildDescriptor kNothing[] = {{UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

class ControlsTest : public CollectWarnings {
 protected:
  void SetUp() override {
    CollectWarnings::SetUp();
    dlg_ =
        std::make_unique<UI_Dialog>(nullptr, UI_Rectangle(40, 40, 600, 320), "Controls", kNothing);
    ASSERT_TRUE(dlg_->MakeVisualElement());
    UI_Controller::Instance().FlushEvents();
  }
  void TearDown() override {
    dlg_.reset();
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
  UI_NativeHandle Made(const char* cls, const char* text, std::uint32_t style, long id, long x,
                       long y, long w, long h) {
    UI_NativeHandle made =
        UI_ProbeCreateControl(dlg_->Handle(), cls, text, style | kWsVisible, id, x, y, w, h);
    EXPECT_NE(made, nullptr) << cls;
    return made;
  }
  std::unique_ptr<UI_Dialog> dlg_;
};

std::string ComboText(UI_NativeHandle combo, long i) {
  long n = long(UI_ProbeSend(combo, kCbGetLbTextLen, std::uintptr_t(i)));
  if (n < 0) return "<none>";
  std::u16string buf(std::size_t(n) + 1, u'\0');
  UI_ProbeSend(combo, kCbGetLbText, std::uintptr_t(i), reinterpret_cast<std::intptr_t>(buf.data()));
  std::string out;
  for (std::size_t k = 0; k < std::size_t(n); ++k) out += char(buf[k]);  // ASCII lines only
  return out;
}

std::vector<std::string> Lines(const CL_StringSequence& s) {
  std::vector<std::string> v;
  for (CL_Long i = 0; i < s.Size(); ++i) v.emplace_back(s[i].AsPtr());
  return v;
}

TEST_F(ControlsTest, ControlsTakeOverWindowsADialogMade) {
  UI_Controller& c = UI_Controller::Instance();
  UI_NativeHandle label = Made("STATIC", "Größe:", kSsRight, 101, 10, 10, 90, 20);
  UI_NativeHandle check =
      Made("BUTTON", "Keep", kBsAutoCheckBox3 | kWsTabStop, 102, 10, 40, 90, 20);
  UI_ProbeSend(check, kBmSetCheck, 1);
  UI_NativeHandle push = Made("BUTTON", "Go", kBsPushButton, 103, 10, 70, 90, 24);
  UI_NativeHandle edit = Made("EDIT", "héllo", kWsBorder | kEsAutoHScroll, 104, 120, 10, 120, 22);
  UI_NativeHandle list = Made("LISTBOX", "", kWsBorder | kLbsNotify, 105, 120, 40, 120, 80);
  for (const char16_t* s : {u"one", u"two", u"three"})
    UI_ProbeSend(list, kLbAddString, 0, reinterpret_cast<std::intptr_t>(s));
  UI_ProbeSend(list, kLbSetCurSel, 1);
  UI_NativeHandle combo =
      Made("COMBOBOX", "", kCbsDropDownList | kWsVScroll, 106, 260, 10, 120, 120);
  for (const char16_t* s : {u"red", u"green"})
    UI_ProbeSend(combo, kCbAddString, 0, reinterpret_cast<std::intptr_t>(s));
  UI_ProbeSend(combo, kCbSetCurSel, 1);
  UI_NativeHandle field = Made("COMBOBOX", "", kCbsDropDown | kWsVScroll, 107, 260, 40, 120, 120);
  UI_ProbeSetText(field, "typed");
  UI_NativeHandle bar = Made("SCROLLBAR", "", kSbsVert, 108, 400, 10, 16, 100);
  UI_ProbeSend(bar, kSbmSetRange, 0, 50);
  UI_ProbeSend(bar, kSbmSetPos, 20);

  auto* l = new UI_Label(dlg_.get(), 101, label);
  auto* t = new UI_ToggleButton(dlg_.get(), 102, check);
  auto* p = new UI_PushButton(dlg_.get(), 103, push);
  auto* e = new UI_StringEditor(dlg_.get(), 104, edit);
  auto* v = new UI_SingleSelStringView(dlg_.get(), 105, list);
  auto* cb = new UI_ComboBox(dlg_.get(), 106, combo);
  auto* ed = new UI_ComboBox(dlg_.get(), 107, field);
  auto* sb = new UI_VScrollBar(dlg_.get(), 108, bar);
  c.FlushEvents();

  // Each object took the window as it stood: id, place, text, flags, contents.
  struct Case {
    UI_VisualObject* o;
    UI_NativeHandle h;
    long id, x, y, w, hgt;
    const char* title;
    bool tab;
  } cases[] = {{l, label, 101, 10, 10, 90, 20, "Größe:", false},
               {t, check, 102, 10, 40, 90, 20, "Keep", true},
               {p, push, 103, 10, 70, 90, 24, "Go", false},
               {e, edit, 104, 120, 10, 120, 22, "héllo", false}};
  for (const Case& k : cases) {
    EXPECT_EQ(k.o->Handle(), k.h) << k.title;
    EXPECT_EQ(k.o->Id(), k.id) << k.title;
    UI_Rectangle r = k.o->Shape();
    EXPECT_EQ(r.Left(), k.x) << k.title;
    EXPECT_EQ(r.Top(), k.y) << k.title;
    EXPECT_EQ(r.Width(), k.w) << k.title;
    EXPECT_EQ(r.Height(), k.hgt) << k.title;
    EXPECT_EQ(std::string(k.o->Title().AsPtr()), k.title);
    EXPECT_EQ(k.o->TabStop(), k.tab) << k.title;
    EXPECT_EQ(dlg_->FindChild(k.id), k.o) << k.title;
  }
  EXPECT_EQ(l->Alignment(), UI_Label::AlignRight);
  EXPECT_EQ(std::string(l->Text().AsPtr()), "Größe:");
  EXPECT_EQ(t->State().Value(), 1);
  EXPECT_EQ(std::string(e->Text().AsPtr()), "héllo");
  EXPECT_EQ(Lines(v->Items()), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(v->Selection().Value(), 1);
  EXPECT_EQ(Lines(cb->Items()), (std::vector<std::string>{"red", "green"}));
  EXPECT_EQ(cb->Selection().Value(), 1);
  EXPECT_FALSE(cb->IsEditable());
  EXPECT_EQ(std::string(cb->EditText().AsPtr()), "green");
  EXPECT_TRUE(ed->IsEditable());
  EXPECT_EQ(std::string(ed->EditText().AsPtr()), "typed");
  EXPECT_EQ(sb->Range().Low(), 0);
  EXPECT_EQ(sb->Range().High(), 50);
  EXPECT_EQ(sb->Position(), 20);

  // From now on they keep the windows in step both ways.
  l->Text() = "Maß:";
  EXPECT_EQ(UI_ProbeInfo(label).text, "Maß:");
  t->State() = 0;
  EXPECT_EQ(UI_ProbeSend(check, kBmGetCheck), 0);
  UI_ProbeClick(check);
  c.FlushEvents();
  EXPECT_EQ(t->State().Value(), 1);
  UI_ProbeSetText(edit, "neu");
  c.FlushEvents();
  EXPECT_EQ(std::string(e->Text().AsPtr()), "neu");
  e->Text() = "again";
  EXPECT_EQ(UI_ProbeInfo(edit).text, "again");
  UI_ProbeChooseItem(list, 2);
  c.FlushEvents();
  EXPECT_EQ(v->Selection().Value(), 2);
  v->Items()[0] = "uno";
  EXPECT_EQ(UI_ProbeListText(list, 0), "uno");
  cb->Selection() = 0;
  EXPECT_EQ(UI_ProbeSend(combo, kCbGetCurSel), 0);
  sb->SetPosition(35);
  EXPECT_EQ(UI_ProbeSend(bar, kSbmGetPos), 35);
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(ControlsTest, ViewsShowASequenceTheCallerKeeps) {
  UI_Controller& c = UI_Controller::Instance();
  CL_StringSequence names;
  for (const char* s : {"Ärger", "Bär", "Çedille"}) names.Add(CL_String(s));
  CL_StringSequence shared;
  shared.Add(CL_String("x"));
  {
    auto* single = new UI_SingleSelStringView(dlg_.get(), names, UI_Rectangle(10, 10, 120, 90), 1);
    auto* multi = new UI_MultiSelStringView(dlg_.get(), names, UI_Rectangle(140, 10, 120, 90), 2);
    c.FlushEvents();
    ASSERT_NE(single->Handle(), nullptr);
    EXPECT_EQ(&single->Items(), &names);
    EXPECT_EQ(&multi->Items(), &names);
    for (UI_StringView* view :
         {static_cast<UI_StringView*>(single), static_cast<UI_StringView*>(multi)})
      EXPECT_EQ(UI_ProbeSend(view->Handle(), kLbGetCount), 3);
    names.Add(CL_String("Dörte"));
    names[1] = "Bären";
    for (UI_StringView* view :
         {static_cast<UI_StringView*>(single), static_cast<UI_StringView*>(multi)}) {
      EXPECT_EQ(UI_ProbeSend(view->Handle(), kLbGetCount), 4);
      EXPECT_EQ(UI_ProbeListText(view->Handle(), 1), "Bären");
      EXPECT_EQ(UI_ProbeListText(view->Handle(), 3), "Dörte");
    }
    delete single;
    delete multi;
  }
  // The views are gone: changing what they showed calls no one.
  names[0] = "Anfang";
  names.Add(CL_String("Ende"));
  EXPECT_EQ(names.Size(), 5);
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(ControlsTest, StylesGivenToTheConstructorAreTheWindows) {
  UI_Controller& c = UI_Controller::Instance();
  const std::uint32_t plain = kWsVisible | kWsBorder | kLbsNotify;
  auto* given = new UI_StringView(dlg_.get(), UI_Rectangle(10, 10, 100, 80), true, 1, long(plain));
  auto* usual = new UI_StringView(dlg_.get(), UI_Rectangle(120, 10, 100, 80), false, 2, -1);
  auto* bar = new UI_VScrollBar(dlg_.get(), UI_Rectangle(230, 10, 16, 80), 3,
                                long(kWsVisible | kSbsLeftAlign));
  c.FlushEvents();
  struct Case {
    const char* what;
    UI_VisualObject* o;
    std::uint32_t has, lacks;
  } cases[] = {
      {"given list style, multiple added", given, plain | kLbsMultipleSel | kWsChild,
       kLbsNoIntegralHeight},
      {"usual list style", usual, kWsBorder | kLbsNotify | kLbsNoIntegralHeight, kLbsMultipleSel},
      {"given bar style, direction added", bar, kSbsLeftAlign | kSbsVert | kWsChild, 0},
  };
  for (const Case& k : cases) {
    ASSERT_NE(k.o->Handle(), nullptr) << k.what;
    std::uint32_t style = UI_ProbeInfo(k.o->Handle()).style;
    EXPECT_EQ(style & k.has, k.has) << k.what;
    EXPECT_EQ(style & k.lacks, 0u) << k.what;
  }
}

TEST_F(ControlsTest, ButtonGroupsFromButtonTables) {
  UI_Controller& c = UI_Controller::Instance();
  using R = UI_ButtonTableRecord;
  const R radios[] = {{R::ExOrToggle, 31, 8, 16, 90, 20, 0, "Erste", {}},
                      {2, 32, 8, 40, 90, 20, 0, "Zweite", {}},
                      {R::ExOrToggle, 33, 8, 64, 90, 20, 0, "Dritte", {}},
                      {R::End, 0, 0, 0, 0, 0, 0, nullptr, {}}};
  const R checks[] = {{R::Toggle, 41, 8, 16, 90, 20, 0, "Ja", {}},
                      {R::Toggle, 70000, 8, 40, 90, 20, 0, "Auch", {}},
                      {R::End, 0, 0, 0, 0, 0, 0, nullptr, {}}};
  const R wrong_first[] = {{R::ExOrToggle, 51, 8, 16, 90, 20, 0, "Falsch", {}},
                           {R::End, 0, 0, 0, 0, 0, 0, nullptr, {}}};
  struct Case {
    const char* what;
    bool exclusive;
    const R* table;
    std::vector<long> ids;
    std::vector<std::string> warnings;
  } cases[] = {
      {"radio table ended by a record of another type",
       true,
       radios,
       {31},
       {"UI_ExOrButtonGroup constructor: invalid type 2 at index 1"}},
      {"check-box table", false, checks, {41, 70000}, {}},
      {"check-box group given a radio record first",
       false,
       wrong_first,
       {},
       {"UI_OrButtonGroup constructor: invalid type 1 at index 0"}},
      {"no table", true, nullptr, {}, {}},
  };
  long x = 10;
  for (const Case& k : cases) {
    g_warnings.clear();
    UI_ButtonGroup* g;
    UI_Rectangle shape(x, 10, 120, 100);
    if (k.exclusive)
      g = new UI_ExOrButtonGroup(dlg_.get(), shape, 90 + x, k.table);
    else
      g = new UI_OrButtonGroup(dlg_.get(), shape, 90 + x, k.table);
    x += 140;
    c.FlushEvents();
    EXPECT_EQ(g_warnings, k.warnings) << k.what;
    std::vector<long> ids;
    for (UI_VisualObject* b : g->Children()) {
      ids.push_back(b->Id());
      ASSERT_NE(b->Handle(), nullptr) << k.what;
      UI_ProbeWindow w = UI_ProbeInfo(b->Handle());
      EXPECT_EQ(w.style & kBsTypeMask, k.exclusive ? kBsAutoRadioButton : kBsAutoCheckBox)
          << k.what;
      EXPECT_EQ(w.y, 10 + (b == g->Children().front() ? 16 : 40)) << k.what;
    }
    EXPECT_EQ(ids, k.ids) << k.what;
  }
  auto* radio = dynamic_cast<UI_ExOrButtonGroup*>(dlg_->FindChild(100));
  ASSERT_NE(radio, nullptr);
  EXPECT_EQ(UI_ProbeInfo(radio->Children().front()->Handle()).text, "Erste");
}

TEST_F(ControlsTest, GroupBoxRunsItsOwnProcedureAndAnnouncesOnce) {
  UI_Controller& c = UI_Controller::Instance();
  using R = UI_ButtonTableRecord;
  const R checks[] = {{R::Toggle, 41, 8, 16, 90, 20, 0, "Ja", {}},
                      {R::Toggle, 42, 8, 40, 90, 20, 0, "Nein", {}},
                      {R::End, 0, 0, 0, 0, 0, 0, nullptr, {}}};
  auto* g = new UI_OrButtonGroup(dlg_.get(), UI_Rectangle(10, 10, 140, 100), 40, checks);
  c.FlushEvents();
  ASSERT_NE(g->Handle(), nullptr);
  void* old = UI_ProbeProperty(g->Handle(), "TWCLBtnGrp1");
  EXPECT_NE(old, nullptr);
  EXPECT_NE(UI_ProbeWindowProc(g->Handle()), old);
  EXPECT_EQ(UI_ProbeInfo(g->Handle()).style & kBsTypeMask, kBsGroupBox);

  int selects = 0;
  struct Counter {
    UI_VisualObject* from;
    int* n;
    bool On(const UI_Event& e) {
      if (e.Origin() == from) ++*n;
      return true;
    }
  } counter{g, &selects};
  g->AddEventBinding(Event_Select, UI_EventBinding1<Counter>(&counter, &Counter::On));
  struct Step {
    const char* what;
    long turn_on;  // a button turned on through its model, 0 for none
    int selects;
    std::vector<long> chosen;
  } steps[] = {{"nothing changed", 0, 0, {}},
               {"first box on", 41, 1, {41}},
               {"asked again, nothing new", 0, 1, {41}},
               {"second box on", 42, 2, {41, 42}}};
  for (const Step& s : steps) {
    if (s.turn_on) dynamic_cast<UI_ToggleButton*>(g->FindChild(s.turn_on))->State() = 1;
    g->Select();
    c.FlushEvents();
    c.FlushEvents();
    EXPECT_EQ(selects, s.selects) << s.what;
    std::vector<long> chosen;
    for (CL_Long k = 0; k < g->Selection().Size(); ++k)
      chosen.push_back(long(g->Selection().ItemWithRank(k)));
    EXPECT_EQ(chosen, s.chosen) << s.what;
  }
}

TEST_F(ControlsTest, ComboBoxChangesOnlyTheLinesThatChange) {
  UI_Controller& c = UI_Controller::Instance();
  auto* cb = new UI_ComboBox(dlg_.get(), UI_Rectangle(10, 10, 150, 24), 60, 120, false);
  for (const char* s : {"a", "b", "c"}) cb->Items().Add(CL_String(s));
  c.FlushEvents();
  UI_NativeHandle h = cb->Handle();
  ASSERT_NE(h, nullptr);
  cb->Selection() = 2;
  // Marks on the lines: a list filled anew loses them, lines left alone keep them.
  auto Mark = [&] {
    for (long i = 0; i < long(UI_ProbeSend(h, kCbGetCount)); ++i)
      UI_ProbeSend(h, kCbSetItemData, std::uintptr_t(i), 100 + i);
  };
  auto Marks = [&] {
    std::vector<long> v;
    for (long i = 0; i < long(UI_ProbeSend(h, kCbGetCount)); ++i)
      v.push_back(long(UI_ProbeSend(h, kCbGetItemData, std::uintptr_t(i))));
    return v;
  };
  auto Shown = [&] {
    std::vector<std::string> v;
    for (long i = 0; i < long(UI_ProbeSend(h, kCbGetCount)); ++i) v.push_back(ComboText(h, i));
    return v;
  };
  struct Step {
    const char* what;
    void (*change)(CL_StringSequence&);
    std::vector<std::string> lines;
    std::vector<long> marks;  // 0 for a line put in new
    long selection;
  } steps[] = {
      {"inserted after the first",
       [](CL_StringSequence& s) { s.Insert(CL_String("x"), 0); },
       {"a", "x", "b", "c"},
       {100, 0, 101, 102},
       3},
      {"inserted at the top",
       [](CL_StringSequence& s) { s.Insert(CL_String("t"), -1); },
       {"t", "a", "x", "b", "c"},
       {0, 100, 101, 102, 103},
       4},
      {"one removed",
       [](CL_StringSequence& s) { s.Remove(1); },
       {"t", "x", "b", "c"},
       {100, 102, 103, 104},
       3},
      {"one changed",
       [](CL_StringSequence& s) { s[0] = "u"; },
       {"u", "x", "b", "c"},
       {0, 101, 102, 103},
       3},
      {"the chosen line changed",
       [](CL_StringSequence& s) { s[3] = "C"; },
       {"u", "x", "b", "C"},
       {100, 101, 102, 0},
       3},
      {"appended",
       [](CL_StringSequence& s) { s.Add(CL_String("z")); },
       {"u", "x", "b", "C", "z"},
       {100, 101, 102, 103, 0},
       3},
      {"emptied", [](CL_StringSequence& s) { s.MakeEmpty(); }, {}, {}, -1},
  };
  for (const Step& s : steps) {
    Mark();
    s.change(cb->Items());
    c.FlushEvents();
    EXPECT_EQ(Shown(), s.lines) << s.what;
    EXPECT_EQ(Marks(), s.marks) << s.what;
    EXPECT_EQ(cb->Selection().Value(), s.selection) << s.what;
    EXPECT_EQ(long(UI_ProbeSend(h, kCbGetCurSel)), s.selection) << s.what;
  }
}

}  // namespace
