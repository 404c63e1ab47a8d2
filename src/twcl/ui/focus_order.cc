#include "twcl/ui/focus_order.h"

UI_FocusMove UI_NextFocus(const std::vector<UI_FocusCandidate>& children, long current,
                          int direction, bool wraps) {
  long n = long(children.size());
  if ((direction != 1 && direction != -1) || n < 2) return {};
  if (current >= n) current = -1;
  long i = current < 0 ? 0 : current + direction;
  for (long seen = 0; seen < n; ++seen, i += direction) {
    if (i < 0 || i >= n) {
      if (!wraps) return {};
      i = (i + n) % n;
    }
    if (i == current) return {true, -1};  // round the circle: nothing changes
    if (children[std::size_t(i)].Qualifies()) return {true, i};
  }
  // No child qualifies: a top-level composite keeps what it has; a child one passes TAB on.
  return {wraps, -1};
}
