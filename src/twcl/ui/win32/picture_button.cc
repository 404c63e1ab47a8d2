#include "twcl/ui/picture_button.h"

#include "twcl/base/binding.h"
#include "twcl/ui/dibutil.h"
#include "twcl/ui/shapes.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

UI_OwnerDrawButton::UI_OwnerDrawButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                       const char* title)
    : UI_SimpleVObject(parent, shape, id, title) {
  picture_.AddDependent(CL_Binding0<UI_OwnerDrawButton>(this, &UI_OwnerDrawButton::BitmapChanged));
}

UI_OwnerDrawButton::~UI_OwnerDrawButton() {
  picture_.RemoveDependent(
      CL_Binding0<UI_OwnerDrawButton>(this, &UI_OwnerDrawButton::BitmapChanged));
}

std::uint32_t UI_OwnerDrawButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | (tab_stop_ ? WS_TABSTOP : 0);
}

bool UI_OwnerDrawButton::BitmapChanged() {
  if (handle_) InvalidateRect(Hwnd(handle_), nullptr, FALSE);
  return true;
}

void UI_OwnerDrawButton::Press() {
  down_ = true;
  Pressed();
  InvalidateRect(Hwnd(handle_), nullptr, FALSE);
  UpdateWindow(Hwnd(handle_));
}

// Ends a press; the select goes out once, however the release came.
void UI_OwnerDrawButton::Release(bool select) {
  if (!down_) return;
  down_ = false;
  // Not pressed any more before the capture goes, so that its going changes nothing.
  if (GetCapture() == Hwnd(handle_)) ReleaseCapture();
  Released();
  InvalidateRect(Hwnd(handle_), nullptr, FALSE);
  UpdateWindow(Hwnd(handle_));
  if (select) {
    UI_Event e(Event_Select, this);
    Dispatch(e);
  }
}

void UI_OwnerDrawButton::Paint(void* dc) {
  RECT c;
  GetClientRect(Hwnd(handle_), &c);
  long w = c.right, h = c.bottom;
  bool raised = !down_ && ShowsRaised();
  UI_DisplaySurface s(this, dc);
  UI_ShadowRectangle(0, 0, w, h, raised ? 0 : 1, 2).DrawOn(s);
  UI_Rectangle dest =
      raised ? UI_Rectangle(8, 8, w - 16, h - 16) : UI_Rectangle(10, 10, w - 16, h - 16);
  if (!raised) {
    s.SetPen(UI_PenDescriptor(1, UI_Color(0), 1));
    s.DrawRectangle(UI_Rectangle(0, 0, w, h), 1);
  }
  if (picture_.Handle() && dest.Width() > 0 && dest.Height() > 0)
    BlitBitmap(dc, dest, picture_.Handle(), picture_.BoundingRectangle(), nullptr);
}

std::intptr_t UI_OwnerDrawButton::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                      std::intptr_t lp) {
  HWND h = Hwnd(handle_);
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      if (dc) Paint(dc);
      EndPaint(h, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint covers it all
    case WM_LBUTTONDOWN:
      UI_Controller::Instance().SetFocusTo(this);
      Press();
      // Held until the release, wherever the pointer is then.
      SetCapture(h);
      return 0;
    case WM_LBUTTONUP:
      Release(true);
      return 0;
    case WM_CAPTURECHANGED:
      // Another window took the mouse while pressed: the press is abandoned.
      if (reinterpret_cast<HWND>(lp) != h) Release(false);
      return 0;
    case WM_KEYDOWN:
      if (wp == VK_SPACE && !down_) Press();  // key repeat presses nothing more
      return 0;
    case WM_KEYUP:
      if (wp == VK_SPACE) Release(true);
      return 0;
    case BM_CLICK:
      // The standard click request (keyboard accelerators, automation): a whole press.
      Press();
      Release(true);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_BUTTON;
    default:
      return DefaultProc(msg, wp, lp);
  }
}

UI_BitmapPushButton::UI_BitmapPushButton(UI_VisualObject* parent, const UI_Rectangle& shape,
                                         long id, const UI_BitmapData* picture, const char* title)
    : UI_OwnerDrawButton(parent, shape, id, title) {
  tab_stop_ = true;
  if (picture) Bitmap()->BuildFrom(*picture);
}

const char* UI_BitmapPushButton::ClassName() const {
  return "UI_BitmapPushButton";
}
