// The kit's program files, the script extension's registry value, the user's PATH, the
// program item, and the removal of the installation directory.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"
#include "env.h"
#include "install_util.h"
#include "platform.h"
#include "setup_context.h"

namespace tw::install {
namespace {

namespace fs = std::filesystem;

// Each row names the file in the kit and in the installation directory (the same here).
// Rows that a build does not make (the windowed installer without Wine) are skipped when
// copying, and count as deleted.
struct Row {
  const char* kitName;
  const char* installName;
};
constexpr Row kServerFiles[] = {
    {"admin.twx", "admin.twx"}, {"command.twx", "command.twx"}, {"direct.twx", "direct.twx"},
    {"relay.twx", "relay.twx"}, {"taskrun", "taskrun"},         {"QTWADM.OTM", "QTWADM.OTM"},
    {"webrun", "webrun"},       {"QTWLOG.OTM", "QTWLOG.OTM"},   {"mibagent", "mibagent"},
    {"twmain", "twmain"},       {"TWMAIN.MIB", "TWMAIN.MIB"},   {"QTWVLT.OTM", "QTWVLT.OTM"},
    {"poll.twx", "poll.twx"},   {"replica.twx", "replica.twx"}, {"script.twx", "script.twx"},
};
constexpr Row kEveryKitFiles[] = {
    {"QTW20DOC.ODB", "QTW20DOC.ODB"},
    {"xandb.twx", "xandb.twx"},
    {"connprobe", "connprobe"},
    {"ctlstore", "ctlstore"},
    {"scriptbind.so", "scriptbind.so"},
    {"libflowsys.so", "libflowsys.so"},
    {"libflowmsg.so", "libflowmsg.so"},
    {"instcon", "instcon"},
    {"instgui", "instgui"},
    {"instgui.exe.so", "instgui.exe.so"},
    {"libflowcore.so", "libflowcore.so"},
    {"ordex.twx", "ordex.twx"},
    {"ordexprobe", "ordexprobe"},
    {"libplexapi.so", "libplexapi.so"},
    {"libnordex.so", "libnordex.so"},
    {"sqlcli.twx", "sqlcli.twx"},
    {"sqlprobe", "sqlprobe"},
    {"oracle.twx", "oracle.twx"},
    {"libora72.so", "libora72.so"},
    {"ociprobe", "ociprobe"},
    {"setup", "setup"},
    {"corvex.twx", "corvex.twx"},
    {"ctprobe", "ctprobe"},
    {"flatrec.twx", "flatrec.twx"},
};

constexpr char kAliasKey[] = "QuenscriptExtensions\\2.0";
constexpr char kAliasName[] = "SCRIPTBIND";
constexpr char kProfileLine[] =
    "[ -f \"$HOME/.config/tarnway/path.sh\" ] && . \"$HOME/.config/tarnway/path.sh\"  # Tarnway";
constexpr char kPathVariable[] = "tarnway_path=";

// Calls visit for every row of the kit's tables, last row first; the server table only for
// a server kit. Stops at the first non-zero answer and returns it.
template <typename Visit>
uint32_t ForEachRow(const SetupContext& ctx, Visit visit) {
  for (size_t i = std::size(kEveryKitFiles); i-- > 0;)
    if (uint32_t st = visit(kEveryKitFiles[i])) return st;
  if (ctx.kitType[0] != '2') return 0;
  for (size_t i = std::size(kServerFiles); i-- > 0;)
    if (uint32_t st = visit(kServerFiles[i])) return st;
  return 0;
}

// The files that the last SetupCopyProgramFiles of this process put where there was none.
std::vector<std::string>& CreatedByCopy() {
  static std::vector<std::string> created;
  return created;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home == '/' ? std::string(home) : std::string();
}

// Points the platform (and so its registry store) at the installation directory when it
// holds another one.
uint32_t UseInstallation(const std::string& dir) {
  if (dir == TWFileExeDir()) return 0;
  std::string anchor = dir + "twmain.ini";
  if (!TWFileExist(anchor.c_str())) {
    anchor.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      if (entry.is_regular_file(ec)) {
        anchor = entry.path().string();
        break;
      }
    }
    if (anchor.empty()) return TWFAIL_REGISTRY_ACCESS;
  }
  // Without its own twmain.ini the directory itself is the installation: no PATH search may
  // find another one.
  std::string path;
  const char* old = std::getenv("PATH");
  if (old != nullptr) path = old;
  ::setenv("PATH", "", 1);
  TWPlatTerm();
  uint32_t st = TWPlatInit(anchor.c_str());
  if (old != nullptr)
    ::setenv("PATH", path.c_str(), 1);
  else
    ::unsetenv("PATH");
  return st;
}

// A shell word that the shell reads back as text exactly.
std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// The text of a word written by ShellQuote; nullopt-like false for anything else.
bool ShellUnquote(std::string_view word, std::string* text) {
  text->clear();
  size_t i = 0;
  while (i < word.size()) {
    if (word[i] == '\'') {
      size_t end = word.find('\'', i + 1);
      if (end == std::string_view::npos) return false;
      text->append(word.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (word.substr(i, 2) == "\\'") {
      *text += '\'';
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

// The directories of the user's PATH snippet ("" when there is none); false when it cannot
// be read or is not one the installer wrote.
bool ReadPathList(const std::string& home, std::string* list) {
  list->clear();
  std::string snippetText;
  switch (Env::Default()->ReadFile(home + "/.config/tarnway/path.sh", &snippetText)) {
    case Env::Read::ok:
      break;
    case Env::Read::missing:
      return true;
    case Env::Read::failed:
      return false;
  }
  size_t at = snippetText.find(std::string("\n") + kPathVariable);
  if (at == std::string::npos) return true;
  size_t start = at + 1 + std::strlen(kPathVariable);
  size_t end = snippetText.find('\n', start);
  return ShellUnquote(std::string_view(snippetText).substr(start, end - start), list);
}

// Writes the snippet that puts list on the PATH; an empty list removes the snippet.
bool WritePathList(const std::string& home, const std::string& list) {
  const std::string snippetDir = home + "/.config/tarnway";
  const std::string snippet = snippetDir + "/path.sh";
  if (list.empty()) {
    std::error_code ec;
    fs::remove(snippet, ec);
    return !ec;
  }
  std::string text = "# Tarnway's installation directories on the PATH, kept by its installer.\n";
  text += kPathVariable + ShellQuote(list) + "\n";
  text +=
      "case \":$PATH:\" in *\":$tarnway_path:\"*) ;; *) PATH=\"${PATH:+$PATH:}$tarnway_path\" ;; "
      "esac\n";
  text += "export PATH\n";
  return TWMkDir(snippetDir.c_str()) && Env::Default()->ReplaceFile(snippet, text);
}

// The directory of the program item's desktop entry; empty without a home.
std::string ProgramItemDir() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/')
    return std::string(xdg) + "/applications/quendal-applications";
  if (std::string home = HomeDir(); !home.empty())
    return home + "/.local/share/applications/quendal-applications";
  return std::string();
}

// A desktop entry's Exec value for one quoted argument.
std::string DesktopExec(std::string_view program) {
  std::string arg = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
    arg += c;
  }
  arg += '"';
  std::string value;
  for (char c : arg) {
    if (c == '\\') value += '\\';  // the desktop file's own escape of a backslash
    if (c == '%') value += '%';
    value += c;
  }
  return value;
}

}  // namespace

std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::string();
  return resolved;
}

uint32_t SetupFindSetupDir(char (&setupDir)[256], const char* programPath) {
  if (programPath == nullptr || *programPath == '\0') return TWFAIL_SETUP_NO_SETUP_DIR;
  std::string dir;
  std::string program = programPath;
  if (program.find('/') != std::string::npos && TWFileExist(program.c_str())) {
    dir = Canonical(program.substr(0, program.rfind('/') + 1));
  } else {
    char found[PATH_MAX] = "";
    if (!TWFindPath("PATH", found, sizeof found, programPath, 1) &&
        !TWFindPath("PATH", found, sizeof found, programPath, 0))
      return TWFAIL_SETUP_NO_SETUP_DIR;
    dir = Canonical(found);
  }
  if (dir.empty() || !SetField(setupDir, WithSlash(dir))) return TWFAIL_SETUP_NO_SETUP_DIR;
  return 0;
}

uint32_t SetupCopyFile(const std::string& source, const std::string& destination,
                       std::string* out) {
  Env::Copy result = Env::Default()->CopyFile(source, destination);
  if (result == Env::Copy::ok) return 0;
  std::string error = ErrorText(errno);
  if (out != nullptr) {
    switch (result) {
      case Env::Copy::same_file:
        *out += "Source and destination are the same file: " + source;
        break;
      case Env::Copy::open_failed:
        *out += "Error opening source file " + source + ": " + error;
        break;
      case Env::Copy::create_failed:
        *out += "Error creating file " + destination + ": " + error;
        break;
      case Env::Copy::read_failed:
        *out += "Error reading file " + source + ": " + error;
        break;
      case Env::Copy::write_failed:
      case Env::Copy::ok:
        *out += "Error writing file " + destination + ": " + error;
        break;
    }
  }
  return TWFAIL_SETUP_COPY_FILES;
}

uint32_t SetupCopyProgramFiles(SetupContext& ctx, std::string& out) {
  CreatedByCopy().clear();
  std::string dir = ctx.installDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      out += "Setup can not access the installation directory (" + dir + "): " + ErrorText(errno);
      return TWFAIL_SETUP_COPY_FILES;
    }
    if (!TWMkDir(dir.c_str())) {
      out += "Could not create installation directory (" + dir + "): " + ErrorText(errno);
      return TWFAIL_SETUP_COPY_FILES;
    }
  } else if (!S_ISDIR(st.st_mode)) {
    out += "Setup can not access the installation directory (" + dir + "): " + ErrorText(ENOTDIR);
    return TWFAIL_SETUP_COPY_FILES;
  }
  const std::string kit = WithSlash(ctx.setupDir);
  const std::string inst = WithSlash(ctx.installDir);
  // Every file is written beside its place under a name of its own first and put in place
  // only when all are written: a copy that fails leaves the installation it would have
  // replaced as it was.
  const std::string staged = ".tw-new-" + std::to_string(::getpid());
  std::vector<std::string> names;
  auto discard = [&] {
    for (const std::string& name : names) (void)::unlink((inst + name + staged).c_str());
  };
  uint32_t result = ForEachRow(ctx, [&](const Row& row) -> uint32_t {
    std::string source = kit + row.installName;
    if (!TWFileExist(source.c_str())) source = kit + row.kitName;
    if (!TWFileExist(source.c_str())) {
      out += std::string("Skipped ") + row.installName + ": not in this kit.\n";
      return 0;
    }
    const std::string destination = inst + row.installName;
    struct stat there {};
    if (::lstat(destination.c_str(), &there) == 0 && S_ISDIR(there.st_mode)) {
      out += "Error writing file " + destination + ": " + ErrorText(EISDIR);
      return TWFAIL_SETUP_COPY_FILES;
    }
    std::string detail;
    if (SetupCopyFile(source, destination + staged, &detail) != 0) {
      // The message names the file the user knows, not its temporary name.
      for (size_t at = detail.find(staged); at != std::string::npos; at = detail.find(staged))
        detail.erase(at, staged.size());
      out += detail;
      return TWFAIL_SETUP_COPY_FILES;
    }
    names.push_back(row.installName);
    return 0;
  });
  if (result != 0) {
    discard();
    return result;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string destination = inst + names[i];
    const bool existed = ::access(destination.c_str(), F_OK) == 0;
    if (::rename((destination + staged).c_str(), destination.c_str()) != 0) {
      out += "Error writing file " + destination + ": " + ErrorText(errno);
      names.erase(names.begin(), names.begin() + static_cast<long>(i));
      discard();
      return TWFAIL_SETUP_COPY_FILES;
    }
    if (!existed) CreatedByCopy().push_back(destination);
  }
  return SetupInstallScriptLink(ctx, out);
}

uint32_t SetupDeleteProgramFiles(SetupContext& ctx, std::string& out) {
  const std::string inst = WithSlash(ctx.installDir);
  int error = 0;
  uint32_t st = ForEachRow(ctx, [&](const Row& row) -> uint32_t {
    std::string path = inst + row.installName;
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
    error = errno;
    return TWFAIL_SETUP_DELETE_FILES;
  });
  if (st != 0) out += Format(Message(TWFAIL_SETUP_DELETE_FILES), ErrorText(error).c_str());
  (void)SetupRemoveScriptLink(ctx, out);
  return st;
}

uint32_t SetupUndoProgramFiles(SetupContext& ctx) {
  const std::string inst = WithSlash(ctx.installDir);
  // Only what the last copy added goes: the files of an installation it replaced stay.
  for (const std::string& path : CreatedByCopy()) (void)::unlink(path.c_str());
  CreatedByCopy().clear();
  std::string ignored;
  (void)SetupRemoveScriptLink(ctx, ignored);
  std::string dir = inst;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // A directory that still holds another installation's files stays.
  if (::rmdir(dir.c_str()) == 0 || errno == ENOTEMPTY || errno == EEXIST || errno == ENOENT)
    return 0;
  return TWFAIL_SETUP_DELETE_FILES;
}

uint32_t SetupInstallScriptLink(SetupContext&, std::string&) {
  return 0;
}
uint32_t SetupRemoveScriptLink(SetupContext&, std::string&) {
  return 0;
}

uint32_t SetupInstallScriptAlias(SetupContext& ctx, std::string& out) {
  const std::string inst = WithSlash(ctx.installDir);
  uint32_t st = UseInstallation(inst);
  if (st == 0) st = TWRegistrySetString(kAliasKey, kAliasName, (inst + "scriptbind.so").c_str());
  if (st != 0) out = Message(st);
  return st;
}

uint32_t SetupRemoveScriptAlias(SetupContext& ctx, std::string& out) {
  uint32_t st = UseInstallation(WithSlash(ctx.installDir));
  if (st == 0) st = TWRegistryRemoveString(kAliasKey, kAliasName);
  if (st != 0) out = Message(st);
  return st;
}

bool SetupPathAppend(std::string& list, std::string_view directory) {
  std::string_view bare = directory;
  while (bare.size() > 1 && bare.back() == '/') bare.remove_suffix(1);
  std::string_view rest = list;
  while (true) {
    size_t colon = rest.find(':');
    std::string_view entry = rest.substr(0, colon);
    while (entry.size() > 1 && entry.back() == '/') entry.remove_suffix(1);
    if (entry == bare) return false;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  if (!list.empty() && list.back() != ':') list += ':';
  list += directory;
  return true;
}

uint32_t SetupUpdateUserPath(const char* directory) {
  if (directory == nullptr || *directory == '\0' || std::strchr(directory, '\n') != nullptr ||
      std::strchr(directory, ':') != nullptr)
    return TWFAIL_REGISTRY_ACCESS;
  const std::string home = HomeDir();
  if (home.empty()) return TWFAIL_REGISTRY_ACCESS;
  Env* env = Env::Default();
  const std::string profile = home + "/.profile";
  std::string profileText;
  switch (env->ReadFile(profile, &profileText)) {
    case Env::Read::ok:
      break;
    case Env::Read::missing:
      return TWFAIL_REGISTRY_MISSING_VALUE;
    case Env::Read::failed:
      return TWFAIL_REGISTRY_ACCESS;
  }
  std::string list;
  if (!ReadPathList(home, &list)) return TWFAIL_REGISTRY_ACCESS;
  if (SetupPathAppend(list, directory) && !WritePathList(home, list)) return TWFAIL_REGISTRY_ACCESS;
  // One line sources the snippet; everything else in the profile stays byte for byte.
  bool sourced = false;
  for (size_t at = profileText.find(kProfileLine); at != std::string::npos;
       at = profileText.find(kProfileLine, at + 1)) {
    size_t end = at + std::strlen(kProfileLine);
    if ((at == 0 || profileText[at - 1] == '\n') &&
        (end == profileText.size() || profileText[end] == '\n')) {
      sourced = true;
      break;
    }
  }
  if (!sourced) {
    std::string updated = profileText;
    if (!updated.empty() && updated.back() != '\n') updated += '\n';
    updated += std::string(kProfileLine) + "\n";
    if (!env->ReplaceFile(profile, updated)) return TWFAIL_REGISTRY_ACCESS;
  }
  return 0;
}

void SetupPathAdvice(const char* directory, std::string& out) {
  out = Format(
      "Please be certain to update your PATH environment variable to include the Tarnway "
      "directory (%s).  ",
      directory);
  out += "You may do this in your shell profile (~/.profile).";
  out += "\nIf you do not make these updates, Tarnway may operate erratically.";
}

uint32_t SetupCreateProgramItem(SetupContext& ctx) {
  const std::string dir = ProgramItemDir();
  if (dir.empty()) return TWFAIL_SETUP_PROGRAM_ITEM;
  std::string program = WithSlash(ctx.installDir) + "twmain";
  if (program.front() != '/' || program.find_first_of("\r\n") != std::string::npos)
    return TWFAIL_SETUP_PROGRAM_ITEM;
  std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Tarnway 2.0\n";
  text += "Exec=" + DesktopExec(program) + "\nTerminal=true\nCategories=System;\n";
  if (!TWMkDir(dir.c_str()) || !Env::Default()->ReplaceFile(dir + "/tarnway-2.0.desktop", text))
    return TWFAIL_SETUP_PROGRAM_ITEM;
  return 0;
}

uint32_t SetupRemoveUserPath(const char* directory) {
  const std::string home = HomeDir();
  if (directory == nullptr || *directory == '\0' || home.empty()) return TWFAIL_REGISTRY_ACCESS;
  std::string list;
  if (!ReadPathList(home, &list)) return TWFAIL_REGISTRY_ACCESS;
  std::string_view bare = directory;
  while (bare.size() > 1 && bare.back() == '/') bare.remove_suffix(1);
  std::string kept;
  bool removed = false;
  for (size_t start = 0; start <= list.size();) {
    size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string_view entry = std::string_view(list).substr(start, colon - start);
    std::string_view entryBare = entry;
    while (entryBare.size() > 1 && entryBare.back() == '/') entryBare.remove_suffix(1);
    if (entryBare == bare) {
      removed = true;
    } else if (!entry.empty()) {
      if (!kept.empty()) kept += ':';
      kept += entry;
    }
    start = colon + 1;
  }
  return !removed || WritePathList(home, kept) ? 0 : TWFAIL_REGISTRY_ACCESS;
}

uint32_t SetupRemoveProgramItem(SetupContext& ctx) {
  const std::string dir = ProgramItemDir();
  if (dir.empty()) return TWFAIL_SETUP_PROGRAM_ITEM;
  const std::string item = dir + "/tarnway-2.0.desktop";
  std::string text;
  switch (Env::Default()->ReadFile(item, &text)) {
    case Env::Read::ok:
      break;
    case Env::Read::missing:
      return 0;
    case Env::Read::failed:
      return TWFAIL_SETUP_PROGRAM_ITEM;
  }
  // Another installation's item stays.
  const std::string exec = "\nExec=" + DesktopExec(WithSlash(ctx.installDir) + "twmain") + "\n";
  if (text.find(exec) == std::string::npos) return 0;
  std::error_code ec;
  fs::remove(item, ec);
  if (ec) return TWFAIL_SETUP_PROGRAM_ITEM;
  // The group goes with its last item; one that holds other items stays.
  if (::rmdir(dir.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST)
    return TWFAIL_SETUP_PROGRAM_ITEM;
  return 0;
}

uint32_t SetupDeleteDirOnExit(const char* directory) {
  if (directory == nullptr || *directory != '/') return TWFAIL_SETUP_DELETE_FILES;
  std::string given = directory;
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  const std::string canonical = Canonical(given);
  // Only the directory itself, by its own name: never through a link, never the root or a
  // directory that holds the user's home.
  if (canonical.empty() || canonical != given || canonical == "/") return TWFAIL_SETUP_DELETE_FILES;
  const std::string home = Canonical(HomeDir().empty() ? "/" : HomeDir());
  if (!home.empty() && (home == canonical || home.rfind(canonical + "/", 0) == 0))
    return TWFAIL_SETUP_DELETE_FILES;
  std::error_code ec;
  fs::remove_all(canonical, ec);
  return ec ? TWFAIL_SETUP_DELETE_FILES : 0;
}

}  // namespace tw::install
