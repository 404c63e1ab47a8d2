// The kit's files, the script alias, the user's PATH, the program item and the removal of the
// installation directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "env.h"
#include "install_util.h"
#include "plat_test_util.h"
#include "platform.h"
#include "process_util.h"
#include "setup_context.h"

namespace {

namespace fs = std::filesystem;
using tw::install::SetField;
using tw::install::SetupContext;
using tw::install::TWFAIL_SETUP_PROGRAM_ITEM;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
mode_t Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}
// Files in dir whose name holds part.
int Leftovers(const std::string& dir, const std::string& part) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().find(part) != std::string::npos) ++n;
  return n;
}

// Copies a few bytes at a time, then fails as a bad disk does, however the platform copies:
// inside the kernel or through a buffer.
class FailRead : public tw::EnvWrapper {
 public:
  explicit FailRead(int count) : EnvWrapper(tw::Env::Default()), left_(count) {
    tw::Env::Set(this);
  }
  ~FailRead() override { tw::Env::Set(target_); }
  long ReadSome(int fd, char* b, size_t n) override {
    if (left_-- <= 0) {
      errno = EIO;
      return -1;
    }
    return target_->ReadSome(fd, b, std::min<size_t>(n, 4));
  }
  long CopySome(int in, int out, size_t n) override {
    if (left_-- <= 0) {
      errno = EIO;
      return -1;
    }
    return target_->CopySome(in, out, std::min<size_t>(n, 4));
  }

 private:
  int left_;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_ = base_.path() + "kit/";
    inst_ = base_.path() + "inst/";
    fs::create_directories(kit_);
    ctx_ = SetupContext{};
    ASSERT_TRUE(SetField(ctx_.setupDir, kit_));
    ASSERT_TRUE(SetField(ctx_.installDir, inst_));
    ASSERT_TRUE(SetField(ctx_.kitType, "2"));
  }
  twtest::TempDir base_;
  std::string kit_, inst_;
  SetupContext ctx_{};
};

TEST_F(FilesTest, CopyKeepsModePlusOwnerWriteAndNeverWorldWrite) {
  fs::create_directories(inst_);
  struct Case {
    mode_t source, copied;
  } cases[] = {{0755, 0755}, {0444, 0644}, {0600, 0600}, {0500, 0700}, {0640, 0640}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    twtest::WriteFile(kit_ + "f", "contents");
    ASSERT_EQ(::chmod((kit_ + "f").c_str(), c.source), 0);
    std::string out;
    ASSERT_EQ(tw::install::SetupCopyFile(kit_ + "f", inst_ + "f", &out), 0u) << out;
    EXPECT_EQ(Mode(inst_ + "f"), c.copied);
    EXPECT_EQ(twtest::ReadFile(inst_ + "f"), "contents");
    ::chmod((kit_ + "f").c_str(), 0644);
    fs::remove(kit_ + "f");
  }
}

// The same file by another spelling (a link to the kit's directory) is refused before
// anything is written: the kit's file keeps its bytes.
TEST_F(FilesTest, CopyOntoItselfIsRefused) {
  twtest::WriteFile(kit_ + "twmain", "program");
  fs::create_directory_symlink(kit_, base_.path() + "alias");
  std::string out;
  EXPECT_EQ(tw::install::SetupCopyFile(kit_ + "twmain", base_.path() + "alias/twmain", &out),
            TWFAIL_SETUP_COPY_FILES);
  EXPECT_TRUE(Has(out, "same file")) << out;
  EXPECT_EQ(twtest::ReadFile(kit_ + "twmain"), "program");
  EXPECT_EQ(Leftovers(kit_, ".part-"), 0);
}

// A read that fails part-way is an error, not the end of the file: the destination keeps its
// old contents and no temporary stays.
TEST_F(FilesTest, ReadErrorLeavesDestinationAsItWas) {
  fs::create_directories(inst_);
  twtest::WriteFile(kit_ + "lib", std::string(100, 'n'));
  for (const char* before : {"", "old"}) {
    SCOPED_TRACE(before);
    if (*before) twtest::WriteFile(inst_ + "lib", before);
    std::string out;
    {
      FailRead fail(3);
      EXPECT_EQ(tw::install::SetupCopyFile(kit_ + "lib", inst_ + "lib", &out),
                TWFAIL_SETUP_COPY_FILES);
    }
    EXPECT_TRUE(Has(out, "Error reading file " + kit_ + "lib")) << out;
    EXPECT_EQ(fs::exists(inst_ + "lib"), *before != '\0');
    if (*before) {
      EXPECT_EQ(twtest::ReadFile(inst_ + "lib"), before);
    }
    EXPECT_EQ(Leftovers(inst_, ".part-"), 0);
  }
}

// A program that runs from the installation is replaced under it: no "text file busy".
TEST_F(FilesTest, RunningProgramIsReplaced) {
  fs::create_directories(inst_);
  fs::copy_file("/bin/sleep", inst_ + "twmain");
  fs::copy_file("/bin/true", kit_ + "twmain");
  pid_t pid = -1;
  std::string program = inst_ + "twmain";
  char arg0[] = "twmain", arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  ASSERT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  struct Reap {
    pid_t pid;
    ~Reap() {
      ::kill(pid, SIGKILL);
      int status;
      ::waitpid(pid, &status, 0);
    }
  } reap{pid};
  std::string out;
  EXPECT_EQ(tw::install::SetupCopyFile(kit_ + "twmain", program, &out), 0u) << out;
  EXPECT_EQ(twtest::ReadFile(program), twtest::ReadFile("/bin/true"));
}

TEST_F(FilesTest, KitTablesCopyWhatIsBuiltAndSkipTheRest) {
  for (const char* name : {"twmain", "ctlstore", "flatrec.twx", "libflowsys.so", "unlisted"})
    twtest::WriteFile(kit_ + name, name);
  struct Case {
    const char* kit;
    bool serverFiles;
  } cases[] = {{"1", false}, {"2", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kit);
    fs::remove_all(inst_);
    ASSERT_TRUE(SetField(ctx_.kitType, c.kit));
    std::string out;
    ASSERT_EQ(tw::install::SetupCopyProgramFiles(ctx_, out), 0u) << out;
    EXPECT_EQ(fs::exists(inst_ + "twmain"), c.serverFiles);
    EXPECT_TRUE(fs::exists(inst_ + "ctlstore"));
    EXPECT_TRUE(fs::exists(inst_ + "flatrec.twx"));
    EXPECT_TRUE(fs::exists(inst_ + "libflowsys.so"));
    EXPECT_FALSE(fs::exists(inst_ + "unlisted"));
    EXPECT_TRUE(Has(out, "Skipped instgui: not in this kit.\n")) << out;
    EXPECT_EQ(Has(out, "Skipped mibagent"), c.serverFiles);
    // Deleting takes what the tables name; absent rows count as deleted.
    out.clear();
    EXPECT_EQ(tw::install::SetupDeleteProgramFiles(ctx_, out), 0u) << out;
    EXPECT_TRUE(fs::is_empty(inst_));
  }
}

// The kit's files go in place only when all are written: a copy that fails on one file
// leaves the installation as it was, no temporaries, and the undo after it takes only what
// the copy added.
TEST_F(FilesTest, FailedCopyLeavesTheOldInstallation) {
  for (const char* name : {"twmain", "ctlstore", "flatrec.twx", "webrun"})
    twtest::WriteFile(kit_ + name, std::string("new ") + name);
  struct Case {
    const char* blocked;  // made a directory in the installation
    bool fresh;           // no installation before
  } cases[] = {{"webrun", false}, {"ctlstore", false}, {"webrun", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.blocked) + (c.fresh ? " fresh" : ""));
    fs::remove_all(inst_);
    fs::create_directories(inst_ + c.blocked);
    if (!c.fresh)
      for (const char* name : {"twmain", "flatrec.twx", "notes.txt"})
        twtest::WriteFile(inst_ + name, std::string("old ") + name);
    std::string out;
    EXPECT_EQ(tw::install::SetupCopyProgramFiles(ctx_, out), TWFAIL_SETUP_COPY_FILES);
    EXPECT_TRUE(Has(out, "Error writing file " + inst_ + c.blocked + ": Is a directory")) << out;
    EXPECT_EQ(tw::install::SetupUndoProgramFiles(ctx_), 0u);
    EXPECT_EQ(Leftovers(inst_, ".tw-new-") + Leftovers(inst_, ".part-"), 0);
    EXPECT_FALSE(fs::exists(inst_ + (std::string(c.blocked) == "webrun" ? "ctlstore" : "webrun")));
    if (!c.fresh) {
      for (const char* name : {"twmain", "flatrec.twx", "notes.txt"})
        EXPECT_EQ(twtest::ReadFile(inst_ + name), std::string("old ") + name);
    }
  }
}

TEST_F(FilesTest, UnusableInstallationDirectoryIsNamed) {
  twtest::WriteFile(base_.path() + "file", "");
  ASSERT_TRUE(SetField(ctx_.installDir, base_.path() + "file/inst/"));
  std::string out;
  EXPECT_EQ(tw::install::SetupCopyProgramFiles(ctx_, out), TWFAIL_SETUP_COPY_FILES);
  EXPECT_TRUE(Has(out, base_.path() + "file/inst")) << out;
}

TEST_F(FilesTest, ScriptAliasIsTheInstallationsRegistryValue) {
  fs::create_directories(inst_);
  twtest::WriteFile(inst_ + "twmain.ini", "[Configuration]\r\nDirectory=" + inst_ + "\r\n");
  std::string out;
  ASSERT_EQ(tw::install::SetupInstallScriptAlias(ctx_, out), 0u) << out;
  char value[512] = "";
  EXPECT_EQ(TWRegistryGetString("QuenscriptExtensions\\2.0", "SCRIPTBIND", value, sizeof value),
            0u);
  EXPECT_EQ(std::string(value), inst_ + "scriptbind.so");
  EXPECT_TRUE(fs::exists(inst_ + "registry/machine.reg"));
  ASSERT_EQ(tw::install::SetupRemoveScriptAlias(ctx_, out), 0u) << out;
  EXPECT_NE(TWRegistryGetString("QuenscriptExtensions\\2.0", "SCRIPTBIND", value, sizeof value),
            0u);
  TWPlatTerm();
}

TEST(PathAppend, DirectoryIsFoundExactlyWithOrWithoutSlash) {
  struct Case {
    const char* list;
    const char* dir;
    bool appended;
    const char* after;
  } cases[] = {
      {"/usr/bin:/opt/tw/", "/opt/tw/", false, "/usr/bin:/opt/tw/"},        // last
      {"/usr/bin:/opt/tw", "/opt/tw/", false, "/usr/bin:/opt/tw"},          // without "/"
      {"/opt/tw:/usr/bin", "/opt/tw/", false, "/opt/tw:/usr/bin"},          // before ":"
      {"/opt/tw/:/usr/bin", "/opt/tw/", false, "/opt/tw/:/usr/bin"},        // "/" before ":"
      {"/usr/bin:/OPT/TW", "/opt/tw/", true, "/usr/bin:/OPT/TW:/opt/tw/"},  // case counts
      {"/usr/bin:/opt/tw2", "/opt/tw/", true, "/usr/bin:/opt/tw2:/opt/tw/"},
      {"/usr/bin:", "/opt/tw/", true, "/usr/bin:/opt/tw/"},
      {"", "/opt/tw/", true, "/opt/tw/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    std::string list = c.list;
    EXPECT_EQ(tw::install::SetupPathAppend(list, c.dir), c.appended);
    EXPECT_EQ(list, c.after);
  }
}

class HomeTest : public ::testing::Test {
 protected:
  HomeTest() : home_("HOME", base_.path().c_str()), xdg_("XDG_DATA_HOME", nullptr) {}
  twtest::TempDir base_;
  twtest::ScopedEnv home_;
  twtest::ScopedEnv xdg_;
};

// The profile gains one line that sources the snippet, the rest kept byte for byte; a login
// shell then has the directory on its PATH.
TEST_F(HomeTest, UserPathThroughProfileSnippet) {
  const std::string dir = base_.path() + "tw inst/";
  EXPECT_EQ(tw::install::SetupUpdateUserPath(dir.c_str()), TWFAIL_REGISTRY_MISSING_VALUE);
  EXPECT_FALSE(fs::exists(base_.path() + ".config/tarnway/path.sh"));
  const std::string profile = "# mine\r\nexport EDITOR=vi";  // no line end at the end
  twtest::WriteFile(base_.path() + ".profile", profile);
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(tw::install::SetupUpdateUserPath(dir.c_str()), 0u);
    ASSERT_EQ(tw::install::SetupUpdateUserPath("/opt/other/"), 0u);
  }
  std::string now = twtest::ReadFile(base_.path() + ".profile");
  EXPECT_EQ(now.substr(0, profile.size()), profile);
  EXPECT_EQ(now.substr(profile.size()),
            "\n[ -f \"$HOME/.config/tarnway/path.sh\" ] && . \"$HOME/.config/tarnway/path.sh\"  "
            "# Tarnway\n");
  std::vector<std::string> env = {"HOME=" + base_.path(), "PATH=/usr/bin:/bin"};
  twtest::ProcessResult r = twtest::RunProgram(
      {"/bin/sh", "-c", ". \"$HOME/.profile\"; printf %s \"$PATH\""}, env, base_.path());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "/usr/bin:/bin:" + dir + ":/opt/other/");
}

TEST_F(HomeTest, UnusableProfileIsAnAccessFailure) {
  fs::create_directories(base_.path() + ".profile");
  EXPECT_EQ(tw::install::SetupUpdateUserPath("/opt/tw/"), TWFAIL_REGISTRY_ACCESS);
  std::string advice;
  tw::install::SetupPathAdvice("/opt/tw/", advice);
  EXPECT_TRUE(Has(advice, "(/opt/tw/)")) << advice;
  EXPECT_TRUE(Has(advice, "~/.profile")) << advice;
}

TEST_F(HomeTest, ProgramItemIsAValidDesktopEntry) {
  struct Case {
    const char* dir;
    const char* exec;
  } cases[] = {
      {"/opt/tw/", "Exec=\"/opt/tw/twmain\""},
      {"/opt/t w$x%\"/", "Exec=\"/opt/t w\\\\$x%%\\\\\"/twmain\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    SetupContext ctx{};
    ASSERT_TRUE(SetField(ctx.installDir, c.dir));
    ASSERT_EQ(tw::install::SetupCreateProgramItem(ctx), 0u);
    const std::string file =
        base_.path() + ".local/share/applications/quendal-applications/tarnway-2.0.desktop";
    std::string text = twtest::ReadFile(file);
    EXPECT_TRUE(Has(text, "\nName=Tarnway 2.0\n")) << text;
    EXPECT_TRUE(Has(text, "\nTerminal=true\n")) << text;
    EXPECT_TRUE(Has(text, "\n" + std::string(c.exec) + "\n")) << text;
    if (fs::exists("/usr/bin/desktop-file-validate")) {
      twtest::ProcessResult r = twtest::RunProgram({"/usr/bin/desktop-file-validate", file},
                                                   twtest::InheritedEnv(), base_.path());
      EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }
  }
  twtest::WriteFile(base_.path() + "blocked", "");
  twtest::ScopedEnv xdg("XDG_DATA_HOME", (base_.path() + "blocked").c_str());
  SetupContext ctx{};
  ASSERT_TRUE(SetField(ctx.installDir, "/opt/tw/"));
  EXPECT_EQ(tw::install::SetupCreateProgramItem(ctx), TWFAIL_SETUP_PROGRAM_ITEM);
}

// A removed installation leaves the PATH and the program item of the others; the snippet
// goes with its last directory.
TEST_F(HomeTest, RemovalTakesOnlyItsOwnPathEntryAndProgramItem) {
  twtest::WriteFile(base_.path() + ".profile", "# mine\n");
  const std::string snippet = base_.path() + ".config/tarnway/path.sh";
  for (const char* dir : {"/opt/a/", "/opt/tw/", "/opt/b"})
    ASSERT_EQ(tw::install::SetupUpdateUserPath(dir), 0u);
  struct Case {
    const char* dir;
    const char* left;  // null: no snippet any more
  } cases[] = {
      {"/opt/none/", "tarnway_path='/opt/a/:/opt/tw/:/opt/b'"},
      {"/opt/tw", "tarnway_path='/opt/a/:/opt/b'"},
      {"/opt/b/", "tarnway_path='/opt/a/'"},
      {"/opt/a/", nullptr},
      {"/opt/a/", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    EXPECT_EQ(tw::install::SetupRemoveUserPath(c.dir), 0u);
    if (c.left) {
      EXPECT_TRUE(Has(twtest::ReadFile(snippet), std::string("\n") + c.left + "\n"))
          << twtest::ReadFile(snippet);
    } else {
      EXPECT_FALSE(fs::exists(snippet));
    }
  }
  EXPECT_EQ(twtest::ReadFile(base_.path() + ".profile").substr(0, 7), "# mine\n");

  const std::string item =
      base_.path() + ".local/share/applications/quendal-applications/tarnway-2.0.desktop";
  SetupContext mine{}, other{};
  ASSERT_TRUE(SetField(mine.installDir, "/opt/tw/"));
  ASSERT_TRUE(SetField(other.installDir, "/opt/other/"));
  ASSERT_EQ(tw::install::SetupCreateProgramItem(mine), 0u);
  EXPECT_EQ(tw::install::SetupRemoveProgramItem(other), 0u);
  EXPECT_TRUE(fs::exists(item));
  EXPECT_EQ(tw::install::SetupRemoveProgramItem(mine), 0u);
  EXPECT_FALSE(fs::exists(item));
  EXPECT_EQ(tw::install::SetupRemoveProgramItem(mine), 0u);
}

// Only the canonical directory goes, in this process: never the root, the home directory or
// a directory above it, nor anything reached through a link.
TEST_F(HomeTest, DeleteDirectoryOnlyItsCanonicalSelf) {
  const std::string outside = base_.path() + "keep/";
  twtest::WriteFile(outside + "precious", "x");
  const std::string inst = base_.path() + "inst/";
  twtest::WriteFile(inst + "twmain", "x");
  fs::create_directory_symlink(outside, inst + "link");
  fs::create_directory_symlink(inst, base_.path() + "instlink");
  struct Case {
    std::string dir;
    uint32_t result;
  } cases[] = {
      {"/", TWFAIL_SETUP_DELETE_FILES},
      {base_.path(), TWFAIL_SETUP_DELETE_FILES},
      {fs::path(base_.path()).parent_path().parent_path().string() + "/",
       TWFAIL_SETUP_DELETE_FILES},
      {base_.path() + "instlink/", TWFAIL_SETUP_DELETE_FILES},
      {"relative/", TWFAIL_SETUP_DELETE_FILES},
      {inst, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    EXPECT_EQ(tw::install::SetupDeleteDirOnExit(c.dir.c_str()), c.result);
    EXPECT_EQ(fs::exists(inst), c.result != 0);
  }
  EXPECT_EQ(twtest::ReadFile(outside + "precious"), "x");
  EXPECT_TRUE(fs::exists(base_.path()));
}

}  // namespace
