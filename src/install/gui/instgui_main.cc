// instgui: the windowed installer, started by setup with the launch code.
#include "setup_wizard.h"

int main(int argc, char** argv) {
  return tw::install::gui::WindowedSetupMain(argc, argv);
}
