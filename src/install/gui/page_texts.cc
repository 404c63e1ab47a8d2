// The texts the wizard builds from the answers: summary, removal warning and confirmation,
// system settings, and the offers of a member removal, a Beta upgrade and a migration.
#include <filesystem>
#include <string>
#include <system_error>

#include "page_flow.h"

namespace tw::install::gui {
namespace {

constexpr char kIndent[] = "      ";
constexpr char kClusterWarning[] =
    "WARNING:  This action can not be undone -- all activities and links stored "
    "in the Administrator Database will be lost.  Do not use this option if other "
    "Tarnway servers will continue to use this same Tarnway Administrator.";

std::string MemberRemoval(const std::string& kitWord) {
  return "You have elected to remove this " + kitWord + " from the Tarnway Cluster.  The " +
         kitWord + " will be marked as 'disabled' in the Administrator database.";
}

}  // namespace

std::string SummaryText(const SetupContext& ctx, const WizardState& state, bool systemSettings) {
  std::string t;
  if (state.kit == kKitClient)
    t = "You are about to create a new Tarnway Development Client in an existing Cluster.";
  else if (ctx.existingCluster == 0)
    t = "You are about to create a new Tarnway Cluster and Server.";
  else
    t = "You are about to create a new Tarnway Server in an existing Cluster.";
  t += " Please review the information below and confirm it is correct.  If you want "
       "to change any of the values, click Previous to modify the desired value.";
  t += std::string(" You may wish to confirm that the Ordex Server '") + ctx.adminServer +
       "' is running before proceeding.";
  t += std::string("\n\nTarnway Installation Directory:  ") + ctx.installDir;
  std::string dir = ctx.installDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(dir, ec)))
    t += " (directory does not exist - it will be created)";
  t += "\n";
  t += "Tarnway " + state.kitWord + " Name:  " + ctx.memberName + "\n";
  t += std::string("Ordex Server Name:  ") + ctx.adminServer + "\n";
  t += std::string("Administrator Database Filename:  ") + ctx.adminDatabase + "\n";
  if (ctx.existingCluster == 0) t += std::string("Log Database Filename:  ") + ctx.logDatabase + "\n";
  if (ctx.createVault)
    t += std::string("Script Vault Database Filename:  ") + ctx.vaultDatabase + "\n";
  if (ctx.installDocDatabase)
    t += std::string("Documentation Database Filename:  ") + ctx.docDatabase + "\n";
  const std::string translate = ctx.translateMode, snmp = ctx.snmpMode;
  t += "International Text Translation: " +
       std::string(translate == "1" ? "QMBCS Only" : translate == "2" ? "Enabled" : "Disabled");
  if (state.kit != kKitClient)
    t += "\nSNMP Support: " +
         std::string(snmp == "1" ? "Query Only" : snmp == "2" ? "Full (Get and Set)" : "None");
  if (ctx.migrateRelease1)
    t += std::string("\n\nUpgrade from V1 Administrator Database '") + ctx.release1Database +
         "'\n" + kIndent + "located on the Ordex Server '" + ctx.release1Server + "'";
  if (systemSettings) t += "\n\nSetup will update your environment for use with Tarnway.";
  return t;
}

std::string RemoveWarningText(const SetupContext& ctx, const WizardState& state) {
  if (ctx.existingCluster != 0) return MemberRemoval(state.kitWord);
  return std::string(
             "You have elected to remove the entire Tarnway Cluster.  Setup will delete the "
             "Administrator and Log databases from the Ordex server.\n\n") +
         kClusterWarning + "\n\n";
}

std::string RemoveConfirmationText(const SetupContext& ctx, const WizardState& state,
                                   bool deleteFiles) {
  std::string t;
  if (ctx.existingCluster == 0) {
    t = "You have elected to remove the entire Tarnway Cluster.  Setup will delete the "
        "following databases from the Ordex server:\n";
    for (const char* db : {"Tarnway Administrator Database\n", "Tarnway Log Database\n",
                           "Tarnway Agent Vault Database (if installed)\n",
                           "Tarnway Documentation Database (if installed)\n"})
      t += std::string(kIndent) + db;
    t += std::string("\n\n") + kClusterWarning;
  } else {
    t = MemberRemoval(state.kitWord);
  }
  t += std::string("\n\nYou have also elected to ") + (deleteFiles ? "DELETE " : "keep ") +
       "the installation files.\n\n\nClick Next to perform the Uninstall operation.";
  return t;
}

std::string SystemSettingsText(const WizardState& state) {
  std::string t =
      "If you choose this option, setup will modify the PATH environment variable to include "
      "the Tarnway directory.  ";
  if (state.kit != kKitClient)
    t += "Setup will also create a Tarnway Icon in the Program Manager group 'Quendal "
         "Applications'.  ";
  return t;
}

std::string RemoveMemberChoiceText(const std::string& kitWord) {
  return "Remove this Tarnway " + kitWord + " from the Cluster\r\n" + kIndent +
         "Use this option if you want to remove this " + kitWord + " but leave the rest of the\r\n" +
         kIndent + "Cluster installed.";
}

std::string BetaUpgradeText(const std::string& installDir) {
  return "Setup has detected a Tarnway 2.0 Beta installation.  Do you want to upgrade the "
         "installation to Tarnway 2.00 Release?  If you choose to upgrade, setup will "
         "upgrade the software located in " +
         installDir +
         " and will verify that the Administrator Database is up-to-date.\n\n"
         "Select Next to perform the Upgrade operation.\n\n"
         "If you do not want to upgrade in this manner, select Quit.  You may then run the "
         "current setup program that is located in your Tarnway installation directory to "
         "first remove or inactivate that installation, and then install the new Tarnway "
         "2.00 Release.";
}

std::string MigrationText(const SetupContext& ctx) {
  return std::string(
             "This operation will copy the contents of the Tarnway Release 1 Administrator "
             "database '") +
         ctx.release1Database + "' from the Ordex Server '" + ctx.release1Server +
         "', upgrading it to the Release 2 format "
         "and storing it in the existing Tarnway Release 2 Administrator database '" +
         ctx.adminDatabase + "' on the Ordex Server '" + ctx.adminServer +
         "'.\n\n "
         "Before executing this operation, please be certain that all Tarnway Servers using "
         "this Release 2 Administrator database are shutdown.  Once the upgrade has been "
         "completed, you will then have to execute the Ordex Agent 'Refresh All Documents' "
         "from the Ordex client.  This is done by opening the Tarnway Administrator "
         "database from Ordex and selecting the action 'Refresh All Documents' from the "
         "'Actions' pulldown menu.\n\nSelect Next to perform this Upgrade operation.\n\n";
}

std::string InvalidIniText() {
  return "Setup has detected an invalid twmain.ini file.\nIf you cannot correct this "
         "situation, please contact technical support.";
}

// ---------------------------------------------------------------- into the labels ----

void WizardFlow::BuildSummary() {
  view_.SetText(kIdSummaryText, SummaryText(ctx_, state_, view_.Checked(kIdSystemSettings)));
}

void WizardFlow::BuildRemoveWarning() {
  view_.SetText(kIdRemoveWarningText, RemoveWarningText(ctx_, state_));
}

void WizardFlow::BuildRemoveConfirmation() {
  view_.SetText(kIdRemoveConfirmText, RemoveConfirmationText(ctx_, state_, ctx_.deleteFiles));
}

void WizardFlow::SetSystemSettingsText() {
  view_.SetText(kIdSystemSettingsText, SystemSettingsText(state_));
}

}  // namespace tw::install::gui
