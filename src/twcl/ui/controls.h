// The controls: labels, buttons and button groups, string views, combo boxes, editors and
// scroll bars. Each keeps its window and its model in step both ways: a change of the model
// shows in the window, and a change made in the window goes into the model; neither
// direction echoes back into the other.
#ifndef TW_TWCL_UI_CONTROLS_H_
#define TW_TWCL_UI_CONTROLS_H_

#include <memory>
#include <string>

#include "twcl/base/client_set.h"
#include "twcl/base/integer.h"
#include "twcl/base/interval.h"
#include "twcl/base/sequence.h"
#include "twcl/base/set.h"
#include "twcl/ui/composite.h"

class UI_SimpleVObject : public UI_VisualObject {
 public:
  using CL_Object::operator=;
  using UI_VisualObject::UI_VisualObject;
  const char* ClassName() const override;  // "UI_SimpleVObject"
  // Takes the id, the visible and tab-stop flags and the place from the window itself, for
  // a window that was made by someone else (a dialog resource); true without a window.
  bool ReadNativeState();

 protected:
  // Takes over a window someone else made (a control of a dialog resource): the object
  // answers for it from now on and takes its id, flags, place and text from it.
  void Adopt(UI_NativeHandle window);
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

// Static text, left, right or centred in its rectangle (new labels take the class default,
// centre until SetDefaultAlignment changes it).
class UI_Label : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  enum : long { AlignLeft = 0, AlignRight = 1, AlignCentre = 2 };
  UI_Label(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  // Shows a string the caller keeps; it must outlive the label.
  UI_Label(UI_VisualObject* parent, CL_String& model, const UI_Rectangle& shape, long id);
  // Takes over the window (it keeps its own alignment).
  UI_Label(UI_VisualObject* parent, long id, UI_NativeHandle window);
  ~UI_Label() override;
  const char* ClassName() const override;  // "UI_Label"
  CL_Object* Model() override { return text_; }
  CL_String& Text() { return *text_; }
  // False (nothing changes) for anything but the three alignments; a shown label redraws.
  virtual bool SetAlignment(long alignment);
  virtual long Alignment() const { return alignment_; }
  static bool SetDefaultAlignment(long alignment);
  static long DefaultAlignment();

 protected:
  const char* NativeClass() const override { return "STATIC"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;

 private:
  CL_String own_;
  CL_String* text_;
  long alignment_;
};

class UI_PushButton : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_PushButton(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text);
  UI_PushButton(UI_VisualObject* parent, long id, UI_NativeHandle window);
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
  // Takes over the window; the model starts as the window's check.
  UI_ToggleButton(UI_VisualObject* parent, long id, UI_NativeHandle window);
  const char* ClassName() const override;  // "UI_ToggleButton"
  CL_Object* Model() override { return &state_; }
  CL_Integer& State() { return state_; }
  bool HandleNotification(unsigned code) override;

 protected:
  const char* NativeClass() const override { return "BUTTON"; }
  std::uint32_t NativeStyle() const override;
  // The window also hands its key presses to the object tree (a group moves the focus
  // among its buttons with the arrow keys).
  bool AfterCreate() override;
  void Refresh() override;
  void PassKeys();
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

// A record of a button table, packed as the tables of dialog descriptions lay them out; a
// table ends with a record of type 0. The shape is inside the group box.
#pragma pack(push, 1)
struct UI_ButtonTableRecord {
  enum : std::int32_t { End = 0, ExOrToggle = 1, Toggle = 4 };
  std::int32_t type;
  std::int32_t id;
  std::int32_t x, y, width, height;
  std::uint8_t reserved1;
  const char* title;
  std::uint8_t reserved2[4];
};
#pragma pack(pop)

// A group box holding buttons made from a button table. The group is one TAB stop; Up and
// Down move the keyboard focus from button to button within it, round from either end.
// Each change of the selection is announced once by an Event_Select from the group.
class UI_ButtonGroup : public UI_SimpleVObject {
 public:
  using CL_Object::operator=;
  UI_ButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text,
                 const UI_ButtonDescriptor* buttons, bool exclusive);
  // Takes over a group box; its buttons are added later, each made with the group as parent.
  UI_ButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window);
  // A button of the group was clicked.
  virtual void ButtonChanged(UI_ToggleButton* b) = 0;
  // The buttons' windows are siblings of the group box, so that their notifications reach
  // the composite like any control's.
  UI_NativeHandle ContainerWindow() const override;
  // Entering the group by TAB lands on its first button.
  bool TakeFocus() override;

 protected:
  const char* NativeClass() const override { return "BUTTON"; }
  std::uint32_t NativeStyle() const override;
  bool AfterCreate() override;
  bool ArrowKey(const UI_Event& e);
  // Makes the buttons of a table's records of the one type the group takes; a record of
  // another type ends the table with a warning that names the class.
  void AddButtons(const UI_ButtonTableRecord* table, std::int32_t type, const char* class_name);
  void Announce(long param);
  // Whether the selection differs from the one last announced (and remember it).
  virtual bool SelectionMoved() = 0;
  UI_ToggleButton* Button(std::size_t i) const {
    return static_cast<UI_ToggleButton*>(children_[i]);
  }
};

// Radio buttons: the model is the id of the chosen button (-1, or an id no button has, for
// none). Event_Select carries the id.
class UI_ExOrButtonGroup : public UI_ButtonGroup {
 public:
  using CL_Object::operator=;
  UI_ExOrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text,
                     const UI_ButtonDescriptor* buttons);
  // Radio buttons from the records of type ExOrToggle; table may be null.
  UI_ExOrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                     const UI_ButtonTableRecord* table);
  UI_ExOrButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window);
  const char* ClassName() const override;  // "UI_ExOrButtonGroup"
  CL_Object* Model() override { return &selection_; }
  CL_Integer& Selection() { return selection_; }
  // Choose the button with that id.
  bool Select(long id);
  using UI_SimpleVObject::Select;
  void ButtonChanged(UI_ToggleButton* b) override;

 protected:
  void Refresh() override;
  bool SelectionMoved() override;

 private:
  CL_Integer selection_;
  long announced_;
};

// Check boxes: the model is the set of the ids of the buttons that are on, whatever their
// number and ids. Event_Select carries how many are on.
class UI_OrButtonGroup : public UI_ButtonGroup {
 public:
  using CL_Object::operator=;
  UI_OrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id, const char* text,
                   const UI_ButtonDescriptor* buttons);
  // Check boxes from the records of type Toggle; table may be null.
  UI_OrButtonGroup(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                   const UI_ButtonTableRecord* table);
  UI_OrButtonGroup(UI_VisualObject* parent, long id, UI_NativeHandle window);
  const char* ClassName() const override;  // "UI_OrButtonGroup"
  CL_Object* Model() override { return &selection_; }
  CL_IntegerSet& Selection() { return selection_; }
  void ButtonChanged(UI_ToggleButton* b) override;
  // The set is read from the buttons; a change is announced by an Event_Select from the
  // group. The group's own Select comes back here and finds nothing new to announce.
  bool Select() override;

 protected:
  void Refresh() override;
  bool SelectionMoved() override;

 private:
  // The set becomes the ids of the buttons that are on; a change is announced.
  void ReadButtons();
  CL_IntegerSet selection_;
  CL_IntegerSet announced_;
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
  // Takes over an edit window; the model starts as its text.
  UI_StringEditor(UI_VisualObject* parent, long id, UI_NativeHandle window);
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
  // The window's characters and keys are asked of the editor first.
  void TakeKeys();
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
// single-selection view, the set of chosen indices for a multiple-selection view. A string
// of the items changed in place replaces only its own line and keeps the selection.
class UI_StringView : public UI_SimpleVObject, public CL_SequenceView {
 public:
  using CL_Object::operator=;
  UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id, bool multiple);
  // Style -1 is the list's usual style; a multiple view adds multiple selection to either.
  UI_StringView(UI_VisualObject* parent, const UI_Rectangle& shape, bool multiple, long id,
                long style);
  // Shows a sequence the caller keeps; it must outlive the view.
  UI_StringView(UI_VisualObject* parent, CL_StringSequence& model, const UI_Rectangle& shape,
                bool multiple, long id, long style);
  // Takes over a list window; the items start as its lines.
  UI_StringView(UI_VisualObject* parent, long id, UI_NativeHandle window, bool multiple);
  ~UI_StringView() override;
  CL_Object* Model() override { return &items_; }
  CL_StringSequence& Items() { return items_; }
  CL_Integer& Selection() { return selection_; }
  bool HandleNotification(unsigned code) override;
  bool ItemChanged(CL_Long index) override;
  // The first line in view (-1 without a window), how many lines the view shows (0 without
  // a window), and the line to bring to the top.
  virtual long TopIndex() const;
  virtual long VisibleCount() const;
  virtual void ScrollTo(long index);

 protected:
  const char* NativeClass() const override { return "LISTBOX"; }
  std::uint32_t NativeStyle() const override;
  void Refresh() override;
  virtual void ReadSelection();
  virtual void ShowSelection();
  // Line i of the window (counted with count_msg) shows item i anew; false when either
  // is missing.
  bool ReplaceLine(CL_Long i, std::uint32_t count_msg, std::uint32_t delete_msg,
                   std::uint32_t insert_msg);
  // The items of an adopted window go into the model, with the window's selection.
  void ItemsFromWindow(std::uint32_t count_msg, std::uint32_t length_msg, std::uint32_t text_msg);
  bool multiple_;
  long style_ = -1;
  CL_StringSequence own_items_;
  CL_StringSequence& items_;
  CL_Integer selection_;
};

class UI_SingleSelStringView : public UI_StringView {
 public:
  using CL_Object::operator=;
  UI_SingleSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id);
  UI_SingleSelStringView(UI_VisualObject* parent, CL_StringSequence& model,
                         const UI_Rectangle& shape, long id);
  UI_SingleSelStringView(UI_VisualObject* parent, long id, UI_NativeHandle window);
  ~UI_SingleSelStringView() override;
  const char* ClassName() const override;  // "UI_SingleSelStringView"
};

class UI_MultiSelStringView : public UI_StringView {
 public:
  using CL_Object::operator=;
  UI_MultiSelStringView(UI_VisualObject* parent, const UI_Rectangle& shape, long id);
  UI_MultiSelStringView(UI_VisualObject* parent, CL_StringSequence& model,
                        const UI_Rectangle& shape, long id);
  UI_MultiSelStringView(UI_VisualObject* parent, long id, UI_NativeHandle window);
  ~UI_MultiSelStringView() override;
  const char* ClassName() const override;  // "UI_MultiSelStringView"
  // Indices beyond the items are dropped when the window shows the set.
  CL_IntegerSet& Selection() { return chosen_; }

 protected:
  void ReadSelection() override;
  void ShowSelection() override;

 private:
  CL_IntegerSet chosen_;
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
  // Takes over a combo box window; editable when its style says so.
  UI_ComboBox(UI_VisualObject* parent, long id, UI_NativeHandle window);
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
  bool ItemChanged(CL_Long index) override;
  // The item at index + 1 of the model goes into the list (index -1: at its top).
  virtual bool ItemInserted(long index);
  // The line at index leaves the list.
  virtual bool ItemRemoved(long index);
  // Empties the list; the model stays.
  virtual bool ClearWindow();

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
  std::string WindowItem(long index) const;
  void Refill();
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
  // Style -1 is the bar's usual style; the direction's bit is added to a given one.
  UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, long style,
               bool vertical);
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
  // Takes over a scroll-bar window: its range and position become the range and the view.
  UI_ScrollBar(UI_VisualObject* parent, long id, UI_NativeHandle window, bool vertical);

 private:
  CL_Interval ViewAt(long p) const;
  long ThumbPosition(long carried) const;
  bool vertical_;
  long style_ = -1;
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
  UI_HScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, long style)
      : UI_ScrollBar(parent, shape, id, style, false) {}
  UI_HScrollBar(UI_VisualObject* parent, long id, UI_NativeHandle window)
      : UI_ScrollBar(parent, id, window, false) {}
  const char* ClassName() const override;  // "UI_HScrollBar"
};

class UI_VScrollBar : public UI_ScrollBar {
 public:
  using CL_Object::operator=;
  UI_VScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id)
      : UI_ScrollBar(parent, shape, id, true) {}
  UI_VScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, long style)
      : UI_ScrollBar(parent, shape, id, style, true) {}
  UI_VScrollBar(UI_VisualObject* parent, long id, UI_NativeHandle window)
      : UI_ScrollBar(parent, id, window, true) {}
  const char* ClassName() const override;  // "UI_VScrollBar"
};

#endif  // TW_TWCL_UI_CONTROLS_H_
