// ordexprobe: the Ordex server connection probe.
#include <cstdio>

#include "ordexprobe.h"

int main() {
  tw::probe::Console console(stdin, stdout, stderr);
  const int code = tw::ordexprobe::Run(console);
  std::fflush(stdout);
  return code;
}
