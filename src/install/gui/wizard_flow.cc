// The wizard's roads, page checks and installation detection (see wizard_flow.h).
#include "wizard_flow.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "catalogue.h"
#include "env.h"
#include "install_util.h"
#include "platform.h"

namespace tw::install::gui {
namespace {

constexpr char kCredits[] = "Quilbox";
constexpr char kSection[] = "Configuration";
constexpr char kIniName[] = "twmain.ini";

// One answer copied into the record: refused with a message when it does not fit.
struct Field {
  char* data;
  size_t size;
  const char* what;
};
template <size_t N>
Field F(char (&field)[N], const char* what) {
  return {field, N, what};
}

bool Put(const Field& f, const std::string& value, std::string* complaint) {
  if (value.size() >= f.size || value.find('\0') != std::string::npos) {
    *complaint = std::string("The ") + f.what + " is too long\n(at most " +
                 std::to_string(f.size - 1) + " characters).";
    return false;
  }
  std::memcpy(f.data, value.c_str(), value.size() + 1);
  return true;
}

// A value of twmain.ini's Configuration section, whole: the status of the read, and false
// in fits when the value would not fit size bytes with its NUL.
struct IniValue {
  uint32_t status;
  std::string text;
  bool Fits(size_t size) const { return status == 0 && text.size() < size; }
};
IniValue ReadIni(const std::string& ini, const char* key) {
  // Longer than any field: a value cut by the read is told apart from one that fits.
  std::string buffer(4096, '\0');
  IniValue v{TWINIGetString(kSection, key, buffer.data(), buffer.size(), ini.c_str()), {}};
  if (v.status == 0) v.text = buffer.c_str();
  if (v.text.size() + 1 >= buffer.size()) v.text.append(1, '?');  // never fits a field
  return v;
}

bool IsKit(const std::string& kit) {
  return kit == "1" || kit == "2";
}

// A directory the installer may create or fill: the path itself when it exists, else its
// nearest existing ancestor, must be a directory this process can write.
bool Writable(const std::filesystem::path& dir, bool* exists) {
  std::error_code ec;
  std::filesystem::path p = dir;
  *exists = std::filesystem::exists(p, ec);
  while (!std::filesystem::exists(p, ec)) {
    if (!p.has_relative_path()) return false;
    p = p.parent_path();
  }
  return std::filesystem::is_directory(p, ec) && ::access(p.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool WizardFlow::Fail(const std::string& text) {
  view_.ErrorBox(text);
  return false;
}

// ---------------------------------------------------------------- events --------------

bool WizardFlow::KeyTyped(int key) {
  if (state_.currentPage != kWelcomePage) return false;
  const int last = static_cast<int>(sizeof kCredits) - 2;
  if (state_.keyMatch == last) {
    if (key == kCredits[last]) view_.OpenCredits();
    state_.keyMatch = 0;
  } else if (key == kCredits[state_.keyMatch]) {
    ++state_.keyMatch;
  } else {
    // The mismatching key does not start a new match, even when it is the first letter.
    state_.keyMatch = 0;
  }
  return false;
}

bool WizardFlow::Select(int id) {
  int& page = state_.currentPage;
  // A new choice on a choice page takes back any consent to a removal given before it.
  auto choose = [&](int32_t kind) {
    ctx_.wizardKind = kind;
    ctx_.deleteFiles = 0;
    state_.removalConfirmed = false;
  };
  switch (id) {
    case kPrevious:
      Previous();
      break;
    case kNext:
      if (Next()) return true;  // a run has started
      break;
    case kQuit:
      view_.Quit();
      return true;
    case kNewCluster:
    case kAdditionalServer:
      choose(kInstallServer);
      PrepareFieldPage(id);
      page = kClusterPage;
      break;
    case kClient:
      view_.SetText(kNext, kAcceptText);
      page = kTermsPage;
      break;
    case kRemoveCluster:
    case kRemoveMember:
      choose(kRemove);
      ctx_.existingCluster = id == kRemoveMember ? 1 : 0;
      BuildRemoveWarning();
      page = kRemoveWarningPage;
      break;
    case kMigrateRelease1:
      choose(kMigrate);
      page = kMigrationPage;
      break;
    case kVaultCheck:
    case kDocCheck:
    case kMigrateCheck: {
      static const struct {
        int check;
        int controls[5];
      } kGroups[] = {{kVaultCheck, {kVaultLabel, kVaultEditor}},
                     {kDocCheck, {kDocLabel, kDocEditor}},
                     {kMigrateCheck,
                      {kRelease1Title, kRelease1ServerLabel, kRelease1DatabaseLabel,
                       kRelease1ServerEditor, kRelease1DatabaseEditor}}};
      for (const auto& g : kGroups) {
        if (g.check != id) continue;
        bool on = view_.Checked(id);
        for (int c : g.controls)
          if (c != 0) view_.Enable(c, on);
      }
      break;
    }
    default:
      return false;
  }
  view_.ShowPage(page);
  return true;
}

bool WizardFlow::Go(WizardRun run) {
  const int page = state_.currentPage = kProgressPage;
  view_.ShowPage(page);
  view_.FlushEvents();
  view_.StartRun(run);
  return true;
}

bool WizardFlow::Next() {
  int& page = state_.currentPage;
  switch (page) {
    case kWelcomePage:
      page = state_.installationFound ? kRemoveChoicePage : kChoicePage;
      CheckBetaInstallation(WithSlash(ctx_.installDir) + kIniName);
      break;
    case kClusterPage:
      if (!ValidateClusterPage()) break;
      page = state_.kit == 1 ? kTranslationPage
                             : (ctx_.existingCluster == 0 ? kMigrationPage : kSnmpPage);
      break;
    case kMigrationPage:
      if (!ValidateMigrationPage()) break;
      if (ctx_.wizardKind == kMigrate)
        page = ctx_.migrateRelease1 == 0 ? kRemoveChoicePage : kSummaryPage;
      else
        page = kSnmpPage;
      break;
    case kSnmpPage:
      if (ValidateSnmpPage()) page = kTranslationPage;
      break;
    case kTranslationPage:
      if (ValidateTranslationPage()) page = kDirectoryPage;
      break;
    case kDirectoryPage:
      if (!ValidateDirectoryPage()) break;
      BuildSummary();
      page = kSummaryPage;
      break;
    case kSummaryPage:
      return Go(ctx_.wizardKind == kMigrate ? WizardRun::migrate : WizardRun::install);
    case kRemoveWarningPage:
      // The removal acts on what this page showed and nothing else.
      ctx_.deleteFiles = view_.Selected(kProgramFilesGroup) == kDeleteProgramFiles ? 1 : 0;
      state_.removalConfirmed = true;
      BuildRemoveConfirmation();
      page = kRemoveConfirmationPage;
      break;
    case kRemoveConfirmationPage:
      if (ctx_.wizardKind != kRemove || !state_.removalConfirmed) break;
      return Go(WizardRun::remove);
    case kTermsPage:
      view_.SetText(kNext, kNextText);
      ctx_.wizardKind = kInstallClient;
      PrepareFieldPage(kClient);
      page = kClusterPage;
      break;
    case kBetaPage:
      if (ctx_.wizardKind != kBetaUpgrade) break;
      return Go(WizardRun::upgrade);
    default:
      break;
  }
  return false;
}

void WizardFlow::Previous() {
  int& page = state_.currentPage;
  if (page == kMigrationPage && ctx_.wizardKind == kMigrate)
    page = kRemoveChoicePage;
  else if (page == kTranslationPage && state_.kit == 1)
    page = kClusterPage;
  else if (page == kSnmpPage && ctx_.existingCluster != 0)
    page = kClusterPage;
  else if (page == kProgressPage && ctx_.wizardKind == kBetaUpgrade)
    page = kBetaPage;
  else if (page == kProgressPage && state_.installationFound)
    page = kRemoveChoicePage;
  else if (page == kSummaryPage && ctx_.wizardKind == kMigrate)
    page = kMigrationPage;
  else if (page == kTermsPage) {
    view_.SetText(kNext, kNextText);
    page = kChoicePage;
  } else if (page > kWelcomePage)
    --page;
  // Going back from the confirmation takes the consent back with it.
  if (page <= kRemoveWarningPage) {
    state_.removalConfirmed = false;
    ctx_.deleteFiles = 0;
  }
}

// ---------------------------------------------------------------- page checks ---------

void WizardFlow::PrepareFieldPage(int choice) {
  const bool cluster = choice == kNewCluster;
  view_.Enable(kLogLabel, cluster);
  view_.Enable(kLogEditor, cluster);
  view_.SetText(kLogEditor, cluster ? "QTWLOG.ODB" : "");
  static const struct {
    int check, label, editor;
    const char* name;
  } kOptional[] = {{kVaultCheck, kVaultLabel, kVaultEditor, "QTWVLT.ODB"},
                   {kDocCheck, kDocLabel, kDocEditor, "QTW20DOC.ODB"}};
  for (const auto& o : kOptional) {
    view_.SetChecked(o.check, cluster);
    for (int c : {o.check, o.label, o.editor}) view_.Enable(c, cluster);
    view_.SetText(o.editor, cluster ? o.name : "");
  }
  ctx_.existingCluster = cluster ? 0 : 1;
  // Only a new cluster's road passes the migration page: no other road keeps its answer.
  if (!cluster) ctx_.migrateRelease1 = 0;
  state_.kit = choice == kClient ? 1 : 2;
  state_.kitWord = choice == kClient ? "Client" : "Server";
  view_.SetText(kMemberLabel, "Tarnway " + state_.kitWord + " Name:");
}

bool WizardFlow::ValidateClusterPage() {
  std::string complaint;
  const std::string kitWord = state_.kitWord;
  const std::string memberWhat = "Tarnway " + kitWord + " Name";
  struct Answer {
    Field field;
    int editor;
    bool wanted;
  } answers[] = {
      {F(ctx_.memberName, memberWhat.c_str()), kMemberEditor, true},
      {F(ctx_.adminServer, "Ordex Server Name"), kAdminServerEditor, true},
      {F(ctx_.adminDatabase, "Administrator Database Filename"), kAdminDatabaseEditor, true},
      {F(ctx_.logDatabase, "Log Database Filename"), kLogEditor, true},
      {F(ctx_.vaultDatabase, "Vault Database Filename"), kVaultEditor, view_.Checked(kVaultCheck)},
      {F(ctx_.docDatabase, "Documentation Database Filename"), kDocEditor,
       view_.Checked(kDocCheck)},
  };
  ctx_.createVault = answers[4].wanted ? 1 : 0;
  ctx_.installDocDatabase = answers[5].wanted ? 1 : 0;
  for (const Answer& a : answers)
    if (a.wanted && !Put(a.field, view_.Text(a.editor), &complaint)) return Fail(complaint);

  if (ctx_.memberName[0] == '\0') return Fail("You must supply a name\nfor the Tarnway " + kitWord);
  if (ctx_.adminDatabase[0] == '\0')
    return Fail("You must supply the Administrator\nDatabase Filename.");
  if (ctx_.existingCluster == 0 && ctx_.logDatabase[0] == '\0')
    return Fail("You must supply the Log\nDatabase Filename.");
  if (ctx_.installDocDatabase && ctx_.docDatabase[0] == '\0')
    return Fail("You must supply the Documentation\nDatabase Filename.");
  if (ctx_.createVault && ctx_.vaultDatabase[0] == '\0')
    return Fail("You must supply the Script\nVault Database Filename.");

  // The databases are looked at now, while the answer can still be changed: a run that
  // found out later would stop half-way.
  const DatabaseKind admin = SetupDatabaseKind(ctx_.adminServer, ctx_.adminDatabase);
  if (ctx_.existingCluster == 0) {
    const struct {
      bool wanted;
      const char* file;
    } made[] = {{true, ctx_.logDatabase}, {ctx_.createVault != 0, ctx_.vaultDatabase}};
    bool taken = admin != DatabaseKind::none;
    const char* file = ctx_.adminDatabase;
    for (const auto& m : made) {
      if (taken || !m.wanted) continue;
      taken = SetupDatabaseKind(ctx_.adminServer, m.file) != DatabaseKind::none;
      file = m.file;
    }
    if (taken)
      return Fail("The database '" + std::string(file) +
                  "' already exists.\nChoose another Database Filename.");
    return true;
  }
  switch (admin) {
    case DatabaseKind::administrator:
      return true;
    case DatabaseKind::none:
      return Fail(Format(Message(TWFAIL_SETUP_NO_ADMIN), ctx_.adminDatabase) + ".");
    case DatabaseKind::other:
      return Fail("The database '" + std::string(ctx_.adminDatabase) +
                  "' is not a Tarnway\nAdministrator database.");
    case DatabaseKind::unusable:
      break;
  }
  return Fail(Format(Message(TWFAIL_SETUP_OPEN_ADMIN), ctx_.adminDatabase) + ".");
}

bool WizardFlow::ValidateMigrationPage() {
  ctx_.migrateRelease1 = view_.Checked(kMigrateCheck) ? 1 : 0;
  if (ctx_.migrateRelease1 == 0) return true;
  std::string complaint;
  if (!Put(F(ctx_.release1Server, "Release 1 Ordex Server Name"), view_.Text(kRelease1ServerEditor),
           &complaint) ||
      !Put(F(ctx_.release1Database, "Release 1 Administrator Database Filename"),
           view_.Text(kRelease1DatabaseEditor), &complaint))
    return Fail(complaint);
  if (ctx_.release1Database[0] == '\0')
    return Fail("You must supply the\nAdministrator Database Filename.");
  const DatabaseKind r1 = SetupDatabaseKind(ctx_.release1Server, ctx_.release1Database);
  if (r1 == DatabaseKind::none)
    return Fail(Format(Message(TWFAIL_SETUP_NO_ADMIN), ctx_.release1Database) + ".");
  if (r1 == DatabaseKind::unusable)
    return Fail(Format(Message(TWFAIL_SETUP_OPEN_ADMIN), ctx_.release1Database) + ".");
  if (ctx_.wizardKind != kMigrate) return true;
  // The migration goes into the Administrator this installation names.
  const std::string ini = WithSlash(ctx_.installDir) + kIniName;
  IniValue server = ReadIni(ini, "AdminServer");
  IniValue database = ReadIni(ini, "AdminDatabase");
  bool serverOk = server.Fits(sizeof ctx_.adminServer) ||
                  (server.status == TWFAIL_INI_MISSING_KEY);
  if (!serverOk || !database.Fits(sizeof ctx_.adminDatabase)) return Fail(InvalidIniText());
  (void)SetField(ctx_.adminServer, server.text);
  (void)SetField(ctx_.adminDatabase, database.text);
  view_.SetText(kSummaryLabel, MigrationText(ctx_));
  return true;
}

bool WizardFlow::ValidateSnmpPage() {
  const int choice = view_.Selected(kSnmpGroup);
  if (choice < kSnmpNone || choice > kSnmpFull)
    return Fail("You must select a SNMP Support Setting.");
  const char digit[2] = {static_cast<char>('0' + choice - kSnmpNone), '\0'};
  (void)SetField(ctx_.snmpMode, digit);
  return true;
}

bool WizardFlow::ValidateTranslationPage() {
  const int choice = view_.Selected(kTranslationGroup);
  if (choice < kTranslationDisabled || choice > kTranslationEnabled)
    return Fail("You must select a Text Translation Setting.");
  const char digit[2] = {static_cast<char>('0' + choice - kTranslationDisabled), '\0'};
  (void)SetField(ctx_.translateMode, digit);
  return true;
}

bool WizardFlow::ValidateDirectoryPage() {
  std::string dir = view_.Text(kDirectoryEditor);
  if (dir.empty()) return Fail("You must supply the Tarnway Directory.");
  if (dir[0] != '/')
    return Fail("The Tarnway Directory must be a full path\nbeginning with '/'.");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string bare = dir;
  dir = WithSlash(dir);
  // The "/" that every later step relies on must fit the field too.
  if (dir.size() >= sizeof ctx_.installDir)
    return Fail("The Tarnway Directory is too long\n(at most " +
                std::to_string(sizeof ctx_.installDir - 2) + " characters).");
  bool exists = false;
  if (!Writable(bare, &exists))
    return Fail((exists ? "Setup cannot write to the directory\n"
                        : "Setup cannot create the directory\n") +
                dir + ".");
  (void)SetField(ctx_.installDir, dir);
  return true;
}

// ---------------------------------------------------------------- detection -----------

bool WizardFlow::DetectInstallation(const std::string& ini) {
  IniValue kit = ReadIni(ini, "KitType");
  std::error_code ec;
  if (kit.status == TWFAIL_INI_ACCESS && !std::filesystem::exists(ini, ec) && !ec) {
    state_.installationFound = false;
    return true;
  }
  if (!kit.Fits(sizeof ctx_.kitType) || !IsKit(kit.text)) {
    view_.ErrorBox(InvalidIniText());
    view_.Quit();
    return false;
  }
  (void)SetField(ctx_.kitType, kit.text);
  state_.installationFound = true;
  state_.kitWord = kit.text[0] == '1' ? "Client" : "Server";
  view_.SetMemberPicture(kit.text[0] == '1');
  view_.SetText(kRemoveMemberLabel, RemoveMemberChoiceText(state_.kitWord));
  return true;
}

void WizardFlow::CheckBetaInstallation(const std::string& ini) {
  view_.SetReadOnly(kProgressEditor);
  view_.SetChecked(kSystemSettingsCheck, true);
  view_.SetChecked(kMigrateCheck, false);
  for (int id = kRelease1Title; id <= kRelease1DatabaseEditor; ++id) view_.Enable(id, false);
  if (!state_.installationFound) return;
  IniValue version = ReadIni(ini, "Version");
  if (version.status == 0 && TWCmpVerStr(version.text.c_str(), "23") >= 0) return;

  // Every value is checked before any reaches the record: an unusable file ends the task
  // with the record as it was.
  IniValue directory = ReadIni(ini, "Directory");
  IniValue kit = ReadIni(ini, "KitType");
  IniValue member = ReadIni(ini, "Tarnway");
  IniValue server = ReadIni(ini, "AdminServer");
  IniValue database = ReadIni(ini, "AdminDatabase");
  std::string dir = WithSlash(directory.text);
  bool usable = directory.status == 0 && dir[0] == '/' && dir.size() < sizeof ctx_.installDir &&
                kit.Fits(sizeof ctx_.kitType) && IsKit(kit.text) &&
                member.Fits(sizeof ctx_.memberName) &&
                (server.Fits(sizeof ctx_.adminServer) ||
                 server.status == TWFAIL_INI_MISSING_KEY) &&
                database.Fits(sizeof ctx_.adminDatabase);
  if (!usable) {
    view_.ErrorBox(InvalidIniText());
    view_.Quit();
    return;
  }
  (void)SetField(ctx_.installDir, dir);
  (void)SetField(ctx_.kitType, kit.text);
  (void)SetField(ctx_.memberName, member.text);
  (void)SetField(ctx_.adminServer, server.text);
  (void)SetField(ctx_.adminDatabase, database.text);
  // The upgrade copies and registers the kind of member that is installed.
  state_.kit = kit.text[0] - '0';
  state_.kitWord = state_.kit == 1 ? "Client" : "Server";
  ctx_.wizardKind = kBetaUpgrade;
  ctx_.existingCluster = 1;
  view_.SetText(kBetaLabel, BetaUpgradeText(ctx_.installDir));
  state_.currentPage = kBetaPage;
}

bool SetupDirIsReadOnly(const std::string& setupDir) {
  const std::string path = WithSlash(setupDir) + kIniName;
  Env* env = Env::Default();
  std::string contents;
  if (env->ReadFile(path, &contents) == Env::Read::ok) return false;
  int fd = env->CreateExclusive(path);
  if (fd < 0) return true;
  bool closed = env->Close(fd);
  return !env->Remove(path) || !closed;
}

std::string DefaultInstallDir(const std::string& setupDir) {
  if (!SetupDirIsReadOnly(setupDir)) return WithSlash(setupDir);
  const char* home = std::getenv("HOME");
  return WithSlash(home != nullptr && home[0] == '/' ? home : "/tmp") + "QTW20/";
}

}  // namespace tw::install::gui
