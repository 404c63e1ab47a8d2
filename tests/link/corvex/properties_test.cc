// The Corvex connector's properties, actions and a connect that cannot succeed: what needs no
// server.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "corvex_test_util.h"

namespace corvex_test {
namespace {

using link_test::GetInt;
using link_test::GetText;
using link_test::SetInt;
using link_test::SetNull;
using link_test::SetText;

TEST(CorvexProperties, ServedAndRefused) {
  Engine engine;
  Link link;
  uint32_t st = 0;
  EXPECT_FALSE(GetText(link.c, TWTOKEN_PASSWORD, &st));
  EXPECT_EQ(st, TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(SetText(link.c, TWTOKEN_PASSWORD, "secret"), TWSUCCESS);
  EXPECT_EQ(SetInt(link.c, TWTOKEN_TEXT_FORMAT, 5), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(GetInt(link.c, TWTOKEN_TEXT_FORMAT), static_cast<int32_t>(TWSTREAMFMT_NATIVE));
  EXPECT_EQ(SetInt(link.c, 5, 1), TWFAIL_INVALID_PROPERTY);
  EXPECT_EQ(SetInt(link.c, TWTOKEN_STAMPFIELD + 0x100, 1), TWFAIL_INVALID_PROPERTY);
  // Text properties read back as set; a null field empties one.
  link.Str(TWTOKEN_DATABASE, "sales").Str(TWTOKEN_INDEX, "ix");
  EXPECT_EQ(GetText(link.c, TWTOKEN_DATABASE), "sales");
  EXPECT_EQ(SetNull(link.c, TWTOKEN_DATABASE, TWTYPE_TEXT), TWSUCCESS);
  EXPECT_EQ(GetText(link.c, TWTOKEN_DATABASE), "");
  // Flags: 7 is on; a null field leaves the flag as it was.
  for (uint32_t token :
       {uint32_t{corvex::kBulk}, uint32_t{corvex::kBulkEnable}, uint32_t{corvex::kCreateShortBound},
        uint32_t{corvex::kCreateShortUnbound}, uint32_t{TWTOKEN_WRITEBACK}}) {
    EXPECT_EQ(SetInt(link.c, token, 7), TWSUCCESS);
    EXPECT_EQ(GetInt(link.c, token), 1) << token;
    EXPECT_EQ(SetNull(link.c, token, TWTYPE_INT), TWSUCCESS);
    EXPECT_EQ(GetInt(link.c, token), 1) << token;
    EXPECT_EQ(SetInt(link.c, token, 0), TWSUCCESS);
    EXPECT_EQ(GetInt(link.c, token), 0) << token;
  }
  // An unset BASESTAMP reads as a null datetime.
  TWFIELD f = TWNULLHANDLE;
  ASSERT_EQ(TWFieldAlloc(&f, TWTYPE_DATETIME, 1), TWSUCCESS);
  EXPECT_EQ(link.c.GetProperty(TWTOKEN_BASESTAMP, f), TWSUCCESS);
  TWDatetime d{};
  EXPECT_EQ(TWFieldGetDatetime(f, 1, &d, nullptr), TWSUCCESS);
  EXPECT_EQ(TWDatetimeGetJulian(&d), TWDTNULL_DATE);
  TWFieldFree(f);
}

TEST(CorvexProperties, MetadataMovesTheGenerationEachTime) {
  Engine engine;
  Link link;
  EXPECT_EQ(link.c.metadataGeneration, 1u);
  link.Str(TWTOKEN_METADATA, "T");
  link.Str(TWTOKEN_METADATA, "T");
  EXPECT_EQ(link.c.metadataGeneration, 3u);
  EXPECT_EQ(link.c.nextGeneration, 4u);
}

TEST(CorvexProperties, ActionsAndOperationsWithoutConnection) {
  Engine engine;
  Link link;
  for (uint32_t code : {0u, 3u, 4u, 5u}) EXPECT_EQ(link.c.Action(code), TWFAIL_UNAVAILABLE) << code;
  EXPECT_EQ(link.c.Action(TWACTION_RESET), TWSUCCESS);
  EXPECT_EQ(link.c.Disconnect(0), TWSUCCESS);
  uint32_t n = 0;
  EXPECT_EQ(link.c.Fetch(TWNULLHANDLE, 1, 1, &n), TWFAIL_NO_RESULTSET);
}

TEST(CorvexProperties, FailedConnectLeavesNothingOpen) {
  Engine engine;
  twtest::TempDir dir;
  // A server entry that no one answers: the port is closed.
  const std::string conf = dir.path() + "freetds.conf";
  std::ofstream(conf) << "[nobody]\n\thost = 127.0.0.1\n\tport = 1\n\ttds version = 5.0\n"
                         "\tlogin timeout = 5\n";
  setenv("FREETDSCONF", conf.c_str(), 1);
  for (const char* server : {"nobody", "not_in_the_file"}) {
    Link link;
    link.Str(TWTOKEN_SERVER, server).Str(TWTOKEN_USERID, "sa");
    // The engine's answer to a logged error, never the library's 0.
    EXPECT_EQ(link.c.Connect(), TWFAIL_EXTERNAL) << server;
    EXPECT_FALSE(link.c.connected());
    EXPECT_EQ(link.c.Disconnect(0), TWSUCCESS);
  }
  unsetenv("FREETDSCONF");
}

}  // namespace
}  // namespace corvex_test
