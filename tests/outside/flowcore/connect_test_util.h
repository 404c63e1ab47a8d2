// Helpers of the connection-layer tests: an installation with the test connectors and the
// engine started, connections that are disconnected and freed on every path, and the
// journals testlink.twx keeps of the calls it received.
#ifndef TW_TESTS_OUTSIDE_FLOWCORE_CONNECT_TEST_UTIL_H_
#define TW_TESTS_OUTSIDE_FLOWCORE_CONNECT_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "activity_test_util.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "flowcore_ptr.h"

namespace twtest {

// The own tokens of testlink.twx.
enum TestLinkToken : uint32_t { kRows = 1, kColumns = 2, kJournal = 3, kFail = 4 };

// A test's installation holding the test connectors, with the engine started for its life.
class EngineInstallation {
 public:
  EngineInstallation() {
    for (const char* name :
         {"testlink", "badlink_missing", "badlink_kind", "badlink_version", "badlink_table"})
      InstallPlugin(inst_, name);
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
  }
  ~EngineInstallation() { TWSystemTerm(); }
  const Installation& inst() const { return inst_; }
  // Installs testlink.twx once more under another name: a second, separate connector.
  void CopyTestLink(const std::string& name) const {
    std::filesystem::copy_file(inst_ / "testlink.twx", inst_ / (name + ".twx"));
  }
  // The first and last bits testlink.twx and its copies received, one line per call.
  std::vector<std::string> ProcessJournal() const;

 private:
  Installation inst_;
};

inline std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline std::vector<std::string> EngineInstallation::ProcessJournal() const {
  return Lines(ReadFile(inst_ / "testlink.journal"));
}

// An unnamed stand-alone activity for the life of the object.
class StandAloneActivity {
 public:
  StandAloneActivity() { EXPECT_EQ(activity_.Alloc(0, nullptr, 0), TWSUCCESS); }

 private:
  flowcore::ActivityOwner activity_;
};

// A connection that is disconnected and freed when the object goes.
class Connection {
 public:
  // The handle slot of TWConnectAlloc. The call sees the handle held (a test may plant one
  // there to see it cleared on failure).
  flowcore::OutSlot<flowcore::ConnectPtr> out() { return flowcore::Out(c_); }
  TWCONNECT get() const { return c_.get(); }
  void Release() { c_.reset(); }

 private:
  flowcore::ConnectPtr c_;
};

// Allocates a connection to connector library by name.
inline uint32_t AllocByLibrary(Connection& c, std::string_view library) {
  Text name(library);
  return TWConnectAlloc(c.out(), TWTOKENF_EXTERN, name.get());
}

// A property of the connection read as native text ("<status>" when the read fails).
inline std::string PropertyText(TWCONNECT c, uint32_t token) {
  Text value;
  uint32_t st = TWConnectGetPropertyStream(c, token, 0, value.get());
  return st == TWSUCCESS ? value.str() : "<" + std::to_string(st) + ">";
}

inline uint32_t SetText(TWCONNECT c, uint32_t token, std::string_view value) {
  Text text(value);
  return TWConnectSetPropertyStream(c, token, text.get());
}

// The calls the connector received on the connection, one line each.
inline std::vector<std::string> ConnectorJournal(TWCONNECT c) {
  return Lines(PropertyText(c, kJournal));
}

// A field list that is freed when the object goes.
class FieldList {
 public:
  explicit FieldList(uint32_t records, uint32_t flags = 0) {
    EXPECT_EQ(TWFieldlistAlloc(flowcore::Out(list_), records, flags), TWSUCCESS);
  }
  TWFIELDLIST get() const { return list_.get(); }
  // Appends a text field; value i of values goes into record i + 1.
  void AddText(std::string_view name, const std::vector<std::string>& values = {},
               uint32_t flags = 0) {
    Text n(name);
    TWFIELD field = TWNULLHANDLE;
    ASSERT_EQ(TWFieldlistAppend(list_.get(), n.get(), TWTYPE_TEXT, &field), TWSUCCESS);
    if (flags != 0) {
      ASSERT_EQ(TWFieldSetFlags(field, flags), TWSUCCESS);
    }
    for (size_t i = 0; i < values.size(); ++i) {
      Text v(values[i]);
      ASSERT_EQ(TWFieldSetStream(field, static_cast<uint32_t>(i + 1), v.get()), TWSUCCESS);
    }
  }
  // Value record of field index as text.
  std::string Value(uint32_t index, uint32_t record) const {
    TWFIELD field = TWNULLHANDLE;
    EXPECT_EQ(TWFieldlistGetField(list_.get(), index, 0, &field, nullptr), TWSUCCESS);
    Text text;
    EXPECT_EQ(TWFieldGetStream(field, record, TWSTREAMFMT_NATIVE, text.get(), nullptr), TWSUCCESS);
    return text.str();
  }

 private:
  flowcore::FieldlistPtr list_;
};

}  // namespace twtest

#endif  // TW_TESTS_OUTSIDE_FLOWCORE_CONNECT_TEST_UTIL_H_
