// ociprobe: the Oracle connection probe.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "ociprobe.h"

namespace {

// The client library beside the program, as the installation lays them out; the bare name
// (the loader's search) when the program's place cannot be read.
std::string ClientLibrary() {
  constexpr char kName[] = "libora72.so";
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return kName;
  std::string path(self, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? kName : path.substr(0, slash + 1) + kName;
}

}  // namespace

int main() {
  tw::probe::Console console(stdin, stdout, stderr);
  tw::ociprobe::OraCalls calls{};
  std::string error;
  if (!tw::ociprobe::LoadClient(ClientLibrary().c_str(), calls, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int code = tw::ociprobe::Run(console, calls);
  std::fflush(stdout);
  return code;
}
