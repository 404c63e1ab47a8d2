// The progress page's line ends: the multi-line editor breaks lines only at CR LF.
#include <string>
#include <string_view>

#include "setup_wizard.h"

namespace tw::install::gui {

std::string SetupProgressText(std::string_view text) {
  std::string out;
  size_t start = 0;
  bool pieces = false;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) {
      out += "\r\n";
      out.append(text.substr(start, end - start));
      pieces = true;
    }
    start = end + 1;
  }
  return pieces ? out : std::string(text);
}

}  // namespace tw::install::gui
