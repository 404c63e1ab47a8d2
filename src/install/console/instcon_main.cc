// instcon: the console installer, started by setup with the launch code first.
#include <cstdio>

#include "console.h"

int main(int argc, char** argv) {
  return tw::install::ConsoleSetupMain(argc, argv, stdout);
}
