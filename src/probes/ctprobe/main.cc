// ctprobe: the Corvex server connection probe.
#include <cstdio>

#include "ctprobe.h"

int main() {
  tw::probe::Console console(stdin, stdout, stderr);
  const int code = tw::ctprobe::Run(console);
  std::fflush(stdout);
  return code;
}
