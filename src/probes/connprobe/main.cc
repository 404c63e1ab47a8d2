// connprobe [Options] <link1> <link2>..<linkn>: tests links through a running server.
#include <cstdio>
#include <string>
#include <vector>

#include "connprobe.h"

int main(int argc, char** argv) {
  tw::probe::Console console(stdin, stdout, stderr);
  const int code = tw::connprobe::Run(console, std::vector<std::string>(argv, argv + argc));
  std::fflush(stdout);
  return code;
}
