// The wizard's roads, page checks, detection and built texts, over a recording view and real
// databases on a private data root.
#include "page_flow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "env.h"
#include "install_test_util.h"

namespace installtest {
namespace {

using namespace tw::install::gui;

// The wizard's controls as a person left them; records what the flow does with them.
class FakeView : public WizardView {
 public:
  std::string Text(long id) override { return text[id]; }
  void SetText(long id, const std::string& t) override { text[id] = t; }
  bool Checked(long id) override { return checked[id]; }
  void SetChecked(long id, bool on) override { checked[id] = on; }
  void Enable(long id, bool on) override { enabled[id] = on; }
  long Selected(long group) override { return selected.count(group) ? selected[group] : -1; }
  void MakeProgressReadOnly() override { progressReadOnly = true; }
  void SetMemberPicture(bool client) override { clientPicture = client; }
  void ErrorBox(const std::string& t) override { boxes.push_back(t); }
  void Quit() override { ++quits; }
  void OpenCredits() override { ++credits; }
  void ShowPage(int page) override { shown.push_back(page); }
  void FlushEvents() override {}
  void StartRun(WizardRun run) override { runs.push_back(run); }

  std::map<long, std::string> text;
  std::map<long, bool> checked, enabled;
  std::map<long, long> selected;
  bool progressReadOnly = false;
  bool clientPicture = false;
  std::vector<std::string> boxes;
  int quits = 0, credits = 0;
  std::vector<int> shown;
  std::vector<WizardRun> runs;
};

class WizardFlowTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    Reset();
  }

  // A wizard that has just been made over the kit's directory.
  void Reset() {
    ctx_ = SetupContext{};
    view_ = FakeView{};
    state_ = WizardState{};
    ASSERT_TRUE(tw::install::SetField(ctx_.installDir, inst_));
    ASSERT_TRUE(tw::install::SetField(ctx_.setupDir, inst_));
    // What a person types on every page of an install.
    view_.text = {{kIdMemberName, "ALPHA"},
                  {kIdAdminServer, ""},
                  {kIdAdminDatabase, "qtwadm.odx"},
                  {kIdRelease1Server, ""},
                  {kIdRelease1Database, "r1adm.odx"},
                  {kIdDirectory, base_.path() + "target"}};
    view_.selected = {{kIdSnmpGroup, kIdSnmpQuery},
                      {kIdTranslateGroup, kIdTranslateOn},
                      {kIdProgramFilesGroup, kIdDeleteFiles}};
  }

  // The wizard as its constructor leaves it.
  void Start() { ASSERT_TRUE(flow_.DetectInstallation(inst_ + "twmain.ini")); }

  // A cluster made beside the one the wizard works on, for joining and removal.
  void MakeCluster(const std::string& dir, const char* admin, const char* kit) {
    SetupContext c = MakeContext(dir, "EXISTING", kit, 0);
    ASSERT_TRUE(tw::install::SetField(c.adminDatabase, admin));
    ASSERT_TRUE(tw::install::SetField(c.logDatabase, std::string(admin) + ".log"));
    for (const char* t : {"QTWADM.OTM", "QTWLOG.OTM"})
      if (!fs::exists(dir + t)) fs::copy_file(inst_ + t, dir + t);
    CreateCluster(c);
  }

  FakeView view_;
  WizardState state_;
  WizardFlow flow_{view_, ctx_, state_};
};

// ---------------------------------------------------------------- roads ----------------

TEST_F(WizardFlowTest, EveryTaskFollowsItsRoadOfPagesToItsRun) {
  struct Step {
    int id;
    int page;  // the page shown afterwards
  };
  struct Road {
    const char* name;
    const char* ini;          // twmain.ini in the kit's directory (null: none)
    bool joinable;            // an Administrator to join exists
    std::vector<Step> steps;  // every step passes its page's check
    std::vector<WizardRun> runs;
  } roads[] = {
      {"new cluster", nullptr, false,
       {{kIdNext, 1}, {kIdNewCluster, 2}, {kIdNext, 3}, {kIdNext, 4}, {kIdNext, 5}, {kIdNext, 6}, {kIdNext, 7},
        {kIdNext, 8}},
       {WizardRun::install}},
      {"new cluster, back and forth", nullptr, false,
       {{kIdNext, 1}, {kIdNewCluster, 2}, {kIdNext, 3}, {kIdPrevious, 2}, {kIdNext, 3}, {kIdNext, 4},
        {kIdPrevious, 3}, {kIdNext, 4}, {kIdNext, 5}, {kIdNext, 6}, {kIdNext, 7}, {kIdPrevious, 6},
        {kIdPrevious, 5}, {kIdPrevious, 4}, {kIdNext, 5}, {kIdNext, 6}, {kIdNext, 7}, {kIdNext, 8}},
       {WizardRun::install}},
      {"additional server", nullptr, true,
       {{kIdNext, 1}, {kIdAddServer, 2}, {kIdNext, 4}, {kIdPrevious, 2}, {kIdNext, 4}, {kIdNext, 5},
        {kIdNext, 6}, {kIdNext, 7}, {kIdNext, 8}},
       {WizardRun::install}},
      {"development client", nullptr, true,
       {{kIdNext, 1}, {kIdAddClient, 12}, {kIdPrevious, 1}, {kIdAddClient, 12}, {kIdNext, 2}, {kIdNext, 5},
        {kIdPrevious, 2}, {kIdNext, 5}, {kIdNext, 6}, {kIdNext, 7}, {kIdNext, 8}},
       {WizardRun::install}},
      {"remove the cluster", "[Configuration]\r\nKitType=2\r\nVersion=23\r\n", false,
       {{kIdNext, 9}, {kIdRemoveCluster, 10}, {kIdNext, 11}, {kIdPrevious, 10}, {kIdNext, 11}, {kIdNext, 8},
        {kIdPrevious, 9}},
       {WizardRun::remove}},
      {"remove this member", "[Configuration]\r\nKitType=1\r\nVersion=23\r\n", false,
       {{kIdNext, 9}, {kIdRemoveMember, 10}, {kIdNext, 11}, {kIdNext, 8}},
       {WizardRun::remove}},
      {"Release 1 migration",
       "[Configuration]\r\nKitType=2\r\nVersion=24\r\nAdminDatabase=qtwadm.odx\r\n", false,
       {{kIdNext, 9}, {kIdMigrateChoice, 3}, {kIdMigrate, 3}, {kIdNext, 7}, {kIdPrevious, 3},
        {kIdNext, 7}, {kIdNext, 8}},
       {WizardRun::migrate}},
      {"Release 1 migration not asked for", "[Configuration]\r\nKitType=2\r\nVersion=23\r\n",
       false,
       {{kIdNext, 9}, {kIdMigrateChoice, 3}, {kIdNext, 9}, {kIdMigrateChoice, 3}, {kIdPrevious, 9}},
       {}},
      {"Beta upgrade",
       "[Configuration]\r\nKitType=2\r\nVersion=22\r\nTarnway=OLD\r\nAdminServer=\r\n"
       "AdminDatabase=qtwadm.odx\r\nDirectory=/opt/beta\r\n",
       false,
       {{kIdNext, 13}, {kIdNext, 8}, {kIdPrevious, 13}},
       {WizardRun::upgrade}},
  };
  for (const Road& r : roads) {
    SCOPED_TRACE(r.name);
    Reset();
    fs::remove(inst_ + "twmain.ini");
    if (r.ini != nullptr) twtest::WriteFile(inst_ + "twmain.ini", r.ini);
    // The roads that create a cluster come first: then its Administrator is still free.
    if (r.joinable && !DatabaseExists("qtwadm.odx")) MakeCluster(MemberDir("hub"), "qtwadm.odx", "2");
    // The Release 1 Administrator that a migration reads.
    if (r.ini != nullptr && !DatabaseExists("r1adm.odx"))
      MakeCluster(MemberDir("r1"), "r1adm.odx", "2");
    Start();
    for (const Step& s : r.steps) {
      SCOPED_TRACE(s.id);
      if (s.id == kIdMigrate) view_.checked[kIdMigrate] = true;
      EXPECT_TRUE(flow_.Select(s.id));
      EXPECT_EQ(state_.currentPage, s.page);
      ASSERT_FALSE(view_.shown.empty());
      EXPECT_EQ(view_.shown.back(), s.page);
      EXPECT_TRUE(view_.boxes.empty()) << view_.boxes.front();
      if (s.page == kPageClientTerms) { EXPECT_EQ(view_.text[kIdNext], kAcceptText); }
    }
    EXPECT_EQ(view_.runs, r.runs);
    EXPECT_NE(view_.text[kIdNext], kAcceptText);
  }
}

TEST_F(WizardFlowTest, QuitOnAnyPageOnlyAsksToQuit) {
  for (int page = 0; page <= kPageBetaUpgrade; ++page) {
    state_.currentPage = page;
    EXPECT_TRUE(flow_.Select(kIdQuit));
    EXPECT_EQ(state_.currentPage, page);
  }
  EXPECT_EQ(view_.quits, kPageBetaUpgrade + 1);
  EXPECT_TRUE(view_.shown.empty());
  EXPECT_FALSE(flow_.Select(999));
}

TEST_F(WizardFlowTest, CreditsOpenOnlyForTheKeyWordTypedOnTheWelcomePage) {
  struct Case {
    int page;
    const char* typed;
    int opened;
  } cases[] = {{0, "Quilbox", 1},   {0, "QQuilbox", 0},  {0, "quilbox", 0},
               {0, "QuilbQuilbox", 0}, {0, "QuilbxQuilbox", 1}, {0, "QuilboxQuilbox", 2},
               {1, "Quilbox", 0},   {9, "Quilbox", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    view_.credits = 0;
    state_.keyMatch = 0;
    state_.currentPage = c.page;
    for (const char* k = c.typed; *k != '\0'; ++k) EXPECT_FALSE(flow_.KeyTyped(*k));
    EXPECT_EQ(view_.credits, c.opened);
  }
}

TEST_F(WizardFlowTest, ChoicesSetUpTheClusterPage) {
  struct Case {
    int choice;
    bool cluster;
    int kit;
    const char* label;
  } cases[] = {{kIdAddServer, false, 2, "Tarnway Server Name:"},
               {kIdNewCluster, true, 2, "Tarnway Server Name:"},
               {kIdAddClient, false, 1, "Tarnway Client Name:"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.choice);
    ctx_.migrateRelease1 = 1;
    flow_.PrepareFieldPage(c.choice);
    EXPECT_EQ(ctx_.existingCluster, c.cluster ? 0 : 1);
    EXPECT_EQ(state_.kit, c.kit);
    EXPECT_EQ(view_.text[kIdMemberNameLabel], c.label);
    EXPECT_EQ(view_.text[kIdLogDatabase], c.cluster ? "QTWLOG.ODB" : "");
    EXPECT_EQ(view_.text[kIdVaultDatabase], c.cluster ? "QTWVLT.ODB" : "");
    EXPECT_EQ(view_.text[kIdDocDatabase], c.cluster ? "QTW20DOC.ODB" : "");
    for (int id : {kIdLogDatabaseLabel, kIdLogDatabase, kIdCreateVault, kIdVaultDatabaseLabel, kIdVaultDatabase, kIdInstallDocs,
                   kIdDocDatabaseLabel, kIdDocDatabase})
      EXPECT_EQ(view_.enabled[id], c.cluster) << id;
    EXPECT_EQ(view_.checked[kIdCreateVault], c.cluster);
    EXPECT_EQ(view_.checked[kIdInstallDocs], c.cluster);
    // The migration page lies only on a new cluster's road.
    EXPECT_EQ(ctx_.migrateRelease1, c.cluster ? 1 : 0);
  }
  // The optional fields follow their check boxes.
  state_.currentPage = kPageMigration;
  for (bool on : {false, true}) {
    view_.checked[kIdMigrate] = on;
    EXPECT_TRUE(flow_.Select(kIdMigrate));
    for (int id = kIdRelease1Title; id <= kIdRelease1Database; ++id)
      EXPECT_EQ(view_.enabled[id], on) << id;
  }
}

// ---------------------------------------------------------------- page checks ---------

TEST_F(WizardFlowTest, PageChecksRefuseBadAnswersAndCreateNothing) {
  const std::string tooLong(256, 'n');
  const std::string file = base_.path() + "plain";
  twtest::WriteFile(file, "x");
  MakeCluster(MemberDir("hub"), "taken.odx", "2");
  // A file in the log's place that no database can be made over.
  twtest::WriteFile(base_.path() + "ordex/local/junk.log", "not a database");
  const std::string noServer = "\nServer does not exist (Plexa Error 0x80000602)";
  // A database that is not an Administrator: a Log database.
  struct Case {
    int page;
    int choice;  // the choice that led to the page
    int control;
    std::string answer;
    std::string message;
  } cases[] = {
      {2, kIdNewCluster, kIdMemberName, "", "You must supply a name\nfor the Tarnway Server"},
      {2, kIdAddClient, kIdMemberName, "", "You must supply a name\nfor the Tarnway Client"},
      {2, kIdNewCluster, kIdAdminDatabase, "",
       "You must supply the Administrator\nDatabase Filename."},
      {2, kIdNewCluster, kIdLogDatabase, "", "You must supply the Log\nDatabase Filename."},
      {2, kIdNewCluster, kIdDocDatabase, "",
       "You must supply the Documentation\nDatabase Filename."},
      {2, kIdNewCluster, kIdVaultDatabase, "",
       "You must supply the Script\nVault Database Filename."},
      {2, kIdNewCluster, kIdMemberName, tooLong,
       "The Tarnway Server Name is too long\n(at most 255 characters)."},
      {2, kIdNewCluster, kIdAdminServer, std::string(128, 's'),
       "The Ordex Server Name is too long\n(at most 127 characters)."},
      {2, kIdNewCluster, kIdAdminDatabase, "taken.odx",
       "The database 'taken.odx' already exists.\nChoose another Database Filename."},
      {2, kIdNewCluster, kIdLogDatabase, "taken.odx.log",
       "The database 'taken.odx.log' already exists.\nChoose another Database Filename."},
      // A server that does not exist takes no name: it is answered as missing.
      {2, kIdNewCluster, kIdAdminServer, "nosuch",
       "Cannot open Tarnway Administrator database 'fresh.odx'." + noServer},
      {2, kIdNewCluster, kIdLogDatabase, "junk.log",
       "Cannot create Tarnway Log database 'junk.log'.\nFile is not a Plexa database (Plexa "
       "Error 0x80000603)"},
      {2, kIdAddServer, kIdAdminServer, "nosuch",
       "Cannot open Tarnway Administrator database 'taken.odx'." + noServer},
      {2, kIdAddServer, kIdAdminDatabase, "absent.odx",
       "Cannot locate Tarnway Administrator database 'absent.odx'."},
      {2, kIdAddServer, kIdAdminDatabase, "taken.odx.log",
       "The database 'taken.odx.log' is not a Tarnway\nAdministrator database."},
      {3, kIdNewCluster, kIdRelease1Database, "",
       "You must supply the\nAdministrator Database Filename."},
      {3, kIdNewCluster, kIdRelease1Database, "absent.odx",
       "Cannot locate Tarnway Administrator database 'absent.odx'."},
      {3, kIdNewCluster, kIdRelease1Server, "nosuch",
       "Cannot open Tarnway Administrator database 'taken.odx'." + noServer},
      {4, kIdNewCluster, kIdSnmpGroup, "", "You must select a SNMP Support Setting."},
      {5, kIdNewCluster, kIdTranslateGroup, "", "You must select a Text Translation Setting."},
      {6, kIdNewCluster, kIdDirectory, "", "You must supply the Tarnway Directory."},
      {6, kIdNewCluster, kIdDirectory, "relative/dir",
       "The Tarnway Directory must be a full path\nbeginning with '/'."},
      // At the field's limit: no room is left for the "/" every later step relies on.
      {6, kIdNewCluster, kIdDirectory, "/" + std::string(254, 'd'),
       "The Tarnway Directory is too long\n(at most 254 characters)."},
      {6, kIdNewCluster, kIdDirectory, file, "Setup cannot write to the directory\n" + file + "/."},
      {6, kIdNewCluster, kIdDirectory, file + "/sub",
       "Setup cannot create the directory\n" + file + "/sub/."},
  };
  const int steps[] = {kIdNext, kIdNext, kIdNext, kIdNext, kIdNext, kIdNext};
  auto Listing = [](const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(e.path());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = Listing(base_.path() + "ordex");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    view_.text[kIdMemberName] = "ALPHA";
    view_.text[kIdAdminServer] = "";
    view_.text[kIdAdminDatabase] = c.choice == kIdNewCluster ? "fresh.odx" : "taken.odx";
    view_.text[kIdRelease1Database] = "taken.odx";
    view_.text[kIdDirectory] = base_.path() + "target";
    view_.selected[kIdSnmpGroup] = kIdSnmpQuery;
    view_.selected[kIdTranslateGroup] = kIdTranslateOn;
    view_.checked[kIdMigrate] = c.page == 3;
    view_.boxes.clear();
    state_ = WizardState{};
    state_.currentPage = kPageInstallChoice;
    ASSERT_TRUE(flow_.Select(c.choice));
    if (c.choice == kIdAddClient) { ASSERT_TRUE(flow_.Select(kIdNext)); }
    // Pass the pages before the one under test with good answers.
    for (int i = 0; state_.currentPage != c.page && i < 6; ++i) ASSERT_TRUE(flow_.Select(steps[i]));
    ASSERT_EQ(state_.currentPage, c.page);
    if (c.control == kIdSnmpGroup || c.control == kIdTranslateGroup)
      view_.selected.erase(c.control);
    else
      view_.text[c.control] = c.answer;
    EXPECT_TRUE(flow_.Select(kIdNext));
    EXPECT_EQ(state_.currentPage, c.page);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0], c.message);
    EXPECT_TRUE(view_.runs.empty());
  }
  // Nothing was created by any refusal.
  EXPECT_EQ(Listing(base_.path() + "ordex"), before);
  EXPECT_FALSE(fs::exists(base_.path() + "target"));
  EXPECT_FALSE(fs::exists(file + "/sub"));
}

TEST_F(WizardFlowTest, AnswersReachTheRecordWhole) {
  MakeCluster(MemberDir("r1"), "r1adm.odx", "2");
  view_.text[kIdRelease1Server] = "";
  view_.text[kIdDirectory] = base_.path() + "target///";
  for (int id : {kIdNext, kIdNewCluster, kIdNext}) ASSERT_TRUE(flow_.Select(id));
  view_.checked[kIdMigrate] = true;
  for (int id : {kIdNext, kIdNext, kIdNext, kIdNext}) ASSERT_TRUE(flow_.Select(id));
  ASSERT_EQ(state_.currentPage, kPageSummary) << (view_.boxes.empty() ? "" : view_.boxes[0]);
  const struct {
    const char* field;
    const char* expected;
  } fields[] = {{ctx_.memberName, "ALPHA"},        {ctx_.adminDatabase, "qtwadm.odx"},
                {ctx_.logDatabase, "QTWLOG.ODB"},  {ctx_.vaultDatabase, "QTWVLT.ODB"},
                {ctx_.docDatabase, "QTW20DOC.ODB"}, {ctx_.release1Database, "r1adm.odx"},
                {ctx_.snmpMode, "1"},              {ctx_.translateMode, "2"}};
  for (const auto& f : fields) EXPECT_STREQ(f.field, f.expected);
  EXPECT_EQ(std::string(ctx_.installDir), base_.path() + "target/");
  EXPECT_EQ(ctx_.createVault, 1);
  EXPECT_EQ(ctx_.installDocDatabase, 1);
  EXPECT_EQ(ctx_.migrateRelease1, 1);
  EXPECT_EQ(ctx_.existingCluster, 0);
  EXPECT_EQ(ctx_.wizardKind, kKindServer);
}

// A choice clicked by a message while its page is hidden does nothing: the page, the task
// and the controls stay as the shown page left them.
TEST_F(WizardFlowTest, OnlyTheShownPagesChoicesAct) {
  const struct {
    int page;
    int choice;
  } cases[] = {
      {kPageCluster, kIdRemoveCluster},
      {kPageCluster, kIdNewCluster},
      {kPageCluster, kIdMigrate},
      {kPageInstallChoice, kIdRemoveMember},
      {kPageInstallChoice, kIdCreateVault},
      {kPageRemoveChoice, kIdAddClient},
      {kPageRemoveWarning, kIdMigrateChoice},
      {kPageMigration, kIdInstallDocs},
      {kPageSummary, kIdAddServer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "page " << c.page << ", choice " << c.choice);
    Reset();
    ctx_.wizardKind = kKindServer;
    ctx_.existingCluster = 1;
    state_.currentPage = c.page;
    view_.checked[c.choice] = true;
    const FakeView before = view_;
    EXPECT_FALSE(flow_.Select(c.choice));
    EXPECT_EQ(state_.currentPage, c.page);
    EXPECT_EQ(ctx_.wizardKind, kKindServer);
    EXPECT_EQ(ctx_.existingCluster, 1);
    EXPECT_EQ(view_.text, before.text);
    EXPECT_EQ(view_.enabled, before.enabled);
    EXPECT_TRUE(view_.shown.empty());
  }
}

// ---------------------------------------------------------------- removal consent -----

TEST_F(WizardFlowTest, RemovalActsOnlyOnTheChoiceMadeOnItsOwnPage) {
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nKitType=2\r\nVersion=23\r\n");
  Start();
  struct Case {
    const char* name;
    std::vector<int> steps;
    int keep;  // the program files choice when the steps begin
    std::vector<WizardRun> runs;
    int32_t deleteFiles;
  } cases[] = {
      {"delete chosen", {kIdNext, kIdRemoveCluster, kIdNext, kIdNext}, kIdDeleteFiles,
       {WizardRun::remove}, 1},
      {"keep chosen", {kIdNext, kIdRemoveMember, kIdNext, kIdNext}, kIdKeepFiles,
       {WizardRun::remove}, 0},
      // The removal pages were left for a migration: their default is no consent.
      {"left for a migration", {kIdNext, kIdRemoveCluster, kIdNext, kIdPrevious, kIdPrevious,
                                kIdMigrateChoice, kIdNext},
       kIdDeleteFiles, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_.currentPage = kPageWelcome;
    ctx_.deleteFiles = 0;
    view_.runs.clear();
    view_.selected[kIdProgramFilesGroup] = c.keep;
    for (int id : c.steps) ASSERT_TRUE(flow_.Select(id));
    EXPECT_EQ(view_.runs, c.runs);
    EXPECT_EQ(ctx_.deleteFiles, c.deleteFiles);
  }
}

// ---------------------------------------------------------------- detection -----------

TEST_F(WizardFlowTest, InstallationDetectionReadsOnlyWholeCheckedValues) {
  const std::string longValue(300, 'v');
  struct Case {
    const char* name;
    std::string ini;  // empty: no file; "dir": a directory in its place
    bool accepted;
    int page;  // after Next on the welcome page
    const char* kitWord;
  } cases[] = {
      {"none", "", true, kPageInstallChoice, ""},
      {"server", "[Configuration]\r\nKitType=2\r\nVersion=23\r\n", true, kPageRemoveChoice,
       "Server"},
      {"client, LF lines", "[Configuration]\nKitType=1\nVersion=24\n", true, kPageRemoveChoice,
       "Client"},
      {"Beta", "[Configuration]\r\nKitType=1\r\nVersion=22\r\nTarnway=B\r\nAdminDatabase=a.odx\r\n"
               "Directory=/opt/beta\r\n",
       true, kPageBetaUpgrade, "Client"},
      {"Beta without a version", "[Configuration]\r\nKitType=2\r\nTarnway=B\r\n"
                                 "AdminDatabase=a.odx\r\nDirectory=/opt/beta/\r\n",
       true, kPageBetaUpgrade, "Server"},
      {"no kit", "[Configuration]\r\nVersion=23\r\n", false, 0, ""},
      {"unknown kit", "[Configuration]\r\nKitType=7\r\n", false, 0, ""},
      {"kit too long", "[Configuration]\r\nKitType=2" + longValue + "\r\n", false, 0, ""},
      {"unreadable", "dir", false, 0, ""},
      {"Beta name too long", "[Configuration]\r\nKitType=2\r\nTarnway=" + longValue +
                                 "\r\nAdminDatabase=a.odx\r\nDirectory=/opt/beta\r\n",
       false, kPageRemoveChoice, "Server"},
      {"Beta relative directory", "[Configuration]\r\nKitType=2\r\nTarnway=B\r\n"
                                  "AdminDatabase=a.odx\r\nDirectory=beta\r\n",
       false, kPageRemoveChoice, "Server"},
      {"Beta directory at the limit",
       "[Configuration]\r\nKitType=2\r\nTarnway=B\r\nAdminDatabase=a.odx\r\nDirectory=/" +
           std::string(254, 'd') + "\r\n",
       false, kPageRemoveChoice, "Server"},
      {"Beta without an Administrator", "[Configuration]\r\nKitType=2\r\nTarnway=B\r\n"
                                        "Directory=/opt/beta\r\n",
       false, kPageRemoveChoice, "Server"},
  };
  const std::string ini = inst_ + "twmain.ini";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(ini);
    if (c.ini == "dir")
      fs::create_directories(ini);
    else if (!c.ini.empty())
      twtest::WriteFile(ini, c.ini);
    ctx_ = SetupContext{};
    ASSERT_TRUE(tw::install::SetField(ctx_.installDir, inst_));
    ASSERT_TRUE(tw::install::SetField(ctx_.memberName, "BEFORE"));
    state_ = WizardState{};
    view_ = FakeView{};
    const bool detected = flow_.DetectInstallation(ini);
    if (detected) { EXPECT_TRUE(flow_.Select(kIdNext)); }
    const bool accepted = detected && view_.boxes.empty();
    EXPECT_EQ(accepted, c.accepted);
    if (!accepted) {
      // The task ends with the box, the record as it was.
      ASSERT_EQ(view_.boxes.size(), 1u);
      EXPECT_EQ(view_.boxes[0], InvalidIniText());
      EXPECT_EQ(view_.quits, 1);
      EXPECT_STREQ(ctx_.memberName, "BEFORE");
      EXPECT_EQ(std::string(ctx_.installDir), inst_);
      EXPECT_NE(ctx_.wizardKind, kKindBetaUpgrade);
      continue;
    }
    EXPECT_EQ(state_.currentPage, c.page);
    EXPECT_EQ(state_.kitWord, c.kitWord);
    EXPECT_TRUE(view_.progressReadOnly);
    EXPECT_TRUE(view_.checked[kIdSystemSettings]);
    if (c.page == kPageRemoveChoice) {
      EXPECT_EQ(view_.clientPicture, std::string(c.kitWord) == "Client");
      EXPECT_EQ(view_.text[kIdRemoveMemberText],
                "Remove this Tarnway " + std::string(c.kitWord) + " from the Cluster\r\n" +
                    "      Use this option if you want to remove this " + c.kitWord +
                    " but leave the rest of the\r\n      Cluster installed.");
    }
    if (c.page == kPageBetaUpgrade) {
      EXPECT_STREQ(ctx_.installDir, "/opt/beta/");
      EXPECT_STREQ(ctx_.memberName, "B");
      EXPECT_STREQ(ctx_.adminDatabase, "a.odx");
      EXPECT_EQ(ctx_.wizardKind, kKindBetaUpgrade);
      EXPECT_EQ(ctx_.existingCluster, 1);
      // The upgrade handles the kind of member that is installed.
      EXPECT_EQ(state_.kit, std::string(c.kitWord) == "Client" ? 1 : 2);
      EXPECT_EQ(view_.text[kIdBetaText], BetaUpgradeText("/opt/beta/"));
    }
  }
}

// Fails the creation of any file.
class FailCreate : public tw::EnvWrapper {
 public:
  FailCreate() : EnvWrapper(tw::Env::Default()) { tw::Env::Set(this); }
  ~FailCreate() override { tw::Env::Set(target_); }
  int CreateExclusive(const std::string&) override {
    errno = EROFS;
    return -1;
  }
};

TEST_F(WizardFlowTest, TheKitDirectoryIsOfferedWhenItCanHoldTwmainIni) {
  const std::string file = base_.path() + "plain";
  twtest::WriteFile(file, "x");
  struct Case {
    const char* name;
    std::string dir;
    bool readOnly;
  } cases[] = {{"writable", inst_, false},
               {"missing", base_.path() + "missing/", true},
               {"a file", file + "/", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetupDirIsReadOnly(c.dir), c.readOnly);
    EXPECT_EQ(DefaultInstallDir(c.dir), c.readOnly ? kFallbackInstallDir : c.dir);
  }
  EXPECT_FALSE(fs::exists(inst_ + "twmain.ini"));  // the trial file went again
  {
    FailCreate fail;
    EXPECT_TRUE(SetupDirIsReadOnly(inst_));
    // A twmain.ini that is there to read needs no trial.
    twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\n");
    EXPECT_FALSE(SetupDirIsReadOnly(inst_));
  }
}

// ---------------------------------------------------------------- built texts ---------

TEST_F(WizardFlowTest, SummaryNamesEveryAnswerOfTheRoad) {
  const std::string dir = base_.path() + "target/";
  ASSERT_TRUE(tw::install::SetField(ctx_.installDir, dir));
  const std::string head =
      " Please review the information below and confirm it is correct.  If you want to change "
      "any of the values, click Previous to modify the desired value. You may wish to confirm "
      "that the Ordex Server 'hub' is running before proceeding.\n\nTarnway Installation "
      "Directory:  " +
      dir;
  struct Case {
    const char* name;
    int kit;
    int existing;
    bool extras;  // vault, documentation, migration, system settings
    std::string expected;
  } cases[] = {
      {"new cluster", 2, 0, true,
       "You are about to create a new Tarnway Cluster and Server." + head +
           " (directory does not exist - it will be created)\nTarnway Server Name:  ALPHA\n"
           "Ordex Server Name:  hub\nAdministrator Database Filename:  adm.odx\n"
           "Log Database Filename:  log.odx\nScript Vault Database Filename:  vlt.odx\n"
           "Documentation Database Filename:  doc.odx\nInternational Text Translation: "
           "QMBCS Only\nSNMP Support: Full (Get and Set)\n\nUpgrade from V1 Administrator "
           "Database 'r1.odx'\n      located on the Ordex Server 'old'\n\nSetup will update "
           "your environment for use with Tarnway."},
      {"additional server", 2, 1, false,
       "You are about to create a new Tarnway Server in an existing Cluster." + head +
           "\nTarnway Server Name:  ALPHA\nOrdex Server Name:  hub\nAdministrator Database "
           "Filename:  adm.odx\nInternational Text Translation: QMBCS Only\nSNMP Support: Full "
           "(Get and Set)"},
      {"client", 1, 1, false,
       "You are about to create a new Tarnway Development Client in an existing Cluster." +
           head +
           "\nTarnway Client Name:  ALPHA\nOrdex Server Name:  hub\nAdministrator Database "
           "Filename:  adm.odx\nInternational Text Translation: QMBCS Only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.extras)
      fs::remove_all(dir);
    else
      fs::create_directories(dir);
    SetupContext s = ctx_;
    for (auto [field, value] :
         {std::pair{s.memberName, "ALPHA"}, {s.adminServer, "hub"}, {s.adminDatabase, "adm.odx"},
          {s.logDatabase, "log.odx"}, {s.vaultDatabase, "vlt.odx"}, {s.docDatabase, "doc.odx"},
          {s.release1Database, "r1.odx"}, {s.release1Server, "old"}, {s.snmpMode, "2"},
          {s.translateMode, "1"}})
      std::strcpy(field, value);
    s.existingCluster = c.existing;
    s.createVault = s.installDocDatabase = s.migrateRelease1 = c.extras;
    WizardState st;
    st.kit = c.kit;
    st.kitWord = c.kit == 1 ? "Client" : "Server";
    EXPECT_EQ(SummaryText(s, st, c.extras), c.expected);
  }
  // The other settings' words.
  struct Mode {
    const char* digit;
    const char* translation;
    const char* snmp;
  } modes[] = {{"0", "Disabled", "None"}, {"1", "QMBCS Only", "Query Only"},
               {"2", "Enabled", "Full (Get and Set)"}};
  for (const Mode& m : modes) {
    SetupContext s = ctx_;
    std::strcpy(s.snmpMode, m.digit);
    std::strcpy(s.translateMode, m.digit);
    WizardState st;
    st.kit = 2;
    std::string text = SummaryText(s, st, false);
    EXPECT_NE(text.find(std::string("International Text Translation: ") + m.translation +
                        "\nSNMP Support: " + m.snmp),
              std::string::npos)
        << text;
  }
}

TEST_F(WizardFlowTest, RemovalTextsSayWhatGoesAndWhatStays) {
  const std::string warning =
      "WARNING:  This action can not be undone -- all activities and links stored in the "
      "Administrator Database will be lost.  Do not use this option if other Tarnway servers "
      "will continue to use this same Tarnway Administrator.";
  const std::string member =
      "You have elected to remove this Client from the Tarnway Cluster.  The Client will be "
      "marked as 'disabled' in the Administrator database.";
  const std::string tail = " the installation files.\n\n\nClick Next to perform the Uninstall operation.";
  struct Case {
    int existing;
    bool deleteFiles;
    std::string warningText, confirmation;
  } cases[] = {
      {0, true,
       "You have elected to remove the entire Tarnway Cluster.  Setup will delete the "
       "Administrator and Log databases from the Ordex server.\n\n" +
           warning + "\n\n",
       "You have elected to remove the entire Tarnway Cluster.  Setup will delete the following "
       "databases from the Ordex server:\n      Tarnway Administrator Database\n      Tarnway "
       "Log Database\n      Tarnway Agent Vault Database (if installed)\n      Tarnway "
       "Documentation Database (if installed)\n\n\n" +
           warning + "\n\nYou have also elected to DELETE" + tail},
      {1, false, member, member + "\n\nYou have also elected to keep" + tail},
  };
  for (const Case& c : cases) {
    ctx_.existingCluster = c.existing;
    state_.kitWord = "Client";
    EXPECT_EQ(RemoveWarningText(ctx_, state_), c.warningText);
    EXPECT_EQ(RemoveConfirmationText(ctx_, state_, c.deleteFiles), c.confirmation);
  }
  const std::string path =
      "If you choose this option, setup will modify the PATH environment variable to include "
      "the Tarnway directory.  ";
  state_.kit = 1;
  EXPECT_EQ(SystemSettingsText(state_), path);
  state_.kit = 2;
  EXPECT_EQ(SystemSettingsText(state_),
            path + "Setup will also create a Tarnway Icon in the Program Manager group 'Quendal "
                   "Applications'.  ");
}

TEST_F(WizardFlowTest, MigrationTextNamesBothAdministrators) {
  twtest::WriteFile(inst_ + "twmain.ini",
                    "[Configuration]\r\nKitType=2\r\nVersion=23\r\nAdminServer=hub\r\n"
                    "AdminDatabase=adm.odx\r\n");
  MakeCluster(MemberDir("r1"), "r1adm.odx", "2");
  Start();
  for (int id : {kIdNext, kIdMigrateChoice}) ASSERT_TRUE(flow_.Select(id));
  view_.checked[kIdMigrate] = true;
  ASSERT_TRUE(flow_.Select(kIdNext));
  ASSERT_EQ(state_.currentPage, kPageSummary) << (view_.boxes.empty() ? "" : view_.boxes[0]);
  EXPECT_EQ(view_.text[kIdSummaryText],
            "This operation will copy the contents of the Tarnway Release 1 Administrator "
            "database 'r1adm.odx' from the Ordex Server '', upgrading it to the Release 2 format "
            "and storing it in the existing Tarnway Release 2 Administrator database 'adm.odx' "
            "on the Ordex Server 'hub'.\n\n Before executing this operation, please be certain "
            "that all Tarnway Servers using this Release 2 Administrator database are shutdown.  "
            "Once the upgrade has been completed, you will then have to execute the Ordex Agent "
            "'Refresh All Documents' from the Ordex client.  This is done by opening the Tarnway "
            "Administrator database from Ordex and selecting the action 'Refresh All Documents' "
            "from the 'Actions' pulldown menu.\n\nSelect Next to perform this Upgrade "
            "operation.\n\n");
  // An Administrator name that would not fit its field ends the task's page with the box.
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nKitType=2\r\nAdminDatabase=" +
                                              std::string(300, 'a') + "\r\n");
  ASSERT_TRUE(flow_.Select(kIdPrevious));
  ASSERT_TRUE(flow_.Select(kIdNext));
  EXPECT_EQ(state_.currentPage, kPageMigration);
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0], InvalidIniText());
  EXPECT_STREQ(ctx_.adminDatabase, "adm.odx");
}

}  // namespace
}  // namespace installtest
