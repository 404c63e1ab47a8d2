// Scroll bars, string editors and combo boxes kept in step with their models both ways, asked
// of Win32 itself. Runs under Xvfb.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

// The published Win32 numbers these tests send.
constexpr std::uint32_t kWmKeyDown = 0x0100, kVkDelete = 0x2E, kEmGetSel = 0x00B0,
                        kEmSetSel = 0x00B1, kEmGetLimitText = 0x00D5, kSbmGetRange = 0x00E3,
                        kCbGetEditSel = 0x0140, kCbGetDroppedControlRect = 0x0152,
                        kCbGetDroppedState = 0x0157;
constexpr unsigned kSbLineDown = 1, kSbLineUp = 0, kSbPageDown = 3, kSbPageUp = 2,
                   kSbThumbPosition = 4, kSbThumbTrack = 5, kSbTop = 6, kSbBottom = 7,
                   kSbEndScroll = 8;

enum : long { kBar = 10, kEdit = 11, kCombo = 12, kList = 13, kOwnModel = 14 };

std::pair<long, long> NativeRange(UI_NativeHandle bar) {
  std::int32_t low = -99, high = -99;
  UI_ProbeSend(bar, kSbmGetRange, reinterpret_cast<std::uintptr_t>(&low),
               reinterpret_cast<std::intptr_t>(&high));
  return {low, high};
}

// EM_GETSEL and CB_GETEDITSEL answer start and end in the two 16-bit halves.
std::pair<long, long> Halves(std::intptr_t v) {
  return {long(v & 0xffff), long((v >> 16) & 0xffff)};
}

std::pair<long, long> Ends(const CL_Interval& i) {
  return {i.Low(), i.High()};
}

// What reached a binding: origin's id and event type.
struct Seen {
  std::vector<std::pair<long, long>> events;
  bool On(const UI_Event& e) {
    events.push_back({e.Origin() ? e.Origin()->Id() : -1, e.Type()});
    return true;
  }
};

// An editor that takes no digits, types letters as capitals and refuses deletions while
// locked; it counts the changes made in the window.
class Shouting : public UI_StringEditor {
 public:
  using CL_Object::operator=;
  using UI_StringEditor::UI_StringEditor;
  bool AcceptChar(char16_t* c) override {
    if (*c >= u'0' && *c <= u'9') return false;
    if (*c >= u'a' && *c <= u'z') *c = char16_t(*c - u'a' + u'A');
    return true;
  }
  bool AllowDelete() override { return !locked; }
  void EditorHook() override { ++hooked; }
  bool locked = false;
  int hooked = 0;
};

class EditorsTest : public CollectWarnings {
 protected:
  void SetUp() override {
    CollectWarnings::SetUp();
    top_ = std::make_unique<UI_CompositeVObject>(nullptr, nullptr, false,
                                                 UI_Rectangle(30, 30, 420, 300), -1, "Editors");
    bar_ = new UI_VScrollBar(top_.get(), UI_Rectangle(390, 10, 16, 200), kBar);
    edit_ = new Shouting(top_.get(), UI_Rectangle(10, 10, 200, 22), kEdit, "hello world");
    combo_ = new UI_ComboBox(top_.get(), UI_Rectangle(10, 40, 200, 24), kCombo, 120, true);
    list_ = new UI_ComboBox(top_.get(), UI_Rectangle(220, 40, 150, 24), kList, 100, false);
    for (long t = Event_Scroll; t <= Event_ScrollToPosition; ++t)
      top_->AddEventBinding(t, UI_EventBinding1<Seen>(&above_, &Seen::On));
  }
  void TearDown() override {
    top_.reset();
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
  void Type(UI_NativeHandle h, const char* text) {
    for (const char* p = text; *p; ++p) UI_ProbeType(h, *p);
    UI_Controller::Instance().FlushEvents();
  }
  UI_NativeHandle ComboEdit(UI_ComboBox* c) {
    for (const UI_ProbeWindow& w : UI_ProbeChildren(c->Handle()))
      if (w.cls == "Edit") return w.handle;
    return nullptr;
  }
  std::unique_ptr<UI_CompositeVObject> top_;
  UI_ScrollBar* bar_ = nullptr;
  Shouting* edit_ = nullptr;
  UI_ComboBox* combo_ = nullptr;
  UI_ComboBox* list_ = nullptr;
  Seen above_;
};

TEST_F(EditorsTest, ScrollBarMovesItsIntervalByLinesAndPages) {
  // A page of ten in view before the window exists: the thumb's highest place is 91.
  bar_->View() = CL_Interval(0, 9);
  EXPECT_FALSE(bar_->SetLineAmount(0));
  EXPECT_FALSE(bar_->SetPageAmount(-5));
  ASSERT_TRUE(bar_->SetLineAmount(3));
  ASSERT_TRUE(top_->MakeVisualElement());
  EXPECT_EQ(NativeRange(bar_->Handle()), std::make_pair(0L, 91L));
  Seen clients;
  bar_->Clients().Add(UI_EventBinding1<Seen>(&clients, &Seen::On));

  struct Step {
    unsigned code;
    long thumb;
    std::pair<long, long> view;
    long event;
  } steps[] = {
      {kSbLineDown, 0, {3, 12}, Event_ScrollForwardLine},
      {kSbLineUp, 0, {0, 9}, Event_ScrollBackwardLine},
      {kSbLineUp, 0, {0, 9}, Event_ScrollBackwardLine},
      {kSbThumbPosition, 95, {91, 100}, Event_ScrollToPosition},
      {kSbThumbTrack, 50, {50, 59}, Event_Scroll},
      {kSbPageDown, 0, {60, 69}, Event_ScrollForwardPage},
      {kSbThumbPosition, 85, {85, 94}, Event_ScrollToPosition},
      {kSbPageDown, 0, {91, 100}, Event_ScrollForwardPage},
      {kSbPageDown, 0, {91, 100}, Event_ScrollForwardPage},
      {kSbPageUp, 0, {81, 90}, Event_ScrollBackwardPage},
      {kSbTop, 0, {0, 9}, Event_ScrollToBegin},
      {kSbBottom, 0, {91, 100}, Event_ScrollToEnd},
      {kSbEndScroll, 0, {91, 100}, Event_FinishScroll},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "code " << s.code << " thumb " << s.thumb);
    clients.events.clear();
    above_.events.clear();
    UI_ProbeScroll(bar_->Handle(), s.code, s.thumb);
    EXPECT_EQ(Ends(bar_->View()), s.view);
    EXPECT_EQ(UI_ProbeSend(bar_->Handle(), kSbmGetPos), s.view.first);
    // Told to the clients, then on to the ancestors.
    ASSERT_EQ(clients.events.size(), 1u);
    EXPECT_EQ(clients.events[0], std::make_pair(long(kBar), s.event));
    ASSERT_EQ(above_.events.size(), 1u);
    EXPECT_EQ(above_.events[0], std::make_pair(long(kBar), s.event));
  }

  // Model to window: the view, its length and the range each reach the control.
  bar_->View() = CL_Interval(20, 39);
  EXPECT_EQ(UI_ProbeSend(bar_->Handle(), kSbmGetPos), 20);
  EXPECT_EQ(NativeRange(bar_->Handle()), std::make_pair(0L, 81L));
  ASSERT_TRUE(bar_->SetRange(10, 500));
  EXPECT_EQ(NativeRange(bar_->Handle()), std::make_pair(10L, 481L));
  EXPECT_EQ(Ends(bar_->View()), std::make_pair(20L, 39L));
  // A range that leaves the view outside takes it in.
  bar_->Range() = CL_Interval(100, 200);
  EXPECT_EQ(Ends(bar_->View()), std::make_pair(100L, 119L));
  EXPECT_EQ(UI_ProbeSend(bar_->Handle(), kSbmGetPos), 100);
  EXPECT_FALSE(bar_->SetRange(5, 4));
  EXPECT_EQ(Ends(bar_->Range()), std::make_pair(100L, 200L));
  EXPECT_EQ(g_warnings.size(), 1u);
}

TEST_F(EditorsTest, ScrollBarThatDoesNotNotifyWhileTrackingTellsOnceAtTheEnd) {
  ASSERT_TRUE(top_->MakeVisualElement());
  bar_->View() = CL_Interval(0, 9);
  bar_->SetNotifyWhileTracking(false);
  Seen clients;
  bar_->Clients().Add(UI_EventBinding1<Seen>(&clients, &Seen::On));
  for (long thumb : {10, 20, 30}) UI_ProbeScroll(bar_->Handle(), kSbThumbTrack, thumb);
  // The thumb's place is still followed.
  EXPECT_EQ(Ends(bar_->View()), std::make_pair(30L, 39L));
  EXPECT_TRUE(clients.events.empty());
  EXPECT_EQ(above_.events.size(), 3u);  // the ancestors still see the drag
  UI_ProbeScroll(bar_->Handle(), kSbEndScroll);
  ASSERT_EQ(clients.events.size(), 1u);
  EXPECT_EQ(clients.events[0].second, Event_FinishScroll);
  EXPECT_EQ(above_.events.size(), 4u);
  EXPECT_EQ(Ends(bar_->View()), std::make_pair(30L, 39L));
}

TEST_F(EditorsTest, DraggedThumbReachesPlacesBeyondSixteenBits) {
  ASSERT_TRUE(top_->MakeVisualElement());
  ASSERT_TRUE(bar_->SetRange(0, 100000));
  Seen clients;
  bar_->Clients().Add(UI_EventBinding1<Seen>(&clients, &Seen::On));
  // Where the thumb is (SBM_GETSCROLLBARINFO: size, bar rectangle, arrow, thumb top and
  // bottom, ...), in the bar's own coordinates.
  std::int32_t info[15] = {60};
  ASSERT_NE(UI_ProbeSend(bar_->Handle(), 0x00EB, 0, reinterpret_cast<std::intptr_t>(info)), 0);
  long grab = (info[6] + info[7]) / 2, drop = 100;
  auto at = [](long y) { return std::intptr_t(8 | (y << 16)); };
  // The bar tracks the mouse in a loop of its own: the moves wait in the queue for it.
  UI_ProbePost(bar_->Handle(), 0x0200, 1, at(drop));  // WM_MOUSEMOVE, button down
  UI_ProbePost(bar_->Handle(), 0x0202, 0, at(drop));  // WM_LBUTTONUP
  UI_ProbeSend(bar_->Handle(), 0x0201, 1, at(grab));  // WM_LBUTTONDOWN on the thumb
  long p = bar_->Position();
  EXPECT_GT(p, 40000);
  EXPECT_LT(p, 60000);
  EXPECT_EQ(UI_ProbeSend(bar_->Handle(), kSbmGetPos), p);
  ASSERT_FALSE(clients.events.empty());
  EXPECT_EQ(clients.events.back().second, Event_FinishScroll);
}

TEST_F(EditorsTest, EditorSelectionInsertionPointAndLimitFollowBothWays) {
  EXPECT_EQ(Ends(edit_->Selection()), std::make_pair(-1L, -1L));
  // Limits: refused ones leave the one in force; one set before the window reaches it.
  struct {
    long n;
    bool ok;
    long kept;
  } limits[] = {
      {0, false, -1}, {-1, false, -1}, {32768, false, -1}, {20, true, 20}, {20, true, 20}};
  for (const auto& l : limits) {
    EXPECT_EQ(edit_->SetMaxChars(l.n), l.ok) << l.n;
    EXPECT_EQ(edit_->MaxChars(), l.kept) << l.n;
  }
  ASSERT_TRUE(top_->MakeVisualElement());
  EXPECT_EQ(UI_ProbeSend(edit_->Handle(), kEmGetLimitText), 20);
  EXPECT_TRUE(edit_->SetMaxChars(32767));
  EXPECT_EQ(UI_ProbeSend(edit_->Handle(), kEmGetLimitText), 32767);
  EXPECT_FALSE(edit_->SetMaxChars(40000));
  EXPECT_EQ(UI_ProbeSend(edit_->Handle(), kEmGetLimitText), 32767);

  // Model to window.
  edit_->Selection() = CL_Interval(6, 10);
  EXPECT_EQ(Halves(UI_ProbeSend(edit_->Handle(), kEmGetSel)), std::make_pair(6L, 11L));
  edit_->InsertionPoint() = 3;
  EXPECT_EQ(Halves(UI_ProbeSend(edit_->Handle(), kEmGetSel)), std::make_pair(3L, 3L));
  // Window to model.
  UI_ProbeSend(edit_->Handle(), kEmSetSel, 0, 5);
  EXPECT_EQ(Ends(edit_->Selection()), std::make_pair(0L, 4L));
  EXPECT_EQ(edit_->InsertionPoint().Value(), 5);
  // Reading the window back does not echo into it.
  EXPECT_EQ(Halves(UI_ProbeSend(edit_->Handle(), kEmGetSel)), std::make_pair(0L, 5L));
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(EditorsTest, EditorAsksOfEveryTypedCharacterAndDeletion) {
  ASSERT_TRUE(top_->MakeVisualElement());
  UI_NativeHandle h = edit_->Handle();
  edit_->Text() = "";
  EXPECT_EQ(edit_->hooked, 0);  // a change of the model is not the window's
  Type(h, "ab1c2");
  EXPECT_EQ(UI_ProbeInfo(h).text, "ABC");
  EXPECT_STREQ(edit_->Text().AsPtr(), "ABC");
  EXPECT_EQ(edit_->hooked, 3);

  struct {
    bool locked;
    long at;
    std::function<void()> key;
    const char* after;
  } deletions[] = {
      {true, 2, [&] { UI_ProbeSend(h, kWmChar, '\b', 1); }, "ABC"},
      {true, 1, [&] { UI_ProbeSend(h, kWmKeyDown, kVkDelete, 1); }, "ABC"},
      {false, 2, [&] { UI_ProbeSend(h, kWmChar, '\b', 1); }, "AC"},
      {false, 1, [&] { UI_ProbeSend(h, kWmKeyDown, kVkDelete, 1); }, "A"},
  };
  for (const auto& d : deletions) {
    SCOPED_TRACE(d.after);
    edit_->locked = d.locked;
    edit_->InsertionPoint() = d.at;
    d.key();
    EXPECT_EQ(UI_ProbeInfo(h).text, d.after);
    EXPECT_STREQ(edit_->Text().AsPtr(), d.after);
  }
}

TEST_F(EditorsTest, EditorOverAStringTheCallerKeeps) {
  CL_String name("Zoë");
  auto* e = new UI_StringEditor(top_.get(), name, UI_Rectangle(10, 200, 200, 22), kOwnModel);
  ASSERT_TRUE(top_->MakeVisualElement());
  EXPECT_EQ(UI_ProbeInfo(e->Handle()).text, "Zoë");
  name = "Ærø";
  EXPECT_EQ(UI_ProbeInfo(e->Handle()).text, "Ærø");
  UI_ProbeSetText(e->Handle(), "façade");
  EXPECT_STREQ(name.AsPtr(), "façade");
  delete e;
  // The editor is gone and no longer follows the string.
  EXPECT_EQ(name.Dependents() ? name.Dependents()->Size() : 0, 0);
  name = "after";
  EXPECT_STREQ(name.AsPtr(), "after");
}

TEST_F(EditorsTest, EditableComboBoxFieldDropDownAndLimit) {
  const char* fruit[] = {"apple", "pear", "plum", nullptr};
  combo_->Items() = CL_StringSequence(fruit, -1);
  combo_->EditText() = "typed before";
  EXPECT_TRUE(combo_->SetTextLimit(12));
  EXPECT_FALSE(combo_->SetTextLimit(70000));
  EXPECT_FALSE(combo_->ShowDropDown());  // no window yet
  auto* shorter = new UI_ComboBox(top_.get(), UI_Rectangle(10, 150, 200, 24), kOwnModel, 60, true);
  ASSERT_TRUE(top_->MakeVisualElement());
  UI_NativeHandle field = ComboEdit(combo_);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(UI_ProbeInfo(field).text, "typed before");
  EXPECT_EQ(UI_ProbeSend(field, kEmGetLimitText), 12);
  EXPECT_TRUE(combo_->SetTextLimit(40));
  EXPECT_EQ(UI_ProbeSend(field, kEmGetLimitText), 40);
  EXPECT_EQ(combo_->TextLimit(), 40);

  // The list height makes the dropped list's room: 120 pixels against another's 60.
  auto dropped = [](UI_ComboBox* c) {
    std::int32_t r[4] = {};
    UI_ProbeSend(c->Handle(), kCbGetDroppedControlRect, 0, reinterpret_cast<std::intptr_t>(r));
    return long(r[3] - r[1]);
  };
  EXPECT_GE(dropped(combo_), 120);
  EXPECT_EQ(dropped(combo_) - dropped(shorter), 60);

  // Model to window: the whole new text is selected, so typing replaces it.
  combo_->EditText() = "quince";
  EXPECT_EQ(UI_ProbeInfo(field).text, "quince");
  EXPECT_EQ(Halves(UI_ProbeSend(combo_->Handle(), kCbGetEditSel)), std::make_pair(0L, 6L));
  Type(field, "Fig");
  EXPECT_STREQ(combo_->EditText().AsPtr(), "Fig");
  EXPECT_EQ(combo_->Selection().Value(), -1);
  // Choosing an item puts it in the field and the model.
  UI_ProbeChooseItem(combo_->Handle(), 1);
  EXPECT_EQ(combo_->Selection().Value(), 1);
  EXPECT_STREQ(combo_->EditText().AsPtr(), "pear");

  EXPECT_TRUE(combo_->ShowDropDown());
  EXPECT_EQ(UI_ProbeSend(combo_->Handle(), kCbGetDroppedState), 1);
  EXPECT_TRUE(combo_->IsDroppedDown());
  EXPECT_TRUE(combo_->HideDropDown());
  EXPECT_EQ(UI_ProbeSend(combo_->Handle(), kCbGetDroppedState), 0);
  EXPECT_FALSE(combo_->IsDroppedDown());
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(EditorsTest, ListComboBoxFieldIsAlwaysAnItem) {
  const char* fruit[] = {"äpfel", "pear", "plum", nullptr};
  list_->Items() = CL_StringSequence(fruit, -1);
  ASSERT_TRUE(top_->MakeVisualElement());
  EXPECT_STREQ(list_->EditText().AsPtr(), "");  // nothing chosen
  struct {
    std::function<void()> act;
    long selection;
    const char* text;
  } steps[] = {
      {[&] { UI_ProbeChooseItem(list_->Handle(), 0); }, 0, "äpfel"},
      {[&] { list_->Selection() = 2; }, 2, "plum"},
      {[&] { list_->EditText() = "pear"; }, 1, "pear"},
      {[&] { list_->EditText() = "no such fruit"; }, -1, ""},
      {[&] { list_->Selection() = 7; }, -1, ""},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(list_->Selection().Value(), s.selection);
    EXPECT_EQ(UI_ProbeSend(list_->Handle(), kCbGetCurSel), s.selection);
    EXPECT_STREQ(list_->EditText().AsPtr(), s.text);
  }
}

}  // namespace
