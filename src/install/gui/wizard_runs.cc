// The wizard's action runs (install, remove, Beta upgrade, Release 1 migration) and the
// program's entry. Each run calls the install library in a fixed order, shows what the
// library reports on the progress page and keeps the window alive between the calls.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install_util.h"
#include "platform.h"
#include "setup_wizard.h"
#include "twcl/ui/win32/native.h"

namespace tw::install::gui {
namespace {

constexpr char kLaunchCode[] = "QUILBOX";
constexpr char kDone[] = "Done.";

// True when the user's environment named the Ordex data root: the runs then leave it alone.
bool g_rootGiven = false;

// The installation's databases live under its own data root unless the user gave one: the
// session is reopened over installDir's root before the run touches a database.
[[nodiscard]] bool UseDataRootOf(const SetupContext& ctx, std::string& out) {
  if (g_rootGiven) return true;
  std::string root = std::string(ctx.installDir) + "ordex";
  if (const char* now = std::getenv("PLEXA_ROOT"); now && root == now) return true;
  ::setenv("PLEXA_ROOT", root.c_str(), 1);
  (void)SetupPlexaTerm();
  return SetupPlexaInit(out) == 0;
}

std::string SameDir(const char* a, const char* b) {
  std::string ca = Canonical(a), cb = Canonical(b);
  return !ca.empty() && WithSlash(ca) == WithSlash(cb) ? WithSlash(cb) : std::string();
}

}  // namespace

template <class F>
auto SetupWizard::Step(F call) {
  UI_Controller& c = UI_Controller::Instance();
  c.WaitCursor(true);
  c.FlushEvents();
  auto result = call();
  c.WaitCursor(false);
  c.FlushEvents();
  return result;
}

void SetupWizard::SetButtons(bool previous, bool next, bool quit) {
  EnableControl(kIdPrevious, previous);
  EnableControl(kIdNext, next);
  EnableControl(kIdQuit, quit);
}

void SetupWizard::BeginRun() {
  SetButtons(false, false, false);
  SetText(kIdProgress, "");
}

void SetupWizard::EndRun() {
  EnableControl(kIdQuit, true);
}

SetupWizard::KitCopy SetupWizard::CopyKit(bool undoOnFailure) {
  // A directory already at its field's limit has no room for the "/": refused, not cut.
  if (ctx_.installDir[0] != '/' || !EndWithSlash(ctx_.installDir) || !EndWithSlash(ctx_.setupDir)) {
    AppendProgress(std::string("The installation directory must be an absolute path of at most ") +
                   std::to_string(sizeof ctx_.installDir - 2) + " characters: " + ctx_.installDir);
    ShowRetryHint();
    return KitCopy::failed;
  }
  if (std::string kitDir = SameDir(ctx_.installDir, ctx_.setupDir); !kitDir.empty()) {
    // Another spelling of the kit's own directory is the kit: copying onto itself would
    // truncate the files it reads.
    (void)SetField(ctx_.installDir, kitDir);
    return KitCopy::none;
  }
  AppendProgress("Please wait while setup copies the program files.  ");
  std::string text;
  if (Step([&] { return SetupCopyProgramFiles(ctx_, text); }) != 0) {
    AppendProgress(std::string("Operation failed to install the program files to ") +
                   ctx_.installDir + ".");
    AppendProgress(text);
    ShowRetryHint();
    if (undoOnFailure) (void)SetupUndoProgramFiles(ctx_);
    return KitCopy::failed;
  }
  AppendProgress(text);
  AppendProgress(kDone);
  (void)SetField(ctx_.setupDir, ctx_.installDir);
  return KitCopy::copied;
}

void SetupWizard::RunInstall() {
  BeginRun();
  const std::string word = kitWord.AsPtr();
  (void)SetField(ctx_.kitType, kit == kKitClient ? "1" : "2");
  const KitCopy copy = CopyKit(true);
  if (copy == KitCopy::failed) return EndRun();
  const bool copied = copy == KitCopy::copied;

  std::string text;
  if (!UseDataRootOf(ctx_, text)) {
    AppendProgress(text);
    AppendProgress("Operation failed.");
    if (copied) (void)SetupUndoProgramFiles(ctx_);
    ShowRetryHint();
    return EndRun();
  }
  if (ctx_.existingCluster == 0)
    AppendProgress(ctx_.createVault ? "Creating Administrator, Log and Script Vault databases.  "
                                    : "Creating Administrator and Log databases.  ");
  else
    AppendProgress("Adding " + word + " to Administrator database.  ");
  text.clear();
  if (Step([&] { return SetupCreateCluster(ctx_, text); }) != 0) {
    AppendProgress(text);
    AppendProgress("Operation failed.");
    if (copied) {
      // Nothing of a failed installation stays behind: the kit copied for it goes too.
      (void)SetupUndoProgramFiles(ctx_);
      AppendProgress(ctx_.existingCluster
                         ? "Setup failed to add this Tarnway " + word +
                               " to the Tarnway cluster; the copied program files were removed."
                         : std::string("Setup failed to create a new Tarnway cluster; the copied "
                                       "program files were removed."));
    }
    ShowRetryHint();
    return EndRun();
  }
  AppendProgress(text);
  AppendProgress(kDone);

  if (ctx_.installDocDatabase == 1) {
    AppendProgress("Installing Tarnway User's Guide.  ");
    text.clear();
    if (Step([&] { return SetupInstallDocDatabase(ctx_, text); }) != 0) {
      AppendProgress(text);
      AppendProgress("You may create this database by hand or during a future install.  ");
      AppendProgress("Please refer to the documentation for further details.");
      AppendProgress("Installation continues.");
    } else {
      AppendProgress(kDone);
    }
  }

  const bool migrate =
      ctx_.existingCluster == 0 && ctx_.migrateRelease1 && PageSeen(kPageMigration);
  if (migrate) {
    AppendProgress("Inserting contents of Tarnway Release 1 Administrator Database.  ");
    text.clear();
    std::string notes;
    if (Step([&] { return SetupMigrateRelease1(ctx_, text, notes); }) != 0) {
      AppendProgress(text);
      AppendProgress(notes);
      AppendProgress("The upgrade did not succeed.  You may try to correct the error and retry ");
      AppendProgress("the upgrade operation by running the command:");
      AppendProgress(std::string("'setup   UPGRADEADMIN   ADMINSERVER=\"") + ctx_.adminServer +
                     "\"   ADMINDATABASE=\"" + ctx_.adminDatabase + "\"   V1ADMINSERVER=\"" +
                     ctx_.release1Server + "\"   V1ADMINDATABASE=\"" + ctx_.release1Database +
                     "\"");
    } else {
      AppendProgress(notes);
      AppendProgress(kDone);
    }
  }

  AppendProgress("Adding Tarnway QSX Alias.  ");
  text.clear();
  if (Step([&] { return SetupInstallScriptAlias(ctx_, text); }) != 0) {
    AppendProgress("Could not install Alias.");
    AppendProgress(text);
    AppendProgress("This is not a severe error - however it must be resolved before this ");
    AppendProgress("Tarnway " + word + " may execute Quenscript using the Tarnway ");
    AppendProgress("alias 'SCRIPTBIND'.");
    AppendProgress("You may wish to retry this operation by running the command:");
    AppendProgress("'setup INSTALLQSXALIAS'");
  } else {
    AppendProgress(kDone);
  }

  bool pathUpdated = false;
  if (Checked(kIdSystemSettings) && PageSeen(kPageDirectory)) {
    AppendProgress("Updating environment variables.  ");
    if (Step([&] { return SetupUpdateUserPath(ctx_.installDir); }) == 0) {
      pathUpdated = true;
      AppendProgress(kDone);
      AppendProgress(
          "Note: a new login shell reads ~/.profile; log out and back in (or source it) "
          "before starting Tarnway.");
    } else {
      AppendProgress("Setup failed to update the environment.  You must do this yourself.");
    }
    if (kit != kKitClient) {
      AppendProgress("Creating Tarnway Icon in the Program Manager.  ");
      AppendProgress(Step([&] { return SetupCreateProgramItem(ctx_); }) == 0
                         ? kDone
                         : "Setup failed to create Program Item - you may do this by hand.");
    }
  }
  if (!pathUpdated) {
    std::string advice;
    SetupPathAdvice(ctx_.installDir, advice);
    AppendProgress(advice);
  }
  AppendProgress("Congratulations!  You have successfully installed Tarnway.");
  AppendProgress("This finishes the Tarnway setup procedure. ");
  if (migrate) {
    AppendProgress(
        "Before starting Tarnway, please be certain to execute the 'Refresh All Documents' ");
    AppendProgress(
        "Agent from the Ordex client.  This is done by opening the Tarnway Administrator ");
    AppendProgress(
        "database from Ordex and selecting the action 'Refresh All Documents' from the ");
    AppendProgress("'Actions' pulldown menu.");
  }
  EndRun();
}

void SetupWizard::RunRemove() {
  BeginRun();
  ShowPage(currentPage);
  const std::string word = kitWord.AsPtr();
  if (ctx_.existingCluster == 0)
    AppendProgress(
        "Please wait while setup deletes the Administrator, Log, Agent Vault and Documentation "
        "Databases.  ");
  else
    AppendProgress("Please wait while setup disables the " + word +
                   " in the Administrator database.  ");
  std::string text;
  if (!UseDataRootOf(ctx_, text)) {
    AppendProgress(text);
    AppendProgress("Operation failed.");
    ShowRetryHint();
    return EndRun();
  }
  uint32_t st = Step([&] { return SetupRemove(ctx_, text); });
  AppendProgress(text);
  if (st == 0) {
    AppendProgress(kDone);
  } else if (st != TWFAIL_SETUP_REMOVE_PARTIAL) {
    AppendProgress("Operation failed.");
    ShowRetryHint();
    return EndRun();
  }

  AppendProgress("Please wait while setup removes the Tarnway QSX Alias.  ");
  text.clear();
  if (Step([&] { return SetupRemoveScriptAlias(ctx_, text); }) != 0) {
    AppendProgress("Failed to remove Alias.");
    AppendProgress(text);
  } else {
    AppendProgress(kDone);
  }

  // Deleting the program files takes the user's answer on the warning page, and only when
  // that page was shown for this removal: a default nobody saw is no consent.
  auto* files = dynamic_cast<UI_ExOrButtonGroup*>(FindChild(kIdProgramFilesGroup));
  ctx_.deleteFiles = PageSeen(kPageRemoveWarning) && PageSeen(kPageRemoveConfirm) && files &&
                             files->Selection().Value() == kIdDeleteFiles
                         ? 1
                         : 0;
  if (ctx_.deleteFiles) {
    AppendProgress("Please wait while setup deletes the Tarnway Program Files.  ");
    text.clear();
    if (Step([&] { return SetupDeleteProgramFiles(ctx_, text); }) != 0) {
      AppendProgress(text);
      AppendProgress("Unable to remove all program files.  Setup will attempt to delete the ");
      AppendProgress("remaining files and Tarnway directory upon exiting.");
    } else {
      AppendProgress(kDone);
    }
  }
  if (ctx_.deleteFiles) {
    // With its files the installation leaves the user's PATH and its program item.
    AppendProgress("Please wait while setup removes Tarnway from your environment.  ");
    const bool path = Step([&] { return SetupRemoveUserPath(ctx_.installDir); }) == 0;
    const bool item = SetupRemoveProgramItem(ctx_) == 0;
    AppendProgress(path && item ? kDone
                                : "Setup could not update your environment.  Please remove the "
                                  "Tarnway directory from your PATH yourself.");
  }
  AppendProgress("Tarnway has been removed.");
  EndRun();
}

void SetupWizard::RunBetaUpgrade() {
  BeginRun();
  // The kit type is the installation's own (read from its twmain.ini): a server's upgrade
  // copies the server's files as well as the client's.
  if (ctx_.kitType[0] != '1' && ctx_.kitType[0] != '2') (void)SetField(ctx_.kitType, "2");
  kit = ctx_.kitType[0] == '1' ? kKitClient : kKitServer;
  // A failed copy of an upgrade is not undone: the files it replaced are gone already.
  if (CopyKit(false) == KitCopy::failed) return EndRun();
  AppendProgress(
      "Please wait while setup updates the initialization file and Administrator Database.  ");
  std::string text;
  if (!UseDataRootOf(ctx_, text) ||
      Step([&] { return SetupUpgradeAdministrator(ctx_, text); }) != 0) {
    AppendProgress(text);
    ShowRetryHint();
    return EndRun();
  }
  AppendProgress(kDone);
  AppendProgress("Upgrade completed successfully.");
  EndRun();
}

void SetupWizard::RunMigration() {
  BeginRun();
  AppendProgress("Inserting contents of Tarnway Release 1 Administrator Database.  ");
  std::string text, notes;
  if (!UseDataRootOf(ctx_, text) ||
      Step([&] { return SetupMigrateRelease1(ctx_, text, notes); }) != 0) {
    AppendProgress(text);
    AppendProgress(notes);
    AppendProgress("The upgrade did not succeed.");
    ShowRetryHint();
    return EndRun();
  }
  AppendProgress(notes);
  AppendProgress(kDone);
  AppendProgress("Upgrade completed successfully.");
  AppendProgress(
      "Before starting Tarnway, please be certain to execute the 'Refresh All Documents' ");
  AppendProgress(
      "Agent from the Ordex client.  This is done by opening the Tarnway Administrator ");
  AppendProgress("database from Ordex and selecting the action 'Refresh All Documents' from the ");
  AppendProgress("'Actions' pulldown menu.");
  EndRun();
}

// ---------------------------------------------------------------- entry -------------------

[[noreturn]] void SetupErrorBox(const std::string& text) {
  MessageBoxW(nullptr, twui::Wide(text.c_str()).c_str(), L"Setup Error",
              MB_OK | MB_ICONHAND | MB_TASKMODAL);
  std::exit(0);
}

int SetupRunWizard(SetupContext& ctx) {
  // The wizard is owned here alone and freed once, after its window and the loop are done.
  auto wizard = std::make_unique<SetupWizard>(ctx);
  UI_Application* app = UI_Application::Instance();
  if (app && !UI_Controller::Instance().QuitPosted()) (void)app->Run(wizard.get());
  wizard.reset();
  return 0;
}

int WindowedSetupMain(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  // The program's own file: under Winelib the process image is Wine's loader, so the
  // module is asked where it was loaded from.
  Dl_info info{};
  std::string module;
  if (dladdr(reinterpret_cast<void*>(&WindowedSetupMain), &info) != 0 && info.dli_fname)
    module = info.dli_fname;
  if (args.size() != 2 || args[1] != kLaunchCode) return 0;

  static SetupContext ctx{};
  if (uint32_t st = TWPlatInit(module.c_str())) SetupErrorBox(Message(st));
  if (uint32_t st = SetupFindSetupDir(ctx.setupDir, module.c_str())) SetupErrorBox(Message(st));
  g_rootGiven = std::getenv("PLEXA_ROOT") && *std::getenv("PLEXA_ROOT");
  if (!g_rootGiven) ::setenv("PLEXA_ROOT", (std::string(TWFileExeDir()) + "ordex").c_str(), 1);
  std::unique_ptr<UI_Application> app;
  if (!UI_Application::Instance()) app = std::make_unique<UI_Application>("instgui");
  std::string text;
  if (SetupPlexaInit(text) != 0) SetupErrorBox(text);
  (void)SetupRunWizard(ctx);
  app.reset();
  (void)SetupPlexaTerm();
  const std::string dir = ctx.installDir;
  (void)TWPlatTerm();
  if (ctx.deleteFiles) (void)SetupDeleteDirOnExit(dir.c_str());
  return 0;
}

}  // namespace tw::install::gui
