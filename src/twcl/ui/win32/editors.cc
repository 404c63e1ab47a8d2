// String editors, combo boxes and scroll bars.
#include <algorithm>
#include <string>

#include "twcl/base/error.h"
#include "twcl/ui/controls.h"
#include "twcl/ui/win32/native.h"

using namespace twui;

namespace {

// Where a subclassed edit control keeps the procedure it had, so that its messages still
// reach it after the object has let the window go.
const wchar_t kEditProcProp[] = L"TWCLEditProc";

LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto old = reinterpret_cast<WNDPROC>(GetPropW(h, kEditProcProp));
  UI_Controller& c = UI_Controller::Instance();
  if (msg == WM_NCDESTROY) {
    RemovePropW(h, kEditProcProp);
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    c.Forget(h);
    return old ? CallWindowProcW(old, h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
  }
  if (UI_VisualObject* o = c.ObjectFor(h)) return o->HandleNativeMessage(msg, wp, lp);
  return old ? CallWindowProcW(old, h, msg, wp, lp) : DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

// --- UI_StringEditor

UI_StringEditor::UI_StringEditor(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                                 const char* text)
    : UI_SimpleVObject(parent, shape, id, ""), own_(new CL_String(text)), text_(own_.get()) {
  Follow();
}

UI_StringEditor::UI_StringEditor(UI_VisualObject* parent, CL_String& model,
                                 const UI_Rectangle& shape, long id)
    : UI_SimpleVObject(parent, shape, id, ""), text_(&model) {
  Follow();
}

UI_StringEditor::UI_StringEditor(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SimpleVObject(parent, UI_Rectangle(), id, ""), own_(new CL_String), text_(own_.get()) {
  Adopt(window);
  *own_ = title_.AsPtr();
  bool tab_stop = tab_stop_;
  Follow();
  if (handle_) {
    tab_stop_ = tab_stop;  // the window's own, not the editor's usual
    TakeKeys();
  }
}

void UI_StringEditor::Follow() {
  tab_stop_ = true;
  Watch(*text_);
  selection_.AddDependent(CL_Binding0<UI_StringEditor>(this, &UI_StringEditor::SelectionToWindow));
  insertion_.AddDependent(
      CL_Binding0<UI_StringEditor>(this, &UI_StringEditor::InsertionPointToWindow));
}

UI_StringEditor::~UI_StringEditor() {
  // A string the caller keeps must not go on calling an editor that is gone.
  if (!own_)
    text_->RemoveDependent(CL_Binding0<UI_SimpleVObject>(this, &UI_StringEditor::ModelChanged));
}

const char* UI_StringEditor::ClassName() const {
  return "UI_StringEditor";
}
std::uint32_t UI_StringEditor::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_BORDER | ES_AUTOHSCROLL | ES_LEFT;
}
void UI_StringEditor::Refresh() {
  SetTitle(text_->AsPtr());
}

bool UI_StringEditor::AfterCreate() {
  if (!UI_SimpleVObject::AfterCreate()) return false;
  TakeKeys();
  if (max_chars_ > 0) Send(EM_LIMITTEXT, WPARAM(max_chars_));
  // A selection or insertion point set before the window existed.
  if (selection_.Low() >= 0)
    SelectionToWindow();
  else if (insertion_.Value() > 0)
    InsertionPointToWindow();
  return true;
}

void UI_StringEditor::TakeKeys() {
  HWND h = Hwnd(handle_);
  SetPropW(h, kEditProcProp, reinterpret_cast<HANDLE>(GetWindowLongPtrW(h, GWLP_WNDPROC)));
  default_proc_ = reinterpret_cast<void*>(
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditProc)));
}

std::intptr_t UI_StringEditor::HandleNativeMessage(std::uint32_t msg, std::uintptr_t wp,
                                                   std::intptr_t lp) {
  if (msg == WM_KEYDOWN && wp == VK_DELETE && !AllowDelete()) return 0;
  if (msg == WM_CHAR) {
    // Backspace deletes through its character, not its key: the window acts on WM_CHAR.
    if (wp == '\b' && !AllowDelete()) return 0;
    char16_t c = char16_t(wp);
    if (!AcceptChar(&c)) return 0;
    wp = c;
  }
  return DefaultProc(msg, wp, lp);
}

bool UI_StringEditor::HandleNotification(unsigned code) {
  if (code != EN_CHANGE || quiet_) return false;
  std::string now = WindowText(Hwnd(handle_));
  if (now != text_->AsPtr()) Quietly([&] { *text_ = now.c_str(); });
  EditorHook();
  return true;
}

CL_Interval& UI_StringEditor::Selection() {
  if (handle_) {
    DWORD start = 0, end = 0;
    Send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    CL_Interval now(CL_Long(start), CL_Long(end) - 1);
    if (!(now == selection_)) Quietly([&] { selection_ = now; });
  }
  return selection_;
}

CL_Integer& UI_StringEditor::InsertionPoint() {
  if (handle_) {
    DWORD start = 0, end = 0;
    Send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (CL_Long(end) != insertion_.Value()) Quietly([&] { insertion_ = CL_Long(end); });
  }
  return insertion_;
}

bool UI_StringEditor::SelectionToWindow() {
  if (!quiet_ && handle_) Send(EM_SETSEL, WPARAM(selection_.Low()), LPARAM(selection_.High() + 1));
  return true;
}

bool UI_StringEditor::InsertionPointToWindow() {
  if (!quiet_ && handle_) Send(EM_SETSEL, WPARAM(insertion_.Value()), LPARAM(insertion_.Value()));
  return true;
}

bool UI_StringEditor::SetMaxChars(long n) {
  // Refused before it is stored, so that the limit kept is always the window's.
  if (n < 1 || n > 32767) return false;
  if (n == max_chars_) return true;
  max_chars_ = n;
  Send(EM_LIMITTEXT, WPARAM(n));
  return true;
}

const char* UI_TextEditor::ClassName() const {
  return "UI_TextEditor";
}
std::uint32_t UI_TextEditor::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
         ES_WANTRETURN;
}

// --- UI_ComboBox

UI_ComboBox::UI_ComboBox(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                         long list_height, bool editable)
    : UI_SingleSelStringView(parent,
                             UI_Rectangle(shape.Left(), shape.Top(), shape.Width(),
                                          shape.Height() + (list_height > 0 ? list_height : 0)),
                             id),
      editable_(editable) {
  text_.AddDependent(CL_Binding0<UI_ComboBox>(this, &UI_ComboBox::TextToWindow));
}

UI_ComboBox::UI_ComboBox(UI_VisualObject* parent, long id, UI_NativeHandle window)
    : UI_SingleSelStringView(parent, UI_Rectangle(), id), editable_(false) {
  Adopt(window);
  if (handle_) {
    DWORD kind = DWORD(GetWindowLongW(Hwnd(handle_), GWL_STYLE)) & 3;
    editable_ = kind == CBS_SIMPLE || kind == CBS_DROPDOWN;
    ItemsFromWindow(CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
    if (editable_) EditText();
  }
  text_.AddDependent(CL_Binding0<UI_ComboBox>(this, &UI_ComboBox::TextToWindow));
}

const char* UI_ComboBox::ClassName() const {
  return "UI_ComboBox";
}
std::uint32_t UI_ComboBox::NativeStyle() const {
  return UI_VisualObject::NativeStyle() | WS_VSCROLL |
         (editable_ ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST);
}

bool UI_ComboBox::AfterCreate() {
  if (!UI_SimpleVObject::AfterCreate()) return false;
  if (limit_set_) Send(CB_LIMITTEXT, WPARAM(text_limit_));
  // Text given before the window existed, when no item stands in the field.
  if (editable_ && selection_.Value() < 0) PutText();
  return true;
}

std::string UI_ComboBox::WindowItem(long i) const {
  long n = long(Send(CB_GETLBTEXTLEN, WPARAM(i)));
  if (n < 0) return {};
  WideText buf = WideBuffer(std::size_t(n) + 1);
  Send(CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(buf.data()));
  return Narrow(buf.c_str(), std::size_t(n));
}

void UI_ComboBox::Refresh() {
  // A change of one item, one added or one taken away touches that line only, so that the
  // rest of the list (and what a user was doing in it) stays.
  long shown = long(Send(CB_GETCOUNT)), now = long(items_.Size());
  long first = 0;
  while (first < shown && first < now && WindowItem(first) == items_[first].AsPtr()) ++first;
  if (now == 0) {
    ClearWindow();
  } else if (now == shown + 1 && first == shown) {
    ItemInserted(first - 1);
  } else if (now == shown + 1 && WindowItem(first) == items_[first + 1].AsPtr()) {
    bool rest = true;
    for (long i = first + 1; i < shown && rest; ++i) rest = WindowItem(i) == items_[i + 1].AsPtr();
    if (!rest) return Refill();
    ItemInserted(first - 1);
  } else if (now + 1 == shown && first <= now) {
    bool rest = true;
    for (long i = first; i < now && rest; ++i) rest = WindowItem(i + 1) == items_[i].AsPtr();
    if (!rest) return Refill();
    ItemRemoved(first);
  } else if (now == shown) {
    for (long i = first; i < now; ++i)
      if (WindowItem(i) != items_[i].AsPtr()) ItemChanged(i);
  } else {
    return Refill();
  }
  ShowSelection();
}

void UI_ComboBox::Refill() {
  Send(WM_SETREDRAW, FALSE);
  ClearWindow();
  for (CL_Long i = 0; i < items_.Size(); ++i)
    Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(items_[i].AsPtr()).c_str()));
  Send(WM_SETREDRAW, TRUE);
  ShowSelection();
}

bool UI_ComboBox::ItemChanged(CL_Long i) {
  // The chosen line put in anew is chosen again.
  if (ReplaceLine(i, CB_GETCOUNT, CB_DELETESTRING, CB_INSERTSTRING))
    Quietly([this] { ShowSelection(); });
  return true;
}

bool UI_ComboBox::ItemInserted(long i) {
  if (!handle_ || i + 1 < 0 || i + 1 >= items_.Size()) return false;
  Send(CB_INSERTSTRING, WPARAM(i + 1),
       reinterpret_cast<LPARAM>(Wide(items_[i + 1].AsPtr()).c_str()));
  ReadSelection();
  return true;
}

bool UI_ComboBox::ItemRemoved(long i) {
  if (!handle_ || i < 0 || i >= Send(CB_GETCOUNT)) return false;
  Send(CB_DELETESTRING, WPARAM(i));
  ReadSelection();
  return true;
}

bool UI_ComboBox::ClearWindow() {
  if (!handle_) return false;
  Send(CB_RESETCONTENT);
  return true;
}

void UI_ComboBox::ShowSelection() {
  long sel = selection_.Value();
  if (sel >= items_.Size()) Quietly([&] { selection_ = sel = -1; });
  Send(CB_SETCURSEL, WPARAM(sel));
  // The field shows the chosen item, or keeps what was typed when nothing is chosen.
  if (sel >= 0 || !editable_) TextFromSelection();
}

void UI_ComboBox::ReadSelection() {
  long sel = long(Send(CB_GETCURSEL));
  if (sel < 0) sel = -1;
  if (sel != selection_.Value()) Quietly([&] { selection_ = sel; });
  // At the selection's notice the field does not show the new item yet.
  if (sel >= 0 || !editable_)
    TextFromSelection();
  else
    EditText();
}

void UI_ComboBox::TextFromSelection() {
  long sel = selection_.Value();
  const char* now = sel >= 0 && sel < items_.Size() ? items_[sel].AsPtr() : "";
  if (std::string(now) != text_.AsPtr()) Quietly([&] { text_ = now; });
}

CL_String& UI_ComboBox::EditText() {
  if (editable_ && handle_) {
    std::string now = WindowText(Hwnd(handle_));
    if (now != text_.AsPtr()) Quietly([&] { text_ = now.c_str(); });
  }
  return text_;
}

bool UI_ComboBox::TextToWindow() {
  if (quiet_) return true;
  if (!editable_) {
    // Only an item can stand in the field.
    long found = -1;
    for (CL_Long i = 0; i < items_.Size() && found < 0; ++i)
      if (std::string(items_[i].AsPtr()) == text_.AsPtr()) found = long(i);
    if (found != selection_.Value())
      selection_ = found;
    else
      TextFromSelection();
    return true;
  }
  PutText();
  return true;
}

void UI_ComboBox::PutText() {
  if (!handle_) return;
  SetWindowTextW(Hwnd(handle_), Wide(text_.AsPtr()).c_str());
  // The whole text is selected, so that typing replaces it.
  long n = long(GetWindowTextLengthW(Hwnd(handle_)));
  Send(CB_SETEDITSEL, 0, MAKELPARAM(0, n));
}

bool UI_ComboBox::HandleNotification(unsigned code) {
  switch (code) {
    case CBN_SELCHANGE:
      ReadSelection();
      return true;
    case CBN_EDITCHANGE:
      EditText();
      return true;
    default:
      return false;
  }
}

bool UI_ComboBox::ShowDropDown() {
  if (handle_) Send(CB_SHOWDROPDOWN, TRUE);
  return handle_ != nullptr;
}

bool UI_ComboBox::HideDropDown() {
  if (handle_) Send(CB_SHOWDROPDOWN, FALSE);
  return handle_ != nullptr;
}

bool UI_ComboBox::IsDroppedDown() const {
  return handle_ && Send(CB_GETDROPPEDSTATE) != 0;
}

bool UI_ComboBox::SetTextLimit(long n) {
  if (n < 0 || n > 65535) return false;
  text_limit_ = n;
  limit_set_ = true;
  Send(CB_LIMITTEXT, WPARAM(n));
  return true;
}

// --- scroll bars

UI_ScrollBar::UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id,
                           bool vertical)
    : UI_ScrollBar(parent, shape, id, -1, vertical) {}

UI_ScrollBar::UI_ScrollBar(UI_VisualObject* parent, const UI_Rectangle& shape, long id, long style,
                           bool vertical)
    : UI_SimpleVObject(parent, shape, id, ""),
      vertical_(vertical),
      style_(style),
      range_(0, 100),
      view_(0, 0) {
  Watch(view_);
  range_.AddDependent(CL_Binding0<UI_ScrollBar>(this, &UI_ScrollBar::RangeChanged));
}
UI_ScrollBar::UI_ScrollBar(UI_VisualObject* parent, long id, UI_NativeHandle window, bool vertical)
    : UI_ScrollBar(parent, UI_Rectangle(), id, -1, vertical) {
  Adopt(window);
  if (!handle_) return;
  int low = 0, high = 0;
  GetScrollRange(Hwnd(handle_), SB_CTL, &low, &high);
  long p = GetScrollPos(Hwnd(handle_), SB_CTL);
  Quietly([&] {
    range_ = CL_Interval(low, high);
    view_ = CL_Interval(p, p);
  });
}

const char* UI_HScrollBar::ClassName() const {
  return "UI_HScrollBar";
}
const char* UI_VScrollBar::ClassName() const {
  return "UI_VScrollBar";
}

std::uint32_t UI_ScrollBar::NativeStyle() const {
  std::uint32_t direction = vertical_ ? SBS_VERT : SBS_HORZ;
  if (style_ != -1) return std::uint32_t(style_) | direction;
  return UI_VisualObject::NativeStyle() | direction;
}

bool UI_ScrollBar::SetRange(long low, long high) {
  if (low > high) {
    CL_Error::Warning("%s::SetRange: low %ld above high %ld", ClassName(), low, high);
    return false;
  }
  range_ = CL_Interval(low, high);
  return true;
}

CL_Interval UI_ScrollBar::ViewAt(long p) const {
  long length = view_.Length(), max = MaxPosition();
  if (p > max) p = max;
  if (p < range_.Low()) p = range_.Low();
  return CL_Interval(p, p + length - 1);
}

void UI_ScrollBar::SetPosition(long p) {
  view_ = ViewAt(p);
}

bool UI_ScrollBar::SetLineAmount(long n) {
  if (n < 1) return false;
  line_ = n;
  return true;
}

bool UI_ScrollBar::SetPageAmount(long n) {
  if (n < 1) return false;
  page_ = n;
  return true;
}

void UI_ScrollBar::Refresh() {
  if (!ShowsInWindow()) return;
  // The view's length decides the highest position, so the range goes with it.
  RangeToWindow();
  PositionToWindow(view_.Low());
}

bool UI_ScrollBar::RangeChanged() {
  // A view left outside the new range moves into it.
  CL_Interval within = ViewAt(view_.Low());
  if (!(within == view_))
    view_ = within;
  else if (!quiet_ && ShowsInWindow())
    RangeToWindow();
  return true;
}

void UI_ScrollBar::RangeToWindow() {
  long max = MaxPosition();
  if (handle_)
    SetScrollRange(Hwnd(handle_), SB_CTL, int(range_.Low()),
                   int(max < range_.Low() ? range_.Low() : max), TRUE);
}

void UI_ScrollBar::PositionToWindow(long p) {
  if (handle_) SetScrollPos(Hwnd(handle_), SB_CTL, int(p), TRUE);
}

bool UI_ScrollBar::NativeBar(UI_NativeHandle* window, int* which) const {
  *window = handle_;
  *which = SB_CTL;
  return handle_ != nullptr;
}

long UI_ScrollBar::ThumbPosition(long carried) const {
  // The message carries 16 bits of the thumb's place; a wider range is asked of the bar.
  if (range_.Low() >= -32768 && range_.High() <= 32767) return carried;
  UI_NativeHandle w;
  int which;
  SCROLLINFO si = {};
  si.cbSize = sizeof si;
  si.fMask = SIF_TRACKPOS;
  if (!NativeBar(&w, &which) || !GetScrollInfo(Hwnd(w), which, &si)) return carried;
  return si.nTrackPos;
}

bool UI_ScrollBar::HandleEvent(const UI_Event& e) {
  long p = view_.Low();
  switch (e.Type()) {
    case Event_Scroll:
    case Event_ScrollToPosition:
      p = ThumbPosition(e.param);
      break;
    case Event_ScrollToBegin:
      p = range_.Low();
      break;
    case Event_ScrollToEnd:
      p = MaxPosition();
      break;
    case Event_ScrollForwardLine:
      p = std::min<long>(range_.High(), p + line_);
      break;
    case Event_ScrollBackwardLine:
      p = std::max<long>(range_.Low(), p - line_);
      break;
    case Event_ScrollForwardPage:
      p = std::min<long>(range_.High(), p + page_);
      break;
    case Event_ScrollBackwardPage:
      p = std::max<long>(range_.Low(), p - page_);
      break;
    case Event_FinishScroll:
      break;
    default:
      return UI_SimpleVObject::HandleEvent(e);
  }
  if (e.Type() != Event_FinishScroll) {
    CL_Interval now = ViewAt(p);
    if (!(now == view_)) Quietly([&] { view_ = now; });
    PositionToWindow(view_.Low());
  }
  if (e.Type() == Event_Scroll && !notify_tracking_) return false;
  clients_.NotifyAll(reinterpret_cast<CL_Word>(&e));
  // Not handled: the scroll goes on to the ancestors.
  return false;
}
