// The wizard's roads and page checks on the real instgui: the test runs it as a program of
// its own on the test's display and goes Next, Previous and through the choices as a person
// would, reading pages, buttons and message boxes back through Win32.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "install_util.h"
#include "plat_test_util.h"
#include "process_util.h"
#include "setup_context.h"
#include "setup_wizard.h"
#include "wizard_driver.h"

namespace {

namespace fs = std::filesystem;
namespace gui = tw::install::gui;
using wizdrv::Handle;
using wizdrv::Kind;

// A control that only its own page shows, for each page.
constexpr std::pair<long, int> kPageOf[] = {{gui::kIdWelcomeText, gui::kPageWelcome},
                                            {gui::kIdAddClientText, gui::kPageInstallChoice},
                                            {gui::kIdAdminServer, gui::kPageCluster},
                                            {gui::kIdRelease1Title, gui::kPageMigration},
                                            {gui::kIdSnmpGroup, gui::kPageSnmp},
                                            {gui::kIdTranslateHelp, gui::kPageTranslation},
                                            {gui::kIdDirectoryLabel, gui::kPageDirectory},
                                            {gui::kIdSummaryText, gui::kPageSummary},
                                            {gui::kIdProgress, gui::kPageProgress},
                                            {gui::kIdMigrateChoiceText, gui::kPageRemoveChoice},
                                            {gui::kIdProgramFilesGroup, gui::kPageRemoveWarning},
                                            {gui::kIdRemoveConfirmText, gui::kPageRemoveConfirm},
                                            {gui::kIdClientTerms, gui::kPageClientTerms},
                                            {gui::kIdBetaText, gui::kPageBetaUpgrade}};

// One instgui on the display, killed when the object goes.
class Wizard {
 public:
  Wizard(const std::string& kit, const std::vector<std::string>& overrides) {
    EXPECT_TRUE(child_.Start({kit + "instgui", "QUILBOX"}, twtest::EnvWith(overrides), kit, false));
    // The wizard, or the box of a start that failed.
    Wait([&] {
      window_ = wizdrv::FindTop(gui::kWizardTitle);
      return window_ != nullptr || wizdrv::FindTop("Setup Error", "#32770") != nullptr;
    });
  }

  // Waits until pred holds or the program has ended; pred's answer.
  bool Wait(const std::function<bool()>& pred) {
    while (!pred()) {
      if (code_ != -2) return pred();
      code_ = child_.WaitExit(0);
      wizdrv::Breathe();
    }
    return true;
  }

  Handle Window() const { return window_; }
  Handle Control(long id, Kind kind = Kind::notRadio) {
    Handle h = window_ != nullptr ? wizdrv::FindControl(window_, id, kind) : nullptr;
    EXPECT_NE(h, nullptr) << "no control " << id;
    return h;
  }
  int Page() {
    for (auto [id, page] : kPageOf)
      if (Handle h = wizdrv::FindControl(window_, id, Kind::notRadio); h && wizdrv::Visible(h))
        return page;
    return -1;
  }
  // A click on a control that a person can click now.
  void Click(long id, Kind kind = Kind::notRadio) {
    Handle h = Control(id, kind);
    ASSERT_TRUE(h && wizdrv::Visible(h) && wizdrv::Enabled(h)) << "control " << id;
    wizdrv::Click(h);
  }
  // The message of the error box the last click opened, answered with OK.
  std::string ErrorBox() {
    Handle box = nullptr;
    Wait([&] { return (box = wizdrv::FindTop(gui::kErrorTitle, "#32770")) != nullptr; });
    if (box == nullptr) return "(no box)";
    std::string text = wizdrv::BoxMessage(box);
    wizdrv::Click(wizdrv::FindControl(box, 1));
    Wait([&] { return wizdrv::FindTop(gui::kErrorTitle, "#32770") == nullptr; });
    return text;
  }
  // Quit ends the program with 0.
  void Quit() {
    Click(gui::kIdQuit);
    Wait([] { return false; });
    EXPECT_EQ(code_, 0);
  }

 private:
  twtest::ChildProcess child_;
  int code_ = -2;  // the exit code once the program ended
  Handle window_ = nullptr;
};

class InstguiRoadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_ = base_.path() + "kit/";
    fs::create_directories(kit_);
    fs::create_directories(base_.path() + "home");
    for (const auto& entry : fs::directory_iterator(twtest::BuildInstDir()))
      if (entry.is_regular_file() && entry.path().filename() != "twmain.ini" &&
          !twtest::IsEngineSideFile(entry.path().filename()))
        fs::create_symlink(fs::canonical(entry.path()), kit_ + entry.path().filename().string());
  }

  std::vector<std::string> Env() {
    return {"HOME=" + base_.path() + "home", "TWSETUPFONT=", "PLEXA_ROOT=" + Root()};
  }
  std::string Root() { return base_.path() + "ordex"; }

  // A cluster whose Administrator is admin, made by the install library in a directory of
  // its own, so that joining it and refusing its names can be tried.
  void MakeCluster(const std::string& admin) {
    const std::string dir = base_.path() + "hub/";
    fs::create_directories(dir);
    for (const char* t : {"QTWADM.OTM", "QTWLOG.OTM"})
      fs::create_symlink(fs::canonical(kit_ + t), dir + t);
    twtest::ScopedEnv root("PLEXA_ROOT", Root().c_str());
    tw::install::SetupContext ctx{};
    using tw::install::SetField;
    ASSERT_TRUE(SetField(ctx.installDir, dir) && SetField(ctx.setupDir, dir) &&
                SetField(ctx.memberName, "HUB") && SetField(ctx.adminDatabase, admin) &&
                SetField(ctx.logDatabase, admin + ".log") && SetField(ctx.kitType, "2") &&
                SetField(ctx.snmpMode, "0") && SetField(ctx.translateMode, "0"));
    std::string out;
    ASSERT_EQ(tw::install::SetupPlexaInit(out), 0u) << out;
    EXPECT_EQ(tw::install::SetupCreateCluster(ctx, out), 0u) << out;
    tw::install::SetupPlexaTerm();
  }

  twtest::TempDir base_;
  std::string kit_;
};

// One user action and what the wizard shows after it.
struct Step {
  long id;
  int page;
  Kind kind = Kind::notRadio;
  const char* typed = nullptr;  // typed into the control instead of a click
};

TEST_F(InstguiRoadsTest, EveryTaskGoesForwardAndBackOnItsRoad) {
  MakeCluster("qtwadm.odx");
  using namespace gui;
  struct Road {
    const char* name;
    const char* ini;  // the kit's twmain.ini ("@": the kit's directory), null for none
    std::vector<Step> steps;
  } roads[] = {
      {"new cluster",
       nullptr,
       {{kIdNext, kPageInstallChoice},
        {kIdNewCluster, kPageCluster},
        {kIdMemberName, kPageCluster, Kind::notRadio, "FIRST"},
        {kIdAdminDatabase, kPageCluster, Kind::notRadio, "fresh.odx"},
        {kIdNext, kPageMigration},
        {kIdPrevious, kPageCluster},
        {kIdNext, kPageMigration},
        {kIdNext, kPageSnmp},
        {kIdSnmpFull, kPageSnmp, Kind::radio},
        {kIdNext, kPageTranslation},
        {kIdTranslateOff, kPageTranslation, Kind::radio},
        {kIdNext, kPageDirectory},
        {kIdNext, kPageSummary},
        {kIdPrevious, kPageDirectory},
        {kIdPrevious, kPageTranslation},
        {kIdPrevious, kPageSnmp},
        {kIdPrevious, kPageMigration},
        {kIdPrevious, kPageCluster},
        {kIdPrevious, kPageInstallChoice}}},
      {"additional server",
       nullptr,
       {{kIdNext, kPageInstallChoice},
        {kIdAddServer, kPageCluster},
        {kIdMemberName, kPageCluster, Kind::notRadio, "SECOND"},
        {kIdAdminDatabase, kPageCluster, Kind::notRadio, "qtwadm.odx"},
        {kIdNext, kPageSnmp},
        {kIdPrevious, kPageCluster},
        {kIdNext, kPageSnmp},
        {kIdSnmpNone, kPageSnmp, Kind::radio},
        {kIdNext, kPageTranslation},
        {kIdPrevious, kPageSnmp}}},
      {"development client",
       nullptr,
       {{kIdNext, kPageInstallChoice},
        {kIdAddClient, kPageClientTerms},
        {kIdPrevious, kPageInstallChoice},
        {kIdAddClient, kPageClientTerms},
        {kIdNext, kPageCluster},
        {kIdMemberName, kPageCluster, Kind::notRadio, "DEV"},
        {kIdAdminDatabase, kPageCluster, Kind::notRadio, "qtwadm.odx"},
        {kIdNext, kPageTranslation},
        {kIdPrevious, kPageCluster}}},
      {"installed: removal and migration",
       "[Configuration]\r\nKitType=2\r\nVersion=23\r\n"
       "AdminDatabase=qtwadm.odx\r\nDirectory=@\r\n",
       {{kIdNext, kPageRemoveChoice},
        {kIdRemoveCluster, kPageRemoveWarning},
        {kIdPrevious, kPageRemoveChoice},
        {kIdRemoveMember, kPageRemoveWarning},
        {kIdKeepFiles, kPageRemoveWarning, Kind::radio},
        {kIdNext, kPageRemoveConfirm},
        {kIdPrevious, kPageRemoveWarning},
        {kIdPrevious, kPageRemoveChoice},
        {kIdMigrateChoice, kPageMigration},
        {kIdNext, kPageRemoveChoice},
        {kIdMigrateChoice, kPageMigration},
        {kIdMigrate, kPageMigration},
        {kIdRelease1Database, kPageMigration, Kind::notRadio, "qtwadm.odx"},
        {kIdNext, kPageSummary},
        {kIdPrevious, kPageMigration}}},
      {"Beta installation",
       "[Configuration]\r\nKitType=2\r\nTarnway=OLD\r\n"
       "AdminDatabase=qtwadm.odx\r\nDirectory=@\r\n",
       {{kIdNext, kPageBetaUpgrade}}},
  };
  for (const Road& r : roads) {
    SCOPED_TRACE(r.name);
    fs::remove(kit_ + "twmain.ini");
    if (r.ini != nullptr) {
      std::string ini = r.ini;
      if (size_t at = ini.find('@'); at != std::string::npos) ini.replace(at, 1, kit_);
      twtest::WriteFile(kit_ + "twmain.ini", ini);
    }
    Wizard w(kit_, Env());
    ASSERT_NE(w.Window(), nullptr);
    ASSERT_TRUE(w.Wait([&] { return w.Page() == kPageWelcome; }));
    for (const Step& s : r.steps) {
      SCOPED_TRACE(s.id);
      if (s.typed != nullptr)
        wizdrv::Type(w.Control(s.id), s.typed);
      else
        w.Click(s.id, s.kind);
      EXPECT_TRUE(w.Wait([&] { return w.Page() == s.page; })) << "page " << w.Page();
      // The buttons that stay on every page say where a person can go from here.
      const bool first =
          s.page == kPageInstallChoice || s.page == kPageRemoveChoice || s.page == kPageBetaUpgrade;
      const bool choice = s.page == kPageInstallChoice || s.page == kPageRemoveChoice;
      EXPECT_EQ(wizdrv::Enabled(w.Control(kIdPrevious)), !first);
      EXPECT_EQ(wizdrv::Enabled(w.Control(kIdNext)), !choice);
      EXPECT_EQ(wizdrv::Text(w.Control(kIdNext)),
                s.page == kPageClientTerms ? kAcceptText : kNextText);
    }
    if (std::string(r.name) == "installed: removal and migration") {
      EXPECT_NE(wizdrv::Text(w.Control(kIdSummaryText)).find("database 'qtwadm.odx'"),
                std::string::npos);
    }
    w.Quit();
  }
  // Going back and forth created nothing.
  EXPECT_FALSE(fs::exists(Root() + "/local/fresh.odx"));
}

TEST_F(InstguiRoadsTest, EachPageCheckShowsItsMessageAndThePageStays) {
  MakeCluster("taken.odx");
  using namespace gui;
  const std::string file = base_.path() + "plain";
  twtest::WriteFile(file, "x");
  struct Check {
    std::vector<Step> before;  // from the page reached so far, with good answers
    long control;
    Kind kind;
    std::string answer;  // typed; for a group: none chosen
    std::string message;
  } checks[] = {
      {{{kIdNext, kPageInstallChoice}, {kIdNewCluster, kPageCluster}},
       kIdMemberName,
       Kind::notRadio,
       "",
       "You must supply a name\nfor the Tarnway Server"},
      {{},
       kIdAdminDatabase,
       Kind::notRadio,
       "",
       "You must supply the Administrator\nDatabase Filename."},
      {{}, kIdLogDatabase, Kind::notRadio, "", "You must supply the Log\nDatabase Filename."},
      {{},
       kIdDocDatabase,
       Kind::notRadio,
       "",
       "You must supply the Documentation\nDatabase Filename."},
      {{},
       kIdVaultDatabase,
       Kind::notRadio,
       "",
       "You must supply the Script\nVault Database Filename."},
      {{},
       kIdMemberName,
       Kind::notRadio,
       std::string(256, 'm'),
       "The Tarnway Server Name is too long\n(at most 255 characters)."},
      {{},
       kIdAdminDatabase,
       Kind::notRadio,
       "taken.odx",
       "The database 'taken.odx' already exists.\nChoose another Database Filename."},
      {{{kIdNext, kPageMigration}, {kIdMigrate, kPageMigration}},
       kIdRelease1Database,
       Kind::notRadio,
       "",
       "You must supply the\nAdministrator Database Filename."},
      {{{kIdMigrate, kPageMigration}, {kIdNext, kPageSnmp}},
       kIdSnmpGroup,
       Kind::notRadio,
       "",
       "You must select a SNMP Support Setting."},
      {{{kIdSnmpQuery, kPageSnmp, Kind::radio}, {kIdNext, kPageTranslation}},
       kIdTranslateGroup,
       Kind::notRadio,
       "",
       "You must select a Text Translation Setting."},
      {{{kIdTranslateOn, kPageTranslation, Kind::radio}, {kIdNext, kPageDirectory}},
       kIdDirectory,
       Kind::notRadio,
       "",
       "You must supply the Tarnway Directory."},
      {{},
       kIdDirectory,
       Kind::notRadio,
       "relative",
       "The Tarnway Directory must be a full path\nbeginning with '/'."},
      {{},
       kIdDirectory,
       Kind::notRadio,
       "/" + std::string(254, 'd'),
       "The Tarnway Directory is too long\n(at most 254 characters)."},
      {{},
       kIdDirectory,
       Kind::notRadio,
       file + "/sub",
       "Setup cannot create the directory\n" + file + "/sub/."},
      // Back to the choices: joining wants an Administrator that is one.
      {{{kIdPrevious, kPageTranslation},
        {kIdPrevious, kPageSnmp},
        {kIdPrevious, kPageMigration},
        {kIdPrevious, kPageCluster},
        {kIdPrevious, kPageInstallChoice},
        {kIdAddServer, kPageCluster}},
       kIdAdminDatabase,
       Kind::notRadio,
       "absent.odx",
       "Cannot locate Tarnway Administrator database 'absent.odx'."},
      {{},
       kIdAdminDatabase,
       Kind::notRadio,
       "taken.odx.log",
       "The database 'taken.odx.log' is not a Tarnway\nAdministrator database."},
  };
  Wizard w(kit_, Env());
  ASSERT_NE(w.Window(), nullptr);
  // The good answer of each control a check spoils, typed again before the next check.
  const std::vector<std::pair<long, std::string>> good = {{kIdMemberName, "FIRST"},
                                                          {kIdAdminDatabase, "fresh.odx"},
                                                          {kIdLogDatabase, "fresh.log"},
                                                          {kIdDocDatabase, "fresh.doc"},
                                                          {kIdVaultDatabase, "fresh.vlt"},
                                                          {kIdRelease1Database, "taken.odx"},
                                                          {kIdDirectory, base_.path() + "target"}};
  // Good answers on the page shown: a joining server's Administrator is the one made above.
  auto answerWell = [&] {
    const bool joining = !wizdrv::Enabled(w.Control(kIdLogDatabase));
    for (const auto& [id, text] : good)
      if (Handle h = wizdrv::FindControl(w.Window(), id, Kind::notRadio); h && wizdrv::Visible(h))
        wizdrv::Type(h, id == kIdAdminDatabase && joining ? "taken.odx" : text);
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.message);
    answerWell();
    for (const Step& s : c.before) {
      w.Click(s.id, s.kind);
      ASSERT_TRUE(w.Wait([&] { return w.Page() == s.page; })) << s.id << " page " << w.Page();
    }
    const int page = w.Page();
    answerWell();
    if (c.control != kIdSnmpGroup && c.control != kIdTranslateGroup)
      wizdrv::Type(w.Control(c.control, c.kind), c.answer);
    w.Click(kIdNext);
    EXPECT_EQ(w.ErrorBox(), c.message);
    EXPECT_EQ(w.Page(), page);
  }
  w.Quit();
  EXPECT_FALSE(fs::exists(Root() + "/local/fresh.odx"));
  EXPECT_FALSE(fs::exists(base_.path() + "target"));
}

// The credits open for the key word typed on the welcome page, and for nothing else.
TEST_F(InstguiRoadsTest, CreditsOpenForTheKeyWordOnTheWelcomePage) {
  Wizard w(kit_, Env());
  ASSERT_NE(w.Window(), nullptr);
  Handle next = w.Control(gui::kIdNext);
  for (char c : std::string("QQuilbo")) wizdrv::Key(next, c);
  // A wrong word leaves the wizard where it was: Next still answers.
  w.Click(gui::kIdNext);
  ASSERT_TRUE(w.Wait([&] { return w.Page() == gui::kPageInstallChoice; }));
  EXPECT_EQ(wizdrv::FindTop("Credits", "#32770"), nullptr);
  w.Quit();

  Wizard again(kit_, Env());
  ASSERT_NE(again.Window(), nullptr);
  for (char c : std::string("Quilbox")) wizdrv::Key(again.Control(gui::kIdNext), c);
  Handle box = nullptr;
  EXPECT_TRUE(again.Wait([&] { return (box = wizdrv::FindTop("Credits", "#32770")) != nullptr; }));
  if (box != nullptr) wizdrv::Click(wizdrv::FindControl(box, 1));
  EXPECT_TRUE(again.Wait([&] { return wizdrv::FindTop("Credits", "#32770") == nullptr; }));
  EXPECT_EQ(again.Page(), gui::kPageWelcome);
  again.Quit();
}

// A choice of a hidden page clicked by a message does nothing: the removal choice sent while
// the cluster page shows leaves Previous to go back to the install choices.
TEST_F(InstguiRoadsTest, HiddenChoicesDoNotAct) {
  Wizard w(kit_, Env());
  ASSERT_NE(w.Window(), nullptr);
  w.Click(gui::kIdNext);
  ASSERT_TRUE(w.Wait([&] { return w.Page() == gui::kPageInstallChoice; }));
  w.Click(gui::kIdNewCluster);
  ASSERT_TRUE(w.Wait([&] { return w.Page() == gui::kPageCluster; }));
  Handle hidden = w.Control(gui::kIdRemoveCluster);
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(wizdrv::Visible(hidden));
  wizdrv::Click(hidden);
  w.Click(gui::kIdPrevious);
  int page = -1;
  ASSERT_TRUE(w.Wait([&] {
    page = w.Page();
    return page == gui::kPageInstallChoice || page == gui::kPageRemoveChoice;
  }));
  EXPECT_EQ(page, gui::kPageInstallChoice);
  w.Quit();
}

}  // namespace
