// Start-up: where the installation directory comes from, what a second start-up and the
// end leave behind, and the bounded search of directory lists.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::ScopedCwd;
using twtest::ScopedEnv;
using twtest::TempDir;
using twtest::WriteFile;

std::string Ini(const std::string& directory) {
  return "[Configuration]\r\nDirectory=" + directory + "\r\n";
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(tmp / "empty/keep", ""); }
  void TearDown() override { TWPlatTerm(); }

  TempDir tmp;
  ScopedCwd cwd;
  // Nothing on PATH holds a twmain.ini unless a test says so.
  ScopedEnv path{"PATH", (tmp / "empty").c_str()};
};

TEST_F(StartupTest, TwmainIniBesideTheProgramNamesTheDirectory) {
  for (const char* directory : {"/opt/tarnway", "/opt/tarnway/"}) {
    WriteFile(tmp / "prog", "");
    WriteFile(tmp / "twmain.ini", Ini(directory));
    ASSERT_EQ(TWPlatInit((tmp / "prog").c_str()), TWSUCCESS) << directory;
    EXPECT_STREQ(TWFileExeDir(), "/opt/tarnway/");
    TWPlatTerm();
  }
}

TEST_F(StartupTest, TwmainIniOnPathWhenNotBesideTheProgram) {
  WriteFile(tmp / "bin/prog", "");
  WriteFile(tmp / "etc/twmain.ini", Ini("/srv/tw"));
  ScopedEnv p("PATH", (tmp / "none:" + tmp.path() + "etc").c_str());
  ASSERT_EQ(TWPlatInit((tmp / "bin/prog").c_str()), TWSUCCESS);
  EXPECT_STREQ(TWFileExeDir(), "/srv/tw/");
}

TEST_F(StartupTest, WithoutTwmainIniTheProgramsOwnDirectoryAbsolute) {
  WriteFile(tmp / "sub/prog", "");
  ASSERT_TRUE(TWFileSetDir(tmp.path().c_str()));
  ASSERT_EQ(TWPlatInit("sub/prog"), TWSUCCESS);
  EXPECT_EQ(std::string(TWFileExeDir()), tmp / "sub/");
}

TEST_F(StartupTest, BareProgramNameIsLookedUpOnPath) {
  WriteFile(tmp / "bin/taskrun", "");
  ScopedEnv p("PATH", (tmp / "bin").c_str());
  ASSERT_EQ(TWPlatInit("taskrun"), TWSUCCESS);
  EXPECT_EQ(std::string(TWFileExeDir()), tmp / "bin/");
}

TEST_F(StartupTest, WithoutProgramTwmainIniOfTheCurrentDirectory) {
  WriteFile(tmp / "twmain.ini", Ini("/var/tw"));
  ASSERT_TRUE(TWFileSetDir(tmp.path().c_str()));
  for (const char* program : {static_cast<const char*>(nullptr), ""}) {
    ASSERT_EQ(TWPlatInit(program), TWSUCCESS);
    EXPECT_STREQ(TWFileExeDir(), "/var/tw/");
    TWPlatTerm();
  }
}

TEST_F(StartupTest, FailuresLeaveNoDirectory) {
  WriteFile(tmp / "noKey/prog", "");
  WriteFile(tmp / "noKey/twmain.ini", "[Configuration]\r\nSNMP=1\r\n");
  struct Case {
    const char* name;
    std::string program;
    uint32_t status;
  } cases[] = {
      {"missing program", tmp / "nowhere/prog", TWFAIL_INI_ACCESS},
      {"bare name not on PATH", "no-such-program-here", TWFAIL_INI_ACCESS},
      {"twmain.ini without Directory", tmp / "noKey/prog", TWFAIL_INI_MISSING_KEY},
      {"no program, no twmain.ini in the current directory", "", TWFAIL_INI_ACCESS},
  };
  ASSERT_TRUE(TWFileSetDir(tmp.path().c_str()));
  for (const Case& c : cases) {
    EXPECT_EQ(TWPlatInit(c.program.c_str()), c.status) << c.name;
    EXPECT_STREQ(TWFileExeDir(), "") << c.name;
  }
  // A failed start-up may be retried.
  WriteFile(tmp / "good/prog", "");
  EXPECT_EQ(TWPlatInit((tmp / "good/prog").c_str()), TWSUCCESS);
  EXPECT_EQ(std::string(TWFileExeDir()), tmp / "good/");
}

TEST_F(StartupTest, SecondInitChangesNothing) {
  twtest::InitAt(tmp / "first/");
  TWIntlFormat custom = *TWPlatGetIntlFormat();
  custom.zone = 3;
  ASSERT_EQ(TWPlatSetIntlFormat(&custom), TWSUCCESS);

  WriteFile(tmp / "second/prog", "");
  EXPECT_EQ(TWPlatInit((tmp / "second/prog").c_str()), TWSUCCESS);
  EXPECT_EQ(std::string(TWFileExeDir()), tmp / "first/");
  EXPECT_EQ(TWPlatGetIntlFormat()->zone, 3);
}

TEST_F(StartupTest, TermForgetsDirectoryAndFormat) {
  twtest::InitAt(tmp.path());
  const char* dir = TWFileExeDir();
  ASSERT_NE(TWPlatGetIntlFormat(), nullptr);
  EXPECT_EQ(TWPlatTerm(), TWSUCCESS);
  EXPECT_STREQ(dir, "");  // the pointer handed out earlier stays valid
  EXPECT_STREQ(TWFileExeDir(), "");
  EXPECT_EQ(TWPlatGetIntlFormat(), nullptr);
  twtest::InitAt(tmp / "again/");
}

// The run directory of an installation (and the user's above it) goes with the clean end of
// the last process that keeps a pipe or a table there, and comes back when needed.
TEST_F(StartupTest, TermRemovesTheRunDirectoryOnlyOnceNothingLivesInIt) {
  TempDir base;
  ScopedEnv tmpdir("TMPDIR", base.path().c_str());
  auto empty = [&] { return std::filesystem::is_empty(base.path()); };
  twtest::InitAt(tmp.path());
  TWIPC* pipe = TWIPCCreate("Goes");
  ASSERT_NE(pipe, nullptr);
  TWProcShmem table{};
  ASSERT_EQ(TWProcShmemCreate(64, "Stays", &table), TWSUCCESS);
  EXPECT_EQ(TWIPCShutdown(pipe, "Goes"), 1);
  EXPECT_EQ(TWPlatTerm(), TWSUCCESS);
  EXPECT_FALSE(empty()) << "the table's owner still lives in the run directory";

  twtest::InitAt(tmp.path());
  EXPECT_EQ(TWProcShmemDestroy(&table), TWSUCCESS);
  EXPECT_EQ(TWPlatTerm(), TWSUCCESS);
  EXPECT_TRUE(empty());

  twtest::InitAt(tmp.path());
  pipe = TWIPCCreate("Again");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(TWIPCExists("Again", 0), 1);
  EXPECT_EQ(TWIPCShutdown(pipe, "Again"), 1);
  EXPECT_EQ(TWPlatTerm(), TWSUCCESS);
  EXPECT_TRUE(empty());
  twtest::InitAt(tmp.path());
}

// ---------------------------------------------------------------- TWFindPath

class FindPathTest : public ::testing::Test {
 protected:
  // Runs TWFindPath over list; the answer is "" when there is no hit.
  std::string Find(const std::string& list, const char* file, size_t size = 512, int readOnly = 0) {
    ScopedEnv var("TW_TEST_DIRS", list.c_str());
    std::string buf(size + 8, '#');
    int hit = TWFindPath("TW_TEST_DIRS", buf.data(), size, file, readOnly);
    EXPECT_EQ(buf.substr(size), std::string(8, '#')) << "written past the buffer";
    if (!hit) {
      EXPECT_EQ(buf, std::string(size + 8, '#')) << "written on a miss";
      return "";
    }
    return buf.c_str();
  }

  TempDir tmp;
};

TEST_F(FindPathTest, SeparatorsEmptyElementsAndFirstHit) {
  WriteFile(tmp / "a/f.ini", "");
  WriteFile(tmp / "b/f.ini", "");
  WriteFile(tmp / "b/only.ini", "");
  std::filesystem::create_directories(tmp / "c/dir.ini");
  std::string a = tmp / "a", b = tmp / "b", c = tmp / "c";
  struct Case {
    std::string list;
    const char* file;
    std::string want;
  } cases[] = {
      {";;" + a + ";" + b, "f.ini", a + "/"},
      {b + "/:" + a, "f.ini", b + "/"},
      {a + "::" + b + ";", "only.ini", b + "/"},
      {a + ";" + b, "missing.ini", ""},
      {c, "dir.ini", ""},
      {"", "f.ini", ""},
  };
  for (const Case& k : cases) EXPECT_EQ(Find(k.list, k.file), k.want) << k.list;
}

TEST_F(FindPathTest, DirectoryThatDoesNotFitIsNoHit) {
  WriteFile(tmp / "long-directory/f", "");
  WriteFile(tmp / "s/f", "");
  std::string lng = tmp / "long-directory/", shrt = tmp / "s/";
  std::string list = lng + ":" + shrt;
  EXPECT_EQ(Find(list, "f", lng.size() + 1), lng);  // exactly fits with its NUL
  EXPECT_EQ(Find(list, "f", lng.size()), shrt);
  EXPECT_EQ(Find(list, "f", shrt.size()), "");
}

TEST_F(FindPathTest, NullArgumentsAndUnsetVariable) {
  WriteFile(tmp / "f", "");
  ScopedEnv var("TW_TEST_DIRS", tmp.path().c_str());
  ScopedEnv unset("TW_TEST_UNSET", nullptr);
  char buf[256];
  EXPECT_EQ(TWFindPath(nullptr, buf, sizeof buf, "f", 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_DIRS", nullptr, sizeof buf, "f", 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_DIRS", buf, 0, "f", 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_DIRS", buf, sizeof buf, nullptr, 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_DIRS", buf, sizeof buf, "", 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_UNSET", buf, sizeof buf, "f", 0), 0);
  EXPECT_EQ(TWFindPath("TW_TEST_DIRS", buf, sizeof buf, "f", 0), 1);
}

TEST_F(FindPathTest, ReadOnlyWantsAFileThatCannotBeOpenedForWriting) {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::string selfDir = self.parent_path().string();
  std::string selfName = self.filename().string();
  // A running program cannot be opened for writing on this system; where it can, the
  // read-only search has nothing to tell apart.
  int fd = ::open(self.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    GTEST_SKIP() << "running programs are writable here";
  }
  WriteFile(tmp / "plain", "");
  EXPECT_EQ(Find(selfDir, selfName.c_str(), 4096, 1), selfDir + "/");
  EXPECT_EQ(Find(tmp.path(), "plain", 512, 1), "");
  EXPECT_EQ(Find(tmp.path(), "plain", 512, 0), tmp.path());
}

}  // namespace
