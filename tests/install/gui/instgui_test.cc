// The windowed installer as a person uses it: instgui runs as a program of its own on the
// test's display, and the test finds its windows through Win32, types into its editors,
// clicks its buttons and reads its texts back. Screenshots of the pages stay under the
// build's artefacts directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "process_util.h"
#include "road_fixture.h"
#include "setup_wizard.h"
#include "store_fixture.h"
#include "twcl/ui/probe.h"
#include "wizard_driver.h"

namespace {

namespace fs = std::filesystem;
namespace gui = tw::install::gui;
using wizdrv::Handle;
using wizdrv::Kind;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Artefacts() {
  const char* build = std::getenv("TW_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/artefacts/";
  fs::create_directories(dir);
  return dir;
}

// One control that shows its page is up.
long PageMark(int page) {
  static const long kMarks[gui::kPageCount] = {
      gui::kIdWelcomeText,       gui::kIdNewClusterText,    gui::kIdMemberName,
      gui::kIdMigrate,           gui::kIdSnmpGroup,         gui::kIdTranslateGroup,
      gui::kIdDirectory,         gui::kIdSummaryText,       gui::kIdProgress,
      gui::kIdRemoveClusterText, gui::kIdRemoveWarningText, gui::kIdRemoveConfirmText,
      gui::kIdClientTerms,       gui::kIdBetaText};
  return kMarks[page];
}

// instgui started from a kit with the launch code, ended (killed) when the object goes.
class Instgui {
 public:
  Instgui(const std::string& program, const std::vector<std::string>& args,
          const std::vector<std::string>& env) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    std::vector<std::string> envs = twtest::EnvWith(env);
    for (auto& s : envs) e.push_back(s.data());
    e.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    EXPECT_GT(pid_, 0) << program;
  }
  ~Instgui() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
  }
  Instgui(const Instgui&) = delete;
  Instgui& operator=(const Instgui&) = delete;

  bool Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = -1;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }
  // The exit code once the program ended by itself.
  int ExitCode() {
    Until([] { return false; });
    return code_;
  }
  // Waits for pred, or for the program's end; pred's answer.
  bool Until(const std::function<bool()>& pred) {
    while (!pred()) {
      if (Ended()) return pred();
      // The library's warnings and fatal errors show as boxes: a fault here, answered so
      // that the wait does not hang on them.
      for (const char* title : {"Warning", "Fatal error"})
        if (Handle box = wizdrv::FindTop(title, "#32770")) {
          ADD_FAILURE() << title << ": " << wizdrv::BoxMessage(box);
          wizdrv::Click(wizdrv::FindControl(box, 1));
        }
      wizdrv::Breathe();
    }
    return true;
  }

  Handle Window() {
    if (!window_) Until([&] { return (window_ = wizdrv::FindTop(gui::kWizardTitle)) != nullptr; });
    return window_;
  }
  Handle Control(long id, Kind kind = Kind::notRadio) {
    Handle h = Window() ? wizdrv::FindControl(Window(), id, kind) : nullptr;
    EXPECT_NE(h, nullptr) << "no control " << id;
    return h;
  }
  std::string Text(long id) { return wizdrv::Text(Control(id)); }
  bool Visible(long id) { return wizdrv::Visible(Control(id)); }
  bool Enabled(long id) { return wizdrv::Enabled(Control(id)); }
  void Type(long id, const std::string& text) { wizdrv::Type(Control(id), text); }
  void Click(long id, Kind kind = Kind::notRadio) {
    Handle h = Control(id, kind);
    EXPECT_TRUE(wizdrv::Visible(h) && wizdrv::Enabled(h)) << "control " << id << " is not usable";
    wizdrv::Click(h);
  }
  // The page whose mark is visible; -1 for none.
  int Page() {
    for (int p = 0; p < gui::kPageCount; ++p)
      if (Handle h = wizdrv::FindControl(Window(), PageMark(p), Kind::notRadio);
          h && wizdrv::Visible(h))
        return p;
    return -1;
  }
  bool WaitPage(int page) {
    return Until([&] { return Page() == page; });
  }
  // Clicks and waits for the page that should follow.
  void Go(long id, int page, Kind kind = Kind::notRadio) {
    Click(id, kind);
    EXPECT_TRUE(WaitPage(page)) << "after " << id << " page " << Page() << " instead of " << page;
  }
  // The message of the next box titled title, answered with OK; "(no box)" when the wizard
  // left the page instead (page -1: the box may come before any page).
  std::string Box(const std::string& title, int page) {
    Handle box = nullptr;
    Until([&] {
      return (box = wizdrv::FindTop(title, "#32770")) != nullptr || (page >= 0 && Page() != page);
    });
    if (!box) return "(no box)";
    std::string text = wizdrv::BoxMessage(box);
    wizdrv::Click(wizdrv::FindControl(box, 1));
    Until([&] { return wizdrv::FindTop(title, "#32770") == nullptr; });
    return text;
  }
  void Shot(const std::string& name) {
    EXPECT_TRUE(wizdrv::Screenshot(Window(), Artefacts() + "instgui-" + name)) << name;
  }
  // Waits for the end of a run: Quit usable again.
  std::string RunOutput() {
    Until([&] { return wizdrv::Enabled(Control(gui::kIdQuit)); });
    return Text(gui::kIdProgress);
  }
  void Quit() {
    Click(gui::kIdQuit);
    EXPECT_EQ(ExitCode(), 0);
  }

 private:
  pid_t pid_ = -1;
  int code_ = -1;
  Handle window_ = nullptr;
};

// A kit: every file of the build's installation directory, linked.
class InstguiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_ = base_.path() + "kit/";
    home_ = base_.path() + "home/";
    fs::create_directories(kit_);
    fs::create_directories(home_);
    twtest::WriteFile(home_ + ".profile", "# mine\n");
    const std::string build = twtest::BuildInstDir();
    for (const auto& entry : fs::directory_iterator(build)) {
      const std::string name = entry.path().filename();
      if (!entry.is_regular_file() || name == "twmain.ini" || twtest::IsEngineSideFile(name))
        continue;
      fs::create_symlink(fs::canonical(entry.path()), kit_ + name);
    }
  }
  std::vector<std::string> Env(const std::string& root = "") {
    std::vector<std::string> env = {"HOME=" + home_, "TWSETUPFONT="};
    if (!root.empty()) env.push_back("PLEXA_ROOT=" + root);
    return env;
  }

  twtest::TempDir base_;
  std::string kit_, home_;
};

// The fixed texts, places and kinds of the controls, and the buttons of the welcome page.
TEST_F(InstguiTest, WelcomePageShowsItsControlsAndQuitEnds) {
  Instgui w(kit_ + "instgui", {"QUILBOX"}, Env());
  ASSERT_NE(w.Window(), nullptr);
  ASSERT_TRUE(w.WaitPage(gui::kPageWelcome));
  w.Shot("page00-welcome");
  struct Want {
    long id;
    Kind kind;
    const char* cls;
    const char* text;  // null: not compared
    long x, y, width, height;
  } wants[] = {
      {gui::kIdPrevious, Kind::notRadio, "Button", "<  Previous", 54, 360, 120, 24},
      {gui::kIdNext, Kind::notRadio, "Button", "Next  >", 228, 360, 120, 24},
      {gui::kIdQuit, Kind::notRadio, "Button", "Quit", 402, 360, 120, 24},
      {gui::kIdWelcomeText, Kind::notRadio, "Static", nullptr, 60, 50, 505, 255},
      {gui::kIdMemberName, Kind::notRadio, "Edit", "", 230, 10, 330, 23},
      {gui::kIdAdminDatabase, Kind::notRadio, "Edit", "QTWADM.ODB", 230, 90, 330, 23},
      {gui::kIdLogDatabase, Kind::notRadio, "Edit", "QTWLOG.ODB", 230, 130, 330, 23},
      {gui::kIdVaultDatabase, Kind::notRadio, "Edit", "QTWVLT.ODB", 230, 210, 330, 23},
      {gui::kIdDocDatabase, Kind::notRadio, "Edit", "QTW20DOC.ODB", 230, 290, 330, 23},
      {gui::kIdMemberNameLabel, Kind::notRadio, "Static", nullptr, 5, 10, 228, 30},
      {gui::kIdSnmpNone, Kind::radio, "Button", "None - Do not allow SNMP Management of Tarnway",
       30, 51, 465, 26},
      {gui::kIdTranslateOn, Kind::radio, "Button",
       "Enabled - Always translate between different character sets", 30, 163, 465, 26},
      {gui::kIdDeleteFiles, Kind::radio, "Button", "Delete Tarnway Program Files", 42, 213, 465,
       26},
      {gui::kIdProgress, Kind::notRadio, "Edit", "", 10, 10, 555, 340},
      {gui::kIdDirectory, Kind::notRadio, "Edit", nullptr, 150, 68, 420, 23},
      {gui::kIdRemoveClusterText, Kind::notRadio, "Static",
       "Remove the Tarnway Cluster\n      Use this option if you want to Delete the entire "
       "Tarnway Cluster, including\n      the Administrator and Log databases from the Ordex "
       "Server.",
       70, 30, 495, 50},
  };
  for (const Want& want : wants) {
    SCOPED_TRACE(want.id);
    Handle h = wizdrv::FindControl(w.Window(), want.id, want.kind);
    ASSERT_NE(h, nullptr);
    UI_ProbeWindow info = UI_ProbeInfo(h);
    EXPECT_EQ(info.cls, want.cls);
    if (want.text) {
      EXPECT_EQ(wizdrv::Text(h), want.text);
    }
    EXPECT_EQ(info.x, want.x);
    EXPECT_EQ(info.y, want.y);
    EXPECT_EQ(info.width, want.width);
    EXPECT_EQ(info.height, want.height);
    // Only the welcome page and the three buttons show.
    bool shown = want.id == gui::kIdWelcomeText || want.id == gui::kIdPrevious ||
                 want.id == gui::kIdNext || want.id == gui::kIdQuit;
    EXPECT_EQ(wizdrv::Visible(h), shown);
  }
  // Paragraphs are set to the left; the short captions keep the labels' centred default.
  const struct {
    long id;
    std::uint32_t align;  // the static style's two low bits: 0 left, 1 centre
  } aligned[] = {{gui::kIdWelcomeText, 0},     {gui::kIdRemoveClusterText, 0},
                 {gui::kIdClientTerms, 0},     {gui::kIdSystemSettingsText, 0},
                 {gui::kIdMemberNameLabel, 1}, {gui::kIdAdminServerLabel, 1},
                 {gui::kIdTranslateHelp, 1},   {gui::kIdDirectoryLabel, 1}};
  for (const auto& a : aligned) {
    SCOPED_TRACE(a.id);
    EXPECT_EQ(UI_ProbeInfo(w.Control(a.id)).style & 3u, a.align);
  }
  // The choice buttons draw their pictures themselves: no push buttons of the system.
  for (long id : {gui::kIdNewCluster, gui::kIdAddServer, gui::kIdAddClient, gui::kIdRemoveCluster,
                  gui::kIdRemoveMember, gui::kIdMigrateChoice}) {
    SCOPED_TRACE(id);
    UI_ProbeWindow info = UI_ProbeInfo(w.Control(id));
    EXPECT_NE(info.cls, "Button");
    EXPECT_EQ(info.width, 60);
    EXPECT_EQ(info.height, 50);
  }
  EXPECT_TRUE(
      Has(w.Text(gui::kIdWelcomeText),
          "Quendal Tarnway Release 2.0\n\n\nWelcome to the Quendal Tarnway Setup program."));
  EXPECT_FALSE(w.Enabled(gui::kIdPrevious));
  EXPECT_TRUE(w.Enabled(gui::kIdNext));
  EXPECT_TRUE(w.Enabled(gui::kIdQuit));
  EXPECT_TRUE(wizdrv::Checked(wizdrv::FindControl(w.Window(), gui::kIdDeleteFiles, Kind::radio)));
  // The kit's own directory takes twmain.ini: it is the directory offered.
  EXPECT_EQ(w.Text(gui::kIdDirectory), kit_);
  // The key word typed on the welcome page opens the credits; the page stays.
  for (char c : std::string(gui::kCreditsWord)) wizdrv::Key(w.Control(gui::kIdNext), c);
  EXPECT_NE(w.Box("Credits", gui::kPageWelcome), "(no box)");
  EXPECT_EQ(w.Page(), gui::kPageWelcome);
  w.Quit();
  EXPECT_EQ(wizdrv::FindTop(gui::kWizardTitle), nullptr);
}

// plexadm over the databases under root; its standard output.
std::string Adm(const std::string& root, const std::vector<std::string>& args) {
  fs::create_directories(root);
  std::vector<std::string> argv = {twtest::BuildInstDir() + "plexadm"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = twtest::InheritedEnv();
  env.push_back("PLEXA_ROOT=" + root);
  twtest::ProcessResult r = twtest::RunProgram(argv, env, root, "", road::kWaitMs);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

// Fills the cluster page and answers the pages up to the summary of one installation.
struct Answers {
  const char* member;
  const char* logDatabase;  // null: the page has none (joining)
  int snmpRadio;            // 0: the page is not on the road
  const char* directory;
};

void AnswerFieldPages(Instgui& w, const Answers& a) {
  w.Type(gui::kIdMemberName, a.member);
  w.Type(gui::kIdAdminDatabase, "qtwadm.odx");
  if (a.logDatabase) {
    w.Type(gui::kIdLogDatabase, a.logDatabase);
    w.Type(gui::kIdVaultDatabase, "qtwvlt.odx");
    w.Type(gui::kIdDocDatabase, "qtwdoc.odx");
  }
}

// Next through the pages after the cluster page, as the task's road has them, to the end of
// the run; the run's progress text.
std::string FinishInstall(Instgui& w, const Answers& a, const std::string& shots) {
  if (a.logDatabase) {
    w.Go(gui::kIdNext, gui::kPageMigration);
    if (!shots.empty()) w.Shot(shots + "03-migration");
    EXPECT_FALSE(w.Enabled(gui::kIdRelease1Database));
  }
  if (a.snmpRadio) {
    w.Go(gui::kIdNext, gui::kPageSnmp);
    if (!shots.empty()) w.Shot(shots + "04-snmp");
    w.Click(a.snmpRadio, Kind::radio);
  }
  w.Go(gui::kIdNext, gui::kPageTranslation);
  if (!shots.empty()) w.Shot(shots + "05-translation");
  w.Click(gui::kIdTranslateOff, Kind::radio);
  w.Go(gui::kIdNext, gui::kPageDirectory);
  w.Type(gui::kIdDirectory, a.directory);
  if (!shots.empty()) w.Shot(shots + "06-directory");
  w.Go(gui::kIdNext, gui::kPageSummary);
  if (!shots.empty()) w.Shot(shots + "07-summary");
  EXPECT_TRUE(Has(w.Text(gui::kIdSummaryText), std::string("Name:  ") + a.member))
      << w.Text(gui::kIdSummaryText);
  w.Go(gui::kIdNext, gui::kPageProgress);
  std::string out = w.RunOutput();
  if (!shots.empty()) w.Shot(shots + "08-progress");
  EXPECT_TRUE(wizdrv::ReadOnly(w.Control(gui::kIdProgress)));
  return out;
}

// A removal through the installation's own instgui: page 9, the choice, the warning with
// "delete the program files", the confirmation, the run.
std::string Remove(Instgui& w, long choice, bool keepFiles, const std::string& shots) {
  w.Go(gui::kIdNext, gui::kPageRemoveChoice);
  if (!shots.empty()) w.Shot(shots + "09-remove-choice");
  w.Go(choice, gui::kPageRemoveWarning);
  if (!shots.empty()) w.Shot(shots + "10-remove-warning");
  EXPECT_TRUE(wizdrv::Checked(wizdrv::FindControl(w.Window(), gui::kIdDeleteFiles, Kind::radio)));
  if (keepFiles) w.Click(gui::kIdKeepFiles, Kind::radio);
  w.Go(gui::kIdNext, gui::kPageRemoveConfirm);
  if (!shots.empty()) w.Shot(shots + "11-remove-confirm");
  EXPECT_TRUE(Has(w.Text(gui::kIdRemoveConfirmText),
                  keepFiles ? "keep the installation files" : "DELETE the installation files"))
      << w.Text(gui::kIdRemoveConfirmText);
  w.Go(gui::kIdNext, gui::kPageProgress);
  return w.RunOutput();
}

// A whole cluster through the wizard: a new cluster through every page, twmain started on
// what it wrote and running a scheduled transfer; a development client and an additional
// server joining; a Beta installation upgraded; a Release 1 Administrator migrated; then the
// client removed keeping its files, the additional server and the cluster removed with
// theirs, leaving no installation directory behind.
TEST_F(InstguiTest, ClusterInstalledRunAndRemovedThroughTheWizard) {
  const std::string inst = base_.path() + "first/";
  const std::string root = inst + "ordex";
  const std::string congratulations = "Congratulations!  You have successfully installed Tarnway.";
  {
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
    ASSERT_NE(w.Window(), nullptr);
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Shot("page01-install-choice");
    for (long id : {gui::kIdNewCluster, gui::kIdAddServer, gui::kIdAddClient})
      EXPECT_GE(wizdrv::Colours(w.Control(id)), 5u) << id << " shows no picture";
    w.Go(gui::kIdNewCluster, gui::kPageCluster);
    EXPECT_EQ(w.Text(gui::kIdMemberNameLabel), "Tarnway Server Name:");
    const Answers a = {"ROAD", "qtwlog.odx", gui::kIdSnmpNone, inst.c_str()};
    AnswerFieldPages(w, a);
    w.Shot("page02-cluster");
    std::string out = FinishInstall(w, a, "page");
    EXPECT_TRUE(Has(out, "\r\n" + congratulations)) << out;
    EXPECT_FALSE(Has(out, "Please correct the situation")) << out;
    w.Quit();
  }
  const std::string ini = twtest::ReadFile(inst + "twmain.ini");
  for (const char* line : {"KitType=2\r\n", "Tarnway=ROAD\r\n", "AdminDatabase=qtwadm.odx\r\n",
                           "Version=23\r\n", "SNMP=0\r\n"})
    EXPECT_TRUE(Has(ini, line)) << line << ini;
  EXPECT_TRUE(Has(ini, "Directory=" + inst + "\r\n")) << ini;
  for (const char* name :
       {"twmain", "taskrun", "ctlstore", "instgui", "instgui.exe.so", "ordex/local/qtwadm.odx",
        "ordex/local/qtwlog.odx", "ordex/local/qtwvlt.odx", "ordex/local/qtwdoc.odx"})
    EXPECT_TRUE(fs::exists(inst + name)) << name;
  const std::string member = Adm(
      root, {"search", "qtwadm.odx", "select Name = 'ROAD'", "--form", "Configuration\\Server"});
  ASSERT_FALSE(member.empty());

  // twmain starts on the installation and runs a scheduled transfer defined in it.
  if (fs::exists(inst + "flatrec.twx") && fs::exists(inst + "direct.twx")) {
    Adm(root,
        {"put", "qtwadm.odx", member.substr(0, member.find('\t')), "PollInterval", "number", "1"});
    twtest::WriteFile(inst + "in.txt", "1,alpha\n2,beta\n3,gamma delta\n");
    twtest::WriteFile(inst + "rows.zid", "ID TYPE NUMBER DELIM ,\nWORD TYPE TEXT\n");
    for (auto [name, file, kind] :
         {std::tuple{"In", "in.txt", "SOURCE"}, std::tuple{"Out", "out.txt", "DESTINATION"}})
      Adm(root,
          {"new", "qtwadm.odx", "Link\\Flatrec", std::string("Name=") + name,
           "Database=" + inst + file, "ZID=@" + inst + "rows.zid", std::string("Linktype=") + kind,
           "PropNameList:textlist=Database,ZID,Linktype", "PropTokenList:numberlist=65538,15,16"});
    Adm(root, {"new", "qtwadm.odx", "Activity\\Direct Transfer", "Name=Copy", "SrcLink=In",
               "DestLink=Out", "OneTime:number=1"});
    road::Twmain server(inst);
    EXPECT_TRUE(road::Within(
        road::kWaitMs,
        [&] {
          return Has(Adm(root, {"export", "qtwlog.odx", "--form", "Activity"}), "\"FinishTime\"");
        }))
        << server.Out() << server.Err();
    server.Type("D\n");
    EXPECT_EQ(server.Wait(road::kWaitMs), 0) << server.Err();
    EXPECT_TRUE(Has(server.Out(), "Activity 'Copy' completed successfully.")) << server.Out();
    EXPECT_TRUE(Has(twtest::ReadFile(inst + "out.txt"), "gamma delta"));
  } else {
    ADD_FAILURE() << "the build made no flatrec.twx or direct.twx";
  }

  // A development client joins: it accepts the terms and never sees the SNMP page.
  EXPECT_TRUE(Has(twtest::ReadFile(home_ + ".config/tarnway/path.sh"), inst));
  const std::string client = base_.path() + "client/";
  {
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Go(gui::kIdAddClient, gui::kPageClientTerms);
    w.Shot("page12-client-terms");
    EXPECT_EQ(w.Text(gui::kIdNext), "I ACCEPT");
    w.Go(gui::kIdNext, gui::kPageCluster);
    EXPECT_EQ(w.Text(gui::kIdNext), "Next  >");
    EXPECT_EQ(w.Text(gui::kIdMemberNameLabel), "Tarnway Client Name:");
    EXPECT_FALSE(w.Enabled(gui::kIdLogDatabase));
    const Answers a = {"DEVCLIENT", nullptr, 0, client.c_str()};
    AnswerFieldPages(w, a);
    std::string out = FinishInstall(w, a, "");
    EXPECT_TRUE(Has(out, congratulations)) << out;
    w.Quit();
  }
  EXPECT_TRUE(Has(twtest::ReadFile(client + "twmain.ini"), "KitType=1\r\n"));
  EXPECT_FALSE(fs::exists(client + "twmain"));

  // An additional server joins: no migration page.
  const std::string second = base_.path() + "second/";
  {
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Go(gui::kIdAddServer, gui::kPageCluster);
    const Answers a = {"SECOND", nullptr, gui::kIdSnmpQuery, second.c_str()};
    AnswerFieldPages(w, a);
    std::string out = FinishInstall(w, a, "");
    EXPECT_TRUE(Has(out, congratulations)) << out;
    w.Quit();
  }
  EXPECT_TRUE(Has(twtest::ReadFile(second + "twmain.ini"), "SNMP=1\r\n"));
  EXPECT_FALSE(Adm(root, {"search", "qtwadm.odx", "select Name = 'SECOND'", "--form",
                          "Configuration\\Server"})
                   .empty());

  // A Beta installation (no Version in its twmain.ini) of a server is upgraded: the server's
  // program files are copied as well as the client's.
  const std::string beta = base_.path() + "beta/";
  const std::string betaKit = base_.path() + "betakit/";
  fs::create_directories(beta);
  fs::create_directories(betaKit);
  for (const auto& entry : fs::directory_iterator(kit_))
    fs::create_symlink(fs::read_symlink(entry.path()), betaKit + entry.path().filename().string());
  const std::string betaIni =
      "[Configuration]\r\nKitType=2\r\nTarnway=BETA\r\nAdminServer=\r\n"
      "AdminDatabase=qtwadm.odx\r\nDirectory=" +
      beta + "\r\n";
  twtest::WriteFile(betaKit + "twmain.ini", betaIni);
  twtest::WriteFile(beta + "twmain.ini", betaIni);
  {
    Instgui w(betaKit + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageBetaUpgrade);
    w.Shot("page13-beta-upgrade");
    EXPECT_TRUE(Has(w.Text(gui::kIdBetaText), beta)) << w.Text(gui::kIdBetaText);
    w.Go(gui::kIdNext, gui::kPageProgress);
    std::string out = w.RunOutput();
    EXPECT_TRUE(Has(out, "Upgrade completed successfully.")) << out;
    w.Quit();
  }
  for (const char* name : {"twmain", "taskrun", "direct.twx", "instcon", "libplexapi.so"})
    EXPECT_TRUE(fs::exists(beta + name)) << name;
  EXPECT_TRUE(Has(twtest::ReadFile(beta + "twmain.ini"), "Version=23\r\n"));

  // A Release 1 Administrator made here is migrated into the cluster through page 9.
  {
    const std::string templ = base_.path() + "release1.otm";
    twtest::ProcessResult r = twtest::RunProgram(
        {twtest::BuildInstDir() + "plexadm", "build-template", TW_RELEASE1_JSON, templ},
        twtest::InheritedEnv(), base_.path(), "", road::kWaitMs);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Adm(root, {"create", "release1.odx", "--template", templ});
    Adm(root,
        {"new", "release1.odx", "Link\\Flatrec", "Name=OldLink", "Database=" + inst + "x",
         "Userid=@" + inst + "rows.zid", "Password=SOURCE",
         "PropNameList:textlist=Database,Userid,Password", "PropTokenList:numberlist=65538,15,16"});
    Instgui w(inst + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageRemoveChoice);
    w.Go(gui::kIdMigrateChoice, gui::kPageMigration);
    w.Click(gui::kIdMigrate);
    w.Type(gui::kIdRelease1Database, "release1.odx");
    w.Go(gui::kIdNext, gui::kPageSummary);
    EXPECT_TRUE(Has(w.Text(gui::kIdSummaryText), "database 'release1.odx'"))
        << w.Text(gui::kIdSummaryText);
    w.Go(gui::kIdNext, gui::kPageProgress);
    std::string out = w.RunOutput();
    EXPECT_TRUE(Has(out, "Upgrade completed successfully.")) << out;
    w.Quit();
    EXPECT_TRUE(Has(Adm(root, {"export", "qtwadm.odx", "--form", "Link\\Flatrec"}), "OldLink"));
  }

  // The members, then the cluster, removed by their own instgui.
  struct Removal {
    std::string dir;
    long choice;
    bool keepFiles;
    const char* shots;
  } removals[] = {{client, gui::kIdRemoveMember, true, ""},
                  {second, gui::kIdRemoveMember, false, ""},
                  {inst, gui::kIdRemoveCluster, false, "page"}};
  for (const Removal& r : removals) {
    SCOPED_TRACE(r.dir);
    Instgui w(r.dir + "instgui", {"QUILBOX"}, Env(root));
    std::string out = Remove(w, r.choice, r.keepFiles, r.shots);
    EXPECT_TRUE(Has(out, "Tarnway has been removed.")) << out;
    w.Quit();
    // The files go only when the warning page said so.
    EXPECT_EQ(fs::exists(r.dir + "instgui.exe.so"), r.keepFiles) << r.dir;
    EXPECT_EQ(fs::exists(r.dir), r.keepFiles) << r.dir;
    // With its files the installation leaves the PATH snippet and the program item.
    EXPECT_EQ(Has(twtest::ReadFile(home_ + ".config/tarnway/path.sh"), r.dir), r.keepFiles);
  }
  EXPECT_FALSE(fs::exists(home_ + ".local/share/applications/quendal-applications/"
                                  "tarnway-2.0.desktop"));
}

// A cluster whose databases a server held in PostgreSQL keeps: the name that the data root's
// server map gives that server is typed on the cluster page; a server of another
// installation, with a data root of its own mapping the same name, joins the cluster the
// same way; the removals through their own instgui take the databases out of PostgreSQL.
TEST_F(InstguiTest, ClusterOnAServerHeldInPostgreSQL) {
  storetest::Store store;
  ASSERT_NO_FATAL_FAILURE(store.SetUp(storetest::Engine::kPostgres, base_.path()));
  if (store.skipped()) GTEST_SKIP() << store.skipped();
  const std::string map = twtest::ReadFile(base_.path() + "servers.map");
  const std::string hub = base_.path() + "hub/", spoke = base_.path() + "spoke/";
  // Port 1 of the loopback: nobody listens there.
  const std::string silent = "silent host=127.0.0.1 port=1 user=tw dbname=" + store.dbname() + "\n";
  for (const std::string& dir : {hub, spoke})
    twtest::WriteFile(dir + "ordex/servers.map", map + silent);
  struct Member {
    std::string dir;
    long choice;
    Answers answers;
  } members[] = {{hub, gui::kIdNewCluster, {"HUB", "qtwlog.odx", gui::kIdSnmpNone, hub.c_str()}},
                 {spoke, gui::kIdAddServer, {"SPOKE", nullptr, gui::kIdSnmpNone, spoke.c_str()}}};
  for (const Member& m : members) {
    SCOPED_TRACE(m.answers.member);
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(m.dir + "ordex"));
    ASSERT_NE(w.Window(), nullptr);
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Go(m.choice, gui::kPageCluster);
    // A mapped server whose PostgreSQL does not answer is refused while the page shows.
    w.Type(gui::kIdAdminServer, "silent");
    AnswerFieldPages(w, m.answers);
    w.Click(gui::kIdNext);
    const std::string box = w.Box(gui::kErrorTitle, gui::kPageCluster);
    EXPECT_EQ(box.rfind("Cannot open Tarnway Administrator database 'qtwadm.odx'.", 0), 0u) << box;
    EXPECT_EQ(w.Page(), gui::kPageCluster);
    w.Type(gui::kIdAdminServer, storetest::Store::kServer);
    const std::string out = FinishInstall(w, m.answers, "");
    EXPECT_TRUE(Has(out, "Congratulations!")) << out;
    w.Quit();
    EXPECT_TRUE(Has(twtest::ReadFile(m.dir + "twmain.ini"), "AdminServer=cluster\r\n"));
    // Nothing of the cluster is a file of the installation.
    for (const char* file : {"qtwadm.odx", "qtwlog.odx", "qtwvlt.odx", "qtwdoc.odx"})
      EXPECT_FALSE(fs::exists(m.dir + "ordex/local/" + file)) << m.dir << file;
  }
  const std::string held = Adm(spoke + "ordex", {"list", "--server", "cluster"});
  for (const char* line : {"qtwadm.odx\tTarnway Administrator\n", "qtwlog.odx\tTarnway Log\n",
                           "qtwvlt.odx\tTarnway Script Vault\n", "qtwdoc.odx\t"})
    EXPECT_TRUE(Has(held, line)) << line << held;
  const std::string servers = Adm(spoke + "ordex", {"view", "cluster!!qtwadm.odx", "(CS_Servers)"});
  EXPECT_TRUE(Has(servers, "HUB") && Has(servers, "SPOKE")) << servers;

  for (const Member& m : {members[1], members[0]}) {
    SCOPED_TRACE(m.answers.member);
    Instgui w(m.dir + "instgui", {"QUILBOX"}, Env(m.dir + "ordex"));
    const std::string out =
        Remove(w, m.choice == gui::kIdNewCluster ? gui::kIdRemoveCluster : gui::kIdRemoveMember,
               false, "");
    EXPECT_TRUE(Has(out, "Tarnway has been removed.")) << out;
    w.Quit();
    EXPECT_FALSE(fs::exists(m.dir)) << m.dir;
  }
  twtest::WriteFile(base_.path() + "check/servers.map", map);
  EXPECT_EQ(Adm(base_.path() + "check", {"list", "--server", "cluster"}), "");
}

// Each page's check refuses a bad answer with its message box and keeps the page; nothing is
// created by the refused answers.
TEST_F(InstguiTest, PageChecksRefuseBadAnswers) {
  const std::string root = base_.path() + "ordex";
  const std::string inst = base_.path() + "never/";
  Adm(root, {"create", "other.odx"});
  struct Case {
    int page;
    std::vector<std::pair<long, std::string>> typed;
    long click;  // a check box or radio button clicked before Next (0: none)
    std::string message;
  };
  const std::string longDir = "/" + std::string(254, 'd');
  twtest::WriteFile(base_.path() + "afile", "");
  const std::string blocked = base_.path() + "afile/tarnway";
  const std::vector<Case> newCluster = {
      {gui::kPageCluster,
       {{gui::kIdMemberName, ""}},
       0,
       "You must supply a name\nfor the Tarnway Server"},
      {gui::kPageCluster,
       {{gui::kIdMemberName, "ROAD"}, {gui::kIdAdminDatabase, ""}},
       0,
       "You must supply the Administrator\nDatabase Filename."},
      {gui::kPageCluster,
       {{gui::kIdAdminDatabase, "a.odx"}, {gui::kIdLogDatabase, ""}},
       0,
       "You must supply the Log\nDatabase Filename."},
      {gui::kPageCluster,
       {{gui::kIdLogDatabase, "l.odx"}, {gui::kIdDocDatabase, ""}},
       0,
       "You must supply the Documentation\nDatabase Filename."},
      {gui::kPageCluster,
       {{gui::kIdDocDatabase, "d.odx"}, {gui::kIdVaultDatabase, ""}},
       0,
       "You must supply the Script\nVault Database Filename."},
      {gui::kPageCluster,
       {{gui::kIdVaultDatabase, "v.odx"}, {gui::kIdAdminDatabase, "other.odx"}},
       0,
       "The database 'other.odx' already exists.\nChoose another Database Filename."},
      {gui::kPageCluster,
       {{gui::kIdAdminDatabase, "a.odx"}, {gui::kIdLogDatabase, "other.odx"}},
       0,
       "The database 'other.odx' already exists.\nChoose another Database Filename."},
      {gui::kPageMigration,
       {},
       gui::kIdMigrate,
       "You must supply the\nAdministrator Database Filename."},
      {gui::kPageSnmp, {}, 0, "You must select a SNMP Support Setting."},
      {gui::kPageTranslation, {}, 0, "You must select a Text Translation Setting."},
      {gui::kPageDirectory, {{gui::kIdDirectory, ""}}, 0, "You must supply the Tarnway Directory."},
      {gui::kPageDirectory,
       {{gui::kIdDirectory, "relative/dir"}},
       0,
       "The Tarnway Directory must be a full path\nbeginning with '/'."},
      // Under a file no directory can be made, whoever runs the test.
      {gui::kPageDirectory,
       {{gui::kIdDirectory, blocked}},
       0,
       "Setup cannot create the directory\n" + blocked + "/."},
      {gui::kPageDirectory,
       {{gui::kIdDirectory, longDir}},
       0,
       "The Tarnway Directory is too long\n(at most 254 characters)."},
  };
  // What moves each page on once its cases are done.
  auto passPage = [](Instgui& w, int page) {
    switch (page) {
      case gui::kPageCluster:
        w.Type(gui::kIdLogDatabase, "l.odx");
        w.Go(gui::kIdNext, gui::kPageMigration);
        break;
      case gui::kPageMigration:
        w.Click(gui::kIdMigrate);  // unchecked again: no migration
        w.Go(gui::kIdNext, gui::kPageSnmp);
        break;
      case gui::kPageSnmp:
        w.Click(gui::kIdSnmpFull, Kind::radio);
        w.Go(gui::kIdNext, gui::kPageTranslation);
        break;
      case gui::kPageTranslation:
        w.Click(gui::kIdTranslateOn, Kind::radio);
        w.Go(gui::kIdNext, gui::kPageDirectory);
        break;
      default:
        break;
    }
  };
  auto run = [&](Instgui& w, const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(c.message);
      ASSERT_EQ(w.Page(), c.page);
      for (const auto& [id, text] : c.typed) w.Type(id, text);
      if (c.click) w.Click(c.click);
      w.Click(gui::kIdNext);
      EXPECT_EQ(w.Box(gui::kErrorTitle, c.page), c.message);
      ASSERT_EQ(w.Page(), c.page);
      if (i + 1 < cases.size() && cases[i + 1].page != c.page) passPage(w, c.page);
    }
  };
  {
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Go(gui::kIdNewCluster, gui::kPageCluster);
    run(w, newCluster);
    w.Quit();
  }
  // Joining names an Administrator that must be one.
  const std::vector<Case> joining = {
      {gui::kPageCluster,
       {{gui::kIdMemberName, "JOIN"}, {gui::kIdAdminDatabase, "nothere.odx"}},
       0,
       "Cannot locate Tarnway Administrator database 'nothere.odx'."},
      {gui::kPageCluster,
       {{gui::kIdAdminDatabase, "other.odx"}},
       0,
       "The database 'other.odx' is not a Tarnway\nAdministrator database."},
  };
  {
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
    w.Go(gui::kIdNext, gui::kPageInstallChoice);
    w.Go(gui::kIdAddServer, gui::kPageCluster);
    run(w, joining);
    w.Quit();
  }
  EXPECT_FALSE(fs::exists(inst));
  std::vector<std::string> made;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) made.push_back(e.path().filename());
  EXPECT_EQ(made, std::vector<std::string>{"other.odx"});
}

// A run that fails part-way says so on the progress page, offers Previous and Quit, and takes
// back the program files it copied for the failed cluster.
TEST_F(InstguiTest, FailedClusterCreationUndoesTheCopiedKit) {
  const std::string root = base_.path() + "ordex";
  const std::string inst = base_.path() + "inst/";
  Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(root));
  w.Go(gui::kIdNext, gui::kPageInstallChoice);
  w.Go(gui::kIdNewCluster, gui::kPageCluster);
  w.Type(gui::kIdMemberName, "ROAD");
  w.Type(gui::kIdAdminDatabase, "qtwadm.odx");
  w.Type(gui::kIdLogDatabase, "qtwlog.odx");
  w.Click(gui::kIdCreateVault);
  w.Click(gui::kIdInstallDocs);
  w.Go(gui::kIdNext, gui::kPageMigration);
  w.Go(gui::kIdNext, gui::kPageSnmp);
  w.Click(gui::kIdSnmpNone, Kind::radio);
  w.Go(gui::kIdNext, gui::kPageTranslation);
  w.Click(gui::kIdTranslateOff, Kind::radio);
  w.Go(gui::kIdNext, gui::kPageDirectory);
  w.Type(gui::kIdDirectory, inst);
  w.Go(gui::kIdNext, gui::kPageSummary);
  // The Administrator database appears meanwhile (another installer, say).
  Adm(root, {"create", "qtwadm.odx"});
  w.Go(gui::kIdNext, gui::kPageProgress);
  std::string out = w.RunOutput();
  EXPECT_TRUE(Has(out, "Operation failed.")) << out;
  EXPECT_TRUE(Has(out, "\r\n\r\nPlease correct the situation and try again.")) << out;
  EXPECT_FALSE(Has(out, "Congratulations")) << out;
  EXPECT_TRUE(w.Enabled(gui::kIdPrevious));
  EXPECT_FALSE(w.Enabled(gui::kIdNext));
  std::vector<std::string> left;
  if (fs::exists(inst))
    for (const auto& e : fs::recursive_directory_iterator(inst))
      if (!e.is_directory()) left.push_back(e.path().string());
  EXPECT_EQ(left, std::vector<std::string>{}) << "the copied kit stayed";
  std::vector<std::string> databases;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) databases.push_back(e.path().filename());
  EXPECT_EQ(databases, std::vector<std::string>{"qtwadm.odx"});
  // Previous goes back to the summary to change the answers.
  w.Go(gui::kIdPrevious, gui::kPageSummary);
  w.Quit();
}

// A twmain.ini that cannot be used ends the task with a message box, before anything is
// taken from it or created.
TEST_F(InstguiTest, InvalidTwmainIniEndsTheTask) {
  const std::string invalid =
      "Setup has detected an invalid twmain.ini file.\nIf you cannot correct this situation, "
      "please contact technical support.";
  struct Case {
    const char* what;
    std::string ini;
    bool onNext;  // found when Next leaves the welcome page
  } cases[] = {
      {"no kit type", "Version=23\r\nDirectory=" + kit_ + "\r\n", false},
      {"unknown kit type", "Version=23\r\nKitType=7\r\nDirectory=" + kit_ + "\r\n", false},
      {"Beta name too long for its field",
       "KitType=2\r\nTarnway=" + std::string(300, 'n') +
           "\r\nAdminDatabase=a.odx\r\nDirectory=" + kit_ + "\r\n",
       true},
      {"Beta directory not absolute", "KitType=2\r\nTarnway=B\r\nDirectory=rel/dir\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    twtest::WriteFile(kit_ + "twmain.ini", "[Configuration]\r\n" + c.ini);
    Instgui w(kit_ + "instgui", {"QUILBOX"}, Env(base_.path() + "ordex"));
    if (c.onNext) {
      ASSERT_TRUE(w.WaitPage(gui::kPageWelcome));
      w.Click(gui::kIdNext);
    }
    const std::string box = w.Box(gui::kErrorTitle, c.onNext ? gui::kPageWelcome : -1);
    EXPECT_EQ(box, invalid);
    // Only a refused file ends the program by itself; otherwise it is killed.
    if (box == invalid) {
      EXPECT_EQ(w.ExitCode(), 0);
    }
    EXPECT_EQ(twtest::ReadFile(kit_ + "twmain.ini"), "[Configuration]\r\n" + c.ini);
  }
}

// setup without keywords, from the kit as `cmake --install` makes it, starts the wizard
// with the launch code and ends with its code.
TEST_F(InstguiTest, SetupStartsTheWizard) {
  const std::string kit = base_.path() + "installed/";
  std::string log;
  ASSERT_TRUE(twtest::InstallKit(kit, &log)) << log;
  Instgui w(kit + "setup", {}, Env());
  ASSERT_NE(w.Window(), nullptr);
  EXPECT_TRUE(w.WaitPage(gui::kPageWelcome));
  w.Quit();
}

// Without exactly the launch code the program shows nothing and ends with 0.
TEST_F(InstguiTest, WithoutTheLaunchCodeNothingRuns) {
  const std::vector<std::vector<std::string>> cases = {{}, {"quilbox"}, {"QUILBOX", "x"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.size());
    Instgui w(kit_ + "instgui", args, Env());
    EXPECT_EQ(w.ExitCode(), 0);
  }
  EXPECT_FALSE(fs::exists(kit_ + "ordex"));
}

}  // namespace
