// twcl-gallery's panel of windows in windows: a child composite with the frame of a top
// window, and the main window's limits for a user who sizes it.
#include "twcl/ui/controls.h"

void AddWindowPanel(UI_CompositeVObject* window, const UI_Rectangle& shape, long id) {
  auto* panel = new UI_CompositeVObject(window, nullptr, true, shape, id, "Decorated panel");
  panel->DecorateFrame();
  new UI_Label(panel, UI_Rectangle(6, 6, 200, 20), id + 1, "A child window with a frame");
  new UI_ToggleButton(panel, UI_Rectangle(6, 30, 200, 20), id + 2, "Inside the panel");
  window->SetMinWidth(window->Shape().Width() / 2);
  window->SetMinHeight(window->Shape().Height() / 2);
}
