// Private to the Win32 half: Wine's headers and the conversions between the library's UTF-8
// strings and the 16-bit characters of the wide Win32 calls.
#ifndef TW_TWCL_UI_WIN32_NATIVE_H_
#define TW_TWCL_UI_WIN32_NATIVE_H_

#include <windows.h>
#include <commdlg.h>

#include <string>

#include "twcl/ui/dialog_template.h"

namespace twui {

inline std::wstring Wide(const char* utf8) {
  std::u16string s = UI_Utf16(utf8 ? utf8 : "");
  return std::wstring(s.begin(), s.end());
}

inline std::string Narrow(const wchar_t* w, size_t n) {
  return UI_Utf8(std::u16string(w, w + n));
}

inline std::string WindowText(HWND h) {
  int n = GetWindowTextLengthW(h);
  std::wstring buf(size_t(n) + 1, L'\0');
  n = GetWindowTextW(h, buf.data(), n + 1);
  return Narrow(buf.data(), size_t(n < 0 ? 0 : n));
}

inline HWND Hwnd(void* h) { return static_cast<HWND>(h); }

// The window class of the library's own top-level and child windows.
extern const wchar_t kWindowClass[];
bool RegisterClasses();
LRESULT CALLBACK WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

}  // namespace twui

#endif  // TW_TWCL_UI_WIN32_NATIVE_H_
