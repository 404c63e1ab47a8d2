// A stand-alone program's transfer end to end: an unnamed activity, two connections through
// the test connector, records moved block by block from one to the other, a log entry, and
// everything freed again.
#include <gtest/gtest.h>

#include <string>

#include "connect_test_util.h"
#include "flowcore.h"

namespace twtest {
namespace {

TEST(Transfer, AStandAloneActivityMovesRecordsBetweenTwoConnections) {
  EngineInstallation env;
  ASSERT_EQ(TWActivityAlloc(0, nullptr, 0), TWSUCCESS);
  TWCONNECT source = TWNULLHANDLE, dest = TWNULLHANDLE;
  Text library("testlink");
  ASSERT_EQ(TWConnectAlloc(&source, TWTOKENF_EXTERN, library.get()), TWSUCCESS);
  ASSERT_EQ(TWConnectAlloc(&dest, TWTOKENF_EXTERN, library.get()), TWSUCCESS);
  const std::string rows = "1,alpha;2,beta;3,gamma;4,delta;5,epsilon";
  ASSERT_EQ(SetText(source, kRows, rows), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(source), TWSUCCESS);
  ASSERT_EQ(TWConnectConnect(dest), TWSUCCESS);

  TWFIELDLIST block = TWNULLHANDLE;
  ASSERT_EQ(TWFieldlistAlloc(&block, 2, 0), TWSUCCESS);
  uint32_t described = 0;
  ASSERT_EQ(TWConnectExecute(source, nullptr, block, &described), TWSUCCESS);
  EXPECT_EQ(described, TWCOUNT_UNKNOWN);
  EXPECT_EQ(TWFieldlistGetCount(block), 2u);
  uint32_t moved = 0, blocks = 0;
  for (;;) {
    uint32_t fetched = 0, inserted = 0;
    uint32_t st = TWConnectFetch(source, block, 1, 2, &fetched);
    ASSERT_TRUE(st == TWSUCCESS || st == TWFAIL_END_OF_DATA) << st;
    if (fetched == 0) break;
    ASSERT_EQ(TWConnectInsert(dest, block, 1, fetched, &inserted), TWSUCCESS);
    EXPECT_EQ(inserted, fetched);
    moved += inserted;
    ++blocks;
    if (st == TWFAIL_END_OF_DATA) break;
  }
  EXPECT_EQ(moved, 5u);
  EXPECT_EQ(blocks, 3u);
  EXPECT_EQ(PropertyText(dest, kRows), rows);

  Text message("Moved five records");
  EXPECT_EQ(TWActivityLogStream(TWLOGSTREAMF_EVENT, message.get(), 0), TWSUCCESS);
  LastEntry last = LogLast();
  EXPECT_EQ(last.status, TWEVENT_EXTERNAL);
  EXPECT_EQ(last.text, "Moved five records");
  EXPECT_EQ(TWActivityGetStatus(), TWSUCCESS);

  EXPECT_EQ(TWFieldlistFree(block), TWSUCCESS);
  EXPECT_EQ(TWConnectDisconnect(dest), TWSUCCESS);
  EXPECT_EQ(TWConnectFree(dest), TWSUCCESS);
  EXPECT_EQ(TWConnectDisconnect(source), TWSUCCESS);
  EXPECT_EQ(TWConnectFree(source), TWSUCCESS);
  EXPECT_EQ(TWActivityFree(), TWSUCCESS);

  // Both contexts were terminated, the second as the library's last.
  std::vector<std::string> lines = env.ProcessJournal();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].rfind("Terminate", 0), 0u);
  EXPECT_NE(lines[2].find("flags=0 connected=0"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("flags=1 connected=0"), std::string::npos) << lines[3];
}

}  // namespace
}  // namespace twtest
