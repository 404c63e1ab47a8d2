#include "twcl/ui/visual.h"

#include <cstdio>

#include "twcl/base/error.h"
#include "twcl/ui/composite.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/win32/native.h"

namespace twui {

// Posted by UI_Application::Destroy: the window goes when the loop comes to it.
constexpr UINT kDestroyMessage = WM_APP + 0x71;

const wchar_t kWindowClass[] = L"TwclWindow";

bool RegisterClasses() {
  static bool done = false;
  if (done) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = WindowProc;
  wc.cbWndExtra = sizeof(LONG_PTR);  // pointer-sized window word
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  done = RegisterClassExW(&wc) != 0;
  if (!done) CL_Error::Warning("UI_Controller: cannot register the window class");
  return done;
}

LRESULT CALLBACK WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  UI_Controller& c = UI_Controller::Instance();
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    if (auto* o = static_cast<UI_VisualObject*>(cs->lpCreateParams)) c.Register(h, o);
  }
  UI_VisualObject* o = c.ObjectFor(h);
  if (!o) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    c.Forget(h);
    return DefWindowProcW(h, msg, wp, lp);
  }
  // The window under the pointer shows its object's cursor; a control's request reaches its
  // parent first, and an object without a cursor leaves the window class's.
  if (msg == WM_SETCURSOR && LOWORD(lp) == HTCLIENT) {
    UI_VisualObject* under = c.ObjectFor(reinterpret_cast<HWND>(wp));
    if (under && under->Cursor().Use()) return TRUE;
  }
  return o->HandleNativeMessage(msg, wp, lp);
}

INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  UI_Controller& c = UI_Controller::Instance();
  if (msg == WM_INITDIALOG) {
    if (auto* o = reinterpret_cast<UI_VisualObject*>(lp)) c.Register(h, o);
    return FALSE;
  }
  UI_VisualObject* o = c.ObjectFor(h);
  if (!o) return FALSE;
  switch (msg) {
    case WM_NCDESTROY:
      c.Forget(h);
      return FALSE;
    case WM_COMMAND:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CLOSE:
      o->HandleNativeMessage(msg, wp, lp);
      return TRUE;
    default:
      // A dialog procedure answers the control-colour messages with the brush itself.
      if (IsControlColorMessage(msg)) return o->HandleNativeMessage(msg, wp, lp);
      return FALSE;
  }
}

}  // namespace twui

using namespace twui;

// --- UI_Event

UI_Event::UI_Event(long type, UI_VisualObject* origin, UI_VisualObject* destination,
                   const UI_NativeMessage* native)
    : type_(type), origin_(origin), destination_(destination ? destination : origin) {
  if (native) native_ = std::make_unique<UI_NativeMessage>(*native);
}

UI_Event::UI_Event(const UI_Event& e)
    : shape(e.shape), key(e.key), param(e.param), shift(e.shift), alt(e.alt), control(e.control),
      type_(e.type_), origin_(e.origin_), destination_(e.destination_) {
  if (e.native_) native_ = std::make_unique<UI_NativeMessage>(*e.native_);
}

UI_Event& UI_Event::operator=(const UI_Event& e) {
  if (this == &e) return *this;
  shape = e.shape;
  key = e.key;
  param = e.param;
  shift = e.shift;
  alt = e.alt;
  control = e.control;
  type_ = e.type_;
  origin_ = e.origin_;
  destination_ = e.destination_;
  native_.reset(e.native_ ? new UI_NativeMessage(*e.native_) : nullptr);
  return *this;
}

// --- UI_VisualObject

UI_VisualObject::UI_VisualObject(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* title)
    : parent_(parent), shape_(shape), id_(id), title_(title ? title : "") {
  if (parent_) parent_->AddChildObject(this);
}

UI_VisualObject::~UI_VisualObject() {
  // The surface gives its context back while the window is still there.
  DeleteDrawingSurface();
  // Children first (they unhook themselves from this), then the window.
  while (!children_.empty()) delete children_.back();
  if (handle_) {
    HWND h = Hwnd(handle_);
    UI_Controller::Instance().Unregister(handle_);
    handle_ = nullptr;
    if (IsWindow(h)) DestroyWindow(h);
  }
  if (parent_) parent_->RemoveChildObject(this);
}

const char* UI_VisualObject::ClassName() const { return "UI_VisualObject"; }

void UI_VisualObject::AddChildObject(UI_VisualObject* c) { children_.push_back(c); }
void UI_VisualObject::RemoveChildObject(UI_VisualObject* c) {
  for (auto it = children_.begin(); it != children_.end(); ++it)
    if (*it == c) {
      children_.erase(it);
      return;
    }
}

UI_VisualObject* UI_VisualObject::FindChild(long id) const {
  for (UI_VisualObject* c : children_) {
    if (c->id_ == id) return c;
    if (UI_VisualObject* d = c->FindChild(id)) return d;
  }
  return nullptr;
}

UI_VisualObject* UI_VisualObject::Child(long id) const {
  UI_VisualObject* c = FindChild(id);
  if (!c) CL_Error::Warning("%s: no child with id %ld", ClassName(), id);
  return c;
}

bool UI_VisualObject::IsDescendantOf(const UI_VisualObject* o) const {
  for (const UI_VisualObject* p = this; p; p = p->parent_)
    if (p == o) return true;
  return false;
}

CL_String UI_VisualObject::Title() const {
  if (handle_) return CL_String(WindowText(Hwnd(handle_)).c_str());
  return title_;
}

bool UI_VisualObject::SetTitle(const char* text) {
  title_ = text ? text : "";
  if (!handle_) return true;
  return SetWindowTextW(Hwnd(handle_), Wide(text).c_str());
}

UI_Rectangle UI_VisualObject::Shape() const {
  if (!handle_) return shape_;
  RECT r;
  GetWindowRect(Hwnd(handle_), &r);
  HWND parent = GetParent(Hwnd(handle_));
  if (parent && (GetWindowLongW(Hwnd(handle_), GWL_STYLE) & WS_CHILD))
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return UI_Rectangle(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

bool UI_VisualObject::Enable(bool on) {
  enabled_ = on;
  if (handle_) EnableWindow(Hwnd(handle_), on);
  return true;
}

bool UI_VisualObject::IsEnabled() const {
  return handle_ ? IsWindowEnabled(Hwnd(handle_)) != 0 : enabled_;
}

bool UI_VisualObject::Show(bool on) {
  visible_ = on;
  if (handle_) ShowWindow(Hwnd(handle_), on ? SW_SHOW : SW_HIDE);
  return true;
}

bool UI_VisualObject::IsVisible() const {
  return handle_ ? (GetWindowLongW(Hwnd(handle_), GWL_STYLE) & WS_VISIBLE) != 0 : visible_;
}

bool UI_VisualObject::TakeFocus() { return UI_Controller::Instance().SetFocusTo(this); }

bool UI_VisualObject::HasFocus() const { return handle_ && GetFocus() == Hwnd(handle_); }

const char* UI_VisualObject::NativeClass() const { return nullptr; }

std::uint32_t UI_VisualObject::NativeStyle() const {
  return WS_CLIPCHILDREN | (visible_ ? WS_VISIBLE : 0);
}

void UI_VisualObject::SetHandle(UI_NativeHandle h) {
  handle_ = h;
  if (h) UI_Controller::Instance().Register(h, this);
}

bool UI_VisualObject::CreateNative(UI_NativeHandle parent_window, bool child) {
  if (!RegisterClasses()) return false;
  std::uint32_t style = NativeStyle();
  if (child) style |= WS_CHILD;
  if (!enabled_) style |= WS_DISABLED;
  if (!visible_) style &= ~WS_VISIBLE;
  int x = int(shape_.Left()), y = int(shape_.Top()), w = int(shape_.Width()), h = int(shape_.Height());
  if (!child) {
    RECT r = {x, y, x + w, y + h};
    AdjustWindowRectEx(&r, style, FALSE, NativeExStyle());
    x = r.left < 0 ? 0 : r.left;
    y = r.top < 0 ? 0 : r.top;
    w = r.right - r.left;
    h = r.bottom - r.top;
  }
  const char* cls = NativeClass();
  WideText wcls = Wide(cls);
  HWND hw = CreateWindowExW(NativeExStyle(), cls ? wcls.c_str() : kWindowClass, Wide(title_.AsPtr()).c_str(), style, x, y,
                            w, h, Hwnd(parent_window),
                            child ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : nullptr,
                            GetModuleHandleW(nullptr), cls ? nullptr : this);
  if (!hw) {
    CL_Error::Warning("Window creation failed: id %ld class %s", id_, ClassName());
    return false;
  }
  SetHandle(hw);
  // Controls take the font of the dialogs rather than the system's bold one.
  HGDIOBJ font = font_ && font_->Handle() ? font_->Handle() : GetStockObject(DEFAULT_GUI_FONT);
  SendMessageW(hw, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return true;
}

bool UI_VisualObject::MakeVisualElement() {
  if (handle_) return true;
  // A child's window hangs on the nearest ancestor that has one.
  UI_NativeHandle pw = parent_ ? parent_->ContainerWindow() : nullptr;
  if (!CreateNative(pw, pw != nullptr)) return false;
  return AfterCreate();
}

UI_NativeHandle UI_VisualObject::ContainerWindow() const {
  if (handle_) return handle_;
  return parent_ ? parent_->ContainerWindow() : nullptr;
}

bool UI_VisualObject::AfterCreate() { return MakeChildren(); }

bool UI_VisualObject::MakeChildren() {
  for (UI_VisualObject* c : children_)
    if (!c->MakeVisualElement()) return false;
  return true;
}

std::intptr_t UI_VisualObject::DefaultProc(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
  if (!handle_) return 0;
  if (default_proc_)
    return CallWindowProcW(reinterpret_cast<WNDPROC>(default_proc_), Hwnd(handle_), msg, wp, lp);
  return DefWindowProcW(Hwnd(handle_), msg, wp, lp);
}

std::intptr_t UI_VisualObject::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                   std::intptr_t lp) {
  return DefaultProc(msg, wp, lp);
}

bool UI_VisualObject::AddEventBinding(long type, const CL_AbstractBinding& b) {
  auto range = bindings_.equal_range(type);
  for (auto it = range.first; it != range.second; ++it)
    if (*it->second == b) return false;
  bindings_.emplace(type, std::unique_ptr<CL_AbstractBinding>(static_cast<CL_AbstractBinding*>(b.Clone())));
  return true;
}

bool UI_VisualObject::RemoveEventBinding(long type, const CL_AbstractBinding& b) {
  auto range = bindings_.equal_range(type);
  for (auto it = range.first; it != range.second; ++it)
    if (*it->second == b) {
      bindings_.erase(it);
      return true;
    }
  return false;
}

bool UI_VisualObject::Dispatch(UI_Event& e) {
  for (UI_VisualObject* o = this; o; o = o->parent_) {
    e.SetDestination(o);
    bool handled = false;
    // Copies: a binding may add or remove bindings of the object.
    std::vector<CL_AbstractBinding*> run;
    auto range = o->bindings_.equal_range(e.Type());
    for (auto it = range.first; it != range.second; ++it) run.push_back(it->second.get());
    for (CL_AbstractBinding* b : run) handled = b->Execute(reinterpret_cast<CL_Word>(&e)) || handled;
    if (handled) return true;
    if (o == this ? o->HandleEvent(e) : o->ProcessChildEvent(e)) return true;
  }
  return false;
}

bool UI_VisualObject::HandleEvent(const UI_Event&) { return false; }
bool UI_VisualObject::ProcessChildEvent(const UI_Event& e) { return HandleEvent(e); }

// --- UI_Controller

UI_Controller& UI_Controller::Instance() {
  static UI_Controller c;
  return c;
}

UI_Controller::UI_Controller() { RegisterClasses(); }

UI_VisualObject* UI_Controller::ObjectFor(UI_NativeHandle h) const {
  auto it = objects_.find(h);
  return it == objects_.end() ? nullptr : it->second;
}

void UI_Controller::Register(UI_NativeHandle h, UI_VisualObject* o) {
  objects_[h] = o;
  if (!o->handle_) o->handle_ = h;
}

void UI_Controller::Unregister(UI_NativeHandle h) {
  auto it = objects_.find(h);
  if (it == objects_.end()) return;
  UI_VisualObject* gone = it->second;
  objects_.erase(it);
  // Soft events for an object that is going away are dropped with it.
  std::erase_if(soft_, [gone](const UI_Event& e) {
    return e.Origin() == gone || e.Destination() == gone;
  });
}

void UI_Controller::Forget(UI_NativeHandle h) {
  if (UI_VisualObject* o = ObjectFor(h)) {
    if (o->handle_ == h) o->handle_ = nullptr;
    Unregister(h);
  }
}

void UI_Controller::PostSoftEvent(const UI_Event& e) { soft_.push_back(e); }

bool UI_Controller::DispatchSoft() {
  if (soft_.empty()) return false;
  UI_Event e = soft_.front();
  soft_.pop_front();
  if (e.Destination() && (filters_.empty() || filters_.back()(e))) e.Destination()->Dispatch(e);
  return true;
}

bool UI_Controller::HandleOne(bool wait) {
  if (DispatchSoft()) return true;
  MSG m;
  if (wait) {
    if (GetMessageW(&m, nullptr, 0, 0) <= 0) {
      quit_ = true;
      return false;
    }
  } else if (!PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  } else if (m.message == WM_QUIT) {
    quit_ = true;
    return false;
  }
  pointer_ = UI_Point(m.pt.x, m.pt.y);
  if (m.message == kDestroyMessage) {
    if (IsWindow(m.hwnd)) DestroyWindow(m.hwnd);
    return true;
  }
  UI_VisualObject* o = ObjectFor(m.hwnd);
  long type = UI_EventTypeOfMessage(m.message);
  bool input = m.message == WM_CHAR || (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST);
  if (o && input) {
    UI_NativeMessage nm{m.hwnd, m.message, m.wParam, m.lParam, m.time, m.pt.x, m.pt.y};
    UI_Event e(type, o, o, &nm);
    UI_MessagePoint p = UI_PointFromParam(m.lParam);
    e.shape = UI_Rectangle(p.x, p.y, 0, 0);
    e.alt = UI_AltFromParam(m.lParam);
    e.shift = GetKeyState(VK_SHIFT) < 0;
    e.control = GetKeyState(VK_CONTROL) < 0;
    if (m.message == WM_CHAR) e.key = char(m.wParam & 0xff);
    if (!filters_.empty() && !filters_.back()(e)) {
      if (type == Event_LButtonRelease) Beep();
      return true;
    }
    bool handled = o->Dispatch(e);
    // A key the library used (TAB moving the focus) does not reach the control.
    if (handled && type == Event_KeyTyped) return true;
  }
  TranslateMessage(&m);
  DispatchMessageW(&m);
  return true;
}

void UI_Controller::FlushEvents() {
  while (HandleOne(false)) {
  }
}

bool UI_Controller::ProcessEventsUntil(const std::function<bool()>& done,
                                       const std::function<bool(const UI_Event&)>& filter) {
  if (filter) filters_.push_back(filter);
  bool ok = true;
  while (!done()) {
    if (quit_ || !HandleOne(true)) {
      ok = false;
      break;
    }
  }
  if (filter) filters_.pop_back();
  return ok;
}

void UI_Controller::Quit(int code) { PostQuitMessage(code); }

bool UI_Controller::SetFocusTo(UI_VisualObject* o) {
  if (!o || !o->Handle()) return false;
  SetFocus(Hwnd(o->Handle()));
  return GetFocus() == Hwnd(o->Handle());
}

UI_VisualObject* UI_Controller::FocusedObject() const { return ObjectFor(GetFocus()); }

void UI_Controller::Beep() { MessageBeep(MB_OK); }

void UI_Controller::WaitCursor(bool on) {
  SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(on ? IDC_WAIT : IDC_ARROW)));
}

long UI_Controller::XUnit() {
  if (!xunit_) {
    LONG units = GetDialogBaseUnits();
    xunit_ = LOWORD(units) < 1 ? 4 : LOWORD(units);
    yunit_ = HIWORD(units) < 1 ? 8 : HIWORD(units);
  }
  return xunit_;
}

long UI_Controller::YUnit() {
  XUnit();
  return yunit_;
}

// --- UI_Application

namespace {
UI_Application* g_app = nullptr;
CL_ErrorHandler g_old_warning = nullptr, g_old_fatal = nullptr;

bool WarningBox(const char* text) {
  MessageBoxW(nullptr, Wide(text).c_str(), L"Warning", MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
  return true;
}

bool FatalBox(const char* text) {
  MessageBoxW(nullptr, Wide(text).c_str(), L"Fatal error", MB_OK | MB_ICONHAND | MB_TASKMODAL);
  return true;
}
}  // namespace

UI_Application::UI_Application(const char* name, bool message_box_warnings)
    : name_(name), hooks_(message_box_warnings) {
  g_app = this;
  UI_Controller::Instance();
  if (hooks_) {
    g_old_warning = CL_Error::SetWarningHandler(WarningBox);
    g_old_fatal = CL_Error::SetFatalHandler(FatalBox);
  }
  Ctl3dRegister();
}

UI_Application::~UI_Application() {
  Ctl3dUnregister();
  if (hooks_) {
    CL_Error::SetWarningHandler(g_old_warning);
    CL_Error::SetFatalHandler(g_old_fatal);
  }
  if (g_app == this) g_app = nullptr;
}

UI_Application* UI_Application::Instance() { return g_app; }

int UI_Application::Run(UI_VisualObject* main_window) {
  if (!main_window || !main_window->MakeVisualElement()) return 1;
  HWND h = Hwnd(main_window->Handle());
  return UI_Controller::Instance().ProcessEventsUntil([h] { return !IsWindow(h); }) ? 0 : 1;
}

void UI_Application::Destroy(UI_VisualObject* o) {
  if (o && o->Handle()) PostMessageW(Hwnd(o->Handle()), kDestroyMessage, 0, 0);
}
