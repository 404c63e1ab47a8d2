// Helpers of the text-file connector tests: a test's own installation with the engine and a
// stand-alone activity, a connection driven through the same layer as the entry points, its
// properties (link_test_util.h), and field lists for fetching and inserting.
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
#include "link_test_util.h"
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

using link_test::SetInt;
using link_test::SetNull;
using link_test::SetText;
// A failed get reads "<fail>" or -999.
inline std::string GetText(Connection& c, uint32_t token) {
  return link_test::GetText(c, token).value_or("<fail>");
}
inline int32_t GetInt(Connection& c, uint32_t token) {
  return link_test::GetInt(c, token).value_or(-999);
}

// A connection with its defaults, tracing nothing to standard output.
class Link : public link_test::PropertyChain<Link> {
 public:
  Link() {
    EXPECT_EQ(c.Initialize(0x00010001, 1), TWSUCCESS);
    EXPECT_EQ(SetInt(c, flatrec::kTrace, 1), TWSUCCESS);
  }
  ~Link() { (void)c.Terminate(0); }  // tests that care check Terminate themselves
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
