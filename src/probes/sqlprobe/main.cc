// sqlprobe [data source [user id [password]]]: the ODBC connection probe.
#include <cstdio>
#include <string>
#include <vector>

#include "sqlprobe.h"

int main(int argc, char** argv) {
  tw::probe::Console console(stdin, stdout, stderr);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int code = tw::sqlprobe::Run(console, args);
  std::fflush(stdout);
  return code;
}
