// Helpers of the activity-layer tests: text streams, plug-ins copied into the test's
// installation, and a runner's activity served by the fake control store.
#ifndef TW_TESTS_OUTSIDE_FLOWCORE_ACTIVITY_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_FLOWCORE_ACTIVITY_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake_ctlstore.h"
#include "flowcore.h"
#include "flowcore_ptr.h"

namespace twtest {

// A stream record that owns its data.
class Text {
 public:
  Text() = default;
  explicit Text(std::string_view text) { EXPECT_EQ(s_.Set(TWSTREAMFMT_NATIVE, text), TWSUCCESS); }
  TWStream* get() { return s_.get(); }
  std::string str() const { return std::string(s_.view()); }

 private:
  flowcore::StreamData s_;
};

// Copies plug-in name.twx from beside the test program into the installation.
inline void InstallPlugin(const Installation& inst, const std::string& name) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  ASSERT_FALSE(ec) << ec.message();
  std::filesystem::copy_file(dir / (name + ".twx"), inst / (name + ".twx"),
                             std::filesystem::copy_options::overwrite_existing, ec);
  ASSERT_FALSE(ec) << name << ": " << ec.message();
}

// Copies the plug-in file name (with its ".twx") from the build's installation directory
// (TW_INST_DIR, else the "inst" beside the tests) into the installation.
inline void InstallBuiltPlugin(const Installation& inst, const std::string& name) {
  const char* built = std::getenv("TW_INST_DIR");
  std::error_code ec;
  std::filesystem::path from =
      built != nullptr && *built != '\0'
          ? std::filesystem::path(built)
          : std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path() /
                "inst";
  std::filesystem::copy_file(from / name, inst / name,
                             std::filesystem::copy_options::overwrite_existing, ec);
  ASSERT_FALSE(ec) << from << ": " << ec.message();
}

// A field list owned by the test.
class List {
 public:
  explicit List(uint32_t records) {
    EXPECT_EQ(TWFieldlistAlloc(flowcore::Out(list_), records, 0), TWSUCCESS);
  }
  TWFIELDLIST get() const { return list_.get(); }
  uint32_t count() const { return TWFieldlistGetCount(list_.get()); }
  TWFIELD Add(std::string_view name, uint32_t type) {
    Text n(name);
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistAppend(list_.get(), n.get(), type, &f), TWSUCCESS);
    return f;
  }
  TWFIELD Field(uint32_t index) const {
    TWFIELD f = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistGetField(list_.get(), index, 0, &f, nullptr), TWSUCCESS);
    return f;
  }
  // Value of field index in record as native text; nullopt when null.
  std::optional<std::string> Value(uint32_t index, uint32_t record) const {
    TWFIELD f = Field(index);
    if (TWFieldIsNull(f, record)) return std::nullopt;
    Text t;
    EXPECT_EQ(TWFieldGetStream(f, record, TWSTREAMFMT_NATIVE, t.get(), nullptr), TWSUCCESS);
    return t.str();
  }

 private:
  flowcore::FieldlistPtr list_;
};

inline void SetValue(TWFIELD f, uint32_t record, std::string_view text) {
  Text t(text);
  ASSERT_EQ(TWFieldSetStream(f, record, t.get()), TWSUCCESS) << text;
}

// The last log entry's status and text (without "Error: " and the link suffix).
struct LastEntry {
  uint32_t status = 0;
  std::string text;
  uint32_t externalCode = 0;
  std::string externalText;
};
inline LastEntry LogLast() {
  Text text, external;
  LastEntry last;
  last.status = TWActivityGetLogLast(text.get(), &last.externalCode, external.get());
  last.text = text.str();
  last.externalText = external.str();
  return last;
}

// The own tokens of testact.twx.
enum TestActToken : uint32_t { kResult = 1, kMode = 2, kCounter = 3, kTargets = 4 };

// An activity document of the fake control store for the runner: the library testact (as a
// migrated document would name it) and the properties given.
struct ActivityProperty {
  std::string item;
  uint32_t token;
  FakeValue value;
};
inline int32_t AddTestActivity(FakeCtlstore& store, const std::string& name,
                               const std::vector<ActivityProperty>& properties,
                               const std::string& library = "TestAct.twx") {
  int32_t id = store.AddDocument(CSMGR_ID_ACTIVITY, name);
  if (!library.empty()) store.AddProperty(id, "Library", TWTOKEN_LIBRARY, FakeValue::Text(library));
  for (const ActivityProperty& p : properties) store.AddProperty(id, p.item, p.token, p.value);
  return id;
}

// Opens a slot for the activity named name, as the runner started by name does; 0 on failure.
inline int32_t OpenSlot(const std::string& name) {
  Text stream(name);
  int32_t handle = 0;
  EXPECT_EQ(CSMgrOpenActivity(&handle, stream.get(), 0), TWSUCCESS) << name;
  return handle;
}

}  // namespace twtest

#endif  // TW_TESTS_OUTSIDE_FLOWCORE_ACTIVITY_TEST_UTIL_H_
