#include "twcl/ui/event_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(EventMap, MessagesToTypes) {
  struct Case {
    std::uint32_t message;
    long type;
  } cases[] = {{7, Event_GetFocus},        {8, Event_LoseFocus},       {513, Event_LButtonPress},
               {514, Event_LButtonRelease}, {518, Event_RButtonDblClk}, {258, Event_KeyTyped},
               {512, Event_MouseMove},      {16, Event_CloseDown},      {287, Event_GetFocus},
               {5, Event_Reconfigure},      {15, Event_Paint},          {273, Event_Select},
               {277, Event_None},           {276, Event_None},          {256, Event_Other},
               {0xffff, Event_Other}};
  for (const auto& c : cases) EXPECT_EQ(UI_EventTypeOfMessage(c.message), c.type) << c.message;
}

TEST(EventMap, ScrollCommandAndSizeRefinements) {
  struct Scroll {
    unsigned code;
    long type;
  } scrolls[] = {{0, Event_ScrollBackwardLine}, {1, Event_ScrollForwardLine},
                 {2, Event_ScrollBackwardPage}, {3, Event_ScrollForwardPage},
                 {4, Event_ScrollToPosition},   {5, Event_Scroll},
                 {6, Event_ScrollToBegin},      {7, Event_ScrollToEnd},
                 {8, Event_FinishScroll},       {9, Event_None}};
  for (const auto& s : scrolls) EXPECT_EQ(UI_ScrollEventType(s.code), s.type) << s.code;
  EXPECT_EQ(UI_CommandEventType(0), Event_Select);
  EXPECT_EQ(UI_CommandEventType(1), Event_Select);
  EXPECT_EQ(UI_CommandEventType(5), Event_Other);
  struct Size {
    std::uintptr_t kind;
    bool iconified;
    long type;
  } sizes[] = {{1, false, Event_Iconify},      {0, true, Event_Deiconify}, {2, true, Event_Deiconify},
               {0, false, Event_Reconfigure}, {4, true, Event_Reconfigure}};
  for (const auto& s : sizes) EXPECT_EQ(UI_SizeEventType(s.kind, s.iconified), s.type) << s.kind;
}

TEST(EventMap, PointerPositionsAreSigned16Bit) {
  struct Case {
    std::intptr_t param;
    long x, y;
  } cases[] = {
      {0x00140010, 16, 20},
      {0xfffbfff6, -10, -5},   // left of and above the window
      {0x7fff8000, -32768, 32767},
      {std::intptr_t(0x12345678ffffffffLL), -1, -1},  // the upper half of a 64-bit word is not part of it
  };
  for (const auto& c : cases) {
    UI_MessagePoint p = UI_PointFromParam(c.param);
    EXPECT_EQ(p.x, c.x) << std::hex << c.param;
    EXPECT_EQ(p.y, c.y) << std::hex << c.param;
  }
  EXPECT_TRUE(UI_AltFromParam(std::intptr_t(1) << 29));
  EXPECT_FALSE(UI_AltFromParam(0x1fffffff));
}

TEST(EventMap, Names) {
  EXPECT_STREQ(UI_EventTypeName(Event_Select), "Event_Select");
  EXPECT_STREQ(UI_EventTypeName(Event_Other), "Event_Other");
  EXPECT_STREQ(UI_EventTypeName(Event_None), "Event_None");
  EXPECT_STREQ(UI_EventTypeName(40), "Unknown type");
  EXPECT_STREQ(UI_EventTypeName(-1), "Unknown type");
  EXPECT_TRUE(UI_IsSoftEvent(Event_Quit));
  EXPECT_FALSE(UI_IsSoftEvent(Event_Deiconify));
}

}  // namespace
