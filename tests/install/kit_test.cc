// The kit as users get it: `cmake --install` of the build into a directory of its own, a
// cluster installed from there by the kit's setup, and its removal. What the tables name is
// in the kit, every program and plug-in finds its libraries, what the installer makes is
// private to the installing user, and nothing stays behind that a user would not expect.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "plat_test_util.h"
#include "process_util.h"
#include "store_fixture.h"

namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
mode_t Mode(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}
bool IsElf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && std::string(magic, 4) ==
                                  "\x7f"
                                  "ELF";
}
// Every path below dir, relative to it.
std::set<std::string> Tree(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec))
    names.insert(fs::relative(e.path(), dir).string());
  return names;
}

class KitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_ = base_.path() + "kit/";
    inst_ = base_.path() + "inst/";
    std::string log;
    ASSERT_TRUE(twtest::InstallKit(kit_, &log)) << log;
    fs::create_directories(base_.path() + "home");
    twtest::WriteFile(base_.path() + "home/.profile", "# mine\n");
  }
  // A program of the kit or the installation, with the run directories under runs_.
  twtest::ProcessResult Run(const std::vector<std::string>& argv) {
    return twtest::RunProgram(
        argv, {"PATH=/usr/bin:/bin", "HOME=" + base_.path() + "home", "TMPDIR=" + runs_.path()},
        base_.path(), "", 120000);
  }
  twtest::ProcessResult InstallCluster() {
    return Run({kit_ + "setup", "INSTALLCLUSTER", "DIRECTORY=" + inst_, "TARNWAY=KIT",
                "ADMINSERVER=", "ADMINDATABASE=qtwadm.odx", "ADMINLOGDATABASE=qtwlog.odx"});
  }
  // Names below dir that only a run leaves: database logs, lock files, temporaries.
  static std::vector<std::string> Leftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& name : Tree(dir)) {
      for (const char* end : {"-wal", "-shm", "-journal", ".lock", ".agentlock"})
        if (name.size() > std::strlen(end) &&
            name.compare(name.size() - std::strlen(end), std::string::npos, end) == 0)
          found.push_back(name);
      if (Has(name, ".tw-new-") || Has(name, ".part-") || Has(name, ".tmp")) found.push_back(name);
    }
    return found;
  }

  twtest::TempDir base_;
  twtest::TempDir runs_;
  std::string kit_, inst_;
};

TEST_F(KitTest, InstallationFromTheKitIsCompletePrivateAndLeavesNothingOnRemoval) {
  const std::set<std::string> kitBefore = Tree(kit_);
  twtest::ProcessResult r = InstallCluster();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // Every row of the tables is in the kit; only a build without Wine lacks the windowed
  // installer.
#ifdef TW_KIT_HAS_INSTGUI
  EXPECT_FALSE(Has(r.out, "Skipped")) << r.out;
  for (const char* name : {"instgui", "instgui.exe.so"})
    EXPECT_TRUE(fs::exists(inst_ + name)) << name;
#else
  std::string rest = r.out;
  for (const char* line :
       {"Skipped instgui: not in this kit.\n", "Skipped instgui.exe.so: not in this kit.\n"})
    if (size_t at = rest.find(line); at != std::string::npos) rest.erase(at, std::strlen(line));
  EXPECT_FALSE(Has(rest, "Skipped")) << r.out;
#endif
  for (const char* name : {"TWMAIN.MIB", "libora72.so", "oracle.twx", "corvex.twx", "twmain"})
    EXPECT_TRUE(fs::exists(inst_ + name)) << name;

  // Programs and plug-ins of the kit and of the installation find every library they need.
  for (const std::string& dir : {kit_, inst_}) {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (!e.is_regular_file() || !IsElf(e.path())) continue;
      twtest::ProcessResult ldd =
          twtest::RunProgram({"/usr/bin/ldd", e.path().string()}, {"PATH=/usr/bin:/bin"}, dir);
      EXPECT_EQ(ldd.exitCode, 0) << e.path() << ldd.err;
      EXPECT_FALSE(Has(ldd.out, "not found")) << e.path() << "\n" << ldd.out;
    }
  }

  // What holds the cluster's configuration and passwords is the installing user's alone.
  struct Private {
    std::string path;
    mode_t mode;
  } privates[] = {
      {inst_ + "ordex", 0700},
      {inst_ + "ordex/local", 0700},
      {inst_ + "ordex/local/qtwadm.odx", 0600},
      {inst_ + "ordex/local/qtwlog.odx", 0600},
      {inst_ + "registry", 0700},
      {inst_ + "registry/machine.reg", 0600},
      {inst_ + "twmain.ini", 0600},
  };
  for (const Private& p : privates) EXPECT_EQ(Mode(p.path), p.mode) << p.path;
  EXPECT_EQ(Mode(inst_ + "twmain"), Mode(kit_ + "twmain") | S_IWUSR);

  // The kit is as it was installed, and neither it nor the installation holds what only a
  // run leaves; no run directory stays.
  EXPECT_EQ(Tree(kit_), kitBefore);
  EXPECT_TRUE(Leftovers(inst_).empty()) << Leftovers(inst_).front();
  EXPECT_TRUE(fs::is_empty(runs_.path())) << *Tree(runs_.path()).begin();

  r = Run({inst_ + "setup", "REMOVECLUSTER", "DELETEFILES=YES"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(fs::exists(inst_)) << (fs::exists(inst_) ? *Tree(inst_).begin() : "");
  EXPECT_TRUE(fs::is_empty(runs_.path()));
  EXPECT_EQ(Tree(kit_), kitBefore);
  // The program item went with its group; the user's own files stay.
  EXPECT_FALSE(fs::exists(base_.path() + "home/.local/share/applications/quendal-applications"));
  EXPECT_EQ(twtest::ReadFile(base_.path() + "home/.profile"), "# mine\n");
}

// Two installations, each with its own data root whose server map names the server "hub" in
// one PostgreSQL database: the first installs the cluster there, the second joins it, and
// the administrator's tool of either sees both servers; removing the cluster removes its
// databases from PostgreSQL.
TEST_F(KitTest, ASecondInstallationJoinsAClusterHeldInPostgreSQL) {
  storetest::Store store;
  ASSERT_NO_FATAL_FAILURE(store.SetUp(storetest::Engine::kPostgres, base_.path()));
  if (store.skipped()) GTEST_SKIP() << store.skipped();
  const std::string map = twtest::ReadFile(base_.path() + "servers.map");
  const std::string other = base_.path() + "other/";
  for (const std::string& dir : {inst_, other}) {
    fs::create_directories(dir + "ordex");
    twtest::WriteFile(dir + "ordex/servers.map", map);
  }
  const std::vector<std::string> databases = {"ADMINSERVER=cluster", "ADMINDATABASE=qtwadm.odx",
                                              "ADMINLOGDATABASE=qtwlog.odx"};
  std::vector<std::string> install = {kit_ + "setup", "INSTALLCLUSTER", "DIRECTORY=" + inst_,
                                      "TARNWAY=ALPHA"};
  install.insert(install.end(), databases.begin(), databases.end());
  twtest::ProcessResult r = Run(install);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> join = {kit_ + "setup", "INSTALLSERVER", "DIRECTORY=" + other,
                                   "TARNWAY=BETA"};
  join.insert(join.end(), databases.begin(), databases.end());
  r = Run(join);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(twtest::ReadFile(other + "twmain.ini"), "AdminServer=cluster\r\n"));
  // Nothing of the cluster is a file of either installation.
  for (const std::string& dir : {inst_, other})
    EXPECT_FALSE(fs::exists(dir + "ordex/local/qtwadm.odx")) << dir;
  const std::string tool = kit_ + "plexadm";
  r = Run({tool, "--root", other + "ordex", "view", "cluster!!qtwadm.odx", "(CS_Servers)"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "ALPHA") && Has(r.out, "BETA")) << r.out;
  r = Run({tool, "--root", inst_ + "ordex", "list", "--server", "cluster"});
  EXPECT_EQ(r.out, "qtwadm.odx\tTarnway Administrator\nqtwlog.odx\tTarnway Log\n") << r.err;
  r = Run({other + "setup", "REMOVESERVER", "DELETEFILES=YES"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  r = Run({inst_ + "setup", "REMOVECLUSTER", "DELETEFILES=YES"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  fs::create_directories(base_.path() + "check");
  twtest::WriteFile(base_.path() + "check/servers.map", map);
  r = Run({tool, "--root", base_.path() + "check", "list", "--server", "cluster"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

// A reinstall whose copy fails leaves the installation it would have replaced as it was, and
// says which file failed.
TEST_F(KitTest, FailedReinstallKeepsTheInstallation) {
  twtest::ProcessResult r = InstallCluster();
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::set<std::string> before = Tree(inst_);
  const std::string ini = twtest::ReadFile(inst_ + "twmain.ini");
  fs::remove(inst_ + "webrun");
  fs::create_directory(inst_ + "webrun");
  twtest::WriteFile(inst_ + "twmain", "the old program");
  r = Run({kit_ + "setup", "INSTALLSERVER", "DIRECTORY=" + inst_, "TARNWAY=OTHER",
           "ADMINSERVER=", "ADMINDATABASE=qtwadm.odx"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_TRUE(Has(r.out, "Error writing file " + inst_ + "webrun: Is a directory")) << r.out;
  EXPECT_EQ(Tree(inst_), before);
  EXPECT_EQ(twtest::ReadFile(inst_ + "twmain"), "the old program");
  EXPECT_EQ(twtest::ReadFile(inst_ + "twmain.ini"), ini);
  EXPECT_TRUE(fs::is_directory(inst_ + "webrun"));
}

}  // namespace
