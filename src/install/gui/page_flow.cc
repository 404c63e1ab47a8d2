// The wizard's roads, page checks and installation detection (see page_flow.h).
#include "page_flow.h"

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

constexpr char kSection[] = "Configuration";

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
  if (state_.currentPage != kPageWelcome) return false;
  const int last = static_cast<int>(sizeof kCreditsWord) - 2;
  if (state_.keyMatch == last) {
    if (key == kCreditsWord[last]) view_.OpenCredits();
    state_.keyMatch = 0;
  } else if (key == kCreditsWord[state_.keyMatch]) {
    ++state_.keyMatch;
  } else {
    // The mismatching key does not start a new match, even when it is the first letter.
    state_.keyMatch = 0;
  }
  return false;
}

bool WizardFlow::Select(long id) {
  int& page = state_.currentPage;
  // A choice acts only from its own page while that page is shown: a hidden control can
  // still be clicked by a message sent to it.
  static const struct {
    long id;
    int page;
  } kChoicePages[] = {{kIdNewCluster, kPageInstallChoice},  {kIdAddServer, kPageInstallChoice},
                      {kIdAddClient, kPageInstallChoice},   {kIdRemoveCluster, kPageRemoveChoice},
                      {kIdRemoveMember, kPageRemoveChoice}, {kIdMigrateChoice, kPageRemoveChoice},
                      {kIdCreateVault, kPageCluster},       {kIdInstallDocs, kPageCluster},
                      {kIdMigrate, kPageMigration}};
  for (const auto& c : kChoicePages)
    if (c.id == id && c.page != page) return false;
  // A new choice on a choice page takes back any consent to a removal given before it.
  auto choose = [&](int32_t kind) {
    ctx_.wizardKind = kind;
    ctx_.deleteFiles = 0;
  };
  switch (id) {
    case kIdPrevious:
      Previous();
      break;
    case kIdNext:
      if (Next()) return true;  // a run has started
      break;
    case kIdQuit:
      view_.Quit();
      return true;
    case kIdNewCluster:
    case kIdAddServer:
      choose(kKindServer);
      PrepareFieldPage(id);
      page = kPageCluster;
      break;
    case kIdAddClient:
      view_.SetText(kIdNext, kAcceptText);
      page = kPageClientTerms;
      break;
    case kIdRemoveCluster:
    case kIdRemoveMember:
      choose(kKindRemove);
      ctx_.existingCluster = id == kIdRemoveMember ? 1 : 0;
      BuildRemoveWarning();
      page = kPageRemoveWarning;
      break;
    case kIdMigrateChoice:
      choose(kKindRelease1);
      page = kPageMigration;
      break;
    case kIdCreateVault:
    case kIdInstallDocs:
    case kIdMigrate: {
      static const struct {
        long check;
        long controls[5];
      } kGroups[] = {{kIdCreateVault, {kIdVaultDatabaseLabel, kIdVaultDatabase}},
                     {kIdInstallDocs, {kIdDocDatabaseLabel, kIdDocDatabase}},
                     {kIdMigrate,
                      {kIdRelease1Title, kIdRelease1ServerLabel, kIdRelease1DatabaseLabel,
                       kIdRelease1Server, kIdRelease1Database}}};
      for (const auto& g : kGroups) {
        if (g.check != id) continue;
        bool on = view_.Checked(id);
        for (long c : g.controls)
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
  const int page = state_.currentPage = kPageProgress;
  view_.ShowPage(page);
  view_.FlushEvents();
  view_.StartRun(run);
  return true;
}

bool WizardFlow::Next() {
  int& page = state_.currentPage;
  switch (page) {
    case kPageWelcome:
      page = state_.installationFound ? kPageRemoveChoice : kPageInstallChoice;
      CheckBetaInstallation(WithSlash(ctx_.installDir) + kIniName);
      break;
    case kPageCluster:
      if (!ValidateClusterPage()) break;
      page = state_.kit == kKitClient ? kPageTranslation
                                      : (ctx_.existingCluster == 0 ? kPageMigration : kPageSnmp);
      break;
    case kPageMigration:
      if (!ValidateMigrationPage()) break;
      if (ctx_.wizardKind == kKindRelease1)
        page = ctx_.migrateRelease1 == 0 ? kPageRemoveChoice : kPageSummary;
      else
        page = kPageSnmp;
      break;
    case kPageSnmp:
      if (ValidateSnmpPage()) page = kPageTranslation;
      break;
    case kPageTranslation:
      if (ValidateTranslationPage()) page = kPageDirectory;
      break;
    case kPageDirectory:
      if (!ValidateDirectoryPage()) break;
      BuildSummary();
      page = kPageSummary;
      break;
    case kPageSummary:
      return Go(ctx_.wizardKind == kKindRelease1 ? WizardRun::migrate : WizardRun::install);
    case kPageRemoveWarning:
      // The removal acts on what this page showed and nothing else.
      ctx_.deleteFiles = view_.Selected(kIdProgramFilesGroup) == kIdDeleteFiles ? 1 : 0;
      BuildRemoveConfirmation();
      page = kPageRemoveConfirm;
      break;
    case kPageRemoveConfirm:
      if (ctx_.wizardKind != kKindRemove) break;
      return Go(WizardRun::remove);
    case kPageClientTerms:
      view_.SetText(kIdNext, kNextText);
      ctx_.wizardKind = kKindClient;
      PrepareFieldPage(kIdAddClient);
      page = kPageCluster;
      break;
    case kPageBetaUpgrade:
      if (ctx_.wizardKind != kKindBetaUpgrade) break;
      return Go(WizardRun::upgrade);
    default:
      break;
  }
  return false;
}

void WizardFlow::Previous() {
  int& page = state_.currentPage;
  if (page == kPageMigration && ctx_.wizardKind == kKindRelease1)
    page = kPageRemoveChoice;
  else if (page == kPageTranslation && state_.kit == kKitClient)
    page = kPageCluster;
  else if (page == kPageSnmp && ctx_.existingCluster != 0)
    page = kPageCluster;
  else if (page == kPageProgress && ctx_.wizardKind == kKindBetaUpgrade)
    page = kPageBetaUpgrade;
  else if (page == kPageProgress && state_.installationFound)
    page = kPageRemoveChoice;
  else if (page == kPageSummary && ctx_.wizardKind == kKindRelease1)
    page = kPageMigration;
  else if (page == kPageClientTerms) {
    view_.SetText(kIdNext, kNextText);
    page = kPageInstallChoice;
  } else if (page > kPageWelcome)
    --page;
  // Going back from the confirmation takes the consent back with it.
  if (page <= kPageRemoveWarning) ctx_.deleteFiles = 0;
}

// ---------------------------------------------------------------- page checks ---------

void WizardFlow::PrepareFieldPage(long choice) {
  const bool cluster = choice == kIdNewCluster;
  view_.Enable(kIdLogDatabaseLabel, cluster);
  view_.Enable(kIdLogDatabase, cluster);
  view_.SetText(kIdLogDatabase, cluster ? "QTWLOG.ODB" : "");
  static const struct {
    long check, label, editor;
    const char* name;
  } kOptional[] = {{kIdCreateVault, kIdVaultDatabaseLabel, kIdVaultDatabase, "QTWVLT.ODB"},
                   {kIdInstallDocs, kIdDocDatabaseLabel, kIdDocDatabase, "QTW20DOC.ODB"}};
  for (const auto& o : kOptional) {
    view_.SetChecked(o.check, cluster);
    for (long c : {o.check, o.label, o.editor}) view_.Enable(c, cluster);
    view_.SetText(o.editor, cluster ? o.name : "");
  }
  ctx_.existingCluster = cluster ? 0 : 1;
  // Only a new cluster's road passes the migration page: no other road keeps its answer.
  if (!cluster) ctx_.migrateRelease1 = 0;
  state_.kit = choice == kIdAddClient ? kKitClient : kKitServer;
  state_.kitWord = choice == kIdAddClient ? "Client" : "Server";
  view_.SetText(kIdMemberNameLabel, "Tarnway " + state_.kitWord + " Name:");
}

bool WizardFlow::ValidateClusterPage() {
  std::string complaint;
  const std::string kitWord = state_.kitWord;
  const std::string memberWhat = "Tarnway " + kitWord + " Name";
  struct Answer {
    Field field;
    long editor;
    bool wanted;
  } answers[] = {
      {F(ctx_.memberName, memberWhat.c_str()), kIdMemberName, true},
      {F(ctx_.adminServer, "Ordex Server Name"), kIdAdminServer, true},
      {F(ctx_.adminDatabase, "Administrator Database Filename"), kIdAdminDatabase, true},
      {F(ctx_.logDatabase, "Log Database Filename"), kIdLogDatabase, true},
      {F(ctx_.vaultDatabase, "Vault Database Filename"), kIdVaultDatabase,
       view_.Checked(kIdCreateVault)},
      {F(ctx_.docDatabase, "Documentation Database Filename"), kIdDocDatabase,
       view_.Checked(kIdInstallDocs)},
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
  uint32_t status = 0;
  if (ctx_.existingCluster == 0) {
    const struct {
      bool wanted;
      const char* file;
      uint32_t unusable;
    } made[] = {{true, ctx_.adminDatabase, TWFAIL_SETUP_OPEN_ADMIN},
                {true, ctx_.logDatabase, TWFAIL_SETUP_CREATE_LOG},
                {ctx_.createVault != 0, ctx_.vaultDatabase, TWFAIL_SETUP_CREATE_VAULT}};
    for (const auto& m : made) {
      if (!m.wanted) continue;
      const DatabaseKind kind = SetupDatabaseKind(ctx_.adminServer, m.file, &status);
      // A database that cannot be opened (a server that does not exist) is not taken.
      if (kind == DatabaseKind::unusable) return FailUnusable(m.unusable, m.file, status);
      if (kind != DatabaseKind::none)
        return Fail("The database '" + std::string(m.file) +
                    "' already exists.\nChoose another Database Filename.");
    }
    return true;
  }
  switch (SetupDatabaseKind(ctx_.adminServer, ctx_.adminDatabase, &status)) {
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
  return FailUnusable(TWFAIL_SETUP_OPEN_ADMIN, ctx_.adminDatabase, status);
}

bool WizardFlow::FailUnusable(uint32_t message, const char* file, uint32_t status) {
  std::string reason;
  SetupAppendPlexaError(status, ctx_, reason);
  return Fail(Format(Message(message), file) + "." + reason);
}

bool WizardFlow::ValidateMigrationPage() {
  ctx_.migrateRelease1 = view_.Checked(kIdMigrate) ? 1 : 0;
  if (ctx_.migrateRelease1 == 0) return true;
  std::string complaint;
  if (!Put(F(ctx_.release1Server, "Release 1 Ordex Server Name"), view_.Text(kIdRelease1Server),
           &complaint) ||
      !Put(F(ctx_.release1Database, "Release 1 Administrator Database Filename"),
           view_.Text(kIdRelease1Database), &complaint))
    return Fail(complaint);
  if (ctx_.release1Database[0] == '\0')
    return Fail("You must supply the\nAdministrator Database Filename.");
  uint32_t status = 0;
  const DatabaseKind r1 = SetupDatabaseKind(ctx_.release1Server, ctx_.release1Database, &status);
  if (r1 == DatabaseKind::none)
    return Fail(Format(Message(TWFAIL_SETUP_NO_ADMIN), ctx_.release1Database) + ".");
  if (r1 == DatabaseKind::unusable)
    return FailUnusable(TWFAIL_SETUP_OPEN_ADMIN, ctx_.release1Database, status);
  if (ctx_.wizardKind != kKindRelease1) return true;
  // The migration goes into the Administrator this installation names.
  const std::string ini = WithSlash(ctx_.installDir) + kIniName;
  IniValue server = ReadIni(ini, "AdminServer");
  IniValue database = ReadIni(ini, "AdminDatabase");
  bool serverOk = server.Fits(sizeof ctx_.adminServer) || (server.status == TWFAIL_INI_MISSING_KEY);
  if (!serverOk || !database.Fits(sizeof ctx_.adminDatabase)) return Fail(InvalidIniText());
  (void)SetField(ctx_.adminServer, server.text);
  (void)SetField(ctx_.adminDatabase, database.text);
  view_.SetText(kIdSummaryText, MigrationText(ctx_));
  return true;
}

bool WizardFlow::TakeDigit(long group, long first, char (&field)[256], const char* complaint) {
  const long choice = view_.Selected(group);
  if (choice < first || choice > first + 2) return Fail(complaint);
  const char digit[2] = {static_cast<char>('0' + choice - first), '\0'};
  (void)SetField(field, digit);
  return true;
}

bool WizardFlow::ValidateSnmpPage() {
  return TakeDigit(kIdSnmpGroup, kIdSnmpNone, ctx_.snmpMode,
                   "You must select a SNMP Support Setting.");
}

bool WizardFlow::ValidateTranslationPage() {
  return TakeDigit(kIdTranslateGroup, kIdTranslateOff, ctx_.translateMode,
                   "You must select a Text Translation Setting.");
}

bool WizardFlow::ValidateDirectoryPage() {
  std::string dir = view_.Text(kIdDirectory);
  if (dir.empty()) return Fail("You must supply the Tarnway Directory.");
  if (dir[0] != '/') return Fail("The Tarnway Directory must be a full path\nbeginning with '/'.");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string bare = dir;
  dir = WithSlash(dir);
  // The "/" that every later step relies on must fit the field too.
  if (dir.size() >= sizeof ctx_.installDir)
    return Fail("The Tarnway Directory is too long\n(at most " +
                std::to_string(sizeof ctx_.installDir - 2) + " characters).");
  bool exists = false;
  if (!Writable(bare, &exists))
    return Fail(
        (exists ? "Setup cannot write to the directory\n" : "Setup cannot create the directory\n") +
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
  view_.SetText(kIdRemoveMemberText, RemoveMemberChoiceText(state_.kitWord));
  return true;
}

void WizardFlow::CheckBetaInstallation(const std::string& ini) {
  view_.MakeProgressReadOnly();
  view_.SetChecked(kIdSystemSettings, true);
  view_.SetChecked(kIdMigrate, false);
  for (long id = kIdRelease1Title; id <= kIdRelease1Database; ++id) view_.Enable(id, false);
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
                (server.Fits(sizeof ctx_.adminServer) || server.status == TWFAIL_INI_MISSING_KEY) &&
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
  state_.kit = kit.text[0] == '1' ? kKitClient : kKitServer;
  state_.kitWord = state_.kit == kKitClient ? "Client" : "Server";
  ctx_.wizardKind = kKindBetaUpgrade;
  ctx_.existingCluster = 1;
  view_.SetText(kIdBetaText, BetaUpgradeText(ctx_.installDir));
  state_.currentPage = kPageBetaUpgrade;
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
  return SetupDirIsReadOnly(setupDir) ? kFallbackInstallDir : WithSlash(setupDir);
}

}  // namespace tw::install::gui
