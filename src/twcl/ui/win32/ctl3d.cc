// The three-dimensional control library (CTL3D32), imported by ordinal when the system has
// it; without it every call falls back to the plain look.
#include <type_traits>

#include "twcl/ui/win32/native.h"

namespace twui {

namespace {

struct Ctl3dLibrary {
  using InstanceFn = BOOL(WINAPI*)(HINSTANCE);
  using SubclassDlgFn = BOOL(WINAPI*)(HWND, WORD);
  using SubclassCtlFn = BOOL(WINAPI*)(HWND);
  using CtlColorFn = HBRUSH(WINAPI*)(UINT, WPARAM, LPARAM);
  InstanceFn reg = nullptr, unreg = nullptr, auto_subclass = nullptr;
  SubclassDlgFn subclass_dlg = nullptr;
  SubclassCtlFn subclass_ctl = nullptr;
  CtlColorFn ctl_color = nullptr;

  Ctl3dLibrary() {
    HMODULE m = LoadLibraryW(L"ctl3d32.dll");
    if (!m) return;
    // The library's ordinals: 2 SubclassDlg, 3 SubclassCtl, 12 Register, 13 Unregister,
    // 16 AutoSubclass, 18 CtlColorEx.
    auto get = [m](auto& fn, int ordinal) {
      void* p = reinterpret_cast<void*>(GetProcAddress(m, MAKEINTRESOURCEA(ordinal)));
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(p);
    };
    get(reg, 12);
    get(unreg, 13);
    get(auto_subclass, 16);
    get(subclass_dlg, 2);
    get(subclass_ctl, 3);
    get(ctl_color, 18);
  }
};

Ctl3dLibrary& Library() {
  static Ctl3dLibrary l;
  return l;
}

}  // namespace

void Ctl3dRegister() {
  Ctl3dLibrary& l = Library();
  HINSTANCE self = GetModuleHandleW(nullptr);
  if (l.reg && l.reg(self) && l.auto_subclass) l.auto_subclass(self);
}

void Ctl3dUnregister() {
  if (Ctl3dLibrary& l = Library(); l.unreg) l.unreg(GetModuleHandleW(nullptr));
}

void Ctl3dStyleDialog(HWND dialog) {
  if (Ctl3dLibrary& l = Library(); l.subclass_dlg) l.subclass_dlg(dialog, 0xffff);
}

void Ctl3dStyleControl(HWND control) {
  if (Ctl3dLibrary& l = Library(); l.subclass_ctl) l.subclass_ctl(control);
}

bool IsControlColorMessage(UINT msg) {
  switch (msg) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return true;
    default:
      return false;
  }
}

LRESULT Ctl3dControlColor(UINT msg, WPARAM wp, LPARAM lp) {
  Ctl3dLibrary& l = Library();
  if (HBRUSH b = l.ctl_color ? l.ctl_color(msg, wp, lp) : nullptr)
    return reinterpret_cast<LRESULT>(b);
  // The dialogs' face behind the control's text as well as under it.
  SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace twui
