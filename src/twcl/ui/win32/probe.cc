#include "twcl/ui/probe.h"

#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

UI_ProbeWindow Describe(HWND h) {
  UI_ProbeWindow w;
  w.handle = h;
  w.id = long(GetDlgCtrlID(h));
  wchar_t cls[128];
  int n = GetClassNameW(h, cls, 128);
  w.cls = Narrow(cls, std::size_t(n < 0 ? 0 : n));
  w.text = WindowText(h);
  w.style = std::uint32_t(GetWindowLongW(h, GWL_STYLE));
  RECT r;
  GetWindowRect(h, &r);
  if (HWND p = GetParent(h); p && (w.style & WS_CHILD))
    MapWindowPoints(nullptr, p, reinterpret_cast<POINT*>(&r), 2);
  w.x = r.left;
  w.y = r.top;
  w.width = r.right - r.left;
  w.height = r.bottom - r.top;
  w.visible = (w.style & WS_VISIBLE) != 0;
  w.enabled = IsWindowEnabled(h) != 0;
  return w;
}

BOOL CALLBACK Collect(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<UI_ProbeWindow>*>(lp)->push_back(Describe(h));
  return TRUE;
}

void NotifyParent(HWND h, unsigned code) {
  SendMessageW(GetParent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), code),
               reinterpret_cast<LPARAM>(h));
}

struct Answer {
  std::u16string caption;
  int button = 0;
  UINT_PTR timer = 0;
};
Answer g_answer;

BOOL CALLBACK FindBox(HWND h, LPARAM lp) {
  if (!IsWindowVisible(h)) return TRUE;
  wchar_t cls[32];
  GetClassNameW(h, cls, 32);
  if (lstrcmpW(cls, L"#32770") != 0) return TRUE;
  if (Wide(WindowText(h).c_str()).s != g_answer.caption) return TRUE;
  *reinterpret_cast<HWND*>(lp) = h;
  return FALSE;
}

void CALLBACK AnswerTimer(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
  if (!box) return;  // not shown yet: the timer comes again
  KillTimer(nullptr, g_answer.timer);
  g_answer.timer = 0;
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(g_answer.button, BN_CLICKED), 0);
}

}  // namespace

std::vector<UI_ProbeWindow> UI_ProbeChildren(UI_NativeHandle parent) {
  std::vector<UI_ProbeWindow> out;
  EnumChildWindows(Hwnd(parent), Collect, reinterpret_cast<LPARAM>(&out));
  return out;
}

UI_ProbeWindow UI_ProbeInfo(UI_NativeHandle window) {
  return Describe(Hwnd(window));
}

std::intptr_t UI_ProbeSend(UI_NativeHandle window, std::uint32_t msg, std::uintptr_t wp,
                           std::intptr_t lp) {
  return SendMessageW(Hwnd(window), msg, wp, lp);
}

bool UI_ProbePost(UI_NativeHandle window, std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
  return PostMessageW(Hwnd(window), msg, wp, lp);
}

void UI_ProbeClick(UI_NativeHandle button) {
  SendMessageW(Hwnd(button), BM_CLICK, 0, 0);
}
void UI_ProbePostClick(UI_NativeHandle button) {
  PostMessageW(Hwnd(button), BM_CLICK, 0, 0);
}

void UI_ProbeSetText(UI_NativeHandle edit, const char* utf8) {
  SendMessageW(Hwnd(edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(utf8).c_str()));
  NotifyParent(Hwnd(edit), EN_CHANGE);
}

void UI_ProbeType(UI_NativeHandle window, char c, bool shift) {
  // The shift state is read from the keyboard state when the key is translated.
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
  PostMessageW(Hwnd(window), WM_CHAR, WPARAM(static_cast<unsigned char>(c)), 1);
}

void UI_ProbeChooseItem(UI_NativeHandle list, long index) {
  HWND h = Hwnd(list);
  wchar_t cls[32];
  GetClassNameW(h, cls, 32);
  if (lstrcmpiW(cls, L"ComboBox") == 0) {
    SendMessageW(h, CB_SETCURSEL, WPARAM(index), 0);
    NotifyParent(h, CBN_SELCHANGE);
  } else {
    SendMessageW(h, LB_SETCURSEL, WPARAM(index), 0);
    NotifyParent(h, LBN_SELCHANGE);
  }
}

void UI_ProbeToggleItem(UI_NativeHandle list, long index) {
  HWND h = Hwnd(list);
  LRESULT on = SendMessageW(h, LB_GETSEL, WPARAM(index), 0);
  SendMessageW(h, LB_SETSEL, on > 0 ? FALSE : TRUE, LPARAM(index));
  NotifyParent(h, LBN_SELCHANGE);
}

void UI_ProbeScroll(UI_NativeHandle bar, unsigned code, long position) {
  HWND h = Hwnd(bar);
  UINT msg = (GetWindowLongW(h, GWL_STYLE) & SBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
  SendMessageW(GetParent(h), msg, MAKEWPARAM(code, WORD(position)), reinterpret_cast<LPARAM>(h));
}

void UI_ProbePressKey(unsigned vk, bool shift) {
  INPUT in[4] = {};
  int n = 0;
  auto key = [&](WORD code, bool up) {
    in[n].type = INPUT_KEYBOARD;
    in[n].ki.wVk = code;
    in[n].ki.wScan = WORD(MapVirtualKeyW(code, 0));
    in[n].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ++n;
  };
  if (shift) key(VK_SHIFT, false);
  key(WORD(vk), false);
  key(WORD(vk), true);
  if (shift) key(VK_SHIFT, true);
  SendInput(UINT(n), in, sizeof(INPUT));
}

std::string UI_ProbeListText(UI_NativeHandle list, long index) {
  HWND h = Hwnd(list);
  LRESULT n = SendMessageW(h, LB_GETTEXTLEN, WPARAM(index), 0);
  if (n < 0) return std::string();
  WideText buf = WideBuffer(std::size_t(n) + 1);
  SendMessageW(h, LB_GETTEXT, WPARAM(index), reinterpret_cast<LPARAM>(buf.data()));
  return Narrow(buf.c_str(), std::size_t(n));
}

void UI_ProbeReshape(UI_NativeHandle window, long x, long y, long width, long height,
                     std::uint32_t style) {
  HWND h = Hwnd(window);
  SetWindowLongW(h, GWL_STYLE, LONG(style));
  SetWindowPos(h, nullptr, int(x), int(y), int(width), int(height),
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

UI_NativeHandle UI_ProbeFocus() {
  return GetFocus();
}
bool UI_ProbeIsWindow(UI_NativeHandle window) {
  return IsWindow(Hwnd(window)) != 0;
}

void UI_ProbeAnswerMessageBox(const char* caption, int button_id) {
  g_answer.caption = Wide(caption).s;
  g_answer.button = button_id;
  if (g_answer.timer) KillTimer(nullptr, g_answer.timer);
  g_answer.timer = SetTimer(nullptr, 0, 20, AnswerTimer);
}

bool UI_ProbeCapture(UI_NativeHandle window, UI_BitmapData* out) {
  HWND h = Hwnd(window);
  RECT r;
  if (!GetWindowRect(h, &r)) return false;
  int w = r.right - r.left, ht = r.bottom - r.top;
  if (w <= 0 || ht <= 0 || w > 32767 || ht > 32767) return false;
  UpdateWindow(h);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, ht);
  HGDIOBJ old = SelectObject(mem, bmp);
  bool ok = BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  std::vector<std::uint32_t> px;
  if (ok) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -ht;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> raw(std::size_t(w) * std::size_t(ht));
    ok = GetDIBits(mem, bmp, 0, UINT(ht), raw.data(), &bi, DIB_RGB_COLORS) == ht;
    // 0x00RRGGBB in memory order B, G, R: the file's byte order is B, G, R as well.
    for (std::uint32_t v : raw) px.push_back((v & 0xff) << 16 | (v & 0xff00) | (v >> 16 & 0xff));
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  *out = UI_BitmapData(short(w), short(ht), 24, 0, nullptr, px.data());
  return true;
}

UI_NativeHandle UI_ProbeCreateControl(UI_NativeHandle parent, const char* cls, const char* text,
                                      std::uint32_t style, long id, long x, long y, long width,
                                      long height) {
  return CreateWindowExW(0, Wide(cls).c_str(), Wide(text).c_str(), style | WS_CHILD, int(x), int(y),
                         int(width), int(height), Hwnd(parent),
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

void* UI_ProbeProperty(UI_NativeHandle window, const char* name) {
  return GetPropW(Hwnd(window), Wide(name).c_str());
}

void* UI_ProbeWindowProc(UI_NativeHandle window) {
  return reinterpret_cast<void*>(GetWindowLongPtrW(Hwnd(window), GWLP_WNDPROC));
}

bool UI_ProbeCursorShape(void* cursor, long* hot_x, long* hot_y, long* width) {
  ICONINFO info;
  if (!cursor || !GetIconInfo(static_cast<HCURSOR>(cursor), &info)) return false;
  *hot_x = long(info.xHotspot);
  *hot_y = long(info.yHotspot);
  BITMAP b;
  *width = GetObjectW(info.hbmMask, sizeof b, &b) ? long(b.bmWidth) : 0;
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return !info.fIcon;
}
