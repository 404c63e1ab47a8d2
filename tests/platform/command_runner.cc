// A runner of one operating-system command for the process tests: runs argv[1] through
// TWProcCommandRun and exits 0 when it succeeded, 1 otherwise. Killed while it waits, it
// must take the command with it.
#include "platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return TWProcCommandRun(argv[1], nullptr, nullptr, nullptr) == TWSUCCESS ? 0 : 1;
}
