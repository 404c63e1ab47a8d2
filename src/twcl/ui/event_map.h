// The event-type vocabulary and the translation of native window messages to event types,
// without the window system: message numbers and parameters come in as plain integers.
#ifndef TW_TWCL_UI_EVENT_MAP_H_
#define TW_TWCL_UI_EVENT_MAP_H_

#include <cstdint>

enum UI_EventType : long {
  Event_None = 0, Event_MouseMove, Event_LButtonPress, Event_MButtonPress, Event_RButtonPress,
  Event_LButtonRelease, Event_MButtonRelease, Event_RButtonRelease, Event_LButtonDblClk,
  Event_MButtonDblClk, Event_RButtonDblClk, Event_Scroll, Event_FinishScroll,
  Event_ScrollToBegin, Event_ScrollToEnd, Event_ScrollForwardLine, Event_ScrollBackwardLine,
  Event_ScrollForwardPage, Event_ScrollBackwardPage, Event_ScrollToPosition, Event_KeyTyped,
  Event_KeyDown, Event_KeyUp, Event_GetFocus, Event_LoseFocus, Event_Paint,
  Event_GraphicsExpose, Event_Reconfigure, Event_ViewEnter, Event_ViewLeave, Event_Iconify,
  Event_Deiconify, Event_FirstSoftEvent, Event_ChildCreated, Event_CloseDown,
  Event_MakeInterface, Event_Quit, Event_Select, Event_StrEdChanged, Event_Other
};

// The type's name ("Event_Select"); "Unknown type" for any other value.
const char* UI_EventTypeName(long type);
// Soft events are those the library makes itself (type 32 and above).
inline bool UI_IsSoftEvent(long type) { return type >= Event_FirstSoftEvent; }

// The type of a native message by the message table; Event_Other when it is not there.
// Scroll messages answer Event_None here: their type comes from the scroll code.
long UI_EventTypeOfMessage(std::uint32_t message);
// Scroll code (low word of the first parameter of a scroll message) to event type; codes
// outside the table give Event_None.
long UI_ScrollEventType(unsigned code);
// WM_COMMAND notification code from a control: 0 and 1 select, anything else is other.
long UI_CommandEventType(unsigned notification);
// WM_SIZE: 1 minimised iconifies; 0 and 2 deiconify an iconified window, else reconfigure.
long UI_SizeEventType(std::uintptr_t kind, bool iconified);

// A pointer position packed into a message's second parameter: each half is a signed
// 16-bit value, so a point left of or above the window is negative.
struct UI_MessagePoint {
  long x, y;
};
UI_MessagePoint UI_PointFromParam(std::intptr_t param);
// Bit 29 of a key message's second parameter: the Alt key was down.
inline bool UI_AltFromParam(std::intptr_t param) { return (std::uint64_t(param) >> 29) & 1; }

#endif  // TW_TWCL_UI_EVENT_MAP_H_
