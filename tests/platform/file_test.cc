// Files and directories: the access-mode table, seeking, directories made level by level,
// and the listing of plug-in files with bounded name copies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::ReadFile;
using twtest::TempDir;
using twtest::WriteFile;

class FileTest : public ::testing::Test {
 protected:
  void TearDown() override { TWPlatTerm(); }
  TempDir tmp;
  twtest::ScopedCwd cwd;
};

TEST_F(FileTest, ModeTable) {
  // What each mode does to an existing file holding "abc" and to a missing one.
  struct Case {
    int mode;
    bool opensExisting, createsMissing, reads, writes, truncates, appends;
  } cases[] = {
      {1, true, false, true, false, false, false},    {3, true, false, true, true, false, false},
      {10, true, false, true, true, false, false},    {11, true, false, true, true, false, false},
      {6, true, true, false, true, true, false},      {7, true, true, true, true, true, false},
      {14, true, true, false, true, false, true},     {15, true, true, true, true, false, true},
      {0x11, true, false, true, false, false, false}, {0x13, true, false, true, true, false, false},
      {0x16, true, true, false, true, true, false},   {0x1E, true, true, false, true, false, true},
  };
  for (int mode : {0, 2, 4, 5, 8, 9, 12, 13, 0x10, 0x21, 0x41, -1}) {
    WriteFile(tmp / "existing", "abc");
    std::remove((tmp / "missing").c_str());
    EXPECT_EQ(TWFileOpen((tmp / "existing").c_str(), mode), nullptr) << mode;
    EXPECT_EQ(TWFileOpen((tmp / "missing").c_str(), mode), nullptr) << mode;
    EXPECT_EQ(TWFileExist((tmp / "missing").c_str()), 0) << mode;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    std::string existing = tmp / "existing", missing = tmp / "missing";
    WriteFile(existing, "abc");
    std::remove(missing.c_str());

    FILE* f = TWFileOpen(missing.c_str(), c.mode);
    EXPECT_EQ(f != nullptr, c.createsMissing);
    if (f) TWFileClose(f);
    EXPECT_EQ(TWFileExist(missing.c_str()), c.createsMissing ? 1 : 0);

    f = TWFileOpen(existing.c_str(), c.mode);
    ASSERT_EQ(f != nullptr, c.opensExisting);
    if (!f) {
      EXPECT_EQ(ReadFile(existing), "abc");
      continue;
    }
    char buf[8] = {};
    EXPECT_EQ(TWFileRead(f, 3, buf) == 3, c.reads && !c.truncates);
    if (c.reads && !c.truncates) {
      EXPECT_STREQ(buf, "abc");
    }
    TWFileSeek(f, TWSEEK_START, 0);
    EXPECT_EQ(TWFileWrite(f, 2, "XY") == 2, c.writes);
    EXPECT_EQ(TWFileClose(f), 0);
    std::string want = c.truncates ? "XY" : c.appends ? "abcXY" : c.writes ? "XYc" : "abc";
    EXPECT_EQ(ReadFile(existing), want);
  }
}

// A directory is no file in any mode, though the C library would open one for reading.
TEST_F(FileTest, ADirectoryIsNotOpened) {
  ASSERT_EQ(TWMkDir((tmp / "dir").c_str()), 1);
  for (int mode : {1, 3, 6, 7, 10, 11, 14, 15, 0x11, 0x13, 0x16, 0x1E}) {
    errno = 0;
    EXPECT_EQ(TWFileOpen((tmp / "dir").c_str(), mode), nullptr) << mode;
    EXPECT_EQ(errno, EISDIR) << mode;
  }
}

TEST_F(FileTest, TextAndBinaryModesReadTheSameBytes) {
  WriteFile(tmp / "t", "a\r\nb\n");
  for (int mode : {int{TWFILE_READ}, TWFILE_READ | TWFILE_BINARY}) {
    FILE* f = TWFileOpen((tmp / "t").c_str(), mode);
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(TWFileRead(f, sizeof buf, buf), 5u) << mode;
    EXPECT_STREQ(buf, "a\r\nb\n");
    TWFileClose(f);
  }
}

TEST_F(FileTest, SeekOrigins) {
  WriteFile(tmp / "s", "0123456789");
  FILE* f = TWFileOpen((tmp / "s").c_str(), TWFILE_READ);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TWFileSeek(f, TWSEEK_START, 4), 4);
  EXPECT_EQ(TWFileSeek(f, TWSEEK_CURRENT, 2), 6);
  EXPECT_EQ(TWFileSeek(f, TWSEEK_END, -3), 7);
  // Unknown origins answer 0 and leave the position.
  for (int origin : {0, 4, -1, 1000}) {
    EXPECT_EQ(TWFileSeek(f, origin, 1), 0) << origin;
    char c = 0;
    ASSERT_EQ(TWFileRead(f, 1, &c), 1u);
    EXPECT_EQ(c, '7') << origin;
    TWFileSeek(f, TWSEEK_START, 7);
  }
  EXPECT_EQ(TWFileSeek(f, TWSEEK_START, -1), -1);
  TWFileClose(f);
  EXPECT_EQ(TWFileSeek(nullptr, TWSEEK_START, 0), -1);
}

TEST_F(FileTest, NullArgumentsAreHarmless) {
  WriteFile(tmp / "n", "x");
  FILE* f = TWFileOpen((tmp / "n").c_str(), TWFILE_UPDATE);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TWFileRead(f, 1, nullptr), 0u);
  EXPECT_EQ(TWFileWrite(f, 1, nullptr), 0u);
  EXPECT_EQ(TWFileRead(nullptr, 1, f), 0u);
  EXPECT_EQ(TWFileWrite(nullptr, 1, "x"), 0u);
  TWFileClose(f);
  EXPECT_EQ(TWFileClose(nullptr), EOF);
  EXPECT_EQ(TWFileOpen(nullptr, TWFILE_READ), nullptr);
  EXPECT_EQ(TWFileExist(nullptr), 0);
  EXPECT_EQ(TWFileDelete(nullptr), 0);
  EXPECT_EQ(TWFileSetDir(nullptr), 0);
  EXPECT_EQ(TWFileSetDir(""), 0);
  EXPECT_EQ(TWMkDir(nullptr), 0);
  EXPECT_EQ(TWMkDir(""), 0);
}

TEST_F(FileTest, ExistAndDelete) {
  WriteFile(tmp / "d", "");
  EXPECT_EQ(TWFileExist((tmp / "d").c_str()), 1);
  EXPECT_EQ(TWFileExist(tmp.path().c_str()), 1);
  EXPECT_EQ(TWFileDelete((tmp / "d").c_str()), 1);
  EXPECT_EQ(TWFileExist((tmp / "d").c_str()), 0);
  EXPECT_EQ(TWFileDelete((tmp / "d").c_str()), 0);
}

TEST_F(FileTest, CurrentDirectoryFitsOrIsNotCopied) {
  ASSERT_EQ(TWFileSetDir(tmp.path().c_str()), 1);
  std::string want = tmp.path().substr(0, tmp.path().size() - 1);  // no trailing "/"
  std::string buf(want.size() + 8, '#');
  EXPECT_EQ(TWFileGetDir(buf.data(), static_cast<uint32_t>(want.size() + 1)), 1);
  EXPECT_EQ(std::string(buf.c_str()), want);
  EXPECT_EQ(buf.substr(want.size() + 1), std::string(7, '#'));

  std::string small(want.size() + 8, '#');
  EXPECT_EQ(TWFileGetDir(small.data(), static_cast<uint32_t>(want.size())), 0);
  EXPECT_EQ(small, std::string(want.size() + 8, '#'));
  EXPECT_EQ(TWFileGetDir(nullptr, 100), 0);
  EXPECT_EQ(TWFileGetDir(small.data(), 0), 0);
  EXPECT_EQ(TWFileSetDir((tmp / "missing").c_str()), 0);
}

TEST_F(FileTest, MkDirCreatesEveryLevel) {
  WriteFile(tmp / "file", "");
  ASSERT_EQ(TWFileSetDir(tmp.path().c_str()), 1);
  struct Case {
    std::string path;
    int result;
    const char* check;  // a directory that must exist afterwards, relative to tmp
  } cases[] = {
      {tmp / "a/b/c", 1, "a/b/c"}, {tmp / "a/b/c", 1, "a/b/c"},  // all there already
      {tmp / "x//y/", 1, "x/y"},   {"rel/one", 1, "rel/one"},   {tmp / "file/sub", 0, nullptr},
      {tmp / "file", 0, nullptr},  {"/", 1, nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TWMkDir(c.path.c_str()), c.result) << c.path;
    if (c.check) {
      struct stat st;
      EXPECT_TRUE(::stat((tmp / c.check).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << c.path;
    }
  }
}

// ---------------------------------------------------------------- plug-in file lists

class FileListTest : public FileTest {
 protected:
  void SetUp() override { twtest::InitAt(tmp.path()); }

  // Lists with the given buffer size, checking that no call writes past it.
  std::set<std::string> List(size_t size = 256) {
    std::set<std::string> names;
    std::string buf(size + 4, '#');
    TWFileListContext* ctx = nullptr;
    uint32_t st = TWFileListFirst("*.twx", buf.data(), size, &ctx);
    while (st == TWSUCCESS) {
      EXPECT_EQ(buf.substr(size), "####");
      names.insert(buf.c_str());
      st = TWFileListNext(buf.data(), size, ctx);
    }
    EXPECT_EQ(st, TWFAIL_END_OF_DATA);
    if (ctx != nullptr) {
      EXPECT_EQ(TWFileListClose(ctx), TWSUCCESS);
    }
    return names;
  }
};

TEST_F(FileListTest, ListsPluginFilesOfTheInstallationDirectory) {
  for (const char* name : {"flatrec.twx", "oracle.twx", "upper.TWX", "flatrec.twx.bak", "x.txt"})
    WriteFile(tmp / name, "");
  std::filesystem::create_directories(tmp / "dir.twx");
  WriteFile(tmp / "sub/inner.twx", "");
  EXPECT_EQ(List(), (std::set<std::string>{"flatrec.twx", "oracle.twx"}));
}

TEST_F(FileListTest, NamesAreCutToTheBuffer) {
  WriteFile(tmp / "flatrec.twx", "");
  EXPECT_EQ(List(5), std::set<std::string>{"flat"});
  EXPECT_EQ(List(1), std::set<std::string>{""});
}

TEST_F(FileListTest, NoPluginsEndsAtOnce) {
  char name[64] = "untouched";
  TWFileListContext* ctx = nullptr;
  EXPECT_EQ(TWFileListFirst("*.twx", name, sizeof name, &ctx), TWFAIL_END_OF_DATA);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_STREQ(name, "untouched");
}

TEST_F(FileListTest, OnlyTheExactPatternAndRequiredArguments) {
  WriteFile(tmp / "a.twx", "");
  char name[64];
  TWFileListContext* ctx = nullptr;
  for (const char* pattern :
       std::initializer_list<const char*>{"*.TWX", "*.*", "*", "a.twx", "*.twx ", "", nullptr})
    EXPECT_EQ(TWFileListFirst(pattern, name, sizeof name, &ctx), TWFAIL_UNAVAILABLE)
        << (pattern ? pattern : "null");
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(TWFileListFirst("*.twx", name, sizeof name, nullptr), TWFAIL_NULL_RESULT);
  EXPECT_EQ(TWFileListFirst("*.twx", nullptr, sizeof name, &ctx), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(TWFileListNext(name, sizeof name, nullptr), TWFAIL_FILELIST_CONTEXT);
  EXPECT_EQ(TWFileListClose(nullptr), TWFAIL_FILELIST_CONTEXT);
}

TEST_F(FileTest, ListingWithoutInstallationDirectoryFindsNothing) {
  WriteFile(tmp / "a.twx", "");
  ASSERT_EQ(TWFileSetDir(tmp.path().c_str()), 1);
  char name[64];
  TWFileListContext* ctx = nullptr;
  EXPECT_EQ(TWFileListFirst("*.twx", name, sizeof name, &ctx), TWFAIL_END_OF_DATA);
  EXPECT_EQ(ctx, nullptr);
}

}  // namespace
