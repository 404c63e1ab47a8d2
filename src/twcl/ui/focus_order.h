// Where TAB moves the keyboard focus among a composite's children, in creation order.
#ifndef TW_TWCL_UI_FOCUS_ORDER_H_
#define TW_TWCL_UI_FOCUS_ORDER_H_

#include <vector>

// A child can take the focus only when it is visible, enabled and a tab stop.
struct UI_FocusCandidate {
  bool visible = true;
  bool enabled = true;
  bool tab_stop = true;
  bool Qualifies() const { return visible && enabled && tab_stop; }
};

struct UI_FocusMove {
  bool answer = false;  // what MoveFocus answers: true when the move is settled here
  long index = -1;      // the child that takes the focus; -1 when none does
};

// From the focus child `current` (-1 for none) by `direction` (+1 or -1). A top-level
// composite wraps around; a child composite runs off its ends (answer false: TAB goes on to
// the parent). Each child is looked at most once, so a composite whose children are all
// hidden or disabled ends the search at once.
UI_FocusMove UI_NextFocus(const std::vector<UI_FocusCandidate>& children, long current,
                          int direction, bool wraps);

#endif  // TW_TWCL_UI_FOCUS_ORDER_H_
