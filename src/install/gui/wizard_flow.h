// The windowed installer's wizard without its windows: which page follows which for every
// task, the check that guards each page, the detection of an existing or Beta installation,
// and the texts built from the answers. The Win32 wizard hands its controls to this code
// through WizardView, so the same roads run in plain tests and behind real dialogs.
//
// Everything runs on the installer's one thread. Answers reach SetupContext only when they
// fit their fields: a value that does not fit is refused with a message, never cut.
#ifndef TW_INSTALL_GUI_WIZARD_FLOW_H_
#define TW_INSTALL_GUI_WIZARD_FLOW_H_

#include <cstdint>
#include <string>

#include "setup_context.h"

namespace tw::install::gui {

// Ids of the wizard's controls. Radio buttons live inside their group and are told apart
// from the dialog's own ids by the group they are asked through.
enum WizardId : int {
  kPrevious = 100,
  kNext = 101,
  kQuit = 102,
  kDirectoryEditor = 106,
  kNewCluster = 107,
  kAdditionalServer = 109,
  kSummaryLabel = 111,
  kLogLabel = 114,
  kMemberEditor = 115,
  kAdminServerEditor = 116,
  kAdminDatabaseEditor = 117,
  kLogEditor = 118,
  kMemberLabel = 119,
  kSnmpGroup = 125,
  kSnmpNone = 119,
  kSnmpQuery = 120,
  kSnmpFull = 121,
  kTranslationGroup = 126,
  kTranslationDisabled = 122,
  kTranslationQmbcs = 123,
  kTranslationEnabled = 124,
  kProgressEditor = 127,
  kRemoveCluster = 130,
  kRemoveMember = 132,
  kRemoveMemberLabel = 133,
  kRemoveWarningLabel = 135,
  kProgramFilesGroup = 136,
  kDeleteProgramFiles = 137,
  kKeepProgramFiles = 138,
  kDocLabel = 139,
  kDocEditor = 140,
  kDocCheck = 142,
  kClient = 143,
  kVaultCheck = 145,
  kVaultEditor = 147,
  kVaultLabel = 149,
  kRemoveConfirmationLabel = 150,
  kRelease1Title = 153,
  kRelease1ServerLabel = 154,
  kRelease1DatabaseLabel = 155,
  kRelease1ServerEditor = 156,
  kRelease1DatabaseEditor = 157,
  kMigrateCheck = 158,
  kSystemSettingsCheck = 160,
  kSystemSettingsLabel = 161,
  kMigrateRelease1 = 165,
  kBetaLabel = 167,
};

// The wizard's pages.
enum WizardPage : int {
  kWelcomePage = 0,
  kChoicePage = 1,
  kClusterPage = 2,
  kMigrationPage = 3,
  kSnmpPage = 4,
  kTranslationPage = 5,
  kDirectoryPage = 6,
  kSummaryPage = 7,
  kProgressPage = 8,
  kRemoveChoicePage = 9,
  kRemoveWarningPage = 10,
  kRemoveConfirmationPage = 11,
  kTermsPage = 12,
  kBetaPage = 13,
};

// The tasks (SetupContext::wizardKind).
enum WizardKind : int32_t {
  kInstallServer = 1,
  kInstallClient = 2,
  kRemove = 4,
  kMigrate = 9,
  kBetaUpgrade = 10,
};

enum class WizardRun { install, remove, migrate, upgrade };

// Texts of the Next button.
inline constexpr char kNextText[] = "Next  >";
inline constexpr char kAcceptText[] = "I ACCEPT";

// The wizard's own state beside SetupContext.
struct WizardState {
  int currentPage = kWelcomePage;
  int kit = 0;  // 2 server, 1 development client, 0 not chosen yet
  bool installationFound = false;
  std::string kitWord;  // "Server" or "Client"
  int keyMatch = 0;     // letters of the credits key word typed so far on page 0
  // Set when Next leaves the removal warning page: only then may a removal run, and only
  // with the choice made there.
  bool removalConfirmed = false;
};

// What the wizard's window offers to the flow: its controls by id.
class WizardView {
 public:
  virtual ~WizardView() = default;
  virtual std::string Text(int id) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual bool Checked(int id) = 0;  // a check box
  virtual void SetChecked(int id, bool on) = 0;
  virtual void Enable(int id, bool on) = 0;
  // The id of the selected radio button of group, 0 when none is.
  virtual int Selected(int group) = 0;
  virtual void SetReadOnly(int id) = 0;
  virtual void SetMemberPicture(bool client) = 0;  // button 132
  virtual void ErrorBox(const std::string& text) = 0;
  virtual void Quit() = 0;  // asks the application to quit
  virtual void OpenCredits() = 0;
  virtual void ShowPage(int page) = 0;
  virtual void FlushEvents() = 0;
  virtual void StartRun(WizardRun run) = 0;
};

class WizardFlow {
 public:
  WizardFlow(WizardView& view, SetupContext& ctx, WizardState& state)
      : view_(view), ctx_(ctx), state_(state) {}

  // A selection of control id: true when handled (the page shown follows currentPage).
  bool Select(int id);
  // A key typed: counts towards the credits key word on page 0; never handled.
  bool KeyTyped(int key);

  [[nodiscard]] bool ValidateClusterPage();
  [[nodiscard]] bool ValidateMigrationPage();
  [[nodiscard]] bool ValidateSnmpPage();
  [[nodiscard]] bool ValidateTranslationPage();
  // The directory page's check; fills installDir (ending in "/") when it passes.
  [[nodiscard]] bool ValidateDirectoryPage();
  void PrepareFieldPage(int choice);

  // Reads ini's KitType: false (after the error box and the quit request) when the file is
  // there but unusable; the record and the state stay as they were then.
  bool DetectInstallation(const std::string& ini);
  void CheckBetaInstallation(const std::string& ini);

  void BuildSummary();
  void BuildRemoveWarning();
  void BuildRemoveConfirmation();
  void SetSystemSettingsText();

 private:
  bool Next();  // true when a run has started
  void Previous();
  bool Go(WizardRun run);
  bool Fail(const std::string& text);

  WizardView& view_;
  SetupContext& ctx_;
  WizardState& state_;
};

// True when setupDir (ending in "/") cannot hold a twmain.ini: the file is not there to be
// read and one cannot be created (a trial file is created and removed again).
[[nodiscard]] bool SetupDirIsReadOnly(const std::string& setupDir);
// The installation directory to offer: setupDir unless it is read-only, else the
// fallback under the user's home.
std::string DefaultInstallDir(const std::string& setupDir);

// The texts built from the answers, as the flow puts them into their labels.
std::string SummaryText(const SetupContext& ctx, const WizardState& state, bool systemSettings);
std::string RemoveWarningText(const SetupContext& ctx, const WizardState& state);
std::string RemoveConfirmationText(const SetupContext& ctx, const WizardState& state,
                                   bool deleteFiles);
std::string SystemSettingsText(const WizardState& state);
std::string RemoveMemberChoiceText(const std::string& kitWord);
std::string BetaUpgradeText(const std::string& installDir);
// What a Release 1 migration into the Administrator of ctx will do.
std::string MigrationText(const SetupContext& ctx);
std::string InvalidIniText();

}  // namespace tw::install::gui

#endif  // TW_INSTALL_GUI_WIZARD_FLOW_H_
