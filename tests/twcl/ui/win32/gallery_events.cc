// twcl-gallery's panel of events and colours: an area painted in its own background colour
// and the text form of the event the push button sends when chosen.
#include "twcl/ui/controls.h"

void AddEventPanel(UI_VisualObject* window, const UI_Rectangle& shape, long id) {
  const long swatch = 20;
  auto* area = new UI_VisualObject(
      window, UI_Rectangle(shape.Left(), shape.Top(), shape.Width(), swatch), id);
  area->SetBackground(UI_Color(1.0, 0.9, 0.55));
  const UI_Event chosen(Event_Select, window->FindChild(1));
  new UI_Label(window,
               UI_Rectangle(shape.Left(), shape.Top() + swatch + 4, shape.Width(),
                            shape.Height() - swatch - 4),
               id + 1, chosen.AsString().AsPtr());
}
