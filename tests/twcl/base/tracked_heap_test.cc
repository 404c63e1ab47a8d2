// Tests of the tracked heap called directly: alignment, counters, fills, the leak report,
// releases after a report, damaged headers, exhausted memory and concurrent use.
#include "twcl/base/tracked_heap.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base_test_util.h"
#include "twcl/base/error.h"

namespace twcl_test {
namespace {

// The header in front of every block: 64 bytes, padded for alignment.
constexpr std::size_t kHeaderSize = 64;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

bool AllBytes(const void* block, std::size_t size, unsigned char value) {
  const auto* p = static_cast<const unsigned char*>(block);
  return std::all_of(p, p + size, [value](unsigned char b) { return b == value; });
}

std::string HexAddress(const void* p) {
  std::ostringstream out;
  out << std::hex << reinterpret_cast<std::uintptr_t>(p);
  return out.str();
}

// Installs a fatal handler that records the text and lets the caller go on.
class FatalCapture {
 public:
  FatalCapture() : _previous(CL_Error::SetFatalHandler(&Collect)) { Texts().clear(); }
  ~FatalCapture() { CL_Error::SetFatalHandler(_previous); }
  FatalCapture(const FatalCapture&) = delete;
  FatalCapture& operator=(const FatalCapture&) = delete;
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }

 private:
  static bool Collect(const char* text) {
    Texts().emplace_back(text);
    return false;
  }
  CL_ErrorHandler _previous;
};

// ---------------------------------------------------------------------------------------
// Blocks and counters

TEST(TrackedHeapTest, EveryBlockIsAlignedForAnyType) {
  std::vector<void*> blocks;
  for (std::size_t size = 1; size <= 257; ++size) {
    void* block = CL_TrackedAlloc(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u) << size;
    blocks.push_back(block);
  }
  // Objects of the strictest fundamental alignment live in them (UBSan checks the access).
  auto* number = ::new (blocks[sizeof(long double) - 1]) long double(1.5L);
  *number *= 2;
  EXPECT_EQ(*number, 3.0L);
  struct alignas(16) Wide {
    std::int64_t a, b;
  };
  auto* wide = ::new (blocks[sizeof(Wide) - 1]) Wide{1, 2};
  EXPECT_EQ(wide->a + wide->b, 3);
  for (void* block : blocks) CL_TrackedFree(block);
  EXPECT_TRUE(CL_HeapListIntact());
}

TEST(TrackedHeapTest, CountersFollowRequestedBytes) {
  const std::int64_t base = CL_CurrentMemoryUsed();
  const std::int64_t max_before = CL_MaxMemoryUsed();
  EXPECT_EQ(CL_TrackedAlloc(0), nullptr);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
  void* ten = CL_TrackedAlloc(10);
  void* twenty = CL_TrackedAlloc(20);
  CL_TrackedFree(ten);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base + 20);
  EXPECT_EQ(CL_MaxMemoryUsed(), std::max(max_before, base + 30));
  CL_TrackedFree(twenty);
  CL_TrackedFree(nullptr);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
  EXPECT_EQ(CL_MaxMemoryUsed(), std::max(max_before, base + 30));
}

TEST(TrackedHeapTest, FreshAndReleasedBytesAreFilled) {
  auto* block = static_cast<unsigned char*>(CL_TrackedAlloc(100));
  EXPECT_TRUE(AllBytes(block, 100, CL_HeapFreshByte));
  std::memset(block, 0x55, 100);
  CL_TrackedFree(block);
  if (kAddressSanitizer) GTEST_SKIP() << "released memory is only readable without ASan";
  // Freed memory may have been handed out again in between; only look at the block's
  // middle, which the allocator's own bookkeeping does not use.
  EXPECT_TRUE(AllBytes(block + 32, 60, CL_HeapReleasedByte));
}

// ---------------------------------------------------------------------------------------
// Leak report

TEST(LeakCheckerTest, ReportsTheBlocksOfItsScopeOldestFirst) {
  void* before = CL_TrackedAlloc(5);
  std::ostringstream out;
  void* leaked[2] = {};
  {
    CL_MemoryLeakChecker checker(out);
    void* released = CL_TrackedAlloc(7);
    leaked[0] = CL_TrackedAlloc(10);
    CL_TrackedFree(released);
    leaked[1] = CL_TrackedAlloc(20, "widget.cc", 42);
  }
  const std::string report = out.str();
  const std::regex form(
      "\n\n\nCL_MemoryLeakChecker: Memory leaks:\n-{35}\n"
      "Time: ([0-9]+) Address: ([0-9a-f]+) Size: 10 bytes\n"
      "Time: ([0-9]+) Address: ([0-9a-f]+) Size: 20 bytes line 42 File: widget.cc\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(report, match, form)) << report;
  // Serials count releases too: allocation, allocation, release, allocation.
  EXPECT_EQ(std::stoull(match[3]), std::stoull(match[1]) + 2);
  EXPECT_EQ(match[2], HexAddress(static_cast<char*>(leaked[0]) - kHeaderSize));
  EXPECT_EQ(match[4], HexAddress(static_cast<char*>(leaked[1]) - kHeaderSize));
  // The report dropped every block; releasing them afterwards is still safe and counted.
  const std::int64_t in_use = CL_CurrentMemoryUsed();
  CL_TrackedFree(leaked[0]);
  CL_TrackedFree(before);
  CL_TrackedFree(leaked[1]);
  EXPECT_EQ(CL_CurrentMemoryUsed(), in_use - 35);
  EXPECT_TRUE(CL_HeapListIntact());
}

TEST(LeakCheckerTest, ACleanScopeOrABadStreamWritesNothing) {
  std::ostringstream clean;
  {
    CL_MemoryLeakChecker checker(clean);
    CL_TrackedFree(CL_TrackedAlloc(8));
  }
  EXPECT_EQ(clean.str(), "");

  // A checker over a failed stream reports nothing and keeps the list, so a second checker
  // still sees the block.
  std::ostringstream bad, good;
  bad.setstate(std::ios::badbit);
  void* block = nullptr;
  {
    CL_MemoryLeakChecker outer(good);
    {
      CL_MemoryLeakChecker inner(bad);
      block = CL_TrackedAlloc(33);
    }
  }
  EXPECT_THAT(good.str(), testing::HasSubstr("Size: 33 bytes\n"));
  CL_TrackedFree(block);
}

TEST(LeakCheckerTest, ReleasingAfterAReportNeverFollowsStaleLinks) {
  void* a = CL_TrackedAlloc(11);
  void* b = CL_TrackedAlloc(12);
  {
    std::ostringstream out;
    CL_MemoryLeakChecker drop(out);
  }
  std::ostringstream later;
  void* c = nullptr;
  void* d = nullptr;
  {
    CL_MemoryLeakChecker checker(later);
    c = CL_TrackedAlloc(13);
    d = CL_TrackedAlloc(14);
    // b was a's neighbour in the dropped list: releasing b and then a must not write into
    // b's released header through a's old link.
    CL_TrackedFree(b);
    CL_TrackedFree(a);
    EXPECT_TRUE(CL_HeapListIntact());
  }
  // c and d stayed linked, and nothing else of the new list was disturbed.
  EXPECT_THAT(later.str(), testing::HasSubstr("Size: 13 bytes\nTime: "));
  EXPECT_THAT(later.str(), testing::EndsWith("Size: 14 bytes\n"));
  CL_TrackedFree(d);
  CL_TrackedFree(c);
  EXPECT_TRUE(CL_HeapListIntact());
}

// ---------------------------------------------------------------------------------------
// Damaged headers and exhausted memory

TEST(TrackedHeapTest, ADamagedHeaderLeavesTheBlockAlone) {
  WarningCapture warnings;
  auto* block = static_cast<unsigned char*>(CL_TrackedAlloc(24));
  auto* magic = reinterpret_cast<std::uint32_t*>(block - kHeaderSize);
  const std::int64_t in_use = CL_CurrentMemoryUsed();
  for (const bool check : {false, true}) {
    const bool previous = CL_SetHeapCheck(check);
    EXPECT_FALSE(previous);
    *magic ^= 1;
    CL_TrackedFree(block);
    *magic ^= 1;
    CL_SetHeapCheck(false);
  }
  char expected[64];
  std::snprintf(expected, sizeof expected, "TWCL op delete (%8lx): memory corrupted",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(block)));
  EXPECT_THAT(warnings.texts(), testing::ElementsAre(expected));
  EXPECT_EQ(CL_CurrentMemoryUsed(), in_use);
  EXPECT_TRUE(AllBytes(block, 24, CL_HeapFreshByte));
  EXPECT_TRUE(CL_HeapListIntact());
  CL_TrackedFree(block);
  EXPECT_EQ(CL_CurrentMemoryUsed(), in_use - 24);
}

TEST(TrackedHeapTest, ExhaustedMemoryWithAReturningFatalHandlerAnswersNull) {
  FatalCapture fatal;
  const std::int64_t in_use = CL_CurrentMemoryUsed();
  EXPECT_EQ(CL_TrackedAlloc(SIZE_MAX / 2), nullptr);
  EXPECT_EQ(CL_TrackedAlloc(SIZE_MAX), nullptr);
  EXPECT_EQ(CL_CurrentMemoryUsed(), in_use);
  EXPECT_TRUE(CL_HeapListIntact());
  EXPECT_THAT(FatalCapture::Texts(),
              testing::ElementsAre(
                  "TWCL base: allocating " + std::to_string(SIZE_MAX / 2) + " bytes: no memory!",
                  "TWCL base: allocating " + std::to_string(SIZE_MAX) + " bytes: no memory!"));
}

// ---------------------------------------------------------------------------------------
// Concurrency

TEST(TrackedHeapTest, ThreadsAllocateReleaseAndReportAtOnce) {
  const std::int64_t base = CL_CurrentMemoryUsed();
  std::atomic<bool> done{false};
  std::atomic<int> reports{0};
  std::thread reporter([&] {
    while (!done.load()) {
      std::ostringstream out;
      { CL_MemoryLeakChecker checker(out); }
      reports.fetch_add(1);
      EXPECT_TRUE(CL_HeapListIntact());
    }
  });
  std::vector<std::thread> workers;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    workers.emplace_back([seed] {
      std::mt19937 random(seed);
      std::uniform_int_distribution<std::size_t> size_of(1, 512);
      struct Live {
        unsigned char* block;
        std::size_t size;
        unsigned char mark;
      };
      std::vector<Live> live;
      for (int step = 0; step < 50000; ++step) {
        if (live.empty() || random() % 3 != 0) {
          const std::size_t size = size_of(random);
          auto* block = static_cast<unsigned char*>(CL_TrackedAlloc(size));
          ASSERT_NE(block, nullptr);
          const auto mark = static_cast<unsigned char>(random());
          std::memset(block, mark, size);
          live.push_back({block, size, mark});
          if (live.size() > 64) {
            std::swap(live[random() % live.size()], live.back());
          } else {
            continue;
          }
        }
        // No other thread wrote into a block that is still ours.
        const Live victim = live.back();
        live.pop_back();
        ASSERT_TRUE(AllBytes(victim.block, victim.size, victim.mark));
        CL_TrackedFree(victim.block);
      }
      for (const Live& rest : live) CL_TrackedFree(rest.block);
    });
  }
  for (std::thread& worker : workers) worker.join();
  done.store(true);
  reporter.join();
  EXPECT_GT(reports.load(), 0);
  EXPECT_TRUE(CL_HeapListIntact());
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
}

}  // namespace
}  // namespace twcl_test
