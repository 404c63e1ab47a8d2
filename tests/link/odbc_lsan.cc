// Leak-checker suppressions of the tests over unixODBC (the ODBC connectors and the Xandb client
// library). unixODBC's installer library keeps the configuration it parsed for the life of the
// process; it is held loaded here so that the leak checker can name it (an unloaded library's
// frames have no name to match).
#include <dlfcn.h>

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libodbcinst.so\nleak:libcom_err.so\n";
}

namespace {
const bool kHeld = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE) != nullptr;
// A connector plug-in that the engine unloads takes the driver manager with it, and with it
// the only references to what the installer library keeps: held too, that stays reachable.
const bool kManagerHeld = dlopen("libodbc.so.2", RTLD_NOW | RTLD_NODELETE) != nullptr;
}  // namespace
