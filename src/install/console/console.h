// The console installer instcon: reads NAME=value keywords (from its arguments and "@"
// command files) into the install context, runs one action and prints its progress.
#ifndef TW_INSTALL_CONSOLE_CONSOLE_H_
#define TW_INSTALL_CONSOLE_CONSOLE_H_

#include <cstdio>
#include <string>
#include <vector>

#include "setup_context.h"

namespace tw::install {

constexpr char kLaunchCode[] = "QUILBOX";
// The joined keywords (and a command file's text) must fit this many characters.
constexpr size_t kCommandRoom = 4096;

enum class Action {
  none = 0,
  installServer,
  installClient,
  installCluster,
  removeServer,
  removeClient,
  removeCluster,
  installAlias,
  installLink
};

struct ConsoleRequest {
  SetupContext ctx{};
  Action action = Action::none;
  bool updateEnv = false;
  bool help = false;
  // What the scan reported and went on past (a command file that cannot be opened), for
  // people; printed before the run.
  std::string notes;
};

// Reads the keywords of args (the arguments after the launch code) into request. false when
// they are not usable: the reason, for people, is in error.
[[nodiscard]] bool ConsoleParse(const std::vector<std::string>& args, ConsoleRequest& request,
                                std::string& error);
// Runs the request's action, printing to out: the process's exit code (0 or 1).
[[nodiscard]] int ConsoleSetupRun(ConsoleRequest& request, FILE* out);
void ConsoleSetupHelp(FILE* out);
// The whole program: argv as the process got it. The exit code.
[[nodiscard]] int ConsoleSetupMain(int argc, char** argv, FILE* out);

}  // namespace tw::install

#endif  // TW_INSTALL_CONSOLE_CONSOLE_H_
