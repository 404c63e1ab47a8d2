// ociprobe: the Oracle connection probe.
#include <cstdio>
#include <string>

#include "ociprobe.h"

int main() {
  tw::probe::Console console(stdin, stdout, stderr);
  tw::ociprobe::OraCalls calls{};
  std::string error;
  if (!tw::ociprobe::LoadClient("libora72.so", calls, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int code = tw::ociprobe::Run(console, calls);
  std::fflush(stdout);
  return code;
}
