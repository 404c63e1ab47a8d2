// The wizard's navigation, page checks and built texts on its real controls: the portable
// flow of page_flow.h acting through the dialog's children and the wizard's fields.
#include "install_util.h"
#include "page_flow.h"
#include "setup_wizard.h"

namespace tw::install::gui {
namespace {

// The dialog's controls as the flow sees them. The flow works on a copy of the wizard's
// fields; the copy is written back before anything that reads the fields runs (a page shown,
// events flushed, a run started) and read again after it.
class DialogView : public WizardView {
 public:
  DialogView(SetupWizard& w, WizardState& s) : w_(w), s_(s) {}

  std::string Text(long id) override { return w_.TextOf(id); }
  void SetText(long id, const std::string& text) override { w_.SetText(id, text); }
  bool Checked(long id) override { return w_.Checked(id); }
  void SetChecked(long id, bool on) override { w_.SetChecked(id, on); }
  void Enable(long id, bool on) override { w_.EnableControl(id, on); }
  long Selected(long group) override {
    UI_ExOrButtonGroup* g = w_.GroupAt(group);
    return g != nullptr ? g->Selection().Value() : -1;
  }
  void MakeProgressReadOnly() override { w_.MakeProgressReadOnly(); }
  void SetMemberPicture(bool client) override { w_.SetMemberPicture(client); }
  void ErrorBox(const std::string& text) override { w_.ErrorBox(text); }
  void Quit() override { w_.RequestQuit(); }
  void OpenCredits() override { w_.OpenCredits(); }
  void ShowPage(int page) override {
    Store();
    w_.ShowPage(page);
    Load();
  }
  void FlushEvents() override {
    Store();
    UI_Controller::Instance().FlushEvents();
    Load();
  }
  void StartRun(WizardRun run) override {
    // In the order of WizardRun.
    static constexpr void (SetupWizard::*kRuns[])() = {
        &SetupWizard::RunInstall, &SetupWizard::RunRemove, &SetupWizard::RunMigration,
        &SetupWizard::RunBetaUpgrade};
    Store();
    (w_.*kRuns[static_cast<size_t>(run)])();
    Load();
  }

  void Load() {
    s_.currentPage = w_.currentPage;
    s_.kit = w_.kit;
    s_.installationFound = w_.installationFound;
    s_.kitWord = w_.kitWord.AsPtr();
    s_.keyMatch = w_.keyMatch;
  }
  void Store() {
    w_.currentPage = s_.currentPage;
    w_.kit = s_.kit;
    w_.installationFound = s_.installationFound;
    w_.kitWord = s_.kitWord.c_str();
    w_.keyMatch = s_.keyMatch;
  }

 private:
  SetupWizard& w_;
  WizardState& s_;
};

// Runs step over the wizard's flow: true when step says so.
template <class F>
bool WithFlow(SetupWizard& w, F step) {
  WizardState state;
  DialogView view(w, state);
  view.Load();
  WizardFlow flow(view, w.Context(), state);
  bool result = step(flow);
  view.Store();
  return result;
}

bool Ask(SetupWizard& w, bool (WizardFlow::*check)()) {
  return WithFlow(w, [&](WizardFlow& f) { return (f.*check)(); });
}

void Do(SetupWizard& w, void (WizardFlow::*build)()) {
  (void)WithFlow(w, [&](WizardFlow& f) {
    (f.*build)();
    return true;
  });
}

std::string IniOf(const SetupContext& ctx) {
  return WithSlash(ctx.installDir) + kIniName;
}

}  // namespace

bool SetupWizard::HandleChildEvent(const UI_Event& e) {
  if (e.Type() == Event_KeyTyped) {
    OnKeyTyped(e.key);
    // The key still reaches the control that has it, and TAB still moves the focus.
    return UI_Dialog::HandleChildEvent(e);
  }
  if (e.Type() == Event_Select && e.Origin() != nullptr) {
    const long id = e.Origin()->Id();
    if (WithFlow(*this, [&](WizardFlow& f) { return f.Select(id); })) return true;
  }
  return UI_Dialog::HandleChildEvent(e);
}

void SetupWizard::OnNext() {
  (void)WithFlow(*this, [](WizardFlow& f) { return f.Select(kIdNext); });
}

void SetupWizard::OnPrevious() {
  (void)WithFlow(*this, [](WizardFlow& f) { return f.Select(kIdPrevious); });
}

void SetupWizard::OnKeyTyped(char key) {
  (void)WithFlow(*this, [&](WizardFlow& f) { return f.KeyTyped(key); });
}

bool SetupWizard::ValidateClusterPage() {
  return Ask(*this, &WizardFlow::ValidateClusterPage);
}

bool SetupWizard::ValidateMigrationPage() {
  return Ask(*this, &WizardFlow::ValidateMigrationPage);
}

bool SetupWizard::ValidateSnmpPage() {
  return Ask(*this, &WizardFlow::ValidateSnmpPage);
}

bool SetupWizard::ValidateTranslationPage() {
  return Ask(*this, &WizardFlow::ValidateTranslationPage);
}

void SetupWizard::PrepareFieldPage(long choice) {
  (void)WithFlow(*this, [&](WizardFlow& f) {
    f.PrepareFieldPage(choice);
    return true;
  });
}

bool SetupWizard::DetectInstallation() {
  const std::string ini = IniOf(ctx_);
  return WithFlow(*this, [&](WizardFlow& f) { return f.DetectInstallation(ini); });
}

void SetupWizard::CheckBetaInstallation() {
  const std::string ini = IniOf(ctx_);
  (void)WithFlow(*this, [&](WizardFlow& f) {
    f.CheckBetaInstallation(ini);
    return true;
  });
}

bool SetupWizard::SetupDirIsReadOnly() {
  return tw::install::gui::SetupDirIsReadOnly(ctx_.setupDir);
}

void SetupWizard::BuildSummary() {
  Do(*this, &WizardFlow::BuildSummary);
}
void SetupWizard::BuildRemoveWarning() {
  Do(*this, &WizardFlow::BuildRemoveWarning);
}
void SetupWizard::BuildRemoveConfirmation() {
  Do(*this, &WizardFlow::BuildRemoveConfirmation);
}
void SetupWizard::SetSystemSettingsText() {
  Do(*this, &WizardFlow::SetSystemSettingsText);
}

}  // namespace tw::install::gui
