// Buttons that draw themselves: a panel with a picture, raised at rest and sunken while
// pressed, announcing each press-and-release once with an Event_Select.
#ifndef TW_TWCL_UI_PICTURE_BUTTON_H_
#define TW_TWCL_UI_PICTURE_BUTTON_H_

#include "twcl/ui/bitmap.h"
#include "twcl/ui/controls.h"

class UI_OwnerDrawButton : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_OwnerDrawButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                     const char* title);
  ~UI_OwnerDrawButton() override;

  UI_Bitmap* Bitmap() { return &picture_; }
  virtual bool ShowsRaised() const = 0;
  virtual void Pressed() = 0;
  virtual void Released() = 0;
  // The picture changed: drawn again on the next paint.
  bool BitmapChanged();
  // Between a press and its release (mouse or space bar).
  bool IsDown() const { return down_; }
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;
  using UI_VisualObject::Paint;

 protected:
  std::uint32_t NativeStyle() const override;

 private:
  void Press();
  void Release(bool select);
  void Paint(void* dc);
  UI_Bitmap picture_;
  bool down_ = false;
};

class UI_BitmapPushButton : public UI_OwnerDrawButton {
 public:
  using CL_Object::operator=;
  // The picture is built from data when given.
  UI_BitmapPushButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                      const UI_BitmapData* picture, const char* title = "");
  const char* ClassName() const override;  // "UI_BitmapPushButton"
  bool ShowsRaised() const override { return true; }
  void Pressed() override {}
  void Released() override {}
};

#endif  // TW_TWCL_UI_PICTURE_BUTTON_H_
