// twcl-gallery's panel of a radio group made from a button table and two views showing one
// sequence of strings.
#include <cstdint>

#include "twcl/ui/controls.h"

void AddControlsPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  auto* panel = new UI_CompositeVObject(window, nullptr, true, shape, id);
  using R = UI_ButtonTableRecord;
  const R radios[] = {{R::ExOrToggle, std::int32_t(id + 2), 8, 16, 110, 18, 0, "Täglich", {}},
                      {R::ExOrToggle, std::int32_t(id + 3), 8, 36, 110, 18, 0, "Wöchentlich", {}},
                      {R::End, 0, 0, 0, 0, 0, 0, nullptr, {}}};
  auto* group = new UI_ExOrButtonGroup(panel, UI_Rectangle(2, 2, 130, 60), id + 1, radios);
  group->SetTitle("Table");
  group->Selection() = id + 3;
  // Both views show the one sequence: a change to it reaches each.
  static CL_StringSequence shared;
  if (shared.Size() == 0)
    for (const char* s : {"Äpfel", "Birnen", "Quitten", "Pflaumen"}) shared.Add(CL_String(s));
  auto* single = new UI_SingleSelStringView(panel, shared, UI_Rectangle(2, 68, 64, 108), id + 4);
  auto* multi = new UI_MultiSelStringView(panel, shared, UI_Rectangle(70, 68, 64, 108), id + 5);
  single->Selection() = 2;
  CL_IntegerSet picked;
  picked.Add(0);
  picked.Add(3);
  multi->Selection() = picked;
}
