// The run table: entry words and their byte layout, claim and free, and the server's
// ownership of TWMSGTBL against a second server.
#include "runtable.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "server_test_util.h"
#include "tw/coding.h"

namespace tw::server {
namespace {

constexpr uint32_t kNoResult = 0x10000327;

class RunTableTest : public ::testing::Test {
 protected:
  uint32_t Word(int entry, int word) const {
    return get_u32(reinterpret_cast<const unsigned char*>(block_.data()) + 20 * entry + 4 * word);
  }
  void SetWord(int entry, int word, uint32_t v) {
    put_u32(reinterpret_cast<unsigned char*>(block_.data()) + 20 * entry + 4 * word, v);
  }
  void Fill(uint32_t v) {
    for (int e = 0; e < 100; ++e)
      for (int w = 0; w < 5; ++w) SetWord(e, w, v);
  }
  alignas(8) std::array<uint32_t, 500> block_{};
};

TEST_F(RunTableTest, ResetSetsOnlyTheUsedEntriesAndLeavesWordsThreeAndFour) {
  Fill(0xAAAAAAAA);
  RunTable t(block_.data(), 4);
  t.Reset();
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(Word(e, 0), 0u);
    EXPECT_EQ(Word(e, 1), 0u);
    EXPECT_EQ(Word(e, 2), kNoResult);
    EXPECT_EQ(Word(e, 3), 0xAAAAAAAAu);
    EXPECT_EQ(Word(e, 4), 0xAAAAAAAAu);
  }
  EXPECT_EQ(Word(4, 0), 0xAAAAAAAAu);
}

TEST_F(RunTableTest, UsedCountIsKeptWithinTheTable) {
  EXPECT_EQ(RunTable(block_.data(), 0).used(), 1);
  EXPECT_EQ(RunTable(block_.data(), 100).used(), 100);
  EXPECT_EQ(RunTable(block_.data(), 250).used(), 100);
}

TEST_F(RunTableTest, ClaimTakesTheFirstFreeEntryAndFreeKeepsTheCloseRequest) {
  RunTable t(block_.data(), 3);
  t.Reset();
  bool again = true;
  EXPECT_EQ(t.Claim(5, &again), 0);
  EXPECT_FALSE(again);
  EXPECT_EQ(t.Claim(7, &again), 1);
  t.SetCloseRequest(0, TWCLOSE_TIMEOUT);
  SetWord(0, 2, 0);  // the runner's result
  EXPECT_EQ(Word(0, 0), 5u);

  t.Free(0);
  EXPECT_EQ(Word(0, 0), 0u);
  EXPECT_EQ(Word(0, 1), TWCLOSE_TIMEOUT);
  EXPECT_EQ(Word(0, 2), kNoResult);

  // The next claim clears the close request.
  EXPECT_EQ(t.Claim(9, &again), 0);
  EXPECT_EQ(Word(0, 0), 9u);
  EXPECT_EQ(Word(0, 1), 0u);
  EXPECT_EQ(Word(0, 2), kNoResult);
  EXPECT_EQ(t.Find(7), 1);
  EXPECT_EQ(t.Find(11), -1);
}

TEST_F(RunTableTest, AnEntryStillHoldingTheHandleIsTakenAgainWhereverItLies) {
  RunTable t(block_.data(), 3);
  t.Reset();
  SetWord(2, 0, 13);  // left by a run that was never freed
  SetWord(2, 1, 1);
  SetWord(2, 2, 4148);
  bool again = false;
  EXPECT_EQ(t.Claim(13, &again), 2);
  EXPECT_TRUE(again);
  EXPECT_EQ(Word(2, 1), 0u);
  EXPECT_EQ(Word(2, 2), kNoResult);
  EXPECT_EQ(Word(0, 0), 0u);  // the first free entry stayed free
}

TEST_F(RunTableTest, AFullTableRefusesAClaimAndChangesNothing) {
  RunTable t(block_.data(), 2);
  t.Reset();
  bool again = false;
  ASSERT_EQ(t.Claim(3, &again), 0);
  ASSERT_EQ(t.Claim(5, &again), 1);
  auto before = block_;
  EXPECT_EQ(t.Claim(7, &again), -1);
  EXPECT_EQ(t.Claim(0, &again), -1);
  EXPECT_EQ(block_, before);
}

class SharedRunTableTest : public ::testing::Test {
 protected:
  twtest::ServerInstallation inst_;
};

TEST_F(SharedRunTableTest, ASecondOwnerIsRefusedAndLeavesTheFirstTableAlone) {
  SharedRunTable first;
  ASSERT_EQ(first.Create(), TWSUCCESS);
  ASSERT_NE(first.address(), nullptr);
  RunTable t(first.address(), 100);
  t.Reset();
  bool again = false;
  ASSERT_EQ(t.Claim(21, &again), 0);

  {
    SharedRunTable second;
    EXPECT_EQ(second.Create(), TWFAIL_SHMEM_EXISTS);
    EXPECT_EQ(second.address(), nullptr);
  }  // the refused one destroys nothing on its way out
  EXPECT_EQ(t.Handle(0), 21);

  // The name-only clean-up of the signal path removes the table this process owns.
  TWProcShmem probe{};
  ASSERT_NE(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
  TWProcShmemUnmap(&probe);
  EXPECT_EQ(DestroyRunTableByName(), TWSUCCESS);
  EXPECT_EQ(TWProcShmemMap(TWMSGTBL_SIZE, TWMSGTBL_NAME, &probe), nullptr);
}

TEST_F(SharedRunTableTest, DestroyFreesTheNameForTheNextServer) {
  {
    SharedRunTable first;
    ASSERT_EQ(first.Create(), TWSUCCESS);
  }
  SharedRunTable next;
  EXPECT_EQ(next.Create(), TWSUCCESS);
  // A new table starts zero-filled.
  EXPECT_EQ(get_u32(next.address()), 0u);
}

}  // namespace
}  // namespace tw::server
