// The three-dimensional look: which objects use it, and the colours their windows answer
// for their controls. Runs under Xvfb.
#include <gtest/gtest.h>

#include "../collect_warnings.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/probe.h"

namespace {

using namespace ui_probe;

const UI_ChildDescriptor kInner[] = {{UI_KindLabel, 21, 4, 4, 80, 20, false, "inner", nullptr},
                                     {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};
const UI_ChildDescriptor kTable[] = {
    {UI_KindLabel, 10, 10, 10, 100, 20, false, "label", nullptr},
    {UI_KindComposite, 20, 10, 40, 120, 40, false, nullptr, kInner},
    {UI_KindPushButton, 1, 10, 90, 80, 26, true, "OK", nullptr},
    {UI_KindEnd, 0, 0, 0, 0, 0, false, nullptr, nullptr}};

using LookTest = CollectWarnings;

TEST_F(LookTest, ThreeDimensionalLookIsInheritedAndColoursTheControls) {
  UI_CompositeVObject plain(nullptr, kTable, false, UI_Rectangle(20, 20, 200, 140), -1, "Plain");
  UI_Dialog dialog(nullptr, UI_Rectangle(240, 20, 200, 140), "Dialog", kTable);
  ASSERT_TRUE(plain.MakeVisualElement());
  ASSERT_TRUE(dialog.MakeVisualElement());
  void* dc = UI_ProbeMemoryDc();
  const std::uint32_t face = UI_ProbeSysColor(kColorBtnFace);

  struct Step {
    const char* what;
    std::function<void()> act;
    bool plain_uses, dialog_uses;
  } steps[] = {
      {"as made", [] {}, false, true},
      {"plain switched on", [&] { plain.Use3DLook(); }, true, true},
      {"dialog switched off", [&] { dialog.Use3DLook(false); }, true, false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    s.act();
    struct Window {
      UI_CompositeVObject* top;
      bool uses;
    } windows[] = {{&plain, s.plain_uses}, {&dialog, s.dialog_uses}};
    for (const auto& w : windows) {
      SCOPED_TRACE(w.top->Title().AsPtr());
      // The composite and every descendant, the nested composite's own children included.
      for (UI_VisualObject* o : {static_cast<UI_VisualObject*>(w.top), w.top->Child(10),
                                 w.top->Child(20), w.top->Child(21), w.top->Child(1)})
        EXPECT_EQ(o->Uses3DLook(), w.uses) << o->Id();
      // A scroll bar's colours: the dialogs' face with the look, Win32's default without.
      auto wp = reinterpret_cast<std::uintptr_t>(dc);
      std::intptr_t brush = UI_ProbeSend(w.top->Handle(), kWmCtlColorScrollBar, wp, 0);
      ASSERT_TRUE(UI_ProbeBrush(reinterpret_cast<void*>(brush)).ok);
      if (w.uses) {
        EXPECT_EQ(UI_ProbeBrush(reinterpret_cast<void*>(brush)).color, face);
        EXPECT_EQ(UI_ProbeBkColor(dc), face);
      } else {
        EXPECT_NE(UI_ProbeBkColor(dc), face);
        EXPECT_EQ(brush, UI_ProbeDefaultAnswer(w.top->Handle(), kWmCtlColorScrollBar, wp, 0));
      }
      // A label's text is written on the face (both looks agree on that here).
      UI_ProbeSend(w.top->Handle(), kWmCtlColorStatic, wp,
                   reinterpret_cast<std::intptr_t>(w.top->Child(10)->Handle()));
      EXPECT_EQ(UI_ProbeBkColor(dc), face);
    }
  }
  UI_ProbeFreeDc(dc);
  EXPECT_TRUE(g_warnings.empty());
}

}  // namespace
