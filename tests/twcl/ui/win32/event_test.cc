// Events on Wine's Win32: the record and its text form, the bindings that take events, the
// order in which an object's handler, its bindings and its ancestors see an event, the per-event
// operations that native messages reach, closing, and the background a window paints. Runs under
// Xvfb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/composite.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

constexpr std::uint32_t kWmMove = 0x0003, kWmRButtonDown = 0x0204, kWmMButtonDblClk = 0x0209;

std::intptr_t Point(int x, int y) {
  return std::intptr_t((y & 0xffff) << 16 | (x & 0xffff));
}

// Events from and to no object, as the controller makes them before an object is found.

TEST(EventRecordTest, TextFormWithoutObjects) {
  struct Case {
    long type;
    UI_Rectangle shape;
    long param;
    const char* text;
  } cases[] = {
      {Event_None, {}, 0, "Event_None from id -1000 (\?\?) to id -1000"},
      {Event_Select, {}, 9, "Event_Select from id -1000 (\?\?) to id -1000"},
      {Event_Other, {}, 0, "Event_Other from id -1000 (\?\?) to id -1000"},
      {40, {}, 0, "Unknown type from id -1000 (\?\?) to id -1000"},
      {-1, {}, 0, "Unknown type from id -1000 (\?\?) to id -1000"},
      {Event_Reconfigure,
       {-5, 7, 640, 480},
       0,
       "Event_Reconfigure from id -1000 (\?\?) to id -1000 shape (-5, 7, 640, 480)"},
      {Event_MouseMove,
       {-3, 32767, 0, 0},
       0,
       "Event_MouseMove from id -1000 (\?\?) to id -1000 position (-3, 32767)"},
      {Event_Scroll, {}, -120, "Event_Scroll from id -1000 (\?\?) to id -1000 amount -120"},
      // Only a plain scroll tells its amount.
      {Event_ScrollToPosition, {}, 40, "Event_ScrollToPosition from id -1000 (\?\?) to id -1000"},
  };
  for (const Case& c : cases) {
    UI_Event e(c.type, nullptr);
    e.shape = c.shape;
    e.param = c.param;
    EXPECT_STREQ(e.AsString().AsPtr(), c.text) << c.type;
  }
}

TEST(EventRecordTest, SoftFlagKeyAndClassFollowTheFields) {
  EXPECT_FALSE(UI_Event(Event_Deiconify, nullptr).IsSoft());  // 31
  EXPECT_TRUE(UI_Event(Event_FirstSoftEvent, nullptr).IsSoft());
  EXPECT_TRUE(UI_Event(Event_Other, nullptr).IsSoft());
  UI_Event e(Event_KeyTyped, nullptr);
  EXPECT_EQ(e.Destination(), nullptr);
  e.key = '\xe9';  // a Latin-1 e acute arrives as a byte above 127
  EXPECT_EQ(e.Key(), -23);
  e.key = 'Q';
  EXPECT_EQ(e.Key(), 'Q');
  // An event keeps the root's class name and id.
  EXPECT_STREQ(e.ClassName(), "CL_Object");
  EXPECT_EQ(e.ClassId(), 1);
}

TEST(EventRecordTest, CopiesOwnTheirNativeMessage) {
  const UI_NativeMessage m{reinterpret_cast<UI_NativeHandle>(0x1234), 0x0201, 1, -1, 99, -4, 5};
  UI_Event e(Event_LButtonPress, nullptr, nullptr, &m);
  e.shape = UI_Rectangle(-4, 5, 0, 0);
  e.shift = e.control = true;
  e.param = 77;
  UI_Event copy(e);
  UI_Event assigned(Event_None, nullptr);
  assigned = e;
  for (const UI_Event* c : {&copy, &assigned}) {
    ASSERT_NE(c->Native(), nullptr);
    EXPECT_NE(c->Native(), e.Native());
    EXPECT_EQ(c->Native()->message, 0x0201u);
    EXPECT_EQ(c->Native()->lparam, -1);
    EXPECT_EQ(c->Type(), Event_LButtonPress);
    EXPECT_EQ(c->Position().XCoord(), -4);
    EXPECT_TRUE(c->Shift() && c->Control() && !c->Alt());
    EXPECT_EQ(c->Param(), 77);
  }
  // Assigning an event without one drops the copy's.
  assigned = UI_Event(Event_None, nullptr);
  EXPECT_EQ(assigned.Native(), nullptr);
}

TEST(EventRecordTest, RecordIsALeftButtonRelease) {
  UI_EventRecord r;
  EXPECT_EQ(r.Type(), Event_LButtonRelease);
  EXPECT_EQ(r.Origin(), nullptr);
  UI_EventRecord copy(r);
  EXPECT_STREQ(copy.AsString().AsPtr(), "Event_LButtonRelease from id -1000 (\?\?) to id -1000");
}

struct Listener {
  std::vector<long> types;
  bool answer = true;
  bool On(const UI_Event& e) {
    types.push_back(e.Type());
    return answer;
  }
};

TEST(EventBindingTest, ExecuteHandsTheEventAtTheValuesAddress) {
  Listener l;
  const UI_EventBinding1<Listener> b(&l, &Listener::On);
  const UI_AbstractEventBinding& abstract = b;
  UI_Event e(Event_Paint, nullptr);
  EXPECT_TRUE(abstract.Execute(reinterpret_cast<CL_Word>(&e)));
  l.answer = false;
  EXPECT_FALSE(abstract.Dispatch(UI_Event(Event_Select, nullptr)));
  // No event: nothing is called.
  EXPECT_FALSE(abstract.Execute(0));
  EXPECT_EQ(l.types, (std::vector<long>{Event_Paint, Event_Select}));

  const UI_EventBinding1<Listener> unset(nullptr, &Listener::On);
  EXPECT_FALSE(unset.Valid());
  EXPECT_FALSE(unset.Execute(reinterpret_cast<CL_Word>(&e)));
  EXPECT_STREQ(b.ClassName(), "UI_EventBinding1");
  EXPECT_EQ(b.ClassId(), 202);
}

// Writes down every per-event operation and child event it is given.
class Recorder : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  Recorder(UI_VisualObject* parent, const UI_Rectangle& shape, long id, std::string name,
           std::vector<std::string>& log)
      : UI_VisualObject(parent, shape, id), name_(std::move(name)), log_(log) {}
  const char* ClassName() const override { return "Recorder"; }

  bool handles = true;         // what the per-event operations answer
  bool handles_child = false;  // what HandleChildEvent answers
  bool can_close = false;

  bool ButtonDown(const UI_Point& p, int b, bool shift, bool control) override {
    return Say("ButtonDown " + At(p) + " " + std::to_string(b) + (shift ? " shift" : "") +
               (control ? " control" : ""));
  }
  bool ButtonUp(const UI_Point& p, int b) override {
    return Say("ButtonUp " + At(p) + " " + std::to_string(b));
  }
  bool DoubleClick(const UI_Point& p, int b) override {
    return Say("DoubleClick " + At(p) + " " + std::to_string(b));
  }
  bool ViewEnter(const UI_Point& p) override { return Say("ViewEnter " + At(p)); }
  bool ViewLeave(const UI_Point& p) override { return Say("ViewLeave " + At(p)); }
  bool MouseMove(const UI_Point& p) override { return Say("MouseMove " + At(p)); }
  bool GetFocus() override { return Say("GetFocus"); }
  bool LoseFocus() override { return Say("LoseFocus"); }
  bool KeyTyped(char k) override { return Say(std::string("KeyTyped ") + k); }
  bool Reconfigure(const UI_Rectangle& r) override {
    return Say("Reconfigure " + std::string(r.AsString().AsPtr()));
  }
  bool Paint(const UI_Rectangle&) override { return Say("Paint"); }
  bool Select() override { return Say("Select"); }
  bool Iconify() override { return Say("Iconify"); }
  bool Deiconify() override { return Say("Deiconify"); }
  bool CloseDown() override {
    Say("CloseDown");
    return UI_VisualObject::CloseDown();
  }
  bool CanClose() override { return can_close; }
  bool HandleChildEvent(const UI_Event& e) override {
    log_.push_back(name_ + " child " + UI_EventTypeName(e.Type()));
    return handles_child;
  }

 private:
  static std::string At(const UI_Point& p) { return p.AsString().AsPtr(); }
  bool Say(const std::string& what) {
    log_.push_back(name_ + " " + what);
    return handles;
  }
  std::string name_;
  std::vector<std::string>& log_;
};

// A binding that writes down whose set it ran from and answers as told.
struct Step {
  std::vector<std::string>& log;
  std::string name;
  bool answer = true;
  bool On(const UI_Event& e) {
    log.push_back(name + " to " + std::to_string(e.Destination() ? e.Destination()->Id() : -1000));
    return answer;
  }
};

class EventTest : public CollectWarnings {
 protected:
  void TearDown() override {
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
  std::vector<std::string> log_;
};

TEST_F(EventTest, TextFormNamesTheObjects) {
  UI_CompositeVObject top(nullptr, nullptr, false, UI_Rectangle(10, 10, 200, 100), -1, "Top");
  auto* button = new UI_PushButton(&top, UI_Rectangle(5, 5, 60, 20), 12, "Go");
  auto* rec = new Recorder(&top, UI_Rectangle(5, 30, 60, 20), 32767, "r", log_);
  struct Case {
    UI_Event event;
    const char* text;
  } cases[] = {
      {UI_Event(Event_Select, button, &top), "Event_Select from id 12 (UI_PushButton) to id -1"},
      {UI_Event(Event_KeyTyped, rec), "Event_KeyTyped from id 32767 (Recorder) to id 32767"},
      {UI_Event(Event_CloseDown, &top),
       "Event_CloseDown from id -1 (UI_CompositeVObject) to id -1"},
      {UI_Event(Event_Quit, nullptr, button), "Event_Quit from id -1000 (\?\?) to id 12"},
      {UI_EventRecord(button), "Event_LButtonRelease from id 12 (UI_PushButton) to id 12"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.event.AsString().AsPtr(), c.text);
  UI_Event moved(Event_Reconfigure, rec, button);
  moved.shape = UI_Rectangle(1, -2, 300, 0);
  EXPECT_STREQ(moved.AsString().AsPtr(),
               "Event_Reconfigure from id 32767 (Recorder) to id 12 shape (1, -2, 300, 0)");
}

TEST_F(EventTest, HandlerFirstThenBindingsThenTheAncestors) {
  struct Case {
    const char* what;
    bool child_handles, first_answer, top_child_handles;
    bool handled;
    std::vector<std::string> log;
  } cases[] = {
      {"nobody handles: every binding runs and the event climbs",
       false,
       true,
       false,
       false,
       {"child Select", "child b1 to 7", "child b2 to 7", "top child Event_Select", "top b to 1"}},
      {"a binding's false marks it handled and ends the walk",
       false,
       false,
       false,
       true,
       {"child Select", "child b1 to 7"}},
      {"the handler handles: the bindings still run, nothing climbs",
       true,
       true,
       false,
       true,
       {"child Select", "child b1 to 7", "child b2 to 7"}},
      {"the parent handles: its bindings run too",
       false,
       true,
       true,
       true,
       {"child Select", "child b1 to 7", "child b2 to 7", "top child Event_Select", "top b to 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    Recorder top(nullptr, UI_Rectangle(0, 0, 50, 50), 1, "top", log_);
    auto* child = new Recorder(&top, UI_Rectangle(0, 0, 10, 10), 7, "child", log_);
    child->handles = c.child_handles;
    top.handles_child = c.top_child_handles;
    Step b1{log_, "child b1", c.first_answer}, b2{log_, "child b2"}, tb{log_, "top b"};
    ASSERT_TRUE(child->AddEventBinding(Event_Select, UI_EventBinding1<Step>(&b1, &Step::On)));
    ASSERT_TRUE(child->AddEventBinding(Event_Select, UI_EventBinding1<Step>(&b2, &Step::On)));
    EXPECT_FALSE(child->AddEventBinding(Event_Select, UI_EventBinding1<Step>(&b2, &Step::On)));
    ASSERT_TRUE(top.AddEventBinding(Event_Select, UI_EventBinding1<Step>(&tb, &Step::On)));
    // Bindings of another type are not asked.
    ASSERT_TRUE(child->AddEventBinding(Event_KeyTyped, UI_EventBinding1<Step>(&tb, &Step::On)));
    UI_Event e(Event_Select, child);
    EXPECT_EQ(child->Dispatch(e), c.handled);
    EXPECT_EQ(log_, c.log);
  }
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(EventTest, RemovedBindingIsNotAskedAgain) {
  Recorder top(nullptr, UI_Rectangle(0, 0, 50, 50), 1, "top", log_);
  top.handles = false;
  Step veto{log_, "veto", false};
  const UI_EventBinding1<Step> b(&veto, &Step::On);
  ASSERT_TRUE(top.AddEventBinding(Event_Iconify, b));
  UI_Event e(Event_Iconify, &top);
  EXPECT_TRUE(top.Dispatch(e));
  EXPECT_TRUE(top.RemoveEventBinding(Event_Iconify, b));
  EXPECT_FALSE(top.RemoveEventBinding(Event_Iconify, b));
  EXPECT_FALSE(top.RemoveEventBinding(Event_Paint, b));
  EXPECT_FALSE(top.Dispatch(e));
  EXPECT_EQ(log_, (std::vector<std::string>{"top Iconify", "veto to 1", "top Iconify"}));
}

TEST_F(EventTest, EachTypeReachesItsOperation) {
  Recorder rec(nullptr, UI_Rectangle(0, 0, 50, 50), 3, "r", log_);
  struct Case {
    long type;
    bool shift, control;
    const char* call;  // null: no operation
    bool handled;
  } cases[] = {
      {Event_MouseMove, false, false, "r MouseMove (4, -6)", true},
      {Event_LButtonPress, true, false, "r ButtonDown (4, -6) 1 shift", true},
      {Event_MButtonPress, false, true, "r ButtonDown (4, -6) 2 control", true},
      {Event_RButtonPress, true, true, "r ButtonDown (4, -6) 3 shift control", true},
      {Event_LButtonRelease, true, false, "r ButtonUp (4, -6) 1", true},
      {Event_MButtonRelease, false, false, "r ButtonUp (4, -6) 2", true},
      {Event_RButtonRelease, false, false, "r ButtonUp (4, -6) 3", true},
      {Event_LButtonDblClk, false, false, "r DoubleClick (4, -6) 1", true},
      {Event_MButtonDblClk, false, false, "r DoubleClick (4, -6) 2", true},
      {Event_RButtonDblClk, false, false, "r DoubleClick (4, -6) 3", true},
      {Event_KeyTyped, false, false, "r KeyTyped x", true},
      {Event_GetFocus, false, false, "r GetFocus", true},
      {Event_LoseFocus, false, false, "r LoseFocus", true},
      {Event_Reconfigure, false, false, "r Reconfigure (4, -6, 0, 0)", true},
      {Event_ViewEnter, false, false, "r ViewEnter (4, -6)", true},
      {Event_ViewLeave, false, false, "r ViewLeave (4, -6)", true},
      {Event_Iconify, false, false, "r Iconify", true},
      {Event_Deiconify, false, false, "r Deiconify", true},
      {Event_Select, false, false, "r Select", true},
      // A close request is never handled, whatever CloseDown answered.
      {Event_CloseDown, false, false, "r CloseDown", false},
      // No window yet: nothing to paint.
      {Event_Paint, false, false, nullptr, false},
      {Event_Scroll, false, false, nullptr, false},
      {Event_KeyDown, false, false, nullptr, false},
      {Event_Other, false, false, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(UI_EventTypeName(c.type));
    log_.clear();
    UI_Event e(c.type, &rec);
    e.shape = UI_Rectangle(4, -6, 0, 0);
    e.key = 'x';
    e.shift = c.shift;
    e.control = c.control;
    EXPECT_EQ(rec.Dispatch(e), c.handled);
    EXPECT_EQ(log_, c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
  }
  // The object's shape follows a reconfigure, which tells where the window already is.
  EXPECT_EQ(rec.Shape(), UI_Rectangle(4, -6, 0, 0));
}

TEST_F(EventTest, NativeMessagesReachTheOperations) {
  Recorder top(nullptr, UI_Rectangle(40, 40, 200, 120), 1, "top", log_);
  auto* child = new Recorder(&top, UI_Rectangle(10, 10, 80, 40), 2, "child", log_);
  ASSERT_TRUE(top.MakeVisualElement());
  UI_Controller& c = UI_Controller::Instance();
  c.FlushEvents();
  struct Case {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> log;
  } cases[] = {
      {"typed", [&] { UI_ProbeType(child->Handle(), 'q'); }, {"child KeyTyped q"}},
      {"right press",
       [&] { UI_ProbePost(child->Handle(), kWmRButtonDown, 0, Point(5, 6)); },
       {"child ButtonDown (5, 6) 3"}},
      {"middle double click",
       [&] { UI_ProbePost(child->Handle(), kWmMButtonDblClk, 0, Point(-1, 2)); },
       {"child DoubleClick (-1, 2) 2"}},
      {"moved",
       [&] { UI_ProbeSend(child->Handle(), kWmMove, 0, Point(30, 35)); },
       {"child Reconfigure (30, 35, 80, 40)"}},
      // Not handled by the child: the parent hears of it as well.
      {"close box",
       [&] { UI_ProbePost(child->Handle(), kWmClose); },
       {"child CloseDown", "top child Event_CloseDown"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    log_.clear();
    k.act();
    c.FlushEvents();
    EXPECT_EQ(log_, k.log);
  }
  EXPECT_TRUE(UI_ProbeIsWindow(child->Handle()));

  log_.clear();
  ASSERT_TRUE(child->TakeFocus());
  c.FlushEvents();
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_.back(), "child GetFocus");
}

TEST_F(EventTest, CloseDownRemovesTheWindowOnlyWhenItMayClose) {
  Recorder top(nullptr, UI_Rectangle(40, 40, 200, 120), 1, "top", log_);
  ASSERT_TRUE(top.MakeVisualElement());
  UI_NativeHandle h = top.Handle();
  UI_Controller& c = UI_Controller::Instance();
  c.FlushEvents();
  log_.clear();  // what showing the window brought (focus, painting)
  UI_ProbePost(h, kWmClose);
  c.FlushEvents();
  EXPECT_TRUE(UI_ProbeIsWindow(h));
  top.can_close = true;
  UI_ProbePost(h, kWmClose);
  c.FlushEvents();
  EXPECT_FALSE(UI_ProbeIsWindow(h));
  EXPECT_EQ(top.Handle(), nullptr);
  // Going, the window also lost the focus.
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "top CloseDown"), 2);
}

TEST_F(EventTest, WindowPaintsItsBackground) {
  struct Case {
    UI_Color color;
  } cases[] = {{UI_Color(1.0, 0.0, 0.0)}, {UI_Color(0.0, 0.5, 1.0)}, {UI_Color(4)}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.color.NativeForm());
    UI_VisualObject top(nullptr, UI_Rectangle(60, 60, 160, 100), 1);
    auto* area = new UI_VisualObject(&top, UI_Rectangle(20, 20, 64, 32), 2);
    EXPECT_TRUE(area->SetBackground(k.color));
    EXPECT_EQ(area->Background(), k.color);
    ASSERT_TRUE(top.MakeVisualElement());
    UI_Controller::Instance().FlushEvents();
    UI_BitmapData shot;
    ASSERT_TRUE(UI_ProbeCapture(area->Handle(), &shot));
    ASSERT_EQ(shot.Width(), 64);
    ASSERT_EQ(shot.Height(), 32);
    long other = 0;
    for (std::uint32_t p : shot.Pixels()) other += p != k.color.NativeForm();
    EXPECT_EQ(other, 0);
  }
}

}  // namespace
