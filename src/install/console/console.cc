// The console installer: keywords into the install context, one action, progress on the
// standard output. Nothing is changed before every keyword has been read and found usable.
#include "console.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "env.h"
#include "install_util.h"
#include "platform.h"

namespace tw::install {
namespace {

struct Token {
  std::string keyword;  // upper-cased
  std::optional<std::string> value;
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

// The keywords of a command file: a keyword runs to "=", a blank or a line end; its value
// follows the "=", quoted with apostrophes or double quotes when it holds blanks.
std::vector<Token> ScanText(std::string_view text) {
  std::vector<Token> tokens;
  size_t i = 0;
  const size_t n = text.size();
  while (true) {
    while (i < n && (IsBlank(text[i]) || IsLineEnd(text[i]) || text[i] == '-')) ++i;
    if (i >= n) break;
    size_t start = i;
    while (i < n && text[i] != '=' && !IsBlank(text[i]) && !IsLineEnd(text[i])) ++i;
    Token t;
    std::string_view word = text.substr(start, i - start);
    // A file name keeps its letters as typed.
    t.keyword = word[0] == '@' ? std::string(word) : Upper(word);
    if (i < n && text[i] == '=') {
      ++i;
      std::string value;
      if (i < n && (text[i] == '\'' || text[i] == '"')) {
        char quote = text[i++];
        while (i < n && text[i] != quote && !IsLineEnd(text[i])) value += text[i++];
        if (i < n) ++i;
      } else {
        while (i < n && !IsBlank(text[i]) && !IsLineEnd(text[i])) value += text[i++];
      }
      t.value = std::move(value);
    } else if (i < n) {
      ++i;
    }
    tokens.push_back(std::move(t));
  }
  return tokens;
}

// An argument is one keyword, its value everything after the first "=".
Token ScanArgument(const std::string& arg) {
  Token t;
  size_t eq = arg.find('=');
  std::string_view word = std::string_view(arg).substr(0, eq);
  t.keyword = !word.empty() && word[0] == '@' ? std::string(word) : Upper(word);
  if (eq != std::string::npos) t.value = arg.substr(eq + 1);
  return t;
}

struct Choice {
  const char* word;
  const char* digit;
};
constexpr Choice kSnmp[] = {{"FULL", "2"}, {"QUERY", "1"}, {"NONE", "0"}};
constexpr Choice kTranslation[] = {{"ENABLED", "2"}, {"QMBCS", "1"}, {"DISABLED", "0"}};
constexpr Choice kYesNo[] = {{"YES", "1"}, {"NO", "0"}};

struct ActionWord {
  const char* keyword;
  Action action;
  const char* kitType;  // null: unchanged
  int existingCluster;  // -1: unchanged
};
constexpr ActionWord kActions[] = {
    {"INSTALLSERVER", Action::installServer, "2", 1},
    {"INSTALLCLIENT", Action::installClient, "1", -1},
    {"INSTALLCLUSTER", Action::installCluster, "2", 0},
    {"REMOVESERVER", Action::removeServer, nullptr, 1},
    {"REMOVECLIENT", Action::removeClient, nullptr, 1},
    {"REMOVECLUSTER", Action::removeCluster, nullptr, -1},
    {"INSTALLQSXALIAS", Action::installAlias, nullptr, -1},
    {"INSTALLQSXSYMLINK", Action::installLink, nullptr, -1},
};

class Parser {
 public:
  Parser(ConsoleRequest& r, std::string& error) : r_(r), error_(error) {}

  bool Apply(const Token& t) {
    for (const ActionWord& a : kActions) {
      if (t.keyword != a.keyword) continue;
      if (r_.action != Action::none)
        return Fail("Error - conflicting options, '" + actionWord_ + "' and '" + t.keyword +
                    "'.\n");
      r_.action = a.action;
      actionWord_ = a.keyword;
      if (a.kitType != nullptr) (void)SetField(r_.ctx.kitType, a.kitType);
      if (a.existingCluster >= 0) r_.ctx.existingCluster = a.existingCluster;
      return true;
    }
    if (t.keyword == "HELP") {
      r_.help = true;
      return true;
    }
    struct Text {
      const char* keyword;
      char* field;
      size_t size;
      int32_t* flag;
    } texts[] = {
        {"TARNWAY", r_.ctx.memberName, sizeof r_.ctx.memberName, nullptr},
        {"ADMINSERVER", r_.ctx.adminServer, sizeof r_.ctx.adminServer, nullptr},
        {"ADMINDATABASE", r_.ctx.adminDatabase, sizeof r_.ctx.adminDatabase, nullptr},
        {"ADMINLOGDATABASE", r_.ctx.logDatabase, sizeof r_.ctx.logDatabase, nullptr},
        {"DIRECTORY", r_.ctx.installDir, sizeof r_.ctx.installDir, nullptr},
        {"DOCDATABASE", r_.ctx.docDatabase, sizeof r_.ctx.docDatabase, &r_.ctx.installDocDatabase},
        {"VAULTDATABASE", r_.ctx.vaultDatabase, sizeof r_.ctx.vaultDatabase, &r_.ctx.createVault},
    };
    for (const Text& x : texts) {
      if (t.keyword != x.keyword) continue;
      if (!t.value) return Fail("Missing value for keyword: " + t.keyword + "\n");
      // DIRECTORY leaves room for the "/" the run adds.
      size_t room = x.size - (x.field == r_.ctx.installDir ? 2 : 1);
      if (t.value->size() > room || t.value->find('\0') != std::string::npos)
        return Fail("Value too long for keyword " + t.keyword + " (at most " +
                    std::to_string(room) + " characters)\n");
      std::memcpy(x.field, t.value->c_str(), t.value->size() + 1);
      if (x.flag != nullptr) *x.flag = 1;
      return true;
    }
    struct Mapped {
      const char* keyword;
      const Choice* choices;
      size_t count;
      const char* complaint;
    } mapped[] = {
        {"SNMP", kSnmp, std::size(kSnmp), "invalid snmp value: "},
        {"TRANSLATION", kTranslation, std::size(kTranslation), "invalid text translate value: "},
        {"DELETEFILES", kYesNo, std::size(kYesNo), "invalid value: "},
        {"UPDATEENV", kYesNo, std::size(kYesNo), "invalid value: "}};
    for (const Mapped& m : mapped) {
      if (t.keyword != m.keyword) continue;
      if (!t.value) return Fail("Missing value for keyword: " + t.keyword + "\n");
      const char* digit = nullptr;
      for (size_t i = 0; i < m.count; ++i)
        if (Upper(*t.value) == m.choices[i].word) digit = m.choices[i].digit;
      if (digit == nullptr) return Fail(m.complaint + *t.value + "\n");
      if (t.keyword == "SNMP") (void)SetField(r_.ctx.snmpMode, digit);
      if (t.keyword == "TRANSLATION") (void)SetField(r_.ctx.translateMode, digit);
      if (t.keyword == "DELETEFILES") r_.ctx.deleteFiles = digit[0] - '0';
      if (t.keyword == "UPDATEENV") r_.updateEnv = digit[0] == '1';
      return true;
    }
    return Fail("Unrecognized keyword: " + t.keyword + "\n");
  }

  bool Fail(const std::string& text) {
    error_ = text;
    return false;
  }

 private:
  ConsoleRequest& r_;
  std::string& error_;
  std::string actionWord_;
};

// Whether a command file's text fits the command room.
bool CommandFileFits(const std::string& name, const std::string* text, std::string& error) {
  if (text->size() >= kCommandRoom) {
    error = "The command file " + name + " is too long (at most " +
            std::to_string(kCommandRoom - 1) + " characters)\n";
    return false;
  }
  return true;
}

void Print(FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

std::string Absolute(const std::string& dir) {
  if (!dir.empty() && dir[0] == '/') return dir;
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return dir;
  return WithSlash(cwd) + dir;
}

}  // namespace

bool ConsoleParse(const std::vector<std::string>& args, ConsoleRequest& request,
                  std::string& error) {
  size_t joined = 0;
  for (const std::string& a : args) joined += a.size() + 1;
  if (joined >= kCommandRoom) {
    error = "The command line is too long (at most " + std::to_string(kCommandRoom - 1) +
            " characters)\n";
    return false;
  }
  Parser parser(request, error);
  std::vector<Token> tokens;
  for (const std::string& a : args) tokens.push_back(ScanArgument(a));
  // A command file's text takes the place of whatever followed its "@" keyword.
  for (int files = 0;;) {
    bool replaced = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
      const Token& t = tokens[i];
      if (!t.keyword.empty() && t.keyword[0] == '@') {
        if (++files > 16) return parser.Fail("Too many nested command files\n");
        const std::string name = t.keyword.substr(1);
        std::string text;
        if (Env::Default()->ReadFile(name, &text) != Env::Read::ok) {
          // Reported, and the keywords after it on the command line are scanned instead.
          request.notes += "error opening cmdfile " + name + "\n";
          tokens.erase(tokens.begin() + static_cast<long>(i));
          replaced = true;
          break;
        }
        if (!CommandFileFits(name, &text, error)) return false;
        tokens.erase(tokens.begin() + static_cast<long>(i), tokens.end());
        std::vector<Token> more = ScanText(text);
        tokens.insert(tokens.end(), more.begin(), more.end());
        replaced = true;
        break;
      }
    }
    if (!replaced) break;
  }
  for (const Token& t : tokens) {
    if (t.keyword.empty()) return parser.Fail("Missing keyword before '='\n");
    if (!parser.Apply(t)) return false;
  }
  // The defaults the help text names: no SNMP, no translation.
  if (request.ctx.snmpMode[0] == '\0') (void)SetField(request.ctx.snmpMode, "0");
  if (request.ctx.translateMode[0] == '\0') (void)SetField(request.ctx.translateMode, "0");
  return true;
}

void ConsoleSetupHelp(FILE* out) {
  static const char* const kLines[] = {
      "Quendal Tarnway Setup",
      "",
      "Use the command 'setup' with no paramters to run a graphical setup for",
      "Tarnway.  Tarnway may alternatively be configured through the use of",
      "command line options as follows below.",
      "",
      "Specify a single action:",
      "INSTALLCLIENT",
      "INSTALLSERVER",
      "INSTALLCLUSTER",
      "REMOVECLIENT",
      "REMOVESERVER",
      "REMOVECLUSTER",
      "INSTALLQSXSYMLINK (HPUX ONLY)",
      "INSTALLQSXALIAS",
      "",
      "Mandatory Installation parameters include",
      "TARNWAY=server_or_client_name",
      "ADMINSERVER=Ordex_server_name",
      "ADMINDATABASE=database_name",
      "ADMINLOGDATABASE=database_name",
      "",
      "Optional Installation parameters include",
      "DIRECTORY=specifies directory to install files in  [current directory]",
      "SNMP=NONE/FULL/QUERY                               [NONE]",
      "TRANSLATION=DISABLED/QMBCS/ENABLED                 [DISABLED]",
      "UPDATEENV=NO/YES                                   [NO] - not applicable on HPUX",
      "DOCDATABASE=database_name                          [not installed]",
      "VAULTDATABASE=database_name                        [not installed]",
      "The default parameter is specified in braces [].",
      "",
      "",
      "",
      "Optional Removal parameters include",
      "DELETEFILES=NO/YES",
      "",
      "",
      "",
      "@FILENAME - use the specified file for command parameters.",
      "",
      "",
      "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - -",
      "Command Line Examples:",
      "",
      "Install using the commands in the file tw1.cmd:",
      "setup @tw1.cmd",
      "",
      "",
      "Install a new Tarnway Server named 'tw server 1' into an existing cluster whose",
      "Administrator database QTWADM.ODB and log database QTWLOG.ODB are on the Ordex",
      "server ordexhub:",
      "setup INSTALLSERVER TARNWAY='tw server 1' ADMINSERVER=ordexhub",
      "ADMINDATABASE=QTWADM.ODB ADMINLOGDATABASE=QTWLOG.ODB",
  };
  for (const char* line : kLines) std::fprintf(out, "%s\n", line);
}

int ConsoleSetupRun(ConsoleRequest& request, FILE* out) {
  SetupContext& ctx = request.ctx;
  const Action action = request.action;
  if (action == Action::none) {
    Print(out, "no action specified  - setup quiting\n");
    return 1;
  }
  const bool install = action == Action::installServer || action == Action::installClient ||
                       action == Action::installCluster;
  if (action == Action::installClient || action == Action::removeClient) ctx.existingCluster = 1;
  const std::string kind =
      action == Action::installClient || action == Action::removeClient ? "Client" : "Server";

  // Another spelling of the kit's own directory (a link, a "..") is the kit: copying onto
  // itself would truncate the files it reads.
  bool copy = false;
  if (install && ctx.installDir[0] != '\0') {
    std::string dir = WithSlash(Absolute(ctx.installDir));
    std::string canonical = Canonical(dir);
    if (!canonical.empty() && WithSlash(canonical) == WithSlash(Canonical(ctx.setupDir))) {
      (void)SetField(ctx.installDir, ctx.setupDir);
    } else if (!SetField(ctx.installDir, dir)) {
      Print(out, "The installation directory is too long: " + dir + "\n");
      return 1;
    } else {
      copy = true;
    }
  } else {
    (void)SetField(ctx.installDir, ctx.setupDir);
  }
  // The installation's databases live under its own data root unless one is given.
  if (const char* root = std::getenv("PLEXA_ROOT"); root == nullptr || *root == '\0')
    ::setenv("PLEXA_ROOT", (std::string(ctx.installDir) + "ordex").c_str(), 1);

  std::string text;
  if (SetupPlexaInit(text) != 0) {
    Print(out, text + "\n");
    return 1;
  }
  struct Term {
    ~Term() { SetupPlexaTerm(); }
  } term;

  if (install) {
    if (copy) {
      Print(out, "Installing Program files...  ");
      std::string detail;
      if (SetupCopyProgramFiles(ctx, detail) != 0) {
        Print(out, std::string("\nOperation failed to install the program files to ") +
                       ctx.installDir + "\n" + detail + "\n");
        (void)SetupUndoProgramFiles(ctx);
        return 1;
      }
      Print(out, detail + "Done.\n\n");
    }
    Print(out, "\nInstalling " + kind + ".  ");
    text.clear();
    if (SetupCreateCluster(ctx, text) != 0) {
      std::string failed = "\nOperation failed.\n " + text;
      if (copy) {
        failed += "\nThe files have been successfuly copied but setup";
        failed += ctx.existingCluster
                      ? " failed to add this Tarnway " + kind + " to the Tarnway cluster."
                      : std::string(" failed to create a new Tarnway cluster.");
      }
      Print(out, failed + "\n");
      return 1;
    }
    Print(out, "Done.\n");
    if (ctx.installDocDatabase == 1) {
      Print(out, "\nInstalling Tarnway User's Guide.  ");
      text.clear();
      if (SetupInstallDocDatabase(ctx, text) != 0) {
        Print(out, text + "\n" +
                       "You may create this database by hand or during a future install.\n"
                       "Please refer to the documentation for further details.\n"
                       "Installation continues.\n");
      } else {
        Print(out, text + "Done.\n");
      }
    }
    Print(out, "\nAdding Tarnway QSX Alias.  ");
    text.clear();
    if (SetupInstallScriptAlias(ctx, text) != 0) {
      Print(out, "\nCould not install Alias.\n" + text + "\n" +
                     "This is not a severe error - however it must be resolved before this\n"
                     "Tarnway " +
                     kind + " may execute Quenscript using the Tarnway\n" +
                     "alias 'SCRIPTBIND'.\n\n"
                     "You may wish to retry this operation by running the command:\n"
                     "'setup INSTALLQSXALIAS'\n");
    } else {
      Print(out, "Done.\n\n");
    }
    bool pathUpdated = false;
    if (request.updateEnv) {
      Print(out, "Updating environment variables.  ");
      if (SetupUpdateUserPath(ctx.installDir) != 0) {
        Print(out, "Setup failed to update the environment.  You must do this yourself.\n");
      } else {
        pathUpdated = true;
        Print(out, "Done.\n\n");
        Print(out,
              "Note: a new login shell reads ~/.profile; log out and back in (or source "
              "it) before starting Tarnway.\n");
      }
    }
    if (action != Action::installClient) {
      Print(out, "\n\nCreating Tarnway Icon in the Program Manager.  ");
      if (SetupCreateProgramItem(ctx) != 0)
        Print(out, "\nSetup failed to create Program Item - you may do this by hand.\n\n");
      else
        Print(out, "Done.\n\n");
    }
    if (!pathUpdated) {
      std::string advice;
      SetupPathAdvice(ctx.installDir, advice);
      Print(out, "\n\n" + advice + "\n\n");
    }
    Print(out, "Congratulations!  You have successfuly installed Tarnway.\n");
    return 0;
  }

  if (action == Action::removeServer || action == Action::removeClient ||
      action == Action::removeCluster) {
    Print(out, ctx.existingCluster
                   ? "Disabling the " + kind + " in the Administrator database.  "
                   : std::string("Deleting the Administrator and Log Databases.  "));
    text.clear();
    if (SetupRemove(ctx, text) != 0) {
      Print(out, "\nOperation failed.\n" + text + "\n");
      return 1;
    }
    Print(out, "Done.\n\nPlease wait while setup removes the Tarnway QSX Alias.  ");
    text.clear();
    if (SetupRemoveScriptAlias(ctx, text) != 0)
      Print(out, "\nFailed to remove Alias.\n" + text + "\n\n");
    else
      Print(out, "Done.\n\n\n");
    int code = 0;
    if (ctx.deleteFiles) {
      Print(out, "Deleting the Tarnway Program Files.  ");
      text.clear();
      if (SetupDeleteProgramFiles(ctx, text) != 0)
        Print(out, "\n" + text + "\n" +
                       "Unable to remove all program files.  Setup will attempt to delete the\n"
                       "remaining files and Tarnway directory upon exiting.\n");
      else
        Print(out, "Done.\n\n");
    }
    if (ctx.deleteFiles) {
      // With its files the installation leaves the user's PATH and its program item.
      if (SetupRemoveUserPath(ctx.installDir) != 0 || SetupRemoveProgramItem(ctx) != 0)
        Print(out,
              "Setup could not update your environment.  Please remove the Tarnway "
              "directory from your PATH yourself.\n");
    }
    Print(out, "\n\n\nTarnway has been removed.\n");
    if (ctx.deleteFiles) {
      SetupPlexaTerm();
      TWPlatTerm();
      if (SetupDeleteDirOnExit(ctx.installDir) != 0) {
        Print(out, std::string("Setup could not remove the directory ") + ctx.installDir +
                       "; remove it by hand.\n");
        code = 1;
      }
    }
    return code;
  }

  if (action == Action::installAlias) {
    Print(out, "Installing QSX Alias...  ");
    text.clear();
    if (SetupInstallScriptAlias(ctx, text) != 0) {
      Print(out, "\nCould not install Alias.\n" + text + "\n" +
                     "This is not a severe error - however it must be resolved before\n"
                     "Tarnway may execute Quenscript using the Tarnway\n"
                     "alias 'SCRIPTBIND'.\n\n");
      return 1;
    }
    Print(out, "Done.\n\n\n");
    return 0;
  }
  Print(out, "Installing QSX symbolic link...  ");
  text.clear();
  uint32_t st = SetupInstallScriptLink(ctx, text);
  Print(out, text + "Done.\n\n");
  return st == 0 ? 0 : 1;
}

int ConsoleSetupMain(int argc, char** argv, FILE* out) {
  if (argc < 2 || std::strcmp(argv[1], kLaunchCode) != 0) {
    std::fprintf(stderr, "instcon is started by setup.\n");
    return 1;
  }
  ConsoleRequest request;
  std::string program = "/proc/self/exe";
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) program.assign(self, static_cast<size_t>(n));
  if (SetupFindSetupDir(request.ctx.setupDir, program.c_str()) != 0) {
    Print(out, "can't get instdir\n");
    return 1;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  std::string error;
  const bool parsed = ConsoleParse(args, request, error);
  Print(out, request.notes);
  if (!parsed) {
    Print(out, error);
    return 1;
  }
  if (request.help) {
    ConsoleSetupHelp(out);
    return 0;
  }
  (void)TWPlatInit(program.c_str());
  int code = ConsoleSetupRun(request, out);
  TWPlatTerm();
  return code;
}

}  // namespace tw::install
