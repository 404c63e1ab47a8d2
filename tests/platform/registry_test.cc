// The file-backed registry: values under the components key, reading from the root, deleting,
// bounded reads, what the store refuses, concurrent writers and failed writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "env.h"
#include "plat_test_util.h"
#include "platform.h"

namespace {

using twtest::TempDir;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { twtest::InitAt(tmp.path()); }
  void TearDown() override {
    tw::Env::Set(nullptr);
    TWPlatTerm();
  }

  // The value's text, or "!<status>" when it cannot be read.
  static std::string Get(const char* subkey, const char* name, uint32_t size = 256) {
    std::string buf(size + 4, '#');
    uint32_t st = TWRegistryGetString(subkey, name, buf.data(), size);
    EXPECT_EQ(buf.substr(size), "####") << "written past the buffer";
    if (st != TWSUCCESS) {
      EXPECT_EQ(buf[0], '\0') << "buffer not emptied";
      return "!" + std::to_string(st);
    }
    return buf.c_str();
  }

  TempDir tmp;
};

const std::string k538 = "!" + std::to_string(TWFAIL_REGISTRY_ACCESS);
const std::string k539 = "!" + std::to_string(TWFAIL_REGISTRY_MISSING_VALUE);

TEST_F(RegistryTest, SetGetOverwriteAndCase) {
  ASSERT_EQ(TWRegistrySetString("QuenscriptExtensions\\2.0", "Path", "/opt/tw/scriptbind"), 0u);
  EXPECT_EQ(Get("QuenscriptExtensions\\2.0", "Path"), "/opt/tw/scriptbind");
  EXPECT_EQ(Get("quenscriptextensions\\2.0", "PATH"), "/opt/tw/scriptbind");
  ASSERT_EQ(TWRegistrySetString("QUENSCRIPTEXTENSIONS\\2.0", "path", " a = b "), 0u);
  EXPECT_EQ(Get("QuenscriptExtensions\\2.0", "Path"), " a = b ");
  // A null value name is the key's unnamed value.
  ASSERT_EQ(TWRegistrySetString("Tarnway", nullptr, "default"), 0u);
  EXPECT_EQ(Get("Tarnway", ""), "default");
  EXPECT_TRUE(std::filesystem::exists(tmp / "registry/machine.reg"));
}

TEST_F(RegistryTest, BackslashReadsFromTheRoot) {
  ASSERT_EQ(TWRegistrySetString("Tarnway", "Version", "2.0"), 0u);
  EXPECT_EQ(Get("\\Software\\Quendal\\Components\\Tarnway", "Version"), "2.0");
  EXPECT_EQ(Get("\\Tarnway", "Version"), k538);            // no such key at the root
  EXPECT_EQ(Get("\\Software\\Quendal", "Version"), k539);  // the key exists, the value not
  EXPECT_EQ(Get("\\", "Version"), k539);
}

TEST_F(RegistryTest, DeletingValues) {
  ASSERT_EQ(TWRegistrySetString("Tarnway", "A", "1"), 0u);
  ASSERT_EQ(TWRegistrySetString("Tarnway", "B", "2"), 0u);
  EXPECT_EQ(TWRegistrySetString("Tarnway", "A", ""), 0u);
  EXPECT_EQ(Get("Tarnway", "A"), k539);
  EXPECT_EQ(TWRegistryRemoveString("Tarnway", "b"), 0u);
  EXPECT_EQ(Get("Tarnway", "B"), k539);
  EXPECT_EQ(TWRegistryRemoveString("Tarnway", "A"), TWFAIL_REGISTRY_MISSING_VALUE);
  // Deleting in a missing key still creates the key, as the system registry does.
  EXPECT_EQ(Get("Other", "A"), k538);
  EXPECT_EQ(TWRegistrySetString("Other", "A", nullptr), TWFAIL_REGISTRY_MISSING_VALUE);
  EXPECT_EQ(Get("Other", "A"), k539);
}

TEST_F(RegistryTest, ReadsAreBounded) {
  ASSERT_EQ(TWRegistrySetString("Tarnway", "Path", "0123456789"), 0u);
  EXPECT_EQ(Get("Tarnway", "Path", 11), "0123456789");
  EXPECT_EQ(Get("Tarnway", "Path", 10), k539);  // does not fit with its NUL: not cut
  EXPECT_EQ(Get("Tarnway", "Path", 1), k539);
  EXPECT_EQ(TWRegistryGetString("Tarnway", "Path", nullptr, 10), TWFAIL_NULL_BUFFER);
  char one = 'x';
  EXPECT_EQ(TWRegistryGetString("Tarnway", "Path", &one, 0), TWFAIL_NULL_BUFFER);
  EXPECT_EQ(one, 'x');
}

TEST_F(RegistryTest, RefusesWhatTheStoreCannotHold) {
  ASSERT_EQ(TWRegistrySetString("Tarnway", "Keep", "kept"), 0u);
  std::string before = twtest::ReadFile(tmp / "registry/machine.reg");
  struct Case {
    const char* subkey;
    const char* name;
    const char* text;
    uint32_t status;
  } cases[] = {
      {"Tarnway", "Keep", "two\nlines", TWFAIL_REGISTRY_MISSING_VALUE},
      {"Tarnway", "Keep", "cr\r", TWFAIL_REGISTRY_MISSING_VALUE},
      {"Tarnway", "a=b", "x", TWFAIL_REGISTRY_MISSING_VALUE},
      {"Tarnway", "[Tarnway]", "x", TWFAIL_REGISTRY_MISSING_VALUE},
      {"Tarnway", "new\nline", "x", TWFAIL_REGISTRY_MISSING_VALUE},
      {"Tar\nway", "Keep", "x", TWFAIL_REGISTRY_ACCESS},
      {nullptr, "Keep", "x", TWFAIL_REGISTRY_ACCESS},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TWRegistrySetString(c.subkey, c.name, c.text), c.status) << (c.name ? c.name : "");
  EXPECT_EQ(twtest::ReadFile(tmp / "registry/machine.reg"), before);
  EXPECT_EQ(Get("Tarnway", "Keep"), "kept");
  EXPECT_EQ(Get(nullptr, "Keep"), k538);
  // Texts that look like the store's own lines are kept as they are.
  ASSERT_EQ(TWRegistrySetString("Odd]\\[Key", "]x", "[Tarnway]"), 0u);
  EXPECT_EQ(Get("Odd]\\[Key", "]x"), "[Tarnway]");
  EXPECT_EQ(Get("Tarnway", "Keep"), "kept");
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kThreads = 6, kValues = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kValues; ++i) {
        std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(TWRegistrySetString("Busy", name.c_str(), name.c_str()), 0u);
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kValues; ++i) {
      std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(Get("Busy", name.c_str()), name);
    }
}

// Fails every rename: the store's replacement never lands.
class FailRename : public tw::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool Rename(const std::string&, const std::string&) override { return false; }
};

TEST_F(RegistryTest, FailedWriteKeepsTheOldStore) {
  ASSERT_EQ(TWRegistrySetString("Tarnway", "A", "old"), 0u);
  std::string before = twtest::ReadFile(tmp / "registry/machine.reg");
  FailRename env(tw::Env::Default());
  tw::Env::Set(&env);
  EXPECT_EQ(TWRegistrySetString("Tarnway", "A", "new"), TWFAIL_REGISTRY_MISSING_VALUE);
  EXPECT_EQ(TWRegistrySetString("Tarnway", "A", nullptr), TWFAIL_REGISTRY_MISSING_VALUE);
  EXPECT_EQ(TWRegistrySetString("NewKey", "A", nullptr), TWFAIL_REGISTRY_ACCESS);
  tw::Env::Set(nullptr);
  EXPECT_EQ(twtest::ReadFile(tmp / "registry/machine.reg"), before);
  EXPECT_EQ(Get("Tarnway", "A"), "old");
  for (const auto& entry : std::filesystem::directory_iterator(tmp / "registry"))
    EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
}

TEST(RegistryNoInit, NeedsAnInstallationDirectory) {
  ASSERT_STREQ(TWFileExeDir(), "");
  char buf[16] = "x";
  EXPECT_EQ(TWRegistrySetString("Tarnway", "A", "1"), TWFAIL_REGISTRY_ACCESS);
  EXPECT_EQ(TWRegistryGetString("Tarnway", "A", buf, sizeof buf), TWFAIL_REGISTRY_ACCESS);
  EXPECT_STREQ(buf, "");
}

}  // namespace
