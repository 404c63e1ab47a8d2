#include "twcl/ui/probe_windows.h"

#include <map>

#include "twcl/ui/win32/native.h"

using namespace twui;

UI_ProbeClassInfo UI_ProbeClass(const char* name) {
  UI_ProbeClassInfo i;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), Wide(name).c_str(), &wc)) return i;
  i.ok = true;
  i.style = wc.style;
  i.background = reinterpret_cast<std::intptr_t>(wc.hbrBackground);
  i.class_extra = wc.cbClsExtra;
  i.window_extra = wc.cbWndExtra;
  i.icon = wc.hIcon != nullptr;
  i.cursor = wc.hCursor != nullptr;
  return i;
}

UI_ProbeTrackSizes UI_ProbeMinMax(UI_NativeHandle window) {
  MINMAXINFO m = {};
  SendMessageW(Hwnd(window), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&m));
  return {m.ptMinTrackSize.x, m.ptMinTrackSize.y, m.ptMaxTrackSize.x, m.ptMaxTrackSize.y};
}

UI_ProbeSize UI_ProbeScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

UI_ProbeSize UI_ProbeClientSize(UI_NativeHandle window) {
  RECT r = {};
  GetClientRect(Hwnd(window), &r);
  return {r.right - r.left, r.bottom - r.top};
}

void UI_ProbeClientToScreen(UI_NativeHandle window, long& x, long& y) {
  POINT p = {int(x), int(y)};
  ClientToScreen(Hwnd(window), &p);
  x = p.x;
  y = p.y;
}

void UI_ProbeSetLastError(std::uint32_t code) {
  SetLastError(code);
}

void UI_ProbeKeyboardSize(UI_NativeHandle window, bool right_edge, int steps) {
  HWND h = Hwnd(window);
  // The sizing loop reads the keys from the queue: they wait there before it starts.
  auto key = [h](WPARAM k) {
    PostMessageW(h, WM_KEYDOWN, k, 1);
    PostMessageW(h, WM_KEYUP, k, 1);
  };
  key(right_edge ? VK_RIGHT : VK_DOWN);  // picks the edge
  WPARAM move = right_edge ? (steps < 0 ? VK_LEFT : VK_RIGHT) : (steps < 0 ? VK_UP : VK_DOWN);
  for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) key(move);
  key(VK_RETURN);
  SendMessageW(h, WM_SYSCOMMAND, SC_SIZE, 0);
}

void UI_ProbeHoldControl(bool down) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = keys[VK_LCONTROL] = down ? 0x80 : 0;
  SetKeyboardState(keys);
}

namespace {
struct Watched {
  WNDPROC previous = nullptr;
  std::string seen;
};
std::map<HWND, Watched> g_watched;

LRESULT CALLBACK WatchProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  Watched& w = g_watched[h];
  if (msg == WM_CHAR) w.seen += char(wp);
  WNDPROC previous = w.previous;
  if (msg == WM_NCDESTROY) g_watched.erase(h);
  return CallWindowProcW(previous, h, msg, wp, lp);
}
}  // namespace

void UI_ProbeWatchChars(UI_NativeHandle window) {
  HWND h = Hwnd(window);
  Watched& w = g_watched[h];
  w.seen.clear();
  w.previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchProc)));
}

std::string UI_ProbeCharsSeen(UI_NativeHandle window) {
  auto it = g_watched.find(Hwnd(window));
  return it == g_watched.end() ? std::string() : it->second.seen;
}
