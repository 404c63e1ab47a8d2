#include "twcl/ui/dialog_template.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(v & 0xff);
  out.push_back(v >> 8 & 0xff);
}

void PutString(std::vector<std::uint8_t>& out, const std::string& s) {
  for (char16_t c : UI_Utf16(s)) Put16(out, c);
  Put16(out, 0);
}

}  // namespace

std::u16string UI_Utf16(const std::string& s) {
  std::u16string out;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    auto b = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xfffd;
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) {
      ++i;
    } else {
      cp = len == 1 ? b : b & (0x7f >> len);
      bool ok = true;
      for (std::size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xc0) != 0x80) ok = false;
        cp = cp << 6 | (c & 0x3f);
      }
      if (!ok || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) cp = 0xfffd;
      i += ok ? len : 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xd800 + (cp >> 10)));
      out.push_back(char16_t(0xdc00 + (cp & 0x3ff)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  return out;
}

std::string UI_Utf8(const std::u16string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xd800 && cp <= 0xdbff && i + 1 < s.size() && s[i + 1] >= 0xdc00 && s[i + 1] <= 0xdfff)
      cp = 0x10000 + ((cp - 0xd800) << 10) + (s[++i] - 0xdc00);
    else if (cp >= 0xd800 && cp <= 0xdfff)
      cp = 0xfffd;
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xc0 | cp >> 6);
      out += char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
      out += char(0xe0 | cp >> 12);
      out += char(0x80 | (cp >> 6 & 0x3f));
      out += char(0x80 | (cp & 0x3f));
    } else {
      out += char(0xf0 | cp >> 18);
      out += char(0x80 | (cp >> 12 & 0x3f));
      out += char(0x80 | (cp >> 6 & 0x3f));
      out += char(0x80 | (cp & 0x3f));
    }
  }
  return out;
}

std::vector<std::uint8_t> UI_BuildDialogTemplate(const UI_DialogTemplateSpec& spec) {
  std::vector<std::uint8_t> out;
  bool font = spec.style & UI_DS_SETFONT;
  Put16(out, spec.style & 0xffff);
  Put16(out, spec.style >> 16);
  Put16(out, spec.ex_style & 0xffff);
  Put16(out, spec.ex_style >> 16);
  Put16(out, 0);  // no items: the library makes the children itself
  Put16(out, std::uint16_t(spec.x));
  Put16(out, std::uint16_t(spec.y));
  Put16(out, std::uint16_t(spec.cx));
  Put16(out, std::uint16_t(spec.cy));
  Put16(out, 0);  // no menu
  PutString(out, spec.class_name);
  PutString(out, spec.title);
  if (font) {
    Put16(out, spec.font_points);
    PutString(out, spec.font_face);
  }
  while (out.size() % 4) out.push_back(0);
  return out;
}
