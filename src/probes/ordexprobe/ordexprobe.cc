// ordexprobe's dialogue over the Plexa API.
#include "ordexprobe.h"

#include <string>

#include "plexapi.h"

namespace tw::ordexprobe {
namespace {

using probe::Console;

// The text of the last failure, bounded by the API's own buffer size.
std::string LastError(const PlexaCalls& plexa) {
  char text[GV_ERROR_TEXT_SIZE] = {};
  uint32_t status = 0;
  plexa.errorFetch(&status, nullptr, text);
  text[GV_ERROR_TEXT_SIZE - 1] = '\0';
  return text;
}

}  // namespace

const PlexaCalls& LibraryCalls() {
  static const PlexaCalls calls = {_GVInit, GVTerm, GVErrorFetch, GVServerGetProperty};
  return calls;
}

int Run(Console& console, const PlexaCalls& plexa) {
  probe::PrintBanner(console, "Quendal Ordex Server Connection Verification",
                     "Asks whether an Ordex server answers through the Plexa API.");
  console.Print("Initializing...");
  if (plexa.init(GV_VERSION, 0, 0, 0) != 0) {
    console.Print("Error initializing Plexa.\n%s\n", LastError(plexa).c_str());
    return 1;
  }
  std::string server;
  bool verified = false;
  do {
    // An empty name is the local server; the end of input tries the server named last.
    std::string answer;
    if (console.Ask("\n\nQuendal Ordex Server: ", probe::kAnswerMax, false, answer))
      server = answer;
    console.Print("\nAttempting connection...");
    uint32_t responds = 0;
    if (plexa.serverGetProperty(server.c_str(), GVSRVPROP_RESPONDS, &responds) != 0) {
      console.Print("\n\n%s\n", LastError(plexa).c_str());
      verified = false;
    } else if (responds != 0) {
      console.Print("\n\nConnectivity to Server %s Verified.\n", server.c_str());
      verified = true;
    } else {
      console.Print("\n\nServer %s is not responding, Connectivity test Fails.\n", server.c_str());
      verified = false;
    }
  } while (probe::AskYes(console, "\n\nTry Again? [N] "));
  plexa.term(0);
  return verified ? 0 : 1;
}

}  // namespace tw::ordexprobe
