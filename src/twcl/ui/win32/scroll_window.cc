// Scrollable windows and the scroll bars of their frames.
#include "twcl/ui/scroll_window.h"

#include <algorithm>

#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {
HWND FrameOf(const UI_VisualObject* bar) {
  return bar->Parent() ? Hwnd(bar->Parent()->Handle()) : nullptr;
}
}  // namespace

// --- UI_WindowScrollBar

UI_WindowScrollBar::UI_WindowScrollBar(UI_VisualObject* window, long id, bool vertical)
    : UI_ScrollBar(window, UI_Rectangle(), id, vertical) {}

const char* UI_WindowScrollBar::ClassName() const {
  return "UI_ScrollBar";
}

bool UI_WindowScrollBar::ShowsInWindow() const {
  return FrameOf(this) != nullptr;
}

bool UI_WindowScrollBar::NativeBar(UI_NativeHandle* window, int* which) const {
  *window = FrameOf(this);
  *which = Vertical() ? SB_VERT : SB_HORZ;
  return *window != nullptr;
}

void UI_WindowScrollBar::RangeToWindow() {
  if (HWND f = FrameOf(this))
    SetScrollRange(f, Vertical() ? SB_VERT : SB_HORZ, int(Range().Low()),
                   int(std::max<long>(MaxPosition(), Range().Low())), TRUE);
}

void UI_WindowScrollBar::PositionToWindow(long p) {
  if (HWND f = FrameOf(this)) SetScrollPos(f, Vertical() ? SB_VERT : SB_HORZ, int(p), TRUE);
}

void UI_WindowScrollBar::ToWindow() {
  Quietly([this] { Refresh(); });
  // A range sets the bar showing again; a bar hidden or disabled before stays so.
  if (HWND f = FrameOf(this)) {
    if (!visible_) ShowScrollBar(f, Vertical() ? SB_VERT : SB_HORZ, FALSE);
    if (!enabled_) EnableScrollBar(f, Vertical() ? SB_VERT : SB_HORZ, ESB_DISABLE_BOTH);
  }
}

bool UI_WindowScrollBar::Show(bool on) {
  visible_ = on;
  if (HWND f = FrameOf(this)) ShowScrollBar(f, Vertical() ? SB_VERT : SB_HORZ, on);
  return true;
}

bool UI_WindowScrollBar::Enable(bool on) {
  enabled_ = on;
  if (HWND f = FrameOf(this))
    EnableScrollBar(f, Vertical() ? SB_VERT : SB_HORZ, on ? ESB_ENABLE_BOTH : ESB_DISABLE_BOTH);
  return true;
}

// --- UI_ScrollableWindow

UI_ScrollableWindow::UI_ScrollableWindow(UI_VisualObject* parent, const UI_Rectangle& shape,
                                         long id)
    : UI_VisualObject(parent, shape, id),
      hbar_(new UI_WindowScrollBar(this, kHScrollBarId, false)),
      vbar_(new UI_WindowScrollBar(this, kVScrollBarId, true)) {}

const char* UI_ScrollableWindow::ClassName() const {
  return "UI_ScrollableWindow";
}

std::uint32_t UI_ScrollableWindow::NativeStyle() const {
  std::uint32_t s = UI_VisualObject::NativeStyle() | WS_HSCROLL | WS_VSCROLL;
  return parent_ ? s | WS_BORDER : s | WS_OVERLAPPEDWINDOW;
}

bool UI_ScrollableWindow::AfterCreate() {
  if (!MakeChildren()) return false;
  hbar_->ToWindow();
  vbar_->ToWindow();
  return true;
}

bool UI_ScrollableWindow::Show(bool on) {
  for (UI_VisualObject* c : children_) c->Show(on);
  return UI_VisualObject::Show(on);
}

bool UI_ScrollableWindow::Enable(bool on) {
  for (UI_VisualObject* c : children_) c->Enable(on);
  return UI_VisualObject::Enable(on);
}

std::intptr_t UI_ScrollableWindow::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                       std::intptr_t lp) {
  switch (msg) {
    case WM_HSCROLL:
    case WM_VSCROLL: {
      if (lp) {  // a scroll-bar control among the children
        if (RouteToControl(msg, wp, lp)) return 0;
        break;
      }
      // The frame's own bar: its object takes the scroll as a control would.
      UI_WindowScrollBar* bar = msg == WM_VSCROLL ? vbar_ : hbar_;
      UI_Event e(UI_ScrollEventType(LOWORD(wp)), bar);
      e.param = long(short(HIWORD(wp)));
      bar->Dispatch(e);
      return 0;
    }
    case WM_COMMAND:
      if (lp && RouteToControl(msg, wp, lp)) return 0;
      break;
    case WM_ERASEBKGND: {
      // A white page behind the children.
      RECT r;
      GetClientRect(Hwnd(handle_), &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      return 1;
    }
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}
