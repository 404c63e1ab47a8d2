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
#include "twcl/base/object.h"
#include "twcl/base/string.h"
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

class UI_Event {
 public:
  UI_Event(long type, UI_VisualObject* origin, UI_VisualObject* destination = nullptr,
           const UI_NativeMessage* native = nullptr);
  UI_Event(const UI_Event& e);
  UI_Event& operator=(const UI_Event& e);

  long Type() const { return type_; }
  bool IsSoft() const { return UI_IsSoftEvent(type_); }
  UI_VisualObject* Origin() const { return origin_; }
  UI_VisualObject* Destination() const { return destination_; }
  void SetDestination(UI_VisualObject* d) { destination_ = d; }
  const UI_NativeMessage* Native() const { return native_.get(); }

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

// A member function of T that takes an event; Execute hands it the event's address.
template <class T>
class UI_EventBinding1 : public CL_AbstractBinding {
 public:
  using CL_Object::operator=;
  using Member = bool (T::*)(const UI_Event&);
  UI_EventBinding1(T* object, Member member) : object_(object), member_(member) {}
  UI_EventBinding1(const UI_EventBinding1& o) = default;
  const char* ClassName() const override { return "UI_EventBinding1"; }
  CL_Long ClassId() const override { return UI_ClassId_EventBinding1; }
  CL_Object* Clone() const override { return new UI_EventBinding1(*this); }
  bool Valid() const override { return object_ && member_; }
  bool Execute(CL_Word value) const override {
    return Valid() && value ? (object_->*member_)(*reinterpret_cast<const UI_Event*>(value)) : false;
  }
  CL_String AsString() const override { return _Describe("UI_EventBinding1"); }

 protected:
  const void* _Target() const override { return object_; }
  std::span<const unsigned char> _MemberBytes() const override {
    return {reinterpret_cast<const unsigned char*>(&member_), sizeof member_};
  }

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
  bool TakeFocus();
  bool HasFocus() const;
  virtual bool IsIconified() const { return false; }
  // Whether the window is drawn in the three-dimensional look: as its parent is.
  virtual bool Uses3DLook() const { return parent_ && parent_->Uses3DLook(); }
  // The window that the windows of this object's children hang on.
  virtual UI_NativeHandle ContainerWindow() const;

  // The font of the window's text: null until one is set (the window then shows the
  // dialogs' font). False when no font could be made; the window keeps its font then.
  UI_Font* Font() const { return font_.get(); }
  bool SetFont(const UI_FontDesc& d);

  // The object whose value this window shows; null when it has none.
  virtual CL_Object* Model() { return nullptr; }

  // The pointer's shape while it is over the window; type 0 leaves the window class's.
  UI_Cursor& Cursor() { return cursor_; }
  // The surface that draws on this object's window, made on first use; each call gives it
  // the object's present font. The object keeps it until DeleteDrawingSurface or its end.
  virtual UI_DrawingSurface* DrawingSurface();
  UI_DrawingSurface* CurrentSurface() const;  // null while none is made
  virtual bool DeleteDrawingSurface();

  // Makes the native window (and those of the children); false with a warning on failure.
  virtual bool MakeVisualElement();
  // Event handling: the bindings registered for the type, then HandleEvent; an event no one
  // handled climbs to the ancestors' ProcessChildEvent.
  bool AddEventBinding(long type, const CL_AbstractBinding& binding);
  bool RemoveEventBinding(long type, const CL_AbstractBinding& binding);
  bool Dispatch(UI_Event& e);
  virtual bool HandleEvent(const UI_Event& e);
  virtual bool ProcessChildEvent(const UI_Event& e);

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
  // The object's own font changed: the window takes the font made anew.
  bool FontChanged();
  void AddChildObject(UI_VisualObject* child);
  void RemoveChildObject(UI_VisualObject* child);

  UI_VisualObject* parent_;
  UI_Rectangle shape_;
  long id_;
  CL_String title_;
  bool tab_stop_ = false;
  bool visible_ = true;
  bool enabled_ = true;
  UI_NativeHandle handle_ = nullptr;
  void* default_proc_ = nullptr;  // the class's procedure of a subclassed control
  std::vector<UI_VisualObject*> children_;
  std::multimap<long, std::unique_ptr<CL_AbstractBinding>> bindings_;
  std::unique_ptr<UI_Font> font_;
  UI_Cursor cursor_;
  std::unique_ptr<UI_DisplaySurface> surface_;

  friend class UI_Controller;
};

// The one controller of the program: window classes, the map from native handles to
// objects, the queue of soft events and the message loop.
class UI_Controller {
 public:
  static UI_Controller& Instance();

  UI_VisualObject* ObjectFor(UI_NativeHandle h) const;
  void Register(UI_NativeHandle h, UI_VisualObject* o);
  void Unregister(UI_NativeHandle h);
  // The window is gone: the object keeps no handle.
  void Forget(UI_NativeHandle h);

  // Soft events are dispatched by the loop in the order posted.
  void PostSoftEvent(const UI_Event& e);
  // Handles the messages and soft events pending now, then returns.
  void FlushEvents();
  // Runs the loop until done answers true after an event; false when the program is told
  // to quit meanwhile. The filter, when given, decides whether an event may be handled.
  bool ProcessEventsUntil(const std::function<bool()>& done,
                          const std::function<bool(const UI_Event&)>& filter = nullptr);
  void Quit(int code);
  bool QuitPosted() const { return quit_; }

  bool SetFocusTo(UI_VisualObject* o);
  UI_VisualObject* FocusedObject() const;
  void Beep();
  void WaitCursor(bool on);
  // The last pointer position seen by the loop, in screen coordinates.
  UI_Point PointerPosition() const { return pointer_; }

  // Dialog base units of the system font, measured once.
  long XUnit();
  long YUnit();

 private:
  UI_Controller();
  bool HandleOne(bool wait);
  bool DispatchSoft();

  std::map<UI_NativeHandle, UI_VisualObject*> objects_;
  std::deque<UI_Event> soft_;
  std::vector<std::function<bool(const UI_Event&)>> filters_;
  bool quit_ = false;
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
  // Removes a top-level object's window later, from the loop.
  void Destroy(UI_VisualObject* o);

 private:
  CL_String name_;
  bool hooks_;
};

#endif  // TW_TWCL_UI_VISUAL_H_
