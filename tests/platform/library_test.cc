// Libraries: plug-ins loaded from the installation directory only, names that could leave
// it refused, and exports reached by name or by ordinal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::TempDir;

std::string ModulePath() {
  const char* build = std::getenv("TW_BUILD_DIR");
  return std::string(build ? build : ".") + "/tests/loader_module.twx";
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    twtest::InitAt(tmp.path());
    std::filesystem::copy_file(ModulePath(), tmp / "flatrec.twx");
  }
  void TearDown() override { TWPlatTerm(); }

  using Fn = int (*)();
  static int Call(void* proc) { return proc ? reinterpret_cast<Fn>(proc)() : -1; }

  TempDir tmp;
};

TEST_F(LibraryTest, PluginComesFromTheInstallationDirectory) {
  void* lib = TWLibraryLoad("flatrec", TWLIB_PLUGIN);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(Call(TWLibraryLoadProc(lib, "TWXFirst", 0)), 101);
  EXPECT_EQ(TWLibraryFree(lib), 1);

  lib = TWLibraryLoad("flatrec", TWLIB_PLUGIN | TWLIB_NO_ERROR_BOX);
  EXPECT_NE(lib, nullptr);
  TWLibraryFree(lib);
  EXPECT_EQ(TWLibraryLoad("oracle", TWLIB_PLUGIN), nullptr);
}

TEST_F(LibraryTest, NamesThatCouldLeaveTheDirectoryAreRefused) {
  std::filesystem::create_directories(tmp / "sub");
  std::filesystem::copy_file(ModulePath(), tmp / "sub/inner.twx");
  std::filesystem::copy_file(ModulePath(), tmp / "a..b.twx");
  for (const char* name : std::initializer_list<const char*>{"sub/inner", "../flatrec", "./flatrec",
                                                             "a..b", "/flatrec", "", nullptr})
    EXPECT_EQ(TWLibraryLoad(name, TWLIB_PLUGIN), nullptr) << (name ? name : "null");
  // Without the plug-in flag a path is used as given, but ".." never.
  std::string up = tmp / "sub/../flatrec.twx";
  EXPECT_EQ(TWLibraryLoad(up.c_str(), 0), nullptr);
  void* lib = TWLibraryLoad((tmp / "sub/inner.twx").c_str(), 0);
  EXPECT_NE(lib, nullptr);
  TWLibraryFree(lib);
}

TEST_F(LibraryTest, ExportsByOrdinalThroughTheTable) {
  void* lib = TWLibraryLoad("flatrec", TWLIB_PLUGIN);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(Call(TWLibraryLoadProc(lib, nullptr, 1)), 101);
  EXPECT_EQ(Call(TWLibraryLoadProc(lib, nullptr, 2)), 102);
  // A table entry naming nothing, past the table's end, 0, and beyond 16 bits.
  for (uint32_t ordinal : {3u, 4u, 5u, 0u, 0x10001u})
    EXPECT_EQ(TWLibraryLoadProc(lib, nullptr, ordinal), nullptr) << ordinal;
  EXPECT_EQ(TWLibraryLoadProc(lib, "TWXMissing", 0), nullptr);
  EXPECT_EQ(TWLibraryLoadProc(nullptr, "TWXFirst", 0), nullptr);
  TWLibraryFree(lib);
}

TEST_F(LibraryTest, ModuleWithoutOrdinalTable) {
  void* lib = TWLibraryLoad("libm.so.6", 0);
  ASSERT_NE(lib, nullptr);
  EXPECT_NE(TWLibraryLoadProc(lib, "cos", 0), nullptr);
  EXPECT_EQ(TWLibraryLoadProc(lib, nullptr, 1), nullptr);
  TWLibraryFree(lib);
  EXPECT_EQ(TWLibraryFree(nullptr), 0);
}

TEST(LibraryNoInit, PluginsNeedAnInstallationDirectory) {
  TempDir tmp;
  twtest::ScopedCwd cwd;
  std::filesystem::copy_file(ModulePath(), tmp / "flatrec.twx");
  ASSERT_EQ(TWFileSetDir(tmp.path().c_str()), 1);
  ASSERT_STREQ(TWFileExeDir(), "");
  EXPECT_EQ(TWLibraryLoad("flatrec", TWLIB_PLUGIN), nullptr);
}

}  // namespace
