// The progress page's text form and the installation directory's trailing "/".
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "setup_wizard.h"

namespace {

using tw::install::gui::EndWithSlash;
using tw::install::gui::SetupProgressText;

TEST(ProgressText, EveryLineLedByCarriageReturnAndLineFeed) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"one", "\r\none"},
      {"one\n\ntwo", "\r\none\r\ntwo"},
      {"\nDone.\n", "\r\nDone."},
      {"a\nb\nc", "\r\na\r\nb\r\nc"},
      // Nothing but line ends: no line to show, the text stays as it is.
      {"\n\n", "\n\n"},
      {"caf\xC3\xA9\n", "\r\ncaf\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(SetupProgressText(c.in), c.out);
  }
}

// The "/" is added only where it fits: a directory at the field's limit is refused whole,
// and nothing is written past the field.
TEST(ProgressText, TrailingSlashNeverWritesPastTheField) {
  struct Case {
    std::string in;
    bool ok;
    std::string out;
  } cases[] = {
      {"/opt/tw", true, "/opt/tw/"},
      {"/opt/tw/", true, "/opt/tw/"},
      {"/" + std::string(13, 'a'), true, "/" + std::string(13, 'a') + "/"},  // 15 of 16 used
      {"/" + std::string(14, 'a'), false, "/" + std::string(14, 'a')},       // 15 + NUL fill it
      {"/" + std::string(13, 'a') + "/", true, "/" + std::string(13, 'a') + "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    struct {
      char field[16];
      char guard[8];
    } f;
    std::memset(&f, 'G', sizeof f);
    std::memcpy(f.field, c.in.c_str(), c.in.size() + 1);
    EXPECT_EQ(EndWithSlash(f.field), c.ok);
    EXPECT_EQ(std::string(f.field), c.out);
    EXPECT_EQ(std::string(f.guard, sizeof f.guard), std::string(8, 'G'));
  }
}

}  // namespace
