// Private to the Win32 half: Wine's headers and the conversions between the library's UTF-8
// strings and the 16-bit characters of the wide Win32 calls.
#ifndef TW_TWCL_UI_WIN32_NATIVE_H_
#define TW_TWCL_UI_WIN32_NATIVE_H_

#include <windows.h>
#include <commdlg.h>

#include <string>
#include <utility>

#include "twcl/ui/dialog_template.h"

namespace twui {

// Wine's wchar_t is 16 bits wide but the C library's wide functions (and with them
// std::wstring's length and compare) assume 32: wide text is held as std::u16string and
// only its buffer is handed to Win32.
struct WideText {
  std::u16string s;
  LPCWSTR c_str() const { return reinterpret_cast<LPCWSTR>(s.c_str()); }
  LPWSTR data() { return reinterpret_cast<LPWSTR>(s.data()); }
  bool empty() const { return s.empty(); }
};

inline WideText Wide(const char* utf8) { return {UI_Utf16(utf8 ? utf8 : "")}; }
inline WideText WideBuffer(size_t n) { return {std::u16string(n, u'\0')}; }

inline std::string Narrow(const wchar_t* w, size_t n) {
  const auto* p = reinterpret_cast<const char16_t*>(w);
  return UI_Utf8(std::u16string(p, p + n));
}

inline std::string WindowText(HWND h) {
  int n = GetWindowTextLengthW(h);
  WideText buf = WideBuffer(size_t(n) + 1);
  n = GetWindowTextW(h, buf.data(), n + 1);
  return Narrow(buf.c_str(), size_t(n < 0 ? 0 : n));
}

inline HWND Hwnd(void* h) { return static_cast<HWND>(h); }

// The window class of the library's own top-level and child windows.
extern const wchar_t kWindowClass[];
bool RegisterClasses();
LRESULT CALLBACK WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
// Hands a WM_COMMAND or a scroll message that a control sent its parent window to the
// control's object, and its event up the tree; false when the control is not the library's.
bool RouteToControl(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp);

// The three-dimensional control library: the program registered with it (and its dialogs
// styled from then on), one dialog's or control's styling, and the colour answer of the
// five control-colour messages it takes (the dialogs' face when it gives none).
void Ctl3dRegister();
void Ctl3dUnregister();
void Ctl3dStyleDialog(HWND dialog);
void Ctl3dStyleControl(HWND control);
bool IsControlColorMessage(UINT msg);
LRESULT Ctl3dControlColor(UINT msg, WPARAM wp, LPARAM lp);

}  // namespace twui

#endif  // TW_TWCL_UI_WIN32_NATIVE_H_
