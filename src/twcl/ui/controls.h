// The controls: labels, buttons and button groups, string views, combo boxes, editors and
// scroll bars. Each keeps its window and its model in step both ways: a change of the model
// shows in the window, and a change made in the window goes into the model; neither
// direction echoes back into the other.
#ifndef TW_TWCL_UI_CONTROLS_H_
#define TW_TWCL_UI_CONTROLS_H_

#include <memory>

#include "twcl/base/client_set.h"
#include "twcl/base/integer.h"
#include "twcl/base/interval.h"
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

// A single-line editor. Its model is its text, its own or one the caller keeps; the
// selection (first and last character, both included; (-1, -1) at start) and the insertion
// point follow the window both ways like the text.
class UI_StringEditor : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_StringEditor(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  // Shows a string the caller keeps; it must outlive the editor.
  UI_StringEditor(UI_VisualObject* parent, CL_String& model, const UI_Rectangle& shape, long id);
  ~UI_StringEditor() override;
  const char* ClassName() const override;  // "UI_StringEditor"
  CL_Object* Model() override { return text_; }
  CL_String& Text() { return *text_; }
  // Each read from the window first when there is one.
  CL_Interval& Selection();
  CL_Integer& InsertionPoint();
  // Most characters the window takes: 1 to 32767; anything else is refused and the limit
  // stays. -1 (at start) is the window's own limit.
  virtual bool SetMaxChars(long n);
  long MaxChars() const { return max_chars_; }
  // Asked for every character typed to the window, which it may change: false swallows it.
  virtual bool AcceptChar(char16_t* c) { return true; }
  // Asked for each Delete and Backspace key: false swallows the key.
  virtual bool AllowDelete() { return true; }
  // Called after each change of the text made in the window, once the model holds it.
  virtual void EditorHook() {}
  bool HandleNotification(unsigned code) override;
  std::intptr_t HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                    std::intptr_t lp) override;

 protected:
  const char* NativeClass() const override { return "EDIT"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  bool AfterCreate() override;
  bool SelectionToWindow();
  bool InsertionPointToWindow();

 private:
  void Follow();
  std::unique_ptr<CL_String> own_;
  CL_String* text_;
  CL_Interval selection_;
  CL_Integer insertion_;
  long max_chars_ = -1;
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

// A drop-down list (model: the items; selection: the chosen index, -1 none) with the text
// of its field: an editable box's field takes typing, the other's shows the chosen item.
class UI_ComboBox : public UI_SingleSelStringView {
 public:
  using CL_Object::operator=;
  UI_ComboBox(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_ComboBox(parent, shape, id, 0, false) {}
  // The drop-down list takes list_height pixels below the field.
  UI_ComboBox(UI_VisualObject* parent, const UI_Rectangle& shape, long id, long list_height,
              bool editable);
  const char* ClassName() const override;  // "UI_ComboBox"
  bool HandleNotification(unsigned code) override;
  bool IsEditable() const { return editable_; }
  // The field's text; read from the window first when there is one. Setting the text of a
  // box that is not editable chooses the item with that text (none when no item has it).
  CL_String& EditText();
  bool ShowDropDown();
  bool HideDropDown();
  bool IsDroppedDown() const;
  // Most characters the field takes, 0 (the window's own limit) to 65535; 255 until set.
  bool SetTextLimit(long n);
  long TextLimit() const { return text_limit_; }

 protected:
  const char* NativeClass() const override { return "COMBOBOX"; }
  std::uint32_t NativeStyle() const override;
  bool AfterCreate() override;
  void Refresh() override;
  void ReadSelection() override;
  void ShowSelection() override;
  bool TextToWindow();

 private:
  void TextFromSelection();
  void PutText();
  bool editable_;
  long text_limit_ = 255;
  bool limit_set_ = false;
  CL_String text_;
};

// A scroll bar over a range ((0, 100) at start). Its model is the part of the range in view
// ((0, 0) at start): its low end is the position, its length the page the thumb stands for.
// Each scroll moves the model by the line or page amount, tells the clients (bindings
// executed with the event's address; while the thumb is dragged only when the bar notifies
// while tracking) and goes on to the ancestors.
class UI_ScrollBar : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, bool vertical);
  CL_Object* Model() override { return &view_; }
  CL_Interval& View() { return view_; }
  CL_Interval& Range() { return range_; }
  // The range, refused with a warning when low is above high.
  bool SetRange(long low, long high);
  long Position() const { return view_.Low(); }
  // The view moves to start at p, kept within the range.
  void SetPosition(long p);
  // Amounts of a line and a page step: 1 and 10 at start; below 1 is refused.
  bool SetLineAmount(long n);
  long LineAmount() const { return line_; }
  bool SetPageAmount(long n);
  long PageAmount() const { return page_; }
  void SetNotifyWhileTracking(bool on) { notify_tracking_ = on; }
  bool NotifyWhileTracking() const { return notify_tracking_; }
  CL_ClientSet& Clients() { return clients_; }
  bool HandleEvent(const UI_Event& e) override;

 protected:
  const char* NativeClass() const override { return "SCROLLBAR"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  bool RangeChanged();
  virtual void PositionToWindow(long position);
  virtual void RangeToWindow();
  // The native bar that shows this one: a window and which of its bars (Win32's SB_ codes).
  virtual bool NativeBar(UI_NativeHandle* window, int* which) const;
  // The highest position: the range's high end less the view's length, plus one.
  long MaxPosition() const { return range_.High() - view_.Length() + 1; }
  bool Vertical() const { return vertical_; }

 private:
  CL_Interval ViewAt(long p) const;
  long ThumbPosition(long carried) const;
  bool vertical_;
  CL_Interval range_;
  CL_Interval view_;
  long line_ = 1, page_ = 10;
  bool notify_tracking_ = true;
  CL_ClientSet clients_;
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
