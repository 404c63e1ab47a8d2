// twcl-gallery's panel of label alignments and of a long multiple-selection list.
#include <string>

#include "twcl/ui/controls.h"

void AddButtonsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  auto* panel = new UI_CompositeVObject(window, nullptr, true, shape, id);
  const struct {
    long alignment;
    const char* text;
  } labels[] = {{UI_Label::AlignLeft, "Left"},
                {UI_Label::AlignCentre, "Centre"},
                {UI_Label::AlignRight, "Right"}};
  long y = 2;
  for (const auto& l : labels) {
    auto* label = new UI_Label(panel, UI_Rectangle(2, y, 100, 18), id + 1 + y / 20, l.text);
    label->SetAlignment(l.alignment);
    y += 20;
  }
  auto* list = new UI_MultiSelStringView(panel, UI_Rectangle(108, 2, 110, 126), id + 5);
  for (int i = 0; i < 40; ++i) list->Items().Add(CL_String(("Line " + std::to_string(i)).c_str()));
  CL_IntegerSet picked;
  for (long i : {33L, 35L, 36L}) picked.Add(i);
  list->Selection() = picked;
}
