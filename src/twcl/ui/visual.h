// Visual objects, events and the controller that binds them to native windows. This header
// is plain C++ (no Win32 header): native handles and message words travel as pointer-sized
// integers, so code built without Wine's flags (the tests) can use the library.
#ifndef TW_TWCL_UI_VISUAL_H_
#define TW_TWCL_UI_VISUAL_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "twcl/base/binding.h"
#include "twcl/base/client_set.h"
#include "twcl/base/map.h"
#include "twcl/base/object.h"
#include "twcl/base/string.h"
#include "twcl/base/tree.h"
#include "twcl/ui/class_ids.h"
#include "twcl/ui/color.h"
#include "twcl/ui/cursor.h"
#include "twcl/ui/event_map.h"
#include "twcl/ui/font.h"
#include "twcl/ui/geometry.h"

using UI_NativeHandle = void*;
class UI_VisualObject;
class UI_DrawingSurface;
class UI_DisplaySurface;

// One native message: window, number, two parameters, time and pointer position.
struct UI_NativeMessage {
  UI_NativeHandle window = nullptr;
  std::uint32_t message = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
  std::uint32_t time = 0;
  long x = 0, y = 0;
};

// One input or internal notice on its way to a visual object. A null destination is the
// origin; events of type 32 and above are the library's own (soft).
class UI_Event : public CL_Object {
 public:
  UI_Event(long type, UI_VisualObject* origin, UI_VisualObject* destination = nullptr,
           const UI_NativeMessage* native = nullptr);
  UI_Event(const UI_Event& e);
  UI_Event& operator=(const UI_Event& e);
  using CL_Object::operator=;
  ~UI_Event() override;

  long Type() const { return type_; }
  bool IsSoft() const { return UI_IsSoftEvent(type_); }
  UI_VisualObject* Origin() const { return origin_; }
  UI_VisualObject* Destination() const { return destination_; }
  void SetDestination(UI_VisualObject* d) { destination_ = d; }
  const UI_NativeMessage* Native() const { return native_.get(); }
  const UI_Rectangle& Shape() const { return shape; }
  UI_Point Position() const { return shape.Origin(); }
  // The typed character widened with its sign: bytes from 128 up come out negative.
  short Key() const { return short(static_cast<signed char>(key)); }
  long Param() const { return param; }
  bool Shift() const { return shift; }
  bool Alt() const { return alt; }
  bool Control() const { return control; }

  // "<type name> from id <origin> (<origin's class>) to id <destination>", a missing object
  // as id -1000 and class "??"; a reconfigure adds its shape, a mouse move its position and
  // a scroll its amount.
  CL_String AsString() const override;

  UI_Rectangle shape;
  char key = 0;
  long param = 0;
  bool shift = false, alt = false, control = false;

 private:
  long type_;
  UI_VisualObject* origin_;
  UI_VisualObject* destination_;
  std::unique_ptr<UI_NativeMessage> native_;
};

// The release of the left button from an origin, kept as a value (a dialog that wants to
// replay a click holds one).
class UI_EventRecord : public UI_Event {
 public:
  using UI_Event::operator=;
  explicit UI_EventRecord(UI_VisualObject* origin = nullptr)
      : UI_Event(Event_LButtonRelease, origin) {}
  UI_EventRecord(const UI_EventRecord& e) = default;
  UI_EventRecord& operator=(const UI_EventRecord& e) = default;
  ~UI_EventRecord() override = default;
};

// A binding that takes an event: Execute treats its value as the event's address.
class UI_AbstractEventBinding : public CL_AbstractBinding {
 public:
  using CL_Object::operator=;
  // The callback's answer; false when the binding is not Valid. An event set runs its
  // bindings in order until one answers false, and that false marks the event handled.
  virtual bool Dispatch(const UI_Event& e) const = 0;
  bool Execute(CL_Word value) const override {
    return value != 0 && Dispatch(*reinterpret_cast<const UI_Event*>(value));
  }

 protected:
  UI_AbstractEventBinding() = default;
  UI_AbstractEventBinding(const UI_AbstractEventBinding&) = default;
};

// A member function of T that takes an event.
template <class T>
class UI_EventBinding1 : public UI_AbstractEventBinding {
 public:
  using CL_Object::operator=;
  using Member = bool (T::*)(const UI_Event&);
  UI_EventBinding1(T* object, Member member) : object_(object), member_(member) {}
  UI_EventBinding1(const UI_EventBinding1& o) = default;
  UI_EventBinding1& operator=(const UI_EventBinding1& o) {
    object_ = o.object_;
    member_ = o.member_;
    return *this;
  }
  const char* ClassName() const override { return "UI_EventBinding1"; }
  CL_Long ClassId() const override { return UI_ClassId_EventBinding1; }
  CL_Object* Clone() const override { return new UI_EventBinding1(*this); }
  bool Valid() const override { return object_ && member_; }
  bool Dispatch(const UI_Event& e) const override {
    return Valid() ? (object_->*member_)(e) : false;
  }
  CL_String AsString() const override { return _Describe("UI_EventBinding1"); }

 protected:
  const void* _Target() const override { return object_; }
  std::span<const unsigned char> _MemberBytes() const override { return _BytesOf(member_); }

 private:
  T* object_;
  Member member_;
};

// A window with its place in the tree of visual objects. Subclasses name the native class
// and style; the controller routes native messages and events to the object.
class UI_VisualObject : public CL_Object {
 public:
  using CL_Object::operator=;
  UI_VisualObject(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                  const char* title = "");
  ~UI_VisualObject() override;
  UI_VisualObject(const UI_VisualObject&) = delete;

  const char* ClassName() const override;  // "UI_VisualObject"

  long Id() const { return id_; }
  UI_VisualObject* Parent() const { return parent_; }
  UI_NativeHandle Handle() const { return handle_; }
  const std::vector<UI_VisualObject*>& Children() const { return children_; }
  // The child (at any depth) with that id; null and a warning when there is none.
  UI_VisualObject* Child(long id) const;
  UI_VisualObject* FindChild(long id) const;  // the same without the warning
  bool IsDescendantOf(const UI_VisualObject* o) const;

  CL_String Title() const;
  bool SetTitle(const char* text);
  UI_Rectangle Shape() const;  // asked of the window when there is one
  virtual bool Enable(bool on = true);
  bool IsEnabled() const;
  virtual bool Show(bool on = true);
  bool IsVisible() const;  // the window's own visible flag
  bool TabStop() const { return tab_stop_; }
  void SetTabStop(bool on) { tab_stop_ = on; }
  virtual bool TakeFocus();
  bool HasFocus() const;
  virtual bool IsIconified() const { return false; }
  // Whether the window is drawn in the three-dimensional look: as its parent is.
  virtual bool Uses3DLook() const { return parent_ && parent_->Uses3DLook(); }
  // The window that the windows of this object's children hang on.
  virtual UI_NativeHandle ContainerWindow() const;
  // A window of the class "TWCLMDIFrame" is a multiple-document frame: the library gives it
  // the client window that holds its documents, the windows of its descendants of the class
  // "TWCLMDIChild". Null for every other window.
  UI_NativeHandle MDIClient() const { return mdi_client_; }

  // The font of the window's text: null until one is set (the window then shows the
  // dialogs' font). False when no font could be made; the window keeps its font then.
  UI_Font* Font() const { return font_.get(); }
  bool SetFont(const UI_FontDesc& d);

  // The object whose value this window shows; null when it has none.
  virtual CL_Object* Model() { return nullptr; }

  // The colours the object is drawn in; a window of the library's own class is filled with
  // the background when it paints without the three-dimensional look.
  const UI_Color& Foreground() const { return foreground_; }
  const UI_Color& Background() const { return background_; }
  bool SetForeground(const UI_Color& c);
  bool SetBackground(const UI_Color& c);
  // The pointer's shape while it is over the window; type 0 leaves the window class's.
  UI_Cursor& Cursor() { return cursor_; }
  // The surface that draws on this object's window, made on first use; each call gives it
  // the object's present font. The object keeps it until DeleteDrawingSurface or its end.
  virtual UI_DrawingSurface* DrawingSurface();
  UI_DrawingSurface* CurrentSurface() const;  // null while none is made
  virtual bool DeleteDrawingSurface();

  // Makes the native window (and those of the children); false with a warning on failure.
  // An object made under a parent whose window exists gets its window from the loop (the
  // Event_MakeInterface its constructor posts).
  virtual bool MakeVisualElement();
  // Event handling. Dispatch offers the event to this object (ProcessEvent) and, while no
  // one handled it, to each ancestor nearest first (ProcessChildEvent, the event's
  // destination then being that ancestor). ProcessEvent runs HandleEvent and then the
  // bindings registered for the type; a binding answers true to let the event go on and
  // false to mark it handled, and the first false ends the walk.
  bool AddEventBinding(long type, const CL_AbstractBinding& binding);
  bool RemoveEventBinding(long type, const CL_AbstractBinding& binding);
  bool Dispatch(UI_Event& e);
  bool ProcessEvent(UI_Event& e);
  // HandleChildEvent, then this object's bindings for the type: handled when either says so.
  bool ProcessChildEvent(const UI_Event& e);
  // What a descendant left unhandled; not handled here.
  virtual bool HandleChildEvent(const UI_Event& e) { return false; }
  // Turns the event into a call of the operation for its type (below); a close request is
  // never handled here, so it also reaches the ancestors.
  virtual bool HandleEvent(const UI_Event& e);

  // One operation per kind of event, each answering whether it handled it (by default not).
  // Buttons are 1 left, 2 middle, 3 right.
  virtual bool ButtonDown(const UI_Point& p, int button, bool shift, bool control) { return false; }
  virtual bool ButtonUp(const UI_Point& p, int button) { return false; }
  virtual bool DoubleClick(const UI_Point& p, int button) { return false; }
  virtual bool ViewEnter(const UI_Point& p) { return false; }
  virtual bool ViewLeave(const UI_Point& p) { return false; }
  virtual bool MouseMove(const UI_Point& p) { return false; }
  virtual bool GetFocus() { return false; }
  virtual bool LoseFocus() { return false; }
  virtual bool KeyTyped(char key) { return false; }
  virtual bool Reconfigure(const UI_Rectangle& shape) { return false; }
  // Fills the rectangle of a window of the library's class with the background; answers
  // false, so that what is drawn over it still gets its turn.
  virtual bool Paint(const UI_Rectangle& area);
  virtual bool Select() { return false; }
  virtual bool Iconify() { return false; }
  virtual bool Deiconify() { return false; }
  // The object is asked to close: when CanClose agrees, the application removes it. Not
  // while a handler further out than the innermost one runs for an object in its window:
  // that handler would lose its object under it.
  virtual bool CloseDown();
  virtual bool CanClose() { return true; }

  // The window procedure's part for windows of the library's own classes; controls get
  // their parent's notifications through HandleNotification.
  virtual std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp);
  virtual bool HandleNotification(unsigned code) { return false; }
  virtual bool HandleScroll(unsigned code, long position) { return false; }

 protected:
  virtual const char* NativeClass() const;  // the library's window class
  virtual std::uint32_t NativeStyle() const;
  virtual std::uint32_t NativeExStyle() const { return 0; }
  // After the window exists: fill it from the model, make the children.
  virtual bool AfterCreate();
  bool MakeChildren();
  bool CreateNative(UI_NativeHandle parent_window, bool child);
  std::intptr_t DefaultProc(std::uint32_t msg, std::uintptr_t wp, std::intptr_t lp);
  void SetHandle(UI_NativeHandle h);
  // Destroys the window (its children's go with it); true when there was one.
  bool DestroyVisualElement();
  // The object's own font changed: the window takes the font made anew.
  bool FontChanged();
  virtual void AddChildObject(UI_VisualObject* child);
  virtual void RemoveChildObject(UI_VisualObject* child);
  // The bindings for the event's type, asked in order: false once one answers false.
  bool PermitsEvent(const UI_Event& e);

  UI_VisualObject* parent_;
  UI_Rectangle shape_;
  long id_;
  CL_String title_;
  bool tab_stop_ = false;
  bool visible_ = true;
  bool enabled_ = true;
  UI_NativeHandle handle_ = nullptr;
  void* default_proc_ = nullptr;  // the class's procedure of a subclassed control
  UI_NativeHandle mdi_client_ = nullptr;
  std::vector<UI_VisualObject*> children_;
  // Per event type, made on first use.
  std::map<long, std::unique_ptr<CL_ClientSet>> bindings_;
  std::unique_ptr<UI_Font> font_;
  UI_Color foreground_{0};
  UI_Color background_{5};
  UI_Cursor cursor_;
  std::unique_ptr<UI_DisplaySurface> surface_;

  friend class UI_Controller;
};

// The library's four window classes: windows with children, simple objects, and the frame
// and children of a multiple-document window.
inline constexpr const char* UI_WindowClass = "TWCLWindow";
inline constexpr const char* UI_SimpleVObjClass = "TWCLSimpleVObj";
inline constexpr const char* UI_MDIFrameClass = "TWCLMDIFrame";
inline constexpr const char* UI_MDIChildClass = "TWCLMDIChild";

// The one controller of the program: window classes, the map from native handles to
// objects, the tree of handles that mirrors the visual hierarchy, the queue of soft events
// and the message loop.
class UI_Controller {
 public:
  static UI_Controller& Instance();
  friend class UI_VisualObject;

  UI_VisualObject* ObjectFor(UI_NativeHandle h) const;
  // Enters the handle in the map and in the tree, under the nearest ancestor that has a
  // window (top-level windows hang on the tree's root, which stands for the program).
  void Register(UI_NativeHandle h, UI_VisualObject* o);
  void Unregister(UI_NativeHandle h);
  // The tree of registered handles; each node's content is the handle's object.
  const CL_Tree& HandleTree() const { return tree_; }
  // The program's main window: a second, different one is a fatal error.
  void MakeTopWindow(UI_VisualObject* o);
  UI_VisualObject* Root() const { return root_; }
  // The main window is a multiple-document frame: the loop offers each message to the
  // frame's keyboard commands for its documents (Ctrl+F4, Ctrl+F6) before translating it.
  bool MDI() const { return root_ && root_->mdi_client_; }
  // Takes the object's whole subtree of windows out of the loop and deletes every object
  // in it. An object without a parent was made by the program, which deletes it: only its
  // window goes. False for a null or unregistered object.
  bool Remove(UI_VisualObject* o);
  // One soft event: Event_MakeInterface makes its origin's window, Event_Quit removes its
  // destination's subtree, the rest go to their destination. True when the main window
  // was quit.
  bool ProcessEvent(UI_Event& e);
  // The window is gone: the object keeps no handle.
  void Forget(UI_NativeHandle h);

  // Soft events are dispatched by the loop in the order posted.
  void PostSoftEvent(const UI_Event& e);
  // The object is going away: its pending soft events go with it.
  void DropEventsOf(const UI_VisualObject* gone);
  // The same, and the controller forgets it as its main window or the pointer's object.
  void ObjectDeleted(const UI_VisualObject* gone);
  // The first pending soft event taken off the queue; false when there is none.
  bool TakeEvent(UI_Event& out);
  // Pending soft events of that type whose origin's parent is the given object.
  long CountPending(long type, const UI_VisualObject* parent) const;
  // Handles the messages and soft events pending now, then returns.
  void FlushEvents();
  // Runs the loop until done answers true after an event; false when the program is told
  // to quit meanwhile. The filter, when given, decides whether an event may be handled.
  bool ProcessEventsUntil(const std::function<bool()>& done,
                          const std::function<bool(const UI_Event&)>& filter = nullptr);
  // Runs the loop until the main window (MakeTopWindow) is gone; without one, a warning
  // and false at once.
  bool Run();
  // The objects whose handlers are running (ProcessEvent or ProcessChildEvent), innermost
  // last; an object deleted meanwhile is left as null.
  const std::vector<UI_VisualObject*>& HandlerStack() const { return handlers_; }
  // The object the pointer last moved over: an Event_ViewLeave tells the one it left, an
  // Event_ViewEnter the one it came to.
  UI_VisualObject* PointerObject() const { return pointer_object_; }
  void Quit(int code);
  bool QuitPosted() const { return quit_; }

  bool SetFocusTo(UI_VisualObject* o);
  UI_VisualObject* FocusedObject() const;
  void Beep();
  void WaitCursor(bool on);
  // Wait mode: the wait cursor shows and every event is dropped (counted as handled, no
  // handler runs); what is pending when it begins is dropped too.
  void BeginWait();
  void EndWait();
  bool Waiting() const { return waiting_; }
  // The pointer's input goes to the object's window until released.
  bool GrabPointer(UI_VisualObject* o);
  void ReleasePointer();
  // The last pointer position seen by the loop, in screen coordinates.
  UI_Point PointerPosition() const { return pointer_; }

  // Dialog base units of the system font, measured once.
  long XUnit();
  long YUnit();

 private:
  UI_Controller();
  bool HandleOne(bool wait);
  void PointerMovedTo(UI_VisualObject* o);
  bool DispatchSoft();

  std::map<UI_NativeHandle, UI_VisualObject*> objects_;
  CL_Tree tree_;
  UI_VisualObject* root_ = nullptr;
  UI_VisualObject* pointer_object_ = nullptr;
  int busy_ = 0;  // handlers running
  std::vector<UI_VisualObject*> deferred_quits_;
  std::vector<UI_VisualObject*> handlers_;
  std::deque<UI_Event> soft_;
  std::vector<std::function<bool(const UI_Event&)>> filters_;
  bool quit_ = false;
  bool waiting_ = false;
  UI_Point pointer_;
  long xunit_ = 0, yunit_ = 0;
};

// The application object: starts the controller, shows the library's warnings and fatal
// errors as message boxes, and runs the main window until it closes.
class UI_Application {
 public:
  UI_Application(const char* name, bool message_box_warnings = true);
  ~UI_Application();
  static UI_Application* Instance();
  const char* Name() const { return name_.AsPtr(); }
  int Run(UI_VisualObject* main_window);
  // The controller's Run over the main window (MakeTopWindow): 0 when it ran, else 1.
  int Run();
  // Keeps the program's name, the first word of the command line (words split at blanks
  // and tabs); the name given at construction until then.
  bool Initialize(const char* command_line);
  // Posts an Event_Quit from the object: the loop removes its subtree (UI_Controller::Remove).
  void Destroy(UI_VisualObject* o);
  // The same for the main window; Run then ends.
  void Quit();
  void MakeTopWindow(UI_VisualObject* o);
  UI_VisualObject* Root() const;

  CL_String ProgramName() const { return program_; }
  // With its first letter in upper case.
  CL_String ProgramName(bool capitalized) const;
  // "<class name>_<id>_<n>", n counting up over the run.
  CL_String UniqueName(const UI_VisualObject& o);
  // The desktop's client area.
  UI_Rectangle ScreenShape() const;
  // A point of the object's client area in screen coordinates; (0, 0) without an object.
  UI_Point ToScreen(const UI_Point& p, const UI_VisualObject* o) const;
  // "Win32 error code <n>: <text>" for the thread's last error.
  CL_String Win32ErrorText() const;
  // The process environment as it was when the application was made: name to value.
  const CL_StringStringMap& Environment() const { return environment_; }

 private:
  CL_String name_;
  bool hooks_;
  CL_String program_;
  CL_StringStringMap environment_;
  long unique_ = 0;
};

#endif  // TW_TWCL_UI_VISUAL_H_
