#include "twcl/ui/composite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "twcl/base/error.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/focus_order.h"
#include "twcl/ui/picture_button.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

// --- UI_VObjCollection

UI_VObjCollection::UI_VObjCollection(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                     const char* title)
    : UI_VisualObject(parent, shape, id, title) {}

UI_VObjCollection::~UI_VObjCollection() {
  // The children go before the maps that know them.
  while (!children_.empty()) delete children_.back();
}

const char* UI_VObjCollection::ClassName() const {
  return "UI_VObjCollection";
}

namespace {
bool ModelKey(long id) {
  return id >= 1 && id <= 32767;
}
CL_Word Key(long id) {
  return static_cast<CL_Word>(id);
}
}  // namespace

UI_VisualObject* UI_VObjCollection::ChildWithId(long id) const {
  CL_Long at = by_id_.RankOf(Key(id));
  if (!by_id_.IncludesKey(Key(id))) return nullptr;
  return static_cast<UI_VisualObject*>(by_id_.ItemWithRank(at)->value);
}

bool UI_VObjCollection::AddChild(UI_VisualObject* child) {
  if (!child) return false;
  by_id_.Add(Key(child->Id()), child);
  EnterModel(child);
  return true;
}

bool UI_VObjCollection::RemoveChild(UI_VisualObject* child) {
  if (!child || ChildWithId(child->Id()) != child) return false;
  by_id_.Remove(Key(child->Id()));
  models_.Remove(Key(child->Id()));
  return true;
}

void UI_VObjCollection::EnterModel(UI_VisualObject* child) {
  if (!ModelKey(child->Id()) || ChildWithId(child->Id()) != child) return;
  CL_Object* m = child->Model();
  if (!models_.Add(Key(child->Id()), m)) models_[Key(child->Id())] = m;
}

CL_Object* UI_VObjCollection::Model() {
  for (UI_VisualObject* c : children_) EnterModel(c);
  return &models_;
}

void UI_VObjCollection::AddChildObject(UI_VisualObject* child) {
  UI_VisualObject::AddChildObject(child);
  AddChild(child);
}

void UI_VObjCollection::RemoveChildObject(UI_VisualObject* child) {
  RemoveChild(child);
  UI_VisualObject::RemoveChildObject(child);
}

std::intptr_t UI_VObjCollection::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                     std::intptr_t lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      // The children's colour answers put their text on the dialogs' face: the window
      // behind them shows the same face.
      RECT r;
      GetClientRect(Hwnd(handle_), &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_CLOSE:
      return 0;  // the close request travels as Event_CloseDown
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      if (Uses3DLook()) return Ctl3dControlColor(msg, wp, lp);
      break;
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}

// --- UI_CompositeVObject

UI_CompositeVObject::UI_CompositeVObject(UI_VisualObject* parent, const UI_ChildDescriptor* table,
                                         bool child_window, const UI_Rectangle& shape, long id,
                                         const char* title)
    : UI_VObjCollection(parent, shape, id, title),
      child_window_(child_window),
      decorated_(!child_window) {
  tab_stop_ = child_window;
  for (long type :
       {Event_LButtonRelease, Event_KeyTyped, Event_ChildCreated, Event_Iconify, Event_Deiconify})
    AddEventBinding(
        type, UI_EventBinding1<UI_CompositeVObject>(this, &UI_CompositeVObject::FocusHandler));
  for (const UI_ChildDescriptor* d = table; d && d->kind != UI_KindEnd; ++d)
    if (!AddChild(*d)) break;
}

const char* UI_CompositeVObject::ClassName() const {
  return "UI_CompositeVObject";
}

bool UI_CompositeVObject::Use3DLook(bool on) {
  look3d_ = on;
  return true;
}

std::uint32_t UI_CompositeVObject::NativeStyle() const {
  std::uint32_t s = UI_VisualObject::NativeStyle();
  return PrepareStyle(child_window_ ? s : s | WS_OVERLAPPEDWINDOW);
}

namespace {
constexpr std::uint32_t kDecoration = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
}

std::uint32_t UI_CompositeVObject::PrepareStyle(std::uint32_t s) const {
  if (decorated_) return child_window_ ? s | kDecoration : s;
  s &= ~kDecoration;
  return child_window_ ? s : s | WS_POPUP | WS_BORDER;
}

bool UI_CompositeVObject::ChangeFrame(std::uint32_t add, std::uint32_t clear) {
  if (!handle_) return true;
  HWND h = Hwnd(handle_);
  auto style = static_cast<std::uint32_t>(GetWindowLongW(h, GWL_STYLE));
  SetWindowLongW(h, GWL_STYLE, LONG((style & ~clear) | add));
  return SetWindowPos(h, nullptr, 0, 0, 0, 0,
                      SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED) !=
         0;
}

bool UI_CompositeVObject::DecorateFrame() {
  decorated_ = true;
  return ChangeFrame(kDecoration, child_window_ ? 0 : WS_POPUP);
}

bool UI_CompositeVObject::UndecorateFrame() {
  decorated_ = false;
  return ChangeFrame(child_window_ ? 0 : WS_POPUP | WS_BORDER, kDecoration);
}

namespace {
// Tracking sizes are 16-bit: a wider value is held at the end of the range.
std::int16_t Track(long v) {
  return std::int16_t(v < 0 ? 0 : v > 32767 ? 32767 : v);
}
}  // namespace

bool UI_CompositeVObject::SetMinWidth(long w) {
  min_width_ = Track(w);
  return true;
}
bool UI_CompositeVObject::SetMinHeight(long h) {
  min_height_ = Track(h);
  return true;
}
bool UI_CompositeVObject::SetMaxWidth(long w) {
  max_width_ = Track(w);
  return true;
}
bool UI_CompositeVObject::SetMaxHeight(long h) {
  max_height_ = Track(h);
  return true;
}

bool UI_CompositeVObject::AddChild(const UI_ChildDescriptor& d) {
  if (d.id >= 1 && d.id <= 32767) {
    for (UI_VisualObject* c : children_)
      if (c->Id() == d.id) {
        CL_Error::Warning("TWCL: Duplicate child id %ld for composite", d.id);
        return false;
      }
  }
  UI_Rectangle r(d.x, d.y, d.width, d.height);
  const char* text = d.text ? d.text : "";
  UI_VisualObject* c = nullptr;
  switch (d.kind) {
    case UI_KindExOrToggle:
      c = new UI_ExOrToggleButton(this, r, d.id, text);
      break;
    case UI_KindPushButton:
      c = new UI_PushButton(this, r, d.id, text);
      break;
    case UI_KindToggle:
      c = new UI_ToggleButton(this, r, d.id, text);
      break;
    case UI_KindSingleSelView:
      c = new UI_SingleSelStringView(this, r, d.id);
      break;
    case UI_KindMultiSelView:
      c = new UI_MultiSelStringView(this, r, d.id);
      break;
    case UI_KindLabel:
      c = new UI_Label(this, r, d.id, text);
      break;
    case UI_KindTextEditor:
      c = new UI_TextEditor(this, r, d.id, text);
      break;
    case UI_KindComposite:
      c = new UI_CompositeVObject(this, static_cast<const UI_ChildDescriptor*>(d.extra), true, r,
                                  d.id, text);
      break;
    case UI_KindStringEditor:
      c = new UI_StringEditor(this, r, d.id, text);
      break;
    case UI_KindOrGroup:
      c = new UI_OrButtonGroup(this, r, d.id, text,
                               static_cast<const UI_ButtonDescriptor*>(d.extra));
      break;
    case UI_KindExOrGroup:
      c = new UI_ExOrButtonGroup(this, r, d.id, text,
                                 static_cast<const UI_ButtonDescriptor*>(d.extra));
      break;
    case UI_KindHScrollBar:
      c = new UI_HScrollBar(this, r, d.id);
      break;
    case UI_KindVScrollBar:
      c = new UI_VScrollBar(this, r, d.id);
      break;
    case UI_KindComboBox:
      c = new UI_ComboBox(this, r, d.id);
      break;
    case UI_KindBitmapButton:
      c = new UI_BitmapPushButton(this, r, d.id, static_cast<const UI_BitmapData*>(d.extra), text);
      break;
    default:
      return true;  // kinds that make nothing
  }
  if (d.kind != UI_KindComposite && d.kind != UI_KindOrGroup && d.kind != UI_KindExOrGroup)
    c->SetTabStop(d.tab_stop);
  EnterModel(c);  // the model exists now that the child is whole
  return true;
}

UI_VisualObject* UI_CompositeVObject::FocusChild() const {
  return focus_ >= 0 && focus_ < long(children_.size()) ? children_[std::size_t(focus_)] : nullptr;
}

bool UI_CompositeVObject::SetFocusChild(UI_VisualObject* child) {
  for (std::size_t i = 0; i < children_.size(); ++i)
    if (children_[i] == child) {
      if (!child->TabStop() || !child->IsEnabled() || !child->IsVisible()) return false;
      focus_ = long(i);
      return true;
    }
  return false;
}

bool UI_CompositeVObject::MoveFocus(int direction) {
  std::vector<UI_FocusCandidate> cands;
  for (UI_VisualObject* c : children_)
    cands.push_back({c->IsVisible(), c->IsEnabled(), c->TabStop()});
  UI_FocusMove m = UI_NextFocus(cands, focus_, direction, !child_window_);
  if (m.index >= 0) {
    focus_ = m.index;
    children_[std::size_t(m.index)]->TakeFocus();
  }
  return m.answer;
}

bool UI_CompositeVObject::HandleEvent(const UI_Event& e) {
  return UI_VisualObject::HandleEvent(e);
}

bool UI_CompositeVObject::HandleChildEvent(const UI_Event& e) {
  return false;
}

// Registered for the composite's own events and those of its descendants that climb to it
// (their destination is then the composite); true lets the event go on.
bool UI_CompositeVObject::FocusHandler(const UI_Event& e) {
  switch (e.Type()) {
    case Event_KeyTyped:
      if (e.key != '\t') return true;
      // A move that took place uses the TAB up; one that could not leaves it to the parent.
      if (e.Destination() == this) return !MoveFocus(e.shift ? -1 : 1);
      return false;
    case Event_LButtonRelease:
      if (e.Origin() && e.Origin() != this) {
        UI_VisualObject* o = e.Origin();
        while (o && o->Parent() != this) o = o->Parent();
        if (o) SetFocusChild(o);
      }
      return true;
    case Event_Iconify:
      iconified_ = true;
      return true;
    case Event_Deiconify:
      iconified_ = false;
      return true;
    case Event_ChildCreated:
      if (e.Origin() && e.Origin()->Parent() == this && focus_ < 0 && SetFocusChild(e.Origin()))
        e.Origin()->TakeFocus();
      return true;
    default:
      return true;
  }
}

namespace twui {
// The control's part of a WM_COMMAND or scroll message that came to its parent.
bool RouteToControl(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
  UI_Controller& c = UI_Controller::Instance();
  UI_VisualObject* o = c.ObjectFor(reinterpret_cast<UI_NativeHandle>(lp));
  if (!o) return false;
  if (msg == WM_COMMAND) {
    unsigned code = HIWORD(wp);
    o->HandleNotification(code);
    // A click on a control takes the focus from where it was: the control hears of it
    // before the selection.
    if (code == 0) {
      UI_Event lose(Event_LoseFocus, o);
      o->Dispatch(lose);
    }
    if (UI_CommandEventType(code) == Event_Select) {
      UI_Event e(Event_Select, o);
      o->Dispatch(e);
    }
  } else {
    o->HandleScroll(LOWORD(wp), long(short(HIWORD(wp))));
    UI_Event e(UI_ScrollEventType(LOWORD(wp)), o);
    e.param = long(short(HIWORD(wp)));
    o->Dispatch(e);
  }
  return true;
}
}  // namespace twui

std::intptr_t UI_CompositeVObject::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                       std::intptr_t lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (lp && RouteToControl(msg, wp, lp)) return 0;
      break;
    case WM_CLOSE:
      // The close box travels as an event; CloseDown removes the window when it may close.
      return UI_VisualObject::HandleNativeMessage(msg, wp, lp);
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      if (Uses3DLook()) return Ctl3dControlColor(msg, wp, lp);
      break;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize.x = min_width_;
      info->ptMinTrackSize.y = min_height_;
      info->ptMaxTrackSize.x = max_width_;
      info->ptMaxTrackSize.y = max_height_;
      return 0;
    }
    case WM_SIZE: {
      long t = UI_SizeEventType(wp, iconified_);
      if (t == Event_Iconify || t == Event_Deiconify) {
        UI_Event e(t, this);
        Dispatch(e);
      }
      break;
    }
    default:
      break;
  }
  return UI_VObjCollection::HandleNativeMessage(msg, wp, lp);
}

// --- DialogEvent

const char* DialogEvent::ClassName() const {
  return "DialogEvent";
}
CL_Long DialogEvent::ClassId() const {
  return UI_ClassId_DialogEvent;
}

short DialogEvent::Compare(const CL_Object& other) const {
  if (std::strcmp(other.ClassName(), ClassName()) != 0) return CL_Object::Compare(other);
  const auto& o = static_cast<const DialogEvent&>(other);
  if (id_ != o.id_) return id_ < o.id_ ? -1 : 1;
  if (type_ != o.type_) return type_ < o.type_ ? -1 : 1;
  return 0;
}

CL_String DialogEvent::AsString() const {
  char text[96];
  std::snprintf(text, sizeof text, "(%ld, %s)", id_, UI_EventTypeName(type_));
  return CL_String(text);
}

// --- UI_Dialog

UI_Dialog::UI_Dialog(UI_VisualObject* parent, const UI_Rectangle& shape, const char* title,
                     const UI_ChildDescriptor* table, const CloseEvent* closing, long default_id,
                     const CL_AbstractBinding* veto)
    : UI_CompositeVObject(parent, table, false, shape, -1, title), default_id_(default_id) {
  look3d_ = true;
  if (veto) veto_.reset(static_cast<CL_AbstractBinding*>(veto->Clone()));
  if (closing) {
    for (const CloseEvent* c = closing; c->id != -1 && c->type != 0; ++c)
      AddCloseEvent(c->id, c->type);
  } else {
    AddCloseEvent(IDOK, Event_Select);
    AddCloseEvent(IDCANCEL, Event_Select);
  }
}

UI_Dialog::~UI_Dialog() = default;

const char* UI_Dialog::ClassName() const {
  return "UI_Dialog";
}

std::uint32_t UI_Dialog::NativeStyle() const {
  return WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME | DS_SETFONT |
         (visible_ ? WS_VISIBLE : 0);
}

bool UI_Dialog::IsClosing(long id, long type) const {
  DialogEvent key(id, type);
  for (const DialogEvent& d : closing_)
    if (d.Compare(key) == 0) return true;
  return false;
}

bool UI_Dialog::AddCloseEvent(long id, long type) {
  if (IsClosing(id, type)) return false;
  DialogEvent key(id, type);
  auto at = std::find_if(closing_.begin(), closing_.end(),
                         [&key](const DialogEvent& d) { return d.Compare(key) > 0; });
  closing_.insert(at, key);
  // The binding goes on the dialog: every child's unhandled event climbs to it.
  AddEventBinding(type, UI_EventBinding1<UI_Dialog>(this, &UI_Dialog::ClosingTest));
  return true;
}

bool UI_Dialog::RemoveCloseEvent(long id, long type) {
  DialogEvent key(id, type);
  auto at = std::find_if(closing_.begin(), closing_.end(),
                         [&key](const DialogEvent& d) { return d.Compare(key) == 0; });
  if (at == closing_.end()) return false;
  closing_.erase(at);
  bool other = false;
  for (const auto& c : closing_) other = other || c.Type() == type;
  if (!other) RemoveEventBinding(type, UI_EventBinding1<UI_Dialog>(this, &UI_Dialog::ClosingTest));
  return true;
}

bool UI_Dialog::HandleEvent(const UI_Event& e) {
  if (e.Type() == Event_CloseDown && e.Origin() == this && running_) {
    closed_ = true;
    return true;
  }
  return UI_CompositeVObject::HandleEvent(e);
}

bool UI_Dialog::ClosingTest(const UI_Event& e) {
  // Always lets the event go on: ending the run is the loop's business, not the event's.
  UI_VisualObject* o = e.Origin();
  if (!o || o == this || !IsClosing(o->Id(), e.Type())) return true;
  result_ = o->Id();
  result_type_ = e.Type();
  if (result_ == default_id_ && veto_ && !veto_->Execute(reinterpret_cast<CL_Word>(this)))
    result_ = -1;
  return true;
}

bool UI_Dialog::ModalFilter(const UI_Event& e) {
  switch (e.Type()) {
    case Event_None:
    case Event_MouseMove:
    case Event_ViewEnter:
    case Event_ViewLeave:
    case Event_Paint:
    case Event_Other:
      return true;
    default:
      break;
  }
  if (!e.Origin() || !e.Destination()) return true;
  if (e.Type() == Event_KeyTyped && e.key == '\r' && default_id_ != -1 && FindChild(default_id_) &&
      e.Origin()->IsDescendantOf(this)) {
    result_ = default_id_;
    result_type_ = Event_Select;
    return false;
  }
  return e.Origin()->IsDescendantOf(this) || e.Destination()->IsDescendantOf(this);
}

bool UI_Dialog::MakeVisualElement() {
  if (handle_) return true;
  UI_Controller& c = UI_Controller::Instance();
  long xu = c.XUnit(), yu = c.YUnit();
  std::uint32_t style = NativeStyle();
  RECT r = {int(shape_.Left()), int(shape_.Top()), int(shape_.Left() + shape_.Width()),
            int(shape_.Top() + shape_.Height())};
  AdjustWindowRectEx(&r, style & ~DS_SETFONT, FALSE, 0);
  UI_DialogTemplateSpec spec;
  spec.style = style & ~WS_VISIBLE;
  spec.x = std::int16_t(r.left * 4 / xu);
  spec.y = std::int16_t(r.top * 8 / yu);
  spec.cx = std::int16_t(((r.right - r.left) * 4 + 4) / xu);
  spec.cy = std::int16_t(((r.bottom - r.top) * 8 + 8) / yu);
  spec.title = title_.AsPtr();
  spec.font_points = 8;
  spec.font_face = "MS Shell Dlg";
  template_ = UI_BuildDialogTemplate(spec);
  // The template must be DWORD-aligned; a vector of 32-bit words guarantees it.
  std::vector<DWORD> block((template_.size() + 3) / 4);
  std::memcpy(block.data(), template_.data(), template_.size());
  UI_NativeHandle pw = parent_ ? parent_->ContainerWindow() : nullptr;
  HWND h = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<const DLGTEMPLATE*>(block.data()), Hwnd(pw),
                                      DialogProc, reinterpret_cast<LPARAM>(this));
  if (!h) {
    CL_Error::Warning("Dialog creation failed: id %ld class %s", id_, ClassName());
    return false;
  }
  SetHandle(h);
  int px = 0, py = 0;
  if (pw) {
    RECT pr;
    GetWindowRect(Hwnd(pw), &pr);
    px = pr.left;
    py = pr.top;
  }
  SetWindowPos(h, nullptr, r.left + px, r.top + py, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (!MakeChildren()) return false;
  if (Uses3DLook()) Ctl3dStyleDialog(h);
  for (UI_VisualObject* ch : children_)
    if (focus_ < 0 && SetFocusChild(ch)) break;
  if (visible_) ShowWindow(h, SW_SHOW);
  if (UI_VisualObject* f = FocusChild()) f->TakeFocus();
  return true;
}

std::pair<long, long> UI_Dialog::ExecuteModal() {
  result_ = -1;
  result_type_ = 0;
  closed_ = false;
  running_ = true;
  if (!handle_ && !MakeVisualElement()) {
    running_ = false;
    return {-1, 0};
  }
  // Events already pending are handled by the run itself, under its filter.
  UI_Controller& c = UI_Controller::Instance();
  c.ProcessEventsUntil([this] { return result_ != -1 || closed_ || !handle_; },
                       [this](const UI_Event& e) {
                         if (e.Type() == Event_CloseDown && e.Origin() == this) closed_ = true;
                         return ModalFilter(e);
                       });
  running_ = false;
  if (parent_) parent_->TakeFocus();
  return {result_, result_type_};
}

// --- message box and file dialog

int UI_MessageBox(const char* text, const char* caption, UI_VisualObject* owner, int buttons,
                  int icon) {
  UINT type = MB_TASKMODAL;
  switch (buttons) {
    case 0:
      type |= MB_OK;
      break;
    case 2:
      type |= MB_YESNO;
      break;
    case 3:
      type |= MB_YESNOCANCEL;
      break;
    default:
      type |= MB_OKCANCEL;
      break;
  }
  switch (icon) {
    case 0:
      type |= MB_ICONASTERISK;
      break;
    case 1:
      type |= MB_ICONEXCLAMATION;
      break;
    case 2:
      type |= MB_ICONHAND;
      break;
    case 3:
      type |= MB_ICONQUESTION;
      break;
    default:
      break;
  }
  int r = MessageBoxW(owner ? Hwnd(owner->Handle()) : nullptr, Wide(text).c_str(),
                      Wide(caption).c_str(), type);
  if (r == IDYES) return 3;
  if (r == IDNO) return 4;
  return r;
}

CL_String UI_FileSelectDialog(UI_VisualObject* owner, const char* directory, const char* title,
                              const char* pattern) {
  if (!owner) return CL_String("");
  WideText filter;
  std::size_t plen = pattern ? std::strlen(pattern) : 0;
  if (plen >= 1 && plen <= 255) {
    filter.s = u" ";
    filter.s.push_back(u'\0');
    filter.s += Wide(pattern).s;
    filter.s.push_back(u'\0');
    filter.s.push_back(u'\0');
  }
  WideText dir = Wide(directory), ttl = Wide(title);
  wchar_t file[256] = {};
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Hwnd(owner->Handle());
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = 256;
  ofn.lpstrInitialDir = directory ? dir.c_str() : nullptr;
  ofn.lpstrTitle = title ? ttl.c_str() : nullptr;
  ofn.Flags = OFN_HIDEREADONLY;
  BOOL ok = filter.empty() ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) {
    DWORD code = CommDlgExtendedError();
    if (code) {
      char msg[64];
      std::snprintf(msg, sizeof msg, "FileSelectDialog failed: Error code: %lu",
                    (unsigned long)code);
      UI_MessageBox(msg, "", owner, 0, 2);
    }
    file[0] = 0;
  }
  InvalidateRect(Hwnd(owner->Handle()), nullptr, TRUE);
  return CL_String(Narrow(file, std::size_t(lstrlenW(file))).c_str());
}
