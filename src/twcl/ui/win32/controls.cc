#include "twcl/ui/controls.h"

#include "twcl/base/error.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

// --- UI_SimpleVObject

const char* UI_SimpleVObject::ClassName() const { return "UI_SimpleVObject"; }

void UI_SimpleVObject::Watch(CL_Object& model) {
  model.AddDependent(CL_Binding0<UI_SimpleVObject>(this, &UI_SimpleVObject::ModelChanged));
}

bool UI_SimpleVObject::ModelChanged() {
  if (!quiet_ && ShowsInWindow()) Quietly([this] { Refresh(); });
  return true;
}

bool UI_SimpleVObject::AfterCreate() {
  if (Uses3DLook()) Ctl3dStyleControl(Hwnd(handle_));
  Quietly([this] { Refresh(); });
  return MakeChildren();
}

std::intptr_t UI_SimpleVObject::Send(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) const {
  return handle_ ? SendMessageW(Hwnd(handle_), msg, wp, lp) : 0;
}

// --- labels and buttons

UI_Label::UI_Label(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text)
    : UI_SimpleVObject(parent, shape, id, text), text_(text) {
  Watch(text_);
}
const char* UI_Label::ClassName() const { return "UI_Label"; }
std::uint32_t UI_Label::NativeStyle() const { return UI_VisualObject::NativeStyle() | SS_LEFT; }
void UI_Label::Refresh() { SetTitle(text_.AsPtr()); }

UI_PushButton::UI_PushButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                             const char* text)
    : UI_SimpleVObject(parent, shape, id, text) {
  tab_stop_ = true;
}
const char* UI_PushButton::ClassName() const { return "UI_PushButton"; }
std::uint32_t UI_PushButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_PUSHBUTTON;
}

UI_ToggleButton::UI_ToggleButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* text)
    : UI_SimpleVObject(parent, shape, id, text) {
  tab_stop_ = true;
  Watch(state_);
}
const char* UI_ToggleButton::ClassName() const { return "UI_ToggleButton"; }
std::uint32_t UI_ToggleButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_AUTOCHECKBOX;
}
void UI_ToggleButton::Refresh() { Send(BM_SETCHECK, state_.Value() ? BST_CHECKED : BST_UNCHECKED); }

bool UI_ToggleButton::HandleNotification(unsigned code) {
  if (code != BN_CLICKED) return false;
  long now = Send(BM_GETCHECK) == BST_CHECKED ? 1 : 0;
  if (now != state_.Value()) Quietly([&] { state_ = now; });
  if (auto* g = dynamic_cast<UI_ButtonGroup*>(parent_)) g->ButtonChanged(this);
  return true;
}

const char* UI_ExOrToggleButton::ClassName() const { return "UI_ExOrToggleButton"; }
std::uint32_t UI_ExOrToggleButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_AUTORADIOBUTTON;
}

// --- button groups

UI_ButtonGroup::UI_ButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                               const char* text, const UI_ButtonDescriptor* buttons, bool exclusive)
    : UI_SimpleVObject(parent, shape, id, text), exclusive_(exclusive) {
  selection_ = exclusive ? -1 : 0;
  announced_ = selection_.Value();
  // Button places are given inside the group box.
  for (const UI_ButtonDescriptor* b = buttons; b && b->text; ++b) {
    UI_Rectangle r(shape.Left() + b->x, shape.Top() + b->y, b->width, b->height);
    if (exclusive)
      new UI_ExOrToggleButton(this, r, b->id, b->text);
    else
      new UI_ToggleButton(this, r, b->id, b->text);
  }
  Watch(selection_);
}

const char* UI_OrButtonGroup::ClassName() const { return "UI_OrButtonGroup"; }
const char* UI_ExOrButtonGroup::ClassName() const { return "UI_ExOrButtonGroup"; }

std::uint32_t UI_ButtonGroup::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_GROUPBOX;
}

UI_NativeHandle UI_ButtonGroup::ContainerWindow() const {
  return parent_ ? parent_->ContainerWindow() : nullptr;
}

bool UI_ButtonGroup::AfterCreate() {
  // The first button starts a native group.
  if (!MakeChildren()) return false;
  if (!children_.empty() && children_.front()->Handle()) {
    HWND h = Hwnd(children_.front()->Handle());
    SetWindowLongW(h, GWL_STYLE, GetWindowLongW(h, GWL_STYLE) | WS_GROUP);
  }
  Quietly([this] { Refresh(); });
  return true;
}

void UI_ButtonGroup::Refresh() {
  long sel = selection_.Value();
  for (std::size_t i = 0; i < children_.size(); ++i) {
    auto* b = static_cast<UI_ToggleButton*>(children_[i]);
    long on = exclusive_ ? (b->Id() == sel) : ((sel >> i) & 1);
    if (b->State().Value() != on) b->State() = on;  // the button shows it
  }
  Announce();
}

bool UI_ButtonGroup::Select(long value) {
  if (value == selection_.Value()) return true;
  selection_ = value;  // the group follows through Refresh
  return true;
}

void UI_ButtonGroup::ButtonChanged(UI_ToggleButton* b) {
  long sel;
  if (exclusive_) {
    if (!b->State().Value()) return;
    sel = b->Id();
  } else {
    sel = 0;
    for (std::size_t i = 0; i < children_.size() && i < 32; ++i)
      if (static_cast<UI_ToggleButton*>(children_[i])->State().Value()) sel |= 1L << i;
  }
  if (sel != selection_.Value()) Quietly([&] { selection_ = sel; });
  // Radio buttons of one native group clear each other in the window; the models follow.
  if (exclusive_)
    for (UI_VisualObject* c : children_) {
      auto* t = static_cast<UI_ToggleButton*>(c);
      long on = t == b ? 1 : 0;
      if (t->State().Value() != on) t->State() = on;
    }
  Announce();
}

void UI_ButtonGroup::Announce() {
  // One Select per change of the selection, however many paths report the change.
  if (selection_.Value() == announced_) return;
  announced_ = selection_.Value();
  UI_Event e(Event_Select, this);
  e.param = announced_;
  UI_Controller::Instance().PostSoftEvent(e);
}

// --- string views and combo boxes

UI_StringView::UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                             bool multiple)
    : UI_SimpleVObject(parent, shape, id, ""), multiple_(multiple) {
  tab_stop_ = true;
  selection_ = multiple ? 0 : -1;
  Watch(items_);
  Watch(selection_);
}
const char* UI_SingleSelStringView::ClassName() const { return "UI_SingleSelStringView"; }
const char* UI_MultiSelStringView::ClassName() const { return "UI_MultiSelStringView"; }

std::uint32_t UI_StringView::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
         (multiple_ ? LBS_MULTIPLESEL : 0);
}

void UI_StringView::Refresh() {
  if (Send(LB_GETCOUNT) != items_.Size()) {
    Send(LB_RESETCONTENT);
    for (CL_Long i = 0; i < items_.Size(); ++i)
      Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(items_[i].AsPtr()).c_str()));
  } else {
    // Same count: replace the texts that differ, keeping the selection where it was.
    for (CL_Long i = 0; i < items_.Size(); ++i) {
      long n = long(Send(LB_GETTEXTLEN, WPARAM(i)));
      WideText buf = WideBuffer(std::size_t(n < 0 ? 0 : n) + 1);
      Send(LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(buf.data()));
      if (Narrow(buf.c_str(), std::size_t(n < 0 ? 0 : n)) != items_[i].AsPtr()) {
        Send(LB_DELETESTRING, WPARAM(i));
        Send(LB_INSERTSTRING, WPARAM(i), reinterpret_cast<LPARAM>(Wide(items_[i].AsPtr()).c_str()));
      }
    }
  }
  ShowSelection();
}

void UI_StringView::ShowSelection() {
  long sel = selection_.Value();
  if (multiple_) {
    for (CL_Long i = 0; i < items_.Size(); ++i)
      Send(LB_SETSEL, i < 32 && ((sel >> i) & 1), LPARAM(i));
  } else {
    Send(LB_SETCURSEL, WPARAM(sel < items_.Size() ? sel : -1));
  }
}

void UI_StringView::ReadSelection() {
  long sel = 0;
  if (multiple_) {
    for (CL_Long i = 0; i < items_.Size() && i < 32; ++i)
      if (Send(LB_GETSEL, WPARAM(i)) > 0) sel |= 1L << i;
  } else {
    sel = long(Send(LB_GETCURSEL));
    if (sel < 0) sel = -1;
  }
  if (sel != selection_.Value()) Quietly([&] { selection_ = sel; });
}

bool UI_StringView::HandleNotification(unsigned code) {
  if (code != LBN_SELCHANGE) return false;
  ReadSelection();
  return true;
}
