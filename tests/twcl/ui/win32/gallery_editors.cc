// The gallery's panel of editors and scroll bars: an editable combo box with typed text, an
// editor with part of its text selected and a scroll bar with a page of its range in view.
#include "twcl/ui/controls.h"

void AddEditorPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  long x = shape.Left(), y = shape.Top(), w = shape.Width();
  auto* combo = new UI_ComboBox(window, UI_Rectangle(x, y, w, 24), id, 90, true);
  const char* fruit[] = {"apple", "pear", "plum", "quince", nullptr};
  combo->Items() = CL_StringSequence(fruit, -1);
  combo->EditText() = "Editable combo";
  auto* editor = new UI_StringEditor(window, UI_Rectangle(x, y + 30, w, 22), id + 1,
                                     "Selected part of the text");
  editor->SetMaxChars(60);
  editor->Selection() = CL_Interval(0, 7);
  auto* bar = new UI_HScrollBar(window, UI_Rectangle(x, y + 58, w, 16), id + 2);
  bar->View() = CL_Interval(30, 59);
}
