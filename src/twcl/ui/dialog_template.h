// The in-memory dialog template from which a dialog window is made: a DLGTEMPLATE header
// followed by the menu, window class and title (UTF-16, each ended by a zero) and, with
// DS_SETFONT, the point size and face name. The block is sized from what is written into
// it, so no title, class or face is cut or written past the end.
#ifndef TW_TWCL_UI_DIALOG_TEMPLATE_H_
#define TW_TWCL_UI_DIALOG_TEMPLATE_H_

#include <cstdint>
#include <string>
#include <vector>

struct UI_DialogTemplateSpec {
  std::uint32_t style = 0;
  std::uint32_t ex_style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string title;       // UTF-8
  std::string class_name;  // UTF-8; empty: the system dialog class
  std::string font_face;   // UTF-8; used with a point size when the style has DS_SETFONT
  std::uint16_t font_points = 0;
};

inline constexpr std::uint32_t UI_DS_SETFONT = 0x40;

// The template bytes, a multiple of 4 long (items, were there any, start DWORD-aligned).
std::vector<std::uint8_t> UI_BuildDialogTemplate(const UI_DialogTemplateSpec& spec);
// UTF-8 to UTF-16 code units; an invalid sequence becomes U+FFFD.
std::u16string UI_Utf16(const std::string& utf8);
std::string UI_Utf8(const std::u16string& utf16);

#endif  // TW_TWCL_UI_DIALOG_TEMPLATE_H_
