// qsrun FILE: runs a line script over the script host with the registered script extension
// (or the one --extension names) in a process of its own. A syntax error runs nothing; a
// script error stops the script; either prints the status and text on standard error and
// exits 1.
#include "qsrun.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "flowcore.h"
#include "platform.h"

int main(int argc, char** argv) {
  std::string extension, file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--extension" && i + 1 < argc)
      extension = argv[++i];
    else if (file.empty())
      file = arg;
    else
      file.clear(), i = argc;
  }
  if (file.empty()) {
    std::cerr << "usage: qsrun [--extension PATH] FILE\n";
    return 1;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "qsrun: cannot read " << file << "\n";
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TWPlatInit(argv[0]);
  uint32_t st = TWSystemInit();
  std::string why;
  if (st == TWSUCCESS)
    st = qshost::RunText(text, extension, std::cout, &why);
  else
    why = "the engine did not start";
  std::cout.flush();
  TWSystemTerm();
  TWPlatTerm();
  if (st != TWSUCCESS) {
    std::cerr << "qsrun: " << file << ": " << why << "\n";
    return 1;
  }
  return 0;
}
