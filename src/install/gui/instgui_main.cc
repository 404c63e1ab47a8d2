// instgui: the windowed installer, started by setup with the launch code.
#include <sys/stat.h>

#include "setup_wizard.h"

int main(int argc, char** argv) {
  // What the installer makes (the data root and its databases, the registry store,
  // twmain.ini) is the installing user's alone; program files keep the kit's modes.
  ::umask(077);
  return tw::install::gui::WindowedSetupMain(argc, argv);
}
