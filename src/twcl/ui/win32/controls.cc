#include "twcl/ui/controls.h"

#include <vector>

#include "twcl/base/error.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

// --- UI_SimpleVObject

const char* UI_SimpleVObject::ClassName() const {
  return "UI_SimpleVObject";
}

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

bool UI_SimpleVObject::ReadNativeState() {
  if (!handle_) return true;
  HWND h = Hwnd(handle_);
  id_ = long(GetWindowLongPtrW(h, GWLP_ID));
  LONG style = GetWindowLongW(h, GWL_STYLE);
  visible_ = (style & WS_VISIBLE) != 0;
  tab_stop_ = (style & WS_TABSTOP) != 0;
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(nullptr, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  shape_ = UI_Rectangle(r.left, r.top, r.right - r.left, r.bottom - r.top);
  return true;
}

void UI_SimpleVObject::Adopt(UI_NativeHandle window) {
  if (!window) return;
  SetHandle(window);
  ReadNativeState();
  title_ = WindowText(Hwnd(window)).c_str();
}

std::intptr_t UI_SimpleVObject::Send(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) const {
  return handle_ ? SendMessageW(Hwnd(handle_), msg, wp, lp) : 0;
}

// --- labels and buttons

namespace {
long g_label_alignment = UI_Label::AlignCentre;

bool IsAlignment(long a) {
  return a == UI_Label::AlignLeft || a == UI_Label::AlignRight || a == UI_Label::AlignCentre;
}

DWORD StaticStyleOf(long alignment) {
  switch (alignment) {
    case UI_Label::AlignRight:
      return SS_RIGHT;
    case UI_Label::AlignCentre:
      return SS_CENTER;
    default:
      return SS_LEFT;
  }
}
}  // namespace

UI_Label::UI_Label(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text)
    : UI_SimpleVObject(parent, shape, id, text),
      own_(text),
      text_(&own_),
      alignment_(g_label_alignment) {
  Watch(*text_);
}

UI_Label::UI_Label(UI_VisualObject* parent, CL_String& model, const UI_Rectangle& shape, long id)
    : UI_SimpleVObject(parent, shape, id, model.AsPtr()),
      text_(&model),
      alignment_(g_label_alignment) {
  Watch(*text_);
}

UI_Label::UI_Label(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SimpleVObject(parent, UI_Rectangle(), id, ""), text_(&own_), alignment_(AlignLeft) {
  Adopt(window);
  if (window) {
    DWORD type = DWORD(GetWindowLongW(Hwnd(window), GWL_STYLE)) & 3;
    alignment_ = type == SS_RIGHT ? AlignRight : type == SS_CENTER ? AlignCentre : AlignLeft;
  }
  own_ = title_.AsPtr();
  Watch(*text_);
}

UI_Label::~UI_Label() {
  if (text_ != &own_)
    text_->RemoveDependent(CL_Binding0<UI_SimpleVObject>(this, &UI_Label::ModelChanged));
}
const char* UI_Label::ClassName() const {
  return "UI_Label";
}
std::uint32_t UI_Label::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | StaticStyleOf(alignment_);
}

bool UI_Label::SetDefaultAlignment(long a) {
  if (!IsAlignment(a)) return false;
  g_label_alignment = a;
  return true;
}
long UI_Label::DefaultAlignment() {
  return g_label_alignment;
}

bool UI_Label::SetAlignment(long a) {
  if (!IsAlignment(a)) return false;
  alignment_ = a;
  if (!handle_) return true;
  // The static control reads its alignment from the two low style bits when it paints.
  HWND h = Hwnd(handle_);
  LONG style = GetWindowLongW(h, GWL_STYLE);
  SetWindowLongW(h, GWL_STYLE, LONG((DWORD(style) & ~DWORD(3)) | StaticStyleOf(a)));
  SetWindowPos(h, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  InvalidateRect(h, nullptr, TRUE);
  return true;
}
void UI_Label::Refresh() {
  SetTitle(text_->AsPtr());
}

UI_PushButton::UI_PushButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                             const char* text)
    : UI_SimpleVObject(parent, shape, id, text) {
  tab_stop_ = true;
}
UI_PushButton::UI_PushButton(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SimpleVObject(parent, UI_Rectangle(), id, "") {
  Adopt(window);
}

const char* UI_PushButton::ClassName() const {
  return "UI_PushButton";
}
std::uint32_t UI_PushButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_PUSHBUTTON;
}

UI_ToggleButton::UI_ToggleButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* text)
    : UI_SimpleVObject(parent, shape, id, text) {
  tab_stop_ = true;
  Watch(state_);
}
UI_ToggleButton::UI_ToggleButton(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SimpleVObject(parent, UI_Rectangle(), id, "") {
  Adopt(window);
  if (handle_) {
    state_ = Send(BM_GETCHECK) == BST_CHECKED ? 1 : 0;
    PassKeys();
  }
  Watch(state_);
}

const char* UI_ToggleButton::ClassName() const {
  return "UI_ToggleButton";
}
std::uint32_t UI_ToggleButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_AUTOCHECKBOX;
}
void UI_ToggleButton::Refresh() {
  Send(BM_SETCHECK, state_.Value() ? BST_CHECKED : BST_UNCHECKED);
}

bool UI_ToggleButton::HandleNotification(unsigned code) {
  if (code != BN_CLICKED) return false;
  long now = Send(BM_GETCHECK) == BST_CHECKED ? 1 : 0;
  if (now != state_.Value()) Quietly([&] { state_ = now; });
  if (auto* g = dynamic_cast<UI_ButtonGroup*>(parent_)) g->ButtonChanged(this);
  return true;
}

namespace {
const wchar_t kOldProcProperty[] = L"TWCL_PROP1";

// A toggle's window: the button's own procedure first, then its key presses go to the
// object tree as events.
LRESULT CALLBACK ToggleProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto old = reinterpret_cast<WNDPROC>(GetPropW(h, kOldProcProperty));
  if (!old) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropW(h, kOldProcProperty);
    return CallWindowProcW(old, h, msg, wp, lp);
  }
  LRESULT r = CallWindowProcW(old, h, msg, wp, lp);
  if (msg == WM_KEYDOWN || msg == WM_KEYUP) {
    if (UI_VisualObject* o = UI_Controller::Instance().ObjectFor(h)) {
      DWORD pos = GetMessagePos();
      UI_NativeMessage nm{h,
                          msg,
                          wp,
                          lp,
                          std::uint32_t(GetMessageTime()),
                          long(short(LOWORD(pos))),
                          long(short(HIWORD(pos)))};
      UI_Event e(UI_EventTypeOfMessage(msg), o, o, &nm);
      o->Dispatch(e);
    }
  }
  return r;
}
}  // namespace

bool UI_ToggleButton::AfterCreate() {
  if (!UI_SimpleVObject::AfterCreate()) return false;
  PassKeys();
  return true;
}

void UI_ToggleButton::PassKeys() {
  HWND h = Hwnd(handle_);
  if (!GetPropW(h, kOldProcProperty)) {
    SetPropW(h, kOldProcProperty, reinterpret_cast<HANDLE>(GetWindowLongPtrW(h, GWLP_WNDPROC)));
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ToggleProc));
  }
}

const char* UI_ExOrToggleButton::ClassName() const {
  return "UI_ExOrToggleButton";
}
std::uint32_t UI_ExOrToggleButton::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_AUTORADIOBUTTON;
}

// --- button groups

UI_ButtonGroup::UI_ButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                               const char* text, const UI_ButtonDescriptor* buttons, bool exclusive)
    : UI_SimpleVObject(parent, shape, id, text) {
  tab_stop_ = true;
  // Button places are given inside the group box.
  for (const UI_ButtonDescriptor* b = buttons; b && b->text; ++b) {
    UI_Rectangle r(shape.Left() + b->x, shape.Top() + b->y, b->width, b->height);
    if (exclusive)
      new UI_ExOrToggleButton(this, r, b->id, b->text);
    else
      new UI_ToggleButton(this, r, b->id, b->text);
  }
  // The buttons are reached through the group: they are no TAB stops of their own.
  for (UI_VisualObject* c : children_) c->SetTabStop(false);
  AddEventBinding(Event_Other, UI_EventBinding1<UI_ButtonGroup>(this, &UI_ButtonGroup::ArrowKey));
}

UI_ButtonGroup::UI_ButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SimpleVObject(parent, UI_Rectangle(), id, "") {
  tab_stop_ = true;
  Adopt(window);
  AddEventBinding(Event_Other, UI_EventBinding1<UI_ButtonGroup>(this, &UI_ButtonGroup::ArrowKey));
}

void UI_ButtonGroup::AddButtons(const UI_ButtonTableRecord* table, std::int32_t type,
                                const char* class_name) {
  for (long i = 0; table && table[i].type != UI_ButtonTableRecord::End; ++i) {
    const UI_ButtonTableRecord& b = table[i];
    if (b.type != type) {
      CL_Error::Warning("%s constructor: invalid type %d at index %d", class_name, int(b.type),
                        int(i));
      break;
    }
    UI_Rectangle r(shape_.Left() + b.x, shape_.Top() + b.y, b.width, b.height);
    const char* title = b.title ? b.title : "";
    UI_VisualObject* button;
    if (type == UI_ButtonTableRecord::ExOrToggle)
      button = new UI_ExOrToggleButton(this, r, b.id, title);
    else
      button = new UI_ToggleButton(this, r, b.id, title);
    button->SetTabStop(false);
  }
}

std::uint32_t UI_ButtonGroup::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | BS_GROUPBOX;
}

UI_NativeHandle UI_ButtonGroup::ContainerWindow() const {
  return parent_ ? parent_->ContainerWindow() : nullptr;
}

bool UI_ButtonGroup::TakeFocus() {
  return children_.empty() ? false : UI_Controller::Instance().SetFocusTo(children_.front());
}

namespace {
const wchar_t kGroupProcProperty[] = L"TWCLBtnGrp1";

// A group box's window: its background in the face colour of its look, the colours of the
// three-dimensional look asked of that look; the rest is the box's own procedure's.
LRESULT CALLBACK GroupBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto old = reinterpret_cast<WNDPROC>(GetPropW(h, kGroupProcProperty));
  UI_VisualObject* o = UI_Controller::Instance().ObjectFor(h);
  if (!old) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropW(h, kGroupProcProperty);
    return CallWindowProcW(old, h, msg, wp, lp);
  }
  if (!o) return DefWindowProcW(h, msg, wp, lp);
  bool look = o->Uses3DLook();
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(h, &r);
    HBRUSH b = CreateSolidBrush(GetSysColor(look ? COLOR_BTNFACE : COLOR_WINDOW));
    if (b) {
      FillRect(reinterpret_cast<HDC>(wp), &r, b);
      DeleteObject(b);
    }
  } else if (look && (msg == WM_CTLCOLOREDIT || IsControlColorMessage(msg))) {
    return Ctl3dControlColor(msg, wp, lp);
  }
  return CallWindowProcW(old, h, msg, wp, lp);
}
}  // namespace

bool UI_ButtonGroup::AfterCreate() {
  HWND box = Hwnd(handle_);
  if (Uses3DLook()) Ctl3dStyleControl(box);
  if (!GetPropW(box, kGroupProcProperty)) {
    SetPropW(box, kGroupProcProperty,
             reinterpret_cast<HANDLE>(GetWindowLongPtrW(box, GWLP_WNDPROC)));
    SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupBoxProc));
  }
  // The first button starts a native group.
  if (!MakeChildren()) return false;
  if (!children_.empty() && children_.front()->Handle()) {
    HWND h = Hwnd(children_.front()->Handle());
    SetWindowLongW(h, GWL_STYLE, GetWindowLongW(h, GWL_STYLE) | WS_GROUP);
  }
  Quietly([this] { Refresh(); });
  return true;
}

bool UI_ButtonGroup::ArrowKey(const UI_Event& e) {
  const UI_NativeMessage* m = e.Native();
  if (!m || m->message != WM_KEYDOWN || (m->wparam != VK_UP && m->wparam != VK_DOWN)) return true;
  long n = long(children_.size()), i = 0;
  while (i < n && children_[std::size_t(i)] != e.Origin()) ++i;
  if (n == 0 || i == n) return true;
  long next = m->wparam == VK_UP ? i - 1 : (i + 1) % n;
  if (next < 0) next = n - 1;
  UI_VisualObject* to = children_[std::size_t(next)];
  if (!to->HasFocus()) UI_Controller::Instance().SetFocusTo(to);
  return true;
}

void UI_ButtonGroup::Announce(long param) {
  // One Select per change of the selection, however many paths report the change.
  if (!SelectionMoved()) return;
  UI_Event e(Event_Select, this);
  e.param = param;
  UI_Controller::Instance().PostSoftEvent(e);
}

UI_ExOrButtonGroup::UI_ExOrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                       const char* text, const UI_ButtonDescriptor* buttons)
    : UI_ButtonGroup(parent, shape, id, text, buttons, true) {
  selection_ = -1;
  announced_ = -1;
  Watch(selection_);
}

UI_ExOrButtonGroup::UI_ExOrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                       const UI_ButtonTableRecord* table)
    : UI_ButtonGroup(parent, shape, id, "", nullptr, true) {
  AddButtons(table, UI_ButtonTableRecord::ExOrToggle, "UI_ExOrButtonGroup");
  selection_ = -1;
  announced_ = -1;
  Watch(selection_);
}

UI_ExOrButtonGroup::UI_ExOrButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_ButtonGroup(parent, id, window) {
  selection_ = -1;
  announced_ = -1;
  Watch(selection_);
}

const char* UI_ExOrButtonGroup::ClassName() const {
  return "UI_ExOrButtonGroup";
}

bool UI_ExOrButtonGroup::SelectionMoved() {
  if (selection_.Value() == announced_) return false;
  announced_ = selection_.Value();
  return true;
}

void UI_ExOrButtonGroup::Refresh() {
  long sel = selection_.Value();
  for (std::size_t i = 0; i < children_.size(); ++i) {
    long on = Button(i)->Id() == sel ? 1 : 0;
    if (Button(i)->State().Value() != on) Button(i)->State() = on;  // the button shows it
  }
  Announce(sel);
}

bool UI_ExOrButtonGroup::Select(long id) {
  if (id == selection_.Value()) return true;
  selection_ = id;  // the group follows through Refresh
  return true;
}

void UI_ExOrButtonGroup::ButtonChanged(UI_ToggleButton* b) {
  if (!b->State().Value()) return;
  if (b->Id() != selection_.Value()) Quietly([&] { selection_ = b->Id(); });
  // Radio buttons of one native group clear each other in the window; the models follow.
  for (std::size_t i = 0; i < children_.size(); ++i) {
    long on = Button(i) == b ? 1 : 0;
    if (Button(i)->State().Value() != on) Button(i)->State() = on;
  }
  Announce(selection_.Value());
}

UI_OrButtonGroup::UI_OrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                   const char* text, const UI_ButtonDescriptor* buttons)
    : UI_ButtonGroup(parent, shape, id, text, buttons, false) {
  Watch(selection_);
}

UI_OrButtonGroup::UI_OrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                   const UI_ButtonTableRecord* table)
    : UI_ButtonGroup(parent, shape, id, "", nullptr, false) {
  AddButtons(table, UI_ButtonTableRecord::Toggle, "UI_OrButtonGroup");
  Watch(selection_);
}

UI_OrButtonGroup::UI_OrButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_ButtonGroup(parent, id, window) {
  Watch(selection_);
}

const char* UI_OrButtonGroup::ClassName() const {
  return "UI_OrButtonGroup";
}

bool UI_OrButtonGroup::SelectionMoved() {
  if (selection_.IsEqual(announced_)) return false;
  announced_ = selection_;
  return true;
}

void UI_OrButtonGroup::Refresh() {
  for (std::size_t i = 0; i < children_.size(); ++i) {
    long on = selection_.Includes(Button(i)->Id()) ? 1 : 0;
    if (Button(i)->State().Value() != on) Button(i)->State() = on;
  }
  Announce(long(selection_.Size()));
}

void UI_OrButtonGroup::ButtonChanged(UI_ToggleButton*) {
  ReadButtons();
}

bool UI_OrButtonGroup::Select() {
  // Ids no button has stay in a set assigned to the model until a button is changed.
  bool differ = false;
  for (std::size_t i = 0; i < children_.size() && !differ; ++i)
    differ = (Button(i)->State().Value() != 0) != selection_.Includes(Button(i)->Id());
  if (differ) ReadButtons();
  return true;
}

void UI_OrButtonGroup::ReadButtons() {
  CL_IntegerSet on;
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (Button(i)->State().Value()) on.Add(Button(i)->Id());
  if (!on.IsEqual(selection_)) Quietly([&] { selection_ = on; });
  Announce(long(selection_.Size()));
}

// --- string views and combo boxes

UI_StringView::UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                             bool multiple)
    : UI_StringView(parent, shape, multiple, id, -1) {}

UI_StringView::UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, bool multiple,
                             long id, long style)
    : UI_SimpleVObject(parent, shape, id, ""),
      multiple_(multiple),
      style_(style),
      items_(own_items_) {
  tab_stop_ = true;
  selection_ = -1;
  Watch(items_);
  Watch(selection_);
}

UI_StringView::UI_StringView(UI_VisualObject* parent, CL_StringSequence& model,
                             const UI_Rectangle& shape, bool multiple, long id, long style)
    : UI_SimpleVObject(parent, shape, id, ""), multiple_(multiple), style_(style), items_(model) {
  tab_stop_ = true;
  selection_ = -1;
  Watch(items_);
  Watch(selection_);
}

UI_StringView::UI_StringView(UI_VisualObject* parent, long id, UI_NativeHandle window,
                             bool multiple)
    : UI_StringView(parent, UI_Rectangle(), multiple, id, -1) {
  Adopt(window);
}

UI_StringView::~UI_StringView() {
  // A sequence the caller keeps must not go on calling a view that is gone.
  if (&items_ != &own_items_)
    items_.RemoveDependent(CL_Binding0<UI_SimpleVObject>(this, &UI_StringView::ModelChanged));
}

void UI_StringView::ItemsFromWindow(std::uint32_t count_msg, std::uint32_t length_msg,
                                    std::uint32_t text_msg) {
  if (!handle_) return;
  Quietly([&] {
    long n = long(Send(count_msg));
    for (long i = 0; i < n; ++i) {
      long len = long(Send(length_msg, WPARAM(i)));
      WideText buf = WideBuffer(std::size_t(len < 0 ? 0 : len) + 1);
      Send(text_msg, WPARAM(i), reinterpret_cast<LPARAM>(buf.data()));
      items_.Add(CL_String(Narrow(buf.c_str(), std::size_t(len < 0 ? 0 : len)).c_str()));
    }
  });
  ReadSelection();
}

UI_SingleSelStringView::UI_SingleSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape,
                                               long id)
    : UI_StringView(parent, shape, id, false) {
  items_.AttachView(this);
}

UI_SingleSelStringView::UI_SingleSelStringView(UI_VisualObject* parent, CL_StringSequence& model,
                                               const UI_Rectangle& shape, long id)
    : UI_StringView(parent, model, shape, false, id, -1) {
  items_.AttachView(this);
}

UI_SingleSelStringView::UI_SingleSelStringView(UI_VisualObject* parent, long id,
                                               UI_NativeHandle window)
    : UI_StringView(parent, id, window, false) {
  ItemsFromWindow(LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
  items_.AttachView(this);
}
UI_SingleSelStringView::~UI_SingleSelStringView() {
  items_.DetachView(this);
}
const char* UI_SingleSelStringView::ClassName() const {
  return "UI_SingleSelStringView";
}

UI_MultiSelStringView::UI_MultiSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape,
                                             long id)
    : UI_StringView(parent, shape, id, true) {
  items_.AttachView(this);
  Watch(chosen_);
}

UI_MultiSelStringView::UI_MultiSelStringView(UI_VisualObject* parent, CL_StringSequence& model,
                                             const UI_Rectangle& shape, long id)
    : UI_StringView(parent, model, shape, true, id, -1) {
  items_.AttachView(this);
  Watch(chosen_);
}

UI_MultiSelStringView::UI_MultiSelStringView(UI_VisualObject* parent, long id,
                                             UI_NativeHandle window)
    : UI_StringView(parent, id, window, true) {
  Watch(chosen_);
  ItemsFromWindow(LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
  items_.AttachView(this);
}
UI_MultiSelStringView::~UI_MultiSelStringView() {
  items_.DetachView(this);
}
const char* UI_MultiSelStringView::ClassName() const {
  return "UI_MultiSelStringView";
}

void UI_MultiSelStringView::ShowSelection() {
  // Indices the list does not have cannot be chosen: the set keeps the others.
  CL_IntegerSet keep;
  for (CL_Long k = 0; k < chosen_.Size(); ++k) {
    CL_Long i = chosen_.ItemWithRank(k);
    if (i >= 0 && i < items_.Size()) keep.Add(i);
  }
  if (!keep.IsEqual(chosen_)) Quietly([&] { chosen_ = keep; });
  if (!handle_) return;
  Send(WM_SETREDRAW, FALSE);
  Send(LB_SETSEL, FALSE, -1);
  for (CL_Long k = 0; k < chosen_.Size(); ++k)
    Send(LB_SETSEL, TRUE, LPARAM(chosen_.ItemWithRank(k)));
  Send(WM_SETREDRAW, TRUE);
  InvalidateRect(Hwnd(handle_), nullptr, TRUE);
}

void UI_MultiSelStringView::ReadSelection() {
  CL_IntegerSet now;
  long n = long(Send(LB_GETSELCOUNT));
  if (n > 0) {
    std::vector<INT> picked(std::size_t(n), 0);
    long got = long(Send(LB_GETSELITEMS, WPARAM(n), reinterpret_cast<LPARAM>(picked.data())));
    for (long k = 0; k < got && k < n; ++k) now.Add(picked[std::size_t(k)]);
  }
  if (!now.IsEqual(chosen_)) Quietly([&] { chosen_ = now; });
}

long UI_StringView::TopIndex() const {
  return handle_ ? long(Send(LB_GETTOPINDEX)) : -1;
}

long UI_StringView::VisibleCount() const {
  long h = handle_ ? long(Send(LB_GETITEMHEIGHT)) : 0;
  return h < 1 ? 0 : long(Shape().Height()) / h;
}

void UI_StringView::ScrollTo(long i) {
  if (handle_ && i >= 0) Send(LB_SETTOPINDEX, WPARAM(i));
}

bool UI_StringView::ReplaceLine(CL_Long i, std::uint32_t count_msg, std::uint32_t delete_msg,
                                std::uint32_t insert_msg) {
  if (!handle_ || i < 0 || i >= items_.Size() || i >= Send(count_msg)) return false;
  Send(WM_SETREDRAW, FALSE);
  Send(delete_msg, WPARAM(i));
  Send(insert_msg, WPARAM(i), reinterpret_cast<LPARAM>(Wide(items_[i].AsPtr()).c_str()));
  Send(WM_SETREDRAW, TRUE);
  return true;
}

bool UI_StringView::ItemChanged(CL_Long i) {
  if (!ReplaceLine(i, LB_GETCOUNT, LB_DELETESTRING, LB_INSERTSTRING)) return true;
  InvalidateRect(Hwnd(handle_), nullptr, TRUE);
  Quietly([this] { ShowSelection(); });
  return true;
}

std::uint32_t UI_StringView::NativeStyle() const {
  std::uint32_t multiple = multiple_ ? LBS_MULTIPLESEL : 0;
  if (style_ != -1) return std::uint32_t(style_) | multiple;
  return UI_VisualObject::NativeStyle() | WS_BORDER | WS_VSCROLL | LBS_NOTIFY |
         LBS_NOINTEGRALHEIGHT | multiple;
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
  // A selection past the items is none.
  if (selection_.Value() < -1 || selection_.Value() >= items_.Size())
    Quietly([this] { selection_ = -1; });
  Send(LB_SETCURSEL, WPARAM(selection_.Value()));
}

void UI_StringView::ReadSelection() {
  long sel = long(Send(LB_GETCURSEL));
  if (sel < 0) sel = -1;
  if (sel != selection_.Value()) Quietly([&] { selection_ = sel; });
}

bool UI_StringView::HandleNotification(unsigned code) {
  if (code != LBN_SELCHANGE) return false;
  ReadSelection();
  return true;
}
