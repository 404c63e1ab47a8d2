// The windowed installer's wizard without its windows: which page follows which for every
// task, the check that guards each page, the detection of an existing or Beta installation,
// and the texts built from the answers. The Win32 wizard hands its controls to this code
// through WizardView, so the same roads run in plain tests and behind real dialogs.
//
// Everything runs on the installer's one thread. Answers reach SetupContext only when they
// fit their fields: a value that does not fit is refused with a message, never cut.
#ifndef TW_INSTALL_GUI_PAGE_FLOW_H_
#define TW_INSTALL_GUI_PAGE_FLOW_H_

#include <cstdint>
#include <string>

#include "setup_context.h"
#include "setup_wizard.h"

namespace tw::install::gui {

enum class WizardRun { install, remove, migrate, upgrade };

// The wizard's own state beside SetupContext (the wizard keeps it in its fields).
struct WizardState {
  int currentPage = kPageWelcome;
  int kit = kKitNone;
  bool installationFound = false;
  std::string kitWord;  // "Server" or "Client"
  int keyMatch = 0;     // letters of the credits key word typed so far on page 0
};

// What the wizard's window offers to the flow: its controls by id.
class WizardView {
 public:
  virtual ~WizardView() = default;
  virtual std::string Text(long id) = 0;
  virtual void SetText(long id, const std::string& text) = 0;
  virtual bool Checked(long id) = 0;  // a check box
  virtual void SetChecked(long id, bool on) = 0;
  virtual void Enable(long id, bool on) = 0;
  // The id of the selected radio button of group, -1 when none is.
  virtual long Selected(long group) = 0;
  virtual void MakeProgressReadOnly() = 0;
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
  bool Select(long id);
  // A key typed: counts towards the credits key word on page 0; never handled.
  bool KeyTyped(int key);

  [[nodiscard]] bool ValidateClusterPage();
  [[nodiscard]] bool ValidateMigrationPage();
  [[nodiscard]] bool ValidateSnmpPage();
  [[nodiscard]] bool ValidateTranslationPage();
  // The directory page's check; fills installDir (ending in "/") when it passes.
  [[nodiscard]] bool ValidateDirectoryPage();
  void PrepareFieldPage(long choice);

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
  // The error box for a database that cannot be opened: message with file, and the reason.
  bool FailUnusable(uint32_t message, const char* file, uint32_t status);
  void Previous();
  bool Go(WizardRun run);
  bool Fail(const std::string& text);
  // The digit of the radio button chosen in group ("0" for first, "1", "2") into field;
  // refused with complaint when none is chosen.
  bool TakeDigit(long group, long first, char (&field)[256], const char* complaint);

  WizardView& view_;
  SetupContext& ctx_;
  WizardState& state_;
};

// True when setupDir (ending in "/") cannot hold a twmain.ini: the file is not there to be
// read and one cannot be created (a trial file is created and removed again).
[[nodiscard]] bool SetupDirIsReadOnly(const std::string& setupDir);
// The installation directory to offer: setupDir unless it is read-only, else the
// fallback.
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

#endif  // TW_INSTALL_GUI_PAGE_FLOW_H_
