// Tests of the tracked heap as the program's global operator new and delete: every
// allocation of this program is tracked; allocation with origin shows in leak reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "twcl/base/error.h"
#include "twcl/base/string.h"
#include "twcl/base/tracked_heap.h"

namespace {

struct Widget {
  std::int64_t parts[5] = {1, 2, 3, 4, 5};
};

struct alignas(64) Overaligned {
  unsigned char bytes[64];
};

// The compiler may leave out an allocation whose block never escapes (clang does, for a
// new-expression followed by its delete); handing the block to an empty asm makes it escape.
template <class T>
T* Escaped(T* block) {
  asm volatile("" : : "r"(block) : "memory");
  return block;
}

TEST(TrackedNewTest, NewAndDeleteGoThroughTheTrackedHeap) {
  const std::int64_t base = CL_CurrentMemoryUsed();
  auto* widget = Escaped(new Widget);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base + static_cast<std::int64_t>(sizeof(Widget)));
  auto* raw = Escaped(new unsigned char[16]);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(raw[i], CL_HeapFreshByte);
  delete[] raw;
  delete widget;
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);

  // Zero bytes still give distinct blocks, counted as one byte each.
  auto* none = Escaped(new char[0]);
  auto* other = Escaped(new char[0]);
  EXPECT_NE(none, nullptr);
  EXPECT_NE(none, other);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base + 2);
  delete[] none;
  delete[] other;

  auto* quiet = Escaped(new (std::nothrow) Widget);
  ASSERT_NE(quiet, nullptr);
  delete quiet;
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
}

TEST(TrackedNewTest, OveralignedObjectsBypassIt) {
  const std::int64_t base = CL_CurrentMemoryUsed();
  auto* one = new Overaligned;
  auto* many = new Overaligned[3];
  auto* quiet = new (std::nothrow) Overaligned;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(one) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(many) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(quiet) % 64, 0u);
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
  delete one;
  delete[] many;
  delete quiet;
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
}

TEST(TrackedNewTest, TheOriginOfABlockShowsInTheReport) {
  std::ostringstream out;
  Widget* widget = nullptr;
  int line = 0;
  {
    CL_MemoryLeakChecker checker(out);
    line = __LINE__ + 1;
    widget = new (__FILE__, __LINE__) Widget;
  }
  EXPECT_THAT(out.str(),
              testing::EndsWith(" Size: " + std::to_string(sizeof(Widget)) + " bytes line " +
                                std::to_string(line) + " File: " + __FILE__ + "\n"));
  EXPECT_EQ(widget->parts[4], 5);
  delete widget;  // dropped by the report, still released cleanly
  auto* array = new (__FILE__, __LINE__) Widget[2];
  delete[] array;
  EXPECT_TRUE(CL_HeapListIntact());
}

TEST(TrackedNewTest, LibraryAndStandardContainersStayConsistent) {
  const std::int64_t base = CL_CurrentMemoryUsed();
  {
    std::vector<std::unique_ptr<CL_String>> strings;
    std::map<int, std::string> names;
    for (int i = 0; i < 1000; ++i) {
      strings.push_back(std::make_unique<CL_String>(CL_Long{i}, short{8}, '0'));
      names[i] = std::string(static_cast<std::size_t>(i % 50), 'n');
      if (i % 3 == 0) strings[static_cast<std::size_t>(i / 2)]->Insert("more text", -1);
    }
    EXPECT_TRUE(CL_HeapListIntact());
    EXPECT_GT(CL_CurrentMemoryUsed(), base);
  }
  EXPECT_EQ(CL_CurrentMemoryUsed(), base);
  EXPECT_TRUE(CL_HeapListIntact());
}

bool Refuse(const char*) {
  return false;
}

TEST(TrackedNewDeathTest, ExhaustedMemoryWithAReturningFatalHandlerAborts) {
  // operator new must never answer null, so a fatal handler that returns cannot save it.
  EXPECT_DEATH(
      {
        CL_Error::SetFatalHandler(&Refuse);
        volatile std::size_t huge = SIZE_MAX / 2;
        void* block = ::operator new(huge);
        ::operator delete(block);
      },
      "");
}

}  // namespace
