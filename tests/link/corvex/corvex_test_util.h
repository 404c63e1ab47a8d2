// Helpers of the Corvex connector tests: the engine started with an activity to log to, and a
// Connection initialised as the engine would, with the property chain of link_test_util.h.
#ifndef TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_
#define TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "activity_test_util.h"
#include "connection.h"
#include "flowcore.h"
#include "link_test_util.h"
#include "plat_test_util.h"
#ifdef TDS5D_FIXTURE
#include "tds5d_fixture.h"
#endif

namespace corvex_test {

// The engine with an unnamed activity.
class Engine {
 public:
  Engine() {
    EXPECT_EQ(TWSystemInit(), TWSUCCESS);
    EXPECT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  }
  ~Engine() {
    TWActivityFree();
    TWSystemTerm();
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

 private:
  twtest::Installation inst_;
};

struct Link : link_test::PropertyChain<Link> {
  Link() { EXPECT_EQ(c.Initialize(0x00010001, 1), TWSUCCESS); }
  ~Link() {
    (void)c.Disconnect(0);
    (void)c.Terminate(1);
  }
  corvex::Connection c;
};

#ifdef TDS5D_FIXTURE
// The server sections of the fixture's freetds.conf.
inline constexpr const char* kUtf8 = "corvex_utf8";
inline constexpr const char* kLatin1 = "corvex_latin1";

// A tds5d of the test with the database "test" made.
class Tds {
 public:
  Tds();
  const char* user() const { return twtest::kTds5dUser; }
  const char* password() const { return twtest::kTds5dPassword; }
  twtest::Tds5dServer& server() { return server_; }
  // Whether the server was sent text (any kind).
  bool Logged(const std::string& text) const {
    for (const auto& l : server_.Log())
      if (l.text == text) return true;
    return false;
  }
  // Every text sent, one a line, for failure messages.
  std::string Log() const {
    std::string out;
    for (const auto& l : server_.Log()) out += l.kind + "\t" + l.text + "\n";
    return out;
  }

 private:
  twtest::Tds5dServer server_;
};
#endif

// Runs text on link and answers every row fetched, each column as native text ("NULL" for a
// null value), columns joined by "|".
inline std::vector<std::string> Rows(corvex::Connection& c, std::string_view text) {
  std::vector<std::string> rows;
  twtest::Text statement(text);
  twtest::List dest(1);
  uint32_t n = 0;
  uint32_t st = c.Execute(statement.get(), dest.get(), &n);
  EXPECT_EQ(st, TWSUCCESS) << text;
  if (st != TWSUCCESS) return rows;
  for (;;) {
    uint32_t got = 0;
    st = c.Fetch(dest.get(), 1, 1, &got);
    if (st == TWFAIL_END_OF_DATA) break;
    EXPECT_EQ(st, TWSUCCESS) << text;
    if (st != TWSUCCESS) break;
    std::string row;
    for (uint32_t i = 1; i <= dest.count(); ++i) {
      if (i > 1) row += "|";
      row += dest.Value(i, 1).value_or("NULL");
    }
    rows.push_back(row);
  }
  return rows;
}

// Runs text that yields no rows; its status.
inline uint32_t Exec(corvex::Connection& c, std::string_view text) {
  twtest::Text statement(text);
  twtest::List dest(1);
  uint32_t n = 0;
  return c.Execute(statement.get(), dest.get(), &n);
}

#ifdef TDS5D_FIXTURE
inline Tds::Tds() {
  if (!server_.started()) return;
  Link admin;
  admin.Str(TWTOKEN_SERVER, kUtf8).Str(TWTOKEN_USERID, user()).Str(TWTOKEN_PASSWORD, password());
  EXPECT_EQ(admin.c.Connect(), TWSUCCESS);
  EXPECT_EQ(Exec(admin.c, "create database test"), TWSUCCESS);
}
#endif

}  // namespace corvex_test

#endif  // TW_TESTS_LINK_CORVEX_CORVEX_TEST_UTIL_H_
