// The programs: setup's checks and how it starts the console installer, and a whole console
// installation of a cluster from the build's kit and its removal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console.h"
#include "plat_test_util.h"
#include "process_util.h"

namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A kit of setup, the Ordex libraries and an instcon that writes down its arguments.
class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_ = base_.path() + "kit/";
    fs::create_directories(kit_);
    const std::string build = twtest::BuildInstDir();
    for (const char* name :
         {"setup", "libnordex.so", "libplexapi.so", "libflowsys.so", "libflowmsg.so"})
      fs::copy_file(build + name, kit_ + name);
    twtest::WriteFile(kit_ + "instcon",
                      "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > "
                      "\"$(dirname \"$0\")/argv.txt\"\nexit 3\n");
    ::chmod((kit_ + "instcon").c_str(), 0755);
  }
  twtest::ProcessResult Setup(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kit_ + "setup"};
    argv.insert(argv.end(), args.begin(), args.end());
    return twtest::RunProgram(argv, {"PATH=/usr/bin:/bin", "HOME=" + base_.path()}, base_.path());
  }
  std::string Argv() { return twtest::ReadFile(kit_ + "argv.txt"); }

  twtest::TempDir base_;
  std::string kit_;
};

TEST_F(SetupTest, NewerInstallationRefuses) {
  struct Case {
    const char* version;
    bool runs;
  } cases[] = {{nullptr, true}, {"23", true}, {"22", true}, {"24", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version ? c.version : "none");
    fs::remove(kit_ + "argv.txt");
    std::string ini = "[Configuration]\r\nDirectory=" + kit_ + "\r\n";
    if (c.version) ini += "Version=" + std::string(c.version) + "\r\n";
    twtest::WriteFile(kit_ + "twmain.ini", ini);
    twtest::ProcessResult r = Setup({"INSTALLSERVER"});
    EXPECT_EQ(r.exitCode, c.runs ? 3 : 1) << r.out << r.err;
    EXPECT_EQ(fs::exists(kit_ + "argv.txt"), c.runs);
    EXPECT_EQ(Has(r.out, "at a higer version than this install program."), !c.runs) << r.out;
    if (!c.runs) {
      EXPECT_TRUE(Has(r.out, "remove the directory " + kit_ + " from the path")) << r.out;
    }
  }
}

TEST_F(SetupTest, MissingPlexaLibraryStopsBeforeAnyInstaller) {
  fs::remove(kit_ + "libplexapi.so");
  twtest::ProcessResult r = Setup({"INSTALLSERVER"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "Setup is unable to load the Quendal Ordex Plexa library (" + kit_ +
                             "libplexapi.so)."))
      << r.out;
  EXPECT_FALSE(fs::exists(kit_ + "argv.txt"));
}

// Each value goes to the console installer quoted as its own reader takes it, and arrives
// whole: blanks, quotes, "=" and shell syntax are only text.
TEST_F(SetupTest, ArgumentsReachTheInstallerWhole) {
  struct Case {
    std::string arg, handed, member;
  } cases[] = {
      {"SNMP=FULL", "SNMP='FULL'", ""},
      {"INSTALLSERVER", "INSTALLSERVER", ""},
      {"TARNWAY=tw server 1", "TARNWAY='tw server 1'", "tw server 1"},
      {"TARNWAY='tw one'", "TARNWAY='tw one'", "tw one"},
      {"tarnway=\"tw two\"", "tarnway=\"tw two\"", "tw two"},
      {"TARNWAY=it's mine", "TARNWAY=\"it's mine\"", "it's mine"},
      {"TARNWAY=a=b", "TARNWAY='a=b'", "a=b"},
      {"TARNWAY=", "TARNWAY=''", ""},
      {"TARNWAY=$(touch pwned)'\"; touch pwned2", "TARNWAY=$(touch pwned)'\"; touch pwned2",
       "$(touch pwned)'\"; touch pwned2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arg);
    fs::remove(kit_ + "argv.txt");
    twtest::ProcessResult r = Setup({c.arg, "INSTALLSERVER"});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_EQ(Argv(), "QUILBOX\n" + c.handed + "\nINSTALLSERVER\n");
    std::vector<std::string> handed = {c.handed, "INSTALLSERVER"};
    if (c.arg == "INSTALLSERVER") handed.pop_back();
    tw::install::ConsoleRequest request;
    std::string error;
    ASSERT_TRUE(tw::install::ConsoleParse(handed, request, error)) << error;
    EXPECT_EQ(std::string(request.ctx.memberName), c.member);
  }
  EXPECT_FALSE(fs::exists(base_.path() + "pwned"));
  EXPECT_FALSE(fs::exists(base_.path() + "pwned2"));
}

TEST_F(SetupTest, WindowedInstallerNotBuilt) {
  twtest::ProcessResult r = Setup({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "Cannot execute program")) << r.out;
  EXPECT_FALSE(fs::exists(kit_ + "argv.txt"));
}

// instcon started without its launch code does nothing.
TEST(Instcon, NeedsTheLaunchCode) {
  twtest::TempDir dir;
  twtest::ProcessResult r = twtest::RunProgram(
      {twtest::BuildInstDir() + "instcon", "INSTALLCLUSTER"}, {"PATH=/usr/bin:/bin"}, dir.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// The whole road of a console installation from the build's kit: files, databases, twmain.ini,
// alias, PATH and program item; then the installation's own setup takes the cluster and the
// directory away.
TEST(ConsoleInstall, ClusterFromKitAndRemoval) {
  twtest::TempDir base;
  const std::string inst = base.path() + "run/";
  twtest::WriteFile(base.path() + ".profile", "# mine\n");
  const std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + base.path()};
  twtest::ProcessResult r =
      twtest::RunProgram({twtest::BuildInstDir() + "setup", "INSTALLCLUSTER", "DIRECTORY=" + inst,
                          "TARNWAY=ROAD", "ADMINSERVER=", "ADMINDATABASE=qtwadm.odx",
                          "ADMINLOGDATABASE=qtwlog.odx", "DOCDATABASE=qtwdoc.odx", "UPDATEENV=YES"},
                         env, base.path(), "", 120000);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Congratulations!  You have successfuly installed Tarnway.\n")) << r.out;
  for (const char* name :
       {"twmain", "ctlstore", "taskrun", "setup", "instcon", "libflowsys.so", "libplexapi.so",
        "libnordex.so", "QTWADM.OTM", "QTW20DOC.ODB", "ordex/local/qtwadm.odx",
        "ordex/local/qtwlog.odx", "ordex/local/qtwdoc.odx", "registry/machine.reg"})
    EXPECT_TRUE(fs::exists(inst + name)) << name;
  EXPECT_FALSE(fs::exists(inst + "plexadm"));
  EXPECT_EQ(twtest::ReadFile(inst + "twmain.ini"),
            "[Configuration]\r\nVersion=23\r\nKitType=2\r\nTarnway=ROAD\r\nAdminServer=\r\n"
            "AdminDatabase=qtwadm.odx\r\nDirectory=" +
                inst + "\r\nSNMP=0\r\n");
  EXPECT_TRUE(
      Has(twtest::ReadFile(inst + "registry/machine.reg"), "SCRIPTBIND=" + inst + "scriptbind.so"));
  EXPECT_TRUE(fs::exists(base.path() +
                         ".local/share/applications/quendal-applications/tarnway-2.0.desktop"));
  EXPECT_TRUE(Has(twtest::ReadFile(base.path() + ".config/tarnway/path.sh"), inst));

  // The installation's directory by another name (a link) is the kit itself: nothing is
  // copied onto itself, and the server joins the cluster.
  const std::string twmain = twtest::ReadFile(inst + "twmain");
  fs::create_directory_symlink(inst, base.path() + "alias");
  r = twtest::RunProgram({inst + "setup", "INSTALLSERVER", "DIRECTORY=" + base.path() + "alias/",
                          "TARNWAY=OTHER", "ADMINSERVER=", "ADMINDATABASE=qtwadm.odx"},
                         env, base.path(), "", 120000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "Installing Program files")) << r.out;
  EXPECT_EQ(twtest::ReadFile(inst + "twmain"), twmain);
  EXPECT_TRUE(Has(twtest::ReadFile(inst + "twmain.ini"), "Tarnway=OTHER\r\n"));

  // The same cluster again is refused with its reason and exit code 1.
  r = twtest::RunProgram({inst + "setup", "INSTALLCLUSTER", "TARNWAY=ROAD", "ADMINSERVER=",
                          "ADMINDATABASE=qtwadm.odx", "ADMINLOGDATABASE=qtwlog.odx"},
                         env, base.path(), "", 120000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "Tarnway Administrator database 'qtwadm.odx' already exists")) << r.out;

  r = twtest::RunProgram({inst + "setup", "REMOVECLUSTER", "DELETEFILES=YES"}, env, base.path(), "",
                         120000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Tarnway has been removed.\n")) << r.out;
  EXPECT_FALSE(fs::exists(inst));
  EXPECT_FALSE(Has(twtest::ReadFile(base.path() + ".config/tarnway/path.sh"), inst));
  EXPECT_FALSE(fs::exists(base.path() +
                          ".local/share/applications/quendal-applications/tarnway-2.0.desktop"));
}

}  // namespace
