// The controls: labels, buttons and button groups, string views, combo boxes, editors and
// scroll bars. Each keeps its window and its model in step both ways: a change of the model
// shows in the window, and a change made in the window goes into the model; neither
// direction echoes back into the other.
#ifndef TW_TWCL_UI_CONTROLS_H_
#define TW_TWCL_UI_CONTROLS_H_

#include "twcl/base/integer.h"
#include "twcl/base/sequence.h"
#include "twcl/ui/composite.h"

class UI_SimpleVObject : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  using UI_VisualObject::UI_VisualObject;
  const char* ClassName() const override;  // "UI_SimpleVObject"

 protected:
  // Follow a model: its changes call Refresh unless the change came from the window.
  void Watch(CL_Object& model);
  bool ModelChanged();
  virtual void Refresh() {}
  // Whether there is a window to show the model in (a frame scroll bar has its parent's).
  virtual bool ShowsInWindow() const { return handle_ != nullptr; }
  bool AfterCreate() override;
  // Runs f with the model's notices to this control held back.
  template <class F>
  void Quietly(F f) {
    bool was = quiet_;
    quiet_ = true;
    f();
    quiet_ = was;
  }
  std::intptr_t Send(std::uint32_t msg, std::uintptr_t wp = 0, std::intptr_t lp = 0) const;
  bool quiet_ = false;
};

class UI_Label : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_Label(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  const char* ClassName() const override;  // "UI_Label"
  CL_Object* Model() override { return &text_; }
  CL_String& Text() { return text_; }

 protected:
  const char* NativeClass() const override { return "STATIC"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;

 private:
  CL_String text_;
};

class UI_PushButton : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_PushButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  const char* ClassName() const override;  // "UI_PushButton"

 protected:
  const char* NativeClass() const override { return "BUTTON"; }
  std::uint32_t NativeStyle() const override;
};

class UI_ButtonGroup;

// A check box (model 0 or 1).
class UI_ToggleButton : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_ToggleButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  const char* ClassName() const override;  // "UI_ToggleButton"
  CL_Object* Model() override { return &state_; }
  CL_Integer& State() { return state_; }
  bool HandleNotification(unsigned code) override;

 protected:
  const char* NativeClass() const override { return "BUTTON"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  CL_Integer state_;
};

// A radio button (model 0 or 1).
class UI_ExOrToggleButton : public UI_ToggleButton {
 public:
  using CL_Object::operator=;
  using UI_ToggleButton::UI_ToggleButton;
  const char* ClassName() const override;  // "UI_ExOrToggleButton"

 protected:
  std::uint32_t NativeStyle() const override;
};

// A group box holding buttons made from a button table. Its model is the selection: for the
// exclusive group the id of the chosen button (-1 for none), for the other a bit mask with
// bit i for the i-th button. Each change of the selection is announced once by an
// Event_Select from the group.
class UI_ButtonGroup : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_ButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text,
                 const UI_ButtonDescriptor* buttons, bool exclusive);
  CL_Object* Model() override { return &selection_; }
  CL_Integer& Selection() { return selection_; }
  // Choose the button with that id (exclusive) or set the whole mask.
  bool Select(long value);
  using UI_SimpleVObject::Select;
  // A button of the group was clicked.
  void ButtonChanged(UI_ToggleButton* b);
  // The buttons' windows are siblings of the group box, so that their notifications reach
  // the composite like any control's.
  UI_NativeHandle ContainerWindow() const override;

 protected:
  const char* NativeClass() const override { return "BUTTON"; }
  std::uint32_t NativeStyle() const override;
  bool AfterCreate() override;
  void Refresh() override;

 private:
  void Announce();
  bool exclusive_;
  CL_Integer selection_;
  long announced_;
};

class UI_OrButtonGroup : public UI_ButtonGroup {
 public:
  using CL_Object::operator=;
  UI_OrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text,
                   const UI_ButtonDescriptor* buttons)
      : UI_ButtonGroup(parent, shape, id, text, buttons, false) {}
  const char* ClassName() const override;  // "UI_OrButtonGroup"
};

class UI_ExOrButtonGroup : public UI_ButtonGroup {
 public:
  using CL_Object::operator=;
  UI_ExOrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                     const char* text, const UI_ButtonDescriptor* buttons)
      : UI_ButtonGroup(parent, shape, id, text, buttons, true) {}
  const char* ClassName() const override;  // "UI_ExOrButtonGroup"
};

// A single-line editor (model: its text).
class UI_StringEditor : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_StringEditor(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  const char* ClassName() const override;  // "UI_StringEditor"
  CL_Object* Model() override { return &text_; }
  CL_String& Text() { return text_; }
  bool HandleNotification(unsigned code) override;

 protected:
  const char* NativeClass() const override { return "EDIT"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  CL_String text_;
};

// A multi-line editor.
class UI_TextEditor : public UI_StringEditor {
 public:
  using CL_Object::operator=;
  using UI_StringEditor::UI_StringEditor;
  const char* ClassName() const override;  // "UI_TextEditor"

 protected:
  std::uint32_t NativeStyle() const override;
};

// A list of strings (model: the items) with a selection: the chosen index (-1 none) for a
// single-selection view, a bit mask of the first 32 items for a multiple-selection view.
class UI_StringView : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id, bool multiple);
  CL_Object* Model() override { return &items_; }
  CL_StringSequence& Items() { return items_; }
  CL_Integer& Selection() { return selection_; }
  bool HandleNotification(unsigned code) override;

 protected:
  const char* NativeClass() const override { return "LISTBOX"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  virtual void ReadSelection();
  virtual void ShowSelection();
  bool multiple_;
  CL_StringSequence items_;
  CL_Integer selection_;
};

class UI_SingleSelStringView : public UI_StringView {
 public:
  using CL_Object::operator=;
  UI_SingleSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_StringView(parent, shape, id, false) {}
  const char* ClassName() const override;  // "UI_SingleSelStringView"
};

class UI_MultiSelStringView : public UI_StringView {
 public:
  using CL_Object::operator=;
  UI_MultiSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_StringView(parent, shape, id, true) {}
  const char* ClassName() const override;  // "UI_MultiSelStringView"
};

// A drop-down list (model: the items; selection: the chosen index, -1 none).
class UI_ComboBox : public UI_StringView {
 public:
  using CL_Object::operator=;
  UI_ComboBox(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_StringView(parent, shape, id, false) {}
  const char* ClassName() const override;  // "UI_ComboBox"
  bool HandleNotification(unsigned code) override;

 protected:
  const char* NativeClass() const override { return "COMBOBOX"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  void ReadSelection() override;
  void ShowSelection() override;
};

// A scroll bar (model: the position, kept within the range).
class UI_ScrollBar : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, bool vertical);
  CL_Object* Model() override { return &position_; }
  CL_Integer& Position() { return position_; }
  bool SetRange(long low, long high);
  long Low() const { return low_; }
  long High() const { return high_; }
  bool HandleScroll(unsigned code, long position) override;

 protected:
  const char* NativeClass() const override { return "SCROLLBAR"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  virtual void PositionToWindow(long position);
  virtual void RangeToWindow();
  bool Vertical() const { return vertical_; }

 private:
  bool vertical_;
  long low_ = 0, high_ = 100;
  CL_Integer position_;
};

class UI_HScrollBar : public UI_ScrollBar {
 public:
  using CL_Object::operator=;
  UI_HScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_ScrollBar(parent, shape, id, false) {}
  const char* ClassName() const override;  // "UI_HScrollBar"
};

class UI_VScrollBar : public UI_ScrollBar {
 public:
  using CL_Object::operator=;
  UI_VScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_ScrollBar(parent, shape, id, true) {}
  const char* ClassName() const override;  // "UI_VScrollBar"
};

#endif  // TW_TWCL_UI_CONTROLS_H_
