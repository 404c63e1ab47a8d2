// The controller's window classes and handle tree, the application's answers, and the
// collections, composites and dialogs: their frames, size limits and closing rules, asked
// of Win32 itself. Runs under Xvfb.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"
#include "twcl/ui/probe_windows.h"

namespace {

using namespace ui_probe;

enum : long { kLabel = 10, kEdit = 11, kPanel = 20, kInner = 21, kInnerEdit = 22 };

const UI_ChildDescriptor kPanelTable[] = {
    {UI_KindLabel, kInner, 4, 4, 80, 20, false, "inner", nullptr},
    {UI_KindStringEditor, kInnerEdit, 4, 28, 100, 22, true, "Grüße", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};
const UI_ChildDescriptor kTable[] = {
    {UI_KindLabel, kLabel, 10, 10, 100, 20, false, "label", nullptr},
    {UI_KindStringEditor, kEdit, 10, 34, 120, 22, true, "édition", nullptr},
    {UI_KindComposite, kPanel, 10, 70, 160, 60, true, nullptr, kPanelTable},
    {UI_KindPushButton, 1, 10, 140, 80, 26, true, "OK", nullptr},
    {UI_KindPushButton, 2, 100, 140, 80, 26, true, "Cancel", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

// The one application of the program, made after the environment the test reads is set.
UI_Application& App() {
  static UI_Application* app = [] {
    ::setenv("TWUI_ACCENTED", "Grüße=ja", 1);
    return new UI_Application("windows_test", false);
  }();
  return *app;
}

class WindowsTest : public CollectWarnings {
 protected:
  void SetUp() override {
    App();
    CollectWarnings::SetUp();
  }
  void TearDown() override {
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
};

TEST_F(WindowsTest, TheFourWindowClassesAreRegisteredAsTheLibraryNamesThem) {
  const std::uint32_t redraw = kCsVRedraw | kCsHRedraw | kCsDblClks;
  struct Case {
    const char* name;
    std::uint32_t style;
    int background;
  } cases[] = {{"TWCLWindow", redraw, kColorWindow},
               {"TWCLSimpleVObj", redraw, kColorWindow},
               {"TWCLMDIFrame", 0, kColorAppWorkspace},
               {"TWCLMDIChild", 0, kColorAppWorkspace}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    UI_ProbeClassInfo i = UI_ProbeClass(k.name);
    ASSERT_TRUE(i.ok);
    EXPECT_EQ(i.style, k.style);
    EXPECT_EQ(i.background, k.background + 1);
    EXPECT_EQ(i.class_extra, 0);
    EXPECT_EQ(i.window_extra, 0);
    EXPECT_TRUE(i.icon);
    EXPECT_TRUE(i.cursor);
  }
  // Windows with children are of the library's class, controls of Win32's; a composite's
  // face stays the dialogs' although its class paints the window colour.
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(30, 30, 300, 200), -1, "Classes");
  ASSERT_TRUE(top.MakeVisualElement());
  EXPECT_EQ(UI_ProbeInfo(top.Handle()).cls, "TWCLWindow");
  EXPECT_EQ(UI_ProbeInfo(top.Child(kPanel)->Handle()).cls, "TWCLWindow");
  EXPECT_EQ(UI_ProbeInfo(top.Child(kLabel)->Handle()).cls, "Static");
  UI_BitmapData shot;
  UI_Controller::Instance().FlushEvents();
  ASSERT_TRUE(UI_ProbeCapture(top.Child(kPanel)->Handle(), &shot));
  ASSERT_EQ(shot.BitCount(), 24);
  EXPECT_EQ(shot.Pixels()[std::size_t((shot.Height() - 3) * shot.Width() + shot.Width() - 3)],
            UI_ProbeSysColor(kColorBtnFace));
  EXPECT_TRUE(g_warnings.empty());
}

// Counts the selections that reach it.
struct Counter {
  int n = 0;
  bool Count(const UI_Event&) {
    ++n;
    return false;
  }
};

// The node of a handle in the tree and the object it carries.
const CL_TreeNode* NodeOf(const UI_VisualObject* o) {
  return UI_Controller::Instance().HandleTree().Node(reinterpret_cast<CL_Word>(o->Handle()));
}

TEST_F(WindowsTest, TheHandleTreeMirrorsTheWindowsAndQuitRemovesAWholeSubtree) {
  UI_Controller& c = UI_Controller::Instance();
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(40, 40, 300, 200), -1, "Tree");
  ASSERT_TRUE(top.MakeVisualElement());
  UI_VisualObject* panel = top.Child(kPanel);
  UI_VisualObject* inner_edit = top.Child(kInnerEdit);
  struct Edge {
    UI_VisualObject *child, *parent;
  } edges[] = {{top.Child(kLabel), &top},  {top.Child(kEdit), &top}, {panel, &top},
               {top.Child(kInner), panel}, {inner_edit, panel},      {top.Child(1), &top}};
  ASSERT_NE(NodeOf(&top), nullptr);
  EXPECT_EQ(NodeOf(&top)->Parent(), c.HandleTree().Root());
  EXPECT_EQ(NodeOf(&top)->Content(), reinterpret_cast<CL_Word>(&top));
  for (const auto& e : edges) {
    SCOPED_TRACE(e.child->Id());
    ASSERT_NE(NodeOf(e.child), nullptr);
    EXPECT_EQ(NodeOf(e.child)->Parent(), NodeOf(e.parent));
    EXPECT_EQ(NodeOf(e.child)->Content(), reinterpret_cast<CL_Word>(e.child));
  }

  // A child made under a window that exists gets its own window from the loop.
  auto* late = new UI_Label(panel, UI_Rectangle(90, 4, 60, 20), 23, "late");
  EXPECT_EQ(late->Handle(), nullptr);
  c.FlushEvents();
  ASSERT_NE(late->Handle(), nullptr);
  EXPECT_EQ(UI_ProbeInfo(late->Handle()).text, "late");
  EXPECT_EQ(NodeOf(late)->Parent(), NodeOf(panel));

  // Quitting the panel deletes it and everything in it; the rest stays and works.
  UI_NativeHandle gone[] = {panel->Handle(), top.Child(kInner)->Handle(), inner_edit->Handle(),
                            late->Handle()};
  // An event posted after the quit finds its object gone and reaches no handler.
  Counter selected;
  inner_edit->AddEventBinding(Event_Select, UI_EventBinding1<Counter>(&selected, &Counter::Count));
  App().Destroy(panel);
  c.PostSoftEvent(UI_Event(Event_Select, inner_edit, inner_edit));
  c.FlushEvents();
  EXPECT_EQ(selected.n, 0);
  for (UI_NativeHandle h : gone) {
    EXPECT_FALSE(UI_ProbeIsWindow(h));
    EXPECT_EQ(c.ObjectFor(h), nullptr);
    EXPECT_EQ(c.HandleTree().Node(reinterpret_cast<CL_Word>(h)), nullptr);
  }
  EXPECT_EQ(top.FindChild(kPanel), nullptr);
  EXPECT_EQ(top.FindChild(kInnerEdit), nullptr);
  EXPECT_EQ(top.Children().size(), 4u);
  EXPECT_TRUE(UI_ProbeIsWindow(top.Child(kEdit)->Handle()));
  UI_ProbeSetText(top.Child(kEdit)->Handle(), "still here");
  EXPECT_STREQ(top.Child(kEdit)->Title().AsPtr(), "still here");

  // Quitting the program's own top window takes its window and its children; the object
  // is the program's to delete.
  UI_NativeHandle top_window = top.Handle();
  App().Destroy(&top);
  c.FlushEvents();
  EXPECT_FALSE(UI_ProbeIsWindow(top_window));
  EXPECT_EQ(top.Handle(), nullptr);
  EXPECT_TRUE(top.Children().empty());
  EXPECT_EQ(c.HandleTree().Node(reinterpret_cast<CL_Word>(top_window)), nullptr);
  EXPECT_TRUE(g_warnings.empty());
}

// A window of the library's frame class, or of its document class under a frame.
class MDIWindow : public UI_CompositeVObject {
 public:
  using CL_Object::operator=;
  MDIWindow(UI_VisualObject* parent, const UI_ChildDescriptor* table, const UI_Rectangle& r,
            const char* title)
      : UI_CompositeVObject(parent, table, parent != nullptr, r, -1, title) {}

 protected:
  const char* NativeClass() const override { return parent_ ? UI_MDIChildClass : UI_MDIFrameClass; }
};

bool HasChild(UI_NativeHandle parent, UI_NativeHandle child) {
  for (const UI_ProbeWindow& w : UI_ProbeChildren(parent))
    if (w.handle == child) return true;
  return false;
}

TEST_F(WindowsTest, AFrameHoldsItsDocumentsAndTheLoopGivesThemTheFramesKeys) {
  UI_Controller& c = UI_Controller::Instance();
  MDIWindow frame(nullptr, nullptr, UI_Rectangle(30, 30, 420, 320), "Frame");
  ASSERT_TRUE(frame.MakeVisualElement());
  UI_NativeHandle client = frame.MDIClient();
  ASSERT_NE(client, nullptr);
  EXPECT_STRCASEEQ(UI_ProbeInfo(client).cls.c_str(), "MDIClient");
  UI_ProbeSize area = UI_ProbeClientSize(frame.Handle());
  EXPECT_EQ(UI_ProbeInfo(client).width, area.width);
  EXPECT_EQ(UI_ProbeInfo(client).height, area.height);

  // Documents made after the frame get their windows from the loop, inside the client
  // window, with their own children; the newest is the active one.
  auto* first =
      new MDIWindow(&frame, kPanelTable, UI_Rectangle(10, 10, 200, 120), "Erste Übersicht");
  auto* second = new MDIWindow(&frame, nullptr, UI_Rectangle(40, 40, 200, 120), "Second");
  c.FlushEvents();
  ASSERT_NE(first->Handle(), nullptr);
  ASSERT_NE(second->Handle(), nullptr);
  for (MDIWindow* d : {first, second}) {
    EXPECT_TRUE(HasChild(client, d->Handle()));
    EXPECT_EQ(UI_ProbeInfo(d->Handle()).cls, "TWCLMDIChild");
    EXPECT_EQ(c.ObjectFor(d->Handle()), d);
    ASSERT_NE(NodeOf(d), nullptr);
    EXPECT_EQ(NodeOf(d)->Parent(), NodeOf(&frame));
  }
  EXPECT_EQ(UI_ProbeInfo(first->Handle()).text, "Erste Übersicht");
  ASSERT_NE(first->FindChild(kInnerEdit), nullptr);
  EXPECT_TRUE(HasChild(first->Handle(), first->FindChild(kInnerEdit)->Handle()));
  EXPECT_EQ(UI_ProbeSend(client, kWmMDIGetActive),
            reinterpret_cast<std::intptr_t>(second->Handle()));

  // Only a frame that is the main window gets the frame's keys from the loop.
  EXPECT_FALSE(c.MDI());
  App().MakeTopWindow(&frame);
  EXPECT_TRUE(c.MDI());
  UI_ProbeHoldControl(true);
  UI_ProbePost(second->Handle(), kWmKeyDown, kVkF6, 1);
  c.FlushEvents();
  EXPECT_EQ(UI_ProbeSend(client, kWmMDIGetActive),
            reinterpret_cast<std::intptr_t>(first->Handle()));
  // Ctrl+F4 asks the active document to close: it goes with its children, the other one
  // becomes active.
  UI_NativeHandle first_window = first->Handle();
  UI_ProbePost(first_window, kWmKeyDown, kVkF4, 1);
  c.FlushEvents();
  UI_ProbeHoldControl(false);
  EXPECT_FALSE(UI_ProbeIsWindow(first_window));
  EXPECT_EQ(frame.FindChild(kInnerEdit), nullptr);
  ASSERT_EQ(frame.Children().size(), 1u);
  EXPECT_EQ(UI_ProbeSend(client, kWmMDIGetActive),
            reinterpret_cast<std::intptr_t>(second->Handle()));

  // Quitting the frame takes its client window and its documents.
  UI_NativeHandle second_window = second->Handle();
  App().Destroy(&frame);
  c.FlushEvents();
  EXPECT_FALSE(UI_ProbeIsWindow(second_window));
  EXPECT_FALSE(UI_ProbeIsWindow(client));
  EXPECT_EQ(frame.MDIClient(), nullptr);
  EXPECT_EQ(c.Root(), nullptr);
  EXPECT_FALSE(c.MDI());
  EXPECT_TRUE(g_warnings.empty());
}

// A native multi-line edit control.
class MultiLineEdit : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  MultiLineEdit(UI_VisualObject* parent, const UI_Rectangle& r, long id)
      : UI_VisualObject(parent, r, id) {}

 protected:
  const char* NativeClass() const override { return "edit"; }
  std::uint32_t NativeStyle() const override {
    return kWsChild | kWsVisible | kEsMultiline | kEsAutoVScroll | kEsWantReturn;
  }
};

TEST_F(WindowsTest, NativeControlsGetTheKeysTheyUseAndTellOfClicks) {
  UI_Controller& c = UI_Controller::Instance();
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(50, 50, 320, 200), -1, "Keys");
  ASSERT_TRUE(top.MakeVisualElement());
  auto* multi = new MultiLineEdit(&top, UI_Rectangle(190, 10, 120, 60), 30);
  c.FlushEvents();
  ASSERT_NE(multi->Handle(), nullptr);
  UI_VisualObject* single = top.Child(kEdit);

  // Enter reaches a multi-line edit control, never a single-line one, nor does TAB (which
  // moves the focus to the next control); the window that holds them hears of each key
  // after its focus handler, which uses the TAB up.
  struct Typed {
    int n = 0;
    bool Count(const UI_Event&) { return ++n, true; }  // lets the key go on
  } typed;
  top.AddEventBinding(Event_KeyTyped, UI_EventBinding1<Typed>(&typed, &Typed::Count));
  struct Case {
    UI_VisualObject* edit;
    const char* reaches;
  } cases[] = {{single, "x"}, {multi, "\rx"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.edit->Id());
    UI_ProbeWatchChars(k.edit->Handle());
    typed.n = 0;
    for (char key : {'\t', '\r', 'x'}) UI_ProbePost(k.edit->Handle(), kWmChar, key, 1);
    c.FlushEvents();
    EXPECT_EQ(UI_ProbeCharsSeen(k.edit->Handle()), k.reaches);
    EXPECT_EQ(typed.n, 2);
  }

  // A click on a button: the button loses the focus it had, then is selected, once each.
  struct Order {
    std::vector<long> types;
    bool Note(const UI_Event& e) { return types.push_back(e.Type()), true; }
  } order;
  UI_VisualObject* ok = top.Child(1);
  for (long t : {Event_LoseFocus, Event_Select})
    ok->AddEventBinding(t, UI_EventBinding1<Order>(&order, &Order::Note));
  UI_ProbeClick(ok->Handle());
  c.FlushEvents();
  EXPECT_EQ(order.types, (std::vector<long>{Event_LoseFocus, Event_Select}));
  EXPECT_TRUE(g_warnings.empty());
}

// A button whose handler quits the panel it lies in and then lets the loop run, as the
// installer's runs do between their steps.
struct Closer {
  UI_VisualObject* panel = nullptr;
  UI_VisualObject* button = nullptr;
  bool alive_after_flush = false;
  bool Close(const UI_Event&) {
    App().Destroy(panel);
    UI_Controller::Instance().FlushEvents();
    alive_after_flush = UI_ProbeIsWindow(button->Handle()) && button->Title() == "Close";
    return false;
  }
};

TEST_F(WindowsTest, AQuitWaitsForTheHandlersRunningInItsSubtree) {
  UI_Controller& c = UI_Controller::Instance();
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(60, 60, 300, 200), -1, "Busy");
  ASSERT_TRUE(top.MakeVisualElement());
  Closer closer;
  closer.panel = top.Child(kPanel);
  closer.button = new UI_PushButton(closer.panel, UI_Rectangle(110, 4, 44, 22), 24, "Close");
  c.FlushEvents();
  ASSERT_NE(closer.button->Handle(), nullptr);
  closer.button->AddEventBinding(Event_Select, UI_EventBinding1<Closer>(&closer, &Closer::Close));
  UI_NativeHandle panel_window = closer.panel->Handle();
  UI_ProbePostClick(closer.button->Handle());
  c.FlushEvents();
  EXPECT_TRUE(closer.alive_after_flush);
  EXPECT_FALSE(UI_ProbeIsWindow(panel_window));
  EXPECT_EQ(top.FindChild(kPanel), nullptr);
  EXPECT_EQ(top.FindChild(24), nullptr);
  EXPECT_TRUE(g_warnings.empty());
}

// A button whose handler asks its window to close, as a close box would.
struct CloseAsker {
  UI_VisualObject* window = nullptr;
  bool Ask(const UI_Event&) {
    UI_ProbeSend(window->Handle(), kWmClose);
    return false;
  }
};

TEST_F(WindowsTest, AWindowDoesNotCloseUnderAHandlerRunningInsideIt) {
  UI_Controller& c = UI_Controller::Instance();
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(70, 70, 300, 200), -1, "Ask");
  ASSERT_TRUE(top.MakeVisualElement());
  CloseAsker asker;
  asker.window = &top;
  UI_VisualObject* ok = top.Child(1);
  ok->AddEventBinding(Event_Select, UI_EventBinding1<CloseAsker>(&asker, &CloseAsker::Ask));
  UI_ProbeClick(ok->Handle());
  c.FlushEvents();
  EXPECT_TRUE(UI_ProbeIsWindow(top.Handle()));
  EXPECT_TRUE(c.HandlerStack().empty());
  // Asked from outside, it closes.
  UI_NativeHandle window = top.Handle();
  UI_ProbeSend(window, kWmClose);
  c.FlushEvents();
  EXPECT_FALSE(UI_ProbeIsWindow(window));
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(WindowsTest, TheApplicationAnswersItsNamesTheScreenAndTheEnvironment) {
  UI_Application& app = App();
  struct Line {
    const char* command_line;
    const char* name;
    const char* capitalized;
  } lines[] = {{"instgui.exe QUILBOX", "instgui.exe", "Instgui.exe"},
               {" \t\tétape  -x", "étape", "étape"},
               {"Setup", "Setup", "Setup"}};
  for (const auto& l : lines) {
    SCOPED_TRACE(l.command_line);
    EXPECT_TRUE(app.Initialize(l.command_line));
    EXPECT_STREQ(app.ProgramName().AsPtr(), l.name);
    EXPECT_STREQ(app.ProgramName(true).AsPtr(), l.capitalized);
  }

  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(50, 60, 300, 200), -1, "Names");
  ASSERT_TRUE(top.MakeVisualElement());
  std::string first = app.UniqueName(top).AsPtr();
  std::string second = app.UniqueName(*top.Child(kEdit)).AsPtr();
  long n = std::atol(first.substr(first.rfind('_') + 1).c_str());
  EXPECT_EQ(first, "UI_CompositeVObject_-1_" + std::to_string(n));
  EXPECT_EQ(second, "UI_StringEditor_11_" + std::to_string(n + 1));

  UI_ProbeSize screen = UI_ProbeScreenSize();
  UI_Rectangle s = app.ScreenShape();
  EXPECT_EQ(s.Left(), 0);
  EXPECT_EQ(s.Top(), 0);
  EXPECT_EQ(s.Width(), screen.width);
  EXPECT_EQ(s.Height(), screen.height);

  long x = 5, y = 7;
  UI_ProbeClientToScreen(top.Child(kPanel)->Handle(), x, y);
  UI_Point p = app.ToScreen(UI_Point(5, 7), top.Child(kPanel));
  EXPECT_EQ(p.XCoord(), x);
  EXPECT_EQ(p.YCoord(), y);
  EXPECT_GT(p.XCoord(), 50);
  EXPECT_EQ(app.ToScreen(UI_Point(5, 7), nullptr), UI_Point(0, 0));

  UI_ProbeSetLastError(2);
  std::string text = app.Win32ErrorText().AsPtr();
  EXPECT_EQ(text.rfind("Win32 error code 2: ", 0), 0u) << text;
  EXPECT_GT(text.size(), std::string("Win32 error code 2: ").size()) << text;

  // The value is all after the first "=", accents and further "=" included.
  const CL_StringStringMap& env = app.Environment();
  ASSERT_TRUE(env.IncludesKey(CL_String("TWUI_ACCENTED")));
  EXPECT_STREQ(const_cast<CL_StringStringMap&>(env)[CL_String("TWUI_ACCENTED")].AsPtr(),
               "Grüße=ja");
  if (const char* build = std::getenv("TW_BUILD_DIR")) {
    EXPECT_STREQ(const_cast<CL_StringStringMap&>(env)[CL_String("TW_BUILD_DIR")].AsPtr(), build);
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(WindowsTest, MinimumAndMaximumSizesHold) {
  // A dialog answers Win32's question for its limits.
  UI_Dialog dlg(nullptr, UI_Rectangle(60, 60, 320, 220), "Limits", kTable);
  dlg.SetMinWidth(300);
  dlg.SetMinHeight(200);
  dlg.SetMaxWidth(640);
  dlg.SetMaxHeight(100000);  // beyond 16 bits: held at the end
  ASSERT_TRUE(dlg.MakeVisualElement());
  UI_ProbeTrackSizes t = UI_ProbeMinMax(dlg.Handle());
  EXPECT_EQ(t.min_width, 300);
  EXPECT_EQ(t.min_height, 200);
  EXPECT_EQ(t.max_width, 640);
  EXPECT_EQ(t.max_height, 32767);

  // A window whose frame the user can drag: Win32 holds its size within the limits when it
  // is made and when the user sizes it.
  struct Case {
    const char* what;
    long width, height;
    bool right_edge;
    int steps;
    long min_w, min_h, max_w, max_h;
    long width_after;  // 0: not looked at
  } cases[] = {
      {"made too small, shrunk further", 120, 80, true, -20, 320, 240, 32767, 32767, 320},
      {"made too large", 900, 700, true, -1, 0, 0, 500, 400, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    UI_CompositeVObject w(nullptr, kTable, false, UI_Rectangle(40, 40, k.width, k.height), -1,
                          k.what);
    w.SetMinWidth(k.min_w);
    w.SetMinHeight(k.min_h);
    w.SetMaxWidth(k.max_w);
    w.SetMaxHeight(k.max_h);
    ASSERT_TRUE(w.MakeVisualElement());
    auto check = [&k](const UI_ProbeWindow& i) {
      EXPECT_GE(i.width, k.min_w);
      EXPECT_GE(i.height, k.min_h);
      EXPECT_LE(i.width, k.max_w);
      EXPECT_LE(i.height, k.max_h);
    };
    check(UI_ProbeInfo(w.Handle()));
    UI_ProbeKeyboardSize(w.Handle(), k.right_edge, k.steps);
    UI_ProbeWindow after = UI_ProbeInfo(w.Handle());
    check(after);
    if (k.width_after) {
      EXPECT_EQ(after.width, k.width_after);
    }
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(WindowsTest, FrameDecorationComesAndGoes) {
  constexpr std::uint32_t kWsDlgFrame = 0x00400000;
  const std::uint32_t deco = kWsCaption | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox;
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(70, 70, 300, 200), -1, "Frame");
  ASSERT_TRUE(top.MakeVisualElement());
  auto* panel = dynamic_cast<UI_CompositeVObject*>(top.Child(kPanel));
  ASSERT_NE(panel, nullptr);
  struct Step {
    const char* what;
    std::function<bool()> act;
    UI_CompositeVObject* o;
    bool decorated;
    std::uint32_t on, off;
  } steps[] = {
      {"top as made", [] { return true; }, &top, true, deco, kWsPopup},
      {"panel as made", [] { return true; }, panel, false, 0, deco},
      {"top undecorated", [&] { return top.UndecorateFrame(); }, &top, false, kWsPopup | kWsBorder,
       kWsDlgFrame | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox},
      {"top decorated again", [&] { return top.DecorateFrame(); }, &top, true, deco, kWsPopup},
      {"panel decorated", [&] { return panel->DecorateFrame(); }, panel, true, deco | kWsChild,
       kWsPopup},
      {"panel undecorated", [&] { return panel->UndecorateFrame(); }, panel, false, kWsChild,
       kWsDlgFrame | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox | kWsPopup},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    UI_ProbeSize before = UI_ProbeClientSize(s.o->Handle());
    UI_ProbeWindow frame_before = UI_ProbeInfo(s.o->Handle());
    ASSERT_TRUE(s.act());
    UI_ProbeWindow i = UI_ProbeInfo(s.o->Handle());
    EXPECT_EQ(s.o->IsDecorated(), s.decorated);
    EXPECT_EQ(i.style & s.on, s.on);
    EXPECT_EQ(i.style & s.off, 0u);
    // The window keeps its place and size; its client area gives or takes the caption.
    EXPECT_EQ(i.width, frame_before.width);
    EXPECT_EQ(i.height, frame_before.height);
    UI_ProbeSize after = UI_ProbeClientSize(s.o->Handle());
    bool had = (frame_before.style & kWsCaption) == kWsCaption;
    bool has = (i.style & kWsCaption) == kWsCaption;
    if (had && !has) {
      EXPECT_GT(after.height, before.height);
    }
    if (!had && has) {
      EXPECT_LT(after.height, before.height);
    }
  }
  EXPECT_TRUE(g_warnings.empty());
}

// Answers what the test says and counts the questions.
struct Veto {
  bool answer = false;
  int asked = 0;
  bool Ask() {
    ++asked;
    return answer;
  }
};

TEST_F(WindowsTest, TheVetoBindingKeepsTheDialogOpenOnlyForTheDefaultId) {
  struct Case {
    const char* what;
    bool answer;
    std::function<void(UI_Dialog&)> act;
    long id;
    int asked;
  } cases[] = {
      {"OK vetoed, then Cancel", false,
       [](UI_Dialog& d) {
         UI_ProbePostClick(d.Child(1)->Handle());
         UI_ProbePostClick(d.Child(2)->Handle());
       },
       2, 1},
      {"OK allowed", true, [](UI_Dialog& d) { UI_ProbePostClick(d.Child(1)->Handle()); }, 1, 1},
      {"Enter is not asked about", false,
       [](UI_Dialog& d) { UI_ProbeType(d.Child(kEdit)->Handle(), '\r'); }, 1, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Veto veto{k.answer};
    CL_Binding0<Veto> binding(&veto, &Veto::Ask);
    UI_Dialog dlg(nullptr, UI_Rectangle(80, 80, 320, 220), k.what, kTable, nullptr, 1, &binding);
    ASSERT_TRUE(dlg.MakeVisualElement());
    k.act(dlg);
    std::pair<long, long> r = dlg.ExecuteModal();
    EXPECT_EQ(r.first, k.id);
    EXPECT_EQ(r.second, Event_Select);
    EXPECT_EQ(veto.asked, k.asked);
  }
  // The closing events are records ordered by id, then type.
  struct Pair {
    DialogEvent a, b;
    short order;
  } pairs[] = {{{1, Event_Select}, {2, Event_Select}, -1},
               {{2, Event_Select}, {2, Event_KeyTyped}, Event_Select < Event_KeyTyped ? -1 : 1},
               {{3, Event_Select}, {3, Event_Select}, 0}};
  for (const auto& p : pairs) EXPECT_EQ(p.a.Compare(p.b), p.order) << p.a.AsString().AsPtr();
  UI_Dialog plain(nullptr, UI_Rectangle(80, 80, 320, 220), "Pairs", kTable);
  EXPECT_FALSE(plain.AddCloseEvent(1, Event_Select));  // already there
  EXPECT_TRUE(plain.RemoveCloseEvent(1, Event_Select));
  EXPECT_FALSE(plain.RemoveCloseEvent(1, Event_Select));
  EXPECT_TRUE(g_warnings.empty()) << g_warnings.front();
}

TEST_F(WindowsTest, ACollectionKnowsItsChildrenAndTheirModelsById) {
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(90, 90, 300, 200), -1, "Models");
  auto* panel = dynamic_cast<UI_CompositeVObject*>(top.ChildWithId(kPanel));
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(top.ChildWithId(kInner), nullptr);  // a grandchild is its panel's
  EXPECT_EQ(panel->ChildWithId(kInner), top.Child(kInner));
  auto* models = dynamic_cast<CL_IntPtrMap*>(top.Model());
  ASSERT_NE(models, nullptr);
  for (long id : {long(kLabel), long(kEdit), long(kPanel), 1L, 2L}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(models->IncludesKey(CL_Word(id)));
    EXPECT_EQ((*models)[CL_Word(id)], top.ChildWithId(id)->Model());
  }
  EXPECT_STREQ(static_cast<CL_String*>((*models)[CL_Word(kEdit)])->AsPtr(), "édition");
  delete top.ChildWithId(kEdit);
  EXPECT_EQ(top.ChildWithId(kEdit), nullptr);
  EXPECT_FALSE(dynamic_cast<CL_IntPtrMap*>(top.Model())->IncludesKey(CL_Word(kEdit)));
  EXPECT_STREQ(top.ClassName(), "UI_CompositeVObject");
  EXPECT_TRUE(g_warnings.empty());

  // A table that repeats an id ends before the repeat, with one warning.
  const UI_ChildDescriptor twice[] = {{UI_KindLabel, 5, 0, 0, 50, 20, false, "first", nullptr},
                                      {UI_KindLabel, 5, 0, 30, 50, 20, false, "again", nullptr},
                                      {UI_KindLabel, 6, 0, 60, 50, 20, false, "never", nullptr},
                                      {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};
  UI_CompositeVObject repeated(nullptr, twice, false, UI_Rectangle(0, 0, 100, 100));
  EXPECT_EQ(repeated.Children().size(), 1u);
  EXPECT_EQ(repeated.ChildWithId(6), nullptr);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "TWCL: Duplicate child id 5 for composite");
}

TEST_F(WindowsTest, WhileWaitingNoEventReachesAHandler) {
  UI_Controller& c = UI_Controller::Instance();
  UI_CompositeVObject top(nullptr, kTable, false, UI_Rectangle(100, 100, 300, 200), -1, "Wait");
  // Objects made before the window exists wait in the queue for it.
  for (long id : {30L, 31L}) new UI_Label(&top, UI_Rectangle(200, id - 20, 60, 20), id, "queued");
  // The table's five children and the two labels; the window itself has no parent.
  EXPECT_EQ(c.CountPending(Event_MakeInterface, &top), 7);
  EXPECT_EQ(c.CountPending(Event_MakeInterface, nullptr), 1);
  ASSERT_TRUE(top.MakeVisualElement());
  c.FlushEvents();
  EXPECT_EQ(c.CountPending(Event_MakeInterface, &top), 0);

  Counter count;
  UI_VisualObject* ok = top.Child(1);
  ok->AddEventBinding(Event_Select, UI_EventBinding1<Counter>(&count, &Counter::Count));
  auto click = [&] {
    UI_ProbePost(ok->Handle(), 0x0201, 1, 0x00050005);  // WM_LBUTTONDOWN
    UI_ProbePost(ok->Handle(), 0x0202, 0, 0x00050005);  // WM_LBUTTONUP
    UI_ProbePost(ok->Handle(), kWmChar, ' ', 0);
    c.PostSoftEvent(UI_Event(Event_Select, ok, ok));
  };
  c.BeginWait();
  EXPECT_TRUE(c.Waiting());
  click();
  c.FlushEvents();
  EXPECT_EQ(count.n, 0);
  c.EndWait();
  click();
  c.FlushEvents();
  EXPECT_GE(count.n, 2);  // the click's and the posted one

  UI_Event taken(Event_None, nullptr);
  c.PostSoftEvent(UI_Event(Event_Select, ok, ok));
  ASSERT_TRUE(c.TakeEvent(taken));
  EXPECT_EQ(taken.Type(), Event_Select);
  EXPECT_EQ(taken.Origin(), ok);
  EXPECT_FALSE(c.TakeEvent(taken));
  EXPECT_TRUE(g_warnings.empty());
}

std::vector<std::string> g_fatal;
bool CollectFatal(const char* text) {
  g_fatal.emplace_back(text);
  return false;  // the test goes on
}

TEST_F(WindowsTest, RunEndsWhenTheMainWindowQuits) {
  UI_Controller& c = UI_Controller::Instance();
  ASSERT_EQ(c.Root(), nullptr);
  EXPECT_FALSE(c.Run());
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "UI_Controller::Run: no root window");
  g_warnings.clear();

  UI_CompositeVObject main(nullptr, kTable, false, UI_Rectangle(110, 110, 300, 200), -1, "");
  UI_CompositeVObject other(nullptr, kTable, false, UI_Rectangle(120, 120, 300, 200), -1, "x");
  App().MakeTopWindow(&main);
  EXPECT_EQ(App().Root(), &main);
  EXPECT_STREQ(main.Title().AsPtr(), "TWCLWindow");
  CL_ErrorHandler old = CL_Error::SetFatalHandler(CollectFatal);
  App().MakeTopWindow(&other);
  { UI_Application second("second", false); }
  CL_Error::SetFatalHandler(old);
  EXPECT_EQ(UI_Application::Instance(), &App());
  ASSERT_EQ(g_fatal.size(), 2u);
  EXPECT_EQ(g_fatal[0], "Attempt to create two top windows.");
  EXPECT_EQ(g_fatal[1],
            "Application constructor: attempt to constructmore than one Application object!");
  EXPECT_EQ(App().Root(), &main);
  ASSERT_TRUE(main.MakeVisualElement());
  ASSERT_TRUE(other.MakeVisualElement());

  // The pointer moving from one label to the other: each hears of it.
  struct Views {
    int enter = 0, leave = 0;
    bool Enter(const UI_Event&) { return ++enter, false; }
    bool Leave(const UI_Event&) { return ++leave, false; }
  } a, b;
  UI_VisualObject* la = main.Child(kLabel);
  UI_VisualObject* lb = main.Child(kInner);
  for (auto [o, v] : {std::pair(la, &a), std::pair(lb, &b)}) {
    o->AddEventBinding(Event_ViewEnter, UI_EventBinding1<Views>(v, &Views::Enter));
    o->AddEventBinding(Event_ViewLeave, UI_EventBinding1<Views>(v, &Views::Leave));
  }
  UI_ProbePost(la->Handle(), 0x0200, 0, 0x00030003);  // WM_MOUSEMOVE
  UI_ProbePost(la->Handle(), 0x0200, 0, 0x00040004);
  UI_ProbePost(lb->Handle(), 0x0200, 0, 0x00030003);
  c.FlushEvents();
  EXPECT_EQ(a.enter, 1);
  EXPECT_EQ(a.leave, 1);
  EXPECT_EQ(b.enter, 1);
  EXPECT_EQ(b.leave, 0);
  EXPECT_EQ(c.PointerObject(), lb);

  // Quitting the main window ends the run; the other window stays.
  App().Quit();
  EXPECT_EQ(App().Run(), 0);
  EXPECT_EQ(c.Root(), nullptr);
  EXPECT_EQ(main.Handle(), nullptr);
  EXPECT_EQ(c.PointerObject(), nullptr);
  EXPECT_TRUE(UI_ProbeIsWindow(other.Handle()));
  EXPECT_TRUE(g_warnings.empty());
}

}  // namespace
