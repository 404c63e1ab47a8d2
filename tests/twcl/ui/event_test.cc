// The event record and the bindings that take events, without a window system: events
// from and to no object, as the controller makes them before an object is found.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "twcl/ui/visual.h"

namespace {

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

}  // namespace
