#include "twcl/ui/event_map.h"

#include <iterator>

namespace {

const char* const kNames[] = {
    "Event_None", "Event_MouseMove", "Event_LButtonPress", "Event_MButtonPress",
    "Event_RButtonPress", "Event_LButtonRelease", "Event_MButtonRelease",
    "Event_RButtonRelease", "Event_LButtonDblClk", "Event_MButtonDblClk",
    "Event_RButtonDblClk", "Event_Scroll", "Event_FinishScroll", "Event_ScrollToBegin",
    "Event_ScrollToEnd", "Event_ScrollForwardLine", "Event_ScrollBackwardLine",
    "Event_ScrollForwardPage", "Event_ScrollBackwardPage", "Event_ScrollToPosition",
    "Event_KeyTyped", "Event_KeyDown", "Event_KeyUp", "Event_GetFocus", "Event_LoseFocus",
    "Event_Paint", "Event_GraphicsExpose", "Event_Reconfigure", "Event_ViewEnter",
    "Event_ViewLeave", "Event_Iconify", "Event_Deiconify", "Event_FirstSoftEvent",
    "Event_ChildCreated", "Event_CloseDown", "Event_MakeInterface", "Event_Quit",
    "Event_Select", "Event_StrEdChanged", "Event_Other"};

// Native message number to event type, searched from the top.
const struct {
  std::uint32_t message;
  long type;
} kMessages[] = {
    {7, Event_GetFocus},         // WM_SETFOCUS
    {8, Event_LoseFocus},        // WM_KILLFOCUS
    {513, Event_LButtonPress},   // WM_LBUTTONDOWN
    {514, Event_LButtonRelease}, // WM_LBUTTONUP
    {515, Event_LButtonDblClk},  // WM_LBUTTONDBLCLK
    {519, Event_MButtonPress},   // WM_MBUTTONDOWN
    {520, Event_MButtonRelease}, // WM_MBUTTONUP
    {521, Event_MButtonDblClk},  // WM_MBUTTONDBLCLK
    {516, Event_RButtonPress},   // WM_RBUTTONDOWN
    {517, Event_RButtonRelease}, // WM_RBUTTONUP
    {518, Event_RButtonDblClk},  // WM_RBUTTONDBLCLK
    {258, Event_KeyTyped},       // WM_CHAR
    {512, Event_MouseMove},      // WM_MOUSEMOVE
    {16, Event_CloseDown},       // WM_CLOSE
    {278, Event_GetFocus},       // WM_INITMENU
    {279, Event_GetFocus},       // WM_INITMENUPOPUP
    {287, Event_GetFocus},       // WM_MENUSELECT
    {3, Event_Reconfigure},      // WM_MOVE
    {5, Event_Reconfigure},      // WM_SIZE
    {15, Event_Paint},           // WM_PAINT
    {273, Event_Select},         // WM_COMMAND
    {277, Event_None},           // WM_VSCROLL
    {276, Event_None},           // WM_HSCROLL
};

const long kScroll[] = {Event_ScrollBackwardLine, Event_ScrollForwardLine,
                        Event_ScrollBackwardPage, Event_ScrollForwardPage,
                        Event_ScrollToPosition,   Event_Scroll,
                        Event_ScrollToBegin,      Event_ScrollToEnd,
                        Event_FinishScroll};

}  // namespace

const char* UI_EventTypeName(long type) {
  if (type < 0 || type >= long(std::size(kNames))) return "Unknown type";
  return kNames[type];
}

long UI_EventTypeOfMessage(std::uint32_t message) {
  for (const auto& m : kMessages)
    if (m.message == message) return m.type;
  return Event_Other;
}

long UI_ScrollEventType(unsigned code) {
  return code < std::size(kScroll) ? kScroll[code] : Event_None;
}

long UI_CommandEventType(unsigned notification) {
  return notification <= 1 ? Event_Select : Event_Other;
}

long UI_SizeEventType(std::uintptr_t kind, bool iconified) {
  if (kind == 1) return Event_Iconify;
  if ((kind == 0 || kind == 2) && iconified) return Event_Deiconify;
  return Event_Reconfigure;
}

UI_MessagePoint UI_PointFromParam(std::intptr_t param) {
  auto v = std::uint64_t(param);
  return {long(std::int16_t(v & 0xffff)), long(std::int16_t(v >> 16 & 0xffff))};
}
