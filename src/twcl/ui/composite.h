// Windows that hold children: composites built from tables of child descriptors, with
// keyboard focus and TAB order; dialogs made from in-memory templates with modal runs; the
// message box and the file dialog.
#ifndef TW_TWCL_UI_COMPOSITE_H_
#define TW_TWCL_UI_COMPOSITE_H_

#include <set>
#include <utility>

#include "twcl/base/map.h"
#include "twcl/ui/visual.h"

// Kinds of child descriptors.
enum UI_ChildKind : long {
  UI_KindEnd = 0,
  UI_KindExOrToggle = 1,
  UI_KindPushButton = 3,
  UI_KindToggle = 4,
  UI_KindSingleSelView = 5,
  UI_KindMultiSelView = 6,
  UI_KindLabel = 7,
  UI_KindTextEditor = 8,
  UI_KindComposite = 10,
  UI_KindStringEditor = 11,
  UI_KindOrGroup = 12,
  UI_KindExOrGroup = 13,
  UI_KindHScrollBar = 14,
  UI_KindVScrollBar = 15,
  UI_KindComboBox = 16,
  UI_KindBitmapButton = 17
};

// One child of a composite. The text and extra table are pointer-sized here; a table ends
// with an entry of kind 0.
struct UI_ChildDescriptor {
  long kind;
  long id;
  long x, y, width, height;
  bool tab_stop;
  const char* text;   // the title, or the model's text for editors
  const void* extra;  // kind 10: a nested descriptor table; kinds 12, 13: a button table;
                      // kind 17: the picture (a UI_BitmapData) or null
};

// A button of a group: ends with a null text.
struct UI_ButtonDescriptor {
  long id;
  long x, y, width, height;
  const char* text;
};

// A window with children, each known by its id; its model maps each child's id (1 to
// 32767) to that child's model.
class UI_VObjCollection : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  UI_VObjCollection(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                    const char* title = "");
  ~UI_VObjCollection() override;
  const char* ClassName() const override;  // "UI_VObjCollection"

  // The direct child with that id, null when there is none.
  UI_VisualObject* ChildWithId(long id) const;
  // Child id to child model, brought up to date with the children's models when asked.
  CL_Object* Model() override;
  // Enters and takes out a child (its constructor and destructor do so).
  virtual bool AddChild(UI_VisualObject* child);
  virtual bool RemoveChild(UI_VisualObject* child);
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;

 protected:
  void AddChildObject(UI_VisualObject* child) override;
  void RemoveChildObject(UI_VisualObject* child) override;
  // Enters the child's model under its id (ids 1 to 32767 only).
  void EnterModel(UI_VisualObject* child);

 private:
  CL_IntPtrMap by_id_;
  CL_IntPtrMap models_;
};

class UI_CompositeVObject : public UI_VObjCollection {
 public:
  using CL_Object::operator=;
  UI_CompositeVObject(UI_VisualObject* parent, const UI_ChildDescriptor* table, bool child_window,
                      const UI_Rectangle& shape, long id = -1, const char* title = "");
  const char* ClassName() const override;  // "UI_CompositeVObject"

  // Makes the child the descriptor names; false (and a warning) for an id already used.
  bool AddChild(const UI_ChildDescriptor& d);
  using UI_VObjCollection::AddChild;
  // The frame's caption, system menu and minimise and maximise boxes put on (a top-level
  // window loses its plain popup frame) and taken off (a top-level window keeps a thin
  // border); the window, when there is one, is redrawn with its new frame.
  bool DecorateFrame();
  bool UndecorateFrame();
  bool IsDecorated() const { return decorated_; }
  // The size the user can give the window by dragging its frame, answered to Win32.
  bool SetMinWidth(long w);
  bool SetMinHeight(long h);
  bool SetMaxWidth(long w);
  bool SetMaxHeight(long h);
  long MinWidth() const { return min_width_; }
  long MinHeight() const { return min_height_; }
  long MaxWidth() const { return max_width_; }
  long MaxHeight() const { return max_height_; }
  bool SetFocusChild(UI_VisualObject* child);
  // TAB order: +1 forward, -1 backward. Hidden and disabled children are passed over, and a
  // composite whose children are all passed over ends the search.
  bool MoveFocus(int direction);
  UI_VisualObject* FocusChild() const;
  bool IsIconified() const override { return iconified_; }
  // The three-dimensional look for this composite and its descendants; a child composite
  // has its parent's look as well, a top-level one starts without, a dialog with.
  bool Use3DLook(bool on = true);
  bool Uses3DLook() const override {
    return look3d_ || (child_window_ && parent_ && parent_->Uses3DLook());
  }
  bool HandleEvent(const UI_Event& e) override;
  bool HandleChildEvent(const UI_Event& e) override;
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;

 protected:
  std::uint32_t NativeStyle() const override;
  // Keeps the focus child in step: a click inside a child, TAB and Shift+TAB, iconifying,
  // the first child whose window is made. The constructor registers it as a binding.
  bool FocusHandler(const UI_Event& e);
  // The frame's part of the style by the decoration wanted.
  std::uint32_t PrepareStyle(std::uint32_t style) const;
  bool ChangeFrame(std::uint32_t add, std::uint32_t clear);
  bool child_window_;
  long focus_ = -1;
  bool iconified_ = false;
  bool look3d_ = false;
  bool decorated_;
  std::int16_t min_width_ = 0, min_height_ = 0, max_width_ = 32767, max_height_ = 32767;
};

// A closing event of a dialog: a child's id and an event type, ordered by id, then type.
class DialogEvent : public CL_Object {
 public:
  using CL_Object::operator=;
  DialogEvent(long id, long type) : id_(id), type_(type) {}
  DialogEvent(const DialogEvent& o) : CL_Object(), id_(o.id_), type_(o.type_) {}
  DialogEvent& operator=(const DialogEvent& o) {
    id_ = o.id_;
    type_ = o.type_;
    return *this;
  }
  const char* ClassName() const override;  // "DialogEvent"
  CL_Long ClassId() const override;
  CL_Object* Clone() const override { return new DialogEvent(*this); }
  short Compare(const CL_Object& other) const override;
  CL_String AsString() const override;
  long Id() const { return id_; }
  long Type() const { return type_; }

 private:
  long id_, type_;
};

class UI_Dialog : public UI_CompositeVObject {
 public:
  using CL_Object::operator=;
  struct CloseEvent {
    long id;
    long type;
    bool operator<(const CloseEvent& o) const {
      return std::pair(id, type) < std::pair(o.id, o.type);
    }
  };
  // closing: pairs until an id of -1 or a type of 0; null: OK (1) and Cancel (2) selected.
  // veto, when given, is asked (with the dialog's address) whenever a closing event comes
  // from the default id's child: false keeps the dialog open. Enter is not asked about.
  UI_Dialog(UI_VisualObject* parent, const UI_Rectangle& shape, const char* title,
            const UI_ChildDescriptor* table, const CloseEvent* closing = nullptr,
            long default_id = -1, const CL_AbstractBinding* veto = nullptr);
  ~UI_Dialog() override;
  const char* ClassName() const override;  // "UI_Dialog"

  bool AddCloseEvent(long id, long type);
  bool RemoveCloseEvent(long id, long type);
  // Shows the dialog and runs events until a closing event comes from a child, the close
  // box is used, or Enter picks the default id; answers (id, event type), (-1, 0) when the
  // dialog was closed without a result.
  std::pair<long, long> ExecuteModal();
  bool MakeVisualElement() override;
  bool HandleEvent(const UI_Event& e) override;
  // The template last used to make the window (for those who want to see it).
  const std::vector<std::uint8_t>& Template() const { return template_; }

 protected:
  std::uint32_t NativeStyle() const override;

 private:
  bool ClosingTest(const UI_Event& e);
  bool ModalFilter(const UI_Event& e);
  bool IsClosing(long id, long type) const;
  std::vector<DialogEvent> closing_;
  long default_id_;
  std::unique_ptr<CL_AbstractBinding> veto_;
  long result_ = -1, result_type_ = 0;
  bool closed_ = false, running_ = false;
  std::vector<std::uint8_t> template_;
};

// Buttons: 0 OK, 2 Yes/No, 3 Yes/No/Cancel, others OK/Cancel. Icons: 0 information,
// 1 exclamation, 2 stop, 3 question, others none. Answers 1 OK, 2 Cancel, 3 Yes, 4 No.
int UI_MessageBox(const char* text, const char* caption, UI_VisualObject* owner, int buttons,
                  int icon);
// The open-file dialog with a pattern, the save-file dialog without; the chosen path, or
// "" when cancelled or without owner.
CL_String UI_FileSelectDialog(UI_VisualObject* owner, const char* directory, const char* title,
                              const char* pattern);

#endif  // TW_TWCL_UI_COMPOSITE_H_
