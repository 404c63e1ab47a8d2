// Cluster set-up and removal through the install library, on a private data root.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "catalogue.h"
#include "env.h"
#include "install_test_util.h"

namespace installtest {
namespace {

using tw::install::SetupCreateCluster;
using tw::install::SetupInstallDocDatabase;
using tw::install::SetupRemove;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Fails the creation of any file whose name holds part.
class FailCreate : public tw::EnvWrapper {
 public:
  explicit FailCreate(std::string part) : EnvWrapper(tw::Env::Default()), part_(std::move(part)) {
    tw::Env::Set(this);
  }
  ~FailCreate() override { tw::Env::Set(target_); }
  int CreateExclusive(const std::string& p) override {
    if (p.find(part_) != std::string::npos) {
      errno = EACCES;
      return -1;
    }
    return target_->CreateExclusive(p);
  }

 private:
  std::string part_;
};

using ClusterTest = InstallTest;

TEST_F(ClusterTest, NewClusterHoldsDatabasesDocumentsAndEveryKey) {
  // A key the installer does not write stays.
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nDiagnostics=0\r\n");
  CreateCluster(ctx_);
  EXPECT_TRUE(DatabaseExists("qtwadm.odx"));
  EXPECT_TRUE(DatabaseExists("qtwlog.odx"));
  EXPECT_FALSE(DatabaseExists("qtwvlt.odx"));
  EXPECT_EQ(Ini(inst_),
            "[Configuration]\r\nDiagnostics=0\r\nVersion=23\r\nKitType=2\r\n"
            "Tarnway=ALPHA\r\nAdminServer=\r\nAdminDatabase=qtwadm.odx\r\nDirectory=" +
                inst_ + "\r\nSNMP=1\r\n");
  // What the control store needs and the installer does not write comes from the forms.
  struct Case {
    const char* form;
    Items expected;
  } cases[] = {
      {"Configuration\\Administrator",
       {{"LogDatabase", "qtwlog.odx"},
        {"LogServer", ""},
        {"Name", "Administrator"},
        {"Revision", "131072"}}},
      {"Configuration\\Server",
       {{"Name", "ALPHA"},
        {"Enabled", "1"},
        {"Translate", "2"},
        {"SNMP", "1"},
        {"PollInterval", "60"},
        {"Type", "Configuration"},
        {"SubType", "Server"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    auto docs = Documents("qtwadm.odx", c.form);
    ASSERT_EQ(docs.size(), 1u);
    for (const auto& [item, value] : c.expected) EXPECT_EQ(docs[0][item], value) << item;
  }
}

TEST_F(ClusterTest, VaultIsNamedInTheAdministrator) {
  ctx_.createVault = 1;
  ASSERT_TRUE(tw::install::SetField(ctx_.vaultDatabase, "qtwvlt.odx"));
  CreateCluster(ctx_);
  EXPECT_TRUE(DatabaseExists("qtwvlt.odx"));
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Administrator")[0]["AgentDatabase"],
            "qtwvlt.odx");
}

TEST_F(ClusterTest, ExistingAdministratorIsRefusedAndNothingIsDeleted) {
  CreateCluster(ctx_);
  const std::string ini = Ini(inst_);
  std::string out;
  EXPECT_EQ(SetupCreateCluster(ctx_, out), TWFAIL_SETUP);
  EXPECT_TRUE(Has(out, "\n\nERROR: Tarnway Administrator database 'qtwadm.odx' already exists\n"))
      << out;
  EXPECT_TRUE(DatabaseExists("qtwadm.odx"));
  EXPECT_TRUE(DatabaseExists("qtwlog.odx"));
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server").size(), 1u);
  EXPECT_EQ(Ini(inst_), ini);
}

TEST_F(ClusterTest, MissingTemplateOrAdministratorNamesIt) {
  fs::remove(inst_ + "QTWLOG.OTM");
  std::string out;
  EXPECT_EQ(SetupCreateCluster(ctx_, out), TWFAIL_SETUP);
  EXPECT_TRUE(Has(out, "Cannot locate Ordex template 'QTWLOG.OTM'")) << out;
  SetupContext join = MakeContext(MemberDir("beta"), "BETA", "2", 1);
  out.clear();
  EXPECT_EQ(SetupCreateCluster(join, out), TWFAIL_SETUP);
  EXPECT_TRUE(Has(out, "Cannot locate Tarnway Administrator database 'qtwadm.odx'")) << out;
  EXPECT_FALSE(fs::exists(MemberDir("beta") + "twmain.ini"));
}

// Joining by name: an enabled member refuses, a disabled one is enabled again and reused, a
// new name gets a document; a name that would read as formula text is only a name.
TEST_F(ClusterTest, JoinByName) {
  CreateCluster(ctx_);
  struct Case {
    const char* name;
    bool disableFirst;
    uint32_t result;
    size_t documentsNamed;
  } cases[] = {
      {"ALPHA", false, TWFAIL_SETUP, 1},
      {"alpha", false, TWFAIL_SETUP, 1},  // the search ignores letter case
      {"BETA", false, 0, 1},
      {"BETA", true, 0, 1},
      {"o'hare", false, 0, 1},
      {"o'hare", false, TWFAIL_SETUP, 1},
      {"zz') | @@98@@(Name) = @@98@@('ALPHA", false, 0, 1},
      {"back\\slash", false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string dir = MemberDir("m" + std::to_string(&c - cases));
    SetupContext join = MakeContext(dir, c.name, "2", 1);
    if (c.disableFirst) {
      std::string left = MemberDir("left");
      twtest::WriteFile(left + "twmain.ini", "[Configuration]\r\nTarnway=" + std::string(c.name) +
                                                 "\r\nAdminDatabase=qtwadm.odx\r\nKitType=2\r\n");
      SetupContext leave = MakeContext(left, "", "", 1);
      std::string out;
      ASSERT_EQ(SetupRemove(leave, out), 0u) << out;
      EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server", c.name)[0]["Enabled"], "0");
    }
    std::string out;
    EXPECT_EQ(SetupCreateCluster(join, out), c.result) << out;
    if (c.result != 0) {
      EXPECT_TRUE(Has(out, "A Tarnway Server named '" + std::string(c.name) +
                               "' already exists in this Administrator"))
          << out;
    }
    auto named = Documents("qtwadm.odx", "Configuration\\Server", c.name);
    EXPECT_EQ(named.size(), c.documentsNamed);
    if (!named.empty()) {
      EXPECT_EQ(named[0]["Enabled"], "1");
    }
    EXPECT_EQ(fs::exists(dir + "twmain.ini"), c.result == 0);
  }
  // The longest name a member can have joins too: its search has no fixed field.
  const std::string longest(255, 'L');
  SetupContext join = MakeContext(MemberDir("long"), longest, "2", 1);
  CreateCluster(join);
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server", longest).size(), 1u);
  // ALPHA is still the one enabled ALPHA, untouched by the names that held formula text.
  auto alpha = Documents("qtwadm.odx", "Configuration\\Server", "ALPHA");
  ASSERT_EQ(alpha.size(), 1u);
  EXPECT_EQ(alpha[0]["Enabled"], "1");
}

TEST_F(ClusterTest, ClientHasNoSnmpKey) {
  CreateCluster(ctx_);
  std::string dir = MemberDir("client");
  SetupContext client = MakeContext(dir, "DEV", "1", 1);
  CreateCluster(client);
  EXPECT_FALSE(Has(Ini(dir), "SNMP")) << Ini(dir);
  EXPECT_TRUE(Has(Ini(dir), "KitType=1\r\n"));
  auto docs = Documents("qtwadm.odx", "Configuration\\Client", "DEV");
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0]["SNMP"], "0");  // the form's default, never written for a client
}

// A twmain.ini that cannot be replaced fails the set-up whole: the old file stays as it was
// and the databases this call made are gone.
TEST_F(ClusterTest, FailedIniLeavesOldFileAndNoDatabases) {
  const std::string before = "[Configuration]\r\nTarnway=OLD\r\n";
  twtest::WriteFile(inst_ + "twmain.ini", before);
  std::string out;
  {
    FailCreate fail("twmain.ini");
    EXPECT_EQ(SetupCreateCluster(ctx_, out), TWFAIL_SETUP);
  }
  EXPECT_TRUE(Has(out, "Cannot create Tarnway configuration file 'twmain.ini'")) << out;
  EXPECT_EQ(Ini(inst_), before);
  EXPECT_FALSE(DatabaseExists("qtwadm.odx"));
  EXPECT_FALSE(DatabaseExists("qtwlog.odx"));
}

TEST_F(ClusterTest, RemoveMemberDisablesItsDocumentOnly) {
  CreateCluster(ctx_);
  std::string dir = MemberDir("beta");
  SetupContext beta = MakeContext(dir, "BETA", "2", 1);
  CreateCluster(beta);
  SetupContext remove{};
  ASSERT_TRUE(tw::install::SetField(remove.installDir, dir));
  remove.existingCluster = 1;
  std::string out;
  ASSERT_EQ(SetupRemove(remove, out), 0u) << out;
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server", "BETA")[0]["Enabled"], "0");
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Server", "ALPHA")[0]["Enabled"], "1");
  EXPECT_FALSE(fs::exists(dir + "twmain.ini"));
  EXPECT_TRUE(fs::exists(inst_ + "twmain.ini"));
}

TEST_F(ClusterTest, RemoveClusterWithoutVaultOrDocumentation) {
  CreateCluster(ctx_);
  SetupContext remove{};
  ASSERT_TRUE(tw::install::SetField(remove.installDir, inst_));
  std::string out;
  EXPECT_EQ(SetupRemove(remove, out), 0u) << out;
  EXPECT_EQ(out, "");
  EXPECT_FALSE(DatabaseExists("qtwadm.odx"));
  EXPECT_FALSE(DatabaseExists("qtwlog.odx"));
  EXPECT_FALSE(fs::exists(inst_ + "twmain.ini"));
}

// The Log database cannot go (this process holds it open): the others still go, the result
// says some database stayed, and the text names it.
TEST_F(ClusterTest, FailedLogDeletionRemovesTheRest) {
  ctx_.createVault = 1;
  ASSERT_TRUE(tw::install::SetField(ctx_.vaultDatabase, "qtwvlt.odx"));
  ctx_.installDocDatabase = 1;
  ASSERT_TRUE(tw::install::SetField(ctx_.docDatabase, "qtwdoc.odx"));
  CreateCluster(ctx_);
  std::string out;
  ASSERT_EQ(SetupInstallDocDatabase(ctx_, out), 0u) << out;
  ASSERT_TRUE(DatabaseExists("qtwdoc.odx"));
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Administrator")[0]["HelpDatabase"],
            "qtwdoc.odx");
  GVDB held = 0;
  ASSERT_EQ(GVDatabaseOpen(nullptr, "qtwlog.odx", 0, &held), 0u);
  SetupContext remove{};
  ASSERT_TRUE(tw::install::SetField(remove.installDir, inst_));
  out.clear();
  EXPECT_EQ(SetupRemove(remove, out), TWFAIL_SETUP_REMOVE_PARTIAL);
  GVDatabaseClose(held, 0);
  EXPECT_EQ(out,
            "\n***** Unable to remove Log database 'qtwlog.odx'\n      Remove the database "
            "manually.");
  EXPECT_FALSE(DatabaseExists("qtwadm.odx"));
  EXPECT_TRUE(DatabaseExists("qtwlog.odx"));
  EXPECT_FALSE(DatabaseExists("qtwvlt.odx"));
  EXPECT_FALSE(DatabaseExists("qtwdoc.odx"));
  EXPECT_FALSE(fs::exists(inst_ + "twmain.ini"));
}

// Removal reads the installation's own twmain.ini; without one (even with another on the
// PATH) nothing changes.
TEST_F(ClusterTest, RemovalWithoutItsIniChangesNothing) {
  CreateCluster(ctx_);
  twtest::ScopedEnv path("PATH", inst_.c_str());
  std::string dir = MemberDir("empty");
  struct Case {
    const char* ini;
  } cases[] = {{nullptr},
               {"[Configuration]\r\nAdminDatabase=qtwadm.odx\r\nKitType=2\r\n"},
               {"[Configuration]\r\nTarnway=ALPHA\r\nAdminDatabase=qtwadm.odx\r\nKitType=2\r\n"
                "AdminServer="}};
  for (const Case& c : cases) {
    if (c.ini != nullptr) {
      std::string text = c.ini;
      if (&c == &cases[2]) text += std::string(200, 'x') + "\r\n";  // beyond its field
      twtest::WriteFile(dir + "twmain.ini", text);
    }
    SetupContext remove{};
    ASSERT_TRUE(tw::install::SetField(remove.installDir, dir));
    std::string out;
    EXPECT_EQ(SetupRemove(remove, out), TWFAIL_SETUP);
    EXPECT_TRUE(Has(out, "Invalid configuration file '" + dir + "twmain.ini'")) << out;
    EXPECT_TRUE(DatabaseExists("qtwadm.odx"));
    EXPECT_TRUE(DatabaseExists("qtwlog.odx"));
    EXPECT_TRUE(fs::exists(inst_ + "twmain.ini"));
  }
}

TEST_F(ClusterTest, DocumentationDatabaseFailureIsReported) {
  CreateCluster(ctx_);
  ctx_.installDocDatabase = 1;
  ASSERT_TRUE(tw::install::SetField(ctx_.docDatabase, "qtwdoc.odx"));
  fs::remove(inst_ + "QTW20DOC.ODB");
  std::string out;
  EXPECT_EQ(SetupInstallDocDatabase(ctx_, out), TWFAIL_SETUP_DOC_DATABASE);
  EXPECT_TRUE(Has(out, "Cannot create online documentation database 'qtwdoc.odx'")) << out;
  EXPECT_TRUE(Has(out, "(Plexa Error 0x")) << out;
  // The Administrator names no database that was not made.
  EXPECT_EQ(Documents("qtwadm.odx", "Configuration\\Administrator")[0]["HelpDatabase"], "");
}

TEST(SearchText, NamesAreQuotedAsFormulaText) {
  EXPECT_EQ(tw::install::NameSearch("Name", "tw server 1"),
            "select @@98@@(Name) = @@98@@('tw server 1')");
  EXPECT_EQ(tw::install::NameSearch("Name", "o'hare\\x"),
            "select @@98@@(Name) = @@98@@('o\\'hare\\\\x')");
}

}  // namespace
}  // namespace installtest
