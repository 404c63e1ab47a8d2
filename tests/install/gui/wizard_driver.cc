// The wizard driver on Win32 (compiled with wineg++).
#include "wizard_driver.h"

#include <set>

#include "twcl/ui/probe.h"
#include "twcl/ui/win32/native.h"

namespace wizdrv {
namespace {

using twui::Hwnd;

std::string ClassOf(HWND h) {
  wchar_t cls[128];
  int n = GetClassNameW(h, cls, 128);
  return twui::Narrow(cls, size_t(n < 0 ? 0 : n));
}

struct TopSearch {
  std::string title, cls;
  HWND found = nullptr;
  std::vector<std::pair<Handle, std::string>>* all = nullptr;
};

BOOL CALLBACK OnTop(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<TopSearch*>(lp);
  if (!IsWindowVisible(h)) return TRUE;
  if (s->all) {
    if (ClassOf(h) == "#32770") s->all->push_back({h, Text(h)});
    return TRUE;
  }
  if (Text(h) != s->title || (!s->cls.empty() && ClassOf(h) != s->cls)) return TRUE;
  s->found = h;
  return FALSE;
}

bool IsRadio(HWND h) {
  return ClassOf(h) == "Button" &&
         (GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

}  // namespace

Handle FindTop(const std::string& title, const std::string& cls) {
  TopSearch s{title, cls};
  EnumWindows(OnTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::vector<std::pair<Handle, std::string>> Dialogs() {
  std::vector<std::pair<Handle, std::string>> all;
  TopSearch s;
  s.all = &all;
  EnumWindows(OnTop, reinterpret_cast<LPARAM>(&s));
  return all;
}

Handle FindControl(Handle window, long id, Kind kind) {
  for (const UI_ProbeWindow& w : UI_ProbeChildren(window)) {
    if (w.id != id) continue;
    bool radio = IsRadio(Hwnd(w.handle));
    if (kind == Kind::radio && !radio) continue;
    if (kind == Kind::notRadio && radio) continue;
    return w.handle;
  }
  return nullptr;
}

std::string Text(Handle window) {
  HWND h = Hwnd(window);
  LRESULT n = SendMessageW(h, WM_GETTEXTLENGTH, 0, 0);
  if (n <= 0) return std::string();
  twui::WideText buf = twui::WideBuffer(size_t(n) + 1);
  n = SendMessageW(h, WM_GETTEXT, WPARAM(n + 1), reinterpret_cast<LPARAM>(buf.data()));
  return twui::Narrow(buf.c_str(), size_t(n < 0 ? 0 : n));
}

bool Visible(Handle window) {
  return IsWindowVisible(Hwnd(window)) != 0;
}
bool Enabled(Handle window) {
  return IsWindowEnabled(Hwnd(window)) != 0;
}
bool ReadOnly(Handle editor) {
  return (GetWindowLongW(Hwnd(editor), GWL_STYLE) & ES_READONLY) != 0;
}
bool Checked(Handle button) {
  return SendMessageW(Hwnd(button), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Type(Handle editor, const std::string& text) {
  UI_ProbeSetText(editor, text.c_str());
}
void Key(Handle window, char c) {
  PostMessageW(Hwnd(window), WM_CHAR, WPARAM(static_cast<unsigned char>(c)), 1);
}
void Click(Handle button) {
  // Native and picture buttons alike answer the standard click request with a whole press;
  // posted mouse messages would be judged against the real pointer, which lies elsewhere.
  UI_ProbePostClick(button);
}

std::string BoxMessage(Handle box) {
  // The message is the box's static control 0xFFFF (Wine and Windows alike).
  if (HWND text = GetDlgItem(Hwnd(box), 0xFFFF)) return Text(text);
  return std::string();
}

bool Screenshot(Handle window, const std::string& path) {
  UI_BitmapData data;
  return UI_ProbeCapture(window, &data) && data.WriteTo((path + ".bmp").c_str());
}

size_t Colours(Handle window) {
  UI_BitmapData data;
  if (!UI_ProbeCapture(window, &data)) return 0;
  std::set<std::uint32_t> seen(data.Pixels().begin(), data.Pixels().end());
  return seen.size();
}

void Breathe() {
  Sleep(10);
}

}  // namespace wizdrv
