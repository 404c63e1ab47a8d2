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

// --- editors

UI_StringEditor::UI_StringEditor(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* text)
    : UI_SimpleVObject(parent, shape, id, ""), text_(text) {
  tab_stop_ = true;
  Watch(text_);
}
const char* UI_StringEditor::ClassName() const { return "UI_StringEditor"; }
std::uint32_t UI_StringEditor::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_BORDER | ES_AUTOHSCROLL | ES_LEFT;
}
void UI_StringEditor::Refresh() { SetTitle(text_.AsPtr()); }

bool UI_StringEditor::HandleNotification(unsigned code) {
  if (code != EN_CHANGE || quiet_) return false;
  std::string now = WindowText(Hwnd(handle_));
  if (now != text_.AsPtr()) Quietly([&] { text_ = now.c_str(); });
  return true;
}

const char* UI_TextEditor::ClassName() const { return "UI_TextEditor"; }
std::uint32_t UI_TextEditor::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
         ES_WANTRETURN;
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

const char* UI_ComboBox::ClassName() const { return "UI_ComboBox"; }
std::uint32_t UI_ComboBox::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_VSCROLL | CBS_DROPDOWNLIST;
}

void UI_ComboBox::Refresh() {
  Send(CB_RESETCONTENT);
  for (CL_Long i = 0; i < items_.Size(); ++i)
    Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(items_[i].AsPtr()).c_str()));
  ShowSelection();
}

void UI_ComboBox::ShowSelection() {
  long sel = selection_.Value();
  Send(CB_SETCURSEL, WPARAM(sel < items_.Size() ? sel : -1));
}

void UI_ComboBox::ReadSelection() {
  long sel = long(Send(CB_GETCURSEL));
  if (sel < 0) sel = -1;
  if (sel != selection_.Value()) Quietly([&] { selection_ = sel; });
}

bool UI_ComboBox::HandleNotification(unsigned code) {
  if (code != CBN_SELCHANGE) return false;
  ReadSelection();
  return true;
}

// --- scroll bars

UI_ScrollBar::UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, bool vertical)
    : UI_SimpleVObject(parent, shape, id, ""), vertical_(vertical) {
  Watch(position_);
}
const char* UI_HScrollBar::ClassName() const { return "UI_HScrollBar"; }
const char* UI_VScrollBar::ClassName() const { return "UI_VScrollBar"; }

std::uint32_t UI_ScrollBar::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | (vertical_ ? SBS_VERT : SBS_HORZ);
}

bool UI_ScrollBar::SetRange(long low, long high) {
  if (low > high) {
    CL_Error::Warning("%s::SetRange: low %ld above high %ld", ClassName(), low, high);
    return false;
  }
  low_ = low;
  high_ = high;
  long p = position_.Value();
  if (p < low_ || p > high_) position_ = p < low_ ? low_ : high_;
  Quietly([this] { Refresh(); });
  return true;
}

void UI_ScrollBar::Refresh() {
  if (!ShowsInWindow()) return;
  RangeToWindow();
  PositionToWindow(position_.Value());
}

void UI_ScrollBar::RangeToWindow() {
  if (handle_) SetScrollRange(Hwnd(handle_), SB_CTL, int(low_), int(high_), FALSE);
}

void UI_ScrollBar::PositionToWindow(long p) {
  if (handle_) SetScrollPos(Hwnd(handle_), SB_CTL, int(p), TRUE);
}

bool UI_ScrollBar::HandleScroll(unsigned code, long position) {
  long p = position_.Value(), page = (high_ - low_) / 10 > 0 ? (high_ - low_) / 10 : 1;
  switch (code) {
    case SB_LINEUP: p -= 1; break;
    case SB_LINEDOWN: p += 1; break;
    case SB_PAGEUP: p -= page; break;
    case SB_PAGEDOWN: p += page; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: p = position; break;
    case SB_TOP: p = low_; break;
    case SB_BOTTOM: p = high_; break;
    default: return false;
  }
  if (p < low_) p = low_;
  if (p > high_) p = high_;
  PositionToWindow(p);
  if (p != position_.Value()) Quietly([&] { position_ = p; });
  return true;
}
