// The windowed installer's wizard: one modal dialog with fourteen pages of controls (only
// one page visible at a time) and three buttons that stay on every page. It collects the
// user's answers into the install context and runs the install, removal, Beta upgrade and
// Release 1 migration, writing their progress into the progress page.
//
// Everything here runs on the installer's one thread, inside the controller's event loop.
// This header is plain C++ (no Win32 header), so portable code and tests can name the ids.
#ifndef TW_INSTALL_GUI_SETUP_WIZARD_H_
#define TW_INSTALL_GUI_SETUP_WIZARD_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "setup_context.h"
#include "twcl/ui/composite.h"
#include "twcl/ui/controls.h"

namespace tw::install::gui {

// Pages, by number.
enum WizardPageNumber : int {
  kPageWelcome = 0,
  kPageInstallChoice = 1,
  kPageCluster = 2,
  kPageMigration = 3,
  kPageSnmp = 4,
  kPageTranslation = 5,
  kPageDirectory = 6,
  kPageSummary = 7,
  kPageProgress = 8,
  kPageRemoveChoice = 9,
  kPageRemoveWarning = 10,
  kPageRemoveConfirm = 11,
  kPageClientTerms = 12,
  kPageBetaUpgrade = 13,
  kPageCount = 14
};

// Control ids. Ids inside a button group are the group's own: radio buttons 119-121 do not
// clash with label 119.
enum WizardControlId : long {
  kIdPrevious = 100,
  kIdNext = 101,
  kIdQuit = 102,
  kIdWelcomeText = 103,
  kIdDirectoryHelp = 104,
  kIdDirectoryLabel = 105,
  kIdDirectory = 106,
  kIdNewCluster = 107,
  kIdNewClusterText = 108,
  kIdAddServer = 109,
  kIdAddServerText = 110,
  kIdSummaryText = 111,
  kIdAdminServerLabel = 112,
  kIdAdminDatabaseLabel = 113,
  kIdLogDatabaseLabel = 114,
  kIdMemberName = 115,
  kIdAdminServer = 116,
  kIdAdminDatabase = 117,
  kIdLogDatabase = 118,
  kIdMemberNameLabel = 119,
  kIdSnmpNone = 119,
  kIdSnmpQuery = 120,
  kIdSnmpFull = 121,
  kIdTranslateOff = 122,
  kIdTranslateQmbcs = 123,
  kIdTranslateOn = 124,
  kIdSnmpGroup = 125,
  kIdTranslateGroup = 126,
  kIdProgress = 127,
  kIdRemoveCluster = 130,
  kIdRemoveClusterText = 131,
  kIdRemoveMember = 132,
  kIdRemoveMemberText = 133,
  kIdTranslateHelp = 134,
  kIdRemoveWarningText = 135,
  kIdProgramFilesGroup = 136,
  kIdDeleteFiles = 137,
  kIdKeepFiles = 138,
  kIdDocDatabaseLabel = 139,
  kIdDocDatabase = 140,
  kIdInstallDocs = 142,
  kIdAddClient = 143,
  kIdAddClientText = 144,
  kIdCreateVault = 145,
  kIdVaultDatabase = 147,
  kIdVaultDatabaseLabel = 149,
  kIdRemoveConfirmText = 150,
  kIdRelease1Title = 153,
  kIdRelease1ServerLabel = 154,
  kIdRelease1DatabaseLabel = 155,
  kIdRelease1Server = 156,
  kIdRelease1Database = 157,
  kIdMigrate = 158,
  kIdSystemSettings = 160,
  kIdSystemSettingsText = 161,
  kIdClientTerms = 164,
  kIdMigrateChoice = 165,
  kIdMigrateChoiceText = 166,
  kIdBetaText = 167,
  kIdFontProbe = 992,
};

// wizardKind values of the install context.
enum WizardKind : int32_t {
  kKindServer = 1,
  kKindClient = 2,
  kKindRemove = 4,
  kKindRelease1 = 9,
  kKindBetaUpgrade = 10,
};

// kit values.
enum WizardKit : int32_t { kKitNone = 0, kKitClient = 1, kKitServer = 2 };

inline constexpr char kWizardTitle[] = "Quendal Tarnway Release 2.0 Installation";
inline constexpr char kErrorTitle[] = "Error";
inline constexpr char kNextText[] = "Next  >";
inline constexpr char kAcceptText[] = "I ACCEPT";
inline constexpr char kPreviousText[] = "<  Previous";
inline constexpr char kQuitText[] = "Quit";
// The installation directory offered when the kit's own directory cannot take twmain.ini.
inline constexpr char kFallbackInstallDir[] = "/opt/QTW20/";
inline constexpr char kIniName[] = "twmain.ini";
// The key word typed on the welcome page that opens the credits.
inline constexpr char kCreditsWord[] = "Quilbox";

class SetupWizard;

// One page: a table of control records whose controls the wizard owns. Show and Hide act
// on every control the table names, found in the dialog by id.
class WizardPage {
 public:
  WizardPage(SetupWizard& dialog, const UI_ChildDescriptor* records, UI_Point origin);
  void Show();
  void Hide();
  const UI_ChildDescriptor* Records() const { return records_; }

 private:
  void ShowAll(bool on);
  SetupWizard& dialog_;
  const UI_ChildDescriptor* records_;
};

class SetupWizard : public UI_Dialog {
 public:
  using CL_Object::operator=;
  // Builds the dialog, its pages and their defaults, and detects an existing installation.
  // The caller runs it (UI_Application::Run) and deletes it afterwards; ctx outlives it.
  explicit SetupWizard(SetupContext& ctx);
  ~SetupWizard() override;
  SetupWizard(const SetupWizard&) = delete;

  // Makes the window, then gives it the wizard's title.
  bool MakeVisualElement() override;
  // Events the children left unhandled: the navigation, then the dialog's own handling.
  bool HandleChildEvent(const UI_Event& e) override;

  // ---- pages and buttons
  void ChooseWizardFont();
  // Makes page the visible one and sets the buttons; nothing for a page out of range or
  // the page already shown.
  void ShowPage(int page);
  // A failed run: appends the retry hint to the progress page, enables Previous and Quit.
  void ShowRetryHint();
  void OpenCredits();
  // Button 132 shows the member this machine is: a client's or a server's picture.
  void SetMemberPicture(bool client);
  // Appends text (lines ended by "\n") to the progress page, each line led by CR LF.
  void AppendProgress(std::string_view text);
  void MakeProgressReadOnly();
  // The application's quit request: ends the wizard's run.
  void RequestQuit();
  // The standard error box: text, title "Error", this wizard as owner, OK, stop icon.
  void ErrorBox(const std::string& text);

  // ---- navigation, checks and built texts (wizard_nav.cc)
  void OnNext();
  void OnPrevious();
  void OnKeyTyped(char key);
  [[nodiscard]] bool ValidateClusterPage();
  [[nodiscard]] bool ValidateMigrationPage();
  [[nodiscard]] bool ValidateSnmpPage();
  [[nodiscard]] bool ValidateTranslationPage();
  void PrepareFieldPage(long choice);
  // Reads twmain.ini's KitType; false when the file is invalid (the wizard then quits).
  bool DetectInstallation();
  void CheckBetaInstallation();
  [[nodiscard]] bool SetupDirIsReadOnly();
  void BuildSummary();
  void BuildRemoveWarning();
  void BuildRemoveConfirmation();
  void SetSystemSettingsText();

  // ---- action runs (wizard_runs.cc)
  void RunInstall();
  void RunRemove();
  void RunBetaUpgrade();
  void RunMigration();

  // ---- typed access to the controls (null and a warning when the id is not there)
  UI_Label* LabelAt(long id) const { return dynamic_cast<UI_Label*>(Child(id)); }
  UI_StringEditor* EditorAt(long id) const { return dynamic_cast<UI_StringEditor*>(Child(id)); }
  UI_ToggleButton* ToggleAt(long id) const { return dynamic_cast<UI_ToggleButton*>(Child(id)); }
  UI_ExOrButtonGroup* GroupAt(long id) const {
    return dynamic_cast<UI_ExOrButtonGroup*>(Child(id));
  }
  // The control's text, for labels, editors and buttons alike.
  std::string TextOf(long id) const;
  void SetText(long id, std::string_view text);
  bool Checked(long id) const;
  void SetChecked(long id, bool on);
  void EnableControl(long id, bool on);

  SetupContext& Context() { return ctx_; }
  int CurrentPage() const { return currentPage; }
  // True once the page has been shown: a run acts only on answers of pages the user saw.
  bool PageSeen(int page) const { return page >= 0 && page < kPageCount && seen_[size_t(page)]; }

  // Fields (the data model).
  int32_t currentPage = 0;
  int32_t lastPage = kPageCount - 1;
  int32_t kit = kKitNone;
  bool installationFound = false;
  std::array<std::unique_ptr<WizardPage>, kPageCount> pages;
  WizardPage* shownPage = nullptr;
  CL_String kitWord;
  // Position of the credits key-word match on the welcome page (0 to 6).
  int keyMatch = 0;

 private:
  // One library call of a run: the wait cursor and pending events around it.
  template <class F>
  auto Step(F call);
  void BeginRun();
  void EndRun();
  void SetButtons(bool previous, bool next, bool quit);
  // Ends both directories with "/" and copies the kit into installDir unless it is the kit
  // itself; a failure is on the progress page with the retry hint.
  enum class KitCopy { failed, none, copied };
  KitCopy CopyKit(bool undoOnFailure);
  // Gives every control below o the dialog's font, when one was chosen.
  void ApplyFont(UI_VisualObject& o);

  SetupContext& ctx_;
  std::array<bool, kPageCount> seen_{};
  std::unique_ptr<UI_FontDesc> dialogFont_;
};

// The progress page's form of text: every "\n"-separated non-empty line led by CR LF; a
// text without line ends becomes CR LF and the text; an empty text stays empty.
[[nodiscard]] std::string SetupProgressText(std::string_view text);
// Ends field with "/" when it does not end so already; false (field unchanged) when the
// "/" does not fit.
template <size_t N>
[[nodiscard]] bool EndWithSlash(char (&field)[N]) {
  size_t n = std::strlen(field);
  if (n > 0 && field[n - 1] == '/') return true;
  if (n + 1 >= N) return false;
  field[n] = '/';
  field[n + 1] = '\0';
  return true;
}

// The body of instgui: argv as the program got it. Runs the wizard only when the one
// argument is the launch code; always 0.
int WindowedSetupMain(int argc, char** argv);
// Shows a "Setup Error" box with text and ends the process with status 0.
[[noreturn]] void SetupErrorBox(const std::string& text);
// Creates the wizard over ctx, runs it until it closes, frees it: 0.
int SetupRunWizard(SetupContext& ctx);

}  // namespace tw::install::gui

#endif  // TW_INSTALL_GUI_SETUP_WIZARD_H_
