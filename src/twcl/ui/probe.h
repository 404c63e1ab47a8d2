// What Win32 itself says about windows, and the user's actions on them (clicks, keys,
// selections), for tests and demonstration programs. Plain C++: no Win32 header needed.
#ifndef TW_TWCL_UI_PROBE_H_
#define TW_TWCL_UI_PROBE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "twcl/ui/bitmap_data.h"

using UI_NativeHandle = void*;

struct UI_ProbeWindow {
  UI_NativeHandle handle = nullptr;
  long id = 0;
  std::string cls;   // window class name as Win32 reports it
  std::string text;  // window text
  std::uint32_t style = 0;
  long x = 0, y = 0, width = 0, height = 0;  // in the parent's client coordinates
  bool visible = false, enabled = false;
};

// Message and style numbers the tests speak of (the published Win32 values).
namespace ui_probe {
inline constexpr std::uint32_t kWsTabStop = 0x00010000, kWsVisible = 0x10000000,
                               kWsChild = 0x40000000, kWsDisabled = 0x08000000,
                               kEsMultiline = 0x0004, kLbsMultipleSel = 0x0008;
inline constexpr std::uint32_t kBsTypeMask = 0x0f, kBsPushButton = 0, kBsAutoCheckBox = 3,
                               kBsGroupBox = 7, kBsAutoRadioButton = 9;
inline constexpr std::uint32_t kWmSetText = 0x000C, kWmChar = 0x0102, kWmClose = 0x0010,
                               kBmGetCheck = 0x00F0, kLbGetCurSel = 0x0188, kLbGetCount = 0x018B,
                               kLbGetSel = 0x0187, kCbGetCurSel = 0x0147, kCbGetCount = 0x0146,
                               kSbmGetPos = 0x00E1;
inline constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;
}  // namespace ui_probe

// The child windows of a window in EnumChildWindows order (all depths).
std::vector<UI_ProbeWindow> UI_ProbeChildren(UI_NativeHandle parent);
UI_ProbeWindow UI_ProbeInfo(UI_NativeHandle window);
std::intptr_t UI_ProbeSend(UI_NativeHandle window, std::uint32_t msg, std::uintptr_t wp = 0,
                           std::intptr_t lp = 0);
bool UI_ProbePost(UI_NativeHandle window, std::uint32_t msg, std::uintptr_t wp = 0,
                  std::intptr_t lp = 0);
// A click on a button, sent (handled before this returns) or posted (handled by whoever runs
// the message loop next, a modal run for instance).
void UI_ProbeClick(UI_NativeHandle button);
void UI_ProbePostClick(UI_NativeHandle button);
// The text of an edit control set as typing would (the control notifies its parent).
void UI_ProbeSetText(UI_NativeHandle edit, const char* utf8);
// A character typed to the window (posted, as the keyboard would).
void UI_ProbeType(UI_NativeHandle window, char c, bool shift = false);
// A list or combo box item chosen as a user would (the parent hears of it).
void UI_ProbeChooseItem(UI_NativeHandle list, long index);
// A list box item's selection toggled (multiple selection).
void UI_ProbeToggleItem(UI_NativeHandle list, long index);
// A scroll bar moved: code as in WM_HSCROLL (0 line up ... 4 thumb position ... 7 bottom).
void UI_ProbeScroll(UI_NativeHandle bar, unsigned code, long position = 0);
// A key pressed and released on the keyboard (virtual-key code; Shift held when asked):
// the input goes to whichever window has the focus, as a user's would.
void UI_ProbePressKey(unsigned vk, bool shift = false);
namespace ui_probe {
inline constexpr unsigned kVkTab = 0x09, kVkSpace = 0x20, kVkUp = 0x26, kVkDown = 0x28;
inline constexpr std::uint32_t kSsTypeMask = 0x03, kSsLeft = 0, kSsCenter = 1, kSsRight = 2,
                               kLbGetSelCount = 0x0190;
}  // namespace ui_probe
// The text of line i of a list box.
std::string UI_ProbeListText(UI_NativeHandle list, long index);
// A window placed and styled anew behind its object's back.
void UI_ProbeReshape(UI_NativeHandle window, long x, long y, long width, long height,
                     std::uint32_t style);
UI_NativeHandle UI_ProbeFocus();
bool UI_ProbeIsWindow(UI_NativeHandle window);
// Answers the next message box whose caption is given by pressing the button with that
// id, as soon as it shows (a timer of the calling thread looks for it while it runs).
void UI_ProbeAnswerMessageBox(const char* caption, int button_id);
// The picture of a window as the screen shows it.
bool UI_ProbeCapture(UI_NativeHandle window, UI_BitmapData* out);

// What GDI says of a font, pen or brush (GetObject), and what a context has selected.
struct UI_ProbeFontInfo {
  bool ok = false;
  long height = 0, weight = 0;
  bool italic = false, underline = false, strikeout = false;
  std::string face;
};
struct UI_ProbeGdiInfo {
  bool ok = false;
  std::uint32_t style = 0;  // PS_* of a pen, BS_* of a brush
  long width = 0;           // a pen's; a brush's hatch
  std::uint32_t color = 0;
};
namespace ui_probe {
inline constexpr std::uint32_t kPsSolid = 0, kPsDash = 1, kPsDot = 2, kPsNull = 5, kBsSolid = 0,
                               kBsNull = 1, kBsHatched = 2, kHsBDiagonal = 3;
inline constexpr int kObjPen = 1, kObjBrush = 2, kObjFont = 6;
inline constexpr std::uint32_t kWmGetFont = 0x0031, kWmHScroll = 0x0114, kWmVScroll = 0x0115,
                               kWmCtlColorScrollBar = 0x0137, kWmCtlColorStatic = 0x0138;
inline constexpr int kColorBtnFace = 15;
}  // namespace ui_probe
UI_ProbeFontInfo UI_ProbeFont(void* font);
UI_ProbeGdiInfo UI_ProbePen(void* pen);
UI_ProbeGdiInfo UI_ProbeBrush(void* brush);
void* UI_ProbeSelected(void* dc, int kind);  // ui_probe::kObjPen, kObjBrush or kObjFont
std::uint32_t UI_ProbeTextColor(void* dc);
std::uint32_t UI_ProbeBkColor(void* dc);
std::uint32_t UI_ProbeSysColor(int index);  // GetSysColor
void* UI_ProbeCursor();                     // the pointer's shape now (GetCursor)
// What Win32's default window procedure answers (the plain look's answer).
std::intptr_t UI_ProbeDefaultAnswer(UI_NativeHandle window, std::uint32_t msg,
                                    std::uintptr_t wp = 0, std::intptr_t lp = 0);
// A memory context compatible with the screen, for surfaces in tests; freed by FreeDc.
void* UI_ProbeMemoryDc();
void UI_ProbeFreeDc(void* dc);
long UI_ProbePixelsPerInch();  // the screen's vertical resolution

// A window's own scroll bar (SB_VERT or SB_HORZ) as Win32 reports it.
struct UI_ProbeScrollInfo {
  long low = 0, high = 0, position = 0;
  bool shown = false, enabled = false;
};
UI_ProbeScrollInfo UI_ProbeWindowScroll(UI_NativeHandle window, bool vertical);

// A control made as a dialog resource makes it: a child window of that class, text, style
// (WS_CHILD is added) and id, by no object of the library; null on failure.
UI_NativeHandle UI_ProbeCreateControl(UI_NativeHandle parent, const char* cls, const char* text,
                                      std::uint32_t style, long id, long x, long y, long width,
                                      long height);
// A window's property of that name (GetProp), and its window procedure now.
void* UI_ProbeProperty(UI_NativeHandle window, const char* name);
void* UI_ProbeWindowProc(UI_NativeHandle window);
// A cursor's hot spot and width (GetIconInfo); false when it is no cursor.
bool UI_ProbeCursorShape(void* cursor, long* hot_x, long* hot_y, long* width);

#endif  // TW_TWCL_UI_PROBE_H_
