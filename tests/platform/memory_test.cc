// Memory blocks: a size of 0 counts as 1, and resizing keeps the leading bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform.h"

namespace {

TEST(Memory, ZeroSizeCountsAsOne) {
  void* a = TWMemAlloc(0);
  void* c = TWMemCalloc(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(*static_cast<unsigned char*>(c), 0);
  static_cast<char*>(a)[0] = 'x';  // one byte is usable
  TWMemFree(a);
  TWMemFree(c);
}

TEST(Memory, ReallocToZeroKeepsTheFirstByte) {
  auto* p = static_cast<unsigned char*>(TWMemAlloc(100));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 100; ++i) p[i] = static_cast<unsigned char>(i + 1);
  auto* q = static_cast<unsigned char*>(TWMemRealloc(p, 100, 0));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q[0], 1);
  TWMemFree(q);
}

TEST(Memory, ReallocKeepsTheLeadingBytesBothWays) {
  auto* p = static_cast<unsigned char*>(TWMemCalloc(64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  std::memset(p, 0xAB, 64);
  p = static_cast<unsigned char*>(TWMemRealloc(p, 64, 1 << 20));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0xAB) << i;
  p[(1 << 20) - 1] = 1;
  p = static_cast<unsigned char*>(TWMemRealloc(p, 1 << 20, 16));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(p[i], 0xAB) << i;
  TWMemFree(p);
}

TEST(Memory, NullBlocks) {
  EXPECT_EQ(TWMemRealloc(nullptr, 0, 10), nullptr);
  TWMemFree(nullptr);
}

TEST(Memory, BlocksAreAlignedForAnyType) {
  for (uint32_t size : {1u, 3u, 17u, 100u}) {
    void* p = TWMemAlloc(size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(max_align_t), 0u) << size;
    TWMemFree(p);
  }
}

}  // namespace
