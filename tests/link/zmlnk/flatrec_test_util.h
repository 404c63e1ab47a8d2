// Helpers of the text-file connector tests: a test's own installation with the engine and a
// stand-alone activity, a connection driven through the same layer as the entry points,
// property setting, and field lists for fetching and inserting.
#ifndef TW_TESTS_LINK_ZMLNK_FLATREC_TEST_UTIL_H_
#define TW_TESTS_LINK_ZMLNK_FLATREC_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "activity_test_util.h"
#include "connection.h"
#include "fake_ctlstore.h"
#include "flowcore.h"
#include "plat_test_util.h"

namespace flatrec_test {

using flatrec::Connection;
using twtest::Text;

// The installation of one test, the engine started and an unnamed activity current.
class Env {
 public:
  Env() {
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  ~Env() {
    TWActivityFree();
    TWSystemTerm();
  }
  std::string operator/(const std::string& name) const { return inst_ / name; }
  const twtest::Installation& inst() const { return inst_; }

 private:
  twtest::Installation inst_;
};

inline uint32_t SetField(Connection& c, uint32_t token, uint32_t type,
                         const std::function<void(TWFIELD)>& fill) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, type, 1), TWSUCCESS);
  fill(f);
  uint32_t st = c.SetProperty(token, f);
  TWFieldFree(f);
  return st;
}
inline uint32_t SetText(Connection& c, uint32_t token, std::string_view value) {
  return SetField(c, token, TWTYPE_TEXT, [&](TWFIELD f) {
    Text t(value);
    EXPECT_EQ(TWFieldSetStream(f, 1, t.get()), TWSUCCESS);
  });
}
inline uint32_t SetInt(Connection& c, uint32_t token, int32_t value) {
  return SetField(c, token, TWTYPE_INT,
                  [&](TWFIELD f) { EXPECT_EQ(TWFieldSetInt(f, 1, &value), TWSUCCESS); });
}
inline uint32_t SetNull(Connection& c, uint32_t token, uint32_t type) {
  return SetField(c, token, type, [](TWFIELD) {});
}
inline std::string GetText(Connection& c, uint32_t token) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, TWTYPE_TEXT, 1), TWSUCCESS);
  std::string out = "<fail>";
  if (c.GetProperty(token, f) == TWSUCCESS) {
    Text t;
    EXPECT_EQ(TWFieldGetStream(f, 1, TWSTREAMFMT_NATIVE, t.get(), nullptr), TWSUCCESS);
    out = t.str();
  }
  TWFieldFree(f);
  return out;
}
inline int32_t GetInt(Connection& c, uint32_t token) {
  TWFIELD f = TWNULLHANDLE;
  EXPECT_EQ(TWFieldAlloc(&f, TWTYPE_INT, 1), TWSUCCESS);
  int32_t v = -999;
  if (c.GetProperty(token, f) == TWSUCCESS) TWFieldGetInt(f, 1, &v, nullptr);
  TWFieldFree(f);
  return v;
}

// A connection with its defaults, tracing nothing to standard output.
class Link {
 public:
  Link() {
    EXPECT_EQ(c.Initialize(0x00010001, 1), TWSUCCESS);
    EXPECT_EQ(SetInt(c, flatrec::kTrace, 1), TWSUCCESS);
  }
  ~Link() { c.Terminate(0); }
  Link& Str(uint32_t token, std::string_view v) {
    EXPECT_EQ(SetText(c, token, v), TWSUCCESS) << token;
    return *this;
  }
  Link& Num(uint32_t token, int32_t v) {
    EXPECT_EQ(SetInt(c, token, v), TWSUCCESS) << token;
    return *this;
  }
  Connection c;
};

using twtest::List;
using twtest::SetValue;

// Every record of an open source as rows of texts ("<null>" for null values), fetched one
// by one into a list described by Execute. *last receives the status that ended it.
inline std::vector<std::vector<std::string>> FetchAll(Connection& c, uint32_t* last = nullptr) {
  List list(1);
  uint32_t described = 0;
  EXPECT_EQ(c.Execute(nullptr, list.get(), &described), TWSUCCESS);
  std::vector<std::vector<std::string>> rows;
  const uint32_t n = TWFieldlistGetCount(list.get());
  for (int guard = 0; guard < 1000; ++guard) {
    uint32_t count = 0;
    uint32_t st = c.Fetch(list.get(), 1, 1, &count);
    if (st != TWSUCCESS) {
      if (last != nullptr) *last = st;
      break;
    }
    std::vector<std::string> row;
    for (uint32_t i = 1; i <= n; ++i) row.push_back(list.Value(i, 1).value_or("<null>"));
    rows.push_back(std::move(row));
  }
  return rows;
}

inline std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string log = twtest::ReadFile(path);
  for (size_t at = 0, nl; (nl = log.find('\n', at)) != std::string::npos; at = nl + 1) {
    // Each line leads with "yy.mm.dd hh:mm:ss AM ".
    std::string line = log.substr(at, nl - at);
    lines.push_back(line.size() >= 21 ? line.substr(21) : line);
  }
  return lines;
}

}  // namespace flatrec_test

#endif  // TW_TESTS_LINK_ZMLNK_FLATREC_TEST_UTIL_H_
