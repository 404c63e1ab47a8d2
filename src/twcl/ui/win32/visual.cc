#include "twcl/ui/visual.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "twcl/base/client_set.h"
#include "twcl/base/error.h"
#include "twcl/ui/composite.h"
#include "twcl/ui/graphics.h"
#include "twcl/ui/win32/native.h"

namespace twui {

const wchar_t kWindowClass[] = L"TWCLWindow";

namespace {
// The window id of a frame's first document; the client window numbers them from there.
constexpr UINT kFirstDocumentId = 0xFF00;

// The object whose window CreateWindowEx is making: Win32 asks for its size limits
// (WM_GETMINMAXINFO) before the creation parameters arrive with WM_NCCREATE.
UI_VisualObject* g_creating = nullptr;

template <LRESULT(CALLBACK* Default)(HWND, UINT, WPARAM, LPARAM)>
LRESULT LibraryProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  UI_Controller& c = UI_Controller::Instance();
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    void* param = cs->lpCreateParams;
    // A document window's parameter comes wrapped in its client window's creation record.
    if (param && (cs->dwExStyle & WS_EX_MDICHILD))
      param = reinterpret_cast<void*>(static_cast<MDICREATESTRUCTW*>(param)->lParam);
    if (auto* o = static_cast<UI_VisualObject*>(param)) c.Register(h, o);
  }
  UI_VisualObject* o = c.ObjectFor(h);
  if (!o && g_creating && !g_creating->Handle()) {
    c.Register(h, g_creating);
    o = g_creating;
  }
  if (!o) return Default(h, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    c.Forget(h);
    return Default(h, msg, wp, lp);
  }
  // The window under the pointer shows its object's cursor; a control's request reaches its
  // parent first, and an object without a cursor leaves the window class's.
  if (msg == WM_SETCURSOR && LOWORD(lp) == HTCLIENT) {
    UI_VisualObject* under = c.ObjectFor(reinterpret_cast<HWND>(wp));
    if (under && under->Cursor().Use()) return TRUE;
  }
  return o->HandleNativeMessage(msg, wp, lp);
}

LRESULT CALLBACK FrameDefault(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return DefFrameProcW(h, nullptr, msg, wp, lp);
}

LRESULT CALLBACK SimpleObjectProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return LibraryProc<DefWindowProcW>(h, msg, wp, lp);
}
LRESULT CALLBACK FrameProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return LibraryProc<FrameDefault>(h, msg, wp, lp);
}
LRESULT CALLBACK MDIChildProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return LibraryProc<DefMDIChildProcW>(h, msg, wp, lp);
}

std::string WindowClassOf(HWND h) {
  char name[64] = "";
  GetClassNameA(h, name, sizeof name);
  return name;
}

bool IsSingleLineEdit(HWND h) {
  return strcasecmp(WindowClassOf(h).c_str(), "edit") == 0 &&
         !(GetWindowLongW(h, GWL_STYLE) & ES_MULTILINE);
}

bool IsLibraryClass(const char* cls) {
  for (const char* n : {UI_WindowClass, UI_SimpleVObjClass, UI_MDIFrameClass, UI_MDIChildClass})
    if (std::strcmp(cls, n) == 0) return true;
  return false;
}
}  // namespace

bool RegisterClasses() {
  static bool done = false;
  if (done) return true;
  struct Class {
    const char* name;
    UINT style;
    int background;
    WNDPROC proc;
  } classes[] = {
      {UI_WindowClass, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, COLOR_WINDOW, WindowProc},
      {UI_SimpleVObjClass, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS, COLOR_WINDOW, SimpleObjectProc},
      {UI_MDIFrameClass, 0, COLOR_APPWORKSPACE, FrameProc},
      {UI_MDIChildClass, 0, COLOR_APPWORKSPACE, MDIChildProc},
  };
  done = true;
  for (const Class& k : classes) {
    WideText name = Wide(k.name);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = k.style;
    wc.lpfnWndProc = k.proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(INT_PTR(k.background + 1));
    wc.lpszClassName = name.c_str();
    // A class left from an earlier attempt that failed part way is there to use.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      CL_Error::Warning("UI_Controller: RegisterClass '%s' failed!", k.name);
      // The main class is the one every window with children needs.
      if (k.proc == WindowProc) done = false;
    }
  }
  return done;
}

LRESULT CALLBACK WindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return LibraryProc<DefWindowProcW>(h, msg, wp, lp);
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
    case WM_GETMINMAXINFO:
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

// --- UI_VisualObject

UI_VisualObject::UI_VisualObject(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* title)
    : parent_(parent), shape_(shape), id_(id), title_(title ? title : "") {
  if (parent_) parent_->AddChildObject(this);
  UI_Controller::Instance().PostSoftEvent(UI_Event(Event_MakeInterface, this, parent_));
}

UI_VisualObject::~UI_VisualObject() {
  // The surface gives its context back while the window is still there.
  DeleteDrawingSurface();
  // Children first (they unhook themselves from this), then the window.
  while (!children_.empty()) delete children_.back();
  DestroyVisualElement();
  UI_Controller::Instance().ObjectDeleted(this);
  if (parent_) parent_->RemoveChildObject(this);
}

bool UI_VisualObject::DestroyVisualElement() {
  if (!handle_) return false;
  HWND h = Hwnd(handle_);
  UI_Controller::Instance().Unregister(handle_);
  handle_ = nullptr;
  mdi_client_ = nullptr;
  if (!IsWindow(h)) return true;
  // A document window goes through its client window, which then activates the next one.
  if (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_MDICHILD)
    SendMessageW(GetParent(h), WM_MDIDESTROY, reinterpret_cast<WPARAM>(h), 0);
  else
    DestroyWindow(h);
  return true;
}

const char* UI_VisualObject::ClassName() const {
  return "UI_VisualObject";
}

void UI_VisualObject::AddChildObject(UI_VisualObject* c) {
  children_.push_back(c);
}
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

bool UI_VisualObject::TakeFocus() {
  return UI_Controller::Instance().SetFocusTo(this);
}

bool UI_VisualObject::HasFocus() const {
  return handle_ && ::GetFocus() == Hwnd(handle_);
}

const char* UI_VisualObject::NativeClass() const {
  return UI_WindowClass;
}

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
  int x = int(shape_.Left()), y = int(shape_.Top()), w = int(shape_.Width()),
      h = int(shape_.Height());
  if (!child) {
    RECT r = {x, y, x + w, y + h};
    AdjustWindowRectEx(&r, style, FALSE, NativeExStyle());
    x = r.left < 0 ? 0 : r.left;
    y = r.top < 0 ? 0 : r.top;
    w = r.right - r.left;
    h = r.bottom - r.top;
  }
  const char* cls = NativeClass();
  if (!cls) cls = UI_WindowClass;
  WideText wcls = Wide(cls);
  bool own = IsLibraryClass(cls);
  UI_VisualObject* outer = g_creating;
  if (own) g_creating = this;
  HWND hw = nullptr;
  if (std::strcmp(cls, UI_MDIChildClass) == 0) {
    // A document window is made by the client window of the nearest frame above it, which
    // keeps the list of its documents; without a frame there is nothing to hold it.
    HWND client = nullptr;
    for (const UI_VisualObject* p = parent_; p && !client; p = p->parent_)
      client = Hwnd(p->mdi_client_);
    if (client)
      hw = CreateMDIWindowW(wcls.c_str(), Wide(title_.AsPtr()).c_str(), style & ~WS_CHILD, x, y, w,
                            h, client, GetModuleHandleW(nullptr), reinterpret_cast<LPARAM>(this));
  } else {
    hw = CreateWindowExW(NativeExStyle(), wcls.c_str(), Wide(title_.AsPtr()).c_str(), style, x, y,
                         w, h, Hwnd(parent_window),
                         child ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)) : nullptr,
                         GetModuleHandleW(nullptr), own ? this : nullptr);
  }
  g_creating = outer;
  if (!hw) {
    CL_Error::Warning("Window creation failed: id %ld class %s", id_, ClassName());
    return false;
  }
  SetHandle(hw);
  if (std::strcmp(cls, UI_MDIFrameClass) == 0) {
    // The frame's client area is the client window of its documents; the frame's default
    // procedure keeps it filling the frame.
    CLIENTCREATESTRUCT ccs = {nullptr, kFirstDocumentId};
    RECT rc = {};
    GetClientRect(hw, &rc);
    HWND client =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"MDICLIENT", nullptr,
                        WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL, 0, 0,
                        rc.right, rc.bottom, hw, nullptr, GetModuleHandleW(nullptr), &ccs);
    if (!client) {
      CL_Error::Warning("Window creation failed: id %ld class %s", id_, ClassName());
      DestroyVisualElement();
      return false;
    }
    mdi_client_ = client;
  }
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

bool UI_VisualObject::AfterCreate() {
  return MakeChildren();
}

bool UI_VisualObject::MakeChildren() {
  for (UI_VisualObject* c : children_)
    if (!c->MakeVisualElement()) return false;
  return true;
}

std::intptr_t UI_VisualObject::DefaultProc(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp) {
  if (!handle_) return 0;
  if (default_proc_)
    return CallWindowProcW(reinterpret_cast<WNDPROC>(default_proc_), Hwnd(handle_), msg, wp, lp);
  if (mdi_client_) return DefFrameProcW(Hwnd(handle_), Hwnd(mdi_client_), msg, wp, lp);
  if (GetWindowLongW(Hwnd(handle_), GWL_EXSTYLE) & WS_EX_MDICHILD)
    return DefMDIChildProcW(Hwnd(handle_), msg, wp, lp);
  return DefWindowProcW(Hwnd(handle_), msg, wp, lp);
}

std::intptr_t UI_VisualObject::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                   std::intptr_t lp) {
  switch (msg) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      UI_Event e(msg == WM_SETFOCUS ? Event_GetFocus : Event_LoseFocus, this);
      Dispatch(e);
      break;
    }
    case WM_CLOSE: {
      // Not the default procedure's: the window goes only when CloseDown lets it.
      UI_Event e(Event_CloseDown, this);
      Dispatch(e);
      return 0;
    }
    case WM_MOVE:
    case WM_SIZE: {
      UI_MessagePoint p = UI_PointFromParam(lp);
      long type = msg == WM_MOVE ? Event_Reconfigure : UI_SizeEventType(wp, IsIconified());
      UI_Event e(type, this);
      e.shape = msg == WM_MOVE
                    ? UI_Rectangle(p.x, p.y, shape_.Width(), shape_.Height())
                    : UI_Rectangle(shape_.Left(), shape_.Top(), long(LOWORD(lp)), long(HIWORD(lp)));
      Dispatch(e);
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (!BeginPaint(Hwnd(handle_), &ps)) break;
      const RECT& r = ps.rcPaint;
      UI_Event e(Event_Paint, this);
      e.shape = UI_Rectangle(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1);
      Dispatch(e);
      EndPaint(Hwnd(handle_), &ps);
      return 0;
    }
    default:
      break;
  }
  return DefaultProc(msg, wp, lp);
}

bool UI_VisualObject::AddEventBinding(long type, const CL_AbstractBinding& b) {
  std::unique_ptr<CL_ClientSet>& set = bindings_[type];
  if (!set) set = std::make_unique<CL_ClientSet>();
  return set->Add(b);
}

bool UI_VisualObject::RemoveEventBinding(long type, const CL_AbstractBinding& b) {
  auto it = bindings_.find(type);
  return it != bindings_.end() && it->second->Remove(b);
}

bool UI_VisualObject::Dispatch(UI_Event& e) {
  std::vector<UI_VisualObject*>& stack = UI_Controller::Instance().handlers_;
  // Runs one object's part; false when the object was deleted by its handler, which leaves
  // its ancestors unknown here.
  auto run = [&stack](UI_VisualObject* o, bool& handled, auto part) {
    stack.push_back(o);
    handled = part();
    bool alive = stack.back() != nullptr;
    stack.pop_back();
    return alive;
  };
  e.SetDestination(this);
  bool handled = false;
  if (!run(this, handled, [&] { return ProcessEvent(e); }) || handled) return handled;
  for (UI_VisualObject* o = parent_; o; o = o->parent_) {
    e.SetDestination(o);
    if (!run(o, handled, [&] { return o->ProcessChildEvent(e); }) || handled) return handled;
  }
  return false;
}

bool UI_VisualObject::PermitsEvent(const UI_Event& e) {
  auto it = bindings_.find(e.Type());
  return it == bindings_.end() || it->second->Permits(reinterpret_cast<CL_Word>(&e));
}

bool UI_VisualObject::ProcessEvent(UI_Event& e) {
  if (e.Type() == Event_Reconfigure) shape_ = e.shape;
  const bool handled = HandleEvent(e);
  return !PermitsEvent(e) || handled;
}

bool UI_VisualObject::ProcessChildEvent(const UI_Event& e) {
  const bool handled = HandleChildEvent(e);
  return !PermitsEvent(e) || handled;
}

bool UI_VisualObject::HandleEvent(const UI_Event& e) {
  const UI_Point p = e.Position();
  switch (e.Type()) {
    case Event_MouseMove:
      return MouseMove(p);
    case Event_LButtonPress:
      return ButtonDown(p, 1, e.shift, e.control);
    case Event_MButtonPress:
      return ButtonDown(p, 2, e.shift, e.control);
    case Event_RButtonPress:
      return ButtonDown(p, 3, e.shift, e.control);
    case Event_LButtonRelease:
      return ButtonUp(p, 1);
    case Event_MButtonRelease:
      return ButtonUp(p, 2);
    case Event_RButtonRelease:
      return ButtonUp(p, 3);
    case Event_LButtonDblClk:
      return DoubleClick(p, 1);
    case Event_MButtonDblClk:
      return DoubleClick(p, 2);
    case Event_RButtonDblClk:
      return DoubleClick(p, 3);
    case Event_KeyTyped:
      return KeyTyped(e.key);
    case Event_GetFocus:
      return GetFocus();
    case Event_LoseFocus:
      return LoseFocus();
    case Event_Paint:
      return handle_ ? Paint(e.shape) : false;
    case Event_Reconfigure:
      return Reconfigure(e.shape);
    case Event_ViewEnter:
      return ViewEnter(p);
    case Event_ViewLeave:
      return ViewLeave(p);
    case Event_Iconify:
      return Iconify();
    case Event_Deiconify:
      return Deiconify();
    case Event_CloseDown:
      // Whatever the object did, the ancestors hear of the request too.
      CloseDown();
      return false;
    case Event_Select:
      return Select();
    default:
      return false;
  }
}

bool UI_VisualObject::Paint(const UI_Rectangle& area) {
  if (!handle_ || !IsLibraryClass(NativeClass())) return false;
  HWND h = Hwnd(handle_);
  HDC dc = GetDC(h);
  if (!dc) return false;
  RECT r = {int(area.Left()), int(area.Top()), int(area.Left() + area.Width()),
            int(area.Top() + area.Height())};
  if (Uses3DLook()) {
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  } else if (HBRUSH b = CreateSolidBrush(background_.NativeForm())) {
    FillRect(dc, &r, b);
    DeleteObject(b);
  }
  ReleaseDC(h, dc);
  return false;
}

bool UI_VisualObject::CloseDown() {
  const std::vector<UI_VisualObject*>& stack = UI_Controller::Instance().HandlerStack();
  for (std::size_t i = 0; i + 1 < stack.size(); ++i)
    if (stack[i] && stack[i]->IsDescendantOf(this)) return false;
  if (!CanClose()) return false;
  if (UI_Application* app = UI_Application::Instance())
    app->Destroy(this);
  else if (handle_)
    DestroyWindow(Hwnd(handle_));
  return true;
}

bool UI_VisualObject::SetForeground(const UI_Color& c) {
  foreground_ = c;
  return true;
}

bool UI_VisualObject::SetBackground(const UI_Color& c) {
  background_ = c;
  // A surface already made draws on the new ground from now on.
  return !surface_ || surface_->SetBackground(c);
}

// --- UI_Controller

UI_Controller& UI_Controller::Instance() {
  static UI_Controller c;
  return c;
}

UI_Controller::UI_Controller() {
  RegisterClasses();
}

UI_VisualObject* UI_Controller::ObjectFor(UI_NativeHandle h) const {
  auto it = objects_.find(h);
  return it == objects_.end() ? nullptr : it->second;
}

namespace {
// The label of the handle tree's root: stands for the program, never a window's handle.
constexpr CL_Word kProgramNode = 1;

CL_Word Label(UI_NativeHandle h) {
  return reinterpret_cast<CL_Word>(h);
}

// Counts the handlers running: a window quit while one runs waits until it is done.
struct Busy {
  explicit Busy(int& n) : n_(n) { ++n_; }
  ~Busy() { --n_; }
  int& n_;
};
}  // namespace

void UI_Controller::Register(UI_NativeHandle h, UI_VisualObject* o) {
  auto [it, added] = objects_.emplace(h, o);
  if (!added && it->second != o) {
    CL_Error::Warning("Controller::Register: Duplicate handle %lx id %ld class name '%s'",
                      static_cast<unsigned long>(Label(h)), o->Id(), o->ClassName());
    it->second = o;
  }
  if (!o->handle_) o->handle_ = h;
  if (!tree_.Root() && !tree_.NewRoot(kProgramNode))
    CL_Error::Fatal("Controller::Register: Root creation failed");
  if (CL_TreeNode* n = tree_.Node(Label(h))) {
    n->Content() = reinterpret_cast<CL_Word>(o);
    return;
  }
  CL_Word under = kProgramNode;
  for (UI_VisualObject* p = o->parent_; p; p = p->parent_)
    if (p->handle_ && tree_.Node(Label(p->handle_))) {
      under = Label(p->handle_);
      break;
    }
  if (CL_TreeNode* n = tree_.AddChild(Label(h), under, 200000))
    n->Content() = reinterpret_cast<CL_Word>(o);
}

void UI_Controller::DropEventsOf(const UI_VisualObject* gone) {
  std::erase_if(
      soft_, [gone](const UI_Event& e) { return e.Origin() == gone || e.Destination() == gone; });
}

void UI_Controller::Unregister(UI_NativeHandle h) {
  auto it = objects_.find(h);
  if (it == objects_.end()) return;
  UI_VisualObject* gone = it->second;
  objects_.erase(it);
  // Windows below it that are still registered move up to the program's node rather than
  // leaving the tree with it (a child window Win32 destroys later unregisters itself).
  if (CL_TreeNode* n = tree_.Node(Label(h))) {
    std::vector<std::pair<CL_Word, CL_Word>> kept;
    for (CL_Long i = 0; i < n->ChildCount(); ++i)
      kept.emplace_back(n->Child(i)->Label(), n->Child(i)->Content());
    for (const auto& k : kept) tree_.Remove(k.first);
    tree_.Remove(Label(h));
    for (const auto& k : kept)
      if (auto o = objects_.find(reinterpret_cast<UI_NativeHandle>(k.first)); o != objects_.end())
        Register(o->first, o->second);
  }
  if (gone == root_) root_ = nullptr;
  if (gone == pointer_object_) pointer_object_ = nullptr;
  // Soft events for an object that is going away are dropped with it.
  DropEventsOf(gone);
}

void UI_Controller::MakeTopWindow(UI_VisualObject* o) {
  if (root_ && root_ != o) {
    // A fatal handler that lets the program go on keeps the first main window.
    CL_Error::Fatal("Attempt to create two top windows.");
    return;
  }
  root_ = o;
  if (o && o->title_.Size() == 0) o->SetTitle(UI_WindowClass);
}

bool UI_Controller::Remove(UI_VisualObject* o) {
  if (!o || !o->handle_) return false;
  CL_TreeNode* top = tree_.Node(Label(o->handle_));
  if (!top) return false;
  // Every window of the subtree leaves the map and the tree first, so that nothing the
  // deletions below set off reaches an object on its way out.
  std::vector<UI_NativeHandle> handles;
  CL_TreeWalker walk(top);
  while (CL_TreeNode* n = walk.Next())
    handles.push_back(reinterpret_cast<UI_NativeHandle>(n->Label()));
  tree_.Remove(Label(o->handle_));
  for (UI_NativeHandle h : handles) Unregister(h);
  // A tree node hangs on its object's nearest ancestor with a window, so the subtree is
  // the object's descendants, and each destructor deletes its children before itself.
  if (o->parent_) {
    delete o;
  } else {
    while (!o->children_.empty()) delete o->children_.back();
    o->DestroyVisualElement();
  }
  return true;
}

bool UI_Controller::ProcessEvent(UI_Event& e) {
  switch (e.Type()) {
    case Event_MakeInterface: {
      // A child made under a window that exists gets its own now; the rest are made with
      // their parents (or by the program, for top-level objects).
      UI_VisualObject* o = e.Origin();
      if (o && !o->handle_ && o->parent_ && o->parent_->ContainerWindow()) o->MakeVisualElement();
      return false;
    }
    case Event_Quit: {
      bool main = e.Destination() && e.Destination() == root_;
      // Deleting objects whose handlers are still running (a handler that flushes the
      // queue, as the installer's runs do) would pull them from under those handlers.
      if (busy_) {
        if (e.Destination()) deferred_quits_.push_back(e.Destination());
        return false;
      }
      Remove(e.Destination());
      return main;
    }
    default:
      if (!waiting_ && e.Destination() && (filters_.empty() || filters_.back()(e))) {
        Busy busy(busy_);
        e.Destination()->Dispatch(e);
      }
      return false;
  }
}

void UI_Controller::Forget(UI_NativeHandle h) {
  if (UI_VisualObject* o = ObjectFor(h)) {
    if (o->handle_ == h) {
      o->handle_ = nullptr;
      o->mdi_client_ = nullptr;
    }
    Unregister(h);
  }
}

void UI_Controller::PostSoftEvent(const UI_Event& e) {
  soft_.push_back(e);
}

bool UI_Controller::TakeEvent(UI_Event& out) {
  if (soft_.empty()) return false;
  out = soft_.front();
  soft_.pop_front();
  return true;
}

long UI_Controller::CountPending(long type, const UI_VisualObject* parent) const {
  long n = 0;
  for (const UI_Event& e : soft_)
    if (e.Type() == type && e.Origin() && e.Origin()->Parent() == parent) ++n;
  return n;
}

void UI_Controller::BeginWait() {
  waiting_ = true;
  WaitCursor(true);
  FlushEvents();
}

void UI_Controller::EndWait() {
  waiting_ = false;
  WaitCursor(false);
}

bool UI_Controller::GrabPointer(UI_VisualObject* o) {
  if (!o || !o->Handle()) return false;
  SetCapture(Hwnd(o->Handle()));
  return GetCapture() == Hwnd(o->Handle());
}

void UI_Controller::ReleasePointer() {
  ReleaseCapture();
}

void UI_Controller::PointerMovedTo(UI_VisualObject* o) {
  if (o == pointer_object_) return;
  if (UI_VisualObject* left = pointer_object_) {
    UI_Event e(Event_ViewLeave, left, left);
    left->Dispatch(e);
  }
  pointer_object_ = o;
  if (o) {
    UI_Event e(Event_ViewEnter, o, o);
    o->Dispatch(e);
  }
}

void UI_Controller::ObjectDeleted(const UI_VisualObject* o) {
  if (o == root_) root_ = nullptr;
  if (o == pointer_object_) pointer_object_ = nullptr;
  std::erase(deferred_quits_, o);
  std::replace(handlers_.begin(), handlers_.end(), const_cast<UI_VisualObject*>(o),
               static_cast<UI_VisualObject*>(nullptr));
  DropEventsOf(o);
}

bool UI_Controller::Run() {
  if (!root_) {
    CL_Error::Warning("UI_Controller::Run: no root window");
    return false;
  }
  FlushEvents();
  return ProcessEventsUntil([this] { return !root_ || !root_->handle_; });
}

bool UI_Controller::DispatchSoft() {
  if (soft_.empty()) return false;
  UI_Event e = soft_.front();
  soft_.pop_front();
  ProcessEvent(e);
  return true;
}

bool UI_Controller::HandleOne(bool wait) {
  if (!busy_ && !deferred_quits_.empty()) {
    UI_VisualObject* o = deferred_quits_.front();
    deferred_quits_.erase(deferred_quits_.begin());
    Remove(o);
    return true;
  }
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
  Busy busy(busy_);
  UI_VisualObject* o = ObjectFor(m.hwnd);
  long type = UI_EventTypeOfMessage(m.message);
  bool input = m.message == WM_CHAR || (m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST);
  // While waiting the user's keys and clicks reach no window of the library.
  if (o && waiting_ && (input || (m.message >= WM_KEYFIRST && m.message <= WM_KEYLAST)))
    return true;
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
    if (type == Event_MouseMove) PointerMovedTo(o);
    bool handled = o->Dispatch(e);
    // A key the library used (TAB moving the focus) does not reach the control.
    if (handled && type == Event_KeyTyped) return true;
  }
  // TAB and Enter belong to the window that holds a control: a single-line edit control
  // has no use for them (it would only beep), nor has a native window of no object.
  if (m.message == WM_CHAR && (m.wParam == '\t' || m.wParam == '\r') &&
      !IsLibraryClass(WindowClassOf(m.hwnd).c_str()) && (!o || IsSingleLineEdit(m.hwnd)))
    return true;
  // A frame's keyboard commands for its documents (close, next, previous) are not keys for
  // the window that has the focus to translate into characters.
  if (!MDI() || !TranslateMDISysAccel(Hwnd(root_->mdi_client_), &m)) TranslateMessage(&m);
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

void UI_Controller::Quit(int code) {
  PostQuitMessage(code);
}

bool UI_Controller::SetFocusTo(UI_VisualObject* o) {
  if (!o || !o->Handle()) return false;
  SetFocus(Hwnd(o->Handle()));
  return GetFocus() == Hwnd(o->Handle());
}

UI_VisualObject* UI_Controller::FocusedObject() const {
  return ObjectFor(GetFocus());
}

void UI_Controller::Beep() {
  MessageBeep(MB_OK);
}

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
    : name_(name), hooks_(message_box_warnings), program_(name) {
  if (g_app) {
    // A fatal handler that lets the program go on keeps the first application working.
    hooks_ = false;
    CL_Error::Fatal(
        "Application constructor: attempt to constructmore than one Application object!");
    return;
  }
  g_app = this;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq) continue;
    environment_.Add(CL_String(std::string(*e, std::size_t(eq - *e)).c_str()), CL_String(eq + 1));
  }
  UI_Controller::Instance();
  if (hooks_) {
    g_old_warning = CL_Error::SetWarningHandler(WarningBox);
    g_old_fatal = CL_Error::SetFatalHandler(FatalBox);
  }
  Ctl3dRegister();
}

UI_Application::~UI_Application() {
  if (g_app != this) return;
  Ctl3dUnregister();
  if (hooks_) {
    CL_Error::SetWarningHandler(g_old_warning);
    CL_Error::SetFatalHandler(g_old_fatal);
  }
  g_app = nullptr;
}

UI_Application* UI_Application::Instance() {
  return g_app;
}

int UI_Application::Run(UI_VisualObject* main_window) {
  if (!main_window || !main_window->MakeVisualElement()) return 1;
  HWND h = Hwnd(main_window->Handle());
  return UI_Controller::Instance().ProcessEventsUntil([h] { return !IsWindow(h); }) ? 0 : 1;
}

int UI_Application::Run() {
  return UI_Controller::Instance().Run() ? 0 : 1;
}

void UI_Application::Destroy(UI_VisualObject* o) {
  if (o) UI_Controller::Instance().PostSoftEvent(UI_Event(Event_Quit, o, o));
}

void UI_Application::Quit() {
  if (UI_VisualObject* r = Root()) Destroy(r);
}

void UI_Application::MakeTopWindow(UI_VisualObject* o) {
  UI_Controller::Instance().MakeTopWindow(o);
}

UI_VisualObject* UI_Application::Root() const {
  return UI_Controller::Instance().Root();
}

bool UI_Application::Initialize(const char* command_line) {
  std::string line = command_line ? command_line : "";
  std::size_t from = line.find_first_not_of(" \t");
  if (from != std::string::npos)
    program_ = line.substr(from, line.find_first_of(" \t", from) - from).c_str();
  return RegisterClasses();
}

CL_String UI_Application::ProgramName(bool capitalized) const {
  std::string n = program_.AsPtr();
  if (capitalized && !n.empty() && n[0] >= 'a' && n[0] <= 'z') n[0] = char(n[0] - 'a' + 'A');
  return CL_String(n.c_str());
}

CL_String UI_Application::UniqueName(const UI_VisualObject& o) {
  char text[160];
  std::snprintf(text, sizeof text, "%s_%ld_%ld", o.ClassName(), o.Id(), ++unique_);
  return CL_String(text);
}

UI_Rectangle UI_Application::ScreenShape() const {
  RECT r;
  if (!GetClientRect(GetDesktopWindow(), &r)) return UI_Rectangle();
  // Win32's right and bottom lie just outside the area: the width is their difference.
  return UI_Rectangle(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

UI_Point UI_Application::ToScreen(const UI_Point& p, const UI_VisualObject* o) const {
  if (!o) return UI_Point(0, 0);
  POINT q = {int(p.XCoord()), int(p.YCoord())};
  if (o->Handle()) ClientToScreen(Hwnd(o->Handle()), &q);
  return UI_Point(q.x, q.y);
}

CL_String UI_Application::Win32ErrorText() const {
  DWORD code = GetLastError();
  char text[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) text[--n] = 0;
  char out[600];
  std::snprintf(out, sizeof out, "Win32 error code %lu: %s", static_cast<unsigned long>(code),
                text);
  return CL_String(out);
}
