// TEMPORARY: stand-ins for the navigation, checks and built texts until they land; this
// file goes when they do.
#include "setup_wizard.h"

namespace tw::install::gui {

bool SetupWizard::HandleChildEvent(const UI_Event& e) {
  if (e.Type() != Event_Select || !e.Origin()) return false;
  switch (e.Origin()->Id()) {
    case kIdQuit: RequestQuit(); return true;
    case kIdNext: OnNext(); break;
    case kIdPrevious: OnPrevious(); break;
    default: return false;
  }
  ShowPage(currentPage);
  return true;
}
void SetupWizard::OnNext() {
  if (currentPage < lastPage) ++currentPage;
}
void SetupWizard::OnPrevious() {
  if (currentPage > 0) --currentPage;
}
void SetupWizard::OnKeyTyped(char) {}
bool SetupWizard::ValidateClusterPage() { return true; }
bool SetupWizard::ValidateMigrationPage() { return true; }
bool SetupWizard::ValidateSnmpPage() { return true; }
bool SetupWizard::ValidateTranslationPage() { return true; }
void SetupWizard::PrepareFieldPage(long) {}
bool SetupWizard::DetectInstallation() { return true; }
void SetupWizard::CheckBetaInstallation() {}
bool SetupWizard::SetupDirIsReadOnly() { return false; }
void SetupWizard::BuildSummary() {}
void SetupWizard::BuildRemoveWarning() {}
void SetupWizard::BuildRemoveConfirmation() {}
void SetupWizard::SetSystemSettingsText() {}

}  // namespace tw::install::gui
