// Scrollable windows and the scroll bars of their frames, asked of Win32. Runs under Xvfb.
#include <gtest/gtest.h>

#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/probe.h"
#include "twcl/ui/scroll_window.h"

namespace {

using namespace ui_probe;

enum : long { kWindow = 40, kLabel = 41, kEdit = 42, kBar = 43 };

// The scroll events that reach the window, from whichever bar.
struct Seen {
  struct Event {
    long origin, type, param;
  };
  std::vector<Event> events;
  bool On(const UI_Event& e) {
    events.push_back({e.Origin() ? e.Origin()->Id() : -1, e.Type(), e.param});
    return true;  // on up the tree
  }
};

class ScrollTest : public CollectWarnings {
 protected:
  void SetUp() override {
    CollectWarnings::SetUp();
    top_ = std::make_unique<UI_CompositeVObject>(nullptr, nullptr, false,
                                                 UI_Rectangle(30, 30, 320, 240), -1, "Scroll");
    sw_ = new UI_ScrollableWindow(top_.get(), UI_Rectangle(10, 10, 240, 180), kWindow);
    new UI_Label(sw_, UI_Rectangle(5, 5, 100, 20), kLabel, "inside");
    new UI_StringEditor(sw_, UI_Rectangle(5, 30, 100, 22), kEdit, "edit");
    new UI_VScrollBar(sw_, UI_Rectangle(150, 5, 16, 100), kBar);
    for (long t = Event_Scroll; t <= Event_ScrollToPosition; ++t)
      sw_->AddEventBinding(t, UI_EventBinding1<Seen>(&seen_, &Seen::On));
  }
  void TearDown() override {
    top_.reset();
    UI_Controller::Instance().FlushEvents();
    CollectWarnings::TearDown();
  }
  std::unique_ptr<UI_CompositeVObject> top_;
  UI_ScrollableWindow* sw_ = nullptr;
  Seen seen_;
};

TEST_F(ScrollTest, FrameBarsFollowTheirModelsAndTheScrolls) {
  // Range and position set before the window exists reach the frame when it is made.
  ASSERT_TRUE(sw_->VScrollBar()->SetRange(0, 200));
  sw_->VScrollBar()->SetPosition(30);
  ASSERT_TRUE(top_->MakeVisualElement());
  EXPECT_EQ(sw_->Child(UI_ScrollableWindow::kVScrollBarId), sw_->VScrollBar());
  EXPECT_EQ(sw_->Child(UI_ScrollableWindow::kHScrollBarId), sw_->HScrollBar());
  EXPECT_TRUE(UI_ProbeInfo(sw_->Handle()).style & kWsChild);
  UI_ProbeScrollInfo v = UI_ProbeWindowScroll(sw_->Handle(), true);
  EXPECT_EQ(v.low, 0);
  EXPECT_EQ(v.high, 200);
  EXPECT_EQ(v.position, 30);
  EXPECT_TRUE(v.shown);
  EXPECT_TRUE(v.enabled);
  // And after: the model moves the frame's bar.
  ASSERT_TRUE(sw_->HScrollBar()->SetRange(0, 50));
  sw_->HScrollBar()->SetPosition(10);
  EXPECT_EQ(UI_ProbeWindowScroll(sw_->Handle(), false).high, 50);
  EXPECT_EQ(UI_ProbeWindowScroll(sw_->Handle(), false).position, 10);

  struct Step {
    bool vertical;
    unsigned code;
    long thumb, position;
    long event;
  } steps[] = {
      {true, 1, 0, 31, Event_ScrollForwardLine},
      {true, 3, 0, 41, Event_ScrollForwardPage},
      {true, 4, 150, 150, Event_ScrollToPosition},
      {true, 7, 0, 200, Event_ScrollToEnd},
      {true, 1, 0, 200, Event_ScrollForwardLine},
      {true, 6, 0, 0, Event_ScrollToBegin},
      {true, 0, 0, 0, Event_ScrollBackwardLine},
      {true, 8, 0, 0, Event_FinishScroll},
      {false, 3, 0, 20, Event_ScrollForwardPage},
      {false, 2, 0, 10, Event_ScrollBackwardPage},
      {false, 5, 42, 42, Event_Scroll},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << (s.vertical ? "vertical " : "horizontal ") << s.code);
    seen_.events.clear();
    UI_ProbeSend(sw_->Handle(), s.vertical ? kWmVScroll : kWmHScroll,
                 s.code | std::uintptr_t(s.thumb) << 16, 0);
    UI_WindowScrollBar* bar = s.vertical ? sw_->VScrollBar() : sw_->HScrollBar();
    EXPECT_EQ(bar->Position(), s.position);
    EXPECT_EQ(UI_ProbeWindowScroll(sw_->Handle(), s.vertical).position, s.position);
    ASSERT_EQ(seen_.events.size(), 1u);
    EXPECT_EQ(seen_.events[0].origin,
              s.vertical ? UI_ScrollableWindow::kVScrollBarId : UI_ScrollableWindow::kHScrollBarId);
    EXPECT_EQ(seen_.events[0].type, s.event);
  }

  // A scroll-bar control among the children reaches its own object, not the frame's.
  seen_.events.clear();
  auto* control = static_cast<UI_ScrollBar*>(sw_->Child(kBar));
  UI_ProbeScroll(control->Handle(), 7);
  EXPECT_EQ(control->Position(), control->Range().High());
  EXPECT_EQ(sw_->VScrollBar()->Position(), 0);
  ASSERT_EQ(seen_.events.size(), 1u);
  EXPECT_EQ(seen_.events[0].origin, kBar);
  EXPECT_TRUE(g_warnings.empty());
}

TEST_F(ScrollTest, ShowingAndEnablingReachEveryChild) {
  ASSERT_TRUE(top_->MakeVisualElement());
  const long kids[] = {kLabel, kEdit, kBar};
  struct Step {
    const char* what;
    std::function<void()> act;
    bool window_visible, kids_visible, vbar_shown;
  } steps[] = {
      {"hide", [&] { sw_->Show(false); }, false, false, false},
      {"show", [&] { sw_->Show(true); }, true, true, true},
      {"hide the frame's vertical bar", [&] { sw_->VScrollBar()->Show(false); }, true, true, false},
      {"show it again", [&] { sw_->VScrollBar()->Show(true); }, true, true, true},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    EXPECT_EQ(UI_ProbeInfo(sw_->Handle()).visible, s.window_visible);
    for (long id : kids)
      EXPECT_EQ(UI_ProbeInfo(sw_->Child(id)->Handle()).visible, s.kids_visible) << id;
    EXPECT_EQ(UI_ProbeWindowScroll(sw_->Handle(), true).shown, s.vbar_shown);
    EXPECT_EQ(sw_->VScrollBar()->IsVisible(), s.vbar_shown);
  }

  sw_->HScrollBar()->Enable(false);
  EXPECT_FALSE(UI_ProbeWindowScroll(sw_->Handle(), false).enabled);
  EXPECT_TRUE(UI_ProbeWindowScroll(sw_->Handle(), true).enabled);
  sw_->Enable(false);
  EXPECT_FALSE(UI_ProbeInfo(sw_->Handle()).enabled);
  for (long id : kids) EXPECT_FALSE(UI_ProbeInfo(sw_->Child(id)->Handle()).enabled) << id;
  EXPECT_FALSE(UI_ProbeWindowScroll(sw_->Handle(), true).enabled);
  sw_->Enable(true);
  for (long id : kids) EXPECT_TRUE(UI_ProbeInfo(sw_->Child(id)->Handle()).enabled) << id;
  EXPECT_TRUE(UI_ProbeWindowScroll(sw_->Handle(), true).enabled);
  EXPECT_TRUE(UI_ProbeWindowScroll(sw_->Handle(), false).enabled);
}

}  // namespace
