// What Win32 says of the library's window classes, of a window's size limits, its frame and
// the screen, and the user's sizing of a window from the keyboard. Plain C++.
#ifndef TW_TWCL_UI_PROBE_WINDOWS_H_
#define TW_TWCL_UI_PROBE_WINDOWS_H_

#include <cstdint>
#include <string>

using UI_NativeHandle = void*;

struct UI_ProbeClassInfo {
  bool ok = false;  // the class is registered for this program
  std::uint32_t style = 0;
  std::intptr_t background = 0;  // the brush as given: a system colour index + 1
  int class_extra = 0, window_extra = 0;
  bool icon = false, cursor = false;
};
UI_ProbeClassInfo UI_ProbeClass(const char* name);

// The record a window answers to WM_GETMINMAXINFO.
struct UI_ProbeTrackSizes {
  long min_width = 0, min_height = 0, max_width = 0, max_height = 0;
};
UI_ProbeTrackSizes UI_ProbeMinMax(UI_NativeHandle window);

struct UI_ProbeSize {
  long width = 0, height = 0;
};
UI_ProbeSize UI_ProbeScreenSize();  // GetSystemMetrics
UI_ProbeSize UI_ProbeClientSize(UI_NativeHandle window);
void UI_ProbeClientToScreen(UI_NativeHandle window, long& x, long& y);
void UI_ProbeSetLastError(std::uint32_t code);

// The window's frame dragged by the keyboard as a user does it (the system menu's Size,
// then an arrow key that picks the right or the bottom edge, steps of 8 pixels, then
// Enter); negative steps shrink the window.
void UI_ProbeKeyboardSize(UI_NativeHandle window, bool right_edge, int steps);

// The thread's keyboard state with the Control key held down or let go, as the loop reads
// it for the messages posted to it afterwards.
void UI_ProbeHoldControl(bool down);

// Starts noting the characters (WM_CHAR) that reach the window's own procedure; the text
// of those noted so far.
void UI_ProbeWatchChars(UI_NativeHandle window);
std::string UI_ProbeCharsSeen(UI_NativeHandle window);

namespace ui_probe {
inline constexpr std::uint32_t kEsAutoVScroll = 0x0040, kEsWantReturn = 0x1000;
inline constexpr std::uint32_t kWmMDIGetActive = 0x0229, kWmKeyDown = 0x0100, kVkF4 = 0x73,
                               kVkF6 = 0x75, kWsExMDIChild = 0x00000040;
inline constexpr std::uint32_t kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000,
                               kWsMinimizeBox = 0x00020000, kWsMaximizeBox = 0x00010000,
                               kWsPopup = 0x80000000, kWsBorder = 0x00800000,
                               kWsThickFrame = 0x00040000;
inline constexpr std::uint32_t kCsVRedraw = 0x1, kCsHRedraw = 0x2, kCsDblClks = 0x8;
inline constexpr int kColorWindow = 5, kColorAppWorkspace = 12;
}  // namespace ui_probe

#endif  // TW_TWCL_UI_PROBE_WINDOWS_H_
