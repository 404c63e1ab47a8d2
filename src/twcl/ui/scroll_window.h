// A window with the two scroll bars of its own frame. Each bar is a scroll-bar object like
// the controls' (model: the part of its range in view) that drives the frame's bar instead
// of a window of its own; scrolling the frame's bars reaches the bar objects as the scroll
// events of a control, which then climb to the window and its ancestors.
#ifndef TW_TWCL_UI_SCROLL_WINDOW_H_
#define TW_TWCL_UI_SCROLL_WINDOW_H_

#include "twcl/ui/controls.h"

class UI_WindowScrollBar : public UI_ScrollBar {
 public:
  using CL_Object::operator=;
  UI_WindowScrollBar(UI_VisualObject* window, long id, bool vertical);
  const char* ClassName() const override;  // "UI_ScrollBar"
  // There is no window to make: the bar is part of its parent's frame.
  bool MakeVisualElement() override { return true; }
  // Show, hide, enable and disable the frame's bar.
  bool Show(bool on = true) override;
  bool Enable(bool on = true) override;
  // Brings the frame's bar in line with the range and position.
  void ToWindow();

 protected:
  bool ShowsInWindow() const override;
  bool NativeBar(UI_NativeHandle* window, int* which) const override;
  void PositionToWindow(long position) override;
  void RangeToWindow() override;
};

class UI_ScrollableWindow : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  static constexpr long kHScrollBarId = 32700, kVScrollBarId = 32701;
  UI_ScrollableWindow(UI_VisualObject* parent, const UI_Rectangle& shape, long id);
  const char* ClassName() const override;  // "UI_ScrollableWindow"
  UI_WindowScrollBar* HScrollBar() const { return hbar_; }
  UI_WindowScrollBar* VScrollBar() const { return vbar_; }
  // Over the window and every child (the frame's bars included).
  bool Show(bool on = true) override;
  bool Enable(bool on = true) override;
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;

 protected:
  std::uint32_t NativeStyle() const override;
  bool AfterCreate() override;

 private:
  UI_WindowScrollBar* hbar_;
  UI_WindowScrollBar* vbar_;
};

#endif  // TW_TWCL_UI_SCROLL_WINDOW_H_
