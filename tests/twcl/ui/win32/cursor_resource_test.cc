// Cursors loaded by name from the program's own resources (cursor_resource.rc, compiled by
// Wine's resource compiler and linked into this program), asked of Win32. Runs under Xvfb.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/probe.h"

namespace {

constexpr std::uint32_t kWmSetCursor = 0x0020, kHtClient = 1, kWmMouseMove = 0x0200;

class CursorResourceTest : public CollectWarnings {};

TEST_F(CursorResourceTest, NamedCursorsComeFromTheProgramsResources) {
  struct Case {
    const char* name;
    bool found;
  } cases[] = {{"TWCL_TEST_CROSS", true},
               {"twcl_test_cross", true},  // resource names are case-blind
               {"TWCL_TEST_CROSSES", false},
               {"", false}};
  for (const Case& k : cases) {
    g_warnings.clear();
    UI_Cursor c(1);
    void* arrow = c.Handle();
    c = k.name;
    if (k.found) {
      ASSERT_NE(c.Handle(), nullptr) << k.name;
      EXPECT_NE(c.Handle(), arrow) << k.name;
      EXPECT_EQ(std::string(c.Name().AsPtr()), k.name);
      long x = 0, y = 0, w = 0;
      ASSERT_TRUE(UI_ProbeCursorShape(c.Handle(), &x, &y, &w)) << k.name;
      EXPECT_EQ(x, 5) << k.name;
      EXPECT_EQ(y, 7) << k.name;
      EXPECT_EQ(w, 32) << k.name;
      EXPECT_TRUE(g_warnings.empty()) << k.name;
    } else {
      EXPECT_EQ(c.Handle(), arrow) << k.name;  // the cursor stays as it was
      EXPECT_EQ(c.Name().Size(), 0) << k.name;
      EXPECT_EQ(g_warnings,
                (std::vector<std::string>{std::string("TWCL: Cursor::op= (string): LoadCursor ") +
                                          k.name + " failed"}));
    }
  }
  UI_Cursor a, b;
  a = "TWCL_TEST_CROSS";
  b = "TWCL_TEST_CROSS";
  EXPECT_TRUE(a == b);
  b = 2;
  EXPECT_FALSE(a == b);
}

TEST_F(CursorResourceTest, AVisualObjectShowsItsNamedCursor) {
  UI_Controller& c = UI_Controller::Instance();
  static const UI_ChildDescriptor kNothing[] = {
      {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};
  auto dlg =
      std::make_unique<UI_Dialog>(nullptr, UI_Rectangle(40, 40, 300, 200), "Cursor", kNothing);
  ASSERT_TRUE(dlg->MakeVisualElement());
  auto* view = new UI_PaintWindow(dlg.get(), UI_Rectangle(10, 10, 200, 40), 5, nullptr);
  c.FlushEvents();
  ASSERT_NE(view->Handle(), nullptr);
  view->Cursor() = "TWCL_TEST_CROSS";
  ASSERT_NE(view->Cursor().Handle(), nullptr);
  std::intptr_t over = std::intptr_t(kHtClient | (kWmMouseMove << 16));
  UI_ProbeSend(view->Handle(), kWmSetCursor, std::uintptr_t(view->Handle()), over);
  EXPECT_EQ(UI_ProbeCursor(), view->Cursor().Handle());
  dlg.reset();
  c.FlushEvents();
  EXPECT_TRUE(g_warnings.empty());
}

}  // namespace
