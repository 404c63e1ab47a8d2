// setup: the program people start from the kit or an installation. It refuses when a newer
// installation is found, checks that the Ordex libraries of the kit load, then runs the
// windowed installer (no arguments) or the console installer with the arguments, each
// value quoted so that it reaches the installer whole, and ends with the installer's exit
// code.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "catalogue.h"
#include "platform.h"

namespace {

constexpr char kLaunchCode[] = "QUILBOX";
constexpr char kIniName[] = "twmain.ini";

std::string SelfPath() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
}

// The directory of the twmain.ini that an installation on this machine holds: the
// platform's installation directory when it has one, else the first on the PATH.
std::string InstalledIniDir() {
  std::string dir = TWFileExeDir();
  if (!dir.empty() && TWFileExist((dir + kIniName).c_str())) return dir;
  char found[PATH_MAX] = "";
  if (TWFindPath("PATH", found, sizeof found, kIniName, 0)) return found;
  return std::string();
}

// An argument as the console installer is to read it: a value (after the first "=") goes
// enclosed in apostrophes, so that it stays whole; a value that holds an apostrophe goes in
// double quotes. A value the user quoted already, or one that holds both quotes, goes as
// given: the console installer takes an unquoted argument's value whole.
std::string HandedOver(const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) return arg;
  std::string value = arg.substr(eq + 1);
  if (!value.empty() && (value[0] == '\'' || value[0] == '"')) return arg;
  char quote = value.find('\'') == std::string::npos  ? '\''
               : value.find('"') == std::string::npos ? '"'
                                                      : '\0';
  if (quote == '\0') return arg;
  return arg.substr(0, eq + 1) + quote + value + quote;
}

// Starts program with argv and waits: its exit code, or 1 when it could not run.
int Run(const std::string& program, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  TWProcProcess* process = nullptr;
  if (uint32_t st = TWProcSpawn(program.c_str(), argv.data(), &process)) {
    std::printf("%s: %s\n", tw::message_text(st).c_str(), program.c_str());
    return 1;
  }
  int code = 1;
  if (TWProcProcessWait(process) == 0) code = TWProcProcessExitCode(process);
  TWProcProcessFree(process);
  return code < 0 ? 1 : code;
}

int BootstrapMain(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string self = SelfPath();
  if (self.empty()) {
    std::printf("%s\n", tw::message_text(TWFAIL_SETUP_NO_SETUP_DIR).c_str());
    return 1;
  }
  if (uint32_t st = TWPlatInit(self.c_str())) {
    std::printf("%s\n", tw::message_text(st).c_str());
    return 1;
  }
  struct Term {
    ~Term() { TWPlatTerm(); }
  } term;
  // The kit is the directory of this program as the kernel knows it: absolute, no links.
  const std::string kit = self.substr(0, self.rfind('/') + 1);

  const std::string iniDir = InstalledIniDir();
  if (!iniDir.empty()) {
    char version[64] = "";
    if (TWINIGetString("Configuration", "Version", version, sizeof version,
                       (iniDir + kIniName).c_str()) == 0 &&
        TWCmpVerStr(version, "23") > 0) {
      std::printf("Setup found an existing %s in the path which is\n", kIniName);
      std::printf("at a higer version than this install program.\n");
      std::printf("If you are trying to install a back leveled version,\n");
      std::printf("you must first remove the directory %s from the path\n", iniDir.c_str());
      std::printf("or uninstall the Tarnway installation that resides in that directory.\n");
      return 1;
    }
  }

  std::printf("loading...\n");
  void* nordex = TWLibraryLoad((kit + "libnordex.so").c_str(), TWLIB_NO_ERROR_BOX);
  if (nordex == nullptr) {
    std::printf(
        "Setup is unable to load the Ordex run-time environment.\n"
        "Please verify that you have properly configured Ordex\n"
        "and that you can start the Ordex client from this command\n"
        "line.\n\n"
        "Specifically, ensure that libnordex.so is in the kit's directory (%s).\n"
        "\nYou may want to refer to the Tarnway Users Guide 'Installation\n"
        "and Setup' chapter for environment requirements.\n\n",
        kit.c_str());
    return 1;
  }
  // The libraries stay loaded until setup ends: unloading one drops the only reference to
  // what its start-up put on the heap.
  void* plexa = TWLibraryLoad((kit + "libplexapi.so").c_str(), TWLIB_NO_ERROR_BOX);
  if (plexa == nullptr) {
    std::printf(
        "Setup is unable to load the Quendal Ordex Plexa library (%s).\n"
        "\nYou may want to refer to the Tarnway Users Guide 'Installation\n"
        "and Setup' chapter for environment requirements.\n\n",
        (kit + "libplexapi.so").c_str());
    return 1;
  }

  if (argc < 2) return Run(kit + "instgui", {kit + "instgui", kLaunchCode});
  std::vector<std::string> args = {kit + "instcon", kLaunchCode};
  for (int i = 1; i < argc; ++i) args.push_back(HandedOver(argv[i]));
  return Run(kit + "instcon", args);
}

}  // namespace

int main(int argc, char** argv) {
  return BootstrapMain(argc, argv);
}
