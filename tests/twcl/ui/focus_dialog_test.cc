#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "twcl/ui/dialog_template.h"
#include "twcl/ui/focus_order.h"

namespace {

constexpr UI_FocusCandidate kOn{true, true, true};
constexpr UI_FocusCandidate kHidden{false, true, true};
constexpr UI_FocusCandidate kDisabled{true, false, true};
constexpr UI_FocusCandidate kNoStop{true, true, false};

TEST(FocusOrder, TabSkipsWhatCannotTakeTheFocus) {
  struct Case {
    const char* name;
    std::vector<UI_FocusCandidate> children;
    long current;
    int direction;
    bool wraps;
    bool answer;
    long index;
  } cases[] = {
      {"next", {kOn, kOn, kOn}, 0, 1, true, true, 1},
      {"skips hidden and disabled", {kOn, kHidden, kDisabled, kOn}, 0, 1, true, true, 3},
      {"skips no tab stop", {kOn, kNoStop, kOn}, 0, 1, true, true, 2},
      {"wraps forward", {kOn, kHidden, kOn}, 2, 1, true, true, 0},
      {"wraps backward", {kOn, kOn, kHidden}, 0, -1, true, true, 1},
      {"back to itself: no change", {kOn, kHidden, kDisabled}, 0, 1, true, true, -1},
      {"no focus yet starts at the first", {kHidden, kOn, kOn}, -1, 1, true, true, 1},
      {"all hidden, no focus yet: ends", {kHidden, kHidden, kHidden}, -1, 1, true, true, -1},
      {"all hidden, backward: ends", {kHidden, kDisabled, kHidden}, -1, -1, true, true, -1},
      {"child composite runs off the end", {kOn, kOn, kHidden}, 1, 1, false, false, -1},
      {"child composite, all hidden", {kHidden, kHidden}, -1, 1, false, false, -1},
      {"fewer than two children", {kOn}, 0, 1, true, false, -1},
      {"bad direction", {kOn, kOn}, 0, 2, true, false, -1},
  };
  for (const auto& c : cases) {
    UI_FocusMove m = UI_NextFocus(c.children, c.current, c.direction, c.wraps);
    EXPECT_EQ(m.answer, c.answer) << c.name;
    EXPECT_EQ(m.index, c.index) << c.name;
  }
}

std::u16string Utf16At(const std::vector<std::uint8_t>& t, std::size_t& at) {
  std::u16string s;
  for (;;) {
    char16_t c = char16_t(t.at(at) | t.at(at + 1) << 8);
    at += 2;
    if (!c) return s;
    s.push_back(c);
  }
}

TEST(DialogTemplate, SizedFromWhatIsWrittenIntoIt) {
  struct Case {
    std::string title, cls, face;
    std::uint32_t style;
  } cases[] = {
      {"", "", "", 0x80c80080},
      {"Setup", "", "", 0x80c80080},
      {std::string(300, 'T'), "", "", 0x80c80080},  // long titles were cut at a fixed size
      {"Déjà vu \xF0\x9F\x98\x80", "TwclDialog", "MS Sans Serif", 0x80c800c0},
  };
  for (const auto& c : cases) {
    UI_DialogTemplateSpec spec;
    spec.style = c.style;
    spec.x = -3;
    spec.cx = 200;
    spec.cy = 100;
    spec.title = c.title;
    spec.class_name = c.cls;
    spec.font_face = c.face;
    spec.font_points = 8;
    std::vector<std::uint8_t> t = UI_BuildDialogTemplate(spec);
    SCOPED_TRACE(c.title.substr(0, 20));
    EXPECT_EQ(t.size() % 4, 0u);
    EXPECT_EQ(t[0] | t[1] << 8 | t[2] << 16 | std::uint32_t(t[3]) << 24, c.style);
    EXPECT_EQ(std::int16_t(t[10] | t[11] << 8), -3);
    EXPECT_EQ(t[14] | t[15] << 8, 200);
    std::size_t at = 18;
    EXPECT_EQ(t[at] | t[at + 1] << 8, 0);  // no menu
    at += 2;
    EXPECT_EQ(UI_Utf8(Utf16At(t, at)), c.cls);
    EXPECT_EQ(UI_Utf8(Utf16At(t, at)), c.title);
    if (c.style & UI_DS_SETFONT) {
      EXPECT_EQ(t[at] | t[at + 1] << 8, 8);
      at += 2;
      EXPECT_EQ(UI_Utf8(Utf16At(t, at)), c.face);
    }
    EXPECT_LT(t.size() - at, 4u);  // only alignment after the last string
  }
}

TEST(DialogTemplate, Utf16RoundTripAndBadInput) {
  EXPECT_EQ(UI_Utf16("a\xC3\xA9\xF0\x9F\x98\x80"), (std::u16string{u'a', 0xe9, 0xd83d, 0xde00}));
  EXPECT_EQ(UI_Utf16("\xC3"), std::u16string(1, 0xfffd));       // cut short
  EXPECT_EQ(UI_Utf16("\xFF" "a"), (std::u16string{0xfffd, u'a'}));
  EXPECT_EQ(UI_Utf8(std::u16string(1, 0xd800)), "\xEF\xBF\xBD");  // lone surrogate
}

}  // namespace
